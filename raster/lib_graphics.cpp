// lib_graphics.cpp - the commands of the "graphics" library: colour words,
// mixing, display colours, 2x2 matrices and boxes, image probes, the draw
// style and the draw-tag templates; the library's open and shut-down steps.
// Each command reads its arguments, calls the raster engine and pushes the
// results.
//
// Depends on: raster/lvdrawtags.h, raster/lvdrawstate.h, raster/lvgraphics.h,
// raster/lvgradient_args.h, raster/lvneighbours.h, runtime/cmdsupport.h.
// Limits: script thread only.
#include "raster/lvgraphics.h"

#include <cmath>
#include <cstring>

#include "raster/lvblit.h"
#include "raster/lvcollision.h"
#include "raster/lvdrawstate.h"
#include "raster/lvdrawtags.h"
#include "raster/lvgradient_args.h"
#include "raster/lvneighbours.h"
#include "raster/lvscale.h"
#include "runtime/cmdsupport.h"
#include "runtime/errors.h"
#include "runtime/lists.h"
#include "base/lverrors.h"
#include "runtime/random.h"

// ---- Helpers ----------------------------------------------------------------

namespace {

int64_t IntArg(lvState *L, int index) { return NumberToInt64(CheckNumberArg(L, index)); }

void PushColour(lvState *L, uint32_t colour) { PushNumber(L, colour); }

// A matrix table: keys "sx", "rx", "ry", "sy"; a missing key counts as 0.
lvMatrix2D MatrixArg(lvState *L, int index) {
    CheckTableArg(L, index);
    lvMatrix2D m{0, 0, 0, 0};
    GetFieldNumber(L, index, "sx", &m.sx);
    GetFieldNumber(L, index, "rx", &m.rx);
    GetFieldNumber(L, index, "ry", &m.ry);
    GetFieldNumber(L, index, "sy", &m.sy);
    return m;
}

}  // namespace

// ---- Engine -----------------------------------------------------------------

uint32_t MixColors(int ratio, uint32_t c2, uint32_t c1) {
    return LerpRgbChannels(c1, c2, ratio);
}

uint32_t LerpRgbChannels(uint32_t c1, uint32_t c2, int ratio) {
    uint32_t out = 0;
    for (int shift = 0; shift <= 16; shift += 8) {
        int a = (c1 >> shift) & 0xFF, b = (c2 >> shift) & 0xFF;
        out |= static_cast<uint32_t>((a + (((b - a) * ratio) >> 8)) & 0xFF) << shift;
    }
    return out;
}

uint32_t GetRealColor(uint32_t colour) {
    int depth = GetBitmapBufferDepth();
    uint32_t r = (colour >> 16) & 0xFF, g = (colour >> 8) & 0xFF, b = colour & 0xFF;
    if (depth == 15) return (r & 0xF8) << 16 | (g & 0xF8) << 8 | (b & 0xF8);
    if (depth == 16) return (r & 0xF8) << 16 | (g & 0xFC) << 8 | (b & 0xF8);
    return colour;
}

static const uint16_t RandomColorTable[246] = {
    0xCCC, 0x000, 0xFFF, 0x888, 0xA20, 0xD50, 0xEB0, 0x080, 0x6B0, 0x170, 0x5BC, 0x367, 0x07B, 0x048, 0xE88, 0xB55,
    0xE72, 0xC64, 0x820, 0xFB7, 0x90F, 0x60C, 0xB70, 0x950, 0xFA5, 0xD84, 0x9B9, 0x686, 0x4A7, 0x175, 0x333, 0xEEE,
    0x666, 0x000, 0x777, 0x240, 0x620, 0x510, 0x750, 0x540, 0x350, 0x030, 0x256, 0x133, 0x035, 0x024, 0x744, 0x522,
    0x731, 0x632, 0x410, 0x753, 0x407, 0x306, 0x530, 0x420, 0x752, 0x642, 0x454, 0x343, 0x253, 0x032, 0x111, 0x777,
    0xFF0, 0xEE0, 0xDD0, 0xCC0, 0xBB0, 0xAA0, 0x990, 0x880, 0x770, 0x660, 0x550, 0x440, 0x330, 0x220, 0x110, 0xF00,
    0xE00, 0xD00, 0xC00, 0xB00, 0xA00, 0x900, 0x800, 0x700, 0x600, 0x500, 0x400, 0x300, 0x200, 0x0F0, 0x0E0, 0x0D0,
    0x0C0, 0x0B0, 0x0A0, 0x090, 0x080, 0x070, 0x060, 0x050, 0x040, 0x030, 0x020, 0x010, 0x00F, 0x00E, 0x00D, 0x00C,
    0x00B, 0x00A, 0x009, 0x008, 0x007, 0x006, 0x005, 0x004, 0x003, 0x002, 0x0FF, 0x0EE, 0x0DD, 0x0CC, 0x0BB, 0x0AA,
    0x099, 0x088, 0x077, 0x066, 0x055, 0x044, 0x033, 0x022, 0x011, 0xF0F, 0xE0E, 0xD0D, 0xC0C, 0xB0B, 0xA0A, 0x909,
    0x808, 0x707, 0x606, 0x505, 0x404, 0x303, 0x202, 0x101, 0xFFF, 0xFFE, 0xFFD, 0xFFC, 0xFFB, 0xFFA, 0xFF9, 0xFF8,
    0xFF7, 0xFF6, 0xFF5, 0xFF4, 0xFF3, 0xFF2, 0xFF1, 0xFF0, 0xFFF, 0xEEE, 0xDDD, 0xCCC, 0xBBB, 0xAAA, 0x999, 0x888,
    0x777, 0x666, 0x555, 0x444, 0x333, 0x222, 0x111, 0xF77, 0xF87, 0xFA7, 0xFB7, 0xFC7, 0xFD7, 0xFF7, 0xEF7, 0xDF7,
    0xBF7, 0xAF7, 0x9F7, 0x8F7, 0x7F8, 0x7F9, 0x7FA, 0x7FC, 0x7FD, 0x7FE, 0x7EF, 0x7DF, 0x7CF, 0x7BF, 0x79F, 0x78F,
    0x77F, 0x97F, 0xA7F, 0xB7F, 0xC7F, 0xE7F, 0xF7F, 0xF00, 0xF20, 0xF50, 0xF70, 0xFA0, 0xFC0, 0xFE0, 0xDF0, 0xBF0,
    0x8F0, 0x6F0, 0x3F0, 0x1F0, 0x0F1, 0x0F4, 0x0F6, 0x0F9, 0x0FB, 0x0FD, 0x0EF, 0x0BF, 0x09F, 0x07F, 0x04F, 0x02F,
    0x00F, 0x30F, 0x50F, 0x80F, 0xA0F, 0xC0F,
};

uint32_t RandomColorAt(double r) {
    int i = static_cast<int>(r * 246);
    if (i < 0) i = 0;
    if (i > 245) i = 245;
    uint32_t c = RandomColorTable[i];
    return ((c >> 8) & 0xF) * 17 << 16 | ((c >> 4) & 0xF) * 17 << 8 | (c & 0xF) * 17;
}

int IntersectBoxes(int x1, int y1, int w1, int h1, int x2, int y2, int w2, int h2, int out[4]) {
    out[0] = out[1] = out[2] = out[3] = 0;
    // In 64 bits: boxes reaching past the integer limit still meet where they overlap.
    const int64_t X1 = x1, Y1 = y1, X2 = x2, Y2 = y2;
    if (!(Y1 + h1 - 1 >= Y2 && Y2 + h2 - 1 >= Y1 && X1 + w1 - 1 >= X2 && X2 + w2 - 1 >= X1)) return 0;
    int64_t lx = std::max(X1, X2), ly = std::max(Y1, Y2);
    int64_t hx = std::min(X1 + w1, X2 + w2), hy = std::min(Y1 + h1, Y2 + h2);
    out[0] = static_cast<int>(lx);
    out[1] = static_cast<int>(ly);
    out[2] = static_cast<int>(std::min<int64_t>(hx - lx, INT32_MAX));
    out[3] = static_cast<int>(std::min<int64_t>(hy - ly, INT32_MAX));
    return 1;
}

void TransformBoxCorners(double x, double y, double w, double h, const lvMatrix2D *m, int anchored, double ax,
                         double ay, double out[4]) {
    double bx = anchored ? 0 : x, by = anchored ? 0 : y;
    double px = anchored ? w * ax : 0, py = anchored ? h * ay : 0;
    const double cx[4] = {bx, bx + w, bx + w, bx}, cy[4] = {by, by, by + h, by + h};
    double lx = 1e300, ly = 1e300, hx = -1e300, hy = -1e300;
    for (int k = 0; k < 4; k++) {
        double dx = cx[k] - px, dy = cy[k] - py;
        double X = px + m->sx * dx + m->ry * dy, Y = py + m->rx * dx + m->sy * dy;
        lx = std::min(lx, X);
        hx = std::max(hx, X);
        ly = std::min(ly, Y);
        hy = std::max(hy, Y);
    }
    out[0] = lx + (anchored ? x : 0);
    out[1] = ly + (anchored ? y : 0);
    out[2] = hx - lx + 1;
    out[3] = hy - ly + 1;
}

int RealizePreloadedImages(lvState *L) {
    const lvImagingServices &im = NeighbourServices.imaging;
    const lvLayerServices &ls = NeighbourServices.layers;
    int rc = im.RealizeBrushImages(im.context, L);
    if (!rc) rc = im.RealizeBGPicImages(im.context, L);
    if (!rc) rc = ls.RealizeAnimFrames(ls.context, L);
    if (!rc) rc = ls.RealizeSpriteFrames(ls.context, L);
    return rc;
}

// ---- Commands ---------------------------------------------------------------

static int CmdRed(lvState *L) {
    CheckArgCount(L, 1, 1, 0, 0);
    PushNumber(L, (CheckUnsignedArg(L, 1) >> 16) & 255);
    return 1;
}

static int CmdGreen(lvState *L) {
    CheckArgCount(L, 1, 1, 0, 0);
    PushNumber(L, (CheckUnsignedArg(L, 1) >> 8) & 255);
    return 1;
}

static int CmdBlue(lvState *L) {
    CheckArgCount(L, 1, 1, 0, 0);
    PushNumber(L, CheckUnsignedArg(L, 1) & 255);
    return 1;
}

static int CmdRGB(lvState *L) {
    CheckArgCount(L, 3, 3, 0, 0);
    int64_t r = IntArg(L, 1), g = IntArg(L, 2), b = IntArg(L, 3);
    PushNumber(L, static_cast<double>(r * 65536 | g * 256 | b));
    return 1;
}

static int CmdARGB(lvState *L) {
    CheckArgCount(L, 2, 2, 0, 0);
    int64_t a = IntArg(L, 1);
    PushNumber(L, static_cast<double>(static_cast<int64_t>(CheckUnsignedArg(L, 2)) | a * 16777216));
    return 1;
}

static int CmdIsPicture(lvState *L) {
    CheckArgCount(L, 1, 2, 0, 0);
    int linked = 0;
    const char *file = GetLinkedFileArg(L, 1, 0, &linked);
    char loader[256] = "", adapter[256] = "";
    lvUserTag *tags = nullptr;
    if (GetStackTop(L) >= 2) {
        CheckTableArg(L, 2);
        GetFieldStringBuf(L, 2, "loader", loader, sizeof loader);
        GetFieldStringBuf(L, 2, "adapter", adapter, sizeof adapter);
        if (int rc = ReadUserTags(L, 2, "usertags", nullptr, &tags)) return rc;
    }
    lvImageProbe probe{0, IMGFMT_UNKNOWN, 0, 0, 0, 0, 0};
    const lvFileFormatServices &f = NeighbourServices.files;
    int found = f.ProbeImageFile(f.context, L, file, loader[0] ? loader : nullptr, adapter[0] ? adapter : nullptr,
                                 tags, &probe) != 0;
    FreeUserTags(tags, 1);
    if (!found) probe.format = IMGFMT_UNKNOWN;
    PushNumber(L, found);
    PushNewTable(L);
    SetFieldInt(L, "format", probe.format);
    SetFieldInt(L, "width", probe.width);
    SetFieldInt(L, "height", probe.height);
    SetFieldInt(L, "depth", probe.depth);
    SetFieldInt(L, "alpha", probe.alpha);
    SetFieldInt(L, "vector", probe.imageType == 1);
    SetFieldInt(L, "transparency", probe.transparency);
    return 2;
}

static int CmdGetRealColor(lvState *L) {
    CheckArgCount(L, 1, 1, 0, 0);
    PushColour(L, GetRealColor(CheckUnsignedArg(L, 1)));
    return 1;
}

static int CmdMixRGB(lvState *L) {
    CheckArgCount(L, 3, 3, 0, 0);
    uint32_t c1 = CheckUnsignedArg(L, 1), c2 = CheckUnsignedArg(L, 2);
    int64_t ratio = NumberToInt64(GetNumberOrPercentArg(L, 3, 255, 0, nullptr));
    if (static_cast<uint64_t>(ratio) > 255) return ERR_WRONGUSAGE;
    PushColour(L, MixColors(static_cast<int>(ratio), c2, c1));
    return 1;
}

static int CmdGetRandomColor(lvState *L) {
    CheckArgCount(L, 0, 0, 0, 0);
    PushColour(L, RandomColorAt(NextRandomDouble()));
    return 1;
}

static int CmdSetDrawTagsDefault(lvState *L) {
    CheckArgCount(L, 1, 1, 0, 0);
    CheckTableArg(L, 1);
    lvDrawTags tags = DrawingState.drawTagsTemplate;
    lvStyleTags style = DrawingState.styleTagsTemplate;
    if (int rc = ParseDrawTags(L, 1, 0, 0, 0, 0, 0, &tags, &style, DRAWTAGS_NOSIZE)) return rc;
    style.name[0] = 0;
    DrawingState.drawTagsTemplate = tags;
    DrawingState.styleTagsTemplate = style;
    return 0;
}

static int CmdIntersection(lvState *L) {
    CheckArgCount(L, 8, 8, 0, 0);
    int v[8];
    for (int i = 0; i < 8; i++) v[i] = static_cast<int>(IntArg(L, i + 1));
    int out[4];
    IntersectBoxes(v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7], out);
    for (int o : out) PushNumber(L, o);
    return 4;
}

// A layer argument: a position, or the name of a layer of the current picture.
static int LayerArg(lvState *L, int index, int *position) {
    int type = GetValueType(L, index);
    if (type == LV_TNUMBER) {
        *position = static_cast<int>(IntArg(L, index));
        return 0;
    }
    if (type != LV_TSTRING) return ERR_STRORNUM;
    lvLayerServices &ls = NeighbourServices.layers;
    *position = ls.FindLayerByName(ls.context, ValueToString(L, index));
    return *position < 0 ? ERR_FINDLAYER : 0;
}

// A brush side from a numbered brush or a Nil-made one's handle.
static int BrushArgSide(lvState *L, int index, int x, int y, lvCollisionSide *side) {
    lvObjectId id = GetObjectIdArg(L, index);
    return id.handle ? BrushSideByHandle(L, id.handle, x, y, side) : BrushSide(L, id.number, x, y, side);
}

static int CmdCollision(lvState *L) {
    CheckArgCount(L, 3, 9, 0, 0);
    int type = static_cast<int>(IntArg(L, 1));
    auto i = [&](int index) { return static_cast<int>(IntArg(L, index)); };
    lvCollisionSide a{}, b{};
    lvLayerServices &ls = NeighbourServices.layers;
    switch (type) {
    case COLLIDE_BOX: {
        int out[4];
        PushNumber(L, IntersectBoxes(i(2), i(3), i(4), i(5), i(6), i(7), i(8), i(9), out));
        return 1;
    }
    case COLLIDE_BRUSH:
        if (int rc = BrushArgSide(L, 2, i(3), i(4), &a)) return rc;
        if (int rc = BrushArgSide(L, 5, i(6), i(7), &b)) return rc;
        break;
    case COLLIDE_BRUSH_VS_BOX:
        if (int rc = BrushArgSide(L, 2, i(3), i(4), &a)) return rc;
        b = BoxSide(i(5), i(6), i(7), i(8));
        break;
    case COLLIDE_LAYER:
    case COLLIDE_LAYER_VS_BOX: {
        lvBlitDisplay *display = RasterState.currentDisplay;
        if (!display || !display->layers) return ERR_NOLAYERS;
        int p1 = 0, p2 = 0;
        if (int rc = LayerArg(L, 2, &p1)) return rc;
        if (int rc = LayerSide(L, p1, &a)) return rc;
        if (type == COLLIDE_LAYER) {
            if (int rc = LayerArg(L, 3, &p2)) return rc;
            if (int rc = LayerSide(L, p2, &b)) return rc;
        } else {
            b = ScaledBoxSide(display, i(3), i(4), i(5), i(6));
        }
        break;
    }
    case COLLIDE_SPRITE:
    case COLLIDE_SPRITE_VS_BOX:
    case COLLIDE_SPRITE_VS_BRUSH:
        a = BoxSide(0, 0, 0, 0);
        if (int rc = ls.GetSpriteCollisionSide(ls.context, L, IntArg(L, 2), &a)) return rc;
        if (type == COLLIDE_SPRITE) {
            b = BoxSide(0, 0, 0, 0);
            if (int rc = ls.GetSpriteCollisionSide(ls.context, L, IntArg(L, 3), &b)) return rc;
        } else if (type == COLLIDE_SPRITE_VS_BOX) {
            b = BoxSide(i(3), i(4), i(5), i(6));
        } else if (int rc = BrushArgSide(L, 3, i(4), i(5), &b)) {
            return rc;
        }
        break;
    default: return ERR_WRONGUSAGE;
    }
    PushNumber(L, TestPixelCollision(&a, &b));
    return 1;
}

static int CmdTransformPoint(lvState *L) {
    CheckArgCount(L, 3, 3, 0, 0);
    double x = CheckNumberArg(L, 1), y = CheckNumberArg(L, 2);
    lvMatrix2D m = MatrixArg(L, 3);
    PushNumber(L, m.sx * x + m.ry * y);
    PushNumber(L, m.rx * x + m.sy * y);
    return 2;
}

static int CmdTransformBox(lvState *L) {
    CheckArgCount(L, 5, 8, 0, 0);
    double x = CheckNumberArg(L, 1), y = CheckNumberArg(L, 2), w = CheckNumberArg(L, 3), h = CheckNumberArg(L, 4);
    lvMatrix2D m = MatrixArg(L, 5);
    int anchored = static_cast<int>(NumberToInt64(GetOptionalNumberArg(L, 6, 1)));
    double ax = GetOptionalNumberArg(L, 7, 0), ay = GetOptionalNumberArg(L, 8, 0);
    double out[4];
    TransformBoxCorners(x, y, w, h, &m, anchored, ax, ay, out);
    for (double o : out) PushNumber(L, o);
    return 4;
}

static int CmdMatrix2D(lvState *L) {
    CheckArgCount(L, 3, 3, 0, 0);
    lvMatrix2D m;
    BuildRotationMatrix(CheckNumberArg(L, 1), CheckNumberArg(L, 2), CheckNumberArg(L, 3), &m);
    PushNewTable(L);
    SetFieldNumber(L, "sx", m.sx);
    SetFieldNumber(L, "rx", m.rx);
    SetFieldNumber(L, "ry", m.ry);
    SetFieldNumber(L, "sy", m.sy);
    return 1;
}

static int CmdSetFillStyle(lvState *L) {
    CheckArgCount(L, 1, 6, 0, 0);
    lvDrawStyle &s = DrawingState.drawStyle;
    int style = static_cast<int>(IntArg(L, 1));
    s.fillStyle = style;
    switch (style) {
    case FILLNONE: s.lineWidth = static_cast<int>(NumberToInt64(GetOptionalNumberArg(L, 2, 1))); break;
    case FILLCOLOR: break;
    case FILLGRADIENT: {
        s.gradient.style = static_cast<int>(IntArg(L, 2));
        s.gradient.startColour = CheckUnsignedArg(L, 3);
        s.gradient.endColour = CheckUnsignedArg(L, 4);
        if (int rc = ParseGradientArgs(L, 5, &s.gradient)) return rc;
        break;
    }
    case FILLTEXTURE: {
        lvObjectId id = GetObjectIdArg(L, 2);
        s.textureBrush = id.handle ? static_cast<int64_t>(reinterpret_cast<intptr_t>(id.handle)) : id.number;
        s.textureX = static_cast<int>(NumberToInt64(GetOptionalNumberArg(L, 3, 0)));
        s.textureY = static_cast<int>(NumberToInt64(GetOptionalNumberArg(L, 4, 0)));
        break;
    }
    default: return ERR_WRONGUSAGE;
    }
    ClampDrawStyle();
    return 0;
}

static int CmdSetFormStyle(lvState *L) {
    CheckArgCount(L, 1, 4, 0, 0);
    lvDrawStyle &s = DrawingState.drawStyle;
    int flags = static_cast<int>(IntArg(L, 1));
    int count = GetStackTop(L);
    if (flags & FORM_NORMAL) {
        s.formStyle = FORM_NORMAL;
        ClampDrawStyle();
        return 0;
    }
    if (count == 2 && GetValueType(L, 2) == LV_TTABLE) {
        double v;
        if (flags & FORM_SHADOW) {
            if (GetFieldNumber(L, 2, "shadowcolor", &v)) s.shadowColour = static_cast<uint32_t>(NumberToInt64(v));
            GetFieldInt(L, 2, "shadowsize", &s.shadowSize);
            GetFieldInt(L, 2, "shadowdir", &s.shadowDirection);
        }
        if (flags & FORM_BORDER) {
            if (GetFieldNumber(L, 2, "bordercolor", &v)) s.borderColour = static_cast<uint32_t>(NumberToInt64(v));
            GetFieldInt(L, 2, "bordersize", &s.borderSize);
        }
    } else if (flags == FORM_SHADOW) {
        if (count >= 2) s.shadowColour = CheckUnsignedArg(L, 2);
        if (count >= 3) s.shadowSize = static_cast<int>(IntArg(L, 3));
        if (count >= 4) s.shadowDirection = static_cast<int>(IntArg(L, 4));
    } else if (flags == FORM_BORDER) {
        if (count >= 4) return ERR_TOOMANYARGS;
        if (count >= 2) s.borderColour = CheckUnsignedArg(L, 2);
        if (count >= 3) s.borderSize = static_cast<int>(IntArg(L, 3));
    } else if (count > 1) {
        return ERR_TOOMANYARGS;
    }
    s.formStyle = (s.formStyle & ~FORM_NORMAL) | flags;
    ClampDrawStyle();
    return 0;
}

static int CmdSetLineWidth(lvState *L) {
    CheckArgCount(L, 1, 1, 0, 0);
    int64_t w = IntArg(L, 1);
    if (w <= 0) return ERR_WRONGUSAGE;
    DrawingState.drawStyle.lineWidth = w > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(w);
    ClampDrawStyle();
    return 0;
}

static int CmdGetFillStyle(lvState *L) {
    CheckArgCount(L, 0, 0, 0, 0);
    const lvDrawStyle &s = DrawingState.drawStyle;
    PushNumber(L, s.fillStyle);
    switch (s.fillStyle) {
    case FILLCOLOR: return 1;
    case FILLNONE:
        PushNewTable(L);
        SetFieldInt(L, "thickness", s.lineWidth);
        return 2;
    case FILLGRADIENT:
        PushNewTable(L);
        SetFieldInt(L, "type", s.gradient.style);
        PushGradientFields(L, "", &s.gradient);
        return 2;
    default:
        PushNewTable(L);
        SetFieldNumber(L, "brush", static_cast<double>(s.textureBrush));
        SetFieldInt(L, "x", s.textureX);
        SetFieldInt(L, "y", s.textureY);
        return 2;
    }
}

static int CmdGetFormStyle(lvState *L) {
    CheckArgCount(L, 0, 0, 0, 0);
    const lvDrawStyle &s = DrawingState.drawStyle;
    PushNumber(L, s.formStyle);
    if (!(s.formStyle & (FORM_SHADOW | FORM_BORDER))) return 1;
    PushNewTable(L);
    if (s.formStyle & FORM_SHADOW) {
        SetFieldUInt(L, "shadowcolor", s.shadowColour);
        SetFieldInt(L, "shadowsize", s.shadowSize);
        SetFieldInt(L, "shadowdir", s.shadowDirection);
    }
    if (s.formStyle & FORM_BORDER) {
        SetFieldInt(L, "bordersize", s.borderSize);
        SetFieldUInt(L, "bordercolor", s.borderColour);
    }
    return 2;
}

static int CmdGetLineWidth(lvState *L) {
    CheckArgCount(L, 0, 0, 0, 0);
    PushNumber(L, DrawingState.drawStyle.lineWidth);
    return 1;
}

static const lvCommandEntry GraphicsCommands[] = {
    {"Red", CmdRed},
    {"Green", CmdGreen},
    {"Blue", CmdBlue},
    {"RGB", CmdRGB},
    {"ARGB", CmdARGB},
    {"IsPicture", CmdIsPicture},
    {"GetRealColor", CmdGetRealColor},
    {"MixRGB", CmdMixRGB},
    {"GetRandomColor", CmdGetRandomColor},
    {"SetDrawTagsDefault", CmdSetDrawTagsDefault},
    {"Intersection", CmdIntersection},
    {"TransformPoint", CmdTransformPoint},
    {"TransformBox", CmdTransformBox},
    {"Matrix2D", CmdMatrix2D},
    {"SetFillStyle", CmdSetFillStyle},
    {"SetFormStyle", CmdSetFormStyle},
    {"SetLineWidth", CmdSetLineWidth},
    {"GetFillStyle", CmdGetFillStyle},
    {"GetFormStyle", CmdGetFormStyle},
    {"GetLineWidth", CmdGetLineWidth},
    {"Collision", CmdCollision},
    {nullptr, nullptr},
};

const lvCommandEntry *GetGraphicsCommands() { return GraphicsCommands; }

static const lvConstantEntry GraphicsConstants[] = {
    {"BLACK", nullptr, 0}, {"MAROON", nullptr, 0x800000}, {"GREEN", nullptr, 0x008000},
    {"OLIVE", nullptr, 0x808000}, {"NAVY", nullptr, 0x000080}, {"PURPLE", nullptr, 0x800080},
    {"TEAL", nullptr, 0x008080}, {"GRAY", nullptr, 0x808080}, {"SILVER", nullptr, 0xC0C0C0},
    {"RED", nullptr, 0xFF0000}, {"LIME", nullptr, 0x00FF00}, {"YELLOW", nullptr, 0xFFFF00},
    {"BLUE", nullptr, 0x0000FF}, {"FUCHSIA", nullptr, 0xFF00FF}, {"AQUA", nullptr, 0x00FFFF},
    {"WHITE", nullptr, 0xFFFFFF},
    {"CENTER", nullptr, -100000}, {"LEFT", nullptr, -90000}, {"RIGHT", nullptr, -80000},
    {"TOP", nullptr, -70000}, {"BOTTOM", nullptr, -60000}, {"LEFTOUT", nullptr, -50000},
    {"RIGHTOUT", nullptr, -40000}, {"TOPOUT", nullptr, -30000}, {"BOTTOMOUT", nullptr, -20000},
    {"NOTRANSPARENCY", nullptr, 4294967295.0}, {"USELAYERPOSITION", nullptr, 100000}, {"KEEPASPRAT", nullptr, 100000},
    {"BRUSH_VS_BOX", nullptr, 46}, {"LAYER_VS_BOX", nullptr, 47}, {"SPRITE_VS_BOX", nullptr, 48},
    {"SPRITE_VS_BRUSH", nullptr, 58},
    {"IMAGETYPE_RASTER", nullptr, 0}, {"IMAGETYPE_VECTOR", nullptr, 1},
    {"FILLNONE", nullptr, 0}, {"FILLCOLOR", nullptr, 1}, {"FILLGRADIENT", nullptr, 2}, {"FILLTEXTURE", nullptr, 3},
    {"NORMAL", nullptr, 1}, {"BOLD", nullptr, 2}, {"ITALIC", nullptr, 4}, {"UNDERLINED", nullptr, 8},
    {"ANTIALIAS", nullptr, 16}, {"SHADOW", nullptr, 32}, {"BORDER", nullptr, 64}, {"EDGE", nullptr, 64},
    {"LINEAR", nullptr, 2}, {"RADIAL", nullptr, 3}, {"CONICAL", nullptr, 4},
    {"SHDWNORTH", nullptr, 0}, {"SHDWNORTHEAST", nullptr, 1}, {"SHDWEAST", nullptr, 2},
    {"SHDWSOUTHEAST", nullptr, 3}, {"SHDWSOUTH", nullptr, 4}, {"SHDWSOUTHWEST", nullptr, 5},
    {"SHDWWEST", nullptr, 6}, {"SHDWNORTHWEST", nullptr, 7},
    {"NOCOLOR", nullptr, 4294967295.0}, {"NATIVE", nullptr, -110000}, {"JUSTIFIED", nullptr, -110001},
    {"IMGFMT_BMP", nullptr, 0}, {"IMGFMT_PNG", nullptr, 1}, {"IMGFMT_JPEG", nullptr, 2}, {"IMGFMT_GIF", nullptr, 3},
    {"IMGFMT_ILBM", nullptr, 4}, {"IMGFMT_TIFF", nullptr, 5}, {"IMGFMT_NATIVE", nullptr, 6},
    {"IMGFMT_PLUGIN", nullptr, 7}, {"IMGFMT_UNKNOWN", nullptr, 8},
    {nullptr, nullptr, 0},
};

const lvConstantEntry *GetGraphicsConstants() { return GraphicsConstants; }

int OpenGraphicsLibrary(lvState *L) {
    if (int rc = RegisterCommandTable(L, GraphicsCommands, "graphics")) return rc;
    if (int rc = InitDrawingState()) return rc;
    return CreateBitmapTargetDisplay();
}

void CloseGraphicsLibrary(lvState *, int) { ReleaseDrawingResources(); }

// vectorengine.cpp - the built-in vector engine: a path's command buffer read
// into a FreeType outline (filled, or stroked by FreeType's stroker), measured,
// moved and rasterised into 8-bit coverage planes.
//
// Depends on: text/lvvectorpath.h, images/lvvectorshape.h (the outline builder,
// arcs and rounded boxes), text/lvpathtext.h (glyph outlines), FreeType.
// Limits: script thread only; the FreeType library is not locked.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <vector>

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H
#include FT_STROKER_H
#include FT_BITMAP_H
#include FT_BBOX_H

#include "base/lverrors.h"
#include "images/lvvectorshape.h"
#include "text/lvtextlib.h"
#include "text/lvvectorpath.h"

namespace {

// Buffers handed to the slots end with their 0 code; the runtime makes them all.
constexpr size_t kUnbounded = (size_t)1 << 40;

struct BuilderHolder {
    lvOutlineBuilder *b = NewOutlineBuilder();
    ~BuilderHolder() { FreeOutlineBuilder(b); }
};

// Text sink: glyph contours become closed contours of the builder.
void SinkMove(void *c, double x, double y) { OutlineBeginSubPath((lvOutlineBuilder *)c, x, y); }
void SinkLine(void *c, double x, double y) { OutlineLineTo((lvOutlineBuilder *)c, x, y); }
void SinkConic(void *c, double cx, double cy, double x, double y) { OutlineConicTo((lvOutlineBuilder *)c, cx, cy, x, y); }
void SinkCubic(void *c, double ax, double ay, double bx, double by, double x, double y)
{
    OutlineCubicTo((lvOutlineBuilder *)c, ax, ay, bx, by, x, y);
}
void SinkClose(void *c) { OutlineEndContour((lvOutlineBuilder *)c); }

uint32_t CodeAt(const uint8_t *buffer, size_t used, size_t offset)
{
    if (offset + 4 > used) return PATHCMD_END;
    uint32_t v;
    std::memcpy(&v, buffer + offset, 4);
    return v;
}

void Add(uint8_t *p, double d)
{
    double v;
    std::memcpy(&v, p, 8);
    v += d;
    std::memcpy(p, &v, 8);
}

// Build 0: the offsets go into every absolute coordinate.
void TranslateBuffer(uint8_t *buffer, size_t used, double x0, double y0)
{
    size_t at = 0;
    lvPathItem it;
    while (true) {
        size_t start = at;
        if (!ReadPathItem(buffer, used, &at, &it)) return;
        uint8_t *a = buffer + start + 4;
        switch (it.code) {
        case PATHCMD_MOVETO:
        case PATHCMD_LINETO:
            if (!it.rel) Add(a + 4, x0), Add(a + 12, y0);
            break;
        case PATHCMD_CURVETO:
            if (!it.rel)
                for (int i = 0; i < 3; i++) Add(a + 4 + 16 * i, x0), Add(a + 12 + 16 * i, y0);
            break;
        case PATHCMD_ARC:
        case PATHCMD_BOX: Add(a, x0), Add(a + 8, y0); break;
        default: break;
        }
    }
}

int StrokeOutline(FT_Library lib, const lvVectorStyle *style, int lineWidth, int opened, FT_Outline *outline)
{
    FT_Stroker stroker;
    if (FT_Stroker_New(lib, &stroker)) return ERR_MEM;
    FT_Stroker_LineCap cap = style->cap == CAPROUND    ? FT_STROKER_LINECAP_ROUND
                             : style->cap == CAPSQUARE ? FT_STROKER_LINECAP_SQUARE
                                                       : FT_STROKER_LINECAP_BUTT;
    FT_Stroker_LineJoin join = style->join == JOINROUND   ? FT_STROKER_LINEJOIN_ROUND
                               : style->join == JOINBEVEL ? FT_STROKER_LINEJOIN_BEVEL
                                                          : FT_STROKER_LINEJOIN_MITER_FIXED;
    double miter = std::clamp(style->miterLimit, 1.0, 32767.0);
    FT_Stroker_Set(stroker, (FT_Fixed)std::max(0, lineWidth) * 32, cap, join, (FT_Fixed)(miter * 65536));
    FT_UInt np = 0, nc = 0;
    bool ok = FT_Stroker_ParseOutline(stroker, outline, opened) == 0 && FT_Stroker_GetCounts(stroker, &np, &nc) == 0 &&
              np > 0 && np <= 32767 && nc <= 32767;
    FT_Outline_Done(lib, outline);
    if (!ok || FT_Outline_New(lib, np, (FT_Int)nc, outline)) {
        FT_Stroker_Done(stroker);
        std::memset(outline, 0, sizeof *outline);
        return ERR_DRAWPATH;
    }
    outline->n_points = 0, outline->n_contours = 0;
    FT_Stroker_Export(stroker, outline);
    FT_Stroker_Done(stroker);
    return 0;
}

int BuildOutline(const uint8_t *buffer, size_t used, const lvVectorStyle *style, int lineWidth, double x0, double y0,
                 int filled, double *currentX, double *currentY, FT_Outline *outline)
{
    BuilderHolder h;
    if (!h.b) return ERR_MEM;
    lvOutlineBuilder *b = h.b;
    double cx = 0, cy = 0, sx = 0, sy = 0;
    bool open = false;
    size_t at = 0;
    lvPathItem it;
    lvTextLibrary *text = GetTextLibrary();
    while (ReadPathItem(buffer, used, &at, &it)) {
        uint32_t next = CodeAt(buffer, used, at);
        double ox = it.rel ? cx : x0, oy = it.rel ? cy : y0;
        switch (it.code) {
        case PATHCMD_MOVETO: {
            double x = it.v[0] + ox, y = it.v[1] + oy;
            if (open) OutlineEndContour(b), open = false;
            if (next != PATHCMD_END && next != PATHCMD_MOVETO && next != PATHCMD_TEXT) {
                OutlineBeginSubPath(b, x, y);
                open = true;
            }
            cx = sx = x, cy = sy = y;
            break;
        }
        case PATHCMD_LINETO: {
            double x = it.v[0] + ox, y = it.v[1] + oy;
            if (open) {
                OutlineLineTo(b, x, y);
            } else if (next == PATHCMD_LINETO || next == PATHCMD_CURVETO || next == PATHCMD_ARC ||
                       next == PATHCMD_BOX) {
                OutlineBeginSubPath(b, x, y);
                open = true;
                sx = cx, sy = cy;
            }
            cx = x, cy = y;
            break;
        }
        case PATHCMD_CURVETO: {
            double p[6];
            for (int i = 0; i < 3; i++) p[2 * i] = it.v[2 * i] + ox, p[2 * i + 1] = it.v[2 * i + 1] + oy;
            if (!open) {
                OutlineBeginSubPath(b, p[0], p[1]);
                open = true;
                sx = p[0], sy = p[1];
            }
            OutlineCubicTo(b, p[0], p[1], p[2], p[3], p[4], p[5]);
            cx = p[4], cy = p[5];
            break;
        }
        case PATHCMD_NEWSUBPATH: break;
        case PATHCMD_CLOSEPATH:
            if (open) OutlineEndContour(b), open = false;
            cx = sx, cy = sy;
            break;
        case PATHCMD_ARC: {
            double xc = it.v[0] + x0, yc = it.v[1] + y0;
            if (!open) {
                double a = it.v[4] * 0.017453292519943295;
                sx = xc + it.v[2] * std::cos(a), sy = yc + it.v[3] * std::sin(a);
            }
            AddEllipseArc(it.clockwise, b, xc, yc, it.v[2], it.v[3], it.v[4], it.v[5], 1, nullptr, open ? 0 : 1,
                          kPathArcPiece);
            open = true;
            OutlineCurrentPoint(b, &cx, &cy);
            break;
        }
        case PATHCMD_BOX: {
            double x1 = it.v[0] + x0, y1 = it.v[1] + y0;
            AddRoundedBox(std::clamp(it.corners[0], 0, 100), std::clamp(it.corners[1], 0, 100),
                          std::clamp(it.corners[2], 0, 100), std::clamp(it.corners[3], 0, 100), b, x1, y1,
                          x1 + it.v[2], y1 + it.v[3]);
            open = false;
            // The box begins at its top edge, right of corner a.
            double w = std::trunc(it.v[2]), hgt = std::trunc(it.v[3]);
            int a = std::clamp(it.corners[0], 0, 100);
            double ra = a > 0 && w > 0 && hgt > 0 ? a / 100.0 * std::min(w, hgt) * 0.5 : 0;
            cx = sx = x1 + ra, cy = sy = y1;
            break;
        }
        case PATHCMD_TEXT: {
            if (open) OutlineEndContour(b), open = false;
            FT_Face face = text ? (FT_Face)GetVectorFontOfHandle(&text->vectorFonts, it.font) : nullptr;
            if (face) {
                lvPathSink sink{b, SinkMove, SinkLine, SinkConic, SinkCubic, SinkClose};
                double x = cx, y = cy;
                AddPathTextOutlines(face, it.size, it.text, it.textLength, &x, &y, &sink);
                OutlineEndContour(b);
                cx = x;
            }
            break;
        }
        default: break;
        }
    }
    // At the end an open subpath stays open: the stroke gets caps, no closing segment.
    int opened = open ? 1 : 0;
    if (open) OutlineEndContour(b);
    *currentX = cx, *currentY = cy;
    if (OutlinePointCount(b) == 0) return ERR_DRAWPATH;
    if (OutlineBuilderToFt(b, outline)) return ERR_DRAWPATH;
    if (style && style->fillRule == FILLRULEEVENODD) outline->flags |= FT_OUTLINE_EVEN_ODD_FILL;
    if (filled) return 0;
    return StrokeOutline(GetFreeTypeLibrary(), style, lineWidth, opened, outline);
}

bool IsIdentity(const double *m) { return !m || (m[0] == 1 && m[1] == 0 && m[2] == 0 && m[3] == 1); }

void TransformBy(FT_Outline *o, const double *m)
{
    if (IsIdentity(m)) return;
    FT_Matrix f;
    f.xx = (FT_Fixed)(m[0] * 65536), f.xy = (FT_Fixed)(m[2] * 65536);
    f.yx = (FT_Fixed)(m[1] * 65536), f.yy = (FT_Fixed)(m[3] * 65536);
    FT_Outline_Transform(o, &f);
}

// ---- Slots ----------------------------------------------------------------------------------

void InbuiltGetPathExtents(lvPathExtentsRequest *r)
{
    FT_Outline o;
    double x, y;
    if (PathToOutline((uint8_t *)r->buffer, 1, r->style, r->lineWidth, r->xOffset, r->yOffset, r->filled, &x, &y, &o))
        return;
    TransformBy(&o, r->matrix);
    // The outline's own bounds: a control box would reach a third of a radius
    // beyond a circle drawn in half turns.
    FT_BBox box;
    FT_Outline_Get_BBox(&o, &box);
    FT_Outline_Done(GetFreeTypeLibrary(), &o);
    r->x1 = box.xMin / 64.0, r->y1 = box.yMin / 64.0;
    r->x2 = box.xMax / 64.0, r->y2 = box.yMax / 64.0;
}

int InbuiltDrawPathAt(lvPathDrawRequest *r, int skipX, int skipY)
{
    if (!r->pixels || r->width <= 0 || r->height <= 0) return 0;
    FT_Library lib = GetFreeTypeLibrary();
    if (!lib) return 0;
    FT_Outline o;
    double x, y;
    if (PathToOutline((uint8_t *)r->buffer, 1, r->style, r->lineWidth, -r->origin[2], -r->origin[3], r->filled, &x,
                      &y, &o))
        return 0;
    TransformBy(&o, r->matrix);
    // The box's top left pixel becomes the plane's first (or, for a window on a
    // larger box, the pixel skipX, skipY into it); the path keeps its place within
    // that pixel.
    FT_BBox box;
    FT_Outline_Get_BBox(&o, &box);
    FT_Outline_Translate(&o, -(box.xMin & ~63) - (FT_Pos)skipX * 64, -(box.yMin & ~63) - (FT_Pos)skipY * 64);
    FT_Bitmap bm;
    FT_Bitmap_Init(&bm);
    bm.rows = (unsigned)r->height;
    bm.width = (unsigned)r->width;
    // Without anti-aliasing the coverage is cut at half: FreeType's 1-bit
    // rasteriser fills every outline by the winding rule and would fill the
    // holes of an even-odd path.
    bm.pitch = -r->rowBytes;  // the plane's first row holds the smallest y
    bm.buffer = r->pixels;
    bm.pixel_mode = FT_PIXEL_MODE_GRAY;
    bm.num_grays = 256;
    int ok = FT_Outline_Get_Bitmap(lib, &o, &bm) == 0;
    if (ok && !(r->style && r->style->antiAlias))
        for (int row = 0; row < r->height; row++) {
            uint8_t *d = r->pixels + (size_t)row * r->rowBytes;
            for (int col = 0; col < r->width; col++) d[col] = d[col] >= 128 ? 255 : 0;
        }
    FT_Outline_Done(lib, &o);
    return ok;
}

int InbuiltDrawPath(lvPathDrawRequest *r) { return InbuiltDrawPathAt(r, 0, 0); }

void InbuiltTranslatePath(lvPathTranslateRequest *r)
{
    double x, y;
    PathToOutline((uint8_t *)r->buffer, 0, nullptr, 0, r->dx, r->dy, 1, &x, &y, nullptr);
}

void InbuiltGetCurrentPoint(const void *buffer, const lvVectorStyle *style, double *x, double *y)
{
    FT_Outline o;
    *x = *y = 0;
    if (PathToOutline((uint8_t *)buffer, 1, style, 0, 0, 0, 1, x, y, &o) == 0) FT_Outline_Done(GetFreeTypeLibrary(), &o);
}

void *IdentityVectorFont(void *face) { return face; }
void FreeNothing(void *) {}

void *InbuiltOpenFont(const void *data, int32_t size)
{
    FT_Library lib = GetFreeTypeLibrary();
    FT_Face face;
    if (!lib || !data || size <= 0 || FT_New_Memory_Face(lib, (const FT_Byte *)data, size, 0, &face)) return nullptr;
    return face;
}

void InbuiltCloseFont(void *face)
{
    if (face) FT_Done_Face((FT_Face)face);
}

const lvVectorEngine inbuiltEngine = {
    InbuiltGetPathExtents, InbuiltDrawPath,    InbuiltTranslatePath, InbuiltGetCurrentPoint,
    IdentityVectorFont,    FreeNothing,        InbuiltOpenFont,      InbuiltCloseFont,
    VECENGINE_ORIGINSECOND | VECENGINE_OPENFONT, nullptr,
};

}  // namespace

const lvVectorEngine *GetInbuiltVectorEngine() { return &inbuiltEngine; }

int DrawInbuiltPathWindow(lvPathDrawRequest *request, int skipX, int skipY)
{
    return InbuiltDrawPathAt(request, skipX, skipY);
}

int PathToOutline(uint8_t *buffer, int build, const lvVectorStyle *style, int lineWidth, double x0, double y0,
                  int filled, double *currentX, double *currentY, FT_Outline_ *outline)
{
    *currentX = *currentY = 0;
    if (!buffer) return ERR_DRAWPATH;
    if (!build) {
        TranslateBuffer(buffer, kUnbounded, x0, y0);
        return 0;
    }
    if (!GetFreeTypeLibrary()) return ERR_MEM;
    std::memset(outline, 0, sizeof(FT_Outline));
    if (!PathCoordinatesFit(buffer, kUnbounded, x0, y0)) return ERR_DRAWPATH;
    return BuildOutline(buffer, kUnbounded, style, lineWidth, x0, y0, filled, currentX, currentY, outline);
}

int CountOutlineCubics(const FT_Outline_ *outline)
{
    int n = 0;
    for (int i = 0; i < outline->n_points; i++)
        if (FT_CURVE_TAG(outline->tags[i]) == FT_CURVE_TAG_CUBIC) n++;
    return n / 2;
}

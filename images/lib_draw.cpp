// lib_draw.cpp - the "draw" command library: Box, Circle, Ellipse, Arc, Polygon, Line,
// Plot and ReadPixel. Each command reads its arguments, its optional colour and options
// table (the draw tags plus its own keys) or its legacy trailing numbers, and hands the
// shape to the shape engine or the line engine with the global draw style.
#include <algorithm>
#include <cmath>

#include "base/lverrors.h"
#include "images/lvdraw.h"
#include "images/lvimagecmd.h"
#include "raster/lvdrawtags.h"
#include "raster/lvraster.h"
#include "runtime/errors.h"

static lvShapeAsPathHook shapeAsPathHook;
void SetShapeAsPathHook(lvShapeAsPathHook hook) { shapeAsPathHook = hook; }
lvShapeAsPathHook GetShapeAsPathHook(void) { return shapeAsPathHook; }

namespace {

// What a shape command reads after its fixed arguments.
struct ShapeArgs {
    uint32_t colour = 0;
    int options = 0;             // index of the options table, or 0
    int extra[2] = {0, 0};       // legacy numbers after the colour
    int extraGiven = 0;
    lvDrawTags tags;
    lvStyleTags style;
};

bool IsTable(lvState *L, int index) { return GetStackTop(L) >= index && GetValueType(L, index) == LV_TTABLE; }

// Reads [colour [, options | legacy numbers...]] from index on; the options table is
// only taken as the last argument.
void ReadTail(lvState *L, int index, ShapeArgs *a)
{
    int top = GetStackTop(L);
    if (IsTable(L, index) && index == top) {
        a->options = index;
        return;
    }
    if (HasArg(L, index)) a->colour = ColourArg(L, index);
    if (IsTable(L, index + 1) && index + 1 == top) {
        a->options = index + 1;
        return;
    }
    for (int i = 0; i < 2 && index + 1 + i <= top; i++) {
        if (!HasArg(L, index + 1 + i)) continue;
        a->extra[i] = IntArg(L, index + 1 + i);
        a->extraGiven = i + 1;
    }
}

// The draw tags for a shape of width x height; a legacy rotation becomes the tags'
// rotation and matrix.
int ReadTags(lvState *L, ShapeArgs *a, int width, int height, int legacyRotation, int hasRotation, int flags = 0)
{
    if (int code = ParseDrawTags(L, a->options, width, height, width, height, 0, &a->tags, &a->style,
                                 DRAWTAGS_FROMTEMPLATE | flags))
        return code;
    if (hasRotation && !a->options) {
        double angle = std::fmod((double)legacyRotation, 360.0);
        a->tags.rotate = angle;
        MatrixFromScaleRotate(&a->tags.matrix, width, height, width, height, 1, 1, angle);
    }
    return 0;
}

int FieldInt(lvState *L, int index, const char *name, int fallback)
{
    if (!index) return fallback;
    int v = fallback, present = 0;
    GetFieldInt(L, index, name, &v, &present);
    return present ? v : fallback;
}

int CmdBox(lvState *L)
{
    CheckArgCount(L, 4, 7, 0, 0);
    int v[4];
    if (int code = GeometryArgs(L, 1, 4, v)) return code;
    int x = v[0], y = v[1], w = v[2], h = v[3];
    ShapeArgs a;
    ReadTail(L, 5, &a);
    if (!RasterState.currentDisplay) return ERR_OUTPUTDEVICE;
    if (w <= 0 || h <= 0) return ERR_WRONGUSAGE;
    int corners[4] = {0, 0, 0, 0};
    if (a.options) {
        int all = FieldInt(L, a.options, "roundlevel", 0);
        corners[0] = FieldInt(L, a.options, "cornera", all);
        corners[1] = FieldInt(L, a.options, "cornerb", all);
        corners[2] = FieldInt(L, a.options, "cornerc", all);
        corners[3] = FieldInt(L, a.options, "cornerd", all);
    } else if (a.extraGiven >= 1) {
        std::fill(corners, corners + 4, a.extra[0]);
    }
    if (int code = ReadTags(L, &a, w, h, a.extra[1], a.extraGiven >= 2)) return code;
    if (shapeAsPathHook) {
        lvShapeAsPath s{};
        s.type = SHAPE_BOX, s.x = x, s.y = y, s.width = w, s.height = h;
        std::copy(corners, corners + 4, s.corners);
        s.colour = a.colour, s.tags = &a.tags, s.styleTags = &a.style;
        return shapeAsPathHook(L, &s);
    }
    return DrawBoxShape(L, GetDrawStyle(), x, y, w, h, a.colour, corners, RasterState.paletteMode, &a.tags, &a.style,
                        0);
}

int CmdCircle(lvState *L)
{
    CheckArgCount(L, 3, 5, 0, 0);
    int v[3];
    if (int code = GeometryArgs(L, 1, 3, v)) return code;
    int x = v[0], y = v[1], r = v[2];
    ShapeArgs a;
    ReadTail(L, 4, &a);
    if (!RasterState.currentDisplay) return ERR_OUTPUTDEVICE;
    if (r <= 0) return ERR_WRONGUSAGE;
    // A circle does not turn: its rotation is ignored.
    if (int code = ReadTags(L, &a, 2 * r + 1, 2 * r + 1, 0, 0, DRAWTAGS_NOROTATE)) return code;
    if (shapeAsPathHook) {
        lvShapeAsPath s{};
        s.type = SHAPE_CIRCLE, s.x = x, s.y = y;
        s.radiusX = s.radiusY = r;
        s.colour = a.colour, s.tags = &a.tags, s.styleTags = &a.style;
        return shapeAsPathHook(L, &s);
    }
    return DrawEllipseShape(L, GetDrawStyle(), SHAPE_CIRCLE, x, y, r, r, a.colour, RasterState.paletteMode, &a.tags,
                            &a.style, 0);
}

int CmdEllipse(lvState *L)
{
    CheckArgCount(L, 4, 6, 0, 0);
    int v[4];
    if (int code = GeometryArgs(L, 1, 4, v)) return code;
    int x = v[0], y = v[1], rx = v[2], ry = v[3];
    ShapeArgs a;
    ReadTail(L, 5, &a);
    if (!RasterState.currentDisplay) return ERR_OUTPUTDEVICE;
    if (rx <= 0 || ry <= 0) return ERR_WRONGUSAGE;
    if (int code = ReadTags(L, &a, 2 * rx + 1, 2 * ry + 1, a.extra[0], a.extraGiven >= 1)) return code;
    if (shapeAsPathHook) {
        lvShapeAsPath s{};
        s.type = SHAPE_ELLIPSE, s.x = x, s.y = y;
        s.radiusX = rx, s.radiusY = ry;
        s.colour = a.colour, s.tags = &a.tags, s.styleTags = &a.style;
        return shapeAsPathHook(L, &s);
    }
    return DrawEllipseShape(L, GetDrawStyle(), SHAPE_ELLIPSE, x, y, rx, ry, a.colour, RasterState.paletteMode,
                            &a.tags, &a.style, 0);
}

int CmdArc(lvState *L)
{
    CheckArgCount(L, 6, 9, 0, 0);
    int v[6];
    if (int code = GeometryArgs(L, 1, 6, v)) return code;
    int x = v[0], y = v[1], rx = v[2], ry = v[3];
    int start = v[4], end = v[5];
    ShapeArgs a;
    ReadTail(L, 7, &a);
    if (!RasterState.currentDisplay) return ERR_OUTPUTDEVICE;
    if (rx <= 0 || ry <= 0) return ERR_WRONGUSAGE;
    int clockwise = a.options ? FieldInt(L, a.options, "clockwise", 1) : a.extraGiven >= 1 ? a.extra[0] : 1;
    if (int code = ReadTags(L, &a, 2 * rx + 1, 2 * ry + 1, a.extra[1], a.extraGiven >= 2)) return code;
    if (shapeAsPathHook) {
        if (start < 0 || end < 0) return ERR_WRONGUSAGE;
        if (start == end) return 0;
        lvShapeAsPath s{};
        s.type = SHAPE_ARC, s.x = x, s.y = y;
        s.radiusX = rx, s.radiusY = ry, s.start = start, s.end = end, s.clockwise = clockwise;
        s.colour = a.colour, s.tags = &a.tags, s.styleTags = &a.style;
        return shapeAsPathHook(L, &s);
    }
    return DrawArcShape(L, GetDrawStyle(), x, y, rx, ry, start, end, a.colour, clockwise, RasterState.paletteMode,
                        &a.tags, &a.style, 0);
}

}  // namespace

int ReadPolygonVertices(lvState *L, int index, int count, double *points, int *pointCount, int *minX, int *minY,
                        int *width, int *height)
{
    if (!IsTable(L, index)) {
        SetErrorNumberArg(index);
        return ERR_TABEXPECTED;
    }
    const int top = GetStackTop(L);
    int n = 0;
    for (;; n++) {
        if (count > 0 && n >= count) break;
        if (count == 0 && n >= SHAPE_MAXPOINTS - 2) return ERR_INTERNAL;
        double v[2];
        for (int k = 0; k < 2; k++) {
            GetTableItemRaw(L, index, 2 * n + k);
            int type = GetValueType(L, -1);
            if (count == 0 && k == 0 && type == LV_TNIL) {
                SetStackTop(L, top);
                goto done;
            }
            if (type != LV_TNUMBER) {
                SetStackTop(L, top);
                SetErrorStringArg("polygon");
                return ERR_NUMTABLEARG;
            }
            v[k] = ValueToNumber(L, -1);
            SetStackTop(L, top);
        }
        points[2 * n] = v[0], points[2 * n + 1] = v[1];
    }
done:
    if (n < 1) return ERR_WRONGUSAGE;
    if (points[2 * n - 2] != points[0] || points[2 * n - 1] != points[1]) {
        points[2 * n] = points[0], points[2 * n + 1] = points[1];
        n++;
    }
    double lx = points[0], ly = points[1];
    for (int i = 1; i < n; i++) lx = std::min(lx, points[2 * i]), ly = std::min(ly, points[2 * i + 1]);
    int rlx = (int)std::lround(lx), rly = (int)std::lround(ly), hx = rlx, hy = rly;
    for (int i = 0; i < n; i++) {
        hx = std::max(hx, (int)std::lround(points[2 * i])), hy = std::max(hy, (int)std::lround(points[2 * i + 1]));
        points[2 * i] -= lx, points[2 * i + 1] -= ly;
    }
    *pointCount = n;
    *minX = rlx, *minY = rly;
    *width = hx - rlx + 1, *height = hy - rly + 1;
    return 0;
}

namespace {

int CmdPolygon(lvState *L)
{
    CheckArgCount(L, 4, 6, 0, 0);
    int v[2];
    if (int code = GeometryArgs(L, 1, 2, v)) return code;
    int x = v[0], y = v[1], count = IntArg(L, 4);
    ShapeArgs a;
    ReadTail(L, 5, &a);
    if (!RasterState.currentDisplay) return ERR_OUTPUTDEVICE;
    if (count < 2 || count > SHAPE_MAXPOINTS - 2) return ERR_WRONGUSAGE;
    double *points = GetDrawBuffer(2);
    if (!points) return ERR_MEM;
    int n, mx, my, w, h;
    if (int code = ReadPolygonVertices(L, 3, count, points, &n, &mx, &my, &w, &h)) return code;
    if (int code = ReadTags(L, &a, w, h, a.extra[0], a.extraGiven >= 1)) return code;
    if (shapeAsPathHook) {
        lvShapeAsPath s{};
        s.type = SHAPE_POLYGON, s.x = x + mx, s.y = y + my, s.width = w, s.height = h;
        s.points = points, s.count = n;
        s.colour = a.colour, s.tags = &a.tags, s.styleTags = &a.style;
        return shapeAsPathHook(L, &s);
    }
    return DrawPolygonShape(L, GetDrawStyle(), SHAPE_POLYGON, x + mx, y + my, w, h, points, n, a.colour,
                            RasterState.paletteMode, &a.tags, &a.style, 0);
}

int CmdLine(lvState *L)
{
    CheckArgCount(L, 4, 7, 0, 0);
    int v[4];
    if (int code = GeometryArgs(L, 1, 4, v)) return code;
    int x1 = v[0], y1 = v[1], x2 = v[2], y2 = v[3];
    ShapeArgs a;
    ReadTail(L, 5, &a);
    if (!RasterState.currentDisplay) return ERR_OUTPUTDEVICE;
    int thickness = a.options ? FieldInt(L, a.options, "thickness", 1) : a.extraGiven >= 1 ? a.extra[0] : 1;
    int arrowhead = FieldInt(L, a.options, "arrowhead", ARROWHEAD_NONE);
    int w = std::abs(x2 - x1) + 1, h = std::abs(y2 - y1) + 1;
    if (int code = ReadTags(L, &a, w, h, a.extra[1], a.extraGiven >= 2)) return code;
    return DrawThickLine(L, GetDrawStyle(), x1, y1, x2, y2, a.colour, thickness, arrowhead, RasterState.paletteMode,
                         &a.tags, &a.style, 0);
}

int CmdPlot(lvState *L)
{
    CheckArgCount(L, 2, 3, 0, 0);
    int v[2];
    bool beyond = false;
    // A point past the limit lies outside every output: nothing is plotted.
    if (int code = GeometryArgs(L, 1, 2, v, &beyond))
        return !beyond ? code : RasterState.currentDisplay ? 0 : ERR_OUTPUTDEVICE;
    int x = v[0], y = v[1];
    uint32_t colour = HasArg(L, 3) ? ColourArg(L, 3) : 0;
    return PlotOutputPixel(L, x, y, colour);
}

int CmdReadPixel(lvState *L)
{
    CheckArgCount(L, 2, 2, 0, 0);
    int v[2];
    // A place that is no number lies outside every output.
    if (GeometryArgs(L, 1, 2, v)) return ERR_PIXELRANGE;
    int x = v[0], y = v[1];
    uint32_t value = 0;
    if (int code = ReadOutputPixel(L, x, y, &value)) return code;
    PushNumber(L, value);
    return 1;
}

const lvCommandEntry DrawCommands[] = {
    {"Box", CmdBox},         {"Circle", CmdCircle},   {"Ellipse", CmdEllipse}, {"Arc", CmdArc},
    {"Polygon", CmdPolygon}, {"Line", CmdLine},       {"Plot", CmdPlot},       {"ReadPixel", CmdReadPixel},
    {nullptr, nullptr},
};

const lvConstantEntry DrawConstants[] = {
    {"BOX", nullptr, 14},           {"LINE", nullptr, 17},          {"CIRCLE", nullptr, 15},
    {"PLOT", nullptr, 18},          {"ELLIPSE", nullptr, 16},       {"POLYGON", nullptr, 27},
    {"ARC", nullptr, 31},           {"ARROWHEAD_NONE", nullptr, 0}, {"ARROWHEAD_SINGLE", nullptr, 1},
    {"ARROWHEAD_DOUBLE", nullptr, 2}, {nullptr, nullptr, 0},
};

}  // namespace

int OpenDrawLibrary(lvState *L)
{
    if (int code = AllocDrawBuffers()) return code;
    return RegisterCommandTable(L, DrawCommands, "draw");
}

const lvConstantEntry *GetDrawConstants(void) { return DrawConstants; }

void CloseDrawLibrary(lvState *, int) { FreeDrawBuffers(); }

// vectorshape.cpp - the shape route of the vector engine: arcs and rounded
// boxes as cubic outlines, stroked with FreeType's stroker when outlined,
// transformed, and rendered by FreeType as 256-level coverage.
//
// Depends on: images/lvvectorshape.h, images/lvshape.h, FreeType,
// runtime/libtable.h (the shut-down step).
// Limits: script thread only.
#include "images/lvvectorshape.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <vector>

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H
#include FT_STROKER_H
#include FT_BITMAP_H

#include "base/lverrors.h"
#include "images/lvshape.h"
#include "raster/lvplanes.h"
#include "runtime/libtable.h"

// ---- The run's FreeType library --------------------------------------------------------

static FT_Library freeType;

FT_LibraryRec_ *GetFreeTypeLibrary(void) {
    if (!freeType && FT_Init_FreeType(&freeType) != 0) freeType = nullptr;
    return freeType;
}

void FreeFreeTypeLibrary(void) {
    if (freeType) FT_Done_FreeType(freeType);
    freeType = nullptr;
}

static lvLibraryCloseFunction closeFontsBefore;
static void CloseFontsAndShapes(lvState *L, int full) {
    if (closeFontsBefore) closeFontsBefore(L, full);
    FreeFreeTypeLibrary();
}
void InstallVectorShapeCloseStep(void) {
    lvLibraryCloseFunction previous = SetLibraryCloseStep("fonts", CloseFontsAndShapes);
    if (previous != CloseFontsAndShapes) closeFontsBefore = previous;
}

// ---- Outline builder ----------------------------------------------------------------------

struct lvOutlineBuilder {
    std::vector<FT_Vector> points;
    std::vector<char> tags;
    std::vector<short> contours;
    double curX = 0, curY = 0;
    bool open = false;
};

lvOutlineBuilder *NewOutlineBuilder(void) { return new (std::nothrow) lvOutlineBuilder; }
void FreeOutlineBuilder(lvOutlineBuilder *b) { delete b; }

namespace {

FT_Pos To26(double v) {
    return static_cast<FT_Pos>(std::trunc(std::clamp(v, -1e7, 1e7) * 64.0));
}

void Point(lvOutlineBuilder *b, double x, double y, char tag) {
    b->points.push_back({To26(x), To26(y)});
    b->tags.push_back(tag);
}

void EndContour(lvOutlineBuilder *b) {
    if (!b->open) return;
    size_t start = b->contours.empty() ? 0 : size_t(b->contours.back()) + 1;
    // A closed contour needs no repeat of its first point.
    if (b->points.size() > start + 1 && b->tags.back() == FT_CURVE_TAG_ON &&
        b->points.back().x == b->points[start].x && b->points.back().y == b->points[start].y) {
        b->points.pop_back();
        b->tags.pop_back();
    }
    b->contours.push_back(static_cast<short>(b->points.size() - 1));
    b->open = false;
}

void BeginSubPath(lvOutlineBuilder *b, double x, double y) {
    EndContour(b);
    Point(b, x, y, FT_CURVE_TAG_ON);
    b->curX = x, b->curY = y;
    b->open = true;
}

void LineTo(lvOutlineBuilder *b, double x, double y) {
    if (!b->open) {
        BeginSubPath(b, x, y);
        return;
    }
    Point(b, x, y, FT_CURVE_TAG_ON);
    b->curX = x, b->curY = y;
}

void CubicTo(lvOutlineBuilder *b, double x1, double y1, double x2, double y2, double x3, double y3) {
    Point(b, x1, y1, FT_CURVE_TAG_CUBIC);
    Point(b, x2, y2, FT_CURVE_TAG_CUBIC);
    Point(b, x3, y3, FT_CURVE_TAG_ON);
    b->curX = x3, b->curY = y3;
}

void Apply(const lvMatrix2D *m, double xc, double yc, double *x, double *y) {
    if (!m) return;
    double dx = *x - xc, dy = *y - yc;
    *x = xc + m->sx * dx + m->ry * dy;
    *y = yc + m->rx * dx + m->sy * dy;
}

}  // namespace

namespace {

// A sweep of more than two turns keeps its direction and its place within the
// turn, and draws between one and two turns: each turn beyond adds nothing to see.
// fmod keeps this constant in time where stepping by whole turns would stop
// changing an angle of 1e18.
double LimitSweep(double sweep, double turn) {
    if (std::fabs(sweep) <= 2 * turn) return sweep;
    double rest = std::fmod(std::fabs(sweep), turn);
    return std::copysign(rest == 0 ? 2 * turn : turn + rest, sweep);
}

}  // namespace

void AddArcSegments(lvOutlineBuilder *b, double xc, double yc, double rx, double ry, double a0, double a1, int forward,
                    const lvMatrix2D *matrix, double maxSpan) {
    if (!std::isfinite(a0) || !std::isfinite(a1) || !(maxSpan > 0)) return;
    if (std::fabs(a1 - a0) > 4 * M_PI) a1 = a0 + LimitSweep(a1 - a0, 2 * M_PI);
    if (std::fabs(a1 - a0) > maxSpan) {
        double mid = (a0 + a1) / 2;
        if (forward) {
            AddArcSegments(b, xc, yc, rx, ry, a0, mid, 1, matrix, maxSpan);
            AddArcSegments(b, xc, yc, rx, ry, mid, a1, 1, matrix, maxSpan);
        } else {
            AddArcSegments(b, xc, yc, rx, ry, mid, a1, 0, matrix, maxSpan);
            AddArcSegments(b, xc, yc, rx, ry, a0, mid, 0, matrix, maxSpan);
        }
        return;
    }
    if (a0 == a1) return;
    double t = forward ? a0 : a1, delta = forward ? a1 - a0 : a0 - a1;
    double k = 4.0 / 3.0 * std::tan(delta / 4);
    double p0x = xc + rx * std::cos(t), p0y = yc + ry * std::sin(t);
    double p3x = xc + rx * std::cos(t + delta), p3y = yc + ry * std::sin(t + delta);
    double p1x = p0x + k * (-rx * std::sin(t)), p1y = p0y + k * (ry * std::cos(t));
    double p2x = p3x - k * (-rx * std::sin(t + delta)), p2y = p3y - k * (ry * std::cos(t + delta));
    Apply(matrix, xc, yc, &p1x, &p1y);
    Apply(matrix, xc, yc, &p2x, &p2y);
    Apply(matrix, xc, yc, &p3x, &p3y);
    CubicTo(b, p1x, p1y, p2x, p2y, p3x, p3y);
}

void AddEllipseArc(int clockwise, lvOutlineBuilder *b, double xc, double yc, double rx, double ry, double start,
                   double end, int noPie, const lvMatrix2D *matrix, int beginSubPath, double maxSpan) {
    if (!std::isfinite(start) || !std::isfinite(end)) return;
    bool full = start == 0 && end == 360;
    // In degrees, where fmod is exact: the start within one turn, and the sweep that
    // brings an end behind the start round to it (clockwise) or an end ahead of it
    // back (anticlockwise); other sweeps keep their length up to two turns.
    double sweep = end - start;
    double within = std::fmod(std::fmod(end, 360.0) - std::fmod(start, 360.0), 360.0);
    if (clockwise && start > end) sweep = within < 0 ? within + 360 : within;
    else if (!clockwise && start < end) sweep = within > 0 ? within - 360 : within;
    else if (!(std::fabs(sweep) <= 720)) {
        double rest = within < 0 ? within + 360 : within;  // the end's place, clockwise from the start
        if (sweep < 0 && rest != 0) rest -= 360;
        sweep = std::copysign(rest == 0 ? 720 : 360 + std::fabs(rest), sweep);
    }
    start = std::fmod(start, 360.0) * 0.017453292519943295;
    end = start + sweep * 0.017453292519943295;
    double sx = xc + rx * std::cos(start), sy = yc + ry * std::sin(start);
    Apply(matrix, xc, yc, &sx, &sy);
    bool pie = !noPie && !full;
    double fx = pie ? xc : sx, fy = pie ? yc : sy;
    if (beginSubPath) BeginSubPath(b, fx, fy);
    if (fx != sx || fy != sy || !beginSubPath) LineTo(b, sx, sy);
    AddArcSegments(b, xc, yc, rx, ry, start, end, 1, matrix, maxSpan);
    if (pie) LineTo(b, xc, yc);
}

void OutlineBeginSubPath(lvOutlineBuilder *b, double x, double y) { BeginSubPath(b, x, y); }
void OutlineLineTo(lvOutlineBuilder *b, double x, double y) { LineTo(b, x, y); }
void OutlineConicTo(lvOutlineBuilder *b, double cx, double cy, double x, double y) {
    Point(b, cx, cy, FT_CURVE_TAG_CONIC);
    Point(b, x, y, FT_CURVE_TAG_ON);
    b->curX = x, b->curY = y;
}
void OutlineCubicTo(lvOutlineBuilder *b, double x1, double y1, double x2, double y2, double x3, double y3) {
    CubicTo(b, x1, y1, x2, y2, x3, y3);
}
void OutlineEndContour(lvOutlineBuilder *b) { EndContour(b); }
int OutlineIsOpen(const lvOutlineBuilder *b) { return b->open ? 1 : 0; }
void OutlineCurrentPoint(const lvOutlineBuilder *b, double *x, double *y) { *x = b->curX, *y = b->curY; }
size_t OutlinePointCount(const lvOutlineBuilder *b) { return b->points.size(); }

void AddRoundedBox(int a, int bc, int c, int d, lvOutlineBuilder *b, double x1, double y1, double x2, double y2) {
    double w = std::trunc(x2 - x1), h = std::trunc(y2 - y1);
    auto radius = [&](int v) {
        if (v <= 0 || w <= 0 || h <= 0) return 0.0;
        return std::clamp(v, 1, 100) / 100.0 * std::min(w, h) * 0.5;
    };
    double ra = radius(a), rb = radius(bc), rc = radius(c), rd = radius(d);
    BeginSubPath(b, x1 + ra, y1);
    if (ra > 0) AddArcSegments(b, x1 + ra, y1 + ra, ra, ra, 1.5 * M_PI, M_PI, 1, nullptr);
    LineTo(b, x1, y2 - rb);
    if (rb > 0) AddArcSegments(b, x1 + rb, y2 - rb, rb, rb, M_PI, 0.5 * M_PI, 1, nullptr);
    LineTo(b, x2 - rc, y2);
    if (rc > 0) AddArcSegments(b, x2 - rc, y2 - rc, rc, rc, 0.5 * M_PI, 0, 1, nullptr);
    LineTo(b, x2, y1 + rd);
    if (rd > 0) AddArcSegments(b, x2 - rd, y1 + rd, rd, rd, 2 * M_PI, 1.5 * M_PI, 1, nullptr);
    LineTo(b, x1 + ra, y1);
    EndContour(b);
}

void SetVectorShapeFromJob(lvVectorShape *v, const lvShapeJob *job) {
    *v = lvVectorShape{};
    v->type = job->type;
    v->radiusX = job->radiusX ? job->radiusX : job->width / 2;
    v->radiusY = job->radiusY ? job->radiusY : job->height / 2;
    v->startAngle = job->type == SHAPE_ARC ? job->startAngle : 0;
    v->endAngle = job->type == SHAPE_ARC ? job->endAngle : 360;
    v->clockwise = job->type == SHAPE_ARC ? job->clockwise : 1;
    v->width = job->width, v->height = job->height;
    v->matrix = job->transform.matrix;
    v->corners[0] = job->cornerA, v->corners[1] = job->cornerB;
    v->corners[2] = job->cornerC, v->corners[3] = job->cornerD;
    v->filled = job->fillStyle != FILLNONE;
    v->lineWidth = std::max(1, job->style.lineWidth);
}

namespace {

// The shape's contour into the builder, in the shape's own frame (its box from 0).
void BuildContour(const lvVectorShape *s, lvOutlineBuilder *b, bool whole) {
    double d = s->borderGrowth;
    if (s->type == SHAPE_BOX) {
        AddRoundedBox(s->corners[0], s->corners[1], s->corners[2], s->corners[3], b, -d, -d, s->width + d,
                      s->height + d);
        return;
    }
    // An ellipse of radius r covers 2 r + 1 pixels: centre on the middle pixel's centre.
    double rx = s->radiusX + 0.5 + d, ry = s->radiusY + 0.5 + d;
    double xc = s->radiusX + 0.5, yc = s->radiusY + 0.5;
    int start = whole ? 0 : s->startAngle, end = whole ? 360 : s->endAngle;
    int clockwise = whole ? 1 : s->clockwise;
    if (!whole && start == end) return;
    // Arcs run clockwise from the smaller angle: swap ends and direction when asked.
    if (!clockwise) std::swap(start, end), clockwise = 1;
    if (end - start >= 360 || (start % 360 == 0 && end % 360 == 0 && end != start)) start = 0, end = 360;
    AddEllipseArc(clockwise, b, xc, yc, rx, ry, start, end, 0, nullptr, 1);
    EndContour(b);
}

int ToOutlineImpl(lvOutlineBuilder *b, FT_Outline *outline) {
    FT_Library lib = GetFreeTypeLibrary();
    if (!lib || b->points.empty() || b->points.size() > 32767) return ERR_MEM;
    if (FT_Outline_New(lib, static_cast<FT_UInt>(b->points.size()), static_cast<FT_Int>(b->contours.size()), outline))
        return ERR_MEM;
    std::copy(b->points.begin(), b->points.end(), outline->points);
    std::copy(b->tags.begin(), b->tags.end(), outline->tags);
    std::copy(b->contours.begin(), b->contours.end(), outline->contours);
    return 0;
}

void TransformOutline(FT_Outline *o, const lvMatrix2D &m) {
    if (m.sx == 1 && m.sy == 1 && m.rx == 0 && m.ry == 0) return;
    FT_Matrix f;
    f.xx = static_cast<FT_Fixed>(m.sx * 65536), f.xy = static_cast<FT_Fixed>(m.ry * 65536);
    f.yx = static_cast<FT_Fixed>(m.rx * 65536), f.yy = static_cast<FT_Fixed>(m.sy * 65536);
    FT_Outline_Transform(o, &f);
}

int BuildShapeOutlineFt(const lvVectorShape *s, FT_Outline *out, bool whole) {
    lvOutlineBuilder b;
    BuildContour(s, &b, whole);
    if (b.points.empty()) return ERR_MEM;
    int rc = ToOutlineImpl(&b, out);
    if (rc) return rc;
    if (s->filled) {
        TransformOutline(out, s->matrix);
        return 0;
    }
    TransformOutline(out, s->matrix);
    FT_Stroker stroker;
    FT_Library lib = GetFreeTypeLibrary();
    if (FT_Stroker_New(lib, &stroker)) {
        FT_Outline_Done(lib, out);
        return ERR_MEM;
    }
    FT_Stroker_Set(stroker, s->lineWidth * 32, FT_STROKER_LINECAP_ROUND, FT_STROKER_LINEJOIN_ROUND, 0);
    FT_UInt np = 0, nc = 0;
    bool ok = FT_Stroker_ParseOutline(stroker, out, 0) == 0 && FT_Stroker_GetCounts(stroker, &np, &nc) == 0;
    FT_Outline_Done(lib, out);
    if (!ok || FT_Outline_New(lib, np, static_cast<FT_Int>(nc), out)) {
        FT_Stroker_Done(stroker);
        return ERR_MEM;
    }
    out->n_points = 0, out->n_contours = 0;
    FT_Stroker_Export(stroker, out);
    FT_Stroker_Done(stroker);
    return 0;
}

}  // namespace

int OutlineBuilderToFt(lvOutlineBuilder *b, FT_Outline_ *outline) {
    EndContour(b);
    return ToOutlineImpl(b, outline);
}

int ShapeToOutline(const lvVectorShape *shape, FT_Outline *outline) { return BuildShapeOutlineFt(shape, outline, false); }

int RenderShapeOutline(lvVectorShape *s, uint8_t *pixels, int rowBytes, int width, int height) {
    FT_Library lib = GetFreeTypeLibrary();
    if (!lib) return ERR_MEM;
    FT_Outline outline;
    int rc = ShapeToOutline(s, &outline);
    if (rc) return rc;
    // Arcs are placed in the frame of their whole ellipse.
    FT_BBox box;
    bool arc = s->type == SHAPE_ARC && !(s->startAngle % 360 == 0 && s->endAngle % 360 == 0);
    if (arc) {
        FT_Outline whole;
        if (BuildShapeOutlineFt(s, &whole, true)) {
            FT_Outline_Done(lib, &outline);
            return ERR_MEM;
        }
        FT_Outline_Get_CBox(&whole, &box);
        FT_Outline_Done(lib, &whole);
    } else {
        FT_Outline_Get_CBox(&outline, &box);
    }
    // Untransformed shapes keep their own frame: the box from 0 (or -d).
    bool plain = s->matrix.sx == 1 && s->matrix.sy == 1 && s->matrix.rx == 0 && s->matrix.ry == 0 && s->filled;
    FT_Pos minX = plain ? -s->borderGrowth * 64 : box.xMin, minY = plain ? -s->borderGrowth * 64 : box.yMin;
    FT_Outline_Translate(&outline, -minX + s->offsetX * 64, -minY + s->offsetY * 64);
    if (!pixels) {
        FT_Outline_Get_CBox(&outline, &box);
        s->outWidth = static_cast<int>((box.xMax + 63) / 64 - box.xMin / 64);
        s->outHeight = static_cast<int>((box.yMax + 63) / 64 - box.yMin / 64);
        FT_Outline_Done(lib, &outline);
        return 0;
    }
    FT_Bitmap bitmap;
    FT_Bitmap_Init(&bitmap);
    bitmap.rows = static_cast<unsigned>(height);
    bitmap.width = static_cast<unsigned>(width);
    bitmap.pitch = -rowBytes;  // the plane's first row holds the smallest y
    bitmap.buffer = pixels;
    bitmap.pixel_mode = FT_PIXEL_MODE_GRAY;
    bitmap.num_grays = 256;
    FT_Error e = FT_Outline_Get_Bitmap(lib, &outline, &bitmap);
    FT_Outline_Done(lib, &outline);
    return e ? ERR_MEM : 0;
}

int RenderVectorShape(lvVectorShape *shape, lvBitMapHandle *plane) {
    if (!plane) return RenderShapeOutline(shape, nullptr, 0, 0, 0);
    uint8_t *p;
    int row;
    uintptr_t t = GetPlanePixels(plane, &p, &row, 1);
    if (!t) return ERR_LOCKBMAP;
    int rc = RenderShapeOutline(shape, p, row, plane->width, plane->height);
    ReleasePlanePixels(t);
    return rc;
}

int MeasureShape(const lvShapeJob *job, int *outWidth, int *outHeight, int filled, int borderGrowth) {
    lvVectorShape v;
    SetVectorShapeFromJob(&v, job);
    v.filled = filled;
    v.borderGrowth = borderGrowth;
    if (v.type == SHAPE_ARC) v.startAngle = 0, v.endAngle = 360;  // measured as the whole ellipse
    int rc = RenderShapeOutline(&v, nullptr, 0, 0, 0);
    *outWidth = std::max(1, v.outWidth);
    *outHeight = std::max(1, v.outHeight);
    return rc;
}

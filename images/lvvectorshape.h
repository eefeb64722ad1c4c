// lvvectorshape.h - the vector engine's shape route: boxes (rounded or not),
// ellipses and arcs built as cubic outlines (FreeType), stroked or filled,
// transformed, and rendered as 256-level coverage into 8-bit planes, or
// measured. The shape engine's outline renderer draws curved shapes through it;
// the built-in vector engine reuses the arc and box builders.
//
// Depends on: FreeType, raster/lvrect.h (lvMatrix2D), raster/lvbitmap.h.
// Limits: script thread only.
#pragma once
#include <cstddef>
#include <cstdint>

#include "raster/lvbitmap.h"
#include "raster/lvrect.h"

struct lvShapeJob;
struct FT_LibraryRec_;
struct FT_StrokerRec_;
struct FT_Outline_;

// The run's one FreeType library, made on first use (null when it cannot be).
FT_LibraryRec_ *GetFreeTypeLibrary(void);
// Frees it (the "fonts" shut-down step, chained after the text engine's).
void FreeFreeTypeLibrary(void);
void InstallVectorShapeCloseStep(void);

// A shape handed to the vector engine.
struct lvVectorShape {
    int type;                    // SHAPE_BOX, SHAPE_CIRCLE, SHAPE_ELLIPSE, SHAPE_ARC
    int radiusX, radiusY;        // ellipses and arcs
    int startAngle, endAngle;    // arcs, degrees, positive clockwise on screen
    int clockwise;
    int width, height;           // the shape's box (ellipses: 2 r + 1)
    lvMatrix2D matrix;           // transform
    int borderGrowth;            // d: the shape grows by d on every side
    int corners[4];              // rounded-corner percentages a, b, c, d
    int filled;                  // 0: the outline is stroked at lineWidth
    int lineWidth;
    int offsetX, offsetY;        // where the shape's top left lands in the plane
    int outWidth, outHeight;     // measured size
};
void SetVectorShapeFromJob(lvVectorShape *shape, const lvShapeJob *job);

// The outline builders. Points are pixels; curves become cubic Béziers.
struct lvOutlineBuilder;
lvOutlineBuilder *NewOutlineBuilder(void);
void FreeOutlineBuilder(lvOutlineBuilder *builder);
// An arc (radians handled inside) about (xc, yc); pie closes to the centre.
// beginSubPath: 1 starts a new contour at the first point.
// maxSpan: the widest piece one cubic draws. Shapes take quarter turns (a cubic over
// a half turn strays by about 2% of the radius); paths take half turns.
constexpr double kShapeArcPiece = 1.5707963267948966, kPathArcPiece = 3.141592653589793;
void AddEllipseArc(int clockwise, lvOutlineBuilder *b, double xc, double yc, double rx, double ry, double start,
                   double end, int noPie, const lvMatrix2D *matrix, int beginSubPath,
                   double maxSpan = kShapeArcPiece);
void AddArcSegments(lvOutlineBuilder *b, double xc, double yc, double rx, double ry, double a0, double a1,
                    int forward, const lvMatrix2D *matrix, double maxSpan = kShapeArcPiece);
// Single steps of a builder: a new contour (the open one ended), segments from the
// current point, the end of the open contour.
void OutlineBeginSubPath(lvOutlineBuilder *b, double x, double y);
void OutlineLineTo(lvOutlineBuilder *b, double x, double y);  // begins a contour when none is open
void OutlineConicTo(lvOutlineBuilder *b, double cx, double cy, double x, double y);
void OutlineCubicTo(lvOutlineBuilder *b, double x1, double y1, double x2, double y2, double x3, double y3);
void OutlineEndContour(lvOutlineBuilder *b);
int OutlineIsOpen(const lvOutlineBuilder *b);
void OutlineCurrentPoint(const lvOutlineBuilder *b, double *x, double *y);
size_t OutlinePointCount(const lvOutlineBuilder *b);
// The builder's contours as a new FreeType outline (FT_Outline_Done it). 0, or
// ERR_MEM (also for no points or more than 32767).
int OutlineBuilderToFt(lvOutlineBuilder *b, FT_Outline_ *outline);
void AddRoundedBox(int a, int bCorner, int c, int d, lvOutlineBuilder *b, double x1, double y1, double x2, double y2);
// 0 with a new FreeType outline of the shape (FT_Outline_Done it), or ERR_MEM.
int ShapeToOutline(const lvVectorShape *shape, FT_Outline_ *outline);
// Renders the shape's coverage into the plane (pixels, rowBytes, width x
// height), or, with no pixels, measures it into outWidth / outHeight. 0 or ERR_MEM.
int RenderShapeOutline(lvVectorShape *shape, uint8_t *pixels, int rowBytes, int width, int height);
// The same through a plane handle (null: measure only).
int RenderVectorShape(lvVectorShape *shape, lvBitMapHandle *plane);
// The job's size as the vector engine draws it; each at least 1.
int MeasureShape(const lvShapeJob *job, int *outWidth, int *outHeight, int filled, int borderGrowth);

// lvshape.h - the shape job and the shape engine's geometry and rendering:
// outlines of every shape type in 16.16 fixed point, rounded corners, ellipse
// and arc points, the transform about the anchor, outlines grown by a border,
// shadow extents and canvases, and the renderers that turn a job into an image
// set (line-based, or vector outlines), plus the plain-box fills.
//
// Outline points are pairs of doubles holding 16.16 values (pixel x 65536); a
// closed outline repeats its first point. Angles are whole degrees, 0 right,
// 90 up (y grows downwards on screen).
//
// Depends on: raster/lvdrawtags.h (lvDrawStyle, lvDrawTags, lvStyleTags),
// raster/lvbitmap.h, images/lvpaint.h.
// Limits: script thread only.
#pragma once
#include <cstdint>

#include "raster/lvbitmap.h"
#include "raster/lvdrawtags.h"

// Shape types.
enum : int { SHAPE_BOX = 14, SHAPE_CIRCLE = 15, SHAPE_ELLIPSE = 16, SHAPE_LINE = 17, SHAPE_POLYGON = 27,
             SHAPE_ARC = 31 };
// Capacity of an outline buffer in points.
enum : int { SHAPE_MAXPOINTS = 1001 };

// One drawing call of the shape engine, built on the stack.
struct lvShapeJob {
    int type;                    // SHAPE_...
    int lineBased;               // 1: line-based rasteriser; 0: outline renderer or plain-box fill
    int x, y;                    // position given; replaced by the resolved position
    int outX, outY;              // output position of the canvas's top left corner
    int shapeX, shapeY;          // the shape (without shadow) inside the canvas
    int lineX1, lineY1, lineX2, lineY2;  // end points of a LINE job
    int width, height;           // shape size in pixels (ellipses and arcs: 2 r + 1)
    int shapeW, shapeH;          // with the border
    int canvasW, canvasH;        // with the shadow
    int radiusX, radiusY;        // ellipses and arcs
    int startAngle, endAngle;    // arcs; ellipses 0 and 360
    int cornerA, cornerB, cornerC, cornerD;  // rounded-corner percentages: top left, bottom left, bottom right, top right
    double *points;              // polygon or line points in pixels relative to (x, y)
    int pointCount;
    int thickness, arrowhead;    // LINE jobs
    int fillStyle;               // FILLNONE .. FILLTEXTURE
    int fillTransparency;        // 0 opaque .. 255 invisible
    int hasBorder, borderTransparency, borderSize;
    int hasShadow, shadowTransparency, shadowSize, shadowDirection;
    int maskOnly;                // 1: only the shape's coverage is built
    uint32_t colour;             // fill colour, RGB
    uint32_t borderColour, shadowColour;  // RGB
    int antiAlias;
    int clockwise;               // arcs
    int paletteMode;             // PALETTEMODE_... at the time of the call
    int recursing;               // guard of the outline builder
    lvDrawStyle style;           // the job's private copy of the draw style
    lvDrawTags transform;        // matrix, anchor and scale
    lvStyleTags *tags;           // or null
    int updateLayer;             // 1: the images of layerRecord are replaced
    void *layerRecord;
    void *ownerLayer;            // the layer being re-rendered, or null
};

// ---- Geometry (shape outlines and canvases) ------------------------------------------

// x' = Ax + sx (x - Ax) + ry (y - Ay), y' = Ay + rx (x - Ax) + sy (y - Ay) with A =
// (width x anchorX, height x anchorY); all in one unit (pixels or 16.16).
void TransformShapePoint(const lvMatrix2D *m, double x, double y, double width, double height, double anchorX,
                         double anchorY, double *outX, double *outY);
// Copies the draw style's fields into the job. With a palette on the output the
// transparencies are cleared (unless mask-only or PALETTEMODE_REMAP), and the
// style tags' transparency too when layers are off.
void ReadShapeStyle(lvShapeJob *job, int outputHasPalette = 0, int layersOn = 0);
// The ellipse point generator: angles from..to at step degrees. Returns the count.
int GenerateEllipsePoints(double cx, double cy, double rx, double ry, const lvMatrix2D *m, double anchorX,
                          double anchorY, int to, int step, int pie, int bounds, double *buffer, int from);
// Chooses the angle step from the larger radius and generates. fixedPoint: 1 when
// centre and radii are 16.16 already.
int BuildEllipsePoints(double *buffer, double cx, double cy, double rx, double ry, int from, int to,
                       const lvMatrix2D *m, double anchorX, double anchorY, int pie, int bounds, int fixedPoint);
// The angle step (degrees) of an ellipse of that larger radius in pixels.
int EllipseAngleStep(double radiusPixels);
int BuildRoundedBoxPoints(int height, double anchorX, double anchorY, int width, const int corners[4],
                          double *buffer, const lvMatrix2D *m);
// The closed outline of the job's shape at width x height. Arcs start with the
// two bounds entries.
int BuildShapePoints(int width, const lvShapeJob *job, double *buffer, int height);
// Grows a closed polygon (16.16 points, without the closing point) by distance
// pixels with miter joins; degenerate polygons become their bounding rectangle
// grown by distance. Returns the new count (the buffer holds at least 4 points).
int OffsetPolygon(double distance, double *points, int count);
// The canvas of a plain box: with border b the box becomes (x - b, y - b, W + 2b,
// H + 2b); the shadow extends it.
struct lvBoxCanvas {
    int x, y, width, height;     // the canvas in output pixels
    int shapeX, shapeY;          // the bordered box inside it
    int shadowX, shadowY;        // the shadow copy inside it
};
void BoxCanvas(int border, int x, int y, int width, int height, int shadowSize, int shadowDirection,
               lvBoxCanvas *out);
// Where the shape and the shadow sit in a canvas grown by a shadow of size s.
void ShadowPlacement(int size, int direction, int *shapeX, int *shapeY, int *shadowX, int *shadowY);
// Outline, border outline and geometry of a job (fills width/height-derived job
// fields). Buffers hold SHAPE_MAXPOINTS points. 0 or ERR_WRONGUSAGE (no points).
int BuildShapeOutline(lvShapeJob *job, int *outWidth, int *outHeight, double *fillPoints, int *fillCount,
                      double *borderPoints, int *borderCount);

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
             SHAPE_ARC = 31, SHAPE_PATH = 49 };
// Capacity of an outline buffer in points.
enum : int { SHAPE_MAXPOINTS = 1001 };

struct lvShapeJob;
// A path job's geometry and coverage come from its vector engine: Geometry fills
// the job's sizes and positions (after the style is read), Coverage draws the
// fill (edge 0) or the border outline (edge 1) into a plane of shapeW x shapeH.
struct lvPathShapeHooks {
    void *context;
    int (*Geometry)(void *context, lvShapeJob *job);
    int (*Coverage)(void *context, const lvShapeJob *job, struct lvBitMapHandle *plane, int edge);
    int windows;                 // 1: Coverage honours the job's clipLeft and clipTop
    int sourceNumber;            // the path object drawn, named by a layer made of it
    void *sourceHandle;          // ({0, null}: none)
};

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
    int clipLeft, clipTop;       // the shape's planes begin this far into the bordered shape
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
    const lvPathShapeHooks *path;  // SHAPE_PATH jobs
    struct lvShapeImages *imagesOut;  // render-only jobs hand their images here (no output needed)
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

// ---- Rendering ------------------------------------------------------------------

// The image set of one job (canvasW x canvasH).
struct lvShapeImages {
    lvBitMapHandle *rgb;         // RGB bitmap, or null with the colour-coverage shortcut
    lvBitMapHandle *mask;        // 1-bit mask (no anti-aliasing, no transparency)
    lvBitMapHandle *alpha;       // 8-bit alpha (or the coverage of the shortcut)
    lvBitMapHandle *fillImage;   // gradient or texture fill, freed with the set
    int colourOnly;              // 1: the blit paints the colour below through alpha
    uint32_t colour;
    lvBitMapHandle *pens;        // palette outputs: the pen plane, holding the pens themselves
    uint32_t *palette;           // its 256-entry palette
    int backgroundPen;
    int fillValue, borderValue, shadowValue;  // pen xor 255 per part: the painter's transparency
};
void FreeShapeImages(lvShapeImages *images);
// Makes the image set by the job's needs. 0, or ERR_BITMAP, ERR_ALLOCALPHA,
// ERR_ALLOCMASK, ERR_MEM with nothing left allocated.
int AllocShapeImages(const lvShapeJob *job, int width, int height, int flags, lvShapeImages *images,
                     void *state = nullptr);
// The palette and depth of the current output, or null (true-colour output).
const uint32_t *GetShapeOutputPalette(int *depth);
// Fills a rectangle, or draws its one-pixel frame (filled 0), into each given
// plane: the colour, mask bits set, alpha 255 - transparency.
void FillShapeRect(int height, int y, int x, lvBitMapHandle *rgb, int width, lvBitMapHandle *mask,
                   lvBitMapHandle *alpha, uint32_t colour, int transparency, int filled);
// Fills the polygon (16.16, relative to the plane) into a temporary 8-bit plane of
// width x height and blends the colour through it at (x, y) at 255 - transparency,
// updating the target alpha. 0 or ERR_MEM.
int BlendFillThroughPlane(int width, int height, const double *points, int count, lvBitMapHandle *rgb,
                          lvBitMapHandle *alpha, int x, int y, uint32_t colour, int transparency);
// The line-based renderer. Points and border points are 16.16 in the bordered
// shape's frame, placed at (shapeX, shapeY); the shadow at (shadowX, shadowY).
int RenderShapeLines(lvShapeJob *job, void *state, const double *points, int count, const double *borderPoints,
                     int borderCount, int shapeX, int shapeY, int shadowX, int shadowY, int canvasW, int canvasH,
                     int flags, lvShapeImages *images, uint32_t *colour);

// The current output as the plain-box fill sees it. The display and sprite
// subsystems fill the services; unset services do nothing.
struct lvShapeOutput {
    int kind;                    // OUTPUT_IMAGE, OUTPUT_DISPLAY, OUTPUT_MASK, OUTPUT_ALPHA
    lvBitMapHandle *rgb;         // the target's RGB bitmap, or null
    lvBitMapHandle *mask;        // a selected mask, or null
    lvBitMapHandle *alpha;       // a selected alpha channel or pen plane, or null
    int penPlane;                // 1: alpha is a pen plane
    const uint32_t *palette;     // palette of the output, or null
    int depth;
    int width, height;           // output size
    const lvClipRegion *clip;    // active clip region, or null
    int hardware;                // the target is a hardware bitmap
    int adapterInstalled, adapterRealAlpha, canDrawToWindow;
    int hardwareDoubleBuffer, softwareDoubleBuffer;
    int layersOn, videoPlaying, comboMode;
    int maskMode, alphaIntensity;
    void *context;
    int (*SpriteOverlaps)(void *context, int x, int y, int width, int height);
    void (*AddDamage)(void *context, int x, int y, int width, int height);
    // Writes the rectangle into the display's buffers (and window); style FILLNONE
    // draws the frame only. For FILLGRADIENT the gradient is already in rgb (the
    // display's buffer) and the area is only shown.
    void (*FillDisplayRect)(void *context, int x, int y, int width, int height, uint32_t colour, int style);
};
// The display side completes the output of a display (or of a display's back buffer)
// with its services and conditions; without it no plain box goes straight to a display.
typedef void (*lvShapeOutputHook)(lvShapeOutput *output, struct lvBlitDisplay *display);
void SetShapeOutputHook(lvShapeOutputHook hook);
// The value of RenderShapeOutlined when FillShapeBox did the work.
enum : int { SHAPE_DRAWNDIRECTLY = -2 };
// 1 when every condition for the direct plain-box fill holds.
int CanFillShapeBoxDirectly(const lvShapeJob *job, const lvShapeOutput *output);
// SHAPE_DRAWNDIRECTLY, 0 (not suitable), or an error code.
int FillShapeBox(void *state, lvShapeJob *job, int x, int y, const lvBoxCanvas *canvas, const lvShapeOutput *output);
// The outline renderer: plain boxes as rectangles (or straight into the output),
// curved shapes through the vector engine.
int RenderShapeOutlined(void *state, lvShapeJob *job, int outX, int outY, int canvasW, int canvasH, int shapeX,
                        int shapeY, int shadowX, int shadowY, int flags, lvShapeImages *images, uint32_t *colour,
                        const lvShapeOutput *output);

// ---- Shape layers ----------------------------------------------------------------------

// The shape a layer keeps so that it can be rendered again (owned by the layer).
struct lvShapeLayerShape {
    int type;
    int width, height;
    int radiusX, radiusY;
    int startAngle, endAngle, clockwise;
    int corners[4];
    double *points;              // polygons and lines: pixels, owned (FreeMemory)
    int pointCount;
    int thickness, arrowhead;
    int formStyle;               // FORM_ANTIALIAS counts
    int lineBased;               // the rasteriser chosen when it was drawn
    lvMatrix2D matrix;           // the layer's transform
    double anchorX, anchorY;
    int sourceNumber;            // the object drawn (paths), {0, null} none
    void *sourceHandle;
};
void FreeShapeLayerShape(lvShapeLayerShape *shape);
// The coverage of a shape layer for the layer system's border and shadow styles: an
// alpha plane, or on palette outputs a pen plane with its palette.
struct lvShapeLayerMask {
    lvBitMapHandle *alpha;       // coverage, width x height (alpha output), or null
    lvBitMapHandle *pens;        // pen plane, width x height (palette output), or null
    uint32_t *palette;           // its 256 entries (AllocMemory; the caller frees), or null
    int transparentPen;          // the pen of the pixels the shape does not cover
    int offsetX, offsetY;        // of the coverage's (0, 0) against the layer's
    int width, height;
};
// What the layer system provides (unset: no layers, ERR_UNIMPLCMD).
struct lvShapeLayerServices {
    void *context;
    // The shape a layer keeps and whether its graphics record is in its border form.
    const lvShapeLayerShape *(*LayerShape)(void *context, void *layer, void *graphics, int *borderForm);
    // Makes a layer from the images; takes the images and the shape record on success.
    int (*NewLayerRecord)(void *context, void *state, int type, int x, int y, int width, int height,
                          const lvDrawTags *transform, lvStyleTags *tags, lvShapeImages *images,
                          lvShapeLayerShape *shape, void *owner, int flags, uint32_t colour, int layerFlags);
    // The palette of the layer's output (256 entries), or null. Optional.
    const uint32_t *(*LayerPalette)(void *context, void *layer);
    // The scale factors of the layer's display, 1 when it does not scale. Optional.
    void (*DisplayScale)(void *context, void *layer, double *scaleX, double *scaleY);
};
void SetShapeLayerServices(const lvShapeLayerServices *services);
// Flags of BuildShapeLayerMask.
enum : int { LAYERMASK_NODISPLAYSCALE = 8 };
// The pen that asks BuildShapeLayerMask for a pen plane (palette outputs).
enum : int { LAYERMASK_PALETTEPEN = 255 };
// 0 with the coverage in out (the caller frees out->alpha, or out->pens and out->palette),
// or ERR_ALLOCALPHA, ERR_ALLOCCHUNKY, ERR_MEM, ERR_UNIMPLCMD (no layer system). A pen of
// LAYERMASK_PALETTEPEN gives the pen plane: covered pixels take pen 1 in
// PALETTEMODE_REMAP (the palette holds the colour there), else that pen with the layer's
// palette.
int BuildShapeLayerMask(void *layer, void *graphics, uint32_t colour, int pen, int paletteMode, int borderSize,
                        int flags, lvShapeLayerMask *out);
// Copies the job's shape into a record the layer owns and makes the layer. On
// failure the images are freed. 0 or the error.
int NewShapeLayer(void *state, const lvShapeJob *job, int x, int y, int width, int height, lvStyleTags *tags,
                  lvShapeImages *images, void *owner, int flags, uint32_t colour, int layerFlags);

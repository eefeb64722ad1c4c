// lvdraw.h - the shape engine's entries and the line engine: a shape call becomes a
// job, the job is rendered into an image set by the shape renderers (or filled
// straight into the output) and the set is composited into the current output
// through the blit. Also the pixel access of Plot and ReadPixel, and the "draw"
// command library that reads script arguments into these calls.
//
// Every entry works on the current output (the current display, or what a selection
// redirected drawing to) and never writes the global draw style: a job copies it.
//
// Depends on: images/lvshape.h, raster/lvdrawtags.h, raster/lvraster.h.
// Limits: script thread only.
#pragma once
#include <cstdint>

#include "images/lvshape.h"
#include "raster/lvdrawtags.h"
#include "vm/lvvm.h"

// The current output as the shape and line engines draw into it.
struct lvDrawOutput {
    struct lvBlitDisplay *display;
    struct lvDrawTarget *target;
    struct lvBGPic *record;             // the output record, or null
    struct lvBitMapHandle *rgb;         // target RGB (redirected outputs), or null for the display
    struct lvBitMapHandle *chunky;      // target pen plane when it has no RGB
    const uint32_t *palette;            // palette of the output, or null
    int depth;
    int width, height;
    struct lvClipRegion *clip;
    int layersOn;
};
// Fills *o from the current output; runCheck runs the selection's check first (state is
// the machine state, or null). 0, ERR_OUTPUTDEVICE or the check's error.
int CaptureDrawOutput(void *state, lvDrawOutput *o, int runCheck);
// Blits a shape's image set at (x, y) into the captured output: its RGB through mask or
// alpha, the colour through the coverage of the shortcut (the draw pen in pen mode, else
// the colour's nearest pen on palette outputs), or its pen plane.
void CompositeShapeImages(void *state, const lvDrawOutput &o, const lvShapeImages &img, uint32_t colour, int x,
                          int y, int width, int height, int paletteMode, int drawPen);
// Runs the style tags' filters over a rendered set and takes the tags' transparency into
// its alpha (a mask becomes alpha) before the set is composited. Nothing happens without
// tags or while the display keeps layers (the layer engine applies the style itself).
// 0 or ERR_ALLOCALPHA; the set stays whole either way.
int FilterShapeImages(const struct lvStyleTags *tags, lvShapeImages *img, int width, int height);

// Flags of the shape engine.
enum : int {
    SHAPEF_RENDERONLY = 0x01,  // render, never composite
    SHAPEF_LAYERCREATE = 0x02, // passed on to layer creation
    SHAPEF_RERENDER = 0x10,    // a layer's shape rendered again
    SHAPEF_UPDATELAYER = 0x20, // the images of an existing layer are replaced
    SHAPEF_NOSHORTCUT = 0x400, // never the colour-coverage shortcut
};
enum : int { ARROWHEAD_NONE = 0, ARROWHEAD_SINGLE = 1, ARROWHEAD_DOUBLE = 2 };

// corners: top left, bottom left, bottom right, top right (percent, clamped to 0..100).
int DrawBoxShape(void *state, const lvDrawStyle *style, int x, int y, int width, int height, uint32_t colour,
                 const int corners[4], int paletteMode, const lvDrawTags *transform, lvStyleTags *tags, int flags);
// type SHAPE_CIRCLE or SHAPE_ELLIPSE; (x, y) is the top left of the (2 rx + 1) x (2 ry + 1) box.
int DrawEllipseShape(void *state, const lvDrawStyle *style, int type, int x, int y, int radiusX, int radiusY,
                     uint32_t colour, int paletteMode, const lvDrawTags *transform, lvStyleTags *tags, int flags);
// Equal angles draw nothing.
int DrawArcShape(void *state, const lvDrawStyle *style, int x, int y, int radiusX, int radiusY, int start, int end,
                 uint32_t colour, int clockwise, int paletteMode, const lvDrawTags *transform, lvStyleTags *tags,
                 int flags);
// Points are pixel pairs relative to (x, y), count of them; width and height their
// integer bounds. type SHAPE_POLYGON, or SHAPE_LINE for a thick arrowed line.
int DrawPolygonShape(void *state, const lvDrawStyle *style, int type, int x, int y, int width, int height,
                     const double *points, int count, uint32_t colour, int paletteMode, const lvDrawTags *transform,
                     lvStyleTags *tags, int flags);
int RenderShape(lvShapeJob *job, void *state, int flags);
// A shape rendered into images of its own: the set and where its top left lies.
struct lvShapeImageResult {
    lvShapeImages images;        // RGB with alpha; the caller frees them (FreeShapeImages)
    int x, y, width, height;
};
// A vector path's shape: width x height is its fill box; the hooks give its
// geometry and coverage (drawn by a vector engine). With result the shape is
// rendered into RGB and alpha images handed back instead of drawn.
int DrawPathShape(void *state, const lvDrawStyle *style, int x, int y, int width, int height, uint32_t colour,
                  int paletteMode, const lvDrawTags *transform, lvStyleTags *tags, int flags,
                  const lvPathShapeHooks *hooks, lvShapeImageResult *result = nullptr);

// The draw library's shapes drawn as paths while the vector-path library asks it
// (ForcePathUse): the shape's type and geometry, its colour and draw tags.
struct lvShapeAsPath {
    int type;                    // SHAPE_BOX, SHAPE_CIRCLE, SHAPE_ELLIPSE, SHAPE_POLYGON, SHAPE_ARC
    int x, y;
    int width, height;           // boxes
    int corners[4];              // boxes
    int radiusX, radiusY;        // circles, ellipses, arcs
    int start, end, clockwise;   // arcs
    const double *points;        // polygons: pixel pairs relative to (x, y)
    int count;
    uint32_t colour;
    const lvDrawTags *tags;
    lvStyleTags *styleTags;
};
// The hook returns the command's result; null (the default) leaves shapes to the
// shape engine.
typedef int (*lvShapeAsPathHook)(void *state, const lvShapeAsPath *shape);
void SetShapeAsPathHook(lvShapeAsPathHook hook);
lvShapeAsPathHook GetShapeAsPathHook(void);

// The line engine: thickness clamped to 1..64, arrowhead ARROWHEAD_...
int DrawThickLine(void *state, const lvDrawStyle *style, int x1, int y1, int x2, int y2, uint32_t colour,
                  int thickness, int arrowhead, int paletteMode, const lvDrawTags *transform, lvStyleTags *tags,
                  int flags);
// 0 when the segment lies wholly outside [low, high] in x, else 1 with its ends moved
// onto the range (y truncated). Called with x and y swapped it clips in y.
int ClipLineToRange(int *x1, int *y1, int *x2, int *y2, int low, int high);
// A one-pixel line the display side may draw straight onto a display: end points on the
// output, colour with its transparency in the top byte, the clip region (or null) and
// the output's size.
struct lvDisplayLine {
    int x1, y1, x2, y2;
    uint32_t colour;
    int transparency;
    const struct lvClipRegion *clip;
    int width, height;
};
// 1 when the display side drew the line (or found it wholly outside), 0 when it must be
// rendered into an image and blitted instead.
typedef int (*lvDisplayLineHook)(struct lvBlitDisplay *display, const lvDisplayLine *line);
void SetDisplayLineHook(lvDisplayLineHook hook);
// A single opaque pixel the display side may write straight onto a display (inside the
// output and the clip region): 1 when written, 0 when it must be blitted instead.
typedef int (*lvDisplayPixelHook)(struct lvBlitDisplay *display, int x, int y, uint32_t colour);
void SetDisplayPixelHook(lvDisplayPixelHook hook);
// Three points at points[2 index ..]: one base corner, the tip (x2, y2), the other
// base corner; coordinates truncated. The base is 6 size wide.
void ArrowheadPoints(double x1, double y1, double x2, double y2, double angle, double size, int index,
                     double *points);
// Whether segments a1-a2 and b1-b2 meet (both parameters in 0..1); the point truncated.
bool SegmentIntersection(const double a1[2], const double a2[2], const double b1[2], const double b2[2],
                         double out[2]);
// The closed polygon of a thick arrowed line in output pixels (not moved to 0).
// Returns the point count (at most 10), or 0 when the line has no length (it is
// then drawn without heads).
int ThickArrowPolygon(int x1, int y1, int x2, int y2, int thickness, int arrowhead, double *points);

// Single pixels of the current output; (x, y) resolved as special coordinates.
int PlotOutputPixel(void *state, int x, int y, uint32_t colour);
int ReadOutputPixel(void *state, int x, int y, uint32_t *value);

// The six point buffers the shape engine reuses (null until the library opens).
double *GetDrawBuffer(int index);
int AllocDrawBuffers(void);
void FreeDrawBuffers(void);

int OpenDrawLibrary(lvState *L);
const lvConstantEntry *GetDrawConstants(void);
void CloseDrawLibrary(lvState *L, int full);

// Reads count vertices (0: until a Nil x, at most 999) from the table at index into
// points (pixels, closed, moved so that their minimum is 0); minX/minY the rounded
// minimum, width/height the integer bounds. 0, ERR_NUMTABLEARG ("polygon"),
// ERR_INTERNAL, ERR_TABEXPECTED.
int ReadPolygonVertices(lvState *L, int index, int count, double *points, int *pointCount, int *minX, int *minY,
                        int *width, int *height);

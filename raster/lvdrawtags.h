// lvdrawtags.h - the draw tags and style tags of drawing commands, the global
// draw style and font-style defaults, and the small geometry that goes with
// them (the 2x2 matrix, shadow offsets).
//
// A drawing command copies the templates into its own records, lets
// ParseDrawTags read its last argument into them and draws with the result.
// The templates and the draw style live in DrawingState (lvdrawstate.h).
//
// Depends on: raster/lvrect.h (lvMatrix2D), raster/lvinit.h (lvGradient),
// vm/lvvm.h (the script stack the parsers read).
// Limits: script thread only.
#pragma once
#include <cstdint>

#include "raster/lvinit.h"
#include "raster/lvrect.h"

struct lvState;

enum : int { FILLNONE = 0, FILLCOLOR = 1, FILLGRADIENT = 2, FILLTEXTURE = 3 };
enum : int {
    FORM_NORMAL = 1, FORM_BOLD = 2, FORM_ITALIC = 4, FORM_UNDERLINED = 8, FORM_ANTIALIAS = 16, FORM_SHADOW = 32,
    FORM_BORDER = 64,
};
enum : int { SHDWNORTH = 0, SHDWNORTHEAST, SHDWEAST, SHDWSOUTHEAST, SHDWSOUTH, SHDWSOUTHWEST, SHDWWEST, SHDWNORTHWEST };

// The global draw style every shape, text and fill reads.
struct lvDrawStyle {
    int fillStyle;          // FILLNONE .. FILLTEXTURE
    int formStyle;          // FORM_... flags
    int drawPen;            // pen of palette-mode drawing
    lvGradient gradient;    // of FILLGRADIENT
    int64_t textureBrush;   // brush id of FILLTEXTURE
    int borderSize;         // 1..64
    uint32_t borderColour;
    int borderPen;
    int shadowSize;         // 1..64
    int shadowDirection;    // SHDWNORTH .. SHDWNORTHWEST
    uint32_t shadowColour;
    int shadowPen;
    int lineWidth;          // outline of FILLNONE shapes, >= 1
    int textureX, textureY; // texture offset
};

// The text style's defaults (the text library takes this record over).
struct lvFontStyle {
    int style;              // FORM_... flags
    uint32_t colour, shadowColour, borderColour, secondColour;
    int drawPen, shadowPen, borderPen, bulletPen;
    int shadowSize, shadowDirection, borderSize;
};

// One filter slot of the style tags.
struct lvFilterSlot {
    uint8_t enabled;
    uint8_t priority;       // 0..255
    int ints[4];
    float floats[4];
};
enum : int { FILTER_COUNT = 21, FILTER_PIXELATE = 11, FILTER_SWIRL = 15, FILTER_TINT = 16, FILTER_WATERRIPPLE = 17,
             FILTER_XFLIP = 18, FILTER_YFLIP = 19 };

struct lvDrawTags {
    lvMatrix2D matrix;      // the transform actually used
    double scaleX, scaleY;
    int width, height;      // wanted size, 0 = the object's own
    double rotate;          // degrees, reduced by 360
    lvMatrix2D transform;   // the "transform" tag's matrix
    int transformGiven;     // 1: "transform" replaces the matrix
    int smoothScale;
    int rotatedAndScaled;   // a rotation with a scale other than 1
    double anchorX, anchorY;// 0..1
};

struct lvShadowTags {
    int on;
    uint32_t colour;
    int pen, size, direction;
    double radius, sigma;
};
struct lvBorderTags {
    int on;
    uint32_t colour;
    int size, pen;
};

struct lvStyleTags {
    char name[256];
    char group[65];
    int hidden;
    int insertPos;          // 0: at the end
    int transparency;       // 0..255
    int globalTransparency;
    lvShadowTags shadow;
    lvBorderTags border;
    lvFilterSlot filters[FILTER_COUNT];
    int needsStyle;
};

// Flags of ParseDrawTags.
enum : int {
    DRAWTAGS_FROMTEMPLATE = 1, DRAWTAGS_NEEDTABLE = 2, DRAWTAGS_NOSIZE = 4, DRAWTAGS_NOROTATE = 8,
    DRAWTAGS_SMOOTHONROTATE = 0x10,
};

// 0 or an error code; records are left partly filled on error.
int ParseDrawTags(lvState *L, int index, int sourceWidth, int sourceHeight, int targetWidth, int targetHeight,
                  int smoothDefault, lvDrawTags *tags, lvStyleTags *style, int flags);
int ParseShadowTags(lvState *L, int index, lvShadowTags *shadow, int *present);
int ParseBorderTags(lvState *L, int index, int edgeKeys, lvBorderTags *border, int *present);
// true when a "filters" table was read; errors through *error.
bool ParseFilterTags(lvState *L, int index, lvFilterSlot *slots, int *anyGiven, int *error);
int HasEnabledFilter(const lvFilterSlot *slots);
int IsGeometricFilter(int slot);
int HasColorFilter(const lvFilterSlot *slots);

void SetIdentityMatrix(lvMatrix2D *m);
void MatrixFromScaleRotate(lvMatrix2D *m, int width, int height, int sourceWidth, int sourceHeight, double scaleX,
                           double scaleY, double angle);
void ComputeDrawTagsMatrix(lvDrawTags *tags, int sourceWidth, int sourceHeight);
// The display's scaling applied after the transform (its factors come from
// the display services; nothing happens without them).
// Nothing calls ApplyDisplayScaleToMatrix yet: kept for the text and layer drawing still to come.
void ApplyDisplayScaleToMatrix(lvMatrix2D *m, void *display);
// 0 or ERR_PENRANGE; paletteDepth 0 when no palette check applies.
int ApplyFormStyleToTags(lvDrawStyle *style, lvStyleTags *tags, int paletteChecksOff, uint32_t colour,
                         int paletteDepth);
void AddShadowExtent(int direction, int size, int *width, int *height);
void GetShadowOffsets(int size, int direction, int *left, int *top, int *right, int *bottom);

void InitDrawTags(lvDrawTags *tags);
void InitStyleTags(lvStyleTags *style);
void InitDrawTagsForSize(lvDrawTags *tags, lvStyleTags *style, int width, int height, int smoothDefault, int flags);

// ---- Draw style -------------------------------------------------------------
void ClampDrawStyle();
// The defaults of the draw style, font style and both templates.
void SetDrawingDefaults();
lvDrawStyle *GetDrawStyle();
// Nothing calls GetFontStyle yet: kept for the text commands still to come.
lvFontStyle *GetFontStyle();

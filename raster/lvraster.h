// lvraster.h - the raster engine's run-wide state and the services it needs of
// the display, clip-region, sprite and layer subsystems.
//
// The blit reaches displays, clip regions, sprites and layers only through the
// lvRasterServices table below; the subsystems that own them install their
// entries with SetRasterServices. Until then every slot holds a default that
// does nothing (or, for the clip-mask merge, the engine's own native merge),
// so callers never test for null.
//
// Depends on: raster/lvbitmap.h.
// Limits: script thread only; nothing here is locked.
#pragma once
#include <cstdint>

#include "raster/lvbitmap.h"

// ---- Drawing targets and displays as the blit sees them ---------------------

// Output kinds of a draw target.
enum : int {
    OUTPUT_BGPIC = 1,    // a background picture that is not on show
    OUTPUT_IMAGE = 3,    // a selected image (brush, picture, ...)
    OUTPUT_DISPLAY = 21, // the display itself
    OUTPUT_MASK = 28,    // the selected image's mask
    OUTPUT_ALPHA = 30,   // the selected image's alpha channel
};
// Selection modes.
enum : int { SELMODE_NORMAL = 0, SELMODE_COMBO = 1, SELMODE_LAYERS = 2 };
// Mask operations (mask modes).
enum : int {
    MASKVISIBLE = 0,
    MASKINVISIBLE = 1,
    MASKVANILLACOPY = 2,
    MASKXOR = 3,
    MASKAND = 4,
    MASKOR = 5,
};
// Alpha intensity meaning "copy the source alpha as it is".
enum : int { VANILLACOPY = -1 };

// The draw-target block of a display: where drawing goes.
struct lvDrawTarget {
    int kind;                       // OUTPUT_...
    int hardware;                   // 1: the selected image is a hardware (video) bitmap
    int depth;                      // palette depth of the selected image
    int selectionMode;              // SELMODE_...
    int combineMode;                // the third argument of a combined selection
    lvBitMapHandle *bitmap;         // the selected image's RGB bitmap
    lvBitMapHandle *mask;           // set when the output is a mask
    lvBitMapHandle *alpha;          // set when the output is an alpha channel
    lvBitMapHandle *paletteBitmap;  // the selected image's pen plane
    uint32_t *palette;              // its palette (256 ARGB words)
    // Run by the first drawing operation after a selection; 0 or an error code.
    int (*checkCallback)(void *state, lvDrawTarget *target);
    // Ends the selection; 0 or an error code.
    int (*endCallback)(void *state, lvDrawTarget *target);
};

// One RGB bitmap and, for palette displays, its chunky twin.
struct lvBufferPair {
    lvBitMapHandle *rgb;     // RGB buffer
    lvBitMapHandle *chunky;  // pen buffer, or null
};

// A background picture as the blit sees it.
struct lvBlitPicture {
    int width;                // pixels
    int height;               // pixels
    int depth;                // palette depth (0 for true colour)
    uint32_t *palette;        // 256 ARGB words, or null
    lvBufferPair pair;        // the picture's own bitmaps
    lvBufferPair scaledPair;  // its second (scaled) pair
    int scaledWidth;          // size of the scaled pair
    int scaledHeight;
    void *owner;              // the owning subsystem's record
};

// A display as the blit sees it; the display subsystem embeds one per display.
struct lvBlitDisplay {
    lvDrawTarget target;       // the draw-target block
    int layers;                // 1: the display keeps layers
    lvBlitPicture *picture;    // its current background picture
    int hardwareDoubleBuffer;  // 1: drawing goes straight to a hardware double buffer
    int doubleBufferActive;    // 1: double buffering is active
    lvBufferPair background;   // what was drawn, without layers and sprites
    lvBufferPair shown;        // what is shown
    int scaling;               // 1: the display is scaling
    int scaledWidth;           // scaled size
    int scaledHeight;
    void *owner;               // the owning subsystem's record
};

// A clip region as the blit sees it.
struct lvClipRegion {
    int x, y;               // position
    int width, height;      // size
    lvBitMapHandle *mask;   // 1-bit mask of the region's shape, or null
};

// A whole blit request (the arguments of BlitImage after defaults).
// A hardware (video) source that the display draws through a transform or with a
// transparency itself (adapters with video capability 0x200, transparency 0x400): the
// picture keeps its pixels and the display's PresentDisplayRect gets this record.
struct lvHardwareTransform {
    double matrix[4];                // sx, rx, ry, sy of the draw tags (identity: none)
    double anchorX, anchorY;         // the draw tags' anchor
    int transparency;                // 255 opaque .. 1 (255 - the style's transparency)
    int boundsWidth, boundsHeight;   // the transformed picture's size on the target
};

struct lvBlitRequest {
    void *state;                   // script state, handed on
    lvBitMapHandle *sourceRgb;     // RGB source or null
    int sourceX, sourceY;          // offset in the source
    lvBitMapHandle *targetRgb;     // RGB target or null
    lvBitMapHandle *targetChunky;  // chunky target or null
    const uint32_t *targetPalette; // palette of the chunky target
    int targetDepth;               // its depth in bits
    int targetX, targetY;          // position in the target
    int width, height;             // rectangle size
    int sourceWidth, sourceHeight; // for clipping
    int targetWidth, targetHeight; // for clipping
    int flags;                     // BLIT_...
    lvBitMapHandle *mask;          // 1-bit mask of the source
    lvBitMapHandle *alpha;         // 8-bit alpha of the source
    lvBitMapHandle *sourceChunky;  // pen plane of a palette source
    const uint32_t *sourcePalette; // its palette
    int transparent;               // transparent pen, or the colour of a colour-only source
    int paletteMode;               // PALETTEMODE_...
    int pen;                       // pen of pen-mode drawing
    int ditherMode;                // DITHERMODE_...
    lvClipRegion *clipRegion;      // or null
    lvDrawTarget *output;          // the draw target honoured, or null
    lvBitMapHandle *takenMask;     // a chunky source's mask, set aside
    const lvHardwareTransform *transform;  // a hardware source drawn by the display, or null
};

// Scratch planes of a clip-region merge, freed at the end of the blit.
struct lvClipScratch {
    lvBitMapHandle *mask;   // merged mask, or null
    lvBitMapHandle *alpha;  // merged alpha, or null
};

// ---- Services of other subsystems -------------------------------------------
struct lvRasterServices {
    void *context;  // handed back to every entry
    // A display metric (1 desktop depth, 2/3 mouse x/y, 4/5 cursor size).
    intptr_t (*GetDisplayMetric)(void *context, void *display, int code);
    // Shows a rectangle of a picture on a display with a hardware double buffer.
    void (*PresentDisplayRect)(void *context, lvBlitDisplay *display, const lvBlitRequest *request);
    // Presents a rectangle of a bitmap (or of a chunky plane through the palette) on the display.
    void (*BlitToDisplay)(void *context, lvBitMapHandle *rgb, int sx, int sy, lvBlitDisplay *display, int tx,
                          int ty, int width, int height, lvBitMapHandle *chunky, const uint32_t *palette, int flags);
    // 1 when the rectangle touches a sprite and the picture was drawn beneath the sprites.
    int (*DrawBeneathSprites)(void *context, const lvBlitRequest *request);
    // Merges the region's mask with the source's mask or alpha into scratch planes
    // (replacing them in the request); 0 when nothing of the rectangle is visible.
    int (*MergeClipRegionMask)(void *context, lvBlitRequest *request, lvClipScratch *scratch);
    // Draws the layers covering a rectangle over the display pair.
    void (*DrawLayersInRect)(void *context, lvBlitDisplay *display, lvBlitPicture *picture, int x, int y, int width,
                             int height, int flags);
    // Redraws the sprites touching a rectangle.
    void (*RedrawSpritesInRect)(void *context, lvBlitDisplay *display, int x, int y, int width, int height);
    // Notes a rectangle drawn into a picture that is not on show.
    void (*AddDisplayDamage)(void *context, lvBlitDisplay *display, int x, int y, int width, int height);
    // The current output's area on one axis (0 x, 1 y): origin and size; 0 when there is no output.
    int (*GetOutputArea)(void *context, int axis, int *origin, int *size);
};

// ---- Run-wide state ---------------------------------------------------------
struct lvRasterState {
    lvDisplayAdapter *adapter;           // installed display adapter, or null
    lvRasterServices services;           // services of other subsystems
    lvBlitDisplay *currentDisplay;       // where drawing goes, or null
    lvBlitDisplay *bitmapTargetDisplay;  // stands in while blitting into bitmaps with no display
    int paletteMode;                     // PALETTEMODE_...
    int ditherMode;                      // DITHERMODE_...
    int maskMode;                        // MASK...
    int alphaIntensity;                  // 0..255 or VANILLACOPY
    int drawPen;                         // pen of palette-mode drawing
    int transparentThreshold;            // 0..255: alpha at or below it is transparent when quantising
};
extern lvRasterState RasterState;

// Installs the services (slots left null get the defaults); null restores all defaults.
void SetRasterServices(const lvRasterServices *services);
// Puts the run-wide state back to its start values (adapter and services kept).
void ResetRasterModes();

// The engine's own merge of a clip region's mask into scratch planes (the
// default of the MergeClipRegionMask slot).
int MergeClipRegionMaskNative(void *context, lvBlitRequest *request, lvClipScratch *scratch);

// Palette helpers that read the run-wide state.
int GetPenForColor(uint32_t colour, const uint32_t *palette, int depth);
const uint32_t *ChooseBlitPalette(int paletteMode, const uint32_t *palette);

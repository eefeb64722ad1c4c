// lvimage.h - picture sets: duplicates, conversions between ARGB buffers,
// palette pictures and bitmap sets, tiled fills, visible bounds, and the
// shared cache of decoded pictures.
//
// A set is RGB, 1-bit mask, 8-bit alpha, 8-bit chunky (pen) plane and a
// 256-entry ARGB palette, each optional. Every routine either returns 0 and
// fills its outputs or returns an error code with nothing left allocated and
// the outputs untouched.
//
// Depends on: raster/lvbitmap.h, raster/lvrect.h.
// Limits: script thread only.
#pragma once
#include <cstdint>

#include "raster/lvbitmap.h"
#include "raster/lvrect.h"

// The planes of one picture.
struct lvPictureSet {
    lvBitMapHandle *rgb;     // RGB, or null
    lvBitMapHandle *mask;    // 1-bit mask, or null
    lvBitMapHandle *alpha;   // 8-bit alpha, or null
    lvBitMapHandle *chunky;  // 8-bit pens, or null
    uint32_t *palette;       // 256 ARGB words (AllocMemory), or null
};

// Copies a rectangle of a set into new bitmaps (width or height 0: the first
// present plane's size). videoWanted makes the RGB copy a video bitmap (flag
// 8, +0x10 with the transparency flag).
int DuplicateImage(const lvPictureSet *source, int sourceX, int sourceY, int width, int height, int videoWanted,
                   int transparency, void *display, lvPictureSet *out);
// Frees what is there and clears each pointer.
void FreeBitmapSet(lvBitMapHandle **rgb, lvBitMapHandle **mask, lvBitMapHandle **alpha, lvBitMapHandle **chunky,
                   uint32_t **palette);
void FreePictureSet(lvPictureSet *set);

// A new RGB bitmap from pens through the palette; with a transparent pen other
// than -1 a cleared mask (maskWanted) or an alpha channel marks the other pens.
int ChunkyToRgbBitmap(lvBitMapHandle *chunky, int width, int height, int transparentPen, int maskWanted,
                      const uint32_t *palette, lvBitMapHandle **rgb, lvBitMapHandle **mask, lvBitMapHandle **alpha);
// Nothing calls CopyImageRect yet: kept for the brushes, effects, layers and transitions still to come.
void CopyImageRect(lvBitMapHandle *rgbSource, lvBitMapHandle *chunkySource, int sx, int sy, lvBitMapHandle *rgbTarget,
                   lvBitMapHandle *chunkyTarget, int tx, int ty, int width, int height);
// 0, ERR_ALLOCCHUNKY or ERR_BITMAP.
// Nothing calls AllocTargetBitmap yet: kept for the brushes, effects, layers and transitions still to come.
int AllocTargetBitmap(int width, int height, int paletteMode, lvBitMapHandle **rgb, lvBitMapHandle **chunky);
// 1 with the pixels of the mask (else of the alpha plane); 0 when neither exists.
int GetMaskOrAlphaPixels(lvBitMapHandle *mask, lvBitMapHandle *alpha, uint8_t **pixels, int *rowBytes, int write,
                         uintptr_t *token, int *isMask);
// A new ARGB buffer (AllocMemory) of a rectangle of a set, or null.
uint32_t *ExtractArgbPixels(lvBitMapHandle *rgb, int x, int y, int width, int height, lvBitMapHandle *mask,
                            lvBitMapHandle *alpha, lvBitMapHandle *chunky, const uint32_t *palette, int transparentPen,
                            int64_t replacement, int lockMode);
// A new ARGB buffer of a rectangle of a bitmap (null handle: the display, read
// through the adapter). 0, ERR_MEM, ERR_READVIDEOPIXELS or ERR_LOCKBMAP.
int ReadBitmapPixels(lvBitMapHandle *handle, int x, int y, int width, int height, int *hasAlpha, uint32_t **buffer);
lvBitMapHandle *CopyAlphaBitmap(int width, lvBitMapHandle *alpha, int height);

// Bitmap flags of BitmapFromArgb and CreateVideoBitmapFromArgb.
enum : int {
    ARGBF_TRANSPARENCY = 1,  // the buffer carries transparency
    ARGBF_ALPHA = 2,         // with a video request: make an alpha channel too
    ARGBF_KEEPBUFFER = 4,    // the buffer is used as it is
    ARGBF_ALPHACHANNEL = 8,  // always make an alpha channel from the high bytes
};
// RGB bitmap from ARGB words (row length in pixels), a mask from the colour key
// (-1: none) and an alpha channel as the flags ask; *alpha may bring an alpha
// plane that is kept (folded into a video bitmap).
int BitmapFromArgb(const uint32_t *argb, int64_t transparentColour, int width, int height, int rowLength,
                   int videoWanted, int flags, void *display, lvBitMapHandle **rgb, lvBitMapHandle **mask,
                   lvBitMapHandle **alpha);
// 0 or ERR_BITMAP; *fallback = 1 when the adapter could not make it but has
// the video fallback. A given *alpha is folded in and freed.
int CreateVideoBitmapFromArgb(const uint32_t *argb, int64_t transparentColour, int width, int height, int rowLength,
                              int flags, void *display, lvBitMapHandle **rgb, lvBitMapHandle **alpha, int *fallback);

void TileImageRect(lvBitMapHandle *targetRgb, lvBitMapHandle *targetChunky, int x, int y, int width, int height,
                   lvBitMapHandle *sourceRgb, lvBitMapHandle *sourceChunky, const uint32_t *palette, int offsetX,
                   int offsetY, int tileWidth, int tileHeight, uint32_t *argbTarget, const uint32_t *argbSource,
                   int rowLength);
// Fills with the draw style's texture brush (found through the brush
// services), scaled by a pure-scale matrix. 0 or an error code.
struct lvDrawStyle;
int FillRectWithTexture(void *state, lvBitMapHandle *targetRgb, lvBitMapHandle *targetChunky, int x, int y, int width,
                        int height, const lvDrawStyle *style, const lvMatrix2D *matrix);
// Fills a polygon into an 8-bit plane through the imaging services.
// Nothing calls FillPolygonIntoBitmap yet: kept for the shape engine and the transitions still to come.
void FillPolygonIntoBitmap(lvBitMapHandle *plane, const double *polygon, int count, int value);
// 1 and the bounds of the visible pixels, or 0 when none is visible.
int GetOpaqueBounds(lvBitMapHandle *mask, lvBitMapHandle *plane, int width, int height, int transparentValue, int *x,
                    int *y, int *boundsWidth, int *boundsHeight);

// ---- Image cache ------------------------------------------------------------
// One decoded picture shared by the objects that load the same file.
struct lvImageSource;
struct lvImageCacheNode {
    lvImageCacheNode *next;
    char name[1025];           // file name (compared without regard to case)
    int width, height, depth;
    int64_t transparent;       // transparent colour or pen
    uint32_t flags;
    lvImageSource *source;     // reference counted through the image-source services
    lvBitMapHandle *alpha;     // its own copy, or null
    int64_t value1, value2;    // kept for the loaders, unchanged
    uint32_t palette[256];
    int hasPalette;
    uint8_t *records;          // count 6-byte records (own copy), or null
    int recordCount;
    char secondName[257];
};
// What AddCachedImage stores and FindCachedImage answers.
struct lvCachedImage {
    int width, height, depth;
    int64_t transparent;
    uint32_t flags;
    lvImageSource *source;
    lvBitMapHandle *alpha;     // FindCachedImage: a new copy when asked for
    int64_t value1, value2;
    const uint32_t *palette;   // Add: null for none; Find: out-copy below
    uint32_t paletteCopy[256];
    int hasPalette;
    uint8_t *records;          // Add: records to copy; Find: a new copy (AllocMemory)
    int recordCount;
    char secondName[257];
};
// 0, ERR_CACHEERROR (no such name, or no alpha when asked) or ERR_MEM.
int FindCachedImage(const char *name, int copyAlpha, lvCachedImage *out);
// 0, ERR_ALLOCALPHA or ERR_MEM.
int AddCachedImage(const char *name, const lvCachedImage *image);
void FreeImageCache();
int CountCachedImages();

// One entry of the applet's preload list as the duplicate marking sees it.
struct lvPreloadEntry {
    int kind;               // 1 brush, 2 BGPic, 7 anim, others ignored
    const char *file;       // file name, or null without a source
    int64_t options[3];     // three option values compared
    uint32_t optionBits;    // bits 0, 1 and 2 of the options
    int duplicate;          // set: loads the same picture as an earlier entry
    int hasDuplicates;      // set: later entries share this one's picture
    int keepBit0;           // set: a duplicate asks for what bit 0 asks
};
void MarkDuplicatePreloads(lvPreloadEntry *entries, int count);

// A handle over an adapter video bitmap (the backing is freed when no handle
// can be had), or null.
lvBitMapHandle *WrapVideoBitmap(int width, int height, void *backing, int aux);

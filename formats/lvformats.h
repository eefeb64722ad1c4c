// lvformats.h - picture files: identification, the BMP, PNG and JPEG readers and
// writers, the decoding dispatch, reference-counted image sources and the loader
// chain that walks plug-ins, the built-in readers and the platform decoder.
//
// Pixel buffers are 32-bit words 0xAARRGGBB (little-endian bytes B, G, R, A) or,
// in palette mode, 8-bit pens with a palette of 256 such words.
//
// Dependencies: runtime/vfile.h (every byte goes through the virtual file layer, so
// ":::chunk" names and file adapters work), runtime/lvplugin.h (the loader plug-in
// record), raster/lvbitmap.h (alpha bitmaps), raster/lvimgfmt.h (the IMGFMT_ ids),
// libpng 1.6 and libjpeg-turbo.
// Limits: script thread only. Every reader and every scaled or packed copy refuses
// more than LV_MAX_IMAGE_PIXELS pixels with ERR_MEM before allocating.
#pragma once
#include "raster/lvimgfmt.h"
#include "runtime/lvplugin.h"
#include "runtime/vfile.h"
#include <cstddef>
#include <cstdint>

struct lvBitMapHandle;

// ============================================================================
// Formats, flags, limits
// ============================================================================

// Format ids of identification, decoded images and probes: IMGFMT_* of raster/lvimgfmt.h.

// Flags of lvImageLoadRequest (and of the readers).
enum {
    LV_IMGLOAD_ALPHA = 0x1,            // make an alpha bitmap (error without alpha unless NOALPHAOK)
    LV_IMGLOAD_TRANSPEN = 0x2,         // a transparent pen is needed (error without one unless NOPENOK)
    LV_IMGLOAD_PALETTE = 0x4,          // pixels are 8-bit pens
    LV_IMGLOAD_ILBMTRANSPARENCY = 0x8, // ILBM: transparency handling without the missing-pen error
    LV_IMGLOAD_NOALPHAOK = 0x10,       // a missing alpha channel is no error
    LV_IMGLOAD_KEEPALPHA = 0x20,       // the alpha bitmap stays in the request
    LV_IMGLOAD_TRANSCOLOR = 0x40,      // transparentColor is valid
    LV_IMGLOAD_SIZEONLY = 0x80,        // identify, do not decode
    LV_IMGLOAD_COPYPALETTE = 0x100,    // decoders return a copy of the palette
    LV_IMGLOAD_NOPLUGINS = 0x200,      // skip plug-ins
    LV_IMGLOAD_PALETTEONLY = 0x400,    // only the palette is wanted
    LV_IMGLOAD_NOPENOK = 0x1000,       // a missing transparent pen is no error
    LV_IMGLOAD_PACKROWS = 0x2000,      // deliver rows without padding
};

// The one pixel limit of every reader and every scaled or packed copy.
#define LV_MAX_IMAGE_PIXELS (int64_t(1) << 28)
// True when width x height (computed in 64 bits) is positive and within the limit.
bool ImagePixelsFit(int64_t width, int64_t height);

// ============================================================================
// Records
// ============================================================================

// A colour-cycling range of a palette picture, as read from a CRNG chunk.
struct lvCycleRange {
    uint16_t rate;   // cycling speed
    uint16_t flags;  // bit 0 active, bit 1 reverse
    uint8_t low;     // first pen
    uint8_t high;    // last pen
};

// The caller's request and the loader's report; cleared to zero by the caller.
struct lvImageLoadRequest {
    const char *loaderList;       // in: "plugin|inbuilt|native"-style list; null = default
    const char *adapter;          // in: file adapter list; null = default
    uint32_t *palette;            // in: ILBM colours ended by -1; out: 256 words (AllocMemory) or null
    uint32_t transparentColor;    // in: with LV_IMGLOAD_TRANSCOLOR
    int32_t transparentPen;       // out: pen (palette mode) or colour key; -1 none, -2 became alpha
    uint32_t flags;               // in: LV_IMGLOAD_ bits
    int32_t format;               // out: IMGFMT_ id
    int32_t depth;                // out: bits per pixel
    int32_t hasAlpha;             // out: alpha channel
    int32_t hasTransparency;      // out: transparent pen (size-only probing)
    double scale;                 // in: factor; 0 and 1 let wantedWidth/wantedHeight apply
    int32_t wantedWidth;          // in/out: 0 own size, -p p per cent
    int32_t wantedHeight;         // in/out: as wantedWidth
    int32_t scaleMode;            // in: scaling quality
    lvBitMapHandle *alphaBitmap;  // out: with LV_IMGLOAD_ALPHA | LV_IMGLOAD_KEEPALPHA
    void *loader;                 // out: plug-in record, 0 inbuilt, 1 native
    lvCycleRange colorRanges[128];// out: ILBM colour-cycling ranges
    int32_t colorRangeCount;      // out: ranges filled
    const void *userTags;         // in: handed to the file layer and plug-ins
    char formatName[256];         // out: "PNG", "JPEG", "BMP", ... or a plug-in's name
};

// Pixel fetch, handle release, transform and full render of callback-backed sources.
typedef uint32_t *(*lvImageGetPixels)(void *handle, void *info);
typedef void (*lvImageFreeHandle)(void *handle);
typedef lvTransformImageFunction lvImageTransform;  // same contract as the plug-in export
typedef int (*lvImageRender)(void *handle, const double *matrix, lvBitMapHandle **rgb, lvBitMapHandle **mask,
                             lvBitMapHandle **alpha, void **extra, int *width, int *height);
typedef void *(*lvImageClone)(void *handle);
typedef void (*lvImageCloneFree)(void *context, void *handle);
typedef void (*lvImageObjectFree)(void *object);

// Kinds of image sources.
enum {
    LV_IMGSRC_PIXELS = 0,   // a buffer allocated with the source
    LV_IMGSRC_DECODED = 1,  // an lvDecodedImage of the built-in or native decoder
    LV_IMGSRC_PLUGIN = 2,   // a loader plug-in's handle or a creator's callbacks
    LV_IMGSRC_ANIM = 3,     // a vector anim plug-in's frame
    LV_IMGSRC_RENDER = 4,   // a creator's render callback
};

// A reference-counted holder of pixels, or of a handle that renders them on demand.
struct lvImageSource {
    lvPluginRecord *plugin;         // loader plug-in that made the handle, or null
    void *handle;                   // plug-in handle, lvDecodedImage, or the creator's data
    uint32_t *pixels;               // ARGB (or pens); owned only for kind 0
    uint32_t *scaledPixels;         // rescaled copy; owned
    uint32_t *packedPixels;         // row-packed copy (LV_IMGLOAD_PACKROWS); owned
    void *attached;                 // object of AttachImageSourceObject
    void *clone;                    // handle made by cloneFn; freed through cloneFree
    uint32_t kind;                  // LV_IMGSRC_
    int32_t refCount;               // starts at 1
    uint32_t creatorFlag;           // a word kept for the creator
    lvImageFreeHandle freeHook;     // called first when the handle is closed
    lvImageObjectFree attachedFree; // frees attached
    lvImageGetPixels getPixels;     // pixel fetch of a callback-backed source
    lvImageFreeHandle freeHandle;   // frees the handle of a source without plug-in
    lvImageTransform transform;     // prepares a render at a matrix and size
    lvImageRender render;           // full renderer; replaces transform + getPixels
    int32_t width;                  // pixels (vector: unscaled)
    int32_t height;                 // pixels
    lvImageClone cloneFn;           // independent copy of the handle
    lvImageCloneFree cloneFree;     // frees a cloned handle
    int32_t sharesHandle;           // a clone sharing its origin's handle: never closes it
};

// What DecodeImageFile makes.
struct lvDecodedImage {
    int32_t format;     // IMGFMT_ id (6 native, 8 unknown)
    uint32_t *pixels;   // ARGB words or 8-bit pens (AllocMemory)
    void *nativeImage;  // the platform decoder's image (format 6 only)
};

// ============================================================================
// Identification
// ============================================================================

// Format, size, depth, alpha, transparency and EXIF orientation from the first bytes.
// 0 when recognised, ERR_LOADPICTURE2 otherwise; *format is IMGFMT_UNKNOWN until then.
// *orientation holds 0 (or a known value) on entry; only JPEG writes it.
int IdentifyImageFile(int *height, int *depth, lvVFile *file, int *format, int *width, int *hasAlpha,
                      int *hasTransparency, int *orientation);
// Position just behind the first tag at 0..length-9, or -1.
int FindChunkTag(const char *tag, const uint8_t *buffer, int length);

// ============================================================================
// BMP
// ============================================================================

// 0, ERR_READ (no magic), ERR_LOADPICTURE2, ERR_NOPALETTE or ERR_MEM. Pixels are ARGB
// words or, in palette mode, pens; palette (flag 0x100, 8 bits or fewer) 256 words.
int ReadBmpFile(lvVFile *file, uint32_t flags, int *width, int *height, int *depth, uint8_t **pixels,
                uint32_t **palette);
// RLE8 data of dataLength bytes into width x height pens (bottom row first in the
// stream, stored top-down). 0 only when its row buffer cannot be allocated.
int DecodeBmpRle(lvVFile *file, int width, int height, int64_t dataLength, uint8_t *pens);
// Writes 1, 4, 8 (pen plane of depth 1..8) or 24 bits (no pen plane). 0 or an error code.
int WriteBmpFile(const char *path, const char *adapter, const void *userTags, const uint32_t *argb, int width,
                 int height, lvBitMapHandle *penPlane, const uint32_t *palette, int depth, int transparentPen);
// Packs count pens into a row of 1, 2, 4 or 8 bits, first pen in the top bits.
void PackPixelRows(const uint8_t *pens, uint8_t *out, int count, int bits);

// ============================================================================
// PNG
// ============================================================================

// Writes 0 or an error code into *result (ERR_LOADPICTURE2, ERR_NOPALETTE, ERR_MEM).
void ReadPngFile(lvVFile *file, uint32_t flags, int *width, int *height, int *depth, uint8_t **pixels,
                 uint32_t **palette, int *transparentPen, int *hasAlpha, int *result);
// The writer's request.
struct lvPngEncodeRequest {
    const char *path;          // file to write
    const char *adapter;       // file adapter list
    const void *userTags;      // user tags
    const uint32_t *argb;      // true-colour pixels
    int argbRowBytes;          // bytes per row of argb
    const uint8_t *pens;       // pens, or null for true colour
    int penRowBytes;           // bytes per row of pens
    const uint32_t *palette;   // 256 words
    int transparentPen;        // -1 none
    int width;                 // pixels
    int height;                // pixels
    int depth;                 // pen depth 1..8
    int hasAlpha;              // write RGBA
    int result;                // out: 0 or an error code
};
void EncodePngFile(lvPngEncodeRequest *request);
// 0 or an error code; the path becomes the error argument on failure.
int WritePngImage(const char *path, const char *adapter, const void *userTags, const uint32_t *argb, int width,
                  int height, lvBitMapHandle *penPlane, const uint32_t *palette, int depth, int transparentPen,
                  int hasAlpha);
// count palette words of the grey levels 255 x i / (count - 1).
void MakeGreyRamp(uint32_t *entries, int count);

// ============================================================================
// JPEG
// ============================================================================

// source: an lvVFile (memorySize 0) or a memory block of memorySize bytes. 0,
// ERR_LOADPICTURE2 or ERR_MEM. Pixels 0x00RRGGBB, turned by the EXIF orientation.
int DecodeJpegImage(const void *source, size_t memorySize, int sizeOnly, int orientation, int *width, int *height,
                    uint32_t **pixels);
// The encoder's request.
struct lvJpegEncodeRequest {
    const void *pixels;   // 32-bit pixels
    int rowBytes;         // bytes per row
    int width;            // pixels
    int height;           // pixels
    int quality;          // 0..100, baseline forced
    int byteOrder;        // 0: 0xAARRGGBB words; 1: bytes A, R, G, B
    void *handle;         // out: FreeEncodedJpeg it
    const uint8_t *data;  // out: the file's bytes
    size_t length;        // out: their count
    int result;           // out: 0 or ERR_MEM
};
void EncodeJpegImage(lvJpegEncodeRequest *request);
void FreeEncodedJpeg(void *handle);
// 0, the encoder's error, ERR_WRITEFILE, ERR_WRITE or ERR_CLOSEFILE.
int SaveJpegFile(const void *userTags, const char *adapter, const char *path, const void *pixels, int rowBytes,
                 int width, int height, int quality);

// ============================================================================
// Decoding dispatch and plug-in entries
// ============================================================================

// loaderKind 1 built-in readers, 2 the platform decoder. 0, ERR_LOADPICTURE2 or the reader's error.
int DecodeImageFile(lvVFile *file, int loaderKind, lvImageLoadRequest *request, lvDecodedImage **decoded,
                    int *width, int *height);
void FreeDecodedImage(void *decoded);
void *GetDecodedImagePixels(lvDecodedImage *decoded);
// Graphics slot 0: 1 when the built-in or native decoder knows the file (size only).
int GetImageFileInfo(const char *path, int *width, int *height, int *hasAlpha);
// Graphics slot 1: tags 1 keep layout, 2 double* factor, 3 scale mode, 4 adapter, 5 loader list.
lvImageSource *LoadImageSourceTagged(const char *path, const lvPluginTag *tags, int *width, int *height,
                                     int *hasAlpha);
// 1 when a loader of the chain recognises the file.
int ProbeImageFile(const char *path, const char *loaderList, const char *adapter, const void *userTags,
                   int *isVector, int *format, int *width, int *height, int *depth, int *hasAlpha,
                   int *hasTransparency);
// The "imageio" and "animio" libraries' open step and the "imagesources" shut-down step.
int ImageioLibraryOpen(lvState *L);
void ReleaseImagingFactory(lvState *L, int full);
// Puts the four image entries into the plug-in interface's graphics table and the
// file-format services (probe, render, references) into the raster engine's table.
void InstallImageLoaderEntries(void);
void InstallFileFormatServices(void);
// Puts the JPEG library's functions into the plug-in interface's JPEG sub-table.
void InstallJpegPluginEntries(void);

// ============================================================================
// Image sources and the loader chain
// ============================================================================

lvImageSource *NewImageSource(uint32_t kind, void *handle, lvImageGetPixels getPixels,
                              lvImageFreeHandle freeHandle, lvImageTransform transform, lvImageRender render,
                              lvImageFreeHandle freeHook, int width, int height, lvImageClone cloneFn,
                              lvImageCloneFree cloneFree, uint32_t creatorFlag);
lvImageSource *RetainImageSource(lvImageSource *source);
void ReleaseImageSource(lvImageSource *source);
void CloseImageSourceHandle(lvImageSource *source);
// Nothing calls GetImageSourceSize yet: kept for the image loaders still to come.
void GetImageSourceSize(const lvImageSource *source, int *width, int *height);
uint32_t GetImageSourceKind(const lvImageSource *source);
uint32_t *TakeImageSourcePixels(lvImageSource *source);
lvImageSource *CloneImageSource(lvImageSource *source, int independent);
lvImageSource *AttachImageSourceObject(lvImageSource *source, void *object, lvImageObjectFree freeFn);

// The bitmaps of a background picture built by its owner from rendered pixels: (state,
// pixels, fill, transparent colour or -1, width, height, row length, out RGB, out mask,
// in/out alpha, out pen plane or null). The renderer hands its BGPic target as the fill.
typedef int (*lvBuildBGPicBitmaps)(void *state, const uint32_t *pixels, void *fill, int64_t transparentColour,
                                   int width, int height, int rowLength, lvBitMapHandle **rgb, lvBitMapHandle **mask,
                                   lvBitMapHandle **alpha, lvBitMapHandle **pens);
// Renders a callback-backed or plug-in source at a 2x2 matrix and target size. With
// pixelsOut given (and rgbOut null) only the pixels and line width come back.
int RenderImageSource(void *context, lvImageSource *source, const double *matrix, double x, double y, int width,
                      int height, void *bgpicTarget, lvBuildBGPicBitmaps buildBGPic, uint32_t **pixelsOut,
                      lvBitMapHandle **rgbOut, lvBitMapHandle **maskOut, lvBitMapHandle **alphaOut, void **extraOut,
                      int *lineWidthOut);

// A caller's renderer of a vector picture that has no image source, at a new size.
typedef int (*lvVectorFallback)(void *context, int width, int height, lvBitMapHandle **rgb, lvBitMapHandle **mask,
                                lvBitMapHandle **alpha, lvBitMapHandle **pens);
// A raster picture set scaled by the raster engine; a vector picture rendered again from
// its source at {newWidth / width, 0, 0, newHeight / height}, or by the fallback. 0 or
// an error code; the new planes go to the outs.
int ScaleImageOrVector(void *context, int isVector, lvBitMapHandle *rgb, lvBitMapHandle *mask, lvBitMapHandle *alpha,
                       lvBitMapHandle *pens, lvImageSource *source, int width, int height, int newWidth,
                       int newHeight, int scaleMode, lvVectorFallback fallback, lvBitMapHandle **newRgb,
                       lvBitMapHandle **newMask, lvBitMapHandle **newAlpha, lvBitMapHandle **newPens);

// 0 or an error code (with the path as error argument); every out pointer may be null.
int LoadImageSource(const char *path, lvImageLoadRequest *request, lvImageSource **sourceOut, int *widthOut,
                    int *heightOut, int *lineWidthOut, int *isVectorOut);

// lvbitmap.h - bitmap handles, pixel formats, colour conversions and the
// display-adapter seam of the raster engine.
//
// Every picture is a set of up to four handles: a display-format RGB bitmap,
// an 8-bit alpha plane, a 1-bit mask and an 8-bit pen (chunky) plane. A handle
// is served either natively (memory from AllocMemory) or by the installed
// display adapter; the back-end is chosen at allocation by the adapter's flags
// word and never changes. Pixels are reached only through LockBitmapHandle /
// UnlockBitmapHandle, and every operation locks and unlocks within one call.
//
// Depends on: platform/lvplatform.h (AllocMemory, FreeMemory).
// Limits: script thread only, no locks taken; kernels serve 32-bit pixels.
#pragma once
#include <cstddef>
#include <cstdint>

// ---- Pixel formats ----------------------------------------------------------
// Layout of one pixel in a locked RGB bitmap; 16- and 32-bit pixels are
// host-order words.
enum lvPixelFormat : int {
    PIXFMT_RGB15 = 0,      // 0RRRRRGGGGGBBBBB
    PIXFMT_BGR15 = 1,      // 0BBBBBGGGGGRRRRR
    PIXFMT_RGB15SWAP = 2,  // format 0, bytes exchanged
    PIXFMT_BGR15SWAP = 3,  // format 1, bytes exchanged
    PIXFMT_RGB16 = 4,      // RRRRRGGGGGGBBBBB
    PIXFMT_BGR16 = 5,      // BBBBBGGGGGGRRRRR
    PIXFMT_RGB16SWAP = 6,  // format 4, bytes exchanged
    PIXFMT_BGR16SWAP = 7,  // format 5, bytes exchanged
    PIXFMT_RGB24 = 8,      // bytes R, G, B in memory
    PIXFMT_BGR24 = 9,      // bytes B, G, R in memory
    PIXFMT_ARGB32 = 10,    // 0xAARRGGBB, the program's colour word
    PIXFMT_BGRA32 = 11,    // 0xBBGGRRAA
    PIXFMT_RGBA32 = 12,    // 0xRRGGBBAA
    PIXFMT_ABGR32 = 13,    // 0xAABBGGRR
    PIXFMT_CLUT8 = 14,     // one palette pen a byte
    PIXFMT_MASK1 = 15,     // mask bits, only in locks of masks
};

// Kinds of bitmap handles.
enum lvBitmapKind : int {
    BMKIND_RGB = 0,     // display-format RGB
    BMKIND_ALPHA = 1,   // 8-bit alpha channel
    BMKIND_MASK = 2,    // 1-bit mask
    BMKIND_CHUNKY = 3,  // 8-bit pen plane
};

// ---- Records ----------------------------------------------------------------
// Native backing of an RGB handle.
struct lvNativeBitmap {
    uint8_t *pixels;  // first row; rows of rowPixels pixels
    int width;        // pixels
    int height;       // pixels
    int rowPixels;    // row length in pixels: (width + 3) & ~3
    int format;       // lvPixelFormat of the pixels
    int bytesPerPixel;// 2, 3 or 4
    int external;     // 1: pixels belong to the caller, never freed
};

// Native backing of an alpha, mask or chunky handle.
struct lvNativePlane {
    int kind;         // 1 alpha, 2 mask, 3 chunky
    int width;        // pixels (0 for a mask over external pixels)
    int height;       // pixels (0 for a mask over external pixels)
    uint8_t *pixels;  // first row
    int rowBytes;     // bytes from one row to the next
    int external;     // 1: pixels belong to the caller, never freed
};

// A bitmap of one of the four kinds (one block from AllocMemory, zeroed).
struct lvBitMapHandle {
    int kind;       // lvBitmapKind
    void *backing;  // lvNativeBitmap / lvNativePlane / adapter bitmap / caller's ARGB words
    int width;      // pixels
    int height;     // pixels
    int video;      // 1 when the backing is an adapter video bitmap
    int aux;        // native RGB: has-transparency bit; video: carries transparency
    int external;   // 1 for an external RGB handle over the caller's ARGB words
};

// Filled by LockBitmapHandle, read by the kernels.
struct lvBitMapLock {
    uint8_t *pixels;      // first pixel of the first row
    uintptr_t token;      // non-zero = locked; the adapter's lock handle for adapter bitmaps
    int format;           // lvPixelFormat
    int bytesPerPixel;    // 1, 2, 3 or 4
    int rowLength;        // row length in pixels (planes: row bytes)
    int width;            // pixels
    int height;           // pixels
    int plane;            // 1: native plane, nothing to unlock
    int external;         // 1: external handle, nothing to unlock
    int adapterLock;      // 1: the adapter holds the lock (UnLockBitMap on release)
};

// The adapter's lock information record (filled by its LockBitMap).
struct lvAdapterLockInfo {
    uint8_t *pixels;    // first row
    int rowLength;      // row length in pixels
    int format;         // lvPixelFormat
    int bytesPerPixel;  // bytes a pixel
    int width;          // pixels
    int height;         // pixels
};

// One {tag, value} pair of an adapter tag list; a list ends with tag 0.
// Values are pointer-sized here so that addresses fit on 64-bit hosts.
struct lvBitMapTag {
    uint32_t tag;     // tag number, 0 ends the list
    uintptr_t value;  // number or address
};

// The blit record handed to the adapter's BltBitMap (zeroed before use).
struct lvBltRecord {
    int32_t sourceX;        // source x
    int32_t sourceY;        // source y
    int32_t targetX;        // target x
    int32_t targetY;        // target y
    int32_t width;          // pixels
    int32_t height;         // pixels
    int32_t reserved1[3];   // 0
    void *mask;             // mask backing (masked copy)
    void *alpha;            // alpha backing (alpha blit)
    void *chunkyMask;       // mask backing of a chunky source
    int32_t reserved2[5];   // 0
    const uint32_t *palette;// palette of a chunky source (256 ARGB words)
    int32_t transparentPen; // transparent pen of a chunky source
};

// Flags word of the display adapter.
enum : uint32_t {
    ADAPTER_EXTRACAP = 2,        // reported as capability 0x20
    ADAPTER_VIDEOFALLBACK = 4,   // a video bitmap that cannot be made falls back to a plain one
    ADAPTER_VIDEOBITMAPS = 0x10, // the adapter makes video bitmaps
    ADAPTER_OWNSBITMAPS = 0x20,  // the adapter owns all bitmaps
    ADAPTER_REALALPHA = 0x80,    // colours carry real alpha
    ADAPTER_CHUNKYBLIT = 0x2000, // the adapter can blit chunky sources
    ADAPTER_CHUNKYKIND = 0x4000, // the adapter has a true chunky kind
};
// Acceleration word of the display adapter.
enum : uint32_t {
    ACCEL_COPY = 1,
    ACCEL_MASKEDCOPY = 2,
    ACCEL_ALPHABLIT = 4,
    ACCEL_FILL = 8,
    ACCEL_PIXEL = 0x10,
    ACCEL_LINE = 0x20,
    ACCEL_CHUNKYBLIT = 0x40,
};

// The installed display adapter as the raster engine sees it: the words set at
// installation and the bitmap entries of its plug-in record. Every entry must
// be set when the adapter is installed (the plug-in loader refuses adapters
// that miss an export).
struct lvDisplayAdapter {
    uint32_t flags;      // flags word (ADAPTER_...)
    uint32_t accel;      // acceleration word (ACCEL_...)
    uint32_t videoCaps;  // video-capability word
    int pixelFormat;     // pixel format of adapter RGB bitmaps
    void *(*AllocBitMap)(int kind, int width, int height, int clear, const lvBitMapTag *tags);
    void (*FreeBitMap)(void *bitmap);
    uintptr_t (*LockBitMap)(void *bitmap, int readOnly, lvAdapterLockInfo *info, const lvBitMapTag *tags);
    void (*UnLockBitMap)(uintptr_t token);
    int (*GetBitMapAttr)(void *bitmap, int attribute, const lvBitMapTag *tags);  // 0 width, 1 height, 2 row bytes
    void *(*AllocVideoBitMap)(int width, int height, int flags, const lvBitMapTag *tags);
    void (*FreeVideoBitMap)(void *bitmap);
    void *(*ReadVideoPixels)(void *bitmap, const lvBitMapTag *tags);
    void (*FreeVideoPixels)(void *pixels);
    int (*DoVideoBitMapMethod)(void *bitmap, int method, intptr_t argument);
    int (*BltBitMap)(void *source, void *target, lvBltRecord *record, int mode, const lvBitMapTag *tags);
    int (*RectFill)(void *bitmap, int x, int y, int width, int height, uint32_t colour, int mode, const lvBitMapTag *tags);
    int (*WritePixel)(void *bitmap, int x, int y, uint32_t colour, int mode, const lvBitMapTag *tags);
};

// The installed display adapter, or null for the native back-end.
void SetRasterDisplayAdapter(lvDisplayAdapter *adapter);
// The routing tests every operation uses.
bool AdapterOwnsBitmaps();
bool AdapterMakesVideoBitmaps();

// ---- Native RGB buffers -----------------------------------------------------
// The largest picture any bitmap or plane is made for: sides below 10^8 pixels and at
// most a gigabyte of four-byte pixels; larger requests fail as allocation failures.
enum : int64_t { LV_BITMAP_MAX_SIDE = 99999999, LV_BITMAP_MAX_BYTES = int64_t(1) << 30 };
// Rows of (width + 3) & ~3 pixels in the display pixel format, one spare row,
// not cleared. A source pointer makes an external buffer over the caller's
// ARGB words (row length = width). Never a hardware bitmap.
lvNativeBitmap *AllocBitmapBuffer(int width, int height, int flags, int *aux, int *video, void *source);
void FreeBitmapBuffer(lvNativeBitmap *buffer);
int LockBitmapBuffer(lvNativeBitmap *buffer, lvBitMapLock *lock);
intptr_t GetBitmapBufferAttr(lvNativeBitmap *buffer, int attribute);
int GetBitmapBufferDepth();
// The display pixel format of native RGB buffers: the adapter's, or 10.
int GetDisplayPixelFormat();
// Capability bits of the display back-end (0 without a video-bitmap adapter).
uint32_t QueryBitmapCaps(uint32_t requested);

// ---- Allocation -------------------------------------------------------------
enum : int {
    BMF_TRANSPARENCY = 1,  // the picture has transparency
    BMF_VIDEO = 8,         // a video bitmap is wanted
    BMF_PASSON = 0x10,     // passed on to the adapter
    BMF_EXTERNAL = 0x20,   // no allocation: source is the caller's ARGB words
};

// Source record of CreateVideoBitmapHandle.
struct lvVideoSource {
    lvBitMapHandle *rgb;       // RGB handle, or null with raw pixels
    const uint32_t *argb;      // ARGB pixels (raw-pixels flag)
    lvBitMapHandle *mask;      // mask folded into the copy
    lvBitMapHandle *alpha;     // alpha folded into the copy
    int rawPixels;             // 1: argb holds the pixels
    int sourceWidth;           // pixels
    int sourceHeight;          // pixels
    int smooth;                // smoothing flag
    const double *matrix;      // four doubles, with the transform flag
    int transform;             // 1: tags 2, 3, 5, 4
    int scale;                 // 1: tags 2, 3, 4
    void *window;              // the display's platform window record, or null
};

lvBitMapHandle *AllocRgbBitmap(int width, int height, int flags, void *source);
lvBitMapHandle *AllocAlphaBitmap(int width, int height, int clear, uint8_t *pixels, int rowBytes);
lvBitMapHandle *AllocChunkyBitmap(int width, int height, int clear);
lvBitMapHandle *AllocMaskBitmap(lvBitMapHandle *friendBitmap, int width, int height, int clear,
                                uint8_t *pixels, int rowBytes);
lvBitMapHandle *CreateAlphaBitmapFromPixels(const uint32_t *argb, int width, int height, int rowLength);
// Makes the adapter's video bitmap (the backing of a video handle), or null.
void *CreateVideoBitmapHandle(int width, int height, int flags, int *aux, const lvVideoSource *source);
// Reads a video bitmap back into the RGB target; the alpha bytes go to a new
// alpha bitmap when the adapter reports alpha. 0 or an error code.
int ReadVideoBitmapPixels(lvBitMapHandle *video, lvBitMapHandle *target, int width, int height,
                          lvBitMapHandle **alphaOut);

void FreeRgbBitmap(lvBitMapHandle *handle);
void FreePlaneBitmap(lvBitMapHandle *handle);
// Frees a handle of any kind (null is ignored).
void FreeBitmapHandle(lvBitMapHandle *handle);

// ---- Access -----------------------------------------------------------------
enum : int {
    LOCK_READONLY = 1,  // the source side of an operation
    LOCK_RAW = 2,       // the first argument is a raw backing, not a handle
};
uintptr_t LockBitmapHandle(void *handle, int mode, lvBitMapLock *lock);
void UnlockBitmapHandle(lvBitMapLock *lock);
uintptr_t GetPlanePixels(lvBitMapHandle *handle, uint8_t **pixels, int *rowBytes, int write);
void ReleasePlanePixels(uintptr_t token);
// Copies width x height bytes, row after row, into an alpha or chunky plane; false when
// the plane cannot be reached.
bool CopyBytesToPlane(lvBitMapHandle *plane, const uint8_t *bytes, int width, int height);
intptr_t GetBitmapHandleAttr(lvBitMapHandle *handle, int attribute);
int GetPlaneAttr(void *plane, int attribute);
void EnableVideoBitmapTransparency(lvBitMapHandle *handle);
uint32_t ComputeBitmapCaps(uint32_t requested);
// Row bytes of a native mask: row pixels rounded up to 16 bits.
inline int MaskRowBytes(int rowPixels) { return ((rowPixels + 15) >> 3) & ~1; }
// Row bytes of a native alpha or chunky plane: width rounded up to 4.
inline int PlaneRowBytes(int width) { return (width + 3) & ~3; }

// Scoped lock: locks in the constructor, unlocks in the destructor, so that
// every lock is released within the operation that took it.
struct lvScopedLock {
    lvBitMapLock lock{};  // the lock record
    uintptr_t token = 0;  // 0 = not locked
    lvScopedLock(lvBitMapHandle *handle, int mode) {
        if (handle) token = LockBitmapHandle(handle, mode, &lock);
    }
    ~lvScopedLock() {
        if (token) UnlockBitmapHandle(&lock);
    }
    lvScopedLock(const lvScopedLock &) = delete;
    lvScopedLock &operator=(const lvScopedLock &) = delete;
    explicit operator bool() const { return token != 0; }
};

// ---- Pixel conversions ------------------------------------------------------
int GetPixelFormatDepth(int format);
int GetPixelFormatBytes(int format);
uint32_t ConvertColorForAdapter(uint32_t colour, int force);
uint32_t ArgbToPixel(uint32_t colour, int format, int keepAlpha);
uint32_t PixelToArgb(uint32_t pixel, int format, int keepAlpha);
uint32_t ReadLockPixel(const lvBitMapLock *lock, int x, int y);
void WriteLockPixel(lvBitMapLock *lock, uint32_t colour, int x, int y);

// The reorderings of the 32-bit formats 11, 12 and 13; others pass through.
inline uint32_t ArgbToPixel32(int format, uint32_t c) {
    switch (format) {
    case PIXFMT_BGRA32: return __builtin_bswap32(c);
    case PIXFMT_RGBA32: return c << 8;
    case PIXFMT_ABGR32: return (c & 0xFF00FF00u) | ((c >> 16) & 0xFFu) | ((c & 0xFFu) << 16);
    default: return c;
    }
}
inline uint32_t Pixel32ToArgb(int format, uint32_t p) {
    switch (format) {
    case PIXFMT_BGRA32: return __builtin_bswap32(p);
    case PIXFMT_RGBA32: return p >> 8;
    case PIXFMT_ABGR32: return (p & 0xFF00FF00u) | ((p >> 16) & 0xFFu) | ((p & 0xFFu) << 16);
    default: return p;
    }
}

// ---- Palettes ---------------------------------------------------------------
enum : int {
    PALETTEMODE_PEN = 0,
    PALETTEMODE_REMAP = 1,
    DITHERMODE_NONE = 0,
    DITHERMODE_FLOYDSTEINBERG = 1,
};
int FindNearestPen(uint32_t colour, const uint32_t *palette, int depth);
int PalettesMatch(int paletteMode, const uint32_t *a, const uint32_t *b, int transparentPen);

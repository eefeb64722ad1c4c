// bitmap.cpp - bitmap handles: allocation, release, locks and attributes,
// natively or through the installed display adapter.
//
// The back-end of a handle is fixed at allocation by the adapter's flags word
// (0x20 owns bitmaps, 0x10 video bitmaps); every entry below routes by the
// same tests so that the rest of the raster engine never asks which one it has.
//
// Depends on: platform/lvplatform.h, raster/lvraster.h.
// Limits: script thread only; native RGB buffers are in the display format.
#include "raster/lvbitmap.h"

#include <cstring>

#include "platform/lvplatform.h"
#include "raster/lvplanes.h"
#include "raster/lvraster.h"
#include "base/lverrors.h"

// ---- Adapter routing --------------------------------------------------------

void SetRasterDisplayAdapter(lvDisplayAdapter *adapter) { RasterState.adapter = adapter; }

bool AdapterOwnsBitmaps() {
    return RasterState.adapter && (RasterState.adapter->flags & ADAPTER_OWNSBITMAPS);
}
bool AdapterMakesVideoBitmaps() {
    return RasterState.adapter && (RasterState.adapter->flags & ADAPTER_VIDEOBITMAPS);
}

// ---- Native RGB buffers -----------------------------------------------------

int GetDisplayPixelFormat() {
    if (RasterState.adapter && GetPixelFormatBytes(RasterState.adapter->pixelFormat) > 1)
        return RasterState.adapter->pixelFormat;
    return PIXFMT_ARGB32;
}

int GetBitmapBufferDepth() { return GetPixelFormatDepth(GetDisplayPixelFormat()); }

// Past the largest picture any bitmap is made for (lvbitmap.h).
static bool TooLarge(int width, int height) {
    return width > LV_BITMAP_MAX_SIDE || height > LV_BITMAP_MAX_SIDE ||
           (static_cast<uint64_t>(width) + 3) * 4 * (static_cast<uint64_t>(height) + 1) > LV_BITMAP_MAX_BYTES;
}

lvNativeBitmap *AllocBitmapBuffer(int width, int height, int flags, int *aux, int *video, void *source) {
    if (width <= 0 || height <= 0) return nullptr;
    // Sizes come from scripts and files: a picture of more than a gigabyte is refused
    // before anything is allocated (the row rounding below stays inside an int too).
    if (TooLarge(width, height)) return nullptr;
    lvNativeBitmap *b = static_cast<lvNativeBitmap *>(AllocMemory(sizeof(lvNativeBitmap), 1));
    if (!b) return nullptr;
    b->width = width;
    b->height = height;
    if (source) {
        // External ARGB words: the caller keeps them.
        b->pixels = static_cast<uint8_t *>(source);
        b->rowPixels = width;
        b->format = PIXFMT_ARGB32;
        b->bytesPerPixel = 4;
        b->external = 1;
    } else {
        b->format = GetDisplayPixelFormat();
        b->bytesPerPixel = GetPixelFormatBytes(b->format);
        b->rowPixels = (width + 3) & ~3;
        size_t bytes = static_cast<size_t>(b->rowPixels) * b->bytesPerPixel * (static_cast<size_t>(height) + 1);
        b->pixels = static_cast<uint8_t *>(AllocMemory(bytes, 0));
        if (!b->pixels) {
            FreeMemory(b);
            return nullptr;
        }
    }
    if (aux) *aux = flags & BMF_TRANSPARENCY;
    if (video) *video = 0;
    return b;
}

void FreeBitmapBuffer(lvNativeBitmap *buffer) {
    if (!buffer) return;
    if (!buffer->external) FreeMemory(buffer->pixels);
    FreeMemory(buffer);
}

int LockBitmapBuffer(lvNativeBitmap *buffer, lvBitMapLock *lock) {
    if (!buffer || buffer->external) return 0;
    lock->pixels = buffer->pixels;
    lock->format = buffer->format;
    lock->bytesPerPixel = buffer->bytesPerPixel;
    lock->rowLength = buffer->rowPixels;
    lock->width = buffer->width;
    lock->height = buffer->height;
    return 1;
}

intptr_t GetBitmapBufferAttr(lvNativeBitmap *buffer, int attribute) {
    if (!buffer) return 0;
    switch (attribute) {
    case 6: return buffer->rowPixels;
    case 12: return buffer->format;
    case 14: return reinterpret_cast<intptr_t>(buffer->pixels);
    case 15: return static_cast<intptr_t>(buffer->rowPixels) * buffer->bytesPerPixel;
    default: return 0;
    }
}

uint32_t QueryBitmapCaps(uint32_t requested) {
    if (!AdapterMakesVideoBitmaps()) return 0;
    return ComputeBitmapCaps(requested);
}

uint32_t ComputeBitmapCaps(uint32_t requested) {
    lvDisplayAdapter *a = RasterState.adapter;
    if (!a) return 0;
    uint32_t offered = 0;
    if (a->flags & ADAPTER_VIDEOBITMAPS) offered |= 8;
    if (a->flags & ADAPTER_EXTRACAP) offered |= 0x20;
    static const uint32_t videoMap[6][2] = {{1, 4}, {2, 0x10}, {4, 0x40}, {8, 0x80}, {0x10, 0x200}, {0x20, 0x400}};
    for (const auto &m : videoMap)
        if (a->videoCaps & m[0]) offered |= m[1];
    return requested & offered;
}

// ---- Allocation -------------------------------------------------------------

static lvBitMapHandle *NewHandle(int kind, int width, int height) {
    lvBitMapHandle *h = static_cast<lvBitMapHandle *>(AllocMemory(sizeof(lvBitMapHandle), 1));
    if (!h) return nullptr;
    h->kind = kind;
    h->width = width;
    h->height = height;
    return h;
}

lvBitMapHandle *AllocRgbBitmap(int width, int height, int flags, void *source) {
    if (width <= 0 || height <= 0) return nullptr;
    lvBitMapHandle *h = NewHandle(BMKIND_RGB, width, height);
    if (!h) return nullptr;
    if (flags & BMF_EXTERNAL) {
        h->backing = source;
        h->external = 1;
        return h;
    }
    lvDisplayAdapter *a = RasterState.adapter;
    if ((flags & BMF_VIDEO) && AdapterMakesVideoBitmaps()) {
        h->backing = CreateVideoBitmapHandle(width, height, flags, &h->aux,
                                             static_cast<const lvVideoSource *>(source));
        h->video = 1;
        if (!h->backing && (a->flags & ADAPTER_VIDEOFALLBACK)) {
            // The adapter could not make a video bitmap: a plain one serves.
            h->video = 0;
            h->aux = 0;
            if (AdapterOwnsBitmaps())
                h->backing = a->AllocBitMap(BMKIND_RGB, width, height, 0, nullptr);
            else
                h->backing = AllocBitmapBuffer(width, height, flags, &h->aux, &h->video, nullptr);
        }
    } else if (!(flags & BMF_VIDEO) && AdapterOwnsBitmaps()) {
        h->backing = a->AllocBitMap(BMKIND_RGB, width, height, 0, nullptr);
    } else {
        h->backing = AllocBitmapBuffer(width, height, flags, &h->aux, &h->video, nullptr);
    }
    if (!h->backing) {
        FreeMemory(h);
        return nullptr;
    }
    return h;
}

static lvNativePlane *NewPlane(int kind, int width, int height, int rowBytes, int clear, uint8_t *pixels) {
    lvNativePlane *p = static_cast<lvNativePlane *>(AllocMemory(sizeof(lvNativePlane), 1));
    if (!p) return nullptr;
    p->kind = kind;
    p->width = width;
    p->height = height;
    p->rowBytes = rowBytes;
    if (pixels) {
        p->pixels = pixels;
        p->external = 1;
        return p;
    }
    p->pixels = static_cast<uint8_t *>(AllocMemory(static_cast<size_t>(rowBytes) * height, clear));
    if (!p->pixels) {
        FreeMemory(p);
        return nullptr;
    }
    return p;
}

static lvBitMapHandle *FinishPlaneHandle(lvBitMapHandle *h, void *backing) {
    if (!backing) {
        FreeMemory(h);
        return nullptr;
    }
    h->backing = backing;
    return h;
}

lvBitMapHandle *AllocAlphaBitmap(int width, int height, int clear, uint8_t *pixels, int rowBytes) {
    if (width <= 0 || height <= 0 || TooLarge(width, height)) return nullptr;
    lvBitMapHandle *h = NewHandle(BMKIND_ALPHA, width, height);
    if (!h) return nullptr;
    if (AdapterOwnsBitmaps()) {
        lvBitMapTag tags[3] = {{2, reinterpret_cast<uintptr_t>(pixels)}, {3, static_cast<uintptr_t>(rowBytes)}, {0, 0}};
        return FinishPlaneHandle(h, RasterState.adapter->AllocBitMap(BMKIND_ALPHA, width, height, clear != 0,
                                                                       pixels ? tags : nullptr));
    }
    return FinishPlaneHandle(h, NewPlane(BMKIND_ALPHA, width, height, pixels ? rowBytes : PlaneRowBytes(width),
                                         clear, pixels));
}

lvBitMapHandle *AllocChunkyBitmap(int width, int height, int clear) {
    if (width <= 0 || height <= 0 || TooLarge(width, height)) return nullptr;
    lvBitMapHandle *h = NewHandle(BMKIND_CHUNKY, width, height);
    if (!h) return nullptr;
    if (AdapterOwnsBitmaps()) {
        int kind = (RasterState.adapter->flags & ADAPTER_CHUNKYKIND) ? BMKIND_CHUNKY : BMKIND_ALPHA;
        return FinishPlaneHandle(h, RasterState.adapter->AllocBitMap(kind, width, height, clear != 0, nullptr));
    }
    return FinishPlaneHandle(h, NewPlane(BMKIND_CHUNKY, width, height, PlaneRowBytes(width), clear, nullptr));
}

// Row length in pixels of an RGB bitmap, as a mask made for it must match.
static int RgbRowPixels(lvBitMapHandle *rgb) {
    if (rgb->external) return rgb->width;
    if (AdapterOwnsBitmaps() && !rgb->video) {
        int bpp = GetPixelFormatBytes(RasterState.adapter->pixelFormat);
        return bpp ? RasterState.adapter->GetBitMapAttr(rgb->backing, 2, nullptr) / bpp : rgb->width;
    }
    return static_cast<int>(GetBitmapBufferAttr(static_cast<lvNativeBitmap *>(rgb->backing), 6));
}

lvBitMapHandle *AllocMaskBitmap(lvBitMapHandle *friendBitmap, int width, int height, int clear, uint8_t *pixels,
                                int rowBytes) {
    if (width <= 0 || height <= 0 || TooLarge(width, height)) return nullptr;
    lvBitMapHandle *h = NewHandle(BMKIND_MASK, width, height);
    if (!h) return nullptr;
    if (AdapterOwnsBitmaps()) {
        lvBitMapTag tags[4] = {{1, reinterpret_cast<uintptr_t>(friendBitmap ? friendBitmap->backing : nullptr)},
                               {2, reinterpret_cast<uintptr_t>(pixels)},
                               {3, static_cast<uintptr_t>(rowBytes)},
                               {0, 0}};
        return FinishPlaneHandle(h, RasterState.adapter->AllocBitMap(BMKIND_MASK, width, height, clear != 0, tags));
    }
    if (pixels) {
        // A mask over external pixels records only kind, pixels, row bytes and the flag.
        lvNativePlane *p = static_cast<lvNativePlane *>(AllocMemory(sizeof(lvNativePlane), 1));
        if (p) {
            p->kind = BMKIND_MASK;
            p->pixels = pixels;
            p->rowBytes = rowBytes;
            p->external = 1;
        }
        return FinishPlaneHandle(h, p);
    }
    int rowPixels = friendBitmap ? RgbRowPixels(friendBitmap) : width;
    if (rowPixels < width) rowPixels = width;
    return FinishPlaneHandle(h, NewPlane(BMKIND_MASK, width, height, MaskRowBytes(rowPixels), clear, nullptr));
}

lvBitMapHandle *CreateAlphaBitmapFromPixels(const uint32_t *argb, int width, int height, int rowLength) {
    lvBitMapHandle *h = AllocAlphaBitmap(width, height, 0, nullptr, 0);
    if (!h) return nullptr;
    uint8_t *pixels;
    int rowBytes;
    uintptr_t token = GetPlanePixels(h, &pixels, &rowBytes, 1);
    if (!token) {
        FreePlaneBitmap(h);
        return nullptr;
    }
    for (int y = 0; y < height; y++) {
        const uint32_t *s = argb + static_cast<size_t>(y) * rowLength;
        uint8_t *d = pixels + static_cast<size_t>(y) * rowBytes;
        for (int x = 0; x < width; x++) d[x] = static_cast<uint8_t>(s[x] >> 24);
    }
    ReleasePlanePixels(token);
    return h;
}

void *CreateVideoBitmapHandle(int width, int height, int flags, int *aux, const lvVideoSource *src) {
    lvDisplayAdapter *a = RasterState.adapter;
    if (!a) return nullptr;
    lvBitMapTag tags[8];
    int n = 0;
    uint32_t *temporary = nullptr;
    double matrix[4];
    if (src) {
        if (src->window) tags[n++] = {6, reinterpret_cast<uintptr_t>(src->window)};
        if (src->rawPixels) {
            tags[n++] = {1, reinterpret_cast<uintptr_t>(src->argb)};
        } else if (src->rgb && src->rgb->video) {
            tags[n++] = {1, reinterpret_cast<uintptr_t>(src->rgb->backing)};
            flags |= 2;
        } else if (src->rgb) {
            temporary = ReadBitmapArgbWithMask(src->rgb, src->mask, src->alpha, src->rgb->width, src->rgb->height);
            if (!temporary) return nullptr;
            if (src->mask || src->alpha) flags |= 1;
            tags[n++] = {1, reinterpret_cast<uintptr_t>(temporary)};
        }
        if (src->scale) {
            tags[n++] = {2, static_cast<uintptr_t>(src->sourceWidth)};
            tags[n++] = {3, static_cast<uintptr_t>(src->sourceHeight)};
            tags[n++] = {4, static_cast<uintptr_t>(src->smooth)};
        } else if (src->transform && src->matrix) {
            std::memcpy(matrix, src->matrix, sizeof matrix);
            tags[n++] = {2, static_cast<uintptr_t>(src->sourceWidth)};
            tags[n++] = {3, static_cast<uintptr_t>(src->sourceHeight)};
            tags[n++] = {5, reinterpret_cast<uintptr_t>(matrix)};
            tags[n++] = {4, static_cast<uintptr_t>(src->smooth)};
        }
    }
    tags[n] = {0, 0};
    void *video = a->AllocVideoBitMap(width, height, flags, tags);
    FreeMemory(temporary);
    if (aux) *aux = flags & 1;
    return video;
}

int ReadVideoBitmapPixels(lvBitMapHandle *video, lvBitMapHandle *target, int width, int height,
                          lvBitMapHandle **alphaOut) {
    if (alphaOut) *alphaOut = nullptr;
    lvDisplayAdapter *a = RasterState.adapter;
    if (!a) return ERR_READVIDEOPIXELS;
    lvScopedLock lock(target, 0);
    if (!lock) return ERR_LOCKBMAP;
    int hasAlpha = 0, format = PIXFMT_ARGB32;
    lvBitMapTag tags[3] = {{1, reinterpret_cast<uintptr_t>(&hasAlpha)}, {2, reinterpret_cast<uintptr_t>(&format)}, {0, 0}};
    void *buffer = a->ReadVideoPixels(video ? video->backing : nullptr, tags);
    if (!buffer) return ERR_READVIDEOPIXELS;
    int bytes = GetPixelFormatBytes(format);
    int result = 0;
    if (hasAlpha && (format < PIXFMT_ARGB32 || format > PIXFMT_ABGR32)) {
        a->FreeVideoPixels(buffer);
        return ERR_WRONGUSAGE;
    }
    uint8_t *alphaPixels = nullptr;
    int alphaRow = 0;
    uintptr_t alphaToken = 0;
    lvBitMapHandle *alpha = nullptr;
    if (hasAlpha && alphaOut) {
        alpha = AllocAlphaBitmap(width, height, 0, nullptr, 0);
        if (!alpha) result = ERR_ALLOCALPHA;
        else if (!(alphaToken = GetPlanePixels(alpha, &alphaPixels, &alphaRow, 1))) result = ERR_LOCKBMAP;
    }
    if (!result) {
        const uint8_t *src = static_cast<const uint8_t *>(buffer);
        for (int y = 0; y < height; y++) {
            for (int x = 0; x < width; x++) {
                const uint8_t *p = src + (static_cast<size_t>(y) * width + x) * bytes;
                uint32_t v = bytes == 4 ? *reinterpret_cast<const uint32_t *>(p) : *reinterpret_cast<const uint16_t *>(p);
                WriteLockPixel(&lock.lock, PixelToArgb(v, format, 0), x, y);
                if (alphaToken) {
                    int shift = (format == PIXFMT_BGRA32 || format == PIXFMT_RGBA32) ? 0 : 24;
                    alphaPixels[y * alphaRow + x] = static_cast<uint8_t>(v >> shift);
                }
            }
        }
    }
    if (alphaToken) ReleasePlanePixels(alphaToken);
    if (result) FreeBitmapHandle(alpha);
    else if (alphaOut) *alphaOut = alpha;
    a->FreeVideoPixels(buffer);
    return result;
}

// ---- Release ----------------------------------------------------------------

void FreeRgbBitmap(lvBitMapHandle *handle) {
    if (!handle) return;
    if (!handle->external) {
        if (handle->video && AdapterMakesVideoBitmaps())
            RasterState.adapter->FreeVideoBitMap(handle->backing);
        else if (handle->video && !RasterState.adapter)
            FreeBitmapBuffer(static_cast<lvNativeBitmap *>(handle->backing));
        else if (AdapterOwnsBitmaps())
            RasterState.adapter->FreeBitMap(handle->backing);
        else
            FreeBitmapBuffer(static_cast<lvNativeBitmap *>(handle->backing));
    }
    FreeMemory(handle);
}

void FreePlaneBitmap(lvBitMapHandle *handle) {
    if (!handle) return;
    if (AdapterOwnsBitmaps()) {
        RasterState.adapter->FreeBitMap(handle->backing);
    } else if (lvNativePlane *p = static_cast<lvNativePlane *>(handle->backing)) {
        if (!p->external) FreeMemory(p->pixels);
        FreeMemory(p);
    }
    FreeMemory(handle);
}

void FreeBitmapHandle(lvBitMapHandle *handle) {
    if (!handle) return;
    if (handle->kind == BMKIND_RGB) FreeRgbBitmap(handle);
    else FreePlaneBitmap(handle);
}

// ---- Access -----------------------------------------------------------------

// Locks an adapter bitmap and copies its lock information.
static uintptr_t AdapterLock(void *backing, int mode, lvBitMapLock *lock) {
    lvAdapterLockInfo info{};
    lock->token = RasterState.adapter->LockBitMap(backing, mode & LOCK_READONLY, &info, nullptr);
    lock->pixels = info.pixels;
    lock->rowLength = info.rowLength;
    lock->format = info.format;
    lock->bytesPerPixel = info.bytesPerPixel;
    lock->width = info.width;
    lock->height = info.height;
    lock->adapterLock = lock->token != 0;
    return lock->token;
}

uintptr_t LockBitmapHandle(void *object, int mode, lvBitMapLock *lock) {
    lock->token = 0;
    lock->plane = 0;
    lock->adapterLock = 0;
    if (mode & LOCK_RAW) {
        // A raw backing: the adapter's bitmap, or a native plane or buffer.
        lock->external = 0;
        if (AdapterOwnsBitmaps()) {
            return AdapterLock(object, mode, lock);
        }
        lvNativePlane *p = static_cast<lvNativePlane *>(object);
        if (p->kind >= BMKIND_ALPHA && p->kind <= BMKIND_CHUNKY) {
            lock->pixels = p->pixels;
            lock->rowLength = p->rowBytes;
            lock->width = p->width;
            lock->height = p->height;
            lock->bytesPerPixel = 1;
            lock->format = p->kind == BMKIND_MASK ? PIXFMT_MASK1 : PIXFMT_CLUT8;
            lock->plane = 1;
            lock->token = 1;
            return 1;
        }
        return 0;
    }
    lvBitMapHandle *h = static_cast<lvBitMapHandle *>(object);
    lock->external = h->external;
    if (h->external) {
        lock->pixels = static_cast<uint8_t *>(h->backing);
        lock->format = PIXFMT_ARGB32;
        lock->bytesPerPixel = 4;
        lock->rowLength = h->width;
        lock->width = h->width;
        lock->height = h->height;
        lock->token = 1;
        return 1;
    }
    if (AdapterOwnsBitmaps() || (h->video && AdapterMakesVideoBitmaps())) {
        return AdapterLock(h->backing, mode, lock);
    }
    if (h->kind == BMKIND_RGB) {
        lock->token = LockBitmapBuffer(static_cast<lvNativeBitmap *>(h->backing), lock);
        return lock->token;
    }
    lvNativePlane *p = static_cast<lvNativePlane *>(h->backing);
    lock->pixels = p->pixels;
    lock->rowLength = p->rowBytes;
    lock->width = h->width;
    lock->height = h->height;
    lock->bytesPerPixel = 1;
    lock->format = h->kind == BMKIND_MASK ? PIXFMT_MASK1 : PIXFMT_CLUT8;
    lock->plane = 1;
    lock->token = 1;
    return 1;
}

void UnlockBitmapHandle(lvBitMapLock *lock) {
    if (lock->token && lock->adapterLock && RasterState.adapter) RasterState.adapter->UnLockBitMap(lock->token);
    lock->token = 0;
    lock->adapterLock = 0;
}

uintptr_t GetPlanePixels(lvBitMapHandle *handle, uint8_t **pixels, int *rowBytes, int write) {
    if (!handle) return 0;
    if (AdapterOwnsBitmaps()) {
        lvAdapterLockInfo info{};
        uintptr_t token = RasterState.adapter->LockBitMap(handle->backing, !write, &info, nullptr);
        if (!token) return 0;
        *pixels = info.pixels;
        *rowBytes = info.rowLength * (info.bytesPerPixel > 0 ? info.bytesPerPixel : 1);
        if (handle->kind == BMKIND_MASK) *rowBytes = info.rowLength;
        return token;
    }
    if (handle->kind < BMKIND_ALPHA || handle->kind > BMKIND_CHUNKY) return 0;
    lvNativePlane *p = static_cast<lvNativePlane *>(handle->backing);
    *pixels = p->pixels;
    *rowBytes = p->rowBytes;
    return 1;
}

void ReleasePlanePixels(uintptr_t token) {
    if (token && AdapterOwnsBitmaps()) RasterState.adapter->UnLockBitMap(token);
}

bool CopyBytesToPlane(lvBitMapHandle *plane, const uint8_t *bytes, int width, int height) {
    uint8_t *pixels = nullptr;
    int rowBytes = 0;
    uintptr_t token = GetPlanePixels(plane, &pixels, &rowBytes, 1);
    if (!token || !pixels) {
        if (token) ReleasePlanePixels(token);
        return false;
    }
    for (int row = 0; row < height; row++)
        std::memcpy(pixels + (size_t)row * rowBytes, bytes + (size_t)row * width, (size_t)width);
    ReleasePlanePixels(token);
    return true;
}

intptr_t GetBitmapHandleAttr(lvBitMapHandle *handle, int attribute) {
    bool handleAttr = attribute == 0 || attribute == 6 || attribute == 7 || (attribute >= 9 && attribute <= 15);
    if (handleAttr && !handle) return 0;
    switch (attribute) {
    case 0: return handle->width;
    case 7: return handle->height;
    case 9: return handle->video;
    case 10: return handle->aux;
    case 11: return reinterpret_cast<intptr_t>(handle->backing);
    case 13: return handle->video && !AdapterMakesVideoBitmaps();
    default: break;
    }
    if (handleAttr) {
        if (handle->external) {
            if (attribute == 6) return handle->width;
            if (attribute == 12) return PIXFMT_ARGB32;
        } else if (AdapterOwnsBitmaps() && handle->kind == BMKIND_RGB) {
            int bpp = GetPixelFormatBytes(RasterState.adapter->pixelFormat);
            if (attribute == 6) return bpp ? RasterState.adapter->GetBitMapAttr(handle->backing, 2, nullptr) / bpp : 0;
            if (attribute == 12) return RasterState.adapter->pixelFormat;
        } else if (handle->kind == BMKIND_RGB && !handle->video) {
            intptr_t v = GetBitmapBufferAttr(static_cast<lvNativeBitmap *>(handle->backing), attribute);
            if (v || attribute == 12) return v;
        }
    }
    return RasterState.services.GetDisplayMetric(RasterState.services.context, handle, attribute);
}

int GetPlaneAttr(void *plane, int attribute) {
    if (AdapterOwnsBitmaps()) return RasterState.adapter->GetBitMapAttr(plane, attribute, nullptr);
    lvNativePlane *p = static_cast<lvNativePlane *>(plane);
    if (!p) return 0;
    if (attribute == 0) return p->width;
    if (attribute == 1) return p->height;
    return 0;
}

void EnableVideoBitmapTransparency(lvBitMapHandle *handle) {
    if (!handle || !handle->video || handle->aux) return;
    if (AdapterMakesVideoBitmaps()) RasterState.adapter->DoVideoBitMapMethod(handle->backing, 1, 1);
    handle->aux = 1;
}

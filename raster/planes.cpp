// planes.cpp - copy, fill, blend and plane operations: the adapter-or-native
// routing, the locking around each row kernel, and the pen-plane remapping.
//
// Depends on: raster/lvplanes.h, raster/lvkernels.h, raster/lvraster.h,
// platform/lvplatform.h.
// Limits: native copy, fill and blend kernels serve 4-byte pixels only; the
// pen remapper picks the nearest pen by plain RGB distance.
#include "raster/lvplanes.h"

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <vector>

#include "platform/lvplatform.h"
#include "raster/lvkernels.h"
#include "raster/lvquantize.h"
#include "raster/lvraster.h"
#include "base/lverrors.h"

// ---- Adapter routing --------------------------------------------------------

namespace {

bool TargetIsVideo(lvBitMapHandle *target) { return target && target->video && AdapterMakesVideoBitmaps(); }

bool UseAdapter(lvBitMapHandle *target, uint32_t accelBit) {
    if (TargetIsVideo(target)) return true;
    return RasterState.adapter && (RasterState.adapter->accel & accelBit) && target && !target->external;
}

// 1 when the target is a selected video brush whose mask or alpha is the output.
bool TargetIsSelectedPlane(lvBitMapHandle *target) {
    lvBlitDisplay *d = RasterState.currentDisplay;
    return d && target && d->target.hardware && d->target.bitmap == target &&
           (d->target.kind == OUTPUT_MASK || d->target.kind == OUTPUT_ALPHA);
}

int BlitMode(lvBitMapHandle *source, lvBitMapHandle *target) {
    int mode = TargetIsVideo(target) ? 4 : 2;
    if (source && source->video) mode |= 1;
    if (TargetIsSelectedPlane(target)) mode |= 0x10;
    return mode;
}

int AdapterBlit(lvBitMapHandle *source, lvBitMapHandle *target, int sx, int sy, int tx, int ty, int width,
                int height, lvBitMapHandle *mask, lvBitMapHandle *alpha, int extraMode) {
    lvBltRecord r{};
    r.sourceX = sx;
    r.sourceY = sy;
    r.targetX = tx;
    r.targetY = ty;
    r.width = width;
    r.height = height;
    r.mask = mask ? mask->backing : nullptr;
    r.alpha = alpha ? alpha->backing : nullptr;
    return RasterState.adapter->BltBitMap(source->backing, target->backing, &r, BlitMode(source, target) | extraMode,
                                          nullptr);
}

// A lock of a 32-bit RGB bitmap, or nothing.
struct Lock32 : lvScopedLock {
    Lock32(lvBitMapHandle *h, int mode) : lvScopedLock(h, mode) {
        if (token && lock.bytesPerPixel != 4) {
            UnlockBitmapHandle(&lock);
            token = 0;
        }
    }
};

// Pixels and row bytes of a plane handle for the duration of one operation.
struct PlaneAccess {
    uint8_t *pixels = nullptr;  // first row
    int rowBytes = 0;           // bytes a row
    uintptr_t token = 0;        // 0 = not had
    PlaneAccess(lvBitMapHandle *h, int write) {
        if (h) token = GetPlanePixels(h, &pixels, &rowBytes, write);
    }
    ~PlaneAccess() {
        if (token) ReleasePlanePixels(token);
    }
    PlaneAccess(const PlaneAccess &) = delete;
    PlaneAccess &operator=(const PlaneAccess &) = delete;
    explicit operator bool() const { return token != 0; }
};

// Cuts a rectangle so that it lies inside every source-side plane (addressed
// at sx, sy) and every target-side plane (at tx, ty): callers clip, but a
// rectangle that reaches past a bitmap never touches memory outside it.
// false when nothing is left.
bool FitRect(std::initializer_list<const lvBitMapHandle *> sources,
             std::initializer_list<const lvBitMapHandle *> targets, int &sx, int &sy, int &tx, int &ty, int &w,
             int &h) {
    if (sx < 0) tx -= sx, w += sx, sx = 0;
    if (sy < 0) ty -= sy, h += sy, sy = 0;
    if (tx < 0) sx -= tx, w += tx, tx = 0;
    if (ty < 0) sy -= ty, h += ty, ty = 0;
    for (const lvBitMapHandle *b : sources)
        if (b) w = std::min(w, b->width - sx), h = std::min(h, b->height - sy);
    for (const lvBitMapHandle *b : targets)
        if (b) w = std::min(w, b->width - tx), h = std::min(h, b->height - ty);
    return w > 0 && h > 0;
}

// The same for a rectangle of one plane.
bool FitRect(const lvBitMapHandle *target, int &x, int &y, int &w, int &h) {
    int sx = x, sy = y;
    return FitRect({}, {target}, sx, sy, x, y, w, h);
}

lvKernelJob RectJob(const void *source, int sx, int sy, int sourceRow, void *target, int tx, int ty, int targetRow,
                    int width, int height) {
    lvKernelJob j{};
    j.source = source;
    j.sourceX = sx;
    j.sourceY = sy;
    j.sourceRow = sourceRow;
    j.target = target;
    j.targetX = tx;
    j.targetY = ty;
    j.targetRow = targetRow;
    j.width = width;
    j.height = height;
    j.transparentPen = -1;
    return j;
}

}  // namespace

// ---- Copies and fills -------------------------------------------------------

void CopyBitmapRect(lvBitMapHandle *source, int sx, int sy, lvBitMapHandle *target, int tx, int ty, int width,
                    int height) {
    if (!source || !target || !FitRect({source}, {target}, sx, sy, tx, ty, width, height)) return;
    if (!source || !target || width <= 0 || height <= 0) return;
    if (UseAdapter(target, ACCEL_COPY)) {
        AdapterBlit(source, target, sx, sy, tx, ty, width, height, nullptr, nullptr, 0);
        return;
    }
    Lock32 s(source, LOCK_READONLY);
    if (!s) return;
    if (source == target) {
        lvKernelJob j = RectJob(s.lock.pixels, sx, sy, s.lock.rowLength, s.lock.pixels, tx, ty, s.lock.rowLength,
                                width, height);
        CopyRect32(&j);
        return;
    }
    Lock32 t(target, 0);
    if (!t) return;
    lvKernelJob j = RectJob(s.lock.pixels, sx, sy, s.lock.rowLength, t.lock.pixels, tx, ty, t.lock.rowLength, width,
                            height);
    CopyRect32(&j);
}

void CopyBitmapRectMasked(lvBitMapHandle *source, int sx, int sy, lvBitMapHandle *target, int tx, int ty, int width,
                          int height, lvBitMapHandle *mask) {
    if (!source || !target || !FitRect({source, mask}, {target}, sx, sy, tx, ty, width, height)) return;
    if (!mask) {
        CopyBitmapRect(source, sx, sy, target, tx, ty, width, height);
        return;
    }
    if (!source || !target || width <= 0 || height <= 0) return;
    if (UseAdapter(target, ACCEL_MASKEDCOPY)) {
        AdapterBlit(source, target, sx, sy, tx, ty, width, height, mask, nullptr, 0);
        return;
    }
    Lock32 s(source, LOCK_READONLY);
    Lock32 t(target, 0);
    PlaneAccess m(mask, 0);
    if (!s || !t || !m) return;
    lvKernelJob j = RectJob(s.lock.pixels, sx, sy, s.lock.rowLength, t.lock.pixels, tx, ty, t.lock.rowLength, width,
                            height);
    j.plane = m.pixels;
    j.planeRow = m.rowBytes;
    CopyThroughMask32(&j);
}

void BlendBitmapRect(lvBitMapHandle *source, int sx, int sy, lvBitMapHandle *target, int tx, int ty, int width,
                     int height, lvBitMapHandle *alpha) {
    if (!source || !target || !FitRect({source, alpha}, {target}, sx, sy, tx, ty, width, height)) return;
    if (!source || !target || width <= 0 || height <= 0) return;
    if (UseAdapter(target, ACCEL_ALPHABLIT)) {
        AdapterBlit(source, target, sx, sy, tx, ty, width, height, nullptr, alpha, 0);
        return;
    }
    BlendPixelsNative(source, sx, sy, target, tx, ty, width, height, alpha, nullptr, 0, 0, 255);
}

void FillBitmapRect(lvBitMapHandle *target, int x, int y, int width, int height, uint32_t colour) {
    if (!target || !FitRect(target, x, y, width, height)) return;
    if (!target || width <= 0 || height <= 0) return;
    if (UseAdapter(target, ACCEL_FILL)) {
        bool plane = TargetIsSelectedPlane(target);
        int mode = (TargetIsVideo(target) ? 2 : 1) | (plane ? 4 : 0);
        RasterState.adapter->RectFill(target->backing, x, y, width, height,
                                      plane ? colour : ConvertColorForAdapter(colour, 0), mode, nullptr);
        return;
    }
    Lock32 t(target, 0);
    if (!t) return;
    FillRectPixels(t.lock.pixels, x, y, width, height, colour, 255, t.lock.rowLength, t.lock.format);
}

void FillRectPixels(uint8_t *pixels, int x, int y, int width, int height, uint32_t colour, int opacity,
                    int rowLength, int format) {
    if (GetPixelFormatBytes(format) != 4 || width <= 0 || height <= 0) return;
    lvKernelJob j = RectJob(nullptr, 0, 0, 0, pixels, x, y, rowLength, width, height);
    j.format = format;
    if (opacity >= 255) {
        j.value = ArgbToPixel(colour, format, 0);
        FillRect32(&j);
    } else {
        j.value = colour;
        j.level = opacity;
        TintRect32(&j);
    }
}

void PlotBitmapPixel(lvBitMapHandle *handle, int x, int y, uint32_t colourOrOperation, int maskFlag) {
    if (!handle || x < 0 || y < 0 || x >= handle->width || y >= handle->height) return;
    if (!handle) return;
    if (maskFlag) {
        PlaneAccess m(handle, 1);
        if (!m) return;
        lvKernelJob j = RectJob(nullptr, 0, 0, 0, m.pixels, x, y, m.rowBytes, 1, 1);
        j.mode = static_cast<int>(colourOrOperation);
        FillMaskBits(&j);
        return;
    }
    if (UseAdapter(handle, ACCEL_PIXEL)) {
        bool plane = TargetIsSelectedPlane(handle);
        int mode = (TargetIsVideo(handle) ? 2 : 1) | (plane ? 4 : 0);
        RasterState.adapter->WritePixel(handle->backing, x, y,
                                        plane ? colourOrOperation : ConvertColorForAdapter(colourOrOperation, 0), mode,
                                        nullptr);
        return;
    }
    lvScopedLock t(handle, 0);
    if (t) WriteLockPixel(&t.lock, colourOrOperation, x, y);
}

int IsChunkyBitmap(lvBitMapHandle *handle) { return handle && handle->kind == BMKIND_CHUNKY; }

uint32_t ReadBitmapPixel(lvBitMapHandle *handle, int x, int y, int maskFlag) {
    if (!handle || x < 0 || y < 0 || x >= handle->width || y >= handle->height) return 0;
    if (!handle) return 0;
    if (maskFlag) {
        PlaneAccess m(handle, 0);
        if (!m) return 0;
        return (m.pixels[static_cast<ptrdiff_t>(y) * m.rowBytes + (x >> 3)] >> (7 - (x & 7))) & 1;
    }
    lvScopedLock s(handle, LOCK_READONLY);
    return s ? ReadLockPixel(&s.lock, x, y) : 0;
}

uint32_t *ReadBitmapRectArgb(lvBitMapHandle *handle, int x, int y, int width, int height, int lockMode) {
    if (handle && (x < 0 || y < 0 || x + width > handle->width || y + height > handle->height)) return nullptr;
    if (!handle || width <= 0 || height <= 0) return nullptr;
    uint32_t *out = static_cast<uint32_t *>(AllocMemory(static_cast<size_t>(width) * height * 4, 0));
    if (!out) return nullptr;
    lvScopedLock s(handle, lockMode | LOCK_READONLY);
    if (!s) {
        FreeMemory(out);
        return nullptr;
    }
    int f = s.lock.format;
    if (f == PIXFMT_RGB16 || (f >= PIXFMT_ARGB32 && f <= PIXFMT_ABGR32)) {
        if (f == PIXFMT_RGB16) {
            for (int yy = 0; yy < height; yy++)
                for (int xx = 0; xx < width; xx++)
                    out[static_cast<size_t>(yy) * width + xx] = ReadLockPixel(&s.lock, x + xx, y + yy);
        } else {
            lvKernelJob j = RectJob(s.lock.pixels, x, y, s.lock.rowLength, out, 0, 0, width, width, height);
            j.format = f;
            ReadRectArgb32(&j);
        }
    } else {
        for (int yy = 0; yy < height; yy++)
            for (int xx = 0; xx < width; xx++)
                out[static_cast<size_t>(yy) * width + xx] = ReadLockPixel(&s.lock, x + xx, y + yy);
    }
    return out;
}

uint32_t *ReadBitmapArgbWithMask(lvBitMapHandle *rgb, lvBitMapHandle *mask, lvBitMapHandle *alpha, int width,
                                 int height) {
    uint32_t *out = ReadBitmapRectArgb(rgb, 0, 0, width, height, 0);
    if (!out) return nullptr;
    PlaneAccess p(mask ? mask : alpha, 0);
    for (int y = 0; y < height; y++) {
        uint32_t *row = out + static_cast<size_t>(y) * width;
        for (int x = 0; x < width; x++) {
            uint32_t a = 0xFF;
            if (p && mask) a = (p.pixels[y * p.rowBytes + (x >> 3)] & (0x80 >> (x & 7))) ? 0xFF : 0;
            else if (p) a = p.pixels[y * p.rowBytes + x];
            row[x] = (a << 24) | (row[x] & 0xFFFFFFu);
        }
    }
    return out;
}

void WriteArgbToBitmap(const uint32_t *argb, int sx, int sy, int rowBytes, lvBitMapHandle *target, int tx, int ty,
                       int width, int height) {
    if (!target || !FitRect({}, {target}, sx, sy, tx, ty, width, height)) return;
    Lock32 t(target, 0);
    if (!t || width <= 0 || height <= 0) return;
    lvKernelJob j = RectJob(argb, sx, sy, rowBytes / 4, t.lock.pixels, tx, ty, t.lock.rowLength, width, height);
    j.format = t.lock.format;
    WriteArgbRect32(&j);
}

// ---- Masks ------------------------------------------------------------------

void FillMaskRect(lvBitMapHandle *mask, int x, int y, int width, int height, int operation) {
    if (!mask || !FitRect(mask, x, y, width, height)) return;
    PlaneAccess m(mask, 1);
    if (!m || width <= 0 || height <= 0) return;
    lvKernelJob j = RectJob(nullptr, 0, 0, 0, m.pixels, x, y, m.rowBytes, width, height);
    j.mode = operation;
    FillMaskBits(&j);
}

void CombineMasks(lvBitMapHandle *source, int sx, int sy, lvBitMapHandle *target, int tx, int ty, int width,
                  int height, int operation, const uint8_t *sourcePixels, int sourceRowBytes) {
    if (!FitRect({sourcePixels ? nullptr : source}, {target}, sx, sy, tx, ty, width, height)) return;
    if (width <= 0 || height <= 0) return;
    PlaneAccess s(sourcePixels ? nullptr : source, 0);
    if (!sourcePixels) {
        if (!s) return;
        sourcePixels = s.pixels;
        sourceRowBytes = s.rowBytes;
    }
    PlaneAccess t(target, 1);
    if (!t) return;
    lvKernelJob j = RectJob(sourcePixels, sx, sy, sourceRowBytes, t.pixels, tx, ty, t.rowBytes, width, height);
    j.mode = operation;
    CombineMaskBits(&j);
}

void MaskFromChunkyPlane(lvBitMapHandle *chunky, int sx, int sy, lvBitMapHandle *mask, int tx, int ty, int width,
                         int height, int operation, int transparentPen) {
    if (!FitRect({chunky}, {mask}, sx, sy, tx, ty, width, height)) return;
    if (transparentPen == -1) {
        FillMaskRect(mask, tx, ty, width, height, operation);
        return;
    }
    PlaneAccess c(chunky, 0);
    PlaneAccess m(mask, 1);
    if (!c || !m || width <= 0 || height <= 0) return;
    lvKernelJob j = RectJob(c.pixels, sx, sy, c.rowBytes, m.pixels, tx, ty, m.rowBytes, width, height);
    j.mode = operation;
    j.value = static_cast<uint32_t>(transparentPen);
    CombinePensIntoMask(&j);
}

void MaskFromBytePlane(lvBitMapHandle *plane, int sx, int sy, lvBitMapHandle *mask, int tx, int ty, int width,
                       int height, int operation, int equal, int value) {
    if (!FitRect({plane}, {mask}, sx, sy, tx, ty, width, height)) return;
    PlaneAccess p(plane, 0);
    PlaneAccess m(mask, 1);
    if (!p || !m || width <= 0 || height <= 0) return;
    lvKernelJob j = RectJob(p.pixels, sx, sy, p.rowBytes, m.pixels, tx, ty, m.rowBytes, width, height);
    j.mode = operation;
    j.equal = equal;
    j.value = static_cast<uint32_t>(value);
    SetMaskFromBytes(&j);
}

void ConvertMaskToAlpha(lvBitMapHandle *mask, int sx, int sy, lvBitMapHandle *alpha, int tx, int ty, int width,
                        int height, int value) {
    if (!FitRect({mask}, {alpha}, sx, sy, tx, ty, width, height)) return;
    PlaneAccess m(mask, 0);
    PlaneAccess a(alpha, 1);
    if (!m || !a || width <= 0 || height <= 0) return;
    lvKernelJob j = RectJob(nullptr, sx, sy, 0, a.pixels, tx, ty, a.rowBytes, width, height);
    j.plane = m.pixels;
    j.planeRow = m.rowBytes;
    j.value = static_cast<uint32_t>(value);
    MaskToBytes(&j);
}

// ---- 8-bit planes -----------------------------------------------------------

void ScaleAlphaPlane(lvBitMapHandle *source, lvBitMapHandle *target, int width, int height, int factor) {
    int x = 0, y = 0, tx = 0, ty = 0;
    if (!source || !FitRect({source}, {target}, x, y, tx, ty, width, height)) return;
    PlaneAccess s(source, source == target);
    if (!s) return;
    if (source == target) {
        lvKernelJob j = RectJob(s.pixels, 0, 0, s.rowBytes, s.pixels, 0, 0, s.rowBytes, width, height);
        j.level = factor;
        ScaleAlphaBytes(&j);
        return;
    }
    PlaneAccess t(target, 1);
    if (!t) return;
    lvKernelJob j = RectJob(s.pixels, 0, 0, s.rowBytes, t.pixels, 0, 0, t.rowBytes, width, height);
    j.level = factor;
    ScaleAlphaBytes(&j);
}

void FillBytePlaneRect(lvBitMapHandle *plane, int x, int y, int width, int height, int value) {
    if (!plane || !FitRect(plane, x, y, width, height)) return;
    PlaneAccess p(plane, 1);
    if (!p || width <= 0 || height <= 0) return;
    lvKernelJob j = RectJob(nullptr, 0, 0, 0, p.pixels, x, y, p.rowBytes, width, height);
    j.value = static_cast<uint32_t>(value);
    FillBytesRect(&j);
}

void FillBytePlaneThroughMask(lvBitMapHandle *mask, int sx, int sy, lvBitMapHandle *plane, int tx, int ty, int width,
                              int height, int value, const uint8_t *maskPixels, int maskRowBytes) {
    if (!FitRect({maskPixels ? nullptr : mask}, {plane}, sx, sy, tx, ty, width, height)) return;
    if (width <= 0 || height <= 0) return;
    PlaneAccess m(maskPixels ? nullptr : mask, 0);
    if (!maskPixels) {
        if (!m) return;
        maskPixels = m.pixels;
        maskRowBytes = m.rowBytes;
    }
    PlaneAccess p(plane, 1);
    if (!p) return;
    lvKernelJob j = RectJob(nullptr, sx, sy, 0, p.pixels, tx, ty, p.rowBytes, width, height);
    j.plane = maskPixels;
    j.planeRow = maskRowBytes;
    j.value = static_cast<uint32_t>(value);
    FillBytesThroughMask(&j);
}

void CombineBytePlanesRaw(const uint8_t *source, int sx, int sy, uint8_t *target, int tx, int ty, int width,
                          int height, int mode, int value, int sourceRowBytes, int targetRowBytes,
                          const uint8_t *third, int thirdRowBytes) {
    if (!source || !target || width <= 0 || height <= 0) return;
    lvKernelJob j = RectJob(source, sx, sy, sourceRowBytes, target, tx, ty, targetRowBytes, width, height);
    j.mode = mode;
    j.value = static_cast<uint32_t>(value);
    j.third = third;
    j.thirdRow = thirdRowBytes;
    CombineByteRows(&j);
}

void CombineBytePlanes(lvBitMapHandle *source, int sx, int sy, lvBitMapHandle *target, int tx, int ty, int width,
                       int height, int mode, int value) {
    if (!source || !target || !FitRect({source}, {target}, sx, sy, tx, ty, width, height)) return;
    PlaneAccess s(source, source == target);
    if (!s) return;
    if (source == target) {
        CombineBytePlanesRaw(s.pixels, sx, sy, s.pixels, tx, ty, width, height, mode, value, s.rowBytes, s.rowBytes,
                             nullptr, 0);
        return;
    }
    PlaneAccess t(target, 1);
    if (!t) return;
    CombineBytePlanesRaw(s.pixels, sx, sy, t.pixels, tx, ty, width, height, mode, value, s.rowBytes, t.rowBytes,
                         nullptr, 0);
}

// ---- Blends -----------------------------------------------------------------

void DrawColorThroughAlpha(lvBitMapHandle *alpha, int sx, int sy, lvBitMapHandle *target, int tx, int ty, int width,
                           int height, uint32_t colour, int mode, lvBitMapHandle *targetAlpha, int opacity,
                           lvBitMapHandle *sourceRgb) {
    if (!FitRect({alpha, sourceRgb}, {target, targetAlpha}, sx, sy, tx, ty, width, height)) return;
    if (!alpha || !target || width <= 0 || height <= 0) return;
    PlaneAccess a(alpha, 0);
    if (!a) return;
    if (target->kind == BMKIND_CHUNKY || target->kind == BMKIND_ALPHA) {
        PlaneAccess t(target, 1);
        if (t)
            CombineBytePlanesRaw(a.pixels, sx, sy, t.pixels, tx, ty, width, height, 6, static_cast<int>(colour & 0xFF),
                                 a.rowBytes, t.rowBytes, nullptr, 0);
        return;
    }
    Lock32 t(target, 0);
    if (!t) return;
    Lock32 s(sourceRgb, LOCK_READONLY);
    PlaneAccess ta(targetAlpha, 1);
    lvKernelJob j = RectJob(s ? s.lock.pixels : nullptr, sx, sy, s ? s.lock.rowLength : 0, t.lock.pixels, tx, ty,
                            t.lock.rowLength, width, height);
    j.format = t.lock.format;
    j.plane = a.pixels;
    j.planeRow = a.rowBytes;
    j.value = colour;
    j.mode = mode;
    j.level = opacity;
    j.targetAlpha = ta ? ta.pixels : nullptr;
    j.targetAlphaRow = ta.rowBytes;
    DrawColorThroughCoverage32(&j);
}

void BlendPixelsNative(lvBitMapHandle *source, int sx, int sy, lvBitMapHandle *target, int tx, int ty, int width,
                       int height, lvBitMapHandle *coverage, lvBitMapHandle *targetAlpha, int mode, uint32_t colour,
                       int opacity) {
    if (!FitRect({source, coverage}, {target, targetAlpha}, sx, sy, tx, ty, width, height)) return;
    if (!target || width <= 0 || height <= 0) return;
    Lock32 t(target, 0);
    if (!t) return;
    Lock32 s(source, LOCK_READONLY);
    if (source && !s) return;
    PlaneAccess c(coverage, 0);
    if (coverage && !c) return;
    PlaneAccess ta(targetAlpha, 1);
    lvKernelJob j = RectJob(s ? s.lock.pixels : nullptr, sx, sy, s ? s.lock.rowLength : 0, t.lock.pixels, tx, ty,
                            t.lock.rowLength, width, height);
    j.format = t.lock.format;
    j.value = colour;
    j.level = opacity;
    j.targetAlpha = ta ? ta.pixels : nullptr;
    j.targetAlphaRow = ta.rowBytes;
    j.plane = c ? c.pixels : nullptr;
    j.planeRow = c.rowBytes;
    if (coverage && coverage->kind == BMKIND_MASK) {
        // A mask is coverage of 0 or 255: blends and copies become masked copies
        // or fills; compositing gets each row widened to bytes.
        if (mode == 0 || mode == 1) {
            if (s) CopyThroughMask32(&j);
            else {
                j.value = ArgbToPixel32(j.format, colour & 0xFFFFFFu);
                FillThroughMask32(&j);
            }
            return;
        }
        if (mode != 2 || !j.targetAlpha) return;
        std::vector<uint8_t> row(static_cast<size_t>(sx + width));
        for (int y = 0; y < height; y++) {
            lvKernelJob w = RectJob(nullptr, sx, sy + y, 0, row.data(), sx, 0, 0, width, 1);
            w.plane = c.pixels;
            w.planeRow = c.rowBytes;
            w.value = 255;
            MaskToBytes(&w);
            lvKernelJob r = j;
            r.sourceY = sy + y;
            r.targetY = ty + y;
            r.height = 1;
            r.plane = row.data();
            r.planeRow = 0;  // one widened row serves whatever source row is asked
            CompositeThroughCoverage32(&r);
        }
        return;
    }
    switch (mode) {
    case 0:
        if (s && j.plane) BlendThroughCoverage32(&j);
        else if (j.plane) {
            j.mode = 1;
            DrawColorThroughCoverage32(&j);
        }
        break;
    case 1:
        if (j.plane) CopyThroughCoverage32(&j);
        break;
    case 2:
        if (j.targetAlpha) CompositeThroughCoverage32(&j);
        break;
    default: break;
    }
}

// ---- Clipped forms ----------------------------------------------------------

bool ClipPlaneRect(int *sx, int *sy, int *tx, int *ty, int *width, int *height, int sw, int sh, int tw, int th) {
    if (*tx < 0) {
        *sx -= *tx;
        *width += *tx;
        *tx = 0;
    }
    if (*ty < 0) {
        *sy -= *ty;
        *height += *ty;
        *ty = 0;
    }
    *width = std::min(*width, std::min(sw - *sx, tw - *tx));
    *height = std::min(*height, std::min(sh - *sy, th - *ty));
    return *width > 0 && *height > 0 && *sx >= 0 && *sy >= 0;
}

static int HandleWidth(lvBitMapHandle *h, int fallback) { return h ? h->width : fallback; }
static int HandleHeight(lvBitMapHandle *h, int fallback) { return h ? h->height : fallback; }

void BlendPixelsNativeClipped(lvBitMapHandle *source, int sx, int sy, lvBitMapHandle *target, int tx, int ty,
                              int width, int height, lvBitMapHandle *coverage, lvBitMapHandle *targetAlpha, int mode,
                              uint32_t colour, int opacity) {
    if (!target) return;
    lvBitMapHandle *src = source ? source : coverage;
    if (!ClipPlaneRect(&sx, &sy, &tx, &ty, &width, &height, HandleWidth(src, 1 << 30), HandleHeight(src, 1 << 30),
                       target->width, target->height))
        return;
    BlendPixelsNative(source, sx, sy, target, tx, ty, width, height, coverage, targetAlpha, mode, colour, opacity);
}

void CombineBytePlanesClipped(lvBitMapHandle *source, int sx, int sy, lvBitMapHandle *target, int tx, int ty,
                              int width, int height, int mode, int value) {
    if (!source || !target) return;
    if (!ClipPlaneRect(&sx, &sy, &tx, &ty, &width, &height, source->width, source->height, target->width,
                       target->height))
        return;
    CombineBytePlanes(source, sx, sy, target, tx, ty, width, height, mode, value);
}

void DrawColorThroughAlphaClipped(lvBitMapHandle *alpha, int sx, int sy, lvBitMapHandle *target, int tx, int ty,
                                  int width, int height, uint32_t colour, int mode, lvBitMapHandle *targetAlpha,
                                  int opacity, lvBitMapHandle *sourceRgb) {
    if (!alpha || !target) return;
    if (!ClipPlaneRect(&sx, &sy, &tx, &ty, &width, &height, alpha->width, alpha->height, target->width,
                       target->height))
        return;
    DrawColorThroughAlpha(alpha, sx, sy, target, tx, ty, width, height, colour, mode, targetAlpha, opacity, sourceRgb);
}

// ---- Palette sources and pen targets ----------------------------------------

void BlitChunkyToRgb(const lvChunkyBlit *blit) {
    lvChunkyBlit fit = *blit;
    const lvChunkyBlit *b = &fit;
    if (!b->source || !b->target || !b->palette ||
        !FitRect({fit.source, fit.mask}, {fit.target, fit.outMask, fit.outAlpha}, fit.sourceX, fit.sourceY,
                 fit.targetX, fit.targetY, fit.width, fit.height))
        return;
    if (b->target->kind == BMKIND_CHUNKY) {
        // Pens onto pens: everything but the transparent pen is copied.
        if (b->transparentPen >= 0)
            CombineBytePlanes(b->source, b->sourceX, b->sourceY, b->target, b->targetX, b->targetY, b->width,
                              b->height, 10, b->transparentPen);
        else
            CombineBytePlanes(b->source, b->sourceX, b->sourceY, b->target, b->targetX, b->targetY, b->width,
                              b->height, 0, 0);
        return;
    }
    if (UseAdapter(b->target, ACCEL_CHUNKYBLIT)) {
        if (!(RasterState.adapter->flags & ADAPTER_CHUNKYBLIT)) return;
        lvBltRecord r{};
        r.sourceX = b->sourceX;
        r.sourceY = b->sourceY;
        r.targetX = b->targetX;
        r.targetY = b->targetY;
        r.width = b->width;
        r.height = b->height;
        r.chunkyMask = b->mask ? b->mask->backing : nullptr;
        r.palette = b->palette;
        r.transparentPen = b->transparentPen;
        RasterState.adapter->BltBitMap(b->source->backing, b->target->backing, &r,
                                       0x40 | (TargetIsVideo(b->target) ? 4 : 2), nullptr);
        return;
    }
    PlaneAccess s(b->source, 0);
    Lock32 t(b->target, 0);
    if (!s || !t) return;
    PlaneAccess m(b->mask, 0);
    PlaneAccess om(b->outMask, 1);
    PlaneAccess oa(b->outMask ? nullptr : b->outAlpha, 1);
    lvKernelJob j = RectJob(s.pixels, b->sourceX, b->sourceY, s.rowBytes, t.lock.pixels, b->targetX, b->targetY,
                            t.lock.rowLength, b->width, b->height);
    j.format = t.lock.format;
    j.palette = b->palette;
    j.transparentPen = b->transparentPen;
    j.plane = m ? m.pixels : nullptr;
    j.planeRow = m.rowBytes;
    if (om) {
        j.output = om.pixels;
        j.outputRow = om.rowBytes;
        j.outputIsMask = 1;
    } else if (oa) {
        j.output = oa.pixels;
        j.outputRow = oa.rowBytes;
    }
    j.level = b->alphaValue;
    j.writeAll = b->writeAll;
    ChunkyToPixels32(&j);
}

// Every colour that lands on a pen plane goes through the quantiser in remap
// and blend mode: the target palette's first 2^depth pens are the only pens,
// alpha blends with the pen already there, masked-out and transparent-pen
// pixels keep the target.
void RemapRgbToChunky(const lvRemapBlit *blit) {
    lvRemapBlit fit = *blit;
    const lvRemapBlit *b = &fit;
    if (!b->target || !b->palette ||
        !FitRect({fit.sourceRgb, fit.sourceChunky, fit.mask, fit.alpha}, {fit.target}, fit.sourceX, fit.sourceY,
                 fit.targetX, fit.targetY, fit.width, fit.height))
        return;
    int depth = b->depth <= 0 ? 8 : std::min(b->depth, 8);
    PlaneAccess t(b->target, 1);
    if (!t) return;
    lvScopedLock rgb(b->constantPen >= 0 || b->useColour ? nullptr : b->sourceRgb, LOCK_READONLY);
    PlaneAccess pens(b->constantPen >= 0 || b->useColour ? nullptr : b->sourceChunky, 0);
    PlaneAccess cover(b->constantPen >= 0 || b->useColour ? b->alpha : nullptr, 0);
    if (b->sourceRgb && b->constantPen < 0 && !b->useColour && !rgb) return;
    if (b->sourceChunky && b->constantPen < 0 && !b->useColour && !pens) return;
    if (b->alpha && (b->constantPen >= 0 || b->useColour) && !cover) return;
    uint32_t palette[256];
    std::memcpy(palette, b->palette, sizeof(palette));
    int flags = QUANT_REMAP | QUANT_BLEND | QUANT_KEEPPALETTE;
    if (b->dither == DITHERMODE_FLOYDSTEINBERG && b->constantPen < 0) flags |= QUANT_DITHER;
    int ratio = (b->ratio > 0 && b->ratio < 255) ? b->ratio : 255;
    int32_t value = ratio;
    if (ratio < 255) flags |= QUANT_PIXELALPHA;
    const void *source = nullptr;
    const uint32_t *sourcePalette = nullptr;
    int format = PIXFMT_CLUT8, bytes = 1, row = 0, transparentPen = -1;
    lvBitMapHandle *alpha = b->alpha;
    static const uint32_t solid = 0;  // never read: a constant colour needs no pixels
    if (b->constantPen >= 0 || b->useColour) {
        uint32_t colour = b->constantPen >= 0 ? b->palette[b->constantPen & 0xFF] : b->colour;
        flags |= QUANT_CONSTCOLOUR;
        value = static_cast<int32_t>((static_cast<uint32_t>(ratio) << 24) | (colour & 0xFFFFFFu));
        if (cover) {
            // The alpha plane's bytes are the coverage of the colour.
            source = cover.pixels;
            row = cover.rowBytes;
            alpha = nullptr;
        } else {
            source = &solid;
            format = PIXFMT_ARGB32;
            bytes = 4;
        }
    } else if (pens) {
        source = pens.pixels;
        row = pens.rowBytes;
        sourcePalette = b->sourcePalette ? b->sourcePalette : b->palette;
        transparentPen = b->transparentPen;
    } else if (rgb) {
        source = rgb.lock.pixels;
        format = rgb.lock.format;
        bytes = rgb.lock.bytesPerPixel;
        row = rgb.lock.rowLength;
    } else {
        return;
    }
    int count = 1 << depth;
    int sx = b->sourceX, sy = b->sourceY;
    RemapToPalette(source, sourcePalette, transparentPen, format, bytes, sx, sy, t.pixels, b->targetX, b->targetY,
                   b->width, b->height, row, t.rowBytes, palette, -1, b->mask, alpha, &count, value, flags, nullptr,
                   QUANT_RUNTHRESHOLD);
}

void DrawPenThroughAlpha(int pen, lvBitMapHandle *alpha, int sx, int sy, lvBitMapHandle *target, int tx, int ty,
                         int width, int height, const uint32_t *palette, int depth) {
    lvRemapBlit r{};
    r.alpha = alpha;
    r.sourceX = sx;
    r.sourceY = sy;
    r.target = target;
    r.targetX = tx;
    r.targetY = ty;
    r.width = width;
    r.height = height;
    r.palette = palette;
    r.depth = depth;
    r.transparentPen = -1;
    r.constantPen = pen;
    if (!palette) {
        // Without a palette the pen goes in wherever the alpha is not 0.
        PlaneAccess a(alpha, 0);
        PlaneAccess t(target, 1);
        if (a && t)
            CombineBytePlanesRaw(a.pixels, sx, sy, t.pixels, tx, ty, width, height, 6, pen & 0xFF, a.rowBytes,
                                 t.rowBytes, nullptr, 0);
        return;
    }
    RemapRgbToChunky(&r);
    // Fully covered pixels are the pen's own colour: they take the pen itself, which the
    // remap's coarse colour cells could otherwise turn into a neighbouring pen.
    if (!FitRect({alpha}, {target}, sx, sy, tx, ty, width, height)) return;
    PlaneAccess a(alpha, 0);
    PlaneAccess t(target, 1);
    if (!a || !t) return;
    for (int y = 0; y < height; y++) {
        const uint8_t *cover = a.pixels + static_cast<ptrdiff_t>(sy + y) * a.rowBytes + sx;
        uint8_t *out = t.pixels + static_cast<ptrdiff_t>(ty + y) * t.rowBytes + tx;
        for (int x = 0; x < width; x++)
            if (cover[x] == 255) out[x] = static_cast<uint8_t>(pen);
    }
}

void BlitChunkyToChunky(const lvChunkyToChunky *blit) {
    lvChunkyToChunky fit = *blit;
    const lvChunkyToChunky *b = &fit;
    if (!b->source || !b->target ||
        !FitRect({fit.source, fit.mask}, {fit.target}, fit.sourceX, fit.sourceY, fit.targetX, fit.targetY, fit.width,
                 fit.height))
        return;
    // With a source mask the target rectangle is saved first and put back
    // wherever the mask is clear.
    lvBitMapHandle *saved = nullptr;
    if (b->mask) {
        saved = AllocChunkyBitmap(b->width, b->height, 0);
        if (!saved) return;
        CombineBytePlanes(b->target, b->targetX, b->targetY, saved, 0, 0, b->width, b->height, 0, 0);
    }
    if (b->flags & 1) {
        int intensity = (b->intensity == VANILLACOPY || (b->flags & 2)) ? 255 : b->intensity;
        if (b->transparentPen < 0)
            FillBytePlaneRect(b->target, b->targetX, b->targetY, b->width, b->height, intensity);
        else
            CombineBytePlanes(b->source, b->sourceX, b->sourceY, b->target, b->targetX, b->targetY, b->width,
                              b->height, 11, (intensity << 8) | (b->transparentPen & 0xFF));
    } else if (b->paletteMode == PALETTEMODE_REMAP && b->sourcePalette && b->targetPalette &&
               std::memcmp(b->sourcePalette, b->targetPalette, 1024) != 0) {
        lvRemapBlit r{};
        r.sourceChunky = b->source;
        r.sourcePalette = b->sourcePalette;
        r.sourceX = b->sourceX;
        r.sourceY = b->sourceY;
        r.target = b->target;
        r.targetX = b->targetX;
        r.targetY = b->targetY;
        r.width = b->width;
        r.height = b->height;
        r.palette = b->targetPalette;
        r.depth = b->depth;
        r.transparentPen = b->transparentPen;
        r.dither = (b->flags & 4) ? DITHERMODE_FLOYDSTEINBERG : DITHERMODE_NONE;
        r.constantPen = -1;
        RemapRgbToChunky(&r);
    } else if (b->transparentPen >= 0) {
        CombineBytePlanes(b->source, b->sourceX, b->sourceY, b->target, b->targetX, b->targetY, b->width, b->height,
                          10, b->transparentPen);
    } else {
        CombineBytePlanes(b->source, b->sourceX, b->sourceY, b->target, b->targetX, b->targetY, b->width, b->height,
                          0, 0);
    }
    if (saved) {
        PlaneAccess m(b->mask, 0);
        PlaneAccess s(saved, 0);
        PlaneAccess t(b->target, 1);
        if (m && s && t) {
            for (int y = 0; y < b->height; y++) {
                int my = b->sourceY + y;
                uint8_t *d = t.pixels + static_cast<ptrdiff_t>(b->targetY + y) * t.rowBytes + b->targetX;
                const uint8_t *o = s.pixels + static_cast<ptrdiff_t>(y) * s.rowBytes;
                for (int x = 0; x < b->width; x++) {
                    int mx = b->sourceX + x;
                    if (!((m.pixels[my * m.rowBytes + (mx >> 3)] >> (7 - (mx & 7))) & 1)) d[x] = o[x];
                }
            }
        }
        FreePlaneBitmap(saved);
    }
}

// ---- Output planes of the blit ----------------------------------------------

void WriteMaskToAlphaTarget(lvBitMapHandle *mask, int sx, int sy, lvBitMapHandle *target, int isPaletteBitmap,
                            int tx, int ty, int width, int height, int intensity) {
    int value = intensity == VANILLACOPY ? 255 : intensity;
    // A palette bitmap takes the intensity as its pen as well.
    (void)isPaletteBitmap;
    FillBytePlaneThroughMask(mask, sx, sy, target, tx, ty, width, height, value, nullptr, 0);
}

void WriteAlphaToAlphaTarget(lvBitMapHandle *alpha, int sx, int sy, lvBitMapHandle *target, int isPaletteBitmap,
                             int tx, int ty, int width, int height, int intensity, int combineMode) {
    if (isPaletteBitmap) {
        int value = intensity == VANILLACOPY ? 255 : intensity;
        CombineBytePlanes(alpha, sx, sy, target, tx, ty, width, height, 6, value);
        return;
    }
    // A combined selection maps its combine modes 0, 1 and 2 to plane modes 0
    // (copy), 1 (where the source is not 0) and 9 (over). A selected alpha
    // channel alone copies the source alpha (VANILLACOPY) or writes the
    // intensity wherever the source alpha is not 0.
    if (combineMode >= 0) {
        int mode = combineMode == 2 ? 9 : (combineMode == 1 ? 1 : 0);
        CombineBytePlanes(alpha, sx, sy, target, tx, ty, width, height, mode, 0);
    } else if (intensity == VANILLACOPY) {
        CombineBytePlanes(alpha, sx, sy, target, tx, ty, width, height, 0, 0);
    } else {
        CombineBytePlanes(alpha, sx, sy, target, tx, ty, width, height, 6, intensity);
    }
}

void WriteAlphaTargetRect(lvBitMapHandle *target, int isPaletteBitmap, int tx, int ty, int width, int height,
                          int intensity) {
    (void)isPaletteBitmap;
    FillBytePlaneRect(target, tx, ty, width, height, intensity == VANILLACOPY ? 255 : intensity);
}

// ---- Kernel entry points ----------------------------------------------------

int TintBitmapRect(lvBitMapHandle *bitmap, int x, int y, int width, int height, uint32_t colour, int amount) {
    if (bitmap && !FitRect(bitmap, x, y, width, height)) return 0;
    lvScopedLock t(bitmap, 0);
    if (!t) return ERR_LOCKBMAP;
    FillRectPixels(t.lock.pixels, x, y, width, height, colour, amount, t.lock.rowLength, t.lock.format);
    return 0;
}

// Mixing onto a pen plane: the colours are blended with the pens already there.
static int MixIntoPens(const lvMixJob *m) {
    if (!m->targetPalette) return ERR_WRONGUSAGE;
    lvRemapBlit r{};
    r.sourceRgb = m->sourceRgb;
    r.sourceChunky = m->sourcePens;
    r.sourcePalette = (m->ownPalette && m->sourcePalette) ? m->sourcePalette : m->targetPalette;
    r.sourceX = m->sourceX;
    r.sourceY = m->sourceY;
    r.mask = m->sourceMask;
    r.alpha = m->sourceAlpha;
    r.target = m->targetPens;
    r.targetX = m->targetX;
    r.targetY = m->targetY;
    r.width = m->width;
    r.height = m->height;
    r.palette = m->targetPalette;
    r.depth = m->targetDepth;
    r.transparentPen = m->sourcePens ? static_cast<int>(m->colourOrPen) : -1;
    r.dither = m->dither ? DITHERMODE_FLOYDSTEINBERG : DITHERMODE_NONE;
    r.constantPen = -1;
    r.useColour = !m->sourceRgb && !m->sourcePens;
    r.colour = m->colourOrPen;
    r.ratio = m->ratio;
    PlaneAccess t(m->targetPens, 0);
    PlaneAccess mask(m->sourceMask, 0);
    PlaneAccess alpha(m->sourceAlpha, 0);
    lvScopedLock s(m->sourceRgb, LOCK_READONLY);
    if (!t || (m->sourceMask && !mask) || (m->sourceAlpha && !alpha) || (m->sourceRgb && !s)) return ERR_LOCKBMAP;
    RemapRgbToChunky(&r);
    return 0;
}

int MixImages(const lvMixJob *job) {
    lvMixJob fit = *job;
    const lvMixJob *m = &fit;
    if (m->ratio <= 0) return 0;  // nothing of the source shows
    if (!FitRect({fit.sourceRgb, fit.sourceMask, fit.sourceAlpha, fit.sourcePens},
                 {fit.targetRgb, fit.targetAlpha, fit.targetPens}, fit.sourceX, fit.sourceY, fit.targetX, fit.targetY,
                 fit.width, fit.height))
        return 0;
    if (m->targetPens) return MixIntoPens(m);
    Lock32 t(m->targetRgb, 0);
    if (!t) return ERR_LOCKBMAP;
    PlaneAccess mask(m->sourceMask, 0);
    PlaneAccess alpha(m->sourceAlpha, 0);
    PlaneAccess ta(m->targetAlpha, 1);
    PlaneAccess pens(m->sourcePens, 0);
    lvScopedLock s(m->sourceRgb, LOCK_READONLY);
    if ((m->sourceMask && !mask) || (m->sourceAlpha && !alpha) || (m->targetAlpha && !ta) ||
        (m->sourcePens && !pens) || (m->sourceRgb && !s))
        return ERR_LOCKBMAP;
    if (m->width <= 0 || m->height <= 0) return 0;
    lvKernelJob j = RectJob(nullptr, m->sourceX, m->sourceY, 0, t.lock.pixels, m->targetX, m->targetY,
                            t.lock.rowLength, m->width, m->height);
    j.format = t.lock.format;
    j.level = m->ratio;
    j.value = m->colourOrPen;
    if (pens) {
        j.source = pens.pixels;
        j.sourceRow = pens.rowBytes;
        j.sourceBytes = 1;
        j.palette = m->sourcePalette;
        j.transparentPen = static_cast<int>(m->colourOrPen);
        if (!j.palette) return ERR_WRONGUSAGE;
    } else if (s) {
        if (s.lock.bytesPerPixel != 4) return 0;
        j.source = s.lock.pixels;
        j.sourceRow = s.lock.rowLength;
        j.sourceBytes = 4;
    }
    j.plane = mask ? mask.pixels : nullptr;
    j.planeRow = mask.rowBytes;
    j.plane2 = alpha ? alpha.pixels : nullptr;
    j.plane2Row = alpha.rowBytes;
    j.targetAlpha = ta ? ta.pixels : nullptr;
    j.targetAlphaRow = ta.rowBytes;
    MixRect32(&j);
    return 0;
}

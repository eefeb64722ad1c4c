// effects_geometric.cpp - effects that move pixels (swirl, water ripple,
// pixelate) and the pixel kernels the transitions share with them: the swirl
// and ripple resamplers in their fade and blend modes, block pixelation,
// masked rectangle copies, the wave band copy and the threshold reveal.
//
// Sampling is nearest-neighbour; the swirl and ripple look their sines up in
// tables of 6300 entries built by adding 0.001 per step (the drift of that
// sum is part of the result) and take integer square roots.
#include "images/lveffects.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "base/lverrors.h"
#include "platform/lvplatform.h"

namespace {

const int kTableSize = 6300;
const double kRippleTwoPi = 6.28318530717959;

inline int MaskBit(const uint8_t *row, int x) { return (row[x >> 3] >> (7 - (x & 7))) & 1; }
inline void SetMaskBit(uint8_t *row, int x, int on) {
    uint8_t bit = static_cast<uint8_t>(0x80 >> (x & 7));
    if (on) row[x >> 3] |= bit;
    else row[x >> 3] &= static_cast<uint8_t>(~bit);
}

// ARGB of a source pixel: its colour, or a pen through the palette.
inline uint32_t SampleArgb(const lvKernelPlanes *p, int x, int y) {
    if (p->pixels) {
        uint32_t c = p->pixels[static_cast<size_t>(y) * p->rowLength + x];
        return p->format == PIXFMT_ARGB32 ? c : Pixel32ToArgb(p->format, c);
    }
    if (p->plane && p->palette) return p->palette[p->plane[static_cast<size_t>(y) * p->planeRowBytes + x]];
    return 0;
}
inline void StoreArgb(lvKernelPlanes *p, int x, int y, uint32_t argb) {
    p->pixels[static_cast<size_t>(y) * p->rowLength + x] = p->format == PIXFMT_ARGB32 ? argb : ArgbToPixel32(p->format, argb);
}

// Writes the target pixel (x, y) from the source point (u, v) in the mode asked.
void ApplyMode(const lvKernelPlanes *s, lvKernelPlanes *t, int x, int y, int u, int v, int value,
               const lvKernelBlend *blend) {
    if (!blend || (!blend->fade && !blend->second)) {
        if (t->pixels && s->pixels) t->pixels[static_cast<size_t>(y) * t->rowLength + x] = s->pixels[static_cast<size_t>(v) * s->rowLength + u];
        if (t->mask && s->mask) SetMaskBit(t->mask + static_cast<size_t>(y) * t->maskRowBytes, x, MaskBit(s->mask + static_cast<size_t>(v) * s->maskRowBytes, u));
        if (t->plane && s->plane) t->plane[static_cast<size_t>(y) * t->planeRowBytes + x] = s->plane[static_cast<size_t>(v) * s->planeRowBytes + u];
        return;
    }
    if (blend->fade) {
        const lvKernelPlanes *f = blend->fade;
        int a = f->plane[static_cast<size_t>(v) * f->planeRowBytes + u];
        uint8_t *ta = t->plane ? t->plane + static_cast<size_t>(y) * t->planeRowBytes + x : nullptr;
        if (a) {
            if (t->pixels) StoreArgb(t, x, y, SampleArgb(s, u, v));
            if (ta) *ta = static_cast<uint8_t>(a * (blend->reverse ? 255 - value : value) / 255);
        } else if (ta) {
            *ta = 0;
        }
        return;
    }
    uint32_t first = SampleArgb(s, u, v), second = SampleArgb(blend->second, u, v), out = 0;
    for (int shift = 0; shift < 32; shift += 8) {
        int a = (first >> shift) & 0xFF, b = (second >> shift) & 0xFF;
        int c = b + (((a - b) * value) >> 8);
        out |= uint32_t(c & 0xFF) << shift;
    }
    if (t->pixels) StoreArgb(t, x, y, out);
}

// Private copies of the planes, so that resampling in place reads the old picture.
struct PlaneCopies {
    lvKernelPlanes planes{};
    void *blocks[3] = {};
    ~PlaneCopies() {
        for (void *b : blocks) FreeMemory(b);
    }
    bool Make(const lvKernelPlanes &from) {
        planes = from;
        size_t h = static_cast<size_t>(from.height);
        if (from.pixels) {
            size_t n = static_cast<size_t>(from.rowLength) * h * 4;
            if (!(blocks[0] = AllocMemory(n, 0))) return false;
            std::memcpy(blocks[0], from.pixels, n);
            planes.pixels = static_cast<uint32_t *>(blocks[0]);
        }
        if (from.mask) {
            size_t n = static_cast<size_t>(from.maskRowBytes) * h;
            if (!(blocks[1] = AllocMemory(n, 0))) return false;
            std::memcpy(blocks[1], from.mask, n);
            planes.mask = static_cast<uint8_t *>(blocks[1]);
        }
        if (from.plane) {
            size_t n = static_cast<size_t>(from.planeRowBytes) * h;
            if (!(blocks[2] = AllocMemory(n, 0))) return false;
            std::memcpy(blocks[2], from.plane, n);
            planes.plane = static_cast<uint8_t *>(blocks[2]);
        }
        return true;
    }
};

// The planes of an effect reached for writing; the size is the smallest of
// the given size and every plane's.
struct ReachedPlanes {
    lvScopedLock lock;
    uintptr_t maskToken = 0, planeToken = 0;
    lvKernelPlanes planes{};
    int error = 0;
    ReachedPlanes(lvBitMapHandle *rgb, lvBitMapHandle *mask, lvBitMapHandle *plane, int width, int height)
        : lock(rgb, 0) {
        planes.width = width;
        planes.height = height;
        planes.transparentPen = -1;
        if (rgb) {
            if (!lock) {
                error = ERR_LOCKBMAP;
                return;
            }
            if (lock.lock.bytesPerPixel == 4) {
                planes.pixels = reinterpret_cast<uint32_t *>(lock.lock.pixels);
                planes.rowLength = lock.lock.rowLength;
                planes.format = lock.lock.format;
            }
            planes.width = std::min(planes.width, rgb->width);
            planes.height = std::min(planes.height, rgb->height);
        }
        if (mask) {
            if (!(maskToken = GetPlanePixels(mask, &planes.mask, &planes.maskRowBytes, 1))) {
                error = ERR_LOCKBMAP;
                return;
            }
            planes.width = std::min(planes.width, mask->width);
            planes.height = std::min(planes.height, mask->height);
        }
        if (plane) {
            if (!(planeToken = GetPlanePixels(plane, &planes.plane, &planes.planeRowBytes, 1))) {
                error = ERR_LOCKBMAP;
                return;
            }
            planes.width = std::min(planes.width, plane->width);
            planes.height = std::min(planes.height, plane->height);
        }
    }
    ~ReachedPlanes() {
        if (maskToken) ReleasePlanePixels(maskToken);
        if (planeToken) ReleasePlanePixels(planeToken);
    }
};

}  // namespace

int IntSqrt(int64_t n) {
    if (n < 0) return -1;
    int64_t r = static_cast<int64_t>(std::sqrt(static_cast<double>(n)));
    while (r * r > n) r--;
    while ((r + 1) * (r + 1) <= n) r++;
    return static_cast<int>(r);
}

void BuildSinCosTables(double *sines, double *cosines) {
    double a = 0;
    for (int i = 0; i < kTableSize; i++) {
        if (sines) sines[i] = std::sin(a);
        if (cosines) cosines[i] = std::cos(a);
        a += 0.001;
    }
}

void SwirlKernel(const lvKernelPlanes *source, lvKernelPlanes *target, int step, const double *sines,
                 const double *cosines, const lvKernelBlend *blend) {
    int W = target->width, H = target->height;
    if (W <= 0 || H <= 0) return;
    double cx = W / 2.0, cy = H / 2.0, R = std::max(cx, cy);
    double sx = 1, sy = 1;
    if (H >= W) sx = double(H) / W;
    else sy = double(W) / H;
    double angle = step >= 360 ? 720 - step : step;
    double B = angle * 0.017453292519943295;
    int value = static_cast<int>(int64_t(step) * 255 / 720);
    for (int y = 0; y < H; y++)
        for (int x = 0; x < W; x++) {
            double dx = (x - cx) * sx, dy = (y - cy) * sy, d2 = dx * dx + dy * dy;
            int u = x, v = y;
            if (d2 < R * R) {
                int r = IntSqrt(static_cast<int64_t>(d2));
                double f = 1 - r / R, a = f * f * B, sn, cs;
                if (step >= 0) {
                    int i = std::clamp(static_cast<int>(a / 0.001), 0, kTableSize - 1);
                    sn = sines[i];
                    cs = cosines[i];
                } else {
                    sn = std::sin(a);
                    cs = std::cos(a);
                }
                // One of the scales is always 1, and dividing by 1 changes nothing.
                double ru = cs * dx - sn * dy, rv = sn * dx + cs * dy;
                double fu = cx + (sx == 1 ? ru : ru / sx), fv = cy + (sy == 1 ? rv : rv / sy);
                u = fu <= 0 ? 0 : (fu >= W - 1 ? W - 1 : static_cast<int>(fu));
                v = fv <= 0 ? 0 : (fv >= H - 1 ? H - 1 : static_cast<int>(fv));
            }
            ApplyMode(source, target, x, y, u, v, value, blend);
        }
}

void RippleKernel(const lvKernelPlanes *source, lvKernelPlanes *target, int step, int steps, int wavelength,
                  double amplitude, int phase, int centreX, int centreY, const int *distances, const double *sines,
                  const lvKernelBlend *blend) {
    int W = target->width, H = target->height;
    int radius = std::max(centreX, centreY);
    if (W <= 0 || H <= 0 || radius <= 0) return;  // no ring to move anything by
    if (wavelength < 1) wavelength = 1;
    double ph = phase;
    int value = 0;
    if (step != -1) {
        ph = step;
        amplitude *= step <= steps ? double(step) : 2.0 * steps - step;
        value = steps > 0 ? static_cast<int>(int64_t(step) * 255 / (2 * int64_t(steps))) : 0;
    }
    for (int y = 0; y < H; y++)
        for (int x = 0; x < W; x++) {
            int r = distances[static_cast<size_t>(y) * W + x];
            double m = double(r) / wavelength * kRippleTwoPi - ph;
            m = std::fmod(m, kRippleTwoPi);
            if (m < 0) m += kRippleTwoPi;
            int i = std::clamp(static_cast<int>(m / 0.001), 0, kTableSize - 1);
            double u = amplitude * sines[i] * double(radius - r) / radius;
            if (r != 0) u *= double(wavelength) / r;
            double fu = u * (x - centreX) + x, fv = u * (y - centreY) + y;
            int su = fu <= 0 ? 0 : (fu >= W - 1 ? W - 1 : static_cast<int>(fu));
            int sv = fv <= 0 ? 0 : (fv >= H - 1 ? H - 1 : static_cast<int>(fv));
            ApplyMode(source, target, x, y, su, sv, value, blend);
        }
}

int SwirlImage(lvBitMapHandle *rgb, lvBitMapHandle *mask, lvBitMapHandle *plane, int width, int height,
               int degrees) {
    int step = std::clamp(degrees, -359, 359);
    double *tables = static_cast<double *>(AllocMemory(sizeof(double) * 2 * kTableSize, 0));
    if (!tables) return ERR_MEM;
    BuildSinCosTables(tables, tables + kTableSize);
    int rc = 0;
    {
        ReachedPlanes reached(rgb, mask, plane, width, height);
        PlaneCopies copies;
        if (reached.error) rc = reached.error;
        else if (reached.planes.width > 0 && reached.planes.height > 0) {
            if (!copies.Make(reached.planes)) rc = ERR_MEM;
            else SwirlKernel(&copies.planes, &reached.planes, step, tables, tables + kTableSize, nullptr);
        }
    }
    FreeMemory(tables);
    return rc;
}

int WaterRippleImage(lvBitMapHandle *rgb, lvBitMapHandle *mask, lvBitMapHandle *plane, int width, int height,
                     int wavelength, int amplitude, int phase, double centreX, double centreY) {
    if (width <= 0 || height <= 0) return 0;
    double fx = centreX > 0 ? std::min(centreX, 1.0) : 0, fy = centreY > 0 ? std::min(centreY, 1.0) : 0;
    if (wavelength < 1) wavelength = 1;
    int cx = static_cast<int>(width * fx), cy = static_cast<int>(height * fy);
    if (std::max(cx, cy) == 0) return 0;  // radius 0: nothing moves
    size_t n = static_cast<size_t>(width) * height;
    int *distances = static_cast<int *>(AllocMemory(n * sizeof(int), 0));
    double *sines = distances ? static_cast<double *>(AllocMemory(sizeof(double) * kTableSize, 0)) : nullptr;
    int rc = 0;
    if (!sines) rc = ERR_MEM;
    else {
        BuildSinCosTables(sines, nullptr);
        for (int y = 0; y < height; y++)
            for (int x = 0; x < width; x++)
                distances[static_cast<size_t>(y) * width + x] =
                    IntSqrt(int64_t(x - cx) * (x - cx) + int64_t(y - cy) * (y - cy));
        ReachedPlanes reached(rgb, mask, plane, width, height);
        PlaneCopies copies;
        if (reached.error) rc = reached.error;
        else if (reached.planes.width == width && reached.planes.height == height) {
            if (!copies.Make(reached.planes)) rc = ERR_MEM;
            else RippleKernel(&copies.planes, &reached.planes, -1, 0, wavelength, amplitude, phase, cx, cy, distances,
                              sines, nullptr);
        }
    }
    FreeMemory(sines);
    FreeMemory(distances);
    return rc;
}

void PixelateKernel(const lvKernelPlanes *source, lvKernelPlanes *target, int n) {
    int W = target->width, H = target->height;
    if (n < 1) return;
    bool pens = !source->pixels && source->plane && source->palette;
    for (int by = 0; by < H; by += n)
        for (int bx = 0; bx < W; bx += n) {
            int bw = std::min(n, W - bx), bh = std::min(n, H - by);
            bool clear = false;
            if (source->mask && !MaskBit(source->mask + static_cast<size_t>(by) * source->maskRowBytes, bx)) clear = true;
            int alpha = 255;
            if (source->pixels && source->plane) {
                alpha = source->plane[static_cast<size_t>(by) * source->planeRowBytes + bx];
                if (!alpha) clear = true;
            }
            if (pens && source->plane[static_cast<size_t>(by) * source->planeRowBytes + bx] == source->transparentPen)
                clear = true;
            uint32_t colour = SampleArgb(source, bx, by);
            for (int y = by; y < by + bh; y++) {
                uint8_t *mrow = target->mask ? target->mask + static_cast<size_t>(y) * target->maskRowBytes : nullptr;
                uint8_t *arow = target->plane ? target->plane + static_cast<size_t>(y) * target->planeRowBytes : nullptr;
                for (int x = bx; x < bx + bw; x++) {
                    if (mrow) SetMaskBit(mrow, x, !clear);
                    if (arow) arow[x] = clear ? 0 : static_cast<uint8_t>(alpha);
                    if (!clear && target->pixels) StoreArgb(target, x, y, colour);
                }
            }
        }
}

void PixelatePens(const lvKernelPlanes *source, lvKernelPlanes *target, int n) {
    int W = target->width, H = target->height;
    if (n < 1 || !source->plane || !target->plane) return;
    for (int by = 0; by < H; by += n)
        for (int bx = 0; bx < W; bx += n) {
            int bw = std::min(n, W - bx), bh = std::min(n, H - by);
            int pen = source->plane[static_cast<size_t>(by) * source->planeRowBytes + bx];
            bool transparent = pen == source->transparentPen;
            for (int y = by; y < by + bh; y++)
                for (int x = bx; x < bx + bw; x++) {
                    if (transparent) {
                        if (target->mask) SetMaskBit(target->mask + static_cast<size_t>(y) * target->maskRowBytes, x, 0);
                    } else {
                        target->plane[static_cast<size_t>(y) * target->planeRowBytes + x] = static_cast<uint8_t>(pen);
                    }
                }
        }
}

int PixelateImage(lvBitMapHandle *rgb, lvBitMapHandle *mask, lvBitMapHandle *plane, int width, int height,
                  int blockSize, const uint32_t *palette, int transparentPen) {
    if (blockSize <= 1) return 0;
    ReachedPlanes reached(rgb, mask, plane, width, height);
    if (reached.error) return reached.error;
    lvKernelPlanes &p = reached.planes;
    if (p.width <= 0 || p.height <= 0) return 0;
    p.palette = rgb ? nullptr : palette;
    p.transparentPen = transparentPen;
    // A block as large as the picture takes the top-left colour over all of
    // it, also when the picture is not square.
    int n = std::min(blockSize, std::max(p.width, p.height));
    // Each block reads only its own top-left pixel before writing itself, so
    // the picture serves as its own source.
    if (!rgb && plane) PixelatePens(&p, &p, n);
    else PixelateKernel(&p, &p, n);
    return 0;
}

int CopyPixelRect(const lvKernelPlanes *s, lvKernelPlanes *t, int sx, int sy, int width, int height, int tx, int ty) {
    bool pens = !s->pixels && s->plane && s->palette;
    for (int j = 0; j < height; j++) {
        int y = sy + j, v = ty + j;
        const uint8_t *smask = s->mask ? s->mask + static_cast<size_t>(y) * s->maskRowBytes : nullptr;
        uint8_t *tmask = t->mask ? t->mask + static_cast<size_t>(v) * t->maskRowBytes : nullptr;
        uint8_t *talpha = t->plane ? t->plane + static_cast<size_t>(v) * t->planeRowBytes : nullptr;
        for (int i = 0; i < width; i++) {
            int x = sx + i, u = tx + i;
            if (smask) {
                int on = MaskBit(smask, x);
                if (on) StoreArgb(t, u, v, SampleArgb(s, x, y));
                if (tmask) SetMaskBit(tmask, u, on);
            } else if (pens) {
                int pen = s->plane[static_cast<size_t>(y) * s->planeRowBytes + x];
                bool on = pen != s->transparentPen;
                if (on) StoreArgb(t, u, v, s->palette[pen]);
                if (tmask) SetMaskBit(tmask, u, on);
            } else if (s->plane && s->pixels) {
                int a = s->plane[static_cast<size_t>(y) * s->planeRowBytes + x];
                if (a) StoreArgb(t, u, v, SampleArgb(s, x, y));
                if (talpha) talpha[u] = static_cast<uint8_t>(a);
            } else if (s->pixels) {
                StoreArgb(t, u, v, SampleArgb(s, x, y));
            }
        }
    }
    return 1;
}

int CopyPenRect(const lvKernelPlanes *s, lvKernelPlanes *t, int sx, int sy, int width, int height, int tx, int ty) {
    if (!s->plane || !t->plane) return 0;
    for (int j = 0; j < height; j++) {
        const uint8_t *src = s->plane + static_cast<size_t>(sy + j) * s->planeRowBytes;
        uint8_t *dst = t->plane + static_cast<size_t>(ty + j) * t->planeRowBytes;
        uint8_t *tmask = t->mask ? t->mask + static_cast<size_t>(ty + j) * t->maskRowBytes : nullptr;
        for (int i = 0; i < width; i++) {
            int pen = src[sx + i];
            bool on = pen != s->transparentPen;
            if (on) dst[tx + i] = static_cast<uint8_t>(pen);
            if (tmask) SetMaskBit(tmask, tx + i, on);
        }
    }
    return 1;
}

void WaveBandCopy(const lvKernelPlanes *source, lvKernelPlanes *target, lvWaveBand *band) {
    band->copied = 0;
    band->firstCopied = -100000;
    band->recordedEnd = band->bandEnd;
    int length = band->length;
    if (length <= 0 || !band->offset) return;
    int limit = band->vertical ? target->width : target->height;
    int first = band->bandEnd - length + 1;
    for (int j = 0; j < length; j++) {
        int i = first + j;
        double shift = band->offset[j] / (6.283185307179586 / length);
        if (!(std::fabs(shift) < 1e9)) continue;
        int64_t src = int64_t(band->bandEnd) - length + static_cast<int64_t>(shift) + length;
        if (i < 0 || i >= limit || src < 0 || src >= limit) continue;
        int s = static_cast<int>(src);
        bool penTarget = !target->pixels;
        if (band->vertical) {
            if (penTarget) CopyPenRect(source, target, s, 0, 1, target->height, i, 0);
            else CopyPixelRect(source, target, s, 0, 1, target->height, i, 0);
        } else {
            if (penTarget) CopyPenRect(source, target, 0, s, target->width, 1, 0, i);
            else CopyPixelRect(source, target, 0, s, target->width, 1, 0, i);
        }
        if (band->copied++ == 0) band->firstCopied = i;
    }
}

void ThresholdRevealKernel(uint8_t *target, int targetRowBytes, const uint8_t *source, int sourceRowBytes,
                           const uint8_t *noise, int noiseRowBytes, int width, int height, int threshold, int invert,
                           int eightBit) {
    for (int y = 0; y < height; y++) {
        uint8_t *t = target + static_cast<size_t>(y) * targetRowBytes;
        const uint8_t *s = source ? source + static_cast<size_t>(y) * sourceRowBytes : nullptr;
        const uint8_t *n = noise + static_cast<size_t>(y) * noiseRowBytes;
        for (int x = 0; x < width; x++) {
            bool hidden = invert ? n[x] < threshold : n[x] >= threshold;
            if (eightBit) t[x] = hidden ? 0 : (s ? s[x] : 255);
            else SetMaskBit(t, x, hidden ? 0 : (s ? MaskBit(s, x) : 1));
        }
    }
}

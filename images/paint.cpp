// paint.cpp - the pixel painter: one pixel, one-pixel and span lines, and the
// compositing of a coverage plane into the target planes.
//
// PaintPixel holds the rules; CompositeCoverage runs the same rules in loops
// specialised per combination of target planes (chosen once per call), so that
// the per-pixel work carries no decisions that are fixed for the whole call. The
// plain-colour rows paint their edge blocks eight pixels at once with SSE2 where the
// compiler offers it; the plain loops beside them give the same bytes (LV_PAINT_PLAIN
// builds them on x86 too, for the tests).
//
// Depends on: images/lvpaint.h, raster/lvkernels.h (LerpRgb).
// Limits: script thread only; no allocation.
#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "images/lvpaint.h"
#include "raster/lvkernels.h"

#if defined(__SSE2__) && !defined(LV_PAINT_PLAIN)
#include <emmintrin.h>
#endif

void SetPaintColour(lvPaintContext *c, uint32_t colour) {
    c->colour = colour;
    c->colourPixel = ArgbToPixel32(c->pixelFormat, colour);
    c->red = (colour >> 16) & 0xFF;
    c->green = (colour >> 8) & 0xFF;
    c->blue = colour & 0xFF;
}

namespace {

inline bool InsideTarget(const lvPaintContext *c, int x, int y) {
    return x >= 0 && y >= 0 && x < c->targetWidth && y < c->targetHeight;
}

// Clip test of the rules: outside the clip rectangle, or on a clear clip-mask bit.
inline bool ClippedAway(const lvPaintContext *c, int x, int y) {
    if (!c->clipActive) return false;
    if (x < c->clipX || y < c->clipY || x >= c->clipX + c->clipWidth || y >= c->clipY + c->clipHeight) return true;
    if (c->clipMask) {
        int mx = x - c->clipX, my = y - c->clipY;
        if (!(c->clipMask[static_cast<size_t>(my) * c->clipMaskRowBytes + (mx >> 3)] & (0x80 >> (mx & 7)))) return true;
    }
    return false;
}

inline void ApplyMaskMode(uint8_t *byte, uint8_t bit, int mode) {
    switch (mode) {
    case MASKINVISIBLE: *byte &= static_cast<uint8_t>(~bit); break;
    case MASKXOR: *byte ^= bit; break;
    case MASKAND: break;
    default: *byte |= bit; break;  // MASKVISIBLE, MASKVANILLACOPY, MASKOR
    }
}

// The RGB rule: source or colour, stored as is at full coverage or beside an
// alpha target, else blended per channel as t + (coverage * (s - t)) >> 8.
inline void PaintRgb(const lvPaintContext *c, int x, int y, int coverage, bool withAlpha) {
    uint32_t *px = reinterpret_cast<uint32_t *>(c->rgbPixels) + static_cast<size_t>(y) * c->rgbRowPixels + x;
    uint32_t s = c->sourcePixels
                     ? reinterpret_cast<const uint32_t *>(c->sourcePixels)[static_cast<size_t>(y) * c->sourceRowPixels + x]
                     : c->colourPixel;
    if (coverage >= 255 || withAlpha) {
        *px = s;
        return;
    }
    int fmt = c->pixelFormat;
    uint32_t t = Pixel32ToArgb(fmt, *px), sa = Pixel32ToArgb(fmt, s);
    *px = ArgbToPixel32(fmt, LerpRgb(t, sa, coverage));
}

}  // namespace

void PaintPixel(lvPaintContext *c, int x, int y) {
    if (!InsideTarget(c, x, y) || ClippedAway(c, x, y)) return;
    if (c->rgbPixels && c->bytesPerPixel == 4) PaintRgb(c, x, y, c->coverage, c->alphaPixels != nullptr);
    if (c->maskPixels)
        ApplyMaskMode(&c->maskPixels[static_cast<size_t>(y) * c->maskRowBytes + (x >> 3)],
                      static_cast<uint8_t>(0x80 >> (x & 7)), c->maskMode);
    if (c->alphaPixels) {
        c->alphaPixels[static_cast<size_t>(y) * c->alphaRowBytes + x] =
            c->penSource ? c->penSource[static_cast<size_t>(y) * c->penSourceRowBytes + x]
                         : static_cast<uint8_t>(c->coverage);
    }
}

void PaintWuLine(lvPaintContext *c, int x1, int y1, int x2, int y2) {
    int saved = c->coverage;
    int opacity = c->opacity;
    if (x1 == x2 && y1 == y2) {
        c->coverage = opacity;
        if (opacity > 0) PaintPixel(c, x1, y1);
        c->coverage = saved;
        return;
    }
    bool xMajor = std::abs(x2 - x1) >= std::abs(y2 - y1);
    int a1 = xMajor ? x1 : y1, b1 = xMajor ? y1 : x1, a2 = xMajor ? x2 : y2, b2 = xMajor ? y2 : x2;
    if (a1 > a2) {
        std::swap(a1, a2);
        std::swap(b1, b2);
    }
    int64_t slope = (static_cast<int64_t>(b2 - b1) * 65536) / (a2 - a1);
    int64_t minor = static_cast<int64_t>(b1) * 65536;
    for (int a = a1; a <= a2; a++, minor += slope) {
        int whole = static_cast<int>(minor >> 16);  // floor, also for negative coordinates
        int top = static_cast<int>((minor & 0xFFFF) >> 8);
        int nearCov = (255 - top) * opacity / 255, farCov = top * opacity / 255;
        // A pixel of coverage 0 is not painted: it would set a mask bit or
        // overwrite an alpha byte with 0 although the line does not touch it.
        if (nearCov > 0) {
            c->coverage = nearCov;
            xMajor ? PaintPixel(c, a, whole) : PaintPixel(c, whole, a);
        }
        if (farCov > 0) {
            c->coverage = farCov;
            xMajor ? PaintPixel(c, a, whole + 1) : PaintPixel(c, whole + 1, a);
        }
    }
    c->coverage = saved;
}

void PaintThickLine(lvPaintContext *c, int x1, int y1, int x2, int y2) {
    int dx = std::abs(x2 - x1), dy = std::abs(y2 - y1);
    int width = std::max(1, c->lineWidth);
    int run = 1;
    bool xMajor = dy <= dx;
    if (dx || dy) {
        double theta = std::atan2(static_cast<double>(dy), static_cast<double>(dx));
        double len = xMajor ? width / std::cos(theta) : width / std::sin(theta);
        run = std::max(1, static_cast<int>(len));
    }
    int sx = x1 < x2 ? 1 : -1, sy = y1 < y2 ? 1 : -1;
    int err = dx - dy;
    int x = x1, y = y1;
    for (;;) {
        if (xMajor)
            for (int k = 0; k < run; k++) PaintPixel(c, x, y - run / 2 + k);
        else
            for (int k = 0; k < run; k++) PaintPixel(c, x - run / 2 + k, y);
        if (x == x2 && y == y2) break;
        int e2 = 2 * err;
        if (e2 > -dy) {
            err -= dy;
            x += sx;
        }
        if (e2 < dx) {
            err += dx;
            y += sy;
        }
    }
}

// ---- CompositeCoverage ---------------------------------------------------------------

namespace {

enum : unsigned { kRgb = 1, kMask = 2, kAlpha = 4, kClipMask = 8, kOver = 16 };

// The coverage of one byte by the soft / hard / alpha-over rules.
inline int CoverageOf(int c, int hard, int preset, int opacity, bool over, const uint8_t *alphaByte) {
    if (over) {
        int a = *alphaByte;
        int v = c == 255 ? 255 : std::min(255, (a * (255 - c) + 255 * c + 127) / 255);
        return opacity == 255 ? v : v * opacity / 255;
    }
    if (hard) return preset;
    return opacity == 255 ? c : c * opacity / 255;
}

// Whether every byte of the eight is non-zero.
inline bool AllNonZero(uint64_t v) {
    return ((v - 0x0101010101010101ull) & ~v & 0x8080808080808080ull) == 0;
}

// 0xFF in each byte of the eight that is non-zero, 0 elsewhere.
inline uint64_t NonZeroBytes(uint64_t v) {
    const uint64_t high = (((v & 0x7F7F7F7F7F7F7F7Full) + 0x7F7F7F7F7F7F7F7Full) | v) & 0x8080808080808080ull;
    return (high >> 7) * 0xFF;
}

// The mask bits of eight coverage bytes read from memory into v: a bit for each non-zero
// byte, the first byte in the top bit. The multiply gathers the bytes' low bits, each to
// its own place, without carries.
inline uint8_t MaskBitsOf(uint64_t v) {
    if constexpr (std::endian::native == std::endian::little) {
        return static_cast<uint8_t>(((NonZeroBytes(v) & 0x0101010101010101ull) * 0x8040201008040201ull) >> 56);
    } else {
        uint8_t bits = 0;
        for (int q = 0; q < 8; q++) bits |= static_cast<uint8_t>((v >> (56 - 8 * q)) & 0xFF ? 0x80 >> q : 0);
        return bits;
    }
}

// A plain colour s blended over native pixel t at weight k of coverage byte v, without
// branches: t itself where v is 0, s itself where k is 255, else per channel
// t + ((k (s - t)) >> 8) = (t (256 - k) + s k) >> 8 with the top byte cleared, as the
// rules give. Weight 255 is taken as 256, which yields s's channels from the same sum.
inline uint32_t BlendPlain(uint32_t t, uint32_t s, uint32_t v, uint32_t k) {
    const uint32_t w = k + ((k + 1) >> 8);
    const uint32_t rb = (((t & 0xFF00FFu) * (256 - w) + (s & 0xFF00FFu) * w) >> 8) & 0xFF00FFu;
    const uint32_t g = (((t & 0xFF00u) * (256 - w) + (s & 0xFF00u) * w) >> 8) & 0xFF00u;
    const uint32_t keepTarget = 0u - static_cast<uint32_t>(v == 0), keepColour = 0u - (w >> 8);
    return rb | g | (((t & keepTarget) | (s & keepColour)) & 0xFF000000u);
}

#if defined(__SSE2__) && !defined(LV_PAINT_PLAIN)
// Eight coverage bytes as 16-bit lanes.
inline __m128i Coverage16(const uint8_t *cov) {
    return _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(cov)), _mm_setzero_si128());
}

// The weights of eight coverage lanes: the context's coverage (hard), the coverage
// itself, or (v * opacity * 257 + 257) >> 16 = ((v * opacity + 1) * 257) >> 16, whose
// product before the last multiply stays within 16 bits.
inline __m128i Weights16(__m128i v16, int hard, bool plainWeights, int preset, int opacity) {
    if (hard)
        return _mm_andnot_si128(_mm_cmpeq_epi16(v16, _mm_setzero_si128()),
                                _mm_set1_epi16(static_cast<short>(preset)));
    if (plainWeights) return v16;
    const __m128i p =
        _mm_add_epi16(_mm_mullo_epi16(v16, _mm_set1_epi16(static_cast<short>(opacity))), _mm_set1_epi16(1));
    return _mm_mulhi_epu16(p, _mm_set1_epi16(257));
}

// BlendPlain on eight pixels: each channel pair in 16-bit lanes, (t (256 - w) + s w) >> 8
// staying below 65536; the top byte is cleared where the pixel was neither left (v 0)
// nor given the colour whole (w 256).
inline void BlendPlain8(uint32_t *o, __m128i v16, __m128i k16, __m128i s16) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i w16 = _mm_add_epi16(k16, _mm_srli_epi16(_mm_add_epi16(k16, _mm_set1_epi16(1)), 8));
    const __m128i keep16 = _mm_or_si128(_mm_cmpeq_epi16(v16, zero), _mm_cmpeq_epi16(w16, _mm_set1_epi16(256)));
    const __m128i top = _mm_set1_epi32(static_cast<int>(0xFF000000u));
    for (int half = 0; half < 2; half++) {
        const __m128i wq = half ? _mm_unpackhi_epi16(w16, w16) : _mm_unpacklo_epi16(w16, w16);  // w per pixel, twice
        const __m128i keep32 = half ? _mm_unpackhi_epi16(keep16, keep16) : _mm_unpacklo_epi16(keep16, keep16);
        const __m128i wLo = _mm_unpacklo_epi32(wq, wq), wHi = _mm_unpackhi_epi32(wq, wq);  // w per channel
        const __m128i t = _mm_loadu_si128(reinterpret_cast<const __m128i *>(o + 4 * half));
        const __m128i tLo = _mm_unpacklo_epi8(t, zero), tHi = _mm_unpackhi_epi8(t, zero);
        const __m128i n256 = _mm_set1_epi16(256);
        const __m128i rLo = _mm_srli_epi16(
            _mm_add_epi16(_mm_mullo_epi16(tLo, _mm_sub_epi16(n256, wLo)), _mm_mullo_epi16(s16, wLo)), 8);
        const __m128i rHi = _mm_srli_epi16(
            _mm_add_epi16(_mm_mullo_epi16(tHi, _mm_sub_epi16(n256, wHi)), _mm_mullo_epi16(s16, wHi)), 8);
        const __m128i r = _mm_andnot_si128(_mm_andnot_si128(keep32, top), _mm_packus_epi16(rLo, rHi));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(o + 4 * half), r);
    }
}

// Eight pixels given the colour where their coverage lane is non-zero.
inline void StoreWhereCovered8(uint32_t *o, __m128i v16, uint32_t s) {
    const __m128i z16 = _mm_cmpeq_epi16(v16, _mm_setzero_si128()), sv = _mm_set1_epi32(static_cast<int>(s));
    for (int half = 0; half < 2; half++) {
        const __m128i z32 = half ? _mm_unpackhi_epi16(z16, z16) : _mm_unpacklo_epi16(z16, z16);
        __m128i *p = reinterpret_cast<__m128i *>(o + 4 * half);
        const __m128i t = _mm_loadu_si128(p);
        _mm_storeu_si128(p, _mm_or_si128(_mm_and_si128(z32, t), _mm_andnot_si128(z32, sv)));
    }
}
#endif

// Rows of a plain colour into native pixels (no source, clip mask or alpha-over), in
// blocks of eight that are skipped when their coverage is 0 and stored whole when it is
// full: the inside and outside of most shapes. The edge blocks in between are painted
// without per-pixel branches, which would mispredict along every edge.
template <unsigned F>
void PlainColourRows(const uint8_t *coverage, int rowStep, int j0, int i0, int j1, int i1, int xOffset, int yOffset,
                     const lvPaintContext *c, int hard) {
    const uint32_t s = c->colourPixel;
    const int opacity = c->opacity, preset = c->coverage;
    const bool plainWeights = !hard && opacity == 255;  // the coverage is the weight
    const int mode = c->maskMode;
    const bool orMask = (F & kMask) && mode != MASKINVISIBLE && mode != MASKXOR && mode != MASKAND;
    auto weight = [&](uint32_t v) -> uint32_t {
        if (hard) return v ? preset : 0;
        return plainWeights ? v : (v * opacity * 257 + 257) >> 16;
    };
    const bool fullStores = hard ? preset == 255 : opacity == 255;
    const uint64_t presetBytes = 0x0101010101010101ull * static_cast<uint8_t>(preset);
    const uint64_t fullBytes = hard ? presetBytes : ~uint64_t(0);
#if defined(__SSE2__) && !defined(LV_PAINT_PLAIN)
    const __m128i s16 = _mm_unpacklo_epi8(_mm_set1_epi32(static_cast<int>(s)), _mm_setzero_si128());
#endif
    uint32_t *const rgbBase = reinterpret_cast<uint32_t *>(c->rgbPixels) + xOffset;
    const size_t rgbRow = static_cast<size_t>(c->rgbRowPixels);
    uint8_t *const alphaBase = (F & kAlpha) ? c->alphaPixels + xOffset : nullptr;
    const size_t alphaRowBytes = (F & kAlpha) ? static_cast<size_t>(c->alphaRowBytes) : 0;
    uint8_t *const maskBase = (F & kMask) ? c->maskPixels : nullptr;
    const size_t maskRowBytes = (F & kMask) ? static_cast<size_t>(c->maskRowBytes) : 0;
    for (int i = i0; i < i1; i++) {
        const size_t y = static_cast<size_t>(yOffset + i);
        const uint8_t *__restrict cov = coverage + static_cast<size_t>(i) * rowStep;
        uint32_t *__restrict out = rgbBase + y * rgbRow;
        uint8_t *__restrict alphaRow = (F & kAlpha) ? alphaBase + y * alphaRowBytes : nullptr;
        uint8_t *__restrict mask = (F & kMask) ? maskBase + y * maskRowBytes : nullptr;
        // The colour (and alpha) of one pixel; its mask bit is left to the caller.
        auto colour = [&](size_t j) {
            const uint32_t v = cov[j], k = weight(v);
            if constexpr (F & kAlpha) {
                const uint32_t keep = 0u - static_cast<uint32_t>(v == 0);
                out[j] = (out[j] & keep) | (s & ~keep);
                alphaRow[j] = static_cast<uint8_t>((alphaRow[j] & keep) | (k & ~keep));
            } else {
                out[j] = BlendPlain(out[j], s, v, k);
            }
        };
        auto one = [&](size_t j) {
            colour(j);
            if (orMask && cov[j]) mask[(xOffset + j) >> 3] |= static_cast<uint8_t>(0x80 >> ((xOffset + j) & 7));
        };
        size_t j = static_cast<size_t>(j0);
        const size_t end = static_cast<size_t>(j1);
        // Up to the first whole mask byte, so that a block's bits are one byte.
        for (; j < end && ((xOffset + j) & 7); j++) one(j);
        for (; j + 8 <= end; j += 8) {
            uint64_t c8;
            std::memcpy(&c8, cov + j, 8);
            if (c8 == 0) continue;
            uint32_t *o = out + j;
            if (fullStores && (hard ? AllNonZero(c8) : c8 == ~uint64_t(0))) {
                for (int q = 0; q < 8; q++) o[q] = s;
                if constexpr (F & kAlpha) std::memcpy(alphaRow + j, &fullBytes, 8);
                if (orMask) mask[(xOffset + j) >> 3] = 0xFF;
                continue;
            }
            if constexpr (F & kAlpha) {
                const uint64_t paint = NonZeroBytes(c8);
                uint64_t a8;
                std::memcpy(&a8, alphaRow + j, 8);
                if (plainWeights) {
                    a8 = c8 | (a8 & ~paint);
                } else if (hard) {
                    a8 = (presetBytes & paint) | (a8 & ~paint);
                } else {
                    uint8_t k8[8];
                    for (int q = 0; q < 8; q++) k8[q] = static_cast<uint8_t>(weight(cov[j + q]));
                    uint64_t w8;
                    std::memcpy(&w8, k8, 8);
                    a8 = (w8 & paint) | (a8 & ~paint);
                }
                std::memcpy(alphaRow + j, &a8, 8);
#if defined(__SSE2__) && !defined(LV_PAINT_PLAIN)
                StoreWhereCovered8(o, Coverage16(cov + j), s);
#else
                for (int q = 0; q < 8; q++) {
                    const uint32_t keep = 0u - static_cast<uint32_t>(cov[j + q] == 0);
                    o[q] = (o[q] & keep) | (s & ~keep);
                }
#endif
            } else {
#if defined(__SSE2__) && !defined(LV_PAINT_PLAIN)
                const __m128i v16 = Coverage16(cov + j);
                BlendPlain8(o, v16, Weights16(v16, hard, plainWeights, preset, opacity), s16);
#else
                for (int q = 0; q < 8; q++) {
                    const uint32_t v = cov[j + q];
                    o[q] = BlendPlain(o[q], s, v, weight(v));
                }
#endif
            }
            if (orMask) mask[(xOffset + j) >> 3] |= MaskBitsOf(c8);
        }
        for (; j < end; j++) one(j);
        // The other mask modes bit by bit.
        if ((F & kMask) && !orMask)
            for (int x = j0; x < j1; x++)
                if (cov[x])
                    ApplyMaskMode(&mask[(xOffset + x) >> 3], static_cast<uint8_t>(0x80 >> ((xOffset + x) & 7)), mode);
    }
}

template <unsigned F>
void CompositeRows(const uint8_t *coverage, int rowStep, int j0, int i0, int j1, int i1, int xOffset, int yOffset,
                   const lvPaintContext *c, int hard) {
    const int opacity = c->opacity, preset = c->coverage, fmt = c->pixelFormat;
    const bool native = fmt == PIXFMT_ARGB32;
    // Plain colour into native pixels without clip mask or alpha-over: whole rows in
    // blocks of eight.
    if constexpr ((F & kRgb) && !(F & (kClipMask | kOver))) {
        if (native && !c->sourcePixels && !((F & kAlpha) && c->penSource)) {
            PlainColourRows<F>(coverage, rowStep, j0, i0, j1, i1, xOffset, yOffset, c, hard);
            return;
        }
    }
    for (int i = i0; i < i1; i++) {
        const uint8_t *cov = coverage + static_cast<size_t>(i) * rowStep;
        int y = yOffset + i;
        uint32_t *rgb = (F & kRgb) ? reinterpret_cast<uint32_t *>(c->rgbPixels) + static_cast<size_t>(y) * c->rgbRowPixels
                                   : nullptr;
        const uint32_t *src = ((F & kRgb) && c->sourcePixels)
                                  ? reinterpret_cast<const uint32_t *>(c->sourcePixels) +
                                        static_cast<size_t>(y) * c->sourceRowPixels
                                  : nullptr;
        uint8_t *mask = (F & kMask) ? c->maskPixels + static_cast<size_t>(y) * c->maskRowBytes : nullptr;
        uint8_t *alpha = (F & kAlpha) ? c->alphaPixels + static_cast<size_t>(y) * c->alphaRowBytes : nullptr;
        const uint8_t *pens = ((F & kAlpha) && c->penSource)
                                  ? c->penSource + static_cast<size_t>(y) * c->penSourceRowBytes
                                  : nullptr;
        const uint8_t *clip = (F & kClipMask)
                                  ? c->clipMask + static_cast<size_t>(y - c->clipY) * c->clipMaskRowBytes
                                  : nullptr;
        for (int j = j0; j < j1; j++) {
            int raw = cov[j];
            if (!raw) continue;
            int x = xOffset + j;
            if (F & kClipMask) {
                int mx = x - c->clipX;
                if (!(clip[mx >> 3] & (0x80 >> (mx & 7)))) continue;
            }
            int k = CoverageOf(raw, hard, preset, opacity, (F & kOver) != 0, alpha ? alpha + x : nullptr);
            if (F & kRgb) {
                uint32_t s = src ? src[x] : c->colourPixel;
                if ((F & kAlpha) || k >= 255) {
                    rgb[x] = s;
                } else if (native) {
                    rgb[x] = LerpRgb(rgb[x], s, k);
                } else {
                    rgb[x] = ArgbToPixel32(fmt, LerpRgb(Pixel32ToArgb(fmt, rgb[x]), Pixel32ToArgb(fmt, s), k));
                }
            }
            if (F & kMask) ApplyMaskMode(&mask[x >> 3], static_cast<uint8_t>(0x80 >> (x & 7)), c->maskMode);
            if (F & kAlpha) alpha[x] = pens ? pens[x] : static_cast<uint8_t>(k);
        }
    }
}

using CompositeFn = void (*)(const uint8_t *, int, int, int, int, int, int, int, const lvPaintContext *, int);

template <size_t... I>
constexpr auto MakeCompositeTable(std::index_sequence<I...>) {
    return std::array<CompositeFn, sizeof...(I)>{&CompositeRows<static_cast<unsigned>(I)>...};
}
const auto kCompositeTable = MakeCompositeTable(std::make_index_sequence<32>{});

}  // namespace

void CompositeCoverage(const uint8_t *coverage, int xOffset, int yOffset, lvPaintContext *c, int width, int height,
                       int rowStep, int hard) {
    if (!coverage || width <= 0 || height <= 0) return;
    // The rectangle painted: the coverage, cut to the planes and to the clip rectangle.
    int64_t x0 = std::max<int64_t>(xOffset, 0), y0 = std::max<int64_t>(yOffset, 0);
    int64_t x1 = std::min<int64_t>(int64_t(xOffset) + width, c->targetWidth);
    int64_t y1 = std::min<int64_t>(int64_t(yOffset) + height, c->targetHeight);
    if (c->clipActive) {
        x0 = std::max<int64_t>(x0, c->clipX);
        y0 = std::max<int64_t>(y0, c->clipY);
        x1 = std::min<int64_t>(x1, int64_t(c->clipX) + c->clipWidth);
        y1 = std::min<int64_t>(y1, int64_t(c->clipY) + c->clipHeight);
    }
    if (x0 >= x1 || y0 >= y1) return;
    unsigned f = 0;
    if (c->rgbPixels && c->bytesPerPixel == 4) f |= kRgb;
    if (c->maskPixels) f |= kMask;
    if (c->alphaPixels) f |= kAlpha;
    if (c->clipActive && c->clipMask) f |= kClipMask;
    if (c->alphaOver && c->alphaPixels) f |= kOver;
    if (!(f & (kRgb | kMask | kAlpha))) return;
    kCompositeTable[f](coverage, rowStep, static_cast<int>(x0 - xOffset), static_cast<int>(y0 - yOffset),
                       static_cast<int>(x1 - xOffset), static_cast<int>(y1 - yOffset), xOffset, yOffset, c, hard);
}

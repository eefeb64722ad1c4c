// kernels.cpp - the row kernels (fill, copy, tint, mix, composite, convert,
// combine 8-bit planes and 1-bit masks).
//
// 32-bit kernels compute on the three colour bytes of a pixel. Formats 10 and
// 13 hold them in the low 24 bits, formats 11 and 12 in the high 24 bits; as
// red, green and blue are treated alike, each kernel is instantiated for the
// two layouts and picks one per call, so no row tests the format per pixel.
// Results of channel arithmetic carry alpha byte 0, as the colour word has.
//
// Depends on: raster/lvkernels.h.
// Limits: callers clip; no bounds checks here.
#include "raster/lvkernels.h"

#include <algorithm>
#include <cstring>
#include <type_traits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// ---- Helpers ----------------------------------------------------------------

namespace {

// Channel layout of a 32-bit format: where its colour bytes live.
template <int S>
struct Layout {
    static inline uint32_t Chan(uint32_t p) { return S ? (p >> 8) : (p & 0xFFFFFFu); }
    static inline uint32_t Pix(uint32_t c) { return S ? (c << 8) : c; }
};

inline int ShiftOf(int format) { return (format == PIXFMT_BGRA32 || format == PIXFMT_RGBA32) ? 8 : 0; }

template <typename T>
inline T *Row(void *base, int row, int y, int x) {
    return static_cast<T *>(base) + static_cast<ptrdiff_t>(y) * row + x;
}
template <typename T>
inline const T *Row(const void *base, int row, int y, int x) {
    return static_cast<const T *>(base) + static_cast<ptrdiff_t>(y) * row + x;
}

inline bool MaskBit(const uint8_t *row, int x) { return (row[x >> 3] >> (7 - (x & 7))) & 1; }

// Dispatches a kernel body templated on the channel layout.
#define LV_DISPATCH_LAYOUT(format, body)                                                                             \
    do {                                                                                                            \
        if (ShiftOf(format)) body(Layout<8>);                                                                       \
        else body(Layout<0>);                                                                                       \
    } while (0)

}  // namespace

#if defined(__SSE2__)
// Four pixels at a time: each colour byte t + ((w * (s - t)) >> 8), exactly.
// With d = s - t (|d| <= 255) and the 16-bit high product, (d << 7) * (w << 1)
// >> 16 is the same floor of w * d / 256 as the scalar arithmetic shift.
struct LerpX4 {
    __m128i zero = _mm_setzero_si128();
    __m128i colourMask;  // keeps the three colour bytes of each pixel
    explicit LerpX4(int shift) : colourMask(_mm_set1_epi32(shift ? int(0xFFFFFF00u) : 0x00FFFFFF)) {}
    // The four weights, each repeated over the 4 bytes of its pixel, as 16-bit lanes.
    inline void Weights(uint32_t w4, __m128i *w01, __m128i *w23) const {
        __m128i w16 = _mm_unpacklo_epi8(_mm_cvtsi32_si128(int(w4)), zero);  // w0..w3 as 16-bit
        __m128i pairs = _mm_unpacklo_epi16(w16, w16);                      // w0 w0 w1 w1 w2 w2 w3 w3
        *w01 = _mm_slli_epi16(_mm_unpacklo_epi32(pairs, pairs), 1);
        *w23 = _mm_slli_epi16(_mm_unpackhi_epi32(pairs, pairs), 1);
    }
    inline __m128i Half(__m128i t, __m128i s, __m128i w) const {
        __m128i d = _mm_slli_epi16(_mm_sub_epi16(s, t), 7);
        return _mm_add_epi16(t, _mm_mulhi_epi16(d, w));
    }
    // Lerped pixels with alpha byte 0; weight 0 keeps t, 255 takes s whole.
    inline __m128i Mix(__m128i t, __m128i s, uint32_t w4) const {
        __m128i w01, w23;
        Weights(w4, &w01, &w23);
        __m128i lo = Half(_mm_unpacklo_epi8(t, zero), _mm_unpacklo_epi8(s, zero), w01);
        __m128i hi = Half(_mm_unpackhi_epi8(t, zero), _mm_unpackhi_epi8(s, zero), w23);
        __m128i mixed = _mm_and_si128(_mm_packus_epi16(lo, hi), colourMask);
        __m128i w32 = _mm_unpacklo_epi16(_mm_unpacklo_epi8(_mm_cvtsi32_si128(int(w4)), zero), zero);
        __m128i full = _mm_cmpeq_epi32(w32, _mm_set1_epi32(255));
        __m128i none = _mm_cmpeq_epi32(w32, zero);
        mixed = _mm_or_si128(_mm_and_si128(full, s), _mm_andnot_si128(full, mixed));
        return _mm_or_si128(_mm_and_si128(none, t), _mm_andnot_si128(none, mixed));
    }
};
#endif

uint32_t OverRgb(uint32_t t, uint32_t s, int w, uint8_t *a) {
    int e = (255 - w) * *a;
    int n = std::min(255, (255 * w + e + 127) / 255);
    int f = (e + 127) / 255;
    uint32_t out = 0;
    for (int shift = 0; shift <= 16; shift += 8) {
        int tc = (t >> shift) & 0xFF, sc = (s >> shift) & 0xFF;
        int c = n ? std::min(255, (tc * f + w * sc + 127) / n) : tc;
        out |= uint32_t(c) << shift;
    }
    *a = static_cast<uint8_t>(n);
    return out;
}

// ---- Fills, copies, tints ---------------------------------------------------

// Fills too large for the caches go through the string store, which the
// processor runs as a streaming fill without reading the lines it writes.
static inline void FillWords(uint32_t *d, int n, uint32_t v, bool streaming) {
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
    if (streaming) {
        size_t count = static_cast<size_t>(n);
        __asm__ volatile("rep stosl" : "+D"(d), "+c"(count) : "a"(v) : "memory");
        return;
    }
#endif
    std::fill_n(d, n, v);
}

void FillRect32(const lvKernelJob *j) {
    bool streaming = static_cast<size_t>(j->width) * j->height * 4 >= (size_t(4) << 20) && j->width >= 256;
    for (int y = 0; y < j->height; y++)
        FillWords(Row<uint32_t>(j->target, j->targetRow, j->targetY + y, j->targetX), j->width, j->value, streaming);
}

template <typename L>
static void TintBody(const lvKernelJob *j) {
    uint32_t c = L::Chan(ArgbToPixel32(j->format, j->value & 0xFFFFFFu));
    int w = j->level;
    int cr = (c >> 16) & 0xFF, cg = (c >> 8) & 0xFF, cb = c & 0xFF;
    for (int y = 0; y < j->height; y++) {
        uint32_t *d = Row<uint32_t>(j->target, j->targetRow, j->targetY + y, j->targetX);
        for (int x = 0; x < j->width; x++) {
            uint32_t t = L::Chan(d[x]);
            int tr = (t >> 16) & 0xFF, tg = (t >> 8) & 0xFF, tb = t & 0xFF;
            uint32_t r = tr + ((w * (cr - tr)) >> 8), g = tg + ((w * (cg - tg)) >> 8), b = tb + ((w * (cb - tb)) >> 8);
            d[x] = L::Pix((r << 16) | (g << 8) | b);
        }
    }
}
void TintRect32(const lvKernelJob *j) {
#define BODY(L) TintBody<L>(j)
    LV_DISPATCH_LAYOUT(j->format, BODY);
#undef BODY
}

void CopyRect32(const lvKernelJob *j) {
    // Within one bitmap, a copy downwards runs bottom-up so that rows are read
    // before they are overwritten (scrolling); memmove covers the sideways case.
    bool upward = j->source == j->target && j->targetY > j->sourceY;
    for (int i = 0; i < j->height; i++) {
        int y = upward ? j->height - 1 - i : i;
        const uint32_t *s = Row<uint32_t>(j->source, j->sourceRow, j->sourceY + y, j->sourceX);
        uint32_t *d = Row<uint32_t>(j->target, j->targetRow, j->targetY + y, j->targetX);
        std::memmove(d, s, static_cast<size_t>(j->width) * 4);
    }
}

// Runs set(i) for each pixel i of a row whose mask bit (at mask x = startX + i)
// is set, taking whole bytes at a time: run(i, 8) where all eight are set,
// nothing where none is, and mixed(i, bits) (or set per bit) otherwise.
struct NoMixed {};
template <typename Set, typename Run, typename Mixed = NoMixed>
static inline void ForMaskedPixels(const uint8_t *maskRow, int startX, int width, Set set, Run run,
                                   Mixed mixed = Mixed()) {
    int i = 0;
    // Leading bits up to a byte boundary.
    while (i < width && ((startX + i) & 7)) {
        if (MaskBit(maskRow, startX + i)) set(i);
        i++;
    }
    const uint8_t *m = maskRow + ((startX + i) >> 3);
    for (; i + 8 <= width; i += 8, m++) {
        uint8_t bits = *m;
        if (bits == 0xFF) run(i, 8);
        else if (bits) {
            if constexpr (!std::is_same_v<Mixed, NoMixed>) {
                mixed(i, bits);
            } else {
                for (int k = 0; k < 8; k++)
                    if (bits & (0x80 >> k)) set(i + k);
            }
        }
    }
    for (; i < width; i++)
        if (MaskBit(maskRow, startX + i)) set(i);
}

#if defined(__SSE2__)
// For a nibble of mask bits (most significant first), four 32-bit lane masks.
struct NibbleMasks {
    alignas(16) uint32_t lanes[16][4] = {};
    constexpr NibbleMasks() {
        for (int v = 0; v < 16; v++)
            for (int k = 0; k < 4; k++) lanes[v][k] = ((v >> (3 - k)) & 1) ? 0xFFFFFFFFu : 0;
    }
};
constexpr NibbleMasks Nibbles;

inline void SelectX4(uint32_t *d, const uint32_t *s, int nibble) {
    __m128i m = _mm_load_si128(reinterpret_cast<const __m128i *>(Nibbles.lanes[nibble]));
    __m128i sv = _mm_loadu_si128(reinterpret_cast<const __m128i *>(s));
    __m128i dv = _mm_loadu_si128(reinterpret_cast<const __m128i *>(d));
    _mm_storeu_si128(reinterpret_cast<__m128i *>(d), _mm_or_si128(_mm_and_si128(m, sv), _mm_andnot_si128(m, dv)));
}
#endif

void CopyThroughMask32(const lvKernelJob *j) {
    for (int y = 0; y < j->height; y++) {
        const uint32_t *s = Row<uint32_t>(j->source, j->sourceRow, j->sourceY + y, j->sourceX);
        uint32_t *d = Row<uint32_t>(j->target, j->targetRow, j->targetY + y, j->targetX);
        const uint8_t *m = j->plane + static_cast<ptrdiff_t>(j->sourceY + y) * j->planeRow;
        ForMaskedPixels(
            m, j->sourceX, j->width, [&](int i) { d[i] = s[i]; },
            [&](int i, int n) { std::memcpy(d + i, s + i, static_cast<size_t>(n) * 4); }
#if defined(__SSE2__)
            ,
            [&](int i, uint8_t bits) {
                SelectX4(d + i, s + i, bits >> 4);
                SelectX4(d + i + 4, s + i + 4, bits & 15);
            }
#endif
        );
    }
}

// Writes the job's value into each target element whose mask bit is set.
template <typename T>
static void FillThroughMaskT(const lvKernelJob *j) {
    T v = static_cast<T>(j->value);
    for (int y = 0; y < j->height; y++) {
        T *d = Row<T>(j->target, j->targetRow, j->targetY + y, j->targetX);
        const uint8_t *m = j->plane + static_cast<ptrdiff_t>(j->sourceY + y) * j->planeRow;
        ForMaskedPixels(
            m, j->sourceX, j->width, [&](int i) { d[i] = v; }, [&](int i, int n) { std::fill_n(d + i, n, v); });
    }
}

void FillThroughMask32(const lvKernelJob *j) { FillThroughMaskT<uint32_t>(j); }

// ---- Conversions ------------------------------------------------------------

// Runs one word conversion over the rectangle (the format is chosen once).
template <typename Convert>
static void ConvertRect32(const lvKernelJob *j, Convert convert) {
    for (int y = 0; y < j->height; y++) {
        const uint32_t *s = Row<uint32_t>(j->source, j->sourceRow, j->sourceY + y, j->sourceX);
        uint32_t *d = Row<uint32_t>(j->target, j->targetRow, j->targetY + y, j->targetX);
        for (int x = 0; x < j->width; x++) d[x] = convert(s[x]);
    }
}

// Red and blue exchanged, alpha dropped: both directions of format 13.
static inline uint32_t SwapRedBlue(uint32_t c) { return (c & 0x00FF00u) | ((c >> 16) & 0xFFu) | ((c & 0xFFu) << 16); }

void WriteArgbRect32(const lvKernelJob *j) {
    switch (j->format) {
    case PIXFMT_BGRA32: ConvertRect32(j, [](uint32_t c) { return __builtin_bswap32(c & 0xFFFFFFu); }); break;
    case PIXFMT_RGBA32: ConvertRect32(j, [](uint32_t c) { return c << 8; }); break;
    case PIXFMT_ABGR32: ConvertRect32(j, SwapRedBlue); break;
    default: CopyRect32(j); break;
    }
}

void ReadRectArgb32(const lvKernelJob *j) {
    switch (j->format) {
    case PIXFMT_BGRA32: ConvertRect32(j, [](uint32_t p) { return __builtin_bswap32(p); }); break;
    case PIXFMT_RGBA32: ConvertRect32(j, [](uint32_t p) { return p >> 8; }); break;
    case PIXFMT_ABGR32: ConvertRect32(j, SwapRedBlue); break;
    default: CopyRect32(j); break;
    }
}

void ExtractAlphaBytes(const lvKernelJob *j) {
    for (int y = 0; y < j->height; y++) {
        const uint32_t *s = Row<uint32_t>(j->source, j->sourceRow, j->sourceY + y, j->sourceX);
        uint8_t *d = Row<uint8_t>(j->target, j->targetRow, j->targetY + y, j->targetX);
        for (int x = 0; x < j->width; x++) d[x] = static_cast<uint8_t>(s[x] >> 24);
    }
}

// ---- Palette sources --------------------------------------------------------

void ChunkyToPixels32(const lvKernelJob *j) {
    uint32_t pens[256];
    for (int i = 0; i < 256; i++) pens[i] = ArgbToPixel32(j->format, j->palette[i] & 0xFFFFFFu);
    // A transparent pen of -1 makes every pen opaque: 256 never matches a byte.
    int tp = (j->transparentPen >= 0 && j->transparentPen < 256) ? j->transparentPen : 256;
    for (int y = 0; y < j->height; y++) {
        const uint8_t *s = Row<uint8_t>(j->source, j->sourceRow, j->sourceY + y, j->sourceX);
        uint32_t *d = Row<uint32_t>(j->target, j->targetRow, j->targetY + y, j->targetX);
        if (j->plane) {
            const uint8_t *m = j->plane + static_cast<ptrdiff_t>(j->sourceY + y) * j->planeRow;
            ForMaskedPixels(
                m, j->sourceX, j->width,
                [&](int i) {
                    if (s[i] != tp) d[i] = pens[s[i]];
                },
                [&](int i, int n) {
                    for (int k = i; k < i + n; k++)
                        if (s[k] != tp) d[k] = pens[s[k]];
                });
        } else if (j->output) {
            uint8_t *o = j->output + static_cast<ptrdiff_t>(j->targetY + y) * j->outputRow;
            for (int x = 0; x < j->width; x++) {
                bool opaque = s[x] != tp;
                if (opaque || j->writeAll) d[x] = pens[s[x]];
                if (!opaque) continue;
                int ox = j->targetX + x;
                if (j->outputIsMask) o[ox >> 3] |= static_cast<uint8_t>(0x80 >> (ox & 7));
                else o[ox] = static_cast<uint8_t>(j->level);
            }
        } else if (tp == 256) {
            int x = 0;
            for (; x + 8 <= j->width; x += 8) {
                uint64_t p8;
                std::memcpy(&p8, s + x, 8);
                uint32_t a = pens[p8 & 0xFF], b = pens[(p8 >> 8) & 0xFF];
                uint32_t c = pens[(p8 >> 16) & 0xFF], e = pens[(p8 >> 24) & 0xFF];
                uint32_t f = pens[(p8 >> 32) & 0xFF], g = pens[(p8 >> 40) & 0xFF];
                uint32_t h = pens[(p8 >> 48) & 0xFF], k = pens[p8 >> 56];
                d[x] = a, d[x + 1] = b, d[x + 2] = c, d[x + 3] = e;
                d[x + 4] = f, d[x + 5] = g, d[x + 6] = h, d[x + 7] = k;
            }
            for (; x < j->width; x++) d[x] = pens[s[x]];
        } else {
            for (int x = 0; x < j->width; x++) d[x] = s[x] == tp ? d[x] : pens[s[x]];
        }
    }
}

// ---- Blends -----------------------------------------------------------------

template <typename L>
static void MixBody(const lvKernelJob *j) {
    uint32_t colour = L::Chan(ArgbToPixel32(j->format, j->value & 0xFFFFFFu));
    uint32_t pens[256];
    if (j->sourceBytes == 1)
        for (int i = 0; i < 256; i++) pens[i] = L::Chan(ArgbToPixel32(j->format, j->palette[i] & 0xFFFFFFu));
    int tp = (j->sourceBytes == 1 && j->transparentPen >= 0) ? j->transparentPen : 256;
    for (int y = 0; y < j->height; y++) {
        uint32_t *d = Row<uint32_t>(j->target, j->targetRow, j->targetY + y, j->targetX);
        const uint8_t *mask = j->plane ? j->plane + static_cast<ptrdiff_t>(j->sourceY + y) * j->planeRow : nullptr;
        const uint8_t *alpha = j->plane2 ? Row<uint8_t>(j->plane2, j->plane2Row, j->sourceY + y, j->sourceX) : nullptr;
        uint8_t *ta = j->targetAlpha ? Row<uint8_t>(j->targetAlpha, j->targetAlphaRow, j->targetY + y, j->targetX)
                                     : nullptr;
        for (int x = 0; x < j->width; x++) {
            uint32_t c = colour;
            if (j->sourceBytes == 1) {
                uint8_t pen = Row<uint8_t>(j->source, j->sourceRow, j->sourceY + y, j->sourceX)[x];
                if (pen == tp) continue;
                c = pens[pen];
            } else if (j->sourceBytes == 4) {
                c = L::Chan(Row<uint32_t>(j->source, j->sourceRow, j->sourceY + y, j->sourceX)[x]);
            }
            int w;
            if (alpha) {
                if (!alpha[x]) continue;
                w = j->level * alpha[x] / 255;
            } else {
                w = j->level;
                if (mask && !MaskBit(mask, j->sourceX + x)) continue;
            }
            if (w == 0) continue;
            if (w == 255) {
                d[x] = L::Pix(c);
                if (ta) ta[x] = 255;
            } else if (!ta) {
                d[x] = L::Pix(LerpRgb(L::Chan(d[x]), c, w));
            } else {
                d[x] = L::Pix(OverRgb(L::Chan(d[x]), c, w, &ta[x]));
            }
        }
    }
}
void MixRect32(const lvKernelJob *j) {
#define BODY(L) MixBody<L>(j)
    LV_DISPATCH_LAYOUT(j->format, BODY);
#undef BODY
}

#if defined(__SSE2__)
// The four-pixel part of a coverage row: source(i) gives pixels i..i+3.
// Returns the first pixel left for the scalar tail.
template <typename Source>
static inline int LerpRowX4(uint32_t *__restrict d, const uint8_t *__restrict a, int n, int shift, Source source) {
    LerpX4 simd(shift);
    int x = 0;
    for (; x + 4 <= n; x += 4) {
        uint32_t w4;
        std::memcpy(&w4, a + x, 4);
        if (w4 == 0) continue;
        __m128i sv = source(x);
        if (w4 == 0xFFFFFFFFu) {
            _mm_storeu_si128(reinterpret_cast<__m128i *>(d + x), sv);
            continue;
        }
        __m128i tv = _mm_loadu_si128(reinterpret_cast<const __m128i *>(d + x));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(d + x), simd.Mix(tv, sv, w4));
    }
    return x;
}
#endif

// Blend of one row: coverage 0 keeps the target, 255 takes the source word,
// anything between lerps. Written without branches so that it vectorises.
template <typename L>
static inline void BlendRow(uint32_t *__restrict d, const uint32_t *__restrict s, const uint8_t *__restrict a, int n) {
    int x = 0;
#if defined(__SSE2__)
    x = LerpRowX4(d, a, n, L::Pix(1) == 1 ? 0 : 8,
                  [&](int i) { return _mm_loadu_si128(reinterpret_cast<const __m128i *>(s + i)); });
#endif
    for (; x < n; x++) {
        uint32_t w = a[x];
        uint32_t t = d[x], sw = s[x];
        uint32_t tc = L::Chan(t), sc = L::Chan(sw);
        int tr = (tc >> 16) & 0xFF, tg = (tc >> 8) & 0xFF, tb = tc & 0xFF;
        int sr = (sc >> 16) & 0xFF, sg = (sc >> 8) & 0xFF, sb = sc & 0xFF;
        int iw = static_cast<int>(w);
        uint32_t r = tr + ((iw * (sr - tr)) >> 8);
        uint32_t g = tg + ((iw * (sg - tg)) >> 8);
        uint32_t b = tb + ((iw * (sb - tb)) >> 8);
        uint32_t mixed = L::Pix((r << 16) | (g << 8) | b);
        uint32_t out = w == 255 ? sw : mixed;
        d[x] = w == 0 ? t : out;
    }
}

template <typename L>
static void BlendCoverageBody(const lvKernelJob *j) {
    for (int y = 0; y < j->height; y++) {
        const uint32_t *s = Row<uint32_t>(j->source, j->sourceRow, j->sourceY + y, j->sourceX);
        uint32_t *d = Row<uint32_t>(j->target, j->targetRow, j->targetY + y, j->targetX);
        const uint8_t *a = Row<uint8_t>(j->plane, j->planeRow, j->sourceY + y, j->sourceX);
        BlendRow<L>(d, s, a, j->width);
    }
}
void BlendThroughCoverage32(const lvKernelJob *j) {
#define BODY(L) BlendCoverageBody<L>(j)
    LV_DISPATCH_LAYOUT(j->format, BODY);
#undef BODY
}

void CopyThroughCoverage32(const lvKernelJob *j) {
    uint32_t colour = ArgbToPixel32(j->format, j->value);
    for (int y = 0; y < j->height; y++) {
        uint32_t *d = Row<uint32_t>(j->target, j->targetRow, j->targetY + y, j->targetX);
        const uint8_t *a = Row<uint8_t>(j->plane, j->planeRow, j->sourceY + y, j->sourceX);
        if (j->source) {
            const uint32_t *s = Row<uint32_t>(j->source, j->sourceRow, j->sourceY + y, j->sourceX);
            for (int x = 0; x < j->width; x++) d[x] = a[x] ? s[x] : d[x];
        } else {
            for (int x = 0; x < j->width; x++) d[x] = a[x] ? colour : d[x];
        }
    }
}

template <typename L>
static void CompositeBody(const lvKernelJob *j) {
    uint32_t colour = L::Chan(ArgbToPixel32(j->format, j->value & 0xFFFFFFu));
    for (int y = 0; y < j->height; y++) {
        uint32_t *d = Row<uint32_t>(j->target, j->targetRow, j->targetY + y, j->targetX);
        const uint32_t *s = j->source ? Row<uint32_t>(j->source, j->sourceRow, j->sourceY + y, j->sourceX) : nullptr;
        const uint8_t *a = j->plane ? Row<uint8_t>(j->plane, j->planeRow, j->sourceY + y, j->sourceX) : nullptr;
        uint8_t *ta = Row<uint8_t>(j->targetAlpha, j->targetAlphaRow, j->targetY + y, j->targetX);
        for (int x = 0; x < j->width; x++) {
            int w = a ? a[x] : 255;
            if (j->level != 255) w = j->level * w / 255;
            if (w == 0) continue;
            uint32_t c = s ? L::Chan(s[x]) : colour;
            if (w == 255) {
                d[x] = s ? s[x] : L::Pix(c);
                ta[x] = 255;
            } else {
                d[x] = L::Pix(OverRgb(L::Chan(d[x]), c, w, &ta[x]));
            }
        }
    }
}
void CompositeThroughCoverage32(const lvKernelJob *j) {
#define BODY(L) CompositeBody<L>(j)
    LV_DISPATCH_LAYOUT(j->format, BODY);
#undef BODY
}

// Colour through coverage, mode 1 (the solid-colour blend): branch-free row.
template <typename L>
static inline void SolidRow(uint32_t *__restrict d, const uint8_t *__restrict a, uint32_t c, uint32_t pix, int n) {
    int cr = (c >> 16) & 0xFF, cg = (c >> 8) & 0xFF, cb = c & 0xFF;
    int x = 0;
#if defined(__SSE2__)
    __m128i colour = _mm_set1_epi32(int(pix));
    x = LerpRowX4(d, a, n, L::Pix(1) == 1 ? 0 : 8, [&](int) { return colour; });
#endif
    for (; x < n; x++) {
        uint32_t w = a[x];
        uint32_t t = d[x];
        uint32_t tc = L::Chan(t);
        int tr = (tc >> 16) & 0xFF, tg = (tc >> 8) & 0xFF, tb = tc & 0xFF;
        int iw = static_cast<int>(w);
        uint32_t r = tr + ((iw * (cr - tr)) >> 8);
        uint32_t g = tg + ((iw * (cg - tg)) >> 8);
        uint32_t b = tb + ((iw * (cb - tb)) >> 8);
        uint32_t mixed = L::Pix((r << 16) | (g << 8) | b);
        uint32_t out = w == 255 ? pix : mixed;
        d[x] = w == 0 ? t : out;
    }
}

// Alpha update of modes 2 and 3: o * (a + ((c * (c - a)) >> 8)) / 255.
static inline uint8_t CoverageAlpha(int o, int a, int c) { return static_cast<uint8_t>(o * (a + ((c * (c - a)) >> 8)) / 255); }

template <typename L>
static void ColorCoverageBody(const lvKernelJob *j) {
    uint32_t pix = ArgbToPixel32(j->format, j->value & 0xFFFFFFu);
    uint32_t colour = L::Chan(pix);
    int o = j->level;
    for (int y = 0; y < j->height; y++) {
        uint32_t *d = Row<uint32_t>(j->target, j->targetRow, j->targetY + y, j->targetX);
        const uint32_t *s = j->source ? Row<uint32_t>(j->source, j->sourceRow, j->sourceY + y, j->sourceX) : nullptr;
        uint8_t *ta = j->targetAlpha ? Row<uint8_t>(j->targetAlpha, j->targetAlphaRow, j->targetY + y, j->targetX)
                                     : nullptr;
        if (j->mode == 3) {
            const uint16_t *a16 = reinterpret_cast<const uint16_t *>(j->plane + static_cast<ptrdiff_t>(j->sourceY + y) * j->planeRow) + j->sourceX;
            for (int x = 0; x < j->width; x++) {
                int v = a16[x];
                if (!v) continue;
                int c = v & 0xFF;
                int a = ta ? ta[x] : 0;
                if (a == 0) {
                    d[x] = pix;
                    if (ta) ta[x] = static_cast<uint8_t>((o * v / 255) & 0xFF);
                } else {
                    d[x] = L::Pix(LerpRgb(L::Chan(d[x]), colour, c));
                    ta[x] = CoverageAlpha(o, a, c);
                }
            }
            continue;
        }
        const uint8_t *a = Row<uint8_t>(j->plane, j->planeRow, j->sourceY + y, j->sourceX);
        if (j->mode == 1 && !s) {
            SolidRow<L>(d, a, colour, pix, j->width);
            continue;
        }
        for (int x = 0; x < j->width; x++) {
            int c = a[x];
            uint32_t sp = s ? s[x] : pix;
            switch (j->mode) {
            case 1:
                if (c == 255) d[x] = sp;
                else if (c) d[x] = L::Pix(LerpRgb(L::Chan(d[x]), L::Chan(sp), c));
                break;
            case 4:
                if (c >= 64) d[x] = sp;
                else if (c) d[x] = L::Pix(LerpRgb(L::Chan(d[x]), L::Chan(sp), c * 4));
                break;
            case 2:
                if (!c) break;
                if (!ta || ta[x] == 0) {
                    d[x] = sp;
                    if (ta) ta[x] = static_cast<uint8_t>(o * c / 255);
                } else {
                    int ta0 = ta[x];
                    d[x] = L::Pix(LerpRgb(L::Chan(d[x]), L::Chan(sp), c));
                    ta[x] = CoverageAlpha(o, ta0, c);
                }
                break;
            default:
                if (c) d[x] = sp;
                break;
            }
        }
    }
}
void DrawColorThroughCoverage32(const lvKernelJob *j) {
#define BODY(L) ColorCoverageBody<L>(j)
    LV_DISPATCH_LAYOUT(j->format, BODY);
#undef BODY
}

// ---- 8-bit planes -----------------------------------------------------------

void FillBytesRect(const lvKernelJob *j) {
    for (int y = 0; y < j->height; y++)
        std::memset(Row<uint8_t>(j->target, j->targetRow, j->targetY + y, j->targetX), static_cast<uint8_t>(j->value),
                    static_cast<size_t>(j->width));
}

void FillBytesThroughMask(const lvKernelJob *j) { FillThroughMaskT<uint8_t>(j); }

void ScaleAlphaBytes(const lvKernelJob *j) {
    int level = j->level;
    for (int y = 0; y < j->height; y++) {
        const uint8_t *s = Row<uint8_t>(j->source, j->sourceRow, j->sourceY + y, j->sourceX);
        uint8_t *d = Row<uint8_t>(j->target, j->targetRow, j->targetY + y, j->targetX);
        for (int x = 0; x < j->width; x++) d[x] = static_cast<uint8_t>(level * s[x] / 255);
    }
}

void CombineByteRows(const lvKernelJob *j) {
    int v = static_cast<int>(j->value);
    int k = v & 0xFF, h = (v >> 8) & 0xFF;
    bool upward = j->source == j->target && j->targetY > j->sourceY;  // see CopyRect32
    for (int i = 0; i < j->height; i++) {
        int y = upward ? j->height - 1 - i : i;
        const uint8_t *s = Row<uint8_t>(j->source, j->sourceRow, j->sourceY + y, j->sourceX);
        uint8_t *d = Row<uint8_t>(j->target, j->targetRow, j->targetY + y, j->targetX);
        const uint8_t *x3 = j->third ? j->third + static_cast<ptrdiff_t>(y) * j->thirdRow : nullptr;
        int n = j->width;
        switch (j->mode) {
        case 0: std::memmove(d, s, static_cast<size_t>(n)); break;
        case 1: for (int x = 0; x < n; x++) d[x] = s[x] ? s[x] : d[x]; break;
        case 2: for (int x = 0; x < n; x++) d[x] = s[x] ? static_cast<uint8_t>(255 - s[x]) : d[x]; break;
        case 3: for (int x = 0; x < n; x++) d[x] = s[x] ? 255 : d[x]; break;
        case 4: for (int x = 0; x < n; x++) d[x] = s[x] ? static_cast<uint8_t>(v * s[x] / 255) : d[x]; break;
        case 5: for (int x = 0; x < n; x++) d[x] = (s[x] && d[x]) ? static_cast<uint8_t>(255 - s[x]) : d[x]; break;
        case 6: for (int x = 0; x < n; x++) d[x] = s[x] ? static_cast<uint8_t>(k) : d[x]; break;
        case 7: for (int x = 0; x < n; x++) d[x] = (s[x] && d[x]) ? s[x] : 0; break;
        case 8: for (int x = 0; x < n; x++) d[x] = s[x] == k ? s[x] : d[x]; break;
        case 9:
            for (int x = 0; x < n; x++) {
                int sv = s[x];
                if (sv == 255) d[x] = 255;
                else if (sv) d[x] = static_cast<uint8_t>(std::min(255, ((255 - sv) * d[x] + 255 * sv + 127) / 255));
            }
            break;
        case 10: for (int x = 0; x < n; x++) d[x] = s[x] != k ? s[x] : d[x]; break;
        case 11: for (int x = 0; x < n; x++) d[x] = s[x] != k ? static_cast<uint8_t>(h) : d[x]; break;
        case 12:
            if (x3)
                for (int x = 0; x < n; x++) d[x] = s[x] ? x3[x] : d[x];
            break;
        default: break;
        }
    }
}

// ---- 1-bit masks ------------------------------------------------------------

// The new bit of a target bit t for a source bit s under a mask operation. Fills and
// drawn pixels have s = 1, so MASKAND leaves their bits; combining a mask or pens clears
// the target bits whose source bit is 0.
static inline int ApplyMaskOp(int op, int t, int s) {
    switch (op) {
    case 0: return s ? 1 : t;   // MASKVISIBLE: set where s
    case 1: return s ? 0 : t;   // MASKINVISIBLE: clear where s
    case 2: return s;           // MASKVANILLACOPY
    case 3: return t ^ s;       // MASKXOR
    case 4: return t & s;       // MASKAND
    case 5: return t | s;       // MASKOR
    default: return t;          // unknown operations
    }
}

static inline void PutBit(uint8_t *row, int x, int bit) {
    uint8_t m = static_cast<uint8_t>(0x80 >> (x & 7));
    row[x >> 3] = bit ? (row[x >> 3] | m) : (row[x >> 3] & ~m);
}

void FillMaskBits(const lvKernelJob *j) {
    int op = j->mode;
    if (op == 4) return;  // MASKAND with s = 1 leaves every bit
    for (int y = 0; y < j->height; y++) {
        uint8_t *row = static_cast<uint8_t *>(j->target) + static_cast<ptrdiff_t>(j->targetY + y) * j->targetRow;
        int x0 = j->targetX, x1 = j->targetX + j->width;  // [x0, x1)
        int x = x0;
        for (; x < x1 && (x & 7); x++) PutBit(row, x, ApplyMaskOp(op, MaskBit(row, x), 1));
        for (; x + 8 <= x1; x += 8) {
            uint8_t &b = row[x >> 3];
            if (op == 1) b = 0;
            else if (op == 3) b = static_cast<uint8_t>(~b);
            else if (op == 0 || op == 2 || op == 5) b = 0xFF;
        }
        for (; x < x1; x++) PutBit(row, x, ApplyMaskOp(op, MaskBit(row, x), 1));
    }
}

void CombineMaskBits(const lvKernelJob *j) {
    int op = j->mode;
    for (int y = 0; y < j->height; y++) {
        const uint8_t *s = static_cast<const uint8_t *>(j->source) + static_cast<ptrdiff_t>(j->sourceY + y) * j->sourceRow;
        uint8_t *d = static_cast<uint8_t *>(j->target) + static_cast<ptrdiff_t>(j->targetY + y) * j->targetRow;
        for (int x = 0; x < j->width; x++) {
            int tx = j->targetX + x;
            PutBit(d, tx, ApplyMaskOp(op, MaskBit(d, tx), MaskBit(s, j->sourceX + x)));
        }
    }
}

void CombinePensIntoMask(const lvKernelJob *j) {
    int op = j->mode;
    uint8_t pen = static_cast<uint8_t>(j->value);
    for (int y = 0; y < j->height; y++) {
        const uint8_t *s = Row<uint8_t>(j->source, j->sourceRow, j->sourceY + y, j->sourceX);
        uint8_t *d = static_cast<uint8_t *>(j->target) + static_cast<ptrdiff_t>(j->targetY + y) * j->targetRow;
        for (int x = 0; x < j->width; x++) {
            int tx = j->targetX + x;
            PutBit(d, tx, ApplyMaskOp(op, MaskBit(d, tx), s[x] != pen));
        }
    }
}

void MaskToBytes(const lvKernelJob *j) {
    uint8_t v = static_cast<uint8_t>(j->value);
    for (int y = 0; y < j->height; y++) {
        const uint8_t *m = j->plane + static_cast<ptrdiff_t>(j->sourceY + y) * j->planeRow;
        uint8_t *d = Row<uint8_t>(j->target, j->targetRow, j->targetY + y, j->targetX);
        for (int x = 0; x < j->width; x++) d[x] = MaskBit(m, j->sourceX + x) ? v : 0;
    }
}

void SetMaskFromBytes(const lvKernelJob *j) {
    int op = j->mode;
    uint8_t v = static_cast<uint8_t>(j->value);
    for (int y = 0; y < j->height; y++) {
        const uint8_t *s = Row<uint8_t>(j->source, j->sourceRow, j->sourceY + y, j->sourceX);
        uint8_t *d = static_cast<uint8_t *>(j->target) + static_cast<ptrdiff_t>(j->targetY + y) * j->targetRow;
        for (int x = 0; x < j->width; x++) {
            bool test = j->equal ? s[x] == v : s[x] != v;
            int tx = j->targetX + x;
            switch (op) {
            case 0:
            case 2: PutBit(d, tx, test); break;
            case 1: PutBit(d, tx, !test); break;
            case 3:
                if (test) PutBit(d, tx, !MaskBit(d, tx));
                break;
            case 5:
                if (test) PutBit(d, tx, 1);
                break;
            case 4:  // MASKAND with s the test: a failed test clears the bit
                if (!test) PutBit(d, tx, 0);
                break;
            default: break;
            }
        }
    }
}

void MergeClipMaskRows(const lvKernelJob *j) {
    for (int y = 0; y < j->height; y++) {
        const uint8_t *clip = j->third + static_cast<ptrdiff_t>(j->thirdY + y) * j->thirdRow;
        uint8_t *d = static_cast<uint8_t *>(j->target) + static_cast<ptrdiff_t>(j->targetY + y) * j->targetRow;
        if (j->outputIsMask) {
            const uint8_t *own = j->plane ? j->plane + static_cast<ptrdiff_t>(j->sourceY + y) * j->planeRow : nullptr;
            for (int x = 0; x < j->width; x++) {
                int bit = MaskBit(clip, j->thirdX + x);
                if (own) bit &= MaskBit(own, j->sourceX + x);
                PutBit(d, j->targetX + x, bit);
            }
        } else {
            const uint8_t *own = Row<uint8_t>(j->plane, j->planeRow, j->sourceY + y, j->sourceX);
            for (int x = 0; x < j->width; x++)
                d[j->targetX + x] = MaskBit(clip, j->thirdX + x) ? own[x] : static_cast<uint8_t>(j->value);
        }
    }
}

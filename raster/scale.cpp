// scale.cpp - scaling and 2x2 transforms of picture sets and raw buffers, the
// quarter-turn copies and the mirror of whole planes.
//
// The kernels work on one lvScaleJob each. Nearest sampling takes the left and
// top edge of each target pixel; every sampled row and column is clamped into
// the source so that rounding of the single-precision row steps never reads
// past the last row. Column positions are 64-bit so that very wide rows do not
// overflow. Bilinear sampling of a target of one column (row) samples column
// (row) 0 instead of dividing by zero.
//
// Depends on: raster/lvscale.h, raster/lvimage.h (DuplicateImage),
// raster/lvplanes.h, raster/lvdrawstate.h (scratch tables).
// Limits: kernels serve 32-bit RGB; 16/24-bit planes take nearest copies.
#include "raster/lvscale.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "platform/lvplatform.h"
#include "raster/lvdrawstate.h"
#include "raster/lvimage.h"
#include "raster/lvneighbours.h"
#include "raster/lvplanes.h"
#include "raster/lvraster.h"
#include "base/lverrors.h"

// ---- Position tables --------------------------------------------------------

namespace {

inline int BitOf(const uint8_t *row, int64_t x) { return (row[x >> 3] >> (7 - (x & 7))) & 1; }
inline void PutBit(uint8_t *row, int x, int bit) {
    uint8_t m = static_cast<uint8_t>(0x80 >> (x & 7));
    row[x >> 3] = bit ? static_cast<uint8_t>(row[x >> 3] | m) : static_cast<uint8_t>(row[x >> 3] & ~m);
}

// Nearest: column indices and row indices, clamped into the source.
void FillNearestTables(const lvScaleJob *job, int64_t *xt, int64_t *yt) {
    float fx = static_cast<float>(job->sourceWidth) / static_cast<float>(job->targetWidth);
    float fy = static_cast<float>(job->sourceHeight) / static_cast<float>(job->targetHeight);
    int64_t step = static_cast<int64_t>(fx * 65536.0f);
    int64_t lastX = job->sourceWidth - 1, lastY = job->sourceHeight - 1;
    for (int64_t j = 0; j < job->targetWidth; j++) xt[j] = std::min((j * step) >> 16, lastX);
    float acc = 0.0f;
    for (int i = 0; i < job->targetHeight; i++) {
        yt[i] = std::min(static_cast<int64_t>(static_cast<int>(acc)), lastY);
        acc += fy;
    }
}

// Bilinear: 16.16 positions, entry k + 1 = min(entry k + step, (size << 16) - 1).
void FillBilinearTable(int64_t *t, int sourceSize, int targetSize) {
    int64_t step = targetSize > 1 ? (static_cast<int64_t>(sourceSize - 1) << 16) / (targetSize - 1) : 0;
    int64_t limit = (static_cast<int64_t>(sourceSize) << 16) - 1;
    t[0] = 0;
    for (int k = 0; k < targetSize; k++) t[k + 1] = std::min(t[k] + step, limit);
}

// Where the alpha byte of a 32-bit pixel sits.
inline int AlphaShift(int format) { return (format == PIXFMT_BGRA32 || format == PIXFMT_RGBA32) ? 0 : 24; }

// One row of nearest samples, eight a pass after the remainder.
template <typename T>
void NearestRow(const T *s, T *d, const int64_t *xt, int width) {
    int j = 0;
    for (int rem = width & 7; j < rem; j++) d[j] = s[xt[j]];
    for (; j < width; j += 8) {
        d[j] = s[xt[j]];
        d[j + 1] = s[xt[j + 1]];
        d[j + 2] = s[xt[j + 2]];
        d[j + 3] = s[xt[j + 3]];
        d[j + 4] = s[xt[j + 4]];
        d[j + 5] = s[xt[j + 5]];
        d[j + 6] = s[xt[j + 6]];
        d[j + 7] = s[xt[j + 7]];
    }
}

void NearestRowAny(const uint8_t *s, uint8_t *d, const int64_t *xt, int width, int bpp) {
    for (int j = 0; j < width; j++) std::memcpy(d + static_cast<size_t>(j) * bpp, s + xt[j] * bpp, bpp);
}

// Target mask row from source bits; whole bytes first, then the remainder bit
// by bit so that padding bits of the row stay as they were.
void NearestMaskRow(const uint8_t *s, int64_t sourceX, uint8_t *d, const int64_t *xt, int width) {
    int j = 0;
    for (; j + 8 <= width; j += 8) {
        unsigned b = 0;
        for (int k = 0; k < 8; k++) b = (b << 1) | BitOf(s, sourceX + xt[j + k]);
        d[j >> 3] = static_cast<uint8_t>(b);
    }
    for (; j < width; j++) PutBit(d, j, BitOf(s, sourceX + xt[j]));
}

void ScaleNearest(const lvScaleJob *job, const int64_t *xt, const int64_t *yt) {
    const int tw = job->targetWidth, bpp = job->bytesPerPixel;
    for (int i = 0; i < job->targetHeight; i++) {
        int64_t sy = yt[i];
        bool same = i > 0 && sy == yt[i - 1];
        if (job->source && job->target) {
            uint8_t *d = job->target + static_cast<size_t>(i) * job->targetRow * bpp;
            const uint8_t *s = job->source + static_cast<size_t>(sy) * job->sourceRow * bpp;
            if (same) std::memcpy(d, d - static_cast<size_t>(job->targetRow) * bpp, static_cast<size_t>(tw) * bpp);
            else if (bpp == 4)
                NearestRow(reinterpret_cast<const uint32_t *>(s), reinterpret_cast<uint32_t *>(d), xt, tw);
            else NearestRowAny(s, d, xt, tw, bpp);
        }
        if (job->planeSource && job->planeTarget) {
            uint8_t *d = job->planeTarget + static_cast<size_t>(i) * job->planeTargetRow;
            if (same) std::memcpy(d, d - job->planeTargetRow, tw);
            else NearestRow(job->planeSource + static_cast<size_t>(sy) * job->planeSourceRow, d, xt, tw);
        }
        if (job->maskSource && job->maskTarget) {
            uint8_t *d = job->maskTarget + static_cast<size_t>(i) * job->maskTargetRow;
            const uint8_t *s = job->maskSource + static_cast<size_t>(job->sourceY + sy) * job->maskSourceRow;
            NearestMaskRow(s, job->sourceX, d, xt, tw);
        }
    }
}

inline int Lerp16(int a, int b, int f) { return a + (((b - a) * f) >> 16); }

// The mask is not interpolated: each bit of target row i comes from (x0, y0).
void BilinearMaskRow(const lvScaleJob *job, const int64_t *xt, int i, int y0) {
    if (!job->maskSource || !job->maskTarget) return;
    const uint8_t *s = job->maskSource + static_cast<size_t>(job->sourceY + y0) * job->maskSourceRow;
    uint8_t *m = job->maskTarget + static_cast<size_t>(i) * job->maskTargetRow;
    for (int j = 0; j < job->targetWidth; j++) PutBit(m, j, BitOf(s, job->sourceX + (xt[j] >> 16)));
}

// Bilinear with a byte plane: per pixel, the plane's bytes become the alpha lane.
void ScaleBilinear(const lvScaleJob *job, const int64_t *xt, const int64_t *yt) {
    const int sw = job->sourceWidth, sh = job->sourceHeight, tw = job->targetWidth;
    const int ashift = AlphaShift(job->format);
    const bool plane = job->planeSource && job->planeTarget;
    for (int i = 0; i < job->targetHeight; i++) {
        int64_t q = yt[i];
        int y0 = static_cast<int>(q >> 16), y1 = y0 < sh - 1 ? y0 + 1 : y0, fy = static_cast<int>(q & 0xFFFF);
        const uint32_t *r0 = reinterpret_cast<const uint32_t *>(job->source) + static_cast<size_t>(y0) * job->sourceRow;
        const uint32_t *r1 = reinterpret_cast<const uint32_t *>(job->source) + static_cast<size_t>(y1) * job->sourceRow;
        uint32_t *d = reinterpret_cast<uint32_t *>(job->target) + static_cast<size_t>(i) * job->targetRow;
        const uint8_t *a0 = plane ? job->planeSource + static_cast<size_t>(y0) * job->planeSourceRow : nullptr;
        const uint8_t *a1 = plane ? job->planeSource + static_cast<size_t>(y1) * job->planeSourceRow : nullptr;
        uint8_t *ad = plane ? job->planeTarget + static_cast<size_t>(i) * job->planeTargetRow : nullptr;
        for (int j = 0; j < tw; j++) {
            int64_t p = xt[j];
            int x0 = static_cast<int>(p >> 16), x1 = x0 < sw - 1 ? x0 + 1 : x0, fx = static_cast<int>(p & 0xFFFF);
            uint32_t c00 = r0[x0], c10 = r0[x1], c01 = r1[x0], c11 = r1[x1];
            uint32_t out = 0;
            for (int sh8 = 0; sh8 < 32; sh8 += 8) {
                int top = Lerp16((c00 >> sh8) & 0xFF, (c10 >> sh8) & 0xFF, fx);
                int bottom = Lerp16((c01 >> sh8) & 0xFF, (c11 >> sh8) & 0xFF, fx);
                out |= static_cast<uint32_t>(Lerp16(top, bottom, fy) & 0xFF) << sh8;
            }
            if (plane) {
                int top = Lerp16(a0[x0], a0[x1], fx), bottom = Lerp16(a1[x0], a1[x1], fx);
                int v = Lerp16(top, bottom, fy) & 0xFF;
                ad[j] = static_cast<uint8_t>(v);
                out = (out & ~(0xFFu << ashift)) | (static_cast<uint32_t>(v) << ashift);
            }
            d[j] = out;
        }
        BilinearMaskRow(job, xt, i, y0);
    }
}

// The columns of a bilinear row, worked out once per call: left and right
// source columns and each target pixel's fraction f and 65536 - f, the
// fractions repeated on the pixel's four byte lanes.
struct lvBilinearColumns {
    int32_t *left, *right;  // source columns
    uint16_t *f, *g;        // 4 lanes a pixel
};

void FillBilinearColumns(const int64_t *xt, int tw, int sw, lvBilinearColumns *c) {
    for (int j = 0; j < tw; j++) {
        int64_t p = xt[j];
        int x0 = static_cast<int>(p >> 16);
        c->left[j] = x0;
        c->right[j] = x0 < sw - 1 ? x0 + 1 : x0;
        uint16_t f = static_cast<uint16_t>(p & 0xFFFF), g = static_cast<uint16_t>(65536 - f);
        for (int k = 0; k < 4; k++) c->f[4 * j + k] = f, c->g[4 * j + k] = g;
    }
}

#if defined(__SSE2__)
// a + (((b - a) * f) >> 16) on 16-bit lanes holding bytes, as (a * g + b * f) >> 16
// with g = 65536 - f, from 16-bit high and low products and the carry of the low
// halves; lanes with f = 0 (g has no 16-bit form) keep a.
inline __m128i LerpLanes(__m128i a, __m128i b, __m128i vf, __m128i vg) {
    const __m128i sign = _mm_set1_epi16(static_cast<short>(0x8000));
    __m128i hi = _mm_add_epi16(_mm_mulhi_epu16(a, vg), _mm_mulhi_epu16(b, vf));
    __m128i lo1 = _mm_mullo_epi16(a, vg), lo = _mm_add_epi16(lo1, _mm_mullo_epi16(b, vf));
    __m128i r = _mm_sub_epi16(hi, _mm_cmplt_epi16(_mm_xor_si128(lo, sign), _mm_xor_si128(lo1, sign)));
    __m128i none = _mm_cmpeq_epi16(vf, _mm_setzero_si128());
    return _mm_or_si128(_mm_andnot_si128(none, r), _mm_and_si128(none, a));
}

// Target pixels j and j + 1 of one source row, interpolated across: 8 lanes.
inline __m128i HorizontalPair(const uint8_t *s, const lvBilinearColumns &c, int j) {
    const __m128i zero = _mm_setzero_si128();
    int32_t wa0, wa1, wb0, wb1;
    std::memcpy(&wa0, s + 4 * c.left[j], 4);
    std::memcpy(&wa1, s + 4 * c.left[j + 1], 4);
    std::memcpy(&wb0, s + 4 * c.right[j], 4);
    std::memcpy(&wb1, s + 4 * c.right[j + 1], 4);
    __m128i t16 = _mm_unpacklo_epi8(_mm_unpacklo_epi32(_mm_cvtsi32_si128(wa0), _mm_cvtsi32_si128(wa1)), zero);
    __m128i b16 = _mm_unpacklo_epi8(_mm_unpacklo_epi32(_mm_cvtsi32_si128(wb0), _mm_cvtsi32_si128(wb1)), zero);
    return LerpLanes(t16, b16, _mm_loadu_si128(reinterpret_cast<const __m128i *>(c.f + 4 * j)),
                     _mm_loadu_si128(reinterpret_cast<const __m128i *>(c.g + 4 * j)));
}
#endif

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define LV_SCALE_AVX2 1
// The SSE2 rows above on 256-bit registers: the same lane arithmetic, twice the
// lanes. Chosen at run time by the machine's AVX2 support.
bool HasAvx2() {
    static const bool has = (__builtin_cpu_init(), __builtin_cpu_supports("avx2"));
    return has;
}

// a + (((b - a) * f) >> 16) on 16-bit lanes holding bytes: the signed high
// half of d * f, where f at or above 32768 reads as f - 65536 (one d short);
// neg (all ones in those lanes) adds that d back.
__attribute__((target("avx2"))) inline __m256i LerpHigh(__m256i a, __m256i b, __m256i f, __m256i neg) {
    __m256i d = _mm256_sub_epi16(b, a);
    return _mm256_add_epi16(_mm256_add_epi16(a, _mm256_mulhi_epi16(d, f)), _mm256_and_si256(d, neg));
}

// Target pixels j .. j + 3 of one source row, interpolated across, where each
// right column is the left one plus one: both come from one 8-byte read. f and
// neg: the columns' fractions on their pixels' lanes (see LerpHigh).
__attribute__((target("avx2"))) inline __m256i HorizontalQuad(const uint8_t *s, const lvBilinearColumns &c, int j,
                                                            __m256i f, __m256i neg) {
    auto pair = [&](int k) { return _mm_loadl_epi64(reinterpret_cast<const __m128i *>(s + 4 * c.left[j + k])); };
    __m128i p01 = _mm_unpacklo_epi64(pair(0), pair(1)), p23 = _mm_unpacklo_epi64(pair(2), pair(3));
    // [a0 b0 a1 b1 | a2 b2 a3 b3] -> [a0 a1 b0 b1 | a2 a3 b2 b3]
    __m256i v = _mm256_shuffle_epi32(_mm256_set_m128i(p23, p01), _MM_SHUFFLE(3, 1, 2, 0));
    const __m256i zero = _mm256_setzero_si256();
    return LerpHigh(_mm256_unpacklo_epi8(v, zero), _mm256_unpackhi_epi8(v, zero), f, neg);
}

__attribute__((target("avx2"))) inline void QuadFractions(const lvBilinearColumns &c, int j, __m256i *f,
                                                          __m256i *neg) {
    *f = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(c.f + 4 * j));
    *neg = _mm256_srai_epi16(*f, 15);
}

// One fraction for a whole row.
__attribute__((target("avx2"))) inline void RowFraction(int f, __m256i *vf, __m256i *neg) {
    *vf = _mm256_set1_epi16(static_cast<short>(f));
    *neg = _mm256_srai_epi16(*vf, 15);
}

// Four pixels of 16-bit lanes in pixel order [p0 p1 | p2 p3] to 16 bytes.
__attribute__((target("avx2"))) inline void StoreQuad(uint8_t *d, __m256i v) {
    __m256i packed = _mm256_permute4x64_epi64(_mm256_packus_epi16(v, _mm256_setzero_si256()), _MM_SHUFFLE(3, 1, 2, 0));
    _mm_storeu_si128(reinterpret_cast<__m128i *>(d), _mm256_castsi256_si128(packed));
}

// Target columns before the first whose right column is not left + 1 (only
// the last source column is its own neighbour), in fours.
int QuadColumns(const lvBilinearColumns &c, int tw) {
    int j = 0;
    while (j < tw && c.right[j] == c.left[j] + 1) j++;
    return j & ~3;
}

__attribute__((target("avx2"))) int BilinearRowHAvx2(const uint8_t *s, const lvBilinearColumns &c, int quads,
                                                     uint8_t *h) {
    int j = 0;
    for (; j < quads; j += 4) {
        __m256i f, neg;
        QuadFractions(c, j, &f, &neg);
        StoreQuad(h + 4 * j, HorizontalQuad(s, c, j, f, neg));
    }
    return j;
}

__attribute__((target("avx2"))) int BilinearRowVAvx2(const uint8_t *__restrict t, const uint8_t *__restrict b, int n,
                                                     int f, uint8_t *__restrict d) {
    const __m256i zero = _mm256_setzero_si256();
    __m256i vf, neg;
    RowFraction(f, &vf, &neg);
    int k = 0;
    for (; k + 32 <= n; k += 32) {
        __m256i vt = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(t + k));
        __m256i vb = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(b + k));
        __m256i lo = LerpHigh(_mm256_unpacklo_epi8(vt, zero), _mm256_unpacklo_epi8(vb, zero), vf, neg);
        __m256i hi = LerpHigh(_mm256_unpackhi_epi8(vt, zero), _mm256_unpackhi_epi8(vb, zero), vf, neg);
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(d + k), _mm256_packus_epi16(lo, hi));
    }
    return k;
}

__attribute__((target("avx2"))) int BilinearRowFusedAvx2(const uint8_t *s0, const uint8_t *s1,
                                                         const lvBilinearColumns &c, int quads, int f, uint8_t *d) {
    __m256i vf, rowNeg;
    RowFraction(f, &vf, &rowNeg);
    int j = 0;
    for (; j < quads; j += 4) {
        __m256i cf, neg;
        QuadFractions(c, j, &cf, &neg);
        StoreQuad(d + 4 * j, LerpHigh(HorizontalQuad(s0, c, j, cf, neg), HorizontalQuad(s1, c, j, cf, neg), vf, rowNeg));
    }
    return j;
}
#endif

// One pixel's four lanes of one source row, interpolated across.
inline void HorizontalPixel(const uint8_t *s, const lvBilinearColumns &c, int j, int out[4]) {
    const uint8_t *a = s + 4 * c.left[j], *b = s + 4 * c.right[j];
    int f = c.f[4 * j];
    for (int k = 0; k < 4; k++) out[k] = a[k] + (((b[k] - a[k]) * f) >> 16);
}

// Horizontal pass of one source row: the interpolated byte lanes of every
// target column, in the order of the pixel's bytes.
void BilinearRowH(const uint8_t *s, const lvBilinearColumns &c, int tw, int quads, uint8_t *h) {
    int j = 0;
#ifdef LV_SCALE_AVX2
    if (quads) j = BilinearRowHAvx2(s, c, quads, h);
#endif
#if defined(__SSE2__)
    for (; j + 2 <= tw; j += 2)
        _mm_storel_epi64(reinterpret_cast<__m128i *>(h + 4 * j),
                         _mm_packus_epi16(HorizontalPair(s, c, j), _mm_setzero_si128()));
#endif
    for (; j < tw; j++) {
        int v[4];
        HorizontalPixel(s, c, j, v);
        for (int k = 0; k < 4; k++) h[4 * j + k] = static_cast<uint8_t>(v[k]);
    }
}

// Vertical pass, one fraction f (1..65535) for the whole row.
void BilinearRowV(const uint8_t *__restrict t, const uint8_t *__restrict b, int n, int f, uint8_t *__restrict d) {
    int k = 0;
#ifdef LV_SCALE_AVX2
    if (HasAvx2()) k = BilinearRowVAvx2(t, b, n, f, d);
#endif
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    const __m128i vf = _mm_set1_epi16(static_cast<short>(f)), vg = _mm_set1_epi16(static_cast<short>(65536 - f));
    for (; k + 16 <= n; k += 16) {
        __m128i vt = _mm_loadu_si128(reinterpret_cast<const __m128i *>(t + k));
        __m128i vb = _mm_loadu_si128(reinterpret_cast<const __m128i *>(b + k));
        __m128i lo = LerpLanes(_mm_unpacklo_epi8(vt, zero), _mm_unpacklo_epi8(vb, zero), vf, vg);
        __m128i hi = LerpLanes(_mm_unpackhi_epi8(vt, zero), _mm_unpackhi_epi8(vb, zero), vf, vg);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(d + k), _mm_packus_epi16(lo, hi));
    }
#endif
    for (; k < n; k++) d[k] = static_cast<uint8_t>(t[k] + (((b[k] - t[k]) * f) >> 16));
}

// Both passes at once for a target row whose source rows no other row uses
// (shrinking by two rows or more): nothing is stored between them.
void BilinearRowFused(const uint8_t *s0, const uint8_t *s1, const lvBilinearColumns &c, int tw, int quads, int f,
                      uint8_t *d) {
    int j = 0;
#ifdef LV_SCALE_AVX2
    if (quads) j = BilinearRowFusedAvx2(s0, s1, c, quads, f, d);
#endif
#if defined(__SSE2__)
    const __m128i vf = _mm_set1_epi16(static_cast<short>(f)), vg = _mm_set1_epi16(static_cast<short>(65536 - f));
    for (; j + 2 <= tw; j += 2)
        _mm_storel_epi64(reinterpret_cast<__m128i *>(d + 4 * j),
                         _mm_packus_epi16(LerpLanes(HorizontalPair(s0, c, j), HorizontalPair(s1, c, j), vf, vg),
                                          _mm_setzero_si128()));
#endif
    for (; j < tw; j++) {
        int t[4], b[4];
        HorizontalPixel(s0, c, j, t);
        HorizontalPixel(s1, c, j, b);
        for (int k = 0; k < 4; k++) d[4 * j + k] = static_cast<uint8_t>(t[k] + (((b[k] - t[k]) * f) >> 16));
    }
}

// Bilinear without a byte plane: each source row is interpolated across once
// and kept while target rows still need it; then each target row is one
// vertical pass. The same arithmetic as the per-pixel form, lane by lane.
int ScaleBilinearRows(const lvScaleJob *job, const int64_t *xt, const int64_t *yt) {
    const int sw = job->sourceWidth, sh = job->sourceHeight, tw = job->targetWidth;
    const size_t rowBytes = static_cast<size_t>(tw) * 4;
    // Two interpolated rows, then the column table (8 + 8 + 4 + 4 bytes a pixel).
    uint8_t *buffers = static_cast<uint8_t *>(AllocMemory(2 * rowBytes + static_cast<size_t>(tw) * 24 + 16, 0));
    if (!buffers) return ERR_MEM;
    uint8_t *rowA = buffers, *rowB = buffers + rowBytes;
    lvBilinearColumns columns;
    columns.f = reinterpret_cast<uint16_t *>(buffers + 2 * rowBytes);
    columns.g = columns.f + 4 * static_cast<size_t>(tw);
    columns.left = reinterpret_cast<int32_t *>(columns.g + 4 * static_cast<size_t>(tw));
    columns.right = columns.left + tw;
    FillBilinearColumns(xt, tw, sw, &columns);
    int quads = 0;  // leading target columns the AVX2 rows take
#ifdef LV_SCALE_AVX2
    if (HasAvx2()) quads = QuadColumns(columns, tw);
#endif
    int64_t idxA = -1, idxB = -1;
    auto sourceRow = [&](int y) {
        return job->source + static_cast<size_t>(y) * job->sourceRow * 4;
    };
    // Shrinking by two rows or more: no source row serves two target rows.
    const bool fused = job->targetHeight > 1 && yt[1] - yt[0] >= (2 << 16);
    for (int i = 0; i < job->targetHeight; i++) {
        int64_t q = yt[i];
        int y0 = static_cast<int>(q >> 16), y1 = y0 < sh - 1 ? y0 + 1 : y0, fy = static_cast<int>(q & 0xFFFF);
        if (fused && fy != 0 && y1 != y0) {
            BilinearRowFused(sourceRow(y0), sourceRow(y1), columns, tw, quads, fy,
                             job->target + static_cast<size_t>(i) * job->targetRow * 4);
            BilinearMaskRow(job, xt, i, y0);
            continue;
        }
        if (idxA != y0) {
            if (idxB == y0) {
                std::swap(rowA, rowB);
                std::swap(idxA, idxB);
            } else {
                BilinearRowH(sourceRow(y0), columns, tw, quads, rowA);
                idxA = y0;
            }
        }
        uint8_t *d = job->target + static_cast<size_t>(i) * job->targetRow * 4;
        if (fy == 0 || y1 == y0) {
            std::memcpy(d, rowA, rowBytes);
        } else {
            if (idxB != y1) {
                BilinearRowH(sourceRow(y1), columns, tw, quads, rowB);
                idxB = y1;
            }
            BilinearRowV(rowA, rowB, static_cast<int>(rowBytes), fy, d);
        }
        BilinearMaskRow(job, xt, i, y0);
    }
    FreeMemory(buffers);
    return 0;
}

}  // namespace

int ScaleRowsInterpolated(lvScaleJob *job) {
    if (job->targetWidth <= 0 || job->targetHeight <= 0 || job->sourceWidth <= 0 || job->sourceHeight <= 0) return 0;
    int64_t *xt = job->xTable, *yt = job->yTable, *own = nullptr;
    if (!xt || !yt) {
        size_t n = static_cast<size_t>(job->targetWidth) + 1 + static_cast<size_t>(job->targetHeight) + 1;
        own = static_cast<int64_t *>(AllocMemory(n * sizeof(int64_t), 0));
        if (!own) return ERR_MEM;
        xt = own;
        yt = own + job->targetWidth + 1;
    }
    bool smooth = job->smooth && job->source && job->target && job->bytesPerPixel == 4;
    if (smooth) {
        FillBilinearTable(xt, job->sourceWidth, job->targetWidth);
        FillBilinearTable(yt, job->sourceHeight, job->targetHeight);
        if (job->planeSource && job->planeTarget) ScaleBilinear(job, xt, yt);
        else if (int rc = ScaleBilinearRows(job, xt, yt)) {
            FreeMemory(own);
            return rc;
        }
    } else {
        FillNearestTables(job, xt, yt);
        ScaleNearest(job, xt, yt);
    }
    FreeMemory(own);
    return 0;
}

// ---- Scratch tables ---------------------------------------------------------

int EnsureScaleBuffers(int width, int height) {
    lvScaleScratch &s = DrawingState.scale;
    // Each table has one entry past the size; a size at the integer limit has no such table.
    if (width < 0 || height < 0 || width == INT32_MAX || height == INT32_MAX) return ERR_MEM;
    if (width + 1 > s.xCapacity) {
        FreeMemory(s.xTable);
        s.xTable = static_cast<int64_t *>(AllocMemory((static_cast<size_t>(width) + 1) * sizeof(int64_t), 0));
        s.xCapacity = s.xTable ? width + 1 : 0;
        if (!s.xTable) return ERR_MEM;
    }
    if (height + 1 > s.yCapacity) {
        FreeMemory(s.yTable);
        s.yTable = static_cast<int64_t *>(AllocMemory((static_cast<size_t>(height) + 1) * sizeof(int64_t), 0));
        s.yCapacity = s.yTable ? height + 1 : 0;
        if (!s.yTable) return ERR_MEM;
    }
    return 0;
}

void ReleaseScaleBuffers() {
    lvScaleScratch &s = DrawingState.scale;
    FreeMemory(s.xTable);
    FreeMemory(s.yTable);
    s = lvScaleScratch{};
}

// ---- Raw pixel buffers ------------------------------------------------------

void *ScalePixelBuffer(const void *source, int sourceX, int sourceY, int sourceWidth, int sourceHeight, void *target,
                       int targetX, int targetY, int targetWidth, int targetHeight, int sourceRow, int targetRow,
                       int format, int smooth) {
    if (!source || sourceWidth <= 0 || sourceHeight <= 0 || targetWidth <= 0 || targetHeight <= 0) return nullptr;
    int bpp = GetPixelFormatBytes(format);
    if (bpp <= 0) return nullptr;
    void *made = nullptr;
    if (!target) {
        made = AllocMemory(static_cast<size_t>(targetWidth) * targetHeight * bpp, 0);
        if (!made) return nullptr;
        target = made;
        targetRow = targetWidth;
        targetX = targetY = 0;
    }
    lvScaleJob job{};
    const uint8_t *s = static_cast<const uint8_t *>(source) +
                       (static_cast<size_t>(sourceY) * sourceRow + sourceX) * bpp;
    uint8_t *d = static_cast<uint8_t *>(target) + (static_cast<size_t>(targetY) * targetRow + targetX) * bpp;
    if (bpp == 1) {
        job.planeSource = s;
        job.planeTarget = d;
        job.planeSourceRow = sourceRow;
        job.planeTargetRow = targetRow;
    } else {
        job.source = s;
        job.target = d;
        job.sourceRow = sourceRow;
        job.targetRow = targetRow;
        job.format = format;
        job.bytesPerPixel = bpp;
        job.smooth = smooth;
    }
    job.sourceWidth = sourceWidth;
    job.sourceHeight = sourceHeight;
    job.targetWidth = targetWidth;
    job.targetHeight = targetHeight;
    if (ScaleRowsInterpolated(&job)) {
        FreeMemory(made);
        return nullptr;
    }
    return target;
}

// ---- Affine kernel ----------------------------------------------------------

namespace {

struct lvAffineBox {
    double minX, minY, maxX, maxY;
};

lvAffineBox MapSourceBox(const double *t, int w, int h) {
    const double xs[4] = {0, double(w), double(w), 0}, ys[4] = {0, 0, double(h), double(h)};
    lvAffineBox b{1e300, 1e300, -1e300, -1e300};
    for (int k = 0; k < 4; k++) {
        double X = t[0] * xs[k] + t[2] * ys[k] + t[4], Y = t[1] * xs[k] + t[3] * ys[k] + t[5];
        b.minX = std::min(b.minX, X);
        b.maxX = std::max(b.maxX, X);
        b.minY = std::min(b.minY, Y);
        b.maxY = std::max(b.maxY, Y);
    }
    return b;
}

// The source point of target (X, Y): the same arithmetic for the span and the
// samples, so that a pixel is painted exactly when its point lies inside.
inline void InversePoint(const double *inv, int X, int Y, double *x, double *y) {
    *x = inv[0] * X + (inv[2] * Y + inv[4]);
    *y = inv[1] * X + (inv[3] * Y + inv[5]);
}

inline bool PointInside(const double *inv, int X, int Y, int w, int h) {
    double x, y;
    InversePoint(inv, X, Y, &x, &y);
    return x >= 0 && x < w && y >= 0 && y < h;
}

// Sets bits s..e of a mask row.
void SetMaskSpan(uint8_t *row, int s, int e) {
    while (s <= e && (s & 7)) PutBit(row, s++, 1);
    while (s + 7 <= e) {
        row[s >> 3] = 0xFF;
        s += 8;
    }
    while (s <= e) PutBit(row, s++, 1);
}

inline int ClampInt(int v, int lo, int hi) { return v < lo ? lo : (v > hi ? hi : v); }

struct lvAffineRows {
    const lvScaleJob *job;
    int alphaShift;
    bool rgb, mask, plane;
    const uint8_t *MaskRow(int y) const {
        return job->maskSource + static_cast<size_t>(job->sourceY + y) * job->maskSourceRow;
    }
    int SourceBit(int x, int y) const { return BitOf(MaskRow(y), job->sourceX + x); }
    const uint8_t *Pixel(int x, int y) const {
        return job->source + (static_cast<size_t>(y) * job->sourceRow + x) * job->bytesPerPixel;
    }
    uint8_t PlaneByte(int x, int y) const { return job->planeSource[static_cast<size_t>(y) * job->planeSourceRow + x]; }
};

void AffineNearest(const lvAffineRows &r, int sx, int sy, int X, int Y) {
    const lvScaleJob *j = r.job;
    if (r.rgb)
        std::memcpy(j->target + (static_cast<size_t>(Y) * j->targetRow + X) * j->bytesPerPixel, r.Pixel(sx, sy),
                    j->bytesPerPixel);
    if (r.plane) j->planeTarget[static_cast<size_t>(Y) * j->planeTargetRow + X] = r.PlaneByte(sx, sy);
    if (j->maskTarget) {
        uint8_t *m = j->maskTarget + static_cast<size_t>(Y) * j->maskTargetRow;
        if (r.mask) PutBit(m, X, r.SourceBit(sx, sy));
        else if (!r.plane) PutBit(m, X, 1);
    }
}

// SampleBilinear: four neighbours, transparent ones (mask bit clear) take the
// colour of the first opaque one; all four transparent clears the target bit.
void AffineBilinear(const lvAffineRows &r, double x, double y, int X, int Y) {
    const lvScaleJob *j = r.job;
    const int w = j->sourceWidth, h = j->sourceHeight;
    int x0 = ClampInt(static_cast<int>(x), 0, w - 1), y0 = ClampInt(static_cast<int>(y), 0, h - 1);
    int x1 = ClampInt(x0 + 1, 0, w - 1), y1 = ClampInt(y0 + 1, 0, h - 1);
    double fx = x - std::floor(x), fy = y - std::floor(y);
    const int xs[4] = {x0, x1, x0, x1}, ys[4] = {y0, y0, y1, y1};
    bool opaque[4] = {true, true, true, true};
    if (r.mask && !r.plane)
        for (int k = 0; k < 4; k++) opaque[k] = r.SourceBit(xs[k], ys[k]) != 0;
    int first = -1;
    for (int k = 0; k < 4 && first < 0; k++)
        if (opaque[k]) first = k;
    uint8_t *m = j->maskTarget ? j->maskTarget + static_cast<size_t>(Y) * j->maskTargetRow : nullptr;
    if (first < 0) {
        if (m) PutBit(m, X, 0);
        return;
    }
    auto mix = [&](const int c[4]) {
        return static_cast<int>(0.5 + (1 - fy) * ((1 - fx) * c[0] + fx * c[1]) + fy * ((1 - fx) * c[2] + fx * c[3]));
    };
    if (r.rgb) {
        uint32_t px[4];
        for (int k = 0; k < 4; k++) {
            int src = opaque[k] ? k : first;
            std::memcpy(&px[k], r.Pixel(xs[src], ys[src]), 4);
        }
        uint32_t out = 0xFFu << r.alphaShift;
        for (int shift = 0; shift < 32; shift += 8) {
            if (shift == r.alphaShift) continue;
            int c[4] = {int((px[0] >> shift) & 0xFF), int((px[1] >> shift) & 0xFF), int((px[2] >> shift) & 0xFF),
                        int((px[3] >> shift) & 0xFF)};
            out |= static_cast<uint32_t>(ClampInt(mix(c), 0, 255)) << shift;
        }
        std::memcpy(j->target + (static_cast<size_t>(Y) * j->targetRow + X) * 4, &out, 4);
    }
    if (r.plane) {
        int c[4] = {r.PlaneByte(x0, y0), r.PlaneByte(x1, y0), r.PlaneByte(x0, y1), r.PlaneByte(x1, y1)};
        j->planeTarget[static_cast<size_t>(Y) * j->planeTargetRow + X] = static_cast<uint8_t>(ClampInt(mix(c), 0, 255));
    }
    if (m) {
        if (r.mask) PutBit(m, X, r.SourceBit(x0, y0));
        else if (!r.plane) PutBit(m, X, 1);
    }
}

}  // namespace

int ClipAffineSpan(const double inverse[6], int y, int sourceWidth, int sourceHeight, double minX, double maxX,
                   int targetWidth, int *start, int *end) {
    int lo = std::max(0, static_cast<int>(std::ceil(minX - 0.5)));
    int hi = std::min(targetWidth - 1, static_cast<int>(std::floor(maxX + 0.5)));
    // Each axis: source = s0 + slope * X must lie in [0, limit).
    const double axes[2][3] = {{inverse[2] * y + inverse[4], inverse[0], double(sourceWidth)},
                               {inverse[3] * y + inverse[5], inverse[1], double(sourceHeight)}};
    for (const auto &a : axes) {
        double s0 = a[0], slope = a[1], limit = a[2];
        if (std::fabs(slope) > 1e-10) {
            double t1 = -s0 / slope, t2 = (limit - s0) / slope;
            if (slope < 0) std::swap(t1, t2);
            // One column of slack either way; the exact ends are found below.
            double dlo = std::max(double(lo), std::ceil(t1) - 1), dhi = std::min(double(hi), std::floor(t2) + 1);
            if (!(dlo <= dhi)) return 0;
            lo = static_cast<int>(dlo);
            hi = static_cast<int>(dhi);
        } else if (!(s0 >= 0 && s0 < limit)) {
            return 0;  // the whole row maps outside the source on this axis
        }
    }
    while (lo <= hi && !PointInside(inverse, lo, y, sourceWidth, sourceHeight)) lo++;
    while (hi >= lo && !PointInside(inverse, hi, y, sourceWidth, sourceHeight)) hi--;
    *start = lo;
    *end = hi;
    return lo <= hi;
}

void TransformRowsAffine(lvScaleJob *job) {
    const double *t = job->transform;
    const int w = job->sourceWidth, h = job->sourceHeight;
    if (w <= 0 || h <= 0 || job->targetWidth <= 0 || job->targetHeight <= 0) return;
    double det = t[0] * t[3] - t[2] * t[1];
    if (det == 0 || !std::isfinite(det)) return;
    lvAffineBox box = MapSourceBox(t, w, h);
    int first = std::max(0, static_cast<int>(std::ceil(box.minY - 0.5)));
    int last = std::min(job->targetHeight - 1, static_cast<int>(std::floor(std::min(box.maxY, 1e9) + 0.5)));
    double a = t[3] / det, b = -t[1] / det, c = -t[2] / det, d = t[0] / det;
    const double inv[6] = {a, b, c, d, -a * t[4] - c * t[5], -b * t[4] - d * t[5]};
    lvAffineRows r{job, AlphaShift(job->format), job->source && job->target, job->maskSource != nullptr,
                   job->planeSource && job->planeTarget};
    bool smooth = job->smooth && (!r.rgb || job->bytesPerPixel == 4);
    const bool fastNearest = !smooth && r.rgb && job->bytesPerPixel == 4 && !r.mask && !r.plane;
    const bool fastBilinear = smooth && r.rgb && !r.mask && !r.plane;
    const uint32_t *src = reinterpret_cast<const uint32_t *>(job->source);
    // 32-bit pixels only, every point inside: copy.
    auto nearestSpan = [&](int Y, int s, int e) {
        const double rowX = inv[2] * Y + inv[4], rowY = inv[3] * Y + inv[5];
        uint32_t *d = reinterpret_cast<uint32_t *>(job->target) + static_cast<size_t>(Y) * job->targetRow;
        for (int X = s; X <= e; X++) {
            int sx = std::min(static_cast<int>(inv[0] * X + rowX), w - 1);
            int sy = std::min(static_cast<int>(inv[1] * X + rowY), h - 1);
            d[X] = src[static_cast<size_t>(sy) * job->sourceRow + sx];
        }
    };
    // No mask and no byte plane: all four neighbours count.
    auto bilinearSpan = [&](int Y, int s, int e) {
        const double rowX = inv[2] * Y + inv[4], rowY = inv[3] * Y + inv[5];
        uint32_t *d = reinterpret_cast<uint32_t *>(job->target) + static_cast<size_t>(Y) * job->targetRow;
        const uint32_t alpha = 0xFFu << r.alphaShift;
        for (int X = s; X <= e; X++) {
            double x = inv[0] * X + rowX, y = inv[1] * X + rowY;
            // Points of the span lie inside the source: x, y >= 0, so truncation is floor.
            int tx = static_cast<int>(x), ty = static_cast<int>(y);
            int x0 = std::min(tx, w - 1), y0 = std::min(ty, h - 1);
            int x1 = std::min(x0 + 1, w - 1), y1 = std::min(y0 + 1, h - 1);
            double fx = x - tx, fy = y - ty;
            const uint32_t *r0 = src + static_cast<size_t>(y0) * job->sourceRow;
            const uint32_t *r1 = src + static_cast<size_t>(y1) * job->sourceRow;
            uint32_t p00 = r0[x0], p10 = r0[x1], p01 = r1[x0], p11 = r1[x1];
#if defined(__SSE2__)
            // The four byte lanes two at a time, in the scalar expression's order.
            const __m128i zero = _mm_setzero_si128();
            auto lanes = [&](uint32_t p) {
                return _mm_unpacklo_epi16(_mm_unpacklo_epi8(_mm_cvtsi32_si128(static_cast<int>(p)), zero), zero);
            };
            __m128i q00 = lanes(p00), q10 = lanes(p10), q01 = lanes(p01), q11 = lanes(p11);
            const __m128d vfx = _mm_set1_pd(fx), vgx = _mm_set1_pd(1 - fx), vfy = _mm_set1_pd(fy),
                          vgy = _mm_set1_pd(1 - fy), half = _mm_set1_pd(0.5);
            auto mix = [&](__m128i a00, __m128i a10, __m128i a01, __m128i a11) {
                __m128d top = _mm_add_pd(_mm_mul_pd(vgx, _mm_cvtepi32_pd(a00)), _mm_mul_pd(vfx, _mm_cvtepi32_pd(a10)));
                __m128d bottom =
                    _mm_add_pd(_mm_mul_pd(vgx, _mm_cvtepi32_pd(a01)), _mm_mul_pd(vfx, _mm_cvtepi32_pd(a11)));
                return _mm_cvttpd_epi32(_mm_add_pd(_mm_add_pd(half, _mm_mul_pd(vgy, top)), _mm_mul_pd(vfy, bottom)));
            };
            __m128i low = mix(q00, q10, q01, q11);
            __m128i high = mix(_mm_srli_si128(q00, 8), _mm_srli_si128(q10, 8), _mm_srli_si128(q01, 8),
                               _mm_srli_si128(q11, 8));
            __m128i v32 = _mm_unpacklo_epi64(low, high);
            __m128i v16 = _mm_packs_epi32(v32, zero);
            uint32_t out = static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_packus_epi16(v16, zero)));
            out = (out & ~(0xFFu << r.alphaShift)) | alpha;
#else
            uint32_t out = alpha;
            for (int shift = 0; shift < 32; shift += 8) {
                if (shift == r.alphaShift) continue;
                int c00 = (p00 >> shift) & 0xFF, c10 = (p10 >> shift) & 0xFF, c01 = (p01 >> shift) & 0xFF,
                    c11 = (p11 >> shift) & 0xFF;
                int v = static_cast<int>(0.5 + (1 - fy) * ((1 - fx) * c00 + fx * c10) + fy * ((1 - fx) * c01 + fx * c11));
                out |= static_cast<uint32_t>(ClampInt(v, 0, 255)) << shift;
            }
#endif
            d[X] = out;
        }
    };
    auto generalSpan = [&](int Y, int s, int e) {
        for (int X = s; X <= e; X++) {
            double x, y;
            InversePoint(inv, X, Y, &x, &y);
            if (smooth) AffineBilinear(r, x, y, X, Y);
            else AffineNearest(r, ClampInt(static_cast<int>(x), 0, w - 1), ClampInt(static_cast<int>(y), 0, h - 1), X, Y);
        }
    };
    // Bands of rows walked in column tiles keep the rotated source reads in cache.
    constexpr int Band = 32, Tile = 64;
    int spanStart[Band], spanEnd[Band];
    for (int y0 = first; y0 <= last; y0 += Band) {
        int rows = std::min(Band, last - y0 + 1), lo = job->targetWidth, hi = -1;
        for (int k = 0; k < rows; k++) {
            if (!ClipAffineSpan(inv, y0 + k, w, h, box.minX, box.maxX, job->targetWidth, &spanStart[k], &spanEnd[k])) {
                spanStart[k] = 1, spanEnd[k] = 0;
                continue;
            }
            lo = std::min(lo, spanStart[k]);
            hi = std::max(hi, spanEnd[k]);
            if ((fastNearest || fastBilinear) && job->maskTarget)
                SetMaskSpan(job->maskTarget + static_cast<size_t>(y0 + k) * job->maskTargetRow, spanStart[k], spanEnd[k]);
        }
        for (int x0 = lo; x0 <= hi; x0 += Tile)
            for (int k = 0; k < rows; k++) {
                int s = std::max(x0, spanStart[k]), e = std::min(x0 + Tile - 1, spanEnd[k]);
                if (s > e) continue;
                if (fastNearest) nearestSpan(y0 + k, s, e);
                else if (fastBilinear) bilinearSpan(y0 + k, s, e);
                else generalSpan(y0 + k, s, e);
            }
    }
}

// ---- Quarter turns ----------------------------------------------------------

namespace {

// Target (j, i) of a W x H source turned once: turn 1 reads source
// (W - 1 - i, j), turn 2 reads (i, H - 1 - j). Tiles keep both sides in cache.
template <typename T>
void TurnPlane(const uint8_t *source, int sourceRowBytes, uint8_t *target, int targetRowBytes, int W, int H,
               int turn) {
    const int B = 64;
    for (int i0 = 0; i0 < W; i0 += B)
        for (int j0 = 0; j0 < H; j0 += B) {
            int i1 = std::min(W, i0 + B), j1 = std::min(H, j0 + B);
            for (int i = i0; i < i1; i++) {
                T *d = reinterpret_cast<T *>(target + static_cast<size_t>(i) * targetRowBytes);
                if (turn == 1) {
                    const uint8_t *col = source + static_cast<size_t>(W - 1 - i) * sizeof(T);
                    for (int j = j0; j < j1; j++)
                        d[j] = *reinterpret_cast<const T *>(col + static_cast<size_t>(j) * sourceRowBytes);
                } else {
                    const uint8_t *col = source + static_cast<size_t>(i) * sizeof(T);
                    for (int j = j0; j < j1; j++)
                        d[j] = *reinterpret_cast<const T *>(col + static_cast<size_t>(H - 1 - j) * sourceRowBytes);
                }
            }
        }
}

struct Pixel24 {
    uint8_t b[3];
};

}  // namespace

void RotateQuarterTurn(lvScaleJob *job) {
    const int W = job->sourceWidth, H = job->sourceHeight, bpp = job->bytesPerPixel;
    if (job->source && job->target) {
        int sr = job->sourceRow * bpp, tr = job->targetRow * bpp;
        if (bpp == 4) TurnPlane<uint32_t>(job->source, sr, job->target, tr, W, H, job->turn);
        else if (bpp == 3) TurnPlane<Pixel24>(job->source, sr, job->target, tr, W, H, job->turn);
        else if (bpp == 2) TurnPlane<uint16_t>(job->source, sr, job->target, tr, W, H, job->turn);
    }
    if (job->planeSource && job->planeTarget)
        TurnPlane<uint8_t>(job->planeSource, job->planeSourceRow, job->planeTarget, job->planeTargetRow, W, H,
                           job->turn);
    if (job->maskSource && job->maskTarget)
        for (int i = 0; i < W; i++) {
            uint8_t *d = job->maskTarget + static_cast<size_t>(i) * job->maskTargetRow;
            for (int j = 0; j < H; j++) {
                int x = job->turn == 1 ? W - 1 - i : i, y = job->turn == 1 ? j : H - 1 - j;
                if (BitOf(job->maskSource + static_cast<size_t>(job->sourceY + y) * job->maskSourceRow,
                          job->sourceX + x))
                    d[j >> 3] = static_cast<uint8_t>(d[j >> 3] | (0x80 >> (j & 7)));
            }
        }
}

// ---- Mirrors ----------------------------------------------------------------

namespace {

void MirrorRows(uint8_t *p, int rowBytes, int width, int height, int bpp, int horizontal) {
    if (horizontal) {
        uint8_t tmp[8];
        for (int y = 0; y < height; y++) {
            uint8_t *r = p + static_cast<size_t>(y) * rowBytes;
            for (int a = 0, b = width - 1; a < b; a++, b--) {
                std::memcpy(tmp, r + a * bpp, bpp);
                std::memcpy(r + a * bpp, r + b * bpp, bpp);
                std::memcpy(r + b * bpp, tmp, bpp);
            }
        }
        return;
    }
    size_t n = static_cast<size_t>(width) * bpp;
    for (int a = 0, b = height - 1; a < b; a++, b--) {
        uint8_t *ra = p + static_cast<size_t>(a) * rowBytes, *rb = p + static_cast<size_t>(b) * rowBytes;
        for (size_t k = 0; k < n; k++) std::swap(ra[k], rb[k]);
    }
}

void MirrorMaskRows(uint8_t *p, int rowBytes, int width, int height, int horizontal) {
    if (!horizontal) {
        MirrorRows(p, rowBytes, rowBytes, height, 1, 0);
        return;
    }
    // Bit by bit, so that the padding bits after the width stay as they were.
    for (int y = 0; y < height; y++) {
        uint8_t *r = p + static_cast<size_t>(y) * rowBytes;
        for (int a = 0, b = width - 1; a < b; a++, b--) {
            int ba = BitOf(r, a), bb = BitOf(r, b);
            PutBit(r, a, bb);
            PutBit(r, b, ba);
        }
    }
}

}  // namespace

int MirrorBitmaps(lvBitMapHandle *rgb, lvBitMapHandle *mask, lvBitMapHandle *plane, int width, int height,
                  int horizontal) {
    if (width <= 0 || height <= 0) return 0;
    lvScopedLock lock(rgb, 0);
    if (rgb && !lock) return ERR_LOCKBMAP;
    uint8_t *mp = nullptr, *pp = nullptr;
    int mrow = 0, prow = 0;
    uintptr_t mt = mask ? GetPlanePixels(mask, &mp, &mrow, 1) : 0;
    uintptr_t pt = plane ? GetPlanePixels(plane, &pp, &prow, 1) : 0;
    int rc = 0;
    if ((mask && !mt) || (plane && !pt)) rc = ERR_LOCKBMAP;
    else {
        if (rgb) {
            int w = std::min(width, lock.lock.width ? lock.lock.width : width);
            int h = std::min(height, lock.lock.height ? lock.lock.height : height);
            MirrorRows(lock.lock.pixels, lock.lock.rowLength * lock.lock.bytesPerPixel, w, h, lock.lock.bytesPerPixel,
                       horizontal);
        }
        if (mt) MirrorMaskRows(mp, mrow, std::min(width, mask->width), std::min(height, mask->height), horizontal);
        if (pt) MirrorRows(pp, prow, std::min(width, plane->width), std::min(height, plane->height), 1, horizontal);
    }
    if (mt) ReleasePlanePixels(mt);
    if (pt) ReleasePlanePixels(pt);
    return rc;
}

// ---- Sizes and right angles -------------------------------------------------

void BuildRotationMatrix(double scaleX, double scaleY, double angle, lvMatrix2D *m) {
    *m = {scaleX, 0, 0, scaleY};
    if (angle == 0) return;
    double t = (360.0 - std::fmod(angle, 360.0)) * (M_PI / 180.0);
    double c = std::cos(t), s = std::sin(t);
    *m = {scaleX * c, scaleX * s, -scaleY * s, scaleY * c};
}

void DetectRightAngleMatrix(const lvMatrix2D *matrix, int *turn, int *fullTurn, int *halfTurn) {
    static const double angles[7] = {90, 180, 270, 360, -90, -180, -270};
    static const int kinds[7] = {1, 3, 2, 4, 2, 3, 1};  // 1/2 turn, 3 half, 4 full
    if (!DrawingState.rightAnglesReady) {
        for (int k = 0; k < 7; k++) {
            lvMatrix2D m;
            BuildRotationMatrix(1, 1, angles[k], &m);
            const double v[4] = {m.sx, m.rx, m.ry, m.sy};
            std::memcpy(DrawingState.rightAngles[k], v, sizeof v);
        }
        DrawingState.rightAnglesReady = 1;
    }
    *turn = *fullTurn = *halfTurn = 0;
    const double v[4] = {matrix->sx, matrix->rx, matrix->ry, matrix->sy};
    for (int k = 0; k < 7; k++) {
        if (std::memcmp(v, DrawingState.rightAngles[k], sizeof v) != 0) continue;
        if (kinds[k] == 4) *fullTurn = 1;
        else if (kinds[k] == 3) *halfTurn = 1;
        else *turn = kinds[k];
        return;
    }
}

namespace {

void TargetCorners(int w, int h, double *corners) {
    if (!corners) return;
    const double c[8] = {0, 0, double(w - 1), 0, double(w - 1), double(h - 1), 0, double(h - 1)};
    std::memcpy(corners, c, sizeof c);
}

bool HasRotation(const lvMatrix2D *m) { return m->rx != 0 || m->ry != 0 || m->sx < 0 || m->sy < 0; }

}  // namespace

void GetTransformedImageSize(const lvMatrix2D *m, int width, int height, int *newWidth, int *newHeight, double *minX,
                             double *minY, double *corners) {
    const double xs[4] = {0, double(width), double(width), 0}, ys[4] = {0, 0, double(height), double(height)};
    double lx = 1e300, ly = 1e300, hx = -1e300, hy = -1e300, c[8];
    for (int k = 0; k < 4; k++) {
        c[2 * k] = m->sx * xs[k] + m->ry * ys[k];
        c[2 * k + 1] = m->rx * xs[k] + m->sy * ys[k];
        lx = std::min(lx, c[2 * k]);
        hx = std::max(hx, c[2 * k]);
        ly = std::min(ly, c[2 * k + 1]);
        hy = std::max(hy, c[2 * k + 1]);
    }
    double w = std::ceil(hx - lx + 1), h = std::ceil(hy - ly + 1);
    // Sizes stay within what a bitmap can have; nonsense matrices give 1.
    *newWidth = (w >= 1 && w < 1e8) ? static_cast<int>(w) : 1;
    *newHeight = (h >= 1 && h < 1e8) ? static_cast<int>(h) : 1;
    if (minX) *minX = lx;
    if (minY) *minY = ly;
    if (corners) std::memcpy(corners, c, sizeof c);
}

int CheckMatrixResult(const lvMatrix2D *m, int width, int height) {
    if (!std::isfinite(m->sx) || !std::isfinite(m->rx) || !std::isfinite(m->ry) || !std::isfinite(m->sy))
        return ERR_WRONGUSAGE;
    // A matrix without an inverse folds the picture onto a line: nothing to sample back.
    double determinant = m->sx * m->sy - m->rx * m->ry;
    if (!std::isfinite(determinant) || determinant == 0) return ERR_WRONGUSAGE;
    const double xs[4] = {0, double(width), double(width), 0}, ys[4] = {0, 0, double(height), double(height)};
    double lx = 0, ly = 0, hx = 0, hy = 0;
    for (int k = 0; k < 4; k++) {
        double X = m->sx * xs[k] + m->ry * ys[k], Y = m->rx * xs[k] + m->sy * ys[k];
        lx = std::min(lx, X), hx = std::max(hx, X), ly = std::min(ly, Y), hy = std::max(hy, Y);
    }
    // The same bound as the size helpers, whose larger results they cannot make.
    double w = std::ceil(hx - lx + 1), h = std::ceil(hy - ly + 1);
    if (!(w < 1e8 && h < 1e8)) return ERR_BITMAP;
    return 0;
}

void ComputeScaledSize(const lvMatrix2D *m, int width, int height, int *newWidth, int *newHeight, double *corners) {
    if (HasRotation(m)) {
        GetTransformedImageSize(m, width, height, newWidth, newHeight, nullptr, nullptr, corners);
        return;
    }
    int w = width, h = height;
    if (m->sx != 1 || m->sy != 1) {
        double fx = 0, fy = 0;
        int bw = 0, bh = 0, scaledW = 0, scaledH = 0;
        const lvDisplayScaleServices &d = NeighbourServices.displays;
        if (d.GetScaledBackground(d.context, &fx, &fy, &bw, &bh, &scaledW, &scaledH) &&
            fx == m->sx && fy == m->sy && bw == width && bh == height) {
            w = scaledW;
            h = scaledH;
        } else {
            double dw = std::ceil(m->sx * width), dh = std::ceil(m->sy * height);
            w = dw < 1e8 ? static_cast<int>(dw) : 1;
            h = dh < 1e8 ? static_cast<int>(dh) : 1;
        }
    }
    *newWidth = std::max(1, w);
    *newHeight = std::max(1, h);
    TargetCorners(*newWidth, *newHeight, corners);
}

void TransformRectBounds(double offsetX, double offsetY, double x, double y, double width, double height,
                         double anchorWidth, double anchorHeight, const double anchor[2], const lvMatrix2D *matrix,
                         int *newX, int *newY, int *newWidth, int *newHeight, double *corners) {
    int bw, bh;
    GetTransformedRectBounds(offsetX, offsetY, x, y, width, height, anchorWidth, anchorHeight, anchor[0], anchor[1],
                             matrix, newX, newY, &bw, &bh);
    int turn, full, half;
    DetectRightAngleMatrix(matrix, &turn, &full, &half);
    int w = static_cast<int>(width), h = static_cast<int>(height);
    if (full || half || turn) {
        if (turn) std::swap(w, h);
        *newWidth = std::max(1, w);
        *newHeight = std::max(1, h);
        TargetCorners(*newWidth, *newHeight, corners);
        return;
    }
    ComputeScaledSize(matrix, w, h, newWidth, newHeight, corners);
}

// ---- Picture sets -----------------------------------------------------------

namespace {

// Plane pixels held for one operation.
struct lvPlaneHold {
    uint8_t *pixels = nullptr;
    int rowBytes = 0;
    uintptr_t token = 0;
    lvPlaneHold(lvBitMapHandle *h, int write) {
        if (h) token = GetPlanePixels(h, &pixels, &rowBytes, write);
    }
    ~lvPlaneHold() {
        if (token) ReleasePlanePixels(token);
    }
    lvPlaneHold(const lvPlaneHold &) = delete;
    lvPlaneHold &operator=(const lvPlaneHold &) = delete;
};

// Bitmaps made by one call: freed unless handed out.
struct lvMadeSet {
    lvBitMapHandle *rgb = nullptr, *mask = nullptr, *alpha = nullptr, *pens = nullptr;
    ~lvMadeSet() {
        FreeBitmapHandle(rgb);
        FreeBitmapHandle(mask);
        FreeBitmapHandle(alpha);
        FreeBitmapHandle(pens);
    }
    void HandOut(lvBitMapHandle **r, lvBitMapHandle **m, lvBitMapHandle **a, lvBitMapHandle **p) {
        if (rgb && r) *r = rgb, rgb = nullptr;
        if (mask && m) *m = mask, mask = nullptr;
        if (alpha && a) *a = alpha, alpha = nullptr;
        if (pens && p) *p = pens, pens = nullptr;
    }
};

// A video source on an adapter with video bitmaps cannot be locked: its
// pixels (and its alpha, when the adapter reports one) are read back into a
// plain bitmap first.
struct lvReadBack {
    lvBitMapHandle *rgb = nullptr, *alpha = nullptr;
    ~lvReadBack() {
        FreeBitmapHandle(rgb);
        FreeBitmapHandle(alpha);
    }
    int Take(lvBitMapHandle **source, lvBitMapHandle **sourceAlpha) {
        lvBitMapHandle *s = *source;
        if (!s || !s->video || !AdapterMakesVideoBitmaps()) return 0;
        rgb = AllocRgbBitmap(s->width, s->height, 0, nullptr);
        if (!rgb) return ERR_BITMAP;
        int rc = ReadVideoBitmapPixels(s, rgb, s->width, s->height, *sourceAlpha ? nullptr : &alpha);
        if (rc) return rc;
        *source = rgb;
        if (alpha) *sourceAlpha = alpha;
        return 0;
    }
};

// Tries the adapter's own video scaling or transform; 1 with *rc set when the
// matter is settled (a video bitmap made, or an error without fallback).
bool TryVideoPath(lvBitMapHandle *rgb, int sourceWidth, int sourceHeight, int width, int height, int smooth,
                  const double *matrix, void *display, lvBitMapHandle **out, int *rc) {
    uint32_t cap = matrix ? 0x10 : 4;
    if (!rgb || !rgb->video || !(QueryBitmapCaps(cap) & cap) || width <= 0 || height <= 0) return false;
    lvVideoSource src{};
    src.rgb = rgb;
    src.sourceWidth = sourceWidth;
    src.sourceHeight = sourceHeight;
    src.smooth = smooth;
    src.matrix = matrix;
    src.transform = matrix ? 1 : 0;
    src.scale = matrix ? 0 : 1;
    src.window = display;
    int aux = 0;
    void *video = CreateVideoBitmapHandle(width, height, BMF_VIDEO, &aux, &src);
    if (video) {
        lvBitMapHandle *h = WrapVideoBitmap(width, height, video, aux);
        *rc = h ? 0 : ERR_MEM;
        if (h) *out = h;
        return true;
    }
    if (RasterState.adapter->flags & ADAPTER_VIDEOFALLBACK) return false;
    *rc = ERR_BITMAP;
    return true;
}

bool RectInside(lvBitMapHandle *h, int x, int y, int w, int hgt) {
    return !h || (x >= 0 && y >= 0 && w <= h->width - x && hgt <= h->height - y);
}

// Fills the RGB side of a job from a locked source and target.
void SetJobRgb(lvScaleJob *job, const lvBitMapLock &s, int sx, int sy, const lvBitMapLock &t) {
    job->source = s.pixels + (static_cast<size_t>(sy) * s.rowLength + sx) * s.bytesPerPixel;
    job->sourceRow = s.rowLength;
    job->target = t.pixels;
    job->targetRow = t.rowLength;
    job->format = s.format;
    job->bytesPerPixel = s.bytesPerPixel;
}

void SetJobPlane(lvScaleJob *job, const lvPlaneHold &s, int sx, int sy, const lvPlaneHold &t) {
    job->planeSource = s.pixels + static_cast<size_t>(sy) * s.rowBytes + sx;
    job->planeSourceRow = s.rowBytes;
    job->planeTarget = t.pixels;
    job->planeTargetRow = t.rowBytes;
}

// Scales or transforms one further byte plane on its own (nearest): the
// alpha plane of a picture that also has pens.
int RunPlaneOnly(lvScaleJob base, lvBitMapHandle *source, int sx, int sy, lvBitMapHandle *target,
                 void (*run)(lvScaleJob *)) {
    lvPlaneHold s(source, 0), t(target, 1);
    if (!s.token || !t.token) return ERR_LOCKBMAP;
    base.source = nullptr;
    base.target = nullptr;
    base.maskSource = nullptr;
    base.maskTarget = nullptr;
    base.smooth = 0;
    SetJobPlane(&base, s, sx, sy, t);
    run(&base);
    return 0;
}

void RunScale(lvScaleJob *job) { ScaleRowsInterpolated(job); }

}  // namespace

int ScaleImage(lvBitMapHandle *rgb, lvBitMapHandle *mask, lvBitMapHandle *alpha, lvBitMapHandle *pens, int sourceX,
               int sourceY, lvBitMapHandle *targetRgb, lvBitMapHandle *targetPlane, int sourceWidth, int sourceHeight,
               int targetWidth, int targetHeight, int smooth, void *display, lvBitMapHandle **newRgb,
               lvBitMapHandle **newMask, lvBitMapHandle **newAlpha, lvBitMapHandle **newPens) {
    if (pens) smooth = 0;
    int rc = 0;
    lvBitMapHandle *video = nullptr;
    if (!targetRgb && TryVideoPath(rgb, sourceWidth, sourceHeight, targetWidth, targetHeight, smooth, nullptr,
                                   display, &video, &rc)) {
        if (!rc && newRgb) *newRgb = video;
        else FreeBitmapHandle(video);
        return rc;
    }
    if (targetWidth <= 0 || targetHeight <= 0) return 0;
    if (sourceWidth <= 0 || sourceHeight <= 0) return ERR_WRONGUSAGE;
    if ((rc = EnsureScaleBuffers(targetWidth, targetHeight))) return rc;
    lvReadBack readBack;
    if ((rc = readBack.Take(&rgb, &alpha))) return rc;
    for (lvBitMapHandle *h : {rgb, mask, alpha, pens})
        if (!RectInside(h, sourceX, sourceY, sourceWidth, sourceHeight)) return ERR_WRONGUSAGE;
    lvBitMapHandle *plane = pens ? pens : alpha;
    lvMadeSet made;
    lvBitMapHandle *tRgb = targetRgb, *tPlane = targetPlane, *tMask = nullptr;
    if (!targetRgb && !targetPlane) {
        if (rgb && !(made.rgb = tRgb = AllocRgbBitmap(targetWidth, targetHeight, 0, nullptr))) return ERR_BITMAP;
        if (mask && !(made.mask = tMask = AllocMaskBitmap(made.rgb, targetWidth, targetHeight, 0, nullptr, 0)))
            return ERR_ALLOCMASK;
        if (alpha && !(made.alpha = AllocAlphaBitmap(targetWidth, targetHeight, 0, nullptr, 0))) return ERR_ALLOCALPHA;
        if (pens && !(made.pens = AllocChunkyBitmap(targetWidth, targetHeight, 0))) return ERR_ALLOCCHUNKY;
        tPlane = pens ? made.pens : made.alpha;
    } else if (!RectInside(targetRgb, 0, 0, targetWidth, targetHeight) ||
               !RectInside(targetPlane, 0, 0, targetWidth, targetHeight)) {
        return ERR_WRONGUSAGE;
    }
    lvScaleJob job{};
    job.sourceX = sourceX;
    job.sourceY = sourceY;
    job.sourceWidth = sourceWidth;
    job.sourceHeight = sourceHeight;
    job.targetWidth = targetWidth;
    job.targetHeight = targetHeight;
    job.smooth = smooth;
    job.xTable = DrawingState.scale.xTable;
    job.yTable = DrawingState.scale.yTable;
    {
        lvScopedLock s(tRgb ? rgb : nullptr, LOCK_READONLY), t(rgb ? tRgb : nullptr, 0);
        lvPlaneHold ms(tMask ? mask : nullptr, 0), mt(tMask, 1);
        lvPlaneHold ps(tPlane ? plane : nullptr, 0), pt(plane ? tPlane : nullptr, 1);
        if ((rgb && tRgb && (!s || !t)) || (tMask && (!ms.token || !mt.token)) ||
            (plane && tPlane && (!ps.token || !pt.token)))
            return ERR_LOCKBMAP;
        if (s && t) {
            if (s.lock.bytesPerPixel != t.lock.bytesPerPixel) return ERR_WRONGUSAGE;
            SetJobRgb(&job, s.lock, sourceX, sourceY, t.lock);
        }
        if (mt.token) {
            job.maskSource = ms.pixels;
            job.maskSourceRow = ms.rowBytes;
            job.maskTarget = mt.pixels;
            job.maskTargetRow = mt.rowBytes;
        }
        if (pt.token) SetJobPlane(&job, ps, sourceX, sourceY, pt);
        ScaleRowsInterpolated(&job);
    }
    // A picture with both pens and alpha: the alpha plane follows by nearest.
    if (pens && alpha && made.alpha && (rc = RunPlaneOnly(job, alpha, sourceX, sourceY, made.alpha, RunScale)))
        return rc;
    made.HandOut(newRgb, newMask, newAlpha, newPens);
    return 0;
}

int TransformImageAffine(lvBitMapHandle *rgb, lvBitMapHandle *mask, lvBitMapHandle *alpha, lvBitMapHandle *pens,
                         int sourceX, int sourceY, int width, int height, const lvMatrix2D *matrix, int smooth,
                         int transparentPen, void *display, lvImageSetOut *out) {
    if (pens) smooth = 0;
    if (width <= 0 || height <= 0) return ERR_WRONGUSAGE;
    int nw, nh;
    double minX, minY;
    GetTransformedImageSize(matrix, width, height, &nw, &nh, &minX, &minY, nullptr);
    int rc = 0;
    lvBitMapHandle *video = nullptr;
    const double m4[4] = {matrix->sx, matrix->rx, matrix->ry, matrix->sy};
    if (TryVideoPath(rgb, width, height, nw, nh, smooth, m4, display, &video, &rc)) {
        if (rc) return rc;
        *out = lvImageSetOut{};
        out->rgb = video;
        out->width = nw;
        out->height = nh;
        return 0;
    }
    int turn, full, half;
    DetectRightAngleMatrix(matrix, &turn, &full, &half);
    lvReadBack readBack;
    if ((rc = readBack.Take(&rgb, &alpha))) return rc;
    for (lvBitMapHandle *h : {rgb, mask, alpha, pens})
        if (!RectInside(h, sourceX, sourceY, width, height)) return ERR_WRONGUSAGE;
    lvMadeSet made;
    if (full || half) {
        lvPictureSet src{rgb, mask, alpha, pens, nullptr}, dup{};
        if ((rc = DuplicateImage(&src, sourceX, sourceY, width, height, 0, 0, display, &dup))) return rc;
        made.rgb = dup.rgb, made.mask = dup.mask, made.alpha = dup.alpha, made.pens = dup.chunky;
        if (half) {
            lvBitMapHandle *plane = made.pens ? made.pens : made.alpha;
            for (int mode : {0, 1}) {
                if ((rc = MirrorBitmaps(made.rgb, made.mask, plane, width, height, mode))) return rc;
                if (made.pens && made.alpha && (rc = MirrorBitmaps(nullptr, nullptr, made.alpha, width, height, mode)))
                    return rc;
            }
        }
        nw = width;
        nh = height;
    } else {
        if (turn) nw = height, nh = width;
        bool clearPlanes = !turn;
        if (rgb && !(made.rgb = AllocRgbBitmap(nw, nh, 0, nullptr))) return ERR_BITMAP;
        if (alpha && !(made.alpha = AllocAlphaBitmap(nw, nh, clearPlanes, nullptr, 0))) return ERR_ALLOCALPHA;
        if (pens && !(made.pens = AllocChunkyBitmap(nw, nh, clearPlanes))) return ERR_ALLOCCHUNKY;
        // Uncovered target pixels are transparent: without a byte plane a mask says so.
        if ((mask || (!turn && !alpha && !pens)) &&
            !(made.mask = AllocMaskBitmap(made.rgb, nw, nh, 1, nullptr, 0)))
            return ERR_ALLOCMASK;
        // Uncovered pens are the transparent pen; an alpha plane alone stays 0 (transparent).
        if (!turn && transparentPen != -1 && transparentPen != 0 && (pens || (alpha && rgb)))
            FillBytePlaneRect(pens ? made.pens : made.alpha, 0, 0, nw, nh, transparentPen);
        lvBitMapHandle *plane = pens ? pens : alpha, *tPlane = pens ? made.pens : made.alpha;
        lvScaleJob job{};
        job.sourceX = sourceX;
        job.sourceY = sourceY;
        job.sourceWidth = width;
        job.sourceHeight = height;
        job.targetWidth = nw;
        job.targetHeight = nh;
        job.smooth = smooth;
        job.turn = turn;
        const double t6[6] = {matrix->sx, matrix->rx, matrix->ry, matrix->sy, -minX, -minY};
        std::memcpy(job.transform, t6, sizeof t6);
        void (*run)(lvScaleJob *) = turn ? RotateQuarterTurn : TransformRowsAffine;
        {
            lvScopedLock s(rgb, LOCK_READONLY), t(made.rgb, 0);
            lvPlaneHold ms(made.mask ? mask : nullptr, 0), mt(made.mask, 1);
            lvPlaneHold ps(plane, 0), pt(tPlane, 1);
            if ((rgb && (!s || !t)) || (made.mask && !mt.token) || (mask && made.mask && !ms.token) ||
                (plane && (!ps.token || !pt.token)))
                return ERR_LOCKBMAP;
            if (s && t) {
                if (s.lock.bytesPerPixel != t.lock.bytesPerPixel) return ERR_WRONGUSAGE;
                SetJobRgb(&job, s.lock, sourceX, sourceY, t.lock);
                if (!turn)
                    for (int y = 0; y < nh; y++)  // uncovered pixels get a defined value
                        std::memset(t.lock.pixels + static_cast<size_t>(y) * t.lock.rowLength * t.lock.bytesPerPixel,
                                    0, static_cast<size_t>(nw) * t.lock.bytesPerPixel);
            }
            if (mt.token) {
                job.maskSource = ms.pixels;
                job.maskSourceRow = ms.rowBytes;
                job.maskTarget = mt.pixels;
                job.maskTargetRow = mt.rowBytes;
            }
            if (pt.token) SetJobPlane(&job, ps, sourceX, sourceY, pt);
            run(&job);
        }
        if (pens && alpha && (rc = RunPlaneOnly(job, alpha, sourceX, sourceY, made.alpha, run))) return rc;
    }
    *out = lvImageSetOut{};
    made.HandOut(&out->rgb, &out->mask, &out->alpha, &out->pens);
    out->width = nw;
    out->height = nh;
    return 0;
}

int TransformImageSet(void *context, int sourceKind, void *imageSource, lvBitMapHandle *rgb, lvBitMapHandle *mask,
                      lvBitMapHandle *alpha, lvBitMapHandle *pens, int sourceX, int sourceY, int positionX,
                      int positionY, int width, int height, const double anchor[2], const lvMatrix2D *matrix,
                      int smooth, int transparentPen, void *display, lvImageSetOut *out) {
    int nx, ny, nw, nh;
    TransformRectBounds(positionX, positionY, 0, 0, width, height, width, height, anchor, matrix, &nx, &ny, &nw, &nh,
                        nullptr);
    bool identity = matrix->sx == 1 && matrix->rx == 0 && matrix->ry == 0 && matrix->sy == 1;
    lvImageSetOut result{};
    int rc;
    auto duplicate = [&]() {
        lvPictureSet src{rgb, mask, alpha, pens, nullptr}, dup{};
        int r = DuplicateImage(&src, sourceX, sourceY, width, height, 0, 0, display, &dup);
        if (!r) {
            result.rgb = dup.rgb, result.mask = dup.mask, result.alpha = dup.alpha, result.pens = dup.chunky;
            result.width = width;
            result.height = height;
        }
        return r;
    };
    if (sourceKind == TRANSFORM_IMAGESOURCE) {
        if (!identity || (!rgb && !pens)) {
            double minX, minY;
            int w, h;
            GetTransformedImageSize(matrix, width, height, &w, &h, &minX, &minY, nullptr);
            const lvFileFormatServices &f = NeighbourServices.files;
            rc = f.RenderImageSource(f.context, context, static_cast<lvImageSource *>(imageSource), matrix, minX, minY,
                                     nw, nh, &result);
            result.width = nw;
            result.height = nh;
        } else {
            rc = duplicate();
        }
    } else if (HasRotation(matrix)) {
        rc = TransformImageAffine(rgb, mask, alpha, pens, sourceX, sourceY, width, height, matrix, smooth,
                                  transparentPen, display, &result);
    } else if (matrix->sx != 1 || matrix->sy != 1) {
        rc = ScaleImage(rgb, mask, alpha, pens, sourceX, sourceY, nullptr, nullptr, width, height, nw, nh, smooth,
                        display, &result.rgb, &result.mask, &result.alpha, &result.pens);
        result.width = nw;
        result.height = nh;
    } else {
        rc = duplicate();
    }
    if (rc) return rc;
    *out = result;
    out->x = nx;
    out->y = ny;
    return 0;
}

// effects_convolve.cpp - Gaussian-weighted convolutions (blur, emboss, edge,
// sharpen) of a 32-bit RGB bitmap and of an 8-bit plane, in place, and the soft
// shadow masks built from a picture's silhouette.
//
// Each pass reads a padded copy of its source (edges repeated) and writes the
// result straight back. Sums are formed in double, term by term in kernel
// order, so the results do not depend on how the loops are vectorised: the
// passes walk whole rows with a row of accumulators, which the compiler turns
// into packed arithmetic. On AVX2 machines the blur's rows go through a fixed-
// point sum that yields the same bytes (see "Byte blur in fixed point").
#include "images/lveffects.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "base/lverrors.h"
#include "platform/lvplatform.h"
#include "raster/lvplanes.h"

namespace {

const double kSqrt2Pi = 2.5066282746310002;
const double kTwoPi = 6.283185307179586;
const double kEpsilon = 1e-10;
// Past this width the automatic widths stop searching (a sigma that large
// cannot come from the callers; it keeps a direct call finite).
const int kWidthSearchLimit = 1 << 16;

// Memory for a padded copy of n elements of size bytes, null when the size
// overflows or cannot be had.
void *AllocElements(size_t count, size_t rows, size_t size) {
    if (count == 0 || rows == 0) return nullptr;
    if (count > SIZE_MAX / rows || count * rows > SIZE_MAX / size) return nullptr;
    return AllocMemory(count * rows * size, 0);
}

// Rows of the padded copy are rounded up to four elements.
size_t PaddedStride(int width, int w) { return (static_cast<size_t>(width) + static_cast<size_t>(w) + 3) & ~size_t(3); }

// Rows of the edge-padded picture (w / 2 extra rows and columns before it,
// the rest after, edges repeated), held as floats (exact for bytes) so that
// the passes only widen them to double. A pass keeps the w rows it reads in a
// ring: padded row r lives in slot r % count. Colour rows have three floats a
// pixel: blue, green and red (from ARGB).
struct PaddedRing {
    float *data = nullptr;
    size_t stride = 0;  // floats a row
    int count = 0;      // rows in the ring
    int lanes = 1;      // 3 for colour, 1 for a plane
    ~PaddedRing() { FreeMemory(data); }
    bool Alloc(int width, int w, int rows, int laneCount) {
        lanes = laneCount;
        count = rows;
        stride = PaddedStride(width, w) * static_cast<size_t>(lanes);
        data = static_cast<float *>(AllocElements(stride, static_cast<size_t>(rows), sizeof(float)));
        return data != nullptr;
    }
    const float *Row(int r) const { return data + static_cast<size_t>(r % count) * stride; }
    // Padded row r from the picture as it is now.
    void Load(const lvConvolveJob *job, int r, int w) {
        int half = w / 2, width = job->width, sy = r - half;
        sy = sy < 0 ? 0 : (sy >= job->height ? job->height - 1 : sy);
        float *dst = data + static_cast<size_t>(r % count) * stride;
        if (lanes == 1) {
            const uint8_t *src = job->plane + static_cast<size_t>(sy) * job->planeRowBytes;
            for (int px = 0; px < half; px++) dst[px] = float(src[0]);
            for (int x = 0; x < width; x++) dst[half + x] = float(src[x]);
            for (int px = half + width; px < width + w; px++) dst[px] = float(src[width - 1]);
            return;
        }
        const uint32_t *src = job->pixels + static_cast<size_t>(sy) * job->rowLength;
        auto put = [&](int px, uint32_t p) {
            if (job->format != PIXFMT_ARGB32) p = Pixel32ToArgb(job->format, p);
            dst[3 * px] = float(p & 0xFF);
            dst[3 * px + 1] = float((p >> 8) & 0xFF);
            dst[3 * px + 2] = float((p >> 16) & 0xFF);
        };
        for (int px = 0; px < half; px++) put(px, src[0]);
        if (job->format == PIXFMT_ARGB32) {
            // Blue, green and red bytes in memory order; the alpha byte is never summed.
            float *d = dst + 3 * half;
            const uint8_t *b = reinterpret_cast<const uint8_t *>(src);
            for (int x = 0; x < width; x++) {
                d[3 * x] = float(b[4 * x]);
                d[3 * x + 1] = float(b[4 * x + 1]);
                d[3 * x + 2] = float(b[4 * x + 2]);
            }
        } else {
            for (int x = 0; x < width; x++) put(half + x, src[x]);
        }
        for (int px = half + width; px < width + w; px++) put(px, src[width - 1]);
    }
};

struct Scratch {
    double *data = nullptr;
    ~Scratch() { FreeMemory(data); }
};

// Sums clamped to 0..255 and truncated (a NaN would become 0), without branches.
inline uint32_t ClampTruncBits(double v) {
    v = v > 0 ? v : 0.0;
    v = v < 255 ? v : 255.0;
    return static_cast<uint32_t>(static_cast<int>(v));
}

inline void StorePixel(const lvConvolveJob *job, uint32_t *out, const double *acc) {
    uint32_t rgb = (ClampTruncBits(acc[2]) << 16) | (ClampTruncBits(acc[1]) << 8) | ClampTruncBits(acc[0]);
    *out = job->format == PIXFMT_ARGB32 ? rgb : ArgbToPixel32(job->format, rgb);
}

// Four taps at once, added one after the other as four single passes would:
// the accumulator is read and written once instead of four times. The per-machine
// clones are chosen by a resolver that runs before a sanitizer's runtime is up, so
// sanitized builds keep the plain loop (the pixels are the same).
#if defined(__GNUC__) && defined(__x86_64__) && !defined(__clang__) && !defined(LV_SANITIZED)
__attribute__((target_clones("avx512f", "avx2", "default")))
#endif
void AccumulateRow4(double *__restrict acc, const float *__restrict b0, const float *__restrict b1,
                    const float *__restrict b2, const float *__restrict b3, const double *k, int n) {
    const double k0 = k[0], k1 = k[1], k2 = k[2], k3 = k[3];
    for (int i = 0; i < n; i++) {
        double s = acc[i];
        s += k0 * b0[i];
        s += k1 * b1[i];
        s += k2 * b2[i];
        s += k3 * b3[i];
        acc[i] = s;
    }
}

// Eight taps at once, in the same order.
#if defined(__GNUC__) && defined(__x86_64__) && !defined(__clang__) && !defined(LV_SANITIZED)
__attribute__((target_clones("avx512f", "avx2", "default")))
#endif
void AccumulateRow8(double *__restrict acc, const float *const *b, const double *k, int n) {
    const float *__restrict b0 = b[0], *__restrict b1 = b[1], *__restrict b2 = b[2], *__restrict b3 = b[3];
    const float *__restrict b4 = b[4], *__restrict b5 = b[5], *__restrict b6 = b[6], *__restrict b7 = b[7];
    const double k0 = k[0], k1 = k[1], k2 = k[2], k3 = k[3], k4 = k[4], k5 = k[5], k6 = k[6], k7 = k[7];
    for (int i = 0; i < n; i++) {
        double s = acc[i];
        s += k0 * b0[i];
        s += k1 * b1[i];
        s += k2 * b2[i];
        s += k3 * b3[i];
        s += k4 * b4[i];
        s += k5 * b5[i];
        s += k6 * b6[i];
        s += k7 * b7[i];
        acc[i] = s;
    }
}

// acc[0, n) = the sum over the taps of weight x bytes, tap by tap, in chunks
// small enough for the accumulators to stay in the first-level cache.
template <class Tap> void AccumulateTaps(double *acc, int n, int taps, Tap tap) {
    const int chunk = 1024;
    for (int i0 = 0; i0 < n; i0 += chunk) {
        int m = std::min(chunk, n - i0);
        std::memset(acc + i0, 0, sizeof(double) * m);
        // Taps of weight 0 add nothing to any sum (the elements are finite
        // and not negative), so they are left out, as emboss's mostly empty
        // kernel shows; a short last group is filled with such weights.
        const float *b[8];
        double k[8];
        int used = 0;
        auto flush = [&]() {
            const float *at[8];
            for (int j = 0; j < 8; j++) at[j] = b[j] + i0;
            if (used > 4) {
                for (int j = used; j < 8; j++) at[j] = at[0], k[j] = 0.0;
                AccumulateRow8(acc + i0, at, k, m);
            } else {
                for (int j = used; j < 4; j++) at[j] = at[0], k[j] = 0.0;
                AccumulateRow4(acc + i0, at[0], at[1], at[2], at[3], k, m);
            }
            used = 0;
        };
        for (int t = 0; t < taps; t++) {
            tap(t, &b[used], &k[used]);
            if (k[used] == 0.0) continue;
            if (++used == 8) flush();
        }
        if (used) flush();
    }
}

// Writes one finished row of sums back into the picture or the plane.
void StoreRow(const lvConvolveJob *job, int y, const double *a, int lanes) {
    if (lanes == 1) {
        uint8_t *out = job->plane + static_cast<size_t>(y) * job->planeRowBytes;
        for (int x = 0, n = job->width; x < n; x++) out[x] = static_cast<uint8_t>(ClampTruncBits(a[x]));
        return;
    }
    uint32_t *out = job->pixels + static_cast<size_t>(y) * job->rowLength;
    for (int x = 0, n = job->width; x < n; x++) StorePixel(job, out + x, a + 3 * x);
}

// The separable blur of the picture (lanes 3) or the plane (lanes 1): every
// row across, written back, then every column down. Each output element is
// the sum over the taps in kernel order; the across pass reads a one-row
// ring, the down pass a ring of w rows loaded ahead of the rows it writes.
int BlurPass(const lvConvolveJob *job, const double *k, int w, int lanes) {
    PaddedRing across, down;
    Scratch acc;
    if (!across.Alloc(job->width, w, 1, lanes) || !down.Alloc(job->width, w, w, lanes)) return ERR_MEM;
    acc.data = static_cast<double *>(AllocElements(static_cast<size_t>(job->width), lanes, sizeof(double)));
    if (!acc.data) return ERR_MEM;
    int half = w / 2, n = lanes * job->width;
    for (int y = 0; y < job->height; y++) {
        across.Load(job, y + half, w);
        const float *row = across.Row(y + half);
        AccumulateTaps(acc.data, n, w, [&](int t, const float **b, double *k1) { *b = row + lanes * t, *k1 = k[t]; });
        StoreRow(job, y, acc.data, lanes);
    }
    for (int r = 0; r < w - 1; r++) down.Load(job, r, w);
    for (int y = 0; y < job->height; y++) {
        down.Load(job, y + w - 1, w);
        AccumulateTaps(acc.data, n, w, [&](int t, const float **b, double *k1) {
            *b = down.Row(y + t) + lanes * half, *k1 = k[t];
        });
        StoreRow(job, y, acc.data, lanes);
    }
    return 0;
}

// ---- Byte blur in fixed point ----------------------------------------------
// The blur's sums are doubles, but they only matter through the byte they
// truncate to. The integer sum A = sum of q[t] x byte, with q[t] the weights
// rounded to F fraction bits, lies within E / 2^F of the double sum (E bounds
// the rounding of the weights and of the doubles), so when A - E and A + E
// truncate to the same byte that byte is the double sum's. The rare element
// whose bounds straddle a byte edge is summed in double as before; a flat
// stretch (every tap the same byte) always lands near an edge, so its sum is
// read from a table made with the double sums (the byte or one less).
struct FixedBlur {
    int taps = 0;
    int shift = 0;        // F
    int32_t margin = 0;   // E
    int32_t q[16] = {};
    const double *k = nullptr;
    uint32_t drop[8] = {};  // bit v: a flat stretch of byte v sums to v - 1
};

// Element sum exactly as the double passes form it: tap by tap in kernel order.
inline uint8_t DoubleSum(const double *k, int taps, const uint8_t *const *rows, size_t i) {
    double s = 0;
    for (int t = 0; t < taps; t++) s += k[t] * double(rows[t][i]);
    return static_cast<uint8_t>(ClampTruncBits(s));
}

// Kernels the fixed-point rows take: an odd width the templates below are made
// for, weights not negative, and sums that fit 31 bits with room for the margin.
bool MakeFixedBlur(const double *k, int taps, FixedBlur *fb) {
    if (taps != 3 && taps != 5 && taps != 7 && taps != 9 && taps != 11 && taps != 13) return false;
    for (int t = 0; t < taps; t++)
        if (!(k[t] >= 0) || !(k[t] <= 1)) return false;
    for (int shift = 23; shift >= 16; shift--) {
        double scale = std::ldexp(1.0, shift), err = 0;
        int64_t total = 0;
        for (int t = 0; t < taps; t++) {
            double v = k[t] * scale, r = std::nearbyint(v);
            fb->q[t] = static_cast<int32_t>(r);
            total += fb->q[t];
            err += std::fabs(r - v) * 255;
        }
        // The doubles' own rounding is below 2^-40 of a byte for these widths; 2 covers it.
        int64_t margin = static_cast<int64_t>(std::ceil(err)) + 2;
        if (255 * total + margin >= (int64_t(1) << 31)) continue;
        bool mirrored = true;
        for (int t = 0; t < taps / 2; t++) mirrored = mirrored && fb->q[t] == fb->q[taps - 1 - t];
        if (!mirrored) return false;
        fb->taps = taps;
        fb->shift = shift;
        fb->margin = static_cast<int32_t>(margin);
        fb->k = k;
        const uint8_t *rows[16];
        uint8_t v[1];
        for (int t = 0; t < taps; t++) rows[t] = v;
        for (int b = 0; b < 256; b++) {
            v[0] = static_cast<uint8_t>(b);
            int sum = DoubleSum(k, taps, rows, 0);
            if (sum + 1 == b) fb->drop[b >> 5] |= uint32_t(1) << (b & 31);
            else if (sum != b) return false;
        }
        return true;
    }
    return false;
}

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
__attribute__((target("avx2"))) inline __m256i SixteenBytes(const uint8_t *p) {
    return _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i *>(p)));
}

// Whether a flat stretch of byte v sums to v - 1, on 32-bit lanes.
__attribute__((target("avx2"))) inline __m256i DropBit(__m256i drop, __m256i v) {
    __m256i word = _mm256_permutevar8x32_epi32(drop, _mm256_srli_epi32(v, 5));
    return _mm256_and_si256(_mm256_srlv_epi32(word, _mm256_and_si256(v, _mm256_set1_epi32(31))), _mm256_set1_epi32(1));
}

// The same rows sixteen elements at a time; unsure elements are summed in double on the spot.
template <int N>
__attribute__((target("avx2"))) void FixedRowAvx2(uint8_t *out, const uint8_t *const *rows, const FixedBlur &fb,
                                                  int n) {
    // Sums of mirrored taps (and the middle one) in 16-bit lanes, paired for the
    // multiply-adds; each weight is split into its high bits (q >> 8) and low
    // byte so that every product fits 16 signed bits: A = 256 x high + low.
    constexpr int M = N / 2 + 1, P = (M + 1) / 2;
    __m256i qh[P], ql[P];
    for (int p = 0; p < P; p++) {
        int32_t q0 = fb.q[2 * p], q1 = 2 * p + 1 < M ? fb.q[2 * p + 1] : 0;
        qh[p] = _mm256_set1_epi32((q0 >> 8) | ((q1 >> 8) << 16));
        ql[p] = _mm256_set1_epi32((q0 & 0xFF) | ((q1 & 0xFF) << 16));
    }
    const __m256i e = _mm256_set1_epi32(fb.margin), zero = _mm256_setzero_si256();
    const __m256i top = _mm256_set1_epi16(255);
    const __m256i drop = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(fb.drop));
    const __m128i sh = _mm_cvtsi32_si128(fb.shift);
    int i = 0;
    for (; i + 16 <= n; i += 16) {
        __m256i v0 = SixteenBytes(rows[0] + i), differ = zero, sum[2 * P];
        for (int m = 0; m < N / 2; m++) {
            __m256i x = m ? SixteenBytes(rows[m] + i) : v0, y = SixteenBytes(rows[N - 1 - m] + i);
            differ = _mm256_or_si256(differ, _mm256_or_si256(_mm256_xor_si256(x, v0), _mm256_xor_si256(y, v0)));
            sum[m] = _mm256_add_epi16(x, y);
        }
        sum[N / 2] = SixteenBytes(rows[N / 2] + i);
        differ = _mm256_or_si256(differ, _mm256_xor_si256(sum[N / 2], v0));
        if (M < 2 * P) sum[M] = zero;
        __m256i hiL = zero, hiH = zero, loL = zero, loH = zero;
        for (int p = 0; p < P; p++) {
            __m256i l = _mm256_unpacklo_epi16(sum[2 * p], sum[2 * p + 1]);
            __m256i h = _mm256_unpackhi_epi16(sum[2 * p], sum[2 * p + 1]);
            hiL = _mm256_add_epi32(hiL, _mm256_madd_epi16(l, qh[p]));
            hiH = _mm256_add_epi32(hiH, _mm256_madd_epi16(h, qh[p]));
            loL = _mm256_add_epi32(loL, _mm256_madd_epi16(l, ql[p]));
            loH = _mm256_add_epi32(loH, _mm256_madd_epi16(h, ql[p]));
        }
        __m256i aL = _mm256_add_epi32(_mm256_slli_epi32(hiL, 8), loL);
        __m256i aH = _mm256_add_epi32(_mm256_slli_epi32(hiH, 8), loH);
        // Bytes below and above the margin; packing puts the lanes back in order.
        __m256i below = _mm256_packs_epi32(_mm256_sra_epi32(_mm256_sub_epi32(aL, e), sh),
                                           _mm256_sra_epi32(_mm256_sub_epi32(aH, e), sh));
        __m256i above = _mm256_packs_epi32(_mm256_sra_epi32(_mm256_add_epi32(aL, e), sh),
                                           _mm256_sra_epi32(_mm256_add_epi32(aH, e), sh));
        below = _mm256_min_epi16(_mm256_max_epi16(below, zero), top);
        above = _mm256_min_epi16(above, top);
        __m256i isFlat = _mm256_cmpeq_epi16(differ, zero), o = below;
        if (!_mm256_testz_si256(isFlat, isFlat)) {
            __m256i drops = _mm256_packs_epi32(DropBit(drop, _mm256_unpacklo_epi16(v0, zero)),
                                               DropBit(drop, _mm256_unpackhi_epi16(v0, zero)));
            o = _mm256_blendv_epi8(below, _mm256_sub_epi16(v0, drops), isFlat);
        }
        __m256i bytes = _mm256_permute4x64_epi64(_mm256_packus_epi16(o, o), _MM_SHUFFLE(3, 1, 2, 0));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + i), _mm256_castsi256_si128(bytes));
        __m256i sure = _mm256_or_si256(isFlat, _mm256_cmpeq_epi16(below, above));
        unsigned mask = ~unsigned(_mm256_movemask_epi8(sure)) & 0x55555555u;
        while (mask) {
            int j = __builtin_ctz(mask) / 2;
            mask &= mask - 1;
            out[i + j] = DoubleSum(fb.k, N, rows, static_cast<size_t>(i + j));
        }
    }
    for (; i < n; i++) {
        int32_t v = rows[0][i], differ = 0, a = fb.q[N / 2] * int32_t(rows[N / 2][i]);
        for (int t = 0; t < N / 2; t++) a += fb.q[t] * (int32_t(rows[t][i]) + int32_t(rows[N - 1 - t][i]));
        for (int t = 1; t < N; t++) differ |= int32_t(rows[t][i]) ^ v;
        int32_t lo = (a - fb.margin) >> fb.shift, hi = (a + fb.margin) >> fb.shift;
        lo = lo < 0 ? 0 : (lo > 255 ? 255 : lo);
        hi = hi > 255 ? 255 : hi;
        if (!differ) out[i] = static_cast<uint8_t>(v - int32_t((fb.drop[v >> 5] >> (v & 31)) & 1));
        else out[i] = lo == hi ? static_cast<uint8_t>(lo) : DoubleSum(fb.k, N, rows, static_cast<size_t>(i));
    }
}

bool HasAvx2() {
    static const bool has = (__builtin_cpu_init(), __builtin_cpu_supports("avx2"));
    return has;
}
#else
bool HasAvx2() { return false; }
template <int N> void FixedRowAvx2(uint8_t *, const uint8_t *const *, const FixedBlur &, int) {}
#endif

// One row of bytes, out[i] for i in [0, n) from rows[t][i].
void BlurBytes(uint8_t *out, const uint8_t *const *rows, const FixedBlur &fb, int n) {
    switch (fb.taps) {
    case 3: return FixedRowAvx2<3>(out, rows, fb, n);
    case 5: return FixedRowAvx2<5>(out, rows, fb, n);
    case 7: return FixedRowAvx2<7>(out, rows, fb, n);
    case 9: return FixedRowAvx2<9>(out, rows, fb, n);
    case 11: return FixedRowAvx2<11>(out, rows, fb, n);
    default: return FixedRowAvx2<13>(out, rows, fb, n);
    }
}

// The blur of an ARGB picture (lanes 4, the alpha byte summed as 0 so that it
// comes out 0) or a plane (lanes 1) through the fixed-point rows in one sweep:
// each row is blurred across from an edge-padded copy into a ring of the rows
// the pass down reads, and the pass down writes the picture.
int FixedBlurPass(const lvConvolveJob *job, const FixedBlur &fb, int lanes) {
    const int w = fb.taps, half = w / 2, width = job->width, height = job->height;
    const size_t n = static_cast<size_t>(width) * lanes;
    const size_t padded = (static_cast<size_t>(width) + w - 1) * lanes;
    auto *buf = static_cast<uint8_t *>(AllocElements(padded + n * static_cast<size_t>(w), 1, 1));
    if (!buf) return ERR_MEM;
    uint8_t *pad = buf, *ring = buf + padded;
    auto rowAt = [&](int y) -> uint8_t * {
        return lanes == 1 ? job->plane + static_cast<size_t>(y) * job->planeRowBytes
                          : reinterpret_cast<uint8_t *>(job->pixels + static_cast<size_t>(y) * job->rowLength);
    };
    const uint8_t *across[16], *down[16];
    for (int t = 0; t < w; t++) across[t] = pad + static_cast<size_t>(t) * lanes;
    // Padded row r (source row r - half, clamped), blurred across, lives in ring
    // slot r % w. Each source row is read before the row written down reaches it.
    auto load = [&](int r) {
        int sy = r - half;
        sy = sy < 0 ? 0 : (sy >= height ? height - 1 : sy);
        const uint8_t *row = rowAt(sy);
        if (lanes == 1) {
            std::memset(pad, row[0], half);
            std::memcpy(pad + half, row, n);
            std::memset(pad + half + n, row[n - 1], half);
        } else {
            uint32_t first = reinterpret_cast<const uint32_t *>(row)[0] & 0x00FFFFFFu;
            uint32_t last = reinterpret_cast<const uint32_t *>(row)[width - 1] & 0x00FFFFFFu;
            for (int p = 0; p < half; p++) std::memcpy(pad + 4 * p, &first, 4);
            uint8_t *mid = pad + 4 * static_cast<size_t>(half);
            std::memcpy(mid, row, n);
            for (size_t i = 3; i < n; i += 4) mid[i] = 0;
            for (int p = 0; p < half; p++) std::memcpy(mid + n + 4 * p, &last, 4);
        }
        BlurBytes(ring + static_cast<size_t>(r % w) * n, across, fb, static_cast<int>(n));
    };
    for (int r = 0; r < w - 1; r++) load(r);
    for (int y = 0; y < height; y++) {
        load(y + w - 1);
        for (int t = 0; t < w; t++) down[t] = ring + static_cast<size_t>((y + t) % w) * n;
        BlurBytes(rowAt(y), down, fb, static_cast<int>(n));
    }
    FreeMemory(buf);
    return 0;
}

// Two-dimensional pass: kernel row 0 above the pixel, column 0 to its left.
int SquarePass(const lvConvolveJob *job, const double *k, int w, int lanes) {
    PaddedRing ring;
    Scratch acc;
    if (!ring.Alloc(job->width, w, w, lanes)) return ERR_MEM;
    acc.data = static_cast<double *>(AllocElements(static_cast<size_t>(job->width), lanes, sizeof(double)));
    if (!acc.data) return ERR_MEM;
    int n = lanes * job->width;
    for (int r = 0; r < w - 1; r++) ring.Load(job, r, w);
    for (int y = 0; y < job->height; y++) {
        ring.Load(job, y + w - 1, w);
        AccumulateTaps(acc.data, n, w * w, [&](int t, const float **b, double *k1) {
            *b = ring.Row(y + t / w) + lanes * (t % w), *k1 = k[t];
        });
        StoreRow(job, y, acc.data, lanes);
    }
    return 0;
}

// 2 x ceil(radius) + 1, or -1 when that does not fit an int.
int WidthFromRadius(double radius) {
    double w = 2 * std::ceil(radius) + 1;
    return w <= static_cast<double>(INT_MAX) ? static_cast<int>(w) : -1;
}

}  // namespace

int KernelWidth1D(double radius, double sigma) {
    if (radius > 0) return WidthFromRadius(radius);
    if (std::fabs(sigma) <= kEpsilon) return 1;
    if (!std::isfinite(sigma)) return -1;
    for (int w = 5;; w += 2) {
        if (w > kWidthSearchLimit) return -1;
        double n = 0;
        for (int u = -(w / 2); u <= w / 2; u++) n += std::exp(-(double(u) * u) / (2 * sigma * sigma)) / (kSqrt2Pi * sigma);
        double h = w / 2;
        double v = std::exp(-(h * h) / (2 * sigma * sigma)) / (kSqrt2Pi * sigma) / n;
        double scaled = v * 255;
        if (!(scaled >= 1)) return w - 2;  // truncates to 0 or less
    }
}

int KernelWidth2D(double radius, double sigma) {
    if (radius > 0) return WidthFromRadius(radius);
    if (!std::isfinite(sigma) || std::fabs(sigma) <= kEpsilon) return -1;
    for (int w = 5;; w += 2) {
        if (w > kWidthSearchLimit) return -1;
        double n = 0;
        for (int v = -(w / 2); v <= w / 2; v++)
            for (int u = -(w / 2); u <= w / 2; u++)
                n += std::exp(-(double(u) * u + double(v) * v) / (2 * sigma * sigma)) / (kTwoPi * sigma * sigma);
        double h = w / 2;
        double value = std::exp(-(h * h) / (2 * sigma * sigma)) / (kSqrt2Pi * sigma) / n;
        if (value < 0.00392156862745098) return w - 2;
    }
}

double *MakeBlurKernel(int width, double sigma) {
    if (width <= 0) return nullptr;
    double *k = static_cast<double *>(AllocElements(static_cast<size_t>(width), 1, sizeof(double)));
    if (!k) return nullptr;
    for (int i = 0; i < width; i++) k[i] = 0;
    double s = std::fabs(sigma) <= kEpsilon ? 1.0 : sigma;
    int64_t b = (3 * int64_t(width)) / 2;
    for (int64_t i = -b; i <= b; i++)
        k[(i + b) / 3] += std::exp(-(double(i) * double(i)) / (18 * s * s)) / (kSqrt2Pi * s);
    double sum = 0;
    for (int i = 0; i < width; i++) sum += k[i];
    for (int i = 0; i < width; i++) k[i] /= sum;
    return k;
}

double *MakeSquareKernel(int kind, int width, double sigma) {
    if (width <= 0 || static_cast<int64_t>(width) * width > INT_MAX) return nullptr;
    size_t n = static_cast<size_t>(width) * width;
    double *k = static_cast<double *>(AllocElements(n, 1, sizeof(double)));
    if (!k) return nullptr;
    double s = std::fabs(sigma) <= kEpsilon ? 1.0 : sigma;
    int j = width / 2;
    auto g = [&](int u, int v) { return std::exp(-(double(u) * u + double(v) * v) / (2 * s * s)) / (kTwoPi * s * s); };
    for (int v = -j; v <= j; v++)
        for (int u = -j; u <= j; u++) {
            double &e = k[(v + j) * width + (u + j)];
            switch (kind) {
            case CONVOLVE_EMBOSS: e = u != -v ? 0.0 : ((u < 0 || v < 0) ? -8 * g(u, v) : 8 * g(u, v)); break;
            case CONVOLVE_EDGE: e = (u == 0 && v == 0) ? double(width) * width - 1 : -1.0; break;
            default: e = -g(u, v); break;
            }
        }
    if (kind == CONVOLVE_SHARPEN) {
        double sum = 0;
        for (size_t i = 0; i < n; i++) sum += k[i];
        k[j * width + j] = -2 * sum;
    }
    double sum = 0;
    for (size_t i = 0; i < n; i++) sum += k[i];
    double scale = std::fabs(sum) <= kEpsilon ? 1.0 : 1.0 / sum;
    for (size_t i = 0; i < n; i++) k[i] *= scale;
    return k;
}

// The picture and the plane as one change. A pass fails only before it writes anything, so
// the plane is convolved into a copy first, the picture in place, and the copy goes back
// into the plane once both passes have succeeded: a failure leaves both as they were.
template <class Pass> int RunBothPasses(const lvConvolveJob *job, bool colour, bool plane, Pass pass) {
    if (!colour || !plane) return colour ? pass(job, 3) : plane ? pass(job, 1) : 0;
    size_t bytes = static_cast<size_t>(job->height) * static_cast<size_t>(job->planeRowBytes);
    auto *copy = static_cast<uint8_t *>(AllocMemory(bytes, 0));
    if (!copy) return ERR_MEM;
    std::memcpy(copy, job->plane, bytes);
    lvConvolveJob onCopy = *job;
    onCopy.plane = copy;
    int rc = pass(&onCopy, 1);
    if (!rc) rc = pass(job, 3);
    if (!rc) std::memcpy(job->plane, copy, bytes);
    FreeMemory(copy);
    return rc;
}

int RunConvolution(const lvConvolveJob *job) {
    if (job->width <= 0 || job->height <= 0) return 0;
    bool colour = job->pixels && job->bytesPerPixel == 4;
    bool plane = job->plane != nullptr;
    if (job->kind == CONVOLVE_BLUR) {
        if (std::fabs(job->sigma) <= kEpsilon || !std::isfinite(job->sigma)) return 0;
        int w = KernelWidth1D(job->radius, job->sigma);
        if (w < 0) return ERR_MEM;
        double *k = MakeBlurKernel(w, job->sigma);
        if (!k) return ERR_MEM;
        FixedBlur fb;
        // The fixed-point rows are made for AVX2; other machines keep the double rows.
        bool fixed = HasAvx2() && MakeFixedBlur(k, w, &fb);
        int rc = RunBothPasses(job, colour, plane, [&](const lvConvolveJob *j, int lanes) {
            if (fixed && (lanes == 1 || j->format == PIXFMT_ARGB32)) return FixedBlurPass(j, fb, lanes == 1 ? 1 : 4);
            return BlurPass(j, k, w, lanes);
        });
        FreeMemory(k);
        return rc;
    }
    if (job->kind != CONVOLVE_EMBOSS && job->kind != CONVOLVE_EDGE && job->kind != CONVOLVE_SHARPEN) return 0;
    if (job->kind != CONVOLVE_EDGE && !std::isfinite(job->sigma)) return 0;
    int w = job->kind == CONVOLVE_EDGE ? KernelWidth1D(job->radius, 0.5) : KernelWidth2D(job->radius, job->sigma);
    if (w < 0) return job->radius > 0 ? ERR_MEM : 0;
    if (w % 2 == 0 || w > job->width || w > job->height) return 0;
    double *k = MakeSquareKernel(job->kind, w, job->sigma);
    if (!k) return ERR_MEM;
    int rc = RunBothPasses(job, colour, plane,
                           [&](const lvConvolveJob *j, int lanes) { return SquarePass(j, k, w, lanes); });
    FreeMemory(k);
    return rc;
}

int ConvolveImage(int kind, lvBitMapHandle *rgb, lvBitMapHandle *plane, int width, int height, double radius,
                  double sigma, lvBitMapLock *lock) {
    if (!(radius > 0)) radius = 0;  // negative or NaN
    if (radius == 0) sigma = 1.0;
    lvScopedLock own(lock ? nullptr : rgb, 0);
    if (rgb && !lock && !own) return ERR_LOCKBMAP;
    const lvBitMapLock *l = lock ? lock : (rgb ? &own.lock : nullptr);
    uint8_t *pp = nullptr;
    int prow = 0;
    uintptr_t pt = plane ? GetPlanePixels(plane, &pp, &prow, 1) : 0;
    if (plane && !pt) return ERR_LOCKBMAP;
    lvConvolveJob job{};
    job.width = width;
    job.height = height;
    if (l) {
        job.pixels = reinterpret_cast<uint32_t *>(l->pixels);
        job.rowLength = l->rowLength;
        job.format = l->format;
        job.bytesPerPixel = l->bytesPerPixel;
        if (l->width > 0 && l->width < job.width) job.width = l->width;
        if (l->height > 0 && l->height < job.height) job.height = l->height;
    }
    if (plane) {
        job.plane = pp;
        job.planeRowBytes = prow;
        if (plane->width < job.width) job.width = plane->width;
        if (plane->height < job.height) job.height = plane->height;
    }
    job.radius = radius;
    job.sigma = sigma;
    job.kind = kind;
    int rc = RunConvolution(&job);
    if (pt) ReleasePlanePixels(pt);
    return rc;
}

lvBitMapHandle *BuildShadowMask(lvBitMapHandle *alpha, lvBitMapHandle *mask, lvBitMapHandle *chunky,
                                int transparentPen, int sourceX, int sourceY, int width, int height, double radius,
                                double sigma, int opacity, int hard, int secondPass) {
    if (width <= 0 || height <= 0 || sourceX < 0 || sourceY < 0) return nullptr;
    if (!(radius > 0)) radius = 0;
    if (radius > 1e6) return nullptr;  // a silhouette that large cannot be had
    int d = static_cast<int>(radius);
    int64_t pw = int64_t(width) + 2 * int64_t(d), ph = int64_t(height) + 2 * int64_t(d);
    if (pw > INT_MAX || ph > INT_MAX) return nullptr;
    uint8_t value = static_cast<uint8_t>(opacity < 0 ? 0 : (opacity > 255 ? 255 : opacity));
    lvBitMapHandle *out = AllocAlphaBitmap(static_cast<int>(pw), static_cast<int>(ph), 1, nullptr, 0);
    if (!out) return nullptr;
    uint8_t *op = nullptr;
    int orow = 0;
    uintptr_t ot = GetPlanePixels(out, &op, &orow, 1);
    if (!ot) {
        FreePlaneBitmap(out);
        return nullptr;
    }
    // The source plane the silhouette comes from.
    lvBitMapHandle *source = nullptr;
    int from = 0;  // 0 rectangle, 1 alpha, 2 mask, 3 pens
    if (!chunky || mask) {
        if (alpha) source = alpha, from = 1;
        else if (mask) source = mask, from = 2;
    } else {
        source = chunky, from = 3;
    }
    bool ok = true;
    if (source) {
        uint8_t *sp = nullptr;
        int srow = 0;
        uintptr_t st = GetPlanePixels(source, &sp, &srow, 0);
        if (!st) ok = false;
        else {
            // Only what the source holds is read.
            int w = std::min(width, source->width - sourceX), h = std::min(height, source->height - sourceY);
            for (int y = 0; y < h; y++) {
                const uint8_t *s = sp + static_cast<size_t>(y + sourceY) * srow;
                uint8_t *o = op + static_cast<size_t>(y + d) * orow + d;
                for (int x = 0; x < w; x++) {
                    int sx = x + sourceX;
                    bool on = from == 1 ? s[sx] != 0
                              : from == 2 ? ((s[sx >> 3] >> (7 - (sx & 7))) & 1) != 0
                                          : s[sx] != transparentPen;
                    if (on) o[x] = value;
                }
            }
            ReleasePlanePixels(st);
        }
    } else {
        for (int y = 0; y < height; y++) std::memset(op + static_cast<size_t>(y + d) * orow + d, value, width);
    }
    ReleasePlanePixels(ot);
    if (ok && ConvolveImage(CONVOLVE_BLUR, nullptr, out, out->width, out->height, radius, sigma, nullptr) != 0) ok = false;
    if (ok && hard) {
        ot = GetPlanePixels(out, &op, &orow, 1);
        if (!ot) ok = false;
        else {
            size_t n = static_cast<size_t>(orow) * out->height;
            for (size_t i = 0; i < n; i++)
                if (op[i]) op[i] = 255;
            ReleasePlanePixels(ot);
        }
    }
    if (ok && secondPass && alpha &&
        ConvolveImage(CONVOLVE_BLUR, nullptr, out, out->width, out->height, radius / 2, radius / 6, nullptr) != 0)
        ok = false;
    if (!ok) {
        FreePlaneBitmap(out);
        return nullptr;
    }
    return out;
}

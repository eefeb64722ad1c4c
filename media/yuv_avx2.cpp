// yuv_avx2.cpp - the AVX2 rows of the same-size YUV conversion for 32-bit formats. They
// give exactly the portable rows' bits: the divisions truncate as integer divisions do,
// through multiply-high by a reciprocal that is exact for every numerator below 2^31
// (a negative numerator clamps to 0 in any case, so it is taken as 0).
// Built with -mavx2; called only when the CPU reports AVX2.
#include "media/videostream.h"
#include "raster/lvbitmap.h"
#if defined(LV_YUV_AVX2)
#include <immintrin.h>

namespace {

constexpr int CeilLog2(uint32_t d)
{
    int l = 0;
    while ((1ull << l) < d) l++;
    return l;
}

struct lvMagic {
    uint32_t multiplier;
    int shift;
};

constexpr lvMagic MagicFor(uint32_t d)
{
    int shift = 31 + CeilLog2(d);
    uint64_t m = ((1ull << shift) + d - 1) / d;
    return lvMagic{(uint32_t)m, shift};
}

constexpr lvMagic kR = MagicFor(1635200), kG = MagicFor(3287200), kB = MagicFor(817600);
static_assert((((1ull << (31 + CeilLog2(1635200))) + 1635200 - 1) / 1635200) < (1ull << 32), "fits 32 bits");
static_assert((((1ull << (31 + CeilLog2(3287200))) + 3287200 - 1) / 3287200) < (1ull << 32), "fits 32 bits");
static_assert((((1ull << (31 + CeilLog2(817600))) + 817600 - 1) / 817600) < (1ull << 32), "fits 32 bits");

// max(a, 0) / d, truncated, then at most 255.
inline __m256i DivideClamp(__m256i a, lvMagic magic)
{
    a = _mm256_max_epi32(a, _mm256_setzero_si256());
    const __m256i m = _mm256_set1_epi32((int)magic.multiplier);
    const __m128i shift = _mm_cvtsi32_si128(magic.shift);
    __m256i even = _mm256_srl_epi64(_mm256_mul_epu32(a, m), shift);
    __m256i odd = _mm256_srl_epi64(_mm256_mul_epu32(_mm256_srli_epi64(a, 32), m), shift);
    __m256i q = _mm256_blend_epi32(even, _mm256_slli_epi64(odd, 32), 0xAA);
    return _mm256_min_epi32(q, _mm256_set1_epi32(255));
}

inline __m256i LoadChroma4(const uint8_t *p)
{
    int32_t word;
    __builtin_memcpy(&word, p, 4);
    __m128i c = _mm_cvtsi32_si128(word);
    return _mm256_cvtepu8_epi32(_mm_unpacklo_epi8(c, c)); // c0 c0 c1 c1 c2 c2 c3 c3
}

} // namespace

void ConvertYuvRowAvx2(const uint8_t *ys, const uint8_t *us, const uint8_t *vs, uint32_t *out, int count,
                       int pixelFormat)
{
    int x = 0;
    for (; x + 8 <= count; x += 8) {
        __m256i y = _mm256_cvtepu8_epi32(_mm_loadl_epi64((const __m128i *)(ys + x)));
        __m256i u = LoadChroma4(us + (x >> 1));
        __m256i v = LoadChroma4(vs + (x >> 1));
        __m256i r = _mm256_add_epi32(_mm256_mullo_epi32(v, _mm256_set1_epi32(2609823)),
                                     _mm256_mullo_epi32(y, _mm256_set1_epi32(1904000)));
        r = DivideClamp(_mm256_sub_epi32(r, _mm256_set1_epi32(363703744)), kR);
        __m256i g = _mm256_sub_epi32(_mm256_mullo_epi32(y, _mm256_set1_epi32(3827562)),
                                     _mm256_mullo_epi32(u, _mm256_set1_epi32(1287801)));
        g = _mm256_sub_epi32(g, _mm256_mullo_epi32(v, _mm256_set1_epi32(2672387)));
        g = DivideClamp(_mm256_add_epi32(g, _mm256_set1_epi32(447306710)), kG);
        __m256i b = _mm256_add_epi32(_mm256_mullo_epi32(u, _mm256_set1_epi32(1649289)),
                                     _mm256_mullo_epi32(y, _mm256_set1_epi32(952000)));
        b = DivideClamp(_mm256_sub_epi32(b, _mm256_set1_epi32(225932192)), kB);
        __m256i p;
        switch (pixelFormat) {
        case PIXFMT_BGRA32:
            p = _mm256_or_si256(_mm256_or_si256(_mm256_slli_epi32(b, 24), _mm256_slli_epi32(g, 16)),
                                _mm256_slli_epi32(r, 8));
            break;
        case PIXFMT_RGBA32:
            p = _mm256_or_si256(_mm256_or_si256(_mm256_slli_epi32(r, 24), _mm256_slli_epi32(g, 16)),
                                _mm256_slli_epi32(b, 8));
            break;
        case PIXFMT_ABGR32:
            p = _mm256_or_si256(_mm256_or_si256(_mm256_slli_epi32(b, 16), _mm256_slli_epi32(g, 8)), r);
            break;
        default:
            p = _mm256_or_si256(_mm256_or_si256(_mm256_slli_epi32(r, 16), _mm256_slli_epi32(g, 8)), b);
            break;
        }
        _mm256_storeu_si256((__m256i *)(out + x), p);
    }
    for (; x < count; x++) {
        int r, g, b;
        YuvToRgb(ys[x], us[x >> 1], vs[x >> 1], &r, &g, &b);
        out[x] = ArgbToPixel32(pixelFormat, (uint32_t)r << 16 | (uint32_t)g << 8 | (uint32_t)b);
    }
}
#endif

// random.cpp - 48-bit random generator, CRC-32 and number helpers.
//
// Depends on: zlib (CRC-32), the C++ standard library (from_chars for locale-free
// number reading).
// Limits: see random.h.
#include "runtime/random.h"

#include <bit>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstring>

#include <zlib.h>

#include "base/lverrors.h"

// ==== Random generator ====================================================================

static inline uint64_t Join48(const uint16_t w[3]) {
    return (uint64_t)w[0] | ((uint64_t)w[1] << 16) | ((uint64_t)w[2] << 32);
}

void Random48Seed(lvRandom48 *r, uint32_t seed) {
    r->x[0] = 0x330E;
    r->x[1] = (uint16_t)(seed & 0xFFFF);
    r->x[2] = (uint16_t)(seed >> 16);
    r->a[0] = 0xE66D;
    r->a[1] = 0xDEEC;
    r->a[2] = 5;
    r->c = 11;
}

double Random48Next(lvRandom48 *r) {
    uint64_t x = (Join48(r->x) * Join48(r->a) + r->c) & 0xFFFFFFFFFFFFull;
    r->x[0] = (uint16_t)x;
    r->x[1] = (uint16_t)(x >> 16);
    r->x[2] = (uint16_t)(x >> 32);
    return std::ldexp((double)x, -48);
}

static lvRandom48 g_random = {{0x330E, 0, 0}, {0xE66D, 0xDEEC, 5}, 11};

void SeedRandom48(uint32_t seed) { Random48Seed(&g_random, seed); }
double NextRandomDouble() { return Random48Next(&g_random); }
int NextRandom15() { return (int)(Random48Next(&g_random) * 32768.0); }

// ==== CRC-32 ==============================================================================

// zlib's CRC-32 is the same function (reflected 0xEDB88320, ones in, complement out) and
// much faster than a byte-wise table; crc32_z takes lengths beyond 4 GiB.
uint32_t ComputeCrc32(const void *data, size_t length) {
    return (uint32_t)crc32_z(0, (const Bytef *)data, length);
}

// ==== Number helpers ======================================================================

int RoundDoubleToInt(double x) {
    if (std::isnan(x)) return 0;
    double r = std::nearbyint(x);  // the default rounding mode: to nearest, halves to even
    if (r >= 2147483647.0) return INT_MAX;
    if (r <= -2147483648.0) return INT_MIN;
    return (int)r;
}

int LowestBitIndex(uint32_t mask) { return mask ? std::countr_zero(mask) : -1; }

void FillMemLong(void *dest, size_t bytes, uint32_t value) {
    unsigned char *d = (unsigned char *)dest;
    for (size_t i = 0; i + 4 <= bytes; i += 4) memcpy(d + i, &value, 4);
}

// Reads a finite decimal number at *p (after spaces and an optional '+'); moves *p past it.
static bool ReadDecimal(const char **p, double *value) {
    const char *s = *p;
    while (*s == ' ' || *s == '\t') s++;
    if (*s == '+' && s[1] != '-') s++;
    const char *end = s + strlen(s);
    auto r = std::from_chars(s, end, *value, std::chars_format::general);
    if (r.ec != std::errc() || !std::isfinite(*value)) return false;
    *p = r.ptr;
    return true;
}

static const char *SkipSpaces(const char *s) {
    while (*s == ' ' || *s == '\t') s++;
    return s;
}

int ParseNumberOrPercent(const char *text, double base, int allowAbove100, int *isPercentOut, double *valueOut) {
    const char *p = text;
    double value;
    if (isPercentOut) *isPercentOut = 0;
    if (!ReadDecimal(&p, &value)) return ERR_PERCENTFORMAT;
    p = SkipSpaces(p);
    if (*p != '%') {
        if (*p) return ERR_PERCENTFORMAT;
        *valueOut = value;
        return 0;
    }
    if (*SkipSpaces(p + 1)) return ERR_PERCENTFORMAT;
    if (value < 0 || (!allowAbove100 && value > 100)) return ERR_PERCENTFORMAT;
    if (base == 0) {
        if (isPercentOut) *isPercentOut = 1;
        *valueOut = value / 100;
    } else {
        *valueOut = value * base / 100;
    }
    return 0;
}

int ParseIntPercentText(const char *text, int allowAbove100, int *valueOut) {
    const char *p = SkipSpaces(text);
    int value = 0;
    auto r = std::from_chars(p, p + strlen(p), value);
    if (r.ec != std::errc()) return ERR_PERCENTFORMATSTR;
    p = SkipSpaces(r.ptr);
    if (*p != '%' || *SkipSpaces(p + 1)) return ERR_PERCENTFORMATSTR;
    if (value < 0 || (!allowAbove100 && value > 100)) return ERR_PERCENTFORMATSTR;
    *valueOut = -value;
    return 0;
}

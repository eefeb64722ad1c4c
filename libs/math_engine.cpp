// math_engine.cpp - number operations of the math library (see math_engine.h).
//
// Depends on: vm/lvvm.h (NumberToInt64), runtime/random.h, the C library (rand seed,
// getrandom for the cryptographic source).
// Limits: strict IEEE arithmetic is assumed (the build never uses -ffast-math).
#include "libs/math_engine.h"

#include <bit>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>
#include <sys/random.h>

#include "base/lverrors.h"
#include "runtime/random.h"
#include "vm/lvvm.h"

// ============================================================================
// Conversions
// ============================================================================

uint32_t NumberToU32(double x) { return uint32_t(uint64_t(NumberToInt64(x))); }

int32_t NumberToS32(double x)
{
    int64_t v = NumberToInt64(x);
    if (v < INT32_MIN || v > INT32_MAX) return INT32_MIN;
    return int32_t(v);
}

// ============================================================================
// Constants and elementary functions
// ============================================================================

double MathNan() { return std::bit_cast<double>(uint64_t(0x7FF8000000000000ull)); }
double MathInf() { return std::bit_cast<double>(uint64_t(0x7FF0000000000000ull)); }

int MathMod(double a, double b, double *out)
{
    if (b == 0) return ERR_ZERODIVISION;
    *out = std::fmod(a, b);
    return 0;
}

int MathDiv(double a, double b, double *out)
{
    if (b == 0) return ERR_ZERODIVISION;
    *out = a / b;
    return 0;
}

int MathRoot(double x, double n, double *out)
{
    if (n == 0) return ERR_ZERODIVISION;
    if (n < 0) return ERR_WRONGUSAGE;
    *out = std::pow(x, 1.0 / n);
    return 0;
}

double MathLog(double x, double base) { return std::log(x) / std::log(base); }
double MathLd(double x) { return std::log(x) / std::log(2.0); }

static const double DegreeToRadian = 0.017453292519943295;
double MathDeg(double x) { return x / DegreeToRadian; }
double MathRad(double x) { return x * DegreeToRadian; }

void MathFrExp(double x, double *mantissa, int *exponent)
{
    int e = 0;
    *mantissa = std::frexp(x, &e);
    *exponent = e;
}

double MathMin(const double *values, size_t count)
{
    double m = values[0];
    for (size_t i = 1; i < count; i++)
        if (values[i] < m) m = values[i];
    return m;
}

double MathMax(const double *values, size_t count)
{
    double m = values[0];
    for (size_t i = 1; i < count; i++)
        if (values[i] > m) m = values[i];
    return m;
}

int32_t MathRound(double x)
{
    // Adding 1.5 * 2^52 leaves the integer in the low mantissa bits, rounded by the
    // current rounding mode (to nearest, ties to even); scripts rely on exactly this.
    volatile double sum = x + 6755399441055744.0;
    return int32_t(uint32_t(std::bit_cast<uint64_t>(double(sum))));
}

double MathInt(double x) { return std::trunc(x); }
double MathFrac(double x) { return x - std::trunc(x); }

double MathWrap(double x, double low, double high)
{
    if (x < low) return high + (x - low);
    if (x >= high) return low + (x - high);
    return x;
}

double MathLimit(double x, double low, double high)
{
    if (x < low) return low;
    return x < high ? x : high;
}

double MathSgn(double x)
{
    if (x > 0) return 1;
    if (x < 0) return -1;
    return 0;
}

int MathNearlyEqual(double a, double b)
{
    return std::fabs(a + b) * 0x1p-52 > std::fabs(a - b) ? 1 : 0;
}

static const uint64_t ExponentBits = 0x7FF0000000000000ull;
static const uint64_t MantissaBits = 0x000FFFFFFFFFFFFFull;

int MathIsNan(double x)
{
    uint64_t b = std::bit_cast<uint64_t>(x);
    return (b & ExponentBits) == ExponentBits && (b & MantissaBits) != 0;
}

int MathIsInf(double x)
{
    uint64_t b = std::bit_cast<uint64_t>(x);
    return (b & ExponentBits) == ExponentBits && (b & MantissaBits) == 0;
}

int MathIsFinite(double x) { return (std::bit_cast<uint64_t>(x) & ExponentBits) != ExponentBits; }

// ============================================================================
// Shifts, rotations and bits
// ============================================================================

enum ShiftKind { SHIFT_LOGICAL_RIGHT, SHIFT_LEFT, SHIFT_ARITHMETIC_RIGHT };

static int64_t Shift64(int64_t v, int32_t count, ShiftKind kind)
{
    if (count >= 64 || count <= -64) return 0;
    if (count <= 0) {
        // The other direction by the magnitude: left for the right shifts, logically
        // right for the left shift.
        kind = (kind == SHIFT_LEFT) ? SHIFT_LOGICAL_RIGHT : SHIFT_LEFT;
        count = -count;
    }
    switch (kind) {
    case SHIFT_LEFT: return int64_t(uint64_t(v) << count);
    case SHIFT_LOGICAL_RIGHT: return int64_t(uint64_t(v) >> count);
    default: return v >> count;
    }
}

static double Shift(double x, double n, int mode64, ShiftKind kind)
{
    if (mode64) return double(Shift64(NumberToInt64(x), NumberToS32(n), kind));
    unsigned count = unsigned(uint64_t(NumberToInt64(n))) & 31u;
    uint32_t v = NumberToU32(x);
    switch (kind) {
    case SHIFT_LEFT: return double(uint32_t(v << count));
    case SHIFT_LOGICAL_RIGHT: return double(v >> count);
    default: return double(int32_t(v) >> count);
    }
}

double MathShr(double x, double n, int mode64) { return Shift(x, n, mode64, SHIFT_LOGICAL_RIGHT); }
double MathShl(double x, double n, int mode64) { return Shift(x, n, mode64, SHIFT_LEFT); }
double MathSar(double x, double n, int mode64) { return Shift(x, n, mode64, SHIFT_ARITHMETIC_RIGHT); }

// Bit width of a value type, 0 for a type without one.
static int TypeWidth(int type)
{
    switch (type) {
    case MATHTYPE_INTEGER: return 32;
    case MATHTYPE_SHORT: return 16;
    case MATHTYPE_BYTE: return 8;
    default: return 0;
    }
}

static uint32_t WidthMask(int width) { return width == 32 ? 0xFFFFFFFFu : (1u << width) - 1u; }

// Rotates left by n modulo the width (right rotations pass -n).
static int Rotate(double x, int64_t n, int type, double *out)
{
    int width = TypeWidth(type);
    if (!width) return ERR_WRONGUSAGE;
    uint32_t mask = WidthMask(width);
    uint32_t v = NumberToU32(x) & mask;
    int k = int(((n % width) + width) % width);
    if (k) v = ((v << k) | (v >> (width - k))) & mask;
    *out = double(v);
    return 0;
}

int MathRol(double x, double n, int type, double *out) { return Rotate(x, NumberToInt64(n) % 64, type, out); }
int MathRor(double x, double n, int type, double *out) { return Rotate(x, -(NumberToInt64(n) % 64), type, out); }

int MathCast(double x, int isSigned, int type, double *out)
{
    uint32_t v = NumberToU32(x);
    switch (type) {
    case MATHTYPE_INTEGER: *out = isSigned ? double(int32_t(v)) : double(v); return 0;
    case MATHTYPE_SHORT: *out = isSigned ? double(int16_t(v)) : double(uint16_t(v)); return 0;
    case MATHTYPE_BYTE: *out = isSigned ? double(int8_t(v)) : double(uint8_t(v)); return 0;
    default: return ERR_WRONGUSAGE;
    }
}

int MathEndianSwap(double x, int bits, double *out)
{
    uint32_t v = NumberToU32(x);
    if (bits == 16) *out = double(uint32_t(((v & 0xFF) << 8) | ((v >> 8) & 0xFF)));
    else if (bits == 32) *out = double(__builtin_bswap32(v));
    else return ERR_WRONGUSAGE;
    return 0;
}

// The bit number 0..31, or -1.
static int BitIndex(double bit)
{
    int64_t b = NumberToInt64(bit);
    return (b >= 0 && b <= 31) ? int(b) : -1;
}

int MathBitSet(double x, double bit, double *out)
{
    int b = BitIndex(bit);
    if (b < 0) return ERR_WRONGUSAGE;
    *out = double(NumberToU32(x) | (1u << b));
    return 0;
}

int MathBitClear(double x, double bit, double *out)
{
    int b = BitIndex(bit);
    if (b < 0) return ERR_WRONGUSAGE;
    *out = double(NumberToU32(x) & ~(1u << b));
    return 0;
}

int MathBitTest(double x, double bit, double *out)
{
    int b = BitIndex(bit);
    if (b < 0) return ERR_WRONGUSAGE;
    *out = double((NumberToU32(x) >> b) & 1u);
    return 0;
}

double MathBitXor(double a, double b) { return double(NumberToU32(a) ^ NumberToU32(b)); }
double MathBitComplement(double x) { return double(~NumberToU32(x)); }

// ============================================================================
// Random numbers
// ============================================================================

int MathRnd(double n, double *out)
{
    int32_t limit = NumberToS32(n);
    if (limit < 0) return ERR_WRONGUSAGE;
    *out = limit == 0 ? 0.0 : double(NumberToS32(NextRandomDouble() * double(limit)));
    return 0;
}

double MathRndF() { return NextRandomDouble(); }

void MathRndSeed(double seed)
{
    uint32_t s = NumberToU32(seed);
    srand(s);
    SeedRandom48(s);
}

// The kernel's random source; getrandom may return fewer bytes than asked.
static int SystemRandomBytes(void *buffer, size_t length)
{
    uint8_t *p = static_cast<uint8_t *>(buffer);
    while (length > 0) {
        ssize_t n = getrandom(p, length, 0);
        if (n < 0) {
            if (errno == EINTR) continue;
            return 0;
        }
        p += n;
        length -= size_t(n);
    }
    return 1;
}

static lvStrongRandomSource strongSource = SystemRandomBytes;

void SetStrongRandomSource(lvStrongRandomSource source) { strongSource = source ? source : SystemRandomBytes; }

int MathRndStrongInteger(double n, double *out)
{
    uint8_t bytes[4];
    if (!strongSource(bytes, sizeof bytes)) return ERR_RANDOMIZE;
    uint32_t v;
    std::memcpy(&v, bytes, 4);
    uint32_t limit = NumberToU32(n);
    if (limit != 0xFFFFFFFFu) v %= limit + 1u;
    *out = double(v);
    return 0;
}

int MathRndStrongString(double n, std::string *out)
{
    size_t length = NumberToU32(n);
    std::string bytes;
    try {
        bytes.resize(length);
    } catch (const std::bad_alloc &) {
        return ERR_MEM;
    }
    if (length && !strongSource(bytes.data(), length)) return ERR_RANDOMIZE;
    *out = std::move(bytes);
    return 0;
}

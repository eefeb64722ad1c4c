// math_engine.h - the number operations of the math library, apart from its
// commands: each command reads its arguments as doubles, calls one function here
// and pushes the result.
//
// Integer rules: every conversion of a script number to an integer goes through the
// machine's NumberToInt64 (vm/lvvm.h): truncation toward zero, and NaN, infinities
// and values beyond the 64-bit range give INT64_MIN, as the 32-bit original's
// processor did. NumberToU32 and NumberToS32 below build on it and are the only
// other conversions the core libraries use.
//
// Functions that can fail return 0 or an error code (ERR_WRONGUSAGE for an argument
// out of range, ERR_ZERODIVISION for a zero divisor) and write their result only on
// success. Domain errors of the elementary functions are no errors: their result is
// the IEEE value. Needs strict IEEE arithmetic (never -ffast-math).
//
// Depends on: vm/lvvm.h (NumberToInt64), runtime/random.h (the run's 48-bit
// generator), base/lverrors.h. No VM state.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

// Value type numbers of Ror, Rol, Cast and RndStrong (the base library's constants).
enum {
    MATHTYPE_INTEGER = 1,  // 32 bits
    MATHTYPE_STRING = 3,   // RndStrong: a string of random bytes
    MATHTYPE_SHORT = 6,    // 16 bits
    MATHTYPE_BYTE = 7,     // 8 bits
};

// ---- Conversions ----------------------------------------------------------------------
// x truncated to a 64-bit integer (the machine's rule), its low 32 bits unsigned.
uint32_t NumberToU32(double x);
// x truncated to a 32-bit signed integer; NaN, infinities and values outside the
// 32-bit range give INT32_MIN, the processor's "integer indefinite".
int32_t NumberToS32(double x);

// ---- Constants ------------------------------------------------------------------------
// PI, and NAN and INF by their bit patterns 0x7FF8000000000000 and 0x7FF0000000000000.
const double MATH_PI = 3.141592653589793;
double MathNan();
double MathInf();

// ---- Elementary functions with rules of their own -------------------------------------
// fmod(a, b) (sign of a); b = 0: ERR_ZERODIVISION.
int MathMod(double a, double b, double *out);
// a / b; b = 0: ERR_ZERODIVISION.
int MathDiv(double a, double b, double *out);
// The n-th root x^(1/n): n = 0 ERR_ZERODIVISION, n < 0 ERR_WRONGUSAGE.
int MathRoot(double x, double n, double *out);
// ln(x) / ln(base); Ld is base 2.
double MathLog(double x, double base);
double MathLd(double x);
// Radians to degrees and back, by the constant 0.017453292519943295.
double MathDeg(double x);
double MathRad(double x);
// Mantissa (0.5 <= |m| < 1, or 0) and exponent with x = m * 2^e.
void MathFrExp(double x, double *mantissa, int *exponent);
// The smallest or largest of count >= 1 numbers.
double MathMin(const double *values, size_t count);
double MathMax(const double *values, size_t count);
// Nearest integer, ties to even, as a 32-bit signed integer: x + 1.5 * 2^52 and the low
// 32 bits of the sum's bit pattern (larger values keep only their low 32 bits).
int32_t MathRound(double x);
// Integer part toward zero; fractional part with the sign of x.
double MathInt(double x);
double MathFrac(double x);
// One wrap step: below low -> high + (x - low); at or above high -> low + (x - high).
double MathWrap(double x, double low, double high);
// low when x < low, else the smaller of x and high.
double MathLimit(double x, double low, double high);
// -1, 0 or 1 (0 for NaN).
double MathSgn(double x);
// 1 when |a + b| * 2^-52 > |a - b|.
int MathNearlyEqual(double a, double b);
// Bit tests on the IEEE pattern, unaffected by compiler assumptions about NaN.
int MathIsNan(double x);
int MathIsInf(double x);
int MathIsFinite(double x);

// ---- Shifts, rotations and bits -------------------------------------------------------
// With mode64 0: count = low 5 bits of n; Shr and Shl on U32(x) (unsigned results), Sar on
// the signed 32-bit pattern. With mode64 set: operand S64(x), count S32(n); 1..63 shift
// in the operation's direction, -63..0 the other way (logically right for Shl), and 64
// or more either way give 0; the result is the signed 64-bit value.
double MathShr(double x, double n, int mode64);
double MathShl(double x, double n, int mode64);
double MathSar(double x, double n, int mode64);
// Rotate the low 32, 16 or 8 bits of U32(x) (type 1, 6, 7) by n modulo the width; a
// negative n rotates the other way. Other types: ERR_WRONGUSAGE.
int MathRor(double x, double n, int type, double *out);
int MathRol(double x, double n, int type, double *out);
// The type's low bits of U32(x), signed or unsigned. Other types: ERR_WRONGUSAGE.
int MathCast(double x, int isSigned, int type, double *out);
// bits 16: the two low bytes swapped (0..65535); 32: all four. Else ERR_WRONGUSAGE.
int MathEndianSwap(double x, int bits, double *out);
// U32(x) with a bit set or cleared, or the bit's state (0/1); bit outside 0..31: ERR_WRONGUSAGE.
int MathBitSet(double x, double bit, double *out);
int MathBitClear(double x, double bit, double *out);
int MathBitTest(double x, double bit, double *out);
double MathBitXor(double a, double b);
double MathBitComplement(double x);

// ---- Random numbers -------------------------------------------------------------------
// Rnd: S32(NextRandomDouble() * S32(n)), 0 for n = 0; n < 0: ERR_WRONGUSAGE.
int MathRnd(double n, double *out);
// RndF: NextRandomDouble(), in [0, 1).
double MathRndF();
// Seeds the C library's rand() sequence and the run's 48-bit generator with U32(seed).
void MathRndSeed(double seed);

// The cryptographic source: fills length bytes, 1 on success, 0 on failure.
typedef int (*lvStrongRandomSource)(void *buffer, size_t length);
// Replaces the source (nullptr: the system's). Tests only.
void SetStrongRandomSource(lvStrongRandomSource source);
// RndStrong(INTEGER, n): a random 32-bit value v, or v modulo (U32(n) + 1) unless U32(n)
// is 0xFFFFFFFF. ERR_RANDOMIZE when the source fails.
int MathRndStrongInteger(double n, double *out);
// RndStrong(STRING, n): U32(n) random bytes. ERR_MEM, ERR_RANDOMIZE.
int MathRndStrongString(double n, std::string *out);

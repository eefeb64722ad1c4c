// Math engine: rounding, integer conversions, shifts, rotations, bit tests, the
// random sources and the IEEE classification.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "libs/math_engine.h"
#include "base/lverrors.h"

TEST(MathConvert, NanInfAndOutOfRangeGiveTheIndefiniteInteger)
{
    // Low 32 bits of INT64_MIN are 0.
    EXPECT_EQ(NumberToU32(MathNan()), 0u);
    EXPECT_EQ(NumberToU32(MathInf()), 0u);
    EXPECT_EQ(NumberToU32(-1.0), 0xFFFFFFFFu);
    EXPECT_EQ(NumberToU32(4294967296.0 + 5), 5u);
    EXPECT_EQ(NumberToU32(-3.9), 0xFFFFFFFDu);
    EXPECT_EQ(NumberToS32(MathNan()), INT32_MIN);
    EXPECT_EQ(NumberToS32(3e9), INT32_MIN);
    EXPECT_EQ(NumberToS32(-2147483648.0), INT32_MIN);
    EXPECT_EQ(NumberToS32(2147483647.9), INT32_MAX);
    EXPECT_EQ(NumberToS32(-7.9), -7);
}

TEST(MathRound, TiesToEvenAndLow32Bits)
{
    struct { double x; int32_t r; } cases[] = {
        {0.5, 0}, {1.5, 2}, {2.5, 2}, {3.5, 4}, {-0.5, 0}, {-1.5, -2}, {-2.5, -2},
        {2.4999, 2}, {-3.6, -4}, {2147483647.0, 2147483647}, {2147483648.0, INT32_MIN},
        {4294967297.0, 1},
    };
    for (auto &c : cases) EXPECT_EQ(MathRound(c.x), c.r) << c.x;
}

TEST(MathBasics, PartsWrapLimitAndDivisions)
{
    EXPECT_EQ(MathInt(-3.7), -3.0);
    EXPECT_NEAR(MathFrac(-3.7), -0.7, 1e-12);
    EXPECT_EQ(MathWrap(12, 0, 10), 2);
    EXPECT_EQ(MathWrap(-1, 0, 10), 9);
    EXPECT_EQ(MathWrap(25, 0, 10), 15);
    EXPECT_EQ(MathWrap(10, 0, 10), 0);
    EXPECT_EQ(MathLimit(5, 0, 3), 3);
    EXPECT_EQ(MathLimit(-1, 0, 3), 0);
    double v = 0;
    EXPECT_EQ(MathMod(7, 0, &v), ERR_ZERODIVISION);
    EXPECT_EQ(MathDiv(1, 0, &v), ERR_ZERODIVISION);
    EXPECT_EQ(MathRoot(8, 0, &v), ERR_ZERODIVISION);
    EXPECT_EQ(MathRoot(8, -2, &v), ERR_WRONGUSAGE);
    ASSERT_EQ(MathRoot(8, 3, &v), 0);
    EXPECT_NEAR(v, 2.0, 1e-15);
    ASSERT_EQ(MathMod(-7, 3, &v), 0);
    EXPECT_EQ(v, -1);
    EXPECT_EQ(MathSgn(-0.1), -1);
    EXPECT_EQ(MathSgn(0), 0);
    EXPECT_NEAR(MathDeg(MATH_PI), 180.0, 1e-12);
    EXPECT_NEAR(MathLog(1000, 10), 3.0, 1e-12);
    EXPECT_EQ(MathLd(1024), 10.0);
    double m;
    int e;
    MathFrExp(8, &m, &e);
    EXPECT_EQ(m, 0.5);
    EXPECT_EQ(e, 4);
    double list[] = {3, 1, 2};
    EXPECT_EQ(MathMin(list, 3), 1);
    EXPECT_EQ(MathMax(list, 3), 3);
    EXPECT_EQ(MathNearlyEqual(0.1 + 0.2, 0.3), 1);
    EXPECT_EQ(MathNearlyEqual(1, 1.001), 0);
    EXPECT_EQ(MathNearlyEqual(0, 0), 0);
}

TEST(MathShift, ThirtyTwoAndSixtyFourBitModes)
{
    struct { double (*f)(double, double, int); double x, n; int mode64; double r; } cases[] = {
        {MathShl, 1, 31, 0, 2147483648.0},
        {MathShl, 1, 32, 0, 1},  // count modulo 32
        {MathShr, -1, 28, 0, 15},
        {MathSar, -16, 2, 0, -4},
        {MathSar, 2147483648.0, 31, 0, -1},
        {MathShl, 1, 40, 1, 1099511627776.0},
        {MathShr, -1, 64, 1, 0},
        {MathShl, 1, 64, 1, 0},
        {MathSar, -1, 64, 1, 0},
        {MathSar, -1, -64, 1, 0},
        {MathShr, -1, 1000, 1, 0},
        {MathShr, -1, 1, 1, 9223372036854775807.0},
        {MathSar, -8, 1, 1, -4},
        {MathShr, 1, -3, 1, 8},    // negative count shifts left
        {MathShl, -16, -2, 1, 4611686018427387900.0},  // logically right
        {MathShr, 5, 0, 1, 5},
    };
    for (auto &c : cases) EXPECT_EQ(c.f(c.x, c.n, c.mode64), c.r) << c.x << " by " << c.n;
}

TEST(MathBits, RotateCastSwapAndBitOps)
{
    double v = 0;
    ASSERT_EQ(MathRol(double(0x80000001u), 1, MATHTYPE_INTEGER, &v), 0);
    EXPECT_EQ(v, 3);
    ASSERT_EQ(MathRor(1, 1, MATHTYPE_BYTE, &v), 0);
    EXPECT_EQ(v, 128);
    ASSERT_EQ(MathRol(0x8001, 1, MATHTYPE_SHORT, &v), 0);
    EXPECT_EQ(v, 3);
    ASSERT_EQ(MathRol(1, -1, MATHTYPE_INTEGER, &v), 0);
    EXPECT_EQ(v, 2147483648.0);
    ASSERT_EQ(MathRor(0x12, 36, MATHTYPE_INTEGER, &v), 0);  // 36 mod 32 = 4
    EXPECT_EQ(v, double(0x20000001u));
    EXPECT_EQ(MathRor(1, 1, 11, &v), ERR_WRONGUSAGE);
    EXPECT_EQ(MathRol(1, 1, 11, &v), ERR_WRONGUSAGE);

    ASSERT_EQ(MathCast(255, 1, MATHTYPE_BYTE, &v), 0);
    EXPECT_EQ(v, -1);
    ASSERT_EQ(MathCast(255, 0, MATHTYPE_BYTE, &v), 0);
    EXPECT_EQ(v, 255);
    ASSERT_EQ(MathCast(65535, 1, MATHTYPE_SHORT, &v), 0);
    EXPECT_EQ(v, -1);
    ASSERT_EQ(MathCast(-1, 0, MATHTYPE_INTEGER, &v), 0);
    EXPECT_EQ(v, 4294967295.0);
    EXPECT_EQ(MathCast(1, 0, 3, &v), ERR_WRONGUSAGE);

    ASSERT_EQ(MathEndianSwap(0x1234, 16, &v), 0);
    EXPECT_EQ(v, 0x3412);
    ASSERT_EQ(MathEndianSwap(0xAB1234, 16, &v), 0);
    EXPECT_EQ(v, 0x3412);
    ASSERT_EQ(MathEndianSwap(1, 32, &v), 0);
    EXPECT_EQ(v, 16777216);
    EXPECT_EQ(MathEndianSwap(1, 8, &v), ERR_WRONGUSAGE);

    ASSERT_EQ(MathBitSet(0, 31, &v), 0);
    EXPECT_EQ(v, 2147483648.0);
    ASSERT_EQ(MathBitTest(5, 2, &v), 0);
    EXPECT_EQ(v, 1);
    ASSERT_EQ(MathBitClear(-1, 0, &v), 0);
    EXPECT_EQ(v, 4294967294.0);
    EXPECT_EQ(MathBitSet(0, 32, &v), ERR_WRONGUSAGE);
    EXPECT_EQ(MathBitTest(0, -1, &v), ERR_WRONGUSAGE);
    EXPECT_EQ(MathBitXor(-1, 1), 4294967294.0);
    EXPECT_EQ(MathBitComplement(0), 4294967295.0);
}

TEST(MathIeee, ClassificationByBits)
{
    EXPECT_EQ(std::bit_cast<uint64_t>(MathNan()), 0x7FF8000000000000ull);
    EXPECT_EQ(std::bit_cast<uint64_t>(MathInf()), 0x7FF0000000000000ull);
    double negNan = std::bit_cast<double>(uint64_t(0xFFF0000000000001ull));
    struct { double x; int nan, inf, finite; } cases[] = {
        {MathNan(), 1, 0, 0}, {negNan, 1, 0, 0}, {MathInf(), 0, 1, 0}, {-MathInf(), 0, 1, 0},
        {0.0, 0, 0, 1}, {-0.0, 0, 0, 1}, {1e308, 0, 0, 1}, {4.9e-324, 0, 0, 1},
    };
    for (auto &c : cases) {
        EXPECT_EQ(MathIsNan(c.x), c.nan) << c.x;
        EXPECT_EQ(MathIsInf(c.x), c.inf) << c.x;
        EXPECT_EQ(MathIsFinite(c.x), c.finite) << c.x;
    }
}

TEST(MathRandom, SeedReproducesTheSequenceOfTheDrand48Recurrence)
{
    MathRndSeed(42);
    double first[8];
    for (int i = 0; i < 8; i++) {
        if (i % 2) first[i] = MathRndF();
        else ASSERT_EQ(MathRnd(1000, &first[i]), 0);
    }
    MathRndSeed(42);
    srand48(42);  // the same recurrence, seeded the same way
    for (int i = 0; i < 8; i++) {
        double v;
        double reference = drand48();
        if (i % 2) {
            v = MathRndF();
            EXPECT_EQ(v, reference);
        } else {
            ASSERT_EQ(MathRnd(1000, &v), 0);
            EXPECT_EQ(v, std::trunc(reference * 1000));
        }
        EXPECT_EQ(v, first[i]);
    }
    double v = 5;
    EXPECT_EQ(MathRnd(0, &v), 0);
    EXPECT_EQ(v, 0);
    EXPECT_EQ(MathRnd(-1, &v), ERR_WRONGUSAGE);
}

static int FailingSource(void *, size_t) { return 0; }
static int CountingSource(void *buffer, size_t length)
{
    static uint8_t next = 0;
    for (size_t i = 0; i < length; i++) static_cast<uint8_t *>(buffer)[i] = next++;
    return 1;
}

TEST(MathRandom, StrongSource)
{
    double v = -1;
    for (int i = 0; i < 50; i++) {
        ASSERT_EQ(MathRndStrongInteger(9, &v), 0);
        EXPECT_GE(v, 0);
        EXPECT_LE(v, 9);
    }
    std::string s;
    ASSERT_EQ(MathRndStrongString(16, &s), 0);
    EXPECT_EQ(s.size(), 16u);

    SetStrongRandomSource(CountingSource);  // bytes 0,1,2,3 -> 0x03020100
    ASSERT_EQ(MathRndStrongInteger(-1, &v), 0);
    EXPECT_EQ(v, double(0x03020100u));
    ASSERT_EQ(MathRndStrongInteger(255, &v), 0);  // 0x07060504 mod 256
    EXPECT_EQ(v, 4);
    SetStrongRandomSource(FailingSource);
    EXPECT_EQ(MathRndStrongInteger(9, &v), ERR_RANDOMIZE);
    EXPECT_EQ(MathRndStrongString(4, &s), ERR_RANDOMIZE);
    SetStrongRandomSource(nullptr);
}

// lib_math.cpp - the commands of the "math" library: elementary functions, rounding,
// integer and bit operations, random numbers and the NaN/infinity tests, each a thin
// reader of its arguments over libs/math_engine.h.
// Dependencies: vm/lvvm.h, libs/math_engine.h, libs/lib_core2.h. Needs strict IEEE
// arithmetic (never -ffast-math).
#include <cmath>
#include <string>
#include <vector>

#include "libs/lib_core2.h"
#include "libs/math_engine.h"
#include "runtime/cmdsupport.h"

// ---- Helpers -------------------------------------------------------------------------------

// One number in, one number out.
template <double (*F)(double)>
static int UnaryCommand(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    PushNumber(L, F(CheckNumberArg(L, 1)));
    return 1;
}

// Two numbers in, one number out.
template <double (*F)(double, double)>
static int BinaryCommand(lvState *L)
{
    CheckArgCount(L, 2, 2, 0, 0);
    PushNumber(L, F(CheckNumberArg(L, 1), CheckNumberArg(L, 2)));
    return 1;
}

// Two numbers in, one number out or an error code.
template <int (*F)(double, double, double *)>
static int CheckedBinaryCommand(lvState *L)
{
    CheckArgCount(L, 2, 2, 0, 0);
    double out = 0;
    int code = F(CheckNumberArg(L, 1), CheckNumberArg(L, 2), &out);
    if (code) return code;
    PushNumber(L, out);
    return 1;
}

static double Abs(double x) { return std::fabs(x); }
static double Sin(double x) { return std::sin(x); }
static double Cos(double x) { return std::cos(x); }
static double Tan(double x) { return std::tan(x); }
static double ASin(double x) { return std::asin(x); }
static double ACos(double x) { return std::acos(x); }
static double ATan(double x) { return std::atan(x); }
static double ATan2(double y, double x) { return std::atan2(y, x); }
static double Ceil(double x) { return std::ceil(x); }
static double Floor(double x) { return std::floor(x); }
static double Sqrt(double x) { return std::sqrt(x); }
static double Ln(double x) { return std::log(x); }
static double Exp(double x) { return std::exp(x); }
static double Pow(double x, double y) { return std::pow(x, y); }
static double Add(double a, double b) { return a + b; }
static double Sub(double a, double b) { return a - b; }
static double Mul(double a, double b) { return a * b; }
static double RawDiv(double a, double b) { return a / b; }
static double Hypot(double a, double b) { return std::sqrt(a * a + b * b); }
static double Round(double x) { return MathRound(x); }
static double IsNan(double x) { return MathIsNan(x); }
static double IsInf(double x) { return MathIsInf(x); }
static double IsFinite(double x) { return MathIsFinite(x); }
static double NearlyEqual(double a, double b) { return MathNearlyEqual(a, b); }
static int BitSet(double x, double b, double *o) { return MathBitSet(x, b, o); }
static int BitClear(double x, double b, double *o) { return MathBitClear(x, b, o); }
static int BitTest(double x, double b, double *o) { return MathBitTest(x, b, o); }

// ---- Commands with rules of their own ---------------------------------------------------------

static int CmdFrExp(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    double m = 0;
    int e = 0;
    MathFrExp(CheckNumberArg(L, 1), &m, &e);
    PushNumber(L, m);
    PushNumber(L, e);
    return 2;
}

static int CmdLdExp(lvState *L)
{
    CheckArgCount(L, 2, 2, 0, 0);
    double m = CheckNumberArg(L, 1);
    PushNumber(L, std::ldexp(m, NumberToS32(CheckNumberArg(L, 2))));
    return 1;
}

// Min and Max take two or more numbers.
template <double (*F)(const double *, size_t)>
static int ExtremeCommand(lvState *L)
{
    CheckArgCount(L, 2, 0, 0, 0);
    int n = GetStackTop(L);
    std::vector<double> values(static_cast<size_t>(n));
    for (int i = 0; i < n; i++) values[static_cast<size_t>(i)] = CheckNumberArg(L, i + 1);
    PushNumber(L, F(values.data(), values.size()));
    return 1;
}

static int CmdRnd(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    double out = 0;
    int code = MathRnd(CheckNumberArg(L, 1), &out);
    if (code) return code;
    PushNumber(L, out);
    return 1;
}

static int CmdRndF(lvState *L)
{
    CheckArgCount(L, 0, 0, 0, 0);
    PushNumber(L, MathRndF());
    return 1;
}

static int CmdRndSeed(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    MathRndSeed(CheckNumberArg(L, 1));
    return 0;
}

static int CmdRndStrong(lvState *L)
{
    CheckArgCount(L, 2, 2, 0, 0);
    int type = NumberToS32(CheckNumberArg(L, 1));
    double n = CheckNumberArg(L, 2);
    if (type == MATHTYPE_INTEGER) {
        double out = 0;
        int code = MathRndStrongInteger(n, &out);
        if (code) return code;
        PushNumber(L, out);
        return 1;
    }
    if (type == MATHTYPE_STRING) {
        std::string bytes;
        int code = MathRndStrongString(n, &bytes);
        if (code) return code;
        PushSizedString(L, bytes.data(), bytes.size());
        return 1;
    }
    return ERR_WRONGUSAGE;
}

// Shifts take an optional 64-bit mode.
template <double (*F)(double, double, int)>
static int ShiftCommand(lvState *L)
{
    CheckArgCount(L, 2, 3, 0, 0);
    double x = CheckNumberArg(L, 1);
    double n = CheckNumberArg(L, 2);
    int mode64 = NumberToS32(GetOptionalNumberArg(L, 3, 0)) != 0;
    PushNumber(L, F(x, n, mode64));
    return 1;
}

// Rotations take an optional value type (INTEGER).
template <int (*F)(double, double, int, double *)>
static int RotateCommand(lvState *L)
{
    CheckArgCount(L, 2, 3, 0, 0);
    double x = CheckNumberArg(L, 1);
    double n = CheckNumberArg(L, 2);
    int type = NumberToS32(GetOptionalNumberArg(L, 3, MATHTYPE_INTEGER));
    double out = 0;
    int code = F(x, n, type, &out);
    if (code) return code;
    PushNumber(L, out);
    return 1;
}

static int CmdCast(lvState *L)
{
    CheckArgCount(L, 3, 3, 0, 0);
    double x = CheckNumberArg(L, 1);
    int isSigned = NumberToS32(CheckNumberArg(L, 2)) != 0;
    int type = NumberToS32(CheckNumberArg(L, 3));
    double out = 0;
    int code = MathCast(x, isSigned, type, &out);
    if (code) return code;
    PushNumber(L, out);
    return 1;
}

static int CmdEndianSwap(lvState *L)
{
    CheckArgCount(L, 2, 2, 0, 0);
    double x = CheckNumberArg(L, 1);
    double out = 0;
    int code = MathEndianSwap(x, NumberToS32(CheckNumberArg(L, 2)), &out);
    if (code) return code;
    PushNumber(L, out);
    return 1;
}

// Three numbers in, one out (Wrap, Limit).
template <double (*F)(double, double, double)>
static int TernaryCommand(lvState *L)
{
    CheckArgCount(L, 3, 3, 0, 0);
    PushNumber(L, F(CheckNumberArg(L, 1), CheckNumberArg(L, 2), CheckNumberArg(L, 3)));
    return 1;
}

static int CmdPi(lvState *L)
{
    CheckArgCount(L, 0, 0, 0, 0);
    PushNumber(L, MATH_PI);
    return 1;
}

// ---- Library ----------------------------------------------------------------------------------

static const lvCommandEntry MathCommands[] = {
    {"Abs", UnaryCommand<Abs>},
    {"Sin", UnaryCommand<Sin>},
    {"Cos", UnaryCommand<Cos>},
    {"Tan", UnaryCommand<Tan>},
    {"ASin", UnaryCommand<ASin>},
    {"ACos", UnaryCommand<ACos>},
    {"ATan", UnaryCommand<ATan>},
    {"ATan2", BinaryCommand<ATan2>},
    {"Ceil", UnaryCommand<Ceil>},
    {"Floor", UnaryCommand<Floor>},
    {"Mod", CheckedBinaryCommand<MathMod>},
    {"FrExp", CmdFrExp},
    {"LdExp", CmdLdExp},
    {"Sqrt", UnaryCommand<Sqrt>},
    {"Min", ExtremeCommand<MathMin>},
    {"Max", ExtremeCommand<MathMax>},
    {"Log", BinaryCommand<MathLog>},
    {"Ld", UnaryCommand<MathLd>},
    {"Ln", UnaryCommand<Ln>},
    {"Exp", UnaryCommand<Exp>},
    {"Deg", UnaryCommand<MathDeg>},
    {"Pow", BinaryCommand<Pow>},
    {"Rad", UnaryCommand<MathRad>},
    {"Rnd", CmdRnd},
    {"RndF", CmdRndF},
    {"Add", BinaryCommand<Add>},
    {"Sub", BinaryCommand<Sub>},
    {"Mul", BinaryCommand<Mul>},
    {"Div", CheckedBinaryCommand<MathDiv>},
    {"Round", UnaryCommand<Round>},
    {"Int", UnaryCommand<MathInt>},
    {"Frac", UnaryCommand<MathFrac>},
    {"Shr", ShiftCommand<MathShr>},
    {"Shl", ShiftCommand<MathShl>},
    {"Rt", CheckedBinaryCommand<MathRoot>},
    {"Wrap", TernaryCommand<MathWrap>},
    {"Limit", TernaryCommand<MathLimit>},
    {"BitSet", CheckedBinaryCommand<BitSet>},
    {"BitClear", CheckedBinaryCommand<BitClear>},
    {"BitTest", CheckedBinaryCommand<BitTest>},
    {"BitXor", BinaryCommand<MathBitXor>},
    {"BitComplement", UnaryCommand<MathBitComplement>},
    {"Sgn", UnaryCommand<MathSgn>},
    {"Sar", ShiftCommand<MathSar>},
    {"Ror", RotateCommand<MathRor>},
    {"Rol", RotateCommand<MathRol>},
    {"Cast", CmdCast},
    {"Hypot", BinaryCommand<Hypot>},
    {"EndianSwap", CmdEndianSwap},
    {"RndStrong", CmdRndStrong},
    {"IsNan", UnaryCommand<IsNan>},
    {"IsInf", UnaryCommand<IsInf>},
    {"IsFinite", UnaryCommand<IsFinite>},
    {"RawDiv", BinaryCommand<RawDiv>},
    {"Pi", CmdPi},
    {"NearlyEqual", BinaryCommand<NearlyEqual>},
    {"RndSeed", CmdRndSeed},
    {nullptr, nullptr},
};

const lvCommandEntry *GetMathCommands(void) { return MathCommands; }

// NAN and INF are stored as 0 and filled from their bit patterns when first asked for.
static lvConstantEntry MathConstants[] = {
    {"PI", nullptr, MATH_PI},
    {"NAN", nullptr, 0},
    {"INF", nullptr, 0},
    {nullptr, nullptr, 0},
};

const lvConstantEntry *GetMathConstants(void)
{
    MathConstants[1].number = MathNan();
    MathConstants[2].number = MathInf();
    return MathConstants;
}

int OpenMathLibrary(lvState *L)
{
    return RegisterCommandTable(L, MathCommands, "math");
}

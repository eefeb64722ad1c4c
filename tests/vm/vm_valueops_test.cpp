// Value operations: number text, conversions, arithmetic, bit operations,
// comparisons and concatenation, in one table of cases; run again under a
// German process locale to show that number text ignores it.
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <filesystem>

#include "tests/vm/vm_test_util.h"

namespace {
enum Kind { NIL, NUM, STR, TAB };
struct Operand {
    Kind kind;
    double n;
    const char *s;
};
Operand Nil() { return {NIL, 0, nullptr}; }
Operand N(double n) { return {NUM, n, nullptr}; }
Operand S(const char *s) { return {STR, 0, s}; }
Operand T() { return {TAB, 0, nullptr}; }

enum Op { ADD, INTDIV, MOD, DIV, SHL, SHR, OR, AND, BNOT, UNM, CONCAT, EQ, LT, LE };

struct Case {
    const char *what;
    Op op;
    Operand a, b;
    int status;       // expected error code, 0 for success
    Kind resultKind;  // NUM or STR on success (EQ/LT/LE give NUM 1/0)
    double n;         // expected number
    const char *s;    // expected text
};

const Case kCases[] = {
    {"$FF + 0", ADD, S("$FF"), N(0), 0, NUM, 255, nullptr},
    {"0x10 + 0", ADD, S("0x10"), N(0), 0, NUM, 16, nullptr},
    {"$ alone", ADD, S("$"), N(0), ERR_WRONGOP, NIL, 0, nullptr},
    {"0x alone", ADD, S("0x"), N(0), ERR_WRONGOP, NIL, 0, nullptr},
    {"' 12 ' + 0", ADD, S(" 12 "), N(0), 0, NUM, 12, nullptr},
    {"inf text is not a number", ADD, S("inf"), N(0), ERR_WRONGOP, NIL, 0, nullptr},
    {"nan text is not a number", ADD, S("nan"), N(0), ERR_WRONGOP, NIL, 0, nullptr},
    {"hex float is not a number", ADD, S("0x1p4"), N(0), ERR_WRONGOP, NIL, 0, nullptr},
    {"trailing letters", ADD, S("12abc"), N(0), ERR_WRONGOP, NIL, 0, nullptr},
    {"decimal with exponent", ADD, S("1.5e3"), N(0), 0, NUM, 1500, nullptr},
    {"decimal comma is not a number", ADD, S("1,5"), N(0), ERR_WRONGOP, NIL, 0, nullptr},
    {"nil + 1", ADD, Nil(), N(1), 0, NUM, 1, nullptr},
    {"7 \\ 2", INTDIV, N(7), N(2), 0, NUM, 3, nullptr},
    {"-7 \\ 2", INTDIV, N(-7), N(2), 0, NUM, -3, nullptr},
    {"-7 % 2", MOD, N(-7), N(2), 0, NUM, -1, nullptr},
    {"5 \\ 0.5", INTDIV, N(5), N(0.5), ERR_ZERODIVISION, NIL, 0, nullptr},
    {"5 % 0.9", MOD, N(5), N(0.9), ERR_ZERODIVISION, NIL, 0, nullptr},
    {"5 \\ 2^32 is not zero", INTDIV, N(5), N(4294967296.0), 0, NUM, 0, nullptr},
    {"1 / 0", DIV, N(1), N(0), ERR_ZERODIVISION, NIL, 0, nullptr},
    {"min int \\ -1", INTDIV, N(-9223372036854775808.0), N(-1), 0, NUM, 9223372036854775808.0, nullptr},
    {"min int % -1", MOD, N(-9223372036854775808.0), N(-1), 0, NUM, 0, nullptr},
    {"NaN \\ 3", INTDIV, N(NAN), N(3), 0, NUM, -3074457345618258602.0, nullptr},
    {"1 << 33", SHL, N(1), N(33), 0, NUM, 2, nullptr},
    {"-1 >> 28", SHR, N(-1), N(28), 0, NUM, 15, nullptr},
    {"-1 | 0", OR, N(-1), N(0), 0, NUM, 4294967295.0, nullptr},
    {"NaN | 0", OR, N(NAN), N(0), 0, NUM, 0, nullptr},
    {"1e300 & -1", AND, N(1e300), N(-1), 0, NUM, 0, nullptr},
    {"~nil", BNOT, Nil(), Nil(), 0, NUM, 4294967295.0, nullptr},
    {"~'$F0'", BNOT, S("$F0"), Nil(), 0, NUM, 4294967055.0, nullptr},
    {"~table", BNOT, T(), Nil(), ERR_WRONGOP, NIL, 0, nullptr},
    {"-nil", UNM, Nil(), Nil(), 0, NUM, -0.0, nullptr},
    {"'a' .. nil", CONCAT, S("a"), Nil(), 0, STR, 0, "a"},
    {"'a' .. 1", CONCAT, S("a"), N(1), 0, STR, 0, "a1"},
    {"0.1 .. ''", CONCAT, N(0.1), S(""), 0, STR, 0, "0.1"},
    {"1e15 .. ''", CONCAT, N(1e15), S("x"), 0, STR, 0, "1e+15x"},
    {"1/3 .. ''", CONCAT, N(1.0 / 3), S("x"), 0, STR, 0, "0.33333333333333x"},
    {"2^53 .. ''", CONCAT, N(9007199254740992.0), S(""), 0, STR, 0, "9.007199254741e+15"},
    {"inf .. ''", CONCAT, N(INFINITY), S("!"), 0, STR, 0, "inf!"},
    {"-inf .. ''", CONCAT, N(-INFINITY), S("!"), 0, STR, 0, "-inf!"},
    {"nan .. ''", CONCAT, N(-NAN), S("!"), 0, STR, 0, "nan!"},
    {"table .. 'a'", CONCAT, T(), S("a"), ERR_CONCAT, NIL, 0, nullptr},
    {"nil == 0", EQ, Nil(), N(0), 0, NUM, 1, nullptr},
    {"nil == ''", EQ, Nil(), S(""), 0, NUM, 1, nullptr},
    {"nil == 'x'", EQ, Nil(), S("x"), 0, NUM, 0, nullptr},
    {"1 == '1'", EQ, N(1), S("1"), ERR_NUMSTRCMP, NIL, 0, nullptr},
    {"table == 1", EQ, T(), N(1), ERR_WRONGOP, NIL, 0, nullptr},
    {"NaN == NaN", EQ, N(NAN), N(NAN), 0, NUM, 0, nullptr},
    {"nil < 1", LT, Nil(), N(1), 0, NUM, 1, nullptr},
    {"nil < -1", LT, Nil(), N(-1), 0, NUM, 0, nullptr},
    {"nil < 'a'", LT, Nil(), S("a"), 0, NUM, 0, nullptr},
    {"1 < '2'", LT, N(1), S("2"), ERR_NUMSTRCMP, NIL, 0, nullptr},
    {"table < 1", LT, T(), N(1), ERR_WRONGOP, NIL, 0, nullptr},
    {"nil < table", LT, Nil(), T(), ERR_WRONGOP, NIL, 0, nullptr},
    {"'a' < 'b'", LT, S("a"), S("b"), 0, NUM, 1, nullptr},
    {"'ab' < 'a'", LT, S("ab"), S("a"), 0, NUM, 0, nullptr},
    {"nil <= ''", LE, Nil(), S(""), 0, NUM, 0, nullptr},
    {"nil <= nil", LE, Nil(), Nil(), 0, NUM, 1, nullptr},
    {"-1 <= nil", LE, N(-1), Nil(), 0, NUM, 1, nullptr},
    {"'2' <= 1", LE, S("2"), N(1), ERR_NUMSTRCMP, NIL, 0, nullptr},
    {"'b' <= 'b'", LE, S("b"), S("b"), 0, NUM, 1, nullptr},
};

struct EvalArgs {
    const Case *c;
    lvValue result;
};

void MakeOperand(lvState *L, const Operand &o, lvValue *v)
{
    switch (o.kind) {
    case NIL: SetNil(v); break;
    case NUM: SetNumber(v, o.n); break;
    case STR: SetString(v, InternCString(L, o.s)); break;
    case TAB: SetTable(v, NewTableObject(L, 0, 0)); break;
    }
}

void EvalCase(lvState *L, void *ud)
{
    EvalArgs *e = static_cast<EvalArgs *>(ud);
    const Case *c = e->c;
    // Operands live in stack slots, as registers do.
    lvValue *a = L->top, *b = L->top + 1;
    MakeOperand(L, c->a, a);
    MakeOperand(L, c->b, b);
    L->top += 2;
    lvValue *r = &e->result;
    switch (c->op) {
    case ADD: ArithValues(L, r, a, b, TM_ADD); break;
    case INTDIV: ArithValues(L, r, a, b, TM_DIVINT); break;
    case MOD: ArithValues(L, r, a, b, TM_MOD); break;
    case DIV: ArithValues(L, r, a, b, TM_DIV); break;
    case SHL: ArithValues(L, r, a, b, TM_LSH); break;
    case SHR: ArithValues(L, r, a, b, TM_RSH); break;
    case OR: ArithValues(L, r, a, b, TM_OR); break;
    case AND: ArithValues(L, r, a, b, TM_AND); break;
    case BNOT: BitNotValue(L, r, a); break;
    case UNM: NegateValue(L, r, a); break;
    case CONCAT:
        ConcatRegisters(L, 2, static_cast<int>(b - L->base));
        *r = *a;
        break;
    case EQ: SetNumber(r, EqualValues(L, a, b)); break;
    case LT: SetNumber(r, LessThanValues(L, a, b, 1)); break;
    case LE: SetNumber(r, LessEqualValues(L, a, b)); break;
    }
    L->top -= 2;
}

void RunCaseTable(lvState *L)
{
    for (const Case &c : kCases) {
        EvalArgs e{&c, {}};
        SetNil(&e.result);
        int st = RunProtected(L, EvalCase, &e);
        L->top = L->base;
        EXPECT_EQ(st, c.status) << c.what;
        if (st != 0 || c.status != 0) continue;
        if (c.resultKind == NUM) {
            ASSERT_EQ(e.result.tt, LV_TNUMBER) << c.what;
            if (std::isnan(c.n)) EXPECT_TRUE(std::isnan(e.result.v.n)) << c.what;
            else EXPECT_EQ(e.result.v.n, c.n) << c.what;
            EXPECT_EQ(std::signbit(e.result.v.n), std::signbit(c.n)) << c.what;
        } else {
            ASSERT_EQ(e.result.tt, LV_TSTRING) << c.what;
            EXPECT_STREQ(StrValue(&e.result)->Data(), c.s) << c.what;
        }
    }
}

// A German locale with a decimal comma, made with localedef when the system lacks it.
bool UseGermanLocale()
{
    if (std::setlocale(LC_ALL, "de_DE.UTF-8")) return true;
    std::string dir = (std::filesystem::temp_directory_path() / "lv_vm_locales").string();
    std::filesystem::create_directories(dir);
    if (!std::filesystem::exists(dir + "/de_DE.UTF-8")) {
        std::string cmd = "localedef -i de_DE -f UTF-8 " + dir + "/de_DE.UTF-8 >/dev/null 2>&1";
        if (std::system(cmd.c_str()) != 0 && !std::filesystem::exists(dir + "/de_DE.UTF-8")) return false;
    }
    setenv("LOCPATH", dir.c_str(), 1);
    return std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr;
}
}  // namespace

TEST_F(VMTest, ValueOperationEdgeCases) { RunCaseTable(L); }

TEST_F(VMTest, ValueOperationEdgeCasesUnderGermanLocale)
{
    if (!UseGermanLocale()) GTEST_SKIP() << "no de_DE.UTF-8 locale and localedef could not make one";
    char probe[32];
    std::snprintf(probe, sizeof probe, "%.1f", 1.5);
    EXPECT_STREQ(probe, "1,5") << "the locale is not in effect";
    RunCaseTable(L);
    std::setlocale(LC_ALL, "C");
}

TEST(VMNumbers, TextFormsAndConversions)
{
    char buf[32];
    EXPECT_EQ(FormatNumber(100, buf), 3);
    EXPECT_STREQ(buf, "100");
    FormatNumber(-0.0, buf);
    EXPECT_STREQ(buf, "-0");
    FormatNumber(123456789012345.0, buf);
    EXPECT_STREQ(buf, "1.2345678901234e+14");
    double d;
    EXPECT_EQ(StringToNumber("1e400", 5, &d), 1);
    EXPECT_TRUE(std::isinf(d));
    EXPECT_EQ(StringToNumber("$ffffffffffffffff", 17, &d), 1);
    EXPECT_EQ(d, 18446744073709551615.0);
    EXPECT_EQ(StringToNumber("", 0, &d), 0);
    EXPECT_EQ(StringToNumber(" ", 1, &d), 0);
    EXPECT_EQ(StringToNumber("+5", 2, &d), 1);
    EXPECT_EQ(d, 5);
    EXPECT_EQ(StringToNumber("-.5", 3, &d), 1);
    EXPECT_EQ(d, -0.5);
    EXPECT_EQ(StringToNumber("+-5", 3, &d), 0);
    EXPECT_EQ(NumberToInt64(NAN), INT64_MIN);
    EXPECT_EQ(NumberToInt64(INFINITY), INT64_MIN);
    EXPECT_EQ(NumberToInt64(-1e19), INT64_MIN);
    EXPECT_EQ(NumberToInt64(-7.9), -7);
}

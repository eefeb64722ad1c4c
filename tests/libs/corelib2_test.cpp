// corelib2_test.cpp - the math, table, memblock, time and system commands through the
// machine: each case calls the registered global with its arguments on the stack, so
// argument reading, the engines and the error path are all part of it.
#include "corelib2_harness.h"

#include <bit>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <limits>

#include "libs/lib_core2.h"
#include "libs/math_engine.h"
#include "platform/lvplatform.h"
#include "runtime/cmdsupport.h"
#include "runtime/errors.h"
#include "runtime/libtable.h"

namespace {

// ==== Math ====================================================================================

struct MathCase {
    const char *command;          // global name
    std::vector<CoreArg> args;    // arguments
    double result;                // expected single result when error is 0
    int error;                    // expected status
};

double Bits(uint64_t pattern) { return std::bit_cast<double>(pattern); }

TEST_F(CoreLibTest, MathEdgeCases)
{
    const double inf = std::numeric_limits<double>::infinity();
    const std::vector<MathCase> cases = {
        {"round", {2.5}, 2, 0},           {"round", {3.5}, 4, 0},           {"round", {-0.5}, 0, 0},
        {"round", {-1.5}, -2, 0},         {"round", {0.5}, 0, 0},           {"round", {1.5}, 2, 0},
        {"int", {-3.7}, -3, 0},           {"floor", {-3.7}, -4, 0},         {"ceil", {-3.7}, -3, 0},
        {"wrap", {12, 0, 10}, 2, 0},      {"wrap", {-1, 0, 10}, 9, 0},      {"wrap", {25, 0, 10}, 15, 0},
        {"limit", {5, 0, 3}, 3, 0},       {"limit", {-1, 0, 3}, 0, 0},
        {"shl", {1, 31}, 2147483648.0, 0}, {"shl", {1, 32}, 1, 0},          {"shr", {-1, 28}, 15, 0},
        {"sar", {-16, 2}, -4, 0},         {"shl", {1, 40, 1}, 1099511627776.0, 0},
        {"shr", {-1, 64, 1}, 0, 0},       {"shl", {1, 64, 1}, 0, 0},        {"sar", {-1, 64, 1}, 0, 0},
        {"sar", {-1, 100, 1}, 0, 0},      {"shr", {1, -64, 1}, 0, 0},       {"shl", {-1, -64, 1}, 0, 0},
        {"sar", {-8, 1, 1}, -4, 0},       {"shr", {1, -3, 1}, 8, 0},
        {"rol", {2147483649.0, 1}, 3, 0}, {"ror", {1, 1, 7}, 128, 0},       {"ror", {1, 1, 6}, 32768, 0},
        {"rol", {0x8000, 1, 6}, 1, 0},    {"ror", {1, -1}, 2, 0},           {"rol", {1, 33}, 2, 0},
        {"ror", {1, 1, 11}, 0, ERR_WRONGUSAGE}, {"rol", {1, 1, 11}, 0, ERR_WRONGUSAGE},
        {"cast", {255, 1, 7}, -1, 0},     {"cast", {255, 0, 7}, 255, 0},    {"cast", {65535, 1, 6}, -1, 0},
        {"cast", {4294967295.0, 1, 1}, -1, 0}, {"cast", {-1, 0, 1}, 4294967295.0, 0},
        {"cast", {1, 1, 5}, 0, ERR_WRONGUSAGE},
        {"endianswap", {0x1234, 16}, 0x3412, 0}, {"endianswap", {1, 32}, 16777216, 0},
        {"endianswap", {0x12345678, 16}, 0x7856, 0}, {"endianswap", {1, 8}, 0, ERR_WRONGUSAGE},
        {"bitset", {0, 31}, 2147483648.0, 0}, {"bittest", {5, 2}, 1, 0},    {"bittest", {5, 1}, 0, 0},
        {"bitclear", {7, 1}, 5, 0},       {"bitset", {0, 32}, 0, ERR_WRONGUSAGE},
        {"bitcomplement", {0}, 4294967295.0, 0}, {"bitxor", {5, 3}, 6, 0},
        {"mod", {7, 0}, 0, ERR_ZERODIVISION}, {"div", {1, 0}, 0, ERR_ZERODIVISION},
        {"rt", {8, 0}, 0, ERR_ZERODIVISION}, {"rt", {8, -1}, 0, ERR_WRONGUSAGE}, {"rt", {8, 3}, 2, 0},
        {"rawdiv", {1, 0}, inf, 0},       {"mod", {-7, 3}, -1, 0},          {"div", {7, 2}, 3.5, 0},
        {"nearlyequal", {0.1 + 0.2, 0.3}, 1, 0}, {"nearlyequal", {1, 1.001}, 0, 0},
        {"nearlyequal", {0, 0}, 0, 0},
        {"rnd", {0}, 0, 0},               {"rnd", {-1}, 0, ERR_WRONGUSAGE},
        {"min", {3, 1, 2}, 1, 0},         {"max", {3, 1, 2}, 3, 0},         {"min", {3}, 0, ERR_MISSINGPARAMTR},
        {"isnan", {Bits(0x7FF8000000000000)}, 1, 0}, {"isnan", {Bits(0x7FF0000000000001)}, 1, 0},
        {"isnan", {Bits(0xFFF8000000000000)}, 1, 0}, {"isnan", {inf}, 0, 0},
        {"isinf", {inf}, 1, 0},           {"isinf", {-inf}, 1, 0},          {"isinf", {Bits(0x7FF8000000000000)}, 0, 0},
        {"isfinite", {inf}, 0, 0},        {"isfinite", {Bits(0x7FF8000000000000)}, 0, 0}, {"isfinite", {1e308}, 1, 0},
        {"sgn", {-5}, -1, 0},             {"sgn", {0}, 0, 0},               {"abs", {-2}, 2, 0},
        {"abs", {1, 2}, 0, ERR_TOOMANYARGS}, {"abs", {"x"}, 0, ERR_NUMEXPECTED},
        {"deg", {MATH_PI}, 180, 0},       {"ld", {8}, 3, 0},                {"log", {100, 10}, 2, 0},
        {"hypot", {3, 4}, 5, 0},          {"ldexp", {0.5, 3}, 4, 0},        {"pi", {}, MATH_PI, 0},
    };
    for (const MathCase &c : cases) {
        SCOPED_TRACE(c.command);
        ASSERT_EQ(Call(c.command, c.args), c.error);
        if (c.error) continue;
        ASSERT_EQ(Results(), 1);
        EXPECT_EQ(Num(1), c.result);
    }
    ASSERT_EQ(Call("frac", {-3.7}), 0);
    EXPECT_NEAR(Num(1), -0.7, 1e-12);
    ASSERT_EQ(Call("frexp", {8}), 0);
    EXPECT_EQ(Num(1), 0.5);
    EXPECT_EQ(Num(2), 4);
}

TEST_F(CoreLibTest, MathConstantsCarryTheirBitPatterns)
{
    for (const char *name : {"#NAN", "#INF"}) {
        ASSERT_EQ(Call("getconstant", {name}), 0);
        uint64_t bits = std::bit_cast<uint64_t>(Num(1));
        EXPECT_EQ(bits, name[1] == 'N' ? 0x7FF8000000000000u : 0x7FF0000000000000u);
        ASSERT_EQ(Call("isnan", {Num(1)}, 0), 0);
    }
    ASSERT_EQ(Call("getconstant", {"#nan"}), 0);
    ASSERT_EQ(Call("isnan", {At(1)}, 1), 0);
    EXPECT_EQ(Num(1), 1);
}

TEST_F(CoreLibTest, RndSeedRepeatsItsSequence)
{
    auto draw = [&]() {
        std::vector<double> values;
        for (int i = 0; i < 6; i++) {
            EXPECT_EQ(Call(i % 2 ? "rndf" : "rnd", i % 2 ? std::vector<CoreArg>{} : std::vector<CoreArg>{1000}), 0);
            values.push_back(Num(1));
        }
        return values;
    };
    ASSERT_EQ(Call("rndseed", {42}), 0);
    EXPECT_EQ(Results(), 0);
    std::vector<double> first = draw();
    ASSERT_EQ(Call("rndseed", {42}), 0);
    EXPECT_EQ(draw(), first);
    ASSERT_EQ(Call("rndseed", {43}), 0);
    EXPECT_NE(draw(), first);
    for (size_t i = 0; i < first.size(); i += 2) {
        EXPECT_GE(first[i], 0);
        EXPECT_LT(first[i], 1000);
        EXPECT_EQ(first[i], std::floor(first[i]));
    }
}

TEST_F(CoreLibTest, RndStrongGivesIntegersInRangeAndStrings)
{
    for (int i = 0; i < 20; i++) {
        ASSERT_EQ(Call("rndstrong", {1, 9}), 0);
        EXPECT_GE(Num(1), 0);
        EXPECT_LE(Num(1), 9);
    }
    ASSERT_EQ(Call("rndstrong", {3, 16}), 0);
    EXPECT_EQ(Str(1).size(), 16u);
    EXPECT_EQ(Call("rndstrong", {2, 16}), ERR_WRONGUSAGE);
}

// ==== Table ===================================================================================

// Builds a list of numbers at stack index 1 (keys 0, 1, ...).
void PushNumberList(lvState *L, const std::vector<double> &items)
{
    SetStackTop(L, 0);
    PushNewTable(L);
    for (size_t i = 0; i < items.size(); i++) {
        PushNumber(L, items[i]);
        SetTableItemRaw(L, 1, static_cast<int>(i));
    }
}

std::vector<double> ReadNumberList(lvState *L, int index)
{
    std::vector<double> out;
    for (int i = 0;; i++) {
        GetTableItemRaw(L, index, i);
        if (GetValueType(L, -1) == LV_TNIL) {
            SetStackTop(L, -2);
            return out;
        }
        out.push_back(ValueToNumber(L, -1));
        SetStackTop(L, -2);
    }
}

int Greater(lvState *L)
{
    PushNumber(L, ValueToNumber(L, 1) > ValueToNumber(L, 2) ? 1 : 0);
    return 1;
}
int AlwaysOne(lvState *L)
{
    PushNumber(L, 1);
    return 1;
}
int AlwaysHalf(lvState *L)
{
    PushNumber(L, 0.5);
    return 1;
}

TEST_F(CoreLibTest, SortOrdersByLessThanOrByTheComparator)
{
    PushNumberList(L, {3, 1, 2});
    ASSERT_EQ(Call("sort", {At(1)}, 1), 0);
    EXPECT_EQ(ReadNumberList(L, 1), (std::vector<double>{1, 2, 3}));
    PushNativeClosure(L, Greater, 0);  // index 2
    ASSERT_EQ(Call("sort", {At(1), At(2)}, 2), 0);
    EXPECT_EQ(ReadNumberList(L, 1), (std::vector<double>{3, 2, 1}));
    // A result of 0.5 truncates to 0: nothing comes before anything, the order stays.
    PushNumberList(L, {2, 1});
    PushNativeClosure(L, AlwaysHalf, 0);
    ASSERT_EQ(Call("sort", {At(1), At(2)}, 2), 0);
    EXPECT_EQ(ReadNumberList(L, 1), (std::vector<double>{2, 1}));
    // Larger lists sort fully.
    std::vector<double> big;
    for (int i = 0; i < 500; i++) big.push_back((i * 7919) % 500);
    PushNumberList(L, big);
    ASSERT_EQ(Call("sort", {At(1)}, 1), 0);
    std::vector<double> sorted = ReadNumberList(L, 1);
    ASSERT_EQ(sorted.size(), 500u);
    for (int i = 0; i < 500; i++) EXPECT_EQ(sorted[i], i);
}

TEST_F(CoreLibTest, SortStopsAtAnEmptyStringWithoutComparator)
{
    SetStackTop(L, 0);
    PushNewTable(L);
    const char *items[] = {"b", "", "a"};
    for (int i = 0; i < 3; i++) {
        PushString(L, items[i]);
        SetTableItemRaw(L, 1, i);
    }
    ASSERT_EQ(Call("sort", {At(1)}, 1), 0);
    ASSERT_EQ(Call("concat", {At(1), ","}, 1), 0);
    EXPECT_EQ(Str(1), "b,,a");
    ASSERT_EQ(Call("sort", {At(1), 5}, 1), ERR_FUNCEXPECTED);
    // Mixed lists: a number against a string, a table against a number.
    PushNumber(L, 1);
    SetTableItemRaw(L, 1, 1);
    EXPECT_EQ(Call("sort", {At(1)}, 1), ERR_NUMSTRCMP);
    PushNumberList(L, {2, 1});
    PushNewTable(L);
    SetTableItemRaw(L, 1, 1);
    EXPECT_EQ(Call("sort", {At(1)}, 1), ERR_WRONGOP);
}

TEST_F(CoreLibTest, AComparatorThatAlwaysAnswersOneFailsTheSort)
{
    for (int n : {4, 5, 17, 100}) {
        std::vector<double> items;
        for (int i = 0; i < n; i++) items.push_back(n - i);
        PushNumberList(L, items);
        PushNativeClosure(L, AlwaysOne, 0);
        EXPECT_EQ(Call("sort", {At(1), At(2)}, 2), ERR_SORTFUNC) << n;
        // Nothing was written outside the list.
        EXPECT_EQ(ReadNumberList(L, 1).size(), static_cast<size_t>(n));
        GetTableItemRaw(L, 1, -1);
        EXPECT_EQ(GetValueType(L, -1), LV_TNIL);
    }
    // The same through an assembled script whose comparator is script code.
    EXPECT_EQ(RunChunk("sort_always"), ERR_SORTFUNC);
}

TEST_F(CoreLibTest, InsertAndRemoveKeepTheRecordedSize)
{
    ASSERT_EQ(Call("createlist", {}), 0);  // index 1
    for (int v : {10, 20, 30}) ASSERT_EQ(Call("insertitem", {At(1), v}, 1), 0);
    ASSERT_EQ(Call("listitems", {At(1)}, 1), 0);
    EXPECT_EQ(Num(1), 3);
    ASSERT_EQ(Call("tableitems", {At(1)}, 1), 0);
    EXPECT_EQ(Num(1), 3);
    ASSERT_EQ(Call("insertitem", {At(1), 5, 0}, 1), 0);
    EXPECT_EQ(GetStoredTableSize(L, 1), 4);
    EXPECT_EQ(ReadNumberList(L, 1), (std::vector<double>{5, 10, 20, 30}));
    ASSERT_EQ(Call("removeitem", {At(1), 1}, 1), 0);
    EXPECT_EQ(Num(1), 10);
    EXPECT_EQ(GetStoredTableSize(L, 1), 3);
    EXPECT_EQ(ReadNumberList(L, 1), (std::vector<double>{5, 20, 30}));
    ASSERT_EQ(Call("setlistitems", {At(1), 10}, 1), 0);
    ASSERT_EQ(Call("listitems", {At(1)}, 1), 0);
    EXPECT_EQ(Num(1), 10);
    PushNumber(L, 99);
    SetTableItemRaw(L, 1, 9);
    ASSERT_EQ(Call("getitem", {At(1), -1}, 1), 0);
    EXPECT_EQ(Num(1), 99);
    ASSERT_EQ(Call("removeitem", {At(1)}, 1), 0);
    EXPECT_EQ(Num(1), 99);
    EXPECT_EQ(GetStoredTableSize(L, 1), 9);
    EXPECT_EQ(Call("setlistitems", {At(1), -1}, 1), ERR_WRONGUSAGE);
}

TEST_F(CoreLibTest, InsertAndRemovePositionsOnCountedLists)
{
    PushNumberList(L, {1, 2});
    ASSERT_EQ(Call("insertitem", {At(1), 9, 0}, 1), 0);
    EXPECT_EQ(ReadNumberList(L, 1), (std::vector<double>{9, 1, 2}));
    ASSERT_EQ(Call("insertitem", {At(1), 7, 5}, 1), 0);
    EXPECT_EQ(ReadNumberList(L, 1), (std::vector<double>{9, 1, 2, 7}));
    EXPECT_EQ(GetStoredTableSize(L, 1), -1);
    PushNumberList(L, {1, 2, 3});
    ASSERT_EQ(Call("removeitem", {At(1)}, 1), 0);
    EXPECT_EQ(Num(1), 3);
    EXPECT_EQ(ReadNumberList(L, 1), (std::vector<double>{1, 2}));
    PushNumberList(L, {1, 2, 3});
    ASSERT_EQ(Call("removeitem", {At(1), 0}, 1), 0);
    EXPECT_EQ(Num(1), 1);
    EXPECT_EQ(ReadNumberList(L, 1), (std::vector<double>{2, 3}));
    PushNumberList(L, {});
    ASSERT_EQ(Call("removeitem", {At(1)}, 1), 0);
    EXPECT_EQ(Results(), 0);
}

TEST_F(CoreLibTest, ConcatHasItemAndUnpack)
{
    SetStackTop(L, 0);
    PushNewTable(L);
    const char *items[] = {"a", "b", "c"};
    for (int i = 0; i < 3; i++) {
        PushString(L, items[i]);
        SetTableItemRaw(L, 1, i);
    }
    const struct {
        std::vector<CoreArg> extra;  // arguments after the table
        const char *text;            // expected join
    } joins[] = {{{"-"}, "a-b-c"}, {{"-", 1}, "b-c"}, {{"-", 0, 0}, "a-b-c"}, {{}, "abc"},
                 {{"-", 2, 1}, ""},  {{"+", 1, 1}, "b"}};
    for (const auto &j : joins) {
        std::vector<CoreArg> args = {At(1)};
        args.insert(args.end(), j.extra.begin(), j.extra.end());
        ASSERT_EQ(Call("concat", args, 1), 0);
        EXPECT_EQ(Str(1), j.text);
    }
    PushNewTable(L);  // 2: a table item cannot be joined
    SetTableItemRaw(L, 1, 1);
    EXPECT_EQ(Call("concat", {At(1)}, 1), ERR_STRINGEXPECTED);

    SetStackTop(L, 0);
    PushNewTable(L);
    PushString(L, "name");
    PushNumber(L, 1);
    SetTableValueRaw(L, 1);
    PushNumber(L, 4);
    SetTableItemRaw(L, 1, 7);
    const struct {
        CoreArg key;
        double found;
    } keys[] = {{"NAME", 1}, {"name", 1}, {"x", 0}, {7, 1}, {8, 0}};
    for (const auto &k : keys) {
        ASSERT_EQ(Call("hasitem", {At(1), k.key}, 1), 0);
        EXPECT_EQ(Num(1), k.found);
    }
    ASSERT_EQ(Call("haveitem", {At(1), "Name"}, 1), 0);
    EXPECT_EQ(Num(1), 1);

    PushNumberList(L, {4, 5, 6});
    ASSERT_EQ(Call("unpack", {At(1)}, 1), 0);
    ASSERT_EQ(Results(), 3);
    EXPECT_EQ(Num(3), 6);
    ASSERT_EQ(Call("pack", {1, "x", 3}), 0);
    ASSERT_EQ(Call("listitems", {At(1)}, 1), 0);
    EXPECT_EQ(Num(1), 3);
}

TEST_F(CoreLibTest, DeepCopyCopiesEachTableOnce)
{
    // t = {a = {b = 1}}, t.self = t, t.again = t.a
    SetStackTop(L, 0);
    PushNewTable(L);  // 1
    PushString(L, "a");
    PushNewTable(L);
    PushString(L, "b");
    PushNumber(L, 1);
    SetTableValueRaw(L, -3);
    SetTableValueRaw(L, 1);
    PushString(L, "self");
    PushCopy(L, 1);
    SetTableValueRaw(L, 1);
    PushString(L, "again");
    PushString(L, "a");
    GetTableValueRaw(L, 1);
    SetTableValueRaw(L, 1);

    ASSERT_EQ(Call("copytable", {At(1)}, 1), 0);  // 2
    auto field = [&](int table, const char *name) {
        PushString(L, name);
        GetTableValueRaw(L, table);
        return GetStackTop(L);
    };
    int self = field(2, "self");
    EXPECT_TRUE(ValuesIdentical(L, self, 2));
    EXPECT_FALSE(ValuesIdentical(L, 2, 1));
    int a = field(2, "a");
    int again = field(2, "again");
    int original = field(1, "a");
    EXPECT_TRUE(ValuesIdentical(L, a, again));
    EXPECT_FALSE(ValuesIdentical(L, a, original));
    int b = field(a, "b");
    EXPECT_EQ(ValueToNumber(L, b), 1);

    ASSERT_EQ(Call("copytable", {At(1), 1}, 1), 0);
    int shallowA = field(2, "a");
    original = field(1, "a");
    EXPECT_TRUE(ValuesIdentical(L, shallowA, original));
}

TEST_F(CoreLibTest, DeepCopyOfAVeryDeepNestingReportsTheStack)
{
    SetStackTop(L, 0);
    PushNewTable(L);  // 1: the outermost table
    PushCopy(L, 1);
    for (int i = 0; i < 5000; i++) {
        PushNewTable(L);
        PushString(L, "next");
        PushCopy(L, -2);
        SetTableValueRaw(L, -4);
        RemoveValue(L, -2);
    }
    SetStackTop(L, 1);
    EXPECT_EQ(Call("copytable", {At(1)}, 1), ERR_STACK);
}

TEST_F(CoreLibTest, MetatablesAndRawAccess)
{
    SetStackTop(L, 0);
    PushNewTable(L);  // 1
    EXPECT_EQ(Call("setmetatable", {At(1), 5}, 1), ERR_TABLEORNIL);
    PushNewTable(L);  // 2: metatable with a protection field
    PushString(L, "__metatable");
    PushString(L, "locked");
    SetTableValueRaw(L, 2);
    ASSERT_EQ(Call("setmetatable", {At(1), At(2)}, 2), 0);
    EXPECT_TRUE(ValuesIdentical(L, 3, 1));
    EXPECT_EQ(Call("setmetatable", {At(1), Nil()}, 2), ERR_PROTMETATABLE);
    ASSERT_EQ(Call("getmetatable", {At(1)}, 2), 0);
    EXPECT_EQ(Str(1), "locked");
    ASSERT_EQ(Call("rawset", {At(1), "k", 3}, 2), 0);
    ASSERT_EQ(Call("rawget", {At(1), "k"}, 2), 0);
    EXPECT_EQ(Num(1), 3);
    ASSERT_EQ(Call("rawequal", {At(1), At(1)}, 2), 0);
    EXPECT_EQ(Num(1), 1);
    ASSERT_EQ(Call("istableempty", {At(1)}, 2), 0);
    EXPECT_EQ(Num(1), 0);
    ASSERT_EQ(Call("nextitem", {At(1)}, 2), 0);
    EXPECT_EQ(Str(1), "k");
    ASSERT_EQ(Call("nextitem", {At(1), "k"}, 2), 0);
    ASSERT_EQ(Results(), 1);
    EXPECT_EQ(GetValueType(L, 3), LV_TNIL);
}

int gVisits = 0;
int StopAtTwo(lvState *L)
{
    gVisits++;
    if (ValueToNumber(L, 2) == 20) {
        PushString(L, "found");
        return 1;
    }
    return 0;
}
int FailCallback(lvState *L) { RaiseError(L, ERR_WRONGUSAGE); }

TEST_F(CoreLibTest, ForEachStopsAtAResultAndPassesErrors)
{
    PushNumberList(L, {10, 20, 30});
    PushNativeClosure(L, StopAtTwo, 0);  // 2
    gVisits = 0;
    ASSERT_EQ(Call("foreachi", {At(1), At(2)}, 2), 0);
    EXPECT_EQ(Str(1), "found");
    EXPECT_EQ(gVisits, 2);
    ASSERT_EQ(Call("foreach", {At(1), At(2)}, 2), 0);
    EXPECT_EQ(Str(1), "found");
    SetStackTop(L, 2);
    PushNativeClosure(L, FailCallback, 0);  // 3
    EXPECT_EQ(Call("foreach", {At(1), At(3)}, 3), ERR_WRONGUSAGE);
    EXPECT_EQ(Call("foreachi", {At(1), At(3)}, 3), ERR_WRONGUSAGE);
    ASSERT_EQ(Call("ipairs", {At(1)}, 3), 0);
    ASSERT_EQ(Results(), 3);
    EXPECT_EQ(Num(3), -1);
    ASSERT_EQ(Call("ipairs", {At(1), 1}, 3), 0);
    EXPECT_EQ(Num(1), 2);
    EXPECT_EQ(Num(2), 30);
    ASSERT_EQ(Call("ipairs", {At(1), 2}, 3), 0);
    EXPECT_EQ(Results(), 0);
}

TEST_F(CoreLibTest, IPairsAndPairsDriveGenericForLoops)
{
    ASSERT_EQ(RunChunk("iterate"), 0);
    ASSERT_EQ(Results(), 3);
    EXPECT_EQ(Num(1), 60);  // items at 0, 1, 2
    EXPECT_EQ(Num(2), 3);   // keys 0 + 1 + 2
    EXPECT_EQ(Num(3), 4);   // every entry, "x" too
}

// ==== Memory blocks =============================================================================

TEST_F(CoreLibTest, TypedPeeksAndPokesInAllThreeByteOrders)
{
    ASSERT_EQ(Call("allocmem", {1, 16}), 0);
    EXPECT_EQ(Results(), 0);
    const struct {
        int order;                 // byte order argument
        std::vector<double> bytes; // expected bytes 0..3
    } orders[] = {{0, {0x11, 0x22, 0x33, 0x44}}, {1, {0x44, 0x33, 0x22, 0x11}}, {2, {0x44, 0x33, 0x22, 0x11}},
                  {7, {0x11, 0x22, 0x33, 0x44}}};
    for (const auto &o : orders) {
        ASSERT_EQ(Call("poke", {1, 0, 0x11223344, 1, o.order}), 0);
        for (int i = 0; i < 4; i++) {
            ASSERT_EQ(Call("peek", {1, i, 7}), 0);
            EXPECT_EQ(Num(1), o.bytes[i]) << o.order << " " << i;
        }
        ASSERT_EQ(Call("peek", {1, 0, 1, o.order}), 0);
        EXPECT_EQ(Num(1), 0x11223344);
        ASSERT_EQ(Call("poke", {1, 4, 0xBEEF, 6, o.order}), 0);
        ASSERT_EQ(Call("peek", {1, 4, 6, o.order}), 0);
        EXPECT_EQ(Num(1), 0xBEEF);
        ASSERT_EQ(Call("poke", {1, 8, -2.5, 12, o.order}), 0);
        ASSERT_EQ(Call("peek", {1, 8, 12, o.order}), 0);
        EXPECT_EQ(Num(1), -2.5);
        ASSERT_EQ(Call("poke", {1, 4, 0.25, 11, o.order}), 0);
        ASSERT_EQ(Call("peek", {1, 4, 11, o.order}), 0);
        EXPECT_EQ(Num(1), 0.25);
    }
    ASSERT_EQ(Call("poke", {1, 0, -1}), 0);
    ASSERT_EQ(Call("peek", {1, 0}), 0);
    EXPECT_EQ(Num(1), 4294967295.0);
    ASSERT_EQ(Call("poke", {1, 0, "hi!", 3}), 0);
    ASSERT_EQ(Call("peek", {1, 0, 3}), 0);
    EXPECT_EQ(Str(1), "hi!");
    ASSERT_EQ(Call("peek", {1, 1, 3, 2}), 0);
    EXPECT_EQ(Str(1), "i!");
    const struct {
        const char *command;
        std::vector<CoreArg> args;
        int error;
    } failures[] = {
        {"peek", {1, 13}, ERR_MEMRANGE},          {"peek", {1, -1}, ERR_MEMRANGE},
        {"poke", {1, 15, 1, 6}, ERR_MEMRANGE},    {"poke", {1, 0, 1, 4}, ERR_WRONGUSAGE},
        {"poke", {1, 14, "ab", 3}, ERR_MEMRANGE}, {"peek", {2, 0}, ERR_FINDMEMBLK},
        {"peek", {1, 0, 3, -1}, ERR_WRONGUSAGE},  {"allocmem", {3, 0}, ERR_MEM},
        {"copymem", {1, 1, 4}, ERR_WRONGUSAGE},   {"fillmem", {1, 0, 3, 0, 6}, ERR_WRONGUSAGE},
    };
    for (const auto &f : failures) EXPECT_EQ(Call(f.command, f.args), f.error) << f.command;
}

TEST_F(CoreLibTest, BlocksMadeForNilAreKnownByTheirHandle)
{
    ASSERT_EQ(Call("allocmem", {Nil(), 8}), 0);
    ASSERT_EQ(Results(), 1);
    ASSERT_EQ(GetValueType(L, 1), LV_TPOINTER);
    void *handle = GetUserDataPointer(L, 1);
    ASSERT_EQ(Call("fillmem", {Ptr(handle), 0xAB, 8}), 0);
    ASSERT_EQ(Call("getmemstring", {Ptr(handle), 6}), 0);
    EXPECT_EQ(Str(1), "\xAB\xAB");
    ASSERT_EQ(Call("allocmem", {5, 8}), 0);
    ASSERT_EQ(Call("copymem", {Ptr(handle), 5, 8}), 0);
    ASSERT_EQ(Call("memtotable", {5, 6}), 0);
    ASSERT_EQ(Call("listitems", {At(1)}, 1), 0);
    EXPECT_EQ(Num(1), 4);
    ASSERT_EQ(Call("getitem", {At(1), 3}, 1), 0);
    EXPECT_EQ(Num(1), 0xABAB);
    ASSERT_EQ(Call("freemem", {Ptr(handle)}), 0);
    EXPECT_EQ(Call("peek", {Ptr(handle), 0}), ERR_FINDARRAY);
    EXPECT_EQ(Call("freemem", {99}), ERR_FINDMEMBLK);
}

TEST_F(CoreLibTest, BlocksOverForeignMemoryPointersAndFiles)
{
    uint8_t bytes[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    ASSERT_EQ(Call("allocmemfrompointer", {2, Ptr(bytes), 8}), 0);
    ASSERT_EQ(Call("peek", {2, 4, 1, 2}), 0);
    EXPECT_EQ(Num(1), 0x08070605);
    EXPECT_EQ(Call("peek", {2, 6, 1}), ERR_MEMRANGE);
    ASSERT_EQ(Call("allocmemfrompointer", {3, Ptr(bytes), 0}), 0);  // size unknown: no checks
    ASSERT_EQ(Call("peek", {3, 7, 7}), 0);
    EXPECT_EQ(Num(1), 8);
    EXPECT_EQ(Call("dumpmem", {3}), ERR_WRONGUSAGE);  // the whole of an unknown size
    ASSERT_EQ(Call("getmempointer", {2, 4}), 0);
    EXPECT_EQ(GetUserDataPointer(L, 1), bytes + 4);
    EXPECT_EQ(Call("getmempointer", {2, 8}), ERR_WRONGUSAGE);
    ASSERT_EQ(Call("freemem", {2}), 0);  // the bytes are not the block's
    EXPECT_EQ(bytes[0], 1);
    EXPECT_EQ(Call("allocmemfromvirtualfile", {4, "notachunk"}), ERR_WRONGUSAGE);
    ASSERT_EQ(Call("allocmem", {1, 8}), 0);
    EXPECT_EQ(Call("readmem", {7, 1, 4}), ERR_FINDFILE);  // no file library: no file 7
    EXPECT_EQ(Call("writemem", {7, 1, 0}), 0);            // nothing to move, nothing looked up
    EXPECT_EQ(Call("writemem", {7, 1, 4, -1}), ERR_WRONGUSAGE);
}

TEST_F(CoreLibTest, TablesToBlocksAndBack)
{
    ASSERT_EQ(Call("allocmem", {1, 8}), 0);
    PushNumberList(L, {1, 2, 65535, 4});
    ASSERT_EQ(Call("tabletomem", {At(1), 1, 6}, 1), 0);
    SetStackTop(L, 0);
    PushNewTable(L);
    PushString(L, "signed");
    PushNumber(L, 1);
    SetTableValueRaw(L, 1);
    ASSERT_EQ(Call("memtotable", {1, 6, At(1)}, 1), 0);
    EXPECT_EQ(ReadNumberList(L, 2), (std::vector<double>{1, 2, -1, 4}));
    PushNumberList(L, {1, 2, 3, 4, 5});
    EXPECT_EQ(Call("tabletomem", {At(1), 1, 6}, 1), ERR_MEMRANGE);
}

TEST_F(CoreLibTest, DumpMemPrintsRowsOfSixteen)
{
    ASSERT_EQ(Call("allocmem", {1, 20}), 0);
    for (int i = 0; i < 20; i++) ASSERT_EQ(Call("poke", {1, i, 0x41 + i, 7}), 0);
    ASSERT_EQ(Call("poke", {1, 3, 10, 7}), 0);
    printed.clear();
    ASSERT_EQ(Call("dumpmem", {1}), 0);
    EXPECT_EQ(printed, "00000000: 41 42 43 0a 45 46 47 48 49 4a 4b 4c 4d 4e 4f 50 ABC.EFGHIJKLMNOP\n"
                       "00000010: 51 52 53 54 " + std::string(12 * 3, ' ') + "QRST\n");
    printed.clear();
    ASSERT_EQ(Call("dumpmem", {1, 2, 17}), 0);
    EXPECT_EQ(printed, "00000011: 52 53 " + std::string(14 * 3, ' ') + "RS\n");
    EXPECT_EQ(Call("dumpmem", {1, 0, -1}), ERR_WRONGUSAGE);
    EXPECT_EQ(Call("dumpmem", {1, 8, 16}), ERR_MEMRANGE);
}

// ==== Time ======================================================================================

// TZ for one test, put back afterwards.
class ZoneScope {
public:
    explicit ZoneScope(const char *zone)
    {
        const char *old = getenv("TZ");
        had = old != nullptr;
        if (old) saved = old;
        setenv("TZ", zone, 1);
        tzset();
    }
    ~ZoneScope()
    {
        if (had) setenv("TZ", saved.c_str(), 1);
        else unsetenv("TZ");
        tzset();
    }

private:
    std::string saved;
    bool had = false;
};

TEST_F(CoreLibTest, DatesInTwoTimeZones)
{
    const struct {
        const char *zone;
        const char *local;    // a local date in 2040
        double unixTime;      // its Unix time
        const char *utc;      // the same moment in UTC
        double bias;          // GetTimeZone in January
    } zones[] = {
        {"UTC0", "01-Jan-2040 12:00:00", 2209032000.0, "01-Jan-2040 12:00:00", 0},
        {"CET-1CEST,M3.5.0,M10.5.0/3", "01-Jul-2040 12:00:00", 2224749600.0, "01-Jul-2040 10:00:00", -60},
    };
    for (const auto &z : zones) {
        SCOPED_TRACE(z.zone);
        ZoneScope scope(z.zone);
        ASSERT_EQ(Call("datetotimestamp", {z.local}), 0);
        EXPECT_EQ(Num(1), z.unixTime);
        ASSERT_EQ(Call("datetoutc", {z.local}), 0);
        EXPECT_EQ(Str(1), z.utc);
        ASSERT_EQ(Call("utctodate", {z.utc}), 0);
        EXPECT_EQ(Str(1), z.local);
        ASSERT_EQ(Call("timestamptodate", {z.unixTime, 1}), 0);
        EXPECT_EQ(Str(1), z.utc);
        ASSERT_EQ(Call("parsedate", {z.local}), 0);
        PushString(L, "year");
        GetTableValueRaw(L, 1);
        EXPECT_EQ(ValueToNumber(L, -1), 2040);
    }
}

TEST_F(CoreLibTest, DateStringChecks)
{
    ZoneScope scope("UTC0");
    const struct {
        const char *command;
        std::vector<CoreArg> args;
        double result;
        int error;
    } cases[] = {
        {"validatedate", {"29-feb-2000 00:00:00"}, 1, 0},
        {"validatedate", {"29-Feb-1900 00:00:00"}, 0, 0},
        {"validatedate", {"31-Apr-2020 10:00:00"}, 0, 0},
        {"validatedate", {"01-Jan-2020 10:00:0"}, 0, 0},
        {"validatedate", {"01-Jan-1969 00:00:00"}, 1, 0},
        {"datetotimestamp", {"01-Jan-1969 00:00:00"}, 0, ERR_INVALIDDATE},
        {"comparedates", {"02-Jan-2020 00:00:00", "01-Jan-2020 23:59:59"}, 1, 0},
        {"comparedates", {"01-Jan-2020 23:59:59", "02-Jan-2020 00:00:00"}, 2, 0},
        {"comparedates", {"01-Jan-2020 23:59:59", "01-Jan-2020 23:59:59"}, 0, 0},
        {"comparedates", {"01-Jan-2020", "01-JAN-2020", 1}, 0, 0},
        {"comparedates", {"01-Jan-2020 00:00:00", "01-Jan-2020 00:00:00", 1}, 0, ERR_INVALIDDATE},
        {"parsedate", {"01-Xyz-2000 00:00:00"}, 0, ERR_INVALIDDATE},
        {"timestamptodate", {2209032000.0, 1}, 0, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.command);
        ASSERT_EQ(Call(c.command, c.args), c.error);
        if (!c.error && c.command[0] != 't') {
            EXPECT_EQ(Num(1), c.result);
        }
    }
    ASSERT_EQ(Call("parsedate", {"31-Dec-2000 00:00:00"}), 0);
    PushString(L, "yday");
    GetTableValueRaw(L, 1);
    EXPECT_EQ(ValueToNumber(L, -1), 365);
    ASSERT_EQ(Call("parsedate", {"01-Jan-2000 00:00:00"}), 0);
    PushString(L, "wday");
    GetTableValueRaw(L, 1);
    EXPECT_EQ(ValueToNumber(L, -1), 6);

    // MakeDate from a table: all six fields required, the date checked.
    SetStackTop(L, 0);
    PushNewTable(L);
    const char *names[] = {"mday", "mon", "year", "hour", "min", "sec"};
    double values[] = {29, 2, 2040, 23, 59, 58};
    for (int i = 0; i < 6; i++) {
        PushString(L, names[i]);
        PushNumber(L, values[i]);
        SetTableValueRaw(L, 1);
    }
    ASSERT_EQ(Call("makedate", {At(1)}, 1), 0);
    EXPECT_EQ(Str(1), "29-Feb-2040 23:59:58");
    PushString(L, "mon");
    PushNumber(L, 13);
    SetTableValueRaw(L, 1);
    EXPECT_EQ(Call("makedate", {At(1)}, 1), ERR_INVALIDDATE);
    PushString(L, "sec");
    PushNil(L);
    SetTableValueRaw(L, 1);
    EXPECT_EQ(Call("makedate", {At(1)}, 1), ERR_WRONGUSAGE);
}

int64_t gFakeWall = 0;  // microseconds
int64_t gFakeMono = 0;  // nanoseconds
int64_t FakeWall() { return gFakeWall; }
int64_t FakeMono() { return gFakeMono; }
int64_t FakeUptime() { return gFakeMono / 1000000; }
const lvClockSources gFakeClock = {FakeWall, FakeMono, FakeUptime};
void Advance(int ms)
{
    gFakeWall += ms * 1000LL;
    gFakeMono += ms * 1000000LL;
}

TEST_F(CoreLibTest, TimersPauseAndResumeOnAFakeClock)
{
    gFakeWall = 2209032000LL * 1000000;
    gFakeMono = 1000000000;
    SetClockSources(&gFakeClock);
    InitClockBase();
    ASSERT_EQ(Call("starttimer", {1}), 0);
    Advance(500);
    ASSERT_EQ(Call("pausetimer", {1}), 0);
    Advance(300);
    ASSERT_EQ(Call("gettimer", {1}), 0);
    EXPECT_EQ(Num(1), 500);
    ASSERT_EQ(Call("pausetimer", {1}), 0);
    ASSERT_EQ(Call("resumetimer", {1}), 0);
    Advance(200);
    ASSERT_EQ(Call("gettimer", {1, 0}), 0);
    EXPECT_EQ(Num(1), 700);
    ASSERT_EQ(Call("resettimer", {1, 50}), 0);
    Advance(10);
    ASSERT_EQ(Call("gettimer", {1}), 0);
    EXPECT_EQ(Num(1), 60);
    // A timer made for Nil, with a threshold.
    ASSERT_EQ(Call("starttimer", {Nil(), 100}), 0);
    void *handle = GetUserDataPointer(L, 1);
    ASSERT_EQ(Call("timerelapsed", {Ptr(handle)}), 0);
    EXPECT_EQ(Num(1), 0);
    Advance(100);
    ASSERT_EQ(Call("timerelapsed", {Ptr(handle)}), 0);
    EXPECT_EQ(Num(1), 1);
    ASSERT_EQ(Call("timerelapsed", {Ptr(handle)}), 0);
    EXPECT_EQ(Num(1), 0);  // restarted by the first answer
    ASSERT_EQ(Call("timerelapsed", {1}), 0);
    EXPECT_EQ(Num(1), 0);  // no threshold
    // StartTimer on an existing timer keeps its threshold.
    ASSERT_EQ(Call("settimerelapse", {1, 50}), 0);
    ASSERT_EQ(Call("starttimer", {1, 100}), 0);
    Advance(50);
    ASSERT_EQ(Call("timerelapsed", {1}), 0);
    EXPECT_EQ(Num(1), 1);
    // WaitTimer: both timers are due, nothing to sleep.
    Advance(100);
    ASSERT_EQ(Call("waittimer", {}), 0);
    ASSERT_EQ(Call("listitems", {At(1)}, 1), 0);
    EXPECT_EQ(Num(1), 2);
    EXPECT_EQ(Call("settimerelapse", {1, -1}), ERR_WRONGUSAGE);
    ASSERT_EQ(Call("stoptimer", {1}), 0);
    EXPECT_EQ(Call("gettimer", {1}), ERR_FINDTIMER);
    ASSERT_EQ(Call("stoptimer", {Ptr(handle)}), 0);
    EXPECT_EQ(Call("gettimer", {Ptr(handle)}), ERR_FINDARRAY);
    SetClockSources(nullptr);
    InitClockBase();
}

TEST_F(CoreLibTest, CurrentDateTextsFollowTheClockIn2040)
{
    ZoneScope scope("UTC0");
    gFakeWall = 2209032000LL * 1000000 + 5 * 1000000;  // 01-Jan-2040 12:00:05 UTC
    gFakeMono = 1000000000;
    SetClockSources(&gFakeClock);
    InitClockBase();
    const struct {
        const char *command;
        std::vector<CoreArg> args;
        const char *text;  // expected text, or null for a number
        double number;     // expected number
    } cases[] = {
        {"gettime", {}, "12:00", 0},
        {"gettime", {1}, "12:00:05", 0},
        {"getdate", {2}, "01-Jan-2040 12:00:05", 0},
        {"getdate", {1}, "01-Jan-2040 12:00:05", 0},
        {"getdatenum", {3}, nullptr, 120005},
        {"getdatenum", {0}, nullptr, 2040},
        {"getdatenum", {1}, nullptr, 1},
        {"getdatenum", {9}, nullptr, 0},
        {"gettimestamp", {1}, nullptr, 2209032005.0},
        {"timestamptodate", {2209032005.0, 1}, "01-Jan-2040 12:00:05", 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.command);
        ASSERT_EQ(Call(c.command, c.args), 0);
        if (c.text) {
            EXPECT_EQ(Str(1), c.text);
        } else {
            EXPECT_NEAR(Num(1), c.number, 1e-3);
        }
    }
    EXPECT_EQ(Call("getdate", {3}), ERR_WRONGUSAGE);
    ASSERT_EQ(Call("gettimezone", {}), 0);
    EXPECT_EQ(Num(1), 0);
    EXPECT_EQ(Num(2), 0);
    SetClockSources(nullptr);
    InitClockBase();
}

// ==== System =====================================================================================

TEST_F(CoreLibTest, SystemQueriesAndSettings)
{
    const struct {
        const char *command;
        std::vector<CoreArg> args;
        double result;  // NaN: no number to compare
        int error;
    } cases[] = {
        {"gettype", {1}, 2, 0},
        {"gettype", {"a"}, 3, 0},
        {"gettype", {Nil()}, 0, 0},
        {"gettype", {Ptr(&gVisits)}, 9, 0},
        {"isnil", {Nil()}, 1, 0},
        {"isnil", {0}, 0, 0},
        {"collectgarbage", {0}, NAN, 0},
        {"gettype", {}, 0, ERR_MISSINGPARAMTR},
        {"getconstant", {"#PI"}, MATH_PI, 0},
        {"getconstant", {"#cr_dead"}, 2, 0},
        {"getconstant", {"PI"}, 0, ERR_WRONGUSAGE},
        {"getconstant", {"#1A"}, 0, ERR_SYNTAXERROR},
        {"getconstant", {"#NOSUCHTHING"}, 0, ERR_FINDCST},
        {"setdefaultencoding", {1, 5}, NAN, ERR_BADENCODING},
        {"setdefaultadapter", {3, "inbuilt"}, NAN, ERR_WRONGUSAGE},
        {"getdefaultloader", {6}, NAN, ERR_WRONGUSAGE},
        {"legacycontrol", {"SingleMusic", 0}, NAN, 0},
        {"legacycontrol", {"LegacyGetPen", 1}, NAN, 0},
        {"legacycontrol", {"legacyrequesters", 1}, NAN, 0},
        {"legacycontrol", {"nosuch", 1}, NAN, ERR_UNKNOWNTAG},
        {"getmemoryinfo", {2}, NAN, ERR_WRONGUSAGE},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.command);
        ASSERT_EQ(Call(c.command, c.args), c.error);
        if (!c.error && !std::isnan(c.result)) {
            EXPECT_EQ(Num(1), c.result);
        }
    }
    ASSERT_EQ(Call("legacycontrol", {"NoSuch", 1}), ERR_UNKNOWNTAG);
    EXPECT_STREQ(GetErrorState()->textArg, "NoSuch");  // the message names the option
    ASSERT_EQ(Call("getconstant", {"#NoSuchConstant"}), ERR_FINDCST);
    EXPECT_STREQ(GetErrorState()->textArg, "NoSuchConstant");
    EXPECT_EQ(GetLegacySwitches()->singleMusic, 0);
    EXPECT_EQ(GetLegacySwitches()->legacyGetPen, 1);
    ASSERT_EQ(Call("setdefaultencoding", {0, 0}), 0);
    ASSERT_EQ(Call("setdefaultencoding", {1, 7}), ERR_BADENCODING);
    ASSERT_EQ(Call("getdefaultencoding", {}), 0);
    EXPECT_EQ(Num(1), 1);  // stored before the second was refused
    EXPECT_EQ(Num(2), 0);
    ASSERT_EQ(Call("setdefaultloader", {0, "inbuilt|plugin"}), 0);
    ASSERT_EQ(Call("getdefaultloader", {0}), 0);
    EXPECT_EQ(Str(1), "inbuilt|plugin");
    char copy[32];
    CopyDefaultLoader(0, copy, sizeof copy);
    EXPECT_STREQ(copy, "inbuilt|plugin");
    ASSERT_EQ(Call("increasepointer", {Ptr(reinterpret_cast<void *>(1000)), 24}), 0);
    EXPECT_EQ(GetUserDataPointer(L, 1), reinterpret_cast<void *>(1024));
    ASSERT_EQ(Call("decreasepointer", {Ptr(reinterpret_cast<void *>(1000)), 1000}), 0);
    EXPECT_EQ(GetUserDataPointer(L, 1), nullptr);
    ASSERT_EQ(Call("getmemoryinfo", {1}), 0);
    EXPECT_GT(Num(1), 0);
    ASSERT_EQ(Call("getsysteminfo", {9999}), 0);
    EXPECT_EQ(Str(1), "");
    ASSERT_EQ(Call("gcinfo", {}), 0);
    ASSERT_EQ(Results(), 2);
    EXPECT_GT(Num(1), 0);
    // Types the literal list cannot carry.
    SetStackTop(L, 0);
    PushNewTable(L);
    PushBoolean(L, 1);
    PushNativeClosure(L, AlwaysOne, 0);
    PushNewThread(L);
    const double types[] = {4, 255, 5, 10};
    for (int i = 0; i < 4; i++) {
        ASSERT_EQ(Call("gettype", {At(i + 1)}, 4), 0);
        EXPECT_EQ(Num(1), types[i]);
    }
}

TEST_F(CoreLibTest, EveryTableRowIsAGlobalCommand)
{
    const struct {
        const lvCommandEntry *(*table)();  // a library's command table
        const char *names;                 // its rows with a function, in table order
    } libraries[] = {
        {GetMathCommands,
         "Abs Sin Cos Tan ASin ACos ATan ATan2 Ceil Floor Mod FrExp LdExp Sqrt Min Max Log Ld Ln Exp Deg Pow Rad Rnd RndF Add Sub Mul Div Round Int Frac Shr Shl Rt Wrap Limit BitSet BitClear BitTest BitXor BitComplement Sgn Sar Ror Rol Cast Hypot EndianSwap RndStrong IsNan IsInf IsFinite RawDiv Pi NearlyEqual RndSeed"},
        {GetTableCommands,
         "Sort InsertItem RemoveItem ListItems Unpack SetMetaTable GetMetaTable RawEqual RawGet RawSet IPairs Pairs NextItem CopyTable ForEach ForEachI Concat HaveItem HasItem TableItems IsTableEmpty Pack CreateList SetListItems GetItem"},
        {GetMemBlockCommands,
         "AllocMem FreeMem Peek Poke FillMem CopyMem ReadMem WriteMem DumpMem MemToTable TableToMem GetMemPointer GetMemString AllocMemFromPointer AllocMemFromVirtualFile"},
        {GetTimeCommands,
         "Wait Sleep GetDate GetTime GetWeekday GetDateNum StartTimer StopTimer GetTimer PauseTimer ResumeTimer ResetTimer TimerElapsed SetTimerElapse WaitTimer CompareDates GetTimestamp TimestampToDate DateToTimestamp ParseDate MakeDate GetTimeZone DateToUTC UTCToDate ValidateDate"},
        {GetSystemCommands,
         "GetMemoryInfo GetType GCInfo CollectGarbage GetVersion GetConstant OpenURL IsNil GetSystemInfo LegacyControl DisableLineHook EnableLineHook IncreasePointer DecreasePointer Beep ShowNotification SetDefaultEncoding SetDefaultAdapter SetDefaultLoader GetDefaultEncoding GetDefaultAdapter GetDefaultLoader ShowDirectory CreateCoroutine ResumeCoroutine YieldCoroutine GetCoroutineStatus"},
    };
    for (const auto &lib : libraries) {
        std::string listed;
        for (const lvCommandEntry *e = lib.table(); e->name; e++) {
            if (!e->func) continue;
            listed += listed.empty() ? "" : " ";
            listed += e->name;
            std::string lower = e->name;
            for (char &c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            PushString(L, lower.c_str());
            GetTableValueRaw(L, LV_GLOBALSINDEX);
            EXPECT_EQ(GetValueType(L, -1), LV_TFUNCTION) << e->name;
            SetStackTop(L, 0);
        }
        EXPECT_EQ(listed, lib.names);
    }
    // The command lists name each command's library; the shut-down steps are installed.
    EXPECT_STREQ(FindCommandLibrary("SORT"), "table");
    EXPECT_STREQ(FindCommandLibrary("peek"), "memblock");
    EXPECT_STREQ(FindCommandName("resumecoroutine"), "ResumeCoroutine");
    EXPECT_EQ(SetLibraryCloseStep("memblocks", CloseMemBlockLibrary), CloseMemBlockLibrary);
    EXPECT_EQ(SetLibraryCloseStep("timers", CloseTimeLibrary), CloseTimeLibrary);
}

TEST_F(CoreLibTest, VersionDescribesThisBuild)
{
    ASSERT_EQ(Call("getversion", {}), 0);
    const struct {
        const char *field;
        const char *text;
    } fields[] = {{"application", "LumivarraPlayer"}, {"version", "11.0"}, {"kernel", "11.0"},
                  {"platform", "Linux"}, {"cpu", "x86_64"}};
    for (const auto &f : fields) {
        PushString(L, f.field);
        GetTableValueRaw(L, 1);
        EXPECT_STREQ(ValueToString(L, -1), f.text) << f.field;
        SetStackTop(L, 1);
    }
    PushString(L, "plugins");
    GetTableValueRaw(L, 1);
    EXPECT_EQ(GetValueType(L, -1), LV_TTABLE);
    ASSERT_EQ(Call("getsysteminfo", {}), 0);
    PushString(L, "userhome");
    GetTableValueRaw(L, 1);
    EXPECT_EQ(GetValueType(L, -1), LV_TSTRING);
    PushString(L, "sdcard");
    GetTableValueRaw(L, 1);
    EXPECT_EQ(GetValueType(L, -1), LV_TNIL);
}

TEST_F(CoreLibTest, CoroutinesYieldOneAndTwoThenDie)
{
    ASSERT_EQ(RunChunk("coroutines"), 0);
    ASSERT_EQ(Results(), 6);
    EXPECT_EQ(Num(1), 1);
    EXPECT_EQ(Num(2), 2);
    EXPECT_EQ(Num(3), 1);  // suspended between the resumes
    EXPECT_EQ(Num(4), 0);  // running, as the coroutine saw itself
    EXPECT_EQ(Num(5), 2);  // dead after it returned
    ASSERT_EQ(GetValueType(L, 6), LV_TTHREAD);
    EXPECT_EQ(Call("resumecoroutine", {At(6)}, 6), ERR_DEADRESUME);
    EXPECT_EQ(Call("resumecoroutine", {At(6), 1, 2}, 6), ERR_DEADRESUME);
    ASSERT_EQ(Call("getcoroutinestatus", {At(6)}, 6), 0);
    EXPECT_EQ(Num(1), 2);  // still dead: the refused arguments did not stay behind
    EXPECT_EQ(Call("resumecoroutine", {5}, 6), ERR_THREADEXPECTED);
}

// A command may answer up to the native frame's 2048 values, more than the 999 a plain
// answer can name: Unpack of 1500 and 2047 items, and ResumeCoroutine handing back the
// 1200 values of a coroutine (here one running Unpack itself).
TEST_F(CoreLibTest, ResultsBeyondNineHundredNinetyNine)
{
    for (int count : {1500, 2047, 2048}) {
        SCOPED_TRACE(count);
        SetStackTop(L, 0);
        PushNewTable(L);
        for (int i = 0; i < count; i++) {
            PushNumber(L, i * 3);
            SetTableItemRaw(L, 1, i);
        }
        if (count == 2048) {  // the table's own slot leaves room for 2047
            EXPECT_EQ(Call("unpack", {At(1)}, 1), ERR_STACK);
            continue;
        }
        ASSERT_EQ(Call("unpack", {At(1)}, 1), 0);
        ASSERT_EQ(Results(), count);
        EXPECT_EQ(Num(1), 0);
        EXPECT_EQ(Num(count), (count - 1) * 3);
    }
    SetStackTop(L, 0);
    PushNewTable(L);
    for (int i = 0; i < 1200; i++) {
        PushNumber(L, i);
        SetTableItemRaw(L, 1, i);
    }
    PushString(L, "unpack");
    GetTableValueRaw(L, LV_GLOBALSINDEX);
    ASSERT_EQ(Call("createcoroutine", {At(2)}, 2), 0);
    ASSERT_EQ(GetValueType(L, 3), LV_TTHREAD);
    ASSERT_EQ(Call("resumecoroutine", {At(3), At(1)}, 3), 0);
    ASSERT_EQ(Results(), 1200);
    EXPECT_EQ(Num(1200), 1199);
}

TEST_F(CoreLibTest, AYieldAcrossANativeCallFails)
{
    EXPECT_EQ(RunChunk("native_yield"), ERR_BADYIELD);
}

}  // namespace

// The documents folder by number and the table's "mydocuments" are one folder.
TEST_F(CoreLibTest, TheDocumentsFolderIsOneFolderBothWays)
{
    ASSERT_EQ(Call("getsysteminfo", {5}), 0);
    std::string byNumber = Str(1);
    ASSERT_EQ(Call("getsysteminfo", {}), 0);
    PushString(L, "mydocuments");
    GetTableValue(L, -2);
    ASSERT_EQ(GetValueType(L, -1), LV_TSTRING);
    EXPECT_EQ(std::string(ValueToString(L, -1)), byNumber);
    EXPECT_FALSE(byNumber.empty());
}

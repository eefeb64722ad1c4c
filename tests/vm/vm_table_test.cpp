// Strings and tables: interning, the model test against std::map, traversal,
// nil and NaN keys, the array part, and the tag-method chain limits.
#include <cmath>
#include <map>
#include <random>
#include <set>

#include "tests/vm/vm_test_util.h"

namespace {
// A key of the model: numbers (integral or not) and strings.
struct ModelKey {
    bool isString;
    double n;
    std::string s;
    bool operator<(const ModelKey &o) const
    {
        if (isString != o.isString) return isString < o.isString;
        return isString ? s < o.s : n < o.n;
    }
};

void PushKey(lvState *L, const ModelKey &k)
{
    if (!k.isString && k.s == "nil") PushNil(L);
    else if (k.isString) PushSizedString(L, k.s.data(), k.s.size());
    else PushNumber(L, k.n);
}
}  // namespace

TEST_F(VMTest, RandomisedTableMatchesMapModel)
{
    std::mt19937 rng(12345);
    std::map<ModelKey, double> model;
    PushNewTable(L);  // index 1
    auto randomKey = [&]() -> ModelKey {
        switch (rng() % 6) {
        case 5: return {false, 0, "nil"};                                // nil: stands for key 0
        case 0: return {false, double(int(rng() % 64) - 8), ""};        // small integers, 0 and negatives
        case 1: return {false, double(rng() % 100000), ""};             // large integers
        case 2: return {false, (rng() % 1000) / 8.0 + 0.0625, ""};      // floats
        case 3: return {true, 0, "k" + std::to_string(rng() % 500)};    // strings
        default: return {false, -0.0 + double(rng() % 16), ""};
        }
    };
    for (int op = 0; op < 100000; op++) {
        ModelKey k = randomKey();
        ModelKey mk = k;  // the model stores a nil key as the number 0
        if (!mk.isString) mk.s.clear();
        int what = rng() % 10;
        if (what < 5) {
            double v = rng() % 1000 + 1;
            PushKey(L, k);
            PushNumber(L, v);
            SetTableValueRaw(L, 1);
            model[mk] = v;
        } else if (what < 7) {
            PushKey(L, k);
            PushNil(L);
            SetTableValueRaw(L, 1);
            model.erase(mk);
        } else {
            PushKey(L, k);
            GetTableValueRaw(L, 1);
            auto it = model.find(mk);
            if (it == model.end()) ASSERT_EQ(GetValueType(L, -1), LV_TNIL) << op;
            else ASSERT_EQ(ValueToNumber(L, -1), it->second) << op;
            SetStackTop(L, 1);
        }
    }
    // A full traversal sees exactly the model, each key once.
    std::set<ModelKey> seen;
    PushNil(L);
    while (NextTableEntry(L, 1)) {
        ModelKey k{GetValueType(L, -2) == LV_TSTRING, 0, ""};
        if (k.isString) k.s = Str(-2);
        else k.n = Num(-2);
        ASSERT_TRUE(seen.insert(k).second) << "key visited twice";
        auto it = model.find(k);
        ASSERT_NE(it, model.end());
        EXPECT_EQ(Num(-1), it->second);
        SetStackTop(L, -2);
    }
    EXPECT_EQ(seen.size(), model.size());
}

TEST_F(VMTest, TraversalVisitsEveryKeyOnceWhileValuesChange)
{
    PushNewTable(L);
    for (int i = 0; i < 200; i++) {
        PushString(L, ("key" + std::to_string(i)).c_str());
        PushNumber(L, i);
        SetTableValueRaw(L, 1);
        PushNumber(L, i + 0.5);
        PushNumber(L, i);
        SetTableValueRaw(L, 1);
    }
    int visits = 0;
    PushNil(L);
    while (NextTableEntry(L, 1)) {
        visits++;
        // Change the value of the key just visited, and clear it half the time.
        PushCopy(L, -2);
        if (visits % 2) PushNil(L);
        else PushNumber(L, -1);
        SetTableValueRaw(L, 1);
        SetStackTop(L, -2);
    }
    EXPECT_EQ(visits, 400);
}

TEST_F(VMTest, NilKeyIsKeyZeroAndNaNKeyIsRejected)
{
    PushNewTable(L);
    PushNil(L);
    PushNumber(L, 5);
    SetTableValueRaw(L, 1);
    GetTableItemRaw(L, 1, 0);
    EXPECT_EQ(Num(-1), 5);
    PushNil(L);
    GetTableValueRaw(L, 1);
    EXPECT_EQ(Num(-1), 5);
    SetStackTop(L, 1);
    struct NaNStore {
        static void Body(lvState *L, void *) {
            PushNumber(L, NAN);
            PushNumber(L, 1);
            SetTableValueRaw(L, 1);
        }
    };
    EXPECT_EQ(RunProtected(L, NaNStore::Body, nullptr), ERR_TABLEINDEX);
}

TEST_F(VMTest, KeysOneToEightLandInTheArrayPart)
{
    PushNewTable(L);
    PushNumber(L, 0);
    PushString(L, "zero");
    SetTableValueRaw(L, 1);
    for (int i = 1; i <= 8; i++) {
        PushNumber(L, i);
        PushNumber(L, i * 10);
        SetTableValueRaw(L, 1);
    }
    lvTable *t = TabValue(L->base);
    EXPECT_EQ(t->sizearray, 8);
    for (int i = 0; i < 8; i++) EXPECT_EQ(t->array[i].v.n, (i + 1) * 10);
    lvValue zero;
    SetNumber(&zero, 0);
    const lvValue *v = TableGet(t, &zero);
    ASSERT_EQ(v->tt, LV_TSTRING);
    EXPECT_TRUE(v >= &t->node[0].val && v <= &t->node[TableNodeCount(t) - 1].val);
    // Traversal: array part in order, then the hash part.
    PushNil(L);
    std::vector<double> order;
    while (NextTableEntry(L, 1)) {
        order.push_back(Num(-2));
        SetStackTop(L, -2);
    }
    std::vector<double> expect = {1, 2, 3, 4, 5, 6, 7, 8, 0};
    EXPECT_EQ(order, expect);
}

TEST_F(VMTest, TraversalFromUnknownKeyRaises)
{
    PushNewTable(L);
    PushString(L, "a");
    PushNumber(L, 1);
    SetTableValueRaw(L, 1);
    struct Next {
        static void Body(lvState *L, void *) {
            PushString(L, "not there");
            NextTableEntry(L, 1);
        }
    };
    EXPECT_EQ(RunProtected(L, Next::Body, nullptr), ERR_INVNEXTKEY);
}

TEST_F(VMTest, StringsAreInternedAndKeepZeroBytes)
{
    lvString *a = InternString(L, "hello", 5);
    std::string s = "hel";
    s += "lo";
    EXPECT_EQ(InternString(L, s.data(), s.size()), a);
    const char zb[] = {'a', 0, 'b'};
    lvString *z = InternString(L, zb, 3);
    EXPECT_EQ(z->len, 3u);
    EXPECT_NE(z, InternString(L, "a", 1));
    EXPECT_EQ(HashString("", 0), 0u);
    // The hash samples every byte of a short string.
    EXPECT_NE(HashString("abc", 3), HashString("abd", 3));
}

TEST_F(VMTest, StringTableGrowsPastItsBucketCount)
{
    int before = L->G->strt.size;
    ASSERT_EQ(EnsureStackSpace(L, 200), 1);
    for (int i = 0; i < 200; i++) PushString(L, ("s" + std::to_string(i)).c_str());
    EXPECT_GT(L->G->strt.size, before);
    EXPECT_LE(L->G->strt.nuse, static_cast<uint32_t>(L->G->strt.size));
}

TEST_F(VMTest, AbsentTagMethodIsRecheckedAfterAWrite)
{
    PushNewTable(L);  // 1: object
    PushNewTable(L);  // 2: metatable
    PushCopy(L, 2);
    AssignMetatable(L, 1);
    PushString(L, "x");
    GetTableValue(L, 1);
    EXPECT_EQ(GetValueType(L, -1), LV_TNIL);
    EXPECT_TRUE(TabValue(L->base + 1)->absent & (1 << TM_INDEX));
    SetStackTop(L, 2);
    // __index = {x = 9}
    PushString(L, "__index");
    PushNewTable(L);
    PushString(L, "x");
    PushNumber(L, 9);
    SetTableValueRaw(L, -3);
    SetTableValueRaw(L, 2);
    PushString(L, "x");
    GetTableValue(L, 1);
    EXPECT_EQ(Num(-1), 9);
}

// __index chains: a metatable whose __index is its own table loops until the limit.
TEST_F(VMTest, IndexAndNewIndexChainLimitGives1134)
{
    PushNewTable(L);  // 1: t, its own metatable, __index = t and __newindex = t
    PushString(L, "__index");
    PushCopy(L, 1);
    SetTableValueRaw(L, 1);
    PushString(L, "__newindex");
    PushCopy(L, 1);
    SetTableValueRaw(L, 1);
    PushCopy(L, 1);
    AssignMetatable(L, 1);
    struct Get {
        static void Body(lvState *L, void *) {
            PushString(L, "missing");
            GetTableValue(L, 1);
        }
    };
    struct Set {
        static void Body(lvState *L, void *) {
            PushString(L, "missing");
            PushNumber(L, 1);
            SetTableValue(L, 1);
        }
    };
    EXPECT_EQ(RunProtected(L, Get::Body, nullptr), ERR_INTERNAL1);
    EXPECT_STREQ(gVMRun.errorStringArg, "#1");
    SetStackTop(L, 1);
    EXPECT_EQ(RunProtected(L, Set::Body, nullptr), ERR_INTERNAL1);
    EXPECT_STREQ(gVMRun.errorStringArg, "#2");
}

// The traversal order of a table follows from the hash, main-position, free-node
// and rehash rules; serialised tables depend on it. The expected order comes from
// a separate model of those rules.
TEST_F(VMTest, TraversalOrderFollowsTheTableRules)
{
    PushNewTable(L);
    int value = 1;
    auto set = [&](bool isString, const std::string &s, double n) {
        if (isString) PushSizedString(L, s.data(), s.size());
        else PushNumber(L, n);
        PushNumber(L, value++);
        SetTableValueRaw(L, 1);
    };
    for (int i = 0; i < 12; i++) set(true, "key" + std::to_string(i), 0);
    for (double v : {0.0, 1.0, 2.0, 3.0, 5.0, 8.0, 13.0, 100.0, 1000.0, -1.0, 0.5, 2.25, 1e10}) set(false, "", v);
    for (int i = 20; i < 40; i += 3) set(false, "", i);
    set(true, "x", 0);
    set(true, "", 0);
    EXPECT_EQ(TabValue(L->base)->sizearray, 8);
    EXPECT_EQ(TabValue(L->base)->lsizenode, 5);
    std::string order;
    PushNil(L);
    while (NextTableEntry(L, 1)) {
        if (!order.empty()) order += ", ";
        if (GetValueType(L, -2) == LV_TSTRING) {
            order += "\"" + Str(-2) + "\"";
        } else {
            char buf[32];
            std::snprintf(buf, sizeof buf, "%g", Num(-2));
            order += buf;
        }
        SetStackTop(L, -2);
    }
    EXPECT_EQ(order,
              "1, 2, 3, 5, 8, 0, 29, \"key9\", \"key2\", \"key1\", \"key0\", 32, 100, \"\", \"key7\", \"key3\", 20, "
              "\"key8\", \"key6\", 2.25, \"key11\", 38, 23, \"key10\", 35, 26, 1e+10, \"x\", 1000, 13, 0.5, -1, "
              "\"key4\", \"key5\"");
}

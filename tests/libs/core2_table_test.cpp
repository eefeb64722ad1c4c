// Table engine: the list sort over abstract operations (correctness, the error for a
// self-contradicting comparator, bounds of every access) and the list position rules.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <stdexcept>
#include <vector>

#include "libs/table_engine.h"
#include "base/lverrors.h"

namespace {

// A list of numbers with a comparator mode and checks on every access.
struct TestList {
    std::vector<int> items;
    int pivot = 0;
    int mode = 0;            // 0 less-than, 1 always true, 2 random answers, 3 greater-than
    std::mt19937 rng{7};
    int64_t comparisons = 0;
    int64_t failAfter = -1;  // comparisons before an error code is returned
    bool throwInstead = false;
    bool outOfRange = false;

    bool Valid(int64_t i) const { return i == SORT_PIVOT || (i >= 0 && i < (int64_t)items.size()); }
    int Value(int64_t i) const { return i == SORT_PIVOT ? pivot : items[(size_t)i]; }

    lvSortOps Ops()
    {
        return {this, LessThan, Swap, HoldPivot};
    }

    static int LessThan(void *user, int64_t a, int64_t b, int *before)
    {
        TestList *l = static_cast<TestList *>(user);
        if (!l->Valid(a) || !l->Valid(b)) {
            l->outOfRange = true;
            return ERR_INTERNAL;
        }
        if (l->failAfter >= 0 && l->comparisons >= l->failAfter) {
            if (l->throwInstead) throw std::runtime_error("comparator failed");
            return ERR_WRONGOP;
        }
        l->comparisons++;
        switch (l->mode) {
        case 0: *before = l->Value(a) < l->Value(b); break;
        case 1: *before = 1; break;
        case 2: *before = int(l->rng() & 1); break;
        default: *before = l->Value(a) > l->Value(b); break;
        }
        return 0;
    }

    static int Swap(void *user, int64_t a, int64_t b)
    {
        TestList *l = static_cast<TestList *>(user);
        if (a < 0 || b < 0 || a >= (int64_t)l->items.size() || b >= (int64_t)l->items.size()) {
            l->outOfRange = true;
            return ERR_INTERNAL;
        }
        std::swap(l->items[(size_t)a], l->items[(size_t)b]);
        return 0;
    }

    static int HoldPivot(void *user, int64_t i)
    {
        TestList *l = static_cast<TestList *>(user);
        if (i < 0 || i >= (int64_t)l->items.size()) {
            l->outOfRange = true;
            return ERR_INTERNAL;
        }
        l->pivot = l->items[(size_t)i];
        return 0;
    }
};

int Sort(TestList &l)
{
    lvSortOps ops = l.Ops();
    return SortList(&ops, (int64_t)l.items.size());
}

}  // namespace

TEST(TableSort, SortsEveryShape)
{
    std::mt19937 rng(1);
    std::vector<std::vector<int>> inputs = {{}, {1}, {2, 1}, {3, 1, 2}, {5, 5, 5, 5, 5}};
    for (int n : {4, 7, 31, 100, 1000, 5000}) {
        std::vector<int> random(n), sorted(n), reversed(n), few(n);
        for (int i = 0; i < n; i++) {
            random[i] = int(rng() % 100000);
            sorted[i] = i;
            reversed[i] = n - i;
            few[i] = int(rng() % 3);
        }
        inputs.insert(inputs.end(), {random, sorted, reversed, few});
    }
    for (auto &in : inputs) {
        TestList l;
        l.items = in;
        ASSERT_EQ(Sort(l), 0);
        auto expect = in;
        std::sort(expect.begin(), expect.end());
        EXPECT_EQ(l.items, expect) << "size " << in.size();
        EXPECT_FALSE(l.outOfRange);
    }
    // A descending comparator.
    TestList d;
    d.items = {3, 1, 2};
    d.mode = 3;
    ASSERT_EQ(Sort(d), 0);
    EXPECT_EQ(d.items, (std::vector<int>{3, 2, 1}));
}

TEST(TableSort, LargeOrderedInputsStayFast)
{
    // Median of three keeps sorted and constant inputs near n log n comparisons.
    for (int shape = 0; shape < 3; shape++) {
        TestList l;
        l.items.resize(200000);
        for (size_t i = 0; i < l.items.size(); i++) l.items[i] = shape == 0 ? int(i) : shape == 1 ? -int(i) : 4;
        ASSERT_EQ(Sort(l), 0);
        EXPECT_TRUE(std::is_sorted(l.items.begin(), l.items.end()));
        EXPECT_LT(l.comparisons, 200000LL * 40) << shape;
    }
}

TEST(TableSort, AlwaysTrueComparatorIsReportedNotUndefined)
{
    for (int n = 0; n < 64; n++) {
        TestList l;
        l.mode = 1;
        for (int i = 0; i < n; i++) l.items.push_back(i);
        int rc = Sort(l);
        EXPECT_EQ(rc, n >= 4 ? ERR_SORTFUNC : 0) << n;
        EXPECT_FALSE(l.outOfRange) << n;
        // Nothing lost or duplicated by the partial sort.
        std::sort(l.items.begin(), l.items.end());
        for (int i = 0; i < n; i++) EXPECT_EQ(l.items[(size_t)i], i);
    }
}

TEST(TableSort, RandomAnswersNeverLeaveTheList)
{
    for (int trial = 0; trial < 300; trial++) {
        TestList l;
        l.mode = 2;
        l.rng.seed((unsigned)trial);
        int n = 2 + trial % 60;
        for (int i = 0; i < n; i++) l.items.push_back(i);
        int rc = Sort(l);
        EXPECT_TRUE(rc == 0 || rc == ERR_SORTFUNC) << rc;
        EXPECT_FALSE(l.outOfRange) << trial;
        std::vector<int> seen = l.items;
        std::sort(seen.begin(), seen.end());
        for (int i = 0; i < n; i++) ASSERT_EQ(seen[(size_t)i], i);
    }
}

TEST(TableSort, ComparatorErrorsEndTheSort)
{
    TestList l;
    for (int i = 0; i < 50; i++) l.items.push_back(50 - i);
    l.failAfter = 20;
    EXPECT_EQ(Sort(l), ERR_WRONGOP);
    EXPECT_EQ(l.comparisons, 20);

    TestList t;
    for (int i = 0; i < 50; i++) t.items.push_back(i * 7 % 50);
    t.failAfter = 10;
    t.throwInstead = true;
    EXPECT_THROW(Sort(t), std::runtime_error);
}

TEST(TablePositions, InsertRemoveAndConcatRules)
{
    EXPECT_EQ(InsertItemPosition(2, 0), 0);
    EXPECT_EQ(InsertItemPosition(2, 5), 2);
    EXPECT_EQ(InsertItemPosition(2, -1), 2);
    EXPECT_EQ(InsertItemPosition(2, 2), 2);
    EXPECT_EQ(RemoveItemPosition(3, -1), 2);
    EXPECT_EQ(RemoveItemPosition(3, 0), 0);
    EXPECT_EQ(RemoveItemPosition(3, 3), 2);
    EXPECT_EQ(RemoveItemPosition(0, 0), -1);
    EXPECT_EQ(ConcatLastIndex(3, 0, true), 2);
    EXPECT_EQ(ConcatLastIndex(3, 0, false), 2);
    EXPECT_EQ(ConcatLastIndex(3, 1, true), 1);
}

// table_engine.cpp - list sort and list position rules (see table_engine.h).
//
// Depends on: base/lverrors.h.
// Limits: the recursion depth is bounded by log2 of the item count.
#include "libs/table_engine.h"

#include "base/lverrors.h"

// ============================================================================
// Sort
// ============================================================================

namespace {

struct SortRun {
    const lvSortOps *ops;  // the list's operations

    int Before(int64_t a, int64_t b, bool *result) const
    {
        int before = 0;
        int rc = ops->lessThan(ops->user, a, b, &before);
        *result = before != 0;
        return rc;
    }

    int Swap(int64_t a, int64_t b) const { return a == b ? 0 : ops->swap(ops->user, a, b); }

    // Orders two items: swaps them when b comes before a.
    int OrderPair(int64_t a, int64_t b) const
    {
        bool before;
        if (int rc = Before(b, a, &before)) return rc;
        return before ? Swap(a, b) : 0;
    }

    int SortRange(int64_t lo, int64_t up) const
    {
        while (lo < up) {
            if (int rc = OrderPair(lo, up)) return rc;
            if (up - lo == 1) return 0;
            int64_t m = lo + (up - lo) / 2;
            bool before;
            if (int rc = Before(m, lo, &before)) return rc;
            if (before) {
                if (int rc = Swap(m, lo)) return rc;
            } else {
                if (int rc = OrderPair(m, up)) return rc;
            }
            if (up - lo == 2) return 0;
            // The pivot rests at up - 1 while the two scans run between lo and up - 2.
            if (int rc = ops->holdPivot(ops->user, m)) return rc;
            if (int rc = Swap(m, up - 1)) return rc;
            int64_t i = lo, j = up - 1;
            for (;;) {
                // A consistent order stops i at up - 1 (the pivot) and j at lo; running
                // past the part's ends can only come from a self-contradicting comparator.
                for (;;) {
                    if (++i > up) return ERR_SORTFUNC;
                    if (int rc = Before(i, SORT_PIVOT, &before)) return rc;
                    if (!before) break;
                }
                for (;;) {
                    if (--j < lo) return ERR_SORTFUNC;
                    if (int rc = Before(SORT_PIVOT, j, &before)) return rc;
                    if (!before) break;
                }
                if (j < i) break;
                if (int rc = Swap(i, j)) return rc;
            }
            if (int rc = Swap(up - 1, i)) return rc;
            // Recurse into the smaller part, loop on the larger.
            if (i - lo < up - i) {
                if (int rc = SortRange(lo, i - 1)) return rc;
                lo = i + 1;
            } else {
                if (int rc = SortRange(i + 1, up)) return rc;
                up = i - 1;
            }
        }
        return 0;
    }
};

}  // namespace

int SortList(const lvSortOps *ops, int64_t count)
{
    if (count < 2) return 0;
    SortRun run{ops};
    return run.SortRange(0, count - 1);
}

// ============================================================================
// Position rules
// ============================================================================

int64_t InsertItemPosition(int64_t n, int64_t pos) { return (pos < 0 || pos > n) ? n : pos; }

int64_t RemoveItemPosition(int64_t n, int64_t pos)
{
    if (n <= 0) return -1;
    return (pos < 0 || pos > n - 1) ? n - 1 : pos;
}

int64_t ConcatLastIndex(int64_t n, int64_t last, bool lastGiven) { return (!lastGiven || last == 0) ? n - 1 : last; }

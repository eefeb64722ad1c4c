// table_engine.h - the parts of the table library that need no script machine: the
// list sort over abstract item operations, and the position rules of the list
// commands. The commands bind the operations to a script table (raw reads and writes
// through the machine's stack) and a comparator (a script function or the machine's
// less-than).
//
// Lists keep their items at keys 0, 1, 2, ...
//
// Depends on: base/lverrors.h. No VM types.
#pragma once
#include <cstdint>

// ---- Sort -------------------------------------------------------------------------------

// Names the pivot held aside during a partition in lessThan calls.
const int64_t SORT_PIVOT = -1;

// How SortList reaches the list. Every function returns 0 or an error code, which ends
// the sort with that code (the list stays partly sorted). Throwing is allowed as well:
// the sort holds nothing that needs releasing.
struct lvSortOps {
    void *user;                                                        // handed to each call
    int (*lessThan)(void *user, int64_t a, int64_t b, int *before);   // *before = item a comes before item b
    int (*swap)(void *user, int64_t a, int64_t b);                     // exchanges items a and b
    int (*holdPivot)(void *user, int64_t index);                      // copies item index into the pivot slot
};

// Sorts items 0 to count - 1 in place: a quicksort with a median-of-three pivot that
// recurses into the smaller part only (depth about log2(count)). A comparator that
// contradicts itself makes the scan run past its part: that ends the sort with
// ERR_SORTFUNC before any item outside 0..count-1 is touched. 0 or an error code.
int SortList(const lvSortOps *ops, int64_t count);

// ---- Position rules ---------------------------------------------------------------------

// InsertItem: the key the new item takes in a list of n; pos < 0 or pos > n append (n).
int64_t InsertItemPosition(int64_t n, int64_t pos);
// RemoveItem: the key to remove from a list of n, or -1 when the list is empty (no
// result); pos < 0 or pos > n - 1 mean the last item.
int64_t RemoveItemPosition(int64_t n, int64_t pos);
// Concat: the last key joined, from the counted length n and the argument (absent or 0:
// n - 1). The result is empty when first is above it.
int64_t ConcatLastIndex(int64_t n, int64_t last, bool lastGiven);

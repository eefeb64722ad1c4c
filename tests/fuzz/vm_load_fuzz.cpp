// Fuzz target of the bytecode loader: any input must end in a result code.
// A chunk that loads is dumped and loaded again (the dump must load and give
// the same bytes once more), then run for a bounded number of instructions,
// so that what the verifier lets through is exercised by the interpreter too.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "vm/lvobject.h"

namespace {
std::vector<char> gOut;
int Collect(lvState *, const void *b, size_t n, void *)
{
    gOut.insert(gOut.end(), static_cast<const char *>(b), static_cast<const char *>(b) + n);
    return 0;
}
int StopAfterBudget(lvState *, lvDebugInfo *, int *error)
{
    *error = ERR_USERABORT;
    return 0;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    ResetVMRun();
    // Size hints and string doubling may ask for gigabytes: stop at 64 MB.
    gVMDebug.memoryLimit = 64u << 20;
    lvState *L = NewVMState();
    if (!L) return 0;
    if (LoadChunkBuffer(L, data, size, "=fuzz") == 0) {
        gOut.clear();
        if (DumpFunction(L, -1, Collect, nullptr) != 0) std::abort();
        std::vector<char> first = gOut;
        if (LoadChunkBuffer(L, first.data(), first.size(), "=again") != 0) std::abort();
        gOut.clear();
        DumpFunction(L, -1, Collect, nullptr);
        if (gOut != first) std::abort();
        SetStackTop(L, 1);
        SetHook(L, StopAfterBudget, 8 /* count */, 20000);
        ProtectedCall(L, 0, 0, 0);
    }
    CloseVMState(L);
    return 0;
}

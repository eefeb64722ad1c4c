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

// A few commands, so that fuzzed code reaches metatables, userdata, finalisers,
// command errors, jump requests and coroutines.
int CmdSetMeta(lvState *L)
{
    SetStackTop(L, 2);
    if (GetValueType(L, 2) != LV_TTABLE && GetValueType(L, 2) != LV_TNIL) return ERR_TABEXPECTED;
    AssignMetatable(L, 1);
    return 1;
}
int CmdNewUd(lvState *L)
{
    PushNewUserData(L, 16);
    return 1;
}
int CmdFail(lvState *) { return ERR_NUMEXPECTED; }
int CmdCollect(lvState *L)
{
    RunFullCollection(L);
    return 0;
}
int CmdJump(lvState *L)
{
    gVMRun.jumpRequestOffset = static_cast<int>(ValueToNumber(L, 1));
    return ValueToBoolean(L, 2) ? LV_JUMPREQUEST_AGAIN : LV_JUMPREQUEST;
}
int CmdYield(lvState *L) { return YieldThread(L, GetStackTop(L)); }
int CmdResume(lvState *L)
{
    int n = GetStackTop(L);
    if (n < 1) return 0;
    lvState *co = PushNewThread(L);
    InsertValue(L, 1);
    MoveValues(L, co, n);
    int st = ResumeThread(co, n - 1);
    PushNumber(L, st);
    if (st == 0) {
        int r = GetStackTop(co);
        if (!EnsureStackSpace(L, r)) return 1;
        MoveValues(co, L, r);
        return r + 1;
    }
    return 1;
}
int CmdNext(lvState *L)
{
    SetStackTop(L, 2);
    CheckTableArg(L, 1);
    if (NextTableEntry(L, 1)) return 2;
    PushNil(L);
    return 1;
}
const lvCommandEntry kCommands[] = {
    {"setmeta", CmdSetMeta}, {"newud", CmdNewUd}, {"fail", CmdFail}, {"collect", CmdCollect},
    {"jump", CmdJump},       {"yield", CmdYield}, {"resume", CmdResume}, {"next", CmdNext},
    {nullptr, nullptr},
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    ResetVMRun();
    // Size hints and string doubling may ask for gigabytes: stop at 64 MB.
    gVMDebug.memoryLimit = 64u << 20;
    // LV_VM_TORTURE=1 / LV_VM_MOVESTACK=1 fuzz the collector and stack moves as well.
    static const bool torture = std::getenv("LV_VM_TORTURE") != nullptr;
    static const bool moveStack = std::getenv("LV_VM_MOVESTACK") != nullptr;
    gVMDebug.torture = torture;
    gVMDebug.moveStack = moveStack;
    lvState *L = NewVMState();
    if (!L) return 0;
    PushCopy(L, LV_GLOBALSINDEX);
    RegisterLibrary(L, nullptr, kCommands, 0);
    SetStackTop(L, 0);
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

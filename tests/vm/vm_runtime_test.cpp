// Protected calls, coroutines, the collector, debug information, hooks, the
// stop request and the call trace.
#include <atomic>
#include <chrono>
#include <thread>

#include <pthread.h>
#include <time.h>

#include "tests/vm/vm_test_util.h"

namespace {
int gDeepest;
int gStatusAtDeepest;

int NestProtected(lvState *L)
{
    int depth = static_cast<int>(ValueToNumber(L, 1));
    if (depth > gDeepest) gDeepest = depth;
    PushNativeClosure(L, NestProtected, 0);
    PushNumber(L, depth + 1);
    int st = ProtectedCall(L, 1, 0, 0);
    if (st != 0 && gStatusAtDeepest == 0) gStatusAtDeepest = st;
    return 0;
}

int CmdYield(lvState *L) { return YieldThread(L, GetStackTop(L)); }
}  // namespace

TEST_F(VMTest, FiftyOneNestedProtectedCallsWorkAndTheNextIsRefused)
{
    for (int round = 0; round < 2; round++) {
        gDeepest = 0;
        gStatusAtDeepest = 0;
        PushNativeClosure(L, NestProtected, 0);
        PushNumber(L, 1);
        ASSERT_EQ(ProtectedCall(L, 1, 0, 0), 0);
        EXPECT_EQ(gDeepest, 51) << round;
        EXPECT_EQ(gStatusAtDeepest, ERR_STACK) << round;
        EXPECT_EQ(gVMRun.protectedNesting, 0);
    }
}

TEST_F(VMTest, CaughtErrorLeavesTheValuesBelowAndAUsableMachine)
{
    PushNumber(L, 1);
    PushString(L, "two");
    PushNumber(L, 3);
    ASSERT_EQ(Load("    newtable r0 0 0\n    gettable r1 r0 \"x\"\n    return r1 2\n"), 0);
    PushNumber(L, 99);  // an argument
    EXPECT_EQ(ProtectedCall(L, 1, -1, 0), ERR_FIELDINIT);
    ASSERT_EQ(GetStackTop(L), 3);
    EXPECT_EQ(Num(1), 1);
    EXPECT_EQ(Str(2), "two");
    EXPECT_EQ(Num(3), 3);
    EXPECT_EQ(L->ci, L->baseCi);
    ASSERT_EQ(Run("    loadk r0 5\n    return r0 2\n"), 0);
    EXPECT_EQ(Num(-1), 5);
}

static const char *kGenerator = R"(
    getglobal r0 "yield"
    loadk     r1 1
    call      r0 2 1
    getglobal r0 "yield"
    loadk     r1 2
    call      r0 2 1
    getglobal r0 "yield"
    loadk     r1 3
    call      r0 2 2
    return    r0 2
)";

TEST_F(VMTest, GeneratorCoroutineYieldsThenIsDead)
{
    Register("yield", CmdYield);
    lvState *co = PushNewThread(L);
    ASSERT_EQ(Load(kGenerator), 0);
    MoveValues(L, co, 1);
    for (int i = 1; i <= 3; i++) {
        ASSERT_EQ(ResumeThread(co, 0), 0) << i;
        ASSERT_EQ(GetStackTop(co), 1);
        EXPECT_EQ(ValueToNumber(co, 1), i);
        SetStackTop(co, 0);
    }
    // The fourth resume passes a value back as the last yield's result, which is returned.
    PushString(co, "back");
    ASSERT_EQ(ResumeThread(co, 1), 0);
    ASSERT_EQ(GetStackTop(co), 1);
    EXPECT_STREQ(ValueToString(co, 1), "back");
    SetStackTop(co, 0);
    EXPECT_EQ(ResumeThread(co, 0), ERR_DEADRESUME);
}

TEST_F(VMTest, ResumingARunningCoroutineIsRefused)
{
    static int inner;
    Register("resumeself", [](lvState *L) {
        inner = ResumeThread(L, 0);
        return 0;
    });
    lvState *co = PushNewThread(L);
    ASSERT_EQ(Load("    getglobal r0 \"resumeself\"\n    call r0 1 1\n    return r0 1\n"), 0);
    MoveValues(L, co, 1);
    inner = 0;
    ASSERT_EQ(ResumeThread(co, 0), 0);
    EXPECT_EQ(inner, ERR_NONSUSPENDEDRESUME);
}

TEST_F(VMTest, YieldAcrossANativeCallIsRefused)
{
    Register("yield", CmdYield);
    Register("viacall", [](lvState *L) {
        PushNativeClosure(L, CmdYield, 0);
        return CallFunction(L, 0, 0);
    });
    lvState *co = PushNewThread(L);
    ASSERT_EQ(Load("    getglobal r0 \"viacall\"\n    call r0 1 1\n    return r0 1\n"), 0);
    MoveValues(L, co, 1);
    EXPECT_EQ(ResumeThread(co, 0), ERR_BADYIELD);
    EXPECT_EQ(co->ci, co->baseCi);
    // A native coroutine body has only a native record below it.
    lvState *co2 = PushNewThread(L);
    PushNativeClosure(co2, CmdYield, 0);
    EXPECT_EQ(ResumeThread(co2, 0), ERR_CYIELD);
}

// ---- Collector ------------------------------------------------------------------------------------

namespace {
uint64_t gPeak;
int RecordPeak(lvState *L, lvDebugInfo *, int *)
{
    if (L->G->nblocks > gPeak) gPeak = L->G->nblocks;
    return 0;
}
int gFinalised;
}  // namespace

TEST_F(VMTest, ManyShortStringsKeepMemoryBounded)
{
#if defined(LV_SANITIZED)
    int n = 1000000;
#else
    int n = 10000000;
#endif
    if (gVMDebug.torture) n = 20000;
    gPeak = 0;
    SetHook(L, RecordPeak, LV_MASKCOUNT, 10000);
    ASSERT_EQ(Load(R"(
.params 1
    loadk     r1 0
    move      r2 r0
    loadk     r3 1
    sub       r1 r1 r3
    jmp       test
body:
    loadk     r4 "s"
    move      r5 r1
    concat    r6 r4 r5
test:
    forloop   r1 body
    return    r6 2
)"), 0);
    PushNumber(L, n - 1);
    ASSERT_EQ(ProtectedCall(L, 1, 1, 0), 0);
    EXPECT_EQ(Str(-1), "s" + std::to_string(n - 1));
    EXPECT_LT(gPeak, 4u << 20) << "bytes in use grew with the number of strings";
    EXPECT_GT(gPeak, 0u);
}

TEST_F(VMTest, WeakKeysAndValuesAreClearedButStringsStay)
{
    // t1 has weak keys, t2 weak values.
    const char *modes[] = {"k", "v"};
    for (int i = 0; i < 2; i++) {
        PushNewTable(L);
        PushNewTable(L);
        PushString(L, "__mode");
        PushString(L, modes[i]);
        SetTableValueRaw(L, -3);
        AssignMetatable(L, -2);
    }
    // t1[{}] = 1; t1["s"] = 2; t2[1] = {}; t2[2] = "kept"; t2[3] = t1 (still referenced)
    PushNewTable(L);
    PushNumber(L, 1);
    SetTableValueRaw(L, 1);
    PushString(L, "s");
    PushNumber(L, 2);
    SetTableValueRaw(L, 1);
    PushNewTable(L);
    SetTableItemRaw(L, 2, 1);
    PushString(L, "kept");
    SetTableItemRaw(L, 2, 2);
    PushCopy(L, 1);
    SetTableItemRaw(L, 2, 3);
    RunFullCollection(L);
    int keys = 0;
    PushNil(L);
    while (NextTableEntry(L, 1)) {
        keys++;
        EXPECT_EQ(GetValueType(L, -2), LV_TSTRING);
        SetStackTop(L, -2);
    }
    EXPECT_EQ(keys, 1);
    GetTableItemRaw(L, 2, 1);
    EXPECT_EQ(GetValueType(L, -1), LV_TNIL);
    GetTableItemRaw(L, 2, 2);
    EXPECT_EQ(Str(-1), "kept");
    GetTableItemRaw(L, 2, 3);
    EXPECT_EQ(GetValueType(L, -1), LV_TTABLE);
}

TEST_F(VMTest, FinaliserRunsOnceAfterTheSweepAndTheObjectGoesNextTime)
{
    gFinalised = 0;
    PushNewUserData(L, 1000);
    PushNewTable(L);
    PushString(L, "__gc");
    PushNativeClosure(L, [](lvState *L) {
        gFinalised++;
        // The object is still whole while its finaliser runs.
        EXPECT_NE(GetUserDataPointer(L, 1), nullptr);
        return 0;
    }, 0);
    SetTableValueRaw(L, -3);
    AssignMetatable(L, -2);
    RunFullCollection(L);
    EXPECT_EQ(gFinalised, 0) << "still referenced";
    SetStackTop(L, 0);
    RunFullCollection(L);
    EXPECT_EQ(gFinalised, 1);
    uint64_t afterFinaliser = L->G->nblocks;
    RunFullCollection(L);
    EXPECT_EQ(gFinalised, 1);
    EXPECT_LE(L->G->nblocks + 1000, afterFinaliser);
}

TEST_F(VMTest, FinalisersRunWhenTheMachineCloses)
{
    gFinalised = 0;
    lvState *M = NewVMState();
    for (int i = 0; i < 3; i++) {
        PushNewUserData(M, 16);
        PushNewTable(M);
        PushString(M, "__gc");
        PushNativeClosure(M, [](lvState *) { gFinalised++; return 0; }, 0);
        SetTableValueRaw(M, -3);
        AssignMetatable(M, -2);
    }
    CloseVMState(M);
    EXPECT_EQ(gFinalised, 3);
}

TEST_F(VMTest, WeakTablesThemselvesAreFreed)
{
    RunFullCollection(L);
    uint64_t baseline = L->G->nblocks;
    for (int i = 0; i < 10; i++) {
        PushNewSizedTable(L, 0, 4);
        PushNewTable(L);
        PushString(L, "__mode");
        PushString(L, "kv");
        SetTableValueRaw(L, -3);
        AssignMetatable(L, -2);
        RunFullCollection(L);  // traversed as weak once
        SetStackTop(L, 0);
    }
    RunFullCollection(L);
    EXPECT_EQ(L->G->nblocks, baseline);
}

TEST_F(VMTest, StacksAndStringTableShrinkAfterACollection)
{
    ResizeStack(L, 1000);
    ResizeCallRecords(L, 64);
    RunFullCollection(L);
    EXPECT_EQ(L->stacksize, 500);
    EXPECT_EQ(L->sizeCi, 32);
    ASSERT_EQ(EnsureStackSpace(L, 1), 1);
    PushNewTable(L);
    for (int i = 0; i < 5000; i++) {
        PushNumber(L, i);
        PushString(L, ("string number " + std::to_string(i)).c_str());
        SetTableValueRaw(L, 1);
    }
    int grown = L->G->strt.size;
    EXPECT_GE(grown, 4096);
    SetStackTop(L, 0);
    RunFullCollection(L);
    EXPECT_EQ(L->G->strt.size, grown / 2);
}

// ---- Debug information and hooks ------------------------------------------------------------------

namespace {
std::string gName, gKind;
int CmdWhoAmI(lvState *L)
{
    lvDebugInfo ar;
    EXPECT_EQ(GetStackLevel(L, 0, &ar), 1);
    EXPECT_EQ(GetDebugInfo(L, "nSl", &ar), 1);
    gName = ar.name ? ar.name : "(none)";
    gKind = ar.nameKind;
    EXPECT_STREQ(ar.what, "C");
    return 0;
}
}  // namespace

TEST_F(VMTest, CalledFunctionNamesAndKinds)
{
    Register("whoami", CmdWhoAmI);
    struct Row {
        const char *program;
        const char *name;
        const char *kind;
    };
    const Row rows[] = {
        {"    getglobal r0 \"whoami\"\n    call r0 1 1\n    return r0 1\n", "whoami", "global"},
        {".local \"fn\" 1 2\n    getglobal r0 \"whoami\"\n    call r0 1 1\n    return r0 1\n", "fn", "local"},
        {"    newtable r0 0 0\n    getglobal r1 \"whoami\"\n    settable r0 \"field1\" r1\n    gettable r1 r0 \"field1\"\n"
         "    call r1 1 1\n    return r0 1\n", "field1", "field"},
        {"    newtable r0 0 0\n    getglobal r1 \"whoami\"\n    settable r0 \"meth\" r1\n    self r1 r0 \"meth\"\n"
         "    call r1 2 1\n    return r0 1\n", "meth", "method"},
    };
    for (const Row &r : rows) {
        gName.clear();
        ASSERT_EQ(Run(r.program), 0) << r.program;
        EXPECT_EQ(gName, r.name) << r.program;
        EXPECT_EQ(gKind, r.kind) << r.program;
        SetStackTop(L, 0);
    }
}

TEST_F(VMTest, ErrorInsideANestedCallReportsItsLineAndName)
{
    EXPECT_EQ(Run(R"(.source "@nested.lvs"
.line 3
    closure   r0 inner
.line 4
    call      r0 1 1
    return    r0 1
.function inner
.linedefined 10
.line 11
    loadk     r0 1
.line 12
    getglobal r1 "missingtable"
.line 13
    gettable  r2 r1 "x"
    return    r2 2
.end
)"), ERR_TABLEDECLA);
    EXPECT_EQ(gVMRun.errorLine, 13);
    EXPECT_STREQ(gVMRun.errorFile, "@nested.lvs");
    EXPECT_STREQ(gVMRun.errorStringArg, "missingtable{}");
    // An error raised by a command notes the calling script line.
    Register("Fail", [](lvState *) { return int(ERR_NUMEXPECTED); });
    EXPECT_EQ(Run(".line 7\n    getglobal r0 \"fail\"\n.line 8\n    call r0 1 1\n    return r0 1\n"), ERR_NUMEXPECTED);
    EXPECT_EQ(gVMRun.errorLine, 8);
    EXPECT_STREQ(gVMRun.errorCommand, "fail");
}

namespace {
std::vector<int> gLines;
int LineHook(lvState *, lvDebugInfo *ar, int *)
{
    if (ar->event == LV_HOOKLINE) gLines.push_back(ar->currentLine);
    return 0;
}

// Lines 1 to 5, with a loop of two rounds over lines 3 and 4.
const char *const kLineProgram = R"(
.line 1
    loadk     r0 0
    loadk     r1 1
.line 2
    loadk     r2 2
    loadk     r3 1
    sub       r1 r1 r3
    jmp       test
.line 3
body:
    add       r0 r0 r1
.line 4
test:
    forloop   r1 body
.line 5
    return    r0 2
)";
}  // namespace

TEST_F(VMTest, LineHookSeesNewLinesAndBackwardJumps)
{
    ASSERT_EQ(Load(kLineProgram), 0);
    gLines.clear();
    SetHook(L, LineHook, LV_MASKLINE, 0);
    ASSERT_EQ(ProtectedCall(L, 0, 1, 0), 0);
    SetHook(L, nullptr, 0, 0);
    // The first instruction only starts the tracking.
    std::vector<int> expect = {2, 4, 3, 4, 3, 4, 5};
    EXPECT_EQ(gLines, expect);
}

TEST_F(VMTest, StopRequestFromAnotherThreadEndsABusyLoop)
{
    ASSERT_EQ(Load("loop:\n    jmp loop\n    return r0 1\n"), 0);
    // The script's own CPU time after the request is what the machine controls;
    // wall time on a loaded machine also counts time the thread was not running.
    clockid_t scriptClock = ThreadCpuClock();
    auto cpuNs = [scriptClock] { return CpuNanoseconds(scriptClock); };
    std::atomic<int64_t> cpuAtRequest{0};
    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        // Read the clock after the request: a stopper thread pre-empted between the two
        // would otherwise charge the script for CPU time it spent before the request.
        RequestScriptStop(1);
        cpuAtRequest = cpuNs();
    });
    auto wall0 = std::chrono::steady_clock::now();
    int st = ProtectedCall(L, 0, 0, 0);
    int64_t cpuAtEnd = cpuNs();
    auto wall = std::chrono::steady_clock::now() - wall0;
    stopper.join();
    RequestScriptStop(0);
    EXPECT_EQ(st, ERR_USERABORT);
    EXPECT_LT(cpuAtEnd - cpuAtRequest.load(), 10 * 1000 * 1000) << "ran on for more than 10 ms of CPU time";
    EXPECT_LT(wall, std::chrono::seconds(5));
}

TEST_F(VMTest, HookErrorAndCountHook)
{
    static int counts;
    counts = 0;
    SetHook(L, [](lvState *, lvDebugInfo *ar, int *err) {
        if (ar->event == LV_HOOKCOUNT && ++counts == 5) *err = ERR_USERABORT;
        return 0;
    }, LV_MASKCOUNT, 100);
    ASSERT_EQ(Load("loop:\n    jmp loop\n    return r0 1\n"), 0);
    EXPECT_EQ(ProtectedCall(L, 0, 0, 0), ERR_USERABORT);
    EXPECT_EQ(counts, 5);
    EXPECT_EQ(L->allowhook, 1) << "the protected call restores the hooks flag";
}

namespace {
std::string gTrace;
}  // namespace

TEST_F(VMTest, CallTraceLinesHaveTheirFormat)
{
    lvVMHost host{};
    host.TraceCalls = [] { return 1; };
    host.PrintOutput = [](const char *t) { gTrace += t; };
    SetVMHost(&host);
    Register("show", [](lvState *) { return 0; });
    Register("getboolean", [](lvState *L) { PushBoolean(L, 1); return 1; });
    gTrace.clear();
    ASSERT_EQ(Run(R"(
    getglobal r0 "getboolean"
    call      r0 1 2
    move      r6 r0
    getglobal r0 "show"
    loadnil   r1 r1
    loadk     r2 1.5
    loadk     r3 "s"
    loadk     r4 7
    loadk     r5 -2
    call      r0 7 1
    return    r0 1
)"), 0);
    EXPECT_EQ(gTrace,
              "Now calling getboolean()\n"
              "Now calling show() with arguments #1=(NIL) #2=(NUMBER)1.5 #3=(STRING)\"s\" #4=(NUMBER)7 "
              "#5=(NUMBER)-2 #6=(INTERNAL)1 \n");
    gTrace.clear();
    ASSERT_EQ(Run("    newtable r1 0 0\n    getglobal r0 \"show\"\n    call r0 2 1\n    return r0 1\n"), 0);
    EXPECT_EQ(gTrace.rfind("Now calling show() with arguments #1=(TABLE)0x", 0), 0u) << gTrace;
}

TEST_F(VMTest, OutOfMemoryIsACaughtErrorAndTheMachineGoesOn)
{
    gVMDebug.memoryLimit = L->G->nblocks + (1u << 20);
    EXPECT_EQ(Run("    newtable r0 1000000 0\n    return r0 2\n"), ERR_MEM);
    EXPECT_EQ(GetStackTop(L), 0);
    gVMDebug.memoryLimit = 0;
    ASSERT_EQ(Run("    newtable r0 1000000 0\n    return r0 2\n"), 0);
    EXPECT_EQ(GetValueType(L, -1), LV_TTABLE);
}

TEST_F(VMTest, StopRequestSetInsideALineHookEndsTheScript)
{
    SetHook(L, [](lvState *, lvDebugInfo *ar, int *) {
        if (ar->event == LV_HOOKLINE && ar->currentLine == 3) RequestScriptStop(1);
        return 0;
    }, LV_MASKLINE, 0);
    int st = Run(".line 1\n    loadk r0 1\n.line 2\n    loadk r0 2\n.line 3\n    loadk r0 3\n.line 4\n    return r0 2\n");
    RequestScriptStop(0);
    EXPECT_EQ(st, ERR_USERABORT);
    EXPECT_EQ(gVMRun.errorLine, 3);
}

TEST_F(VMTest, CallAndReturnHooksSeeEveryCallIncludingLostTailCalls)
{
    static std::vector<int> events;
    events.clear();
    Register("nop", [](lvState *) { return 0; });
    ASSERT_EQ(Load(R"(
    closure   r0 outer
    call      r0 1 1
    return    r0 1
.function outer
    closure   r0 inner
    tailcall  r0 1 0
    return    r0 0
.function inner
    getglobal r0 "nop"
    call      r0 1 1
    return    r0 1
.end
.end
)"), 0);
    SetHook(L, [](lvState *, lvDebugInfo *ar, int *) {
        events.push_back(ar->event);
        return 0;
    }, LV_MASKCALL | LV_MASKRET, 0);
    ASSERT_EQ(ProtectedCall(L, 0, 0, 0), 0);
    SetHook(L, nullptr, 0, 0);
    // main, outer (its frame then taken by inner), nop; returns of nop, inner,
    // one lost tail call, main.
    std::vector<int> expect = {LV_HOOKCALL, LV_HOOKCALL, LV_HOOKCALL, LV_HOOKCALL, LV_HOOKRET,
                               LV_HOOKRET,  LV_HOOKTAILRET, LV_HOOKRET};
    EXPECT_EQ(events, expect);
}

TEST_F(VMTest, GatedLineHookRunsOnlyWhenLineWorkIsPending)
{
    ASSERT_EQ(Load(kLineProgram), 0);
    SetGatedLineHook(L, LineHook);
    struct Row {
        const char *what;
        unsigned work;
        std::vector<int> lines;
    };
    const Row rows[] = {
        {"no work: never called", 0, {}},
        // A due poll runs the hook once, at the first line the tracking sees after it
        // began, and is then cleared.
        {"one poll", LV_LINEWORK_POLL, {2}},
        // Every line: exactly what a plain line hook sees.
        {"every line", LV_LINEWORK_EVERYLINE, {2, 4, 3, 4, 3, 4, 5}},
    };
    for (const Row &r : rows) {
        gLines.clear();
        SetGatedLineHook(L, LineHook);  // tracking starts afresh
        PushCopy(L, 1);
        SetLineHookWork(r.work, 1);
        ASSERT_EQ(ProtectedCall(L, 0, 1, 0), 0) << r.what;
        EXPECT_EQ(Num(-1), 3) << r.what;
        SetStackTop(L, 1);
        EXPECT_EQ(gLines, r.lines) << r.what;
        EXPECT_EQ(gVMRun.attention.load() & LV_LINEWORK_POLL, 0u) << r.what;
        SetLineHookWork(LV_LINEWORK_EVERYLINE | LV_LINEWORK_POLL, 0);
    }
    SetHook(L, nullptr, 0, 0);
}

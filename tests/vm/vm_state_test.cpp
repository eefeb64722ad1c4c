// Machines, memory accounting, stacks, call records and protected runs.
#include <thread>

#include "tests/vm/vm_test_util.h"

TEST(VMState, ThousandMachinesLeaveNoBytesBehind)
{
    ResetVMRun();
    uint64_t baseline = GetVMProcessBytes();
    for (int i = 0; i < 1000; i++) {
        lvState *L = NewVMState();
        ASSERT_NE(L, nullptr);
        // Something of every kind, so the close has work to do.
        PushNewTable(L);
        PushString(L, "some text");
        PushNumber(L, i);
        SetTableValue(L, -3);
        PushNewUserData(L, 100);
        lvState *co = PushNewThread(L);
        ASSERT_NE(co, nullptr);
        EXPECT_GT(GetMemoryInUse(L), 0);
        CloseVMState(L);
        ASSERT_EQ(GetVMProcessBytes(), baseline) << "machine " << i;
    }
}

TEST_F(VMTest, BytesInUseFollowAllocationsAndReleases)
{
    RunFullCollection(L);
    uint64_t before = L->G->nblocks;
    PushNewSizedTable(L, 1000, 4);
    EXPECT_GE(L->G->nblocks, before + 1000 * sizeof(lvValue));
    SetStackTop(L, 0);
    RunFullCollection(L);
    EXPECT_EQ(L->G->nblocks, before);
    EXPECT_EQ(L->G->GCthreshold, 2 * before);
}

TEST_F(VMTest, StackGrowsByTheDocumentedSteps)
{
    EXPECT_EQ(L->stacksize, 45);
    EXPECT_EQ(L->stackLast - L->stack, 39);
    GrowStack(L, 10);
    EXPECT_EQ(L->stacksize, 90);
    lvState *L2 = NewVMState();
    GrowStack(L2, 50);
    EXPECT_EQ(L2->stacksize, 100);
    CloseVMState(L2);
}

TEST_F(VMTest, NativeFrameHoldsAtMost2048Values)
{
    EXPECT_EQ(EnsureStackSpace(L, 2048), 1);
    int before = L->stacksize;
    EXPECT_EQ(EnsureStackSpace(L, 2049), 0);
    EXPECT_EQ(L->stacksize, before);
    for (int i = 0; i < 2048; i++) PushNumber(L, i);
    EXPECT_EQ(GetStackTop(L), 2048);
    EXPECT_EQ(Num(-1), 2047);
}

static int PushOneAndRecurse(lvState *L);

static const char *kDeepRecursion = R"(
    closure   r0 rec
    setglobal r0 "rec"
    call      r0 1 1
    return    r0 1
.function rec
    getglobal r0 "rec"
    call      r0 1 1
    return    r0 1
.end
)";

TEST_F(VMTest, CallRecord4097RaisesStackErrorAndMachineRecovers)
{
    EXPECT_EQ(Run(kDeepRecursion), ERR_STACK);
    EXPECT_EQ(L->sizeCi, LV_MAXCALLS);
    EXPECT_EQ(L->ci, L->baseCi);
    EXPECT_EQ(GetStackTop(L), 0);
    // The machine works normally afterwards.
    EXPECT_EQ(Run("loadk r0 7\nreturn r0 2\n"), 0);
    EXPECT_EQ(Num(-1), 7);
}

// Native recursion through CallFunction: depth 200 raises ERR_STACK.
static int gDepthReached;
static int NativeRecurse(lvState *L)
{
    gDepthReached = L->nCcalls;
    PushCopy(L, LvUpvalueIndex(1));
    PushCopy(L, -1);
    PushNativeClosure(L, NativeRecurse, 1);
    ReplaceValue(L, -2);
    CallFunction(L, 0, 0);
    return 0;
}
static int PushOneAndRecurse(lvState *L) { return NativeRecurse(L); }

TEST_F(VMTest, TwoHundredNestedNativeCallsRaiseStackError)
{
    PushNil(L);
    PushNativeClosure(L, PushOneAndRecurse, 1);
    EXPECT_EQ(ProtectedCall(L, 0, 0, 0), ERR_STACK);
    EXPECT_EQ(gDepthReached, LV_MAXCCALLS - 1);
    EXPECT_EQ(L->nCcalls, 0);
    EXPECT_EQ(GetStackTop(L), 0);
}

static void ThrowsFieldInit(lvState *L, void *) { RaiseError(L, ERR_FIELDINIT); }

TEST_F(VMTest, RunProtectedTurnsAThrowIntoItsStatus)
{
    EXPECT_EQ(gVMRun.errorInProgress, 0);
    EXPECT_EQ(RunProtected(L, ThrowsFieldInit, nullptr), ERR_FIELDINIT);
    EXPECT_EQ(gVMRun.errorInProgress, 1);
    EXPECT_EQ(L->errorJump, nullptr);
    EXPECT_EQ(gVMRun.currentState, nullptr);
}

TEST(VMStateDeath, ThrowWithoutTrapRunsPanicAndExitsWithOne)
{
    EXPECT_EXIT(
        {
            lvState *L = NewVMState();
            SetPanicFunction(L, [](lvState *) { std::fputs("panic ran\n", stderr); });
            ThrowError(L, ERR_MEM);
        },
        ::testing::ExitedWithCode(1), "panic ran");
}

TEST(VMStateOwner, TheScriptThreadClaimsTheMachine)
{
    ResetVMRun();
    lvState *L = NewVMState();
    int status = -1;
    std::thread script([&] {
        ClaimVMState(L);
        PushNativeClosure(L, [](lvState *) { return 0; }, 0);
        status = ProtectedCall(L, 0, 0, 0);
    });
    script.join();
    EXPECT_EQ(status, 0);
    ClaimVMState(L);
    CloseVMState(L);
}

#ifndef NDEBUG
TEST(VMStateOwnerDeath, UseFromAThreadThatDoesNotOwnTheMachineAborts)
{
    EXPECT_DEATH(
        {
            lvState *L = NewVMState();
            std::thread other([&] {
                PushNativeClosure(L, [](lvState *) { return 0; }, 0);
                ProtectedCall(L, 0, 0, 0);
            });
            other.join();
        },
        "does not own");
}
#endif

TEST_F(VMTest, AllocationsAtTheCapRaiseOutOfMemory)
{
    struct Big {
        static void Body(lvState *L, void *) { ReallocVMMemory(L, nullptr, 0, 0xFFFFFFFDull); }
    };
    uint64_t before = L->G->nblocks;
    EXPECT_EQ(RunProtected(L, Big::Body, nullptr), ERR_MEM);
    EXPECT_EQ(L->G->nblocks, before);
    // Without a machine the allocator answers NULL instead.
    EXPECT_EQ(ReallocVMMemory(nullptr, nullptr, 0, 0xFFFFFFFDull), nullptr);
}

TEST(VMStateClose, ClosingThroughACoroutineClosesTheWholeMachine)
{
    ResetVMRun();
    uint64_t baseline = GetVMProcessBytes();
    lvState *L = NewVMState();
    lvState *co = PushNewThread(L);
    PushNewTable(co);
    CloseVMState(co);
    EXPECT_EQ(GetVMProcessBytes(), baseline);
}

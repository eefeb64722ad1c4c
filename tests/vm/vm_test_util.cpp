// vm_test_util.cpp - the machine tests' fixture and the debug switches read
// from the environment (LV_VM_TORTURE, LV_VM_MOVESTACK).
#include "tests/vm/vm_test_util.h"

#include <pthread.h>

#include <cstdlib>

namespace {
// Applied once before any test runs.
const int kSwitchesRead = [] {
    const char *t = std::getenv("LV_VM_TORTURE");
    const char *m = std::getenv("LV_VM_MOVESTACK");
    gVMDebug.torture = t && *t == '1';
    gVMDebug.moveStack = m && *m == '1';
    return 0;
}();
}  // namespace

std::vector<uint8_t> AssembleOrFail(const std::string &text)
{
    lvAsmResult r = AsmAssembleText(text, "test.lvs");
    std::string errs;
    for (const std::string &e : r.errors) errs += e + "\n";
    EXPECT_TRUE(r.ok) << errs;
    return r.bytes;
}

void VMTest::SetUp()
{
    (void)kSwitchesRead;
    ResetVMRun();
    SetVMHost(nullptr);
    L = NewVMState();
    ASSERT_NE(L, nullptr);
}

void VMTest::TearDown()
{
    gVMDebug.memoryLimit = 0;
    if (L) CloseVMState(L);
    L = nullptr;
    SetVMHost(nullptr);
    ResetVMRun();
}

int VMTest::Load(const std::string &text)
{
    std::vector<uint8_t> bytes = AssembleOrFail(text);
    return LoadChunkBuffer(L, bytes.data(), bytes.size(), "=test");
}

int VMTest::Run(const std::string &text)
{
    int st = Load(text);
    if (st != 0) return st;
    return ProtectedCall(L, 0, -1, 0);
}

void VMTest::Register(const char *name, lvCommandFunction f)
{
    lvCommandEntry e[] = {{name, f}, {nullptr, nullptr}};
    PushCopy(L, LV_GLOBALSINDEX);
    RegisterLibrary(L, nullptr, e, 0);
    SetStackTop(L, -2);
}

double VMTest::Num(int index)
{
    EXPECT_EQ(GetValueType(L, index), LV_TNUMBER) << "index " << index;
    return ValueToNumber(L, index);
}

std::string VMTest::Str(int index)
{
    const char *s = ValueToString(L, index);
    return s ? std::string(s, ValueStringLength(L, index)) : std::string("<null>");
}

clockid_t ThreadCpuClock()
{
    clockid_t c = CLOCK_THREAD_CPUTIME_ID;
    pthread_getcpuclockid(pthread_self(), &c);
    return c;
}

int64_t CpuNanoseconds(clockid_t clock)
{
    timespec ts;
    clock_gettime(clock, &ts);
    return int64_t(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

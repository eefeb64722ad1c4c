// rtcmds_util.cpp - the runtime command tests' fixture.
#include "tests/runtime/rtcmds_util.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "runtime/startup.h"

#include "tools/lvasm/lvasm.h"
#include "vm/lvobject.h"

namespace {
// LV_VM_TORTURE=1 collects at every collection point and LV_VM_MOVESTACK=1 moves stacks
// on every grow or shrink: text pointers that commands keep too long then fault.
const int kSwitchesRead = [] {
    const char *t = std::getenv("LV_VM_TORTURE");
    const char *m = std::getenv("LV_VM_MOVESTACK");
    gVMDebug.torture = t && *t == '1';
    gVMDebug.moveStack = m && *m == '1';
    return 0;
}();
std::string gOutput;
void CaptureOutput(const char *text, size_t length) { gOutput.append(text, length); }
}  // namespace

std::vector<uint8_t> AssembleRtText(const std::string &text, const char *name)
{
    lvAsmResult r = AsmAssembleText(text, name);
    std::string errs;
    for (const std::string &e : r.errors) errs += e + "\n";
    EXPECT_TRUE(r.ok) << errs;
    return r.bytes;
}

void RtCmdsTest::SetUp()
{
    (void)kSwitchesRead;
    ResetVMRun();
    ResetErrorState();
    // An End code that no test sets, to see End store its own.
    SetEndCode(-12345);
    InitStartupSwitches(GetStartupSwitches());
    InstallRuntimeHost();
    gOutput.clear();
    SetOutputSink(CaptureOutput);
    L = NewVMState();
    ASSERT_NE(L, nullptr);
    SetMainVMState(L);
    ASSERT_EQ(OpenCoreLibraries(L), 0);
}

void RtCmdsTest::TearDown()
{
    CloseErrorLibrary(L, 1);
    CloseObjectLibrary(L, 1);
    InitStartupSwitches(GetStartupSwitches());
    if (L) CloseVMState(L);
    L = nullptr;
    SetMainVMState(nullptr);
    FreeRuntimeLists();
    SetOutputSink(nullptr);
    SetConsoleInput(nullptr);
    SetVMHost(nullptr);
    ResetErrorState();
    ResetVMRun();
}

int RtCmdsTest::Run(const std::string &text, const char *name)
{
    std::vector<uint8_t> bytes = AssembleRtText(text, name);
    std::string chunk = std::string("@") + name;
    int st = LoadChunkBuffer(L, bytes.data(), bytes.size(), chunk.c_str());
    if (st != 0) return st;
    return ProtectedCall(L, 0, -1, 0);
}

int RtCmdsTest::RunFixture(const char *name)
{
    std::string path = std::string(LV_BUILD_DIR) + "/tests/runtime/rtcmds_fixtures/" + name + ".lvc";
    std::ifstream in(path, std::ios::binary);
    EXPECT_TRUE(in.good()) << path;
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::string chunk = std::string("@") + name + ".lvs";
    int st = LoadChunkBuffer(L, bytes.data(), bytes.size(), chunk.c_str());
    if (st != 0) return st;
    return ProtectedCall(L, 0, -1, 0);
}

void RtCmdsTest::Register(const char *name, lvCommandFunction f)
{
    lvCommandEntry e[] = {{name, f}, {nullptr, nullptr}};
    PushCopy(L, LV_GLOBALSINDEX);
    RegisterLibrary(L, nullptr, e, 0);
    SetStackTop(L, -2);
}

double RtCmdsTest::Num(int index)
{
    EXPECT_EQ(GetValueType(L, index), LV_TNUMBER) << "index " << index;
    return ValueToNumber(L, index);
}

std::string RtCmdsTest::Str(int index)
{
    EXPECT_EQ(GetValueType(L, index), LV_TSTRING) << "index " << index;
    const char *s = ValueToString(L, index);
    return s ? std::string(s, ValueStringLength(L, index)) : std::string();
}

std::string RtCmdsTest::Output(bool clear)
{
    std::string out = gOutput;
    if (clear) gOutput.clear();
    return out;
}

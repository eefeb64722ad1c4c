// corelib2_harness.cpp - the machine of the core library command tests.
#include "corelib2_harness.h"

#include <fstream>
#include <iterator>

#include "libs/lib_core2.h"
#include "libs/strings_engine.h"
#include "runtime/cmdsupport.h"
#include "runtime/objects.h"

static std::string *gPrinted = nullptr;

static void CapturePrint(const char *text)
{
    if (gPrinted) *gPrinted += text;
}

void CoreLibTest::SetUp()
{
    ResetVMRun();
    gPrinted = &printed;
    lvVMHost host = *GetVMHost();
    host.PrintOutput = CapturePrint;
    SetVMHost(&host);
    L = NewVMState();
    struct {
        int (*open)(lvState *);
        const lvConstantEntry *(*constants)();
    } libs[] = {{OpenMathLibrary, GetMathConstants},       {OpenTableLibrary, nullptr},
                {OpenMemBlockLibrary, GetMemBlockConstants}, {OpenTimeLibrary, GetTimeConstants},
                {OpenSystemLibrary, GetSystemConstants}};
    for (auto &lib : libs) {
        if (lib.constants) DefineConstants(L, nullptr, lib.constants(), 0);
        PushCopy(L, LV_GLOBALSINDEX);
        ASSERT_EQ(lib.open(L), 0);
        SetStackTop(L, 0);
    }
}

void CoreLibTest::TearDown()
{
    CloseMemBlockLibrary(L, 1);
    CloseTimeLibrary(L, 1);
    FreeObjectTypes();
    FreeRuntimeLists();
    CloseVMState(L);
    SetVMHost(nullptr);
    gPrinted = nullptr;
    GetStringSettings()->defaultEncoding = 1;
}

int CoreLibTest::Call(const char *name, const std::vector<CoreArg> &args, int keep)
{
    SetStackTop(L, keep);
    kept = keep;
    PushString(L, name);
    GetTableValue(L, LV_GLOBALSINDEX);
    EXPECT_EQ(GetValueType(L, -1), LV_TFUNCTION) << name;
    for (const CoreArg &a : args) {
        switch (a.kind) {
        case CoreArg::NUMBER: PushNumber(L, a.number); break;
        case CoreArg::TEXT: PushSizedString(L, a.text.data(), a.text.size()); break;
        case CoreArg::NIL: PushNil(L); break;
        case CoreArg::POINTER: PushPointer(L, a.pointer); break;
        case CoreArg::STACK: PushCopy(L, static_cast<int>(a.number)); break;
        }
    }
    // A command called from native code answers its error code instead of raising it;
    // raise it here as a script call would.
    int nargs = static_cast<int>(args.size());
    return RunProtected(
        L,
        [](lvState *S, void *data) {
            int code = CallFunction(S, *static_cast<int *>(data), -1);
            if (code) RaiseError(S, code);
        },
        &nargs);
}

double CoreLibTest::Num(int i)
{
    EXPECT_EQ(GetValueType(L, kept + i), LV_TNUMBER) << "result " << i;
    return ValueToNumber(L, kept + i);
}

std::string CoreLibTest::Str(int i)
{
    EXPECT_EQ(GetValueType(L, kept + i), LV_TSTRING) << "result " << i;
    const char *s = ValueToString(L, kept + i);
    return s ? std::string(s, ValueStringLength(L, kept + i)) : std::string();
}

int CoreLibTest::RunChunk(const char *stem)
{
    std::string path = std::string(LV_BUILD_DIR) + "/tests/libs/corelib2_fixtures/" + stem + ".lvc";
    std::ifstream in(path, std::ios::binary);
    EXPECT_TRUE(in.good()) << path;
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    SetStackTop(L, 0);
    kept = 0;
    int status = LoadChunkBuffer(L, bytes.data(), bytes.size(), stem);
    if (status) return status;
    return ProtectedCall(L, 0, -1, 0);
}

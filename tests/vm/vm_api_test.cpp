// The stack interface and the command-support layer, as native commands see
// them: argument counts, conversions in place, pushes, tables, upvalues,
// registration in any case, constants, labels, references, the string buffer,
// and misuse before and after the first error of a run.
#include "tests/vm/vm_test_util.h"

#include <numeric>

namespace {
// Runs a command with the given arguments pushed by `args`, through CallFunction.
int CallCommand(lvState *L, lvCommandFunction f, void (*args)(lvState *), int nresults = -1)
{
    PushNativeClosure(L, f, 0);
    int base = GetStackTop(L);
    if (args) args(L);
    return CallFunction(L, GetStackTop(L) - base, nresults);
}

int gSeen;
std::string gText;
}  // namespace

TEST_F(VMTest, StackInterfaceEdgeCases)
{
    struct Row {
        const char *what;
        void (*args)(lvState *);
        lvCommandFunction cmd;
        int expect;  // compared with gSeen after the call
    };
    const Row rows[] = {
        {"three arguments: top 3, index 4 has no value",
         [](lvState *L) { PushNumber(L, 1); PushNumber(L, 2); PushNumber(L, 3); },
         [](lvState *L) { gSeen = GetStackTop(L) * 10 + (GetValueType(L, 4) == LV_TNONE); return 0; }, 31},
        {"nil becomes the empty string in its slot",
         [](lvState *L) { PushNil(L); },
         [](lvState *L) {
             const char *s = ValueToString(L, 1);
             gSeen = (s && *s == 0 && GetValueType(L, 1) == LV_TSTRING) ? 1 : 0;
             return 0;
         }, 1},
        {"nil reads as number 0 and is convertible",
         [](lvState *L) { PushNil(L); },
         [](lvState *L) { gSeen = ValueToNumber(L, 1) == 0 && CanConvertToNumber(L, 1); return 0; }, 1},
        {"number 0 is true for ValueToBoolean, nil and false are not",
         [](lvState *L) { PushNumber(L, 0); PushNil(L); PushBoolean(L, 0); PushString(L, ""); },
         [](lvState *L) {
             gSeen = ValueToBoolean(L, 1) * 1000 + ValueToBoolean(L, 2) * 100 + ValueToBoolean(L, 3) * 10 + ValueToBoolean(L, 4);
             return 0;
         }, 1001},
        {"SetStackTop(-1) changes nothing, -3 pops two",
         [](lvState *L) { PushNumber(L, 1); PushNumber(L, 2); PushNumber(L, 3); },
         [](lvState *L) {
             SetStackTop(L, -1);
             int a = GetStackTop(L);
             SetStackTop(L, -3);
             gSeen = a * 10 + GetStackTop(L);
             return 0;
         }, 31},
        {"ConcatValues(0) pushes the empty string, (1) does nothing, (3) joins",
         [](lvState *L) { PushString(L, "a"); PushNumber(L, 1); PushNil(L); },
         [](lvState *L) {
             ConcatValues(L, 1);
             ConcatValues(L, 3);
             gText = ValueToString(L, -1);
             ConcatValues(L, 0);
             gSeen = GetStackTop(L) * 10 + (int)ValueStringLength(L, -1);
             return 0;
         }, 20},
        {"insert, remove and replace shift values",
         [](lvState *L) { PushNumber(L, 1); PushNumber(L, 2); PushNumber(L, 3); },
         [](lvState *L) {
             InsertValue(L, 1);   // 3 1 2
             RemoveValue(L, 2);   // 3 2
             PushNumber(L, 9);
             ReplaceValue(L, 1);  // 9 2
             gSeen = (int)ValueToNumber(L, 1) * 10 + (int)ValueToNumber(L, 2);
             return 0;
         }, 92},
        {"a new table has no metatable for the interface",
         nullptr,
         [](lvState *L) { PushNewTable(L); PushNewUserData(L, 8); gSeen = PushMetatable(L, 1) + PushMetatable(L, 2); return 0; }, 0},
        {"type names", nullptr,
         [](lvState *L) {
             gSeen = std::string(GetTypeName(L, -1)) == "no value" && std::string(GetTypeName(L, LV_TPOINTER)) == "userdata";
             return 0;
         }, 1},
        {"identity and equality only between equal tags",
         [](lvState *L) { PushNumber(L, 0); PushNil(L); PushString(L, "x"); PushString(L, "x"); },
         [](lvState *L) {
             gSeen = ValuesEqual(L, 1, 2) * 100 + ValuesIdentical(L, 3, 4) * 10 + ValuesEqual(L, 3, 4);
             return 0;
         }, 11},
        {"upvalue pseudo-indices", nullptr,
         [](lvState *L) {
             PushNumber(L, 41);
             PushNativeClosure(L, [](lvState *L) { gSeen = (int)ValueToNumber(L, LvUpvalueIndex(1)) + 1; return 0; }, 1);
             CallFunction(L, 0, 0);
             return 0;
         }, 42},
        {"upvalue names and stores of native closures", nullptr,
         [](lvState *L) {
             PushNumber(L, 5);
             PushNativeClosure(L, [](lvState *) { return 0; }, 1);
             PushNumber(L, 6);
             const char *n = StoreUpvalue(L, 1, 1);
             const char *out = PushUpvalue(L, 1, 2);
             PushUpvalue(L, 1, 1);
             gSeen = (n && *n == 0 && !out) * 100 + (int)ValueToNumber(L, -1);
             return 0;
         }, 106},
    };
    for (const Row &r : rows) {
        gSeen = -1;
        EXPECT_EQ(CallCommand(L, r.cmd, r.args, 0), 0) << r.what;
        EXPECT_EQ(gSeen, r.expect) << r.what;
        SetStackTop(L, 0);
    }
    EXPECT_EQ(gText, "a1");
}

TEST_F(VMTest, CollectThresholdInKilobytes)
{
    if (gVMDebug.torture) GTEST_SKIP() << "every collection point collects in this mode";
    SetCollectThreshold(L, 4194304);
    EXPECT_EQ(L->G->GCthreshold, UINT64_MAX);
    uint64_t before = L->G->nblocks;
    ASSERT_EQ(EnsureStackSpace(L, 100), 1);
    for (int i = 0; i < 100; i++) PushNewSizedTable(L, 100, 0);
    SetStackTop(L, 0);
    for (int i = 0; i < 1000; i++) {
        PushNewTable(L);
        SetStackTop(L, 0);
    }
    EXPECT_GT(L->G->nblocks, before + 100 * 100 * sizeof(lvValue));  // nothing was collected
    SetCollectThreshold(L, 0);  // collects at once
    EXPECT_LT(L->G->nblocks, before + 4096);
    EXPECT_EQ(GetMemoryInUse(L), static_cast<int>(L->G->nblocks / 1024));
}

// ---- Misuse ---------------------------------------------------------------------------------

TEST_F(VMTest, MisuseRaisesBeforeTheFirstErrorAndIsHarmlessAfter)
{
    struct Bad {
        static void Body(lvState *L, void *) {
            PushNativeClosure(L, [](lvState *L) { PushCopy(L, 7); return 1; }, 0);
            CallFunction(L, 0, 1);
        }
    };
    SetStackTop(L, 0);
    EXPECT_EQ(RunProtected(L, Bad::Body, nullptr), ERR_STACK);
    ASSERT_EQ(gVMRun.errorInProgress, 1);
    // Now the checks are off: bad reads give nil, bad writes go nowhere,
    // over-pushing grows the stack.
    SetStackTop(L, 0);
    int status = CallCommand(L, [](lvState *L) {
        PushCopy(L, 7);
        gSeen = GetValueType(L, -1);
        PushNumber(L, 1);
        ReplaceValue(L, 50);
        for (int i = 0; i < 500; i++) PushNumber(L, i);
        gSeen = gSeen * 1000 + (int)ValueToNumber(L, -1);
        return 0;
    }, nullptr);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(gSeen, 499);
}

// ---- A native command builds a nested table that a script walks ------------------------------

static int CmdMakeTree(lvState *L)
{
    PushNewTable(L);
    PushString(L, "name");
    PushString(L, "root");
    SetTableValue(L, -3);
    PushString(L, "children");
    PushNewTable(L);
    for (int i = 0; i < 3; i++) {
        PushNewTable(L);
        PushString(L, "value");
        PushNumber(L, (i + 1) * 10);
        SetTableValue(L, -3);
        SetTableItemRaw(L, -2, i);
    }
    SetTableValue(L, -3);
    return 1;
}

TEST_F(VMTest, ScriptWalksATableBuiltByACommand)
{
    Register("MakeTree", CmdMakeTree);
    ASSERT_EQ(Run(R"(
    getglobal r0 "maketree"
    call      r0 1 2
    gettable  r1 r0 "children"
    loadk     r2 0
    loadk     r3 -1
    loadk     r4 2
    loadk     r5 1
    jmp       test
body:
    gettable  r6 r1 r3
    gettable  r6 r6 "value"
    add       r2 r2 r6
test:
    forloop   r3 body
    gettable  r7 r0 "name"
    return    r2 7
)"), 0);
    EXPECT_EQ(Num(1), 60);
    EXPECT_EQ(Str(-1), "root");
}

// ---- Command support ------------------------------------------------------------------------------

TEST_F(VMTest, CommandsAndConstantsAreFoundInAnyCase)
{
    Register("CreateBrush", [](lvState *L) {
        PushNumber(L, 77);
        return 1;
    });
    ASSERT_EQ(Run("    getglobal r0 \"createbrush\"\n    call r0 1 2\n    return r0 2\n"), 0);
    EXPECT_EQ(Num(-1), 77);
    // A library table under its own name.
    lvCommandEntry lib[] = {{"MixedCase", [](lvState *L) { PushNumber(L, 5); return 1; }}, {"Skipped", nullptr}, {nullptr, nullptr}};
    EXPECT_EQ(RegisterLibrary(L, "MyLib", lib, 0), 1);
    SetStackTop(L, 0);
    ASSERT_EQ(Run("    getglobal r0 \"MyLib\"\n    gettable r0 r0 \"mixedcase\"\n    call r0 1 2\n    return r0 2\n"), 0);
    EXPECT_EQ(Num(-1), 5);
    lvCommandEntry none[] = {{"Nothing", nullptr}, {nullptr, nullptr}};
    EXPECT_EQ(RegisterLibrary(L, nullptr, none, 0), 0);

    lvConstantEntry consts[] = {{"BAUD_9600", nullptr, 9600}, {"#NAME", "text", 0}, {nullptr, nullptr, 0}};
    DefineConstants(L, "serial", consts, 0);
    lvConstantEntry user[] = {{"MyConst", nullptr, 3}, {nullptr, nullptr, 0}};
    DefineConstants(L, nullptr, user, 1);
    const char *s = "x";
    double n = 0;
    EXPECT_EQ(LookupConstant(L, "baud_9600", &s, &n), 1);
    EXPECT_EQ(s, nullptr);
    EXPECT_EQ(n, 9600);
    EXPECT_EQ(LookupConstant(L, "Baud_9600", nullptr, &n), 1);
    EXPECT_EQ(LookupConstant(L, "#name", &s, &n), 1);
    EXPECT_STREQ(s, "text");
    EXPECT_EQ(LookupConstant(L, "MYCONST", &s, &n), 1);
    EXPECT_EQ(n, 3);
    EXPECT_EQ(LookupConstant(L, "unknown", &s, &n), 0);
}

TEST_F(VMTest, FindLabelReadsTheLabelTable)
{
    EXPECT_EQ(FindLabel(L, "start"), -1);  // no table yet
    PushString(L, "labels");
    PushNewTable(L);
    PushString(L, "start");
    PushNumber(L, 12.9);
    SetTableValueRaw(L, -3);
    PushString(L, "bad");
    PushString(L, "x");
    SetTableValueRaw(L, -3);
    SetTableValueRaw(L, LV_REGISTRYINDEX);
    EXPECT_EQ(FindLabel(L, "START"), 12);
    EXPECT_EQ(FindLabel(L, "nope"), -1);
    EXPECT_EQ(FindLabel(L, "bad"), -1);
    const char *list[] = {"a", "b", nullptr};
    EXPECT_EQ(FindStringIndex("b", list), 1);
    EXPECT_EQ(FindStringIndex("B", list), -1);
}

TEST_F(VMTest, ReferencesReuseReleasedSlots)
{
    PushNewTable(L);  // 1
    PushString(L, "first");
    int r1 = CreateReference(L, 1);
    EXPECT_EQ(r1, 3);
    ReleaseReference(L, 1, r1);
    PushString(L, "second");
    EXPECT_EQ(CreateReference(L, 1), 3);
    PushString(L, "third");
    EXPECT_EQ(CreateReference(L, 1), 4);
    PushNil(L);
    EXPECT_EQ(CreateReference(L, 1), -1);
    EXPECT_EQ(GetStackTop(L), 1);
    // Releasing the machine's own slots or a free slot twice leaves the free list sound.
    ReleaseReference(L, 1, 1);
    ReleaseReference(L, 1, 2);
    ReleaseReference(L, 1, 4);
    ReleaseReference(L, 1, 4);
    PushString(L, "a");
    EXPECT_EQ(CreateReference(L, 1), 4);
    PushString(L, "b");
    EXPECT_EQ(CreateReference(L, 1), 5);
    GetTableItemRaw(L, 1, 3);
    EXPECT_EQ(Str(-1), "second");
    // References in the registry.
    PushString(L, "callback");
    int rr = CreateReference(L, LV_REGISTRYINDEX);
    EXPECT_GE(rr, 3);
    GetTableItemRaw(L, LV_REGISTRYINDEX, rr);
    EXPECT_EQ(Str(-1), "callback");
}

TEST_F(VMTest, StringBufferJoinsThreeThousandBytes)
{
    lvStringBuffer b;
    InitStringBuffer(L, &b);
    for (int i = 0; i < 3000; i++) {
        char c = static_cast<char>('a' + i % 26);
        AppendBufferBytes(&b, &c, 1);
    }
    PushString(L, "-tail");
    AppendBufferValue(&b);
    FinishStringBuffer(&b);
    ASSERT_EQ(GetStackTop(L), 1);
    std::string s = Str(1);
    ASSERT_EQ(s.size(), 3005u);
    EXPECT_EQ(s[0], 'a');
    EXPECT_EQ(s[2999], static_cast<char>('a' + 2999 % 26));
    EXPECT_EQ(s.substr(3000), "-tail");
}

TEST_F(VMTest, ArgumentChecksRaiseTheirCodes)
{
    struct Row {
        const char *what;
        void (*args)(lvState *);
        lvCommandFunction cmd;
        int code;
        int arg;  // expected "%d"
    };
    const Row rows[] = {
        {"digits then letters are not a number", [](lvState *L) { PushString(L, "12ab"); },
         [](lvState *L) { CheckNumberArg(L, 1); return 0; }, ERR_NUMEXPECTED, 1},
        {"nil is number 0", [](lvState *L) { PushNil(L); },
         [](lvState *L) { gSeen = (int)CheckNumberArg(L, 1); return 0; }, 0, 0},
        {"number becomes text in its slot", [](lvState *L) { PushNumber(L, 0.5); },
         [](lvState *L) { gText = CheckStringArg(L, 1, nullptr); gSeen = GetValueType(L, 1); return 0; }, 0, 0},
        {"table is not a string", [](lvState *L) { PushNumber(L, 1); PushNewTable(L); },
         [](lvState *L) { CheckStringArg(L, 2, nullptr); return 0; }, ERR_STREXPECTED, 2},
        {"table expected", [](lvState *L) { PushNumber(L, 1); },
         [](lvState *L) { CheckTableArg(L, 1); return 0; }, ERR_TABEXPECTED, 1},
        {"function expected", nullptr, [](lvState *L) { CheckFunctionArg(L, 1); return 0; }, ERR_FUNCEXPECTED, 1},
        {"coroutine expected", nullptr, [](lvState *L) { CheckCoroutineArg(L, 1); return 0; }, ERR_THREADEXPECTED, 1},
        {"userdata expected by tag", [](lvState *L) { PushNumber(L, 1); },
         [](lvState *L) { CheckArgType(L, 1, LV_TUSERDATA); return 0; }, ERR_UDEXPECTED, 1},
        {"unsigned takes the low 32 bits", [](lvState *L) { PushNumber(L, -1); },
         [](lvState *L) { gSeen = CheckUnsignedArg(L, 1) == 0xFFFFFFFFu; return 0; }, 0, 0},
        {"integer field keeps the low 32 bits", [](lvState *L) { PushNumber(L, 4294967295.0); },
         [](lvState *L) { gSeen = CheckIntegerField(L, 1, "pen"); return 0; }, 0, 0},
        {"number field names the field", [](lvState *L) { PushNewTable(L); },
         [](lvState *L) { CheckNumberField(L, 1, "width"); return 0; }, ERR_NUMTABLEARG, 0},
        {"optional argument past the top takes the default", nullptr,
         [](lvState *L) { gSeen = (int)GetOptionalNumberArg(L, 1, 7) + GetOptionalUnsignedArg(L, 2, 3); return 0; }, 0, 0},
        {"callback readers answer codes", [](lvState *L) { PushNewTable(L); },
         [](lvState *L) {
             int c1, c2;
             ReadCallbackNumber(L, 1, &c1);
             ReadCallbackString(L, 1, nullptr, &c2);
             gSeen = (c1 == ERR_NUMCALLBACK) + (c2 == ERR_STRCALLBACK);
             return 0;
         }, 0, 0},
    };
    for (const Row &r : rows) {
        gVMRun.errorNumberArg = 0;
        struct Ctx { const Row *r; };
        Ctx ctx{&r};
        int st = RunProtected(L, [](lvState *L, void *ud) {
            const Row *r = static_cast<Ctx *>(ud)->r;
            CallCommand(L, r->cmd, r->args, 0);
        }, &ctx);
        EXPECT_EQ(st, r.code) << r.what;
        if (r.arg) {
            EXPECT_EQ(gVMRun.errorNumberArg, r.arg) << r.what;
        }
        L->ci = L->baseCi;
        L->base = L->stack + L->ci->base;
        L->nCcalls = 0;
        SetStackTop(L, 0);
    }
    EXPECT_STREQ(gVMRun.errorStringArg, "width");
    EXPECT_EQ(gText, "0.5");
    EXPECT_EQ(gSeen, 2);  // the callback readers' row ran last
}

TEST_F(VMTest, NamedMetatablesAndTypedUserData)
{
    EXPECT_EQ(NewNamedMetatable(L, "Brush"), 1);
    EXPECT_EQ(NewNamedMetatable(L, "Brush"), 0);
    SetStackTop(L, 0);
    int *p = static_cast<int *>(PushNewUserData(L, sizeof(int)));
    *p = 5;
    EXPECT_EQ(GetTypedUserData(L, 1, "Brush"), nullptr);
    PushNamedMetatable(L, "Brush");
    AssignMetatable(L, 1);
    EXPECT_EQ(GetTypedUserData(L, 1, "Brush"), p);
    EXPECT_EQ(GetTypedUserData(L, 1, "Layer"), nullptr);
    EXPECT_EQ(GetStackTop(L), 1);
    // A metamethod called with the value.
    PushNamedMetatable(L, "Brush");
    PushString(L, "describe");
    PushNativeClosure(L, [](lvState *L) { PushNumber(L, *static_cast<int *>(GetUserDataPointer(L, 1)) * 2); return 1; }, 0);
    SetTableValueRaw(L, -3);
    SetStackTop(L, 1);
    EXPECT_EQ(CallMetaMethod(L, 1, "describe"), 1);
    EXPECT_EQ(Num(-1), 10);
    EXPECT_EQ(PushMetaField(L, 1, "absent"), 0);
    SetRegistryNumber(L, "n", 4);
    SetRegistryString(L, "s", "str");
    SetRegistryPointer(L, "p", p);
    EXPECT_EQ(GetRegistryNumber(L, "n"), 4);
    EXPECT_STREQ(GetRegistryString(L, "s"), "str");
    EXPECT_STREQ(GetRegistryString(L, "n"), "4");
    EXPECT_EQ(GetRegistryPointer(L, "p"), p);
    EXPECT_EQ(GetRegistryPointer(L, "none"), nullptr);
}

TEST_F(VMTest, ImpossibleSizesAndCountsAreRefused)
{
    struct Row {
        const char *what;
        void (*body)(lvState *, void *);
        int code;
    };
    const Row rows[] = {
        {"string beyond the allocation cap", [](lvState *L, void *) { PushSizedString(L, "x", SIZE_MAX / 2); }, ERR_MEM},
        {"userdata beyond the allocation cap", [](lvState *L, void *) { PushNewUserData(L, SIZE_MAX - 4); }, ERR_MEM},
        {"native closure with 300 upvalues", [](lvState *L, void *) { PushNativeClosure(L, nullptr, 300); }, ERR_STACK},
        {"negative upvalue count", [](lvState *L, void *) { PushNativeClosure(L, nullptr, -1); }, ERR_STACK},
        {"globals replaced by a number", [](lvState *L, void *) { PushNumber(L, 1); ReplaceValue(L, LV_GLOBALSINDEX); }, ERR_STACK},
    };
    for (const Row &r : rows) {
        gVMRun.errorInProgress = 0;  // misuse raises only before the first error of a run
        EXPECT_EQ(RunProtected(L, r.body, nullptr), r.code) << r.what;
        SetStackTop(L, 0);
    }
    EXPECT_EQ(CallFunction(L, -1, 0), ERR_STACK);
    EXPECT_EQ(ProtectedCall(L, -2, 0, 0), ERR_STACK);
    EXPECT_EQ(GetValueType(L, LV_GLOBALSINDEX), LV_TTABLE);
}

// A body built in place becomes a string without a second copy of its bytes: the string's
// bytes are the block's, the machine counts the string and not the block's spare room,
// an equal string already held is shared (the block is given back), a memory limit
// refuses it without losing the block, and the collector frees it as its own.
TEST_F(VMTest, StringBlocksBecomeStringsInPlace)
{
    if (gVMDebug.torture) GTEST_SKIP() << "every collection point collects in this mode";
    SetCollectThreshold(L, 4194304);
    const uint64_t before = L->G->nblocks;
    const size_t len = 600000;
    char *block = NewStringBlock(1000);
    ASSERT_NE(block, nullptr);
    block = ResizeStringBlock(block, 1 << 20);  // grown as a body with a lying length would be
    ASSERT_NE(block, nullptr);
    for (size_t i = 0; i < len; i++) block[i] = (char)(i * 7 + i / 251);
    const uint64_t sum = std::accumulate(block, block + len, uint64_t(0));
    PushStringBlock(L, block, len);
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
    // The C library shrinks a block in place; the checkers' allocators always move it,
    // so there only the contents can be compared.
    EXPECT_EQ(ValueToString(L, -1), block);
#endif
    EXPECT_EQ(ValueStringLength(L, -1), len);
    EXPECT_EQ(ValueToString(L, -1)[len], 0);
    EXPECT_EQ(std::accumulate(ValueToString(L, -1), ValueToString(L, -1) + len, uint64_t(0)), sum);
    EXPECT_GE(L->G->nblocks, before + len);
    EXPECT_LT(L->G->nblocks, before + len + 4096);

    PushString(L, "hello, twice");
    char *same = NewStringBlock(100);
    std::memcpy(same, "hello, twice", 12);
    PushStringBlock(L, same, 12);
    EXPECT_EQ(ValueToString(L, -1), ValueToString(L, -2));
    char *empty = NewStringBlock(10);
    PushStringBlock(L, empty, 0);
    EXPECT_EQ(ValueStringLength(L, -1), 0u);
    EXPECT_EQ(GetValueType(L, -1), LV_TSTRING);

    gVMDebug.memoryLimit = L->G->nblocks + 1000;
    gVMRun.errorInProgress = 0;
    EXPECT_EQ(RunProtected(L, [](lvState *L, void *) { PushStringBlock(L, NewStringBlock(5000), 5000); }, nullptr),
              ERR_MEM);
    gVMDebug.memoryLimit = 0;
    FreeStringBlock(nullptr);
    FreeStringBlock(NewStringBlock(10));

    SetStackTop(L, 0);
    RunFullCollection(L);
    EXPECT_LT(L->G->nblocks, before + 4096);
}

// Tests of error handling through chunks run by the machine: a failing command's code
// with file, line and command name; the error mode and GetLastError; the script's error
// handler; the error library's commands; the three forms of the final report.
#include <cstring>
#include <new>
#include <stdexcept>
#include <string>

#include "runtime/config.h"
#include "runtime/container.h"
#include "runtime/startup.h"
#include "tests/runtime/rtcmds_util.h"

namespace {

std::string gRequesterTitle, gRequesterText;
void CaptureRequester(const char *title, const char *text, int)
{
    gRequesterTitle = title;
    gRequesterText = text;
}

class RtErrorsTest : public RtCmdsTest {
protected:
    void SetUp() override
    {
        RtCmdsTest::SetUp();
        // As while the main chunk runs: file and line are known.
        SetRuntimeFlags(L, LV_FLAG_LOCATION_TRACKING, 1, 0);
        gRequesterTitle.clear();
        gRequesterText.clear();
        SetErrorRequesterSink(CaptureRequester);
    }
    void TearDown() override
    {
        SetErrorRequesterSink(nullptr);
        RtCmdsTest::TearDown();
    }
};

}  // namespace

TEST_F(RtErrorsTest, FailingCommandRaisesWithFileLineAndName)
{
    ASSERT_EQ(RunFixture("failing_command"), ERR_READFILE);
    lvErrorState *s = GetErrorState();
    EXPECT_EQ(s->lastError, ERR_READFILE);
    EXPECT_STREQ(s->commandName, "CompressFile");  // as the table spells it
    EXPECT_EQ(s->stopRequest, 1);
    char text[512];
    const char *file = nullptr;
    int line = 0;
    GetErrorTextWithLocation(L, ERR_READFILE, text, sizeof text, &file, &line);
    EXPECT_STREQ(text, "Cannot read file file.txt !");
    ASSERT_NE(file, nullptr);
    EXPECT_STREQ(file, "failing_command.lvs");
    EXPECT_EQ(line, 6);
}

TEST_F(RtErrorsTest, ArgumentErrorsNameTheCommandAndLine)
{
    ASSERT_EQ(Run("\n\ngetglobal r0 \"iif\"\nloadk r1 1\ncall r0 2 1\nreturn r0 1\n", "args.lvs"), ERR_MISSINGPARAMTR);
    EXPECT_STREQ(GetErrorState()->commandName, "IIf");
    EXPECT_EQ(GetScriptLine(L), 5);
    EXPECT_STREQ(GetScriptFileName(L), "args.lvs");
}

TEST_F(RtErrorsTest, ErrorsNotRaisedAreKeptForGetLastError)
{
    // Vibrate fails; the script goes on, reads the code, then a later command clears it.
    ASSERT_EQ(Run(R"(
        getglobal r0 "exitonerror"
        loadk r1 0
        call r0 2 1
        getglobal r0 "vibrate"
        loadk r1 100
        call r0 2 1
        getglobal r0 "getlasterror"
        call r0 1 2
        move r5 r0
        getglobal r0 "debugprint"
        loadk r1 "went on"
        call r0 2 1
        getglobal r0 "getlasterror"
        call r0 1 2
        move r6 r0
        return r5 3
    )"), 0);
    EXPECT_EQ(Num(1), ERR_UNSUPPORTEDFEAT);
    EXPECT_EQ(Num(2), 0);
    EXPECT_EQ(Output(), "went on\n");
    EXPECT_EQ(GetErrorState()->stopRequest, 0);
}

// Commands that throw what is not a script error: out of memory becomes 1000, anything
// else the internal error, each as that command's error at its line, under the error mode.
static int CmdThrowBadAlloc(lvState *) { throw std::bad_alloc(); }
static int CmdThrowLogicError(lvState *) { throw std::logic_error("broken"); }

TEST_F(RtErrorsTest, ForeignExceptionsBecomeTheCommandsError)
{
    Register("throwbadalloc", CmdThrowBadAlloc);
    Register("throwlogicerror", CmdThrowLogicError);
    struct Case {
        const char *command;  // the global the chunk calls
        int code;             // what the run gives
    } cases[] = {{"throwbadalloc", ERR_MEM}, {"throwlogicerror", ERR_INTERNAL}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.command);
        GetErrorState()->stopRequest = 0;
        std::string call = std::string("\n\ngetglobal r0 \"") + c.command + "\"\ncall r0 1 1\nreturn r0 1\n";
        EXPECT_EQ(Run(call, "throws.lvs"), c.code);
        EXPECT_EQ(GetErrorState()->lastError, c.code);
        EXPECT_EQ(GetScriptLine(L), 4);
        GetErrorState()->stopRequest = 0;
        // With errors only recorded the script goes on and reads the code.
        std::string recorded = std::string("getglobal r0 \"exitonerror\"\nloadk r1 0\ncall r0 2 1\n") +
                               "getglobal r0 \"" + c.command + "\"\ncall r0 1 1\n" +
                               "getglobal r0 \"getlasterror\"\ncall r0 1 2\nreturn r0 2\n";
        SetStackTop(L, 0);
        EXPECT_EQ(Run(recorded, "recorded.lvs"), 0);
        EXPECT_EQ(Num(1), c.code);
        Run("getglobal r0 \"exitonerror\"\nloadk r1 1\ncall r0 2 1\nreturn r0 1\n");
    }
}

TEST_F(RtErrorsTest, UnsupportedCommandsAnswerWithTheMessage)
{
    for (const char *name : {"vibrate", "showtoast", "sendrexxcommand", "getpubscreens", "setcxkey", "calljavamethod"}) {
        std::string text = std::string("getglobal r0 \"") + name + "\"\nloadk r1 1\nloadk r2 \"x\"\ncall r0 3 1\nreturn r0 1\n";
        EXPECT_EQ(Run(text), ERR_UNSUPPORTEDFEAT) << name;
    }
    char text[256];
    GetErrorText(ERR_UNSUPPORTEDFEAT, text, sizeof text);
    EXPECT_STREQ(text, "This feature is currently not supported on this platform!");
}

TEST_F(RtErrorsTest, StubLibrariesHarmlessCommands)
{
    ASSERT_EQ(Run(R"(
        getglobal r0 "getassignpaths"
        loadk r1 "LIBS:"
        call r0 2 2
        getglobal r1 "getasset"
        loadk r2 42
        call r1 2 2
        return r0 3
    )"), 0);
    EXPECT_EQ(GetValueType(L, 1), LV_TTABLE);
    EXPECT_EQ(GetTableSize(L, 1), 0);
    EXPECT_EQ(Str(2), "42");
    SetStackTop(L, 0);
    EXPECT_EQ(Run("getglobal r0 \"getassignpaths\"\ncall r0 1 1\nreturn r0 1\n"), ERR_MISSINGPARAMTR);
}

TEST_F(RtErrorsTest, HandlerRunsFirstAndGetsTheDetails)
{
    // The handler prints code, message, command and line; the failing command's error is
    // then taken as handled and the script goes on.
    ASSERT_EQ(Run(R"(
        closure r0 handler
        getglobal r1 "raiseonerror"
        move r2 r0
        call r1 2 1
        getglobal r1 "error"
        loadk r2 "my own message"
        call r1 2 1
        getglobal r1 "debugprint"
        loadk r2 "after"
        call r1 2 1
        return r0 1
        .function handler
        .params 4
            getglobal r4 "debugprint"
            move r5 r0
            move r6 r1
            move r7 r2
            move r8 r3
            call r4 5 1
            return r0 1
        .end
    )", "handler.lvs"), 0);
    EXPECT_EQ(Output(), "1239 my own message Error 8\nafter\n");
}

TEST_F(RtErrorsTest, HandlerIsSkippedForEndAndCanBeRemoved)
{
    ASSERT_EQ(Run(R"(
        closure r0 handler
        getglobal r1 "raiseonerror"
        move r2 r0
        call r1 2 1
        getglobal r1 "end"
        loadk r2 2
        call r1 2 1
        return r0 1
        .function handler
        .params 4
            getglobal r4 "debugprint"
            loadk r5 "handler ran"
            call r4 2 1
            return r0 1
        .end
    )"), ERR_USERABORT);
    EXPECT_EQ(Output(), "");
    ResetVMRun();
    // Nil removes it: the error is raised again.
    ASSERT_EQ(Run(R"(
        getglobal r1 "raiseonerror"
        loadnil r2 r2
        call r1 2 1
        getglobal r1 "vibrate"
        call r1 1 1
        return r0 1
    )"), ERR_UNSUPPORTEDFEAT);
    EXPECT_EQ(GetErrorState()->handlerRef, -1);
}

TEST_F(RtErrorsTest, ErrorInsideTheHandlerIsRaised)
{
    // A handler that fails itself: its code is raised, and it is not called again for it.
    ASSERT_EQ(Run(R"(
        closure r0 handler
        getglobal r1 "raiseonerror"
        move r2 r0
        call r1 2 1
        getglobal r1 "vibrate"
        call r1 1 1
        return r0 1
        .function handler
        .params 4
            getglobal r4 "debugprint"
            loadk r5 "in handler"
            call r4 2 1
            getglobal r4 "assert"
            loadk r5 0
            call r4 2 1
            return r0 1
        .end
    )"), ERR_ASSERTFAILED);
    EXPECT_EQ(Output(), "in handler\n");
    EXPECT_EQ(GetErrorState()->callbackDepth, 0);
}

TEST_F(RtErrorsTest, ErrorLibraryCommands)
{
    ASSERT_EQ(Run(R"(
        getglobal r0 "geterrorname"
        loadk r1 1014
        call r0 2 2
        getglobal r1 "geterrorname"
        loadk r2 999
        call r1 2 2
        getglobal r2 "assert"
        loadk r3 "0"
        call r2 2 2
        return r0 4
    )"), 0);
    EXPECT_EQ(Str(1), "Not enough arguments!");
    EXPECT_EQ(Str(2), "Unknown error code!");
    EXPECT_EQ(Str(3), "0");  // a text, even "0", is true
    SetStackTop(L, 0);
    EXPECT_EQ(Run("getglobal r0 \"assert\"\nloadnil r1 r1\ncall r0 2 1\nreturn r0 1\n"), ERR_ASSERTFAILED);
    GetStartupSwitches()->noDebug = 1;
    EXPECT_EQ(Run("getglobal r0 \"assert\"\nloadk r1 0\ncall r0 2 0\nreturn r0 0\n"), 0);
    EXPECT_EQ(GetStackTop(L), 0);  // no result with the no-debug switch
}

TEST_F(RtErrorsTest, ErrorConstantsAreDefined)
{
    const char *s = nullptr;
    double n = 0;
    ASSERT_TRUE(LookupConstant(L, "ERR_MEM", &s, &n));
    EXPECT_EQ(n, 1000);
    ASSERT_TRUE(LookupConstant(L, "err_findregistrykey", &s, &n));
    EXPECT_EQ(n, 1697);
    EXPECT_FALSE(LookupConstant(L, "ERR_NOSUCHTHING", &s, &n));
    ASSERT_TRUE(LookupConstant(L, "ATTRCOUNT", &s, &n));
    EXPECT_EQ(n, 60);
    ASSERT_TRUE(LookupConstant(L, "LUMIVARRA", &s, &n));
    EXPECT_EQ(std::strlen(s), 54u);
}

// ---- Final report ---------------------------------------------------------------------------

TEST_F(RtErrorsTest, FinalReportThreeForms)
{
    ASSERT_EQ(RunFixture("failing_command"), ERR_READFILE);
    lvRuntimeConfig config;
    InitRuntimeConfig(&config);
    lvStartupSwitches sw;
    InitStartupSwitches(&sw);

    // No debug device and no PRINTERROR: the requester, with file, line and command.
    ReportFinalErrorWithSwitches(ERR_READFILE, &config, &sw, L);
    EXPECT_STREQ(config.errorText, "Cannot read file file.txt !");
    EXPECT_EQ(gRequesterTitle, "LumivarraPlayer");
    EXPECT_EQ(gRequesterText,
              "Cannot read file file.txt !\nFile: failing_command.lvs (current line: 6 - In function: CompressFile)");
    EXPECT_EQ(Output(), "");

    // PRINTERROR: the plain form.
    sw.printError = 1;
    ReportFinalErrorWithSwitches(ERR_READFILE, &config, &sw, L);
    EXPECT_EQ(Output(), "\nfailing_command.lvs:6: Cannot read file file.txt !\n");

    // FORMATERROR: the host form.
    sw.formatError = 1;
    ReportFinalErrorWithSwitches(ERR_READFILE, &config, &sw, L);
    EXPECT_EQ(Output(), "\n@_lverror6:failing_command.lvs*Cannot read file file.txt !\n");

    // A host-window device: the host form without line ends.
    sw.formatError = 0;
    sw.debugDevice = 1;
    sw.hostDevice = 1;
    ReportFinalErrorWithSwitches(ERR_READFILE, &config, &sw, L);
    EXPECT_EQ(Output(), "@_lverror6:failing_command.lvs*Cannot read file file.txt !");
    FreeRuntimeConfig(&config);
}

TEST_F(RtErrorsTest, FinalReportWithoutLocationOrForUserAbort)
{
    lvRuntimeConfig config;
    InitRuntimeConfig(&config);
    lvStartupSwitches sw;
    InitStartupSwitches(&sw);
    sw.printError = 1;
    ReportFinalErrorWithSwitches(ERR_USERABORT, &config, &sw, L);
    ReportFinalErrorWithSwitches(0, &config, &sw, L);
    EXPECT_EQ(Output(), "");
    EXPECT_EQ(gRequesterText, "");
    // Outside the main chunk nothing tracks the location: "Error: message".
    SetRuntimeFlags(L, LV_FLAG_LOCATION_TRACKING, 0, 0);
    ReportFinalErrorWithSwitches(ERR_MEM, &config, &sw, L);
    EXPECT_EQ(Output(), "\nError: Out of memory!\n");
    sw.formatError = 1;
    ReportFinalErrorWithSwitches(ERR_MEM, &config, &sw, L);
    EXPECT_EQ(Output(), "\n@_lverror0:\"\"*Out of memory!\n");
    sw.printError = 0;
    sw.formatError = 0;
    ReportFinalErrorWithSwitches(ERR_MEM, &config, &sw, L);
    EXPECT_EQ(gRequesterText, "Out of memory!");
    FreeRuntimeConfig(&config);
}

namespace {
int CmdAnswerYieldCode(lvState *) { return ERR_YIELD; }
}  // namespace

TEST_F(RtErrorsTest, HandlerIsSkippedForTheYieldCode)
{
    Register("answeryieldcode", CmdAnswerYieldCode);
    // The machine itself decides what the code does outside a coroutine; the handler
    // never sees it.
    EXPECT_EQ(Run(R"(
        closure r0 handler
        getglobal r1 "raiseonerror"
        move r2 r0
        call r1 2 1
        getglobal r1 "answeryieldcode"
        call r1 1 1
        getglobal r1 "debugprint"
        loadk r2 "went on"
        call r1 2 1
        return r0 1
        .function handler
        .params 4
            getglobal r4 "debugprint"
            loadk r5 "handler ran"
            call r4 2 1
            return r0 1
        .end
    )"), ERR_YIELD);
    EXPECT_EQ(Output().find("handler ran"), std::string::npos);
}

TEST_F(RtErrorsTest, ErrorsInScriptFunctionsNameTheFunction)
{
    // A machine error inside a function called through a global: the function's name and
    // the line inside it.
    ASSERT_EQ(Run(R"(
        closure r0 helper
        setglobal r0 "helper"
        getglobal r0 "helper"
        call r0 1 1
        return r0 1
        .function helper
            newtable r0 0 0
            add r1 r0 1
            return r1 2
        .end
    )", "functions.lvs"), ERR_WRONGOP);
    EXPECT_STREQ(GetErrorState()->commandName, "helper");
    EXPECT_EQ(GetScriptLine(L), 9);
    EXPECT_STREQ(GetScriptFileName(L), "functions.lvs");
    // The same error in the main chunk itself: no name.
    ResetVMRun();
    ASSERT_EQ(Run("newtable r0 0 0\nadd r1 r0 1\nreturn r1 2\n", "main.lvs"), ERR_WRONGOP);
    EXPECT_STREQ(GetErrorState()->commandName, "<<unnamed>>");
    EXPECT_EQ(GetScriptLine(L), 2);
}

namespace {

// An applet record whose line map has one entry (compiled lines 1 to 20 of chunkName are
// source lines 100 on of /projects/game/main.src), installed as the running applet's.
struct MappedApplet {
    lvAppletRecord record;  // the applet record the registry points at
    lvLineMapEntry entry;   // its only map entry

    MappedApplet(lvState *L, const char *chunkName)
    {
        std::memset(&record, 0, sizeof record);
        std::memset(&entry, 0, sizeof entry);
        entry.firstLine = 1;
        entry.lastLine = 20;
        entry.sourceLine = 99;
        std::snprintf(entry.chunkName, sizeof entry.chunkName, "%s", chunkName);
        std::snprintf(entry.sourceFile, sizeof entry.sourceFile, "/projects/game/main.src");
        record.lineMap = &entry;
        SetRegistryPointer(L, "applet", &record);
        SetRegistryString(L, "script", ":none:");
    }
};

}  // namespace

TEST_F(RtErrorsTest, AppletRunsReportSourceLinesThroughTheLineMap)
{
    // An applet's chunks carry "?" sources; the map gives the source file and line.
    MappedApplet applet(L, "");
    lvLineMapEntry &entry = applet.entry;
    ASSERT_EQ(Run(R"(
        .source "?applet"
        getglobal r0 "vibrate"
        loadk r1 1
        call r0 2 1
        return r0 1
    )"), ERR_UNSUPPORTEDFEAT);
    EXPECT_STREQ(GetErrorState()->currentChunk, "");
    EXPECT_EQ(GetScriptLine(L), 99 + (5 - 1) + 1);
    EXPECT_STREQ(GetScriptFileName(L), "/projects/game/main.src");
    lvRuntimeConfig config;
    InitRuntimeConfig(&config);
    lvStartupSwitches sw;
    InitStartupSwitches(&sw);
    sw.printError = 1;
    ReportFinalErrorWithSwitches(ERR_UNSUPPORTEDFEAT, &config, &sw, L);
    EXPECT_EQ(Output(), "\n/projects/game/main.src:104: This feature is currently not supported on this platform!\n");
    // Outside the map: no line, no file.
    entry.lastLine = 2;
    ReportFinalErrorWithSwitches(ERR_UNSUPPORTEDFEAT, &config, &sw, L);
    EXPECT_EQ(Output(), "\nError: This feature is currently not supported on this platform!\n");
    FreeRuntimeConfig(&config);
    SetRegistryPointer(L, "applet", nullptr);
}

TEST_F(RtErrorsTest, AppletChunksOutsideTheLineMapNameTheirOwnFileAndLine)
{
    // A chunk the map does not cover, compiled with its own file name: that name's file part
    // and the compiled line, in the location and in the final report.
    MappedApplet applet(L, "@other.lvs");
    lvLineMapEntry &entry = applet.entry;
    ASSERT_EQ(Run(R"(
        .source "@/home/dev/game/levels.lvs"
        getglobal r0 "vibrate"
        loadk r1 1
        call r0 2 1
        return r0 1
    )"), ERR_UNSUPPORTEDFEAT);
    EXPECT_EQ(GetScriptLine(L), 5);
    EXPECT_STREQ(GetScriptFileName(L), "levels.lvs");
    lvRuntimeConfig config;
    InitRuntimeConfig(&config);
    lvStartupSwitches sw;
    InitStartupSwitches(&sw);
    sw.printError = 1;
    ReportFinalErrorWithSwitches(ERR_UNSUPPORTEDFEAT, &config, &sw, L);
    EXPECT_EQ(Output(), "\nlevels.lvs:5: This feature is currently not supported on this platform!\n");
    // The requester shows the same file and line.
    sw.printError = 0;
    ReportFinalErrorWithSwitches(ERR_UNSUPPORTEDFEAT, &config, &sw, L);
    EXPECT_EQ(gRequesterText,
              "This feature is currently not supported on this platform!\nFile: levels.lvs (current line: 5 - In function: Vibrate)");
    // A map entry for this chunk still wins.
    std::snprintf(entry.chunkName, sizeof entry.chunkName, "@/home/dev/game/levels.lvs");
    EXPECT_EQ(GetScriptLine(L), 99 + (5 - 1) + 1);
    EXPECT_STREQ(GetScriptFileName(L), "/projects/game/main.src");
    FreeRuntimeConfig(&config);
    SetRegistryPointer(L, "applet", nullptr);
}

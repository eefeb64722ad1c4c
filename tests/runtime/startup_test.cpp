// Start-up pieces tested in the process: the library table's orders, the process entry's
// argument copies, the run's exit codes when memory runs out, the temporary names and
// directories, the script thread's stack, and the writing of appended plug-in blocks.
#include <gtest/gtest.h>

#include "platform/lvplatform.h"
#include "runtime/encoding.h"
#include "runtime/libtable.h"
#include "runtime/startup.h"
#include "runtime/vfile.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// ---- Library table ------------------------------------------------------------------------

TEST(StartupLibraryTable, FortyEightLibrariesInOpeningOrderBaseLast)
{
    const char *expected[] = {
        "display",   "error",     "graphics",  "event",      "string",    "math",      "table",
        "memblock",  "dos",       "compress",  "time",       "locale",    "async",     "sound",
        "bgpic",     "brush",     "anim",      "sprite",     "icon",      "palette",   "video",
        "transitionfx", "moveobject", "layers", "draw",      "vectorpath", "text",     "console",
        "menu",      "requester", "pointer",   "clipboard",  "clipregion", "offscreen", "serialize",
        "joystick",  "object",    "application", "system",   "plugin",    "imageio",   "animio",
        "amiga",     "windows",   "mobile",    "network",    "serial",    "base"};
    static_assert(sizeof expected / sizeof expected[0] == LV_LIBRARY_COUNT);
    for (int i = 0; i < LV_LIBRARY_COUNT; i++) {
        EXPECT_STREQ(LibraryTable[i].name, expected[i]) << "row " << i;
        EXPECT_NE(LibraryTable[i].open, nullptr) << expected[i];
    }
    EXPECT_EQ(LibraryTable[LV_LIBRARY_COUNT].name, nullptr);
}

TEST(StartupLibraryTable, OpeningRegistersBaseCommandsConstantsAndGlobals)
{
    lvState *L = NewVMState();
    ASSERT_NE(L, nullptr);
    ASSERT_EQ(OpenLibraries(L), 0);
    EXPECT_EQ(GetStackTop(L), 0);
    // "_g" is the globals table.
    PushString(L, "_g");
    GetTableValueRaw(L, LV_GLOBALSINDEX);
    PushCopy(L, LV_GLOBALSINDEX);
    EXPECT_TRUE(ValuesIdentical(L, -1, -2));
    SetStackTop(L, 0);
    // Commands are registered lower-cased.
    for (const char *command : {"debugprint", "end"}) {
        PushString(L, command);
        GetTableValueRaw(L, LV_GLOBALSINDEX);
        EXPECT_EQ(GetValueType(L, -1), LV_TFUNCTION) << command;
        SetStackTop(L, 0);
    }
    const char *text = nullptr;
    double number = 0;
    ASSERT_TRUE(LookupConstant(L, "LV_VERSION", &text, &number));
    EXPECT_EQ(number, 11);
    ASSERT_TRUE(LookupConstant(L, "lumivarra", &text, &number));
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(std::strlen(text), 54u);
    // The include levels start counted at 0.
    PushString(L, "inclevels");
    GetTableValueRaw(L, LV_REGISTRYINDEX);
    ASSERT_EQ(GetValueType(L, -1), LV_TTABLE);
    PushString(L, "count");
    GetTableValueRaw(L, -2);
    EXPECT_EQ(GetValueType(L, -1), LV_TNUMBER);
    EXPECT_EQ(ValueToNumber(L, -1), 0);
    CloseVMState(L);
}

std::vector<std::string> closedSteps;

TEST(StartupLibraryTable, ShutdownStepsRunInTheirFixedOrder)
{
    const char *expected[] = {
        "displays", "pointers", "menus", "network", "clipregions", "drawbuffers", "icons",
        "brushes", "bgpics", "videos", "vectorpaths", "sprites", "serial", "timers", "error",
        "fonts", "anims", "layers", "palettes", "async", "memoryfiles", "dos", "memblocks",
        "registry", "event", "plugin", "joysticks", "sound", "console", "object", "serializer",
        "imagesources", "imagecache", "catalog"};
    static_assert(sizeof expected / sizeof expected[0] == LV_CLOSE_STEP_COUNT);
    // Each step is replaced by one that records its own name: the order seen is the order
    // in which CloseLibraries calls them.
    std::vector<lvLibraryCloseFunction> saved;
    for (int i = 0; i < LV_CLOSE_STEP_COUNT; i++) saved.push_back(LibraryCloseSteps[i].close);
    closedSteps.clear();
    // A table of recorders, one per step, so each knows its place.
    struct Recorder {
        static void Record(int index) { closedSteps.push_back(LibraryCloseSteps[index].name); }
    };
#define LV_RECORDER(i) [](lvState *, int) { Recorder::Record(i); }
    lvLibraryCloseFunction recorders[LV_CLOSE_STEP_COUNT] = {
        LV_RECORDER(0),  LV_RECORDER(1),  LV_RECORDER(2),  LV_RECORDER(3),  LV_RECORDER(4),
        LV_RECORDER(5),  LV_RECORDER(6),  LV_RECORDER(7),  LV_RECORDER(8),  LV_RECORDER(9),
        LV_RECORDER(10), LV_RECORDER(11), LV_RECORDER(12), LV_RECORDER(13), LV_RECORDER(14),
        LV_RECORDER(15), LV_RECORDER(16), LV_RECORDER(17), LV_RECORDER(18), LV_RECORDER(19),
        LV_RECORDER(20), LV_RECORDER(21), LV_RECORDER(22), LV_RECORDER(23), LV_RECORDER(24),
        LV_RECORDER(25), LV_RECORDER(26), LV_RECORDER(27), LV_RECORDER(28), LV_RECORDER(29),
        LV_RECORDER(30), LV_RECORDER(31), LV_RECORDER(32), LV_RECORDER(33)};
#undef LV_RECORDER
    for (int i = 0; i < LV_CLOSE_STEP_COUNT; i++) {
        EXPECT_NE(SetLibraryCloseStep(expected[i], recorders[i]), nullptr) << expected[i] << " is no step name";
    }
    CloseLibraries(nullptr, 1);
    ASSERT_EQ(closedSteps.size(), (size_t)LV_CLOSE_STEP_COUNT);
    for (int i = 0; i < LV_CLOSE_STEP_COUNT; i++) EXPECT_EQ(closedSteps[i], expected[i]) << "step " << i;
    for (int i = 0; i < LV_CLOSE_STEP_COUNT; i++) LibraryCloseSteps[i].close = saved[i];
    EXPECT_EQ(SetLibraryCloseStep("no such step", nullptr), nullptr);
}

// ---- Process entry ----------------------------------------------------------------------------

TEST(StartupProcessEntry, ArgumentCopiesAreWholeOrLeaveAHoleWhereMemoryRanOut)
{
    char first[] = "lumivarra", second[] = "dat\xc3\xa4i.lva", third[] = "-NOSOUND";
    char *argv[] = {first, second, third, nullptr};
    char **copy = ArgvToUtf8(3, argv);
    ASSERT_NE(copy, nullptr);
    for (int i = 0; i < 3; i++) EXPECT_STREQ(copy[i], argv[i]);
    EXPECT_EQ(copy[3], nullptr);
    FreeArgvCopy(copy, 3);

    // The array and the first argument succeed, the second argument's copy fails.
    FailAllocMemoryAfter(2);
    copy = ArgvToUtf8(3, argv);
    FailAllocMemoryAfter(-1);
    ASSERT_NE(copy, nullptr);
    EXPECT_STREQ(copy[0], "lumivarra");
    EXPECT_EQ(copy[1], nullptr);
    // The run refuses the hole instead of reading through it.
    testing::internal::CaptureStderr();
    EXPECT_EQ(RuntimeMain(3, copy), 1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Out of memory!\n");
    FreeArgvCopy(copy, 3);
}

TEST(StartupProcessEntry, EntryHandsCopiesToMainAndKeepsTheCommandLine)
{
    char program[] = "lumivarra", applet[] = "my applet.lva", option[] = "-ERRORCODE", value[] = "7";
    char *argv[] = {program, applet, option, value, nullptr};
    int result = PlatformMain(4, argv, [](int argc, char **copy) {
        char line[256];
        EXPECT_EQ(GetCommandLineText(line, sizeof line), 1);
        EXPECT_STREQ(line, "my applet.lva -ERRORCODE 7");
        char tiny[8];
        EXPECT_EQ(GetCommandLineText(tiny, sizeof tiny), 0);
        EXPECT_EQ(argc, 4);
        EXPECT_STREQ(copy[1], "my applet.lva");
        return 42;
    });
    EXPECT_EQ(result, 42);
}

TEST(StartupProcessEntry, OutOfMemoryAtStartIsAFailure)
{
    char name[] = "lumivarra";
    char *argv[] = {name, nullptr};
    testing::internal::CaptureStdout();
    FailAllocMemoryAfter(0);
    int code = RuntimeMain(1, argv);
    FailAllocMemoryAfter(-1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Not enough memory.\n");
    EXPECT_EQ(code, 1);
}

TEST(StartupProcessEntry, ProgramPathAndDirectory)
{
    char path[LV_PATH_SIZE], directory[LV_PATH_SIZE];
    ASSERT_EQ(GetProgramPath(path, sizeof path, 0), 1);
    ASSERT_EQ(GetProgramDir(directory, sizeof directory, 0), 1);
    EXPECT_EQ(path[0], '/');
    EXPECT_NE(std::strstr(path, "startup_test"), nullptr) << path;
    std::string expected = std::string(path).substr(0, std::string(path).rfind('/'));
    EXPECT_EQ(directory, expected);
    char tiny[4];
    EXPECT_EQ(GetProgramPath(tiny, sizeof tiny, 0), 0);
    EXPECT_STREQ(tiny, "");
}

TEST(StartupProcessEntry, ScreenDpiCountsOnlyForDpiAwareApplets)
{
    int x = 0, y = 0;
    SetScreenDpi(144, 144);
    GetScreenDpi(&x, &y);
    EXPECT_EQ(x, 96);
    EXPECT_EQ(y, 96);
    EXPECT_EQ(GetDpiScale(), 1.0);
    InitDpiAwareness();
    SetScreenDpi(144, 120);
    GetScreenDpi(&x, &y);
    EXPECT_EQ(x, 144);
    EXPECT_EQ(y, 120);
    EXPECT_EQ(GetDpiScale(), 1.5);
    SetScreenDpi(96, 96);
}

// ---- Temporary names ---------------------------------------------------------------------------

class StartupTempTest : public ::testing::Test {
protected:
    std::string root;         // a scratch temporary directory
    std::string savedTemp;    // the temporary directory before the test

    void SetUp() override
    {
        char pattern[] = "/tmp/lv_startup_unit_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root = pattern;
        savedTemp = GetTempDirectory();
        ASSERT_EQ(SetTempDirectory(root.c_str()), 1);
    }

    void TearDown() override
    {
        SetTempDirectory(savedTemp.c_str());
        DeleteDirectoryTree(root.c_str());
    }
};

TEST_F(StartupTempTest, TempFilesAreNewEmptyAndUnique)
{
    char a[LV_PATH_SIZE], b[LV_PATH_SIZE];
    ASSERT_EQ(CreateTempFileName(a, sizeof a), 1);
    ASSERT_EQ(CreateTempFileName(b, sizeof b), 1);
    EXPECT_STRNE(a, b);
    EXPECT_EQ(std::string(a).rfind(root + "/lumivarra", 0), 0u) << a;
    struct stat info;
    ASSERT_EQ(stat(a, &info), 0);
    EXPECT_EQ(info.st_size, 0);
    char small[8];
    EXPECT_EQ(CreateTempFileName(small, sizeof small), 0);
    EXPECT_STREQ(small, "");
}

TEST_F(StartupTempTest, DirectoryTreesAreDeletedWithoutFollowingLinks)
{
    char dir[LV_PATH_SIZE];
    ASSERT_EQ(CreateTempDirectory(dir, sizeof dir), 1);
    std::string outside = root + "/outside.txt";
    std::ofstream(outside) << "keep me";
    std::string d = dir;
    ASSERT_EQ(mkdir((d + "/sub").c_str(), 0700), 0);
    std::ofstream(d + "/sub/file.lvp") << "x";
    std::ofstream(d + "/top.lvl") << "y";
    ASSERT_EQ(symlink(outside.c_str(), (d + "/link").c_str()), 0);
    ASSERT_EQ(symlink(root.c_str(), (d + "/dirlink").c_str()), 0);
    EXPECT_EQ(DeleteDirectoryTree(dir), 1);
    struct stat info;
    EXPECT_NE(lstat(dir, &info), 0);
    EXPECT_EQ(stat(outside.c_str(), &info), 0) << "a link's target must survive";
}

// Raw and packed plug-in payloads and a library block land in the plug-in directory; the
// offset moves past both blocks to the applet.
TEST_F(StartupTempTest, AppendedPluginBlocksAreWrittenToThePluginDirectory)
{
    std::string bin = LV_BIN_DIR, build = LV_BUILD_DIR;
    std::string big(50000, 'q');
    std::ofstream(root + "/alpha.lvp", std::ios::binary) << big;
    std::ofstream(root + "/beta.lvl", std::ios::binary) << "library";
    for (int packed = 0; packed < 2; packed++) {
        SCOPED_TRACE(packed ? "packed" : "raw");
        std::string program = root + "/linked" + std::to_string(packed);
        std::string command = "timeout 30 " + bin + "/lvlink link " + bin + "/lumivarra " + build +
                              "/examples/hello.lva -o " + program + " --plugin " + root + "/alpha.lvp --library " +
                              root + "/beta.lvl" + (packed ? " --pack-plugins" : "") + " >/dev/null";
        ASSERT_EQ(std::system(command.c_str()), 0);
        std::ifstream in(program, std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        size_t blocks = bytes.rfind("LVL!");  // the runtime's own code names the magic too
        ASSERT_NE(blocks, std::string::npos);
        uint64_t offset = blocks;
        ASSERT_EQ(ExtractPluginBlocks(program.c_str(), &offset), 0);
        EXPECT_EQ(bytes.compare(offset, 4, std::string("LVA\0", 4)), 0) << "offset " << offset;
        std::string directory = GetStartupState()->pluginDirectory;
        ASSERT_FALSE(directory.empty());
        std::ifstream plugin(directory + "/alpha.lvp", std::ios::binary);
        std::string text((std::istreambuf_iterator<char>(plugin)), std::istreambuf_iterator<char>());
        EXPECT_EQ(text, big);
        std::ifstream library(directory + "/beta.lvl", std::ios::binary);
        std::string libraryText((std::istreambuf_iterator<char>(library)), std::istreambuf_iterator<char>());
        EXPECT_EQ(libraryText, "library");
        EXPECT_EQ(DeleteDirectoryTree(directory.c_str()), 1);
        GetStartupState()->pluginDirectory[0] = 0;
    }
}

TEST_F(StartupTempTest, DebugFileDeviceTakesTheOutput)
{
    std::string log = root + "/debug.txt";
    EXPECT_EQ(OpenDebugChannel(("::file" + log).c_str()), 1);
    WriteDebugOutput("%s %d %.1f\n", "line", 7, 2.5);
    WriteDebugText(std::string(5000, 'z').c_str());
    CloseDebugChannel();
    std::ifstream in(log, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(text, "line 7 2.5\n" + std::string(5000, 'z'));
    EXPECT_EQ(OpenDebugChannel(("::file" + root + "/no/such/dir/x").c_str()), 0);
}

// ---- Script thread ---------------------------------------------------------------------------------

// Uses about 12 MB of native stack: more than a default thread has.
static int DeepRecursion(int depth)
{
    volatile char frame[64 * 1024];
    frame[0] = (char)depth;
    frame[sizeof frame - 1] = (char)depth;
    if (depth == 0) return frame[0];
    return DeepRecursion(depth - 1) + frame[sizeof frame - 1] - (char)depth + 1;
}

TEST(StartupScriptThread, RunsTheBodyOnAStackOfItsOwnAndHandsBackItsResult)
{
    int depth = 190;
    int result = RunScriptThread([](void *state) { return DeepRecursion(*(int *)state); }, &depth, 0);
    EXPECT_EQ(result, 190);
    EXPECT_EQ(RunScriptThread(nullptr, nullptr, 0), ERR_WRONGUSAGE);
    int code = RunScriptThread([](void *) -> int { throw 5; }, nullptr, 0);
    EXPECT_EQ(code, ERR_INTERNAL) << "nothing may leave the thread";
}

}  // namespace

namespace {

// ---- The applet's records reach the machine ----------------------------------------------------

// Makes an applet from the hello chunk with lvlink options, and opens it as start-up does:
// the run's records and machine, the applet open and its main chunk loaded.
class StartupAppletTest : public StartupTempTest {
protected:
    lvRuntimeConfig *config = nullptr;  // the run's configuration
    lvAppletRecord *record = nullptr;   // the applet record
    lvState *L = nullptr;               // the machine
    char cwd[LV_PATH_SIZE] = "";        // current directory before the applet's

    void OpenHello(const std::string &lvlinkOptions)
    {
        std::string bin = LV_BIN_DIR, build = LV_BUILD_DIR;
        std::string applet = root + "/records.lva";
        std::string command = "timeout 30 " + bin + "/lvlink applet " + build + "/examples/hello.lvc -o " +
                              applet + " " + lvlinkOptions;
        ASSERT_EQ(std::system(command.c_str()), 0);
        ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
        config = (lvRuntimeConfig *)AllocMemory(sizeof(lvRuntimeConfig), 1);
        record = (lvAppletRecord *)AllocMemory(sizeof(lvAppletRecord), 1);
        InitRuntimeConfig(config);
        InitAppletRecord(record);
        config->quiet = 1;
        std::snprintf(config->appletPath, sizeof config->appletPath, "%s", applet.c_str());
        L = NewVMState();
        ASSERT_NE(L, nullptr);
        ASSERT_EQ(OpenApplet(config, L, record), 0);
        EXPECT_EQ(config->isApplet, 1);
    }

    void TearDown() override
    {
        if (L) {
            EXPECT_EQ(ShutdownRuntime(L, 0, config, record), 0);
        }
        SetGlobalEncoding(LV_ENCODING_UTF8);
        if (cwd[0]) {
            EXPECT_EQ(chdir(cwd), 0);
        }
        StartupTempTest::TearDown();
    }
};

TEST_F(StartupAppletTest, LabelsAndUserConstantsOfTheAppletAreDefined)
{
    std::ofstream(root + "/main.labels") << "# label map\nStartHere 3\nother_Label 7\n";
    OpenHello("-l " + root + "/main.labels --constant SPEED=2.5 --string-constant GREETING=hi --pack");
    ASSERT_EQ(LoadAppletMainChunk(L, config, record), 0);
    EXPECT_EQ(GetValueType(L, -1), LV_TFUNCTION) << "the main chunk waits on the stack";
    EXPECT_STREQ(GetRegistryString(L, "script"), ":none:");

    EXPECT_EQ(FindLabel(L, "starthere"), 3);
    EXPECT_EQ(FindLabel(L, "OTHER_LABEL"), 7);
    EXPECT_EQ(FindLabel(L, "missing"), -1);
    const char *text = nullptr;
    double number = 0;
    ASSERT_TRUE(LookupConstant(L, "speed", &text, &number));
    EXPECT_EQ(text, nullptr);
    EXPECT_EQ(number, 2.5);
    ASSERT_TRUE(LookupConstant(L, "GREETING", &text, &number));
    EXPECT_STREQ(text, "hi");

    // The applet's directory became the current one.
    char now[LV_PATH_SIZE];
    ASSERT_NE(getcwd(now, sizeof now), nullptr);
    EXPECT_EQ(std::string(now), root);
}

TEST_F(StartupAppletTest, LatinAppletSwitchesTheRunsEncoding)
{
    OpenHello("--encoding latin1");
    EXPECT_EQ(GetGlobalEncoding(), LV_ENCODING_UTF8);
    ASSERT_EQ(LoadAppletMainChunk(L, config, record), 0);
    EXPECT_EQ(GetGlobalEncoding(), LV_ENCODING_LATIN1);
}

TEST_F(StartupTempTest, ShutdownGivesTheExitCodeOfTheRun)
{
    struct Case {
        int code;          // the code the run stopped with
        int errorCodeSet;  // ERRORCODE given
        int errorCode;     // its value
        int exitCode;      // what the process exits with
    } cases[] = {
        {0, 0, 0, 0},
        {ERR_USERABORT, 0, 0, 0},
        {ERR_MISSINGPARAMTR, 0, 0, 1},
        {ERR_MISSINGPARAMTR, 1, 7, 7},
        {ERR_MISSINGPARAMTR, 1, 0, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.code);
        lvStartupState *state = GetStartupState();
        state->errorExitCodeSet = c.errorCodeSet;
        state->errorExitCode = c.errorCode;
        lvRuntimeConfig *config = (lvRuntimeConfig *)AllocMemory(sizeof(lvRuntimeConfig), 1);
        InitRuntimeConfig(config);
        testing::internal::CaptureStderr();
        EXPECT_EQ(ShutdownRuntime(NewVMState(), c.code, config, nullptr), c.exitCode);
        std::string report = testing::internal::GetCapturedStderr();
        EXPECT_EQ(report.empty(), c.code == 0 || c.code == ERR_USERABORT) << report;
    }
    GetStartupState()->errorExitCodeSet = 0;
}

}  // namespace

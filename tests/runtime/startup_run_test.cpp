// Runs the built runtime on applets as a user does: applet files and linked programs, raw
// and packed containers, errors with their reports and exit codes, options from the
// command line and the ".ini" file, the debug channel, and the temporary directory, which
// must be gone after every run. Each run is bounded by a time-out.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "tests/runtime/integ_run_util.h"

namespace {

const std::string kBin = LV_BIN_DIR;
const std::string kBuild = LV_BUILD_DIR;
const std::string kFixtures = std::string(LV_SOURCE_DIR) + "/tests/runtime/startup_fixtures";

void WriteFile(const std::string &path, const std::string &text)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

// Entries of a directory other than "." and "..".
std::vector<std::string> ListDirectory(const std::string &path)
{
    std::vector<std::string> names;
    DIR *dir = opendir(path.c_str());
    if (!dir) return names;
    while (dirent *entry = readdir(dir)) {
        std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    closedir(dir);
    return names;
}

class StartupRunTest : public ::testing::Test {
protected:
    std::string work;     // this test's scratch folder
    std::string tempDir;  // TMPDIR of the runs, checked empty afterwards

    void SetUp() override
    {
        char pattern[] = "/tmp/lv_startup_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        work = pattern;
        tempDir = work + "/tmp";
        ASSERT_EQ(mkdir(tempDir.c_str(), 0700), 0);
    }

    void TearDown() override
    {
        std::string command = "rm -rf " + Quote(work);
        (void)std::system(command.c_str());
    }

    // Runs a shell command line in the scratch folder with TMPDIR pointing at tempDir.
    RunResult Run(const std::string &commandLine)
    {
        std::string out = work + "/.out", err = work + "/.err";
        std::string command = "cd " + Quote(work) + " && TMPDIR=" + Quote(tempDir) + " timeout 30 " + commandLine +
                              " >" + Quote(out) + " 2>" + Quote(err) + " </dev/null";
        int status = std::system(command.c_str());
        RunResult result = {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadFile(out), ReadFile(err)};
        unlink(out.c_str());
        unlink(err.c_str());
        return result;
    }

    // A tool run that must succeed (lvasm, lvlink).
    void Tool(const std::string &commandLine)
    {
        RunResult r = Run(commandLine);
        ASSERT_EQ(r.exitCode, 0) << commandLine << "\n" << r.err;
    }

    std::string Assemble(const std::string &fixture)
    {
        std::string chunk = work + "/" + fixture + ".lvc";
        Tool(Quote(kBin + "/lvasm") + " " + Quote(kFixtures + "/" + fixture + ".lvs") + " -o " + Quote(chunk));
        return chunk;
    }

    // Makes an applet container; options go to "lvlink applet".
    std::string MakeApplet(const std::string &chunk, const std::string &name, const std::string &options = "")
    {
        std::string applet = work + "/" + name + ".lva";
        Tool(Quote(kBin + "/lvlink") + " applet " + Quote(chunk) + " -o " + Quote(applet) + " " + options);
        return applet;
    }

    // Links an applet into a copy of the runtime; options go to "lvlink link".
    std::string Link(const std::string &applet, const std::string &name, const std::string &options = "")
    {
        std::string program = work + "/" + name;
        Tool(Quote(kBin + "/lvlink") + " link " + Quote(kBin + "/lumivarra") + " " + Quote(applet) + " -o " +
             Quote(program) + " " + options);
        return program;
    }

    void ExpectTempDirEmpty()
    {
        std::vector<std::string> left = ListDirectory(tempDir);
        EXPECT_TRUE(left.empty()) << "left in the temporary directory: " << (left.empty() ? "" : left[0]);
    }
};

// ---- The hello example -------------------------------------------------------------------

TEST_F(StartupRunTest, HelloAppletFilePrintsItsLineAndEndsWithFive)
{
    RunResult r = Run(Quote(kBin + "/lumivarra") + " " + Quote(kBuild + "/examples/hello.lva"));
    EXPECT_EQ(r.exitCode, 5) << r.err;
    EXPECT_EQ(r.out, "Hello from Lumivarra!\n");
    EXPECT_EQ(r.err, "");
    ExpectTempDirEmpty();
}

TEST_F(StartupRunTest, LinkedHelloExampleRunsWithoutArguments)
{
    RunResult r = Run(Quote(kBuild + "/examples/hello"));
    EXPECT_EQ(r.exitCode, 5) << r.err;
    EXPECT_EQ(r.out, "Hello from Lumivarra!\n");
    ExpectTempDirEmpty();
}

// Raw, packed and packed-to-file containers, each linked with plug-in blocks (raw and
// packed payloads) that start-up writes to the temporary directory and removes again.
TEST_F(StartupRunTest, EveryContainerKindRunsTheSameAndLeavesNothingBehind)
{
    WriteFile(work + "/demo.lvp", std::string(40000, 'p'));
    WriteFile(work + "/extra.lvl", "library bytes");
    struct Case {
        const char *name;           // applet and program name
        const char *appletOptions;  // lvlink applet options
        const char *linkOptions;    // lvlink link options
    } cases[] = {
        {"raw", "", ""},
        {"packed", "--pack", "--plugin demo.lvp --library extra.lvl"},
        {"tofile", "--unpack-to-file", "--plugin demo.lvp --pack-plugins"},
    };
    std::string chunk = kBuild + "/examples/hello.lvc";
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        std::string applet = MakeApplet(chunk, c.name, c.appletOptions);
        std::string program = Link(applet, std::string(c.name) + "_program", c.linkOptions);
        RunResult linked = Run(Quote(program));
        EXPECT_EQ(linked.exitCode, 5) << linked.err;
        EXPECT_EQ(linked.out, "Hello from Lumivarra!\n");
        ExpectTempDirEmpty();
        RunResult file = Run(Quote(kBin + "/lumivarra") + " " + Quote(applet));
        EXPECT_EQ(file.exitCode, 5) << file.err;
        EXPECT_EQ(file.out, "Hello from Lumivarra!\n");
        ExpectTempDirEmpty();
    }
}

TEST_F(StartupRunTest, MainChunkRunningToItsEndExitsWithZero)
{
    std::string applet = MakeApplet(Assemble("plain"), "plain");
    RunResult r = Run(Quote(kBin + "/lumivarra") + " " + Quote(applet));
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "42 and text\n");
}

// ---- Errors, reports and exit codes ----------------------------------------------------------

TEST_F(StartupRunTest, LinkedAppletWithOptionsPrintsTheErrorLineAndExitsWithErrorCode)
{
    std::string applet = MakeApplet(Assemble("fail"), "fail", "--flags 0x200 --pack");
    std::string program = Link(applet, "fail", "--plugin " + Quote(kFixtures + "/fail.lvs"));
    RunResult r = Run(Quote(program) + " -PRINTERROR -ERRORCODE 7");
    EXPECT_EQ(r.exitCode, 7) << r.err;
    EXPECT_EQ(r.out, "before the error\n\nfail.lvs:7: Not enough arguments!\n");
    EXPECT_EQ(r.err, "");
    ExpectTempDirEmpty();

    // The form a host program reads: asked for, or implied by a host-window device (which has
    // no window here, so the report goes to standard output).
    for (const char *options : {" -PRINTERROR -FORMATERROR -ERRORCODE 7", " -DEBUGDEVICE ::hwnd1234 -ERRORCODE 7"}) {
        SCOPED_TRACE(options);
        r = Run(Quote(program) + options);
        EXPECT_EQ(r.exitCode, 7);
        EXPECT_NE(r.out.find("\n@_lverror7:fail.lvs*Not enough arguments!\n"), std::string::npos) << r.out;
    }
}

TEST_F(StartupRunTest, FailedRunExitsWithOneUnlessErrorCodeWasGiven)
{
    std::string applet = MakeApplet(Assemble("fail"), "fail", "--flags 0x200");
    std::string program = Link(applet, "fail");
    RunResult r = Run(Quote(program));
    EXPECT_EQ(r.exitCode, 1);
    // No requester can be shown: its whole text goes to standard error.
    EXPECT_EQ(r.err, "Not enough arguments!\nFile: fail.lvs (current line: 7 - In function: DebugPrint)\n");
    EXPECT_EQ(r.out, "before the error\n");

    r = Run(Quote(program) + " -ERRORCODE 0");
    EXPECT_EQ(r.exitCode, 0) << "a given ERRORCODE keeps its meaning";
}

TEST_F(StartupRunTest, ErrorCodeFromTheIniFileBesideTheProgram)
{
    std::string applet = MakeApplet(Assemble("fail"), "fail", "--flags 0x200");
    std::string program = Link(applet, "fail");
    WriteFile(program + ".ini", "# options of the linked program\nERRORCODE = 12\nPRINTERROR = yes\n");
    RunResult r = Run(Quote(program));
    EXPECT_EQ(r.exitCode, 12) << r.err;
    EXPECT_NE(r.out.find("fail.lvs:7: Not enough arguments!"), std::string::npos) << r.out;
    // The file's entries override the command line, also a switch the file turns off.
    r = Run(Quote(program) + " -ERRORCODE 13");
    EXPECT_EQ(r.exitCode, 12);
    WriteFile(program + ".ini", "ERRORCODE = 12\nPRINTERROR = no\n");
    r = Run(Quote(program) + " -PRINTERROR");
    EXPECT_EQ(r.exitCode, 12);
    EXPECT_EQ(r.out, "before the error\n") << "PRINTERROR was cancelled by the file";
    EXPECT_NE(r.err.find("Not enough arguments!"), std::string::npos) << r.err;
}

TEST_F(StartupRunTest, LinkedAppletWithoutOptionsBitHandsOptionWordsToTheApplet)
{
    std::string applet = MakeApplet(Assemble("fail"), "fail", "--pack");
    std::string program = Link(applet, "fail");
    RunResult r = Run(Quote(program) + " -PRINTERROR -ERRORCODE 7");
    EXPECT_EQ(r.exitCode, 1) << "options are the applet's arguments here";
    EXPECT_EQ(r.out, "before the error\n");
    EXPECT_NE(r.err.find("Not enough arguments!"), std::string::npos);
}

TEST_F(StartupRunTest, EndKeepsItsCodeWhenErrorCodeIsGiven)
{
    std::string applet = MakeApplet(kBuild + "/examples/hello.lvc", "hello", "--flags 0x200");
    std::string program = Link(applet, "hello");
    RunResult r = Run(Quote(program) + " -ERRORCODE 7");
    EXPECT_EQ(r.exitCode, 5);
}

TEST_F(StartupRunTest, LineMapGivesTheSourceFileAndLine)
{
    WriteFile(work + "/lines.map", "7 7 41 main.src @fail.lvs\n");
    std::string applet = MakeApplet(Assemble("fail"), "mapped", "--line-map lines.map");
    RunResult r = Run(Quote(kBin + "/lumivarra") + " " + Quote(applet) + " -PRINTERROR");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.out.find("\nmain.src:42: Not enough arguments!\n"), std::string::npos) << r.out;
}

TEST_F(StartupRunTest, StartErrorsAreReportedWithTheirNames)
{
    std::string notApplet = work + "/notes.lva";
    WriteFile(notApplet, "just some text, no applet at all");
    struct Case {
        std::string arguments;   // after the runtime's name
        std::string message;     // expected on standard error
    } cases[] = {
        {Quote(work + "/missing.lva"), "File " + work + "/missing.lva does not exist!"},
        {Quote(notApplet), "notes.lva is no Lumivarra applet!"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.arguments);
        RunResult r = Run(Quote(kBin + "/lumivarra") + " " + c.arguments);
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        ExpectTempDirEmpty();
    }
}

TEST_F(StartupRunTest, NoAppletNamedPrintsUsageAndFails)
{
    RunResult r = Run(Quote(kBin + "/lumivarra"));
    EXPECT_NE(r.exitCode, 0);
    EXPECT_NE(r.err.find("usage: lumivarra APPLET"), std::string::npos) << r.err;
}

TEST_F(StartupRunTest, LinkedObjectsThatCannotBeLoadedStopTheRun)
{
    struct Case {
        const char *object;   // lvlink --object
        const char *message;  // expected on standard error
    } cases[] = {
        {"3:1:tune.mod", "Cannot read file tune.mod"},            // a linked music that is missing
        {"12:1:orvalux", "This program requires orvalux.lvp!"},   // a required plug-in not found
    };
    std::string chunk = Assemble("plain");
    for (const Case &c : cases) {
        SCOPED_TRACE(c.object);
        std::string applet = MakeApplet(chunk, "linked", std::string("--object ") + c.object);
        // The null sink: without a device, music commands would return quietly.
        RunResult r = Run("env LUMIVARRA_AUDIO=null " + Quote(kBin + "/lumivarra") + " " + Quote(applet));
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_EQ(r.out, "") << "the main chunk must not run";
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    }
}

TEST_F(StartupRunTest, LinkedFileThatCannotBePreloadedStopsWithItsOwnError)
{
    std::string applet = MakeApplet(Assemble("preload_missing"), "preload", "--object 8:1:missing.txt");
    RunResult r = Run(Quote(kBin + "/lumivarra") + " " + Quote(applet));
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "") << "the main chunk must not run";
    EXPECT_NE(r.err.find("Cannot read file missing.txt"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("file handle"), std::string::npos) << r.err;
}

// ---- Script faults that must end as errors, not as crashes -----------------------------------

TEST_F(StartupRunTest, MemoryNameWithAnAddressOfTheScriptsChoiceIsNoFile)
{
    std::string applet = MakeApplet(Assemble("anyaddress"), "anyaddress");
    RunResult r = Run(Quote(kBin + "/lumivarra") + " " + Quote(applet));
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("current line: 2 - In function: OpenFile"), std::string::npos) << r.err;
}

TEST_F(StartupRunTest, ReadingAHandleOfAnUndefinedVirtualFileFailsCleanly)
{
    std::string applet = MakeApplet(Assemble("undefined"), "undefined");
    RunResult r = Run(Quote(kBin + "/lumivarra") + " " + Quote(applet));
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out.find("only line"), std::string::npos) << "the data is gone: " << r.out;
    EXPECT_EQ(r.out.rfind("read:", 0), 0u) << r.out;
}

TEST_F(StartupRunTest, ErrorHandlerStaysQuietWhileErrorsAreOnlyRecorded)
{
    std::string applet = MakeApplet(Assemble("recorded_handler"), "recorded_handler");
    RunResult r = Run(Quote(kBin + "/lumivarra") + " " + Quote(applet));
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "last error: 1045\n");
}

// An exception that is not a script error (here the allocation of 10^15 bytes) becomes the
// out-of-memory error of the command, with its line, the error mode and the report.
TEST_F(StartupRunTest, OutOfMemoryInACommandIsAnErrorOfThatCommand)
{
#ifdef LV_SANITIZED
    // The sanitizers' operator new ends the process on a failed allocation instead of
    // throwing; RtErrorsTest.ForeignExceptionsBecomeTheCommandsError covers the boundary there.
    GTEST_SKIP() << "operator new cannot fail recoverably under the sanitizers";
#endif
    WriteFile(work + "/data.txt", "some bytes\n");
    std::string applet = MakeApplet(Assemble("outofmemory"), "outofmemory");
    RunResult r = Run(Quote(kBin + "/lumivarra") + " " + Quote(applet));
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_EQ(r.out, "last error: 1000\n");
    EXPECT_NE(r.err.find("current line: 7 - In function: ReadBytes"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("Internal limit"), std::string::npos) << r.err;
}

TEST_F(StartupRunTest, ExitCodesWhoseLowByteIsZeroDoNotReadAsSuccess)
{
    std::string ended = MakeApplet(Assemble("end256"), "end256");
    RunResult r = Run(Quote(kBin + "/lumivarra") + " " + Quote(ended));
    EXPECT_EQ(r.exitCode, 255) << r.err;
    std::string failing = Link(MakeApplet(Assemble("fail"), "fail", "--flags 0x200"), "fail");
    for (const char *code : {"512", "768"}) {
        r = Run(Quote(failing) + " -ERRORCODE " + code);
        EXPECT_EQ(r.exitCode, 255) << code;
    }
    r = Run(Quote(failing) + " -ERRORCODE 257");
    EXPECT_EQ(r.exitCode, 1) << "other codes keep their low byte";
}

// An ISO-8859-1 applet names its linked files in ISO-8859-1: inline data and data in a
// block, the names given to lvlink in UTF-8 as the container stores them.
TEST_F(StartupRunTest, Latin1AppletOpensLinkedFilesWithNonAsciiNames)
{
    WriteFile(work + "/inline.txt", "inline line\n");
    WriteFile(work + "/block.txt", "block line\n");
    std::string applet = MakeApplet(Assemble("latin1"), "latin1",
                                    "--encoding latin1 --file " + Quote("caf\xc3\xa9.txt=" + work + "/inline.txt") +
                                        " --block-file " + Quote("bl\xc3\xb6" "ck.txt=" + work + "/block.txt"));
    // Run from elsewhere, where no such files lie on disk.
    std::string elsewhere = work + "/elsewhere";
    ASSERT_EQ(mkdir(elsewhere.c_str(), 0700), 0);
    std::string moved = elsewhere + "/latin1.lva";
    ASSERT_EQ(rename(applet.c_str(), moved.c_str()), 0);
    unlink((work + "/inline.txt").c_str());
    unlink((work + "/block.txt").c_str());
    RunResult r = Run(Quote(kBin + "/lumivarra") + " " + Quote(moved));
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "inline line\nblock line\n0 0\n");
}

// ---- Folders, catalogs and fonts linked by lvlink ---------------------------------------------

TEST_F(StartupRunTest, LinkedFolderIsListedAndReadAsIfOnDisk)
{
    ASSERT_EQ(mkdir((work + "/tree").c_str(), 0700), 0);
    ASSERT_EQ(mkdir((work + "/tree/sub").c_str(), 0700), 0);
    WriteFile(work + "/tree/a.txt", "alpha\n");
    WriteFile(work + "/tree/sub/b.txt", "beta\n");
    std::string chunk = Assemble("linked_dir");
    std::string raw = MakeApplet(chunk, "dir_raw", "--directory " + Quote("1:tree=" + work + "/tree"));
    std::string packed = MakeApplet(chunk, "dir_packed", "--pack --directory " + Quote("1:tree=" + work + "/tree"));
    std::string program = Link(packed, "dir_program");
    // The folder is gone: only the applet's copy can answer.
    (void)std::system(("rm -rf " + Quote(work + "/tree")).c_str());
    const std::string expected = "2 1\na.txt 0 6 15\nsub 1\nalpha\n:::1,sub\nbeta\n";
    for (const std::string &command : {Quote(kBin + "/lumivarra") + " " + Quote(raw), Quote(program)}) {
        SCOPED_TRACE(command);
        RunResult r = Run(command);
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(r.out, expected);
    }
    ExpectTempDirEmpty();
}

TEST_F(StartupRunTest, LinkedCatalogAnswersInTheUsersLanguage)
{
    ASSERT_EQ(mkdir((work + "/cats").c_str(), 0700), 0);
    ASSERT_EQ(mkdir((work + "/cats/german").c_str(), 0700), 0);
    ASSERT_EQ(mkdir((work + "/cats/deutsch").c_str(), 0700), 0);
    WriteFile(work + "/cats/german/app.catalog", "Hallo\nWelt\n");
    WriteFile(work + "/cats/deutsch/alt.catalog", "Servus\n");
    std::string chunk = Assemble("linked_catalog");
    struct Case {
        const char *link;    // lvlink --catalog
        const char *lang;    // the user's language
        const char *output;  // the three strings
    } cases[] = {
        {"app.catalog", "de_DE.UTF-8", "Hallo Welt Seven\n"},
        {"alt.catalog", "de_DE.UTF-8", "Servus World Seven\n"},  // found under the native name
        {"", "de_DE.UTF-8", "Servus World Seven\n"},  // no name: the first *.catalog, depth-first
        {"app.catalog", "C", "Hello World Seven\n"},          // English needs no catalog
        {"other.catalog", "de_DE.UTF-8", "Hello World Seven\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.link) + " " + c.lang);
        std::string applet = MakeApplet(chunk, "catalog", "--catalog " + Quote(std::string(c.link) + "=" + work + "/cats"));
        RunResult r = Run(std::string("env LC_ALL= LC_MESSAGES= LANG=") + c.lang + " " + Quote(kBin + "/lumivarra") + " " +
                          Quote(applet));
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(r.out, c.output);
    }
}

TEST_F(StartupRunTest, LinkedTrueTypeFontIsOpenedAtStartAndByItsName)
{
    // A copy under a name no font service knows: only the applet's copy can answer.
    std::string face = work + "/DejaVuSans.ttf";
    (void)std::system(("cp /usr/share/fonts/truetype/dejavu/DejaVuSans.ttf " + Quote(face)).c_str());
    std::string applet = MakeApplet(Assemble("linked_font"), "font", "--font " + Quote("1:20=" + face));
    unlink(face.c_str());
    RunResult r = Run("env FONTCONFIG_FILE=/dev/null " + Quote(kBin + "/lumivarra") + " " + Quote(applet));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    std::istringstream lines(r.out);
    std::string linked, disk;
    std::getline(lines, linked);
    std::getline(lines, disk);
    EXPECT_EQ(linked, disk);
    int height = 0, width = 0;
    ASSERT_EQ(std::sscanf(linked.c_str(), "%d %d", &height, &width), 2) << r.out;
    EXPECT_EQ(height, 20);
    EXPECT_GT(width, 30);
}

TEST_F(StartupRunTest, ErrorReportsNamePluginCommandsAsSpelled)
{
    std::string applet = MakeApplet(Assemble("loadplugin"), "loadplugin");
    RunResult r = Run(Quote(kBin + "/lumivarra") + " " + Quote(applet));
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("current line: 2 - In function: LoadPlugin)"), std::string::npos) << r.err;
}

TEST_F(StartupRunTest, TimestampsCountFromTheProgramsStart)
{
    std::string applet = MakeApplet(Assemble("timestamp"), "timestamp");
    RunResult r = Run(Quote(kBin + "/lumivarra") + " " + Quote(applet));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    double seconds = std::strtod(r.out.c_str(), nullptr);
    EXPECT_GT(seconds, 0) << "counted from the first call: " << r.out;
    EXPECT_LT(seconds, 30) << r.out;
}

TEST_F(StartupRunTest, StopSignalEndsTheRunAndStillCleansUp)
{
    std::string applet = MakeApplet(Assemble("forever"), "forever", "--unpack-to-file");
    std::string program = Link(applet, "forever", "--plugin " + Quote(kFixtures + "/forever.lvs"));
    // The program is stopped by its id once it printed that it runs; a watchdog ends it
    // after 20 s should it not react.
    std::string out = work + "/forever.out";
    std::string command = "cd " + Quote(work) + " && { TMPDIR=" + Quote(tempDir) + " " + Quote(program) + " >" +
                          Quote(out) + " & pid=$!; ( trap 'exit 0' TERM; sleep 20 & wait $!; kill -KILL $pid 2>/dev/null ) & dog=$!; " +
                          "for i in $(seq 200); do grep -q running " + Quote(out) +
                          " 2>/dev/null && break; sleep 0.05; done; kill -TERM $pid; wait $pid; rc=$?; " +
                          "kill $dog 2>/dev/null; exit $rc; }";
    int status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 128 + SIGTERM);
    EXPECT_EQ(ReadFile(out), "running\n");
    ExpectTempDirEmpty();
}

TEST_F(StartupRunTest, DebugOutputTracesCommandCallsUnlessDebugOutputIsOff)
{
    std::string hello = Quote(kBin + "/lumivarra") + " " + Quote(kBuild + "/examples/hello.lva");
    RunResult r = Run(hello + " -DEBUGOUTPUT");
    EXPECT_EQ(r.exitCode, 5);
    EXPECT_NE(r.out.find("Now calling debugprint() with arguments #1=(STRING)\"Hello from Lumivarra!\""),
              std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Now calling end()"), std::string::npos) << r.out;
    // NODEBUG silences the trace and DebugPrint alike; End still gives its code.
    r = Run(hello + " -DEBUGOUTPUT -NODEBUG");
    EXPECT_EQ(r.exitCode, 5);
    EXPECT_EQ(r.out, "");
}

// ---- Debug channel ---------------------------------------------------------------------------

TEST_F(StartupRunTest, FileDebugDeviceReceivesTheDebugOutput)
{
    std::string log = work + "/debug.log";
    RunResult r = Run(Quote(kBin + "/lumivarra") + " " + Quote(kBuild + "/examples/hello.lva") + " -DEBUGDEVICE " +
                      Quote("::file" + log));
    EXPECT_EQ(r.exitCode, 5) << r.err;
    EXPECT_EQ(r.out, "");
    std::string text = ReadFile(log);
    // With a debug device the run is not quiet: banner and status line come first.
    EXPECT_NE(text.find("Loading applet hello.lva...done\n"), std::string::npos) << text;
    EXPECT_NE(text.find("Hello from Lumivarra!\n"), std::string::npos) << text;

    // An applet whose header asks for quiet runs prints only its own lines.
    std::string quiet = MakeApplet(kBuild + "/examples/hello.lvc", "quiet", "--flags 0x100");
    r = Run(Quote(kBin + "/lumivarra") + " " + Quote(quiet) + " -DEBUGDEVICE " + Quote("::file" + log));
    EXPECT_EQ(r.exitCode, 5) << r.err;
    EXPECT_EQ(ReadFile(log), "Hello from Lumivarra!\n");
}

}  // namespace

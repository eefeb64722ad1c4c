// Whole runs of the runtime executable on applets made at build time: what a script's error
// handler receives, errors only recorded, Error's text reported as given, GetErrorName, and
// an ISO-8859-1 applet whose string commands count one byte per character. Each run is
// bounded by a time-out.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/runtime/integ_run_util.h"

namespace {

const std::string kBin = LV_BIN_DIR;
const std::string kApplets = std::string(LV_BUILD_DIR) + "/tests/integ";

class IntegRunTest : public ::testing::Test {
protected:
    std::string work;  // scratch folder: current directory and TMPDIR of the runs

    void SetUp() override
    {
        char pattern[] = "/tmp/lv_integ_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        work = pattern;
    }

    void TearDown() override
    {
        std::string command = "rm -rf " + Quote(work);
        (void)std::system(command.c_str());
    }

    // Runs an executable on an applet of build/tests/integ with further options.
    RunResult Run(const std::string &program, const std::string &applet, const std::string &options = "")
    {
        std::string out = work + "/.out", err = work + "/.err";
        std::string command = "cd " + Quote(work) + " && TMPDIR=" + Quote(work) + " timeout 30 " + Quote(program) + " " +
                              Quote(kApplets + "/" + applet + ".lva") + " " + options + " >" + Quote(out) + " 2>" +
                              Quote(err) + " </dev/null";
        int status = std::system(command.c_str());
        RunResult result = {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadFile(out), ReadFile(err)};
        unlink(out.c_str());
        unlink(err.c_str());
        return result;
    }
};

}  // namespace

TEST_F(IntegRunTest, ErrorHandlerReceivesCodeMessageCommandAndLineThenEnds)
{
    RunResult r = Run(kBin + "/lumivarra", "handler");
    EXPECT_EQ(r.out, "handler: 1045 Cannot read file file.txt ! CompressFile 8\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.exitCode, 4) << "End's code inside the handler ends the run";
}

TEST_F(IntegRunTest, RecordedErrorIsReadByGetLastErrorAndClearedByTheNextCommand)
{
    RunResult r = Run(kBin + "/lumivarra", "recorded");
    EXPECT_EQ(r.out, "last error: 1045\nagain: 0\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.exitCode, 0);
}

TEST_F(IntegRunTest, ErrorTextIsReportedAsGiven)
{
    // Printed: the chunk's own file and line stand in for the line map the applet lacks.
    RunResult r = Run(kBin + "/lumivarra", "custom", "-PRINTERROR");
    EXPECT_EQ(r.out, "before\n\ncustom.lvs:5: custom %s text\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.exitCode, 1);
    // The requester's text, on standard error without a window system.
    r = Run(kBin + "/lumivarra", "custom");
    EXPECT_EQ(r.out, "before\n");
    EXPECT_EQ(r.err, "custom %s text\nFile: custom.lvs (current line: 5 - In function: Error)\n");
    EXPECT_EQ(r.exitCode, 1);
    // The host form.
    r = Run(kBin + "/lumivarra", "custom", "-PRINTERROR -FORMATERROR -ERRORCODE 9");
    EXPECT_EQ(r.out, "before\n\n@_lverror5:custom.lvs*custom %s text\n");
    EXPECT_EQ(r.exitCode, 9);
}

TEST_F(IntegRunTest, GetErrorNameGivesTheMessage)
{
    RunResult r = Run(kBin + "/lumivarra", "names");
    EXPECT_EQ(r.out, "Not enough arguments!\nOut of memory!\nNo error occurred!\nUnknown error code!\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.exitCode, 0);
}

TEST_F(IntegRunTest, Latin1AppletCountsOneBytePerCharacter)
{
    RunResult r = Run(kBin + "/lumivarra", "latin1");
    EXPECT_EQ(r.out, "3 1\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.exitCode, 0);
}

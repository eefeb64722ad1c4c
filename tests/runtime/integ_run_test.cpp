// Whole runs of the runtime executable on applets made at build time: an ISO-8859-1 applet
// whose string commands count one byte per character. Each run is bounded by a time-out.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const std::string kBin = LV_BIN_DIR;
const std::string kApplets = std::string(LV_BUILD_DIR) + "/tests/integ";

struct RunResult {
    int exitCode;     // the process's exit code, or -1 when it did not exit normally
    std::string out;  // standard output
    std::string err;  // standard error
};

std::string ReadFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

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
        std::string command = "rm -rf '" + work + "'";
        (void)std::system(command.c_str());
    }

    // Runs an executable on an applet of build/tests/integ with further options.
    RunResult Run(const std::string &program, const std::string &applet, const std::string &options = "")
    {
        std::string out = work + "/.out", err = work + "/.err";
        std::string command = "cd '" + work + "' && TMPDIR='" + work + "' timeout 30 '" + program + "' '" + kApplets +
                              "/" + applet + ".lva' " + options + " >'" + out + "' 2>'" + err + "' </dev/null";
        int status = std::system(command.c_str());
        RunResult result = {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadFile(out), ReadFile(err)};
        unlink(out.c_str());
        unlink(err.c_str());
        return result;
    }
};

}  // namespace

TEST_F(IntegRunTest, Latin1AppletCountsOneBytePerCharacter)
{
    RunResult r = Run(kApplets + "/lumivarra_encoding", "latin1");
    EXPECT_EQ(r.out, "3 1\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.exitCode, 0);
}

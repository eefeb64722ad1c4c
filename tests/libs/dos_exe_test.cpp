// The dos library through the built runtime executable: a stop signal ends a long
// synchronous copy or a captured Execute promptly, a program linked into the applet runs
// from either argument form, and an async operation is an object that the shut-down frees.
#include "tests/stop_budget.h"
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <spawn.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

// One run of the executable with its output in a file.
class AppletRun {
public:
    pid_t pid = -1;
    std::string outName;

    // Starts lumivarra on build/tests/libs/dos_exe/<stem>.lva with "-arg value" pairs.
    bool Start(const std::string &stem, const std::vector<std::string> &args)
    {
        char name[] = "/tmp/lv_dos_exe_XXXXXX";
        int fd = mkstemp(name);
        if (fd < 0) return false;
        outName = name;
        std::vector<std::string> words = {std::string(LV_BIN_DIR) + "/lumivarra",
                                          std::string(LV_BUILD_DIR) + "/tests/libs/dos_exe/" + stem + ".lva"};
        words.insert(words.end(), args.begin(), args.end());
        std::vector<char *> argv;
        for (std::string &w : words) argv.push_back(w.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fd, 1);
        posix_spawn_file_actions_adddup2(&actions, fd, 2);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        close(fd);
        return rc == 0;
    }
    // Waits up to limit for the end; the wait status, or -1 (then the run is killed).
    int Wait(std::chrono::milliseconds limit)
    {
        auto until = Clock::now() + limit;
        int status = 0;
        while (Clock::now() < until) {
            pid_t r = waitpid(pid, &status, WNOHANG);
            if (r == pid) return status;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        return -1;
    }
    std::string Output() const
    {
        std::ifstream in(outName);
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }
    ~AppletRun()
    {
        if (!outName.empty()) unlink(outName.c_str());
    }
};

// Waits (bounded) until the condition holds.
template <class F> bool WaitFor(F condition, std::chrono::seconds limit = std::chrono::seconds(20))
{
    auto until = Clock::now() + limit;
    while (Clock::now() < until) {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

// True when the process holds a descriptor on the path.
bool HoldsOpen(pid_t pid, const std::string &path)
{
    std::string dir = "/proc/" + std::to_string(pid) + "/fd";
    std::error_code ec;
    for (const auto &e : fs::directory_iterator(dir, ec)) {
        std::error_code ec2;
        if (fs::read_symlink(e.path(), ec2) == path) return true;
    }
    return false;
}

// True when the process has a child process.
bool HasChild(pid_t pid)
{
    std::string dir = "/proc/" + std::to_string(pid) + "/task";
    std::error_code ec;
    for (const auto &e : fs::directory_iterator(dir, ec)) {
        std::ifstream in(e.path() / "children");
        std::string text;
        if (std::getline(in, text) && !text.empty()) return true;
    }
    return false;
}

class DosExeTest : public ::testing::Test {
protected:
    std::string dir;
    void SetUp() override
    {
        char tmpl[] = "/tmp/lvdosexeXXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
    }
    void TearDown() override
    {
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
    // Runs the applet to its end: exit code 0 and every text among its output.
    void ExpectCleanRun(const std::string &stem, const std::vector<std::string> &args,
                        const std::vector<std::string> &texts)
    {
        AppletRun run;
        ASSERT_TRUE(run.Start(stem, args));
        int status = run.Wait(std::chrono::seconds(20));
        ASSERT_TRUE(status != -1 && WIFEXITED(status)) << stem;
        std::string out = run.Output();
        EXPECT_EQ(WEXITSTATUS(status), 0) << stem << "\n" << out;
        for (const std::string &text : texts) EXPECT_NE(out.find(text), std::string::npos) << text << "\n" << out;
    }
    // Sends SIGINT once ready() holds, 200 ms on; the run must end within half a second of
    // the signal with the interrupt's exit code, before the command's next line.
    void ExpectPromptStop(AppletRun &run, const std::function<bool()> &ready, const char *what)
    {
        ASSERT_TRUE(WaitFor(ready)) << what << ": never got going\n" << run.Output();
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        ASSERT_EQ(waitpid(run.pid, nullptr, WNOHANG), 0) << what << ": ended by itself\n" << run.Output();
        auto sent = Clock::now();
        kill(run.pid, SIGINT);
        int status = run.Wait(std::chrono::seconds(20));
        auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - sent).count();
        ASSERT_NE(status, -1) << what << ": still running 20 s after SIGINT";
        EXPECT_TRUE(WIFEXITED(status)) << what;
        EXPECT_EQ(WEXITSTATUS(status), 128 + SIGINT) << what << "\n" << run.Output();
        EXPECT_LT(took, kStopBudgetMs) << what;
        EXPECT_EQ(run.Output().find("copied"), std::string::npos) << what;
    }
};

}  // namespace

// A copy that never ends by itself (a device that is never exhausted onto /dev/null) and
// a large tree: both inside the command, without a callback.
TEST_F(DosExeTest, AnInterruptEndsALongSynchronousCopy)
{
    {
        AppletRun run;
        ASSERT_TRUE(run.Start("copy_file", {"-from", "/dev/zero", "-to", "/dev/null"}));
        ExpectPromptStop(run, [&] { return HoldsOpen(run.pid, "/dev/zero"); }, "device copy");
    }
    struct stat st;
    ASSERT_EQ(stat("/dev/null", &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));  // an ended copy removes nothing it did not make

    fs::create_directories(dir + "/src");
    for (int i = 0; i < 20000; i++) std::ofstream(dir + "/src/f" + std::to_string(i));
    AppletRun run;
    ASSERT_TRUE(run.Start("copy_tree", {"-from", dir + "/src", "-to", dir + "/dst"}));
    ExpectPromptStop(run, [&] { return fs::exists(dir + "/dst/f0"); }, "tree copy");
    EXPECT_LT(std::distance(fs::directory_iterator(dir + "/dst"), fs::directory_iterator()), 20000);
}

TEST_F(DosExeTest, AnInterruptEndsAnExecuteThatCapturesOutput)
{
    AppletRun run;
    ASSERT_TRUE(run.Start("execute_capture", {"-command", "sleep 15"}));
    ExpectPromptStop(run, [&] { return HasChild(run.pid); }, "Execute");
}

// Execute without options waits for the program too, and sees the stop request as well.
TEST_F(DosExeTest, AnInterruptEndsAnExecuteThatWaits)
{
    {
        AppletRun run;
        ASSERT_TRUE(run.Start("execute_plain", {"-command", "sleep 15"}));
        ExpectPromptStop(run, [&] { return HasChild(run.pid); }, "Execute");
        EXPECT_EQ(run.Output().find("ran"), std::string::npos);
    }
    ExpectCleanRun("execute_plain", {"-command", "sh -c 'exit 3'"}, {"ran"});
}

TEST_F(DosExeTest, ExecuteCapturesAndEndsNormally)
{
    ExpectCleanRun("execute_capture", {"-command", "sh -c 'echo out; exit 4'"}, {"4 out"});
}

// The program part of one command line is looked up among the linked files too.
TEST_F(DosExeTest, ALinkedProgramRunsFromEitherArgumentForm)
{
    ExpectCleanRun("linked_tool", {}, {"0 tool:A1", "0 tool:B2"});
}

// Type 61 is a registered object type: its handles have a type and carry data, and an
// operation still pending at the end is freed by the shut-down (the ASan build's leak
// check sees it otherwise).
TEST_F(DosExeTest, AnAsyncOperationIsAnObject)
{
    fs::create_directories(dir + "/src/sub");
    std::ofstream(dir + "/src/sub/a.txt") << "a";
    ExpectCleanRun("async_object", {"-from", dir + "/src", "-to", dir + "/dst"}, {"61 kept 61"});
}

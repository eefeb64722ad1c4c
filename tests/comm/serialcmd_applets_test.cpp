// Two runtime processes joined by a socat pseudo-terminal pair, each running an
// assembled applet that polls its serial port from an interval: the sender sends
// 100 KB in blocks of 4 KB, each acknowledged by the receiver, the receiver echoes it
// all back and the sender checks the echo. Both must end with exit code 0 within a
// minute. The applets' sources are in serialcmd_fixtures/ and the build makes their
// containers; each run gets its device as the user argument "-device PATH".
#include "tests/stop_budget.h"
#include <gtest/gtest.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace {

// A child process started with posix_spawn; killed and reaped by the destructor when
// still running.
struct lvChild {
    pid_t pid = -1;
    int status = -1;  // wait status once it ended

    // Starts argv[0] (searched in PATH) with standard output and error to outFd (or
    // /dev/null when -1). 0, ENOENT when the program is missing, or another errno.
    int Start(const std::vector<std::string> &argv, int outFd)
    {
        std::vector<char *> args;
        for (const std::string &a : argv) args.push_back(const_cast<char *>(a.c_str()));
        args.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        if (outFd >= 0) {
            posix_spawn_file_actions_adddup2(&actions, outFd, 1);
            posix_spawn_file_actions_adddup2(&actions, outFd, 2);
        }
        int r = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (r) pid = -1;
        return r;
    }
    // True once the process has ended (status then holds how).
    bool Ended()
    {
        if (pid < 0) return true;
        if (waitpid(pid, &status, WNOHANG) != pid) return false;
        pid = -1;
        return true;
    }
    ~lvChild()
    {
        if (pid > 0) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
    }
};

std::string ReadFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Starts socat with two pseudo-terminals and reads their paths from its messages
// ("... PTY is /dev/pts/N", one line per side). 1 started, 0 socat is missing, -1 failed.
// *messages keeps the pipe's reading end open (the caller closes it after socat ended):
// its later notices must not meet a closed pipe.
int StartSocat(lvChild *socat, std::string devices[2], std::string *log, int *messages)
{
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) return -1;
    int r = socat->Start({"socat", "-d", "-d", "pty,raw,echo=0", "pty,raw,echo=0"}, pipeFds[1]);
    close(pipeFds[1]);
    if (r) {
        close(pipeFds[0]);
        return r == ENOENT ? 0 : -1;
    }
    int found = 0;
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (found < 2 && std::chrono::steady_clock::now() < end) {
        pollfd p = {pipeFds[0], POLLIN, 0};
        if (poll(&p, 1, 100) <= 0) continue;
        char buffer[512];
        ssize_t n = read(pipeFds[0], buffer, sizeof buffer);
        if (n <= 0) break;
        log->append(buffer, (size_t)n);
        found = 0;
        for (size_t at = log->find("PTY is "); at != std::string::npos && found < 2; at = log->find("PTY is ", at + 1)) {
            size_t start = at + 7, stop = log->find('\n', start);
            if (stop == std::string::npos) break;
            devices[found++] = log->substr(start, stop - start);
        }
    }
    *messages = pipeFds[0];
    return found == 2 ? 1 : -1;
}

// Waits until the file holds text; false after milliseconds.
bool WaitForText(const std::string &path, const std::string &text, int milliseconds)
{
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    while (std::chrono::steady_clock::now() < end) {
        if (ReadFile(path).find(text) != std::string::npos) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

// True when every thread of the process sleeps ('S') in two looks 20 ms apart: the
// script thread has then gone from running instructions into its wait (which wakes
// briefly now and then to look at the stop request, so a look may also miss it).
bool AllThreadsAsleep(pid_t pid)
{
    for (int look = 0; look < 2; look++) {
        if (look) std::this_thread::sleep_for(std::chrono::milliseconds(20));
        std::string tasks = "/proc/" + std::to_string(pid) + "/task";
        DIR *dir = opendir(tasks.c_str());
        if (!dir) return false;
        bool asleep = true;
        while (dirent *entry = readdir(dir)) {
            if (entry->d_name[0] == '.') continue;
            std::string stat = ReadFile(tasks + "/" + entry->d_name + "/stat");
            size_t close = stat.rfind(')');
            if (close == std::string::npos || close + 2 >= stat.size() || stat[close + 2] != 'S') asleep = false;
        }
        closedir(dir);
        if (!asleep) return false;
    }
    return true;
}

// Milliseconds from a termination signal to the end of a child, at most limit (then -1).
long long MillisToEndAfterSignal(lvChild *child, int limit)
{
    auto start = std::chrono::steady_clock::now();
    kill(child->pid, SIGTERM);
    while (!child->Ended()) {
        long long took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
        if (took > limit) return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

// A socat pair of pseudo-terminals and a temporary directory for the runs' logs; the
// test is skipped without socat.
class SerialApplets : public ::testing::Test {
protected:
    lvChild socat;
    std::string devices[2], socatLog, dir;
    int socatMessages = -1;

    void SetUp() override
    {
        int started = StartSocat(&socat, devices, &socatLog, &socatMessages);
        if (started == 0) GTEST_SKIP() << "socat is not installed";
        ASSERT_EQ(started, 1) << "socat did not report its terminals: " << socatLog;
        char dirTemplate[] = "/tmp/lvserialcmdXXXXXX";
        ASSERT_NE(mkdtemp(dirTemplate), nullptr);
        dir = dirTemplate;
    }
    void TearDown() override
    {
        if (!dir.empty()) rmdir(dir.c_str());
        if (socat.pid > 0) kill(socat.pid, SIGTERM);
        while (!socat.Ended()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        if (socatMessages >= 0) close(socatMessages);
    }
};

TEST_F(SerialApplets, TwoRuntimesTransferAndEcho100KBOverSocat)
{
    // The sender reaches its end through a stable-name-length link (like the names under
    // /dev/serial/by-id), longer than a port record's 30 bytes.
    std::string link = dir + "/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0";
    ASSERT_GT(link.size(), 40u);
    ASSERT_EQ(symlink(devices[0].c_str(), link.c_str()), 0);
    devices[0] = link;

    // The sender starts first: what it could send before the receiver has its port open
    // would be discarded by that open, so the applets must wait for each other.
    const char *names[2] = {"sender", "receiver"};
    std::string logs[2];
    lvChild runs[2];
    for (int i = 0; i < 2; i++) {
        logs[i] = dir + "/" + names[i] + ".log";
        int fd = open(logs[i].c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        ASSERT_GE(fd, 0);
        std::string applet = std::string(LV_BUILD_DIR) + "/tests/comm/serialcmd_fixtures/" + names[i] + ".lva";
        int r = runs[i].Start({std::string(LV_BIN_DIR) + "/lumivarra", "-PRINTERROR", applet, "-device", devices[i]}, fd);
        close(fd);
        ASSERT_EQ(r, 0) << names[i];
        if (i == 0) std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    // Both must end with 0; one that fails ends the wait (its peer would wait for ever).
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    bool ended[2] = {false, false}, failed = false;
    while (!(ended[0] && ended[1]) && !failed && std::chrono::steady_clock::now() < end) {
        for (int i = 0; i < 2; i++) {
            if (ended[i] || !runs[i].Ended()) continue;
            ended[i] = true;
            failed = failed || !WIFEXITED(runs[i].status) || WEXITSTATUS(runs[i].status) != 0;
        }
        if (!(ended[0] && ended[1]) && !failed) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    for (int i = 0; i < 2; i++) {
        std::string output = ReadFile(logs[i]);
        if (!ended[i]) {
            ADD_FAILURE() << names[i] << " was still running after " << (failed ? "its peer failed" : "60 s")
                          << ": " << output;
            continue;
        }
        EXPECT_TRUE(WIFEXITED(runs[i].status)) << names[i] << " was killed: " << output;
        EXPECT_EQ(WEXITSTATUS(runs[i].status), 0) << names[i] << ": " << output;
    }
    for (const std::string &log : logs) unlink(log.c_str());
    unlink(link.c_str());
}

// Two runtimes over a socat pair, each blocked in ReadSerialData without a time-out on a
// silent line, and a third blocked writing 4 MB to a line whose far end reads nothing:
// a termination signal ends each of them within half a second, with the signal's exit
// code and without the blocked command returning.
TEST_F(SerialApplets, TerminationSignalEndsBlockedReadsAndWrites)
{
    struct Run {
        const char *applet, *marker;
        int device;
        std::string log;
        lvChild child;
    } runs[3] = {{"blocked_read", "waiting", 0, "", {}},
                 {"blocked_read", "waiting", 1, "", {}},
                 {"blocked_write", "writing", 1, "", {}}};
    for (int phase = 0; phase < 2; phase++) {
        // Phase 0: both ends read. Phase 1: the writer takes end 1 (its reader has ended)
        // while the test holds end 0 open and reads nothing.
        int holder = -1;
        if (phase == 1) {
            holder = open(devices[0].c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
            ASSERT_GE(holder, 0);
        }
        for (int i = phase == 0 ? 0 : 2; i < (phase == 0 ? 2 : 3); i++) {
            Run &r = runs[i];
            r.log = dir + "/" + std::to_string(i) + ".log";
            int fd = open(r.log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
            ASSERT_GE(fd, 0);
            std::string applet = std::string(LV_BUILD_DIR) + "/tests/comm/serialcmd_fixtures/" + r.applet + ".lva";
            ASSERT_EQ(r.child.Start({std::string(LV_BIN_DIR) + "/lumivarra", "-PRINTERROR", applet, "-device",
                                     devices[r.device]}, fd), 0);
            close(fd);
        }
        for (int i = phase == 0 ? 0 : 2; i < (phase == 0 ? 2 : 3); i++) {
            Run &r = runs[i];
            ASSERT_TRUE(WaitForText(r.log, r.marker, 20000)) << i << ": " << ReadFile(r.log);
            auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
            bool asleep = false;
            while (!(asleep = AllThreadsAsleep(r.child.pid)) && std::chrono::steady_clock::now() < end) {}
            ASSERT_TRUE(asleep) << i << " never blocked";
            long long took = MillisToEndAfterSignal(&r.child, 5000);
            std::string output = ReadFile(r.log);
            EXPECT_GE(took, 0) << i << " (" << r.applet << ") did not end after the signal";
            EXPECT_LT(took, kStopBudgetMs) << i << " (" << r.applet << ")";
            EXPECT_TRUE(WIFEXITED(r.child.status) && WEXITSTATUS(r.child.status) == 128 + SIGTERM)
                << i << ": " << r.child.status << " " << output;
            EXPECT_EQ(output.find("returned"), std::string::npos) << i << ": " << output;
        }
        if (holder >= 0) close(holder);
    }
    for (Run &r : runs) unlink(r.log.c_str());
}

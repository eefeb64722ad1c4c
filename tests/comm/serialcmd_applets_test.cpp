// Two runtime processes joined by a socat pseudo-terminal pair, each running an
// assembled applet that polls its serial port from an interval: the sender sends
// 100 KB in blocks of 4 KB, each acknowledged by the receiver, the receiver echoes it
// all back and the sender checks the echo. Both must end with exit code 0 within a
// minute. The applets' sources are in serialcmd_fixtures/ and the build makes their
// containers; each run gets its device as the user argument "-device PATH".
#include <gtest/gtest.h>
#include <cerrno>
#include <chrono>
#include <csignal>
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

}  // namespace

TEST(SerialApplets, TwoRuntimesTransferAndEcho100KBOverSocat)
{
    lvChild socat;
    std::string devices[2], socatLog;
    int socatMessages = -1;
    int started = StartSocat(&socat, devices, &socatLog, &socatMessages);
    if (started == 0) GTEST_SKIP() << "socat is not installed";
    ASSERT_EQ(started, 1) << "socat did not report its terminals: " << socatLog;

    char dirTemplate[] = "/tmp/lvserialcmdXXXXXX";
    ASSERT_NE(mkdtemp(dirTemplate), nullptr);
    std::string dir = dirTemplate;

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
    rmdir(dir.c_str());
    if (socat.pid > 0) kill(socat.pid, SIGTERM);
    while (!socat.Ended()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    close(socatMessages);
}

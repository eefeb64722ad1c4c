// Runtime processes running the assembled applets of network_fixtures/ through
// build/bin/lumivarra: a server and a client exchanging 4 MiB of every byte value in
// blocks and lines over 127.0.0.1 and 200 datagrams plus an empty one (both must end
// with exit code 0); and a runtime blocked in ReceiveData or in a connect that a
// termination signal ends within half a second.
#include "tests/stop_budget.h"
#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <vector>

#include "tests/comm/network_support.h"

extern char **environ;

namespace {

// A runtime process whose standard output and error come through a pipe.
struct RuntimeRun {
    pid_t pid = -1;
    int output = -1;  // reading end
    int status = -1;
    std::string text;  // what came so far

    bool Start(const std::string &applet, const std::vector<std::string> &userArgs)
    {
        std::vector<std::string> argv = {std::string(LV_BIN_DIR) + "/lumivarra", "-PRINTERROR",
                                         std::string(LV_BUILD_DIR) + "/tests/comm/network_fixtures/" + applet + ".lva"};
        argv.insert(argv.end(), userArgs.begin(), userArgs.end());
        std::vector<char *> args;
        for (std::string &a : argv) args.push_back(a.data());
        args.push_back(nullptr);
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0) return false;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
        posix_spawn_file_actions_adddup2(&actions, fds[1], 2);
        int r = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        close(fds[1]);
        output = fds[0];
        if (r) pid = -1;
        return r == 0;
    }
    // Reads output until it holds marker (true) or the milliseconds passed.
    bool WaitFor(const std::string &marker, int milliseconds)
    {
        auto start = std::chrono::steady_clock::now();
        while (text.find(marker) == std::string::npos) {
            int left = milliseconds - (int)MillisecondsSince(start);
            if (left <= 0) return false;
            pollfd p = {output, POLLIN, 0};
            if (poll(&p, 1, left) != 1) return false;
            char buffer[4096];
            ssize_t n = read(output, buffer, sizeof buffer);
            if (n <= 0) return false;
            text.append(buffer, (size_t)n);
        }
        return true;
    }
    // Waits for the end (bounded); true when it ended.
    bool WaitEnd(int milliseconds)
    {
        auto start = std::chrono::steady_clock::now();
        while (MillisecondsSince(start) < milliseconds) {
            if (waitpid(pid, &status, WNOHANG) == pid) {
                pid = -1;
                char buffer[4096];
                ssize_t n;
                while ((n = read(output, buffer, sizeof buffer)) > 0) text.append(buffer, (size_t)n);
                return true;
            }
            pollfd p = {output, POLLIN, 0};
            if (poll(&p, 1, 5) == 1) {
                char buffer[4096];
                ssize_t n = read(output, buffer, sizeof buffer);
                if (n > 0) text.append(buffer, (size_t)n);
            }
        }
        return false;
    }
    bool ExitedWith(int code) const { return WIFEXITED(status) && WEXITSTATUS(status) == code; }
    ~RuntimeRun()
    {
        if (pid > 0) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
        if (output >= 0) close(output);
    }
};

TEST(NetworkApplets, ServerAndClientExchangeBlocksLinesAndDatagrams)
{
    RuntimeRun server, client;
    ASSERT_TRUE(server.Start("server", {}));
    ASSERT_TRUE(server.WaitFor("\n", 20000)) << server.text;
    int tcp = 0, udp = 0;
    size_t at = server.text.find("PORT ");
    ASSERT_NE(at, std::string::npos) << server.text;
    ASSERT_EQ(sscanf(server.text.c_str() + at, "PORT %d %d", &tcp, &udp), 2) << server.text;

    // The empty datagram comes from here: SendUDPData refuses empty data.
    ASSERT_TRUE(SendEmptyDatagram(udp));

    ASSERT_TRUE(client.Start("client", {"-port", std::to_string(tcp), "-udp", std::to_string(udp)}));
    bool clientEnded = client.WaitEnd(120000);
    bool serverEnded = server.WaitEnd(clientEnded ? 20000 : 1);
    ASSERT_TRUE(clientEnded) << "client: " << client.text << "\nserver: " << server.text;
    EXPECT_TRUE(client.ExitedWith(0)) << client.status << ": " << client.text;
    ASSERT_TRUE(serverEnded) << server.text;
    EXPECT_TRUE(server.ExitedWith(0)) << server.status << ": " << server.text;
}

TEST(NetworkApplets, ATerminationSignalEndsABlockedWait)
{
    for (const char *step : {"receive", "connect"}) {
        SCOPED_TRACE(step);
        TestListener listener(0);
        int fillers[4];
        bool connect = std::string(step) == "connect";
        // A full accept queue: the runtime's connect hangs.
        for (int &f : fillers) f = connect ? StartLoopbackConnect(listener.port) : -1;
        RuntimeRun run;
        ASSERT_TRUE(run.Start("blocker", {"-port", std::to_string(listener.port), "-step", step}));
        ASSERT_TRUE(run.WaitFor("WAITING", 20000)) << run.text;
        int peer = connect ? -1 : listener.Accept();
        if (!connect) ASSERT_GE(peer, 0);
        // Give the runtime a moment to enter its wait; the signal ends it either way.
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        auto start = std::chrono::steady_clock::now();
        kill(run.pid, SIGTERM);
        EXPECT_TRUE(run.WaitEnd(5000)) << run.text;
        EXPECT_LT(MillisecondsSince(start), kStopBudgetMs) << run.text;
        EXPECT_FALSE(run.ExitedWith(5)) << run.text;  // the wait did not simply end by itself
        if (peer >= 0) close(peer);
        for (int f : fillers)
            if (f >= 0) close(f);
    }
}

}  // namespace

// A runtime process (build/bin/lumivarra, or a peer program) running an assembled applet of the build's
// tests/comm folders, its standard output and error read through a pipe with bounded waits.
#pragma once
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "tests/comm/network_support.h"

extern char **environ;

// A runtime process whose standard output and error come through a pipe.
struct RuntimeRun {
    pid_t pid = -1;
    int output = -1;  // reading end
    int status = -1;
    std::string text;  // what came so far
    std::string folder = "network_fixtures";  // below build/tests/comm

    bool Start(const std::string &applet, const std::vector<std::string> &userArgs)
    {
        std::vector<std::string> argv = {std::string(LV_BIN_DIR) + "/lumivarra", "-PRINTERROR",
                                         std::string(LV_BUILD_DIR) + "/tests/comm/" + folder + "/" + applet + ".lva"};
        argv.insert(argv.end(), userArgs.begin(), userArgs.end());
        return Spawn(argv);
    }
    // Any program (a peer the test starts), its output read the same way.
    bool Spawn(std::vector<std::string> argv)
    {
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

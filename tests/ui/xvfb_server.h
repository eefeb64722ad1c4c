// xvfb_server.h - starts a private X server for tests that need a real one.
//
// Xvfb picks a free display number and writes it to the pipe given by -displayfd, so
// tests running at once never share a server.
#pragma once
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

// The server's process (display gets ":N"), or -1 when it did not come up within 15 s.
// screen is Xvfb's "WIDTHxHEIGHTxDEPTH".
inline pid_t StartXvfb(std::string *display, const char *screen)
{
    int fds[2];
    if (pipe(fds) != 0) return -1;
    pid_t pid = fork();
    if (pid == 0) {
        int devnull = open("/dev/null", O_RDWR);
        dup2(devnull, 0);
        dup2(devnull, 1);
        dup2(devnull, 2);
        std::string fd = std::to_string(fds[1]);
        execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", screen, "-nolisten", "tcp", (char *)nullptr);
        _exit(127);
    }
    close(fds[1]);
    std::string number;
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (number.find('\n') == std::string::npos && std::chrono::steady_clock::now() < end) {
        struct pollfd p = {fds[0], POLLIN, 0};
        if (poll(&p, 1, 100) <= 0) continue;
        char c[16];
        ssize_t got = read(fds[0], c, sizeof c);
        if (got <= 0) break;
        number.append(c, (size_t)got);
    }
    close(fds[0]);
    if (number.find('\n') == std::string::npos) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        return -1;
    }
    *display = ":" + number.substr(0, number.find('\n'));
    return pid;
}

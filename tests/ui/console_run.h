// console_run.h - runs the runtime executable on a console applet over pipes (standard
// input given, standard output collected as bytes) or on a pseudo-terminal that the test
// types into.
#pragma once
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <string>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

inline std::string ConsoleApplet(const std::string &stem)
{
    return std::string(LV_BUILD_DIR) + "/tests/ui/console/" + stem + ".lva";
}

struct PipeRun {
    int exitCode = -1;  // -1 when the process did not exit by itself
    std::string out;    // standard output, bytes as written
};

// Runs the runtime with the arguments, feeding input on standard input, for at most 20 s.
// With newSession the runtime runs in a session of its own without a controlling
// terminal.
inline PipeRun RunOverPipes(const std::vector<std::string> &args, const std::string &input, bool newSession = false)
{
    PipeRun run;
    int in[2], out[2];
    if (pipe(in) != 0 || pipe(out) != 0) return run;
    pid_t pid = fork();
    if (pid == 0) {
        if (newSession) setsid();
        dup2(in[0], 0);
        dup2(out[1], 1);
        int null = open("/dev/null", O_WRONLY);
        dup2(null, 2);
        close(in[1]);
        close(out[0]);
        std::vector<char *> argv;
        std::string bin = std::string(LV_BIN_DIR) + "/lumivarra";
        argv.push_back(const_cast<char *>(bin.c_str()));
        for (const std::string &a : args) argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    signal(SIGPIPE, SIG_IGN);
    size_t written = 0;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    int writeFd = in[1];
    if (input.empty()) {
        close(writeFd);
        writeFd = -1;
    }
    for (;;) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            break;
        }
        struct pollfd fds[2] = {{out[0], POLLIN, 0}, {writeFd, POLLOUT, 0}};
        int n = poll(fds, writeFd >= 0 ? 2 : 1, 100);
        if (n <= 0) continue;
        if (writeFd >= 0 && (fds[1].revents & (POLLOUT | POLLERR))) {
            ssize_t w = write(writeFd, input.data() + written, input.size() - written);
            if (w > 0) written += static_cast<size_t>(w);
            if (w < 0 || written == input.size()) {
                close(writeFd);
                writeFd = -1;
            }
        }
        if (fds[0].revents & (POLLIN | POLLHUP)) {
            char buffer[4096];
            ssize_t r = read(out[0], buffer, sizeof buffer);
            if (r <= 0) break;
            run.out.append(buffer, static_cast<size_t>(r));
        }
    }
    if (writeFd >= 0) close(writeFd);
    close(out[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

// The runtime on a pseudo-terminal: the test reads what it shows and types into it.
struct PtyRun {
    pid_t pid = -1;
    int master = -1;
    std::string slaveName;
    std::string seen;  // everything read from the terminal so far

    bool Start(const std::vector<std::string> &args, const std::vector<std::string> &env = {})
    {
        struct winsize size = {24, 80, 0, 0};
        char name[256] = {};
        pid = forkpty(&master, name, nullptr, &size);
        if (pid < 0) return false;
        if (pid == 0) {
            for (const std::string &e : env) putenv(const_cast<char *>(e.c_str()));
            std::vector<char *> argv;
            std::string bin = std::string(LV_BIN_DIR) + "/lumivarra";
            argv.push_back(const_cast<char *>(bin.c_str()));
            for (const std::string &a : args) argv.push_back(const_cast<char *>(a.c_str()));
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
        slaveName = name;
        return true;
    }

    // Reads until text has been seen (after position from) or the time runs out.
    bool WaitFor(const std::string &text, int ms = 10000, size_t from = 0)
    {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (seen.find(text, from) == std::string::npos) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            struct pollfd fd = {master, POLLIN, 0};
            if (poll(&fd, 1, 50) > 0) {
                char buffer[4096];
                ssize_t r = read(master, buffer, sizeof buffer);
                if (r <= 0) return seen.find(text, from) != std::string::npos;
                seen.append(buffer, static_cast<size_t>(r));
            }
        }
        return true;
    }

    void Type(const std::string &text) { (void)!write(master, text.data(), text.size()); }

    // The terminal's mode as the runtime left it, through the slave side.
    bool Mode(struct termios *mode) const
    {
        int fd = open(slaveName.c_str(), O_RDWR | O_NOCTTY);
        if (fd < 0) return false;
        bool ok = tcgetattr(fd, mode) == 0;
        close(fd);
        return ok;
    }

    // Waits for the exit (at most ms); the exit code, or -1.
    int Wait(int ms = 10000)
    {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        int status = 0;
        while (waitpid(pid, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) {
                kill(pid, SIGKILL);
                waitpid(pid, &status, 0);
                pid = -1;
                return -1;
            }
            WaitFor("\x01\x02never", 20, seen.size());
        }
        pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    ~PtyRun()
    {
        if (pid > 0) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
        if (master >= 0) close(master);
    }
};

inline bool SameMode(const struct termios &a, const struct termios &b)
{
    return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag && a.c_lflag == b.c_lflag &&
           std::memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) == 0;
}

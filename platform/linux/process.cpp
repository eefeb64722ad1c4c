// process.cpp - starting external programs and the body of the program job thread.
//
// Programs start with posix_spawn (posix_spawnp for a bare name). The runtime's own
// descriptors are all close-on-exec, so a child inherits only the three standard
// streams that the file actions set up. The spawn runs under the environment lock,
// so the environment it copies is never half-changed by a SetEnvVar on another thread.
// The job thread waits with poll() on the output pipe, a pidfd of the child (when
// the kernel has them; else a 10 ms tick) and the thread's stop signal, so stopping
// a job never waits for its program.
// Depends on: threads.cpp (stop signal), sysservices.cpp (environment lock),
// text.cpp (script text to system text).
// Limits: arguments are split by SplitArgumentText (no shell syntax: no pipes,
// redirections or variables); a verb only routes the target to xdg-open.
#include "platform/lvplatform.h"
#include "base/lverrors.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char **environ;

// ---- Argument texts ---------------------------------------------------------------

int SplitArgumentText(const char *text, char **words)
{
    *words = nullptr;
    std::string out;
    int count = 0;
    const char *p = text ? text : "";
    for (;;) {
        while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r') p++;
        if (!*p) break;
        char quote = 0;
        while (*p) {
            char c = *p;
            if (quote == '\'') {
                // Single quotes keep everything up to the next one as it stands.
                if (c == '\'') quote = 0;
                else out += c;
                p++;
                continue;
            }
            if (c == '\\') {
                // Backslashes are plain characters (paths may hold them) unless a quote
                // follows: then each pair gives one and an odd one makes the quote plain.
                size_t run = 0;
                while (p[run] == '\\') run++;
                if (p[run] == '"' || p[run] == '\'') {
                    out.append(run / 2, '\\');
                    p += run;
                    if (run % 2) out += *p++;
                } else {
                    out.append(run, '\\');
                    p += run;
                }
                continue;
            }
            if (c == '"') {
                quote = quote ? 0 : '"';
                p++;
            } else if (c == '\'' && !quote) {
                quote = '\'';
                p++;
            } else if (!quote && (c == ' ' || c == '\t' || c == '\n' || c == '\r')) {
                break;
            } else {
                out += c;
                p++;
            }
        }
        if (quote) return -1;
        out += '\0';
        count++;
    }
    if (!count) return 0;
    char *block = (char *)AllocMemory(out.size(), 0);
    if (!block) return -2;
    std::memcpy(block, out.data(), out.size());
    *words = block;
    return count;
}

// ---- Spawning ---------------------------------------------------------------------------

// The system form of a program and its argument vector.
struct lvSpawnPlan {
    std::string program;            // path or bare name, system text
    std::vector<std::string> argv;  // argv[0] is the program
    std::string directory;          // working directory, system text, or empty
    bool searchPath;                // bare name: searched on PATH
};

// Fills the plan; 0, ERR_TEXTCONVERT or ERR_MEM. With shell set the target goes to
// xdg-open as its one argument.
static int MakeSpawnPlan(const char *program, const char *arguments, const char *directory, bool shell,
                         lvSpawnPlan *plan)
{
    char system[LV_PATH_SIZE];
    if (!std::strpbrk(program, "/\\~")) {
        // A bare name is looked up on PATH, not matched against the current folder.
        if (!TextToSystem(program, system, sizeof system, 0) || !system[0]) return ERR_TEXTCONVERT;
    } else if (!ToSystemPath(program, system, sizeof system, 1) || !system[0]) {
        return ERR_TEXTCONVERT;
    }
    plan->argv.clear();
    if (shell) {
        plan->program = "xdg-open";
        plan->searchPath = true;
        plan->argv.push_back("xdg-open");
        plan->argv.push_back(system);
    } else {
        plan->program = system;
        plan->searchPath = std::strchr(system, '/') == nullptr;
        plan->argv.push_back(system);
        if (arguments && arguments[0]) {
            char *converted = DupTextToSystem(arguments, 0);
            if (!converted) return ERR_TEXTCONVERT;
            char *words = nullptr;
            int count = SplitArgumentText(converted, &words);
            FreeMemory(converted);
            if (count == -2) return ERR_MEM;
            // An unclosed quote keeps the rest of the text as one word rather than
            // losing it; the command layer has refused such a text already.
            if (count < 0) plan->argv.push_back(arguments);
            const char *w = words;
            for (int i = 0; i < count; i++) {
                plan->argv.push_back(w);
                w += std::strlen(w) + 1;
            }
            FreeMemory(words);
        }
    }
    plan->directory.clear();
    if (directory && directory[0]) {
        if (!ToSystemPath(directory, system, sizeof system, 1)) return ERR_TEXTCONVERT;
        plan->directory = system;
    }
    return 0;
}

// True when the path names a regular file this process may execute.
static bool IsExecutableFile(const std::string &path, bool searchPath)
{
    if (searchPath) return true;  // found by posix_spawnp or not at all
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0;
}

// Standard streams of a child: -1 keeps the runtime's own.
struct lvChildStreams {
    int input;   // descriptor for the child's standard input, or -1
    int output;  // descriptor for its standard output and error output, or -1
};

// Spawns the plan; 0 with *pid, or the errno of the failure.
static int SpawnPlan(const lvSpawnPlan &plan, const lvChildStreams &streams, pid_t *pid)
{
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    if (posix_spawn_file_actions_init(&actions) != 0) return ENOMEM;
    if (posix_spawnattr_init(&attr) != 0) {
        posix_spawn_file_actions_destroy(&actions);
        return ENOMEM;
    }
    int rc = 0;
    if (streams.input >= 0) rc = rc ? rc : posix_spawn_file_actions_adddup2(&actions, streams.input, 0);
    if (streams.output >= 0) {
        rc = rc ? rc : posix_spawn_file_actions_adddup2(&actions, streams.output, 1);
        rc = rc ? rc : posix_spawn_file_actions_adddup2(&actions, streams.output, 2);
    }
    if (!plan.directory.empty())
        rc = rc ? rc : posix_spawn_file_actions_addchdir_np(&actions, plan.directory.c_str());
    // The child starts with default signal handling (the runtime ignores SIGPIPE) and
    // an empty signal mask, whatever thread spawns it.
    sigset_t defaults, empty;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigemptyset(&empty);
    rc = rc ? rc : posix_spawnattr_setsigdefault(&attr, &defaults);
    rc = rc ? rc : posix_spawnattr_setsigmask(&attr, &empty);
    rc = rc ? rc : posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    if (!rc) {
        std::vector<char *> argv;
        for (const std::string &a : plan.argv) argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        LockEnvironment();
        rc = plan.searchPath ? posix_spawnp(pid, plan.program.c_str(), &actions, &attr, argv.data(), environ)
                             : posix_spawn(pid, plan.program.c_str(), &actions, &attr, argv.data(), environ);
        UnlockEnvironment();
    }
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    return rc;
}

// Waits for a child without limit; its exit code (128 + signal when killed).
static int WaitForChild(pid_t pid)
{
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return LV_EXIT_NOT_STARTED;
    }
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return 0;
}

// Reaps a child that nobody waits for, so it leaves no zombie.
static void ReapInBackground(pid_t pid)
{
    try {
        std::thread([pid] { WaitForChild(pid); }).detach();
    } catch (...) {
        // No thread: the child stays a zombie until the runtime ends; nothing is lost.
    }
}

// Starts a program the way RunProgram does; 0 with *pid (-1 when it could not be
// executed), or an error code.
static int StartShellStyle(const char *program, const char *arguments, const char *directory, const char *verb,
                           int flags, const lvChildStreams &streams, pid_t *pid)
{
    *pid = -1;
    if (directory && directory[0]) {
        char system[LV_PATH_SIZE];
        struct stat st;
        if (!ToSystemPath(directory, system, sizeof system, 1)) return ERR_TEXTCONVERT;
        if (stat(system, &st) != 0 || !S_ISDIR(st.st_mode)) return ERR_LOCK2;
    }
    lvSpawnPlan plan;
    int rc = MakeSpawnPlan(program, arguments, directory, false, &plan);
    if (rc) return rc;
    bool shell = !(flags & LV_RUN_CONSOLEMODE) && ((verb && verb[0]) || !IsExecutableFile(plan.program, plan.searchPath));
    if (shell) {
        rc = MakeSpawnPlan(program, nullptr, directory, true, &plan);
        if (rc) return rc;
    }
    if (SpawnPlan(plan, streams, pid) != 0) *pid = -1;
    return 0;
}

int RunProgram(const char *program, const char *arguments, const char *directory, const char *verb, int flags)
{
    pid_t pid;
    lvChildStreams streams = {-1, -1};
    int rc = StartShellStyle(program, arguments, directory, verb, flags, streams, &pid);
    if (rc || pid < 0) return rc;
    if (flags & LV_RUN_NOWAIT) ReapInBackground(pid);
    else WaitForChild(pid);
    return 0;
}

// ---- The program job thread --------------------------------------------------------------

// A descriptor that becomes readable when the child ends, or -1 without pidfds.
static int OpenProcessDescriptor(pid_t pid)
{
#ifdef SYS_pidfd_open
    long fd = syscall(SYS_pidfd_open, pid, 0);
    if (fd >= 0) {
        fcntl((int)fd, F_SETFD, FD_CLOEXEC);
        return (int)fd;
    }
#endif
    return -1;
}

// The child's exit code when it has ended (reaped now), else -1.
static int TryReapChild(pid_t pid)
{
    int status = 0;
    pid_t r;
    do {
        r = waitpid(pid, &status, WNOHANG);
    } while (r < 0 && errno == EINTR);
    if (r == 0) return -1;
    if (r < 0) return LV_EXIT_NOT_STARTED;  // not our child any more: nothing to wait for
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return 0;
}

// Reads what the pipe holds now and hands it over in chunks; false at end of file.
static bool ForwardOutput(int fd, const lvProgramHandlers *handlers)
{
    uint8_t buffer[65536];
    for (;;) {
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n > 0) {
            handlers->Output(handlers->context, buffer, (size_t)n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
    }
}

static void WaitForStop(lvThread *thread)
{
    while (!CheckThreadStop(thread)) {
        struct pollfd p = {GetSignalDescriptor(thread->stopSignal), POLLIN, 0};
        poll(&p, 1, -1);
    }
}

int RunProgramWithPipes(const lvProgramStart *start, const lvProgramHandlers *handlers, lvThread *thread)
{
    int outPipe[2] = {-1, -1}, inPipe[2] = {-1, -1};
    pid_t pid = -1;
    if (start->pipes) {
        if (pipe2(outPipe, O_CLOEXEC) != 0 || pipe2(inPipe, O_CLOEXEC) != 0) {
            for (int fd : {outPipe[0], outPipe[1], inPipe[0], inPipe[1]})
                if (fd >= 0) close(fd);
            EndThread(thread, 1, ERR_MEM);
            return 0;
        }
        fcntl(outPipe[0], F_SETFL, O_NONBLOCK);
        lvSpawnPlan plan;
        int rc = MakeSpawnPlan(start->program, start->arguments, start->directory, false, &plan);
        if (!rc) {
            // A document without arguments goes to the program the desktop has for it.
            if ((!start->arguments || !start->arguments[0]) && !IsExecutableFile(plan.program, plan.searchPath))
                rc = MakeSpawnPlan(start->program, nullptr, start->directory, true, &plan);
        }
        if (!rc) {
            lvChildStreams streams = {inPipe[0], outPipe[1]};
            if (SpawnPlan(plan, streams, &pid) != 0) pid = -1;
        }
        // The child holds its own ends now. Our end of its input closes at once, so a
        // program that reads its input sees the end instead of waiting forever.
        close(outPipe[1]);
        close(inPipe[0]);
        close(inPipe[1]);
        if (rc) {
            close(outPipe[0]);
            EndThread(thread, 1, rc);
            return 0;
        }
    } else {
        lvChildStreams streams = {-1, -1};
        int rc = StartShellStyle(start->program, start->arguments, start->directory, start->verb, start->flags,
                                 streams, &pid);
        if (rc) {
            EndThread(thread, 1, rc);
            return 0;
        }
    }
    SignalThreadStarted(thread);
    if (pid < 0) {
        if (outPipe[0] >= 0) close(outPipe[0]);
        handlers->Ended(handlers->context, LV_EXIT_NOT_STARTED);
        WaitForStop(thread);
        EndThread(thread, 0, 0);
        return 1;
    }
    int processFd = OpenProcessDescriptor(pid);
    int outputFd = outPipe[0];
    int exitCode = -1;
    while (!CheckThreadStop(thread)) {
        struct pollfd p[3];
        int n = 0;
        p[n++] = {GetSignalDescriptor(thread->stopSignal), POLLIN, 0};
        int processSlot = -1, outputSlot = -1;
        if (processFd >= 0) {
            processSlot = n;
            p[n++] = {processFd, POLLIN, 0};
        }
        if (outputFd >= 0) {
            outputSlot = n;
            p[n++] = {outputFd, POLLIN, 0};
        }
        int timeout = processFd >= 0 ? -1 : 10;
        if (poll(p, n, timeout) < 0 && errno != EINTR) timeout = 10;
        if (outputSlot >= 0 && (p[outputSlot].revents & (POLLIN | POLLHUP | POLLERR))) {
            if (!ForwardOutput(outputFd, handlers)) {
                // End of file: every writer closed it. The program may still run.
                close(outputFd);
                outputFd = -1;
            }
        }
        if (processSlot >= 0 && !(p[processSlot].revents & POLLIN) && outputFd >= 0) continue;
        exitCode = TryReapChild(pid);
        if (exitCode < 0) continue;
        if (outputFd >= 0) {
            ForwardOutput(outputFd, handlers);
            close(outputFd);
            outputFd = -1;
        }
        handlers->Ended(handlers->context, exitCode);
        break;
    }
    if (outputFd >= 0) close(outputFd);
    if (processFd >= 0) close(processFd);
    // A stopped job leaves its program running; someone must still reap it.
    if (exitCode < 0) ReapInBackground(pid);
    WaitForStop(thread);
    EndThread(thread, 0, 0);
    return 1;
}

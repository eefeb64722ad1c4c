// events_run.h - runs the runtime executable on an applet for the event tests: its exit
// code, standard output line by line and standard error.
#pragma once
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

struct AppletRun {
    int exitCode;                    // the process's exit code, -1 when it did not exit normally
    std::vector<std::string> lines;  // standard output, line by line
    std::string err;                 // standard error
};

inline std::string ReadAll(FILE *file)
{
    std::string text;
    char buffer[4096];
    size_t got;
    while ((got = fread(buffer, 1, sizeof(buffer), file)) > 0) text.append(buffer, got);
    return text;
}

// Runs the shell command line (a runtime and its applet, standard input from /dev/null
// added here) and collects what it printed.
inline AppletRun RunRuntimeCommand(const std::string &command)
{
    char errName[] = "/tmp/lv_events_run_XXXXXX";
    int errFile = mkstemp(errName);
    AppletRun run = {-1, {}, ""};
    if (errFile < 0) return run;
    FILE *out = popen((command + " 2>" + errName + " </dev/null").c_str(), "r");
    if (out) {
        std::istringstream lines(ReadAll(out));
        int status = pclose(out);
        run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        for (std::string line; std::getline(lines, line);) run.lines.push_back(line);
    }
    if (FILE *err = fdopen(errFile, "r")) {
        run.err = ReadAll(err);
        fclose(err);
    }
    unlink(errName);
    return run;
}

// integ_run_util.h - what the tests that run the built executables share: the result of a
// run, reading a whole file, and quoting a word for the shell.
#pragma once
#include <fstream>
#include <sstream>
#include <string>

// One run of a program.
struct RunResult {
    int exitCode;     // the process's exit code, or -1 when it did not exit normally
    std::string out;  // standard output
    std::string err;  // standard error
};

// The word in single quotes, quotes inside it escaped.
inline std::string Quote(const std::string &text)
{
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'') quoted += "'\\''";
        else quoted += c;
    }
    return quoted + "'";
}

// The whole file ("" when it cannot be read).
inline std::string ReadFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

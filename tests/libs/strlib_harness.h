// strlib_harness.h - calls the string library's commands the way a script
// does: the command is looked up as a global by its lower-case name and called
// from an assembled chunk, so the machine's call instruction hands an answered
// error code to the runtime's error handling (installed as the machine's host). Results come back as one line of text
// ("'cdef' 3", "{'a' ''} 2", "error 1055", "error 1588@2" with the argument
// index of argument errors), so case tables stay one row a case.
#pragma once
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "vm/lvvm.h"

// One argument as the test writes it.
struct lvTestArg {
    enum Kind { NUMBER, STRING, NIL, TABLE, GLOBAL, NATIVE, POINTER };
    Kind kind = NIL;                  // what to push
    double number = 0;                // NUMBER
    std::string text;                 // STRING, or the name of a GLOBAL
    std::vector<lvTestArg> keys;      // TABLE: keys, one per value
    std::vector<lvTestArg> values;    // TABLE: values
    lvCommandFunction native = nullptr;  // NATIVE: pushed as a function

    lvTestArg() = default;
    lvTestArg(int n) : kind(NUMBER), number(n) {}
    lvTestArg(double n) : kind(NUMBER), number(n) {}
    lvTestArg(const char *s) : kind(STRING), text(s) {}
    lvTestArg(std::string s) : kind(STRING), text(std::move(s)) {}
};

lvTestArg NilArg();
// A list with its items at 0, 1, 2, ...
lvTestArg ListArg(std::vector<lvTestArg> items);
// A table of named fields.
lvTestArg FieldsArg(std::vector<std::pair<const char *, lvTestArg>> fields);
// The value of a global variable (a script function a fixture defined).
lvTestArg GlobalArg(const char *name);
lvTestArg NativeArg(lvCommandFunction f);
// A raw pointer value (light userdata) with the address n.
lvTestArg PointerArg(double n);

// One row of a case table.
struct lvCommandCase {
    const char *command;                // the command's name as scripts spell it
    std::vector<lvTestArg> args;        // its arguments
    const char *expected;               // the rendered answer (in both modes unless bytesExpected)
    const char *bytesExpected = nullptr;  // the answer when the default encoding is bytes
};

class StringLibTest : public ::testing::Test {
protected:
    lvState *L = nullptr;
    void SetUp() override;
    void TearDown() override;
    // Default encoding of the library's commands and the run's encoding: UTF-8 or ISO-8859-1.
    void SetUtf8Mode(bool utf8);
    // Calls the command and renders its results or its error.
    std::string Call(const char *command, const std::vector<lvTestArg> &args);
    // Runs every row in UTF-8 mode, then in byte mode.
    void RunCases(const std::vector<lvCommandCase> &cases);
    // Loads and runs an assembled chunk of the build tree (tests/libs/strlib_fixtures/NAME.lvc);
    // answers the rendered results or the error, like Call.
    std::string RunFixture(const char *name);
    void SetGlobalNumber(const char *name, double value);
    void SetGlobalString(const char *name, const std::string &value);
    // Renders the values from index first to the top, then drops them.
    std::string RenderResults(int first);
};

// corelib2_harness.h - a machine with the math, table, memblock, time and system
// libraries opened as start-up opens them, and calls of their registered globals
// through the stack interface with arguments from a compact list.
#pragma once
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "vm/lvvm.h"

// One argument of a call: a number, a text, nil, a light pointer or a stack copy.
struct CoreArg {
    enum Kind { NUMBER, TEXT, NIL, POINTER, STACK } kind;  // what to push
    double number;                                          // NUMBER; STACK: the index copied
    std::string text;                                       // TEXT
    void *pointer;                                          // POINTER
    CoreArg(double n) : kind(NUMBER), number(n), pointer(nullptr) {}
    CoreArg(int n) : kind(NUMBER), number(n), pointer(nullptr) {}
    CoreArg(const char *s) : kind(TEXT), number(0), text(s), pointer(nullptr) {}
    CoreArg(Kind k, double n = 0, void *p = nullptr) : kind(k), number(n), pointer(p) {}
};
inline CoreArg Nil() { return CoreArg(CoreArg::NIL); }
inline CoreArg Ptr(void *p) { return CoreArg(CoreArg::POINTER, 0, p); }
inline CoreArg At(int index) { return CoreArg(CoreArg::STACK, index); }

class CoreLibTest : public ::testing::Test {
protected:
    lvState *L = nullptr;
    std::string printed;  // what DumpMem and other commands printed
    void SetUp() override;
    void TearDown() override;
    // Calls the global command in a protected call, leaving the values at and below keep
    // in place and all results above them. Answers the status (0 or the error code).
    int Call(const char *name, const std::vector<CoreArg> &args, int keep = 0);
    // Result i (1-based) of the last call.
    double Num(int i);
    std::string Str(int i);
    int Results() { return GetStackTop(L) - kept; }
    // Loads and runs an assembled fixture chunk; all results stay on the stack.
    int RunChunk(const char *stem);
    int kept = 0;

public:
    // Call with two numbers from another thread's test body; the status.
    int CallFromThread(const char *name, double a, double b) { return Call(name, {a, b}); }
    int RunChunkFromThread(const char *stem) { return RunChunk(stem); }
};

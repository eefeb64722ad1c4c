// vm_test_util.h - shared fixture of the machine's tests: a fresh machine per
// test, chunks assembled from text with the assembler kit, and a few probe
// commands. LV_VM_TORTURE=1 collects at every collection point and
// LV_VM_MOVESTACK=1 moves stacks on every grow or shrink, for the whole suite.
#pragma once
#include <gtest/gtest.h>

#include <ctime>
#include <string>
#include <vector>

#include "tools/lvasm/lvasm.h"
#include "vm/lvobject.h"
#include "vm/lvvm.h"

uint64_t GetVMProcessBytes();

// The calling thread's CPU clock, and a clock's reading in nanoseconds (stop-request
// tests measure the script's own CPU time, not wall time on a loaded machine).
clockid_t ThreadCpuClock();
int64_t CpuNanoseconds(clockid_t clock);

// Assembles text; fails the test on assembler errors.
std::vector<uint8_t> AssembleOrFail(const std::string &text);

class VMTest : public ::testing::Test {
protected:
    lvState *L = nullptr;
    void SetUp() override;
    void TearDown() override;
    // Loads an assembled chunk and leaves its function on the stack (status answered).
    int Load(const std::string &text);
    // Loads and runs a chunk in a protected call keeping all results; answers the status.
    int Run(const std::string &text);
    // Registers a command as a global under its lower-cased name.
    void Register(const char *name, lvCommandFunction f);
    // The number on the stack at index (test fails unless it is a number).
    double Num(int index);
    std::string Str(int index);
};

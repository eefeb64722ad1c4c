// rtcmds_util.h - fixture of the runtime command tests: a fresh machine with the runtime's
// host services and the core libraries open, chunks assembled from text or loaded from
// the assembled fixtures, and the debug output captured.
#pragma once
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/cmdsupport.h"
#include "runtime/errors.h"
#include "runtime/libs_core.h"
#include "vm/lvvm.h"

// Assembles text (the chunk's source is "@" and name); fails the test on assembler errors.
std::vector<uint8_t> AssembleRtText(const std::string &text, const char *name = "test.lvs");

class RtCmdsTest : public ::testing::Test {
protected:
    lvState *L = nullptr;
    void SetUp() override;
    void TearDown() override;
    // Loads an assembled chunk (source name "@name") and runs it in a protected call keeping
    // all results; answers the status.
    int Run(const std::string &text, const char *name = "test.lvs");
    // Loads a chunk file assembled by the build (tests/runtime/rtcmds_fixtures/NAME.lvc).
    int RunFixture(const char *name);
    // Registers one command as a global.
    void Register(const char *name, lvCommandFunction f);
    double Num(int index);
    std::string Str(int index);
    // Debug output written since SetUp (or the last Output call with clear).
    std::string Output(bool clear = true);
};

// The dos library's Execute, Run and MonitorDirectory called through their globals:
// captured output and exit codes, the end of a program that could not start, and a
// directory change reaching the script side through the system event queue.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <unistd.h>

#include "libs/dirmonitor_engine.h"
#include "libs/lib_dos.h"
#include "libs/process_engine.h"
#include "platform/lvplatform.h"
#include "tests/libs/strlib_harness.h"

namespace fs = std::filesystem;

static bool gRunFinishedInstalled = false;

static int QueryHandlers(lvState *, const char *name)
{
    return gRunFinishedInstalled && std::string(name) == "RunFinished";
}

class DosProgramTest : public StringLibTest {
protected:
    std::string dir;  // a fresh directory
    void SetUp() override
    {
        StringLibTest::SetUp();
        ASSERT_EQ(InitPlatform(), 0);
        ASSERT_EQ(InitSystemEvents(), 0);
        ASSERT_EQ(OpenDosLibrary(L), 0);
        SetDosHandlerQuery(QueryHandlers);
        gRunFinishedInstalled = false;
        char tmpl[] = "/tmp/lvdospXXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
    }
    void TearDown() override
    {
        FreeDosObjects(L, 1);
        EXPECT_EQ(FirstRunJob(), nullptr);
        SetDosHandlerQuery(nullptr);
        FreeSystemEvents();
        ExitPlatform();
        std::error_code ec;
        fs::remove_all(dir, ec);
        StringLibTest::TearDown();
    }
    // Waits (bounded) for a system event of the type whose first word is data1.
    static bool WaitForEvent(int type, uintptr_t data1)
    {
        auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < until) {
            lvSystemEvent e;
            while (GetSystemEvent(&e)) {
                if (e.type == SYSEVENT_RUNOUTPUT) FreeMemory(reinterpret_cast<void *>(e.data2));
                if (e.type == SYSEVENT_DIRCHANGEDETAIL) FreeMemory(reinterpret_cast<void *>(e.data2));
                if (e.type == type && e.data1 == data1) return true;
            }
            WaitSignalTimeout(GetMainWakeSignal(), 50);
        }
        return false;
    }
};

TEST_F(DosProgramTest, ExecuteCapturesExitCodeAndLines)
{
    EXPECT_EQ(Call("Execute", {"sh", "-c 'echo a; echo b; echo c; exit 3'", FieldsArg({{"captureoutput", 1}})}),
              "3 'a\\x0ab\\x0ac\\x0a'");
    // One command line, and the program's own exit code.
    EXPECT_EQ(Call("Execute", {"sh -c 'exit 5'", FieldsArg({{"captureoutput", 1}})}), "5 ''");
    EXPECT_EQ(Call("Execute", {"true"}), "");
    EXPECT_EQ(Call("Execute", {"\"unclosed"}), "error 1055");
    EXPECT_EQ(Call("Execute", {""}), "error 1055");
    EXPECT_EQ(Call("Execute", {"true", "", FieldsArg({{"directory", dir + "/missing"}})}), "error 1286");
    EXPECT_EQ(FirstRunJob(), nullptr);
}

TEST_F(DosProgramTest, RunOfAMissingProgramEndsWith127)
{
    // Without a RunFinished handler nothing is left behind and nothing fails.
    EXPECT_EQ(Call("Run", {"/nonexistent/lumivarra-missing"}), "");
    EXPECT_EQ(FirstRunJob(), nullptr);
    gRunFinishedInstalled = true;
    EXPECT_EQ(Call("Run", {"/nonexistent/lumivarra-missing", "", FieldsArg({{"returncode", 1}, {"userdata", "u"}})}), "");
    lvRunJob *job = FirstRunJob();
    ASSERT_NE(job, nullptr);
    ASSERT_TRUE(WaitForEvent(SYSEVENT_RUNEXIT, reinterpret_cast<uintptr_t>(job)));
    EXPECT_EQ(job->exitCode.load(), 127);
    EXPECT_TRUE(RunJobWantsReport(job));
    EXPECT_GE(job->runUserData, 0);
}

TEST_F(DosProgramTest, DirectoryChangeReachesTheQueue)
{
    EXPECT_EQ(Call("MonitorDirectory", {1, dir + "/missing"}), "error 1627");
    EXPECT_EQ(Call("CloseDirectory", {1}), "error 1318");  // no handle left behind
    ASSERT_EQ(Call("MonitorDirectory", {1, dir}), "");
    EXPECT_EQ(Call("NextDirectoryEntry", {1}), "error 1055");
    EXPECT_EQ(Call("CountDirectoryEntries", {1}), "error 1055");
    // Find the monitor through the event it posts for a new file.
    FILE *f = std::fopen((dir + "/new.txt").c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fputs("x", f);
    std::fclose(f);
    bool seen = false;
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!seen && std::chrono::steady_clock::now() < until) {
        lvSystemEvent e;
        while (GetSystemEvent(&e)) {
            if (e.type == SYSEVENT_DIRCHANGED) {
                auto *m = reinterpret_cast<const lvDirMonitor *>(e.data1);
                EXPECT_EQ(*m->ownerId, 1);
                EXPECT_EQ(std::string(m->path), fs::canonical(dir).string());
                seen = true;
            }
        }
        if (!seen) WaitSignalTimeout(GetMainWakeSignal(), 50);
    }
    EXPECT_TRUE(seen);
    EXPECT_EQ(Call("CloseDirectory", {1}), "");
    std::string h = Call("MonitorDirectory", {NilArg(), dir, FieldsArg({{"reportchanges", 1}, {"userdata", 3}})});
    EXPECT_EQ(h.rfind("pointer:", 0), 0u) << h;
}

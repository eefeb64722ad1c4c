// MonitorDirectory's engine: coalesced notices, per-entry reports, closing.
#include "libs/dirmonitor_engine.h"
#include "runtime/errors.h"
#include "base/lverrors.h"

#include <gtest/gtest.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

class DirMonitor : public testing::Test {
protected:
    char folder[32] = "/tmp/lvmonXXXXXX";
    void SetUp() override
    {
        ASSERT_EQ(InitPlatform(), 0);
        ASSERT_EQ(InitSystemEvents(), 0);
        ASSERT_NE(mkdtemp(folder), nullptr);
    }
    void TearDown() override
    {
        FreeSystemEvents();
        ExitPlatform();
        std::string command = std::string("rm -rf ") + folder;
        EXPECT_EQ(system(command.c_str()), 0);
    }
    std::string In(const char *name) const { return std::string(folder) + "/" + name; }
    void Touch(const char *name) const
    {
        FILE *f = fopen(In(name).c_str(), "w");
        ASSERT_NE(f, nullptr);
        fputs("x", f);
        fclose(f);
    }
    // Takes events until none has come for `quiet` milliseconds (at most 3 s), freeing
    // owned blocks after copying the details out. quiet 0: what is queued now.
    struct Seen {
        int type;              // event type
        uintptr_t data1;       // the monitor
        int kind;              // detail: change kind
        std::string name;      // detail: entry name
    };
    static std::vector<Seen> Collect(int quiet)
    {
        std::vector<Seen> seen;
        auto start = std::chrono::steady_clock::now();
        auto last = start;
        for (;;) {
            lvSystemEvent e;
            while (GetSystemEvent(&e)) {
                Seen s = {e.type, e.data1, -1, ""};
                if (e.type == SYSEVENT_DIRCHANGEDETAIL) {
                    const lvDirChange *c = (const lvDirChange *)e.data2;
                    s.kind = c->kind;
                    s.name = c->name;
                    EXPECT_EQ((uintptr_t)c->monitor, e.data1);
                    FreeMemory((void *)e.data2);
                }
                seen.push_back(s);
                last = std::chrono::steady_clock::now();
            }
            auto now = std::chrono::steady_clock::now();
            if (now - last >= std::chrono::milliseconds(quiet) || now - start > std::chrono::seconds(3)) break;
            WaitSignalTimeout(GetMainWakeSignal(), 10);
        }
        return seen;
    }
};

TEST_F(DirMonitor, MissingDirectoryOrFileFails)
{
    lvDirMonitor *m = (lvDirMonitor *)1;
    EXPECT_EQ(StartDirMonitor("/nonexistent-lumivarra", 0, 0, -1, nullptr, &m), ERR_MONITORDIR);
    EXPECT_EQ(m, nullptr);
    EXPECT_STREQ(GetErrorState()->textArg, "/nonexistent-lumivarra");
    Touch("file");
    EXPECT_EQ(StartDirMonitor(In("file").c_str(), 0, 0, -1, nullptr, &m), ERR_MONITORDIR);
    EXPECT_EQ(StartDirMonitor("", 0, 0, -1, nullptr, &m), ERR_MONITORDIR);
}

TEST_F(DirMonitor, ABurstGivesOneEventAndALaterChangeAnother)
{
    int owner = 5;
    lvDirMonitor *m = nullptr;
    ASSERT_EQ(StartDirMonitor(folder, 0, 0, 9, &owner, &m), 0);
    EXPECT_EQ(m->ownerId, &owner);
    EXPECT_EQ(m->userDataRef, 9);
    EXPECT_STREQ(m->path, folder);
    for (int i = 0; i < 20; i++) Touch(("f" + std::to_string(i)).c_str());
    std::vector<Seen> seen = Collect(200);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].type, SYSEVENT_DIRCHANGED);
    EXPECT_EQ(seen[0].data1, (uintptr_t)m);
    // Quiet for more than 100 ms: the next change is reported again.
    Touch("later");
    seen = Collect(200);
    EXPECT_EQ(seen.size(), 1u);
    StopDirMonitor(m, nullptr);
}

TEST_F(DirMonitor, DetailedReportsNameEachChange)
{
    lvDirMonitor *m = nullptr;
    ASSERT_EQ(StartDirMonitor(folder, 0, 1, -1, nullptr, &m), 0);
    Touch("old.txt");
    std::vector<Seen> seen = Collect(120);
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen[0].type, SYSEVENT_DIRCHANGEDETAIL);
    EXPECT_EQ(seen[0].kind, LV_DIRCHANGE_ADD);
    EXPECT_EQ(seen[0].name, "old.txt");
    for (size_t i = 1; i < seen.size(); i++) {
        EXPECT_EQ(seen[i].kind, LV_DIRCHANGE_CHANGE);  // the write
        EXPECT_EQ(seen[i].name, "old.txt");
    }
    ASSERT_EQ(rename(In("old.txt").c_str(), In("new.txt").c_str()), 0);
    seen = Collect(120);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].kind, LV_DIRCHANGE_REMOVE);
    EXPECT_EQ(seen[0].name, "old.txt");
    EXPECT_EQ(seen[1].kind, LV_DIRCHANGE_ADD);
    EXPECT_EQ(seen[1].name, "new.txt");
    ASSERT_EQ(unlink(In("new.txt").c_str()), 0);
    seen = Collect(120);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].kind, LV_DIRCHANGE_REMOVE);
    // Changes inside a sub-directory are not the directory's own.
    ASSERT_EQ(mkdir(In("sub").c_str(), 0755), 0);
    Collect(120);
    Touch("sub/inner");
    EXPECT_TRUE(Collect(120).empty());
    StopDirMonitor(m, nullptr);
}

TEST_F(DirMonitor, ClosingIsPromptAndWithdrawsQueuedEvents)
{
    lvDirMonitor *m = nullptr;
    ASSERT_EQ(StartDirMonitor(folder, 1, 1, 3, nullptr, &m), 0);
    Touch("a");
    Touch("b");
    // Let the reports reach the queue, then close without taking them.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    PostSystemEvent(SYSEVENT_MUSICEND, 1, 0, 0, 1, 0, 0);
    std::vector<int> released;
    lvRefOps ops = {&released, nullptr, [](void *c, int ref) { ((std::vector<int> *)c)->push_back(ref); }};
    auto before = std::chrono::steady_clock::now();
    StopDirMonitor(m, &ops);
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(1));
    EXPECT_EQ(released, std::vector<int>{3});
    std::vector<Seen> seen = Collect(0);
    ASSERT_EQ(seen.size(), 1u);  // only the other event is left
    EXPECT_EQ(seen[0].type, SYSEVENT_MUSICEND);
    // A monitor that saw nothing closes at once too.
    ASSERT_EQ(StartDirMonitor(folder, 0, 0, -1, nullptr, &m), 0);
    before = std::chrono::steady_clock::now();
    StopDirMonitor(m, nullptr);
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(1));
}

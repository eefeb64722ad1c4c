// Execute and Run's engine: captured results, job threads and their events, linked
// programs, and jobs freed with events still queued.
#include "libs/process_engine.h"
#include "runtime/errors.h"
#include "base/lverrors.h"
#include "runtime/vfile.h"

#include <gtest/gtest.h>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

class ProcessEngine : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(InitPlatform(), 0);
        ASSERT_EQ(InitSystemEvents(), 0);
    }
    void TearDown() override
    {
        FreeRunJobs(nullptr);
        EXPECT_EQ(FirstRunJob(), nullptr);
        FreeSystemEvents();
        ExitPlatform();
    }
    static lvRunRequest Request(int isRun, const char *program, const char *arguments)
    {
        lvRunRequest r = {};
        r.isRun = isRun;
        r.program = program;
        r.arguments = arguments;
        r.runUserData = -1;
        return r;
    }
    // Takes system events until one of type `type` for the job arrives (bounded).
    static bool TakeEvents(std::vector<lvSystemEvent> *taken, int type, const lvRunJob *job)
    {
        auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < until) {
            lvSystemEvent e;
            while (GetSystemEvent(&e)) {
                taken->push_back(e);
                if (e.type == type && e.data1 == (uintptr_t)job) return true;
            }
            WaitSignalTimeout(GetMainWakeSignal(), 100);
        }
        return false;
    }
    static void FreeTaken(std::vector<lvSystemEvent> &taken)
    {
        for (lvSystemEvent &e : taken)
            if (e.type == SYSEVENT_RUNOUTPUT) FreeMemory((void *)e.data2);
        taken.clear();
    }
};

TEST_F(ProcessEngine, ExecuteCapturesExitCodeAndAllOutput)
{
    lvRunRequest r = Request(0, "sh", "-c 'echo a; echo b; echo c; exit 3'");
    r.captureOutput = 1;
    lvRunOutcome out;
    ASSERT_EQ(StartProgram(&r, &out), 0);
    EXPECT_EQ(out.captured, 1);
    EXPECT_EQ(out.exitCode, 3);
    EXPECT_EQ(std::string((const char *)out.output, out.outputLength), "a\nb\nc\n");
    EXPECT_EQ(FirstRunJob(), nullptr);  // released after collecting
    FreeMemory(out.output);

    // The same through one command-line text.
    r = Request(0, "sh -c 'exit 5'", nullptr);
    r.captureOutput = 1;
    ASSERT_EQ(StartProgram(&r, &out), 0);
    EXPECT_EQ(out.exitCode, 5);
    EXPECT_EQ(out.outputLength, 0u);
    FreeMemory(out.output);
}

TEST_F(ProcessEngine, ExecuteWaitsThroughTheEventHook)
{
    struct Waiter {
        int calls = 0;
        int failAfter = -1;
    } waiter;
    lvRunRequest r = Request(0, "sh", "-c 'sleep 0.05; echo late'");
    r.captureOutput = 1;
    r.waitContext = &waiter;
    r.WaitEvents = [](void *context) {
        Waiter *w = (Waiter *)context;
        w->calls++;
        if (w->failAfter >= 0 && w->calls > w->failAfter) return (int)ERR_USERABORT;
        WaitSignalTimeout(GetMainWakeSignal(), 50);
        return 0;
    };
    lvRunOutcome out;
    ASSERT_EQ(StartProgram(&r, &out), 0);
    EXPECT_GE(waiter.calls, 1);
    EXPECT_EQ(std::string((const char *)out.output, out.outputLength), "late\n");
    FreeMemory(out.output);
    // An error from the wait ends Execute; the job stays listed until the library closes.
    waiter = Waiter{0, 0};
    r.arguments = "-c 'sleep 0.2'";
    EXPECT_EQ(StartProgram(&r, &out), ERR_USERABORT);
    EXPECT_NE(FirstRunJob(), nullptr);
}

TEST_F(ProcessEngine, ArgumentAndDirectoryErrors)
{
    lvRunOutcome out;
    lvRunRequest r = Request(0, "", nullptr);
    EXPECT_EQ(StartProgram(&r, &out), ERR_WRONGUSAGE);
    r = Request(0, "\"/bin/sh -c true", nullptr);  // unterminated quote
    EXPECT_EQ(StartProgram(&r, &out), ERR_WRONGUSAGE);
    r = Request(1, "true", "");
    r.directory = "/nonexistent-lumivarra-dir";
    EXPECT_EQ(StartProgram(&r, &out), ERR_LOCK2);
    EXPECT_STREQ(GetErrorState()->textArg, "/nonexistent-lumivarra-dir");

    char program[64];
    const char *arguments = nullptr;
    EXPECT_EQ(SplitCommandLine("\"/bin/my prog\"   -x y", program, sizeof program, &arguments), 0);
    EXPECT_STREQ(program, "/bin/my prog");
    EXPECT_STREQ(arguments, "-x y");
    EXPECT_EQ(SplitCommandLine("ls   ", program, sizeof program, &arguments), 0);
    EXPECT_STREQ(program, "ls");
    EXPECT_EQ(arguments, nullptr);
}

TEST_F(ProcessEngine, HandlerListsMatchByPrefixWithoutCase)
{
    struct {
        const char *list;
        int finished, output;
    } cases[] = {
        {nullptr, 0, 0}, {"", 0, 0}, {"RunFinished", 1, 0}, {"runo", 0, 1},
        {"run", 1, 1},   {"x|RUNF", 1, 0}, {"|", 0, 0}, {"runfinishedx", 0, 0},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(HandlerIgnored(c.list, "runfinished"), c.finished) << (c.list ? c.list : "null");
        EXPECT_EQ(HandlerIgnored(c.list, "runoutput"), c.output) << (c.list ? c.list : "null");
    }
}

TEST_F(ProcessEngine, RunWithoutHandlersMakesNoJob)
{
    char path[] = "/tmp/lvrunXXXXXX";
    int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    unlink(path);
    std::string args = std::string("-c 'touch ") + path + "'";
    lvRunRequest r = Request(1, "sh", args.c_str());
    r.haveRunFinishedHandler = 1;
    r.ignoreHandlers = "runfinished";  // installed but ignored
    lvRunOutcome out;
    ASSERT_EQ(StartProgram(&r, &out), 0);
    EXPECT_EQ(out.job, nullptr);
    EXPECT_EQ(FirstRunJob(), nullptr);
    struct stat st;
    bool appeared = false;
    for (int i = 0; i < 500 && !appeared; i++) {
        appeared = stat(path, &st) == 0;
        if (!appeared) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(appeared);
    unlink(path);
}

TEST_F(ProcessEngine, RunReportsTheEndAnd127ForAMissingProgram)
{
    lvRunRequest r = Request(1, "/nonexistent/lumivarra-missing", "");
    r.haveRunFinishedHandler = 1;
    r.returnCode = 1;
    r.runUserData = 42;
    lvRunOutcome out;
    ASSERT_EQ(StartProgram(&r, &out), 0);
    ASSERT_NE(out.job, nullptr);
    EXPECT_EQ(out.userDataTaken, 1);
    EXPECT_EQ(out.job->runUserData, 42);
    EXPECT_TRUE(out.job->flags & LV_RUN_RETURNCODE);
    EXPECT_EQ(out.job->pipes, 0);
    std::vector<lvSystemEvent> taken;
    ASSERT_TRUE(TakeEvents(&taken, SYSEVENT_RUNEXIT, out.job));
    EXPECT_EQ(out.job->exitCode.load(), LV_EXIT_NOT_STARTED);
    EXPECT_TRUE(RunJobWantsReport(out.job));
    // Releasing the job releases its userdata reference.
    struct Released {
        std::vector<int> refs;
    } released;
    lvRefOps ops = {&released, nullptr, [](void *c, int ref) { ((Released *)c)->refs.push_back(ref); }};
    ReleaseRunJob(out.job, &ops);
    EXPECT_EQ(released.refs, std::vector<int>{42});
    FreeTaken(taken);
}

TEST_F(ProcessEngine, RunOutputChunksComeBeforeTheEnd)
{
    lvRunRequest r = Request(1, "sh", "-c 'printf \"ok \\377 \\303\\251\"; exit 2'");
    r.haveRunOutputHandler = 1;
    lvRunOutcome out;
    ASSERT_EQ(StartProgram(&r, &out), 0);
    ASSERT_NE(out.job, nullptr);
    EXPECT_EQ(out.job->pipes, 1);
    EXPECT_FALSE(out.job->flags & LV_RUN_RETURNCODE);  // no RunFinished handler
    std::vector<lvSystemEvent> taken;
    ASSERT_TRUE(TakeEvents(&taken, SYSEVENT_RUNEXIT, out.job));
    std::string raw, repaired;
    for (const lvSystemEvent &e : taken) {
        if (e.type != SYSEVENT_RUNOUTPUT) continue;
        const lvOutputChunk *chunk = (const lvOutputChunk *)e.data2;
        EXPECT_EQ(chunk->job, out.job);
        EXPECT_EQ(e.data1, (uintptr_t)out.job);
        char *a = MakeOutputText(chunk, 1), *b = MakeOutputText(chunk, 0);
        raw += a;
        repaired += b;
        FreeMemory(a);
        FreeMemory(b);
    }
    EXPECT_EQ(taken.back().type, SYSEVENT_RUNEXIT);
    EXPECT_EQ(raw, "ok \xff \xc3\xa9");
    EXPECT_EQ(repaired, "ok ? \xc3\xa9");
    EXPECT_EQ(out.job->exitCode.load(), 2);
    FreeTaken(taken);
}

// Counts queued events that point at a job and puts the others back.
static int QueuedEventsOf(const void *job)
{
    struct Count {
        const void *job;
        int n;
    } count = {job, 0};
    DropSystemEvents(
        [](const lvSystemEvent *e, void *c) {
            Count *k = (Count *)c;
            if (e->data1 == (uintptr_t)k->job) k->n++;
            return 0;
        },
        &count);
    return count.n;
}

TEST_F(ProcessEngine, FreeingJobsWithdrawsTheirQueuedEvents)
{
    lvRunRequest r = Request(1, "sh", "-c 'echo one; echo two'");
    r.haveRunOutputHandler = 1;
    r.haveRunFinishedHandler = 1;
    lvRunOutcome out;
    ASSERT_EQ(StartProgram(&r, &out), 0);
    lvRunJob *job = out.job;
    for (int i = 0; i < 1000 && !job->finished.load(); i++) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_TRUE(job->finished.load());
    PostSystemEvent(SYSEVENT_MUSICEND, 77, 0, 0, 1, 0, 0);  // someone else's event
    EXPECT_GE(QueuedEventsOf(job), 2);                      // output and end
    FreeRunJobs(nullptr);
    EXPECT_EQ(QueuedEventsOf(job), 0);
    lvSystemEvent e;
    ASSERT_EQ(GetSystemEvent(&e), 1);
    EXPECT_EQ(e.type, SYSEVENT_MUSICEND);
    EXPECT_EQ(GetSystemEvent(&e), 0);
}

TEST_F(ProcessEngine, AJobThreadThatCannotStartIsAnError)
{
    // Wherever memory runs out, Execute either fails with an error or returns the real
    // results: never success without results.
    for (int allowed = 0; allowed < 12; allowed++) {
        lvRunRequest r = Request(0, "sh", "-c 'echo x; exit 4'");
        r.captureOutput = 1;
        lvRunOutcome out;
        FailAllocMemoryAfter(allowed);
        int rc = StartProgram(&r, &out);
        FailAllocMemoryAfter(-1);
        if (rc) {
            EXPECT_TRUE(rc == ERR_MEM || rc == ERR_THREAD) << allowed << ": " << rc;
            EXPECT_EQ(out.captured, 0);
        } else {
            EXPECT_EQ(out.captured, 1) << allowed;
            EXPECT_EQ(out.exitCode, 4) << allowed;
        }
        FreeMemory(out.output);
    }
}

TEST_F(ProcessEngine, LinkedProgramRunsFromAnExecutableCopyInADottedFolder)
{
    // The temporary folder has a dot in its path: the copy's name must still keep it.
    char folder[] = "/tmp/lv.dot.XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    std::string savedTmp = GetTempDirectory();
    ASSERT_EQ(SetTempDirectory(folder), 1);

    // A container whose bytes 4.. hold a shell script named tool.sh.
    std::string container = std::string(folder) + "/container.bin";
    const std::string script = "#!/bin/sh\necho linked \"$1\"\n";
    FILE *f = fopen(container.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    fwrite("JUNK", 1, 4, f);
    fwrite(script.data(), 1, script.size(), f);
    fclose(f);
    char name[LV_PATH_SIZE];
    ASSERT_TRUE(MakeChunkName("tool.sh", name, sizeof name, nullptr, 4, (uint32_t)script.size(), 0, container.c_str()));

    for (int round = 0; round < 2; round++) {
        lvRunRequest r = Request(0, name, round ? "again" : "first");
        r.captureOutput = 1;
        lvRunOutcome out;
        ASSERT_EQ(StartProgram(&r, &out), 0);
        EXPECT_EQ(out.exitCode, 0);
        EXPECT_EQ(std::string((const char *)out.output, out.outputLength),
                  round ? "linked again\n" : "linked first\n");
        FreeMemory(out.output);
    }
    // One copy, executable, named lumivarraXXXXXX.sh inside the dotted folder.
    std::vector<std::string> copies;
    std::string listing;
    for (int i = 0; i < 1; i++) {
        FILE *ls = popen((std::string("ls ") + folder).c_str(), "r");
        char line[256];
        while (fgets(line, sizeof line, ls)) {
            listing += line;
            std::string entry = line;
            entry.pop_back();
            if (entry.size() > 3 && entry.compare(entry.size() - 3, 3, ".sh") == 0) copies.push_back(entry);
        }
        pclose(ls);
    }
    ASSERT_EQ(copies.size(), 1u) << listing;
    EXPECT_EQ(copies[0].rfind("lumivarra", 0), 0u);
    struct stat st;
    ASSERT_EQ(stat((std::string(folder) + "/" + copies[0]).c_str(), &st), 0);
    EXPECT_TRUE(st.st_mode & S_IXUSR);
    // Closing the library deletes the copies and their placeholders.
    FreeRunJobs(nullptr);
    FILE *ls = popen((std::string("ls ") + folder).c_str(), "r");
    char line[256];
    std::string rest;
    while (fgets(line, sizeof line, ls)) rest += line;
    pclose(ls);
    EXPECT_EQ(rest, "container.bin\n");

    unlink(container.c_str());
    rmdir(folder);
    SetTempDirectory(savedTmp.c_str());
}

// Programs, the environment and the other system services of the platform layer.
#include "platform/lvplatform.h"
#include "base/lverrors.h"

#include <gtest/gtest.h>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <set>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

// ---- Argument texts ------------------------------------------------------------------

static std::vector<std::string> Split(const char *text, int *count)
{
    char *words = nullptr;
    *count = SplitArgumentText(text, &words);
    std::vector<std::string> out;
    const char *w = words;
    for (int i = 0; i < *count; i++) {
        out.push_back(w);
        w += strlen(w) + 1;
    }
    FreeMemory(words);
    return out;
}

TEST(ArgumentText, SplitsLikeACommandLine)
{
    struct {
        const char *text;
        std::vector<std::string> words;
    } cases[] = {
        {"", {}},
        {"   ", {}},
        {"-c 'echo a; exit 3'", {"-c", "echo a; exit 3"}},
        {"a  b\tc", {"a", "b", "c"}},
        {"\"two words\" x", {"two words", "x"}},
        {"C:\\dir\\file.txt", {"C:\\dir\\file.txt"}},  // backslashes stay
        {"\"q\\\"uote\"", {"q\"uote"}},              // one before a quote makes it plain
        {"a\\\\\"b c\"", {"a\\b c"}},              // a pair before a quote gives one
        {"'it\\s \"x\"'", {"it\\s \"x\""}},      // single quotes keep everything
        {"don\\'t", {"don't"}},
        {"a\"b c\"d", {"ab cd"}},
        {"''", {""}},
    };
    for (const auto &c : cases) {
        int count;
        std::vector<std::string> got = Split(c.text, &count);
        EXPECT_EQ(count, (int)c.words.size()) << c.text;
        EXPECT_EQ(got, c.words) << c.text;
    }
    int count;
    Split("\"open", &count);
    EXPECT_EQ(count, -1);
    Split("x 'open", &count);
    EXPECT_EQ(count, -1);
}

// ---- The program job thread body ------------------------------------------------------

// Collects what a program thread reports.
struct ProgramRecord {
    std::mutex lock;          // guards the fields below
    std::string output;       // every chunk, in order
    int chunks = 0;           // number of chunks
    int ends = 0;             // number of end reports
    int exitCode = -1;        // the reported exit code
    lvProgramStart start{};   // what to start
    std::string program, arguments, directory;  // storage for start
};

static void RecordOutput(void *context, const uint8_t *bytes, size_t count)
{
    ProgramRecord *r = (ProgramRecord *)context;
    std::lock_guard<std::mutex> g(r->lock);
    r->output.append((const char *)bytes, count);
    r->chunks++;
}

static void RecordEnd(void *context, int exitCode)
{
    ProgramRecord *r = (ProgramRecord *)context;
    std::lock_guard<std::mutex> g(r->lock);
    r->ends++;
    r->exitCode = exitCode;
}

static void ProgramBody(lvThread *thread)
{
    ProgramRecord *r = (ProgramRecord *)EnterThread(thread)->userData;
    lvProgramHandlers handlers = {r, RecordOutput, RecordEnd};
    RunProgramWithPipes(&r->start, &handlers, thread);
}

class Programs : public testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(InitPlatform(), 0); }
    void TearDown() override { ExitPlatform(); }

    // Starts a job thread; the record must outlive it.
    static lvThread *Start(ProgramRecord &r, const char *program, const char *arguments, int pipes = 1,
                           const char *directory = nullptr)
    {
        r.program = program;
        r.arguments = arguments ? arguments : "";
        r.directory = directory ? directory : "";
        r.start.program = r.program.c_str();
        r.start.arguments = arguments ? r.arguments.c_str() : nullptr;
        r.start.directory = r.directory.c_str();
        r.start.flags = LV_RUN_NOWAIT | (pipes ? LV_RUN_CAPTUREOUTPUT : 0);
        r.start.pipes = pipes;
        int error = 0;
        lvThread *t = StartThread("test job", ProgramBody, &r, nullptr, 0, 0, 0, &error);
        EXPECT_NE(t, nullptr) << error;
        return t;
    }
    // Waits (bounded) until the end was reported.
    static bool WaitEnd(ProgramRecord &r, int seconds = 10)
    {
        auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        while (std::chrono::steady_clock::now() < until) {
            {
                std::lock_guard<std::mutex> g(r.lock);
                if (r.ends) return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return false;
    }
};

TEST_F(Programs, CapturesLinesAndExitCode)
{
    ProgramRecord r;
    lvThread *t = Start(r, "sh", "-c 'echo a; echo b; echo c; exit 3'");
    ASSERT_TRUE(WaitEnd(r));
    StopThread(t);
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_EQ(r.output, "a\nb\nc\n");
    EXPECT_EQ(r.ends, 1);
}

TEST_F(Programs, ErrorOutputSharesThePipeAndInputIsEmpty)
{
    ProgramRecord r;
    // cat reads the empty input and ends instead of waiting forever.
    lvThread *t = Start(r, "sh", "-c 'echo out; echo err 1>&2; cat; exit 0'");
    ASSERT_TRUE(WaitEnd(r));
    StopThread(t);
    EXPECT_EQ(r.output, "out\nerr\n");
    EXPECT_EQ(r.exitCode, 0);
}

TEST_F(Programs, LargeOutputArrivesWhole)
{
    ProgramRecord r;
    lvThread *t = Start(r, "sh", "-c 'head -c 10000 /dev/zero | tr \"\\\\0\" x; exit 7'");
    ASSERT_TRUE(WaitEnd(r));
    StopThread(t);
    EXPECT_EQ(r.exitCode, 7);
    EXPECT_EQ(r.output, std::string(10000, 'x'));
    EXPECT_GE(r.chunks, 1);
}

TEST_F(Programs, MissingProgramEndsWith127Once)
{
    for (int pipes = 0; pipes <= 1; pipes++) {
        ProgramRecord r;
        lvThread *t = Start(r, "/nonexistent/lumivarra-no-such-program", nullptr, pipes);
        ASSERT_TRUE(WaitEnd(r));
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        StopThread(t);
        EXPECT_EQ(r.exitCode, LV_EXIT_NOT_STARTED);
        EXPECT_EQ(r.ends, 1);
        EXPECT_EQ(r.output, "");
    }
}

TEST_F(Programs, KilledProgramReportsTheSignal)
{
    ProgramRecord r;
    lvThread *t = Start(r, "sh", "-c 'kill -9 $$'");
    ASSERT_TRUE(WaitEnd(r));
    StopThread(t);
    EXPECT_EQ(r.exitCode, 128 + 9);
}

TEST_F(Programs, WorkingDirectory)
{
    ProgramRecord r;
    lvThread *t = Start(r, "pwd", nullptr, 1, "/usr");
    ASSERT_TRUE(WaitEnd(r));
    StopThread(t);
    EXPECT_EQ(r.output, "/usr\n");
}

TEST_F(Programs, StoppingNeverWaitsForTheProgram)
{
    ProgramRecord r;
    lvThread *t = Start(r, "sleep", "30");
    auto before = std::chrono::steady_clock::now();
    StopThread(t);
    auto took = std::chrono::steady_clock::now() - before;
    EXPECT_LT(took, std::chrono::seconds(2));
    EXPECT_EQ(r.ends, 0);
}

// The descriptors of this process that a child would inherit.
static std::set<int> InheritableDescriptors()
{
    std::set<int> fds = {0, 1, 2};
    DIR *d = opendir("/proc/self/fd");
    int own = dirfd(d);
    while (struct dirent *e = readdir(d)) {
        int fd = atoi(e->d_name);
        if (e->d_name[0] == '.' || fd == own) continue;
        int flags = fcntl(fd, F_GETFD);
        if (flags >= 0 && !(flags & FD_CLOEXEC)) fds.insert(fd);
    }
    closedir(d);
    return fds;
}

TEST_F(Programs, ChildInheritsOnlyItsStandardStreams)
{
    std::set<int> expected = InheritableDescriptors();
    ProgramRecord r;
    lvThread *t = Start(r, "sh", "-c 'ls /proc/$$/fd'");
    ASSERT_TRUE(WaitEnd(r));
    StopThread(t);
    std::set<int> seen;
    size_t at = 0;
    while (at < r.output.size()) {
        size_t nl = r.output.find('\n', at);
        if (nl == std::string::npos) nl = r.output.size();
        if (nl > at) seen.insert(atoi(r.output.substr(at, nl - at).c_str()));
        at = nl + 1;
    }
    EXPECT_EQ(seen, expected) << r.output;
}

TEST_F(Programs, RunProgramWaitsUnlessAskedNotTo)
{
    char path[] = "/tmp/lvprocXXXXXX";
    int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    std::string args = std::string("-c 'echo done > ") + path + "'";
    EXPECT_EQ(RunProgram("sh", args.c_str(), nullptr, nullptr, LV_RUN_CONSOLEMODE), 0);
    char text[16] = {0};
    fd = open(path, O_RDONLY);
    ASSERT_EQ(read(fd, text, sizeof text - 1), 5);
    close(fd);
    EXPECT_STREQ(text, "done\n");
    unlink(path);
    // A program that cannot start is no error here; a missing directory is.
    EXPECT_EQ(RunProgram("/nonexistent/lumivarra-no-such-program", nullptr, nullptr, nullptr, LV_RUN_CONSOLEMODE), 0);
    EXPECT_EQ(RunProgram("true", nullptr, "/nonexistent-dir", nullptr, LV_RUN_CONSOLEMODE), ERR_LOCK2);
}

// ---- Environment -------------------------------------------------------------------------

TEST(Environment, SetGetUnsetAndErrors)
{
    EXPECT_EQ(SetEnvVar("LV_TEST_VALUE", "v\xc3\xa9"), 0);
    char *value = GetEnvVar("LV_TEST_VALUE");
    ASSERT_NE(value, nullptr);
    EXPECT_STREQ(value, "v\xc3\xa9");
    FreeMemory(value);
    EXPECT_EQ(UnsetEnvVar("LV_TEST_VALUE"), 0);
    EXPECT_EQ(GetEnvVar("LV_TEST_VALUE"), nullptr);
    EXPECT_EQ(UnsetEnvVar("LV_TEST_VALUE"), 0);  // unsetting an unset name is fine
    EXPECT_EQ(SetEnvVar("", "x"), ERR_SETENV);
    EXPECT_EQ(SetEnvVar("A=B", "x"), ERR_SETENV);
    EXPECT_EQ(UnsetEnvVar(""), ERR_UNSETENV);
    EXPECT_EQ(UnsetEnvVar("A=B"), ERR_UNSETENV);
    EXPECT_EQ(GetEnvVar(""), nullptr);
}

TEST_F(Programs, ChildrenSeeTheEnvironmentWhileItChanges)
{
    ASSERT_EQ(SetEnvVar("LV_TEST_PROBE", "xyz"), 0);
    std::atomic<bool> stop{false};
    // Another thread keeps changing the environment while programs start and read it.
    std::thread changer([&] {
        int i = 0;
        while (!stop.load()) {
            std::string name = "LV_TEST_CHURN" + std::to_string(i++ % 64);
            SetEnvVar(name.c_str(), "some value that moves the block");
            char *v = GetEnvVar(name.c_str());
            FreeMemory(v);
            UnsetEnvVar(name.c_str());
        }
    });
    for (int round = 0; round < 8; round++) {
        ProgramRecord r;
        lvThread *t = Start(r, "sh", "-c 'echo $LV_TEST_PROBE'");
        ASSERT_TRUE(WaitEnd(r));
        StopThread(t);
        EXPECT_EQ(r.output, "xyz\n");
    }
    stop = true;
    changer.join();
    UnsetEnvVar("LV_TEST_PROBE");
}

// ---- Volumes ------------------------------------------------------------

TEST(SystemServices, MovesOnOneVolumeOnly)
{
    char path[] = "/tmp/lvmoveXXXXXX";
    int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    std::string moved = std::string(path) + ".moved";
    EXPECT_EQ(MoveOnSameVolume(path, moved.c_str()), 0);
    struct stat st;
    EXPECT_EQ(stat(moved.c_str(), &st), 0);
    struct stat shm, tmp;
    if (stat("/dev/shm", &shm) == 0 && stat("/tmp", &tmp) == 0 && shm.st_dev != tmp.st_dev) {
        std::string across = std::string("/dev/shm/") + (strrchr(path, '/') + 1);
        EXPECT_EQ(MoveOnSameVolume(moved.c_str(), across.c_str()), ERR_WRONGUSAGE);
        EXPECT_EQ(stat(moved.c_str(), &st), 0);  // left where it was
    }
    EXPECT_EQ(MoveOnSameVolume("/tmp/lv-no-such-file", "/tmp/lv-other"), ERR_MOVEFILE);
    unlink(moved.c_str());
    EXPECT_EQ(IsVolumeRoot("/"), 1);
    EXPECT_EQ(IsVolumeRoot("/usr/bin"), 0);
    double freeBytes = -1, usedBytes = -1;
    EXPECT_EQ(GetVolumeSpace("/tmp", &freeBytes, &usedBytes), 0);
    EXPECT_GT(freeBytes, 0);
    EXPECT_GT(usedBytes, 0);
    EXPECT_EQ(GetVolumeSpace("/nonexistent-dir", &freeBytes, &usedBytes), ERR_LOCK);
    char label[256] = "untouched";
    EXPECT_EQ(GetOsVolumeName("/dev/shm", label, sizeof label), 0);
    EXPECT_STREQ(label, "");  // a memory file system has no label
    EXPECT_EQ(GetOsVolumeName("/nonexistent-dir", label, sizeof label), ERR_LOCK);
    EXPECT_GT(GetFreeMemory(), 0u);
    uint8_t random[64] = {0};
    EXPECT_EQ(GetRandomBytes(random, sizeof random), 1);
    int zero = 0;
    for (uint8_t b : random) zero += b == 0;
    EXPECT_LT(zero, 16);
}

// ---- Withdrawing queued events ----------------------------------------------------------------

static int MatchData1Of10(const lvSystemEvent *e, void *context)
{
    return e->data1 == (uintptr_t)context;
}

TEST(SystemServices, DropSystemEventsKeepsTheRestInOrder)
{
    ASSERT_EQ(InitPlatform(), 0);
    ASSERT_EQ(InitSystemEvents(), 0);
    char *owned = (char *)AllocMemory(8, 1);
    PostSystemEvent(SYSEVENT_SAMPLEEND, 1, 0, 100, 3, 7, 0);
    PostSystemEvent(SYSEVENT_RUNOUTPUT, 10, (uintptr_t)owned, 0, 1, 0, 0);  // freed when dropped
    PostSystemEvent(SYSEVENT_SAMPLELOOP, 2, 0, 100, 3, 0, 0);
    PostSystemEvent(SYSEVENT_RUNEXIT, 10, 0, 0, 1, 0, 0);
    PostSystemEvent(SYSEVENT_MUSICEND, 3, 0, 0, 0, 0, 0);
    EXPECT_EQ(DropSystemEvents(MatchData1Of10, (void *)10), 2);
    struct {
        int type;
        uintptr_t data1;
        int64_t total;
        int32_t count;
    } expected[] = {{SYSEVENT_SAMPLEEND, 1, 207, 3}, {SYSEVENT_SAMPLELOOP, 2, 200, 3}, {SYSEVENT_MUSICEND, 3, 0, 0}};
    for (const auto &x : expected) {
        lvSystemEvent e;
        ASSERT_EQ(GetSystemEvent(&e), 1);
        EXPECT_EQ(e.type, x.type);
        EXPECT_EQ(e.data1, x.data1);
        EXPECT_EQ(e.total, x.total);
        EXPECT_EQ(e.count, x.count);
    }
    lvSystemEvent e;
    EXPECT_EQ(GetSystemEvent(&e), 0);
    FreeSystemEvents();
    ExitPlatform();
}

// ---- Special folders ------------------------------------------------------------------------------

TEST(SystemServices, SpecialFoldersFollowTheUserDirectories)
{
    char config[] = "/tmp/lvxdgXXXXXX";
    ASSERT_NE(mkdtemp(config), nullptr);
    const char *old = getenv("XDG_CONFIG_HOME");
    std::string saved = old ? old : "";
    setenv("XDG_CONFIG_HOME", config, 1);
    std::string file = std::string(config) + "/user-dirs.dirs";
    FILE *f = fopen(file.c_str(), "w");
    ASSERT_NE(f, nullptr);
    fputs("# written by a test\nXDG_MUSIC_DIR=\"$HOME/Tunes\"\nXDG_DESKTOP_DIR=\"/srv/desk\"\nXDG_VIDEOS_DIR=\"relative\"\n", f);
    fclose(f);
    std::string home = GetHomeFolder();
    struct {
        int id;
        std::string path;
    } cases[] = {
        {0x0D, home + "/Tunes"},   // from the file, $HOME expanded
        {0x00, "/srv/desk"},       // an absolute entry as it stands
        {0x0E, home + "/Videos"},  // a relative entry is ignored
        {0x05, home + "/Documents"},
        {0x28, home},
        {0x7777, ""},              // unknown
    };
    char buffer[LV_PATH_SIZE];
    for (const auto &c : cases) {
        EXPECT_EQ(GetSpecialFolderById(c.id, buffer, sizeof buffer), 0);
        EXPECT_EQ(buffer, c.path) << c.id;
    }
    char expected[LV_PATH_SIZE];
    ASSERT_EQ(GetSystemFolderPath(3, expected, sizeof expected), 1);
    GetSpecialFolderById(0x1A, buffer, sizeof buffer);  // application data
    EXPECT_STREQ(buffer, expected);
    char tiny[4];
    GetSpecialFolderById(0x28, tiny, sizeof tiny);
    EXPECT_STREQ(tiny, "");  // does not fit: empty, never cut
    unlink(file.c_str());
    rmdir(config);
    if (old) setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
    else unsetenv("XDG_CONFIG_HOME");
}

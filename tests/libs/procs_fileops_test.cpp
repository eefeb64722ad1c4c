// CopyFile, MoveFile, DeleteFile and MatchPattern's engine: pattern lists, tree walks,
// the callback protocol, and stepping as async operations.
#include "libs/fileops_engine.h"
#include "platform/lvplatform.h"
#include "runtime/errors.h"
#include "base/lverrors.h"

#include <gtest/gtest.h>
#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <cstdlib>
#include <functional>
#include <map>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

// ---- Fixtures -------------------------------------------------------------------------------

// A callback whose answers a test chooses; every question is recorded.
class ScriptedCallback : public lvFileOpCallback {
public:
    struct Asked {
        int action;                         // the question's action
        int form;                           // its fields
        std::string file, source, destination;
        int64_t copied, fileSize;
    };
    std::vector<Asked> asked;               // every question in order
    std::function<lvFileOpAnswer(const lvFileOpQuestion &)> answer;  // nullptr: the number 2
    int error = 0;                          // returned from Ask when set
    bool quit = false;                      // QuitRequested
    int released = 0;                       // Release calls

    int Ask(const lvFileOpQuestion &q, lvFileOpAnswer *a) override
    {
        asked.push_back({q.action, q.form, q.file ? q.file : "", q.source ? q.source : "",
                         q.destination ? q.destination : "", q.copied, q.fileSize});
        if (error) return error;
        *a = answer ? answer(q) : lvFileOpAnswer{1, 2};
        return 0;
    }
    bool QuitRequested() override { return quit; }
    void Release() override { released++; }
    std::vector<int> Actions() const
    {
        std::vector<int> out;
        for (const Asked &a : asked) out.push_back(a.action);
        return out;
    }
};

static lvFileOpAnswer Number(double v)
{
    return {1, v};
}

class FileOps : public testing::Test {
protected:
    std::string root;  // a fresh folder for the test
    void SetUp() override
    {
        char folder[] = "/tmp/lvfopsXXXXXX";
        ASSERT_NE(mkdtemp(folder), nullptr);
        root = folder;
    }
    void TearDown() override { RemoveTree(root); }
    static void RemoveTree(const std::string &path)
    {
        std::string command = "chmod -R u+w '" + path + "' 2>/dev/null; rm -rf '" + path + "'";
        EXPECT_EQ(system(command.c_str()), 0);
    }
    std::string P(const std::string &relative) const { return root + "/" + relative; }
    static void Write(const std::string &path, const std::string &data)
    {
        FILE *f = fopen(path.c_str(), "wb");
        ASSERT_NE(f, nullptr) << path;
        fwrite(data.data(), 1, data.size(), f);
        fclose(f);
    }
    static std::string Read(const std::string &path)
    {
        FILE *f = fopen(path.c_str(), "rb");
        if (!f) return "<missing>";
        std::string data;
        char buffer[4096];
        size_t n;
        while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) data.append(buffer, n);
        fclose(f);
        return data;
    }
    static bool Exists(const std::string &path)
    {
        struct stat st;
        return lstat(path.c_str(), &st) == 0;
    }
    // Every file below a folder with its contents, by relative path.
    static std::map<std::string, std::string> Tree(const std::string &folder)
    {
        std::map<std::string, std::string> out;
        FILE *find = popen(("cd '" + folder + "' && find . -mindepth 1 | sort").c_str(), "r");
        char line[1024];
        while (fgets(line, sizeof line, find)) {
            std::string entry = line;
            entry.pop_back();
            struct stat st;
            std::string full = folder + "/" + entry.substr(2);
            stat(full.c_str(), &st);
            std::string data = S_ISDIR(st.st_mode) ? "<dir>" : Read(full);
            if (data.size() > 64) data = data.substr(0, 16) + "... " + std::to_string(data.size()) + " bytes, sum " +
                                         std::to_string(std::hash<std::string>()(data));
            out[entry.substr(2)] = data;
        }
        pclose(find);
        return out;
    }
    void MakeSourceTree()
    {
        ASSERT_EQ(mkdir(P("src").c_str(), 0755), 0);
        ASSERT_EQ(mkdir(P("src/sub").c_str(), 0755), 0);
        ASSERT_EQ(mkdir(P("src/sub/deeper").c_str(), 0755), 0);
        ASSERT_EQ(mkdir(P("src/empty").c_str(), 0755), 0);
        Write(P("src/a.txt"), "alpha");
        Write(P("src/sub/b.txt"), std::string(40000, 'b'));
        Write(P("src/sub/deeper/c.bin"), std::string("\0\1\2", 3));
        Write(P("src/zero"), "");
    }
    // Runs an operation either to completion or stepped by ContinueAsyncOperation.
    // Returns the result; *steps gets the number of steps taken when stepped.
    static int Run(lvAsyncOperation *op, bool stepped, int *steps = nullptr)
    {
        if (!op) return 0;
        if (!stepped) return RunAsyncToCompletion(nullptr, op);
        AddAsyncOperation(op);
        lvObjectId id = GetObjectIdOf(&op->header);
        int n = 0;
        for (;;) {
            lvAsyncOperation *found;
            if (FindAsyncOperation(id, &found) != 0) return -1;
            int done = 0;
            n++;
            int rc = ContinueAsyncOperation(nullptr, found, &done);
            if (rc >= 1000) {
                CancelAsyncOperation(nullptr, id);
                if (steps) *steps = n;
                return rc;
            }
            if (done) break;
        }
        if (steps) *steps = n;
        return 0;
    }
    int Copy(const std::string &source, const std::string &destination, lvCopyOptions o = {}, bool stepped = false)
    {
        lvAsyncOperation *op = nullptr;
        int rc = NewCopyOperation(source.c_str(), destination.c_str(), &o, &op);
        return rc ? rc : Run(op, stepped);
    }
    int Delete(const std::string &path, lvDeleteOptions o = {}, bool stepped = false)
    {
        lvAsyncOperation *op = nullptr;
        int rc = NewDeleteOperation(path.c_str(), &o, &op);
        return rc ? rc : Run(op, stepped);
    }
    int Move(const std::string &source, const std::string &destination, lvMoveOptions o = {}, bool stepped = false)
    {
        lvAsyncOperation *op = nullptr;
        int rc = NewMoveOperation(source.c_str(), destination.c_str(), &o, &op);
        return rc ? rc : Run(op, stepped);
    }
};

// ---- CopyFile ---------------------------------------------------------------------------------

TEST_F(FileOps, TreeCopiedIntoAMissingDestinationBothWays)
{
    MakeSourceTree();
    std::map<std::string, std::string> expected = Tree(P("src"));
    ASSERT_EQ(expected.size(), 7u);
    EXPECT_EQ(Copy(P("src"), P("out/run/here")), 0);
    EXPECT_EQ(Tree(P("out/run/here")), expected);

    // The same operation stepped by the script gives the same tree, a block a step.
    lvCopyOptions small;
    small.bufferSize = 4096;
    lvAsyncOperation *op = nullptr;
    ASSERT_EQ(NewCopyOperation(P("src").c_str(), P("out/stepped").c_str(), &small, &op), 0);
    int steps = 0;
    EXPECT_EQ(Run(op, true, &steps), 0);
    EXPECT_EQ(Tree(P("out/stepped")), expected);
    EXPECT_GT(steps, 40000 / 4096 + 7);
}

TEST_F(FileOps, CopyKeepsDatesAndPermissions)
{
    Write(P("tool"), "#!/bin/sh\n");
    ASSERT_EQ(chmod(P("tool").c_str(), 0750), 0);
    struct timespec times[2] = {{1000000000, 0}, {1100000000, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, P("tool").c_str(), times, 0), 0);
    EXPECT_EQ(Copy(P("tool"), P("bin")), 0);
    struct stat st;
    ASSERT_EQ(stat(P("bin/tool").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0750u);
    EXPECT_EQ(st.st_mtim.tv_sec, 1100000000);
}

TEST_F(FileOps, SingleFilesNewNamesAndFileDestinations)
{
    Write(P("one.txt"), "1");
    lvCopyOptions named;
    named.newName = "two.txt";
    EXPECT_EQ(Copy(P("one.txt"), P("dir"), named), 0);
    EXPECT_EQ(Read(P("dir/two.txt")), "1");
    lvCopyOptions fileDst;
    fileDst.fileDestination = true;
    EXPECT_EQ(Copy(P("one.txt"), P("three.txt"), fileDst), 0);
    EXPECT_EQ(Read(P("three.txt")), "1");
    lvCopyOptions both = named;
    both.fileDestination = true;
    EXPECT_EQ(Copy(P("one.txt"), P("x"), both), ERR_WRONGUSAGE);
    lvCopyOptions pattern;
    pattern.pattern = "*.txt";
    EXPECT_EQ(Copy(P("one.txt"), P("dir"), pattern), ERR_NODIRPATTERN);
    ASSERT_EQ(mkdir(P("tree").c_str(), 0755), 0);
    EXPECT_EQ(Copy(P("tree"), P("dir"), named), ERR_WRONGUSAGE);
    EXPECT_EQ(Copy("", P("dir")), ERR_WRONGUSAGE);
}

TEST_F(FileOps, ATreeIsNotCopiedIntoItself)
{
    MakeSourceTree();
    EXPECT_EQ(Copy(P("src"), P("src/sub/copy")), ERR_WRONGUSAGE);
    EXPECT_EQ(Copy(P("src"), P("src")), ERR_WRONGUSAGE);
    EXPECT_EQ(Copy(P("src/sub"), P("src-sub")), 0);  // a sibling with a longer name is fine
    EXPECT_EQ(Read(P("src-sub/b.txt")), std::string(40000, 'b'));
}

TEST_F(FileOps, MissingSourceCreatesTheDestinationThenFails)
{
    EXPECT_EQ(Copy(P("nothing"), P("made/here")), ERR_READFILE);
    EXPECT_TRUE(Exists(P("made/here")));
    EXPECT_STREQ(GetErrorState()->textArg, P("nothing").c_str());
}

TEST_F(FileOps, PatternsSelectFilesAndWithMatchDirFolders)
{
    MakeSourceTree();
    lvCopyOptions o;
    o.pattern = "*.txt";
    EXPECT_EQ(Copy(P("src/"), P("txt"), o), 0);
    // matchdir: "sub" does not match *.txt, so nothing below it is copied
    EXPECT_EQ(Tree(P("txt")), (std::map<std::string, std::string>{{"a.txt", "alpha"}}));
    o.matchDir = false;
    EXPECT_EQ(Copy(P("src"), P("all"), o), 0);
    EXPECT_EQ(Read(P("all/sub/b.txt")), std::string(40000, 'b'));
    EXPECT_FALSE(Exists(P("all/zero")));
    EXPECT_FALSE(Exists(P("all/sub/deeper/c.bin")));
}

TEST_F(FileOps, OverwriteAnswers)
{
    Write(P("s.txt"), "new");
    ASSERT_EQ(mkdir(P("d").c_str(), 0755), 0);
    struct {
        double answer;       // the answer to COPYFILE_OVERWRITE
        const char *result;  // the destination afterwards
    } cases[] = {{0, "old"}, {-1, "old"}, {1, "new"}, {5, "new"}};
    for (const auto &c : cases) {
        Write(P("d/s.txt"), "old");
        ScriptedCallback cb;
        cb.answer = [&](const lvFileOpQuestion &q) {
            return q.action == LV_COPYFILE_OVERWRITE ? Number(c.answer) : Number(0);
        };
        lvCopyOptions o;
        o.callback = &cb;
        EXPECT_EQ(Copy(P("s.txt"), P("d"), o), 0) << c.answer;
        EXPECT_EQ(Read(P("d/s.txt")), c.result) << c.answer;
        ASSERT_FALSE(cb.asked.empty());
        EXPECT_EQ(cb.asked[0].action, LV_COPYFILE_OVERWRITE);
        EXPECT_EQ(cb.asked[0].form, LV_QUESTION_PAIR);
        EXPECT_EQ(cb.asked[0].source, P("s.txt"));
        EXPECT_EQ(cb.asked[0].destination, P("d/s.txt"));
        EXPECT_EQ(cb.released, 1);
    }
}

TEST_F(FileOps, ProtectedDestinationsAskToUnprotect)
{
    Write(P("s.txt"), "new");
    ASSERT_EQ(mkdir(P("d").c_str(), 0755), 0);
    struct {
        double answer;       // the answer to COPYFILE_UNPROTECT
        const char *result;  // the destination afterwards
        bool writable;       // its owner write bit afterwards
    } cases[] = {{0, "old", false}, {-1, "old", false}, {1, "new", true}};
    for (const auto &c : cases) {
        chmod(P("d/s.txt").c_str(), 0644);
        Write(P("d/s.txt"), "old");
        ASSERT_EQ(chmod(P("d/s.txt").c_str(), 0444), 0);
        ScriptedCallback cb;
        cb.answer = [&](const lvFileOpQuestion &q) {
            return q.action == LV_COPYFILE_UNPROTECT ? Number(c.answer) : Number(2);
        };
        lvCopyOptions o;
        o.callback = &cb;
        EXPECT_EQ(Copy(P("s.txt"), P("d"), o), 0);
        EXPECT_EQ(Read(P("d/s.txt")), c.result) << c.answer;
        ASSERT_GE(cb.asked.size(), 2u);
        EXPECT_EQ(cb.asked[1].action, LV_COPYFILE_UNPROTECT);
        EXPECT_EQ(cb.asked[1].form, LV_QUESTION_DESTINATION);
        struct stat st;
        stat(P("d/s.txt").c_str(), &st);
        EXPECT_EQ((st.st_mode & S_IWUSR) != 0, c.writable) << c.answer;
    }
    // force unprotects without asking
    chmod(P("d/s.txt").c_str(), 0444);
    lvCopyOptions forced;
    forced.force = true;
    EXPECT_EQ(Copy(P("s.txt"), P("d"), forced), 0);
}

TEST_F(FileOps, StatusTrueStopsQuietlyAndNothingFails)
{
    Write(P("big"), std::string(100000, 'z'));
    ScriptedCallback stop;
    stop.answer = [](const lvFileOpQuestion &) { return Number(1); };  // True
    lvCopyOptions o;
    o.callback = &stop;
    o.bufferSize = 1000;
    EXPECT_EQ(Copy(P("big"), P("out"), o), 0);
    EXPECT_EQ(stop.Actions(), std::vector<int>{LV_COPYFILE_STATUS});
    EXPECT_EQ(stop.asked[0].copied, 1000);
    EXPECT_EQ(stop.asked[0].fileSize, 100000);
    EXPECT_EQ(stop.asked[0].form, LV_QUESTION_PROGRESS);
    EXPECT_FALSE(Exists(P("out/big")));  // the partial copy is gone

    ScriptedCallback nothing;
    nothing.answer = [](const lvFileOpQuestion &) { return lvFileOpAnswer{0, 0}; };
    o.callback = &nothing;
    EXPECT_EQ(Copy(P("big"), P("out2"), o), ERR_NUMCALLBACK);
    EXPECT_FALSE(Exists(P("out2/big")));

    // Without failonerror the failure is asked about; skipping it ends a single file.
    ScriptedCallback skip;
    skip.answer = [](const lvFileOpQuestion &q) {
        if (q.action == LV_COPYFILE_FAILED) return Number(0);
        return q.copied <= 1000 ? Number(0) : lvFileOpAnswer{0, 0};  // fails at the second block
    };
    o.callback = &skip;
    o.failOnError = false;
    for (bool stepped : {false, true}) {
        skip.asked.clear();
        EXPECT_EQ(Copy(P("big"), P("out5"), o, stepped), 0);
        EXPECT_EQ(skip.Actions(), (std::vector<int>{LV_COPYFILE_STATUS, LV_COPYFILE_STATUS, LV_COPYFILE_FAILED}));
        EXPECT_FALSE(Exists(P("out5/big")));
    }
    o.failOnError = true;

    // An error inside the callback ends the operation with it.
    ScriptedCallback failing;
    failing.error = ERR_WRONGUSAGE;
    o.callback = &failing;
    EXPECT_EQ(Copy(P("big"), P("out3"), o), ERR_WRONGUSAGE);

    // So does a quit of the run, quietly.
    ScriptedCallback quitting;
    quitting.quit = true;
    o.callback = &quitting;
    EXPECT_EQ(Copy(P("big"), P("out4"), o), 0);
    EXPECT_EQ(quitting.asked.size(), 1u);
}

TEST_F(FileOps, FailedAnswersRetrySkipOrAbort)
{
    MakeSourceTree();
    // A folder where the copy of a.txt must go blocks it.
    ASSERT_EQ(mkdir(P("dst").c_str(), 0755), 0);
    ASSERT_EQ(mkdir(P("dst/a.txt").c_str(), 0755), 0);
    ScriptedCallback retry;
    retry.answer = [&](const lvFileOpQuestion &q) {
        if (q.action == LV_COPYFILE_FAILED) {
            rmdir(P("dst/a.txt").c_str());  // clear the way, then try again
            return Number(-1);
        }
        return Number(2);  // overwrite, go on
    };
    lvCopyOptions o;
    o.failOnError = false;
    o.callback = &retry;
    EXPECT_EQ(Copy(P("src"), P("dst"), o), 0);
    EXPECT_EQ(Read(P("dst/a.txt")), "alpha");
    std::vector<int> actions = retry.Actions();
    EXPECT_EQ(std::count(actions.begin(), actions.end(), (int)LV_COPYFILE_FAILED), 1);
    EXPECT_EQ(Tree(P("dst")), Tree(P("src")));

    struct {
        lvFileOpAnswer answer;  // the answer to FAILED
        int result;             // the operation's result
        bool restCopied;        // the files after a.txt were copied
    } cases[] = {{Number(0), 0, true}, {Number(1), 0, false}, {{0, 0}, ERR_NUMCALLBACK, false}};
    for (const auto &c : cases) {
        RemoveTree(P("dst2"));
        ASSERT_EQ(mkdir(P("dst2").c_str(), 0755), 0);
        ASSERT_EQ(mkdir(P("dst2/a.txt").c_str(), 0755), 0);
        ScriptedCallback cb;
        cb.answer = [&](const lvFileOpQuestion &q) { return q.action == LV_COPYFILE_FAILED ? c.answer : Number(2); };
        o.callback = &cb;
        EXPECT_EQ(Copy(P("src"), P("dst2"), o), c.result);
        EXPECT_EQ(Exists(P("dst2/zero")), c.restCopied);
    }
    // Without a callback and without failonerror the file is skipped.
    RemoveTree(P("dst2"));
    ASSERT_EQ(mkdir(P("dst2").c_str(), 0755), 0);
    ASSERT_EQ(mkdir(P("dst2/a.txt").c_str(), 0755), 0);
    lvCopyOptions quiet;
    quiet.failOnError = false;
    EXPECT_EQ(Copy(P("src"), P("dst2"), quiet), 0);
    EXPECT_TRUE(Exists(P("dst2/sub/deeper/c.bin")));
    // With failonerror (the default) the operation ends with the error.
    EXPECT_EQ(Copy(P("src"), P("dst2")), ERR_WRITEFILE);
}

// ---- DeleteFile ---------------------------------------------------------------------------------

TEST_F(FileOps, DeleteMissingTrailingSlashAndWhole)
{
    EXPECT_EQ(Delete(P("nothing")), 0);
    lvDeleteOptions must;
    must.mustExist = true;
    EXPECT_EQ(Delete(P("nothing"), must), ERR_LOCK2);
    EXPECT_EQ(Delete(""), ERR_WRONGUSAGE);
    MakeSourceTree();
    EXPECT_EQ(Delete(P("src/")), 0);
    EXPECT_TRUE(Exists(P("src")));
    EXPECT_TRUE(Tree(P("src")).empty());
    ASSERT_EQ(mkdir(P("src/again").c_str(), 0755), 0);
    Write(P("src/again/x"), "x");
    Write(P("src/x"), "x");
    EXPECT_EQ(Delete(P("src"), {}, true), 0);
    EXPECT_FALSE(Exists(P("src")));
}

TEST_F(FileOps, DeletePatternsAndMatchDir)
{
    MakeSourceTree();
    Write(P("src/sub/keep.doc"), "k");
    lvDeleteOptions o;
    o.pattern = "*.txt";
    EXPECT_EQ(Delete(P("src"), o), 0);
    EXPECT_FALSE(Exists(P("src/a.txt")));
    EXPECT_TRUE(Exists(P("src/sub/b.txt")));  // "sub" does not match: not entered
    o.matchDir = false;
    EXPECT_EQ(Delete(P("src"), o), 0);
    EXPECT_FALSE(Exists(P("src/sub/b.txt")));
    EXPECT_TRUE(Exists(P("src/sub/keep.doc")));
    EXPECT_TRUE(Exists(P("src/sub/deeper/c.bin")));
    EXPECT_TRUE(Exists(P("src/zero")));
    EXPECT_EQ(Delete(P("src/zero"), o), ERR_NODIRPATTERN);
}

TEST_F(FileOps, ReadOnlyObjectsAndTheirQuestions)
{
    struct {
        bool callback;       // with a callback
        bool force;          // "force"
        double answer;       // the answer to UNPROTECT
        bool remains;        // the file is still there
        std::vector<int> actions;  // the questions asked
    } cases[] = {
        {false, false, 0, true, {}},
        {false, true, 0, false, {}},
        {true, false, 0, true, {LV_DELETEFILE_UNPROTECT}},
        {true, false, -1, true, {LV_DELETEFILE_UNPROTECT}},
        {true, false, 1, false, {LV_DELETEFILE_UNPROTECT, LV_DELETEFILE_STATUS}},
        {true, true, 0, false, {LV_DELETEFILE_STATUS}},
    };
    for (const auto &c : cases) {
        Write(P("ro"), "r");
        ASSERT_EQ(chmod(P("ro").c_str(), 0444), 0);
        ScriptedCallback cb;
        cb.answer = [&](const lvFileOpQuestion &q) {
            return q.action == LV_DELETEFILE_UNPROTECT ? Number(c.answer) : Number(0);
        };
        lvDeleteOptions o;
        o.force = c.force;
        if (c.callback) o.callback = &cb;
        EXPECT_EQ(Delete(P("ro"), o), 0);
        EXPECT_EQ(Exists(P("ro")), c.remains) << c.callback << c.force << c.answer;
        EXPECT_EQ(cb.Actions(), c.actions) << c.callback << c.force << c.answer;
        if (!cb.asked.empty()) {
            EXPECT_EQ(cb.asked[0].file, P("ro"));
        }
        chmod(P("ro").c_str(), 0644);
        unlink(P("ro").c_str());
    }
    // A skipped read-only file keeps its folder without an error.
    ASSERT_EQ(mkdir(P("d").c_str(), 0755), 0);
    Write(P("d/ro"), "r");
    chmod(P("d/ro").c_str(), 0444);
    EXPECT_EQ(Delete(P("d")), 0);
    EXPECT_TRUE(Exists(P("d/ro")));
}

TEST_F(FileOps, DeleteStatusOneAborts)
{
    MakeSourceTree();
    ScriptedCallback cb;
    cb.answer = [](const lvFileOpQuestion &) { return Number(1); };
    lvDeleteOptions o;
    o.callback = &cb;
    EXPECT_EQ(Delete(P("src"), o, true), 0);
    EXPECT_EQ(cb.Actions(), std::vector<int>{LV_DELETEFILE_STATUS});
    EXPECT_EQ(Tree(P("src")).size(), 7u);  // nothing went
}

// ---- MoveFile --------------------------------------------------------------------------------------

TEST_F(FileOps, MoveOnOneVolumeIsAPlainMove)
{
    MakeSourceTree();
    std::map<std::string, std::string> expected = Tree(P("src"));
    ScriptedCallback cb;
    lvMoveOptions o;
    o.callback = &cb;
    EXPECT_EQ(Move(P("src"), P("moved"), o), 0);
    EXPECT_TRUE(cb.asked.empty());
    EXPECT_FALSE(Exists(P("src")));
    EXPECT_EQ(Tree(P("moved")), expected);
    Write(P("other"), "o");
    EXPECT_EQ(Move(P("other"), P("moved")), ERR_WRONGUSAGE);  // the destination exists
    EXPECT_EQ(Move(P("nothing"), P("x")), ERR_READFILE);
    EXPECT_EQ(Move(P("other"), P("no/such/dir/x")), ERR_LOCK2);
    EXPECT_EQ(Move("/", P("root")), ERR_WRONGUSAGE);
}

TEST_F(FileOps, MoveAcrossFileSystemsCopiesThenDeletes)
{
    struct stat shm, tmp;
    if (stat("/dev/shm", &shm) != 0 || stat(root.c_str(), &tmp) != 0 || shm.st_dev == tmp.st_dev)
        GTEST_SKIP() << "/dev/shm and /tmp are one file system here";
    char other[] = "/dev/shm/lvfopsXXXXXX";
    ASSERT_NE(mkdtemp(other), nullptr);
    std::string away = other;
    for (bool stepped : {false, true}) {
        MakeSourceTree();
        std::map<std::string, std::string> expected = Tree(P("src"));
        Write(P("single"), "one file");
        ScriptedCallback cb;
        lvMoveOptions o;
        o.callback = &cb;
        EXPECT_EQ(Move(P("single"), away + "/single", o, stepped), 0);
        EXPECT_EQ(cb.Actions(), (std::vector<int>{LV_MOVEFILE_COPY, LV_MOVEFILE_DELETE}));
        EXPECT_EQ(cb.asked[1].file, P("single"));
        EXPECT_FALSE(Exists(P("single")));
        EXPECT_EQ(Read(away + "/single"), "one file");

        ScriptedCallback tree;
        o.callback = &tree;
        EXPECT_EQ(Move(P("src"), away + "/tree", o, stepped), 0);
        EXPECT_FALSE(Exists(P("src")));
        EXPECT_EQ(Tree(away + "/tree"), expected);
        // Each file: copied, then its source deleted; the folders go after their contents.
        std::vector<int> actions = tree.Actions();
        ASSERT_FALSE(actions.empty());
        EXPECT_EQ(actions.front(), LV_MOVEFILE_COPY);
        EXPECT_EQ(actions.back(), LV_MOVEFILE_DELETE);
        EXPECT_EQ(tree.asked.back().file, P("src"));
        RemoveTree(away);
        ASSERT_EQ(mkdir(away.c_str(), 0755), 0);
    }
    RemoveTree(away);
}

// ---- Rename ---------------------------------------------------------------------------------------------

TEST_F(FileOps, RenameKeepsTheDirectory)
{
    Write(P("a"), "a");
    EXPECT_EQ(RenameObject(P("a").c_str(), "elsewhere/b"), 0);
    EXPECT_EQ(Read(P("b")), "a");
    EXPECT_EQ(RenameObject(P("missing").c_str(), "c"), ERR_RENAME);
    EXPECT_EQ(RenameObject("", "c"), ERR_WRONGUSAGE);
    EXPECT_EQ(RenameObject(P("b").c_str(), ""), ERR_WRONGUSAGE);
}

// The dos library's commands and its copy, move and delete walkers with a filesystem
// adapter in their adapter list: the "memfsys" test plug-in serves "mem:" names and logs
// each of its calls with the number of user tags it was handed ($LVT_FSLOG), so every
// row shows which slot did the work and that the script's user tags reached it.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "libs/lib_dos.h"
#include "runtime/asyncop.h"
#include "runtime/libs_core.h"
#include "runtime/plugin.h"
#include "runtime/vfile.h"
#include "tests/libs/strlib_harness.h"

namespace fs = std::filesystem;

namespace {

const std::string kPluginDir = LV_TESTPLUGIN_DIR;

class FsAdapterTest : public StringLibTest {
protected:
    std::string dir;  // scratch folder: the log and native files

    void SetUp() override
    {
        StringLibTest::SetUp();
        ASSERT_EQ(OpenDosLibrary(L), 0);
        InstallPluginManager();
        SetPluginScriptState(L);
        char tmpl[] = "/tmp/lvfsysXXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
        setenv("LVT_FSLOG", (dir + "/log").c_str(), 1);
        ASSERT_EQ(LoadPluginByName(L, (kPluginDir + "/memfsys.lvp").c_str(), LV_PLF_COMMANDS, nullptr), 0);
    }

    void TearDown() override
    {
        FreeDosObjects(L, 1);
        FreeAsyncOperations(L);
        ClosePlugins();
        SetAdapterHooks(nullptr);
        unsetenv("LVT_FSLOG");
        std::error_code ec;
        fs::remove_all(dir, ec);
        StringLibTest::TearDown();
    }

    // The calls logged since the last look, one a line.
    std::string TakeLog()
    {
        std::ifstream in(dir + "/log");
        std::stringstream s;
        s << in.rdbuf();
        std::remove((dir + "/log").c_str());
        return s.str();
    }

    static lvTestArg Options(std::vector<std::pair<const char *, lvTestArg>> fields)
    {
        fields.insert(fields.begin(), {"adapter", "memfsys"});
        return FieldsArg(fields);
    }
    static lvTestArg Tags(int count)
    {
        std::vector<std::pair<const char *, lvTestArg>> tags;
        static const char *names[] = {"a", "b", "c"};
        for (int i = 0; i < count; i++) tags.push_back({names[i], i + 1});
        return FieldsArg(tags);
    }
};

TEST_F(FsAdapterTest, CommandsHandTheirWorkAndUserTagsToTheAdapter)
{
    struct Case {
        const char *command;
        std::vector<lvTestArg> args;
        const char *result;  // rendered answer
        const char *log;     // the adapter's calls
    } cases[] = {
        {"ChangeDirectory", {"mem:", Options({{"usertags", Tags(1)}})}, "", "ChangeDir mem: tags=1\n"},
        {"GetCurrentDirectory", {Options({{"usertags", Tags(2)}})}, "'mem:'", "GetCurDir mem: tags=2\n"},
        {"ChangeDirectory", {"/tmp", Options({})}, "error 1630", "ChangeDir /tmp tags=0\n"},
        {"MakeDirectory", {"mem:made", Options({{"usertags", Tags(3)}})}, "", "MakeDir mem:made tags=3\n"},
        {"MakeDirectory", {"mem:", Options({})}, "", ""},  // exists: nothing to make
        {"MakeDirectory", {"/nowhere", Options({})}, "error 1084", "MakeDir /nowhere tags=0\n"},
        {"Rename", {"mem:hello.txt", "greeting.txt", Options({{"usertags", Tags(1)}})}, "",
         "RenameFSObj mem:hello.txt greeting.txt tags=1\n"},
        {"Rename", {"mem:missing", "x", Options({})}, "error 1145", "RenameFSObj mem:missing x tags=0\n"},
        {"SetFileAttributes", {"mem:numbers.bin", Options({{"flags", 32768}, {"usertags", Tags(2)}})}, "",
         "SetFSObjAttributes mem:numbers.bin tags=2 which=1\n"},
        {"SetFileAttributes", {"mem:missing", Options({{"flags", 32768}})}, "error 1286", ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.command);
        EXPECT_EQ(Call(c.command, c.args), c.result);
        EXPECT_EQ(TakeLog(), c.log);
    }
    // The renamed object is found under its new name only.
    EXPECT_EQ(Call("GetFileAttributes", {"mem:hello.txt", "memfsys"}), "error 1045");
    EXPECT_NE(Call("GetFileAttributes", {"mem:greeting.txt", "memfsys"}).rfind("error", 0), 0u);
    // Without the adapter in the list the same names are nobody's.
    EXPECT_EQ(Call("ChangeDirectory", {"mem:"}), "error 1630");
    EXPECT_EQ(TakeLog(), "");
}

TEST_F(FsAdapterTest, DeleteMoveAndCopyWalkersUseTheAdapterSlots)
{
    // Delete: a protected file goes with "force" through SetFSObjAttributes, then DeleteFSObj.
    EXPECT_EQ(Call("SetFileAttributes", {"mem:hello.txt", Options({{"flags", 32768}})}), "");
    TakeLog();
    EXPECT_EQ(Call("DeleteFile", {"mem:hello.txt", Options({{"force", 1}, {"usertags", Tags(1)}})}), "");
    EXPECT_EQ(TakeLog(), "SetFSObjAttributes mem:hello.txt tags=1 which=1\nDeleteFSObj mem:hello.txt tags=1\n");
    EXPECT_EQ(Call("GetFileAttributes", {"mem:hello.txt", "memfsys"}), "error 1045");

    // Move: the adapter moves directly.
    EXPECT_EQ(Call("MoveFile", {"mem:numbers.bin", "mem:moved.bin", Options({{"usertags", Tags(2)}})}), "");
    EXPECT_EQ(TakeLog(), "MoveFSObj mem:numbers.bin mem:moved.bin tags=2\n");
    EXPECT_EQ(Call("GetFileAttributes", {"mem:numbers.bin", "memfsys"}), "error 1045");
    EXPECT_EQ(Call("GetFileAttributes", {"mem:moved.bin", "memfsys"}), "{}");

    // Copy of a folder into the adapter's namespace: the destination directory gets its
    // source's attributes through SetFSObjAttributes (request 4).
    fs::create_directory(dir + "/tree");
    std::ofstream(dir + "/tree/a.txt") << "abc";
    std::string result = Call("CopyFile", {dir + "/tree", "mem:", FieldsArg({{"dstadapter", "memfsys"}, {"dstusertags", Tags(1)}})});
    std::string log = TakeLog();
    EXPECT_NE(log.find("SetFSObjAttributes mem: tags=1 which=4\n"), std::string::npos) << log << result;
}

} // namespace

// Preferences files: JSON and "PRFS" round trips, the file's first bytes, loading
// into an existing table, a failed save that keeps the old file, identifier names.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "core4_support.h"
#include "libs/prefs_engine.h"
#include "base/lverrors.h"

namespace {

int FilesBeside(const std::string &path)
{
    auto it = std::filesystem::directory_iterator(std::filesystem::path(path).parent_path());
    return int(std::distance(begin(it), end(it)));
}

void PushSample(lvState *L)
{
    PushNewTable(L);
    SetStringString(L, "name", "Ada");
    SetStringNumber(L, "volume", 0.75);
    PushString(L, "list");
    PushNewTable(L);
    SetNumberNumber(L, 0, 1);
    SetNumberNumber(L, 1, 2);
    SetTableValue(L, -3);
}

TEST(Prefs, RoundTripInBothForms)
{
    struct Case {
        const char *serializer;
        const char *firstBytes;
    };
    const Case cases[] = {{nullptr, "{\r\n"}, {"", "{\r\n"}, {"default", "{\r\n"}, {"inbuilt", "PRFS"}, {"InBuilt", "PRFS"}};
    for (const Case &c : cases) {
        TestMachine m;
        lvState *L = m.L;
        std::string path = TempFolder() + "/org.example.app";
        PushSample(L);
        ASSERT_EQ(WritePrefsFile(L, path.c_str(), 1, c.serializer, nullptr), 0);
        EXPECT_EQ(ReadWholeFile(path).substr(0, 4).substr(0, std::string(c.firstBytes).size()), c.firstBytes);
        // Into a new table.
        ASSERT_EQ(ReadPrefsFile(L, path.c_str(), 0, c.serializer, nullptr), 0);
        EXPECT_EQ(DescribeTable(L, 2), DescribeTable(L, 1));
        // Into a given table: its other entries stay.
        PushNewTable(L);
        SetStringString(L, "other", "kept");
        ASSERT_EQ(ReadPrefsFile(L, path.c_str(), 3, c.serializer, nullptr), 0);
        EXPECT_EQ(GetStackTop(L), 3);
        EXPECT_EQ(DescribeTable(L, 3),
                  "{\"list\"={0=1,1=2},\"name\"=\"Ada\",\"other\"=\"kept\",\"volume\"=0.75}");
        // No temporary file is left beside it.
        EXPECT_EQ(FilesBeside(path), 1);
    }
}

TEST(Prefs, MissingAndForeignFiles)
{
    TestMachine m;
    lvState *L = m.L;
    std::string folder = TempFolder();
    std::string path = folder + "/none";
    EXPECT_EQ(ReadPrefsFile(L, path.c_str(), 0, nullptr, nullptr), ERR_READFILE);
    EXPECT_STREQ(gVMRun.errorStringArg, path.c_str());
    EXPECT_EQ(GetStackTop(L), 0);
    // A "PRFS" file asked for through JSON is parsed as JSON and fails.
    PushSample(L);
    ASSERT_EQ(WritePrefsFile(L, path.c_str(), 1, "inbuilt", nullptr), 0);
    EXPECT_EQ(ReadPrefsFile(L, path.c_str(), 0, "default", nullptr), ERR_DESERIALIZE);
    EXPECT_EQ(GetStackTop(L), 1);
    // A JSON file read with the built-in serializer named is still JSON.
    ASSERT_EQ(WritePrefsFile(L, path.c_str(), 1, nullptr, nullptr), 0);
    EXPECT_EQ(ReadPrefsFile(L, path.c_str(), 0, "inbuilt", nullptr), 0);
    EXPECT_EQ(DescribeTable(L, 2), DescribeTable(L, 1));
    // A folder that does not exist cannot take the file.
    EXPECT_EQ(WritePrefsFile(L, (folder + "/no/such").c_str(), 1, nullptr, nullptr), ERR_WRITEFILE);
}

TEST(Prefs, FailedSaveKeepsTheOldFile)
{
    for (const char *serializer : {"default", "inbuilt"}) {
        TestMachine m;
        lvState *L = m.L;
        std::string path = TempFolder() + "/app";
        PushSample(L);
        ASSERT_EQ(WritePrefsFile(L, path.c_str(), 1, serializer, nullptr), 0);
        std::string before = ReadWholeFile(path);
        // A table that cannot be stored fails half-way.
        PushNewTable(L);
        SetStringString(L, "a", std::string(5000, 'x'));
        PushString(L, "b");
        PushBoolean(L, 1);
        SetTableValue(L, -3);
        EXPECT_EQ(WritePrefsFile(L, path.c_str(), 2, serializer, nullptr), ERR_WRONGUSAGE);
        EXPECT_EQ(ReadWholeFile(path), before);
        EXPECT_EQ(FilesBeside(path), 1);
    }
}

TEST(Prefs, IdentifierBecomesAFileName)
{
    struct Case {
        const char *identifier;
        int rc;
        const char *name;
    };
    const Case cases[] = {
        {"org.example.app", 0, "org.example.app"},
        {"../../etc/passwd", 0, "etcpasswd"},
        {"a/b\\c", 0, "abc"},
        {".../x", 0, ".x"},
        {"....", ERR_WRONGUSAGE, ""},
        {"", ERR_WRONGUSAGE, ""},
        {"/", ERR_WRONGUSAGE, ""},
    };
    for (const Case &c : cases) {
        char buffer[256] = "";
        EXPECT_EQ(PrefsFileName(c.identifier, buffer, sizeof buffer), c.rc) << c.identifier;
        if (!c.rc) {
            EXPECT_STREQ(buffer, c.name);
        }
    }
    char path[64];
    EXPECT_EQ(BuildPrefsPath("/cfg/Preferences", "x/y", path, sizeof path), 0);
    EXPECT_STREQ(path, "/cfg/Preferences/xy");
    EXPECT_EQ(BuildPrefsPath("/cfg/Preferences", "", path, sizeof path), ERR_WRONGUSAGE);
}

}  // namespace

// The emulated registry: values of every type, level-by-level creation, errors that
// name the path, enumeration order, the read-only roots, a store that a second
// process reads, and shortcuts as symbolic links.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "core4_support.h"
#include "libs/registry_engine.h"
#include "base/lverrors.h"

namespace {

struct Store {
    std::string folder = TempFolder() + "/HKCU";
    Store() { SetRegistryStoreFolder(folder.c_str()); }
    ~Store() { SetRegistryStoreFolder(nullptr); }
};

TEST(Registry, ThreeLevelWriteAndValueTypes)
{
    Store store;
    ASSERT_EQ(WriteRegistryPath(LV_HKEY_CURRENT_USER, "Software/Lumi\\Test/Count", nullptr, 0, 5, 1), 0);
    lvRegistryValue v{};
    ASSERT_EQ(ReadRegistryPath(LV_HKEY_CURRENT_USER, "Software\\Lumi\\Test\\Count", &v), 0);
    EXPECT_EQ(v.isNumber, 1);
    EXPECT_EQ(v.number, 5);
    // Root 7 is the current user's; names match without regard to case.
    v = {};
    ASSERT_EQ(ReadRegistryPath(7, "software/LUMI/test/count", &v), 0);
    EXPECT_EQ(v.number, 5);
    // Numbers keep their low 32 bits.
    ASSERT_EQ(WriteRegistryPath(4, "Software/Lumi/Big", nullptr, 0, 4294967295.0, 1), 0);
    ASSERT_EQ(ReadRegistryPath(4, "Software/Lumi/Big", &v), 0);
    EXPECT_EQ(v.number, 4294967295.0);
    ASSERT_EQ(WriteRegistryPath(4, "Software/Lumi/Neg", nullptr, 0, -1, 1), 0);
    ASSERT_EQ(ReadRegistryPath(4, "Software/Lumi/Neg", &v), 0);
    EXPECT_EQ(v.number, 4294967295.0);
    // Text, and text with a zero byte (binary), come back byte for byte.
    std::string text = "Gr\xc3\xbc\xc3\x9f" "e";
    ASSERT_EQ(WriteRegistryPath(4, "Software/Lumi/Text", text.data(), text.size(), 0, 0), 0);
    v = {};
    ASSERT_EQ(ReadRegistryPath(4, "Software/Lumi/Text", &v), 0);
    EXPECT_EQ(v.isNumber, 0);
    EXPECT_EQ(v.bytes, text);
    std::string binary("a\0b\xff", 4);
    ASSERT_EQ(WriteRegistryPath(4, "Software/Lumi/Bin", binary.data(), binary.size(), 0, 0), 0);
    ASSERT_EQ(ReadRegistryPath(4, "Software/Lumi/Bin", &v), 0);
    EXPECT_EQ(v.bytes, binary);
    // Stored forms the writer does not make: big-endian numbers, text without its zero.
    lvRegKeyHandle *h = OpenRegKeyHandle(4, "Software\\Lumi", LV_REGKEY_ALL);
    ASSERT_NE(h, nullptr);
    const unsigned char be[4] = {0x12, 0x34, 0x56, 0x78};
    ASSERT_EQ(WriteRegistryRawValue(h, "BE", LV_REG_DWORD_BIG_ENDIAN, be, 4), 1);
    const char sz[] = {'a', 0, 'b', 0};
    ASSERT_EQ(WriteRegistryRawValue(h, "NoZero", LV_REG_SZ, sz, 4), 1);
    CloseRegKeyHandle(h);
    ASSERT_EQ(ReadRegistryPath(4, "Software/Lumi/BE", &v), 0);
    EXPECT_EQ(v.number, double(0x12345678));
    v = {};
    ASSERT_EQ(ReadRegistryPath(4, "Software/Lumi/NoZero", &v), 0);
    EXPECT_EQ(v.bytes, "ab");
    // Overwriting keeps one value of that name.
    ASSERT_EQ(WriteRegistryPath(4, "Software/Lumi/TEXT", "new", 3, 0, 0), 0);
    ASSERT_EQ(ReadRegistryPath(4, "Software/Lumi/Text", &v), 0);
    EXPECT_EQ(v.bytes, "new");
}

TEST(Registry, ErrorsNameThePath)
{
    Store store;
    lvRegistryValue v{};
    EXPECT_EQ(ReadRegistryPath(4, "Software/None/Value", &v), ERR_REGISTRYREAD);
    EXPECT_STREQ(gVMRun.errorStringArg, "Software\\None");
    ASSERT_EQ(CreateRegistryPath(4, "Software/Here"), 0);
    EXPECT_EQ(ReadRegistryPath(4, "Software/Here/Missing", &v), ERR_REGISTRYREAD);
    EXPECT_STREQ(gVMRun.errorStringArg, "Software\\Here\\Missing");
    // The other roots can be opened and hold nothing.
    for (int root = 0; root < 4; root++) {
        EXPECT_EQ(WriteRegistryPath(root, "Software/X/V", "a", 1, 0, 0), ERR_REGISTRYWRITE) << root;
        EXPECT_EQ(ReadRegistryPath(root, "Software/X/V", &v), ERR_REGISTRYREAD) << root;
        lvRegKeyHandle *h;
        ASSERT_EQ(OpenRegistryPath(root, "", &h), 0);
        std::string name;
        int kind;
        ASSERT_EQ(NextRegistryEntry(h, name, &kind), 0);
        EXPECT_EQ(kind, -1);
        CloseRegKeyHandle(h);
    }
    // Names that are no file names stay names.
    ASSERT_EQ(WriteRegistryPath(4, "Software/../%2E/=values", "x", 1, 0, 0), 0);
    ASSERT_EQ(ReadRegistryPath(4, "Software\\..\\%2E\\=values", &v), 0);
    EXPECT_EQ(v.bytes, "x");
    struct stat st;
    EXPECT_NE(stat((store.folder + "/../x").c_str(), &st), 0);
}

TEST(Registry, EnumerationListsKeysThenValues)
{
    Store store;
    ASSERT_EQ(WriteRegistryPath(4, "App/v1", "a", 1, 0, 0), 0);
    ASSERT_EQ(CreateRegistryPath(4, "App/Zeta"), 0);
    ASSERT_EQ(WriteRegistryPath(4, "App/v2", nullptr, 0, 2, 1), 0);
    ASSERT_EQ(CreateRegistryPath(4, "App/alpha/deeper"), 0);
    ASSERT_EQ(WriteRegistryPath(4, "App/v3", "c", 1, 0, 0), 0);
    lvRegKeyHandle *h;
    ASSERT_EQ(OpenRegistryPath(4, "App", &h), 0);
    std::vector<std::pair<std::string, int>> seen;
    for (int i = 0; i < 7; i++) {
        std::string name;
        int kind;
        ASSERT_EQ(NextRegistryEntry(h, name, &kind), 0);
        seen.push_back({name, kind});
    }
    CloseRegKeyHandle(h);
    std::vector<std::pair<std::string, int>> expected = {{"alpha", 1}, {"Zeta", 1}, {"v1", 0}, {"v2", 0},
                                                         {"v3", 0},    {"", -1},    {"", -1}};
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(OpenRegistryPath(4, "App/none", &h), ERR_REGISTRYREAD);
}

// Run by the test below in a child process of its own.
TEST(Registry, ChildProcessReads)
{
    const char *folder = std::getenv("LV_TEST_REGISTRY_STORE");
    if (!folder) GTEST_SKIP() << "runs as the child of StoreSurvivesIntoAnotherProcess";
    SetRegistryStoreFolder(folder);
    lvRegistryValue v{};
    ASSERT_EQ(ReadRegistryPath(4, "One/Two/Three", &v), 0);
    EXPECT_EQ(v.bytes, "from the parent");
    ASSERT_EQ(ReadRegistryPath(4, "One/Two/Number", &v), 0);
    EXPECT_EQ(v.number, 1234);
    ASSERT_EQ(WriteRegistryPath(4, "One/Reply", "from the child", 14, 0, 0), 0);
}

TEST(Registry, StoreSurvivesIntoAnotherProcess)
{
    Store store;
    ASSERT_EQ(WriteRegistryPath(4, "One/Two/Three", "from the parent", 15, 0, 0), 0);
    ASSERT_EQ(WriteRegistryPath(4, "One/Two/Number", nullptr, 0, 1234, 1), 0);
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        setenv("LV_TEST_REGISTRY_STORE", store.folder.c_str(), 1);
        execl("/proc/self/exe", "registry_child", "--gtest_filter=Registry.ChildProcessReads", (char *)nullptr);
        _exit(127);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    lvRegistryValue v{};
    ASSERT_EQ(ReadRegistryPath(4, "One/Reply", &v), 0);
    EXPECT_EQ(v.bytes, "from the child");
}

TEST(Shortcuts, SymbolicLinksResolve)
{
    std::string folder = TempFolder();
    std::string target = folder + "/target.txt";
    WriteWholeFile(target, "x");
    std::string link = folder + "/link";
    ASSERT_EQ(CreateShellLink(target.c_str(), link.c_str(), "A description"), 0);
    char path[1024], description[1024];
    ASSERT_EQ(ReadShellLink(link.c_str(), path, sizeof path, description, sizeof description), 0);
    EXPECT_EQ(std::string(path), target);
    EXPECT_STREQ(description, "");
    // A relative link resolves against its folder; an existing link is replaced.
    ASSERT_EQ(CreateShellLink("target.txt", link.c_str(), ""), 0);
    ASSERT_EQ(ReadShellLink(link.c_str(), path, sizeof path, description, sizeof description), 0);
    EXPECT_EQ(std::string(path), target);
    // A missing target gives the link's own text.
    ASSERT_EQ(CreateShellLink("/no/such/file", link.c_str(), ""), 0);
    ASSERT_EQ(ReadShellLink(link.c_str(), path, sizeof path, description, sizeof description), 0);
    EXPECT_STREQ(path, "/no/such/file");
    EXPECT_EQ(ReadShellLink(target.c_str(), path, sizeof path, description, sizeof description), ERR_GETSHORTCUT);
    EXPECT_EQ(ReadShellLink((folder + "/none").c_str(), path, sizeof path, description, sizeof description),
              ERR_GETSHORTCUT);
    EXPECT_EQ(CreateShellLink(target.c_str(), (folder + "/no/such/link").c_str(), ""), ERR_CREATESHORTCUT);
}

}  // namespace

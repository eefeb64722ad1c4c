// Tests of the platform's paths, files, byte windows, locks and folders.
#include "files_fixture.h"
#include "platform/lvplatform.h"
#include "base/lverrors.h"

#include <gtest/gtest.h>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <unistd.h>

namespace {

TEST(PlatformPaths, SeparatorsHomeAndCase)
{
    ScratchDir dir;
    dir.Write("Data/Images/Logo.PNG", "png");
    char sys[LV_PATH_SIZE];
    // Backslashes and a case-different spelling find the file.
    std::string asked = dir.path + "\\data\\IMAGES\\logo.png";
    ASSERT_TRUE(ToSystemPath(asked.c_str(), sys, sizeof sys, 1));
    EXPECT_EQ(std::string(sys), dir.Join("Data/Images/Logo.PNG"));
    // An exact match wins over a case variant.
    dir.Write("Data/Images/logo.png", "exact");
    ASSERT_TRUE(ToSystemPath((dir.path + "/Data/Images/logo.png").c_str(), sys, sizeof sys, 1));
    EXPECT_EQ(std::string(sys), dir.Join("Data/Images/logo.png"));
    // A missing tail keeps its spelling below the matched folders (new files).
    ASSERT_TRUE(ToSystemPath((dir.path + "/DATA/new/File.txt").c_str(), sys, sizeof sys, 1));
    EXPECT_EQ(std::string(sys), dir.Join("Data/new/File.txt"));
    // "~" is the home folder; chunk names pass unchanged.
    ASSERT_TRUE(ToSystemPath("~/x\\y", sys, sizeof sys, 1));
    EXPECT_EQ(std::string(sys), std::string(GetHomeFolder()) + "/x/y");
    ASSERT_TRUE(ToSystemPath(":::chunk1:2*a\\b?c", sys, sizeof sys, 1));
    EXPECT_STREQ(sys, ":::chunk1:2*a\\b?c");

    lvOsFile *f = OpenOsFile((dir.path + "/data/images/LOGO.png").c_str(), LVOS_OPEN_READ);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(GetOsFileSize(f), 3);
    CloseOsFile(f);
}

TEST(PlatformPaths, LongPathsAreRefusedNotCut)
{
    ScratchDir dir;
    std::string longName = dir.path;
    while (longName.size() < 1100) longName += "/" + std::string(50, 'a');
    char sys[LV_PATH_SIZE];
    EXPECT_FALSE(ToSystemPath(longName.c_str(), sys, sizeof sys, 1));
    EXPECT_STREQ(sys, "");
    EXPECT_EQ(OpenOsFile(longName.c_str(), LVOS_OPEN_WRITE), nullptr);
    // Nothing was made under a cut name either.
    EXPECT_TRUE(std::filesystem::is_empty(dir.path));
    char full[LV_PATH_SIZE];
    EXPECT_FALSE(GetFullPath(longName.c_str(), full, sizeof full));
}

TEST(PlatformPaths, FullPathFoldsDots)
{
    char full[LV_PATH_SIZE];
    ASSERT_TRUE(GetFullPath("/a/./b/../c//d/", full, sizeof full));
    EXPECT_STREQ(full, "/a/c/d");
    char cwd[LV_PATH_SIZE];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    ASSERT_TRUE(GetFullPath("x.txt", full, sizeof full));
    EXPECT_EQ(std::string(full), std::string(cwd) + "/x.txt");
}

TEST(PlatformFiles, WindowOfAContainer)
{
    ScratchDir dir;
    std::vector<uint8_t> data = Pattern(300, 3);
    std::string container = dir.Write("c.bin", data);
    std::string name = ":::chunk50:100*w.bin?" + container;
    lvOsFile *f = OpenOsFile(name.c_str(), LVOS_OPEN_READ);
    ASSERT_NE(f, nullptr);
    uint8_t buf[200];
    EXPECT_EQ(SeekOsFile(f, 80, 1), 0);
    EXPECT_EQ(ReadOsFile(f, buf, 200), 20u);
    EXPECT_EQ(buf[0], data[130]);
    EXPECT_EQ(GetCOsFile(f), -1);
    SeekOsFile(f, 10, 2);
    EXPECT_EQ(SeekOsFile(f, 0, 0), 100);
    SeekOsFile(f, -500, 0);
    EXPECT_EQ(SeekOsFile(f, 0, 0), 0);
    EXPECT_EQ(GetCOsFile(f), data[50]);
    lvFileInfo info;
    ASSERT_TRUE(StatOpenFile(f, &info));
    EXPECT_EQ(info.size, 100);
    CloseOsFile(f);
}

TEST(PlatformFiles, ModesAndStandardStreams)
{
    ScratchDir dir;
    std::string path = dir.Join("made.txt");
    // Update on a missing file creates it empty for reading and writing.
    lvOsFile *f = OpenOsFile(path.c_str(), LVOS_OPEN_CREATE);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(GetOsFileSize(f), 0);
    EXPECT_EQ(WriteOsFile(f, "hello", 5), 5u);
    SeekOsFile(f, 1, 1);
    EXPECT_EQ(GetCOsFile(f), 'e');
    EXPECT_TRUE(PutCOsFile(f, 'X')); // read then write
    SeekOsFile(f, 0, 1);
    char text[6] = {};
    EXPECT_EQ(ReadOsFile(f, text, 5), 5u);
    EXPECT_STREQ(text, "heXlo");
    // Seeking a writable file past its end stops at the end: no holes.
    SeekOsFile(f, 100, 1);
    EXPECT_EQ(SeekOsFile(f, 0, 0), 5);
    CloseOsFile(f);
    EXPECT_EQ(OpenOsFile(dir.Join("missing").c_str(), LVOS_OPEN_READ), nullptr);
    EXPECT_EQ(OpenOsFile(dir.path.c_str(), LVOS_OPEN_READ), nullptr); // a directory is no file

    EXPECT_EQ(OpenOsFile("::stdin", LVOS_OPEN_WRITE), nullptr);
    EXPECT_EQ(OpenOsFile("::stdout", LVOS_OPEN_READ), nullptr);
    EXPECT_EQ(OpenOsFile("::stdfoo", LVOS_OPEN_READ), nullptr);
    f = OpenOsFile("::stdout", LVOS_OPEN_WRITE);
    ASSERT_NE(f, nullptr);
    EXPECT_TRUE(f->standardFlag);
    EXPECT_TRUE(CloseOsFile(f));
    EXPECT_GE(std::fputs("", stdout), 0); // still open
}

TEST(PlatformLocks, ScanFlagsAndFinalPath)
{
    ScratchDir dir;
    for (const char *n : {"zeta", "Alpha", "beta", "sub/x"}) dir.Write(std::string("d/") + n, "1");
    lvOsLock *lock = LockFSObject(dir.Join("d").c_str(), LVOS_LOCK_READ);
    ASSERT_NE(lock, nullptr);
    std::vector<std::string> names;
    const char *name;
    int isDir;
    lvFileInfo info;
    while (ReadNextDirEntry(lock, 0, &name, &isDir, &info)) names.push_back(name);
    EXPECT_EQ(names, (std::vector<std::string>{"Alpha", "beta", "sub", "zeta"}));
    EXPECT_EQ(ReadNextDirEntry(lock, 0, &name, &isDir, &info), 0);
    ASSERT_TRUE(RestartDirScan(lock));
    ASSERT_TRUE(ReadNextDirEntry(lock, 1, &name, &isDir, &info));
    EXPECT_STREQ(name, "Alpha");
    CloseFSObjLock(lock);

    testing::internal::CaptureStdout();
    EXPECT_EQ(LockFSObject(dir.Join("d").c_str(), LVOS_LOCK_WRITE), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "LVOS_LOCK_WRITE unsupported.\n");
    EXPECT_EQ(LockFSObject(dir.Join("d").c_str(), LVOS_LOCK_NODIRS), nullptr);
    EXPECT_EQ(LockFSObject(dir.Join("d/beta").c_str(), LVOS_LOCK_NOFILES), nullptr);
    EXPECT_EQ(LockFSObject(dir.Join("d/none").c_str(), LVOS_LOCK_READ), nullptr);

    // The final path through a short link is longer than the name asked for.
    std::string deep = dir.Join(std::string(200, 'q') + "/" + std::string(200, 'r'));
    std::filesystem::create_directories(deep);
    std::filesystem::create_directory_symlink(deep, dir.Join("s"));
    lock = LockFSObject(dir.Join("s").c_str(), LVOS_LOCK_READ | LVOS_LOCK_FINAL);
    ASSERT_NE(lock, nullptr);
    char path[LV_PATH_SIZE];
    ASSERT_TRUE(GetLockPath(lock, path, sizeof path));
    EXPECT_EQ(std::string(path), std::filesystem::canonical(deep).string());
    CloseFSObjLock(lock);
}

TEST(PlatformFolders, XdgFoldersAndPreferences)
{
    ScratchDir dir;
    setenv("XDG_DATA_HOME", dir.Join("data").c_str(), 1);
    setenv("XDG_CACHE_HOME", dir.Join("cache").c_str(), 1);
    setenv("XDG_CONFIG_HOME", dir.Join("config").c_str(), 1);
    setenv("XDG_DATA_DIRS", "relative:/usr/share/one:/usr/share/two", 1);
    char buf[LV_PATH_SIZE];
    ASSERT_TRUE(GetSystemFolderPath(3, buf, sizeof buf));
    EXPECT_EQ(std::string(buf), dir.Join("data"));
    ASSERT_TRUE(GetSystemFolderPath(4, buf, sizeof buf));
    EXPECT_STREQ(buf, "/usr/share/one");
    ASSERT_TRUE(GetSystemFolderPath(14, buf, sizeof buf));
    EXPECT_EQ(std::string(buf), dir.Join("cache"));
    ASSERT_TRUE(GetPrefsFolder(buf, sizeof buf));
    EXPECT_EQ(std::string(buf), dir.Join("config/KelmartDunvaley/Lumivarra/Preferences"));
    EXPECT_TRUE(std::filesystem::is_directory(buf));
    std::strcpy(buf, "unchanged");
    EXPECT_FALSE(GetSystemFolderPath(99, buf, sizeof buf));
    EXPECT_STREQ(buf, "unchanged");
    unsetenv("XDG_DATA_HOME");
    unsetenv("XDG_CACHE_HOME");
    unsetenv("XDG_CONFIG_HOME");
    unsetenv("XDG_DATA_DIRS");
    ASSERT_TRUE(GetSystemFolderPath(3, buf, sizeof buf));
    EXPECT_EQ(std::string(buf), std::string(GetHomeFolder()) + "/.local/share");
}

TEST(PlatformObjects, CreateRenameDeleteAndDates)
{
    ScratchDir dir;
    EXPECT_EQ(CreateFSDirectory(dir.Join("new").c_str()), 0);
    EXPECT_EQ(CreateFSDirectory(dir.Join("new").c_str()), ERR_CREATEDIR);
    dir.Write("new/f.txt", "x");
    EXPECT_FALSE(DeleteFSObject(dir.Join("new").c_str())); // not empty
    EXPECT_TRUE(RenameFSObject(dir.Join("new/f.txt").c_str(), dir.Join("g.txt").c_str()));
    EXPECT_TRUE(DeleteFSObject(dir.Join("new").c_str()));
    EXPECT_FALSE(DeleteFSObject(dir.Join("new").c_str()));

    lvFileInfo info = {};
    lvFileDate date = {5, 4, 3, 2, 1, 2020}, back;
    ASSERT_TRUE(DateToFileTime(&date, &info, 2));
    ASSERT_TRUE(SetFileTimes(dir.Join("g.txt").c_str(), nullptr, nullptr, &info.writeTime));
    lvOsLock *lock = LockFSObject(dir.Join("g.txt").c_str(), LVOS_LOCK_READ);
    ASSERT_NE(lock, nullptr);
    ExamineFSObj(lock, &info);
    FileTimeToDate(&info, &back, 2);
    EXPECT_EQ(std::memcmp(&date, &back, sizeof date), 0);
    EXPECT_EQ(info.attributes & LV_FILEATTR_READONLY, 0u);
    CloseFSObjLock(lock);
    EXPECT_TRUE(SetFSObjectFlags(dir.Join("g.txt").c_str(), LV_FILEATTR_READONLY));
    lock = LockFSObject(dir.Join("g.txt").c_str(), LVOS_LOCK_READ);
    ASSERT_NE(lock, nullptr);
    ExamineFSObj(lock, &info);
    EXPECT_NE(info.attributes & LV_FILEATTR_READONLY, 0u);
    CloseFSObjLock(lock);
    EXPECT_FALSE(FileTimeToDate(&info, &back, 7));
    EXPECT_EQ(back.year, 2000);

    char previous[LV_PATH_SIZE];
    EXPECT_EQ(ChangeCurrentDir(dir.path.c_str(), previous, sizeof previous), 0);
    EXPECT_EQ(ChangeCurrentDir(previous, nullptr, 0), 0);
    EXPECT_EQ(ChangeCurrentDir(dir.Join("none").c_str(), nullptr, 0), ERR_CHANGEDIR);
}

} // namespace

namespace {

TEST(PlatformFiles, Latin1NamesReachUtf8Files)
{
    ScratchDir dir;
    dir.Write("caf\xC3\xA9.txt", "latte");
    std::string latin1 = dir.path + "/caf\xE9.txt";
    SetScriptEncoding(0);
    lvOsFile *f = OpenOsFile(latin1.c_str(), LVOS_OPEN_READ);
    SetScriptEncoding(1);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(std::string(f->name), dir.Join("caf\xC3\xA9.txt")); // converted once, not twice
    EXPECT_EQ(GetOsFileSize(f), 5);
    CloseOsFile(f);
    // A forced UTF-8 name is taken as it is.
    SetScriptEncoding(0);
    f = OpenOsFile(dir.Join("caf\xC3\xA9.txt").c_str(), LVOS_OPEN_READ | LVOS_OPEN_UTF8);
    SetScriptEncoding(1);
    ASSERT_NE(f, nullptr);
    CloseOsFile(f);
}

TEST(PlatformFiles, SeeksAndSizesBeyond4GB)
{
    ScratchDir dir;
    std::string path = dir.Join("big.bin");
    const int64_t size = (int64_t)5 << 30; // sparse: no disk space is used
    {
        FILE *out = std::fopen(path.c_str(), "wb");
        ASSERT_NE(out, nullptr);
        ASSERT_EQ(ftruncate(fileno(out), size), 0);
        ASSERT_EQ(fseeko(out, size - 3, SEEK_SET), 0);
        std::fputs("end", out);
        std::fclose(out);
    }
    lvOsFile *f = OpenOsFile(path.c_str(), LVOS_OPEN_READ);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(GetOsFileSize(f), size);
    EXPECT_EQ(SeekOsFile(f, -3, 2), 0);
    char text[4] = {};
    EXPECT_EQ(ReadOsFile(f, text, 3), 3u);
    EXPECT_STREQ(text, "end");
    EXPECT_EQ(SeekOsFile(f, (int64_t)1 << 32, 1), size);
    EXPECT_EQ(GetCOsFile(f), 0);
    EXPECT_EQ(SeekOsFile(f, 0, 0), ((int64_t)1 << 32) + 1);
    CloseOsFile(f);
}

} // namespace

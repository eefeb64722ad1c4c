// The dos library's engines called from C++ without the script machine: path texts,
// canonical paths, attribute changes, whole files, checksums, typed numbers of file
// handles and directory handles over scanned directories and linked trees.
#include <gtest/gtest.h>
#include <zlib.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "base/lverrors.h"
#include "libs/dos_dirs.h"
#include "libs/dos_engine.h"
#include "libs/dos_paths.h"
#include "libs/lib_dos.h"
#include "runtime/container.h"
#include "platform/lvplatform.h"

namespace fs = std::filesystem;

namespace {

int NoCopy(void *, int) { return -1; }
void NoRelease(void *, int) {}
const lvRefOps kNoRefs = {nullptr, NoCopy, NoRelease};

void WriteAll(const std::string &path, const std::string &data)
{
    std::ofstream out(path, std::ios::binary);
    out << data;
}

std::string ReadAll(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

class DosEngines : public testing::Test {
protected:
    std::string dir;  // a fresh directory, its real path
    void SetUp() override
    {
        char tmpl[] = "/tmp/lvdoseXXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        char real[PATH_MAX];
        ASSERT_NE(realpath(tmpl, real), nullptr);
        dir = real;
    }
    void TearDown() override
    {
        FreeFileHandles(&kNoRefs);
        FreeDirectoryHandles(&kNoRefs);
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
    std::string P(const std::string &name) const { return dir + "/" + name; }
};

}  // namespace

// ==== Path texts ====================================================================================

TEST(DosPathTexts, PathPartsJoinsAndAbsoluteness)
{
    struct {
        const char *path;
        size_t part;  // PathPart's length
        bool absolute;
    } cases[] = {
        {"a/b/c.txt", 4, false}, {"/x", 0, true},       {"//a/b", 4, true},   {"dh0:file", 4, true},
        {"a\\b", 2, false},      {"", 0, false},        {"~/f", 2, true},     {"name", 0, false},
        {"dir/", 4, false},      {"\\\\srv\\f", 6, true},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(PathPartLength(c.path), c.part) << c.path;
        EXPECT_EQ(IsAbsolutePathText(c.path), c.absolute) << c.path;
    }
    EXPECT_EQ(JoinDirAndName("", "x"), "x");
    EXPECT_EQ(JoinDirAndName("d", "x"), "d/x");
    EXPECT_EQ(JoinDirAndName("d/", "x"), "d/x");
    EXPECT_EQ(JoinDirAndName("d\\", "x"), "d\\x");
    EXPECT_EQ(HostSeparators("a\\b\\c"), "a/b/c");
}

// The canonical path of what does not exist yet is its longest existing parent's real
// path with the rest behind it; nothing of it existing makes it relative to the current
// directory.
TEST_F(DosEngines, CanonicalPathsOfMissingTails)
{
    fs::create_directories(P("sub"));
    std::string out;
    ASSERT_EQ(CanonizePath(P("sub"), &out), 0);
    EXPECT_EQ(out, P("sub"));
    ASSERT_EQ(CanonizePath(dir + "\\sub\\new\\deeper.txt", &out), 0);
    EXPECT_EQ(out, P("sub/new/deeper.txt"));
    // The missing tail stays as it was written, case and all.
    ASSERT_EQ(CanonizePath(P("sub/Missing/Tail"), &out), 0);
    EXPECT_EQ(out, P("sub/Missing/Tail"));
    char current[PATH_MAX];
    ASSERT_NE(getcwd(current, sizeof current), nullptr);
    ASSERT_EQ(CanonizePath("no-such-name-lv/x", &out), 0);
    EXPECT_EQ(out, std::string(current) + "/no-such-name-lv/x");
    EXPECT_EQ(CanonizePath(P("sub/") + std::string(LV_PATH_SIZE, 'n'), &out), ERR_MEM);
}

// ==== Attributes ====================================================================================

// Every date is checked before anything changes: a bad date leaves the flags as they were.
TEST_F(DosEngines, AttributeChangesAreAllOrNothing)
{
    WriteAll(P("f.txt"), "x");
    struct stat before;
    ASSERT_EQ(stat(P("f.txt").c_str(), &before), 0);
    ASSERT_TRUE(before.st_mode & S_IWUSR);
    lvAttributeChange change = {};
    change.haveFlags = true;
    change.flags = LV_FILEATTR_READONLY;
    change.dates[2] = "01-Feb-2020 10:20:30";
    change.dates[0] = "31-Foo-2020 10:20:30";
    EXPECT_EQ(ChangeObjectAttributes(P("f.txt").c_str(), &change), ERR_INVALIDDATE);
    struct stat after;
    ASSERT_EQ(stat(P("f.txt").c_str(), &after), 0);
    EXPECT_EQ(after.st_mode, before.st_mode);
    EXPECT_EQ(after.st_mtime, before.st_mtime);

    // A good change reads back through the examiner in the same date form.
    change.dates[0] = nullptr;
    change.haveFlags = false;
    ASSERT_EQ(ChangeObjectAttributes(P("f.txt").c_str(), &change), 0);
    lvFileInfo info = {};
    std::string full;
    ASSERT_EQ(ExamineObject(P("f.txt").c_str(), nullptr, &info, &full), 0);
    EXPECT_EQ(full, P("f.txt"));
    char text[64];
    FormatFileDate(&info, 2, text, sizeof text);
    EXPECT_STREQ(text, "01-Feb-2020 10:20:30");

    EXPECT_EQ(ChangeObjectAttributes(P("missing").c_str(), &change), ERR_LOCK2);
    EXPECT_EQ(ExamineObject(P("missing").c_str(), nullptr, &info, &full), ERR_READFILE);
}

// ==== Whole files and checksums =========================================================================

// Sizes around the reader's block keep every byte, zero bytes included.
TEST_F(DosEngines, WholeFilesAroundTheBlockSize)
{
    for (size_t size : {size_t(0), size_t(1), size_t(16383), size_t(16384), size_t(16385), size_t(40000)}) {
        std::string data(size, '\0');
        for (size_t i = 0; i < size; i++) data[i] = char(i * 7 + (i >> 8));
        ASSERT_EQ(WriteWholeFile(P("w.bin").c_str(), nullptr, nullptr, data.data(), data.size()), 0) << size;
        EXPECT_EQ(ReadAll(P("w.bin")), data) << size;
        std::string back = "stale";
        ASSERT_EQ(ReadWholeFile(P("w.bin").c_str(), nullptr, nullptr, &back), 0) << size;
        EXPECT_EQ(back, data) << size;
    }
    std::string out;
    EXPECT_EQ(ReadWholeFile(P("missing").c_str(), nullptr, nullptr, &out), ERR_READFILE);
    EXPECT_EQ(WriteWholeFile(P("missing/x").c_str(), nullptr, nullptr, "a", 1), ERR_WRITEFILE);
    if (access("/dev/full", W_OK) == 0) {
        EXPECT_EQ(WriteWholeFile("/dev/full", nullptr, nullptr, "a", 1), ERR_WRITE);
    }
}

TEST_F(DosEngines, ChecksumsOfKnownTextsAndOfLongFiles)
{
    uint32_t crc = 0;
    char hex[41];
    WriteAll(P("abc"), "abc");
    ASSERT_EQ(ChecksumFile(P("abc").c_str(), LV_SUM_MD5, &crc, hex), 0);
    EXPECT_STREQ(hex, "900150983cd24fb0d6963f7d28e17f72");
    ASSERT_EQ(ChecksumFile(P("abc").c_str(), LV_SUM_SHA1, &crc, hex), 0);
    EXPECT_STREQ(hex, "a9993e364706816aba3e25717850c26c9cd0d89d");
    WriteAll(P("digits"), "123456789");
    ASSERT_EQ(ChecksumFile(P("digits").c_str(), LV_SUM_CRC32, &crc, hex), 0);
    EXPECT_EQ(crc, 0xCBF43926u);
    // Several of the reader's 64 KB blocks, the last one short.
    std::string data(200000, '\0');
    for (size_t i = 0; i < data.size(); i++) data[i] = char((i * 2654435761u) >> 13);
    WriteAll(P("long"), data);
    ASSERT_EQ(ChecksumFile(P("long").c_str(), LV_SUM_CRC32, &crc, hex), 0);
    EXPECT_EQ(crc, uint32_t(crc32(0, reinterpret_cast<const Bytef *>(data.data()), uInt(data.size()))));
    EXPECT_EQ(ChecksumFile(P("missing").c_str(), LV_SUM_MD5, &crc, hex), ERR_READFILE);
}

// ==== Typed numbers ====================================================================================

TEST_F(DosEngines, TypedIntegersSignsAndRanges)
{
    lvFileHandle *h;
    ASSERT_EQ(OpenFileHandle(1, false, P("n.bin").c_str(), LV_MODE_WRITE, 0, false, nullptr, nullptr, &kNoRefs, &h), 0);
    const uint8_t bytes[] = {0xFF, 0xFE, 0x80, 0x00, 0x00, 0x00, 0x00, 0x80, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFE};
    ASSERT_EQ(WriteHandleBytes(h, bytes, sizeof bytes), 0);
    // An unsigned 32-bit value outside its range is refused, never wrapped round.
    EXPECT_EQ(WriteHandleInteger(h, 4, LV_IO_UNSIGNED, 4294967296.0), ERR_OUTOFRANGE);
    EXPECT_EQ(WriteHandleInteger(h, 4, LV_IO_UNSIGNED, -1.0), ERR_OUTOFRANGE);
    EXPECT_EQ(WriteHandleInteger(h, 4, LV_IO_UNSIGNED | LV_IO_FAKE64, 1.0), ERR_WRONGUSAGE);
    ASSERT_EQ(WriteHandleInteger(h, 4, LV_IO_UNSIGNED | LV_IO_LITTLEENDIAN, 4294967295.0), 0);
    ASSERT_EQ(WriteHandleFloat(h, 4, 0, 1.5), 0);
    EXPECT_EQ(WriteHandleFloat(h, 2, 0, 1.5), ERR_WRONGUSAGE);
    CloseFileHandle(h, &kNoRefs);

    ASSERT_EQ(OpenFileHandle(1, false, P("n.bin").c_str(), LV_MODE_READ, 0, false, nullptr, nullptr, &kNoRefs, &h), 0);
    struct {
        int size, flags;
        double value;
    } reads[] = {
        {1, 0, 255},                    // bytes are unsigned by default
        {1, LV_IO_SIGNED, -2},          // ... and signed on request
        {2, 0, 32768},                  // 80 00 big-endian
        {4, LV_IO_LITTLEENDIAN, -2147483648.0},  // 00 00 00 80: ints are signed by default
        {4, LV_IO_FAKE64, -2},          // FF..FE: eight bytes, signed
        {4, LV_IO_UNSIGNED | LV_IO_LITTLEENDIAN, 4294967295.0},
    };
    for (const auto &r : reads) {
        double value = 0;
        ASSERT_EQ(ReadHandleInteger(h, r.size, r.flags, &value), 0) << r.size << " " << r.flags;
        EXPECT_EQ(value, r.value) << r.size << " " << r.flags;
    }
    double f = 0;
    ASSERT_EQ(ReadHandleFloat(h, 4, 0, &f), 0);
    EXPECT_EQ(f, 1.5);
    EXPECT_EQ(ReadHandleInteger(h, 4, LV_IO_FAKE64 | LV_IO_UNSIGNED, &f), ERR_WRONGUSAGE);
    EXPECT_EQ(ReadHandleInteger(h, 1, 0, &f), ERR_READ);
    EXPECT_TRUE(IsFileHandleAtEnd(h));
    // Position -1 from the beginning is the end; an unknown origin is refused.
    ASSERT_EQ(SeekFileHandle(h, 0, 1), 0);
    EXPECT_FALSE(IsFileHandleAtEnd(h));
    EXPECT_EQ(SeekFileHandle(h, 0, 3), ERR_WRONGUSAGE);
    ASSERT_EQ(SeekFileHandle(h, -1, 1), 0);
    EXPECT_EQ(ReadHandleInteger(h, 1, 0, &f), ERR_READ);
}

// ==== Directory handles ==================================================================================

TEST_F(DosEngines, ScannedDirectoriesCountListAndName)
{
    fs::create_directories(P("a/b/c"));
    WriteAll(P("top1"), "1");
    WriteAll(P("Top2"), "22");
    WriteAll(P("a/in-a"), "");
    WriteAll(P("a/b/c/deep"), "");
    std::vector<std::string> files, dirs;
    auto byText = [](const std::string &x, const std::string &y) { return x.compare(y); };
    ASSERT_EQ(ListDirectoryNames(dir.c_str(), byText, &files, &dirs), 0);
    EXPECT_EQ(files, (std::vector<std::string>{"Top2", "top1"}));
    EXPECT_EQ(dirs, (std::vector<std::string>{"a"}));
    files.clear();
    EXPECT_EQ(ListDirectoryNames(P("missing").c_str(), nullptr, &files, &dirs), ERR_LOCK2);

    lvDirOpenRequest r = {};
    r.number = 3;
    r.path = dir.c_str();
    lvDirectoryHandle *d;
    ASSERT_EQ(OpenDirectoryHandle(&r, &kNoRefs, &d), 0);
    EXPECT_STREQ(d->path, dir.c_str());
    double nFiles = 0, nDirs = 0;
    ASSERT_EQ(CountDirectoryHandle(d, true, &nFiles, &nDirs), 0);
    EXPECT_EQ(nFiles, 4);
    EXPECT_EQ(nDirs, 3);
    ASSERT_EQ(CountDirectoryHandle(d, false, &nFiles, &nDirs), 0);
    EXPECT_EQ(nFiles, 2);
    EXPECT_EQ(nDirs, 1);
    // A handle that is not recursive skips sub-directories; the end is reported once.
    lvDirHandleEntry e;
    std::vector<std::string> seen;
    while (NextDirectoryHandleEntry(d, &e)) {
        EXPECT_FALSE(e.isDirectory) << e.name;
        EXPECT_FALSE(e.fromTree);
        seen.push_back(e.name);
    }
    EXPECT_EQ(seen.size(), 2u);
    EXPECT_EQ(NextDirectoryHandleEntry(d, &e), 0);
    ASSERT_EQ(RewindDirectoryHandle(d), 0);
    EXPECT_EQ(NextDirectoryHandleEntry(d, &e), 1);
    std::string name;
    ASSERT_EQ(DirectoryEntryName(d, "a", &name), 0);
    EXPECT_EQ(name, P("a"));
    EXPECT_EQ(DirectoryEntryName(d, std::string(LV_PATH_SIZE, 'x').c_str(), &name), ERR_MEM);

    // The same number replaces the handle; an unknown number is a lookup error.
    lvDirectoryHandle *again;
    std::string sub = P("a");
    r.path = sub.c_str();
    ASSERT_EQ(OpenDirectoryHandle(&r, &kNoRefs, &again), 0);
    lvDirectoryHandle *found;
    ASSERT_EQ(FindDirHandle({3, nullptr}, &found), 0);
    EXPECT_EQ(found, again);
    EXPECT_EQ(*GetDirectoryHandleList(), &again->header);
    EXPECT_EQ(FindDirHandle({4, nullptr}, &found), ERR_FINDDIR);
    r.path = "/no/such/dir/lv";
    EXPECT_EQ(OpenDirectoryHandle(&r, &kNoRefs, &found), ERR_LOCK2);
}

// A handle listing part of another handle's linked tree loses it when the owner closes
// (ASan sees a read of the freed tree otherwise); offered trees are taken only once.
TEST_F(DosEngines, LinkedTreesSharedBetweenHandles)
{
    // {file "f" (3 bytes), dir "D" {file "g"}}
    const uint8_t bytes[] = {1, 0, 1, 'f', 0, 0, 0, 0, 0, 0, 0, 3, 2, 0, 1, 'D', 1, 0, 1,
                             'g', 0, 0, 0, 3, 0, 0, 0, 1, 0, 0};
    lvLinkedDirEntry *tree = nullptr;
    size_t used = 0;
    ASSERT_EQ(LoadLinkedDirTree(bytes, sizeof bytes, &used, &tree), 0);
    EXPECT_EQ(used, sizeof bytes);
    OfferLinkedDirTree(tree);
    lvDirOpenRequest r = {};
    ASSERT_TRUE(TakeOfferedTree(tree, &r.given));
    EXPECT_FALSE(TakeOfferedTree(tree, &r.given));
    r.number = 1;
    r.path = "applet";
    r.recursive = true;
    lvDirectoryHandle *owner, *part;
    ASSERT_EQ(OpenDirectoryHandle(&r, &kNoRefs, &owner), 0);
    double files = 0, dirs = 0;
    ASSERT_EQ(CountDirectoryHandle(owner, true, &files, &dirs), 0);
    EXPECT_EQ(files, 2);
    EXPECT_EQ(dirs, 1);
    std::string name;
    ASSERT_EQ(DirectoryEntryName(owner, "d", &name), 0);
    EXPECT_EQ(name, ":::1,d");
    EXPECT_EQ(DirectoryEntryName(owner, "nothing", &name), ERR_READFILE);

    lvDirOpenRequest s = {};
    s.number = 2;
    s.path = name.c_str();
    ASSERT_EQ(OpenDirectoryHandle(&s, &kNoRefs, &part), 0);
    lvDirHandleEntry e;
    ASSERT_EQ(NextDirectoryHandleEntry(part, &e), 1);
    EXPECT_EQ(e.name, "g");
    EXPECT_TRUE(e.fromTree);
    EXPECT_EQ(e.treeSize, 1u);
    for (const char *bad : {":::1", ":::x,d", ":::@,d", ":::1,f", ":::7,d"}) {
        s.path = bad;
        s.number = 5;
        lvDirectoryHandle *none = nullptr;
        EXPECT_NE(OpenDirectoryHandle(&s, &kNoRefs, &none), 0) << bad;
        EXPECT_EQ(none, nullptr) << bad;
    }
    CloseDirectoryHandle(owner, &kNoRefs);
    ASSERT_EQ(FindDirHandle({2, nullptr}, &part), 0);
    ASSERT_EQ(RewindDirectoryHandle(part), 0);
    EXPECT_EQ(NextDirectoryHandleEntry(part, &e), 0);
    ASSERT_EQ(CountDirectoryHandle(part, true, &files, &dirs), 0);
    EXPECT_EQ(files + dirs, 0);
}

// The stored tree of a linked directory record, read from the container: the cursor ends
// right after the tree (the next record's bytes stay unread), a tree cut short or one
// whose levels never close fails, and FindCatalogEntry searches depth-first.
TEST(DosLinkedRecords, TreeTailsFromTheContainer)
{
    // {dir "de" {file "x.catalog"}, file "a.catalog"}, then a byte of the next record.
    const std::vector<uint8_t> good = {2, 0, 2, 'd', 'e', 1, 0, 9, 'x', '.', 'c', 'a', 't', 'a', 'l', 'o', 'g',
                                       0, 0, 0, 8, 0, 0, 0, 4, 0, 1, 0, 9, 'a', '.', 'C', 'A', 'T', 'A', 'L', 'O',
                                       'G', 0, 0, 0, 12, 0, 0, 0, 5, 0, 0x2A};
    struct Case {
        const char *what;
        std::vector<uint8_t> bytes;
        int code;
    } cases[] = {
        {"whole", good, 0},
        {"cut in a name", std::vector<uint8_t>(good.begin(), good.begin() + 10), ERR_MEM},
        {"cut before the closing byte", std::vector<uint8_t>(good.begin(), good.end() - 2), ERR_MEM},
        {"directories that never end", std::vector<uint8_t>(3000, 2), ERR_MEM},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        lvByteSource source;
        InitMemorySource(&source, c.bytes.data(), c.bytes.size());
        lvAppletCursor cursor = {&source, 0, c.bytes.size()};
        lvLinkedObject object = {};
        object.type = 18;
        ASSERT_EQ(ReadLinkedDirTail(&cursor, &object, 11, 0), c.code);
        if (c.code) {
            EXPECT_EQ(object.payload, nullptr);
            continue;
        }
        EXPECT_EQ(cursor.position, good.size() - 1);
        ASSERT_NE(object.payload, nullptr);
        lvLinkedDirEntry *tree = *static_cast<lvLinkedDirEntry **>(object.payload);
        ASSERT_NE(tree, nullptr);
        EXPECT_STREQ(FindCatalogEntry(tree), "x.catalog");
        EXPECT_STREQ(FindCatalogEntry(tree->next), "a.CATALOG");
        EXPECT_EQ(FindCatalogEntry(tree->children->next), nullptr);
        object.freePayload(object.payload);
    }
}

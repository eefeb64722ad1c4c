// Tests of the virtual file layer: one set of operations over every kind of
// storage, nested in one another; memory files; names; adapters.
#include "files_fixture.h"
#include "runtime/errors.h"
#include "base/lverrors.h"
#include "runtime/vdir.h"
#include "runtime/vfile.h"

#include <gtest/gtest.h>
#include <cstring>
#include <functional>

namespace {

const size_t N = 1000; // bytes of every storage under test

// Every storage presents Pattern(N, 5) under the name its maker returns.
struct Storage {
    const char *label;     // what the storage is
    bool clampsPastEnd;    // seeks beyond the end land at the end
    int writes;            // 0 refuses to open for update, 1 writes inside its window, 2 also grows
    std::function<std::string(ScratchDir &, std::vector<uint8_t> &keep)> make;
};

std::string Chunk(const char *file, const void *memory, int64_t offset, uint32_t size, int reference,
                  const std::string &container)
{
    char name[LV_PATH_SIZE];
    EXPECT_TRUE(MakeChunkName(file, name, sizeof name, memory, offset, size, reference,
                              container.empty() ? nullptr : container.c_str()));
    return name;
}

// The content embedded at an offset in surrounding bytes.
std::vector<uint8_t> Embedded(size_t before, size_t after)
{
    std::vector<uint8_t> all(before, 0xEE);
    std::vector<uint8_t> body = Pattern(N, 5);
    all.insert(all.end(), body.begin(), body.end());
    all.insert(all.end(), after, 0xDD);
    return all;
}

const Storage Storages[] = {
    {"plain file", false, 2,
     [](ScratchDir &dir, std::vector<uint8_t> &) { return dir.Write("plain.bin", Pattern(N, 5)); }},
    {"range of a container file", true, 1,
     [](ScratchDir &dir, std::vector<uint8_t> &) {
         std::string c = dir.Write("container.dat", Embedded(100, 50));
         return Chunk("data.bin", nullptr, 100, N, 0, c);
     }},
    {"range nested in a range", true, 1,
     [](ScratchDir &dir, std::vector<uint8_t> &) {
         std::string c = dir.Write("container.dat", Embedded(130, 20));
         std::string outer = Chunk("outer.bin", nullptr, 100, N + 40, 0, c);
         return Chunk("inner.bin", nullptr, 30, N, 0, outer);
     }},
    {"registered memory file", true, 0,
     [](ScratchDir &, std::vector<uint8_t> &keep) {
         keep = Pattern(N, 5);
         char name[LV_PATH_SIZE];
         EXPECT_NE(AddMemoryFile("mem.bin", 0, keep.data(), N, -1, name, sizeof name), nullptr);
         return std::string(name);
     }},
    {"writable registered memory file", true, 2,
     [](ScratchDir &, std::vector<uint8_t> &) {
         std::vector<uint8_t> data = Pattern(N, 5);
         char name[LV_PATH_SIZE];
         EXPECT_NE(AddMemoryFile("mem.bin", 1, data.data(), N, -1, name, sizeof name), nullptr);
         return std::string(name);
     }},
    {"memory range", true, 0,
     [](ScratchDir &, std::vector<uint8_t> &keep) {
         keep = Embedded(0, 0);
         EXPECT_EQ(RegisterMemoryRange(keep.data(), keep.size()), 0);
         return Chunk("m.bin", keep.data(), 0, N, 0, "");
     }},
    {"memory range nested in a memory range", true, 0,
     [](ScratchDir &, std::vector<uint8_t> &keep) {
         keep = Embedded(64, 36);
         EXPECT_EQ(RegisterMemoryRange(keep.data(), keep.size()), 0);
         std::string outer = Chunk("outer.bin", keep.data(), 0, N + 100, 0, "");
         return Chunk("inner.bin", nullptr, 64, N, 0, outer);
     }},
    {"range of a registered memory file", true, 0,
     [](ScratchDir &, std::vector<uint8_t> &keep) {
         keep = Embedded(20, 10);
         char name[LV_PATH_SIZE];
         EXPECT_NE(AddMemoryFile("outer.bin", 0, keep.data(), keep.size(), -1, name, sizeof name), nullptr);
         return Chunk("inner.bin", nullptr, 20, N, 0, name);
     }},
    {"search path", false, 2,
     [](ScratchDir &dir, std::vector<uint8_t> &) {
         dir.Write("first/other.bin", Pattern(10, 1));
         dir.Write("second/sub/found.bin", Pattern(N, 5));
         AppendSearchPath(dir.Join("first").c_str());
         AppendSearchPath(dir.Join("second").c_str());
         return std::string("SYSROOT:sub/found.bin");
     }},
};

class StorageTest : public ::testing::TestWithParam<Storage> {
protected:
    void TearDown() override
    {
        FreeAllMemoryFiles();
        FreeSearchPaths();
        FreeMemoryRanges();
    }
    ScratchDir dir;
    std::vector<uint8_t> keep; // memory the storage points into
};

TEST_P(StorageTest, ReadSeekSizeEndAndClose)
{
    const Storage &s = GetParam();
    std::string name = s.make(dir, keep);
    const std::vector<uint8_t> want = Pattern(N, 5);
    lvVFile *f = OpenVFile(name.c_str(), LV_VF_READ, nullptr, nullptr);
    ASSERT_NE(f, nullptr) << name;
    EXPECT_EQ(GetVFileSize(f), (int64_t)N);

    uint8_t buf[2000];
    ASSERT_EQ(ReadVFile(f, buf, 100), 100);
    EXPECT_EQ(0, std::memcmp(buf, want.data(), 100));
    EXPECT_EQ(SeekVFile(f, 10, 1), 100);                // from the start; old position back
    EXPECT_EQ(ReadVFileByte(f), want[10]);
    EXPECT_EQ(SeekVFile(f, -5, 0), 11);                 // from the current position
    EXPECT_EQ(ReadVFileByte(f), want[6]);
    EXPECT_EQ(SeekVFile(f, -10, 2), 7);                 // from the end
    ASSERT_EQ(ReadVFile(f, buf, 10), 10);
    EXPECT_EQ(0, std::memcmp(buf, want.data() + N - 10, 10));
    EXPECT_TRUE(IsVFileEof(f));
    EXPECT_EQ(ReadVFileByte(f), -1);
    uint32_t value;
    EXPECT_EQ(ReadVFileValue(f, &value, 0, 4, 0, nullptr), ERR_READ);

    SeekVFile(f, 900, 1);                               // a long read stops at the end
    EXPECT_EQ(ReadVFile(f, buf, 2000), 100);
    SeekVFile(f, -50, 1);                               // before the start: clamped
    EXPECT_EQ(SeekVFile(f, 0, 0), 0);
    EXPECT_FALSE(IsVFileEof(f));
    if (s.clampsPastEnd) {
        SeekVFile(f, 50, 2);
        EXPECT_EQ(SeekVFile(f, 0, 0), (int64_t)N);
    }
    SeekVFile(f, 2, 1);
    EXPECT_EQ(ReadVFileBE16(f), (uint16_t)(want[2] << 8 | want[3]));
    EXPECT_EQ(ReadVFileLE32(f), (uint32_t)(want[4] | want[5] << 8 | want[6] << 16 | (uint32_t)want[7] << 24));
    EXPECT_NE(CloseVFile(f), 0);
}

TEST_P(StorageTest, WriteSeekAndReadBack)
{
    const Storage &s = GetParam();
    std::string name = s.make(dir, keep);
    lvVFile *f = OpenVFile(name.c_str(), LV_VF_UPDATE, nullptr, nullptr);
    if (s.writes == 0) {
        EXPECT_EQ(f, nullptr);
        return;
    }
    ASSERT_NE(f, nullptr) << name;
    std::vector<uint8_t> fresh = Pattern(20, 77);
    EXPECT_EQ(SeekVFile(f, 10, 1), 0);
    EXPECT_EQ(WriteVFile(f, fresh.data(), 20), 20);
    EXPECT_EQ(SeekVFile(f, -20, 0), 30);
    uint8_t back[20];
    ASSERT_EQ(ReadVFile(f, back, 20), 20);
    EXPECT_EQ(0, std::memcmp(back, fresh.data(), 20));
    EXPECT_EQ(ReadVFileByte(f), Pattern(N, 5)[30]); // the bytes after it are untouched
    EXPECT_TRUE(WriteVFileByte(f, 0xAB));
    SeekVFile(f, -5, 2);                             // across the end
    int64_t written = WriteVFile(f, fresh.data(), 10);
    EXPECT_EQ(written, s.writes == 2 ? 10 : 5);
    EXPECT_EQ(GetVFileSize(f), s.writes == 2 ? (int64_t)N + 5 : (int64_t)N);
    EXPECT_TRUE(IsVFileEof(f));
    EXPECT_EQ(SeekVFile(f, 31, 1), (int64_t)N + (s.writes == 2 ? 5 : 0));
    EXPECT_EQ(ReadVFileByte(f), 0xAB);
    EXPECT_NE(CloseVFile(f), 0);
}

TEST_P(StorageTest, ExamineReportsTheSize)
{
    std::string name = GetParam().make(dir, keep);
    lvVFile *f = OpenVFile(name.c_str(), LV_VF_READ, nullptr, nullptr);
    ASSERT_NE(f, nullptr);
    lvFileInfo info;
    ASSERT_EQ(ExamineVFile(f, &info), 1);
    EXPECT_EQ(info.size, (int64_t)N);
    EXPECT_FALSE(info.isDirectory);
    CloseVFile(f);
}

INSTANTIATE_TEST_SUITE_P(AllKinds, StorageTest, ::testing::ValuesIn(Storages),
                         [](const ::testing::TestParamInfo<Storage> &info) {
                             std::string label;
                             for (const char *p = info.param.label; *p; p++)
                                 label += std::isalnum((unsigned char)*p) ? *p : '_';
                             return label;
                         });

class MemoryFileTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        FreeAllMemoryFiles();
        FreeMemoryRanges();
    }
};

// Memory names carry an address that a script can write itself: only ranges that were
// handed out and are still alive open, whole and inside their bounds.
TEST_F(MemoryFileTest, MemoryNamesOpenOnlyInsideLiveRanges)
{
    std::vector<uint8_t> data = Pattern(100, 7);
    std::string whole = Chunk("m.bin", data.data(), 0, 100, 0, "");
    EXPECT_EQ(OpenVFile(whole.c_str(), LV_VF_READ, nullptr, nullptr), nullptr) << "never handed out";
    ASSERT_EQ(RegisterMemoryRange(data.data(), data.size()), 0);
    struct Case {
        const char *what;
        std::string name;
        bool opens;
    } cases[] = {
        {"the whole range", whole, true},
        {"a part inside", Chunk("p.bin", data.data() + 10, 0, 90, 0, ""), true},
        {"one byte past the end", Chunk("p.bin", data.data() + 10, 0, 91, 0, ""), false},
        {"before the start", Chunk("p.bin", data.data() - 1, 0, 2, 0, ""), false},
        {"a range of the range", Chunk("i.bin", nullptr, 20, 80, 0, whole), true},
        {"a made-up address", ":::chunkM0x10:100*x?x", false},
        {"a nested made-up address", ":::chunk0:8*i.bin?:::chunkM0x10:100*x?x", false},
    };
    for (const Case &c : cases) {
        lvVFile *f = OpenVFile(c.name.c_str(), LV_VF_READ, nullptr, nullptr);
        EXPECT_EQ(f != nullptr, c.opens) << c.what;
        if (f) {
            uint8_t byte = 0;
            EXPECT_EQ(ReadVFile(f, &byte, 1), 1) << c.what;
            CloseVFile(f);
        }
    }
    UnregisterMemoryRange(data.data());
    EXPECT_EQ(OpenVFile(whole.c_str(), LV_VF_READ, nullptr, nullptr), nullptr) << "no longer alive";
}

// Removing a memory file while handles are open on it keeps the record until the last
// handle closes; the handles then read end of file and write nothing (ASan checks the rest).
TEST_F(MemoryFileTest, RemovedWhileOpenReadsEndOfFile)
{
    std::vector<uint8_t> data = Pattern(100, 3);
    for (int writable : {0, 1}) {
        SCOPED_TRACE(writable);
        char name[LV_PATH_SIZE];
        lvMemFile *node = AddMemoryFile("gone.bin", writable, data.data(), 100, -1, name, sizeof name);
        ASSERT_NE(node, nullptr);
        lvVFile *whole = OpenVFile(name, writable ? LV_VF_UPDATE : LV_VF_READ, nullptr, nullptr);
        std::string inner = Chunk("inner.bin", nullptr, 10, 50, 0, name);
        lvVFile *part = OpenVFile(inner.c_str(), LV_VF_READ, nullptr, nullptr);
        ASSERT_NE(whole, nullptr);
        ASSERT_NE(part, nullptr);
        uint8_t buf[16];
        EXPECT_EQ(ReadVFile(whole, buf, 4), 4);
        RemoveMemoryFile(node);
        EXPECT_EQ(OpenVFile(name, LV_VF_READ, nullptr, nullptr), nullptr);
        EXPECT_EQ(ReadVFile(whole, buf, sizeof buf), 0);
        EXPECT_EQ(ReadVFile(part, buf, sizeof buf), 0);
        EXPECT_EQ(WriteVFile(whole, buf, 4), 0);
        EXPECT_EQ(GetVFileSize(part), 0);
        CloseVFile(part);
        CloseVFile(whole);
    }
}

TEST_F(MemoryFileTest, WritesGrowTheBufferIn64KSteps)
{
    char name[LV_PATH_SIZE];
    lvMemFile *node = AddMemoryFile("grow.bin", 1, nullptr, 0, -1, name, sizeof name);
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(node->capacity, 65536);
    EXPECT_EQ(node->size, 0);
    lvVFile *f = OpenVFile(name, LV_VF_WRITE, nullptr, nullptr);
    ASSERT_NE(f, nullptr);
    std::vector<uint8_t> data = Pattern(70000, 9);
    EXPECT_EQ(WriteVFile(f, data.data(), (int64_t)data.size()), 70000);
    EXPECT_EQ(node->capacity, 131072);
    EXPECT_EQ(node->size, 70000);
    CloseVFile(f);

    f = OpenVFile(name, LV_VF_READ, nullptr, nullptr);
    ASSERT_NE(f, nullptr);
    std::vector<uint8_t> back(70000);
    EXPECT_EQ(ReadVFile(f, back.data(), 70000), 70000);
    EXPECT_EQ(back, data);
    CloseVFile(f);
}

TEST_F(MemoryFileTest, ReadModeWindowsRefuseWrites)
{
    char name[LV_PATH_SIZE];
    std::vector<uint8_t> data = Pattern(100, 3);
    lvMemFile *node = AddMemoryFile("rw.bin", 1, data.data(), 100, -1, name, sizeof name);
    ASSERT_NE(node, nullptr);
    uint8_t *before = node->data;
    lvVFile *f = OpenVFile(name, LV_VF_READ, nullptr, nullptr);
    ASSERT_NE(f, nullptr);
    std::vector<uint8_t> big(200000, 0x55);
    EXPECT_EQ(WriteVFile(f, big.data(), (int64_t)big.size()), 0);
    EXPECT_EQ(WriteVFileByte(f, 1), 0);
    EXPECT_EQ(node->data, before);        // not reallocated
    EXPECT_EQ(node->size, 100);
    EXPECT_EQ(0, std::memcmp(node->data, data.data(), 100));
    CloseVFile(f);

    // A read-only node and a memory range refuse to open for writing at all.
    char roName[LV_PATH_SIZE];
    ASSERT_NE(AddMemoryFile("ro.bin", 0, data.data(), 100, -1, roName, sizeof roName), nullptr);
    EXPECT_EQ(OpenVFile(roName, LV_VF_WRITE, nullptr, nullptr), nullptr);
    EXPECT_EQ(OpenVFile(roName, LV_VF_UPDATE, nullptr, nullptr), nullptr);
    std::string m = Chunk("m.bin", data.data(), 0, 100, 0, "");
    ASSERT_EQ(RegisterMemoryRange(data.data(), data.size()), 0);
    EXPECT_EQ(OpenVFile(m.c_str(), LV_VF_WRITE, nullptr, nullptr), nullptr);
}

TEST_F(MemoryFileTest, StreamNamesNeedARegisteredNode)
{
    char name[LV_PATH_SIZE];
    std::vector<uint8_t> data = Pattern(10, 3);
    lvMemFile *node = AddMemoryFile("a.bin", 0, data.data(), 10, -1, name, sizeof name);
    ASSERT_NE(node, nullptr);
    // The second number has no effect; an unknown reference fails.
    char other[LV_PATH_SIZE];
    std::snprintf(other, sizeof other, ":::chunkS%d:999*a.bin?x", node->ownReference);
    lvVFile *f = OpenVFile(other, LV_VF_READ, nullptr, nullptr);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(GetVFileSize(f), 10);
    CloseVFile(f);
    std::snprintf(other, sizeof other, ":::chunkS%d:0*a.bin?x", node->ownReference + 100);
    EXPECT_EQ(OpenVFile(other, LV_VF_READ, nullptr, nullptr), nullptr);
    RemoveMemoryFile(node);
    EXPECT_EQ(OpenVFile(name, LV_VF_READ, nullptr, nullptr), nullptr);
}

TEST(ChunkNames, BuildAndParse)
{
    char name[LV_PATH_SIZE], file[64], cont[LV_PATH_SIZE], ext[16];
    uint64_t addr;
    int64_t off;
    uint32_t size;
    // Range inside a range: offsets add up, the outer container stays.
    std::string outer = Chunk("o.dat", nullptr, 1000, 500, 0, "/data/app.bin");
    ASSERT_TRUE(MakeChunkName("pic.PNG", name, sizeof name, nullptr, 100, 400, 0, outer.c_str()));
    EXPECT_STREQ(name, ":::chunk1100:400*pic.PNG?/data/app.bin");
    ASSERT_TRUE(ParseChunkName(name, &addr, &off, &size, file, sizeof file, cont, sizeof cont, ext, sizeof ext,
                               nullptr));
    EXPECT_EQ(off, 1100);
    EXPECT_EQ(size, 400u);
    EXPECT_STREQ(file, "pic.PNG");
    EXPECT_STREQ(cont, "/data/app.bin");
    EXPECT_STREQ(ext, ".PNG");
    EXPECT_FALSE(MakeChunkName("x", name, sizeof name, nullptr, 101, 400, 0, outer.c_str())); // too short

    // Memory names print an address that parses back, the null one too.
    std::vector<uint8_t> block(300);
    std::string m = Chunk(nullptr, block.data(), 0, 300, 0, "");
    ASSERT_TRUE(ParseChunkName(m.c_str(), &addr, &off, &size, file, sizeof file, cont, sizeof cont, ext, sizeof ext,
                               nullptr));
    EXPECT_EQ(addr, (uint64_t)(uintptr_t)block.data());
    EXPECT_STREQ(file, "x");
    EXPECT_STREQ(ext, "");
    std::string nested = Chunk("in.bin", nullptr, 120, 80, 0, m);
    ASSERT_TRUE(ParseChunkName(nested.c_str(), &addr, &off, nullptr, nullptr, 0, cont, sizeof cont, nullptr, 0,
                               nullptr));
    EXPECT_EQ(off, 120);
    EXPECT_EQ(addr, (uint64_t)(uintptr_t)block.data() + 120);
    EXPECT_EQ(std::string(cont), m);
    EXPECT_FALSE(MakeChunkName("in.bin", name, sizeof name, nullptr, 250, 80, 0, m.c_str())); // beyond outer
    std::string null = Chunk("n.bin", nullptr, 0, 0, 0, ":::chunkM0x0:0*z?x");
    ASSERT_TRUE(ParseChunkName(null.c_str(), &addr, nullptr, nullptr, nullptr, 0, nullptr, 0, nullptr, 0, nullptr));
    EXPECT_EQ(addr, 0u);

    // Outputs that do not fit fail the parse; malformed names fail too.
    char tiny[4];
    EXPECT_FALSE(ParseChunkName(name, nullptr, nullptr, nullptr, tiny, sizeof tiny, nullptr, 0, nullptr, 0, nullptr));
    for (const char *bad : {":::chunk", ":::chunk12", ":::chunk1:2*noquestion", ":::chunkMzz:1*a?x",
                            ":::chunk99999999999:1*a?b", ":::chunkS:1*a?x"})
        EXPECT_FALSE(ParseChunkName(bad, nullptr, nullptr, nullptr, nullptr, 0, nullptr, 0, nullptr, 0, nullptr))
            << bad;
    // No container and no memory: only the stream form.
    EXPECT_FALSE(MakeChunkName("x", name, sizeof name, nullptr, 0, 10, 0, nullptr));
    EXPECT_FALSE(MakeChunkName("x", name, 12, nullptr, 0, 10, 0, "/some/container")); // does not fit
}

TEST(SearchPaths, EmptyListFailsAndFirstHolderWins)
{
    ScratchDir dir;
    EXPECT_EQ(OpenVFile("SYSROOT:a.txt", LV_VF_READ, nullptr, nullptr), nullptr);
    dir.Write("one/a.txt", "one");
    dir.Write("two/a.txt", "two");
    AppendSearchPath(dir.Join("missing").c_str());
    AppendSearchPath(dir.Join("two").c_str());
    AppendSearchPath(dir.Join("one").c_str());
    lvVFile *f = OpenVFile("SYSROOT:a.txt", LV_VF_READ, nullptr, nullptr);
    ASSERT_NE(f, nullptr);
    char text[8] = {};
    ReadVFile(f, text, 7);
    EXPECT_STREQ(text, "two");
    CloseVFile(f);
    FreeSearchPaths();
}

TEST(PlainFiles, WritesGrowAndRangesKeepTheirContainer)
{
    ScratchDir dir;
    std::string path = dir.Write("f.bin", Pattern(100, 2));
    lvVFile *f = OpenVFile(path.c_str(), LV_VF_UPDATE, nullptr, nullptr);
    ASSERT_NE(f, nullptr);
    SeekVFile(f, 95, 1);
    EXPECT_EQ(WriteVFile(f, "0123456789", 10), 10);
    EXPECT_EQ(GetVFileSize(f), 105);
    CloseVFile(f);
    EXPECT_EQ(ReadAll(path).size(), 105u);

    // Writing into a range of a container updates those bytes only.
    std::string range = Chunk("r.bin", nullptr, 10, 20, 0, path);
    f = OpenVFile(range.c_str(), LV_VF_WRITE, nullptr, nullptr);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(WriteVFile(f, "ABCD", 4), 4);
    CloseVFile(f);
    // Writes stop at the end of the range: the bytes behind it are other data.
    f = OpenVFile(range.c_str(), LV_VF_UPDATE, nullptr, nullptr);
    ASSERT_NE(f, nullptr);
    SeekVFile(f, 18, 1);
    EXPECT_EQ(WriteVFile(f, "WXYZ", 4), 2);
    EXPECT_EQ(WriteVFileByte(f, 'Q'), 0);
    EXPECT_EQ(GetVFileSize(f), 20);
    CloseVFile(f);
    std::vector<uint8_t> after = ReadAll(path);
    ASSERT_EQ(after.size(), 105u);
    EXPECT_EQ(0, std::memcmp(after.data() + 10, "ABCD", 4));
    EXPECT_EQ(0, std::memcmp(after.data() + 28, "WX", 2));
    EXPECT_EQ(after[9], Pattern(100, 2)[9]);
    EXPECT_EQ(after[30], Pattern(100, 2)[30]);

    // Value writers and readers.
    f = OpenVFile(dir.Join("v.bin").c_str(), LV_VF_WRITE, nullptr, nullptr);
    ASSERT_NE(f, nullptr);
    uint32_t v = 0x11223344;
    EXPECT_EQ(WriteVFileValue(f, &v, 0, 4, 0, nullptr), 0);
    EXPECT_EQ(WriteVFileValue(f, &v, 0, 4, 1, nullptr), 0);
    EXPECT_TRUE(WriteVFileLE16(f, 0xA1B2));
    EXPECT_EQ(WriteVFile(f, "abc\0", 4), 4);
    CloseVFile(f);
    std::vector<uint8_t> bytes = ReadAll(dir.Join("v.bin"));
    ASSERT_EQ(bytes.size(), 14u);
    EXPECT_EQ(bytes[0], 0x11);
    EXPECT_EQ(bytes[4], 0x44);
    EXPECT_EQ(bytes[8], 0xB2);
    f = OpenVFile(dir.Join("v.bin").c_str(), LV_VF_READ, nullptr, nullptr);
    uint32_t r1, r2;
    EXPECT_EQ(ReadVFileValue(f, &r1, 0, 4, 0, nullptr), 0);
    EXPECT_EQ(ReadVFileValue(f, &r2, 0, 4, 1, nullptr), 0);
    EXPECT_EQ(r1, v);
    EXPECT_EQ(r2, v);
    EXPECT_EQ(ReadVFileLE16(f), 0xA1B2);
    char s[16];
    EXPECT_EQ(ReadVFileString(f, s, sizeof s), 0);
    EXPECT_STREQ(s, "abc");
    // Past the end: the bounded string read stops with ERR_STACK, also unbounded.
    EXPECT_EQ(ReadVFileString(f, s, 0), ERR_STACK);
    CloseVFile(f);
}

// ---- Adapters -----------------------------------------------------------------

// A stream adapter over a byte vector that declares itself unseekable and counts
// what it is asked.
struct FakeStream {
    std::vector<uint8_t> data; // content
    size_t position;           // current position
    size_t largestRead;        // largest read request seen
};

FakeStream *LastFake = nullptr;

void *FakeOpen(const char *name, int, const lvAdapterTag *tags)
{
    if (std::strncmp(name, "fake:", 5) != 0) return nullptr;
    for (const lvAdapterTag *t = tags; t->tag; t++)
        if (t->tag == 1) *(int *)t->value |= LV_STREAM_UNSEEKABLE;
    LastFake = new FakeStream{Pattern(200000, 4), 0, 0};
    return LastFake;
}
int FakeClose(void *s)
{
    delete (FakeStream *)s;
    return 7;
}
int FakeRead(void *s, void *buf, int len)
{
    FakeStream *f = (FakeStream *)s;
    f->largestRead = std::max(f->largestRead, (size_t)len);
    size_t n = std::min((size_t)len, f->data.size() - f->position);
    std::memcpy(buf, f->data.data() + f->position, n);
    f->position += n;
    return (int)n;
}
int64_t FakeSeek(void *s, int64_t offset, int origin)
{
    FakeStream *f = (FakeStream *)s;
    int64_t old = (int64_t)f->position;
    if (origin == 1 && offset == 0) f->position = 0;        // rewind is all it can do
    else if (!(origin == 0 && offset == 0)) return -1;
    return old;
}

int FakeStat(const char *name, int, lvAdapterStat *stat, const lvAdapterTag *)
{
    if (std::strncmp(name, "fakefile:", 9) != 0) return 0;
    stat->sizeLow = 5;
    stat->sizeHigh = 1;
    stat->comment = "from the adapter";
    return 1;
}
const lvFileAdapter FakeAdapter = {"fakeadapter", 0, FakeOpen, FakeClose, FakeRead, nullptr, FakeSeek,
                                   nullptr, nullptr, nullptr, nullptr, nullptr, FakeStat, nullptr, nullptr,
                                   nullptr, nullptr};

// A directory adapter over "fakedir:" names with two entries and no dates, and
// a file stat for "fakefile:" names.
struct FakeDir {
    int next; // entries given
};
void *FakeOpenDir(const char *name, int, const lvAdapterTag *)
{
    return std::strncmp(name, "fakedir:", 8) == 0 ? new FakeDir{0} : nullptr;
}
void FakeCloseDir(void *d)
{
    delete (FakeDir *)d;
}
int FakeNextEntry(void *d, lvAdapterStat *stat, const lvAdapterTag *)
{
    FakeDir *dir = (FakeDir *)d;
    static const char *names[] = {"one.txt", "two"};
    if (dir->next >= 2) return 0;
    stat->fullPath = names[dir->next];
    stat->type = dir->next == 1 ? 1 : 0;
    stat->sizeLow = 10;
    dir->next++;
    return 1;
}
int FakeStatDir(void *, int, lvAdapterStat *, const lvAdapterTag *)
{
    return 1; // knows no dates
}
const lvFileAdapter FakeDirAdapter = {"fakedirs", 0, nullptr, nullptr, nullptr, nullptr, nullptr,
                                      nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, FakeOpenDir,
                                      FakeCloseDir, FakeNextEntry, FakeStatDir};

// A plug-in chain of one member ahead of the built-in elements.
void FakeBegin(lvAdapterScan *scan, const char *list, uint32_t capability, int mode)
{
    std::memset(scan, 0, sizeof *scan);
    scan->cursor = (list && *list) ? list : "plugin|inbuilt|native";
    scan->capability = capability;
    scan->mode = mode;
}
int FakeNext(lvAdapterScan *scan)
{
    while (*scan->cursor) {
        const char *bar = std::strchr(scan->cursor, '|');
        std::string element(scan->cursor, bar ? (size_t)(bar - scan->cursor) : std::strlen(scan->cursor));
        scan->cursor = bar ? bar + 1 : scan->cursor + element.size();
        if (element == "inbuilt") return 1;
        if (element == "native") return 2;
        if (element == "plugin" || element == "fakeadapter") {
            scan->current = scan->capability == LV_PLUGINCAPS_FILEADAPTER ? &FakeAdapter : &FakeDirAdapter;
            return 3;
        }
    }
    return 0;
}
int FakeAccepts(const char *list, const char *name, int)
{
    return !list || !*list || std::strstr(list, name) != nullptr;
}
const lvAdapterHooks FakeHooks = {FakeBegin, FakeNext, FakeAccepts};

class AdapterTest : public ::testing::Test {
protected:
    void SetUp() override { SetAdapterHooks(&FakeHooks); }
    void TearDown() override { SetAdapterHooks(nullptr); }
};

TEST_F(AdapterTest, EmulatedSeekSkipsThroughAFixedBuffer)
{
    lvVFile *f = OpenVFile("fake:one", LV_VF_READ | LV_VF_ADAPTERS | LV_VF_EMULATESEEK, nullptr, nullptr);
    ASSERT_NE(f, nullptr);
    EXPECT_STREQ(GetVFileAdapterName(f), "fakeadapter");
    EXPECT_TRUE(IsVFileUnseekable(f));
    EXPECT_EQ(GetVFileSize(f), 0); // no FStat: the size is unknown, reported as 0
    EXPECT_EQ(SeekVFile(f, 150000, 1), 0);
    EXPECT_EQ(ReadVFileByte(f), -1); // no FGetC slot
    uint8_t b;
    EXPECT_EQ(ReadVFile(f, &b, 1), 1);
    EXPECT_EQ(b, Pattern(200000, 4)[150000]);
    EXPECT_LE(LastFake->largestRead, 16384u);
    // Backwards from the current position: rewind and read forward.
    EXPECT_EQ(SeekVFile(f, -1001, 0), 150001);
    EXPECT_EQ(ReadVFile(f, &b, 1), 1);
    EXPECT_EQ(b, Pattern(200000, 4)[149000]);
    EXPECT_EQ(SeekVFile(f, 0, 2), -1); // never from the end
    EXPECT_EQ(CloseVFile(f), 7);

    // Without the emulation flag an unseekable stream does not seek.
    f = OpenVFile("fake:two", LV_VF_READ | LV_VF_ADAPTERS, nullptr, nullptr);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(SeekVFile(f, 10, 1), -1);
    EXPECT_EQ(SeekVFile(f, 0, 1), 0); // offset 0 from the start goes straight to the adapter
    CloseVFile(f);
}

TEST_F(AdapterTest, ListWithoutInbuiltKeepsPlainFilesOut)
{
    ScratchDir dir;
    std::string path = dir.Write("p.txt", "plain");
    lvVFile *f = OpenVFile(path.c_str(), LV_VF_READ | LV_VF_ADAPTERS, "fakeadapter", nullptr);
    EXPECT_EQ(f, nullptr);
    f = OpenVFile(path.c_str(), LV_VF_READ | LV_VF_ADAPTERS, "fakeadapter|inbuilt", nullptr);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(GetVFileAdapterName(f), nullptr);
    CloseVFile(f);
    int uses = -1;
    EXPECT_EQ(CheckFileAdapterUse("fake:x", nullptr, nullptr, &uses), 0);
    EXPECT_EQ(uses, 1);
    EXPECT_EQ(CheckFileAdapterUse(path.c_str(), nullptr, nullptr, &uses), 0);
    EXPECT_EQ(uses, 0);
    EXPECT_EQ(CheckFileAdapterUse(dir.Join("none").c_str(), nullptr, nullptr, &uses), ERR_READFILE);
}

TEST_F(AdapterTest, DirectoryAdaptersAndFileStats)
{
    lvVDir *d = OpenVDir("fakedir:root", LV_VD_READ | LV_VD_ADAPTERS, nullptr, nullptr);
    ASSERT_NE(d, nullptr);
    EXPECT_STREQ(GetVDirAdapterName(d), "fakedirs");
    lvFileInfo info;
    EXPECT_EQ(ExamineVDir(d, &info), 0);
    EXPECT_TRUE(info.isDirectory);
    EXPECT_EQ(info.attributes, 15u);
    for (int i = 0; i < 3; i++) {
        lvFileDate date;
        FileTimeToDate(&info, &date, i);
        EXPECT_EQ(date.year, 1978);
        EXPECT_EQ(date.month, 0);
        EXPECT_EQ(date.day, 1);
        EXPECT_EQ(date.hour, 0);
    }
    int restarted;
    ASSERT_EQ(StartVDirScan(d, &restarted), 0);
    const char *name;
    int isDir;
    ASSERT_TRUE(NextVDirEntry(d, restarted, &name, &isDir, &info));
    EXPECT_STREQ(name, "one.txt");
    EXPECT_FALSE(isDir);
    EXPECT_EQ(info.size, 10);
    ASSERT_TRUE(NextVDirEntry(d, restarted, &name, &isDir, &info));
    EXPECT_TRUE(isDir);
    EXPECT_FALSE(NextVDirEntry(d, restarted, &name, &isDir, &info));
    char path[LV_PATH_SIZE];
    ASSERT_TRUE(GetVDirPath(d, path, sizeof path));
    EXPECT_STREQ(path, "fakedir:root");
    CloseVDir(d);

    // Names only a file adapter describes stand for files and cannot be scanned.
    d = OpenVDir("fakefile:x", LV_VD_READ | LV_VD_ADAPTERS, nullptr, nullptr);
    ASSERT_NE(d, nullptr);
    EXPECT_STREQ(GetVDirAdapterName(d), "fakeadapter");
    EXPECT_EQ(ExamineVDir(d, &info), 0);
    EXPECT_EQ(info.size, ((int64_t)1 << 32) + 5);
    EXPECT_EQ(StartVDirScan(d, &restarted), ERR_NOTADIR);
    CloseVDir(d);
    lvFileInfoPublic pub;
    ASSERT_EQ(ExaminePath("fakefile:x", &pub, 1), 1);
    EXPECT_EQ(pub.size, ((int64_t)1 << 32) + 5);
    EXPECT_STREQ(pub.comment, "from the adapter");
    EXPECT_EQ(pub.lastWrite.year, 1978);
    EXPECT_EQ(ExaminePath("fakefile:x", &pub, 0), 0); // without adapters nothing knows it
}

TEST(DefaultLists, KindsAndCopies)
{
    char buf[256];
    EXPECT_EQ(SetDefaultAdapter(3, "plugin"), ERR_WRONGUSAGE);
    EXPECT_EQ(SetDefaultLoader(6, "plugin"), ERR_WRONGUSAGE);
    EXPECT_EQ(SetDefaultLoader(5, "inbuilt|native"), 0);
    ASSERT_TRUE(CopyDefaultLoader(buf, sizeof buf, 5));
    EXPECT_STREQ(buf, "inbuilt|native");
    ASSERT_TRUE(CopyDefaultAdapter(buf, sizeof buf, 0));
    EXPECT_STREQ(buf, "");
    EXPECT_EQ(SetDefaultLoader(5, ""), 0);
    EXPECT_FALSE(InAdapterSetupPhase());
    SetAdapterSetupPhase(1);
    EXPECT_TRUE(InAdapterSetupPhase());
    SetAdapterSetupPhase(0);
    // Without plug-ins a list admits "inbuilt" only when it names it.
    EXPECT_TRUE(AdapterListAccepts(nullptr, "inbuilt", 1));
    EXPECT_TRUE(AdapterListAccepts("Default", "inbuilt", 1));
    EXPECT_TRUE(AdapterListAccepts("plugin|INBUILT", "inbuilt", 1));
    EXPECT_FALSE(AdapterListAccepts("plugin|inbuiltx", "inbuilt", 1));
    EXPECT_FALSE(AdapterListAccepts("native", "inbuilt", 1));
    EXPECT_TRUE(AdapterListAccepts("zip", "zipadapter", 0));
    EXPECT_TRUE(AdapterListAccepts("plugin", "zipadapter", 1));
    EXPECT_FALSE(AdapterListAccepts("plugin", "zipadapter", 0));
}

// ---- Whole-file helpers and directories --------------------------------------------

TEST(WholeFiles, ReadAllAndCopy)
{
    ScratchDir dir;
    std::vector<uint8_t> data = Pattern(40000, 8);
    std::string path = dir.Write("src.bin", data);
    uint8_t *buf = nullptr;
    int64_t len = 0;
    ASSERT_EQ(ReadVFileAll(nullptr, path.c_str(), 0, nullptr, nullptr, 8, &buf, &len), 0);
    ASSERT_EQ(len, 40000);
    EXPECT_EQ(0, std::memcmp(buf, data.data(), 40000));
    for (int i = 0; i < 8; i++) EXPECT_EQ(buf[40000 + i], 0);
    FreeMemory(buf);
    EXPECT_EQ(ReadVFileAll(nullptr, dir.Join("missing-input.bin").c_str(), 0, nullptr, nullptr, 0, &buf, &len),
              ERR_READFILE);
    char message[1024];
    GetErrorText(ERR_READFILE, message, sizeof message);
    EXPECT_NE(std::strstr(message, "missing-input.bin"), nullptr) << message; // the name fills the message

    std::string range = Chunk("r.bin", nullptr, 1000, 5000, 0, path);
    ASSERT_EQ(CopyVFileData(nullptr, range.c_str(), nullptr, nullptr, dir.Join("copy.bin").c_str()), 0);
    EXPECT_EQ(ReadAll(dir.Join("copy.bin")), std::vector<uint8_t>(data.begin() + 1000, data.begin() + 6000));
    EXPECT_EQ(CopyVFileData(nullptr, path.c_str(), nullptr, nullptr, dir.Join("no/such/dir/x").c_str()),
              ERR_WRITEFILE);
    EXPECT_TRUE(VFileExists(path.c_str(), nullptr, nullptr));
    EXPECT_FALSE(VFileExists(dir.Join("nope").c_str(), nullptr, nullptr));
}

TEST(VirtualDirs, ChunkNamesAreFilesAndDirectoriesScanSorted)
{
    ScratchDir dir;
    std::string path = dir.Write("c.bin", Pattern(500, 1));
    std::string range = Chunk("sub/pic.png", nullptr, 10, 300, 0, path);
    lvVDir *d = OpenVDir(range.c_str(), LV_VD_READ, nullptr, nullptr);
    ASSERT_NE(d, nullptr);
    lvFileInfo info;
    EXPECT_EQ(ExamineVDir(d, &info), 0);
    EXPECT_EQ(info.size, 300);
    EXPECT_EQ(info.attributes, 15u);
    lvFileDate date;
    FileTimeToDate(&info, &date, 2);
    EXPECT_EQ(date.year, 2002);
    EXPECT_EQ(date.month, 10);
    EXPECT_EQ(date.day, 4);
    EXPECT_EQ(date.hour, 10);
    EXPECT_EQ(date.minute, 30);
    int restarted;
    EXPECT_EQ(StartVDirScan(d, &restarted), ERR_NOTADIR);
    char where[LV_PATH_SIZE];
    ASSERT_TRUE(GetVDirPath(d, where, sizeof where));
    EXPECT_EQ(std::string(FindFilePart(where)), "pic.png");
    CloseVDir(d);

    for (const char *n : {"b.txt", "A.txt", "c/inner.txt", "a.txt"}) dir.Write(std::string("tree/") + n, "x");
    d = OpenVDir(dir.Join("tree").c_str(), LV_VD_READ, nullptr, nullptr);
    ASSERT_NE(d, nullptr);
    ASSERT_EQ(StartVDirScan(d, &restarted), 0);
    std::vector<std::string> names;
    const char *name;
    int isDir;
    while (NextVDirEntry(d, restarted, &name, &isDir, &info)) names.push_back(std::string(name) + (isDir ? "/" : ""));
    EXPECT_EQ(names, (std::vector<std::string>{"A.txt", "a.txt", "b.txt", "c/"}));
    CloseVDir(d);

    EXPECT_EQ(OpenVDir(dir.Join("tree").c_str(), LV_VD_READ | LV_VD_FILESONLY, nullptr, nullptr), nullptr);
    EXPECT_EQ(OpenVDir(dir.Join("tree/b.txt").c_str(), LV_VD_READ | LV_VD_DIRSONLY, nullptr, nullptr), nullptr);
    d = OpenVDir(dir.Join("tree/b.txt").c_str(), LV_VD_READ, nullptr, nullptr);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(StartVDirScan(d, &restarted), ERR_NOTADIR);
    CloseVDir(d);

    lvFileInfoPublic pub;
    ASSERT_EQ(ExaminePath(dir.Join("tree/c").c_str(), &pub, 0), 1);
    EXPECT_TRUE(pub.isDirectory);
    EXPECT_EQ(std::string(pub.path), dir.Join("tree/c"));
    EXPECT_EQ(ExaminePath(dir.Join("tree/zzz").c_str(), &pub, 0), 0);
}

TEST(PathHelpers, PartsAndJoins)
{
    char buf[16] = "dir";
    EXPECT_TRUE(AppendPathPart(buf, "file.txt", sizeof buf));
    EXPECT_STREQ(buf, "dir/file.txt");
    char small[6] = "abcd";
    EXPECT_TRUE(AppendPathPart(small, "xyz", sizeof small)); // the part is cut, the separator fits
    EXPECT_STREQ(small, "abcd/");
    char full[5] = "abcd";
    EXPECT_FALSE(AppendPathPart(full, "x", sizeof full));

    EXPECT_STREQ(FindFilePart("a/b\\c.txt"), "c.txt");
    EXPECT_STREQ(FindFilePart("SYSROOT:x.png"), "x.png");
    EXPECT_STREQ(FindFilePart("x"), "x");
    EXPECT_STREQ(FindFilePart(""), "");
    EXPECT_STREQ(FindFilePart(":::chunk1:2*dir/pic.png?c"), "pic.png");
    const char *dirEnd, *end;
    const char *p = "//abc/def:ghi";
    FindFilePartBounds(p, &dirEnd, &end);
    EXPECT_EQ(dirEnd, p + 10);
    EXPECT_EQ(end, p + 13);
    p = "/x/y/z";
    FindFilePartBounds(p, &dirEnd, &end);
    EXPECT_EQ(dirEnd, p + 4);
    for (const char *a : {"/a", "\\a", "~/a", "c:x"}) EXPECT_TRUE(PathIsAbsolute(a)) << a;
    EXPECT_FALSE(PathIsAbsolute("a/b"));
}

TEST(DumpSink, GrowsIn64KSteps)
{
    lvDumpSink sink = {};
    std::vector<uint8_t> data = Pattern(70000, 2);
    ASSERT_TRUE(WriteDumpChunk(nullptr, data.data(), 100, &sink));
    EXPECT_EQ(sink.written + (int64_t)sink.freeSpace, 65536);
    ASSERT_TRUE(WriteDumpChunk(nullptr, data.data() + 100, 69900, &sink));
    EXPECT_EQ(sink.written, 70000);
    EXPECT_EQ(sink.written + (int64_t)sink.freeSpace, 131072);
    EXPECT_EQ(0, std::memcmp(sink.buffer, data.data(), 70000));
    FreeMemory(sink.buffer);

    lvChunkBuffer chunk = {data.data(), 10, 0};
    size_t size;
    EXPECT_EQ(ReadBytecodeChunk(nullptr, &chunk, &size), data.data());
    EXPECT_EQ(size, 10u);
    EXPECT_EQ(ReadBytecodeChunk(nullptr, &chunk, &size), nullptr);
    EXPECT_EQ(size, 0u);
}

} // namespace

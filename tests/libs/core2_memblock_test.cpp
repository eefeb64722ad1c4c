// Memory-block engine: the block list, typed peeks and pokes in all three byte orders,
// range checks, fills and copies, file transfers, the dump text and value lists.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

#include "libs/memblock_engine.h"
#include "platform/lvplatform.h"
#include "runtime/errors.h"
#include "base/lverrors.h"
#include "runtime/vfile.h"

namespace {

lvObjectId Id(int n) { return {n, nullptr}; }

class MemBlocks : public ::testing::Test {
protected:
    void TearDown() override { FreeAllMemBlocks(); }
    // A block of the given bytes under number n.
    lvMemBlock *Make(int n, std::vector<uint8_t> bytes)
    {
        lvMemBlock *b = nullptr;
        EXPECT_EQ(AllocMemBlock(n, false, (int64_t)bytes.size(), &b), 0);
        std::memcpy(b->data, bytes.data(), bytes.size());
        return b;
    }
};

}  // namespace

TEST_F(MemBlocks, CreateReplaceFindAndFree)
{
    lvMemBlock *b = nullptr;
    EXPECT_EQ(AllocMemBlock(1, false, 0, &b), ERR_MEM);
    ASSERT_EQ(AllocMemBlock(1, false, 8, &b), 0);
    lvMemBlock *again = nullptr;
    ASSERT_EQ(AllocMemBlock(1, false, 16, &again), 0);
    EXPECT_EQ(FindMemBlock(Id(1)), again);
    EXPECT_EQ(again->size, 16);
    double size = 0;
    ASSERT_EQ(GetMemBlockAttribute(Id(1), MEMBLOCK_ATTRSIZE, &size), 0);
    EXPECT_EQ(size, 16);
    EXPECT_EQ(GetMemBlockAttribute(Id(1), 58, &size), ERR_UNKNOWNATTR);

    lvMemBlock *h = nullptr;
    ASSERT_EQ(AllocMemBlock(0, true, 4, &h), 0);
    lvObjectId handle = {0, h};
    EXPECT_EQ(FindMemBlock(handle), h);
    ASSERT_EQ(FreeMemBlock(handle), 0);
    EXPECT_EQ(FreeMemBlock(handle), ERR_FINDARRAY);  // a freed handle
    EXPECT_EQ(FreeMemBlock(Id(7)), ERR_FINDMEMBLK);
    EXPECT_EQ(GetErrorState()->numberArg, 7);
    ASSERT_EQ(FreeMemBlock(Id(1)), 0);
    EXPECT_EQ(FindMemBlock(Id(1)), nullptr);

    // Out of memory for the record: the bytes are not leaked, nothing is listed.
    FailAllocMemoryAfter(1);
    EXPECT_EQ(AllocMemBlock(2, false, 64, &b), ERR_MEM);
    FailAllocMemoryAfter(-1);
    EXPECT_EQ(FindMemBlock(Id(2)), nullptr);
    uint8_t raw[4];
    EXPECT_EQ(AllocMemBlockFromPointer(3, false, raw, -4, &b), ERR_WRONGUSAGE);
}

TEST_F(MemBlocks, TypedValuesInThreeByteOrders)
{
    Make(1, std::vector<uint8_t>(16, 0));
    struct { int type; double value; int order; std::vector<uint8_t> bytes; } cases[] = {
        {MEMTYPE_INTEGER, double(0x11223344), MEMORDER_BIGENDIAN, {0x11, 0x22, 0x33, 0x44}},
        {MEMTYPE_INTEGER, double(0x11223344), MEMORDER_LITTLEENDIAN, {0x44, 0x33, 0x22, 0x11}},
        {MEMTYPE_INTEGER, double(0x11223344), MEMORDER_NATIVEENDIAN, {0x44, 0x33, 0x22, 0x11}},
        {MEMTYPE_INTEGER, double(0x11223344), 9, {0x11, 0x22, 0x33, 0x44}},  // unknown: big
        {MEMTYPE_SHORT, double(0xABCD), MEMORDER_BIGENDIAN, {0xAB, 0xCD}},
        {MEMTYPE_SHORT, double(0xABCD), MEMORDER_LITTLEENDIAN, {0xCD, 0xAB}},
        {MEMTYPE_BYTE, 0x7F, MEMORDER_BIGENDIAN, {0x7F}},
        {MEMTYPE_FLOAT, 1.0, MEMORDER_BIGENDIAN, {0x3F, 0x80, 0x00, 0x00}},
        {MEMTYPE_FLOAT, -2.5, MEMORDER_LITTLEENDIAN, {0x00, 0x00, 0x20, 0xC0}},
        {MEMTYPE_DOUBLE, 1.0, MEMORDER_BIGENDIAN, {0x3F, 0xF0, 0, 0, 0, 0, 0, 0}},
        {MEMTYPE_DOUBLE, 1.0, MEMORDER_NATIVEENDIAN, {0, 0, 0, 0, 0, 0, 0xF0, 0x3F}},
    };
    for (auto &c : cases) {
        lvMemBlock *b = FindMemBlock(Id(1));
        std::memset(b->data, 0xEE, 16);
        ASSERT_EQ(PokeMemBlock(Id(1), 3, c.type, c.value, c.order), 0);
        EXPECT_EQ(std::vector<uint8_t>(b->data + 3, b->data + 3 + c.bytes.size()), c.bytes) << c.type << "/" << c.order;
        EXPECT_EQ(b->data[2], 0xEE);
        EXPECT_EQ(b->data[3 + c.bytes.size()], 0xEE);
        double back = 0;
        ASSERT_EQ(PeekMemBlock(Id(1), 3, c.type, c.order, &back), 0);
        EXPECT_EQ(back, c.value);
    }
    // Negative values read back unsigned.
    double v = 0;
    struct { int type; double read; } negatives[] = {
        {MEMTYPE_INTEGER, 4294967295.0}, {MEMTYPE_SHORT, 65535}, {MEMTYPE_BYTE, 255}};
    for (auto &n : negatives) {
        ASSERT_EQ(PokeMemBlock(Id(1), 0, n.type, -1, MEMORDER_BIGENDIAN), 0);
        ASSERT_EQ(PeekMemBlock(Id(1), 0, n.type, MEMORDER_BIGENDIAN, &v), 0);
        EXPECT_EQ(v, n.read);
    }
    EXPECT_EQ(PokeMemBlock(Id(1), 0, 5, 1, 0), ERR_WRONGUSAGE);
}

TEST_F(MemBlocks, RangeChecks)
{
    Make(1, std::vector<uint8_t>(16, 0));
    double v;
    EXPECT_EQ(PeekMemBlock(Id(1), 12, MEMTYPE_INTEGER, 0, &v), 0);
    EXPECT_EQ(PeekMemBlock(Id(1), 13, MEMTYPE_INTEGER, 0, &v), ERR_MEMRANGE);
    EXPECT_EQ(PokeMemBlock(Id(1), 9, MEMTYPE_DOUBLE, 1, 0), ERR_MEMRANGE);
    // The offset is checked before the lookup.
    EXPECT_EQ(PeekMemBlock(Id(99), -1, MEMTYPE_INTEGER, 0, &v), ERR_MEMRANGE);
    EXPECT_EQ(PeekMemBlock(Id(99), 0, MEMTYPE_INTEGER, 0, &v), ERR_FINDMEMBLK);
    EXPECT_EQ(PeekMemBlock(Id(1), INT64_MAX - 2, MEMTYPE_INTEGER, 0, &v), ERR_MEMRANGE);
    // Strings need room for the terminator.
    lvMemBlock *b = Make(2, std::vector<uint8_t>(8, 0xFF));
    EXPECT_EQ(PokeMemBlockString(Id(2), 3, "hello", 5), ERR_MEMRANGE);
    ASSERT_EQ(PokeMemBlockString(Id(2), 2, "hello", 5), 0);
    EXPECT_EQ(std::string((char *)b->data + 2), "hello");
}

TEST_F(MemBlocks, PeekStringForms)
{
    Make(1, {65, 66, 200, 67, 9, 10, 68});
    std::string s;
    ASSERT_EQ(PeekMemBlockString(Id(1), 0, 0, &s), 0);
    EXPECT_EQ(s, "AB");
    ASSERT_EQ(PeekMemBlockString(Id(1), 3, 0, &s), 0);
    EXPECT_EQ(s, "C\t\nD");  // stops at the end of the block
    ASSERT_EQ(PeekMemBlockString(Id(1), 2, 0, &s), 0);
    EXPECT_EQ(s, "");
    ASSERT_EQ(PeekMemBlockString(Id(1), 1, 3, &s), 0);
    EXPECT_EQ(s, std::string("B\xC8" "C"));
    EXPECT_EQ(PeekMemBlockString(Id(1), 5, 3, &s), ERR_MEMRANGE);
    EXPECT_EQ(PeekMemBlockString(Id(1), 7, 0, &s), ERR_MEMRANGE);
    EXPECT_EQ(PeekMemBlockString(Id(1), 0, -1, &s), ERR_WRONGUSAGE);
}

TEST_F(MemBlocks, FillAndCopy)
{
    lvMemBlock *b = Make(1, std::vector<uint8_t>(8, 0));
    ASSERT_EQ(FillMemBlock(Id(1), 0x1234ABCD, 8, 0, MEMTYPE_INTEGER), 0);
    EXPECT_EQ(std::vector<uint8_t>(b->data, b->data + 8), (std::vector<uint8_t>{0x12, 0x34, 0xAB, 0xCD, 0x12, 0x34, 0xAB, 0xCD}));
    ASSERT_EQ(FillMemBlock(Id(1), 0x5678, 4, 2, MEMTYPE_SHORT), 0);
    EXPECT_EQ(std::vector<uint8_t>(b->data, b->data + 8), (std::vector<uint8_t>{0x12, 0x34, 0x56, 0x78, 0x56, 0x78, 0xAB, 0xCD}));
    ASSERT_EQ(FillMemBlock(Id(1), 0x1FF, 3, 5, MEMTYPE_BYTE), 0);
    EXPECT_EQ(b->data[5], 0xFF);
    EXPECT_EQ(b->data[7], 0xFF);
    EXPECT_EQ(FillMemBlock(Id(1), 0, 4, 2, MEMTYPE_INTEGER), ERR_WRONGUSAGE);
    EXPECT_EQ(FillMemBlock(Id(1), 0, 3, 0, MEMTYPE_SHORT), ERR_WRONGUSAGE);
    EXPECT_EQ(FillMemBlock(Id(1), 0, 4, 6, MEMTYPE_BYTE), ERR_MEMRANGE);
    EXPECT_EQ(FillMemBlock(Id(1), 0, 4, 0, MEMTYPE_FLOAT), ERR_WRONGUSAGE);
    EXPECT_EQ(FillMemBlock(Id(42), 0, 0, 0, MEMTYPE_BYTE), 0);  // count 0: not even a lookup

    lvMemBlock *c = Make(2, std::vector<uint8_t>(4, 0));
    ASSERT_EQ(CopyMemBlock(Id(1), Id(2), 2, 2, 1), 0);
    EXPECT_EQ(std::vector<uint8_t>(c->data, c->data + 4), (std::vector<uint8_t>{0, 0x56, 0x78, 0}));
    EXPECT_EQ(CopyMemBlock(Id(1), Id(1), 2, 0, 4), ERR_WRONGUSAGE);
    EXPECT_EQ(CopyMemBlock(Id(1), Id(2), 4, 0, 1), ERR_MEMRANGE);
    EXPECT_EQ(CopyMemBlock(Id(1), Id(2), 1, -1, 0), ERR_MEMRANGE);
    EXPECT_EQ(CopyMemBlock(Id(1), Id(3), 1, 0, 0), ERR_FINDMEMBLK);
}

TEST_F(MemBlocks, DumpText)
{
    std::vector<uint8_t> bytes(20);
    for (int i = 0; i < 20; i++) bytes[i] = uint8_t(i < 16 ? 'a' + i : i);
    bytes[1] = ' ';
    bytes[2] = 127;
    Make(1, bytes);
    std::string text;
    ASSERT_EQ(DumpMemBlock(Id(1), 0, 0, &text), 0);
    std::string expect =
        "00000000: 61 20 7f 64 65 66 67 68 69 6a 6b 6c 6d 6e 6f 70 a .defghijklmnop\n"
        "00000010: 10 11 12 13 " + std::string(12 * 3, ' ') + "....\n";
    EXPECT_EQ(text, expect);
    text.clear();
    ASSERT_EQ(DumpMemBlock(Id(1), 2, 17, &text), 0);
    EXPECT_EQ(text, "00000011: 11 12 " + std::string(14 * 3, ' ') + "..\n");
    // Without a length: the rest of the block from the offset.
    text.clear();
    ASSERT_EQ(DumpMemBlock(Id(1), 0, 18, &text), 0);
    EXPECT_EQ(text, "00000012: 12 13 " + std::string(14 * 3, ' ') + "..\n");
    EXPECT_EQ(DumpMemBlock(Id(1), 5, 16, &text), ERR_MEMRANGE);
    EXPECT_EQ(DumpMemBlock(Id(1), 5, -1, &text), ERR_WRONGUSAGE);
    uint8_t raw[4] = {1, 2, 3, 4};
    ASSERT_EQ(AllocMemBlockFromPointer(2, false, raw, 0, nullptr), 0);
    EXPECT_EQ(DumpMemBlock(Id(2), 0, 0, &text), ERR_WRONGUSAGE);
}

TEST_F(MemBlocks, ValueListsBothWays)
{
    Make(1, {0xFF, 0x01, 0x80, 0x00});
    lvMemTableOptions o = {0, 0, 0, 0};
    std::vector<double> v;
    ASSERT_EQ(MemBlockToValues(Id(1), MEMTYPE_BYTE, &o, &v), 0);
    EXPECT_EQ(v, (std::vector<double>{255, 1, 128, 0}));
    o.isSigned = 1;
    ASSERT_EQ(MemBlockToValues(Id(1), MEMTYPE_BYTE, &o, &v), 0);
    EXPECT_EQ(v, (std::vector<double>{-1, 1, -128, 0}));
    ASSERT_EQ(MemBlockToValues(Id(1), MEMTYPE_SHORT, &o, &v), 0);
    EXPECT_EQ(v, (std::vector<double>{0x01FF, 0x0080}));
    o.endianSwitch = 1;
    o.isSigned = 0;
    ASSERT_EQ(MemBlockToValues(Id(1), MEMTYPE_SHORT, &o, &v), 0);
    EXPECT_EQ(v, (std::vector<double>{0xFF01, 0x8000}));
    o = {0, 1, 0, 0};  // items 0 with an offset: size / 2 items from offset 1 do not fit
    EXPECT_EQ(MemBlockToValues(Id(1), MEMTYPE_SHORT, &o, &v), ERR_MEMRANGE);
    o = {1, 1, 0, 0};
    ASSERT_EQ(MemBlockToValues(Id(1), MEMTYPE_SHORT, &o, &v), 0);
    EXPECT_EQ(v, (std::vector<double>{0x8001}));
    o = {-1, 0, 0, 0};
    ASSERT_EQ(MemBlockToValues(Id(1), MEMTYPE_BYTE, &o, &v), 0);
    EXPECT_TRUE(v.empty());
    o = {0, 0, 0, 0};
    EXPECT_EQ(MemBlockToValues(Id(1), MEMTYPE_DOUBLE, &o, &v), ERR_WRONGUSAGE);  // 4 / 8 = 0 items
    EXPECT_EQ(MemBlockToValues(Id(1), 3, &o, &v), ERR_WRONGUSAGE);

    // TableToMem stores up to the first nil, and keeps what it stored before a failure.
    struct Source { std::vector<double> values; };
    auto next = [](void *user, int64_t i, double *value) -> int {
        auto *s = static_cast<Source *>(user);
        if (i >= (int64_t)s->values.size()) return 0;
        *value = s->values[(size_t)i];
        return 1;
    };
    lvMemBlock *b = Make(2, std::vector<uint8_t>(5, 0));
    Source src{{1, -1, 0x1234}};
    o = {0, 1, 0, 0};
    ASSERT_EQ(ValuesToMemBlock(next, &src, Id(2), MEMTYPE_BYTE, &o), 0);
    EXPECT_EQ(std::vector<uint8_t>(b->data, b->data + 5), (std::vector<uint8_t>{0, 1, 0xFF, 0x34, 0}));
    o = {0, 0, 1, 0};
    ASSERT_EQ(ValuesToMemBlock(next, &src, Id(2), MEMTYPE_SHORT, &o), ERR_MEMRANGE);
    EXPECT_EQ(std::vector<uint8_t>(b->data, b->data + 5), (std::vector<uint8_t>{0, 1, 0xFF, 0xFF, 0}));
    o = {0, 6, 0, 0};
    EXPECT_EQ(ValuesToMemBlock(next, &src, Id(2), MEMTYPE_BYTE, &o), ERR_MEMRANGE);
    uint8_t raw[8] = {0};
    ASSERT_EQ(AllocMemBlockFromPointer(3, false, raw, 0, nullptr), 0);
    o = {0, 0, 0, 0};
    EXPECT_EQ(ValuesToMemBlock(next, &src, Id(3), MEMTYPE_BYTE, &o), ERR_MEMRANGE);
    EXPECT_EQ(raw[0], 0);
}

TEST_F(MemBlocks, ForeignMemoryAndStrings)
{
    uint8_t raw[6] = {'a', 'b', 0, 'c', 'd', 'e'};
    lvMemBlock *b = nullptr;
    ASSERT_EQ(AllocMemBlockFromPointer(1, false, raw, 6, &b), 0);
    EXPECT_TRUE(b->notOwned);
    std::string s;
    ASSERT_EQ(GetMemBlockString(Id(1), 1, 0, &s), 0);
    EXPECT_EQ(s, std::string("b\0cde", 5));
    EXPECT_EQ(GetMemBlockString(Id(1), 6, 0, &s), ERR_WRONGUSAGE);
    EXPECT_EQ(GetMemBlockString(Id(1), 2, 5, &s), ERR_WRONGUSAGE);
    void *p = nullptr;
    ASSERT_EQ(GetMemBlockPointer(Id(1), 5, &p), 0);
    EXPECT_EQ(p, raw + 5);
    EXPECT_EQ(GetMemBlockPointer(Id(1), 6, &p), ERR_WRONGUSAGE);
    ASSERT_EQ(AllocMemBlockFromPointer(2, false, raw, 0, nullptr), 0);
    EXPECT_EQ(GetMemBlockString(Id(2), 0, 0, &s), ERR_WRONGUSAGE);
    ASSERT_EQ(GetMemBlockString(Id(2), 3, 2, &s), 0);
    EXPECT_EQ(s, "cd");
    ASSERT_EQ(FreeMemBlock(Id(1)), 0);  // the caller's bytes are left alone
    EXPECT_EQ(raw[0], 'a');

    // A registered in-memory file.
    static const uint8_t data[] = {9, 8, 7};
    char name[256];
    lvMemFile *node = AddMemoryFile("x.bin", 0, data, 3, -1, name, sizeof name);
    ASSERT_NE(node, nullptr);
    ASSERT_EQ(AllocMemBlockFromVirtualFile(3, false, name, &b), 0);
    EXPECT_EQ(b->size, 3);
    double v;
    ASSERT_EQ(PeekMemBlock(Id(3), 2, MEMTYPE_BYTE, 0, &v), 0);
    EXPECT_EQ(v, 7);
    EXPECT_EQ(AllocMemBlockFromVirtualFile(4, false, "plain.bin", &b), ERR_WRONGUSAGE);
    FreeAllMemBlocks();
    RemoveMemoryFile(node);
}

namespace {
struct FileFixture {
    lvMemFileRef ref;
    int findError;
};
int FindFile(void *user, lvMemFileRef *out)
{
    auto *f = static_cast<FileFixture *>(user);
    if (f->findError) return f->findError;
    *out = f->ref;
    return 0;
}
}  // namespace

TEST_F(MemBlocks, FileTransfers)
{
    char path[] = "/tmp/lv_memblock_XXXXXX";
    int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    lvMemBlock *b = Make(1, {1, 2, 3, 4, 5, 6});
    FileFixture fx = {{OpenVFile(path, LV_VF_WRITE, nullptr, nullptr), 0, 1}, 0};
    ASSERT_NE(fx.ref.file, nullptr);
    EXPECT_EQ(ReadMemBlockFromFile(FindFile, &fx, Id(1), 2, 0), ERR_WRITEONLY);
    EXPECT_EQ(WriteMemBlockToFile(FindFile, &fx, Id(1), 4, 3), ERR_MEMRANGE);
    ASSERT_EQ(WriteMemBlockToFile(FindFile, &fx, Id(1), 4, 2), 0);
    CloseVFile(fx.ref.file);

    fx.ref = {OpenVFile(path, LV_VF_READ, nullptr, nullptr), 1, 0};
    ASSERT_NE(fx.ref.file, nullptr);
    EXPECT_EQ(WriteMemBlockToFile(FindFile, &fx, Id(1), 1, 0), ERR_READONLY);
    ASSERT_EQ(ReadMemBlockFromFile(FindFile, &fx, Id(1), 3, 0), 0);
    EXPECT_EQ(std::vector<uint8_t>(b->data, b->data + 6), (std::vector<uint8_t>{3, 4, 5, 4, 5, 6}));
    EXPECT_EQ(ReadMemBlockFromFile(FindFile, &fx, Id(1), 3, 0), ERR_READ);  // one byte left
    CloseVFile(fx.ref.file);
    unlink(path);

    fx.findError = ERR_FINDFILE;
    EXPECT_EQ(ReadMemBlockFromFile(FindFile, &fx, Id(1), 0, 0), 0);  // count 0: nothing looked up
    EXPECT_EQ(ReadMemBlockFromFile(FindFile, &fx, Id(1), 1, -1), ERR_WRONGUSAGE);
    EXPECT_EQ(ReadMemBlockFromFile(FindFile, &fx, Id(1), 1, 0), ERR_FINDFILE);
}

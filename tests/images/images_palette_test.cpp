// images_palette_test.cpp - the standard palettes as data, palette records, the "palette"
// option, pen moves, the palette file's bytes and write failures, and linked palettes.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "base/lverrors.h"
#include "images/lvpalette.h"
#include "runtime/container.h"

namespace {

std::vector<uint32_t> Standard(int number, int *depth)
{
    std::vector<uint32_t> pens(256, 0xDEADBEEF);
    EXPECT_EQ(GetStandardPalette(number, pens.data(), depth), 0) << number;
    return pens;
}

TEST(StandardPalettes, DepthsAndKnownColours)
{
    struct Row {
        int number, depth;
        std::vector<std::pair<int, uint32_t>> pens;
    } rows[] = {
        {PALETTE_DEFAULT, 8, {{0, 0x000000}, {3, 0xFFFB00}, {165, 0x0002BC}, {223, 0xFFE9DE}, {255, 0xFFFFFF}}},
        {PALETTE_CGA, 4, {{0, 0x000000}, {12, 0xAA5500}, {15, 0xFFFFFF}}},
        {PALETTE_EGA, 6, {{1, 0x0000AA}, {20, 0xAA5500}, {63, 0xFFFFFF}}},
        {PALETTE_OCS, 5, {{2, 0xEE0000}, {31, 0xFFFFFF}}},
        {PALETTE_WORKBENCH, 8, {{0, 0xC0C0C0}, {3, 0x20C0D0}, {31, 0xF0F0F0}}},
        {PALETTE_MACINTOSH, 8, {{0, 0x000000}, {1, 0xFFFFCC}, {214, 0x000033}, {215, 0xEE0000}, {225, 0x00EE00},
                                {244, 0x000011}, {254, 0x111111}, {255, 0xFFFFFF}}},
        {PALETTE_WINDOWS, 8, {{0, 0x000000}, {9, 0xA6CAF0}, {246, 0xFFFBF0}, {255, 0xFFFFFF}}},
        {PALETTE_GRAY4, 2, {{0, 0x000000}, {1, 0x555555}, {2, 0xAAAAAA}, {3, 0xFFFFFF}}},
        {PALETTE_GRAY8, 3, {{1, 0x242424}, {2, 0x484848}, {3, 0x6D6D6D}, {4, 0x919191}, {5, 0xB6B6B6},
                            {6, 0xDADADA}, {7, 0xFFFFFF}}},
        {PALETTE_GRAY16, 4, {{15, 0xFFFFFF}}},
        {PALETTE_GRAY32, 5, {{31, 0xFFFFFF}}},
        {PALETTE_GRAY64, 6, {{63, 0xFFFFFF}}},
        {PALETTE_GRAY128, 7, {{127, 0xFFFFFF}, {1, 0x020202}}},
        {PALETTE_GRAY256, 8, {{128, 0x808080}}},
        {PALETTE_MONOCHROME, 1, {{0, 0x000000}, {1, 0xFFFFFF}}},
    };
    for (const Row &row : rows) {
        int depth = 0;
        auto pens = Standard(row.number, &depth);
        EXPECT_EQ(depth, row.depth) << row.number;
        for (auto [pen, colour] : row.pens) EXPECT_EQ(pens[pen], colour) << row.number << " pen " << pen;
        // Pens above the depth stay untouched; pens within carry no alpha.
        if (depth < 8) {
            EXPECT_EQ(pens[1 << depth], 0xDEADBEEF) << row.number;
        }
        for (int i = 0; i < (1 << depth); i++) EXPECT_EQ(pens[i] >> 24, 0u) << row.number << " pen " << i;
    }
}

TEST(StandardPalettes, DefaultEqualsAgaAndUnknownNumbersFail)
{
    int d1, d2;
    EXPECT_EQ(Standard(PALETTE_DEFAULT, &d1), Standard(PALETTE_AGA, &d2));
    uint32_t pens[256];
    for (int number : {-984, -1001, 0, 5}) EXPECT_EQ(GetStandardPalette(number, pens, nullptr), ERR_UNKNOWNPALETTE);
}

TEST(StandardPalettes, OwnTablesAreFixedAndDistinctWhereChosen)
{
    int depth;
    auto windows = Standard(PALETTE_WINDOWS, &depth);
    auto again = Standard(PALETTE_WINDOWS, &depth);
    EXPECT_EQ(windows, again);
    // The chosen part is a 6 x 6 x 6 cube and a grey ramp: no two of its pens repeat.
    for (int i = 10; i < 246; i++)
        for (int j = i + 1; j < 246; j++) ASSERT_NE(windows[i], windows[j]) << i << " " << j;
}

class PaletteRecords : public ::testing::Test {
protected:
    void TearDown() override { FreeAllPalettes(); }
    lvPalette *Make(int number, int standard, int transparentPen = -1)
    {
        uint32_t pens[256] = {};
        int depth = 8;
        EXPECT_EQ(GetStandardPalette(standard, pens, &depth), 0);
        lvObjectId id = {number, nullptr};
        lvPalette *p = nullptr;
        EXPECT_EQ(NewPaletteRecord(nullptr, 0, &id, pens, depth, transparentPen, nullptr, &p), 0);
        return p;
    }
};

TEST_F(PaletteRecords, LookupsByNumberAndHandle)
{
    Make(1, PALETTE_CGA);
    uint32_t pens[256] = {};
    lvObjectId nil = {0, nullptr};
    lvPalette *p;
    ASSERT_EQ(NewPaletteRecord(nullptr, 0, &nil, pens, 2, -1, nullptr, &p), 0);
    EXPECT_EQ(nil.handle, (void *)p);
    lvPalette *found;
    EXPECT_EQ(FindPaletteById(nil, &found), 0);
    EXPECT_EQ(found, p);
    EXPECT_EQ(FindPaletteById({2, nullptr}, &found), ERR_FINDPALETTE);
    EXPECT_EQ(FindPaletteById({0, (void *)&found}, &found), ERR_FINDARRAY);
    EXPECT_EQ(FreePaletteById(nil), 0);
    EXPECT_EQ(FreePaletteById(nil), ERR_FINDARRAY);
    EXPECT_EQ(FreePaletteById({1, nullptr}), 0);
    EXPECT_EQ(*PaletteListHead(), nullptr);
}

TEST_F(PaletteRecords, ResolvePaletteOption)
{
    lvPalette *p = Make(7, PALETTE_GRAY16, 3);
    lvCycleRange range = {100, 1, 1, 5};
    p->cycleTable = (lvCycleRange *)AllocMemory(sizeof range, 0);
    *p->cycleTable = range;
    p->cycleCount = 1;
    lvResolvedPalette r;
    r.transparentPen = -1;
    ASSERT_EQ(ResolvePaletteOption({7, nullptr}, 0, 0, 0, &r), 0);
    EXPECT_EQ(r.depth, 4);
    EXPECT_EQ(r.transparentPen, 3);
    EXPECT_EQ(r.pens[15], 0xFFFFFFu);
    EXPECT_EQ(r.cycleCount, 1);
    // The caller's own transparent pen wins; a depth given replaces the palette's.
    r.transparentPen = 9;
    ASSERT_EQ(ResolvePaletteOption({7, nullptr}, 5, 0, 1, &r), 0);
    EXPECT_EQ(r.transparentPen, 9);
    EXPECT_EQ(r.depth, 5);
    r.transparentPen = -1;
    ASSERT_EQ(ResolvePaletteOption({PALETTE_BLACK, nullptr}, 8, 0, 0, &r), 0);
    EXPECT_EQ(r.depth, 8);
    EXPECT_EQ(r.pens[1], 0u);
    ASSERT_EQ(ResolvePaletteOption({PALETTE_CGA, nullptr}, 0, 0, 0, &r), 0);
    EXPECT_EQ(r.depth, 4);
    EXPECT_EQ(r.pens[12], 0xAA5500u);
    EXPECT_EQ(ResolvePaletteOption({PALETTE_CGA, nullptr}, 0, 16, 0, &r), ERR_PENRANGE);
    r.transparentPen = 2;
    EXPECT_EQ(ResolvePaletteOption({PALETTE_MONOCHROME, nullptr}, 0, 0, 1, &r), ERR_PENRANGE);
    EXPECT_EQ(ResolvePaletteOption({-1001, nullptr}, 0, 0, 0, &r), ERR_UNKNOWNPALETTE);
    EXPECT_EQ(ResolvePaletteOption({8, nullptr}, 0, 0, 0, &r), ERR_FINDPALETTE);
}

TEST_F(PaletteRecords, CyclesAndCopiesPens)
{
    uint32_t pens[8] = {0, 1, 'P', 'Q', 'R', 'S', 6, 7};
    CyclePens(pens, 2, 5, 1);
    EXPECT_EQ(std::vector<uint32_t>(pens + 2, pens + 6), (std::vector<uint32_t>{'S', 'P', 'Q', 'R'}));
    uint32_t back[8] = {0, 1, 'P', 'Q', 'R', 'S', 6, 7};
    CyclePens(back, 5, 2, 1);
    EXPECT_EQ(std::vector<uint32_t>(back + 2, back + 6), (std::vector<uint32_t>{'Q', 'R', 'S', 'P'}));
    lvPalette *p = Make(1, PALETTE_GRAY8);
    std::vector<uint32_t> old(p->pens, p->pens + 8);
    CopyPaletteRange(p, p, 0, 4, 2);
    EXPECT_EQ(std::vector<uint32_t>(p->pens + 2, p->pens + 6), std::vector<uint32_t>(old.begin(), old.begin() + 4));
    EXPECT_EQ(p->pens[0], old[0]);
    EXPECT_EQ(p->pens[6], old[6]);
}

std::vector<uint8_t> Encode(const lvPalette *p)
{
    std::vector<uint8_t> bytes(PaletteFileSize(p));
    EncodePaletteFile(p, bytes.data());
    return bytes;
}

TEST_F(PaletteRecords, FileBytesFollowTheIlbmLayout)
{
    lvPalette *p = Make(1, PALETTE_MONOCHROME);
    std::vector<uint8_t> expected = {'F', 'O', 'R', 'M', 0, 0, 0, 46, 'I', 'L', 'B', 'M', 'B', 'M', 'H', 'D',
                                     0,   0,   0,   20,  0, 0, 0, 0,  0,   0,   0,   0,   1,   0,   0,   0,
                                     0,   0,   0,   0,   0, 0, 0, 0,  'C', 'M', 'A', 'P', 0,   0,   0,   6,
                                     0,   0,   0,   255, 255, 255};
    EXPECT_EQ(Encode(p), expected);

    // With a transparent pen and two cycle ranges.
    lvPalette *q = Make(2, PALETTE_GRAY4, 3);
    lvCycleRange ranges[2] = {{0x1234, 1, 0, 3}, {7, 3, 1, 2}};
    ASSERT_EQ(DuplicateCycleTable(ranges, 2, &q->cycleTable), 0);
    q->cycleCount = 2;
    auto bytes = Encode(q);
    ASSERT_EQ(bytes.size(), 8u + 40 + 12 + 32);
    EXPECT_EQ(bytes[7], 40 + 12 + 32);
    EXPECT_EQ(bytes[28], 2);   // planes
    EXPECT_EQ(bytes[29], 2);   // masking: transparent colour
    EXPECT_EQ(bytes[33], 3);   // the transparent pen
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + 48, bytes.begin() + 60),
              (std::vector<uint8_t>{0, 0, 0, 0x55, 0x55, 0x55, 0xAA, 0xAA, 0xAA, 0xFF, 0xFF, 0xFF}));
    std::vector<uint8_t> crng = {'C', 'R', 'N', 'G', 0, 0, 0, 8, 0, 0, 0x12, 0x34, 0, 1, 0, 3,
                                 'C', 'R', 'N', 'G', 0, 0, 0, 8, 0, 0, 0, 7, 0, 3, 1, 2};
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + 60, bytes.end()), crng);
}

TEST_F(PaletteRecords, FailedWritesAreReported)
{
    lvPalette *p = Make(1, PALETTE_DEFAULT);
    int code = SavePaletteFile(p, "/dev/full", nullptr, nullptr);
    EXPECT_TRUE(code == ERR_WRITE || code == ERR_CLOSEFILE) << code;
    EXPECT_EQ(SavePaletteFile(p, "/nonexistent-dir/x.iff", nullptr, nullptr), ERR_WRITEFILE);
}

// Linked palette tails: {type, pen, depth[, pens]}.
int ReadTail(const std::vector<uint8_t> &bytes, lvLinkedObject *object)
{
    lvByteSource source;
    InitMemorySource(&source, bytes.data(), bytes.size());
    lvAppletCursor cursor = {&source, 0, bytes.size()};
    return ReadLinkedPaletteTail(&cursor, object, 11, 0);
}

TEST(LinkedPalettes, TailReader)
{
    lvLinkedObject object = {};
    std::vector<uint8_t> standard = {0xFF, 0xFF, 0xFC, 0x18, 0xFF, 0xFF, 0xFF, 0xFF, 4};  // -1000, -1, 4
    ASSERT_EQ(ReadTail(standard, &object), 0);
    auto *payload = (lvLinkedPalette *)object.payload;
    EXPECT_EQ(payload->type, -1000);
    EXPECT_EQ(payload->transparentPen, -1);
    EXPECT_EQ(payload->depth, 4);
    std::vector<uint8_t> explicitPens = {0xFF, 0xFF, 0xFC, 0x28, 0, 0, 0, 1, 1, 0, 0x12, 0x34, 0x56, 0, 0, 0, 9};
    ASSERT_EQ(ReadTail(explicitPens, &object), 0);
    payload = (lvLinkedPalette *)object.payload;
    EXPECT_EQ(payload->type, PALETTE_EXPLICIT);
    EXPECT_EQ(payload->pens[0], 0x123456u);
    EXPECT_EQ(payload->pens[1], 9u);
    // Nine bits would write past the 256 pens; a short tail is a read error.
    std::vector<uint8_t> deep = {0xFF, 0xFF, 0xFC, 0x28, 0, 0, 0, 1, 9};
    EXPECT_EQ(ReadTail(deep, &object), ERR_DEPTHRANGE);
    std::vector<uint8_t> shortPens = {0xFF, 0xFF, 0xFC, 0x28, 0, 0, 0, 1, 2, 0, 0, 0, 1};
    EXPECT_EQ(ReadTail(shortPens, &object), ERR_READ);
    FreeMemory(object.payload);
}

}  // namespace

#include <cstdio>
#include <fstream>
#include <iterator>
#include <unistd.h>

#include "images/imaging_links.h"
#include "raster/lvimgfmt.h"
#include "raster/lvpluginraster.h"

namespace {

std::vector<uint8_t> ReadAll(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}
int32_t Le32(const std::vector<uint8_t> &b, size_t at) { return (int32_t)(b[at] | b[at + 1] << 8 | b[at + 2] << 16 | (uint32_t)b[at + 3] << 24); }

// A plug-in's SaveImage reaches the runtime's writers: true colour and palette pixels come
// out as the file says, and a failed write reports failure.
TEST(PluginSaveImage, WritesThroughTheImageSavers)
{
    InstallImagingLinks();
    std::string dir = ::testing::TempDir();
    std::string rgbPath = dir + "/plug_rgb_" + std::to_string(getpid()) + ".bmp";
    std::string penPath = dir + "/plug_pen_" + std::to_string(getpid()) + ".bmp";
    const uint32_t argb[2] = {0xFFFF0000u, 0xFF0000FFu};
    lvPluginTag rgbTags[] = {{2, 24}, {0, 0}};
    ASSERT_EQ(PluginSaveImage(rgbPath.c_str(), argb, 2, 1, IMGFMT_BMP, rgbTags), 1);
    auto b = ReadAll(rgbPath);
    ASSERT_GT(b.size(), 60u);
    EXPECT_EQ(Le32(b, 18), 2);
    EXPECT_EQ(b[28], 24);
    size_t at = (size_t)Le32(b, 10);
    // Red, then blue, each as B G R.
    EXPECT_EQ(std::vector<uint8_t>(b.begin() + at, b.begin() + at + 6), (std::vector<uint8_t>{0, 0, 0xFF, 0xFF, 0, 0}));

    uint32_t palette[256] = {0x000000, 0x00FF00};
    const uint8_t pens[2] = {1, 0};
    lvPluginTag penTags[] = {{2, 8}, {3, (intptr_t)palette}, {0, 0}};
    ASSERT_EQ(PluginSaveImage(penPath.c_str(), pens, 2, 1, IMGFMT_BMP, penTags), 1);
    b = ReadAll(penPath);
    ASSERT_GT(b.size(), 60u);
    EXPECT_EQ(b[28], 8);
    at = (size_t)Le32(b, 10);
    EXPECT_EQ(b[at], 1);
    EXPECT_EQ(b[at + 1], 0);
    EXPECT_EQ(b[54 + 4 + 1], 0xFF);  // pen 1 is green in the colour table

    EXPECT_EQ(PluginSaveImage("/dev/full", argb, 2, 1, IMGFMT_BMP, rgbTags), 0);
    EXPECT_EQ(PluginSaveImage(rgbPath.c_str(), argb, 2, 1, 9999, rgbTags), 0);
    std::remove(rgbPath.c_str());
    std::remove(penPath.c_str());
}

}  // namespace

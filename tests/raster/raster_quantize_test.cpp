// The colour quantiser and palette bitmaps: exact colours in first-seen order,
// median cut with its tie rules, remapping to a given palette with blending,
// thresholds and transparent pens, Floyd-Steinberg on a hand-worked picture,
// and MakePaletteBitmap's sources, results and failures (memory at each step).
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <vector>

#include "base/lverrors.h"
#include "platform/lvplatform.h"
#include "raster/lvquantize.h"
#include "raster/lvraster.h"
#include "raster_fakes.h"

namespace {

struct Quantize : testing::Test {
    void SetUp() override { ResetRasterModes(); }
    void TearDown() override { FailAllocMemoryAfter(-1); }
};

// Runs the quantiser over a whole ARGB picture (format 10).
struct Result {
    int done = 0, count = 0, transparentPen = -2;
    std::vector<uint8_t> pens;
    uint32_t palette[256] = {};
};
Result Quant(const std::vector<uint32_t> &argb, int w, int h, int count, int flags, lvBitMapHandle *mask = nullptr,
           lvBitMapHandle *alpha = nullptr, const uint32_t *palette = nullptr, int32_t value = -1, int wanted = -1,
           int threshold = QUANT_RUNTHRESHOLD, const std::vector<uint8_t> &targetPens = {}) {
    Result r;
    r.pens = targetPens.empty() ? std::vector<uint8_t>(static_cast<size_t>(w) * h, 0xEE) : targetPens;
    if (palette) std::copy(palette, palette + 256, r.palette);
    r.count = count;
    r.done = RemapToPalette(argb.data(), nullptr, -1, PIXFMT_ARGB32, 4, 0, 0, r.pens.data(), 0, 0, w, h, w, w,
                            r.palette, wanted, mask, alpha, &r.count, value, flags, &r.transparentPen, threshold);
    return r;
}

const uint32_t kTen[10] = {0xFF0000, 0x00FF00, 0x0000FF, 0x123456, 0xFFFFFF,
                           0x000000, 0x808080, 0xABCDEF, 0x010203, 0xFEDCBA};

// 5 x 4 picture holding the ten colours, first seen in the order 3, 0, 7, ...
std::vector<uint32_t> TenColourPicture() {
    const int order[20] = {3, 0, 7, 0, 3, 9, 1, 5, 2, 8, 4, 6, 9, 9, 1, 0, 3, 7, 6, 2};
    std::vector<uint32_t> p;
    for (int i : order) p.push_back(0xFF000000u | kTen[i]);
    return p;
}

TEST_F(Quantize, ExactColoursKeepFirstSeenOrderAndTheMaskAddsTheTransparentPen) {
    auto pic = TenColourPicture();
    Result r = Quant(pic, 5, 4, 256, 0);
    ASSERT_EQ(r.done, 1);
    EXPECT_EQ(r.count, 10);
    EXPECT_EQ(r.transparentPen, -1);
    const int firstSeen[10] = {3, 0, 7, 9, 1, 5, 2, 8, 4, 6};
    for (int i = 0; i < 10; i++) EXPECT_EQ(r.palette[i], kTen[firstSeen[i]]) << i;
    for (int i = 0; i < 20; i++) EXPECT_EQ(r.palette[r.pens[i]], pic[i] & 0xFFFFFFu) << i;  // no dither noise

    lvBitMapHandle *mask = MaskFromText({"#.###", "#####", "####.", "#####"});
    Result m = Quant(pic, 5, 4, 256, 0, mask);
    ASSERT_EQ(m.done, 1);
    EXPECT_EQ(m.count, 11);
    EXPECT_EQ(m.transparentPen, 10);
    EXPECT_EQ(m.palette[10], 0u);  // value -1: black
    EXPECT_EQ(m.pens[1], 10);
    EXPECT_EQ(m.pens[14], 10);
    EXPECT_EQ(m.palette[m.pens[0]], kTen[3]);
    // A wanted transparent pen is exchanged with the last one, in pens and palette.
    Result w = Quant(pic, 5, 4, 256, 0, mask, nullptr, nullptr, 0x00ABCDEF, 2);
    EXPECT_EQ(w.transparentPen, 2);
    EXPECT_EQ(w.pens[1], 2);
    EXPECT_EQ(w.palette[2], 0xABCDEFu);
    for (int i = 0; i < 20; i++)
        if (i != 1 && i != 14) {
            EXPECT_EQ(w.palette[w.pens[i]], pic[i] & 0xFFFFFFu) << i;
        }
    FreeBitmapHandle(mask);
}

std::vector<uint32_t> ManyColours(int n) {
    std::vector<uint32_t> p;
    for (int i = 0; i < n; i++) p.push_back(0xFF000000u | ((i * 37) & 0xFF) << 16 | ((i * 11 + (i >> 8) * 100) & 0xFF) << 8 | (i & 0xFF));
    return p;
}

TEST_F(Quantize, MedianCutBoundsThePensAndClampsTheColourCount) {
    auto pic = ManyColours(300);
    for (int asked : {256, 1000, 100000}) {
        Result r = Quant(pic, 20, 15, asked, 0);
        ASSERT_EQ(r.done, 1);
        EXPECT_LE(r.count, 256) << asked;
        EXPECT_GT(r.count, 200) << asked;
        for (uint8_t p : r.pens) EXPECT_LT(p, r.count);
    }
    std::vector<std::string> rows(15, std::string(20, '#'));
    rows[3][4] = '.';
    rows[14][19] = '.';
    lvBitMapHandle *mask = MaskFromText(rows);
    Result m = Quant(pic, 20, 15, 256, 0, mask);
    ASSERT_EQ(m.done, 1);
    EXPECT_LE(m.count, 256);
    EXPECT_EQ(m.transparentPen, m.count - 1);
    for (int i = 0; i < 300; i++) {
        bool hidden = i == 3 * 20 + 4 || i == 299;
        if (hidden) {
            EXPECT_EQ(m.pens[i], m.transparentPen);
        } else {
            EXPECT_LT(m.pens[i], m.count - 1);
        }
    }
    // A count of 0 or less still gives one colour.
    Result one = Quant(pic, 20, 15, 0, 0);
    EXPECT_EQ(one.count, 1);
    for (uint8_t p : one.pens) EXPECT_EQ(p, 0);
    FreeBitmapHandle(mask);
}

// The histogram kept between jobs is clean for each: jobs in any order give
// the pens they give alone.
TEST_F(Quantize, JobsInARowMatchJobsAlone) {
    auto pic = ManyColours(300);
    ReleaseQuantizerCache();
    Result alone = Quant(pic, 20, 15, 40, QUANT_DITHER);
    uint32_t pal[256] = {0x000000, 0xFFFFFF, 0xFF0000, 0x00FF00, 0x0000FF};
    ReleaseQuantizerCache();
    Result remapAlone = Quant(pic, 20, 15, 5, QUANT_REMAP, nullptr, nullptr, pal);
    Result again = Quant(pic, 20, 15, 40, QUANT_DITHER);
    Result remapAgain = Quant(pic, 20, 15, 5, QUANT_REMAP, nullptr, nullptr, pal);
    EXPECT_EQ(again.pens, alone.pens);
    EXPECT_TRUE(std::equal(alone.palette, alone.palette + 256, again.palette));
    EXPECT_EQ(remapAgain.pens, remapAlone.pens);
    ReleaseQuantizerCache();
}

TEST_F(Quantize, EqualBoxesSplitTheEarlierFirst) {
    // Two boxes of equal volume after the first cut: red cells 0..1 and 30..31.
    std::vector<uint32_t> pic = {0xFF000000, 0xFF080000, 0xFFF00000, 0xFFF80000};
    Result r = Quant(pic, 4, 1, 3, 0);
    ASSERT_EQ(r.count, 3);
    EXPECT_EQ(r.palette[0], 0x040204u);  // cell 0 alone
    EXPECT_EQ(r.palette[1], 0xF80204u);  // cells 30 and 31 together: (244 + 252) / 2
    EXPECT_EQ(r.palette[2], 0x0C0204u);  // cell 1 alone
    EXPECT_EQ(r.pens, (std::vector<uint8_t>{0, 2, 1, 1}));
}

TEST_F(Quantize, RemapStaysInsideTheGivenPaletteAndCanKeepIt) {
    uint32_t pal[256] = {};
    for (int i = 0; i < 16; i++) pal[i] = (i * 17u) << 16 | (255 - i * 17u) << 8 | (i * 5u);
    for (int i = 16; i < 256; i++) pal[i] = 0x123456;
    auto pic = ManyColours(300);
    for (int flags : {int(QUANT_REMAP), QUANT_REMAP | QUANT_DITHER, QUANT_REMAP | QUANT_KEEPPALETTE}) {
        Result r = Quant(pic, 20, 15, 16, flags, nullptr, nullptr, pal);
        ASSERT_EQ(r.done, 1);
        EXPECT_EQ(r.count, 16);
        for (uint8_t p : r.pens) EXPECT_LE(p, 15) << flags;
        EXPECT_TRUE(std::equal(pal, pal + 256, r.palette)) << flags;
    }
    // A wanted pen inside the palette takes the transparent pixels and no
    // opaque pixel; the palette stays as given.
    std::vector<std::string> rows(15, std::string(20, '#'));
    rows[0][0] = '.';
    lvBitMapHandle *mask = MaskFromText(rows);
    Result w = Quant(pic, 20, 15, 16, QUANT_REMAP, mask, nullptr, pal, -1, 5);
    EXPECT_EQ(w.transparentPen, 5);
    EXPECT_EQ(w.count, 16);
    EXPECT_EQ(w.pens[0], 5);
    for (int i = 1; i < 300; i++) EXPECT_TRUE(w.pens[i] != 5 && w.pens[i] <= 15) << i;
    EXPECT_TRUE(std::equal(pal, pal + 256, w.palette));
    FreeBitmapHandle(mask);
}

TEST_F(Quantize, BlendAndThresholdDecideWhatShows) {
    uint32_t pal[256] = {0x000000, 0xFFFFFF, 0x808080};
    std::vector<uint32_t> white(3, 0xFFFFFFFF);
    lvBitMapHandle *alpha = AllocAlphaBitmap(3, 1, 1, nullptr, 0);
    SetByte(alpha, 0, 0, 0);
    SetByte(alpha, 1, 0, 128);
    SetByte(alpha, 2, 0, 255);
    // Blend: alpha 0 leaves the target pen, 128 goes half-way from black (0x7F).
    Result b = Quant(white, 3, 1, 3, QUANT_REMAP | QUANT_BLEND, nullptr, alpha, pal, -1, -1, QUANT_RUNTHRESHOLD,
                   {0, 0, 0});
    EXPECT_EQ(b.pens, (std::vector<uint8_t>{0, 2, 1}));
    EXPECT_EQ(b.transparentPen, -1);
    // Threshold: 128 is transparent, 129 opaque, with the run-wide default.
    SetByte(alpha, 0, 0, 128);
    SetByte(alpha, 1, 0, 129);
    Result t = Quant(white, 3, 1, 3, QUANT_REMAP, nullptr, alpha, pal);
    EXPECT_EQ(t.pens[0], t.transparentPen);
    EXPECT_EQ(t.pens[1], 1);
    EXPECT_EQ(t.transparentPen, 3);
    RasterState.transparentThreshold = 200;
    Result t2 = Quant(white, 3, 1, 3, QUANT_REMAP, nullptr, alpha, pal);
    EXPECT_EQ(t2.pens[1], t2.transparentPen);
    Result t3 = Quant(white, 3, 1, 3, QUANT_REMAP, nullptr, alpha, pal, -1, -1, 128);  // explicit threshold wins
    EXPECT_EQ(t3.pens[1], 1);
    // The exact-colour pass honours the same threshold.
    Result e = Quant(white, 3, 1, 256, 0, nullptr, alpha, nullptr, -1, -1, 128);
    EXPECT_EQ(e.count, 2);
    EXPECT_EQ(e.pens, (std::vector<uint8_t>{1, 0, 0}));
    FreeBitmapHandle(alpha);
}

// 8-bit source with a transparent pen, remapped onto a palette whose pens are all in use.
TEST_F(Quantize, AFullPaletteFreesItsClosestPairForTheTransparentPen) {
    // Colours at cell centres, so that each maps to its own pen.
    uint32_t pal[256] = {0x020204, 0xFCFEFC, 0xFC0204, 0xF40204};
    uint32_t sourcePal[256] = {0x020204, 0xFCFEFC, 0xFC0204, 0xF40204, 0, 0x00FF00};
    std::vector<uint8_t> src = {0, 1, 2, 3, 5, 0};
    std::vector<uint8_t> pens(6, 0xEE);
    uint32_t work[256];
    std::copy(pal, pal + 256, work);
    int count = 4, tp = -2;
    ASSERT_EQ(RemapToPalette(src.data(), sourcePal, 5, PIXFMT_CLUT8, 1, 0, 0, pens.data(), 0, 0, 6, 1, 6, 6, work, -1,
                             nullptr, nullptr, &count, -1, QUANT_REMAP, &tp, QUANT_RUNTHRESHOLD),
              1);
    EXPECT_EQ(tp, 2);  // red and the near red merge into pen 3; pen 2 is freed
    EXPECT_EQ(count, 4);
    EXPECT_EQ(pens, (std::vector<uint8_t>{0, 1, 3, 3, 2, 0}));

    // The same with a mask onto a full 256-pen palette: one pen is freed and
    // becomes transparent; nothing is written past the palette.
    uint32_t full[256];
    std::vector<uint32_t> pic;
    for (int i = 0; i < 256; i++) {
        full[i] = uint32_t((i & 7) * 32 + 4) << 16 | uint32_t(((i >> 3) & 7) * 32 + 2) << 8 | uint32_t((i >> 6) * 64 + 4);
        pic.push_back(0xFF000000u | full[i]);
    }
    pic.push_back(0xFF000000u | full[9]);
    std::vector<std::string> rows = {std::string(257, '#')};
    rows[0][256] = '.';
    lvBitMapHandle *mask = MaskFromText(rows);
    Result r = Quant(pic, 257, 1, 256, QUANT_REMAP, mask, nullptr, full);
    ASSERT_EQ(r.done, 1);
    EXPECT_EQ(r.count, 256);
    ASSERT_GE(r.transparentPen, 0);
    ASSERT_LE(r.transparentPen, 255);
    EXPECT_EQ(r.pens[256], r.transparentPen);
    int merged = 0;
    for (int i = 0; i < 256; i++) {
        EXPECT_NE(r.pens[i], r.transparentPen) << i;
        if (r.pens[i] != i) merged++;
    }
    EXPECT_EQ(merged, 1);  // only the freed pen's pixel moved to its partner
    FreeBitmapHandle(mask);
}

TEST_F(Quantize, FloydSteinbergOnAHandWorkedPicture) {
    // Remap onto black and white; errors spread 7/16, 3/16, 5/16, 1/16 and are
    // limited (|e| > 47 counts as 32). Worked out by hand from the rules.
    std::vector<uint32_t> pic = {0x8040C0, 0x202020, 0xE0E0E0, 0x808080, 0x109030, 0x707070, 0x909090, 0x606060,
                                 0x808080, 0x808080, 0x808080, 0x808080, 0x404040, 0xC0C0C0, 0x404040, 0xC0C0C0};
    for (auto &p : pic) p |= 0xFF000000u;
    uint32_t pal[256] = {0x000000, 0xFFFFFF};
    Result d = Quant(pic, 4, 4, 2, QUANT_REMAP | QUANT_DITHER, nullptr, nullptr, pal);
    EXPECT_EQ(d.pens, (std::vector<uint8_t>{0, 0, 1, 0, 1, 0, 1, 0, 0, 1, 0, 1, 0, 1, 0, 1}));
    Result plain = Quant(pic, 4, 4, 2, QUANT_REMAP, nullptr, nullptr, pal);
    EXPECT_EQ(std::vector<uint8_t>(plain.pens.begin() + 8, plain.pens.begin() + 12), (std::vector<uint8_t>{1, 1, 1, 1}));
}

// ---- Palette bitmaps ------------------------------------------------------------

lvPaletteConversion Request(int w, int h) {
    lvPaletteConversion r{};
    r.sourceTransparentPen = -1;
    r.width = w;
    r.height = h;
    r.colourCount = 256;
    r.value = -1;
    r.wantedTransparentPen = -1;
    r.alphaThreshold = QUANT_RUNTHRESHOLD;
    return r;
}

TEST_F(Quantize, PaletteBitmapsFromRawBuffers) {
    std::vector<uint32_t> clear(12, 0x00FF8040u);  // alpha 0 everywhere
    lvPaletteConversion r = Request(4, 3);
    r.rawPixels = clear.data();
    r.rawDepth = 32;
    lvBitMapHandle *pens = nullptr;
    uint32_t *palette = nullptr;
    int tp = -2;
    r.newPensOut = &pens;
    r.paletteCopyOut = &palette;
    r.transparentPenOut = &tp;
    ASSERT_EQ(MakePaletteBitmap(&r), 0);
    ASSERT_NE(pens, nullptr);
    ASSERT_NE(palette, nullptr);
    EXPECT_GE(tp, 0);
    for (int y = 0; y < 3; y++)
        for (int x = 0; x < 4; x++) EXPECT_EQ(ByteAt(pens, x, y), tp);
    FreeBitmapHandle(pens);
    FreeMemory(palette);

    lvPaletteConversion bad = Request(4, 3);
    bad.rawPixels = clear.data();
    bad.rawDepth = 16;
    bad.newPensOut = &pens;
    pens = nullptr;
    EXPECT_EQ(MakePaletteBitmap(&bad), ERR_WRONGUSAGE);
    EXPECT_EQ(pens, nullptr);

    // Raw pens through a given palette, which is kept and indexed.
    std::vector<uint8_t> raw = {0, 1, 2, 3, 3, 2, 1, 0, 1, 1, 1, 1};
    uint32_t sourcePal[256] = {0x000000, 0xFF0000, 0x00FF00, 0x0000FF};
    uint32_t given[256] = {0x0000FF, 0x00FF00, 0xFF0000, 0x000000};
    uint32_t givenCopy[256];
    std::copy(given, given + 256, givenCopy);
    lvPaletteConversion p = Request(4, 3);
    p.rawPixels = raw.data();
    p.rawDepth = 8;
    p.sourcePalette = sourcePal;
    p.palette = given;
    p.keepPalette = 1;
    p.colourCount = 4;
    p.newPensOut = &pens;
    ASSERT_EQ(MakePaletteBitmap(&p), 0);
    EXPECT_TRUE(std::equal(given, given + 256, givenCopy));
    for (int i = 0; i < 12; i++) EXPECT_EQ(ByteAt(pens, i % 4, i / 4), 3 - raw[i]) << i;
    FreeBitmapHandle(pens);
}

TEST_F(Quantize, ReductionInPlaceLeavesAtMostTheAskedColours) {
    lvBitMapHandle *rgb = AllocRgbBitmap(30, 20, 0, nullptr);
    ASSERT_NE(rgb, nullptr);
    FillRgb(rgb, [](int x, int y) { return uint32_t(x * 8) << 16 | uint32_t(y * 12) << 8 | uint32_t((x * y) & 0xFF); });
    lvPaletteConversion r = Request(30, 20);
    r.sourceRgb = rgb;
    r.colourCount = 16;
    r.dither = 1;
    ASSERT_EQ(MakePaletteBitmap(&r), 0);
    EXPECT_LE(r.colourCount, 16);
    std::set<uint32_t> seen;
    for (int y = 0; y < 20; y++)
        for (int x = 0; x < 30; x++) seen.insert(PixelAt(rgb, x, y) & 0xFFFFFFu);
    EXPECT_LE(seen.size(), 16u);
    EXPECT_GT(seen.size(), 8u);
    FreeBitmapHandle(rgb);
}

// Every allocation of the call fails in turn: each gives an error, frees what
// it made (LSan checks), leaves the source as it was and writes no out field.
TEST_F(Quantize, PaletteBitmapSurvivesMemoryFailureAtEachStep) {
    auto pic = ManyColours(300);
    for (int dither = 0; dither < 2; dither++) {
        int step = 0;
        for (;; step++) {
            std::vector<uint32_t> raw = pic;
            for (auto &p : raw) p |= 0xFF000000u;
            raw[7] &= 0x00FFFFFFu;  // one transparent pixel
            ReleaseQuantizerCache();  // every step allocates again
            lvPaletteConversion r = Request(20, 15);
            r.rawPixels = raw.data();
            r.rawDepth = 32;
            r.dither = dither;
            r.colourCount = 64;
            lvBitMapHandle *pens = nullptr;
            uint32_t *palette = nullptr;
            int tp = -7;
            r.newPensOut = &pens;
            r.paletteCopyOut = &palette;
            r.transparentPenOut = &tp;
            FailAllocMemoryAfter(step);
            int rc = MakePaletteBitmap(&r);
            FailAllocMemoryAfter(-1);
            if (rc == 0) {
                EXPECT_EQ(r.colourCount, 64);
                EXPECT_EQ(ByteAt(pens, 7, 0), tp);
                FreeBitmapHandle(pens);
                FreeMemory(palette);
                break;
            }
            EXPECT_TRUE(rc == ERR_ALLOCCHUNKY || rc == ERR_ALLOCALPHA || rc == ERR_MEM) << step << " " << rc;
            EXPECT_EQ(pens, nullptr);
            EXPECT_EQ(palette, nullptr);
            EXPECT_EQ(tp, -7);
            EXPECT_EQ(r.colourCount, 64);
            ASSERT_LT(step, 200);
        }
        EXPECT_GT(step, 36) << "the quantiser's own buffers were reached";
    }
    // In place: the bitmap is untouched by a failed reduction.
    lvBitMapHandle *rgb = AllocRgbBitmap(20, 15, 0, nullptr);
    FillRgb(rgb, [&](int x, int y) { return pic[y * 20 + x]; });
    lvPaletteConversion r = Request(20, 15);
    r.sourceRgb = rgb;
    r.colourCount = 8;
    ReleaseQuantizerCache();
    FailAllocMemoryAfter(5);
    EXPECT_NE(MakePaletteBitmap(&r), 0);
    FailAllocMemoryAfter(-1);
    for (int i = 0; i < 300; i++) EXPECT_EQ(PixelAt(rgb, i % 20, i / 20) & 0xFFFFFFu, pic[i] & 0xFFFFFFu);
    FreeBitmapHandle(rgb);
}

}  // namespace

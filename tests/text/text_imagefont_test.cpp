// Image fonts cut from a hand-made grid of pens or colours: the size check,
// which cell each character draws, widths, measuring and the planes drawn.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "text/lvfont.h"
#include "text/lvimagefont.h"

namespace {

// A 5 x 4 depth-1 brush with 2 x 2 cells, one spare column between the two
// columns of cells (filled, so a read of the spacing shows):
//   A: #.   B: .#   C: ##   A again: ##
//      ##      #.      .#            ##
const std::vector<uint8_t> kPens = {
    1, 0, 1, 0, 1,
    1, 1, 1, 1, 0,
    1, 1, 1, 1, 1,
    0, 1, 1, 1, 1,
};
const uint32_t kPalette[256] = {0x000000, 0xFF0000};

lvImageFontSource PenSource(int width = 5, int height = 4)
{
    lvImageFontSource s{};
    s.width = width;
    s.height = height;
    s.depth = 1;
    s.pens = kPens.data();
    s.palette = kPalette;
    s.transparentPen = -1;
    return s;
}

struct FontHolder {
    lvFont *font = nullptr;
    ~FontHolder()
    {
        if (font) {
            FreeImageFont(font);
            delete font;
        }
    }
};

int Make(FontHolder &h, const lvImageFontSource &s, const std::vector<int> &widths = {}, const char *chars = "ABCA",
         int columns = 2)
{
    return CreateImageFont(&s, "Grid", 2, 2, columns, 1, 0, -1, chars, strlen(chars), widths.data(), widths.size(),
                           &h.font);
}

std::vector<uint8_t> Draw(lvFont *font, const char *text, int width, int charSpacing = 0, int format = LV_PLANE_ALPHA8,
                          uint8_t fill = 0)
{
    int rowBytes = format == LV_PLANE_MASK1 ? (width + 7) / 8 : width;
    std::vector<uint8_t> pixels((size_t)rowBytes * 2, fill);
    lvFontPlane plane{pixels.data(), rowBytes, width, 2, format};
    EXPECT_EQ(RenderImageFontText(font, &plane, 0, 0, text, strlen(text), charSpacing, 0, nullptr), 0);
    return pixels;
}

TEST(ImageFont, BrushMustHoldEveryRowOfCells)
{
    // Ten characters in four columns need three rows.
    struct Case {
        int width, height, cellW, cellH, columns, colSp, rowSp;
        const char *chars;
        int expected;
    } cases[] = {
        {15, 8, 3, 2, 4, 1, 1, "0123456789", 0},
        {14, 8, 3, 2, 4, 1, 1, "0123456789", ERR_BRUSHSIZE},
        {15, 7, 3, 2, 4, 1, 1, "0123456789", ERR_BRUSHSIZE},
        {12, 3, 3, 2, 4, 0, 0, "01234567", ERR_BRUSHSIZE},
        {12, 4, 3, 2, 4, 0, 0, "01234567", 0},
        {15, 8, 0, 2, 4, 1, 1, "0123456789", ERR_WRONGUSAGE},
        {15, 8, 3, 0, 4, 1, 1, "0123456789", ERR_WRONGUSAGE},
        {15, 8, 3, 2, 0, 1, 1, "0123456789", ERR_WRONGUSAGE},
        {15, 8, 3, 2, 4, 1, 1, "", ERR_WRONGUSAGE},
        // Spacings so large that 32-bit sums would wrap.
        {15, 8, 3, 2, 4, 0x40000000, 1, "0123456789", ERR_BRUSHSIZE},
    };
    std::vector<uint8_t> pens(16 * 8, 1);
    for (const Case &c : cases) {
        lvImageFontSource s{};
        s.width = c.width;
        s.height = c.height;
        s.depth = 1;
        s.pens = pens.data();
        s.palette = kPalette;
        FontHolder h;
        EXPECT_EQ(CreateImageFont(&s, "F", c.cellW, c.cellH, c.columns, c.colSp, c.rowSp, -1, c.chars,
                                  strlen(c.chars), nullptr, 0, &h.font),
                  c.expected)
            << c.width << "x" << c.height << " " << c.chars;
        EXPECT_EQ(h.font != nullptr, c.expected == 0);
    }
    std::string tooMany(LV_IMAGEFONT_MAXCHARS + 1, 'x');
    lvImageFontSource s = PenSource();
    FontHolder h;
    EXPECT_EQ(CreateImageFont(&s, "F", 1, 1, 1, 0, 0, -1, tooMany.data(), tooMany.size(), nullptr, 0, &h.font),
              ERR_WRONGUSAGE);
    int negative[] = {2, -1};
    EXPECT_EQ(CreateImageFont(&s, "F", 2, 2, 2, 1, 0, -1, "AB", 2, negative, 2, &h.font), ERR_WRONGUSAGE);
    EXPECT_EQ(h.font, nullptr);
}

TEST(ImageFont, RecordTakesCellHeightAscenderAndDepth)
{
    FontHolder h;
    ASSERT_EQ(Make(h, PenSource()), 0);
    EXPECT_EQ(h.font->type, LV_FONT_IMAGE);
    EXPECT_STREQ(h.font->name, "Grid");
    EXPECT_EQ(h.font->height, 2);
    EXPECT_EQ(h.font->size, 2);
    EXPECT_EQ(h.font->baseline, 1);
    EXPECT_EQ(GetFontDepth(h.font), 1);
    EXPECT_EQ(GetFontTransparentPen(h.font), 0);
    ASSERT_NE(GetFontPalette(h.font), nullptr);
    EXPECT_EQ(GetFontPalette(h.font)[1], 0xFF0000u);
    EXPECT_EQ(FontTypeOf(h.font), FONTTYPE_BRUSH);
}

TEST(ImageFont, DrawsEachCharactersFirstCellFromTheGrid)
{
    FontHolder h;
    ASSERT_EQ(Make(h, PenSource()), 0);
    // "A" is both the first and the last cell: the first one is drawn.
    EXPECT_EQ(Draw(h.font, "AB", 6), (std::vector<uint8_t>{255, 0, 0, 255, 0, 0, 255, 255, 255, 0, 0, 0}));
    EXPECT_EQ(Draw(h.font, "CA", 4), (std::vector<uint8_t>{255, 255, 255, 0, 0, 255, 255, 255}));
    // Not in the set: nothing drawn, a cell's width advanced.
    EXPECT_EQ(Draw(h.font, "ZA", 4), (std::vector<uint8_t>{0, 0, 255, 0, 0, 0, 255, 255}));
    // The mask plane, most significant bit leftmost, with one pixel between.
    EXPECT_EQ(Draw(h.font, "AB", 9, 1, LV_PLANE_MASK1), (std::vector<uint8_t>{0x88, 0, 0xD0, 0}));
}

TEST(ImageFont, CharWidthsByPositionExtraEntriesIgnored)
{
    FontHolder h;
    // Widths beyond the four characters are ignored, not written past the table.
    std::vector<int> widths = {1, 2, 2, 2, 9, 9, 9};
    ASSERT_EQ(Make(h, PenSource(), widths), 0);
    EXPECT_EQ(Draw(h.font, "AB", 6), (std::vector<uint8_t>{255, 0, 255, 0, 0, 0, 255, 255, 0, 0, 0, 0}));
    lvFontExtent e{};
    EXPECT_EQ(MeasureImageFontText(h.font, "AB", 2, 0, 0, &e), 0);
    EXPECT_EQ(e.advance, 3);

    // A width wider than the brush stops at the brush's right edge.
    FontHolder wide;
    ASSERT_EQ(Make(wide, PenSource(), {9}), 0);
    EXPECT_EQ(Draw(wide.font, "A", 12),
              (std::vector<uint8_t>{255, 0, 255, 0, 255, 0, 0, 0, 0, 0, 0, 0, 255, 255, 255, 255, 0, 0, 0, 0, 0, 0,
                                    0, 0}));
}

TEST(ImageFont, MeasuresSumsOfWidthsWithCharSpacing)
{
    FontHolder h;
    ASSERT_EQ(Make(h, PenSource()), 0);
    struct Case {
        const char *text;
        int charSpacing, advance, maxX;
    } cases[] = {
        {"AB", 0, 4, 3},
        {"AB", 1, 6, 4},
        {"AB", -3, 0, -1}, // every advance held at 0, the last one's spacing not taken off
        {"ZZZ", 0, 6, 5},
        {"", 0, 0, -1},
    };
    for (const Case &c : cases) {
        lvFontExtent e{};
        EXPECT_EQ(MeasureImageFontText(h.font, c.text, strlen(c.text), c.charSpacing, 0, &e), 0);
        EXPECT_EQ(e.advance, c.advance) << c.text << " " << c.charSpacing;
        EXPECT_EQ(e.maxX, c.maxX) << c.text << " " << c.charSpacing;
        EXPECT_EQ(e.height, 2);
        EXPECT_EQ(e.minX, 0);
        EXPECT_EQ(e.minY, -1);
        EXPECT_EQ(e.maxY, 0);
    }
}

TEST(ImageFont, PaletteFontsWritePensButTheTransparentOne)
{
    const uint8_t pens[] = {3, 2, 1, 0};
    uint32_t palette[256] = {0x111111, 0x222222, 0x333333, 0x444444};
    lvImageFontSource s{};
    s.width = 4;
    s.height = 1;
    s.depth = 2;
    s.pens = pens;
    s.palette = palette;
    s.transparentPen = 3;
    FontHolder h;
    ASSERT_EQ(CreateImageFont(&s, "P", 4, 1, 1, 0, 0, 0, "x", 1, nullptr, 0, &h.font), 0);
    EXPECT_EQ(GetFontTransparentPen(h.font), 3);
    std::vector<uint8_t> plane(4, 0x77);
    lvFontPlane p{plane.data(), 4, 4, 1, LV_PLANE_ALPHA8};
    ASSERT_EQ(RenderImageFontText(h.font, &p, 0, 0, "x", 1, 0, 0, nullptr), 0);
    EXPECT_EQ(plane, (std::vector<uint8_t>{0x77, 2, 1, 0x77}));
    std::vector<uint32_t> argb(4, 0);
    ASSERT_EQ(RenderImageFontArgb(h.font, argb.data(), 4, 4, 1, 0, 0, "x", 1, 0, 0), 0);
    EXPECT_EQ(argb, (std::vector<uint32_t>{0, 0xFF333333, 0xFF222222, 0xFF111111}));
}

TEST(ImageFont, RgbFontsGiveTheirAlphaAndColours)
{
    const uint32_t argb[] = {0x80102030, 0x7F405060, 0x00FFFFFF, 0xFF708090};
    lvImageFontSource s{};
    s.width = 4;
    s.height = 1;
    s.depth = 24;
    s.argb = argb;
    s.hasAlpha = 1;
    s.transparentPen = -1;
    FontHolder h;
    ASSERT_EQ(CreateImageFont(&s, "R", 1, 1, 4, 0, 0, -1, "abcd", 4, nullptr, 0, &h.font), 0);
    EXPECT_EQ(GetFontDepth(h.font), 24);
    EXPECT_EQ(GetFontPalette(h.font), nullptr);
    std::vector<uint8_t> alpha(4, 0);
    lvFontPlane a{alpha.data(), 4, 4, 1, LV_PLANE_ALPHA8};
    ASSERT_EQ(RenderImageFontText(h.font, &a, 0, 0, "abcd", 4, 0, 0, nullptr), 0);
    EXPECT_EQ(alpha, (std::vector<uint8_t>{0x80, 0x7F, 0, 0xFF}));
    uint8_t mask = 0;
    lvFontPlane m{&mask, 1, 4, 1, LV_PLANE_MASK1};
    ASSERT_EQ(RenderImageFontText(h.font, &m, 0, 0, "abcd", 4, 0, 0, nullptr), 0);
    EXPECT_EQ(mask, 0x90);
    std::vector<uint32_t> out(4, 0);
    ASSERT_EQ(RenderImageFontArgb(h.font, out.data(), 4, 4, 1, 0, 0, "dcba", 4, 0, 0), 0);
    EXPECT_EQ(out, (std::vector<uint32_t>{0xFF708090, 0, 0x7F405060, 0x80102030}));
    // Clipped at the target's edges: drawn from x -2 and x 3 nothing spills.
    std::vector<uint32_t> edge(4, 0);
    ASSERT_EQ(RenderImageFontArgb(h.font, edge.data(), 4, 4, 1, -2, 0, "abcd", 4, 0, 0), 0);
    EXPECT_EQ(edge, (std::vector<uint32_t>{0, 0xFF708090, 0, 0}));
}

TEST(ImageFont, FontManagerDispatchesAndFreesThem)
{
    lvFontManager fm{};
    ASSERT_EQ(InitFontManager(&fm), 0);
    lvImageFontSource s = PenSource();
    lvFont *font = nullptr;
    ASSERT_EQ(CreateImageFont(&s, "Grid", 2, 2, 2, 1, 0, -1, "ABCA", 4, nullptr, 0, &font), 0);
    lvFontExtent e{};
    EXPECT_EQ(MeasureFontText(&fm, font, "AB", 2, 0, 0, 0, &e), 0);
    EXPECT_EQ(e.advance, 4);
    std::vector<uint8_t> plane(8, 0);
    lvFontPlane p{plane.data(), 4, 4, 2, LV_PLANE_ALPHA8};
    EXPECT_EQ(RenderFontText(&fm, font, &p, 0, 0, "B", 1, 0, 0, 0, nullptr), 0);
    EXPECT_EQ(plane, (std::vector<uint8_t>{0, 255, 0, 0, 255, 0, 0, 0}));
    // Not scalable: a scale leaves it as it was.
    ApplyFontScale(&fm, font, 2.0, 2.0);
    EXPECT_EQ(font->height, 2);
    DestroyFont(&fm, font); // everything it owns goes (ASan)
    DoneFontManager(&fm);
}

} // namespace

// Amiga disk fonts: the test writer's bytes, monochrome and colour fonts found
// through the font directories and drawn into planes, measuring, and size
// files damaged field by field.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "runtime/encoding.h"
#include "tests/text/amiga_writer.h"
#include "tests/text/fc_fixture.h"
#include "text/lvamiga.h"
#include "text/lvfont.h"

namespace {

namespace fs = std::filesystem;
using amiga::Bytes;

void WriteFile(const std::string &path, const Bytes &b)
{
    std::ofstream(path, std::ios::binary).write((const char *)b.data(), (std::streamsize)b.size());
}

std::string Hex(const Bytes &b, size_t from, size_t to)
{
    std::string out;
    char buf[4];
    for (size_t i = from; i < to; i++) {
        snprintf(buf, sizeof buf, "%02X", b[i]);
        out += buf;
    }
    return out;
}

TEST(AmigaWriter, TwoGlyphFontMatchesHandComputedBytes)
{
    Bytes b = amiga::SizeFile(amiga::OneCharacter(2, 3, 1, 'A', {{"#.#", ".#."}, {"##", "##"}}));
    ASSERT_EQ(b.size(), 154u);
    EXPECT_EQ(Hex(b, 0, 4), "000003F3");
    EXPECT_EQ(Hex(b, 50, 52), "0F80");
    // y size, style, flags, x size, baseline, smear, accessors, lo, hi,
    // glyphs at 110, modulo 2, locations at 114, no spaces, no kerns
    EXPECT_EQ(Hex(b, 110, 142), std::string("0002") + "0000" + "0003" + "0001" + "0001" + "0000" + "4141" +
                                     "0000006E" + "0002" + "00000072" + "00000000" + "00000000");
    // the strip "#.###" / ".#.##" and the locations 0/3 and 3/2
    EXPECT_EQ(Hex(b, 142, 154), "B800580000000003" "00030002");
}

// A proportional font of three characters 'a'..'c' and the fallback glyph,
// 3 rows, with spaces and kerns.
amiga::Font Proportional()
{
    amiga::Font f;
    f.ySize = 3;
    f.xSize = 4;
    f.baseline = 2;
    f.flags = 0x20;
    f.lo = 'a';
    f.hi = 'c';
    f.glyphs = {{"##", "#.", "##"}, {"#", "#", "#"}, {"###", "..#", "###"}, {"#.#", ".#.", "#.#"}};
    f.spaces = {3, 2, 4, 4};
    f.kerns = {0, 1, -1, 0};
    return f;
}

class AmigaTest : public ::testing::Test {
protected:
    lvFontManager fm{};
    std::string dir;
    void SetUp() override
    {
        dir = ScratchDir("amiga");
        ASSERT_EQ(InitFontManager(&fm), 0);
        ASSERT_EQ(AddFontPath(&fm, dir.c_str()), 0);
    }
    void TearDown() override
    {
        DoneFontManager(&fm);
        fs::remove_all(dir);
    }
    // Writes name.font and name/<size> for each font.
    void Install(const std::string &name, const std::vector<amiga::Entry> &entries,
                 const std::vector<std::pair<int, amiga::Font>> &sizes)
    {
        fs::create_directories(dir + "/" + name);
        WriteFile(dir + "/" + name + ".font", amiga::Contents(entries));
        for (const auto &[size, font] : sizes) WriteFile(dir + "/" + name + "/" + std::to_string(size), amiga::SizeFile(font));
    }
    int Open(const char *name, int size, lvFont **font)
    {
        return OpenFontByName(&fm, name, size, 1, 0, 0, nullptr, 0, "native", "", font);
    }
};

TEST_F(AmigaTest, MonochromeFontDrawsItsGlyphs)
{
    Install("mono", {{"::incomplete", 3}, {"mono/3", 3}}, {{3, Proportional()}});
    lvFont *font = nullptr;
    ASSERT_EQ(Open("mono", 3, &font), 0);
    EXPECT_EQ(font->type, LV_FONT_AMIGA);
    EXPECT_EQ(FontTypeOf(font), FONTTYPE_BITMAP);
    EXPECT_EQ(FontEngineOf(font), FONTENGINE_NATIVE);
    EXPECT_EQ(font->height, 3);
    EXPECT_EQ(font->baseline, 2);
    EXPECT_STREQ(font->formatName, "Amiga bitmap");
    EXPECT_EQ(GetFontDepth(font), 1);
    EXPECT_EQ(GetFontPalette(font), nullptr);
    EXPECT_EQ(GetFontTransparentPen(font), -1);
    EXPECT_EQ(Open("mono.font", 3, &font), 0);
    EXPECT_EQ(Open("mono", 4, &font), ERR_OPENFONT);

    // "abz": a at 0, b kerned +1 after a's 3, z (above hi) the fallback glyph
    // kerned 0 after b's 2: pens 0, 4, 6.
    lvFontExtent e;
    ASSERT_EQ(Open("mono", 3, &font), 0);
    MeasureFontText(&fm, font, "abz", 3, 0, 0, LV_ENCODING_UTF8, &e);
    EXPECT_EQ(e.advance, 3 + 1 + 2 + 0 + 4);
    EXPECT_EQ(e.minX, 0);
    EXPECT_EQ(e.maxX, 6 + 3 - 1);
    EXPECT_EQ(e.minY, -2);
    EXPECT_EQ(e.maxY, 0);
    Bytes mask(2 * 3, 0);
    lvFontPlane plane{mask.data(), 2, 16, 3, LV_PLANE_MASK1};
    ASSERT_EQ(RenderFontText(&fm, font, &plane, 1, 0, "abz", 3, 0, 0, LV_ENCODING_UTF8, nullptr), 0);
    // x 1..2 "a", x 5 "b", x 7..9 fallback
    //  row 0: .##..#.#.#......  row 1: .#...#..#.......  row 2: .##..#.#.#......
    EXPECT_EQ(Hex(mask, 0, 6), "6540" "4480" "6540");
    // Char spacing below minus the advance leaves the pen in place.
    MeasureFontText(&fm, font, "aa", 2, 0, -8, LV_ENCODING_UTF8, &e);
    EXPECT_EQ(e.advance, 0);
}

TEST_F(AmigaTest, FixedWidthFontsAndTheFallbackGlyph)
{
    Install("fixed", {{"fixed/2", 2}}, {{2, amiga::OneCharacter(2, 2, 1, 'x', {{"#.", ".#"}, {"##", "##"}})}});
    lvFont *font = nullptr;
    ASSERT_EQ(Open("fixed", 2, &font), 0);
    lvFontExtent e;
    MeasureFontText(&fm, font, "xyx", 3, 0, 1, LV_ENCODING_UTF8, &e);
    EXPECT_EQ(e.advance, 9);
    EXPECT_EQ(e.maxX, 9 - 1 - 1);
    MeasureFontText(&fm, font, "xx", 2, 0, -3, LV_ENCODING_UTF8, &e);
    EXPECT_EQ(e.advance, 0);
    Bytes plane(8 * 2, 0);
    lvFontPlane view{plane.data(), 8, 8, 2, LV_PLANE_ALPHA8};
    // "\xC3\xA9" is one character above hi char: the fallback glyph.
    RenderFontText(&fm, font, &view, 0, 0, "x\xC3\xA9", 3, 0, 0, LV_ENCODING_UTF8, nullptr);
    EXPECT_EQ(Hex(plane, 0, 16), "FF00FFFF00000000" "00FFFFFF00000000");
}

TEST_F(AmigaTest, ColourFontPensFromPickedPlanes)
{
    amiga::Font f = amiga::OneCharacter(2, 3, 1, 'a', {{"154", "0.5"}, {"1", "4"}});
    f.colour = true;
    f.depth = 3;
    f.planePick = 0b101; // planes 0 and 2, from plane pointers 0 and 1
    f.colours = {0x000, 0xF00, 0x0F0, 0x00F, 0x123, 0xFFF};
    Install("colour", {{"colour/2", 2}}, {{2, f}});
    lvFont *font = nullptr;
    ASSERT_EQ(Open("colour", 2, &font), 0);
    EXPECT_EQ(font->type, LV_FONT_AMIGACOLOR);
    EXPECT_EQ(FontTypeOf(font), FONTTYPE_COLOR);
    EXPECT_EQ(GetFontDepth(font), 3); // six colours need three bits
    EXPECT_EQ(GetFontTransparentPen(font), 0);
    const uint32_t *palette = GetFontPalette(font);
    ASSERT_NE(palette, nullptr);
    EXPECT_EQ(palette[1], 0xFF0000u);
    EXPECT_EQ(palette[4], 0x112233u);
    EXPECT_EQ(palette[5], 0xFFFFFFu);
    Bytes pens(6 * 2, 9);
    lvFontPlane view{pens.data(), 6, 6, 2, LV_PLANE_ALPHA8};
    RenderFontText(&fm, font, &view, 1, 0, "a", 1, 0, 0, LV_ENCODING_UTF8, nullptr);
    // pens 1, 5, 4 / 0, 0, 5; pen 0 leaves the plane as it was
    EXPECT_EQ(Hex(pens, 0, 12), "090105040909" "090909050909");
}

struct Damage { const char *what; size_t at; int width; uint32_t value; };

// True when the size file with one field overwritten is refused.
bool Refused(Bytes bytes, const Damage &d)
{
    if (d.width == 1) bytes[d.at] = (uint8_t)d.value;
    else if (d.width == 2) amiga::Put16(bytes, d.at, d.value);
    else amiga::Put32(bytes, d.at, d.value);
    lvAmigaFont *af = nullptr;
    int err = ReadAmigaSizeFile(bytes.data(), bytes.size(), &af);
    FreeAmigaFontData(af);
    return err == ERR_READ;
}

TEST(AmigaReader, DamagedSizeFilesDoNotOpen)
{
    Bytes good = amiga::SizeFile(Proportional());
    lvAmigaFont *af = nullptr;
    ASSERT_EQ(ReadAmigaSizeFile(good.data(), good.size(), &af), 0);
    FreeAmigaFontData(af);
    uint32_t locations = (uint32_t)good[130] << 24 | good[131] << 16 | good[132] << 8 | good[133];
    Damage damages[] = {
        {"file id", 50, 2, 0x0F81},
        {"hi char below lo char", 123, 1, 'a' - 1},
        {"glyph data beyond the file", 124, 4, 0xFFFF0000},
        {"modulo larger than the file", 128, 2, 0x4000},
        {"char locations beyond the file", 130, 4, (uint32_t)good.size()},
        {"char spaces beyond the file", 134, 4, 0x7FFFFFF0},
        {"char kerns beyond the file", 138, 4, (uint32_t)good.size() - 33},
        {"a glyph running past the strip", 32 + locations + 4, 4, 15u << 16 | 2},
        {"y size 0", 110, 2, 0},
    };
    for (const Damage &d : damages) EXPECT_TRUE(Refused(good, d)) << d.what;
    EXPECT_EQ(ReadAmigaSizeFile(good.data(), 141, &af), ERR_READ);

    amiga::Font c = amiga::OneCharacter(1, 8, 1, 'a', {{"12"}, {"3"}});
    c.colour = true;
    c.depth = 2;
    c.planePick = 3;
    c.colours = {0x000, 0xFFF};
    Bytes colour = amiga::SizeFile(c);
    ASSERT_EQ(ReadAmigaSizeFile(colour.data(), colour.size(), &af), 0);
    FreeAmigaFontData(af);
    uint32_t record = (uint32_t)colour[150] << 24 | colour[151] << 16 | colour[152] << 8 | colour[153];
    Damage colourDamages[] = {
        {"depth above 8", 144, 1, 9},
        {"depth 0", 144, 1, 0},
        {"plane data beyond the file", 158, 4, 0x00FFFFFF},
        {"over 256 colours", 32 + record + 2, 2, 257},
        {"colour table beyond the file", 32 + record + 4, 4, 0xFFFFFFF0},
        {"colour record beyond the file", 150, 4, (uint32_t)colour.size()},
    };
    for (const Damage &d : colourDamages) EXPECT_TRUE(Refused(colour, d)) << d.what;
}

// The drawn glyphs and accents of the topaz source, by code or name.
struct TopazSource {
    std::map<std::string, std::vector<std::string>> glyphs;
    std::map<std::string, std::map<std::string, std::map<int, std::string>>> accents; // name, cap/small, row
};
TopazSource ReadTopazSource()
{
    TopazSource src;
    std::ifstream in(std::string(LV_SOURCE_DIR) + "/text/fonts/topaz.txt");
    std::string line, accent;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string kind, key;
        words >> kind >> key;
        if (kind == "glyph") {
            std::vector<std::string> rows(8);
            for (auto &r : rows) std::getline(in, r);
            src.glyphs[key] = rows;
        } else if (kind == "accent") {
            accent = key;
        } else if (kind == "cap" || kind == "small") {
            std::string pixels;
            words >> pixels;
            src.accents[accent][kind][std::stoi(key)] = pixels;
        }
    }
    return src;
}

TEST_F(AmigaTest, TopazIsItsDrawnSource)
{
    lvFont *topaz = nullptr;
    ASSERT_EQ(Open(LV_BITMAP_DEFAULT, 8, &topaz), 0);
    EXPECT_EQ(topaz, fm.topaz);
    lvFont *again = nullptr;
    ASSERT_EQ(Open("topaz", 8, &again), 0);
    EXPECT_EQ(again, topaz);
    EXPECT_EQ(fm.cache, nullptr); // topaz is never a cache entry
    EXPECT_EQ(Open("Topaz", 8, &again), ERR_OPENFONT);
    EXPECT_EQ(Open("topaz", 9, &again), ERR_OPENFONT);
    EXPECT_STREQ(topaz->name, "topaz");
    EXPECT_EQ(topaz->height, 8);
    EXPECT_EQ(topaz->baseline, 6);
    EXPECT_EQ(topaz->antialiased, 0);
    lvFontExtent e;
    MeasureFontText(&fm, topaz, "abc", 3, 0, 0, LV_ENCODING_UTF8, &e);
    EXPECT_EQ(e.advance, 24);
    EXPECT_EQ(e.maxX, 23);
    EXPECT_EQ(e.minY, -6);
    EXPECT_EQ(e.maxY, 1);
    MeasureFontText(&fm, nullptr, "abc", 3, 0, -8, LV_ENCODING_UTF8, &e);
    EXPECT_EQ(e.advance, 0);

    // Each character drawn alone is its glyph in the source, 0xDC to 0xFF too.
    TopazSource src = ReadTopazSource();
    auto draw = [&](uint8_t c) {
        Bytes plane(8 * 8, 0);
        lvFontPlane view{plane.data(), 8, 8, 8, LV_PLANE_ALPHA8};
        char text[1] = {(char)c};
        RenderFontText(&fm, nullptr, &view, 0, 0, text, 1, 0, 0, LV_ENCODING_LATIN1, nullptr);
        std::vector<std::string> rows(8);
        for (int y = 0; y < 8; y++)
            for (int x = 0; x < 8; x++) rows[y] += plane[y * 8 + x] ? '#' : '.';
        return rows;
    };
    int drawn = 0;
    for (int c = 0x20; c <= 0xFF; c++) {
        char key[3];
        snprintf(key, sizeof key, "%02X", c);
        if (!src.glyphs.count(key)) continue;
        EXPECT_EQ(draw((uint8_t)c), src.glyphs[key]) << key;
        drawn++;
    }
    EXPECT_GT(drawn, 130);
    // Accented letters are base and mark; 0x7F-0x9F and characters below 32 a hollow box.
    struct Composed { uint8_t code; const char *base, *accent, *kind; } composed[] = {
        {0xC4, "41", "diaeresis", "cap"}, {0xC7, "43", "cedilla", "cap"}, {0xE9, "65", "acute", "small"},
        {0xEF, "dotlessi", "diaeresis", "small"}, {0xFF, "79", "diaeresis", "small"},
    };
    for (const Composed &c : composed) {
        std::vector<std::string> want = src.glyphs[c.base];
        for (auto &[row, pixels] : src.accents[c.accent][c.kind])
            for (int x = 0; x < 8; x++)
                if (pixels[x] == '#') want[row][x] = '#';
        EXPECT_EQ(draw(c.code), want) << (int)c.code;
    }
    std::vector<std::string> box = {"........", "######..", "#....#..", "#....#..",
                                    "#....#..", "#....#..", "######..", "........"};
    for (uint8_t c : {0x7F, 0x80, 0x9F, 0x01, 0x1F}) EXPECT_EQ(draw(c), box) << (int)c;
}

TEST(AmigaReader, ContentsEntries)
{
    char name[260];
    Bytes contents = amiga::Contents({{"f/8", 8}, {"::incomplete", 11}, {"f/11", 11}});
    EXPECT_EQ(FindAmigaContentsEntry(contents.data(), contents.size(), 11, name, sizeof name), 1);
    EXPECT_STREQ(name, "f/11");
    EXPECT_EQ(FindAmigaContentsEntry(contents.data(), contents.size(), 9, name, sizeof name), 0);
    // A count beyond the file reads only the entries there.
    amiga::Put16(contents, 2, 0x7FFF);
    EXPECT_EQ(FindAmigaContentsEntry(contents.data(), contents.size(), 11, name, sizeof name), 1);
    Bytes outline = amiga::Contents({{"f/8", 8}}, 0x0F03);
    EXPECT_EQ(FindAmigaContentsEntry(outline.data(), outline.size(), 8, name, sizeof name), 0);
}

} // namespace

// Only the test's own files: the system engine behind the Amiga loader finds nothing.
static const bool kNoSystemFonts = [] {
    static std::string scratch = ScratchDir("fc");
    UseFontconfigDirs(scratch, {});
    atexit([] { std::filesystem::remove_all(scratch); });
    return true;
}();

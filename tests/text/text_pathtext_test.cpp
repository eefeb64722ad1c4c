// Path text: the UTF-8 decoder of path text (1 to 4 bytes, never past the
// text), glyph outlines and advances against an independent FreeType face,
// and the vector-font handles stored in path buffers.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "text/lvpathtext.h"

namespace {

TEST(PathText, CharactersOfOneToFourBytesAndNothingPastTheEnd)
{
    struct Case {
        std::string text;
        std::vector<uint32_t> codes;
    } cases[] = {
        {"AB", {0x41, 0x42}},
        {"\xC3\xA9", {0xE9}},
        {"\xE2\x82\xAC", {0x20AC}},
        {"\xF0\x9F\x98\x80x", {0x1F600, 'x'}},
        // A lead byte at the end, or a cut sequence, ends the text.
        {"A\xE2", {0x41}},
        {"A\xF0\x9F\x98", {0x41}},
        {"\xC3", {}},
        // A stray continuation byte, or a lead byte followed by no continuation, is its own code.
        {"\x80" "A", {0x80, 0x41}},
        {"\xC3" "A", {0xC3, 0x41}},
    };
    for (const Case &c : cases) {
        // The text is copied into a buffer of exactly its length: ASan sees
        // any read past it.
        std::vector<char> bytes(c.text.begin(), c.text.end());
        std::vector<uint32_t> got;
        size_t position = 0;
        uint32_t code;
        while (NextPathTextChar(bytes.data(), bytes.size(), &position, &code)) got.push_back(code);
        EXPECT_EQ(got, c.codes) << c.text;
    }
}

struct Recorder {
    int moves = 0, segments = 0, closes = 0;
    double lastX = 0, lastY = 0;
    lvPathSink Sink()
    {
        return {this,
                [](void *c, double x, double y) { auto *r = (Recorder *)c; r->moves++, r->lastX = x, r->lastY = y; },
                [](void *c, double x, double y) { auto *r = (Recorder *)c; r->segments++, r->lastX = x, r->lastY = y; },
                [](void *c, double, double, double x, double y) {
                    auto *r = (Recorder *)c;
                    r->segments++, r->lastX = x, r->lastY = y;
                },
                [](void *c, double, double, double, double, double x, double y) {
                    auto *r = (Recorder *)c;
                    r->segments++, r->lastX = x, r->lastY = y;
                },
                [](void *c) { ((Recorder *)c)->closes++; }};
    }
};

class PathFonts : public ::testing::Test {
protected:
    lvFontManager fm{};
    FT_Library lib = nullptr;
    FT_Face ref = nullptr;
    void SetUp() override
    {
        ASSERT_EQ(InitFontManager(&fm), 0);
        ASSERT_EQ(FT_Init_FreeType(&lib), 0);
        ASSERT_EQ(FT_New_Face(lib, "/usr/share/fonts/truetype/ttf-bitstream-vera/Vera.ttf", 0, &ref), 0);
        FT_Set_Char_Size(ref, 0, 20 * 64, 72, 72);
    }
    void TearDown() override
    {
        FT_Done_Face(ref);
        FT_Done_FreeType(lib);
        DoneFontManager(&fm);
    }
    lvFont *Vera()
    {
        lvFont *font = nullptr;
        EXPECT_EQ(OpenFontByName(&fm, LV_SANS_DEFAULT, 20, 1, 0, 0, nullptr, 0, "inbuilt", "", &font), 0);
        return font;
    }
    int Contours(uint32_t c)
    {
        FT_Load_Char(ref, c, FT_LOAD_NO_BITMAP);
        return ref->glyph->outline.n_contours;
    }
    double Advance(uint32_t c)
    {
        FT_Load_Char(ref, c, FT_LOAD_NO_BITMAP);
        return ref->glyph->advance.x / 64.0;
    }
};

TEST_F(PathFonts, TextMovesTheCurrentPointByItsAdvancesAndDrawsItsGlyphs)
{
    lvVectorFontTable table;
    uint32_t handle = 0;
    ASSERT_EQ(GetVectorFont(&table, nullptr, Vera(), &handle), 0);
    FT_Face face = (FT_Face)GetVectorFontOfHandle(&table, handle);
    ASSERT_NE(face, nullptr);
    Recorder r;
    lvPathSink sink = r.Sink();
    double x = 10, y = 50;
    ASSERT_EQ(AddPathTextOutlines(face, 20, "AB", 2, &x, &y, &sink), 0);
    EXPECT_DOUBLE_EQ(x, 10 + Advance('A') + Advance('B'));
    EXPECT_EQ(y, 50);
    EXPECT_EQ(r.moves, Contours('A') + Contours('B'));
    EXPECT_EQ(r.closes, r.moves);
    // The euro sign, three bytes of UTF-8, draws its own glyph.
    Recorder euro;
    sink = euro.Sink();
    x = 0;
    ASSERT_EQ(AddPathTextOutlines(face, 20, "\xE2\x82\xAC", 3, &x, &y, &sink), 0);
    EXPECT_DOUBLE_EQ(x, Advance(0x20AC));
    EXPECT_GT(euro.segments, 10);
    // A text ending in a lone lead byte stops there.
    std::vector<char> cut = {'A', '\xE2'};
    Recorder a;
    sink = a.Sink();
    x = 0;
    ASSERT_EQ(AddPathTextOutlines(face, 20, cut.data(), cut.size(), &x, &y, &sink), 0);
    EXPECT_DOUBLE_EQ(x, Advance('A'));
}

TEST_F(PathFonts, HandlesAreIndicesOfTheRunAndPathBuffersResolveThem)
{
    lvVectorFontTable table;
    uint32_t handle = 0;
    EXPECT_EQ(GetVectorFont(&table, nullptr, fm.topaz, &handle), ERR_VFONTTYPE);
    lvFont *vera = Vera();
    ASSERT_EQ(GetVectorFont(&table, nullptr, vera, &handle), 0);
    EXPECT_EQ(handle, 1u);
    uint32_t again = 0;
    ASSERT_EQ(GetVectorFont(&table, nullptr, vera, &again), 0);
    EXPECT_EQ(again, handle);
    EXPECT_EQ(FindFontByVectorHandle(&table, handle), vera);
    EXPECT_EQ(FindFontByVectorHandle(&table, 0), nullptr);
    EXPECT_EQ(FindFontByVectorHandle(&table, 7), nullptr);

    // MoveTo, Text "abc" (8-byte field), LineTo, end.
    std::vector<uint8_t> buffer;
    auto put32 = [&](uint32_t v) { for (int k = 0; k < 4; k++) buffer.push_back((uint8_t)(v >> (8 * k))); };
    put32(1), put32(0);
    for (int k = 0; k < 16; k++) buffer.push_back(0);
    put32(9), put32(handle), put32(20);
    for (char c : std::string("abc\0pad", 8)) buffer.push_back((uint8_t)c);
    put32(2), put32(1);
    for (int k = 0; k < 16; k++) buffer.push_back(0);
    put32(0);
    EXPECT_EQ(PathTextFieldSize(3), 8u);
    EXPECT_EQ(PathTextFieldSize(4), 8u);
    EXPECT_EQ(PathTextFieldSize(7), 12u);
    ASSERT_EQ(ResolvePathFonts(&table, nullptr, buffer.data(), buffer.size()), 0);
    uint32_t stored;
    std::memcpy(&stored, buffer.data() + 28, 4);
    EXPECT_EQ(stored, handle);
    // A buffer cut inside a command, an unknown code or a freed handle are refused.
    EXPECT_EQ(ResolvePathFonts(&table, nullptr, buffer.data(), 40), ERR_WRONGUSAGE);
    std::vector<uint8_t> unknown = {4, 0, 0, 0};
    EXPECT_EQ(ResolvePathFonts(&table, nullptr, unknown.data(), unknown.size()), ERR_WRONGUSAGE);
    FreeFontVectorHandles(&table, vera);
    EXPECT_EQ(ResolvePathFonts(&table, nullptr, buffer.data(), buffer.size()), ERR_VFONT);
}

}  // namespace

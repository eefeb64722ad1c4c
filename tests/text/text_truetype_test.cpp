// FreeType faces as fonts: the built-in faces, sizing, measuring, kerning and
// drawing, checked against FreeType's own answers for the same face and size;
// the font manager's cache and its errors.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <ft2build.h>
#include FT_FREETYPE_H

#include "runtime/encoding.h"
#include "text/lvfont.h"
#include "text/lvtruetype.h"

namespace {

const char *const kVera = "/usr/share/fonts/truetype/ttf-bitstream-vera/Vera.ttf";
const char *const kDejaVu = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";

// A second, independent FreeType face of a file at the pixel size of a font.
struct RefFace {
    FT_Library lib = nullptr;
    FT_Face face = nullptr;
    RefFace(const char *path, int ppem)
    {
        EXPECT_EQ(FT_Init_FreeType(&lib), 0);
        EXPECT_EQ(FT_New_Face(lib, path, 0, &face), 0);
        FT_Set_Pixel_Sizes(face, 0, (FT_UInt)ppem);
    }
    ~RefFace()
    {
        FT_Done_Face(face);
        FT_Done_FreeType(lib);
    }
    // The glyph of c rendered as the engine renders it.
    FT_GlyphSlot Render(uint32_t c, bool mono)
    {
        EXPECT_EQ(FT_Load_Char(face, c, FT_LOAD_NO_AUTOHINT), 0);
        EXPECT_EQ(FT_Render_Glyph(face->glyph, mono ? FT_RENDER_MODE_MONO : FT_RENDER_MODE_NORMAL), 0);
        return face->glyph;
    }
};

struct Plane {
    int width, height, format;
    std::vector<uint8_t> bytes;
    Plane(int w, int h, int f) : width(w), height(h), format(f)
    {
        bytes.assign((size_t)RowBytes() * h, 0);
    }
    int RowBytes() const { return format == LV_PLANE_MASK1 ? (width + 7) / 8 : width; }
    lvFontPlane View() { return {bytes.data(), RowBytes(), width, height, format}; }
    int At(int x, int y) const
    {
        if (format == LV_PLANE_MASK1) return (bytes[(size_t)y * RowBytes() + x / 8] >> (7 - x % 8)) & 1;
        return bytes[(size_t)y * width + x];
    }
};

class FontTest : public ::testing::Test {
protected:
    lvFontManager fm{};
    void SetUp() override { ASSERT_EQ(InitFontManager(&fm), 0); }
    void TearDown() override { DoneFontManager(&fm); }
    lvFont *Open(const char *name, int size, int cache = 1, int points = 0, int charMap = 0,
                 const char *loaders = "inbuilt")
    {
        lvFont *font = nullptr;
        EXPECT_EQ(OpenFontByName(&fm, name, size, cache, points, charMap, nullptr, 0, loaders, "", &font), 0)
            << name;
        return font;
    }
    int Width(lvFont *font, const std::string &text, int style = 0, int spacing = 0)
    {
        lvFontExtent e;
        EXPECT_EQ(MeasureFontText(&fm, font, text.data(), text.size(), style, spacing, LV_ENCODING_UTF8, &e), 0);
        return e.advance;
    }
    int Ppem(lvFont *font) { return GetTrueTypeFace(font)->size->metrics.x_ppem; }
};

TEST_F(FontTest, DefaultNamesOpenTheBuiltInFaces)
{
    struct Case { const char *name, *family; } cases[] = {
        {LV_SANS_DEFAULT, "Bitstream Vera Sans"},
        {LV_TRUETYPE_DEFAULT, "Bitstream Vera Sans"},
        {LV_SERIF_DEFAULT, "Bitstream Vera Serif"},
        {LV_MONOSPACE_DEFAULT, "Bitstream Vera Sans Mono"},
    };
    for (const Case &c : cases) {
        lvFont *font = Open(c.name, 20);
        ASSERT_NE(font, nullptr) << c.name;
        EXPECT_STREQ(font->name, c.family);
        EXPECT_EQ(font->height, 20);
        EXPECT_GT(font->baseline, 10);
        EXPECT_LE(font->baseline, 20);
        EXPECT_EQ(FontEngineOf(font), FONTENGINE_INBUILT);
        EXPECT_EQ(FontTypeOf(font), FONTTYPE_VECTOR);
        EXPECT_EQ(GetFontDepth(font), 8);
        EXPECT_STREQ(font->formatName, "TrueType");
    }
    size_t size = 0;
    EXPECT_NE(BuiltInFace("bitstream vera sans mono", &size), nullptr);
    EXPECT_EQ(size, 49224u);
}

// The advance sum of a text by FreeType's own glyph advances and kerning, at
// the engine's nominal size (one above the pixels per em it draws with).
static int FreeTypeSum(RefFace &ref, int nominal, const std::string &text)
{
    FT_Face f = ref.face;
    int64_t total = 0;
    for (size_t i = 0; i < text.size(); i++) {
        FT_Load_Char(f, (uint8_t)text[i], FT_LOAD_NO_AUTOHINT);
        int64_t adv = f->glyph->advance.x;
        FT_Vector k{};
        if (i + 1 < text.size())
            FT_Get_Kerning(f, FT_Get_Char_Index(f, (uint8_t)text[i]), FT_Get_Char_Index(f, (uint8_t)text[i + 1]),
                           FT_KERNING_UNSCALED, &k);
        int64_t px =
            (adv * 1024 * nominal / f->size->metrics.x_ppem + (int64_t)k.x * 65536 * nominal / f->units_per_EM) /
            65536;
        total += std::max<int64_t>(0, px);
    }
    return (int)total;
}

TEST_F(FontTest, WidthAndKerningAgreeWithFreeType)
{
    for (int size : {9, 20, 33}) {
        lvFont *font = Open(LV_SANS_DEFAULT, size);
        ASSERT_NE(font, nullptr);
        int ppem = Ppem(font);
        RefFace ref(kVera, ppem);
        for (std::string text : {"abc", "AVAV Wolf", "Hello, world!"}) {
            int w = Width(font, text);
            EXPECT_EQ(w, FreeTypeSum(ref, ppem + 1, text)) << size << " " << text;
            // and about as wide as FreeType's rounded advances say
            int plain = 0;
            for (char c : text) {
                FT_Load_Char(ref.face, (uint8_t)c, FT_LOAD_NO_AUTOHINT);
                plain += (int)((ref.face->glyph->advance.x + 32) >> 6);
            }
            EXPECT_NEAR(w, plain, (double)text.size() + size / 4) << size << " " << text;
        }
        if (size >= 20) { // smaller sizes round the pair to nothing
            EXPECT_LT(GetFontKerning(&fm, font, "AV", 2, 0, LV_ENCODING_UTF8), 0);
        }
        EXPECT_EQ(GetFontKerning(&fm, font, "A", 1, 0, LV_ENCODING_UTF8), 0);
        EXPECT_EQ(GetFontKerning(&fm, font, "AVA", 3, 0, LV_ENCODING_UTF8), 0);
    }
}

TEST_F(FontTest, GlyphsAreFreeTypesBitmapsAtTheBaseline)
{
    lvFont *font = Open(LV_SANS_DEFAULT, 24);
    ASSERT_NE(font, nullptr);
    RefFace ref(kVera, Ppem(font));
    for (bool mono : {false, true}) {
        Plane plane(40, 40, mono ? LV_PLANE_MASK1 : LV_PLANE_ALPHA8);
        lvFontPlane view = plane.View();
        ASSERT_EQ(RenderFontText(&fm, font, &view, 5, 3, "A", 1, mono ? 0 : LV_FONTSTYLE_ANTIALIAS, 0,
                                 LV_ENCODING_UTF8, nullptr),
                  0);
        FT_GlyphSlot g = ref.Render('A', mono);
        int x0 = 5 + g->bitmap_left, y0 = 3 + font->baseline - g->bitmap_top;
        int inked = 0;
        for (int y = 0; y < plane.height; y++)
            for (int x = 0; x < plane.width; x++) {
                int gx = x - x0, gy = y - y0, want = 0;
                if (gx >= 0 && gy >= 0 && gx < (int)g->bitmap.width && gy < (int)g->bitmap.rows) {
                    const uint8_t *row = g->bitmap.buffer + gy * g->bitmap.pitch;
                    want = mono ? (row[gx / 8] >> (7 - gx % 8)) & 1 : row[gx];
                }
                ASSERT_EQ(plane.At(x, y), want) << "mono " << mono << " at " << x << "," << y;
                inked += want != 0;
            }
        EXPECT_GT(inked, 20);
    }
}

TEST_F(FontTest, GlyphCacheOnAndOffDrawTheSame)
{
    lvFont *cached = Open(LV_SANS_DEFAULT, 17, 1);
    lvFont *uncached = Open(LV_SANS_DEFAULT, 17, 0);
    ASSERT_NE(cached, uncached); // another cache value gives a second font
    EXPECT_EQ(Open(LV_SANS_DEFAULT, 17, 1), cached);
    const std::string text = "Hamburgefonstiv \xC3\xA4\xC3\xB6 AV";
    for (int style : {0, (int)LV_FONTSTYLE_ANTIALIAS}) {
        int format = style ? LV_PLANE_ALPHA8 : LV_PLANE_MASK1;
        Plane first(200, 30, format), again(200, 30, format), off(200, 30, format);
        for (auto [font, plane] : {std::pair{cached, &first}, std::pair{cached, &again}, std::pair{uncached, &off}}) {
            lvFontPlane view = plane->View();
            RenderFontText(&fm, font, &view, 1, 1, text.data(), text.size(), style, 0, LV_ENCODING_UTF8, nullptr);
        }
        EXPECT_EQ(first.bytes, again.bytes) << style;
        EXPECT_EQ(first.bytes, off.bytes) << style;
        EXPECT_EQ(Width(cached, text, style), Width(uncached, text, style));
    }
    FreeGlyphCaches(&fm, nullptr);
    EXPECT_EQ(Width(cached, text), Width(uncached, text));
}

TEST_F(FontTest, ClippedDrawingEqualsTheUnclippedPicture)
{
    lvFont *font = Open(LV_SERIF_DEFAULT, 30);
    ASSERT_NE(font, nullptr);
    Plane big(300, 100, LV_PLANE_ALPHA8);
    lvFontPlane bigView = big.View();
    RenderFontText(&fm, font, &bigView, 50, 50, "Wojg", 4, LV_FONTSTYLE_ANTIALIAS, 0, LV_ENCODING_UTF8, nullptr);
    // The same text half outside a small plane, with a clip inside it.
    Plane small(40, 30, LV_PLANE_ALPHA8);
    lvFontPlane view = small.View();
    lvFontClip clip{2, 3, 30, 60};
    RenderFontText(&fm, font, &view, -10, -5, "Wojg", 4, LV_FONTSTYLE_ANTIALIAS, 0, LV_ENCODING_UTF8, &clip);
    int inked = 0;
    for (int y = 0; y < small.height; y++)
        for (int x = 0; x < small.width; x++) {
            bool inside = x >= clip.minX && x <= clip.maxX && y >= clip.minY && y <= clip.maxY;
            int want = inside ? big.At(x + 60, y + 55) : 0;
            ASSERT_EQ(small.At(x, y), want) << x << "," << y;
            inked += want != 0;
        }
    EXPECT_GT(inked, 0);
}

TEST_F(FontTest, SpacingNeverMovesThePenBackAndOverlapsMerge)
{
    lvFont *font = Open(LV_SANS_DEFAULT, 20);
    ASSERT_NE(font, nullptr);
    EXPECT_EQ(Width(font, "ab", 0, -1000), 0);
    ASSERT_EQ(GetFontKerning(&fm, font, "oo", 2, 0, LV_ENCODING_UTF8), 0);
    int a = Width(font, "o");
    EXPECT_EQ(Width(font, "oo", 0, 3), 2 * a + 6);
    // Two glyphs overlapping by 6 pixels: the second merges into the first.
    Plane one(60, 30, LV_PLANE_ALPHA8), two(60, 30, LV_PLANE_ALPHA8), both(60, 30, LV_PLANE_ALPHA8);
    lvFontPlane v1 = one.View(), v2 = two.View(), vb = both.View();
    RenderFontText(&fm, font, &v1, 2, 0, "o", 1, LV_FONTSTYLE_ANTIALIAS, 0, LV_ENCODING_UTF8, nullptr);
    RenderFontText(&fm, font, &v2, 2 + a - 6, 0, "o", 1, LV_FONTSTYLE_ANTIALIAS, 0, LV_ENCODING_UTF8, nullptr);
    RenderFontText(&fm, font, &vb, 2, 0, "oo", 2, LV_FONTSTYLE_ANTIALIAS, -6, LV_ENCODING_UTF8, nullptr);
    int overlaps = 0;
    for (size_t i = 0; i < both.bytes.size(); i++) {
        int s = two.bytes[i], t = one.bytes[i];
        int want = s == 0 ? t : s == 255 ? 255 : (s * 255 + (255 - s) * t + 127) / 255;
        ASSERT_EQ(both.bytes[i], want) << i;
        overlaps += s && t;
    }
    EXPECT_GT(overlaps, 0);
}

TEST_F(FontTest, ExtentIsTheInkBoxOfFreeTypesGlyphs)
{
    lvFont *font = Open(LV_SANS_DEFAULT, 25);
    ASSERT_NE(font, nullptr);
    lvFontExtent e;
    MeasureFontText(&fm, font, "", 0, 0, 0, LV_ENCODING_UTF8, &e);
    EXPECT_EQ(e.advance, 0);
    EXPECT_EQ(e.minX | e.minY | e.maxX | e.maxY, 0);
    RefFace ref(kVera, Ppem(font));
    MeasureFontText(&fm, font, " Ag", 3, LV_FONTSTYLE_ANTIALIAS, 0, LV_ENCODING_UTF8, &e);
    FT_GlyphSlot A = ref.Render('A', false);
    int aTop = A->bitmap_top, aLeft = A->bitmap_left;
    FT_GlyphSlot g = ref.Render('g', false);
    EXPECT_EQ(e.height, 25);
    EXPECT_EQ(e.minX, Width(font, " ") + aLeft); // the space adds no ink
    EXPECT_EQ(e.minY, -std::max(aTop, (int)g->bitmap_top));
    EXPECT_EQ(e.maxY, (int)g->bitmap.rows - g->bitmap_top);
    EXPECT_EQ(e.maxX, Width(font, " A") + g->bitmap_left + (int)g->bitmap.width);
}

TEST_F(FontTest, SyntheticStylesAndScaling)
{
    lvFont *font = Open(LV_SANS_DEFAULT, 20);
    ASSERT_NE(font, nullptr);
    int plain = Width(font, "abcdef");
    EXPECT_GT(Width(font, "abcdef", LV_FONTSTYLE_BOLD), plain);
    lvFontExtent upright, italic;
    MeasureFontText(&fm, font, "l", 1, 0, 0, LV_ENCODING_UTF8, &upright);
    MeasureFontText(&fm, font, "l", 1, LV_FONTSTYLE_ITALIC, 0, LV_ENCODING_UTF8, &italic);
    EXPECT_GT(italic.maxX, upright.maxX + 3);
    ApplyFontScale(&fm, font, 2.0, 2.0);
    EXPECT_EQ(font->height, 40);
    EXPECT_NEAR(Width(font, "abcdef"), 2 * plain, 3);
    EXPECT_GT(font->baseline, 20);
    // Opened again, the cached font is unscaled.
    EXPECT_EQ(Open(LV_SANS_DEFAULT, 20), font);
    EXPECT_EQ(font->height, 20);
    EXPECT_EQ(Width(font, "abcdef"), plain);
}

TEST_F(FontTest, PointSizesFollowTheScreenDpi)
{
    fm.screenDpi = 96;
    lvFont *font = Open(LV_SANS_DEFAULT, 15, 1, 1);
    ASSERT_NE(font, nullptr);
    EXPECT_EQ(Ppem(font), 20);
    RefFace ref(kVera, 20);
    FT_Set_Char_Size(ref.face, 0, 15 * 64, 96, 96);
    EXPECT_EQ(font->height, (int)((FT_MulFix(ref.face->height, ref.face->size->metrics.y_scale) + 32) >> 6));
    EXPECT_EQ(font->baseline, (int)((FT_MulFix(ref.face->ascender, ref.face->size->metrics.y_scale) + 32) >> 6));
    FT_Load_Char(ref.face, 'x', FT_LOAD_NO_AUTOHINT);
    EXPECT_EQ(Width(font, "x"), (int)(ref.face->glyph->advance.x >> 6));
}

TEST_F(FontTest, CharacterMaps)
{
    lvFont *font = nullptr;
    EXPECT_EQ(OpenFontByName(&fm, LV_SANS_DEFAULT, 12, 1, 0, CHARMAP_ADOBECUSTOM, nullptr, 0, "inbuilt", "", &font),
              ERR_OPENFONT);
    EXPECT_EQ(OpenFontByName(&fm, LV_SANS_DEFAULT, 12, 1, 0, CHARMAP_SJIS, nullptr, 0, "inbuilt", "", &font),
              ERR_OPENFONT);
    font = Open(LV_SANS_DEFAULT, 12, 1, 0, CHARMAP_UNICODE);
    ASSERT_NE(font, nullptr);
    EXPECT_EQ(font->charMap, CHARMAP_UNICODE);
    std::vector<int> maps(font->faceCharMaps, font->faceCharMaps + font->faceCharMapCount);
    EXPECT_NE(std::find(maps.begin(), maps.end(), CHARMAP_UNICODE), maps.end());
    EXPECT_NE(std::find(maps.begin(), maps.end(), CHARMAP_APPLEROMAN), maps.end());
}

TEST_F(FontTest, ManagerErrorsAndFilePaths)
{
    lvFont *font = nullptr;
    EXPECT_EQ(OpenFontByName(&fm, LV_BITMAP_DEFAULT, 8, 1, 1, 0, nullptr, 0, "native", "", &font),
              ERR_WRONGUSAGE);
    EXPECT_EQ(OpenFontByName(&fm, "NoSuch", 12, 1, 0, 0, nullptr, 0, "inbuilt", "", &font), ERR_OPENFONT);
    EXPECT_STREQ(fm.errorText, "Cannot open font NoSuch with size 12!");
    EXPECT_EQ(OpenFontByName(&fm, "/nonexistent/x.ttf", 12, 1, 0, 0, nullptr, 0, "inbuilt", "", &font),
              ERR_OPENFONT);
    for (int size : {0, -5, 100000}) // no glyph of a gigabyte
        EXPECT_EQ(OpenFontByName(&fm, LV_SANS_DEFAULT, size, 1, 0, 0, nullptr, 0, "inbuilt", "", &font), ERR_OPENFONT)
            << size;
    font = Open(kDejaVu, 16);
    ASSERT_NE(font, nullptr);
    EXPECT_STREQ(font->name, "DejaVu Sans"); // "Book" is a regular style
    EXPECT_EQ(font->height, 16);
    EXPECT_NE(Open(kDejaVu, 17), font);
    EXPECT_STREQ(EngineToLoaderList(FONTENGINE_NATIVE), "plugin|native");
    EXPECT_STREQ(EngineToLoaderList(FONTENGINE_PLUGIN), "plugin");
    EXPECT_STREQ(EngineToLoaderList(FONTENGINE_INBUILT), "plugin|inbuilt|native");
}

TEST_F(FontTest, LinkedFontBlocks)
{
    std::ifstream in(kDejaVu, std::ios::binary);
    std::vector<uint8_t> face((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_GT(face.size(), 1000u);
    auto block = [&](std::vector<uint8_t> head) {
        head.insert(head.end(), face.begin(), face.end());
        return head;
    };
    struct Case { const char *what; std::vector<uint8_t> bytes; int err; } cases[] = {
        {"short flags", {0, 0, 0}, ERR_READ},
        {"system size cut off", {0, 0, 0, 6, 0, 0}, ERR_READ},
        {"system size beyond the block", {0, 0, 0, 6, 0, 0, 0, 9, 1, 2}, ERR_READ},
        {"with system bytes", block({0, 0, 0, 6, 0, 0, 0, 0}), ERR_OPENFONT}, // the system bytes are empty
        {"a TrueType file", block({0, 0, 0, 2}), 0},
    };
    for (const Case &c : cases) {
        lvFont *font = nullptr;
        int err = OpenFontByName(&fm, ":::chunk1", 18, 1, 0, 0, c.bytes.data(), c.bytes.size(), "native", "", &font);
        EXPECT_EQ(err, c.err) << c.what;
        if (err == 0) {
            EXPECT_EQ(font->type, LV_FONT_SYSTEM);
            EXPECT_STREQ(font->name, "DejaVu Sans");
            EXPECT_EQ(font->height, 18);
            EXPECT_GT(Width(font, "abc"), 18);
        }
    }
}

} // namespace

// System fonts through fontconfig, under a configuration that lists only the
// faces of fonts-dejavu-core: names with style words, refused substitutes,
// cell-height sizing and the listed weights and slants.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_TRUETYPE_TABLES_H

#include "runtime/encoding.h"
#include "tests/text/fc_fixture.h"
#include "text/lvfont.h"
#include "text/lvtruetype.h"

namespace {

namespace fs = std::filesystem;

std::string gScratch;

// The core package's faces only (the folder may hold the extra package's too).
const bool kConfigured = [] {
    gScratch = ScratchDir("sys");
    std::string faces = gScratch + "/faces";
    fs::create_directory(faces);
    for (const char *f : {"DejaVuSans.ttf", "DejaVuSans-Bold.ttf", "DejaVuSansMono.ttf", "DejaVuSansMono-Bold.ttf",
                          "DejaVuSerif.ttf", "DejaVuSerif-Bold.ttf"})
        fs::create_symlink(std::string("/usr/share/fonts/truetype/dejavu/") + f, faces + "/" + f);
    UseFontconfigDirs(gScratch, {faces});
    atexit([] { fs::remove_all(gScratch); });
    return true;
}();

class SystemFontTest : public ::testing::Test {
protected:
    lvFontManager fm{};
    void SetUp() override { ASSERT_EQ(InitFontManager(&fm), 0); }
    void TearDown() override { DoneFontManager(&fm); }
    int OpenNative(const char *name, int size, lvFont **font)
    {
        return OpenFontByName(&fm, name, size, 1, 0, 0, nullptr, 0, "native", "", font);
    }
};

TEST_F(SystemFontTest, FamiliesWithStyleWordsOpenTheirFaces)
{
    struct Case {
        const char *name;
        bool boldFace;      // the face opened is the family's bold one
        int synthetic;      // styles FreeType has to make
    } cases[] = {
        {"DejaVu Sans", false, 0},
        {"dejavu serif", false, 0},
        {"DejaVu Sans Bold", true, 0},
        {"DejaVu Sans Bold Oblique", true, LV_FONTSTYLE_ITALIC},
        {"DejaVu Sans Mono Italic", false, LV_FONTSTYLE_ITALIC},
    };
    for (const Case &c : cases) {
        lvFont *font = nullptr;
        ASSERT_EQ(OpenNative(c.name, 20, &font), 0) << c.name;
        EXPECT_EQ(font->type, LV_FONT_SYSTEM);
        EXPECT_EQ(FontEngineOf(font), FONTENGINE_NATIVE);
        EXPECT_STREQ(font->name, c.name);
        lvTrueTypeFont *tt = (lvTrueTypeFont *)font->driverHandle;
        EXPECT_EQ((tt->face->style_flags & FT_STYLE_FLAG_BOLD) != 0, c.boldFace) << c.name;
        EXPECT_EQ(tt->syntheticStyle, c.synthetic) << c.name;
    }
    // The made italic leans: its ink reaches further right.
    lvFont *upright = nullptr, *oblique = nullptr;
    ASSERT_EQ(OpenNative("DejaVu Sans Bold", 30, &upright), 0);
    ASSERT_EQ(OpenNative("DejaVu Sans Bold Oblique", 30, &oblique), 0);
    lvFontExtent a, b;
    MeasureFontText(&fm, upright, "l", 1, 0, 0, LV_ENCODING_UTF8, &a);
    MeasureFontText(&fm, oblique, "l", 1, 0, 0, LV_ENCODING_UTF8, &b);
    EXPECT_GT(b.maxX, a.maxX + 4);
}

// Bold and italic asked of a system font take the family's own faces where it has
// them (DejaVu Sans Bold here), and are made from the face where it has none (no
// oblique face is listed).
TEST_F(SystemFontTest, StylesOpenTheFamilysOwnFaces)
{
    lvFont *regular = nullptr, *bold = nullptr;
    ASSERT_EQ(OpenNative("DejaVu Sans", 30, &regular), 0);
    ASSERT_EQ(OpenNative("DejaVu Sans Bold", 30, &bold), 0);
    const char *text = "Wave";
    for (int aa : {0, (int)LV_FONTSTYLE_ANTIALIAS}) {
        lvFontExtent asked, own, made, plain;
        MeasureFontText(&fm, regular, text, 4, LV_FONTSTYLE_BOLD | aa, 0, LV_ENCODING_UTF8, &asked);
        MeasureFontText(&fm, bold, text, 4, aa, 0, LV_ENCODING_UTF8, &own);
        EXPECT_EQ(asked.advance, own.advance) << aa;
        EXPECT_EQ(asked.minX, own.minX) << aa;
        EXPECT_EQ(asked.maxX, own.maxX) << aa;
        MeasureFontText(&fm, regular, text, 4, aa, 0, LV_ENCODING_UTF8, &plain);
        MeasureFontText(&fm, regular, "l", 1, LV_FONTSTYLE_ITALIC | aa, 0, LV_ENCODING_UTF8, &made);
        lvFontExtent upright;
        MeasureFontText(&fm, regular, "l", 1, aa, 0, LV_ENCODING_UTF8, &upright);
        EXPECT_GT(made.maxX, upright.maxX + 4) << aa;  // the made italic leans
        EXPECT_NE(asked.advance, plain.advance) << aa;
    }
    // The same pixels as the bold face's own.
    std::vector<uint8_t> a(120 * 40, 0), b(120 * 40, 0);
    lvFontPlane pa{a.data(), 120, 120, 40, LV_PLANE_ALPHA8}, pb{b.data(), 120, 120, 40, LV_PLANE_ALPHA8};
    ASSERT_EQ(RenderFontText(&fm, regular, &pa, 2, 2, text, 4, LV_FONTSTYLE_BOLD | LV_FONTSTYLE_ANTIALIAS, 0,
                             LV_ENCODING_UTF8, nullptr),
              0);
    ASSERT_EQ(RenderFontText(&fm, bold, &pb, 2, 2, text, 4, LV_FONTSTYLE_ANTIALIAS, 0, LV_ENCODING_UTF8, nullptr), 0);
    EXPECT_TRUE(a == b);
}

TEST_F(SystemFontTest, SubstitutesAreRefused)
{
    for (const char *name : {"NoSuchFamily", "Arial", "DejaVu", "DejaVu Sans Bold Sparkly", "Bold"}) {
        lvFont *font = nullptr;
        EXPECT_EQ(OpenNative(name, 12, &font), ERR_OPENFONT) << name;
        EXPECT_EQ(fm.errorText, "Cannot open font " + std::string(name) + " with size 12!");
    }
}

TEST_F(SystemFontTest, PixelSizesAreTheCellHeight)
{
    FT_Library lib;
    FT_Face ref;
    ASSERT_EQ(FT_Init_FreeType(&lib), 0);
    ASSERT_EQ(FT_New_Face(lib, "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf", 0, &ref), 0);
    const TT_OS2 *os2 = (const TT_OS2 *)FT_Get_Sfnt_Table(ref, FT_SFNT_OS2);
    ASSERT_NE(os2, nullptr);
    int cell = os2->usWinAscent + os2->usWinDescent;
    for (int size : {10, 16, 40}) {
        lvFont *font = nullptr;
        ASSERT_EQ(OpenNative("DejaVu Sans", size, &font), 0);
        EXPECT_EQ(font->height, size);
        EXPECT_NEAR(font->baseline, (double)size * os2->usWinAscent / cell, 0.5 + 1e-9) << size;
        // The em is the cell's share of the height.
        FT_Face face = GetTrueTypeFace(font);
        EXPECT_NEAR(face->size->metrics.x_ppem, (double)size * ref->units_per_EM / cell, 1.0) << size;
    }
    FT_Done_Face(ref);
    FT_Done_FreeType(lib);
}

TEST_F(SystemFontTest, TheListHoldsTheCoreFacesWithWeightsAndSlants)
{
    BuildFontList(&fm, 1);
    struct Case { const char *fullName; int weight, slant; } cases[] = {
        {"DejaVu Sans Book", FONTWEIGHT_BOOK, FONTSLANT_ROMAN},
        {"DejaVu Sans Bold", FONTWEIGHT_BOLD, FONTSLANT_ROMAN},
        {"DejaVu Sans Mono Bold", FONTWEIGHT_BOLD, FONTSLANT_ROMAN},
        {"DejaVu Serif Book", FONTWEIGHT_BOOK, FONTSLANT_ROMAN},
    };
    int listed = 0;
    for (const lvFontListEntry *e = fm.fontList; e; e = e->next) listed++;
    EXPECT_EQ(listed, 6);
    for (const Case &c : cases) {
        const lvFontListEntry *found = nullptr;
        for (const lvFontListEntry *e = fm.fontList; e; e = e->next)
            if (std::string(e->fullName) == c.fullName) found = e;
        ASSERT_NE(found, nullptr) << c.fullName;
        EXPECT_EQ(found->weight, c.weight) << c.fullName;
        EXPECT_EQ(found->slant, c.slant) << c.fullName;
    }
}

} // namespace

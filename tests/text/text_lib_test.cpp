// The text library's state: the font manager made at open with topaz current,
// font objects and their errors, the measuring of styled text (the synthetic
// styles and the extensions of borders and shadows), and the command table
// and constants by name.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "runtime/container.h"
#include "runtime/errors.h"
#include "runtime/startup.h"
#include "text/lib_text.h"
#include "text/lvtextlib.h"
#include "vm/lvvm.h"

namespace {

class TextLib : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetDrawingDefaults();
        ASSERT_EQ(OpenTextEngine(nullptr, nullptr), 0);
    }
    void TearDown() override
    {
        CloseTextEngine();
        FreeObjectTypes();
    }
    lvTextLibrary *T() { return GetTextLibrary(); }
    lvFont *Open(const char *name, int size, int cache = 1)
    {
        lvFont *font = nullptr;
        EXPECT_EQ(OpenFontByName(&T()->fonts, name, size, cache, 0, 0, nullptr, 0,
                                 EngineToLoaderList(FONTENGINE_INBUILT), "", &font), 0);
        return font;
    }
    lvTextMetrics Measure(const char *text, int style, int charSpacing = 0)
    {
        lvFontStyle s = *GetFontStyle();
        s.style = style;
        lvTextMetrics m;
        EXPECT_EQ(MeasureStyledText(1, charSpacing, &s, &m, text, strlen(text)), 0);
        return m;
    }
};

TEST_F(TextLib, OpensWithTopazCurrentAndTheDefaultStyle)
{
    lvFont *topaz = T()->currentFont;
    ASSERT_NE(topaz, nullptr);
    EXPECT_EQ(topaz, T()->fonts.topaz);
    EXPECT_EQ(topaz->height, 8);
    EXPECT_EQ(FontTypeOf(topaz), FONTTYPE_BITMAP);
    const lvFontStyle *s = GetFontStyle();
    EXPECT_EQ(s->style, FORM_NORMAL);
    EXPECT_EQ(s->colour, 0xFFFFFFu);
    EXPECT_EQ(s->secondColour, 0xFFFFFFu);
    EXPECT_EQ(s->borderColour, 0x0093DDu);
    EXPECT_EQ(s->shadowSize, 4);
    EXPECT_EQ(s->shadowDirection, SHDWSOUTHEAST);
    EXPECT_EQ(s->borderSize, 2);
    EXPECT_EQ(FindObjectType(LV_TYPE_FONT) != nullptr, true);
    EXPECT_STREQ(FindObjectType(LV_TYPE_FONT)->pluralName, "Fonts");
    EXPECT_STREQ(FindObjectType(LV_TYPE_TEXTOBJECT)->pluralName, "Text objects");
    // Opening again starts afresh.
    lvFontObject *o = nullptr;
    ASSERT_EQ(AddFontObject(3, false, topaz, &o), 0);
    CloseTextEngine();
    FreeObjectTypes();
    ASSERT_EQ(OpenTextEngine(nullptr, nullptr), 0);
    EXPECT_EQ(T()->fontObjects, nullptr);
}

TEST_F(TextLib, FontObjectsAndTheirErrors)
{
    lvFont *sans = Open(LV_SANS_DEFAULT, 20);
    lvFont *serif = Open(LV_SERIF_DEFAULT, 20);
    ASSERT_TRUE(sans && serif);
    lvFontObject *a = nullptr, *b = nullptr, *h = nullptr;
    ASSERT_EQ(AddFontObject(1, false, sans, &a), 0);
    ASSERT_EQ(AddFontObject(1, false, serif, &b), 0); // replaces the first
    ASSERT_EQ(AddFontObject(0, true, sans, &h), 0);
    EXPECT_EQ(CountObjectsOfType(LV_TYPE_FONT), 2);
    lvFontObject *found = nullptr;
    ASSERT_EQ(FindFontById({1, nullptr}, &found), 0);
    EXPECT_EQ(found->font, serif);
    ASSERT_EQ(FindFontById(GetObjectIdOf(&h->header), &found), 0);
    EXPECT_EQ(found, h);

    struct Case {
        lvObjectId id;
        int code;
    } missing[] = {{{7, nullptr}, ERR_FINDFONT2}, {{0, nullptr}, ERR_FINDFONT2}, {{0, (void *)&missing}, ERR_FINDARRAY}};
    for (const Case &c : missing) {
        EXPECT_EQ(FindFontById(c.id, &found), c.code);
        EXPECT_EQ(found, nullptr);
        EXPECT_EQ(RemoveFontObject(c.id), c.code);
    }
    EXPECT_EQ(FindFontById({7, nullptr}, &found), ERR_FINDFONT2);
    char text[200];
    GetErrorText(ERR_FINDFONT2, text, sizeof text);
    EXPECT_STREQ(text, "Could not find font 7!");

    // A removed object's font stays usable as the current font.
    SelectTextFont(serif);
    ASSERT_EQ(RemoveFontObject({1, nullptr}), 0);
    EXPECT_EQ(FindFontById({1, nullptr}, &found), ERR_FINDFONT2);
    lvTextMetrics m = Measure("Ab", 0);
    EXPECT_GT(m.advance, 0);
    EXPECT_EQ(m.height, 20);
    EXPECT_EQ(CountObjectsOfType(LV_TYPE_FONT), 1);
}

TEST_F(TextLib, AnotherCacheValueGivesASecondFont)
{
    lvFont *cached = Open(LV_SANS_DEFAULT, 17, 1);
    lvFont *uncached = Open(LV_SANS_DEFAULT, 17, 0);
    EXPECT_NE(cached, uncached);
    EXPECT_EQ(Open(LV_SANS_DEFAULT, 17, 1), cached);
    // A character map the face lacks is refused, even with the face cached.
    lvFont *font = nullptr;
    EXPECT_EQ(OpenFontByName(&T()->fonts, LV_SANS_DEFAULT, 17, 1, 0, CHARMAP_ADOBECUSTOM, nullptr, 0, "inbuilt", "",
                             &font),
              ERR_OPENFONT);
}

TEST_F(TextLib, SelectingAFontResetsTheStyle)
{
    GetFontStyle()->style = FORM_BOLD | FORM_SHADOW;
    SelectTextFont(Open(LV_MONOSPACE_DEFAULT, 12));
    EXPECT_EQ(GetFontStyle()->style, FORM_NORMAL);
    SelectTextFont(nullptr);
    EXPECT_EQ(T()->currentFont, T()->fonts.topaz);
}

TEST_F(TextLib, TopazMeasuresWithSyntheticStyles)
{
    const lvFont *topaz = T()->fonts.topaz;
    lvTextMetrics plain = Measure("abc", FORM_NORMAL);
    EXPECT_EQ(plain.advance, 24);
    EXPECT_EQ(plain.height, 8);
    EXPECT_EQ(Measure("abc", 0, 2).advance, 30);
    EXPECT_EQ(Measure("", 0).advance, 0);

    lvTextMetrics bold = Measure("abc", FORM_BOLD);
    EXPECT_EQ(bold.maxX, plain.maxX + 1);
    EXPECT_EQ(bold.advance, plain.advance);
    // Anti-aliased bold is not smeared a pixel further.
    EXPECT_EQ(Measure("abc", FORM_BOLD | FORM_ANTIALIAS).maxX, plain.maxX);
    lvTextMetrics italic = Measure("abc", FORM_ITALIC);
    EXPECT_EQ(italic.maxX, plain.maxX + topaz->baseline / 2);
    EXPECT_EQ(italic.minX, plain.minX + (topaz->height - topaz->baseline) / -2);
    // NORMAL with other bits is plain.
    lvTextMetrics normal = Measure("abc", FORM_NORMAL | FORM_BOLD);
    EXPECT_EQ(normal.maxX, plain.maxX);
    EXPECT_EQ(plain.totalWidth, std::max(plain.advance, plain.maxX + 1));
}

TEST_F(TextLib, FreeTypeFacesMeasureTheirOwnStyles)
{
    lvFont *sans = Open(LV_SANS_DEFAULT, 20);
    SelectTextFont(sans);
    lvFontExtent e;
    ASSERT_EQ(MeasureFontText(&T()->fonts, sans, "Wave", 4, LV_FONTSTYLE_BOLD | LV_FONTSTYLE_ANTIALIAS, 0, 1, &e), 0);
    lvTextMetrics m = Measure("Wave", FORM_BOLD | FORM_ANTIALIAS);
    EXPECT_EQ(m.advance, e.advance);
    EXPECT_EQ(m.maxX, e.maxX);
    EXPECT_EQ(m.minX, e.minX);
    // Hard-edged bold is the synthetic one: the plain glyphs, one pixel wider.
    ASSERT_EQ(MeasureFontText(&T()->fonts, sans, "Wave", 4, 0, 0, 1, &e), 0);
    m = Measure("Wave", FORM_BOLD);
    EXPECT_EQ(m.advance, e.advance);
    EXPECT_EQ(m.maxX, e.maxX + 1);
    EXPECT_EQ(m.minX, e.minX);
}

TEST_F(TextLib, BordersAndShadowsWidenTheExtensions)
{
    lvFontStyle s = *GetFontStyle();
    lvTextMetrics m;
    s.style = FORM_BORDER;
    s.borderSize = 3;
    ASSERT_EQ(MeasureStyledText(1, 0, &s, &m, "x", 1), 0);
    EXPECT_EQ(std::vector<int>({m.topExtension, m.bottomExtension, m.leftExtension, m.rightExtension}),
              std::vector<int>({-3, 3, -3, 3}));
    // top, bottom, left, right for a shadow of 5 in each direction.
    struct Case {
        int direction;
        std::vector<int> extensions;
    } cases[] = {
        {SHDWNORTH, {-5, 0, 0, 0}},  {SHDWNORTHEAST, {-5, 0, 0, 5}}, {SHDWEAST, {0, 0, 0, 5}},
        {SHDWSOUTHEAST, {0, 5, 0, 5}}, {SHDWSOUTH, {0, 5, 0, 0}},     {SHDWSOUTHWEST, {0, 5, -5, 0}},
        {SHDWWEST, {0, 0, -5, 0}},   {SHDWNORTHWEST, {-5, 0, -5, 0}}, {12, {0, 5, 0, 5}},
    };
    for (const Case &c : cases) {
        s.style = FORM_SHADOW;
        s.shadowSize = 5;
        s.shadowDirection = c.direction;
        ASSERT_EQ(MeasureStyledText(1, 0, &s, &m, "x", 1), 0);
        EXPECT_EQ(std::vector<int>({m.topExtension, m.bottomExtension, m.leftExtension, m.rightExtension}),
                  c.extensions)
            << c.direction;
    }
    // Both: the shadow adds to the border.
    s.style = FORM_SHADOW | FORM_BORDER;
    s.shadowDirection = SHDWSOUTHEAST;
    ASSERT_EQ(MeasureStyledText(1, 0, &s, &m, "x", 1), 0);
    EXPECT_EQ(std::vector<int>({m.topExtension, m.bottomExtension, m.leftExtension, m.rightExtension}),
              std::vector<int>({-3, 8, -3, 8}));
}

TEST_F(TextLib, ClampTextStyle)
{
    struct Case {
        int shadow, border, direction;
        int wantShadow, wantBorder, wantDirection;
    } cases[] = {
        {0, -4, -1, 1, 1, SHDWSOUTHEAST}, {65, 100, 8, 64, 64, SHDWSOUTHEAST}, {7, 9, SHDWWEST, 7, 9, SHDWWEST},
    };
    for (const Case &c : cases) {
        lvFontStyle s{};
        s.shadowSize = c.shadow, s.borderSize = c.border, s.shadowDirection = c.direction;
        ClampTextStyle(&s);
        EXPECT_EQ(s.shadowSize, c.wantShadow);
        EXPECT_EQ(s.borderSize, c.wantBorder);
        EXPECT_EQ(s.shadowDirection, c.wantDirection);
    }
}

// A declared font: OpenFont called by name with the size and the options of
// the packed flags.
TEST(TextLibPreload, DeclaredFontsOpenThroughOpenFont)
{
    SetDrawingDefaults();
    lvState *L = NewVMState();
    ASSERT_NE(L, nullptr);
    ASSERT_EQ(OpenTextCommands(L), 0);
    lvPreloadRun run = {L};
    struct Case {
        uint32_t identifier, size, flags;
        const char *file;
        int code;
        int cached;
    } cases[] = {
        {1, 15, FONTENGINE_INBUILT, LV_MONOSPACE_DEFAULT, 0, 1},
        {2, 15, FONTENGINE_INBUILT | 0x10000, LV_MONOSPACE_DEFAULT, 0, 0}, // no cache: a font of its own
        {3, 8, 0x20000, LV_BITMAP_DEFAULT, ERR_WRONGUSAGE, 0},              // topaz in points
        {4, 15, (uint32_t)CHARMAP_ADOBECUSTOM << 24, LV_SANS_DEFAULT, ERR_OPENFONT, 0},
    };
    lvFont *fonts[3] = {};
    for (const Case &c : cases) {
        lvLinkedObject object{};
        object.type = 9;
        object.identifier = c.identifier;
        object.optionValue = c.size;
        object.optionFlags = c.flags;
        int keeps = 0;
        EXPECT_EQ(PreloadLinkedFont(&run, &object, c.file, &keeps), c.code) << c.identifier;
        lvFontObject *found = nullptr;
        if (c.code) {
            EXPECT_EQ(FindFontById({(int)c.identifier, nullptr}, &found), ERR_FINDFONT2);
            continue;
        }
        ASSERT_EQ(FindFontById({(int)c.identifier, nullptr}, &found), 0);
        EXPECT_EQ(found->font->size, (int)c.size);
        EXPECT_STREQ(found->font->name, "Bitstream Vera Sans Mono");
        EXPECT_EQ(found->font->cacheEntry->cacheFlag, c.cached);
        fonts[c.identifier] = found->font;
    }
    EXPECT_NE(fonts[1], fonts[2]);
    CloseTextCommands(L, 1);
    CloseVMState(L);
    FreeObjectTypes();
}

TEST(TextLibTables, CommandsInOrderAndConstants)
{
    const char *const names[] = {
        "Print", "NPrint", "TextOut", "Locate", "SetMargins", "AddTab", "ResetTabs", "TextWidth", "TextHeight",
        "TextExtent", "GetKerningPair", "SetFont", "OpenFont", "CloseFont", "UseFont", "CreateFont",
        "GetAvailableFonts", "FreeGlyphCache", "AddFontPath", "GetCharMaps", "SetFontColor", "GetFontColor",
        "SetBulletColor", "GetBulletColor", "SetFontStyle", "GetFontStyle", "UseFormatTags", "InKeyStr",
        "CreateTextObject", "DisplayTextObject", "FreeTextObject", "CopyTextObject", "ScaleTextObject",
        "RotateTextObject", "TransformTextObject",
    };
    std::vector<std::string> want(std::begin(names), std::end(names)), got;
    for (const lvCommandEntry *e = GetTextCommands(); e->name; e++) {
        got.push_back(e->name);
        EXPECT_NE(e->func, nullptr) << e->name;
    }
    EXPECT_EQ(got, want);

    std::map<std::string, const lvConstantEntry *> constants;
    for (const lvConstantEntry *c = GetTextConstants(); c->name; c++) {
        EXPECT_EQ(constants.count(c->name), 0u) << c->name;
        constants[c->name] = c;
    }
    const std::map<std::string, double> numbers = {
        {"FONT", 43}, {"TEXTOBJECT", 8}, {"PRINT", 11}, {"HEXNUMERICAL", 4}, {"ATTRFONTFORMAT", 128},
        {"ATTRFONTTRANSPARENTPEN", 115}, {"FONTENGINE_INBUILT", 4}, {"FONTTYPE_PLUGIN", 4},
        {"FONTWEIGHT_ULTRABLACK", 215}, {"FONTWEIGHT_DEMIBOLD", 180}, {"FONTSLANT_OBLIQUE", 110},
        {"BULLET_HOLLOWCIRCLE", 23}, {"BULLET_UROMANDOUBLE", 22}, {"FRAMEMODE_SINGLE", 1},
        {"CHARMAP_ADOBECUSTOM", 9}, {"CHARMAP_APPLEROMAN", 12},
    };
    for (const auto &[name, value] : numbers) {
        ASSERT_TRUE(constants.count(name)) << name;
        EXPECT_EQ(constants[name]->string, nullptr) << name;
        EXPECT_EQ(constants[name]->number, value) << name;
    }
    const std::map<std::string, std::string> strings = {
        {"BITMAP_DEFAULT", ":::default_bitmap"}, {"TRUETYPE_DEFAULT", ":::default_truetype"},
        {"SANS", ":::default_sans"}, {"SERIF", ":::default_serif"}, {"MONOSPACE", ":::default_mono"},
    };
    for (const auto &[name, value] : strings) {
        ASSERT_TRUE(constants.count(name)) << name;
        EXPECT_STREQ(constants[name]->string, value.c_str()) << name;
    }
}

}  // namespace

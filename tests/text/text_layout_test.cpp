// Text layout against hand-worked layouts in topaz (8 x 8 cells, baseline 6):
// word wrapping, tab stops, soft hyphens and zero-width spaces, alignment,
// format tags and their errors, list bullets and numbers; then the text image
// pixel by pixel against the topaz glyph source and a plain FreeType render.
#include <gtest/gtest.h>
#include <ft2build.h>
#include FT_FREETYPE_H

#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "runtime/objects.h"
#include "text/lvtextlayout.h"
#include "text/lvtruetype.h"
#include "tests/text/topaz_source.h"

namespace {

struct RunView {
    std::string text;
    int x, y;
    bool operator==(const RunView &o) const { return text == o.text && x == o.x && y == o.y; }
};
std::ostream &operator<<(std::ostream &os, const RunView &r) { return os << "{" << r.text << "," << r.x << "," << r.y << "}"; }

class Layout : public ::testing::Test {
protected:
    lvFontManager fm{};
    lvTextOptions o;
    void SetUp() override
    {
        ASSERT_EQ(InitFontManager(&fm), 0);
        InitTextOptions(&o, 1);
        o.objectType = LV_TYPE_TEXTOBJECT;
        o.style.style = FORM_NORMAL;
        o.style.colour = 0xFFFFFF;
        o.style.secondColour = 0xFFFFFF;
        o.style.shadowSize = 4;
        o.style.shadowDirection = SHDWSOUTHEAST;
        o.style.borderSize = 2;
    }
    void TearDown() override { DoneFontManager(&fm); }
    std::string text;
    int Lay(const std::string &t, lvTextLayout *layout, lvFont *font = nullptr)
    {
        text = t;
        o.text = text.data();
        o.length = text.size();
        return LayoutTextRuns(&fm, font, &o, layout);
    }
    std::vector<RunView> Runs(const std::string &t, lvFont *font = nullptr)
    {
        lvTextLayout layout;
        EXPECT_EQ(Lay(t, &layout, font), 0) << t;
        return Views(layout);
    }
    static std::vector<RunView> Views(const lvTextLayout &layout)
    {
        std::vector<RunView> v;
        for (lvTextRun *r = layout.runs; r; r = r->next) v.push_back({std::string(r->text, r->length), r->x, r->y});
        return v;
    }
    // Text runs only (bullets left out).
    static std::vector<RunView> TextRuns(const lvTextLayout &layout)
    {
        std::vector<RunView> v;
        for (lvTextRun *r = layout.runs; r; r = r->next)
            if (!r->bulletType) v.push_back({std::string(r->text, r->length), r->x, r->y});
        return v;
    }
};

TEST_F(Layout, WordsWrapWhenTheLineWouldPassTheWidth)
{
    struct Case {
        const char *text;
        int wrap;
        std::vector<RunView> runs;
    } cases[] = {
        {"Hi there", 0, {{"Hi there", 0, 0}}},
        // A line exactly as wide as the wrap width fits.
        {"aaa bbb", 56, {{"aaa bbb", 0, 0}}},
        {"aaa bbb", 55, {{"aaa ", 0, 0}, {"bbb", 0, 8}}},
        {"aaa bbb ccc dd", 64, {{"aaa bbb ", 0, 0}, {"ccc dd", 0, 8}}},
        // A word longer than the width overflows where it is.
        {"abcdefghij", 40, {{"abcdefghij", 0, 0}}},
        {"ab abcdefghij c", 40, {{"ab ", 0, 0}, {"abcdefghij ", 0, 8}, {"c", 0, 16}}},
        // Line feeds end lines; carriage returns vanish.
        {"ab\r\ncd", 0, {{"ab", 0, 0}, {"cd", 0, 8}}},
    };
    for (const Case &c : cases) {
        o.wrapWidth = c.wrap;
        EXPECT_EQ(Runs(c.text), c.runs) << c.text << " wrapped at " << c.wrap;
    }
}

TEST_F(Layout, TheRecordedWrapTableLaysTheSameLinesOutAgain)
{
    o.wrapWidth = 80;
    lvTextLayout first;
    ASSERT_EQ(Lay("one two three four five six", &first), 0);
    std::vector<RunView> lines = Views(first);
    EXPECT_EQ(o.wrapTable, (std::vector<int>{2, 4}));
    // Replayed without a width, the breaks come from the table alone.
    o.wrapWidth = 0;
    o.wrapTableGiven = 1;
    lvTextLayout again;
    ASSERT_EQ(Lay("one two three four five six", &again), 0);
    EXPECT_EQ(Views(again), lines);
}

TEST_F(Layout, TabsGoToTheNextStopOrTheNextLine)
{
    o.objectType = LV_TEXT_TEXTOUT;
    // Without stops a tab of TEXTOUT is a blank.
    EXPECT_EQ(Runs("a\tb"), (std::vector<RunView>{{"a b", 0, 0}}));
    o.tabs[0] = 40, o.tabs[1] = 100, o.tabCount = 2;
    EXPECT_EQ(Runs("a\tb\tc"), (std::vector<RunView>{{"a", 0, 0}, {"b", 40, 0}, {"c", 100, 0}}));
    EXPECT_EQ(o.tabTable, (std::vector<int>{0, 1}));
    // A tab past the last stop moves to the next line.
    EXPECT_EQ(Runs("a\tb\tc\td"), (std::vector<RunView>{{"a", 0, 0}, {"b", 40, 0}, {"c", 100, 0}, {"d", 0, 8}}));
    EXPECT_EQ(o.tabTable, (std::vector<int>{0, 1, -1}));
    // A stop at or past the wrap width is not taken.
    o.wrapWidth = 100;
    EXPECT_EQ(Runs("a\tb\tc"), (std::vector<RunView>{{"a", 0, 0}, {"b", 40, 0}, {"c", 0, 8}}));
    // PRINT on a display without stops: every tab is a new line.
    o.wrapWidth = 0;
    o.tabCount = 0;
    o.objectType = LV_TEXT_PRINT;
    EXPECT_EQ(Runs("a\tb"), (std::vector<RunView>{{"a", 0, 0}, {"b", 0, 8}}));

    // PRINT between margins, the cursor at the left one: the stops are absolute, x and
    // the wrap width count from the left margin (margins 400 and 600 wrap at 201).
    struct Case {
        int leftMargin, wrap;
        std::vector<int> stops;
        const char *text;
        std::vector<RunView> runs;
        std::vector<int> table;
    } cases[] = {
        {400, 201, {500}, "ab\tcd", {{"ab", 0, 0}, {"cd", 100, 0}}, {0}},
        {400, 201, {380, 450, 570}, "ab\tcd\tef", {{"ab", 0, 0}, {"cd", 50, 0}, {"ef", 170, 0}}, {1, 2}},
        {400, 201, {420, 601}, "abcd\tef", {{"abcd", 0, 0}, {"ef", 0, 8}}, {-1}},  // 601 is past the width
        {400, 0, {420, 601}, "abcd\tef", {{"abcd", 0, 0}, {"ef", 201, 0}}, {1}},
        {0, 201, {500}, "ab\tcd", {{"ab", 0, 0}, {"cd", 0, 8}}, {-1}},
    };
    for (const Case &c : cases) {
        o.leftMargin = o.cursorX = c.leftMargin, o.wrapWidth = c.wrap;
        o.tabCount = (int)c.stops.size();
        for (size_t i = 0; i < c.stops.size(); i++) o.tabs[i] = c.stops[i];
        EXPECT_EQ(Runs(c.text), c.runs) << c.text << " from " << c.leftMargin;
        EXPECT_EQ(o.tabTable, c.table) << c.text << " from " << c.leftMargin;
    }
}

TEST_F(Layout, SoftHyphensShowOnlyAtABreakAndZeroWidthSpacesNever)
{
    const std::string shy = "aaa\xC2\xAD" "bbb", zwsp = "aaa\xE2\x80\x8B" "bbb";
    EXPECT_EQ(Runs(shy), (std::vector<RunView>{{"aaa", 0, 0}, {"bbb", 24, 0}}));
    EXPECT_EQ(Runs(zwsp), (std::vector<RunView>{{"aaabbb", 0, 0}}));
    o.wrapWidth = 40;
    EXPECT_EQ(Runs(shy), (std::vector<RunView>{{"aaa-", 0, 0}, {"bbb", 0, 8}}));
    EXPECT_EQ(Runs(zwsp), (std::vector<RunView>{{"aaa", 0, 0}, {"bbb", 0, 8}}));
    // Between words both are dropped.
    o.wrapWidth = 0;
    EXPECT_EQ(Runs("a \xC2\xAD\xE2\x80\x8B" "b"), (std::vector<RunView>{{"a b", 0, 0}}));
}

TEST_F(Layout, EmptyTextsAndTextsOfLineFeedsOnly)
{
    EXPECT_EQ(Runs(""), (std::vector<RunView>{{" ", 0, 0}}));
    lvTextLayout layout;
    ASSERT_EQ(Lay("\n\n", &layout), 0);
    EXPECT_EQ(layout.runs, nullptr);
    lvTextImage image;
    ASSERT_EQ(RenderTextRuns(&fm, nullptr, &o, &layout, 0, &image), 0);
    EXPECT_EQ(image.width, 1);
    EXPECT_EQ(image.height, 8);
    EXPECT_EQ(layout.finalY, 16);
}

TEST_F(Layout, RequestsThatCannotBeLaidOutAreRefused)
{
    struct Case {
        const char *what;
        std::string text;
        int style, encoding, lineSpacing, wrap, align, list;
        int code;
    } cases[] = {
        {"anti-aliased topaz", "x", FORM_ANTIALIAS, 1, 0, 0, TEXTALIGN_LEFT, 0, ERR_ANTIALIAS},
        {"bad UTF-8", "a\xC3", FORM_NORMAL, 1, 0, 0, TEXTALIGN_LEFT, 0, ERR_INVALIDUTF8},
        {"the same bytes in ISO-8859-1", "a\xC3", FORM_NORMAL, 0, 0, 0, TEXTALIGN_LEFT, 0, 0},
        {"line spacing below the height", "x", FORM_NORMAL, 1, -9, 0, TEXTALIGN_LEFT, 0, ERR_WRONGUSAGE},
        {"negative wrap width", "x", FORM_NORMAL, 1, 0, -1, TEXTALIGN_LEFT, 0, ERR_WRONGUSAGE},
        {"a centred list", "x", FORM_NORMAL, 1, 0, 0, TEXTALIGN_CENTER, 1, ERR_WRONGUSAGE},
        {"a tab inside a list line", "a\tb", FORM_NORMAL, 1, 0, 0, TEXTALIGN_LEFT, 1, ERR_WRONGUSAGE},
        {"a list line two deeper", "a\n\t\tb", FORM_NORMAL, 1, 0, 0, TEXTALIGN_LEFT, 1, ERR_WRONGUSAGE},
        {"a list line one deeper", "a\n\tb", FORM_NORMAL, 1, 0, 0, TEXTALIGN_LEFT, 1, 0},
    };
    for (const Case &c : cases) {
        InitTextOptions(&o, c.encoding);
        o.style.style = c.style;
        o.lineSpacing = c.lineSpacing;
        o.wrapWidth = c.wrap;
        o.align = c.align;
        o.listMode = c.list;
        lvTextLayout layout;
        EXPECT_EQ(Lay(c.text, &layout), c.code) << c.what;
        if (c.code) {
            EXPECT_EQ(layout.runs, nullptr) << c.what;
        }
    }
}

TEST_F(Layout, FontsThatLayTextOutThemselvesTakeNoLists)
{
    lvFont own{};
    own.type = LV_FONT_PLUGIN;
    own.selfLayout = 1;
    own.height = own.baseHeight = 10;
    lvTextLayout layout;
    o.listMode = 1;
    EXPECT_EQ(Lay("a", &layout, &own), ERR_PLUGINSUPPORT);
    // Such a font is handed the whole text: it never gets runs.
    o.listMode = 0;
    EXPECT_EQ(Lay("a", &layout, &own), ERR_PLUGINSUPPORT);
    EXPECT_EQ(layout.runs, nullptr);
}

TEST_F(Layout, FormatTagsGiveRunsOrTheirErrors)
{
    struct Case {
        const char *text;
        int paletteMode;
        int code;
    } cases[] = {
        {"[b]x[/b]", 0, 0},
        {"[B]x[/ b ]", 0, 0},
        {"[ i ]x[/i][u]y[/u]", 0, 0},
        {"a]b", 0, ERR_TEXTSYNTAX},
        {"[b", 0, ERR_SQBRACKETCLOSE},
        {"[color=$ff", 0, ERR_SQBRACKETCLOSE},
        {"[bx]x", 0, ERR_UNKTEXTFMT},
        {"[foo]x", 0, ERR_UNKTEXTFMT},
        {"[color]x", 0, ERR_TEXTARG},
        {"[color=]x", 0, ERR_TEXTARG},
        {"[/color]x", 0, ERR_TEXTSYNTAX},
        {"[color=\"red\"]x", 0, ERR_VALUEEXPECTED},
        {"[color=#RED]x", 0, ERR_VALUEEXPECTED},
        {"[pen=2]x", 0, ERR_PALETTEMODE},
        {"[bulletpen=2]x", 0, ERR_PALETTEMODE},
        {"[pen=2]x[/pen]", 1, 0},
        {"[color=$ff0000]x", 1, ERR_NOPALETTEMODE},
        {"[bulletcolor=$ff0000]x", 1, ERR_NOPALETTEMODE},
        {"[bulletcolor=$ff0000]x", 0, 0},
        {"[/bulletcolor]x", 0, ERR_TEXTSYNTAX},
        {"[shadow]x[/shadow]", 0, 0},
        {"[shadow=$000000,64,9]x", 0, 0},
        {"[shadow=$000000,65]x", 0, ERR_WRONGUSAGE},
        {"[shadow=,0]x", 0, ERR_WRONGUSAGE},
        {"[border=$ff,8]x", 0, 0},
        {"[edge = $ff , 9]x", 0, ERR_WRONGUSAGE},
        {"[border=1,2,3]x", 0, ERR_TEXTARG},
    };
    for (const Case &c : cases) {
        o.paletteMode = c.paletteMode;
        lvTextLayout layout;
        EXPECT_EQ(Lay(c.text, &layout), c.code) << c.text;
    }
}

TEST_F(Layout, TagsSplitRunsAndChangeTheirStyle)
{
    lvTextLayout layout;
    ASSERT_EQ(Lay("[[b]] a[b]b[/b]c", &layout), 0);
    std::vector<RunView> runs = Views(layout);
    EXPECT_EQ(runs, (std::vector<RunView>{{"[b] a", 0, 0}, {"b", 40, 0}, {"c", 48, 0}}));
    lvTextRun *r = layout.runs;
    EXPECT_EQ(r->style.style, FORM_NORMAL);
    EXPECT_EQ(r->next->style.style, FORM_BOLD);
    EXPECT_EQ(r->next->metrics.maxX, 8);  // synthetic bold widens the ink by one pixel
    EXPECT_EQ(r->next->next->style.style, FORM_NORMAL);
    EXPECT_EQ(o.tagsUsed, 0);
    // Format tags off: brackets are text.
    o.formatTagsOff = 1;
    EXPECT_EQ(Runs("[b]x]"), (std::vector<RunView>{{"[b]x]", 0, 0}}));
}

TEST_F(Layout, NestedColoursRestoreTheColourBeforeThem)
{
    lvTextLayout layout;
    ASSERT_EQ(Lay("[color=$ff0000]a[color=$00ff00]b[/color]c[/color]d", &layout), 0);
    std::vector<uint32_t> colours;
    for (lvTextRun *r = layout.runs; r; r = r->next) colours.push_back(r->style.colour);
    EXPECT_EQ(colours, (std::vector<uint32_t>{0xFF0000, 0x00FF00, 0xFF0000, 0xFFFFFF}));
    EXPECT_EQ(o.tagsUsed, 1);
    lvTextLayout third;
    EXPECT_EQ(Lay("[color=$ff0000]a[color=$00ff00]b[/color]c[/color]d[/color]", &third), ERR_TEXTSYNTAX);
    // A constant by name through the lookup.
    o.lookup = [](void *, const char *name, size_t length, int *value) {
        if (std::string(name, length) != "RED") return (int)ERR_BADCONSTANT;
        *value = 0xFF0000;
        return 0;
    };
    lvTextLayout named;
    ASSERT_EQ(Lay("[color=#RED]a", &named), 0);
    EXPECT_EQ(named.runs->style.colour, 0xFF0000u);
    lvTextLayout unknown;
    EXPECT_EQ(Lay("[color=#BLUE]a", &unknown), ERR_BADCONSTANT);
}

TEST_F(Layout, ShadowAndBorderTagsKeepWhatTheyDoNotGive)
{
    lvTextLayout layout;
    ASSERT_EQ(Lay("[shadow]a[/shadow][shadow=$123456,,6]b[border=,5]c", &layout), 0);
    lvTextRun *a = layout.runs, *b = a->next, *c = b->next;
    EXPECT_EQ(a->style.style, FORM_SHADOW);
    EXPECT_EQ(a->style.shadowSize, 4);
    EXPECT_EQ(b->style.shadowColour, 0x123456u);
    EXPECT_EQ(b->style.shadowSize, 4);
    EXPECT_EQ(b->style.shadowDirection, 6);
    EXPECT_EQ(c->style.style, FORM_SHADOW | FORM_BORDER);
    EXPECT_EQ(c->style.borderSize, 5);
    EXPECT_EQ(c->style.borderColour, o.style.borderColour);
}

TEST(Bullets, TextsOfNumbersLettersRomansAndSymbols)
{
    struct Case {
        int counter, type, encoding, fontType;
        const char *text;
    } cases[] = {
        {0, BULLET_NUMERIC, 1, LV_FONT_AMIGA, "1. "},
        {9, BULLET_NUMERICSINGLE, 1, LV_FONT_AMIGA, "10) "},
        {4, BULLET_NUMERICDOUBLE, 1, LV_FONT_AMIGA, "(5) "},
        {0, BULLET_LALPHA, 1, LV_FONT_AMIGA, "a. "},
        {25, BULLET_UALPHASINGLE, 1, LV_FONT_AMIGA, "Z) "},
        {26, BULLET_LALPHA, 1, LV_FONT_AMIGA, "aa. "},
        {53, BULLET_UALPHA, 1, LV_FONT_AMIGA, "BBB. "},
        {3, BULLET_UROMANDOUBLE, 1, LV_FONT_AMIGA, "(IV) "},
        {1993, BULLET_LROMAN, 1, LV_FONT_AMIGA, "mcmxciv. "},
        {8, BULLET_LROMANSINGLE, 1, LV_FONT_AMIGA, "ix) "},
        {0, BULLET_DASH, 1, LV_FONT_TRUETYPE, "- "},
        {0, BULLET_CIRCLE, 1, LV_FONT_TRUETYPE, "\xE2\x80\xA2 "},
        {0, BULLET_CIRCLE, 1, LV_FONT_AMIGA, "* "},
        {0, BULLET_CIRCLE, 0, LV_FONT_TRUETYPE, "* "},
        {0, BULLET_BOX, 0, LV_FONT_TRUETYPE, "\xB7 "},
        {0, BULLET_BOX, 1, LV_FONT_IMAGE, "\xC2\xB7 "},
        {0, BULLET_CROSS, 1, LV_FONT_TRUETYPE, "\xC3\x97 "},
        {0, BULLET_HOLLOWCIRCLE, 1, LV_FONT_SYSTEM, "\xE2\x97\xA6 "},
        {0, 0x263A, 1, LV_FONT_TRUETYPE, "\xE2\x98\xBA "},
        {0, BULLET_NONE, 1, LV_FONT_TRUETYPE, ""},
    };
    for (const Case &c : cases) {
        char out[64];
        std::memset(out, 'x', sizeof out);
        FormatBulletText(c.counter, c.type, out, sizeof out, c.encoding, c.fontType);
        EXPECT_STREQ(out, c.text) << c.counter << " of type " << c.type;
    }
}

TEST(Bullets, AHugeCounterIsCutAtTheEndOfTheText)
{
    // Letters repeat counter / 26 + 1 times and romans write one "m" a
    // thousand: both stop at the end of the 64 bytes.
    struct Case { int counter, type; char fill; } cases[] = {
        {26 * 1000, BULLET_LALPHA, 'a'}, {26 * 1000 + 2, BULLET_UALPHADOUBLE, '('},
        {5000000, BULLET_UROMAN, 'M'}};
    for (const Case &c : cases) {
        char out[80];
        std::memset(out, '#', sizeof out);
        FormatBulletText(c.counter, c.type, out, 64, 1, LV_FONT_TRUETYPE);
        EXPECT_EQ(std::strlen(out), 63u);
        EXPECT_EQ(out[0], c.fill);
        EXPECT_EQ(out[64], '#');  // nothing past the text
    }
}

TEST_F(Layout, NumberedItemsStartTheirTextAfterTheWidestNumber)
{
    o.listMode = 1;
    for (int i = 0; i < LV_TEXT_LEVELS; i++) o.listBullet[i] = BULLET_NUMERIC, o.listIndent[i] = 0;
    std::string items;
    for (char c = 'a'; c <= 'j'; c++) items += std::string(1, c) + (c < 'j' ? "\n" : "");
    lvTextLayout layout;
    ASSERT_EQ(Lay(items, &layout), 0);
    std::vector<RunView> bullets, texts;
    for (lvTextRun *r = layout.runs; r; r = r->next)
        (r->bulletType ? bullets : texts).push_back({std::string(r->text, r->length), r->x, r->y});
    ASSERT_EQ(texts.size(), 10u);
    for (size_t i = 0; i < texts.size(); i++) {
        EXPECT_EQ(texts[i].x, 32) << i;  // "10. " is four cells wide
        EXPECT_EQ(texts[i].y, 8 * (int)i);
        EXPECT_EQ(bullets[i].x, 0);
        EXPECT_EQ(bullets[i].text, std::to_string(i + 1) + ". ");
    }
}

TEST_F(Layout, ListLevelsIndentAndNumberOnTheirOwn)
{
    o.listMode = 1;
    o.simpleList = 1;
    o.listBullet[0] = BULLET_NUMERIC;
    o.listBullet[1] = BULLET_LALPHASINGLE;
    o.listIndent[0] = 1;
    o.listIndent[1] = 2;
    o.listOffset[1] = 26;
    o.listSpacing[0] = 3;
    lvTextLayout layout;
    ASSERT_EQ(Lay("one\n\tsub\n\tsub\ntwo\n\tnew", &layout), 0);
    EXPECT_EQ(Views(layout), (std::vector<RunView>{
                                 {"1. ", 8, 0}, {"one", 32, 0},
                                 {"aa) ", 24, 11}, {"sub", 56, 11},
                                 // Between two sub-items the sub-list's own spacing (0).
                                 {"bb) ", 24, 19}, {"sub", 56, 19},
                                 {"2. ", 8, 30}, {"two", 32, 30},
                                 {"aa) ", 24, 41}, {"new", 56, 41}}));
    // A frame beyond the count of items.
    o.frame = 6;
    lvTextLayout beyond;
    EXPECT_EQ(Lay("one\n\tsub\n\tsub\ntwo\n\tnew", &beyond), ERR_ANIMFRAME);
}

TEST_F(Layout, WrappedListItemsContinueUnderTheirText)
{
    o.listMode = 1;
    o.listIndent[0] = 0;
    o.wrapWidth = 56;
    lvTextLayout layout;
    ASSERT_EQ(Lay("aa bb cc", &layout), 0);
    EXPECT_EQ(Views(layout), (std::vector<RunView>{{"- ", 0, 0}, {"aa bb ", 16, 0}, {"cc", 16, 8}}));
}

// ---- Alignment ---------------------------------------------------------------------

int RightEdge(const lvTextLayout &layout, int y)
{
    int edge = -1;
    for (lvTextRun *r = layout.runs; r; r = r->next)
        if (r->y == y) edge = r->x + r->metrics.maxX;
    return edge;
}

TEST_F(Layout, LinesAlignWithinTheWidestLine)
{
    for (int align : {TEXTALIGN_RIGHT, TEXTALIGN_CENTER}) {
        o.align = align;
        lvTextLayout layout;
        ASSERT_EQ(Lay("aaaaaa\naa", &layout), 0);
        lvTextImage image;
        ASSERT_EQ(RenderTextRuns(&fm, nullptr, &o, &layout, 0, &image), 0);
        int gap = RightEdge(layout, 0) - RightEdge(layout, 8);
        EXPECT_EQ(layout.runs->next->x, align == TEXTALIGN_RIGHT ? 32 : 16) << gap;
    }
}

TEST_F(Layout, JustifiedStretchesEveryLineButALooseLastOne)
{
    o.align = TEXTALIGN_JUSTIFIED;
    lvTextLayout layout;
    ASSERT_EQ(Lay("aaaa bbbb cccc\naa bb cc\nd e", &layout), 0);
    lvTextImage image;
    ASSERT_EQ(RenderTextRuns(&fm, nullptr, &o, &layout, 0, &image), 0);
    // The middle line is followed by another: stretched to the widest ink.
    EXPECT_EQ(RightEdge(layout, 8), RightEdge(layout, 0));
    // The last line's gap per word is far above two blanks: left alone.
    std::vector<RunView> runs = Views(layout);
    EXPECT_EQ(runs.back(), (RunView{"e", 16, 16}));
    // A last line nearly full is stretched too.
    lvTextLayout tight;
    ASSERT_EQ(Lay("aaaa bbbb cccc\naaaa bbbb ccc", &tight), 0);
    ASSERT_EQ(RenderTextRuns(&fm, nullptr, &o, &tight, 0, &image), 0);
    EXPECT_EQ(RightEdge(tight, 8), RightEdge(tight, 0));
}

// ---- Pixels ----------------------------------------------------------------------------

using Bits = lvBits;
Bits GlyphsOf(const std::string &text, int width, int height, int dx = 0, int dy = 0)
{
    return TopazText(text, width, height, dx, dy);
}

class Pixels : public Layout {
protected:
    lvTextImage image;
    int Draw(const std::string &t, int style)
    {
        o.style.style = style;
        text = t;
        o.text = text.data();
        o.length = text.size();
        return LayoutText(&fm, nullptr, &o, &image);
    }
    uint32_t Rgb(int x, int y) const { return image.rgb[(size_t)y * image.width + x]; }
    int Alpha(int x, int y) const { return image.alpha[(size_t)y * image.width + x]; }
    // Every pixel: the colour where want is set, transparent elsewhere.
    void ExpectPicture(const Bits &want, uint32_t colour, const char *what)
    {
        ASSERT_EQ(image.width, want.w) << what;
        ASSERT_EQ(image.height, want.h) << what;
        for (int y = 0; y < want.h; y++)
            for (int x = 0; x < want.w; x++) {
                ASSERT_EQ(Alpha(x, y), want.At(x, y) ? 255 : 0) << what << " at " << x << "," << y;
                if (want.At(x, y)) {
                    ASSERT_EQ(Rgb(x, y), colour) << what << " at " << x << "," << y;
                }
            }
    }
};

TEST_F(Pixels, PlainTextIsTheGlyphSource)
{
    o.style.colour = 0x336699;
    ASSERT_EQ(Draw("Hi", FORM_NORMAL), 0);
    ExpectPicture(GlyphsOf("Hi", 16, 9), 0x336699, "Hi");
    EXPECT_EQ(image.leftExtension, 0);
    EXPECT_EQ(image.antialiased, 0);
}

TEST_F(Pixels, SyntheticBoldItalicAndUnderline)
{
    o.style.colour = 0xFFFFFF;
    const Bits plain = GlyphsOf("Hi", 16, 9);
    // Bold: the glyphs ORed once more one pixel to the right.
    ASSERT_EQ(Draw("Hi", FORM_BOLD), 0);
    // Topaz's ink box is its cell: the widened box makes the image 17 wide.
    Bits bold(17, 9);
    for (int y = 0; y < 9; y++)
        for (int x = 0; x < 17; x++)
            if (plain.At(x, y) || plain.At(x - 1, y)) bold.Set(x, y);
    ExpectPicture(bold, 0xFFFFFF, "bold");
    // Italic: row r moves right by floor((6 - r - 1) / 2); the image starts one
    // pixel left of the pen, so the sheared rows keep their place in it.
    ASSERT_EQ(Draw("Hi", FORM_ITALIC), 0);
    EXPECT_EQ(image.leftExtension, -1);
    Bits italic(image.width, 9);
    for (int y = 0; y < 9; y++) {
        int d = 6 - y - 1, shift = d >= 0 ? d / 2 : -((-d + 1) / 2);
        for (int x = 0; x < 16; x++)
            if (plain.At(x, y)) italic.Set(x + shift + 1, y);
    }
    ExpectPicture(italic, 0xFFFFFF, "italic");
    // Underline: height 8, baseline 6: one row at 7 under the advance.
    ASSERT_EQ(Draw("Hi", FORM_UNDERLINED), 0);
    Bits under = plain;
    for (int x = 0; x < 16; x++) under.Set(x, 7);
    ExpectPicture(under, 0xFFFFFF, "underline");
}

TEST_F(Pixels, BorderDilatesAndShadowFollowsItsDirection)
{
    o.style.colour = 0xFFFFFF;
    o.style.borderColour = 0x0000FF;
    o.style.borderSize = 1;
    ASSERT_EQ(Draw("i", FORM_BORDER), 0);
    const Bits glyph = GlyphsOf("i", 10, 11, 1, 1);
    ASSERT_EQ(image.leftExtension, -1);
    ASSERT_EQ(image.topExtension, -1);
    ASSERT_EQ(image.width, 10);
    ASSERT_EQ(image.height, 11);
    for (int y = 0; y < 11; y++)
        for (int x = 0; x < 10; x++) {
            bool near = false;
            for (int j = -1; j <= 1; j++)
                for (int i = -1; i <= 1; i++) near |= glyph.At(x + i, y + j);
            uint32_t want = glyph.At(x, y) ? 0xFFFFFF : near ? 0x0000FF : 0;
            ASSERT_EQ(Alpha(x, y), want || near ? 255 : 0) << x << "," << y;
            if (near) {
                ASSERT_EQ(Rgb(x, y), want) << x << "," << y;
            }
        }
    // Direction 9 acts as south-east.
    for (int direction : {(int)SHDWSOUTHEAST, 9, (int)SHDWNORTHWEST}) {
        o.style.shadowColour = 0x00FF00;
        o.style.shadowSize = 2;
        o.style.shadowDirection = direction;
        ASSERT_EQ(Draw("i", FORM_SHADOW), 0);
        int dx = direction == SHDWNORTHWEST ? -2 : 2;
        int ox = dx < 0 ? 2 : 0;  // the image grows to the left for a north-west shadow
        const Bits g = GlyphsOf("i", image.width, image.height, ox, ox);
        const Bits s = GlyphsOf("i", image.width, image.height, ox + dx, ox + dx);
        ASSERT_EQ(image.width, 10) << direction;
        for (int y = 0; y < image.height; y++)
            for (int x = 0; x < image.width; x++) {
                uint32_t want = g.At(x, y) ? 0xFFFFFF : s.At(x, y) ? 0x00FF00 : 0;
                ASSERT_EQ(Alpha(x, y), want ? 255 : 0) << direction << " at " << x << "," << y;
                if (want) {
                    ASSERT_EQ(Rgb(x, y), want) << direction << " at " << x << "," << y;
                }
            }
    }
}

TEST(BorderKernel, EachCellIsTheShiftedSumOverTheSquareWidth)
{
    // A small fixture with full and partial coverage at the edges.
    const int w = 5, h = 4;
    const uint8_t src[h][w] = {{255, 0, 0, 40, 0}, {0, 200, 0, 0, 0}, {0, 0, 0, 0, 255}, {90, 0, 0, 0, 255}};
    for (int r : {1, 2, 8}) {
        int ow = w + 2 * r + 1, oh = h + 2 * r + 1;
        std::vector<uint32_t> acc((size_t)ow * oh);
        std::vector<uint8_t> out((size_t)ow * oh, 7);
        StampBorderCoverage(w, h, &src[0][0], w, r, acc.data(), out.data(), ow);
        for (int y = 0; y < oh; y++)
            for (int x = 0; x < ow; x++) {
                long sum = 0;
                for (int j = 0; j <= 2 * r; j++)
                    for (int i = 0; i <= 2 * r; i++) {
                        int sx = x - i, sy = y - j;
                        if (sx >= 0 && sy >= 0 && sx < w && sy < h) sum += src[sy][sx];
                    }
                ASSERT_EQ(out[(size_t)y * ow + x], std::min<long>(255, sum / (2 * r + 1)))
                    << "radius " << r << " at " << x << "," << y;
            }
    }
}

// ---- Vera, anti-aliased ----------------------------------------------------------------

// Texts that need no runs skip the run builder; what they give must be the
// general road's image, cursor and extensions, pixel for pixel. Texts that do
// need runs (tags, tabs, a wrap, a style) go the general road either way.
TEST_F(Pixels, TextsWithoutRunsGiveTheGeneralRoadsImage)
{
    lvFont *vera = nullptr;
    ASSERT_EQ(OpenFontByName(&fm, LV_SANS_DEFAULT, 16, 1, 0, 0, nullptr, 0, "inbuilt", "", &vera), 0);
    struct Case {
        const char *text;
        int objectType, style, wrap, cursorX, charSpacing, lineSpacing;
        bool simple;
    } cases[] = {
        {"Hi", LV_TEXT_TEXTOUT, FORM_NORMAL, 0, 0, 0, 0, true},
        {"AVAWAY fjord", LV_TEXT_TEXTOUT, FORM_ANTIALIAS, 0, 0, 0, 0, true},
        {"two\nlines", LV_TEXT_TEXTOUT, FORM_ANTIALIAS, 0, 0, 0, 3, true},
        {"gap\n\nbelow", LV_TEXT_TEXTOUT, FORM_NORMAL, 0, 0, 0, 0, true},
        {"  \nblank line above", LV_TEXT_TEXTOUT, FORM_NORMAL, 0, 0, 2, 0, true},
        {"cr\r\nlf and \r inside", LV_TEXT_TEXTOUT, FORM_ANTIALIAS, 0, 0, 0, 0, true},
        {"ends with a feed\n", LV_TEXT_TEXTOUT, FORM_NORMAL, 0, 0, 0, 0, true},
        {"\xc3\xa9t\xc3\xa9 \xe2\x82\xac", LV_TEXT_TEXTOUT, FORM_ANTIALIAS, 0, 0, 0, 0, true},
        {"fits", LV_TEXT_TEXTOUT, FORM_ANTIALIAS, 200, 0, 0, 0, true},
        {"printed", LV_TEXT_PRINT, FORM_ANTIALIAS, 300, 24, 0, 0, true},
        {"printed", LV_TEXT_PRINT, FORM_NORMAL, 300, 0, 1, 0, true},
        // Not taken: the general road on both sides.
        {"wraps here and there", LV_TEXT_TEXTOUT, FORM_ANTIALIAS, 40, 0, 0, 0, false},
        {"[b]tag[/b]", LV_TEXT_TEXTOUT, FORM_NORMAL, 0, 0, 0, 0, false},
        {"tab\there", LV_TEXT_TEXTOUT, FORM_NORMAL, 0, 0, 0, 0, false},
        {"bold", LV_TEXT_TEXTOUT, FORM_BOLD, 0, 0, 0, 0, false},
        {"soft\xc2\xadhyphen", LV_TEXT_TEXTOUT, FORM_ANTIALIAS, 0, 0, 0, 0, false},
        {"tight\nlines", LV_TEXT_TEXTOUT, FORM_ANTIALIAS, 0, 0, 0, -4, false},
        {"lines\nprinted\n", LV_TEXT_PRINT, FORM_NORMAL, 300, 8, 0, 0, false},
    };
    for (lvFont *font : {(lvFont *)nullptr, vera})
        for (const Case &c : cases) {
            SCOPED_TRACE(std::string(c.text) + (font ? " vera" : " topaz"));
            if (!font && (c.style & FORM_ANTIALIAS)) continue;
            lvTextOptions base = o;
            base.objectType = c.objectType;
            base.style.style = c.style;
            base.style.colour = 0x336699;
            base.wrapWidth = c.wrap;
            base.cursorX = c.cursorX;
            base.leftMargin = c.objectType == LV_TEXT_PRINT ? 8 : 0;
            if (c.objectType == LV_TEXT_PRINT) base.cursorX += 8;
            base.charSpacing = c.charSpacing;
            base.lineSpacing = c.lineSpacing;
            base.text = c.text;
            base.length = std::strlen(c.text);
            EXPECT_EQ(TextNeedsNoRuns(&fm, font, &base), c.simple);
            lvTextOptions fast = base, general = base;
            lvTextImage a, b;
            ASSERT_EQ(LayoutText(&fm, font, &fast, &a), 0);
            ASSERT_EQ(LayoutTextGeneral(&fm, font, &general, &b), 0);
            EXPECT_EQ(a.width, b.width);
            EXPECT_EQ(a.height, b.height);
            EXPECT_EQ(a.leftExtension, b.leftExtension);
            EXPECT_EQ(a.topExtension, b.topExtension);
            EXPECT_EQ(a.xShift, b.xShift);
            EXPECT_EQ(a.antialiased, b.antialiased);
            EXPECT_EQ(fast.finalX, general.finalX);
            EXPECT_EQ(fast.finalY, general.finalY);
            EXPECT_EQ(fast.adjustX, general.adjustX);
            EXPECT_TRUE(a.alpha == b.alpha);
            EXPECT_TRUE(a.rgb == b.rgb);
        }
}

// Hard-edged TrueType text takes the synthetic bold and italic of bitmap fonts: bold
// is the glyphs ORed once more one pixel to the right, italic shears whole rows.
TEST_F(Pixels, HardEdgedVeraTakesTheSyntheticBoldAndItalic)
{
    lvFont *vera = nullptr;
    ASSERT_EQ(OpenFontByName(&fm, LV_SANS_DEFAULT, 16, 1, 0, 0, nullptr, 0, "inbuilt", "", &vera), 0);
    auto draw = [&](int style, lvTextImage *out) {
        o.style.style = style;
        o.style.colour = 0xFFFFFF;
        text = "Hil";
        o.text = text.data();
        o.length = text.size();
        return LayoutText(&fm, vera, &o, out);
    };
    lvTextImage plain, bold, italic;
    ASSERT_EQ(draw(FORM_NORMAL, &plain), 0);
    ASSERT_EQ(draw(FORM_BOLD, &bold), 0);
    ASSERT_EQ(draw(FORM_ITALIC, &italic), 0);
    auto lit = [](const lvTextImage &im, int x, int y) {
        return x >= 0 && y >= 0 && x < im.width && y < im.height && im.alpha[(size_t)y * im.width + x] != 0;
    };
    ASSERT_EQ(bold.height, plain.height);
    ASSERT_EQ(bold.leftExtension, plain.leftExtension);
    for (int y = 0; y < bold.height; y++)
        for (int x = 0; x < bold.width; x++)
            ASSERT_EQ(lit(bold, x, y), lit(plain, x, y) || lit(plain, x - 1, y)) << "bold at " << x << "," << y;
    // A shear moves every row whole: each row keeps its count of pixels.
    ASSERT_EQ(italic.height, plain.height);
    for (int y = 0; y < plain.height; y++) {
        int a = 0, b = 0;
        for (int x = 0; x < plain.width; x++) a += lit(plain, x, y);
        for (int x = 0; x < italic.width; x++) b += lit(italic, x, y);
        EXPECT_EQ(a, b) << "italic row " << y;
    }
}

TEST_F(Pixels, AntiAliasedVeraIsFreeTypesCoverage)
{
    lvFont *vera = nullptr;
    ASSERT_EQ(OpenFontByName(&fm, LV_SANS_DEFAULT, 20, 1, 0, 0, nullptr, 0, "inbuilt", "", &vera), 0);
    FT_Library lib;
    FT_Face face;
    ASSERT_EQ(FT_Init_FreeType(&lib), 0);
    ASSERT_EQ(FT_New_Face(lib, "/usr/share/fonts/truetype/ttf-bitstream-vera/Vera.ttf", 0, &face), 0);
    FT_Set_Pixel_Sizes(face, 0, GetTrueTypeFace(vera)->size->metrics.x_ppem);
    ASSERT_EQ(FT_Load_Char(face, 'O', FT_LOAD_NO_AUTOHINT | FT_LOAD_RENDER), 0);
    FT_GlyphSlot g = face->glyph;
    for (uint32_t colour : {0x00FFEEDDu, 0x80FFEEDDu}) {
        o.style.colour = colour;
        text = "O";
        o.text = text.data();
        o.length = 1;
        o.style.style = FORM_ANTIALIAS;
        ASSERT_EQ(LayoutText(&fm, vera, &o, &image), 0);
        EXPECT_EQ(image.antialiased, 1);
        int x0 = g->bitmap_left - image.leftExtension, y0 = vera->baseline - g->bitmap_top - image.topExtension;
        int inked = 0;
        for (int y = 0; y < image.height; y++)
            for (int x = 0; x < image.width; x++) {
                int gx = x - x0, gy = y - y0, want = 0;
                if (gx >= 0 && gy >= 0 && gx < (int)g->bitmap.width && gy < (int)g->bitmap.rows)
                    want = g->bitmap.buffer[gy * g->bitmap.pitch + gx];
                // A colour's transparency byte scales the alpha.
                ASSERT_EQ(Alpha(x, y), want * (255 - (int)(colour >> 24)) / 255) << x << "," << y;
                if (want * (255 - (int)(colour >> 24)) / 255) {
                    ASSERT_EQ(Rgb(x, y), colour & 0xFFFFFF);
                }
                inked += want != 0;
            }
        EXPECT_GT(inked, 30);
    }
    // A one-pixel border: the coverage outside the glyph is the kernel's.
    o.style.colour = 0xFFFFFF;
    o.style.borderColour = 0x0000FF;
    o.style.borderSize = 1;
    o.style.style = FORM_ANTIALIAS | FORM_BORDER;
    ASSERT_EQ(LayoutText(&fm, vera, &o, &image), 0);
    int x0 = g->bitmap_left - image.leftExtension - 1, y0 = vera->baseline - g->bitmap_top - image.topExtension - 1;
    auto cov = [&](int x, int y) {
        int gx = x - x0 - 1, gy = y - y0 - 1;
        if (gx < 0 || gy < 0 || gx >= (int)g->bitmap.width || gy >= (int)g->bitmap.rows) return 0;
        return (int)g->bitmap.buffer[gy * g->bitmap.pitch + gx];
    };
    int checked = 0;
    for (int y = 0; y < image.height; y++)
        for (int x = 0; x < image.width; x++) {
            if (cov(x, y)) continue;
            int sum = 0;
            for (int j = -1; j <= 1; j++)
                for (int i = -1; i <= 1; i++) sum += cov(x + i, y + j);
            ASSERT_EQ(Alpha(x, y), std::min(255, sum / 3)) << x << "," << y;
            if (sum / 3) {
                ASSERT_EQ(Rgb(x, y), 0x0000FFu);
                checked++;
            }
        }
    EXPECT_GT(checked, 20);
    FT_Done_Face(face);
    FT_Done_FreeType(lib);
}

}  // namespace

namespace {

TEST_F(Pixels, JustifiedUnderlineBridgesTheWidenedGaps)
{
    o.align = TEXTALIGN_JUSTIFIED;
    ASSERT_EQ(Draw("[u]aa bb cc[/u]\naaaaaaaaaaaaaaa", FORM_NORMAL), 0);
    // The first line is stretched to the second's width; its underline (row 7)
    // runs without a break from the first word to the end of the last.
    int end = 0;
    for (int x = 0; x < image.width; x++)
        if (Alpha(x, 7)) end = x;
    EXPECT_GT(end, 100);  // stretched well past its own 64 pixels
    for (int x = 0; x <= end; x++) ASSERT_EQ(Alpha(x, 7), 255) << x;
    // Left-aligned, the gaps stay blanks of the underlined text: continuous too,
    // and no wider than the text.
    o.align = TEXTALIGN_LEFT;
    ASSERT_EQ(Draw("[u]aa bb cc[/u]\naaaaaaaaaaaaaaa", FORM_NORMAL), 0);
    for (int x = 0; x < 64; x++) ASSERT_EQ(Alpha(x, 7), 255) << x;
    EXPECT_EQ(Alpha(64, 7), 0);
}

TEST_F(Pixels, PrintStartsAtTheCursorAndWrapsAtTheRightMargin)
{
    o.objectType = LV_TEXT_PRINT;
    o.leftMargin = 10;
    o.wrapWidth = 40;  // right margin 49
    o.cursorX = 26;
    o.cursorY = 0;
    lvTextLayout layout;
    ASSERT_EQ(Lay("ab cd ef", &layout), 0);
    // From x 16 (the cursor less the margin): "ab " fits, "cd" would end at 56.
    EXPECT_EQ(Views(layout), (std::vector<RunView>{{"ab ", 16, 0}, {"cd ef", 0, 8}}));
    EXPECT_EQ(layout.finalX, 40);
    EXPECT_EQ(layout.finalY, 8);
    // On one line the image starts at the text and records the shift.
    lvTextLayout single;
    ASSERT_EQ(Lay("ab", &single), 0);
    lvTextImage one;
    ASSERT_EQ(RenderTextRuns(&fm, nullptr, &o, &single, 16, &one), 0);
    EXPECT_EQ(one.xShift, 16);
    EXPECT_EQ(one.width, 16);
}

}  // namespace

#include "text/lvimagefont.h"

namespace {

// A brush of 2 x 2 cells of 4 x 5 pixels, one pixel between the columns: each
// cell is filled with its own colour in a pattern of its own.
struct ImageFontFixture {
    int w = 9, h = 10;
    std::vector<uint32_t> argb = std::vector<uint32_t>((size_t)9 * 10, 0);
    static uint32_t Colour(int cell) { return 0xFF000000u | (0x40u << (8 * cell)) | 0x10; }
    ImageFontFixture()
    {
        for (int cell = 0; cell < 4; cell++) {
            int x0 = (cell % 2) * 5, y0 = (cell / 2) * 5;
            for (int y = 0; y < 5; y++)
                for (int x = 0; x < 4; x++)
                    if ((x + y + cell) % 2 == 0) argb[(size_t)(y0 + y) * w + x0 + x] = Colour(cell);
        }
    }
    lvImageFontRequest Request(const char *set)
    {
        lvImageFontRequest q{};
        q.name = "grid";
        q.argb = argb.data();
        q.width = w, q.height = h, q.depth = 24;
        q.cellWidth = 4, q.cellHeight = 5, q.columns = 2, q.columnSpacing = 1;
        q.characters = set;
        q.length = std::strlen(set);
        q.ascender = -1;
        return q;
    }
};

TEST(ImageFonts, TheGridMustFitTheBrushAndWidthsMustNotBeNegative)
{
    ImageFontFixture f;
    lvFont *font = nullptr;
    lvImageFontRequest q = f.Request("abcd");
    ASSERT_EQ(CreateImageFont(&q, &font), 0);
    EXPECT_EQ(font->height, 5);
    EXPECT_EQ(font->baseline, 4);
    FreeImageFont(font);
    delete font;
    struct Case { const char *set; int columns, cellWidth, columnSpacing; int code; } cases[] = {
        {"abcde", 2, 4, 1, ERR_BRUSHSIZE},  // three rows of 5 need 15 rows of the 10
        {"abcd", 2, 5, 0, 0},              // 10 wide exactly: 2 x 5
        {"abcd", 2, 5, 1, ERR_BRUSHSIZE},  // one pixel too narrow
        {"abcd", 0, 4, 1, ERR_WRONGUSAGE},
        {"", 2, 4, 1, ERR_WRONGUSAGE},
    };
    for (const Case &c : cases) {
        q = f.Request(c.set);
        q.columns = c.columns, q.cellWidth = c.cellWidth, q.columnSpacing = c.columnSpacing;
        if (std::strcmp(c.set, "abcd") == 0 && c.cellWidth == 5 && c.columnSpacing == 0) q.width = 10;
        std::vector<uint32_t> wide((size_t)10 * 10, 0);
        if (q.width == 10) q.argb = wide.data();
        font = nullptr;
        EXPECT_EQ(CreateImageFont(&q, &font), c.code) << c.set << " " << c.columns;
        if (font) {
            FreeImageFont(font);
            delete font;
        }
    }
    std::vector<int> negative = {3, -1};
    q = f.Request("abcd");
    q.widths = &negative;
    EXPECT_EQ(CreateImageFont(&q, &font), ERR_WRONGUSAGE);
}

TEST_F(Pixels, ImageFontsDrawTheirCellsInTheirOwnColours)
{
    ImageFontFixture f;
    lvFont *font = nullptr;
    // "b" twice: the first cell serves; "c" is two pixels wide by "charwidth".
    std::vector<int> widths = {4, 4, 2};
    lvImageFontRequest q = f.Request("abcb");
    q.widths = &widths;
    ASSERT_EQ(CreateImageFont(&q, &font), 0);
    lvTextMetrics m;
    lvFontStyle plain{};
    plain.style = FORM_NORMAL;
    ASSERT_EQ(MeasureStyledTextIn(&fm, font, 1, 0, &plain, &m, "cbz", 3), 0);
    EXPECT_EQ(m.advance, 2 + 4 + 4);  // a character not in the set advances by the cell
    text = "bca";
    o.text = text.data();
    o.length = text.size();
    ASSERT_EQ(LayoutText(&fm, font, &o, &image), 0);
    ASSERT_EQ(image.width, 10);
    ASSERT_EQ(image.height, 6);
    // b = cell 1 at x 0, c = cell 2 (two columns) at x 4, a = cell 0 at x 6.
    struct Piece { int cell, x, width; } pieces[] = {{1, 0, 4}, {2, 4, 2}, {0, 6, 4}};
    for (const Piece &p : pieces)
        for (int y = 0; y < 5; y++)
            for (int x = 0; x < p.width; x++) {
                bool on = (x + y + p.cell) % 2 == 0;
                ASSERT_EQ(Alpha(p.x + x, y), on ? 255 : 0) << p.cell << " at " << x << "," << y;
                if (on) {
                    ASSERT_EQ(Rgb(p.x + x, y), ImageFontFixture::Colour(p.cell) & 0xFFFFFF);
                }
            }
    FreeImageFont(font);
    delete font;
}

}  // namespace

#include "tests/text/amiga_writer.h"
#include "text/lvamiga.h"

namespace {

TEST_F(Pixels, ColourFontsDrawTheirPensInTheirPaletteColours)
{
    amiga::Font f = amiga::OneCharacter(2, 3, 1, 'a', {{"154", "0.5"}, {"1", "4"}});
    f.colour = true;
    f.depth = 3;
    f.planePick = 0b101;
    f.colours = {0x000, 0xF00, 0x0F0, 0x00F, 0x123, 0xFFF};
    amiga::Bytes bytes = amiga::SizeFile(f);
    lvAmigaFont *af = nullptr;
    ASSERT_EQ(ReadAmigaSizeFile(bytes.data(), bytes.size(), &af), 0);
    lvFont font{};
    SetAmigaFont(&font, af, 2, "colour");
    text = "a";
    o.text = text.data();
    o.length = 1;
    o.style.colour = 0x00FF00;  // the text colour does not tint a colour font
    ASSERT_EQ(LayoutText(&fm, &font, &o, &image), 0);
    // Pens 1, 5, 4 over 0, 0, 5 (pen 0 is transparent).
    const uint32_t want[2][3] = {{0xFF0000, 0xFFFFFF, 0x112233}, {0, 0, 0xFFFFFF}};
    ASSERT_GE(image.width, 3);
    for (int y = 0; y < 2; y++)
        for (int x = 0; x < 3; x++) {
            EXPECT_EQ(Alpha(x, y), want[y][x] ? 255 : 0) << x << "," << y;
            if (want[y][x]) {
                EXPECT_EQ(Rgb(x, y), want[y][x]) << x << "," << y;
            }
        }
    FreeAmigaFont(&font);
}

}  // namespace

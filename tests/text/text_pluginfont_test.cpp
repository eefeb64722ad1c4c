// Plug-in fonts through a plug-in record whose font exports are test functions:
// which answers are taken, what the runtime hands the plug-in, and how its
// drawing lands in the target plane.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "text/lvfont.h"
#include "text/lvtextlayout.h"
#include "text/lvpluginfont.h"

namespace {

struct Answer {
    int depth = 1;
    uint32_t flags = 0;
    bool palette = false;
    int transparentPen = -1;
    const char *name = nullptr;
};
Answer answer;
lvPluginFontRequest seen;      // the request as the runtime filled it
lvPluginFontLayout seenLayout;
lvPluginFontTarget seenTarget;
int frees, handleValue = 1;
uint32_t pens[256] = {0, 0xFF0000, 0x00FF00};

void *Load(const char *, int, lvPluginFontRequest *r, void *)
{
    seen = *r;
    r->depth = answer.depth;
    r->flags = answer.flags;
    r->palette = answer.palette ? pens : nullptr;
    r->transparentPen = answer.transparentPen;
    r->name = answer.name;
    r->height = 6;
    r->baseline = 4;
    return &handleValue;
}
void Free(void *) { frees++; }
int Measure(void *, const char *, int length, int, lvPluginFontMetrics *out, lvPluginFontLayout *layout, void *)
{
    seenLayout = *layout;
    *out = {0, -4, length * 3 - 1, 1, length * 3, 6};
    return 0;
}
// Each character a column of its code's low byte at x + 2 i, rows 0 and 1;
// drawn with no regard to the size, so the runtime's bounds must hold.
int Render(void *, const char *text, int length, int, lvPluginFontTarget *t, const double *matrix,
           lvPluginFontLayout *layout, void *)
{
    seenTarget = *t;
    seenLayout = *layout;
    EXPECT_EQ(matrix[0], 1.0);
    EXPECT_EQ(matrix[3], 1.0);
    for (int i = 0; i < length; i++) {
        int x = t->x + 2 * i;
        if (x < 0 || x >= t->width) continue;
        for (int y = t->y; y < t->y + 2 && y < t->height; y++) {
            if (t->mask) t->mask[y * t->maskRowBytes + (x >> 3)] |= (uint8_t)(0x80 >> (x & 7));
            if (t->alpha) t->alpha[y * t->alphaRowBytes + x] = (uint8_t)text[i];
            if (t->pens) t->pens[y * t->penRowBytes + x] = (uint8_t)(text[i] & 3);
        }
    }
    return 0;
}
int Kerning(void *, const char *pair, int, void *) { return std::strcmp(pair, "AV") == 0 ? -3 : 0; }
void Scale(void *, double, double sy, lvPluginTag *tags)
{
    for (; tags->tag; tags++) *(int *)tags->value = tags->tag == 1 ? (int)(6 * sy) : (int)(4 * sy);
}
const char *Format(void *) { return "DOUBLE"; }

lvPluginRecord MakeRecord()
{
    lvPluginRecord r{};
    r.LoadFont = (lvPluginExport)Load;
    r.FreeFont = (lvPluginExport)Free;
    r.MeasureText = (lvPluginExport)Measure;
    r.RenderText = (lvPluginExport)Render;
    r.GetKerning = (lvPluginExport)Kerning;
    r.SetFontScale = (lvPluginExport)Scale;
    r.GetFontFormat = (lvPluginExport)Format;
    return r;
}

struct Opened {
    lvPluginRecord record = MakeRecord();
    lvFont font{};
    int ok = 0;
    explicit Opened(int usePoints = 0)
    {
        font.scaleX = font.scaleY = 1.0;
        ok = OpenPluginFont(&record, "Asked", 9, usePoints, "adapter", &font);
    }
    ~Opened()
    {
        if (ok) FreePluginFont(&font);
    }
};

TEST(PluginFont, OnlyDrawableAnswersAreTaken)
{
    struct Case {
        bool palette;
        int depth;
        uint32_t flags;
        int accepted;
    } cases[] = {
        {false, 1, 0, 1}, {false, 1, 4, 0}, {false, 8, 4, 1}, {false, 8, 0, 0}, {false, 32, 0, 1},
        {false, 32, 4, 1}, {false, 4, 0, 0}, {true, 4, 0, 1}, {true, 8, 0, 1}, {true, 4, 4, 0},
        {true, 9, 0, 0}, {true, 0, 0, 0},
    };
    for (const Case &c : cases) {
        answer = Answer{};
        answer.palette = c.palette;
        answer.depth = c.depth;
        answer.flags = c.flags;
        frees = 0;
        {
            Opened o;
            EXPECT_EQ(o.ok, c.accepted) << c.palette << " " << c.depth << " " << c.flags;
            // A refused answer is handed back at once.
            EXPECT_EQ(frees, c.accepted ? 0 : 1);
        }
        EXPECT_EQ(frees, 1);
    }
}

TEST(PluginFont, RequestAndFontRecord)
{
    answer = Answer{};
    answer.depth = 8;
    answer.flags = 4 | 1 | 8 | 0x10;
    answer.name = "Served";
    Opened o(1);
    ASSERT_EQ(o.ok, 1);
    EXPECT_EQ(seen.depth, 1);
    EXPECT_EQ(seen.height, 9);
    EXPECT_EQ(seen.baseline, 8);
    EXPECT_EQ(seen.flags, 2u);
    EXPECT_STREQ(seen.adapter, "adapter");
    EXPECT_EQ(o.font.type, LV_FONT_PLUGIN);
    EXPECT_STREQ(o.font.name, "Served");
    EXPECT_STREQ(o.font.formatName, "DOUBLE");
    EXPECT_EQ(o.font.height, 6);
    EXPECT_EQ(o.font.baseline, 4);
    EXPECT_EQ(o.font.baseHeight, 6);
    EXPECT_EQ(o.font.scalable, 1);
    EXPECT_EQ(o.font.antialiased, 1);
    EXPECT_EQ(o.font.pluginFlag8, 1);
    EXPECT_EQ(o.font.selfLayout, 1);
    EXPECT_EQ(GetFontDepth(&o.font), 8);
    EXPECT_EQ(FontEngineOf(&o.font), FONTENGINE_PLUGIN);
    EXPECT_EQ(FontTypeOf(&o.font), FONTTYPE_PLUGIN);

    lvFontExtent e{};
    ASSERT_EQ(MeasurePluginText(&o.font, "abc", 3, LV_FONTSTYLE_ANTIALIAS | LV_FONTSTYLE_BOLD, 2, 0, &e), 0);
    EXPECT_EQ(e.advance, 9);
    EXPECT_EQ(e.minY, -4);
    EXPECT_EQ(e.maxX, 8);
    // Measuring hands over the anti-alias bit and the char spacing only.
    EXPECT_EQ(seenLayout.style, 1u);
    EXPECT_EQ(seenLayout.charSpacing, 2);
    EXPECT_EQ(GetPluginKerning(&o.font, "AVX", 2, 0), -3);

    lvFontManager fm{};
    ApplyFontScale(&fm, &o.font, 2.0, 2.0);
    EXPECT_EQ(o.font.height, 12);
    EXPECT_EQ(o.font.baseline, 8);
}

TEST(PluginFont, DrawingLandsInThePlaneTheDepthCalls)
{
    struct Case {
        int depth;
        uint32_t flags;
        bool palette;
        int style;
        int planeFormat;       // the target the runtime gives
        int handedFormat;      // what the plug-in is asked to fill
        std::vector<uint8_t> expected;
    } cases[] = {
        // Depth 1: the mask; "AB" at x 1 fills columns 1 and 3 of rows 0 and 1.
        {1, 0, false, 0, LV_PLANE_ALPHA8, LV_PLANE_MASK1, {0, 255, 0, 255, 0, 255, 0, 255, 0, 0, 0, 0}},
        // Anti-aliased: coverage straight from the plug-in.
        {8, 4, false, LV_FONTSTYLE_ANTIALIAS, LV_PLANE_ALPHA8, LV_PLANE_ALPHA8,
         {0, 'A', 0, 'B', 0, 'A', 0, 'B', 0, 0, 0, 0}},
        // Drawn without anti-aliasing a depth-8 font gets the mask.
        {8, 4, false, 0, LV_PLANE_ALPHA8, LV_PLANE_MASK1, {0, 255, 0, 255, 0, 255, 0, 255, 0, 0, 0, 0}},
        // Pens: 'A' & 3 = 1, 'D' & 3 = 0 is the transparent pen and leaves the target alone.
        {2, 0, true, 0, LV_PLANE_ALPHA8, LV_PLANE_ALPHA8, {0, 1, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0}},
    };
    const char *texts[] = {"AB", "AB", "AB", "AD"};
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; i++) {
        const Case &c = cases[i];
        answer = Answer{};
        answer.depth = c.depth;
        answer.flags = c.flags;
        answer.palette = c.palette;
        answer.transparentPen = c.palette ? 0 : -1;
        Opened o;
        ASSERT_EQ(o.ok, 1) << i;
        std::vector<uint8_t> plane(12, 0);
        lvFontPlane p{plane.data(), 4, 4, 3, c.planeFormat};
        ASSERT_EQ(RenderPluginText(&o.font, &p, 1, 0, texts[i], 2, c.style, 0, 0, nullptr), 0) << i;
        EXPECT_EQ(plane, c.expected) << i;
        EXPECT_EQ(seenTarget.pixelFormat, c.handedFormat) << i;
        EXPECT_EQ(seenTarget.x, 1);
        EXPECT_EQ(seenTarget.width, 4);
        EXPECT_EQ(seenTarget.height, 3);
    }
}

TEST(PluginFont, ClipAndMaskTargetsHold)
{
    answer = Answer{};
    Opened o;
    ASSERT_EQ(o.ok, 1);
    uint8_t mask[3] = {0, 0, 0};
    lvFontPlane p{mask, 1, 8, 3, LV_PLANE_MASK1};
    lvFontClip clip{0, 1, 2, 2};
    // Columns 0, 2, 4, 6 drawn on rows 0 and 1; the clip keeps columns 0..2 of row 1.
    ASSERT_EQ(RenderPluginText(&o.font, &p, 0, 0, "abcd", 4, 0, 0, 0, &clip), 0);
    EXPECT_EQ(mask[0], 0);
    EXPECT_EQ(mask[1], 0xA0);
    EXPECT_EQ(mask[2], 0);
}

// A 32-bit colour font's shadow and border are soft: the glyphs' silhouette blurred
// (radius 5 for the shadow, the border size for the border), reaching past the hard
// copy of the glyphs with coverage that fades.
TEST(PluginFont, ColourFontsGetSoftShadowsAndBorders)
{
    answer = Answer{};
    answer.depth = 32;
    Opened o;
    ASSERT_EQ(o.ok, 1);
    lvFontManager fm{};
    ASSERT_EQ(InitFontManager(&fm), 0);
    for (int form : {FORM_SHADOW, FORM_BORDER}) {
        lvTextOptions opt;
        InitTextOptions(&opt, 0);  // Latin-1: each byte is a column of coverage 255
        opt.objectType = LV_TYPE_TEXTOBJECT;
        opt.style.style = form;
        opt.style.colour = 0xFFFFFF;
        opt.style.shadowColour = 0x0000FF, opt.style.shadowSize = 2, opt.style.shadowDirection = SHDWSOUTHEAST;
        opt.style.borderColour = 0x00FF00, opt.style.borderSize = 4;
        std::string text = "\xff\xff\xff";
        opt.text = text.data();
        opt.length = text.size();
        lvTextImage image;
        ASSERT_EQ(LayoutText(&fm, &o.font, &opt, &image), 0) << form;
        int partial = 0, full = 0;
        for (size_t i = 0; i < image.alpha.size(); i++) {
            uint32_t c = image.rgb[i] & 0xFFFFFF;
            if (c == 0xFFFFFF || !image.alpha[i]) continue;  // the glyphs themselves, or nothing
            partial += image.alpha[i] < 200, full += image.alpha[i] >= 200;
        }
        EXPECT_GT(partial, 4) << form;  // a hard copy has no fading edge
    }
    DoneFontManager(&fm);
}

} // namespace

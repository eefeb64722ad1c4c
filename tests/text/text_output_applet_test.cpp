// Text output as an applet meets it, run by the runtime executable: TextOut,
// Print and NPrint drawn into selected brushes and saved as PNGs, compared
// pixel by pixel with what the topaz glyph source gives; the text cursor,
// margins and tab stops; the commands' errors.
#include <gtest/gtest.h>
#include <png.h>

#include <cstdio>
#include <algorithm>
#include <functional>
#include <tuple>
#include <sstream>

#include "tests/images/images_applet.h"
#include "tests/text/amiga_writer.h"
#include "tests/text/topaz_source.h"

namespace {

struct Picture {
    int width = 0, height = 0;
    std::vector<uint32_t> rgb;
    uint32_t At(int x, int y) const { return rgb[(size_t)y * width + x]; }
};

Picture ReadPicture(const std::string &path)
{
    Picture p;
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) return p;
    image.format = PNG_FORMAT_RGB;
    std::vector<uint8_t> bytes(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, bytes.data(), 0, nullptr)) return p;
    p.width = (int)image.width, p.height = (int)image.height;
    for (size_t i = 0; i + 2 < bytes.size(); i += 3)
        p.rgb.push_back((uint32_t)bytes[i] << 16 | (uint32_t)bytes[i + 1] << 8 | bytes[i + 2]);
    return p;
}

// Every pixel: the colour of the first picture that sets it, else black.
void ExpectPixels(const Picture &got, const std::vector<std::pair<lvBits, uint32_t>> &layers, const char *what)
{
    ASSERT_GT(got.width, 0) << what;
    for (int y = 0; y < got.height; y++)
        for (int x = 0; x < got.width; x++) {
            uint32_t want = 0;
            for (const auto &[bits, colour] : layers)
                if (bits.At(x, y)) {
                    want = colour;
                    break;
                }
            ASSERT_EQ(got.At(x, y), want) << what << " at " << x << "," << y;
        }
}

// Draws into brush id (w x h, black) between SelectBrush and EndSelect, then saves it.
void Drawn(lvAppletScript &s, int id, int w, int h, const std::function<void()> &draw)
{
    std::string key = "b" + std::to_string(id);
    s.Case(key + "make", "createbrush", {id, w, h});
    s.Case(key + "sel", "selectbrush", {id});
    draw();
    s.Case(key + "end", "endselect", {});
    s.Case(key + "save", "savebrush", {id, Str(key + ".png"), -1, 1});
}

const int FORM_NORMAL = 1, FORM_BOLD = 2, FORM_ITALIC = 4, FORM_UNDERLINED = 8, FORM_ANTIALIAS = 16,
          FORM_SHADOW = 32, FORM_BORDER = 64;

TEST(TextOutput, TextReachesTheSelectedImageWithItsStyles)
{
    lvScratchDir dir;
    lvAppletScript s;
    // Nothing selected: the text goes to the display the run opened.
    s.Case("ondisplay", "textout", {0, 0, Str("Hi")});
    Drawn(s, 1, 24, 12, [&] { s.Case("hi", "textout", {0, 0, Str("Hi")}); });
    Drawn(s, 2, 24, 12, [&] {
        s.Case("boldstyle", "setfontstyle", {FORM_BOLD});
        s.Case("bold", "textout", {2, 1, Str("Hi")});
    });
    Drawn(s, 3, 24, 12, [&] {
        s.Case("italicstyle", "setfontstyle", {FORM_NORMAL});
        s.Case("italicstyle2", "setfontstyle", {FORM_ITALIC});
        s.Case("italic", "textout", {2, 1, Str("Hi")});
    });
    Drawn(s, 4, 24, 12, [&] {
        s.Case("understyle", "setfontstyle", {FORM_NORMAL});
        s.Case("understyle2", "setfontstyle", {FORM_UNDERLINED});
        s.Case("under", "textout", {0, 0, Str("Hi")});
    });
    Drawn(s, 5, 24, 14, [&] {
        s.Case("borderstyle", "setfontstyle", {FORM_NORMAL});
        s.Case("borderstyle2", "setfontstyle", {FORM_BORDER, 0x0000FF, 1});
        s.Case("border", "textout", {3, 3, Str("i")});
    });
    Drawn(s, 6, 24, 14, [&] {
        s.Case("shadowstyle", "setfontstyle", {FORM_NORMAL});
        s.Case("shadowstyle2", "setfontstyle", {FORM_SHADOW, 0x00FF00, 2, 9});
        s.Case("shadow", "textout", {1, 1, Str("i")});
    });
    Drawn(s, 7, 24, 12, [&] {
        s.Case("tagstyle", "setfontstyle", {FORM_NORMAL});
        s.Case("tags", "textout", {0, 0, Str("[color=$ff0000]H[/color]i")});
    });
    s.Case("tobj", "createtextobject", {1, Str("Hi")});
    s.Case("tobjpen", "getattribute", {8, 1, 105});
    s.Case("tobjw", "getattribute", {8, 1, 0});
    s.Case("tobjtext", "getattribute", {8, 1, 36});
    s.Case("tobjself", "copytextobject", {1, 1});
    s.Case("tobjzero", "scaletextobject", {1, 0, 8});
    Drawn(s, 8, 24, 12, [&] { s.Case("tobjshow", "displaytextobject", {1, 0, 0}); });
    Drawn(s, 13, 40, 24, [&] {
        s.Case("tobjtags", "displaytextobject", {1, 0, 0, Fields({{"scalex", 2}, {"scaley", 2}})});
    });
    s.Case("tobjfree", "freetextobject", {1});
    s.Case("tobjgone", "freetextobject", {1});
    // Vera at 16, anti-aliased: a text object scaled to 200% against TextOut
    // with draw tags scaling by 2.
    s.Case("vera", "setfont", {Str(":::default_sans"), 16});
    s.Case("veraaa", "setfontstyle", {FORM_ANTIALIAS});
    s.Case("vobj", "createtextobject", {2, Str("Type")});
    s.Case("vscale", "scaletextobject", {2, Str("200%"), Str("200%")});
    Drawn(s, 9, 120, 60, [&] { s.Case("vshow", "displaytextobject", {2, 4, 4}); });
    Drawn(s, 10, 120, 60, [&] { s.Case("vtags", "textout", {4, 4, Str("Type"), Fields({{"scalex", 2}, {"scaley", 2}})}); });
    Drawn(s, 11, 120, 60, [&] { s.Case("vplain", "textout", {4, 4, Str("Type")}); });
    // An image font cut from a red brush.
    s.Case("fbrush", "createbrush", {20, 40, 10, 0xFF0000});
    s.Case("cfont", "createfont", {1, 20, Str("AB"), 8, 10, 5});
    s.Case("cfontsize", "createfont", {2, 20, Str("ABCDEFGHIJK"), 8, 10, 5});
    s.Case("cfontcols", "createfont", {3, 20, Str("AB"), 8, 10, 0});
    // Widths past the 1,024 characters a font can hold are ignored; the first ones serve.
    std::vector<lvAppletArg> widths(1100, lvAppletArg(3));
    widths[1] = 5;
    widths[1050] = Str("past the end");
    s.Case("cfontwide", "createfont", {4, 20, Str("AB"), 8, 10, 5, Fields({{"charwidth", List(widths)}})});
    s.Case("usewide", "usefont", {4});
    s.Case("widetext", "textwidth", {Str("AB")});
    s.Case("cfonttype", "getattribute", {43, 1, 116});
    s.Case("usecfont", "usefont", {1});
    Drawn(s, 12, 24, 12, [&] { s.Case("cfonttext", "textout", {0, 0, Str("AB")}); });
    s.Case("topazback", "setfont", {Str(":::default_bitmap"), 8});
    s.Case("aa", "setfontstyle", {FORM_ANTIALIAS});
    s.Case("aatopaz", "createbrush", {90, 8, 8});
    s.Case("aasel", "selectbrush", {90});
    s.Case("aatext", "textout", {0, 0, Str("x")});
    s.Case("aaback", "setfontstyle", {FORM_NORMAL});
    s.Case("enc2", "textout", {0, 0, Str("x"), Fields({{"encoding", 2}})});
    s.Case("badutf8", "textout", {0, 0, Str("a\\xC3"), Fields({{"encoding", 1}})});
    s.Case("tagerr", "textout", {0, 0, Str("a]")});
    // The option tables.
    std::vector<lvAppletArg> many;
    for (int k = 0; k < 32; k++) many.push_back(k + 1);
    s.Case("tabs32", "textout", {0, 0, Str("a"), Fields({{"tabs", List(many)}})});
    s.Case("tabsword", "textout", {0, 0, Str("a"), Fields({{"tabs", List({Str("x")})}})});
    s.Case("tabsnum", "textout", {0, 0, Str("a"), Fields({{"tabs", 5}})});
    s.Case("defbullet", "textout", {0, 0, Str("a"), Fields({{"listmode", 1}, {"deflistbullet", -1}})});
    s.Case("indentneg", "textout", {0, 0, Str("a"), Fields({{"listmode", 1}, {"listindent", List({-1})}})});
    s.Case("spacingneg", "textout", {0, 0, Str("a\\nb"), Fields({{"listmode", 1}, {"listspacing", List({-3})}})});
    s.Case("frame0", "textout", {0, 0, Str("a"), Fields({{"listmode", 1}, {"frame", 0}})});
    s.Case("frame3", "textout", {0, 0, Str("a\\nb"), Fields({{"listmode", 1}, {"frame", 3}})});
    s.Case("listcenter", "textout", {0, 0, Str("a"), Fields({{"listmode", 1}, {"align", -100000}})});
    s.Case("wraptab", "textout", {0, 0, Str("a"), Fields({{"wraptable", List({Str("x")})}})});
    s.Case("aaend", "endselect", {});

    int exitCode = -1;
    std::string all;
    auto lines = RunAppletScript(dir, s, "", &exitCode, &all);
    ASSERT_EQ(exitCode, 0) << all;
    EXPECT_EQ(lines["ondisplay"], "0 Nil") << all;
    for (const char *key : {"hi", "bold", "italic", "under", "border", "shadow", "tags"})
        EXPECT_EQ(lines[key].substr(0, 2), "0 ") << key << ": " << all;
    EXPECT_EQ(lines["aatext"].substr(0, 4), "1255");
    EXPECT_EQ(lines["tobjpen"], "0 4294967295");
    EXPECT_EQ(lines["cfont"].substr(0, 2), "0 ") << all;
    EXPECT_EQ(lines["cfontsize"].substr(0, 4), "1156");
    EXPECT_EQ(lines["cfontcols"].substr(0, 4), "1055");
    EXPECT_EQ(lines["cfonttype"], "0 3");
    EXPECT_EQ(lines["cfontwide"].substr(0, 2), "0 ") << all;
    EXPECT_EQ(lines["widetext"], "0 8") << all;
    EXPECT_EQ(lines["cfonttext"].substr(0, 2), "0 ") << all;
    lvBits block(24, 12);
    for (int y = 0; y < 10; y++)
        for (int x = 0; x < 16; x++) block.Set(x, y);
    ExpectPixels(ReadPicture(dir.File("b12.png")), {{block, 0xFF0000}}, "image font");
    for (const char *key : {"vera", "vobj", "vscale", "vshow", "vtags", "vplain"})
        EXPECT_EQ(lines[key].substr(0, 2), "0 ") << key << ": " << all;
    Picture scaled = ReadPicture(dir.File("b9.png")), tagged = ReadPicture(dir.File("b10.png")),
            plainVera = ReadPicture(dir.File("b11.png"));
    ASSERT_EQ(scaled.width, 120);
    EXPECT_EQ(scaled.rgb, tagged.rgb);
    // The scaled text reaches twice as far as the plain one.
    auto inkRight = [](const Picture &p) {
        int right = -1;
        for (int y = 0; y < p.height; y++)
            for (int x = 0; x < p.width; x++)
                if (p.At(x, y)) right = std::max(right, x);
        return right;
    };
    EXPECT_NEAR(inkRight(scaled) - 4, 2 * (inkRight(plainVera) - 4), 3);
    EXPECT_EQ(lines["tobjw"], "0 16");
    EXPECT_EQ(lines["tobjtext"], "0 Hi");
    EXPECT_EQ(lines["tobjself"].substr(0, 4), "1055");
    EXPECT_EQ(lines["tobjzero"].substr(0, 4), "1055");
    EXPECT_EQ(lines["tobjshow"].substr(0, 2), "0 ");
    EXPECT_EQ(lines["tobjfree"].substr(0, 2), "0 ");
    EXPECT_EQ(lines["tobjgone"].substr(0, 4), "1175");
    EXPECT_EQ(lines["enc2"].substr(0, 4), "1584");
    EXPECT_EQ(lines["badutf8"].substr(0, 4), "1585");
    EXPECT_EQ(lines["tagerr"].substr(0, 4), "1252");
    const std::pair<const char *, const char *> options[] = {
        {"tabs32", "1066"}, {"tabsword", "1189"}, {"tabsnum", "1598"}, {"defbullet", "1055"},
        {"indentneg", "1055"}, {"spacingneg", "0 N"}, {"frame0", "1094"}, {"frame3", "1094"},
        {"listcenter", "1055"}, {"wraptab", "1189"}};
    for (const auto &[key, code] : options) EXPECT_EQ(lines[key].substr(0, 3), std::string(code).substr(0, 3)) << key;

    const uint32_t white = 0xFFFFFF;
    lvBits hi = TopazText("Hi", 24, 12);
    ExpectPixels(ReadPicture(dir.File("b1.png")), {{hi, white}}, "Hi");
    ExpectPixels(ReadPicture(dir.File("b8.png")), {{hi, white}}, "text object");
    // Draw tags scale the object's image: every pixel becomes two by two.
    lvBits doubled(40, 24);
    for (int y = 0; y < 24; y++)
        for (int x = 0; x < 40; x++)
            if (hi.At(x / 2, y / 2)) doubled.Set(x, y);
    ExpectPixels(ReadPicture(dir.File("b13.png")), {{doubled, white}}, "text object scaled by draw tags");
    // Bold: ORed once more one pixel to the right.
    lvBits plain = TopazText("Hi", 24, 12, 2, 1), bold(24, 12);
    for (int y = 0; y < 12; y++)
        for (int x = 0; x < 24; x++)
            if (plain.At(x, y) || plain.At(x - 1, y)) bold.Set(x, y);
    ExpectPixels(ReadPicture(dir.File("b2.png")), {{bold, white}}, "bold");
    // Italic: row r of the glyphs moves right by floor((5 - r) / 2).
    lvBits italic(24, 12);
    for (int y = 0; y < 8; y++) {
        int d = 5 - y, shift = d >= 0 ? d / 2 : -((-d + 1) / 2);
        for (int x = 0; x < 24; x++)
            if (plain.At(x, y + 1)) italic.Set(x + shift, y + 1);
    }
    ExpectPixels(ReadPicture(dir.File("b3.png")), {{italic, white}}, "italic");
    lvBits under = hi;
    for (int x = 0; x < 16; x++) under.Set(x, 7);
    ExpectPixels(ReadPicture(dir.File("b4.png")), {{under, white}}, "underline");
    // A one-pixel border: the square dilation of the glyph.
    lvBits i = TopazText("i", 24, 14, 3, 3), ring(24, 14);
    for (int y = 0; y < 14; y++)
        for (int x = 0; x < 24; x++)
            for (int j = -1; j <= 1; j++)
                for (int k = -1; k <= 1; k++)
                    if (i.At(x + k, y + j)) ring.Set(x, y);
    ExpectPixels(ReadPicture(dir.File("b5.png")), {{i, white}, {ring, 0x0000FF}}, "border");
    // Direction 9 acts as south-east.
    ExpectPixels(ReadPicture(dir.File("b6.png")),
                 {{TopazText("i", 24, 14, 1, 1), white}, {TopazText("i", 24, 14, 3, 3), 0x00FF00}}, "shadow");
    ExpectPixels(ReadPicture(dir.File("b7.png")),
                 {{TopazText("H", 24, 12), 0xFF0000}, {TopazText(" i", 24, 12), white}}, "colour tag");
}

TEST(TextOutput, PrintFollowsTheCursorMarginsAndTabStops)
{
    lvScratchDir dir;
    lvAppletScript s;
    Drawn(s, 1, 96, 40, [&] {
        s.Case("margins", "setmargins", {8, 95});
        s.Case("nprint", "nprint", {Str("ab")});
        s.Case("tab", "addtab", {40});
        s.Case("print", "print", {Str("x\ty")});
        s.Case("locate", "locate", {16, 24});
        s.Case("print2", "print", {Str("z"), 5});
    });
    // Errors, on a brush of their own.
    s.Case("emake", "createbrush", {2, 400, 20});
    s.Case("esel", "selectbrush", {2});
    s.Case("badmargins", "setmargins", {100, 50});
    s.Case("center", "locate", {-100000, 0});
    s.Case("reset", "resettabs", {});
    std::vector<lvAppletArg> stops;
    for (int k = 0; k < 32; k++) stops.push_back(k * 10);
    s.Case("tabs32", "addtab", stops);
    s.Case("tab33", "addtab", {500});
    s.Case("negtab", "resettabs", {});
    s.Case("negtab2", "addtab", {-1});
    s.Case("eend", "endselect", {});

    int exitCode = -1;
    std::string all;
    auto lines = RunAppletScript(dir, s, "", &exitCode, &all);
    ASSERT_EQ(exitCode, 0) << all;
    for (const char *key : {"margins", "nprint", "tab", "print", "locate", "print2", "tabs32"})
        EXPECT_EQ(lines[key].substr(0, 2), "0 ") << key << ": " << all;
    EXPECT_EQ(lines["badmargins"].substr(0, 4), "1055");
    EXPECT_EQ(lines["center"].substr(0, 4), "1337");
    EXPECT_EQ(lines["tab33"].substr(0, 4), "1066");
    EXPECT_EQ(lines["negtab2"].substr(0, 4), "1154");
    // "ab" at the left margin; "x" on the next line at the margin and "y" at
    // the stop; "z 5" where Locate put the cursor.
    lvBits want(96, 40);
    for (auto [text, x, y] : {std::tuple{"ab", 8, 0}, std::tuple{"x", 8, 8}, std::tuple{"y", 40, 8},
                              std::tuple{"z 5", 16, 24}}) {
        lvBits t = TopazText(text, 96, 40, x, y);
        for (size_t k = 0; k < t.on.size(); k++) want.on[k] |= t.on[k];
    }
    ExpectPixels(ReadPicture(dir.File("b1.png")), {{want, 0xFFFFFF}}, "print");
}

// The "fonts" test plug-in's TestLayout font lays text out itself (4-pixel
// boxes advancing 5, wrapping where a box would cross the wrap width, right
// alignment to the widest line): the runtime hands it the whole request and
// draws what it gives in the text colour.
TEST(TextOutput, FontsThatLayTextOutThemselvesGetTheWholeRequest)
{
    const int TEXTALIGN_RIGHT = -80000;
    lvScratchDir dir;
    lvAppletScript s;
    s.Case("load", "loadplugin", {Str(LV_FONTS_PLUGIN)});
    s.Case("font", "setfont", {Str("TestLayout"), 6, Fields({{"loader", Str("plugin")}})});
    Drawn(s, 1, 24, 22, [&] {
        s.Case("wrapped", "textout", {1, 2, Str("abcdefg"), Fields({{"wordwrap", 17}, {"color", 0xFF0000}})});
    });
    Drawn(s, 2, 24, 14, [&] {
        s.Case("right", "textout", {0, 0, Str("ab\\nc"), Fields({{"align", TEXTALIGN_RIGHT}})});
    });
    s.Case("list", "textout", {0, 0, Str("a"), Fields({{"listmode", 1}})});
    // On a palette brush in pen mode the boxes take the draw pen.
    s.Case("pal", "createbrush", {3, 12, 6, Fields({{"palette", -999}})});
    s.Case("penmode", "setpalettemode", {0});
    s.Case("pen", "setdrawpen", {2});
    s.Case("pensel", "selectbrush", {3});
    s.Case("pentext", "textout", {1, 0, Str("ab")});
    s.Case("penend", "endselect", {});
    std::vector<int> every;
    for (int i = 0; i < 12 * 6; i++) every.push_back(i);
    s.Case("pens", "brushtopenarray", {3}, 1, every);
    s.Case("tobj", "createtextobject", {1, Str("ab\\nc")});
    s.Case("tobjw", "getattribute", {8, 1, 0});
    s.Case("tobjh", "getattribute", {8, 1, 1});
    int exitCode = -1;
    std::string all;
    auto lines = RunAppletScript(dir, s, "", &exitCode, &all);
    ASSERT_EQ(exitCode, 0) << all;
    for (const char *key : {"load", "font", "wrapped", "right", "tobj"})
        EXPECT_EQ(lines[key].substr(0, 2), "0 ") << key << ": " << all;
    EXPECT_EQ(lines["list"].substr(0, 4), "1625") << all;
    EXPECT_EQ(lines["tobjw"], "0 9") << all;
    EXPECT_EQ(lines["tobjh"], "0 12") << all;
    // The plug-in saw the layout record: colour and wrap width.
    EXPECT_NE(all.find("fontplugin laid out colour ff0000 wrap 17 align 0"), std::string::npos) << all;
    EXPECT_NE(all.find("align 1"), std::string::npos) << all;
    auto boxes = [](int w, int h, std::vector<std::pair<int, int>> corners) {
        lvBits b(w, h);
        for (auto [x, y] : corners)
            for (int j = 0; j < 6; j++)
                for (int i = 0; i < 4; i++) b.Set(x + i, y + j);
        return b;
    };
    // a b c | d e f | g, three lines of 6 rows from (1, 2).
    ExpectPixels(ReadPicture(dir.File("b1.png")),
                 {{boxes(24, 22, {{1, 2}, {6, 2}, {11, 2}, {1, 8}, {6, 8}, {11, 8}, {1, 14}}), 0xFF0000}},
                 "wrapped");
    ExpectPixels(ReadPicture(dir.File("b2.png")), {{boxes(24, 14, {{0, 0}, {5, 0}, {5, 6}}), 0xFFFFFF}}, "right");
    lvBits penBoxes = boxes(12, 6, {{1, 0}, {6, 0}});
    // The line holds the item in the error code's register first (72 items
    // reach it), then the items.
    std::istringstream pens(lines["pens"]);
    int skipped = -1;
    pens >> skipped;
    for (int y = 0; y < 6; y++)
        for (int x = 0; x < 12; x++) {
            int pen = -1;
            pens >> pen;
            ASSERT_EQ(pen, penBoxes.At(x, y) ? 2 : 0) << x << "," << y << ": " << lines["pens"];
        }
}

// Text on a palette brush: in pen mode the brush gets the draw pen for the
// glyphs, the shadow pen for the shadow and the pens of "pen" tags; in remap
// mode the colour's nearest pen. Read back as pens, and through ReadPixel.
TEST(TextOutput, TextOnPaletteBrushesWritesPens)
{
    const int PALETTE_CGA = -999, PENMODE = 0, REMAPMODE = 1, W = 17, H = 9;
    lvScratchDir dir;
    lvAppletScript s;
    std::vector<int> all;
    for (int i = 0; i < W * H; i++) all.push_back(i);
    lvBits hi = TopazText("Hi", W, H), h = TopazText("H", W, H), shade = TopazText("Hi", W, H, 1, 1);
    int px = -1, py = -1;  // a pixel of the H
    for (int k = 0; k < W * H && px < 0; k++)
        if (h.At(k % W, k / W)) px = k % W, py = k / W;
    ASSERT_GE(px, 0);
    s.Case("four", "createpalette", {1, List({0x000000, 0xFF0000, 0x00FF00, 0x0000FF}), Fields({{"depth", 4}})});
    struct Draw {
        const char *key;
        int mode;
        int style;
        const char *text;
    };
    const std::vector<Draw> draws = {
        {"plain", PENMODE, FORM_NORMAL, "Hi"},
        {"shadow", PENMODE, FORM_SHADOW, "Hi"},
        {"pentag", PENMODE, FORM_NORMAL, "[pen=3]H[/pen]i"},
        {"remap", REMAPMODE, FORM_NORMAL, "Hi"},
    };
    for (size_t i = 0; i < draws.size(); i++) {
        const Draw &d = draws[i];
        std::string k = d.key;
        int id = 10 + int(i);
        s.Case(k + "_mk", "createbrush", {id, W, H, Fields({{"palette", PALETTE_CGA}})});
        s.Case(k + "_pal", "setbrushpalette", {id, 1});
        s.Case(k + "_mode", "setpalettemode", {d.mode});
        s.Case(k + "_drawpen", "setdrawpen", {2});
        s.Case(k + "_shadowpen", "setshadowpen", {3});
        s.Case(k + "_normal", "setfontstyle", {FORM_NORMAL});
        if (d.style == FORM_SHADOW) s.Case(k + "_style", "setfontstyle", {FORM_SHADOW, 0xFFFFFF, 1, 3});
        s.Case(k + "_sel", "selectbrush", {id});
        if (d.mode == REMAPMODE)
            s.Case(k, "textout", {0, 0, Str(d.text), Fields({{"color", 0xFF2000}})});
        else
            s.Case(k, "textout", {0, 0, Str(d.text)});
        s.Case(k + "_read", "readpixel", {px, py});
        s.Case(k + "_end", "endselect", {});
        s.Case(k + "_pens", "brushtopenarray", {id}, 1, all);
    }
    // Colours in tags mean nothing to pens.
    s.Case("mode", "setpalettemode", {PENMODE});
    s.Case("csel", "selectbrush", {10});
    s.Case("colourtag", "textout", {0, 0, Str("[color=$ff0000]H")});
    s.Case("cend", "endselect", {});
    int exitCode = -1;
    std::string out;
    auto lines = RunAppletScript(dir, s, "", &exitCode, &out);
    ASSERT_EQ(exitCode, 0) << out;
    EXPECT_EQ(lines["colourtag"].substr(0, 4), "1659") << out;
    for (const Draw &d : draws) {
        std::string k = d.key;
        SCOPED_TRACE(k);
        ASSERT_EQ(lines[k].substr(0, 2), "0 ") << out;
        // The item that lands in the error code's register comes first.
        std::istringstream in(lines[k + "_pens"]);
        int skipped = -1;
        in >> skipped;
        for (int y = 0; y < H; y++)
            for (int x = 0; x < W; x++) {
                int want = 0;
                if (hi.At(x, y)) want = k == "remap" ? 1 : k == "pentag" && h.At(x, y) ? 3 : 2;
                else if (k == "shadow" && shade.At(x, y)) want = 3;
                int got = -1;
                in >> got;
                ASSERT_EQ(got, want) << "at " << x << "," << y << ": " << lines[k + "_pens"];
            }
        // ReadPixel on the selected palette brush gives the pen written.
        const char *pen = k == "remap" ? "1" : k == "pentag" ? "3" : "2";
        EXPECT_EQ(lines[k + "_read"], std::string("0 ") + pen);
    }
}

// The resource monitor without layers: a display of its own whose picture
// holds the text, one topaz line for every registered type and the three
// layer and sprite lines, white on black. A second opening changes nothing;
// closing frees the display.
TEST(TextOutput, TheResourceMonitorShowsItsTextOnADisplayOfItsOwn)
{
    const int DISPLAYS = 21, ATTRCOUNT = 60, SNAP_DISPLAY = 1, PNG = 1;
    lvScratchDir dir;
    lvAppletScript s;
    s.Case("before", "getattribute", {DISPLAYS, 0, ATTRCOUNT});
    s.Case("open", "openresourcemonitor", {});
    s.Case("after", "getattribute", {DISPLAYS, 0, ATTRCOUNT});
    s.Keep("ids", "ids", "getobjects", {DISPLAYS});
    s.Line("getglobal r20 \"ids\"\ngettable r21 r20 1\nsetglobal r21 \"mon\"");
    s.Case("sel", "selectdisplay", {"@mon"});
    s.Case("snap", "savesnapshot", {Str(dir.File("mon.png")), SNAP_DISPLAY, PNG});
    s.Case("back", "selectdisplay", {1});
    s.Case("open2", "openresourcemonitor", {Fields({{"fontsize", 12}})});
    s.Case("after2", "getattribute", {DISPLAYS, 0, ATTRCOUNT});
    s.Case("close", "closeresourcemonitor", {});
    s.Case("gone", "haveobject", {DISPLAYS, "@mon"});
    s.Case("after3", "getattribute", {DISPLAYS, 0, ATTRCOUNT});
    s.Case("close2", "closeresourcemonitor", {});
    int exitCode = -1;
    std::string all;
    auto lines = RunAppletScript(dir, s, "", &exitCode, &all);
    ASSERT_EQ(exitCode, 0) << all;
    for (const char *key : {"open", "sel", "snap", "back", "open2", "close", "close2"})
        EXPECT_EQ(lines[key].substr(0, 1), "0") << key << ": " << all;
    int before = std::stoi(lines["before"].substr(2));
    EXPECT_EQ(lines["after"], "0 " + std::to_string(before + 1)) << all;
    EXPECT_EQ(lines["after2"], "0 " + std::to_string(before + 1)) << all;
    EXPECT_EQ(lines["gone"], "0 0") << all;  // false
    EXPECT_EQ(lines["after3"], "0 " + std::to_string(before)) << all;
    Picture p = ReadPicture(dir.File("mon.png"));
    ASSERT_EQ(p.width, 200) << all;
    ASSERT_GT(p.height, 0);
    ASSERT_EQ(p.height % 8, 0);
    // Every band of 8 rows is a line of text: white glyph pixels on black,
    // each line beginning with a capital at the left edge.
    for (int band = 0; band < p.height / 8; band++) {
        int white = 0, leftInk = 0;
        for (int y = band * 8; y < band * 8 + 8; y++)
            for (int x = 0; x < p.width; x++) {
                uint32_t c = p.At(x, y);
                ASSERT_TRUE(c == 0 || c == 0xFFFFFF) << x << "," << y << ": " << std::hex << c;
                white += c != 0;
                if (c && x < 8) leftInk++;
            }
        EXPECT_GT(white, 20) << "line " << band;
        EXPECT_GT(leftInk, 0) << "line " << band;
    }
}

// TextOut turned by the "rotate" draw tag: a quarter turn (anticlockwise on
// screen, as brushes turn) about the text's origin, exact in topaz.
TEST(TextOutput, TheRotateTagTurnsTextAboutItsOrigin)
{
    lvScratchDir dir;
    lvAppletScript s;
    Drawn(s, 1, 12, 24, [&] { s.Case("turned", "textout", {2, 20, Str("Hi"), Fields({{"rotate", 90}})}); });
    int exitCode = -1;
    std::string all;
    auto lines = RunAppletScript(dir, s, "", &exitCode, &all);
    ASSERT_EQ(exitCode, 0) << all;
    EXPECT_EQ(lines["turned"].substr(0, 2), "0 ") << all;
    // "Hi" is 16 x 8 at the origin; turned, column c of it becomes row
    // 20 - 16 + (15 - c) and its row r column 2 + r.
    lvBits flat = TopazText("Hi", 16, 8), want(12, 24);
    for (int r = 0; r < 8; r++)
        for (int c = 0; c < 16; c++)
            if (flat.At(c, r)) want.Set(2 + r, 4 + (15 - c));
    ExpectPixels(ReadPicture(dir.File("b1.png")), {{want, 0xFFFFFF}}, "turned");
}

// A text object drawn with draw tags is filtered and faded as a brush is: "filters" work
// on a copy of its picture, "transparency" mixes it with what lies below.
TEST(TextOutput, TextObjectsTakeFiltersAndTransparency)
{
    lvScratchDir dir;
    lvAppletScript s;
    s.Case("tobj", "createtextobject", {1, Str("Hi")});
    auto onBlue = [&](int id, const std::string &key, lvAppletArg tags) {
        std::string b = "b" + std::to_string(id);
        s.Case(b + "make", "createbrush", {id, 24, 12, 0x0000FF});
        s.Case(b + "sel", "selectbrush", {id});
        s.Case(key, "displaytextobject", {1, 0, 0, tags});
        s.Case(b + "end", "endselect", {});
        s.Case(b + "save", "savebrush", {id, Str(b + ".png"), -1, 1});
    };
    onBlue(2, "plain", Fields({}));
    onBlue(3, "inverted", Fields({{"filters", List({Fields({{"name", Str("invert")}})})}}));
    onBlue(4, "faded", Fields({{"transparency", 128}}));
    onBlue(5, "gone", Fields({{"transparency", 255}}));
    int exitCode = -1;
    std::string all;
    auto lines = RunAppletScript(dir, s, "", &exitCode, &all);
    ASSERT_EQ(exitCode, 0) << all;
    for (const char *key : {"plain", "inverted", "faded", "gone"}) EXPECT_EQ(lines[key].substr(0, 2), "0 ") << key;
    lvBits hi = TopazText("Hi", 24, 12), everything(24, 12);
    for (int y = 0; y < 12; y++)
        for (int x = 0; x < 24; x++) everything.Set(x, y);
    ExpectPixels(ReadPicture(dir.File("b2.png")), {{hi, 0xFFFFFF}, {everything, 0x0000FF}}, "plain");
    // White inverted is black.
    ExpectPixels(ReadPicture(dir.File("b3.png")), {{hi, 0x000000}, {everything, 0x0000FF}}, "inverted");
    ExpectPixels(ReadPicture(dir.File("b5.png")), {{everything, 0x0000FF}}, "transparency 255");
    // Half of the white over the blue.
    Picture faded = ReadPicture(dir.File("b4.png"));
    ASSERT_EQ(faded.width, 24);
    for (int y = 0; y < 12; y++)
        for (int x = 0; x < 24; x++) {
            uint32_t c = faded.At(x, y);
            if (!hi.At(x, y)) {
                ASSERT_EQ(c, 0x0000FFu) << x << "," << y;
                continue;
            }
            int red = int(c >> 16), green = int(c >> 8 & 0xFF), blue = int(c & 0xFF);
            EXPECT_NEAR(red, 127, 2) << x << "," << y;
            EXPECT_EQ(green, red) << x << "," << y;
            EXPECT_EQ(blue, 255) << x << "," << y;
        }
}

// ExtractPalette of a font: a colour Amiga font gives its pens (12-bit colours widened),
// its depth and transparent pen 0; a monochrome one has no palette.
TEST(TextPalettes, ExtractPaletteOfFonts)
{
    lvScratchDir dir;
    amiga::Font colour = amiga::OneCharacter(2, 3, 1, 'a', {{"154", "0.5"}, {"1", "4"}});
    colour.colour = true;
    colour.depth = 3;
    colour.planePick = 0b111;
    colour.colours = {0x000, 0xF00, 0x0F0, 0x00F, 0x123, 0xFFF};
    amiga::Font mono = amiga::OneCharacter(2, 3, 1, 'a', {{"##", ".#"}, {"#", "#"}});
    ASSERT_EQ(std::system(("mkdir -p '" + dir.File("fonts/col") + "' '" + dir.File("fonts/mono") + "'").c_str()), 0);
    auto write = [](const std::string &path, const amiga::Bytes &bytes) {
        FILE *out = std::fopen(path.c_str(), "wb");
        std::fwrite(bytes.data(), 1, bytes.size(), out);
        std::fclose(out);
    };
    write(dir.File("fonts/col.font"), amiga::Contents({{"col/2", 2}}));
    write(dir.File("fonts/col/2"), amiga::SizeFile(colour));
    write(dir.File("fonts/mono.font"), amiga::Contents({{"mono/2", 2}}));
    write(dir.File("fonts/mono/2"), amiga::SizeFile(mono));

    const int FONT = 43, PALETTE = 62;
    lvAppletScript s;
    s.Case("path", "addfontpath", {Str(dir.File("fonts"))});
    s.Case("col", "openfont", {1, Str("col"), 2});
    s.Case("mono", "openfont", {2, Str("mono"), 2});
    s.Case("extract", "extractpalette", {5, FONT, 1});
    s.Case("depth", "getattribute", {PALETTE, 5, 103});
    s.Case("tpen", "getattribute", {PALETTE, 5, 105});
    const std::vector<uint32_t> want = {0x000000, 0xFF0000, 0x00FF00, 0x0000FF, 0x112233, 0xFFFFFF};
    for (size_t i = 0; i < want.size(); i++) s.Case("pen" + std::to_string(i), "getpalettepen", {5, int(i)});
    s.Keep("h", "handle", "extractpalette", {"nil", FONT, 1});
    s.Case("hdepth", "getattribute", {PALETTE, "@h", 103});
    s.Case("nopens", "extractpalette", {6, FONT, 2});
    s.Case("nofont", "extractpalette", {6, FONT, 99});
    s.Case("badtype", "extractpalette", {6, 99, 1});
    int exitCode = -1;
    std::string all;
    auto lines = RunAppletScript(dir, s, "", &exitCode, &all);
    ASSERT_EQ(exitCode, 0) << all;
    std::map<std::string, std::string> expected = {
        {"col", "0 Nil"},        {"mono", "0 Nil"},       {"extract", "0 Nil"},     {"depth", "0 3"},
        {"tpen", "0 0"},         {"handle", "0"},         {"hdepth", "0 3"},        {"nopens", "1644 Nil"},
        {"nofont", "1334 Nil"},  {"badtype", "1055 Nil"},
    };
    for (size_t i = 0; i < want.size(); i++) expected["pen" + std::to_string(i)] = "0 " + std::to_string(want[i]);
    for (const auto &[key, value] : expected) EXPECT_EQ(lines[key], value) << key << "\n" << all;
}

}  // namespace

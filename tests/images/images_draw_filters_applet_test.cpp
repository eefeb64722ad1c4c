// images_draw_filters_applet_test.cpp - the "filters" and "transparency" draw tags on
// boxes, circles, lines and paths as an applet draws them into selected brushes: the
// pixels read back against values worked out here (grayscale takes red to 0x4C4C4C, as
// BrushToGray does).
#include <gtest/gtest.h>

#include <sstream>

#include "tests/images/images_applet.h"

namespace {

const int FILLCOLOR = 1, FORM_NORMAL = 1, FORM_ANTIALIAS = 16, ARROWHEAD_SINGLE = 1;
const unsigned RED = 0xFF0000, GREY = 0x4C4C4C;

lvAppletArg Filter(const char *name) { return Fields({{"filters", List({Fields({{"name", Str(name)}})})}}); }

std::map<std::string, std::string> RunDraw(const lvAppletScript &s, std::string *all)
{
    lvScratchDir dir;
    int exitCode = -1;
    auto lines = RunAppletScript(dir, s, "", &exitCode, all);
    EXPECT_EQ(exitCode, 0) << *all;
    return lines;
}

std::vector<long long> Numbers(const std::string &line)
{
    std::istringstream in(line);
    std::vector<long long> v;
    for (long long n; in >> n;) v.push_back(n);
    return v;
}

// A plain box into a brush used to be written straight into it, unfiltered; with a
// filter or a style transparency it is rendered, filtered and blitted. Each shape and
// line kind takes the filter the same way.
TEST(DrawFiltersApplet, FiltersAndTransparencyReachBoxesLinesAndPaths)
{
    lvAppletScript s;
    s.Case("fill", "setfillstyle", {FILLCOLOR});
    s.Case("mk", "createbrush", {1, 40, 40, 0});
    s.Case("sel", "selectbrush", {1});
    s.Case("box", "box", {2, 2, 6, 4, RED, Filter("grayscale")});
    s.Case("invert", "box", {10, 2, 4, 4, RED, Filter("invert")});
    // The tags' transparency: an invisible box, and one at opacity 204 over black, which
    // the blit's lerp makes (204 x 255) >> 8 = 203 = 0xCB.
    s.Case("faded", "box", {20, 2, 4, 4, RED, Fields({{"transparency", 255}})});
    s.Case("half", "box", {26, 2, 4, 4, RED, Fields({{"transparency", 51}})});
    // One pixel thick, from (2, 14) down to (11, 23); flipped across its own box it runs
    // from (11, 14) down to (2, 23). The coverage shortcut carries the flip.
    s.Case("flipline", "line", {2, 14, 11, 23, RED, Filter("xflip")});
    // Thick lines: the general image path, and the arrowed polygon (its head reaches back
    // to x 18; the shaft is y 30..34 before it).
    lvAppletArg greyFilter = List({Fields({{"name", Str("grayscale")}})});
    s.Case("thick", "line", {20, 12, 36, 12, RED, Fields({{"thickness", 3}, {"filters", greyFilter}})});
    s.Case("arrow", "line",
           {0, 32, 38, 32, RED, Fields({{"thickness", 2}, {"arrowhead", ARROWHEAD_SINGLE}, {"filters", greyFilter}})});
    std::vector<lvPixelProbe> probes = {
        {"box_in", 2, 2, GREY},      {"box_in2", 7, 5, GREY},        {"box_out", 8, 5, 0},      {"box_out2", 1, 2, 0},
        {"inv_in", 10, 2, 0x00FFFF}, {"inv_in2", 13, 5, 0x00FFFF},   {"inv_out", 14, 2, 0},     {"faded_in", 21, 3, 0},
        {"half_in", 27, 3, 0xCB0000}, {"half_out", 30, 3, 0},
        {"flip_a", 11, 14, RED},     {"flip_b", 2, 23, RED},         {"flip_c", 6, 19, RED},    {"flip_was", 2, 14, 0},
        {"flip_was2", 11, 23, 0},    {"flip_was3", 6, 18, 0},        {"thick_mid", 28, 12, GREY},
        {"thick_start", 21, 12, GREY}, {"thick_above", 28, 9, 0},    {"arrow_shaft", 5, 32, GREY},
        {"arrow_head", 30, 32, GREY}, {"arrow_out", 5, 37, 0},
    };
    ReadProbes(s, probes);
    s.Case("end", "endselect", {});
    // A path drawn as a shape job.
    s.Case("mk2", "createbrush", {2, 20, 20, 0});
    s.Case("sel2", "selectbrush", {2});
    s.Case("start", "startpath", {1});
    s.Case("pbox", "addboxtopath", {1, 0, 0, 10, 6});
    s.Case("draw", "drawpath", {1, 5, 7, RED, Filter("grayscale")});
    std::vector<lvPixelProbe> path = {
        {"path_in", 5, 7, GREY}, {"path_in2", 14, 12, GREY}, {"path_right", 15, 12, 0}, {"path_below", 14, 13, 0},
    };
    ReadProbes(s, path);
    s.Case("end2", "endselect", {});

    std::string all;
    auto lines = RunDraw(s, &all);
    for (const char *k : {"box", "invert", "faded", "half", "flipline", "thick", "arrow", "draw"})
        EXPECT_EQ(Code(lines[k]), "0") << k << "\n" << all;
    CheckProbes(lines, probes);
    CheckProbes(lines, path);
}

// An anti-aliased red circle with a grayscale filter: every pixel is grey, and each edge
// pixel is the grey of the red the same circle leaves on black when a filter that changes
// nothing (modulate at 100 %) sends it down the same image path, within a step of
// rounding. A colour filter cannot use the coverage shortcut, so both are RGB sets.
TEST(DrawFiltersApplet, AntiAliasedCircleIsGreyWithTheSameEdges)
{
    lvAppletScript s;
    s.Case("fill", "setfillstyle", {FILLCOLOR});
    s.Case("aa", "setformstyle", {FORM_ANTIALIAS});
    for (int id : {1, 2}) {
        std::string n = std::to_string(id);
        s.Case("mk" + n, "createbrush", {id, 9, 9, 0});
        s.Case("sel" + n, "selectbrush", {id});
        if (id == 1) s.Case("plain", "circle", {1, 1, 3, RED, Filter("modulate")});
        else s.Case("grey", "circle", {1, 1, 3, RED, Filter("grayscale")});
        s.Case("end" + n, "endselect", {});
    }
    s.Case("normal", "setformstyle", {FORM_NORMAL});
    std::vector<int> all81;
    for (int i = 0; i < 81; i++) all81.push_back(i);
    s.Case("px1", "brushtorgbarray", {1}, 1, all81);
    s.Case("px2", "brushtorgbarray", {2}, 1, all81);

    std::string all;
    auto lines = RunDraw(s, &all);
    ASSERT_EQ(Code(lines["grey"]), "0") << all;
    std::vector<long long> plain = Numbers(lines["px1"]), grey = Numbers(lines["px2"]);
    ASSERT_EQ(plain.size(), 82u) << all;
    ASSERT_EQ(grey.size(), 82u);
    int edges = 0;
    for (int i = 1; i <= 81; i++) {
        unsigned p = unsigned(plain[i]) & 0xFFFFFF, g = unsigned(grey[i]) & 0xFFFFFF;
        ASSERT_EQ(p & 0xFFFF, 0u) << "the plain circle is red on black, pixel " << i - 1;
        unsigned red = p >> 16, r = g >> 16;
        EXPECT_EQ(g, r * 0x010101u) << "grey, pixel " << i - 1;
        EXPECT_NEAR(double(r), 0x4C * red / 255.0, 1.0) << "pixel " << i - 1;
        edges += red > 0 && red < 255;
    }
    EXPECT_GT(edges, 0) << "the circle has anti-aliased edges";
    EXPECT_EQ(unsigned(grey[1 + 4 * 9 + 4]) & 0xFFFFFF, GREY);
}


// On the display itself a plain box and a one-pixel line would be written straight into
// its window and buffers; with a filter both are rendered, filtered and blitted, and the
// unfiltered ones beside them still take the straight road with their own colour.
TEST(DrawFiltersApplet, TheDisplaysStraightRoadsTakeNoFilteredShape)
{
    lvAppletScript s;
    s.Case("fill", "setfillstyle", {FILLCOLOR});
    s.Case("box", "box", {2, 2, 6, 4, RED, Filter("grayscale")});
    s.Case("plainbox", "box", {10, 2, 4, 4, RED});
    s.Case("line", "line", {2, 10, 20, 10, RED, Filter("grayscale")});
    s.Case("plainline", "line", {2, 12, 20, 12, RED});
    std::vector<lvPixelProbe> probes = {
        {"box_in", 2, 2, GREY},       {"box_in2", 7, 5, GREY},       {"plainbox_in", 12, 3, RED},
        {"line_a", 2, 10, GREY},      {"line_b", 20, 10, GREY},      {"line_off", 21, 10, 0},
        {"plainline_a", 2, 12, RED},  {"plainline_b", 20, 12, RED},
    };
    ReadProbes(s, probes);
    std::string all;
    auto lines = RunDraw(s, &all);
    for (const char *k : {"box", "plainbox", "line", "plainline"}) EXPECT_EQ(Code(lines[k]), "0") << k << "\n" << all;
    CheckProbes(lines, probes);
}


// On a Gray256 palette brush in remap mode a shape is a pen plane over a copy of the
// brush's palette, and a colour filter changes that copy: red takes its nearest grey,
// pen 85 (the least (255 - g)^2 + 2 g^2), inverted that pen shows 0xAAAAAA, and the blit
// remaps it to the pen of that grey, 170 (the blit's colour lookup may land a step away).
TEST(DrawFiltersApplet, PaletteBrushTakesThePenOfTheFilteredColour)
{
    const int PALETTE_GRAY256 = -986, REMAPMODE = 1, PENMODE = 0;
    lvAppletScript s;
    s.Case("fill", "setfillstyle", {FILLCOLOR});
    s.Case("mode", "setpalettemode", {REMAPMODE});
    s.Case("mk", "createbrush", {1, 20, 20, Fields({{"palette", PALETTE_GRAY256}})});
    s.Case("sel", "selectbrush", {1});
    s.Case("box", "box", {2, 2, 4, 4, RED, Filter("invert")});
    s.Case("plain", "box", {10, 2, 4, 4, RED});
    s.Case("circle", "circle", {2, 10, 3, RED, Filter("invert")});
    s.Case("gone", "box", {14, 10, 4, 4, RED, Fields({{"transparency", 255}})});
    s.Case("gone_pen", "readpixel", {15, 11});
    s.Case("box_pen", "readpixel", {3, 3});
    s.Case("plain_pen", "readpixel", {11, 3});
    s.Case("circle_pen", "readpixel", {5, 13});
    s.Case("end", "endselect", {});
    s.Case("restore", "setpalettemode", {PENMODE});
    std::string all;
    auto lines = RunDraw(s, &all);
    for (const char *k : {"box", "plain", "circle"}) EXPECT_EQ(Code(lines[k]), "0") << k << "\n" << all;
    EXPECT_EQ(lines["plain_pen"], "0 85") << all;
    // The tags' transparency reaches pen planes too: an invisible box leaves pen 0.
    EXPECT_EQ(Code(lines["gone"]), "0");
    EXPECT_EQ(lines["gone_pen"], "0 0");
    for (const char *k : {"box_pen", "circle_pen"}) {
        std::vector<long long> v = Numbers(lines[k]);
        ASSERT_EQ(v.size(), 2u) << k << ": " << lines[k];
        EXPECT_EQ(v[0], 0) << k;
        EXPECT_NEAR(double(v[1]), 170.0, 1.0) << k;
    }
}

}  // namespace

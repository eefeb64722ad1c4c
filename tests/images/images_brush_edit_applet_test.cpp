// images_brush_edit_applet_test.cpp - the brush geometry, transparency, pixel and table
// commands as an applet calls them, results read back with BrushToRGBArray and
// ReadBrushPixel and compared pixel for pixel.
#include <gtest/gtest.h>

#include <set>
#include <sstream>

#include "tests/images/images_applet.h"

namespace {

const int BRUSH = 3, MASK = 28, ALPHACHANNEL = 30;

TEST(BrushEditApplet, GeometryTransparencyPixelsAndTables)
{
    lvScratchDir dir;
    lvAppletScript s;
    auto words = [&](const std::string &key, int id, int count, lvAppletArg invert = 0) {
        std::vector<int> items;
        for (int i = 0; i < count; i++) items.push_back(i);
        s.Case(key, "brushtorgbarray", {id, invert}, 1, items);
    };
    // Scale repeats pixels; the same size changes nothing.
    s.Case("mk1", "rgbarraytobrush", {1, List({0xFFFF0000u, 0xFF00FF00u, 0xFF0000FFu, 0xFFFFFFFFu}), 4, 1});
    s.Case("scale", "scalebrush", {1, 8, 1});
    words("scaled", 1, 8);
    s.Case("same", "scalebrush", {1, 8, 1});
    // Crop: cut at the edge; the corner must lie inside.
    s.Case("mk2", "createbrush", {2, 100, 100});
    s.Case("crop", "cropbrush", {2, 10, 10, 1000, 1000});
    s.Case("cropw", "getattribute", {BRUSH, 2, 0});
    s.Case("croph", "getattribute", {BRUSH, 2, 1});
    s.Case("cropx", "cropbrush", {2, 90, 0, 1, 1});
    s.Case("cropneg", "cropbrush", {2, -5, 0, 1, 1});
    // Trim to one visible pixel; an opaque brush stays as it is.
    s.Case("mk3", "createbrush", {3, 10, 10, 0, Fields({{"alphachannel", 1}, {"clear", 1}})});
    s.Case("dot", "writebrushpixel", {3, 5, 7, 0x0000FF, 255});
    s.Case("trim", "trimbrush", {3}, 2);
    s.Case("trimw", "getattribute", {BRUSH, 3, 0});
    s.Case("trimopaque", "trimbrush", {2}, 2);
    // Extend a masked brush with a clear and an opaque strip.
    s.Case("mk4", "createbrush", {4, 1, 1, 0x00FF00, Fields({{"mask", 1}})});
    s.Case("extclear", "extendbrush", {4, 1, 0, 0, 0, Fields({{"clear", 1}, {"color", 0x123456}})});
    s.Case("extopaque", "extendbrush", {4, 0, 0, 1, 0, Fields({{"color", 0x123456}})});
    words("extended", 4, 3);
    s.Case("extneg", "extendbrush", {4, -1, 0, 0, 0});
    // Alpha 254 everywhere becomes an all-clear mask.
    s.Case("mk5", "createbrush", {5, 2, 2, 0, Fields({{"alphachannel", 1}})});
    s.Case("reduce", "reducealphachannel", {5, 254});
    s.Case("tomask", "changebrushtransparency", {5, MASK});
    s.Case("empty", "isbrushempty", {5});
    s.Case("hasalpha", "getattribute", {BRUSH, 5, 17});
    s.Case("badmode", "changebrushtransparency", {5, 3});
    s.Case("delmask", "deletemask", {5});
    s.Case("notempty", "isbrushempty", {5});
    // Copies.
    s.Case("copyself", "copybrush", {1, 1});
    s.Case("copy", "copybrush", {1, 6});
    s.Case("flip", "flipbrush", {6, 1});
    words("flipped", 6, 8);
    words("original", 1, 2);
    // Pixels.
    s.Case("outside", "readbrushpixel", {1, -1, 0}, 2);
    s.Case("mk7", "createbrush", {7, 2, 1, 0, Fields({{"mask", 1}})});
    s.Case("wmask", "writebrushpixel", {7, 0, 0, 0xFF0000, 0});
    s.Case("rmask", "readbrushpixel", {7, 0, 0}, 2);
    s.Case("mk8", "createbrush", {8, 1, 1, 0, Fields({{"alphachannel", 1}})});
    s.Case("walpha", "writebrushpixel", {8, 0, 0, 0x00FF00, 128});
    s.Case("ralpha", "readbrushpixel", {8, 0, 0}, 2);
    // Colour tables, inverted and through an alpha channel.
    s.Case("mk9", "rgbarraytobrush", {9, List({0xFFFF0000u, 0xFF0000FFu}), 2, 1, ALPHACHANNEL});
    words("argb", 9, 2);
    words("inverted", 9, 2, 1);
    s.Case("mk10", "rgbarraytobrush", {10, List({0x00FF0000u, 0x000000FFu}), 2, 1, ALPHACHANNEL, 1});
    words("back", 10, 2);
    s.Case("short", "rgbarraytobrush", {11, List({1, 2, 3}), 2, 2});
    s.Case("short11", "getattribute", {BRUSH, 11, 0});
    s.Case("zero", "rgbarraytobrush", {11, List({1}), 0, 1});
    // Pen tables.
    s.Case("pens", "penarraytobrush", {12, List({0, 3, 1}), 3, 1});
    s.Case("pendepth", "getattribute", {BRUSH, 12, 103});
    s.Case("penback", "brushtopenarray", {12}, 1, {0, 1, 2});
    s.Case("penpixel", "readbrushpixel", {12, 1, 0}, 2);
    s.Case("pen256", "penarraytobrush", {13, List({0, 256}), 2, 1});
    s.Case("rgbpens", "brushtopenarray", {1});
    s.Case("penwrite", "writebrushpixel", {12, 0, 0, 4});
    // Grey and invert.
    s.Case("mk14", "createbrush", {14, 1, 1, 0xFF0000});
    s.Case("gray", "brushtogray", {14});
    s.Case("grayread", "readbrushpixel", {14, 0, 0}, 2);
    s.Case("invert", "invertbrush", {14});
    s.Case("invertread", "readbrushpixel", {14, 0, 0}, 2);

    // Pens, palettes and depths of palette brushes.
    s.Case("p20", "penarraytobrush", {20, List({0, 200, 15, 16}), 4, 1});
    s.Case("p20depth", "getattribute", {BRUSH, 20, 103});
    s.Case("clip", "setbrushdepth", {20, 4, Fields({{"remap", 0}, {"clippen", 3}})});
    s.Case("clipped", "brushtopenarray", {20}, 1, {0, 1, 2, 3});
    s.Case("clipdepth", "getattribute", {BRUSH, 20, 103});
    s.Case("badclip", "setbrushdepth", {20, 2, Fields({{"remap", 0}, {"clippen", 4}})});
    s.Case("depth9", "setbrushdepth", {20, 9, Fields({{"remap", 0}})});
    s.Case("pal8", "createpalette", {30, List({0x111111}), Fields({{"depth", 8}})});
    s.Case("pal4", "createpalette", {31, List({0x111111}), Fields({{"depth", 4}})});
    s.Case("onto4", "setbrushpalette", {20, 30});
    s.Case("onto4depth", "getattribute", {BRUSH, 20, 103});
    s.Case("onto8", "setbrushpalette", {20, 31});
    std::vector<lvAppletArg> sixteen;
    for (int i = 0; i < 16; i++) sixteen.push_back(i);
    s.Case("p22", "penarraytobrush", {22, List(sixteen), 4, 4});
    s.Case("select", "selectpalette", {BRUSH, 22});
    s.Case("free", "getfreepen", {});
    s.Case("readneg", "readpen", {-1, 0});
    s.Case("readfar", "readpen", {100, 0});
    s.Case("readin", "readpen", {1, 0});
    s.Case("writenegpen", "writepen", {0, 0, -1});
    s.Case("writeneg", "writepen", {-1, 0, 1});
    s.Case("setpen", "setbrushpen", {22, 2, 0x123456});
    s.Case("getpen", "getbrushpen", {22, 2});
    s.Case("getpen16", "getbrushpen", {22, 16});
    s.Case("tpen16", "setbrushtransparentpen", {22, 16});
    s.Case("tpen", "setbrushtransparentpen", {22, 5});
    // A palette BGPic as the palette target: pens and pixels of its base set.
    s.Case("bg70", "brushtobgpic", {22, 70});
    s.Case("selectbg", "selectpalette", {1, 70});
    s.Case("bgwrite", "writepen", {0, 0, 9});
    s.Case("bgread", "readpen", {0, 0});
    s.Case("bgfree", "getfreepen", {});
    s.Case("bgsetpen", "setpen", {9, 0x0A0B0C});
    s.Case("bgtpen", "settransparentpen", {9});
    s.Case("bgback", "bgpictobrush", {70, 71});
    s.Case("bgbackpx", "brushtorgbarray", {71}, 1, {0, 1});
    s.Case("bgdepth", "setdepth", {2, Fields({{"remap", 0}, {"clippen", 1}})});
    s.Case("bgclipped", "readpen", {0, 1});
    s.Case("removergb", "removebrushpalette", {1});
    s.Case("remove", "removebrushpalette", {22});
    s.Case("removed", "getattribute", {BRUSH, 22, 103});
    s.Case("removedpx", "brushtorgbarray", {22}, 1, {2, 5});

    // Effects: pens of a palette brush, checks before any change, new sizes.
    s.Case("p40", "penarraytobrush", {40, List({0, 1}), 2, 1});
    s.Case("tintpal", "tintbrush", {40, 0xFF0000, 255});
    s.Case("tintpens", "brushtopenarray", {40}, 1, {0, 1});
    s.Case("tintcolour", "getbrushpen", {40, 1});
    s.Case("sepiapal", "sepiatonebrush", {40, 10});
    s.Case("mk41", "createbrush", {41, 4, 2, 0x102030});
    s.Case("pix0", "pixelatebrush", {41, 0});
    s.Case("pix2", "pixelatebrush", {41, 2});
    s.Case("pix3", "pixelatebrush", {41, 3});
    s.Case("nomask", "invertmask", {41});
    s.Case("contrast0", "contrastbrush", {41, 1, 0});
    s.Case("modneg", "modulatebrush", {41, -1, 1, 1});
    s.Case("blurneg", "blurbrush", {41, -1});
    s.Case("persp", "perspectivedistortbrush", {41, 0, 0, 4, 0, 0, 2, 4, 2});
    s.Case("perspw", "getattribute", {BRUSH, 41, 0});
    s.Case("persph", "getattribute", {BRUSH, 41, 1});
    s.Case("mk42", "createbrush", {42, 3, 1, 0, Fields({{"mask", 1}})});
    s.Case("invmask", "invertmask", {42});
    s.Case("invmaskempty", "isbrushempty", {42});

    // ReplaceColors: pairs in order; an odd count changes nothing.
    s.Case("mk43", "createbrush", {43, 1, 1, 0xFF0000});
    s.Case("replace", "replacecolors", {43, List({0xFF0000, 0x00FF00, 0x00FF00, 0x0000FF})});
    s.Case("replaced43", "readbrushpixel", {43, 0, 0}, 2);
    s.Case("replaceodd", "replacecolors", {43, List({0x0000FF, 1, 2})});
    s.Case("replaceodd43", "readbrushpixel", {43, 0, 0}, 2);
    // FloodFill: the start value's area, an enclosed area, alpha values and their ranges.
    s.Case("mk44", "rgbarraytobrush", {44, List({0xFFFF0000u, 0xFF000000u, 0xFFFF0000u, 0xFF000000u}), 4, 1});
    s.Case("fillsame", "floodfill", {44, 0, 0, -1, 0x00FF00});
    s.Case("fillborder", "floodfill", {44, 1, 0, 0xFF0000, 0x0000FF});
    words("filled", 44, 4);
    s.Case("fillnoalpha", "floodfill", {44, 0, 0, -1, 5, Fields({{"alphachannel", 1}})});
    s.Case("fillout", "floodfill", {44, 4, 0, -1, 5});
    s.Case("mk45", "createbrush", {45, 2, 1, 0, Fields({{"alphachannel", 1}})});
    s.Case("fillalpha300", "floodfill", {45, 0, 0, 300, 5, Fields({{"alphachannel", 1}})});
    s.Case("fillalpha", "floodfill", {45, 0, 0, -1, 7, Fields({{"alphachannel", 1}})});
    s.Case("fillalphapx", "readbrushpixel", {45, 1, 0}, 2);
    // A border around an opaque brush is an opaque block of the colour.
    s.Case("mk80", "createbrush", {80, 10, 10, 0x102030});
    s.Case("border", "createborderbrush", {81, 80, 0xFFFFFF, 3});
    s.Case("borderw", "getattribute", {BRUSH, 81, 0});
    s.Case("borderalpha", "getattribute", {BRUSH, 81, 17});
    s.Case("borderpx", "brushtorgbarray", {81}, 1, {0, 136, 255});
    s.Case("bordersize", "createborderbrush", {82, 80, 0xFFFFFF, 0});
    s.Case("shadow", "createshadowbrush", {83, 80, 0});
    s.Case("shadowalpha", "getattribute", {BRUSH, 83, 17});
    // Quarter turns and matrices; mask from a colour key; alpha channel commands.
    s.Case("mk90", "rgbarraytobrush", {90, List({0xFFFF0000u, 0xFF00FF00u}), 2, 1});
    s.Case("rot", "rotatebrush", {90, 90});
    s.Case("rotw", "getattribute", {BRUSH, 90, 0});
    words("rotpx", 90, 2);
    s.Case("rotscale0", "rotatebrush", {90, 90, 0});
    s.Case("tf0", "transformbrush", {90, 0, 0, 0, 1});
    s.Case("tf", "transformbrush", {90, -1, 0, 0, -1});
    s.Case("mk91", "rgbarraytobrush", {91, List({0xFFFF0000u, 0xFF00FF00u}), 2, 1});
    s.Case("key", "setbrushtransparency", {91, 0xFF0000});
    words("keyed", 91, 2);
    s.Case("keyalpha", "changebrushtransparency", {91, ALPHACHANNEL});
    s.Case("invalpha", "invertalphachannel", {91});
    words("invalphapx", 91, 2);
    s.Case("delalpha", "deletealphachannel", {91});
    s.Case("delalphahas", "getattribute", {BRUSH, 91, 17});
    s.Case("noalphainv", "invertalphachannel", {91});
    s.Case("reducenone", "reducealphachannel", {91, 10});
    s.Case("keypal", "setbrushtransparency", {40, 0});
    s.Case("raster0", "rasterizebrush", {91});
    s.Case("convanim", "converttobrush", {4, 1, 92});
    // Conversions: independent copies, a BGPic and back, pixel for pixel.
    s.Case("convself", "converttobrush", {BRUSH, 1, 1});
    s.Case("conv", "converttobrush", {BRUSH, 1, 50});
    s.Case("convflip", "flipbrush", {50, 1});
    words("convorig", 1, 2);
    s.Case("convlayer", "converttobrush", {22, 1, 51});
    s.Case("tobgpic", "brushtobgpic", {1, 60});
    s.Case("back2", "bgpictobrush", {60, 51});
    words("back2px", 51, 8);
    s.Case("link", "getbrushlink", {52, BRUSH, 9});
    words("linkpx", 52, 2);
    // A text object's picture, and layers named by name while layers are off.
    s.Case("mktext", "createtextobject", {1, Str("Hi")});
    s.Case("convtext", "converttobrush", {8, 1, 93});
    s.Case("convtextw", "getattribute", {BRUSH, 93, 0});
    s.Case("textw", "getattribute", {8, 1, 0});
    s.Case("convtextalpha", "getattribute", {BRUSH, 93, 17});
    s.Case("convtextnone", "converttobrush", {8, 2, 94});
    s.Case("convlayername", "converttobrush", {22, Str("sky"), 95});

    int exitCode = -1;
    std::string all;
    auto lines = RunAppletScript(dir, s, "", &exitCode, &all);
    ASSERT_EQ(exitCode, 0) << all;
    const std::map<std::string, std::string> expected = {
        {"mk1", "0 Nil"},
        {"scale", "0 Nil"},
        {"scaled", "0 4294901760 4294901760 4278255360 4278255360 4278190335 4278190335 4294967295 4294967295"},
        {"same", "0 Nil"},
        {"mk2", "0 Nil"},
        {"crop", "0 Nil"},
        {"cropw", "0 90"},
        {"croph", "0 90"},
        {"cropx", "1217 Nil"},
        {"cropneg", "1154 Nil"},
        {"mk3", "0 Nil"},
        {"dot", "0 Nil"},
        {"trim", "0 5 7"},
        {"trimw", "0 1"},
        {"trimopaque", "0 0 0"},
        {"mk4", "0 Nil"},
        {"extclear", "0 Nil"},
        {"extopaque", "0 Nil"},
        {"extended", "0 1193046 4278255360 4279383126"},
        {"extneg", "1154 Nil"},
        {"mk5", "0 Nil"},
        {"reduce", "0 Nil"},
        {"tomask", "0 Nil"},
        {"empty", "0 1"},
        {"hasalpha", "0 0"},
        {"badmode", "1055 Nil"},
        {"delmask", "0 Nil"},
        {"notempty", "0 0"},
        {"copyself", "1055 Nil"},
        {"copy", "0 Nil"},
        {"flip", "0 Nil"},
        {"flipped", "0 4294967295 4294967295 4278190335 4278190335 4278255360 4278255360 4294901760 4294901760"},
        {"original", "0 4294901760 4294901760"},
        {"outside", "0 4294967295 -1"},
        {"mk7", "0 Nil"},
        {"wmask", "0 Nil"},
        {"rmask", "0 16711680 0"},
        {"mk8", "0 Nil"},
        {"walpha", "0 Nil"},
        {"ralpha", "0 65280 128"},
        {"mk9", "0 Nil"},
        {"argb", "0 4294901760 4278190335"},
        {"inverted", "0 16711680 255"},
        {"mk10", "0 Nil"},
        {"back", "0 4294901760 4278190335"},
        {"short", "1448 Nil"},
        {"short11", "1174 Nil"},
        {"zero", "1218 Nil"},
        {"pens", "0 Nil"},
        {"pendepth", "0 2"},
        {"penback", "0 0 3 1"},
        {"penpixel", "0 3 0"},
        {"pen256", "1646 Nil"},
        {"rgbpens", "1644 Nil"},
        {"penwrite", "1646 Nil"},
        {"mk14", "0 Nil"},
        {"gray", "0 Nil"},
        {"grayread", "0 5000268 -1"},
        {"invert", "0 Nil"},
        {"invertread", "0 11776947 -1"},
        {"p40", "0 Nil"},
        {"tintpal", "0 Nil"},
        {"tintpens", "0 0 1"},
        {"tintcolour", "0 16711680"},
        {"sepiapal", "1645 Nil"},
        {"mk41", "0 Nil"},
        {"pix0", "1055 Nil"},
        {"pix2", "0 Nil"},
        {"pix3", "1055 Nil"},
        {"nomask", "1055 Nil"},
        {"contrast0", "1055 Nil"},
        {"modneg", "1055 Nil"},
        {"blurneg", "1055 Nil"},
        {"persp", "0 Nil"},
        {"perspw", "0 6"},
        {"persph", "0 4"},
        {"mk42", "0 Nil"},
        {"invmask", "0 Nil"},
        {"invmaskempty", "0 1"},
        {"mk43", "0 Nil"},
        {"replace", "0 Nil"},
        {"replaced43", "0 255 -1"},
        {"replaceodd", "1055 Nil"},
        {"replaceodd43", "0 255 -1"},
        {"mk44", "0 Nil"},
        {"fillsame", "0 Nil"},
        {"fillborder", "0 Nil"},
        {"filled", "0 4278190335 4278190335 4294901760 4278190080"},
        {"fillnoalpha", "1055 Nil"},
        {"fillout", "1217 Nil"},
        {"mk45", "0 Nil"},
        {"fillalpha300", "1646 Nil"},
        {"fillalpha", "0 Nil"},
        {"fillalphapx", "0 0 7"},
        {"mk80", "0 Nil"},
        {"border", "0 Nil"},
        {"borderw", "0 16"},
        {"borderalpha", "0 0"},
        {"borderpx", "0 4294967295 4294967295 4294967295"},
        {"bordersize", "1055 Nil"},
        {"shadow", "0 Nil"},
        {"shadowalpha", "0 1"},
        {"mk90", "0 Nil"},
        {"rot", "0 Nil"},
        {"rotw", "0 1"},
        {"rotpx", "0 4278255360 4294901760"},
        {"rotscale0", "1055 Nil"},
        {"tf0", "1055 Nil"},
        {"tf", "0 Nil"},

        {"mk91", "0 Nil"},
        {"key", "0 Nil"},
        {"keyed", "0 16711680 4278255360"},
        {"keyalpha", "0 Nil"},
        {"invalpha", "0 Nil"},
        {"invalphapx", "0 4294901760 65280"},
        {"delalpha", "0 Nil"},
        {"delalphahas", "0 0"},
        {"noalphainv", "1055 Nil"},
        {"reducenone", "1055 Nil"},
        {"keypal", "1645 Nil"},
        {"raster0", "1055 Nil"},
        {"convanim", "1176 Nil"},
        {"convtext", "0 Nil"},
        {"convtextalpha", "0 1"},
        {"convtextnone", "1175 Nil"},
        {"convlayername", "1078 Nil"},
        {"convself", "1055 Nil"},
        {"conv", "0 Nil"},
        {"convflip", "0 Nil"},
        {"convorig", "0 4294901760 4294901760"},
        {"convlayer", "1078 Nil"},
        {"tobgpic", "0 Nil"},
        {"back2", "0 Nil"},
        {"back2px", "0 4294901760 4294901760 4278255360 4278255360 4278190335 4278190335 4294967295 4294967295"},
        {"link", "0 Nil"},
        {"linkpx", "0 4294901760 4278190335"},
        {"p20", "0 Nil"},
        {"p20depth", "0 8"},
        {"clip", "0 Nil"},
        {"clipped", "0 0 3 15 3"},
        {"clipdepth", "0 4"},
        {"badclip", "1646 Nil"},
        {"depth9", "1650 Nil"},
        {"pal8", "0 Nil"},
        {"pal4", "0 Nil"},
        {"onto4", "0 Nil"},
        {"onto4depth", "0 8"},
        {"onto8", "1647 Nil"},
        {"p22", "0 Nil"},
        {"select", "0 Nil"},
        {"free", "0 16"},
        {"readneg", "0 -1"},
        {"readfar", "0 -1"},
        {"readin", "0 1"},
        {"writenegpen", "1646 Nil"},
        {"writeneg", "0 Nil"},
        {"setpen", "0 Nil"},
        {"getpen", "0 1193046"},
        {"getpen16", "1646 Nil"},
        {"tpen16", "1646 Nil"},
        {"tpen", "0 Nil"},
        {"bg70", "0 Nil"},
        {"selectbg", "0 Nil"},
        {"bgwrite", "0 Nil"},
        {"bgread", "0 9"},
        {"bgfree", "0 0"},
        {"bgsetpen", "0 Nil"},
        {"bgtpen", "0 Nil"},
        {"bgback", "0 Nil"},
        {"bgbackpx", "0 0 4278190080"},
        {"bgdepth", "0 Nil"},
        {"bgclipped", "0 1"},
        {"removergb", "1644 Nil"},
        {"remove", "0 Nil"},
        {"removed", "0 32"},
        {"removedpx", "0 4279383126 0"},
    };
    for (const auto &[key, value] : expected) EXPECT_EQ(lines[key], value) << key << "\n" << all;
    EXPECT_EQ(lines["convtextw"], lines["textw"]);
    EXPECT_NE(lines["textw"], "0 0");
}

}  // namespace

namespace {

// Drawing into a selected brush with draw tags; the target read back pixel for pixel.
TEST(BrushEditApplet, DisplayBrushWithTags)
{
    lvScratchDir dir;
    lvAppletScript s;
    auto px = [&](const std::string &key, int x, int y) { s.Case(key, "readbrushpixel", {1, x, y}, 2); };
    s.Case("target", "createbrush", {1, 60, 60, 0x000000});
    s.Case("red", "rgbarraytobrush", {2, List({0xFFFF0000u, 0xFF00FF00u, 0xFF0000FFu, 0xFFFFFFFFu}), 2, 2});
    s.Case("select", "selectbrush", {1});
    // Anchors 0.5 centre the 2 x 2 brush on (10, 10): it covers 9..10.
    s.Case("centre", "displaybrush", {2, 10, 10, Fields({{"anchorx", 0.5}, {"anchory", 0.5}})});
    // Twice as wide: each pixel twice.
    s.Case("wide", "displaybrush", {2, 20, 10, Fields({{"scalex", 2}})});
    // A filter greys the copy, never the brush.
    s.Case("grey", "displaybrush", {2, 30, 10, Fields({{"filters", List({Fields({{"name", Str("grayscale")}})})}})});
    // Transparency 255 draws nothing.
    s.Case("invisible", "displaybrush", {2, 40, 10, Fields({{"transparency", 255}})});
    // An exact quarter turn (counter-clockwise on the screen) at (5, 30).
    s.Case("turn", "displaybrush", {2, 5, 30, Fields({{"rotate", 90}})});
    s.Case("partx", "displaybrushpart", {2, 2, 0, 0, 0, 1, 1});
    s.Case("partneg", "displaybrushpart", {2, -1, 0, 0, 0, 1, 1});
    s.Case("part", "displaybrushpart", {2, 1, 1, 50, 10, 5, 5});
    s.Case("end", "endselect", {});
    px("c8", 8, 8);
    px("c9", 9, 9);
    px("c10", 10, 9);
    px("c11", 9, 10);
    px("c12", 10, 10);
    px("c13", 11, 11);
    px("w0", 20, 10);
    px("w1", 21, 10);
    px("w2", 22, 10);
    px("w3", 23, 10);
    px("w4", 24, 10);
    px("w5", 20, 11);
    px("w6", 23, 11);
    for (int y = 27; y <= 30; y++)
        for (int x = 4; x <= 7; x++) px("r" + std::to_string(x) + "_" + std::to_string(y), x, y);
    px("g0", 30, 10);
    px("g1", 31, 11);
    px("t0", 40, 10);
    px("p0", 50, 10);
    px("p1", 51, 10);
    px("p2", 50, 11);
    s.Case("brushkept", "readbrushpixel", {2, 0, 0}, 2);
    s.Case("mk3", "penarraytobrush", {3, List({0, 1}), 2, 1});
    s.Case("select2", "selectbrush", {1});
    s.Case("paltrans", "displaybrush", {3, 0, 0, Fields({{"transparency", 100}})});
    s.Case("end2", "endselect", {});

    int exitCode = -1;
    std::string all;
    auto lines = RunAppletScript(dir, s, "", &exitCode, &all);
    ASSERT_EQ(exitCode, 0) << all;
    const std::map<std::string, std::string> expected = {
        {"centre", "0 Nil"},     {"wide", "0 Nil"},          {"grey", "0 Nil"},
        {"invisible", "0 Nil"},  {"partx", "1217 Nil"},      {"partneg", "1154 Nil"},
        {"part", "0 Nil"},       {"c8", "0 0 -1"},           {"c9", "0 16711680 -1"},
        {"c10", "0 65280 -1"},   {"c11", "0 255 -1"},        {"c12", "0 16777215 -1"},
        {"c13", "0 0 -1"},       {"w0", "0 16711680 -1"},    {"w1", "0 16711680 -1"},
        {"w2", "0 65280 -1"},    {"w3", "0 65280 -1"},       {"w4", "0 0 -1"},
        {"w5", "0 255 -1"},      {"w6", "0 16777215 -1"},    {"g0", "0 5000268 -1"},
        {"g1", "0 16777215 -1"}, {"t0", "0 0 -1"},           {"p0", "0 16777215 -1"},
        {"p1", "0 0 -1"},        {"p2", "0 0 -1"},           {"brushkept", "0 16711680 -1"},
        {"paltrans", "1645 Nil"},
    };
    for (const auto &[key, value] : expected) EXPECT_EQ(lines[key], value) << key << "\n" << all;
    // The quarter turn about the top-left corner puts [G W; R B] at (5..6, 28..29).
    const std::map<std::pair<int, int>, const char *> turned = {
        {{5, 28}, "0 65280 -1"}, {{6, 28}, "0 16777215 -1"}, {{5, 29}, "0 16711680 -1"}, {{6, 29}, "0 255 -1"}};
    EXPECT_EQ(lines["turn"], "0 Nil");
    for (int y = 27; y <= 30; y++)
        for (int x = 4; x <= 7; x++) {
            auto it = turned.find({x, y});
            EXPECT_EQ(lines["r" + std::to_string(x) + "_" + std::to_string(y)], it == turned.end() ? "0 0 -1" : it->second)
                << x << ", " << y;
        }
}

}  // namespace

namespace {

// SaveBrush goes through the image savers: what it writes loads back pixel for pixel,
// and a write that cannot complete reports its error, never success.
TEST(BrushEditApplet, SaveBrushRoundTrips)
{
    lvScratchDir dir;
    lvAppletScript s;
    const std::vector<int> items = {0, 1, 2, 3, 4, 5};
    s.Case("mk", "rgbarraytobrush",
           {1, List({0xFFFF0000u, 0xFF00FF00u, 0xFF0000FFu, 0xFFFFFFFFu, 0xFF123456u, 0xFF000000u}), 3, 2});
    s.Case("orig", "brushtorgbarray", {1}, 1, items);
    s.Case("savepng", "savebrush", {1, Str("b.png"), -1, 1});
    s.Case("loadpng", "loadbrush", {2, Str("b.png")});
    s.Case("png", "brushtorgbarray", {2}, 1, items);
    s.Case("savebmp", "savebrush", {1, Str("b.bmp"), Fields({{"format", 0}})});
    s.Case("loadbmp", "loadbrush", {3, Str("b.bmp")});
    s.Case("bmp", "brushtorgbarray", {3}, 1, items);
    s.Case("full", "savebrush", {1, Str("/dev/full"), -1, 1});
    s.Case("nobrush", "savebrush", {9, Str("x.png")});
    int exitCode = -1;
    std::string all;
    auto lines = RunAppletScript(dir, s, "", &exitCode, &all);
    ASSERT_EQ(exitCode, 0) << all;
    EXPECT_EQ(lines["orig"], "0 4294901760 4278255360 4278190335 4294967295 4279383126 4278190080") << all;
    for (const char *key : {"savepng", "loadpng", "savebmp", "loadbmp"}) EXPECT_EQ(lines[key], "0 Nil") << key << all;
    EXPECT_EQ(lines["png"], lines["orig"]) << all;
    EXPECT_EQ(lines["bmp"], lines["orig"]) << all;
    EXPECT_NE(lines["full"].substr(0, 2), "0 ") << all;
    EXPECT_NE(lines["full"], "") << all;
    EXPECT_NE(lines["nobrush"].substr(0, 2), "0 ") << all;
}


// QuantizeBrush keeps a true-colour brush true-colour with at most the colours asked for,
// or makes a palette brush of the depth the colour count needs; RemapBrush maps every pixel
// to the nearest pen of a palette and takes the palette's depth.
TEST(BrushEditApplet, QuantizeAndRemap)
{
    lvScratchDir dir;
    lvAppletScript s;
    const int BRUSH = 3, ATTRDEPTH = 103;
    const std::vector<int> items = {0, 1, 2, 3, 4, 5};
    auto colours = List({0xFFFF0000u, 0xFFF00000u, 0xFF0000FFu, 0xFF0000F0u, 0xFF00FF00u, 0xFF00F000u});
    s.Case("mk1", "rgbarraytobrush", {1, colours, 3, 2});
    s.Case("q3", "quantizebrush", {1, 3, 0});
    s.Case("q3depth", "getattribute", {BRUSH, 1, ATTRDEPTH});
    s.Case("q3px", "brushtorgbarray", {1}, 1, items);
    s.Case("mk2", "rgbarraytobrush", {2, colours, 3, 2});
    s.Case("qp", "quantizebrush", {2, Fields({{"colors", 4}, {"palette", 1}, {"dither", 0}})});
    s.Case("qpdepth", "getattribute", {BRUSH, 2, ATTRDEPTH});
    s.Case("qppens", "brushtopenarray", {2}, 1, items);
    s.Case("many", "quantizebrush", {1, 300});
    s.Case("deep", "quantizebrush", {1, Fields({{"depth", 9}})});
    s.Case("pen", "quantizebrush", {1, Fields({{"colors", 4}, {"transparentpen", 4}})});
    s.Case("pal", "createpalette", {20, List({0xFF0000, 0x0000FF}), Fields({{"depth", 1}})});
    s.Case("mk3", "rgbarraytobrush", {3, List({0xFFFF1010u, 0xFF1010F0u, 0xFF0000C0u}), 3, 1});
    s.Case("remap", "remapbrush", {3, 20, Fields({{"dither", 0}})});
    s.Case("remapdepth", "getattribute", {BRUSH, 3, ATTRDEPTH});
    s.Case("remappens", "brushtopenarray", {3}, 1, {0, 1, 2});
    s.Case("nopal", "remapbrush", {3, 99});
    int exitCode = -1;
    std::string all;
    auto lines = RunAppletScript(dir, s, "", &exitCode, &all);
    ASSERT_EQ(exitCode, 0) << all;
    EXPECT_EQ(lines["q3"], "0 Nil") << all;
    EXPECT_EQ(lines["q3depth"], "0 24") << all;
    {
        std::istringstream words(lines["q3px"]);
        std::string code, word;
        words >> code;
        std::set<std::string> distinct;
        while (words >> word) distinct.insert(word);
        EXPECT_EQ(code, "0") << all;
        EXPECT_EQ(distinct.size(), 3u) << lines["q3px"];
    }
    EXPECT_EQ(lines["qp"], "0 Nil") << all;
    EXPECT_EQ(lines["qpdepth"], "0 2") << all;
    EXPECT_EQ(lines["qppens"].substr(0, 2), "0 ") << all;
    {
        // Four pens at the most, and the two pure reds (and the two blues) share a pen.
        std::istringstream words(lines["qppens"]);
        std::string code;
        std::vector<int> pens;
        int pen;
        words >> code;
        while (words >> pen) pens.push_back(pen);
        ASSERT_EQ(pens.size(), 6u) << lines["qppens"];
        for (int p : pens) EXPECT_LT(p, 4) << lines["qppens"];
        EXPECT_EQ(pens[0], pens[1]) << lines["qppens"];
        EXPECT_EQ(pens[2], pens[3]) << lines["qppens"];
    }
    EXPECT_EQ(lines["many"], "1055 Nil") << all;
    EXPECT_EQ(lines["deep"], "1650 Nil") << all;
    EXPECT_EQ(lines["pen"], "1646 Nil") << all;
    EXPECT_EQ(lines["remap"], "0 Nil") << all;
    EXPECT_EQ(lines["remapdepth"], "0 1") << all;
    EXPECT_EQ(lines["remappens"], "0 0 1 1") << all;
    EXPECT_NE(lines["nopal"].substr(0, 2), "0 ") << all;
}

// Depth and palette changes that remap the pixels through the colour quantiser.
TEST(BrushEditApplet, DepthAndPaletteRemap)
{
    lvScratchDir dir;
    lvAppletScript s;
    // Shrinking the depth remaps by default: four colours fit 16 pens and stay as they are.
    s.Case("q21", "penarraytobrush", {21, List({0, 200, 15, 16}), 4, 1});
    s.Case("q21p0", "setbrushpen", {21, 0, 0x102030});
    s.Case("q21p200", "setbrushpen", {21, 200, 0xC08040});
    s.Case("q21p15", "setbrushpen", {21, 15, 0x00FF00});
    s.Case("q21p16", "setbrushpen", {21, 16, 0xFF00FF});
    s.Case("q21rgb", "brushtorgbarray", {21}, 1, {0, 1, 2, 3});
    s.Case("quantise", "setbrushdepth", {21, 4});
    s.Case("quantdepth", "getattribute", {BRUSH, 21, 103});
    s.Case("quantpens", "brushtopenarray", {21}, 1, {0, 1, 2, 3});
    s.Case("quantrgb", "brushtorgbarray", {21}, 1, {0, 1, 2, 3});
    // A palette of lower depth with remap: every pixel takes the nearest of its pens.
    s.Case("r23", "penarraytobrush", {23, List({0, 1, 2, 3}), 4, 1});
    s.Case("r23p0", "setbrushpen", {23, 0, 0xF00000});
    s.Case("r23p1", "setbrushpen", {23, 1, 0x00E010});
    s.Case("r23p2", "setbrushpen", {23, 2, 0x1010F0});
    s.Case("r23p3", "setbrushpen", {23, 3, 0xF0F0F0});
    s.Case("pal2", "createpalette", {32, List({0xFFFFFF, 0x0000FF, 0x00FF00, 0xFF0000}), Fields({{"depth", 2}})});
    s.Case("remapto", "setbrushpalette", {23, 32, Fields({{"remap", 1}, {"dither", 0}})});
    s.Case("remapdepth2", "getattribute", {BRUSH, 23, 103});
    s.Case("remappens2", "brushtopenarray", {23}, 1, {0, 1, 2, 3});
    s.Case("remaprgb2", "brushtorgbarray", {23}, 1, {0, 1, 2, 3});

    int exitCode = -1;
    std::string all;
    auto lines = RunAppletScript(dir, s, "", &exitCode, &all);
    ASSERT_EQ(exitCode, 0) << all;
    const std::map<std::string, std::string> expected = {
        {"quantise", "0 Nil"},
        {"quantdepth", "0 4"},
        {"remapto", "0 Nil"},
        {"remapdepth2", "0 2"},
        {"remappens2", "0 3 2 1 0"},
        {"remaprgb2", "0 4294901760 4278255360 4278190335 4294967295"},
    };
    for (const auto &[key, value] : expected) EXPECT_EQ(lines[key], value) << key << "\n" << all;
    // The quantised brush keeps its colours on pens below 16.
    EXPECT_EQ(lines["quantrgb"], lines["q21rgb"]) << all;
    {
        std::istringstream pens(lines["quantpens"]);
        int code = -1, pen = -1, count = 0;
        pens >> code;
        EXPECT_EQ(code, 0);
        std::set<int> distinct;
        while (pens >> pen) {
            EXPECT_LT(pen, 16) << lines["quantpens"];
            distinct.insert(pen);
            count++;
        }
        EXPECT_EQ(count, 4) << lines["quantpens"];
        EXPECT_EQ(distinct.size(), 4u) << lines["quantpens"];
    }
}

// Transforms whose result cannot be made are refused before the brush is touched: a
// non-finite or singular matrix with 1055, a size past what a bitmap has with 1522. Shadow
// and border sizes at and past the limits, and non-finite draw tags, answer errors too.
TEST(BrushEditApplet, RefusedTransformsAndSizesLeaveTheBrush)
{
    const double MAX = 2147483647.0;
    lvScratchDir dir;
    lvAppletScript s;
    auto size = [&](const std::string &key) {
        s.Case(key + "_w", "getattribute", {BRUSH, 1, 0});
        s.Case(key + "_h", "getattribute", {BRUSH, 1, 1});
    };
    s.Case("mk", "createbrush", {1, 10, 9, 0xFF0000});
    const std::vector<std::pair<std::string, std::vector<lvAppletArg>>> transforms = {
        {"wide", {1, 1e9, 0, 0, 1}},      {"tall", {1, 1, 0, 0, 1e9}},    {"singular", {1, 1, 1, 1, 1}},
        {"nan", {1, "nan", 0, 0, 1}},     {"shearnan", {1, 1, "nan", 0, 1}}, {"inf", {1, 1, 0, "inf", 1}},
        {"huge", {1, 1e300, 0, 0, 1}},      {"overflow", {1, 1e300, 0, 0, 1e300}},
    };
    for (const auto &[key, args] : transforms) {
        s.Case("t_" + key, "transformbrush", args);
        size("t_" + key);
    }
    const std::vector<std::pair<std::string, std::vector<lvAppletArg>>> rotations = {
        {"nan", {1, "nan"}}, {"inf", {1, "inf"}}, {"scalenan", {1, 30, "nan"}}, {"scalebig", {1, 30, 1e9, 1}},
    };
    for (const auto &[key, args] : rotations) {
        s.Case("r_" + key, "rotatebrush", args);
        size("r_" + key);
    }
    s.Case("sc_nan", "scalebrush", {1, "nan", 5});
    s.Case("sc_max", "scalebrush", {1, MAX, 5});
    s.Case("sc_min", "scalebrush", {1, -MAX - 1, 5});
    size("sc");
    // More than a gigabyte of pixels is not made.
    s.Case("cb_huge", "createbrush", {4, 20000, 20000});
    s.Case("t_fine", "transformbrush", {1, 2, 0, 0, 1});
    size("t_fine");
    // Shadows and borders: sizes at the integer limit or not numbers at all.
    s.Case("sh_max", "createshadowbrush", {2, 1, 0, MAX});
    s.Case("sh_huge", "createshadowbrush", {2, 1, 0, 1e300});
    s.Case("sh_nan", "createshadowbrush", {2, 1, 0, "nan"});
    s.Case("sh_inf", "createshadowbrush", {2, 1, 0, "inf"});
    s.Case("sh_soft", "createshadowbrush", {2, 1, 0, 3, "nan"});
    s.Case("bo_max", "createborderbrush", {2, 1, 0, MAX});
    s.Case("bo_nan", "createborderbrush", {2, 1, 0, "nan"});
    s.Case("sh_fine", "createshadowbrush", {2, 1, 0, 2});
    // Draw tags with NaN or infinity.
    s.Case("target", "createbrush", {3, 30, 30, 0});
    s.Case("select", "selectbrush", {3});
    for (const char *tag : {"rotate", "scalex", "scaley", "anchorx", "anchory"}) {
        s.Case(std::string("d_") + tag, "displaybrush", {1, 0, 0, Fields({{tag, "nan"}})});
        s.Case(std::string("di_") + tag, "displaybrush", {1, 0, 0, Fields({{tag, "-inf"}})});
    }
    s.Case("d_transform", "displaybrush", {1, 0, 0, Fields({{"transform", List({1, 0, "inf", 1})}})});
    s.Case("d_fine", "displaybrush", {1, 0, 0, Fields({{"rotate", 90}})});
    s.Case("d_max", "displaybrush", {1, MAX, 0});
    s.Case("dp_min", "displaybrushpart", {1, 0, 0, -MAX - 1, 0, 2, 2});
    s.Case("end", "endselect", {});

    int exitCode = -1;
    std::string all;
    auto lines = RunAppletScript(dir, s, "", &exitCode, &all);
    ASSERT_EQ(exitCode, 0) << all;
    const std::map<std::string, std::string> codes = {
        {"t_wide", "1522"}, {"t_tall", "1522"}, {"t_singular", "1055"}, {"t_nan", "1055"}, {"t_shearnan", "1055"},
        {"t_inf", "1055"}, {"t_huge", "1522"}, {"t_overflow", "1055"}, {"r_nan", "1055"}, {"r_inf", "1055"}, {"r_scalenan", "1055"},
        {"r_scalebig", "1522"}, {"t_fine", "0"}, {"sh_max", "1522"}, {"sh_huge", "1522"}, {"sh_nan", "1055"},
        {"sh_inf", "1055"}, {"sh_soft", "1055"}, {"bo_max", "1522"}, {"bo_nan", "1055"}, {"sh_fine", "0"},
        {"d_transform", "1055"}, {"d_fine", "0"}, {"sc_nan", "1055"}, {"sc_max", "1522"}, {"sc_min", "1218"},
        {"sc_w", "0"}, {"cb_huge", "1522"}, {"d_max", "1055"}, {"dp_min", "1055"},
    };
    for (const auto &[key, code] : codes) EXPECT_EQ(Code(lines[key]), code) << key << ": " << lines[key];
    for (const auto &[key, args] : transforms) {
        EXPECT_EQ(lines["t_" + key + "_w"], "0 10") << key;
        EXPECT_EQ(lines["t_" + key + "_h"], "0 9") << key;
    }
    for (const auto &[key, args] : rotations) {
        EXPECT_EQ(lines["r_" + key + "_w"], "0 10") << key;
        EXPECT_EQ(lines["r_" + key + "_h"], "0 9") << key;
    }
    // A scale of 2 takes the 10 pixels' far edge to 20, so 21 columns.
    EXPECT_EQ(lines["t_fine_w"], "0 21");
    EXPECT_EQ(lines["sc_w"], "0 10");
    for (const char *tag : {"rotate", "scalex", "scaley", "anchorx", "anchory"}) {
        EXPECT_EQ(Code(lines[std::string("d_") + tag]), "1055") << tag;
        EXPECT_EQ(Code(lines[std::string("di_") + tag]), "1055") << tag;
    }
}

}  // namespace

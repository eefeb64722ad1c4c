// images_brush_plugin_applet_test.cpp - a plug-in reaches the applet's brushes through the
// brush slots of the interface table: locks of RGB and palette brushes (and their refusals),
// ARGB copies, brushes made from the plug-in's pixels, freeing, the lock count that keeps
// script commands off a locked brush, and the hardware-handle map. The applet is run by the
// runtime linked into a program that carries the "brushslots" test plug-in.
#include <gtest/gtest.h>

#include "tests/formats/formats_fixtures.h"
#include "tests/images/images_applet.h"

namespace {

const int BRUSH = 3;

// Assembles the applet, links it into a program that carries the brushslots plug-in and
// runs that; the printed lines keyed by their first word.
std::map<std::string, std::string> RunWithPlugin(const lvScratchDir &dir, const lvAppletScript &script, int *exitCode,
                                                 std::string *all)
{
    {
        FILE *f = std::fopen(dir.File("t.lvs").c_str(), "w");
        std::string text = script.Text();
        std::fwrite(text.data(), 1, text.size(), f);
        std::fclose(f);
    }
    std::string bin = LV_BIN_DIR;
    std::string command = "cd '" + dir.path + "' && '" + bin + "/lvasm' t.lvs -o t.lvc 2>&1 && '" + bin +
                          "/lvlink' applet t.lvc -o t.lva --object 12:1:brushslots 2>&1 && '" + bin +
                          "/lvlink' link '" + bin + "/lumivarra' t.lva -o program --plugin '" LV_TESTPLUGIN_DIR
                          "/brushslots.lvp' 2>&1 && SDL_VIDEODRIVER=offscreen SDL_AUDIODRIVER=dummy timeout -k 5 60 "
                          "./program 2>&1 </dev/null";
    FILE *out = popen(command.c_str(), "r");
    std::string text;
    char buffer[4096];
    size_t got;
    while ((got = fread(buffer, 1, sizeof buffer, out)) > 0) text.append(buffer, got);
    int status = pclose(out);
    *exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    *all = text;
    std::map<std::string, std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        size_t space = line.find_first_of(" \t");
        lines[line.substr(0, space)] =
            space == std::string::npos ? "" : line.substr(line.find_first_not_of(" \t", space));
    }
    return lines;
}

TEST(BrushPluginApplet, PlugInReachesBrushesThroughTheBrushSlots)
{
    lvScratchDir dir;
    PngFixture png;
    png.width = 5, png.height = 3;
    WriteBytes(dir.File("a.png"), MakePng(png));

    lvAppletScript s;
    s.Function(".function nop\n.params 1\nreturn r0 1\n.end");
    s.Line("closure r10 nop\nsetglobal r10 \"nop\"");
    // RGB brushes: CreateBrush (opaque, then with a mask) and LoadBrush (with alpha).
    s.Case("mk1", "createbrush", {1, 10, 10, 0x123456});
    s.Case("rgb", "brushlock", {1, 0});
    s.Case("rgbdepth", "brushlock", {1, 1 | 4});
    s.Case("mk2", "createbrush", {2, 4, 4, Fields({{"mask", 1}})});
    s.Case("masked", "brushlock", {2, 4});
    s.Case("load", "loadbrush", {3, Str("a.png"), Fields({{"globalalpha", 77}})});
    s.Case("loaded", "brushlock", {3, 0});
    s.Case("loadargb", "brushargb", {3, 0});
    // A palette brush only for a caller that takes pens; a callback brush never.
    s.Case("mk4", "createbrush", {4, 4, 3, Fields({{"depth", 8}, {"transparentpen", 2}, {"fillpen", 5}})});
    s.Case("palno", "brushlock", {4, 0});
    s.Case("palyes", "brushlock", {4, 2 | 4});
    s.Case("palargb", "brushargb", {4, 0});
    s.Case("mk5", "createbrush", {5, 6, 6, Fields({{"callback", "@nop"}})});
    s.Case("cblock", "brushlock", {5, 2});
    s.Case("cbargb", "brushargb", {5, 0});
    s.Case("nolock", "brushlock", {99, 2});
    // Brushes from the plug-in's pixels: alpha from the top bytes, a colour key, pens, empty.
    s.Case("alpha", "brushmake", {10, 3, 2, 1}, 2);
    s.Case("alphahas", "getattribute", {BRUSH, 10, 17});
    s.Case("alphadepth", "getattribute", {BRUSH, 10, 103});
    s.Case("alphaargb", "brushargb", {10, 0});
    s.Case("key", "brushmake", {11, 3, 2, 2, 0xFF00FF}, 2);
    s.Case("keymask", "getattribute", {BRUSH, 11, 16});
    s.Case("keydepth", "getattribute", {BRUSH, 11, 103});
    s.Case("keyargb", "brushargb", {11, 0});
    s.Case("pens", "brushmake", {12, 4, 2, 8 | 2, 3}, 2);
    s.Case("penslock", "brushlock", {12, 2 | 4});
    s.Case("pensargb", "brushargb", {12, 0});
    s.Case("empty", "brushmake", {13, 2, 2, 0x100}, 2);
    s.Case("emptyargb", "brushargb", {13, 0});
    s.Case("baddim", "brushmake", {14, 0, 2, 0}, 2);
    // A Nil identifier comes back with the new brush's handle (the second result).
    s.Line("getglobal r10 \"brushmake\"\nloadnil r11 r11\nloadk r12 2\nloadk r13 3\nloadk r14 0\ncall r10 5 3");
    s.Line("setglobal r11 \"h\"\ngetglobal r0 \"debugprint\"\nloadk r1 \"nilmake\"\nmove r2 r10\ncall r0 3 1");
    s.Case("nilw", "getattribute", {BRUSH, "@h", 1});
    // The number is released first: brush 10 becomes 7 x 1.
    s.Case("again", "brushmake", {10, 7, 1, 0}, 2);
    s.Case("againw", "getattribute", {BRUSH, 10, 0});
    // A held lock keeps script commands and the FreeBrush slot off the brush.
    s.Case("hold", "brushhold", {1});
    s.Case("scriptfree", "freebrush", {1});
    s.Case("scriptscale", "scalebrush", {1, 20, 20});
    s.Case("slotfree", "brushkill", {1});
    s.Case("remake", "brushmake", {1, 2, 2, 0}, 2);
    s.Case("letgo", "brushletgo", {}, 0);
    s.Case("freed", "brushkill", {1});
    s.Case("gone", "getattribute", {BRUSH, 1, 0});
    s.Case("killmissing", "brushkill", {1});
    // No brush has the adapter handle: null, identifier untouched; no video bitmap either.
    s.Case("map", "brushmap", {2});

    int exitCode = -1;
    std::string all;
    auto lines = RunWithPlugin(dir, s, &exitCode, &all);
    ASSERT_EQ(exitCode, 0) << all;
    const std::map<std::string, std::string> expected = {
        {"mk1", "0 Nil"},
        {"rgb", "0 f10 b4 10x10 row1 rgb1:00123456 mask-1 alpha-1 pens0:-1 mod0 pal000000 tpen0 depth-7"},
        {"rgbdepth", "0 f10 b4 10x10 row1 rgb1:00123456 mask-1 alpha-1 pens0:-1 mod0 pal000000 tpen0 depth24"},
        {"masked", "0 f10 b4 4x4 row1 rgb1:00000000 mask1 alpha-1 pens0:-1 mod0 pal000000 tpen0 depth32"},
        {"loaded", "0 f10 b4 5x3 row1 rgb1:" + [&] {
             char b[16];
             std::snprintf(b, sizeof b, "00%02x%02x%02x", PngSample(png, 0, 0, 0), PngSample(png, 0, 0, 1),
                           PngSample(png, 0, 0, 2));
             return std::string(b);
         }() + " mask-1 alpha77 pens0:-1 mod0 pal000000 tpen0 depth-7"},
        {"palno", "0 null"},
        {"palyes", "0 f14 b1 4x3 row0 rgb0:00000000 mask-1 alpha-1 pens1:5 mod1 pal000000 tpen2 depth8"},
        {"cblock", "0 null"},
        {"cbargb", "0 null -1"},
        {"nolock", "0 null"},
        {"alpha", "0 0 Nil"},
        {"alphahas", "0 1"},
        {"alphadepth", "0 32"},
        {"alphaargb", "0 3 2 0 80ff00ff ff112233"},
        {"key", "0 0 Nil"},
        {"keymask", "0 1"},
        {"keydepth", "0 24"},
        {"keyargb", "0 3 2 0 00ff00ff ff112233"},
        {"pens", "0 0 Nil"},
        {"penslock", "0 f14 b1 4x2 row0 rgb0:00000000 mask-1 alpha-1 pens1:0 mod1 pal111111 tpen3 depth2"},
        {"pensargb", "0 4 2 0 ff000000 00333333"},
        {"empty", "0 0 Nil"},
        {"emptyargb", "0 2 2 1 ff000000 ff000000"},
        {"baddim", "0 1218 Nil"},
        {"nilmake", "0"},
        {"nilw", "0 3"},
        {"again", "0 0 Nil"},
        {"againw", "0 7"},
        {"hold", "0 1"},
        {"scriptfree", "1314 Nil"},
        {"scriptscale", "1314 Nil"},
        {"slotfree", "0 1314"},
        {"remake", "0 1314 Nil"},
        {"freed", "0 0"},
        {"gone", "1174 Nil"},
        {"killmissing", "0 1174"},
        {"map", "0 null 2 null"},
    };
    for (const auto &[key, value] : expected) EXPECT_EQ(lines[key], value) << key << "\n" << all;
    // The loaded brush's ARGB copy carries the global alpha in its top byte.
    EXPECT_EQ(lines["loadargb"].substr(0, 10), "0 5 3 0 4d") << lines["loadargb"];
    // A palette brush's copy goes through its palette; pen 2 is transparent, the fill pen 5.
    EXPECT_EQ(lines["palargb"], "0 4 3 0 ff000000 ff000000") << lines["palargb"];
}

}  // namespace

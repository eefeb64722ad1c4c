// images_palette_applet_test.cpp - the palette library as an applet meets it: the edge
// cases of palette objects as a table of commands, the saved file's bytes, write failures,
// LoadPalette of a palette PNG, and the attributes.
#include <gtest/gtest.h>

#include "tests/formats/formats_fixtures.h"
#include "tests/images/images_applet.h"

namespace {

const int PALETTE = 62, ATTRDEPTH = 103, ATTRPALETTE = 104, ATTRTRANSPARENTPEN = 105, ATTRCYCLE = 106,
          ATTRLOADER = 91;


TEST(PaletteApplet, EdgeTable)
{
    lvScratchDir dir;
    lvAppletScript s;
    auto attr = [&](const std::string &key, lvAppletArg id, int attribute, std::vector<int> items = {}) {
        s.Case(key, "getattribute", {PALETTE, id, attribute}, 1, items);
    };
    // CreatePalette(1): a depth-8 copy of PALETTE_DEFAULT without a transparent pen.
    s.Case("create1", "createpalette", {1});
    attr("depth1", 1, ATTRDEPTH);
    attr("pen1", 1, ATTRTRANSPARENTPEN);
    attr("pens1", 1, ATTRPALETTE, {0, 3, 255});
    attr("loader1", 1, ATTRLOADER);
    // The transparent pen is checked against the "depth" option, not the standard palette.
    s.Case("mono", "createpalette", {2, -985, Fields({{"transparentpen", 5}})});
    attr("monodepth", 2, ATTRDEPTH);
    attr("monopen", 2, ATTRTRANSPARENTPEN);
    // A pens table with a hole, depth 2.
    lvAppletArg pens;
    pens.table = true;
    pens.fields = {{"0", 0xFF0000}, {"2", 0x00FF00}, {"3", 0x7F0000FF}};
    s.Case("table", "createpalette", {3, pens, Fields({{"depth", 2}})});
    attr("tablepens", 3, ATTRPALETTE, {0, 1, 2, 3});
    lvAppletArg bad;
    bad.table = true;
    bad.fields = {{"0", Str("red")}};
    s.Case("badpen", "createpalette", {4, bad, Fields({{"depth", 2}})});
    s.Case("depth9", "createpalette", {4, -1000, Fields({{"depth", 9}})});
    s.Case("pen4", "createpalette", {4, -1000, Fields({{"depth", 2}, {"transparentpen", 4}})});
    s.Case("nopen", "createpalette", {4, -1000, Fields({{"depth", 2}, {"transparentpen", 4294967295.0}})});
    s.Case("unknown", "createpalette", {5, -984});
    s.Case("cyclenottable", "createpalette", {5, -1000, Fields({{"cycle", 3}})});
    s.Case("cyclepen", "createpalette",
           {5, -1000, Fields({{"depth", 2}, {"cycle", List({Fields({{"low", 0}, {"high", 4}})})}})});
    s.Case("cycleelem", "createpalette", {5, -1000, Fields({{"cycle", List({5})}})});
    s.Case("cycle", "createpalette",
           {5, -1000, Fields({{"cycle", List({Fields({{"low", 1}, {"high", 7}, {"rate", 70000}, {"reverse", 1}})})}})});
    s.Case("cycleattr", "getattribute", {PALETTE, 5, ATTRCYCLE}, 1, {0});
    s.Line("getglobal r10 \"getattribute\"\nloadk r11 62\nloadk r12 5\nloadk r13 106\ncall r10 4 2\n"
           "gettable r10 r10 0\ngetglobal r0 \"debugprint\"\nloadk r1 \"cyclefields\"\nloadk r2 \"active\"\n"
           "gettable r2 r10 r2\nloadk r3 \"reverse\"\ngettable r3 r10 r3\nloadk r4 \"rate\"\ngettable r4 r10 r4\n"
           "loadk r5 \"low\"\ngettable r5 r10 r5\nloadk r6 \"high\"\ngettable r6 r10 r6\ncall r0 7 1");
    // SetStandardPalette to GRAY4 on a depth-8 palette keeps pens 4 and up.
    s.Case("setpen", "setpalettepen", {1, 4, 0x123456});
    s.Case("std", "setstandardpalette", {1, -992});
    attr("stddepth", 1, ATTRDEPTH);
    s.Case("stdpens", "getpalettepen", {1, 2});
    s.Case("stdpen4", "getpalettepen", {1, 4});
    s.Case("stdbad", "setstandardpalette", {1, -1001});
    // Cycling and copying pens on a GRAY8 palette.
    s.Case("g8", "createpalette", {6, -991});
    s.Case("cyc", "cyclepalette", {6, 2, 5});
    s.Case("cyc2", "getpalettepen", {6, 2});
    s.Case("cyc5", "getpalettepen", {6, 5});
    s.Case("cycsame", "cyclepalette", {6, 2, 2});
    s.Case("cycrange", "cyclepalette", {6, 2, 8});
    s.Case("cycneg", "cyclepalette", {6, -1, 3});
    s.Case("g8b", "createpalette", {7, -991});
    s.Case("copypens", "copypens", {7, 7, 0, 4, 2});
    s.Case("cp2", "getpalettepen", {7, 2});
    s.Case("cp5", "getpalettepen", {7, 5});
    s.Case("cpneg", "copypens", {7, 7, 0, -1});
    s.Case("cprange", "copypens", {7, 7, 6, 3});
    s.Case("copyself", "copypalette", {1, 1});
    s.Keep("h", "copynil", "copypalette", {6, "nil"});
    s.Case("copied", "getpalettepen", {"@h", 2});
    s.Case("freeh", "freepalette", {"@h"});
    s.Case("freeh2", "freepalette", {"@h"});
    s.Case("free99", "freepalette", {99});
    // Pens and depths of palette objects.
    s.Case("penrange", "setpalettepen", {6, 8, 0});
    s.Case("invert", "invertpalette", {6});
    s.Case("inv0", "getpalettepen", {6, 0});
    s.Case("best", "getbestpen", {6, 0xFEFEFE});
    s.Case("depthup", "setpalettedepth", {3, 3});
    s.Case("dup4", "getpalettepen", {3, 4});
    s.Case("depth0", "setpalettedepth", {3, 0});
    s.Case("tp", "setpalettetransparentpen", {3, 7});
    s.Case("tp8", "setpalettetransparentpen", {3, 8});
    s.Case("depthdown", "setpalettedepth", {3, 2});
    s.Case("tpnone", "setpalettetransparentpen", {3, 4294967295.0});
    s.Case("depthdown2", "setpalettedepth", {3, 2});
    s.Case("tint", "tintpalette", {6, 0xFF0000, Str("100%")});
    s.Case("tint0", "getpalettepen", {6, 0});
    // Settings.
    s.Case("mode2", "setpalettemode", {2});
    s.Case("mode0", "setpalettemode", {0});
    s.Case("dither", "setdithermode", {1});
    s.Case("dither2", "setdithermode", {2});
    s.Case("thr256", "settransparentthreshold", {256});
    s.Case("drawpen256", "setdrawpen", {256});
    s.Case("drawpen", "setdrawpen", {3});
    s.Case("shadowpen", "setshadowpen", {-1});
    // The palette target: a palette chosen with SelectPalette.
    s.Case("select", "selectpalette", {PALETTE, 6});
    s.Case("tsetpen", "setpen", {1, 0xABCDEF});
    s.Case("tgetpen", "getpen", {1});
    s.Case("treadpen", "readpen", {0, 0});
    s.Case("tfree", "getfreepen", {});
    s.Case("tsetpal", "setpalette", {6});
    s.Case("tsetpal7", "setpalette", {7, Fields({{"copycycletable", 1}})});
    s.Case("tdepth", "setdepth", {4});
    // Saving: the bytes are checked by the test; a full disk is an error.
    s.Case("mono2", "createpalette", {8, -985});
    s.Case("save", "savepalette", {8, Str("mono.iff")});
    s.Case("savefull", "savepalette", {8, Str("/dev/full")});
    s.Case("savemissing", "savepalette", {9, Str("x.iff")});
    s.Case("ranges", "createpalette",
           {11, -992, Fields({{"depth", 2}, {"transparentpen", 3},
                               {"cycle", List({Fields({{"low", 0}, {"high", 3}, {"rate", 0x1234}}),
                                               Fields({{"low", 1}, {"high", 2}, {"rate", 7}, {"reverse", 1}})})}})});
    s.Case("saveranges", "savepalette", {11, Str("ranges.iff")});
    // Loading the palette of a PNG the test wrote; a true-colour PNG has none.
    s.Keep("lp", "load", "loadpalette", {"nil", Str("pal.png")});
    s.Case("loaddepth", "getattribute", {PALETTE, "@lp", ATTRDEPTH});
    s.Case("loadpens", "getattribute", {PALETTE, "@lp", ATTRPALETTE}, 1, {0, 1, 2, 3});
    s.Case("loadpen", "getattribute", {PALETTE, "@lp", ATTRTRANSPARENTPEN});
    s.Case("loadtc", "loadpalette", {10, Str("rgb.png")});
    // The colour effects work on the pens in use.
    s.Case("redpal", "createpalette", {20, List({0xFF0000, 0x00FF00}), Fields({{"depth", 1}})});
    s.Case("gray", "palettetogray", {20});
    s.Case("graypen", "getpalettepen", {20, 0});
    s.Case("darkpal", "createpalette", {21, List({0x404040, 0}), Fields({{"depth", 1}})});
    s.Case("gamma", "gammapalette", {21, 2, 2, 2});
    s.Case("gammapen", "getpalettepen", {21, 0});
    s.Case("contrast0", "contrastpalette", {21, 1, 0});
    s.Case("modneg", "modulatepalette", {21, 1, -1, 1});
    s.Case("solar", "solarizepalette", {20, 0});
    s.Case("nopal", "gammapalette", {99, 1, 1, 1});
    s.Case("count", "getattribute", {PALETTE, 0, 60});

    PngFixture pal;
    pal.colourType = 3;
    pal.bitDepth = 2;
    pal.width = 4, pal.height = 2;
    pal.palette = {255, 0, 0, 0, 255, 0, 0, 0, 255, 9, 8, 7};
    pal.trns = {255, 0};
    WriteBytes(dir.File("pal.png"), MakePng(pal));
    WriteBytes(dir.File("rgb.png"), MakePng(PngFixture{}));

    int exitCode = -1;
    std::string all;
    auto lines = RunAppletScript(dir, s, "", &exitCode, &all);
    ASSERT_EQ(exitCode, 0) << all;
    const std::map<std::string, std::string> expected = {
        {"create1", "0 Nil"},
        {"depth1", "0 8"},
        {"pen1", "0 4294967295"},
        {"pens1", "0 0 16775936 16777215"},
        {"loader1", "0 inbuilt"},
        {"mono", "0 Nil"},
        {"monodepth", "0 1"},
        {"monopen", "0 5"},
        {"table", "0 Nil"},
        {"tablepens", "0 16711680 0 65280 255"},
        {"badpen", "1190 Nil"},
        {"depth9", "1650 Nil"},
        {"pen4", "1646 Nil"},
        {"nopen", "0 Nil"},
        {"unknown", "1652 Nil"},
        {"cyclenottable", "1446 Nil"},
        {"cyclepen", "1646 Nil"},
        {"cycleelem", "1237 Nil"},
        {"cycle", "0 Nil"},
        {"cyclefields", "1 1 4464 1 7"},
        {"setpen", "0 Nil"},
        {"std", "0 Nil"},
        {"stddepth", "0 2"},
        {"stdpens", "0 11184810"},
        {"stdpen4", "1646 Nil"},  // kept, but above the new depth
        {"stdbad", "1652 Nil"},
        {"cyc", "0 Nil"},
        {"cyc2", "0 11974326"},   // the old pen 5 (B6B6B6)
        {"cyc5", "0 9539985"},    // the old pen 4 (919191)
        {"cycsame", "1055 Nil"},
        {"cycrange", "1646 Nil"},
        {"cycneg", "1055 Nil"},
        {"copypens", "0 Nil"},
        {"cp2", "0 0"},           // the old pen 0
        {"cp5", "0 7171437"},     // the old pen 3 (6D6D6D)
        {"cpneg", "1055 Nil"},
        {"cprange", "1646 Nil"},
        {"copyself", "1055 Nil"},
        {"copied", "0 11974326"},
        {"freeh", "0 Nil"},
        {"freeh2", "1041 Nil"},
        {"free99", "1649 Nil"},
        {"penrange", "1646 Nil"},
        {"invert", "0 Nil"},
        {"inv0", "0 16777215"},
        {"best", "0 0"},
        {"depthup", "0 Nil"},
        {"dup4", "0 0"},
        {"depth0", "1650 Nil"},
        {"tp", "0 Nil"},
        {"tp8", "1646 Nil"},
        {"depthdown", "1646 Nil"},
        {"tpnone", "0 Nil"},
        {"depthdown2", "0 Nil"},
        {"tint", "0 Nil"},
        {"tint0", "0 16711680"},
        {"mode2", "1055 Nil"},
        {"mode0", "0 Nil"},
        {"dither", "0 Nil"},
        {"dither2", "1055 Nil"},
        {"thr256", "1055 Nil"},
        {"drawpen256", "1646 Nil"},
        {"drawpen", "0 Nil"},
        {"shadowpen", "1646 Nil"},
        {"select", "0 Nil"},
        {"tsetpen", "0 Nil"},
        {"tgetpen", "0 11259375"},
        {"treadpen", "1055 Nil"},
        {"tfree", "1055 Nil"},
        {"tsetpal", "1055 Nil"},
        {"tsetpal7", "0 Nil"},
        {"tdepth", "0 Nil"},
        {"mono2", "0 Nil"},
        {"save", "0 Nil"},
        {"savemissing", "1649 Nil"},
        {"load", "0"},
        {"loaddepth", "0 2"},
        {"loadpens", "0 16711680 65280 255 591879"},
        {"loadpen", "0 1"},
        {"loadtc", "1643 Nil"},
        {"redpal", "0 Nil"},
        {"gray", "0 Nil"},
        {"graypen", "0 5000268"},
        {"darkpal", "0 Nil"},
        {"gamma", "0 Nil"},
        {"gammapen", "0 8421504"},
        {"contrast0", "1055 Nil"},
        {"modneg", "1055 Nil"},
        {"solar", "0 Nil"},
    };
    for (const auto &[key, value] : expected) EXPECT_EQ(lines[key], value) << key << "\n" << all;
    EXPECT_TRUE(lines["savefull"] == "1005 Nil" || lines["savefull"] == "1530 Nil") << lines["savefull"];
    EXPECT_EQ(lines["ranges"], "0 Nil");
    EXPECT_EQ(lines["saveranges"], "0 Nil");
    Bytes ranges = ReadBytes(dir.File("ranges.iff"));
    const Bytes expectedRanges = {
        'F', 'O', 'R', 'M', 0, 0, 0, 84, 'I', 'L', 'B', 'M', 'B', 'M', 'H', 'D', 0, 0, 0, 20,
        0, 0, 0, 0, 0, 0, 0, 0, 2, 2, 0, 0, 0, 3, 0, 0, 0, 0, 0, 0,
        'C', 'M', 'A', 'P', 0, 0, 0, 12, 0, 0, 0, 0x55, 0x55, 0x55, 0xAA, 0xAA, 0xAA, 0xFF, 0xFF, 0xFF,
        'C', 'R', 'N', 'G', 0, 0, 0, 8, 0, 0, 0x12, 0x34, 0, 1, 0, 3,
        'C', 'R', 'N', 'G', 0, 0, 0, 8, 0, 0, 0, 7, 0, 3, 1, 2,
    };
    EXPECT_EQ(ranges, expectedRanges);
    Bytes mono = ReadBytes(dir.File("mono.iff"));
    ASSERT_EQ(mono.size(), 54u);
    EXPECT_EQ(mono[7], 46);
    EXPECT_EQ(mono[53], 255);
}

// Pen ranges from script integers at and next to the 32-bit limits never wrap past the
// range test; a cycle of more steps than the range has pens ends where its remainder does.
TEST(PaletteApplet, IntegerLimitsAndLongCycles)
{
    const double MIN = -2147483648.0, MAX = 2147483647.0;
    const std::vector<lvAppletArg> extremes = {MIN, MIN + 1, -1, 0, 1, 7, 8, MAX - 1, MAX};
    lvScratchDir dir;
    lvAppletScript s;
    s.Case("a", "createpalette", {1, -991});
    s.Case("b", "createpalette", {2, -991});
    std::vector<std::string> keys;
    for (int arg = 3; arg <= 5; arg++)
        for (size_t e = 0; e < extremes.size(); e++) {
            std::vector<lvAppletArg> args = {1, 2, 1, 2, 1};
            args[arg - 1] = extremes[e];
            keys.push_back("copy" + std::to_string(arg) + "_" + std::to_string(e));
            s.Case(keys.back(), "copypens", args);
        }
    for (int arg = 2; arg <= 4; arg++)
        for (size_t e = 0; e < extremes.size(); e++) {
            std::vector<lvAppletArg> args = {2, 0, 7, 1};
            args[arg - 1] = extremes[e];
            keys.push_back("cycle" + std::to_string(arg) + "_" + std::to_string(e));
            s.Case(keys.back(), "cyclepalette", args);
        }
    // 2147483647 steps over eight pens are seven steps, one step back: pen 0 takes pen 1.
    s.Case("c", "createpalette", {3, -991});
    s.Case("d", "createpalette", {4, -991});
    s.Case("cyclemax", "cyclepalette", {3, 0, 7, MAX});
    s.Case("cycleseven", "cyclepalette", {4, 0, 7, 7});
    s.Case("maxpens", "getattribute", {PALETTE, 3, ATTRPALETTE}, 1, {0, 1, 6, 7});
    s.Case("sevenpens", "getattribute", {PALETTE, 4, ATTRPALETTE}, 1, {0, 1, 6, 7});
    s.Case("e", "createpalette", {5, -991});
    s.Case("back", "cyclepalette", {5, 7, 0, MAX});
    s.Case("backpens", "getattribute", {PALETTE, 5, ATTRPALETTE}, 1, {0, 1, 6, 7});

    int exitCode = -1;
    std::string all;
    auto lines = RunAppletScript(dir, s, "", &exitCode, &all);
    ASSERT_EQ(exitCode, 0) << all;
    for (const std::string &key : keys) {
        ASSERT_TRUE(lines.count(key)) << key << "\n" << all;
        std::string code = Code(lines[key]);
        EXPECT_TRUE(code == "0" || code == "1055" || code == "1646") << key << ": " << lines[key];
    }
    // CopyPens(1, 2, 1, count): counts past the eight pens are out of range, not a copy.
    for (size_t e : {7, 8}) EXPECT_EQ(Code(lines["copy4_" + std::to_string(e)]), "1646");
    EXPECT_EQ(Code(lines["copy3_8"]), "1646");
    EXPECT_EQ(Code(lines["copy5_8"]), "1646");
    EXPECT_EQ(Code(lines["cyclemax"]), "0");
    EXPECT_EQ(lines["maxpens"], lines["sevenpens"]);
    // Gray8's pens 0 to 7 run from black to white: each pen took the next, pen 7 pen 0.
    EXPECT_EQ(lines["maxpens"], "0 2368548 4737096 16777215 0");
    // The other way round (7 to 0) each pen took the one before, pen 0 pen 7.
    EXPECT_EQ(lines["backpens"], "0 16777215 0 11974326 14342874");
}

}  // namespace

// images_brush_applet_test.cpp - brushes, callback brushes, draw targets, clip regions and
// BGPics as an applet meets them: loading test-written PNGs through the crop and option
// tables, CreateBrush's options, attributes, FreeBrush's errors, the callback's message,
// locking and look-up-again faults, selections, clip regions and BGPic commands.
#include <gtest/gtest.h>

#include "tests/formats/formats_fixtures.h"
#include "tests/images/images_applet.h"

namespace {

const int BRUSH = 3, BGPIC = 1, CLIPREGION = 35;

// Callback functions: "cb" reports its message; the others select, free, fail or rescale.
const char *CallbackFunctions = R"(
.function cb
.params 1
getglobal r1 "debugprint"
loadk r2 "cb"
loadk r10 "width"
gettable r3 r0 r10
concat r2 r2 r3
loadk r10 "action"
gettable r3 r0 r10
loadk r10 "width"
gettable r4 r0 r10
loadk r10 "height"
gettable r5 r0 r10
loadk r10 "sx"
gettable r6 r0 r10
loadk r10 "rx"
gettable r7 r0 r10
loadk r10 "ry"
gettable r8 r0 r10
loadk r10 "sy"
gettable r9 r0 r10
loadk r10 "userdata"
gettable r10 r0 r10
call r1 10 1
loadk r10 "id"
gettable r10 r0 r10
setglobal r10 "tempid"
return r0 1
.end
.function cbsel
.params 1
getglobal r1 "selectbrush"
loadk r10 "id"
gettable r2 r0 r10
call r1 2 1
return r0 1
.end
.function cbfree
.params 1
getglobal r1 "freebrush"
loadk r10 "id"
gettable r2 r0 r10
call r1 2 1
return r0 1
.end
.function cberr
.params 1
loadk r10 "width"
gettable r1 r0 r10
eq 0 r1 8
jmp cberrdone
getglobal r2 "rgb"
loadk r3 1
call r2 2 1
cberrdone:
return r0 1
.end
.function cbscale
.params 1
getglobal r1 "scalebrush"
loadk r2 33
loadk r3 3
loadk r4 3
call r1 4 1
getglobal r1 "debugprint"
loadk r2 "inner"
loadk r10 "width"
gettable r3 r0 r10
concat r2 r2 r3
getglobal r3 "getlasterror"
call r3 1 2
call r1 3 1
return r0 1
.end
)";

void DefineCallbacks(lvAppletScript &s)
{
    s.Function(CallbackFunctions);
    for (const char *name : {"cb", "cbsel", "cbfree", "cberr", "cbscale"})
        s.Line(std::string("closure r10 ") + name + "\nsetglobal r10 " + Str(name));
}

TEST(BrushApplet, LoadCreateAndFree)
{
    lvScratchDir dir;
    lvAppletScript s;
    auto attr = [&](const std::string &key, lvAppletArg id, int attribute, std::vector<int> items = {}) {
        s.Case(key, "getattribute", {BRUSH, id, attribute}, 1, items);
    };
    // Crops: x at the width is out of range; a width past the picture is cut.
    s.Case("xwidth", "loadbrush", {1, Str("a.png"), Fields({{"x", 6}})});
    s.Case("xneg", "loadbrush", {1, Str("a.png"), Fields({{"x", -1}})});
    s.Case("cut", "loadbrush", {1, Str("a.png"), Fields({{"x", 2}, {"y", 1}, {"width", 100}})});
    attr("cutw", 1, 0);
    attr("cuth", 1, 1);
    attr("cutformat", 1, 19);
    attr("cutdepth", 1, 103);
    // Option conflicts.
    s.Case("c1", "loadbrush", {2, Str("a.png"), Fields({{"transparency", 0xFF}, {"loadpalette", 1}})});
    s.Case("c2", "loadbrush", {2, Str("a.png"), Fields({{"transparentpen", 1}})});
    s.Case("c3", "loadbrush", {2, Str("a.png"), Fields({{"loadalpha", 1}, {"loadpalette", 1}})});
    s.Case("c4", "loadbrush", {2, Str("a.png"), Fields({{"loadalpha", 1}, {"loadtransparency", 1}})});
    s.Case("c5", "loadbrush", {2, Str("a.png"), Fields({{"loadtransparency", 1}, {"transparency", 0}})});
    s.Case("c6", "loadbrush", {2, Str("pal.png"), Fields({{"loadpalette", 1}, {"globalalpha", 5}})});
    s.Case("c7", "loadbrush", {2, Str("a.png"), Fields({{"loadalpha", 1}, {"transparency", 0}})});
    s.Case("c8", "loadbrush", {2, Str("a.png"), Fields({{"globalalpha", 100}, {"transparency", 0}})});
    // A failed load still frees the number it was given.
    s.Case("keep", "createbrush", {8, 3, 3});
    s.Case("replacefail", "loadbrush", {8, Str("a.png"), Fields({{"x", 99}})});
    s.Case("replaced", "getattribute", {BRUSH, 8, 0});
    // A colour key makes a mask; an alpha PNG keeps its alpha; a palette PNG its pens.
    s.Case("key", "loadbrush", {3, Str("a.png"), 0x000000});
    attr("keymask", 3, 16);
    attr("keycolour", 3, 5);
    s.Case("alpha", "loadbrush", {4, Str("rgba.png"), Fields({{"loadalpha", 1}})});
    attr("alphahas", 4, 17);
    s.Case("ga", "loadbrush", {5, Str("a.png"), Fields({{"globalalpha", 128}})});
    attr("gahas", 5, 17);
    s.Case("pal", "loadbrush", {6, Str("pal.png"), Fields({{"loadpalette", 1}, {"loadtransparency", 1}})});
    attr("paldepth", 6, 103);
    attr("palpens", 6, 104, {0, 3});
    attr("palpen", 6, 105);
    attr("palcolour", 6, 5);
    attr("palloader", 6, 91);
    s.Case("extract", "extractpalette", {50, BRUSH, 6});
    s.Case("extractpens", "getattribute", {62, 50, 104}, 1, {0, 1});
    s.Case("extractrgb", "extractpalette", {51, BRUSH, 3});
    s.Case("missing", "loadbrush", {7, Str("missing.png")});
    // CreateBrush's options.
    s.Case("mask", "createbrush", {10, 10, 10, Fields({{"mask", 1}})});
    attr("maskcolour", 10, 5);
    attr("maskdepth", 10, 103);
    s.Case("d8", "createbrush", {11, 5, 5, Fields({{"depth", 8}})});
    attr("d8pens", 11, 104, {0, 255});
    attr("d8depth", 11, 103);
    attr("d8pen", 11, 105);
    s.Case("cga", "createbrush", {12, 5, 5, Fields({{"palette", -999}})});
    attr("cgadepth", 12, 103);
    attr("cgapens", 12, 104, {12});
    s.Case("zero", "createbrush", {13, 0, 5});
    s.Case("am", "createbrush", {13, 5, 5, Fields({{"alphachannel", 1}, {"mask", 1}})});
    s.Case("d32m", "createbrush", {13, 5, 5, Fields({{"depth", 32}, {"mask", 1}})});
    s.Case("d8m", "createbrush", {13, 5, 5, Fields({{"depth", 8}, {"mask", 1}})});
    s.Case("d16", "createbrush", {13, 5, 5, Fields({{"depth", 16}})});
    s.Case("tpen", "createbrush", {13, 5, 5, Fields({{"transparentpen", 1}})});
    s.Case("fillpen", "createbrush", {13, 5, 5, Fields({{"depth", 2}, {"fillpen", 4}})});
    s.Case("d32", "createbrush", {13, 5, 5, 0xFF, Fields({{"depth", 32}})});
    attr("d32alpha", 13, 17);
    attr("unknown", 13, 999);
    // FreeBrush.
    s.Case("free99", "freebrush", {99});
    s.Keep("h", "nil", "createbrush", {"nil", 2, 2});
    attr("hw", "@h", 0);
    s.Case("freeh", "freebrush", {"@h"});
    s.Case("freeh2", "freebrush", {"@h"});
    s.Case("count", "getattribute", {BRUSH, 0, 60});

    PngFixture png;
    png.width = 6, png.height = 4;
    WriteBytes(dir.File("a.png"), MakePng(png));
    PngFixture rgba;
    rgba.colourType = 6;
    WriteBytes(dir.File("rgba.png"), MakePng(rgba));
    PngFixture pal;
    pal.colourType = 3, pal.bitDepth = 2, pal.width = 4, pal.height = 2;
    pal.palette = {255, 0, 0, 0, 255, 0, 0, 0, 255, 9, 8, 7};
    pal.trns = {255, 0};
    WriteBytes(dir.File("pal.png"), MakePng(pal));

    int exitCode = -1;
    std::string all;
    auto lines = RunAppletScript(dir, s, "", &exitCode, &all);
    ASSERT_EQ(exitCode, 0) << all;
    const std::map<std::string, std::string> expected = {
        {"xwidth", "1217 Nil"}, {"xneg", "1154 Nil"},   {"cut", "0 Nil"},       {"cutw", "0 4"},
        {"cuth", "0 3"},        {"cutformat", "0 PNG"}, {"cutdepth", "0 24"},   {"c1", "1055 Nil"},
        {"c2", "1055 Nil"},     {"c3", "1055 Nil"},     {"c4", "1055 Nil"},     {"c5", "1055 Nil"},
        {"c6", "1055 Nil"},     {"c7", "1223 Nil"},     {"c8", "1223 Nil"},     {"keep", "0 Nil"},      {"replacefail", "1217 Nil"},
        {"replaced", "1174 Nil"},     {"key", "0 Nil"},
        {"keymask", "0 1"},     {"keycolour", "0 0"},   {"alpha", "0 Nil"},     {"alphahas", "0 1"},
        {"ga", "0 Nil"},        {"gahas", "0 1"},       {"pal", "0 Nil"},       {"palpens", "0 16711680 591879"},
        {"palpen", "0 1"},      {"palcolour", "0 -1"},  {"palloader", "0 inbuilt"}, {"extract", "0 Nil"}, {"extractpens", "0 16711680 65280"},
        {"extractrgb", "1644 Nil"},
        {"mask", "0 Nil"},      {"maskcolour", "0 11518174"}, {"maskdepth", "0 32"},
        {"d8", "0 Nil"},        {"d8pens", "0 0 0"},    {"d8depth", "0 8"},     {"d8pen", "0 -1"},
        {"cga", "0 Nil"},       {"cgadepth", "0 4"},    {"cgapens", "0 11162880"},
        {"zero", "1218 Nil"},   {"am", "1055 Nil"},     {"d32m", "1055 Nil"},   {"d8m", "1055 Nil"},
        {"d16", "1055 Nil"},    {"tpen", "1055 Nil"},   {"fillpen", "1646 Nil"},
        {"d32", "0 Nil"},       {"d32alpha", "0 1"},    {"unknown", "1080 Nil"}, {"free99", "1174 Nil"},
        {"nil", "0"},           {"hw", "0 2"},          {"freeh", "0 Nil"},     {"freeh2", "1041 Nil"},
    };
    for (const auto &[key, value] : expected) EXPECT_EQ(lines[key], value) << key << "\n" << all;
    EXPECT_NE(lines["missing"].substr(0, 4), "0 Ni") << lines["missing"];
    EXPECT_TRUE(lines["paldepth"] == "0 2" || lines["paldepth"] == "0 8") << lines["paldepth"];
}

TEST(BrushApplet, ErrorsThatEndTheRunNameTheirCause)
{
    struct Case {
        const char *command;
        std::vector<lvAppletArg> args;
        const char *message;
    } cases[] = {
        {"freebrush", {1234}, "Could not find brush 1234!"},
        {"createbrush", {1, 5, 5, Fields({{"callback", 5}})}, "Function expected in table argument \"callback\"!"},
    };
    for (const Case &c : cases) {
        lvScratchDir dir;
        lvAppletScript s;
        s.Line("getglobal r0 \"exitonerror\"\nloadk r1 1\ncall r0 2 1");
        s.Case("call", c.command, c.args);
        int exitCode = -1;
        std::string all;
        RunAppletScript(dir, s, "", &exitCode, &all);
        EXPECT_NE(exitCode, 0) << c.command;
        EXPECT_NE(all.find(c.message), std::string::npos) << all;
    }
}

TEST(BrushApplet, CallbackBrushes)
{
    lvScratchDir dir;
    lvAppletScript s;
    DefineCallbacks(s);
    // The message at creation and at each rescale; the brush keeps what was drawn.
    s.Case("cbmake", "createbrush", {20, 10, 10, Fields({{"callback", "@cb"}, {"userdata", Str("ud")}})});
    s.Case("cbtype", "getattribute", {BRUSH, 20, 9});
    s.Case("tempgone", "freebrush", {"@tempid"});
    s.Case("scale", "scalebrush", {20, 20, 5});
    s.Case("scalew", "getattribute", {BRUSH, 20, 0});
    // An error in the callback leaves the brush unchanged.
    s.Case("errmake", "createbrush", {21, 10, 10, Fields({{"callback", "@cberr"}})});
    s.Case("errscale", "scalebrush", {21, 8, 8});
    s.Case("errw", "getattribute", {BRUSH, 21, 0});
    // The callback may select its temporary brush and leave it so; the outer selection is back.
    s.Case("outer", "createbrush", {30, 4, 4});
    s.Case("selouter", "selectbrush", {30});
    s.Case("selmake", "createbrush", {31, 6, 6, Fields({{"callback", "@cbsel"}})});
    s.Case("stillsel", "freebrush", {30});
    s.Case("end", "endselect", {});
    s.Case("freeouter", "freebrush", {30});
    s.Case("end2", "endselect", {});
    // Freeing the temporary brush is reported; rescaling the brush being drawn is refused.
    s.Case("freemake", "createbrush", {32, 4, 4, Fields({{"callback", "@cbfree"}})});
    s.Case("freegone", "getattribute", {BRUSH, 32, 0});
    s.Case("lockmake", "createbrush", {33, 4, 4, Fields({{"callback", "@cbscale"}})});
    s.Case("lockscale", "scalebrush", {33, 8, 8});
    s.Case("lockw", "getattribute", {BRUSH, 33, 0});

    int exitCode = -1;
    std::string all;
    auto lines = RunAppletScript(dir, s, "", &exitCode, &all);
    ASSERT_EQ(exitCode, 0) << all;
    EXPECT_EQ(lines["cbmake"], "0 Nil") << all;
    EXPECT_EQ(lines["cb10"], "Draw 10 10 1 0 0 1 ud") << all;
    EXPECT_EQ(lines["cb20"], "Draw 20 5 2 0 0 0.5 ud") << all;
    EXPECT_EQ(lines["cbtype"], "0 1");
    EXPECT_EQ(lines["tempgone"], "1041 Nil");
    EXPECT_EQ(lines["scale"], "0 Nil");
    EXPECT_EQ(lines["scalew"], "0 20");
    EXPECT_EQ(lines["errmake"], "0 Nil");
    EXPECT_NE(lines["errscale"].substr(0, 2), "0 ") << lines["errscale"];
    EXPECT_EQ(lines["errw"], "0 10");
    EXPECT_EQ(lines["selmake"], "0 Nil") << all;
    EXPECT_EQ(lines["stillsel"], "1149 Nil");
    EXPECT_EQ(lines["end"], "0 Nil");
    EXPECT_EQ(lines["freeouter"], "0 Nil");
    // The applet's display is the output: nothing selected to end.
    EXPECT_EQ(lines["end2"], "1055 Nil");
    EXPECT_EQ(lines["freemake"], "1041 Nil");
    EXPECT_EQ(lines["freegone"], "1174 Nil");
    EXPECT_EQ(lines["inner4"], "1174") << all;
    EXPECT_EQ(lines["inner8"], "1314") << all;
    EXPECT_EQ(lines["lockscale"], "0 Nil");
    EXPECT_EQ(lines["lockw"], "0 8");
}

TEST(OffscreenApplet, SelectionsAndClipRegions)
{
    lvScratchDir dir;
    lvAppletScript s;
    s.Case("ai50", "setalphaintensity", {Str("50%")});
    s.Case("ai-1", "setalphaintensity", {-1});
    s.Case("ai256", "setalphaintensity", {256});
    s.Case("ai-2", "setalphaintensity", {-2});
    s.Case("mm6", "setmaskmode", {6});
    s.Case("mm3", "setmaskmode", {3});
    s.Case("endnone", "endselect", {});
    s.Case("b1", "createbrush", {1, 10, 10});
    s.Case("bg", "createbgpic", {1, 10, 10});
    s.Case("layers", "selectbgpic", {1});
    s.Case("bgimage", "selectbgpic", {1, 0});
    s.Case("endbg", "endselect", {});
    s.Case("pb", "createbrush", {2, 4, 4, Fields({{"depth", 4}})});
    s.Case("palmask", "selectmask", {2});
    s.Case("palsel", "selectbrush", {2});
    s.Case("palend", "endselect", {});
    s.Case("animmiss", "selectmask", {1, 4});
    // Clip regions.
    s.Keep("cr", "crnil", "createclipregion", {"nil", 14, -10, 0, 20, 5});
    s.Case("crx", "getattribute", {CLIPREGION, "@cr", 7});
    s.Case("crw", "getattribute", {CLIPREGION, "@cr", 0});
    s.Case("crzero", "createclipregion", {1, 14, 0, 0, 0, 5});
    s.Case("crtype", "createclipregion", {1, 99, 0, 0, 5, 5});
    s.Case("mb", "createbrush", {5, 8, 6, Fields({{"mask", 1}})});
    s.Case("shape", "createclipregion", {2, 28, 5, 0, 0});
    s.Case("freemb", "freebrush", {5});
    s.Case("shapew", "getattribute", {CLIPREGION, 2, 0});
    s.Case("nomask", "createclipregion", {3, 28, 1, 0, 0});
    s.Case("wide", "createclipregion", {3, 14, 0, 0, 11, 5});
    s.Case("setnodisp", "setclipregion", {3});  // on the display: its BGPic is the output
    s.Case("sel", "selectbrush", {1});
    s.Case("setwide", "setclipregion", {3});
    s.Case("setshape", "setclipregion", {2});
    s.Case("setnone", "setclipregion", {-1});
    s.Case("end", "endselect", {});
    s.Case("freecr", "freeclipregion", {2});
    s.Case("freecr2", "freeclipregion", {2});
    int exitCode = -1;
    std::string all;
    auto lines = RunAppletScript(dir, s, "", &exitCode, &all);
    ASSERT_EQ(exitCode, 0) << all;
    const std::map<std::string, std::string> expected = {
        {"ai50", "0 Nil"},     {"ai-1", "0 Nil"},     {"ai256", "1055 Nil"},  {"ai-2", "1055 Nil"},
        {"mm6", "1055 Nil"},   {"mm3", "0 Nil"},      {"endnone", "1055 Nil"}, {"layers", "1078 Nil"},
        {"bgimage", "0 Nil"},  {"endbg", "0 Nil"},    {"palmask", "1645 Nil"}, {"palsel", "0 Nil"},
        {"palend", "0 Nil"},   {"animmiss", "1014 Nil"}, {"crnil", "0"},      {"crx", "0 0"},
        {"crw", "0 10"},       {"crzero", "1055 Nil"}, {"crtype", "1055 Nil"}, {"shape", "0 Nil"},
        {"freemb", "0 Nil"},   {"shapew", "0 8"},     {"nomask", "1172 Nil"}, {"wide", "0 Nil"},
        {"setnodisp", "0 Nil"}, {"sel", "0 Nil"},  {"setwide", "1225 Nil"}, {"setshape", "0 Nil"},
        {"setnone", "0 Nil"},  {"end", "0 Nil"},      {"freecr", "0 Nil"},    {"freecr2", "1215 Nil"},
    };
    for (const auto &[key, value] : expected) EXPECT_EQ(lines[key], value) << key << "\n" << all;
}

TEST(BGPicApplet, Commands)
{
    lvScratchDir dir;
    lvAppletScript s;
    auto attr = [&](const std::string &key, lvAppletArg id, int attribute) {
        s.Case(key, "getattribute", {BGPIC, id, attribute});
    };
    s.Case("zero", "createbgpic", {1, 0, 10});
    s.Case("gzero", "creategradientbgpic", {1, 2, 0, 0xFFFFFF, 0, 10});
    s.Case("solid", "createbgpic", {1, 6, 4, 0x00FF00});
    attr("solidw", 1, 0);
    attr("soliddepth", 1, 103);
    s.Case("palbg", "createbgpic", {2, 6, 4, Fields({{"palette", -992}, {"fillpen", 3}})});
    attr("palbgdepth", 2, 103);
    s.Case("palbgpen", "createbgpic", {3, 6, 4, Fields({{"palette", -992}, {"fillpen", 4}})});
    s.Case("tpennopal", "createbgpic", {3, 6, 4, Fields({{"transparentpen", 1}})});
    s.Case("flat", "loadbgpic", {4, Str("rgba.png"), Fields({{"loadalpha", 1}, {"fillstyle", 1}, {"fillcolor", 0xFF0000}})});
    attr("flatalpha", 4, 17);
    attr("flatdepth", 4, 103);
    s.Case("keepalpha", "loadbgpic", {5, Str("rgba.png"), Fields({{"loadalpha", 1}})});
    attr("keptalpha", 5, 17);
    s.Case("palfill", "loadbgpic", {6, Str("pal.png"), Fields({{"loadpalette", 1}, {"fillstyle", 2}})});
    s.Case("palload", "loadbgpic", {6, Str("pal.png"), Fields({{"loadpalette", 1}, {"loadtransparency", 1}})});
    attr("palloadpen", 6, 105);
    s.Case("fill4", "loadbgpic", {6, Str("rgba.png"), Fields({{"fillstyle", 4}})});
    s.Case("mna", "loadbgpic", {6, Str("rgba.png"), Fields({{"loadalpha", 1}, {"transparency", 0}})});
    std::vector<lvAppletArg> colours;
    for (int i = 0; i < 300; i++) colours.push_back(0x010101 * (i % 256));
    s.Case("colours", "loadbgpic", {7, Str("rgba.png"), 0, List(colours)});
    s.Case("scale", "scalebgpic", {1, 12, 8});
    attr("scalew", 1, 0);
    s.Case("scalebad", "scalebgpic", {1, 0, 8});
    s.Case("copyself", "copybgpic", {1, 1});
    s.Keep("c", "copy", "copybgpic", {1, "nil"});
    s.Case("copyw", "getattribute", {BGPIC, "@c", 0});
    s.Case("free99", "freebgpic", {99});
    s.Case("freec", "freebgpic", {"@c"});
    s.Case("freec2", "freebgpic", {"@c"});
    s.Case("display", "displaybgpic", {1});
    s.Case("b", "createbrush", {9, 3, 3, 0x0000FF});
    s.Case("tex", "createtexturedbgpic", {8, 9, 7, 5});
    attr("texw", 8, 0);
    attr("textype", 8, 9);

    PngFixture rgba;
    rgba.colourType = 6;
    WriteBytes(dir.File("rgba.png"), MakePng(rgba));
    PngFixture pal;
    pal.colourType = 3, pal.bitDepth = 2, pal.width = 4, pal.height = 2;
    pal.palette = {255, 0, 0, 0, 255, 0, 0, 0, 255, 9, 8, 7};
    pal.trns = {255, 0};
    WriteBytes(dir.File("pal.png"), MakePng(pal));

    int exitCode = -1;
    std::string all;
    auto lines = RunAppletScript(dir, s, "", &exitCode, &all);
    ASSERT_EQ(exitCode, 0) << all;
    const std::map<std::string, std::string> expected = {
        {"zero", "1055 Nil"},     {"gzero", "1218 Nil"},     {"solid", "0 Nil"},      {"solidw", "0 6"},
        {"soliddepth", "0 24"},   {"palbg", "0 Nil"},        {"palbgdepth", "0 2"},   {"palbgpen", "1646 Nil"},
        {"tpennopal", "1055 Nil"}, {"flat", "0 Nil"},        {"flatalpha", "0 0"},    {"flatdepth", "0 24"},
        {"keepalpha", "0 Nil"},   {"keptalpha", "0 1"},      {"palfill", "1653 Nil"}, {"palload", "0 Nil"},
        {"palloadpen", "0 1"},    {"fill4", "1055 Nil"},     {"mna", "1223 Nil"},     {"colours", "0 Nil"},
        {"scale", "0 Nil"},       {"scalew", "0 12"},        {"scalebad", "1218 Nil"}, {"copyself", "1055 Nil"},
        {"copy", "0"},            {"copyw", "0 12"},         {"free99", "1177 Nil"},  {"freec", "0 Nil"},
        {"freec2", "1041 Nil"},   {"display", "0 Nil"},   {"b", "0 Nil"},          {"tex", "0 Nil"},
        {"texw", "0 7"},          {"textype", "0 1"},
    };
    for (const auto &[key, value] : expected) EXPECT_EQ(lines[key], value) << key << "\n" << all;
    // A freed Nil brush is an error, not a collision.
    EXPECT_NE(lines["nilgone"].substr(0, 2), "0 ") << lines["nilgone"];
}

// DisplayBGPic puts the BGPic's pixels on the display (its size with them, its position
// kept where not given); DisplayBGPicPart draws a part, with its tags, from a BGPic or
// from the display's own (-1); the bad identifiers and parts give their codes.
TEST(BGPicApplet, DisplayWholeAndParts)
{
    const int GREEN = 0x00FF00, BLUE = 0x0000FF;
    lvScratchDir dir;
    lvAppletScript s;
    s.Case("mk2", "createbgpic", {2, 20, 10, GREEN});
    s.Case("mk3", "createbgpic", {3, 8, 8, BLUE});
    s.Case("y0", "getattribute", {21, 0, 8});
    s.Case("show", "displaybgpic", {2, Fields({{"x", 10}})});
    s.Case("w", "getattribute", {21, 0, 0});
    s.Case("h", "getattribute", {21, 0, 1});
    s.Case("y1", "getattribute", {21, 0, 8});
    s.Case("px", "readpixel", {19, 9});
    s.Case("scaleshown", "scalebgpic", {2, 5, 5});
    s.Case("part", "displaybgpicpart", {3, 0, 0, 4, 4, 10, 2});
    s.Case("in", "readpixel", {13, 5});
    s.Case("right", "readpixel", {14, 5});
    s.Case("left", "readpixel", {9, 5});
    // Without a destination the part lands where it sits in the BGPic.
    s.Case("same", "displaybgpicpart", {3, 1, 1, 1, 1});
    s.Case("samepx", "readpixel", {1, 1});
    s.Case("samenext", "readpixel", {2, 1});
    // Anchored at its bottom-right corner, a 2x2 part ends just before (6, 8).
    s.Case("tags", "displaybgpicpart", {3, 0, 0, 2, 2, 6, 8, Fields({{"anchorx", 1}, {"anchory", 1}})});
    s.Case("tagin", "readpixel", {5, 7});
    s.Case("tagout", "readpixel", {6, 8});
    // The display's own BGPic (still green under what was drawn) painted over the blue.
    s.Case("own", "displaybgpicpart", {-1, 0, 0, 2, 2, 10, 2});
    s.Case("ownpx", "readpixel", {11, 3});
    s.Case("layersflag", "displaybgpicpart", {3, 0, 0, 1, 1, 0, 0, 1});
    s.Case("missing", "displaybgpic", {99});
    s.Case("partmissing", "displaybgpicpart", {99, 0, 0, 1, 1});
    s.Case("neg", "displaybgpicpart", {3, -1, 0, 2, 2});
    s.Case("beyond", "displaybgpicpart", {3, 8, 0, 2, 2});
    s.Case("empty", "displaybgpicpart", {3, 0, 0, 0, 2});
    s.Case("back", "displaybgpic", {3});
    s.Case("w3", "getattribute", {21, 0, 0});
    s.Case("px3", "readpixel", {7, 7});
    int exitCode = -1;
    std::string all;
    auto lines = RunAppletScript(dir, s, "", &exitCode, &all);
    ASSERT_EQ(exitCode, 0) << all;
    const std::string green = "0 " + std::to_string(GREEN), blue = "0 " + std::to_string(BLUE);
    const std::map<std::string, std::string> expected = {
        {"show", "0 Nil"},          {"w", "0 20"},           {"h", "0 10"},           {"px", green},
        {"scaleshown", "1366 Nil"}, {"part", "0 Nil"},       {"in", blue},            {"right", green},
        {"left", green},            {"same", "0 Nil"},       {"samepx", blue},        {"samenext", green},
        {"tags", "0 Nil"},          {"tagin", blue},         {"tagout", green},       {"own", "0 Nil"},
        {"ownpx", green},           {"layersflag", "0 Nil"}, {"missing", "1177 Nil"}, {"partmissing", "1177 Nil"},
        {"neg", "1154 Nil"},        {"beyond", "1217 Nil"},  {"empty", "1218 Nil"},   {"back", "0 Nil"},
        {"w3", "0 8"},              {"px3", blue},
    };
    for (const auto &[key, value] : expected) EXPECT_EQ(lines[key], value) << key << "\n" << all;
    EXPECT_EQ(lines["y1"], lines["y0"]) << all;
}

}  // namespace

namespace {

// Every command of the five libraries is a global function of the running applet.
TEST(ImageLibraries, CommandTablesHaveEveryName)
{
    const char *names[] = {
        // brush
        "CreateBrush", "DisplayBrush", "DisplayBrushPart", "ScaleBrush", "FreeBrush", "TintBrush", "ReplaceColors",
        "InvertBrush", "FlipBrush", "MixBrush", "BrushToGray", "RotateBrush", "GetBrushLink", "CopyBrush",
        "SetBrushTransparency", "LoadBrush", "SaveBrush", "DeleteAlphaChannel", "CropBrush", "InvertMask",
        "InvertAlphaChannel", "FloodFill", "DeleteMask", "ConvertToBrush", "TransformBrush", "TrimBrush",
        "RasterizeBrush", "BlurBrush", "EmbossBrush", "EdgeBrush", "SharpenBrush", "SolarizeBrush", "GammaBrush",
        "ContrastBrush", "ModulateBrush", "SepiaToneBrush", "CharcoalBrush", "SwirlBrush", "PixelateBrush",
        "BrushToMonochrome", "ChangeBrushTransparency", "CreateShadowBrush", "CreateBorderBrush", "WaterRippleBrush",
        "OilPaintBrush", "BrushToRGBArray", "RGBArrayToBrush", "PerspectiveDistortBrush", "ArcDistortBrush",
        "PolarDistortBrush", "BarrelDistortBrush", "CreateGradientBrush", "CreateTexturedBrush", "ReadBrushPixel",
        "WriteBrushPixel", "QuantizeBrush", "ReduceAlphaChannel", "IsBrushEmpty", "RemapBrush", "RemoveBrushPalette",
        "SetBrushPen", "GetBrushPen", "SetBrushDepth", "SetBrushTransparentPen", "SetBrushPalette", "BrushToPenArray",
        "PenArrayToBrush", "ExtendBrush",
        // bgpic
        "DisplayBGPic", "DisplayBGPicPart", "ScaleBGPic", "CreateGradientBGPic", "CreateRainbowBGPic",
        "CreateTexturedBGPic", "BrushToBGPic", "BGPicToBrush", "CreateBGPic", "FreeBGPic", "LoadBGPic", "CopyBGPic",
        // palette
        "CreatePalette", "FreePalette", "LoadPalette", "SavePalette", "SetPalette", "CyclePalette", "TintPalette",
        "InvertPalette", "PaletteToGray", "SolarizePalette", "GammaPalette", "ContrastPalette", "ModulatePalette",
        "GetBestPen", "CopyPalette", "ExtractPalette", "SetPaletteMode", "SetDepth", "SetCycleTable", "SetDrawPen",
        "SetPen", "GetPen", "SelectPalette", "ReadPen", "WritePen", "SetTransparentPen", "SetPalettePen",
        "GetPalettePen", "SetPaletteDepth", "SetPaletteTransparentPen", "SetGradientPalette", "SetStandardPalette",
        "SetDitherMode", "SetTransparentThreshold", "SetShadowPen", "SetBorderPen", "SetBulletPen", "CopyPens",
        "GetFreePen",
        // offscreen and clipregion
        "SelectBrush", "SelectAnim", "SelectBGPic", "SelectLayer", "SelectMask", "SelectAlphaChannel", "EndSelect",
        "SetMaskMode", "SetAlphaIntensity", "CreateClipRegion", "SetClipRegion", "FreeClipRegion",
    };
    ExpectCommandsRegistered(names);
}

// Collision of brush pairs through real brushes: opaque boxes, a mask, an alpha channel and
// a palette brush's transparent pen each decide which pixels count; a brush against a box.
TEST(BrushApplet, CollisionOfBrushPairs)
{
    lvScratchDir dir;
    lvAppletScript s;
    const int VSBOX = 46;
    s.Case("opaque", "createbrush", {1, 10, 10, 0xFFFFFF});
    s.Case("masked", "createbrush", {2, 10, 10, 0xFF0000, Fields({{"mask", 1}, {"clear", 1}})});
    s.Case("dot", "writebrushpixel", {2, 5, 7, 0xFF0000, 1}, 0);
    s.Case("alpha", "createbrush", {3, 4, 4, 0xFF, Fields({{"alphachannel", 1}, {"clear", 1}})});
    s.Case("adot", "writebrushpixel", {3, 1, 1, 0xFF, 128}, 0);
    s.Case("pal", "createbrush", {4, 4, 4, 0, Fields({{"depth", 2}, {"transparentpen", 0}})});
    struct Probe {
        const char *key;
        std::vector<lvAppletArg> args;
    } probes[] = {
        {"touch", {BRUSH, 1, 0, 0, 1, 9, 0}},     {"apart", {BRUSH, 1, 0, 0, 1, 10, 0}},
        {"maskhit", {BRUSH, 1, 0, 0, 2, 0, 0}},   {"maskmiss", {BRUSH, 1, 0, 0, 2, 6, 0}},
        {"maskself", {BRUSH, 2, 0, 0, 2, 0, 0}},  {"maskshift", {BRUSH, 2, 0, 0, 2, 1, 0}},
        {"alphahit", {BRUSH, 3, 0, 0, 1, 0, 0}},  {"alphamiss", {BRUSH, 3, 0, 0, 1, 2, 2}},
        {"alphamask", {BRUSH, 3, 4, 6, 2, 0, 0}}, {"penclear", {BRUSH, 4, 0, 0, 1, 0, 0}},
        {"boxhit", {VSBOX, 2, 0, 0, 5, 7, 1, 1}}, {"boxmiss", {VSBOX, 2, 0, 0, 4, 7, 1, 1}},
        {"missing", {BRUSH, 99, 0, 0, 1, 0, 0}},
    };
    for (const Probe &p : probes) s.Case(p.key, "collision", p.args);
    // A brush made with a Nil identifier takes part by its handle.
    s.Keep("h", "nilbrush", "createbrush", {"nil", 3, 3});
    s.Case("nilhit", "collision", {BRUSH, "@h", 8, 8, 1, 0, 0});
    s.Case("nilmiss", "collision", {BRUSH, 1, 0, 0, "@h", 10, 10});
    s.Case("nilbox", "collision", {VSBOX, "@h", 0, 0, 2, 2, 1, 1});
    s.Case("nilfree", "freebrush", {"@h"});
    s.Case("nilgone", "collision", {BRUSH, "@h", 0, 0, 1, 0, 0});
    s.Case("pen", "writebrushpixel", {4, 3, 3, 1}, 0);
    s.Case("penhit", "collision", {BRUSH, 4, 0, 0, 1, 0, 0});
    s.Case("penmiss", "collision", {BRUSH, 4, 0, 0, 1, 4, 0});

    int exitCode = -1;
    std::string all;
    auto lines = RunAppletScript(dir, s, "", &exitCode, &all);
    ASSERT_EQ(exitCode, 0) << all;
    const std::map<std::string, std::string> expected = {
        {"touch", "0 1"},     {"apart", "0 0"},     {"maskhit", "0 1"},   {"maskmiss", "0 0"},
        {"maskself", "0 1"},  {"maskshift", "0 0"}, {"alphahit", "0 1"},  {"alphamiss", "0 0"},
        {"alphamask", "0 1"}, {"penclear", "0 0"},  {"boxhit", "0 1"},    {"boxmiss", "0 0"},
        {"missing", "1174 Nil"}, {"penhit", "0 1"}, {"penmiss", "0 0"},
        {"nilbrush", "0"},    {"nilhit", "0 1"},    {"nilmiss", "0 0"},   {"nilbox", "0 1"},
        {"nilfree", "0 Nil"},
    };
    for (const auto &[key, value] : expected) EXPECT_EQ(lines[key], value) << key << "\n" << all;
}

}  // namespace

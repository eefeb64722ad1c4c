// Vector paths as an applet meets them: paths built, queried, copied and drawn
// into selected brushes (read back with ReadPixel), the engine choice and its
// error, iterators that outlive their path, and shapes drawn as paths.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "tests/images/images_applet.h"

namespace {

const int FILLNONE = 0, FILLCOLOR = 1, FORM_NORMAL = 1, FORM_ANTIALIAS = 16, FORM_BORDER = 64;
const unsigned WHITE = 0xFFFFFF, RED = 0xFF0000, GREEN = 0x00FF00;

std::map<std::string, std::string> RunPaths(const lvAppletScript &s, std::string *all)
{
    lvScratchDir dir;
    int exitCode = -1;
    auto lines = RunAppletScript(dir, s, "", &exitCode, all);
    EXPECT_EQ(exitCode, 0) << *all;
    return lines;
}

TEST(VectorPathApplet, BuildQueryCopyAndIterate)
{
    lvAppletScript s;
    s.Case("start", "startpath", {1});
    s.Case("empty", "ispathempty", {1});
    s.Case("box", "addboxtopath", {1, 10, 10, 20, 10});
    s.Case("full", "ispathempty", {1});
    // Outlines (fill style 0) measure with the line width, filled paths without.
    s.Case("outlined", "getpathextents", {1}, 4);
    s.Case("fill", "setfillstyle", {FILLCOLOR});
    s.Case("extents", "getpathextents", {1}, 4);
    s.Case("move", "moveto", {1, 3, 4});
    s.Case("rel", "rellineto", {1, 2, 2});
    s.Case("point", "getcurrentpoint", {1}, 2);
    s.Case("clear", "clearpath", {1});
    s.Case("cleared", "ispathempty", {1});
    s.Case("nopath", "moveto", {7, 1, 1});
    // Dashes: a negative first length turns them off.
    s.Case("dash", "setdash", {2, 4, 4});
    s.Case("getdash", "getdash", {}, 1);
    s.Case("dashoff", "setdash", {5, -1});
    s.Case("getdash2", "getdash", {}, 1);
    s.Case("join", "setlinejoin", {2.7});
    s.Case("getjoin", "getlinejoin", {});
    // An iterator keeps the path's identifier: after FreePath it ends cleanly.
    s.Case("start2", "startpath", {2});
    s.Case("m2", "moveto", {2, 1, 2});
    s.Case("l2", "lineto", {2, 3, 4});
    s.Case("b2", "addboxtopath", {2, 0, 0, 5, 5, Fields({{"roundlevel", 150}, {"cornerb", 7}})});
    s.Keep("it", "items", "pathitems", {2});
    s.Case("item1", "it", {}, 1, {});
    s.Case("free2", "freepath", {2});
    s.Case("item2", "it", {}, 1);
    s.Keep("it3", "items3", "pathitems", {1});
    // Copies live on when either path goes.
    s.Case("start4", "startpath", {4});
    s.Case("b4", "addcircletopath", {4, 10, 10, 5});
    s.Case("copy", "copypath", {4, 5});
    s.Case("copyself", "copypath", {5, 5});
    s.Case("free4", "freepath", {4});
    s.Case("ext5", "getpathextents", {5}, 4);
    s.Case("copyback", "copypath", {5, 4});
    s.Case("free5", "freepath", {5});
    s.Case("ext4", "getpathextents", {4}, 4);
    s.Case("append", "appendpath", {4, 4});

    std::string all;
    auto lines = RunPaths(s, &all);
    EXPECT_EQ(Code(lines["start"]), "0") << all;
    EXPECT_EQ(lines["empty"], "0 1");
    EXPECT_EQ(lines["full"], "0 0");
    EXPECT_EQ(lines["outlined"], "0 9.5 9.5 30.5 20.5");
    EXPECT_EQ(lines["extents"], "0 10 10 30 20");
    EXPECT_EQ(lines["point"], "0 5 6");
    EXPECT_EQ(lines["cleared"], "0 1");
    EXPECT_EQ(Code(lines["nopath"]), "1393");
    EXPECT_EQ(lines["getdash"], "0 2");
    EXPECT_EQ(lines["getdash2"], "0 -1");
    EXPECT_EQ(lines["getjoin"], "0 2");
    EXPECT_EQ(Code(lines["item1"]), "0");
    EXPECT_EQ(Code(lines["free2"]), "0");
    EXPECT_EQ(lines["item2"], "0 Nil") << all;
    EXPECT_EQ(Code(lines["items3"]), "0");
    EXPECT_EQ(Code(lines["copyself"]), "1055");
    // A circle of radius 5 about 10, 10, to the 26.6 grid.
    for (const char *key : {"ext5", "ext4"}) {
        std::istringstream in(lines[key]);
        double code, box[4];
        ASSERT_TRUE(in >> code >> box[0] >> box[1] >> box[2] >> box[3]) << key << ": " << lines[key];
        const double expected[4] = {5, 5, 15, 15};
        for (int i = 0; i < 4; i++) EXPECT_NEAR(box[i], expected[i], 1.0 / 32) << key;
    }
    EXPECT_EQ(Code(lines["append"]), "1055");
}

// A dash length that is no number stops the run with the argument's own error, not with
// a lack of memory.
TEST(VectorPathApplet, ADashLengthThatIsNoNumberIsAnArgumentError)
{
    lvAppletScript s;
    s.Case("dash", "setdash", {5, 2, "\"wide\""});
    lvScratchDir dir;
    std::string all;
    int exitCode = 0;
    RunAppletScript(dir, s, "", &exitCode, &all);
    EXPECT_NE(exitCode, 0);
    EXPECT_NE(all.find("Number expected in argument 3!"), std::string::npos) << all;
}

TEST(VectorPathApplet, ItemsTablesDescribeEachCommand)
{
    lvAppletScript s;
    s.Case("start", "startpath", {1});
    s.Case("m", "relmoveto", {1, 1.5, 2});
    s.Case("c", "curveto", {1, 1, 2, 3, 4, 5, 6});
    s.Case("a", "addarctopath", {1, 10, 11, 5, 6, 0, 90, 0});
    s.Case("b", "addboxtopath", {1, 0, 0, 5, 5, Fields({{"roundlevel", 150}, {"cornerb", 7}})});
    s.Case("sp", "startsubpath", {1});
    s.Case("cl", "closepath", {1});
    s.Keep("it", "items", "pathitems", {1});
    // Each item: its type and the fields that tell it apart (reading a field an
    // item lacks would be a script error).
    struct Item {
        const char *key;
        std::vector<const char *> fields;
    } items[] = {
        {"i_move", {"rel", "x", "y"}},
        {"i_curve", {"rel", "x1", "y3"}},
        {"i_arc", {"xc", "yc", "ra", "rb", "start", "end", "clockwise"}},
        {"i_box", {"x", "width", "height"}},
        {"i_sub", {}},
        {"i_close", {}},
    };
    for (const Item &item : items) {
        s.Line("getglobal r10 \"it\"\ncall r10 1 2\nsetglobal r10 \"item\"");
        s.Line("getglobal r0 \"debugprint\"\nloadk r1 \"" + std::string(item.key) + "\"");
        s.Line("getglobal r50 \"item\"\nloadk r30 \"type\"\ngettable r2 r50 r30");
        int reg = 3;
        for (const char *f : item.fields) {
            s.Line("loadk r30 \"" + std::string(f) + "\"\ngettable r" + std::to_string(reg++) + " r50 r30");
        }
        s.Line("call r0 " + std::to_string(reg) + " 1");
        if (std::string(item.key) != "i_box") continue;
        // The box's corners at keys 0 to 3: "roundlevel" clamped to 100, then "cornerb".
        s.Line("getglobal r0 \"debugprint\"\nloadk r1 \"corners\"\ngetglobal r50 \"item\"");
        s.Line("loadk r30 \"round\"\ngettable r51 r50 r30");
        for (int i = 0; i < 4; i++) s.Line("loadk r30 " + std::to_string(i) + "\ngettable r" + std::to_string(2 + i) + " r51 r30");
        s.Line("call r0 6 1");
    }
    s.Case("end", "it", {});
    std::string all;
    auto lines = RunPaths(s, &all);
    EXPECT_EQ(lines["i_move"], "MoveTo 1 1.5 2") << all;
    EXPECT_EQ(lines["i_curve"], "CurveTo 0 1 6");
    EXPECT_EQ(lines["i_arc"], "Arc 10 11 5 6 0 90 0");
    EXPECT_EQ(lines["i_box"], "Box 0 5 5");
    EXPECT_EQ(lines["corners"], "100 7 100 100");
    EXPECT_EQ(lines["i_sub"], "NewSubPath");
    EXPECT_EQ(lines["i_close"], "ClosePath");
    EXPECT_EQ(lines["end"], "0 Nil");
}

TEST(VectorPathApplet, DrawingEnginesAndShapesAsPaths)
{
    lvAppletScript s;
    s.Case("fill", "setfillstyle", {FILLCOLOR});
    s.Case("mk", "createbrush", {1, 40, 40, 0});
    s.Case("sel", "selectbrush", {1});
    s.Case("start", "startpath", {1});
    s.Case("emptydraw", "drawpath", {1, 0, 0, RED});
    s.Case("box", "addboxtopath", {1, 0, 0, 10, 6});
    // A lone MoveTo has a current point and nothing to rasterise.
    s.Case("start6", "startpath", {6});
    s.Case("move6", "moveto", {6, 3, 3});
    s.Case("drawmove", "drawpath", {6, 0, 0, RED});
    s.Case("p_move", "readpixel", {3, 3});
    // Coordinates beyond 32767 pixels are refused, not wrapped.
    s.Case("start8", "startpath", {8});
    s.Case("far1", "moveto", {8, 0, 0});
    s.Case("far2", "lineto", {8, 40000, 10});
    s.Case("far3", "lineto", {8, 0, 10});
    s.Case("drawfar", "drawpath", {8, 0, 0, RED});
    s.Case("drawfar2", "drawpath", {1, 40000, 0, RED});
    s.Case("movefar", "translatepath", {1, -40000, 0});
    // An unknown engine fails, and the built-in engine goes on drawing.
    s.Case("engine", "setvectorengine", {Str("nosuch")});
    s.Case("draw", "drawpath", {1, 5, 7, RED});
    s.Case("p_in", "readpixel", {5, 7});
    s.Case("p_in2", "readpixel", {14, 12});
    s.Case("p_right", "readpixel", {15, 12});
    s.Case("p_below", "readpixel", {14, 13});
    s.Case("default", "setvectorengine", {Str("default")});
    // With a border: a ring of the border colour around the fill.
    s.Case("style", "setformstyle", {FORM_BORDER, Fields({{"bordercolor", GREEN}, {"bordersize", 2}})});
    s.Case("draw2", "drawpath", {1, 20, 20, RED});
    s.Case("q_fill", "readpixel", {20, 20});
    s.Case("q_border", "readpixel", {18, 18});
    s.Case("q_border2", "readpixel", {31, 27});
    s.Case("q_out", "readpixel", {32, 28});
    s.Case("normal", "setformstyle", {FORM_NORMAL});
    s.Case("end", "endselect", {});
    // CENTER places the path's box itself in the middle of the output.
    s.Case("mkc", "createbrush", {9, 40, 40, 0});
    s.Case("selc", "selectbrush", {9});
    s.Case("startc", "startpath", {9});
    s.Case("boxc", "addboxtopath", {9, 5, 5, 10, 6});
    s.Case("drawc", "drawpath", {9, -100000, -100000, RED});
    s.Case("c_in", "readpixel", {15, 17});
    s.Case("c_in2", "readpixel", {24, 22});
    s.Case("c_left", "readpixel", {14, 17});
    s.Case("c_below", "readpixel", {24, 23});
    // CENTER across, a plain y: the path keeps its own offset of 5 downwards.
    s.Case("drawc2", "drawpath", {9, -100000, 20, GREEN});
    s.Case("c2_in", "readpixel", {15, 25});
    s.Case("c2_above", "readpixel", {15, 24});
    s.Case("endc", "endselect", {});
    // Even-odd: nested boxes make a frame.
    s.Case("mk2", "createbrush", {2, 30, 30, 0});
    s.Case("sel2", "selectbrush", {2});
    s.Case("start3", "startpath", {3});
    s.Case("outer", "addboxtopath", {3, 0, 0, 30, 30});
    s.Case("inner", "addboxtopath", {3, 10, 10, 10, 10});
    s.Case("rule", "setfillrule", {1});
    s.Case("draw3", "drawpath", {3, 0, 0, WHITE});
    s.Case("e_mid", "readpixel", {15, 15});
    s.Case("e_frame", "readpixel", {5, 15});
    s.Case("rule0", "setfillrule", {0});
    s.Case("end2", "endselect", {});

    // ForcePathUse: an anti-aliased circle at 0, 0 of radius 10 is the path of
    // the circle about 10, 10.
    s.Case("aa", "setformstyle", {FORM_ANTIALIAS});
    s.Case("mk3", "createbrush", {3, 24, 24, 0});
    s.Case("sel3", "selectbrush", {3});
    s.Case("force", "forcepathuse", {1});
    s.Case("circle", "circle", {0, 0, 10, WHITE});
    s.Case("unforce", "forcepathuse", {0});
    for (int y = 0; y < 22; y++)
        for (int x = 0; x < 22; x++) s.Case("a" + std::to_string(x) + "_" + std::to_string(y), "readpixel", {x, y});
    s.Case("end3", "endselect", {});
    s.Case("mk4", "createbrush", {4, 24, 24, 0});
    s.Case("sel4", "selectbrush", {4});
    s.Case("start5", "startpath", {5});
    s.Case("c5", "addcircletopath", {5, 10, 10, 10});
    s.Case("draw5", "drawpath", {5, 0, 0, WHITE});
    for (int y = 0; y < 22; y++)
        for (int x = 0; x < 22; x++) s.Case("b" + std::to_string(x) + "_" + std::to_string(y), "readpixel", {x, y});
    s.Case("end4", "endselect", {});

    std::string all;
    auto lines = RunPaths(s, &all);
    EXPECT_EQ(Code(lines["emptydraw"]), "1394") << all;
    EXPECT_EQ(Code(lines["engine"]), "1531");
    EXPECT_EQ(lines["drawmove"], "0 Nil");
    EXPECT_EQ(lines["drawc"], "0 Nil");
    EXPECT_EQ(lines["c_in"], "0 " + std::to_string(RED));
    EXPECT_EQ(lines["c_in2"], "0 " + std::to_string(RED));
    EXPECT_EQ(lines["c_left"], "0 0");
    EXPECT_EQ(lines["c_below"], "0 0");
    EXPECT_EQ(lines["c2_in"], "0 " + std::to_string(GREEN));
    EXPECT_EQ(lines["c2_above"], "0 0");
    EXPECT_EQ(Code(lines["drawfar"]), "1470");
    EXPECT_EQ(Code(lines["drawfar2"]), "1470");
    EXPECT_EQ(Code(lines["movefar"]), "1470");
    EXPECT_EQ(lines["p_move"], "0 0");
    EXPECT_EQ(lines["draw"], "0 Nil");
    EXPECT_EQ(lines["p_in"], "0 " + std::to_string(RED));
    EXPECT_EQ(lines["p_in2"], "0 " + std::to_string(RED));
    EXPECT_EQ(lines["p_right"], "0 0");
    EXPECT_EQ(lines["p_below"], "0 0");
    EXPECT_EQ(lines["default"], "0 Nil");
    EXPECT_EQ(lines["draw2"], "0 Nil");
    EXPECT_EQ(lines["q_fill"], "0 " + std::to_string(RED));
    EXPECT_EQ(lines["q_border"], "0 " + std::to_string(GREEN));
    EXPECT_EQ(lines["q_border2"], "0 " + std::to_string(GREEN));
    EXPECT_EQ(lines["q_out"], "0 0");
    EXPECT_EQ(lines["draw3"], "0 Nil");
    EXPECT_EQ(lines["e_mid"], "0 0");
    EXPECT_EQ(lines["e_frame"], "0 " + std::to_string(WHITE));
    EXPECT_EQ(lines["circle"], "0 Nil");
    int lit = 0, partial = 0;
    for (int y = 0; y < 22; y++)
        for (int x = 0; x < 22; x++) {
            std::string k = std::to_string(x) + "_" + std::to_string(y);
            EXPECT_EQ(lines["a" + k], lines["b" + k]) << k;
            lit += lines["a" + k] == "0 " + std::to_string(WHITE);
            partial += lines["a" + k] != "0 0" && lines["a" + k] != "0 " + std::to_string(WHITE);
        }
    // About pi r^2 pixels, with shaded edges.
    EXPECT_GT(lit, 250);
    EXPECT_LT(lit, 330);
    EXPECT_GT(partial, 20);
}

}  // namespace

namespace {

// A plug-in engine chosen by SetVectorEngine gets every slot call, with the
// origin of the box in the second pair, and its coverage reaches the output.
TEST(VectorPathApplet, APluginEngineServesTheSlots)
{
    lvAppletScript s;
    s.Case("load", "loadplugin", {Str(LV_VECTOR_PLUGIN)});
    s.Case("engine", "setvectorengine", {Str("VecEngine")});
    s.Case("fill", "setfillstyle", {FILLCOLOR});
    s.Case("mk", "createbrush", {1, 40, 40, 0});
    s.Case("sel", "selectbrush", {1});
    s.Case("start", "startpath", {1});
    s.Case("box", "addboxtopath", {1, 5, 5, 10, 10});
    s.Case("join", "setlinejoin", {2});
    s.Case("point", "getcurrentpoint", {1}, 2);
    s.Case("draw", "drawpath", {1, 20, 20, RED});
    s.Case("p_in", "readpixel", {25, 25});
    s.Case("p_in2", "readpixel", {34, 34});
    s.Case("p_out", "readpixel", {35, 35});
    s.Case("p_out2", "readpixel", {24, 25});
    s.Case("move", "translatepath", {1, 3, 4});
    s.Case("ext", "getpathextents", {1}, 4);
    // Path text gets a vector font of the plug-in engine (from the font's own face).
    s.Case("vera", "setfont", {Str(":::default_sans"), 20});
    s.Case("start7", "startpath", {7});
    s.Case("text", "addtexttopath", {7, Str("A")});
    // Leaving the plug-in: the built-in engine measures the same box.
    s.Case("nosuch", "setvectorengine", {Str("nosuch")});
    s.Case("ext2", "getpathextents", {1}, 4);
    s.Case("point2", "getcurrentpoint", {1}, 2);

    std::string all;
    auto lines = RunPaths(s, &all);
    EXPECT_EQ(lines["load"], "0 Nil") << all;
    EXPECT_EQ(lines["engine"], "0 Nil");
    EXPECT_EQ(lines["veccurrent"], "2");
    EXPECT_EQ(lines["point"], "0 42 42");
    EXPECT_EQ(lines["vecdraw"], "0 0 5 5 10 10 1 0") << all;
    EXPECT_EQ(lines["draw"], "0 Nil");
    EXPECT_EQ(lines["p_in"], "0 " + std::to_string(RED));
    EXPECT_EQ(lines["p_in2"], "0 " + std::to_string(RED));
    EXPECT_EQ(lines["p_out"], "0 0");
    EXPECT_EQ(lines["p_out2"], "0 0");
    EXPECT_EQ(lines["vectranslate"], "3 4");
    EXPECT_EQ(lines["ext"], "0 8 9 18 19");
    EXPECT_EQ(lines["text"], "0 Nil");
    EXPECT_EQ(Code(lines["nosuch"]), "1531");
    EXPECT_EQ(lines["ext2"], "0 8 9 18 19");
    EXPECT_EQ(lines["point2"], "0 8 9");
}

}  // namespace

#include <ft2build.h>
#include FT_FREETYPE_H

namespace {

double VeraAdvances(const char *text)
{
    FT_Library lib;
    FT_Face face;
    if (FT_Init_FreeType(&lib)) return -1;
    if (FT_New_Face(lib, "/usr/share/fonts/truetype/ttf-bitstream-vera/Vera.ttf", 0, &face)) return -1;
    FT_Set_Char_Size(face, 0, 20 * 64, 72, 72);
    double x = 0;
    for (const char *c = text; *c; c++) {
        FT_Load_Char(face, (unsigned char)*c, FT_LOAD_NO_BITMAP);
        x += face->glyph->advance.x / 64.0;
    }
    FT_Done_Face(face);
    FT_Done_FreeType(lib);
    return x;
}

// Path text takes the current font when it is a TrueType font of the built-in
// engine: glyph outlines at the font's size, the current point moved by the
// advances; a text cut inside a character ends there.
TEST(VectorPathApplet, TextInTheCurrentFont)
{
    lvAppletScript s;
    s.Case("start", "startpath", {1});
    s.Case("topaz", "addtexttopath", {1, Str("AB")});
    s.Case("vera", "setfont", {Str(":::default_sans"), 20});
    s.Case("move", "moveto", {1, 5, 30});
    s.Case("ab", "addtexttopath", {1, Str("AB")});
    s.Case("point", "getcurrentpoint", {1}, 2);
    s.Case("badenc", "addtexttopath", {1, Str("x"), Fields({{"encoding", 2}})});
    s.Case("fill", "setfillstyle", {FILLCOLOR});
    s.Case("start2", "startpath", {2});
    s.Case("euro", "addtexttopath", {2, Str("\\xE2\\x82\\xAC"), Fields({{"encoding", 1}})});
    s.Case("eurox", "getpathextents", {2}, 4);
    s.Case("start3", "startpath", {3});
    s.Case("cut", "addtexttopath", {3, Str("A\\xE2"), Fields({{"encoding", 1}})});
    s.Case("cutpoint", "getcurrentpoint", {3}, 2);
    s.Case("mk", "createbrush", {1, 60, 40, 0});
    s.Case("sel", "selectbrush", {1});
    s.Case("draw", "drawpath", {1, 0, 0, WHITE});
    s.Case("drawcut", "drawpath", {3, 0, 0, WHITE});
    // The middle of the A's crossbar, 20 pixels high from baseline 30.
    s.Case("end", "endselect", {});
    // Latin-1 text becomes UTF-8 in the buffer.
    s.Case("start4", "startpath", {4});
    s.Case("latin", "addtexttopath", {4, Str("\\xE9"), Fields({{"encoding", 0}})});
    s.Keep("it", "items", "pathitems", {4});
    s.Line("getglobal r10 \"it\"\ncall r10 1 2\nloadk r30 \"text\"\ngettable r2 r10 r30");
    s.Line("getglobal r0 \"debugprint\"\nloadk r1 \"latintext\"\ngetglobal r5 \"strlen\"\nmove r6 r2\nloadk r7 0\ncall r5 3 2\nmove r2 r5\ncall r0 3 1");

    std::string all;
    auto lines = RunPaths(s, &all);
    EXPECT_EQ(Code(lines["topaz"]), "1395") << all;
    EXPECT_EQ(Code(lines["ab"]), "0");
    std::istringstream in(lines["point"]);
    double code, x, y;
    ASSERT_TRUE(in >> code >> x >> y) << lines["point"];
    EXPECT_NEAR(x, 5 + VeraAdvances("AB"), 1e-6);
    EXPECT_EQ(y, 30);
    EXPECT_EQ(Code(lines["badenc"]), "1055");
    std::istringstream ex(lines["eurox"]);
    double box[4];
    ASSERT_TRUE(ex >> code >> box[0] >> box[1] >> box[2] >> box[3]) << lines["eurox"];
    EXPECT_GT(box[2] - box[0], 5);  // the euro sign has ink
    EXPECT_GT(box[3] - box[1], 5);
    std::istringstream cut(lines["cutpoint"]);
    ASSERT_TRUE(cut >> code >> x >> y);
    EXPECT_NEAR(x, VeraAdvances("A"), 1e-6);
    EXPECT_EQ(lines["draw"], "0 Nil");
    EXPECT_EQ(lines["drawcut"], "0 Nil");
    EXPECT_EQ(lines["latintext"], "2");
}

}  // namespace

namespace {

// On a palette output in pen mode a path is drawn hard-edged in the draw pen;
// in remap mode its anti-aliased edge is shaded.
TEST(VectorPathApplet, PaletteOutputsInPenAndRemapMode)
{
    const int PALETTE_GRAY256 = -986, SIDE = 12, PENMODE = 0, REMAPMODE = 1;
    std::vector<int> all;
    for (int i = 0; i < SIDE * SIDE; i++) all.push_back(i);
    lvAppletScript s;
    s.Case("fill", "setfillstyle", {FILLCOLOR});
    s.Case("aa", "setformstyle", {FORM_ANTIALIAS});
    s.Case("start", "startpath", {1});
    s.Case("circle", "addcircletopath", {1, 6, 6, 5.5});
    for (int mode : {PENMODE, REMAPMODE}) {
        std::string k = mode == PENMODE ? "pen" : "remap";
        int id = 10 + mode;
        s.Case(k + "_mk", "createbrush", {id, SIDE, SIDE, Fields({{"palette", PALETTE_GRAY256}})});
        s.Case(k + "_mode", "setpalettemode", {mode});
        s.Case(k + "_drawpen", "setdrawpen", {255});
        s.Case(k + "_sel", "selectbrush", {id});
        s.Case(k, "drawpath", {1, 0, 0, WHITE});
        s.Case(k + "_end", "endselect", {});
        s.Case(k + "_px", "brushtorgbarray", {id}, 1, all);
    }
    s.Case("restore", "setpalettemode", {PENMODE});

    std::string out;
    auto lines = RunPaths(s, &out);
    for (const char *k : {"pen", "remap"}) {
        EXPECT_EQ(lines[k], "0 Nil") << k << "\n" << out;
        std::istringstream in(lines[std::string(k) + "_px"]);
        std::vector<unsigned long long> values;
        for (unsigned long long v; in >> v;) values.push_back(v);
        ASSERT_GE(values.size(), size_t(SIDE * SIDE)) << k;
        int white = 0, grey = 0;
        for (size_t i = values.size() - SIDE * SIDE; i < values.size(); i++) {
            unsigned v = unsigned(values[i] & 0xFFFFFF);
            white += v == WHITE;
            grey += v != WHITE && v != 0;
        }
        EXPECT_GT(white, 60) << k;
        if (std::string(k) == "pen")
            EXPECT_EQ(grey, 0) << lines["pen_px"];
        else
            EXPECT_GT(grey, 8) << lines["remap_px"];
    }
}

}  // namespace

namespace {

// PathToBrush renders its items with the style each path was started with into
// one brush with an alpha channel, as wide as the items reach.
TEST(VectorPathApplet, BrushesFromPaths)
{
    lvAppletScript s;
    s.Case("fill", "setfillstyle", {FILLCOLOR});
    s.Case("start", "startpath", {1});
    s.Case("box", "addboxtopath", {1, 0, 0, 10, 10});
    s.Case("start2", "startpath", {2});
    s.Case("box2", "addboxtopath", {2, 0, 0, 4, 4});
    // Later style changes do not reach the brush.
    s.Case("nofill", "setfillstyle", {FILLNONE});
    s.Case("brush", "pathtobrush", {5, List({Fields({{"id", 1}, {"x", 5}, {"color", RED}}),
                                             Fields({{"id", 2}, {"x", 1}, {"y", 12}, {"color", 0x800000FFu}})})});
    s.Case("px", "brushtorgbarray", {5}, 1, {0, 4, 5, 14, 15 * 9 + 14, 15 * 13 + 2});
    // Scaled, the brush renders its paths again at twice the size.
    s.Case("copy", "copybrush", {5, 11});
    s.Case("scale", "scalebrush", {11, 30, 32});
    s.Case("scaledpx", "brushtorgbarray", {11}, 1, {8, 10, 30 * 19 + 29, 30 * 20 + 29});
    s.Case("empty", "pathtobrush", {6, List({})});
    s.Case("notable", "pathtobrush", {6, List({1})});
    s.Case("noid", "pathtobrush", {6, List({Fields({{"x", 1}})})});
    s.Case("nopath", "pathtobrush", {6, List({Fields({{"id", 9}})})});
    s.Case("start3", "startpath", {3});
    s.Case("emptypath", "pathtobrush", {6, List({Fields({{"id", 3}})})});
    // The brush library's conversion takes the same item table.
    s.Case("convert", "converttobrush", {49, List({Fields({{"id", 2}})}), 7});
    s.Case("convpx", "brushtorgbarray", {7}, 1, {0, 15});
    s.Case("link", "getbrushlink", {8, 49, List({Fields({{"id", 2}})})});

    std::string all;
    auto lines = RunPaths(s, &all);
    EXPECT_EQ(lines["brush"], "0 Nil") << all;
    // Row 0: x 0 and 4 outside the first box, 5 and 14 inside; (14, 9) inside;
    // (2, 13) in the second box, blue at half transparency.
    EXPECT_EQ(lines["px"], "0 0 0 4294901760 4294901760 4294901760 2130706687") << all;
    EXPECT_EQ(Code(lines["scale"]), "0") << all;
    EXPECT_EQ(lines["scaledpx"], "0 0 4294901760 4294901760 0") << all;
    EXPECT_EQ(Code(lines["empty"]), "1599");
    EXPECT_EQ(Code(lines["notable"]), "1598");
    EXPECT_EQ(Code(lines["noid"]), "1573");
    EXPECT_EQ(Code(lines["nopath"]), "1393");
    EXPECT_EQ(Code(lines["emptypath"]), "1394");
    EXPECT_EQ(Code(lines["convert"]), "0");
    EXPECT_EQ(lines["convpx"], "0 4278190080 4278190080");  // the 4 x 4 box, black without a colour
    EXPECT_EQ(Code(lines["link"]), "0");
}

}  // namespace

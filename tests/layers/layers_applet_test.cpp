// layers_applet_test.cpp - applets that draw with layers on, reorder, hide, show, copy and
// remove layers, free and change the objects they show, and read the composed display
// back with ReadPixel; DumpLayers' lines give the order.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "tests/images/images_applet.h"

namespace {

const unsigned RED = 0xFF0000, GREEN = 0x00FF00, BLUE = 0x0000FF;
const int LAYER = 22, BRUSH = 3, ATTRXPOS = 7, ATTRVISIBLE = 10, ATTRID = 82, ATTRLAYERS = 6, ATTRTYPE = 9, DISPLAY = 21, BGPIC = 1;

// The composed display as SaveSnapshot wrote it (a BMP in the scratch directory).
struct Snapshot {
    std::vector<uint8_t> bytes;
    int width = 0, height = 0, bpp = 0, offset = 0;
    int Read32(int at) const { return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 | bytes[at + 3] << 24; }
    bool Load(const std::string &path)
    {
        std::ifstream in(path, std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(in), {});
        if (bytes.size() < 54 || bytes[0] != 'B') return false;
        offset = Read32(10), width = Read32(18), height = Read32(22), bpp = bytes[28];
        return bpp == 24 || bpp == 32;
    }
    unsigned Pixel(int x, int y) const
    {
        int stride = (width * (bpp / 8) + 3) & ~3;
        int row = height > 0 ? height - 1 - y : y;
        size_t at = (size_t)offset + (size_t)row * stride + (size_t)x * (bpp / 8);
        return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16;
    }
};

struct LayersRun {
    lvScratchDir dir;
    std::map<std::string, std::string> lines;
    std::string all;
    std::map<std::string, Snapshot> snaps;
    void Go(const lvAppletScript &s, const std::vector<std::string> &names)
    {
        int exitCode = -1;
        lines = RunAppletScript(dir, s, "", &exitCode, &all);
        EXPECT_EQ(exitCode, 0) << all;
        for (const std::string &n : names) EXPECT_TRUE(snaps[n].Load(dir.File(n + ".bmp"))) << n << all;
    }
    unsigned At(const std::string &snap, int x, int y) { return snaps[snap].Pixel(x, y); }
};

void Snap(lvAppletScript &s, const std::string &name) { s.Case(name, "savesnapshot", {Str(name + ".bmp"), 1, 0}); }

// Two overlapping brushes: red under green; the overlap at (25, 25).
void TwoBrushes(lvAppletScript &s)
{
    s.Case("mk1", "createbrush", {1, 20, 20, RED});
    s.Case("mk2", "createbrush", {2, 20, 20, GREEN});
    s.Case("on", "enablelayers", {});
    s.Case("d1", "displaybrush", {1, 10, 10});
    s.Case("d2", "displaybrush", {2, 20, 20});
}

TEST(LayersApplet, OrderFollowsSwapZPosHideAndShow)
{
    lvAppletScript s;
    TwoBrushes(s);
    Snap(s, "first");
    s.Case("swap", "swaplayers", {1, 2});
    Snap(s, "swapped");
    s.Case("hide", "hidelayer", {2});
    Snap(s, "hidden");
    s.Case("at", "getlayeratpos", {15, 15}, 2);
    s.Case("show", "showlayer", {2});
    Snap(s, "shown");
    s.Case("zpos", "setlayerzpos", {2, 1});
    Snap(s, "zpos");
    s.Case("dump", "dumplayers", {});
    LayersRun r;
    r.Go(s, {"first", "swapped", "hidden", "shown", "zpos"});
    struct {
        const char *snap;
        int x, y;
        unsigned colour;
    } cases[] = {
        {"first", 25, 25, GREEN}, {"first", 15, 15, RED},   {"first", 5, 5, 0},      {"first", 29, 29, GREEN},
        {"first", 40, 40, 0},     {"swapped", 25, 25, RED}, {"swapped", 35, 35, GREEN},
        {"hidden", 25, 25, GREEN}, {"hidden", 15, 15, 0},  {"shown", 25, 25, RED},  {"zpos", 25, 25, GREEN},
    };
    for (auto &c : cases) EXPECT_EQ(r.At(c.snap, c.x, c.y), c.colour) << c.snap << " " << c.x << "," << c.y;
    // The hidden top layer is still found where it lies.
    EXPECT_EQ(r.lines["at"], "0 2 ");
    // After the last move: green (brush 2) at the top, red (brush 1) at the bottom.
    EXPECT_NE(r.all.find("(1) BRUSH #1 "), std::string::npos) << r.all;
    EXPECT_NE(r.all.find("(2) BRUSH #2 "), std::string::npos) << r.all;
    EXPECT_NE(r.all.find("Layers: 2\n"), std::string::npos) << r.all;
    EXPECT_NE(r.all.find("X: 20 (20) - Y: 20 (20) - Width: 20 (20) - Height: 20 (20) - Visible: 1"),
              std::string::npos)
        << r.all;
}

TEST(LayersApplet, FreedShownBrushStaysUntilItsLastLayerGoes)
{
    lvAppletScript s;
    TwoBrushes(s);
    s.Case("free", "freebrush", {1});
    Snap(s, "kept");
    s.Case("again", "displaybrush", {1, 0, 0});
    s.Case("id", "getattribute", {LAYER, 1, ATTRID});
    s.Case("rm", "removelayer", {1});
    Snap(s, "gone");
    s.Case("count", "getattribute", {LAYER, 1, ATTRLAYERS});
    // The display and its BGPic count the BGPic's own layers; a second BGPic has none.
    s.Case("dcount", "getattribute", {DISPLAY, 1, ATTRLAYERS});
    s.Case("bcount", "getattribute", {BGPIC, 1, ATTRLAYERS});
    s.Case("other", "createbgpic", {2, 10, 10});
    s.Case("ocount", "getattribute", {BGPIC, 2, ATTRLAYERS});
    LayersRun r;
    r.Go(s, {"kept", "gone"});
    EXPECT_EQ(r.At("kept", 15, 15), RED);
    EXPECT_EQ(r.At("gone", 15, 15), 0u);
    EXPECT_EQ(r.At("gone", 25, 25), GREEN);
    EXPECT_EQ(Code(r.lines["again"]), "1174") << r.all;
    EXPECT_EQ(Code(r.lines["id"]), "0");
    EXPECT_EQ(r.lines["count"], "0 1");
    EXPECT_EQ(r.lines["dcount"], "0 1") << r.all;
    EXPECT_EQ(r.lines["bcount"], "0 1") << r.all;
    EXPECT_EQ(r.lines["ocount"], "0 0") << r.all;
}

TEST(LayersApplet, DrawingIntoAShownBrushLeavesTheScreenAlone)
{
    lvAppletScript s;
    TwoBrushes(s);
    s.Case("d3", "displaybrush", {1, 60, 60});
    s.Case("fill", "setfillstyle", {1});
    s.Case("sel", "selectbrush", {1});
    s.Case("box", "box", {0, 0, 20, 20, BLUE});
    s.Case("end", "endselect", {});
    s.Case("d4", "displaybrush", {1, 100, 100});
    Snap(s, "changed");
    // Undo goes by the id the layers were made with: the top-most first.
    s.Case("undo", "undo", {BRUSH, 1});
    Snap(s, "undone");
    s.Case("undo2", "undo", {BRUSH, 1, 2});
    Snap(s, "undone2");
    LayersRun r;
    r.Go(s, {"changed", "undone", "undone2"});
    EXPECT_EQ(Code(r.lines["sel"]), "0") << r.all;
    EXPECT_EQ(r.At("changed", 15, 15), RED);
    EXPECT_EQ(r.At("changed", 65, 65), RED);
    EXPECT_EQ(r.At("changed", 105, 105), BLUE);
    EXPECT_EQ(r.At("undone", 105, 105), 0u);
    EXPECT_EQ(r.At("undone", 65, 65), RED);
    EXPECT_EQ(r.At("undone2", 15, 15), 0u);
    EXPECT_EQ(r.At("undone2", 65, 65), RED);
}

// The same scene drawn with layers off and with layers on gives the same display.
void Scene(lvAppletScript &s, bool layers, const std::string &snap)
{
    // A gradient background, so that a part of the display's own BGPic shows where it lies.
    s.Case("grad", "creategradientbgpic", {3, 0, 0x000040, 0x4000C0});
    s.Case("showgrad", "displaybgpic", {3});
    s.Case("mk1", "createbrush", {1, 30, 20, RED});
    s.Case("mk2", "createbrush", {2, 16, 16, GREEN});
    s.Case("sel", "selectmask", {2});
    s.Case("cut", "box", {4, 4, 8, 8, 0});
    s.Case("endsel", "endselect", {});
    if (layers) s.Case("on", "enablelayers", {});
    s.Case("fill", "setfillstyle", {1});
    s.Case("d1", "displaybrush", {1, 10, 10});
    s.Case("d2", "displaybrush", {2, 20, 15});
    s.Case("part", "displaybrushpart", {1, 5, 5, 10, 8, 70, 10});
    s.Case("style", "setformstyle", {96, Fields({{"shadowcolor", BLUE}, {"shadowsize", 4}, {"shadowdir", 3},
                                                 {"bordercolor", 0xFFFF00}, {"bordersize", 2}})});
    s.Case("box", "box", {40, 40, 30, 20, 0x336699});
    s.Case("plain", "setformstyle", {64, Fields({{"bordercolor", 0xFFFFFF}, {"bordersize", 3}})});
    s.Case("ellipse", "ellipse", {110, 60, 20, 10, 0x00FFFF, Fields({{"rotate", 30}})});
    s.Case("normal", "setformstyle", {0});
    s.Case("circle", "circle", {50, 50, 12, 0xFF00FF});
    // Lines: a plain one, a thick one across the box, and a thick arrowed one.
    s.Case("line", "line", {5, 130, 90, 150, 0xFFFFFF});
    s.Case("thick", "line", {30, 30, 90, 70, 0x80FF80, Fields({{"thickness", 5}})});
    s.Case("mkbg", "createbgpic", {2, 40, 30, 0x884422});
    s.Case("bgpart", "displaybgpicpart", {2, 5, 5, 20, 10, 130, 100});
    s.Case("ownpart", "displaybgpicpart", {-1, 0, 0, 20, 20, 150, 300});
    s.Case("arrow", "line", {120, 20, 160, 40, 0xFF8000, Fields({{"thickness", 4}, {"arrowhead", 2}})});
    s.Case("textout", "textout", {20, 90, Str("Layers")});
    s.Case("tobj", "createtextobject", {1, Str("Object")});
    s.Case("tshow", "displaytextobject", {1, 200, 200});
    s.Case("path", "startpath", {1});
    s.Case("pbox", "addboxtopath", {1, 0, 0, 30, 12});
    s.Case("pdraw", "drawpath", {1, 250, 40, 0x40C0F0});
    s.Case("locate", "locate", {100, 100});
    s.Case("print", "print", {Str("printed")});
    Snap(s, snap);
}

TEST(LayersApplet, LayersComposeAsTheDrawingWouldPaint)
{
    lvAppletScript plain, layered;
    Scene(plain, false, "plain");
    Scene(layered, true, "layered");
    layered.Case("count", "getattribute", {LAYER, 1, ATTRLAYERS});
    // The layers of a line, the BGPic part, the text object and the path.
    for (int n : {7, 9, 13, 14}) layered.Case("type" + std::to_string(n), "getattribute", {LAYER, n, ATTRTYPE});
    LayersRun a, b;
    a.Go(plain, {"plain"});
    b.Go(layered, {"layered"});
    for (auto &line : b.lines) {
        if (line.first == "count") continue;
        EXPECT_EQ(Code(line.second), "0") << line.first << b.all;
    }
    EXPECT_EQ(b.lines["count"], "0 15");
    const Snapshot &p = a.snaps["plain"], &q = b.snaps["layered"];
    ASSERT_EQ(p.width, q.width);
    ASSERT_EQ(p.height, q.height);
    int differing = 0, firstX = -1, firstY = -1;
    for (int y = 0; y < p.height; y++)
        for (int x = 0; x < p.width; x++)
            if (p.Pixel(x, y) != q.Pixel(x, y) && !differing++) firstX = x, firstY = y;
    EXPECT_EQ(differing, 0) << "first at " << firstX << "," << firstY << ": " << std::hex << p.Pixel(firstX, firstY)
                            << " against " << q.Pixel(firstX, firstY);
    EXPECT_EQ(q.Pixel(45, 45), 0x336699u);
    // The part of the display's own BGPic holds its top rows; the BGPic part its colour.
    EXPECT_EQ(q.Pixel(155, 305), q.Pixel(5, 5));
    EXPECT_NE(q.Pixel(155, 305), q.Pixel(5, 305));
    EXPECT_EQ(q.Pixel(135, 102), 0x884422u);
    EXPECT_EQ(q.Pixel(260, 45), 0x40C0F0u);
    EXPECT_EQ(b.lines["type7"], "0 17");
    EXPECT_EQ(b.lines["type9"], "0 13");
    EXPECT_EQ(b.lines["type13"], "0 8");
    EXPECT_EQ(b.lines["type14"], "0 49");
    // The text layers hold something.
    int lit = 0;
    for (int y = 90; y < 104; y++)
        for (int x = 20; x < 60; x++) lit += q.Pixel(x, y) != 0;
    EXPECT_GT(lit, 20);
}

// A text object layer keeps its own image: freeing or changing the object leaves it alone.
TEST(LayersApplet, TextObjectLayersOutliveTheirObject)
{
    lvAppletScript s;
    s.Case("on", "enablelayers", {});
    s.Case("tobj", "createtextobject", {1, Str("Kept")});
    s.Case("show", "displaytextobject", {1, 10, 10});
    s.Case("ins", "insertlayer", {0, 8, 1, 10, 40});
    Snap(s, "shown");
    s.Case("free", "freetextobject", {1});
    s.Case("again", "createtextobject", {1, Str("")});
    Snap(s, "freed");
    s.Case("id", "getattribute", {LAYER, 1, ATTRID});
    s.Case("undo", "undo", {8, 1});
    Snap(s, "undone");
    s.Case("missing", "insertlayer", {0, 8, 5, 0, 0});
    // A path layer names its path; Undo finds it by it.
    s.Case("path", "startpath", {4});
    s.Case("pbox", "addboxtopath", {4, 0, 0, 8, 8});
    s.Case("pdraw", "drawpath", {4, 100, 100, RED});
    s.Case("pid", "getattribute", {LAYER, 2, ATTRID});
    s.Case("pundo", "undo", {49, 4});
    s.Case("count", "getattribute", {LAYER, 1, ATTRLAYERS});
    LayersRun r;
    r.Go(s, {"shown", "freed", "undone"});
    EXPECT_EQ(Code(r.lines["show"]), "0") << r.all;
    EXPECT_EQ(Code(r.lines["ins"]), "0") << r.all;
    EXPECT_EQ(r.lines["id"], "0 1") << r.all;
    EXPECT_NE(Code(r.lines["missing"]), "0");
    EXPECT_EQ(r.lines["pid"], "0 4") << r.all;
    EXPECT_EQ(Code(r.lines["pundo"]), "0") << r.all;
    EXPECT_EQ(r.lines["count"], "0 1");
    auto lit = [&](const std::string &snap, int top) {
        int n = 0;
        for (int y = top; y < top + 20; y++)
            for (int x = 10; x < 50; x++) n += r.At(snap, x, y) != 0;
        return n;
    };
    EXPECT_GT(lit("shown", 10), 10);
    EXPECT_GT(lit("shown", 40), 10);
    // Both layers are as they were after the object went.
    EXPECT_EQ(lit("freed", 10), lit("shown", 10));
    EXPECT_EQ(lit("freed", 40), lit("shown", 40));
    // Undo takes the top-most layer made from the object: the inserted one.
    EXPECT_EQ(lit("undone", 40), 0);
    EXPECT_EQ(lit("undone", 10), lit("shown", 10));
}

TEST(LayersApplet, DisableKeepsTheListFreeLayersBakesRemoveLayersRedraws)
{
    lvAppletScript s;
    TwoBrushes(s);
    s.Case("off", "disablelayers", {});
    s.Case("on", "enablelayers", {});
    s.Case("count", "getattribute", {LAYER, 1, ATTRLAYERS});
    s.Case("bake", "freelayers", {});
    s.Case("count2", "getattribute", {LAYER, 1, ATTRLAYERS});
    Snap(s, "baked");
    s.Case("d3", "displaybrush", {1, 100, 100});
    s.Case("rm", "removelayers", {});
    Snap(s, "removed");
    LayersRun r;
    r.Go(s, {"baked", "removed"});
    EXPECT_EQ(r.lines["count"], "0 2") << r.all;
    EXPECT_EQ(r.lines["count2"], "0 0");
    EXPECT_EQ(r.At("baked", 15, 15), RED);
    EXPECT_EQ(r.At("baked", 25, 25), GREEN);
    // The baked picture is the background now: removing later layers leaves it.
    EXPECT_EQ(r.At("removed", 25, 25), GREEN);
    EXPECT_EQ(r.At("removed", 105, 105), 0u);
}

TEST(LayersApplet, CommandErrors)
{
    lvAppletScript s;
    s.Case("mk1", "createbrush", {1, 20, 20, RED});
    s.Case("off", "hidelayer", {1});
    s.Case("offattr", "getattribute", {LAYER, 1, ATTRXPOS});
    s.Case("on", "enablelayers", {});
    s.Case("range", "hidelayer", {1});
    s.Case("d1", "displaybrush", {1, 10, 10});
    s.Case("noname", "hidelayer", {Str("nosuch")});
    s.Case("name", "setlayername", {1, Str("one")});
    s.Case("byname", "getattribute", {LAYER, Str("one"), ATTRVISIBLE});
    s.Case("insneg", "insertlayer", {-1, BRUSH, 1, 0, 0});
    s.Case("inslayer", "insertlayer", {0, LAYER, 1, 0, 0});
    s.Case("sameswap", "swaplayers", {1, 1});
    s.Case("sel", "selectbrush", {1});
    s.Case("redir", "hidelayer", {1});
    s.Case("end", "endselect", {});
    s.Case("unknown", "getattribute", {LAYER, 1, 9999});
    LayersRun r;
    r.Go(s, {});
    auto &lines = r.lines;
    EXPECT_EQ(Code(lines["off"]), "1078") << r.all;
    EXPECT_EQ(Code(lines["offattr"]), "1078");
    EXPECT_EQ(Code(lines["range"]), "1081");
    EXPECT_EQ(Code(lines["noname"]), "1369");
    EXPECT_EQ(lines["byname"], "0 true");
    EXPECT_EQ(Code(lines["insneg"]), "1370");
    EXPECT_EQ(Code(lines["inslayer"]), "1055");
    EXPECT_EQ(Code(lines["sameswap"]), "1055");
    EXPECT_EQ(Code(lines["redir"]), "1082");
    EXPECT_EQ(Code(lines["unknown"]), "1080");
}

}  // namespace

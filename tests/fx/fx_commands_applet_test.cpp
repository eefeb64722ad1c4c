// The "transitionfx" commands run by the runtime executable on an offscreen display:
// what each shows, the refusals, and the names the library registers.
#include <gtest/gtest.h>

#include "tests/images/images_applet.h"

namespace {

const int GREEN = 0x00FF00, RED = 0xFF0000, BLUE = 0x0000FF;

std::string Px(int colour) { return "0 " + std::to_string(colour); }

TEST(TransitionCommands, EachTargetEndsShowingItsPicture)
{
    lvScratchDir dir;
    lvAppletScript s;
    s.Case("vwait", "disablevwait", {});
    s.Case("mk2", "createbgpic", {2, 64, 48, GREEN});
    // 30 REVEALLEFT, 0 HSTRIPES, 28 BARS.
    s.Case("bgpic", "displaytransitionfx", {2, 30});
    s.Case("w", "getattribute", {21, 0, 0});
    s.Case("bgpx", "readpixel", {63, 47});
    s.Case("mkbrush", "createbrush", {5, 10, 10, RED});
    s.Case("brush", "displaybrushfx", {5, 20, 20, 28, -2});
    s.Case("brin", "readpixel", {29, 29});
    s.Case("brout", "readpixel", {30, 29});
    s.Case("mk3", "createbgpic", {3, 8, 8, BLUE});
    s.Case("part", "displaybgpicpartfx", {3, 2, 2, 4, 4, 0});
    s.Case("partin", "readpixel", {5, 5});
    s.Case("partout", "readpixel", {6, 6});
    s.Case("partat", "displaybgpicpartfx", {3, 0, 0, 2, 2, Fields({{"type", 31}, {"dx", 40}, {"dy", 1}})});
    s.Case("partatin", "readpixel", {41, 2});
    s.Case("partatout", "readpixel", {42, 2});
    s.Case("mktext", "createtextobject", {9, Str("Hi")});
    s.Case("text", "displaytextobjectfx", {9, 30, 30, 33});
    s.Case("textrandom", "displaytextobjectfx", {9, 30, 30, Fields({{"speed", -2}})});
    s.Case("notext", "displaytextobjectfx", {10, 30, 30, 33});
    s.Case("clear", "clearscreen", {30, RED});
    s.Case("clearpx", "readpixel", {0, 0});
    s.Case("clearpx2", "readpixel", {63, 47});
    // The pushes are not for objects: a brush gets the stripes instead.
    s.Case("push", "displaybrushfx", {5, 0, 0, 78});
    s.Case("random", "displaytransitionfx", {2, 140});
    s.Case("random113", "displaytransitionfx", {2, 113});
    s.Case("afterrandom", "readpixel", {1, 1});
    int exitCode = -1;
    std::string all;
    auto lines = RunAppletScript(dir, s, "", &exitCode, &all);
    ASSERT_EQ(exitCode, 0) << all;
    const std::map<std::string, std::string> expected = {
        {"bgpic", "0 Nil"},     {"w", "0 64"},          {"bgpx", Px(GREEN)},    {"brush", "0 Nil"},
        {"brin", Px(RED)},      {"brout", Px(GREEN)},   {"part", "0 Nil"},      {"partin", Px(BLUE)},
        {"partout", Px(GREEN)}, {"partat", "0 Nil"},    {"partatin", Px(BLUE)}, {"partatout", Px(GREEN)},
        {"clear", "0 Nil"},     {"text", "0 Nil"},      {"textrandom", "0 Nil"},     {"clearpx", Px(RED)},   {"clearpx2", Px(RED)},  {"push", "0 Nil"},
        {"random", "0 Nil"},    {"random113", "0 Nil"}, {"afterrandom", Px(GREEN)},
    };
    for (const auto &[key, value] : expected) EXPECT_EQ(lines[key], value) << key << "\n" << all;
    EXPECT_NE(Code(lines["notext"]), "0") << lines["notext"];
}

TEST(TransitionCommands, Refusals)
{
    lvScratchDir dir;
    lvAppletScript s;
    s.Case("mk2", "createbgpic", {2, 16, 16, GREEN});
    s.Case("mk5", "createbrush", {5, 4, 4, RED});
    s.Case("mk6", "createbrush", {6, 4, 4, BLUE});
    s.Case("over", "displaytransitionfx", {2, 141});
    s.Case("async", "displaytransitionfx", {2, Fields({{"async", 1}})});
    s.Case("later", "displaytransitionfx", {2, 115});
    s.Case("showlayer", "showlayerfx", {1});
    s.Case("undo", "undofx", {3, 5});
    s.Case("partlayers", "displaybgpicpartfx", {2, 0, 0, 4, 4, Fields({{"layers", 1}})});
    s.Case("nobrush", "displaybrushfx", {99, 0, 0, 0});
    s.Case("sel6", "selectbrush", {6});
    s.Case("other", "displaybrushfx", {5, 0, 0, 0});
    s.Case("end6", "endselect", {});
    s.Case("selmask", "selectmask", {6});
    s.Case("mask", "displaybrushfx", {5, 0, 0, 0});
    s.Case("endmask", "endselect", {});
    // The very BGPic selected: the selection ends and the run goes on.
    s.Case("selbg", "selectbgpic", {2, 0});
    s.Case("same", "displaytransitionfx", {2, 30});
    s.Case("selended", "endselect", {});
    s.Case("selbrush", "selectbrush", {5});
    s.Case("selbrushfx", "displaybrushfx", {5, 1, 1, 30});
    s.Case("selbrushended", "endselect", {});
    s.Case("selbrushpx", "readpixel", {2, 2});
    s.Case("mk7", "createbgpic", {7, 4, 4, BLUE});
    s.Case("selother", "selectbgpic", {7, 0});
    s.Case("selotherfx", "displaybrushfx", {5, 0, 0, 30});
    s.Case("selotherend", "endselect", {});
    s.Case("samepx", "readpixel", {15, 15});
    s.Case("rnd", "getrandomfx", {1});
    int exitCode = -1;
    std::string all;
    auto lines = RunAppletScript(dir, s, "", &exitCode, &all);
    ASSERT_EQ(exitCode, 0) << all;
    const std::map<std::string, std::string> expected = {
        {"over", "1055 Nil"},    {"async", "1055 Nil"},      {"later", "1001 Nil"},
        {"showlayer", "1078 Nil"},
        {"undo", "1078 Nil"},    {"partlayers", "1055 Nil"}, {"other", "1082 Nil"},
        {"mask", "1147 Nil"},    {"same", "0 Nil"},          {"samepx", Px(GREEN)},
        {"selended", "1055 Nil"}, {"selbrushfx", "0 Nil"}, {"selbrushended", "1055 Nil"}, {"selbrushpx", Px(RED)},
        {"selotherfx", "1056 Nil"},
    };
    for (const auto &[key, value] : expected) EXPECT_EQ(lines[key], value) << key << "\n" << all;
    EXPECT_EQ(Code(lines["nobrush"]), "1174") << lines["nobrush"];
    EXPECT_EQ(Code(lines["rnd"]), "0") << lines["rnd"];
}

// Argument counts are checked before anything else; a wrong count ends the applet.
TEST(TransitionCommands, ArgumentCounts)
{
    struct Case {
        const char *command;
        std::vector<lvAppletArg> args;
        const char *message;
    };
    const Case cases[] = {
        {"displaybrushfx", {5, 0}, "Not enough arguments!"},
        {"displaybrushfx", {5, 0, 0, 0, -1, -1, 1}, "Too many arguments for this function!"},
        {"displaybgpicpartfx", {2, 0, 0, 4}, "Not enough arguments!"},
        {"getrandomfx", {}, "Not enough arguments!"},
        {"undofx", {3}, "Not enough arguments!"},
        {"displaytransitionfx", {2, 0, -1, -1, 1}, "Too many arguments for this function!"},
    };
    for (const Case &c : cases) {
        lvScratchDir dir;
        lvAppletScript s;
        s.Case("call", c.command, c.args);
        int exitCode = -1;
        std::string all;
        RunAppletScript(dir, s, "", &exitCode, &all);
        EXPECT_NE(exitCode, 0) << c.command;
        EXPECT_NE(all.find(c.message), std::string::npos) << c.command << "\n" << all;
    }
}

TEST(TransitionCommands, TheLibraryRegistersItsCommandsAndNames)
{
    const char *commands[] = {"DisplayTransitionFX", "ClearScreen", "ShowLayerFX", "HideLayerFX", "RemoveLayerFX",
                              "DisplayBrushFX", "DisplayTextObjectFX", "DisplayBGPicPartFX", "UndoFX", "GetRandomFX"};
    ExpectCommandsRegistered(commands);
}

}  // namespace

// images_preload_test.cpp - linked palettes, brushes and background pictures: an applet
// linked with one of each finds them at start-up; a linked palette deeper than 8 bits is
// refused before it could overrun the 256 pens.
#include <gtest/gtest.h>

#include "tests/formats/formats_fixtures.h"
#include "tests/images/images_applet.h"

namespace {

TEST(ImagesPreload, LinkedPaletteBrushAndBGPicArePresent)
{
    lvScratchDir dir;
    PngFixture png;
    png.width = 7, png.height = 5;
    WriteBytes(dir.File("b.png"), MakePng(png));
    WriteBytes(dir.File("bg.png"), MakePng(PngFixture{}));
    lvAppletScript s;
    s.Case("pdepth", "getattribute", {62, 3, 103});
    s.Case("ppens", "getattribute", {62, 3, 104}, 1, {0, 3});
    s.Case("ppen", "getattribute", {62, 3, 105});
    s.Case("edepth", "getattribute", {62, 4, 103});
    s.Case("epens", "getattribute", {62, 4, 104}, 1, {0, 1});
    s.Case("bw", "getattribute", {3, 5, 0});
    s.Case("bh", "getattribute", {3, 5, 1});
    s.Case("gw", "getattribute", {1, 2, 0});
    int exitCode = -1;
    std::string all;
    auto lines = RunAppletScript(dir, s,
                                 "--palette 3:-992:2:4294967295 --palette 4:-984:1:0:0x123456,0xABCDEF "
                                 "--object 1:5:b.png --object 0:2:bg.png",
                                 &exitCode, &all);
    ASSERT_EQ(exitCode, 0) << all;
    const std::map<std::string, std::string> expected = {
        {"pdepth", "0 2"}, {"ppens", "0 0 16777215"}, {"ppen", "0 4294967295"}, {"edepth", "0 1"},
        {"epens", "0 1193046 11259375"}, {"bw", "0 7"}, {"bh", "0 5"}, {"gw", "0 4"},
    };
    for (const auto &[key, value] : expected) EXPECT_EQ(lines[key], value) << key << "\n" << all;
}

TEST(ImagesPreload, DeepLinkedPaletteIsRefused)
{
    lvScratchDir dir;
    lvAppletScript s;
    s.Case("reached", "getattribute", {62, 3, 103});
    int exitCode = -1;
    std::string all;
    auto lines = RunAppletScript(dir, s, "--palette 3:-984:9:0", &exitCode, &all);
    EXPECT_NE(exitCode, 0);
    EXPECT_EQ(lines.count("reached"), 0u);
    EXPECT_NE(all.find("Specified palette depth is out of range!"), std::string::npos) << all;
}

}  // namespace

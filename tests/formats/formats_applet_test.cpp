// formats_applet_test.cpp - the runtime executable runs an assembled applet that loads
// the image-loader test plug-in; the plug-in's command reads a PNG, a JPEG and a BMP the
// test wrote through the picture entries of the interface table (graphics slots 0 to 3)
// and prints size, alpha flags and the CRC32 of the R, G, B, A bytes, which must equal
// what the test computes from its own pixels.
#include "tests/formats/formats_fixtures.h"
#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <zlib.h>

namespace {

std::string Line(const char *name, int w, int h, int alpha, const std::vector<uint8_t> &rgba)
{
    char text[160];
    uint32_t crc = (uint32_t)crc32(0, rgba.data(), (uInt)rgba.size());
    std::snprintf(text, sizeof text, "%s %d %d 1 %d %d %08x\n", name, w, h, alpha, alpha, crc);
    return text;
}

TEST(FormatsApplet, PluginCommandReadsPicturesThroughTheInterfaceTable)
{
    ScratchDir dir;
    std::string expected;

    PngFixture png;
    png.colourType = 6, png.width = 7, png.height = 5;
    WriteBytes(dir.File("a.png"), MakePng(png));
    std::vector<uint8_t> rgba;
    for (int y = 0; y < 5; y++)
        for (int x = 0; x < 7; x++)
            for (int s = 0; s < 4; s++) rgba.push_back((uint8_t)PngSample(png, x, y, s));
    expected += Line("a.png", 7, 5, 1, rgba);

    JpegFixture jpeg;
    jpeg.width = 20, jpeg.height = 12;
    Bytes jpegFile = MakeJpeg(jpeg);
    WriteBytes(dir.File("b.jpg"), jpegFile);
    int w, h;
    std::vector<uint8_t> rgb;
    ASSERT_TRUE(ReferenceJpegRgb(jpegFile, &w, &h, &rgb));
    rgba.clear();
    for (size_t i = 0; i < rgb.size(); i += 3) rgba.insert(rgba.end(), {rgb[i], rgb[i + 1], rgb[i + 2], 0xFF});
    expected += Line("b.jpg", 20, 12, 0, rgba);

    BmpFixture bmp;
    bmp.width = 3, bmp.height = 2;
    bmp.data = {1, 2, 3, 4, 5, 6, 7, 8, 9, 0, 0, 0, 10, 11, 12, 13, 14, 15, 16, 17, 18, 0, 0, 0};
    WriteBytes(dir.File("c.bmp"), MakeBmp(bmp));
    // Stored bottom row first as B, G, R: the top row is the second stored row.
    rgba = {12, 11, 10, 0xFF, 15, 14, 13, 0xFF, 18, 17, 16, 0xFF, 3, 2, 1, 0xFF, 6, 5, 4, 0xFF, 9, 8, 7, 0xFF};
    expected += Line("c.bmp", 3, 2, 0, rgba);

    WriteBytes(dir.File("text.txt"), Bytes{'n', 'o', 't', ' ', 'a', ' ', 'p', 'i', 'c'});
    expected += "missing.png 0 none\ntext.txt 0 none\n";

    std::string out = dir.File(".out");
    std::string command = "cd '" + dir.path + "' && TMPDIR='" + dir.path + "' SDL_VIDEODRIVER=offscreen timeout 30 '" +
                          std::string(LV_BIN_DIR) + "/lumivarra' '" + LV_FORMATS_APPLET + "' -plugin '" +
                          LV_TESTPLUGIN_DIR + "/imgloader.lvp' -dir '" + dir.path + "' >'" + out + "' 2>&1 </dev/null";
    int status = std::system(command.c_str());
    Bytes output = ReadBytes(out);
    std::string text(output.begin(), output.end());
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << text;
    EXPECT_NE(text.find(expected), std::string::npos) << "expected:\n" << expected << "got:\n" << text;
}

}  // namespace

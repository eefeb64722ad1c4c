// formats_applet_test.cpp - the runtime executable runs an assembled applet that loads
// the image-loader test plug-in; the plug-in's command reads a PNG, a JPEG, a BMP, a GIF,
// an IFF ILBM and PBM, a TIFF (native loader) and a WebP (native loader) the test wrote through the picture entries of the interface table (graphics slots 0 to 3)
// and prints size, alpha flags and the CRC32 of the R, G, B, A bytes, which must equal
// what the test computes from its own pixels.
#include "tests/formats/formats_fixtures.h"
#include "tests/formats/gif_builder.h"
#include "tests/formats/iff_builder.h"
#include <tiffio.h>
#include <webp/encode.h>
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

    // GIF: pens through the global table; opaque.
    GifFixture gif;
    gif.width = 3, gif.height = 2;
    gif.globalTable = {0x102030, 0x405060, 0x708090, 0xA0B0C0};
    GifFrameFixture frame;
    frame.width = 3, frame.height = 2, frame.minCodeSize = 2, frame.pens = {0, 1, 2, 3, 2, 1};
    gif.frames = {frame};
    WriteBytes(dir.File("d.gif"), MakeGif(gif));
    rgba.clear();
    for (uint8_t pen : frame.pens) {
        uint32_t c = gif.globalTable[pen];
        rgba.insert(rgba.end(), {(uint8_t)(c >> 16), (uint8_t)(c >> 8), (uint8_t)c, 0xFF});
    }
    expected += Line("d.gif", 3, 2, 0, rgba);

    // IFF ILBM (2 planes) and PBM with the same pens and palette.
    IffFixture iff;
    iff.width = 3, iff.height = 2, iff.planes = 2;
    iff.cmap = {0x102030, 0x405060, 0x708090, 0xA0B0C0};
    iff.pixels = {0, 1, 2, 3, 2, 1};
    WriteBytes(dir.File("e.ilbm"), MakeIff(iff));
    expected += Line("e.ilbm", 3, 2, 0, rgba);
    iff.pbm = true, iff.planes = 8;
    WriteBytes(dir.File("f.pbm"), MakeIff(iff));
    expected += Line("f.pbm", 3, 2, 0, rgba);

    // TIFF RGB through the native loader.
    {
        TIFF *t = TIFFOpen(dir.File("g.tif").c_str(), "w");
        ASSERT_TRUE(t);
        TIFFSetField(t, TIFFTAG_IMAGEWIDTH, 2);
        TIFFSetField(t, TIFFTAG_IMAGELENGTH, 2);
        TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 8);
        TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 3);
        TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
        TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
        uint8_t rows[2][6] = {{1, 2, 3, 4, 5, 6}, {7, 8, 9, 10, 11, 12}};
        TIFFWriteScanline(t, rows[0], 0, 0);
        TIFFWriteScanline(t, rows[1], 1, 0);
        TIFFClose(t);
    }
    rgba = {1, 2, 3, 0xFF, 4, 5, 6, 0xFF, 7, 8, 9, 0xFF, 10, 11, 12, 0xFF};
    expected += Line("g.tif", 2, 2, 0, rgba);

    // Lossless WebP with alpha through the native loader.
    rgba = {200, 10, 20, 255, 30, 40, 50, 128, 60, 70, 80, 1, 90, 100, 110, 77};
    uint8_t *webp = nullptr;
    size_t webpSize = WebPEncodeLosslessRGBA(rgba.data(), 2, 2, 8, &webp);
    ASSERT_GT(webpSize, 0u);
    WriteBytes(dir.File("h.webp"), Bytes(webp, webp + webpSize));
    WebPFree(webp);
    expected += Line("h.webp", 2, 2, 1, rgba);

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

// Brushes loaded from every picture format the runtime reads, through an applet run by
// the real executable: GIF (its transparent index kept as a pen, or its pens with the
// palette), IFF ILBM and PBM, and TIFF and WebP through the native loader; the format and
// loader each brush reports; and a palette saved with its pens, depth and transparent
// pen loaded back the same.
#include <gtest/gtest.h>

#include <tiffio.h>
#include <webp/encode.h>

#include "tests/formats/formats_fixtures.h"
#include "tests/formats/gif_builder.h"
#include "tests/formats/iff_builder.h"
#include "tests/images/images_applet.h"

namespace {

const int BRUSH = 3, PALETTE = 62, ATTRFORMAT = 19, ATTRLOADER = 91, ATTRDEPTH = 103, ATTRPALETTE = 104,
          ATTRTRANSPARENTPEN = 105, ATTRWIDTH = 0;

void WriteRgbTiff(const std::string &path)
{
    TIFF *t = TIFFOpen(path.c_str(), "w");
    ASSERT_TRUE(t);
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, 5);
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, 3);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 3);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, 3);
    for (int y = 0; y < 3; y++) {
        uint8_t row[15];
        for (int x = 0; x < 5; x++) row[3 * x] = uint8_t(40 * x), row[3 * x + 1] = uint8_t(80 * y), row[3 * x + 2] = 7;
        ASSERT_EQ(TIFFWriteScanline(t, row, (uint32_t)y, 0), 1);
    }
    TIFFClose(t);
}

void WriteLosslessWebp(const std::string &path)
{
    std::vector<uint8_t> rgba(6 * 2 * 4);
    for (size_t i = 0; i < rgba.size(); i += 4) rgba[i] = 200, rgba[i + 1] = 10, rgba[i + 2] = 20, rgba[i + 3] = 255;
    uint8_t *out = nullptr;
    size_t size = WebPEncodeLosslessRGBA(rgba.data(), 6, 2, 6 * 4, &out);
    ASSERT_GT(size, 0u);
    WriteBytes(path, Bytes(out, out + size));
    WebPFree(out);
}

TEST(LoadFormatsApplet, BrushesFromEveryReadableFormat)
{
    lvScratchDir dir;
    lvAppletScript s;
    auto attr = [&](const std::string &key, int id, int attribute, std::vector<int> items = {}) {
        s.Case(key, "getattribute", {BRUSH, id, attribute}, 1, items);
    };
    s.Case("gif", "loadbrush", {1, Str("a.gif"), Fields({{"loadpalette", 1}, {"loadtransparency", 1}})});
    attr("gifformat", 1, ATTRFORMAT);
    attr("gifloader", 1, ATTRLOADER);
    attr("gifpen", 1, ATTRTRANSPARENTPEN);
    attr("gifpens", 1, ATTRPALETTE, {0, 2});
    s.Case("gifrgb", "loadbrush", {2, Str("a.gif")});
    attr("gifrgbdepth", 2, ATTRDEPTH);
    s.Case("ilbm", "loadbrush", {3, Str("a.ilbm"), Fields({{"loadpalette", 1}})});
    attr("ilbmformat", 3, ATTRFORMAT);
    attr("ilbmpens", 3, ATTRPALETTE, {0, 3});
    s.Case("pbm", "loadbrush", {4, Str("a.pbm")});
    attr("pbmformat", 4, ATTRFORMAT);
    attr("pbmwidth", 4, ATTRWIDTH);
    s.Case("tiff", "loadbrush", {5, Str("a.tif")});
    attr("tiffformat", 5, ATTRFORMAT);
    attr("tiffloader", 5, ATTRLOADER);
    attr("tiffwidth", 5, ATTRWIDTH);
    s.Case("webp", "loadbrush", {6, Str("a.webp")});
    attr("webpformat", 6, ATTRFORMAT);
    attr("webploader", 6, ATTRLOADER);
    s.Case("webppixel", "readbrushpixel", {6, 5, 1});
    // A palette saved and loaded back keeps its pens, depth and transparent pen.
    s.Case("pal", "createpalette", {10, List({0x112233, 0x445566, 0x778899, 0xAABBCC}),
                                    Fields({{"depth", 2}, {"transparentpen", 3}})});
    s.Case("save", "savepalette", {10, Str("p.iff")});
    s.Case("load", "loadpalette", {11, Str("p.iff")});
    s.Case("loaddepth", "getattribute", {PALETTE, 11, ATTRDEPTH});
    s.Case("loadpen", "getattribute", {PALETTE, 11, ATTRTRANSPARENTPEN});
    s.Case("loadpens", "getattribute", {PALETTE, 11, ATTRPALETTE}, 1, {0, 1, 2, 3});

    GifFixture gif;
    gif.width = 4, gif.height = 2;
    gif.globalTable = {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF};
    GifFrameFixture frame;
    frame.width = 4, frame.height = 2, frame.transparent = 1, frame.minCodeSize = 2;
    frame.pens = {0, 1, 2, 3, 3, 2, 1, 0};
    gif.frames = {frame};
    WriteBytes(dir.File("a.gif"), MakeGif(gif));
    IffFixture ilbm;
    ilbm.cmap = {0x000000, 0x102030, 0x405060, 0x708090};
    ilbm.pixels = {0, 1, 2, 3, 3, 2, 1, 0};
    WriteBytes(dir.File("a.ilbm"), MakeIff(ilbm));
    IffFixture pbm;
    pbm.pbm = true, pbm.planes = 8, pbm.width = 3, pbm.height = 2;
    pbm.cmap = std::vector<uint32_t>(256, 0x808080);
    pbm.pixels = {1, 2, 3, 4, 5, 6};
    WriteBytes(dir.File("a.pbm"), MakeIff(pbm));
    WriteRgbTiff(dir.File("a.tif"));
    WriteLosslessWebp(dir.File("a.webp"));

    int exitCode = -1;
    std::string all;
    auto lines = RunAppletScript(dir, s, "", &exitCode, &all);
    ASSERT_EQ(exitCode, 0) << all;
    const std::map<std::string, std::string> expected = {
        {"gif", "0 Nil"},           {"gifformat", "0 GIF"},        {"gifloader", "0 inbuilt"},
        {"gifpen", "0 1"},          {"gifpens", "0 16711680 255"}, {"gifrgb", "0 Nil"},
        {"ilbm", "0 Nil"},          {"ilbmformat", "0 IFF ILBM"},  {"ilbmpens", "0 0 7372944"},
        {"pbm", "0 Nil"},           {"pbmformat", "0 IFF PBM"},    {"pbmwidth", "0 3"},
        {"tiff", "0 Nil"},          {"tiffformat", "0 TIFF"},      {"tiffloader", "0 native"},
        {"tiffwidth", "0 5"},       {"webp", "0 Nil"},             {"webpformat", "0 WebP"},
        {"webploader", "0 native"}, {"pal", "0 Nil"},              {"save", "0 Nil"},
        {"load", "0 Nil"},          {"loaddepth", "0 2"},          {"loadpen", "0 3"},
        {"loadpens", "0 1122867 4478310 7833753 11189196"},
    };
    for (const auto &[key, value] : expected) EXPECT_EQ(lines[key], value) << key << "\n" << all;
    EXPECT_TRUE(lines["gifrgbdepth"] == "0 24" || lines["gifrgbdepth"] == "0 32") << lines["gifrgbdepth"];
    EXPECT_EQ(lines["webppixel"].substr(0, 2), "0 ") << lines["webppixel"];
}

}  // namespace

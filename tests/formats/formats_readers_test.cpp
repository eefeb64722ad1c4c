// formats_readers_test.cpp - identification, the BMP, PNG and JPEG readers and writers,
// against files the tests write themselves and values computed from their own pixels.
#include "formats/lvformats.h"
#include "raster/lvbitmap.h"
#include "base/lverrors.h"
#include "tests/formats/formats_fixtures.h"
#include <chrono>
#include <cstring>
#include <set>
#include <gtest/gtest.h>
#include <jpeglib.h>
#include <png.h>
#include <zlib.h>

namespace {

// An open file over bytes written to the scratch folder; closed with the scope.
struct OpenedBytes {
    lvVFile *file = nullptr;
    OpenedBytes(const ScratchDir &dir, const Bytes &bytes, const char *name = "picture")
    {
        WriteBytes(dir.File(name), bytes);
        file = OpenVFile(dir.File(name).c_str(), LV_VF_READ, nullptr, nullptr);
    }
    ~OpenedBytes() { CloseVFile(file); }
};

struct Identity {
    int code, format, width, height, depth, alpha, transparency, orientation;
    bool operator==(const Identity &) const = default;
};
std::ostream &operator<<(std::ostream &out, const Identity &i)
{
    return out << "{code " << i.code << " fmt " << i.format << " " << i.width << "x" << i.height << " depth "
               << i.depth << " alpha " << i.alpha << " trans " << i.transparency << " orient " << i.orientation << "}";
}

Identity Identify(const ScratchDir &dir, const Bytes &bytes)
{
    OpenedBytes f(dir, bytes);
    Identity i = {};
    i.code = IdentifyImageFile(&i.height, &i.depth, f.file, &i.format, &i.width, &i.alpha, &i.transparency,
                               &i.orientation);
    return i;
}

void Put16Be(Bytes &b, size_t at, unsigned v) { b[at] = (uint8_t)(v >> 8), b[at + 1] = (uint8_t)v; }

// The decoded words of a reader (ARGB or pens) and what came with them.
struct Decoded {
    int code = -1, width = 0, height = 0, depth = 0, pen = -1, alpha = 0;
    std::vector<uint32_t> argb;
    std::vector<uint8_t> pens;
    std::vector<uint32_t> palette;
};

// Copies a reader's buffers into the record and frees them.
void Keep(Decoded *d, uint32_t flags, uint8_t *pixels, uint32_t *palette)
{
    if (d->code == 0 && pixels) {
        size_t n = (size_t)d->width * d->height;
        if (flags & LV_IMGLOAD_PALETTE) d->pens.assign(pixels, pixels + n);
        else d->argb.assign((uint32_t *)pixels, (uint32_t *)pixels + n);
    }
    if (palette) d->palette.assign(palette, palette + 256);
    FreeMemory(pixels);
    FreeMemory(palette);
}

Decoded ReadBmp(const ScratchDir &dir, const Bytes &bytes, uint32_t flags = 0)
{
    OpenedBytes f(dir, bytes);
    Decoded d;
    uint8_t *pixels = nullptr;
    uint32_t *palette = nullptr;
    d.code = ReadBmpFile(f.file, flags, &d.width, &d.height, &d.depth, &pixels, &palette);
    Keep(&d, flags, pixels, palette);
    return d;
}

Decoded ReadPng(const ScratchDir &dir, const Bytes &bytes, uint32_t flags = 0)
{
    OpenedBytes f(dir, bytes);
    Decoded d;
    uint8_t *pixels = nullptr;
    uint32_t *palette = nullptr;
    ReadPngFile(f.file, flags, &d.width, &d.height, &d.depth, &pixels, &palette, &d.pen, &d.alpha, &d.code);
    Keep(&d, flags, pixels, palette);
    return d;
}

Decoded ReadJpeg(const ScratchDir &dir, const Bytes &bytes, int orientation = 0, bool fromMemory = false)
{
    Decoded d;
    uint32_t *pixels = nullptr;
    if (fromMemory) {
        d.code = DecodeJpegImage(bytes.data(), bytes.size(), 0, orientation, &d.width, &d.height, &pixels);
    } else {
        OpenedBytes f(dir, bytes);
        d.code = DecodeJpegImage(f.file, 0, 0, orientation, &d.width, &d.height, &pixels);
    }
    if (d.code == 0) d.argb.assign(pixels, pixels + (size_t)d.width * d.height);
    FreeMemory(pixels);
    return d;
}

uint32_t Rgb(unsigned r, unsigned g, unsigned b) { return r << 16 | g << 8 | b; }

// ============================================================================
// Identification
// ============================================================================

TEST(Identify, EdgeCasesOfEveryFormat)
{
    ScratchDir dir;
    PngFixture rgbTrns;
    rgbTrns.greyTrns = true;  // colour type 2 with a tRNS: no transparency reported
    PngFixture paletteTrns;
    paletteTrns.colourType = 3, paletteTrns.bitDepth = 4;
    paletteTrns.palette = {0, 0, 0, 255, 255, 255, 9, 9, 9};
    paletteTrns.trns = {0, 255};
    PngFixture paletteOpaque = paletteTrns;
    paletteOpaque.trns.clear();
    PngFixture greyAlpha16;
    greyAlpha16.colourType = 4, greyAlpha16.bitDepth = 16, greyAlpha16.width = 70000, greyAlpha16.height = 2;

    JpegFixture turned;
    turned.width = 640, turned.height = 480, turned.orientation = 6;
    JpegFixture turnedMM = turned;
    turnedMM.exifBigEndian = true, turnedMM.jfif = false;  // APP1 straight after SOI
    JpegFixture cmykTurned = turned;
    cmykTurned.components = 4;
    JpegFixture plain;
    plain.width = 33, plain.height = 17;
    // A frame header as the first segment after SOI is skipped unread.
    Bytes frameFirst = {0xFF, 0xD8, 0xFF, 0xC0, 0, 11, 8, 0, 10, 0, 20, 1, 1, 0x11, 0};

    BmpFixture bottomUp;
    bottomUp.height = -7, bottomUp.width = 5, bottomUp.bits = 8;
    Bytes ilbm = {'F', 'O', 'R', 'M', 0, 0, 0, 60, 'I', 'L', 'B', 'M', 'B', 'M', 'H', 'D', 0, 0, 0, 20,
                  1, 64, 0, 200, 0, 0, 0, 0, 6, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                  'C', 'A', 'M', 'G', 0, 0, 0, 4, 0, 0, 0x08, 0x00};
    Bytes gifTransparent = {'G', 'I', 'F', '8', '9', 'a', 10, 0, 20, 0, 0x81, 0, 0};
    gifTransparent.insert(gifTransparent.end(), 12, 0x40);  // 4-entry colour table
    gifTransparent.insert(gifTransparent.end(), {0x21, 0xF9, 4, 1, 0, 0, 0, 0});
    Bytes gifComment = {'G', 'I', 'F', '8', '9', 'a', 3, 0, 4, 0, 0x02, 0, 0, 0x21, 0xFE};
    for (int i = 0; i < 12; i++) gifComment.push_back(255), gifComment.insert(gifComment.end(), 255, 'c');
    Bytes tiff = {'I', 'I', 42, 0, 8, 0, 0, 0, 4, 0,
                  0, 1, 3, 0, 1, 0, 0, 0, 77, 0, 0, 0,   // width 77
                  1, 1, 3, 0, 1, 0, 0, 0, 55, 0, 0, 0,   // height 55
                  2, 1, 3, 0, 1, 0, 0, 0, 8, 0, 0, 0,    // 8 bits
                  21, 1, 3, 0, 1, 0, 0, 0, 4, 0, 0, 0};  // 4 samples
    tiff.insert(tiff.end(), {6, 1, 3, 0, 1, 0, 0, 0, 2, 0, 0, 0});
    tiff[8] = 5;

    struct Case {
        const char *name;
        Bytes bytes;
        Identity want;
    } cases[] = {
        {"shorter than any magic", {0x89, 'P'}, {ERR_LOADPICTURE2, IMGFMT_UNKNOWN, 0, 0, 0, 0, 0, 0}},
        {"text", Bytes(3000, 'x'), {ERR_LOADPICTURE2, IMGFMT_UNKNOWN, 0, 0, 0, 0, 0, 0}},
        {"png rgb + tRNS", MakePng(rgbTrns), {0, IMGFMT_PNG, 4, 3, 24, 0, 0, 0}},
        {"png palette + tRNS", MakePng(paletteTrns), {0, IMGFMT_PNG, 4, 3, 4, 0, 1, 0}},
        {"png palette", MakePng(paletteOpaque), {0, IMGFMT_PNG, 4, 3, 4, 0, 0, 0}},
        {"png grey+alpha 16", MakePng(greyAlpha16), {0, IMGFMT_PNG, 70000, 2, 32, 1, 0, 0}},
        {"jpeg exif 6 (II)", MakeJpeg(turned), {0, IMGFMT_JPEG, 480, 640, 24, 0, 0, 6}},
        {"jpeg exif 6 (MM, APP1 first)", MakeJpeg(turnedMM), {0, IMGFMT_JPEG, 480, 640, 24, 0, 0, 6}},
        {"cmyk jpeg is never turned", MakeJpeg(cmykTurned), {0, IMGFMT_JPEG, 640, 480, 24, 0, 0, 6}},
        {"jpeg", MakeJpeg(plain), {0, IMGFMT_JPEG, 33, 17, 24, 0, 0, 0}},
        {"jpeg frame first", frameFirst, {ERR_LOADPICTURE2, IMGFMT_UNKNOWN, 0, 0, 0, 0, 0, 0}},
        {"bmp bottom-up", MakeBmp(bottomUp), {0, IMGFMT_BMP, 5, 7, 8, 0, 0, 0}},
        {"ilbm ham", ilbm, {0, IMGFMT_ILBM, 320, 200, 24, 0, 1, 0}},
        {"gif transparent", gifTransparent, {0, IMGFMT_GIF, 10, 20, 2, 0, 1, 0}},
        {"gif long comment", gifComment, {0, IMGFMT_GIF, 3, 4, 3, 0, 0, 0}},
        {"tiff rgba", tiff, {0, IMGFMT_TIFF, 77, 55, 32, 1, 0, 0}},
    };
    for (const Case &c : cases) EXPECT_EQ(Identify(dir, c.bytes), c.want) << c.name;
}

TEST(Identify, EveryOrientationAndAKnownOneIsKept)
{
    ScratchDir dir;
    for (int orientation = 1; orientation <= 8; orientation++) {
        JpegFixture fixture;
        fixture.width = 64, fixture.height = 32, fixture.orientation = orientation;
        Identity got = Identify(dir, MakeJpeg(fixture));
        bool turned = orientation >= 5;
        EXPECT_EQ(got, (Identity{0, IMGFMT_JPEG, turned ? 32 : 64, turned ? 64 : 32, 24, 0, 0, orientation}))
            << orientation;
    }
    // A value known on entry is not replaced by the file's.
    JpegFixture fixture;
    fixture.orientation = 3;
    OpenedBytes f(dir, MakeJpeg(fixture));
    Identity i = {};
    i.orientation = 8;
    IdentifyImageFile(&i.height, &i.depth, f.file, &i.format, &i.width, &i.alpha, &i.transparency, &i.orientation);
    EXPECT_EQ(i.orientation, 8);
    EXPECT_EQ(i.width, 8);  // 16 x 8, turned by the known 8
}

TEST(Identify, FindChunkTagLooksAtEveryPositionButTheLastEight)
{
    Bytes b(20, 0);
    std::memcpy(b.data() + 11, "IHDR", 4);
    EXPECT_EQ(FindChunkTag("IHDR", b.data(), 20), 15);
    EXPECT_EQ(FindChunkTag("IHDR", b.data(), 19), -1);  // position 11 is past 19 - 9
    EXPECT_EQ(FindChunkTag("BMHD", b.data(), 20), -1);
}

// ============================================================================
// BMP reader
// ============================================================================

TEST(BmpReader, EveryBitCountPixelExact)
{
    ScratchDir dir;
    std::vector<uint32_t> palette;
    for (int i = 0; i < 256; i++) palette.push_back(Rgb(i, 255 - i, i * 7 & 255));
    const int w = 5, h = 3;
    struct Case {
        int bits;
    } cases[] = {{1}, {4}, {8}, {16}, {24}, {32}};
    for (const Case &c : cases) {
        BmpFixture fixture;
        fixture.width = w, fixture.height = h, fixture.bits = c.bits;
        if (c.bits <= 8) fixture.palette.assign(palette.begin(), palette.begin() + (1 << c.bits));
        size_t rowBytes = c.bits == 32 ? w * 4 : ((size_t)w * c.bits + 31) / 32 * 4;
        std::vector<uint32_t> want(w * h);
        for (int fileRow = 0; fileRow < h; fileRow++) {
            int y = h - 1 - fileRow;
            Bytes row(rowBytes, 0);
            for (int x = 0; x < w; x++) {
                unsigned v = (unsigned)(x * 3 + y * 5 + 1);
                if (c.bits <= 8) {
                    unsigned pen = v % (1u << c.bits);
                    if (c.bits == 8) row[x] = (uint8_t)pen;
                    else if (c.bits == 4) row[x / 2] |= (uint8_t)(pen << (x % 2 ? 0 : 4));
                    else row[x / 8] |= (uint8_t)(pen << (7 - x % 8));
                    want[y * w + x] = palette[pen];
                } else if (c.bits == 16) {
                    unsigned word = v * 2719 & 0xFFFF;
                    row[x * 2] = (uint8_t)word, row[x * 2 + 1] = (uint8_t)(word >> 8);
                    want[y * w + x] = Rgb((word >> 10 & 31) * 255 / 31, (word >> 5 & 31) * 255 / 31, (word & 31) * 255 / 31);  // 5-5-5
                } else {
                    int step = c.bits / 8;
                    row[x * step] = (uint8_t)(v * 11), row[x * step + 1] = (uint8_t)(v * 13), row[x * step + 2] = (uint8_t)(v * 17);
                    if (step == 4) row[x * step + 3] = 0x99;  // skipped: alpha stays 0
                    want[y * w + x] = Rgb(v * 17 & 255, v * 13 & 255, v * 11 & 255);
                }
            }
            fixture.data.insert(fixture.data.end(), row.begin(), row.end());
        }
        Decoded d = ReadBmp(dir, MakeBmp(fixture));
        ASSERT_EQ(d.code, 0) << c.bits;
        EXPECT_EQ(d.depth, c.bits);
        EXPECT_EQ(d.argb, want) << c.bits;
        if (c.bits <= 8) {
            Decoded pens = ReadBmp(dir, MakeBmp(fixture), LV_IMGLOAD_PALETTE | LV_IMGLOAD_COPYPALETTE);
            ASSERT_EQ(pens.code, 0);
            ASSERT_EQ(pens.palette.size(), 256u);
            for (int i = 0; i < w * h; i++) EXPECT_EQ(pens.palette[pens.pens[i]], want[i]) << c.bits << " " << i;
        }
    }
}

TEST(BmpReader, SixteenBitsAllSetAndSizeOnly)
{
    ScratchDir dir;
    BmpFixture fixture;
    fixture.width = 1, fixture.height = 1, fixture.bits = 16, fixture.data = {0xFF, 0xFF, 0, 0};
    Decoded d = ReadBmp(dir, MakeBmp(fixture));
    ASSERT_EQ(d.code, 0);
    EXPECT_EQ(d.argb[0], 0x00FFFFFFu);  // 5-5-5 channels all set, alpha 0

    fixture.width = 12345, fixture.height = 678, fixture.data.clear();
    d = ReadBmp(dir, MakeBmp(fixture), LV_IMGLOAD_SIZEONLY);
    EXPECT_EQ(d.code, 0);
    EXPECT_EQ(d.width, 12345);
    EXPECT_EQ(d.height, 678);
}

TEST(BmpReader, Rle8StreamsAndRle4AsUncompressed)
{
    ScratchDir dir;
    std::vector<uint32_t> palette;
    for (int i = 0; i < 256; i++) palette.push_back(Rgb(i, i, i));
    BmpFixture fixture;
    fixture.width = 6, fixture.height = 4, fixture.bits = 8, fixture.compression = 1, fixture.palette = palette;
    // Bottom row: 3 x pen 7, absolute 2 5 9 (odd: a pad byte), end of line.
    // Next row: delta (2, 1) -> skips a row, then at x 2 on the row above: 2 x pen 4, end of bitmap.
    fixture.data = {3, 7, 0, 3, 2, 5, 9, 0, 0, 0, 0, 2, 2, 1, 2, 4, 0, 1};
    Decoded d = ReadBmp(dir, MakeBmp(fixture), LV_IMGLOAD_PALETTE);
    ASSERT_EQ(d.code, 0);
    // The delta keeps the column the row had reached (0 after the end of line) and adds 2.
    std::vector<uint8_t> want;
    want = {0, 0, 0, 0, 0, 0, 0, 0, 4, 4, 0, 0, 0, 0, 0, 0, 0, 0, 7, 7, 7, 2, 5, 9};
    EXPECT_EQ(d.pens, want);

    // End of bitmap after the first row leaves every other row at pen 0; a run longer
    // than the row is cut at its end.
    fixture.data = {9, 3, 0, 1, 4, 8, 0, 0};
    d = ReadBmp(dir, MakeBmp(fixture), LV_IMGLOAD_PALETTE);
    ASSERT_EQ(d.code, 0);
    want.assign(24, 0);
    for (int x = 0; x < 6; x++) want[18 + x] = 3;
    EXPECT_EQ(d.pens, want);

    // RLE4 is read as if uncompressed.
    BmpFixture rle4;
    rle4.width = 2, rle4.height = 1, rle4.bits = 4, rle4.compression = 2;
    rle4.palette = {Rgb(1, 1, 1), Rgb(2, 2, 2), Rgb(3, 3, 3)};
    rle4.data = {0x21, 0, 0, 0};
    d = ReadBmp(dir, MakeBmp(rle4));
    ASSERT_EQ(d.code, 0);
    EXPECT_EQ(d.argb, (std::vector<uint32_t>{Rgb(3, 3, 3), Rgb(2, 2, 2)}));
}

TEST(BmpReader, HostileHeadersGiveTheirCodes)
{
    ScratchDir dir;
    BmpFixture base;
    base.width = 4, base.height = 2, base.bits = 8, base.palette = std::vector<uint32_t>(256, Rgb(1, 2, 3));
    base.data = Bytes(8, 1);
    struct Case {
        const char *name;
        BmpFixture fixture;
        uint32_t flags;
        int code;
    };
    std::vector<Case> cases;
    auto with = [&](const char *name, auto change, uint32_t flags, int code) {
        BmpFixture s = base;
        change(s);
        cases.push_back({name, s, flags, code});
    };
    with("top-down", [](BmpFixture &s) { s.height = -2; }, 0, ERR_LOADPICTURE2);
    with("height 0", [](BmpFixture &s) { s.height = 0; }, 0, ERR_LOADPICTURE2);
    with("width 0", [](BmpFixture &s) { s.width = 0; }, 0, ERR_LOADPICTURE2);
    with("width -1", [](BmpFixture &s) { s.width = -1; }, 0, ERR_LOADPICTURE2);
    with("bit count 7", [](BmpFixture &s) { s.bits = 7; }, 0, ERR_LOADPICTURE2);
    with("palette mode on 24 bits", [](BmpFixture &s) { s.bits = 24; }, LV_IMGLOAD_PALETTE, ERR_NOPALETTE);
    with("colours used 5000", [](BmpFixture &s) { s.coloursUsed = 5000; }, LV_IMGLOAD_COPYPALETTE, 0);
    with("beyond the pixel limit", [](BmpFixture &s) { s.width = 1 << 20, s.height = 1 << 20; }, 0, ERR_MEM);
    with("rle delta past the top", [](BmpFixture &s) {
        s.compression = 1;
        s.data = {0, 2, 0, 200, 1, 5, 0, 0, 2, 5, 0, 2, 0, 250, 0, 1};
    }, 0, 0);
    with("rle end of line past the top", [](BmpFixture &s) {
        s.compression = 1;
        s.data = {1, 1, 0, 0, 1, 1, 0, 0, 1, 1, 0, 0, 1, 1, 0, 0, 1, 1};
    }, 0, 0);
    with("rle data length beyond the file", [](BmpFixture &s) {
        s.compression = 1;
        s.fileSize = 0x7FFFFFFF;
        s.data = {200, 5};
    }, 0, 0);
    for (const Case &c : cases) EXPECT_EQ(ReadBmp(dir, MakeBmp(c.fixture), c.flags).code, c.code) << c.name;
    EXPECT_EQ(ReadBmp(dir, {'B'}).code, ERR_READ);
    EXPECT_EQ(ReadBmp(dir, {'P', 'K', 3, 4}).code, ERR_LOADPICTURE2);
}

// Files ImageMagick writes (V3 headers with "BMP3:", V5 by default), compared with Pillow.
TEST(BmpReader, ImageMagickFilesMatchPillow)
{
    if (!HaveTool("convert") || !RunTool("convert -version 2>/dev/null | grep -q ImageMagick")) GTEST_SKIP() << "no ImageMagick";
    if (!HavePillow()) GTEST_SKIP() << "no Pillow";
    ScratchDir dir;
    const int W = 13, H = 7;
    std::vector<uint32_t> rgb;
    for (int y = 0; y < H; y++)
        for (int x = 0; x < W; x++) rgb.push_back(Rgb(x * 19, y * 37, (x * y * 11 + 40) & 255));
    WritePpm(dir.File("in.ppm"), W, H, rgb);
    struct Case {
        const char *name, *options, *prefix;
        int header, bits, compression;
        bool asBiRgb;  // the file's compression set to BI_RGB afterwards (its masks then do not count)
    };
    std::vector<Case> cases = {
        {"V3 1 bit", "-type palette -colors 2", "BMP3:", 40, 1, 0, false},
        {"V3 4 bits", "-type palette -colors 16", "BMP3:", 40, 4, 0, false},
        {"V3 8 bits", "-type palette -colors 200", "BMP3:", 40, 8, 0, false},
        {"V3 24 bits", "-type truecolor", "BMP3:", 40, 24, 0, false},
        {"V5 1 bit", "-type palette -colors 2", "", 124, 1, 0, false},
        {"V5 4 bits", "-type palette -colors 16", "", 124, 4, 0, false},
        {"V5 8 bits", "-type palette -colors 200", "", 124, 8, 0, false},
        {"V5 24 bits", "-type truecolor", "", 124, 24, 0, false},
        {"V5 32 bits, bitfields", "-type truecolormatte", "", 124, 32, 3, false},
        {"V5 16 bits 5-6-5 bitfields", "-define bmp:subtype=RGB565", "", 124, 16, 3, false},
        {"V5 16 bits 5-5-5 bitfields", "-define bmp:subtype=RGB555", "", 124, 16, 3, false},
        {"V5 16 bits BI_RGB", "-define bmp:subtype=RGB565", "", 124, 16, 0, true},
    };
    for (const Case &c : cases) {
        std::string path = dir.File("im.bmp");
        ASSERT_TRUE(RunTool("convert " + dir.File("in.ppm") + " " + c.options + " -compress none " + c.prefix + path +
                            " 2>/dev/null"))
            << c.name;
        Bytes file = ReadBytes(path);
        ASSERT_GT(file.size(), 54u) << c.name;
        if (c.asBiRgb) file[30] = 0, WriteBytes(path, file);
        auto le = [&](size_t at) { return (uint32_t)file[at] | (uint32_t)file[at + 1] << 8 | (uint32_t)file[at + 2] << 16 | (uint32_t)file[at + 3] << 24; };
        ASSERT_EQ(le(14), (uint32_t)c.header) << c.name;
        ASSERT_EQ(file[28], c.bits) << c.name;
        ASSERT_EQ(le(30), (uint32_t)c.compression) << c.name;
        int w = 0, h = 0;
        std::vector<uint32_t> want;
        ASSERT_TRUE(PillowRgb(path, &w, &h, &want)) << c.name;
        Decoded d = ReadBmp(dir, file);
        ASSERT_EQ(d.code, 0) << c.name;
        ASSERT_EQ(d.width, w);
        ASSERT_EQ(d.height, h);
        size_t equal = 0;
        for (size_t i = 0; i < want.size(); i++) equal += (d.argb[i] & 0xFFFFFF) == want[i];
        EXPECT_EQ(equal, want.size()) << c.name << ": pixels equal to Pillow's";
        if (c.bits == 16) {
            std::set<uint32_t> colours(want.begin(), want.end());
            EXPECT_GT(colours.size(), 40u) << c.name << ": the picture shows the channels apart";
        }
    }
}

// A BMP's uncompressed body must hold the declared rows; a 1 KB file that claims
// 16,384 x 16,384 pixels is refused before the picture is allocated, also under a
// 512 MB address-space ceiling.
TEST(BmpReader, BodyTooSmallForTheDeclaredPictureIsRefused)
{
    ScratchDir dir;
    struct Case {
        const char *name;
        int bits;
        int32_t width, height;
        size_t dataBytes;
        int code;
    };
    std::vector<Case> cases = {
        {"24 bits, 16384 square, 1 KB", 24, 16384, 16384, 1000, ERR_LOADPICTURE2},
        {"8 bits, 16384 square, 1 KB", 8, 16384, 16384, 1000, ERR_LOADPICTURE2},
        {"32 bits, 16384 square, 1 KB", 32, 16384, 16384, 1000, ERR_LOADPICTURE2},
        {"1 bit, one row short", 1, 40, 10, 4 * 9, ERR_LOADPICTURE2},
        {"24 bits, whole", 24, 5, 3, 16 * 3, 0},
        {"24 bits, the last row's padding missing", 24, 5, 3, 16 * 2 + 15, 0},
    };
    for (const Case &c : cases) {
        BmpFixture f;
        f.bits = c.bits, f.width = c.width, f.height = c.height;
        if (c.bits <= 8) f.palette.assign((size_t)1 << c.bits, Rgb(9, 8, 7));
        f.data.assign(c.dataBytes, 0x42);
        Bytes file = MakeBmp(f);
        EXPECT_EQ(ReadBmp(dir, file).code, c.code) << c.name;
#ifndef LV_SANITIZED
        int code = -1;
        ASSERT_TRUE(RunUnderAddressLimit(512u << 20, true, 20, [&] { return ReadBmp(dir, file).code; }, &code)) << c.name;
        EXPECT_EQ(code, c.code) << c.name << " under 512 MB";
#endif
    }
}

// ============================================================================
// PNG reader
// ============================================================================

// The ARGB word the reader must give for pixel (x, y) of a true-colour or grey PNG.
uint32_t ExpectedPngWord(const PngFixture &fixture, int x, int y)
{
    auto to8 = [&](unsigned v) {
        if (fixture.bitDepth == 16) return v >> 8;
        return v * 255 / ((1u << fixture.bitDepth) - 1);
    };
    unsigned s0 = to8(PngSample(fixture, x, y, 0));
    switch (fixture.colourType) {
    case 0: return Rgb(s0, s0, s0);
    case 2: return Rgb(s0, to8(PngSample(fixture, x, y, 1)), to8(PngSample(fixture, x, y, 2)));
    case 4: return to8(PngSample(fixture, x, y, 1)) << 24 | Rgb(s0, s0, s0);
    default: return to8(PngSample(fixture, x, y, 3)) << 24 | Rgb(s0, to8(PngSample(fixture, x, y, 1)), to8(PngSample(fixture, x, y, 2)));
    }
}

TEST(PngReader, EveryColourTypeAndDepthWithInterlacedTwins)
{
    ScratchDir dir;
    struct Case {
        int colourType, bitDepth, depth, alpha;
    } cases[] = {{0, 1, 1, 0}, {0, 2, 2, 0}, {0, 4, 4, 0}, {0, 8, 8, 0}, {0, 16, 16, 0}, {2, 8, 24, 0},
                 {2, 16, 24, 0}, {4, 8, 24, 1}, {4, 16, 24, 1}, {6, 8, 32, 1}, {6, 16, 32, 1}};
    for (const Case &c : cases) {
        PngFixture fixture;
        fixture.width = 13, fixture.height = 9, fixture.colourType = c.colourType, fixture.bitDepth = c.bitDepth;
        std::vector<uint32_t> want;
        for (int y = 0; y < fixture.height; y++)
            for (int x = 0; x < fixture.width; x++) want.push_back(ExpectedPngWord(fixture, x, y));
        for (bool interlaced : {false, true}) {
            fixture.interlaced = interlaced;
            Decoded d = ReadPng(dir, MakePng(fixture));
            ASSERT_EQ(d.code, 0) << c.colourType << "/" << c.bitDepth;
            EXPECT_EQ(d.depth, c.depth) << c.colourType << "/" << c.bitDepth;
            EXPECT_EQ(d.alpha, c.alpha);
            EXPECT_EQ(d.pen, -1);
            EXPECT_EQ(d.argb, want) << c.colourType << "/" << c.bitDepth << (interlaced ? " interlaced" : "");
        }
    }
}

TEST(PngReader, PaletteModeRampsPensAndTransparentPens)
{
    ScratchDir dir;
    PngFixture grey;
    grey.colourType = 0, grey.bitDepth = 2, grey.width = 7, grey.height = 5;
    Decoded d = ReadPng(dir, MakePng(grey), LV_IMGLOAD_PALETTE | LV_IMGLOAD_COPYPALETTE);
    ASSERT_EQ(d.code, 0);
    ASSERT_EQ(d.palette.size(), 256u);
    EXPECT_EQ(std::vector<uint32_t>(d.palette.begin(), d.palette.begin() + 5),
              (std::vector<uint32_t>{0, 0x555555, 0xAAAAAA, 0xFFFFFF, 0}));
    for (int y = 0; y < 5; y++)
        for (int x = 0; x < 7; x++) EXPECT_EQ(d.pens[y * 7 + x], PngSample(grey, x, y, 0));

    PngFixture pal;
    pal.colourType = 3, pal.bitDepth = 4, pal.width = 9, pal.height = 4;
    pal.palette = {10, 20, 30, 40, 50, 60, 70, 80, 90, 100, 110, 120};
    pal.trns = {255, 128, 0, 0};
    for (bool interlaced : {false, true}) {
        pal.interlaced = interlaced;
        d = ReadPng(dir, MakePng(pal), LV_IMGLOAD_PALETTE | LV_IMGLOAD_TRANSPEN | LV_IMGLOAD_COPYPALETTE);
        ASSERT_EQ(d.code, 0);
        EXPECT_EQ(d.pen, 2);  // the first index whose alpha is 0
        EXPECT_EQ(d.depth, 4);
        EXPECT_EQ(d.palette[3], Rgb(100, 110, 120));
        for (int i = 0; i < 36; i++) EXPECT_EQ(d.pens[i], i % 4);
    }
    // Without flag 0x2 the tRNS is not looked at.
    EXPECT_EQ(ReadPng(dir, MakePng(pal), LV_IMGLOAD_PALETTE).pen, -1);

    // ARGB mode with flag 0x2: the tRNS becomes alpha and the pen is -2.
    pal.interlaced = false;
    d = ReadPng(dir, MakePng(pal), LV_IMGLOAD_TRANSPEN);
    ASSERT_EQ(d.code, 0);
    EXPECT_EQ(d.pen, -2);
    EXPECT_EQ(d.argb[0], 0xFF000000u | Rgb(10, 20, 30));
    EXPECT_EQ(d.argb[1], 0x80000000u | Rgb(40, 50, 60));
    EXPECT_EQ(d.argb[2], Rgb(70, 80, 90));
    // Without it: plain RGB, alpha byte 0.
    d = ReadPng(dir, MakePng(pal));
    EXPECT_EQ(d.argb[1], Rgb(40, 50, 60));

    // Palette only: the palette, no pixels.
    d = ReadPng(dir, MakePng(pal), LV_IMGLOAD_PALETTE | LV_IMGLOAD_PALETTEONLY | LV_IMGLOAD_COPYPALETTE);
    EXPECT_EQ(d.code, 0);
    EXPECT_TRUE(d.pens.empty());
    EXPECT_EQ(d.palette[0], Rgb(10, 20, 30));

    // Palette mode for pictures without a palette or ramp.
    PngFixture rgb;
    EXPECT_EQ(ReadPng(dir, MakePng(rgb), LV_IMGLOAD_PALETTE).code, ERR_NOPALETTE);
    grey.bitDepth = 16;
    EXPECT_EQ(ReadPng(dir, MakePng(grey), LV_IMGLOAD_PALETTE).code, ERR_NOPALETTE);
}

TEST(PngReader, BrokenAndHugeFiles)
{
    ScratchDir dir;
    PngFixture fixture;
    fixture.width = 40, fixture.height = 40;
    Bytes whole = MakePng(fixture);
    EXPECT_EQ(ReadPng(dir, Bytes(whole.begin(), whole.begin() + whole.size() / 2)).code, ERR_LOADPICTURE2);
    EXPECT_EQ(ReadPng(dir, Bytes(whole.begin(), whole.begin() + 30)).code, ERR_LOADPICTURE2);
    EXPECT_EQ(ReadPng(dir, {}).code, ERR_LOADPICTURE2);
    Bytes corrupt = whole;
    corrupt[corrupt.size() / 2] ^= 0x55;
    EXPECT_EQ(ReadPng(dir, corrupt).code, ERR_LOADPICTURE2);

    // A 10^6 x 10^6 header: refused before anything is allocated for its pixels.
    Bytes huge(whole.begin(), whole.begin() + 33);
    for (int at : {16, 20}) huge[at] = 0, huge[at + 1] = 0x0F, huge[at + 2] = 0x42, huge[at + 3] = 0x40;
    uint32_t crc = (uint32_t)crc32(0, huge.data() + 12, 17);
    for (int i = 0; i < 4; i++) huge[29 + i] = (uint8_t)(crc >> (24 - 8 * i));
    Bytes idat = {0, 0, 0, 2, 'I', 'D', 'A', 'T', 0x78, 0x9C};
    uint32_t idatCrc = (uint32_t)crc32(0, idat.data() + 4, 6);
    for (int i = 0; i < 4; i++) idat.push_back((uint8_t)(idatCrc >> (24 - 8 * i)));
    huge.insert(huge.end(), idat.begin(), idat.end());
    EXPECT_EQ(ReadPng(dir, huge).code, ERR_MEM);
    Decoded size = ReadPng(dir, huge, LV_IMGLOAD_SIZEONLY);
    EXPECT_EQ(size.code, 0);
    EXPECT_EQ(size.width, 1000000);
}

// A PNG chunk: length, type, data and CRC.
Bytes PngChunk(const char *type, const Bytes &data, uint32_t length)
{
    Bytes b;
    for (int s = 24; s >= 0; s -= 8) b.push_back((uint8_t)(length >> s));
    b.insert(b.end(), type, type + 4);
    b.insert(b.end(), data.begin(), data.end());
    uint32_t crc = (uint32_t)crc32(0, b.data() + 4, (uInt)(b.size() - 4));
    for (int s = 24; s >= 0; s -= 8) b.push_back((uint8_t)(crc >> s));
    return b;
}

// Files like libpng's "huge_*" crashers: a few dozen bytes whose chunk claims up to 2 GB.
// They fail at the chunk's header, in little time and memory; a chunk larger than any
// picture needs fails likewise even when the file holds it whole.
TEST(PngReader, HugeChunksFailAtOnce)
{
    ScratchDir dir;
    PngFixture fixture;
    fixture.width = 8, fixture.height = 8;
    Bytes whole = MakePng(fixture);
    Bytes head(whole.begin(), whole.begin() + 33);  // signature and IHDR
    Bytes tail(whole.begin() + 33, whole.end());   // IDAT and IEND
    ASSERT_EQ(ReadPng(dir, head + tail).code, 0);
    for (const char *type : {"iTXt", "zTXt", "tEXt", "iCCP", "sPLT", "eXIf", "juNK", "juNk", "IDAT"}) {
        for (uint32_t length : {0x7FFFFFFFu, 0x40000000u, 0x01000000u}) {
            Bytes file = head + PngChunk(type, Bytes(12, 'x'), length);
            file.resize(57, 0);
            std::string name = std::string(type) + " of " + std::to_string(length);
            auto start = std::chrono::steady_clock::now();
            EXPECT_EQ(ReadPng(dir, file).code, ERR_LOADPICTURE2) << name;
            double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
            EXPECT_LT(ms, 1000) << name;
#ifndef LV_SANITIZED
            int code = -1;
            ASSERT_TRUE(RunUnderAddressLimit(50u << 20, false, 20, [&] { return ReadPng(dir, file).code; }, &code)) << name;
            EXPECT_EQ(code, ERR_LOADPICTURE2) << name << " within 50 MB more";
#endif
        }
    }
    // Whole chunks: a 9 MB text chunk is more than any picture needs; 1 MB passes.
    Bytes text(9u << 20, 'a');
    std::memcpy(text.data(), "Comment\0\0\0\0\0", 12);
    EXPECT_EQ(ReadPng(dir, head + PngChunk("iTXt", text, (uint32_t)text.size()) + tail).code, ERR_LOADPICTURE2);
    text.resize(1u << 20);
    EXPECT_EQ(ReadPng(dir, head + PngChunk("iTXt", text, (uint32_t)text.size()) + tail).code, 0);
}

// ============================================================================
// JPEG decoder
// ============================================================================

// The reference pixels of libjpeg-turbo's own RGB decode as 0x00RRGGBB words.
std::vector<uint32_t> ReferenceWords(const Bytes &file, int *w, int *h)
{
    std::vector<uint8_t> rgb;
    EXPECT_TRUE(ReferenceJpegRgb(file, w, h, &rgb));
    std::vector<uint32_t> words;
    for (size_t i = 0; i + 2 < rgb.size(); i += 3) words.push_back(Rgb(rgb[i], rgb[i + 1], rgb[i + 2]));
    return words;
}

TEST(JpegDecoder, BaselineProgressiveGreyAndMemoryEqualTheLibrarysDecode)
{
    ScratchDir dir;
    JpegFixture baseline;
    baseline.width = 61, baseline.height = 37;
    JpegFixture progressive = baseline;
    progressive.progressive = true;
    JpegFixture grey = baseline;
    grey.components = 1;
    JpegFixture full = baseline;
    full.subsample420 = false, full.quality = 100;
    for (const JpegFixture &fixture : {baseline, progressive, grey, full}) {
        Bytes file = MakeJpeg(fixture);
        int w, h;
        std::vector<uint32_t> want = ReferenceWords(file, &w, &h);
        for (bool memory : {false, true}) {
            Decoded d = ReadJpeg(dir, file, 0, memory);
            ASSERT_EQ(d.code, 0);
            EXPECT_EQ(d.width, 61);
            EXPECT_EQ(d.height, 37);
            EXPECT_EQ(d.argb, want) << fixture.components << (fixture.progressive ? " progressive" : "");
        }
    }
}

TEST(JpegDecoder, EveryOrientationIsTheReferenceTurned)
{
    ScratchDir dir;
    // Turned pictures go in bands of rows and tiles of four: sizes that fill them and
    // sizes that leave remainders of both.
    for (auto size : {std::make_pair(640, 480), std::make_pair(37, 23), std::make_pair(131, 70)}) {
        JpegFixture fixture;
        fixture.width = size.first, fixture.height = size.second;
        Bytes file = MakeJpeg(fixture);
        int w, h;
        std::vector<uint32_t> ref = ReferenceWords(file, &w, &h);
        for (int orientation = 0; orientation <= 9; orientation++) {
            Decoded d = ReadJpeg(dir, file, orientation);
            ASSERT_EQ(d.code, 0);
            bool swap = orientation >= 5 && orientation <= 8;
            ASSERT_EQ(d.width, swap ? h : w) << orientation;
            ASSERT_EQ(d.height, swap ? w : h);
            // Where the source's pixel (row r, column c) lands, written out per orientation.
            auto at = [&](int r, int c) -> uint32_t {
                int W = d.width;
                switch (orientation) {
                case 2: return d.argb[r * W + (w - 1 - c)];
                case 3: return d.argb[(h - 1 - r) * W + (w - 1 - c)];
                case 4: return d.argb[(h - 1 - r) * W + c];
                case 5: return d.argb[c * W + r];
                case 6: return d.argb[c * W + (W - 1 - r)];
                case 7: return d.argb[(w - 1 - c) * W + (W - 1 - r)];
                case 8: return d.argb[(w - 1 - c) * W + r];
                default: return d.argb[r * W + c];
                }
            };
            bool same = true;
            for (int r = 0; r < h && same; r++)
                for (int c = 0; c < w && same; c++) same = at(r, c) == ref[r * w + c];
            EXPECT_TRUE(same) << orientation << " at " << w << " x " << h;
        }
        Decoded six = ReadJpeg(dir, file, 6);
        EXPECT_EQ(six.argb[h - 1], ref[0]);  // top-right of the output is the source's top-left
    }
}

TEST(JpegDecoder, CmykFollowsTheAdobeRule)
{
    ScratchDir dir;
    JpegFixture fixture;
    fixture.components = 4, fixture.width = 8, fixture.height = 8;
    std::vector<uint8_t> samples(8 * 8 * 4, 255);
    for (bool adobe : {true, false}) {
        fixture.adobe = adobe;
        fixture.orientation = 6;  // ignored for CMYK
        Decoded d = ReadJpeg(dir, MakeJpeg(fixture, samples.data()), 6);
        ASSERT_EQ(d.code, 0);
        EXPECT_EQ(d.width, 8);
        for (uint32_t p : d.argb) EXPECT_EQ(p, adobe ? 0xFFFFFFu : 0u) << (adobe ? "adobe" : "plain");
    }
}

TEST(JpegDecoder, TruncatedEmptyAndHugeFiles)
{
    ScratchDir dir;
    JpegFixture fixture;
    fixture.width = 64, fixture.height = 64;
    Bytes file = MakeJpeg(fixture);
    int w, h;
    std::vector<uint32_t> ref = ReferenceWords(file, &w, &h);
    Decoded cut = ReadJpeg(dir, Bytes(file.begin(), file.begin() + file.size() * 2 / 3));
    ASSERT_EQ(cut.code, 0);
    ASSERT_EQ(cut.argb.size(), ref.size());
    // The rows that came are the full decode's rows.
    int same = 0;
    while (same < 64 && std::equal(ref.begin() + same * 64, ref.begin() + same * 64 + 64, cut.argb.begin() + same * 64)) same++;
    EXPECT_GE(same, 14) << file.size();
    EXPECT_NE(cut.argb, ref);

    EXPECT_EQ(ReadJpeg(dir, {}).code, ERR_LOADPICTURE2);
    EXPECT_EQ(ReadJpeg(dir, {0xFF, 0xD8, 0xFF}).code, ERR_LOADPICTURE2);

    // A 65500 x 65500 frame header: refused before the pixels are allocated.
    Bytes huge = file;
    for (size_t i = 2; i + 8 < huge.size(); i++) {
        if (huge[i] == 0xFF && huge[i + 1] == 0xC0) {
            Put16Be(huge, i + 5, 65500);
            Put16Be(huge, i + 7, 65500);
            break;
        }
    }
    EXPECT_EQ(ReadJpeg(dir, huge).code, ERR_MEM);
    int sw = 0, sh = 0;
    EXPECT_EQ(DecodeJpegImage(huge.data(), huge.size(), 1, 6, &sw, &sh, nullptr), 0);
    EXPECT_EQ(sw, 65500);
}

// A few KB that declare 16,384 x 16,384 pixels cannot hold them (Huffman coding spends
// a bit on every block at least): refused before the picture is allocated, also under
// a 512 MB address-space ceiling, from a file or from memory.
TEST(JpegDecoder, TinyFileDeclaringAHugePictureIsRefused)
{
    ScratchDir dir;
    for (bool progressive : {false, true})
        for (int components : {1, 3}) {
            JpegFixture fixture;
            fixture.width = 128, fixture.height = 128, fixture.components = components, fixture.progressive = progressive;
            Bytes file = MakeJpeg(fixture);
            ASSERT_LT(file.size(), 8000u);
            for (size_t i = 2; i + 8 < file.size(); i++)
                if (file[i] == 0xFF && (file[i + 1] == 0xC0 || file[i + 1] == 0xC2)) {
                    Put16Be(file, i + 5, 16384);
                    Put16Be(file, i + 7, 16384);
                    break;
                }
            std::string name = std::string(progressive ? "progressive" : "baseline") + ", " + std::to_string(components) +
                               " components, " + std::to_string(file.size()) + " bytes";
            EXPECT_EQ(ReadJpeg(dir, file).code, ERR_LOADPICTURE2) << name;
            EXPECT_EQ(ReadJpeg(dir, file, 1, true).code, ERR_LOADPICTURE2) << name << " from memory";
#ifndef LV_SANITIZED
            int code = -1;
            ASSERT_TRUE(RunUnderAddressLimit(512u << 20, true, 20, [&] { return ReadJpeg(dir, file).code; }, &code)) << name;
            EXPECT_EQ(code, ERR_LOADPICTURE2) << name << " under 512 MB";
#endif
        }
}

// ============================================================================
// Writers
// ============================================================================

// A pen plane filled with pen(x, y).
struct PenPlane {
    lvBitMapHandle *handle;
    PenPlane(int w, int h, int (*pen)(int, int))
    {
        handle = AllocChunkyBitmap(w, h, 1);
        uint8_t *pixels;
        int rowBytes;
        uintptr_t token = GetPlanePixels(handle, &pixels, &rowBytes, 1);
        for (int y = 0; y < h; y++)
            for (int x = 0; x < w; x++) pixels[y * rowBytes + x] = (uint8_t)pen(x, y);
        ReleasePlanePixels(token);
    }
    ~PenPlane() { FreeBitmapHandle(handle); }
};

TEST(BmpWriter, BytesFollowTheLayoutAndReadBack)
{
    ScratchDir dir;
    // 24 bits, 3 pixels wide: 9 data bytes and 3 pad bytes a row.
    uint32_t argb[6] = {Rgb(1, 2, 3), Rgb(4, 5, 6), Rgb(7, 8, 9), Rgb(10, 11, 12), Rgb(13, 14, 15), 0xFF102030};
    std::string path = dir.File("out.bmp");
    ASSERT_EQ(WriteBmpFile(path.c_str(), nullptr, nullptr, argb, 3, 2, nullptr, nullptr, 24, -1), 0);
    Bytes b = ReadBytes(path);
    ASSERT_EQ(b.size(), 54u + 12 * 2 + 2);
    auto le32 = [&](size_t at) { return (uint32_t)b[at] | b[at + 1] << 8 | b[at + 2] << 16 | (uint32_t)b[at + 3] << 24; };
    EXPECT_EQ(b[0], 'B');
    EXPECT_EQ(le32(2), 54u + 24 + 2);
    EXPECT_EQ(le32(10), 54u);
    EXPECT_EQ(le32(14), 40u);
    EXPECT_EQ(le32(18), 3u);
    EXPECT_EQ(le32(22), 2u);
    EXPECT_EQ(b[26] | b[27] << 8, 1);
    EXPECT_EQ(b[28] | b[29] << 8, 24);
    for (size_t at : {30, 34, 38, 42, 46, 50}) EXPECT_EQ(le32(at), 0u) << at;
    Bytes bottomRow = {12, 11, 10, 15, 14, 13, 0x30, 0x20, 0x10, 0, 0, 0};
    EXPECT_EQ(Bytes(b.begin() + 54, b.begin() + 66), bottomRow);
    EXPECT_EQ(b[b.size() - 1], 0);

    // Pen planes: depth 1 -> 1 bit, 2..4 -> 4 bits with 16 entries, 5..8 -> 8 bits.
    std::vector<uint32_t> palette(256);
    for (int i = 0; i < 256; i++) palette[i] = Rgb(i, 0, 255 - i);
    struct Case {
        int depth, bits, colours;
    } cases[] = {{1, 1, 2}, {2, 4, 16}, {3, 4, 16}, {4, 4, 16}, {5, 8, 256}, {8, 8, 256}};
    for (const Case &c : cases) {
        static int mask;
        mask = (1 << c.depth) - 1;
        PenPlane plane(11, 3, [](int x, int y) { return (x * 5 + y * 3) & mask; });
        ASSERT_EQ(WriteBmpFile(path.c_str(), nullptr, nullptr, nullptr, 11, 3, plane.handle, palette.data(), c.depth, -1), 0);
        b = ReadBytes(path);
        EXPECT_EQ(b[28], c.bits) << c.depth;
        EXPECT_EQ(le32(10), 54u + c.colours * 4) << c.depth;
        size_t rowBytes = ((size_t)11 * c.bits + 31) / 32 * 4;
        EXPECT_EQ(b.size(), 54 + c.colours * 4 + rowBytes * 3 + 2) << c.depth;
        Decoded d = ReadBmp(dir, b);
        ASSERT_EQ(d.code, 0);
        for (int y = 0; y < 3; y++)
            for (int x = 0; x < 11; x++) EXPECT_EQ(d.argb[y * 11 + x], palette[(x * 5 + y * 3) & mask]) << c.depth;
    }
}

TEST(PackPixelRows, FirstPenInTheTopBits)
{
    uint8_t pens[5] = {1, 0, 3, 2, 1}, out[3] = {0xEE, 0xEE, 0xEE};
    PackPixelRows(pens, out, 5, 2);
    EXPECT_EQ(out[0], 0x4E);  // 01 00 11 10
    EXPECT_EQ(out[1], 0x40);  // 01 then zero bits
    PackPixelRows(pens, out, 3, 1);
    EXPECT_EQ(out[0], 0xA0);  // 1 0 1 (pen 3 -> its low bit)
    PackPixelRows(pens, out, 3, 4);
    EXPECT_EQ(out[0], 0x10);
    EXPECT_EQ(out[1], 0x30);
}

// libpng reads a file back: header, PLTE, tRNS and rows.
struct PngReadBack {
    int bitDepth = 0, colourType = 0, paletteCount = 0;
    std::vector<uint8_t> trns;
    std::vector<std::vector<uint8_t>> rows;  // unpacked to one byte a sample
};
PngReadBack ReadBackPng(const std::string &path)
{
    PngReadBack r;
    FILE *volatile f = fopen(path.c_str(), "rb");
    if (!f) return r;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        fclose(f);
        return PngReadBack{};
    }
    png_init_io(png, f);
    png_read_info(png, info);
    r.bitDepth = png_get_bit_depth(png, info);
    r.colourType = png_get_color_type(png, info);
    png_colorp colours;
    png_get_PLTE(png, info, &colours, &r.paletteCount);
    png_bytep alpha;
    int count = 0;
    if (png_get_tRNS(png, info, &alpha, &count, nullptr)) r.trns.assign(alpha, alpha + count);
    png_set_packing(png);
    png_read_update_info(png, info);
    int h = (int)png_get_image_height(png, info);
    r.rows.assign(h, std::vector<uint8_t>(png_get_rowbytes(png, info)));
    for (auto &row : r.rows) png_read_row(png, row.data(), nullptr);
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    fclose(f);
    return r;
}

TEST(PngWriter, PaletteAndTrueColourReadBackByLibpng)
{
    ScratchDir dir;
    std::string path = dir.File("out.png");
    std::vector<uint32_t> palette(256);
    for (int i = 0; i < 256; i++) palette[i] = Rgb(i, i / 2, 255 - i);
    struct Case {
        int depth, bitDepth;
    } cases[] = {{1, 1}, {2, 2}, {3, 4}, {4, 4}, {5, 8}, {7, 8}, {8, 8}};
    for (const Case &c : cases) {
        static int mask;
        mask = (1 << c.depth) - 1;
        PenPlane plane(9, 4, [](int x, int y) { return (x + y * 3) & mask; });
        ASSERT_EQ(WritePngImage(path.c_str(), nullptr, nullptr, nullptr, 9, 4, plane.handle, palette.data(), c.depth,
                                c.depth >= 2 ? 3 : -1, 0),
                  0);
        PngReadBack r = ReadBackPng(path);
        EXPECT_EQ(r.colourType, PNG_COLOR_TYPE_PALETTE);
        EXPECT_EQ(r.bitDepth, c.bitDepth) << c.depth;
        EXPECT_EQ(r.paletteCount, 1 << c.bitDepth) << c.depth;
        if (c.depth >= 2) EXPECT_EQ(r.trns, (std::vector<uint8_t>{255, 255, 255, 0})) << c.depth;
        else EXPECT_TRUE(r.trns.empty());
        ASSERT_EQ(r.rows.size(), 4u);
        for (int y = 0; y < 4; y++)
            for (int x = 0; x < 9; x++) EXPECT_EQ(r.rows[y][x], (x + y * 3) & mask) << c.depth;
    }
    // True colour: R, G, B (and A) from the words; read back through our own reader too.
    std::vector<uint32_t> argb;
    for (int i = 0; i < 20; i++) argb.push_back((uint32_t)(i * 12) << 24 | Rgb(i * 10, 255 - i, i * 3));
    for (int alpha : {0, 1}) {
        ASSERT_EQ(WritePngImage(path.c_str(), nullptr, nullptr, argb.data(), 5, 4, nullptr, nullptr, 32, -1, alpha), 0);
        PngReadBack r = ReadBackPng(path);
        EXPECT_EQ(r.colourType, alpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB);
        EXPECT_EQ(r.rows[1][0], 50);  // red of pixel 5
        Decoded d = ReadPng(dir, ReadBytes(path));
        ASSERT_EQ(d.code, 0);
        for (int i = 0; i < 20; i++) EXPECT_EQ(d.argb[i], alpha ? argb[i] : argb[i] & 0xFFFFFF) << i;
    }
}

TEST(JpegWriter, EncodesLikeThePlainLibraryLoopAndDecodes)
{
    ScratchDir dir;
    const int w = 37, h = 21;
    std::vector<uint32_t> argb(w * h);
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) argb[y * w + x] = 0x7F000000u | Rgb(x * 6, y * 12, (x * y) & 255);
    // The same picture as RGB rows through the plain library loop: identical bytes.
    std::vector<uint8_t> rgb;
    for (uint32_t p : argb) rgb.push_back(p >> 16 & 255), rgb.push_back(p >> 8 & 255), rgb.push_back(p & 255);
    JpegFixture fixture;
    fixture.width = w, fixture.height = h, fixture.quality = 85;
    Bytes plain = MakeJpeg(fixture, rgb.data());
    lvJpegEncodeRequest request = {};
    request.pixels = argb.data();
    request.rowBytes = w * 4;
    request.width = w;
    request.height = h;
    request.quality = 85;
    EncodeJpegImage(&request);
    ASSERT_EQ(request.result, 0);
    EXPECT_EQ(Bytes(request.data, request.data + request.length), plain);
    FreeEncodedJpeg(request.handle);

    // Byte order A, R, G, B gives the same file.
    std::vector<uint32_t> swapped;
    for (uint32_t p : argb) swapped.push_back(__builtin_bswap32(p));
    request.pixels = swapped.data();
    request.byteOrder = 1;
    EncodeJpegImage(&request);
    ASSERT_EQ(request.result, 0);
    EXPECT_EQ(Bytes(request.data, request.data + request.length), plain);
    FreeEncodedJpeg(request.handle);

    // 1 x 1 at quality 100: a complete file that decodes.
    std::string path = dir.File("one.jpg");
    uint32_t one = Rgb(200, 100, 50);
    ASSERT_EQ(SaveJpegFile(nullptr, nullptr, path.c_str(), &one, 4, 1, 1, 100), 0);
    Bytes file = ReadBytes(path);
    EXPECT_GT(file.size(), 200u);
    EXPECT_EQ(file[file.size() - 2], 0xFF);
    EXPECT_EQ(file[file.size() - 1], 0xD9);
    Decoded d = ReadJpeg(dir, file);
    ASSERT_EQ(d.code, 0);
    EXPECT_EQ(d.width, 1);
}

TEST(Writers, FailOnAFullDiskAndOnAMissingFolder)
{
    uint32_t pixels[64 * 64] = {};
    PenPlane plane(64, 64, [](int x, int y) { return x ^ y; });
    uint32_t palette[256] = {};
    auto full = [](int code) { return code == ERR_WRITE || code == ERR_CLOSEFILE; };
    EXPECT_PRED1(full, WriteBmpFile("/dev/full", nullptr, nullptr, pixels, 64, 64, nullptr, nullptr, 24, -1));
    EXPECT_PRED1(full, WriteBmpFile("/dev/full", nullptr, nullptr, nullptr, 64, 64, plane.handle, palette, 8, -1));
    EXPECT_PRED1(full, WritePngImage("/dev/full", nullptr, nullptr, pixels, 64, 64, nullptr, nullptr, 32, -1, 1));
    EXPECT_PRED1(full, WritePngImage("/dev/full", nullptr, nullptr, nullptr, 64, 64, plane.handle, palette, 8, 3, 0));
    EXPECT_PRED1(full, SaveJpegFile(nullptr, nullptr, "/dev/full", pixels, 256, 64, 64, 90));
    // Incompressible pixels pass the stream's buffer: the short write itself is seen.
    uint32_t noise[128 * 128];
    uint32_t seed = 1;
    for (uint32_t &p : noise) p = seed = seed * 1664525u + 1013904223u;
    EXPECT_EQ(WritePngImage("/dev/full", nullptr, nullptr, noise, 128, 128, nullptr, nullptr, 32, -1, 1), ERR_WRITE);
    EXPECT_EQ(WriteBmpFile("/dev/full", nullptr, nullptr, noise, 128, 128, nullptr, nullptr, 24, -1), ERR_WRITE);
    const char *missing = "/nonexistent-folder/x.img";
    EXPECT_EQ(WriteBmpFile(missing, nullptr, nullptr, pixels, 2, 2, nullptr, nullptr, 24, -1), ERR_WRITEFILE);
    EXPECT_EQ(WritePngImage(missing, nullptr, nullptr, pixels, 2, 2, nullptr, nullptr, 24, -1, 0), ERR_WRITEFILE);
    EXPECT_EQ(SaveJpegFile(nullptr, nullptr, missing, pixels, 8, 2, 2, 90), ERR_WRITEFILE);
}

}  // namespace

// formats_ilbm_test.cpp - the IFF ILBM and PBM reader against files of the test-side
// builder (HAM6/8, half-brite, masking, odd CMAPs, CRNG, 24 planes, PBM), the ByteRun1
// coder, and the ILBM writer's bytes.
#include "formats/lvilbm.h"
#include "raster/lvbitmap.h"
#include "base/lverrors.h"
#include "tests/formats/formats_fixtures.h"
#include "tests/formats/iff_builder.h"
#include <cstring>
#include <gtest/gtest.h>

namespace {

struct Picture {
    int code = -1, width = 0, height = 0, depth = 0, pen = -1, ranges = 0;
    std::vector<uint32_t> words;
    std::vector<uint32_t> palette;
    lvCycleRange range[128] = {};
};

Picture Load(const ScratchDir &dir, const Bytes &bytes, uint32_t flags, const uint32_t *callerPalette = nullptr,
             int64_t key = -1)
{
    WriteBytes(dir.File("pic.iff"), bytes);
    lvVFile *file = OpenVFile(dir.File("pic.iff").c_str(), LV_VF_READ, nullptr, nullptr);
    Picture p;
    uint8_t *pixels = nullptr;
    uint32_t *palette = nullptr;
    bool pbm = bytes.size() > 11 && bytes[8] == 'P';
    p.code = ReadIlbmFile(file, flags, pbm, callerPalette, key, &p.pen, &p.width, &p.height, &p.depth, &pixels,
                          &palette, p.range, &p.ranges);
    CloseVFile(file);
    if (pixels) {
        size_t n = (size_t)p.width * p.height;
        if (flags & LV_IMGLOAD_PALETTE) p.words.assign(pixels, pixels + n);
        else p.words.assign((uint32_t *)pixels, (uint32_t *)pixels + n);
    }
    if (palette) p.palette.assign(palette, palette + 256);
    FreeMemory(pixels);
    FreeMemory(palette);
    return p;
}

std::vector<uint32_t> Ramp(int n, uint32_t step)
{
    std::vector<uint32_t> t;
    for (int i = 0; i < n; i++) t.push_back((uint32_t)i * step & 0xFFFFFF);
    return t;
}

// ============================================================================
// ByteRun1
// ============================================================================

TEST(ByteRun1, PacksAndUnpacksTheTable)
{
    struct Case {
        const char *name;
        Bytes row, packed;
    };
    Bytes b128(128, 7), b129(129, 7);
    std::vector<Case> cases = {
        {"128 equal bytes", b128, {0x81, 7}},
        {"129 equal bytes: a run and a literal", b129, {0x81, 7, 0x00, 7}},
        {"a pair at the start of a packet runs", {5, 5, 1, 2}, {0xFF, 5, 0x01, 1, 2}},
        {"a pair inside a literal stays literal", {1, 5, 5, 2}, {0x03, 1, 5, 5, 2}},
        {"three equal bytes end a literal", {1, 2, 2, 2, 3}, {0x00, 1, 0xFE, 2, 0x00, 3}},
        {"single byte", {9}, {0x00, 9}},
    };
    for (const Case &c : cases) {
        Bytes out(c.row.size() * 2 + 4);
        out.resize(PackByteRun1Row(c.row.data(), c.row.size(), out.data()));
        EXPECT_EQ(out, c.packed) << c.name;
        Bytes back(c.row.size());
        const uint8_t *in = out.data();
        ASSERT_TRUE(UnpackByteRun1(&in, out.data() + out.size(), back.data(), back.size())) << c.name;
        EXPECT_EQ(back, c.row) << c.name;
    }
    // 130 bytes without a repeat: a full literal packet and a second one.
    Bytes mixed(130);
    for (int i = 0; i < 130; i++) mixed[i] = (uint8_t)i;
    Bytes out(300);
    out.resize(PackByteRun1Row(mixed.data(), mixed.size(), out.data()));
    EXPECT_EQ(out.size(), 130u + 2);
    EXPECT_EQ(out[0], 127);
    EXPECT_EQ(out[129], 1);

    // Control 128 is skipped; a run past the row's end is cut; a short stream fails.
    Bytes stream = {0x80, 0x01, 4, 5, 0xFD, 6};
    Bytes row(5);
    const uint8_t *in = stream.data();
    ASSERT_TRUE(UnpackByteRun1(&in, stream.data() + stream.size(), row.data(), row.size()));
    EXPECT_EQ(row, (Bytes{4, 5, 6, 6, 6}));
    Bytes shortStream = {0x05, 1, 2};
    in = shortStream.data();
    EXPECT_FALSE(UnpackByteRun1(&in, shortStream.data() + 3, row.data(), row.size()));
}

// ============================================================================
// Reader
// ============================================================================

TEST(IlbmReader, PlanarPicturesInBothModesAndCompressions)
{
    ScratchDir dir;
    for (int planes : {1, 2, 5, 8})
        for (int compression : {0, 1})
            for (int width : {1, 7, 16, 21}) {
                IffFixture f;
                f.width = width, f.height = 3, f.planes = planes, f.compression = compression;
                f.cmap = Ramp(1 << planes, 0x010203);
                for (int i = 0; i < width * 3; i++) f.pixels.push_back((uint32_t)(i * 37 + 11) % (1u << planes));
                Picture pens = Load(dir, MakeIff(f), LV_IMGLOAD_PALETTE | LV_IMGLOAD_COPYPALETTE);
                ASSERT_EQ(pens.code, 0) << planes << " " << width;
                EXPECT_EQ(pens.depth, planes);
                EXPECT_EQ(pens.words, f.pixels) << planes << " planes, width " << width;
                EXPECT_EQ(pens.palette[1], 0x010203u);
                Picture argb = Load(dir, MakeIff(f), 0);
                ASSERT_EQ(argb.code, 0);
                for (size_t i = 0; i < f.pixels.size(); i++) ASSERT_EQ(argb.words[i], f.cmap[f.pixels[i]]);
            }
}

TEST(IlbmReader, HamAndHalfBriteAgainstHandComputedColours)
{
    ScratchDir dir;
    IffFixture ham6;
    ham6.width = 5, ham6.height = 2, ham6.planes = 6, ham6.camg = 0x800;
    ham6.cmap = {0x000000, 0x102030, 0x405060};
    ham6.pixels = {1, 0x1F, 0x25, 0x3A, 0x02, /* row 2 starts black */ 0x18, 0x01, 0, 0, 0};
    Picture p = Load(dir, MakeIff(ham6), 0);
    ASSERT_EQ(p.code, 0);
    EXPECT_EQ(p.depth, 24);
    EXPECT_EQ(p.words, (std::vector<uint32_t>{0x102030, 0x1020F0, 0x5020F0, 0x50A0F0, 0x405060, 0x000080, 0x102030,
                                              0, 0, 0}));
    EXPECT_EQ(Load(dir, MakeIff(ham6), LV_IMGLOAD_PALETTE).code, ERR_NOPALETTE);

    IffFixture ham8 = ham6;
    ham8.planes = 8;
    ham8.cmap = {0, 0, 0, 0x112233};
    ham8.pixels = {3, 0x40 | 63, 0x80 | 1, 0xC0 | 32, 0x40 | 1, 0x80 | 2, 0, 0, 0, 0};
    p = Load(dir, MakeIff(ham8), 0);
    ASSERT_EQ(p.code, 0);
    EXPECT_EQ(p.words, (std::vector<uint32_t>{0x112233, 0x1122FC, 0x0422FC, 0x0480FC, 0x048004, 0x080000, 0, 0, 0, 0}));

    IffFixture ehb;
    ehb.width = 3, ehb.height = 1, ehb.planes = 6, ehb.camg = 0x80;
    ehb.cmap = Ramp(32, 0x030507);
    ehb.cmap[1] = 0xFF8041;
    ehb.pixels = {1, 33, 63};
    p = Load(dir, MakeIff(ehb), 0);
    ASSERT_EQ(p.code, 0);
    EXPECT_EQ(p.depth, 6);
    EXPECT_EQ(p.words, (std::vector<uint32_t>{0xFF8041, 0x7F4020, (ehb.cmap[31] >> 1) & 0x7F7F7F}));
}

TEST(IlbmReader, ChunksMaskingAndRanges)
{
    ScratchDir dir;
    IffFixture f;
    f.width = 3, f.height = 2, f.planes = 3, f.masking = 1;
    f.cmap = Ramp(5, 0x111111);  // 15 bytes, padded to 16
    f.camg = 0;
    f.crng = {{0, 0, 0x0A, 0x00, 0, 1, 2, 4}, {0, 0, 0x40, 0x00, 0, 3, 0, 7}};
    f.pixels = {0, 1, 2, 3, 4, 0};
    Picture p = Load(dir, MakeIff(f), LV_IMGLOAD_PALETTE | LV_IMGLOAD_TRANSPEN);
    ASSERT_EQ(p.code, 0);
    EXPECT_EQ(p.words, f.pixels);
    EXPECT_EQ(p.pen, -1);  // a mask plane is no transparent pen
    ASSERT_EQ(p.ranges, 2);
    EXPECT_EQ(p.range[0].rate, 0x0A00);
    EXPECT_EQ(p.range[0].flags, 1);
    EXPECT_EQ(p.range[0].low, 2);
    EXPECT_EQ(p.range[0].high, 4);
    EXPECT_EQ(p.range[1].flags, 3);
    EXPECT_EQ(p.range[1].high, 7);
    for (int compression : {0, 1}) {
        f.compression = compression;
        Picture argb = Load(dir, MakeIff(f), 0);
        ASSERT_EQ(argb.code, 0);
        EXPECT_EQ(argb.words[3], 0x333333u);
    }

    // 128 ranges are kept; a 129th refuses the file.
    f.crng.assign(128, {0, 0, 0, 1, 0, 1, 0, 1});
    EXPECT_EQ(Load(dir, MakeIff(f), 0).ranges, 128);
    f.crng.push_back({0, 0, 0, 1, 0, 1, 0, 1});
    EXPECT_EQ(Load(dir, MakeIff(f), 0).code, ERR_LOADPICTURE2);
}

TEST(IlbmReader, TransparentColourHandling)
{
    ScratchDir dir;
    IffFixture f;
    f.width = 4, f.height = 1, f.planes = 2, f.masking = 2, f.transparent = 2;
    f.cmap = {0x000000, 0xA8A8A8, 0x123456, 0xA8A8B7};
    f.pixels = {0, 1, 2, 3};
    // Palette mode: the pen itself.
    EXPECT_EQ(Load(dir, MakeIff(f), LV_IMGLOAD_PALETTE | LV_IMGLOAD_TRANSPEN).pen, 2);
    // ARGB: the key pen gets the first free colour of the series; 0xA8A8A8 and
    // 0xA8A8A8 + 15 are taken, so + 30.
    Picture p = Load(dir, MakeIff(f), LV_IMGLOAD_TRANSPEN);
    ASSERT_EQ(p.code, 0);
    EXPECT_EQ(p.pen, 0xA8A8A8 + 30);
    EXPECT_EQ(p.words[2], 0xA8A8A8u + 30);
    f.cmap[3] = 0;
    EXPECT_EQ(Load(dir, MakeIff(f), LV_IMGLOAD_TRANSPEN).pen, 0xA8A8A8 + 15);
    // Without the flags nothing changes.
    p = Load(dir, MakeIff(f), 0);
    EXPECT_EQ(p.pen, -1);
    EXPECT_EQ(p.words[2], 0x123456u);
    // A transparent colour at or above 2^planes names no pen: no transparency, nothing
    // written past the palette.
    for (int t : {4, 256, 65535}) {
        f.transparent = t;
        EXPECT_EQ(Load(dir, MakeIff(f), LV_IMGLOAD_PALETTE | LV_IMGLOAD_TRANSPEN).pen, -1) << t;
        p = Load(dir, MakeIff(f), LV_IMGLOAD_TRANSPEN);
        EXPECT_EQ(p.pen, -1) << t;
        EXPECT_EQ(p.words, (std::vector<uint32_t>{0, 0xA8A8A8, 0x123456, 0})) << t;
    }
    // A caller palette replaces the first entries.
    f.transparent = 0;
    uint32_t caller[] = {0x0000FF, 0x00FF00, 0xFFFFFFFFu};
    p = Load(dir, MakeIff(f), 0, caller);
    EXPECT_EQ(p.words, (std::vector<uint32_t>{0x0000FF, 0x00FF00, 0x123456, 0}));
    // One plane without flag 0x2: the key pen's colour marks transparency, the other
    // pen takes the caller's colour.
    IffFixture one;
    one.width = 2, one.height = 1, one.planes = 1, one.transparent = 0;
    one.cmap = {0x111111, 0x222222};
    one.pixels = {0, 1};
    p = Load(dir, MakeIff(one), LV_IMGLOAD_TRANSCOLOR, nullptr, 0xFF00FF);
    EXPECT_EQ(p.pen, 0x111111);
    EXPECT_EQ(p.words, (std::vector<uint32_t>{0x111111, 0xFF00FF}));
}

TEST(IlbmReader, PbmAndDeepPictures)
{
    ScratchDir dir;
    for (int compression : {0, 1})
        for (int width : {1, 5, 8}) {
            IffFixture f;
            f.pbm = true, f.width = width, f.height = 3, f.planes = 8, f.compression = compression;
            f.cmap = Ramp(256, 0x010101);
            for (int i = 0; i < width * 3; i++) f.pixels.push_back((uint32_t)(i * 53) & 255);
            Picture p = Load(dir, MakeIff(f), LV_IMGLOAD_PALETTE);
            ASSERT_EQ(p.code, 0) << width;
            EXPECT_EQ(p.words, f.pixels) << "PBM width " << width << " compression " << compression;
        }
    for (int compression : {0, 1}) {
        IffFixture f;
        f.width = 19, f.height = 4, f.planes = 24, f.compression = compression;
        for (int i = 0; i < 19 * 4; i++) f.pixels.push_back((uint32_t)(i * 0x9E3779) & 0xFFFFFF);
        Picture p = Load(dir, MakeIff(f), 0);
        ASSERT_EQ(p.code, 0);
        EXPECT_EQ(p.depth, 24);
        EXPECT_EQ(p.words, f.pixels) << "compression " << compression;
        EXPECT_EQ(Load(dir, MakeIff(f), LV_IMGLOAD_PALETTE).code, ERR_NOPALETTE);
    }
}

TEST(IlbmReader, RefusesWhatItCannotShow)
{
    ScratchDir dir;
    struct Case {
        const char *name;
        void (*change)(IffFixture &);
        int code;
    };
    std::vector<Case> cases = {
        {"9 planes", [](IffFixture &f) { f.planes = 9; }, ERR_LOADPICTURE2},
        {"23 planes", [](IffFixture &f) { f.planes = 23; }, ERR_LOADPICTURE2},
        {"32 planes", [](IffFixture &f) { f.planes = 32; }, ERR_LOADPICTURE2},
        {"0 planes", [](IffFixture &f) { f.planes = 0; }, ERR_LOADPICTURE2},
        {"no BODY", [](IffFixture &f) { f.body = false; }, ERR_LOADPICTURE2},
        {"short compressed BODY", [](IffFixture &f) { f.bodyCut = 3; }, ERR_LOADPICTURE2},
        {"short plain BODY", [](IffFixture &f) { f.compression = 0, f.bodyCut = 1; }, ERR_LOADPICTURE2},
        {"zero width", [](IffFixture &f) { f.width = 0; }, ERR_LOADPICTURE2},
    };
    for (const Case &c : cases) {
        IffFixture f;
        f.width = 4, f.height = 2, f.planes = 2;
        f.cmap = Ramp(4, 0x404040);
        f.pixels.assign(8, 1);
        c.change(f);
        if (f.planes > 2 && f.planes != 24) f.pixels.assign(8, 1);
        EXPECT_EQ(Load(dir, MakeIff(f), 0).code, c.code) << c.name;
    }
    // Without a BODY the palette alone still comes back.
    IffFixture f;
    f.cmap = Ramp(5, 0x010101);
    f.body = false;
    Picture p = Load(dir, MakeIff(f), LV_IMGLOAD_PALETTEONLY);
    EXPECT_EQ(p.code, 0);
    EXPECT_EQ(p.palette[4], 0x040404u);
    // Size only.
    f.body = true, f.pixels.assign(8, 0), f.planes = 24;
    p = Load(dir, MakeIff(f), LV_IMGLOAD_SIZEONLY);
    EXPECT_EQ(p.code, 0);
    EXPECT_EQ(p.depth, 24);
    EXPECT_EQ(p.width, 4);
}

// Files written by netpbm's ppmtoilbm, compared pixel for pixel with its ilbmtoppm
// (before, 24 planes with a mask plane and ByteRun1 came out garbled).
TEST(IlbmReader, NetpbmFilesMatchIlbmtoppm)
{
    if (!HaveTool("ppmtoilbm") || !HaveTool("ilbmtoppm")) GTEST_SKIP() << "netpbm is not installed";
    ScratchDir dir;
    const int W = 37, H = 13;
    struct Case {
        const char *name;
        int colours;  // 0: a smooth true-colour picture
        const char *options;
        int planes;   // as the BMHD must say
        int slack;    // HAM: the runtime sets a channel to its bits shifted up (0xF -> 0xF0),
                      // ilbmtoppm scales them to 0..255 (0xF -> 0xFF)
    };
    std::vector<Case> cases = {
        {"1 plane", 2, "", 1, 0},
        {"4 planes", 16, "", 4, 0},
        {"8 planes", 200, "-maxplanes 8", 8, 0},
        {"24 planes", 0, "-24force", 24, 0},
        {"HAM6", 0, "-hamforce", 6, 15},
        {"HAM8", 0, "-hamforce -ham8", 8, 3},
    };
    for (const Case &c : cases)
        for (bool masked : {false, true})
            for (const char *method : {"byterun1", "none"}) {
                std::string what = std::string(c.name) + (masked ? ", masked, " : ", ") + method;
                std::vector<uint32_t> rgb;
                for (int y = 0; y < H; y++)
                    for (int x = 0; x < W; x++)
                        rgb.push_back(c.colours ? ((uint32_t)((x * 7 + y * 3) % c.colours) * 0x0B1D29u) & 0xFFFFFF
                                                : (uint32_t)(x * 6) << 16 | (uint32_t)(y * 19) << 8 | (uint32_t)((x + y) * 5));
                WritePpm(dir.File("in.ppm"), W, H, rgb);
                Bytes mask = {'P', '4', '\n', '3', '7', ' ', '1', '3', '\n'};
                for (int y = 0; y < H; y++)
                    for (int i = 0; i < (W + 7) / 8; i++) mask.push_back((uint8_t)(0x5A ^ (y * 17 + i)));
                WriteBytes(dir.File("mask.pbm"), mask);
                std::string command = "ppmtoilbm " + std::string(c.options) + " -cmethod " + method +
                                      (masked ? " -maskfile " + dir.File("mask.pbm") : std::string()) + " " +
                                      dir.File("in.ppm") + " >" + dir.File("out.iff") + " 2>/dev/null && ilbmtoppm " +
                                      dir.File("out.iff") + " >" + dir.File("back.ppm") + " 2>/dev/null";
                ASSERT_TRUE(RunTool(command)) << what;
                int w = 0, h = 0;
                std::vector<uint32_t> want;
                ASSERT_TRUE(ReadPnm(dir.File("back.ppm"), &w, &h, &want)) << what;
                Bytes file = ReadBytes(dir.File("out.iff"));
                ASSERT_GT(file.size(), 40u);
                ASSERT_EQ(file[28], c.planes) << what;
                ASSERT_EQ(file[29], masked ? 1 : 0) << what << ": the mask plane is there";
                ASSERT_EQ(file[30], std::string(method) == "none" ? 0 : 1) << what;
                Picture p = Load(dir, file, 0);
                ASSERT_EQ(p.code, 0) << what;
                ASSERT_EQ(p.width, w);
                ASSERT_EQ(p.height, h);
                size_t equal = 0;
                for (size_t i = 0; i < want.size(); i++) {
                    bool near = true;
                    for (int shift : {0, 8, 16}) {
                        int ours = (int)(p.words[i] >> shift & 255), theirs = (int)(want[i] >> shift & 255);
                        near = near && ours <= theirs && theirs - ours <= c.slack;
                    }
                    equal += near;
                }
                EXPECT_EQ(equal, want.size()) << what << ": pixels equal to ilbmtoppm's";
            }
}

// A few bytes that declare a 16,384 x 16,384 picture are refused before it is allocated,
// also under a 512 MB address-space ceiling.
TEST(IlbmReader, BodyTooSmallForTheDeclaredPictureIsRefused)
{
    ScratchDir dir;
    struct Case {
        const char *name;
        bool pbm;
        int planes, masking, compression;
    };
    std::vector<Case> cases = {
        {"plain 24 planes", false, 24, 0, 0},
        {"ByteRun1 24 planes with a mask", false, 24, 1, 1},
        {"ByteRun1 8 planes", false, 8, 0, 1},
        {"plain PBM", true, 8, 0, 0},
        {"ByteRun1 PBM", true, 8, 0, 1},
    };
    for (const Case &c : cases) {
        IffFixture f;
        f.pbm = c.pbm, f.planes = c.planes, f.masking = c.masking, f.compression = c.compression;
        f.width = 4, f.height = 2;
        f.cmap = Ramp(256, 0x010101);
        f.pixels.assign(8, 1);
        Bytes file = MakeIff(f);
        // BMHD width and height sit at bytes 20..23.
        file[20] = 0x40, file[21] = 0, file[22] = 0x40, file[23] = 0;
        Picture p = Load(dir, file, 0);
        EXPECT_EQ(p.code, ERR_LOADPICTURE2) << c.name;
        EXPECT_TRUE(p.words.empty()) << c.name;
#ifndef LV_SANITIZED
        int code = -1;
        ASSERT_TRUE(RunUnderAddressLimit(512u << 20, true, 20, [&] { return Load(dir, file, 0).code; }, &code)) << c.name;
        EXPECT_EQ(code, ERR_LOADPICTURE2) << c.name << " under 512 MB";
#endif
    }
}

TEST(IlbmReader, ThroughTheDispatch)
{
    ScratchDir dir;
    IffFixture f;
    f.cmap = Ramp(4, 0x404040);
    f.pixels = {0, 1, 2, 3, 3, 2, 1, 0};
    for (bool pbm : {false, true}) {
        f.pbm = pbm, f.planes = pbm ? 8 : 2;
        WriteBytes(dir.File("d.iff"), MakeIff(f));
        lvVFile *file = OpenVFile(dir.File("d.iff").c_str(), LV_VF_READ, nullptr, nullptr);
        lvImageLoadRequest request = {};
        lvDecodedImage *decoded = nullptr;
        int w, h;
        ASSERT_EQ(DecodeImageFile(file, 1, &request, &decoded, &w, &h), 0);
        EXPECT_EQ(request.format, IMGFMT_ILBM);
        EXPECT_STREQ(request.formatName, pbm ? "IFF PBM" : "IFF ILBM");
        EXPECT_EQ(decoded->pixels[3], 0xC0C0C0u);
        FreeDecodedImage(decoded);
        CloseVFile(file);
    }
}

// ============================================================================
// Writer
// ============================================================================

struct PenPlane {
    lvBitMapHandle *handle;
    PenPlane(int w, int h, const std::vector<uint8_t> &pens)
    {
        handle = AllocChunkyBitmap(w, h, 1);
        uint8_t *pixels;
        int rowBytes;
        uintptr_t token = GetPlanePixels(handle, &pixels, &rowBytes, 1);
        for (int y = 0; y < h; y++) std::memcpy(pixels + y * rowBytes, &pens[(size_t)y * w], (size_t)w);
        ReleasePlanePixels(token);
    }
    ~PenPlane() { FreeBitmapHandle(handle); }
};

TEST(IlbmWriter, BytesOfASmallPicture)
{
    ScratchDir dir;
    PenPlane plane(3, 2, {1, 2, 3, 0, 3, 3});
    uint32_t palette[256] = {0x000000, 0xFF0000, 0x00FF00, 0x0000FF};
    std::string path = dir.File("w.iff");
    ASSERT_EQ(WriteIlbmFile(path.c_str(), nullptr, nullptr, nullptr, 3, 2, plane.handle, palette, 2, 1), 0);
    Bytes want = {'F', 'O', 'R', 'M', 0, 0, 0, 72, 'I', 'L', 'B', 'M',
                  'B', 'M', 'H', 'D', 0, 0, 0, 20, 0, 3, 0, 2, 0, 0, 0, 0, 2, 2, 1, 0, 0, 1, 1, 1, 0, 3, 0, 2,
                  'C', 'M', 'A', 'P', 0, 0, 0, 12, 0, 0, 0, 0xFF, 0, 0, 0, 0xFF, 0, 0, 0, 0xFF,
                  'B', 'O', 'D', 'Y', 0, 0, 0, 12,
                  // row 0 pens 1 2 3: plane 0 bits 1 0 1, plane 1 bits 0 1 1 (2 bytes a row)
                  0x01, 0xA0, 0x00, 0x01, 0x60, 0x00,
                  // row 1 pens 0 3 3: plane 0 bits 0 1 1, plane 1 the same
                  0x01, 0x60, 0x00, 0x01, 0x60, 0x00};
    EXPECT_EQ(ReadBytes(path), want);
    Picture p = Load(dir, ReadBytes(path), LV_IMGLOAD_PALETTE | LV_IMGLOAD_TRANSPEN);
    EXPECT_EQ(p.words, (std::vector<uint32_t>{1, 2, 3, 0, 3, 3}));
    EXPECT_EQ(p.pen, 1);
}

TEST(IlbmWriter, DeepRoundTripAndFullDisk)
{
    ScratchDir dir;
    const int W = 37, H = 5;
    std::vector<uint32_t> argb(W * H);
    for (int i = 0; i < W * H; i++) argb[i] = (i % 9 == 0 ? 0x00777777u : (uint32_t)(i * 0x01F3A7u)) & 0xFFFFFF;
    std::string path = dir.File("deep.iff");
    ASSERT_EQ(WriteIlbmFile(path.c_str(), nullptr, nullptr, argb.data(), W, H, nullptr, nullptr, 8, -1), 0);
    Bytes b = ReadBytes(path);
    EXPECT_EQ(b.size() % 2, 0u);
    EXPECT_EQ((size_t)(b[4] << 24 | b[5] << 16 | b[6] << 8 | b[7]), b.size() - 8);
    Picture p = Load(dir, b, 0);
    ASSERT_EQ(p.code, 0);
    EXPECT_EQ(p.depth, 24);
    EXPECT_EQ(p.words, argb);

    EXPECT_NE(WriteIlbmFile("/dev/full", nullptr, nullptr, argb.data(), W, H, nullptr, nullptr, 8, -1), 0);
    EXPECT_EQ(WriteIlbmFile(dir.File("no/such/dir.iff").c_str(), nullptr, nullptr, argb.data(), W, H, nullptr,
                            nullptr, 8, -1),
              ERR_WRITEFILE);
}

}  // namespace

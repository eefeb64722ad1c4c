// formats_gif_test.cpp - the GIF reader against files of the test-side encoder
// (disposal, interlace, transparency, local tables, frame seeking, hostile rectangles
// and LZW codes) and the GIF writer against its byte layout and giflib's decoder.
#include "formats/lvgif.h"
#include "raster/lvbitmap.h"
#include "base/lverrors.h"
#include "tests/formats/formats_fixtures.h"
#include "tests/formats/gif_builder.h"
#include <cstring>
#include <gif_lib.h>
#include <gtest/gtest.h>
#include <random>

namespace {

struct OpenedGif {
    lvVFile *file = nullptr;
    OpenedGif(const ScratchDir &dir, const Bytes &bytes, const char *name = "picture.gif")
    {
        WriteBytes(dir.File(name), bytes);
        file = OpenVFile(dir.File(name).c_str(), LV_VF_READ, nullptr, nullptr);
    }
    ~OpenedGif() { CloseVFile(file); }
};

std::vector<uint32_t> Grey16()
{
    std::vector<uint32_t> t;
    for (int i = 0; i < 16; i++) t.push_back((uint32_t)(i * 17) * 0x010101u);
    return t;
}

GifFrameFixture Frame(int x, int y, int w, int h, int (*pen)(int, int))
{
    GifFrameFixture f;
    f.x = x, f.y = y, f.width = w, f.height = h;
    for (int yy = 0; yy < h; yy++)
        for (int xx = 0; xx < w; xx++) f.pens.push_back((uint8_t)pen(xx, yy));
    return f;
}

struct Still {
    int code = -1, width = 0, height = 0, depth = 0, pen = -1;
    std::vector<uint32_t> words;
    std::vector<uint32_t> palette;
};

Still DecodeStill(const ScratchDir &dir, const Bytes &bytes, uint32_t flags)
{
    OpenedGif g(dir, bytes);
    Still s;
    uint8_t *pixels = nullptr;
    uint32_t *palette = nullptr;
    s.code = DecodeGifImage(g.file, flags, &pixels, &s.pen, &s.height, &s.width, &palette, &s.depth);
    if (pixels) {
        size_t n = (size_t)s.width * s.height;
        if (flags & LV_IMGLOAD_PALETTE) s.words.assign(pixels, pixels + n);
        else s.words.assign((uint32_t *)pixels, (uint32_t *)pixels + n);
    }
    if (palette) s.palette.assign(palette, palette + 256);
    FreeMemory(pixels);
    FreeMemory(palette);
    return s;
}

// ============================================================================
// Reader
// ============================================================================

TEST(GifReader, StillDecodesInBothModesThroughTheDispatch)
{
    ScratchDir dir;
    GifFixture f;
    f.globalTable = Grey16();
    f.frames.push_back(Frame(0, 0, 8, 6, [](int x, int y) { return (x + y * 3) % 16; }));
    f.frames[0].minCodeSize = 4;
    Bytes bytes = MakeGif(f);

    Still pens = DecodeStill(dir, bytes, LV_IMGLOAD_PALETTE | LV_IMGLOAD_COPYPALETTE);
    ASSERT_EQ(pens.code, 0);
    EXPECT_EQ(pens.width, 8);
    EXPECT_EQ(pens.height, 6);
    EXPECT_EQ(pens.depth, 4);
    ASSERT_EQ(pens.words.size(), 48u);
    for (int i = 0; i < 48; i++) EXPECT_EQ(pens.words[i], (uint32_t)((i % 8 + i / 8 * 3) % 16)) << i;
    ASSERT_EQ(pens.palette.size(), 256u);
    EXPECT_EQ(pens.palette[15], 0xFFFFFFu);

    Still argb = DecodeStill(dir, bytes, 0);
    ASSERT_EQ(argb.code, 0);
    for (int i = 0; i < 48; i++) EXPECT_EQ(argb.words[i], 0xFF000000u | f.globalTable[pens.words[i]]) << i;
    EXPECT_EQ(argb.pen, -1);

    // Through the dispatch, as the loader chain reaches it.
    OpenedGif g(dir, bytes);
    lvImageLoadRequest request = {};
    lvDecodedImage *decoded = nullptr;
    int w = 0, h = 0;
    ASSERT_EQ(DecodeImageFile(g.file, 1, &request, &decoded, &w, &h), 0);
    EXPECT_EQ(request.format, IMGFMT_GIF);
    EXPECT_STREQ(request.formatName, "GIF");
    EXPECT_EQ(std::memcmp(decoded->pixels, argb.words.data(), 48 * 4), 0);
    FreeDecodedImage(decoded);
}

TEST(GifReader, PaletteOnlyThroughTheLoader)
{
    ScratchDir dir;
    GifFixture f;
    f.globalTable = Grey16();
    f.frames.push_back(Frame(0, 0, 8, 6, [](int x, int) { return x; }));
    f.frames[0].minCodeSize = 4;
    f.frames[0].localTable = {0x0000FF, 0x00FF00};
    f.frames[0].minCodeSize = 2;
    for (auto &p : f.frames[0].pens) p &= 1;
    WriteBytes(dir.File("p.gif"), MakeGif(f));
    lvImageLoadRequest request = {};
    request.loaderList = "inbuilt";
    request.flags = LV_IMGLOAD_PALETTEONLY;
    int w = 0, h = 0;
    ASSERT_EQ(LoadImageSource(dir.File("p.gif").c_str(), &request, nullptr, &w, &h, nullptr, nullptr), 0);
    ASSERT_TRUE(request.palette);
    EXPECT_EQ(request.palette[1], 0x00FF00u);  // the first frame's local table
    EXPECT_EQ(w, 8);
    FreeMemory(request.palette);
}

TEST(GifReader, InterlacedEqualsNonInterlaced)
{
    ScratchDir dir;
    for (int height : {1, 2, 3, 4, 5, 7, 8, 9, 13, 16, 17}) {
        GifFixture f;
        f.width = 5, f.height = height;
        f.globalTable = Grey16();
        f.frames.push_back(Frame(0, 0, 5, height, [](int x, int y) { return (x * 7 + y * 5) % 16; }));
        f.frames[0].minCodeSize = 4;
        Still plain = DecodeStill(dir, MakeGif(f), LV_IMGLOAD_PALETTE);
        f.frames[0].interlaced = true;
        Still interlaced = DecodeStill(dir, MakeGif(f), LV_IMGLOAD_PALETTE);
        ASSERT_EQ(plain.code, 0) << height;
        ASSERT_EQ(interlaced.code, 0) << height;
        EXPECT_EQ(plain.words, interlaced.words) << height;
        for (int i = 0; i < 5 * height; i++) ASSERT_EQ(plain.words[i], (uint32_t)((i % 5 * 7 + i / 5 * 5) % 16));
    }
}

// An anim of 4 x 3 frames exercising each disposal, transparency and local tables.
GifFixture DisposalAnim()
{
    GifFixture f;
    f.width = 4, f.height = 3;
    f.globalTable = Grey16();
    f.background = 3;
    GifFrameFixture a = Frame(0, 0, 4, 3, [](int, int) { return 1; });  // key frame
    a.minCodeSize = 4;
    GifFrameFixture b = Frame(1, 1, 2, 1, [](int x, int) { return x == 0 ? 5 : 9; });
    b.minCodeSize = 4, b.disposal = 2, b.transparent = 9;  // pen 9 keeps the canvas
    GifFrameFixture c = Frame(0, 0, 2, 2, [](int, int) { return 7; });
    c.minCodeSize = 4, c.disposal = 3;
    GifFrameFixture d = Frame(2, 0, 2, 3, [](int, int) { return 2; });
    d.minCodeSize = 2, d.disposal = 1;
    d.localTable = {0x110000, 0x220000, 0x330000, 0x440000};
    GifFrameFixture e = Frame(3, 2, 1, 1, [](int, int) { return 12; });
    e.minCodeSize = 4;
    f.frames = {a, b, c, d, e};
    return f;
}

TEST(GifReader, DisposalMethodsComposeTheCanvas)
{
    ScratchDir dir;
    OpenedGif g(dir, MakeGif(DisposalAnim()));
    int w, h, depth, count;
    lvGifReader *r = OpenGifReader(g.file, LV_IMGLOAD_PALETTE | LV_IMGLOAD_TRANSPEN | LV_GIF_KEEPFILE, &w, &h,
                                   &depth, &count);
    ASSERT_TRUE(r);
    ASSERT_EQ(count, 5);
    auto frame = [&](int n, int *pen = nullptr) {
        int d, p;
        uint8_t *px = ReadGifFrame(r, n, nullptr, &d, pen ? pen : &p);
        std::vector<int> out(px, px + 12);
        FreeMemory(px);
        return out;
    };
    EXPECT_EQ(frame(0), std::vector<int>(12, 1));
    int pen;
    // Frame 1: pen 5 at (1,1); its pen 9 is transparent and keeps the 1 below.
    EXPECT_EQ(frame(1, &pen), (std::vector<int>{1, 1, 1, 1, 1, 5, 1, 1, 1, 1, 1, 1}));
    EXPECT_EQ(pen, 9);
    // Frame 1's disposal 2 fills its rectangle with its transparent index.
    EXPECT_EQ(frame(2), (std::vector<int>{7, 7, 1, 1, 7, 7, 9, 1, 1, 1, 1, 1}));
    // Frame 2's disposal 3 restores what was under it before frame 3 paints.
    EXPECT_EQ(frame(3), (std::vector<int>{1, 1, 2, 2, 1, 9, 2, 2, 1, 1, 2, 2}));
    EXPECT_EQ(frame(4), (std::vector<int>{1, 1, 2, 2, 1, 9, 2, 2, 1, 1, 2, 12}));
    CloseGifReader(r);
}

TEST(GifReader, RandomOrderEqualsSequentialInBothModes)
{
    ScratchDir dir;
    GifFixture f = DisposalAnim();
    // Twenty more frames of varied disposal, with a key frame at 10.
    for (int i = 0; i < 20; i++) {
        GifFrameFixture fr = Frame(i % 3, i % 2, 2, 2, [](int x, int y) { return 4 + x + y; });
        fr.minCodeSize = 4, fr.disposal = i % 4, fr.transparent = i % 5 == 0 ? 5 : -1;
        if (i == 10) fr = Frame(0, 0, 4, 3, [](int x, int) { return 10 + x; }), fr.minCodeSize = 4;
        f.frames.push_back(fr);
    }
    for (uint32_t mode : {0u, (uint32_t)LV_IMGLOAD_PALETTE}) {
        OpenedGif g(dir, MakeGif(f));
        uint32_t flags = mode | LV_IMGLOAD_TRANSPEN | LV_IMGLOAD_COPYPALETTE | LV_GIF_KEEPFILE;
        int w, h, depth, count;
        lvGifReader *r = OpenGifReader(g.file, flags, &w, &h, &depth, &count);
        ASSERT_TRUE(r);
        ASSERT_EQ(count, 25);
        size_t bytes = 12 * (mode ? 1 : 4);
        std::vector<Bytes> sequential;
        for (int n = 0; n < count; n++) {
            uint32_t *pal = nullptr;
            int d, p;
            uint8_t *px = ReadGifFrame(r, n, &pal, &d, &p);
            ASSERT_TRUE(px && pal) << n;
            sequential.emplace_back(px, px + bytes);
            FreeMemory(px);
            FreeMemory(pal);
        }
        std::mt19937 random(35);
        for (int i = 0; i < 100; i++) {
            int n = (int)(random() % count), d, p;
            uint8_t *px = ReadGifFrame(r, n, nullptr, &d, &p);
            ASSERT_TRUE(px);
            EXPECT_EQ(Bytes(px, px + bytes), sequential[n]) << "frame " << n << " mode " << mode;
            FreeMemory(px);
        }
        CloseGifReader(r);
    }
}

TEST(GifReader, SeeksForwardAndRestartsAtKeyFrames)
{
    ScratchDir dir;
    GifFixture f;
    f.width = 4, f.height = 2;
    f.globalTable = Grey16();
    for (int i = 0; i < 16; i++) {
        // Key frames at 0 and 2 (whole screen, opaque); the rest are small patches.
        GifFrameFixture fr = (i == 0 || i == 2) ? Frame(0, 0, 4, 2, [](int, int) { return 1; })
                                                : Frame(i % 4, 0, 1, 1, [](int, int) { return 6; });
        fr.minCodeSize = 4;
        f.frames.push_back(fr);
    }
    OpenedGif g(dir, MakeGif(f));
    int w, h, depth, count;
    lvGifReader *r = OpenGifReader(g.file, LV_IMGLOAD_PALETTE | LV_GIF_KEEPFILE, &w, &h, &depth, &count);
    ASSERT_TRUE(r);
    struct Step {
        int frame;
        int64_t decodes;  // LZW decodes the read costs
    };
    // 3 after open: from key frame 2 (2 decodes); 10 after 3: 4..10 (7); 3 after 10:
    // key frame 2 again (2); 4 right after 3 (1); 1 has key frame 0 before it (2).
    for (Step s : {Step{3, 2}, Step{10, 7}, Step{3, 2}, Step{4, 1}, Step{1, 2}}) {
        int64_t before = r->framesDecoded;
        int d, p;
        uint8_t *px = ReadGifFrame(r, s.frame, nullptr, &d, &p);
        ASSERT_TRUE(px);
        FreeMemory(px);
        EXPECT_EQ(r->framesDecoded - before, s.decodes) << "frame " << s.frame;
    }
    CloseGifReader(r);
}

TEST(GifReader, FiveThousandFramesOpen)
{
    ScratchDir dir;
    GifFixture f;
    f.width = 2, f.height = 1;
    f.globalTable = Grey16();
    for (int i = 0; i < 5000; i++) {
        GifFrameFixture fr = Frame(i % 2, 0, 1, 1, [](int, int) { return 3; });
        fr.pens[0] = (uint8_t)(i % 16), fr.minCodeSize = 4, fr.delay = i % 100;
        f.frames.push_back(fr);
    }
    OpenedGif g(dir, MakeGif(f));
    int w, h, depth, count;
    lvGifReader *r = OpenGifReader(g.file, LV_IMGLOAD_PALETTE | LV_GIF_KEEPFILE, &w, &h, &depth, &count);
    ASSERT_TRUE(r);
    EXPECT_EQ(count, 5000);
    EXPECT_EQ(GetGifFrameDelay(r, 4999), 99);
    int d, p;
    uint8_t *px = ReadGifFrame(r, 4999, nullptr, &d, &p);
    ASSERT_TRUE(px);
    EXPECT_EQ(px[0], 4998 % 16);
    EXPECT_EQ(px[1], 4999 % 16);
    FreeMemory(px);
    CloseGifReader(r);
}

TEST(GifReader, TransparentPixelsKeepTheCanvasAndUnpaintedOnesHaveNoAlpha)
{
    ScratchDir dir;
    GifFixture f;
    f.width = 3, f.height = 1;
    f.globalTable = Grey16();
    GifFrameFixture a = Frame(0, 0, 2, 1, [](int x, int) { return x == 0 ? 4 : 8; });
    a.minCodeSize = 4;
    GifFrameFixture b = Frame(0, 0, 2, 1, [](int x, int) { return x == 0 ? 15 : 2; });
    b.minCodeSize = 4, b.transparent = 15;
    f.frames = {a, b};
    OpenedGif g(dir, MakeGif(f));
    int w, h, depth, count, d, pen;
    lvGifReader *r = OpenGifReader(g.file, LV_IMGLOAD_TRANSPEN | LV_GIF_KEEPFILE, &w, &h, &depth, &count);
    ASSERT_TRUE(r);
    uint32_t *px = (uint32_t *)ReadGifFrame(r, 1, nullptr, &d, &pen);
    ASSERT_TRUE(px);
    EXPECT_EQ(px[0], 0xFF000000u | 4 * 0x111111u);  // kept from frame 0
    EXPECT_EQ(px[1], 0xFF000000u | 2 * 0x111111u);
    EXPECT_EQ(px[2] >> 24, 0u);                       // never painted
    EXPECT_EQ(pen, -2);
    FreeMemory(px);
    CloseGifReader(r);
}

TEST(GifReader, HostileRectanglesAndCodesFailCleanly)
{
    ScratchDir dir;
    struct Case {
        const char *name;
        int x, y, w, h;
        std::vector<int> codes;  // raw 5-bit codes for a 4-bit table (clear 16, end 17); empty: encoded
        int minCodeSize;
        int expect;
    };
    std::vector<Case> cases = {
        {"frame far outside the screen", 60000, 60000, 3, 2, {}, 4, 0},
        {"frame hanging over the right and bottom edges", 2, 1, 5, 4, {}, 4, 0},
        {"huge rectangle without the data for it", 0, 0, 65535, 65535, {}, 4, ERR_LOADPICTURE2},
        {"code beyond the next free entry", 0, 0, 2, 1, {16, 1, 25, 17}, 4, ERR_LOADPICTURE2},
        {"first code after a clear is no root", 0, 0, 2, 1, {16, 18, 1, 17}, 4, ERR_LOADPICTURE2},
        {"end code before the rows are filled", 0, 0, 2, 2, {16, 1, 2, 17}, 4, ERR_LOADPICTURE2},
        {"code size 9", 0, 0, 1, 1, {}, 9, ERR_LOADPICTURE2},
        {"next free entry (KwKwK) is fine", 0, 0, 3, 1, {16, 1, 18, 17}, 4, 0},
    };
    for (const Case &c : cases) {
        GifFixture f;
        f.width = 4, f.height = 3;
        f.globalTable = Grey16();
        GifFrameFixture fr;
        fr.x = c.x, fr.y = c.y, fr.width = c.w, fr.height = c.h, fr.minCodeSize = c.minCodeSize;
        if (c.codes.empty() && (int64_t)c.w * c.h <= 64) {
            fr.pens.assign((size_t)c.w * c.h, 6);
            if (c.minCodeSize > 8) fr.rawCodes = {0}, fr.rawCodeWidth = 8;
        } else if (c.codes.empty()) {
            fr.rawCodes = {16, 1, 1, 17}, fr.rawCodeWidth = 5;
        } else {
            fr.rawCodes = c.codes, fr.rawCodeWidth = 5;
        }
        f.frames = {fr};
        Still s = DecodeStill(dir, MakeGif(f), LV_IMGLOAD_PALETTE);
        EXPECT_EQ(s.code, c.expect) << c.name;
        if (c.expect == 0 && std::string(c.name).find("edges") != std::string::npos) {
            std::vector<uint32_t> want = {0, 0, 0, 0, 0, 0, 6, 6, 0, 0, 6, 6};
            EXPECT_EQ(s.words, want) << c.name;
        }
        if (std::string(c.name).find("KwKwK") != std::string::npos) {
            EXPECT_EQ(s.words[0], 1u);
            EXPECT_EQ(s.words[1], 1u);
            EXPECT_EQ(s.words[2], 1u);
        }
    }
    // Disposal 2 and 3 of an overhanging frame stay on the canvas.
    GifFixture f;
    f.width = 2, f.height = 2;
    f.globalTable = Grey16();
    GifFrameFixture a = Frame(1, 1, 40, 40, [](int, int) { return 5; });
    a.minCodeSize = 4, a.disposal = 3;
    GifFrameFixture b = Frame(1, 0, 30, 30, [](int, int) { return 6; });
    b.minCodeSize = 4, b.disposal = 2;
    GifFrameFixture c = Frame(0, 0, 1, 1, [](int, int) { return 7; });
    c.minCodeSize = 4;
    f.frames = {a, b, c};
    OpenedGif g(dir, MakeGif(f));
    int w, h, depth, count, d, p;
    lvGifReader *r = OpenGifReader(g.file, LV_IMGLOAD_PALETTE | LV_GIF_KEEPFILE, &w, &h, &depth, &count);
    ASSERT_TRUE(r);
    EXPECT_EQ(count, 3);
    uint8_t *px = ReadGifFrame(r, 2, nullptr, &d, &p);
    ASSERT_TRUE(px);
    EXPECT_EQ(Bytes(px, px + 4), (Bytes{7, 0, 0, 0}));
    FreeMemory(px);
    CloseGifReader(r);
}

TEST(GifReader, NotAGifAndTruncatedFiles)
{
    ScratchDir dir;
    EXPECT_EQ(DecodeStill(dir, Bytes{'G', 'I', 'F', '8', '8', 'a', 1, 0, 1, 0, 0, 0, 0}, 0).code,
              ERR_LOADPICTURE2);
    GifFixture f;
    f.globalTable = Grey16();
    f.frames.push_back(Frame(0, 0, 8, 6, [](int x, int) { return x; }));
    f.frames[0].minCodeSize = 4;
    Bytes full = MakeGif(f);
    for (size_t cut : {size_t(5), size_t(13), size_t(60), full.size() - 20})
        EXPECT_EQ(DecodeStill(dir, Bytes(full.begin(), full.begin() + cut), 0).code, ERR_LOADPICTURE2) << cut;
    // Without its trailer the picture is whole.
    EXPECT_EQ(DecodeStill(dir, Bytes(full.begin(), full.end() - 1), 0).code, 0);
    Still size = DecodeStill(dir, full, LV_IMGLOAD_SIZEONLY);
    EXPECT_EQ(size.code, 0);
    EXPECT_EQ(size.width, 8);
    EXPECT_EQ(size.depth, 4);
}

// A 35-byte GIF that declares a 16,384 x 16,384 picture is refused before its canvas
// is allocated and filled, also under a 512 MB address-space ceiling; a small frame on a large
// screen, whose data is all there, still loads.
TEST(GifReader, TinyFileDeclaringAHugePictureIsRefused)
{
    ScratchDir dir;
    auto make = [](int screen, int frame) {
        Bytes b = {'G', 'I', 'F', '8', '9', 'a', (uint8_t)screen, (uint8_t)(screen >> 8), (uint8_t)screen,
                   (uint8_t)(screen >> 8), 0x80, 0, 0, 0, 0, 0, 255, 255, 255};
        Bytes d = {',', 0, 0, 0, 0, (uint8_t)frame, (uint8_t)(frame >> 8), (uint8_t)frame, (uint8_t)(frame >> 8), 0,
                   2, 2, 0x44, 0x01, 0, ';'};  // clear, pen 0, end
        return b + d;
    };
    struct Case {
        const char *name;
        Bytes file;
        int code;
    };
    std::vector<Case> cases = {
        {"16384 square frame in 35 bytes", make(16384, 16384), ERR_LOADPICTURE2},
        {"4000 square frame in 35 bytes", make(4000, 4000), ERR_LOADPICTURE2},
        {"1 pixel frame on a 600 square screen", make(600, 1), 0},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(c.file.size(), 35u);
        EXPECT_EQ(DecodeStill(dir, c.file, 0).code, c.code) << c.name;
#ifndef LV_SANITIZED
        int code = -1;
        long grownKb = 0;
        auto load = [&] { return DecodeStill(dir, c.file, 0).code; };
        ASSERT_TRUE(RunUnderAddressLimit(512u << 20, true, 20, load, &code, &grownKb)) << c.name;
        EXPECT_EQ(code, c.code) << c.name << " under 512 MB";
        EXPECT_LT(grownKb, 8 << 10) << c.name << ": no canvas was filled";
#endif
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

// giflib's view of a file: every frame's rectangle, pens and colour table.
struct Slurped {
    int error = 0;
    std::vector<SavedImage> frames;
    GifFileType *gif = nullptr;
    explicit Slurped(const std::string &path)
    {
        gif = DGifOpenFileName(path.c_str(), &error);
        if (gif && DGifSlurp(gif) != GIF_OK) error = gif->Error;
    }
    ~Slurped()
    {
        int e;
        if (gif) DGifCloseFile(gif, &e);
    }
};

TEST(GifWriter, TwoColourStillLayout)
{
    ScratchDir dir;
    std::string path = dir.File("two.gif");
    std::vector<uint8_t> pens = {0, 1, 1, 0, 1, 0};
    PenPlane plane(3, 2, pens);
    uint32_t palette[256] = {0x000000, 0xFFFFFF};
    lvGifWriter *w = nullptr;
    ASSERT_EQ(OpenGifWriter(path.c_str(), nullptr, nullptr, 3, 2, &w), 0);
    ASSERT_EQ(WriteGifFrame(w, plane.handle, 1234, palette, 1, -1, 0, 0), 0);
    ASSERT_EQ(CloseGifWriter(w), 0);
    Bytes b = ReadBytes(path);
    ASSERT_GT(b.size(), 13u + 768 + 8 + 19 + 10 + 6 + 2);
    EXPECT_EQ(Bytes(b.begin(), b.begin() + 6), (Bytes{'G', 'I', 'F', '8', '9', 'a'}));
    EXPECT_EQ(b[10], 0xF7);
    EXPECT_EQ(std::strlen(kGifWriterSignature), 46u);
    EXPECT_EQ(std::memcmp(&b[13], kGifWriterSignature, 47), 0);
    size_t at = 13 + 768;
    EXPECT_EQ(Bytes(b.begin() + at, b.begin() + at + 8), (Bytes{0x21, 0xF9, 4, 1 << 2, 123, 0, 1, 0}));
    at += 8;
    EXPECT_EQ(b[at + 3], 'N');  // the NETSCAPE block follows the first control extension
    at += 19;
    EXPECT_EQ(Bytes(b.begin() + at, b.begin() + at + 10), (Bytes{0x2C, 0, 0, 0, 0, 3, 0, 2, 0, 0x80}));
    at += 10;
    EXPECT_EQ(Bytes(b.begin() + at, b.begin() + at + 6), (Bytes{0, 0, 0, 255, 255, 255}));  // 2 entries
    EXPECT_EQ(b[at + 6], 2);  // LZW minimum code size
    EXPECT_EQ(b.back(), 0x3B);

    Slurped s(path);
    ASSERT_EQ(s.error, 0);
    ASSERT_EQ(s.gif->ImageCount, 1);
    EXPECT_EQ(Bytes(s.gif->SavedImages[0].RasterBits, s.gif->SavedImages[0].RasterBits + 6), pens);

    // A plane smaller than the screen is refused, not read past its end.
    PenPlane small(2, 2, {0, 1, 1, 0});
    ASSERT_EQ(OpenGifWriter(dir.File("small.gif").c_str(), nullptr, nullptr, 3, 2, &w), 0);
    EXPECT_EQ(WriteGifFrame(w, small.handle, 0, palette, 1, -1, 0, 0), ERR_WRONGUSAGE);
    EXPECT_EQ(CloseGifWriter(w), 0);
}

TEST(GifWriter, AnimFramesDecodeByGiflibAndOurReader)
{
    ScratchDir dir;
    std::string path = dir.File("anim.gif");
    const int W = 37, H = 23;
    lvGifWriter *w = nullptr;
    ASSERT_EQ(OpenGifWriter(path.c_str(), nullptr, nullptr, W, H, &w), 0);
    std::vector<std::vector<uint8_t>> written;
    std::vector<uint32_t> palette(256);
    for (int i = 0; i < 256; i++) palette[i] = (uint32_t)i * 0x010203u & 0xFFFFFF;
    std::mt19937 random(7);
    std::vector<uint8_t> pens(W * H);
    for (int n = 0; n < 6; n++) {
        if (n == 0)
            for (auto &p : pens) p = (uint8_t)(random() % 200);
        else if (n != 3)  // frame 3 repeats frame 2
            for (int k = 0; k < 30; k++) pens[random() % pens.size()] = (uint8_t)(random() % 256);
        written.push_back(pens);
        PenPlane plane(W, H, pens);
        ASSERT_EQ(WriteGifFrame(w, plane.handle, 40, palette.data(), 8, -1, 1, 1), 0) << n;
    }
    ASSERT_EQ(CloseGifWriter(w), 0);

    Bytes b = ReadBytes(path);
    int netscape = 0;
    for (size_t i = 0; i + 11 < b.size(); i++) netscape += std::memcmp(&b[i], "NETSCAPE2.0", 11) == 0;
    EXPECT_EQ(netscape, 1);

    // giflib: compose the rectangles with their transparency onto a canvas.
    Slurped s(path);
    ASSERT_EQ(s.error, 0);
    ASSERT_EQ(s.gif->ImageCount, 6);
    std::vector<uint8_t> canvas(W * H, 0);
    for (int n = 0; n < 6; n++) {
        SavedImage &img = s.gif->SavedImages[n];
        GraphicsControlBlock gcb;
        DGifSavedExtensionToGCB(s.gif, n, &gcb);
        EXPECT_EQ(gcb.DelayTime, 4);
        const GifImageDesc &d = img.ImageDesc;
        if (n == 3) {
            EXPECT_EQ(d.Width, 2);  // unchanged frame: a 2 x 1 transparent rectangle
            EXPECT_EQ(d.Height, 1);
            EXPECT_EQ(img.RasterBits[0], gcb.TransparentColor);
            EXPECT_EQ(img.RasterBits[1], gcb.TransparentColor);
        }
        for (int y = 0; y < d.Height; y++)
            for (int x = 0; x < d.Width; x++) {
                int pen = img.RasterBits[y * d.Width + x];
                if (pen != gcb.TransparentColor) canvas[(d.Top + y) * W + d.Left + x] = (uint8_t)pen;
            }
        EXPECT_EQ(canvas, written[n]) << "frame " << n;
    }

    OpenedGif g(dir, ReadBytes(path), "again.gif");
    int rw, rh, depth, count, dd, p;
    lvGifReader *r = OpenGifReader(g.file, LV_IMGLOAD_PALETTE | LV_GIF_KEEPFILE, &rw, &rh, &depth, &count);
    ASSERT_TRUE(r);
    ASSERT_EQ(count, 6);
    for (int n = 5; n >= 0; n--) {
        uint8_t *px = ReadGifFrame(r, n, nullptr, &dd, &p);
        ASSERT_TRUE(px);
        EXPECT_EQ(std::vector<uint8_t>(px, px + W * H), written[n]) << n;
        FreeMemory(px);
    }
    CloseGifReader(r);
}

TEST(GifWriter, LongRunsCrossTheTableLimit)
{
    // Enough varied pixels to fill the 4096-entry table several times over.
    ScratchDir dir;
    std::string path = dir.File("big.gif");
    const int W = 300, H = 200;
    std::vector<uint8_t> pens(W * H);
    std::mt19937 random(1);
    for (size_t i = 0; i < pens.size(); i++) pens[i] = (uint8_t)(i % 7 == 0 ? random() % 256 : (i / 13) % 256);
    PenPlane plane(W, H, pens);
    std::vector<uint32_t> palette(256, 0x123456);
    lvGifWriter *w = nullptr;
    ASSERT_EQ(OpenGifWriter(path.c_str(), nullptr, nullptr, W, H, &w), 0);
    ASSERT_EQ(WriteGifFrame(w, plane.handle, 0, palette.data(), 8, 3, 0, 0), 0);
    ASSERT_EQ(CloseGifWriter(w), 0);
    Slurped s(path);
    ASSERT_EQ(s.error, 0);
    EXPECT_EQ(std::vector<uint8_t>(s.gif->SavedImages[0].RasterBits, s.gif->SavedImages[0].RasterBits + W * H),
              pens);
    GraphicsControlBlock gcb;
    DGifSavedExtensionToGCB(s.gif, 0, &gcb);
    EXPECT_EQ(gcb.TransparentColor, 3);
    EXPECT_EQ(gcb.DisposalMode, 2);
}

TEST(GifWriter, FullDiskIsReported)
{
    std::vector<uint8_t> pens(64 * 64, 1);
    PenPlane plane(64, 64, pens);
    uint32_t palette[256] = {};
    lvGifWriter *w = nullptr;
    ASSERT_EQ(OpenGifWriter("/dev/full", nullptr, nullptr, 64, 64, &w), 0);
    int frame = WriteGifFrame(w, plane.handle, 0, palette, 2, -1, 0, 0);
    int close = CloseGifWriter(w);
    EXPECT_TRUE(frame == ERR_WRITE || close == ERR_WRITE || close == ERR_CLOSEFILE) << frame << " " << close;
    EXPECT_NE(close, 0);
}

}  // namespace

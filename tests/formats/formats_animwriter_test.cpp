// formats_animwriter_test.cpp - the anim writer: frames from RGB and palette bitmaps into
// GIF (whole frames or difference rectangles), IFF ANIM and MJPEG AVI, read back through
// anim handles; the cases that write nothing or refuse a frame.
#include "formats/lvanim.h"
#include "formats/lvanimwriter.h"
#include "raster/lvbitmap.h"
#include "raster/lvimage.h"
#include "base/lverrors.h"
#include "tests/formats/formats_fixtures.h"
#include <cstring>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

struct RgbSet {
    lvBitMapHandle *rgb = nullptr, *mask = nullptr, *alpha = nullptr;
    RgbSet(const std::vector<uint32_t> &argb, int w, int h, int64_t key = -1)
    {
        EXPECT_EQ(BitmapFromArgb(argb.data(), key, w, h, w, 0, key >= 0 ? ARGBF_TRANSPARENCY : 0, nullptr, &rgb,
                                 &mask, &alpha),
                  0);
    }
    ~RgbSet() { FreeBitmapHandle(rgb), FreeBitmapHandle(mask), FreeBitmapHandle(alpha); }
};

struct PenPlane {
    lvBitMapHandle *handle;
    PenPlane(int w, int h, uint8_t pen)
    {
        handle = AllocChunkyBitmap(w, h, 1);
        uint8_t *pixels;
        int rowBytes;
        uintptr_t token = GetPlanePixels(handle, &pixels, &rowBytes, 1);
        for (int y = 0; y < h; y++) std::memset(pixels + y * rowBytes, pen, (size_t)w);
        ReleasePlanePixels(token);
    }
    ~PenPlane() { FreeBitmapHandle(handle); }
};

// Four colours, a square moving one step a frame.
std::vector<uint32_t> Scene(int w, int h, int frame)
{
    std::vector<uint32_t> p((size_t)w * h, 0x102030);
    for (int y = 2; y < 6; y++)
        for (int x = frame; x < frame + 4 && x < w; x++) p[(size_t)y * w + x] = 0xE0C040;
    p[0] = 0xFFFFFF, p[1] = 0x000000;
    return p;
}

// The sizes of every image descriptor of a GIF file.
std::vector<std::pair<int, int>> GifRectangles(const Bytes &b)
{
    std::vector<std::pair<int, int>> out;
    size_t at = 13;
    if (b[10] & 0x80) at += 3u << ((b[10] & 7) + 1);
    auto skipBlocks = [&] {
        while (at < b.size() && b[at]) at += b[at] + 1u;
        at++;
    };
    while (at < b.size() && b[at] != 0x3B) {
        if (b[at] == 0x21) {
            at += 2;
            skipBlocks();
        } else if (b[at] == 0x2C) {
            out.push_back({b[at + 5] | b[at + 6] << 8, b[at + 7] | b[at + 8] << 8});
            uint8_t flags = b[at + 9];
            at += 10;
            if (flags & 0x80) at += 3u << ((flags & 7) + 1);
            at++;  // LZW minimum code size
            skipBlocks();
        } else {
            ADD_FAILURE() << "unexpected block " << (int)b[at];
            break;
        }
    }
    return out;
}

TEST(AnimWriter, GifFramesWholeOrAsDifferences)
{
    ScratchDir dir;
    const int W = 16, H = 8;
    for (bool masked : {false, true}) {
        lvAnimWriter *w = nullptr;
        std::string path = dir.File(masked ? "m.gif" : "o.gif");
        ASSERT_EQ(BeginAnimWriter(path.c_str(), nullptr, nullptr, ANMFMT_GIF, W, H, 90, 25, &w), 0);
        for (int f = 0; f < 4; f++) {
            RgbSet set(Scene(W, H, f), W, H, masked ? 0x000000 : -1);
            ASSERT_EQ(AppendAnimFrame(w, set.rgb, set.mask, set.alpha, nullptr, nullptr, 0, 3, -1, 100, 0, -1, 1), 0)
                << f;
        }
        EXPECT_EQ(GetAnimWriterFrameCount(w), 4);
        ASSERT_EQ(FinishAnimWriter(w), 0);
        auto rects = GifRectangles(ReadBytes(path));
        ASSERT_EQ(rects.size(), 4u);
        EXPECT_EQ(rects[0], std::make_pair(W, H));
        for (size_t i = 1; i < rects.size(); i++) {
            if (masked) EXPECT_EQ(rects[i], std::make_pair(W, H)) << "with a mask: whole frames";
            else EXPECT_LT(rects[i].first * rects[i].second, W * H) << "frame " << i << " is a difference";
        }
        // Whatever the writing, the frames read back as the scene.
        lvAnimHandle *h = nullptr;
        int frames = 0;
        ASSERT_EQ(OpenAnimHandle(path.c_str(), "inbuilt", nullptr, nullptr, 0, 0, 0, &h, nullptr, nullptr, &frames,
                                 nullptr, nullptr, nullptr),
                  0);
        EXPECT_EQ(frames, 4);
        for (int f : {3, 1}) {
            uint32_t *pal = nullptr;
            int depth, pen;
            uint32_t *px = (uint32_t *)FetchAnimFrame(h, f, nullptr, &pal, &depth, &pen, nullptr);
            ASSERT_TRUE(px);
            auto want = Scene(W, H, f);
            for (size_t i = 2; i < want.size(); i++) ASSERT_EQ(px[i] & 0xFFFFFF, want[i]) << f << " " << i;
            FreeAnimFrame(h, px);
            FreeMemory(pal);
        }
        EXPECT_EQ(GetAnimFrameDelay(h, 2), 100);
        ReleaseAnimHandle(h);
    }
}

TEST(AnimWriter, IffAnimFromPaletteAndRgbFrames)
{
    ScratchDir dir;
    const int W = 16, H = 8;
    lvAnimWriter *w = nullptr;
    ASSERT_EQ(BeginAnimWriter(dir.File("a.anim").c_str(), nullptr, nullptr, ANMFMT_IFF, W, H, 90, 25, &w), 0);
    uint32_t pal[4] = {0x000000, 0xFF0000, 0x00FF00, 0x0000FF};
    PenPlane one(W, H, 1), two(W, H, 2);
    ASSERT_EQ(AppendAnimFrame(w, nullptr, nullptr, nullptr, one.handle, pal, 2, 0, -1, 1000, 0, -1, 0), 0);
    ASSERT_EQ(AppendAnimFrame(w, nullptr, nullptr, nullptr, two.handle, pal, 2, 0, -1, 1000, 0, -1, 0), 0);
    EXPECT_EQ(AppendAnimFrame(w, nullptr, nullptr, nullptr, two.handle, pal, 3, 0, -1, 1000, 0, -1, 0), ERR_WRONGUSAGE)
        << "the first frame fixed the depth";
    RgbSet set(Scene(W, H, 0), W, H);
    ASSERT_EQ(AppendAnimFrame(w, set.rgb, nullptr, nullptr, nullptr, nullptr, 0, 2, -1, 1000, 0, -1, 0), 0);
    ASSERT_EQ(FinishAnimWriter(w), 0);
    lvAnimHandle *h = nullptr;
    int frames = 0;
    ASSERT_EQ(OpenAnimHandle(dir.File("a.anim").c_str(), "inbuilt", nullptr, nullptr, 0, 1, 0, &h, nullptr, nullptr,
                             &frames, nullptr, nullptr, nullptr),
              0);
    EXPECT_EQ(frames, 3);
    uint32_t *p = nullptr;
    int depth, pen;
    uint8_t *pens = (uint8_t *)FetchAnimFrame(h, 1, nullptr, &p, &depth, &pen, nullptr);
    ASSERT_TRUE(pens);
    EXPECT_EQ(pens[0], 2);
    EXPECT_EQ(depth, 2);
    EXPECT_EQ(p[2], 0x00FF00u);
    EXPECT_EQ(GetAnimFrameDelay(h, 1), 1000);
    FreeAnimFrame(h, pens);
    FreeMemory(p);
    ReleaseAnimHandle(h);
}

TEST(AnimWriter, MjpegAviFromRgbFrames)
{
    ScratchDir dir;
    const int W = 16, H = 8;
    lvAnimWriter *w = nullptr;
    ASSERT_EQ(BeginAnimWriter(dir.File("a.avi").c_str(), nullptr, nullptr, ANMFMT_MJPEG, W, H, 95, 25, &w), 0);
    for (int f = 0; f < 3; f++) {
        RgbSet set(Scene(W, H, f), W, H);
        ASSERT_EQ(AppendAnimFrame(w, set.rgb, nullptr, nullptr, nullptr, nullptr, 0, 24, -1, 40, 0, -1, 0), 0);
    }
    ASSERT_EQ(FinishAnimWriter(w), 0);
    Bytes file = ReadBytes(dir.File("a.avi"));
    EXPECT_NE(std::search(file.begin(), file.end(), "a.avi", "a.avi" + 6), file.end()) << "INAM: the file name";
    lvAnimHandle *h = nullptr;
    int frames = 0;
    ASSERT_EQ(OpenAnimHandle(dir.File("a.avi").c_str(), "inbuilt", nullptr, nullptr, 0, 0, 0, &h, nullptr, nullptr,
                             &frames, nullptr, nullptr, nullptr),
              0);
    EXPECT_EQ(frames, 3);
    EXPECT_STREQ(GetAnimFormatName(h), "AVI MJPEG");
    EXPECT_EQ(GetAnimFrameDelay(h, 1), 0);
    ReleaseAnimHandle(h);
}

TEST(AnimWriter, NoFramesNoFileAndRefusals)
{
    ScratchDir dir;
    for (int format : {ANMFMT_GIF, ANMFMT_MJPEG, ANMFMT_IFF}) {
        lvAnimWriter *w = nullptr;
        std::string path = dir.File("none" + std::to_string(format));
        ASSERT_EQ(BeginAnimWriter(path.c_str(), nullptr, nullptr, format, 8, 8, 90, 25, &w), 0);
        EXPECT_EQ(FinishAnimWriter(w), 0);
        EXPECT_NE(access(path.c_str(), F_OK), 0) << "no frame, no file: " << format;
    }
    lvAnimWriter *w = nullptr;
    EXPECT_EQ(BeginAnimWriter(dir.File("x").c_str(), nullptr, nullptr, 77, 8, 8, 90, 25, &w), ERR_UNKNOWNANMOUT);
    // fps the AVI writer cannot keep: the first frame opens it and reports so.
    ASSERT_EQ(BeginAnimWriter(dir.File("f.avi").c_str(), nullptr, nullptr, ANMFMT_MJPEG, 8, 8, 90, 2000000, &w), 0);
    RgbSet set(Scene(8, 8, 0), 8, 8);
    EXPECT_EQ(AppendAnimFrame(w, set.rgb, nullptr, nullptr, nullptr, nullptr, 0, 24, -1, 0, 0, -1, 0), ERR_WRONGUSAGE);
    EXPECT_EQ(FinishAnimWriter(w), 0);
    if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
    ASSERT_EQ(BeginAnimWriter("/dev/full", nullptr, nullptr, ANMFMT_IFF, 64, 64, 90, 25, &w), 0);
    PenPlane plane(64, 64, 1);
    uint32_t pal[2] = {0, 0xFFFFFF};
    int code = 0;
    for (int f = 0; f < 20 && !code; f++)
        code = AppendAnimFrame(w, nullptr, nullptr, nullptr, plane.handle, pal, 1, 0, -1, 0, 0, -1, 0);
    int finished = FinishAnimWriter(w);
    EXPECT_TRUE(finished == ERR_WRITE || finished == ERR_CLOSEFILE) << "the first failure: " << code << " " << finished;
}

}  // namespace

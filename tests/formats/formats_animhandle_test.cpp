// formats_animhandle_test.cpp - anim handles through the anim loader chain: a GIF anim, a
// still GIF, an IFF ANIM and an AVI from the runtime's writers, and an animated WebP
// from libwebp, with their format names, frames and delays; reference counting; and the
// errors of files nobody takes and files that are not there.
#include "formats/lvanim.h"
#include "formats/lvavi.h"
#include "formats/lviffanim.h"
#include "base/lverrors.h"
#include "tests/formats/formats_fixtures.h"
#include "tests/formats/gif_builder.h"
#include <cstring>
#include <gtest/gtest.h>
#include <webp/encode.h>
#include <webp/mux.h>

namespace {

struct Opened {
    lvAnimHandle *h = nullptr;
    int code = -1, width = 0, height = 0, frames = 0, fourth = 0, vector = 0;
    Opened(const std::string &path, int paletteMode = 0, const char *list = "inbuilt|native")
    {
        lvPluginRecord *plugin = nullptr;
        code = OpenAnimHandle(path.c_str(), list, nullptr, nullptr, 0, paletteMode, 0, &h, &width, &height, &frames,
                              &fourth, &vector, &plugin);
    }
    ~Opened()
    {
        if (h) ReleaseAnimHandle(h);
    }
};

Bytes GifAnim(int frames)
{
    GifFixture f;
    f.width = 4, f.height = 2;
    f.globalTable = {0x000000, 0xFF0000, 0x00FF00, 0x0000FF};
    for (int i = 0; i < frames; i++) {
        GifFrameFixture fr;
        fr.width = 4, fr.height = 2, fr.delay = 5 + i;
        fr.pens.assign(8, (uint8_t)(i % 4));
        fr.minCodeSize = 2;
        f.frames.push_back(fr);
    }
    return MakeGif(f);
}

Bytes WebpAnim()
{
    const int W = 6, H = 4;
    WebPAnimEncoderOptions options;
    WebPAnimEncoderOptionsInit(&options);
    WebPAnimEncoder *enc = WebPAnimEncoderNew(W, H, &options);
    WebPConfig config;
    WebPConfigInit(&config);
    config.lossless = 1;
    int timestamp = 0;
    for (int f = 0; f < 3; f++) {
        std::vector<uint8_t> rgba((size_t)W * H * 4, 255);
        for (size_t i = 0; i < rgba.size(); i += 4) rgba[i] = (uint8_t)(f * 60);
        WebPPicture pic;
        WebPPictureInit(&pic);
        pic.use_argb = 1, pic.width = W, pic.height = H;
        WebPPictureImportRGBA(&pic, rgba.data(), W * 4);
        WebPAnimEncoderAdd(enc, &pic, timestamp, &config);
        WebPPictureFree(&pic);
        timestamp += 100;
    }
    WebPAnimEncoderAdd(enc, nullptr, timestamp, nullptr);
    WebPData data;
    WebPDataInit(&data);
    WebPAnimEncoderAssemble(enc, &data);
    Bytes out(data.bytes, data.bytes + data.size);
    WebPDataClear(&data);
    WebPAnimEncoderDelete(enc);
    return out;
}

TEST(AnimHandle, EveryInbuiltAndNativeFormatOpensThroughTheChain)
{
    ScratchDir dir;
    WriteBytes(dir.File("a.gif"), GifAnim(3));
    WriteBytes(dir.File("a.webp"), WebpAnim());
    {
        lvIffAnimWriter *w = nullptr;
        ASSERT_EQ(OpenIffAnimWriter(dir.File("a.anim").c_str(), nullptr, nullptr, 8, 4, &w), 0);
        uint32_t pal[2] = {0, 0xFFFFFF};
        for (int f = 0; f < 4; f++) {
            Bytes pens(32, (uint8_t)(f & 1));
            ASSERT_EQ(WriteIffAnimPens(w, pens.data(), 8, 500, pal, 1, -1), 0);
        }
        ASSERT_EQ(FinishIffAnimWriter(w), 0);
        lvAviWriter *a = nullptr;
        ASSERT_EQ(OpenAviWriter(dir.File("a.avi").c_str(), nullptr, nullptr, 10, 8, 4, 90, "a.avi", &a), 0);
        std::vector<uint32_t> px(32, 0x336699);
        for (int f = 0; f < 2; f++) ASSERT_EQ(WriteAviFrame(a, px.data(), 8, 4), 0);
        ASSERT_EQ(FinishAviWriter(a), 0);
    }
    struct Case {
        const char *file, *name;
        int width, height, frames, delay1;
    };
    std::vector<Case> cases = {
        {"a.gif", "GIF ANIM", 4, 2, 3, 60},
        {"a.anim", "IFF ANIM", 8, 4, 4, 500},
        {"a.avi", "AVI MJPEG", 8, 4, 2, 0},
        {"a.webp", "Windows Imaging Component", 6, 4, 3, 100},
    };
    for (const Case &c : cases) {
        Opened o(dir.File(c.file));
        ASSERT_EQ(o.code, 0) << c.file;
        EXPECT_STREQ(GetAnimFormatName(o.h), c.name);
        EXPECT_EQ(o.width, c.width) << c.file;
        EXPECT_EQ(o.height, c.height) << c.file;
        EXPECT_EQ(o.frames, c.frames) << c.file;
        EXPECT_EQ(IsIffAnimHandle(o.h), std::string(c.file) == "a.anim");
        for (int f : {1, 0, 1}) {
            uint32_t *pal = nullptr;
            int depth, pen;
            void *px = FetchAnimFrame(o.h, f, nullptr, &pal, &depth, &pen, nullptr);
            ASSERT_TRUE(px) << c.file << " frame " << f;
            EXPECT_GT(depth, 0) << c.file;
            FreeAnimFrame(o.h, px);
            FreeMemory(pal);
        }
        EXPECT_EQ(GetAnimFrameDelay(o.h, 1), c.delay1) << c.file;
        EXPECT_TRUE(IsAnimFile(dir.File(c.file).c_str(), "inbuilt|native", nullptr, nullptr)) << c.file;
    }
    // Palette mode: pens and a palette copy.
    Opened p(dir.File("a.gif"), 1);
    ASSERT_EQ(p.code, 0);
    uint32_t *pal = nullptr;
    int depth, pen;
    uint8_t *pens = (uint8_t *)FetchAnimFrame(p.h, 2, nullptr, &pal, &depth, &pen, nullptr);
    ASSERT_TRUE(pens && pal);
    EXPECT_EQ(pens[0], 2);
    EXPECT_EQ(pal[2], 0x00FF00u);
    FreeAnimFrame(p.h, pens);
    FreeMemory(pal);
}

TEST(AnimHandle, StillGifOpensButIsNoAnim)
{
    ScratchDir dir;
    WriteBytes(dir.File("still.gif"), GifAnim(1));
    Opened o(dir.File("still.gif"));
    EXPECT_EQ(o.code, 0);
    EXPECT_EQ(o.frames, 1);
    EXPECT_FALSE(IsAnimFile(dir.File("still.gif").c_str(), "inbuilt", nullptr, nullptr));
}

TEST(AnimHandle, UnknownFormatsAndMissingFiles)
{
    ScratchDir dir;
    WriteBytes(dir.File("x.bin"), Bytes(64, 7));
    Opened unknown(dir.File("x.bin"));
    EXPECT_EQ(unknown.code, ERR_OPENANIM2);
    EXPECT_EQ(unknown.h, nullptr);
    Opened missing(dir.File("nothing.gif"));
    EXPECT_EQ(missing.code, ERR_READFILE);
    // A GIF left to the native loader alone is not taken.
    WriteBytes(dir.File("a.gif"), GifAnim(3));
    Opened nativeOnly(dir.File("a.gif"), 0, "native");
    EXPECT_EQ(nativeOnly.code, ERR_OPENANIM2);
    EXPECT_FALSE(IsAnimFile(dir.File("x.bin").c_str(), nullptr, nullptr, nullptr));
}

TEST(AnimHandle, OneRetainAndTwoReleasesCloseTheDecoderOnce)
{
    ScratchDir dir;
    WriteBytes(dir.File("a.gif"), GifAnim(2));
    lvAnimHandle *h = nullptr;
    ASSERT_EQ(OpenAnimHandle(dir.File("a.gif").c_str(), "inbuilt", nullptr, nullptr, 0, 0, 0, &h, nullptr, nullptr,
                             nullptr, nullptr, nullptr, nullptr),
              0);
    int64_t closes = GetAnimDecoderCloseCount();
    RetainAnimHandle(h);
    ReleaseAnimHandle(h);
    EXPECT_EQ(GetAnimDecoderCloseCount(), closes);
    uint32_t *pal = nullptr;
    int depth, pen;
    void *px = FetchAnimFrame(h, 1, nullptr, &pal, &depth, &pen, nullptr);
    EXPECT_TRUE(px) << "still open after the first release";
    FreeAnimFrame(h, px);
    ReleaseAnimHandle(h);
    EXPECT_EQ(GetAnimDecoderCloseCount(), closes + 1);
}

}  // namespace

// Picture sets: ARGB buffers to bitmaps (colour keys, alpha channels, video
// bitmaps and their fallback), duplicates, conversions, tiles, visible bounds,
// the image cache and the preload duplicate marking.
#include <gtest/gtest.h>

#include <vector>

#include "platform/lvplatform.h"
#include "raster/lvdrawstate.h"
#include "raster/lvimage.h"
#include "raster_fakes.h"
#include "runtime/lverrors.h"

namespace {

struct Images : testing::Test {
    void SetUp() override { ResetRasterModes(); }
    void TearDown() override { ResetDrawingState(); }
};

TEST_F(Images, ArgbWithColourKeyAndAlphaChannel) {
    // A 3x2 picture with two black pixels; black is the colour key.
    std::vector<uint32_t> argb = {0x00000000, 0x10FF0000, 0x2000FF00, 0x300000FF, 0xFF000000, 0x40FFFFFF};
    struct Case {
        int64_t key;
        int flags;
        std::vector<std::string> mask;  // empty: no mask expected
        bool alpha;
    } cases[] = {
        {0, 0, {".##", "#.#"}, false},  // key black: black pixels (whatever their high byte) clear
        {-1, 0, {}, false},
        {0x00FFFFFF, ARGBF_ALPHACHANNEL, {"###", "##."}, true},
        {-1, ARGBF_ALPHA, {}, false},  // flag 2 alone asks for alpha only with a video request
    };
    for (const auto &c : cases) {
        lvBitMapHandle *rgb = nullptr, *mask = nullptr, *alpha = nullptr;
        ASSERT_EQ(BitmapFromArgb(argb.data(), c.key, 3, 2, 3, 0, c.flags, nullptr, &rgb, &mask, &alpha), 0);
        ASSERT_NE(rgb, nullptr);
        EXPECT_EQ(PixelAt(rgb, 1, 0) & 0xFFFFFF, 0xFF0000u);
        EXPECT_EQ(PixelAt(rgb, 2, 1) & 0xFFFFFF, 0xFFFFFFu);
        if (c.mask.empty()) EXPECT_EQ(mask, nullptr);
        else {
            ASSERT_NE(mask, nullptr);
            EXPECT_EQ(MaskToText(mask), c.mask) << c.key;
        }
        EXPECT_EQ(alpha != nullptr, c.alpha);
        if (alpha) {
            EXPECT_EQ(ByteAt(alpha, 1, 0), 0x10);
            EXPECT_EQ(ByteAt(alpha, 1, 1), 0xFF);
        }
        FreeBitmapHandle(rgb);
        FreeBitmapHandle(mask);
        FreeBitmapHandle(alpha);
    }
}

TEST_F(Images, ArgbRowLengthLongerThanTheWidth) {
    std::vector<uint32_t> argb = {1, 2, 99, 3, 4, 99};
    lvBitMapHandle *rgb = nullptr, *mask = nullptr, *alpha = nullptr;
    ASSERT_EQ(BitmapFromArgb(argb.data(), 99, 2, 2, 3, 0, 0, nullptr, &rgb, &mask, &alpha), 0);
    EXPECT_EQ(PixelAt(rgb, 0, 1), 3u);
    EXPECT_EQ(MaskToText(mask), (std::vector<std::string>{"##", "##"}));
    FreeBitmapHandle(rgb);
    FreeBitmapHandle(mask);
}

TEST_F(Images, ArgbToVideoBitmapsAndTheFallback) {
    std::vector<uint32_t> argb = {0x00112233, 0x00000000};
    {
        // The adapter makes it: the key becomes alpha 0 in the adapter's copy, no mask.
        FakeAdapter a(ADAPTER_VIDEOBITMAPS);
        a.Install();
        lvBitMapHandle *rgb = nullptr, *mask = reinterpret_cast<lvBitMapHandle *>(1), *alpha = nullptr;
        ASSERT_EQ(BitmapFromArgb(argb.data(), 0, 2, 1, 2, 1, 0, nullptr, &rgb, &mask, &alpha), 0);
        ASSERT_NE(rgb, nullptr);
        EXPECT_EQ(rgb->video, 1);
        EXPECT_EQ(mask, nullptr);
        auto *fb = static_cast<FakeBitmap *>(rgb->backing);
        EXPECT_EQ(reinterpret_cast<uint32_t *>(fb->pixels.data())[0], 0xFF112233u);
        EXPECT_EQ(reinterpret_cast<uint32_t *>(fb->pixels.data())[1], 0x00000000u);
        EXPECT_TRUE(a.Called("AllocVideoBitMap 2x1 flags=9"));
        FreeBitmapHandle(rgb);
    }
    {
        // A given alpha plane is folded into the video bitmap and released.
        FakeAdapter a(ADAPTER_VIDEOBITMAPS);
        a.Install();
        lvBitMapHandle *alpha = AllocAlphaBitmap(2, 1, 1, nullptr, 0);
        SetByte(alpha, 0, 0, 0x7F);
        lvBitMapHandle *rgb = nullptr, *mask = nullptr;
        ASSERT_EQ(BitmapFromArgb(argb.data(), -1, 2, 1, 2, 1, 0, nullptr, &rgb, &mask, &alpha), 0);
        EXPECT_EQ(alpha, nullptr);
        auto *fb = static_cast<FakeBitmap *>(rgb->backing);
        EXPECT_EQ(reinterpret_cast<uint32_t *>(fb->pixels.data())[0], 0x7F112233u);
        FreeBitmapHandle(rgb);
    }
    for (uint32_t flags : {uint32_t(ADAPTER_VIDEOBITMAPS), uint32_t(ADAPTER_VIDEOBITMAPS | ADAPTER_VIDEOFALLBACK)}) {
        // The adapter fails: with the fallback a plain bitmap, else ERR_BITMAP.
        FakeAdapter a(flags);
        a.videoFail = 1;
        a.Install();
        lvBitMapHandle *rgb = nullptr, *mask = nullptr, *alpha = nullptr;
        int rc = BitmapFromArgb(argb.data(), 0, 2, 1, 2, 1, 0, nullptr, &rgb, &mask, &alpha);
        if (flags & ADAPTER_VIDEOFALLBACK) {
            ASSERT_EQ(rc, 0);
            EXPECT_EQ(rgb->video, 0);
            EXPECT_EQ(MaskToText(mask), (std::vector<std::string>{"#."}));
        } else {
            EXPECT_EQ(rc, ERR_BITMAP);
            EXPECT_EQ(rgb, nullptr);
        }
        FreeBitmapHandle(rgb);
        FreeBitmapHandle(mask);
    }
}

TEST_F(Images, ArgbAllocationFailuresLeaveNothing) {
    std::vector<uint32_t> argb = {0, 1, 2, 3};
    int expected[] = {ERR_BITMAP, ERR_BITMAP, ERR_BITMAP, ERR_ALLOCMASK, ERR_ALLOCMASK, ERR_ALLOCMASK,
                      ERR_ALLOCALPHA, ERR_ALLOCALPHA, ERR_ALLOCALPHA};
    int n = 0;
    for (int allowed = 0;; allowed++) {
        lvBitMapHandle *rgb = nullptr, *mask = nullptr, *alpha = nullptr;
        FailAllocMemoryAfter(allowed);
        int rc = BitmapFromArgb(argb.data(), 0, 2, 2, 2, 0, ARGBF_ALPHACHANNEL, nullptr, &rgb, &mask, &alpha);
        FailAllocMemoryAfter(-1);
        if (!rc) {
            FreeBitmapHandle(rgb);
            FreeBitmapHandle(mask);
            FreeBitmapHandle(alpha);
            break;
        }
        EXPECT_EQ(rgb, nullptr);
        EXPECT_EQ(mask, nullptr);
        EXPECT_EQ(alpha, nullptr);
        if (allowed < 9) {
            EXPECT_EQ(rc, expected[allowed]) << allowed;
        }
        n++;
    }
    EXPECT_GE(n, 3);
}

}  // namespace

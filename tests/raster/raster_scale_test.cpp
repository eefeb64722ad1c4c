// Scaling of raw pixel buffers and picture sets: nearest and bilinear sampling
// positions, byte planes and masks, very tall and very wide scales that used
// to read past the source, and the allocation failures of each entry point.
#include <gtest/gtest.h>

#include <vector>

#include "platform/lvplatform.h"
#include "raster/lvdrawstate.h"
#include "raster/lvscale.h"
#include "raster_fakes.h"
#include "runtime/lverrors.h"

namespace {

struct Scale : testing::Test {
    void SetUp() override { ResetRasterModes(); }
    void TearDown() override { ResetDrawingState(); }
};

std::vector<uint32_t> ScaleRow(const std::vector<uint32_t> &src, int tw, int smooth) {
    std::vector<uint32_t> out(tw, 0xDEADBEEF);
    void *r = ScalePixelBuffer(src.data(), 0, 0, static_cast<int>(src.size()), 1, out.data(), 0, 0, tw, 1,
                               static_cast<int>(src.size()), tw, PIXFMT_ARGB32, smooth);
    EXPECT_EQ(r, out.data());
    return out;
}

TEST_F(Scale, SamplingPositionsOfRows) {
    struct Case {
        std::vector<uint32_t> source;
        int width, smooth;
        std::vector<uint32_t> expected;
    } cases[] = {
        // Nearest repeats each pixel; 3 -> 2 steps by 1.5 and truncates.
        {{1, 2, 3, 4}, 8, 0, {1, 1, 2, 2, 3, 3, 4, 4}},
        {{1, 2, 3}, 2, 0, {1, 2}},
        // Bilinear 2 -> 3 samples 0, 0.5 and exactly 1.0 on every channel.
        {{0x00000000, 0xC8C8C8C8}, 3, 1, {0x00000000, 0x64646464, 0xC8C8C8C8}},
        // A target of one column samples column 0, not a division by zero.
        {{0x10203040, 0xFFFFFFFF, 0x11111111}, 1, 1, {0x10203040}},
        // Going down by one: the step (2 * 65536) / 2 walks whole columns.
        {{0x00000010, 0x00000020, 0x00000030}, 2, 1, {0x00000010, 0x00000030}},
    };
    for (const auto &c : cases) EXPECT_EQ(ScaleRow(c.source, c.width, c.smooth), c.expected) << c.width;
}

TEST_F(Scale, BilinearColumnOfOneRowTargetSamplesRowZero) {
    std::vector<uint32_t> src = {0x000000FF, 0x00FF0000, 0x0000FF00};  // one column, three rows
    uint32_t out[2] = {0, 0};
    ASSERT_NE(ScalePixelBuffer(src.data(), 0, 0, 1, 3, out, 0, 0, 2, 1, 1, 2, PIXFMT_ARGB32, 1), nullptr);
    EXPECT_EQ(out[0], 0x000000FFu);
    EXPECT_EQ(out[1], 0x000000FFu);
}

TEST_F(Scale, OwnBufferRectanglesAndOtherPixelSizes) {
    // A 4x3 source whose pixel value is its position; the 2x2 rectangle at (1, 1) doubled.
    std::vector<uint32_t> src(12);
    for (int i = 0; i < 12; i++) src[i] = static_cast<uint32_t>(i);
    auto *made = static_cast<uint32_t *>(ScalePixelBuffer(src.data(), 1, 1, 2, 2, nullptr, 0, 0, 4, 4, 4, 0,
                                                          PIXFMT_ARGB32, 0));
    ASSERT_NE(made, nullptr);
    EXPECT_EQ(std::vector<uint32_t>(made, made + 16),
              (std::vector<uint32_t>{5, 5, 6, 6, 5, 5, 6, 6, 9, 9, 10, 10, 9, 9, 10, 10}));
    FreeMemory(made);

    // Into a caller's buffer at (1, 0) with its own row length.
    std::vector<uint32_t> target(3 * 2, 7);
    ScalePixelBuffer(src.data(), 0, 0, 2, 1, target.data(), 1, 0, 2, 2, 4, 3, PIXFMT_ARGB32, 0);
    EXPECT_EQ(target, (std::vector<uint32_t>{7, 0, 1, 7, 0, 1}));

    // Pens and 16-bit pixels take nearest copies whatever the smooth flag says.
    std::vector<uint8_t> pens = {1, 9};
    auto *p = static_cast<uint8_t *>(ScalePixelBuffer(pens.data(), 0, 0, 2, 1, nullptr, 0, 0, 4, 1, 2, 0,
                                                      PIXFMT_CLUT8, 1));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(std::vector<uint8_t>(p, p + 4), (std::vector<uint8_t>{1, 1, 9, 9}));
    FreeMemory(p);
    std::vector<uint16_t> words = {0x1234, 0xF800};
    auto *w = static_cast<uint16_t *>(ScalePixelBuffer(words.data(), 0, 0, 2, 1, nullptr, 0, 0, 3, 1, 2, 0,
                                                       PIXFMT_RGB16, 1));
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(std::vector<uint16_t>(w, w + 3), (std::vector<uint16_t>{0x1234, 0x1234, 0xF800}));
    FreeMemory(w);

    EXPECT_EQ(ScalePixelBuffer(src.data(), 0, 0, 4, 3, nullptr, 0, 0, 0, 3, 4, 0, PIXFMT_ARGB32, 0), nullptr);
}

// Source heights and target heights whose single-precision row sum reaches
// the source height on the last row.
bool RowSumReachesHeight(int sh, int th) {
    float fy = static_cast<float>(sh) / static_cast<float>(th);
    float acc = 0.0f;
    for (int i = 0; i < th - 1; i++) acc += fy;
    return static_cast<int>(acc) >= sh;
}

TEST_F(Scale, TallScaleNeverReadsPastTheLastRow) {
    int sh = 0, th = 0;
    for (int s = 2; s < 400 && !sh; s++)
        for (int t = s + 1; t < 20000 && !sh; t += 7)
            if (RowSumReachesHeight(s, t)) sh = s, th = t;
    ASSERT_GT(sh, 0) << "no height pair found whose float row sum overshoots";
    // One column: the exact-size source lets ASan see any read past it.
    std::vector<uint32_t> src(static_cast<size_t>(sh));
    for (int i = 0; i < sh; i++) src[i] = static_cast<uint32_t>(i);
    for (int smooth : {0, 1}) {
        auto *out = static_cast<uint32_t *>(ScalePixelBuffer(src.data(), 0, 0, 1, sh, nullptr, 0, 0, 1, th, 1, 0,
                                                             PIXFMT_ARGB32, smooth));
        ASSERT_NE(out, nullptr);
        // Nearest takes the last row; bilinear's truncated step stops short of it.
        if (!smooth) EXPECT_EQ(out[th - 1], static_cast<uint32_t>(sh - 1)) << sh << " -> " << th;
        else EXPECT_LE(out[th - 1], static_cast<uint32_t>(sh - 1));
        FreeMemory(out);
    }
}

TEST_F(Scale, VeryWideRowsKeepTheirColumnPositions) {
    // 40000 -> 40001 columns: j * step passes 2^31 near the end of the row.
    const int sw = 40000, tw = 40001;
    std::vector<uint32_t> src(sw);
    for (int i = 0; i < sw; i++) src[i] = static_cast<uint32_t>(i);
    auto *out = static_cast<uint32_t *>(ScalePixelBuffer(src.data(), 0, 0, sw, 1, nullptr, 0, 0, tw, 1, sw, 0,
                                                         PIXFMT_ARGB32, 0));
    ASSERT_NE(out, nullptr);
    int64_t step = static_cast<int64_t>(static_cast<float>(sw) / static_cast<float>(tw) * 65536.0f);
    for (int j : {0, 1, 32768, 39000, 39999, 40000})
        EXPECT_EQ(out[j], static_cast<uint32_t>((static_cast<int64_t>(j) * step) >> 16)) << j;
    FreeMemory(out);
    // Bilinear: positions j * 65534 pass 2^31 from column 32770 on. Greys
    // whose neighbours differ by one keep the left neighbour's value.
    for (int i = 0; i < sw; i++) src[i] = static_cast<uint32_t>(i & 0xFF) * 0x01010101u;
    out = static_cast<uint32_t *>(ScalePixelBuffer(src.data(), 0, 0, sw, 1, nullptr, 0, 0, tw, 1, sw, 0,
                                                   PIXFMT_ARGB32, 1));
    ASSERT_NE(out, nullptr);
    for (int j : {0, 32770, 39000, 40000})
        EXPECT_EQ(out[j], src[(static_cast<int64_t>(j) * 65534) >> 16]) << j;
    FreeMemory(out);
}

TEST_F(Scale, PixelBufferAllocationFailuresLeaveNothing) {
    std::vector<uint32_t> src = {1, 2, 3, 4};
    for (int allowed : {0, 1}) {
        FailAllocMemoryAfter(allowed);
        void *r = ScalePixelBuffer(src.data(), 0, 0, 2, 2, nullptr, 0, 0, 5, 5, 2, 0, PIXFMT_ARGB32, 1);
        FailAllocMemoryAfter(-1);
        EXPECT_EQ(r, nullptr) << allowed;
    }
}

}  // namespace

// Scaling of raw pixel buffers and picture sets: nearest and bilinear sampling
// positions, byte planes and masks, very tall and very wide scales that used
// to read past the source, and the allocation failures of each entry point.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <vector>

#include "platform/lvplatform.h"
#include "raster/lvdrawstate.h"
#include "raster/lvimage.h"
#include "raster/lvneighbours.h"
#include "raster/lvplanes.h"
#include "raster/lvscale.h"
#include "raster_fakes.h"
#include "base/lverrors.h"

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

// Bilinear as written out: 16.16 positions stepping by (size - 1) / (target - 1),
// held below the last source pixel's far edge; the right (lower) neighbour is
// the next pixel or, on the last one, the pixel itself; each byte lane is
// a + (((b - a) * f) >> 16) across, then the same down.
std::vector<uint32_t> ReferenceBilinear(const std::vector<uint32_t> &src, int sw, int sh, int tw, int th) {
    auto positions = [](int size, int target) {
        std::vector<int64_t> t(size_t(target), 0);
        int64_t step = target > 1 ? (int64_t(size - 1) << 16) / (target - 1) : 0, limit = (int64_t(size) << 16) - 1;
        for (int k = 1; k < target; k++) t[size_t(k)] = std::min(t[size_t(k) - 1] + step, limit);
        return t;
    };
    auto xs = positions(sw, tw), ys = positions(sh, th);
    auto lane = [](uint32_t p, int k) { return int((p >> (8 * k)) & 0xFF); };
    auto mix = [](int a, int b, int f) { return a + (((b - a) * f) >> 16); };
    std::vector<uint32_t> out(size_t(tw) * th);
    for (int i = 0; i < th; i++)
        for (int j = 0; j < tw; j++) {
            int x0 = int(xs[size_t(j)] >> 16), y0 = int(ys[size_t(i)] >> 16);
            int x1 = std::min(x0 + 1, sw - 1), y1 = std::min(y0 + 1, sh - 1);
            int fx = int(xs[size_t(j)] & 0xFFFF), fy = int(ys[size_t(i)] & 0xFFFF);
            uint32_t v = 0;
            for (int k = 0; k < 4; k++) {
                int top = mix(lane(src[size_t(y0) * sw + x0], k), lane(src[size_t(y0) * sw + x1], k), fx);
                int bottom = mix(lane(src[size_t(y1) * sw + x0], k), lane(src[size_t(y1) * sw + x1], k), fx);
                v |= uint32_t(mix(top, bottom, fy) & 0xFF) << (8 * k);
            }
            out[size_t(i) * tw + j] = v;
        }
    return out;
}

TEST_F(Scale, BilinearMatchesTheReferenceUpAndDown) {
    // Shrinking by two and more (rows are fused), by less, growing; widths that are
    // odd, below and not a multiple of the vector width; one-pixel sources.
    struct Case { int sw, sh, tw, th; } cases[] = {
        {96, 60, 32, 20}, {97, 61, 31, 19}, {1920 / 8, 1080 / 8, 640 / 8, 480 / 8}, {37, 29, 12, 9},
        {33, 17, 100, 51}, {640 / 8, 480 / 8, 1920 / 8, 1080 / 8}, {5, 4, 64, 37}, {7, 5, 3, 2},
        {1, 9, 13, 3}, {9, 1, 3, 13}, {2, 2, 1, 1}, {50, 50, 49, 25}, {17, 13, 17, 13}, {300, 4, 7, 2},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.sw << "x" << c.sh << " -> " << c.tw << "x" << c.th);
        std::vector<uint32_t> src(size_t(c.sw) * c.sh);
        uint32_t seed = uint32_t(c.sw * 131 + c.sh);
        for (auto &p : src) p = seed = seed * 1664525u + 1013904223u;
        std::vector<uint32_t> out(size_t(c.tw) * c.th, 0xDEADBEEF);
        ASSERT_EQ(ScalePixelBuffer(src.data(), 0, 0, c.sw, c.sh, out.data(), 0, 0, c.tw, c.th, c.sw, c.tw,
                                   PIXFMT_ARGB32, 1),
                  out.data());
        auto want = ReferenceBilinear(src, c.sw, c.sh, c.tw, c.th);
        for (size_t i = 0; i < out.size(); i++) ASSERT_EQ(out[i], want[i]) << "pixel " << i % c.tw << "," << i / c.tw;
    }
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

// ---- Picture sets ------------------------------------------------------------

// A w x h RGB picture whose pixel is (y << 8 | x), with optional planes.
struct Picture {
    lvBitMapHandle *rgb = nullptr, *mask = nullptr, *alpha = nullptr, *pens = nullptr;
    Picture(int w, int h, bool withMask, bool withAlpha, bool withPens, bool withRgb = true) {
        if (withRgb) {
            rgb = AllocRgbBitmap(w, h, 0, nullptr);
            FillRgb(rgb, [](int x, int y) { return static_cast<uint32_t>(y << 8 | x); });
        }
        if (withMask) {
            mask = AllocMaskBitmap(rgb, w, h, 1, nullptr, 0);
            for (int y = 0; y < h; y++)
                for (int x = 0; x < w; x++) SetBit(mask, x, y, (x + y) % 3 != 0);
        }
        if (withAlpha) {
            alpha = AllocAlphaBitmap(w, h, 0, nullptr, 0);
            for (int y = 0; y < h; y++)
                for (int x = 0; x < w; x++) SetByte(alpha, x, y, static_cast<uint8_t>(x * 16 + y));
        }
        if (withPens) {
            pens = AllocChunkyBitmap(w, h, 0);
            for (int y = 0; y < h; y++)
                for (int x = 0; x < w; x++) SetByte(pens, x, y, static_cast<uint8_t>(100 + x + 10 * y));
        }
    }
    ~Picture() {
        for (lvBitMapHandle *b : {rgb, mask, alpha, pens}) FreeBitmapHandle(b);
    }
};

struct Made {
    lvBitMapHandle *rgb = nullptr, *mask = nullptr, *alpha = nullptr, *pens = nullptr;
    ~Made() {
        for (lvBitMapHandle *b : {rgb, mask, alpha, pens}) FreeBitmapHandle(b);
    }
};

TEST_F(Scale, PictureSetsScaleAllPlanesTogether) {
    // 4x2 doubled with nearest: every plane repeats each source pixel twice, the
    // mask counted from the source rectangle's x.
    Picture p(5, 2, true, true, false);
    Made m;
    ASSERT_EQ(ScaleImage(p.rgb, p.mask, p.alpha, nullptr, 1, 0, nullptr, nullptr, 4, 2, 8, 4, 0, nullptr, &m.rgb,
                         &m.mask, &m.alpha, &m.pens),
              0);
    ASSERT_TRUE(m.rgb && m.mask && m.alpha);
    EXPECT_EQ(m.pens, nullptr);
    for (int y = 0; y < 4; y++)
        for (int x = 0; x < 8; x++) {
            int sx = 1 + x / 2, sy = y / 2;
            EXPECT_EQ(PixelAt(m.rgb, x, y), static_cast<uint32_t>(sy << 8 | sx)) << x << "," << y;
            EXPECT_EQ(BitAt(m.mask, x, y), (sx + sy) % 3 != 0) << x << "," << y;
            EXPECT_EQ(ByteAt(m.alpha, x, y), sx * 16 + sy) << x << "," << y;
        }
}

TEST_F(Scale, BilinearWithAlphaAndMaskWritesBoth) {
    // The mask used to stay as allocated when an alpha plane came along.
    Picture p(2, 2, true, true, false);
    Made m;
    ASSERT_EQ(ScaleImage(p.rgb, p.mask, p.alpha, nullptr, 0, 0, nullptr, nullptr, 2, 2, 3, 3, 1, nullptr, &m.rgb,
                         &m.mask, &m.alpha, &m.pens),
              0);
    // Positions 0, 0.5, 1.0 on both axes: bits from (x0, y0), bytes interpolated.
    EXPECT_EQ(MaskToText(m.mask), (std::vector<std::string>{"..#", "..#", "###"}));
    EXPECT_EQ(ByteAt(m.alpha, 1, 1), (0 + 16 + 1 + 17) / 4);
    EXPECT_EQ(ByteAt(m.alpha, 2, 2), 17);
    // The pixel's high byte carries the interpolated alpha.
    EXPECT_EQ(PixelAt(m.rgb, 2, 2), 0x11000101u);
}

TEST_F(Scale, BilinearWithAndWithoutAlphaAgreeOnColour) {
    // The row-wise path (no byte plane) and the per-pixel path (alpha plane)
    // must give the same colour lanes, up and down.
    Picture p(7, 5, false, true, false);
    FillRgb(p.rgb, [](int x, int y) { return static_cast<uint32_t>((x * 37 + y * 91) * 0x010307u) & 0xFFFFFFu; });
    for (auto [tw, th] : {std::pair{13, 9}, std::pair{3, 2}, std::pair{7, 11}, std::pair{64, 37}}) {
        Made a, b;
        ASSERT_EQ(ScaleImage(p.rgb, nullptr, p.alpha, nullptr, 0, 0, nullptr, nullptr, 7, 5, tw, th, 1, nullptr, &a.rgb,
                             &a.mask, &a.alpha, &a.pens),
                  0);
        ASSERT_EQ(ScaleImage(p.rgb, nullptr, nullptr, nullptr, 0, 0, nullptr, nullptr, 7, 5, tw, th, 1, nullptr, &b.rgb,
                             &b.mask, &b.alpha, &b.pens),
                  0);
        for (int y = 0; y < th; y++)
            for (int x = 0; x < tw; x++)
                ASSERT_EQ(PixelAt(a.rgb, x, y) & 0xFFFFFF, PixelAt(b.rgb, x, y) & 0xFFFFFF) << tw << " " << x << "," << y;
    }
}

TEST_F(Scale, PensForceNearestAndAlphaBesidePensIsScaledToo) {
    Picture p(2, 1, false, true, true);
    Made m;
    ASSERT_EQ(ScaleImage(p.rgb, nullptr, p.alpha, p.pens, 0, 0, nullptr, nullptr, 2, 1, 4, 1, 1, nullptr, &m.rgb,
                         &m.mask, &m.alpha, &m.pens),
              0);
    for (int x = 0; x < 4; x++) {
        EXPECT_EQ(PixelAt(m.rgb, x, 0), static_cast<uint32_t>(x / 2));  // not interpolated
        EXPECT_EQ(ByteAt(m.pens, x, 0), 100 + x / 2);
        EXPECT_EQ(ByteAt(m.alpha, x, 0), (x / 2) * 16);  // used to stay as allocated
    }
}

TEST_F(Scale, ZeroTargetCallersTargetsAndBadRectangles) {
    Picture p(4, 4, true, false, false);
    Made m;
    EXPECT_EQ(ScaleImage(p.rgb, p.mask, nullptr, nullptr, 0, 0, nullptr, nullptr, 4, 4, 0, 5, 1, nullptr, &m.rgb,
                         &m.mask, &m.alpha, &m.pens),
              0);
    EXPECT_EQ(m.rgb, nullptr);
    EXPECT_EQ(m.mask, nullptr);
    // A caller's target: filled, nothing made, the mask left alone.
    lvBitMapHandle *target = AllocRgbBitmap(2, 2, 0, nullptr);
    EXPECT_EQ(ScaleImage(p.rgb, p.mask, nullptr, nullptr, 2, 2, target, nullptr, 2, 2, 2, 2, 0, nullptr, &m.rgb,
                         &m.mask, &m.alpha, &m.pens),
              0);
    EXPECT_EQ(PixelAt(target, 1, 1), 0x303u);
    EXPECT_EQ(m.mask, nullptr);
    FreeBitmapHandle(target);
    // A source rectangle outside the picture is refused rather than read.
    EXPECT_EQ(ScaleImage(p.rgb, p.mask, nullptr, nullptr, 2, 2, nullptr, nullptr, 4, 4, 8, 8, 0, nullptr, &m.rgb,
                         &m.mask, &m.alpha, &m.pens),
              ERR_WRONGUSAGE);
    EXPECT_EQ(m.rgb, nullptr);
}

TEST_F(Scale, EveryAllocationFailureLeavesNothingAndNoOutputs) {
    Picture p(3, 2, true, true, true);
    lvMatrix2D rotate;
    BuildRotationMatrix(1, 1, 30, &rotate);
    lvMatrix2D quarter;
    BuildRotationMatrix(1, 1, 90, &quarter);
    lvMatrix2D half;
    BuildRotationMatrix(1, 1, 180, &half);
    using Op = std::function<int(lvBitMapHandle **)>;
    std::vector<std::pair<const char *, Op>> ops = {
        {"scale",
         [&](lvBitMapHandle **o) {
             return ScaleImage(p.rgb, p.mask, p.alpha, p.pens, 0, 0, nullptr, nullptr, 3, 2, 7, 5, 0, nullptr, &o[0],
                               &o[1], &o[2], &o[3]);
         }},
        {"duplicate",
         [&](lvBitMapHandle **o) {
             lvPictureSet src{p.rgb, p.mask, p.alpha, p.pens, nullptr}, out{};
             int rc = DuplicateImage(&src, 0, 0, 0, 0, 0, 0, nullptr, &out);
             if (!rc) o[0] = out.rgb, o[1] = out.mask, o[2] = out.alpha, o[3] = out.chunky;
             return rc;
         }},
    };
    for (const lvMatrix2D *mx : {&rotate, &quarter, &half})
        ops.push_back({"affine", [&, mx](lvBitMapHandle **o) {
                           lvImageSetOut out{};
                           int rc = TransformImageAffine(p.rgb, p.mask, p.alpha, p.pens, 0, 0, 3, 2, mx, 0, -1,
                                                         nullptr, &out);
                           if (!rc) o[0] = out.rgb, o[1] = out.mask, o[2] = out.alpha, o[3] = out.pens;
                           return rc;
                       }});
    for (auto &[name, op] : ops) {
        ResetDrawingState();
        int failures = 0;
        for (int allowed = 0; allowed < 200; allowed++) {
            lvBitMapHandle *o[4] = {nullptr, nullptr, nullptr, nullptr};
            FailAllocMemoryAfter(allowed);
            int rc = op(o);
            FailAllocMemoryAfter(-1);
            if (!rc) {
                for (lvBitMapHandle *b : o) FreeBitmapHandle(b);
                break;
            }
            failures++;
            for (lvBitMapHandle *b : o) EXPECT_EQ(b, nullptr) << name << " " << allowed;
        }
        EXPECT_GE(failures, 4) << name;
    }
}

// ---- Transforms --------------------------------------------------------------

lvImageSetOut Transform(const Picture &p, int w, int h, const lvMatrix2D &m, int smooth = 0) {
    lvImageSetOut out{};
    const double anchor[2] = {0, 0};
    EXPECT_EQ(TransformImageSet(nullptr, TRANSFORM_PICTURE, nullptr, p.rgb, p.mask, p.alpha, p.pens, 0, 0, 10, 20, w,
                                h, anchor, &m, smooth, -1, nullptr, &out),
              0);
    return out;
}

void FreeOut(lvImageSetOut &o) {
    for (lvBitMapHandle *b : {o.rgb, o.mask, o.alpha, o.pens}) FreeBitmapHandle(b);
}

TEST_F(Scale, RightAnglesAreExactCopies) {
    Picture p(3, 2, true, false, false);
    struct Case {
        double angle;
        int w, h;
        // Target (j, i) from source (x, y).
        std::function<std::pair<int, int>(int, int)> from;
    } cases[] = {
        {90, 2, 3, [](int j, int i) { return std::make_pair(3 - 1 - i, j); }},
        {-270, 2, 3, [](int j, int i) { return std::make_pair(3 - 1 - i, j); }},
        {270, 2, 3, [](int j, int i) { return std::make_pair(i, 2 - 1 - j); }},
        {-90, 2, 3, [](int j, int i) { return std::make_pair(i, 2 - 1 - j); }},
        {180, 3, 2, [](int j, int i) { return std::make_pair(3 - 1 - j, 2 - 1 - i); }},
        {360, 3, 2, [](int j, int i) { return std::make_pair(j, i); }},
        {0, 3, 2, [](int j, int i) { return std::make_pair(j, i); }},
    };
    for (auto &c : cases) {
        lvMatrix2D m;
        BuildRotationMatrix(1, 1, c.angle, &m);
        lvImageSetOut o = Transform(p, 3, 2, m, 1);
        ASSERT_EQ(o.width, c.w) << c.angle;
        ASSERT_EQ(o.height, c.h) << c.angle;
        for (int i = 0; i < c.h; i++)
            for (int j = 0; j < c.w; j++) {
                auto [x, y] = c.from(j, i);
                EXPECT_EQ(PixelAt(o.rgb, j, i), static_cast<uint32_t>(y << 8 | x)) << c.angle << " " << j << "," << i;
                EXPECT_EQ(BitAt(o.mask, j, i), (x + y) % 3 != 0) << c.angle << " " << j << "," << i;
            }
        FreeOut(o);
    }
    // The same quarter turn typed in by hand is not recognised: the affine path
    // gives the bounding box of the mapped corners, one larger each way.
    lvImageSetOut o = Transform(p, 3, 2, lvMatrix2D{0, -1, 1, 0});
    EXPECT_EQ(o.width, 3);
    EXPECT_EQ(o.height, 4);
    FreeOut(o);
}

TEST_F(Scale, PensTurnByNearestAndPositionsFollowTheBounds) {
    Picture p(2, 2, false, false, true, false);  // a palette picture: pens only
    lvMatrix2D m;
    BuildRotationMatrix(1, 1, 90, &m);
    lvImageSetOut o = Transform(p, 2, 2, m, 1);
    ASSERT_NE(o.pens, nullptr);
    EXPECT_EQ(o.rgb, nullptr);
    EXPECT_EQ(ByteAt(o.pens, 0, 0), 101);  // source (1, 0)
    EXPECT_EQ(ByteAt(o.pens, 1, 1), 110);  // source (0, 1)
    EXPECT_EQ(o.x, 10);
    EXPECT_EQ(o.y, 18);
    FreeOut(o);
}

TEST_F(Scale, UncoveredPensTakeTheTransparentPen) {
    Picture p(6, 4, false, false, true, false);
    lvMatrix2D m;
    BuildRotationMatrix(1, 1, 30, &m);
    lvImageSetOut o{};
    ASSERT_EQ(TransformImageAffine(nullptr, nullptr, nullptr, p.pens, 0, 0, 6, 4, &m, 1, 7, nullptr, &o), 0);
    EXPECT_EQ(o.mask, nullptr);               // the pen plane says what is transparent
    EXPECT_EQ(ByteAt(o.pens, 0, 0), 7);       // a corner outside the turned picture
    int covered = 0;
    for (int y = 0; y < o.height; y++)
        for (int x = 0; x < o.width; x++) covered += ByteAt(o.pens, x, y) >= 100;  // source pens are 100 and up
    EXPECT_GT(covered, 6 * 4 / 2);
    FreeOut(o);
}

TEST_F(Scale, FortyFiveDegreesGainsAMaskWhereTheSourceLands) {
    const int W = 9, H = 5;
    Picture p(W, H, false, false, false);
    lvMatrix2D m;
    BuildRotationMatrix(1, 1, 45, &m);
    for (int smooth : {0, 1}) {
        lvImageSetOut o = Transform(p, W, H, m, smooth);
        ASSERT_NE(o.mask, nullptr);
        // Inverse map of (X, Y) with the box's offset, computed here on its own.
        double xs[4] = {0, W * m.sx, W * m.sx + H * m.ry, H * m.ry}, ys[4] = {0, W * m.rx, W * m.rx + H * m.sy, H * m.sy};
        double minX = *std::min_element(xs, xs + 4), minY = *std::min_element(ys, ys + 4);
        double det = m.sx * m.sy - m.ry * m.rx;
        int inside = 0;
        for (int Y = 0; Y < o.height; Y++)
            for (int X = 0; X < o.width; X++) {
                double a = m.sy / det, b = -m.rx / det, c = -m.ry / det, d = m.sx / det;
                double x = a * X + c * Y - a * -minX - c * -minY, y = b * X + d * Y - b * -minX - d * -minY;
                bool in = x >= 0 && x < W && y >= 0 && y < H;
                inside += in;
                ASSERT_EQ(BitAt(o.mask, X, Y), in) << smooth << " " << X << "," << Y;
                if (in && !smooth) {
                    EXPECT_EQ(PixelAt(o.rgb, X, Y), static_cast<uint32_t>(int(y) << 8 | int(x))) << X << "," << Y;
                }
            }
        EXPECT_GT(inside, W * H / 2);
        FreeOut(o);
    }
}

TEST_F(Scale, AffineSpansAgreeWithAndWithoutAFullMask) {
    // Without a mask the span paths run; a mask with every bit set takes the
    // per-pixel path: the colours must be the same.
    Picture plain(23, 17, false, false, false), masked(23, 17, true, false, false);
    FillMaskRect(masked.mask, 0, 0, 23, 17, MASKVISIBLE);
    FillRgb(plain.rgb, [](int x, int y) { return static_cast<uint32_t>((x * 53 + y * 29) * 0x010305u) & 0xFFFFFFu; });
    FillRgb(masked.rgb, [](int x, int y) { return static_cast<uint32_t>((x * 53 + y * 29) * 0x010305u) & 0xFFFFFFu; });
    for (double angle : {30.0, 135.0, -10.0})
        for (int smooth : {0, 1}) {
            lvMatrix2D m;
            BuildRotationMatrix(1.5, 0.75, angle, &m);
            lvImageSetOut a = Transform(plain, 23, 17, m, smooth), b = Transform(masked, 23, 17, m, smooth);
            ASSERT_EQ(a.width, b.width);
            for (int y = 0; y < a.height; y++)
                for (int x = 0; x < a.width; x++) {
                    ASSERT_EQ(BitAt(a.mask, x, y), BitAt(b.mask, x, y)) << angle << " " << x << "," << y;
                    if (BitAt(a.mask, x, y)) {
                        ASSERT_EQ(PixelAt(a.rgb, x, y) & 0xFFFFFF, PixelAt(b.rgb, x, y) & 0xFFFFFF)
                            << angle << " " << smooth << " " << x << "," << y;
                    }
                }
            FreeOut(a);
            FreeOut(b);
        }
}

TEST_F(Scale, PureScalesAndTheDisplaysScaledBackground) {
    Picture p(4, 2, false, false, false);
    lvImageSetOut o = Transform(p, 4, 2, lvMatrix2D{2, 0, 0, 2});
    EXPECT_EQ(o.width, 8);
    EXPECT_EQ(o.height, 4);
    EXPECT_EQ(PixelAt(o.rgb, 7, 3), 0x103u);
    FreeOut(o);
    // The display shows a 4x2 background scaled by exactly 2 at 9x5: that size wins.
    lvDisplayScaleServices d{};
    d.GetScaledBackground = [](void *, double *fx, double *fy, int *w, int *h, int *sw, int *sh) {
        *fx = 2, *fy = 2, *w = 4, *h = 2, *sw = 9, *sh = 5;
        return 1;
    };
    SetDisplayScaleServices(&d);
    o = Transform(p, 4, 2, lvMatrix2D{2, 0, 0, 2});
    EXPECT_EQ(o.width, 9);
    EXPECT_EQ(o.height, 5);
    FreeOut(o);
    o = Transform(p, 4, 2, lvMatrix2D{3, 0, 0, 3});
    EXPECT_EQ(o.width, 12);
    FreeOut(o);
    SetDisplayScaleServices(nullptr);
}

TEST_F(Scale, VideoSourcesGoToTheAdapter) {
    FakeAdapter a(ADAPTER_VIDEOBITMAPS, 0, 1 | 2);
    a.Install();
    lvBitMapHandle *video = AllocRgbBitmap(4, 4, BMF_VIDEO, nullptr);
    ASSERT_EQ(video->video, 1);
    Made m;
    ASSERT_EQ(ScaleImage(video, nullptr, nullptr, nullptr, 0, 0, nullptr, nullptr, 4, 4, 8, 6, 1, nullptr, &m.rgb,
                         &m.mask, &m.alpha, &m.pens),
              0);
    EXPECT_EQ(a.calls.back(), "AllocVideoBitMap 8x6 flags=10 tag1 tag2 tag3 tag4");
    EXPECT_EQ(m.rgb->video, 1);
    lvMatrix2D r;
    BuildRotationMatrix(1, 1, 30, &r);
    lvImageSetOut o{};
    ASSERT_EQ(TransformImageAffine(video, nullptr, nullptr, nullptr, 0, 0, 4, 4, &r, 0, -1, nullptr, &o), 0);
    EXPECT_EQ(a.calls.back().substr(0, 16), "AllocVideoBitMap");
    EXPECT_NE(a.calls.back().find("tag5"), std::string::npos);
    FreeOut(o);
    // Without a fallback a refused video bitmap is an error.
    a.videoFail = 1;
    lvBitMapHandle *none = nullptr;
    EXPECT_EQ(ScaleImage(video, nullptr, nullptr, nullptr, 0, 0, nullptr, nullptr, 4, 4, 8, 6, 1, nullptr, &none,
                         nullptr, nullptr, nullptr),
              ERR_BITMAP);
    EXPECT_EQ(none, nullptr);
    FreeBitmapHandle(video);
}

TEST_F(Scale, VideoSourcesAreReadBackWhenTheAdapterCannotScale) {
    // Video bitmaps but no video scaling: the pixels (and the adapter's alpha)
    // are read back and scaled in software into plain bitmaps.
    FakeAdapter a(ADAPTER_VIDEOBITMAPS | ADAPTER_VIDEOFALLBACK);
    a.Install();
    a.videoPixels = {0x80000001, 0x80000002, 0x40000003, 0x40000004};
    a.videoHasAlpha = 1;
    lvBitMapHandle *video = AllocRgbBitmap(2, 2, BMF_VIDEO, nullptr);
    Made m;
    ASSERT_EQ(ScaleImage(video, nullptr, nullptr, nullptr, 0, 0, nullptr, nullptr, 2, 2, 4, 2, 0, nullptr, &m.rgb,
                         &m.mask, &m.alpha, &m.pens),
              0);
    EXPECT_EQ(m.rgb->video, 0);
    EXPECT_EQ(PixelAt(m.rgb, 3, 1) & 0xFFFFFF, 4u);
    ASSERT_NE(m.alpha, nullptr);  // the adapter's alpha is scaled with the pixels
    EXPECT_EQ(ByteAt(m.alpha, 3, 1), 0x40);
    EXPECT_EQ(a.videoBuffersOut, 0);
    // A duplicate of a video picture reads it back too, with its alpha.
    lvPictureSet src{video, nullptr, nullptr, nullptr, nullptr}, dup{};
    ASSERT_EQ(DuplicateImage(&src, 0, 0, 0, 0, 0, 0, nullptr, &dup), 0);
    EXPECT_EQ(PixelAt(dup.rgb, 1, 0) & 0xFFFFFF, 2u);
    ASSERT_NE(dup.alpha, nullptr);
    EXPECT_EQ(ByteAt(dup.alpha, 0, 1), 0x40);
    FreePictureSet(&dup);
    FreeBitmapHandle(video);
}

TEST_F(Scale, MirrorsKeepPaddingAndMiddleRows) {
    lvBitMapHandle *m = MaskFromText({"#.........", "..#.......", "........##"});
    // Padding bits after the width are set; they must stay set.
    uint8_t *px;
    int row;
    uintptr_t t = GetPlanePixels(m, &px, &row, 1);
    px[1] |= 0x3F;
    ReleasePlanePixels(t);
    ASSERT_EQ(MirrorBitmaps(nullptr, m, nullptr, 10, 3, 1), 0);
    EXPECT_EQ(MaskToText(m), (std::vector<std::string>{".........#", ".......#..", "##........"}));
    t = GetPlanePixels(m, &px, &row, 0);
    EXPECT_EQ(px[1] & 0x3F, 0x3F);
    ReleasePlanePixels(t);
    ASSERT_EQ(MirrorBitmaps(nullptr, m, nullptr, 10, 3, 0), 0);
    EXPECT_EQ(MaskToText(m), (std::vector<std::string>{"##........", ".......#..", ".........#"}));
    FreeBitmapHandle(m);
}

}  // namespace

// images_geometric_test.cpp - swirl, water ripple, pixelate and the kernels the
// transitions share with them, on small pictures.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <functional>

#include "base/lverrors.h"
#include "effects_fixture.h"
#include "platform/lvplatform.h"
#include "raster/lvscale.h"

namespace {

TEST(Tables, SinesByAddingAThousandthAndIntSqrt) {
    std::vector<double> s(6300), c(6300);
    BuildSinCosTables(s.data(), c.data());
    EXPECT_EQ(s[0], 0.0);
    EXPECT_EQ(c[0], 1.0);
    EXPECT_NEAR(s[1570], 1.0, 1e-6);
    struct { int64_t n; int r; } cases[] = {{-1, -1}, {0, 0}, {1, 1}, {3, 1}, {4, 2}, {99, 9}, {100, 10}, {2147395600, 46340}};
    for (auto &k : cases) EXPECT_EQ(IntSqrt(k.n), k.r) << k.n;
}

TEST(Mirror, OddHeightKeepsMiddleRow) {
    std::vector<uint32_t> src = RandomPixels(12, 2);
    Picture pic(4, 3, src);
    ASSERT_EQ(MirrorBitmaps(pic.rgb, nullptr, nullptr, 4, 3, 0), 0);
    auto out = pic.Read();
    for (int x = 0; x < 4; x++) {
        EXPECT_EQ(out[size_t(4 + x)], src[size_t(4 + x)]);
        EXPECT_EQ(out[size_t(x)], src[size_t(8 + x)]);
    }
}

TEST(Swirl, ZeroClampAndOutsideCircle) {
    const int n = 9;
    std::vector<uint32_t> src = RandomPixels(n * n, 13);
    std::vector<uint8_t> a(size_t(n * n));
    for (size_t i = 0; i < a.size(); i++) a[i] = uint8_t(i);
    Picture pic(n, n, src);
    Plane alpha(n, n, a);
    ASSERT_EQ(SwirlImage(pic.rgb, nullptr, alpha.handle, n, n, 0), 0);
    EXPECT_EQ(pic.Read(), src);
    EXPECT_EQ(alpha.Read(), a);

    ASSERT_EQ(SwirlImage(pic.rgb, nullptr, alpha.handle, n, n, 400), 0);
    auto big = pic.Read();
    auto bigAlpha = alpha.Read();
    EXPECT_NE(big, src);
    pic.Write(src);
    alpha.Write(a);
    SwirlImage(pic.rgb, nullptr, alpha.handle, n, n, 359);
    EXPECT_EQ(pic.Read(), big);
    EXPECT_EQ(alpha.Read(), bigAlpha);
    // The colour and alpha moved together: each pixel's alpha names where it came from.
    for (size_t i = 0; i < big.size(); i++) EXPECT_EQ(big[i], src[bigAlpha[i]]);
    // Corners lie outside the circle of radius 4.5 round (4.5, 4.5).
    for (int i : {0, n - 1, n * (n - 1), n * n - 1}) EXPECT_EQ(big[size_t(i)], src[size_t(i)]);
}

TEST(Swirl, PenPlaneAndMaskMoveToo) {
    std::vector<uint8_t> pens(64);
    for (int i = 0; i < 64; i++) pens[size_t(i)] = uint8_t(i);
    Plane chunky(8, 8, pens, true);
    ASSERT_EQ(SwirlImage(nullptr, nullptr, chunky.handle, 8, 8, 180), 0);
    EXPECT_NE(chunky.Read(), pens);
    FailAllocMemoryAfter(0);
    EXPECT_EQ(SwirlImage(nullptr, nullptr, chunky.handle, 8, 8, 90), ERR_MEM);
    FailAllocMemoryAfter(1);  // tables had, the plane copy not
    auto before = chunky.Read();
    EXPECT_EQ(SwirlImage(nullptr, nullptr, chunky.handle, 8, 8, 90), ERR_MEM);
    FailAllocMemoryAfter(-1);
    EXPECT_EQ(chunky.Read(), before);
}

TEST(Ripple, AmplitudeZeroAndCentreAtOrigin) {
    std::vector<uint32_t> src = RandomPixels(100, 17);
    Picture pic(10, 10, src);
    ASSERT_EQ(WaterRippleImage(pic.rgb, nullptr, nullptr, 10, 10, 4, 0, 0, 0.5, 0.5), 0);
    EXPECT_EQ(pic.Read(), src);
    // Centre at (0, 0): radius 0, nothing moves (and nothing divides by it).
    ASSERT_EQ(WaterRippleImage(pic.rgb, nullptr, nullptr, 10, 10, 4, 3, 0, 0, 0), 0);
    EXPECT_EQ(pic.Read(), src);
    Picture one(1, 1, 0xFF123456u);
    ASSERT_EQ(WaterRippleImage(one.rgb, nullptr, nullptr, 1, 1, 4, 3, 0, 0.5, 0.5), 0);
    EXPECT_EQ(one.At(0, 0), 0xFF123456u);
    // Centre fractions beyond 0..1 are clamped, NaN too.
    ASSERT_EQ(WaterRippleImage(pic.rgb, nullptr, nullptr, 10, 10, 4, 3, 0, -7, std::nan("")), 0);
    EXPECT_EQ(pic.Read(), src);
    ASSERT_EQ(WaterRippleImage(pic.rgb, nullptr, nullptr, 10, 10, 3, 2, 1, 0.5, 0.5), 0);
    EXPECT_NE(pic.Read(), src);
}

TEST(Pixelate, BlockOneAndBlockBeyondPicture) {
    std::vector<uint32_t> src = RandomPixels(35, 19);
    std::vector<uint8_t> a(35, 9);
    a[0] = 77;
    Picture pic(7, 5, src);
    Plane alpha(7, 5, a);
    ASSERT_EQ(PixelateImage(pic.rgb, nullptr, alpha.handle, 7, 5, 1), 0);
    EXPECT_EQ(pic.Read(), src);
    ASSERT_EQ(PixelateImage(pic.rgb, nullptr, alpha.handle, 7, 5, 50), 0);
    for (uint32_t p : pic.Read()) EXPECT_EQ(p, src[0]);
    for (uint8_t v : alpha.Read()) EXPECT_EQ(v, 77);
}

TEST(Pixelate, BlocksCutAtEdgesAndTransparentBlocks) {
    std::vector<uint32_t> src(25);
    for (int i = 0; i < 25; i++) src[size_t(i)] = uint32_t(i);
    Picture pic(5, 5, src);
    std::vector<int> bits(25, 1);
    bits[2] = 0;  // top-left of the block at (2, 0)
    Mask mask(pic.rgb, 5, 5, bits);
    ASSERT_EQ(PixelateImage(pic.rgb, mask.handle, nullptr, 5, 5, 2), 0);
    auto out = pic.Read();
    auto m = Mask::ReadBits(mask.handle, 5, 5);
    // Block (0,0): pixel 0; block (2,0) transparent: colours kept, mask cleared.
    EXPECT_EQ(out[6], 0u);
    EXPECT_EQ(out[3], 3u);
    EXPECT_EQ(m[3], 0);
    EXPECT_EQ(m[13 - 5], 0);
    EXPECT_EQ(out[24], 24u);  // the 1 x 1 block at the corner
    EXPECT_EQ(out[19], 14u);  // block (4, 2): 1 wide, 2 high
    EXPECT_EQ(m[19], 1);
}

TEST(Pixelate, PenPlane) {
    std::vector<uint8_t> pens(16);
    for (int i = 0; i < 16; i++) pens[size_t(i)] = uint8_t(i + 1);
    pens[2] = 0;
    Plane chunky(4, 4, pens, true);
    ASSERT_EQ(PixelateImage(nullptr, nullptr, chunky.handle, 4, 4, 2, nullptr, 0), 0);
    auto out = chunky.Read();
    EXPECT_EQ(out[5], 1);   // block (0,0) took pen 1
    EXPECT_EQ(out[3], 4);   // block (2,0): transparent pen 0, pens left
    EXPECT_EQ(out[15], 11); // block (2,2)
}

lvKernelPlanes View(std::vector<uint32_t> &px, std::vector<uint8_t> *plane, int w, int h) {
    lvKernelPlanes p{};
    p.pixels = px.data();
    p.rowLength = w;
    p.format = PIXFMT_ARGB32;
    p.plane = plane ? plane->data() : nullptr;
    p.planeRowBytes = w;
    p.width = w;
    p.height = h;
    p.transparentPen = -1;
    return p;
}

TEST(TransitionKernels, SwirlFadeAndBlend) {
    std::vector<double> s(6300), c(6300);
    BuildSinCosTables(s.data(), c.data());
    // Step 0: the source point is the pixel itself; the value is 0.
    std::vector<uint32_t> src = {0x11111111u, 0x22222222u, 0x33333333u, 0x44444444u};
    std::vector<uint32_t> dst(4, 0xAAAAAAAAu);
    std::vector<uint8_t> fadeBytes = {0, 255, 128, 10}, dstAlpha(4, 7);
    lvKernelPlanes sp = View(src, nullptr, 2, 2), dp = View(dst, &dstAlpha, 2, 2);
    std::vector<uint32_t> none;
    lvKernelPlanes fp = View(none, &fadeBytes, 2, 2);
    fp.pixels = nullptr;
    lvKernelBlend fade{&fp, nullptr, 0};
    SwirlKernel(&sp, &dp, 360, s.data(), c.data(), &fade);  // step 360: angle 360, value 127
    // Where the fade byte is 0 the pixel is left and the alpha cleared.
    EXPECT_EQ(dst[0], 0xAAAAAAAAu);
    EXPECT_EQ(dstAlpha[0], 0);
    // Elsewhere the pixel comes over and alpha = A x 127 / 255 (A x 128 / 255 reversed).
    std::vector<int> moved;
    for (int i = 1; i < 4; i++) moved.push_back(dstAlpha[size_t(i)]);
    for (int i = 1; i < 4; i++) EXPECT_NE(dst[size_t(i)], 0xAAAAAAAAu);
    EXPECT_EQ(dstAlpha[1], 255 * 127 / 255);
    fade.reverse = 1;
    SwirlKernel(&sp, &dp, 360, s.data(), c.data(), &fade);
    EXPECT_EQ(dstAlpha[1], 255 * 128 / 255);

    // Blend at step 0 (value 0): the second image; at value v: b + ((a - b) v >> 8).
    std::vector<uint32_t> second(4, 0x00000000u), out(4, 0);
    lvKernelPlanes secp = View(second, nullptr, 2, 2), op = View(out, nullptr, 2, 2);
    lvKernelBlend blend{nullptr, &secp, 0};
    SwirlKernel(&sp, &op, 0, s.data(), c.data(), &blend);
    EXPECT_EQ(out, second);
    SwirlKernel(&sp, &op, 720 - 1, s.data(), c.data(), &blend);  // value 254
    // Every pixel is some source pixel scaled by 254 / 256: 0x11 -> 0x10.
    for (uint32_t p : out) {
        int b = int(p & 0xFF);
        EXPECT_TRUE(b == (0x11 * 254 >> 8) || b == (0x22 * 254 >> 8) || b == (0x33 * 254 >> 8) || b == (0x44 * 254 >> 8)) << b;
    }
}

TEST(TransitionKernels, RippleStepScalesAmplitude) {
    std::vector<double> s(6300);
    BuildSinCosTables(s.data(), nullptr);
    const int w = 8, h = 8;
    std::vector<int> dist(size_t(w * h));
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) dist[size_t(y * w + x)] = IntSqrt((x - 4) * (x - 4) + (y - 4) * (y - 4));
    std::vector<uint32_t> src = RandomPixels(w * h, 23), out(size_t(w * h), 0);
    lvKernelPlanes sp = View(src, nullptr, w, h), op = View(out, nullptr, w, h);
    // Step 0 of 4: amplitude x 0, nothing moves.
    RippleKernel(&sp, &op, 0, 4, 3, 2.0, 0, 4, 4, dist.data(), s.data(), nullptr);
    EXPECT_EQ(out, src);
    // Step 8 of 4 (2 x steps - step = 0): again nothing.
    std::fill(out.begin(), out.end(), 0);
    RippleKernel(&sp, &op, 8, 4, 3, 2.0, 0, 4, 4, dist.data(), s.data(), nullptr);
    EXPECT_EQ(out, src);
}

TEST(TransitionKernels, CopyRectsAndWaveBand) {
    std::vector<uint32_t> src = {1, 2, 3, 4}, dst(4, 9);
    std::vector<uint8_t> srcAlpha = {0, 5, 6, 0}, dstAlpha(4, 99);
    lvKernelPlanes sp = View(src, &srcAlpha, 2, 2), dp = View(dst, &dstAlpha, 2, 2);
    EXPECT_EQ(CopyPixelRect(&sp, &dp, 0, 0, 2, 2, 0, 0), 1);
    EXPECT_EQ(dst, (std::vector<uint32_t>{9, 2, 3, 9}));
    EXPECT_EQ(dstAlpha, (std::vector<uint8_t>{0, 5, 6, 0}));
    // Pens through a palette: the transparent pen clears the mask bit.
    uint32_t palette[256] = {};
    palette[1] = 0x00ABCDEFu;
    std::vector<uint8_t> pens = {1, 0, 1, 1};
    std::vector<uint32_t> none;
    lvKernelPlanes pp = View(none, &pens, 2, 2);
    pp.pixels = nullptr;
    pp.palette = palette;
    pp.transparentPen = 0;
    std::vector<uint32_t> d2(4, 7);
    uint8_t maskBytes[2] = {0x40, 0x00};
    lvKernelPlanes tp = View(d2, nullptr, 2, 2);
    tp.mask = maskBytes;
    tp.maskRowBytes = 1;
    CopyPixelRect(&pp, &tp, 0, 0, 2, 2, 0, 0);
    EXPECT_EQ(d2, (std::vector<uint32_t>{0x00ABCDEFu, 7, 0x00ABCDEFu, 0x00ABCDEFu}));
    EXPECT_EQ(maskBytes[0], 0x80);
    EXPECT_EQ(maskBytes[1], 0xC0);
    std::vector<uint8_t> penTarget(4, 50);
    lvKernelPlanes pt = View(none, &penTarget, 2, 2);
    pt.pixels = nullptr;
    CopyPenRect(&pp, &pt, 0, 0, 2, 2, 0, 0);
    EXPECT_EQ(penTarget, (std::vector<uint8_t>{1, 50, 1, 1}));

    // Wave band over rows 1..2 of a 1 x 4 picture: the source row is the band
    // end plus the offset in steps of 2 pi / length.
    std::vector<uint32_t> col = {10, 11, 12, 13}, tgt(4, 0);
    lvKernelPlanes cs = View(col, nullptr, 1, 4), ct = View(tgt, nullptr, 1, 4);
    double offsets[2] = {0, 6.283185307179586 / 2};
    lvWaveBand band{0, 2, 2, offsets, 0, 0, 0};
    WaveBandCopy(&cs, &ct, &band);
    EXPECT_EQ(tgt, (std::vector<uint32_t>{0, 12, 13, 0}));
    EXPECT_EQ(band.copied, 2);
    EXPECT_EQ(band.firstCopied, 1);
    lvWaveBand outside{0, 9, 2, offsets, 0, 0, 0};
    WaveBandCopy(&cs, &ct, &outside);
    EXPECT_EQ(outside.copied, 0);
    EXPECT_EQ(outside.firstCopied, -100000);
}

TEST(TransitionKernels, ThresholdReveal) {
    uint8_t noise[4] = {10, 100, 200, 50}, source[4] = {1, 2, 3, 4}, target[4] = {9, 9, 9, 9};
    ThresholdRevealKernel(target, 4, source, 4, noise, 4, 4, 1, 100, 0, 1);
    EXPECT_EQ(std::vector<uint8_t>(target, target + 4), (std::vector<uint8_t>{1, 0, 0, 4}));
    ThresholdRevealKernel(target, 4, nullptr, 4, noise, 4, 4, 1, 100, 1, 1);
    EXPECT_EQ(std::vector<uint8_t>(target, target + 4), (std::vector<uint8_t>{0, 255, 255, 0}));
    uint8_t bits = 0xF0, srcBits = 0xA0;
    ThresholdRevealKernel(&bits, 1, &srcBits, 1, noise, 4, 4, 1, 100, 0, 0);
    EXPECT_EQ(bits, 0x80);  // source 1, hidden, hidden, source 0; the bits past the width untouched
}

}  // namespace

namespace {

// Every allocation of the moving effects may fail: the effect reports ERR_MEM
// and leaves the picture as it was (LSan checks that nothing is left behind).
TEST(MovingEffects, MemoryShortageAtEveryAllocation) {
    std::vector<uint32_t> src = RandomPixels(64, 61);
    std::vector<uint8_t> a(64);
    for (int i = 0; i < 64; i++) a[size_t(i)] = uint8_t(i);
    using Effect = std::function<int(lvBitMapHandle *, lvBitMapHandle *, lvBitMapHandle *)>;
    std::vector<Effect> effects = {
        [](lvBitMapHandle *r, lvBitMapHandle *m, lvBitMapHandle *p) { return SwirlImage(r, m, p, 8, 8, 200); },
        [](lvBitMapHandle *r, lvBitMapHandle *m, lvBitMapHandle *p) {
            return WaterRippleImage(r, m, p, 8, 8, 3, 2, 1, 0.5, 0.5);
        },
    };
    for (size_t e = 0; e < effects.size(); e++) {
        SCOPED_TRACE(e);
        Picture pic(8, 8, src);
        Plane alpha(8, 8, a);
        std::vector<int> bits(64, 1);
        Mask mask(pic.rgb, 8, 8, bits);
        int failures = 0;
        for (int n = 0;; n++) {
            FailAllocMemoryAfter(n);
            int rc = effects[e](pic.rgb, mask.handle, alpha.handle);
            FailAllocMemoryAfter(-1);
            if (rc == 0) break;
            failures++;
            ASSERT_EQ(rc, ERR_MEM);
            ASSERT_EQ(pic.Read(), src);
            ASSERT_EQ(alpha.Read(), a);
            ASSERT_LT(n, 10);
        }
        EXPECT_GE(failures, 3);
        EXPECT_NE(pic.Read(), src);
    }
}

}  // namespace

namespace {

// Extreme arguments: every effect returns, nothing converts an out-of-range
// real to an integer (UBSan), and the picture keeps its size.
TEST(OddArguments, EffectsStaySound) {
    std::vector<uint32_t> src = RandomPixels(35, 91);
    Picture pic(7, 5, src);
    Plane alpha(7, 5, std::vector<uint8_t>(35, 9));
    const int ints[] = {INT_MIN, -1, 0, 1, 2, 359, 720, INT_MAX};
    const double reals[] = {-HUGE_VAL, -1e300, -1, 0, 0.5, 1, 3, 1e300, HUGE_VAL, std::nan("")};
    for (int i : ints) {
        SwirlImage(pic.rgb, nullptr, alpha.handle, 7, 5, i);
        PixelateImage(pic.rgb, nullptr, alpha.handle, 7, 5, i);
        SolarizeImage(pic.rgb, 7, 5, i);
        SepiaToneImage(pic.rgb, 7, 5, i);
        for (int j : ints) WaterRippleImage(pic.rgb, nullptr, alpha.handle, 7, 5, i, j, j, 0.3, 0.6);
    }
    for (double r : reals) {
        GammaImage(pic.rgb, 7, 5, r, 1, r);
        ModulateImage(pic.rgb, 7, 5, r, r, r);
        WaterRippleImage(pic.rgb, nullptr, alpha.handle, 7, 5, 3, 2, 1, r, r);
        for (int kind : {CONVOLVE_BLUR, CONVOLVE_EMBOSS, CONVOLVE_EDGE, CONVOLVE_SHARPEN}) {
            int rc = ConvolveImage(kind, pic.rgb, alpha.handle, 7, 5, r, r, nullptr);
            EXPECT_TRUE(rc == 0 || rc == ERR_MEM) << rc;
            ConvolveImage(kind, pic.rgb, alpha.handle, 7, 5, 1, r, nullptr);
        }
        if (!(r > 100)) {
            OilPaintImage(pic.rgb, 7, 5, r);
            CharcoalImage(pic.rgb, alpha.handle, 7, 5, r, r);
        }
    }
    std::vector<double> s(6300), c(6300);
    BuildSinCosTables(s.data(), c.data());
    std::vector<uint32_t> px = src, out(35);
    lvKernelPlanes sp{px.data(), 7, PIXFMT_ARGB32, nullptr, 0, nullptr, 0, nullptr, -1, 7, 5};
    lvKernelPlanes op{out.data(), 7, PIXFMT_ARGB32, nullptr, 0, nullptr, 0, nullptr, -1, 7, 5};
    lvKernelBlend blend{nullptr, &sp, 0};
    for (int i : ints) SwirlKernel(&sp, &op, i, s.data(), c.data(), &blend);
    std::vector<int> dist(35, 3);
    for (int i : ints) RippleKernel(&sp, &op, i, INT_MAX, 2, 3, 0, 3, 2, dist.data(), s.data(), &blend);
    EXPECT_EQ(pic.Read().size(), 35u);
}

}  // namespace

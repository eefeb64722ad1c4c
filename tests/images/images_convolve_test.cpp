// images_convolve_test.cpp - blur, emboss, edge and sharpen pixel by pixel
// against a plain reference (edge-clamped reads, sums in kernel order), the
// kernel widths, and the soft shadow masks.
#include <gtest/gtest.h>

#include <cmath>

#include "base/lverrors.h"
#include "effects_fixture.h"
#include "platform/lvplatform.h"

namespace {

// Reference blur of one channel: horizontal, truncate, vertical, truncate.
std::vector<int> ReferenceBlur(const std::vector<int> &in, int w, int h, const std::vector<double> &k) {
    int n = int(k.size()), half = n / 2;
    auto clampi = [](int v, int lo, int hi) { return v < lo ? lo : (v > hi ? hi : v); };
    auto store = [](double s) { return s <= 0 ? 0 : (s >= 255 ? 255 : int(s)); };
    std::vector<int> mid(in.size()), out(in.size());
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            double s = 0;
            for (int t = 0; t < n; t++) s += k[t] * in[size_t(y) * w + clampi(x + t - half, 0, w - 1)];
            mid[size_t(y) * w + x] = store(s);
        }
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            double s = 0;
            for (int t = 0; t < n; t++) s += k[t] * mid[size_t(clampi(y + t - half, 0, h - 1)) * w + x];
            out[size_t(y) * w + x] = store(s);
        }
    return out;
}

// The blur weights as written out: three sub-samples per tap, normalised.
std::vector<double> ReferenceBlurKernel(int w, double sigma) {
    std::vector<double> k(size_t(w), 0.0);
    int b = 3 * w / 2;
    for (int i = -b; i <= b; i++) k[size_t((i + b) / 3)] += std::exp(-double(i) * i / (18 * sigma * sigma)) / (2.5066282746310002 * sigma);
    double s = 0;
    for (double v : k) s += v;
    for (double &v : k) v /= s;
    return k;
}

std::vector<int> Channel(const std::vector<uint32_t> &px, int shift) {
    std::vector<int> c(px.size());
    for (size_t i = 0; i < px.size(); i++) c[i] = int((px[i] >> shift) & 0xFF);
    return c;
}

TEST(KernelWidths, FollowRadiusOrSigma) {
    struct Case { double radius, sigma; int oneD, twoD; } cases[] = {
        {0, 1.0, 7, 7},      // sigma 1 with radius 0
        {2, 2.0 / 3, 5, 5},  // BlurBrush(id, 2)
        {0, 0.5, 3, -2},     // the edge kernel's width
        {3, 1.0, 7, 7},
        {0.2, 1.0, 3, 3},    // ceil of the radius
        {0, 0.0, 1, -2},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.radius);
        EXPECT_EQ(KernelWidth1D(c.radius, c.sigma), c.oneD);
        if (c.twoD != -2) {
            EXPECT_EQ(KernelWidth2D(c.radius, c.sigma), c.twoD);
        }
    }
    EXPECT_EQ(KernelWidth1D(1e300, 1), -1);  // does not fit an int
}

TEST(Convolve, BlurMatchesReferenceAndClearsAlpha) {
    struct Case { double radius, sigma; int taps; double kernelSigma; } cases[] = {
        {0, 123.0, 7, 1.0},        // radius 0: sigma becomes 1 whatever is given
        {2, 2.0 / 3, 5, 2.0 / 3},  // BlurBrush(id, 2): 5 taps, sigma 2/3
        {5, 5.0 / 3, 11, 5.0 / 3},
    };
    const int w = 13, h = 9;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.radius);
        std::vector<uint32_t> src = RandomPixels(w * h, 7);
        Picture pic(w, h, src);
        ASSERT_EQ(ConvolveImage(CONVOLVE_BLUR, pic.rgb, nullptr, w, h, c.radius, c.sigma, nullptr), 0);
        auto k = ReferenceBlurKernel(c.taps, c.kernelSigma);
        double *made = MakeBlurKernel(c.taps, c.kernelSigma);
        for (int i = 0; i < c.taps; i++) EXPECT_DOUBLE_EQ(made[i], k[size_t(i)]);
        FreeMemory(made);
        auto out = pic.Read();
        for (int shift : {0, 8, 16}) EXPECT_EQ(Channel(out, shift), ReferenceBlur(Channel(src, shift), w, h, k));
        for (uint32_t p : out) ASSERT_EQ(p >> 24, 0u);
    }
}

// Pictures of the kinds that decide the fixed-point rows: noise, flat stretches
// (whose double sums sit on a byte edge), slow ramps (many sums near an edge),
// widths that are not a multiple of eight and narrower than the kernel.
std::vector<uint32_t> PatternPixels(int kind, int w, int h, unsigned seed) {
    std::vector<uint32_t> px = RandomPixels(w * h, seed);
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            uint32_t &p = px[size_t(y) * w + x];
            if (kind == 1) p = (x < w / 2 ? 0x00FFFFFFu : 0x00808080u) | 0xFF000000u;      // two flat halves
            if (kind == 2) p = uint32_t(((x * 7 + y * 3) & 0xFF) * 0x010101u) | 0xFF000000u;  // ramps
            if (kind == 3 && (x + y) % 5) p = 0xFF3C3C3Cu | (p & 0x0F0F0Fu);                    // flat with specks
        }
    return px;
}

TEST(Convolve, BlurMatchesReferenceAcrossSizesAndPictures) {
    struct Case { int w, h; double radius, sigma; int taps; double kernelSigma; } cases[] = {
        {1, 1, 0, 1.0, 7, 1.0},   {2, 3, 0, 1.0, 7, 1.0},     {5, 4, 0, 1.0, 7, 1.0},
        {37, 11, 0, 1.0, 7, 1.0}, {64, 9, 0, 1.0, 7, 1.0},    {67, 13, 5, 5.0 / 3, 11, 5.0 / 3},
        {41, 7, 2, 2.0 / 3, 5, 2.0 / 3}, {29, 10, 1, 1.0 / 3, 3, 1.0 / 3}, {33, 8, 4, 4.0 / 3, 9, 4.0 / 3},
        {19, 6, 6, 2.0, 13, 2.0},
    };
    for (const auto &c : cases)
        for (int kind = 0; kind < 4; kind++) {
            SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << " taps " << c.taps << " picture " << kind);
            std::vector<uint32_t> src = PatternPixels(kind, c.w, c.h, unsigned(c.w * 13 + kind));
            std::vector<uint8_t> green(src.size());
            for (size_t i = 0; i < src.size(); i++) green[i] = uint8_t(src[i] >> 8);
            Picture pic(c.w, c.h, src);
            Plane plane(c.w, c.h, green);
            auto k = ReferenceBlurKernel(c.taps, c.kernelSigma);
            // Repeated passes over the same picture walk flat stretches down the byte edges.
            std::vector<int> want[3] = {Channel(src, 0), Channel(src, 8), Channel(src, 16)};
            for (int round = 0; round < 3; round++) {
                ASSERT_EQ(ConvolveImage(CONVOLVE_BLUR, pic.rgb, plane.handle, c.w, c.h, c.radius, c.sigma, nullptr), 0);
                for (auto &ch : want) ch = ReferenceBlur(ch, c.w, c.h, k);
                auto out = pic.Read();
                for (int s = 0; s < 3; s++) ASSERT_EQ(Channel(out, 8 * s), want[s]) << "round " << round;
                auto p = plane.Read();
                ASSERT_EQ(std::vector<int>(p.begin(), p.end()), want[1]) << "round " << round;
                for (uint32_t px : out) ASSERT_EQ(px >> 24, 0u);
            }
        }
}

TEST(Convolve, PlanePassMatchesColourPass) {
    const int w = 11, h = 6;
    std::vector<uint32_t> src = RandomPixels(w * h, 3);
    std::vector<uint8_t> blue(src.size());
    for (size_t i = 0; i < src.size(); i++) blue[i] = uint8_t(src[i]);
    Picture pic(w, h, src);
    Plane alpha(w, h, blue);
    for (int kind : {CONVOLVE_BLUR, CONVOLVE_SHARPEN, CONVOLVE_EMBOSS, CONVOLVE_EDGE}) {
        SCOPED_TRACE(kind);
        pic.Write(src);
        alpha.Write(blue);
        ASSERT_EQ(ConvolveImage(kind, pic.rgb, alpha.handle, w, h, 1, 1, nullptr), 0);
        auto out = pic.Read();
        auto plane = alpha.Read();
        for (size_t i = 0; i < out.size(); i++) ASSERT_EQ(out[i] & 0xFF, plane[i]) << i;
        for (uint32_t p : out) ASSERT_EQ(p >> 24, 0u);  // alpha byte 0 after a colour pass
    }
}

TEST(Convolve, EdgeOfFlatPictureIsBlack) {
    double *k = MakeSquareKernel(CONVOLVE_EDGE, 3, 0.5);
    for (int i = 0; i < 9; i++) EXPECT_EQ(k[i], i == 4 ? 8.0 : -1.0);
    FreeMemory(k);
    Picture pic(8, 8, 0xFF336699u);
    ASSERT_EQ(ConvolveImage(CONVOLVE_EDGE, pic.rgb, nullptr, 8, 8, 0, 0, nullptr), 0);
    for (uint32_t p : pic.Read()) ASSERT_EQ(p, 0u);
}

TEST(Convolve, EdgeMatchesHandSum) {
    // One bright pixel: 8 x 90 at the centre (clamped to 255), -90 around it (0).
    std::vector<uint32_t> src(25, 0);
    src[12] = 0x005A5A5A;
    Picture pic(5, 5, src);
    ASSERT_EQ(ConvolveImage(CONVOLVE_EDGE, pic.rgb, nullptr, 5, 5, 0, 0, nullptr), 0);
    auto out = pic.Read();
    for (int i = 0; i < 25; i++) EXPECT_EQ(out[size_t(i)], i == 12 ? 0x00FFFFFFu : 0u) << i;
    // A dimmer one: 8 x 20 = 160 stays.
    src[12] = 0x00141414;
    pic.Write(src);
    ConvolveImage(CONVOLVE_EDGE, pic.rgb, nullptr, 5, 5, 0, 0, nullptr);
    EXPECT_EQ(pic.At(2, 2), 0x00A0A0A0u);
}

TEST(Convolve, KernelWiderThanPictureLeavesItOnlyForTwoDimensionalKinds) {
    std::vector<uint32_t> src = RandomPixels(36, 11);
    Picture pic(6, 6, src);
    ASSERT_EQ(ConvolveImage(CONVOLVE_EMBOSS, pic.rgb, nullptr, 6, 6, 3, 1, nullptr), 0);  // 7 x 7 on 6 x 6
    EXPECT_EQ(pic.Read(), src);
    ASSERT_EQ(ConvolveImage(CONVOLVE_BLUR, pic.rgb, nullptr, 6, 6, 3, 1, nullptr), 0);
    EXPECT_NE(pic.Read(), src);
}

TEST(Convolve, SigmaZeroWithRadiusDoesNothing) {
    std::vector<uint32_t> src = RandomPixels(49, 5);
    Picture pic(7, 7, src);
    ASSERT_EQ(ConvolveImage(CONVOLVE_BLUR, pic.rgb, nullptr, 7, 7, 5, 0, nullptr), 0);
    EXPECT_EQ(pic.Read(), src);
}

TEST(Convolve, SharpenAndEmbossKernelsSumToOne) {
    for (int kind : {CONVOLVE_SHARPEN, CONVOLVE_EMBOSS}) {
        double *k = MakeSquareKernel(kind, 7, 1.0);
        double s = 0;
        for (int i = 0; i < 49; i++) s += k[i];
        EXPECT_NEAR(s, 1.0, 1e-12);
        // Emboss: only the anti-diagonal, positive at the centre, negative elsewhere.
        if (kind == CONVOLVE_EMBOSS)
            for (int v = 0; v < 7; v++)
                for (int u = 0; u < 7; u++) {
                    double e = k[v * 7 + u];
                    if (u + v != 6) EXPECT_EQ(e, 0.0);
                    else if (u == 3) EXPECT_GT(e, 0.0);
                    else EXPECT_LT(e, 0.0);
                }
        FreeMemory(k);
    }
    // Sharpening a flat picture keeps it.
    Picture pic(9, 9, 0x00406080u);
    ConvolveImage(CONVOLVE_SHARPEN, pic.rgb, nullptr, 9, 9, 0, 1, nullptr);
    for (uint32_t p : pic.Read()) EXPECT_NEAR(double(p & 0xFF), 0x80, 1);
}

TEST(Convolve, MemoryShortageIsReportedAndChangesNothing) {
    std::vector<uint32_t> src = RandomPixels(64, 9);
    std::vector<uint8_t> bytes(64);
    for (int i = 0; i < 64; i++) bytes[size_t(i)] = uint8_t(i * 3);
    for (int kind : {CONVOLVE_BLUR, CONVOLVE_SHARPEN}) {
        Picture pic(8, 8, src);
        Plane alpha(8, 8, bytes);
        int failures = 0;
        for (int n = 0;; n++) {
            pic.Write(src);
            alpha.Write(bytes);
            FailAllocMemoryAfter(n);
            int rc = ConvolveImage(kind, pic.rgb, nullptr, 8, 8, 1, 1, nullptr);
            int rc2 = rc ? rc : ConvolveImage(kind, nullptr, alpha.handle, 8, 8, 1, 1, nullptr);
            FailAllocMemoryAfter(-1);
            if (rc == 0 && rc2 == 0) break;
            failures++;
            ASSERT_EQ(rc ? rc : rc2, ERR_MEM);
            if (rc) {
                EXPECT_EQ(pic.Read(), src);
            } else {
                EXPECT_EQ(alpha.Read(), bytes);
            }
            ASSERT_LT(n, 20);
        }
        EXPECT_GE(failures, 2);
    }
    // A radius whose kernel width cannot be an int fails the same way.
    Picture pic(4, 4, src);
    EXPECT_EQ(ConvolveImage(CONVOLVE_BLUR, pic.rgb, nullptr, 4, 4, 1e300, 1, nullptr), ERR_MEM);
    EXPECT_EQ(ConvolveImage(CONVOLVE_BLUR, pic.rgb, nullptr, 4, 4, HUGE_VAL, 1, nullptr), ERR_MEM);
}

TEST(ShadowMask, SizeSilhouetteHardAndSecondPass) {
    std::vector<uint8_t> a(100, 0);
    for (int y = 2; y < 8; y++)
        for (int x = 3; x < 7; x++) a[size_t(y) * 10 + x] = 77;
    Plane alpha(10, 10, a);
    lvBitMapHandle *soft = BuildShadowMask(alpha.handle, nullptr, nullptr, -1, 0, 0, 10, 10, 4, 4.0 / 3, 200, 0, 0);
    ASSERT_NE(soft, nullptr);
    EXPECT_EQ(soft->width, 18);
    EXPECT_EQ(soft->height, 18);
    auto s = Plane::ReadPlane(soft, 18, 18);
    EXPECT_EQ(s[0], 0);                       // far corner stays clear
    EXPECT_GT(s[size_t(9) * 18 + 9], 100);    // the middle of the silhouette
    EXPECT_LT(s[size_t(9) * 18 + 9], 200);    // softened below the opacity
    bool partial = false;
    for (uint8_t v : s) partial |= v > 0 && v < 200;
    EXPECT_TRUE(partial);

    lvBitMapHandle *hard = BuildShadowMask(alpha.handle, nullptr, nullptr, -1, 0, 0, 10, 10, 4, 4.0 / 3, 200, 1, 0);
    auto hb = Plane::ReadPlane(hard, 18, 18);
    for (size_t i = 0; i < hb.size(); i++) ASSERT_EQ(hb[i], s[i] ? 255 : 0) << i;

    lvBitMapHandle *twice = BuildShadowMask(alpha.handle, nullptr, nullptr, -1, 0, 0, 10, 10, 4, 4.0 / 3, 200, 1, 1);
    auto tb = Plane::ReadPlane(twice, 18, 18);
    EXPECT_NE(tb, hb);  // the second blur softens the hard edge again
    bool soft2 = false;
    for (uint8_t v : tb) soft2 |= v > 0 && v < 255;
    EXPECT_TRUE(soft2);
    FreeBitmapHandle(soft);
    FreeBitmapHandle(hard);
    FreeBitmapHandle(twice);
}

TEST(ShadowMask, SilhouetteSources) {
    // Radius 0 with sigma 0 would blur with sigma 1; use a tiny blur-free
    // radius through sigma: a hard mask shows which pixels were drawn.
    std::vector<int> bits(16, 0);
    bits[5] = bits[6] = 1;
    Picture pic(4, 4, 0u);
    Mask mask(pic.rgb, 4, 4, bits);
    std::vector<uint8_t> pens(16, 3);
    pens[0] = 0;
    Plane chunky(4, 4, pens, true);
    struct Case { lvBitMapHandle *mask, *chunky; int expectClearCorner; } cases[] = {
        {mask.handle, nullptr, 1},   // from the mask
        {nullptr, chunky.handle, 1}, // from the pens (pen 0 transparent)
        {nullptr, nullptr, 0},       // a filled rectangle
    };
    for (const auto &c : cases) {
        lvBitMapHandle *m = BuildShadowMask(nullptr, c.mask, c.chunky, 0, 0, 0, 4, 4, 0, 1, 255, 0, 0);
        ASSERT_NE(m, nullptr);
        EXPECT_EQ(m->width, 4);
        auto v = Plane::ReadPlane(m, 4, 4);
        if (c.mask) {
            EXPECT_GT(v[5], v[15]);
        }
        if (c.chunky) {
            EXPECT_LT(v[0], v[10]);
        }
        if (!c.mask && !c.chunky) {
            for (uint8_t b : v) EXPECT_EQ(b, 255);
        }
        FreeBitmapHandle(m);
    }
}

TEST(ShadowMask, MemoryShortageGivesNoMaskAndLeaksNothing) {
    Plane alpha(10, 10, std::vector<uint8_t>(100, 255));
    for (int n = 0; n < 12; n++) {
        FailAllocMemoryAfter(n);
        lvBitMapHandle *m = BuildShadowMask(alpha.handle, nullptr, nullptr, -1, 0, 0, 10, 10, 4, 1, 255, 1, 1);
        FailAllocMemoryAfter(-1);
        if (m) {
            FreeBitmapHandle(m);
            EXPECT_GE(n, 3);
            return;
        }
    }
    FAIL() << "never succeeded";
}

}  // namespace

// images_distort_test.cpp - the distortion engine through DistortImage.
#include <gtest/gtest.h>

#include <cmath>

#include "base/lverrors.h"
#include "effects_fixture.h"
#include "platform/lvplatform.h"

namespace {

void FreeResult(lvDistortResult &r) {
    FreeBitmapHandle(r.rgb);
    FreeBitmapHandle(r.mask);
    FreeBitmapHandle(r.alpha);
    FreeBitmapHandle(r.chunky);
}

std::vector<double> Corners(int w, int h, std::vector<double> dest) {
    const double src[8] = {0, 0, double(w), 0, double(w), double(h), 0, double(h)};
    std::vector<double> v;
    for (int i = 0; i < 4; i++) v.insert(v.end(), {src[2 * i], src[2 * i + 1], dest[size_t(2 * i)], dest[size_t(2 * i + 1)]});
    return v;
}

std::vector<uint32_t> ReadHandle(lvBitMapHandle *h, int w, int hh) {
    std::vector<uint32_t> out(size_t(w) * hh);
    lvScopedLock l(h, LOCK_READONLY);
    for (int y = 0; y < hh; y++)
        for (int x = 0; x < w; x++) out[size_t(y) * w + x] = reinterpret_cast<uint32_t *>(l.lock.pixels)[size_t(y) * l.lock.rowLength + x];
    return out;
}

TEST(Distort, IdentityPerspectiveAddsABorder) {
    const int w = 6, h = 4;
    std::vector<uint32_t> src = RandomPixels(w * h, 31);
    Picture pic(w, h, src);
    auto v = Corners(w, h, {0, 0, double(w), 0, double(w), double(h), 0, double(h)});
    lvDistortResult r{};
    ASSERT_EQ(DistortImage(pic.rgb, nullptr, nullptr, nullptr, w, h, DISTORT_PERSPECTIVE, v.data(), 16, 0, -1, &r), 0);
    EXPECT_EQ(r.width, w + 2);
    EXPECT_EQ(r.height, h + 2);
    EXPECT_EQ(r.x, -1);
    EXPECT_EQ(r.y, -1);
    ASSERT_NE(r.mask, nullptr);  // no mask nor alpha, smoothing off: a mask
    EXPECT_EQ(r.alpha, nullptr);
    auto out = ReadHandle(r.rgb, r.width, r.height);
    auto bits = Mask::ReadBits(r.mask, r.width, r.height);
    for (int y = 0; y < r.height; y++)
        for (int x = 0; x < r.width; x++) {
            bool inside = x >= 1 && y >= 1 && x <= w && y <= h;
            size_t i = size_t(y) * r.width + x;
            EXPECT_EQ(out[i], inside ? src[size_t(y - 1) * w + (x - 1)] : 0u) << x << "," << y;
            EXPECT_EQ(bits[i], inside ? 1 : 0) << x << "," << y;
        }
    FreeResult(r);
}

TEST(Distort, ParameterErrorsBeforeAnything) {
    Picture pic(8, 8, 0xFF808080u);
    lvDistortResult r{};
    struct Case { int kind; std::vector<double> v; } cases[] = {
        {DISTORT_ARC, {0}},
        {DISTORT_ARC, {90, 0, 0}},                 // top radius 0
        {DISTORT_POLAR, {10, 2, 4}},               // three values
        {DISTORT_POLAR, {5, 6}},                   // inner beyond outer
        {DISTORT_BARREL, {0, 0, 0, 1, 4, 4, 1}},   // seven values
        {DISTORT_BARREL, {0, 0}},
        {DISTORT_PERSPECTIVE, Corners(8, 8, {0, 0, 0, 0, 0, 0, 0, 0})},  // unsolvable
        {DISTORT_PERSPECTIVE, {0, 0, 1, 1}},       // the affine fallback is not offered
        {DISTORT_PERSPECTIVE, Corners(8, 8, {0, 0, 1e12, 0, 1e12, 1e12, 0, 1e12})},  // size beyond an int
        {DISTORT_BARREL, {std::nan(""), 0, 0}},
        {7, {1, 2, 3}},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.kind);
        FailAllocMemoryAfter(0);  // nothing may be allocated before the check
        EXPECT_EQ(DistortImage(pic.rgb, nullptr, nullptr, nullptr, 8, 8, c.kind, c.v.data(), int(c.v.size()), 0, -1, &r),
                  ERR_WRONGUSAGE);
        FailAllocMemoryAfter(-1);
    }
}

TEST(Distort, BarrelZeroKeepsThePicture) {
    std::vector<uint32_t> src = RandomPixels(48, 33);
    Picture pic(8, 6, src);
    double v[3] = {0, 0, 0};
    lvDistortResult r{};
    ASSERT_EQ(DistortImage(pic.rgb, nullptr, nullptr, nullptr, 8, 6, DISTORT_BARREL, v, 3, 0, -1, &r), 0);
    EXPECT_EQ(r.width, 8);
    EXPECT_EQ(r.height, 6);
    EXPECT_EQ(ReadHandle(r.rgb, 8, 6), src);
    for (int b : Mask::ReadBits(r.mask, 8, 6)) EXPECT_EQ(b, 1);
    FreeResult(r);
}

TEST(Distort, SmoothingGivesAlphaAndCoversWithBlends) {
    Picture pic(8, 8, 0xFF4080C0u);
    double v[1] = {90};
    lvDistortResult plain{}, smooth{};
    ASSERT_EQ(DistortImage(pic.rgb, nullptr, nullptr, nullptr, 8, 8, DISTORT_ARC, v, 1, 0, -1, &plain), 0);
    ASSERT_EQ(DistortImage(pic.rgb, nullptr, nullptr, nullptr, 8, 8, DISTORT_ARC, v, 1, 1, -1, &smooth), 0);
    EXPECT_NE(plain.mask, nullptr);
    EXPECT_EQ(plain.alpha, nullptr);
    EXPECT_EQ(smooth.mask, nullptr);
    ASSERT_NE(smooth.alpha, nullptr);
    EXPECT_EQ(plain.width, smooth.width);
    auto bits = Mask::ReadBits(plain.mask, plain.width, plain.height);
    auto a = Plane::ReadPlane(smooth.alpha, smooth.width, smooth.height);
    auto colours = ReadHandle(plain.rgb, plain.width, plain.height);
    int set = 0, clear = 0, partial = 0;
    for (size_t i = 0; i < bits.size(); i++) {
        (bits[i] ? set : clear)++;
        EXPECT_EQ(colours[i], bits[i] ? 0xFF4080C0u : 0u);
        partial += a[i] > 0 && a[i] < 255;
    }
    EXPECT_GT(set, 0);
    EXPECT_GT(clear, 0);  // the uncovered area is clear
    EXPECT_GT(partial, 0); // smoothed edges
    FreeResult(plain);
    FreeResult(smooth);
}

TEST(Distort, PenPlaneOutsideIsTransparentPen) {
    std::vector<uint8_t> pens(64, 5);
    Plane chunky(8, 8, pens, true);
    double v[4] = {90, 0, 20, 10};
    for (int pen : {3, -1}) {
        lvDistortResult r{};
        ASSERT_EQ(DistortImage(nullptr, nullptr, nullptr, chunky.handle, 8, 8, DISTORT_ARC, v, 4, 1, pen, &r), 0);
        ASSERT_NE(r.chunky, nullptr);
        EXPECT_EQ(r.rgb, nullptr);
        auto out = Plane::ReadPlane(r.chunky, r.width, r.height);
        int inside = 0, outside = 0;
        for (uint8_t p : out) {
            EXPECT_TRUE(p == 5 || p == (pen < 0 ? 0 : pen)) << int(p);  // smoothing ignored: no blends
            (p == 5 ? inside : outside)++;
        }
        EXPECT_GT(inside, 0);
        EXPECT_GT(outside, 0);
        FreeResult(r);
    }
}

TEST(Distort, PolarAndHorizonStaySound) {
    std::vector<uint32_t> src = RandomPixels(100, 35);
    Picture pic(10, 10, src);
    lvDistortResult r{};
    double polar[2] = {-1, 0};  // outer radius -1: to the farthest corner
    ASSERT_EQ(DistortImage(pic.rgb, nullptr, nullptr, nullptr, 10, 10, DISTORT_POLAR, polar, 2, 1, -1, &r), 0);
    EXPECT_EQ(r.width, r.height);
    FreeResult(r);
    // A strong perspective puts a horizon band through the result: pixels on
    // it are invalid, not converted from infinities.
    auto v = Corners(10, 10, {0, 0, 10, 4, 10, 6, 0, 10});
    for (int smooth : {0, 1}) {
        ASSERT_EQ(DistortImage(pic.rgb, nullptr, nullptr, nullptr, 10, 10, DISTORT_PERSPECTIVE, v.data(), 16, smooth, -1, &r), 0);
        EXPECT_GT(r.width, 0);
        FreeResult(r);
    }
    lvDistortJob job{};
    job.kind = DISTORT_PERSPECTIVE;
    job.valueCount = 16;
    job.values = v.data();
    job.sourceWidth = job.sourceHeight = 10;
    ASSERT_EQ(ComputeDistortGeometry(&job), 0);
    EXPECT_EQ(job.coefficients[8], 1.0);
}

TEST(Distort, AllocationFailuresLeakNothing) {
    Picture pic(6, 6, 0xFF102030u);
    Plane alpha(6, 6, std::vector<uint8_t>(36, 128));
    double v[1] = {120};
    for (int smooth : {0, 1}) {
        int failures = 0;
        for (int n = 0;; n++) {
            lvDistortResult r{};
            FailAllocMemoryAfter(n);
            int rc = DistortImage(pic.rgb, nullptr, alpha.handle, nullptr, 6, 6, DISTORT_ARC, v, 1, smooth, -1, &r);
            FailAllocMemoryAfter(-1);
            if (rc == 0) {
                FreeResult(r);
                break;
            }
            failures++;
            EXPECT_TRUE(rc == ERR_BITMAP || rc == ERR_ALLOCALPHA || rc == ERR_MEM) << rc;
            EXPECT_EQ(r.rgb, nullptr);
            ASSERT_LT(n, 20);
        }
        EXPECT_GE(failures, 2);
    }
}

}  // namespace

namespace {

// Odd parameters of every kind: an error or a result, never a crash, a NaN
// converted to an integer or a leak (run under the sanitizers).
TEST(Distort, OddParametersAreSound) {
    Picture pic(6, 5, 0xFF336699u);
    Plane alpha(6, 5, std::vector<uint8_t>(30, 200));
    const double odd[] = {0, -1, 1e-7, 0.5, 3, 90, 359, 1e300, -1e300, 6, 2.5, -30};
    std::mt19937 rng(5);
    const int kinds[] = {DISTORT_PERSPECTIVE, DISTORT_ARC, DISTORT_POLAR, DISTORT_BARREL};
    int made = 0, refused = 0;
    for (int round = 0; round < 300; round++) {
        int kind = kinds[rng() % 4];
        int count = int(rng() % 17);
        std::vector<double> v(size_t(count) + 1);
        for (double &x : v) x = odd[rng() % (sizeof odd / sizeof odd[0])];
        lvDistortResult r{};
        FailAllocMemoryAfter(200);  // keeps enormous results from being had
        int rc = DistortImage(pic.rgb, nullptr, round % 2 ? alpha.handle : nullptr, nullptr, 6, 5, kind, v.data(), count,
                              round % 3 == 0, -1, &r);
        FailAllocMemoryAfter(-1);
        if (rc == 0) {
            made++;
            EXPECT_GT(r.width, 0);
            EXPECT_GT(r.height, 0);
            FreeResult(r);
        } else {
            refused++;
            EXPECT_TRUE(rc == ERR_WRONGUSAGE || rc == ERR_BITMAP || rc == ERR_ALLOCMASK || rc == ERR_ALLOCALPHA ||
                        rc == ERR_MEM) << rc;
        }
    }
    EXPECT_GT(made, 20);
    EXPECT_GT(refused, 20);
}

}  // namespace

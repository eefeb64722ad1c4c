// images_filterchain_test.cpp - the style filter chain running the real
// effects: order by priority and slot, palette pictures, the geometric-only
// pass, the transparency and the modulate filter's percentages.
#include <gtest/gtest.h>

#include "base/lverrors.h"
#include "platform/lvplatform.h"
#include "effects_fixture.h"
#include "raster/lvfilterchain.h"
#include "raster/lvplanes.h"

namespace {

class FilterChain : public ::testing::Test {
protected:
    void SetUp() override { InstallImageEffects(); }
    void TearDown() override { SetEffectServices(nullptr); }
    lvFilterSlot slots[FILTER_COUNT] = {};
    void Enable(int slot, int priority, std::initializer_list<int> ints = {}, std::initializer_list<float> floats = {}) {
        slots[slot].enabled = 1;
        slots[slot].priority = uint8_t(priority);
        int i = 0;
        for (int v : ints) slots[slot].ints[i++] = v;
        i = 0;
        for (float v : floats) slots[slot].floats[i++] = v;
    }
};

enum { BLUR = 0, GRAYSCALE = 6, INVERT = 7, MODULATE = 8 };

TEST_F(FilterChain, HigherPriorityFirst) {
    std::vector<uint32_t> src = RandomPixels(64, 41);
    Picture pic(8, 8, src), want(8, 8, src), other(8, 8, src);
    Enable(BLUR, 0, {}, {2.0f});
    Enable(INVERT, 10);
    ApplyFilterChain(slots, pic.rgb, nullptr, nullptr, nullptr, nullptr, 8, 8, 0);
    InvertImage(want.rgb, 8, 8);
    ConvolveImage('b', want.rgb, nullptr, 8, 8, 2.0, 2.0 / 3, nullptr);
    EXPECT_EQ(pic.Read(), want.Read());
    ConvolveImage('b', other.rgb, nullptr, 8, 8, 2.0, 2.0 / 3, nullptr);
    InvertImage(other.rgb, 8, 8);
    EXPECT_NE(pic.Read(), other.Read());  // the order shows in the truncations
}

TEST_F(FilterChain, EqualPriorityInSlotOrder) {
    std::vector<uint32_t> src = RandomPixels(16, 43);
    Picture pic(4, 4, src), want(4, 4, src);
    Enable(FILTER_TINT, 5, {0xFF0000, 128});
    Enable(GRAYSCALE, 5);
    ApplyFilterChain(slots, pic.rgb, nullptr, nullptr, nullptr, nullptr, 4, 4, 0);
    GrayImage(want.rgb, 4, 4);
    TintBitmapRect(want.rgb, 0, 0, 4, 4, 0xFF0000, 128);
    EXPECT_EQ(pic.Read(), want.Read());
    for (uint32_t p : pic.Read()) EXPECT_NE((p >> 16) & 0xFF, p & 0xFF);  // tinted after the gray
}

TEST_F(FilterChain, PalettePictureChangesPensNotPixels) {
    std::vector<uint8_t> pens(16);
    for (int i = 0; i < 16; i++) pens[size_t(i)] = uint8_t(i % 3);
    Plane chunky(4, 4, pens, true);
    uint32_t palette[256];
    for (int i = 0; i < 256; i++) palette[i] = uint32_t(i) * 0x010203u;
    Enable(BLUR, 0, {}, {3.0f});
    Enable(INVERT, 0);
    ApplyFilterChain(slots, nullptr, nullptr, nullptr, chunky.handle, palette, 4, 4, 0);
    EXPECT_EQ(chunky.Read(), pens);
    for (int i = 0; i < 256; i++) ASSERT_EQ(palette[i], ~(uint32_t(i) * 0x010203u)) << i;
}

TEST_F(FilterChain, GeometricOnly) {
    std::vector<uint32_t> src = {0xFF000001u, 0xFF000002u, 0xFF000003u};
    Picture pic(3, 1, src);
    Enable(FILTER_TINT, 0, {0xFFFFFF, 255});
    Enable(FILTER_XFLIP, 0);
    ApplyFilterChain(slots, pic.rgb, nullptr, nullptr, nullptr, nullptr, 3, 1, 1);
    EXPECT_EQ(pic.Read(), (std::vector<uint32_t>{0xFF000003u, 0xFF000002u, 0xFF000001u}));
}

TEST_F(FilterChain, DefaultModulateLeavesThePicture) {
    std::vector<uint32_t> src = RandomPixels(16, 47, 0);
    Picture pic(4, 4, src);
    Enable(MODULATE, 0, {}, {100, 100, 100});
    ApplyFilterChain(slots, pic.rgb, nullptr, nullptr, nullptr, nullptr, 4, 4, 0);
    EXPECT_EQ(pic.Read(), src);
    Enable(MODULATE, 0, {}, {50, 100, 100});  // half the lightness
    ApplyFilterChain(slots, pic.rgb, nullptr, nullptr, nullptr, nullptr, 4, 4, 0);
    auto out = pic.Read();
    for (size_t i = 0; i < src.size(); i++) {
        int mx = std::max({int(src[i] >> 16 & 0xFF), int(src[i] >> 8 & 0xFF), int(src[i] & 0xFF)});
        int mo = std::max({int(out[i] >> 16 & 0xFF), int(out[i] >> 8 & 0xFF), int(out[i] & 0xFF)});
        EXPECT_LE(mo, mx);
    }
}

TEST_F(FilterChain, StyleTransparencyMakesAlphaFromMask) {
    Picture pic(4, 2, 0xFF00FF00u);
    std::vector<int> bits = {1, 0, 1, 0, 0, 1, 0, 1};
    lvBitMapHandle *mask = AllocMaskBitmap(pic.rgb, 4, 2, 1, nullptr, 0);
    {
        Mask m(pic.rgb, 4, 2, bits);
        CombineMasks(m.handle, 0, 0, mask, 0, 0, 4, 2, 2, nullptr, 0);
    }
    lvBitMapHandle *alpha = nullptr;
    lvStyleTags style{};
    style.transparency = 64;
    ApplyStyleFilters(&style, pic.rgb, &mask, &alpha, nullptr, nullptr, 4, 2);
    EXPECT_EQ(mask, nullptr);
    ASSERT_NE(alpha, nullptr);
    auto a = Plane::ReadPlane(alpha, 4, 2);
    for (size_t i = 0; i < a.size(); i++) EXPECT_EQ(a[i], bits[i] ? 191 : 0) << i;
    // No mask: an alpha channel of 191 throughout; an existing one is scaled.
    lvBitMapHandle *none = nullptr, *made = nullptr;
    ASSERT_EQ(ApplyTransparencyToAlpha(&made, &none, 4, 2, 191), 0);
    for (uint8_t v : Plane::ReadPlane(made, 4, 2)) EXPECT_EQ(v, 191);
    ASSERT_EQ(ApplyTransparencyToAlpha(&made, &none, 4, 2, 128), 0);
    for (uint8_t v : Plane::ReadPlane(made, 4, 2)) EXPECT_EQ(v, 191 * 128 / 255);
    FreeBitmapHandle(made);
    FreeBitmapHandle(alpha);
}

TEST_F(FilterChain, WithoutEffectsNothingRunsButGeometry) {
    SetEffectServices(nullptr);
    std::vector<uint32_t> src = {0xFF000001u, 0xFF000002u};
    Picture pic(2, 1, src);
    Enable(INVERT, 3);
    Enable(FILTER_XFLIP, 0);
    ApplyFilterChain(slots, pic.rgb, nullptr, nullptr, nullptr, nullptr, 2, 1, 0);
    EXPECT_EQ(pic.Read(), (std::vector<uint32_t>{0xFF000002u, 0xFF000001u}));
}

}  // namespace

namespace {

TEST(Transparency, AlphaThatCannotBeMadeKeepsTheMask) {
    Picture pic(4, 2, 0xFF00FF00u);
    lvBitMapHandle *mask = AllocMaskBitmap(pic.rgb, 4, 2, 1, nullptr, 0), *alpha = nullptr;
    FailAllocMemoryAfter(0);
    int rc = ApplyTransparencyToAlpha(&alpha, &mask, 4, 2, 191);
    FailAllocMemoryAfter(-1);
    EXPECT_EQ(rc, ERR_ALLOCALPHA);
    EXPECT_NE(mask, nullptr);
    EXPECT_EQ(alpha, nullptr);
    FreeBitmapHandle(mask);
}

}  // namespace

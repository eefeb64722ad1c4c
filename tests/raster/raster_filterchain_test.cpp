// raster_filterchain_test.cpp - what the filter chain hands each effect, in
// which order, through a recording effect table.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "raster/lvfilterchain.h"

namespace {

std::vector<std::string> calls;
lvBitMapHandle *seenColour = nullptr;

std::string Num(double v) {
    char b[32];
    std::snprintf(b, sizeof b, "%g", v);
    return b;
}

int Convolve(int kind, lvBitMapHandle *, lvBitMapHandle *, int w, int h, double radius, double sigma, lvBitMapLock *) {
    calls.push_back(std::string("convolve ") + char(kind) + " " + Num(w) + "x" + Num(h) + " " + Num(radius) + " " + Num(sigma));
    return 0;
}
int Modulate(lvBitMapHandle *b, int w, int h, double x, double y, double z) {
    seenColour = b;
    calls.push_back("modulate " + Num(w) + "x" + Num(h) + " " + Num(x) + " " + Num(y) + " " + Num(z));
    return 0;
}
int Invert(lvBitMapHandle *b, int w, int h, lvBitMapLock *) {
    seenColour = b;
    calls.push_back("invert " + Num(w) + "x" + Num(h));
    return 1152;  // an error does not stop the chain
}
int Ripple(lvBitMapHandle *, lvBitMapHandle *, lvBitMapHandle *plane, int, int, int a, int b, int c, double x, double y) {
    calls.push_back("ripple " + Num(a) + " " + Num(b) + " " + Num(c) + " " + Num(x) + " " + Num(y) + (plane ? " plane" : ""));
    return 0;
}

class RecordedChain : public ::testing::Test {
protected:
    void SetUp() override {
        calls.clear();
        lvEffectServices s = {};
        s.ConvolveImage = Convolve;
        s.ModulateImage = Modulate;
        s.InvertImage = Invert;
        s.WaterRippleImage = Ripple;
        SetEffectServices(&s);
    }
    void TearDown() override { SetEffectServices(nullptr); }
    lvFilterSlot slots[FILTER_COUNT] = {};
    void Enable(int slot, int priority) {
        slots[slot].enabled = 1;
        slots[slot].priority = uint8_t(priority);
    }
};

TEST_F(RecordedChain, OrderAndArguments) {
    lvBitMapHandle *rgb = AllocRgbBitmap(4, 3, 0, nullptr);
    Enable(0, 0);
    slots[0].floats[0] = 6;
    Enable(7, 10);
    Enable(8, 10);
    slots[8].floats[0] = 100, slots[8].floats[1] = 50, slots[8].floats[2] = 300;
    Enable(3, 200);  // edge
    slots[3].floats[0] = 2;
    Enable(FILTER_WATERRIPPLE, 0);
    slots[FILTER_WATERRIPPLE].ints[0] = 32, slots[FILTER_WATERRIPPLE].ints[1] = 1, slots[FILTER_WATERRIPPLE].ints[2] = 7;
    slots[FILTER_WATERRIPPLE].floats[0] = 0.25f, slots[FILTER_WATERRIPPLE].floats[1] = 0.75f;
    ApplyFilterChain(slots, rgb, nullptr, nullptr, nullptr, nullptr, 4, 3, 0);
    EXPECT_EQ(calls, (std::vector<std::string>{"convolve g 4x3 2 0", "invert 4x3", "modulate 4x3 1 0.5 3",
                                               "convolve b 4x3 6 2", "ripple 32 1 7 0.25 0.75"}));
    FreeBitmapHandle(rgb);
}

TEST_F(RecordedChain, PalettePictureWorksOnPensWrapper) {
    lvBitMapHandle *chunky = AllocChunkyBitmap(4, 3, 1);
    uint32_t palette[256] = {};
    Enable(0, 0);
    Enable(7, 0);
    Enable(FILTER_WATERRIPPLE, 0);
    ApplyFilterChain(slots, nullptr, nullptr, nullptr, chunky, palette, 4, 3, 0);
    EXPECT_EQ(calls, (std::vector<std::string>{"invert 256x1", "ripple 0 0 0 0 0 plane"}));
    // No palette: nothing can be wrapped, nothing runs.
    calls.clear();
    ApplyFilterChain(slots, nullptr, nullptr, nullptr, chunky, nullptr, 4, 3, 0);
    EXPECT_TRUE(calls.empty());
    FreeBitmapHandle(chunky);
}

TEST_F(RecordedChain, StyleWithoutFiltersOrWhileLayersKeepStyles) {
    lvBitMapHandle *rgb = AllocRgbBitmap(2, 2, 0, nullptr);
    lvStyleTags style{};
    style.filters[7].enabled = 1;
    lvBitMapHandle *mask = nullptr, *alpha = nullptr;
    ApplyStyleFilters(&style, rgb, &mask, &alpha, nullptr, nullptr, 2, 2);
    EXPECT_EQ(calls, (std::vector<std::string>{"invert 2x2"}));
    EXPECT_EQ(alpha, nullptr);  // no transparency, no alpha
    lvEffectServices s = *GetEffectServices();
    s.DisplayKeepsLayers = [] { return 1; };
    SetEffectServices(&s);
    calls.clear();
    style.transparency = 10;
    ApplyStyleFilters(&style, rgb, &mask, &alpha, nullptr, nullptr, 2, 2);
    EXPECT_TRUE(calls.empty());
    EXPECT_EQ(alpha, nullptr);
    FreeBitmapHandle(rgb);
}

}  // namespace

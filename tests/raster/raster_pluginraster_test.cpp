// The raster services of the plug-in interface table on runtime bitmaps: ARGB
// reads of pen planes with a transparent pen and of RGB with a mask, plane
// sizes, and pixels to pens through a given palette.
#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/lvplatform.h"
#include "raster/lvpluginraster.h"
#include "raster_fakes.h"
#include "runtime/plugin.h"

namespace {

TEST(PluginRaster, ReadArgbOfPensAndMaskedRgb) {
    lvBitMapHandle *pens = AllocChunkyBitmap(3, 2, 1);
    SetByte(pens, 1, 0, 1);
    SetByte(pens, 2, 1, 2);
    uint32_t palette[256] = {0x000000, 0xFF0000, 0x00FF00};
    lvPluginTag tags[] = {{5, 1}, {6, (intptr_t)palette}, {7, 0}, {0, 0}};
    uint32_t *argb = PluginReadArgb(pens, nullptr, nullptr, tags);
    ASSERT_NE(argb, nullptr);
    EXPECT_EQ(argb[0] >> 24, 0u);  // the transparent pen
    EXPECT_EQ(argb[1], 0xFFFF0000u);
    EXPECT_EQ(argb[5], 0xFF00FF00u);
    FreeMemory(argb);
    lvPluginTag noPalette[] = {{5, 1}, {0, 0}};
    EXPECT_EQ(PluginReadArgb(pens, nullptr, nullptr, noPalette), nullptr);
    EXPECT_EQ(GetPluginApi()->graphics->PlaneSize(nullptr, 0), 0);

    lvBitMapHandle *rgb = AllocRgbBitmap(4, 2, 0, nullptr);
    FillRgb(rgb, [](int x, int y) { return uint32_t(x + 10 * y); });
    lvBitMapHandle *mask = MaskFromText({"#.##", "...."});
    lvPluginTag part[] = {{1, 1}, {3, 3}, {4, 1}, {0, 0}};
    argb = PluginReadArgb(rgb, mask, nullptr, part);
    ASSERT_NE(argb, nullptr);
    EXPECT_EQ(argb[0], 1u);            // x 1: mask clear, alpha 0
    EXPECT_EQ(argb[1], 0xFF000002u);   // x 2: set
    FreeMemory(argb);
    for (auto *h : {pens, rgb, mask}) FreeBitmapHandle(h);
}

TEST(PluginRaster, PixelsToPensThroughAGivenPalette) {
    uint32_t pixels[4] = {0xFFFF0000, 0xFF0000FF, 0xFFFE0101, 0xFF0000FE};
    uint32_t palette[256] = {0x0000FF, 0xFF0000};
    uint8_t pens[4] = {9, 9, 9, 9};
    lvPluginPaletteDesc d = {2, 2, 32, nullptr, 1, nullptr, palette, 0};
    ASSERT_EQ(PluginRemapToPalette(pixels, pens, &d, 2, nullptr), 1);
    EXPECT_EQ(pens[0], 1);
    EXPECT_EQ(pens[1], 0);
    EXPECT_EQ(pens[2], 1);
    EXPECT_EQ(pens[3], 0);
    EXPECT_EQ(palette[0], 0x0000FFu);  // kept
    EXPECT_EQ(palette[1], 0xFF0000u);
    d.width = 0;
    EXPECT_EQ(PluginRemapToPalette(pixels, pens, &d, 0, nullptr), 0);
}

}  // namespace

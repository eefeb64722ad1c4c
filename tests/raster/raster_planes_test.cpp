// Plane operations between bitmap handles: mask fills and combinations, pens
// to masks and pens, alpha conversions, tints and mixes, and the choice
// between the display adapter and the native kernels (with lock pairing).
#include <gtest/gtest.h>

#include "platform/lvplatform.h"
#include "raster/lvplanes.h"
#include "raster/lvraster.h"
#include "raster_fakes.h"
#include "base/lverrors.h"

namespace {

struct PlaneOps : testing::Test {
    void SetUp() override { ResetRasterModes(); }
};

TEST_F(PlaneOps, MaskFillsByOperation) {
    lvBitMapHandle *m = MaskFromText({"#..#....#", ".##......"});
    FillMaskRect(m, 1, 0, 7, 2, MASKAND);
    EXPECT_EQ(MaskToText(m), (std::vector<std::string>{"#..#....#", ".##......"}));
    FillMaskRect(m, 1, 0, 7, 2, MASKXOR);
    EXPECT_EQ(MaskToText(m), (std::vector<std::string>{"###.#####", "...#####."}));
    FillMaskRect(m, 0, 1, 9, 1, MASKINVISIBLE);
    EXPECT_EQ(MaskToText(m)[1], ".........");
    PlotBitmapPixel(m, 4, 1, MASKXOR, 1);
    EXPECT_EQ(MaskToText(m)[1], "....#....");
    PlotBitmapPixel(m, 4, 1, MASKXOR, 1);
    EXPECT_EQ(MaskToText(m)[1], ".........");
    EXPECT_EQ(ReadBitmapPixel(m, 0, 0, 1), 1u);
    FreeBitmapHandle(m);
}

TEST_F(PlaneOps, MasksOntoMasksAndFromPens) {
    lvBitMapHandle *src = MaskFromText({"##..##"});
    lvBitMapHandle *dst = MaskFromText({"#.#.#.#."});
    CombineMasks(src, 0, 0, dst, 1, 0, 6, 1, MASKVANILLACOPY, nullptr, 0);
    EXPECT_EQ(MaskToText(dst)[0], "###..##.");
    CombineMasks(src, 0, 0, dst, 0, 0, 6, 1, MASKINVISIBLE, nullptr, 0);
    EXPECT_EQ(MaskToText(dst)[0], "..#...#.");
    // Pens: transparent pen 0 with MASKVANILLACOPY sets exactly the non-zero pens.
    lvBitMapHandle *pens = AllocChunkyBitmap(6, 1, 1);
    SetByte(pens, 1, 0, 3);
    SetByte(pens, 4, 0, 1);
    lvBitMapHandle *m = MaskFromText({"######"});
    MaskFromChunkyPlane(pens, 0, 0, m, 0, 0, 6, 1, MASKVANILLACOPY, 0);
    EXPECT_EQ(MaskToText(m)[0], ".#..#.");
    MaskFromChunkyPlane(pens, 0, 0, m, 0, 0, 6, 1, MASKVISIBLE, -1);  // no transparent pen: a fill
    EXPECT_EQ(MaskToText(m)[0], "######");
    // Alpha bytes: only fully opaque ones count for the blit's test.
    lvBitMapHandle *alpha = AllocAlphaBitmap(6, 1, 1, nullptr, 0);
    SetByte(alpha, 2, 0, 255);
    SetByte(alpha, 3, 0, 254);
    MaskFromBytePlane(alpha, 0, 0, m, 0, 0, 6, 1, MASKVANILLACOPY, 1, 255);
    EXPECT_EQ(MaskToText(m)[0], "..#...");
    FreeBitmapHandle(src);
    FreeBitmapHandle(dst);
    FreeBitmapHandle(pens);
    FreeBitmapHandle(m);
    FreeBitmapHandle(alpha);
}

TEST_F(PlaneOps, AlphaPlanes) {
    lvBitMapHandle *m = MaskFromText({"#.#", ".#."});
    lvBitMapHandle *a = AllocAlphaBitmap(3, 2, 0, nullptr, 0);
    ConvertMaskToAlpha(m, 0, 0, a, 0, 0, 3, 2, 128);
    EXPECT_EQ(ByteAt(a, 0, 0), 128);
    EXPECT_EQ(ByteAt(a, 1, 0), 0);
    EXPECT_EQ(ByteAt(a, 1, 1), 128);
    ScaleAlphaPlane(a, a, 3, 2, 100);
    EXPECT_EQ(ByteAt(a, 0, 0), 50);  // 100 * 128 / 255
    FillBytePlaneRect(a, 1, 0, 2, 1, 9);
    EXPECT_EQ(ByteAt(a, 2, 0), 9);
    EXPECT_EQ(ByteAt(a, 2, 1), 0);
    FillBytePlaneThroughMask(m, 0, 0, a, 0, 0, 3, 2, 77, nullptr, 0);
    EXPECT_EQ(ByteAt(a, 0, 0), 77);
    EXPECT_EQ(ByteAt(a, 1, 0), 9);
    FreeBitmapHandle(m);
    FreeBitmapHandle(a);
}

TEST_F(PlaneOps, ChunkyToChunkyKeepsPixelsOutsideTheMask) {
    lvBitMapHandle *src = AllocChunkyBitmap(4, 1, 1);
    lvBitMapHandle *dst = AllocChunkyBitmap(4, 1, 1);
    for (int x = 0; x < 4; x++) {
        SetByte(src, x, 0, static_cast<uint8_t>(10 + x));
        SetByte(dst, x, 0, 99);
    }
    SetByte(src, 2, 0, 0);
    lvBitMapHandle *mask = MaskFromText({"##.#"});
    lvChunkyToChunky c{};
    c.source = src;
    c.target = dst;
    c.width = 4;
    c.height = 1;
    c.transparentPen = 0;
    c.mask = mask;
    c.paletteMode = PALETTEMODE_PEN;
    BlitChunkyToChunky(&c);
    EXPECT_EQ(ByteAt(dst, 0, 0), 10);
    EXPECT_EQ(ByteAt(dst, 1, 0), 11);
    EXPECT_EQ(ByteAt(dst, 2, 0), 99);  // mask clear (and transparent pen)
    EXPECT_EQ(ByteAt(dst, 3, 0), 13);
    // Into a plane (flag 1): the intensity where the pen is not transparent.
    lvBitMapHandle *plane = AllocAlphaBitmap(4, 1, 1, nullptr, 0);
    c.target = plane;
    c.mask = nullptr;
    c.flags = 1;
    c.intensity = 70;
    BlitChunkyToChunky(&c);
    EXPECT_EQ(ByteAt(plane, 0, 0), 70);
    EXPECT_EQ(ByteAt(plane, 2, 0), 0);
    c.intensity = VANILLACOPY;
    c.transparentPen = -1;
    BlitChunkyToChunky(&c);
    EXPECT_EQ(ByteAt(plane, 2, 0), 255);
    FreeBitmapHandle(src);
    FreeBitmapHandle(dst);
    FreeBitmapHandle(mask);
    FreeBitmapHandle(plane);
}

TEST_F(PlaneOps, RemapToPalettePens) {
    uint32_t palette[256] = {0x000000, 0xFFFFFF, 0xFF0000, 0x0000FF};
    lvBitMapHandle *rgb = AllocRgbBitmap(4, 1, 0, nullptr);
    const uint32_t colours[4] = {0xF01010, 0x0A0AF0, 0xEEEEEE, 0x101010};
    FillRgb(rgb, [&](int x, int) { return colours[x]; });
    lvBitMapHandle *pens = AllocChunkyBitmap(4, 1, 1);
    lvBitMapHandle *alpha = AllocAlphaBitmap(4, 1, 0, nullptr, 0);
    SetByte(alpha, 0, 0, 255);
    SetByte(alpha, 1, 0, 0);
    SetByte(alpha, 2, 0, 255);
    SetByte(alpha, 3, 0, 128);
    SetByte(pens, 1, 0, 3);
    SetByte(pens, 3, 0, 1);  // white under a half-transparent near-black: grey, nearer white? no: 0x878787
    lvRemapBlit r{};
    r.sourceRgb = rgb;
    r.alpha = alpha;
    r.target = pens;
    r.width = 4;
    r.height = 1;
    r.palette = palette;
    r.depth = 2;
    r.transparentPen = -1;
    r.constantPen = -1;
    RemapRgbToChunky(&r);
    EXPECT_EQ(ByteAt(pens, 0, 0), 2);  // red
    EXPECT_EQ(ByteAt(pens, 1, 0), 3);  // alpha 0 keeps the pen
    EXPECT_EQ(ByteAt(pens, 2, 0), 1);  // white
    // Half of 0x101010 over white (pen 1): 0xFF + ((128 * (0x10 - 0xFF)) >> 8) = 0x87 -> white is nearer.
    EXPECT_EQ(ByteAt(pens, 3, 0), 1);
    // Depth 1: only pens 0 and 1 may be written.
    r.alpha = nullptr;
    r.depth = 1;
    RemapRgbToChunky(&r);
    for (int x = 0; x < 4; x++) EXPECT_LE(ByteAt(pens, x, 0), 1) << x;
    FreeBitmapHandle(rgb);
    FreeBitmapHandle(pens);
    FreeBitmapHandle(alpha);
}

TEST_F(PlaneOps, TintAndMix) {
    lvBitMapHandle *rgb = AllocRgbBitmap(3, 1, 0, nullptr);
    FillRgb(rgb, [](int, int) { return 0u; });
    EXPECT_EQ(TintBitmapRect(rgb, 0, 0, 2, 1, 0xFFFFFF, 128), 0);
    EXPECT_EQ(PixelAt(rgb, 0, 0), 0x7F7F7Fu);
    EXPECT_EQ(PixelAt(rgb, 2, 0), 0u);
    EXPECT_EQ(TintBitmapRect(rgb, 0, 0, 3, 1, 0x123456, 255), 0);
    EXPECT_EQ(PixelAt(rgb, 2, 0), 0x123456u);
    EXPECT_EQ(TintBitmapRect(nullptr, 0, 0, 1, 1, 0, 1), ERR_LOCKBMAP);
    lvBitMapHandle *src = AllocRgbBitmap(3, 1, 0, nullptr);
    FillRgb(src, [](int, int) { return 0xFF8000u; });
    FillRgb(rgb, [](int, int) { return 0x203040u; });
    lvBitMapHandle *alpha = AllocAlphaBitmap(3, 1, 1, nullptr, 0);
    SetByte(alpha, 1, 0, 128);
    SetByte(alpha, 2, 0, 255);
    lvMixJob m{};
    m.targetRgb = rgb;
    m.sourceRgb = src;
    m.sourceAlpha = alpha;
    m.width = 3;
    m.height = 1;
    m.ratio = 255;
    EXPECT_EQ(MixImages(&m), 0);
    EXPECT_EQ(PixelAt(rgb, 0, 0), 0x203040u);
    EXPECT_EQ(PixelAt(rgb, 1, 0), 0x8F5820u);
    EXPECT_EQ(PixelAt(rgb, 2, 0), 0xFF8000u);
    FreeBitmapHandle(rgb);
    FreeBitmapHandle(src);
    FreeBitmapHandle(alpha);
}

TEST_F(PlaneOps, MixIntoPens) {
    uint32_t palette[256] = {0x000000, 0xFFFFFF, 0x808080, 0xFF0000};
    lvBitMapHandle *pens = AllocChunkyBitmap(3, 1, 1);  // all pen 0 (black)
    lvBitMapHandle *alpha = AllocAlphaBitmap(3, 1, 1, nullptr, 0);
    SetByte(alpha, 1, 0, 255);
    SetByte(alpha, 2, 0, 128);
    lvMixJob m{};
    m.targetPens = pens;
    m.targetPalette = palette;
    m.targetDepth = 2;
    m.sourceAlpha = alpha;
    m.colourOrPen = 0xFFFFFF;  // white through the alpha
    m.width = 3;
    m.height = 1;
    m.ratio = 255;
    EXPECT_EQ(MixImages(&m), 0);
    EXPECT_EQ(ByteAt(pens, 0, 0), 0);  // alpha 0: the pen stays
    EXPECT_EQ(ByteAt(pens, 1, 0), 1);  // white
    EXPECT_EQ(ByteAt(pens, 2, 0), 2);  // half-way between black and white: the grey pen
    // Half the ratio turns the opaque pixel grey as well.
    SetByte(pens, 1, 0, 0);
    m.ratio = 128;
    EXPECT_EQ(MixImages(&m), 0);
    EXPECT_EQ(ByteAt(pens, 1, 0), 2);
    m.targetPalette = nullptr;
    EXPECT_EQ(MixImages(&m), ERR_WRONGUSAGE);
    FreeBitmapHandle(pens);
    FreeBitmapHandle(alpha);
}

TEST_F(PlaneOps, CopiesWithinOneBitmapScroll) {
    lvBitMapHandle *rgb = AllocRgbBitmap(4, 6, 0, nullptr);
    FillRgb(rgb, [](int x, int y) { return uint32_t(y * 10 + x); });
    CopyBitmapRect(rgb, 0, 0, rgb, 1, 2, 3, 4);  // down and right, overlapping
    for (int y = 0; y < 4; y++)
        for (int x = 0; x < 3; x++) ASSERT_EQ(PixelAt(rgb, x + 1, y + 2), uint32_t(y * 10 + x)) << x << "," << y;
    CopyBitmapRect(rgb, 1, 2, rgb, 0, 0, 3, 4);  // and back up
    EXPECT_EQ(PixelAt(rgb, 0, 0), 0u);
    EXPECT_EQ(PixelAt(rgb, 2, 3), 32u);  // what the first copy put at (3, 5)
    lvBitMapHandle *plane = AllocAlphaBitmap(2, 5, 0, nullptr, 0);
    for (int y = 0; y < 5; y++) SetByte(plane, 0, y, static_cast<uint8_t>(y + 1));
    CombineBytePlanes(plane, 0, 0, plane, 0, 1, 1, 4, 0, 0);
    for (int y = 0; y < 4; y++) EXPECT_EQ(ByteAt(plane, 0, y + 1), y + 1);
    FreeBitmapHandle(rgb);
    FreeBitmapHandle(plane);
}

TEST_F(PlaneOps, ArgbReadsAndWrites) {
    lvBitMapHandle *rgb = AllocRgbBitmap(3, 2, 0, nullptr);
    FillRgb(rgb, [](int x, int y) { return 0xAA000000u | uint32_t(x * 16 + y); });
    lvBitMapHandle *mask = MaskFromText({"#..", ".#."});
    uint32_t *argb = ReadBitmapArgbWithMask(rgb, mask, nullptr, 3, 2);
    ASSERT_TRUE(argb);
    EXPECT_EQ(argb[0], 0xFF000000u);
    EXPECT_EQ(argb[1], 0x00000010u);
    EXPECT_EQ(argb[4], 0xFF000011u);
    uint32_t *part = ReadBitmapRectArgb(rgb, 1, 1, 2, 1, 0);
    EXPECT_EQ(part[0], 0xAA000011u);
    const uint32_t row[2] = {0x11223344, 0x55667788};
    WriteArgbToBitmap(row, 0, 0, 8, rgb, 1, 0, 2, 1);
    EXPECT_EQ(PixelAt(rgb, 2, 0), 0x55667788u);
    FreeMemory(argb);
    FreeMemory(part);
    FreeBitmapHandle(rgb);
    FreeBitmapHandle(mask);
}

TEST_F(PlaneOps, RectanglesPastTheBitmapsAreCut) {
    // Callers clip; these do not, and nothing outside the bitmaps is touched
    // (ASan watches), while what lies inside is drawn.
    lvBitMapHandle *src = AllocRgbBitmap(4, 4, 0, nullptr);
    lvBitMapHandle *dst = AllocRgbBitmap(5, 3, 0, nullptr);
    lvBitMapHandle *mask = MaskFromText({"####", "####", "####", "####"});
    lvBitMapHandle *alpha = AllocAlphaBitmap(4, 4, 0, nullptr, 0);
    lvBitMapHandle *pens = AllocChunkyBitmap(4, 4, 1);
    FillBytePlaneRect(alpha, -2, -2, 100, 100, 255);
    FillRgb(src, [](int x, int y) { return uint32_t(x + 10 * y); });
    FillRgb(dst, [](int, int) { return 0xEEu; });
    CopyBitmapRect(src, 0, 0, dst, 3, -1, 10, 10);
    EXPECT_EQ(PixelAt(dst, 3, 0), 10u);  // source row 1 lands on target row 0
    EXPECT_EQ(PixelAt(dst, 4, 2), 31u);
    CopyBitmapRectMasked(src, -1, 0, dst, 0, 0, 10, 10, mask);
    EXPECT_EQ(PixelAt(dst, 0, 0), 0xEEu);  // source x -1 is cut away
    EXPECT_EQ(PixelAt(dst, 1, 0), 0u);
    BlendBitmapRect(src, 2, 2, dst, 0, 0, 9, 9, alpha);
    EXPECT_EQ(PixelAt(dst, 1, 1), 33u);
    FillBitmapRect(dst, -3, 2, 100, 100, 7);
    EXPECT_EQ(PixelAt(dst, 4, 2), 7u);
    PlotBitmapPixel(dst, 5, 0, 1, 0);
    PlotBitmapPixel(mask, -1, 0, MASKXOR, 1);
    EXPECT_EQ(ReadBitmapPixel(dst, 9, 9, 0), 0u);
    EXPECT_EQ(ReadBitmapRectArgb(dst, 3, 0, 4, 1, 0), nullptr);
    FillMaskRect(mask, 2, 2, 50, 50, MASKINVISIBLE);
    EXPECT_EQ(MaskToText(mask)[3], "##..");
    CombineBytePlanes(alpha, 0, 0, pens, 2, 2, 9, 9, 0, 0);
    EXPECT_EQ(ByteAt(pens, 3, 3), 255);
    MaskFromBytePlane(alpha, 0, 0, mask, 3, 3, 9, 9, MASKVANILLACOPY, 1, 255);
    uint32_t palette[256] = {};
    lvChunkyBlit cb{pens, 0, 0, dst, -2, -2, 20, 20, palette, -1, nullptr, nullptr, nullptr, 0, 0};
    BlitChunkyToRgb(&cb);
    EXPECT_EQ(PixelAt(dst, 0, 0), 0u);  // pen (2, 2) = 255 -> palette 0
    EXPECT_EQ(TintBitmapRect(dst, 4, 2, 30, 30, 0xFFFFFF, 255), 0);
    EXPECT_EQ(PixelAt(dst, 4, 2), 0xFFFFFFu);
    for (lvBitMapHandle *h : {src, dst, mask, alpha, pens}) FreeBitmapHandle(h);
}

TEST_F(PlaneOps, SixteenBitBitmaps) {
    // An adapter whose display format is RGB16 (without owning bitmaps): native
    // buffers take that format; pixels convert one by one, and the 32-bit
    // copy, fill and blend paths leave such bitmaps as they are.
    FakeAdapter a(0);
    a.record.pixelFormat = PIXFMT_RGB16;
    a.Install();
    EXPECT_EQ(GetBitmapBufferDepth(), 16);
    lvBitMapHandle *rgb = AllocRgbBitmap(3, 2, 0, nullptr);
    EXPECT_EQ(GetBitmapHandleAttr(rgb, 12), PIXFMT_RGB16);
    for (int y = 0; y < 2; y++)
        for (int x = 0; x < 3; x++) PlotBitmapPixel(rgb, x, y, 0x00345678, 0);
    PlotBitmapPixel(rgb, 2, 1, 0x00FFFFFF, 0);
    uint32_t *argb = ReadBitmapRectArgb(rgb, 1, 1, 2, 1, 0);
    ASSERT_TRUE(argb);
    EXPECT_EQ(argb[0], 0x305478u);  // 5-6-5 widened by shifting
    EXPECT_EQ(argb[1], 0xF8FCF8u);
    FreeMemory(argb);
    FillBitmapRect(rgb, 0, 0, 3, 2, 0);
    EXPECT_EQ(ReadBitmapPixel(rgb, 0, 0, 0), 0x305478u);
    EXPECT_EQ(TintBitmapRect(rgb, 0, 0, 3, 2, 0, 255), 0);
    EXPECT_EQ(ReadBitmapPixel(rgb, 0, 0, 0), 0x305478u);
    FreeBitmapHandle(rgb);
}

// ---- Adapter or native ------------------------------------------------------

TEST_F(PlaneOps, AcceleratedOperationsGoToTheAdapter) {
    FakeAdapter a(ADAPTER_OWNSBITMAPS | ADAPTER_REALALPHA, ACCEL_COPY | ACCEL_FILL | ACCEL_ALPHABLIT);
    a.Install();
    lvBitMapHandle *src = AllocRgbBitmap(8, 8, 0, nullptr);
    lvBitMapHandle *dst = AllocRgbBitmap(8, 8, 0, nullptr);
    lvBitMapHandle *alpha = AllocAlphaBitmap(8, 8, 1, nullptr, 0);
    lvBitMapHandle *mask = AllocMaskBitmap(src, 8, 8, 1, nullptr, 0);
    a.calls.clear();
    CopyBitmapRect(src, 1, 2, dst, 3, 2, 5, 6);
    ASSERT_EQ(a.calls.size(), 1u);
    EXPECT_EQ(a.calls[0], "BltBitMap mode=2");
    EXPECT_EQ(a.blits[0].sourceX, 1);
    EXPECT_EQ(a.blits[0].targetY, 2);
    EXPECT_EQ(a.blits[0].height, 6);
    CopyBitmapRect(src, 1, 2, dst, 3, 4, 5, 6);  // the adapter too only gets what fits
    EXPECT_EQ(a.blits[1].height, 4);
    a.blits.clear();
    BlendBitmapRect(src, 0, 0, dst, 0, 0, 2, 2, alpha);
    EXPECT_EQ(a.blits[0].alpha, alpha->backing);
    FillBitmapRect(dst, 0, 0, 2, 2, 0x00123456);
    EXPECT_EQ(a.calls.back(), "RectFill 0,0 2x2 colour=ff123456 mode=1");  // real alpha for the adapter
    // Masked copies are not accelerated here: native, through locks that are all released.
    a.calls.clear();
    CopyBitmapRectMasked(src, 0, 0, dst, 0, 0, 8, 8, mask);
    EXPECT_FALSE(a.Called("BltBitMap"));
    EXPECT_TRUE(a.Called("LockBitMap"));
    EXPECT_EQ(a.openLocks, 0);
    EXPECT_EQ(a.maxOpenLocks, 3);
    FreeBitmapHandle(src);
    FreeBitmapHandle(dst);
    FreeBitmapHandle(alpha);
    FreeBitmapHandle(mask);
    EXPECT_TRUE(a.live.empty());
}

TEST_F(PlaneOps, EveryNativeOperationReleasesItsLocks) {
    FakeAdapter a(ADAPTER_OWNSBITMAPS);
    a.Install();
    lvBitMapHandle *src = AllocRgbBitmap(8, 4, 0, nullptr);
    lvBitMapHandle *dst = AllocRgbBitmap(8, 4, 0, nullptr);
    lvBitMapHandle *alpha = AllocAlphaBitmap(8, 4, 1, nullptr, 0);
    lvBitMapHandle *mask = AllocMaskBitmap(src, 8, 4, 1, nullptr, 0);
    lvBitMapHandle *pens = AllocChunkyBitmap(8, 4, 1);
    uint32_t palette[256] = {};
    CopyBitmapRect(src, 0, 0, dst, 0, 0, 8, 4);
    CopyBitmapRectMasked(src, 0, 0, dst, 0, 0, 8, 4, mask);
    BlendBitmapRect(src, 0, 0, dst, 0, 0, 8, 4, alpha);
    FillBitmapRect(dst, 0, 0, 8, 4, 0x123456);
    PlotBitmapPixel(dst, 1, 1, 0xFF, 0);
    ReadBitmapPixel(dst, 1, 1, 0);
    FillMaskRect(mask, 0, 0, 8, 4, MASKXOR);
    MaskFromBytePlane(alpha, 0, 0, mask, 0, 0, 8, 4, MASKVISIBLE, 1, 255);
    BlendPixelsNative(src, 0, 0, dst, 0, 0, 8, 4, mask, alpha, 2, 0, 255);
    DrawColorThroughAlpha(alpha, 0, 0, dst, 0, 0, 8, 4, 0xFF, 1, nullptr, 255, nullptr);
    lvChunkyBlit cb{pens, 0, 0, dst, 0, 0, 8, 4, palette, 0, mask, nullptr, nullptr, 0, 0};
    BlitChunkyToRgb(&cb);
    EXPECT_EQ(a.openLocks, 0);
    EXPECT_GT(a.maxOpenLocks, 0);
    FreeBitmapHandle(src);
    FreeBitmapHandle(dst);
    FreeBitmapHandle(alpha);
    FreeBitmapHandle(mask);
    FreeBitmapHandle(pens);
}

TEST_F(PlaneOps, VideoTargetsAndChunkyBlits) {
    FakeAdapter a(ADAPTER_VIDEOBITMAPS);
    a.Install();
    lvVideoSource none{};
    lvBitMapHandle *video = AllocRgbBitmap(4, 4, BMF_VIDEO, &none);
    lvBitMapHandle *src = AllocRgbBitmap(4, 4, 0, nullptr);
    lvBitMapHandle *pens = AllocChunkyBitmap(4, 4, 1);
    uint32_t palette[256] = {};
    a.calls.clear();
    CopyBitmapRect(src, 0, 0, video, 0, 0, 4, 4);
    EXPECT_EQ(a.calls.back(), "BltBitMap mode=4");
    FillBitmapRect(video, 0, 0, 1, 1, 0x00FFFFFF);
    EXPECT_EQ(a.calls.back(), "RectFill 0,0 1x1 colour=00ffffff mode=2");
    // A chunky blit into a video bitmap needs the adapter's chunky flag: nothing drawn.
    a.calls.clear();
    lvChunkyBlit cb{pens, 0, 0, video, 0, 0, 4, 4, palette, -1, nullptr, nullptr, nullptr, 0, 0};
    BlitChunkyToRgb(&cb);
    EXPECT_TRUE(a.calls.empty());
    a.record.flags |= ADAPTER_CHUNKYBLIT;
    BlitChunkyToRgb(&cb);
    EXPECT_EQ(a.calls.back(), "BltBitMap mode=68");  // 0x40 | 4
    EXPECT_EQ(a.blits.back().palette, palette);
    EXPECT_EQ(a.blits.back().transparentPen, -1);
    FreeBitmapHandle(video);
    FreeBitmapHandle(src);
    FreeBitmapHandle(pens);
}

}  // namespace

// Rectangles, blit clipping, keep-aspect sizes, special coordinates,
// transformed bounds and the record initialisers.
#include <gtest/gtest.h>

#include <cstring>

#include "raster/lvinit.h"
#include "raster/lvrect.h"
#include "base/lverrors.h"

namespace {

TEST(Rects, OverlapUnionIntersection) {
    EXPECT_TRUE(RectsOverlap(0, 0, 9, 9, 9, 9, 20, 20));   // inclusive corners share a pixel
    EXPECT_FALSE(RectsOverlap(0, 0, 9, 9, 10, 0, 20, 9));
    EXPECT_TRUE(RectsOverlapSized(0, 0, 10, 10, 9, 0, 10, 10));
    EXPECT_FALSE(RectsOverlapSized(0, 0, 10, 10, 10, 0, 10, 10));  // touching edges
    int x = 5, y = 5, w = 10, h = 10;
    MergeRects(&x, &y, &w, &h, 0, 12, 3, 10);
    EXPECT_EQ(x, 0);
    EXPECT_EQ(y, 5);
    EXPECT_EQ(w, 15);
    EXPECT_EQ(h, 17);
    int ix, iy, iw, ih;
    IntersectRects(0, 0, 10, 10, 20, 20, 5, 5, &ix, &iy, &iw, &ih);
    EXPECT_EQ(iw, -10);
    IntersectRects(0, 0, 10, 10, 9, 0, 10, 10, &ix, &iy, &iw, &ih);
    EXPECT_EQ(ix, 9);
    EXPECT_EQ(iw, 1);
    EXPECT_EQ(ih, 10);
}

struct ClipCase {
    const char *name;
    bool region;
    int rx, ry, rw, rh;
    int sx, sy, tx, ty, w, h, sw, sh, tw, th;
    int wantSx, wantSy, wantTx, wantTy, wantW, wantH;
};

const ClipCase ClipCases[] = {
    {"left edge", false, 0, 0, 0, 0, 0, 0, -5, 0, 20, 5, 100, 100, 10, 10, 5, 0, 0, 0, 10, 5},
    {"top edge", false, 0, 0, 0, 0, 2, 3, 0, -4, 8, 8, 100, 100, 50, 50, 2, 7, 0, 0, 8, 4},
    {"right edge", false, 0, 0, 0, 0, 0, 0, 45, 0, 10, 10, 100, 100, 50, 50, 0, 0, 45, 0, 5, 10},
    {"bottom edge", false, 0, 0, 0, 0, 0, 0, 0, 47, 10, 10, 100, 100, 50, 50, 0, 0, 0, 47, 10, 3},
    {"source edge", false, 0, 0, 0, 0, 95, 98, 0, 0, 10, 10, 100, 100, 50, 50, 95, 98, 0, 0, 5, 2},
    {"nothing left", false, 0, 0, 0, 0, 0, 0, 60, 0, 10, 10, 100, 100, 50, 50, 0, 0, 60, 0, -10, 10},
    {"region left/top", true, 10, 10, 20, 20, 0, 0, 5, 8, 10, 10, 100, 100, 50, 50, 5, 2, 10, 10, 5, 8},
    {"region right", true, 10, 10, 20, 20, 0, 0, 25, 25, 10, 10, 100, 100, 50, 50, 0, 0, 25, 25, 5, 5},
    // A region larger than the target never lets the blit out of the target.
    {"region past target", true, -10, -10, 100, 100, 0, 0, -4, 45, 10, 10, 100, 100, 50, 50, 4, 0, 0, 45, 6, 5},
};

TEST(Rects, ClipBlitRectTable) {
    for (const ClipCase &c : ClipCases) {
        SCOPED_TRACE(c.name);
        lvClipRegion region{c.rx, c.ry, c.rw, c.rh, nullptr};
        int sx = c.sx, sy = c.sy, tx = c.tx, ty = c.ty, w = c.w, h = c.h;
        ClipBlitRect(c.region ? &region : nullptr, &sx, &sy, &tx, &ty, &w, &h, c.sw, c.sh, c.tw, c.th, 1);
        EXPECT_EQ(sx, c.wantSx);
        EXPECT_EQ(sy, c.wantSy);
        EXPECT_EQ(tx, c.wantTx);
        EXPECT_EQ(ty, c.wantTy);
        EXPECT_EQ(w, c.wantW);
        EXPECT_EQ(h, c.wantH);
    }
    // With the region's use switched off, the region is ignored.
    lvClipRegion region{10, 10, 5, 5, nullptr};
    int sx = 0, sy = 0, tx = 0, ty = 0, w = 30, h = 30;
    ClipBlitRect(&region, &sx, &sy, &tx, &ty, &w, &h, 100, 100, 50, 50, 0);
    EXPECT_EQ(tx, 0);
    EXPECT_EQ(w, 30);
}

TEST(Rects, ClipToRegionAndBounds) {
    lvClipRegion region{10, 10, 20, 20, nullptr};
    int x = 5, y = 25, sx = 0, sy = 0, w = 10, h = 10;
    ClipRectToClipRegion(&region, &x, &y, &sx, &sy, &w, &h);
    EXPECT_EQ(x, 10);
    EXPECT_EQ(sx, 5);
    EXPECT_EQ(w, 5);
    EXPECT_EQ(h, 5);
    x = -3, y = 0, w = 10, h = 100;
    ClipRectToBounds(0, 0, 50, 50, &x, &y, &w, &h);
    EXPECT_EQ(x, 0);
    EXPECT_EQ(w, 7);
    EXPECT_EQ(h, 50);
}

struct AspectCase {
    int sw, sh, w, h;
    int result, wantW, wantH;
};

TEST(Rects, KeepAspectTable) {
    const AspectCase cases[] = {
        {640, 480, KEEPASPRAT, 100, 0, 133, 100},  // 133.33
        {640, 480, 100, KEEPASPRAT, 0, 100, 75},
        {3, 2, KEEPASPRAT, 3, 0, 5, 3},            // 4.5 rounds up
        {2, 3, 3, KEEPASPRAT, 0, 3, 5},            // 4.5 rounds up
        {640, 480, 320, 200, 0, 320, 200},         // neither: unchanged
        {1000, 1, KEEPASPRAT, 1, 0, 1000, 1},
        {1, 1000, 1, KEEPASPRAT, 0, 1, 1000},
        {1000, 1, 1, KEEPASPRAT, 0, 1, 1},         // results are at least 1
        {640, 480, KEEPASPRAT, KEEPASPRAT, ERR_WRONGUSAGE, KEEPASPRAT, KEEPASPRAT},
        {640, 480, 0, 100, ERR_BADDIMENSIONS, 0, 100},
        {640, 480, 100, -1, ERR_BADDIMENSIONS, 100, -1},
        {0, 480, KEEPASPRAT, 100, ERR_BADDIMENSIONS, KEEPASPRAT, 100},  // an empty source has no ratio
    };
    for (const AspectCase &c : cases) {
        int w = c.w, h = c.h;
        EXPECT_EQ(ApplyKeepAspect(c.sw, c.sh, &w, &h), c.result) << c.sw << "x" << c.sh;
        EXPECT_EQ(w, c.wantW) << c.sw << "x" << c.sh;
        EXPECT_EQ(h, c.wantH) << c.sw << "x" << c.sh;
    }
}

struct SpecialCase {
    int axis;  // 0 x, 1 y
    int value, size, container;
    double anchor;
    int want;
};

TEST(Rects, SpecialCoordinateTable) {
    ResetRasterModes();
    const SpecialCase cases[] = {
        {0, SPECIAL_CENTER + 10, 100, 640, 0, 280},
        {0, SPECIAL_RIGHT, 100, 640, 0.5, 590},
        {0, SPECIAL_TOP, 100, 640, 0, SPECIAL_TOP},       // a y constant on the x axis
        {0, SPECIAL_CENTER + 5000, 100, 640, 0, -95000},  // outside every range
        {0, SPECIAL_CENTER + 4999, 100, 640, 0, 270 + 4999},
        {0, SPECIAL_CENTER - 4999, 100, 640, 0, 270 - 4999},
        {0, SPECIAL_CENTER, 101, 640, 0, 269},            // (640 - 101) / 2 truncated
        {0, SPECIAL_LEFT + 7, 100, 640, 0, 7},
        {0, SPECIAL_LEFTOUT, 100, 640, 0, -100},
        {0, SPECIAL_RIGHTOUT - 3, 100, 640, 0, 637},
        {0, SPECIAL_BOTTOM, 100, 640, 0, SPECIAL_BOTTOM},
        {0, 123, 100, 640, 0.5, 123},                     // plain values: no anchor term
        {1, SPECIAL_CENTER, 100, 480, 0, 190},
        {1, SPECIAL_BOTTOM - 1, 100, 480, 0, 379},
        {1, SPECIAL_TOP, 100, 480, 1.0, 100},
        {1, SPECIAL_TOPOUT, 30, 480, 0, -30},
        {1, SPECIAL_BOTTOMOUT, 30, 480, 0, 480},
        {1, SPECIAL_LEFT, 30, 480, 0, SPECIAL_LEFT},
        {0, SPECIAL_CENTER, 101, 640, -0.5, 219},         // anchor term truncated toward zero: -50
    };
    for (const SpecialCase &c : cases) {
        int got = c.axis ? ResolveSpecialY(c.value, c.size, c.container, c.anchor)
                         : ResolveSpecialX(c.value, c.size, c.container, c.anchor);
        EXPECT_EQ(got, c.want) << "axis " << c.axis << " value " << c.value;
    }
    // Container 0 without an output: origin and container 0.
    EXPECT_EQ(ResolveSpecialX(SPECIAL_RIGHT, 10, 0, 0), -10);
    // Container 0 with a current display: its background picture's size.
    lvBlitPicture picture{};
    picture.width = 320;
    picture.height = 200;
    lvBlitDisplay display{};
    display.target.kind = OUTPUT_DISPLAY;
    display.picture = &picture;
    RasterState.currentDisplay = &display;
    EXPECT_EQ(ResolveSpecialX(SPECIAL_CENTER, 20, 0, 0), 150);
    EXPECT_EQ(ResolveSpecialY(SPECIAL_BOTTOM, 20, 0, 0), 180);
    RasterState.currentDisplay = nullptr;
}

TEST(Rects, TransformedBounds) {
    lvMatrix2D identity{1, 0, 0, 1};
    int x, y, w, h;
    GetTransformedRectBounds(0, 0, 10, 20, 100, 50, 100, 50, 0, 0, &identity, &x, &y, &w, &h);
    EXPECT_EQ(x, 10);
    EXPECT_EQ(y, 20);
    EXPECT_EQ(w, 101);
    EXPECT_EQ(h, 51);
    // A quarter turn about the centre of a 100x50 box.
    lvMatrix2D quarter{0, 1, -1, 0};
    double fx, fy, fw, fh;
    GetTransformedBoundsF(0, 0, 100, 50, 100, 50, 0.5, 0.5, &quarter, &fx, &fy, &fw, &fh);
    EXPECT_DOUBLE_EQ(fx, 25);
    EXPECT_DOUBLE_EQ(fy, -25);
    EXPECT_DOUBLE_EQ(fw, 51);
    EXPECT_DOUBLE_EQ(fh, 101);
    EXPECT_DOUBLE_EQ(GetTransformedBorderWidth(&identity, 100, 50, 4), 4);
    lvMatrix2D twice{2, 0, 0, 2};
    EXPECT_DOUBLE_EQ(GetTransformedBorderWidth(&twice, 100, 50, 4), 8);
    double points[6] = {5, 7, 10, 3, 8, 9};
    double mx, my, pw, ph;
    GetPointListBounds(points, 3, 0, &mx, &my, &pw, &ph);
    EXPECT_EQ(mx, 5);
    EXPECT_EQ(my, 3);
    EXPECT_EQ(pw, 6);
    EXPECT_EQ(ph, 7);
    EXPECT_EQ(points[0], 0);
    EXPECT_EQ(points[3], 0);
    GetPointListBounds(points, 3, 1, &mx, &my, &pw, &ph);
    EXPECT_EQ(pw, 5 + 65536);
}

TEST(Rects, PaletteDepthAndPens) {
    ResetRasterModes();
    uint32_t pal[256] = {0x000000, 0xFFFFFF};
    lvBitMapHandle *pens = AllocChunkyBitmap(2, 2, 1);
    lvBlitPicture picture{};
    picture.depth = 4;
    picture.palette = pal;
    lvBlitDisplay display{};
    display.target.kind = OUTPUT_DISPLAY;
    display.picture = &picture;
    display.shown.chunky = pens;
    RasterState.currentDisplay = &display;
    EXPECT_TRUE(CheckTargetDepth(1, 4));
    EXPECT_FALSE(CheckTargetDepth(1, 5));  // a 5-bit source on a 4-bit display
    EXPECT_TRUE(CheckTargetDepth(0, 8));   // not a palette source
    RasterState.paletteMode = PALETTEMODE_REMAP;
    EXPECT_TRUE(CheckTargetDepth(1, 8));
    EXPECT_EQ(GetPenForColor(0xEEEEEE, pal, 1), 1);
    uint32_t other[256] = {};
    EXPECT_EQ(ChooseBlitPalette(PALETTEMODE_REMAP, other), other);
    EXPECT_EQ(ChooseBlitPalette(PALETTEMODE_PEN, other), pal);  // the display's picture palette
    RasterState.paletteMode = PALETTEMODE_PEN;
    RasterState.drawPen = 7;
    EXPECT_EQ(GetPenForColor(0xEEEEEE, pal, 1), 7);
    RasterState.currentDisplay = nullptr;
    ResetRasterModes();
    FreeBitmapHandle(pens);
}

TEST(Records, Initialisers) {
    lvGradient g{};
    g.stopCount = 5;
    g.angle = 33;
    g.startColour = 0x123456;
    InitGradient(&g, 1);
    EXPECT_EQ(g.style, GRADIENT_LINEAR);
    EXPECT_EQ(g.stopCount, 5);
    EXPECT_EQ(g.angle, 33);
    EXPECT_EQ(g.balance, 0.5);
    InitGradient(&g, 0);
    EXPECT_EQ(g.stopCount, 0);
    EXPECT_EQ(g.angle, 0);
    EXPECT_EQ(g.startColour, 0x123456u);  // colours are left alone
    lvDisplayOptions o;
    std::memset(&o, 0x5A, sizeof o);
    InitDisplayDefaults(&o);
    EXPECT_STREQ(o.title, "Lumivarra");
    EXPECT_EQ(o.width, 640);
    EXPECT_EQ(o.height, 480);
    EXPECT_EQ(o.x, SPECIAL_CENTER);
    EXPECT_EQ(o.y, SPECIAL_CENTER);
    EXPECT_EQ(o.scaleFactor, 1.0);
    EXPECT_EQ(o.fillStyle, 1);
    EXPECT_EQ(o.gradient.style, GRADIENT_LINEAR);
    EXPECT_EQ(o.gradient.centreX, 0.5);
    EXPECT_EQ(o.menu, -1);
    EXPECT_EQ(o.mode, 1);
    EXPECT_EQ(o.backfill.type, 0);
    EXPECT_EQ(o.dragRegionCount, 0);
    const int counts[][2] = {{0, 1}, {1, 1}, {2, 1}, {3, 2}, {4, 2}, {5, 3}, {128, 7}, {129, 8},
                             {256, 8}, {257, 9}, {100000, 9}};
    for (auto &c : counts) EXPECT_EQ(BitsForColorCount(c[0]), c[1]) << c[0];
}

}  // namespace

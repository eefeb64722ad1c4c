// Shape coverage planes onto pixels: the direct-draw test, pen planes of
// palette-mode drawing (private palettes, pens out of range) and the compose
// step of shadow, border and fill against hand-worked pixels and alpha.
#include <gtest/gtest.h>

#include "base/lverrors.h"
#include "platform/lvplatform.h"
#include "raster/lvshapes.h"
#include "raster_fakes.h"

namespace {

struct Shapes : testing::Test {
    void SetUp() override { ResetRasterModes(); }
};

lvBitMapHandle *Coverage(const std::vector<std::string> &rows) {
    int w = int(rows[0].size()), h = int(rows.size());
    lvBitMapHandle *p = AllocAlphaBitmap(w, h, 1, nullptr, 0);
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) SetByte(p, x, y, rows[y][x] == '#' ? 255 : 0);
    return p;
}

TEST_F(Shapes, DirectDrawAndCorners) {
    lvStyleTags style{};
    int dummy = 0;
    EXPECT_EQ(CanDrawDirect(nullptr, nullptr, 1, &style, 0), 1);
    EXPECT_EQ(CanDrawDirect(&dummy, nullptr, 1, &style, 0), 0);
    EXPECT_EQ(CanDrawDirect(nullptr, &dummy, 1, &style, 0), 0);
    EXPECT_EQ(CanDrawDirect(nullptr, nullptr, 2, &style, 0), 0);
    EXPECT_EQ(CanDrawDirect(nullptr, nullptr, 3, &style, 0), 0);
    EXPECT_EQ(CanDrawDirect(nullptr, nullptr, 0, &style, 0x400), 0);
    // Coverage alone cannot take a colour filter; a geometric one only moves the coverage.
    lvStyleTags grey{}, flipped{};
    grey.filters[6].enabled = 1;  // grayscale
    flipped.filters[FILTER_XFLIP].enabled = flipped.filters[FILTER_PIXELATE].enabled = 1;
    EXPECT_EQ(CanDrawDirect(nullptr, nullptr, 1, &grey, 0), 0);
    EXPECT_EQ(CanDrawDirect(nullptr, nullptr, 1, &flipped, 0), 1);
    lvBlitDisplay display{};
    display.hardwareDoubleBuffer = 1;
    RasterState.currentDisplay = &display;
    EXPECT_EQ(CanDrawDirect(nullptr, nullptr, 1, &style, 0), 0);
    RasterState.currentDisplay = nullptr;
    int corners[4] = {-5, 0, 100, 250};
    ClampCornerPercents(corners);
    EXPECT_EQ(corners[0], 0);
    EXPECT_EQ(corners[3], 100);
}

TEST_F(Shapes, PenPlanesOfPaletteDrawing) {
    lvPenPlaneRequest r{};
    r.width = 3;
    r.height = 2;
    r.fillStyle = 1;
    r.fillColour = 0xFF0000;
    r.borderColour = 0x00FF00;
    r.shadowColour = 0x0000FF;
    lvPenPlaneResult out{};
    // No palette anywhere: a private one with the three colours at pens 1, 2, 3.
    ASSERT_EQ(PreparePenPlane(nullptr, &r, &out), 0);
    ASSERT_NE(out.pens, nullptr);
    EXPECT_EQ(out.palette[1], 0xFF0000u);
    EXPECT_EQ(out.palette[3], 0x0000FFu);
    EXPECT_EQ(out.backgroundPen, 0);
    EXPECT_EQ(out.fillValue, 254);
    EXPECT_EQ(out.borderValue, 253);
    EXPECT_EQ(out.shadowValue, 252);
    EXPECT_EQ(ByteAt(out.pens, 2, 1), 0);
    FreeBitmapHandle(out.pens);
    FreeMemory(out.palette);
    // Anti-aliased (or a gradient) with a private palette: nothing is made.
    r.antialias = 1;
    ASSERT_EQ(PreparePenPlane(nullptr, &r, &out), 0);
    EXPECT_EQ(out.pens, nullptr);
    r.antialias = 0;
    // A picture of depth 1 with fill pen 0 and border pen 1 leaves no background pen.
    uint32_t pal[256] = {0x000000, 0xFFFFFF};
    r.targetPalette = pal;
    r.depth = 1;
    r.fillPen = 0;
    r.borderPen = 1;
    r.shadowPen = 1;
    EXPECT_EQ(PreparePenPlane(nullptr, &r, &out), ERR_PENRANGE);
    r.depth = 2;
    r.borderPen = 4;  // past 2^depth
    EXPECT_EQ(PreparePenPlane(nullptr, &r, &out), ERR_PENRANGE);
    r.borderPen = 1;
    ASSERT_EQ(PreparePenPlane(nullptr, &r, &out), 0);
    EXPECT_EQ(out.backgroundPen, 2);
    EXPECT_EQ(ByteAt(out.pens, 1, 1), 2);  // filled with the background pen
    EXPECT_EQ(out.palette[1], 0xFFFFFFu);
    FreeBitmapHandle(out.pens);
    FreeMemory(out.palette);
    // Allocation failures: the plane, then the palette copy; nothing stays.
    FailAllocMemoryAfter(0);
    EXPECT_EQ(PreparePenPlane(nullptr, &r, &out), ERR_ALLOCCHUNKY);
    FailAllocMemoryAfter(3);
    int rc = PreparePenPlane(nullptr, &r, &out);
    FailAllocMemoryAfter(-1);
    EXPECT_TRUE(rc == ERR_MEM || rc == ERR_ALLOCCHUNKY);
}

TEST_F(Shapes, ShadowBorderAndFillCompose) {
    const uint32_t S = 0x000080, B = 0x00FF00, F = 0xFF0000;
    lvBitMapHandle *fill = Coverage({"....", ".##.", ".##.", "...."});
    lvBitMapHandle *border = Coverage({"####", "#..#", "#..#", "####"});
    lvBitMapHandle *rgb = AllocRgbBitmap(6, 6, 0, nullptr);
    lvBitMapHandle *alpha = AllocAlphaBitmap(6, 6, 1, nullptr, 0);
    FillRgb(rgb, [](int, int) { return 0u; });
    lvShapeCompose j{};
    j.fill = fill;
    j.border = border;
    j.target = rgb;
    j.targetAlpha = alpha;
    j.shadowX = j.shadowY = 2;
    j.width = j.height = 4;
    j.fillColour = F, j.borderColour = B, j.shadowColour = S;
    j.shadowTransparency = 128;  // opacity 127 in the alpha
    j.hasShadow = j.hasBorder = 1;
    ComposeShapePlanes(&j);
    // The shadow is the border ring moved by (2, 2); border and fill go over it.
    const char *colours[6] = {"BBBB..", "BFFB..", "BFFBSS", "BBBB.S", "..S..S", "..SSSS"};
    for (int y = 0; y < 6; y++)
        for (int x = 0; x < 6; x++) {
            char c = colours[y][x];
            uint32_t want = c == 'B' ? B : c == 'F' ? F : c == 'S' ? S : 0;
            int wantAlpha = c == 'S' ? 127 : c == '.' ? 0 : 255;
            EXPECT_EQ(PixelAt(rgb, x, y) & 0xFFFFFF, want) << x << "," << y;
            EXPECT_EQ(ByteAt(alpha, x, y), wantAlpha) << x << "," << y;
        }
    // A shadow of transparency 255 draws nothing at all.
    FillRgb(rgb, [](int, int) { return 0u; });
    lvBitMapHandle *alpha2 = AllocAlphaBitmap(6, 6, 1, nullptr, 0);
    j.targetAlpha = alpha2;
    j.shadowTransparency = 255;
    ComposeShapePlanes(&j);
    EXPECT_EQ(PixelAt(rgb, 5, 5) & 0xFFFFFF, 0u);
    EXPECT_EQ(ByteAt(alpha2, 5, 5), 0);
    EXPECT_EQ(PixelAt(rgb, 0, 0) & 0xFFFFFF, B);
    for (auto *h : {fill, border, rgb, alpha, alpha2}) FreeBitmapHandle(h);
}

}  // namespace

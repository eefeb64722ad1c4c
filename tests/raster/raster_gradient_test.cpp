// Gradient rendering: LINEAR positions at pixel centres, angle normalising,
// RADIAL border and radius guards, CONICAL balance, stops kept as given,
// equal stop positions, non-32-bit targets and clipping to the bitmap.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "raster/lvgradient.h"
#include "raster_fakes.h"

namespace {

struct Canvas {
    int w, h;
    std::vector<uint32_t> px;
    Canvas(int w_, int h_, uint32_t fill = 0xDEADBEEF) : w(w_), h(h_), px(static_cast<size_t>(w_) * h_, fill) {}
    void Render(const lvGradient &g, int format = PIXFMT_ARGB32) {
        lvGradientJob j{};
        j.pixels = reinterpret_cast<uint8_t *>(px.data());
        j.bytesPerPixel = 4;
        j.format = format;
        j.width = w;
        j.height = h;
        j.rowLength = w;
        j.gradient = &g;
        RenderGradient(&j);
    }
    uint32_t At(int x, int y) const { return px[static_cast<size_t>(y) * w + x]; }
};

lvGradient Make(int style, uint32_t start, uint32_t end, int angle = 0) {
    lvGradient g{};
    g.startColour = start;
    g.endColour = end;
    InitGradient(&g, 0);
    g.style = style;
    g.angle = angle;
    return g;
}

TEST(Gradient, LinearSamplesPixelCentres) {
    Canvas c(256, 3);
    c.Render(Make(GRADIENT_LINEAR, 0x000000, 0xFFFFFF, 90));
    for (int y = 0; y < 3; y++)
        for (int x = 0; x < 256; x++) {
            uint32_t grey = (255u * x) >> 8;
            ASSERT_EQ(c.At(x, y), grey << 16 | grey << 8 | grey) << x;
        }
    EXPECT_EQ(c.At(255, 0) & 0xFF, 254u);
    // Other 32-bit layouts get the same colour reordered; the high byte stays 0.
    Canvas b(256, 1);
    b.Render(Make(GRADIENT_LINEAR, 0xFF0000, 0x0000FF, 90), PIXFMT_BGRA32);
    EXPECT_EQ(b.At(0, 0), ArgbToPixel32(PIXFMT_BGRA32, 0xFF0000));
}

TEST(Gradient, AnglesNormaliseAndRunTheirWay) {
    struct Case {
        int a, b;
    } cases[] = {{-90, 270}, {450, 90}, {-330, 30}, {720, 0}};
    for (auto k : cases) {
        Canvas p(37, 23), q(37, 23);
        p.Render(Make(GRADIENT_LINEAR, 0x102030, 0xF0E0D0, k.a));
        q.Render(Make(GRADIENT_LINEAR, 0x102030, 0xF0E0D0, k.b));
        EXPECT_EQ(p.px, q.px) << k.a;
    }
    // 0 runs top to bottom, 180 bottom to top, 270 right to left; 45 from the top-left corner.
    Canvas d(16, 16);
    d.Render(Make(GRADIENT_LINEAR, 0x000000, 0xFFFFFF, 0));
    EXPECT_LT(d.At(5, 0), d.At(5, 15));
    EXPECT_EQ(d.At(0, 4), d.At(15, 4));
    d.Render(Make(GRADIENT_LINEAR, 0x000000, 0xFFFFFF, 180));
    EXPECT_GT(d.At(5, 0), d.At(5, 15));
    d.Render(Make(GRADIENT_LINEAR, 0x000000, 0xFFFFFF, 270));
    EXPECT_GT(d.At(0, 3), d.At(15, 3));
    d.Render(Make(GRADIENT_LINEAR, 0x000000, 0xFFFFFF, 45));
    EXPECT_LT(d.At(0, 0) & 0xFF, 8u);
    EXPECT_GE(d.At(15, 15) & 0xFF, 247u);
    EXPECT_EQ(d.At(3, 9), d.At(9, 3));
}

TEST(Gradient, RadialBorderAndTinyRadii) {
    lvGradient full = Make(GRADIENT_RADIAL, 0xFFFFFF, 0x000000);
    full.border = 1.0;
    lvGradient almost = full;
    almost.border = 0.99;
    Canvas a(200, 200), b(200, 200);
    a.Render(full);
    b.Render(almost);
    EXPECT_EQ(a.px, b.px);
    // The radius is 1 % of the half diagonal (1.41 px): only the centre pixels are light.
    EXPECT_EQ(a.At(0, 0), 0u);
    EXPECT_EQ(a.At(97, 100), 0u);
    EXPECT_GT(a.At(100, 100) & 0xFF, 0x40u);
    // Border 0: the end colour is reached at the corners.
    Canvas c(100, 100);
    c.Render(Make(GRADIENT_RADIAL, 0xFFFFFF, 0x000000));
    EXPECT_LT(c.At(0, 0) & 0xFF, 3u);
    EXPECT_GT(c.At(50, 50) & 0xFF, 250u);
    // Radii that truncate to nothing draw without a fault: all end colour but the centre.
    for (double border : {0.999, 0.99999999999, 1.0}) {
        lvGradient g = Make(GRADIENT_RADIAL, 0xFFFFFF, 0x0000FF);
        g.border = border;
        Canvas t(2, 2);
        t.Render(g);
        for (uint32_t p : t.px) EXPECT_EQ(p, 0x0000FFu) << border;
    }
}

TEST(Gradient, ConicalBalanceAndUnknownStyles) {
    lvGradient g = Make(GRADIENT_CONICAL, 0xFF0000, 0x0000FF);
    Canvas c(101, 101);
    c.Render(g);
    EXPECT_EQ(c.At(0, 50), 0xFF0000u);    // half-way round: the start colour
    EXPECT_EQ(c.At(100, 50), 0x0000FFu);  // position 1.0: the end colour
    EXPECT_EQ(c.At(100, 49) & 0xFF0000, 0u);  // just above the axis: near position 0
    // Another angle turns the picture: a quarter turn puts the start colour below or above.
    g.angle = 90;
    c.Render(g);
    EXPECT_TRUE(c.At(50, 0) == 0xFF0000u || c.At(50, 100) == 0xFF0000u);
    // Unknown styles are accepted and draw nothing.
    Canvas u(4, 4);
    lvGradient bad = Make(7, 0xFF0000, 0x0000FF);
    u.Render(bad);
    for (uint32_t p : u.px) EXPECT_EQ(p, 0xDEADBEEFu);
}

// The CONICAL position as written out: atan2, a turn and the angle, modulo a
// turn, as a share of the turn counted down from 1.0 in 16.16, mirrored past 1.0.
int32_t ReferenceConicalPosition(double ddy, double ddx, double angle) {
    const double pi = 3.14159265358979323846;
    double turns = 1.0 - std::fmod(std::atan2(ddy, ddx) + 2 * pi + angle, 2 * pi) / (2 * pi);
    int32_t p = static_cast<int32_t>(turns * 65536.0), m = ((p % 131072) + 131072) % 131072;
    return std::min(m, 131072 - m);
}

TEST(Gradient, ConicalPositionsMatchTheLibraryAngleEverywhere) {
    const double pi = 3.14159265358979323846;
    // Whole pictures around centres on and off pixel centres (points on the axes
    // included), then turn angles inside and outside one turn.
    struct Case { int w, h; double cx, cy; int degrees; } cases[] = {
        {1920, 1080, 960, 540, 0}, {641, 479, 320.5, 239.5, 0}, {301, 199, 17.25, 150.75, 90},
        {257, 255, 128.5, 3.0, 359}, {200, 200, 100.125, 99.875, 180}, {150, 90, 75, 45, 45},
        {120, 80, 60.5, 40, 360}, {120, 80, 60, 40.5, -30}, {64, 64, 32, 32, 720}, {64, 64, 31.5, 32, 1000000},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << " angle " << c.degrees);
        double angle = c.degrees * pi / 180.0;
        int mismatches = 0;
        for (int y = 0; y < c.h; y++)
            for (int x = 0; x < c.w; x++) {
                double ddy = y + 0.5 - c.cy, ddx = x + 0.5 - c.cx;
                if (GradientConicalPosition(ddy, ddx, angle) != ReferenceConicalPosition(ddy, ddx, angle) &&
                    mismatches++ < 5)
                    ADD_FAILURE() << "at " << x << "," << y;
            }
        EXPECT_EQ(mismatches, 0);
    }
    // Far points and points a hair off the axes, where the angle is tiny or near a half turn.
    const double far[][2] = {{1e-300, 1}, {-1e-300, 1}, {1e-300, -1}, {-1e-300, -1}, {1, 1e-12}, {-1, 1e-12},
                             {1e9, -1e9}, {-3e8, 1}, {7, -1e-9}, {0.5, 2e6}, {-0.5, -2e6}};
    for (const auto &d : far)
        for (int degrees : {0, 1, 179, 180, 181, 359, -1, 540})
            EXPECT_EQ(GradientConicalPosition(d[0], d[1], degrees * pi / 180.0),
                      ReferenceConicalPosition(d[0], d[1], degrees * pi / 180.0))
                << d[0] << "," << d[1] << " angle " << degrees;
}

TEST(Gradient, LargeConicalAreasMatchStripByStripRendering) {
    // Over a large area each position's pixel is worked out once; strips of the
    // same gradient (cut by the clip, so the geometry stays) take the per-pixel path.
    const int w = 640, h = 480, strip = 16;
    lvGradient plain = Make(GRADIENT_CONICAL, 0xFF8000, 0x0030FF, 33);
    lvGradient stops = Make(GRADIENT_CONICAL, 0, 0, 300);
    stops.stopCount = 3;
    stops.stops[0].position = 0.7, stops.stops[0].colour = 0x112233;  // out of order
    stops.stops[1].position = 0.2, stops.stops[1].colour = 0xFFEEDD;
    stops.stops[2].position = 0.9, stops.stops[2].colour = 0x00FF00;
    stops.centreX = 0.3, stops.centreY = 0.8;
    for (const lvGradient *g : {&plain, &stops})
        for (int format : {PIXFMT_ARGB32, PIXFMT_ABGR32}) {
            SCOPED_TRACE(testing::Message() << "format " << format << " stops " << g->stopCount);
            Canvas whole(w, h);
            whole.Render(*g, format);
            std::vector<uint32_t> strips(size_t(w) * h, 0xDEADBEEF);
            for (int y0 = 0; y0 < h; y0 += strip) {
                lvGradientJob j{};
                j.pixels = reinterpret_cast<uint8_t *>(strips.data() + size_t(y0) * w);
                j.bytesPerPixel = 4;
                j.format = format;
                j.y = -y0;
                j.width = w;
                j.height = h;
                j.rowLength = w;
                j.gradient = g;
                j.clipWidth = w;
                j.clipHeight = strip;
                RenderGradient(&j);
            }
            ASSERT_EQ(whole.px, strips);
        }
}

TEST(Gradient, StopsAsGivenAndEqualPositions) {
    // Out of order: the first stop above every position is stop 0 (red): all red.
    lvGradient g = Make(GRADIENT_LINEAR, 0, 0, 90);
    g.stopCount = 2;
    g.stops[0] = {0xFF0000, 1.0};
    g.stops[1] = {0x0000FF, 0.0};
    Canvas c(64, 1);
    c.Render(g);
    for (uint32_t p : c.px) EXPECT_EQ(p, 0xFF0000u);
    // A hard edge from two stops at one position.
    g.stopCount = 4;
    g.stops[0] = {0xFF0000, 0.0};
    g.stops[1] = {0x00FF00, 0.5};
    g.stops[2] = {0x0000FF, 0.5};
    g.stops[3] = {0xFFFFFF, 1.0};
    c.Render(g);
    EXPECT_GT(c.At(0, 0) >> 16, 0xF0u);
    EXPECT_EQ(c.At(31, 0) & 0xFF, 0u);
    EXPECT_GT((c.At(31, 0) >> 8) & 0xFF, 0xE0u);
    EXPECT_EQ(c.At(32, 0) & 0xFF, 0xFFu);  // blue side starts
    EXPECT_LT(c.At(32, 0) >> 16, 8u);
    g.stopCount = 3;
    g.stops[0] = {0xFF0000, 0.0};
    g.stops[1] = {0x00FF00, 0.0};
    g.stops[2] = {0x0000FF, 1.0};
    c.Render(g);
    EXPECT_EQ(c.At(0, 0) & 0xFF0000, 0u);  // the zero-width pair is never used
}

TEST(Gradient, TargetsThatAreNot32BitStayUnchangedAndBitmapsClip) {
    std::vector<uint16_t> px(16, 0x1234);
    lvGradient g = Make(GRADIENT_LINEAR, 0xFF0000, 0x00FF00);
    lvGradientJob j{};
    j.pixels = reinterpret_cast<uint8_t *>(px.data());
    j.bytesPerPixel = 2;
    j.format = PIXFMT_RGB16;
    j.width = j.height = 4;
    j.rowLength = 4;
    j.gradient = &g;
    RenderGradient(&j);
    for (uint16_t p : px) EXPECT_EQ(p, 0x1234);

    lvBitMapHandle *bm = AllocRgbBitmap(10, 10, 0, nullptr);
    ASSERT_NE(bm, nullptr);
    FillRgb(bm, [](int, int) { return 0x00ABCDEFu; });
    FillBitmapWithGradient(bm, -5, 2, 20, 4, &g);  // reaches past both sides
    EXPECT_EQ(PixelAt(bm, 0, 0) & 0xFFFFFF, 0xABCDEFu);
    EXPECT_NE(PixelAt(bm, 0, 2) & 0xFFFFFF, 0xABCDEFu);
    EXPECT_NE(PixelAt(bm, 9, 5) & 0xFFFFFF, 0xABCDEFu);
    EXPECT_EQ(PixelAt(bm, 9, 6) & 0xFFFFFF, 0xABCDEFu);
    FreeBitmapHandle(bm);
}

}  // namespace

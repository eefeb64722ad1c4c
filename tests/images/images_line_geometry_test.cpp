// images_line_geometry_test.cpp - the polygon of a thick arrowed line: head and shaft
// widths, lines shorter than their heads, lines without length.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "base/lverrors.h"
#include "images/lvbgpic.h"
#include "images/lvdraw.h"
#include "raster/lvbitmap.h"
#include "raster/lvplanes.h"
#include "raster/lvraster.h"
#include "platform/lvplatform.h"

namespace {

struct Bounds {
    double lx = 1e9, ly = 1e9, hx = -1e9, hy = -1e9;
};
Bounds Of(const double *p, int n) {
    Bounds b;
    for (int i = 0; i < n; i++) {
        b.lx = std::min(b.lx, p[2 * i]), b.hx = std::max(b.hx, p[2 * i]);
        b.ly = std::min(b.ly, p[2 * i + 1]), b.hy = std::max(b.hy, p[2 * i + 1]);
    }
    return b;
}

TEST(LineGeometry, DoubleArrowHasHeadsSixTimesAndShaftTwiceTheThickness) {
    double p[24];
    int n = ThickArrowPolygon(5, 30, 95, 30, 4, ARROWHEAD_DOUBLE, p);
    ASSERT_EQ(n, 11);
    // Start head, shaft side, end head, other shaft side, closing point.
    EXPECT_EQ(p[2], 5); EXPECT_EQ(p[3], 30);          // start tip
    EXPECT_EQ(p[12], 95); EXPECT_EQ(p[13], 30);       // end tip
    EXPECT_EQ(std::fabs(p[1] - p[5]), 24);            // start head's base
    EXPECT_EQ(std::fabs(p[11] - p[15]), 24);          // end head's base
    EXPECT_EQ(std::fabs(p[7] - p[19]), 8);            // shaft
    EXPECT_EQ(p[2 * 10], p[0]); EXPECT_EQ(p[2 * 10 + 1], p[1]);
    Bounds b = Of(p, n);
    EXPECT_EQ(b.lx, 5); EXPECT_EQ(b.hx, 95); EXPECT_EQ(b.ly, 18); EXPECT_EQ(b.hy, 42);
}

TEST(LineGeometry, ShortLinesAndLinesWithoutLength) {
    double p[24];
    // Shorter than its head: no crossing with the base, the heads alone (no NaN, the
    // shaft collapses onto the start).
    int n = ThickArrowPolygon(0, 0, 10, 0, 4, ARROWHEAD_SINGLE, p);
    ASSERT_EQ(n, 8);
    for (int i = 0; i < 2 * n; i++) ASSERT_TRUE(std::isfinite(p[i])) << i;
    EXPECT_EQ(p[0], 0); EXPECT_EQ(p[1], -4);
    EXPECT_EQ(p[6], 10); EXPECT_EQ(p[7], 0);  // tip
    n = ThickArrowPolygon(0, 0, 10, 0, 4, ARROWHEAD_DOUBLE, p);
    ASSERT_EQ(n, 11);
    for (int i = 0; i < 2 * n; i++) ASSERT_TRUE(std::isfinite(p[i])) << i;
    // No length: no polygon (the line is drawn without heads).
    EXPECT_EQ(ThickArrowPolygon(7, 7, 7, 7, 4, ARROWHEAD_DOUBLE, p), 0);
}

TEST(LineGeometry, SegmentIntersectionWithinBothSegments) {
    const double a1[2] = {0, 0}, a2[2] = {10, 10}, b1[2] = {0, 10}, b2[2] = {10, 0}, c1[2] = {20, 0},
                 c2[2] = {20, 10};
    double out[2];
    ASSERT_TRUE(SegmentIntersection(a1, a2, b1, b2, out));
    EXPECT_EQ(out[0], 5); EXPECT_EQ(out[1], 5);
    EXPECT_FALSE(SegmentIntersection(a1, a2, c1, c2, out));   // beyond the first segment
    EXPECT_FALSE(SegmentIntersection(a1, a2, a1, a2, out));   // parallel
}

// Without a current output every entry answers "no output device" and draws nothing;
// with a bitmap as the output the entries draw into it and leave the style alone.
// Clipping a line to [low, high] in x: one slope for both ends, moved points truncated
// toward zero, lines wholly outside refused; the same call with x and y swapped clips in y.
TEST(LineGeometry, ClipLineToRangeMovesEndsOntoTheRange) {
    struct Case { int in[4], low, high, result, out[4]; } cases[] = {
        {{-5, 0, -1, 10}, 0, 9, 0, {}},                        // wholly left
        {{12, 0, 20, 3}, 0, 9, 0, {}},                         // wholly right
        {{2, 1, 7, 8}, 0, 9, 1, {2, 1, 7, 8}},                 // inside
        {{5, -5, 5, 50}, 0, 9, 1, {5, -5, 5, 50}},             // upright, inside
        {{-10, 0, 10, 20}, 0, 19, 1, {0, 10, 10, 20}},         // start moved
        {{-10, 0, 30, 40}, 0, 19, 1, {0, 10, 19, 29}},         // both moved
        {{30, 0, -10, 40}, 0, 19, 1, {19, 11, 0, 30}},         // from the right
        {{0, 0, 20, 10}, 0, 9, 1, {0, 0, 9, 4}},               // end moved, 4.5 truncated
        {{-3, 0, 1, -7}, 0, 9, 1, {0, -5, 1, -7}},             // -5.25 truncated to -5
        {{-2000000000, 0, 2000000000, 10}, 0, 99, 1, {0, 5, 99, 5}},  // no overflow
    };
    for (const Case &c : cases) {
        int x1 = c.in[0], y1 = c.in[1], x2 = c.in[2], y2 = c.in[3];
        SCOPED_TRACE(std::to_string(x1) + "," + std::to_string(y1) + " " + std::to_string(x2) + "," + std::to_string(y2));
        ASSERT_EQ(ClipLineToRange(&x1, &y1, &x2, &y2, c.low, c.high), c.result);
        if (c.result) EXPECT_EQ((std::vector<int>{x1, y1, x2, y2}), (std::vector<int>(c.out, c.out + 4)));
    }
    // In y: a line down from above the range starts on its top row.
    int x1 = 0, y1 = -10, x2 = 20, y2 = 10;
    ASSERT_EQ(ClipLineToRange(&y1, &x1, &y2, &x2, 0, 5), 1);
    EXPECT_EQ((std::vector<int>{x1, y1, x2, y2}), (std::vector<int>{10, 0, 15, 5}));
}

TEST(DrawEngine, EntriesNeedAnOutputAndKeepTheStyle) {
    lvBlitDisplay *saved = RasterState.currentDisplay;
    RasterState.currentDisplay = nullptr;
    lvDrawStyle style{};
    style.fillStyle = FILLNONE, style.lineWidth = 1, style.formStyle = FORM_NORMAL;
    const int corners[4] = {0, 0, 0, 0};
    uint32_t v = 0;
    EXPECT_EQ(DrawBoxShape(nullptr, &style, 0, 0, 4, 4, 0, corners, PALETTEMODE_REMAP, nullptr, nullptr, 0),
              ERR_OUTPUTDEVICE);
    EXPECT_EQ(DrawEllipseShape(nullptr, &style, 15, 0, 0, 3, 3, 0, PALETTEMODE_REMAP, nullptr, nullptr, 0),
              ERR_OUTPUTDEVICE);
    EXPECT_EQ(DrawThickLine(nullptr, &style, 0, 0, 9, 9, 0, 4, ARROWHEAD_SINGLE, PALETTEMODE_REMAP, nullptr, nullptr, 0),
              ERR_OUTPUTDEVICE);
    EXPECT_EQ(PlotOutputPixel(nullptr, 0, 0, 0), ERR_OUTPUTDEVICE);
    EXPECT_EQ(ReadOutputPixel(nullptr, 0, 0, &v), ERR_OUTPUTDEVICE);

    lvBlitDisplay d{};
    d.target.kind = OUTPUT_IMAGE;
    d.target.bitmap = AllocRgbBitmap(40, 40, 0, nullptr);
    ASSERT_NE(d.target.bitmap, nullptr);
    FillBitmapRect(d.target.bitmap, 0, 0, 40, 40, 0);
    RasterState.currentDisplay = &d;
    const lvDrawStyle before = style;
    ASSERT_EQ(DrawThickLine(nullptr, &style, 2, 20, 38, 20, 0xFF0000, 3, ARROWHEAD_SINGLE, PALETTEMODE_REMAP, nullptr,
                            nullptr, 0),
              0);
    EXPECT_EQ(std::memcmp(&before, &style, sizeof style), 0);
    EXPECT_EQ(ReadBitmapPixel(d.target.bitmap, 20, 20, 0) & 0xFFFFFF, 0xFF0000u);  // filled, not outlined
    EXPECT_EQ(ReadBitmapPixel(d.target.bitmap, 36, 20, 0) & 0xFFFFFF, 0xFF0000u);  // the head
    EXPECT_EQ(ReadBitmapPixel(d.target.bitmap, 20, 10, 0) & 0xFFFFFF, 0u);
    ASSERT_EQ(ReadOutputPixel(nullptr, 20, 20, &v), 0);
    EXPECT_EQ(v, 0xFF0000u);
    EXPECT_EQ(ReadOutputPixel(nullptr, 40, 0, &v), ERR_PIXELRANGE);
    EXPECT_EQ(DrawBoxShape(nullptr, &style, 0, 0, 0, 4, 0, corners, PALETTEMODE_REMAP, nullptr, nullptr, 0),
              ERR_WRONGUSAGE);
    EXPECT_EQ(DrawArcShape(nullptr, &style, 0, 0, 5, 5, 30, 30, 0xFFFFFF, 1, PALETTEMODE_REMAP, nullptr, nullptr, 0), 0);
    EXPECT_EQ(DrawThickLine(nullptr, &style, 0, 0, 1, 1, 0, 1, 3, PALETTEMODE_REMAP, nullptr, nullptr, 0),
              ERR_WRONGUSAGE);
    RasterState.currentDisplay = saved;
    FreeBitmapHandle(d.target.bitmap);
}

// An allocation that fails at any step gives the engine's code and leaves the output as
// it was (and, under the sanitizers, nothing leaked).
TEST(DrawEngine, AllocationFailuresDrawNothing) {
    lvBlitDisplay *saved = RasterState.currentDisplay;
    lvBlitDisplay d{};
    d.target.kind = OUTPUT_IMAGE;
    d.target.bitmap = AllocRgbBitmap(60, 60, 0, nullptr);
    ASSERT_NE(d.target.bitmap, nullptr);
    FillBitmapRect(d.target.bitmap, 0, 0, 60, 60, 0);
    RasterState.currentDisplay = &d;
    lvDrawStyle style{};
    style.fillStyle = FILLCOLOR, style.lineWidth = 1;
    style.formStyle = FORM_ANTIALIAS | FORM_BORDER | FORM_SHADOW;
    style.borderSize = 2, style.borderColour = 0x00FF00, style.shadowSize = 3, style.shadowColour = 0x0000FF;
    style.shadowDirection = 3;
    const int rounded[4] = {30, 30, 30, 30};
    struct Case {
        const char *what;
        std::function<int()> draw;
        int x, y;  // a pixel drawn when the allocations succeed
    } cases[] = {
        {"circle", [&] { return DrawEllipseShape(nullptr, &style, 15, 5, 5, 20, 20, 0xFF0000, 1, nullptr, nullptr, 0); }, 25, 25},
        {"rounded box", [&] { return DrawBoxShape(nullptr, &style, 5, 5, 30, 20, 0xFF0000, rounded, 1, nullptr, nullptr, 0); }, 20, 15},
        {"thin arrow", [&] { return DrawThickLine(nullptr, &style, 5, 30, 55, 30, 0xFF0000, 1, 2, 1, nullptr, nullptr, 0); }, 30, 30},
        // A thick arrow is one anti-aliased, bordered polygon whose coverage plane may fail.
        {"thick arrow", [&] { return DrawThickLine(nullptr, &style, 5, 45, 55, 45, 0xFF0000, 4, 2, 1, nullptr, nullptr, 0); }, 30, 45},
    };
    for (Case &c : cases) {
        int failures = 0;
        for (int n = 0; n < 40; n++) {
            FillBitmapRect(d.target.bitmap, 0, 0, 60, 60, 0);
            FailAllocMemoryAfter(n);
            int rc = c.draw();
            FailAllocMemoryAfter(-1);
            if (rc == 0) break;
            failures++;
            EXPECT_TRUE(rc == ERR_MEM || rc == ERR_BITMAP || rc == ERR_ALLOCALPHA || rc == ERR_ALLOCMASK) << c.what << rc;
            int drawn = 0;
            for (int y = 0; y < 60; y++)
                for (int x = 0; x < 60; x++) drawn += (ReadBitmapPixel(d.target.bitmap, x, y, 0) & 0xFFFFFF) != 0;
            EXPECT_EQ(drawn, 0) << c.what << " failing after " << n;
        }
        EXPECT_GT(failures, 0) << c.what;
        EXPECT_NE(ReadBitmapPixel(d.target.bitmap, c.x, c.y, 0) & 0xFFFFFF, 0u) << c.what;
        FillBitmapRect(d.target.bitmap, 0, 0, 60, 60, 0);
        EXPECT_EQ(c.draw(), 0);
        EXPECT_NE(ReadBitmapPixel(d.target.bitmap, c.x, c.y, 0) & 0xFFFFFF, 0u) << c.what << " unhindered";
    }
    RasterState.currentDisplay = saved;
    FreeBitmapHandle(d.target.bitmap);
}

// What the line engine offers the display side for the direct window path: only a plain
// one-pixel line (no thickness, arrowhead, anti-aliasing, style-tag name or
// transparency, clip mask) on the display itself, with its colour, transparency and clip
// region; a Plot only when opaque. A refusal (0) sends the line down the image path.
struct DirectCalls {
    std::vector<lvDisplayLine> lines;
    std::vector<std::vector<int>> pixels;
    int answer = 1;
} direct;
int RecordLine(lvBlitDisplay *, const lvDisplayLine *l) {
    direct.lines.push_back(*l);
    return direct.answer;
}
int RecordPixel(lvBlitDisplay *, int x, int y, uint32_t colour) {
    direct.pixels.push_back({x, y, int(colour)});
    return direct.answer;
}

TEST(DrawEngine, OnlyPlainThinLinesOnTheDisplayAreOfferedStraight) {
    lvBlitDisplay *saved = RasterState.currentDisplay;
    lvBGPic *savedOutput = GetCurrentOutput();
    lvBitMapHandle *picture = AllocRgbBitmap(40, 40, 0, nullptr);
    lvBitMapHandle *clipMask = AllocMaskBitmap(nullptr, 40, 40, 1, nullptr, 0);
    ASSERT_NE(picture, nullptr);
    ASSERT_NE(clipMask, nullptr);
    lvBlitPicture p{};
    p.width = p.height = 40;
    p.pair.rgb = picture;
    lvBlitDisplay d{};
    d.target.kind = OUTPUT_DISPLAY;
    d.picture = &p;
    d.background.rgb = d.shown.rgb = picture;
    lvBGPic output{};
    output.scaledWidth = output.scaledHeight = 40;
    lvClipRegion box{5, 5, 20, 20, nullptr}, shaped{5, 5, 20, 20, clipMask};
    RasterState.currentDisplay = &d;
    SetCurrentOutput(&output);
    SetDisplayLineHook(RecordLine);
    SetDisplayPixelHook(RecordPixel);
    lvDrawStyle plain{};
    plain.fillStyle = FILLCOLOR, plain.lineWidth = 1, plain.formStyle = FORM_NORMAL;
    lvDrawStyle smooth = plain;
    smooth.formStyle = FORM_ANTIALIAS;
    lvStyleTags named{}, faded{};
    std::strcpy(named.name, "line");
    faded.transparency = 10;
    // A filtered line is rendered so that the filter has an image to work on.
    lvStyleTags grey{}, flipped{};
    grey.filters[6].enabled = 1;  // grayscale
    flipped.filters[FILTER_XFLIP].enabled = 1;
    struct Case {
        const char *what;
        const lvDrawStyle *style;
        uint32_t colour;
        int thickness, arrowhead;
        lvStyleTags *tags;
        lvClipRegion *clip;
        int target;
        bool offered;
    } cases[] = {
        {"plain", &plain, 0xFF0000, 1, ARROWHEAD_NONE, nullptr, nullptr, OUTPUT_DISPLAY, true},
        {"transparent: the display side decides", &plain, 0x80FF0000u, 1, ARROWHEAD_NONE, nullptr, nullptr,
         OUTPUT_DISPLAY, true},
        {"clip rectangle", &plain, 0xFF0000, 1, ARROWHEAD_NONE, nullptr, &box, OUTPUT_DISPLAY, true},
        {"clip mask", &plain, 0xFF0000, 1, ARROWHEAD_NONE, nullptr, &shaped, OUTPUT_DISPLAY, false},
        {"thickness 2", &plain, 0xFF0000, 2, ARROWHEAD_NONE, nullptr, nullptr, OUTPUT_DISPLAY, false},
        {"arrowhead", &plain, 0xFF0000, 1, ARROWHEAD_SINGLE, nullptr, nullptr, OUTPUT_DISPLAY, false},
        {"anti-aliased", &smooth, 0xFF0000, 1, ARROWHEAD_NONE, nullptr, nullptr, OUTPUT_DISPLAY, false},
        {"style-tag name", &plain, 0xFF0000, 1, ARROWHEAD_NONE, &named, nullptr, OUTPUT_DISPLAY, false},
        {"style-tag transparency", &plain, 0xFF0000, 1, ARROWHEAD_NONE, &faded, nullptr, OUTPUT_DISPLAY, false},
        {"colour filter", &plain, 0xFF0000, 1, ARROWHEAD_NONE, &grey, nullptr, OUTPUT_DISPLAY, false},
        {"geometric filter", &plain, 0xFF0000, 1, ARROWHEAD_NONE, &flipped, nullptr, OUTPUT_DISPLAY, false},
        {"a selected image", &plain, 0xFF0000, 1, ARROWHEAD_NONE, nullptr, nullptr, OUTPUT_IMAGE, false},
    };
    for (const Case &c : cases) {
        direct = DirectCalls{};
        output.clipRegion = c.clip;
        d.target.kind = c.target;
        d.target.bitmap = c.target == OUTPUT_IMAGE ? picture : nullptr;
        ASSERT_EQ(DrawThickLine(nullptr, c.style, 2, 8, 30, 8, c.colour, c.thickness, c.arrowhead, PALETTEMODE_REMAP,
                                nullptr, c.tags, 0),
                  0)
            << c.what;
        ASSERT_EQ(direct.lines.size(), c.offered ? 1u : 0u) << c.what;
        if (!c.offered) continue;
        const lvDisplayLine &l = direct.lines[0];
        EXPECT_EQ((std::vector<int>{l.x1, l.y1, l.x2, l.y2, l.width, l.height}),
                  (std::vector<int>{2, 8, 30, 8, 40, 40}))
            << c.what;
        EXPECT_EQ(l.colour, c.colour) << c.what;
        EXPECT_EQ(l.transparency, int(c.colour >> 24)) << c.what;
        EXPECT_EQ(l.clip, c.clip) << c.what;
    }
    // Plot: opaque pixels inside the output are offered, transparent ones and pixels
    // outside are not.
    output.clipRegion = nullptr;
    d.target.kind = OUTPUT_DISPLAY, d.target.bitmap = nullptr;
    direct = DirectCalls{};
    EXPECT_EQ(PlotOutputPixel(nullptr, 3, 4, 0x00123456), 0);
    EXPECT_EQ(PlotOutputPixel(nullptr, 5, 4, 0x80123456u), 0);
    EXPECT_EQ(PlotOutputPixel(nullptr, 45, 4, 0x00123456), 0);
    EXPECT_EQ(direct.pixels, (std::vector<std::vector<int>>{{3, 4, 0x123456}}));
    // A refused line still draws, through the image path (nothing to see on this display).
    direct = DirectCalls{};
    direct.answer = 0;
    EXPECT_EQ(DrawThickLine(nullptr, &plain, 2, 8, 30, 8, 0xFF0000, 1, ARROWHEAD_NONE, PALETTEMODE_REMAP, nullptr,
                            nullptr, 0),
              0);
    EXPECT_EQ(direct.lines.size(), 1u);

    SetDisplayLineHook(nullptr);
    SetDisplayPixelHook(nullptr);
    SetCurrentOutput(savedOutput);
    RasterState.currentDisplay = saved;
    FreeBitmapHandle(picture);
    FreeBitmapHandle(clipMask);
}

}  // namespace

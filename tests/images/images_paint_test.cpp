// images_paint_test.cpp - the pixel painter and the coverage rasteriser: a
// per-pixel reference painter written from the painting rules against the
// specialised compositing loops for every plane combination, hand-worked planes
// for mask modes, alpha-over, clipping, Wu and span lines, the scanline mask
// filler, far-off and broken points, allocation failures, and the two plug-in
// drawing entries writing nothing outside their buffers.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "base/lverrors.h"
#include "images/lvpaint.h"
#include "platform/lvplatform.h"
#include "raster/lvbitmap.h"
#include "raster/lvplanes.h"
#include "runtime/plugin.h"

namespace {

// ---- Plain planes and a context over them -----------------------------------------

struct Planes {
    int w, h;
    std::vector<uint32_t> rgb, source;
    std::vector<uint8_t> mask, alpha, pens, clip;
    int maskRow, clipRow;
    Planes(int w_, int h_) : w(w_), h(h_), rgb(size_t(w_) * h_), source(size_t(w_) * h_), alpha(size_t(w_) * h_),
                             pens(size_t(w_) * h_) {
        maskRow = clipRow = (w_ + 7) / 8;
        mask.assign(size_t(maskRow) * h_, 0);
        clip.assign(size_t(clipRow) * h_, 0);
    }
    bool MaskBit(int x, int y) const { return mask[size_t(y) * maskRow + x / 8] & (0x80 >> (x & 7)); }
};

enum : unsigned { P_RGB = 1, P_MASK = 2, P_ALPHA = 4, P_SOURCE = 8, P_PENS = 16, P_CLIP = 32, P_CLIPMASK = 64,
                  P_OVER = 128 };

lvPaintContext ContextOver(Planes &p, unsigned use, int format, uint32_t colour, int opacity, int maskMode) {
    lvPaintContext c{};
    c.pixelFormat = format;
    if (use & P_RGB) c.rgbPixels = reinterpret_cast<uint8_t *>(p.rgb.data()), c.rgbRowPixels = p.w, c.bytesPerPixel = 4;
    if ((use & P_SOURCE) && (use & P_RGB))
        c.sourcePixels = reinterpret_cast<const uint8_t *>(p.source.data()), c.sourceRowPixels = p.w;
    if (use & P_MASK) c.maskPixels = p.mask.data(), c.maskRowBytes = p.maskRow;
    if (use & P_ALPHA) c.alphaPixels = p.alpha.data(), c.alphaRowBytes = p.w;
    if ((use & P_PENS) && (use & P_ALPHA)) c.penSource = p.pens.data(), c.penSourceRowBytes = p.w;
    if (use & P_CLIP) {
        c.clipActive = 1, c.clipX = 2, c.clipY = 1, c.clipWidth = p.w - 4, c.clipHeight = p.h - 3;
        if (use & P_CLIPMASK) c.clipMask = p.clip.data() + 0, c.clipMaskRowBytes = p.clipRow;
    }
    c.alphaOver = (use & P_OVER) ? 1 : 0;
    SetPaintColour(&c, colour);
    c.opacity = c.coverage = opacity;
    c.lineWidth = 1;
    c.maskMode = maskMode;
    c.targetWidth = p.w;
    c.targetHeight = p.h;
    return c;
}

// The reference painter, written from the rules, one pixel a call.
uint32_t ToArgb(int format, uint32_t p) {
    switch (format) {
    case PIXFMT_BGRA32: return ((p & 0xFF) << 24) | ((p & 0xFF00) << 8) | ((p >> 8) & 0xFF00) | (p >> 24);
    default: return p;
    }
}
uint32_t FromArgb(int format, uint32_t c) { return format == PIXFMT_BGRA32 ? ToArgb(format, c) : c; }

void ReferencePaint(Planes &p, const lvPaintContext &c, int x, int y, int coverage) {
    if (x < 0 || y < 0 || x >= p.w || y >= p.h) return;
    if (c.clipActive) {
        if (x < c.clipX || y < c.clipY || x >= c.clipX + c.clipWidth || y >= c.clipY + c.clipHeight) return;
        if (c.clipMask) {
            int mx = x - c.clipX, my = y - c.clipY;
            if (!(c.clipMask[size_t(my) * c.clipMaskRowBytes + mx / 8] & (0x80 >> (mx % 8)))) return;
        }
    }
    if (c.rgbPixels) {
        uint32_t s = c.sourcePixels ? p.source[size_t(y) * p.w + x] : FromArgb(c.pixelFormat, c.colour);
        uint32_t &t = p.rgb[size_t(y) * p.w + x];
        if (coverage == 255 || c.alphaPixels) {
            t = s;
        } else {
            uint32_t ta = ToArgb(c.pixelFormat, t), sa = ToArgb(c.pixelFormat, s), out = 0;
            for (int sh = 0; sh <= 16; sh += 8) {
                int tc = (ta >> sh) & 0xFF, sc = (sa >> sh) & 0xFF;
                int v = tc + ((coverage * (sc - tc)) >> 8);
                out |= uint32_t(v) << sh;
            }
            t = FromArgb(c.pixelFormat, out);
        }
    }
    if (c.maskPixels) {
        uint8_t &b = p.mask[size_t(y) * p.maskRow + x / 8];
        uint8_t bit = uint8_t(0x80 >> (x % 8));
        if (c.maskMode == MASKINVISIBLE) b &= uint8_t(~bit);
        else if (c.maskMode == MASKXOR) b ^= bit;
        else if (c.maskMode != MASKAND) b |= bit;
    }
    if (c.alphaPixels) p.alpha[size_t(y) * p.w + x] = c.penSource ? p.pens[size_t(y) * p.w + x] : uint8_t(coverage);
}

void ReferenceComposite(Planes &p, const lvPaintContext &c, const std::vector<uint8_t> &cov, int cw, int ch, int xo,
                        int yo, int hard) {
    for (int i = 0; i < ch; i++)
        for (int j = 0; j < cw; j++) {
            int v = cov[size_t(i) * cw + j];
            if (!v) continue;
            int x = xo + j, y = yo + i, k;
            if (c.alphaOver && c.alphaPixels) {
                if (x < 0 || y < 0 || x >= p.w || y >= p.h) continue;
                int a = p.alpha[size_t(y) * p.w + x];
                k = v == 255 ? 255 : std::min(255, (a * (255 - v) + 255 * v + 127) / 255);
                if (c.opacity != 255) k = k * c.opacity / 255;
            } else {
                k = hard ? c.coverage : (c.opacity == 255 ? v : v * c.opacity / 255);
            }
            ReferencePaint(p, c, x, y, k);
        }
}

// Pixels carry a top byte too: a pixel left alone keeps it, a blended one loses it, and
// one given the colour whole takes the colour's.
void Randomise(Planes &p, std::mt19937 &rng) {
    for (auto &v : p.rgb) v = rng();
    for (auto &v : p.source) v = rng();
    for (auto &v : p.mask) v = uint8_t(rng());
    for (auto &v : p.alpha) v = uint8_t(rng());
    for (auto &v : p.pens) v = uint8_t(rng());
    for (auto &v : p.clip) v = uint8_t(rng());
}

// ---- The specialised loops against the reference ---------------------------------------

TEST(PaintComposite, EveryPlaneCombinationEqualsTheReferencePainter) {
    std::mt19937 rng(31);
    // Scattered coverage, then wider coverage in runs of 0, 255 and mixed values, so that
    // whole empty and whole full blocks of eight occur beside mixed ones.
    for (int runs : {0, 1}) {
    const int W = runs ? 45 : 21, H = 13, CW = runs ? 41 : 17, CH = 11;
    for (unsigned use = 0; use < 256; use++) {
        if (!(use & (P_RGB | P_MASK | P_ALPHA))) continue;
        for (int format : {int(PIXFMT_ARGB32), int(PIXFMT_BGRA32)})
            for (int opacity : {255, 200, 1})
                for (int hard : {0, 1})
                    for (int mode : {MASKVISIBLE, MASKINVISIBLE, MASKXOR, MASKAND}) {
                        Planes a(W, H);
                        Randomise(a, rng);
                        Planes b = a;
                        std::vector<uint8_t> cov(size_t(CW) * CH);
                        for (size_t i = 0; i < cov.size();) {
                            int kind = rng() % 4;
                            size_t n = runs ? 1 + rng() % 20 : 1;
                            for (; n > 0 && i < cov.size(); n--, i++)
                                cov[i] = kind == 0 ? 0 : kind == 1 ? 255 : uint8_t(rng());
                        }
                        int xo = int(rng() % 9) - 4, yo = int(rng() % 7) - 3;
                        lvPaintContext ca = ContextOver(a, use, format, 0x123456 ^ rng(), opacity, mode);
                        lvPaintContext cb = ContextOver(b, use, format, ca.colour, opacity, mode);
                        CompositeCoverage(cov.data(), xo, yo, &ca, CW, CH, CW, hard);
                        ReferenceComposite(b, cb, cov, CW, CH, xo, yo, hard);
                        SCOPED_TRACE("planes " + std::to_string(use) + " format " + std::to_string(format) +
                                     " opacity " + std::to_string(opacity) + " hard " + std::to_string(hard) +
                                     " mode " + std::to_string(mode));
                        ASSERT_EQ(a.rgb, b.rgb);
                        ASSERT_EQ(a.mask, b.mask);
                        ASSERT_EQ(a.alpha, b.alpha);
                    }
    }
    }
}

TEST(PaintComposite, AlphaOverAgainstHandWorkedBytes) {
    // alpha a, coverage c, opacity o -> expected byte
    struct Case { int a, c, o, expected; } cases[] = {
        {100, 128, 255, 178},  // (100*127 + 255*128 + 127) / 255 = 45467 / 255
        {100, 128, 200, 139},  // 178 * 200 / 255
        {0, 255, 200, 200},    // full coverage: 255, then the opacity
        {250, 10, 255, 250},   // (250*245 + 2550 + 127) / 255 = 63927 / 255 = 250
        {255, 1, 255, 255},
        {0, 1, 255, 1},        // (0 + 255 + 127) / 255
    };
    for (const Case &k : cases) {
        Planes p(1, 1);
        p.alpha[0] = uint8_t(k.a);
        p.rgb[0] = 0x010203;
        lvPaintContext c = ContextOver(p, P_RGB | P_ALPHA | P_OVER, PIXFMT_ARGB32, 0xA0B0C0, k.o, 0);
        uint8_t cov = uint8_t(k.c);
        CompositeCoverage(&cov, 0, 0, &c, 1, 1, 1, 0);
        EXPECT_EQ(p.alpha[0], k.expected) << "a " << k.a << " c " << k.c << " o " << k.o;
        EXPECT_EQ(p.rgb[0], 0xA0B0C0u);  // stored unblended beside an alpha target
    }
}

TEST(PaintPixelRules, RgbBlendMaskModesAndPenSource) {
    // Blend: t + (coverage * (s - t)) >> 8 per channel, the shift flooring below 0.
    Planes p(2, 1);
    p.rgb = {0x000000, 0xFFFFFF};
    lvPaintContext c = ContextOver(p, P_RGB, PIXFMT_ARGB32, 0xFF8000, 255, 0);
    c.coverage = 128;
    PaintPixel(&c, 0, 0);
    EXPECT_EQ(p.rgb[0], 0x7F4000u);
    SetPaintColour(&c, 0x000000);
    c.coverage = 1;
    PaintPixel(&c, 1, 0);
    EXPECT_EQ(p.rgb[1], 0xFEFEFEu);

    // Mask modes on a set and a clear bit.
    struct Mode { int mode; bool fromClear, fromSet; } modes[] = {
        {MASKVISIBLE, true, true}, {MASKINVISIBLE, false, false}, {MASKVANILLACOPY, true, true},
        {MASKXOR, true, false},    {MASKAND, false, true},        {MASKOR, true, true}};
    for (const Mode &m : modes) {
        Planes q(2, 1);
        q.mask[0] = 0x40;  // bit 1 set, bit 0 clear
        lvPaintContext k = ContextOver(q, P_MASK, PIXFMT_ARGB32, 0, 255, m.mode);
        PaintPixel(&k, 0, 0);
        PaintPixel(&k, 1, 0);
        EXPECT_EQ(q.MaskBit(0, 0), m.fromClear) << "mode " << m.mode;
        EXPECT_EQ(q.MaskBit(1, 0), m.fromSet) << "mode " << m.mode;
    }

    // The pen source's byte wins over the coverage.
    Planes r(1, 1);
    r.pens[0] = 7;
    lvPaintContext k = ContextOver(r, P_ALPHA | P_PENS, PIXFMT_ARGB32, 0, 255, 0);
    k.coverage = 99;
    PaintPixel(&k, 0, 0);
    EXPECT_EQ(r.alpha[0], 7);
}

TEST(PaintPixelRules, ClipRectangleAndClipMaskAreNeverCrossed) {
    Planes p(8, 8);
    lvPaintContext c = ContextOver(p, P_ALPHA | P_MASK | P_RGB, PIXFMT_ARGB32, 0xFFFFFF, 255, 0);
    c.clipActive = 1, c.clipX = 2, c.clipY = 2, c.clipWidth = 4, c.clipHeight = 4;
    // Clip mask over the rectangle: only its top-left pixel is open.
    uint8_t clip[4] = {0x80, 0, 0, 0};
    c.clipMask = clip, c.clipMaskRowBytes = 1;
    std::vector<uint8_t> full(64, 255);
    CompositeCoverage(full.data(), 0, 0, &c, 8, 8, 8, 0);
    for (int y = -2; y < 10; y++)
        for (int x = -2; x < 10; x++) {
            c.coverage = 255;
            PaintPixel(&c, x, y);
        }
    PaintWuLine(&c, -5, -5, 12, 12);
    PaintThickLine(&c, 0, 7, 7, 0);
    for (int y = 0; y < 8; y++)
        for (int x = 0; x < 8; x++) {
            bool open = x == 2 && y == 2;
            EXPECT_EQ(p.alpha[y * 8 + x] != 0, open) << x << "," << y;
            EXPECT_EQ(p.MaskBit(x, y), open) << x << "," << y;
            EXPECT_EQ(p.rgb[y * 8 + x] != 0, open) << x << "," << y;
        }
}

// ---- Lines ----------------------------------------------------------------------------------

TEST(PaintLines, WuColumnsSumToTheOpacity) {
    struct Case { int x1, y1, x2, y2, opacity; } cases[] = {
        {0, 0, 20, 20, 255}, {0, 0, 20, 20, 180}, {0, 3, 20, 10, 255}, {20, 0, 0, 13, 200}, {2, 0, 9, 20, 255},
        {0, 19, 20, 0, 128}};
    for (const Case &k : cases) {
        Planes p(24, 24);
        lvPaintContext c = ContextOver(p, P_ALPHA, PIXFMT_ARGB32, 0, k.opacity, 0);
        PaintWuLine(&c, k.x1, k.y1, k.x2, k.y2);
        bool xMajor = std::abs(k.x2 - k.x1) >= std::abs(k.y2 - k.y1);
        int from = xMajor ? std::min(k.x1, k.x2) : std::min(k.y1, k.y2);
        int to = xMajor ? std::max(k.x1, k.x2) : std::max(k.y1, k.y2);
        for (int a = 0; a < 24; a++) {
            int sum = 0, painted = 0;
            for (int b = 0; b < 24; b++) {
                int v = xMajor ? p.alpha[b * 24 + a] : p.alpha[a * 24 + b];
                sum += v;
                painted += v != 0;
            }
            if (a < from || a > to) {
                EXPECT_EQ(sum, 0);
                continue;
            }
            EXPECT_NEAR(sum, k.opacity, 1) << "column " << a;
            EXPECT_LE(painted, 2);
        }
    }
    // Equal end points: one pixel at the opacity.
    Planes p(4, 4);
    lvPaintContext c = ContextOver(p, P_ALPHA, PIXFMT_ARGB32, 0, 77, 0);
    PaintWuLine(&c, 1, 2, 1, 2);
    EXPECT_EQ(p.alpha[2 * 4 + 1], 77);
    int total = 0;
    for (uint8_t v : p.alpha) total += v;
    EXPECT_EQ(total, 77);
}

TEST(PaintLines, SpanLinesPaintRunsOfWidthOverTheAngle) {
    struct Case { int x1, y1, x2, y2, width, run; bool vertical; } cases[] = {
        {5, 5, 20, 20, 5, 7, true},    // 5 / cos 45
        {5, 10, 25, 10, 5, 5, true},   // horizontal
        {10, 5, 10, 25, 3, 3, false},  // vertical: horizontal runs
        {5, 5, 25, 15, 4, 4, true},    // 4 / cos(26.6) = 4.47
        {5, 5, 20, 20, 1, 1, true},
    };
    for (const Case &k : cases) {
        Planes p(32, 32);
        lvPaintContext c = ContextOver(p, P_ALPHA, PIXFMT_ARGB32, 0, 255, 0);
        c.lineWidth = k.width;
        PaintThickLine(&c, k.x1, k.y1, k.x2, k.y2);
        int a0 = k.vertical ? k.x1 : k.y1, a1 = k.vertical ? k.x2 : k.y2;
        for (int a = a0; a <= a1; a++) {
            int count = 0;
            for (int b = 0; b < 32; b++) count += (k.vertical ? p.alpha[b * 32 + a] : p.alpha[a * 32 + b]) != 0;
            EXPECT_EQ(count, k.run) << "at " << a << " width " << k.width;
        }
    }
    // The run is centred on the Bresenham point: at the start (5, 10) of the horizontal
    // width-5 line the column holds rows 8..12.
    Planes p(32, 32);
    lvPaintContext c = ContextOver(p, P_ALPHA, PIXFMT_ARGB32, 0, 255, 0);
    c.lineWidth = 5;
    PaintThickLine(&c, 5, 10, 25, 10);
    for (int y = 0; y < 32; y++) EXPECT_EQ(p.alpha[y * 32 + 5] != 0, y >= 8 && y <= 12) << y;
}

// ---- Polygon to mask -----------------------------------------------------------------------

TEST(PolygonMask, ScanlineFillOfHandWorkedShapes) {
    struct Case { std::vector<int> points; std::vector<std::string> rows; } cases[] = {
        {{2, 2, 5, 2, 5, 4, 2, 4},
         {"........", "........", "..####..", "..####..", "..####..", "........"}},
        // A triangle: rows 1..5, the sloped edge at x = 1 + (y - 1) + 0.5 truncated.
        {{1, 1, 1, 5, 5, 5},
         {"........", ".#......", ".##.....", ".###....", ".####...", ".#####.."}},
        // Off the mask on the left and below: cut, nothing written outside.
        {{-3, 3, 3, 3, 3, 9, -3, 9},
         {"........", "........", "........", "####....", "####....", "####...."}},
    };
    for (const Case &k : cases) {
        const int W = 8, H = 6, row = 2;
        std::vector<uint8_t> mask(row * H + 2, 0);
        mask[row * H] = mask[row * H + 1] = 0;  // guard bytes after the mask
        std::vector<int> scratch(k.points.size() / 2);
        PolygonToMask(mask.data(), row, scratch.data(), k.points.data(), int(k.points.size() / 2), W, H);
        for (int y = 0; y < H; y++) {
            std::string got;
            for (int x = 0; x < W; x++) got += (mask[y * row + x / 8] & (0x80 >> (x % 8))) ? '#' : '.';
            EXPECT_EQ(got, k.rows[y]) << "row " << y;
        }
        EXPECT_EQ(mask[row * H], 0);
        EXPECT_EQ(mask[row * H + 1], 0);
    }
}

TEST(PolygonMask, BytePlaneFillFollowsTheSameRule) {
    const int W = 8, H = 6;
    std::vector<uint8_t> plane(W * H, 0);
    const double rect[] = {2, 2, 5, 2, 5, 4, 2, 4};
    FillPolygonBytes(plane.data(), W, W, H, 7, rect, 4);
    for (int y = 0; y < H; y++)
        for (int x = 0; x < W; x++) EXPECT_EQ(plane[y * W + x], (x >= 2 && x <= 5 && y >= 2 && y <= 4) ? 7 : 0);
    const double broken[] = {0, 0, std::nan(""), 3, 5, 5};
    std::vector<uint8_t> before = plane;
    FillPolygonBytes(plane.data(), W, W, H, 9, broken, 3);
    EXPECT_EQ(plane, before);
}

// ---- Coverage rasteriser and PaintOutline ----------------------------------------------------

std::vector<std::string> AlphaRows(lvBitMapHandle *alpha) {
    uint8_t *p;
    int row;
    uintptr_t t = GetPlanePixels(alpha, &p, &row, 0);
    std::vector<std::string> rows;
    for (int y = 0; y < alpha->height; y++) {
        std::string s;
        for (int x = 0; x < alpha->width; x++) s += p[y * row + x] ? '#' : '.';
        rows.push_back(s);
    }
    ReleasePlanePixels(t);
    return rows;
}

struct Handles {
    lvBitMapHandle *rgb = nullptr, *alpha = nullptr, *mask = nullptr;
    ~Handles() {
        FreeBitmapHandle(rgb);
        FreeBitmapHandle(alpha);
        FreeBitmapHandle(mask);
    }
};

std::vector<double> Fixed(std::initializer_list<double> pixels) {
    std::vector<double> v;
    for (double p : pixels) v.push_back(p * 65536.0);
    return v;
}

TEST(PaintOutlineTest, NonAntiAliasedPolygonsAndLinesOnSmallCases) {
    struct Case {
        std::vector<double> points;
        int line, thickness, outline, xo, yo;
        std::vector<std::string> rows;
    } cases[] = {
        // Filled rectangle (1,1)-(4,3), at offset (1, 0).
        {Fixed({1, 1, 4, 1, 4, 3, 1, 3}), 0, 0, 0, 1, 0,
         {"........", "..####..", "..####..", "..####..", "........", "........"}},
        // Its one-pixel outline.
        {Fixed({1, 1, 4, 1, 4, 3, 1, 3}), 0, 0, 1, 0, 0,
         {"........", ".####...", ".#..#...", ".####...", "........", "........"}},
        // A one-pixel line (Bresenham) from (0, 0) to (6, 3).
        {{0, 0, 6, 3}, 1, 1, 0, 0, 0,
         {"##......", "..##....", "....##..", "......#.", "........", "........"}},
        // A line of thickness 3 along row 2: the rasteriser's round caps reach one
        // pixel beyond each end.
        {{1, 2, 6, 2}, 1, 3, 0, 0, 0,
         {".######.", "########", "########", "########", ".######.", "........"}},
    };
    for (const Case &k : cases) {
        Handles h;
        h.alpha = AllocAlphaBitmap(8, 6, 1, nullptr, 0);
        ASSERT_NE(h.alpha, nullptr);
        lvOutlineRequest r{};
        r.colour = 0xFFFFFF;
        r.xOffset = k.xo, r.yOffset = k.yo, r.width = 8, r.height = 6;
        r.alpha = h.alpha;
        r.points = k.points.data();
        r.count = int(k.points.size() / 2);
        r.line = k.line, r.lineThickness = k.thickness, r.outlineThickness = k.outline;
        EXPECT_EQ(PaintOutline(&r), 0);
        EXPECT_EQ(AlphaRows(h.alpha), k.rows);
    }
}

TEST(PaintOutlineTest, MaskXorTwiceLeavesTheMask) {
    Handles h;
    h.mask = AllocMaskBitmap(nullptr, 16, 10, 1, nullptr, 0);
    ASSERT_NE(h.mask, nullptr);
    uint8_t *p;
    int row;
    uintptr_t t = GetPlanePixels(h.mask, &p, &row, 1);
    for (int i = 0; i < row * 10; i++) p[i] = uint8_t(i * 37);
    std::vector<uint8_t> before(p, p + row * 10);
    ReleasePlanePixels(t);
    auto pts = Fixed({1, 1, 14, 2, 9, 8, 2, 6});
    lvOutlineRequest r{};
    r.width = 16, r.height = 10, r.mask = h.mask, r.points = pts.data(), r.count = 4, r.maskMode = MASKXOR;
    r.filled = 1;
    ASSERT_EQ(PaintOutline(&r), 0);
    t = GetPlanePixels(h.mask, &p, &row, 0);
    EXPECT_NE(std::vector<uint8_t>(p, p + row * 10), before);
    ReleasePlanePixels(t);
    ASSERT_EQ(PaintOutline(&r), 0);
    t = GetPlanePixels(h.mask, &p, &row, 0);
    EXPECT_EQ(std::vector<uint8_t>(p, p + row * 10), before);
    ReleasePlanePixels(t);
}

TEST(PaintOutlineTest, FarOffAndBrokenPointsNeitherOverflowNorDraw) {
    // A square whose corners lie far beyond 32767 px covers the whole canvas.
    for (double far : {40000.0, 3e6, 1e12}) {
        Handles h;
        h.alpha = AllocAlphaBitmap(6, 4, 1, nullptr, 0);
        auto pts = Fixed({-far, -far, far, -far, far, far, -far, far});
        lvOutlineRequest r{};
        r.width = 6, r.height = 4, r.alpha = h.alpha, r.points = pts.data(), r.count = 4, r.filled = 1;
        EXPECT_EQ(PaintOutline(&r), 0);
        EXPECT_EQ(AlphaRows(h.alpha), std::vector<std::string>(4, "######")) << far;
    }
    // Its outline lies far outside: cut near the canvas, the cut itself must not show.
    for (int aa : {0, 1}) {
        Handles h;
        h.alpha = AllocAlphaBitmap(6, 4, 1, nullptr, 0);
        auto pts = Fixed({-1e9, -1e9, 1e9, -1e9, 1e9, 1e9, -1e9, 1e9});
        lvOutlineRequest r{};
        r.width = 6, r.height = 4, r.alpha = h.alpha, r.points = pts.data(), r.count = 4, r.outlineThickness = 3;
        r.antiAlias = aa;
        EXPECT_EQ(PaintOutline(&r), 0);
        EXPECT_EQ(AlphaRows(h.alpha), std::vector<std::string>(4, "......")) << "anti-aliased " << aa;
    }
    // A triangle with one corner far off keeps its near edge: the diagonal through the canvas.
    {
        Handles h, g;
        h.alpha = AllocAlphaBitmap(6, 6, 1, nullptr, 0);
        g.alpha = AllocAlphaBitmap(6, 6, 1, nullptr, 0);
        auto farTri = Fixed({0, 0, 1e7, 1e7, 0, 1e7});
        auto nearTri = Fixed({0, 0, 100, 100, 0, 100});
        lvOutlineRequest r{};
        r.width = 6, r.height = 6, r.alpha = h.alpha, r.points = farTri.data(), r.count = 3, r.filled = 1;
        EXPECT_EQ(PaintOutline(&r), 0);
        r.alpha = g.alpha, r.points = nearTri.data();
        EXPECT_EQ(PaintOutline(&r), 0);
        EXPECT_EQ(AlphaRows(h.alpha), AlphaRows(g.alpha));
        EXPECT_EQ(AlphaRows(h.alpha)[5], "######");
    }
    // NaN and infinity draw nothing.
    for (double bad : {std::nan(""), HUGE_VAL}) {
        Handles h;
        h.alpha = AllocAlphaBitmap(6, 4, 1, nullptr, 0);
        std::vector<double> pts = Fixed({0, 0, 5, 0, 5, 3});
        pts[3] = bad;
        lvOutlineRequest r{};
        r.width = 6, r.height = 4, r.alpha = h.alpha, r.points = pts.data(), r.count = 3, r.filled = 1;
        EXPECT_EQ(PaintOutline(&r), 0);
        EXPECT_EQ(AlphaRows(h.alpha), std::vector<std::string>(4, "......"));
    }
}

TEST(PaintOutlineTest, AntiAliasedFillHasFullInteriorAndAreaCoverage) {
    Handles h;
    h.alpha = AllocAlphaBitmap(40, 40, 1, nullptr, 0);
    // A diamond of half-diagonal 15 about (20, 20): area 450 px.
    auto pts = Fixed({20, 5, 35, 20, 20, 35, 5, 20});
    lvOutlineRequest r{};
    r.width = 40, r.height = 40, r.alpha = h.alpha, r.points = pts.data(), r.count = 4, r.antiAlias = 1;
    ASSERT_EQ(PaintOutline(&r), 0);
    uint8_t *p;
    int row;
    uintptr_t t = GetPlanePixels(h.alpha, &p, &row, 0);
    double sum = 0;
    for (int y = 0; y < 40; y++)
        for (int x = 0; x < 40; x++) {
            int d = std::abs(x - 20) + std::abs(y - 20);
            if (d <= 12) {
                EXPECT_EQ(p[y * row + x], 255) << x << "," << y;
            }
            if (d >= 18) {
                EXPECT_EQ(p[y * row + x], 0) << x << "," << y;
            }
            // The rasteriser's anti-aliased edges are not exactly symmetric.
            EXPECT_NEAR(p[y * row + x], p[y * row + (40 - x) % 40], 8) << "mirror " << x << "," << y;
            sum += p[y * row + x] / 255.0;
        }
    ReleasePlanePixels(t);
    // Its anti-aliased fill grows the shape by about half a pixel at the edges.
    EXPECT_NEAR(sum, 450.0 + 0.5 * 4 * 15 * 1.414, 450.0 * 0.03);
}

TEST(PaintOutlineTest, AllocationFailureReturnsErrMemAndPaintsNothing) {
    Handles h;
    h.alpha = AllocAlphaBitmap(8, 8, 1, nullptr, 0);
    auto pts = Fixed({0, 0, 7, 0, 7, 7});
    lvOutlineRequest r{};
    r.width = 8, r.height = 8, r.alpha = h.alpha, r.points = pts.data(), r.count = 3, r.filled = 1;
    for (int n = 0; n < 2; n++) {
        FailAllocMemoryAfter(n);
        int rc = PaintOutline(&r);
        FailAllocMemoryAfter(-1);
        EXPECT_EQ(rc, ERR_MEM) << n;
        EXPECT_EQ(AlphaRows(h.alpha), std::vector<std::string>(8, "........"));
    }
    lvCoverageImage *img = reinterpret_cast<lvCoverageImage *>(1);
    FailAllocMemoryAfter(1);
    EXPECT_EQ(CreateCoverageImage(4, 4, &img, nullptr, nullptr), ERR_MEM);
    FailAllocMemoryAfter(-1);
    EXPECT_EQ(img, nullptr);
}

TEST(PaintOutlineTest, OnePixelLinesIntoBitmapsStayInside) {
    Handles h;
    h.rgb = AllocRgbBitmap(8, 4, 0, nullptr);
    ASSERT_NE(h.rgb, nullptr);
    FillBitmapRect(h.rgb, 0, 0, 8, 4, 0);
    PlotLineOnBitmap(h.rgb, -3, 1, 20, 1, 0x00FF00);
    PlotLineOnBitmap(h.rgb, 2, -9, 2, 100, 0x0000FF);
    PlotLineOnBitmap(h.rgb, -100, -100, -1, -1, 0xFF0000);
    for (int y = 0; y < 4; y++)
        for (int x = 0; x < 8; x++) {
            uint32_t want = x == 2 ? 0x0000FF : y == 1 ? 0x00FF00 : 0;
            EXPECT_EQ(ReadBitmapPixel(h.rgb, x, y, 0) & 0xFFFFFF, want) << x << "," << y;
        }
}

TEST(PaintOutlineTest, VideoBitmapLinesGoToTheAdapter) {
    static std::vector<std::vector<intptr_t>> calls;
    calls.clear();
    SetAdapterLineHook([](void *backing, int x1, int y1, int x2, int y2, uint32_t colour, int flags) {
        calls.push_back({reinterpret_cast<intptr_t>(backing), x1, y1, x2, y2, intptr_t(colour), flags});
    });
    int token;
    lvBitMapHandle video{};
    video.kind = BMKIND_RGB, video.backing = &token, video.video = 1, video.width = video.height = 8;
    PlotLineOnBitmap(&video, 1, 2, 3, 4, 0x00ABCDEF);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0][0], reinterpret_cast<intptr_t>(&token));
    EXPECT_EQ((std::vector<intptr_t>(calls[0].begin() + 1, calls[0].begin() + 5)), (std::vector<intptr_t>{1, 2, 3, 4}));
    EXPECT_EQ(calls[0][6], 2);
    // The rgb of a selected alpha channel: flag 4 and the colour unchanged.
    lvBlitDisplay display{};
    display.target.kind = OUTPUT_ALPHA;
    display.target.bitmap = &video;
    lvBlitDisplay *saved = RasterState.currentDisplay;
    RasterState.currentDisplay = &display;
    PlotLineOnBitmap(&video, 0, 0, 1, 1, 0x00000080);
    RasterState.currentDisplay = saved;
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[1][6], 6);
    EXPECT_EQ(calls[1][5], 0x80);
    SetAdapterLineHook(nullptr);
}

// ---- Plug-in entries --------------------------------------------------------------------------

TEST(PluginDrawing, LinesNeverWriteOutsideTheBuffer) {
    const int W = 8, H = 6, GUARD = 16;
    struct Case { int x1, y1, x2, y2; bool withClip; } cases[] = {
        {-5, -5, 20, 3, false}, {-100, 2, 100, 2, false}, {3, -50, 3, 2, false}, {-7, -7, -1, -1, false},
        {0, 0, 7, 5, true},     {100000, -100000, -100000, 100000, false}};
    for (const Case &k : cases) {
        std::vector<uint32_t> buf(GUARD + W * H + GUARD, 0xDEADBEEF);
        for (int i = 0; i < W * H; i++) buf[GUARD + i] = 0;
        lvPluginClipBounds clip = {2, 1, 5, 4};  // corners: x 2..4, y 1..3
        lvPluginTag tags[] = {{2, W}, {k.withClip ? 3u : 0u, reinterpret_cast<intptr_t>(&clip)}, {0, 0}};
        PluginDrawLine(reinterpret_cast<uint8_t *>(buf.data() + GUARD), k.x1, k.y1, k.x2, k.y2, 0x00FF00, 0, tags);
        for (int i = 0; i < GUARD; i++) {
            ASSERT_EQ(buf[i], 0xDEADBEEFu) << "before the buffer";
        }
        int painted = 0;
        for (int y = 0; y < H; y++)
            for (int x = 0; x < W; x++)
                if (buf[GUARD + y * W + x]) {
                    painted++;
                    EXPECT_EQ(buf[GUARD + y * W + x], 0x00FF00u);
                    if (k.withClip) {
                        EXPECT_TRUE(x >= 2 && x <= 4 && y >= 1 && y <= 3) << x << "," << y;
                    }
                }
        if (k.withClip) {
            EXPECT_EQ(painted, 3);  // the diagonal through the clip square
        }
    }
    // Without a row length nothing is drawn.
    uint32_t px[4] = {0, 0, 0, 0};
    lvPluginTag none[] = {{1, PIXFMT_ARGB32}, {0, 0}};
    PluginDrawLine(reinterpret_cast<uint8_t *>(px), 0, 0, 3, 0, 0xFFFFFF, 0, none);
    EXPECT_EQ(px[0] | px[1] | px[2] | px[3], 0u);
    // Flag 1: the colour's top byte is the opacity (half-way from black to 0xFE00FE).
    lvPluginTag row[] = {{2, 4}, {0, 0}};
    PluginDrawLine(reinterpret_cast<uint8_t *>(px), 0, 0, 3, 0, 0x80FE00FEu, 1, row);
    EXPECT_EQ(px[2], 0x7F007Fu);
}

TEST(PluginDrawing, PolygonIntoRawPixelsAndBitmapsWithOffsets) {
    const int W = 8, H = 6;
    std::vector<uint32_t> buf(W * H, 0);
    int32_t pts[] = {0, 0, 3, 0, 3, 2, 0, 2};
    lvPluginTag tags[] = {{2, W}, {3, -2}, {4, 3}, {0, 0}};
    EXPECT_EQ(PluginDrawPolygon(buf.data(), pts, 4, 0x0000FF, 0, tags), 1);
    for (int y = 0; y < H; y++)
        for (int x = 0; x < W; x++)
            EXPECT_EQ(buf[y * W + x], (x <= 1 && y >= 3 && y <= 5) ? 0x0000FFu : 0u) << x << "," << y;
    Handles h;
    h.rgb = AllocRgbBitmap(5, 5, 0, nullptr);
    ASSERT_NE(h.rgb, nullptr);
    FillBitmapRect(h.rgb, 0, 0, 5, 5, 0);
    int32_t tri[] = {1, 1, 10, 1, 1, 10};
    EXPECT_EQ(PluginDrawPolygon(h.rgb, tri, 3, 0xFF0000, 0, nullptr), 1);
    EXPECT_EQ(ReadBitmapPixel(h.rgb, 4, 1, 0) & 0xFFFFFF, 0xFF0000u);
    EXPECT_EQ(ReadBitmapPixel(h.rgb, 0, 0, 0) & 0xFFFFFF, 0u);
    EXPECT_EQ(PluginDrawPolygon(nullptr, tri, 3, 0xFF0000, 0, nullptr), 0);
}

TEST(PluginDrawing, SlotsAreLiveInTheInterfaceTable) {
    InstallDrawPluginEntries();
    const lvPluginApi *api = GetPluginApi();
    uint32_t px[8] = {0, 0, 0, 0, 0, 0, 0, 0};  // two rows of 4
    lvPluginTag row[] = {{2, 4}, {0, 0}};
    api->graphics->DrawRawLine(reinterpret_cast<uint8_t *>(px), 0, 0, 3, 0, 0x010203, 0, row);
    EXPECT_EQ(px[3], 0x010203u);
    int32_t pts[] = {0, 0, 1, 0, 1, 1};
    lvPluginTag raw[] = {{2, 4}, {0, 0}};
    EXPECT_EQ(api->graphics->DrawPolygon(px, pts, 3, 0x0A0B0C, 0, raw), 1);
    EXPECT_EQ(px[0], 0x0A0B0Cu);
}

}  // namespace

// Row kernels against hand-computed pixels: interpolation, over, byte-plane
// modes, mask modes and bit layouts, padding and format layouts.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "raster/lvkernels.h"
#include "raster/lvraster.h"

namespace {

// A job over two raw 32-bit buffers of the same row length.
lvKernelJob Job32(const void *src, void *dst, int row, int w, int h) {
    lvKernelJob j{};
    j.source = src;
    j.sourceRow = row;
    j.target = dst;
    j.targetRow = row;
    j.width = w;
    j.height = h;
    j.format = PIXFMT_ARGB32;
    j.transparentPen = -1;
    return j;
}

TEST(RowKernels, LerpUsesArithmeticShift) {
    EXPECT_EQ(LerpRgb(0x203040, 0xFF8000, 128), 0x8F5820u);
    EXPECT_EQ(LerpRgb(0x000010, 0x00000F, 1), 0x00000Fu);  // (1 * -1) >> 8 = -1
    EXPECT_EQ(LerpRgb(0x000000, 0xFFFFFF, 255), 0xFEFEFEu); // 255 does not reach the source
    EXPECT_EQ(LerpRgb(0x123456, 0xFFFFFF, 0), 0x123456u);
}

TEST(RowKernels, OverFormula) {
    uint8_t a = 0;
    EXPECT_EQ(OverRgb(0x000000, 0xC08040, 128, &a), 0xC08040u);  // onto alpha 0: the source colour
    EXPECT_EQ(a, 128);
    a = 255;
    EXPECT_EQ(OverRgb(0x000000, 0xFFFFFF, 128, &a), 0x808080u);  // (127 t + 128 s + 127) / 255
    EXPECT_EQ(a, 255);
    a = 100;
    // e = 127 * 100 = 12700; n = (32640 + 12700 + 127) / 255 = 178; f = 50;
    // red = (200 * 50 + 128 * 10 + 127) / 178 = 64.
    EXPECT_EQ((OverRgb(0xC80000, 0x0A0000, 128, &a) >> 16) & 0xFF, 64u);
    EXPECT_EQ(a, 178);
}

TEST(RowKernels, FillAndCopyStayInsideTheRectangle) {
    std::vector<uint32_t> src(8 * 4), dst(8 * 4, 0xDEADBEEF);
    for (size_t i = 0; i < src.size(); i++) src[i] = 0x01000000u * i + i;
    lvKernelJob j = Job32(src.data(), dst.data(), 8, 3, 2);
    j.sourceX = 1;
    j.sourceY = 1;
    j.targetX = 4;
    j.targetY = 2;
    CopyRect32(&j);
    for (int y = 0; y < 4; y++)
        for (int x = 0; x < 8; x++) {
            bool in = x >= 4 && x < 7 && y >= 2 && y < 4;
            uint32_t want = in ? src[(y - 1) * 8 + (x - 3)] : 0xDEADBEEF;
            EXPECT_EQ(dst[y * 8 + x], want) << x << "," << y;
        }
    j.value = 0x11223344;
    j.targetX = 0;
    j.targetY = 0;
    FillRect32(&j);
    EXPECT_EQ(dst[0], 0x11223344u);
    EXPECT_EQ(dst[8 + 2], 0x11223344u);
    EXPECT_EQ(dst[3], 0xDEADBEEFu);
}

TEST(RowKernels, LargeFillsStayInsideTheRectangle) {
    // Large enough for the streaming fill: its edges must hold as well.
    const int row = 1100, h = 1002;
    std::vector<uint32_t> px(size_t(row) * h, 7);
    lvKernelJob j = Job32(nullptr, px.data(), row, 1030, 1000);
    j.targetX = 5;
    j.targetY = 1;
    j.value = 0xA1B2C3D4;
    FillRect32(&j);
    EXPECT_EQ(px[row + 4], 7u);
    EXPECT_EQ(px[row + 5], 0xA1B2C3D4u);
    EXPECT_EQ(px[size_t(1000) * row + 1034], 0xA1B2C3D4u);
    EXPECT_EQ(px[size_t(1000) * row + 1035], 7u);
    EXPECT_EQ(px[size_t(1001) * row + 5], 7u);
    EXPECT_EQ(px[5], 7u);
    size_t filled = 0;
    for (uint32_t v : px) filled += v == 0xA1B2C3D4u;
    EXPECT_EQ(filled, size_t(1030) * 1000);
}

TEST(RowKernels, TintAmountsAndLayouts) {
    uint32_t px[2] = {0x00000000, 0xAA000000};
    lvKernelJob j = Job32(nullptr, px, 2, 2, 1);
    j.value = 0xFFFFFF;
    j.level = 128;
    TintRect32(&j);
    EXPECT_EQ(px[0], 0x7F7F7Fu);  // (128 * 255) >> 8 = 127
    EXPECT_EQ(px[1], 0x7F7F7Fu);  // the alpha byte is not kept
    // The same tint on a BGRA pixel works on its colour bytes.
    uint32_t bgra = ArgbToPixel32(PIXFMT_BGRA32, 0x00203040);
    j = Job32(nullptr, &bgra, 1, 1, 1);
    j.format = PIXFMT_BGRA32;
    j.value = 0xFF8000;
    j.level = 128;
    TintRect32(&j);
    EXPECT_EQ(bgra, ArgbToPixel32(PIXFMT_BGRA32, 0x008F5820));
}

// Reference of a masked copy: one bit at a time.
void MaskedCopyReference(const std::vector<uint32_t> &s, std::vector<uint32_t> &d, const std::vector<uint8_t> &m,
                         int row, int mrow, int sx, int sy, int tx, int ty, int w, int h) {
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            int mx = sx + x, my = sy + y;
            if ((m[my * mrow + mx / 8] >> (7 - mx % 8)) & 1) d[(ty + y) * row + tx + x] = s[my * row + mx];
        }
}

TEST(RowKernels, MaskedCopyMatchesBitByBitReference) {
    std::mt19937 rng(7);
    const int row = 40, mrow = 6, h = 6;
    for (int trial = 0; trial < 200; trial++) {
        std::vector<uint32_t> s(row * h), d(row * h), ref;
        std::vector<uint8_t> m(mrow * h);
        for (auto &v : s) v = rng();
        for (auto &v : d) v = rng();
        // Masks with whole set and clear bytes as well as mixed ones.
        for (auto &v : m) {
            int k = rng() % 3;
            v = k == 0 ? 0xFF : (k == 1 ? 0 : static_cast<uint8_t>(rng()));
        }
        ref = d;
        int sx = rng() % 20, sy = rng() % 3, tx = rng() % 20, ty = rng() % 3;
        int w = 1 + rng() % 20, hh = 1 + rng() % 3;
        MaskedCopyReference(s, ref, m, row, mrow, sx, sy, tx, ty, w, hh);
        lvKernelJob j = Job32(s.data(), d.data(), row, w, hh);
        j.sourceX = sx;
        j.sourceY = sy;
        j.targetX = tx;
        j.targetY = ty;
        j.plane = m.data();
        j.planeRow = mrow;
        CopyThroughMask32(&j);
        ASSERT_EQ(d, ref) << "trial " << trial;
    }
}

TEST(RowKernels, FillThroughMaskBitLayout) {
    // Bits 7 - (x & 7): mask byte 0x41 sets pixels 1 and 7; the second byte's
    // 0x80 sets pixel 8. Starting at source x 1 shifts the pattern left.
    uint8_t mask[2] = {0x41, 0x80};
    uint32_t px[9] = {};
    lvKernelJob j = Job32(nullptr, px, 9, 8, 1);
    j.sourceX = 1;
    j.plane = mask;
    j.planeRow = 2;
    j.value = 5;
    FillThroughMask32(&j);
    const uint32_t want[9] = {5, 0, 0, 0, 0, 0, 5, 5, 0};
    for (int i = 0; i < 9; i++) EXPECT_EQ(px[i], want[i]) << i;
    uint8_t bytes[9] = {};
    j.target = bytes;
    FillBytesThroughMask(&j);
    for (int i = 0; i < 9; i++) EXPECT_EQ(bytes[i], want[i]) << i;
}

TEST(RowKernels, BlendThroughCoverage) {
    uint32_t src[4] = {0xAAFF8000, 0xBB123456, 0xCC00FF00, 0x00000010};
    uint32_t dst[4] = {0x11203040, 0x22654321, 0x33000000, 0x00000010};
    uint8_t cov[4] = {128, 0, 255, 1};
    lvKernelJob j = Job32(src, dst, 4, 4, 1);
    j.plane = cov;
    j.planeRow = 4;
    BlendThroughCoverage32(&j);
    EXPECT_EQ(dst[0], 0x008F5820u);  // lerp, alpha byte 0
    EXPECT_EQ(dst[1], 0x22654321u);  // coverage 0: untouched, alpha kept
    EXPECT_EQ(dst[2], 0xCC00FF00u);  // coverage 255: the source word
    EXPECT_EQ(dst[3], 0x00000010u);
    // The same blend on every 32-bit layout gives the same colours.
    for (int f = PIXFMT_ARGB32; f <= PIXFMT_ABGR32; f++) {
        uint32_t s = ArgbToPixel32(f, 0x00FF8000), d = ArgbToPixel32(f, 0x00203040);
        uint8_t c = 128;
        lvKernelJob k = Job32(&s, &d, 1, 1, 1);
        k.format = f;
        k.plane = &c;
        k.planeRow = 1;
        BlendThroughCoverage32(&k);
        EXPECT_EQ(Pixel32ToArgb(f, d) & 0xFFFFFF, 0x8F5820u) << f;
    }
}

// Wide rows with random coverage (runs of 0 and 255 among them) in both
// channel layouts, against the per-pixel rule.
TEST(RowKernels, WideCoverageRowsMatchThePerPixelRule) {
    std::mt19937 rng(3);
    for (int format : {PIXFMT_ARGB32, PIXFMT_BGRA32, PIXFMT_RGBA32, PIXFMT_ABGR32}) {
        for (int trial = 0; trial < 40; trial++) {
            int w = 1 + rng() % 37;
            std::vector<uint32_t> src(w), dst(w), want(w), solid(w), wantSolid(w);
            std::vector<uint8_t> cov(w);
            for (int x = 0; x < w; x++) {
                src[x] = rng();
                dst[x] = solid[x] = rng();
                int k = rng() % 4;
                cov[x] = k == 0 ? 0 : (k == 1 ? 255 : static_cast<uint8_t>(rng()));
                if (trial % 5 == 0) cov[x] = (x / 4) % 2 ? 255 : 0;  // whole groups of 0 or 255
            }
            const uint32_t colour = 0x00C08040, pix = ArgbToPixel32(format, colour);
            for (int x = 0; x < w; x++) {
                uint32_t t = Pixel32ToArgb(format, dst[x]) & 0xFFFFFF, sc = Pixel32ToArgb(format, src[x]) & 0xFFFFFF;
                want[x] = cov[x] == 0 ? dst[x] : cov[x] == 255 ? src[x] : ArgbToPixel32(format, LerpRgb(t, sc, cov[x]));
                wantSolid[x] = cov[x] == 0 ? dst[x] : cov[x] == 255 ? pix : ArgbToPixel32(format, LerpRgb(t, colour, cov[x]));
            }
            lvKernelJob j = Job32(src.data(), dst.data(), w, w, 1);
            j.format = format;
            j.plane = cov.data();
            j.planeRow = w;
            BlendThroughCoverage32(&j);
            ASSERT_EQ(dst, want) << "format " << format << " trial " << trial;
            lvKernelJob c = Job32(nullptr, solid.data(), w, w, 1);
            c.format = format;
            c.plane = cov.data();
            c.planeRow = w;
            c.mode = 1;
            c.value = colour;
            DrawColorThroughCoverage32(&c);
            ASSERT_EQ(solid, wantSolid) << "format " << format << " trial " << trial;
        }
    }
}

TEST(RowKernels, CopyAndCompositeThroughCoverage) {
    uint32_t src[3] = {1, 2, 3}, dst[3] = {7, 8, 9};
    uint8_t cov[3] = {0, 1, 255};
    lvKernelJob j = Job32(src, dst, 3, 3, 1);
    j.plane = cov;
    j.planeRow = 3;
    CopyThroughCoverage32(&j);
    EXPECT_EQ(dst[0], 7u);
    EXPECT_EQ(dst[1], 2u);
    EXPECT_EQ(dst[2], 3u);
    j.source = nullptr;
    j.value = 0x00ABCDEF;
    uint32_t dst2[3] = {7, 8, 9};
    j.target = dst2;
    CopyThroughCoverage32(&j);
    EXPECT_EQ(dst2[1], 0x00ABCDEFu);
    // Composite: coverage 255 writes the colour and alpha 255; 128 over alpha 0
    // gives the colour and alpha 128; the opacity scales the coverage.
    uint32_t t[3] = {0, 0, 0};
    uint8_t ta[3] = {9, 0, 0};
    uint8_t cv[3] = {0, 255, 128};
    lvKernelJob c = Job32(nullptr, t, 3, 3, 1);
    c.plane = cv;
    c.planeRow = 3;
    c.targetAlpha = ta;
    c.targetAlphaRow = 3;
    c.value = 0x00C08040;
    c.level = 255;
    CompositeThroughCoverage32(&c);
    EXPECT_EQ(t[0], 0u);
    EXPECT_EQ(ta[0], 9);
    EXPECT_EQ(t[1], 0x00C08040u);
    EXPECT_EQ(ta[1], 255);
    EXPECT_EQ(t[2], 0x00C08040u);
    EXPECT_EQ(ta[2], 128);
    uint32_t u = 0;
    uint8_t ua = 0, uc = 255;
    c.target = &u;
    c.targetAlpha = &ua;
    c.plane = &uc;
    c.width = 1;
    c.level = 128;  // w = 128 * 255 / 255
    CompositeThroughCoverage32(&c);
    EXPECT_EQ(ua, 128);
}

TEST(RowKernels, ColourThroughCoverageModes) {
    struct Case {
        int mode;
        uint8_t coverage;
        uint32_t target;
        uint8_t alphaBefore;
        uint32_t wantColour;
        int wantAlpha;  // -1: no alpha plane
    } cases[] = {
        {0, 0, 0x111111, 0, 0x111111, -1},
        {0, 1, 0x111111, 0, 0xFF8000, -1},
        {1, 255, 0x203040, 0, 0xFF8000, -1},
        {1, 128, 0x203040, 0, 0x8F5820, -1},
        {4, 64, 0x203040, 0, 0xFF8000, -1},
        {4, 32, 0x203040, 0, 0x8F5820, -1},  // lerp by 128
        {4, 0, 0x203040, 0, 0x203040, -1},
        {2, 128, 0x203040, 0, 0xFF8000, 100},   // alpha 0: colour, alpha 200 * 128 / 255
        {2, 128, 0x203040, 64, 0x8F5820, 75},   // 200 * (64 + ((128 * 64) >> 8)) / 255
        {2, 0, 0x203040, 64, 0x203040, 64},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "mode " << c.mode << " coverage " << int(c.coverage));
        uint32_t t = c.target;
        uint8_t a = c.alphaBefore, cov = c.coverage;
        lvKernelJob j = Job32(nullptr, &t, 1, 1, 1);
        j.plane = &cov;
        j.planeRow = 1;
        j.mode = c.mode;
        j.value = 0x00FF8000;
        j.level = 200;
        if (c.wantAlpha >= 0) {
            j.targetAlpha = &a;
            j.targetAlphaRow = 1;
        }
        DrawColorThroughCoverage32(&j);
        EXPECT_EQ(t & 0xFFFFFF, c.wantColour);
        if (c.wantAlpha >= 0) {
            EXPECT_EQ(a, c.wantAlpha);
        }
    }
    // Mode 3: a 16-bit coverage plane; the low byte weighs, the word sets alpha.
    uint16_t cov16[2] = {0x0180, 0x0080};
    uint32_t t[2] = {0x203040, 0x203040};
    uint8_t a[2] = {0, 64};
    lvKernelJob j = Job32(nullptr, t, 2, 2, 1);
    j.plane = reinterpret_cast<uint8_t *>(cov16);
    j.planeRow = 4;
    j.mode = 3;
    j.value = 0x00FF8000;
    j.level = 255;
    j.targetAlpha = a;
    j.targetAlphaRow = 2;
    DrawColorThroughCoverage32(&j);
    EXPECT_EQ(t[0], 0x00FF8000u);
    EXPECT_EQ(a[0], 0x80);  // (255 * 0x180 / 255) & 0xFF
    EXPECT_EQ(t[1], 0x008F5820u);
    EXPECT_EQ(a[1], 96);  // 255 * (64 + ((128 * 64) >> 8)) / 255
}

TEST(RowKernels, ArgbRowsInAndOut) {
    const uint32_t argb = 0x11223344;
    struct Case {
        int format;
        uint32_t written, readBack;
    } cases[] = {
        {PIXFMT_ARGB32, 0x11223344, 0x11223344},
        {PIXFMT_BGRA32, 0x44332200, 0x00223344},
        {PIXFMT_RGBA32, 0x22334400, 0x00223344},
        {PIXFMT_ABGR32, 0x00443322, 0x00223344},
    };
    for (const Case &c : cases) {
        uint32_t px = 0;
        lvKernelJob w = Job32(&argb, &px, 1, 1, 1);
        w.format = c.format;
        WriteArgbRect32(&w);
        EXPECT_EQ(px, c.written) << c.format;
        uint32_t back = 0;
        lvKernelJob r = Job32(&px, &back, 1, 1, 1);
        r.format = c.format;
        ReadRectArgb32(&r);
        EXPECT_EQ(back, c.readBack) << c.format;
    }
    // Reading keeps the alpha of format 11 but not of 12 and 13.
    uint32_t bgra = 0x44332211, rgba = 0x22334411, abgr = 0x11443322, out = 0;
    lvKernelJob r = Job32(&bgra, &out, 1, 1, 1);
    r.format = PIXFMT_BGRA32;
    ReadRectArgb32(&r);
    EXPECT_EQ(out, 0x11223344u);
    r.source = &rgba;
    r.format = PIXFMT_RGBA32;
    ReadRectArgb32(&r);
    EXPECT_EQ(out, 0x00223344u);
    r.source = &abgr;
    r.format = PIXFMT_ABGR32;
    ReadRectArgb32(&r);
    EXPECT_EQ(out, 0x00223344u);
    uint8_t alpha[2] = {};
    uint32_t two[2] = {0xAB000000, 0x01FFFFFF};
    lvKernelJob e = Job32(two, alpha, 2, 2, 1);
    ExtractAlphaBytes(&e);
    EXPECT_EQ(alpha[0], 0xAB);
    EXPECT_EQ(alpha[1], 0x01);
}

TEST(RowKernels, ChunkyToPixels) {
    uint32_t pal[256] = {0x000011, 0x000022, 0x000033};
    uint8_t pens[4] = {0, 1, 2, 0};
    uint32_t px[4] = {9, 9, 9, 9};
    lvKernelJob j{};
    j.source = pens;
    j.sourceRow = 4;
    j.target = px;
    j.targetRow = 4;
    j.width = 4;
    j.height = 1;
    j.format = PIXFMT_ARGB32;
    j.palette = pal;
    j.transparentPen = 0;
    ChunkyToPixels32(&j);
    EXPECT_EQ(px[0], 9u);
    EXPECT_EQ(px[1], 0x22u);
    EXPECT_EQ(px[2], 0x33u);
    EXPECT_EQ(px[3], 9u);
    j.transparentPen = -1;  // every pen opaque
    ChunkyToPixels32(&j);
    EXPECT_EQ(px[0], 0x11u);
    // With an output mask and the write-all flag: pen 0's colour is written but
    // its mask bit stays clear.
    uint8_t out = 0;
    uint32_t px2[4] = {9, 9, 9, 9};
    j.target = px2;
    j.transparentPen = 0;
    j.output = &out;
    j.outputRow = 1;
    j.outputIsMask = 1;
    j.writeAll = 1;
    ChunkyToPixels32(&j);
    EXPECT_EQ(px2[0], 0x11u);
    EXPECT_EQ(out, 0x60);  // pixels 1 and 2
    // Output alpha: the value goes where the pen is opaque.
    uint8_t oa[4] = {};
    j.output = oa;
    j.outputRow = 4;
    j.outputIsMask = 0;
    j.writeAll = 0;
    j.level = 77;
    ChunkyToPixels32(&j);
    EXPECT_EQ(oa[0], 0);
    EXPECT_EQ(oa[1], 77);
    // With a source mask: set bits whose pen is not transparent.
    uint8_t mask = 0xA0;  // pixels 0 and 2
    uint32_t px3[4] = {9, 9, 9, 9};
    j.target = px3;
    j.output = nullptr;
    j.plane = &mask;
    j.planeRow = 1;
    ChunkyToPixels32(&j);
    EXPECT_EQ(px3[0], 9u);  // set but transparent
    EXPECT_EQ(px3[1], 9u);  // clear
    EXPECT_EQ(px3[2], 0x33u);
}

TEST(RowKernels, MixRect) {
    uint32_t src[3] = {0x00FF8000, 0x00FF8000, 0x00FF8000};
    uint32_t dst[3] = {0x203040, 0x203040, 0x203040};
    uint8_t alpha[3] = {255, 0, 128};
    lvKernelJob j = Job32(src, dst, 3, 3, 1);
    j.sourceBytes = 4;
    j.level = 255;
    MixRect32(&j);  // ratio 255, no planes: a copy
    EXPECT_EQ(dst[0], 0x00FF8000u);
    uint32_t d2[3] = {0x203040, 0x203040, 0x203040};
    j.target = d2;
    j.plane2 = alpha;
    j.plane2Row = 3;
    MixRect32(&j);
    EXPECT_EQ(d2[0], 0x00FF8000u);
    EXPECT_EQ(d2[1], 0x203040u);  // alpha 0 leaves the target
    EXPECT_EQ(d2[2], 0x8F5820u);  // 255 * 128 / 255 = 128
    // Pens: the transparent pen is skipped, others mix their palette colour.
    uint32_t pal[256] = {0, 0xFF8000};
    uint8_t pens[2] = {0, 1};
    uint32_t d3[2] = {0x203040, 0x203040};
    lvKernelJob p = Job32(pens, d3, 2, 2, 1);
    p.sourceRow = 2;
    p.sourceBytes = 1;
    p.palette = pal;
    p.transparentPen = 0;
    p.level = 128;
    MixRect32(&p);
    EXPECT_EQ(d3[0], 0x203040u);
    EXPECT_EQ(d3[1], 0x8F5820u);
}

TEST(RowKernels, MixOverATargetAlpha) {
    // With a target alpha plane the mix composites: weight 128 over alpha 0
    // gives the colour and alpha 128; weight 255 gives alpha 255.
    uint32_t d[2] = {0x000000, 0x000000};
    uint8_t ta[2] = {0, 0};
    lvKernelJob j = Job32(nullptr, d, 2, 2, 1);
    j.value = 0x00C08040;
    j.level = 128;
    j.targetAlpha = ta;
    j.targetAlphaRow = 2;
    MixRect32(&j);
    EXPECT_EQ(d[0], 0x00C08040u);
    EXPECT_EQ(ta[0], 128);
    j.level = 255;
    j.width = 1;
    j.targetX = 1;
    MixRect32(&j);
    EXPECT_EQ(d[1], 0x00C08040u);
    EXPECT_EQ(ta[1], 255);
    // A mask source without alpha: clear bits are transparent.
    uint32_t e[2] = {1, 1};
    uint8_t m = 0x40;
    lvKernelJob k = Job32(nullptr, e, 2, 2, 1);
    k.value = 0x00ABCDEF;
    k.level = 255;
    k.plane = &m;
    k.planeRow = 1;
    MixRect32(&k);
    EXPECT_EQ(e[0], 1u);
    EXPECT_EQ(e[1], 0x00ABCDEFu);
}

TEST(RowKernels, BytePlaneModes) {
    // Target 100 before every case; value: low byte 7 (k), second byte 200 (h).
    struct Case {
        int mode;
        uint8_t s, want;
    } cases[] = {
        {0, 0, 0},     {0, 50, 50},    {1, 0, 100},   {1, 50, 50},    {2, 0, 100},   {2, 55, 200},
        {3, 0, 100},   {3, 1, 255},    {4, 0, 100},    {5, 0, 100},   {5, 55, 200},
        {6, 0, 100},   {6, 9, 7},      {7, 0, 0},     {7, 9, 9},      {8, 7, 7},     {8, 9, 100},
        {9, 0, 100},   {9, 255, 255},  {9, 128, 178}, {10, 7, 100},   {10, 9, 9},    {11, 7, 100},
        {11, 9, 200},  {12, 0, 100},   {12, 1, 42},
    };
    for (const Case &c : cases) {
        uint8_t s = c.s, t = 100, third = 42;
        lvKernelJob j{};
        j.source = &s;
        j.sourceRow = 1;
        j.target = &t;
        j.targetRow = 1;
        j.width = j.height = 1;
        j.mode = c.mode;
        j.value = (200 << 8) | 7;
        j.third = &third;
        j.thirdRow = 1;
        CombineByteRows(&j);
        EXPECT_EQ(t, c.want) << "mode " << c.mode << " s " << int(c.s);
    }
    // Mode 4 scales by the whole value; mode 9 over 0 and over 255.
    uint8_t s = 200, t = 1;
    lvKernelJob j{};
    j.source = &s;
    j.target = &t;
    j.sourceRow = j.targetRow = 1;
    j.width = j.height = 1;
    j.mode = 4;
    j.value = 100;
    CombineByteRows(&j);
    EXPECT_EQ(t, 78);  // 100 * 200 / 255
    s = 128;
    t = 0;
    j.mode = 9;
    CombineByteRows(&j);
    EXPECT_EQ(t, 128);
    t = 255;
    CombineByteRows(&j);
    EXPECT_EQ(t, 255);
    // A 5-wide row of a plane with 8-byte rows leaves its padding alone.
    uint8_t plane[16];
    std::fill_n(plane, 16, 0xEE);
    lvKernelJob f{};
    f.target = plane;
    f.targetRow = 8;
    f.width = 5;
    f.height = 2;
    f.value = 3;
    FillBytesRect(&f);
    EXPECT_EQ(plane[4], 3);
    EXPECT_EQ(plane[5], 0xEE);
    EXPECT_EQ(plane[12], 3);
    f.source = plane;
    f.sourceRow = 8;
    f.level = 200;
    plane[0] = 200;
    ScaleAlphaBytes(&f);
    EXPECT_EQ(plane[0], 156);  // 200 * 200 / 255
}

// Four pixels; target bits start as 0 1 0 1; the source bits (or byte tests)
// are 1 1 0 0. Each table row gives the bits after one call.
struct MaskOpCase {
    int operation;
    const char *fromBytes;  // SetMaskFromBytes
    const char *fromMask;   // CombineMaskBits
    const char *fill;       // FillMaskBits
};
// Target 0101 against the source 1100 (bytes tested, mask bits) and a fill (s = 1):
// MASKAND is t AND s, so a fill leaves the mask and a 0 in the source clears.
const MaskOpCase MaskOps[] = {
    {MASKVISIBLE, "1100", "1101", "1111"},     {MASKINVISIBLE, "0011", "0001", "0000"},
    {MASKVANILLACOPY, "1100", "1100", "1111"}, {MASKXOR, "1001", "1001", "1010"},
    {MASKAND, "0100", "0100", "0101"},         {MASKOR, "1101", "1101", "1111"},
};

std::string Bits(uint8_t b) {
    std::string s;
    for (int i = 0; i < 4; i++) s += ((b >> (7 - i)) & 1) ? '1' : '0';
    return s;
}

TEST(MaskKernels, OperationTable) {
    for (const MaskOpCase &c : MaskOps) {
        SCOPED_TRACE(c.operation);
        uint8_t bytes[4] = {255, 255, 0, 0};
        uint8_t t = 0x50;
        lvKernelJob j{};
        j.source = bytes;
        j.sourceRow = 4;
        j.target = &t;
        j.targetRow = 1;
        j.width = 4;
        j.height = 1;
        j.mode = c.operation;
        j.equal = 1;
        j.value = 255;
        SetMaskFromBytes(&j);
        EXPECT_EQ(Bits(t), c.fromBytes);
        // Not-equal to 0 gives the same test here.
        t = 0x50;
        j.equal = 0;
        j.value = 0;
        SetMaskFromBytes(&j);
        EXPECT_EQ(Bits(t), c.fromBytes);
        uint8_t src = 0xC0;
        t = 0x50;
        j.source = &src;
        j.sourceRow = 1;
        CombineMaskBits(&j);
        EXPECT_EQ(Bits(t), c.fromMask);
        t = 0x50;
        FillMaskBits(&j);
        EXPECT_EQ(Bits(t), c.fill);
    }
}

// MASKAND is t = t AND s on every path: fills and drawn pixels (s = 1) leave the target
// 0101 as it is; a source mask 1100, pens 1100 (pen 0 transparent) and bytes whose test
// gives 1100 clear the target bits where s is 0.
TEST(MaskKernels, MaskAndOnEveryPath) {
    uint8_t bytes[4] = {255, 255, 0, 0};
    uint8_t pens[4] = {3, 7, 0, 0};
    uint8_t sourceMask = 0xC0;
    const struct {
        const char *path;
        void (*kernel)(const lvKernelJob *);
        const void *source;
        int x, width;    // target pixels written
        const char *expected;
    } cases[] = {
        {"fill", FillMaskBits, nullptr, 0, 4, "0101"},
        {"drawn pixel", FillMaskBits, nullptr, 1, 1, "0101"},
        {"mask-to-mask", CombineMaskBits, &sourceMask, 0, 4, "0100"},
        {"pen-to-mask", CombinePensIntoMask, pens, 0, 4, "0100"},
        {"SetMaskFromBytes", SetMaskFromBytes, bytes, 0, 4, "0100"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.path);
        uint8_t t = 0x50;
        lvKernelJob j{};
        j.source = const_cast<void *>(c.source);
        j.sourceRow = 4;
        j.target = &t;
        j.targetRow = 1;
        j.targetX = c.x;
        j.width = c.width;
        j.height = 1;
        j.mode = MASKAND;
        j.equal = 1;
        j.value = c.kernel == CombinePensIntoMask ? 0 : 255;  // the transparent pen; the byte tested for
        c.kernel(&j);
        EXPECT_EQ(Bits(t), c.expected);
    }
}

TEST(MaskKernels, XorTwiceRestores) {
    uint8_t bytes[10] = {1, 0, 1, 1, 0, 0, 1, 0, 1, 1};
    uint8_t t[2] = {0x5A, 0xC0}, before[2] = {0x5A, 0xC0};
    lvKernelJob j{};
    j.source = bytes;
    j.sourceRow = 10;
    j.target = t;
    j.targetRow = 2;
    j.width = 10;
    j.height = 1;
    j.mode = MASKXOR;
    j.value = 0;
    SetMaskFromBytes(&j);
    EXPECT_NE(t[0], before[0]);
    SetMaskFromBytes(&j);
    EXPECT_EQ(t[0], before[0]);
    EXPECT_EQ(t[1], before[1]);
}

TEST(MaskKernels, FillsAcrossByteBoundariesKeepNeighbours) {
    // Bits 3..12 of a 3-byte row set; bits outside stay clear.
    uint8_t row[3] = {};
    lvKernelJob j{};
    j.target = row;
    j.targetRow = 3;
    j.targetX = 3;
    j.width = 10;
    j.height = 1;
    j.mode = MASKVISIBLE;
    FillMaskBits(&j);
    EXPECT_EQ(row[0], 0x1F);
    EXPECT_EQ(row[1], 0xF8);
    EXPECT_EQ(row[2], 0x00);
    j.mode = MASKXOR;
    j.targetX = 0;
    j.width = 24;
    FillMaskBits(&j);
    EXPECT_EQ(row[0], 0xE0);
    EXPECT_EQ(row[1], 0x07);
    EXPECT_EQ(row[2], 0xFF);
    uint8_t out[16] = {};
    lvKernelJob b{};
    b.plane = row;
    b.planeRow = 3;
    b.target = out;
    b.targetRow = 16;
    b.width = 16;
    b.height = 1;
    b.value = 128;
    MaskToBytes(&b);
    EXPECT_EQ(out[0], 128);
    EXPECT_EQ(out[3], 0);
    EXPECT_EQ(out[13], 128);
}

TEST(MaskKernels, ClipMaskMerge) {
    // Clip mask addressed from its own origin (third x 2); own mask at source x 1.
    uint8_t clip[1] = {0x3C};  // bits 2..5
    uint8_t own[1] = {0x7E};   // bits 1..6
    uint8_t out[1] = {0xFF};
    lvKernelJob j{};
    j.third = clip;
    j.thirdRow = 1;
    j.thirdX = 2;
    j.plane = own;
    j.planeRow = 1;
    j.sourceX = 1;
    j.target = out;
    j.targetRow = 1;
    j.width = 6;
    j.height = 1;
    j.outputIsMask = 1;
    MergeClipMaskRows(&j);
    // Pixel i: clip bit 2 + i and own bit 1 + i: set for i = 0..3; written both ways.
    EXPECT_EQ(out[0], 0xF3);
    uint8_t alpha[6] = {10, 20, 30, 40, 50, 60}, outA[6] = {};
    j.plane = alpha;
    j.planeRow = 6;
    j.sourceX = 0;
    j.target = outA;
    j.targetRow = 6;
    j.outputIsMask = 0;
    j.value = 0;
    MergeClipMaskRows(&j);
    const uint8_t want[6] = {10, 20, 30, 40, 0, 0};
    for (int i = 0; i < 6; i++) EXPECT_EQ(outA[i], want[i]) << i;
}

}  // namespace

// images_colour_test.cpp - the colour effects on small hand-made pictures.
#include <gtest/gtest.h>

#include <functional>

#include "base/lverrors.h"
#include "effects_fixture.h"
#include "platform/lvplatform.h"

namespace {

uint32_t Gray(int v) { return uint32_t(v) * 0x010101u; }

TEST(GrayImage, IntensityTruncatedAndGraysKeepTheirLevel) {
    std::vector<uint32_t> src = {0xFFFF0000u, 0xFF00FF00u, 0xFF0000FFu, 0xFFFFFFFFu};
    for (int v : {63, 126, 128, 215, 229, 252}) src.push_back(0xFF000000u | Gray(v));
    Picture pic(int(src.size()), 1, src);
    ASSERT_EQ(GrayImage(pic.rgb, pic.width, 1), 0);
    auto out = pic.Read();
    EXPECT_EQ(out[0], Gray(76));   // 0.299 x 255 = 76.245
    EXPECT_EQ(out[1], Gray(149));  // 0.587 x 255 = 149.685
    EXPECT_EQ(out[2], Gray(29));   // 0.114 x 255 = 29.07
    EXPECT_EQ(out[3], Gray(255));
    for (size_t i = 4; i < src.size(); i++) EXPECT_EQ(out[i], src[i] & 0xFFFFFFu) << i;
}

TEST(MonochromeImage, ThresholdAt128) {
    // (129, 129, 128): 128.886 truncates to 128: black; (128, 127, 127): 127.299.
    std::vector<uint32_t> src = {Gray(128), Gray(129), 0x00818180u, 0x00807F7Fu};
    Picture pic(4, 1, src);
    ASSERT_EQ(MonochromeImage(pic.rgb, 4, 1, 0), 0);
    EXPECT_EQ(pic.Read(), (std::vector<uint32_t>{0, Gray(255), 0, 0}));
}

TEST(MonochromeImage, DitherGivesOnlyBlackAndWhite) {
    std::vector<uint32_t> src;
    for (int i = 0; i < 64; i++) src.push_back(Gray(i * 4));
    Picture pic(8, 8, src);
    ASSERT_EQ(MonochromeImage(pic.rgb, 8, 8, 1), 0);
    int white = 0;
    for (uint32_t p : pic.Read()) {
        ASSERT_TRUE(p == 0 || p == 0x00FFFFFFu) << std::hex << p;
        white += p != 0;
    }
    EXPECT_GT(white, 16);
    EXPECT_LT(white, 48);
    // The pens cannot be had: ERR_MEM, picture unchanged.
    pic.Write(src);
    FailAllocMemoryAfter(0);
    EXPECT_EQ(MonochromeImage(pic.rgb, 8, 8, 1), ERR_MEM);
    FailAllocMemoryAfter(-1);
    EXPECT_EQ(pic.Read(), src);
}

TEST(SolarizeImage, ThresholdIsClamped) {
    std::vector<uint32_t> src = {0x00102030u, 0x00FF8000u, 0x00000001u};
    Picture pic(3, 1, src);
    ASSERT_EQ(SolarizeImage(pic.rgb, 3, 1, 300), 0);  // as 255: nothing above it
    EXPECT_EQ(pic.Read(), src);
    ASSERT_EQ(SolarizeImage(pic.rgb, 3, 1, -5), 0);   // as 0: every nonzero component inverted
    EXPECT_EQ(pic.Read(), (std::vector<uint32_t>{0x00EFDFCFu, 0x00007F00u, 0x000000FEu}));
    pic.Write(src);
    SolarizeImage(pic.rgb, 3, 1, 0x20);
    EXPECT_EQ(pic.At(0, 0), 0x001020CFu);
}

TEST(GammaImage, TablesAndTheUntouchedCase) {
    uint8_t t[256];
    BuildGammaTable(2.0, t);
    EXPECT_EQ(t[64], 128);  // 127.75 rounded
    EXPECT_EQ(t[0], 0);
    EXPECT_EQ(t[255], 255);
    Picture pic(1, 1, 0xFF404040u);
    ASSERT_EQ(GammaImage(pic.rgb, 1, 1, 2, 0, -3), 0);  // negative counts as 0
    EXPECT_EQ(pic.At(0, 0), 0x00800000u);
    // (1, 1, 1) does not even lock: a handle that cannot be locked is fine.
    EXPECT_EQ(GammaImage(nullptr, 1, 1, 1, 1, 1), 0);
    EXPECT_EQ(GammaImage(nullptr, 1, 1, 2, 1, 1), ERR_LOCKBMAP);
}

TEST(ModulateImage, FactorsOfOneAndWholeTurns) {
    std::vector<uint32_t> src = RandomPixels(64, 21);
    Picture pic(8, 8, src);
    ASSERT_EQ(ModulateImage(pic.rgb, 8, 8, 1, 1, 1), 0);
    EXPECT_EQ(pic.Read(), src);  // not even the alpha byte
    EXPECT_EQ(ModulateImage(nullptr, 8, 8, 1, 1, 1), 0);
    // Hue 3.0: one whole turn; only the alpha byte goes.
    ASSERT_EQ(ModulateImage(pic.rgb, 8, 8, 1, 1, 3.0), 0);
    auto out = pic.Read();
    int off = 0;
    for (size_t i = 0; i < src.size(); i++)
        for (int s : {0, 8, 16}) off = std::max(off, std::abs(int((out[i] >> s) & 0xFF) - int((src[i] >> s) & 0xFF)));
    EXPECT_LE(off, 1);  // the HSL round trip truncates
    for (uint32_t p : out) EXPECT_EQ(p >> 24, 0u);
}

TEST(ModulateImage, SaturationZeroGivesLightness) {
    // (200, 100, 50): lightness (200 + 50) / 2 = 125.
    Picture pic(2, 1, std::vector<uint32_t>{0x00C86432u, 0x00FF0000u});
    ASSERT_EQ(ModulateImage(pic.rgb, 2, 1, 1, 0, 1), 0);
    uint32_t a = pic.At(0, 0), b = pic.At(1, 0);
    EXPECT_TRUE(a == Gray(125) || a == Gray(124)) << std::hex << a;
    EXPECT_TRUE(b == Gray(127) || b == Gray(128)) << std::hex << b;
    // Brightness 0.5 halves the lightness of a gray.
    pic.Write({Gray(200), Gray(100)});
    ModulateImage(pic.rgb, 2, 1, 0.5, 1, 1);
    EXPECT_NEAR(double(pic.At(0, 0) & 0xFF), 100, 1);
    EXPECT_NEAR(double(pic.At(1, 0) & 0xFF), 50, 1);
}

TEST(NormalizeImage, SingleColourUnchangedAndStretch) {
    Picture flat(4, 4, 0xFF506070u);
    ASSERT_EQ(NormalizeImage(flat.rgb, 4, 4, 0, 16), 0);
    for (uint32_t p : flat.Read()) EXPECT_EQ(p, 0xFF506070u);  // not even locked for writing
    // Levels 50 and 150 stretch to 0 and 255.
    Picture two(2, 1, std::vector<uint32_t>{Gray(50), Gray(150)});
    ASSERT_EQ(NormalizeImage(two.rgb, 2, 1, 0, 2), 0);
    EXPECT_EQ(two.Read(), (std::vector<uint32_t>{0, Gray(255)}));
}

TEST(SepiaToneImage, ThresholdZeroKeepsRedAndGreenFull) {
    std::vector<uint32_t> src = RandomPixels(25, 4);
    src[0] = 0;
    Picture pic(5, 5, src);
    ASSERT_EQ(SepiaToneImage(pic.rgb, 5, 5, 0), 0);
    for (uint32_t p : pic.Read()) {
        EXPECT_EQ((p >> 16) & 0xFF, 255u);
        EXPECT_EQ((p >> 8) & 0xFF, 255u);
    }
}

TEST(InvertImage, AllBitsAndOtherPixelSizesUntouched) {
    Picture pic(2, 1, std::vector<uint32_t>{0xFF102030u, 0x00000000u});
    ASSERT_EQ(InvertImage(pic.rgb, 2, 1), 0);
    EXPECT_EQ(pic.Read(), (std::vector<uint32_t>{0x00EFDFCFu, 0xFFFFFFFFu}));
    // A 16-bit display format: the effects leave such bitmaps as they are.
    lvDisplayAdapter adapter{};
    adapter.pixelFormat = PIXFMT_RGB16;
    SetRasterDisplayAdapter(&adapter);
    lvBitMapHandle *b16 = AllocRgbBitmap(4, 2, 1, nullptr);
    SetRasterDisplayAdapter(nullptr);
    ASSERT_NE(b16, nullptr);
    std::vector<uint8_t> before;
    {
        lvScopedLock l(b16, 0);
        ASSERT_EQ(l.lock.bytesPerPixel, 2);
        for (int i = 0; i < 4 * 2 * 2; i++) l.lock.pixels[i] = uint8_t(i * 7);
        before.assign(l.lock.pixels, l.lock.pixels + 16);
    }
    EXPECT_EQ(InvertImage(b16, 4, 2), 0);
    EXPECT_EQ(GrayImage(b16, 4, 2), 0);
    EXPECT_EQ(ConvolveImage(CONVOLVE_BLUR, b16, nullptr, 4, 2, 1, 1, nullptr), 0);
    {
        lvScopedLock l(b16, 0);
        EXPECT_EQ(std::vector<uint8_t>(l.lock.pixels, l.lock.pixels + 16), before);
    }
    FreeBitmapHandle(b16);
}

TEST(InvertBytes, EveryByte) {
    uint8_t p[6] = {0, 1, 2, 0xFF, 0x0F, 0xF0};
    InvertBytes(p, 2, 3);
    EXPECT_EQ(p[0], 0xFF);
    EXPECT_EQ(p[3], 0);
    EXPECT_EQ(p[5], 0x0F);
}

TEST(ContrastImage, SharpenSpreadsAndSoftenNarrows) {
    Picture pic(2, 1, std::vector<uint32_t>{Gray(64), Gray(192)});
    ASSERT_EQ(ContrastImage(pic.rgb, 2, 1, 1, 1), 0);
    EXPECT_LT(pic.At(0, 0) & 0xFF, 64u);
    EXPECT_GT(pic.At(1, 0) & 0xFF, 192u);
    pic.Write({Gray(64), Gray(192)});
    ContrastImage(pic.rgb, 2, 1, 0, 2);
    EXPECT_GT(pic.At(0, 0) & 0xFF, 64u);
    EXPECT_LT(pic.At(1, 0) & 0xFF, 192u);
}

TEST(OilPaintImage, MostFrequentLevelWinsFirstToExceed) {
    const uint32_t R = 0x00FF0000u, G = 0x0000FF00u, B = 0x000000FFu;
    // Window of the centre = the whole picture, scanned row by row:
    // R1* G1 G2* / R2 R3* G3 / G4* B1 B2: the green at (0, 2) is chosen.
    Picture pic(3, 3, std::vector<uint32_t>{R, G, G, R, R, G, G | 0xFF000000u, B, B});
    ASSERT_EQ(OilPaintImage(pic.rgb, 3, 3, 1), 0);
    EXPECT_EQ(pic.At(1, 1), G | 0xFF000000u);  // the remembered pixel, unchanged
    // An outlier on a 5 x 5 field disappears; the field stays.
    std::vector<uint32_t> field(25, R);
    field[12] = B;
    Picture f(5, 5, field);
    ASSERT_EQ(OilPaintImage(f.rgb, 5, 5, 0), 0);
    for (uint32_t p : f.Read()) EXPECT_EQ(p, R);
    // Memory shortage: reported, nothing changed.
    f.Write(field);
    FailAllocMemoryAfter(0);
    EXPECT_EQ(OilPaintImage(f.rgb, 5, 5, 0), ERR_MEM);
    FailAllocMemoryAfter(-1);
    EXPECT_EQ(f.Read(), field);
}

TEST(CharcoalImage, GrayResultAndPlaneProcessed) {
    std::vector<uint32_t> src = RandomPixels(64, 8);
    Picture pic(8, 8, src);
    Plane alpha(8, 8, std::vector<uint8_t>(64, 200));
    ASSERT_EQ(CharcoalImage(pic.rgb, alpha.handle, 8, 8, 1, 1), 0);
    for (uint32_t p : pic.Read()) EXPECT_EQ(p, Gray(p & 0xFF));
    // A flat plane: edge makes it 0, the blur keeps 0.
    for (uint8_t v : alpha.Read()) EXPECT_EQ(v, 0);
}

TEST(ColourSpaces, RoundTrips) {
    for (uint32_t c : {0x00FF0000u, 0x0000FF00u, 0x000000FFu, 0x00808080u, 0x00C86432u}) {
        int r = (c >> 16) & 0xFF, g = (c >> 8) & 0xFF, b = c & 0xFF, r2, g2, b2;
        double h, s, v;
        RgbToHsb(r, g, b, &h, &s, &v);
        HsbToRgb(h, s, v, &r2, &g2, &b2);
        EXPECT_NEAR(r2, r, 1);
        EXPECT_NEAR(g2, g, 1);
        EXPECT_NEAR(b2, b, 1);
        RgbToHsl(r, g, b, &h, &s, &v);
        HslToRgb(h, s, v, &r2, &g2, &b2);
        EXPECT_NEAR(r2, r, 1);
        EXPECT_NEAR(g2, g, 1);
        EXPECT_NEAR(b2, b, 1);
    }
    double h, s, l;
    RgbToHsl(0, 0, 255, &h, &s, &l);
    EXPECT_NEAR(h, 2.0 / 3, 1e-12);
    EXPECT_DOUBLE_EQ(l, 0.5);
}

}  // namespace

namespace {

// The same effect on a picture in each 32-bit order gives the same colours.
TEST(PixelOrders, EffectsAgreeAcrossTheFourOrders) {
    const int w = 9, h = 7;
    std::vector<uint32_t> src = RandomPixels(w * h, 51);
    using Effect = std::function<void(lvBitMapHandle *)>;
    std::vector<Effect> effects = {
        [](lvBitMapHandle *b) { GrayImage(b, w, h); },
        [](lvBitMapHandle *b) { SepiaToneImage(b, w, h, 100); },
        [](lvBitMapHandle *b) { ModulateImage(b, w, h, 1.2, 0.5, 1.5); },
        [](lvBitMapHandle *b) { ConvolveImage(CONVOLVE_BLUR, b, nullptr, w, h, 0, 1, nullptr); },
        [](lvBitMapHandle *b) { ConvolveImage(CONVOLVE_EMBOSS, b, nullptr, w, h, 1, 1, nullptr); },
        [](lvBitMapHandle *b) { OilPaintImage(b, w, h, 1); },
        [](lvBitMapHandle *b) { SwirlImage(b, nullptr, nullptr, w, h, 120); },
        [](lvBitMapHandle *b) { PixelateImage(b, nullptr, nullptr, w, h, 3); },
    };
    for (size_t e = 0; e < effects.size(); e++) {
        SCOPED_TRACE(e);
        Picture native(w, h, src);
        effects[e](native.rgb);
        auto want = native.Read();
        for (int format : {PIXFMT_BGRA32, PIXFMT_RGBA32, PIXFMT_ABGR32}) {
            SCOPED_TRACE(format);
            lvDisplayAdapter adapter{};
            adapter.pixelFormat = format;
            SetRasterDisplayAdapter(&adapter);
            lvBitMapHandle *b = AllocRgbBitmap(w, h, 0, nullptr);
            SetRasterDisplayAdapter(nullptr);
            {
                lvScopedLock l(b, 0);
                ASSERT_EQ(l.lock.format, format);
                for (int y = 0; y < h; y++)
                    for (int x = 0; x < w; x++)
                        reinterpret_cast<uint32_t *>(l.lock.pixels)[size_t(y) * l.lock.rowLength + x] =
                            ArgbToPixel32(format, src[size_t(y) * w + x]);
            }
            effects[e](b);
            {
                lvScopedLock l(b, 0);
                for (int y = 0; y < h; y++)
                    for (int x = 0; x < w; x++) {
                        uint32_t got = Pixel32ToArgb(format, reinterpret_cast<uint32_t *>(l.lock.pixels)[size_t(y) * l.lock.rowLength + x]);
                        // Moving effects copy whole pixels; recolouring ones drop the alpha.
                        ASSERT_EQ(got & 0x00FFFFFFu, want[size_t(y) * w + x] & 0x00FFFFFFu) << x << "," << y;
                    }
            }
            FreeBitmapHandle(b);
        }
    }
}

}  // namespace

namespace {

TEST(CharcoalImage, MemoryShortageLeavesPictureAndPlane) {
    std::vector<uint32_t> src = RandomPixels(64, 71);
    std::vector<uint8_t> a(64);
    for (int i = 0; i < 64; i++) a[size_t(i)] = uint8_t(i * 4);
    Picture pic(8, 8, src);
    Plane alpha(8, 8, a);
    int failures = 0;
    for (int n = 0;; n++) {
        FailAllocMemoryAfter(n);
        int rc = CharcoalImage(pic.rgb, alpha.handle, 8, 8, 1, 1);
        FailAllocMemoryAfter(-1);
        if (rc == 0) break;
        failures++;
        ASSERT_EQ(rc, ERR_MEM);
        ASSERT_EQ(pic.Read(), src);
        ASSERT_EQ(alpha.Read(), a);
        ASSERT_LT(n, 20);
    }
    EXPECT_GE(failures, 4);  // the copy, then each pass's padded copy and accumulators
}

}  // namespace

namespace {

TEST(PaletteEffects, RunOnThePensView) {
    uint32_t pens[256] = {};
    pens[0] = 0x00FF0000u;
    ASSERT_EQ(RunPaletteEffect(pens, PALETTE_EFFECT_GRAY, nullptr), 0);
    EXPECT_EQ(pens[0], 0x4C4C4Cu);
    pens[0] = 0x404040u;
    pens[255] = 0xFF102030u;
    const double gamma[3] = {2, 2, 2};
    ASSERT_EQ(RunPaletteEffect(pens, PALETTE_EFFECT_GAMMA, gamma), 0);
    EXPECT_EQ(pens[0], 0x808080u);
    const double none[3] = {1, 1, 1};
    ASSERT_EQ(RunPaletteEffect(pens, PALETTE_EFFECT_MODULATE, none), 0);
    EXPECT_EQ(pens[0], 0x808080u);
    EXPECT_EQ(RunPaletteEffect(pens, 99, nullptr), ERR_WRONGUSAGE);
    EXPECT_EQ(RunPaletteEffect(pens, PALETTE_EFFECT_GAMMA, nullptr), ERR_WRONGUSAGE);
    EXPECT_EQ(RunPaletteEffect(nullptr, PALETTE_EFFECT_GRAY, nullptr), ERR_WRONGUSAGE);
}

}  // namespace

namespace {

TEST(ContrastImage, HugeCountEndsOnceNothingChanges) {
    std::vector<uint32_t> src = RandomPixels(16, 81);
    Picture a(4, 4, src), b(4, 4, src);
    ASSERT_EQ(ContrastImage(a.rgb, 4, 4, 1, 1000000000), 0);
    ContrastImage(b.rgb, 4, 4, 1, 300);
    EXPECT_EQ(a.Read(), b.Read());
    // One pass and two passes differ: the count is honoured while it matters.
    Picture c(4, 4, src), d(4, 4, src);
    ContrastImage(c.rgb, 4, 4, 1, 1);
    ContrastImage(d.rgb, 4, 4, 1, 2);
    EXPECT_NE(c.Read(), d.Read());
}

}  // namespace

// Scenario table of the central blit: plain, masked, alpha, palette and
// colour-only sources, transparent pens, clipping at every edge and through a
// clip region, onto each kind of target (RGB and chunky bitmaps, the display,
// its background pair, a selected mask or alpha channel), checked pixel by
// pixel against a per-pixel model. Display, sprite and layer services are
// recording doubles.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "raster/lvblit.h"
#include "raster/lvkernels.h"
#include "raster/lvplanes.h"
#include "raster_fakes.h"

namespace {

// ---- Recording services -----------------------------------------------------
struct DisplayCall {
    lvBitMapHandle *rgb, *chunky;
    int sx, sy, tx, ty, w, h, flags;
    const uint32_t *palette;
};

struct Recorder {
    std::vector<DisplayCall> toDisplay;  // BlitToDisplay calls
    int presented = 0;                   // PresentDisplayRect calls
    int spritesAnswer = 0;               // what DrawBeneathSprites answers
    int spriteCalls = 0;
    int layerCalls = 0;
    int spriteRedraws = 0;
};
Recorder *Rec;

void RecBlitToDisplay(void *, lvBitMapHandle *rgb, int sx, int sy, lvBlitDisplay *, int tx, int ty, int w, int h,
                      lvBitMapHandle *chunky, const uint32_t *palette, int flags) {
    Rec->toDisplay.push_back({rgb, chunky, sx, sy, tx, ty, w, h, flags, palette});
}
void RecPresent(void *, lvBlitDisplay *, const lvBlitRequest *) { Rec->presented++; }
int RecSprites(void *, const lvBlitRequest *) {
    Rec->spriteCalls++;
    return Rec->spritesAnswer;
}
void RecLayers(void *, lvBlitDisplay *, lvBlitPicture *, int, int, int, int, int) { Rec->layerCalls++; }
void RecSpriteRedraw(void *, lvBlitDisplay *, int, int, int, int) { Rec->spriteRedraws++; }

// ---- Fixture ----------------------------------------------------------------
constexpr int SW = 8, SH = 8;   // source size
constexpr int TW = 12, TH = 10; // target size

uint32_t SourceColour(int x, int y) { return 0x00100000u * (x + 1) + 0x00000C00u * (y + 1) + 0x7Fu; }
uint32_t OldColour(int x, int y) { return 0x00010101u * (x * 10 + y) + 0x00800000u; }
int AlphaAt(int x, int y) { return (x * 37 + y * 91) % 256; }
bool MaskAt(int x, int y) { return ((x + 2 * y) % 3) != 0; }
int PenAt(int x, int y) { return (x + y) % 4; }
bool RegionAt(int x, int y) { return (x * y) % 5 != 1; }  // clip region mask, region-relative

struct BlitFixture : testing::Test {
    Recorder rec;
    lvBitMapHandle *src = nullptr, *mask = nullptr, *alpha = nullptr, *pens = nullptr;
    lvBitMapHandle *target = nullptr, *regionMask = nullptr;
    uint32_t palette[256] = {};

    void SetUp() override {
        Rec = &rec;
        ResetRasterModes();
        lvRasterServices s{};
        s.BlitToDisplay = RecBlitToDisplay;
        s.PresentDisplayRect = RecPresent;
        s.DrawBeneathSprites = RecSprites;
        s.DrawLayersInRect = RecLayers;
        s.RedrawSpritesInRect = RecSpriteRedraw;
        SetRasterServices(&s);
        ASSERT_EQ(CreateBitmapTargetDisplay(), 0);
        src = AllocRgbBitmap(SW, SH, 0, nullptr);
        FillRgb(src, [](int x, int y) { return 0x55000000u | SourceColour(x, y); });
        mask = AllocMaskBitmap(src, SW, SH, 1, nullptr, 0);
        alpha = AllocAlphaBitmap(SW, SH, 0, nullptr, 0);
        pens = AllocChunkyBitmap(SW, SH, 0);
        for (int y = 0; y < SH; y++)
            for (int x = 0; x < SW; x++) {
                SetBit(mask, x, y, MaskAt(x, y));
                SetByte(alpha, x, y, static_cast<uint8_t>(AlphaAt(x, y)));
                SetByte(pens, x, y, static_cast<uint8_t>(PenAt(x, y)));
            }
        palette[0] = 0x00000000;
        palette[1] = 0xFFFF0000;  // the high byte never reaches a pixel
        palette[2] = 0x0000FF00;
        palette[3] = 0x000000FF;
        target = AllocRgbBitmap(TW, TH, 0, nullptr);
        ResetTarget();
        regionMask = AllocMaskBitmap(nullptr, 9, 7, 1, nullptr, 0);
        for (int y = 0; y < 7; y++)
            for (int x = 0; x < 9; x++) SetBit(regionMask, x, y, RegionAt(x, y));
    }
    void TearDown() override {
        for (lvBitMapHandle *h : {src, mask, alpha, pens, target, regionMask}) FreeBitmapHandle(h);
        ReleaseDrawingResources();
        SetRasterServices(nullptr);
        Rec = nullptr;
    }
    void ResetTarget() { FillRgb(target, [](int x, int y) { return OldColour(x, y); }); }
};

// ---- Scenario table ---------------------------------------------------------
enum SourceKind { PLAIN, MASKED, ALPHA, PALETTE, PALETTE_TP, PALETTE_MASKED, COLOUR_ALPHA, COLOUR_MASK };

struct Scenario {
    const char *name;
    SourceKind kind;
    int sx, sy, tx, ty, w, h;  // request
    int flags;
    bool region;               // through the clip region double (at 2,1 size 9x7, with a mask)
    // Expected rectangle after clipping (w <= 0: nothing drawn).
    int esx, esy, etx, ety, ew, eh;
};

const Scenario Scenarios[] = {
    {"plain", PLAIN, 0, 0, 2, 1, 8, 8, 0x10, false, 0, 0, 2, 1, 8, 8},
    {"plain part", PLAIN, 3, 2, 0, 0, 4, 3, 0x10, false, 3, 2, 0, 0, 4, 3},
    {"masked", MASKED, 0, 0, 1, 1, 8, 8, 0x10, false, 0, 0, 1, 1, 8, 8},
    {"masked odd offsets", MASKED, 3, 1, 5, 2, 5, 6, 0x10, false, 3, 1, 5, 2, 5, 6},
    {"alpha", ALPHA, 0, 0, 0, 0, 8, 8, 0x10, false, 0, 0, 0, 0, 8, 8},
    {"palette", PALETTE, 0, 0, 3, 2, 8, 8, 0x10, false, 0, 0, 3, 2, 8, 8},
    {"transparent pen", PALETTE_TP, 1, 1, 0, 0, 7, 7, 0x10, false, 1, 1, 0, 0, 7, 7},
    {"palette with mask", PALETTE_MASKED, 0, 0, 2, 2, 8, 8, 0x10, false, 0, 0, 2, 2, 8, 8},
    {"colour through alpha", COLOUR_ALPHA, 0, 0, 4, 2, 8, 8, 0x10, false, 0, 0, 4, 2, 8, 8},
    {"colour through mask", COLOUR_MASK, 0, 0, 4, 2, 8, 8, 0x10, false, 0, 0, 4, 2, 8, 8},
    {"clipped left", PLAIN, 0, 0, -3, 1, 8, 8, 0x10, false, 3, 0, 0, 1, 5, 8},
    {"clipped top", MASKED, 0, 0, 2, -5, 8, 8, 0x10, false, 0, 5, 2, 0, 8, 3},
    {"clipped right", ALPHA, 0, 0, 7, 0, 8, 8, 0x10, false, 0, 0, 7, 0, 5, 8},
    {"clipped bottom", PALETTE_TP, 0, 0, 0, 6, 8, 8, 0x10, false, 0, 0, 0, 6, 8, 4},
    {"clipped by source", PLAIN, 5, 6, 0, 0, 8, 8, 0x10, false, 5, 6, 0, 0, 3, 2},
    {"clipped every edge", MASKED, 0, 0, -1, -1, 20, 20, 0x10, false, 1, 1, 0, 0, 7, 7},
    {"target x -1", PLAIN, 0, 0, -1, 0, 8, 8, 0x10, false, 1, 0, 0, 0, 7, 8},
    {"source x -1", PLAIN, -1, 0, 0, 0, 8, 8, 0x10, false, 0, 0, 0, 0, 0, 0},
    {"off the target", ALPHA, 0, 0, 12, 0, 8, 8, 0x10, false, 0, 0, 0, 0, 0, 0},
    {"region plain", PLAIN, 0, 0, 0, 0, 8, 8, 0x10, true, 2, 1, 2, 1, 6, 7},
    {"region masked", MASKED, 0, 0, 4, 3, 8, 8, 0x10, true, 0, 0, 4, 3, 7, 5},
    {"region alpha", ALPHA, 1, 1, 1, 0, 8, 8, 0x10, true, 2, 2, 2, 1, 6, 6},
    {"region palette", PALETTE_TP, 0, 0, 0, 0, 8, 8, 0x10, true, 2, 1, 2, 1, 6, 7},
    {"region ignored by flag 1", PLAIN, 0, 0, 0, 0, 8, 8, 0x11, true, 0, 0, 0, 0, 8, 8},
    {"pre-clipped", PLAIN, 2, 2, 1, 1, 3, 3, 0x110, false, 2, 2, 1, 1, 3, 3},
};

// The colour a target pixel must have after a scenario.
uint32_t Expected(const Scenario &s, const uint32_t *palette, int x, int y) {
    uint32_t old = OldColour(x, y);
    int i = x - s.etx, j = y - s.ety;
    if (s.ew <= 0 || i < 0 || j < 0 || i >= s.ew || j >= s.eh) return old;
    if (s.region && !(s.flags & 1)) {
        int rx = x - 2, ry = y - 1;
        if (rx < 0 || ry < 0 || rx >= 9 || ry >= 7 || !RegionAt(rx, ry)) return old;
    }
    int px = s.esx + i, py = s.esy + j;
    uint32_t src = 0x55000000u | SourceColour(px, py);
    const uint32_t colour = 0x00336699;
    int a = AlphaAt(px, py);
    // With a region mask, an alpha source keeps its alpha where the region is set.
    switch (s.kind) {
    case PLAIN: return src;
    case MASKED: return MaskAt(px, py) ? src : old;
    case ALPHA:
        if (a == 0) return old;
        if (a == 255) return src;
        return LerpRgb(old & 0xFFFFFF, src & 0xFFFFFF, a);
    case PALETTE: return palette[PenAt(px, py)] & 0xFFFFFF;
    case PALETTE_TP: return PenAt(px, py) == 2 ? old : palette[PenAt(px, py)] & 0xFFFFFF;
    case PALETTE_MASKED:
        return (MaskAt(px, py) && PenAt(px, py) != 2) ? palette[PenAt(px, py)] & 0xFFFFFF : old;
    case COLOUR_ALPHA:
        if (a == 0) return old;
        if (a == 255) return colour;
        return LerpRgb(old & 0xFFFFFF, colour, a);
    case COLOUR_MASK: return MaskAt(px, py) ? colour : old;
    }
    return old;
}

TEST_F(BlitFixture, ScenarioTableOntoAnRgbBitmap) {
    lvClipRegion region{2, 1, 9, 7, regionMask};
    for (const Scenario &s : Scenarios) {
        SCOPED_TRACE(s.name);
        ResetTarget();
        lvBitMapHandle *srgb = src, *smask = nullptr, *salpha = nullptr, *schunky = nullptr;
        int transparent = -1;
        switch (s.kind) {
        case PLAIN: break;
        case MASKED: smask = mask; break;
        case ALPHA: salpha = alpha; break;
        case PALETTE: srgb = nullptr, schunky = pens; break;
        case PALETTE_TP: srgb = nullptr, schunky = pens, transparent = 2; break;
        case PALETTE_MASKED: srgb = nullptr, schunky = pens, smask = mask, transparent = 2; break;
        case COLOUR_ALPHA: srgb = nullptr, salpha = alpha, transparent = 0x00336699; break;
        case COLOUR_MASK: srgb = nullptr, smask = mask, transparent = 0x00336699; break;
        }
        BlitImage(nullptr, srgb, s.sx, s.sy, target, nullptr, nullptr, 0, s.tx, s.ty, s.w, s.h, SW, SH, TW, TH,
                  s.flags, smask, salpha, schunky, palette, transparent, -1, -1, -1, s.region ? &region : nullptr,
                  nullptr);
        int wrong = 0;
        for (int y = 0; y < TH; y++)
            for (int x = 0; x < TW; x++) {
                uint32_t want = Expected(s, palette, x, y), got = PixelAt(target, x, y);
                if (want != got && wrong++ < 3)
                    ADD_FAILURE() << "pixel " << x << "," << y << std::hex << " want " << want << " got " << got;
            }
        EXPECT_EQ(wrong, 0);
        EXPECT_EQ(RasterState.currentDisplay, nullptr);  // the stand-in display is released
    }
}

TEST_F(BlitFixture, NoDisplayNeedsExplicitTargetsAndFlag10) {
    BlitImage(nullptr, src, 0, 0, target, nullptr, nullptr, 0, 0, 0, 8, 8, SW, SH, TW, TH, 0, nullptr, nullptr,
              nullptr, nullptr, -1, -1, -1, -1, nullptr, nullptr);
    EXPECT_EQ(PixelAt(target, 0, 0), OldColour(0, 0));
    BlitImage(nullptr, src, 0, 0, nullptr, nullptr, nullptr, 0, 0, 0, 8, 8, SW, SH, TW, TH, 0x10, nullptr, nullptr,
              nullptr, nullptr, -1, -1, -1, -1, nullptr, nullptr);
    EXPECT_TRUE(rec.toDisplay.empty());
    ReleaseDrawingResources();  // no stand-in display: nothing is drawn
    BlitImage(nullptr, src, 0, 0, target, nullptr, nullptr, 0, 0, 0, 8, 8, SW, SH, TW, TH, 0x10, nullptr, nullptr,
              nullptr, nullptr, -1, -1, -1, -1, nullptr, nullptr);
    EXPECT_EQ(PixelAt(target, 0, 0), OldColour(0, 0));
    EXPECT_EQ(rec.spriteCalls, 0);  // flag 2 is added for the stand-in
}

TEST_F(BlitFixture, ChunkyTargets) {
    lvBitMapHandle *chunky = AllocChunkyBitmap(TW, TH, 0);
    for (int y = 0; y < TH; y++)
        for (int x = 0; x < TW; x++) SetByte(chunky, x, y, 9);
    // Pens onto pens in pen mode: copied except the transparent pen.
    BlitImage(nullptr, nullptr, 0, 0, nullptr, chunky, palette, 4, 1, 1, 8, 8, SW, SH, TW, TH, 0x10, nullptr, nullptr,
              pens, palette, 2, PALETTEMODE_PEN, -1, -1, nullptr, nullptr);
    for (int y = 0; y < 8; y++)
        for (int x = 0; x < 8; x++) {
            int want = PenAt(x, y) == 2 ? 9 : PenAt(x, y);
            ASSERT_EQ(ByteAt(chunky, x + 1, y + 1), want) << x << "," << y;
        }
    EXPECT_EQ(ByteAt(chunky, 0, 0), 9);
    // RGB onto pens: the nearest pen of the target palette, masked.
    uint32_t greys[256] = {0x000000, 0xFFFFFF};
    lvBitMapHandle *rgb = AllocRgbBitmap(2, 1, 0, nullptr);
    FillRgb(rgb, [](int x, int) { return x ? 0xE0E0E0u : 0x202020u; });
    BlitImage(nullptr, rgb, 0, 0, nullptr, chunky, greys, 1, 0, 0, 2, 1, 2, 1, TW, TH, 0x10, nullptr, nullptr, nullptr,
              nullptr, -1, PALETTEMODE_REMAP, -1, DITHERMODE_NONE, nullptr, nullptr);
    EXPECT_EQ(ByteAt(chunky, 0, 0), 0);
    EXPECT_EQ(ByteAt(chunky, 1, 0), 1);
    FreeBitmapHandle(rgb);
    FreeBitmapHandle(chunky);
}

// ---- Displays ---------------------------------------------------------------
struct DisplayFixture : BlitFixture {
    lvBlitDisplay display{};
    lvBlitPicture picture{};
    lvBitMapHandle *background = nullptr, *shown = nullptr;
    void SetUp() override {
        BlitFixture::SetUp();
        background = AllocRgbBitmap(TW, TH, 0, nullptr);
        shown = AllocRgbBitmap(TW, TH, 0, nullptr);
        FillRgb(background, [](int, int) { return 0u; });
        FillRgb(shown, [](int, int) { return 0u; });
        picture.width = TW;
        picture.height = TH;
        display.target.kind = OUTPUT_DISPLAY;
        display.picture = &picture;
        display.background = {background, nullptr};
        display.shown = {shown, nullptr};
        RasterState.currentDisplay = &display;
    }
    void TearDown() override {
        RasterState.currentDisplay = nullptr;
        FreeBitmapHandle(background);
        FreeBitmapHandle(shown);
        BlitFixture::TearDown();
    }
    void Blit(lvBitMapHandle *rgb, lvBitMapHandle *m, lvBitMapHandle *a, int tx, int ty, int flags) {
        BlitImage(nullptr, rgb, 0, 0, nullptr, nullptr, nullptr, 0, tx, ty, 8, 8, SW, SH, TW, TH, flags, m, a, nullptr,
                  nullptr, 0x00336699, -1, -1, -1, nullptr, nullptr);
    }
};

TEST_F(DisplayFixture, PlainSourceGoesToTheDisplay) {
    Blit(src, nullptr, nullptr, 2, 3, 0);
    ASSERT_EQ(rec.toDisplay.size(), 1u);
    const DisplayCall &c = rec.toDisplay[0];
    EXPECT_EQ(c.rgb, src);
    EXPECT_EQ(c.tx, 2);
    EXPECT_EQ(c.ty, 3);
    EXPECT_EQ(c.w, 8);
    EXPECT_EQ(c.h, 7);  // clipped at the bottom
    EXPECT_EQ(c.flags, 0);
    EXPECT_EQ(rec.spriteCalls, 1);
    // The display's own buffer on a scaling display is presented scaled.
    display.scaling = 1;
    Blit(shown, nullptr, nullptr, 0, 0, 0);
    EXPECT_EQ(rec.toDisplay.back().flags, 1);
}

TEST_F(DisplayFixture, BackgroundPairIsDrawnRefreshedAndMirrored) {
    Blit(src, mask, nullptr, 1, 1, BLIT_BACKGROUND);
    for (int y = 0; y < 8; y++)
        for (int x = 0; x < 8; x++) {
            uint32_t want = MaskAt(x, y) ? (0x55000000u | SourceColour(x, y)) : 0u;
            ASSERT_EQ(PixelAt(background, x + 1, y + 1), want);
        }
    ASSERT_EQ(rec.toDisplay.size(), 1u);
    EXPECT_EQ(rec.toDisplay[0].rgb, background);
    EXPECT_EQ(rec.toDisplay[0].flags, 1);
    EXPECT_EQ(PixelAt(shown, 2, 2), 0u);  // not scaling: no mirror
    // Flag 0x20: no refresh. A scaling display gets the same pixels in its shown pair.
    display.scaling = 1;
    display.scaledWidth = 24;
    display.scaledHeight = 20;
    Blit(src, nullptr, alpha, 2, 0, BLIT_BACKGROUND | BLIT_NOREFRESH);
    EXPECT_EQ(rec.toDisplay.size(), 1u);
    for (int y = 0; y < 8; y++)
        for (int x = 2; x < TW; x++) ASSERT_EQ(PixelAt(shown, x, y), PixelAt(background, x, y)) << x << "," << y;
    EXPECT_EQ(PixelAt(shown, 1, 8), 0u);  // outside the rectangle: not mirrored
    // Refreshing a scaling display presents its shown pair.
    Blit(src, nullptr, nullptr, 0, 0, BLIT_BACKGROUND);
    EXPECT_EQ(rec.toDisplay.back().rgb, shown);
}

TEST_F(DisplayFixture, LayeredDisplaysRecompose) {
    display.layers = 1;
    Blit(src, nullptr, nullptr, 0, 0, BLIT_BACKGROUND | BLIT_RECOMPOSE);
    EXPECT_EQ(rec.layerCalls, 1);
    ASSERT_FALSE(rec.toDisplay.empty());
    EXPECT_EQ(rec.toDisplay.back().rgb, shown);
    EXPECT_EQ(PixelAt(background, 0, 0), 0u);  // the layered display's background is not drawn
}

TEST_F(DisplayFixture, RecomposingARectangle) {
    // The picture's own pair is the display's background pair: it is copied into
    // the shown pair, then layers and sprites are drawn over it.
    FillRgb(background, [](int x, int y) { return OldColour(x, y); });
    DrawBitmapToTarget(nullptr, &display, &picture, nullptr, 3, 2, 20, 4, 0);
    for (int y = 0; y < TH; y++)
        for (int x = 0; x < TW; x++) {
            bool in = x >= 3 && y >= 2 && y < 6;  // cut to the picture's width
            ASSERT_EQ(PixelAt(shown, x, y), in ? OldColour(x, y) : 0u) << x << "," << y;
        }
    EXPECT_EQ(rec.layerCalls, 1);
    EXPECT_EQ(rec.spriteRedraws, 1);
    DrawBitmapToTarget(nullptr, &display, &picture, nullptr, 0, 0, 4, 4, 1);  // no sprites
    EXPECT_EQ(rec.spriteRedraws, 1);
    EXPECT_EQ(rec.layerCalls, 2);
    DrawBitmapToTarget(nullptr, &display, &picture, nullptr, 0, 0, 4, 4, 2);  // sprites only
    EXPECT_EQ(rec.spriteRedraws, 2);
    EXPECT_EQ(rec.layerCalls, 2);
    DrawBitmapToTarget(nullptr, &display, &picture, nullptr, 0, 0, 4, 4, 0x20);  // background only
    EXPECT_EQ(rec.layerCalls, 2);
    DrawBitmapToTarget(nullptr, &display, &picture, nullptr, -1, 0, 4, 4, 0);  // negative: nothing
    EXPECT_EQ(rec.layerCalls, 2);
    // RefreshDisplayRect recomposes and presents the shown pair.
    rec.toDisplay.clear();
    RefreshDisplayRect(nullptr, 10, 8, 5, 5, 0);
    ASSERT_EQ(rec.toDisplay.size(), 1u);
    EXPECT_EQ(rec.toDisplay[0].rgb, shown);
    EXPECT_EQ(rec.toDisplay[0].w, 2);
    EXPECT_EQ(rec.toDisplay[0].h, 2);
}

TEST_F(DisplayFixture, HardwareDoubleBufferAndSprites) {
    display.hardwareDoubleBuffer = 1;
    Blit(src, nullptr, nullptr, 0, 0, BLIT_HARDWARE);
    EXPECT_EQ(rec.presented, 1);
    EXPECT_TRUE(rec.toDisplay.empty());
    display.hardwareDoubleBuffer = 0;
    rec.spritesAnswer = 1;
    Blit(src, nullptr, nullptr, 0, 0, BLIT_BACKGROUND);
    EXPECT_TRUE(rec.toDisplay.empty());
    EXPECT_EQ(PixelAt(background, 0, 0), 0u);
    Blit(src, nullptr, nullptr, 0, 0, BLIT_BACKGROUND | BLIT_NOSPRITES);
    EXPECT_EQ(PixelAt(background, 0, 0), 0x55000000u | SourceColour(0, 0));
}

TEST_F(DisplayFixture, PaletteDisplaysTakePens) {
    lvBitMapHandle *shownPens = AllocChunkyBitmap(TW, TH, 1);
    display.shown.chunky = shownPens;
    picture.palette = palette;
    picture.depth = 2;
    // A palette source with the display's own palette (remap mode) goes straight to the display.
    RasterState.paletteMode = PALETTEMODE_REMAP;
    BlitImage(nullptr, nullptr, 0, 0, nullptr, nullptr, nullptr, 0, 0, 0, 8, 8, SW, SH, TW, TH, 0, nullptr, nullptr,
              pens, palette, -1, -1, -1, -1, nullptr, nullptr);
    ASSERT_EQ(rec.toDisplay.size(), 1u);
    EXPECT_EQ(rec.toDisplay[0].chunky, pens);
    EXPECT_EQ(ByteAt(shownPens, 1, 0), 0);
    // An RGB source is remapped into the display's pen buffer and that is presented.
    Blit(src, nullptr, nullptr, 0, 0, 0);
    ASSERT_EQ(rec.toDisplay.size(), 2u);
    EXPECT_EQ(rec.toDisplay[1].chunky, shownPens);
    EXPECT_EQ(rec.toDisplay[1].palette, palette);
    for (int x = 0; x < 8; x++)
        EXPECT_EQ(ByteAt(shownPens, x, 0), FindNearestPen(SourceColour(x, 0), palette, 2)) << x;
    FreeBitmapHandle(shownPens);
}

TEST_F(DisplayFixture, SelectedMaskAndAlphaOutputs) {
    lvBitMapHandle *outMask = AllocMaskBitmap(nullptr, TW, TH, 1, nullptr, 0);
    display.target.kind = OUTPUT_MASK;
    display.target.mask = outMask;
    // A plain source fills its rectangle by the mask mode.
    RasterState.maskMode = MASKVISIBLE;
    Blit(src, nullptr, nullptr, 2, 2, 0);
    EXPECT_EQ(BitAt(outMask, 2, 2), 1);
    EXPECT_EQ(BitAt(outMask, 1, 2), 0);
    EXPECT_EQ(BitAt(outMask, 9, 9), 1);
    // A masked source combines its mask; MASKINVISIBLE clears where the source is set.
    RasterState.maskMode = MASKINVISIBLE;
    Blit(src, mask, nullptr, 2, 2, 0);
    for (int y = 0; y < 8; y++)
        for (int x = 0; x < 8; x++)
            if (x + 2 < TW && y + 2 < TH) {
                ASSERT_EQ(BitAt(outMask, x + 2, y + 2), !MaskAt(x, y)) << x << "," << y;
            }
    // MASKAND leaves the mask.
    RasterState.maskMode = MASKAND;
    Blit(src, nullptr, nullptr, 0, 0, 0);
    EXPECT_EQ(BitAt(outMask, 0, 0), 0);
    // An alpha source: bits where the alpha is fully opaque only (copy mode).
    RasterState.maskMode = MASKVANILLACOPY;
    Blit(src, nullptr, alpha, 0, 0, 0);
    for (int y = 0; y < 8; y++)
        for (int x = 0; x < 8; x++) ASSERT_EQ(BitAt(outMask, x, y), AlphaAt(x, y) == 255) << x << "," << y;
    EXPECT_TRUE(rec.toDisplay.empty());
    // A selected alpha channel: the intensity where the mask is set.
    lvBitMapHandle *outAlpha = AllocAlphaBitmap(TW, TH, 1, nullptr, 0);
    display.target.kind = OUTPUT_ALPHA;
    display.target.mask = nullptr;
    display.target.alpha = outAlpha;
    RasterState.alphaIntensity = 90;
    Blit(src, mask, nullptr, 0, 0, 0);
    for (int y = 0; y < 8; y++)
        for (int x = 0; x < 8; x++) ASSERT_EQ(ByteAt(outAlpha, x, y), MaskAt(x, y) ? 90 : 0);
    RasterState.alphaIntensity = VANILLACOPY;
    Blit(src, nullptr, nullptr, 0, 0, 0);
    EXPECT_EQ(ByteAt(outAlpha, 1, 0), 255);
    // An alpha source: VANILLACOPY copies its bytes, an intensity goes wherever it is not 0.
    Blit(src, nullptr, alpha, 0, 0, 0);
    for (int y = 0; y < 8; y++)
        for (int x = 0; x < 8; x++) ASSERT_EQ(ByteAt(outAlpha, x, y), AlphaAt(x, y));
    RasterState.alphaIntensity = 40;
    Blit(src, nullptr, alpha, 0, 0, 0);
    for (int y = 0; y < 8; y++)
        for (int x = 0; x < 8; x++) ASSERT_EQ(ByteAt(outAlpha, x, y), AlphaAt(x, y) ? 40 : 0);
    FreeBitmapHandle(outMask);
    FreeBitmapHandle(outAlpha);
}

TEST_F(DisplayFixture, CombinedSelectionWritesImageAndAlpha) {
    lvBitMapHandle *image = AllocRgbBitmap(TW, TH, 0, nullptr);
    FillRgb(image, [](int, int) { return 0u; });
    lvBitMapHandle *imageAlpha = AllocAlphaBitmap(TW, TH, 1, nullptr, 0);
    display.target.kind = OUTPUT_IMAGE;
    display.target.bitmap = image;
    display.target.alpha = imageAlpha;
    display.target.selectionMode = SELMODE_COMBO;
    display.target.combineMode = 2;
    BlitImage(nullptr, nullptr, 0, 0, image, nullptr, nullptr, 0, 0, 0, 8, 8, SW, SH, TW, TH, 0, nullptr, alpha,
              nullptr, nullptr, 0x00FF8000, -1, -1, -1, nullptr, nullptr);
    for (int y = 0; y < 8; y++)
        for (int x = 0; x < 8; x++) {
            int a = AlphaAt(x, y);
            // Composited over alpha 0: the colour (with the over formula's rounding).
            uint8_t before = 0;
            uint32_t want = a == 0 ? 0u : (a == 255 ? 0x00FF8000u : OverRgb(0, 0xFF8000, a, &before));
            ASSERT_EQ(PixelAt(image, x, y), want) << x << "," << y;
            ASSERT_EQ(ByteAt(imageAlpha, x, y), a) << x << "," << y;
        }
    // Combine mode 1: the pixels blend, the alpha takes the source's where it is not 0.
    display.target.combineMode = 1;
    FillBytePlaneRect(imageAlpha, 0, 0, TW, TH, 7);
    FillRgb(image, [](int, int) { return 0x203040u; });
    BlitImage(nullptr, nullptr, 0, 0, image, nullptr, nullptr, 0, 0, 0, 8, 8, SW, SH, TW, TH, 0, nullptr, alpha,
              nullptr, nullptr, 0x00FF8000, -1, -1, -1, nullptr, nullptr);
    for (int y = 0; y < 8; y++)
        for (int x = 0; x < 8; x++) {
            int a = AlphaAt(x, y);
            uint32_t want = a == 0 ? 0x203040u : (a == 255 ? 0x00FF8000u : LerpRgb(0x203040, 0xFF8000, a));
            ASSERT_EQ(PixelAt(image, x, y), want) << x << "," << y;
            ASSERT_EQ(ByteAt(imageAlpha, x, y), a ? a : 7) << x << "," << y;
        }
    FreeBitmapHandle(image);
    FreeBitmapHandle(imageAlpha);
}

TEST_F(BlitFixture, ColourSourcesOntoPens) {
    lvBitMapHandle *chunky = AllocChunkyBitmap(TW, TH, 1);
    BlitImage(nullptr, nullptr, 0, 0, nullptr, chunky, palette, 2, 0, 0, 8, 8, SW, SH, TW, TH, 0x10, mask, nullptr,
              nullptr, nullptr, 0x00336699, -1, 3, -1, nullptr, nullptr);
    for (int y = 0; y < 8; y++)
        for (int x = 0; x < 8; x++) ASSERT_EQ(ByteAt(chunky, x, y), MaskAt(x, y) ? 3 : 0) << x << "," << y;
    FreeBitmapHandle(chunky);
}

TEST_F(BlitFixture, RegionWithNothingVisibleDrawsNothing) {
    FillMaskRect(regionMask, 0, 0, 9, 7, MASKINVISIBLE);
    lvClipRegion region{2, 1, 9, 7, regionMask};
    BlitImage(nullptr, src, 0, 0, target, nullptr, nullptr, 0, 0, 0, 8, 8, SW, SH, TW, TH, 0x10, nullptr, alpha,
              nullptr, nullptr, -1, -1, -1, -1, &region, nullptr);
    BlitImage(nullptr, nullptr, 0, 0, target, nullptr, nullptr, 0, 0, 0, 8, 8, SW, SH, TW, TH, 0x10, mask, nullptr,
              pens, palette, -1, -1, -1, -1, &region, nullptr);
    for (int y = 0; y < TH; y++)
        for (int x = 0; x < TW; x++) ASSERT_EQ(PixelAt(target, x, y), OldColour(x, y)) << x << "," << y;
}

TEST_F(BlitFixture, SizesPastTheBitmapsAreCut) {
    // The caller claims a 100x100 source and target: the blit still stays inside
    // the 8x8 source and the 12x10 target (ASan watches the memory).
    BlitImage(nullptr, src, 0, 0, target, nullptr, nullptr, 0, 6, 4, 100, 100, 100, 100, 100, 100, 0x10, mask, nullptr,
              nullptr, nullptr, -1, -1, -1, -1, nullptr, nullptr);
    EXPECT_EQ(PixelAt(target, 11, 9), MaskAt(5, 5) ? (0x55000000u | SourceColour(5, 5)) : OldColour(11, 9));
    BlitImage(nullptr, src, 0, 0, target, nullptr, nullptr, 0, 0, 0, 4, 4, 8, 8, 12, 10, 0x110, nullptr, alpha,
              nullptr, nullptr, -1, -1, -1, -1, nullptr, nullptr);
    lvBitMapHandle *small = AllocChunkyBitmap(3, 3, 1);
    BlitImage(nullptr, nullptr, 0, 0, nullptr, small, palette, 8, 1, 1, 8, 8, 8, 8, 50, 50, 0x10, nullptr, nullptr,
              pens, palette, -1, PALETTEMODE_PEN, -1, -1, nullptr, nullptr);
    EXPECT_EQ(ByteAt(small, 2, 2), PenAt(1, 1));
    FreeBitmapHandle(small);
}

TEST_F(BlitFixture, AdapterTargetsReleaseEveryLock) {
    FakeAdapter a(ADAPTER_OWNSBITMAPS);
    a.Install();
    lvBitMapHandle *asrc = AllocRgbBitmap(SW, SH, 0, nullptr);
    lvBitMapHandle *adst = AllocRgbBitmap(TW, TH, 0, nullptr);
    lvBitMapHandle *amask = AllocMaskBitmap(asrc, SW, SH, 1, nullptr, 0);
    lvBitMapHandle *aalpha = AllocAlphaBitmap(SW, SH, 1, nullptr, 0);
    lvBitMapHandle *rmask = AllocMaskBitmap(nullptr, 9, 7, 0, nullptr, 0);
    lvClipRegion region{2, 1, 9, 7, rmask};
    FillMaskRect(rmask, 0, 0, 9, 7, MASKVISIBLE);
    BlitImage(nullptr, asrc, 0, 0, adst, nullptr, nullptr, 0, 0, 0, 8, 8, SW, SH, TW, TH, 0x10, amask, nullptr,
              nullptr, nullptr, -1, -1, -1, -1, &region, nullptr);
    BlitImage(nullptr, asrc, 0, 0, adst, nullptr, nullptr, 0, 0, 0, 8, 8, SW, SH, TW, TH, 0x10, nullptr, aalpha,
              nullptr, nullptr, -1, -1, -1, -1, &region, nullptr);
    EXPECT_EQ(a.openLocks, 0);
    EXPECT_TRUE(a.Called("LockBitMap"));
    for (lvBitMapHandle *h : {asrc, adst, amask, aalpha, rmask}) FreeBitmapHandle(h);
    EXPECT_TRUE(a.live.empty());  // the scratch planes of the region merge are freed too
}

}  // namespace

// images_brush_test.cpp - brushes, draw targets, clip regions and BGPics at the engine
// level: the layer-copy protocol against a recording fake of the layers, the selection
// transitions with the fallback display, the first-draw planes, clip-region cutting and
// the blit through a SHAPE region, and BGPic scaling from the base set.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "base/lverrors.h"
#include "images/lvbgpic.h"
#include "images/lvbrush.h"
#include "images/lvclipregion.h"
#include "images/lvoffscreen.h"
#include "raster/lvblit.h"
#include "raster/lvplanes.h"
#include "raster/lvrect.h"
#include "raster/lvscale.h"
#include "tests/raster/raster_fakes.h"

namespace {

// Layers as a set of shown records; copies the layer protocol asks for are recorded.
struct FakeLayers {
    std::set<const void *> shown;
    std::vector<std::string> calls;
    std::vector<lvObjectId> copies;
    static FakeLayers *self;

    static int Copy(void *, lvState *L, int type, lvObjectId id, int (*copy)(lvState *, void *, lvObjectId *),
                    void *record)
    {
        self->calls.push_back("copy " + std::to_string(type));
        if (!self->shown.count(record)) return 0;
        lvObjectId made = {0, nullptr};
        if (int code = copy(L, record, &made)) return code;
        // The layers now show the copy, which the script cannot reach.
        self->shown.erase(record);
        self->shown.insert(made.handle);
        if (type == LV_TYPE_BRUSH) static_cast<lvBrush *>(made.handle)->detached = 1;
        else static_cast<lvBGPic *>(made.handle)->detached = 1;
        self->copies.push_back(made);
        return 0;
    }
    static int Retarget(void *, int type, lvObjectId, void *record)
    {
        self->calls.push_back("retarget " + std::to_string(type));
        return self->shown.count(record) ? 1 : 0;
    }
    static int Showing(void *, int, const void *record) { return self->shown.count(record) ? 1 : 0; }
    FakeLayers()
    {
        self = this;
        lvImageLayerServices s = {this, Copy, Retarget, Showing, nullptr, nullptr};
        SetImageLayerServices(&s);
    }
    ~FakeLayers() { SetImageLayerServices(nullptr); }
};
FakeLayers *FakeLayers::self;

class ImagesTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        if (lvSelectDisplay *d = GetSelectDisplay()) EndRedirect(nullptr, d, 1);
        FreeAllClipRegions(nullptr);
        FreeAllBrushes(nullptr);
        FreeAllBGPics();
        SetGradientFill(nullptr);
    }
    lvBrush *MakeBrush(int number, int width, int height, uint32_t colour, int mask = 0)
    {
        lvBrushRequest q = {};
        q.width = width, q.height = height, q.colour = colour, q.mask = mask;
        q.transparentColour = -1;
        q.callbackRef = q.userDataRef = -1;
        lvObjectId id = {number, nullptr};
        EXPECT_EQ(AllocBrushBitmaps(nullptr, &id, &q), 0);
        lvBrush *b = nullptr;
        EXPECT_EQ(FindBrushById(nullptr, id, &b, BRUSH_DETACHED), 0);
        return b;
    }
};

uint32_t Pixel(lvBitMapHandle *bitmap, int x, int y)
{
    lvScopedLock lock(bitmap, LOCK_READONLY);
    return lock ? ReadLockPixel(&lock.lock, x, y) & 0xFFFFFFu : 0xDEAD;
}

int Bit(lvBitMapHandle *mask, int x, int y)
{
    uint8_t *pixels;
    int rowBytes;
    uintptr_t token = GetPlanePixels(mask, &pixels, &rowBytes, 0);
    int bit = (pixels[y * rowBytes + (x >> 3)] >> (7 - (x & 7))) & 1;
    ReleasePlanePixels(token);
    return bit;
}

int Byte(lvBitMapHandle *plane, int x, int y)
{
    uint8_t *pixels;
    int rowBytes;
    uintptr_t token = GetPlanePixels(plane, &pixels, &rowBytes, 0);
    int value = pixels[y * rowBytes + x];
    ReleasePlanePixels(token);
    return value;
}

TEST_F(ImagesTest, ShownBrushIsDetachedWhenFreedAndFreedWhenTheLayerLetsGo)
{
    FakeLayers layers;
    lvBrush *b = MakeBrush(1, 4, 4, 0x123456);
    layers.shown.insert(b);
    ASSERT_EQ(ReleaseBrushRecord(nullptr, {1, nullptr}, 1), 0);
    lvBrush *found;
    EXPECT_EQ(FindBrushById(nullptr, {1, nullptr}, &found, 0), ERR_FINDBRUSH);
    EXPECT_EQ(*BrushListHead(), &b->header);  // still there for the layer
    EXPECT_TRUE(b->detached);
    // The number is free again: a new brush 1 does not disturb the detached one.
    lvBrush *again = MakeBrush(1, 2, 2, 0);
    EXPECT_NE(again, b);
    FreeDetachedBrushes(nullptr);
    EXPECT_EQ(*BrushListHead(), &b->header);
    layers.shown.clear();
    FreeDetachedBrushes(nullptr);
    EXPECT_EQ(*BrushListHead(), &again->header);
    EXPECT_EQ(again->header.next, nullptr);
}

TEST_F(ImagesTest, ModifyingLookupGivesTheLayerAPrivateCopy)
{
    FakeLayers layers;
    lvBrush *b = MakeBrush(1, 3, 2, 0x00FF00);
    layers.shown.insert(b);
    lvBrush *found;
    ASSERT_EQ(FindBrushById(nullptr, {1, nullptr}, &found, 0), 0);
    EXPECT_TRUE(layers.copies.empty());  // a reading look-up copies nothing
    ASSERT_EQ(FindBrushById(nullptr, {1, nullptr}, &found, BRUSH_MODIFY), 0);
    EXPECT_EQ(found, b);
    ASSERT_EQ(layers.copies.size(), 1u);
    auto *copy = static_cast<lvBrush *>(layers.copies[0].handle);
    EXPECT_NE(copy, b);
    EXPECT_TRUE(copy->detached);
    EXPECT_EQ(copy->width, 3);
    EXPECT_NE(copy->bitmap, b->bitmap);
    EXPECT_EQ(Pixel(copy->bitmap, 2, 1), 0x00FF00u);
    // The layer shows the copy now; the script's brush may change freely.
    EXPECT_FALSE(layers.shown.count(b));
    ASSERT_EQ(FindBrushById(nullptr, {1, nullptr}, &found, BRUSH_MODIFY), 0);
    EXPECT_EQ(layers.copies.size(), 1u);
    // A lock refuses changes; no look-up flag skips the lock.
    b->lockCount = 1;
    EXPECT_EQ(FindBrushById(nullptr, {1, nullptr}, &found, BRUSH_MODIFY), ERR_LOCKEDOBJ);
    EXPECT_EQ(ReleaseBrushRecord(nullptr, {1, nullptr}, 0), ERR_LOCKEDOBJ);
    b->lockCount = 0;
}

TEST_F(ImagesTest, LookupFlagsAndMissingBrushes)
{
    MakeBrush(5, 2, 2, 0);
    lvBrush *b;
    EXPECT_EQ(FindBrushById(nullptr, {6, nullptr}, &b, 0), ERR_FINDBRUSH);
    EXPECT_EQ(FindBrushById(nullptr, {0, &b}, &b, 0), ERR_FINDARRAY);
    EXPECT_EQ(ReleaseBrushRecord(nullptr, {6, nullptr}, 0), 0);
    EXPECT_EQ(ReleaseBrushRecord(nullptr, {6, nullptr}, 1), ERR_FINDBRUSH);
    ASSERT_EQ(FindBrushById(nullptr, {5, nullptr}, &b, 0), 0);
    lvBrush *other;
    b->kind = 1;
    EXPECT_EQ(FindBrushById(nullptr, {5, nullptr}, &other, BRUSH_NOVECTOR), ERR_BRUSHTYPE);
    EXPECT_EQ(other, nullptr);
    b->kind = 0;
    b->hardware = 1;
    EXPECT_EQ(FindBrushById(nullptr, {5, nullptr}, &other, 0), ERR_HWBRUSH);
    EXPECT_EQ(FindBrushById(nullptr, {5, nullptr}, &other, BRUSH_HARDWARE), 0);
    b->hardware = 0;
}

TEST_F(ImagesTest, SelectionTransitions)
{
    lvBrush *one = MakeBrush(1, 8, 6, 0);
    lvBrush *two = MakeBrush(2, 5, 5, 0);
    // Without a display the fallback serves and the blit sees its target.
    ASSERT_EQ(RedirectOutput(nullptr, SELECT_BRUSH, {1, nullptr}, OUTPUT_IMAGE, 0, 0, 0), 0);
    lvSelectDisplay *d = GetSelectDisplay();
    ASSERT_NE(d, nullptr);
    EXPECT_TRUE(d->isFallback);
    EXPECT_EQ(RasterState.currentDisplay, &d->blit);
    EXPECT_EQ(d->blit.target.kind, OUTPUT_IMAGE);
    EXPECT_EQ(d->blit.target.bitmap, one->bitmap);
    lvBGPic *out = GetCurrentOutput();
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(out->scaledWidth, 8);
    EXPECT_EQ(out->selectedRecord, one);
    // Reselecting is a no-op: the first-draw mark survives.
    out->checked = 1;
    ASSERT_EQ(RedirectOutput(nullptr, SELECT_BRUSH, {1, nullptr}, OUTPUT_IMAGE, 0, 0, 0), 0);
    EXPECT_EQ(GetCurrentOutput()->checked, 1);
    // The selected brush cannot be freed or changed.
    EXPECT_EQ(ReleaseBrushRecord(nullptr, {1, nullptr}, 1), ERR_MODIFYABR);
    // A second selection ends the first.
    ASSERT_EQ(RedirectOutput(nullptr, SELECT_BRUSH, {2, nullptr}, OUTPUT_IMAGE, 0, 0, 0), 0);
    EXPECT_EQ(GetCurrentOutput()->selectedRecord, two);
    EXPECT_EQ(GetCurrentOutput()->checked, 0);
    EXPECT_EQ(ReleaseBrushRecord(nullptr, {1, nullptr}, 1), 0);
    // Ending leaves no display and no output.
    ASSERT_EQ(EndRedirect(nullptr, GetSelectDisplay(), 0), 0);
    EXPECT_EQ(GetSelectDisplay(), nullptr);
    EXPECT_EQ(GetCurrentOutput(), nullptr);
    EXPECT_EQ(RasterState.currentDisplay, nullptr);
}

TEST_F(ImagesTest, MaskAndAlphaAppearAtTheFirstDraw)
{
    lvBrush *b = MakeBrush(1, 10, 3, 0xFFFFFF);
    ASSERT_EQ(RedirectOutput(nullptr, SELECT_BRUSH, {1, nullptr}, OUTPUT_MASK, 0, 0, 0), 0);
    EXPECT_EQ(b->mask, nullptr);
    ASSERT_EQ(CheckRedirectTarget(nullptr), 0);
    ASSERT_NE(b->mask, nullptr);
    EXPECT_EQ(GetSelectDisplay()->blit.target.mask, b->mask);
    EXPECT_EQ(Bit(b->mask, 9, 2), 1);
    ASSERT_EQ(EndRedirect(nullptr, GetSelectDisplay(), 0), 0);
    // The alpha channel replaces the mask, fully opaque.
    ASSERT_EQ(RedirectOutput(nullptr, SELECT_BRUSH, {1, nullptr}, OUTPUT_ALPHA, 0, 0, 0), 0);
    EXPECT_NE(b->mask, nullptr);
    ASSERT_EQ(CheckRedirectTarget(nullptr), 0);
    EXPECT_EQ(b->mask, nullptr);
    ASSERT_NE(b->alpha, nullptr);
    EXPECT_EQ(Byte(b->alpha, 9, 2), 255);
    ASSERT_EQ(EndRedirect(nullptr, GetSelectDisplay(), 0), 0);
    // Selecting and ending without drawing changes nothing.
    lvBrush *c = MakeBrush(2, 4, 4, 0);
    ASSERT_EQ(RedirectOutput(nullptr, SELECT_BRUSH, {2, nullptr}, OUTPUT_MASK, 0, 0, 0), 0);
    ASSERT_EQ(EndRedirect(nullptr, GetSelectDisplay(), 0), 0);
    EXPECT_EQ(c->mask, nullptr);
    EXPECT_EQ(c->alpha, nullptr);
}

TEST_F(ImagesTest, ClipRegionsAreCutAndOwnTheirMask)
{
    lvObjectId nil = {0, nullptr};
    lvClipRegionObject *r;
    ASSERT_EQ(NewClipRegion(&nil, -10, 0, 20, 5, nullptr, &r), 0);
    EXPECT_EQ(r->region.x, 0);
    EXPECT_EQ(r->region.width, 10);
    lvObjectId one = {1, nullptr};
    EXPECT_EQ(NewClipRegion(&one, 0, 0, 0, 5, nullptr, &r), ERR_WRONGUSAGE);
    // A SHAPE region copies the mask (cut to the visible part) and outlives the brush.
    lvBrush *b = MakeBrush(1, 16, 2, 0, 1);
    uint8_t *pixels;
    int rowBytes;
    uintptr_t token = GetPlanePixels(b->mask, &pixels, &rowBytes, 1);
    std::memset(pixels, 0, (size_t)rowBytes * 2);
    pixels[0] = 0x0F;  // bits 4..7 of row 0
    ReleasePlanePixels(token);
    lvObjectId two = {2, nullptr};
    ASSERT_EQ(NewClipRegion(&two, -2, 0, 16, 2, b->mask, &r), 0);
    ASSERT_EQ(ReleaseBrushRecord(nullptr, {1, nullptr}, 1), 0);
    EXPECT_EQ(r->region.width, 14);
    EXPECT_EQ(Bit(r->region.mask, 1, 0), 0);
    EXPECT_EQ(Bit(r->region.mask, 2, 0), 1);
    EXPECT_EQ(Bit(r->region.mask, 5, 0), 1);
    EXPECT_EQ(Bit(r->region.mask, 6, 0), 0);
    EXPECT_EQ(Bit(r->region.mask, 2, 1), 0);
}

TEST_F(ImagesTest, ClipRegionMustFitTheOutput)
{
    MakeBrush(1, 10, 10, 0);
    lvObjectId id = {1, nullptr};
    lvClipRegionObject *wide;
    ASSERT_EQ(NewClipRegion(&id, 0, 0, 11, 5, nullptr, &wide), 0);
    EXPECT_EQ(SetOutputClipRegion(wide), ERR_OUTPUTDEVICE);  // nothing to clip yet
    ASSERT_EQ(RedirectOutput(nullptr, SELECT_BRUSH, {1, nullptr}, OUTPUT_IMAGE, 0, 0, 0), 0);
    EXPECT_EQ(SetOutputClipRegion(wide), ERR_WRONGCLIPREG);
    lvObjectId id2 = {2, nullptr};
    lvClipRegionObject *fits;
    ASSERT_EQ(NewClipRegion(&id2, 2, 0, 8, 5, nullptr, &fits), 0);
    InstallOutputArea();
    EXPECT_EQ(ResolveSpecialX(-100000, 4, 0, 0), 3);  // CENTER of the brush
    ASSERT_EQ(SetOutputClipRegion(fits), 0);
    EXPECT_EQ(GetCurrentOutput()->clipRegion, &fits->region);
    EXPECT_EQ(ResolveSpecialX(-100000, 4, 0, 0), 4);  // CENTER of the region: 2 + (8 - 4) / 2
    EXPECT_EQ(GetSelectDisplay()->marginLeft, 2);
    EXPECT_EQ(GetSelectDisplay()->marginRight, 9);
    // Freeing the active region takes it off the output.
    ASSERT_EQ(ReleaseClipRegion(nullptr, id2, 1), 0);
    EXPECT_EQ(GetCurrentOutput()->clipRegion, nullptr);
    EXPECT_EQ(ReleaseClipRegion(nullptr, id2, 1), ERR_FINDCLIPREGION);
}

// A pen source with a transparent pen through a SHAPE region: pens outside the region
// become the transparent pen, so the blit leaves the target there.
TEST_F(ImagesTest, ClipMergeOfAPenSourceKeepsItsTransparentPen)
{
    lvBitMapHandle *pens = AllocChunkyBitmap(4, 1, 1);
    uint8_t *pixels;
    int rowBytes;
    uintptr_t token = GetPlanePixels(pens, &pixels, &rowBytes, 1);
    pixels[0] = 1, pixels[1] = 2, pixels[2] = 3, pixels[3] = 0;
    ReleasePlanePixels(token);
    lvBitMapHandle *mask = AllocMaskBitmap(nullptr, 4, 1, 1, nullptr, 0);
    token = GetPlanePixels(mask, &pixels, &rowBytes, 1);
    pixels[0] = 0xA0;  // bits 0 and 2
    ReleasePlanePixels(token);
    lvClipRegion region = {0, 0, 4, 1, mask};
    lvBlitRequest request = {};
    request.sourceChunky = pens;
    request.transparent = 0;
    request.width = 4, request.height = 1;
    request.clipRegion = &region;
    lvClipScratch scratch = {};
    ASSERT_EQ(MergeClipRegionMaskNative(nullptr, &request, &scratch), 1);
    ASSERT_NE(request.sourceChunky, pens);
    EXPECT_EQ(Byte(request.sourceChunky, 0, 0), 1);
    EXPECT_EQ(Byte(request.sourceChunky, 1, 0), 0);
    EXPECT_EQ(Byte(request.sourceChunky, 2, 0), 3);
    EXPECT_EQ(Byte(request.sourceChunky, 3, 0), 0);
    FreeBitmapHandle(scratch.mask);
    FreeBitmapHandle(scratch.alpha);
    FreeBitmapHandle(pens);
    FreeBitmapHandle(mask);
}

// A stand-in for the raster engine's gradient renderer: red rises left to right.
int FakeGradient(lvBitMapHandle *bitmap, uint32_t *argb, int width, int height, const lvGradient *)
{
    for (int y = 0; y < height; y++)
        for (int x = 0; x < width; x++) {
            uint32_t c = 0xFF000000u | uint32_t(x * 255 / (width > 1 ? width - 1 : 1)) << 16 | uint32_t(y & 0xFF);
            if (argb) argb[y * width + x] = c;
        }
    if (!bitmap) return 0;
    lvScopedLock lock(bitmap, 0);
    for (int y = 0; lock && y < height; y++)
        for (int x = 0; x < width; x++)
            WriteLockPixel(&lock.lock,
                           0xFF000000u | uint32_t(x * 255 / (width > 1 ? width - 1 : 1)) << 16 | uint32_t(y & 0xFF),
                           x, y);
    return 0;
}

std::vector<uint32_t> Pixels(lvBitMapHandle *bitmap, int width, int height)
{
    std::vector<uint32_t> out;
    for (int y = 0; y < height; y++)
        for (int x = 0; x < width; x++) out.push_back(Pixel(bitmap, x, y));
    return out;
}

TEST_F(ImagesTest, GradientBGPicScaledTwiceAndBackIsUnchanged)
{
    SetGradientFill(FakeGradient);
    lvBGPicFill fill = {};
    fill.style = 2;
    lvBitMapHandle *rgb;
    ASSERT_EQ(BuildBGPicBitmaps(nullptr, &fill, -1, 9, 4, 9, &rgb, nullptr, nullptr, nullptr), 0);
    lvObjectId id = {1, nullptr};
    lvBGPic *g;
    ASSERT_EQ(NewBGPicRecord(&id, 1, 9, 4, 9, nullptr, rgb, nullptr, -1, nullptr, nullptr, nullptr, 24, nullptr, &fill,
                             nullptr, 0, nullptr, &g),
              0);
    auto before = Pixels(g->scaled.bitmap, 9, 4);
    ASSERT_EQ(ScaleBGPicBitmaps(g, 18, 8, 0), 0);
    EXPECT_EQ(g->scaledWidth, 18);
    EXPECT_EQ(Pixel(g->scaled.bitmap, 17, 0), 0xFF0000u);
    ASSERT_EQ(ScaleBGPicBitmaps(g, 9, 4, 0), 0);
    EXPECT_EQ(Pixels(g->scaled.bitmap, 9, 4), before);
    EXPECT_EQ(ScaleBGPicBitmaps(g, 0, 4, 0), ERR_BADDIMENSIONS);
}

TEST_F(ImagesTest, BitmapBGPicRescalesFromItsBase)
{
    std::vector<uint32_t> argb(8 * 8);
    for (int i = 0; i < 64; i++) argb[i] = 0xFF000000u | uint32_t(i * 0x030507);
    lvBitMapHandle *rgb, *mask = nullptr, *alpha = nullptr;
    ASSERT_EQ(BuildBGPicBitmaps(argb.data(), nullptr, -1, 8, 8, 8, &rgb, &mask, &alpha, nullptr), 0);
    lvObjectId a = {1, nullptr}, b = {2, nullptr};
    lvBGPic *g, *h;
    ASSERT_EQ(NewBGPicRecord(&a, 0, 8, 8, 8, nullptr, rgb, nullptr, -1, nullptr, nullptr, nullptr, 24, nullptr,
                             nullptr, nullptr, 0, nullptr, &g),
              0);
    ASSERT_EQ(CopyBGPicRecord(g, &b), 0);
    ASSERT_EQ(FindBGPicById(b, &h, 0), 0);
    ASSERT_EQ(ScaleBGPicBitmaps(g, 3, 3, 0), 0);
    ASSERT_EQ(ScaleBGPicBitmaps(g, 12, 12, 0), 0);
    ASSERT_EQ(ScaleBGPicBitmaps(h, 12, 12, 0), 0);
    EXPECT_EQ(Pixels(g->scaled.bitmap, 12, 12), Pixels(h->scaled.bitmap, 12, 12));
    EXPECT_EQ(Pixels(g->base.bitmap, 8, 8), Pixels(h->base.bitmap, 8, 8));
}

TEST_F(ImagesTest, DrawingIntoAScaledBGPicKeepsItsScaledSize)
{
    lvBGPicFill fill = {};
    fill.style = 1;
    fill.colour = 0x0000FF;
    lvBitMapHandle *rgb;
    ASSERT_EQ(BuildBGPicBitmaps(nullptr, &fill, -1, 4, 4, 4, &rgb, nullptr, nullptr, nullptr), 0);
    lvObjectId id = {1, nullptr};
    lvBGPic *g;
    ASSERT_EQ(NewBGPicRecord(&id, 0, 4, 4, 4, nullptr, rgb, nullptr, -1, nullptr, nullptr, nullptr, 24, nullptr, &fill,
                             nullptr, 0, nullptr, &g),
              0);
    ASSERT_EQ(ScaleBGPicBitmaps(g, 8, 6, 0), 0);
    ASSERT_EQ(RedirectOutput(nullptr, SELECT_BGPIC, id, OUTPUT_IMAGE, 0, 0, 0), 0);
    EXPECT_EQ(GetSelectDisplay()->blit.target.bitmap, g->base.bitmap);
    ASSERT_EQ(CheckRedirectTarget(nullptr), 0);
    FillBitmapRect(g->base.bitmap, 0, 0, 4, 4, 0xFF00FF00u);  // what drawing would do
    EXPECT_EQ(CheckActiveBGPic(id), ERR_MODIFYABGPIC);
    ASSERT_EQ(EndRedirect(nullptr, GetSelectDisplay(), 0), 0);
    EXPECT_EQ(g->scaledWidth, 8);
    EXPECT_EQ(g->scaledHeight, 6);
    EXPECT_EQ(Pixel(g->scaled.bitmap, 7, 5), 0x00FF00u);
    EXPECT_EQ(Pixel(g->shown.bitmap, 0, 0), 0x00FF00u);
}

TEST_F(ImagesTest, TransparencyIsFlattenedOntoTheFill)
{
    // Two pixels: opaque blue, fully transparent.
    uint32_t argb[2] = {0xFF0000FFu, 0x00000000u};
    lvBitMapHandle *alpha = CreateAlphaBitmapFromPixels(argb, 2, 1, 2);
    ASSERT_NE(alpha, nullptr);
    lvBGPicFill fill = {};
    fill.style = 1;
    fill.colour = 0xFF0000;
    lvBitMapHandle *rgb, *mask;
    ASSERT_EQ(BuildBGPicBitmaps(argb, &fill, -1, 2, 1, 2, &rgb, &mask, &alpha, nullptr), 0);
    EXPECT_EQ(mask, nullptr);
    EXPECT_EQ(alpha, nullptr);
    EXPECT_EQ(Pixel(rgb, 0, 0), 0x0000FFu);
    EXPECT_EQ(Pixel(rgb, 1, 0), 0xFF0000u);
    FreeBitmapHandle(rgb);
}

TEST_F(ImagesTest, ShownBGPicIsDetachedAndFreedWhenNothingShowsIt)
{
    FakeLayers layers;
    lvBGPicFill fill = {};
    fill.style = 1;
    lvBitMapHandle *rgb;
    ASSERT_EQ(BuildBGPicBitmaps(nullptr, &fill, -1, 4, 4, 4, &rgb, nullptr, nullptr, nullptr), 0);
    lvObjectId id = {3, nullptr};
    lvBGPic *g;
    ASSERT_EQ(NewBGPicRecord(&id, 0, 4, 4, 4, nullptr, rgb, nullptr, -1, nullptr, nullptr, nullptr, 24, nullptr, &fill,
                             nullptr, 0, nullptr, &g),
              0);
    layers.shown.insert(g);
    ASSERT_EQ(ReleaseBGPicRecord(nullptr, id, 1), 0);
    lvBGPic *found;
    EXPECT_EQ(FindBGPicById(id, &found, 0), ERR_FINDBGPIC);
    EXPECT_EQ(FindBGPicById({0, g}, &found, BGPIC_FIND_DETACHED), 0);
    FreeDetachedBGPics();
    EXPECT_EQ(FirstBGPic(), g);
    layers.shown.clear();
    // A change to a shown BGPic leaves the layer its own copy.
    lvObjectId four = {4, nullptr};
    lvBGPic *h;
    ASSERT_EQ(CopyBGPicRecord(g, &four), 0);
    ASSERT_EQ(FindBGPicById(four, &h, 0), 0);
    layers.shown.insert(h);
    lvBGPic *changing;
    ASSERT_EQ(FindBGPicForChange(nullptr, four, &changing), 0);
    EXPECT_EQ(changing, h);
    ASSERT_EQ(layers.copies.size(), 1u);
    auto *copy = static_cast<lvBGPic *>(layers.copies[0].handle);
    EXPECT_TRUE(copy->detached);
    EXPECT_NE(copy->base.bitmap, h->base.bitmap);
    h->lockCount = 1;
    EXPECT_EQ(FindBGPicForChange(nullptr, four, &changing), ERR_LOCKEDOBJ);
    h->lockCount = 0;
    ASSERT_EQ(UnlinkBGPicById(four), 0);
    layers.shown.clear();
    FreeDetachedBGPics();
    EXPECT_EQ(FirstBGPic(), nullptr);
    EXPECT_EQ(ReleaseBGPicRecord(nullptr, id, 1), ERR_FINDBGPIC);
}

// The blit through a SHAPE region draws exactly where the region's mask is set.
TEST_F(ImagesTest, BlitThroughAShapeRegionFollowsItsMask)
{
    ASSERT_EQ(CreateBitmapTargetDisplay(), 0);
    lvBrush *shape = MakeBrush(1, 8, 3, 0, 1);
    uint8_t *pixels;
    int rowBytes;
    uintptr_t token = GetPlanePixels(shape->mask, &pixels, &rowBytes, 1);
    std::memset(pixels, 0, (size_t)rowBytes * 3);
    pixels[0] = 0xA5, pixels[rowBytes] = 0x3C, pixels[2 * rowBytes] = 0x81;
    ReleasePlanePixels(token);
    lvObjectId id = {1, nullptr};
    lvClipRegionObject *region;
    ASSERT_EQ(NewClipRegion(&id, 0, 0, 8, 3, shape->mask, &region), 0);
    lvBrush *source = MakeBrush(2, 8, 3, 0xFF0000);
    lvBrush *target = MakeBrush(3, 8, 3, 0x000000);
    BlitImage(nullptr, source->bitmap, 0, 0, target->bitmap, nullptr, nullptr, 0, 0, 0, 8, 3, 8, 3, 8, 3,
              BLIT_NOOUTPUT, nullptr, nullptr, nullptr, nullptr, -1, 0, 0, 0, &region->region, nullptr);
    for (int y = 0; y < 3; y++)
        for (int x = 0; x < 8; x++)
            EXPECT_EQ(Pixel(target->bitmap, x, y), Bit(region->region.mask, x, y) ? 0xFF0000u : 0u) << x << "," << y;
    ReleaseDrawingResources();
}

TEST_F(ImagesTest, DecodedBrushesAreRealizedWithTheirCrop)
{
    // A brush that holds only decoded pixels, as the preload leaves it.
    lvImageSource *source = NewImageSource(LV_IMGSRC_PIXELS, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, 4,
                                           2, nullptr, nullptr, 0);
    ASSERT_NE(source, nullptr);
    const uint32_t pixels[8] = {0xFF000001, 0xFF000002, 0xFF000003, 0xFF000004,
                                0xFF000005, 0xFF000006, 0xFF000007, 0xFF000008};
    std::memcpy(source->pixels, pixels, sizeof pixels);
    lvObjectId id = {1, nullptr};
    lvBrush *b;
    ASSERT_EQ(NewBrushRecord(&id, 0, 4, 2, 4, 0, source, nullptr, -1, nullptr, nullptr, nullptr, 24, nullptr, nullptr,
                             nullptr, 0, nullptr, &b),
              0);
    b->cropX = 1, b->cropY = 1, b->cropWidth = 2, b->cropHeight = 1;
    ASSERT_EQ(RealizeBrushImages(1, 0), 0);
    ASSERT_NE(b->bitmap, nullptr);
    EXPECT_EQ(b->imageSource, nullptr);
    EXPECT_EQ(b->width, 2);
    EXPECT_EQ(b->height, 1);
    EXPECT_EQ(Pixel(b->bitmap, 0, 0), 6u);
    EXPECT_EQ(Pixel(b->bitmap, 1, 0), 7u);
}

int ResolveTestDisplay(lvObjectId, void **display, lvObjectId *id)
{
    static int window;
    *display = &window;
    *id = {1, nullptr};
    return 0;
}

// "hardware" counts only where the back-end makes video bitmaps: then the display must be
// realized, and the brush is a video bitmap that most look-ups refuse.
TEST_F(ImagesTest, HardwareBrushesNeedVideoBitmapsAndADisplay)
{
    lvBrushRequest q = {};
    q.width = 4, q.height = 3, q.colour = 0x102030, q.hardware = 1;
    q.transparentColour = -1;
    q.callbackRef = q.userDataRef = -1;
    lvObjectId plain = {1, nullptr};
    ASSERT_EQ(AllocBrushBitmaps(nullptr, &plain, &q), 0);  // no video bitmaps: ignored
    lvBrush *b;
    ASSERT_EQ(FindBrushById(nullptr, plain, &b, 0), 0);
    EXPECT_EQ(b->hardware, 0);
    {
        FakeAdapter fake(ADAPTER_VIDEOBITMAPS);
        SetRasterDisplayAdapter(&fake.record);
        lvObjectId hw = {2, nullptr};
        EXPECT_EQ(AllocBrushBitmaps(nullptr, &hw, &q), 1526);  // no display realized
        SetHardwareDisplayResolver(ResolveTestDisplay);
        ASSERT_EQ(AllocBrushBitmaps(nullptr, &hw, &q), 0);
        EXPECT_EQ(FindBrushById(nullptr, hw, &b, 0), ERR_HWBRUSH);
        ASSERT_EQ(FindBrushById(nullptr, hw, &b, BRUSH_HARDWARE), 0);
        EXPECT_EQ(b->hardware, 1);
        EXPECT_EQ(b->bitmap->video, 1);
        EXPECT_EQ(b->displayId.number, 1);
        EXPECT_EQ(b->mask, nullptr);
        // Closing the display for a reopen keeps the pixels; the reopen makes them again.
        void *display = b->display;
        fake.videoPixels.assign(12, 0xFF102030u);
        ASSERT_EQ(SaveDisplayBrushes(display), 0);
        EXPECT_EQ(b->bitmap, nullptr);
        ASSERT_NE(b->savedPixels, nullptr);
        EXPECT_EQ(b->savedPixels[11] & 0xFFFFFFu, 0x102030u);
        ASSERT_EQ(RestoreDisplayBrushes(display), 0);
        ASSERT_NE(b->bitmap, nullptr);
        EXPECT_EQ(b->savedPixels, nullptr);
        EXPECT_EQ(b->display, display);
        FreeDisplayBrushes(nullptr, display);
        EXPECT_EQ(FindBrushById(nullptr, hw, &b, BRUSH_HARDWARE), ERR_FINDBRUSH);
        SetHardwareDisplayResolver(nullptr);
    }
}

}  // namespace

// images_brush_edit_test.cpp - changing a brush's planes: crop, trim and extend sizes and
// pixels, the transparency conversions, pixels read and written, colour tables, and for
// every changing operation an allocation failure at each step leaving the brush exactly as
// it was.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <vector>

#include "base/lverrors.h"
#include "images/lvbrush.h"
#include "tests/raster/raster_fakes.h"
#include "platform/lvplatform.h"
#include "raster/lvbitmap.h"
#include "raster/lvblit.h"
#include "raster/lvdrawtags.h"

namespace {

class BrushEditTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        FailAllocMemoryAfter(-1);
        FreeAllBrushes(nullptr);
    }
    // An RGB brush whose pixel (x, y) is 0x00yyxx (plus a mask or alpha channel).
    lvBrush *Make(int number, int width, int height, int mask = 0, int alpha = 0)
    {
        lvBrushRequest q = {};
        q.width = width, q.height = height, q.mask = mask, q.alpha = alpha;
        q.transparentColour = -1;
        q.callbackRef = q.userDataRef = -1;
        lvObjectId id = {number, nullptr};
        EXPECT_EQ(AllocBrushBitmaps(nullptr, &id, &q), 0);
        lvBrush *b = nullptr;
        EXPECT_EQ(FindBrushById(nullptr, id, &b, 0), 0);
        for (int y = 0; y < height; y++)
            for (int x = 0; x < width; x++) EXPECT_EQ(WriteBrushPixelValue(b, x, y, (uint32_t)(y << 8 | x), -1), 0);
        return b;
    }
    static lvBrush *FindBrush(int number)
    {
        lvBrush *b = nullptr;
        FindBrushById(nullptr, {number, nullptr}, &b, 0);
        return b;
    }
    // A palette brush of depth 2 with pen (x + y) & 3 and transparent pen 0.
    lvBrush *MakePens(int number, int width, int height)
    {
        static uint32_t palette[256] = {0xFF000000u, 0xFFFF0000u, 0xFF00FF00u, 0xFF0000FFu};
        lvBrushRequest q = {};
        q.width = width, q.height = height, q.depth = 2, q.palette = palette;
        q.transparentColour = 0;
        q.callbackRef = q.userDataRef = -1;
        lvObjectId id = {number, nullptr};
        EXPECT_EQ(AllocBrushBitmaps(nullptr, &id, &q), 0);
        lvBrush *b = nullptr;
        EXPECT_EQ(FindBrushById(nullptr, id, &b, 0), 0);
        for (int y = 0; y < height; y++)
            for (int x = 0; x < width; x++) EXPECT_EQ(WriteBrushPixelValue(b, x, y, (uint32_t)((x + y) & 3), -1), 0);
        return b;
    }
};

std::vector<uint32_t> Words(lvBrush *b)
{
    uint32_t *w = nullptr;
    EXPECT_EQ(BrushToArgbWords(b, 0, &w), 0);
    std::vector<uint32_t> out(w, w + (size_t)b->width * b->height);
    FreeMemory(w);
    return out;
}

TEST_F(BrushEditTest, CropCutsAtTheEdgeAndChecksItsCorner)
{
    lvBrush *b = Make(1, 100, 100);
    EXPECT_EQ(CropBrushImage(b, 100, 0, 1, 1), ERR_COORDSRANGE);
    EXPECT_EQ(CropBrushImage(b, -1, 0, 1, 1), ERR_NEGCOORDS);
    EXPECT_EQ(CropBrushImage(b, 0, 0, 0, 1), ERR_BADDIMENSIONS);
    EXPECT_EQ(b->width, 100);
    ASSERT_EQ(CropBrushImage(b, 10, 10, 1000, 1000), 0);
    EXPECT_EQ(b->width, 90);
    EXPECT_EQ(b->height, 90);
    int64_t c;
    int t;
    ASSERT_EQ(ReadBrushPixelValue(b, 0, 0, &c, &t), 0);
    EXPECT_EQ(c, 0x0A0A);
    ASSERT_EQ(ReadBrushPixelValue(b, 89, 89, &c, &t), 0);
    EXPECT_EQ(c, 0x6363);
}

TEST_F(BrushEditTest, TrimKeepsTheVisiblePixels)
{
    lvBrush *b = Make(1, 20, 20, 0, 1);
    lvBrush *opaque = Make(2, 8, 8);
    lvBrush *empty = Make(3, 8, 8, 1);
    for (int y = 0; y < 20; y++)
        for (int x = 0; x < 20; x++) WriteBrushPixelValue(b, x, y, (uint32_t)(y << 8 | x), 0);
    WriteBrushPixelValue(b, 5, 7, 0x0705, 200);
    for (int y = 0; y < 8; y++)
        for (int x = 0; x < 8; x++) WriteBrushPixelValue(empty, x, y, 0, 0);
    int x = -1, y = -1;
    ASSERT_EQ(TrimBrushImage(b, &x, &y), 0);
    EXPECT_EQ(x, 5);
    EXPECT_EQ(y, 7);
    EXPECT_EQ(b->width, 1);
    EXPECT_EQ(b->height, 1);
    EXPECT_EQ(Words(b), std::vector<uint32_t>{0xC8000705u});
    ASSERT_EQ(TrimBrushImage(opaque, &x, &y), 0);
    EXPECT_EQ(x, 0);
    EXPECT_EQ(y, 0);
    EXPECT_EQ(opaque->width, 8);
    EXPECT_EQ(TrimBrushImage(empty, &x, &y), ERR_TRANSBRUSH);
    EXPECT_EQ(IsBrushImageEmpty(empty), 1);
    EXPECT_EQ(IsBrushImageEmpty(opaque), 0);
}

TEST_F(BrushEditTest, ExtendFillsTheStripsWithAndWithoutClear)
{
    lvBrush *masked = Make(1, 2, 1, 1);
    ASSERT_EQ(ExtendBrushImage(masked, 2, 0, 0, 0, 1, 0x123456, 0), 0);
    EXPECT_EQ(Words(masked), (std::vector<uint32_t>{0x00123456u, 0x00123456u, 0xFF000000u, 0xFF000001u}));
    lvBrush *open = Make(2, 2, 1, 1);
    ASSERT_EQ(ExtendBrushImage(open, 0, 1, 1, 0, 0, 0x123456, 0), 0);
    EXPECT_EQ(Words(open), (std::vector<uint32_t>{0xFF123456u, 0xFF123456u, 0xFF123456u, 0xFF000000u, 0xFF000001u,
                                                  0xFF123456u}));
    lvBrush *alpha = Make(3, 1, 1, 0, 1);
    ASSERT_EQ(ExtendBrushImage(alpha, 1, 0, 0, 0, 1, 0, 0), 0);
    EXPECT_EQ(Words(alpha), (std::vector<uint32_t>{0x00000000u, 0xFF000000u}));
    lvBrush *pens = MakePens(4, 2, 1);
    EXPECT_EQ(ExtendBrushImage(pens, 1, 0, 0, 0, 0, 0, 4), ERR_PENRANGE);
    ASSERT_EQ(ExtendBrushImage(pens, 1, 0, 0, 0, 1, 0, 3), 0);
    int64_t c;
    int t;
    ReadBrushPixelValue(pens, 0, 0, &c, &t);
    EXPECT_EQ(c, 3);
    EXPECT_EQ(ExtendBrushImage(pens, -1, 0, 0, 0, 0, 0, 0), ERR_NEGCOORDS);
}

// Sizes whose sum or product does not fit a bitmap fail as the allocation, not wrapped
// into a small bitmap written out of bounds.
TEST_F(BrushEditTest, ExtendSizesPastABitmapFailAsAllocation)
{
    lvBrush *b = Make(1, 4, 4);
    lvBrush *pens = MakePens(2, 4, 4);
    EXPECT_EQ(ExtendBrushImage(b, 0x7FFFFFFF, 0, 0x7FFFFFFF, 0, 0, 0, 0), ERR_BITMAP);
    EXPECT_EQ(ExtendBrushImage(b, 70000, 70000, 0, 0, 0, 0, 0), ERR_BITMAP);
    EXPECT_EQ(ExtendBrushImage(pens, 0, 0x7FFFFFFF, 0, 0x7FFFFFFF, 0, 0, 0), ERR_ALLOCCHUNKY);
    EXPECT_EQ(b->width, 4);
    EXPECT_EQ(pens->height, 4);
}

TEST_F(BrushEditTest, TransparencyModes)
{
    lvBrush *b = Make(1, 3, 1, 0, 1);
    WriteBrushPixelValue(b, 0, 0, 0, 254);
    WriteBrushPixelValue(b, 1, 0, 1, 254);
    WriteBrushPixelValue(b, 2, 0, 2, 255);
    ASSERT_EQ(ChangeBrushTransparencyMode(b, 28), 0);
    EXPECT_EQ(b->alpha, nullptr);
    EXPECT_EQ(Words(b), (std::vector<uint32_t>{0x00000000u, 0x00000001u, 0xFF000002u}));
    ASSERT_EQ(ChangeBrushTransparencyMode(b, 30), 0);
    EXPECT_EQ(b->mask, nullptr);
    EXPECT_EQ(Words(b), (std::vector<uint32_t>{0x00000000u, 0x00000001u, 0xFF000002u}));
    ASSERT_EQ(ReduceBrushAlpha(b, 128), 0);
    EXPECT_EQ(Words(b)[2], 0x80000002u);
    EXPECT_EQ(ReduceBrushAlpha(b, 256), ERR_WRONGUSAGE);
    EXPECT_EQ(ChangeBrushTransparencyMode(b, 5), ERR_WRONGUSAGE);
    ASSERT_EQ(ChangeBrushTransparencyMode(b, -1), 0);
    EXPECT_EQ(b->alpha, nullptr);
    EXPECT_EQ(ReduceBrushAlpha(b, 5), ERR_WRONGUSAGE);
    lvBitMapHandle *mask = nullptr;
    ASSERT_EQ(MaskFromColourKey(b, 0xFF000001u, &mask), 0);
    b->mask = mask;
    EXPECT_EQ(Words(b), (std::vector<uint32_t>{0xFF000000u, 0x00000001u, 0xFF000002u}));
}

TEST_F(BrushEditTest, PixelsReadAndWritten)
{
    lvBrush *masked = Make(1, 2, 2, 1);
    lvBrush *pens = MakePens(2, 2, 2);
    int64_t c;
    int t;
    ReadBrushPixelValue(masked, -1, 0, &c, &t);
    EXPECT_EQ(c, 4294967295LL);
    EXPECT_EQ(t, -1);
    EXPECT_EQ(WriteBrushPixelValue(masked, 5, 5, 0xFF0000, 0), 0);
    ASSERT_EQ(WriteBrushPixelValue(masked, 1, 1, 0xABFF0000u, 0), 0);
    ReadBrushPixelValue(masked, 1, 1, &c, &t);
    EXPECT_EQ(c, 0xFF0000);
    EXPECT_EQ(t, 0);
    ReadBrushPixelValue(pens, 0, 0, &c, &t);
    EXPECT_EQ(c, 0);
    EXPECT_EQ(t, 1);
    EXPECT_EQ(WriteBrushPixelValue(pens, 0, 0, 4, -1), ERR_PENRANGE);
    EXPECT_EQ(Words(pens), (std::vector<uint32_t>{0, 0xFFFF0000u, 0xFFFF0000u, 0xFF00FF00u}));
}

TEST_F(BrushEditTest, FlipMirrorsEveryPlane)
{
    lvBrush *b = Make(1, 3, 1, 1);
    WriteBrushPixelValue(b, 0, 0, 0, 0);
    ASSERT_EQ(FlipBrushImage(b, 1), 0);
    EXPECT_EQ(Words(b), (std::vector<uint32_t>{0xFF000002u, 0xFF000001u, 0x00000000u}));
    lvBrush *tall = Make(2, 1, 2);
    ASSERT_EQ(FlipBrushImage(tall, 0), 0);
    EXPECT_EQ(Words(tall), (std::vector<uint32_t>{0xFF000100u, 0xFF000000u}));
}

// Every allocation of a changing operation in turn fails: the brush keeps its planes and
// pixels, and nothing leaks (LSan).
TEST_F(BrushEditTest, AllocationFailureLeavesTheBrushAsItWas)
{
    struct Step {
        const char *name;
        int pens, mask, alpha;
        std::function<int(lvBrush *)> run;
    };
    const std::vector<Step> steps = {
        {"crop", 0, 1, 0, [](lvBrush *b) { return CropBrushImage(b, 1, 1, 3, 3); }},
        {"crop alpha", 0, 0, 1, [](lvBrush *b) { return CropBrushImage(b, 1, 1, 3, 3); }},
        {"crop pens", 1, 0, 0, [](lvBrush *b) { return CropBrushImage(b, 1, 1, 3, 3); }},
        {"trim", 0, 0, 1, [](lvBrush *b) {
             int x, y;
             return TrimBrushImage(b, &x, &y);
         }},
        {"extend mask", 0, 1, 0, [](lvBrush *b) { return ExtendBrushImage(b, 1, 2, 3, 4, 0, 0, 0); }},
        {"extend alpha", 0, 0, 1, [](lvBrush *b) { return ExtendBrushImage(b, 1, 2, 3, 4, 1, 0, 0); }},
        {"extend pens", 1, 0, 0, [](lvBrush *b) { return ExtendBrushImage(b, 1, 2, 3, 4, 0, 0, 1); }},
        {"to mask", 0, 0, 1, [](lvBrush *b) { return ChangeBrushTransparencyMode(b, 28); }},
        {"to alpha", 0, 1, 0, [](lvBrush *b) { return ChangeBrushTransparencyMode(b, 30); }},
    };
    for (const Step &step : steps) {
        for (int allowed = 0;; allowed++) {
            lvBrush *b = step.pens ? MakePens(1, 6, 5) : Make(1, 6, 5, step.mask, step.alpha);
            // A clear left column: trimming has something to cut.
            for (int y = 0; y < 5 && !step.pens; y++) WriteBrushPixelValue(b, 0, y, (uint32_t)(y << 8), 0);
            const std::vector<uint32_t> before = Words(b);
            lvBitMapHandle *planes[4] = {b->bitmap, b->mask, b->alpha, b->penBitmap};
            FailAllocMemoryAfter(allowed);
            int code = step.run(b);
            FailAllocMemoryAfter(-1);
            if (code == 0) {
                FreeAllBrushes(nullptr);
                break;
            }
            SCOPED_TRACE(std::string(step.name) + " after " + std::to_string(allowed));
            EXPECT_EQ(b->width, 6);
            EXPECT_EQ(b->height, 5);
            lvBitMapHandle *now[4] = {b->bitmap, b->mask, b->alpha, b->penBitmap};
            EXPECT_EQ(0, std::memcmp(planes, now, sizeof planes));
            EXPECT_EQ(Words(b), before);
            FreeAllBrushes(nullptr);
            ASSERT_LT(allowed, 50);
        }
    }
}

}  // namespace

// ---- Drawing with tags against a fake display and fake layers -------------------------------

namespace {

struct RecordedLayer {
    int type, sx, sy, x, y, width, height;
    lvMatrix2D matrix;
};
std::vector<RecordedLayer> recordedLayers;
int layerDraws = 1;

int FakeAddImageLayer(void *, lvState *, int type, lvObjectId, int sx, int sy, int x, int y, int width, int height,
                      const lvDrawTags *tags, const lvStyleTags *, int *drawn)
{
    recordedLayers.push_back({type, sx, sy, x, y, width, height, tags->matrix});
    *drawn = layerDraws;
    return 0;
}

class DrawObjectTest : public BrushEditTest {
protected:
    lvBlitDisplay display = {};
    lvBlitDisplay *saved = nullptr;
    lvBrush *target = nullptr;
    void SetUp() override
    {
        saved = RasterState.currentDisplay;
        target = Make(50, 8, 8);
        // The display draws into the target brush's bitmap, as a selection does.
        display.target.kind = OUTPUT_IMAGE;
        display.target.bitmap = target->bitmap;
        RasterState.currentDisplay = &display;
        recordedLayers.clear();
    }
    void TearDown() override
    {
        RasterState.currentDisplay = saved;
        SetImageLayerServices(nullptr);
        BrushEditTest::TearDown();
    }
    int Draw(int type, int number, int x, int y, const lvDrawTags *tags, const lvStyleTags *style, int sx = 0,
             int sy = 0, int width = 0, int height = 0)
    {
        lvDrawObjectRequest q = {};
        q.type = type, q.id = {number, nullptr}, q.x = x, q.y = y, q.sourceX = sx, q.sourceY = sy;
        q.width = width, q.height = height, q.tags = tags, q.style = style;
        return DrawObjectWithTags(nullptr, &q);
    }
    static void Plain(lvDrawTags *tags, lvStyleTags *style)
    {
        std::memset(tags, 0, sizeof *tags);
        std::memset(style, 0, sizeof *style);
        SetIdentityMatrix(&tags->matrix);
        tags->scaleX = tags->scaleY = 1;
    }
};

TEST_F(DrawObjectTest, BlitsIntoTheOutputWithAnchorAndPart)
{
    Make(1, 2, 2);
    lvDrawTags tags;
    lvStyleTags style;
    Plain(&tags, &style);
    ASSERT_EQ(Draw(LV_TYPE_BRUSH, 1, 4, 5, &tags, &style), 0);
    int64_t c;
    int t;
    ReadBrushPixelValue(target, 5, 6, &c, &t);
    EXPECT_EQ(c, 0x0101);
    tags.anchorX = tags.anchorY = 1;
    ASSERT_EQ(Draw(LV_TYPE_BRUSH, 1, 2, 2, &tags, &style), 0);
    ReadBrushPixelValue(target, 0, 0, &c, &t);
    EXPECT_EQ(c, 0x0000);
    ReadBrushPixelValue(target, 1, 1, &c, &t);
    EXPECT_EQ(c, 0x0101);
    Plain(&tags, &style);
    EXPECT_EQ(Draw(LV_TYPE_BRUSHPART, 1, 0, 0, &tags, &style, 2, 0, 1, 1), ERR_COORDSRANGE);
    EXPECT_EQ(Draw(LV_TYPE_BRUSHPART, 1, 0, 0, &tags, &style, -1, 0, 1, 1), ERR_NEGCOORDS);
    ASSERT_EQ(Draw(LV_TYPE_BRUSHPART, 1, 7, 7, &tags, &style, 1, 1, 5, 5), 0);
    ReadBrushPixelValue(target, 7, 7, &c, &t);
    EXPECT_EQ(c, 0x0101);
}

TEST_F(DrawObjectTest, FiltersAndTransparencyRefuseWhatTheyCannotServe)
{
    lvBrush *hardware = Make(1, 2, 2);
    hardware->hardware = 1;
    MakePens(2, 2, 2);
    lvDrawTags tags;
    lvStyleTags style;
    Plain(&tags, &style);
    style.filters[0].enabled = 1;
    EXPECT_EQ(Draw(LV_TYPE_BRUSH, 1, 0, 0, &tags, &style), ERR_HWBRUSHFUNC);
    Plain(&tags, &style);
    style.transparency = 100;
    EXPECT_EQ(Draw(LV_TYPE_BRUSH, 1, 0, 0, &tags, &style), ERR_HWBRUSHFUNC);
    EXPECT_EQ(Draw(LV_TYPE_BRUSH, 2, 0, 0, &tags, &style), ERR_NOPALETTEIMAGE);
    // Nothing reached the target.
    int64_t c;
    int t;
    ReadBrushPixelValue(target, 1, 1, &c, &t);
    EXPECT_EQ(c, 0x0101);
    RasterState.currentDisplay = nullptr;
    EXPECT_EQ(Draw(LV_TYPE_BRUSH, 1, 0, 0, &tags, &style), ERR_OUTPUTDEVICE);
}

// A hardware brush on a display with a hardware double buffer: with video capability
// 0x200 the transform, with 0x400 the transparency travel to the display in a record
// instead of being applied to private copies; without them the brush gives 1498.
lvHardwareTransform presented;
int presentedCount, presentedX, presentedY, presentedWidth;
void RecordPresent(void *, lvBlitDisplay *, const lvBlitRequest *r)
{
    presentedCount++;
    presentedX = r->targetX, presentedY = r->targetY, presentedWidth = r->width;
    if (r->transform) presented = *r->transform;
    else presented = {};
}

TEST_F(DrawObjectTest, HardwareBrushTransformTravelsToTheDisplay)
{
    lvBrush *hardware = Make(1, 4, 2);
    hardware->hardware = 1;
    display.target.kind = OUTPUT_DISPLAY;
    display.hardwareDoubleBuffer = 1;
    lvBlitPicture screen = {};
    screen.width = screen.height = 64;
    display.picture = &screen;  // the display's size
    lvRasterServices services = {};
    services.PresentDisplayRect = RecordPresent;
    SetRasterServices(&services);
    lvDrawTags tags;
    lvStyleTags style;
    struct Case {
        const char *what;
        uint32_t videoCaps;  // adapter word: 0x10 reports 0x200, 0x20 reports 0x400
        bool rotate;
        int transparency;
        int code;
        int present;         // records handed to the display
    } cases[] = {
        {"rotation with 0x200", 0x10, true, 0, 0, 1},
        {"rotation and transparency with both", 0x30, true, 100, 0, 1},
        {"transparency with 0x400 alone", 0x20, false, 100, 0, 1},
        {"transparency without 0x400", 0x10, false, 100, ERR_HWBRUSHFUNC, 0},
    };
    for (const Case &c : cases) {
        FakeAdapter adapter(ADAPTER_VIDEOBITMAPS, 0, c.videoCaps);
        adapter.Install();
        Plain(&tags, &style);
        if (c.rotate) tags.matrix = {0, 1, -1, 0};  // a quarter turn
        style.transparency = c.transparency;
        presentedCount = 0;
        EXPECT_EQ(Draw(LV_TYPE_BRUSH, 1, 10, 20, &tags, &style), c.code) << c.what;
        EXPECT_EQ(presentedCount, c.present) << c.what;
        if (c.present) {
            EXPECT_EQ(presented.transparency, 255 - c.transparency) << c.what;
            EXPECT_EQ(presentedWidth, 4) << "the source keeps its size: " << c.what;
            if (c.rotate) {
                EXPECT_EQ(presented.matrix[1], 1.0) << c.what;
                // The turned 4 x 2 picture stands upright (the bounds may take a pixel of edge).
                EXPECT_TRUE(presented.boundsWidth >= 2 && presented.boundsWidth <= 3) << presented.boundsWidth;
                EXPECT_TRUE(presented.boundsHeight >= 4 && presented.boundsHeight <= 5) << presented.boundsHeight;
            } else {
                EXPECT_EQ(presented.matrix[0], 1.0) << c.what;
                EXPECT_EQ(presentedX, 10) << c.what;
                EXPECT_EQ(presentedY, 20) << c.what;
            }
        }
        SetRasterDisplayAdapter(nullptr);
    }
    SetRasterServices(nullptr);
    display.picture = nullptr;
}

TEST_F(DrawObjectTest, WithLayersTheLayerEngineTakesThePicture)
{
    Make(1, 2, 2, 0, 0);
    for (int y = 0; y < 2; y++)
        for (int x = 0; x < 2; x++) WriteBrushPixelValue(FindBrush(1), x, y, 0xABCDEF, -1);
    display.layers = 1;
    lvDrawTags tags;
    lvStyleTags style;
    Plain(&tags, &style);
    EXPECT_EQ(Draw(LV_TYPE_BRUSH, 1, 3, 3, &tags, &style), ERR_UNIMPLCMD);
    lvImageLayerServices services = {};
    services.AddImageLayer = FakeAddImageLayer;
    SetImageLayerServices(&services);
    layerDraws = 1;
    ASSERT_EQ(Draw(LV_TYPE_BRUSH, 1, 3, 3, &tags, &style), 0);
    ASSERT_EQ(recordedLayers.size(), 1u);
    EXPECT_EQ(recordedLayers[0].type, LV_TYPE_BRUSH);
    EXPECT_EQ(recordedLayers[0].x, 3);
    EXPECT_EQ(recordedLayers[0].width, 2);
    int64_t c;
    int t;
    ReadBrushPixelValue(target, 3, 3, &c, &t);
    EXPECT_EQ(c, 0x0303) << "the layer engine drew it; nothing was blitted";
    // A simple layer that the engine leaves to this routine is blitted straight.
    layerDraws = 0;
    ASSERT_EQ(Draw(LV_TYPE_BRUSH, 1, 3, 3, &tags, &style), 0);
    ReadBrushPixelValue(target, 3, 3, &c, &t);
    EXPECT_EQ(c, 0xABCDEF);
}

}  // namespace

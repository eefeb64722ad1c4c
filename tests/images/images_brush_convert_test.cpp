// images_brush_convert_test.cpp - brushes made from the pictures that anims, layers and
// text objects lend through their owners' sources (recording fakes stand in for the anim
// and layer engines), palette operations on anim frames and layers, and the refusals of
// transformed vector pictures.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "base/lverrors.h"
#include "images/lvbgpic.h"
#include "images/lvbrush.h"
#include "images/lvpalette.h"
#include "platform/lvplatform.h"
#include "raster/lvbitmap.h"
#include "raster/lvraster.h"

namespace {

// The fake owner lends the planes of brushes it keeps: the anim's frame n is brush 100 + n,
// the layer's picture (its frame n for an anim layer) brush 200 + n.
struct FakeOwner {
    int frames = 3;           // anim frames; 0 for layers without frames
    int findError = 0;
    int pictures = 0, releases = 0;
    int lastClaim = -1, lastFrame = -1;
    int partX = 0, partY = 0, partWidth = 0, partHeight = 0;  // a part layer's rectangle
    std::vector<int> changes;  // 1 pixels, 0 pens
    int base = 100;
};
FakeOwner owner;

int FakeFind(void *, lvState *, lvObjectId id, int claim, int *frameCount)
{
    owner.lastClaim = claim;
    if (owner.findError) return owner.findError;
    if (id.number != 7) return owner.base == 100 ? ERR_FINDANIM : ERR_LAYERRANGE;
    *frameCount = owner.frames;
    return 0;
}

int FakePicture(void *, lvState *, lvObjectId, int frame, int, lvObjectPicture *out)
{
    owner.pictures++;
    owner.lastFrame = frame;
    lvBrush *b;
    if (int code = FindBrushById(nullptr, {owner.base + frame, nullptr}, &b, 0)) return code;
    out->rgb = b->bitmap, out->mask = b->mask, out->alpha = b->alpha, out->pens = b->penBitmap;
    out->palette = b->palette;
    out->width = owner.partWidth ? owner.partWidth : b->width;
    out->height = owner.partHeight ? owner.partHeight : b->height;
    out->x = owner.partX, out->y = owner.partY;
    out->depth = b->depth, out->transparent = b->transparentColour;
    out->depthField = &b->depth;
    out->transparentField = b->penBitmap ? &b->transparentColour : nullptr;
    return 0;
}

void FakeRelease(void *, lvObjectPicture *) { owner.releases++; }
void FakeChanged(void *, lvState *, lvObjectId, int, int pixels) { owner.changes.push_back(pixels); }

const lvObjectPictureSource FakeSource = {nullptr, FakeFind, FakePicture, FakeRelease, FakeChanged};

class BrushConvertTest : public ::testing::Test {
protected:
    lvBlitDisplay display = {};
    lvBlitDisplay *saved = nullptr;
    void SetUp() override
    {
        owner = FakeOwner{};
        saved = RasterState.currentDisplay;
        RasterState.currentDisplay = &display;
    }
    void TearDown() override
    {
        RasterState.currentDisplay = saved;
        SetObjectPictureSource(4, nullptr);
        SetObjectPictureSource(22, nullptr);
        FailAllocMemoryAfter(-1);
        FreeAllBrushes(nullptr);
        FreeAllBGPics();
    }
    // A depth-2 palette brush whose pixel (x, y) is pen (x + y + seed) & 3, transparent pen 0.
    static lvBrush *Pens(int number, int width, int height, int seed)
    {
        uint32_t palette[256] = {0x000000, 0xFF0000, 0x00FF00, 0x0000FF};
        palette[1] += (uint32_t)seed;
        lvBrushRequest q = {};
        q.width = width, q.height = height, q.depth = 2, q.palette = palette;
        q.transparentColour = 0;
        q.callbackRef = q.userDataRef = -1;
        lvObjectId id = {number, nullptr};
        EXPECT_EQ(AllocBrushBitmaps(nullptr, &id, &q), 0);
        lvBrush *b = Find(number);
        for (int y = 0; y < height; y++)
            for (int x = 0; x < width; x++) WriteBrushPixelValue(b, x, y, (uint32_t)((x + y + seed) & 3), -1);
        return b;
    }
    // An RGB brush whose pixel (x, y) is 0x00yyxx, with a mask.
    static lvBrush *Masked(int number, int width, int height)
    {
        lvBrushRequest q = {};
        q.width = width, q.height = height, q.mask = 1;
        q.transparentColour = -1;
        q.callbackRef = q.userDataRef = -1;
        lvObjectId id = {number, nullptr};
        EXPECT_EQ(AllocBrushBitmaps(nullptr, &id, &q), 0);
        lvBrush *b = Find(number);
        for (int y = 0; y < height; y++)
            for (int x = 0; x < width; x++) WriteBrushPixelValue(b, x, y, (uint32_t)(y << 8 | x), x == 0 ? 0 : 255);
        return b;
    }
    static lvBrush *Find(int number)
    {
        lvBrush *b = nullptr;
        FindBrushById(nullptr, {number, nullptr}, &b, 0);
        return b;
    }
    static int Convert(int type, int source, int number, int frame = 1)
    {
        lvObjectId id = {number, nullptr};
        return ConvertObjectToBrush(nullptr, type, {source, nullptr}, &id, frame, 0);
    }
    static std::vector<uint32_t> Words(lvBrush *b)
    {
        uint32_t *w = nullptr;
        EXPECT_EQ(BrushToArgbWords(b, 0, &w), 0);
        std::vector<uint32_t> out(w, w + (size_t)b->width * b->height);
        FreeMemory(w);
        return out;
    }
};

TEST_F(BrushConvertTest, AnimFramesBecomeIndependentPaletteBrushes)
{
    // Without the anim engine no anim exists.
    EXPECT_EQ(Convert(4, 7, 1), ERR_FINDANIM);
    SetObjectPictureSource(4, &FakeSource);
    for (int frame = 1; frame <= 3; frame++) Pens(100 + frame, 3, 2, frame);
    struct Case {
        int source, frame, code;
    } cases[] = {{7, 0, ERR_ANIMFRAME}, {7, 4, ERR_ANIMFRAME}, {7, -1, ERR_ANIMFRAME}, {8, 1, ERR_FINDANIM},
                 {7, 2, 0}};
    for (const Case &c : cases) EXPECT_EQ(Convert(4, c.source, 1, c.frame), c.code) << c.source << " " << c.frame;
    EXPECT_EQ(owner.pictures, 1) << "a frame out of range is refused before the owner decodes it";
    EXPECT_EQ(owner.releases, 1);
    EXPECT_EQ(owner.lastFrame, 2);
    EXPECT_EQ(owner.lastClaim, 0) << "a conversion only reads its source";
    lvBrush *made = Find(1), *frame2 = Find(102);
    ASSERT_NE(made, nullptr);
    EXPECT_EQ(made->depth, 2);
    EXPECT_EQ(made->transparentColour, 0);
    EXPECT_EQ(made->palette[1], frame2->palette[1]);
    EXPECT_EQ(Words(made), Words(frame2));
    EXPECT_NE(made->penBitmap, frame2->penBitmap);
    EXPECT_NE(made->palette, frame2->palette);
    // The copy is the brush's own: changing it leaves the frame alone.
    WriteBrushPixelValue(made, 0, 0, 3, -1);
    int64_t colour;
    int pen;
    ReadBrushPixelValue(frame2, 0, 0, &colour, &pen);
    EXPECT_EQ(colour, 2);
}

TEST_F(BrushConvertTest, FailedCopiesGiveTheFrameBackAndLeaveNoBrush)
{
    SetObjectPictureSource(4, &FakeSource);
    Pens(101, 5, 4, 1);
    for (int allowed = 0;; allowed++) {
        owner.pictures = owner.releases = 0;
        FailAllocMemoryAfter(allowed);
        int code = Convert(4, 7, 1);
        FailAllocMemoryAfter(-1);
        EXPECT_EQ(owner.releases, owner.pictures) << "after " << allowed;
        if (!code) break;
        EXPECT_EQ(Find(1), nullptr) << "after " << allowed;
        ASSERT_LT(allowed, 50);
    }
    EXPECT_NE(Find(1), nullptr);
}

TEST_F(BrushConvertTest, LayersNeedLayersOnAndKeepTheirMaskAndPart)
{
    owner.base = 200, owner.frames = 0;
    Masked(201, 4, 3);
    EXPECT_EQ(Convert(22, 1, 5), ERR_NOLAYERS) << "layers off, no layer engine";
    SetObjectPictureSource(22, &FakeSource);
    EXPECT_EQ(Convert(22, 7, 5), ERR_NOLAYERS) << "layers off with a layer engine";
    RasterState.currentDisplay = nullptr;
    EXPECT_EQ(Convert(22, 7, 5), ERR_NOLAYERS) << "no display";
    RasterState.currentDisplay = &display;
    display.layers = 1;
    EXPECT_EQ(Convert(22, 9, 5), ERR_LAYERRANGE);
    ASSERT_EQ(Convert(22, 7, 5), 0);
    lvBrush *made = Find(5);
    ASSERT_NE(made, nullptr);
    EXPECT_EQ(made->transparentColour, 0x123456) << "a masked layer";
    ASSERT_NE(made->mask, nullptr);
    EXPECT_EQ(Words(made), Words(Find(201)));
    // A part layer: the copy starts at the part's corner and has its size.
    owner.partX = 1, owner.partY = 1, owner.partWidth = 2, owner.partHeight = 2;
    ASSERT_EQ(Convert(22, 7, 6), 0);
    made = Find(6);
    EXPECT_EQ(made->width, 2);
    EXPECT_EQ(made->height, 2);
    EXPECT_EQ(Words(made), (std::vector<uint32_t>{0xFF000101u, 0xFF000102u, 0xFF000201u, 0xFF000202u}));
    // A layer of an anim checks its frame as an anim does.
    owner.frames = 2;
    EXPECT_EQ(Convert(22, 7, 8, 3), ERR_ANIMFRAME);
    EXPECT_EQ(owner.releases, owner.pictures);
}

TEST_F(BrushConvertTest, PaletteOperationsOnAnimFramesAndLayers)
{
    lvCycleRange range = {};
    auto op = [](int type, int operation, int pen = 0, uint32_t colour = 0, int x = 0, int y = 0, int *result = nullptr,
                 lvCycleRange *cycle = nullptr) {
        lvPaletteOpRequest r = {};
        r.type = type, r.id = {7, nullptr}, r.operation = operation, r.pen = pen, r.colour = colour;
        r.x = x, r.y = y, r.result = result;
        r.cycleTable = cycle, r.cycleCount = cycle ? 1 : 0;
        return ImagePaletteOperation(&r);
    };
    EXPECT_EQ(op(4, 7, 0, 0, 0, 0, nullptr, &range), ERR_FINDANIM) << "no anim engine";
    EXPECT_EQ(op(22, 7, 0, 0, 0, 0, nullptr, &range), ERR_NOLAYERS) << "no layer engine";
    SetObjectPictureSource(4, &FakeSource);
    SetObjectPictureSource(22, &FakeSource);
    display.layers = 1;
    lvBrush *frame = Pens(101, 3, 2, 1);
    for (int type : {4, 22}) {
        owner.changes.clear();
        owner.frames = type == 4 ? 3 : 0;
        EXPECT_EQ(op(type, 7, 0, 0, 0, 0, nullptr, &range), ERR_WRONGUSAGE) << "no cycle table: " << type;
        owner.base = 100;  // both lend frame 1
        EXPECT_EQ(op(type, 0, 2, 0x123456), 0);
        EXPECT_EQ(frame->palette[2], 0x123456u);
        EXPECT_EQ(owner.lastClaim, 1);
        int result = -1;
        EXPECT_EQ(op(type, 3, 0, 0, 2, 1, &result), 0);
        EXPECT_EQ(result, 0) << "pen (2 + 1 + 1) & 3";
        EXPECT_EQ(owner.lastClaim, 0) << "reading claims nothing";
        EXPECT_EQ(op(type, 4, 3, 0, 0, 0), 0);
        EXPECT_EQ(op(type, 4, 4, 0, 1, 0), ERR_PENRANGE);
        EXPECT_EQ(op(type, 5, 1), 0);
        EXPECT_EQ(frame->transparentColour, 1);
        EXPECT_EQ(owner.changes, (std::vector<int>{0, 1, 0})) << "the owner shows pens, pixels, pens anew";
        EXPECT_EQ(owner.releases, owner.pictures);
        op(type, 5, 0);
    }
    owner.frames = 3;
    lvPaletteOpRequest r = {};
    r.type = 4, r.id = {7, nullptr}, r.operation = 1, r.pen = 1;
    int result = 0;
    r.result = &result;
    owner.findError = ERR_LOCKEDOBJ;
    EXPECT_EQ(ImagePaletteOperation(&r), ERR_LOCKEDOBJ) << "the owner's lookup error passes through";
}

TEST_F(BrushConvertTest, TransformedVectorPicturesAreRefused)
{
    // A re-renderable brush drawn through a matrix cannot become a BGPic, nor can a vector
    // BGPic scaled away from its base size become a brush.
    lvBitMapHandle *rgb = AllocRgbBitmap(4, 4, 0, nullptr);
    ASSERT_NE(rgb, nullptr);
    lvObjectId brushId = {1, nullptr};
    lvBrush *b = nullptr;
    ASSERT_EQ(NewBrushRecord(&brushId, 1, 4, 4, 4, 1, nullptr, rgb, -1, nullptr, nullptr, nullptr, 24, nullptr,
                             nullptr, nullptr, 0, nullptr, &b),
              0);
    lvObjectId bgpicId = {2, nullptr};
    EXPECT_EQ(BrushToBGPicRecord(nullptr, brushId, &bgpicId), ERR_TFVBRUSHBGPIC);
    b->transformed = 0;
    ASSERT_EQ(BrushToBGPicRecord(nullptr, brushId, &bgpicId), 0);
    lvBGPic *g = nullptr;
    ASSERT_EQ(FindBGPicById(bgpicId, &g, 0), 0);
    std::snprintf(g->formatName, sizeof g->formatName, "%s", "SVG");
    g->type = 1;
    g->scaledWidth = 8;
    lvObjectId brush2 = {3, nullptr};
    EXPECT_EQ(BGPicToBrushRecord(nullptr, bgpicId, &brush2), ERR_TFVBGPICBRUSH);
    EXPECT_EQ(Find(3), nullptr);
    g->scaledWidth = 4;
    ASSERT_EQ(BGPicToBrushRecord(nullptr, bgpicId, &brush2), 0);
    EXPECT_STREQ(Find(3)->formatName, "SVG") << "the brush takes the BGPic's format name";
    EXPECT_EQ(Find(3)->kind, 0) << "a vector BGPic without image source gives a bitmap brush";
}

}  // namespace

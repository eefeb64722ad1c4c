// Pixel collision between sides with masks, alpha planes, pen planes with a
// transparent pen, clip-region masks and image offsets; brushes and layers
// through fake owners; the box of LAYER_VS_BOX scaled to display pixels.
#include <gtest/gtest.h>

#include <map>

#include "base/lverrors.h"
#include "raster/lvcollision.h"
#include "raster/lvneighbours.h"
#include "raster_fakes.h"

namespace {

lvBitMapHandle *Bytes(const std::vector<std::string> &rows) {
    int w = int(rows[0].size()), h = int(rows.size());
    lvBitMapHandle *p = AllocChunkyBitmap(w, h, 1);
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) SetByte(p, x, y, static_cast<uint8_t>(rows[y][x] == '.' ? 0 : rows[y][x] - '0'));
    return p;
}

struct Collide : testing::Test {
    std::vector<lvBitMapHandle *> made;
    lvBitMapHandle *Keep(lvBitMapHandle *h) {
        made.push_back(h);
        return h;
    }
    void TearDown() override {
        for (auto *h : made) FreeBitmapHandle(h);
        SetImagingServices(nullptr);
        SetLayerServices(nullptr);
        SetDisplayScaleServices(nullptr);
    }
};

TEST_F(Collide, PixelTestsTable) {
    lvBitMapHandle *ring = Keep(MaskFromText({"####", "#..#", "#..#", "####"}));
    lvBitMapHandle *none = Keep(MaskFromText({"....", "....", "....", "...."}));
    lvBitMapHandle *dot = Keep(MaskFromText({"....", ".#..", "....", "...."}));
    lvBitMapHandle *pensA = Keep(Bytes({"1100", "1100", "0000", "0000"}));
    lvBitMapHandle *pensB = Keep(Bytes({"0000", "0000", "0022", "0022"}));
    lvBitMapHandle *alpha = Keep(Bytes({"0000", "0000", "0000", "0009"}));
    lvBitMapHandle *clipMask = Keep(MaskFromText({"..", ".."}));
    lvClipRegion clip{5, 5, 2, 2, clipMask};
    auto side = [](int x, int y, lvBitMapHandle *mask, lvBitMapHandle *alpha, lvBitMapHandle *pens, int tp) {
        lvCollisionSide s = BoxSide(x, y, 4, 4);
        s.mask = mask, s.alpha = alpha, s.pens = pens, s.transparentPen = tp;
        return s;
    };
    struct Case {
        const char *what;
        lvCollisionSide a, b;
        int expected;
    } cases[] = {
        {"plain boxes overlap", BoxSide(0, 0, 4, 4), BoxSide(3, 3, 4, 4), 1},
        {"plain boxes touch", BoxSide(0, 0, 4, 4), BoxSide(4, 0, 4, 4), 0},
        {"empty mask never collides", side(0, 0, none, nullptr, nullptr, -1), side(0, 0, ring, nullptr, nullptr, -1), 0},
        {"empty mask against a box", side(0, 0, none, nullptr, nullptr, -1), BoxSide(0, 0, 4, 4), 0},
        {"ring hole over a dot", side(0, 0, ring, nullptr, nullptr, -1), side(0, 0, dot, nullptr, nullptr, -1), 0},
        {"ring edge over the dot", side(1, 0, ring, nullptr, nullptr, -1), side(0, 0, dot, nullptr, nullptr, -1), 1},
        {"pens apart", side(0, 0, nullptr, nullptr, pensA, 0), side(0, 0, nullptr, nullptr, pensB, 0), 0},
        {"pens meet when shifted", side(2, 2, nullptr, nullptr, pensA, 0), side(0, 0, nullptr, nullptr, pensB, 0), 1},
        {"pens without a transparent pen are solid", side(0, 0, nullptr, nullptr, pensA, -1),
         side(0, 0, nullptr, nullptr, pensB, 0), 1},
        {"pen 1 transparent", side(2, 2, nullptr, nullptr, pensA, 1), side(0, 0, nullptr, nullptr, pensB, 0), 0},
        {"alpha 0 is clear", side(0, 0, nullptr, alpha, nullptr, -1), side(0, 0, nullptr, nullptr, pensA, 0), 0},
        {"alpha shows at its pixel", side(0, 0, nullptr, alpha, nullptr, -1), BoxSide(3, 3, 1, 1), 1},
        {"alpha next to the pixel", side(0, 0, nullptr, alpha, nullptr, -1), BoxSide(2, 3, 1, 1), 0},
        // A side with a mask and an alpha plane shows only where both agree; the
        // other side must show too.
        {"mask and alpha against a clear pen", side(0, 0, ring, alpha, nullptr, -1),
         side(0, 0, nullptr, nullptr, pensA, 0), 0},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(TestPixelCollision(&c.a, &c.b), c.expected) << c.what;
        EXPECT_EQ(TestPixelCollision(&c.b, &c.a), c.expected) << c.what << " (swapped)";
    }
    // Image offsets: the rectangle starts inside the images.
    lvCollisionSide shifted = side(0, 0, nullptr, nullptr, pensB, 0);
    shifted.width = shifted.height = 2;
    shifted.imageX = shifted.imageY = 2;  // only the 2s
    lvCollisionSide probe = BoxSide(0, 0, 1, 1);
    EXPECT_EQ(TestPixelCollision(&shifted, &probe), 1);
    shifted.imageX = 0;
    EXPECT_EQ(TestPixelCollision(&shifted, &probe), 0);
    // A clip region's mask takes part, addressed from the region's own corner.
    lvCollisionSide clipped = BoxSide(5, 5, 2, 2);
    clipped.clip = &clip;
    lvCollisionSide box = BoxSide(0, 0, 10, 10);
    EXPECT_EQ(TestPixelCollision(&clipped, &box), 0);
    SetBit(clipMask, 1, 1, 1);
    EXPECT_EQ(TestPixelCollision(&clipped, &box), 1);
    lvCollisionSide beside = BoxSide(5, 5, 1, 2);  // only column 5: bit (0, y) of the clip
    EXPECT_EQ(TestPixelCollision(&clipped, &beside), 0);
}

// ---- Fake owners ---------------------------------------------------------------

std::map<int64_t, lvBrushView> gBrushes;
int FakeBrush(void *, void *, int64_t id, lvBrushView *out) {
    auto it = gBrushes.find(id);
    if (it == gBrushes.end()) return ERR_FINDBRUSH;
    *out = it->second;
    return 0;
}
lvClipRegion gLayerClip;
lvBitMapHandle *gLayerMask = nullptr;
int FakeLayer(void *, void *, int position, lvCollisionSide *side) {
    if (position != 1) return ERR_LAYERRANGE;
    *side = BoxSide(20, 0, 10, 10);
    side->mask = gLayerMask;
    side->clip = &gLayerClip;
    return 0;
}
int ScaleByTwo(void *, void *, double *sx, double *sy) {
    *sx = 2;
    *sy = 1;
    return 1;
}

TEST_F(Collide, BrushesAndLayersThroughTheirOwners) {
    lvBitMapHandle *pens = Keep(Bytes({"10", "01"}));
    lvBrushView brush{};
    brush.chunky = pens;
    brush.width = brush.height = 2;
    brush.transparentPen = 0;
    gBrushes = {{7, brush}};
    lvImagingServices im{};
    im.FindBrushById = FakeBrush;
    SetImagingServices(&im);
    lvCollisionSide a{}, b{};
    EXPECT_EQ(BrushSide(nullptr, 8, 0, 0, &a), ERR_FINDBRUSH);
    ASSERT_EQ(BrushSide(nullptr, 7, 10, 10, &a), 0);
    ASSERT_EQ(BrushSide(nullptr, 7, 11, 10, &b), 0);
    EXPECT_EQ(a.transparentPen, 0);
    EXPECT_EQ(TestPixelCollision(&a, &b), 0);  // diagonals side by side never meet
    ASSERT_EQ(BrushSide(nullptr, 7, 11, 11, &b), 0);
    EXPECT_EQ(TestPixelCollision(&a, &b), 1);  // (11, 11) is set in both

    // A layer at x 20..29 whose clip region keeps x 25..29: the cut moves the image offset.
    gLayerMask = Keep(MaskFromText(std::vector<std::string>(10, "#####.....")));
    gLayerClip = {25, 0, 100, 100, nullptr};
    lvLayerServices ls{};
    ls.GetLayerCollisionSide = FakeLayer;
    SetLayerServices(&ls);
    lvCollisionSide layer{};
    EXPECT_EQ(LayerSide(nullptr, 2, &layer), ERR_LAYERRANGE);
    ASSERT_EQ(LayerSide(nullptr, 1, &layer), 0);
    EXPECT_EQ(layer.x, 25);
    EXPECT_EQ(layer.width, 5);
    EXPECT_EQ(layer.imageX, 5);
    lvCollisionSide everything = BoxSide(0, 0, 100, 100);
    EXPECT_EQ(TestPixelCollision(&layer, &everything), 0);  // the mask's set half was cut away

    // LAYER_VS_BOX on a display scaled by 2 in x: the box (10, 0, 5, 5) covers x 20..29.
    lvDisplayScaleServices ds{};
    ds.GetDisplayScale = ScaleByTwo;
    SetDisplayScaleServices(&ds);
    lvCollisionSide box = ScaledBoxSide(nullptr, 10, 0, 5, 5);
    EXPECT_EQ(box.x, 20);
    EXPECT_EQ(box.width, 10);
    EXPECT_EQ(box.height, 5);
    gLayerClip = {0, 0, 100, 100, nullptr};
    ASSERT_EQ(LayerSide(nullptr, 1, &layer), 0);
    EXPECT_EQ(TestPixelCollision(&layer, &box), 1);
    lvCollisionSide left = ScaledBoxSide(nullptr, 0, 0, 10, 5);  // x 0..19
    EXPECT_EQ(TestPixelCollision(&layer, &left), 0);
}

}  // namespace

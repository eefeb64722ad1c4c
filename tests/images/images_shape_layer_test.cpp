// images_shape_layer_test.cpp - shapes that become layers, against a recording fake of
// the layer system: the shape record a new layer receives (points copied, images handed
// over, everything freed when the layer cannot be made or memory runs out), and the
// coverage rebuilt for a layer's border and shadow styles.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "base/lverrors.h"
#include "images/lvshape.h"
#include "platform/lvplatform.h"
#include "raster/lvbitmap.h"
#include "raster/lvrect.h"

namespace {

struct Recorder {
    int calls = 0, answer = 0;
    int type = 0, x = 0, y = 0, w = 0, h = 0;
    std::vector<double> points;
    lvShapeImages images{};
    lvShapeLayerShape *shape = nullptr;
    lvShapeLayerShape stored{};
    int borderForm = 0;
    const uint32_t *palette = nullptr;  // the layer's output palette
    double scaleX = 1, scaleY = 1;      // the layer's display
} recorder;

int RecordLayer(void *, void *, int type, int x, int y, int w, int h, const lvDrawTags *, lvStyleTags *,
                lvShapeImages *images, lvShapeLayerShape *shape, void *, int, uint32_t, int) {
    Recorder &r = recorder;
    r.calls++;
    if (r.answer) return r.answer;
    r.type = type, r.x = x, r.y = y, r.w = w, r.h = h;
    r.points.assign(shape->points, shape->points + 2 * shape->pointCount);
    r.images = *images;  // the layer owns them now
    r.shape = shape;
    return 0;
}

const lvShapeLayerShape *StoredShape(void *, void *, void *, int *borderForm) {
    *borderForm = recorder.borderForm;
    return &recorder.stored;
}

const uint32_t *LayerPaletteOf(void *, void *) { return recorder.palette; }
void DisplayScaleOf(void *, void *, double *x, double *y) { *x = recorder.scaleX, *y = recorder.scaleY; }

class ShapeLayer : public ::testing::Test {
protected:
    void SetUp() override {
        recorder = Recorder{};
        lvShapeLayerServices s{nullptr, StoredShape, RecordLayer, LayerPaletteOf, DisplayScaleOf};
        SetShapeLayerServices(&s);
    }
    void TearDown() override {
        FailAllocMemoryAfter(-1);
        FreeShapeImages(&recorder.images);
        FreeShapeLayerShape(recorder.shape);
        SetShapeLayerServices(nullptr);
    }
};

lvShapeImages SomeImages() {
    lvShapeImages img{};
    img.alpha = AllocAlphaBitmap(4, 4, 1, nullptr, 0);
    return img;
}

TEST_F(ShapeLayer, NewLayerGetsACopyOfThePolygon) {
    std::vector<double> pts = {0, 0, 5, 0, 0, 5};
    lvShapeJob job{};
    job.type = SHAPE_POLYGON, job.width = 6, job.height = 6, job.points = pts.data(), job.pointCount = 3;
    job.transform.matrix = {1, 0, 0, 1};
    lvShapeImages img = SomeImages();
    ASSERT_EQ(NewShapeLayer(nullptr, &job, 10, 20, 6, 6, nullptr, &img, nullptr, 2, 0, 0), 0);
    pts[2] = 99;
    EXPECT_EQ(recorder.points, (std::vector<double>{0, 0, 5, 0, 0, 5}));
    EXPECT_EQ(recorder.shape->points[2], 5);
    EXPECT_EQ(recorder.x, 10);
    EXPECT_EQ(recorder.type, SHAPE_POLYGON);
}

TEST_F(ShapeLayer, FailuresFreeImagesAndRecord) {
    std::vector<double> pts = {0, 0, 5, 0, 0, 5};
    lvShapeJob job{};
    job.type = SHAPE_POLYGON, job.points = pts.data(), job.pointCount = 3;
    // The layer system refuses: its error comes back, nothing stays allocated (ASan).
    recorder.answer = ERR_MEM + 5;
    lvShapeImages img = SomeImages();
    EXPECT_EQ(NewShapeLayer(nullptr, &job, 0, 0, 6, 6, nullptr, &img, nullptr, 2, 0, 0), ERR_MEM + 5);
    EXPECT_EQ(img.alpha, nullptr);
    // Memory runs out for the record, then for its points.
    recorder.answer = 0;
    for (int n = 0; n < 2; n++) {
        lvShapeImages more = SomeImages();
        FailAllocMemoryAfter(n);
        int rc = NewShapeLayer(nullptr, &job, 0, 0, 6, 6, nullptr, &more, nullptr, 2, 0, 0);
        FailAllocMemoryAfter(-1);
        EXPECT_EQ(rc, ERR_MEM) << n;
        EXPECT_EQ(more.alpha, nullptr);
    }
    EXPECT_EQ(recorder.calls, 1);
    // Without a layer system.
    SetShapeLayerServices(nullptr);
    lvShapeImages last = SomeImages();
    EXPECT_EQ(NewShapeLayer(nullptr, &job, 0, 0, 6, 6, nullptr, &last, nullptr, 2, 0, 0), ERR_UNIMPLCMD);
}

TEST_F(ShapeLayer, CoverageForBorderAndShadowStyles) {
    lvShapeLayerShape &s = recorder.stored;
    s.type = SHAPE_BOX, s.width = 10, s.height = 6, s.matrix = {1, 0, 0, 1};
    struct Case { int borderForm, border, size[2], offset, inside[4]; } cases[] = {
        // Border form: shape and border of 2 covered, 14 x 10.
        {1, 2, {14, 10}, -2, {0, 0, 14, 10}},
        // Shape alone, centred in a canvas grown by twice the border (3): 16 x 12.
        {0, 3, {16, 12}, -3, {3, 3, 10, 6}},
        // Border 0 still grows by 2.
        {0, 0, {12, 8}, -1, {1, 1, 10, 6}},
    };
    for (const Case &c : cases) {
        recorder.borderForm = c.borderForm;
        lvShapeLayerMask m;
        ASSERT_EQ(BuildShapeLayerMask(nullptr, nullptr, 0xFFFFFF, -1, PALETTEMODE_REMAP, c.border, 0, &m), 0);
        EXPECT_EQ(m.width, c.size[0]);
        EXPECT_EQ(m.height, c.size[1]);
        EXPECT_EQ(m.offsetX, c.offset);
        uint8_t *p;
        int row;
        uintptr_t t = GetPlanePixels(m.alpha, &p, &row, 0);
        for (int y = 0; y < m.height; y++)
            for (int x = 0; x < m.width; x++) {
                bool in = x >= c.inside[0] && y >= c.inside[1] && x < c.inside[0] + c.inside[2] &&
                          y < c.inside[1] + c.inside[3];
                EXPECT_EQ(p[y * row + x], in ? 255 : 0) << x << "," << y << " border " << c.border;
            }
        ReleasePlanePixels(t);
        FreeBitmapHandle(m.alpha);
    }
    // An anti-aliased circle through the vector engine: full inside, empty in the corners.
    s = lvShapeLayerShape{};
    s.type = SHAPE_CIRCLE, s.width = s.height = 21, s.radiusX = s.radiusY = 10, s.formStyle = FORM_ANTIALIAS;
    s.matrix = {1, 0, 0, 1};
    recorder.borderForm = 0;
    lvShapeLayerMask m;
    ASSERT_EQ(BuildShapeLayerMask(nullptr, nullptr, 0xFFFFFF, -1, PALETTEMODE_REMAP, 2, 0, &m), 0);
    EXPECT_EQ(m.width, 25);
    uint8_t *p;
    int row;
    uintptr_t t = GetPlanePixels(m.alpha, &p, &row, 0);
    EXPECT_EQ(p[12 * row + 12], 255);
    EXPECT_EQ(p[0], 0);
    EXPECT_EQ(p[2 * row + 2], 0);
    ReleasePlanePixels(t);
    FreeBitmapHandle(m.alpha);
}

// The bounds of the pixels of a byte plane equal to value (or, value -1, above 10):
// x, y, width, height; and their count.
struct Covered { int x = 0, y = 0, w = 0, h = 0; size_t count = 0; };
Covered CoveredBy(lvBitMapHandle *plane, int value) {
    uint8_t *p;
    int row;
    uintptr_t t = GetPlanePixels(plane, &p, &row, 0);
    int x0 = 1 << 30, y0 = 1 << 30, x1 = -1, y1 = -1;
    Covered c;
    for (int y = 0; y < plane->height; y++)
        for (int x = 0; x < plane->width; x++) {
            int v = p[y * row + x];
            if (value < 0 ? v <= 10 : v != value) continue;
            c.count++;
            x0 = std::min(x0, x), y0 = std::min(y0, y), x1 = std::max(x1, x), y1 = std::max(y1, y);
        }
    ReleasePlanePixels(t);
    if (c.count) c.x = x0, c.y = y0, c.w = x1 - x0 + 1, c.h = y1 - y0 + 1;
    return c;
}

// Palette outputs get pens: pen 1 with the colour in remap mode, else the given pen with
// the layer's palette (or the colour at that pen without one). The uncovered pixels keep
// pen 0, and no alpha plane is made.
TEST_F(ShapeLayer, PalettePenGivesAPenPlaneAndItsPalette) {
    lvShapeLayerShape &s = recorder.stored;
    s.type = SHAPE_BOX, s.width = 10, s.height = 6, s.matrix = {1, 0, 0, 1};
    s.formStyle = FORM_ANTIALIAS;  // pens are never blended
    std::vector<uint32_t> layerPalette(256);
    for (int i = 0; i < 256; i++) layerPalette[i] = 0x010101u * i;
    struct Case { int mode; bool withPalette; int pen; uint32_t at[2]; } cases[] = {
        {PALETTEMODE_REMAP, true, 1, {0, 0x123456}},
        {PALETTEMODE_PEN, true, LAYERMASK_PALETTEPEN, {0, 0xFFFFFF}},
        {PALETTEMODE_PEN, false, LAYERMASK_PALETTEPEN, {0, 0x123456}},
    };
    for (const Case &c : cases) {
        recorder.palette = c.withPalette ? layerPalette.data() : nullptr;
        lvShapeLayerMask m;
        ASSERT_EQ(BuildShapeLayerMask(nullptr, nullptr, 0xAA123456, LAYERMASK_PALETTEPEN, c.mode, 3, 0, &m), 0);
        SCOPED_TRACE(c.mode);
        EXPECT_EQ(m.alpha, nullptr);
        ASSERT_NE(m.pens, nullptr);
        ASSERT_NE(m.palette, nullptr);
        EXPECT_EQ(m.width, 16);
        EXPECT_EQ(m.height, 12);
        EXPECT_EQ(m.transparentPen, 0);
        Covered in = CoveredBy(m.pens, c.pen), out = CoveredBy(m.pens, 0);
        EXPECT_EQ(in.count, 60u);
        EXPECT_EQ(in.x, 3);
        EXPECT_EQ(in.y, 3);
        EXPECT_EQ(in.count + out.count, 16u * 12u);  // nothing in between
        EXPECT_EQ(m.palette[0], c.at[0]);
        EXPECT_EQ(m.palette[c.pen], c.at[1]);
        FreeBitmapHandle(m.pens);
        FreeMemory(m.palette);
    }
    // Every allocation that fails gives its code with nothing left behind (ASan).
    recorder.palette = nullptr;
    for (int n = 0;; n++) {
        lvShapeLayerMask m;
        FailAllocMemoryAfter(n);
        int rc = BuildShapeLayerMask(nullptr, nullptr, 0x123456, LAYERMASK_PALETTEPEN, PALETTEMODE_PEN, 3, 0, &m);
        FailAllocMemoryAfter(-1);
        if (rc == 0) {
            FreeBitmapHandle(m.pens);
            FreeMemory(m.palette);
            EXPECT_GE(n, 2);
            break;
        }
        EXPECT_TRUE(rc == ERR_ALLOCALPHA || rc == ERR_MEM || rc == ERR_ALLOCCHUNKY) << rc;
        EXPECT_EQ(m.pens, nullptr);
        EXPECT_EQ(m.palette, nullptr);
        EXPECT_EQ(m.alpha, nullptr);
        ASSERT_LT(n, 50);
    }
}

// The display's scale factors follow the layer's transform unless flag 8 is given; a
// factor that is not positive leaves the shape as the layer keeps it. A box's corners
// (0 and W - 1) scale, so a scaled side is (W - 1) f + 1 pixels.
TEST_F(ShapeLayer, DisplayScaleFactorsScaleTheCoverage) {
    lvShapeLayerShape &s = recorder.stored;
    s.type = SHAPE_BOX, s.width = 10, s.height = 6, s.matrix = {1, 0, 0, 1};
    recorder.borderForm = 1;
    struct Case { double fx, fy; int flags, w, h; } cases[] = {
        {2, 3, 0, 19, 16},
        {2, 3, LAYERMASK_NODISPLAYSCALE, 10, 6},
        {0, 3, 0, 10, 6},
        {1, 1, 0, 10, 6},
    };
    for (const Case &c : cases) {
        recorder.scaleX = c.fx, recorder.scaleY = c.fy;
        lvShapeLayerMask m;
        ASSERT_EQ(BuildShapeLayerMask(nullptr, nullptr, 0xFFFFFF, -1, PALETTEMODE_REMAP, 0, c.flags, &m), 0);
        Covered in = CoveredBy(m.alpha, 255);
        EXPECT_NEAR(in.w, c.w, 1) << c.fx << " " << c.flags;
        EXPECT_NEAR(in.h, c.h, 1) << c.fy << " " << c.flags;
        FreeBitmapHandle(m.alpha);
    }
}

// The vector engine's coverage of an untransformed shape whose last column (row) is all
// at or below 10 moves right (down) by a pixel; transformed shapes and the border form
// keep their offsets. A quarter arc on the left leaves its last column empty.
TEST_F(ShapeLayer, FaintLastColumnOrRowMovesTheCoverage) {
    lvShapeLayerShape &s = recorder.stored;
    struct Case { int type, start, end, borderForm; double scale; int offset[2]; } cases[] = {
        {SHAPE_CIRCLE, 0, 360, 0, 1, {-2, -2}},
        {SHAPE_ARC, 90, 180, 0, 1, {-1, -2}},   // bottom left: the last column is empty
        {SHAPE_ARC, 270, 360, 0, 1, {-2, -1}},  // top right: the last row is empty
        {SHAPE_ARC, 180, 270, 0, 1, {-1, -1}},
        {SHAPE_ARC, 90, 180, 1, 1, {-2, -2}},   // border form
        {SHAPE_ARC, 90, 180, 0, 1.5, {0, 0}},   // transformed: as without the rule
    };
    for (const Case &c : cases) {
        s = lvShapeLayerShape{};
        s.type = c.type, s.radiusX = s.radiusY = 10, s.width = s.height = 21;
        s.startAngle = c.start, s.endAngle = c.end, s.clockwise = 1;
        s.formStyle = FORM_ANTIALIAS, s.matrix = {c.scale, 0, 0, c.scale};
        recorder.borderForm = c.borderForm;
        lvShapeLayerMask m;
        ASSERT_EQ(BuildShapeLayerMask(nullptr, nullptr, 0xFFFFFF, -1, PALETTEMODE_REMAP, 2, 0, &m), 0);
        SCOPED_TRACE(std::to_string(c.start) + "-" + std::to_string(c.end) + " scale " + std::to_string(c.scale));
        if (c.scale == 1) {
            EXPECT_EQ(m.offsetX, c.offset[0]);
            EXPECT_EQ(m.offsetY, c.offset[1]);
        } else {
            // The shape stays where the grown canvas puts it, although its last column is empty.
            int grow = std::max(2, int(2 * GetTransformedBorderWidth(&s.matrix, 21, 21, 2)));
            EXPECT_EQ(m.offsetX, -(grow / 2));
            EXPECT_EQ(m.offsetY, -(grow / 2));
        }
        FreeBitmapHandle(m.alpha);
    }
}

}  // namespace

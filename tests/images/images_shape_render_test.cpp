// images_shape_render_test.cpp - rendering shape jobs into image sets: plain
// boxes with border and shadow against hand-worked planes, transparent fills,
// the colour-coverage shortcut, line-based polygons, anti-aliased curves from
// the vector engine by their properties, the direct plain-box fill with its
// clipping and refusals, and allocation failures.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "base/lverrors.h"
#include "images/lvshape.h"
#include "images/lvvectorshape.h"
#include "platform/lvplatform.h"
#include "raster/lvbitmap.h"
#include "raster/lvplanes.h"
#include "raster/lvraster.h"

namespace {

lvShapeJob Job(int type, int w, int h, uint32_t colour) {
    lvShapeJob j{};
    j.type = type;
    j.width = w, j.height = h;
    j.colour = colour;
    j.transform.matrix = {1, 0, 0, 1};
    j.startAngle = 0, j.endAngle = 360;
    j.style.fillStyle = FILLCOLOR;
    j.style.lineWidth = 1;
    return j;
}

void WithBorderAndShadow(lvShapeJob *j, int border, uint32_t borderColour, int shadow, uint32_t shadowColour,
                         int direction) {
    j->style.formStyle = (border ? FORM_BORDER : 0) | (shadow ? FORM_SHADOW : 0);
    j->style.borderSize = border, j->style.borderColour = borderColour;
    j->style.shadowSize = shadow, j->style.shadowColour = shadowColour, j->style.shadowDirection = direction;
}

int PlaneByte(lvBitMapHandle *plane, int x, int y) {
    uint8_t *p;
    int row;
    uintptr_t t = GetPlanePixels(plane, &p, &row, 0);
    int v = t ? p[y * row + x] : -1;
    if (t) ReleasePlanePixels(t);
    return v;
}

// Letters per pixel of a plane set: the RGB colour's letter where covered, '.' elsewhere.
std::vector<std::string> Picture(const lvShapeImages &img, int w, int h,
                                 std::initializer_list<std::pair<uint32_t, char>> letters) {
    std::vector<std::string> rows;
    for (int y = 0; y < h; y++) {
        std::string s;
        for (int x = 0; x < w; x++) {
            bool covered = img.mask ? ReadBitmapPixel(img.mask, x, y, 1) != 0
                                    : PlaneByte(img.alpha, x, y) != 0;
            char c = '.';
            if (covered) {
                c = '?';
                uint32_t v = img.rgb ? ReadBitmapPixel(img.rgb, x, y, 0) & 0xFFFFFF : 0;
                for (auto &l : letters)
                    if (l.first == v) c = l.second;
            }
            s += c;
        }
        rows.push_back(s);
    }
    return rows;
}

int Alpha(const lvShapeImages &img, int x, int y) { return PlaneByte(img.alpha, x, y); }

class ShapeRender : public ::testing::Test {
protected:
    void TearDown() override { FailAllocMemoryAfter(-1); }
};

TEST_F(ShapeRender, PlainBoxBorderOverShadowBoxInside) {
    lvShapeJob j = Job(SHAPE_BOX, 4, 4, 0xFF0000);
    WithBorderAndShadow(&j, 2, 0x00FF00, 4, 0x0000FF, SHDWSOUTHEAST);
    ReadShapeStyle(&j);
    lvBoxCanvas c;
    BoxCanvas(2, 10, 10, 4, 4, 4, SHDWSOUTHEAST, &c);
    ASSERT_EQ(c.width, 12);
    lvShapeImages img;
    uint32_t colour = 0;
    ASSERT_EQ(RenderShapeOutlined(nullptr, &j, c.x, c.y, c.width, c.height, c.shapeX, c.shapeY, c.shadowX, c.shadowY,
                                  0, &img, &colour, nullptr),
              0);
    ASSERT_NE(img.mask, nullptr);  // opaque and not anti-aliased: a mask
    EXPECT_EQ(Picture(img, 12, 12, {{0xFF0000, 'F'}, {0x00FF00, 'B'}, {0x0000FF, 'S'}}),
              (std::vector<std::string>{"BBBBBBBB....", "BBBBBBBB....", "BBFFFFBB....", "BBFFFFBB....",
                                        "BBFFFFBBSSSS", "BBFFFFBBSSSS", "BBBBBBBBSSSS", "BBBBBBBBSSSS",
                                        "....SSSSSSSS", "....SSSSSSSS", "....SSSSSSSS", "....SSSSSSSS"}));
    FreeShapeImages(&img);

    // The same box through the line-based renderer gives the same planes.
    double fill[2 * SHAPE_MAXPOINTS], border[2 * SHAPE_MAXPOINTS];
    int w, h, nf, nb;
    lvShapeJob k = Job(SHAPE_BOX, 4, 4, 0xFF0000);
    WithBorderAndShadow(&k, 2, 0x00FF00, 4, 0x0000FF, SHDWSOUTHEAST);
    k.lineBased = 1;
    ASSERT_EQ(BuildShapeOutline(&k, &w, &h, fill, &nf, border, &nb), 0);
    ASSERT_EQ(RenderShapeLines(&k, nullptr, fill, nf, border, nb, 0, 0, 4, 4, k.canvasW, k.canvasH, 0, &img, &colour),
              0);
    EXPECT_EQ(Picture(img, 12, 12, {{0xFF0000, 'F'}, {0x00FF00, 'B'}, {0x0000FF, 'S'}}),
              (std::vector<std::string>{"BBBBBBBB....", "BBBBBBBB....", "BBFFFFBB....", "BBFFFFBB....",
                                        "BBFFFFBBSSSS", "BBFFFFBBSSSS", "BBBBBBBBSSSS", "BBBBBBBBSSSS",
                                        "....SSSSSSSS", "....SSSSSSSS", "....SSSSSSSS", "....SSSSSSSS"}));
    FreeShapeImages(&img);
}

TEST_F(ShapeRender, TransparentShadowAndInvisibleFill) {
    // Shadow at transparency 128 (the default shadow colour): alpha plane, 127 where
    // only the shadow is; the fill at 255 draws nothing, the border stays.
    lvShapeJob j = Job(SHAPE_BOX, 4, 4, 0xFFFF0000u);  // fill transparency 255
    WithBorderAndShadow(&j, 1, 0x00FF00, 2, 0x80000000u, SHDWSOUTHEAST);
    ReadShapeStyle(&j);
    EXPECT_EQ(j.fillTransparency, 255);
    lvBoxCanvas c;
    BoxCanvas(1, 0, 0, 4, 4, 2, SHDWSOUTHEAST, &c);
    lvShapeImages img;
    uint32_t colour;
    ASSERT_EQ(RenderShapeOutlined(nullptr, &j, c.x, c.y, c.width, c.height, c.shapeX, c.shapeY, c.shadowX, c.shadowY,
                                  0, &img, &colour, nullptr),
              0);
    ASSERT_NE(img.alpha, nullptr);
    EXPECT_EQ(Alpha(img, 0, 0), 255);  // border
    EXPECT_EQ(Alpha(img, 2, 2), 255);  // inside: the border rectangle, no fill over it
    EXPECT_EQ(ReadBitmapPixel(img.rgb, 2, 2, 0) & 0xFFFFFF, 0x00FF00u);
    EXPECT_EQ(Alpha(img, 7, 7), 127);  // shadow only
    EXPECT_EQ(Alpha(img, 7, 0), 0);
    FreeShapeImages(&img);

    // Without a border: shadow only.
    lvShapeJob k = Job(SHAPE_BOX, 4, 4, 0xFFFF0000u);
    WithBorderAndShadow(&k, 0, 0, 2, 0x000000, SHDWSOUTHEAST);
    ReadShapeStyle(&k);
    BoxCanvas(0, 0, 0, 4, 4, 2, SHDWSOUTHEAST, &c);
    ASSERT_EQ(RenderShapeOutlined(nullptr, &k, c.x, c.y, c.width, c.height, c.shapeX, c.shapeY, c.shadowX, c.shadowY,
                                  0, &img, &colour, nullptr),
              0);
    EXPECT_EQ(Picture(img, 6, 6, {{0, 'S'}}),
              (std::vector<std::string>{"......", "......", "..SSSS", "..SSSS", "..SSSS", "..SSSS"}));
    FreeShapeImages(&img);
}

TEST_F(ShapeRender, ColourCoverageShortcutKeepsOnlyCoverage) {
    lvShapeJob j = Job(SHAPE_POLYGON, 5, 4, 0x336699);
    std::vector<double> tri = {0, 0, 4, 0, 0, 3};
    j.points = tri.data(), j.pointCount = 3, j.lineBased = 1;
    double fill[2 * SHAPE_MAXPOINTS], border[2 * SHAPE_MAXPOINTS];
    int w, h, nf, nb;
    ASSERT_EQ(BuildShapeOutline(&j, &w, &h, fill, &nf, border, &nb), 0);
    lvShapeImages img;
    uint32_t colour = 0;
    ASSERT_EQ(RenderShapeLines(&j, nullptr, fill, nf, border, nb, 0, 0, 0, 0, j.canvasW, j.canvasH, 0, &img, &colour),
              0);
    EXPECT_EQ(img.rgb, nullptr);
    EXPECT_EQ(img.mask, nullptr);
    ASSERT_NE(img.alpha, nullptr);
    EXPECT_EQ(img.colourOnly, 1);
    EXPECT_EQ(colour, 0x336699u);
    EXPECT_EQ(Picture(img, 5, 4, {{0, '#'}}), (std::vector<std::string>{"#####", "####.", "###..", "#...."}));
    FreeShapeImages(&img);
    // Flag 0x400 refuses the shortcut.
    ASSERT_EQ(RenderShapeLines(&j, nullptr, fill, nf, border, nb, 0, 0, 0, 0, j.canvasW, j.canvasH, 0x400, &img,
                               &colour),
              0);
    EXPECT_NE(img.rgb, nullptr);
    EXPECT_NE(img.mask, nullptr);
    EXPECT_EQ(Picture(img, 5, 4, {{0x336699, 'C'}}), (std::vector<std::string>{"CCCCC", "CCCC.", "CCC..", "C...."}));
    FreeShapeImages(&img);
}

TEST_F(ShapeRender, AntiAliasedCircleFromTheVectorEngine) {
    const int r = 20, W = 2 * r + 1;
    lvShapeJob j = Job(SHAPE_CIRCLE, W, W, 0xFFFFFF);
    j.radiusX = j.radiusY = r;
    j.style.formStyle = FORM_ANTIALIAS;
    ReadShapeStyle(&j);
    int mw, mh;
    ASSERT_EQ(MeasureShape(&j, &mw, &mh, 1, 0), 0);
    EXPECT_EQ(mw, W);
    EXPECT_EQ(mh, W);
    j.shapeW = j.shapeH = W;
    lvShapeImages img;
    uint32_t colour;
    ASSERT_EQ(RenderShapeOutlined(nullptr, &j, 0, 0, W, W, 0, 0, 0, 0, 0, &img, &colour, nullptr), 0);
    ASSERT_TRUE(img.colourOnly);
    double sum = 0, c = r + 0.5, R = r + 0.5;
    for (int y = 0; y < W; y++)
        for (int x = 0; x < W; x++) {
            int a = Alpha(img, x, y);
            double d = std::hypot(x + 0.5 - c, y + 0.5 - c);
            if (d < R - 1) {
                EXPECT_EQ(a, 255) << x << "," << y;
            }
            if (d > R + 1) {
                EXPECT_EQ(a, 0) << x << "," << y;
            }
            EXPECT_NEAR(a, Alpha(img, W - 1 - x, y), 4) << "mirror " << x << "," << y;
            EXPECT_NEAR(a, Alpha(img, y, x), 4) << "diagonal " << x << "," << y;
            sum += a / 255.0;
        }
    EXPECT_NEAR(sum, M_PI * R * R, M_PI * R * R * 0.01);
    FreeShapeImages(&img);

    // A quarter arc (0 to 90 clockwise) covers only the lower right of its ellipse.
    lvShapeJob a = j;
    a.type = SHAPE_ARC, a.startAngle = 0, a.endAngle = 90, a.clockwise = 1;
    ASSERT_EQ(RenderShapeOutlined(nullptr, &a, 0, 0, W, W, 0, 0, 0, 0, 0, &img, &colour, nullptr), 0);
    double outside = 0, all = 0;
    for (int y = 0; y < W; y++)
        for (int x = 0; x < W; x++) {
            int v = Alpha(img, x, y);
            if (x < r || y < r) outside += v;
            all += v;
        }
    EXPECT_EQ(outside, 0);
    EXPECT_NEAR(all / 255.0, M_PI * R * R / 4, M_PI * R * R / 4 * 0.02);
    FreeShapeImages(&img);
}

// Anti-aliased shapes of the vector engine side by side in one 8-bit picture, against a
// golden picture looked at once and kept (LV_UPDATE_GOLDEN=1 writes it afresh).
TEST_F(ShapeRender, VectorShapesMatchTheGoldenPicture) {
    const int W = 160, H = 48;
    lvBitMapHandle *plane = AllocAlphaBitmap(W, H, 1, nullptr, 0);
    ASSERT_NE(plane, nullptr);
    struct Shape { int type, r, start, end, clockwise, corner, filled, lineWidth, border, x; } shapes[] = {
        {SHAPE_CIRCLE, 18, 0, 360, 1, 0, 1, 1, 0, 2},
        {SHAPE_ELLIPSE, 12, 0, 360, 1, 0, 0, 3, 0, 42},     // outline of width 3, radii 18 x 12
        {SHAPE_ARC, 18, 30, 300, 1, 0, 1, 1, 0, 82},        // a pie from 30 to 300 degrees
        {SHAPE_BOX, 0, 0, 0, 1, 40, 1, 1, 2, 122},          // rounded box 32 x 32 grown by 2
    };
    for (const Shape &s : shapes) {
        lvVectorShape v{};
        v.type = s.type;
        v.radiusX = 18, v.radiusY = s.r;
        v.width = s.type == SHAPE_BOX ? 32 : 37, v.height = s.type == SHAPE_BOX ? 32 : 2 * s.r + 1;
        v.startAngle = s.start, v.endAngle = s.end, v.clockwise = s.clockwise;
        v.matrix = {1, 0, 0, 1};
        for (int &c : v.corners) c = s.corner;
        v.filled = s.filled, v.lineWidth = s.lineWidth, v.borderGrowth = s.border;
        v.offsetX = s.x, v.offsetY = 4;
        ASSERT_EQ(RenderVectorShape(&v, plane), 0);
    }
    std::string got = "P5\n160 48\n255\n";
    for (int y = 0; y < H; y++)
        for (int x = 0; x < W; x++) got += char(PlaneByte(plane, x, y));
    FreeBitmapHandle(plane);
    std::string path = std::string(LV_SOURCE_DIR) + "/tests/images/fixtures/vector_shapes.pgm";
    if (std::getenv("LV_UPDATE_GOLDEN")) {
        FILE *f = std::fopen(path.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::fwrite(got.data(), 1, got.size(), f);
        std::fclose(f);
    }
    FILE *f = std::fopen(path.c_str(), "rb");
    ASSERT_NE(f, nullptr) << path;
    std::string want;
    char buf[4096];
    while (size_t n = std::fread(buf, 1, sizeof buf, f)) want.append(buf, n);
    std::fclose(f);
    EXPECT_TRUE(got == want) << "the vector shapes differ from " << path;
}

TEST_F(ShapeRender, PaletteOutputsGetAPenPlane) {
    static uint32_t palette[256];
    lvBlitDisplay display{};
    display.target.kind = OUTPUT_IMAGE;
    display.target.palette = palette;
    display.target.depth = 3;
    lvBlitDisplay *saved = RasterState.currentDisplay;
    RasterState.currentDisplay = &display;
    lvShapeJob j = Job(SHAPE_BOX, 4, 4, 0xFF0000);
    WithBorderAndShadow(&j, 1, 0x00FF00, 2, 0x0000FF, SHDWSOUTHEAST);
    j.style.drawPen = 5, j.style.borderPen = 6, j.style.shadowPen = 7;
    j.paletteMode = PALETTEMODE_PEN;
    ReadShapeStyle(&j);
    lvBoxCanvas c;
    BoxCanvas(1, 0, 0, 4, 4, 2, SHDWSOUTHEAST, &c);
    lvShapeImages img;
    uint32_t colour;
    ASSERT_EQ(RenderShapeOutlined(nullptr, &j, c.x, c.y, c.width, c.height, c.shapeX, c.shapeY, c.shadowX, c.shadowY,
                                  0, &img, &colour, nullptr),
              0);
    ASSERT_NE(img.pens, nullptr);
    EXPECT_EQ(img.rgb, nullptr);
    std::vector<std::string> rows;
    for (int y = 0; y < 8; y++) {
        std::string r;
        for (int x = 0; x < 8; x++) {
            int v = PlaneByte(img.pens, x, y);
            r += v == img.backgroundPen ? '.' : v == 5 ? 'F' : v == 6 ? 'B' : v == 7 ? 'S' : '?';
        }
        rows.push_back(r);
    }
    EXPECT_EQ(rows, (std::vector<std::string>{"BBBBBB..", "BFFFFB..", "BFFFFBSS", "BFFFFBSS", "BFFFFBSS",
                                              "BBBBBBSS", "..SSSSSS", "..SSSSSS"}));
    FreeShapeImages(&img);

    // The same through the line-based renderer.
    double fill[2 * SHAPE_MAXPOINTS], border[2 * SHAPE_MAXPOINTS];
    int w, h, nf, nb;
    lvShapeJob k = j;
    k.lineBased = 1;
    ASSERT_EQ(BuildShapeOutline(&k, &w, &h, fill, &nf, border, &nb), 0);
    ASSERT_EQ(RenderShapeLines(&k, nullptr, fill, nf, border, nb, 0, 0, 2, 2, k.canvasW, k.canvasH, 0, &img, &colour),
              0);
    ASSERT_NE(img.pens, nullptr);
    EXPECT_EQ(PlaneByte(img.pens, 2, 2), 5);
    EXPECT_EQ(PlaneByte(img.pens, 0, 0), 6);
    EXPECT_EQ(PlaneByte(img.pens, 7, 7), 7);
    FreeShapeImages(&img);

    // A pen beyond the depth: ERR_PENRANGE with nothing made.
    j.style.drawPen = 9;
    EXPECT_EQ(RenderShapeOutlined(nullptr, &j, c.x, c.y, c.width, c.height, c.shapeX, c.shapeY, c.shadowX, c.shadowY,
                                  0, &img, &colour, nullptr),
              ERR_PENRANGE);
    EXPECT_EQ(img.pens, nullptr);
    RasterState.currentDisplay = saved;
}

TEST_F(ShapeRender, AllocationFailuresFreeEverything) {
    lvShapeJob j = Job(SHAPE_BOX, 6, 6, 0xFF0000);
    WithBorderAndShadow(&j, 1, 0x00FF00, 2, 0x40000000u, SHDWSOUTHEAST);
    ReadShapeStyle(&j);
    lvBoxCanvas c;
    BoxCanvas(1, 0, 0, 6, 6, 2, SHDWSOUTHEAST, &c);
    int failures = 0;
    for (int n = 0; n < 12; n++) {
        lvShapeImages img;
        uint32_t colour;
        FailAllocMemoryAfter(n);
        int rc = RenderShapeOutlined(nullptr, &j, c.x, c.y, c.width, c.height, c.shapeX, c.shapeY, c.shadowX,
                                     c.shadowY, 0, &img, &colour, nullptr);
        FailAllocMemoryAfter(-1);
        if (rc == 0) {
            FreeShapeImages(&img);
            break;
        }
        failures++;
        EXPECT_TRUE(rc == ERR_BITMAP || rc == ERR_ALLOCALPHA || rc == ERR_MEM) << rc;
        EXPECT_EQ(img.rgb, nullptr);
        EXPECT_EQ(img.alpha, nullptr);
    }
    EXPECT_GT(failures, 0);
}

// ---- The direct plain-box fill --------------------------------------------------------------

struct Output {
    lvShapeOutput o{};
    lvBitMapHandle *rgb = nullptr;
    std::vector<std::vector<int>> damage;
    Output(int w, int h) {
        rgb = AllocRgbBitmap(w, h, 0, nullptr);
        FillBitmapRect(rgb, 0, 0, w, h, 0);
        o.kind = OUTPUT_IMAGE;
        o.rgb = rgb;
        o.width = w, o.height = h;
        o.canDrawToWindow = 1;
        o.context = this;
        o.softwareDoubleBuffer = 1;
        o.AddDamage = [](void *c, int x, int y, int w, int h) {
            static_cast<Output *>(c)->damage.push_back({x, y, w, h});
        };
    }
    ~Output() { FreeBitmapHandle(rgb); }
    std::vector<std::string> Rows() {
        std::vector<std::string> rows;
        for (int y = 0; y < o.height; y++) {
            std::string s;
            for (int x = 0; x < o.width; x++) s += (ReadBitmapPixel(rgb, x, y, 0) & 0xFFFFFF) ? '#' : '.';
            rows.push_back(s);
        }
        return rows;
    }
};

TEST_F(ShapeRender, DirectFillDrawsOnlyVisibleEdges) {
    Output out(8, 10);
    lvClipRegion clip = {0, 0, 5, 10, nullptr};
    out.o.clip = &clip;
    lvShapeJob j = Job(SHAPE_BOX, 6, 6, 0xFFFFFF);
    j.style.fillStyle = FILLNONE;
    ReadShapeStyle(&j);
    ASSERT_TRUE(CanFillShapeBoxDirectly(&j, &out.o));
    lvBoxCanvas c;
    BoxCanvas(0, 2, 2, 6, 6, 0, 0, &c);
    EXPECT_EQ(FillShapeBox(nullptr, &j, 2, 2, &c, &out.o), SHAPE_DRAWNDIRECTLY);
    EXPECT_EQ(out.Rows(), (std::vector<std::string>{"........", "........", "..###...", "..#.....", "..#.....",
                                                    "..#.....", "..#.....", "..###...", "........", "........"}));
    EXPECT_EQ(out.damage, (std::vector<std::vector<int>>{{2, 2, 3, 6}}));
}

TEST_F(ShapeRender, DirectFillOnTheDisplayGoesToItsBuffers) {
    static std::vector<std::vector<int>> fills;
    fills.clear();
    Output out(8, 8);
    out.o.kind = OUTPUT_DISPLAY;
    out.o.FillDisplayRect = [](void *, int x, int y, int w, int h, uint32_t colour, int style) {
        fills.push_back({x, y, w, h, int(colour), style});
    };
    lvShapeJob j = Job(SHAPE_BOX, 6, 6, 0x123456);
    ReadShapeStyle(&j);
    ASSERT_TRUE(CanFillShapeBoxDirectly(&j, &out.o));
    lvBoxCanvas c{};
    EXPECT_EQ(FillShapeBox(nullptr, &j, 4, -2, &c, &out.o), SHAPE_DRAWNDIRECTLY);
    EXPECT_EQ(fills, (std::vector<std::vector<int>>{{4, 0, 4, 4, 0x123456, FILLCOLOR}}));
    EXPECT_EQ(out.damage, (std::vector<std::vector<int>>{{4, 0, 4, 4}}));
    // Wholly off the display: drawn, with nothing written.
    fills.clear();
    EXPECT_EQ(FillShapeBox(nullptr, &j, 20, 20, &c, &out.o), SHAPE_DRAWNDIRECTLY);
    EXPECT_TRUE(fills.empty());
    EXPECT_EQ(out.Rows(), std::vector<std::string>(8, "........"));  // the image planes stay untouched
    // A display that offers no way in, or no buffer for a gradient, leaves the box to the
    // image path instead of reporting it drawn.
    fills.clear();
    lvShapeOutput closed = out.o;
    closed.FillDisplayRect = nullptr;
    EXPECT_EQ(FillShapeBox(nullptr, &j, 1, 1, &c, &closed), 0);
    lvShapeJob g = j;
    g.fillStyle = FILLGRADIENT;
    lvShapeOutput noBuffer = out.o;
    noBuffer.rgb = nullptr;
    EXPECT_EQ(FillShapeBox(nullptr, &g, 1, 1, &c, &noBuffer), 0);
    EXPECT_TRUE(fills.empty());
    // An outline cut at the top shows its other three edges, each as a rectangle of its own.
    lvShapeJob frame = j;
    frame.fillStyle = FILLNONE;
    EXPECT_EQ(FillShapeBox(nullptr, &frame, 1, -1, &c, &out.o), SHAPE_DRAWNDIRECTLY);
    EXPECT_EQ(fills, (std::vector<std::vector<int>>{{1, 4, 6, 1, 0x123456, FILLCOLOR},
                                                     {1, 0, 1, 5, 0x123456, FILLCOLOR},
                                                     {6, 0, 1, 5, 0x123456, FILLCOLOR}}));
}

TEST_F(ShapeRender, GradientCutOnTheLeftTakesTheImagePath) {
    Output out(8, 8);
    lvShapeJob j = Job(SHAPE_BOX, 6, 6, 0xFFFFFF);
    j.style.fillStyle = FILLGRADIENT;
    ReadShapeStyle(&j);
    lvBoxCanvas c;
    BoxCanvas(0, -2, 1, 6, 6, 0, 0, &c);
    EXPECT_EQ(FillShapeBox(nullptr, &j, -2, 1, &c, &out.o), 0);
    EXPECT_EQ(out.Rows(), std::vector<std::string>(8, "........"));
    // Uncut, it is drawn directly.
    EXPECT_EQ(FillShapeBox(nullptr, &j, 1, 1, &c, &out.o), SHAPE_DRAWNDIRECTLY);
}

TEST_F(ShapeRender, EveryConditionOfTheDirectFillSendsTheBoxToTheImagePath) {
    struct Flip { const char *what; void (*apply)(lvShapeJob *, lvShapeOutput *); } flips[] = {
        {"no adapter and no window", [](lvShapeJob *, lvShapeOutput *o) { o->canDrawToWindow = 0; }},
        {"display with layers", [](lvShapeJob *, lvShapeOutput *o) { o->kind = OUTPUT_DISPLAY, o->layersOn = 1; }},
        {"display with a border",
         [](lvShapeJob *j, lvShapeOutput *o) { o->kind = OUTPUT_DISPLAY, j->hasBorder = 1, j->borderSize = 1; }},
        {"display with a texture", [](lvShapeJob *j, lvShapeOutput *o) { o->kind = OUTPUT_DISPLAY, j->fillStyle = 3; }},
        {"fill transparency", [](lvShapeJob *j, lvShapeOutput *) { j->fillTransparency = 10; }},
        {"transparent shadow into an image",
         [](lvShapeJob *j, lvShapeOutput *) { j->hasShadow = 1, j->shadowSize = 2, j->shadowTransparency = 5; }},
        {"clip region with a mask",
         [](lvShapeJob *, lvShapeOutput *o) {
             static lvClipRegion masked = {0, 0, 4, 4, reinterpret_cast<lvBitMapHandle *>(1)};
             o->clip = &masked;
         }},
        {"named style tags",
         [](lvShapeJob *j, lvShapeOutput *) {
             static lvStyleTags tags{};
             tags.name[0] = 'x';
             j->tags = &tags;
         }},
        {"style-tag transparency",
         [](lvShapeJob *j, lvShapeOutput *) {
             static lvStyleTags tags{};
             tags.transparency = 10;
             j->tags = &tags;
         }},
        // Filters need the rendered image: a colour filter and a geometric one alike.
        {"grayscale filter",
         [](lvShapeJob *j, lvShapeOutput *) {
             static lvStyleTags tags{};
             tags.filters[6].enabled = 1;
             j->tags = &tags;
         }},
        {"swirl filter",
         [](lvShapeJob *j, lvShapeOutput *) {
             static lvStyleTags tags{};
             tags.filters[FILTER_SWIRL].enabled = 1;
             j->tags = &tags;
         }},
        {"grayscale filter on the display",
         [](lvShapeJob *j, lvShapeOutput *o) {
             static lvStyleTags tags{};
             tags.filters[6].enabled = 1;
             j->tags = &tags, o->kind = OUTPUT_DISPLAY;
         }},
        {"gradient on a hardware image", [](lvShapeJob *j, lvShapeOutput *o) { j->fillStyle = 2, o->hardware = 1; }},
        {"combination mode 2", [](lvShapeJob *, lvShapeOutput *o) { o->comboMode = 2; }},
        {"gradient on a palette display",
         [](lvShapeJob *j, lvShapeOutput *o) {
             static uint32_t pal[256];
             j->fillStyle = 2, o->kind = OUTPUT_DISPLAY, o->palette = pal;
         }},
        {"pen plane with a shadow",
         [](lvShapeJob *j, lvShapeOutput *o) { o->penPlane = 1, j->hasShadow = 1, j->shadowSize = 1; }},
        {"video playing", [](lvShapeJob *, lvShapeOutput *o) { o->videoPlaying = 1; }},
        {"rounded corners", [](lvShapeJob *j, lvShapeOutput *) { j->cornerA = 10; }},
        {"line-based", [](lvShapeJob *j, lvShapeOutput *) { j->lineBased = 1; }},
    };
    for (const Flip &f : flips) {
        Output out(8, 8);
        lvShapeJob j = Job(SHAPE_BOX, 4, 4, 0xFFFFFF);
        ReadShapeStyle(&j);
        ASSERT_TRUE(CanFillShapeBoxDirectly(&j, &out.o));
        f.apply(&j, &out.o);
        EXPECT_FALSE(CanFillShapeBoxDirectly(&j, &out.o)) << f.what;
        if (out.o.clip && out.o.clip->mask) out.o.clip = nullptr;  // the fake mask is never read
        // The outline renderer then renders images instead of drawing into the output.
        lvShapeImages img;
        uint32_t colour;
        lvShapeJob k = j;
        k.cornerA = 0, k.lineBased = 0, k.fillStyle = FILLCOLOR, k.tags = nullptr;
        k.hasShadow = k.hasBorder = 0, k.fillTransparency = 0;
        if (!CanFillShapeBoxDirectly(&k, &out.o)) {
            int rc = RenderShapeOutlined(nullptr, &k, 2, 2, 4, 4, 0, 0, 0, 0, 0, &img, &colour, &out.o);
            EXPECT_EQ(rc, 0) << f.what;
            EXPECT_EQ(out.Rows(), std::vector<std::string>(8, "........")) << f.what;
            FreeShapeImages(&img);
        }
    }
    // All conditions met: drawn straight into the output, no images.
    Output out(8, 8);
    lvShapeJob j = Job(SHAPE_BOX, 4, 4, 0xFFFFFF);
    ReadShapeStyle(&j);
    lvShapeImages img;
    uint32_t colour;
    EXPECT_EQ(RenderShapeOutlined(nullptr, &j, 2, 2, 4, 4, 0, 0, 0, 0, 0, &img, &colour, &out.o), SHAPE_DRAWNDIRECTLY);
    EXPECT_EQ(img.rgb, nullptr);
    EXPECT_EQ(img.alpha, nullptr);
    EXPECT_EQ(out.Rows()[3], "..####..");
}

}  // namespace

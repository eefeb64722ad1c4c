// images_shape_outline_test.cpp - shape outlines and canvas geometry: box,
// rounded box, ellipse and arc points, the transform about the anchor, polygons
// grown by a border (convex, concave and degenerate), shadow canvases, and the
// whole geometry of bordered and shadowed jobs.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <vector>

#include "images/lvshape.h"
#include "raster/lvbitmap.h"
#include "raster/lvrect.h"

namespace {

constexpr double F = 65536.0;

lvShapeJob Job(int type, int w, int h) {
    lvShapeJob j{};
    j.type = type;
    j.width = w, j.height = h;
    j.transform.matrix = {1, 0, 0, 1};
    j.transform.anchorX = j.transform.anchorY = 0;
    j.startAngle = 0, j.endAngle = 360;
    return j;
}

std::vector<std::pair<double, double>> Pixels(const double *b, int n) {
    std::vector<std::pair<double, double>> v;
    for (int i = 0; i < n; i++) v.push_back({b[2 * i] / F, b[2 * i + 1] / F});
    return v;
}

TEST(ShapePoints, BoxesEllipsesAndRoundedCorners) {
    double buf[2 * SHAPE_MAXPOINTS];
    // Plain box: corners 0 and 9.
    lvShapeJob box = Job(SHAPE_BOX, 10, 10);
    int n = BuildShapePoints(10, &box, buf, 10);
    using P = std::vector<std::pair<double, double>>;
    EXPECT_EQ(Pixels(buf, n), (P{{0, 0}, {9, 0}, {9, 9}, {0, 9}, {0, 0}}));
    // Square corners through the rounded builder: scaled by 2 in x about (0, 0) the right
    // edge lies at 10 before the transform, so at 20 after it; unscaled at 9.
    int square[4] = {0, 0, 0, 0};
    lvMatrix2D scale = {2, 0, 0, 1}, identity = {1, 0, 0, 1};
    n = BuildRoundedBoxPoints(10, 0, 0, 10, square, buf, &scale);
    double most = 0;
    for (auto &p : Pixels(buf, n)) most = std::max(most, p.first);
    EXPECT_EQ(most, 20);
    n = BuildRoundedBoxPoints(10, 0, 0, 10, square, buf, &identity);
    most = 0;
    for (auto &p : Pixels(buf, n)) most = std::max(most, p.first);
    EXPECT_EQ(most, 9);

    // Ellipse point counts by radius: the angle step follows the larger radius.
    struct Count { int radius, points; } counts[] = {{2, 5}, {5, 13}, {12, 21}, {20, 73}};
    for (const Count &c : counts) {
        lvShapeJob e = Job(SHAPE_CIRCLE, 2 * c.radius + 1, 2 * c.radius + 1);
        n = BuildShapePoints(e.width, &e, buf, e.height);
        EXPECT_EQ(n, c.points) << "radius " << c.radius;
        EXPECT_EQ(buf[0], buf[2 * n - 2]);
        EXPECT_EQ(buf[1], buf[2 * n - 1]);
        // 0 degrees points right, 90 up.
        EXPECT_EQ(Pixels(buf, 1)[0], std::make_pair(double(2 * c.radius), double(c.radius)));
    }

    // Rounded 40 x 20 with every corner 100: radius 10 at every corner.
    lvShapeJob r = Job(SHAPE_BOX, 40, 20);
    r.cornerA = r.cornerB = r.cornerC = r.cornerD = 100;
    n = BuildShapePoints(40, &r, buf, 20);
    auto pts = Pixels(buf, n);
    EXPECT_EQ(pts.front(), std::make_pair(10.0, 0.0));  // corner a starts at 90 degrees
    auto has = [&](double x, double y) { return std::find(pts.begin(), pts.end(), std::make_pair(x, y)) != pts.end(); };
    EXPECT_TRUE(has(0, 10));   // a ends at 180
    EXPECT_TRUE(has(0, 9));    // b starts at (0, B - r) with B = 19
    EXPECT_TRUE(has(39, 9));   // c ends at (R, B - r)
    EXPECT_TRUE(has(29, 0));   // d ends at (R - r, 0)
    EXPECT_EQ(pts.front(), pts.back());
}

TEST(ShapePoints, ArcsFollowTheirDirection) {
    double buf[2 * SHAPE_MAXPOINTS];
    for (int clockwise : {1, 0}) {
        lvShapeJob a = Job(SHAPE_ARC, 41, 41);
        a.startAngle = 0, a.endAngle = 90, a.clockwise = clockwise;
        int n = BuildShapePoints(41, &a, buf, 41);
        auto pts = Pixels(buf, n);
        // Two bounds entries: the whole ellipse.
        EXPECT_EQ(pts[0], std::make_pair(0.0, 0.0));
        EXPECT_EQ(pts[1], std::make_pair(40.0, 40.0));
        int lowerRight = 0, others = 0;
        for (size_t i = 2; i + 1 < pts.size(); i++) {  // without the closing repeat
            double x = pts[i].first - 20, y = pts[i].second - 20;
            if (x == 0 && y == 0) continue;  // the pie's centre
            if (x >= 0 && y >= 0) lowerRight++;
            if (x < 0 || y < 0) others++;
        }
        if (clockwise) {
            EXPECT_EQ(others, 0);
            EXPECT_GT(lowerRight, 10);
        } else {
            EXPECT_GT(others, 40);
            EXPECT_LE(lowerRight, 2);  // only the two ends on the axes
        }
        EXPECT_EQ(pts.back(), pts[2]);  // closed on its first arc point
    }
}

TEST(ShapePoints, ExtremeAnglesStayBounded) {
    double buf[2 * SHAPE_MAXPOINTS];
    for (int start : {0, 2147483000, -2147483000}) {
        lvShapeJob a = Job(SHAPE_ARC, 41, 41);
        a.startAngle = start, a.endAngle = 2147483647, a.clockwise = 1;
        int n = BuildShapePoints(41, &a, buf, 41);
        ASSERT_GE(n, 4);
        ASSERT_LE(n, SHAPE_MAXPOINTS);
        for (int i = 0; i < n; i++) {
            EXPECT_GE(buf[2 * i] / F, 0);
            EXPECT_LE(buf[2 * i] / F, 40);
        }
    }
    EXPECT_GT(GenerateEllipsePoints(0, 0, 10 * F, 10 * F, nullptr, 0.5, 0.5, INT_MAX, 5, 0, 0, buf, INT_MIN), 1);
}

TEST(ShapePoints, TransformAboutTheAnchor) {
    lvMatrix2D quarter = {0, 1, -1, 0};  // 90 degrees
    double x, y;
    TransformShapePoint(&quarter, 0, 0, 10, 10, 0.5, 0.5, &x, &y);
    EXPECT_DOUBLE_EQ(x, 10);
    EXPECT_DOUBLE_EQ(y, 0);
    TransformShapePoint(&quarter, 0, 0, 10, 10, 0, 0, &x, &y);
    EXPECT_DOUBLE_EQ(x, 0);
    EXPECT_DOUBLE_EQ(y, 0);
    lvMatrix2D scale = {2, 0, 0, 3};
    TransformShapePoint(&scale, 4, 4, 10, 10, 1, 1, &x, &y);
    EXPECT_DOUBLE_EQ(x, -2);  // 10 + 2 (4 - 10)
    EXPECT_DOUBLE_EQ(y, -8);  // 10 + 3 (4 - 10)
}

TEST(OffsetPolygonTest, ConvexConcaveAndDegenerateOutlines) {
    struct Case {
        std::vector<double> points;  // pixels
        double distance;
        std::vector<double> bounds;  // min x, min y, max x, max y of the result
        int count;
    } cases[] = {
        {{0, 0, 10, 0, 10, 10, 0, 10}, 3, {-3, -3, 13, 13}, 4},
        {{0, 10, 10, 10, 10, 0, 0, 0}, 3, {-3, -3, 13, 13}, 4},                 // other orientation
        {{0, 0, 10, 0, 10, 4, 4, 4, 4, 10, 0, 10}, 2, {-2, -2, 12, 12}, 6},    // L shape (one reflex corner)
        {{0, 0, 5, 0, 10, 0, 10, 10, 0, 10}, 1, {-1, -1, 11, 11}, 4},          // a point along an edge
        {{0, 0, 5, 5, 10, 10}, 2, {-2, -2, 12, 12}, 4},                        // collinear: rectangle
        {{3, 3, 3, 3, 3, 3}, 2, {1, 1, 5, 5}, 4},                              // coincident: rectangle
        {{7, 2}, 1, {6, 1, 8, 3}, 4},                                          // one point
    };
    for (const Case &c : cases) {
        double buf[2 * SHAPE_MAXPOINTS];
        for (size_t i = 0; i < c.points.size(); i++) buf[i] = c.points[i] * F;
        int n = OffsetPolygon(c.distance, buf, int(c.points.size() / 2));
        ASSERT_EQ(n, c.count);
        double lx = 1e18, ly = 1e18, hx = -1e18, hy = -1e18;
        for (int i = 0; i < n; i++) {
            ASSERT_TRUE(std::isfinite(buf[2 * i]) && std::isfinite(buf[2 * i + 1]));
            lx = std::min(lx, buf[2 * i] / F), hx = std::max(hx, buf[2 * i] / F);
            ly = std::min(ly, buf[2 * i + 1] / F), hy = std::max(hy, buf[2 * i + 1] / F);
        }
        EXPECT_NEAR(lx, c.bounds[0], 1e-6);
        EXPECT_NEAR(ly, c.bounds[1], 1e-6);
        EXPECT_NEAR(hx, c.bounds[2], 1e-6);
        EXPECT_NEAR(hy, c.bounds[3], 1e-6);
    }
    // The L's reflex corner (4, 4) moves out to (6, 6).
    double l[] = {0, 0, 10 * F, 0, 10 * F, 4 * F, 4 * F, 4 * F, 4 * F, 10 * F, 0, 10 * F};
    ASSERT_EQ(OffsetPolygon(2, l, 6), 6);
    EXPECT_NEAR(l[6] / F, 6, 1e-6);
    EXPECT_NEAR(l[7] / F, 6, 1e-6);
}

TEST(ShapeCanvas, ShadowsMoveShapeAndCanvas) {
    struct Case { int direction; int x, y, w, h, shapeX, shapeY, shadowX, shadowY; } cases[] = {
        {SHDWSOUTHEAST, 98, 48, 18, 18, 0, 0, 4, 4},
        {SHDWNORTH, 98, 44, 14, 18, 0, 4, 0, 0},
        {SHDWWEST, 94, 48, 18, 14, 4, 0, 0, 0},
        {SHDWNORTHWEST, 94, 44, 18, 18, 4, 4, 0, 0},
        {SHDWSOUTHWEST, 94, 48, 18, 18, 4, 0, 0, 4},
    };
    for (const Case &c : cases) {
        lvBoxCanvas k;
        BoxCanvas(2, 100, 50, 10, 10, 4, c.direction, &k);
        EXPECT_EQ((std::vector<int>{k.x, k.y, k.width, k.height, k.shapeX, k.shapeY, k.shadowX, k.shadowY}),
                  (std::vector<int>{c.x, c.y, c.w, c.h, c.shapeX, c.shapeY, c.shadowX, c.shadowY}))
            << "direction " << c.direction;
    }
}

TEST(ShapeStyle, TransparenciesAndThePaletteRule) {
    struct Case { int maskOnly, paletteMode, palette, layers; int fill, border, shadow, tags; } cases[] = {
        {0, PALETTEMODE_PEN, 0, 0, 0x40, 0x20, 0x80, 77},    // true colour: kept
        {0, PALETTEMODE_PEN, 1, 0, 0, 0, 0, 0},              // palette output: cleared, tags too
        {0, PALETTEMODE_PEN, 1, 1, 0, 0, 0, 77},             // with layers the tags keep theirs
        {0, PALETTEMODE_REMAP, 1, 0, 0x40, 0x20, 0x80, 77},  // remapping keeps them
        {1, PALETTEMODE_PEN, 1, 0, 0x40, 0x20, 0x80, 77},    // mask-only jobs keep them
    };
    for (const Case &c : cases) {
        lvStyleTags tags{};
        tags.transparency = 77;
        lvShapeJob j = Job(SHAPE_BOX, 4, 4);
        j.colour = 0x40123456u;
        j.tags = &tags;
        j.maskOnly = c.maskOnly, j.paletteMode = c.paletteMode;
        j.style.fillStyle = FILLCOLOR;
        j.style.formStyle = FORM_BORDER | FORM_SHADOW | FORM_ANTIALIAS;
        j.style.borderSize = 2, j.style.borderColour = 0x20ABCDEFu;
        j.style.shadowSize = 3, j.style.shadowColour = 0x80000000u, j.style.shadowDirection = SHDWEAST;
        ReadShapeStyle(&j, c.palette, c.layers);
        EXPECT_EQ((std::vector<int>{j.fillTransparency, j.borderTransparency, j.shadowTransparency, tags.transparency}),
                  (std::vector<int>{c.fill, c.border, c.shadow, c.tags}));
        EXPECT_EQ(j.colour, 0x123456u);
        EXPECT_EQ(j.borderColour, 0xABCDEFu);
        EXPECT_EQ((std::vector<int>{j.hasBorder, j.borderSize, j.hasShadow, j.shadowSize, j.antiAlias}),
                  (std::vector<int>{1, 2, 1, 3, 1}));
    }
}

TEST(ShapeOutlineGeometry, BorderedAndShadowedJobs) {
    double fill[2 * SHAPE_MAXPOINTS], border[2 * SHAPE_MAXPOINTS];
    int w, h, nf, nb;
    // A 10 x 10 box at (100, 50), border 2, shadow 4 south-east.
    lvShapeJob box = Job(SHAPE_BOX, 10, 10);
    box.x = 100, box.y = 50;
    box.style.fillStyle = FILLCOLOR;
    box.style.formStyle = FORM_BORDER | FORM_SHADOW;
    box.style.borderSize = 2, box.style.shadowSize = 4, box.style.shadowDirection = SHDWSOUTHEAST;
    box.style.shadowColour = 0x80000000u;
    ASSERT_EQ(BuildShapeOutline(&box, &w, &h, fill, &nf, border, &nb), 0);
    EXPECT_EQ((std::vector<int>{box.shapeW, box.shapeH, box.canvasW, box.canvasH, box.shapeX, box.shapeY, box.outX,
                                box.outY}),
              (std::vector<int>{14, 14, 18, 18, 2, 2, 98, 48}));
    EXPECT_EQ(box.shadowTransparency, 128);  // the default shadow colour: black at 128
    EXPECT_EQ(box.shadowColour, 0u);
    using P = std::vector<std::pair<double, double>>;
    EXPECT_EQ(Pixels(fill, nf), (P{{2, 2}, {11, 2}, {11, 11}, {2, 11}, {2, 2}}));
    EXPECT_EQ(Pixels(border, nb), (P{{0, 0}, {13, 0}, {13, 13}, {0, 13}, {0, 0}}));

    // A triangle grown by 3: the border outline starts at 0, the shape inside it.
    std::vector<double> tri = {0, 0, 20, 0, 0, 20};
    lvShapeJob poly = Job(SHAPE_POLYGON, 21, 21);
    poly.points = tri.data(), poly.pointCount = 3, poly.lineBased = 1;
    poly.x = 10, poly.y = 10;
    poly.style.fillStyle = FILLCOLOR, poly.style.formStyle = FORM_BORDER, poly.style.borderSize = 3;
    ASSERT_EQ(BuildShapeOutline(&poly, &w, &h, fill, &nf, border, &nb), 0);
    EXPECT_EQ(nb, 4);  // three corners and the closing point
    EXPECT_EQ(poly.shapeX, 3);
    EXPECT_EQ(poly.shapeY, 3);
    EXPECT_EQ(poly.outX, 7);
    EXPECT_EQ(poly.outY, 7);
    double lx = 1e18, ly = 1e18;
    for (int i = 0; i < nb; i++) lx = std::min(lx, border[2 * i]), ly = std::min(ly, border[2 * i + 1]);
    EXPECT_EQ(lx, 0);
    EXPECT_EQ(ly, 0);
    EXPECT_EQ(Pixels(fill, 1)[0], std::make_pair(3.0, 3.0));

    // A FILLNONE style has neither border nor shadow.
    lvShapeJob bare = box;
    bare.style.fillStyle = FILLNONE;
    ASSERT_EQ(BuildShapeOutline(&bare, &w, &h, fill, &nf, border, &nb), 0);
    EXPECT_EQ(nb, 0);
    EXPECT_EQ(bare.canvasW, 10);

    // Parity rule: under scales, the border is as wide on both sides.
    for (double s : {1.1, 1.3, 1.5, 1.7, 2.25, 3.1}) {
        lvShapeJob b = box;
        b.style.formStyle = FORM_BORDER;
        b.transform.matrix = {s, 0, 0, s};
        ASSERT_EQ(BuildShapeOutline(&b, &w, &h, fill, &nf, border, &nb), 0);
        int fw = int(std::lround((fill[4] - fill[0]) / F)) + 1;
        EXPECT_EQ((b.shapeW - fw) % 2, 0) << "scale " << s;
    }
}

// A transformed curved shape with a border keeps the place inside its border that it has
// when turned about its centre, whatever its anchor: the border is as wide on both sides.
TEST(ShapeOutlineGeometry, BorderedTurnedCurvesSitAsIfTurnedAboutTheCentre) {
    static double fill[2 * SHAPE_MAXPOINTS], border[2 * SHAPE_MAXPOINTS];
    int w, h, nf, nb;
    const double c = std::cos(M_PI / 6), s = std::sin(M_PI / 6);
    struct Case { int type; int corners; double matrix[4]; } cases[] = {
        {SHAPE_ELLIPSE, 0, {c, s, -s, c}},
        {SHAPE_ELLIPSE, 0, {1.5, 0.4, 0, 1}},
        {SHAPE_BOX, 30, {c, s, -s, c}},
    };
    for (const Case &k : cases) {
        lvShapeJob job = Job(k.type, 25, 13);
        job.radiusX = 12, job.radiusY = 6, job.lineBased = 1;
        job.cornerA = job.cornerB = job.cornerC = job.cornerD = k.corners;
        job.style.fillStyle = FILLCOLOR, job.style.formStyle = FORM_BORDER, job.style.borderSize = 3;
        job.transform.matrix = {k.matrix[0], k.matrix[1], k.matrix[2], k.matrix[3]};
        job.transform.anchorX = job.transform.anchorY = 0.5;
        lvShapeJob centred = job;
        ASSERT_EQ(BuildShapeOutline(&centred, &w, &h, fill, &nf, border, &nb), 0);
        for (double a : {0.0, 1.0, 0.3}) {
            lvShapeJob turned = job;
            turned.transform.anchorX = a, turned.transform.anchorY = 1 - a;
            ASSERT_EQ(BuildShapeOutline(&turned, &w, &h, fill, &nf, border, &nb), 0);
            SCOPED_TRACE(std::to_string(k.type) + " anchor " + std::to_string(a));
            EXPECT_EQ(turned.shapeX, centred.shapeX);
            EXPECT_EQ(turned.shapeY, centred.shapeY);
            EXPECT_EQ(turned.shapeW, centred.shapeW);
            EXPECT_EQ(turned.shapeH, centred.shapeH);
            double f[4] = {1e18, 1e18, -1e18, -1e18}, b[4] = {1e18, 1e18, -1e18, -1e18};
            auto bounds = [](const double *p, int n, double *r) {
                for (int i = 0; i < n; i++) {
                    r[0] = std::min(r[0], p[2 * i]), r[1] = std::min(r[1], p[2 * i + 1]);
                    r[2] = std::max(r[2], p[2 * i]), r[3] = std::max(r[3], p[2 * i + 1]);
                }
            };
            bounds(fill, nf, f);
            bounds(border, nb, b);
            // The border's width left and right (top and bottom) differs by at most a pixel.
            EXPECT_LE(std::fabs((f[0] - b[0]) - (b[2] - f[2])) / F, 1.0);
            EXPECT_LE(std::fabs((f[1] - b[1]) - (b[3] - f[3])) / F, 1.0);
            EXPECT_GE((f[0] - b[0]) / F, 1.0);
        }
    }
}

}  // namespace

// Vector paths in C++: the command buffer byte for byte, growing, copying and
// appending paths, the path styles, and the built-in engine's outlines
// (arc pieces, rounded boxes, fill rules, open strokes, text advances) and
// coverage.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include <sys/resource.h>

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H

#include "base/lverrors.h"
#include "images/lvvectorshape.h"
#include "text/lvtextlib.h"
#include "text/lvvectorpath.h"
#include "platform/lvplatform.h"
#include "raster/lvbitmap.h"
#include "raster/lvplanes.h"
#include "raster/lvraster.h"
#include "raster/lvdrawtags.h"
#include "images/lvdraw.h"
#include "images/lvshape.h"

namespace {

uint32_t U32(const uint8_t *p)
{
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}
double D(const uint8_t *p)
{
    double v;
    std::memcpy(&v, p, 8);
    return v;
}

// The engine records keep the interface's field order with pointer-sized pointers.
#include <cstddef>
static_assert(sizeof(void *) != 8 || (offsetof(lvVectorStyle, dashArray) == 24 && offsetof(lvVectorStyle, miterLimit) == 40 &&
                                      sizeof(lvVectorStyle) == 48));
static_assert(sizeof(void *) != 8 || (offsetof(lvPathExtentsRequest, xOffset) == 24 &&
                                      offsetof(lvPathExtentsRequest, x1) == 40 &&
                                      offsetof(lvPathExtentsRequest, matrix) == 72));
static_assert(sizeof(void *) != 8 || (offsetof(lvPathDrawRequest, pixels) == 32 &&
                                      offsetof(lvPathDrawRequest, origin) == 56 &&
                                      offsetof(lvPathDrawRequest, matrix) == 88));
static_assert(offsetof(lvPathTranslateRequest, dx) == sizeof(void *) &&
              offsetof(lvPathTranslateRequest, dy) == sizeof(void *) + 8);

// Each test starts with no paths and the default style.
class Paths : public ::testing::Test {
protected:
    void SetUp() override
    {
        FreeAllPaths(nullptr);
        ResetCurrentPathStyle();
        ResetVectorPathState();
    }
    void TearDown() override { FreeAllPaths(nullptr); }
    lvPath *New(int number)
    {
        lvObjectId id = {number, nullptr};
        lvPath *p = nullptr;
        EXPECT_EQ(StartPath(&id, &p), 0);
        return p;
    }
    static void Move(lvPath *p, double x, double y, int rel = 0)
    {
        lvPathArg a[3] = {PathInt(rel), PathDouble(x), PathDouble(y)};
        ASSERT_EQ(AppendPathCommandTo(p, PATHCMD_MOVETO, 3, a), 0);
    }
    static void Line(lvPath *p, double x, double y, int rel = 0)
    {
        lvPathArg a[3] = {PathInt(rel), PathDouble(x), PathDouble(y)};
        ASSERT_EQ(AppendPathCommandTo(p, PATHCMD_LINETO, 3, a), 0);
    }
    static void Close(lvPath *p) { ASSERT_EQ(AppendPathCommandTo(p, PATHCMD_CLOSEPATH, 0, nullptr), 0); }
    static void Arc(lvPath *p, double xc, double yc, double r, double start, double end, int clockwise = 1)
    {
        lvPathArg a[7] = {PathDouble(xc),    PathDouble(yc),  PathDouble(r),     PathDouble(r),
                          PathDouble(start), PathDouble(end), PathInt(clockwise)};
        ASSERT_EQ(AppendPathCommandTo(p, PATHCMD_ARC, 7, a), 0);
    }
    static void Box(lvPath *p, double x, double y, double w, double h, int corners = 0)
    {
        lvPathArg a[8] = {PathDouble(x),    PathDouble(y),    PathDouble(w),    PathDouble(h),
                          PathInt(corners), PathInt(corners), PathInt(corners), PathInt(corners)};
        ASSERT_EQ(AppendPathCommandTo(p, PATHCMD_BOX, 8, a), 0);
    }
    static std::vector<lvPathItem> Items(const lvPath *p)
    {
        std::vector<lvPathItem> items;
        size_t at = 0;
        lvPathItem it;
        while (p->buffer && ReadPathItem(p->buffer, p->writePos, &at, &it)) items.push_back(it);
        return items;
    }
};

TEST_F(Paths, CommandsAreWrittenByteForByteWithATerminatorBehindTheLast)
{
    lvPath *p = New(1);
    EXPECT_EQ(p->buffer, nullptr);  // empty until the first command
    Move(p, 1.5, -2.25, 1);
    ASSERT_NE(p->buffer, nullptr);
    ASSERT_EQ(p->writePos, 24u);
    EXPECT_EQ(U32(p->buffer), 1u);
    EXPECT_EQ(U32(p->buffer + 4), 1u);
    EXPECT_EQ(D(p->buffer + 8), 1.5);
    EXPECT_EQ(D(p->buffer + 16), -2.25);
    EXPECT_EQ(U32(p->buffer + 24), 0u);
    Box(p, 1, 2, 3, 4, 100);
    EXPECT_EQ(p->writePos, 24u + 52u);
    EXPECT_EQ(U32(p->buffer + 24), 8u);
    EXPECT_EQ(U32(p->buffer + 24 + 4 + 32), 100u);
    EXPECT_EQ(U32(p->buffer + p->writePos), 0u);

    // Text fields: the bytes, their 0 and padding to floor((n + 1) / 4) x 4 + 4.
    struct Case {
        size_t length, field;
    } cases[] = {{0, 4}, {2, 4}, {3, 8}, {4, 8}, {7, 12}, {8, 12}};
    for (const Case &c : cases) {
        lvPath *t = New(2);
        std::string text(c.length, 'x');
        lvPathArg a[3] = {PathHandle(7), PathInt(20), PathText(text.data(), text.size())};
        ASSERT_EQ(AppendPathCommandTo(t, PATHCMD_TEXT, 3, a), 0);
        EXPECT_EQ(t->writePos, 4 + 8 + c.field) << c.length;
        EXPECT_EQ(t->buffer[12 + c.length], 0) << c.length;
        auto items = Items(t);
        ASSERT_EQ(items.size(), 1u);
        EXPECT_EQ(items[0].font, 7u);
        EXPECT_EQ(std::string(items[0].text, items[0].textLength), text);
    }
}

TEST_F(Paths, AGrowingBufferKeepsItsCommandsAndLaterCommandsFollowAnAppendedPath)
{
    lvPath *a = New(1);
    for (int i = 0; i < 200; i++) Line(a, i, -i);  // 4800 bytes: several grows
    EXPECT_GE(a->capacity, a->writePos + 4);
    auto items = Items(a);
    ASSERT_EQ(items.size(), 200u);
    EXPECT_EQ(items[199].v[0], 199);
    EXPECT_EQ(items[0].v[1], 0);

    lvPath *b = New(2);
    Move(b, 5, 6);
    Close(b);
    size_t before = a->writePos;
    EXPECT_EQ(AppendPath({1, nullptr}, {2, nullptr}), 0);
    EXPECT_EQ(a->writePos, before + b->writePos);
    Arc(a, 1, 2, 3, 0, 90);
    items = Items(a);
    ASSERT_EQ(items.size(), 203u);
    EXPECT_EQ(items[200].code, PATHCMD_MOVETO);
    EXPECT_EQ(items[201].code, PATHCMD_CLOSEPATH);
    EXPECT_EQ(items[202].code, PATHCMD_ARC);

    EXPECT_EQ(AppendPath({1, nullptr}, {1, nullptr}), ERR_WRONGUSAGE);
    New(3);
    before = a->writePos;
    EXPECT_EQ(AppendPath({1, nullptr}, {3, nullptr}), 0);  // an empty path adds nothing
    EXPECT_EQ(a->writePos, before);
}

TEST_F(Paths, LookupsReplacementsAndCopiesThatOutliveTheirSource)
{
    lvPath *p;
    EXPECT_EQ(FindPathById({4, nullptr}, &p), ERR_FINDPATH);
    int dummy;
    EXPECT_EQ(FindPathById({0, &dummy}, &p), ERR_FINDARRAY);
    lvPath *first = New(4);
    Move(first, 1, 1);
    lvPath *second = New(4);  // the same number replaces the path
    EXPECT_EQ(FindPathById({4, nullptr}, &p), 0);
    EXPECT_EQ(p, second);
    EXPECT_EQ(p->buffer, nullptr);

    lvObjectId nil = {0, nullptr};
    lvPath *h;
    ASSERT_EQ(StartPath(&nil, &h), 0);
    EXPECT_EQ(nil.handle, h);
    Move(h, 3, 4);
    Line(h, 5, 6);

    // A copy keeps working when either is freed.
    lvObjectId copyId = {9, nullptr};
    ASSERT_EQ(CopyPath(nil, &copyId, nullptr), 0);
    lvPath *copy;
    ASSERT_EQ(FindPathById({9, nullptr}, &copy), 0);
    EXPECT_NE(copy->buffer, h->buffer);
    EXPECT_EQ(RemovePath(nil), 0);
    auto items = Items(copy);
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[1].v[0], 5);
    Line(copy, 7, 8);
    lvObjectId again = {10, nullptr};
    ASSERT_EQ(CopyPath({9, nullptr}, &again, nullptr), 0);
    EXPECT_EQ(RemovePath({9, nullptr}), 0);
    ASSERT_EQ(FindPathById({10, nullptr}, &p), 0);
    EXPECT_EQ(Items(p).size(), 3u);

    lvObjectId same = {10, nullptr};
    EXPECT_EQ(CopyPath({10, nullptr}, &same, nullptr), ERR_WRONGUSAGE);
}

TEST_F(Paths, StylesDashesAndWhatAPathKeeps)
{
    lvPathStyle *s = CurrentPathStyle();
    EXPECT_EQ(s->miterLimit, 10.0);
    double two[] = {4, 4};
    ASSERT_EQ(SetPathDash(s, 2, two, 2), 0);
    EXPECT_EQ(s->dashCount, 2);
    EXPECT_EQ(s->dashOffset, 2);
    s->join = JOINROUND;
    lvPath *p = New(1);
    // Later changes reach the current style only.
    double off[] = {-1};
    ASSERT_EQ(SetPathDash(s, 5, off, 1), 0);
    EXPECT_EQ(s->dashCount, 0);
    EXPECT_EQ(s->dashArray, nullptr);
    s->join = JOINBEVEL;
    EXPECT_EQ(p->style.join, JOINROUND);
    ASSERT_EQ(p->style.dashCount, 2);
    EXPECT_EQ(p->style.dashArray[1], 4);

    // Copies own their dash arrays: freeing one leaves the other readable.
    lvPathStyle copy;
    ASSERT_EQ(CopyPathStyle(&p->style, &copy), 0);
    EXPECT_NE(copy.dashArray, p->style.dashArray);
    EXPECT_EQ(RemovePath({1, nullptr}), 0);
    EXPECT_EQ(copy.dashArray[0], 4);
    FreePathStyle(&copy);
}

// ---- The built-in engine ----------------------------------------------------------------

struct Outline {
    FT_Outline o{};
    int rc = -1;
    double cx = 0, cy = 0;
    Outline(lvPath *p, int filled = 1, int lineWidth = 1, int fillRule = 0, int cap = CAPBUTT)
    {
        lvVectorStyle vs{};
        vs.fillRule = fillRule;
        vs.cap = cap;
        vs.miterLimit = 10;
        vs.antiAlias = 1;
        rc = PathToOutline(p->buffer, 1, &vs, lineWidth, 0, 0, filled, &cx, &cy, &o);
    }
    ~Outline()
    {
        if (rc == 0) FT_Outline_Done(GetFreeTypeLibrary(), &o);
    }
};

// Coverage of a path through the engine's slots: the plane of its fill box.
struct Plane {
    std::vector<uint8_t> pixels;
    int x = 0, y = 0, width = 0, height = 0;
    int At(int px, int py) const
    {
        px -= x, py -= y;
        if (px < 0 || py < 0 || px >= width || py >= height) return 0;
        return pixels[(size_t)py * width + px];
    }
};
Plane Rasterise(lvPath *p, int filled, int lineWidth, int fillRule, int cap = CAPBUTT, int antiAlias = 1)
{
    const lvVectorEngine *e = GetInbuiltVectorEngine();
    lvVectorStyle vs{};
    vs.fillRule = fillRule;
    vs.cap = cap;
    vs.miterLimit = 10;
    vs.antiAlias = antiAlias;
    lvPathExtentsRequest x{};
    x.buffer = p->buffer;
    x.style = &vs;
    x.filled = filled;
    x.lineWidth = lineWidth;
    e->GetPathExtents(&x);
    Plane plane;
    plane.x = (int)std::floor(x.x1), plane.y = (int)std::floor(x.y1);
    plane.width = (int)std::ceil(x.x2) - plane.x, plane.height = (int)std::ceil(x.y2) - plane.y;
    if (plane.width <= 0 || plane.height <= 0) return plane;
    plane.pixels.assign((size_t)plane.width * plane.height, 0);
    lvPathDrawRequest d{};
    d.buffer = p->buffer;
    d.style = &vs;
    d.filled = filled;
    d.lineWidth = lineWidth;
    d.pixels = plane.pixels.data();
    d.rowBytes = plane.width;
    d.width = plane.width, d.height = plane.height;
    d.origin[2] = plane.x, d.origin[3] = plane.y;
    EXPECT_EQ(e->DrawPath(&d), 1);
    return plane;
}

TEST_F(Paths, ArcsAreCubicsOfAtMostHalfATurn)
{
    lvPath *circle = New(1);
    Arc(circle, 0, 0, 100, 0, 360);
    Outline c(circle);
    ASSERT_EQ(c.rc, 0);
    EXPECT_EQ(CountOutlineCubics(&c.o), 2);

    // 0 to 90 clockwise: one cubic with k = 4/3 tan(pi / 8).
    lvPath *quarter = New(2);
    Arc(quarter, 0, 0, 100, 0, 90);
    Outline q(quarter);
    ASSERT_EQ(q.rc, 0);
    ASSERT_EQ(CountOutlineCubics(&q.o), 1);
    const double k = 4.0 / 3.0 * std::tan(M_PI / 8);
    const long k64 = (long)std::trunc(100 * k * 64);
    ASSERT_EQ(q.o.n_points, 4);
    EXPECT_EQ(q.o.points[0].x, 6400);
    EXPECT_EQ(q.o.points[0].y, 0);
    EXPECT_NEAR(q.o.points[1].x, 6400, 1);
    EXPECT_NEAR(q.o.points[1].y, k64, 1);
    EXPECT_NEAR(q.o.points[2].x, k64, 1);
    EXPECT_NEAR(q.o.points[2].y, 6400, 1);
    EXPECT_NEAR(q.o.points[3].x, 0, 1);
    EXPECT_EQ(q.o.points[3].y, 6400);
    EXPECT_NEAR(q.cx, 0, 1e-9);
    EXPECT_NEAR(q.cy, 100, 1e-9);

    // Anticlockwise from 90 to 0 is the same quarter drawn the other way round.
    lvPath *back = New(3);
    Arc(back, 0, 0, 100, 90, 0, 0);
    Outline b(back);
    ASSERT_EQ(b.rc, 0);
    EXPECT_EQ(CountOutlineCubics(&b.o), 1);
    EXPECT_NEAR(b.cx, 100, 1e-9);
    EXPECT_NEAR(b.cy, 0, 1e-9);
}

// Angles far beyond one turn cost no more than small ones: an arc to 1e20 degrees
// (280 degrees past a whole number of turns) is the arc to 640 degrees, and
// non-finite angles are refused, by every engine operation.
TEST_F(Paths, HugeArcAnglesAnswerAtOnceAndKeepTheirPlaceInTheTurn)
{
    struct Case {
        double start, end;
        int clockwise;
        double sameStart, sameEnd;  // an arc of small angles that draws the same (NAN: refused)
    } cases[] = {
        {0, 1e20, 1, 0, 640},
        {1e20, 0, 0, 280, -360},       // anticlockwise, more than two turns back
        {1e20, 0, 1, 280, 360},        // clockwise from 280 round to 360
        {0, -1e20, 0, 0, -640},
        {0, 1e300, 1, NAN, NAN},       // finite: only its place in the turn is unknown
        {0, INFINITY, 1, NAN, NAN},
        {-INFINITY, 90, 1, NAN, NAN},
        {0, NAN, 0, NAN, NAN},
    };
    int id = 1;
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.start << " to " << c.end << " clockwise " << c.clockwise);
        lvPath *p = New(id++);
        Arc(p, 50, 50, 30, c.start, c.end, c.clockwise);
        const auto t0 = std::chrono::steady_clock::now();
        double e[4], x, y;
        GetPathExtentsOf(p, 1, 1, e);
        GetPathExtentsOf(p, 0, 3, e);
        GetPathCurrentPoint(p, &x, &y);
        Plane drawn = Rasterise(p, 1, 1, 0);
        lvPath *copy = nullptr;
        lvObjectId copyId = {id++, nullptr};
        ASSERT_EQ(CopyPath({id - 2, nullptr}, &copyId, nullptr, &copy), 0);
        int normalized = NormalizePath(copy);
        EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(10));
        if (std::isnan(c.sameStart)) {
            if (!std::isfinite(c.start) || !std::isfinite(c.end)) {
                Outline o(p);
                EXPECT_EQ(o.rc, ERR_DRAWPATH);
                GetPathExtentsOf(p, 1, 1, e);
                EXPECT_EQ(e[0] + e[1] + e[2] + e[3], 0);
            } else {
                EXPECT_EQ(normalized, 0);
            }
            continue;
        }
        lvPath *same = New(id++);
        Arc(same, 50, 50, 30, c.sameStart, c.sameEnd, c.clockwise);
        double se[4], sx, sy;
        GetPathExtentsOf(same, 0, 3, se);
        GetPathExtentsOf(p, 0, 3, e);
        for (int i = 0; i < 4; i++) EXPECT_NEAR(e[i], se[i], 1.0 / 32) << i;
        GetPathCurrentPoint(same, &sx, &sy);
        GetPathCurrentPoint(p, &x, &y);
        EXPECT_NEAR(x, sx, 1e-6);
        EXPECT_NEAR(y, sy, 1e-6);
        Plane sameDrawn = Rasterise(same, 1, 1, 0);
        ASSERT_EQ(drawn.pixels.size(), sameDrawn.pixels.size());
        int differ = 0;
        for (size_t i = 0; i < drawn.pixels.size(); i++) differ += std::abs(drawn.pixels[i] - sameDrawn.pixels[i]) > 1;
        EXPECT_EQ(differ, 0);
        EXPECT_EQ(normalized, 0);
    }
}

TEST_F(Paths, RoundedBoxesFillRulesAndOpenStrokes)
{
    // Corner 100 on a 40 x 20 box: radius 10, so the corner pixel stays empty
    // and the edge's middle is covered.
    lvPath *box = New(1);
    Box(box, 0, 0, 40, 20, 100);
    Plane rounded = Rasterise(box, 1, 1, 0);
    EXPECT_EQ(rounded.width, 40);
    EXPECT_EQ(rounded.height, 20);
    EXPECT_EQ(rounded.At(0, 0), 0);
    EXPECT_EQ(rounded.At(1, 1), 0);
    EXPECT_EQ(rounded.At(20, 0), 255);
    EXPECT_EQ(rounded.At(20, 10), 255);
    EXPECT_GT(rounded.At(3, 3), 0);  // inside the quarter circle of radius 10
    lvPath *square = New(2);
    Box(square, 0, 0, 40, 20, 0);
    EXPECT_EQ(Rasterise(square, 1, 1, 0).At(0, 0), 255);

    // Two nested squares drawn the same way round: winding fills the middle,
    // even-odd leaves a frame.
    lvPath *nested = New(3);
    Box(nested, 0, 0, 30, 30);
    Box(nested, 10, 10, 10, 10);
    Plane winding = Rasterise(nested, 1, 1, FILLRULEWINDING);
    Plane evenOdd = Rasterise(nested, 1, 1, FILLRULEEVENODD);
    EXPECT_EQ(winding.At(15, 15), 255);
    EXPECT_EQ(evenOdd.At(15, 15), 0);
    EXPECT_EQ(evenOdd.At(5, 5), 255);
    EXPECT_EQ(evenOdd.At(25, 15), 255);
    Plane evenOddHard = Rasterise(nested, 1, 1, FILLRULEEVENODD, CAPBUTT, 0);
    EXPECT_EQ(evenOddHard.At(15, 15), 0);
    EXPECT_EQ(evenOddHard.At(5, 5), 255);

    // An open last subpath is stroked without its closing segment and with caps.
    lvPath *open = New(4);
    Move(open, 10, 10);
    Line(open, 50, 10);
    Line(open, 50, 50);
    Plane stroke = Rasterise(open, 0, 4, 0);
    EXPECT_EQ(stroke.At(30, 30), 0);  // on the diagonal a closing segment would draw
    EXPECT_EQ(stroke.At(30, 10), 255);
    EXPECT_EQ(stroke.x, 10);          // butt caps end at the end points
    Plane square4 = Rasterise(open, 0, 4, 0, CAPSQUARE);
    EXPECT_EQ(square4.x, 8);          // square caps reach half the width beyond
    EXPECT_EQ(square4.y + square4.height, 52);
    Close(open);
    Plane closed = Rasterise(open, 0, 4, 0);
    EXPECT_EQ(closed.At(30, 30), 255);

    // Without anti-aliasing coverage is 0 or 255 only.
    lvPath *disc = New(5);
    Arc(disc, 10, 10, 7.5, 0, 360);
    Plane hard = Rasterise(disc, 1, 1, 0, CAPBUTT, 0);
    int partial = 0, full = 0;
    for (uint8_t v : hard.pixels) partial += v != 0 && v != 255, full += v == 255;
    EXPECT_EQ(partial, 0);
    EXPECT_GT(full, 150);
}

TEST_F(Paths, CurrentPointsTranslationAndCoordinatesThatDoNotFit)
{
    lvPath *p = New(1);
    Move(p, 10, 20);
    double x, y;
    GetPathCurrentPoint(p, &x, &y);
    EXPECT_EQ(x, 10);
    EXPECT_EQ(y, 20);
    double e[4];
    GetPathExtentsOf(p, 1, 1, e);  // nothing to fill: extents stay 0
    EXPECT_EQ(e[0] + e[1] + e[2] + e[3], 0);
    Line(p, 5, 5, 1);
    Line(p, 30, 20);
    GetPathCurrentPoint(p, &x, &y);
    EXPECT_EQ(x, 30);
    Close(p);
    GetPathCurrentPoint(p, &x, &y);
    EXPECT_EQ(x, 10);  // back at the subpath's start
    EXPECT_EQ(y, 20);

    // Translation moves absolute coordinates only.
    ASSERT_EQ(TranslatePathBy(p, 100, -10), 0);
    auto items = Items(p);
    EXPECT_EQ(items[0].v[0], 110);
    EXPECT_EQ(items[0].v[1], 10);
    EXPECT_EQ(items[1].v[0], 5);  // relative
    EXPECT_EQ(items[2].v[0], 130);
    ASSERT_EQ(NormalizePath(p), 0);
    GetPathExtentsOf(p, 1, 1, e);
    EXPECT_EQ(e[0], 0);
    EXPECT_EQ(e[1], 0);

    // A coordinate beyond 32767 pixels is refused, not wrapped.
    EXPECT_EQ(TranslatePathBy(p, 40000, 0), ERR_DRAWPATH);
    EXPECT_EQ(Items(p)[0].v[0], 0);
    lvPath *far = New(2);
    Move(far, 0, 0);
    Line(far, 1e6, 10);
    Line(far, 0, 10);
    FT_Outline o;
    lvVectorStyle vs{};
    EXPECT_EQ(PathToOutline(far->buffer, 1, &vs, 1, 0, 0, 1, &x, &y, &o), ERR_DRAWPATH);
    GetPathExtentsOf(far, 1, 1, e);
    EXPECT_EQ(e[2], 0);
}

// The pixels of a brush's bitmap with its alpha, as 0xAARRGGBB.
uint32_t BrushPixel(lvBitMapHandle *rgb, lvBitMapHandle *alpha, int x, int y)
{
    lvBitMapLock l{};
    if (!LockBitmapHandle(rgb, LOCK_READONLY, &l)) return 1;
    uint32_t c = ((const uint32_t *)(l.pixels + (size_t)y * l.rowLength * 4))[x] & 0xFFFFFF;
    UnlockBitmapHandle(&l);
    uint8_t *a;
    int row;
    uintptr_t t = GetPlanePixels(alpha, &a, &row, 0);
    if (!t) return 1;
    c |= (uint32_t)a[(size_t)y * row + x] << 24;
    ReleasePlanePixels(t);
    return c;
}

TEST_F(Paths, VectorBrushesRenderAgainAtATransform)
{
    GetDrawStyle()->fillStyle = FILLCOLOR;
    lvPath *p = New(1);
    Box(p, 0, 0, 10, 6);
    lvPathBrushList list{};
    ASSERT_EQ(AddPathBrushItem(&list, {1, nullptr}, 2, 1, 0xFF0000), 0);
    GetDrawStyle()->fillStyle = FILLNONE;
    EXPECT_EQ(RemovePath({1, nullptr}), 0);  // the item keeps its own copy
    lvBitMapHandle *rgb, *alpha;
    int w, h;
    ASSERT_EQ(RenderPathsToBitmap(&list, nullptr, &rgb, &alpha, &w, &h), 0);
    EXPECT_EQ(w, 12);
    EXPECT_EQ(h, 7);
    EXPECT_EQ(BrushPixel(rgb, alpha, 1, 3), 0u);
    EXPECT_EQ(BrushPixel(rgb, alpha, 2, 1), 0xFFFF0000u);
    EXPECT_EQ(BrushPixel(rgb, alpha, 11, 6), 0xFFFF0000u);
    FreeBitmapHandle(rgb);
    FreeBitmapHandle(alpha);
    const double twice[4] = {2, 0, 0, 2};
    ASSERT_EQ(RenderPathsToBitmap(&list, twice, &rgb, &alpha, &w, &h), 0);
    EXPECT_EQ(w, 24);
    EXPECT_EQ(h, 14);
    EXPECT_EQ(BrushPixel(rgb, alpha, 3, 1), 0u);
    EXPECT_EQ(BrushPixel(rgb, alpha, 4, 2), 0xFFFF0000u);
    EXPECT_EQ(BrushPixel(rgb, alpha, 23, 13), 0xFFFF0000u);
    FreeBitmapHandle(rgb);
    FreeBitmapHandle(alpha);
    FreePathBrushList(&list);
}

// A path drawn with border and shadow whose planes fail at any step gives the
// pipeline's code and leaves the output as it was (nothing leaked under ASan).
TEST_F(Paths, AllocationFailuresDrawNothing)
{
    lvBlitDisplay *saved = RasterState.currentDisplay;
    lvBlitDisplay d{};
    d.target.kind = OUTPUT_IMAGE;
    d.target.bitmap = AllocRgbBitmap(60, 60, 0, nullptr);
    ASSERT_NE(d.target.bitmap, nullptr);
    RasterState.currentDisplay = &d;
    lvDrawStyle saveStyle = *GetDrawStyle();
    lvDrawStyle &style = *GetDrawStyle();
    style.fillStyle = FILLCOLOR, style.lineWidth = 1;
    style.formStyle = FORM_ANTIALIAS | FORM_BORDER | FORM_SHADOW;
    style.borderSize = 2, style.borderColour = 0x00FF00, style.shadowSize = 3, style.shadowColour = 0x0000FF;
    style.shadowDirection = 3;
    lvPath *p = New(1);
    Arc(p, 20, 20, 12, 0, 360);
    int failures = 0;
    for (int n = 0; n < 60; n++) {
        FillBitmapRect(d.target.bitmap, 0, 0, 60, 60, 0);
        FailAllocMemoryAfter(n);
        int rc = DrawPathById(nullptr, {1, nullptr}, 5, 5, 0xFF0000, nullptr, nullptr);
        FailAllocMemoryAfter(-1);
        if (rc == 0) break;
        failures++;
        EXPECT_TRUE(rc == ERR_MEM || rc == ERR_BITMAP || rc == ERR_ALLOCALPHA || rc == ERR_ALLOCMASK ||
                    rc == ERR_LOCKBMAP)
            << rc;
        int drawn = 0;
        for (int y = 0; y < 60; y++)
            for (int x = 0; x < 60; x++) drawn += (ReadBitmapPixel(d.target.bitmap, x, y, 0) & 0xFFFFFF) != 0;
        EXPECT_EQ(drawn, 0) << "failing after " << n;
    }
    EXPECT_GT(failures, 0);
    // Unhindered: the fill in the middle, the border on the circle's edge.
    EXPECT_EQ(ReadBitmapPixel(d.target.bitmap, 25, 25, 0) & 0xFFFFFF, 0xFF0000u);
    EXPECT_EQ(ReadBitmapPixel(d.target.bitmap, 25, 12, 0) & 0xFFFFFF, 0x00FF00u);
    *GetDrawStyle() = saveStyle;
    RasterState.currentDisplay = saved;
    FreeBitmapHandle(d.target.bitmap);
}

// A shape far larger than its output is rendered only where it shows: a circle of
// radius 16,000 on a 300 x 300 brush answers at once and takes no box-sized planes,
// and shapes cut to a small output (fill, border, shadow, outline; paths and the
// anti-aliased ellipse of the draw library) have the pixels they have on a large one.
TEST_F(Paths, ShapesLargerThanTheOutputAreRenderedOnlyWhereTheyShow)
{
    lvBlitDisplay *saved = RasterState.currentDisplay;
    lvDrawStyle saveStyle = *GetDrawStyle();
    lvDrawStyle &style = *GetDrawStyle();
    style.fillStyle = FILLCOLOR, style.lineWidth = 1, style.formStyle = FORM_ANTIALIAS;
    auto target = [](int size) {
        auto *d = new lvBlitDisplay{};
        d->target.kind = OUTPUT_IMAGE;
        d->target.bitmap = AllocRgbBitmap(size, size, 0, nullptr);
        FillBitmapRect(d->target.bitmap, 0, 0, size, size, 0);
        return d;
    };
    auto release = [](lvBlitDisplay *d) {
        FreeBitmapHandle(d->target.bitmap);
        delete d;
    };

    lvPath *big = New(1);
    Arc(big, 0, 0, 16000, 0, 360);
    lvBlitDisplay *brush = target(300);
    RasterState.currentDisplay = brush;
    struct rusage before, after;
    getrusage(RUSAGE_SELF, &before);
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(DrawPathById(nullptr, {1, nullptr}, 16100, 150, 0xFF0000, nullptr, nullptr), 0);
    const auto took = std::chrono::steady_clock::now() - t0;
    getrusage(RUSAGE_SELF, &after);
    EXPECT_LT(took, std::chrono::seconds(1));
    EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 50 * 1024);  // kilobytes
    EXPECT_EQ(ReadBitmapPixel(brush->target.bitmap, 99, 150, 0) & 0xFFFFFF, 0u);
    EXPECT_EQ(ReadBitmapPixel(brush->target.bitmap, 101, 150, 0) & 0xFFFFFF, 0xFF0000u);
    EXPECT_EQ(ReadBitmapPixel(brush->target.bitmap, 299, 0, 0) & 0xFFFFFF, 0xFF0000u);
    release(brush);

    // The same shapes drawn whole in the middle of a 400 x 400 output and cut to a 60 x 60
    // one that sees a piece of their edge 170 pixels in.
    lvPath *disc = New(2);
    Arc(disc, 0, 0, 120, 0, 360);
    struct Case {
        const char *name;
        int fill, form, type;  // type 0: the path, else the draw library's ellipse
    } cases[] = {
        {"path fill, border, shadow", FILLCOLOR, FORM_ANTIALIAS | FORM_BORDER | FORM_SHADOW, 0},
        {"path outline", FILLNONE, FORM_ANTIALIAS, 0},
        {"path hard-edged with shadow", FILLCOLOR, FORM_SHADOW, 0},
        {"ellipse fill, border, shadow", FILLCOLOR, FORM_ANTIALIAS | FORM_BORDER | FORM_SHADOW, 1},
        {"ellipse outline", FILLNONE, FORM_ANTIALIAS, 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        style.fillStyle = c.fill, style.formStyle = c.form, style.lineWidth = 3;
        style.borderSize = 4, style.borderColour = 0x00FF00, style.shadowSize = 6, style.shadowColour = 0x0000FF;
        style.shadowDirection = 3;
        auto draw = [&](int x, int y) {
            return c.type ? DrawEllipseShape(nullptr, &style, SHAPE_ELLIPSE, x, y, 120, 100, 0xFF0000,
                                             RasterState.paletteMode, nullptr, nullptr, 0)
                          : DrawPathById(nullptr, {2, nullptr}, x, y, 0xFF0000, nullptr, nullptr);
        };
        lvBlitDisplay *whole = target(400), *cut = target(60);
        RasterState.currentDisplay = whole;
        // The ellipse is placed by its top left corner, the path by its centre.
        const int wx = c.type ? 60 : 200, wy = c.type ? 100 : 200;
        ASSERT_EQ(draw(wx, wy), 0);
        RasterState.currentDisplay = cut;
        ASSERT_EQ(draw(wx - 280, wy - 230), 0);
        int differ = 0, painted = 0;
        for (int y = 0; y < 60; y++)
            for (int x = 0; x < 60; x++) {
                uint32_t a = ReadBitmapPixel(whole->target.bitmap, x + 280, y + 230, 0);
                uint32_t b = ReadBitmapPixel(cut->target.bitmap, x, y, 0);
                differ += a != b, painted += (b & 0xFFFFFF) != 0;
            }
        EXPECT_EQ(differ, 0);
        EXPECT_GT(painted, 100);
        release(whole);
        release(cut);
    }
    *GetDrawStyle() = saveStyle;
    RasterState.currentDisplay = saved;
}

TEST_F(Paths, TextAdvancesTheCurrentPointByItsGlyphs)
{
    FT_Face face;
    ASSERT_EQ(FT_New_Face(GetFreeTypeLibrary(), "/usr/share/fonts/truetype/ttf-bitstream-vera/Vera.ttf", 0, &face), 0);
    lvFont font{};
    font.type = LV_FONT_TRUETYPE;
    lvVectorFontTable &table = GetTextLibrary()->vectorFonts;
    table.nodes.push_back({&font, nullptr, face, nullptr, nullptr});
    uint32_t handle = (uint32_t)table.nodes.size();
    FT_Set_Char_Size(face, 0, 20 * 64, 72, 72);
    auto advance = [&](uint32_t c) {
        FT_Load_Char(face, c, FT_LOAD_NO_BITMAP);
        return face->glyph->advance.x / 64.0;
    };
    const double ab = advance('A') + advance('B');

    struct Case {
        std::string text;
        double advance;
        bool draws;
    } cases[] = {
        {"AB", ab, true},
        {"\xE2\x82\xAC", advance(0x20AC), true},
        {"A\xE2", advance('A'), true},  // a lone lead byte at the end ends the text
    };
    for (const Case &c : cases) {
        lvPath *p = New(1);
        Move(p, 5, 30);
        lvPathArg a[3] = {PathHandle(handle), PathInt(20), PathText(c.text.data(), c.text.size())};
        ASSERT_EQ(AppendPathCommandTo(p, PATHCMD_TEXT, 3, a), 0);
        // The text field is cut to the text: the engine reads no further.
        Outline o(p);
        ASSERT_EQ(o.rc, 0) << c.text;
        EXPECT_NEAR(o.cx, 5 + c.advance, 1e-9) << c.text;
        EXPECT_EQ(o.cy, 30);
        EXPECT_GT(o.o.n_contours, 0);
    }
    FreeAllPaths(nullptr);
    FT_Done_Face(face);
}

}  // namespace

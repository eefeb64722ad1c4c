// reveal.cpp - reveals (ids 30-33: a band sweeping from one edge to the other), lines
// (34-37: one or two pixel lines per frame) and rectangles (38-46 growing from an
// anchor, 88-96 a hole shrinking towards it). Their frames build on each other.
#include "base/lverrors.h"
#include "fx/effects_common.h"
#include "fx/fx_families.h"

namespace {

struct RevealState {
    int32_t position;
};

// Columns (L = W) or rows (L = H); forward from the left or top edge, else back from
// the right or bottom edge.
int Reveal(lvTransition *t, int32_t *done, bool rows, bool forward)
{
    int32_t L = rows ? t->height : t->width, across = rows ? t->width : t->height;
    if (t->runState == 0) {
        if (AllocEffectState(t, sizeof(RevealState))) return ERR_MEM;
        int32_t step = EffectSpeedStep(t->speed, L, 70, 30, 200);
        if (step < 1 || step > L / 2) step = 1;  // too large a step is 1, not L/2
        t->step = step;
        t->frameCount = EffectFrameCount((int64_t)L - step - 1, (int64_t)step + 1);
        return 0;
    }
    RevealState *s = EffectStateOf<RevealState>(t);
    int32_t step = t->step;
    if (forward) {
        if (t->frameIndex == 0) s->position = 0;
        if (s->position >= L - step - 1) {
            s->position = L - step - 1;
            *done = 1;
        }
        AxisRect(t, rows, s->position, 0, step + 1, across);
        s->position += step + 1;
    } else {
        if (t->frameIndex == 0) s->position = L - 1;
        if (step >= s->position) {
            s->position = step;
            *done = 1;
        }
        AxisRect(t, rows, s->position - step, 0, step + 1, across);
        s->position -= step + 1;
    }
    return FinishEffectFrame(t);
}

struct LinesState {
    int32_t counter;
};

int Lines(lvTransition *t, int32_t *done, bool rows)
{
    int32_t L = rows ? t->height : t->width, across = rows ? t->width : t->height;
    if (t->runState == 0) {
        if (AllocEffectState(t, sizeof(LinesState))) return ERR_MEM;
        t->step = 1;
        t->frameCount = L <= 0 ? 1 : L + 1;
        return 0;
    }
    LinesState *s = EffectStateOf<LinesState>(t);
    if (t->frameIndex == 0) s->counter = 0;
    int32_t q = s->counter;
    if (q >= 2 * L) *done = 1;
    int32_t line = q;
    if (q >= L) {
        line = 2 * L - q;
        if (line % 2 == 0) line++;
    }
    if (line > L - 1) line = L - 1;
    if (line < 0) line = 0;
    AxisRect(t, rows, line, 0, 1, across);
    s->counter += 2;
    return FinishEffectFrame(t);
}

struct Lines2State {
    int32_t first, second;
};

int Lines2(lvTransition *t, int32_t *done, bool rows)
{
    int32_t L = rows ? t->height : t->width, across = rows ? t->width : t->height;
    if (t->runState == 0) {
        if (AllocEffectState(t, sizeof(Lines2State))) return ERR_MEM;
        t->step = 1;
        t->frameCount = L <= 0 ? 1 : L / 2 + L % 2 + 1;
        return 0;
    }
    Lines2State *s = EffectStateOf<Lines2State>(t);
    if (t->frameIndex == 0) {
        s->first = L % 2 == 0 ? L - 1 : L - 2;  // the last odd line
        s->second = 0;
    }
    if (s->second >= L) *done = 1;
    if (s->first < 0) s->first = 0;
    if (s->second > L - 1) s->second = L - 1;
    AxisRect(t, rows, s->second, 0, 1, across);
    AxisRect(t, rows, s->first, 0, 1, across);
    s->second += 2;
    s->first -= 2;
    return FinishEffectFrame(t);
}

// A rectangle in picture coordinates; empty when w or h is 0.
struct Box {
    int32_t x, y, w, h;
};

// Anchor of ids 38-46 (and 88-96): horizontal -1 left, 0 centred, 1 right; vertical
// -1 top, 0 centred, 1 bottom. Order CENTER, NORTH, NORTHEAST, EAST, SOUTHEAST, SOUTH,
// SOUTHWEST, WEST, NORTHWEST.
const int8_t AnchorX[9] = {0, 0, 1, 1, 1, 0, -1, -1, -1};
const int8_t AnchorY[9] = {0, -1, -1, 0, 1, 1, 1, 0, -1};

struct RectGeometry {
    int32_t longSide;
    double ratio;
    bool wide;  // the long side is the width
};

RectGeometry GeometryOf(const lvTransition *t)
{
    RectGeometry g;
    g.wide = t->height < t->width;
    g.longSide = g.wide ? t->width : t->height;
    int32_t shortSide = g.wide ? t->height : t->width;
    g.ratio = g.longSide > 0 ? (double)shortSide / g.longSide : 1.0;
    return g;
}

// Width and height of a rectangle of extent e in the picture's proportions.
void ExtentSize(const RectGeometry &g, int32_t e, int32_t *w, int32_t *h)
{
    int32_t shortSide = (int32_t)(g.ratio * e + 1);
    if (shortSide < 1) shortSide = 1;
    *w = g.wide ? e : shortSide;
    *h = g.wide ? shortSide : e;
}

// Places a size on one axis by the anchor; a centred rectangle grows by the odd pixel
// of its slack when asked.
void PlaceAxis(int anchor, int32_t size, int32_t *pos, int32_t *len, bool growOdd)
{
    if (*len > size) *len = size;
    if (anchor < 0) *pos = 0;
    else if (anchor > 0) *pos = size - *len;
    else {
        if (growOdd && (size - *len) % 2) (*len)++;
        *pos = (size - *len) / 2;
    }
}

Box Intersect(Box a, Box b)
{
    int32_t x1 = a.x > b.x ? a.x : b.x, y1 = a.y > b.y ? a.y : b.y;
    int32_t x2 = a.x + a.w < b.x + b.w ? a.x + a.w : b.x + b.w;
    int32_t y2 = a.y + a.h < b.y + b.h ? a.y + a.h : b.y + b.h;
    if (x2 <= x1 || y2 <= y1) return {0, 0, 0, 0};
    return {x1, y1, x2 - x1, y2 - y1};
}

// Draws outer minus inner as up to four strips: left, right, then top and bottom
// between them.
void DrawRing(lvTransition *t, Box outer, Box inner)
{
    inner = Intersect(outer, inner);
    if (inner.w <= 0 || inner.h <= 0) {
        EffectRect(t, outer.x, outer.y, outer.w, outer.h, 0);
        return;
    }
    EffectRect(t, outer.x, outer.y, inner.x - outer.x, outer.h, 0);
    EffectRect(t, inner.x + inner.w, outer.y, outer.x + outer.w - inner.x - inner.w, outer.h, 0);
    EffectRect(t, inner.x, outer.y, inner.w, inner.y - outer.y, 0);
    EffectRect(t, inner.x, inner.y + inner.h, inner.w, outer.y + outer.h - inner.y - inner.h, 0);
}

int32_t RectSpeedStep(const lvTransition *t, int32_t L)
{
    int32_t step = EffectSpeedStep(t->speed, L, 70, 30, 200);
    if (step < 1 || step > L / 4) step = 1;  // too large a step is 1
    return step;
}

struct RectState {
    int32_t extent;
};

Box GrowingRect(const lvTransition *t, const RectGeometry &g, int anchor, int32_t e)
{
    if (e <= 0) return {0, 0, 0, 0};
    Box b;
    ExtentSize(g, e, &b.w, &b.h);
    PlaceAxis(AnchorX[anchor], t->width, &b.x, &b.w, true);
    PlaceAxis(AnchorY[anchor], t->height, &b.y, &b.h, true);
    return b;
}

struct RectBackState {
    int32_t extent;
    Box hole;
};

// The hole lies opposite the direction the new picture comes from; centred without
// the odd pixel.
Box ShrinkingHole(const lvTransition *t, const RectGeometry &g, int anchor, int32_t e)
{
    if (e <= 0) return {0, 0, 0, 0};
    Box b;
    ExtentSize(g, e, &b.w, &b.h);
    PlaceAxis(-AnchorX[anchor], t->width, &b.x, &b.w, false);
    PlaceAxis(-AnchorY[anchor], t->height, &b.y, &b.h, false);
    return b;
}

}  // namespace

int RevealLeftStep(lvTransition *t, int32_t *done) { return Reveal(t, done, false, true); }
int RevealRightStep(lvTransition *t, int32_t *done) { return Reveal(t, done, false, false); }
int RevealTopStep(lvTransition *t, int32_t *done) { return Reveal(t, done, true, true); }
int RevealBottomStep(lvTransition *t, int32_t *done) { return Reveal(t, done, true, false); }
int VLines2Step(lvTransition *t, int32_t *done) { return Lines2(t, done, false); }
int HLines2Step(lvTransition *t, int32_t *done) { return Lines2(t, done, true); }
int HLinesStep(lvTransition *t, int32_t *done) { return Lines(t, done, true); }
int VLinesStep(lvTransition *t, int32_t *done) { return Lines(t, done, false); }

int RectStep(lvTransition *t, int32_t *done)
{
    RectGeometry g = GeometryOf(t);
    int32_t L = g.longSide;
    if (t->runState == 0) {
        if (AllocEffectState(t, sizeof(RectState))) return ERR_MEM;
        t->step = RectSpeedStep(t, L);
        t->frameCount = EffectFrameCount((int64_t)L - t->step, t->step);
        return 0;
    }
    RectState *s = EffectStateOf<RectState>(t);
    int anchor = t->effect - 38;
    if (t->frameIndex == 0) s->extent = t->step;
    Box current, previous;
    if (s->extent >= L) {
        *done = 1;
        s->extent -= t->step;
        current = {0, 0, t->width, t->height};
    } else {
        current = GrowingRect(t, g, anchor, s->extent);
    }
    previous = GrowingRect(t, g, anchor, s->extent - t->step);
    DrawRing(t, current, previous);
    s->extent += t->step;
    return FinishEffectFrame(t);
}

int RectBackStep(lvTransition *t, int32_t *done)
{
    RectGeometry g = GeometryOf(t);
    int32_t L = g.longSide;
    int anchor = t->effect - 88;
    if (t->runState == 0) {
        if (AllocEffectState(t, sizeof(RectBackState))) return ERR_MEM;
        t->step = RectSpeedStep(t, L);
        t->frameCount = EffectFrameCount((int64_t)L - t->step, t->step);
        return 0;
    }
    RectBackState *s = EffectStateOf<RectBackState>(t);
    if (t->frameIndex == 0) {
        s->extent = L - t->step;
        s->hole = {0, 0, t->width, t->height};
    }
    Box hole = ShrinkingHole(t, g, anchor, s->extent);
    if (s->extent <= 0) *done = 1;
    DrawRing(t, s->hole, hole);
    s->hole = hole;
    s->extent -= t->step;
    return FinishEffectFrame(t);
}

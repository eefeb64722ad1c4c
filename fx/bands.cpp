// bands.cpp - effects that uncover the new picture in straight bands: stripes (ids
// 0-13), blinds (14-23), curtains (24-27), bars (28) and quarters (29). Their frames
// build on each other; a seek replays them.
#include "base/lverrors.h"
#include "fx/effects_common.h"
#include "fx/fx_families.h"

namespace {

struct StripesState {
    int32_t thickness, travelled;
};

int Stripes(lvTransition *t, int32_t *done, bool vertical)
{
    int32_t W = vertical ? t->height : t->width, H = vertical ? t->width : t->height;
    if (t->runState == 0) {
        if (AllocEffectState(t, sizeof(StripesState))) return ERR_MEM;
        StripesState *s = EffectStateOf<StripesState>(t);
        int32_t variant = t->effect - (vertical ? 7 : 0);
        int32_t thickness = 1 << variant;
        if (variant == 0) {
            thickness = t->parameter;
            if (thickness == FX_RANDOMPARAMETER) {
                int32_t r1 = NextEffectRandom15(), r2 = NextEffectRandom15();
                int32_t span = W / (r1 % 8 + 2);
                thickness = span > 0 ? r2 % span : 1;
            }
        }
        s->thickness = thickness < 1 ? 1 : thickness;
        t->step = ClampStep(EffectSpeedStep(t->speed, W, 70, 30, 200), W - 1);
        t->frameCount = EffectFrameCount(W - t->step, t->step);
        return 0;
    }
    StripesState *s = EffectStateOf<StripesState>(t);
    if (t->frameIndex == 0) s->travelled = 0;
    int32_t step = t->step, th = s->thickness;
    if (s->travelled >= W - step) {
        s->travelled = W - step;
        *done = 1;
    }
    for (int64_t top = 0; top < H; top += 2 * (int64_t)th) {
        AxisRect(t, vertical, s->travelled, (int32_t)top, step, th);
        AxisRect(t, vertical, W - step - s->travelled, (int32_t)(top + th), step, th);
    }
    s->travelled += step;
    return FinishEffectFrame(t);
}

struct BlindsState {
    int32_t size, count, extent;
};

int Blinds(lvTransition *t, int32_t *done, bool vertical)
{
    int32_t W = vertical ? t->height : t->width, H = vertical ? t->width : t->height;
    if (t->runState == 0) {
        if (AllocEffectState(t, sizeof(BlindsState))) return ERR_MEM;
        BlindsState *s = EffectStateOf<BlindsState>(t);
        s->size = 8 << (t->effect - (vertical ? 19 : 14));
        s->count = H / s->size;
        t->step = ClampStep(EffectSpeedStep(t->speed, s->size, 8, 3, 20), s->size / 2);
        t->frameCount = EffectFrameCount(s->size - t->step, t->step);
        return 0;
    }
    BlindsState *s = EffectStateOf<BlindsState>(t);
    if (t->frameIndex == 0) s->extent = t->step;
    if (s->extent >= s->size) {
        s->extent = s->size;
        *done = 1;
    }
    for (int32_t i = 0; i <= s->count; i++)
        AxisRect(t, !vertical, i * s->size + s->extent - t->step, 0, t->step, W);
    s->extent += t->step;
    return FinishEffectFrame(t);
}

struct CurtainState {
    int32_t first, second;
};

// Curtains on rows (horizontal, L = H) or on columns (vertical, L = W).
int Curtain(lvTransition *t, int32_t *done, bool columns, bool opening)
{
    int32_t L = columns ? t->width : t->height, across = columns ? t->height : t->width;
    if (t->runState == 0) {
        if (AllocEffectState(t, sizeof(CurtainState))) return ERR_MEM;
        int32_t step = EffectSpeedStep(t->speed, L, 140, 60, 320);
        if (opening) {
            t->step = ClampStep(step, L / 4);
            t->frameCount = EffectFrameCount((int64_t)L - t->step - (L / 2 - 1) - 1, (int64_t)t->step + 1);
        } else {
            if (step < 1 || step > L / 2) step = 1;  // too large a step is 1, not L/2
            t->step = step;
            t->frameCount = EffectFrameCount(L / 2, (int64_t)t->step + 1);
        }
        return 0;
    }
    CurtainState *s = EffectStateOf<CurtainState>(t);
    int32_t step = t->step;
    if (opening) {
        if (t->frameIndex == 0) s->first = L / 2, s->second = L / 2 - 1;
        if (s->second >= L - step - 1) {
            s->second = L - step - 1;
            *done = 1;
        }
        if (s->first - step < 0) s->first = step;
        AxisRect(t, !columns, s->second, 0, step + 1, across);
        AxisRect(t, !columns, s->first - step, 0, step + 1, across);
        s->first -= step + 1;
        s->second += step + 1;
    } else {
        if (t->frameIndex == 0) s->first = 0, s->second = L - 1;
        if (s->first >= L / 2) {
            s->first = L / 2;
            *done = 1;
        }
        AxisRect(t, !columns, s->first, 0, step + 1, across);
        AxisRect(t, !columns, s->second - step, 0, step + 1, across);
        s->first += step + 1;
        s->second -= step + 1;
    }
    return FinishEffectFrame(t);
}

struct BarsState {
    int32_t phase;
};

}  // namespace

int HStripesStep(lvTransition *t, int32_t *done) { return Stripes(t, done, false); }
int VStripesStep(lvTransition *t, int32_t *done) { return Stripes(t, done, true); }
int HBlindsStep(lvTransition *t, int32_t *done) { return Blinds(t, done, false); }
int VBlindsStep(lvTransition *t, int32_t *done) { return Blinds(t, done, true); }
int VOpenCurtainStep(lvTransition *t, int32_t *done) { return Curtain(t, done, true, true); }
int VCloseCurtainStep(lvTransition *t, int32_t *done) { return Curtain(t, done, true, false); }
int HOpenCurtainStep(lvTransition *t, int32_t *done) { return Curtain(t, done, false, true); }
int HCloseCurtainStep(lvTransition *t, int32_t *done) { return Curtain(t, done, false, false); }

int BarsStep(lvTransition *t, int32_t *done)
{
    int32_t W = t->width, H = t->height;
    if (t->runState == 0) {
        if (AllocEffectState(t, sizeof(BarsState))) return ERR_MEM;
        int32_t step = t->speed == FX_NORMALSPEED || t->speed == FX_SLOWSPEED ? 1
                       : t->speed == FX_FASTSPEED                            ? 2
                                                                             : t->speed;
        if (step > 8) step = 8;
        t->step = step < 1 ? 1 : step;
        t->frameCount = EffectFrameCount(23, (int64_t)t->step + 1);
        return 0;
    }
    BarsState *s = EffectStateOf<BarsState>(t);
    if (t->frameIndex == 0) s->phase = 0;
    if (s->phase > 22) {
        s->phase = 23;
        *done = 1;
    }
    int32_t p = s->phase;
    if (p <= 8) {
        for (int32_t i = 0; i < W / 16; i++) EffectRect(t, 16 * i, 0, p + 1, H, 0);
        EffectRect(t, 16 * (W / 16), 0, W % 16, H, 0);
    } else {
        for (int32_t i = 0; i < H / 16; i++) EffectRect(t, 0, 16 * i, W, p - 7, 0);
        EffectRect(t, 0, 16 * (H / 16), W, H % 16, 0);
    }
    s->phase += t->step + 1;
    return FinishEffectFrame(t);
}

namespace {
struct QuartersState {
    int32_t halfWidth, halfHeight, distance, odd;
};
}  // namespace

int QuartersStep(lvTransition *t, int32_t *done)
{
    int32_t W = t->width, H = t->height;
    if (t->runState == 0) {
        if (AllocEffectState(t, sizeof(QuartersState))) return ERR_MEM;
        QuartersState *s = EffectStateOf<QuartersState>(t);
        s->halfWidth = W / 2, s->halfHeight = H / 2, s->odd = W % 2;
        t->step = ClampStep(EffectSpeedStep(t->speed, W, 70, 30, 200), H / 4);
        t->frameCount = EffectFrameCount((int64_t)H - s->halfHeight - t->step - 1, (int64_t)t->step + 1);
        return 0;
    }
    QuartersState *s = EffectStateOf<QuartersState>(t);
    int32_t step = t->step, hw = s->halfWidth, hh = s->halfHeight;
    if (t->frameIndex == 0) s->distance = 0;
    int32_t last = H - hh - step - 1;
    if (s->distance >= last) {
        s->distance = last;
        *done = 1;
    }
    int32_t d = s->distance, band = step + 1;
    EffectRect(t, 0, d, hw, band, 0);
    EffectRect(t, 0, hh + d, hw, band, 0);
    EffectRect(t, hw, H - hh - step - d - 1, hw, band, 0);
    EffectRect(t, hw, H - step - d - 1, hw, band, 0);
    if (s->odd) {
        EffectRect(t, 2 * hw, H - hh - step - d - 1, 1, band, 0);
        EffectRect(t, 2 * hw, H - step - d - 1, 1, band, 0);
    }
    s->distance += band;
    return FinishEffectFrame(t);
}

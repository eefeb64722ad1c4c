// effects_common.h - small helpers the effect families of this folder share.
#pragma once
#include "fx/lvtransition.h"

// A rectangle in axis terms: a along the travel, b across it; swapped exchanges x and y.
inline void AxisRect(lvTransition *t, bool swapped, int32_t a, int32_t b, int32_t la, int32_t lb)
{
    if (swapped) EffectRect(t, b, a, lb, la, 0);
    else EffectRect(t, a, b, la, lb, 0);
}

// Clamps a converted step: the upper bound first, so a picture one pixel long still
// takes a step of 1 (never 0, which the frame count divides by).
inline int32_t ClampStep(int32_t step, int32_t upper)
{
    if (step > upper) step = upper;
    return step < 1 ? 1 : step;
}

// The effect state of the family, allocated at the first call (its size fixed per family).
template <class T> T *EffectStateOf(lvTransition *t) { return static_cast<T *>(t->effectState); }

// The frame is drawn: present it and count it.
inline int FinishEffectFrame(lvTransition *t)
{
    EndEffectFrame(t);
    t->frameIndex++;
    return 0;
}

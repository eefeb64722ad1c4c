// fx_families.h - the step routines of the effect families built in this folder, for
// the driver's effect table.
#pragma once
#include "fx/lvtransition.h"

int HStripesStep(lvTransition *t, int32_t *done);
int VStripesStep(lvTransition *t, int32_t *done);
int HBlindsStep(lvTransition *t, int32_t *done);
int VBlindsStep(lvTransition *t, int32_t *done);
int VOpenCurtainStep(lvTransition *t, int32_t *done);
int VCloseCurtainStep(lvTransition *t, int32_t *done);
int HOpenCurtainStep(lvTransition *t, int32_t *done);
int HCloseCurtainStep(lvTransition *t, int32_t *done);
int BarsStep(lvTransition *t, int32_t *done);
int QuartersStep(lvTransition *t, int32_t *done);
int RevealLeftStep(lvTransition *t, int32_t *done);
int RevealRightStep(lvTransition *t, int32_t *done);
int RevealTopStep(lvTransition *t, int32_t *done);
int RevealBottomStep(lvTransition *t, int32_t *done);
int VLines2Step(lvTransition *t, int32_t *done);
int HLines2Step(lvTransition *t, int32_t *done);
int HLinesStep(lvTransition *t, int32_t *done);
int VLinesStep(lvTransition *t, int32_t *done);
int RectStep(lvTransition *t, int32_t *done);
int RectBackStep(lvTransition *t, int32_t *done);

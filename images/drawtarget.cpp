// drawtarget.cpp - draw targets and the current output record.
//
// Depends on: images/lvbgpic.h.
#include "images/lvbgpic.h"
#include <cstring>

static lvBGPic *currentOutput;  // the current display's BGPic or selection record

lvBGPic *GetCurrentOutput(void) { return currentOutput; }
void SetCurrentOutput(lvBGPic *record) { currentOutput = record; }

void InitBGPicRecord(lvBGPic *r, lvObjectId id, int selectedType, int index, void *object, int width, int height,
                     int depth)
{
    std::memset(r, 0, sizeof *r);
    r->header.type = LV_TYPE_BGPIC;
    r->header.identifier = id.number;
    r->header.handle = id.handle;
    r->selectedType = selectedType;
    r->selectedIndex = index;
    r->selectedRecord = object;
    r->shownWidth = r->scaledWidth = r->baseWidth = width;
    r->shownHeight = r->scaledHeight = r->baseHeight = height;
    r->depth = depth;
    r->transparentColour = -1;
    r->layerHead = &r->layerNull;
    r->layerTailPred = &r->layerHead;
}

void ResetDrawTarget(lvDrawTarget *target)
{
    std::memset(target, 0, sizeof *target);
    target->kind = OUTPUT_DISPLAY;
}

void SaveDrawTarget(lvDrawTarget *target, lvDrawTarget *save)
{
    if (save) *save = *target;
    ResetDrawTarget(target);
}

void RestoreDrawTarget(lvDrawTarget *target, const lvDrawTarget *save)
{
    *target = *save;
}

static lvGradientFill gradientFill;
void SetGradientFill(lvGradientFill fill) { gradientFill = fill; }
lvGradientFill GetGradientFill(void) { return gradientFill; }

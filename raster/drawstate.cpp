// drawstate.cpp - the run-wide drawing state and its reset.
//
// Depends on: raster/lvdrawstate.h, raster/lvscale.h, raster/lvimage.h.
#include "raster/lvdrawstate.h"

#include "raster/lvimage.h"
#include "raster/lvscale.h"

lvDrawingState DrawingState = {};

void ResetDrawingState() {
    ReleaseScaleBuffers();
    FreeImageCache();
    DrawingState = lvDrawingState{};
}

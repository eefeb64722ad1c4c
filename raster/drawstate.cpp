// drawstate.cpp - the run-wide drawing state: its defaults, its degree
// tables and its reset.
//
// Depends on: raster/lvdrawstate.h, raster/lvscale.h, raster/lvimage.h.
#include "raster/lvdrawstate.h"

#include <cmath>

#include "platform/lvplatform.h"
#include "raster/lvimage.h"
#include "raster/lvscale.h"
#include "base/lverrors.h"

lvDrawingState DrawingState = {};

namespace {

void FillDegreeTables() {
    // Entry i holds (360 - i) degrees; three more entries for 450, 540 and 630.
    for (int i = 0; i <= 360; i++) {
        double r = (360 - i) * (M_PI / 180.0);
        DrawingState.sinByDegree[i] = std::sin(r);
        DrawingState.cosByDegree[i] = std::cos(r);
    }
    const double extra[3] = {450, 540, 630};
    for (int k = 0; k < 3; k++) {
        double r = extra[k] * (M_PI / 180.0);
        DrawingState.sinByDegree[361 + k] = std::sin(r);
        DrawingState.cosByDegree[361 + k] = std::cos(r);
    }
}

}  // namespace

void ResetDrawingState() {
    ReleaseScaleBuffers();
    FreeImageCache();
    FreeMemory(DrawingState.dirtyRects.rects);
    DrawingState = lvDrawingState{};
    FillDegreeTables();
    SetDrawingDefaults();
}

int InitDrawingState() {
    ResetDrawingState();
    DrawingState.dirtyRects.rects = static_cast<lvDirtyRect *>(AllocMemory(1024 * sizeof(lvDirtyRect), 0));
    if (!DrawingState.dirtyRects.rects) return ERR_MEM;
    DrawingState.dirtyRects.capacity = 1024;
    return 0;
}

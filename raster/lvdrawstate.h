// lvdrawstate.h - the run-wide drawing state of the raster engine beside
// RasterState: scratch tables of the scaler, the right-angle references, the
// draw style, templates, degree tables, dirty-rectangle list and image cache.
// ResetDrawingState frees and restarts all of it (shut-down and tests).
//
// Depends on: raster/lvbitmap.h.
// Limits: script thread only; nothing here is locked.
#pragma once
#include <cstdint>

#include "raster/lvbitmap.h"

// Scratch position tables of ScaleImage: they only grow.
struct lvScaleScratch {
    int64_t *xTable;  // xCapacity entries
    int64_t *yTable;  // yCapacity entries
    int xCapacity, yCapacity;
};

struct lvImageCacheNode;

struct lvDrawingState {
    lvScaleScratch scale;             // ScaleImage's position tables
    int rightAnglesReady;             // 1: the references below are built
    double rightAngles[7][4];         // 90, 180, 270, 360, -90, -180, -270 degrees
    lvImageCacheNode *imageCache;     // the image cache, in load order
};
extern lvDrawingState DrawingState;

// Frees what the drawing state holds and puts it back to its start values.
void ResetDrawingState();

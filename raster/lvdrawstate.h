// lvdrawstate.h - the run-wide drawing state of the raster engine beside
// RasterState: scratch tables of the scaler, the right-angle references, the
// draw style, font-style defaults, templates, degree tables, dirty-rectangle
// list and image cache. ResetDrawingState frees and restarts all of it
// (shut-down and tests).
//
// Depends on: raster/lvbitmap.h, raster/lvdrawtags.h.
// Limits: script thread only; nothing here is locked.
#pragma once
#include <cstdint>

#include "raster/lvbitmap.h"
#include "raster/lvdrawtags.h"

// Scratch position tables of ScaleImage: they only grow.
struct lvScaleScratch {
    int64_t *xTable;  // xCapacity entries
    int64_t *yTable;  // yCapacity entries
    int xCapacity, yCapacity;
};

// One dirty rectangle (16 bytes).
struct lvDirtyRect {
    int32_t x, y, width, height;
};
struct lvDirtyRectList {
    lvDirtyRect *rects;  // capacity entries
    int count, capacity;
};

struct lvImageCacheNode;

struct lvDrawingState {
    lvScaleScratch scale;             // ScaleImage's position tables
    int rightAnglesReady;             // 1: the references below are built
    double rightAngles[7][4];         // 90, 180, 270, 360, -90, -180, -270 degrees
    lvImageCacheNode *imageCache;     // the image cache, in load order
    lvDrawStyle drawStyle;            // the global draw style
    lvFontStyle fontStyle;            // defaults of the text style
    lvDrawTags drawTagsTemplate;      // copied into every draw-tags record
    lvStyleTags styleTagsTemplate;    // copied into every style-tags record
    double sinByDegree[364];          // entry i: sin(360 - i degrees); 361..363: 450, 540, 630
    double cosByDegree[364];
    lvDirtyRectList dirtyRects;       // collected by layers and asynchronous draws
};
extern lvDrawingState DrawingState;

// Frees what the drawing state holds and puts it back to its start values
// (the degree tables and defaults are filled again).
void ResetDrawingState();
// Fills the degree tables and the drawing defaults; 0 or ERR_MEM when the
// dirty-rectangle list cannot be had.
int InitDrawingState();

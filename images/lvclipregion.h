// lvclipregion.h - clip regions (object type 35): a rectangle, optionally narrowed to the
// visible pixels of a mask copied from a brush, that limits drawing into an output; the
// "clipregion" command library.
//
// Depends on: raster/lvraster.h (lvClipRegion, which the blit reads), runtime/objects.h.
// Limits: script thread only.
#pragma once
#include "raster/lvraster.h"
#include "runtime/objects.h"
#include "vm/lvvm.h"

#define LV_TYPE_CLIPREGION 35

struct lvClipRegionObject {
    lvObjectHeader header;  // type 35
    lvClipRegion region;    // what output records point at
    int detached;           // freed by the script while a layer still uses it
    int lock;
    int transformed;        // a layer's transformed copy
};

// Makes a region: type 14 BOX (x, y, width, height) or 28 SHAPE (the mask, copied).
// Special coordinates resolve against the current output. *id {0, null} gets a handle.
int NewClipRegion(lvObjectId *id, int x, int y, int width, int height, lvBitMapHandle *mask,
                  lvClipRegionObject **out);
int FindClipRegionById(lvObjectId id, lvClipRegionObject **out, int flags);
int ReleaseClipRegion(lvState *L, lvObjectId id, int report);
int FreeDetachedClipRegions(lvState *L);
void FreeAllClipRegions(lvState *L);
// Activates a region for the current output (null removes it).
int SetOutputClipRegion(lvClipRegionObject *region);

int OpenClipRegionLibrary(lvState *L);
const lvConstantEntry *GetClipRegionConstants(void);
void CloseClipRegionLibrary(lvState *L, int full);

// lvpreload.h - the preload of linked pictures (background pictures, brushes,
// anims, sprites): the record their tail readers fill and the call of their
// load command with the whole option table built from it.
//
// Depends on: raster/lvinit.h (lvGradient), runtime/container.h, vm/lvvm.h.
// Limits: script thread (start-up's preload).
#pragma once
#include <cstdint>

#include "raster/lvinit.h"
#include "runtime/container.h"

struct lvState;

// Flags of a preload record's load flags.
enum : uint32_t {
    PRELOAD_LOADALPHA = 1,         // "loadalpha"
    PRELOAD_LOADTRANSPARENCY = 2,  // "loadtransparency" (without loadalpha)
    PRELOAD_LOADPALETTE = 4,       // "loadpalette"
    PRELOAD_TRANSPARENTPEN = 8,    // "transparentpen": the pen in bits 24..31
};

// The payload of a linked picture; unused fields stay 0 (-1 where noted).
struct lvPreloadRecord {
    int64_t transparentColour;  // -1 none
    uint32_t loadFlags;         // PRELOAD_...
    int width, height, x, y;    // pictures other than background pictures
    int globalAlpha;            // brushes; -1 none
    int hardware;               // brushes
    int scaleWidth, scaleHeight, smoothScale;
    int display;                // brushes; 0 none
    int frames, fpr;            // anims and sprites
    int fromDisk, skipLoopFrames, deinterlace;  // anims
    int cached;                 // 1: stored in the image cache under cacheName
    int cacheAlpha;             // with its alpha
    int cachedLoad;             // 1: loaded from the cache entry cacheName
    char cacheName[257];
    int fillStyle;              // background pictures: FILL...
    uint32_t fillColour;
    int fillPen;
    lvGradient gradient;
    int64_t textureBrush;
    int textureX, textureY;
};

// Calls the global function named by the lower-cased command with the
// identifier, the file name and the option table; *keepsContainer is set when
// an anim streams from the applet's own data. 0 or the call's error.
int CallPreloadCommand(lvState *L, const char *commandName, const lvLinkedObject *object, const char *fileName,
                       const lvPreloadRecord *record, int *keepsContainer);
// The preload handler of linked object types 0, 1, 2 and 7 (user: an lvPreloadRun).
int PreloadLinkedPicture(void *user, lvLinkedObject *object, const char *fileName, int *keepsContainer);

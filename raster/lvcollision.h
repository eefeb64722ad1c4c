// lvcollision.h - collision tests between brushes, boxes, layers and sprites:
// rectangles first, then pixel by pixel through masks, alpha planes, pen
// planes with a transparent pen and clip-region masks.
//
// Brushes come from the imaging services (FindBrushById), layers and sprites
// from the layer services (GetLayerCollisionSide, GetSpriteCollisionSide);
// their owners fill the sides.
//
// Depends on: raster/lvbitmap.h, raster/lvraster.h (lvClipRegion), raster/lvneighbours.h.
// Limits: script thread only.
#pragma once
#include <cstdint>

#include "raster/lvbitmap.h"
#include "raster/lvraster.h"

// Type constants of Collision (the object type numbers and the pairings).
enum : int {
    COLLIDE_BRUSH = 3,
    COLLIDE_BOX = 14,
    COLLIDE_LAYER = 22,
    COLLIDE_SPRITE = 32,
    COLLIDE_BRUSH_VS_BOX = 46,
    COLLIDE_LAYER_VS_BOX = 47,
    COLLIDE_SPRITE_VS_BOX = 48,
    COLLIDE_SPRITE_VS_BRUSH = 58,
};

struct lvCollisionSide {
    int x, y, width, height;  // in the pixel space of the other side
    int imageX, imageY;       // where (x, y) lies inside the images
    lvBitMapHandle *mask;     // 1-bit, or null
    lvBitMapHandle *alpha;    // 8-bit, or null
    lvBitMapHandle *pens;     // 8-bit pen plane, or null
    int transparentPen;       // -1 none
    lvClipRegion *clip;       // its mask takes part, or null
};

// 1 when the sides touch in a pixel where both show something (and every clip
// mask is set); 0 otherwise, also when a plane cannot be had.
int TestPixelCollision(const lvCollisionSide *side1, const lvCollisionSide *side2);

// A box side (only a rectangle).
lvCollisionSide BoxSide(int x, int y, int width, int height);
// A brush placed at (x, y). 0 or the lookup's error.
int BrushSide(void *state, int64_t id, int x, int y, lvCollisionSide *side);
// The same for a Nil-made brush, by its handle.
int BrushSideByHandle(void *state, void *handle, int x, int y, lvCollisionSide *side);
// A box in script pixels against layers: scaled by the display's factors
// (layer rectangles are in display pixels).
lvCollisionSide ScaledBoxSide(void *display, int x, int y, int width, int height);
// A layer at a 1-based position, cut to its clip region. 0 or an error.
int LayerSide(void *state, int position, lvCollisionSide *side);

// lvgraphics.h - the "graphics" library: its open and shut-down steps, its
// command and constant tables, and the colour and box helpers behind its
// commands that other libraries share (MixColors for Plot, ...).
//
// Depends on: raster/lvrect.h, vm/lvvm.h.
// Limits: script thread only.
#pragma once
#include <cstdint>

#include "raster/lvimgfmt.h"
#include "raster/lvrect.h"
#include "vm/lvvm.h"


int OpenGraphicsLibrary(lvState *L);
const lvConstantEntry *GetGraphicsConstants();
const lvCommandEntry *GetGraphicsCommands();
// The graphics shut-down step: the drawing resources and the image cache.
void CloseGraphicsLibrary(lvState *L, int full);

// c1 + (((c2 - c1) * ratio) >> 8) on red, green and blue; high byte 0.
uint32_t MixColors(int ratio, uint32_t c2, uint32_t c1);
uint32_t LerpRgbChannels(uint32_t c1, uint32_t c2, int ratio);
// The colour as a 15- or 16-bit display shows it; unchanged at other depths.
uint32_t GetRealColor(uint32_t colour);
// The random colour table's entry at r in [0, 1), nibbles widened to bytes.
uint32_t RandomColorAt(double r);
// Boxes that share a pixel: 1 and their intersection; else 0 and zeros.
int IntersectBoxes(int x1, int y1, int w1, int h1, int x2, int y2, int w2, int h2, int out[4]);
// Bounding box {left, top, width, height} of a box's corners mapped about its anchor.
void TransformBoxCorners(double x, double y, double w, double h, const lvMatrix2D *m, int anchored, double ax,
                         double ay, double out[4]);
// Turns decoded brushes, background pictures, anims and sprites into display
// bitmaps when the first display opens; the first error.
// Nothing calls RealizePreloadedImages yet: kept for the display opening, which realises the preloaded images.
int RealizePreloadedImages(lvState *L);

// init.cpp - initialisers of the gradient and display option records, and
// the bit count of a colour count.
//
// Depends on: raster/lvinit.h.
#include "raster/lvinit.h"

#include <cstring>

void InitGradient(lvGradient *g, int keep) {
    g->style = GRADIENT_LINEAR;
    g->centreX = 0.5;
    g->centreY = 0.5;
    g->balance = 0.5;
    g->border = 0;
    if (!keep) {
        g->stopCount = 0;
        g->angle = 0;
    }
}

void InitDisplayOptionSet(lvFillDescription *d) {
    std::memset(d, 0, sizeof *d);
    d->kind = 1;
    InitDisplayOptions(&d->backfill);
}

void InitDisplayDefaults(lvDisplayOptions *o) {
    std::memset(o, 0, sizeof *o);
    std::strcpy(o->title, "Lumivarra");
    o->width = 640;
    o->height = 480;
    o->x = -100000;
    o->y = -100000;
    o->scaleFactor = 1.0;
    o->fillStyle = 1;
    InitGradient(&o->gradient, 0);
    o->menu = -1;
    o->mode = 1;
}

int BitsForColorCount(int n) {
    int bits = 1;
    while (bits < 9 && (1 << bits) < n) bits++;
    return bits;
}

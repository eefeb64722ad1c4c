// gradient_read.cpp - the gradient of a stored applet record.
//
// Depends on: raster/lvgradient_read.h.
#include "raster/lvgradient_read.h"
#include "base/lverrors.h"
#include <initializer_list>

static int ReadMillionths(lvAppletCursor *cursor, double *out)
{
    uint32_t value;
    if (int err = ReadAppletBE32(cursor, &value)) return err;
    *out = value / 1000000.0;
    return 0;
}

int ReadGradientFromApplet(lvAppletCursor *cursor, lvGradient *gradient)
{
    lvGradient g = *gradient;
    uint8_t style = 0, count = 0;
    if (int err = ReadAppletByte(cursor, &style)) return err;
    g.style = style;
    for (double *field : {&g.centreX, &g.centreY, &g.balance, &g.border})
        if (int err = ReadMillionths(cursor, field)) return err;
    if (int err = ReadAppletByte(cursor, &count)) return err;
    if (count > GRADIENT_MAXSTOPS) return ERR_READ;
    for (int i = 0; i < count; i++) {
        uint32_t colour;
        if (int err = ReadAppletBE32(cursor, &colour)) return err;
        if (int err = ReadMillionths(cursor, &g.stops[i].position)) return err;
        g.stops[i].colour = colour;
    }
    g.stopCount = count;
    *gradient = g;
    return 0;
}

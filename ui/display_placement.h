// display_placement.h - remembered window placement (display_placement.cpp): the entry a
// display writes into the preferences' "__placement" table when it closes, and what the
// declared display takes from it at the next start.
#pragma once
#include "ui/display.h"

#define LV_OSDATA_VERSION 1
#define LV_OSDATA_SIZE 24

// The platform's window state kept in "osdata".
struct lvWindowOsData {
    int32_t x, y, width, height, maximised;
};
void EncodeWindowOsData(const lvWindowOsData *in, uint8_t out[LV_OSDATA_SIZE]);
// 1 and the state for a blob of our size and version with a sane geometry, else 0.
int DecodeWindowOsData(const uint8_t *data, size_t length, lvWindowOsData *out);

// One display's stored entry.
struct lvDisplayPlacement {
    int x, y, width, height;
    double scaleFactor;
    int scaleWidth, scaleHeight, autoscale, layerScale, sizeable;
    uint8_t osdata[LV_OSDATA_SIZE];
    size_t osdataLength;
};
// Writes the display's entry (numbered displays with the rememberposition bit only);
// 0 or the preferences' error. The restore size becomes the current picture size.
int SaveDisplayPlacement(lvState *L, lvDisplay *display);
// 1 and the entry of the display number when one is stored with "active" set.
int ReadDisplayPlacement(lvState *L, int number, lvDisplayPlacement *out);
// The declared display takes the stored geometry when its scale and size settings are
// those it was stored with. 1 when taken.
int ApplyDisplayPlacement(lvState *L, int number, lvDisplayOptions *options);

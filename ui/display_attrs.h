// display_attrs.h - GetAttribute of displays (display_attrs.cpp): the attribute callback
// of object type 21. Pushes the values and returns their count, or an error code.
#pragma once
#include "ui/display.h"

int GetDisplayAttribute(lvState *L, int attribute, lvObjectId id);
// The task bar of a monitor from its bounds and its usable area: the strip between them
// (top, bottom, left or right), all zero when none.
lvMonitorRect ComputeTaskbarRect(const lvMonitorRect &bounds, const lvMonitorRect &usable);

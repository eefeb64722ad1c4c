// display_attrs.h - GetAttribute of displays (display_attrs.cpp): the attribute callback
// of object type 21. Pushes the values and returns their count, or an error code.
#pragma once
#include "ui/display.h"

int GetDisplayAttribute(lvState *L, int attribute, lvObjectId id);

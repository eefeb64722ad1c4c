// lvgradient_args.h - how scripts describe a gradient: command arguments,
// option-table keys and the colour-stop table, and the table form written
// back by GetFillStyle and the preload.
//
// Depends on: raster/lvinit.h (lvGradient), vm/lvvm.h.
// Limits: script thread only; on error the record keeps what was read.
#pragma once
#include "raster/lvinit.h"

struct lvState;

// Reads centre, balance and border (RADIAL and CONICAL, each 0..1) and the
// colour-stop table {colour, position, ...} from the table at index under the
// given keys. *given (may be null) = 1 when any number or two stops were read.
int ReadGradientTable(lvState *L, int index, lvGradient *gradient, const char *keyCentreX, const char *keyCentreY,
                      const char *keyBalance, const char *keyBorder, const char *keyColours, int *given);
// Arguments from firstArg on: an angle (LINEAR, CONICAL) and a table.
int ParseGradientArgs(lvState *L, int firstArg, lvGradient *gradient);
// The "gradient..." keys of an option table.
int ParseGradientTags(lvState *L, int index, lvGradient *gradient, int keep, int init);
// Sets the gradient's fields (names with the prefix) on the table at the top.
void PushGradientFields(lvState *L, const char *prefix, const lvGradient *gradient);

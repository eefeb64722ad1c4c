// lvgradient_read.h - reading a gradient stored in an applet record.
//
// Depends on: raster/lvinit.h (the gradient record), runtime/container.h (the cursor).
#pragma once
#include "raster/lvinit.h"
#include "runtime/container.h"

// Reads style (byte), centre x, centre y, balance, border (big-endian 32-bit unsigned
// millionths), a stop count (byte), then per stop a big-endian 32-bit colour and a
// 32-bit position in millionths. Fields not stored (colours, angle) are left as they are.
// 0, ERR_READ for a short record, or ERR_READ for more stops than the record holds (the
// rest of the applet could not be found again after a partial read).
int ReadGradientFromApplet(lvAppletCursor *cursor, lvGradient *gradient);

// lvimagecmd.h - the argument readers and results the command files of the image
// libraries (brush, bgpic, palette, offscreen, clipregion) share.
#pragma once
#include <cmath>
#include <cstdint>

#include "base/lverrors.h"
#include "raster/lvrect.h"

#include "runtime/cmdsupport.h"
#include "vm/lvvm.h"

// A number argument as an int (cut like every integer argument).
inline int IntArg(lvState *L, int index) { return (int)NumberToInt64(CheckNumberArg(L, index)); }
// Number arguments from..to that place or size something: 0 when all are finite and within
// LV_GEOMETRY_LIMIT (each then read as IntArg reads it into out), else ERR_WRONGUSAGE, since
// NaN and the infinities lie nowhere. *beyond (optional) tells a finite number past the limit
// from a non-finite one.
inline int GeometryArgs(lvState *L, int from, int to, int *out, bool *beyond = nullptr)
{
    if (beyond) *beyond = false;
    for (int i = from; i <= to; i++) {
        double v = CheckNumberArg(L, i);
        if (!std::isfinite(v)) return ERR_WRONGUSAGE;
        if (!(std::fabs(v) <= LV_GEOMETRY_LIMIT)) {
            if (beyond) *beyond = true;
            return ERR_WRONGUSAGE;
        }
        out[i - from] = (int)NumberToInt64(v);
    }
    return 0;
}
// A colour argument: its low 32 bits, so 0xFFFFFFFF and -1 are the same colour.
inline uint32_t ColourArg(lvState *L, int index) { return (uint32_t)(uint64_t)NumberToInt64(CheckNumberArg(L, index)); }
// The argument is given and not Nil.
inline bool HasArg(lvState *L, int index) { return GetStackTop(L) >= index && GetValueType(L, index) != LV_TNIL; }
// A creating command's result: the new object's handle when it was made with Nil.
inline int FinishNewObject(lvState *L, lvObjectId id)
{
    if (!id.handle) return 0;
    PushObjectId(L, id);
    return 1;
}

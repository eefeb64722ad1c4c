// gradient_args.cpp - gradients from script arguments and option tables, and
// back into tables.
//
// Depends on: raster/lvgradient_args.h, runtime/cmdsupport.h, runtime/errors.h.
// Limits: script thread only.
#include "raster/lvgradient_args.h"

#include <cstdio>

#include "runtime/cmdsupport.h"
#include "runtime/errors.h"
#include "base/lverrors.h"
#include "vm/lvvm.h"

namespace {

// t[k] of the table at the (absolute) index, pushed.
int PushItemType(lvState *L, int table, int k) {
    PushNumber(L, k);
    GetTableValue(L, table);
    return GetValueType(L, -1);
}

int ReadStops(lvState *L, int table, lvGradient *g, const char *key, int *count) {
    int n = 0;
    for (int k = 0;; k += 2) {
        int top = GetStackTop(L);
        int ct = PushItemType(L, table, k);
        if (ct == LV_TNIL) {
            SetStackTop(L, top);
            break;
        }
        if (ct != LV_TNUMBER) {
            SetStackTop(L, top);
            SetErrorStringArg(key);
            return ERR_NUMTABLEARG;
        }
        uint32_t colour = static_cast<uint32_t>(NumberToInt64(ValueToNumber(L, -1)));
        int pt = PushItemType(L, table, k + 1);
        double position = pt == LV_TNUMBER ? ValueToNumber(L, -1) : 0;
        SetStackTop(L, top);
        if (pt == LV_TNIL) return ERR_MISSINGPARAMTR;
        if (pt != LV_TNUMBER) {
            SetErrorStringArg(key);
            return ERR_NUMTABLEARG;
        }
        if (position < 0 || position > 1) return ERR_WRONGUSAGE;
        if (n == GRADIENT_MAXSTOPS) return ERR_INTERNAL;
        g->stops[n].colour = colour;
        g->stops[n].position = position;
        n++;
        g->stopCount = n;  // what was read stays on error
    }
    if (n == 1) return ERR_WRONGUSAGE;
    *count = n;
    return 0;
}

}  // namespace

int ReadGradientTable(lvState *L, int index, lvGradient *g, const char *keyCentreX, const char *keyCentreY,
                      const char *keyBalance, const char *keyBorder, const char *keyColours, int *given) {
    if (index < 0) index = GetStackTop(L) + 1 + index;
    int any = 0;
    if (g->style == GRADIENT_RADIAL || g->style == GRADIENT_CONICAL) {
        const struct {
            const char *key;
            double *field;
        } numbers[4] = {{keyCentreX, &g->centreX}, {keyCentreY, &g->centreY}, {keyBalance, &g->balance},
                        {keyBorder, &g->border}};
        for (const auto &n : numbers) {
            double v;
            if (!GetFieldNumber(L, index, n.key, &v)) continue;
            if (v < 0 || v > 1) return ERR_WRONGUSAGE;
            *n.field = v;
            any = 1;
        }
    }
    PushString(L, keyColours);
    GetTableValue(L, index);
    int type = GetValueType(L, -1);
    int rc = 0;
    if (type != LV_TNIL) {
        if (type != LV_TTABLE) {
            SetStackTop(L, -2);
            SetErrorNumberArg(index);
            return ERR_TABEXPECTED;
        }
        int count = 0;
        rc = ReadStops(L, GetStackTop(L), g, keyColours, &count);
        if (!rc && count >= 2) any = 1;
    }
    SetStackTop(L, -2);
    if (given && !rc) *given = any;
    return rc;
}

int ParseGradientArgs(lvState *L, int firstArg, lvGradient *g) {
    int style = g->style;
    InitGradient(g, 0);
    g->style = style;
    int next = firstArg;
    if (style == 0 || style == 1) {
        g->style = GRADIENT_LINEAR;
        g->angle = style == 1 ? 90 : 0;
    } else if (style == GRADIENT_LINEAR || style == GRADIENT_CONICAL) {
        if (GetStackTop(L) >= firstArg) g->angle = static_cast<int>(NumberToInt64(GetOptionalNumberArg(L, firstArg, 0)));
        next = firstArg + 1;
    }
    if (GetStackTop(L) < next) return 0;
    CheckTableArg(L, next);
    return ReadGradientTable(L, next, g, "centerx", "centery", "balance", "border", "colors", nullptr);
}

int ParseGradientTags(lvState *L, int index, lvGradient *g, int keep, int init) {
    if (index < 0) index = GetStackTop(L) + 1 + index;
    if (init) InitGradient(g, keep);
    double v;
    if (GetFieldNumber(L, index, "gradientstyle", &v)) g->style = static_cast<int>(NumberToInt64(v));
    if (GetFieldNumber(L, index, "gradientstartcolor", &v)) g->startColour = static_cast<uint32_t>(NumberToInt64(v));
    if (GetFieldNumber(L, index, "gradientendcolor", &v)) g->endColour = static_cast<uint32_t>(NumberToInt64(v));
    if (GetFieldNumber(L, index, "gradientangle", &v)) g->angle = static_cast<int>(NumberToInt64(v));
    return ReadGradientTable(L, index, g, "gradientcenterx", "gradientcentery", "gradientbalance", "gradientborder",
                             "gradientcolors", nullptr);
}

void PushGradientFields(lvState *L, const char *prefix, const lvGradient *g) {
    char name[96];
    auto key = [&](const char *field) {
        std::snprintf(name, sizeof name, "%s%s", prefix, field);
        return name;
    };
    SetFieldInt(L, key("style"), g->style);
    SetFieldUInt(L, key("startcolor"), g->startColour);
    SetFieldUInt(L, key("endcolor"), g->endColour);
    SetFieldInt(L, key("angle"), g->angle);
    SetFieldNumber(L, key("centerx"), g->centreX);
    SetFieldNumber(L, key("centery"), g->centreY);
    SetFieldNumber(L, key("balance"), g->balance);
    SetFieldNumber(L, key("border"), g->border);
    if (g->stopCount > 0) {
        PushString(L, key("colors"));
        PushNewTable(L);
        for (int i = 0; i < g->stopCount; i++) {
            PushNumber(L, 2 * i);
            PushNumber(L, g->stops[i].colour);
            SetTableValue(L, -3);
            PushNumber(L, 2 * i + 1);
            PushNumber(L, g->stops[i].position);
            SetTableValue(L, -3);
        }
        SetTableValue(L, -3);
    }
}

// lib_transitionfx.cpp - the "transitionfx" commands: read the arguments or an option
// table into a request and run it; GetRandomFX.
#include <cstring>

#include "base/lverrors.h"
#include "fx/lvtransition.h"
#include "images/lvbgpic.h"
#include "images/lvimagecmd.h"
#include "platform/lvplatform.h"
#include "raster/lvbitmap.h"
#include "runtime/cmdsupport.h"
#include "runtime/errors.h"
#include "ui/display.h"
#include "vm/lvvm.h"

namespace {

bool IsTableArg(lvState *L, int index) { return GetStackTop(L) == index && GetValueType(L, index) == LV_TTABLE; }

// The option table at index into the request (absent keys keep what is there).
void ReadTransitionOptions(lvState *L, lvTransition *t, int index)
{
    t->effect = FX_RANDOMEFFECT, t->step = FX_NORMALSPEED, t->parameter = FX_RANDOMPARAMETER, t->undoLevel = 1;
    GetFieldInt(L, index, "type", &t->effect);
    GetFieldInt(L, index, "speed", &t->step);
    GetFieldInt(L, index, "parameter", &t->parameter);
    GetFieldInt(L, index, "undolevel", &t->undoLevel);
    GetFieldInt(L, index, "dx", &t->x);
    GetFieldInt(L, index, "dy", &t->y);
    GetFieldInt(L, index, "layers", &t->layers);
    GetFieldInt(L, index, "forcerealtimelayers", &t->forceRealtimeLayers);
    GetFieldInt(L, index, "async", &t->async);
    GetFieldInt(L, index, "noborderfade", &t->noBorderFade);
    int given = 0;
    GetFieldInt(L, index, "borderfx", &t->borderFx, &given);
    t->borderFxGiven = given != 0;
}

// Type, speed and parameter from three argument positions, with their defaults.
void ReadPositional(lvState *L, lvTransition *t, int first)
{
    t->effect = HasArg(L, first) ? IntArg(L, first) : FX_RANDOMEFFECT;
    t->step = HasArg(L, first + 1) ? IntArg(L, first + 1) : FX_NORMALSPEED;
    t->parameter = HasArg(L, first + 2) ? IntArg(L, first + 2) : FX_RANDOMPARAMETER;
    t->undoLevel = 1;
}

// Kind 1 (DisplayTransitionFX and ClearScreen): the options at optionsIndex, or the
// positional type, speed and parameter from positional on; fixedType (ClearScreen's
// first argument) overrides the type when not -1.
int BGPicTransition(lvState *L, lvObjectId id, int optionsIndex, int positional, int fixedType)
{
    lvTransition t;
    std::memset(&t, 0, sizeof t);
    t.state = L;
    t.kind = FXKIND_BGPIC;
    t.objectId = id;
    t.newDisplayX = t.newDisplayY = LV_NOPOSITION;
    if (IsTableArg(L, optionsIndex)) {
        ReadTransitionOptions(L, &t, optionsIndex);
        t.x = t.y = 0;
        if (t.async) return ERR_WRONGUSAGE;
        GetFieldInt(L, optionsIndex, "x", &t.newDisplayX);
        GetFieldInt(L, optionsIndex, "y", &t.newDisplayY);
    } else {
        ReadPositional(L, &t, positional);
    }
    if (fixedType != -1) t.effect = fixedType;
    return RunTransition(&t);
}

int CmdDisplayTransitionFX(lvState *L)
{
    CheckArgCount(L, 1, 4, 0, 0);
    return BGPicTransition(L, GetObjectIdArg(L, 1), 2, 2, -1);
}

int CmdClearScreen(lvState *L)
{
    CheckArgCount(L, 1, 4, 0, 0);
    int type = IntArg(L, 1);
    uint32_t colour = HasArg(L, 2) && GetValueType(L, 2) != LV_TTABLE ? ColourArg(L, 2) & 0xFFFFFFu : 0;
    lvDisplay *d = GetCurrentDisplay();
    if (!d || !d->bgpic) return ERR_OUTPUTDEVICE;
    int width = d->bgpic->shownWidth, height = d->bgpic->shownHeight;
    lvBGPicFill fill = {};
    fill.style = 1;
    fill.colour = colour;
    fill.set = 1;
    lvBitMapHandle *rgb = nullptr;
    lvObjectId id = {0, nullptr};  // a handle: no number a script could own
    int code = BuildBGPicBitmaps(nullptr, &fill, -1, width, height, width, &rgb, nullptr, nullptr, nullptr);
    if (!code)
        code = NewBGPicRecord(&id, 0, width, height, width, nullptr, rgb, nullptr, -1, nullptr, nullptr, nullptr, 24,
                              nullptr, &fill, nullptr, 0, nullptr, nullptr);
    if (code) {
        FreeBitmapHandle(rgb);
        return code;
    }
    // Positional speed and parameter stand at 3 and 4, after the colour.
    code = BGPicTransition(L, id, GetValueType(L, 2) == LV_TTABLE ? 2 : 3, 2, type);
    // Shown now, it is detached and lives until another picture replaces it.
    ReleaseBGPicRecord(L, id, 0);
    return code;
}

// Kinds 3 and 8, and 13 from its own reader: runs again while a size change asks for it.
int RunWithRestarts(lvTransition *t)
{
    for (;;) {
        lvTransition copy = *t;
        copy.restart = 0;
        int code = RunTransition(&copy);
        if (code || !copy.restart) return code;
    }
}

int ObjectTransitionCommand(lvState *L, int kind)
{
    CheckArgCount(L, 3, 6, 0, 0);
    lvTransition t;
    std::memset(&t, 0, sizeof t);
    t.state = L;
    t.kind = kind;
    t.objectId = GetObjectIdArg(L, 1);
    t.x = IntArg(L, 2);
    t.y = IntArg(L, 3);
    if (IsTableArg(L, 4)) ReadTransitionOptions(L, &t, 4);
    else ReadPositional(L, &t, 4);
    return RunWithRestarts(&t);
}

int CmdDisplayBrushFX(lvState *L) { return ObjectTransitionCommand(L, FXKIND_BRUSH); }
int CmdDisplayTextObjectFX(lvState *L) { return ObjectTransitionCommand(L, FXKIND_TEXTOBJECT); }

int CmdDisplayBGPicPartFX(lvState *L)
{
    CheckArgCount(L, 5, 11, 0, 0);
    lvTransition t;
    std::memset(&t, 0, sizeof t);
    t.state = L;
    t.kind = FXKIND_BGPICPART;
    t.objectId = GetObjectIdArg(L, 1);
    t.partX = IntArg(L, 2);
    t.partY = IntArg(L, 3);
    t.width = IntArg(L, 4);
    t.height = IntArg(L, 5);
    t.x = t.partX, t.y = t.partY;
    if (IsTableArg(L, 6)) {
        ReadTransitionOptions(L, &t, 6);
    } else {
        ReadPositional(L, &t, 6);
        if (HasArg(L, 9)) t.x = IntArg(L, 9);
        if (HasArg(L, 10)) t.y = IntArg(L, 10);
        if (HasArg(L, 11)) t.layers = IntArg(L, 11);
    }
    lvDisplay *d = GetCurrentDisplay();
    if (t.layers && !(d && d->select.layersOn)) return ERR_WRONGUSAGE;
    return RunWithRestarts(&t);
}

// The layer commands: layers are not built; without them the Part's answer is 1078.
int LayerCommand(lvState *L, int min, int max)
{
    CheckArgCount(L, min, max, 0, 0);
    lvDisplay *d = GetCurrentDisplay();
    if (!d || !d->select.layersOn) return ERR_NOLAYERS;
    return ERR_UNIMPLCMD;
}

int CmdShowLayerFX(lvState *L) { return LayerCommand(L, 1, 4); }
int CmdHideLayerFX(lvState *L) { return LayerCommand(L, 1, 4); }
int CmdRemoveLayerFX(lvState *L) { return LayerCommand(L, 1, 4); }
int CmdUndoFX(lvState *L) { return LayerCommand(L, 2, 6); }

int CmdGetRandomFX(lvState *L)
{
    CheckArgCount(L, 1, 2, 0, 0);
    int objects = IntArg(L, 1);
    PushNumber(L, PickRandomEffect(objects != 0));
    return 1;
}

const lvCommandEntry TransitionCommands[] = {
    {"DisplayTransitionFX", CmdDisplayTransitionFX},
    {"ClearScreen", CmdClearScreen},
    {"ShowLayerFX", CmdShowLayerFX},
    {"HideLayerFX", CmdHideLayerFX},
    {"RemoveLayerFX", CmdRemoveLayerFX},
    {"DisplayBrushFX", CmdDisplayBrushFX},
    {"DisplayTextObjectFX", CmdDisplayTextObjectFX},
    {"DisplayBGPicPartFX", CmdDisplayBGPicPartFX},
    {"UndoFX", CmdUndoFX},
    {"GetRandomFX", CmdGetRandomFX},
    {nullptr, nullptr},
};

}  // namespace

int OpenTransitionLibrary(lvState *L) { return RegisterCommandTable(L, TransitionCommands, "transitionfx"); }

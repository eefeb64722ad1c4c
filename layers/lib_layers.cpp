// lib_layers.cpp - the "layers" library: switching layers on and off for the current
// display and working on the layers of its BGPic (insert, copy, remove, undo, reorder,
// show, hide, move, name, query, dump), GetAttribute on layers, and the service tables the
// library installs while it is open.
//
// Depends on: layers/lvlayer.h, images/lvoffscreen.h, raster/lvblit.h, runtime/.
// Limits: script thread only.
#include <cstdio>
#include <cstring>
#include <strings.h>
#include <string>
#include <vector>

#include "base/lverrors.h"
#include "images/lvoffscreen.h"
#include "layers/lvlayer.h"
#include "raster/lvblit.h"
#include "raster/lvrect.h"
#include "runtime/cmdsupport.h"
#include "runtime/errors.h"
#include "runtime/libs_core.h"

void InstallLayerComposition(int on);
void InstallImageLayerTable(int on);
void InstallProducerTables(int on);

namespace {

const int USELAYERPOSITION = 100000;

int ArgCount(lvState *L) { return GetStackTop(L); }
int IntArg(lvState *L, int i) { return (int)CheckNumberArg(L, i); }
int OptIntArg(lvState *L, int i, int def) { return i <= ArgCount(L) && GetValueType(L, i) != LV_TNIL ? IntArg(L, i) : def; }

// The layer an argument names: a number as it is (range tested by the caller), or a name.
int ReadLayerArgument(lvState *L, int i, const lvBGPic *b, int *n)
{
    int t = GetValueType(L, i);
    if (t == LV_TNUMBER) {
        *n = IntArg(L, i);
        return 0;
    }
    if (t == LV_TSTRING) {
        const char *name = ValueToString(L, i);
        *n = FindLayerByName(b, name);
        if (*n) return 0;
        SetErrorStringArg(name);
        return ERR_FINDLAYER;
    }
    SetErrorNumberArg(i);
    return ERR_STRORNUM;
}

// The layers an argument names: a number, a layer name or a group name (its members
// bottom to top).
int ReadLayerOrGroup(lvState *L, int i, const lvBGPic *b, std::vector<lvLayer *> *out)
{
    int t = GetValueType(L, i);
    if (t == LV_TSTRING) {
        const char *name = ValueToString(L, i);
        if (int n = FindLayerByName(b, name)) {
            out->push_back(GetLayerByIndex(b, n));
            return 0;
        }
        for (lvLayer *l = FirstLayer(b); l; l = NextLayer(l))
            if (LayerHasGroup(l, name)) out->push_back(l);
        if (!out->empty()) return 0;
        SetErrorStringArg(name);
        return ERR_FINDLAYER;
    }
    int n;
    if (int code = ReadLayerArgument(L, i, b, &n)) return code;
    lvLayer *l = GetLayerByIndex(b, n);
    if (!l) return ERR_LAYERRANGE;
    out->push_back(l);
    return 0;
}

// The checks every layer command makes first, and the BGPic it works on.
int Begin(lvBGPic **b)
{
    if (int code = CheckLayerOutput(1)) return code;
    *b = CurrentLayerBGPic();
    return *b ? 0 : ERR_NOLAYERS;
}

void RefreshWhole(lvState *L, lvBGPic *b) { RefreshLayerArea(L, b, 0, 0, b->scaledWidth, b->scaledHeight); }

struct Rect {
    int x1 = 0, y1 = 0, x2 = 0, y2 = 0;
    bool empty = true;
    void Add(int x, int y, int w, int h)
    {
        if (w < 1 || h < 1) return;
        if (empty) {
            x1 = x, y1 = y, x2 = x + w, y2 = y + h;
            empty = false;
            return;
        }
        if (x < x1) x1 = x;
        if (y < y1) y1 = y;
        if (x + w > x2) x2 = x + w;
        if (y + h > y2) y2 = y + h;
    }
    void AddLayer(const lvLayer *l)
    {
        int x, y, w, h;
        GetLayerBounds(l, l->graphics[2], &x, &y, &w, &h);
        Add(x, y, w, h);
    }
    void Refresh(lvState *L, lvBGPic *b) const
    {
        if (!empty) RefreshLayerArea(L, b, x1, y1, x2 - x1, y2 - y1);
    }
};

// A new position for every stage: x, y is the anchor point.
void PlaceLayer(lvLayer *l, int x, int y)
{
    for (int s = 0; s < 3; s++) {
        lvLayerGraphics *g = l->graphics[s];
        if (s && (g == l->graphics[s - 1])) continue;
        g->x = x, g->y = y;
        if (l->type == LAYER_LINE) {
            g->left = x - g->lineX, g->top = y - g->lineY;
        } else {
            g->left = x - (int)(l->anchorX * g->sourceWidth) + g->layoutX;
            g->top = y - (int)(l->anchorY * g->sourceHeight) + g->layoutY;
        }
        g->savedLeft = g->left, g->savedTop = g->top;
    }
}

// ---- Switching -------------------------------------------------------------------------------

int CmdEnableLayers(lvState *L)
{
    CheckArgCount(L, 0, 0, 0, 0);
    lvSelectDisplay *d = GetSelectDisplay();
    if (!d) return ERR_OUTPUTDEVICE;
    if (d->layersOn) return 0;
    if (d->doubleBufferActive) return ERR_ENDDOUBLEBUFFER;
    if (d->blit.target.kind != OUTPUT_DISPLAY) return ERR_LAYERSON;
    if (d->ownBGPic && d->ownBGPic->sprites) return ERR_NOSPRITES;
    d->layersOn = 1;
    d->blit.layers = 1;
    if (d->ownBGPic && FirstLayer(d->ownBGPic)) RefreshWhole(L, d->ownBGPic);
    return 0;
}

int CmdDisableLayers(lvState *L)
{
    CheckArgCount(L, 0, 0, 0, 0);
    lvSelectDisplay *d = GetSelectDisplay();
    if (!d) return ERR_OUTPUTDEVICE;
    if (d->blit.target.kind != OUTPUT_DISPLAY) return ERR_LAYERSON;
    d->layersOn = 0;
    d->blit.layers = 0;
    return 0;
}

// The picture as shown, layers included, becomes the display's background.
void BakeLayers(lvState *L, lvSelectDisplay *d)
{
    lvBlitDisplay &bd = d->blit;
    if (!bd.picture) return;
    int w = bd.picture->width, h = bd.picture->height;
    if (bd.shown.rgb && bd.background.rgb)
        BlitImage(L, bd.shown.rgb, 0, 0, bd.background.rgb, nullptr, nullptr, 0, 0, 0, w, h, w, h, w, h,
                  BLIT_NOSPRITES | BLIT_NOOUTPUT | BLIT_NOREGION, nullptr, nullptr, nullptr, nullptr, -1,
                  PALETTEMODE_PEN, -1, -1, nullptr, nullptr);
    if (bd.shown.chunky && bd.background.chunky)
        BlitImage(L, nullptr, 0, 0, nullptr, bd.background.chunky, bd.picture->palette, bd.picture->depth, 0, 0, w,
                  h, w, h, w, h, BLIT_NOSPRITES | BLIT_NOOUTPUT | BLIT_NOREGION, nullptr, nullptr, bd.shown.chunky,
                  bd.picture->palette, -1, PALETTEMODE_PEN, -1, -1, nullptr, nullptr);
}

int FreeLayers(lvState *L, int keep)
{
    lvBGPic *b;
    if (int code = Begin(&b)) return code;
    lvSelectDisplay *d = GetSelectDisplay();
    if (keep && d->blit.target.kind == OUTPUT_BGPIC) {
        lvBGPic *out = GetCurrentOutput();
        if (out && out->selectedRecord != b) return ERR_WRONGUSAGE;
    }
    if (keep) BakeLayers(L, d);
    FreeLayerList(L, b, 1);
    if (!keep) RefreshWhole(L, b);
    return 0;
}

int CmdFreeLayers(lvState *L)
{
    CheckArgCount(L, 0, 1, 0, 0);
    return FreeLayers(L, ArgCount(L) >= 1 ? ValueToBoolean(L, 1) : 1);
}

int CmdRemoveLayers(lvState *L)
{
    CheckArgCount(L, 0, 0, 0, 0);
    return FreeLayers(L, 0);
}

// ---- Making and removing ---------------------------------------------------------------------

int CmdInsertLayer(lvState *L)
{
    CheckArgCount(L, 5, 6, 0, 0);
    int position = IntArg(L, 1), type = IntArg(L, 2);
    if (type == LAYER_LAYER) return ERR_WRONGUSAGE;
    lvObjectId id = GetObjectIdArg(L, 3);
    int x = IntArg(L, 4), y = IntArg(L, 5);
    int given = ArgCount(L) >= 6 && GetValueType(L, 6) != LV_TNIL;
    int hidden = given ? ValueToBoolean(L, 6) : 0;
    return InsertLayerAt(L, id, position, type, x, y, 0, hidden, given, nullptr);
}

int CmdCopyLayer(lvState *L)
{
    CheckArgCount(L, 2, 3, 0, 0);
    lvBGPic *b;
    if (int code = Begin(&b)) return code;
    int n;
    if (int code = ReadLayerArgument(L, 1, b, &n)) return code;
    int position = IntArg(L, 2);
    int hidden = 0, given = 0;
    std::string name;
    if (ArgCount(L) >= 3 && GetValueType(L, 3) == LV_TTABLE) {
        PushString(L, "hidden");
        GetTableValue(L, 3);
        if (GetValueType(L, -1) != LV_TNIL) given = 1, hidden = ValueToBoolean(L, -1);
        SetStackTop(L, -2);
        PushString(L, "name");
        GetTableValue(L, 3);
        if (GetValueType(L, -1) == LV_TSTRING) name = ValueToString(L, -1);
        SetStackTop(L, -2);
    }
    if (!name.empty())
        if (int code = CheckLayerName(b, name.c_str())) return code;
    lvLayer *made;
    if (int code = InsertLayerAt(L, {n, nullptr}, position, LAYER_LAYER, 0, 0, 0, hidden, given, &made))
        return code;
    if (!name.empty()) return SetLayerNameInternal(b, name.c_str(), made);
    return 0;
}

int CmdRemoveLayer(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    lvBGPic *b;
    if (int code = Begin(&b)) return code;
    std::vector<lvLayer *> layers;
    if (int code = ReadLayerOrGroup(L, 1, b, &layers)) return code;
    if (layers.size() > 256) return ERR_INTERNAL;
    Rect area;
    for (lvLayer *l : layers) {
        if (IsMergedLayerMember(b, l)) return LAYERCODE_MERGEMEMBER;
        area.AddLayer(l);
        FreeLayerRecord(L, b, l, 1);
    }
    area.Refresh(L, b);
    return 0;
}

int CmdUndo(lvState *L)
{
    CheckArgCount(L, 1, 4, 0, 0);
    lvBGPic *b;
    if (int code = Begin(&b)) return code;
    int type = IntArg(L, 1);
    lvObjectId id = ArgCount(L) >= 2 && GetValueType(L, 2) != LV_TNIL ? GetObjectIdArg(L, 2) : lvObjectId{0, nullptr};
    int level = OptIntArg(L, 3, 1);
    int noRefresh = ArgCount(L) >= 4 ? ValueToBoolean(L, 4) : 0;
    return RemoveLayerByObject(L, b, type, id, level, noRefresh);
}

// ---- Order --------------------------------------------------------------------------------------

int CmdSwapLayers(lvState *L)
{
    CheckArgCount(L, 2, 2, 0, 0);
    lvBGPic *b;
    if (int code = Begin(&b)) return code;
    int a, c;
    if (int code = ReadLayerArgument(L, 1, b, &a)) return code;
    if (int code = ReadLayerArgument(L, 2, b, &c)) return code;
    if (a == c) return ERR_WRONGUSAGE;
    return SwapLayerPositions(L, b, a, c);
}

int CmdSetLayerZPos(lvState *L)
{
    CheckArgCount(L, 2, 2, 0, 0);
    lvBGPic *b;
    if (int code = Begin(&b)) return code;
    int n, position;
    if (int code = ReadLayerArgument(L, 1, b, &n)) return code;
    if (int code = ReadLayerArgument(L, 2, b, &position)) return code;
    lvLayer *l = GetLayerByIndex(b, n);
    if (!l) return ERR_LAYERRANGE;
    if (position < 0) return ERR_WRONGUSAGE;
    if (MoveLayerToPosition(b, l, position)) {
        b->changed = 1;
        RefreshLayer(L, b, l);
    }
    return 0;
}

int LayerToEnd(lvState *L, bool front)
{
    CheckArgCount(L, 1, 2, 0, 0);
    lvBGPic *b;
    if (int code = Begin(&b)) return code;
    std::vector<lvLayer *> layers;
    if (int code = ReadLayerOrGroup(L, 1, b, &layers)) return code;
    int swap = ArgCount(L) >= 2 ? ValueToBoolean(L, 2) : 1;
    if (swap) {
        for (lvLayer *l : layers) {
            int a = GetLayerIndex(b, l), end = front ? CountLayers(b) : 1;
            if (a != end)
                if (int code = SwapLayerPositions(L, b, a, end)) return code;
        }
        return 0;
    }
    if (layers.size() > 255) return ERR_INTERNAL;
    Rect area;
    for (lvLayer *l : layers) {
        if (MoveLayerToPosition(b, l, front ? 0 : 1)) area.AddLayer(l);
    }
    // Moving to the bottom in member order: the first member ends lowest.
    if (!front)
        for (auto it = layers.rbegin(); it != layers.rend(); ++it) MoveLayerToPosition(b, *it, 1);
    b->changed = 1;
    area.Refresh(L, b);
    return 0;
}
int CmdLayerToFront(lvState *L) { return LayerToEnd(L, true); }
int CmdLayerToBack(lvState *L) { return LayerToEnd(L, false); }

// ---- Showing and moving ---------------------------------------------------------------------------

int CmdShowLayer(lvState *L)
{
    CheckArgCount(L, 1, 3, 0, 0);
    lvBGPic *b;
    if (int code = Begin(&b)) return code;
    std::vector<lvLayer *> layers;
    if (int code = ReadLayerOrGroup(L, 1, b, &layers)) return code;
    int x = OptIntArg(L, 2, USELAYERPOSITION), y = OptIntArg(L, 3, USELAYERPOSITION);
    Rect area;
    for (lvLayer *l : layers) {
        area.AddLayer(l);
        const lvLayerGraphics *g = l->graphics[0];
        if (x != USELAYERPOSITION || y != USELAYERPOSITION) {
            int nx = x == USELAYERPOSITION ? g->x : ResolveSpecialX(x, g->sourceWidth, b->scaledWidth, l->anchorX);
            int ny = y == USELAYERPOSITION ? g->y : ResolveSpecialY(y, g->sourceHeight, b->scaledHeight, l->anchorY);
            // Special coordinates resolve to the top-left; the layer keeps its anchor point.
            if (x != USELAYERPOSITION && nx != x) nx += (int)(l->anchorX * g->sourceWidth);
            if (y != USELAYERPOSITION && ny != y) ny += (int)(l->anchorY * g->sourceHeight);
            PlaceLayer(l, nx, ny);
        }
        l->hidden = 0;
        area.AddLayer(l);
    }
    b->changed = 1;
    area.Refresh(L, b);
    return 0;
}

int CmdHideLayer(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    lvBGPic *b;
    if (int code = Begin(&b)) return code;
    std::vector<lvLayer *> layers;
    if (int code = ReadLayerOrGroup(L, 1, b, &layers)) return code;
    Rect area;
    for (lvLayer *l : layers) {
        area.AddLayer(l);
        l->hidden = 1;
    }
    b->changed = 1;
    area.Refresh(L, b);
    return 0;
}

int CmdTranslateLayer(lvState *L)
{
    CheckArgCount(L, 3, 3, 0, 0);
    lvBGPic *b;
    if (int code = Begin(&b)) return code;
    std::vector<lvLayer *> layers;
    if (int code = ReadLayerOrGroup(L, 1, b, &layers)) return code;
    int dx = IntArg(L, 2), dy = IntArg(L, 3);
    Rect area;
    for (lvLayer *l : layers) {
        area.AddLayer(l);
        PlaceLayer(l, l->graphics[0]->x + dx, l->graphics[0]->y + dy);
        area.AddLayer(l);
    }
    b->changed = 1;
    area.Refresh(L, b);
    return 0;
}

// ---- Names and queries -----------------------------------------------------------------------------

int CmdSetLayerName(lvState *L)
{
    CheckArgCount(L, 2, 2, 0, 0);
    lvBGPic *b;
    if (int code = Begin(&b)) return code;
    int n;
    if (int code = ReadLayerArgument(L, 1, b, &n)) return code;
    lvLayer *l = n <= 0 ? LastLayer(b) : GetLayerByIndex(b, n);
    if (!l) return ERR_LAYERRANGE;
    size_t length;
    const char *name = CheckStringArg(L, 2, &length);
    return SetLayerNameInternal(b, name, l);
}

int CmdLayerExists(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    lvBGPic *b;
    if (int code = Begin(&b)) return code;
    size_t length;
    PushBoolean(L, FindLayerByName(b, CheckStringArg(L, 1, &length)) != 0);
    return 1;
}

int CmdGetLayerAtPos(lvState *L)
{
    CheckArgCount(L, 2, 2, 0, 0);
    lvBGPic *b;
    if (int code = Begin(&b)) return code;
    int x = IntArg(L, 1), y = IntArg(L, 2);
    int n = CountLayers(b);
    for (lvLayer *l = LastLayer(b); l; l = PreviousLayer(l), n--) {
        const lvLayerGraphics *g = l->graphics[1];
        if (x >= g->left && y >= g->top && x < g->left + g->width && y < g->top + g->height) {
            PushNumber(L, n);
            PushString(L, l->name ? l->name : "");
            return 2;
        }
    }
    PushNumber(L, 0);
    PushString(L, "");
    return 2;
}

const char *TypeName(int type)
{
    switch (type) {
    case LAYER_BRUSH: return "BRUSH";
    case LAYER_ANIM: return "ANIM";
    case LAYER_NOOBJECT: return "NOOBJECT";
    case LAYER_TEXTOBJECT: return "TEXTOBJECT";
    case LAYER_TEXTOUT: return "TEXTOUT";
    case LAYER_PRINT: return "PRINT";
    case LAYER_BRUSHPART: return "BRUSHPART";
    case LAYER_BGPICPART: return "BGPICPART";
    case LAYER_BOX: return "BOX";
    case LAYER_CIRCLE: return "CIRCLE";
    case LAYER_ELLIPSE: return "ELLIPSE";
    case LAYER_LINE: return "LINE";
    case LAYER_POLYGON: return "POLYGON";
    case LAYER_ARC: return "ARC";
    case LAYER_VECTORPATH: return "VECTORPATH";
    case LAYER_VIDEO: return "VIDEO";
    case LAYER_MERGED: return "MERGED";
    default: return "UNKNOWN";
    }
}

int CmdDumpLayers(lvState *L)
{
    CheckArgCount(L, 0, 1, 0, 0);
    lvBGPic *b;
    if (int code = Begin(&b)) return code;
    int stage = OptIntArg(L, 1, 0);
    if (stage < 0 || stage > 2) stage = 0;
    char line[1024];
    std::snprintf(line, sizeof line, "LAYER SYSTEM INFO - BGPIC: %d (%p)\nsizeof(lvLayer): %d\nLayers: %d\n",
                  b->header.identifier, b->header.handle, (int)sizeof(lvLayer), CountLayers(b));
    PrintOutput(line);
    int n = 1;
    for (lvLayer *l = FirstLayer(b); l; l = NextLayer(l), n++) {
        const lvLayerGraphics *g = l->graphics[stage];
        std::snprintf(line, sizeof line,
                      "(%d) %s #%d (%p / \"%s\") - X: %d (%d) - Y: %d (%d) - Width: %d (%d) - Height: %d (%d) - "
                      "Visible: %d\n",
                      n, TypeName(l->type), l->source.number, l->source.handle, l->name ? l->name : "", g->x,
                      g->left, g->y, g->top, g->sourceWidth, g->width, g->sourceHeight, g->height, !l->hidden);
        PrintOutput(line);
    }
    return 0;
}

// GetAttribute(LAYER, layer, attribute)
int LayerAttribute(lvState *L)
{
    lvSelectDisplay *d = GetSelectDisplay();
    bool redirected = d && d->blit.target.kind != OUTPUT_DISPLAY && d->blit.target.kind != OUTPUT_BGPIC;
    if (!d || !(redirected ? d->savedLayersOn : d->layersOn) || !d->ownBGPic) return ERR_NOLAYERS;
    lvBGPic *b = d->ownBGPic;
    int attribute = IntArg(L, 3);
    if (attribute == 6) {
        PushNumber(L, CountAllLayers());
        return 1;
    }
    int n;
    if (int code = ReadLayerArgument(L, 2, b, &n)) return code;
    lvLayer *l = GetLayerByIndex(b, n);
    if (!l) return ERR_LAYERRANGE;
    const lvLayerGraphics *g = l->graphics[0], *g1 = l->graphics[1];
    bool text = l->type == LAYER_TEXTOUT || l->type == LAYER_PRINT;
    switch (attribute) {
    case 0: PushNumber(L, g->sourceWidth); return 1;
    case 1: PushNumber(L, g->sourceHeight); return 1;
    case 7: PushNumber(L, g->x); return 1;
    case 8: PushNumber(L, g->y); return 1;
    case 9: PushNumber(L, l->type); return 1;
    case 10: PushBoolean(L, !l->hidden); return 1;
    case 13:
    case 74: PushNumber(L, n); return 1;
    case 62: PushString(L, l->groups ? l->groups : ""); return 1;
    case 65: PushNumber(L, g1->left); return 1;
    case 66: PushNumber(L, g1->top); return 1;
    case 67: PushNumber(L, g1->width); return 1;
    case 68: PushNumber(L, g1->height); return 1;
    case 82:
        switch (l->type) {
        case LAYER_BRUSH: case LAYER_ANIM: case LAYER_TEXTOBJECT: case LAYER_BRUSHPART: case LAYER_BGPICPART:
        case LAYER_VECTORPATH: case LAYER_VIDEO:
            if (l->source.handle) PushPointer(L, l->source.handle);
            else PushNumber(L, l->source.number);
            return 1;
        default: return ERR_BADLAYERTYPE;
        }
    case 123:
        if (l->button) PushPointer(L, l->button);
        else PushNil(L);
        return 1;
    case 129: {
        PushNewTable(L);
        int i = 0;
        for (const char *s = l->groups; s && *s; s += std::strlen(s) + 1) {
            PushString(L, s);
            SetTableItemRaw(L, -2, i++);
        }
        return 1;
    }
    case 11:
    case 12:
    case 14:
    case 18:
    case 19:
    case 72:
    case 83:
    case 84: return ERR_BADLAYERTYPE;
    case 36:
    case 30: case 31: case 32: case 33: case 34: case 35: case 113: case 114: case 115: case 116: case 117:
    case 118: case 124: case 125: case 128: return text ? ERR_UNIMPLCMD : ERR_NOTXTLAYER;
    case 37: return ERR_NOANMLAYER;
    case 103: PushNumber(L, l->palette ? l->depth : 0); return 1;
    case 105: PushNumber(L, l->palette ? l->transparentPen : -1); return 1;
    default: return ERR_UNKNOWNATTR;
    }
}

int NotYet(lvState *) { return ERR_UNIMPLCMD; }

const lvCommandEntry LayersCommands[] = {
    {"EnableLayers", CmdEnableLayers},
    {"DisableLayers", CmdDisableLayers},
    {"FreeLayers", CmdFreeLayers},
    {"RemoveLayers", CmdRemoveLayers},
    {"InsertLayer", CmdInsertLayer},
    {"CopyLayer", CmdCopyLayer},
    {"RemoveLayer", CmdRemoveLayer},
    {"Undo", CmdUndo},
    {"SwapLayers", CmdSwapLayers},
    {"SetLayerZPos", CmdSetLayerZPos},
    {"LayerToFront", CmdLayerToFront},
    {"LayerToBack", CmdLayerToBack},
    {"ShowLayer", CmdShowLayer},
    {"HideLayer", CmdHideLayer},
    {"TranslateLayer", CmdTranslateLayer},
    {"SetLayerName", CmdSetLayerName},
    {"LayerExists", CmdLayerExists},
    {"GetLayerAtPos", CmdGetLayerAtPos},
    {"SetLayerShadow", NotYet},
    {"SetLayerBorder", NotYet},
    {"CreateLayer", NotYet},
    {"ModifyLayerFrames", NotYet},
    {"PlayLayer", NotYet},
    {"StopLayer", NotYet},
    {"PauseLayer", NotYet},
    {"ResumeLayer", NotYet},
    {"SeekLayer", NotYet},
    {"SetLayerVolume", NotYet},
    {"SetLayerPalette", NotYet},
    {"SetLayerPen", NotYet},
    {"GetLayerPen", NotYet},
    {"SetLayerTransparentPen", NotYet},
    {"SetLayerDepth", NotYet},
    {"GroupLayer", NotYet},
    {"UngroupLayer", NotYet},
    {"GetLayerGroups", NotYet},
    {"GetLayerGroupMembers", NotYet},
    {"LayerGroupExists", NotYet},
    {"DumpLayers", CmdDumpLayers},
    {"AddMove", NotYet},
    {"ClearMove", NotYet},
    {"DoMove", NotYet},
    {"SetLayerStyle", NotYet},
    {"GetLayerStyle", NotYet},
    {"TransformLayer", NotYet},
    {"SetLayerAnchor", NotYet},
    {"SetLayerFilter", NotYet},
    {"SetLayerTransparency", NotYet},
    {"SetLayerLight", NotYet},
    {"SetLayerTint", NotYet},
    {"ScaleLayer", NotYet},
    {"RotateLayer", NotYet},
    {"NextFrame", NotYet},
    {"MergeLayers", NotYet},
    {"RefreshLayer", NotYet},
    {"RenderLayer", NotYet},
    {nullptr, nullptr},
};

const lvConstantEntry LayersConstants[] = {
    {"LAYER", nullptr, 22},           {"MOVELIST", nullptr, 51},       {"HIDEBRUSH", nullptr, 23},
    {"INSERTBRUSH", nullptr, 24},     {"HIDELAYER", nullptr, 25},      {"UNDO", nullptr, 10},
    {"REMOVELAYER", nullptr, 26},     {"NEXTFRAME", nullptr, 29},      {"NEXTFRAME2", nullptr, 34},
    {"MERGED", nullptr, 63},          {"ATTRWIDTH", nullptr, 0},       {"ATTRHEIGHT", nullptr, 1},
    {"ATTRLAYERS", nullptr, 6},       {"ATTRXPOS", nullptr, 7},        {"ATTRYPOS", nullptr, 8},
    {"ATTRTYPE", nullptr, 9},         {"ATTRVISIBLE", nullptr, 10},    {"ATTRNUMFRAMES", nullptr, 11},
    {"ATTRCURFRAME", nullptr, 12},    {"ATTRLAYERID", nullptr, 13},    {"ATTRDURATION", nullptr, 14},
    {"ATTRPOSITION", nullptr, 18},    {"ATTRFORMAT", nullptr, 19},     {"ATTRFONTASCENDER", nullptr, 30},
    {"ATTRFONTDESCENDER", nullptr, 31}, {"ATTRFONTNAME", nullptr, 32}, {"ATTRFONTSIZE", nullptr, 33},
    {"ATTRFONTSCALABLE", nullptr, 34}, {"ATTRFONTAA", nullptr, 35},    {"ATTRTEXT", nullptr, 36},
    {"ATTRFRAMEDELAY", nullptr, 37},  {"ATTRGROUP", nullptr, 62},      {"ATTRRAWXPOS", nullptr, 65},
    {"ATTRRAWYPOS", nullptr, 66},     {"ATTRRAWWIDTH", nullptr, 67},   {"ATTRRAWHEIGHT", nullptr, 68},
    {"ATTRCANSEEK", nullptr, 72},     {"ATTRZPOS", nullptr, 74},       {"ATTRID", nullptr, 82},
    {"ATTRPLAYING", nullptr, 83},     {"ATTRPAUSED", nullptr, 84},     {"ATTRDEPTH", nullptr, 103},
    {"ATTRPALETTE", nullptr, 104},    {"ATTRTRANSPARENTPEN", nullptr, 105}, {"ATTRFONTDEPTH", nullptr, 113},
    {"ATTRFONTPALETTE", nullptr, 114}, {"ATTRFONTTRANSPARENTPEN", nullptr, 115},
    {"ATTRFONTTYPE", nullptr, 116},   {"ATTRFONTENGINE", nullptr, 117}, {"ATTRFONTCHARMAP", nullptr, 118},
    {"ATTRBUTTON", nullptr, 123},     {"ATTRFONTLOADER", nullptr, 124}, {"ATTRFONTHEIGHT", nullptr, 125},
    {"ATTRFONTFORMAT", nullptr, 128}, {"ATTRGROUPS", nullptr, 129},    {nullptr, nullptr, 0},
};

}  // namespace

const lvConstantEntry *GetLayersConstants(void) { return LayersConstants; }

void InstallLayerServices(void)
{
    InstallLayerComposition(1);
    InstallImageLayerTable(1);
    InstallProducerTables(1);
    lvObjectLibraryHooks hooks = *GetObjectLibraryHooks();
    hooks.layerAttribute = LayerAttribute;
    SetObjectLibraryHooks(&hooks);
}

void RemoveLayerServices(void)
{
    InstallLayerComposition(0);
    InstallImageLayerTable(0);
    InstallProducerTables(0);
    lvObjectLibraryHooks hooks = *GetObjectLibraryHooks();
    hooks.layerAttribute = nullptr;
    SetObjectLibraryHooks(&hooks);
}

int OpenLayersLibrary(lvState *L)
{
    if (int code = RegisterCommandTable(L, LayersCommands, "layers")) return code;
    InstallLayerServices();
    return 0;
}

void CloseLayersLibrary(lvState *L, int)
{
    for (lvBGPic *b = FirstBGPic(); b; b = (lvBGPic *)b->header.next) FreeLayerList(L, b, 0);
    RemoveLayerServices();
}

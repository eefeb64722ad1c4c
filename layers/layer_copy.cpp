// layer_copy.cpp - objects that layers show by id: a change gives the layers a private
// copy first, freeing one only detaches it, and detached objects go once no layer shows
// them. The object libraries reach this through their layer service tables.
//
// Depends on: layers/lvlayer.h, images/ (brushes, BGPics, clip regions).
// Limits: script thread only.
#include "base/lverrors.h"
#include "images/lvbrush.h"
#include "images/lvclipregion.h"
#include "layers/lvlayer.h"

// Whether a layer of this type shows objects of this kind.
static bool ShowsKind(int layerType, int objectType)
{
    switch (objectType) {
    case LV_TYPE_BRUSH: return layerType == LAYER_BRUSH || layerType == LAYER_BRUSHPART;
    case LV_TYPE_BGPIC:
    case LAYER_BGPICPART: return layerType == LAYER_BGPICPART;
    case LAYER_ANIM: return layerType == LAYER_ANIM;
    case LAYER_TEXTOBJECT: return layerType == LAYER_TEXTOBJECT;
    case LAYER_VIDEO: return layerType == LAYER_VIDEO;
    default: return false;
    }
}

static bool SameId(lvObjectId a, lvObjectId b) { return a.number == b.number && a.handle == b.handle; }

static bool LayerShows(const lvLayer *l, int type, lvObjectId id)
{
    if (type == LAYER_CLIPREGION) {
        for (int s = 0; s < 3; s++)
            if (l->graphics[s] && l->graphics[s]->clipRegion == id.handle) return true;
        return false;
    }
    return ShowsKind(l->type, type) && SameId(l->source, id);
}

int FindLayerShowingObject(int type, lvObjectId id, const lvLayer *skip, lvBGPic **bgpicOut, lvLayer **layerOut)
{
    for (lvBGPic *b = FirstBGPic(); b; b = (lvBGPic *)b->header.next)
        for (lvLayer *l = FirstLayer(b); l; l = NextLayer(l)) {
            if (l == skip || !LayerShows(l, type, id)) continue;
            if (bgpicOut) *bgpicOut = b;
            if (layerOut) *layerOut = l;
            return 1;
        }
    return 0;
}

int RetargetLayerSources(int type, lvObjectId id, void *record)
{
    int any = 0;
    for (lvBGPic *b = FirstBGPic(); b; b = (lvBGPic *)b->header.next)
        for (lvLayer *l = FirstLayer(b); l; l = NextLayer(l)) {
            if (!LayerShows(l, type, id)) continue;
            any = 1;
            if (type != LAYER_CLIPREGION) l->source = {0, record};
        }
    return any;
}

// Marks a private copy as owned by the layers.
static void MarkDetached(int type, void *record)
{
    if (type == LV_TYPE_BRUSH) ((lvBrush *)record)->detached = 1;
    else if (type == LV_TYPE_BGPIC || type == LAYER_BGPICPART) ((lvBGPic *)record)->detached = 1;
}

int CopyObjectForLayers(lvState *L, int type, lvObjectId id, int (*copy)(lvState *L, void *record, lvObjectId *id),
                        void *record)
{
    if (!FindLayerShowingObject(type, id, nullptr, nullptr, nullptr)) return 0;
    lvObjectId copyId = {0, nullptr};
    if (int code = copy(L, record, &copyId)) return code;
    MarkDetached(type, copyId.handle);
    RetargetLayerSources(type, id, copyId.handle);
    return 0;
}

void FreeDetachedObjects(lvState *L, int flags)
{
    if (flags & 1) FreeDetachedBrushes(L);
    if (flags & 8) FreeDetachedBGPics();
    FreeDetachedClipRegions(L);
}

void CollectDetachedObjects(lvState *L) { FreeDetachedObjects(L, 31); }

int DetachedFlagOfType(int type)
{
    switch (type) {
    case LAYER_BRUSH:
    case LAYER_BRUSHPART: return 1;
    case LAYER_ANIM: return 2;
    case LAYER_TEXTOBJECT: return 4;
    case LAYER_BGPICPART: return 8;
    case LAYER_VIDEO: return 0x10;
    default: return 0;
    }
}

// ---- The images library's table -------------------------------------------------------------

static lvObjectId IdOfRecord(int type, const void *record)
{
    if (type == LV_TYPE_CLIPREGION) return {0, (void *)&((const lvClipRegionObject *)record)->region};
    const lvObjectHeader *h = (const lvObjectHeader *)record;
    return {h->identifier, h->handle};
}

static int ImagesCopy(void *, lvState *L, int type, lvObjectId id, int (*copy)(lvState *, void *, lvObjectId *),
                      void *record)
{
    return CopyObjectForLayers(L, type, id, copy, record);
}

static int ImagesRetarget(void *, int type, lvObjectId id, void *record)
{
    if (type == LV_TYPE_CLIPREGION) {
        lvObjectId region = IdOfRecord(type, record);
        return FindLayerShowingObject(LAYER_CLIPREGION, region, nullptr, nullptr, nullptr);
    }
    return RetargetLayerSources(type, id, record);
}

static int ImagesShowing(void *, int type, const void *record)
{
    return FindLayerShowingObject(type == LV_TYPE_CLIPREGION ? LAYER_CLIPREGION : type, IdOfRecord(type, record),
                                  nullptr, nullptr, nullptr);
}

static int ImagesCount(void *, int total)
{
    if (total) return CountAllLayers();
    lvBGPic *b = CurrentLayerBGPic();
    return b ? CountLayers(b) : 0;
}

static int ImagesAddLayer(void *, lvState *L, int type, lvObjectId id, int sx, int sy, int x, int y, int width,
                          int height, const lvDrawTags *tags, const lvStyleTags *style, int *drawn)
{
    lvBGPic *b = CurrentLayerBGPic();
    if (!b) return ERR_NOLAYERS;
    if (type != LAYER_BRUSH && type != LAYER_BRUSHPART && type != LAYER_BGPICPART) return ERR_UNIMPLCMD;
    if (type == LAYER_BRUSH) sx = sy = 0;
    // -1 names the display's own BGPic: the layer keeps its real identifier, which it
    // looks the picture up by at every composition.
    if (type == LAYER_BGPICPART && id.number == -1 && !id.handle) id = GetObjectIdOf(&b->header);
    // The drawing routine gives the top-left; the layer keeps its anchor point.
    int ax = x + (int)(tags->anchorX * width), ay = y + (int)(tags->anchorY * height);
    if (int code = AddImageLayerRecord(L, b, type, id, sx, sy, ax, ay, width, height, tags, style, -1, 0, nullptr))
        return code;
    *drawn = 1;
    return 0;
}

void InstallImageLayerTable(int on)
{
    if (!on) {
        SetImageLayerServices(nullptr);
        return;
    }
    lvImageLayerServices s = {};
    s.CopyObjectForLayers = ImagesCopy;
    s.RetargetLayerSources = ImagesRetarget;
    s.FindLayerShowingObject = ImagesShowing;
    s.CountLayers = ImagesCount;
    s.AddImageLayer = ImagesAddLayer;
    SetImageLayerServices(&s);
}

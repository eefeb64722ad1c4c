// brush.cpp - the brush record and list: look-up with access flags, release (freeing, or
// detaching while a layer shows the brush), private copies for layers, attributes, and
// the layer services' defaults.
//
// Depends on: images/lvbrush.h, images/lvbgpic.h (the current output), raster/lvimage.h.
#include <cstdio>
#include <cstring>

#include "base/lverrors.h"
#include "images/lvbgpic.h"
#include "images/lvbrush.h"
#include "images/lvoffscreen.h"
#include "images/lvpalette.h"
#include "platform/lvplatform.h"
#include "raster/lvimage.h"
#include "raster/lvraster.h"
#include "runtime/cmdsupport.h"
#include "runtime/errors.h"

static lvObjectHeader *brushList;  // in order of creation

lvObjectHeader **BrushListHead(void) { return &brushList; }

// ---- Layer services -------------------------------------------------------------------

static int NoLayerCopy(void *, lvState *, int, lvObjectId, int (*)(lvState *, void *, lvObjectId *), void *)
{
    return 0;
}
static int NoRetarget(void *, int, lvObjectId, void *) { return 0; }
static int NoLayerShows(void *, int, const void *) { return 0; }
static int NoLayers(void *, int) { return 0; }

static const lvImageLayerServices defaultLayerServices = {nullptr, NoLayerCopy, NoRetarget, NoLayerShows, NoLayers,
                                                          nullptr};
static lvImageLayerServices layerServices = defaultLayerServices;

void SetImageLayerServices(const lvImageLayerServices *s)
{
    layerServices = defaultLayerServices;
    if (!s) return;
    layerServices.context = s->context;
    if (s->CopyObjectForLayers) layerServices.CopyObjectForLayers = s->CopyObjectForLayers;
    if (s->RetargetLayerSources) layerServices.RetargetLayerSources = s->RetargetLayerSources;
    if (s->FindLayerShowingObject) layerServices.FindLayerShowingObject = s->FindLayerShowingObject;
    if (s->CountLayers) layerServices.CountLayers = s->CountLayers;
    if (s->AddImageLayer) layerServices.AddImageLayer = s->AddImageLayer;
}
const lvImageLayerServices *GetImageLayerServices(void) { return &layerServices; }

// ---- Records ----------------------------------------------------------------------------

int NewBrushRecord(lvObjectId *id, int kind, int width, int height, int rowLength, int transformed,
                   lvImageSource *source, lvBitMapHandle *bitmap, int transparentColour, lvBitMapHandle *mask,
                   lvBitMapHandle *alpha, lvBitMapHandle *penBitmap, int depth, uint32_t *palette,
                   const lvObjectId *displayId, lvCycleRange *cycleTable, int cycleCount, const char *formatName,
                   lvBrush **out)
{
    auto *r = (lvBrush *)AllocMemory(sizeof(lvBrush), 1);
    if (!r) return ERR_MEM;
    bool nil = id->number == 0 && !id->handle;
    InitObjectHeader(&r->header, LV_TYPE_BRUSH, id->number, nil);
    if (nil) id->handle = r->header.handle;
    r->kind = kind;
    r->width = width;
    r->height = height;
    r->sourceRowLength = rowLength;
    r->transformed = transformed;
    r->imageSource = source;
    r->bitmap = bitmap;
    r->transparentColour = transparentColour;
    r->mask = mask;
    r->alpha = alpha;
    r->penBitmap = penBitmap;
    r->depth = depth;
    r->palette = palette;
    if (displayId) r->displayId = *displayId;
    r->cycleTable = cycleTable;
    r->cycleCount = cycleTable ? cycleCount : 0;
    if (formatName) std::snprintf(r->formatName, sizeof r->formatName, "%s", formatName);
    lvObjectHeader **tail = &brushList;
    while (*tail) tail = &(*tail)->next;
    *tail = &r->header;
    if (out) *out = r;
    return 0;
}

static int NotFound(lvObjectId id)
{
    if (id.handle) return ERR_FINDARRAY;
    SetErrorNumberArg(id.number);
    return ERR_FINDBRUSH;
}

static int CopyBrushForLayerCallback(lvState *L, void *record, lvObjectId *id)
{
    return CopyBrushForLayer(L, id, 0, 0, nullptr, (const lvBrush *)record);
}

int FindBrushById(lvState *L, lvObjectId id, lvBrush **out, int flags)
{
    *out = nullptr;
    for (lvObjectHeader *h = brushList; h; h = h->next) {
        if (!ObjectIdMatches(h, id)) continue;
        lvBrush *r = (lvBrush *)h;
        // A brush preloaded before any display existed is realized at its first use at
        // the latest.
        if (!r->bitmap && !r->penBitmap && r->imageSource && r->imageSource->pixels && r->kind == 0)
            if (int code = RealizeBrushImage(r)) return code;
        if ((flags & BRUSH_NOVECTOR) && r->kind == 1) return ERR_BRUSHTYPE;
        if ((flags & BRUSH_NOPALETTE) && r->penBitmap) return ERR_NOPALETTEIMAGE;
        if (!(flags & BRUSH_HARDWARE) && r->hardware) return ERR_HWBRUSH;
        if (!(flags & BRUSH_DETACHED) && r->detached) continue;
        if ((flags & BRUSH_MODIFY) && r->lockCount) return ERR_LOCKEDOBJ;
        if ((flags & BRUSH_MODIFY) && !(flags & BRUSH_NOLAYERCOPY)) {
            if (int code = layerServices.CopyObjectForLayers(layerServices.context, L, LV_TYPE_BRUSH, id,
                                                             CopyBrushForLayerCallback, r))
                return code;
        }
        *out = r;
        return 0;
    }
    return NotFound(id);
}

static void ReleaseRefs(lvState *L, lvObjectUserData **list)
{
    if (L) {
        lvRefOps ops = MakeRegistryRefOps(L);
        FreeObjectUserData(list, &ops);
    } else {
        FreeObjectUserData(list, nullptr);
    }
}

void FreeBrushContents(lvBrush *r, lvState *L)
{
    FreeBitmapHandle(r->bitmap);
    FreeBitmapHandle(r->mask);
    FreeBitmapHandle(r->alpha);
    FreeBitmapHandle(r->penBitmap);
    FreeBitmapHandle(r->paletteView);
    FreeMemory(r->palette);
    FreeMemory(r->savedPixels);
    FreeMemory(r->cycleTable);
    if (r->imageSource) ReleaseImageSource(r->imageSource);
    r->bitmap = r->mask = r->alpha = r->penBitmap = r->paletteView = nullptr;
    r->palette = r->savedPixels = nullptr;
    r->cycleTable = nullptr;
    r->imageSource = nullptr;
    ReleaseRefs(L ? L : GetMainVMState(), &r->header.userData);
}

int UnlinkBrushById(lvObjectId id, lvState *L)
{
    for (lvObjectHeader **p = &brushList; *p; p = &(*p)->next) {
        if (!ObjectIdMatches(*p, id)) continue;
        lvBrush *r = (lvBrush *)*p;
        *p = r->header.next;
        FreeBrushContents(r, L);
        FreeMemory(r);
        return 0;
    }
    return NotFound(id);
}

int CheckActiveBrush(lvObjectId id)
{
    lvSelectDisplay *display = GetSelectDisplay();
    if (!display) return 0;
    int kind = display->blit.target.kind;
    if (kind != OUTPUT_IMAGE && kind != OUTPUT_MASK && kind != OUTPUT_ALPHA) return 0;
    lvBGPic *output = GetCurrentOutput();
    if (!output || output->selectedType != LV_TYPE_BRUSH) return 0;
    return ObjectIdMatches(&output->header, id) ? ERR_MODIFYABR : 0;
}

int ReleaseBrushRecord(lvState *L, lvObjectId id, int report)
{
    if (int code = CheckActiveBrush(id)) return code;
    lvBrush *r;
    int code = FindBrushById(L, id, &r, BRUSH_MODIFY | BRUSH_NOLAYERCOPY | BRUSH_HARDWARE);
    if (code) return report || code == ERR_LOCKEDOBJ ? code : 0;
    if (layerServices.RetargetLayerSources(layerServices.context, LV_TYPE_BRUSH, id, r)) {
        // The layer keeps drawing it; the script's number is free again.
        r->header.identifier = 0;
        r->header.handle = r;
        r->detached = 1;
        return 0;
    }
    return UnlinkBrushById(id, L);
}

int FreeDetachedBrushes(lvState *L)
{
    for (lvObjectHeader *h = brushList; h;) {
        lvBrush *r = (lvBrush *)h;
        h = h->next;
        if (r->detached && !layerServices.FindLayerShowingObject(layerServices.context, LV_TYPE_BRUSH, r))
            UnlinkBrushById({0, r}, L);
    }
    return 0;
}

void FreeAllBrushes(lvState *L)
{
    while (lvObjectHeader *h = brushList) {
        brushList = h->next;
        FreeBrushContents((lvBrush *)h, L);
        FreeMemory(h);
    }
}

int CopyBrushForLayer(lvState *L, lvObjectId *id, int hardware, int smoothScale, void *display, const lvBrush *s)
{
    if (hardware && !VideoBitmapsOffered()) hardware = 0;
    if (!s->bitmap && !s->penBitmap) return ERR_BITMAP;
    uint32_t *palette = nullptr;
    if (s->palette) {
        palette = (uint32_t *)AllocMemory(1024, 0);
        if (!palette) return ERR_MEM;
        std::memcpy(palette, s->palette, 1024);
    }
    lvPictureSet source = {s->bitmap, s->mask, s->alpha, s->penBitmap, nullptr};
    lvPictureSet copy = {};
    if (int code = DuplicateImage(&source, 0, 0, s->width, s->height, hardware, smoothScale, display, &copy)) {
        FreeMemory(palette);
        return code;
    }
    lvCycleRange *cycle = nullptr;
    int code = DuplicateCycleTable(s->cycleTable, s->cycleCount, &cycle);
    lvObjectUserData *userData = nullptr;
    if (!code) {
        lvRefOps ops = MakeRegistryRefOps(L ? L : GetMainVMState());
        code = CopyObjectUserData(s->header.userData, &userData, L || GetMainVMState() ? &ops : nullptr);
    }
    lvBrush *r = nullptr;
    if (!code)
        code = NewBrushRecord(id, s->kind, s->width, s->height, s->sourceRowLength, s->transformed, s->imageSource,
                              copy.rgb, s->transparentColour, copy.mask, copy.alpha, copy.chunky, s->depth, palette,
                              nullptr, cycle, s->cycleCount, s->formatName, &r);
    if (code) {
        FreeMemory(cycle);
        FreeMemory(palette);
        FreePictureSet(&copy);
        ReleaseRefs(L ? L : GetMainVMState(), &userData);
        return code;
    }
    r->header.userData = userData;
    r->loader = s->loader;
    r->smoothScale = smoothScale;
    // A copy made as a video bitmap is a hardware brush of that display: lookups must treat it
    // as one, and the display must save its pixels when it closes for a reopen.
    if (hardware && copy.rgb && copy.rgb->video) {
        r->hardware = 1;
        r->display = display;
        r->hardwareTransparency = s->hardware ? s->hardwareTransparency : (s->mask ? 1 : 0) | (s->alpha ? 2 : 0);
        if (display == s->display) r->displayId = s->displayId;
    }
    if (r->imageSource) RetainImageSource(r->imageSource);
    return 0;
}

// ---- Hardware brushes and their display ---------------------------------------------------

int SaveDisplayBrushes(void *display)
{
    for (lvObjectHeader *h = brushList; h; h = h->next) {
        lvBrush *b = (lvBrush *)h;
        if (!b->hardware || b->display != display || !b->bitmap) continue;
        int hasAlpha = 0;
        uint32_t *pixels = nullptr;
        if (int code = ReadBitmapPixels(b->bitmap, 0, 0, b->width, b->height, &hasAlpha, &pixels)) return code;
        FreeMemory(b->savedPixels);
        b->savedPixels = pixels;
        FreeBitmapHandle(b->bitmap);
        b->bitmap = nullptr;
        b->display = nullptr;
    }
    return 0;
}

int RestoreDisplayBrushes(void *display)
{
    for (lvObjectHeader *h = brushList; h; h = h->next) {
        lvBrush *b = (lvBrush *)h;
        if (!b->savedPixels) continue;
        int request = b->hardwareTransparency & 1 ? 4 : b->hardwareTransparency & 2 ? 2 : 1;
        lvBitMapHandle *rgb = nullptr, *mask = nullptr, *alpha = nullptr;
        int flags = request == 2 ? ARGBF_ALPHA : request == 4 ? ARGBF_TRANSPARENCY : 0;
        if (int code = BitmapFromArgb(b->savedPixels, b->transparentColour, b->width, b->height, b->width,
                                      b->hardware, flags, display, &rgb, &mask, &alpha))
            return code;
        FreeBitmapHandle(b->mask);
        FreeBitmapHandle(b->alpha);
        b->bitmap = rgb, b->mask = mask, b->alpha = alpha;
        if (b->hardware && !rgb->video) {
            b->hardware = 0;
            b->hardwareTransparency = 0;
            b->display = nullptr;
            b->displayId = {0, nullptr};
        } else {
            b->display = display;
        }
        FreeMemory(b->savedPixels);
        b->savedPixels = nullptr;
    }
    return 0;
}

void FreeDisplayBrushes(lvState *L, void *display)
{
    for (lvObjectHeader *h = brushList; h;) {
        lvBrush *b = (lvBrush *)h;
        h = h->next;
        if (b->hardware && b->display == display) UnlinkBrushById(GetObjectIdOf(&b->header), L);
    }
}

// ---- Attributes ---------------------------------------------------------------------------

static void PushPens(lvState *L, const uint32_t *pens, int depth)
{
    PushNewTable(L);
    if (!pens || depth < 1 || depth > 8) return;
    for (int i = 0; i < (1 << depth); i++) {
        PushNumber(L, i);
        PushNumber(L, pens[i] & 0xFFFFFFu);
        SetTableValueRaw(L, -3);
    }
}


int GetBrushAttribute(lvState *L, int attribute, lvObjectId id)
{
    lvBrush *r;
    if (int code = FindBrushById(L, id, &r, BRUSH_DETACHED | BRUSH_HARDWARE)) return code;
    switch (attribute) {
    case 0: PushNumber(L, r->width); return 1;
    case 1: PushNumber(L, r->height); return 1;
    case 5: PushNumber(L, r->penBitmap ? -1 : r->transparentColour); return 1;
    case 9: PushNumber(L, r->kind); return 1;
    case 16: PushNumber(L, r->hardware ? r->hardwareTransparency & 1 : r->mask != nullptr); return 1;
    case 17: PushNumber(L, r->hardware ? (r->hardwareTransparency >> 1) & 1 : r->alpha != nullptr); return 1;
    case 19: PushString(L, r->formatName); return 1;
    case 73: PushNumber(L, r->hardware); return 1;
    case 85:
        if (r->hardware && (r->displayId.number || r->displayId.handle)) PushObjectId(L, r->displayId);
        else PushNumber(L, -1);
        return 1;
    case 91:
        PushString(L, !r->loader ? "inbuilt" : r->loader == (void *)1 ? "native" : ((lvPluginRecord *)r->loader)->name);
        return 1;
    case 103: PushNumber(L, r->depth); return 1;
    case 104: PushPens(L, r->palette, r->penBitmap ? r->depth : 0); return 1;
    case 105: PushNumber(L, r->penBitmap ? r->transparentColour : -1); return 1;
    case 106: PushCycleTable(L, r->cycleTable, r->cycleCount); return 1;
    default: return ERR_UNKNOWNATTR;
    }
}

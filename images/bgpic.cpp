// bgpic.cpp - the BGPic record and list, its bitmaps and its colour fill.
//
// Sets share bitmaps: without scaling the shown and scaled sets hold the base set's
// pointers, so every freeing routine frees a bitmap only once.
//
// Depends on: images/lvbgpic.h, raster/lvbitmap.h, runtime/errors.h.
#include "images/lvbgpic.h"
#include "platform/lvplatform.h"
#include "runtime/errors.h"
#include "base/lverrors.h"
#include <cstdio>
#include <cstring>

static lvObjectHeader *bgpicList;  // newest last
static int (*shownQuery)(const lvBGPic *record);

lvBGPic *FirstBGPic(void) { return (lvBGPic *)bgpicList; }
lvObjectHeader **BGPicListHead(void) { return &bgpicList; }

void SetBGPicShownQuery(int (*query)(const lvBGPic *record)) { shownQuery = query; }
int IsBGPicShown(const lvBGPic *record) { return shownQuery && record ? shownQuery(record) : 0; }

static void (*pensChangedHook)(lvState *L, lvBGPic *record);
void SetBGPicPensChangedHook(void (*hook)(lvState *L, lvBGPic *record)) { pensChangedHook = hook; }
void NotifyBGPicPensChanged(lvState *L, lvBGPic *record)
{
    if (pensChangedHook && record) pensChangedHook(L, record);
}

static void SetOf(lvBGPicSet *set, lvBitMapHandle *bitmap, lvBitMapHandle *mask, lvBitMapHandle *alpha,
                  lvBitMapHandle *pen)
{
    *set = {bitmap, mask, alpha, pen};
}

int NewBGPicRecord(lvObjectId *id, int type, int width, int height, int rowLength, void *imageSource,
                   lvBitMapHandle *bitmap, uint32_t *filePalette, int transparentColour, lvBitMapHandle *mask,
                   lvBitMapHandle *alpha, lvBitMapHandle *penBitmap, int depth, uint32_t *palette,
                   const lvBGPicFill *fill, void *cycleTable, int cycleCount, const char *formatName,
                   lvBGPic **out)
{
    lvBGPic *r = (lvBGPic *)AllocMemory(sizeof(lvBGPic), 1);
    if (!r) return ERR_MEM;
    bool nil = id->number == 0 && !id->handle;
    InitObjectHeader(&r->header, LV_TYPE_BGPIC, id->number, nil);
    if (nil) id->handle = r->header.handle;
    r->type = type;
    r->imageSource = imageSource;
    SetOf(&r->base, bitmap, mask, alpha, penBitmap);
    r->scaled = r->shown = r->base;
    r->shownWidth = r->scaledWidth = r->baseWidth = width;
    r->shownHeight = r->scaledHeight = r->baseHeight = height;
    r->sourceRowLength = rowLength;
    r->depth = depth;
    r->transparentColour = transparentColour;
    r->palette = palette;
    r->filePalette = filePalette;
    r->cycleTable = cycleTable;
    r->cycleCount = cycleCount;
    r->layerHead = &r->layerNull;
    r->layerTailPred = &r->layerHead;
    if (fill) r->fill = *fill;
    if (formatName) std::snprintf(r->formatName, sizeof r->formatName, "%s", formatName);
    lvObjectHeader **tail = &bgpicList;
    while (*tail) tail = &(*tail)->next;
    *tail = &r->header;
    if (out) *out = r;
    return 0;
}

static int NotFound(lvObjectId id)
{
    if (id.handle) return ERR_FINDARRAY;
    SetErrorNumberArg(id.number);
    return ERR_FINDBGPIC;
}

int FindBGPicById(lvObjectId id, lvBGPic **out, int flags)
{
    *out = nullptr;
    for (lvObjectHeader *h = bgpicList; h; h = h->next) {
        lvBGPic *r = (lvBGPic *)h;
        if (!ObjectIdMatches(h, id)) continue;
        if (r->detached && !(flags & BGPIC_FIND_DETACHED)) continue;
        if (int code = RealizeBGPicImage(r)) return code;
        *out = r;
        return 0;
    }
    return NotFound(id);
}

static void FreeSet(lvBGPicSet *set)
{
    FreeBitmapHandle(set->bitmap);
    FreeBitmapHandle(set->mask);
    FreeBitmapHandle(set->alpha);
    FreeBitmapHandle(set->penBitmap);
    *set = {};
}

// Frees each bitmap of set that is not in either of the other two.
static void FreeSetExcept(lvBGPicSet *set, const lvBGPicSet *a, const lvBGPicSet *b)
{
    lvBitMapHandle **slots[] = {&set->bitmap, &set->mask, &set->alpha, &set->penBitmap};
    const lvBitMapHandle *const keepA[] = {a->bitmap, a->mask, a->alpha, a->penBitmap};
    const lvBitMapHandle *const keepB[] = {b->bitmap, b->mask, b->alpha, b->penBitmap};
    for (int i = 0; i < 4; i++) {
        if (*slots[i] && *slots[i] != keepA[i] && *slots[i] != keepB[i]) FreeBitmapHandle(*slots[i]);
        *slots[i] = nullptr;
    }
}

void FreeBGPicDerivedBitmaps(lvBGPic *r)
{
    FreeSetExcept(&r->shown, &r->scaled, &r->base);
    FreeSetExcept(&r->scaled, &r->base, &r->base);
}

static void (*buttonFreer)(lvBGPic *, int) = nullptr;

void SetBGPicButtonFreer(void (*freer)(lvBGPic *, int)) { buttonFreer = freer; }
static void (*layerFreer)(lvBGPic *) = nullptr;
void SetBGPicLayerFreer(void (*freer)(lvBGPic *record)) { layerFreer = freer; }

int CountBGPicLayers(const lvBGPic *r)
{
    // Every node of the list starts with its successor; the closing node has none.
    int n = 0;
    for (void *const *node = (void *const *)r->layerHead; node && *node; node = (void *const *)*node) n++;
    return n;
}

void FreeBGPicContents(int freeButtons, lvBGPic *r)
{
    if (buttonFreer && r->buttons) buttonFreer(r, freeButtons);
    if (layerFreer && r->layerHead != &r->layerNull) layerFreer(r);
    FreeBGPicDerivedBitmaps(r);
    FreeSet(&r->base);
    FreeMemory(r->palette);
    FreeMemory(r->filePalette);
    FreeMemory(r->cycleTable);
    FreeBitmapHandle(r->fill.textureBitmap);
    FreeBitmapHandle(r->fill.texturePenBitmap);
    FreeMemory(r->fill.texturePalette);
    r->palette = r->filePalette = nullptr;
    r->cycleTable = nullptr;
    r->fill.textureBitmap = r->fill.texturePenBitmap = nullptr;
    r->fill.texturePalette = nullptr;
    FreeObjectUserData(&r->header.userData, nullptr);
}

int UnlinkBGPicById(lvObjectId id)
{
    for (lvObjectHeader **p = &bgpicList; *p; p = &(*p)->next) {
        if (!ObjectIdMatches(*p, id)) continue;
        lvBGPic *r = (lvBGPic *)*p;
        *p = r->header.next;
        if (GetCurrentOutput() == r) SetCurrentOutput(nullptr);
        FreeBGPicContents(1, r);
        FreeMemory(r);
        return 0;
    }
    return NotFound(id);
}

void FreeAllBGPics(void)
{
    while (lvObjectHeader *h = bgpicList) {
        bgpicList = h->next;
        FreeBGPicContents(0, (lvBGPic *)h);
        FreeMemory(h);
    }
    SetCurrentOutput(nullptr);
}

int BGPicHasTransparency(const lvBGPic *r)
{
    return r->base.mask || r->base.alpha || (r->base.penBitmap && r->transparentColour != -1);
}

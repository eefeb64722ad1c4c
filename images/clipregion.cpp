// clipregion.cpp - clip regions: records and list, the copy of a brush's mask that a SHAPE
// region owns (so that it outlives the brush), activation on the current output, release
// (detached while a layer still uses it), and the "clipregion" command library.
//
// Depends on: images/lvclipregion.h, images/lvbrush.h, images/lvoffscreen.h, raster/lvrect.h.
#include <cstring>

#include "base/lverrors.h"
#include "images/lvimagecmd.h"
#include "images/lvbrush.h"
#include "images/lvclipregion.h"
#include "images/lvoffscreen.h"
#include "platform/lvplatform.h"
#include "raster/lvrect.h"
#include "runtime/cmdsupport.h"
#include "runtime/errors.h"

static lvObjectHeader *regionList;  // in order of creation

static int MaskBitAt(const uint8_t *row, int x) { return (row[x >> 3] >> (7 - (x & 7))) & 1; }

// A new mask of width x height holding the source's bits from (fromX, fromY).
static lvBitMapHandle *CopyMaskPart(lvBitMapHandle *source, int fromX, int fromY, int width, int height)
{
    lvBitMapHandle *copy = AllocMaskBitmap(nullptr, width, height, 1, nullptr, 0);
    if (!copy) return nullptr;
    uint8_t *from, *to;
    int fromRow, toRow;
    uintptr_t a = GetPlanePixels(source, &from, &fromRow, 0);
    uintptr_t b = a ? GetPlanePixels(copy, &to, &toRow, 1) : 0;
    if (!a || !b) {
        if (a) ReleasePlanePixels(a);
        FreeBitmapHandle(copy);
        return nullptr;
    }
    for (int y = 0; y < height; y++) {
        const uint8_t *s = from + (size_t)(fromY + y) * fromRow;
        uint8_t *d = to + (size_t)y * toRow;
        std::memset(d, 0, (size_t)toRow);
        for (int x = 0; x < width; x++)
            if (MaskBitAt(s, fromX + x)) d[x >> 3] |= uint8_t(0x80 >> (x & 7));
    }
    ReleasePlanePixels(b);
    ReleasePlanePixels(a);
    return copy;
}

int NewClipRegion(lvObjectId *id, int x, int y, int width, int height, lvBitMapHandle *mask, lvClipRegionObject **out)
{
    lvBGPic *output = GetCurrentOutput();
    x = ResolveSpecialX(x, width, output ? output->scaledWidth : 0, 0);
    y = ResolveSpecialY(y, height, output ? output->scaledHeight : 0, 0);
    if (width <= 0 || height <= 0 || (int64_t)x + width <= 0 || (int64_t)y + height <= 0) return ERR_WRONGUSAGE;
    int cutX = x < 0 ? -x : 0, cutY = y < 0 ? -y : 0;
    x += cutX, width -= cutX, y += cutY, height -= cutY;
    lvBitMapHandle *own = nullptr;
    if (mask) {
        own = CopyMaskPart(mask, cutX, cutY, width, height);
        if (!own) return ERR_ALLOCMASK;
    }
    auto *r = (lvClipRegionObject *)AllocMemory(sizeof(lvClipRegionObject), 1);
    if (!r) {
        FreeBitmapHandle(own);
        return ERR_MEM;
    }
    bool nil = id->number == 0 && !id->handle;
    InitObjectHeader(&r->header, LV_TYPE_CLIPREGION, id->number, nil);
    if (nil) id->handle = r->header.handle;
    r->region = {x, y, width, height, own};
    lvObjectHeader **tail = &regionList;
    while (*tail) tail = &(*tail)->next;
    *tail = &r->header;
    if (out) *out = r;
    return 0;
}

int FindClipRegionById(lvObjectId id, lvClipRegionObject **out, int flags)
{
    *out = nullptr;
    for (lvObjectHeader *h = regionList; h; h = h->next) {
        auto *r = (lvClipRegionObject *)h;
        if (!ObjectIdMatches(h, id) || (r->detached && !(flags & 2))) continue;
        if ((flags & 1) && r->lock) return ERR_LOCKEDOBJ;
        *out = r;
        return 0;
    }
    if (id.handle) return ERR_FINDARRAY;
    SetErrorNumberArg(id.number);
    return ERR_FINDCLIPREGION;
}

static void FreeRegion(lvState *L, lvClipRegionObject *r)
{
    FreeBitmapHandle(r->region.mask);
    lvState *state = L ? L : GetMainVMState();
    if (state) {
        lvRefOps ops = MakeRegistryRefOps(state);
        FreeObjectUserData(&r->header.userData, &ops);
    } else {
        FreeObjectUserData(&r->header.userData, nullptr);
    }
    FreeMemory(r);
}

static void Unlink(lvClipRegionObject *r)
{
    for (lvObjectHeader **p = &regionList; *p; p = &(*p)->next)
        if (*p == &r->header) {
            *p = r->header.next;
            return;
        }
}

int ReleaseClipRegion(lvState *L, lvObjectId id, int report)
{
    lvClipRegionObject *r;
    int code = FindClipRegionById(id, &r, 1 | 4);
    if (code) return report || code == ERR_LOCKEDOBJ ? code : 0;
    lvBGPic *output = GetCurrentOutput();
    if (output && output->clipRegion == &r->region) output->clipRegion = nullptr;
    lvSelectDisplay *d = GetSelectDisplay();
    if (d && d->ownBGPic && d->ownBGPic->clipRegion == &r->region) d->ownBGPic->clipRegion = nullptr;
    const lvImageLayerServices *layers = GetImageLayerServices();
    if (layers->RetargetLayerSources(layers->context, LV_TYPE_CLIPREGION, id, r)) {
        r->header.identifier = 0;
        r->header.handle = r;
        r->detached = 1;
        return 0;
    }
    Unlink(r);
    FreeRegion(L, r);
    return 0;
}

int FreeDetachedClipRegions(lvState *L)
{
    const lvImageLayerServices *layers = GetImageLayerServices();
    for (lvObjectHeader *h = regionList; h;) {
        auto *r = (lvClipRegionObject *)h;
        h = h->next;
        if (r->detached && !layers->FindLayerShowingObject(layers->context, LV_TYPE_CLIPREGION, r)) {
            Unlink(r);
            FreeRegion(L, r);
        }
    }
    return 0;
}

void FreeAllClipRegions(lvState *L)
{
    lvBGPic *output = GetCurrentOutput();
    while (lvObjectHeader *h = regionList) {
        regionList = h->next;
        auto *r = (lvClipRegionObject *)h;
        if (output && output->clipRegion == &r->region) output->clipRegion = nullptr;
        for (lvObjectHeader *b = *BGPicListHead(); b; b = b->next)
            if (((lvBGPic *)b)->clipRegion == &r->region) ((lvBGPic *)b)->clipRegion = nullptr;
        FreeRegion(L, r);
    }
}

int SetOutputClipRegion(lvClipRegionObject *r)
{
    lvSelectDisplay *d = GetSelectDisplay();
    lvBGPic *output = GetCurrentOutput();
    if (!d || !output) return ERR_OUTPUTDEVICE;
    int kind = d->blit.target.kind;
    if (kind == OUTPUT_MASK || (kind == OUTPUT_ALPHA && !d->blit.target.paletteBitmap)) return ERR_WRONGUSAGE;
    if (!r) {
        output->clipRegion = nullptr;
        d->cursorX = d->cursorY = 0;
        d->marginLeft = 0;
        d->marginRight = output->scaledWidth - 1;
        return 0;
    }
    const lvClipRegion &c = r->region;
    if ((int64_t)c.x + c.width > output->scaledWidth || (int64_t)c.y + c.height > output->scaledHeight)
        return ERR_WRONGCLIPREG;
    output->clipRegion = &r->region;
    d->cursorX = c.x;
    d->cursorY = 0;
    d->marginLeft = c.x;
    d->marginRight = c.x + c.width - 1;
    return 0;
}

// ---- Commands -----------------------------------------------------------------------------

namespace {

int CmdCreateClipRegion(lvState *L)
{
    CheckArgCount(L, 2, 6, 0, 0);
    int type = IntArg(L, 2);
    int x, y, width, height;
    lvBitMapHandle *mask = nullptr;
    if (type == 14) {
        x = IntArg(L, 3), y = IntArg(L, 4), width = IntArg(L, 5), height = IntArg(L, 6);
    } else if (type == 28) {
        lvBrush *b;
        if (int code = FindBrushById(L, GetObjectIdArg(L, 3), &b, 0)) return code;
        if (!b->mask) return ERR_NOMASKBRUSH;
        mask = b->mask;
        width = b->width, height = b->height;
        x = IntArg(L, 4), y = IntArg(L, 5);
    } else {
        return ERR_WRONGUSAGE;
    }
    int isNil = 0;
    int number = GetIntArgOrNil(L, 1, &isNil);
    lvObjectId id = {isNil ? 0 : number, nullptr};
    if (!isNil)
        if (int code = ReleaseClipRegion(L, id, 0)) return code;
    if (int code = NewClipRegion(&id, x, y, width, height, mask, nullptr)) return code;
    if (!id.handle) return 0;
    PushObjectId(L, id);
    return 1;
}

int CmdSetClipRegion(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    lvObjectId id = GetObjectIdArg(L, 1);
    if (!id.handle && (id.number == -1 || id.number == 0)) return SetOutputClipRegion(nullptr);
    lvClipRegionObject *r;
    if (int code = FindClipRegionById(id, &r, 0)) return code;
    return SetOutputClipRegion(r);
}

int CmdFreeClipRegion(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    return ReleaseClipRegion(L, GetObjectIdArg(L, 1), 1);
}

int GetClipRegionAttribute(lvState *L, int attribute, lvObjectId id)
{
    lvClipRegionObject *r;
    if (int code = FindClipRegionById(id, &r, 2)) return code;
    switch (attribute) {
    case 0: PushNumber(L, r->region.width); return 1;
    case 1: PushNumber(L, r->region.height); return 1;
    case 7: PushNumber(L, r->region.x); return 1;
    case 8: PushNumber(L, r->region.y); return 1;
    default: return ERR_UNKNOWNATTR;
    }
}

const lvCommandEntry ClipRegionCommands[] = {
    {"CreateClipRegion", CmdCreateClipRegion},
    {"SetClipRegion", CmdSetClipRegion},
    {"FreeClipRegion", CmdFreeClipRegion},
    {nullptr, nullptr},
};

const lvConstantEntry ClipRegionConstants[] = {
    {"CLIPREGION", nullptr, 35}, {"SHAPE", nullptr, 28},   {"NONE", nullptr, -1},  {"ATTRXPOS", nullptr, 7},
    {"ATTRYPOS", nullptr, 8},    {"ATTRWIDTH", nullptr, 0}, {"ATTRHEIGHT", nullptr, 1}, {nullptr, nullptr, 0},
};

}  // namespace

const lvConstantEntry *GetClipRegionConstants(void) { return ClipRegionConstants; }

int OpenClipRegionLibrary(lvState *L)
{
    if (int code = RegisterCommandTable(L, ClipRegionCommands, "clipregion")) return code;
    return RegisterObjectType(LV_TYPE_CLIPREGION, "Clip regions", &regionList, GetClipRegionAttribute, nullptr, 0);
}

void CloseClipRegionLibrary(lvState *L, int) { FreeAllClipRegions(L); }

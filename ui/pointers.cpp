// pointers.cpp - pointer images and the displays' pointers.
//
// A pointer that a display still shows when the script frees it stays alive, anonymous
// and marked, until a later SetPointer finds that no display shows it any more: its image
// must outlive every window that may still put it in force.
//
// Depends on: ui/display.h, ui/display_mirrors.h, images/lvbrush.h, raster/lvimage.h,
// raster/lvrect.h, platform/lvplatform_pointers.h.
#include "ui/pointers.h"

#include <cmath>
#include <cstring>

#include "base/lverrors.h"
#include "images/lvbrush.h"
#include "platform/lvplatform.h"
#include "platform/lvplatform_pointers.h"
#include "raster/lvimage.h"
#include "raster/lvrect.h"
#include "runtime/cmdsupport.h"
#include "runtime/errors.h"
#include "vm/lvvm.h"
#include "ui/display_mirrors.h"
#include "ui/lib_clipboard.h"

namespace {

lvObjectHeader *pointerList;

int MissingSpriteFrame(lvState *, lvObjectId, int, uint32_t **, int *, int *) { return ERR_FINDSPRITE; }
lvSpriteFrameSource spriteFrameSource = MissingSpriteFrame;

const lvDisplayAdapterState *Adapter(void)
{
    const lvDisplayAdapterState *a = GetDisplayAdapter();
    return a && a->record ? a : nullptr;
}

int DisplayIsOpen(const lvDisplay *d)
{
    return d && d->state != DISPSTATE_CLOSED;
}

lvObjectHeader **FindLink(lvObjectId id)
{
    for (lvObjectHeader **p = &pointerList; *p; p = &(*p)->next)
        if (!((lvPointer *)*p)->released && ObjectIdMatches(*p, id)) return p;
    return nullptr;
}

// Whether any display has the pointer as its current one.
int ShownByAnyDisplay(const lvPointer *pointer)
{
    for (lvDisplay *d = FirstDisplay(); d; d = (lvDisplay *)d->header.next)
        if (d->pointer == pointer) return 1;
    return 0;
}

void FreeNativeImage(void *image)
{
    if (!image) return;
    if (const lvDisplayAdapterState *a = Adapter()) {
        if (a->record->FreePointer) ((lvAdapterFreePointerFunction)a->record->FreePointer)(image);
    } else {
        FreePointerImage((lvPointerImage *)image);
    }
}

void FreePointerObject(lvObjectHeader **link)
{
    lvPointer *p = (lvPointer *)*link;
    *link = p->header.next;
    FreeNativeImage(p->image);
    if (lvState *L = GetMainVMState()) {
        lvRefOps ops = MakeRegistryRefOps(L);
        FreeObjectUserData(&p->header.userData, &ops);
    } else {
        FreeObjectUserData(&p->header.userData, nullptr);
    }
    FreeMemory(p);
}

// Frees the released pointers that no display shows any more.
void FreeReleasedPointers(void)
{
    for (lvObjectHeader **p = &pointerList; *p;) {
        lvPointer *pointer = (lvPointer *)*p;
        if (pointer->released && !ShownByAnyDisplay(pointer)) FreePointerObject(p);
        else p = &(*p)->next;
    }
}

struct PointerSetPayload {
    int32_t kind;
    void *image;
};

int ClampHot(int value, int size)
{
    if (value < 0) return size / 2;
    return value > size - 1 ? size - 1 : value;
}

}  // namespace

void SetSpriteFrameSource(lvSpriteFrameSource source)
{
    spriteFrameSource = source ? source : MissingSpriteFrame;
}

int FindPointerById(lvObjectId id, lvPointer **out)
{
    lvObjectHeader **link = FindLink(id);
    if (!link) {
        if (id.handle) return ERR_FINDARRAY;
        SetErrorNumberArg(id.number);
        return ERR_FINDPOINTER;
    }
    *out = (lvPointer *)*link;
    return 0;
}

int ReleasePointerById(lvObjectId id, int reportAbsence)
{
    lvObjectHeader **link = FindLink(id);
    if (!link) {
        if (!reportAbsence) return 0;
        lvPointer *unused;
        return FindPointerById(id, &unused);
    }
    lvPointer *p = (lvPointer *)*link;
    if (ShownByAnyDisplay(p)) {
        // No script identifier finds it any more; its image stays until the next SetPointer.
        p->header.identifier = 0;
        p->header.handle = p;
        p->released = 1;
        return 0;
    }
    FreePointerObject(link);
    return 0;
}

int CreatePointerObject(lvState *L, int number, bool automatic, int type, lvObjectId source, int frame, int hotX,
                        int hotY, lvPointer **out)
{
    *out = nullptr;
    int width = LV_STANDARD_POINTER_SIZE, height = LV_STANDARD_POINTER_SIZE;
    void *image = nullptr;
    int kind = STDPTR_CUSTOM;
    if (type == 36) {
        if (source.handle || source.number < 0 || source.number > 1) return ERR_WRONGUSAGE;
        kind = source.number;
    } else if (type == 3 || type == 32) {
        uint32_t *argb = nullptr;
        if (type == 3) {
            lvBrush *b = nullptr;
            if (int code = FindBrushById(L, source, &b, 0)) return code;
            width = b->width;
            height = b->height;
            if (int code = ClipboardArgbFromBrush(b, &argb)) return code;
        } else {
            if (int code = spriteFrameSource(L, source, frame, &argb, &width, &height)) return code;
            if (!argb) return ERR_MEM;
        }
        hotX = ClampHot(hotX, width);
        hotY = ClampHot(hotY, height);
        int32_t w = width, h = height;
        int code = 0;
        if (const lvDisplayAdapterState *a = Adapter()) {
            image = a->record->CreatePointer
                        ? ((lvAdapterCreatePointerFunction)a->record->CreatePointer)(argb, hotX, hotY, &w, &h, 0)
                        : nullptr;
            if (!image) code = ERR_POINTERIMG;
        } else {
            int pw = width, ph = height;
            code = CreatePointerImage(argb, hotX, hotY, &pw, &ph, (lvPointerImage **)&image);
            w = pw;
            h = ph;
        }
        FreeMemory(argb);
        if (code) return code;
        width = w;
        height = h;
    } else {
        return ERR_WRONGUSAGE;
    }
    lvPointer *p = (lvPointer *)AllocMemory(sizeof *p, 1);
    if (!p) {
        FreeNativeImage(image);
        return ERR_MEM;
    }
    InitObjectHeader(&p->header, LV_TYPE_POINTER, number, automatic);
    p->width = width;
    p->height = height;
    p->image = image;
    p->kind = kind;
    lvObjectHeader **tail = &pointerList;
    while (*tail) tail = &(*tail)->next;
    *tail = &p->header;
    *out = p;
    return 0;
}

void SetDisplayPointer(lvDisplay *d, lvPointer *pointer, int kind)
{
    void *image = pointer ? pointer->image : nullptr;
    if (DisplayIsOpen(d)) {
        if (const lvDisplayAdapterState *a = Adapter()) {
            if (d->handle && a->record->SetPointer)
                ((lvAdapterSetPointerFunction)a->record->SetPointer)(d->handle, kind, image);
            if (d->handle && a->record->ShowHidePointer)
                ((lvAdapterShowHidePointerFunction)a->record->ShowHidePointer)(d->handle, 1);
        } else if (d->window) {
            SetWindowPointer(d->window, (lvPointerImage *)image, kind);
        }
    }
    PointerSetPayload payload = {kind, image};
    NotifyMirrorsOfPointer(d, 6, &payload);
}

void ShowHideDisplayPointer(lvDisplay *d, int shown)
{
    if (DisplayIsOpen(d)) {
        if (const lvDisplayAdapterState *a = Adapter()) {
            if (d->handle && a->record->ShowHidePointer)
                ((lvAdapterShowHidePointerFunction)a->record->ShowHidePointer)(d->handle, shown);
        } else if (d->window) {
            if (shown) ShowWindowPointer(d->window);
            else HideWindowPointer(d->window);
        }
    }
    int32_t flag = shown ? 1 : 0;
    NotifyMirrorsOfPointer(d, 7, &flag);
}

void ApplyDisplayPointerState(lvDisplay *d)
{
    int fullScreen = d->fullScreen || d->fakeFullScreen || d->mode == DISPMODE_FULLSCREEN;
    if (d->pointerHidden || ((d->styleFlags & DSTYLE_HIDEPOINTER) && fullScreen)) {
        ShowHideDisplayPointer(d, 0);
    } else if (d->pointer) {
        lvPointer *p = (lvPointer *)d->pointer;
        SetDisplayPointer(d, p, p->kind);
    } else {
        ShowHideDisplayPointer(d, 1);
    }
}

int SetPointerOfDisplay(lvObjectId id)
{
    lvPointer *p;
    if (int code = FindPointerById(id, &p)) return code;
    lvDisplay *d = GetCurrentDisplay();
    if (d) {
        d->pointerHidden = 0;
        d->pointer = p;
        SetDisplayPointer(d, p, p->kind);
    }
    FreeReleasedPointers();
    return 0;
}

void ShowHideCurrentPointer(int shown)
{
    lvDisplay *d = GetCurrentDisplay();
    if (!d) return;
    d->pointerHidden = shown ? 0 : 1;
    ShowHideDisplayPointer(d, shown);
}

int MovePointerOnDisplay(int x, int y)
{
    lvDisplay *d = GetCurrentDisplay();
    if (!d) return 0;
    const lvPointer *p = (const lvPointer *)d->pointer;
    int w = p ? p->width : LV_STANDARD_POINTER_SIZE, h = p ? p->height : LV_STANDARD_POINTER_SIZE;
    x = ResolveSpecialX(x, w, 0, 0.0);
    y = ResolveSpecialY(y, h, 0, 0.0);
    double sx = d->scaleX > 0 ? d->scaleX : 1.0, sy = d->scaleY > 0 ? d->scaleY : 1.0;
    // Clamped before the conversion: a product beyond the int range is undefined there.
    auto toWindow = [](double v) {
        if (!(v == v)) return 0;
        if (v > LV_WINDOW_COORDINATE_LIMIT) return LV_WINDOW_COORDINATE_LIMIT;
        if (v < -LV_WINDOW_COORDINATE_LIMIT) return -LV_WINDOW_COORDINATE_LIMIT;
        return (int)v;
    };
    int wx = toWindow(x * sx), wy = toWindow(y * sy);
    if (DisplayIsOpen(d)) {
        if (const lvDisplayAdapterState *a = Adapter()) {
            if (d->handle && a->record->MovePointer)
                ((lvAdapterMovePointerFunction)a->record->MovePointer)(d->handle, wx, wy);
        } else if (d->window) {
            WarpPointer(d->window, wx, wy);
        }
    }
    int32_t at[2] = {wx, wy};
    NotifyMirrorsOfPointer(d, 8, at);
    return 0;
}

void PushDisplayPointerId(lvState *L, const lvDisplay *d)
{
    const lvPointer *p = (const lvPointer *)d->pointer;
    if (p && !p->released) PushObjectId(L, GetObjectIdOf(&p->header));
    else PushNumber(L, -1);
}

void FreeAllPointers(void)
{
    for (lvDisplay *d = FirstDisplay(); d; d = (lvDisplay *)d->header.next) d->pointer = nullptr;
    while (pointerList) FreePointerObject(&pointerList);
    ShutdownPointers();
}

lvObjectHeader **PointerListHead(void)
{
    return &pointerList;
}

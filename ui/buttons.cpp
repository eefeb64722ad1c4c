// buttons.cpp - the button engine (see buttons.h).
// Depends on: ui/buttons.h, ui/display.h, ui/input.h, runtime/errors.h.
// Limits: script thread only.
#include "ui/buttons.h"

#include "base/lverrors.h"
#include "runtime/errors.h"
#include "ui/display.h"
#include "ui/input.h"

#include <cstring>
#include <new>

const char *const ButtonFunctionNames[BUTTONFN_COUNT] = {
    "onmouseover", "onmouseout", "onmousedown", "onmouseup",
    "onrightmousedown", "onrightmouseup", "onmidmousedown", "onmidmouseup"};

static const char *const buttonActions[BUTTONFN_COUNT] = {
    "OnMouseOver", "OnMouseOut", "OnMouseDown", "OnMouseUp",
    "OnRightMouseDown", "OnRightMouseUp", "OnMidMouseDown", "OnMidMouseUp"};

static lvButtonLayerService layerService = {};

void SetButtonLayerService(const lvButtonLayerService *service)
{
    layerService = service ? *service : lvButtonLayerService{};
}

const lvButtonLayerService *GetButtonLayerService(void)
{
    return layerService.FindLayer ? &layerService : nullptr;
}

static lvBGPicButton *&Head(lvBGPic *bgpic)
{
    return reinterpret_cast<lvBGPicButton *&>(bgpic->buttons);
}

static void Release(lvState *L, int32_t reference)
{
    if (reference != -1) EventRuntime()->ReleaseReference(L, reference);
}

static void ReleaseRequest(lvState *L, lvButtonRequest *r)
{
    for (int32_t &f : r->functions) {
        Release(L, f);
        f = -1;
    }
    Release(L, r->userData);
    r->userData = -1;
}

int MakeBGPicButton(lvState *L, lvBGPic *bgpic, lvButtonRequest *r, lvBGPicButton **made)
{
    if (made) *made = nullptr;
    void *layer = nullptr;
    int code = 0;
    bool anyFunction = false;
    for (int32_t f : r->functions) anyFunction |= f != -1;
    if (r->type == SIMPLEBUTTON) {
        if (r->width <= 0 || r->height <= 0) code = ERR_WRONGUSAGE;
    } else if (r->type == LAYERBUTTON) {
        const lvButtonLayerService *layers = GetButtonLayerService();
        layer = layers ? layers->FindLayer(bgpic, r->layerPosition, r->layerName) : nullptr;
        if (!layer) code = ERR_LAYERRANGE;
        else if (layers->GetLayerButton(layer)) code = ERR_WRONGUSAGE;
    } else {
        code = ERR_WRONGUSAGE;
    }
    if (!code && !anyFunction) code = ERR_WRONGUSAGE;
    lvBGPicButton *b = nullptr;
    if (!code && !(b = new (std::nothrow) lvBGPicButton())) code = ERR_MEM;
    if (code) {
        ReleaseRequest(L, r);
        return code;
    }
    b->identifier = r->nilId ? lvEventId{0, (uintptr_t)b} : r->id;
    b->type = r->type;
    if (r->type == SIMPLEBUTTON) {
        b->left = r->x;
        b->top = r->y;
        b->right = r->x + r->width - 1;
        b->bottom = r->y + r->height - 1;
    } else {
        b->right = b->bottom = -1;
        b->layer = layer;
        b->pixelExact = r->pixelExact;
        b->noAutoHide = r->noAutoHide;
        b->zOrder = r->zOrder;
        layerService.SetLayerButton(layer, b);
    }
    b->enabled = 1;
    memcpy(b->functions, r->functions, sizeof(b->functions));
    b->userData = r->userData;
    b->next = Head(bgpic);
    Head(bgpic) = b;
    if (made) *made = b;
    return 0;
}

int FindBGPicButton(lvBGPic *bgpic, lvEventId id, lvBGPicButton **out)
{
    *out = nullptr;
    for (lvBGPicButton *b = bgpic ? Head(bgpic) : nullptr; b; b = b->next)
        if (b->identifier.number == id.number && b->identifier.handle == id.handle) {
            *out = b;
            return 0;
        }
    if (id.handle) return ERR_FINDARRAY;
    SetErrorNumberArg((int)id.number);
    return ERR_FINDBUTTON;
}

static void FreeButton(lvState *L, lvBGPicButton *b)
{
    for (int32_t f : b->functions) Release(L, f);
    Release(L, b->userData);
    if (b->layer && layerService.SetLayerButton) layerService.SetLayerButton(b->layer, nullptr);
    CancelQueuedCallbacks(L, CALLBACK_BUTTON, b);
    delete b;
}

void DeleteBGPicButton(lvState *L, lvBGPic *bgpic, lvBGPicButton *button)
{
    for (lvBGPicButton **link = &Head(bgpic); *link; link = &(*link)->next)
        if (*link == button) {
            *link = button->next;
            FreeButton(L, button);
            return;
        }
}

void FreeBGPicButtons(lvState *L, lvBGPic *bgpic)
{
    while (lvBGPicButton *b = Head(bgpic)) {
        Head(bgpic) = b->next;
        FreeButton(L, b);
    }
}

void DiscardBGPicButtons(lvBGPic *bgpic)
{
    while (lvBGPicButton *b = Head(bgpic)) {
        Head(bgpic) = b->next;
        delete b;
    }
}

void SetButtonEnabled(lvBGPicButton *b, int enabled)
{
    b->enabled = enabled ? 1 : 0;
    b->pressedLeft = b->pressedRight = b->pressedMiddle = 0;
}

void ClearButtonPresses(lvBGPic *bgpic)
{
    for (lvBGPicButton *b = bgpic ? Head(bgpic) : nullptr; b; b = b->next)
        b->pressedLeft = b->pressedRight = b->pressedMiddle = 0;
}

int CountButtons(const lvBGPic *bgpic)
{
    int n = 0;
    for (const lvBGPicButton *b = bgpic ? (const lvBGPicButton *)bgpic->buttons : nullptr; b; b = b->next) n++;
    return n;
}

int ButtonIsActive(const lvBGPicButton *b)
{
    if (!b->enabled) return 0;
    if (b->type == SIMPLEBUTTON) return 1;
    return b->noAutoHide || (layerService.LayerVisible && layerService.LayerVisible(b->layer));
}

// ---- Hit test and order ------------------------------------------------------------------

int ButtonHitTest(const lvDisplay *d, int x, int y, const lvBGPicButton *b)
{
    if (b->type == SIMPLEBUTTON) {
        int px = 0, py = 0;
        WindowToDisplayUnits(d, x, y, &px, &py);
        return px >= b->left && px <= b->right && py >= b->top && py <= b->bottom;
    }
    if (b->type != LAYERBUTTON || !layerService.LayerRect) return 0;
    double px = x - (d ? d->marginLeft : 0), py = y - (d ? d->marginTop : 0);
    if (d && d->autoscale) {
        if (d->scaleX > 0) px /= d->scaleX;
        if (d->scaleY > 0) py /= d->scaleY;
    }
    int ix = (int)px, iy = (int)py;
    int lx, ly, lw, lh;
    layerService.LayerRect(b->layer, &lx, &ly, &lw, &lh);
    if (ix < lx || ix >= lx + lw || iy < ly || iy >= ly + lh) return 0;
    return !b->pixelExact || layerService.LayerPixelSet(b->layer, ix, iy);
}

void StartButtons(lvButtonIterator *it, lvBGPic *bgpic)
{
    *it = lvButtonIterator{bgpic, nullptr, nullptr, 0};
}

lvBGPicButton *NextButton(lvButtonIterator *it, int activeOnly)
{
    if (!it->bgpic) return nullptr;
    if (it->phase == 0) {
        it->phase = 1;
        it->position = Head(it->bgpic);
    } else if (it->phase == 1 && it->position) {
        it->position = it->position->next;
    }
    if (it->phase == 1) {
        for (; it->position; it->position = it->position->next) {
            lvBGPicButton *b = it->position;
            if (b->type == LAYERBUTTON && b->zOrder) continue;
            if (activeOnly && !ButtonIsActive(b)) continue;
            return b;
        }
        it->phase = 2;
        it->layer = nullptr;
        if (!layerService.NextLayerDown) {
            it->phase = 3;
            return nullptr;
        }
    }
    while (it->phase == 2) {
        it->layer = layerService.NextLayerDown(it->bgpic, it->layer);
        if (!it->layer) {
            it->phase = 3;
            break;
        }
        lvBGPicButton *b = (lvBGPicButton *)layerService.GetLayerButton(it->layer);
        if (b && b->type == LAYERBUTTON && b->zOrder && (!activeOnly || ButtonIsActive(b))) return b;
    }
    return nullptr;
}

// ---- Callbacks -----------------------------------------------------------------------------

static int QueueButton(lvDisplay *d, lvBGPic *bgpic, lvBGPicButton *b, int fn, const lvFetchedEvent *event)
{
    if (b->functions[fn] == -1) return 0;
    lvEventCallback r;
    ClearCallbackRecord(&r);
    r.kind = CALLBACK_BUTTON;
    r.display = d;
    r.related1 = b;
    r.related2 = bgpic;
    r.function = b->functions[fn];
    r.userData = b->userData;
    r.id = b->identifier;
    snprintf(r.action, sizeof(r.action), "%s", buttonActions[fn]);
    if (event) {
        r.x = event->x;
        r.y = event->y;
        r.hasCoordinates = 1;
        r.time = event->time;
    }
    return QueueCallback(&r, event ? 0 : 1);
}

int MatchButtonEvent(lvState *, const lvFetchedEvent *event)
{
    lvDisplay *d = event->display;
    lvBGPic *bgpic = d ? d->bgpic : nullptr;
    if (!bgpic || !bgpic->buttons) return 0;
    int which = event->type == EVENT_LEFTMOUSE ? 0 : event->type == EVENT_RIGHTMOUSE ? 1 : 2;
    int downFn = which == 0 ? BUTTONFN_DOWN : which == 1 ? BUTTONFN_RIGHTDOWN : BUTTONFN_MIDDOWN;
    lvButtonIterator it;
    StartButtons(&it, bgpic);
    while (lvBGPicButton *b = NextButton(&it, 1)) {
        if (!ButtonHitTest(d, event->x, event->y, b)) continue;
        int &pressed = which == 0 ? b->pressedLeft : which == 1 ? b->pressedRight : b->pressedMiddle;
        if (event->down) {
            pressed = 1;
            return QueueButton(d, bgpic, b, downFn, event);
        }
        if (pressed) {
            pressed = 0;
            return QueueButton(d, bgpic, b, downFn + 1, event);
        }
    }
    if (!event->down)
        for (lvBGPicButton *b = Head(bgpic); b; b = b->next)
            if (b->enabled) (which == 0 ? b->pressedLeft : which == 1 ? b->pressedRight : b->pressedMiddle) = 0;
    return 0;
}

static int AnyPressed(const lvBGPicButton *b)
{
    return b->pressedLeft || b->pressedRight || b->pressedMiddle;
}

int ButtonHoverPass(lvState *, lvDisplay *d)
{
    lvBGPic *bgpic = d ? d->bgpic : nullptr;
    if (!bgpic || !bgpic->buttons) return 0;
    int mx = 0, my = 0;
    GetDisplayMousePos(d, &mx, &my);
    lvBGPicButton *pressed = nullptr, *hovered = nullptr;
    lvButtonIterator it;
    StartButtons(&it, bgpic);
    while (lvBGPicButton *b = NextButton(&it, 1)) {
        if (!pressed && AnyPressed(b)) pressed = b;
        if (!hovered && ButtonHitTest(d, mx, my, b)) hovered = b;
        if (pressed && hovered) break;
    }
    StartButtons(&it, bgpic);
    while (lvBGPicButton *b = NextButton(&it, 1)) {
        if (pressed && b != pressed) continue;
        if (b == hovered && !b->hover) {
            lvBGPicButton *old = nullptr;
            if (!pressed)
                for (lvBGPicButton *o = Head(bgpic); o; o = o->next)
                    if (o != b && o->hover) {
                        old = o;
                        break;
                    }
            if (old) {
                old->hover = 0;
                if (old->functions[BUTTONFN_OUT] != -1 && ButtonIsActive(old)) {
                    if (int code = QueueButton(d, bgpic, old, BUTTONFN_OUT, nullptr)) return code;
                    StartButtons(&it, bgpic);  // the old button's "out" comes before the new "over"
                    continue;
                }
                // Its flag is cleared without an "out": look again for others.
                StartButtons(&it, bgpic);
                continue;
            }
            b->hover = 1;
            if (int code = QueueButton(d, bgpic, b, BUTTONFN_OVER, nullptr)) return code;
        } else if (b != hovered && b->hover) {
            b->hover = 0;
            if (int code = QueueButton(d, bgpic, b, BUTTONFN_OUT, nullptr)) return code;
        }
    }
    return 0;
}

void FillButtonFields(const lvEventCallback *record, lvEventMessage *message)
{
    const lvBGPicButton *b = (const lvBGPicButton *)record->related1;
    if (!b) return;
    SetMessageId(message, b->identifier, const_cast<lvEventCallback *>(record));
    int x = b->left, y = b->top, w = b->right - b->left + 1, h = b->bottom - b->top + 1;
    if (b->type == LAYERBUTTON && layerService.LayerRect) layerService.LayerRect(b->layer, &x, &y, &w, &h);
    AddMessageNumber(message, "x", x);
    AddMessageNumber(message, "y", y);
    AddMessageNumber(message, "width", w);
    AddMessageNumber(message, "height", h);
    AddMessageNumber(message, "mousedown", b->pressedLeft);
    AddMessageNumber(message, "rightmousedown", b->pressedRight);
    AddMessageNumber(message, "midmousedown", b->pressedMiddle);
    if (record->display) AddMessageObjectId(message, "display", EventDisplays()->GetDisplayId(record->display));
    if (b->type == LAYERBUTTON && layerService.LayerPosition) {
        AddMessageNumber(message, "layer", layerService.LayerPosition((lvBGPic *)record->related2, b->layer));
        const char *name = layerService.LayerName ? layerService.LayerName(b->layer) : nullptr;
        AddMessageText(message, "layername", name ? name : "");
    }
    if (record->hasCoordinates) {
        AddMessageNumber(message, "mousex", record->x);
        AddMessageNumber(message, "mousey", record->y);
    }
}

// display_adapter.cpp - the display adapter: its record and words, the four dispatchers
// between the adapter and the platform, the main loop through the adapter, and the
// reports an adapter (or any plug-in) makes through PostAdapterEvent.
//
// PostAdapterEvent runs on the adapter's threads: it only stores into a display's input
// state and posts events. Whatever changes a display (resizing, redrawing) is posted as a
// call for the script thread, which looks the display up again by its handle, so a
// display freed in between is never touched.
//
// Depends on: ui/display.h, ui/events.h, raster/lvbitmap.h, runtime/plugin.h.
#include "platform/lvplatform.h"
#include "runtime/cmdsupport.h"
#include "runtime/errors.h"
#include "base/lverrors.h"
#include "images/lvpaint.h"
#include "raster/lvbitmap.h"
#include "runtime/plugin.h"
#include "runtime/startup.h"
#include "ui/display.h"
#include "ui/menus.h"
#include "ui/display_windows.h"
#include "ui/input.h"
#include "vm/lvvm.h"
#include <cctype>
#include <cstddef>
#include <cstdio>
#include <cstring>

static lvDisplayAdapterState adapterState;
static int adapterInstalled;
static lvDisplayAdapter rasterAdapter;

const lvDisplayAdapterState *GetDisplayAdapter(void)
{
    return adapterInstalled ? &adapterState : nullptr;
}

void ForceAdapterLoopIteration(void)
{
    // Any thread: the adapter's loop (or WaitEvents) wakes up.
    if (adapterInstalled && adapterState.record->ForceEventLoopIteration)
        ((lvAdapterForceIterationFunction)adapterState.record->ForceEventLoopIteration)(0);
}

// The adapter's sleep, for the runtime's sleeps that keep events served.
static int AdapterSleepHook(void *state, int32_t milliseconds)
{
    return ((lvAdapterSleepFunction)adapterState.record->Sleep)((lvState *)state, milliseconds);
}

// The plug-in header's bitmap types stand for the raster engine's own: the same layout.
static_assert(sizeof(lvAdapterBitmapLock) == sizeof(lvAdapterLockInfo) &&
                  offsetof(lvAdapterBitmapLock, height) == offsetof(lvAdapterLockInfo, height),
              "lvAdapterBitmapLock matches lvAdapterLockInfo");
static_assert(sizeof(lvPluginTag) == sizeof(lvBitMapTag) && offsetof(lvPluginTag, value) == offsetof(lvBitMapTag, value),
              "lvPluginTag matches lvBitMapTag");

// The adapter's Line (lvplugin.h).
static void AdapterLineHook(void *backing, int x1, int y1, int x2, int y2, uint32_t colour, int flags)
{
    ((lvAdapterLineFunction)adapterState.record->Line)(backing, x1, y1, x2, y2, colour, flags);
}

void NoteDisplayAdapter(lvPluginRecord *record, uint32_t word, const lvPluginTag *tags)
{
    adapterState = {};
    adapterState.record = record;
    adapterState.flags = word;
    adapterState.pixelFormat = PIXFMT_ARGB32;
    adapterState.extensions = record->extensions[11];
    for (const lvPluginTag *t = tags; t && t->tag; t++) {
        if (t->tag == 1) adapterState.pixelFormat = (int)t->value;
        else if (t->tag == 2) adapterState.offscreen = (uint32_t)t->value;
        else if (t->tag == 3) adapterState.bitmapCaps = (uint32_t)t->value;
    }
    adapterInstalled = 1;
    // The raster engine makes its bitmaps through the adapter when its words say so.
    rasterAdapter = {};
    rasterAdapter.flags = word;
    rasterAdapter.accel = adapterState.offscreen;
    rasterAdapter.videoCaps = adapterState.bitmapCaps;
    rasterAdapter.pixelFormat = adapterState.pixelFormat;
    rasterAdapter.AllocBitMap = (decltype(rasterAdapter.AllocBitMap))record->AllocBitMap;
    rasterAdapter.FreeBitMap = (decltype(rasterAdapter.FreeBitMap))record->FreeBitMap;
    rasterAdapter.LockBitMap = (decltype(rasterAdapter.LockBitMap))record->LockBitMap;
    rasterAdapter.UnLockBitMap = (decltype(rasterAdapter.UnLockBitMap))record->UnLockBitMap;
    rasterAdapter.GetBitMapAttr = (decltype(rasterAdapter.GetBitMapAttr))record->GetBitMapAttr;
    rasterAdapter.AllocVideoBitMap = (decltype(rasterAdapter.AllocVideoBitMap))record->AllocVideoBitMap;
    rasterAdapter.FreeVideoBitMap = (decltype(rasterAdapter.FreeVideoBitMap))record->FreeVideoBitMap;
    rasterAdapter.ReadVideoPixels = (decltype(rasterAdapter.ReadVideoPixels))record->ReadVideoPixels;
    rasterAdapter.FreeVideoPixels = (decltype(rasterAdapter.FreeVideoPixels))record->FreeVideoPixels;
    rasterAdapter.DoVideoBitMapMethod = (decltype(rasterAdapter.DoVideoBitMapMethod))record->DoVideoBitMapMethod;
    rasterAdapter.BltBitMap = (decltype(rasterAdapter.BltBitMap))record->BltBitMap;
    rasterAdapter.RectFill = (decltype(rasterAdapter.RectFill))record->RectFill;
    rasterAdapter.WritePixel = (decltype(rasterAdapter.WritePixel))record->WritePixel;
    SetRasterDisplayAdapter(&rasterAdapter);
    // One-pixel lines into the adapter's own bitmaps go to its Line when it draws them.
    SetAdapterLineHook((adapterState.offscreen & ACCEL_LINE) && record->Line ? AdapterLineHook : nullptr);
    SetWakeMainLoopHook(ForceAdapterLoopIteration);
    // The time library's waits go to the adapter when it sleeps for the runtime.
    SetAdapterSleepHook((word & LVP_ADAPTER_SLEEP) ? AdapterSleepHook : nullptr);
}

void ForgetDisplayAdapter(void)
{
    if (!adapterInstalled) return;
    SetWakeMainLoopHook(nullptr);
    SetAdapterSleepHook(nullptr);
    SetAdapterLineHook(nullptr);
    SetRasterDisplayAdapter(nullptr);
    adapterInstalled = 0;
    adapterState = {};
}

// ---- The four dispatchers ---------------------------------------------------------------

int HandleDisplayEvents(lvState *L, int mode)
{
    if (!adapterInstalled) return 0;
    int code = ((lvAdapterHandleEventsFunction)adapterState.record->HandleEvents)(L, mode, 0);
    if (code == ERR_USERABORT) RequestScriptStop(1);
    return code;
}

int WaitDisplayEvents(lvState *L)
{
    const lvEventRuntimeHooks *runtime = EventRuntime();
    if (runtime->QuitRequested()) return ERR_USERABORT;
    if (adapterInstalled) {
        lvPluginTag none = {0, 0};
        int code = ((lvAdapterWaitEventsFunction)adapterState.record->WaitEvents)(L, 1, &none);
        if (code) return code;
    } else {
        WaitScriptWake(L, 100);
    }
    return runtime->QuitRequested() ? ERR_USERABORT : 0;
}

int SleepServingEvents(lvState *L, int milliseconds)
{
    if (adapterInstalled && (adapterState.flags & LVP_ADAPTER_SLEEP)) return AdapterSleepHook(L, milliseconds);
    return SleepWithEvents(L, milliseconds);
}

int PollDisplayEvents(lvState *L, int mode)
{
    return adapterInstalled ? HandleDisplayEvents(L, mode) : PollNativeDisplayEvents(L);
}

// The event loop hooks while an adapter runs the windows.
static int AdapterWaitHook(void *state)
{
    return WaitDisplayEvents((lvState *)state);
}

static int AdapterPollHook(void *state, int *errorCode)
{
    int code = HandleDisplayEvents((lvState *)state, 2);
    *errorCode = code == ERR_USERABORT ? 0 : code;
    return code != 0;
}

void UseAdapterEventLoop(void)
{
    if (!adapterInstalled) return;
    lvEventLoopHooks hooks = {AdapterWaitHook, AdapterPollHook};
    SetEventLoopHooks(&hooks);
}

// ---- The main loop -----------------------------------------------------------------------

static int (*mainChunk)(void *state);

static int RunMainChunkRoutine(void *state)
{
    return mainChunk(state);
}

// Runs on the script thread: through the adapter's main loop when it has one.
static int ScriptThreadBody(void *state)
{
    lvPluginRecord *r = adapterState.record;
    if (adapterInstalled && (adapterState.extensions & LVP_ADAPTEREXT_MAINLOOP) && r->AdapterMainLoop)
        return ((lvAdapterMainLoopFunction)r->AdapterMainLoop)((lvState *)state, RunMainChunkRoutine, state, 0, 0);
    return mainChunk(state);
}

static int AdapterLoopBody(void *state)
{
    return RunScriptThread(ScriptThreadBody, state, LV_SCRIPT_STACK_SIZE);
}

struct lvPlainLoopStart {
    int (*body)(void *state);
    void *state;
};

static int PlainLoopBody(void *start)
{
    lvPlainLoopStart *s = (lvPlainLoopStart *)start;
    return RunScriptThread(s->body, s->state, LV_SCRIPT_STACK_SIZE);
}

int RunDisplayMainLoop(int (*body)(void *state), void *state)
{
    if (int code = InitLoopSignals()) return code;
    if (!adapterInstalled) {
        lvPlainLoopStart start = {body, state};
        return RunMainLoop(PlainLoopBody, &start);
    }
    mainChunk = body;
    return RunMainLoopWithAdapter(AdapterLoopBody, state);
}

// ---- Adapter events -----------------------------------------------------------------------

void PostQuitEvent(void)
{
    RequestScriptStop(1);
    PostEvent(nullptr, EVENT_QUIT, 0, 0, 0, nullptr);
}

// A call for the script thread, freed with its event.
struct lvDeferredDisplayWork {
    lvPluginCallbackBlock block;  // first: the queue frees the whole record as the payload
    void *handle;                 // the display, looked up again when the call runs
    int kind;                     // 6 resize, 8 redraw
    int width, height;
};

static int RunDeferredDisplayWork(lvState *L, void *data)
{
    lvDeferredDisplayWork *work = (lvDeferredDisplayWork *)data;
    lvDisplay *d = FindDisplayByHandle(work->handle);
    if (!d) return 0;  // freed or closed meanwhile: nothing to do
    if (work->kind == LVP_EVENT_SIZE) {
        if (ResizeDisplay(L, d, LV_KEEPPOSITION, LV_KEEPPOSITION, work->width, work->height, 0) == 0)
            PostEvent(d, EVENT_SIZEWINDOW, 0, 0, 0, nullptr);
    } else if (d->state == DISPSTATE_OPEN) {
        RedrawDisplay(L, d, 2);
    }
    return 0;
}

// 0 when posted, 1528 when no memory; a closed queue takes nothing silently.
static int Posted(int result)
{
    return result < 0 ? ERR_ADDSYSEVENT : 0;
}

static int PostDeferred(void *handle, int kind, int width, int height)
{
    lvDeferredDisplayWork *work = (lvDeferredDisplayWork *)AllocMemory(sizeof *work, 1);
    if (!work) return ERR_MEM;
    work->block = {RunDeferredDisplayWork, work};
    work->handle = handle;
    work->kind = kind;
    work->width = width;
    work->height = height;
    int posted = PostEvent(nullptr, EVENT_PLUGINCALLBACK, 0, 0, 0, work);
    if (posted != 1) FreeMemory(work);
    return Posted(posted);
}

static bool Held(uint32_t qualifiers, uint32_t bits)
{
    return (qualifiers & bits) == bits;
}
#define QUAL_LALT 0x80040000u
#define QUAL_RALT 0x80080000u
#define QUAL_LCONTROL 0x80400000u
#define QUAL_RCONTROL 0x80800000u
#define KEY_RETURN 274
#define KEY_ESC 275

// Step 2 of PostAdapterEvent, under the display lock.
static int PostAdapterEventLocked(int kind, lvAdapterEvent *e, int *postError)
{
    lvDisplay *d = FindDisplayByHandle((void *)e->handle);
    auto post = [&](lvDisplay *display, int type, int32_t a, int32_t b, int32_t c, void *payload) {
        if (DesktopDialogOpen() && IsUserInputEvent(type)) return;
        int r = Posted(PostEvent(display, type, a, b, c, payload));
        if (r) *postError = r;
    };
    const lvQuitSwitches *quit = GetQuitSwitches();
    switch (kind) {
    case LVP_EVENT_QUIT:
        PostQuitEvent();
        return 0;
    case LVP_EVENT_CALLBACK: {
        lvPluginCallbackBlock *block = (lvPluginCallbackBlock *)AllocMemory(sizeof *block, 1);
        if (!block) return ERR_MEM;
        block->function = (int (*)(lvState *, void *))e->handle;
        block->userData = (void *)e->a;
        int posted = PostEvent(nullptr, EVENT_PLUGINCALLBACK, 0, 0, 0, block);
        if (posted != 1) FreeMemory(block);
        if (posted < 0) *postError = ERR_ADDSYSEVENT;
        return 0;
    }
    case LVP_EVENT_MOUSE: {
        if (!d) return ERR_FINDDISPLAY;
        int x = (int)e->a, y = (int)e->b, button = (int)e->c, down = e->d ? 1 : 0;
        d->lastMouseX = x;
        d->lastMouseY = y;
        static const int types[] = {EVENT_LEFTMOUSE, EVENT_RIGHTMOUSE, EVENT_MIDMOUSE};
        if (button >= 1 && button <= 3) {
            uint8_t *state[] = {&d->events.leftButton, &d->events.rightButton, &d->events.midButton};
            *state[button - 1] = (uint8_t)down;
            post(d, types[button - 1], x, y, down, nullptr);
            if (button == 1 && down && quit->leftMouse) PostQuitEvent();
        } else {
            // Movement is folded: the next gathering pass reports it once.
            GetTimeVal(&d->events.moveTime);
            d->events.mouseMoved = 1;
        }
        return 0;
    }
    case LVP_EVENT_KEY: {
        if (!d) return 0;
        int code = (int)e->a, down = e->b ? 1 : 0;
        uint32_t qualifiers = (uint32_t)e->c;
        d->lastQualifiers = qualifiers;
        if (code >= 0 && code < LV_KEY_CODES) {
            d->events.keyState[code] = (uint8_t)down;
            d->events.keyPresses[code] += (uint8_t)down;
        }
        post(d, EVENT_KEY, down, (int32_t)qualifiers, code, nullptr);
        bool control = Held(qualifiers, QUAL_LCONTROL) || Held(qualifiers, QUAL_RCONTROL);
        bool alt = Held(qualifiers, QUAL_LALT) || Held(qualifiers, QUAL_RALT);
        if (down) {
            if (code == KEY_ESC && quit->escape) PostQuitEvent();
            else if (code >= 0 && code < 256 && std::toupper(code) == 'C' && control && quit->ctrlC) PostQuitEvent();
        } else if (code == KEY_RETURN && alt && CanSwitchDisplayMode(d) && !(d->styleFlags & DSTYLE_NOMODESWITCH)) {
            post(d, EVENT_MODESWITCH, 0, 0, 0, nullptr);
        }
        return 0;
    }
    case LVP_EVENT_CLOSE:
        if (!d) return ERR_FINDDISPLAY;
        post(d, EVENT_CLOSEWINDOW, 0, 0, 0, nullptr);
        return 0;
    case LVP_EVENT_SIZE:
        if (!d) return ERR_FINDDISPLAY;
        return PostDeferred(d->handle ? d->handle : (void *)d->window, kind, (int)e->a, (int)e->b);
    case LVP_EVENT_MOVE:
        if (!d) return ERR_FINDDISPLAY;
        d->x = (int)e->a;
        d->y = (int)e->b;
        post(d, EVENT_MOVEWINDOW, 0, 0, 0, nullptr);
        return 0;
    case LVP_EVENT_SHOW:
        if (!d) return ERR_FINDDISPLAY;
        if (e->a) {
            post(d, EVENT_SHOWWINDOW, 0, 0, 0, nullptr);
            d->state = DISPSTATE_OPEN;
            return PostDeferred(d->handle ? d->handle : (void *)d->window, kind, 0, 0);
        }
        post(d, EVENT_HIDEWINDOW, 0, 0, 0, nullptr);
        d->state = DISPSTATE_MINIMIZED;
        return 0;
    case LVP_EVENT_ACTIVE:
        if (!d) return ERR_FINDDISPLAY;
        post(d, e->a ? EVENT_ACTIVEWINDOW : EVENT_INACTIVEWINDOW, 0, 0, 0, nullptr);
        d->active = e->a ? 1 : 0;
        return 0;
    case LVP_EVENT_VANILLAKEY:
        if (d) post(d, EVENT_VANILLAKEY, 0, 0, (int32_t)e->a, nullptr);
        return 0;
    case LVP_EVENT_DROPFILES: {
        void *names = (void *)e->c;
        if (!d) {
            FreeMemory(names);  // the list became the runtime's when it was passed
            return ERR_FINDDISPLAY;
        }
        int posted = PostEvent(d, EVENT_DROPFILES, (int32_t)e->a, (int32_t)e->b, 0, names);
        if (posted != 1) FreeMemory(names);
        if (posted < 0) *postError = ERR_ADDSYSEVENT;
        return 0;
    }
    case LVP_EVENT_RAWKEY: {
        if (!d) return 0;
        int code = (int)e->a, down = e->b ? 1 : 0;
        if (code >= 0 && code < LV_KEY_CODES) {
            d->events.rawKeyState[code] = (uint8_t)down;
            d->events.rawKeyPresses[code] += (uint8_t)down;
        }
        post(d, EVENT_RAWKEY, down, 0, code, nullptr);
        return 0;
    }
    case LVP_EVENT_WHEEL:
        if (!d) return ERR_FINDDISPLAY;
        post(d, (intptr_t)e->b <= 0 ? EVENT_WHEELDOWN : EVENT_WHEELUP, 0, 0, 0, nullptr);
        return 0;
    case LVP_EVENT_MENU:
        if (!d) return ERR_FINDDISPLAY;
        PostAdapterMenuEvent(d, (const void *)e->a, (uint32_t)e->b);
        return 0;
    case LVP_EVENT_PORTDATA: {
        size_t size = (size_t)e->a;
        char *block = (char *)AllocMemory(2 + size + 1, 1);
        if (!block) return ERR_MEM;
        block[0] = 'x';
        if (size && e->handle) std::memcpy(block + 2, (const void *)e->handle, size);
        if (PostSystemEvent(14, 0, (uintptr_t)block, 0, 0, 0, 0) != 0) *postError = ERR_ADDSYSEVENT;
        return 0;
    }
    case LVP_EVENT_TRAYICON:
    case LVP_EVENT_CLIPBOARD:
        if (lvDisplay *first = FirstDisplay())
            post(first, kind == LVP_EVENT_TRAYICON ? EVENT_TRAYICON : EVENT_CLIPBOARD, 0, 0, 0, nullptr);
        return 0;
    default:
        return 0;
    }
}

int PostAdapterEvent(lvState *, int kind, lvAdapterEvent *event)
{
    if (IsShuttingDown()) return 0;
    if (kind >= LVP_EVENT_PLUGINFIRST) {
        // A plug-in's own event type: its record is the payload, whatever its size.
        int posted = PostEvent(nullptr, kind, 0, 0, 0, event);
        if (adapterInstalled) WakeMainLoop();
        else WakeScriptThread();
        return posted < 0 ? ERR_ADDSYSEVENT : 0;
    }
    if (!event) return 0;
    int postError = 0;
    LockDisplayList();
    int result = PostAdapterEventLocked(kind, event, &postError);
    UnlockDisplayList();
    if (adapterInstalled) WakeMainLoop();
    else WakeScriptThread();
    return result ? result : postError;
}

int PostAdapterEventMain(int kind, lvAdapterEvent *event)
{
    return PostAdapterEvent(GetMainVMState(), kind, event);
}

int DispatchPluginEventNow(lvState *L, int type, void *payload)
{
    lvPluginEvent *p = FindPluginEventByType(type);
    int result = 0;
    if (p && p->slot.function != -1) {
        lvEventCallback record;
        ClearCallbackRecord(&record);
        record.kind = CALLBACK_PLUGINEVENT;
        record.function = p->slot.function;
        record.userData = p->slot.userData;
        record.pluginEvent = p;
        record.pluginPayload = payload;
        std::snprintf(record.action, sizeof record.action, "%s", p->name);
        result = DispatchEventCallback(&record, L, 0, 1);
    }
    ReleaseEventPayload(L, type, payload);
    return result;
}

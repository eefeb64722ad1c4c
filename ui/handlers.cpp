// handlers.cpp - handler slots and their names, installing handlers (also into the
// slots of plug-in event types, runtime/pluginevents.h), and matching queued input
// events to handlers.
//
// A handler slot holds two registry references (function, user data; -1 none).
// Every display has 37 slots in the order of DisplayHandlerNames, the engine keeps 14
// global ones, and every plug-in event type one. Replacing a slot's reference cancels
// the queued callbacks that still use it before the reference is released, so no
// callback can run a function whose registry slot was handed out again.
// Depends on: dispatcher.cpp (cancelling), intervals.cpp (the internal interval for
// network handlers), the hooks of events.h, runtime/pluginevents.h.
// Limits: plug-in event names up to 63 bytes (the registry's).
#include "ui/events.h"
#include "base/lverrors.h"
#include <cstring>
#include <strings.h>

// ---- Names -------------------------------------------------------------------

const char *const DisplayHandlerNames[LV_DISPLAY_HANDLERS] = {
    "onkeydown",         "onkeyup",          "onmousemove",     "closewindow",
    "movewindow",        "sizewindow",       "activewindow",    "inactivewindow",
    "hidewindow",        "showwindow",       "onmousedown",     "onmouseup",
    "onrightmousedown",  "onrightmouseup",   "onwheeldown",     "onwheelup",
    "modeswitch",        "ondropfile",       "clipboardchange", "onmidmousedown",
    "onmidmouseup",      "orientationchange", "showkeyboard",   "hidekeyboard",
    "hotkey",            "trayicon",         "ontouch",         "onapplicationmessage",
    "onmenuselect",      "ondockyclick",     "vanillakey",      "onrawkeydown",
    "onrawkeyup",        "onaccelerometer",  "ongyroscope",     "showsystembars",
    "hidesystembars"};

const char *const DisplayHandlerActions[LV_DISPLAY_HANDLERS] = {
    "OnKeyDown",        "OnKeyUp",           "OnMouseMove",     "CloseWindow",
    "MoveWindow",       "SizeWindow",        "ActiveWindow",    "InactiveWindow",
    "HideWindow",       "ShowWindow",        "OnMouseDown",     "OnMouseUp",
    "OnRightMouseDown", "OnRightMouseUp",    "OnWheelDown",     "OnWheelUp",
    "ModeSwitch",       "OnDropFile",        "ClipboardChange", "OnMidMouseDown",
    "OnMidMouseUp",     "OrientationChange", "ShowKeyboard",    "HideKeyboard",
    "Hotkey",           "TrayIcon",          "OnTouch",         "OnApplicationMessage",
    "OnMenuSelect",     "OnDockyClick",      "VanillaKey",      "OnRawKeyDown",
    "OnRawKeyUp",       "OnAccelerometer",   "OnGyroscope",     "ShowSystemBars",
    "HideSystemBars"};

const char *const GlobalHandlerNames[LV_GLOBAL_HANDLERS] = {
    "onsampleloop", "onsampleend",   "onmusicend",      "onarexx",
    "onconnect",    "ondisconnect",  "onreceivedata",   "onreceiveudpdata",
    "onvideoend",   "onusermessage", "fillmusicbuffer", "runfinished",
    "directorychanged", "runoutput"};

// A window event's slot and callback kind.
struct lvWindowEventRow {
    int32_t type;  // the input event type
    int32_t slot;  // the per-display slot
    int32_t kind;  // the callback kind
};

static const lvWindowEventRow windowEventRows[] = {
    {EVENT_MOVEWINDOW, 4, CALLBACK_MOVEWINDOW},       {EVENT_SIZEWINDOW, 5, CALLBACK_SIZEWINDOW},
    {EVENT_INACTIVEWINDOW, 7, CALLBACK_WINDOW},       {EVENT_CLOSEWINDOW, 3, CALLBACK_WINDOW},
    {EVENT_ACTIVEWINDOW, 6, CALLBACK_WINDOW},         {EVENT_HIDEWINDOW, 8, CALLBACK_WINDOW},
    {EVENT_SHOWWINDOW, 9, CALLBACK_WINDOW},           {EVENT_MODESWITCH, 16, CALLBACK_MODESWITCH},
    {EVENT_DROPFILES, 17, CALLBACK_DROPFILE},         {EVENT_CLIPBOARD, 18, CALLBACK_WINDOW},
    {EVENT_ORIENTATION, 21, CALLBACK_ORIENTATION},    {EVENT_SHOWKEYBOARD, 22, CALLBACK_WINDOW},
    {EVENT_HIDEKEYBOARD, 23, CALLBACK_WINDOW},        {EVENT_HOTKEY, 24, CALLBACK_WINDOW},
    {EVENT_TRAYICON, 25, CALLBACK_WINDOW},            {EVENT_TOUCH, 26, CALLBACK_TOUCH},
    {EVENT_APPMESSAGE, 27, CALLBACK_APPMESSAGE},      {EVENT_MENUSELECT, 28, CALLBACK_MENUSELECT},
    {EVENT_DOCKYCLICK, 29, CALLBACK_WINDOW},          {EVENT_ACCELEROMETER, 33, CALLBACK_ACCELEROMETER},
    {EVENT_GYROSCOPE, 34, CALLBACK_GYROSCOPE},        {EVENT_SHOWSYSTEMBARS, 35, CALLBACK_WINDOW},
    {EVENT_HIDESYSTEMBARS, 36, CALLBACK_WINDOW},
};

// ---- State -------------------------------------------------------------------

struct lvHandlerState {
    lvHandlerSlot global[LV_GLOBAL_HANDLERS];  // the global slots
    int networkUser;                           // 1 while a network handler is installed
};

static lvHandlerState handlerState = {
    {{-1, -1}, {-1, -1}, {-1, -1}, {-1, -1}, {-1, -1}, {-1, -1}, {-1, -1},
     {-1, -1}, {-1, -1}, {-1, -1}, {-1, -1}, {-1, -1}, {-1, -1}, {-1, -1}},
    0};

lvHandlerSlot *GetGlobalHandler(int slot)
{
    if (slot < 0 || slot >= LV_GLOBAL_HANDLERS) return nullptr;
    return &handlerState.global[slot];
}

// Library open: every global slot empty. Library close: their references released.
void ResetGlobalHandlers(lvState *state, int release)
{
    for (lvHandlerSlot &slot : handlerState.global) {
        if (release) {
            if (slot.function != -1) EventRuntime()->ReleaseReference(state, slot.function);
            if (slot.userData != -1) EventRuntime()->ReleaseReference(state, slot.userData);
        }
        slot = lvHandlerSlot{-1, -1};
    }
    handlerState.networkUser = 0;
}

void InitDisplayEvents(lvDisplayEvents *events)
{
    memset(events, 0, sizeof(*events));
    for (lvHandlerSlot &slot : events->slots) slot = lvHandlerSlot{-1, -1};
}

// ---- Installing handlers ---------------------------------------------------------------

// Cancels what still uses the reference in *word, releases it and empties the word.
static void DropSlotReference(lvState *state, int32_t *word)
{
    if (*word == -1) return;
    CancelQueuedCallbacks(state, CANCEL_REFERENCE, word);
    EventRuntime()->ReleaseReference(state, *word);
    *word = -1;
}

void SetHandlerSlot(lvState *state, lvHandlerSlot *slot, int32_t function, int withUserData,
                    lvNewUserDataRef newUserData, void *context)
{
    DropSlotReference(state, &slot->function);
    slot->function = function;
    if (withUserData || function == -1) DropSlotReference(state, &slot->userData);
    if (withUserData && newUserData) slot->userData = newUserData(state, context);
}

// Reads one name and applies it to the slot; 0 or the reader's error.
static int ApplyHandlerName(lvState *state, const char *name, lvHandlerSlot *slot,
                            lvReadHandlerField read, int withUserData,
                            lvNewUserDataRef newUserData, void *context)
{
    int32_t reference = LV_HANDLER_KEEP;
    int error = read(state, name, context, &reference);
    if (error) return error;
    if (reference != LV_HANDLER_KEEP)
        SetHandlerSlot(state, slot, reference, withUserData, newUserData, context);
    return 0;
}

static int AnyNetworkHandler(void)
{
    for (int i = GLOBAL_ONCONNECT; i <= GLOBAL_ONRECEIVEUDPDATA; i++)
        if (handlerState.global[i].function != -1) return 1;
    return 0;
}

int InstallEventHandlers(lvState *state, lvDisplay *display, lvReadHandlerField read,
                         int withUserData, lvNewUserDataRef newUserData, void *context)
{
    const lvEventDisplayHooks *displays = EventDisplays();
    static const int soundSlots[] = {GLOBAL_ONSAMPLELOOP, GLOBAL_ONSAMPLEEND, GLOBAL_ONMUSICEND,
                                     GLOBAL_ONVIDEOEND};
    int32_t soundBefore[4];
    for (int i = 0; i < 4; i++) soundBefore[i] = handlerState.global[soundSlots[i]].function;
    int networkBefore = AnyNetworkHandler();
    lvDisplayEvents *events = display ? displays->GetDisplayEvents(display) : nullptr;
    if (events) {
        int32_t dropBefore = events->slots[HANDLER_ONDROPFILE].function;
        int32_t clipBefore = events->slots[HANDLER_CLIPBOARDCHANGE].function;
        for (int i = 0; i < LV_DISPLAY_HANDLERS; i++) {
            int error = ApplyHandlerName(state, DisplayHandlerNames[i], &events->slots[i], read,
                                         withUserData, newUserData, context);
            if (error) return error;
        }
        events->closeHandled = events->slots[HANDLER_CLOSEWINDOW].function != -1;
        int32_t dropNow = events->slots[HANDLER_ONDROPFILE].function;
        if (dropNow != dropBefore) {
            int error = displays->AcceptDroppedFiles(display, dropNow != -1);
            if (error) return error;
        }
        displays->SetCloseHandled(display, events->closeHandled);
        int32_t clipNow = events->slots[HANDLER_CLIPBOARDCHANGE].function;
        if (clipNow != clipBefore) {
            int error = displays->WatchClipboard(display, clipNow != -1);
            if (error) return error;
        }
    }
    for (int i = 0; i < LV_GLOBAL_HANDLERS; i++) {
        int error = ApplyHandlerName(state, GlobalHandlerNames[i], &handlerState.global[i], read,
                                     withUserData, newUserData, context);
        if (error) return error;
    }
    for (lvPluginEvent *e = FirstPluginEvent(); e; e = e->next) {
        if (e->disabled) continue;
        int error = ApplyHandlerName(state, e->name, &e->slot, read, withUserData, newUserData, context);
        if (error) return error;
    }
    // The internal interval keeps the event loop polling the network.
    int result = 0;
    int networkNow = AnyNetworkHandler();
    if (networkBefore && !networkNow) ReleaseInternalInterval(state, 1);
    else if (!networkBefore && networkNow) result = RequireInternalInterval(state, 1);
    for (int i = 0; i < 4; i++) {
        int32_t now = handlerState.global[soundSlots[i]].function;
        if (now != soundBefore[i])
            EventSources()->SetSoundEventSwitch(GlobalHandlerNames[soundSlots[i]], now != -1);
    }
    return result;
}

lvHandlerSlot *FindHandlerSlotByName(lvDisplay *display, const char *name)
{
    lvDisplayEvents *events = display ? EventDisplays()->GetDisplayEvents(display) : nullptr;
    if (events) {
        for (int i = 0; i < LV_DISPLAY_HANDLERS; i++)
            if (strcasecmp(DisplayHandlerNames[i], name) == 0) return &events->slots[i];
    }
    for (int i = 0; i < LV_GLOBAL_HANDLERS; i++)
        if (strcasecmp(GlobalHandlerNames[i], name) == 0) return &handlerState.global[i];
    lvPluginEvent *type = FindPluginEventByName(name);
    return type ? &type->slot : nullptr;
}

// ---- Matching -------------------------------------------------------------------------

// Fills the parts of a record that every display match shares.
static void FillDisplayMatch(lvEventCallback *out, const lvFetchedEvent *event, int32_t kind,
                             int slotIndex, const lvHandlerSlot &slot)
{
    out->kind = kind;
    out->display = event->display;
    out->function = slot.function;
    out->userData = slot.userData;
    out->eventType = event->type;
    out->time = event->time;
    snprintf(out->action, sizeof(out->action), "%s", DisplayHandlerActions[slotIndex]);
}

int MatchMouseHandler(lvEventCallback *out, const lvFetchedEvent *event)
{
    if (!event->display) return 0;
    lvDisplayEvents *events = EventDisplays()->GetDisplayEvents(event->display);
    if (!events) return 0;
    int slot;
    switch (event->type) {
    case EVENT_LEFTMOUSE: slot = event->down ? 10 : 11; break;
    case EVENT_RIGHTMOUSE: slot = event->down ? 12 : 13; break;
    case EVENT_MIDMOUSE: slot = event->down ? 19 : 20; break;
    case EVENT_WHEELUP: slot = 15; break;
    case EVENT_WHEELDOWN: slot = 14; break;
    default: return 0;
    }
    if (events->slots[slot].function == -1) return 0;
    FillDisplayMatch(out, event, CALLBACK_WINDOW, slot, events->slots[slot]);
    out->x = event->x;
    out->y = event->y;
    out->hasCoordinates = event->type != EVENT_WHEELUP && event->type != EVENT_WHEELDOWN;
    return 1;
}

// A character code as text in the script's encoding.
static void CharacterText(int32_t code, char *text, size_t size)
{
    char16_t wide[3] = {0, 0, 0};
    if (code >= 0x10000 && code <= 0x10FFFF) {
        wide[0] = (char16_t)(0xD800 + ((code - 0x10000) >> 10));
        wide[1] = (char16_t)(0xDC00 + ((code - 0x10000) & 0x3FF));
    } else if (code > 0 && code < 0x10000) {
        wide[0] = (char16_t)code;
    }
    WideToText(wide, text, (int)size);
}

static int MatchPluginEvent(lvEventCallback *out, const lvFetchedEvent *event)
{
    lvPluginEvent *type = FindPluginEventByType(event->type);
    if (!type) return 0;
    if (type->mode == 0 && type->slot.function == -1) return 0;
    out->kind = CALLBACK_PLUGINEVENT;
    out->display = nullptr;
    out->function = type->slot.function;
    out->userData = type->slot.userData;
    out->pluginEvent = type;
    out->pluginPayload = event->payload;
    out->eventType = event->type;
    out->time = event->time;
    snprintf(out->action, sizeof(out->action), "%s", type->name);
    return 1;
}

int MatchEventHandler(lvEventCallback *out, lvState *state, const lvFetchedEvent *event)
{
    if (event->type >= EVENT_PLUGINFIRST) return MatchPluginEvent(out, event);
    lvDisplayEvents *events = event->display ? EventDisplays()->GetDisplayEvents(event->display) : nullptr;
    if (!events) return 0;
    if (event->type == EVENT_KEY || event->type == EVENT_RAWKEY) {
        int raw = event->type == EVENT_RAWKEY;
        int slot = raw ? (event->down ? 31 : 32) : (event->down ? 0 : 1);
        if (events->slots[slot].function == -1) return 0;
        FillDisplayMatch(out, event, CALLBACK_KEY, slot, events->slots[slot]);
        out->keyCode = event->keyCode;
        out->qualifiers = event->qualifiers;
        EventDisplays()->KeyName(event->keyCode, raw, out->keyText, sizeof(out->keyText));
        return 1;
    }
    if (event->type == EVENT_VANILLAKEY) {
        if (events->slots[30].function == -1) return 0;
        FillDisplayMatch(out, event, CALLBACK_KEY, 30, events->slots[30]);
        out->keyCode = event->keyCode;
        CharacterText(event->keyCode, out->keyText, sizeof(out->keyText));
        return 1;
    }
    for (const lvWindowEventRow &row : windowEventRows) {
        if (row.type != event->type) continue;
        if (events->slots[row.slot].function == -1) return 0;
        FillDisplayMatch(out, event, row.kind, row.slot, events->slots[row.slot]);
        out->x = event->x;
        out->y = event->y;
        out->selected = event->down;
        out->payload = event->payload;
        return 1;
    }
    return 0;
}

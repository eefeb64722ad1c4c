// adapterevents.cpp - what plug-ins post into the event engine through the plug-in
// interface: adapter reports (PostAdapterEvent), the firing of a timer adapter's timers
// and the installation of a timer adapter. OpenEventEngine hands these to the runtime's
// interface table (SetPluginEventEntries) and CloseEventEngine takes them back.
//
// Reports that concern a display find none until displays exist: key reports are then
// dropped, the others refused with ERR_FINDDISPLAY, as for a handle that names no
// display. Reports of the message port come with the message ports.
// Depends on: eventqueue.cpp (PostEvent), intervals.cpp (TimerFired, the adapter),
// runtime/plugin.h (the entries, the plug-in record's exports).
// Limits: PostAdapterEvent may run on any thread; the other entries on the script thread.
#include "ui/events.h"
#include "base/lverrors.h"
#include "runtime/lvplugin.h"
#include "runtime/plugin.h"

// Adapter report kinds that need no display.
enum {
    ADAPTER_QUIT = 0,
    ADAPTER_CALLBACK = 1,
    ADAPTER_NOTHING = 2,
    ADAPTER_KEY = 4,
    ADAPTER_VANILLAKEY = 10,
    ADAPTER_RAWKEY = 12,
    ADAPTER_PORTDATA = 15,
    ADAPTER_LASTDISPLAYKIND = 17,
};

// Posts an event with no display; 0, or ERR_ADDSYSEVENT when it could not be allocated.
static int PostWithoutDisplay(int32_t type, void *payload)
{
    return PostEvent(nullptr, type, 0, 0, 0, payload) < 0 ? ERR_ADDSYSEVENT : 0;
}

static int PostAdapterEventEntry(lvState *state, int kind, void *record)
{
    if (EventRuntime()->ShuttingDown()) return 0;
    int result = 0;
    if (kind >= EVENT_PLUGINFIRST) {
        // The plug-in's own type: the record itself is the payload.
        result = PostWithoutDisplay(kind, record);
    } else if (kind == ADAPTER_QUIT) {
        result = PostWithoutDisplay(EVENT_QUIT, nullptr);
    } else if (kind == ADAPTER_CALLBACK) {
        // The function and user data sit in the first two words as pointers.
        const void *const *words = (const void *const *)record;
        lvPluginCallbackBlock *block = (lvPluginCallbackBlock *)AllocMemory(sizeof(lvPluginCallbackBlock), 1);
        if (!block || !words) {
            FreeMemory(block);
            result = words ? ERR_MEM : ERR_WRONGUSAGE;
        } else {
            block->function = (int (*)(lvState *, void *))words[0];
            block->userData = (void *)words[1];
            int posted = PostEvent(nullptr, EVENT_PLUGINCALLBACK, 0, 0, 0, block);
            if (posted != 1) FreeMemory(block);
            if (posted < 0) result = ERR_ADDSYSEVENT;
        }
    } else if (kind == ADAPTER_PORTDATA) {
        result = ERR_UNIMPLCMD;
    } else if (kind > ADAPTER_NOTHING && kind <= ADAPTER_LASTDISPLAYKIND) {
        if (kind != ADAPTER_KEY && kind != ADAPTER_VANILLAKEY && kind != ADAPTER_RAWKEY) result = ERR_FINDDISPLAY;
    }
    (void)state;
    WakeScriptThread();
    return result;
}

static int FireTimerKeyEntry(lvState *state, uintptr_t key)
{
    return TimerFired(state, key);
}

// The plug-in's RegisterTimer and FreeTimer exports serve the timers from now on.
static int UseTimerAdapterEntry(lvPluginRecord *record, uint32_t word)
{
    if (!record) return ERR_WRONGUSAGE;
    lvTimerAdapter adapter;
    adapter.RegisterTimer = (uintptr_t (*)(lvState *, int32_t, int32_t))record->RegisterTimer;
    adapter.FreeTimer = (void (*)(uintptr_t))record->FreeTimer;
    return InstallTimerAdapter(record->capabilities, &adapter, word);
}

void ConnectPluginEventEntries(int connect)
{
    static const lvPluginEventEntries entries = {PostAdapterEventEntry, FireTimerKeyEntry, UseTimerAdapterEntry};
    SetPluginEventEntries(connect ? &entries : nullptr);
}

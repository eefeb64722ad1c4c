// pluginevents.h - the one registry of event types that plug-ins add: their names,
// numbers, modes, callbacks and installed handlers.
//
// The plug-in interface registers names (kind 0 or 1) and looks up their handlers; the
// event engine installs handlers into the types' slots, matches queued events of a
// type's number and calls the type's callbacks. Both read this one list, so a type a
// plug-in registered is a handler name for InstallEventHandler at once.
// Depends on: platform/lvplatform.h (allocator). Limits: names up to 63 bytes; script
// thread only (plug-ins register from it); withdrawn types keep their number.
#pragma once
#include <cstdint>

struct lvState;  // the script machine's state (opaque here)

// An installed event handler: registry references, -1 none.
struct lvHandlerSlot {
    int32_t function;  // the handler function
    int32_t userData;  // its user data
};

// Plug-in event types are numbered from here.
enum { LV_PLUGIN_EVENT_FIRST = 34 };

// A plug-in event type.
struct lvPluginEvent {
    lvPluginEvent *next;   // registration order
    char name[64];         // matched without regard to case
    int32_t type;          // 34 for the first, then one above the last
    int32_t mode;          // 0: the runtime calls with a message table; 1: the plug-in pushes
    int disabled;          // withdrawn: invisible to names and matching
    lvHandlerSlot slot;    // the installed handler
    int (*fill)(lvState *state, int32_t type, void *payload);    // mode 0: adds fields
    int (*push)(lvState *state, int32_t type, void *payload);    // mode 1: pushes function and arguments
    void (*finish)(lvState *state, int32_t type, void *payload); // mode 1: after the call
    void (*release)(lvState *state, int32_t type, void *payload); // mode 1: frees a payload
    void *value;           // kept for the plug-in
};
// Registers a plug-in event type (callbacks and value copied from callbacks, which may be
// nullptr); its number, or 0 when an enabled type has that name, the name is empty or
// too long, the mode is not 0 or 1, or memory ran out.
int32_t RegisterPluginEvent(const char *name, int32_t mode, const lvPluginEvent *callbacks);
// Withdraws a type (it stays numbered).
void WithdrawPluginEvent(int32_t type);
// The enabled type of that number or name (case-insensitive), or nullptr.
lvPluginEvent *FindPluginEventByType(int32_t type);
lvPluginEvent *FindPluginEventByName(const char *name);
// The function reference installed for the enabled type of that name, -1 when none;
// *userData (may be nullptr) gets the user-data reference.
int32_t FindPluginEventHandler(const char *name, int32_t *userData);
// The first type (then ->next), withdrawn ones included.
lvPluginEvent *FirstPluginEvent(void);
// Frees every plug-in event type (shut-down; tests).
void FreePluginEvents(void);

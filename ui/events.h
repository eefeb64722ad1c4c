// events.h - the event engine: the input event queue, the callback queue and its
// dispatcher, handler slots and plug-in event types, intervals and time-outs, and
// the descriptions of the message tables that script callbacks receive.
//
// Files: eventqueue.cpp (input queue, stale purge), dispatcher.cpp (callback queue,
// gathering, the waits), handlers.cpp (slots, names, matching, plug-in types),
// intervals.cpp (intervals, time-outs, timer adapter), messages.cpp (message
// descriptions and the call), eventhooks.cpp (hook tables), lib_event.cpp (the
// commands and the machine's side of the hooks, declared in lib_event.h).
//
// The engine runs without the script machine: whatever needs the machine (pushing a
// function and its message table, the protected call, releasing registry
// references, completing WaitEvent's result table) goes through lvEventRuntimeHooks,
// which the event library's command layer fills. A callback is handed over as its
// registry references plus an lvEventMessage, a flat list of the table's fields, so
// the command layer only turns fields into table entries. Displays, buttons, music
// streams, the network and legacy triggers reach the engine through
// lvEventDisplayHooks and lvEventSourceHooks; every slot has a no-op default.
//
// Threads: PostEvent may run on any thread (under the event lock); everything else
// runs on the script thread.
//
// The event library's commands over this engine (each checks its arguments, calls one
// function, pushes what it returns): WaitEvent -> RunWaitEvent; CheckEvent ->
// RunCheckEvent; CheckEvents -> RunCheckEvents; SetEventTimeout -> SetEventTimeout;
// FreeEventCache -> FreeEventCache; InstallEventHandler -> InstallEventHandlers (with
// a reader of the script's table); SetInterval/SetTimeout -> SetTimerObject;
// ClearInterval/ClearTimeout -> RemoveInterval/RemoveTimeout; ChangeInterval ->
// ChangeInterval; GetAttribute of intervals, time-outs and handlers -> FindIntervalById,
// FindTimeoutById, FindHandlerSlotByName. The plug-in interface (adapterevents.cpp hands
// its entries to the runtime's table): adapter reports, TimerFired, the timer adapter,
// WaitEventLoop (mode 2); plug-in event types live in runtime/pluginevents.h. Start-up makes the event lock (InitEventLock) before any
// window; the library's open and close are OpenEventEngine and CloseEventEngine.
#pragma once
#include "platform/lvplatform.h"
#include "runtime/objects.h"
#include "runtime/pluginevents.h"
#include <cstddef>
#include <cstdint>

struct lvState;    // the script machine's state (opaque here)
struct lvDisplay;  // a display record (opaque here)

// ---- Identifiers ------------------------------------------------------------------
// An object identifier: {n, 0} for an object made with the number n, {0, address} for
// one made with Nil (the address is the handle the script holds).
struct lvEventId {
    uintptr_t number;  // the script's number (0 for a Nil identifier)
    uintptr_t handle;  // 0, or the object's own address
};

// ---- Input event types ----------------------------------------------------------------
enum lvEventType {
    EVENT_CANCELLED = 0,      // a superseded entry: consumed without effect
    EVENT_LEFTMOUSE = 1,      // a x, b y, c down
    EVENT_RIGHTMOUSE = 2,     // a x, b y, c down
    EVENT_KEY = 3,            // a down, b qualifiers, c key code
    EVENT_MOVEWINDOW = 4,
    EVENT_SIZEWINDOW = 5,
    EVENT_INACTIVEWINDOW = 6,
    EVENT_CLOSEWINDOW = 7,
    EVENT_ACTIVEWINDOW = 8,
    EVENT_HIDEWINDOW = 9,
    EVENT_SHOWWINDOW = 10,
    EVENT_WHEELUP = 11,
    EVENT_WHEELDOWN = 12,
    EVENT_MODESWITCH = 13,
    EVENT_DROPFILES = 14,     // a x, b y, payload: names, each zero-terminated, then an empty one
    EVENT_CLIPBOARD = 15,
    EVENT_MIDMOUSE = 16,      // a x, b y, c down
    EVENT_ORIENTATION = 17,
    EVENT_SHOWKEYBOARD = 18,
    EVENT_HIDEKEYBOARD = 19,
    EVENT_HOTKEY = 20,
    EVENT_TRAYICON = 21,
    EVENT_TOUCH = 22,
    EVENT_QUIT = 23,          // no display
    EVENT_PLUGINCALLBACK = 24,  // no display; payload an lvPluginCallbackBlock
    EVENT_APPMESSAGE = 25,
    EVENT_MENUSELECT = 26,    // c selected; payload the item's identifier text
    EVENT_DOCKYCLICK = 27,
    EVENT_VANILLAKEY = 28,    // c character code
    EVENT_RAWKEY = 29,        // a down, c key code
    EVENT_ACCELEROMETER = 30,
    EVENT_GYROSCOPE = 31,
    EVENT_SHOWSYSTEMBARS = 32,
    EVENT_HIDESYSTEMBARS = 33,
    EVENT_PLUGINFIRST = 34    // plug-in event types are numbered from here
};

// The payload of EVENT_PLUGINCALLBACK: a plug-in's function called on the script thread.
struct lvPluginCallbackBlock {
    int (*function)(lvState *state, void *userData);  // non-zero result stops the pass
    void *userData;                                   // handed to the function
};

// ---- Input event queue -------------------------------------------------------------------
// One queued input event.
struct lvEvent {
    lvEvent *next;        // the next (younger) event
    int32_t type;         // an lvEventType; 0 cancelled
    int32_t a, b, c;      // arguments by type
    lvTimeVal time;       // GetTimeVal at posting (the run's steady clock): the purge ages by it
    double epochTime;     // GetEpochSeconds(0) at posting: the timestamp the script sees
    lvDisplay *display;   // the display, or nullptr
    void *payload;        // owned by the entry
};

// The copy FetchEvent hands out, arguments spread by type.
struct lvFetchedEvent {
    lvDisplay *display;   // the event's display
    int32_t type;         // the event type
    int32_t x, y;         // coordinates (mouse buttons, drops, touch)
    int32_t down;         // 1 down, 0 up (mouse buttons, keys); selected state for menus
    uint32_t qualifiers;  // qualifier bits (key events)
    int32_t keyCode;      // key or character code
    double time;          // posting time, seconds since 1970
    void *payload;        // the payload (the caller's when taken)
};

// Default stale-event limit in milliseconds; LV_EVENT_PURGE_OFF switches the purge off.
#define LV_DEFAULT_EVENT_TIMEOUT 60000u
#define LV_EVENT_PURGE_OFF 0xFFFFFFFFu

// Makes the event lock (start-up, before any window). 0 or ERR_SEMAPHORE.
int InitEventLock(void);
// Frees the event lock (last step of shut-down; the queue must be closed).
void FreeEventLock(void);
void LockEvents(void);
void UnlockEvents(void);
// Appends an event; any thread. 1 appended; 0 nothing appended (no lock, queue closed,
// size event suppressed); -1 out of memory. The caller keeps the payload unless 1.
int PostEvent(lvDisplay *display, int32_t type, int32_t a, int32_t b, int32_t c, void *payload);
// Caller holds the lock: copies the n-th event (from 0); with take the payload passes to
// the caller. n + 1, or 0 when there are fewer events.
int FetchEvent(lvState *state, int n, lvFetchedEvent *out, int take);
// Removes the first n + 1 events (all with n = -1), releasing their payloads; with lock
// set takes the event lock itself. 0.
int DropEvents(lvState *state, int n, int lock);
// Clears the display of every queued event of that display (the display is being freed).
void DetachDisplayEvents(lvDisplay *display);
// Drops the oldest events whose age is above the limit.
void PurgeStaleEvents(lvState *state);
// Runs the purge when the last periodic one is more than 9 seconds old.
void PeriodicEventPurge(lvState *state);
// The event side of the runtime's event poll (the line hook and PollRuntimeEvents):
// with mode bit 0 the periodic purge. 0.
int PollEventEngine(lvState *state, int mode);
// Sets the stale-event limit in ms (LV_EVENT_PURGE_OFF: never).
void SetEventTimeout(uint32_t milliseconds);
// Drops every queued event and cancels every queued callback.
void FreeEventCache(lvState *state);
// Releases a payload of an entry that is not dispatched, by its type's rule.
void ReleaseEventPayload(lvState *state, int32_t type, void *payload);
// Number of queued entries, cancelled ones included (tests).
int CountQueuedEvents(void);

// The payload of SYSEVENT_CALLBACK (a deferred call): its own references, taken over by
// the "RunCallback" record, which releases them after the call.
struct lvDeferredCall {
    int32_t function;  // registry reference of the function
    int32_t userData;  // registry reference of the user data, -1 none
};

// ---- Callback records ----------------------------------------------------------------------
// Callback kinds; the cancel selectors 31 to 33 are not kinds.
enum lvCallbackKind {
    CALLBACK_NONE = 0, CALLBACK_BUTTON = 1, CALLBACK_KEY = 2, CALLBACK_WINDOW = 3,
    CALLBACK_SIZEWINDOW = 4, CALLBACK_MOVEWINDOW = 5, CALLBACK_INTERVAL = 6, CALLBACK_TIMEOUT = 7,
    CALLBACK_MOUSEMOVE = 8, CALLBACK_MEDIAEND = 9, CALLBACK_COMMANDMESSAGE = 10,
    CALLBACK_LABELJUMP = 11, CALLBACK_MODESWITCH = 12, CALLBACK_DROPFILE = 13,
    CALLBACK_CONNECT = 14, CALLBACK_DISCONNECT = 15, CALLBACK_RECEIVEDATA = 16,
    CALLBACK_RECEIVEUDP = 17, CALLBACK_USERMESSAGE = 18, CALLBACK_ORIENTATION = 19,
    CALLBACK_FILLMUSIC = 20, CALLBACK_PLUGINEVENT = 21, CALLBACK_TOUCH = 22,
    CALLBACK_APPMESSAGE = 23, CALLBACK_MENUSELECT = 24, CALLBACK_RUNFINISHED = 25,
    CALLBACK_DIRCHANGED = 26, CALLBACK_ACCELEROMETER = 27, CALLBACK_GYROSCOPE = 28,
    CALLBACK_RUNOUTPUT = 29, CALLBACK_RUNCALLBACK = 30, CALLBACK_DIRCHANGEDETAIL = 34
};
// Selectors of CancelQueuedCallbacks besides the kinds.
#define CANCEL_DISPLAY 31    // records of the given display
#define CANCEL_REFERENCE 32  // records using the reference stored at the given address
#define CANCEL_ALL 33        // every record

// A pending script callback.
struct lvEventCallback {
    lvEventCallback *next;        // the next record
    lvDisplay *display;           // the display it belongs to, or nullptr
    int32_t kind;                 // an lvCallbackKind; 0 holds nothing
    void *related1, *related2;    // button/BGPic, server/client, connection, interval record
    int32_t function;             // registry reference of the function; -1 none
    int32_t userData;             // registry reference of the user data; -1 none
    int64_t a, b;                 // the kind's numbers (sample time and starts, ...)
    lvEventId id;                 // object identifier; system events: the two data words
    int32_t keyCode;              // raw key code of a key event
    int32_t x, y;                 // event coordinates
    int32_t selected;             // a menu item's selected state
    uint32_t qualifiers;          // qualifier bits
    char action[64];              // the action name of the message
    char keyText[32];             // the key's name
    char *resultText;             // reply text of a command message (allocated)
    int32_t eventType;            // input event type it came from, 0 for none: the payload rule
    void *payload;                // owned payload
    int32_t stackMark;            // stack top before the call (set by the command layer)
    int idSet;                    // 1 when the message got its "id"
    lvEventId messageId;          // the identifier given as "id"
    lvPluginEvent *pluginEvent;   // the plug-in event type (kind 21)
    void *pluginPayload;          // the plug-in's payload (kind 21)
    double time;                  // posting time of the input event, seconds since 1970
    int useCurrentTime;           // 1: the timestamp is taken at dispatch
    int running;                  // 1 while its function runs
    uint32_t flags;               // bit 0: music-end bookkeeping already done
    int releaseJobAfter;          // kind 29: release the job after this callback
    int hasCoordinates;           // x and y hold the event's mouse position
};

// Clears a record for filling: all zero, references -1.
void ClearCallbackRecord(lvEventCallback *record);
// Queues a copy of the record at the tail and clears the source. 0 or ERR_MEM (the
// source then stays as it was).
int QueueCallback(lvEventCallback *record, int useCurrentTime);
// Removes every queued record that is not running and matches the selector (a kind, or
// CANCEL_*), releasing its payload. Returns the selector.
int CancelQueuedCallbacks(lvState *state, int selector, const void *object);
// Removes the queued records that are not running and point at a run job or directory
// monitor being released (kinds 25, 29, 26, 34 whose first identifier word is the
// object), freeing their payloads; the object itself is left to its owner. The
// withdrawal hook of the platform layer (WithdrawQueuedCallbacks) while the library is
// open. Returns the number removed.
int WithdrawObjectCallbacks(uintptr_t object);
// Runs queued records: all (out nullptr), or the first runnable one copied into *out
// (kind 0 when none ran). 0, an error code, or -1 (a label jump was set).
int RunQueuedCallbacks(lvState *state, lvEventCallback *out);
// Modes: 0 run one, nothing to return when none ran; 1 run one, always a table;
// 2 run all. 0 nothing on the stack, 1 the result table is on the stack, an error or -1.
int RunPendingCallbacks(int mode, lvState *state);
// Number of queued callback records (tests).
int CountQueuedCallbacks(void);
// Marks queued "OnMusicEnd" records of that music as already handled.
void MarkMusicEndHandled(lvEventId music);
// Fills a FillMusicBuffer record; queues it into record's place when record is given,
// else dispatches it at once. 0 or a code.
int FireFillMusicBuffer(lvState *state, lvEventCallback *record, lvEventId music, int64_t samples,
                        int64_t count);

// ---- Gathering and waiting -------------------------------------------------------------------
// One gathering pass. 0 or a code (ERR_USERABORT for a quit event).
int GatherEvents(lvState *state, int skipLegacyHover);
// The loop of WaitEvent (mode 0) and of the non-blocking dispatch entries (mode 2).
int WaitEventLoop(lvState *state, int mode);
// The bodies of the commands. WaitEvent: ERR_WRONGUSAGE when nested. The return value
// is a code as the command returns it; *results gets the number of values left.
int RunWaitEvent(lvState *state, int *results);
int RunCheckEvent(lvState *state, int *results);
int RunCheckEvents(lvState *state);

// ---- Handler slots ------------------------------------------------------------------------------
// An installed handler (lvHandlerSlot): runtime/pluginevents.h.

#define LV_DISPLAY_HANDLERS 37
#define LV_GLOBAL_HANDLERS 14
#define LV_KEY_CODES 314

// Per-display slot indices used by the engine itself.
enum lvDisplayHandler {
    HANDLER_ONKEYDOWN = 0, HANDLER_ONKEYUP = 1, HANDLER_ONMOUSEMOVE = 2, HANDLER_CLOSEWINDOW = 3,
    HANDLER_ONMOUSEDOWN = 10, HANDLER_ONDROPFILE = 17, HANDLER_CLIPBOARDCHANGE = 18
};
// Global slot indices.
enum lvGlobalHandler {
    GLOBAL_ONSAMPLELOOP = 0, GLOBAL_ONSAMPLEEND = 1, GLOBAL_ONMUSICEND = 2, GLOBAL_ONAREXX = 3,
    GLOBAL_ONCONNECT = 4, GLOBAL_ONDISCONNECT = 5, GLOBAL_ONRECEIVEDATA = 6,
    GLOBAL_ONRECEIVEUDPDATA = 7, GLOBAL_ONVIDEOEND = 8, GLOBAL_ONUSERMESSAGE = 9,
    GLOBAL_FILLMUSICBUFFER = 10, GLOBAL_RUNFINISHED = 11, GLOBAL_DIRECTORYCHANGED = 12,
    GLOBAL_RUNOUTPUT = 13
};

// What a display keeps for events: its handler slots and its input state. The display
// record embeds one; GetDisplayEvents of the display hooks finds it.
struct lvDisplayEvents {
    lvHandlerSlot slots[LV_DISPLAY_HANDLERS];  // per-display handlers
    uint8_t leftButton, rightButton, midButton;  // 1 while pressed
    int mouseMoved;                            // set when the mouse moved since the last pass
    lvTimeVal moveTime;                        // time of the last movement
    uint8_t keyState[LV_KEY_CODES];            // 1 while the key is down
    uint8_t rawKeyState[LV_KEY_CODES];         // the same from raw-key events
    // Presses counted (modulo 256) per key: a press and its release handled in one pass
    // still tell a waiting command that the key went down.
    uint8_t keyPresses[LV_KEY_CODES];
    uint8_t rawKeyPresses[LV_KEY_CODES];
    int closeHandled;                          // 1: closing the window posts an event instead of ending
};
// Sets every slot to -1 and clears the input state.
void InitDisplayEvents(lvDisplayEvents *events);

// Handler names: the per-display names in slot order, the global names in slot order.
extern const char *const DisplayHandlerNames[LV_DISPLAY_HANDLERS];
extern const char *const GlobalHandlerNames[LV_GLOBAL_HANDLERS];
// The action name of a per-display slot ("OnKeyDown"...).
extern const char *const DisplayHandlerActions[LV_DISPLAY_HANDLERS];
// The global slot (0..13).
lvHandlerSlot *GetGlobalHandler(int slot);

// Plug-in event types: runtime/pluginevents.h (one registry with the plug-in interface).

// How the command layer reads one handler name out of the script's table: *reference
// gets a new function reference, LV_HANDLER_REMOVE (a number: remove) or LV_HANDLER_KEEP
// (absent). Returns 0, or an error code for a value of another type (ERR_FUNCEXPECTED).
#define LV_HANDLER_REMOVE -1
#define LV_HANDLER_KEEP -2
typedef int (*lvReadHandlerField)(lvState *state, const char *name, void *context,
                                  int32_t *reference);
// Makes a new reference to the user-data argument of InstallEventHandler.
typedef int32_t (*lvNewUserDataRef)(lvState *state, void *context);
// Puts a new function into a slot (SetHandlerSlot of the command): cancels and releases
// what it replaces; with withUserData the user data is replaced by newUserData().
void SetHandlerSlot(lvState *state, lvHandlerSlot *slot, int32_t function, int withUserData,
                    lvNewUserDataRef newUserData, void *context);
// The engine of InstallEventHandler on the current display (nullptr: global and plug-in
// names only). 0 or an error code.
int InstallEventHandlers(lvState *state, lvDisplay *display, lvReadHandlerField read,
                         int withUserData, lvNewUserDataRef newUserData, void *context);
// The slot a handler name names, compared without regard to case: the display's (nullptr:
// none), then a global one, then an enabled plug-in type's. nullptr for an unknown name
// (the attribute query then fails with ERR_UNKNOWNTAG).
lvHandlerSlot *FindHandlerSlotByName(lvDisplay *display, const char *name);
// Matching of one input event; 1 and a filled record on a match.
int MatchMouseHandler(lvEventCallback *out, const lvFetchedEvent *event);
int MatchEventHandler(lvEventCallback *out, lvState *state, const lvFetchedEvent *event);

// ---- Intervals and time-outs ------------------------------------------------------------------
#define LV_TYPE_INTERVAL 41
#define LV_TYPE_TIMEOUT 42

// An interval or a time-out: an object of type 41 or 42, so the generic object
// commands find it through the lists' heads (IntervalListHead, TimeoutListHead).
struct lvInterval {
    lvObjectHeader header;   // type, identifier (also the platform timer's key), user data, list link
    int32_t function;        // registry reference; -1 for the internal interval
    int32_t period;          // milliseconds, above 0
    int32_t userData;        // registry reference; -1 none
    uintptr_t adapterTimer;  // the timer adapter's handle
};

// The timer adapter a plug-in installs.
struct lvTimerAdapter {
    uintptr_t (*RegisterTimer)(lvState *state, int32_t period, int32_t oneShot);  // handle, 0 refused
    void (*FreeTimer)(uintptr_t handle);  // frees a handle
};
#define LV_PLUGINCAPS_TIMERADAPTER 0x1000u

// Adds an interval or a time-out (type) with the references given (taken over); with
// nilId the record's address becomes its handle. 0, ERR_TIMER or ERR_MEM; *made (may be
// nullptr) gets the record. On failure the references are released.
int AddTimer(lvState *state, int32_t type, lvObjectId id, int nilId, int32_t period,
             int32_t function, int32_t userData, int internal, lvInterval **made);
// The engine of SetInterval/SetTimeout: refuses a period of 0 or less (ERR_WRONGUSAGE),
// removes an existing record of a numeric identifier, then AddTimer. The references are
// taken over (released on failure).
int SetTimerObject(lvState *state, int32_t type, lvObjectId id, int nilId, int32_t period,
                   int32_t function, int32_t userData, lvInterval **made);
// A fired time-out whose callback is about to run: unlinked and freed; its references
// stay with the callback record, which releases them after the call.
void DiscardFiredTimeout(lvState *state, lvInterval *timeout);
// Removes the record of that identifier: 0, or ERR_FINDINTERVAL/ERR_FINDTIMEOUT for a
// number, ERR_FINDARRAY for a handle.
int RemoveInterval(lvState *state, lvObjectId id);
int RemoveTimeout(lvState *state, lvObjectId id);
// Finds a record: 0, or the error as for removing.
int FindIntervalById(lvObjectId id, lvInterval **out);
int FindTimeoutById(lvObjectId id, lvInterval **out);
// The record of a platform timer's key (type LV_TYPE_INTERVAL or _TIMEOUT), or nullptr.
lvInterval *FindTimerByKey(int32_t type, lvTimerKey key);
// The identifier of a record as the callback records carry it.
lvEventId TimerEventId(const lvInterval *record);
// New period: ERR_WRONGUSAGE for a period of 0 or less, the find errors, ERR_TIMER.
int ChangeInterval(lvState *state, lvObjectId id, int32_t period);
// The internal 20 ms interval's users: 0 music streams, 1 network handlers.
int RequireInternalInterval(lvState *state, int user);
void ReleaseInternalInterval(lvState *state, int user);
int InternalIntervalUsers(void);
// Plug-in entries of the timer adapter.
int InstallTimerAdapter(uint32_t capabilities, const lvTimerAdapter *adapter, uint32_t flags);
int TimerFired(lvState *state, uintptr_t handle);
void RemoveTimerAdapter(void);
// The lists (creation order), and their heads for the object-type registry.
lvInterval *FirstInterval(void);
lvInterval *FirstTimeout(void);
lvInterval *NextTimer(const lvInterval *record);
lvObjectHeader **IntervalListHead(void);
lvObjectHeader **TimeoutListHead(void);
// Frees every interval and time-out with their references (library close).
void FreeAllTimers(lvState *state);

// ---- Message descriptions --------------------------------------------------------------------
enum lvMessageFieldType {
    MSGFIELD_NUMBER = 0,     // number
    MSGFIELD_TEXT = 1,       // text, zero-terminated
    MSGFIELD_BYTES = 2,      // text and length (zero bytes inside)
    MSGFIELD_OBJECTID = 3,   // an identifier: a number, or the handle
    MSGFIELD_REFERENCE = 4,  // the value of a registry reference
    MSGFIELD_TEXTLIST = 5    // a table of texts from 0: packed names, each zero-terminated,
                             // ended by an empty name
};

// One field of a message table.
struct lvMessageField {
    const char *name;   // field name (a literal)
    int32_t type;       // lvMessageFieldType
    double number;      // MSGFIELD_NUMBER
    const char *text;   // MSGFIELD_TEXT, _BYTES, _TEXTLIST (owned by the record or message)
    size_t length;      // MSGFIELD_BYTES
    lvEventId id;       // MSGFIELD_OBJECTID
    int32_t reference;  // MSGFIELD_REFERENCE
};

#define LV_MAX_MESSAGE_FIELDS 24
// The description of one message table.
struct lvEventMessage {
    lvMessageField fields[LV_MAX_MESSAGE_FIELDS];  // in the order they are set
    int count;                                     // fields used
    char *owned[4];                                // texts made for the message, freed with it
    int ownedCount;                                // how many
};
void AddMessageNumber(lvEventMessage *message, const char *name, double value);
void AddMessageText(lvEventMessage *message, const char *name, const char *text);
void AddMessageBytes(lvEventMessage *message, const char *name, const char *bytes, size_t length);
void AddMessageObjectId(lvEventMessage *message, const char *name, lvEventId id);
void AddMessageReference(lvEventMessage *message, const char *name, int32_t reference);
void AddMessageTextList(lvEventMessage *message, const char *name, const char *packed);
// Sets "id" and notes the identifier in the record.
void SetMessageId(lvEventMessage *message, lvEventId id, lvEventCallback *record);
// The field of that name, or nullptr.
const lvMessageField *FindMessageField(const lvEventMessage *message, const char *name);
// Frees the texts the message owns.
void FreeEventMessage(lvEventMessage *message);
// Splits a message text into command, rawargs, args (blanks outside quotes become
// zero bytes, quotes dropped) and argc. 0 or ERR_MEM.
int DescribeCommandMessage(lvEventMessage *message, const char *text);
// Qualifier bits to the script's modifier bits.
uint32_t QualifiersToModifiers(uint32_t qualifiers);
// Builds the message of a record: fields by kind, "userdata", "timestamp". 0 or ERR_MEM.
int BuildEventMessage(lvState *state, lvEventCallback *record, int useCurrentTime,
                      lvEventMessage *message);
// 1 for a record after whose call its finished job (the first identifier word) is
// released: "RunFinished", and "RunOutput" when the job finished unreported meanwhile.
int ReleasesJobAfterCall(const lvEventCallback *record);
// Builds the message and calls the function (with want table the table stays below
// the results). 0, an error code, or ERR_USERABORT when a quit was asked for.
int DispatchEventCallback(lvEventCallback *record, lvState *state, int wantTable, int useCurrentTime);

// ---- Hooks --------------------------------------------------------------------------------------
// What the engine needs of the script machine and the runtime core. No hook may throw:
// the engine may hold the event lock or a running record around them.
struct lvEventRuntimeHooks {
    // Pushes the function of record->function and a table made from message (plus a copy
    // below the function when wantTable), sets record->stackMark, and calls it protected
    // with one argument keeping all results (wantTable) or none. 0 or the call's error.
    int (*CallFunction)(lvState *state, lvEventCallback *record, const lvEventMessage *message,
                        int wantTable);
    // The protected call of a function and arguments a plug-in pushed; 0 or the error.
    int (*ProtectedCall)(lvState *state, int argumentCount, int resultCount);
    // Completes WaitEvent's result table. triggered 1: the message table of ran's call is
    // on the stack with the results above ran->stackMark + 1 (moved into "results");
    // triggered 0: a new empty table (ran nullptr when no callback ran, or a mode-1
    // plug-in event). Then "action", "id" (ran->messageId when ran->idSet), "nresults",
    // "triggered". Returns 1 (the table is on the stack) or an error code (nothing left).
    int (*CompleteResultTable)(lvState *state, const lvEventCallback *ran, int triggered);
    void (*ReleaseReference)(lvState *state, int32_t reference);     // frees a registry slot
    int (*QuitRequested)(void);                                      // the run is to end
    int (*ShuttingDown)(void);                                       // libraries are closing
    void (*SetCallbackDepth)(int raise);                             // 1 before, 0 after a callback
    int (*InAdapterSetupPhase)(void);                                // start-up plug-ins being required
    int (*CheckEventDisabled)(void);                                 // a plug-in switched CheckEvent off
    int32_t (*CurrentInstructionIndex)(lvState *state);              // for label jumps
    void (*SetJumpOffset)(lvState *state, int32_t offset);           // asks for a label jump
    double (*RuntimeStartTime)(void);                                // seconds since 1970 at start-up
};

// What the engine needs of the displays and buttons.
struct lvEventDisplayHooks {
    lvDisplay *(*CurrentDisplay)(void);                         // the current display, or nullptr
    lvDisplayEvents *(*GetDisplayEvents)(lvDisplay *display);  // the display's handler slots
    lvDisplay *(*NextDisplay)(lvDisplay *display);             // the list: nullptr gives the first
    int (*SuppressSizeEvent)(lvDisplay *display);              // autoscaled, not system-scale mode
    int (*HaveDisplayAdapter)(void);                           // a display adapter is installed
    int (*SwitchDisplayMode)(lvState *state, lvDisplay *display);  // mode switch through the adapter
    uint32_t (*GetQualifiers)(lvDisplay *display);             // current qualifier bits
    void (*KeyName)(int32_t code, int raw, char *text, size_t size);  // a key code's name
    // Adds the display fields of kinds 4, 5, 8, 12, 13 (the drop point), 19 and 1 (buttons).
    void (*FillDisplayFields)(lvState *state, const lvEventCallback *record, lvEventMessage *message);
    // Queues the records of buttons under an event (before the key/window matching). 0 or a code.
    int (*MatchButtons)(lvState *state, const lvFetchedEvent *event);
    // Queues the "OnMouseOver"/"OnMouseOut" records of a display's buttons. 0 or a code.
    int (*ButtonHover)(lvState *state, lvDisplay *display);
    // Accept dropped files / watch the clipboard for a display after its handler changed.
    int (*AcceptDroppedFiles)(lvDisplay *display, int accept);
    int (*WatchClipboard)(lvDisplay *display, int watch);
    void (*SetCloseHandled)(lvDisplay *display, int handled);  // tells an adapter
    lvEventId (*GetDisplayId)(lvDisplay *display);             // the display's identifier
    void (*DrawPendingVideoFrames)(lvState *state);             // frames video threads queued
    // Brings the place and size the window system gave a display's window into the display
    // before a move or size event of it runs (the message reads them): the pumping thread
    // may post the event before the script thread's next collection. 0 or a code.
    int (*CollectWindowChanges)(lvState *state);
};

// The event sources that other subsystems own.
struct lvEventSourceHooks {
    // A music stream that needs data: 1 with its identifier and numbers, else 0.
    int (*NextMusicRequest)(lvEventId *music, int64_t *samples, int64_t *count);
    void (*MusicCallbackRunning)(int running);                 // around a FillMusicBuffer call
    void (*MusicEndBookkeeping)(lvState *state, lvEventId music);  // before "OnMusicEnd"
    void (*SetSoundEventSwitch)(const char *name, int on);     // onsampleloop/-end, onmusicend, onvideoend
    int (*PollNetwork)(lvState *state);                        // queues network records; 0 or a code
    int (*HaveLegacyTriggers)(void);                           // legacy triggers exist
    int (*QueueLegacyJumps)(lvState *state);                   // under the event lock; 0 or a code
    int (*LegacyHover)(lvState *state);                        // 0 or a code
    int (*JobWantsReport)(void *job);                          // a finished job is to be reported
    void (*ReleaseRunJob)(lvState *state, void *job);          // releases a finished job
    // Adds the fields of the kinds whose objects other subsystems own: 14 to 17 (network
    // objects), 25 and 29 (jobs), 26 and 34 (directory monitors).
    void (*FillSourceFields)(lvState *state, const lvEventCallback *record, lvEventMessage *message);
    void (*FreePort)(lvState *state);                          // frees the message port at close
    void (*ServiceSound)(void);  // first in every gathering pass: sound marks to events, reaper
    // 1 while a network handler watches an object: WaitEvent then gathers again within a
    // millisecond (sockets do not wake the script thread).
    int (*NetworkWatched)(void);
};

// Installs hooks (nullptr: the defaults); empty slots get no-op defaults.
void SetEventRuntimeHooks(const lvEventRuntimeHooks *hooks);
void SetEventDisplayHooks(const lvEventDisplayHooks *hooks);
void SetEventSourceHooks(const lvEventSourceHooks *hooks);
const lvEventRuntimeHooks *EventRuntime(void);
const lvEventDisplayHooks *EventDisplays(void);
const lvEventSourceHooks *EventSources(void);

// ---- Library open and close -----------------------------------------------------------------------
// Opens the engine: event lock and loop signals made when missing, queue open, global
// slots -1, last purge noted, timer queue started. 0, ERR_CREATEEVENT, ERR_TIMER or
// ERR_SEMAPHORE.
int OpenEventEngine(lvState *state);
// Frees callbacks, timers, the timer queue and queued events; closes the queue.
void CloseEventEngine(lvState *state);
// Hands the engine's plug-in entries (adapter reports, timer firing, the timer adapter's
// installation) to the runtime's interface table (connect 1), or takes them back (0).
void ConnectPluginEventEntries(int connect);

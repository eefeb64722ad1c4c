// lib_event.cpp - the event library's commands over the event engine, and the engine's
// hooks into the script machine.
//
// Each command checks its arguments, calls one engine function and pushes what it
// answers; engine failures come back as codes, which the machine raises. The hooks
// build message tables from the engine's descriptions and make the protected calls;
// none of them lets a machine error escape into the engine (building runs protected,
// and a failure puts the stack back to where the call began).
// Commands here: WaitEvent, CheckEvent, CheckEvents, BreakEventHandler, SetEventTimeout,
// FreeEventCache, InstallEventHandler, SetInterval, SetTimeout, ClearInterval,
// ClearTimeout, ChangeInterval. The buttons, ports, legacy triggers and input-state
// commands of the library join this table with their engines.
// Depends on: ui/events.h, vm/lvvm.h, runtime/objects.h.
// Limits: none of its own.
#include "ui/events.h"
#include "ui/lib_event.h"
#include "ui/input.h"
#include "ui/legacy.h"
#include "ui/ports.h"
#include "runtime/cmdsupport.h"
#include "runtime/errors.h"
#include "runtime/libs_core.h"
#include "base/lverrors.h"
#include "runtime/objects.h"
#include "runtime/startup.h"
#include "runtime/vfile.h"
#include "vm/lvvm.h"
#include <cctype>
#include <cstring>
#include <strings.h>

// ---- State -------------------------------------------------------------------

struct lvEventLibraryState {
    double startTime;  // seconds since 1970 when the library opened: timestamps count from it
};

static lvEventLibraryState libraryState = {0.0};

// Attribute numbers the event objects answer.
#define ATTR_DURATION 14
#define ATTR_FUNCTION 58
#define ATTR_USERDATA 59

// ---- Message tables -------------------------------------------------------------

// Pushes the value of one described field.
static void PushFieldValue(lvState *L, const lvMessageField &field)
{
    switch (field.type) {
    case MSGFIELD_NUMBER:
        PushNumber(L, field.number);
        break;
    case MSGFIELD_TEXT:
        PushString(L, field.text);
        break;
    case MSGFIELD_BYTES:
        PushSizedString(L, field.text, field.length);
        break;
    case MSGFIELD_OBJECTID:
        if (field.id.handle) PushPointer(L, (void *)field.id.handle);
        else PushNumber(L, (double)(int32_t)(uint32_t)field.id.number);
        break;
    case MSGFIELD_REFERENCE:
        GetTableItemRaw(L, LV_REGISTRYINDEX, field.reference);
        break;
    case MSGFIELD_TEXTLIST: {
        PushNewTable(L);
        int index = 0;
        for (const char *name = field.text; name && *name; name += strlen(name) + 1) {
            PushString(L, name);
            SetTableItemRaw(L, -2, index++);
        }
        break;
    }
    default:
        PushNil(L);
    }
}

// What BuildCall needs.
struct lvCallBuild {
    lvEventCallback *record;         // the callback
    const lvEventMessage *message;   // its description
    int wantTable;                   // keep a copy of the table below the function
};

// Runs protected: pushes [table copy] function table.
static void BuildCall(lvState *L, void *data)
{
    lvCallBuild *build = (lvCallBuild *)data;
    GetTableItemRaw(L, LV_REGISTRYINDEX, build->record->function);
    PushNewTable(L);
    lvPluginEvent *type = build->record->pluginEvent;
    if (build->record->kind == CALLBACK_PLUGINEVENT && type && type->fill) {
        int code = type->fill(L, type->type, build->record->pluginPayload);
        if (code) ThrowError(L, code);
    }
    for (int i = 0; i < build->message->count; i++) {
        const lvMessageField &field = build->message->fields[i];
        PushString(L, field.name);
        PushFieldValue(L, field);
        SetTableValueRaw(L, -3);
    }
    if (build->wantTable) {
        PushCopy(L, -1);
        InsertValue(L, -3);
    }
}

static int HookCallFunction(lvState *L, lvEventCallback *record, const lvEventMessage *message,
                            int wantTable)
{
    int mark = GetStackTop(L);
    record->stackMark = mark;
    lvCallBuild build = {record, message, wantTable};
    int result = RunProtected(L, BuildCall, &build);
    if (result == 0) result = ProtectedCall(L, 1, wantTable ? -1 : 0, 0);
    // A failure leaves nothing behind: not the function, not a partial table.
    if (result) SetStackTop(L, mark);
    return result;
}

static int HookProtectedCall(lvState *L, int argumentCount, int resultCount)
{
    return ProtectedCall(L, argumentCount, resultCount, 0);
}

// What CompleteTable needs.
struct lvResultBuild {
    const lvEventCallback *ran;  // the record that ran, or nullptr
    int triggered;               // its message table is on the stack
};

// Runs protected: leaves the result table on top.
static void CompleteTable(lvState *L, void *data)
{
    lvResultBuild *build = (lvResultBuild *)data;
    const lvEventCallback *ran = build->ran;
    int count = 0;
    if (build->triggered) {
        int table = ran->stackMark + 1;
        count = GetStackTop(L) - table;
        if (count > 0) {
            PushString(L, "results");
            PushNewTable(L);
            for (int i = 0; i < count; i++) {
                PushCopy(L, table + 1 + i);
                SetTableItemRaw(L, -2, i);
            }
            SetTableValueRaw(L, table);
        }
        SetStackTop(L, table);
    } else {
        PushNewTable(L);
    }
    PushString(L, "action");
    PushString(L, ran ? ran->action : "");
    SetTableValueRaw(L, -3);
    PushString(L, "id");
    if (ran && ran->idSet && ran->messageId.handle) PushPointer(L, (void *)ran->messageId.handle);
    else PushNumber(L, ran && ran->idSet ? (double)(int32_t)(uint32_t)ran->messageId.number : 0.0);
    SetTableValueRaw(L, -3);
    SetFieldNumber(L, "nresults", count);
    SetFieldNumber(L, "triggered", build->triggered);
}

static int HookCompleteResultTable(lvState *L, const lvEventCallback *ran, int triggered)
{
    int mark = triggered ? ran->stackMark : GetStackTop(L);
    lvResultBuild build = {ran, triggered && ran};
    int result = RunProtected(L, CompleteTable, &build);
    if (result) {
        SetStackTop(L, mark);
        return result;
    }
    return 1;
}

static void HookReleaseReference(lvState *L, int32_t reference)
{
    if (reference >= 0) ReleaseReference(L, LV_REGISTRYINDEX, reference);
}

static int HookQuitRequested(void)
{
    return gVMRun.stopRequest.load(std::memory_order_relaxed) ? 1 : 0;
}

static int HookShuttingDown(void)
{
    return IsShuttingDown();
}

// The error engine takes the callback path (no stop request, no handler) at depth > 0.
static void HookSetCallbackDepth(int raise)
{
    SetRuntimeFlags(nullptr, LV_FLAG_CALLBACK_DEPTH, raise ? 1 : 0, 0);
}

static int HookInAdapterSetupPhase(void)
{
    return InAdapterSetupPhase();
}

static int HookCheckEventDisabled(void)
{
    return GetRuntimeSwitches()->checkEventDisabled;
}

static int32_t HookInstructionIndex(lvState *)
{
    return gVMRun.currentCallIndex;
}

static void HookJumpOffset(lvState *, int32_t offset)
{
    gVMRun.jumpRequestOffset = offset;
}

static double HookStartTime(void)
{
    return libraryState.startTime;
}

// ---- Arguments ------------------------------------------------------------------------

// An identifier argument: a number, or a handle (light pointer). Nil is refused.
static lvObjectId CheckObjectIdArg(lvState *L, int index)
{
    if (GetValueType(L, index) == LV_TPOINTER) return lvObjectId{0, GetUserDataPointer(L, index)};
    return lvObjectId{(int)NumberToInt64(CheckNumberArg(L, index)), nullptr};
}

// A period or time-out argument, truncated; out of range counts as refused.
static int32_t CheckPeriodArg(lvState *L, int index)
{
    int64_t period = NumberToInt64(CheckNumberArg(L, index));
    if (period > INT32_MAX) return INT32_MAX;
    return period < 0 ? -1 : (int32_t)period;
}

// A new registry reference to a copy of the argument (-1 for nil).
static int32_t ReferenceArg(lvState *L, int index)
{
    PushCopy(L, index);
    return CreateReference(L, LV_REGISTRYINDEX);
}

// ---- Handler attributes -------------------------------------------------------------------

// GetAttribute(EVENTHANDLER, name, attribute): the handler's function or user data, the
// number 0 when none is installed. Per-display names answer for the current display (none
// without one), then the global names, then the plug-in names, in any case.
static int EventHandlerAttribute(lvState *L)
{
    size_t length = 0;
    const char *name = CheckStringArg(L, 2, &length);
    int attribute = static_cast<int>(NumberToInt64(CheckNumberArg(L, 3)));
    lvHandlerSlot *slot = FindHandlerSlotByName(EventDisplays()->CurrentDisplay(), name);
    bool displayName = false;
    for (const char *known : DisplayHandlerNames) displayName = displayName || strcasecmp(known, name) == 0;
    if (!slot && !displayName) {
        SetErrorStringArg(name);
        return ERR_UNKNOWNTAG;
    }
    if (attribute != ATTR_FUNCTION && attribute != ATTR_USERDATA) return ERR_UNKNOWNATTR;
    int32_t reference = !slot ? -1 : attribute == ATTR_FUNCTION ? slot->function : slot->userData;
    if (reference == -1) PushNumber(L, 0);
    else GetTableItemRaw(L, LV_REGISTRYINDEX, reference);
    return 1;
}

// ---- Waiting for events -----------------------------------------------------------------

static int CmdWaitEvent(lvState *L)
{
    int results = 0;
    int result = RunWaitEvent(L, &results);
    return result ? result : results;
}

static int CmdCheckEvent(lvState *L)
{
    int results = 0;
    int result = RunCheckEvent(L, &results);
    return result ? result : results;
}

static int CmdCheckEvents(lvState *L)
{
    return RunCheckEvents(L);
}

static int CmdBreakEventHandler(lvState *)
{
    return 0;
}

// ---- The event cache ----------------------------------------------------------------------

static int CmdSetEventTimeout(lvState *L)
{
    // -1 (the unsigned maximum) switches the purge off.
    SetEventTimeout((uint32_t)NumberToInt64(CheckNumberArg(L, 1)));
    return 0;
}

static int CmdFreeEventCache(lvState *L)
{
    FreeEventCache(L);
    return 0;
}

// ---- Handlers -----------------------------------------------------------------------------

// Reads one handler name out of the table in argument 1. Scripts write handler names in
// lower case; plug-ins name their types as they like.
static int ReadHandlerField(lvState *L, const char *name, void *, int32_t *reference)
{
    char lower[sizeof(((lvPluginEvent *)nullptr)->name)];
    size_t length = 0;
    for (; name[length] && length + 1 < sizeof lower; length++)
        lower[length] = (char)tolower((unsigned char)name[length]);
    lower[length] = 0;
    PushString(L, lower);
    GetTableValueRaw(L, 1);
    switch (GetValueType(L, -1)) {
    case LV_TFUNCTION:
        *reference = CreateReference(L, LV_REGISTRYINDEX);
        return 0;
    case LV_TNIL:
    case LV_TNONE:
        SetStackTop(L, -2);
        *reference = LV_HANDLER_KEEP;
        return 0;
    case LV_TNUMBER:
        SetStackTop(L, -2);
        *reference = LV_HANDLER_REMOVE;
        return 0;
    default:
        SetStackTop(L, -2);
        if (const lvVMHost *host = GetVMHost()) host->SetErrorNumberArg(1);
        return ERR_FUNCEXPECTED;
    }
}

static int32_t NewHandlerUserData(lvState *L, void *)
{
    return ReferenceArg(L, 2);
}

static int CmdInstallEventHandler(lvState *L)
{
    CheckTableArg(L, 1);
    int withUserData = GetStackTop(L) >= 2;
    return InstallEventHandlers(L, EventDisplays()->CurrentDisplay(), ReadHandlerField, withUserData,
                                NewHandlerUserData, nullptr);
}

// ---- Intervals and time-outs -----------------------------------------------------------------

static int SetTimerCommand(lvState *L, int32_t type)
{
    int arguments = GetStackTop(L);
    if (arguments < 3 || arguments > 4) return ERR_WRONGUSAGE;
    int nilId = GetValueType(L, 1) == LV_TNIL;
    lvObjectId id = {0, nullptr};
    if (!nilId) id.number = (int)NumberToInt64(CheckNumberArg(L, 1));
    int32_t period = CheckPeriodArg(L, 3);
    if (period <= 0) return ERR_WRONGUSAGE;
    CheckFunctionArg(L, 2);
    int32_t function = ReferenceArg(L, 2);
    int32_t userData = arguments == 4 ? ReferenceArg(L, 4) : -1;
    lvInterval *made = nullptr;
    int result = SetTimerObject(L, type, id, nilId, period, function, userData, &made);
    if (result) return result;
    if (!nilId) return 0;
    PushPointer(L, made);
    return 1;
}

static int CmdSetInterval(lvState *L)
{
    return SetTimerCommand(L, LV_TYPE_INTERVAL);
}

static int CmdSetTimeout(lvState *L)
{
    return SetTimerCommand(L, LV_TYPE_TIMEOUT);
}

static int CmdClearInterval(lvState *L)
{
    return RemoveInterval(L, CheckObjectIdArg(L, 1));
}

static int CmdClearTimeout(lvState *L)
{
    return RemoveTimeout(L, CheckObjectIdArg(L, 1));
}

static int CmdChangeInterval(lvState *L)
{
    lvObjectId id = CheckObjectIdArg(L, 1);
    return ChangeInterval(L, id, CheckPeriodArg(L, 2));
}

// GetAttribute of an interval or a time-out.
static int TimerAttribute(lvState *L, int attribute, lvObjectId id, int32_t type)
{
    lvInterval *record;
    int result = type == LV_TYPE_INTERVAL ? FindIntervalById(id, &record) : FindTimeoutById(id, &record);
    if (result) return result;
    switch (attribute) {
    case ATTR_DURATION:
        PushNumber(L, record->period);
        return 1;
    case ATTR_FUNCTION:
        GetTableItemRaw(L, LV_REGISTRYINDEX, record->function);
        return 1;
    case ATTR_USERDATA:
        if (record->userData == -1) PushNumber(L, 0);
        else GetTableItemRaw(L, LV_REGISTRYINDEX, record->userData);
        return 1;
    default:
        return ERR_UNKNOWNATTR;
    }
}

static int IntervalAttribute(lvState *L, int attribute, lvObjectId id)
{
    return TimerAttribute(L, attribute, id, LV_TYPE_INTERVAL);
}

static int TimeoutAttribute(lvState *L, int attribute, lvObjectId id)
{
    return TimerAttribute(L, attribute, id, LV_TYPE_TIMEOUT);
}

// ---- Tables --------------------------------------------------------------------------------

static const lvCommandEntry eventCommands[] = {
    {"WaitEvent", CmdWaitEvent},
    {"CheckEvent", CmdCheckEvent},
    {"CheckEvents", CmdCheckEvents},
    {"BreakEventHandler", CmdBreakEventHandler},
    {"SetEventTimeout", CmdSetEventTimeout},
    {"FreeEventCache", CmdFreeEventCache},
    {"InstallEventHandler", CmdInstallEventHandler},
    {"SetInterval", CmdSetInterval},
    {"SetTimeout", CmdSetTimeout},
    {"ClearInterval", CmdClearInterval},
    {"ClearTimeout", CmdClearTimeout},
    {"ChangeInterval", CmdChangeInterval},
    {nullptr, nullptr},
};

static const lvConstantEntry eventConstants[] = {
    {"EVENTHANDLER", nullptr, 40},
    {"INTERVAL", nullptr, LV_TYPE_INTERVAL},
    {"TIMEOUT", nullptr, LV_TYPE_TIMEOUT},
    {"ATTRDURATION", nullptr, ATTR_DURATION},
    {"ATTRFUNCTION", nullptr, ATTR_FUNCTION},
    {"ATTRUSERDATA", nullptr, ATTR_USERDATA},
    {"MODLSHIFT", nullptr, 1},
    {"MODRSHIFT", nullptr, 2},
    {"MODLALT", nullptr, 4},
    {"MODRALT", nullptr, 8},
    {"MODLCONTROL", nullptr, 16},
    {"MODRCONTROL", nullptr, 32},
    {"MODLCOMMAND", nullptr, 64},
    {"MODRCOMMAND", nullptr, 128},
    {"SIMPLEBUTTON", nullptr, 0},
    {"LAYERBUTTON", nullptr, 1},
    {"ONBUTTONOVER", nullptr, 1},
    {"ONBUTTONCLICK", nullptr, 2},
    {"ONKEYDOWN", nullptr, 3},
    {"ONBUTTONRIGHTCLICK", nullptr, 5},
    {"MOVEWINDOW", nullptr, 6},
    {"SIZEWINDOW", nullptr, 7},
    {"INACTIVEWINDOW", nullptr, 8},
    {"ACTIVEWINDOW", nullptr, 9},
    {"CLOSEWINDOW", nullptr, 10},
    {"ONBUTTONCLICKALL", nullptr, 11},
    {"ONBUTTONRIGHTCLICKALL", nullptr, 12},
    {"ONBUTTONOVERALL", nullptr, 13},
    {"ONKEYDOWNALL", nullptr, 14},
    {nullptr, nullptr, 0},
};

// ---- Open and close ------------------------------------------------------------------------

static const lvEventRuntimeHooks machineHooks = {
    HookCallFunction, HookProtectedCall, HookCompleteResultTable, HookReleaseReference,
    HookQuitRequested, HookShuttingDown, HookSetCallbackDepth, HookInAdapterSetupPhase,
    HookCheckEventDisabled, HookInstructionIndex,
    HookJumpOffset, HookStartTime};

int OpenEventLibrary(lvState *L)
{
    libraryState.startTime = GetEpochSeconds(0);
    SetEventRuntimeHooks(&machineHooks);
    lvObjectLibraryHooks objectHooks = {nullptr, EventHandlerAttribute, nullptr};
    SetObjectLibraryHooks(&objectHooks);
    int result = OpenEventEngine(L);
    if (result) return result;
    DefineConstants(L, "event", eventConstants, 0);
    PushCopy(L, LV_GLOBALSINDEX);  // commands are globals
    RegisterLibrary(L, nullptr, eventCommands, 0);
    // Buttons, input state, legacy triggers and ports: their own tables, one library.
    for (const lvCommandEntry *table : {InputCommands, LegacyCommands, PortCommands}) {
        RegisterLibrary(L, nullptr, table, 0);
        if (!result) result = RegisterCommandList(table, "event");
    }
    SetStackTop(L, -2);
    if (result) return result;
    result = RegisterObjectType(LV_TYPE_INTERVAL, "Intervals", IntervalListHead(), IntervalAttribute,
                                nullptr, 0);
    if (!result)
        result = RegisterObjectType(LV_TYPE_TIMEOUT, "Timeouts", TimeoutListHead(), TimeoutAttribute,
                                    nullptr, 0);
    return result;
}

void CloseEventLibrary(lvState *L)
{
    CloseEventEngine(L);
    ClearLegacyTriggers();
}

const lvCommandEntry *GetEventCommands(void)
{
    return eventCommands;
}

const lvConstantEntry *GetEventConstants(void)
{
    return eventConstants;
}

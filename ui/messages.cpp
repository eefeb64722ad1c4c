// messages.cpp - the message tables of script callbacks, and the call itself.
//
// Every callback reaches its script function with one argument, a message table
// describing the event. The engine describes that table as a flat list of fields
// (lvEventMessage) and hands it with the callback record to the command layer, which
// pushes the function, turns the fields into a table and makes the protected call.
// Everything that can fail here (copying texts) happens before anything is pushed,
// so a failure leaves the script stack as it was.
// Depends on: the hooks of events.h; platform (memory, clock, text conversions).
// Limits: LV_MAX_MESSAGE_FIELDS fields and four owned texts per message.
#include "ui/events.h"
#include "base/lverrors.h"
#include <cstring>

// ---- Fields -------------------------------------------------------------------

static lvMessageField *NewField(lvEventMessage *message, const char *name, int32_t type)
{
    if (message->count >= LV_MAX_MESSAGE_FIELDS) return nullptr;
    lvMessageField *field = &message->fields[message->count++];
    *field = lvMessageField{};
    field->name = name;
    field->type = type;
    field->reference = -1;
    return field;
}

void AddMessageNumber(lvEventMessage *message, const char *name, double value)
{
    if (lvMessageField *f = NewField(message, name, MSGFIELD_NUMBER)) f->number = value;
}

void AddMessageText(lvEventMessage *message, const char *name, const char *text)
{
    if (lvMessageField *f = NewField(message, name, MSGFIELD_TEXT)) f->text = text ? text : "";
}

void AddMessageBytes(lvEventMessage *message, const char *name, const char *bytes, size_t length)
{
    if (lvMessageField *f = NewField(message, name, MSGFIELD_BYTES)) {
        f->text = bytes ? bytes : "";
        f->length = bytes ? length : 0;
    }
}

void AddMessageObjectId(lvEventMessage *message, const char *name, lvEventId id)
{
    if (lvMessageField *f = NewField(message, name, MSGFIELD_OBJECTID)) f->id = id;
}

void AddMessageReference(lvEventMessage *message, const char *name, int32_t reference)
{
    if (lvMessageField *f = NewField(message, name, MSGFIELD_REFERENCE)) f->reference = reference;
}

void AddMessageTextList(lvEventMessage *message, const char *name, const char *packed)
{
    if (lvMessageField *f = NewField(message, name, MSGFIELD_TEXTLIST)) f->text = packed ? packed : "";
}

void SetMessageId(lvEventMessage *message, lvEventId id, lvEventCallback *record)
{
    AddMessageObjectId(message, "id", id);
    record->idSet = 1;
    record->messageId = id;
}

const lvMessageField *FindMessageField(const lvEventMessage *message, const char *name)
{
    for (int i = 0; i < message->count; i++)
        if (strcmp(message->fields[i].name, name) == 0) return &message->fields[i];
    return nullptr;
}

void FreeEventMessage(lvEventMessage *message)
{
    for (int i = 0; i < message->ownedCount; i++) FreeMemory(message->owned[i]);
    message->ownedCount = 0;
    message->count = 0;
}

// A copy of length bytes (plus a terminator) owned by the message; nullptr when out of memory.
static char *OwnCopy(lvEventMessage *message, const char *bytes, size_t length)
{
    if (message->ownedCount >= (int)(sizeof(message->owned) / sizeof(message->owned[0]))) return nullptr;
    char *copy = (char *)AllocMemory(length + 1, 0);
    if (!copy) return nullptr;
    memcpy(copy, bytes, length);
    copy[length] = 0;
    message->owned[message->ownedCount++] = copy;
    return copy;
}

// ---- Command messages -------------------------------------------------------------

int DescribeCommandMessage(lvEventMessage *message, const char *text)
{
    if (!text) text = "";
    const char *blank = strchr(text, ' ');
    if (!blank) {
        AddMessageText(message, "command", text);
        AddMessageBytes(message, "args", "", 0);
        AddMessageText(message, "rawargs", "");
        AddMessageNumber(message, "argc", 0);
        return 0;
    }
    size_t commandLength = (size_t)(blank - text);
    const char *raw = blank + 1;
    size_t rawLength = strlen(raw);
    char *command = OwnCopy(message, text, commandLength);
    char *args = command ? OwnCopy(message, raw, rawLength) : nullptr;
    if (!args) return ERR_MEM;
    // Quotes toggle quoting and are dropped; a blank outside quotes ends an argument.
    size_t length = 0;
    int quoted = 0, argc = 1;
    for (size_t i = 0; i < rawLength; i++) {
        char c = raw[i];
        if (c == '"') {
            quoted = !quoted;
        } else if (c == ' ' && !quoted) {
            args[length++] = 0;
            argc++;
        } else {
            args[length++] = c;
        }
    }
    args[length] = 0;
    AddMessageText(message, "command", command);
    AddMessageBytes(message, "args", args, length);
    AddMessageText(message, "rawargs", raw);
    AddMessageNumber(message, "argc", argc);
    return 0;
}

// ---- Modifiers ----------------------------------------------------------------------

uint32_t QualifiersToModifiers(uint32_t qualifiers)
{
    // Qualifier value -> modifier bit; a qualifier is held when all its bits are set.
    static const uint32_t map[][2] = {
        {0x80010000u, 1},  {0x80020000u, 2},  {0x80040000u, 4},   {0x80080000u, 8},
        {0x80400000u, 16}, {0x80800000u, 32}, {0x80100000u, 64},  {0x80200000u, 128}};
    uint32_t modifiers = 0;
    for (const auto &row : map)
        if ((qualifiers & row[0]) == row[0]) modifiers |= row[1];
    return modifiers;
}

// ---- Building a message ---------------------------------------------------------------

// The text after the first zero byte of a two-part block.
static const char *SecondText(const char *block)
{
    return block ? block + strlen(block) + 1 : "";
}

static int CountPacked(const char *packed)
{
    int count = 0;
    for (const char *p = packed; p && *p; p += strlen(p) + 1) count++;
    return count;
}

int BuildEventMessage(lvState *state, lvEventCallback *record, int useCurrentTime,
                      lvEventMessage *message)
{
    message->count = 0;
    message->ownedCount = 0;
    record->idSet = 0;
    const lvEventDisplayHooks *displays = EventDisplays();
    const lvEventSourceHooks *sources = EventSources();
    lvEventId displayId = record->display ? displays->GetDisplayId(record->display) : lvEventId{0, 0};
    int result = 0;
    switch (record->kind) {
    case CALLBACK_BUTTON:
        displays->FillDisplayFields(state, record, message);
        break;
    case CALLBACK_KEY:
        AddMessageText(message, "key", record->keyText);
        SetMessageId(message, displayId, record);
        if (strcmp(record->action, "OnRawKeyDown") != 0 && strcmp(record->action, "OnRawKeyUp") != 0)
            AddMessageNumber(message, "modifiers",
                             QualifiersToModifiers(displays->GetQualifiers(record->display)));
        break;
    case CALLBACK_WINDOW:
        SetMessageId(message, displayId, record);
        if (record->hasCoordinates) {
            AddMessageNumber(message, "x", record->x);
            AddMessageNumber(message, "y", record->y);
        }
        break;
    case CALLBACK_SIZEWINDOW:
    case CALLBACK_MOVEWINDOW:
    case CALLBACK_MOUSEMOVE:
    case CALLBACK_MODESWITCH:
    case CALLBACK_ORIENTATION:
        SetMessageId(message, displayId, record);
        displays->FillDisplayFields(state, record, message);
        break;
    case CALLBACK_INTERVAL:
    case CALLBACK_TIMEOUT:
        SetMessageId(message, record->id, record);
        break;
    case CALLBACK_MEDIAEND:
        SetMessageId(message, record->id, record);
        if (strcmp(record->action, "OnMusicEnd") == 0) {
            if (!(record->flags & 1)) sources->MusicEndBookkeeping(state, record->id);
        } else if (strcmp(record->action, "OnVideoEnd") != 0) {
            AddMessageNumber(message, "time", (double)record->a);
            AddMessageNumber(message, "starts", (double)record->b);
        }
        break;
    case CALLBACK_COMMANDMESSAGE:
        result = DescribeCommandMessage(message, (const char *)record->payload);
        break;
    case CALLBACK_USERMESSAGE:
        // The block holds the port's name, a zero byte, then the message text.
        result = DescribeCommandMessage(message, SecondText((const char *)record->payload));
        break;
    case CALLBACK_DROPFILE:
        SetMessageId(message, displayId, record);
        displays->FillDisplayFields(state, record, message);
        AddMessageTextList(message, "dropfiles", (const char *)record->payload);
        AddMessageNumber(message, "numdropfiles", CountPacked((const char *)record->payload));
        break;
    case CALLBACK_FILLMUSIC:
        SetMessageId(message, record->id, record);
        AddMessageNumber(message, "samples", (double)record->a);
        AddMessageNumber(message, "count", (double)record->b);
        break;
    case CALLBACK_APPMESSAGE:
        AddMessageText(message, "message", record->payload ? (const char *)record->payload : "");
        AddMessageText(message, "sender", SecondText((const char *)record->payload));
        break;
    case CALLBACK_MENUSELECT:
        SetMessageId(message, displayId, record);
        AddMessageText(message, "item", record->payload ? (const char *)record->payload : "");
        AddMessageNumber(message, "selected", record->selected);
        break;
    case CALLBACK_CONNECT:
    case CALLBACK_DISCONNECT:
    case CALLBACK_RECEIVEDATA:
    case CALLBACK_RECEIVEUDP:
    case CALLBACK_RUNFINISHED:
    case CALLBACK_DIRCHANGED:
    case CALLBACK_RUNOUTPUT:
    case CALLBACK_DIRCHANGEDETAIL:
        sources->FillSourceFields(state, record, message);
        break;
    default:
        break;  // "action" only
    }
    if (result) {
        FreeEventMessage(message);
        return result;
    }
    AddMessageText(message, "action", record->action);
    if (record->userData != -1) AddMessageReference(message, "userdata", record->userData);
    double when = useCurrentTime ? GetEpochSeconds(0) : record->time;
    AddMessageNumber(message, "timestamp", when - EventRuntime()->RuntimeStartTime());
    return 0;
}

// ---- The call -----------------------------------------------------------------------------

int ReleasesJobAfterCall(const lvEventCallback *record)
{
    return record->kind == CALLBACK_RUNFINISHED ||
           (record->kind == CALLBACK_RUNOUTPUT && record->releaseJobAfter);
}

// The protected call with its bookkeeping: message set for a table call, else argc
// arguments that a plug-in pushed.
static int CallEventFunction(lvEventCallback *record, lvState *state, const lvEventMessage *message,
                             int argumentCount, int wantTable)
{
    const lvEventRuntimeHooks *runtime = EventRuntime();
    int music = record->kind == CALLBACK_FILLMUSIC;
    if (music) EventSources()->MusicCallbackRunning(1);
    runtime->SetCallbackDepth(1);
    int result = message ? runtime->CallFunction(state, record, message, wantTable)
                         : runtime->ProtectedCall(state, argumentCount, 0);
    runtime->SetCallbackDepth(0);
    if (record->kind == CALLBACK_TIMEOUT || record->kind == CALLBACK_RUNCALLBACK) {
        // One-shot callbacks own their references: they go with the call.
        if (record->function != -1) runtime->ReleaseReference(state, record->function);
        if (record->userData != -1) runtime->ReleaseReference(state, record->userData);
        record->function = record->userData = -1;
    }
    if (music) EventSources()->MusicCallbackRunning(0);
    return result;
}

int DispatchEventCallback(lvEventCallback *record, lvState *state, int wantTable, int useCurrentTime)
{
    record->idSet = 0;
    int result;
    lvPluginEvent *type = record->kind == CALLBACK_PLUGINEVENT ? record->pluginEvent : nullptr;
    if (type && type->mode == 1) {
        // The plug-in pushes the function and its arguments itself.
        int count = type->push ? type->push(state, type->type, record->pluginPayload) : -1;
        if (count == -1) result = 0;
        else if (count < 0) result = -count;
        else result = CallEventFunction(record, state, nullptr, count, 0);
        if (type->finish) type->finish(state, type->type, record->pluginPayload);
    } else {
        lvEventMessage message;
        result = BuildEventMessage(state, record, useCurrentTime, &message);
        if (result) return result;
        result = CallEventFunction(record, state, &message, 1, wantTable);
        FreeEventMessage(&message);
    }
    if (ReleasesJobAfterCall(record)) EventSources()->ReleaseRunJob(state, (void *)record->id.number);
    if (result == 0 && EventRuntime()->QuitRequested()) result = ERR_USERABORT;
    return result;
}

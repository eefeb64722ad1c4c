// lib_object.cpp - the object library: generic access to every library's objects through
// the object-type registry: attributes, object counts and identifiers, presence tests,
// and named script values attached to objects.
//
// Depends on: runtime/objects.h (the registry engine), runtime/cmdsupport.h (identifiers),
// runtime/errors.h, vm/lvvm.h. Layers and event handlers come through lvObjectLibraryHooks.
#include <cstring>

#include "platform/lvplatform.h"
#include "runtime/cmdsupport.h"
#include "runtime/errors.h"
#include "runtime/libs_core.h"
#include "runtime/objects.h"

// ==== Hooks of the unregistered types ===================================================================

static int NoAttributeHook(lvState *) { return ERR_UNKNOWNATTR; }

static lvObjectHeader *NoLayerHook(lvState *, int, int *errorOut)
{
    *errorOut = ERR_NOLAYERS;
    return nullptr;
}

static const lvObjectLibraryHooks kDefaultHooks = {NoAttributeHook, NoAttributeHook, NoLayerHook};
static lvObjectLibraryHooks g_hooks = kDefaultHooks;

void SetObjectLibraryHooks(const lvObjectLibraryHooks *hooks)
{
    g_hooks = kDefaultHooks;
    if (!hooks) return;
    if (hooks->layerAttribute) g_hooks.layerAttribute = hooks->layerAttribute;
    if (hooks->handlerAttribute) g_hooks.handlerAttribute = hooks->handlerAttribute;
    if (hooks->findLayer) g_hooks.findLayer = hooks->findLayer;
}

const lvObjectLibraryHooks *GetObjectLibraryHooks(void) { return &g_hooks; }

enum { LV_TYPE_LAYER = 22, LV_TYPE_EVENTHANDLER = 40 };

// ==== References of object data ===========================================================================

static int CopyRegistryRef(void *context, int ref)
{
    lvState *L = static_cast<lvState *>(context);
    GetTableItemRaw(L, LV_REGISTRYINDEX, ref);
    return CreateReference(L, LV_REGISTRYINDEX);
}

static void ReleaseRegistryRef(void *context, int ref)
{
    ReleaseReference(static_cast<lvState *>(context), LV_REGISTRYINDEX, ref);
}

static lvRefOps RefOpsOf(lvState *L) { return lvRefOps{L, CopyRegistryRef, ReleaseRegistryRef}; }

// ==== Argument helpers ========================================================================================

static int TypeArg(lvState *L, int index) { return static_cast<int>(NumberToInt64(CheckNumberArg(L, index))); }

// The object named by the type and identifier arguments at typeIndex and typeIndex + 1;
// layers through their library's hook. Null with *errorOut set when there is none.
static lvObjectHeader *FindObjectArg(lvState *L, int typeIndex, int *errorOut)
{
    int type = TypeArg(L, typeIndex);
    if (type == LV_TYPE_LAYER) return g_hooks.findLayer(L, typeIndex + 1, errorOut);
    lvObjectHeader *header = FindAnyObject(type, GetObjectIdArg(L, typeIndex + 1));
    if (!header) *errorOut = ERR_FINDARRAY;
    return header;
}

// A non-empty key argument (ERR_WRONGUSAGE when empty).
static const char *KeyArg(lvState *L, int index)
{
    size_t length = 0;
    const char *key = CheckStringArg(L, index, &length);
    if (length == 0) RaiseError(L, ERR_WRONGUSAGE);
    return key;
}

// The key argument at index 3 and the object of the arguments 1 and 2 (null with *errorOut).
static lvObjectHeader *KeyedObjectArgs(lvState *L, const char **keyOut, int *errorOut)
{
    *keyOut = KeyArg(L, 3);
    return FindObjectArg(L, 1, errorOut);
}

static int MissingKey(const char *key)
{
    SetErrorStringArg(key);
    return ERR_FINDOBJECTDATA;
}

// ==== Attributes and identifiers ===========================================================================

// GetAttribute(type, id, attribute [, extra, extra])
static int CmdGetAttribute(lvState *L)
{
    CheckArgCount(L, 3, 5, 0, 0);
    int type = TypeArg(L, 1);
    if (type == LV_TYPE_LAYER) return g_hooks.layerAttribute(L);
    if (type == LV_TYPE_EVENTHANDLER) return g_hooks.handlerAttribute(L);
    int attribute = static_cast<int>(NumberToInt64(CheckNumberArg(L, 3)));
    if (attribute == LV_ATTRCOUNT) {
        PushNumber(L, CountObjectsOfType(type));
        return 1;
    }
    lvObjectType *entry = FindObjectType(type);
    if (entry && entry->attribute) return entry->attribute(L, attribute, GetObjectIdArg(L, 2));
    if (entry && entry->foreignAttribute)
        return entry->foreignAttribute(L, attribute, GetObjectIdArg(L, 2), entry->value);
    return ERR_UNKNOWNATTR;
}

// SetAttribute(...): kept for applets of other platforms; it changes nothing.
static int CmdSetAttribute(lvState *) { return 0; }

// GetObjectType(handle) -> type, -1 when no registered object has the handle.
static int CmdGetObjectType(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    void *handle = CheckUserDataArg(L, 1);
    PushNumber(L, GetTypeOfHandle(handle));
    return 1;
}

// Context of the identifier collector: the table sits at the stack top.
struct lvIdCollector {
    lvState *L;  // the machine
    int count;   // identifiers stored so far
};

static bool StoreObjectId(void *context, lvObjectHeader *object)
{
    lvIdCollector *c = static_cast<lvIdCollector *>(context);
    PushObjectId(c->L, GetObjectIdOf(object));
    SetTableItemRaw(c->L, -2, c->count++);
    return true;
}

// GetObjects(type) -> table of identifiers (from index 0), count
static int CmdGetObjects(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    int type = TypeArg(L, 1);
    PushNewTable(L);
    lvIdCollector c = {L, 0};
    ForEachObjectOfType(type, StoreObjectId, &c);
    PushNumber(L, c.count);
    return 2;
}

// HaveObject(type, id) -> 1 or 0
static int CmdHaveObject(lvState *L)
{
    CheckArgCount(L, 2, 2, 0, 0);
    int type = TypeArg(L, 1);
    PushNumber(L, FindAnyObject(type, GetObjectIdArg(L, 2)) ? 1 : 0);
    return 1;
}

// ==== Object data ===========================================================================================

// SetObjectData(type, id, key, value); a Nil value removes the key.
static int CmdSetObjectData(lvState *L)
{
    CheckArgCount(L, 4, 4, 0, 0);
    const char *key = nullptr;
    int code = 0;
    lvObjectHeader *header = KeyedObjectArgs(L, &key, &code);
    if (!header) return code;
    lvRefOps ops = RefOpsOf(L);
    if (GetValueType(L, 4) == LV_TNIL) {
        RemoveObjectUserData(header, key, &ops);
        return 0;
    }
    PushCopy(L, 4);
    int ref = CreateReference(L, LV_REGISTRYINDEX);
    code = SetObjectUserData(header, key, ref, &ops);
    if (code != 0) ReleaseReference(L, LV_REGISTRYINDEX, ref);
    return code;
}

// GetObjectData(type, id, key) -> value
static int CmdGetObjectData(lvState *L)
{
    CheckArgCount(L, 3, 3, 0, 0);
    const char *key = nullptr;
    int code = 0;
    lvObjectHeader *header = KeyedObjectArgs(L, &key, &code);
    if (!header) return code;
    lvObjectUserData *item = FindObjectUserData(header->userData, key);
    if (!item) return MissingKey(key);
    GetTableItemRaw(L, LV_REGISTRYINDEX, item->ref);
    return 1;
}

// HaveObjectData(type, id, key) -> 1 or 0
static int CmdHaveObjectData(lvState *L)
{
    CheckArgCount(L, 3, 3, 0, 0);
    const char *key = nullptr;
    int code = 0;
    lvObjectHeader *header = KeyedObjectArgs(L, &key, &code);
    if (!header) return code;
    PushNumber(L, FindObjectUserData(header->userData, key) ? 1 : 0);
    return 1;
}

// CopyObjectData(srcType, srcId, dstType, dstId [, overwrite])
static int CmdCopyObjectData(lvState *L)
{
    CheckArgCount(L, 4, 5, 0, 0);
    bool overwrite = GetStackTop(L) < 5 || CheckNumberArg(L, 5) != 0;
    int code = 0;
    lvObjectHeader *source = FindObjectArg(L, 1, &code);
    if (!source) return code;
    lvObjectHeader *destination = FindObjectArg(L, 3, &code);
    if (!destination) return code;
    if (source == destination) return 0;
    lvRefOps ops = RefOpsOf(L);
    return MergeObjectUserData(source->userData, destination, overwrite, &ops);
}

// ClearObjectData(type, id [, key])
static int CmdClearObjectData(lvState *L)
{
    CheckArgCount(L, 2, 3, 0, 0);
    const char *key = GetStackTop(L) >= 3 ? KeyArg(L, 3) : nullptr;
    int code = 0;
    lvObjectHeader *header = FindObjectArg(L, 1, &code);
    if (!header) return code;
    lvRefOps ops = RefOpsOf(L);
    if (!key) {
        FreeObjectUserData(&header->userData, &ops);
        return 0;
    }
    if (!RemoveObjectUserData(header, key, &ops)) return MissingKey(key);
    return 0;
}

// ==== Resource monitor ========================================================================================

struct lvResourceMonitor {
    bool open;            // the monitor display exists
    int fontSize;         // kept between openings (default 8)
    double lastUpdate;    // seconds of the last redraw (steady clock)
};
static lvResourceMonitor g_monitor = {false, 8, 0};
static const lvResourceMonitorHooks *g_monitorHooks;

void SetResourceMonitorHooks(const lvResourceMonitorHooks *hooks) { g_monitorHooks = hooks; }

void ResourceMonitorClosed() { g_monitor.open = false; }


void UpdateResourceMonitor(lvState *L, int force)
{
    if (!g_monitor.open || !g_monitorHooks) return;
    double now = GetEpochSeconds(0);   // the steady clock: a wall-clock step never stalls it
    if (!force && now - g_monitor.lastUpdate < 0.5) return;
    lvResourceExtras extras = {};
    if (g_monitorHooks->CountExtras) g_monitorHooks->CountExtras(L, &extras);
    extras.monitorOpen = true;
    char text[4096];
    BuildResourceText(text, sizeof text, &extras);
    g_monitorHooks->ShowText(L, text, g_monitor.fontSize);
    g_monitor.lastUpdate = now;
}

// OpenResourceMonitor([options]): "fontsize" (kept for later openings), "width" (200).
static int CmdOpenResourceMonitor(lvState *L)
{
    CheckArgCount(L, 0, 1, 0, 0);
    int width = 200, fontSize = g_monitor.fontSize;
    if (GetStackTop(L) >= 1) {
        CheckTableArg(L, 1);
        if (int code = ReadFieldInt(L, 1, "fontsize", &fontSize)) return code;
        if (int code = ReadFieldInt(L, 1, "width", &width)) return code;
        if (fontSize < 1 || width < 1) return ERR_WRONGUSAGE;
    }
    g_monitor.fontSize = fontSize;
    if (g_monitor.open) return 0;
    if (!g_monitorHooks) return ERR_UNIMPLCMD;
    int types = 0;
    for (lvObjectType *t = FirstObjectType(); t; t = t->next) types++;
    if (int code = g_monitorHooks->Open(L, width, (types + 3) * fontSize)) return code;
    g_monitor.open = true;
    UpdateResourceMonitor(L, 1);
    return 0;
}

static int CmdCloseResourceMonitor(lvState *L)
{
    CheckArgCount(L, 0, 0, 0, 0);
    if (!g_monitor.open) return 0;
    g_monitor.open = false;
    if (g_monitorHooks) g_monitorHooks->Free(L);
    return 0;
}

// ==== Tables =================================================================================================

static const lvConstantEntry kObjectConstants[] = {
    {"ATTRCOUNT", nullptr, LV_ATTRCOUNT},
    {nullptr, nullptr, 0},
};

const lvConstantEntry *GetObjectConstants() { return kObjectConstants; }

static const lvCommandEntry kObjectCommands[] = {
    {"ClearObjectData", CmdClearObjectData},
    {"CloseResourceMonitor", CmdCloseResourceMonitor},
    {"CopyObjectData", CmdCopyObjectData},
    {"GetAttribute", CmdGetAttribute},
    {"GetObjectData", CmdGetObjectData},
    {"GetObjects", CmdGetObjects},
    {"GetObjectType", CmdGetObjectType},
    {"HaveObject", CmdHaveObject},
    {"HaveObjectData", CmdHaveObjectData},
    {"OpenResourceMonitor", CmdOpenResourceMonitor},
    {"SetAttribute", CmdSetAttribute},
    {"SetObjectData", CmdSetObjectData},
    {nullptr, nullptr},
};

int OpenObjectLibrary(lvState *L)
{
    SetLibraryCloseStep("object", CloseObjectLibrary);
    return RegisterCommandTable(L, kObjectCommands, "object");
}

void CloseObjectLibrary(lvState *L, int)
{
    if (g_monitor.open && g_monitorHooks) g_monitorHooks->Free(L);
    g_monitor = {false, 8, 0};
    FreeObjectTypes();
}

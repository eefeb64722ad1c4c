// objects.cpp - object-type registry, generic object lookups, user data, resource text.
//
// Depends on: platform/lvplatform.h (AllocMemory/FreeMemory), runtime/encoding.h
// (user-data names compare without regard to case), runtime/lists.h (bounded copies).
// Limits: registrations and user data live on the script thread; no locking.
#include "runtime/objects.h"

#include <algorithm>
#include <charconv>
#include <cstring>

#include "platform/lvplatform.h"
#include "runtime/encoding.h"
#include "runtime/lists.h"
#include "base/lverrors.h"

// Type numbers whose count leaves out the resource monitor's own object.
enum { kTypeBGPics = 1, kTypeDisplays = 21 };

// The registry: types in name order and the next automatic number.
struct lvObjectRegistry {
    lvObjectType *types;  // first type by name
    int nextAutoNumber;   // handed to a type registered with number <= 0
};

static lvObjectRegistry g_registry = {nullptr, LV_FIRST_AUTO_OBJECT_TYPE};

// ==== Headers and identifiers =============================================================

void InitObjectHeader(lvObjectHeader *header, int type, int number, bool makeHandle) {
    header->type = type;
    header->identifier = makeHandle ? 0 : number;
    header->handle = makeHandle ? header : nullptr;
    header->userData = nullptr;
    header->next = nullptr;
}

bool ObjectIdMatches(const lvObjectHeader *header, lvObjectId id) {
    return header->identifier == id.number && header->handle == id.handle;
}

lvObjectId GetObjectIdOf(const lvObjectHeader *header) { return {header->identifier, header->handle}; }

// ==== Registry ============================================================================

int RegisterObjectType(int number, const char *pluralName, lvObjectHeader **listHead,
                       lvObjectAttributeFunction attribute, int *numberOut, intptr_t value) {
    lvObjectType *t = (lvObjectType *)AllocMemory(sizeof(lvObjectType), 1);
    if (!t) return ERR_MEM;
    CopyStrBounded(t->pluralName, sizeof t->pluralName, pluralName);
    if (number <= 0) number = g_registry.nextAutoNumber++;
    t->number = number;
    t->value = value;
    t->attribute = attribute;
    t->listHead = listHead;
    lvObjectType **at = &g_registry.types;
    while (*at && strcmp((*at)->pluralName, t->pluralName) <= 0) at = &(*at)->next;
    t->next = *at;
    *at = t;
    if (numberOut) *numberOut = number;
    return 0;
}

void FreeObjectTypes() {
    for (lvObjectType *t = g_registry.types; t;) {
        lvObjectType *next = t->next;
        FreeMemory(t);
        t = next;
    }
    g_registry.types = nullptr;
    g_registry.nextAutoNumber = LV_FIRST_AUTO_OBJECT_TYPE;
}

lvObjectType *FirstObjectType() { return g_registry.types; }

lvObjectType *FindObjectType(int number) {
    for (lvObjectType *t = g_registry.types; t; t = t->next)
        if (t->number == number) return t;
    return nullptr;
}

// ==== Lookups =============================================================================

lvObjectHeader *FindAnyObject(int type, lvObjectId id) {
    for (lvObjectType *t = g_registry.types; t; t = t->next) {
        if (!t->listHead) continue;
        for (lvObjectHeader *h = *t->listHead; h; h = h->next)
            if (h->type == type && ObjectIdMatches(h, id)) return h;
    }
    return nullptr;
}

int ForEachObjectOfType(int type, bool (*visit)(void *context, lvObjectHeader *object), void *context) {
    int n = 0;
    for (lvObjectType *t = g_registry.types; t; t = t->next) {
        if (!t->listHead) continue;
        for (lvObjectHeader *h = *t->listHead; h; h = h->next) {
            if (h->type != type) continue;
            n++;
            if (visit && !visit(context, h)) return n;
        }
    }
    return n;
}

int CountObjectsOfType(int type) { return ForEachObjectOfType(type, nullptr, nullptr); }

int GetTypeOfHandle(const void *handle) {
    if (!handle) return -1;
    for (lvObjectType *t = g_registry.types; t; t = t->next) {
        if (!t->listHead) continue;
        for (lvObjectHeader *h = *t->listHead; h; h = h->next)
            if (h->handle == handle) return h->type;
    }
    return -1;
}

// ==== User data ===========================================================================

lvObjectUserData *FindObjectUserData(lvObjectUserData *list, const char *name) {
    for (; list; list = list->next)
        if (StrCmpNoCase(list->name, name) == 0) return list;
    return nullptr;
}

static lvObjectUserData *NewUserDataItem(const char *name, int ref) {
    size_t length = strlen(name);
    lvObjectUserData *item = (lvObjectUserData *)AllocMemory(sizeof(lvObjectUserData) + length, 0);
    if (!item) return nullptr;
    item->next = nullptr;
    item->ref = ref;
    memcpy(item->name, name, length + 1);
    return item;
}

static void AppendUserDataItem(lvObjectUserData **list, lvObjectUserData *item) {
    while (*list) list = &(*list)->next;
    *list = item;
}

int SetObjectUserData(lvObjectHeader *header, const char *name, int ref, const lvRefOps *ops) {
    lvObjectUserData *item = FindObjectUserData(header->userData, name);
    if (item) {
        if (ops && ops->release) ops->release(ops->context, item->ref);
        item->ref = ref;
        return 0;
    }
    item = NewUserDataItem(name, ref);
    if (!item) return ERR_MEM;
    AppendUserDataItem(&header->userData, item);
    return 0;
}

int RemoveObjectUserData(lvObjectHeader *header, const char *name, const lvRefOps *ops) {
    for (lvObjectUserData **at = &header->userData; *at; at = &(*at)->next) {
        if (StrCmpNoCase((*at)->name, name) != 0) continue;
        lvObjectUserData *item = *at;
        *at = item->next;
        if (ops && ops->release) ops->release(ops->context, item->ref);
        FreeMemory(item);
        return 1;
    }
    return 0;
}

void FreeObjectUserData(lvObjectUserData **list, const lvRefOps *ops) {
    for (lvObjectUserData *item = *list; item;) {
        lvObjectUserData *next = item->next;
        if (ops && ops->release) ops->release(ops->context, item->ref);
        FreeMemory(item);
        item = next;
    }
    *list = nullptr;
}

// A new reference to the value of ref, or -1.
static int CopyRef(const lvRefOps *ops, int ref) { return ops && ops->copy ? ops->copy(ops->context, ref) : ref; }

int CopyObjectUserData(const lvObjectUserData *list, lvObjectUserData **copyOut, const lvRefOps *ops) {
    lvObjectUserData *copy = nullptr;
    for (const lvObjectUserData *item = list; item; item = item->next) {
        int ref = CopyRef(ops, item->ref);
        lvObjectUserData *c = ref == -1 ? nullptr : NewUserDataItem(item->name, ref);
        if (!c) {
            if (ref != -1 && ops && ops->release) ops->release(ops->context, ref);
            FreeObjectUserData(&copy, ops);
            *copyOut = nullptr;
            return ERR_MEM;
        }
        AppendUserDataItem(&copy, c);
    }
    *copyOut = copy;
    return 0;
}

int MergeObjectUserData(const lvObjectUserData *source, lvObjectHeader *destination, bool overwrite,
                        const lvRefOps *ops) {
    for (const lvObjectUserData *item = source; item; item = item->next) {
        if (!overwrite && FindObjectUserData(destination->userData, item->name)) continue;
        int ref = CopyRef(ops, item->ref);
        if (ref == -1) return ERR_MEM;
        if (SetObjectUserData(destination, item->name, ref, ops) != 0) {
            if (ops && ops->release) ops->release(ops->context, ref);
            return ERR_MEM;
        }
    }
    return 0;
}

// ==== Resource text =======================================================================

// One line of the resource text before sorting into place.
struct lvResourceLine {
    const char *name;  // plural name
    int count;         // what the line shows
};

size_t BuildResourceText(char *buffer, size_t size, const lvResourceExtras *extras) {
    if (size == 0) return 0;
    buffer[0] = 0;
    const lvResourceLine extraLines[3] = {
        {"Layers (on screen)", extras ? extras->layersOnScreen : 0},
        {"Layers (total)", extras ? extras->layersTotal : 0},
        {"Sprites (on screen)", extras ? extras->spritesOnScreen : 0},
    };
    size_t longest = 0;
    for (auto &e : extraLines) longest = std::max(longest, strlen(e.name));
    for (lvObjectType *t = g_registry.types; t; t = t->next) longest = std::max(longest, strlen(t->pluralName));

    size_t used = 0;
    bool fits = true;
    auto put = [&](const char *name, int count) {
        char line[160];
        size_t n = strlen(name);
        memcpy(line, name, n);
        line[n++] = ':';
        while (n < longest + 2) line[n++] = ' ';
        auto r = std::to_chars(line + n, line + sizeof line - 1, count);
        n = (size_t)(r.ptr - line);
        line[n++] = '\n';
        if (!fits || used + n >= size) {
            fits = false;
            return;
        }
        memcpy(buffer + used, line, n);
        used += n;
        buffer[used] = 0;
    };
    // Merge the registered types (already in name order) with the three extra lines.
    int e = 0;
    for (lvObjectType *t = g_registry.types; t; t = t->next) {
        while (e < 3 && strcmp(extraLines[e].name, t->pluralName) < 0) {
            put(extraLines[e].name, extraLines[e].count);
            e++;
        }
        int count = CountObjectsOfType(t->number);
        if (extras && extras->monitorOpen && (t->number == kTypeDisplays || t->number == kTypeBGPics) && count > 0)
            count--;
        put(t->pluralName, count);
    }
    for (; e < 3; e++) put(extraLines[e].name, extraLines[e].count);
    return used;
}

// lib_registry.cpp - the windows library: registry values and keys, registry-key
// objects for enumeration, and shortcuts.
//
// Depends on: libs/registry_engine.h (paths and values over the platform's store),
// runtime/objects.h (the object header and the type registry). Registry-key objects
// live in one list in creation order; identifiers follow the object rules (a number,
// or Nil for a handle returned to the script).
#include <cstring>
#include <string>

#include "libs/lib_core4.h"
#include "runtime/cmdsupport.h"
#include "libs/registry_engine.h"
#include "platform/lvplatform.h"
#include "base/lverrors.h"
#include "runtime/objects.h"

enum { REGISTRYKEY = 66 };

// A registry-key object.
struct lvRegistryKey {
    lvObjectHeader header;  // type REGISTRYKEY, identifier, list link
    lvRegKeyHandle *key;    // the open key
};

static lvObjectHeader *gRegistryKeys;  // all registry-key objects, oldest first

// The identifier argument at index: a number, or a handle value.
static lvObjectId ReadObjectId(lvState *L, int index)
{
    lvObjectId id{0, nullptr};
    if (GetValueType(L, index) == LV_TPOINTER || GetValueType(L, index) == LV_TUSERDATA)
        id.handle = GetUserDataPointer(L, index);
    else
        id.number = int(CheckNumberArg(L, index));
    return id;
}

static lvRegistryKey *FindRegistryKey(lvObjectId id)
{
    for (lvObjectHeader *h = gRegistryKeys; h; h = h->next)
        if (ObjectIdMatches(h, id)) return reinterpret_cast<lvRegistryKey *>(h);
    return nullptr;
}

static void FreeRegistryKey(lvRegistryKey *k)
{
    for (lvObjectHeader **p = &gRegistryKeys; *p; p = &(*p)->next) {
        if (*p == &k->header) {
            *p = k->header.next;
            break;
        }
    }
    CloseRegKeyHandle(k->key);
    FreeObjectUserData(&k->header.userData, nullptr);
    FreeMemory(k);
}

// ============================================================================
// Values and keys
// ============================================================================

static int CmdReadRegistryKey(lvState *L)
{
    CheckArgCount(L, 2, 2, 0, 0);
    int rc = 0;
    int root = int(CheckNumberArg(L, 1));
    const char *path = CheckStringArg(L, 2, nullptr);
    lvRegistryValue v{};
    if ((rc = ReadRegistryPath(root, path, &v))) return rc;
    if (v.isNumber) PushNumber(L, v.number);
    else PushSizedString(L, v.bytes.data(), v.bytes.size());
    return 1;
}

static int CmdWriteRegistryKey(lvState *L)
{
    CheckArgCount(L, 3, 3, 0, 0);
    int root = int(CheckNumberArg(L, 1));
    const char *path = CheckStringArg(L, 2, nullptr);
    if (GetValueType(L, 3) == LV_TNUMBER) return WriteRegistryPath(root, path, nullptr, 0, ValueToNumber(L, 3), 1);
    size_t n;
    const char *data = CheckStringArg(L, 3, &n);
    return WriteRegistryPath(root, path, data, n, 0, 0);
}

static int CmdCreateRegistryKey(lvState *L)
{
    CheckArgCount(L, 2, 2, 0, 0);
    int root = int(CheckNumberArg(L, 1));
    return CreateRegistryPath(root, CheckStringArg(L, 2, nullptr));
}

static int CmdOpenRegistryKey(lvState *L)
{
    CheckArgCount(L, 3, 3, 0, 0);
    int rc = 0;
    bool makeHandle = GetValueType(L, 1) == LV_TNIL;
    int number = makeHandle ? 0 : int(CheckNumberArg(L, 1));
    int root = int(CheckNumberArg(L, 2));
    const char *path = CheckStringArg(L, 3, nullptr);
    if (!makeHandle) {
        lvRegistryKey *old = FindRegistryKey(lvObjectId{number, nullptr});
        if (old) FreeRegistryKey(old);
    }
    lvRegKeyHandle *key;
    if ((rc = OpenRegistryPath(root, path, &key))) return rc;
    lvRegistryKey *k = static_cast<lvRegistryKey *>(AllocMemory(sizeof(lvRegistryKey), 1));
    if (!k) {
        CloseRegKeyHandle(key);
        return ERR_MEM;
    }
    InitObjectHeader(&k->header, REGISTRYKEY, number, makeHandle);
    k->key = key;
    lvObjectHeader **tail = &gRegistryKeys;
    while (*tail) tail = &(*tail)->next;
    *tail = &k->header;
    if (!makeHandle) return 0;
    PushPointer(L, k->header.handle);
    return 1;
}

static int FindKeyArg(lvState *L, lvRegistryKey **out)
{
    lvObjectId id = ReadObjectId(L, 1);
    *out = FindRegistryKey(id);
    if (*out) return 0;
    if (id.handle) return ERR_FINDARRAY;
    GetVMHost()->SetErrorNumberArg(id.number);
    return ERR_FINDREGISTRYKEY;
}

static int CmdCloseRegistryKey(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    int rc = 0;
    lvRegistryKey *k;
    if ((rc = FindKeyArg(L, &k))) return rc;
    FreeRegistryKey(k);
    return 0;
}

static int CmdNextRegistryKeyEntry(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    int rc = 0;
    lvRegistryKey *k;
    if ((rc = FindKeyArg(L, &k))) return rc;
    std::string name;
    int kind;
    if ((rc = NextRegistryEntry(k->key, name, &kind))) {
        if (rc == ERR_REGISTRYREAD) GetVMHost()->SetErrorStringArg(k->key->folder ? k->key->folder : "");
        return rc;
    }
    PushSizedString(L, name.data(), name.size());
    PushNumber(L, kind);
    return 2;
}

// ============================================================================
// Shortcuts
// ============================================================================

static int CmdCreateShortcut(lvState *L)
{
    CheckArgCount(L, 3, 3, 0, 0);
    const char *target = CheckStringArg(L, 1, nullptr);
    const char *link = CheckStringArg(L, 2, nullptr);
    const char *description = CheckStringArg(L, 3, nullptr);
    return CreateShellLink(target, link, description);
}

static int CmdGetShortcutPath(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    int rc = 0;
    char target[1024], description[1024];
    if ((rc = ReadShellLink(CheckStringArg(L, 1, nullptr), target, sizeof target, description, sizeof description)))
        return rc;
    PushString(L, target);
    PushString(L, description);
    return 2;
}

// ============================================================================
// Library
// ============================================================================

static const lvCommandEntry WindowsCommands[] = {
    {"CloseRegistryKey", CmdCloseRegistryKey},
    {"CreateRegistryKey", CmdCreateRegistryKey},
    {"CreateShortcut", CmdCreateShortcut},
    {"GetShortcutPath", CmdGetShortcutPath},
    {"NextRegistryKeyEntry", CmdNextRegistryKeyEntry},
    {"OpenRegistryKey", CmdOpenRegistryKey},
    {"ReadRegistryKey", CmdReadRegistryKey},
    {"WriteRegistryKey", CmdWriteRegistryKey},
    {nullptr, nullptr},
};

static const lvConstantEntry WindowsConstants[] = {
    {"REGISTRYKEY", nullptr, REGISTRYKEY},
    {"HKEY_CLASSES_ROOT", nullptr, LV_HKEY_CLASSES_ROOT},
    {"HKEY_CURRENT_CONFIG", nullptr, LV_HKEY_CURRENT_CONFIG},
    {"HKEY_LOCAL_MACHINE", nullptr, LV_HKEY_LOCAL_MACHINE},
    {"HKEY_USERS", nullptr, LV_HKEY_USERS},
    {"HKEY_CURRENT_USER", nullptr, LV_HKEY_CURRENT_USER},
    {nullptr, nullptr, 0},
};

int OpenWindowsLibrary(lvState *L)
{
    RegisterLibrary(L, nullptr, WindowsCommands, 0);
    if (!FindObjectType(REGISTRYKEY)) RegisterObjectType(REGISTRYKEY, "Registry keys", &gRegistryKeys, nullptr, nullptr, 0);
    return 0;
}

const lvConstantEntry *GetWindowsConstants(void) { return WindowsConstants; }

void CloseWindowsLibrary(lvState *, int)
{
    while (gRegistryKeys) FreeRegistryKey(reinterpret_cast<lvRegistryKey *>(gRegistryKeys));
}

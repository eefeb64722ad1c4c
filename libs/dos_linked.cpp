// dos_linked.cpp - directories and catalogs linked into the applet: the stored entry tree
// of a linked directory or catalog record, read while the container is parsed, and their
// preload, which hands the tree to OpenDirectory or OpenCatalog as the script would call
// them.
//
// The tree only ever travels to the commands as a key into the dos library's offered
// trees (dos_dirs.h); the command checks the key before it uses it.
//
// Depends on: libs/dos_dirs.h, libs/dos_engine.h (tree format, linked file names),
// runtime/container.h, runtime/startup.h (the run's container), vm/lvvm.h.
#include <cstring>
#include <vector>

#include "libs/dos_dirs.h"
#include "libs/dos_engine.h"
#include "libs/lib_dos.h"
#include "runtime/cmdsupport.h"
#include "runtime/encoding.h"
#include "runtime/errors.h"
#include "runtime/startup.h"
#include "vm/lvvm.h"

namespace {

// What a linked directory or catalog record carries: its tree (null when empty).
struct lvLinkedDirPayload {
    lvLinkedDirEntry *tree;
};

void FreeLinkedDirPayload(void *payload)
{
    auto *p = static_cast<lvLinkedDirPayload *>(payload);
    if (!p) return;
    FreeLinkedDirTree(p->tree);   // null once the preload offered it
    FreeMemory(p);
}

// Copies one level of the stored tree, up to its closing kind byte, from the cursor.
// A tree cut short is ERR_MEM, as the tree reader answers.
int CopyTreeLevel(lvAppletCursor *cursor, int depth, std::vector<uint8_t> &out)
{
    if (depth > 256) return ERR_MEM;
    for (;;) {
        uint8_t kind;
        if (ReadAppletByte(cursor, &kind)) return ERR_MEM;
        out.push_back(kind);
        if (kind == 0) return 0;
        uint8_t length[2];
        if (ReadAppletBytes(cursor, length, 2)) return ERR_MEM;
        out.insert(out.end(), length, length + 2);
        size_t fixed = (size_t(length[0]) << 8 | length[1]) + (kind == 1 ? 8 : 0);
        size_t at = out.size();
        out.resize(at + fixed);
        if (fixed && ReadAppletBytes(cursor, out.data() + at, fixed)) return ERR_MEM;
        if (kind != 1) {
            if (int code = CopyTreeLevel(cursor, depth + 1, out)) return code;
        }
    }
}

bool TreeHasFiles(const lvLinkedDirEntry *e)
{
    for (; e; e = e->next)
        if (!e->isDirectory || TreeHasFiles(e->children)) return true;
    return false;
}

// Fetches a global command by its lower-cased name; false (nothing pushed) when the
// command is not registered.
bool PushGlobalCommand(lvState *L, const char *command)
{
    char name[64];
    size_t n = 0;
    for (; command[n] && n + 1 < sizeof name; n++) name[n] = char(command[n] >= 'A' && command[n] <= 'Z' ? command[n] + 32 : command[n]);
    name[n] = 0;
    PushString(L, name);
    GetTableValueRaw(L, LV_GLOBALSINDEX);
    if (GetValueType(L, -1) == LV_TFUNCTION) return true;
    SetStackTop(L, -2);
    SetErrorStringArg(command);
    return false;
}

void SetFieldTrue(lvState *L, const char *name, bool value)
{
    PushString(L, name);
    PushBoolean(L, value);
    SetTableValueRaw(L, -3);
}

} // namespace

int ReadLinkedDirTail(lvAppletCursor *cursor, lvLinkedObject *object, int, int)
{
    std::vector<uint8_t> bytes;
    if (int code = CopyTreeLevel(cursor, 0, bytes)) return code;
    auto *payload = static_cast<lvLinkedDirPayload *>(AllocMemory(sizeof(lvLinkedDirPayload), 1));
    if (!payload) return ERR_MEM;
    if (int code = LoadLinkedDirTree(bytes.data(), bytes.size(), nullptr, &payload->tree)) {
        FreeMemory(payload);
        return code;
    }
    if (object->freePayload) object->freePayload(object->payload);
    else FreeMemory(object->payload);
    object->payload = payload;
    object->freePayload = FreeLinkedDirPayload;
    return 0;
}

const char *FindCatalogEntry(const lvLinkedDirEntry *tree)
{
    for (const lvLinkedDirEntry *e = tree; e; e = e->next) {
        size_t n = std::strlen(e->name);
        if (n >= 8 && StrCmpNoCase(e->name + n - 8, ".catalog") == 0) return e->name;
        if (const char *found = FindCatalogEntry(e->children)) return found;
    }
    return nullptr;
}

int PreloadLinkedDirectory(void *user, lvLinkedObject *object, const char *fileName, int *keepsContainer)
{
    lvState *L = static_cast<lvPreloadRun *>(user)->L;
    auto *payload = static_cast<lvLinkedDirPayload *>(object->payload);
    lvLinkedDirEntry *tree = payload ? payload->tree : nullptr;
    const lvAppletContainer &container = GetStartupState()->container;
    // Files of the tree are named by their byte range in the container they came from.
    SetLinkedAppletFile(object->containerPath[0] ? object->containerPath : container.path, int64_t(container.base));
    bool catalog = object->type == 20;
    const char *name = object->name ? object->name : fileName;
    if (catalog && (!name || !*name)) {
        name = FindCatalogEntry(tree);
        if (!name) return 0;   // a catalog record without a catalog in it
    }
    bool hasFiles = TreeHasFiles(tree);
    int top = GetStackTop(L);
    if (!PushGlobalCommand(L, catalog ? "OpenCatalog" : "OpenDirectory")) return ERR_UNIMPLCMD;
    int arguments = 2;
    if (!catalog) {
        PushNumber(L, object->identifier);
        arguments = 3;
    }
    PushString(L, name ? name : "");
    PushNewTable(L);
    if (!catalog) {
        // The option value is the record's recursion switch.
        SetFieldTrue(L, "recursive", object->optionValue != 0);
        if (!tree && payload) SetFieldTrue(L, "__emptydir", true);
    }
    if (tree) {
        OfferLinkedDirTree(tree);
        PushString(L, "__direntries");
        PushPointer(L, tree);
        SetTableValueRaw(L, -3);
    }
    int code = ProtectedCall(L, arguments, 0, 0);
    SetStackTop(L, top);
    if (tree) {
        // A directory handle took the tree over (or it stays offered until the library
        // closes); a catalog has read what it needed and the tree goes now.
        if (catalog) WithdrawOfferedTree(tree);
        payload->tree = nullptr;
        if (!catalog && !code && hasFiles) *keepsContainer = 1;
    }
    return code;
}

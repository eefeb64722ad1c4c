// dos_dirs.cpp - directory handles of the dos library: scans, linked entry trees,
// counts, listings and monitors.
#include "libs/dos_dirs.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "libs/dirmonitor_engine.h"
#include "libs/lib_dos.h"
#include "runtime/errors.h"
#include "runtime/vdir.h"

// The open handles in creation order.
static lvObjectHeader *gDirs;

// Trees handed over for the preload of linked directories, not yet taken by a handle.
static std::vector<lvLinkedDirEntry *> gOfferedTrees;

lvObjectHeader **GetDirectoryHandleList() { return &gDirs; }

// ==== Handles ==================================================================================

int FindDirHandle(lvObjectId id, lvDirectoryHandle **out)
{
    for (lvObjectHeader *h = gDirs; h; h = h->next) {
        if (ObjectIdMatches(h, id)) {
            *out = reinterpret_cast<lvDirectoryHandle *>(h);
            return 0;
        }
    }
    if (id.handle) return ERR_FINDARRAY;
    SetErrorNumberArg(id.number);
    return ERR_FINDDIR;
}

lvDirectoryHandle *NewDirectoryHandle(int number, bool nilId)
{
    auto *d = static_cast<lvDirectoryHandle *>(AllocMemory(sizeof(lvDirectoryHandle), 1));
    if (!d) return nullptr;
    InitObjectHeader(&d->header, LV_DIRECTORY_OBJECT, nilId ? 0 : number, nilId);
    lvObjectHeader **tail = &gDirs;
    while (*tail) tail = &(*tail)->next;
    *tail = &d->header;
    return d;
}

void CloseDirectoryHandle(lvDirectoryHandle *d, const lvRefOps *ops)
{
    for (lvObjectHeader **p = &gDirs; *p; p = &(*p)->next) {
        if (*p == &d->header) {
            *p = d->header.next;
            break;
        }
    }
    if (d->monitor) StopDirMonitor(d->monitor, ops);
    if (d->dir) CloseVDir(d->dir);
    if (d->tree && !d->sharedTree) {
        // Handles that list part of this tree lose it with it: they list nothing more.
        for (lvObjectHeader *h = gDirs; h; h = h->next) {
            auto *other = reinterpret_cast<lvDirectoryHandle *>(h);
            if (other->treeOwner != d) continue;
            other->tree = other->cursor = nullptr;
            other->treeOwner = nullptr;
        }
        FreeLinkedDirTree(d->tree);
    }
    FreeObjectUserData(&d->header.userData, ops);
    FreeMemory(d);
}

void FreeDirectoryHandles(const lvRefOps *ops)
{
    while (gDirs) CloseDirectoryHandle(reinterpret_cast<lvDirectoryHandle *>(gDirs), ops);
    for (lvLinkedDirEntry *tree : gOfferedTrees) FreeLinkedDirTree(tree);
    gOfferedTrees.clear();
}

// A numbered handle replaces one of the same number.
static void CloseNumbered(int number, bool nilId, const lvRefOps *ops)
{
    lvDirectoryHandle *old;
    if (!nilId && FindDirHandle({number, nullptr}, &old) == 0) CloseDirectoryHandle(old, ops);
}

int OpenDirScan(const char *path, const char *adapter, lvVDir **out, int *restarted, const void *userTags)
{
    lvVDir *dir = OpenVDir(path, LV_VD_READ | LV_VD_ADAPTERS, adapter, userTags);
    if (!dir) {
        SetErrorStringArg(path);
        return ERR_LOCK2;
    }
    if (int code = StartVDirScan(dir, restarted)) {
        CloseVDir(dir);
        return code;
    }
    *out = dir;
    return 0;
}

// A linked name: ":::" then the number of a directory handle, or "@" and the hex
// handle value of a Nil-made one, a comma and a path inside that handle's tree.
// 0 with the entry's children, or the lookup's error.
static int ResolveLinkedName(const std::string &path, lvLinkedDirEntry **children, lvDirectoryHandle **treeOwner)
{
    size_t comma = path.find(',', 3);
    if (comma == std::string::npos) return ERR_WRONGUSAGE;
    std::string key = path.substr(3, comma - 3);
    lvObjectId id = {0, nullptr};
    if (!key.empty() && key[0] == '@') {
        unsigned long long address = 0;
        if (key.size() < 2 || std::sscanf(key.c_str() + 1, "%llx", &address) != 1) return ERR_WRONGUSAGE;
        id.handle = reinterpret_cast<void *>(uintptr_t(address));
    } else {
        if (key.empty() || key.find_first_not_of("-0123456789") != std::string::npos) return ERR_WRONGUSAGE;
        id.number = std::atoi(key.c_str());
    }
    lvDirectoryHandle *owner;
    if (int code = FindDirHandle(id, &owner)) return code;
    lvLinkedDirEntry *entry = FindLinkedDirEntry(owner->tree, path.c_str() + comma + 1);
    if (!entry || !entry->isDirectory) {
        SetErrorStringArg(path.c_str());
        return ERR_READFILE;
    }
    *children = entry->children;
    *treeOwner = owner->sharedTree ? owner->treeOwner : owner;
    return 0;
}

void OfferLinkedDirTree(lvLinkedDirEntry *tree)
{
    if (tree) gOfferedTrees.push_back(tree);
}

bool TakeOfferedTree(void *key, lvLinkedDirEntry **tree)
{
    auto at = std::find(gOfferedTrees.begin(), gOfferedTrees.end(), static_cast<lvLinkedDirEntry *>(key));
    if (at == gOfferedTrees.end()) return false;
    *tree = *at;
    gOfferedTrees.erase(at);
    return true;
}

lvLinkedDirEntry *FindOfferedTree(void *key)
{
    auto at = std::find(gOfferedTrees.begin(), gOfferedTrees.end(), static_cast<lvLinkedDirEntry *>(key));
    return at == gOfferedTrees.end() ? nullptr : *at;
}

void WithdrawOfferedTree(lvLinkedDirEntry *tree)
{
    auto at = std::find(gOfferedTrees.begin(), gOfferedTrees.end(), tree);
    if (at == gOfferedTrees.end()) return;
    gOfferedTrees.erase(at);
    FreeLinkedDirTree(tree);
}

int OpenDirectoryHandle(const lvDirOpenRequest *request, const lvRefOps *ops, lvDirectoryHandle **out)
{
    const lvDirOpenRequest &r = *request;
    std::string path = r.path;
    CloseNumbered(r.number, r.nilId, ops);
    lvVDir *dir = nullptr;
    int restarted = 0;
    lvLinkedDirEntry *shared = nullptr;
    lvDirectoryHandle *treeOwner = nullptr;
    bool linked = !r.given && !r.emptyDir && path.compare(0, 3, ":::") == 0 && !IsChunkName(path.c_str());
    int code = 0;
    if (linked) code = ResolveLinkedName(path, &shared, &treeOwner);
    else if (!r.given && !r.emptyDir) code = OpenDirScan(path.c_str(), r.adapter, &dir, &restarted, r.userTags);
    lvDirectoryHandle *d = code ? nullptr : NewDirectoryHandle(r.number, r.nilId);
    if (!d) {
        if (dir) CloseVDir(dir);
        if (r.given) FreeLinkedDirTree(r.given);
        return code ? code : ERR_MEM;
    }
    d->dir = dir;
    d->restarted = restarted;
    d->recursive = r.recursive;
    d->tree = linked ? shared : r.given;
    d->sharedTree = linked;
    d->treeOwner = treeOwner;
    d->treeTimes = linked || r.given || r.emptyDir;
    if (!dir || !GetVDirPath(dir, d->path, sizeof d->path)) std::snprintf(d->path, sizeof d->path, "%s", r.path);
    *out = d;
    return 0;
}

// ==== Reading a handle ============================================================================

// The next entry kept by the handle's recursive flag; 0 at the end.
static int NextKeptEntry(lvDirectoryHandle *d, const char **name, int *isDir, lvFileInfo *info)
{
    for (;;) {
        int r = NextVDirEntry(d->dir, d->restarted, name, isDir, info);
        d->restarted = 0;
        if (!r) return 0;
        if (*isDir && !d->recursive) continue;
        return 1;
    }
}

int NextDirectoryHandleEntry(lvDirectoryHandle *d, lvDirHandleEntry *entry)
{
    if (d->endFlag) return 0;
    entry->info = {};
    entry->treeSize = 0;
    if (!d->dir) {
        if (!d->cursorStarted) {
            d->cursor = d->tree;
            d->cursorStarted = 1;
        }
        lvLinkedDirEntry *e = d->cursor;
        if (!e) {
            d->endFlag = 1;
            return 0;
        }
        d->cursor = e->next;
        entry->name = e->name;
        entry->isDirectory = e->isDirectory;
        entry->fromTree = 1;
        entry->treeSize = e->size;
        return 1;
    }
    const char *name;
    int isDir;
    if (!NextKeptEntry(d, &name, &isDir, &entry->info)) {
        d->endFlag = 1;
        return 0;
    }
    entry->name = name;
    entry->isDirectory = isDir;
    entry->fromTree = 0;
    return 1;
}

int RewindDirectoryHandle(lvDirectoryHandle *d)
{
    d->endFlag = 0;
    d->cursorStarted = 0;
    return d->dir ? StartVDirScan(d->dir, &d->restarted) : 0;
}

int DirectoryEntryName(const lvDirectoryHandle *d, const char *name, std::string *out)
{
    if (d->dir) {
        std::string full = d->path;
        if (!full.empty() && full.back() != '/' && full.back() != '\\') full += '/';
        full += name;
        if (full.size() >= LV_PATH_SIZE) {
            SetErrorStringArg(full.substr(0, 64).c_str());
            return ERR_MEM;
        }
        *out = full;
        return 0;
    }
    lvLinkedDirEntry *e = FindLinkedDirEntry(d->tree, name);
    if (!e) {
        SetErrorStringArg(name);
        return ERR_READFILE;
    }
    char text[LV_PATH_SIZE];
    if (e->isDirectory) {
        std::string sub = name;
        for (char &c : sub)
            if (c == '\\') c = '/';
        // A Nil-made handle is named by its handle value, so the name finds it again.
        if (d->header.handle)
            std::snprintf(text, sizeof text, ":::@%llx,%s", (unsigned long long)uintptr_t(d->header.handle), sub.c_str());
        else
            std::snprintf(text, sizeof text, ":::%d,%s", d->header.identifier, sub.c_str());
        if (std::strlen(text) + 1 >= sizeof text) return ERR_MEM;
    } else if (int code = MakeLinkedFileName(e, text, sizeof text)) {
        return code;
    }
    *out = text;
    return 0;
}

// Counts the entries of a directory path; a sub-directory that cannot be read stops
// the count there (the counts so far stand): false then.
static bool CountTree(const std::string &path, bool recursive, double *files, double *dirs, int depth)
{
    lvVDir *dir;
    int restarted;
    if (depth > 64 || OpenDirScan(path.c_str(), nullptr, &dir, &restarted)) return false;
    const char *name;
    int isDir;
    while (NextVDirEntry(dir, restarted, &name, &isDir, nullptr)) {
        restarted = 0;
        if (!isDir) {
            *files += 1;
            continue;
        }
        *dirs += 1;
        if (recursive && !CountTree(path + "/" + name, true, files, dirs, depth + 1)) {
            CloseVDir(dir);
            return false;
        }
    }
    CloseVDir(dir);
    return true;
}

static void CountLinkedTree(const lvLinkedDirEntry *e, bool recursive, double *files, double *dirs)
{
    for (; e; e = e->next) {
        if (!e->isDirectory) {
            *files += 1;
            continue;
        }
        *dirs += 1;
        if (recursive) CountLinkedTree(e->children, true, files, dirs);
    }
}

int CountDirectoryHandle(lvDirectoryHandle *d, bool recursive, double *files, double *dirs)
{
    if (int code = RewindDirectoryHandle(d)) return code;
    *files = *dirs = 0;
    const char *name;
    int isDir;
    if (!d->dir) CountLinkedTree(d->tree, recursive, files, dirs);
    while (d->dir && NextVDirEntry(d->dir, d->restarted, &name, &isDir, nullptr)) {
        d->restarted = 0;
        if (!isDir) {
            *files += 1;
            continue;
        }
        *dirs += 1;
        if (recursive && !CountTree(std::string(d->path) + "/" + name, true, files, dirs, 1)) break;
    }
    return RewindDirectoryHandle(d);
}

int ListDirectoryNames(const char *path, lvNameCompare compare, std::vector<std::string> *files,
                       std::vector<std::string> *dirs)
{
    lvVDir *dir;
    int restarted;
    if (int code = OpenDirScan(path, nullptr, &dir, &restarted)) return code;
    const char *name;
    int isDir;
    while (NextVDirEntry(dir, restarted, &name, &isDir, nullptr)) {
        restarted = 0;
        (isDir ? dirs : files)->emplace_back(name);
    }
    CloseVDir(dir);
    if (compare) {
        auto less = [compare](const std::string &a, const std::string &b) { return compare(a, b) < 0; };
        std::sort(files->begin(), files->end(), less);
        std::sort(dirs->begin(), dirs->end(), less);
    }
    return 0;
}

// ==== Monitors ==================================================================================

int OpenMonitorHandle(int number, bool nilId, const char *path, bool all, bool reportChanges, int userData,
                      const lvRefOps *ops, lvDirectoryHandle **out)
{
    CloseNumbered(number, nilId, ops);
    lvDirectoryHandle *d = NewDirectoryHandle(number, nilId);
    if (!d) return ERR_MEM;
    if (int code = StartDirMonitor(path, all, reportChanges, userData, &d->header.identifier, &d->monitor)) {
        CloseDirectoryHandle(d, ops);
        return code;
    }
    std::snprintf(d->path, sizeof d->path, "%s", d->monitor->path);
    *out = d;
    return 0;
}

lvObjectId MonitorOwnerId(const lvDirMonitor *monitor)
{
    for (lvObjectHeader *h = gDirs; h; h = h->next) {
        if (&h->identifier == monitor->ownerId) return GetObjectIdOf(h);
    }
    return {monitor->ownerId ? *monitor->ownerId : 0, nullptr};
}

// vdir.cpp - virtual directories: open, examine and scan objects through
// directory adapters, file adapters, platform locks or ":::chunk" names.
// Dependencies: runtime/vdir.h, base/lverrors.h.
#include "runtime/vdir.h"
#include "runtime/errors.h"
#include "base/lverrors.h"

#include <cstring>

// ============================================================================
// Helpers
// ============================================================================

// Every date of a stat block starts as the default, so an adapter that knows
// no dates reports that one.
static void PresetStat(lvAdapterStat *stat, uint32_t attributes, int type)
{
    std::memset(stat, 0, sizeof *stat);
    stat->lastWrite = stat->lastAccess = stat->creation = GetDefaultFileDate();
    stat->attributes = attributes;
    stat->type = type;
}

static bool CopyText(char *out, size_t size, const char *text)
{
    size_t n = std::strlen(text);
    if (n >= size) {
        if (size) out[0] = 0;
        return false;
    }
    std::memcpy(out, text, n + 1);
    return true;
}

// Fixed information of chunk names seen as objects: 4 November 2002 10:30:00.
static const lvFileDate ChunkDate = {0, 30, 10, 4, 10, 2002};

// ============================================================================
// Open and close
// ============================================================================

static bool OpenThroughAdapters(lvVDir *d, const char *name, int flags, const char *list, const void *userTags)
{
    lvAdapterScan scan;
    if (!(flags & LV_VD_FILESONLY)) {
        BeginAdapterScan(&scan, list, LV_PLUGINCAPS_DIRADAPTER, 1);
        while (int kind = NextAdapter(&scan)) {
            if (kind != 3 || !scan.current || !scan.current->OpenDir) continue;
            lvAdapterTag tags[3];
            int t = 0;
            tags[t++] = {2, (intptr_t)&d->formatName};
            if (userTags) tags[t++] = {1, (intptr_t)userTags};
            tags[t] = {0, 0};
            void *handle = scan.current->OpenDir(name, 0, tags);
            if (!handle) continue;
            PresetStat(&d->stat, 15, 1);
            if (scan.current->StatDir) scan.current->StatDir(handle, 0, &d->stat, nullptr);
            d->dirAdapter = scan.current;
            d->stream = handle;
            return true;
        }
    }
    if (!(flags & LV_VD_DIRSONLY)) {
        BeginAdapterScan(&scan, list, LV_PLUGINCAPS_FILEADAPTER, 2);
        while (int kind = NextAdapter(&scan)) {
            if (kind != 3 || !scan.current || !scan.current->Stat) continue;
            PresetStat(&d->stat, 0, 0);
            if (scan.current->Stat(name, 0, &d->stat, nullptr)) {
                d->fileAdapter = scan.current;
                return true;
            }
        }
    }
    return false;
}

lvVDir *OpenVDir(const char *name, int flags, const char *adapterList, const void *userTags)
{
    if (!name) return nullptr;
    lvVDir *d = (lvVDir *)AllocMemory(sizeof(lvVDir), 1);
    if (!d) return nullptr;
    if (!CopyText(d->path, sizeof d->path, name)) {
        FreeMemory(d);
        return nullptr;
    }
    bool chunk = IsChunkName(name);
    if ((flags & LV_VD_ADAPTERS) && !chunk && OpenThroughAdapters(d, name, flags, adapterList, userTags))
        return d;
    if (chunk) {
        d->chunkName = 1;
        if (name[8] == 'S' && !ParseChunkName(name, nullptr, nullptr, nullptr, nullptr, 0, nullptr, 0, nullptr, 0,
                                              &d->node)) {
            FreeMemory(d);
            return nullptr;
        }
        if (name[8] != 'S' && !ParseChunkName(name, nullptr, nullptr, nullptr, nullptr, 0, nullptr, 0, nullptr, 0,
                                              nullptr)) {
            FreeMemory(d);
            return nullptr;
        }
        return d;
    }
    if (!AdapterListAccepts(adapterList, "inbuilt", 1)) {
        FreeMemory(d);
        return nullptr;
    }
    d->stream = LockFSObject(name, flags & ~LV_VD_ADAPTERS);
    if (!d->stream) {
        FreeMemory(d);
        return nullptr;
    }
    return d;
}

void CloseVDir(lvVDir *dir)
{
    if (!dir) return;
    if (dir->dirAdapter) {
        if (dir->dirAdapter->CloseDir) dir->dirAdapter->CloseDir(dir->stream);
    } else if (!dir->fileAdapter && dir->stream) {
        CloseFSObjLock((lvOsLock *)dir->stream);
    }
    FreeMemory(dir);
}

const char *GetVDirAdapterName(lvVDir *dir)
{
    if (dir->dirAdapter) return dir->dirAdapter->name;
    if (dir->fileAdapter) return dir->fileAdapter->name;
    return nullptr;
}

const char *GetVDirFormatName(lvVDir *dir)
{
    return dir->formatName;
}

// ============================================================================
// Examining and scanning
// ============================================================================

int ExamineVDir(lvVDir *dir, lvFileInfo *info)
{
    if (dir->dirAdapter || dir->fileAdapter) {
        AdapterStatToFileInfo(&dir->stat, info);
        if (!info->fullPath) info->fullPath = dir->path;
        return 0;
    }
    if (dir->chunkName) {
        uint32_t size = 0;
        ParseChunkName(dir->path, nullptr, nullptr, &size, nullptr, 0, nullptr, 0, nullptr, 0, nullptr);
        std::memset(info, 0, sizeof *info);
        info->size = dir->node ? dir->node->size : size;
        info->attributes = 15;
        info->fullPath = dir->path;
        for (int i = 0; i < 3; i++) DateToFileTime(&ChunkDate, info, i);
        return 0;
    }
    return ExamineFSObj((lvOsLock *)dir->stream, info);
}

int StartVDirScan(lvVDir *dir, int *restarted)
{
    if (restarted) *restarted = 0;
    if (dir->fileAdapter) {
        SetErrorStringArg("");
        return ERR_NOTADIR;
    }
    if (dir->dirAdapter) return 0;
    if (dir->chunkName || !IsLockDirectory((lvOsLock *)dir->stream)) {
        SetErrorStringArg(dir->path);
        return ERR_NOTADIR;
    }
    RestartDirScan((lvOsLock *)dir->stream);
    if (restarted) *restarted = 1;
    return 0;
}

int NextVDirEntry(lvVDir *dir, int restarted, const char **name, int *isDirectory, lvFileInfo *info)
{
    if (dir->dirAdapter) {
        if (!dir->dirAdapter->NextDirEntry) return 0;
        lvAdapterStat stat;
        PresetStat(&stat, 0, 0);
        if (!dir->dirAdapter->NextDirEntry(dir->stream, &stat, nullptr)) return 0;
        CopyText(dir->entryName, sizeof dir->entryName, stat.fullPath ? stat.fullPath : "");
        if (name) *name = dir->entryName;
        if (isDirectory) *isDirectory = stat.type == 1;
        if (info) AdapterStatToFileInfo(&stat, info);
        return 1;
    }
    if (dir->fileAdapter || dir->chunkName) return 0;
    return ReadNextDirEntry((lvOsLock *)dir->stream, restarted, name, isDirectory, info);
}

int GetVDirPath(lvVDir *dir, char *buffer, size_t size)
{
    if (dir->dirAdapter || dir->fileAdapter) return CopyText(buffer, size, dir->path);
    if (dir->chunkName) {
        char current[LV_PATH_SIZE];
        if (!GetCurrentDirPath(current, sizeof current, 0)) return 0;
        const char *file = FindFilePart(dir->path);
        size_t before = std::strlen(current);
        if (!AppendPathPart(current, file, sizeof current) || std::strlen(current) - before < std::strlen(file))
            return 0;
        return CopyText(buffer, size, current);
    }
    return GetLockPath((lvOsLock *)dir->stream, buffer, size);
}

int GetCurrentDirPath(char *buffer, size_t size, int final)
{
    lvVDir *d = OpenVDir("", final ? (LV_VD_READ | LV_VD_FINAL) : LV_VD_READ, nullptr, nullptr);
    if (!d) {
        if (size) buffer[0] = 0;
        return 0;
    }
    int ok = GetVDirPath(d, buffer, size);
    CloseVDir(d);
    return ok;
}

static void InfoToPublic(const lvFileInfo *info, lvFileInfoPublic *pub)
{
    pub->isDirectory = info->isDirectory;
    pub->size = info->size;
    pub->attributes = info->attributes;
    FileTimeToDate(info, &pub->creation, 0);
    FileTimeToDate(info, &pub->lastAccess, 1);
    FileTimeToDate(info, &pub->lastWrite, 2);
    size_t n = std::strlen(info->comment);
    if (n >= sizeof pub->comment) n = sizeof pub->comment - 1;
    std::memcpy(pub->comment, info->comment, n);
    pub->comment[n] = 0;
}

int ExaminePath(const char *name, lvFileInfoPublic *pub, int useAdapters)
{
    std::memset(pub, 0, sizeof *pub);
    if (useAdapters && !IsChunkName(name)) {
        lvAdapterScan scan;
        BeginAdapterScan(&scan, "plugin", LV_PLUGINCAPS_FILEADAPTER, 2);
        while (int kind = NextAdapter(&scan)) {
            if (kind != 3 || !scan.current || !scan.current->Stat) continue;
            lvAdapterStat stat;
            PresetStat(&stat, 0, 0);
            if (!scan.current->Stat(name, 0, &stat, nullptr)) continue;
            lvFileInfo info;
            AdapterStatToFileInfo(&stat, &info);
            InfoToPublic(&info, pub);
            pub->lastWrite = stat.lastWrite;
            pub->lastAccess = stat.lastAccess;
            pub->creation = stat.creation;
            CopyText(pub->path, sizeof pub->path, stat.fullPath ? stat.fullPath : name);
            return 1;
        }
    }
    lvVDir *d = OpenVDir(name, LV_VD_READ, nullptr, nullptr);
    if (!d) return 0;
    lvFileInfo info;
    ExamineVDir(d, &info);
    InfoToPublic(&info, pub);
    if (d->chunkName) pub->lastWrite = pub->lastAccess = pub->creation = ChunkDate;
    GetVDirPath(d, pub->path, sizeof pub->path);
    CloseVDir(d);
    return 1;
}

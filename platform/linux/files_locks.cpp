// files_locks.cpp - locks on files and directories, directory scans and the
// information records of file-system objects.
// Dependencies: POSIX (stat, statx, opendir, realpath).
// Limits: a scan lists the directory as it was when the lock was taken or the
// scan restarted, sorted by name, whatever order readdir gives.
#include "platform/lvplatform.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

// ============================================================================
// Records
// ============================================================================

struct lvOsLock {
    char *path;                       // full path of the object (final path with LVOS_LOCK_FINAL)
    int fd;                           // the file opened for reading, or -1 for directories
    struct stat st;                   // information of the object
    int isDirectory;                  // the object is a directory
    int endFlag;                      // the scan has given every entry
    std::vector<std::string> entries; // directory entries, sorted
    size_t nextEntry;                 // index of the next entry to give
    std::string entryPath;            // full path of the last entry given
    char entryName[257];              // name of the last entry given
};

// ============================================================================
// Information records
// ============================================================================

static lvFileTime TimeOf(const struct timespec &ts)
{
    return lvFileTime{(int64_t)ts.tv_sec, (int32_t)ts.tv_nsec};
}

// Attribute bits: dot names are hidden; without write permission for the user a
// file is read-only; everything else is archive, as a fresh file is elsewhere.
static uint32_t AttributesOf(const struct stat *st, const char *name)
{
    uint32_t bits = 0;
    if (!S_ISDIR(st->st_mode)) bits |= LV_FILEATTR_ARCHIVE;
    const char *base = name ? std::strrchr(name, '/') : nullptr;
    base = base ? base + 1 : name;
    if (base && base[0] == '.' && base[1] && std::strcmp(base, "..") != 0) bits |= LV_FILEATTR_HIDDEN;
    if (!(st->st_mode & S_IWUSR)) bits |= LV_FILEATTR_READONLY;
    return bits;
}

void FillFileInfoFromStat(const struct stat *st, const char *name, lvFileInfo *info)
{
    std::memset(info, 0, sizeof *info);
    info->isDirectory = S_ISDIR(st->st_mode) ? 1 : 0;
    info->size = info->isDirectory ? 0 : (int64_t)st->st_size;
    info->attributes = AttributesOf(st, name);
    info->accessTime = TimeOf(st->st_atim);
    info->writeTime = TimeOf(st->st_mtim);
    info->creationTime = info->writeTime;
    struct statx sx;
    if (name && statx(AT_FDCWD, name, 0, STATX_BTIME, &sx) == 0 && (sx.stx_mask & STATX_BTIME))
        info->creationTime = lvFileTime{(int64_t)sx.stx_btime.tv_sec, (int32_t)sx.stx_btime.tv_nsec};
}

// ============================================================================
// Locks
// ============================================================================

static void FreeLock(lvOsLock *lock)
{
    if (!lock) return;
    if (lock->fd >= 0) close(lock->fd);
    FreeMemory(lock->path);
    delete lock;
}

static bool ReadEntries(lvOsLock *lock)
{
    lock->entries.clear();
    lock->nextEntry = 0;
    lock->endFlag = 0;
    DIR *d = opendir(lock->path);
    if (!d) return false;
    while (struct dirent *e = readdir(d)) {
        if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
        lock->entries.emplace_back(e->d_name);
    }
    closedir(d);
    std::sort(lock->entries.begin(), lock->entries.end());
    if (lock->entries.empty()) lock->endFlag = 1;
    return true;
}

lvOsLock *LockFSObject(const char *path, int flags)
{
    if (flags & LVOS_LOCK_WRITE) {
        std::fputs("LVOS_LOCK_WRITE unsupported.\n", stdout);
        return nullptr;
    }
    char full[LV_PATH_SIZE];
    if (!path || !path[0]) {
        if (!getcwd(full, sizeof full)) return nullptr;
    } else if (!GetFullPath(path, full, sizeof full)) {
        return nullptr;
    }
    // The resolved path can be longer than the name asked for: the block is sized
    // for the result.
    std::string finalPath = full;
    if (flags & LVOS_LOCK_FINAL) {
        char *resolved = realpath(full, nullptr);
        if (!resolved) return nullptr;
        finalPath = resolved;
        std::free(resolved);
        if (finalPath.size() >= LV_PATH_SIZE) return nullptr;
    }
    lvOsLock *lock = new (std::nothrow) lvOsLock();
    if (!lock) return nullptr;
    lock->fd = -1;
    lock->path = (char *)AllocMemory(finalPath.size() + 1, 0);
    if (!lock->path) {
        FreeLock(lock);
        return nullptr;
    }
    std::memcpy(lock->path, finalPath.c_str(), finalPath.size() + 1);
    if (stat(lock->path, &lock->st) != 0) {
        FreeLock(lock);
        return nullptr;
    }
    if (S_ISDIR(lock->st.st_mode)) {
        if ((flags & LVOS_LOCK_NODIRS) || !ReadEntries(lock)) {
            FreeLock(lock);
            return nullptr;
        }
        lock->isDirectory = 1;
    } else {
        if (flags & LVOS_LOCK_NOFILES) {
            FreeLock(lock);
            return nullptr;
        }
        lock->fd = open(lock->path, O_RDONLY | O_CLOEXEC);
        if (lock->fd < 0) {
            FreeLock(lock);
            return nullptr;
        }
    }
    return lock;
}

void CloseFSObjLock(lvOsLock *lock)
{
    FreeLock(lock);
}

int ExamineFSObj(lvOsLock *lock, lvFileInfo *info)
{
    FillFileInfoFromStat(&lock->st, lock->path, info);
    info->fullPath = lock->path;
    return 0;
}

int IsLockDirectory(lvOsLock *lock)
{
    return lock && lock->isDirectory;
}

int RestartDirScan(lvOsLock *lock)
{
    if (!lock || !lock->isDirectory) return 0;
    return ReadEntries(lock) ? 1 : 0;
}

int ReadNextDirEntry(lvOsLock *lock, int restarted, const char **name, int *isDirectory,
                     lvFileInfo *info)
{
    (void)restarted;
    if (!lock || !lock->isDirectory) return 0;
    while (!lock->endFlag && lock->nextEntry < lock->entries.size()) {
        const std::string &entry = lock->entries[lock->nextEntry++];
        if (lock->nextEntry >= lock->entries.size()) lock->endFlag = 1;
        if (entry.size() >= sizeof lock->entryName) continue;
        lock->entryPath = std::string(lock->path) + (lock->path[1] ? "/" : "") + entry;
        struct stat st;
        // Removed since the listing: skip; a dangling link reports as itself.
        if (stat(lock->entryPath.c_str(), &st) != 0 && lstat(lock->entryPath.c_str(), &st) != 0)
            continue;
        std::memcpy(lock->entryName, entry.c_str(), entry.size() + 1);
        if (name) *name = lock->entryName;
        if (isDirectory) *isDirectory = S_ISDIR(st.st_mode) ? 1 : 0;
        if (info) {
            FillFileInfoFromStat(&st, lock->entryPath.c_str(), info);
            info->fullPath = lock->entryPath.c_str();
        }
        return 1;
    }
    lock->endFlag = 1;
    return 0;
}

int GetLockPath(lvOsLock *lock, char *buffer, size_t size)
{
    size_t n = std::strlen(lock->path);
    if (n >= size) {
        if (size) buffer[0] = 0;
        return 0;
    }
    std::memcpy(buffer, lock->path, n + 1);
    return 1;
}

// files_paths.cpp - script paths to system paths, path operations, time stamps.
// Dependencies: POSIX (stat, opendir, chdir, mkdir, rename, utimensat).
// Limits: the case-insensitive fallback folds ASCII letters only; paths are at
// most LV_PATH_SIZE bytes and a longer result is refused, not truncated.
#include "platform/lvplatform.h"
#include "base/lverrors.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

// ============================================================================
// Home folder
// ============================================================================

const char *GetHomeFolder()
{
    // Filled once, safely from any thread.
    static const std::string home = [] {
        const char *env = std::getenv("HOME");
        if (env && *env) return std::string(env);
        struct passwd *pw = getpwuid(getuid());
        return std::string((pw && pw->pw_dir) ? pw->pw_dir : "/");
    }();
    return home.c_str();
}

// ============================================================================
// Case-insensitive component matching
// ============================================================================

static bool PathExists(const std::string &path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

// Finds an entry of directory dir whose name equals name without regard to ASCII
// case; several candidates give the smallest by byte order, so the choice is stable.
static bool FindCaseVariant(const std::string &dir, const std::string &name, std::string &found)
{
    DIR *d = opendir(dir.empty() ? "." : dir.c_str());
    if (!d) return false;
    bool have = false;
    while (struct dirent *e = readdir(d)) {
        if (strcasecmp(e->d_name, name.c_str()) != 0) continue;
        if (!have || std::strcmp(e->d_name, found.c_str()) < 0) {
            found = e->d_name;
            have = true;
        }
    }
    closedir(d);
    return have;
}

// Per thread: a walker that made the names it uses turns the matching off.
static thread_local int caseMatching = 1;

int SetPathCaseMatching(int on)
{
    int previous = caseMatching;
    caseMatching = on ? 1 : 0;
    return previous;
}

// Rewrites path component by component where the exact spelling is missing.
// Repeated separators are folded; a trailing one is kept.
static std::string MatchPathCase(const std::string &path)
{
    if (path.empty() || !caseMatching || PathExists(path)) return path;
    std::string out = path[0] == '/' ? "/" : "";
    bool matching = true; // false once a component is missing: the rest is kept as given
    size_t i = 0;
    while (i < path.size()) {
        size_t slash = path.find('/', i);
        if (slash == std::string::npos) slash = path.size();
        std::string comp = path.substr(i, slash - i);
        i = slash + 1;
        if (comp.empty()) continue;
        std::string base = out.empty() ? "" : (out.back() == '/' ? out : out + "/");
        std::string candidate = base + comp;
        if (matching && comp != "." && comp != ".." && !PathExists(candidate)) {
            std::string variant;
            if (FindCaseVariant(base.empty() ? std::string(".") : base, comp, variant))
                candidate = base + variant;
            else
                matching = false;
        }
        out = candidate;
    }
    if (path.size() > 1 && path.back() == '/' && out.back() != '/') out += '/';
    return out;
}

// ============================================================================
// Script path to system path
// ============================================================================

int ToSystemPath(const char *path, char *buffer, size_t size, int convert)
{
    if (size == 0) return 0;
    buffer[0] = 0;
    if (!path) return 0;
    if (std::strncmp(path, ":::chunk", 8) == 0) {
        size_t n = std::strlen(path);
        if (n >= size) return 0;
        std::memcpy(buffer, path, n + 1);
        return 1;
    }
    // ISO-8859-1 names take at most twice their bytes in UTF-8.
    char converted[2 * LV_PATH_SIZE];
    if (!TextToSystem(path, converted, sizeof converted, !convert)) return 0;
    std::string out;
    const char *p = converted;
    if (p[0] == '~' && (p[1] == 0 || p[1] == '/' || p[1] == '\\')) {
        out = GetHomeFolder();
        p++;
        if (!out.empty() && out.back() == '/' && (*p == '/' || *p == '\\')) p++;
    }
    for (; *p; p++) out += (*p == '\\') ? '/' : *p;
    out = MatchPathCase(out);
    if (out.size() >= size) return 0;
    std::memcpy(buffer, out.c_str(), out.size() + 1);
    return 1;
}

// ============================================================================
// Full paths
// ============================================================================

int GetFullSystemPath(const char *sys, char *buffer, size_t size)
{
    if (size == 0) return 0;
    buffer[0] = 0;
    if (std::strncmp(sys, ":::chunk", 8) == 0) {
        size_t n = std::strlen(sys);
        if (n >= size) return 0;
        std::memcpy(buffer, sys, n + 1);
        return 1;
    }
    std::string joined;
    if (sys[0] != '/') {
        char cwd[PATH_MAX];
        if (!getcwd(cwd, sizeof cwd)) return 0;
        joined = cwd;
        if (sys[0]) joined += '/';
    }
    joined += sys;
    // Fold ".", ".." and repeated separators.
    std::string out;
    size_t i = 0;
    while (i < joined.size()) {
        size_t slash = joined.find('/', i);
        if (slash == std::string::npos) slash = joined.size();
        std::string comp = joined.substr(i, slash - i);
        if (comp.empty() || comp == ".") {
            // nothing
        } else if (comp == "..") {
            size_t cut = out.rfind('/');
            out.erase(cut == std::string::npos ? 0 : cut);
        } else {
            out += '/';
            out += comp;
        }
        i = slash + 1;
    }
    if (out.empty()) out = "/";
    if (out.size() >= size) return 0;
    std::memcpy(buffer, out.c_str(), out.size() + 1);
    return 1;
}

int GetFullPath(const char *path, char *buffer, size_t size)
{
    if (size) buffer[0] = 0;
    char sys[LV_PATH_SIZE];
    if (!ToSystemPath(path ? path : "", sys, sizeof sys, 1)) return 0;
    return GetFullSystemPath(sys, buffer, size);
}

// ============================================================================
// Directory and object operations
// ============================================================================

int ChangeCurrentDir(const char *path, char *previous, size_t previousSize)
{
    char sys[LV_PATH_SIZE];
    if (previous && previousSize) {
        previous[0] = 0;
        if (!getcwd(previous, previousSize)) previous[0] = 0;
    }
    if (!ToSystemPath(path, sys, sizeof sys, 1)) return ERR_CHANGEDIR;
    if (chdir(sys[0] ? sys : ".") != 0) return ERR_CHANGEDIR;
    return 0;
}

int CreateFSDirectory(const char *path)
{
    char sys[LV_PATH_SIZE];
    if (!ToSystemPath(path, sys, sizeof sys, 1) || !sys[0]) return ERR_CREATEDIR;
    if (mkdir(sys, 0777) != 0) return ERR_CREATEDIR;
    return 0;
}

int DeleteFSObject(const char *path)
{
    char sys[LV_PATH_SIZE];
    if (!ToSystemPath(path, sys, sizeof sys, 1) || !sys[0]) return 0;
    struct stat st;
    if (lstat(sys, &st) != 0) return 0;
    if (S_ISDIR(st.st_mode)) return rmdir(sys) == 0;
    return unlink(sys) == 0;
}

int RenameFSObject(const char *oldPath, const char *newPath)
{
    char a[LV_PATH_SIZE], b[LV_PATH_SIZE];
    if (!ToSystemPath(oldPath, a, sizeof a, 1) || !ToSystemPath(newPath, b, sizeof b, 1)) return 0;
    return rename(a, b) == 0;
}

int SetFSObjectFlags(const char *path, uint32_t bits)
{
    char sys[LV_PATH_SIZE];
    if (!ToSystemPath(path, sys, sizeof sys, 1)) return 0;
    struct stat st;
    if (stat(sys, &st) != 0) return 0;
    mode_t mode = st.st_mode & 07777;
    if (bits & LV_FILEATTR_NORMAL) {
        mode |= S_IWUSR;
    } else if (bits & LV_FILEATTR_READONLY) {
        mode &= ~(mode_t)(S_IWUSR | S_IWGRP | S_IWOTH);
    } else {
        mode |= S_IWUSR;
    }
    return chmod(sys, mode) == 0;
}

static struct timespec ToTimespec(const lvFileTime *t)
{
    struct timespec ts;
    if (!t) {
        ts.tv_sec = 0;
        ts.tv_nsec = UTIME_OMIT;
    } else {
        ts.tv_sec = (time_t)t->seconds;
        ts.tv_nsec = t->nanoseconds;
    }
    return ts;
}

int SetFileTimes(const char *path, const lvFileTime *creation, const lvFileTime *access,
                 const lvFileTime *write)
{
    (void)creation; // Linux keeps the birth time to itself
    char sys[LV_PATH_SIZE];
    if (!ToSystemPath(path, sys, sizeof sys, 1)) return 0;
    struct timespec ts[2] = {ToTimespec(access), ToTimespec(write)};
    return utimensat(AT_FDCWD, sys, ts, 0) == 0;
}

// ============================================================================
// Time stamps and dates
// ============================================================================

static lvFileTime *PickTime(lvFileInfo *info, int index)
{
    switch (index) {
    case 0: return &info->creationTime;
    case 1: return &info->accessTime;
    case 2: return &info->writeTime;
    default: return nullptr;
    }
}

int FileTimeToDate(const lvFileInfo *info, lvFileDate *date, int index)
{
    const lvFileTime *t = info ? PickTime(const_cast<lvFileInfo *>(info), index) : nullptr;
    struct tm tm;
    time_t secs = t ? (time_t)t->seconds : 0;
    if (!t || !localtime_r(&secs, &tm)) {
        *date = {0, 0, 0, 1, 0, 2000};
        return 0;
    }
    date->second = tm.tm_sec;
    date->minute = tm.tm_min;
    date->hour = tm.tm_hour;
    date->day = tm.tm_mday;
    date->month = tm.tm_mon;
    date->year = tm.tm_year + 1900;
    return 1;
}

int DateToFileTime(const lvFileDate *date, lvFileInfo *info, int index)
{
    lvFileTime *t = PickTime(info, index);
    if (!t || !date) return 0;
    if (date->month < 0 || date->month > 11 || date->day < 1 || date->day > 31) return 0;
    struct tm tm = {};
    tm.tm_sec = date->second;
    tm.tm_min = date->minute;
    tm.tm_hour = date->hour;
    tm.tm_mday = date->day;
    tm.tm_mon = date->month;
    tm.tm_year = date->year - 1900;
    tm.tm_isdst = -1;
    time_t secs = mktime(&tm);
    if (secs == (time_t)-1 && !(date->year == 1969 && date->month == 11 && date->day == 31)) return 0;
    t->seconds = secs;
    t->nanoseconds = 0;
    return 1;
}

// sysservices.cpp - environment variables, volumes, special folders, the desktop
// shell, random bytes and the withdrawal of queued system events.
//
// The environment lock: setenv and unsetenv may move the environment block while a
// spawn on another thread copies it, so both sides take one mutex. Readers that go
// through GetEnvVar take it too and copy the value out under it.
// Depends on: process.cpp (spawning xdg-open), files_*.cpp (paths, folders),
// events.cpp (the queue), text.cpp.
#include "platform/lvplatform.h"
#include "base/lverrors.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysinfo.h>
#include <unistd.h>
#include <vector>

// ---- Environment ---------------------------------------------------------------------

static pthread_mutex_t environmentLock = PTHREAD_MUTEX_INITIALIZER;

void LockEnvironment(void)
{
    pthread_mutex_lock(&environmentLock);
}

void UnlockEnvironment(void)
{
    pthread_mutex_unlock(&environmentLock);
}

// The system form of a variable name; nullptr with *error set when it is unusable.
static char *SystemName(const char *name, int badNameError, int *error)
{
    if (!name || !name[0] || std::strchr(name, '=')) {
        *error = badNameError;
        return nullptr;
    }
    char *system = DupTextToSystem(name, 0);
    if (!system) *error = ERR_TEXTCONVERT;
    return system;
}

char *GetEnvVar(const char *name)
{
    int error = 0;
    char *system = SystemName(name, 0, &error);
    if (!system) return nullptr;
    char *result = nullptr;
    LockEnvironment();
    const char *value = std::getenv(system);
    if (value) result = DupSystemToText(value, 0);
    UnlockEnvironment();
    FreeMemory(system);
    return result;
}

int SetEnvVar(const char *name, const char *value)
{
    int error = 0;
    char *system = SystemName(name, ERR_SETENV, &error);
    if (!system) return error;
    char *systemValue = DupTextToSystem(value ? value : "", 0);
    if (!systemValue) {
        FreeMemory(system);
        return ERR_TEXTCONVERT;
    }
    LockEnvironment();
    int rc = setenv(system, systemValue, 1);
    UnlockEnvironment();
    FreeMemory(system);
    FreeMemory(systemValue);
    return rc == 0 ? 0 : ERR_SETENV;
}

int UnsetEnvVar(const char *name)
{
    int error = 0;
    char *system = SystemName(name, ERR_UNSETENV, &error);
    if (!system) return error;
    LockEnvironment();
    int rc = unsetenv(system);
    UnlockEnvironment();
    FreeMemory(system);
    return rc == 0 ? 0 : ERR_UNSETENV;
}

// ---- Memory and volumes ------------------------------------------------------------------

uint64_t GetFreeMemory(void)
{
    // What a program can still get: the kernel's estimate of available memory (free
    // pages plus reclaimable caches); the free pages alone only where it is missing.
    if (FILE *f = std::fopen("/proc/meminfo", "re")) {
        char line[256];
        unsigned long long kb = 0;
        bool found = false;
        while (!found && std::fgets(line, sizeof line, f)) found = std::sscanf(line, "MemAvailable: %llu kB", &kb) == 1;
        std::fclose(f);
        if (found) return (uint64_t)kb * 1024;
    }
    long pages = sysconf(_SC_AVPHYS_PAGES);
    long pageSize = sysconf(_SC_PAGESIZE);
    if (pages > 0 && pageSize > 0) return (uint64_t)pages * (uint64_t)pageSize;
    struct sysinfo info;
    if (sysinfo(&info) == 0) return (uint64_t)info.freeram * info.mem_unit;
    return 0;
}

int GetVolumeSpace(const char *path, double *freeBytes, double *usedBytes)
{
    char system[LV_PATH_SIZE];
    struct statvfs vs;
    if (!ToSystemPath(path, system, sizeof system, 1) || statvfs(system[0] ? system : ".", &vs) != 0)
        return ERR_LOCK;
    double block = (double)vs.f_frsize;
    *freeBytes = (double)vs.f_bavail * block;
    *usedBytes = (double)vs.f_blocks * block - *freeBytes;
    return 0;
}

int GetOsVolumeName(const char *path, char *buffer, size_t size)
{
    char system[LV_PATH_SIZE];
    struct stat st;
    if (size) buffer[0] = 0;
    if (!ToSystemPath(path, system, sizeof system, 1) || stat(system[0] ? system : ".", &st) != 0) return ERR_LOCK;
    // Labelled block devices are listed by udev as links named after their labels, with
    // blanks and other bytes written as \xHH.
    DIR *labels = opendir("/dev/disk/by-label");
    if (!labels) return 0;
    while (struct dirent *e = readdir(labels)) {
        if (e->d_name[0] == '.') continue;
        std::string link = std::string("/dev/disk/by-label/") + e->d_name;
        struct stat device;
        if (stat(link.c_str(), &device) != 0 || !S_ISBLK(device.st_mode) || device.st_rdev != st.st_dev) continue;
        std::string label;
        for (const char *p = e->d_name; *p; p++) {
            unsigned value;
            if (p[0] == '\\' && p[1] == 'x' && std::sscanf(p + 2, "%2x", &value) == 1) {
                label += (char)value;
                p += 3;
            } else {
                label += *p;
            }
        }
        if (!SystemToText(label.c_str(), buffer, (int)size, 0) && size) buffer[0] = 0;
        break;
    }
    closedir(labels);
    return 0;
}

// The device of the directory that holds path (the path itself need not exist).
static bool ParentDevice(const char *systemPath, dev_t *device)
{
    char parent[LV_PATH_SIZE];
    size_t n = std::strlen(systemPath);
    if (n >= sizeof parent) return false;
    std::memcpy(parent, systemPath, n + 1);
    while (n > 1 && parent[n - 1] == '/') parent[--n] = 0;
    char *slash = std::strrchr(parent, '/');
    if (!slash) std::memcpy(parent, ".", 2);
    else slash[slash == parent ? 1 : 0] = 0;
    struct stat st;
    if (stat(parent, &st) != 0) return false;
    *device = st.st_dev;
    return true;
}

int MoveOnSameVolume(const char *oldPath, const char *newPath)
{
    char a[LV_PATH_SIZE], b[LV_PATH_SIZE];
    if (!ToSystemPath(oldPath, a, sizeof a, 1) || !ToSystemPath(newPath, b, sizeof b, 1)) return ERR_MOVEFILE;
    struct stat st;
    dev_t target;
    if (lstat(a, &st) != 0 || !ParentDevice(b, &target)) return ERR_MOVEFILE;
    if (st.st_dev != target) return ERR_WRONGUSAGE;
    if (rename(a, b) == 0) return 0;
    // Bind mounts of one file system look alike to stat but refuse rename.
    return errno == EXDEV ? ERR_WRONGUSAGE : ERR_MOVEFILE;
}

int IsVolumeRoot(const char *path)
{
    char system[LV_PATH_SIZE], full[LV_PATH_SIZE];
    if (!ToSystemPath(path, system, sizeof system, 1) || !GetFullSystemPath(system, full, sizeof full)) return 0;
    if (std::strcmp(full, "/") == 0) return 1;
    struct stat self, parent;
    std::string up = std::string(full) + "/..";
    if (stat(full, &self) != 0 || stat(up.c_str(), &parent) != 0) return 0;
    return self.st_dev != parent.st_dev ? 1 : 0;
}

// ---- Special folders ---------------------------------------------------------------------------

// The folder an XDG user-dirs key names ("DESKTOP", "DOCUMENTS", ...): from
// $XDG_CONFIG_HOME/user-dirs.dirs when it sets it, else $HOME/fallback.
static std::string UserDirectory(const char *key, const char *fallback)
{
    std::string home = GetHomeFolder();
    const char *config = std::getenv("XDG_CONFIG_HOME");
    std::string file = (config && config[0] == '/') ? std::string(config) : home + "/.config";
    file += "/user-dirs.dirs";
    std::string wanted = std::string("XDG_") + key + "_DIR=";
    if (FILE *f = std::fopen(file.c_str(), "re")) {
        char line[LV_PATH_SIZE];
        std::string found;
        while (std::fgets(line, sizeof line, f)) {
            std::string text = line;
            while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
            if (text.compare(0, wanted.size(), wanted) != 0) continue;
            std::string value = text.substr(wanted.size());
            if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
            if (value.compare(0, 5, "$HOME") == 0) value = home + value.substr(5);
            if (!value.empty() && value[0] == '/') found = value;
        }
        std::fclose(f);
        if (!found.empty()) return found;
    }
    return home + "/" + fallback;
}

int GetSpecialFolderById(int id, char *buffer, size_t size)
{
    if (size) buffer[0] = 0;
    std::string folder;
    char known[LV_PATH_SIZE];
    // The numbers are those the applets were written with; each maps to its nearest
    // place on a freedesktop system.
    switch (id) {
    case 0x00: case 0x10: folder = UserDirectory("DESKTOP", "Desktop"); break;            // desktop
    case 0x05: folder = UserDirectory("DOCUMENTS", "Documents"); break;                   // documents
    case 0x0D: folder = UserDirectory("MUSIC", "Music"); break;                           // music
    case 0x0E: folder = UserDirectory("VIDEOS", "Videos"); break;                         // videos
    case 0x27: folder = UserDirectory("PICTURES", "Pictures"); break;                     // pictures
    case 0x15: folder = UserDirectory("TEMPLATES", "Templates"); break;                   // templates
    case 0x2E: folder = UserDirectory("PUBLICSHARE", "Public"); break;                    // shared documents
    case 0x14: folder = std::string(GetHomeFolder()) + "/.local/share/fonts"; break;      // fonts
    case 0x28: folder = GetHomeFolder(); break;                                            // profile
    default: {
        // application data, local application data, common application data,
        // program files and the system folder come from the platform's own table
        int mapped = id == 0x1A ? 3 : id == 0x1C ? 14 : id == 0x23 ? 4 : id == 0x26 ? 2 : id == 0x24 ? 1 : 0;
        if (mapped && GetSystemFolderPath(mapped, known, sizeof known)) {
            size_t n = std::strlen(known);
            if (n < size) std::memcpy(buffer, known, n + 1);
        }
        return 0;
    }
    }
    if (!SystemToText(folder.c_str(), buffer, (int)size, 0) && size) buffer[0] = 0;
    return 0;
}

// ---- The desktop shell and random bytes -------------------------------------------------------

int OpenWithShell(const char *target)
{
    if (!target || !target[0]) return ERR_EXECUTE;
    // The verb sends the target to xdg-open whatever it is.
    int rc = RunProgram(target, nullptr, nullptr, "open", LV_RUN_NOWAIT);
    return rc == ERR_LOCK2 ? ERR_EXECUTE : rc;
}

int GetRandomBytes(void *buffer, size_t length)
{
    uint8_t *out = (uint8_t *)buffer;
    while (length) {
        ssize_t n = getrandom(out, length, 0);
        if (n < 0) {
            if (errno == EINTR) continue;
            return 0;
        }
        out += n;
        length -= (size_t)n;
    }
    return 1;
}

// ---- Withdrawing queued system events -----------------------------------------------------------

int DropSystemEvents(int (*match)(const lvSystemEvent *event, void *context), void *context)
{
    return RemoveSystemEvents(match, context);
}

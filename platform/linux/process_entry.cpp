// process_entry.cpp - process entry and the process's own place on the machine: the
// argument copy handed to the runtime's main, the raw command line, the executable's
// path, the temporary directory and unique temporary names.
//
// Depends on: memory.cpp (AllocMemory), text.cpp (SystemToText), base/lverrors.h.
// Limits: paths are bounded by the caller's buffer; the temporary directory by
// LV_PATH_SIZE. Everything here except the getters runs on the main thread.
#include "platform/lvplatform.h"
#include "base/lverrors.h"
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// ---- State ------------------------------------------------------------------------------

struct lvProcessState {
    int argc;                         // the process's argument count
    char *const *argv;                // the process's own arguments (not copies)
    char tempDirectory[LV_PATH_SIZE]; // empty until first asked or set
    std::atomic<int> dpiAware;        // InitDpiAwareness ran
    std::atomic<int> dpiX, dpiY;      // the screen's DPI, 96 by default
};

static lvProcessState processState = {0, nullptr, {0}, {0}, {96}, {96}};

// ---- Arguments ----------------------------------------------------------------------------

char **ArgvToUtf8(int argc, char *const *argv)
{
    if (argc < 0 || (argc > 0 && !argv)) return nullptr;
    char **copy = (char **)AllocMemory(sizeof(char *) * ((size_t)argc + 1), 1);
    if (!copy) return nullptr;
    for (int i = 0; i < argc; i++) {
        if (!argv[i]) continue;
        size_t length = std::strlen(argv[i]);
        char *text = (char *)AllocMemory(length + 1, 0);
        if (!text) continue;  // the hole is the caller's to report
        std::memcpy(text, argv[i], length + 1);
        copy[i] = text;
    }
    return copy;
}

void FreeArgvCopy(char **argv, int argc)
{
    if (!argv) return;
    for (int i = 0; i < argc; i++) FreeMemory(argv[i]);
    FreeMemory(argv);
}

int PlatformMain(int argc, char **argv, lvRuntimeMainFunction runtimeMain)
{
    processState.argc = argc;
    processState.argv = argv;
    char **copy = ArgvToUtf8(argc, argv);
    int result = copy ? runtimeMain(argc, copy) : runtimeMain(0, nullptr);
    FreeArgvCopy(copy, argc);
    return result;
}

int GetCommandLineText(char *buffer, size_t size)
{
    if (!buffer || size == 0) return 0;
    buffer[0] = 0;
    size_t used = 0;
    int fitted = 1;
    for (int i = 1; i < processState.argc && processState.argv; i++) {
        char word[LV_PATH_SIZE * 4];
        if (!SystemToText(processState.argv[i], word, sizeof word, 0)) fitted = 0;
        size_t length = std::strlen(word) + (i > 1 ? 1 : 0);
        if (used + length >= size) return 0;
        if (i > 1) buffer[used++] = ' ';
        std::memcpy(buffer + used, word, std::strlen(word) + 1);
        used = std::strlen(buffer);
    }
    return fitted;
}

// ---- Program path -------------------------------------------------------------------------

int GetProgramPath(char *buffer, size_t size, int forceUtf8)
{
    if (!buffer || size == 0) return 0;
    buffer[0] = 0;
    char path[LV_PATH_SIZE * 4];
    ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0 || (size_t)length >= sizeof path - 1) return 0;
    path[length] = 0;
    if (!SystemToText(path, buffer, size, forceUtf8)) {
        buffer[0] = 0;
        return 0;
    }
    return 1;
}

int GetProgramDir(char *buffer, size_t size, int forceUtf8)
{
    if (!GetProgramPath(buffer, size, forceUtf8)) return 0;
    char *slash = std::strrchr(buffer, '/');
    if (!slash) return 1;
    if (slash == buffer) slash[1] = 0;
    else *slash = 0;
    return 1;
}

// ---- Screen DPI ------------------------------------------------------------------------------

void GetScreenDpi(int *x, int *y)
{
    if (x) *x = processState.dpiX.load(std::memory_order_relaxed);
    if (y) *y = processState.dpiY.load(std::memory_order_relaxed);
}

double GetDpiScale(void)
{
    return processState.dpiX.load(std::memory_order_relaxed) / 96.0;
}

void InitDpiAwareness(void)
{
    processState.dpiAware.store(1, std::memory_order_release);
}

void SetScreenDpi(int x, int y)
{
    if (!processState.dpiAware.load(std::memory_order_acquire) || x <= 0 || y <= 0) return;
    processState.dpiX.store(x, std::memory_order_relaxed);
    processState.dpiY.store(y, std::memory_order_relaxed);
}

// ---- Temporary directory and names ------------------------------------------------------------

const char *GetTempDirectory(void)
{
    if (!processState.tempDirectory[0]) {
        const char *fromEnvironment = std::getenv("TMPDIR");
        const char *chosen = (fromEnvironment && fromEnvironment[0] == '/' &&
                              std::strlen(fromEnvironment) < LV_PATH_SIZE)
                                 ? fromEnvironment
                                 : "/tmp";
        std::memcpy(processState.tempDirectory, chosen, std::strlen(chosen) + 1);
    }
    return processState.tempDirectory;
}

int SetTempDirectory(const char *path)
{
    if (!path || !path[0] || std::strlen(path) >= LV_PATH_SIZE) return 0;
    std::memcpy(processState.tempDirectory, path, std::strlen(path) + 1);
    return 1;
}

// The system form of "<temporary directory>/lumivarraXXXXXX" for mkstemp and mkdtemp.
static int MakeTempTemplate(char *system, size_t size)
{
    char directory[LV_PATH_SIZE * 4];
    if (!ToSystemPath(GetTempDirectory(), directory, sizeof directory, 1)) return 0;
    size_t length = std::strlen(directory);
    while (length > 1 && directory[length - 1] == '/') directory[--length] = 0;
    int needed = FormatString(system, size, "%s/lumivarraXXXXXX", directory);
    return needed > 0 && (size_t)needed < size;
}

// The script form of a created system path; on failure the object is removed again.
static int HandBackTempPath(const char *system, char *buffer, size_t size, int isDirectory)
{
    if (SystemToText(system, buffer, size, 0)) return 1;
    if (isDirectory) rmdir(system);
    else unlink(system);
    buffer[0] = 0;
    return 0;
}

int CreateTempFileName(char *buffer, size_t size)
{
    if (!buffer || size == 0) return 0;
    buffer[0] = 0;
    char system[LV_PATH_SIZE * 4];
    if (!MakeTempTemplate(system, sizeof system)) return 0;
    int fd = mkostemp(system, O_CLOEXEC);
    if (fd < 0) return 0;
    close(fd);
    return HandBackTempPath(system, buffer, size, 0);
}

int CreateTempDirectory(char *buffer, size_t size)
{
    if (!buffer || size == 0) return 0;
    buffer[0] = 0;
    char system[LV_PATH_SIZE * 4];
    if (!MakeTempTemplate(system, sizeof system)) return 0;
    if (!mkdtemp(system)) return 0;
    return HandBackTempPath(system, buffer, size, 1);
}

// Removes what the descriptor of an open directory holds, then the directory itself.
static void DeleteTreeAt(int parent, const char *name)
{
    int fd = openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd >= 0) {
        DIR *dir = fdopendir(fd);
        if (dir) {
            while (dirent *entry = readdir(dir)) {
                if (!std::strcmp(entry->d_name, ".") || !std::strcmp(entry->d_name, "..")) continue;
                if (unlinkat(fd, entry->d_name, 0) == 0) continue;
                if (errno == EISDIR || errno == EPERM) DeleteTreeAt(fd, entry->d_name);
            }
            closedir(dir);
        } else {
            close(fd);
        }
    }
    unlinkat(parent, name, AT_REMOVEDIR);
}

int DeleteDirectoryTree(const char *path)
{
    if (!path || !path[0]) return 0;
    char system[LV_PATH_SIZE * 4];
    if (!ToSystemPath(path, system, sizeof system, 1)) return 0;
    DeleteTreeAt(AT_FDCWD, system);
    struct stat info;
    return lstat(system, &info) != 0 && errno == ENOENT;
}

// socketfolder.cpp - the per-user folder for the runtime's local sockets and lock files
// (debug hosts, channels). Another user must not be able to plant a socket or a link in
// it, so an existing folder is used only when it is ours, a real folder and closed to
// everybody else.
//
// Depends on: POSIX.
#include "platform/lvplatform_debughost.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

static bool UsableFolder(const std::string &path)
{
    struct stat info;
    if (lstat(path.c_str(), &info) != 0) {
        if (mkdir(path.c_str(), 0700) != 0) return false;
        if (lstat(path.c_str(), &info) != 0) return false;
    }
    return S_ISDIR(info.st_mode) && info.st_uid == getuid() && (info.st_mode & 0077) == 0;
}

int GetUserSocketFolder(char *buffer, size_t size)
{
    std::string path;
    const char *runtimeDir = std::getenv("XDG_RUNTIME_DIR");
    struct stat info;
    if (runtimeDir && runtimeDir[0] == '/' && stat(runtimeDir, &info) == 0 && S_ISDIR(info.st_mode) &&
        info.st_uid == getuid())
        path = std::string(runtimeDir) + "/lumivarra";
    else
        path = "/tmp/lumivarra-" + std::to_string(getuid());
    if (!UsableFolder(path) || path.size() + 1 > size) return 0;
    std::memcpy(buffer, path.c_str(), path.size() + 1);
    return 1;
}

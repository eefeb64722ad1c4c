// files_folders.cpp - the system folders and the preferences folder on Linux.
// Dependencies: the XDG base-directory variables, the password database.
// The folders that other systems name application data, common application
// data and local application data are the XDG data, system data and cache
// folders here; preferences live under the XDG config folder.
#include "platform/lvplatform.h"

#include <cstdlib>
#include <cstring>
#include <pwd.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

// $NAME when set to an absolute path, else the home folder joined with fallback.
static std::string XdgFolder(const char *variable, const char *fallback)
{
    const char *value = std::getenv(variable);
    if (value && value[0] == '/') return value;
    std::string home = GetHomeFolder();
    if (home.empty() || home.back() != '/') home += '/';
    return home + fallback;
}

// First absolute element of a ':'-separated list variable, else fallback.
static std::string FirstOfList(const char *variable, const char *fallback)
{
    const char *value = std::getenv(variable);
    if (value) {
        std::string list = value;
        size_t start = 0;
        while (start <= list.size()) {
            size_t colon = list.find(':', start);
            if (colon == std::string::npos) colon = list.size();
            std::string item = list.substr(start, colon - start);
            if (!item.empty() && item[0] == '/') return item;
            start = colon + 1;
        }
    }
    return fallback;
}

// System text into the buffer in the script encoding; false when it does not fit.
static bool CopyOut(const std::string &text, char *buffer, size_t size)
{
    if (size == 0) return false;
    char *held = (char *)AllocMemory(size, 0); // the buffer stays unchanged on failure
    if (!held) return false;
    bool fits = SystemToText(text.c_str(), held, (int)size, 0) != 0;
    if (fits) std::memcpy(buffer, held, std::strlen(held) + 1);
    FreeMemory(held);
    return fits;
}

int GetSystemFolderPath(int id, char *buffer, size_t size)
{
    std::string folder;
    switch (id) {
    case 1: folder = "/usr/share"; break;
    case 2: folder = "/opt"; break;
    case 3: folder = XdgFolder("XDG_DATA_HOME", ".local/share"); break;
    case 4: folder = FirstOfList("XDG_DATA_DIRS", "/usr/local/share"); break;
    case 5: {
        std::string docs = XdgFolder("XDG_DOCUMENTS_DIR", "Documents");
        struct stat st;
        folder = (stat(docs.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) ? docs : GetHomeFolder();
        break;
    }
    case 6: folder = GetHomeFolder(); break;
    case 7: {
        struct passwd *pw = getpwuid(getuid());
        if (pw && pw->pw_name) folder = pw->pw_name;
        else if (const char *user = std::getenv("USER")) folder = user;
        break;
    }
    case 13: {
        const char *tmp = std::getenv("TMPDIR");
        folder = (tmp && tmp[0] == '/') ? tmp : "/tmp";
        break;
    }
    case 14: folder = XdgFolder("XDG_CACHE_HOME", ".cache"); break;
    default: return 0;
    }
    return CopyOut(folder, buffer, size) ? 1 : 0;
}

int GetPrefsFolder(char *buffer, size_t size)
{
    std::string folder = XdgFolder("XDG_CONFIG_HOME", ".config");
    mkdir(folder.c_str(), 0700);
    for (const char *part : {"KelmartDunvaley", "Lumivarra", "Preferences"}) {
        if (folder.empty() || folder.back() != '/') folder += '/';
        folder += part;
        mkdir(folder.c_str(), 0700); // an existing folder is the usual case
    }
    return CopyOut(folder, buffer, size) ? 1 : 0;
}

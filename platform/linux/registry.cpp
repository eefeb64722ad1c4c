// registry.cpp - the emulated registry and shell links as symbolic links (see
// platform/lvplatform_registry.h).
//
// Store layout: one folder per key; a key name becomes a folder name with every byte
// outside letters, digits, space, '-', '_' and bytes of 0x80 and up written as "%XX",
// so no name can be "." or ".." or collide with the "=values" file. The values file
// is a list of records {type, name length, name, data length, data} (32-bit
// little-endian words), replaced whole through a temporary file and a rename.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/lvplatform.h"
#include "base/lverrors.h"

namespace {

std::string gStoreFolder;  // set by tests; empty: the default under the preferences folder

struct lvRegValue {
    uint32_t type;      // LV_REG_
    std::string name;   // value name (system text)
    std::string data;   // raw bytes
};

std::string StoreFolder()
{
    std::string folder = gStoreFolder;
    if (folder.empty()) {
        char prefs[LV_PATH_SIZE];
        if (!GetPrefsFolder(prefs, sizeof prefs)) return std::string();
        folder = std::string(prefs) + "/Registry/HKEY_CURRENT_USER";
    }
    // Create every level that is missing.
    for (size_t at = 1; at <= folder.size(); at++) {
        if (at == folder.size() || folder[at] == '/') mkdir(folder.substr(0, at).c_str(), 0700);
    }
    return folder;
}

std::string EncodeName(const std::string &name)
{
    std::string out;
    for (unsigned char c : name) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == ' ' || c == '-' ||
            c == '_' || c >= 0x80) {
            out.push_back(char(c));
        } else {
            char b[4];
            std::snprintf(b, sizeof b, "%%%02X", c);
            out += b;
        }
    }
    return out;
}

std::string DecodeName(const std::string &name)
{
    std::string out;
    for (size_t i = 0; i < name.size(); i++) {
        if (name[i] == '%' && i + 2 < name.size()) {
            out.push_back(char(std::strtol(name.substr(i + 1, 2).c_str(), nullptr, 16)));
            i += 2;
        } else {
            out.push_back(name[i]);
        }
    }
    return out;
}

bool SameNameNoCase(const std::string &a, const std::string &b)
{
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); i++) {
        unsigned char x = (unsigned char)a[i], y = (unsigned char)b[i];
        if (x >= 'A' && x <= 'Z') x = (unsigned char)(x + 32);
        if (y >= 'A' && y <= 'Z') y = (unsigned char)(y + 32);
        if (x != y) return false;
    }
    return true;
}

bool IsFolder(const std::string &path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The sub-key names of a key folder (decoded), sorted without regard to case.
std::vector<std::string> ListSubKeys(const std::string &folder)
{
    std::vector<std::string> names;
    DIR *d = opendir(folder.c_str());
    if (!d) return names;
    while (dirent *e = readdir(d)) {
        std::string n = e->d_name;
        if (n == "." || n == ".." || n[0] == '=' || n.find(".tmp") != std::string::npos) continue;
        if (IsFolder(folder + "/" + n)) names.push_back(DecodeName(n));
    }
    closedir(d);
    std::sort(names.begin(), names.end(), [](const std::string &a, const std::string &b) {
        return strcasecmp(a.c_str(), b.c_str()) < 0;
    });
    return names;
}

// The folder of sub-key `name` of `folder` (an existing one matched without regard to
// case), or an empty text when it does not exist and create is not set.
std::string FindSubKey(const std::string &folder, const std::string &name, bool create)
{
    std::string exact = folder + "/" + EncodeName(name);
    if (IsFolder(exact)) return exact;
    for (const std::string &n : ListSubKeys(folder))
        if (SameNameNoCase(n, name)) return folder + "/" + EncodeName(n);
    if (!create) return std::string();
    if (mkdir(exact.c_str(), 0700) != 0 && errno != EEXIST) return std::string();
    return IsFolder(exact) ? exact : std::string();
}

uint32_t GetLE32(const std::string &s, size_t at)
{
    return uint32_t((unsigned char)s[at]) | (uint32_t((unsigned char)s[at + 1]) << 8) |
           (uint32_t((unsigned char)s[at + 2]) << 16) | (uint32_t((unsigned char)s[at + 3]) << 24);
}

void PutLE32(std::string &s, uint32_t v)
{
    for (int i = 0; i < 4; i++) s.push_back(char(v >> (8 * i)));
}

// Reads a key's values; a damaged tail is ignored.
std::vector<lvRegValue> LoadValues(const std::string &folder)
{
    std::vector<lvRegValue> values;
    FILE *f = std::fopen((folder + "/=values").c_str(), "rbe");
    if (!f) return values;
    std::string bytes;
    char block[4096];
    size_t n;
    while ((n = std::fread(block, 1, sizeof block, f)) > 0) bytes.append(block, n);
    std::fclose(f);
    size_t at = 0;
    while (bytes.size() - at >= 8) {
        lvRegValue v;
        v.type = GetLE32(bytes, at);
        uint32_t nameLength = GetLE32(bytes, at + 4);
        at += 8;
        if (nameLength > bytes.size() - at || bytes.size() - at - nameLength < 4) break;
        v.name = bytes.substr(at, nameLength);
        at += nameLength;
        uint32_t dataLength = GetLE32(bytes, at);
        at += 4;
        if (dataLength > bytes.size() - at) break;
        v.data = bytes.substr(at, dataLength);
        at += dataLength;
        values.push_back(std::move(v));
    }
    return values;
}

bool SaveValues(const std::string &folder, const std::vector<lvRegValue> &values)
{
    std::string bytes;
    for (const lvRegValue &v : values) {
        PutLE32(bytes, v.type);
        PutLE32(bytes, uint32_t(v.name.size()));
        bytes += v.name;
        PutLE32(bytes, uint32_t(v.data.size()));
        bytes += v.data;
    }
    std::string temp = folder + "/=values." + std::to_string(getpid()) + ".tmp";
    int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    bool ok = write(fd, bytes.data(), bytes.size()) == ssize_t(bytes.size());
    ok = close(fd) == 0 && ok;
    if (ok) ok = rename(temp.c_str(), (folder + "/=values").c_str()) == 0;
    if (!ok) unlink(temp.c_str());
    return ok;
}

std::string ToSystemName(const char *text)
{
    char *s = DupTextToSystem(text ? text : "", 0);
    if (!s) return std::string();
    std::string out = s;
    FreeMemory(s);
    return out;
}

lvRegValue *FindValue(std::vector<lvRegValue> &values, const std::string &name)
{
    for (lvRegValue &v : values)
        if (SameNameNoCase(v.name, name)) return &v;
    return nullptr;
}

}  // namespace

// ============================================================================
// Keys
// ============================================================================

void SetRegistryStoreFolder(const char *folder) { gStoreFolder = folder ? folder : ""; }

lvRegKeyHandle *OpenRegKeyHandle(int root, const char *path, int mode)
{
    bool user = root < 0 || root > 3;
    bool create = mode == LV_REGKEY_WRITE || mode == LV_REGKEY_ALL;
    std::string systemPath = ToSystemName(path);
    std::vector<std::string> parts;
    std::string part;
    for (char c : systemPath + "\\") {
        if (c == '\\' || c == '/') {
            if (!part.empty()) parts.push_back(part);
            part.clear();
        } else {
            part.push_back(c);
        }
    }
    std::string folder;
    if (user) {
        folder = StoreFolder();
        if (folder.empty()) return nullptr;
        for (const std::string &p : parts) {
            folder = FindSubKey(folder, p, create);
            if (folder.empty()) return nullptr;
        }
    } else if (!parts.empty() || create) {
        return nullptr;  // the other roots hold nothing and take nothing
    }
    lvRegKeyHandle *key = static_cast<lvRegKeyHandle *>(AllocMemory(sizeof(lvRegKeyHandle), 1));
    if (!key) return nullptr;
    key->root = user ? LV_HKEY_CURRENT_USER : root;
    key->infoPending = 1;
    if (user) {
        key->folder = static_cast<char *>(AllocMemory(folder.size() + 1, 0));
        if (!key->folder) {
            FreeMemory(key);
            return nullptr;
        }
        std::memcpy(key->folder, folder.c_str(), folder.size() + 1);
    }
    return key;
}

static void FreeNames(lvRegKeyHandle *key)
{
    if (!key->names) return;
    for (uint32_t i = 0; i < key->subKeyCount + key->valueCount; i++) FreeMemory(key->names[i]);
    FreeMemory(key->names);
    key->names = nullptr;
}

void CloseRegKeyHandle(lvRegKeyHandle *key)
{
    if (!key) return;
    FreeNames(key);
    FreeMemory(key->folder);
    FreeMemory(key);
}

// ============================================================================
// Values
// ============================================================================

int WriteRegistryRawValue(lvRegKeyHandle *key, const char *name, uint32_t type, const void *data, size_t length)
{
    if (!key || !key->folder || length > 0xFFFFFFF0u) return 0;
    std::string n = ToSystemName(name);
    std::vector<lvRegValue> values = LoadValues(key->folder);
    lvRegValue *v = FindValue(values, n);
    if (!v) {
        values.push_back(lvRegValue{type, n, std::string()});
        v = &values.back();
    }
    v->type = type;
    v->data.assign(static_cast<const char *>(data), length);
    return SaveValues(key->folder, values) ? 1 : 0;
}

int WriteRegistryValue(lvRegKeyHandle *key, const char *name, const void *data, size_t length, double number,
                       int isNumber)
{
    if (isNumber) {
        uint32_t v = uint32_t(int64_t(number));
        uint8_t b[4] = {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
        return WriteRegistryRawValue(key, name, LV_REG_DWORD, b, 4);
    }
    const char *text = static_cast<const char *>(data);
    if (std::memchr(text, 0, length)) return WriteRegistryRawValue(key, name, LV_REG_BINARY, data, length);
    std::string copy(text, length);
    char16_t *wide = DupTextToWide(copy.c_str());
    if (!wide) return 0;
    size_t chars = 0;
    while (wide[chars]) chars++;
    std::string bytes;
    for (size_t i = 0; i <= chars; i++) {
        bytes.push_back(char(wide[i] & 0xFF));
        bytes.push_back(char(wide[i] >> 8));
    }
    FreeMemory(wide);
    return WriteRegistryRawValue(key, name, LV_REG_SZ, bytes.data(), bytes.size());
}

int ReadRegistryValue(lvRegKeyHandle *key, const char *name, char *buffer, size_t *length, double *number,
                      int *isNumber)
{
    *isNumber = 0;
    if (!key || !key->folder) return 0;
    std::vector<lvRegValue> values = LoadValues(key->folder);
    lvRegValue *v = FindValue(values, ToSystemName(name));
    if (!v) return 0;
    const std::string &d = v->data;
    switch (v->type) {
    case LV_REG_DWORD:
    case LV_REG_DWORD_BIG_ENDIAN: {
        if (d.size() < 4) return 0;
        uint32_t n = GetLE32(d, 0);
        if (v->type == LV_REG_DWORD_BIG_ENDIAN) n = __builtin_bswap32(n);
        *number = n;
        *isNumber = 1;
        return 1;
    }
    case LV_REG_SZ: {
        // A text stored without its terminating zero is terminated here.
        std::vector<char16_t> wide;
        for (size_t i = 0; i + 1 < d.size(); i += 2) wide.push_back(char16_t((unsigned char)d[i] | ((unsigned char)d[i + 1] << 8)));
        if (wide.empty() || wide.back() != 0) {
            if (wide.size() * 2 >= *length) return 0;
            wide.push_back(0);
        }
        if (!WideToText(wide.data(), buffer, int(std::min<size_t>(*length, INT_MAX)))) return 0;
        size_t n = std::strlen(buffer);
        if (n + 1 >= *length) return 0;
        *length = n;
        return 1;
    }
    default:
        if (d.size() > *length) return 0;
        std::memcpy(buffer, d.data(), d.size());
        *length = d.size();
        return 1;
    }
}

// ============================================================================
// Enumeration
// ============================================================================

static char *DupToScriptText(const std::string &system)
{
    return DupSystemToText(system.c_str(), 0);
}

int NextRegKeyEntry(lvRegKeyHandle *key, char *name, size_t size, int *isKey, int *done)
{
    *done = 0;
    *isKey = 0;
    if (size) name[0] = 0;
    if (key->infoPending) {
        std::vector<std::string> all;
        uint32_t subKeys = 0;
        if (key->folder) {
            if (!IsFolder(key->folder)) return ERR_REGISTRYREAD;
            all = ListSubKeys(key->folder);
            subKeys = uint32_t(all.size());
            for (lvRegValue &v : LoadValues(key->folder)) all.push_back(v.name);
        }
        key->names = static_cast<char **>(AllocMemory(sizeof(char *) * (all.size() + 1), 1));
        if (!key->names) return ERR_MEM;
        for (size_t i = 0; i < all.size(); i++) {
            key->names[i] = DupToScriptText(all[i]);
            if (!key->names[i]) {
                key->subKeyCount = uint32_t(i);
                key->valueCount = 0;
                FreeNames(key);
                return ERR_MEM;
            }
        }
        key->subKeyCount = subKeys;
        key->valueCount = uint32_t(all.size()) - subKeys;
        key->infoPending = 0;
    }
    if (key->index >= key->subKeyCount + key->valueCount) {
        *done = 1;
        return 0;
    }
    *isKey = key->index < key->subKeyCount;
    const char *n = key->names[key->index++];
    std::snprintf(name, size, "%s", n);
    return 0;
}

// ============================================================================
// Shell links
// ============================================================================

int CreateShellLink(const char *target, const char *linkFile, const char *description)
{
    (void)description;
    char systemTarget[LV_PATH_SIZE], systemLink[LV_PATH_SIZE];
    if (!TextToSystem(target, systemTarget, sizeof systemTarget, 0) ||
        !TextToSystem(linkFile, systemLink, sizeof systemLink, 0))
        return ERR_TEXTCONVERT;
    // Replace an existing file the way a saved shortcut would: a new link, renamed over it.
    std::string temp = std::string(systemLink) + "." + std::to_string(getpid()) + ".tmp";
    unlink(temp.c_str());
    if (symlink(systemTarget, temp.c_str()) != 0) return ERR_CREATESHORTCUT;
    if (rename(temp.c_str(), systemLink) != 0) {
        unlink(temp.c_str());
        return ERR_CREATESHORTCUT;
    }
    return 0;
}

int ReadShellLink(const char *linkFile, char *target, size_t targetSize, char *description, size_t descriptionSize)
{
    if (targetSize) target[0] = 0;
    if (descriptionSize) description[0] = 0;
    char systemLink[LV_PATH_SIZE];
    if (!TextToSystem(linkFile, systemLink, sizeof systemLink, 0)) return ERR_GETSHORTCUT;
    char raw[LV_PATH_SIZE];
    ssize_t n = readlink(systemLink, raw, sizeof raw - 1);
    if (n < 0) return ERR_GETSHORTCUT;
    raw[n] = 0;
    char resolved[PATH_MAX];
    const char *result = realpath(systemLink, resolved) ? resolved : raw;
    if (!SystemToText(result, target, int(std::min<size_t>(targetSize, INT_MAX)), 0)) return ERR_GETSHORTCUT;
    return 0;
}

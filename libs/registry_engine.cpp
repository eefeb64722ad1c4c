// registry_engine.cpp - registry paths and values for the script (see registry_engine.h).
#include "libs/registry_engine.h"

#include <vector>

#include "base/lverrors.h"
#include "vm/lvvm.h"

static int Fail(int code, const std::string &path)
{
    GetVMHost()->SetErrorStringArg(path.c_str());
    return code;
}

std::string NormalizeRegistryPath(const char *path)
{
    std::string p = path ? path : "";
    if (p.size() >= LV_REGISTRY_PATH_SIZE) p.resize(LV_REGISTRY_PATH_SIZE - 1);
    for (char &c : p)
        if (c == '/') c = '\\';
    return p;
}

// Splits off the last part (the value name).
static void SplitValueName(const std::string &path, std::string &key, std::string &name)
{
    size_t cut = path.rfind('\\');
    if (cut == std::string::npos) {
        key.clear();
        name = path;
    } else {
        key = path.substr(0, cut);
        name = path.substr(cut + 1);
    }
    if (name.size() >= LV_REGISTRY_NAME_SIZE) name.resize(LV_REGISTRY_NAME_SIZE - 1);
}

int ReadRegistryPath(int root, const char *path, lvRegistryValue *value)
{
    std::string whole = NormalizeRegistryPath(path), key, name;
    SplitValueName(whole, key, name);
    lvRegKeyHandle *h = OpenRegKeyHandle(root, key.c_str(), LV_REGKEY_READ);
    if (!h) return Fail(ERR_REGISTRYREAD, key);
    std::vector<char> buffer(LV_REGISTRY_VALUE_SIZE);
    size_t length = buffer.size();
    int ok = ReadRegistryValue(h, name.c_str(), buffer.data(), &length, &value->number, &value->isNumber);
    CloseRegKeyHandle(h);
    if (!ok) return Fail(ERR_REGISTRYREAD, whole);
    if (!value->isNumber) value->bytes.assign(buffer.data(), length);
    return 0;
}

// Opens or creates each level of keyPath in turn; the last one is handed back.
static int CreateLevels(int root, const std::string &keyPath, int mode, lvRegKeyHandle **out)
{
    *out = nullptr;
    for (size_t at = 0; at <= keyPath.size(); at++) {
        if (at < keyPath.size() && keyPath[at] != '\\') continue;
        std::string level = keyPath.substr(0, at);
        lvRegKeyHandle *h = OpenRegKeyHandle(root, level.c_str(), mode);
        if (!h) return Fail(ERR_REGISTRYWRITE, level);
        if (at == keyPath.size()) *out = h;
        else CloseRegKeyHandle(h);
    }
    return 0;
}

int WriteRegistryPath(int root, const char *path, const void *data, size_t length, double number, int isNumber)
{
    std::string whole = NormalizeRegistryPath(path), key, name;
    SplitValueName(whole, key, name);
    lvRegKeyHandle *h;
    int rc = CreateLevels(root, key, LV_REGKEY_ALL, &h);
    if (rc) return rc;
    int ok = WriteRegistryValue(h, name.c_str(), data, length, number, isNumber);
    CloseRegKeyHandle(h);
    return ok ? 0 : Fail(ERR_REGISTRYWRITE, whole);
}

int CreateRegistryPath(int root, const char *path)
{
    lvRegKeyHandle *h;
    int rc = CreateLevels(root, NormalizeRegistryPath(path), LV_REGKEY_WRITE, &h);
    CloseRegKeyHandle(h);
    return rc;
}

int OpenRegistryPath(int root, const char *path, lvRegKeyHandle **key)
{
    std::string p = NormalizeRegistryPath(path);
    *key = OpenRegKeyHandle(root, p.c_str(), LV_REGKEY_READ);
    return *key ? 0 : Fail(ERR_REGISTRYREAD, p);
}

int NextRegistryEntry(lvRegKeyHandle *key, std::string &name, int *kind)
{
    char buffer[1024];
    int isKey, done;
    int rc = NextRegKeyEntry(key, buffer, sizeof buffer, &isKey, &done);
    if (rc) return rc;
    name = done ? std::string() : std::string(buffer);
    *kind = done ? -1 : isKey;
    return 0;
}

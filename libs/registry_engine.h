// registry_engine.h - the script side of registry keys: paths with '/' or '\' between
// levels whose last part names a value, level-by-level creation, the mapping of
// stored types to script values, and enumeration with sub-keys before values.
//
// Depends on: platform/lvplatform_registry.h (the store), vm/lvvm.h (error message
// arguments only). Errors are ERR_ codes with the failing path as the message's "%s".
#pragma once
#include <cstddef>
#include <string>

#include "platform/lvplatform.h"

// Paths and value names are bounded as the commands bound them.
constexpr size_t LV_REGISTRY_PATH_SIZE = 1024;
constexpr size_t LV_REGISTRY_NAME_SIZE = 256;
// Size of the buffer a value is read into.
constexpr size_t LV_REGISTRY_VALUE_SIZE = 65536;

struct lvRegistryValue {
    int isNumber;       // 1: number holds it
    double number;      // 32-bit values, 0 to 4294967295
    std::string bytes;  // text (REG_SZ, in the script encoding) or raw bytes of other types
};

// A copy of the path with every '/' turned into '\'.
std::string NormalizeRegistryPath(const char *path);
// The value named by the path's last part, below the key the rest names.
// 0, ERR_REGISTRYREAD (the key path, or the whole path when the value is missing).
int ReadRegistryPath(int root, const char *path, lvRegistryValue *value);
// Creates missing levels one after the other and sets the value the last part names:
// a number as a 32-bit number, text without zero bytes as text, other bytes as binary.
// 0, or ERR_REGISTRYWRITE (the path up to the level that failed, or the whole path).
int WriteRegistryPath(int root, const char *path, const void *data, size_t length, double number, int isNumber);
// Creates the key the whole path names, level by level. 0 or ERR_REGISTRYWRITE.
int CreateRegistryPath(int root, const char *path);
// Opens the key the whole path names for enumeration. 0 or ERR_REGISTRYREAD.
int OpenRegistryPath(int root, const char *path, lvRegKeyHandle **key);
// The next entry: kind 1 a sub-key, 0 a value, -1 (with an empty name) after the last,
// on this and every later call. 0, ERR_REGISTRYREAD or ERR_MEM.
int NextRegistryEntry(lvRegKeyHandle *key, std::string &name, int *kind);

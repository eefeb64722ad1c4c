// lvplatform_registry.h - registry keys and shell links of the platform layer,
// included at the end of platform/lvplatform.h.
//
// Linux implementation: platform/linux/registry.cpp. The registry is emulated: the
// current user's root (any root number other than 0 to 3) is a tree of folders under
// the preferences folder, "Registry/HKEY_CURRENT_USER", one folder per key (names
// escaped, matched without regard to ASCII case) and a "=values" file per key holding
// its typed values in order of creation; it survives between runs and is shared by
// processes (a key's values are replaced whole by a rename). The other roots exist,
// can be opened and are empty. Shell links are symbolic links.
//
// Texts cross in the script encoding. Script thread only.
#pragma once
#include <cstddef>
#include <cstdint>

// Root numbers.
enum {
    LV_HKEY_CLASSES_ROOT = 0,
    LV_HKEY_CURRENT_CONFIG = 1,
    LV_HKEY_LOCAL_MACHINE = 2,
    LV_HKEY_USERS = 3,
    LV_HKEY_CURRENT_USER = 4,  // any other number selects it too
};

// Value types as stored.
enum {
    LV_REG_SZ = 1,                   // UTF-16LE text with its terminating zero
    LV_REG_BINARY = 3,               // bytes
    LV_REG_DWORD = 4,                // 32-bit little-endian number
    LV_REG_DWORD_BIG_ENDIAN = 5,     // 32-bit big-endian number
};

// Open modes of OpenRegKeyHandle.
enum {
    LV_REGKEY_READ = 1,     // open an existing key
    LV_REGKEY_WRITE = 2,    // open or create (write access)
    LV_REGKEY_ALL = 4,      // open or create (full access)
};

struct lvRegKeyHandle {
    int root;                // the root number (0..3, or 4 for the current user)
    char *folder;            // the key's folder in the store (system text), or null for an empty root
    uint32_t subKeyCount;    // sub-keys, read at the first enumeration
    uint32_t valueCount;     // values, read at the first enumeration
    uint32_t index;          // enumeration index
    char **names;            // sub-key names then value names (script text), from the first enumeration
    int infoPending;         // 1 until the first enumeration has read the counts
};

// The folder of the current user's root (created on demand); null restores the
// default under the preferences folder. Tests point it at a folder of their own.
void SetRegistryStoreFolder(const char *folder);
// Opens the key below the root (path with "\" between levels; an empty path is the
// root itself). Null when it does not exist (read), cannot be created, or the root
// is read-only.
lvRegKeyHandle *OpenRegKeyHandle(int root, const char *path, int mode);
void CloseRegKeyHandle(lvRegKeyHandle *key);
// Reads a value: numbers into *number with *isNumber 1; a string (REG_SZ) converted
// into buffer (*length: its size in, the text's bytes out, terminated); any other
// type's raw bytes into buffer. 1, or 0 when missing, unreadable or too long.
int ReadRegistryValue(lvRegKeyHandle *key, const char *name, char *buffer, size_t *length, double *number,
                      int *isNumber);
// Writes a value: a number as REG_DWORD (low 32 bits of its integer); text without
// zero bytes as REG_SZ; other bytes as REG_BINARY. 1, or 0 on failure.
int WriteRegistryValue(lvRegKeyHandle *key, const char *name, const void *data, size_t length, double number,
                       int isNumber);
// Stores a value of any type as raw bytes (REG_SZ bytes are UTF-16LE). 1 or 0.
int WriteRegistryRawValue(lvRegKeyHandle *key, const char *name, uint32_t type, const void *data, size_t length);
// The next entry: sub-keys first (*isKey 1), then values (*isKey 0); *done at the end.
// 0, ERR_REGISTRYREAD or ERR_MEM.
int NextRegKeyEntry(lvRegKeyHandle *key, char *name, size_t size, int *isKey, int *done);

// A symbolic link at linkFile pointing at target (an existing file there is
// replaced). The description has no place in a symbolic link and is not kept.
// 0, ERR_CREATESHORTCUT or ERR_TEXTCONVERT.
int CreateShellLink(const char *target, const char *linkFile, const char *description);
// The resolved target of the link (its absolute path; the link's own text when the
// target is missing) and an empty description. 0 or ERR_GETSHORTCUT.
int ReadShellLink(const char *linkFile, char *target, size_t targetSize, char *description, size_t descriptionSize);

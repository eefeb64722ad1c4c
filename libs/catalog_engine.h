// catalog_engine.h - catalogs of translated strings: an IFF "CTLG" file (ISO-8859-1
// texts in a "STRS" chunk, each under a number) or a UTF-8 text file with one string a
// line, looked up by number with the caller's default for anything missing. Strings
// are handed out in the current script encoding, converted once and cached.
//
// Depends on: runtime/vfile.h (ReadVFileAll, AppendPathPart), runtime/encoding.h,
// libs/langtables.h (folder names of the user's language). A missing or broken catalog
// is never an error: the caller gets its defaults. Every length in an IFF file is
// checked against the data before it is used.
#pragma once
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

struct lvCatalog {
    uint8_t *data;                     // the file (from AllocMemory, 8 spare bytes), IFF form only
    size_t size;                       // bytes of the file
    const uint8_t *strs;               // first entry of the "STRS" chunk, or null for the text form
    std::vector<std::string> strings;  // text form: the strings, numbered from 0
    std::map<int, std::string> cache;  // strings converted (or terminated) on first use
};

// Parses a catalog held in memory; takes the block (AllocMemory, size + 8 bytes) in
// every case. Null when it holds no usable catalog.
lvCatalog *ParseCatalog(uint8_t *data, size_t size);
// Reads and parses a file (file adapters allowed). Null when it cannot be read or used.
lvCatalog *LoadCatalogFile(const char *path);
// The catalog name for a language: under each folder (an empty one is the current
// directory), "Catalogs/<english name>/name" and "Catalogs/<native name>/name", in that
// order. Null for English and unknown languages, or when none is found.
lvCatalog *LoadCatalogFrom(const char *name, int languageId, const char *const *folders, int folderCount);
// The same for the user's language, the current directory and then programFolder (may be null).
lvCatalog *LoadCatalog(const char *name, const char *programFolder);
// The same from a directory tree linked into the applet: "<english name>/name", then
// "<native name>/name", resolved in the tree to the linked file's data.
struct lvLinkedDirEntry;
lvCatalog *LoadCatalogFromTree(const char *name, int languageId, lvLinkedDirEntry *tree);
// String number index in the current encoding, or def when the catalog (may be null)
// has none. The text stays valid while the catalog lives.
const char *LookupCatalogString(lvCatalog *catalog, int index, const char *def);
void FreeCatalog(lvCatalog *catalog);

// catalog_engine.cpp - catalogs of translated strings (see catalog_engine.h).
#include "libs/catalog_engine.h"

#include <cstring>

#include "libs/dos_engine.h"
#include "libs/langtables.h"
#include "platform/lvplatform.h"
#include "runtime/encoding.h"
#include "runtime/vfile.h"

// ============================================================================
// Text catalogs
// ============================================================================

static bool IsBlankOnly(const std::string &s)
{
    for (char c : s)
        if (c != ' ' && c != '\t' && c != '\r' && c != '\n') return false;
    return true;
}

// Splits the text into numbered strings: ";" comments, backslash escapes, lines that
// hold only white space take no number.
static void ParseTextCatalog(const uint8_t *p, size_t size, std::vector<std::string> &out)
{
    const uint8_t *end = p + size;
    if (size >= 3 && p[0] == 0xEF && p[1] == 0xBB && p[2] == 0xBF) p += 3;
    std::string current;
    bool comment = false;
    auto finish = [&]() {
        if (!current.empty() && !IsBlankOnly(current)) out.push_back(current);
        current.clear();
        comment = false;
    };
    while (p < end) {
        uint8_t c = *p++;
        if (c == '\r') continue;
        if (c == '\n') {
            finish();
            continue;
        }
        if (comment) continue;
        if (c == ';') {
            comment = true;
            continue;
        }
        if (c != '\\') {
            current.push_back(char(c));
            continue;
        }
        if (p == end) {
            current.push_back('\\');
            break;
        }
        uint8_t e = *p;
        if (e == '"' || e == '\'' || e == ';') {
            current.push_back(char(e));
            p++;
        } else if (e == 'n' || e == 'r' || e == 't') {
            current.push_back(e == 'n' ? '\n' : e == 'r' ? '\r' : '\t');
            p++;
        } else if (e >= '0' && e <= '7') {
            unsigned v = 0;
            while (p < end && *p >= '0' && *p <= '7') v = v * 8 + unsigned(*p++ - '0');
            current.push_back(char(v & 0xFF));
        } else if (e == '\n' || (e == '\r' && p + 1 < end && p[1] == '\n')) {
            p += e == '\r' ? 2 : 1;  // the string goes on in the next line
        } else {
            current.push_back('\\');
            p++;
        }
    }
    finish();
}

// ============================================================================
// Loading
// ============================================================================

static bool HasIffHeader(const uint8_t *data, size_t size)
{
    return size > 100 && std::memcmp(data, "FORM", 4) == 0;
}

lvCatalog *ParseCatalog(uint8_t *data, size_t size)
{
    lvCatalog *c = new lvCatalog();
    c->data = data;
    c->size = size;
    if (HasIffHeader(data, size)) {
        if (std::memcmp(data + 8, "CTLGFVER", 8) == 0) {
            for (size_t at = 16; at + 8 <= size; at += 2) {
                if (std::memcmp(data + at, "STRS", 4) == 0) {
                    c->strs = data + at + 8;
                    return c;
                }
            }
        }
        FreeCatalog(c);
        return nullptr;
    }
    ParseTextCatalog(data, size, c->strings);
    FreeMemory(c->data);
    c->data = nullptr;
    c->size = 0;
    if (c->strings.empty()) {
        FreeCatalog(c);
        return nullptr;
    }
    return c;
}

lvCatalog *LoadCatalogFile(const char *path)
{
    uint8_t *data = nullptr;
    int64_t length = 0;
    if (ReadVFileAll(nullptr, path, LV_VF_READ | LV_VF_ADAPTERS, nullptr, nullptr, 8, &data, &length) != 0) return nullptr;
    return ParseCatalog(data, size_t(length));
}

lvCatalog *LoadCatalogFrom(const char *name, int languageId, const char *const *folders, int folderCount)
{
    if (languageId == LANGUAGE_ENGLISH || languageId == LANGUAGE_UNKNOWN) return nullptr;
    const char *english = GetLanguageEnglishName(languageId);
    if (!english) return nullptr;
    const char *native = GetLanguageNativeName(languageId);
    const char *names[2] = {english, native ? native : english};
    for (int f = 0; f < folderCount; f++) {
        for (const char *language : names) {
            char path[LV_PATH_SIZE];
            path[0] = 0;
            if (folders[f]) AppendPathPart(path, folders[f], sizeof path);
            AppendPathPart(path, "Catalogs", sizeof path);
            AppendPathPart(path, language, sizeof path);
            if (!AppendPathPart(path, name, sizeof path)) continue;
            lvCatalog *c = LoadCatalogFile(path);
            if (c) return c;
        }
    }
    return nullptr;
}

lvCatalog *LoadCatalogFromTree(const char *name, int languageId, lvLinkedDirEntry *tree)
{
    if (languageId == LANGUAGE_ENGLISH || languageId == LANGUAGE_UNKNOWN) return nullptr;
    const char *english = GetLanguageEnglishName(languageId);
    if (!english) return nullptr;
    const char *native = GetLanguageNativeName(languageId);
    for (const char *language : {english, native ? native : english}) {
        char path[LV_PATH_SIZE];
        path[0] = 0;
        AppendPathPart(path, language, sizeof path);
        if (!AppendPathPart(path, name, sizeof path)) continue;
        lvLinkedDirEntry *entry = FindLinkedDirEntry(tree, path);
        char linked[LV_PATH_SIZE];
        if (!entry || entry->isDirectory || MakeLinkedFileName(entry, linked, sizeof linked)) continue;
        return LoadCatalogFile(linked);
    }
    return nullptr;
}

lvCatalog *LoadCatalog(const char *name, const char *programFolder)
{
    const char *folders[2] = {"", programFolder};
    return LoadCatalogFrom(name, GetLanguageCode(), folders, programFolder && *programFolder ? 2 : 1);
}

// ============================================================================
// Lookup
// ============================================================================

static uint32_t LoadBE32(const uint8_t *p) { return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3]; }

// The ISO-8859-1 text of entry index in the "STRS" chunk; false when there is none.
// The walk ends at the end of the data: no length is trusted past it.
static bool FindIffEntry(const lvCatalog *c, int index, const uint8_t **text, size_t *length)
{
    const uint8_t *p = c->strs;
    const uint8_t *end = c->data + c->size;
    while (p && size_t(end - p) >= 8) {
        uint32_t id = LoadBE32(p);
        uint32_t n = LoadBE32(p + 4);
        if (id == 0xFFFFFFFFu) return false;
        p += 8;
        if (n > size_t(end - p)) return false;
        if (id == uint32_t(index)) {
            *text = p;
            // The text ends at its first zero byte (padding included).
            const void *zero = std::memchr(p, 0, n);
            *length = zero ? size_t(static_cast<const uint8_t *>(zero) - p) : n;
            return true;
        }
        size_t padded = (size_t(n) + 3) & ~size_t(3);
        if (padded > size_t(end - p)) return false;
        p += padded;
    }
    return false;
}

const char *LookupCatalogString(lvCatalog *c, int index, const char *def)
{
    if (!c) return def;
    auto cached = c->cache.find(index);
    if (cached != c->cache.end()) return cached->second.c_str();
    bool utf8 = GetGlobalEncoding() == LV_ENCODING_UTF8;
    if (c->strs) {
        const uint8_t *text;
        size_t n;
        if (!FindIffEntry(c, index, &text, &n)) return def;
        std::string s;
        if (utf8 && n > 0) {  // the converter reads up to a NUL for a length of 0
            s.resize(n * 2 + 1);
            s.resize(Latin1ToUtf8Into(reinterpret_cast<const char *>(text), s.data(), n));
        } else {
            s.assign(reinterpret_cast<const char *>(text), n);
        }
        return c->cache.emplace(index, std::move(s)).first->second.c_str();
    }
    if (index < 0 || size_t(index) >= c->strings.size()) return def;
    const std::string &s = c->strings[size_t(index)];
    if (utf8 || s.empty()) return s.c_str();
    std::string latin(s.size() + 1, '\0');
    latin.resize(Utf8ToLatin1Into(s.data(), latin.data(), s.size()));
    return c->cache.emplace(index, std::move(latin)).first->second.c_str();
}

void FreeCatalog(lvCatalog *c)
{
    if (!c) return;
    FreeMemory(c->data);
    delete c;
}

// fontlist.cpp - the list of font files on the system: the scan of the font
// directories, the name-table reader, the lookup of a file by family, weight
// and slant, and the extra font directories. Every count, offset and length
// read from a file is checked against the file's size: a damaged face is
// passed over.
#include <dirent.h>
#include <fcntl.h>
#include <stdlib.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "text/lvfont.h"
#include "text/lvtruetype.h"

static uint32_t Be32(const uint8_t *p) { return (uint32_t)p[0] << 24 | (uint32_t)p[1] << 16 | p[2] << 8 | p[3]; }
static uint16_t Be16(const uint8_t *p) { return (uint16_t)(p[0] << 8 | p[1]); }
// True when [offset, offset + length) lies inside size bytes.
static bool Inside(size_t size, uint64_t offset, uint64_t length) { return offset <= size && length <= size - offset; }

int StyleWordValue(const char *word, size_t length, int *value)
{
    static const struct { const char *word; int kind, value; } kWords[] = {
        {"Thin", 1, 0}, {"Extralight", 1, 40}, {"Extra-light", 1, 40}, {"Ultralight", 1, 40},
        {"Ultra-light", 1, 40}, {"Light", 1, 50}, {"Book", 1, 75}, {"Normal", 1, 80}, {"Regular", 1, 80},
        {"Medium", 1, 100}, {"Semibold", 1, 180}, {"Semi-bold", 1, 180}, {"Semi", 1, 180}, {"Demibold", 1, 180},
        {"Demi-bold", 1, 180}, {"Demi", 1, 180}, {"Bold", 1, 200}, {"Extrabold", 1, 205}, {"Extra-bold", 1, 205},
        {"Ultrabold", 1, 205}, {"Ultra-bold", 1, 205}, {"Heavy", 1, 210}, {"Black", 1, 210},
        {"Extrablack", 1, 215}, {"Extra-black", 1, 215}, {"Ultrablack", 1, 215}, {"Ultra-black", 1, 215},
        {"Roman", 2, 0}, {"Italic", 2, 100}, {"Oblique", 2, 110},
    };
    for (const auto &w : kWords) {
        if (strlen(w.word) == length && strncasecmp(w.word, word, length) == 0) {
            *value = w.value;
            return w.kind;
        }
    }
    return 0;
}

bool IsRegularStyle(const char *style)
{
    static const char *const kRegular[] = {"", "regular", "plain", "normal", "book", "roman"};
    for (const char *r : kRegular)
        if (strcasecmp(style, r) == 0) return true;
    return false;
}

int ReadTrueTypeNames(const uint8_t *data, size_t size, size_t base, size_t tablesBase, char *family,
                      size_t familySize, char *style, size_t styleSize)
{
    family[0] = style[0] = 0;
    if (!Inside(size, base, 12)) return 0;
    uint32_t version = Be32(data + base);
    if (version != 0x00010000 && version != 0x4F54544F /* OTTO */ && version != 0x74727565 /* true */) return 0;
    uint16_t tables = Be16(data + base + 4);
    if (!Inside(size, base + 12, (uint64_t)tables * 16)) return 0;
    uint64_t nameAt = 0, nameLength = 0;
    bool found = false;
    for (uint16_t i = 0; i < tables; i++) {
        const uint8_t *rec = data + base + 12 + (size_t)i * 16;
        if (memcmp(rec, "name", 4) == 0) {
            nameAt = tablesBase + (uint64_t)Be32(rec + 8);
            nameLength = Be32(rec + 12);
            found = true;
            break;
        }
    }
    if (!found || !Inside(size, nameAt, nameLength) || nameLength < 6) return 0;
    const uint8_t *table = data + nameAt;
    uint16_t count = Be16(table + 2), strings = Be16(table + 4);
    if (!Inside(nameLength, 6, (uint64_t)count * 12)) return 0;
    bool haveFamily = false, haveStyle = false;
    for (uint16_t i = 0; i < count && !(haveFamily && haveStyle); i++) {
        const uint8_t *rec = table + 6 + (size_t)i * 12;
        uint16_t platform = Be16(rec), language = Be16(rec + 4), id = Be16(rec + 6);
        uint16_t length = Be16(rec + 8), offset = Be16(rec + 10);
        if (id != 1 && id != 2) continue;
        if ((id == 1 && haveFamily) || (id == 2 && haveStyle)) continue;
        if (platform == 1 && language != 0) continue;
        if (platform == 3) {
            static const uint16_t kEnglish[] = {0x0409, 0x0809, 0x0C09, 0x1009, 0x1409, 0x1809, 0x1C09, 0x4009};
            bool english = false;
            for (uint16_t e : kEnglish) english |= language == e;
            if (!english) continue;
        }
        if (length >= 512) {
            family[0] = style[0] = 0;
            return 0;
        }
        if (!Inside(nameLength, (uint64_t)strings + offset, length)) return 0;
        char *out = id == 1 ? family : style;
        size_t outSize = id == 1 ? familySize : styleSize, n = 0;
        const uint8_t *s = table + strings + offset;
        for (uint16_t k = 0; k < length && n + 1 < outSize; k++)
            if (s[k]) out[n++] = (char)s[k];
        out[n] = 0;
        (id == 1 ? haveFamily : haveStyle) = true;
    }
    return haveFamily && family[0] ? 1 : 0;
}

// ---- the list ----------------------------------------------------------------------

static bool ContainsWord(const char *text, const char *word, size_t length)
{
    for (const char *p = text; *p;) {
        while (*p == ' ') p++;
        const char *e = p;
        while (*e && *e != ' ') e++;
        if ((size_t)(e - p) == length && strncasecmp(p, word, length) == 0) return true;
        p = e;
    }
    return false;
}

static lvFontListEntry *FindEntry(lvFontManager *fm, const char *fullName)
{
    for (lvFontListEntry *e = fm->fontList; e; e = e->next)
        if (strcasecmp(e->fullName, fullName) == 0) return e;
    return nullptr;
}

static lvFontListEntry *AppendEntry(lvFontManager *fm, const lvFontListEntry &proto)
{
    if (FindEntry(fm, proto.fullName)) return nullptr;
    lvFontListEntry *e = new (std::nothrow) lvFontListEntry(proto);
    if (!e) return nullptr;
    e->next = nullptr;
    lvFontListEntry **tail = &fm->fontList;
    while (*tail) tail = &(*tail)->next;
    *tail = e;
    return e;
}

static void AddFace(lvFontManager *fm, const char *path, const uint8_t *data, size_t size, size_t base,
                    size_t tablesBase, lvFontListEntry proto, int noDuplicates)
{
    char family[512], style[512];
    if (!ReadTrueTypeNames(data, size, base, tablesBase, family, sizeof family, style, sizeof style)) return;
    snprintf(proto.family, sizeof proto.family, "%s", family);
    snprintf(proto.path, sizeof proto.path, "%s", path);
    std::string full = family;
    proto.weight = FONTWEIGHT_NORMAL;
    proto.slant = FONTSLANT_ROMAN;
    for (const char *p = style; *p;) {
        while (*p == ' ') p++;
        const char *e = p;
        while (*e && *e != ' ') e++;
        if (e > p) {
            int v, kind = StyleWordValue(p, (size_t)(e - p), &v);
            if (kind == 1) proto.weight = v;
            if (kind == 2) proto.slant = v;
            if (!ContainsWord(family, p, (size_t)(e - p))) full += " " + std::string(p, (size_t)(e - p));
        }
        p = e;
    }
    snprintf(proto.fullName, sizeof proto.fullName, "%s", full.c_str());
    AppendEntry(fm, proto);
    if (IsRegularStyle(style) && !noDuplicates) {
        snprintf(proto.fullName, sizeof proto.fullName, "%s", family);
        proto.weight = FONTWEIGHT_NORMAL;
        proto.slant = FONTSLANT_ROMAN;
        AppendEntry(fm, proto);
    }
}

static bool HasExtension(const char *name, const char *ext)
{
    size_t n = strlen(name), m = strlen(ext);
    return n >= m && strcasecmp(name + n - m, ext) == 0;
}

void AddFontFileToList(lvFontManager *fm, const char *path, const uint8_t *data, size_t size, int noDuplicates)
{
    const char *slash = strrchr(path, '/');
    const char *file = slash ? slash + 1 : path;
    if (strlen(file) < 6) return;
    lvFontListEntry proto{};
    if (HasExtension(file, ".dfont")) {
        for (uint64_t at = 256; Inside(size, at, 4);) {
            uint32_t length = Be32(data + at);
            if (length == 0 || !Inside(size, at + 4, length)) break;
            proto.faceOffset = (uint32_t)(at + 4);
            proto.faceLength = length;
            AddFace(fm, path, data, at + 4 + length, at + 4, at + 4, proto, noDuplicates);
            at += 4 + (uint64_t)length;
        }
    } else if (HasExtension(file, ".ttc")) {
        if (!Inside(size, 0, 12) || memcmp(data, "ttcf", 4) != 0) return;
        uint32_t count = Be32(data + 8);
        if (!Inside(size, 12, (uint64_t)count * 4)) return;
        for (uint32_t i = 0; i < count; i++) {
            uint32_t offset = Be32(data + 12 + (size_t)i * 4);
            if (offset == 0) continue; // 0 means "no collection" to readers of the entry
            proto.collectionOffset = offset;
            AddFace(fm, path, data, size, offset, 0, proto, noDuplicates);
        }
    } else if (HasExtension(file, ".ttf") || HasExtension(file, ".otf")) {
        AddFace(fm, path, data, size, 0, 0, proto, noDuplicates);
    } else if (HasExtension(file, ".font")) {
        if (size < 4) return;
        uint16_t id = Be16(data);
        snprintf(proto.family, sizeof proto.family, "%.*s", (int)(strlen(file) - 5), file);
        snprintf(proto.fullName, sizeof proto.fullName, "%s", proto.family);
        snprintf(proto.path, sizeof proto.path, "%s", path);
        proto.weight = FONTWEIGHT_NORMAL;
        if (id == 0x0F00 || id == 0x0F02) {
            proto.bitmap = 1;
            uint16_t count = Be16(data + 2);
            for (uint32_t i = 0; i < count; i++) {
                uint64_t at = 4 + (uint64_t)i * 260 + 256;
                if (!Inside(size, at, 2)) break;
                uint16_t ysize = Be16(data + at);
                bool seen = false;
                for (int k = 0; k < proto.sizeCount; k++) seen |= proto.sizes[k] == (uint8_t)ysize;
                if (!seen && proto.sizeCount < 256) proto.sizes[proto.sizeCount++] = (uint8_t)ysize;
            }
        } else if (id != 0x0F03) {
            return;
        }
        AppendEntry(fm, proto);
    }
}

bool ReadFontFileBytes(const char *path, size_t maxBytes, std::vector<uint8_t> &bytes)
{
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st;
    bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && (uint64_t)st.st_size <= maxBytes;
    if (ok) {
        bytes.resize((size_t)st.st_size);
        size_t done = 0;
        while (done < bytes.size()) {
            ssize_t n = read(fd, bytes.data() + done, bytes.size() - done);
            if (n <= 0) break;
            done += (size_t)n;
        }
        ok = done == bytes.size();
    }
    close(fd);
    return ok;
}

static bool ReadWholeFile(const char *path, std::vector<uint8_t> &bytes)
{
    return ReadFontFileBytes(path, (size_t)256 << 20, bytes);
}

static bool IsFontFileName(const char *name)
{
    static const char *const kExt[] = {".font", ".ttf", ".otf", ".ttc", ".dfont"};
    if (strlen(name) < 6) return false;
    for (const char *e : kExt)
        if (HasExtension(name, e)) return true;
    return false;
}

static void ScanOneFile(lvFontManager *fm, const char *path, int noDuplicates)
{
    std::vector<uint8_t> bytes;
    if (ReadWholeFile(path, bytes)) AddFontFileToList(fm, path, bytes.data(), bytes.size(), noDuplicates);
}

int ScanFontFiles(lvFontManager *fm, const char *directory, int noDuplicates)
{
    DIR *dir = opendir(directory);
    if (!dir) {
        snprintf(fm->errorText, sizeof fm->errorText, "Error locking %s!", directory);
        return ERR_LOCK2;
    }
    std::vector<std::string> names;
    while (struct dirent *d = readdir(dir))
        if (IsFontFileName(d->d_name)) names.push_back(d->d_name);
    closedir(dir);
    // Directory order differs between file systems: scan in name order.
    std::sort(names.begin(), names.end());
    for (const std::string &n : names) ScanOneFile(fm, (std::string(directory) + "/" + n).c_str(), noDuplicates);
    return 0;
}

struct lvScanContext {
    lvFontManager *fm;
    int noDuplicates;
};

void BuildFontList(lvFontManager *fm, int noDuplicates)
{
    if (fm->fontListBuilt && fm->fontListNoDuplicates == noDuplicates) return;
    DropFontList(fm);
    for (lvFontPath *p = fm->fontPaths; p; p = p->next) ScanFontFiles(fm, p->path, noDuplicates);
    ScanFontFiles(fm, "Fonts", noDuplicates);
    lvScanContext ctx{fm, noDuplicates};
    ForEachSystemFontFile(
        [](const char *path, void *c) {
            lvScanContext *sc = (lvScanContext *)c;
            if (IsFontFileName(path)) ScanOneFile(sc->fm, path, sc->noDuplicates);
        },
        &ctx);
    fm->fontListBuilt = 1;
    fm->fontListNoDuplicates = noDuplicates;
}

void DropFontList(lvFontManager *fm)
{
    while (lvFontListEntry *e = fm->fontList) {
        fm->fontList = e->next;
        delete e;
    }
    fm->fontListBuilt = 0;
}

int AddFontPath(lvFontManager *fm, const char *path)
{
    char full[PATH_MAX];
    DIR *dir = opendir(path);
    if (!dir || !realpath(path, full)) {
        if (dir) closedir(dir);
        snprintf(fm->errorText, sizeof fm->errorText, "Error locking %s!", path);
        return ERR_LOCK2;
    }
    closedir(dir);
    if (strlen(full) >= sizeof(lvFontPath::path)) {
        snprintf(fm->errorText, sizeof fm->errorText, "Error locking %s!", path);
        return ERR_LOCK2;
    }
    lvFontPath **tail = &fm->fontPaths;
    for (; *tail; tail = &(*tail)->next)
        if (strcasecmp((*tail)->path, full) == 0) return 0;
    lvFontPath *p = new (std::nothrow) lvFontPath{};
    if (!p) return ERR_MEM;
    memcpy(p->path, full, strlen(full) + 1);
    *tail = p;
    DropFontList(fm);
    return 0;
}

// ---- collections -------------------------------------------------------------------

int ExtractCollectionFace(const uint8_t *data, size_t size, uint32_t offset, uint8_t **out, size_t *outSize)
{
    *out = nullptr;
    *outSize = 0;
    if (!Inside(size, offset, 12)) return ERR_READ;
    uint16_t tables = Be16(data + offset + 4);
    uint64_t dirSize = 12 + (uint64_t)tables * 16;
    if (!Inside(size, offset, dirSize)) return ERR_READ;
    uint64_t total = dirSize;
    for (uint16_t i = 0; i < tables; i++) {
        const uint8_t *rec = data + offset + 12 + (size_t)i * 16;
        uint32_t at = Be32(rec + 8), length = Be32(rec + 12);
        if (!Inside(size, at, length)) return ERR_READ;
        total += ((uint64_t)length + 3) & ~(uint64_t)3;
    }
    uint8_t *face = (uint8_t *)calloc((size_t)total, 1);
    if (!face) return ERR_MEM;
    memcpy(face, data + offset, (size_t)dirSize);
    uint64_t at = dirSize;
    for (uint16_t i = 0; i < tables; i++) {
        uint8_t *rec = face + 12 + (size_t)i * 16;
        uint32_t from = Be32(rec + 8), length = Be32(rec + 12);
        memcpy(face + at, data + from, length);
        rec[8] = (uint8_t)(at >> 24);
        rec[9] = (uint8_t)(at >> 16);
        rec[10] = (uint8_t)(at >> 8);
        rec[11] = (uint8_t)at;
        at += ((uint64_t)length + 3) & ~(uint64_t)3;
    }
    *out = face;
    *outSize = (size_t)total;
    return 0;
}

int FindFontFile(lvFontManager *fm, const char *name, int weight, int slant, int wholeFilesOnly, char *path,
                 size_t pathSize, uint32_t *faceOffset, uint32_t *faceLength, int *temporary)
{
    BuildFontList(fm, 0);
    *faceOffset = *faceLength = 0;
    *temporary = 0;
    for (lvFontListEntry *e = fm->fontList; e; e = e->next) {
        if (e->bitmap) continue;
        if (wholeFilesOnly && (e->collectionOffset || e->faceLength)) continue;
        bool match = weight == -1 ? strcasecmp(e->fullName, name) == 0
                                  : strcasecmp(e->family, name) == 0 && e->weight == weight && e->slant == slant;
        if (!match) continue;
        if (!e->collectionOffset) {
            snprintf(path, pathSize, "%s", e->path);
            *faceOffset = e->faceOffset;
            *faceLength = e->faceLength;
            return 0;
        }
        std::vector<uint8_t> bytes;
        uint8_t *face = nullptr;
        size_t faceSize = 0;
        if (!ReadWholeFile(e->path, bytes) ||
            ExtractCollectionFace(bytes.data(), bytes.size(), e->collectionOffset, &face, &faceSize) != 0)
            continue;
        const char *dir = getenv("TMPDIR");
        char tmp[1024];
        snprintf(tmp, sizeof tmp, "%s/lvfontXXXXXX.ttf", dir && *dir ? dir : "/tmp");
        int fd = mkstemps(tmp, 4);
        bool ok = fd >= 0;
        for (size_t done = 0; ok && done < faceSize;) {
            ssize_t n = write(fd, face + done, faceSize - done);
            if (n <= 0) ok = false;
            else done += (size_t)n;
        }
        if (fd >= 0) close(fd);
        free(face);
        if (!ok) {
            if (fd >= 0) unlink(tmp);
            continue;
        }
        snprintf(path, pathSize, "%s", tmp);
        *temporary = 1;
        return 0;
    }
    return ERR_OPENFONT;
}

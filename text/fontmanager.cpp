// fontmanager.cpp - opening fonts through the ordered loaders, the cache that
// shares them, and the dispatch of measuring, drawing, kerning, scaling and
// freeing by font type.
#include <strings.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "text/lvimagefont.h"
#include "text/lvamiga.h"
#include "text/lvfont.h"
#include "text/lvimagefont.h"
#include "text/lvpluginfont.h"
#include "runtime/vfile.h"
#include "text/lvtruetype.h"

int InitFontManager(lvFontManager *fm)
{
    *fm = {};
    fm->screenDpi = 72;
    int err = MakeTopazFont(&fm->topaz);
    return err ? err : InitTrueTypeEngine(fm);
}

void DoneFontManager(lvFontManager *fm)
{
    while (lvFontCacheEntry *e = fm->cache) {
        fm->cache = e->next;
        DestroyFont(fm, e->font);
        delete e;
    }
    while (lvFontPath *p = fm->fontPaths) {
        fm->fontPaths = p->next;
        delete p;
    }
    DropFontList(fm);
    if (fm->topaz) {
        FreeAmigaFont(fm->topaz);
        delete fm->topaz;
        fm->topaz = nullptr;
    }
    DoneTrueTypeEngine(fm);
    DoneSystemFonts();
}

const char *EngineToLoaderList(int engine)
{
    if (engine == FONTENGINE_NATIVE) return "plugin|native";
    if (engine == FONTENGINE_PLUGIN) return "plugin";
    return "plugin|inbuilt|native";
}

int FontEngineOf(const lvFont *font)
{
    if (font->type == LV_FONT_TRUETYPE) return FONTENGINE_INBUILT;
    if (font->type == LV_FONT_PLUGIN) return FONTENGINE_PLUGIN;
    return FONTENGINE_NATIVE;
}

int FontTypeOf(const lvFont *font)
{
    switch (font->type) {
    case LV_FONT_AMIGA: return FONTTYPE_BITMAP;
    case LV_FONT_AMIGACOLOR: return FONTTYPE_COLOR;
    case LV_FONT_IMAGE: return FONTTYPE_BRUSH;
    case LV_FONT_PLUGIN: return FONTTYPE_PLUGIN;
    default: return FONTTYPE_VECTOR;
    }
}

static bool IsFreeTypeFont(const lvFont *font)
{
    return font && (font->type == LV_FONT_TRUETYPE || font->type == LV_FONT_SYSTEM);
}
static bool IsAmigaFont(const lvFont *font)
{
    return font && (font->type == LV_FONT_AMIGA || font->type == LV_FONT_AMIGACOLOR);
}

// ---- opening -----------------------------------------------------------------------

static uint32_t Be32(const uint8_t *p) { return (uint32_t)p[0] << 24 | (uint32_t)p[1] << 16 | p[2] << 8 | p[3]; }

// A linked-font block: flags, optionally the system engine's own bytes, then
// the font. 0 or ERR_READ.
struct lvLinkedFont {
    uint32_t flags;
    const uint8_t *systemData;
    size_t systemSize;
    const uint8_t *data;
    size_t size;
};
static int ParseLinkedFont(const uint8_t *block, size_t size, lvLinkedFont *out)
{
    *out = {};
    if (size < 4) return ERR_READ;
    out->flags = Be32(block);
    size_t at = 4;
    if (out->flags & 4) {
        if (size - at < 4) return ERR_READ;
        uint32_t n = Be32(block + at);
        at += 4;
        if (n > size - at) return ERR_READ;
        out->systemData = block + at;
        out->systemSize = n;
        at += n;
    }
    out->data = block + at;
    out->size = size - at;
    return 0;
}

static lvFont *NewFont(int size, int usePoints, int charMap)
{
    lvFont *font = new (std::nothrow) lvFont{};
    if (!font) return nullptr;
    font->size = size;
    font->usePoints = usePoints;
    font->charMap = charMap;
    font->scaleX = font->scaleY = 1.0;
    font->transparentPen = -1;
    return font;
}

static bool NextLoader(const char *&list, std::string &loader)
{
    if (!*list) return false;
    const char *bar = strchr(list, '|');
    size_t n = bar ? (size_t)(bar - list) : strlen(list);
    loader.assign(list, n);
    list += n + (bar ? 1 : 0);
    return true;
}

static bool FileExists(const std::string &path)
{
    FILE *f = fopen(path.c_str(), "rb");
    if (f) fclose(f);
    return f != nullptr;
}

// An Amiga font by name: in the font directories, as it stands, then in "Fonts".
static bool OpenAmigaByName(lvFontManager *fm, const std::string &name, int size, lvFont *font)
{
    if (!name.empty() && name[0] == '/') return OpenAmigaFont(name.c_str(), size, font, name.c_str()) != 0;
    std::string found;
    for (lvFontPath *p = fm->fontPaths; p && found.empty(); p = p->next)
        if (FileExists(std::string(p->path) + "/" + name + ".font")) found = std::string(p->path) + "/" + name;
    if (found.empty() && FileExists(name + ".font")) found = name;
    if (found.empty() && FileExists("Fonts/" + name + ".font")) found = "Fonts/" + name;
    return !found.empty() && OpenAmigaFont(found.c_str(), size, font, name.c_str()) != 0;
}

// A font opened with another character map is not the one asked for: sharing
// it would answer a map the face may not have with one it has.
static lvFontCacheEntry *FindCached(lvFontManager *fm, const char *name, const char *loader, const char *adapter,
                                    int size, int cacheFlag, int usePoints, int charMap)
{
    for (lvFontCacheEntry *e = fm->cache; e; e = e->next) {
        if (strcmp(e->name, name) == 0 && strcmp(e->loader, loader) == 0 && strcmp(e->adapter, adapter) == 0 &&
            e->size == size && e->cacheFlag == cacheFlag && e->usePoints == usePoints && e->font->charMap == charMap)
            return e;
    }
    return nullptr;
}

int OpenFontByName(lvFontManager *fm, const char *name, int size, int cacheFlag, int usePoints, int charMap,
                   const uint8_t *linkedData, size_t linkedSize, const char *loaders, const char *adapter,
                   lvFont **out)
{
    *out = nullptr;
    if (!adapter) adapter = "";
    const char *askedName = name;
    if (strcmp(name, LV_BITMAP_DEFAULT) == 0) {
        if (usePoints) return ERR_WRONGUSAGE;
        name = "topaz";
        loaders = "native";
    } else if (strcmp(name, LV_TRUETYPE_DEFAULT) == 0 || strcmp(name, LV_SANS_DEFAULT) == 0) {
        name = "Bitstream Vera Sans";
        loaders = "inbuilt";
    } else if (strcmp(name, LV_SERIF_DEFAULT) == 0) {
        name = "Bitstream Vera Serif";
        loaders = "inbuilt";
    } else if (strcmp(name, LV_MONOSPACE_DEFAULT) == 0) {
        name = "Bitstream Vera Sans Mono";
        loaders = "inbuilt";
    }
    lvLinkedFont linked{};
    bool skipAmiga = false, skipSystem = false;
    if (linkedData) {
        int err = ParseLinkedFont(linkedData, linkedSize, &linked);
        if (err) return err;
        skipAmiga = (linked.flags & 2) != 0;
        skipSystem = !skipAmiga;
    }
    std::string loader;
    for (const char *l = loaders; NextLoader(l, loader);) {
        if (lvFontCacheEntry *e = FindCached(fm, name, loader.c_str(), adapter, size, cacheFlag, usePoints, charMap)) {
            ApplyFontScale(fm, e->font, 1.0, 1.0);
            *out = e->font;
            return 0;
        }
    }
    lvFont *font = nullptr;
    std::string used;
    for (const char *l = loaders; !font && NextLoader(l, loader);) {
        lvFont *f = NewFont(size, usePoints, charMap);
        if (!f) return ERR_MEM;
        bool ok = false;
        if (loader == "inbuilt") {
            ok = !linkedData && OpenTrueTypeFont(fm, name, size, cacheFlag, charMap, f);
        } else if (loader == "native" && strcmp(name, "topaz") == 0 && size == 8) {
            delete f;
            *out = fm->topaz;
            return 0;
        } else if (loader == "native") {
            std::string base = name;
            if (base.size() > 5 && strcasecmp(base.c_str() + base.size() - 5, ".font") == 0)
                base.resize(base.size() - 5);
            if (!skipAmiga && !usePoints && !linkedData) ok = OpenAmigaByName(fm, base, size, f);
            if (!ok && !skipSystem) {
                const uint8_t *data = linkedData ? (linked.systemData ? linked.systemData : linked.data) : nullptr;
                size_t dataSize = linkedData ? (linked.systemData ? linked.systemSize : linked.size) : 0;
                ok = OpenNativeFont(fm, base.c_str(), size, data, dataSize, f);
            }
        } else if (loader != "inbuilt" && loader != "native") {
            // "plugin" (or a plug-in's own name): each font plug-in in turn until one answers.
            lvAdapterScan scan;
            BeginAdapterScan(&scan, loader.c_str(), PLUGINCAPS_FONT, 0);
            while (!ok) {
                int kind = NextAdapter(&scan);
                if (!kind) break;
                if (kind == 3 && scan.record) ok = OpenPluginFont(scan.record, name, size, usePoints, adapter, f);
            }
        }
        if (ok) {
            if (f->type != LV_FONT_PLUGIN) f->driver = loader == "native" ? (void *)1 : nullptr;
            font = f;
            used = loader;
        } else {
            delete f;
        }
    }
    if (!font) {
        snprintf(fm->errorText, sizeof fm->errorText, "Cannot open font %s with size %d!", askedName, size);
        return ERR_OPENFONT;
    }
    lvFontCacheEntry *entry = new (std::nothrow) lvFontCacheEntry{};
    if (!entry) {
        DestroyFont(fm, font);
        return ERR_MEM;
    }
    snprintf(entry->name, sizeof entry->name, "%s", name);
    snprintf(entry->loader, sizeof entry->loader, "%s", used.c_str());
    snprintf(entry->adapter, sizeof entry->adapter, "%s", adapter);
    entry->size = size;
    entry->cacheFlag = cacheFlag;
    entry->usePoints = usePoints;
    entry->font = font;
    font->cacheEntry = entry;
    lvFontCacheEntry **tail = &fm->cache;
    while (*tail) tail = &(*tail)->next;
    *tail = entry;
    *out = font;
    return 0;
}

lvFontClip ClipToPlane(const lvFontPlane *target, const lvFontClip *clip)
{
    lvFontClip c{0, 0, target->width - 1, target->height - 1};
    if (clip) {
        if (clip->minX > c.minX) c.minX = clip->minX;
        if (clip->minY > c.minY) c.minY = clip->minY;
        if (clip->maxX < c.maxX) c.maxX = clip->maxX;
        if (clip->maxY < c.maxY) c.maxY = clip->maxY;
    }
    return c;
}

// ---- dispatch ----------------------------------------------------------------------

int MeasureFontText(lvFontManager *fm, lvFont *font, const char *text, size_t length, int style, int charSpacing,
                    int encoding, lvFontExtent *out)
{
    *out = {};
    if (!font) font = fm->topaz;
    if (IsAmigaFont(font)) return MeasureAmigaText(font, text, length, charSpacing, encoding, out);
    if (font->type == LV_FONT_IMAGE) return MeasureImageFontText(font, text, length, charSpacing, encoding, out);
    if (font->type == LV_FONT_PLUGIN)
        return MeasurePluginText(font, text, length, style, charSpacing, encoding, out);
    if (!IsFreeTypeFont(font)) return ERR_OPENFONT;
    return MeasureTrueTypeText(font, text, length, style, charSpacing, encoding, out);
}

int RenderFontText(lvFontManager *fm, lvFont *font, const lvFontPlane *target, int x, int y, const char *text,
                   size_t length, int style, int charSpacing, int encoding, const lvFontClip *clip)
{
    if (!font) font = fm->topaz;
    if (IsAmigaFont(font)) return RenderAmigaText(font, target, x, y, text, length, charSpacing, encoding, clip);
    if (font->type == LV_FONT_IMAGE)
        return RenderImageFontText(font, target, x, y, text, length, charSpacing, encoding, clip);
    if (font->type == LV_FONT_PLUGIN)
        return RenderPluginText(font, target, x, y, text, length, style, charSpacing, encoding, clip);
    if (!IsFreeTypeFont(font)) return ERR_OPENFONT;
    return RenderTrueTypeText(font, target, x, y, text, length, style, charSpacing, encoding, clip);
}

int GetFontKerning(lvFontManager *fm, lvFont *font, const char *pair, size_t length, int style, int encoding)
{
    if (font && font->type == LV_FONT_PLUGIN) return GetPluginKerning(font, pair, length, encoding);
    if (!IsFreeTypeFont(font)) return 0;
    return GetTrueTypeKerning(font, pair, length, style, encoding);
}

void ApplyFontScale(lvFontManager *fm, lvFont *font, double sx, double sy)
{
    if (!font || !font->scalable) return;
    if (font->scaleX == sx && font->scaleY == sy) return;
    font->scaleX = sx;
    font->scaleY = sy;
    font->height = (int)ceil(sy * font->baseHeight);
    font->baseline = (int)ceil(sy * font->baseBaseline);
    // System fonts are drawn by FreeType here too: both take the transform.
    if (IsFreeTypeFont(font)) ScaleTrueTypeFont(font, sx, sy);
    if (font->type == LV_FONT_PLUGIN) ScalePluginFont(font, sx, sy);
}

int GetFontDepth(const lvFont *font)
{
    if (font->type == LV_FONT_AMIGACOLOR || font->type == LV_FONT_IMAGE || font->type == LV_FONT_PLUGIN)
        return font->depth;
    return font->antialiased ? 8 : 1;
}

const uint32_t *GetFontPalette(const lvFont *font)
{
    if (font->type == LV_FONT_AMIGACOLOR || font->type == LV_FONT_IMAGE || font->type == LV_FONT_PLUGIN)
        return font->palette;
    return nullptr;
}

int GetFontTransparentPen(const lvFont *font)
{
    if (font->type == LV_FONT_AMIGACOLOR) return 0;
    if (font->type == LV_FONT_IMAGE || font->type == LV_FONT_PLUGIN) return font->transparentPen;
    return -1;
}

void DestroyFont(lvFontManager *fm, lvFont *font)
{
    if (!font || font == fm->topaz) return;
    if (IsFreeTypeFont(font)) FreeTrueTypeFont(font);
    if (IsAmigaFont(font)) FreeAmigaFont(font);
    if (font->type == LV_FONT_IMAGE) FreeImageFont(font);
    if (font->type == LV_FONT_PLUGIN) FreePluginFont(font);
    delete font;
}

void FreeGlyphCaches(lvFontManager *fm, lvFont *font)
{
    if (font) {
        if (font->type == LV_FONT_TRUETYPE) DropTrueTypeGlyphCache(font);
        return;
    }
    for (lvFontCacheEntry *e = fm->cache; e; e = e->next)
        if (e->font->type == LV_FONT_TRUETYPE) DropTrueTypeGlyphCache(e->font);
}

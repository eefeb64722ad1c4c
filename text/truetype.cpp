// truetype.cpp - FreeType faces as fonts: opening and sizing, the glyph
// cache, measuring, kerning and drawing into planes.
#include "text/lvtruetype.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <strings.h>
#include <sys/stat.h>
#include <vector>

#include FT_OUTLINE_H
#include FT_SYNTHESIS_H
#include FT_TRUETYPE_TABLES_H
#include FT_FONT_FORMATS_H

#include "runtime/encoding.h"

extern "C" const uint8_t lvVeraSans[], lvVeraSansEnd[], lvVeraSerif[], lvVeraSerifEnd[], lvVeraMono[],
    lvVeraMonoEnd[];

const uint8_t *BuiltInFace(const char *name, size_t *size)
{
    struct Face { const char *name; const uint8_t *start, *end; };
    static const Face faces[] = {
        {"Bitstream Vera Sans", lvVeraSans, lvVeraSansEnd},
        {"Bitstream Vera Serif", lvVeraSerif, lvVeraSerifEnd},
        {"Bitstream Vera Sans Mono", lvVeraMono, lvVeraMonoEnd},
    };
    for (const Face &f : faces) {
        if (strcasecmp(name, f.name) == 0) {
            *size = (size_t)(f.end - f.start);
            return f.start;
        }
    }
    return nullptr;
}

int InitTrueTypeEngine(lvFontManager *fm)
{
    fm->trueType = new (std::nothrow) lvTrueTypeEngine{};
    if (!fm->trueType) return ERR_MEM;
    if (FT_Init_FreeType(&fm->trueType->library) != 0) {
        delete fm->trueType;
        fm->trueType = nullptr;
        return ERR_FT2;
    }
    return 0;
}

void DoneTrueTypeEngine(lvFontManager *fm)
{
    if (!fm->trueType) return;
    FT_Done_FreeType(fm->trueType->library);
    delete fm->trueType;
    fm->trueType = nullptr;
}

size_t TextCodePoints(const char *text, size_t length, int encoding, uint32_t *codes, size_t capacity,
                      size_t *needed)
{
    size_t count = 0;
    if (encoding == LV_ENCODING_UTF8 && ValidateUtf8(text, length, nullptr)) {
        size_t pos = 0;
        while (pos < length) {
            uint32_t c = NextUtf8CodePointBounded(&pos, length, text);
            if (count < capacity) codes[count] = c;
            count++;
        }
    } else {
        for (size_t i = 0; i < length; i++) {
            if (count < capacity) codes[count] = (uint8_t)text[i];
            count++;
        }
    }
    if (needed) *needed = count;
    return count < capacity ? count : capacity;
}

static std::vector<uint32_t> CodePointsOf(const char *text, size_t length, int encoding)
{
    size_t needed = 0;
    TextCodePoints(text, length, encoding, nullptr, 0, &needed);
    std::vector<uint32_t> codes(needed);
    TextCodePoints(text, length, encoding, codes.data(), needed, nullptr);
    return codes;
}

// ---- sources -----------------------------------------------------------------------

static unsigned long StreamRead(FT_Stream stream, unsigned long offset, unsigned char *buffer, unsigned long count)
{
    lvTrueTypeFont *tt = (lvTrueTypeFont *)stream->descriptor.pointer;
    if (offset > tt->length) return count == 0 ? 1 : 0; // a seek past the end fails
    if (count == 0) return 0;
    if (count > tt->length - offset) count = tt->length - offset;
    unsigned long done = 0;
    while (done < count) {
        ssize_t n = pread(tt->fd, buffer + done, count - done, (off_t)tt->baseOffset + offset + done);
        if (n <= 0) break;
        done += (unsigned long)n;
    }
    return done;
}

static void StreamClose(FT_Stream) {}

static void FreeDriver(lvTrueTypeFont *tt)
{
    if (!tt) return;
    for (lvTrueTypeFont *v : tt->variants) FreeDriver(v);
    for (auto &half : tt->cache)
        for (lvGlyphCacheSlot &s : half) free(s.bitmap);
    if (tt->face) FT_Done_Face(tt->face);
    if (tt->fd >= 0) close(tt->fd);
    if (tt->temporary == 1) unlink(tt->fileName);
    if (tt->temporary == 2) free((void *)tt->memory); // a linked font's bytes
    delete tt;
}

static lvTrueTypeFont *NewDriver()
{
    lvTrueTypeFont *tt = new (std::nothrow) lvTrueTypeFont{};
    if (tt) tt->fd = -1;
    return tt;
}

// Opens the face of a file from faceOffset (length 0: to the end), or of memory.
static int OpenFace(lvFontManager *fm, lvTrueTypeFont *tt, int faceIndex)
{
    FT_Open_Args args{};
    if (tt->memory) {
        args.flags = FT_OPEN_MEMORY;
        args.memory_base = tt->memory;
        args.memory_size = (FT_Long)tt->memorySize;
    } else {
        tt->fd = open(tt->fileName, O_RDONLY | O_CLOEXEC);
        if (tt->fd < 0) return 0;
        struct stat st;
        if (fstat(tt->fd, &st) != 0 || (uint64_t)st.st_size < tt->baseOffset) return 0;
        uint64_t rest = (uint64_t)st.st_size - tt->baseOffset;
        if (tt->length == 0 || tt->length > rest) tt->length = (uint32_t)(rest > 0xFFFFFFFFu ? 0xFFFFFFFFu : rest);
        tt->stream.base = nullptr;
        tt->stream.size = tt->length;
        tt->stream.pos = 0;
        tt->stream.descriptor.pointer = tt;
        tt->stream.read = StreamRead;
        tt->stream.close = StreamClose;
        args.flags = FT_OPEN_STREAM;
        args.stream = &tt->stream;
    }
    return FT_Open_Face(fm->trueType->library, &args, faceIndex, &tt->face) == 0;
}

// ---- sizing ------------------------------------------------------------------------

// Largest bitmap top (a) and below-baseline depth (d) of the rendered glyphs of codes.
static bool InkExtent(FT_Face face, const uint32_t *codes, size_t count, int *a, int *d)
{
    bool any = false;
    *a = *d = 0;
    for (size_t i = 0; i < count; i++) {
        FT_UInt index = FT_Get_Char_Index(face, codes[i]);
        if (index == 0) continue;
        if (FT_Load_Glyph(face, index, FT_LOAD_RENDER | FT_LOAD_NO_AUTOHINT) != 0) continue;
        FT_GlyphSlot g = face->glyph;
        int top = g->bitmap_top, depth = (int)g->bitmap.rows - g->bitmap_top;
        if (!any || top > *a) *a = top;
        if (!any || depth > *d) *d = depth;
        any = true;
    }
    return any;
}

static int Round26(FT_Pos v) { return (int)((v + 32) >> 6); }

static void SizeByPoints(lvFont *font, lvTrueTypeFont *tt, int dpi)
{
    FT_Face face = tt->face;
    tt->pixelSize = font->size;
    tt->dpiX = tt->dpiY = dpi;
    FT_Set_Char_Size(face, 0, (FT_F26Dot6)font->size * 64, (FT_UInt)dpi, (FT_UInt)dpi);
    if (FT_IS_SCALABLE(face)) {
        font->baseHeight = Round26(FT_MulFix(face->height, face->size->metrics.y_scale));
        font->baseBaseline = Round26(FT_MulFix(face->ascender, face->size->metrics.y_scale));
    } else {
        font->baseHeight = Round26(face->size->metrics.height);
        font->baseBaseline = Round26(face->size->metrics.ascender);
    }
}

// Baseline of a pixel-sized font of the given height from the glyphs A, À, Ä and q.
static int PixelBaseline(FT_Face face, int height)
{
    static const uint32_t probes[] = {'A', 0xC0, 0xC4, 'q'};
    int a, d;
    if (!InkExtent(face, probes, 4, &a, &d)) return height * 3 / 4;
    return (height + a - d + 1) / 2;
}

static void SizeByPixels(lvFont *font, lvTrueTypeFont *tt)
{
    FT_Face face = tt->face;
    tt->dpiX = tt->dpiY = 72;
    FT_Set_Char_Size(face, 0, 100 * 64, 72, 72);
    uint32_t codes[223];
    for (uint32_t c = 33; c <= 255; c++) codes[c - 33] = c;
    int a = 0, d = 0;
    InkExtent(face, codes, 223, &a, &d);
    if (a + d <= 0) {
        SizeByPoints(font, tt, 72);
        return;
    }
    int p = (int)((int64_t)font->size * 100 / (a + d));
    tt->pixelSize = p;
    FT_Set_Pixel_Sizes(face, 0, (FT_UInt)(p > 1 ? p - 1 : 1));
    font->baseHeight = font->size;
    font->baseBaseline = PixelBaseline(face, font->size);
}

// The CHARMAP_ value of a FreeType encoding (0 when none).
static const struct { int charMap; FT_Encoding encoding; } kCharMaps[] = {
    {CHARMAP_MSSYMBOL, FT_ENCODING_MS_SYMBOL}, {CHARMAP_UNICODE, FT_ENCODING_UNICODE},
    {CHARMAP_SJIS, FT_ENCODING_SJIS}, {CHARMAP_BIG5, FT_ENCODING_BIG5}, {CHARMAP_WANSUNG, FT_ENCODING_WANSUNG},
    {CHARMAP_JOHAB, FT_ENCODING_JOHAB}, {CHARMAP_ADOBESTANDARD, FT_ENCODING_ADOBE_STANDARD},
    {CHARMAP_ADOBEEXPERT, FT_ENCODING_ADOBE_EXPERT}, {CHARMAP_ADOBELATIN1, FT_ENCODING_ADOBE_LATIN_1},
    {CHARMAP_OLDLATIN2, FT_ENCODING_OLD_LATIN_2}, {CHARMAP_APPLEROMAN, FT_ENCODING_APPLE_ROMAN},
};

static bool SelectCharMap(lvFont *font, FT_Face face, int charMap)
{
    font->faceCharMapCount = 0;
    for (int i = 0; i < face->num_charmaps && font->faceCharMapCount < 32; i++) {
        int value = 0;
        for (const auto &m : kCharMaps)
            if (m.encoding == face->charmaps[i]->encoding) value = m.charMap;
        font->faceCharMaps[font->faceCharMapCount++] = (uint8_t)value;
    }
    if (charMap == CHARMAP_DEFAULT) return true;
    for (const auto &m : kCharMaps)
        if (m.charMap == charMap) return FT_Select_Charmap(face, m.encoding) == 0;
    return false;
}

static void FillFontName(lvFont *font, FT_Face face)
{
    const char *family = face->family_name ? face->family_name : "";
    const char *style = face->style_name ? face->style_name : "";
    if (IsRegularStyle(style))
        snprintf(font->name, sizeof font->name, "%s", family);
    else
        snprintf(font->name, sizeof font->name, "%s %s", family, style);
}

static bool EndsWith(const char *s, const char *tail)
{
    size_t n = strlen(s), m = strlen(tail);
    return n >= m && strcasecmp(s + n - m, tail) == 0;
}

// Larger sizes would render glyphs of hundreds of megabytes each.
static const int kLargestSize = 4096;

int OpenTrueTypeFont(lvFontManager *fm, const char *name, int size, int glyphCache, int charMap, lvFont *font)
{
    if (!fm->trueType || size <= 0 || size > kLargestSize) return 0;
    lvTrueTypeFont *tt = NewDriver();
    if (!tt) return 0;
    size_t memSize = 0;
    const uint8_t *mem = BuiltInFace(name, &memSize);
    if (mem) {
        tt->memory = mem;
        tt->memorySize = memSize;
    } else if (EndsWith(name, ".ttf") || EndsWith(name, ".otf")) {
        snprintf(tt->fileName, sizeof tt->fileName, "%s", name);
    } else {
        uint32_t off = 0, len = 0;
        int temporary = 0;
        if (FindFontFile(fm, name, -1, 0, 0, tt->fileName, sizeof tt->fileName, &off, &len, &temporary) != 0) {
            FreeDriver(tt);
            return 0;
        }
        tt->baseOffset = off;
        tt->length = len;
        tt->temporary = temporary;
    }
    if (!OpenFace(fm, tt, 0) || !SelectCharMap(font, tt->face, charMap)) {
        FreeDriver(tt);
        return 0;
    }
    tt->glyphCacheOn = glyphCache;
    font->type = LV_FONT_TRUETYPE;
    font->size = size;
    font->antialiased = 1;
    font->scalable = 1;
    font->charMap = charMap;
    font->scaleX = font->scaleY = 1.0;
    font->transparentPen = -1;
    font->driverHandle = tt;
    if (font->usePoints)
        SizeByPoints(font, tt, fm->screenDpi > 0 ? fm->screenDpi : 72);
    else
        SizeByPixels(font, tt);
    font->height = font->baseHeight;
    font->baseline = font->baseBaseline;
    const char *format = FT_Get_Font_Format(tt->face);
    snprintf(font->formatName, sizeof font->formatName, "%s", format ? format : "");
    FillFontName(font, tt->face);
    return 1;
}

// ---- system fonts ------------------------------------------------------------------

// Cell-height sizing of system fonts: the Windows ascent and descent of the
// OS/2 table give the cell (else the horizontal header's).
static void SizeSystemFont(lvFontManager *fm, lvFont *font, lvTrueTypeFont *tt)
{
    FT_Face face = tt->face;
    tt->nativeAdvances = 1;
    if (font->usePoints || !FT_IS_SCALABLE(face)) {
        SizeByPoints(font, tt, font->usePoints && fm->screenDpi > 0 ? fm->screenDpi : 72);
        return;
    }
    const TT_OS2 *os2 = (const TT_OS2 *)FT_Get_Sfnt_Table(face, FT_SFNT_OS2);
    int ascent = face->ascender, descent = -face->descender;
    if (os2 && os2->version != 0xFFFF && os2->usWinAscent + os2->usWinDescent > 0) {
        ascent = os2->usWinAscent;
        descent = os2->usWinDescent;
    }
    if (ascent + descent <= 0) {
        SizeByPoints(font, tt, 72);
        return;
    }
    // The em in 26.6 pixels that makes ascent + descent the asked height.
    FT_F26Dot6 em = (FT_F26Dot6)((int64_t)font->size * 64 * face->units_per_EM / (ascent + descent));
    FT_Set_Char_Size(face, 0, em, 72, 72);
    tt->pixelSize = font->size;
    tt->dpiX = tt->dpiY = 72;
    int a = (int)(((int64_t)ascent * em + face->units_per_EM * 32) / (face->units_per_EM * 64));
    font->baseHeight = font->size;
    font->baseBaseline = a;
}

// The family's installed italic, bold and bold italic faces, sized as the font;
// a style the family has no face for stays synthetic.
static void OpenStyleVariants(lvFontManager *fm, lvFont *font, lvTrueTypeFont *tt, const char *family, int weight,
                              int slant, int index)
{
    const int baseHeight = font->baseHeight, baseBaseline = font->baseBaseline;
    for (int v = 0; v < 3; v++) {
        const bool italic = v != 1, bold = v != 0;
        const int w = bold ? std::max(weight, (int)FONTWEIGHT_BOLD) : weight;
        const int sl = italic ? (slant != FONTSLANT_ROMAN ? slant : FONTSLANT_ITALIC) : slant;
        lvTrueTypeFont *face = NewDriver();
        if (!face) return;
        int at = 0;
        bool ok = FindSystemFontFile(family, w, sl, face->fileName, sizeof face->fileName, &at) != 0 &&
                  (strcmp(face->fileName, tt->fileName) != 0 || at != index) && OpenFace(fm, face, at) &&
                  (!bold || (face->face->style_flags & FT_STYLE_FLAG_BOLD)) &&
                  (!italic || (face->face->style_flags & FT_STYLE_FLAG_ITALIC));
        if (!ok) {
            FreeDriver(face);
            continue;
        }
        SizeSystemFont(fm, font, face);
        face->glyphCacheOn = tt->glyphCacheOn;
        tt->variants[v] = face;
    }
    font->baseHeight = baseHeight, font->baseBaseline = baseBaseline;
}

int OpenNativeFont(lvFontManager *fm, const char *name, int size, const uint8_t *data, size_t dataSize, lvFont *font)
{
    if (!fm->trueType || size <= 0 || size > kLargestSize) return 0;
    lvTrueTypeFont *tt = NewDriver();
    if (!tt) return 0;
    int index = 0, weight = FONTWEIGHT_NORMAL, slant = FONTSLANT_ROMAN;
    bool found = false;
    std::string familyFound;
    if (data) {
        // A linked font is used from memory: the bytes are kept with the face.
        uint8_t *copy = (uint8_t *)malloc(dataSize ? dataSize : 1);
        if (!copy) {
            FreeDriver(tt);
            return 0;
        }
        memcpy(copy, data, dataSize);
        tt->memory = copy;
        tt->memorySize = dataSize;
        tt->temporary = 2;
        found = true;
    } else {
        // The whole name as a family, then without one or two style words.
        found = FindSystemFontFile(name, FONTWEIGHT_NORMAL, FONTSLANT_ROMAN, tt->fileName, sizeof tt->fileName,
                                   &index) != 0;
        if (found) familyFound = name;
        if (!found) {
            std::vector<std::string> words;
            std::string w;
            for (const char *p = name;; p++) {
                if (*p == ' ' || *p == 0) {
                    if (!w.empty()) words.push_back(w);
                    w.clear();
                    if (*p == 0) break;
                } else {
                    w += *p;
                }
            }
            for (size_t drop = 1; drop <= 2 && !found && words.size() >= drop + 1; drop++) {
                weight = FONTWEIGHT_NORMAL;
                slant = FONTSLANT_ROMAN;
                bool styles = true;
                for (size_t k = words.size() - drop; k < words.size(); k++) {
                    int v, kind = StyleWordValue(words[k].c_str(), words[k].size(), &v);
                    if (kind == 1) weight = v;
                    else if (kind == 2) slant = v;
                    else styles = false;
                }
                if (!styles) break;
                std::string family;
                for (size_t k = 0; k + drop < words.size(); k++) family += (k ? " " : "") + words[k];
                found = FindSystemFontFile(family.c_str(), weight, slant, tt->fileName, sizeof tt->fileName,
                                           &index) != 0;
                if (found) familyFound = family;
            }
        }
    }
    if (!found || !OpenFace(fm, tt, index)) {
        FreeDriver(tt);
        return 0;
    }
    // A family without the asked face: FreeType makes the style.
    if (weight >= FONTWEIGHT_SEMIBOLD && weight != FONTWEIGHT_NORMAL && !(tt->face->style_flags & FT_STYLE_FLAG_BOLD))
        tt->syntheticStyle |= LV_FONTSTYLE_BOLD;
    if (slant != FONTSLANT_ROMAN && !(tt->face->style_flags & FT_STYLE_FLAG_ITALIC))
        tt->syntheticStyle |= LV_FONTSTYLE_ITALIC;
    font->type = LV_FONT_SYSTEM;
    font->size = size;
    font->scalable = 1;
    font->antialiased = 1;
    font->scaleX = font->scaleY = 1.0;
    font->transparentPen = -1;
    font->driverHandle = tt;
    SizeSystemFont(fm, font, tt);
    if (!familyFound.empty()) OpenStyleVariants(fm, font, tt, familyFound.c_str(), weight, slant, index);
    font->height = font->baseHeight;
    font->baseline = font->baseBaseline;
    if (data) FillFontName(font, tt->face);
    else snprintf(font->name, sizeof font->name, "%s", name);
    snprintf(font->formatName, sizeof font->formatName, "TrueType");
    return 1;
}

// ---- glyphs ------------------------------------------------------------------------

struct lvGlyph {
    int left, top, width, rows, pitch;
    int advance;                // 26.6
    const uint8_t *bitmap;      // 8-bit coverage, or 1-bit MSB first
    int mono;
};

static lvTrueTypeFont *Driver(lvFont *font) { return (lvTrueTypeFont *)font->driverHandle; }

// The face that draws a style: the family's own bold or italic face when it was
// found (the style then needs no synthesis), else the font's face.
static lvTrueTypeFont *FaceForStyle(lvFont *font, int *style)
{
    lvTrueTypeFont *tt = Driver(font);
    const bool bold = *style & LV_FONTSTYLE_BOLD, italic = *style & LV_FONTSTYLE_ITALIC;
    lvTrueTypeFont *v = bold && italic ? tt->variants[2] : bold ? tt->variants[1] : italic ? tt->variants[0] : nullptr;
    if (!v) return tt;
    *style &= ~(LV_FONTSTYLE_BOLD | LV_FONTSTYLE_ITALIC);
    return v;
}

static bool LoadGlyph(lvTrueTypeFont *tt, int style, uint32_t code, FT_UInt index, lvGlyph *out)
{
    style |= tt->syntheticStyle;
    bool mono = !(style & LV_FONTSTYLE_ANTIALIAS);
    bool synthetic = (style & (LV_FONTSTYLE_BOLD | LV_FONTSTYLE_ITALIC)) != 0;
    bool cacheable = tt->glyphCacheOn && !synthetic && code < 256;
    lvGlyphCacheSlot *slot = cacheable ? &tt->cache[mono][code] : nullptr;
    if (slot && slot->filled) {
        *out = {slot->left, slot->top, slot->width, slot->rows, slot->pitch, slot->advance, slot->bitmap, mono};
        return true;
    }
    FT_Face face = tt->face;
    if (FT_Load_Glyph(face, index, FT_LOAD_NO_AUTOHINT) != 0) return false;
    FT_GlyphSlot g = face->glyph;
    if (style & LV_FONTSTYLE_BOLD) FT_GlyphSlot_Embolden(g);
    if ((style & LV_FONTSTYLE_ITALIC) && g->format == FT_GLYPH_FORMAT_OUTLINE) {
        FT_Matrix shear = {0x10000, 0x6000, 0, 0x10000};
        FT_Outline_Transform(&g->outline, &shear);
    }
    if (tt->scaled && g->format == FT_GLYPH_FORMAT_OUTLINE) FT_Outline_Transform(&g->outline, &tt->scale);
    if (FT_Render_Glyph(g, mono ? FT_RENDER_MODE_MONO : FT_RENDER_MODE_NORMAL) != 0) return false;
    const FT_Bitmap &b = g->bitmap;
    *out = {g->bitmap_left, g->bitmap_top, (int)b.width, (int)b.rows, b.pitch, (int)g->advance.x, b.buffer, mono};
    if (b.pixel_mode != (mono ? FT_PIXEL_MODE_MONO : FT_PIXEL_MODE_GRAY)) {
        out->width = out->rows = 0; // a bitmap face of another depth draws nothing
    }
    if (out->pitch < 0) out->pitch = -out->pitch;
    if (slot) {
        size_t bytes = (size_t)out->pitch * out->rows;
        uint8_t *copy = bytes ? (uint8_t *)malloc(bytes) : nullptr;
        if (bytes && !copy) return true;
        if (bytes) memcpy(copy, out->bitmap, bytes);
        *slot = {1, out->left, out->top, out->width, out->rows, out->pitch, out->advance, copy};
        out->bitmap = copy;
    }
    return true;
}

static void DropGlyphCache(lvTrueTypeFont *tt)
{
    for (auto &half : tt->cache)
        for (lvGlyphCacheSlot &s : half) {
            free(s.bitmap);
            s = {};
        }
    for (lvTrueTypeFont *v : tt->variants)
        if (v) DropGlyphCache(v);
}

void DropTrueTypeGlyphCache(lvFont *font) { DropGlyphCache(Driver(font)); }

// Unscaled kerning of the pair, 0 when the face has none.
static FT_Pos PairKerning(FT_Face face, FT_UInt left, FT_UInt right)
{
    if (!FT_HAS_KERNING(face) || left == 0 || right == 0) return 0;
    FT_Vector v{};
    if (FT_Get_Kerning(face, left, right, FT_KERNING_UNSCALED, &v) != 0) return 0;
    return v.x;
}

// Pixel advance of a glyph advance (26.6) and an unscaled kerning.
static int AdvancePixels(lvFont *font, lvTrueTypeFont *tt, int advance, FT_Pos kerning)
{
    FT_Face face = tt->face;
    int64_t px;
    if (tt->nativeAdvances) {
        int64_t k26 = FT_IS_SCALABLE(face) ? FT_MulFix(kerning, face->size->metrics.x_scale) : 0;
        px = (advance + k26 + 32) >> 6;
    } else {
        int64_t ppem = face->size->metrics.x_ppem ? face->size->metrics.x_ppem : 1;
        int64_t upem = face->units_per_EM ? face->units_per_EM : 1;
        // Multiplied before divided: an advance of whole pixels stays whole.
        int64_t nominal = (int64_t)tt->pixelSize * tt->dpiX / 72;
        px = ((int64_t)advance * 1024 * nominal / ppem + (int64_t)kerning * 65536 * nominal / upem) / 65536;
    }
    return (int)((double)px * font->scaleX);
}

struct lvWalkStep {
    uint32_t code;
    int pen;                    // pen x before the glyph
    lvGlyph glyph;
    bool drawn;
};

// Walks the text: for each code point the glyph and the pen before it. The
// callback returns false to stop. Returns the final pen.
template <class F>
static int WalkText(lvFont *font, const char *text, size_t length, int style, int charSpacing, int encoding, F step)
{
    lvTrueTypeFont *tt = FaceForStyle(font, &style);
    FT_Face face = tt->face;
    std::vector<uint32_t> codes = CodePointsOf(text, length, encoding);
    int pen = 0;
    FT_UInt index = codes.empty() ? 0 : FT_Get_Char_Index(face, codes[0]);
    for (size_t i = 0; i < codes.size(); i++) {
        FT_UInt next = i + 1 < codes.size() ? FT_Get_Char_Index(face, codes[i + 1]) : 0;
        FT_Pos kerning = PairKerning(face, index, next);
        lvWalkStep s{codes[i], pen, {}, false};
        if (LoadGlyph(tt, style, codes[i], index, &s.glyph)) {
            s.drawn = true;
            step(s);
            int move = charSpacing + AdvancePixels(font, tt, s.glyph.advance, kerning);
            if (move > 0) pen += move;
        }
        index = next;
    }
    return pen;
}

int MeasureTrueTypeText(lvFont *font, const char *text, size_t length, int style, int charSpacing, int encoding,
                        lvFontExtent *out)
{
    *out = {};
    bool first = true;
    out->advance = WalkText(font, text, length, style, charSpacing, encoding, [&](const lvWalkStep &s) {
        if (s.code == 32) return;
        int x0 = s.pen + s.glyph.left, x1 = x0 + s.glyph.width;
        int y0 = -s.glyph.top, y1 = y0 + s.glyph.rows;
        if (first) {
            out->minX = x0; out->maxX = x1; out->minY = y0; out->maxY = y1;
            first = false;
        } else {
            if (x0 < out->minX) out->minX = x0;
            if (x1 > out->maxX) out->maxX = x1;
            if (y0 < out->minY) out->minY = y0;
            if (y1 > out->maxY) out->maxY = y1;
        }
    });
    out->height = font->height;
    return 0;
}

int RenderTrueTypeText(lvFont *font, const lvFontPlane *target, int x, int y, const char *text, size_t length,
                       int style, int charSpacing, int encoding, const lvFontClip *clip)
{
    lvFontClip c = ClipToPlane(target, clip);
    int cx0 = c.minX, cy0 = c.minY, cx1 = c.maxX, cy1 = c.maxY;
    bool merge = charSpacing < 0; // glyphs may overlap
    WalkText(font, text, length, style, charSpacing, encoding, [&](const lvWalkStep &s) {
        const lvGlyph &g = s.glyph;
        int gx = x + s.pen + g.left, gy = y + font->baseline - g.top;
        for (int row = 0; row < g.rows; row++) {
            int ty = gy + row;
            if (ty < cy0 || ty > cy1) continue;
            const uint8_t *src = g.bitmap + (size_t)row * g.pitch;
            uint8_t *dst = target->pixels + (size_t)ty * target->rowBytes;
            for (int col = 0; col < g.width; col++) {
                int tx = gx + col;
                if (tx < cx0 || tx > cx1) continue;
                int cov = g.mono ? ((src[col >> 3] >> (7 - (col & 7))) & 1) * 255 : src[col];
                if (cov == 0) continue;
                if (target->format == LV_PLANE_MASK1) {
                    if (cov >= 128) dst[tx >> 3] |= (uint8_t)(0x80 >> (tx & 7));
                } else if (merge && cov != 255) {
                    dst[tx] = (uint8_t)((cov * 255 + (255 - cov) * dst[tx] + 127) / 255);
                } else {
                    dst[tx] = (uint8_t)cov;
                }
            }
        }
    });
    return 0;
}

int GetTrueTypeKerning(lvFont *font, const char *pair, size_t length, int style, int encoding)
{
    lvTrueTypeFont *tt = FaceForStyle(font, &style);
    std::vector<uint32_t> codes = CodePointsOf(pair, length, encoding);
    if (codes.size() != 2) return 0;
    FT_Face face = tt->face;
    FT_UInt a = FT_Get_Char_Index(face, codes[0]), b = FT_Get_Char_Index(face, codes[1]);
    if (a == 0 || b == 0) return 0;
    FT_Pos k = PairKerning(face, a, b);
    if (tt->nativeAdvances)
        return (int)((double)((FT_MulFix(k, face->size->metrics.x_scale) + 32) >> 6) * font->scaleX);
    int64_t upem = face->units_per_EM ? face->units_per_EM : 1;
    return (int)(((int64_t)tt->pixelSize * tt->dpiX / 72) * ((int64_t)k * 65536 / upem) / 65536);
}

void ScaleTrueTypeFont(lvFont *font, double sx, double sy)
{
    lvTrueTypeFont *tt = Driver(font);
    DropTrueTypeGlyphCache(font);
    tt->scale = {(FT_Fixed)lround(sx * 65536), 0, 0, (FT_Fixed)lround(sy * 65536)};
    tt->scaled = sx != 1.0 || sy != 1.0;
    for (lvTrueTypeFont *v : tt->variants)
        if (v) v->scale = tt->scale, v->scaled = tt->scaled;
    if (!font->usePoints && !tt->nativeAdvances) {
        // The probes are measured as they will be drawn, scaled.
        FT_Set_Transform(tt->face, &tt->scale, nullptr);
        font->baseline = PixelBaseline(tt->face, font->height);
        FT_Set_Transform(tt->face, nullptr, nullptr);
    }
}

void FreeTrueTypeFont(lvFont *font)
{
    lvTrueTypeFont *tt = Driver(font);
    FreeDriver(tt);
    font->driverHandle = nullptr;
}

FT_Face GetTrueTypeFace(lvFont *font) { return Driver(font) ? Driver(font)->face : nullptr; }

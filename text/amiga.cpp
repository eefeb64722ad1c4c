// amiga.cpp - Amiga disk fonts: reading contents and size files, measuring
// and drawing their glyphs into planes.
#include "text/lvamiga.h"


#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "text/lvtruetype.h"

static uint32_t Be32(const uint8_t *p) { return (uint32_t)p[0] << 24 | (uint32_t)p[1] << 16 | p[2] << 8 | p[3]; }
static uint16_t Be16(const uint8_t *p) { return (uint16_t)(p[0] << 8 | p[1]); }
static bool Inside(size_t size, uint64_t offset, uint64_t length) { return offset <= size && length <= size - offset; }

// Pointers inside a size file count from the header, 32 bytes in.
static const uint32_t kHeader = 32;

int FindAmigaContentsEntry(const uint8_t *data, size_t size, int ySize, char *name, size_t nameSize)
{
    if (size < 4) return 0;
    uint16_t id = Be16(data);
    if (id != 0x0F00 && id != 0x0F02) return 0;
    int16_t count = (int16_t)Be16(data + 2);
    for (int i = 0; i < count; i++) {
        uint64_t at = 4 + (uint64_t)i * 260;
        if (!Inside(size, at, 260)) break;
        const uint8_t *entry = data + at;
        if (Be16(entry + 256) != ySize) continue;
        size_t n = strnlen((const char *)entry, 256);
        std::string entryName((const char *)entry, n);
        if (entryName == "::incomplete") continue;
        snprintf(name, nameSize, "%s", entryName.c_str());
        return 1;
    }
    return 0;
}

void FreeAmigaFontData(lvAmigaFont *af)
{
    if (!af) return;
    free(af->mask);
    free(af->pens);
    free(af->charLoc);
    free(af->charSpace);
    free(af->charKern);
    delete af;
}

// A table of n 16-bit words at a header pointer (0: none); false when it
// lies outside the file.
static bool ReadWords(const uint8_t *data, size_t size, uint32_t pointer, int n, int16_t **out)
{
    *out = nullptr;
    if (pointer == 0) return true;
    if (!Inside(size, (uint64_t)kHeader + pointer, (uint64_t)n * 2)) return false;
    *out = (int16_t *)malloc((size_t)n * 2);
    if (!*out) return false;
    for (int i = 0; i < n; i++) (*out)[i] = (int16_t)Be16(data + kHeader + pointer + 2 * i);
    return true;
}

int ReadAmigaSizeFile(const uint8_t *data, size_t size, lvAmigaFont **out)
{
    *out = nullptr;
    if (size < 142 || Be16(data + 50) != 0x0F80) return ERR_READ;
    lvAmigaFont *af = new (std::nothrow) lvAmigaFont{};
    if (!af) return ERR_MEM;
    af->ySize = Be16(data + 110);
    af->style = data[112];
    af->flags = data[113];
    af->xSize = Be16(data + 114);
    af->baseline = Be16(data + 116);
    af->boldSmear = Be16(data + 118);
    af->accessors = Be16(data + 120);
    af->loChar = data[122];
    af->hiChar = data[123];
    uint32_t glyphs = Be32(data + 124);
    af->modulo = Be16(data + 128);
    uint32_t locations = Be32(data + 130), spaces = Be32(data + 134), kerns = Be32(data + 138);
    af->n = af->hiChar - af->loChar + 2;
    uint64_t stripBytes = (uint64_t)af->modulo * af->ySize;
    bool ok = af->hiChar >= af->loChar && af->ySize > 0 &&
              Inside(size, (uint64_t)kHeader + locations, (uint64_t)af->n * 4);
    if (ok) {
        af->charLoc = (uint32_t *)malloc((size_t)af->n * 4);
        ok = af->charLoc != nullptr;
        for (int i = 0; ok && i < af->n; i++) {
            uint32_t loc = Be32(data + kHeader + locations + 4 * i);
            af->charLoc[i] = loc;
            ok = (uint64_t)(loc >> 16) + (loc & 0xFFFF) <= (uint64_t)af->modulo * 8;
        }
    }
    ok = ok && ReadWords(data, size, spaces, af->n, &af->charSpace) &&
         ReadWords(data, size, kerns, af->n, &af->charKern);
    if (ok && (af->style & 0x40)) {
        // Colour: the picked planes' bits become pens; the colours a palette.
        ok = size >= 186;
        af->depth = ok ? data[144] : 0;
        int pick = ok ? data[148] : 0;
        uint32_t colours = ok ? Be32(data + 150) : 0;
        ok = ok && af->depth >= 1 && af->depth <= 8;
        // Every picked plane lies in the file before the pen plane is made.
        for (int plane = 0, used = 0; ok && plane < af->depth; plane++)
            if (pick & (1 << plane))
                ok = Inside(size, (uint64_t)kHeader + Be32(data + 154 + 4 * used++), stripBytes);
        ok = ok && stripBytes <= size;
        size_t pixels = (size_t)af->modulo * 8 * af->ySize;
        af->pens = ok ? (uint8_t *)calloc(pixels ? pixels : 1, 1) : nullptr;
        ok = ok && af->pens;
        int used = 0;
        for (int plane = 0; ok && plane < af->depth; plane++) {
            if (!(pick & (1 << plane))) continue;
            uint32_t pointer = Be32(data + 154 + 4 * used);
            used++;
            ok = Inside(size, (uint64_t)kHeader + pointer, stripBytes);
            if (!ok) break;
            const uint8_t *bits = data + kHeader + pointer;
            for (size_t p = 0; p < pixels; p++)
                if (bits[p >> 3] & (0x80 >> (p & 7))) af->pens[p] |= (uint8_t)(1 << plane);
        }
        if (ok && colours) {
            ok = Inside(size, (uint64_t)kHeader + colours, 8);
            uint16_t count = ok ? Be16(data + kHeader + colours + 2) : 0;
            uint32_t table = ok ? Be32(data + kHeader + colours + 4) : 0;
            ok = ok && count <= 256 && Inside(size, (uint64_t)kHeader + table, (uint64_t)count * 2);
            for (int i = 0; ok && i < count; i++) {
                uint16_t c = Be16(data + kHeader + table + 2 * i);
                af->palette[i] = (uint32_t)((c >> 8) & 15) * 17 << 16 | (uint32_t)((c >> 4) & 15) * 17 << 8 |
                                 (uint32_t)(c & 15) * 17;
            }
            while (ok && (1 << af->paletteDepth) < count) af->paletteDepth++;
        }
    } else if (ok) {
        ok = Inside(size, (uint64_t)kHeader + glyphs, stripBytes);
        af->mask = ok ? (uint8_t *)malloc(stripBytes ? (size_t)stripBytes : 1) : nullptr;
        ok = ok && af->mask;
        if (ok) memcpy(af->mask, data + kHeader + glyphs, (size_t)stripBytes);
    }
    if (!ok) {
        FreeAmigaFontData(af);
        return ERR_READ;
    }
    *out = af;
    return 0;
}

static bool ReadFileBytes(const std::string &path, std::vector<uint8_t> &bytes)
{
    return ReadFontFileBytes(path.c_str(), (size_t)64 << 20, bytes);
}

void SetAmigaFont(lvFont *font, lvAmigaFont *af, int size, const char *name)
{
    font->type = (af->style & 0x40) ? LV_FONT_AMIGACOLOR : LV_FONT_AMIGA;
    font->size = size;
    font->height = font->baseHeight = af->ySize;
    font->baseline = font->baseBaseline = af->baseline;
    font->antialiased = 0;
    font->scalable = 0;
    font->depth = font->type == LV_FONT_AMIGACOLOR ? af->paletteDepth : 1;
    font->palette = font->type == LV_FONT_AMIGACOLOR ? af->palette : nullptr;
    font->scaleX = font->scaleY = 1.0;
    font->transparentPen = font->type == LV_FONT_AMIGACOLOR ? 0 : -1;
    snprintf(font->name, sizeof font->name, "%s", name);
    snprintf(font->formatName, sizeof font->formatName, "Amiga bitmap");
    font->driverHandle = af;
}

int OpenAmigaFont(const char *path, int size, lvFont *font, const char *givenName)
{
    std::string contents = path;
    if (contents.size() < 5 || contents.compare(contents.size() - 5, 5, ".font") != 0) contents += ".font";
    std::vector<uint8_t> bytes;
    char entry[260];
    if (!ReadFileBytes(contents, bytes) || !FindAmigaContentsEntry(bytes.data(), bytes.size(), size, entry, sizeof entry))
        return 0;
    size_t slash = contents.rfind('/');
    std::string sizeFile = (slash == std::string::npos ? std::string() : contents.substr(0, slash + 1)) + entry;
    lvAmigaFont *af = nullptr;
    if (!ReadFileBytes(sizeFile, bytes) || ReadAmigaSizeFile(bytes.data(), bytes.size(), &af) != 0) return 0;
    SetAmigaFont(font, af, size, givenName ? givenName : path);
    return 1;
}

// ---- measuring and drawing ---------------------------------------------------------

static lvAmigaFont *Driver(lvFont *font) { return (lvAmigaFont *)font->driverHandle; }

// Glyph numbers of a text: ISO-8859-1 characters, '?' for code points above 255.
static std::vector<int> GlyphsOf(lvAmigaFont *af, const char *text, size_t length, int encoding)
{
    size_t needed = 0;
    TextCodePoints(text, length, encoding, nullptr, 0, &needed);
    std::vector<uint32_t> codes(needed);
    TextCodePoints(text, length, encoding, codes.data(), needed, nullptr);
    std::vector<int> glyphs(needed);
    for (size_t i = 0; i < needed; i++) {
        int c = codes[i] > 255 ? '?' : (int)codes[i];
        glyphs[i] = c >= af->loChar && c <= af->hiChar ? c - af->loChar : af->n - 1;
    }
    return glyphs;
}

static int Advance(lvAmigaFont *af, int g, int charSpacing)
{
    int move = charSpacing + (af->charSpace ? af->charSpace[g] : af->xSize);
    return move > 0 ? move : 0;
}

static bool FixedWidth(lvAmigaFont *af) { return !(af->flags & 0x20) && !af->charSpace && !af->charKern; }

int AmigaTextWidth(lvFont *font, const char *text, size_t length, int charSpacing, int encoding)
{
    lvAmigaFont *af = Driver(font);
    std::vector<int> glyphs = GlyphsOf(af, text, length, encoding);
    if (FixedWidth(af)) {
        int64_t w = (int64_t)glyphs.size() * (af->xSize + charSpacing);
        return w > 0 ? (int)w : 0;
    }
    int w = 0;
    for (int g : glyphs) w += (af->charKern ? af->charKern[g] : 0) + Advance(af, g, charSpacing);
    return w;
}

int MeasureAmigaText(lvFont *font, const char *text, size_t length, int charSpacing, int encoding,
                     lvFontExtent *out)
{
    lvAmigaFont *af = Driver(font);
    *out = {};
    out->advance = AmigaTextWidth(font, text, length, charSpacing, encoding);
    out->height = af->ySize;
    out->minY = -af->baseline;
    out->maxY = af->ySize - af->baseline - 1;
    if (FixedWidth(af)) {
        int m = out->advance - charSpacing - 1;
        out->maxX = m > 0 ? m : 0;
        return 0;
    }
    int pen = 0;
    bool first = true;
    for (int g : GlyphsOf(af, text, length, encoding)) {
        pen += af->charKern ? af->charKern[g] : 0;
        int right = pen + (int)(af->charLoc[g] & 0xFFFF);
        if (first || pen < out->minX) out->minX = pen;
        if (first || right > out->maxX) out->maxX = right;
        first = false;
        pen += Advance(af, g, charSpacing);
    }
    out->maxX -= 1;
    return 0;
}

int RenderAmigaText(lvFont *font, const lvFontPlane *target, int x, int y, const char *text, size_t length,
                    int charSpacing, int encoding, const lvFontClip *clip)
{
    lvAmigaFont *af = Driver(font);
    lvFontClip c = ClipToPlane(target, clip);
    int cx0 = c.minX, cy0 = c.minY, cx1 = c.maxX, cy1 = c.maxY;
    int stripWidth = af->modulo * 8;
    for (int g : GlyphsOf(af, text, length, encoding)) {
        if (af->charKern) x += af->charKern[g];
        int first = (int)(af->charLoc[g] >> 16), width = (int)(af->charLoc[g] & 0xFFFF);
        for (int row = 0; row < af->ySize; row++) {
            int ty = y + row;
            if (ty < cy0 || ty > cy1) continue;
            uint8_t *dst = target->pixels + (size_t)ty * target->rowBytes;
            for (int col = 0; col < width; col++) {
                int tx = x + col, bit = first + col;
                if (tx < cx0 || tx > cx1 || bit >= stripWidth) continue;
                int pen;
                if (af->pens) pen = af->pens[(size_t)row * stripWidth + bit];
                else pen = (af->mask[(size_t)row * af->modulo + (bit >> 3)] >> (7 - (bit & 7))) & 1;
                if (!pen) continue;
                if (target->format == LV_PLANE_MASK1) dst[tx >> 3] |= (uint8_t)(0x80 >> (tx & 7));
                else dst[tx] = af->pens ? (uint8_t)pen : 255;
            }
        }
        x += Advance(af, g, charSpacing);
    }
    return 0;
}

void FreeAmigaFont(lvFont *font)
{
    FreeAmigaFontData(Driver(font));
    font->driverHandle = nullptr;
    font->palette = nullptr;
}

int MakeTopazFont(lvFont **out)
{
    *out = nullptr;
    const int glyphs = 225;
    lvAmigaFont *af = new (std::nothrow) lvAmigaFont{};
    lvFont *font = new (std::nothrow) lvFont{};
    if (af) {
        af->mask = (uint8_t *)malloc(sizeof lvTopazStrip);
        af->charLoc = (uint32_t *)malloc(glyphs * 4);
    }
    if (!af || !font || !af->mask || !af->charLoc) {
        FreeAmigaFontData(af);
        delete font;
        return ERR_MEM;
    }
    memcpy(af->mask, lvTopazStrip, sizeof lvTopazStrip);
    af->ySize = 8;
    af->flags = 0x40;
    af->xSize = 8;
    af->baseline = 6;
    af->boldSmear = 1;
    af->loChar = 32;
    af->hiChar = 255;
    af->n = glyphs;
    // One byte a glyph row: the strip is as wide as all the glyphs.
    af->modulo = glyphs;
    for (int i = 0; i < glyphs; i++) af->charLoc[i] = (uint32_t)(8 * i) << 16 | 8;
    SetAmigaFont(font, af, 8, "topaz");
    *out = font;
    return 0;
}

// imagefont.cpp - fonts cut from a brush: the grid of cells, the character
// set naming them, measuring and drawing glyph by glyph.
#include "text/lvimagefont.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "text/lvtruetype.h"

static lvImageFont *Driver(lvFont *font) { return (lvImageFont *)font->driverHandle; }

static void FreeImageFontData(lvImageFont *f)
{
    if (!f) return;
    free(f->argb);
    free(f->pens);
    delete f;
}

int CreateImageFont(const lvImageFontSource *source, const char *name, int cellWidth, int cellHeight, int columns,
                    int colSpacing, int rowSpacing, int ascender, const char *chars, size_t charCount,
                    const int *widths, size_t widthCount, lvFont **out)
{
    *out = nullptr;
    if (cellWidth <= 0 || cellHeight <= 0 || columns <= 0 || charCount < 1 || charCount > LV_IMAGEFONT_MAXCHARS ||
        colSpacing < 0 || rowSpacing < 0)
        return ERR_WRONGUSAGE;
    if (source->depth != 24 && (source->depth < 1 || source->depth > 8)) return ERR_WRONGUSAGE;
    if (source->depth == 24 ? !source->argb : (!source->pens || !source->palette)) return ERR_WRONGUSAGE;
    if (widthCount > charCount) widthCount = charCount;
    for (size_t i = 0; i < widthCount; i++)
        if (widths[i] < 0) return ERR_WRONGUSAGE;
    // In 64 bits: huge cells or spacings must not wrap into a fitting size.
    int64_t rows = ((int64_t)charCount + columns - 1) / columns;
    int64_t needW = (int64_t)columns * cellWidth + (int64_t)(columns - 1) * colSpacing;
    int64_t needH = rows * cellHeight + (rows - 1) * (int64_t)rowSpacing;
    if (source->width < needW || source->height < needH) return ERR_BRUSHSIZE;

    lvImageFont *f = new (std::nothrow) lvImageFont{};
    lvFont *font = new (std::nothrow) lvFont{};
    size_t pixels = (size_t)source->width * source->height;
    if (f && source->depth == 24) {
        f->argb = (uint32_t *)malloc(pixels * 4);
        if (f->argb) memcpy(f->argb, source->argb, pixels * 4);
    } else if (f) {
        f->pens = (uint8_t *)malloc(pixels);
        if (f->pens) memcpy(f->pens, source->pens, pixels);
    }
    if (!f || !font || (!f->argb && !f->pens)) {
        FreeImageFontData(f);
        delete font;
        return ERR_MEM;
    }
    memcpy(f->chars, chars, charCount);
    f->charCount = charCount;
    for (size_t i = 0; i < charCount; i++) f->widths[i] = i < widthCount ? widths[i] : cellWidth;
    f->cellWidth = cellWidth;
    f->cellHeight = cellHeight;
    f->columns = columns;
    f->colSpacing = colSpacing;
    f->rowSpacing = rowSpacing;
    f->depth = source->depth;
    f->width = source->width;
    f->height = source->height;
    f->hasMask = source->hasMask;
    f->hasAlpha = source->hasAlpha;
    if (source->palette) memcpy(f->palette, source->palette, sizeof f->palette);
    f->transparentPen = source->depth == 1 ? 0 : source->depth == 24 ? -1 : source->transparentPen;

    snprintf(font->name, sizeof font->name, "%s", name);
    font->type = LV_FONT_IMAGE;
    font->size = font->height = font->baseHeight = cellHeight;
    font->baseline = font->baseBaseline = ascender < 0 ? cellHeight - 1 : ascender;
    font->scaleX = font->scaleY = 1.0;
    font->depth = source->depth;
    font->antialiased = source->depth == 24;
    font->palette = source->depth == 24 ? nullptr : f->palette;
    font->transparentPen = f->transparentPen;
    font->charMap = CHARMAP_DEFAULT;
    font->driverHandle = f;
    *out = font;
    return 0;
}

void FreeImageFont(lvFont *font)
{
    FreeImageFontData(Driver(font));
    font->driverHandle = nullptr;
    font->palette = nullptr;
}

// Positions in the character set of each character of the text (-1: not in
// the set). UTF-8 text is read as code points; those above 255 become "?".
static std::vector<int> PositionsOf(lvImageFont *f, const char *text, size_t length, int encoding)
{
    size_t needed = 0;
    TextCodePoints(text, length, encoding, nullptr, 0, &needed);
    std::vector<uint32_t> codes(needed);
    TextCodePoints(text, length, encoding, codes.data(), needed, nullptr);
    int first[256];
    for (int &p : first) p = -1;
    for (size_t i = f->charCount; i-- > 0;) first[(uint8_t)f->chars[i]] = (int)i;
    std::vector<int> out;
    out.reserve(codes.size());
    for (uint32_t c : codes) out.push_back(first[c > 255 ? '?' : c]);
    return out;
}

static int AdvanceOf(const lvImageFont *f, int position, int charSpacing)
{
    int w = (position < 0 ? f->cellWidth : f->widths[position]) + charSpacing;
    return w > 0 ? w : 0;
}

int MeasureImageFontText(lvFont *font, const char *text, size_t length, int charSpacing, int encoding,
                         lvFontExtent *out)
{
    lvImageFont *f = Driver(font);
    *out = {};
    std::vector<int> positions = PositionsOf(f, text, length, encoding);
    for (int p : positions) out->advance += AdvanceOf(f, p, charSpacing);
    out->height = font->height;
    out->minY = -font->baseline;
    out->maxY = font->height - font->baseline - 1;
    int s = 0;
    if (!positions.empty()) {
        int last = positions.back();
        if ((last < 0 ? f->cellWidth : f->widths[last]) + charSpacing >= 0) s = charSpacing;
    }
    out->maxX = out->advance - s - 1;
    return 0;
}

// Walks the visible pixels of each glyph: visit(tx, ty, sx, sy) with the
// target point and the brush point.
template <class Visit>
static void WalkGlyphs(lvImageFont *f, int x, int y, const char *text, size_t length, int charSpacing,
                       int encoding, int cx0, int cy0, int cx1, int cy1, Visit visit)
{
    for (int p : PositionsOf(f, text, length, encoding)) {
        if (p >= 0) {
            int sx0 = (f->cellWidth + f->colSpacing) * (p % f->columns);
            int sy0 = (f->cellHeight + f->rowSpacing) * (p / f->columns);
            // A width wider than its cell reads no further than the brush.
            int w = f->widths[p];
            if (w > f->width - sx0) w = f->width - sx0;
            for (int row = 0; row < f->cellHeight; row++) {
                int ty = y + row;
                if (ty < cy0 || ty > cy1) continue;
                for (int col = 0; col < w; col++) {
                    int tx = x + col;
                    if (tx < cx0 || tx > cx1) continue;
                    visit(tx, ty, sx0 + col, sy0 + row);
                }
            }
        }
        x += AdvanceOf(f, p, charSpacing);
    }
}

int RenderImageFontText(lvFont *font, const lvFontPlane *target, int x, int y, const char *text, size_t length,
                        int charSpacing, int encoding, const lvFontClip *clip)
{
    lvImageFont *f = Driver(font);
    lvFontClip c = ClipToPlane(target, clip);
    bool mask = target->format == LV_PLANE_MASK1;
    WalkGlyphs(f, x, y, text, length, charSpacing, encoding, c.minX, c.minY, c.maxX, c.maxY,
               [&](int tx, int ty, int sx, int sy) {
                   size_t at = (size_t)sy * f->width + sx;
                   int value;
                   if (f->argb) {
                       value = (int)(f->argb[at] >> 24);
                       if (mask && value < 128) return;
                   } else {
                       int pen = f->pens[at];
                       if (pen == f->transparentPen) return;
                       value = f->depth == 1 ? 255 : pen;
                   }
                   if (!value) return;
                   uint8_t *dst = target->pixels + (size_t)ty * target->rowBytes;
                   if (mask) dst[tx >> 3] |= (uint8_t)(0x80 >> (tx & 7));
                   else dst[tx] = (uint8_t)value;
               });
    return 0;
}

int RenderImageFontArgb(lvFont *font, uint32_t *pixels, int rowWords, int width, int height, int x, int y,
                        const char *text, size_t length, int charSpacing, int encoding)
{
    lvImageFont *f = Driver(font);
    WalkGlyphs(f, x, y, text, length, charSpacing, encoding, 0, 0, width - 1, height - 1,
               [&](int tx, int ty, int sx, int sy) {
                   size_t at = (size_t)sy * f->width + sx;
                   uint32_t colour;
                   if (f->argb) {
                       colour = f->argb[at];
                   } else {
                       int pen = f->pens[at];
                       if (pen == f->transparentPen) return;
                       colour = (f->palette[pen] & 0xFFFFFFu) | 0xFF000000u;
                   }
                   if (colour >> 24) pixels[(size_t)ty * rowWords + tx] = colour;
               });
    return 0;
}

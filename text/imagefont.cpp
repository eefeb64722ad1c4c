// imagefont.cpp - image fonts: the grid of cells of a brush, measured and
// drawn in the brush's colours.
#include "text/lvimagefont.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "base/lverrors.h"
#include "runtime/encoding.h"

namespace {

lvImageFont *Driver(lvFont *font) { return static_cast<lvImageFont *>(font->driverHandle); }

// The text as ISO-8859-1 bytes (UTF-8 decoded; codes above 255 become "?").
std::string Latin1(const char *text, size_t length, int encoding)
{
    if (encoding != 1) return std::string(text, length);
    std::string out;
    size_t p = 0;
    while (p < length) {
        uint32_t c = NextUtf8CodePointBounded(&p, length, text);
        out.push_back(c > 255 ? '?' : (char)c);
    }
    return out;
}

// Position of c in the set, or -1.
int PositionOf(const lvImageFont *f, uint8_t c)
{
    const void *at = std::memchr(f->characters, c, (size_t)f->length);
    return at ? (int)((const char *)at - f->characters) : -1;
}

// Calls draw(position, pen x) for every character, the pen advancing.
template <typename Draw> void Walk(lvImageFont *f, const std::string &text, int charSpacing, int x, Draw draw)
{
    for (unsigned char c : text) {
        int p = PositionOf(f, c);
        int w = p >= 0 ? f->widths[p] : f->cellWidth;
        if (p >= 0) draw(p, x);
        x += std::max(0, charSpacing + w);
    }
}

}  // namespace

int CreateImageFont(const lvImageFontRequest *q, lvFont **out)
{
    *out = nullptr;
    if (q->cellWidth <= 0 || q->cellHeight <= 0 || q->columns <= 0 || q->length < 1 || q->length > 1023 ||
        q->columnSpacing < 0 || q->rowSpacing < 0)
        return ERR_WRONGUSAGE;
    int rows = (int)((q->length + (size_t)q->columns - 1) / (size_t)q->columns);
    int64_t needW = (int64_t)q->columns * q->cellWidth + (int64_t)(q->columns - 1) * q->columnSpacing;
    int64_t needH = (int64_t)rows * q->cellHeight + (int64_t)(rows - 1) * q->rowSpacing;
    if (q->width < needW || q->height < needH) return ERR_BRUSHSIZE;
    lvImageFont *f = new (std::nothrow) lvImageFont{};
    lvFont *font = new (std::nothrow) lvFont{};
    if (!f || !font) {
        delete f;
        delete font;
        return ERR_MEM;
    }
    std::memcpy(f->characters, q->characters, q->length);
    f->length = (int)q->length;
    for (int i = 0; i < 1024; i++) f->widths[i] = q->cellWidth;
    if (q->widths) {
        for (size_t i = 0; i < q->widths->size() && i < 1024; i++) {
            if ((*q->widths)[i] < 0) {
                delete f;
                delete font;
                return ERR_WRONGUSAGE;
            }
            f->widths[i] = (*q->widths)[i];
        }
    }
    f->cellWidth = q->cellWidth, f->cellHeight = q->cellHeight, f->columns = q->columns;
    f->columnSpacing = q->columnSpacing, f->rowSpacing = q->rowSpacing;
    f->width = q->width, f->height = q->height;
    try {
        f->argb.assign(q->argb, q->argb + (size_t)q->width * q->height);
    } catch (const std::bad_alloc &) {
        delete f;
        delete font;
        return ERR_MEM;
    }
    std::snprintf(font->name, sizeof font->name, "%s", q->name ? q->name : "Font");
    font->type = LV_FONT_IMAGE;
    font->size = font->height = font->baseHeight = q->cellHeight;
    font->baseline = font->baseBaseline = q->ascender >= 0 ? q->ascender : q->cellHeight - 1;
    font->depth = q->depth;
    font->transparentPen = -1;
    font->scaleX = font->scaleY = 1;
    font->driverHandle = f;
    *out = font;
    return 0;
}

void FreeImageFont(lvFont *font)
{
    if (!font) return;
    delete Driver(font);
    font->driverHandle = nullptr;
}

int MeasureImageFontText(lvFont *font, const char *text, size_t length, int charSpacing, int encoding,
                         lvFontExtent *out)
{
    *out = {};
    lvImageFont *f = Driver(font);
    std::string t = Latin1(text, length, encoding);
    int advance = 0, last = 0;
    for (unsigned char c : t) {
        int p = PositionOf(f, c);
        last = (p >= 0 ? f->widths[p] : f->cellWidth) + charSpacing;
        advance += std::max(0, last);
    }
    out->advance = advance;
    out->height = font->height;
    out->minX = 0;
    out->minY = -font->baseline;
    out->maxY = font->height - font->baseline - 1;
    out->maxX = advance - (last >= 0 ? charSpacing : 0) - 1;
    return 0;
}

int RenderImageFontText(lvFont *font, const lvFontPlane *target, int x, int y, const char *text, size_t length,
                        int charSpacing, int encoding, const lvFontClip *clip)
{
    lvImageFont *f = Driver(font);
    lvFontClip c = ClipToPlane(target, clip);
    Walk(f, Latin1(text, length, encoding), charSpacing, x, [&](int p, int px) {
        int sx = (f->cellWidth + f->columnSpacing) * (p % f->columns);
        int sy = (f->cellHeight + f->rowSpacing) * (p / f->columns);
        for (int row = 0; row < f->cellHeight; row++) {
            int ty = y + row;
            if (ty < c.minY || ty > c.maxY) continue;
            for (int col = 0; col < f->widths[p] && col < f->cellWidth; col++) {
                int tx = px + col;
                if (tx < c.minX || tx > c.maxX) continue;
                uint8_t a = (uint8_t)(f->argb[(size_t)(sy + row) * f->width + sx + col] >> 24);
                if (!a) continue;
                uint8_t *dst = target->pixels + (size_t)ty * target->rowBytes;
                if (target->format == LV_PLANE_MASK1) dst[tx >> 3] |= (uint8_t)(0x80 >> (tx & 7));
                else dst[tx] = a;
            }
        }
    });
    return 0;
}

void RenderImageFontColours(lvFont *font, uint32_t *argb, int w, int h, int x, int y, const char *text,
                            size_t length, int charSpacing, int encoding)
{
    lvImageFont *f = Driver(font);
    Walk(f, Latin1(text, length, encoding), charSpacing, x, [&](int p, int px) {
        int sx = (f->cellWidth + f->columnSpacing) * (p % f->columns);
        int sy = (f->cellHeight + f->rowSpacing) * (p / f->columns);
        for (int row = 0; row < f->cellHeight; row++) {
            int ty = y + row;
            if (ty < 0 || ty >= h) continue;
            for (int col = 0; col < f->widths[p] && col < f->cellWidth; col++) {
                int tx = px + col;
                if (tx < 0 || tx >= w) continue;
                uint32_t v = f->argb[(size_t)(sy + row) * f->width + sx + col];
                if (v >> 24) argb[(size_t)ty * w + tx] = v;
            }
        }
    });
}

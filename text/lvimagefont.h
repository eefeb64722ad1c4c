// lvimagefont.h - image fonts: glyphs cut from a brush laid out as a grid of
// equal cells, with a string naming the character in each cell in grid order.
// The font belongs to the font object that made it, never to the font cache.
//
// Depends on: text/lvfont.h. Limits: script thread only.
#pragma once
#include <cstddef>
#include <cstdint>

#include "text/lvfont.h"

enum : int { LV_IMAGEFONT_MAXCHARS = 1023 };

// The brush's images as the font copies them: an RGB brush gives width x
// height 0xAARRGGBB words (alpha from its mask or alpha plane, 255 without),
// a palette brush its pens and palette.
struct lvImageFontSource {
    int width, height;
    int depth;                     // 24 for RGB, else the palette depth 1..8
    const uint32_t *argb;          // RGB brushes
    int hasMask, hasAlpha;         // which transparency the RGB brush had
    const uint8_t *pens;           // palette brushes
    const uint32_t *palette;       // 256 entries, palette brushes
    int transparentPen;            // -1 none
};

struct lvImageFont {
    char chars[LV_IMAGEFONT_MAXCHARS + 1]; // ISO-8859-1, zero-terminated
    size_t charCount;
    int widths[LV_IMAGEFONT_MAXCHARS + 1]; // advance and drawn width by position
    int cellWidth, cellHeight, columns;
    int colSpacing, rowSpacing;
    int depth;
    int width, height;             // of the copied images
    uint32_t *argb;                // owned copies
    int hasMask, hasAlpha;
    uint8_t *pens;
    uint32_t palette[256];
    int transparentPen;            // 0 for depth 1
};

// Makes a type-5 font. chars: ISO-8859-1 bytes; widths: by position (extra
// entries beyond the set are ignored, a negative one is ERR_WRONGUSAGE).
// ascender -1: cell height - 1. 0, ERR_WRONGUSAGE, ERR_BRUSHSIZE or ERR_MEM;
// nothing is left behind on failure.
int CreateImageFont(const lvImageFontSource *source, const char *name, int cellWidth, int cellHeight, int columns,
                    int colSpacing, int rowSpacing, int ascender, const char *chars, size_t charCount,
                    const int *widths, size_t widthCount, lvFont **out);
int MeasureImageFontText(lvFont *font, const char *text, size_t length, int charSpacing, int encoding,
                         lvFontExtent *out);
// Coverage into a mask or 8-bit plane with the pen at the cell's top left:
// depth-1 fonts set 255 (or the mask bit) where the pen is set, palette fonts
// write their pens (the transparent pen left out), RGB fonts their alpha
// (a mask bit where it is at least 128).
int RenderImageFontText(lvFont *font, const lvFontPlane *target, int x, int y, const char *text, size_t length,
                        int charSpacing, int encoding, const lvFontClip *clip);
// The colours of an RGB font's glyphs into 0xAARRGGBB words (alpha the
// coverage), pen at the cell's top left; palette fonts give their palette's
// colours. Pixels outside the glyphs are left alone.
int RenderImageFontArgb(lvFont *font, uint32_t *pixels, int rowWords, int width, int height, int x, int y,
                        const char *text, size_t length, int charSpacing, int encoding);
void FreeImageFont(lvFont *font);

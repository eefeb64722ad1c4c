// lvimagefont.h - image fonts: a font cut out of a brush whose glyphs lie in
// a grid of equal cells, drawn in the brush's own colours.
//
// Depends on: text/lvfont.h.
// Limits: script thread only.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "text/lvfont.h"

struct lvImageFont {
    char characters[1024];          // ISO-8859-1, zero-terminated
    int length;
    int widths[1024];               // advance and drawn width by position
    int cellWidth, cellHeight, columns, columnSpacing, rowSpacing;
    int width, height;              // the brush's pixels
    std::vector<uint32_t> argb;     // the brush's colours with their coverage in the top byte
};

struct lvImageFontRequest {
    const char *name;
    const uint32_t *argb;           // width x height, coverage in the top byte
    int width, height, depth;
    int cellWidth, cellHeight, columns, columnSpacing, rowSpacing;
    const char *characters;         // ISO-8859-1
    size_t length;
    const std::vector<int> *widths; // by position (may be shorter; null: none)
    int ascender;                   // -1: cell height - 1
};

// 0, ERR_WRONGUSAGE for bad cells or characters (1..1023 bytes) or a negative
// width, ERR_BRUSHSIZE when the grid does not fit the brush, ERR_MEM.
int CreateImageFont(const lvImageFontRequest *request, lvFont **out);
void FreeImageFont(lvFont *font);
int MeasureImageFontText(lvFont *font, const char *text, size_t length, int charSpacing, int encoding,
                         lvFontExtent *out);
// Coverage (the colours' top byte) into an alpha plane, or a mask where it is set.
int RenderImageFontText(lvFont *font, const lvFontPlane *target, int x, int y, const char *text, size_t length,
                        int charSpacing, int encoding, const lvFontClip *clip);
// The glyphs' colours with their coverage into ARGB words (w x h).
void RenderImageFontColours(lvFont *font, uint32_t *argb, int w, int h, int x, int y, const char *text,
                            size_t length, int charSpacing, int encoding);

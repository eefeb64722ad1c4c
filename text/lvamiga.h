// lvamiga.h - Amiga disk fonts: contents files listing the sizes, size files
// in the DiskFontHeader layout with one glyph strip (monochrome) or several
// bit planes and a colour table (colour fonts). Every pointer, count and char
// location is checked against the file and the strip: a damaged font does not
// open, and no glyph is read outside its strip.
//
// Depends on: text/lvfont.h.
// Limits: script thread only.
#pragma once
#include "text/lvfont.h"

struct lvAmigaFont {
    int ySize, style, flags, xSize, baseline, boldSmear, accessors;
    int loChar, hiChar;
    int n;                      // hiChar - loChar + 2: the last glyph serves the rest
    int modulo;                 // bytes a strip row
    uint8_t *mask;              // monochrome: the glyph strip, modulo x ySize bytes
    uint8_t *pens;              // colour: one byte a pixel, (modulo x 8) x ySize
    uint32_t *charLoc;          // n words: first bit << 16 | width
    int16_t *charSpace;         // n advances, or null
    int16_t *charKern;          // n offsets, or null
    uint32_t palette[256];
    int paletteDepth;
    int depth;                  // colour fonts: planes in the font
};

// The size-file name of the first loadable entry of the wanted size in a
// contents file ("::incomplete" entries passed over). 1 or 0.
int FindAmigaContentsEntry(const uint8_t *data, size_t size, int ySize, char *name, size_t nameSize);
// Reads a size file. 0 and a new font, or ERR_READ for a damaged file.
int ReadAmigaSizeFile(const uint8_t *data, size_t size, lvAmigaFont **out);
void FreeAmigaFontData(lvAmigaFont *af);

// Opens contents file path (".font" appended unless there) at a size. 1 or 0.
int OpenAmigaFont(const char *path, int size, lvFont *font, const char *givenName);
// Fills a font from a read size file (takes the driver state over).
void SetAmigaFont(lvFont *font, lvAmigaFont *af, int size, const char *name);

int MeasureAmigaText(lvFont *font, const char *text, size_t length, int charSpacing, int encoding,
                     lvFontExtent *out);
int AmigaTextWidth(lvFont *font, const char *text, size_t length, int charSpacing, int encoding);
// Monochrome glyphs are ORed into a mask (or set to 255 in an 8-bit plane);
// colour glyphs put their pens, where not 0, into an 8-bit pen plane.
int RenderAmigaText(lvFont *font, const lvFontPlane *target, int x, int y, const char *text, size_t length,
                    int charSpacing, int encoding, const lvFontClip *clip);
void FreeAmigaFont(lvFont *font);

// The built-in 8 x 8 font "topaz": 225 glyphs (codes 32-255 and the fallback)
// in an 1800 x 8 strip. 0 and the font, or ERR_MEM.
int MakeTopazFont(lvFont **out);
extern const uint8_t lvTopazStrip[1800];

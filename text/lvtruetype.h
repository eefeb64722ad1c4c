// lvtruetype.h - FreeType faces as fonts: the built-in engine (type 4: the
// built-in Vera faces, font files by path, faces of the font list) and the
// system font engine (type 3: faces found through fontconfig). Both keep an
// lvTrueTypeFont as the font's driver handle and share the glyph walk.
//
// Depends on: text/lvfont.h, FreeType.
// Limits: script thread only; a font is never drawn from two threads at once.
#pragma once
#include <ft2build.h>
#include FT_FREETYPE_H

#include "text/lvfont.h"

struct lvTrueTypeEngine {
    FT_Library library;
};

struct lvGlyphCacheSlot {
    int filled;
    int left, top;
    int width, rows, pitch;     // pitch >= 0, rows packed
    int advance;                // horizontal advance, 26.6
    uint8_t *bitmap;
};

struct lvTrueTypeFont {
    FT_Face face;
    FT_StreamRec stream;        // file faces: FreeType reads through it
    int fd;                     // -1 for memory faces
    uint32_t baseOffset, length;
    const uint8_t *memory;      // built-in faces (not owned)
    size_t memorySize;
    char fileName[1024];
    int temporary;              // fileName is a temporary file to delete
    int pixelSize;              // nominal pixel size of advances
    int dpiX, dpiY;
    int nativeAdvances;         // system fonts: advances as FreeType gives them
    int syntheticStyle;         // bold/italic the face lacks, made by FreeType
    FT_Matrix scale;            // the font's scale, applied to outlines (advances stay unscaled)
    int scaled;
    int glyphCacheOn;
    lvGlyphCacheSlot cache[2][256]; // [0] anti-aliased, [1] monochrome
    // System fonts: the family's own italic, bold and bold italic faces where it has
    // them (null: that style is made from this face).
    lvTrueTypeFont *variants[3];
};

// The built-in faces (size in bytes and the data); null for another name.
const uint8_t *BuiltInFace(const char *name, size_t *size);

int InitTrueTypeEngine(lvFontManager *fm);
void DoneTrueTypeEngine(lvFontManager *fm);

// 1 and the font filled, or 0.
int OpenTrueTypeFont(lvFontManager *fm, const char *name, int size, int glyphCache, int charMap, lvFont *font);
// The system engine: a family name (with optional style words) looked up
// through fontconfig, or a linked font's bytes. 1 or 0.
int OpenNativeFont(lvFontManager *fm, const char *name, int size, const uint8_t *data, size_t dataSize,
                   lvFont *font);

int MeasureTrueTypeText(lvFont *font, const char *text, size_t length, int style, int charSpacing, int encoding,
                        lvFontExtent *out);
int RenderTrueTypeText(lvFont *font, const lvFontPlane *target, int x, int y, const char *text, size_t length,
                       int style, int charSpacing, int encoding, const lvFontClip *clip);
int GetTrueTypeKerning(lvFont *font, const char *pair, size_t length, int style, int encoding);
void ScaleTrueTypeFont(lvFont *font, double sx, double sy);
void DropTrueTypeGlyphCache(lvFont *font);
void FreeTrueTypeFont(lvFont *font);
FT_Face GetTrueTypeFace(lvFont *font);

// Code points of a text: UTF-8 decoded when the encoding is UTF-8 and the
// text is well-formed, else its bytes. Returns the count written to codes
// (at most capacity; *needed receives the full count).
size_t TextCodePoints(const char *text, size_t length, int encoding, uint32_t *codes, size_t capacity,
                      size_t *needed);

// fontconfig: the file and face index of a family with a weight and slant
// (FONTWEIGHT_, FONTSLANT_); accepted only when one of the match's families
// equals the family asked for, case ignored. 1 or 0.
int FindSystemFontFile(const char *family, int weight, int slant, char *path, size_t pathSize, int *faceIndex);
// Every font file fontconfig knows, for the font scan (callback per path).
void ForEachSystemFontFile(void (*fn)(const char *path, void *ctx), void *ctx);
// Frees fontconfig's state (the next lookup starts it again).
void DoneSystemFonts();

// lvpathtext.h - the text side of vector paths: glyph outlines of UTF-8 text
// handed to a path builder through a table of functions, and the run-wide
// table of vector-font handles that path buffers store in their Text
// commands (a 32-bit index, never a face pointer).
//
// The path record, its buffer writer and the vector engines belong to the
// vector-path library; these pieces serve it through lvPathSink and the
// handle table.
//
// Depends on: text/lvtruetype.h (FreeType faces).
// Limits: script thread only.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "text/lvtruetype.h"

// Where outlines go: points in path coordinates (y down).
struct lvPathSink {
    void *context;
    void (*MoveTo)(void *context, double x, double y);
    void (*LineTo)(void *context, double x, double y);
    void (*ConicTo)(void *context, double cx, double cy, double x, double y);
    void (*CubicTo)(void *context, double c1x, double c1y, double c2x, double c2y, double x, double y);
    void (*Close)(void *context);
};

// One character of UTF-8 path text at *position: sequences of 1 to 4 bytes;
// a sequence cut by the end of the text ends the text (false), nothing is
// read at or past length. A stray continuation or bad lead byte is taken as
// its own code.
bool NextPathTextChar(const char *text, size_t length, size_t *position, uint32_t *code);

// The outlines of text (UTF-8) in face at size pixels (72 dpi), the first
// glyph's origin at (*x, *y); *x advances by every glyph's advance. A glyph
// that cannot be loaded ends the text. 0, or ERR_VFONT when the size cannot
// be set.
int AddPathTextOutlines(FT_Face face, int size, const char *text, size_t length, double *x, double *y,
                        const lvPathSink *sink);

// A vector font of one engine (null: the built-in engine, whose vector font is
// the FreeType face itself) for one font.
struct lvVectorFontNode {
    lvFont *font;                   // null: a freed slot
    const void *engine;
    void *vectorFont;
    void *face;                     // plug-in engines taking fonts as file data: their face
    uint8_t *data;                  // and the file read for it (owned), or null
};
// How vector fonts of engines other than the built-in one are made and freed
// (the vector-path library fills it): Create gets a face from Open or the
// font's own FreeType face; usesOpenFont tells which route an engine takes.
struct lvVectorFontOps {
    int (*UsesOpenFont)(const void *engine);
    void *(*Open)(const void *engine, const void *data, int32_t size);
    void (*Close)(const void *engine, void *face);
    void *(*Create)(const void *engine, void *face);
    void (*Free)(const void *engine, void *vectorFont);
};
void SetVectorFontOps(const lvVectorFontOps *ops);
// The bytes of a TrueType font's file: *data, *size, and *owned (to free) when
// they had to be read. 0, ERR_VFONT or ERR_MEM.
int GetTrueTypeSource(lvFont *font, const uint8_t **data, size_t *size, uint8_t **owned);

struct lvVectorFontTable {
    std::vector<lvVectorFontNode> nodes;  // handle = index + 1
};
// Frees every node (the plug-ins' fonts through the ops).
void FreeAllVectorFonts(lvVectorFontTable *table);

// The handle of font's vector font for engine: 0, ERR_VFONTTYPE for a font
// that is not a TrueType font of the built-in engine, ERR_VFONT, ERR_MEM.
int GetVectorFont(lvVectorFontTable *table, const void *engine, lvFont *font, uint32_t *handle);
// The font of a handle, or null.
lvFont *FindFontByVectorHandle(const lvVectorFontTable *table, uint32_t handle);
// The vector font of a handle (the face for the built-in engine), or null.
void *GetVectorFontOfHandle(const lvVectorFontTable *table, uint32_t handle);
// Frees the handles of a font that goes away.
void FreeFontVectorHandles(lvVectorFontTable *table, lvFont *font);
// Every Text command (code 9) of a path buffer gets the handle of its font for
// engine. 0, ERR_WRONGUSAGE for a buffer that is cut or holds an unknown code,
// ERR_VFONT for a handle without a font, or GetVectorFont's error.
int ResolvePathFonts(lvVectorFontTable *table, const void *engine, uint8_t *buffer, size_t size);
// Bytes a text field takes: floor((length + 1) / 4) x 4 + 4.
inline size_t PathTextFieldSize(size_t length) { return (length + 1) / 4 * 4 + 4; }

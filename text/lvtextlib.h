// lvtextlib.h - the text library's state for one run: the font manager, the
// current font and text style, the font objects (type 43) and the text objects
// (type 8), and the measuring of text in a style.
//
// The current text style is the graphics engine's font-style record
// (raster/lvdrawtags.h, GetFontStyle): the drawing defaults fill it, the text
// commands change it.
//
// Depends on: text/lvfont.h, raster/lvdrawtags.h, runtime/objects.h.
// Limits: script thread only.
#pragma once
#include <cstddef>

#include "raster/lvdrawtags.h"
#include "runtime/objects.h"
#include "text/lvfont.h"
#include "text/lvpathtext.h"

enum : int { LV_TYPE_TEXTOBJECT = 8, LV_TYPE_FONT = 43 };

// A script font object: the header and the font it selects. The font belongs
// to the font cache (or is topaz) and outlives the object.
struct lvFontObject {
    lvObjectHeader header;
    lvFont *font;
};

// Advance, height and ink box as the font measures them, then the total width
// and the four extensions a border or a shadow adds (top and left <= 0).
struct lvTextMetrics {
    int advance, height;
    int minX, minY, maxX, maxY;
    int totalWidth;
    int topExtension, bottomExtension, leftExtension, rightExtension;
};

struct lvTextLibrary {
    int open;
    lvFontManager fonts;
    lvFont *currentFont;             // never null while open (topaz at start)
    lvObjectHeader *fontObjects;     // lvFontObject list
    lvObjectHeader *textObjects;     // text objects (none made yet)
    int formatTags;                  // inline format tags on
    struct lvDisplayTabs *displayTabs; // tab stops by display (text/lvtextout.h)
    struct lvOwnedFont *imageFonts;  // fonts made by CreateFont, freed at close
    lvVectorFontTable vectorFonts;   // the run's vector-font handles of path text
    lvRefOps refOps;                 // releases the objects' named values
};

lvTextLibrary *GetTextLibrary();

// Makes the font manager with topaz 8 as the current font, resets the style's
// flags and registers the object types 8 and 43 (fontAttribute answers
// GetAttribute on fonts; may be null). refOps (may be null) releases the
// objects' named values. 0, ERR_MEM or the engine's error.
int OpenTextEngine(lvObjectAttributeFunction fontAttribute, const lvRefOps *refOps,
                   lvObjectAttributeFunction textObjectAttribute = nullptr);
// Frees the font objects, the text objects, the font paths and the font cache.
void CloseTextEngine();

// Fills the plug-in interface's font sub-tables (lookup, FreeType, built-in faces).
void InstallFontPluginEntries(void);

// The default font (topaz 8) becomes current: 0 or the open's error.
int SetupDefaultFont();

// Selects a font for the following text; the style goes back to NORMAL.
void SelectTextFont(lvFont *font);

// 0, ERR_FINDFONT2 for a number (the number set as the message's argument),
// ERR_FINDARRAY for a handle.
int FindFontById(lvObjectId id, lvFontObject **out);
// Unlinks and frees a font object (its font stays valid); errors as FindFontById.
int RemoveFontObject(lvObjectId id);
// A new font object appended to the list; an object with the same number is
// removed first. makeHandle: the object gets a handle as its identifier.
int AddFontObject(int number, bool makeHandle, lvFont *font, lvFontObject **out);

// Shadow and border sizes into 1..64, a shadow direction outside 0..7 to
// south-east.
void ClampTextStyle(lvFontStyle *style);

// Measures text in the current font with the style given (null: the current
// style). encoding 0 ISO-8859-1, 1 UTF-8. 0 or an error code.
int MeasureStyledText(int encoding, int charSpacing, const lvFontStyle *style, lvTextMetrics *out,
                      const char *text, size_t length);
// The same in a given font (null: topaz).
int MeasureStyledTextIn(lvFontManager *fm, lvFont *font, int encoding, int charSpacing, const lvFontStyle *style,
                        lvTextMetrics *out, const char *text, size_t length);
// Fonts that make bold and italic themselves in that style (system faces, and
// FreeType faces when anti-aliased); others get them drawn over the plain glyphs.
bool StyleIsNative(const lvFont *font, int style);

// Image fonts belong to the run: a closed font object's font stays valid
// (it may be the current font) until the library closes. 0 or ERR_MEM.
struct lvOwnedFont {
    lvOwnedFont *next;
    lvFont *font;
};
int KeepImageFont(lvFont *font);

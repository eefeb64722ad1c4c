// lvfont.h - the font manager: the font record every engine fills, the cache
// of opened fonts, the list of font files found on the system, the extra font
// directories, and the dispatch of measuring, kerning, scaling and freeing by
// font type.
//
// Depends on: base/lverrors.h (codes), FreeType (through text/lvtruetype.h).
// Limits: script thread only; one lvFontManager per run of an applet.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "base/lverrors.h"

enum : int {
    LV_FONT_AMIGA = 1, LV_FONT_AMIGACOLOR = 2, LV_FONT_SYSTEM = 3, LV_FONT_TRUETYPE = 4, LV_FONT_IMAGE = 5,
    LV_FONT_PLUGIN = 6,
};
enum : int { FONTENGINE_NATIVE = 0, FONTENGINE_INBUILT = 4, FONTENGINE_PLUGIN = 6 };
enum : int { FONTTYPE_BITMAP = 0, FONTTYPE_COLOR = 1, FONTTYPE_VECTOR = 2, FONTTYPE_BRUSH = 3, FONTTYPE_PLUGIN = 4 };
enum : int {
    CHARMAP_DEFAULT = 0, CHARMAP_MSSYMBOL = 1, CHARMAP_UNICODE = 2, CHARMAP_SJIS = 3, CHARMAP_BIG5 = 4,
    CHARMAP_WANSUNG = 5, CHARMAP_JOHAB = 6, CHARMAP_ADOBESTANDARD = 7, CHARMAP_ADOBEEXPERT = 8,
    CHARMAP_ADOBECUSTOM = 9, CHARMAP_ADOBELATIN1 = 10, CHARMAP_OLDLATIN2 = 11, CHARMAP_APPLEROMAN = 12,
};
enum : int {
    FONTWEIGHT_THIN = 0, FONTWEIGHT_EXTRALIGHT = 40, FONTWEIGHT_LIGHT = 50, FONTWEIGHT_BOOK = 75,
    FONTWEIGHT_NORMAL = 80, FONTWEIGHT_MEDIUM = 100, FONTWEIGHT_SEMIBOLD = 180, FONTWEIGHT_BOLD = 200,
    FONTWEIGHT_EXTRABOLD = 205, FONTWEIGHT_HEAVY = 210, FONTWEIGHT_EXTRABLACK = 215,
};
enum : int { FONTSLANT_ROMAN = 0, FONTSLANT_ITALIC = 100, FONTSLANT_OBLIQUE = 110 };
// Style flags the engines read (the draw style's FORM_ bits).
enum : int { LV_FONTSTYLE_BOLD = 2, LV_FONTSTYLE_ITALIC = 4, LV_FONTSTYLE_ANTIALIAS = 16 };

#define LV_BITMAP_DEFAULT ":::default_bitmap"
#define LV_TRUETYPE_DEFAULT ":::default_truetype"
#define LV_SANS_DEFAULT ":::default_sans"
#define LV_SERIF_DEFAULT ":::default_serif"
#define LV_MONOSPACE_DEFAULT ":::default_mono"

struct lvFontCacheEntry;

struct lvFont {
    char name[1024];
    int size;                   // as asked: pixels, or points with usePoints
    int height, baseline;       // current, scaled
    int baseHeight, baseBaseline;
    int type;                   // LV_FONT_...
    int scalable;
    int antialiased;            // glyphs are 8-bit coverage
    int depth;                  // plug-in fonts
    int usePoints;
    int pluginFlag8;            // kept, never used
    int selfLayout;             // the plug-in lays text out itself
    int systemBacked;           // an Amiga-type font drawn by the system engine
    int charMap;                // CHARMAP_ as asked
    uint8_t faceCharMaps[32];   // CHARMAP_ value of each map of the face
    int faceCharMapCount;
    double scaleX, scaleY;
    uint32_t *palette;
    int transparentPen;         // -1 none
    void *vectorFonts;
    lvFontCacheEntry *cacheEntry;
    void *driver;               // null: built-in engine; (void *)1: native loader; else the plug-in
    char formatName[256];
    void *driverHandle;         // engine state
};

struct lvFontCacheEntry {
    lvFontCacheEntry *next;
    char name[1024];
    char loader[256];           // "inbuilt", "native" or "plugin"
    char adapter[256];
    int size;
    int cacheFlag;
    int usePoints;
    lvFont *font;
    void *userTags;
};

// One font file (or one face inside a collection) found by the scan.
struct lvFontListEntry {
    lvFontListEntry *next;
    char fullName[512];         // family, then each style word not already in it
    char family[512];
    char path[1024];
    int weight;                 // FONTWEIGHT_, default NORMAL
    int slant;                  // FONTSLANT_, default ROMAN
    uint32_t faceOffset, faceLength; // a face inside a .dfont (length 0: whole file)
    uint32_t collectionOffset;       // a face inside a .ttc (0: none)
    int bitmap;                 // an Amiga contents file
    int sizeCount;
    uint8_t sizes[256];
};

struct lvFontPath {
    lvFontPath *next;
    char path[1024];
};

// The first six words of the text metrics: advance, height and the ink box,
// relative to the pen on the baseline.
struct lvFontExtent {
    int advance, height;
    int minX, minY, maxX, maxY;
};

// A plane glyphs are drawn into: 8-bit coverage (LV_PLANE_ALPHA8) or a mask
// of one bit a pixel, most significant bit leftmost (LV_PLANE_MASK1).
enum : int { LV_PLANE_ALPHA8 = 14, LV_PLANE_MASK1 = 15 };
struct lvFontPlane {
    uint8_t *pixels;
    int rowBytes;
    int width, height;
    int format;
};
struct lvFontClip {
    int minX, minY, maxX, maxY; // inclusive
};

// The clip rectangle within a plane (no clip: the whole plane).
lvFontClip ClipToPlane(const lvFontPlane *target, const lvFontClip *clip);
// A whole regular file of at most maxBytes. False when it cannot be read.
bool ReadFontFileBytes(const char *path, size_t maxBytes, std::vector<uint8_t> &bytes);

struct lvTrueTypeEngine;

struct lvFontManager {
    lvFontCacheEntry *cache;
    lvFontPath *fontPaths;
    lvFontListEntry *fontList;
    int fontListBuilt;
    int fontListNoDuplicates;   // the duplicates wish the list was built with
    lvTrueTypeEngine *trueType;
    lvFont *topaz;              // the built-in font: shared, never in the cache
    int screenDpi;              // of point sizes
    char errorText[1100];       // the message of the last 1064 / 1286
};

// Makes topaz and starts the engines (1386 when FreeType cannot start).
int InitFontManager(lvFontManager *fm);
// Frees every cached font, the font paths and the font list, and stops the engines.
void DoneFontManager(lvFontManager *fm);

// CHARMAP_ value of an engine number: the ordered list of loaders.
const char *EngineToLoaderList(int engine);

// Opens or shares a font. loaders: "|"-separated list of "plugin", "inbuilt",
// "native". linkedData/linkedSize: the bytes of a linked-font block (name
// given as ":::chunk"), else null. 0, or 1055, 1009, 1064 (message in
// fm->errorText), 1000.
int OpenFontByName(lvFontManager *fm, const char *name, int size, int cacheFlag, int usePoints, int charMap,
                   const uint8_t *linkedData, size_t linkedSize, const char *loaders, const char *adapter,
                   lvFont **out);

// No font (null) means topaz in the calls below.
int MeasureFontText(lvFontManager *fm, lvFont *font, const char *text, size_t length, int style, int charSpacing,
                    int encoding, lvFontExtent *out);
int RenderFontText(lvFontManager *fm, lvFont *font, const lvFontPlane *target, int x, int y, const char *text,
                   size_t length, int style, int charSpacing, int encoding, const lvFontClip *clip);
int GetFontKerning(lvFontManager *fm, lvFont *font, const char *pair, size_t length, int style, int encoding);
void ApplyFontScale(lvFontManager *fm, lvFont *font, double sx, double sy);
int GetFontDepth(const lvFont *font);
int GetFontTransparentPen(const lvFont *font);
// Amiga colour, image and plug-in fonts their palette; others none.
const uint32_t *GetFontPalette(const lvFont *font);
void DestroyFont(lvFontManager *fm, lvFont *font);
void FreeGlyphCaches(lvFontManager *fm, lvFont *font);

// The font engine and type the text library reports (FONTENGINE_, FONTTYPE_).
int FontEngineOf(const lvFont *font);
int FontTypeOf(const lvFont *font);

// ---- font list ---------------------------------------------------------------------

// Weight or slant of a style word: 1 and *weight, 2 and *slant, or 0.
int StyleWordValue(const char *word, size_t length, int *value);
// True for "regular", "plain", "normal", "book", "roman" and the empty style.
bool IsRegularStyle(const char *style);
// Family (id 1) and style (id 2) names of the face whose table directory is at
// base in data[0..size); table offsets count from tablesBase (0 in files and
// collections, the face's start in .dfont files). 1 when a family was read
// within the bytes given, 0 otherwise.
int ReadTrueTypeNames(const uint8_t *data, size_t size, size_t base, size_t tablesBase, char *family,
                      size_t familySize, char *style, size_t styleSize);
// Adds the fonts of one file's bytes to the list (the file's name decides its
// kind). A damaged face is passed over.
void AddFontFileToList(lvFontManager *fm, const char *path, const uint8_t *data, size_t size, int noDuplicates);
// Scans one directory (not its sub-directories); 1286 when it cannot be opened.
int ScanFontFiles(lvFontManager *fm, const char *directory, int noDuplicates);
void BuildFontList(lvFontManager *fm, int noDuplicates);
void DropFontList(lvFontManager *fm);
int AddFontPath(lvFontManager *fm, const char *path);
// Path of a scalable font file by family, weight and slant (weight -1: by full
// name). A face inside a collection is written into a temporary file
// (*temporary = 1; the caller deletes it). 0 and path filled, or 1064.
int FindFontFile(lvFontManager *fm, const char *name, int weight, int slant, int wholeFilesOnly, char *path,
                 size_t pathSize, uint32_t *faceOffset, uint32_t *faceLength, int *temporary);
// Cuts the face at offset out of a collection's bytes into a stand-alone file.
// 0, or ERR_READ when a table lies outside the bytes.
int ExtractCollectionFace(const uint8_t *data, size_t size, uint32_t offset, uint8_t **out, size_t *outSize);

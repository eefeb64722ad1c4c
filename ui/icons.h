// icons.h - icon objects: one picture in several sizes, each size optionally with a
// selected image (icons.cpp); the native icon file format and the ICO image body
// (iconfiles.cpp); the "icon" library's commands and the tray icon command (lib_icon.cpp).
//
// Entries keep 32-bit ARGB pictures, sorted by width. Limits: script thread.
#pragma once
#include <cstddef>
#include <cstdint>

#include "runtime/objects.h"

struct lvState;
struct lvConstantEntry;

#define LV_TYPE_ICON 59
// The largest side of an icon entry and of a native icon file.
#define LV_MAX_ICON_SIDE 4096

struct lvIconEntry {
    lvIconEntry *next;
    int width, height;
    int standard;        // the standard size of its icon
    uint32_t *normal;    // width * height ARGB words (AllocMemory)
    uint32_t *selected;  // the same size, or null
    // Palette entries (depth 1..8) keep their pens besides the ARGB pictures above.
    int paletteDepth;      // 1..8, or 0 for a 32-bit entry
    uint32_t *palette;     // 256 ARGB words (AllocMemory), palette entries only
    int transparentPen;    // -1 none (palette entries only)
    uint8_t *normalPens;   // width * height pens, palette entries only
    uint8_t *selectedPens; // the same for the selected image, or null
};
// 32, or the palette depth of a palette entry.
inline int IconEntryDepth(const lvIconEntry *e) { return e->paletteDepth ? e->paletteDepth : 32; }

// The desktop-icon properties an icon carries (GetIconProperties, SetIconProperties).
#define LV_MAX_TOOLTYPES 254
#define LV_MAX_TOOLTYPE_TEXT 1023
struct lvIconProps {
    int type, viewmode, viewall, iconx, icony, drawerx, drawery, drawerwidth, drawerheight, stacksize;
    char *defaultTool;    // AllocMemory, or null
    char **toolTypes;     // toolTypeCount texts (AllocMemory each and the array), or null
    int toolTypeCount;
};

struct lvIcon {
    lvObjectHeader header;  // type 59
    lvIconEntry *entries;   // sorted by width
    lvIconProps props;
    char formatName[256];   // "Lumivarra Icon" for icons made here or read from native files
};

// ---- Entries -----------------------------------------------------------------------------
void FreeIconEntries(lvIconEntry *list);
// Places the entry in width order, then depth order (after entries as wide and as deep);
// its 1-based position.
int InsertIconEntry(lvIconEntry **list, lvIconEntry *entry);
int CountIconEntries(const lvIconEntry *list);

// ---- Properties ---------------------------------------------------------------------------
void FreeIconProps(lvIconProps *props);  // frees the texts and clears them

// One stored tool type taken apart: "KEY", "KEY=VALUE" or KEY = "quoted value", wrapped
// in parentheses when disabled. A key longer than 255 bytes or a value longer than 499 is
// cut at the last whole UTF-8 character that fits.
struct lvToolType {
    char key[256];
    char value[500];
    int enabled;
};
// 1 when the text gives a tool type, 0 when it is skipped (blank, or a key that does not
// start with a letter or "_").
int ParseToolType(const char *text, lvToolType *out);
// The stored text of a tool type: key, "=" and the value when the value is not empty,
// wrapped in "(" and ")" when disabled. 0 with *out (AllocMemory); ERR_WRONGUSAGE when
// the text would be longer than 1023 bytes; ERR_MEM.
int BuildToolType(const char *key, size_t keyLength, const char *value, size_t valueLength, int enabled,
                  char **out);

// ---- The native icon file ------------------------------------------------------------------
// The picture of a native icon file: row 0 carries "LUMIVARRA" in the first three pixels'
// colours, then per entry a header row {width, height, flags: 1 selected follows, 4
// standard} and its rows (normal image, then the selected one beside it). 0, ERR_MEM, or
// ERR_WRONGUSAGE for two entries of one width (the reader would refuse the file).
int BuildNativeIconImage(const lvIconEntry *entries, uint32_t **argb, int *width, int *height);
// Reads the entries back from such a picture: 0, or ERR_LOADICON when it is no native
// icon (too narrow, no magic, no alpha channel, an entry that does not fit, widths not
// increasing, rows left over).
int ParseNativeIconImage(const uint32_t *argb, int width, int height, int hasAlpha, lvIconEntry **out);

// ---- ICO image bodies ------------------------------------------------------------------------
// Bytes of one ICO image body of width x height (colour rows, then the 1-bit mask rows).
size_t IcoImageDataSize(int width, int height);
// Writes it into out (IcoImageDataSize bytes): colour rows from the last row up as
// B, G, R, A bytes, then mask rows from the last row up, a set bit for alpha 0, rows
// padded to 32 bits with set bits. Returns the bytes written.
size_t WriteIcoImageData(const uint32_t *pixels, int width, int height, int rowLength, uint8_t *out);
struct lvIcoImage {
    const uint32_t *pixels;  // ARGB words, rows of rowLength
    int width, height, rowLength;
};
// A whole ICO file (little-endian): the header {0, 1, count}, one 16-byte directory entry
// per image (a side of 256 written as 0), then per image a 40-byte bitmap header and its
// WriteIcoImageData body. Images over 256 in either direction are left out. 0 with *out
// (AllocMemory) and *size; ERR_WRONGUSAGE when no image is left; ERR_MEM. Nothing calls it
// yet: kept for handing the application icon to desktops that take icon files.
int BuildIcoFile(const lvIcoImage *images, int count, uint8_t **out, size_t *size);

// ---- Objects -----------------------------------------------------------------------------------
int FindIconById(lvObjectId id, lvIcon **out);
int FreeIconById(lvObjectId id, int reportAbsence);
// Appends an icon made of the entries (taken over).
int AddIconObject(int number, bool automatic, lvIconEntry *entries, const char *formatName, lvIcon **out);
lvObjectHeader **IconListHead(void);
void FreeAllIcons(void);
// The entry whose width is nearest to wanted (the earlier one on a tie), or null.
const lvIconEntry *NearestIconEntry(const lvIcon *icon, int wanted);
// The runtime's own application icon images, drawn in code: 16, 32 and 48 pixels square.
// size is one of those; the ARGB words (AllocMemory) or null.
uint32_t *DrawRuntimeIcon(int size);
// Hands the runtime's own 16, 32 and 48 pixel images to the platform as the pictures every
// display window shows as its icon; the applet's pictures (count of them, at most 13) are
// added, and one of a size replaces ours of that size. 0 or ERR_MEM.
struct lvWindowIconImage;
int InstallWindowIcons(const lvWindowIconImage *applet, int count);
// Start-up: the applet's application icons (the record's slots 0..9) join the window
// icons. A picture whose size differs from its slot's gives ERR_ICONDIMS ("16x16").
struct lvAppletRecord;
int ApplyApplicationIcons(lvState *L, lvAppletRecord *record);

// ---- Library ------------------------------------------------------------------------------------
int OpenIconLibrary(lvState *L);
const lvConstantEntry *GetIconConstants(void);
void CloseIconLibrary(lvState *L, int full);

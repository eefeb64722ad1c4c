// lvpalette.h - palettes: the sixteen standard palettes, the palette object (type 62)
// with its list, the "palette" option of commands that create palette images, cycle
// tables, IFF ILBM palette files, linked palettes, and the "palette" command library.
//
// Files: stdpalettes.cpp (the standard tables), palette.cpp (records, files, options),
// lib_palette.cpp (the script commands and the library's state).
//
// Depends on: formats/lvformats.h (lvCycleRange, the loader chain), raster/lvbitmap.h,
// runtime/objects.h, runtime/container.h (linked palettes).
// Limits: script thread only; nothing here is locked.
#pragma once
#include <cstdint>

#include "formats/lvformats.h"
#include "raster/lvbitmap.h"
#include "runtime/container.h"
#include "runtime/objects.h"
#include "vm/lvvm.h"

#define LV_TYPE_PALETTE 62

// Standard palette numbers.
enum : int {
    PALETTE_DEFAULT = -1000,
    PALETTE_CGA = -999,
    PALETTE_EGA = -998,
    PALETTE_OCS = -997,
    PALETTE_AGA = -996,
    PALETTE_WORKBENCH = -995,
    PALETTE_MACINTOSH = -994,
    PALETTE_WINDOWS = -993,
    PALETTE_GRAY4 = -992,
    PALETTE_GRAY8 = -991,
    PALETTE_GRAY16 = -990,
    PALETTE_GRAY32 = -989,
    PALETTE_GRAY64 = -988,
    PALETTE_GRAY128 = -987,
    PALETTE_GRAY256 = -986,
    PALETTE_MONOCHROME = -985,
    // A linked palette with explicit pens, and a caller's "depth" without a "palette".
    PALETTE_EXPLICIT = -984,
    PALETTE_BLACK = -983,
};

// Fills pens[0 .. 2^depth - 1] with the standard palette as 0x00RRGGBB words; pens above
// stay untouched. depthOut may be null. 0 or ERR_UNKNOWNPALETTE.
int GetStandardPalette(int number, uint32_t *pens, int *depthOut);
// Pen i of n pens gets the grey i * 255 / (n - 1).
void FillGrayRamp(int n, uint32_t *pens);

// ---- Palette objects ------------------------------------------------------------------

// A free-standing palette.
struct lvPalette {
    lvObjectHeader header;    // type 62
    lvBitMapHandle *bitmap;   // 256 x 1 RGB bitmap whose pixels are the pens below
    uint32_t pens[256];       // 0x00RRGGBB; the first 2^depth are in use
    int transparentPen;       // -1 none
    int depth;                // 1..8
    lvCycleRange *cycleTable; // owned, or null
    int cycleCount;
    void *loader;             // null inbuilt, 1 native, or the loader plug-in's record
};

// Makes and appends a record (copies of the pens and the cycle table). *id {0, null}
// becomes {0, own address}. out may be null. 0 or ERR_MEM (nothing added).
int NewPaletteRecord(const lvCycleRange *cycleTable, int cycleCount, lvObjectId *id, const uint32_t *pens, int depth,
                     int transparentPen, void *loader, lvPalette **out);
// 0 and the record; ERR_FINDARRAY for a handle, ERR_FINDPALETTE (the number) otherwise.
int FindPaletteById(lvObjectId id, lvPalette **out);
int FreePaletteById(lvObjectId id);
// Frees every record (shut-down step "palettes").
void FreeAllPalettes(void);
lvObjectHeader **PaletteListHead(void);

// A copy of count entries (null and 0 for a null table). 0 or ERR_MEM.
int DuplicateCycleTable(const lvCycleRange *table, int count, lvCycleRange **out);

// The results of ResolvePaletteOption.
struct lvResolvedPalette {
    uint32_t pens[256];
    int depth;
    int transparentPen;               // the palette object's, unless the caller gave its own
    const lvCycleRange *cycleTable;   // the palette object's (the caller copies it), or null
    int cycleCount;
};
// The "palette" option of a creating command: a palette object, PALETTE_BLACK (pens black,
// the caller's depth) or a standard palette. depth 0: none given. fillPen and the
// transparent pen (unless -1) must fit 2^depth. out->transparentPen holds the caller's pen
// on entry when ownTransparentPen is set. 0, the look-up's errors, ERR_UNKNOWNPALETTE,
// ERR_PENRANGE.
int ResolvePaletteOption(lvObjectId id, int depth, int fillPen, int ownTransparentPen, lvResolvedPalette *out);

// CyclePalette's step on pens start..end (already checked), steps times.
void CyclePens(uint32_t *pens, int start, int end, int steps);
// Copies count pens from source[first] to destination[destinationPen] through a scratch
// copy, so both may be one palette. Range checks are the caller's.
void CopyPaletteRange(const lvPalette *source, lvPalette *destination, int first, int count, int destinationPen);

// The bytes of the IFF ILBM palette file (form without a BODY).
size_t PaletteFileSize(const lvPalette *palette);
void EncodePaletteFile(const lvPalette *palette, uint8_t *out);
// Writes the file. 0, ERR_WRITEFILE (open; file name as argument), ERR_WRITE (short write),
// ERR_CLOSEFILE (the close failed).
int SavePaletteFile(const lvPalette *palette, const char *path, const char *adapter, const void *userTags);

// ---- Linked palettes ------------------------------------------------------------------

// The payload of a linked palette (kind 21).
struct lvLinkedPalette {
    int32_t type;            // standard palette number, or PALETTE_EXPLICIT
    int32_t transparentPen;
    int depth;               // 1..8
    uint32_t pens[256];      // PALETTE_EXPLICIT only
};
// The tail reader of linked palettes: refuses a depth outside 1..8 with ERR_DEPTHRANGE.
int ReadLinkedPaletteTail(lvAppletCursor *cursor, lvLinkedObject *object, int formatMajor, int formatMinor);
// Calls the script's "createpalette" with the payload. 0 or the call's error.
int PreloadLinkedPalette(void *user, lvLinkedObject *object, const char *fileName, int *keepsContainer);

// ---- The library ----------------------------------------------------------------------

// State of the palette commands.
struct lvPaletteLibraryState {
    int targetType;          // SelectPalette's type (21 DISPLAY)
    lvObjectId targetId;
    int paletteMode;         // PALETTEMODE_REMAP 1 / PEN 0
    int ditherMode;          // 0 none, 1 Floyd-Steinberg
    int transparentThreshold;
};
lvPaletteLibraryState *GetPaletteLibraryState(void);

// Operations on palette images; the PALETTE target is served here, other targets go to
// the hook (default ERR_UNIMPLCMD) until their owners install one.
struct lvPaletteOpRequest {
    lvState *state;
    int type;
    lvObjectId id;
    int optionsIndex;
    int operation;           // 0 set pen .. 8 free pen
    const uint32_t *pens;
    int depth;
    int transparentPen;
    lvCycleRange *cycleTable;
    int cycleCount;
    int pen;
    uint32_t colour;
    int x, y;
    int *result;
};
int ApplyPaletteOperation(lvPaletteOpRequest *request);
void SetPaletteOperationHook(int (*hook)(lvPaletteOpRequest *request));
// The BGPic a display shows, for palette operations on DISPLAY targets: id {0, null} is
// the current display (ERR_OUTPUTDEVICE without one). *backBuffer is the back-buffer
// record while the display double-buffers, else null. 0 or the look-up error; the display
// library installs it.
struct lvBGPic;
void SetPaletteDisplayResolver(int (*resolve)(lvObjectId id, lvBGPic **bgpic, lvBGPic **backBuffer));

// A font's pens for ExtractPalette: *pens null when the font has none. 0 or the font
// look-up error; the text library installs it (without it FONT answers ERR_UNIMPLCMD).
typedef int (*lvFontPaletteResolver)(lvObjectId id, const uint32_t **pens, int *depth, int *transparentPen);
void SetFontPaletteResolver(lvFontPaletteResolver resolve);

// Pushes a colour-cycle table as scripts read it: a table of {active, reverse, rate, low,
// high} tables indexed from 0 (a null table pushes an empty one).
void PushCycleTable(lvState *L, const lvCycleRange *table, int count);

int OpenPaletteLibrary(lvState *L);
const lvConstantEntry *GetPaletteConstants(void);
void ClosePaletteLibrary(lvState *L, int full);

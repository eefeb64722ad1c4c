// lvbgpic.h - background pictures (BGPics): the record with its three bitmap sets and
// its fill, the BGPic list, and the current output record that every drawing
// operation consults for the output's size, depth, palette and clip region.
//
// Files: bgpic.cpp (record, list, bitmaps and fills), drawtarget.cpp (draw targets,
// the current output record).
//
// Depends on: raster/lvraster.h, raster/lvinit.h (the gradient), runtime/objects.h.
// Limits: script thread only. Fill styles 2 (gradient) and 3 (texture) need the
// raster engine's gradients and the brushes: they answer ERR_UNIMPLCMD until then.
#pragma once
#include <cstdint>

#include "raster/lvinit.h"
#include "raster/lvraster.h"
#include "runtime/objects.h"
#include "vm/lvvm.h"

#define LV_TYPE_BGPIC 1

// The background fill of a BGPic.
struct lvBGPicFill {
    int style;                         // 0 none, 1 colour, 2 gradient, 3 texture
    uint32_t colour;                   // 0xRRGGBB, or the fill pen of a palette BGPic
    lvGradient gradient;               // style 2
    lvObjectId textureBrush;           // style 3
    lvBitMapHandle *textureBitmap;     // private copy of the texture brush, made on first use
    lvBitMapHandle *texturePenBitmap;  // its pen plane
    uint32_t *texturePalette;          // its palette
    int textureX, textureY;            // tiling offsets
    int textureWidth, textureHeight;   // size of the texture copy
    int set;                           // made by a creating command
};

// One set of a BGPic's bitmaps.
struct lvBGPicSet {
    lvBitMapHandle *bitmap;      // RGB
    lvBitMapHandle *mask;        // 1-bit mask, or null
    lvBitMapHandle *alpha;       // alpha channel, or null
    lvBitMapHandle *penBitmap;   // pen plane of a palette BGPic, or null
};

// A background picture; the same layout serves as the current output record.
struct lvBGPic {
    lvObjectHeader header;        // type 1
    void *imageSource;            // decoded image kept until realised, or null
    lvBGPicSet shown;             // as a display shows it
    lvBGPicSet scaled;            // at the size scaling gave it
    lvBGPicSet base;              // as loaded or created
    int shownWidth, shownHeight;
    int scaledWidth, scaledHeight;  // the size the script sees
    int baseWidth, baseHeight;
    int sourceRowLength;          // pixels per row of the decoded pixels
    int depth;                    // 24, 32, or 1..8 for palette BGPics
    int transparentColour;        // colour key or transparent pen; -1 none
    uint32_t *palette;            // 256 pens of a palette BGPic (owned), or null
    uint32_t *filePalette;        // palette the file carried (owned), or null
    void *cycleTable;             // colour-cycling ranges (owned), or null
    int cycleCount;
    void *layerHead, *layerNull, *layerTailPred;  // the layer list (empty: head -> &null)
    void *sprites;                // on-screen sprites
    int lockCount;                // modifications refused while non-zero
    int detached;                 // unreachable for the script, kept while shown
    void *buttons;                // button records
    int selectedType;             // output record only: 1 BGPIC, 3 BRUSH, 4 ANIM, 22 LAYER
    int selectedIndex;            // output record only: 0-based frame or layer
    void *selectedRecord;         // output record only
    int checked;                  // output record only: drawn into since the selection
    int changed;                  // output record only: layers were redrawn
    lvClipRegion *clipRegion;     // in force while drawn on, or null
    lvBGPicFill fill;             // background fill
    int fillFollowsDisplay;       // the display's fill options apply to it
    int type;                     // 0 bitmap, 1 re-renderable
    int copying;                  // set while copied
    void *loader;                 // null inbuilt, 1 native, or the loader plug-in
    char formatName[256];         // file format name
};

// Look-up flags (the modify flag belongs to the layer-copy protocol, not built yet).
#define BGPIC_FIND_DETACHED 2

// Appends a new record. *id {0, null} (Nil) becomes {0, own address}; all three sets
// get the same bitmaps and sizes; the fill is copied when given; at most 255 bytes of
// the format name. Takes ownership of everything given. 0 or ERR_MEM (nothing taken
// then: the caller still owns the bitmaps).
int NewBGPicRecord(lvObjectId *id, int type, int width, int height, int rowLength, void *imageSource,
                   lvBitMapHandle *bitmap, uint32_t *filePalette, int transparentColour, lvBitMapHandle *mask,
                   lvBitMapHandle *alpha, lvBitMapHandle *penBitmap, int depth, uint32_t *palette,
                   const lvBGPicFill *fill, void *cycleTable, int cycleCount, const char *formatName,
                   lvBGPic **out);
// 0 and the record, ERR_FINDARRAY for a handle, ERR_FINDBGPIC for a number (the number
// as the message's argument). Detached records only with BGPIC_FIND_DETACHED.
int FindBGPicById(lvObjectId id, lvBGPic **out, int flags);
// The layers in the record's list (0 without a layer engine).
int CountBGPicLayers(const lvBGPic *record);
// Unlinks the record of exactly that identifier and frees it (buttons too).
int UnlinkBGPicById(lvObjectId id);
// Frees what the record holds (not the record).
void FreeBGPicContents(int freeButtons, lvBGPic *record);
// Who frees a BGPic's buttons (the event library; null: nobody); release 0 at shut-down,
// when the buttons' script references go with the machine.
void SetBGPicButtonFreer(void (*freer)(lvBGPic *record, int release));
// Who frees a BGPic's layers when the BGPic goes (the layer engine; null: nobody).
void SetBGPicLayerFreer(void (*freer)(lvBGPic *record));
// Frees every record (shut-down step "bgpics") and clears the current output record.
void FreeAllBGPics(void);
// The first record of the list (tests, shut-down).
lvBGPic *FirstBGPic(void);
// Nothing calls BGPicListHead yet: kept for the background-picture commands still to come.
lvObjectHeader **BGPicListHead(void);
// 1 when a display shows the record (asked of the display library through a hook).
// Nothing calls IsBGPicShown yet: kept for the background-picture commands still to come.
int IsBGPicShown(const lvBGPic *record);
void SetBGPicShownQuery(int (*query)(const lvBGPic *record));
// The pens of a BGPic changed (not its pixels): every display that shows it and is not
// between BeginRefresh and EndRefresh takes them (the display library installs the hook;
// without one nothing is redrawn).
void SetBGPicPensChangedHook(void (*hook)(lvState *L, lvBGPic *record));
void NotifyBGPicPensChanged(lvState *L, lvBGPic *record);
// 1 when the base set has a mask or an alpha channel, or a pen plane with a transparent pen.
int BGPicHasTransparency(const lvBGPic *record);
// Builds the bitmaps of a BGPic from ARGB pixels (rows of rowLength words) or, without
// pixels, from the fill. Fill style 1 only here. 0, ERR_BITMAP, ERR_UNIMPLCMD.
int BuildBGPicBitmaps(const uint32_t *pixels, const lvBGPicFill *fill, int transparentColour, int width,
                      int height, int rowLength, lvBitMapHandle **bitmap, lvBitMapHandle **mask,
                      lvBitMapHandle **alpha, lvBitMapHandle **penBitmap);
// Fills a bitmap (or an ARGB buffer of width * height words) with the fill.
int FillBGPicBackground(const lvBGPicFill *fill, lvBitMapHandle *bitmap, int width, int height,
                        uint32_t *pixels);
// Frees the scaled and shown bitmaps that differ from the base set.
void FreeBGPicDerivedBitmaps(lvBGPic *record);

// ---- Draw targets and the current output -------------------------------------------

// The current output record: the current display's BGPic or its selection record.
lvBGPic *GetCurrentOutput(void);
void SetCurrentOutput(lvBGPic *record);
// Fills an output record: type 1, the selected object's identifier, type, frame index and
// record, empty bitmap sets, all three sizes width x height, the depth, an empty layer list.
void InitBGPicRecord(lvBGPic *record, lvObjectId id, int selectedType, int index, void *object, int width,
                     int height, int depth);
// Kind 21, every other field zero.
void ResetDrawTarget(lvDrawTarget *target);
// Copies the target into save (may be null) and resets it; RestoreDrawTarget copies back.
void SaveDrawTarget(lvDrawTarget *target, lvDrawTarget *save);
void RestoreDrawTarget(lvDrawTarget *target, const lvDrawTarget *save);

// ---- Gradients ------------------------------------------------------------------------
// The raster engine's gradient renderer, installed where it is built: fills a bitmap, or
// an ARGB buffer of width x height words when bitmap is null. 0 or an error. Until one is
// installed the gradient commands and fills answer ERR_UNIMPLCMD.
typedef int (*lvGradientFill)(lvBitMapHandle *bitmap, uint32_t *argb, int width, int height,
                              const lvGradient *gradient);
void SetGradientFill(lvGradientFill fill);
lvGradientFill GetGradientFill(void);

// ---- Release, scaling, copies (bgpic_build.cpp) ------------------------------------------

// ERR_MODIFYABGPIC when the BGPic (or its mask or alpha) is the current output.
int CheckActiveBGPic(lvObjectId id);
// The look-up of a BGPic about to change: a locked one is ERR_LOCKEDOBJ; layers that show
// it get a private copy first.
int FindBGPicForChange(lvState *L, lvObjectId id, lvBGPic **out);
// Frees, or detaches while a display or a layer shows it; report 0: missing is no error.
int ReleaseBGPicRecord(lvState *L, lvObjectId id, int report);
// Frees the detached BGPics that nothing shows any more.
void FreeDetachedBGPics(void);
// New scaled and shown sets at width x height, always made from the base set (or, for a
// re-renderable BGPic, from its source or fill). 0, ERR_BADDIMENSIONS or the scaler's error.
int ScaleBGPicBitmaps(lvBGPic *record, int width, int height, int smooth);
// After the base set was drawn into: the scaled and shown sets follow it at their sizes.
int RescaleBGPicFromBase(lvBGPic *record);
// A copy with the base and scaled sets; *id {0, null} gets a handle.
int CopyBGPicRecord(const lvBGPic *source, lvObjectId *id);
// Builds bitmaps of BGPics that hold only decoded pixels. 0 or the first error.
int RealizeBGPicImages(void);
// One BGPic (also at its first look-up, for BGPics preloaded before any display existed).
int RealizeBGPicImage(lvBGPic *record);
int OpenBGPicLibrary(lvState *L);
// DisplayBGPic's road to the display code above this folder: makes the BGPic the current
// display's background, moving the display to x, y unless they are 100000 or 200000
// (keep). Until the display code installs it, DisplayBGPic answers ERR_UNIMPLCMD.
typedef int (*lvShowBGPicHook)(lvState *L, lvObjectId id, int x, int y);
void SetShowBGPicHook(lvShowBGPicHook hook);
const lvConstantEntry *GetBGPicConstants(void);
void CloseBGPicLibrary(lvState *L, int full);

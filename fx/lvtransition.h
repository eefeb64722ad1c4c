// lvtransition.h - transition effects: the request record a transition command fills,
// the driver that runs it, the effect classes and the shared drawing routines of the
// effect families, and the "transitionfx" library.
//
// Files: driver.cpp (RunTransition, the effect table, the frame observer), support.cpp
// (classes, random pick, reverse map, rectangles, work sets, end of frame, seeking),
// constants.cpp (effect names), bands.cpp (stripes, blinds, curtains, bars, quarters),
// reveal.cpp (reveals, lines, rectangles), lib_transitionfx.cpp (the commands).
//
// Depends on: images/, text/, ui/, raster/, runtime/.
// Limits: script thread only. Layers, async draws and the effects of ids 47-87 and
// 97-139 are not built: they answer ERR_UNIMPLCMD.
#pragma once
#include <cstdint>

#include "raster/lvraster.h"
#include "runtime/objects.h"

struct lvState;
struct lvConstantEntry;
struct lvTransition;

// Target kinds.
enum : int32_t {
    FXKIND_BGPIC = 1, FXKIND_BRUSH = 3, FXKIND_TEXTOBJECT = 8, FXKIND_BGPICPART = 13,
    FXKIND_SHOWLAYER = 22, FXKIND_HIDELAYER = 25, FXKIND_REMOVELAYER = 26
};
enum : int32_t { FX_RANDOMEFFECT = 140, FX_RANDOMPARAMETER = -1, FX_EFFECTCOUNT = 140 };
enum : int32_t { FX_NORMALSPEED = -1, FX_FASTSPEED = -2, FX_SLOWSPEED = -3 };

// Flags of BlitEffectRect.
enum : int32_t {
    FXRECT_ALPHAMODE = 1, FXRECT_BLEND = 2, FXRECT_ERASE = 4, FXRECT_NOPRESENT = 8, FXRECT_KEEPEXTRA = 16,
    FXRECT_SCALEDTOO = 32, FXRECT_OPAQUE = 64, FXRECT_FADEONLY = 128
};

// Where effect frames go when they do not go straight to the display: the layer's
// working images in layer mode, or a set a test hands in. present shows a rectangle of
// the set (null: nothing is shown per rectangle).
struct lvEffectWorkSet {
    lvBitMapHandle *rgb;
    lvBitMapHandle *mask;
    lvBitMapHandle *alpha;
    lvBitMapHandle *chunky;
    uint32_t *palette;
    void (*present)(void *context, int32_t x, int32_t y, int32_t width, int32_t height);
    void *context;
};

typedef int (*lvEffectStep)(lvTransition *t, int32_t *done);
typedef void (*lvEffectCleanup)(lvTransition *t, int32_t completed);

// One transition request; the command zeroes it before filling it.
struct lvTransition {
    lvState *state;
    void *layer;
    lvBitMapHandle *directTarget;
    lvEffectStep stepRoutine;
    lvEffectCleanup cleanupRoutine;
    int32_t kind;
    int32_t effect;
    lvObjectId objectId;
    int32_t x, y;
    int32_t step;
    int32_t speed;
    int32_t parameter;
    int32_t width, height;
    int32_t depth;
    int32_t oldDepth;
    int32_t bgpicWidth, bgpicHeight;
    int32_t objectType;
    int32_t undoLevel;
    lvBitMapHandle *newRgb;
    lvBitMapHandle *oldRgb, *oldChunky;
    lvBitMapHandle *grabbedRgb, *grabbedChunky;
    lvBitMapHandle *newMask, *newAlpha, *newChunky;
    uint32_t *newPalette;
    uint32_t *oldPalette;
    int32_t transparentPen;
    int32_t layerGraphicsTaken;
    int32_t savedPartFields[2];
    int32_t layerX, layerY;
    void *previousBGPic;
    int32_t ownsRgb, ownsMask, ownsAlpha, ownsChunky, ownsPalette;
    int32_t partX, partY;
    int32_t layers;
    int32_t reverse;
    int32_t blitFlags;
    int32_t scaledDisplay;
    int32_t async;
    int32_t restart;
    int32_t sizeChanged;
    int32_t layerMode;
    int32_t forceRealtimeLayers;
    int32_t refreshLayerLater, removeLayerLater;
    int32_t *lockCounter;
    int32_t newDisplayX, newDisplayY;
    int32_t bgpicEmu;
    void *emulatedBGPic;
    void *effectState;
    lvBitMapHandle *extraMask, *extraAlpha;
    int32_t runState;
    int32_t frameIndex;
    int32_t frameCount;
    int32_t replay;
    int32_t layerChanged;
    int32_t finished;
    int32_t layerEffects;
    int32_t blendLevel;
    int32_t noBorderFade;
    int32_t presentThroughBuffer;
    int32_t runChainNow;
    int32_t scrollEffect;
    int32_t rgbOnlyInPaletteMode;
    int32_t emulatedWidth, emulatedHeight;
    int32_t cropped;
    int32_t savedWidth, savedHeight;
    int32_t cropX, cropY;
    int32_t cropUndone;
    int32_t swapBack;
    int32_t savedTransparency;
    int32_t restoreTransparency;
    int32_t borderFx;
    int32_t borderFxGiven;
    int32_t scrollEndedByChange;
    int32_t groupMember;
    void *handedBackDraw;
    void *chainFirst, *chainLast;
    // Not of the request proper: where frames go and what a frame drew.
    lvEffectWorkSet *workSet;      // frames go here instead of the display (null: the display)
    lvClipRegion *clipRegion;      // the BGPic's clip region for direct draws
    int32_t damageX1, damageY1, damageX2, damageY2;  // drawn this frame (x1 > x2: nothing)
};

// ---- Classes, random pick, reverse map -------------------------------------------------
int IsEffectForObjects(int32_t id);
int IsRgbOnlyEffectInPaletteMode(const lvTransition *t);
int IsBlendingEffect(int32_t id);
int EffectNeedsOldPicture(const lvTransition *t);
int IsWholeFrameEffect(int32_t id);
int IsAlphaMixEffect(int32_t id);
int HandlesTransparencyItself(int32_t id);
int IsRandomExcluded(int32_t id);
int HidesLayerForGrab(int32_t kind, int32_t id, int32_t layerMode);
// 2: a frame can be drawn from its index; 3: frames are reached by replaying.
int EffectFrameKind(int32_t id);
int32_t ReverseEffectForUndo(int32_t id);
int32_t PickRandomEffect(int restricted);
// The run's 15-bit generator as the effects use it (0..32767).
int32_t NextEffectRandom15(void);

// ---- The effect table ---------------------------------------------------------------------
// The step and clean-up routines of an id; 0, or ERR_UNIMPLCMD for an effect not built,
// ERR_WRONGUSAGE for 113 and ids above 139.
int LookupEffectRoutines(int32_t id, lvEffectStep *step, lvEffectCleanup *cleanup);

// ---- Shared drawing -----------------------------------------------------------------------
// A rectangle of the new picture at the same offset in the target: the work set when
// the transition has one, else the display. Families never choose.
void EffectRect(lvTransition *t, int32_t sx, int32_t sy, int32_t width, int32_t height, int32_t flags);
void BlitEffectRect(lvBitMapHandle *sourceRgb, int32_t sx, int32_t sy, lvEffectWorkSet *target, int32_t tx,
                    int32_t ty, int32_t width, int32_t height, int32_t sourceWidth, int32_t sourceHeight,
                    int32_t targetWidth, int32_t targetHeight, lvBitMapHandle *sourceMask,
                    lvBitMapHandle *sourceAlpha, lvBitMapHandle *sourceChunky, const uint32_t *sourcePalette,
                    int32_t transparentPen, lvTransition *t, int32_t flags);
void CopyRectClipped(int32_t sx, int32_t height, int32_t sy, lvBitMapHandle *sourceRgb,
                     lvBitMapHandle *sourceChunky, lvBitMapHandle *targetRgb, lvBitMapHandle *targetChunky,
                     int32_t tx, int32_t ty, int32_t width, int32_t sourceWidth, int32_t sourceHeight,
                     int32_t targetWidth, int32_t targetHeight);
// Fills a rectangle of the picture's area (picture coordinates) with a colour, or a pen
// on palette targets.
void FillEffectRect(lvTransition *t, int32_t x, int32_t y, int32_t width, int32_t height, uint32_t colour,
                    int32_t pen, int32_t flags);
// The gate effects' edges: state[1] = ceil(L/2) - step * frame, state[0] = L - ceil(L/2) + step * frame.
void SetGateEdges(lvTransition *t, int32_t length, int32_t frame);
// 255 where the mask is set, a copy of the alpha plane, or 255 everywhere.
void FillAlphaFromSource(int32_t height, int32_t width, lvBitMapHandle *mask, lvBitMapHandle *alpha,
                         lvBitMapHandle *target);
void FreeTransitionImages(lvTransition *t);
// After a family drew a frame: one presentation of what the frame changed.
void EndEffectFrame(lvTransition *t);
// Draws frame number frame: from its index for kind-2 effects, else by replaying
// from a cleared work set. 0 or the step routine's error.
int SeekTransition(int32_t frame, lvTransition *t, int32_t force);
// Allocates a zeroed effect state of size bytes at the first call. 0 or ERR_MEM.
int AllocEffectState(lvTransition *t, int32_t size);
// Step size from a speed: the three speed constants divide the length, others are the step.
int32_t EffectSpeedStep(int32_t speed, int32_t length, int32_t normal, int32_t fast, int32_t slow);
// 1 + ceil(dividend / divisor), or 1 when the dividend is 0 or below.
int32_t EffectFrameCount(int64_t dividend, int64_t divisor);

// ---- The driver -----------------------------------------------------------------------------
// 0, 1 when an async draw was pushed, or an error code.
int RunTransition(lvTransition *request);
// Called after every frame of a run (tests): the transition after the frame, and done.
typedef void (*lvTransitionFrameObserver)(const lvTransition *t, int32_t done, void *user);
void SetTransitionFrameObserver(lvTransitionFrameObserver observer, void *user);
// Runs a transition whose pictures the caller prepared (kind, effect, sizes, new
// pictures, work set): first call, then every frame. 0 or the failing step's error.
int RunPreparedTransition(lvTransition *t);
// Frees the effect state (through the family's clean-up) and the owned images.
void ReleaseTransitionState(lvTransition *t, int32_t completed);

// ---- The library --------------------------------------------------------------------------
const lvConstantEntry *GetTransitionConstants(void);
// The name of an effect id (0..139), or null.
const char *EffectName(int32_t id);
int OpenTransitionLibrary(lvState *L);

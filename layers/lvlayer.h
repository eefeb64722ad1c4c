// lvlayer.h - layers: what a drawing command leaves on a display that keeps layers
// instead of painting its background picture. Each BGPic owns a list of layers (its
// layerHead / layerNull / layerTailPred header: the first node is the bottom layer);
// layers are numbered from 1 at the bottom. A layer shows an object by its id (brush,
// brush part, BGPic part) or keeps its own images (shapes, text). The display's picture
// is the BGPic's background with its layers composed over it from the bottom.
//
// Files: layer_list.cpp (records, list, names and groups, insert, remove, move),
// layer_render.cpp (images, bounds, composition, refreshes), layer_copy.cpp (what
// happens when a shown object is changed or freed), lib_layers.cpp (the "layers"
// library), layer_hooks.cpp (the producers of other floors: shapes, text).
//
// Depends on: images/ (brushes, BGPics, clip regions, the selection display), raster/.
// Limits: script thread only.
#pragma once
#include <cstdint>

#include "images/lvbgpic.h"
#include "raster/lvdrawtags.h"
#include "raster/lvraster.h"
#include "runtime/objects.h"
#include "vm/lvvm.h"

// Layer types (object type numbers).
enum : int {
    LAYER_BRUSH = 3,
    LAYER_ANIM = 4,
    LAYER_NOOBJECT = 7,
    LAYER_TEXTOBJECT = 8,
    LAYER_TEXTOUT = 9,
    LAYER_PRINT = 11,
    LAYER_BRUSHPART = 12,
    LAYER_BGPICPART = 13,
    LAYER_BOX = 14,
    LAYER_CIRCLE = 15,
    LAYER_ELLIPSE = 16,
    LAYER_LINE = 17,
    LAYER_LAYER = 22,
    LAYER_POLYGON = 27,
    LAYER_ARC = 31,
    LAYER_CLIPREGION = 35,
    LAYER_VECTORPATH = 49,
    LAYER_VIDEO = 50,
    LAYER_MERGED = 63,
};

// Images of one stage: what the layer keeps of its own (empty for layers that show an
// object by id, whose images are fetched at draw time).
struct lvLayerGraphics {
    lvBitMapHandle *rgb, *mask, *alpha, *chunky;
    uint32_t *palette;            // of the image set (owned), or null
    lvClipRegion *clipRegion;     // shared with the BGPic, or null
    int x, y;                     // the point the script gave (the anchor point)
    int sourceWidth, sourceHeight;
    int left, top;                // displayed top-left
    int savedLeft, savedTop;
    int width, height;            // displayed size
    int layoutX, layoutY;         // added to the position (text objects)
    int lineX, lineY;             // subtracted for LINE layers
    int partX, partY;             // brush part, BGPic part
    uint32_t colour;              // colour-only images (coverage in alpha): the colour
    int colourOnly;
    void *tail;                   // per-type data the layer owns (shape, text), or null
    void (*freeTail)(void *tail);
};

// One layer.
struct lvLayer {
    lvLayer *next, *prev;         // list links (the BGPic's header closes both ends)
    int type;
    lvObjectId source;            // the shown object; {0, 0} for shapes and text
    lvObjectId undoKey;           // the id the layer was made with; never changes
    int hidden;
    int deferred;
    int transparency;             // 0 opaque .. 255
    int globalTransparency;
    char *name;                   // owned, or null
    char *groups;                 // owned double-zero-terminated list, or null
    int noClipTransform;
    lvDrawTags tags;
    double anchorX, anchorY;
    lvShadowTags shadow;
    int shadowAlphaOverride;
    lvBorderTags border;
    int borderAlphaOverride;
    lvFilterSlot filters[FILTER_COUNT];
    int geometricFilters, colourFilters;
    lvObjectUserData *userData;
    int paletteMode, drawPen, ditherMode;
    int forceRemap, effectActive, mergeMark;
    void *button;
    uint32_t *palette;            // set by the palette commands (owned), or null
    int transparentPen, depth;
    lvLayerGraphics *graphics[3]; // stage 0 source, 1 transformed, 2 display-scaled (aliases while equal)
};

// Images handed to a new layer (it takes them).
struct lvLayerImages {
    lvBitMapHandle *rgb, *mask, *alpha, *chunky;
    uint32_t *palette;
};

// Flags of NewLayerRecord.
enum : int {
    NEWLAYER_HIDDEN = 1,
    NEWLAYER_SCALESTAGE = 2,
    NEWLAYER_CALLERREFRESHES = 4,
    NEWLAYER_NOREFRESH = 8,
    NEWLAYER_REPLACE = 0x10,
    NEWLAYER_KEEPFILTERS = 0x200,
};

// ---- The list ---------------------------------------------------------------------------
lvLayer *FirstLayer(const lvBGPic *bgpic);          // bottom layer, or null
lvLayer *NextLayer(const lvLayer *layer);           // the one above, or null
lvLayer *LastLayer(const lvBGPic *bgpic);           // top layer, or null
lvLayer *PreviousLayer(const lvLayer *layer);       // the one below, or null
lvLayer *GetLayerByIndex(const lvBGPic *bgpic, int n);
int GetLayerIndex(const lvBGPic *bgpic, const lvLayer *layer);  // 1-based, -1 when absent
int CountLayers(const lvBGPic *bgpic);
int CountAllLayers(void);
// 1-based position of the named layer (case ignored), 0 when none.
int FindLayerByName(const lvBGPic *bgpic, const char *name);

// The display drawing goes to and the BGPic it shows (null: none).
lvBGPic *CurrentLayerBGPic(void);
// 0 when layer commands may run: output not redirected (1082, 1339, 1147, 1167) and
// layers on (ERR_NOLAYERS) when needLayers.
int CheckLayerOutput(int needLayers);

// Makes a layer (see the flags). The graphics record (null: a fresh one) and the images
// are taken; on failure they are freed. position -1 on top, 1 bottom, n at n.
int NewLayerRecord(lvState *L, lvBGPic *bgpic, int type, const lvObjectId *source, int x, int y, int width,
                   int height, const lvDrawTags *tags, const lvStyleTags *style, const lvLayerImages *images,
                   lvLayerGraphics *graphics, int position, int flags, int depth, int transparentPen,
                   lvLayer **out);
// A brush, brush-part or BGPic-part layer: the part offsets and the part's size.
int AddImageLayerRecord(lvState *L, lvBGPic *bgpic, int type, lvObjectId source, int partX, int partY, int x,
                        int y, int width, int height, const lvDrawTags *tags, const lvStyleTags *style,
                        int position, int flags, lvLayer **out);
// A TEXTOBJECT layer with its own copy of the laid-out image (x, y its top-left).
int AddTextObjectLayerRecord(lvState *L, lvBGPic *bgpic, lvObjectId id, const struct lvTextImage *image, int x, int y,
                             const lvStyleTags *style, int position, int flags, lvLayer **out);
// The core of InsertLayer and CopyLayer: position 0 or past count+1 means on top.
int InsertLayerAt(lvState *L, lvObjectId id, int position, int type, int x, int y, int noDraw, int hidden,
                  int hiddenGiven, lvLayer **out);
int CopyLayerRecord(lvState *L, const lvLayer *source, lvLayer *target);
// Frees a layer; unless noRefresh its area is redrawn without it.
void FreeLayerRecord(lvState *L, lvBGPic *bgpic, lvLayer *layer, int noRefresh);
void FreeLayerList(lvState *L, lvBGPic *bgpic, int freeDetached);
// Removes the n-th layer from the top whose type and undo key match (none: success).
int RemoveLayerByObject(lvState *L, lvBGPic *bgpic, int type, lvObjectId id, int n, int noRefresh);
// 1 bottom, 0 top, n exactly n (past the end: top); 1 when the layer moved.
int MoveLayerToPosition(lvBGPic *bgpic, lvLayer *layer, int position);
int SwapLayerPositions(lvState *L, lvBGPic *bgpic, int a, int b);

// Names and groups (case ignored). 0, ERR_NAMETOOLONG, ERR_NAMEUSED, ERR_GROUPNAMEUSED.
int CheckLayerName(const lvBGPic *bgpic, const char *name);
int SetLayerNameInternal(const lvBGPic *bgpic, const char *name, lvLayer *layer);
int CheckGroupName(const lvBGPic *bgpic, const char *name);
int AddLayerGroup(const lvBGPic *bgpic, const char *name, lvLayer *layer);
int LayerHasGroup(const lvLayer *layer, const char *name);
int IsMergedLayerMember(const lvBGPic *bgpic, const lvLayer *layer);
void FreeLayerContents(lvState *L, lvLayer *layer);

// ---- Images, bounds and composition -------------------------------------------------------
struct lvLayerPicture {
    lvBitMapHandle *rgb, *mask, *alpha, *chunky;
    const uint32_t *palette;
    int depth, transparentPen;
    int width, height;            // of the whole image
    int sourceX, sourceY;         // where the layer's part starts in it
    int colourOnly;
    uint32_t colour;
};
int GetLayerImage(lvState *L, const lvLayer *layer, const lvLayerGraphics *g, lvLayerPicture *out);
// The displayed rectangle grown by the border and the shadow.
void GetLayerBounds(const lvLayer *layer, const lvLayerGraphics *g, int *x, int *y, int *width, int *height);
// Composes the BGPic's layers into the rectangle of the display's shown pair.
void RenderLayersToTarget(lvState *L, lvBlitDisplay *display, lvBGPic *bgpic, int x, int y, int width, int height,
                          lvBufferPair target);
// Redraws a rectangle of the display when it shows the BGPic (a selected BGPic collects it).
void RefreshLayerArea(lvState *L, lvBGPic *bgpic, int x, int y, int width, int height);
void RefreshLayer(lvState *L, lvBGPic *bgpic, const lvLayer *layer);
// 1 when no visible layer above overlaps the layer's rectangle.
int IsLayerUncovered(const lvBGPic *bgpic, const lvLayer *layer);

// ---- Shown objects ---------------------------------------------------------------------------
int FindLayerShowingObject(int type, lvObjectId id, const lvLayer *skip, lvBGPic **bgpicOut, lvLayer **layerOut);
int RetargetLayerSources(int type, lvObjectId id, void *record);
int CopyObjectForLayers(lvState *L, int type, lvObjectId id, int (*copy)(lvState *L, void *record, lvObjectId *id),
                        void *record);
// Flags: 1 brushes, 2 anims, 4 text objects, 8 BGPics, 0x10 videos; clip regions always.
void FreeDetachedObjects(lvState *L, int flags);
// CollectGarbage's share: every kind of detached object no layer shows any more.
void CollectDetachedObjects(lvState *L);
// The flag of FreeDetachedObjects for a layer type (0: none).
int DetachedFlagOfType(int type);

// The "layers" library and its service tables.
int OpenLayersLibrary(lvState *L);
const struct lvConstantEntry *GetLayersConstants(void);
void CloseLayersLibrary(lvState *L, int final);
// Fills the lower floors' tables (raster, images, shapes, text, object library).
void InstallLayerServices(void);
void RemoveLayerServices(void);
// Layer records alive (leak checks in tests).
int LiveLayerRecords(void);

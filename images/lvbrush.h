// lvbrush.h - brushes (object type 3): the record and list, the look-up with its access
// flags, release and detaching while a layer shows a brush, private copies for layers,
// loading and creating brushes (also drawn by a script callback), and the services the
// images subsystem needs of the layers, which are not built yet.
//
// Files: brush.cpp (record, look-up, release, attributes), brushload.cpp (LoadBrush,
// CreateBrush, callback brushes, realizing preloaded brushes), lib_brush.cpp (commands).
//
// Depends on: formats/lvformats.h, raster/lvimage.h, runtime/objects.h, vm/lvvm.h.
// Limits: script thread only.
#pragma once
#include <cstdint>

#include "formats/lvformats.h"
#include "runtime/container.h"
#include "raster/lvbitmap.h"
#include "runtime/objects.h"
#include "vm/lvvm.h"

#define LV_TYPE_BRUSH 3
#define LV_TYPE_BRUSHPART 12
#define LV_TYPE_BGPICPART 13

// A brush.
struct lvBrush {
    lvObjectHeader header;        // type 3
    lvImageSource *imageSource;   // kind 1, or decoded and not yet realized; one reference owned
    lvBitMapHandle *bitmap;       // RGB, or null for palette brushes
    lvBitMapHandle *mask;         // 1-bit mask, or null
    lvBitMapHandle *alpha;        // 8-bit alpha, or null
    lvBitMapHandle *penBitmap;    // 8-bit pens of a palette brush, or null
    uint32_t *palette;            // 256 pens of a palette brush (owned), or null
    lvBitMapHandle *paletteView;  // 256 x 1 RGB bitmap over the palette, made on first use
    lvCycleRange *cycleTable;     // owned, or null
    int cycleCount;
    int width, height;
    int sourceRowLength;          // pixels per row of the image source's buffer
    int depth;                    // 24, 32, or 1..8
    int lockCount;                // modifying look-ups fail while non-zero
    int detached;                 // only a layer still shows it
    int transparentColour;        // colour key, or the transparent pen; -1 none
    int transformed;              // kind 1: rendered through a matrix other than identity
    int kind;                     // 0 bitmap, 1 re-renderable
    int cropX, cropY, cropWidth, cropHeight;  // preloaded brushes: the part kept
    int hardware;                 // the bitmap is a video bitmap
    int smoothScale;
    int hardwareTransparency;     // bit 0 mask or key, bit 1 alpha
    lvObjectId displayId;
    void *display;
    uint32_t *savedPixels;        // hardware brush while its display is closed
    void *loader;                 // null inbuilt, 1 native, or the loader plug-in
    void *pathList;               // vector paths (conversions), or null
    char formatName[256];
};

// Look-up flags.
enum : int {
    BRUSH_MODIFY = 1,
    BRUSH_DETACHED = 2,
    BRUSH_NOLAYERCOPY = 4,
    BRUSH_NOVECTOR = 8,
    BRUSH_HARDWARE = 0x10,
    BRUSH_NOPALETTE = 0x20,
};

// Appends a record taking every plane, the palette and the cycle table. *id {0, null}
// becomes {0, own address}. 0 or ERR_MEM (nothing taken).
int NewBrushRecord(lvObjectId *id, int kind, int width, int height, int rowLength, int transformed,
                   lvImageSource *source, lvBitMapHandle *bitmap, int transparentColour, lvBitMapHandle *mask,
                   lvBitMapHandle *alpha, lvBitMapHandle *penBitmap, int depth, uint32_t *palette,
                   const lvObjectId *displayId, lvCycleRange *cycleTable, int cycleCount, const char *formatName,
                   lvBrush **out);
int FindBrushById(lvState *L, lvObjectId id, lvBrush **out, int flags);
// Vector brushes are made by the vector-path library from a table of path items
// (state, the table's argument index, the new brush's id); null while it is closed.
typedef int (*lvPathBrushMaker)(lvState *L, int index, lvObjectId *id);
void SetPathBrushMaker(lvPathBrushMaker maker);
int HavePathBrushMaker(void);
// ConvertToBrush and GetBrushLink of a vector path: the item table at listIndex, the
// new brush's id at newIndex (its handle pushed for Nil). Result count or an error.
int PathBrushCommand(lvState *L, int listIndex, int newIndex);
// Frees or detaches; report 0: a missing brush is no error (a locked one is).
int ReleaseBrushRecord(lvState *L, lvObjectId id, int report);
int UnlinkBrushById(lvObjectId id, lvState *L);
void FreeBrushContents(lvBrush *record, lvState *L);
int FreeDetachedBrushes(lvState *L);
void FreeAllBrushes(lvState *L);
lvObjectHeader **BrushListHead(void);
// A private copy for layers (also CopyBrush's body). *id {0, null} gets a handle.
int CopyBrushForLayer(lvState *L, lvObjectId *id, int hardware, int smoothScale, void *display,
                      const lvBrush *source);
// ERR_MODIFYABR when the brush (or its mask or alpha) is the current output.
int CheckActiveBrush(lvObjectId id);
int GetBrushAttribute(lvState *L, int attribute, lvObjectId id);

// Hardware brushes around a display's close and reopen: Save copies each one's pixels and
// drops its video bitmap, Restore makes the bitmaps again (a plain bitmap loses the hardware
// fields), Free unlinks them when the display goes for good. 0 or the first error.
int SaveDisplayBrushes(void *display);
int RestoreDisplayBrushes(void *display);
void FreeDisplayBrushes(lvState *L, void *display);

// ---- Layers, as the images subsystem needs them ---------------------------------------
// Until the layers exist, the defaults say that no layer shows anything.
struct lvImageLayerServices {
    void *context;
    // Gives every layer that shows (type, id) a private copy made by copy(); the copy's
    // identifier comes back through copy's id. 0 or the copy's error.
    int (*CopyObjectForLayers)(void *context, lvState *L, int type, lvObjectId id,
                               int (*copy)(lvState *L, void *record, lvObjectId *id), void *record);
    // Points layers that show (type, id) at the record itself: 1 when some layer does.
    int (*RetargetLayerSources)(void *context, int type, lvObjectId id, void *record);
    // 1 when a layer shows this record.
    int (*FindLayerShowingObject)(void *context, int type, const void *record);
    // Layers on the current display (on screen) and in all.
    int (*CountLayers)(void *context, int total);
    // On a display that keeps layers, a drawn picture becomes a layer: (type, id) with its
    // part, position and tags. *drawn = 1 when the layer engine draws it itself (else the
    // caller blits it straight). 0 or an error; null: ERR_UNIMPLCMD.
    int (*AddImageLayer)(void *context, lvState *L, int type, lvObjectId id, int sourceX, int sourceY, int x, int y,
                         int width, int height, const struct lvDrawTags *tags, const struct lvStyleTags *style,
                         int *drawn);
};
// Null slots keep the defaults; null restores them all.
void SetImageLayerServices(const lvImageLayerServices *services);
const lvImageLayerServices *GetImageLayerServices(void);

// ---- Changing a brush's planes (brush_edit.cpp) ------------------------------------------
// Each builds the new planes first: on failure the brush is as it was. 0 or an error.
int CropBrushImage(lvBrush *brush, int x, int y, int width, int height);
// The kept rectangle's left and top; ERR_TRANSBRUSH when nothing is visible.
int TrimBrushImage(lvBrush *brush, int *x, int *y);
int ExtendBrushImage(lvBrush *brush, int left, int top, int right, int bottom, int clear, uint32_t colour, int pen);
// horizontal non-zero mirrors left-right, 0 top-bottom.
int FlipBrushImage(lvBrush *brush, int horizontal);
// -1 none, 28 mask, 30 alpha channel.
int ChangeBrushTransparencyMode(lvBrush *brush, int mode);
int ReduceBrushAlpha(lvBrush *brush, int level);
int IsBrushImageEmpty(const lvBrush *brush);
// Outside the brush: 4294967295 and -1.
int ReadBrushPixelValue(lvBrush *brush, int x, int y, int64_t *colour, int *transparency);
// transparency -1 leaves the mask or alpha alone; a point outside is ignored.
int WriteBrushPixelValue(lvBrush *brush, int x, int y, uint32_t colour, int transparency);
// width x height 0xAARRGGBB words (AllocMemory), row by row.
int BrushToArgbWords(lvBrush *brush, int invertAlpha, uint32_t **out);
int FillBrushFromArgb(lvBrush *brush, const uint32_t *words, int invertAlpha);
int FillBrushFromPens(lvBrush *brush, const uint8_t *pens);
// The picture colour effects work on: the bitmap, or a 2^depth x 1 view of the palette.
// Pairs {old, new} (count pairs) in order; pens of a palette brush below 2^depth.
int ReplaceBrushColours(lvBrush *brush, const uint32_t *pairs, int count);
// Fills the region from (x, y) (border -1: the start value's connected area) in the
// bitmap, the pens, or with alphaChannel the alpha values (found in the colours with
// colourSource).
int FloodFillBrush(lvBrush *brush, int x, int y, int64_t border, uint32_t fill, int alphaChannel, int colourSource);
// A mask clear where the bitmap's colour (without alpha) is the key. 0 or ERR_MEM.
int MaskFromColourKey(lvBrush *brush, uint32_t colour, lvBitMapHandle **mask);
int GetBrushEffectImage(lvBrush *brush, lvBitMapHandle **image, int *width, int *height);

// ---- Pictures of objects other subsystems own (brush_convert.cpp) --------------------------
// Anims (4), text objects (8) and layers (22) lend their pictures to the conversions and to
// the palette operations through a source their owner installs. Without one an anim or a
// text object is not found and a layer needs layers on.
struct lvObjectPicture {
    lvBitMapHandle *rgb, *mask, *alpha, *pens;  // the owner's planes, or planes made for this call
    uint32_t *palette;                          // 256 pens, or null
    int width, height;                          // the picture
    int x, y;                                   // where it starts in the planes (parts of a picture)
    int depth, transparent;                     // transparent colour or pen, -1 none
    // What a palette operation changes: the owner's depth and transparent pen (null: it has none).
    int *depthField, *transparentField;
    lvImageSource *imageSource;                 // asked with vector: a re-renderable source, or null
    int transformed;
    void *loader;
    void *ownerData;                            // for the owner's Release
};
enum : int { PICTURE_VECTOR = 1, PICTURE_CLAIM = 2 };
struct lvObjectPictureSource {
    void *context;
    // 0 and the frame count (0: the object has no frames), or the lookup error. claim: the
    // object is about to change (layers showing it keep their copy, locked objects refuse).
    int (*Find)(void *context, lvState *L, lvObjectId id, int claim, int *frameCount);
    // The picture of frame (from 1, checked against the count; ignored without frames).
    int (*Picture)(void *context, lvState *L, lvObjectId id, int frame, int flags, lvObjectPicture *out);
    // Gives back what Picture made for the call (null: it lends its own planes).
    void (*Release)(void *context, lvObjectPicture *picture);
    // After a palette operation changed the pixels (1) or only the pens (0). Null: nothing shows it.
    void (*Changed)(void *context, lvState *L, lvObjectId id, int frame, int pixels);
};
// Null removes the type's source. Types other than 4, 8 and 22 are ignored.
void SetObjectPictureSource(int type, const lvObjectPictureSource *source);
// The installed source, or null.
const lvObjectPictureSource *GetObjectPictureSource(int type);
// The source's object and frame: its lookup error, the default lookup error without a source,
// ERR_NOLAYERS for a layer while the current display has none, ERR_ANIMFRAME for a frame
// outside the object's frames.
int FindObjectPicture(lvState *L, int type, lvObjectId id, int frame, int flags, lvObjectPicture *out);
void ReleaseObjectPicture(int type, lvObjectPicture *picture);

// Conversions (brush_convert.cpp). A brush from the picture of a BGPic (1), brush (3),
// anim frame (4), text object (8) or layer (22, its position in the current BGPic): frame
// from 1 for the framed types; vector keeps a re-renderable source's image source.
// *id {0, null} gets a handle; a number in use is released. 0 or an error.
int ConvertObjectToBrush(lvState *L, int type, lvObjectId source, lvObjectId *id, int frame, int vector);
// BGPicToBrush: a transformed vector BGPic is refused (ERR_TFVBGPICBRUSH); an unscaled one
// keeps its image source, and the brush takes the BGPic's format name.
int BGPicToBrushRecord(lvState *L, lvObjectId source, lvObjectId *id);
// CreateShadowBrush (shadow 1) and CreateBorderBrush (0): the source's silhouette grown
// by size and softened, in the colour (its alpha byte the transparency).
int MakeShadowOrBorderBrush(lvState *L, int shadow, lvObjectId source, lvObjectId *id, uint32_t colour, double size,
                            double softness);
// A BGPic whose three sets are a copy of the brush's planes.
int BrushToBGPicRecord(lvState *L, lvObjectId brushId, lvObjectId *id);

// Drawing an object with draw tags onto the current output (drawobject.cpp).
struct lvDrawObjectRequest {
    int type;                  // LV_TYPE_BRUSH, LV_TYPE_BRUSHPART or LV_TYPE_BGPICPART
    lvObjectId id;             // BGPICPART: {-1, null} is the current display's BGPic
    int sourceX, sourceY;      // parts: special coordinates allowed
    int x, y;                  // special coordinates allowed
    int width, height;         // parts only
    int tagsIndex;             // stack index of the draw-tags table, 0 none
    int copyLayers;            // BGPICPART: the part as shown with the BGPic's layers
    const struct lvDrawTags *tags;    // already parsed (both or neither), or null
    const struct lvStyleTags *style;
};
int DrawObjectWithTags(lvState *L, const lvDrawObjectRequest *request);

// Palette operations on brushes (palette_ops.cpp): installed as the palette library's
// operation hook for image targets; other image types answer ERR_UNIMPLCMD until theirs land.
struct lvPaletteOpRequest;
int ImagePaletteOperation(lvPaletteOpRequest *request);
void InstallImagePaletteOperations(void);

// ---- Loading and creating ---------------------------------------------------------------

// What CreateBrush and the callback renderer ask for.
struct lvBrushRequest {
    int width, height;
    uint32_t colour;          // fill colour, or the fill pen
    int transparentColour;    // or the transparent pen; -1 none
    int mask, alpha, clear;
    int hardware, smoothScale;
    int depth;                // 0, 24, 32 or 1..8
    const uint32_t *palette;  // 256 pens of a palette brush
    const lvCycleRange *cycleTable;
    int cycleCount;
    int callbackRef;          // registry reference of the callback, -1 none
    int userDataRef;          // -1 none
    int noFill;               // the caller writes every pixel
    lvObjectId displayId;     // hardware: the display ({0, null}: the current one)
};
// The display a hardware brush belongs to (the display library installs the resolver;
// without one no display is realized: 1526). displayId {0, null}: the current display.
void SetHardwareDisplayResolver(int (*resolve)(lvObjectId displayId, void **display, lvObjectId *resolvedId));
int ResolveHardwareBrushDisplay(lvObjectId displayId, void **display, lvObjectId *resolvedId);
// Whether the back-end makes video bitmaps (the capability that makes "hardware" count).
int VideoBitmapsOffered(void);
// Makes the planes and the record. On success the references belong to the brush.
int AllocBrushBitmaps(lvState *L, lvObjectId *id, const lvBrushRequest *request);
// Turns brushes that hold only decoded pixels into bitmaps. 0 or the first error.
int RealizeBrushImages(int noHardware, int deferHardware);
// One brush: its crop of the decoded pixels becomes its bitmaps. 0 or an error.
int RealizeBrushImage(lvBrush *brush);
// A rectangle of ARGB pixels (and of an alpha plane); the same buffer when the rectangle
// is the whole picture. 0, ERR_MEM, ERR_ALLOCALPHA, ERR_LOCKBMAP.
int CropArgbPixels(const uint32_t *pixels, int rowLength, int x, int y, int width, int height, int sourceHeight,
                   lvBitMapHandle *alpha, uint32_t **pixelsOut, lvBitMapHandle **alphaOut);
// Renders a kind-1 brush again from its source at {sx, rx, ry, sy} and width x height:
// the new planes replace the old ones only on success. The callback of a callback brush
// runs with the brush locked.
int RerenderBrush(lvState *L, lvBrush *brush, const double matrix[4], int width, int height);

// Preload: whether the applet's linked objects are being preloaded (brushes then keep
// their decoded pixels until RealizeBrushImages).
void SetBrushPreloadPhase(int on);

int OpenBrushLibrary(lvState *L);
const lvConstantEntry *GetBrushConstants(void);
void CloseBrushLibrary(lvState *L, int full);

// ---- Linked pictures (preload_tails.cpp) --------------------------------------------------
// Tail readers of linked brushes (type 1) and background pictures (type 0): the preload
// record of raster/lvpreload.h becomes the object's payload.
int ReadBrushPreloadTail(lvAppletCursor *cursor, lvLinkedObject *object, int formatMajor, int formatMinor);
int ReadBGPicPreloadTail(lvAppletCursor *cursor, lvLinkedObject *object, int formatMajor, int formatMinor);
// Installs the brush look-up and the realizing of decoded pictures into the raster
// engine's imaging services (the other slots are kept).
void InstallImagingServices(void);
// Puts the brush entries (lock, ARGB copy, create, free, hardware handles) into the plug-in
// interface's graphics table (brush_plugin.cpp).
void InstallPluginBrushEntries(void);

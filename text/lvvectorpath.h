// lvvectorpath.h - vector paths (object type 49): the path record, its binary
// command buffer, the path style, the current style every DrawPath reads, and the
// vector engines that measure, translate and rasterise a buffer (the built-in
// FreeType engine, or a plug-in with capability 0x20).
//
// Command buffer: 32-bit codes each followed by its little-endian arguments and
// ended by a 32-bit 0 that the next command overwrites. Integers and handles are
// 32 bits, coordinates 64-bit doubles; a text takes its bytes, its 0 and padding
// up to PathTextFieldSize(length) bytes.
//
// Depends on: runtime/objects.h, runtime/lvplugin.h (the engine records),
// raster/lvdrawtags.h (lvDrawStyle), text/lvpathtext.h.
// Limits: script thread only.
#pragma once
#include <cstddef>
#include <cstdint>

#include "raster/lvdrawtags.h"
#include "runtime/lvplugin.h"
#include "runtime/objects.h"
#include "text/lvpathtext.h"
#include "vm/lvvm.h"

enum : int { LV_TYPE_VECTORPATH = 49 };
enum : int { JOINMITER = 0, JOINROUND = 1, JOINBEVEL = 2 };
enum : int { CAPBUTT = 0, CAPROUND = 1, CAPSQUARE = 2 };
enum : int { FILLRULEWINDING = 0, FILLRULEEVENODD = 1 };

// Command codes of the buffer.
enum : uint32_t {
    PATHCMD_END = 0,
    PATHCMD_MOVETO = 1,
    PATHCMD_LINETO = 2,
    PATHCMD_CURVETO = 3,
    PATHCMD_NEWSUBPATH = 5,
    PATHCMD_CLOSEPATH = 6,
    PATHCMD_ARC = 7,
    PATHCMD_BOX = 8,
    PATHCMD_TEXT = 9,
};

struct lvPathStyle {
    int join;
    int cap;
    double dashOffset;
    int dashCount;
    double *dashArray;       // owned; null without dashes
    int fillRule;
    double miterLimit;
    lvDrawStyle drawStyle;   // the draw style taken with the path style
};

struct lvPath {
    lvObjectHeader header;   // type 49
    uint8_t *buffer;         // null for an empty path
    size_t capacity;
    size_t writePos;         // a 32-bit 0 always lies here
    lvPathStyle style;
};

// A vector engine: the eight slots in their order, the extension flags (bit 0:
// DrawPath takes the origin in the second pair; bit 1: fonts reach the engine
// as file data through OpenFont), and the plug-in that serves it (null: built in).
struct lvVectorEngine {
    lvGetPathExtentsFunction GetPathExtents;
    lvDrawPathFunction DrawPath;
    lvTranslatePathFunction TranslatePath;
    lvGetCurrentPointFunction GetCurrentPoint;
    lvCreateVectorFontFunction CreateVectorFont;
    lvFreeVectorFontFunction FreeVectorFont;
    lvOpenVectorFontFunction OpenFont;
    lvCloseVectorFontFunction CloseFont;
    uint32_t flags;
    lvPluginRecord *plugin;
};
enum : uint32_t { VECENGINE_ORIGINSECOND = 1, VECENGINE_OPENFONT = 2 };

// ---- Arguments of AppendPathCommand --------------------------------------------------

enum : int { PATHARG_INT = 0, PATHARG_DOUBLE = 1, PATHARG_HANDLE = 2, PATHARG_TEXT = 3 };
struct lvPathArg {
    int kind;
    int32_t i;               // PATHARG_INT, PATHARG_HANDLE (as uint32)
    double d;                // PATHARG_DOUBLE
    const char *text;        // PATHARG_TEXT: text bytes (no 0 inside)
    size_t length;
};
inline lvPathArg PathInt(int32_t v) { return {PATHARG_INT, v, 0, nullptr, 0}; }
inline lvPathArg PathDouble(double v) { return {PATHARG_DOUBLE, 0, v, nullptr, 0}; }
inline lvPathArg PathHandle(uint32_t v) { return {PATHARG_HANDLE, (int32_t)v, 0, nullptr, 0}; }
inline lvPathArg PathText(const char *t, size_t n) { return {PATHARG_TEXT, 0, 0, t, n}; }

// ---- Paths ---------------------------------------------------------------------------

// The list head of all paths (creation order).
lvObjectHeader **PathListHead();
// 0, ERR_FINDARRAY for an unknown handle, ERR_FINDPATH (number set as the message's).
int FindPathById(lvObjectId id, lvPath **out);
// A new empty path with a copy of the current style; *id {0, null} gets a handle.
// A numeric id first removes a path of that id. 0 or ERR_MEM.
int StartPath(lvObjectId *id, lvPath **out = nullptr);
// Unlinks and frees the path. 0 or the lookup's error.
int RemovePath(lvObjectId id);
// Frees the command buffer: the path is empty again.
void ClearPath(lvPath *path);
// Grows the buffer so that at least need bytes follow the write position. 0 or ERR_MEM.
int ReservePathSpace(lvPath *path, size_t need);
// Appends one command with its arguments. 0, ERR_MEM or the lookup's error.
int AppendPathCommand(lvObjectId id, uint32_t code, int count, const lvPathArg *args);
int AppendPathCommandTo(lvPath *path, uint32_t code, int count, const lvPathArg *args);
// A new path (*newId as StartPath) holding a copy of source's buffer, style and
// user data (refs may be null). ERR_WRONGUSAGE when a numeric newId is the source.
int CopyPath(lvObjectId source, lvObjectId *newId, const lvRefOps *refs, lvPath **out = nullptr);
// Appends b's commands to a. ERR_WRONGUSAGE for the same path twice.
int AppendPath(lvObjectId a, lvObjectId b);
// Frees every path, the current dash array, and the font vector handles.
void FreeAllPaths(const lvRefOps *refs);

// ---- Styles --------------------------------------------------------------------------

lvPathStyle *CurrentPathStyle();
// Join 0, cap 0, fill rule 0, miter limit 10, no dashes.
void ResetCurrentPathStyle();
// 1, or 0 when a non-empty dash array cannot be copied (target then has none).
int CopyDashArray(const lvPathStyle *source, lvPathStyle *target);
void FreeDashArray(lvPathStyle *style);
// A copy with its own dash array. 0 or ERR_MEM.
int CopyPathStyle(const lvPathStyle *source, lvPathStyle *target);
void FreePathStyle(lvPathStyle *style);
// SetDash: offset and lengths; count 0 or a first length below 0 turns dashes off.
int SetPathDash(lvPathStyle *style, double offset, const double *lengths, int count);
// The record handed to engines (antiAlias from the draw style's form flags).
void MakeVectorStyle(const lvPathStyle *style, const lvDrawStyle *draw, lvVectorStyle *out);

// ---- Reading a buffer ----------------------------------------------------------------

// One decoded command. Text points into the buffer.
struct lvPathItem {
    uint32_t code;
    int rel;
    double v[7];             // MoveTo/LineTo x, y; CurveTo 6; Arc xc, yc, ra, rb, start, end; Box x, y, w, h
    int clockwise;
    int corners[4];
    uint32_t font;
    int size;
    const char *text;
    size_t textLength;
};
// The command at *offset of buffer[0..used): 1 with the item and *offset moved on,
// 0 at the end (or a cut or unknown command, which ends the reading).
int ReadPathItem(const uint8_t *buffer, size_t used, size_t *offset, lvPathItem *item);

// ---- Engines -------------------------------------------------------------------------

const lvVectorEngine *GetInbuiltVectorEngine();
// The built-in engine's DrawPath on a window of the path's box: the plane's first
// pixel is the box's pixel skipX, skipY (its DrawPath slot is the window at 0, 0).
int DrawInbuiltPathWindow(lvPathDrawRequest *request, int skipX, int skipY);
int IsInbuiltVectorEngine(const lvVectorEngine *engine);
// The current engine (null: none selected, the built-in engine serves).
const lvVectorEngine *GetCurrentVectorEngine();
// The engine that serves: the current one, else the built-in one.
const lvVectorEngine *ServingVectorEngine();
// "default", or a loaded plug-in with capability 0x20 by file name (".lvp" added
// unless present, case ignored). null when none.
const lvVectorEngine *FindVectorEngine(const char *name);
// Selects an engine; 0, or ERR_FINDPLUGIN with no engine selected.
int SetVectorEngine(const char *name);
// Forgets engines of a plug-in that unloads.
void ForgetVectorEnginePlugin(lvPluginRecord *plugin);
// No engine selected, ForcePathUse off, the plug-in engines forgotten (open and close).
void ResetVectorPathState();

// Extents (x1, y1, x2, y2) of a path in the current style: 0, 0, 0, 0 for an empty one.
void GetPathExtentsOf(const lvPath *path, int filled, int lineWidth, double out[4]);
// Where the path ends (0, 0 for an empty path).
void GetPathCurrentPoint(const lvPath *path, double *x, double *y);
// Moves every absolute coordinate by dx, dy through the engine. 0, or ERR_DRAWPATH
// for coordinates that do not fit.
int TranslatePathBy(lvPath *path, double dx, double dy);
// Translates by minus the top left of the filled extents (line width 1).
int NormalizePath(lvPath *path);
// Whether every coordinate of the buffer stays within +-32767 pixels after dx, dy.
bool PathCoordinatesFit(const uint8_t *buffer, size_t used, double dx, double dy);

// ---- The built-in engine (FreeType) --------------------------------------------------

// The built-in engine's reading of a buffer: with build 0 the offsets are added to
// the absolute coordinates in place; with build 1 *outline (an FT_Outline made
// with FT_Outline_New) gets the filled path, or its stroke when filled is 0.
// 0, or ERR_DRAWPATH when nothing can be built (also for coordinates beyond
// +-32767 pixels), ERR_MEM.
struct FT_Outline_;
int PathToOutline(uint8_t *buffer, int build, const lvVectorStyle *style, int lineWidth, double x0, double y0,
                  int filled, double *currentX, double *currentY, FT_Outline_ *outline);
// The arc pieces of at most half a turn the path builder uses, each one cubic.
int CountOutlineCubics(const FT_Outline_ *outline);

// ---- Drawing -------------------------------------------------------------------------

// Draws the path at (x, y) with the current path style and the current draw style.
// 0, ERR_EMPTYPATH, ERR_OUTPUTDEVICE, ERR_DRAWPATH, ERR_VECGFXPLUGIN or the shape
// engine's errors.
int DrawPathById(void *state, lvObjectId id, int x, int y, uint32_t colour, const lvDrawTags *tags,
                 lvStyleTags *styleTags);
// With image the path is rendered into RGB and alpha images of its own (in the
// draw style the path style carries) instead of drawn. source: the path object drawn,
// which a layer made of the drawing names (null: none).
struct lvShapeImageResult;
int DrawPathBuffer(void *state, const lvPath *path, const lvPathStyle *style, const lvVectorEngine *engine, int x,
                   int y, uint32_t colour, const lvDrawTags *tags, lvStyleTags *styleTags,
                   lvShapeImageResult *image = nullptr, const lvObjectId *source = nullptr);

// ---- Vector brushes -------------------------------------------------------------------

// One path of a vector brush: a copy of its buffer and of the style it was started
// with, its place and colour (the top byte is the transparency), and its engine.
struct lvPathBrushItem {
    lvPath path;             // buffer, capacity, write position and style (owned)
    double x, y;
    uint32_t colour;
    const lvVectorEngine *engine;
};
struct lvPathBrushList {
    lvPathBrushItem *items;
    int count;
};
void FreePathBrushList(lvPathBrushList *list);
// Copies path id into a new item of list. 0, ERR_MEM or the lookup's error.
int AddPathBrushItem(lvPathBrushList *list, lvObjectId id, double x, double y, uint32_t colour);
// Renders the list into one RGB bitmap with an alpha plane as large as the items'
// right and bottom edges; matrix (xx, xy, yx, yy, or null) transforms every path.
// 0, ERR_BITMAP, ERR_ALLOCALPHA, ERR_DRAWPATH or the pipeline's errors.
int RenderPathsToBitmap(const lvPathBrushList *list, const double *matrix, lvBitMapHandle **rgb,
                        lvBitMapHandle **alpha, int *width, int *height);
// A vector brush (kind 1, re-rendered through RenderPathsToBitmap) owning list.
// *id {0, null} gets a handle. 0 or an error; the list is freed on failure.
int MakePathBrush(lvState *L, lvObjectId *id, lvPathBrushList *list);

// Whether the draw library's shapes go through paths, and the switch.
int GetForcePathUse();
void SetForcePathUse(int on);

// ---- Library -------------------------------------------------------------------------

int OpenVectorPathLibrary(lvState *L);
const lvConstantEntry *GetVectorPathConstants(void);
void CloseVectorPathLibrary(lvState *L, int full);
void InstallVectorPathLibrary(void);

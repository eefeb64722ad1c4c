// display_draw.h - drawing reaching displays (display_draw.cpp): what the raster engine
// and the selections see of a display, the presentation services, the damage list,
// double buffering with Flip, and Cls.
#pragma once
#include "raster/lvdrawstate.h"
#include "ui/display.h"

// One damaged rectangle, inclusive corners; x1 LV_DAMAGE_MERGED when merged away.
struct lvDamageRect {
    int x1, y1, x2, y2;
};
#define LV_DAMAGE_CAPACITY 1024
#define LV_DAMAGE_MERGED 100000

// Fills the display's blit record from its BGPic and buffers (after any change of them).
void SyncDisplayBlit(lvDisplay *display);
// Drawing goes to the display (null: nowhere).
void MakeDisplayCurrentForDrawing(lvDisplay *display);
// The raster engine's presentation and damage services and the selections' display query.
void InstallDisplayDrawing(void);
// The shape engine's view of a display or its back buffer: the services that fill a
// plain box straight into the display's buffer (presenting it) or record its damage.
struct lvShapeOutput;
void CompleteDisplayShapeOutput(lvShapeOutput *output, lvBlitDisplay *display);

// A rectangle drawn into the back buffer. One covering the whole picture, or the 1024th,
// means everything.
void AddDisplayDamage(lvDisplay *display, int x, int y, int width, int height);
int DamageMeansEverything(const lvDisplay *display);
// One pass over the ordered pairs (i, j) in index order: overlapping rectangles, or ones
// with a gap of at most one pixel on both axes, merge into i; j is marked merged (x1
// LV_DAMAGE_MERGED). Returns the rectangles left.
int MergeDamageRects(lvDamageRect *rects, int count);

// Rectangles the layer commands and asynchronous draws collect before one redraw. The
// users reset the count before they collect. AddDirtyRect appends one (mayGrow: the list
// grows by 1024 entries when full, up to LV_DIRTYRECTS_MAX; else a full list drops it):
// 0 or ERR_MEM. MergeDirtyRects merges by the damage rule above (a merged entry's x
// becomes LV_DAMAGE_MERGED) and returns the rectangles left; FlushDirtyRects merges and
// redraws each rectangle left on the current display.
enum : int { LV_DIRTYRECTS_MAX = 1 << 20 };
int AddDirtyRect(lvDirtyRectList *list, int x, int y, int width, int height, int mayGrow);
int MergeDirtyRects(lvDirtyRectList *list);
void FlushDirtyRects(lvState *L, lvDirtyRectList *list);

int BeginDisplayDoubleBuffer(lvState *L, lvDisplay *display, int hardware);
int EndDisplayDoubleBuffer(lvState *L, lvDisplay *display);
int FlipDisplay(lvState *L, lvDisplay *display, int sync);
// Cls on the current output.
int ClsOutput(lvState *L, uint32_t colour);

// ---- Snapshots and grabs (display_snapshot.cpp) ----

enum : int { SNAP_WINDOW = 0, SNAP_DISPLAY = 1, SNAP_DESKTOP = 2 };
// Where and how a snapshot is written (the image-saving options).
struct lvSnapshotSave {
    const char *path;
    int format, quality, dither;
    const char *adapter;    // saver plug-in, or null
    const void *userTags;
};
// A rectangle of the screen as a new RGB bitmap: the adapter's grab (flags 0x800) or the
// platform's screen copy. 0, ERR_GRABSCREEN when no pixels came, ERR_MEM, ERR_BITMAP.
int GrabScreenRect(lvDisplay *display, int x, int y, int width, int height, lvBitMapHandle **out);
// SaveSnapshot's engine: kind SNAP_... ; 0 or the code.
int SaveDisplaySnapshot(lvDisplay *display, int kind, const lvSnapshotSave *save);
// GrabDesktop's rectangle on the monitor m: values LV_NOPOSITION are not given (origin and
// size of the monitor); cut where the monitor ends. 0 or ERR_WRONGUSAGE.
int ClipDesktopGrab(const lvMonitorRect &m, int *x, int *y, int *width, int *height);
// GrabDesktop's engine: a brush of the rectangle on the display's monitor. A numbered id
// replaces a brush of that number; Nil ({0, null}) gets a handle.
int GrabDesktopBrush(lvState *L, lvDisplay *display, lvObjectId *id, int x, int y, int width, int height);

// ---- Video frames (display_frames.cpp) ----

// Any thread: hands a frame to a display, presented at x, y of its picture at the next
// gathering of events. The display takes the bitmap on success; on failure the caller
// keeps it. A frame of the same video still queued is replaced. 0, ERR_WRONGUSAGE,
// ERR_MEM, ERR_FINDDISPLAY when the display is gone.
int QueueVideoFrame(lvDisplay *display, void *video, lvBitMapHandle *bitmap, int x, int y, int width, int height);
// Frames are queued for the display (as for a video playing on it).
int DisplayHasVideoFrames(lvDisplay *display);
// Script thread: presents every queued frame, clipped to the picture, and frees it.
void DrawPendingVideoFrames(lvState *L);
// Frees a display's queued frames unshown.
void DropVideoFrames(lvDisplay *display);
// Any thread: frees the queued frames of one video unshown (nothing when the display is gone).
void DropVideoFramesOf(lvDisplay *display, void *video);

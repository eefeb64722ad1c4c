// display.h - displays: the display record and list, the current display, creating and
// freeing displays, opening and closing them through a display adapter or the
// platform's windows, monitors and modes, presentation at 1:1, the adapter's events and
// main loop, and the displays an applet declares.
//
// Files: display.cpp (record, list, CreateDisplay, FreeDisplay), display_options.cpp
// (the style-option parser in its creation form, stored display records,
// CreatePresetDisplay), display_open.cpp (opening, closing, monitors, modes, start-up
// opening, presentation, shut-down), display_adapter.cpp (the adapter record, the four
// dispatchers, PostAdapterEvent, the main loop), lib_display.cpp (the commands).
//
// Engines take parsed arguments and return error codes; only lib_display.cpp and the
// option parser touch the script machine. The display list's links change only on the
// script thread, under the display lock; adapter threads reach displays only through
// PostAdapterEvent, which looks them up under that lock.
#pragma once
#include <cstdint>

#include "images/lvbgpic.h"
#include "images/lvoffscreen.h"
#include "platform/lvplatform_windows.h"
#include "raster/lvinit.h"
#include "runtime/lists.h"
#include "runtime/lvplugin.h"
#include "ui/events.h"

struct lvState;
struct lvConstantEntry;

#define LV_TYPE_DISPLAY 21
enum : int { DISPSTATE_CLOSED = 0, DISPSTATE_OPEN = 1, DISPSTATE_MINIMIZED = 2 };
enum : int {
    DISPMODE_WINDOWED = 1, DISPMODE_FULLSCREEN = 2, DISPMODE_ASK = 3, DISPMODE_MODEREQUESTER = 4,
    DISPMODE_FAKEFULLSCREEN = 6, DISPMODE_FULLSCREENSCALE = 7, DISPMODE_SYSTEMSCALE = 8,
    DISPMODE_MODESWITCH = 9, DISPMODE_AUTOFULLSCREEN = 10, DISPMODE_LAYERFULLSCREEN = 11,
    DISPMODE_ASKAUTO = 12, DISPMODE_ASKLAYERS = 13
};
// Special coordinates.
#define LV_CENTER (-100000)
#define LV_KEEPPOSITION 100000
#define LV_NOPOSITION 200000
#define LV_NATIVE (-110000)
// Window positions the window system takes (X keeps them in 16 bits): moves are clamped
// to ±this, so the record and the window agree.
#define LV_WINDOW_COORDINATE_LIMIT 32767

// Style flag bits (display records and declared displays).
enum : uint32_t {
    DSTYLE_BORDERLESS = 0x1, DSTYLE_SIZEABLE = 0x2, DSTYLE_FIXED = 0x4, DSTYLE_NOMODESWITCH = 0x8,
    DSTYLE_HIDEPOINTER = 0x10, DSTYLE_NOHIDE = 0x20, DSTYLE_AUTOSCALE = 0x40, DSTYLE_SMOOTHSCALE = 0x80,
    DSTYLE_LAYERSCALE = 0x100, DSTYLE_BGPIC = 0x200, DSTYLE_ACTIVE = 0x400, DSTYLE_HIDDEN = 0x800,
    DSTYLE_LAYERS = 0x1000, DSTYLE_USEQUARTZ = 0x2000, DSTYLE_NOCLOSE = 0x4000,
    DSTYLE_KEEPPROPORTIONS = 0x8000, DSTYLE_FITSCALE = 0x10000, DSTYLE_NOLIVERESIZE = 0x20000,
    DSTYLE_KEEPSCREENON = 0x40000, DSTYLE_HIDEFROMTASKBAR = 0x80000, DSTYLE_HIDEOPTIONSMENU = 0x100000,
    DSTYLE_NOHARDWARESCALE = 0x200000, DSTYLE_ALWAYSONTOP = 0x400000, DSTYLE_SINGLEMENU = 0x800000,
    DSTYLE_DISABLEBLANKER = 0x1000000, DSTYLE_NOBACKFILL = 0x2000000, DSTYLE_KEEPFRAME = 0x4000000,
    DSTYLE_REMEMBERPOSITION = 0x8000000, DSTYLE_MAXIMIZED = 0x10000000, DSTYLE_TRAPRMB = 0x20000000,
    DSTYLE_NOSCALEENGINE = 0x40000000, DSTYLE_NATIVEUNITS = 0x80000000u
};
// Second style word.
enum : uint32_t {
    DSTYLE2_NOCYCLERMENU = 0x1, DSTYLE2_SCALESWITCH = 0x2, DSTYLE2_SCALESWITCHGIVEN = 0x4,
    DSTYLE2_KEEPPROPGIVEN = 0x8, DSTYLE2_SMOOTHGIVEN = 0x10, DSTYLE2_SOFTWARERENDERER = 0x20,
    DSTYLE2_VSYNC = 0x40, DSTYLE2_BACKDROP = 0x80
};

#define LV_DISPLAY_REGIONS 128

// A display: the script's window or screen.
struct lvDisplay {
    lvObjectHeader header;         // type 21; identifier; user data; next display
    // What drawing and selections see of it: the draw target (kind 21: the display
    // itself), the layers switch, the text cursor, double buffering, the selection record.
    lvSelectDisplay select;
    lvBlitPicture blitPicture;     // the BGPic as the blit sees it
    lvBGPic *bgpic;                // the BGPic it shows
    int ownsBGPic;                 // it made that BGPic and frees it with itself
    int adapterDoubleBuffer, refreshMode, redirected, savedAdapterFlag;
    int backfillDisplay, resourceMonitor;  // "__backfill", "__resourcemonitor"
    int x, y;                      // outer corner in desktop pixels
    int width, height;             // inside size
    int state;                     // DISPSTATE_...
    int fillStyle;                 // 1 colour, 2 gradient, 3 texture
    uint32_t colour;               // fill colour or pen
    lvGradient gradient;           // fill style 2
    lvObjectId textureBrush;       // fill style 3
    int textureX, textureY;
    uint32_t styleFlags;           // DSTYLE_...
    uint32_t styleFlags2;          // DSTYLE2_...
    char title[256];               // "Lumivarra"
    int borderLeft, borderTop, borderWidth, borderHeight;  // left, top, left + right, top + bottom
    lvDisplayRegion dragRegions[LV_DISPLAY_REGIONS], dragScaled[LV_DISPLAY_REGIONS];
    lvDisplayRegion sizeRegions[LV_DISPLAY_REGIONS], sizeScaled[LV_DISPLAY_REGIONS];
    int dragRegionCount, sizeRegionCount;
    int dragRegionsGiven, sizeRegionsGiven;
    lvBufferPair backgroundBuffer;  // the BGPic without layers
    lvBufferPair pictureBuffer;     // what the display shows
    lvBufferPair frontBuffer, backBuffer;
    int autoscale, layerScale;     // scale modes
    int marginLeft, marginTop, marginRight, marginBottom;  // letterbox
    int scaleWidth, scaleHeight;   // 0: none
    int smoothScale;
    double scaleX, scaleY;         // window size over picture size
    void *damage;                  // damage rectangles (double buffering)
    int damageCount, damageCapacity;
    lvDisplayEvents events;        // handler slots and input state
    lvTimeVal lastVBlank;          // last vertical blank
    void *pointer;                 // current pointer (lvPointer), or null for the standard arrow
    int pointerHidden;             // the script hid the pointer (HidePointer)
    int active;                    // has the input focus
    lvBitMapHandle *shapeMask, *shapeAlpha;
    int orientation, density, keyboard, systemBars;
    void *mirrors, *mirrorServed;
    int lastMouseX, lastMouseY;
    uint32_t lastQualifiers;
    lvMutex *frameLock;            // guards the queued video frames
    void *videoFrames;
    int dpiX, dpiY;
    int fullScreen, fullScreenScale, fakeFullScreen;
    int monitor;                   // 0-based
    int returnMonitor;             // monitor to go back to, plus 1
    int savedX, savedY;
    uint32_t savedFlags, savedFlags2;
    int savedValid;
    // The windowed scaling a full-screen-scale or full-screen switch goes back to.
    int savedWidth, savedHeight, savedAutoscale, savedLayerScale, savedSmooth;
    void *menu, *menuBuild;
    int mode;                      // DISPMODE_...
    int screenWidth, screenHeight, screenDepth;
    int desktop;
    lvDisplayBackfill backfill;
    char backfillBrushFile[1024];
    int relativeX, relativeY;      // offset x, y by the monitor's origin at opening
    int shaped, bordersKnown;
    uint8_t *placement;            // "osdata"
    size_t placementLength;
    int restoreWidth, restoreHeight;
    int32_t refreshFlag, frameFlag, penFlag;  // set by the adapter through OpenDisplay tags 3, 4, 15
    int systemScaleDiffers, scaledCoordinates;
    double scaleFactor, requestedScaleFactor;
    int immersiveMode, applyingAttributes, fullScreenScaleLayers;
    lvDisplay *backfillOwner;      // in a backfill display, its owner
    lvDisplay *backfillOf;         // the backfill display of this one
    lvUserTag *userTags;           // CreateDisplay's "usertags"
    lvDisplayWindow *window;       // without an adapter
    lvBitMapHandle *runtimeScaled; // the picture at its scale size, for adapters that do not scale
    int createdSystemScale;        // made in DISPMODE_SYSTEMSCALE (CreateDisplay rewrites the mode)
    void *handle;                  // the adapter's handle while open
};

// ---- The list ---------------------------------------------------------------------------

lvDisplay *FirstDisplay(void);
lvDisplay *GetCurrentDisplay(void);
void SetCurrentDisplay(lvDisplay *display);
lvObjectHeader **DisplayListHead(void);
// 0 and the display; ERR_FINDARRAY for a handle; ERR_FINDDISPLAY with the number.
int FindDisplayById(lvObjectId id, lvDisplay **out);
// The display whose window or adapter handle is handle (none for null). Callers on other
// threads hold the display lock.
lvDisplay *FindDisplayByHandle(const void *handle);
void LockDisplayList(void);
void UnlockDisplayList(void);

// ---- Creating and freeing ---------------------------------------------------------------

// The options of CreateDisplay after parsing (the creation form of the style options and
// the creation options). InitDisplayRequest sets the defaults of a new display.
struct lvDisplayRequest {
    int x, y, width, height;
    uint32_t styleFlags, styleFlags2;
    char title[256];
    int fillStyle;
    uint32_t colour;
    lvGradient gradient;
    lvObjectId textureBrush;
    int textureX, textureY;
    int bgpicGiven;
    lvObjectId bgpic;
    int scaleMode;                  // -1 not given, 0, 1, 2
    int scaleWidth, scaleHeight;    // 0 none
    double scaleFactor;             // 1.0
    int scaleFactorGiven;
    int monitor;                    // 0-based
    int orientation, immersiveMode;
    int menu;                       // -1
    int dragRegionCount, sizeRegionCount;
    lvDisplayRegion dragRegions[LV_DISPLAY_REGIONS], sizeRegions[LV_DISPLAY_REGIONS];
    int paletteGiven;
    lvObjectId palette;             // "palette": a palette object or a standard palette
    int fillPen;
    int backfill, resourceMonitor;
    int restoreWidth, restoreHeight;
    uint8_t *placement;             // owned by the request until CreateDisplay takes it
    size_t placementLength;
    int mode;                       // DISPMODE_...
    int screenWidth, screenHeight, screenDepth, desktop;
    lvDisplayBackfill backfillBlock;
    char backfillBrushFile[1024];
    lvUserTag *userTags;            // owned by the request until CreateDisplay takes it
};
void InitDisplayRequest(lvDisplayRequest *request);
void FreeDisplayRequest(lvDisplayRequest *request);
// Reads the options table at index into request (creation form). 0 or an error code; may
// raise the machine's errors for arguments of a wrong type.
int ReadDisplayOptions(lvState *L, int index, lvDisplayRequest *request);
// The "backfill" subtable of the options table at index into block and the brush file
// (fields not given are kept). 0 or ERR_WRONGUSAGE for an unknown type.
int ReadBackfillTable(lvState *L, int index, lvDisplayBackfill *block, char *brushFile, size_t brushFileSize);
// ChangeDisplayMode's "nobackfill" and "backfill" options into the display; nothing
// changes on an error.
int ReadModeBackfillOptions(lvState *L, int index, lvDisplay *display);
// The engine of CreateDisplay: a display with the number (nil: a handle, *handleOut).
// Replaces a display of that number (its freeing error is returned, the list unchanged).
int CreateDisplayFromRequest(lvState *L, int number, int nil, lvDisplayRequest *request, lvDisplay **out);
// FreeDisplay's engine. 0, 1344/1041, 1346.
int FreeDisplayById(lvState *L, lvObjectId id);
// Frees every display (library close): open ones are closed first.
void ShutdownDisplays(lvState *L);
// The mode number of a mode name (case ignored), 0 for none.
int FindDisplayModeByName(const char *name);
const char *DisplayModeName(int mode);

// ---- Opening, closing, monitors ------------------------------------------------------------

// The monitor list (adapter or platform): count, at most max entries.
int GetMonitorList(lvMonitorRect *out, int max);
// The modes of a 0-based monitor, sorted by width then height. 0 and *count, or a code
// (ERR_MONITORRANGE for a monitor out of range).
int GetDisplayModeList(int monitor, lvScreenMode *out, int max, int *count);
int GetMonitorRect(const lvDisplay *display, lvMonitorRect *out);
int CanSwitchDisplayMode(const lvDisplay *display);
int IsDisplayFullScreen(const lvDisplay *display);
// Opens a closed display (windowed). requestBits as RealizeDisplay's.
int RealizeDisplay(lvState *L, lvDisplay *display, int requestBits);
// Closes the window or the adapter's display.
int CloseDisplayCore(lvState *L, lvDisplay *display, int bits);
// OpenDisplay's engine: monitor 0-based or -1, x, y LV_NOPOSITION when not given.
int OpenDisplayById(lvState *L, lvObjectId id, int monitor, int x, int y, int noSelect);
int CloseDisplayById(lvState *L, lvObjectId id);
// Opens the start-up displays: every closed, shown display; the first active one current.
int OpenStartupDisplays(lvState *L);
// Presents the whole picture buffer, or a rectangle of it, at 1:1.
void PresentDisplayRect(lvDisplay *display, int x, int y, int width, int height);
// Redraws everything: the BGPic into the buffers, then the whole picture.
void RedrawDisplay(lvState *L, lvDisplay *display, int flags);
// A display whose BGPic keeps pens: its buffers hold pens, and what it shows is their
// colours through the BGPic's palette.
int IsPaletteDisplay(const lvDisplay *display);
// A pen plane of that size filled with pen; null when it cannot be made.
lvBitMapHandle *NewDisplayPenPlane(int width, int height, int pen);
// Shows a rectangle of the pens of source in the display's presentation bitmap (through
// the BGPic's palette); source is the picture's or the front buffer's pen plane.
void ConvertDisplayPens(lvDisplay *display, lvBitMapHandle *source, int x, int y, int width, int height);
// A display's picture, buffers and scale size hold at most as many pixels as a picture
// the image loaders accept; scaled sizes must also come to at least one pixel.
bool DisplayPixelsFit(int64_t width, int64_t height);
// The window size a scale factor gives width x height: 0 and the sizes, or ERR_WRONGUSAGE
// when a product leaves the int range or the ceiling above, or rounds to nothing.
int ScaleDisplaySize(double factor, int width, int height, int *scaledWidth, int *scaledHeight);
// A script coordinate times a factor, kept inside the window system's coordinate range.
int ScaleDisplayCoordinate(int value, double factor);
// The images of the display's own BGPic made again at that size with its fill (nothing
// for a BGPic it does not own). 0, ERR_ALLOCCHUNKY, or the fill's error.
int RemakeOwnBGPicImages(lvDisplay *display, int width, int height);
// Resize without scaling: the window takes the size, the private BGPic is remade.
// Makes the background and picture buffers again at the BGPic's size, with its picture.
int RemakeDisplayBuffers(lvDisplay *display);
int ResizeDisplay(lvState *L, lvDisplay *display, int x, int y, int width, int height, int requestBits);
void ActivateDisplayWindow(lvDisplay *display, int front);
int GetDisplayMousePos(const lvDisplay *display, int *x, int *y);
uint32_t GetDisplayQualifiers(const lvDisplay *display);
// The frame sizes of a window with the display's style flags (adapter or platform).
void DetermineBorderSizes(lvDisplay *display);

// SetDisplayAttributes after parsing (the attribute form of the style options).
struct lvAttributeRequest {
    uint32_t setFlags, clearFlags, setFlags2, clearFlags2;
    int titleGiven;
    char title[256];
    int xGiven, yGiven, x, y;
    int scaleMode;                  // -1 not given
    int scaleWidth, scaleHeight;    // 0 not given
    int dragGiven, sizeGiven, dragRegionCount, sizeRegionCount;
    lvDisplayRegion dragRegions[LV_DISPLAY_REGIONS], sizeRegions[LV_DISPLAY_REGIONS];
    int bgpicGiven;
    lvObjectId bgpic;
    int keepShownView;              // the window keeps the old picture: a transition draws the new one
    int monitor;                    // 0-based, -1 not given
    int width, height;              // the own BGPic's new size, 0 not given
    // A fill of the display's own BGPic: fillGiven when any fill option was given; the
    // fields start as the display's fill.
    int fillGiven, fillStyle;
    uint32_t colour;
    int fillPenGiven, fillPen;
    lvGradient gradient;
    lvObjectId textureBrush;
    int textureX, textureY;
    int orientationGiven, orientation, immersiveGiven, immersiveMode;
    int forceXY;
    int menuGiven, menu;            // "menu": the strip's menu id, -1 none
};
// An empty request: nothing given, the fill fields those of the display.
void StartAttributeRequest(const lvDisplay *display, lvAttributeRequest *request);
// Reads the attribute form of the options table at index for display (the current one,
// whose fill and size the options start from). 0 or an error code.
int ReadAttributeOptions(lvState *L, int index, const lvDisplay *display, lvAttributeRequest *request);
// SetDisplayAttributes' engine on an existing display.
int ApplyDisplayAttributes(lvState *L, lvDisplay *display, const lvAttributeRequest *request);

// What a grabbing ShowBGPic hands a transition: the new picture and the old view with
// their palette bitmaps, palettes and depths (the caller frees them).
struct lvShowBGPicGrab {
    lvBitMapHandle *newBitmap, *oldView;
    lvBitMapHandle *newPaletteBitmap, *oldPaletteBitmap;
    uint32_t *newPalette, *oldPalette;
    int newDepth, oldDepth;
};
// Makes the BGPic the current display's background (the display moves to x, y unless
// they are LV_KEEPPOSITION or twice it), as SetDisplayAttributes({bgpic = id}) does, then
// frees detached BGPics no longer shown. Grabbing (non-zero grab, out given) hands out
// copies of the old view (at the new size unless the display scales) and of the new
// picture; on failure nothing is left. 0 or an error code.
int ShowBGPic(lvState *L, lvObjectId id, int x, int y, int grab, lvShowBGPicGrab *out);

// Tells the adapter of the close-handled flag (after each OpenDisplay and handler change).
void SetDisplayCloseHandled(lvDisplay *display, int handled);

// ---- The display adapter ----------------------------------------------------------------

// The installed adapter's record and words, or null.
struct lvDisplayAdapterState {
    lvPluginRecord *record;       // the plug-in
    uint32_t flags;               // flags word
    uint32_t offscreen;           // tag 2
    uint32_t bitmapCaps;          // tag 3
    int pixelFormat;              // tag 1, default 10
    uint32_t extensions;          // GetExtensions(0x800, 0)
};
const lvDisplayAdapterState *GetDisplayAdapter(void);
// Reads the installation's tags (the plug-in table calls it after installing).
void NoteDisplayAdapter(lvPluginRecord *record, uint32_t word, const lvPluginTag *tags);
void ForgetDisplayAdapter(void);
// The four dispatchers: the adapter's slot, else the platform's.
int HandleDisplayEvents(lvState *L, int mode);
int WaitDisplayEvents(lvState *L);
int SleepServingEvents(lvState *L, int milliseconds);
void ForceAdapterLoopIteration(void);
// The line hook's poll (mode 1) while an adapter runs the windows.
int PollDisplayEvents(lvState *L, int mode);
// Puts the adapter's wait and poll into the event loop (after the event library opened).
void UseAdapterEventLoop(void);
// The main loop: through the adapter when one is installed.
int RunDisplayMainLoop(int (*body)(void *state), void *state);
// Reports of a display adapter (or a plug-in) from any thread.
int PostAdapterEvent(lvState *L, int kind, lvAdapterEvent *event);
int PostAdapterEventMain(int kind, lvAdapterEvent *event);
void PostQuitEvent(void);
int DispatchPluginEventNow(lvState *L, int type, void *payload);

// The quit switches (the event engine's: left mouse 0, Escape 0, Ctrl+C 1).
struct lvQuitSwitches {
    int leftMouse, escape, ctrlC;
};
lvQuitSwitches *GetQuitSwitches(void);

// ---- Declared displays ---------------------------------------------------------------------

// The stored record of a linked display (type 10) into a new option record hung on the
// object. 0, ERR_MEM, ERR_READ (short or overlong fields).
int ReadAppletDisplayRecord(lvAppletCursor *cursor, lvLinkedObject *object, int major, int minor);
// The backfill block of the applet header (tag 17), as a new lvDisplayBackfill.
int ReadAppletBackfillBlock(lvAppletCursor *cursor, int major, int minor, void **block);
// The header's display settings and display patches go to display 1 (added with its
// defaults when missing). 0 or ERR_MEM.
int ApplyAppletDisplaySettings(lvAppletRecord *applet);
// The start-up options' display settings (kept in the applet record) go to display 1's
// record, or to every declared display.
void ApplyStartupDisplayOverrides(lvAppletRecord *applet, int allDisplays);
// Display 1 with default options, the active bit and the title.
int AddDefaultDisplayRecord(lvAppletRecord *applet, const char *title);
// Creates one declared display through CreateDisplay with a table built from the record.
int CreatePresetDisplay(lvState *L, lvLinkedObject *object, int backgroundLinked);
// Pushes the option table CreatePresetDisplay hands to CreateDisplay.
void PushPresetDisplayOptions(lvState *L, const lvDisplayOptions *options, int number, int backgroundLinked);

// ---- The library ------------------------------------------------------------------------
int OpenDisplayLibrary(lvState *L);
void CloseDisplayLibrary(lvState *L, int full);
const lvConstantEntry *GetDisplayConstants(void);
// Installs the display library into the run: plug-in entries, event hooks, start-up hooks.
void InstallDisplayLibrary(void);

// lib_display.cpp - the display library's commands, its constants, its opening and
// closing, and how the library joins a run (plug-in entries, event hooks, start-up).
//
// Depends on: ui/display.h, runtime/cmdsupport.h, runtime/libtable.h, runtime/startup.h.
#include "platform/lvplatform.h"
#include "runtime/cmdsupport.h"
#include "runtime/container.h"
#include "runtime/errors.h"
#include "runtime/libtable.h"
#include "base/lverrors.h"
#include "runtime/plugin.h"
#include "runtime/startup.h"
#include "ui/display.h"
#include "ui/display_windows.h"
#include "ui/buttons.h"
#include "ui/input.h"
#include "ui/requesters.h"
#include "ui/lib_clipboard.h"
#include "ui/display_draw.h"
#include "ui/display_modes.h"
#include "ui/display_mirrors.h"
#include "ui/display_attrs.h"
#include "formats/lvsavers.h"
#include "runtime/objects.h"
#include <algorithm>
#include <cstdio>
#include "vm/lvvm.h"
#include <cstring>

// ---- Commands ------------------------------------------------------------------------------

// CreateDisplay(id[, options]): nothing, or the handle for Nil.
static int CmdCreateDisplay(lvState *L)
{
    CheckArgCount(L, 1, 2, 0, 0);
    int nil = 0;
    int number = GetIntArgOrNil(L, 1, &nil);
    lvDisplayRequest request;
    InitDisplayRequest(&request);
    int err = 0;
    if (GetStackTop(L) >= 2 && GetValueType(L, 2) != LV_TNIL) {
        CheckTableArg(L, 2);
        err = ReadDisplayOptions(L, 2, &request);
    }
    lvDisplay *made = nullptr;
    if (!err) err = CreateDisplayFromRequest(L, number, nil, &request, &made);
    FreeDisplayRequest(&request);
    if (err) return err;
    if (!nil) return 0;
    PushPointer(L, made->header.handle);
    return 1;
}

static int CmdFreeDisplay(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    return FreeDisplayById(L, GetObjectIdArg(L, 1));
}

// OpenDisplay(id[, noselect or {noselect, monitor, x, y}]).
// OpenDisplay's mode options: the mode by name, the screen size and depth, and the
// backfill. Read whole before any of them reaches the display, so that a bad one changes
// nothing.
// A switch argument: the script's True and False are the numbers 1 and 0, so a number
// counts by its value; nil or none gives the default.
static int FlagArg(lvState *L, int index, int absent)
{
    if (GetStackTop(L) < index || GetValueType(L, index) == LV_TNIL) return absent;
    if (GetValueType(L, index) == LV_TNUMBER) return ValueToNumber(L, index) != 0;
    return ValueToBoolean(L, index);
}

static int ReadOpenModeOptions(lvState *L, lvDisplay *d, int monitor)
{
    int mode = d->mode, width = d->screenWidth, height = d->screenHeight, depth = d->screenDepth;
    char modeName[64];
    if (GetFieldStringBuf(L, 2, "mode", modeName, sizeof modeName))
        if (!(mode = FindDisplayModeByName(modeName))) return ERR_WRONGUSAGE;
    int gotWidth = GetFieldInt(L, 2, "scrwidth", &width), gotHeight = GetFieldInt(L, 2, "scrheight", &height);
    GetFieldInt(L, 2, "scrdepth", &depth);
    if ((gotWidth && width == LV_NATIVE) || (gotHeight && height == LV_NATIVE)) {
        lvMonitorRect monitors[32];
        int count = GetMonitorList(monitors, 32), m = monitor >= 0 ? monitor : d->monitor;
        if (m < 0 || m >= count) return ERR_GETMONITORINFO;
        if (gotWidth && width == LV_NATIVE) width = monitors[m].width;
        if (gotHeight && height == LV_NATIVE) height = monitors[m].height;
    }
    if (int err = ReadModeBackfillOptions(L, 2, d)) return err;
    d->mode = mode;
    d->screenWidth = width;
    d->screenHeight = height;
    d->screenDepth = depth;
    return 0;
}

static int CmdOpenDisplay(lvState *L)
{
    CheckArgCount(L, 1, 2, 0, 0);
    lvObjectId id = GetObjectIdArg(L, 1);
    int noSelect = 0, monitor = -1, x = LV_NOPOSITION, y = LV_NOPOSITION;
    if (GetStackTop(L) >= 2) {
        if (GetValueType(L, 2) == LV_TTABLE) {
            GetFieldBool(L, 2, "noselect", &noSelect);
            if (GetFieldInt(L, 2, "monitor", &monitor)) {
                if (monitor < 1) return ERR_MONITORRANGE;
                monitor--;
            }
            GetFieldInt(L, 2, "x", &x);
            GetFieldInt(L, 2, "y", &y);
            lvDisplay *d = nullptr;
            if (int err = FindDisplayById(id, &d)) return err;
            if (d->state != DISPSTATE_CLOSED) return ERR_WRONGUSAGE;
            if (int err = ReadOpenModeOptions(L, d, monitor)) return err;
        } else {
            noSelect = FlagArg(L, 2, 0);
        }
    }
    return OpenDisplayById(L, id, monitor, x, y, noSelect);
}

static int CmdCloseDisplay(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    return CloseDisplayById(L, GetObjectIdArg(L, 1));
}

static int CmdGetMonitors(lvState *L)
{
    CheckArgCount(L, 0, 0, 0, 0);
    lvMonitorRect monitors[32];
    int count = GetMonitorList(monitors, 32);
    if (count <= 0) return ERR_MEM;
    PushNewTable(L);
    for (int i = 0; i < count; i++) {
        PushNewTable(L);
        SetFieldInt(L, "x", monitors[i].x);
        SetFieldInt(L, "y", monitors[i].y);
        SetFieldInt(L, "width", monitors[i].width);
        SetFieldInt(L, "height", monitors[i].height);
        SetTableItemRaw(L, -2, i);
    }
    return 1;
}

static int CmdGetDisplayModes(lvState *L)
{
    CheckArgCount(L, 0, 1, 0, 0);
    int monitor = GetStackTop(L) >= 1 ? (int)CheckNumberArg(L, 1) : 1;
    static lvScreenMode modes[512];
    int count = 0;
    if (int err = GetDisplayModeList(monitor - 1, modes, 512, &count)) return err;
    if (count == 0) return ERR_NODISPMODES;
    PushNewTable(L);
    for (int i = 0; i < count; i++) {
        PushNewTable(L);
        SetFieldInt(L, "width", modes[i].width);
        SetFieldInt(L, "height", modes[i].height);
        SetTableItemRaw(L, -2, i);
    }
    return 1;
}

static int CmdActivateDisplay(lvState *L)
{
    CheckArgCount(L, 1, 2, 0, 0);
    lvDisplay *d = nullptr;
    if (int err = FindDisplayById(GetObjectIdArg(L, 1), &d)) return err;
    if (d->state != DISPSTATE_OPEN) return ERR_CLOSEDDISPLAY;
    int behind = FlagArg(L, 2, 0);
    ActivateDisplayWindow(d, behind ? 0 : 1);
    return 0;
}

static int CmdSelectDisplay(lvState *L)
{
    CheckArgCount(L, 1, 2, 0, 0);
    lvDisplay *d = nullptr;
    if (int err = FindDisplayById(GetObjectIdArg(L, 1), &d)) return err;
    int noActivate = FlagArg(L, 2, 0);
    SetCurrentDisplay(d);
    if (!noActivate && d->state == DISPSTATE_OPEN) ActivateDisplayWindow(d, 1);
    return 0;
}

// The current display, which every command below works on.
static lvDisplay *CurrentOrFail(int *err)
{
    lvDisplay *d = GetCurrentDisplay();
    *err = d ? 0 : ERR_WRONGUSAGE;
    return d;
}

// SetTitle(title).
static int CmdSetTitle(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    const char *title = CheckStringArg(L, 1, nullptr);
    int err;
    lvDisplay *d = CurrentOrFail(&err);
    if (!d) return err;
    SetDisplayTitle(d, title);
    return 0;
}

// MoveDisplay(x, y).
static int CmdMoveDisplay(lvState *L)
{
    CheckArgCount(L, 2, 2, 0, 0);
    // Any number is taken; beyond the int range (or NaN) it is held at the window
    // system's edge rather than converted with undefined results.
    auto position = [](double v) {
        if (v != v) return 0;
        return (int)std::min(std::max(v, -2147483647.0), 2147483647.0);
    };
    int x = position(CheckNumberArg(L, 1)), y = position(CheckNumberArg(L, 2));
    int err;
    lvDisplay *d = CurrentOrFail(&err);
    if (!d) return err;
    return MoveDisplayTo(d, x, y);
}

// HideDisplay([ignored]).
static int CmdHideDisplay(lvState *L)
{
    CheckArgCount(L, 0, 1, 0, 0);
    int err;
    lvDisplay *d = CurrentOrFail(&err);
    return d ? HideDisplayById(d) : err;
}

static int CmdShowDisplay(lvState *L)
{
    CheckArgCount(L, 0, 0, 0, 0);
    int err;
    lvDisplay *d = CurrentOrFail(&err);
    return d ? ShowDisplayById(L, d) : err;
}

// A size of ChangeDisplaySize: a number, a percentage of the picture's, or NATIVE.
static int ReadDisplaySizeArg(lvState *L, int index, int pictureSize, int monitorSize, int monitorErr, int *out)
{
    if (GetValueType(L, index) == LV_TNUMBER && CheckNumberArg(L, index) == LV_NATIVE) {
        if (monitorErr) return monitorErr;
        *out = monitorSize;
        return 0;
    }
    double size = GetNumberOrPercentArg(L, index, pictureSize, 1, nullptr);
    if (size != size) return ERR_WRONGUSAGE;
    // Held inside the int range; the pixel ceiling refuses what is still too large.
    *out = (int)std::min(std::max(size, -2147483647.0), 2147483647.0);
    return 0;
}

// ChangeDisplaySize(width, height[, {x, y, smooth} or smooth]).
static int CmdChangeDisplaySize(lvState *L)
{
    CheckArgCount(L, 2, 3, 0, 0);
    int err;
    lvDisplay *d = CurrentOrFail(&err);
    if (!d) return err;
    int pw = d->bgpic ? d->bgpic->scaledWidth : d->width, ph = d->bgpic ? d->bgpic->scaledHeight : d->height;
    lvMonitorRect m = {0, 0, 0, 0};
    int monitorErr = GetMonitorRect(d, &m);
    int width = 0, height = 0;
    if ((err = ReadDisplaySizeArg(L, 1, pw, m.width, monitorErr, &width))) return err;
    if ((err = ReadDisplaySizeArg(L, 2, ph, m.height, monitorErr, &height))) return err;
    // KEEPASPRAT in one of them follows the picture's aspect from the other.
    if (width == LV_KEEPPOSITION && height == LV_KEEPPOSITION) return ERR_WRONGUSAGE;
    auto follow = [](int64_t other, int64_t to, int64_t from) {
        return (int)std::min<int64_t>(other * to / (from > 0 ? from : 1), INT32_MAX);
    };
    if (width == LV_KEEPPOSITION) width = follow(height, pw, ph);
    if (height == LV_KEEPPOSITION) height = follow(width, ph, pw);
    int x = LV_KEEPPOSITION, y = LV_KEEPPOSITION;
    if (GetStackTop(L) >= 3) {
        if (GetValueType(L, 3) == LV_TTABLE) {
            int smooth = d->smoothScale, present = 0;
            if (GetFieldBool(L, 3, "smooth", &smooth, &present) && present) d->smoothScale = smooth;
            int given = 0;
            x = y = LV_CENTER;
            if (GetFieldInt(L, 3, "x", &x, &given) && given && d->scaledCoordinates && x > 0 && x != LV_KEEPPOSITION)
                x = ScaleDisplayCoordinate(x, d->scaleFactor);
            if (GetFieldInt(L, 3, "y", &y, &given) && given && d->scaledCoordinates && y > 0 && y != LV_KEEPPOSITION)
                y = ScaleDisplayCoordinate(y, d->scaleFactor);
        } else {
            d->smoothScale = FlagArg(L, 3, 0);
        }
    }
    if (width < 1 || height < 1) return ERR_WRONGUSAGE;
    // Positions are relative to the monitor; centring needs the new outer size.
    if (x != LV_KEEPPOSITION || y != LV_KEEPPOSITION) {
        if (monitorErr) return monitorErr;
        int ow = (d->autoscale ? d->width : width) + d->borderWidth;
        int oh = (d->autoscale ? d->height : height) + d->borderHeight;
        if (x == LV_CENTER) x = m.x + (m.width - ow) / 2;
        else if (x != LV_KEEPPOSITION) x += m.x;
        if (y == LV_CENTER) y = m.y + (m.height - oh) / 2;
        else if (y != LV_KEEPPOSITION) y += m.y;
    }
    int bits = (d->scaledCoordinates ? 0x20 : 1) | (d->state == DISPSTATE_CLOSED ? 2 : 0);
    return ResizeDisplay(L, d, x, y, width, height, bits);
}

static int CmdBeginRefresh(lvState *L)
{
    CheckArgCount(L, 0, 1, 0, 0);
    int err;
    lvDisplay *d = CurrentOrFail(&err);
    if (!d) return err;
    return BeginDisplayRefresh(d, FlagArg(L, 1, 0));
}

static int CmdEndRefresh(lvState *L)
{
    CheckArgCount(L, 0, 0, 0, 0);
    int err;
    lvDisplay *d = CurrentOrFail(&err);
    return d ? EndDisplayRefresh(L, d) : err;
}

// RefreshDisplay([{forcerefresh, forcevideo, novideo, skipclip, skipsats}]).
static int CmdRefreshDisplay(lvState *L)
{
    CheckArgCount(L, 0, 1, 0, 0);
    int err;
    lvDisplay *d = CurrentOrFail(&err);
    if (!d) return err;
    int flags = 0;
    if (GetStackTop(L) >= 1 && GetValueType(L, 1) == LV_TTABLE) {
        static const struct {
            const char *name;
            int flag;
        } options[] = {{"forcerefresh", 0x80}, {"forcevideo", 4}, {"novideo", 2}, {"skipclip", 0x20},
                       {"skipsats", 0x40}};
        for (const auto &o : options) {
            int on = 0;
            if (GetFieldBool(L, 1, o.name, &on) && on) flags |= o.flag;
        }
    }
    if ((err = CheckRefreshOutput(d))) return err;
    if (d->state == DISPSTATE_OPEN) RedrawDisplay(L, d, flags);
    return 0;
}

static int CmdEnableVWait(lvState *L)
{
    CheckArgCount(L, 0, 0, 0, 0);
    SetVWaitEnabled(1);
    return 0;
}

static int CmdDisableVWait(lvState *L)
{
    CheckArgCount(L, 0, 0, 0, 0);
    SetVWaitEnabled(0);
    return 0;
}

static int CmdVWait(lvState *L)
{
    CheckArgCount(L, 0, 0, 0, 0);
    int err;
    lvDisplay *d = CurrentOrFail(&err);
    if (!d) return err;
    return IsVWaitEnabled() ? VWaitDisplay(L, d) : 0;
}

static int CmdSetFPSLimit(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    SetFPSLimit((int)CheckNumberArg(L, 1));
    return 0;
}

static int CmdGetFPSLimit(lvState *L)
{
    CheckArgCount(L, 0, 0, 0, 0);
    PushNumber(L, GetFPSLimit());
    return 1;
}

static int CmdSetSubtitle(lvState *)
{
    return ERR_UNSUPPORTEDFEAT;
}

// ---- Double buffering and Cls ----

// BeginDoubleBuffer([hardware]).
static int CmdBeginDoubleBuffer(lvState *L)
{
    CheckArgCount(L, 0, 1, 0, 0);
    int hardware = FlagArg(L, 1, 0);
    int err;
    lvDisplay *d = CurrentOrFail(&err);
    return d ? BeginDisplayDoubleBuffer(L, d, hardware) : err;
}

static int CmdEndDoubleBuffer(lvState *L)
{
    CheckArgCount(L, 0, 0, 0, 0);
    lvDisplay *d = GetCurrentDisplay();
    return d ? EndDisplayDoubleBuffer(L, d) : ERR_NODOUBLEBUFFER;
}

// Flip([sync]): sync defaults to true.
static int CmdFlip(lvState *L)
{
    CheckArgCount(L, 0, 1, 0, 0);
    int sync = FlagArg(L, 1, 1);
    lvDisplay *d = GetCurrentDisplay();
    return d ? FlipDisplay(L, d, sync) : ERR_NODOUBLEBUFFER;
}

// Cls([colour]): the top byte is ignored.
static int CmdCls(lvState *L)
{
    CheckArgCount(L, 0, 1, 0, 0);
    uint32_t colour = GetStackTop(L) >= 1 ? (uint32_t)(int64_t)CheckNumberArg(L, 1) : 0;
    return ClsOutput(L, colour);
}

static bool ArgGiven(lvState *L, int index) { return GetStackTop(L) >= index && GetValueType(L, index) != LV_TNIL; }

// SaveSnapshot(file[, kind][, format][, options]).
static int CmdSaveSnapshot(lvState *L)
{
    CheckArgCount(L, 1, 4, 0, 0);
    char path[LV_PATH_SIZE];
    std::snprintf(path, sizeof path, "%s", GetLinkedFileArg(L, 1, 0, nullptr));
    int kind = ArgGiven(L, 2) ? (int)CheckNumberArg(L, 2) : SNAP_WINDOW;
    int format = ArgGiven(L, 3) ? (int)CheckNumberArg(L, 3) : 0;
    int64_t fill = -1;
    int quality = 90, depth = 8, dither = 0;
    char adapter[256] = "";
    lvUserTag *tags = nullptr;
    if (ArgGiven(L, 4))
        if (int err = ParseSaveImageOptions(L, 4, &format, &fill, &quality, &depth, &dither, adapter, &tags))
            return err;
    int err;
    lvDisplay *d = CurrentOrFail(&err);
    if (d) {
        lvSnapshotSave save = {path, format, quality, dither, adapter[0] ? adapter : nullptr, tags};
        err = SaveDisplaySnapshot(d, kind, &save);
    }
    FreeUserTags(tags, 0);
    return err;
}

// GrabDesktop(id[, {x, y, width, height}]): the handle for Nil.
static int CmdGrabDesktop(lvState *L)
{
    CheckArgCount(L, 1, 2, 0, 0);
    int nil = 0;
    int number = GetIntArgOrNil(L, 1, &nil);
    int x = LV_NOPOSITION, y = LV_NOPOSITION, width = LV_NOPOSITION, height = LV_NOPOSITION;
    if (ArgGiven(L, 2)) {
        CheckTableArg(L, 2);
        GetFieldInt(L, 2, "x", &x);
        GetFieldInt(L, 2, "y", &y);
        GetFieldInt(L, 2, "width", &width);
        GetFieldInt(L, 2, "height", &height);
    }
    lvObjectId id = {nil ? 0 : number, nullptr};
    if (int err = GrabDesktopBrush(L, GetCurrentDisplay(), &id, x, y, width, height)) return err;
    if (!nil) return 0;
    PushPointer(L, id.handle);
    return 1;
}

// ChangeDisplayMode(mode[, width, height][, options]) on the current display.
static int CmdChangeDisplayMode(lvState *L)
{
    CheckArgCount(L, 1, 4, 0, 0);
    int mode = GetValueType(L, 1) == LV_TSTRING ? FindDisplayModeByName(CheckStringArg(L, 1, nullptr))
                                                 : (int)CheckNumberArg(L, 1);
    lvModeRequest q;
    InitModeRequest(&q);
    int options = 0;
    if (ArgGiven(L, 2) && GetValueType(L, 2) == LV_TTABLE) {
        options = 2;
    } else if (ArgGiven(L, 2)) {
        q.width = (int)CheckNumberArg(L, 2);
        q.height = ArgGiven(L, 3) ? (int)CheckNumberArg(L, 3) : 0;
        if (ArgGiven(L, 4)) options = 4;
    }
    if (options) {
        CheckTableArg(L, options);
        GetFieldInt(L, options, "width", &q.width);
        GetFieldInt(L, options, "height", &q.height);
        int value = 0, present = 0;
        GetFieldBool(L, options, "keepproportions", &value, &present);
        if (present) q.keepProportions = value;
        present = 0;
        GetFieldBool(L, options, "smoothscale", &value, &present);
        if (present) q.smoothScale = value;
        int monitor = 0;
        if (GetFieldInt(L, options, "monitor", &monitor)) {
            if (monitor < 1) return ERR_MONITORRANGE;
            q.monitor = monitor - 1;
        }
    }
    lvDisplay *d = GetCurrentDisplay();
    if (!d) return ERR_CLOSEDDISPLAY;
    if (options)
        if (int err = ReadModeBackfillOptions(L, options, d)) return err;
    return ChangeDisplayModeOf(L, d, mode, &q);
}

// SetDisplayAttributes(table) on the current display.
static int CmdSetDisplayAttributes(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    CheckTableArg(L, 1);
    lvDisplay *d = GetCurrentDisplay();
    if (!d) return ERR_WRONGUSAGE;
    // Large (two region lists): on the heap, freed even when reading the table raises.
    struct Owned {
        lvAttributeRequest *q = (lvAttributeRequest *)AllocMemory(sizeof(lvAttributeRequest), 1);
        ~Owned() { FreeMemory(q); }
    } owned;
    if (!owned.q) return ERR_MEM;
    int err = ReadAttributeOptions(L, 1, d, owned.q);
    return err ? err : ApplyDisplayAttributes(L, d, owned.q);
}

static const lvCommandEntry displayCommands[] = {
    {"SetSubtitle", CmdSetSubtitle},   {"CreateDisplay", CmdCreateDisplay},
    {"FreeDisplay", CmdFreeDisplay},   {"OpenDisplay", CmdOpenDisplay},
    {"CloseDisplay", CmdCloseDisplay}, {"SelectDisplay", CmdSelectDisplay},
    {"ActivateDisplay", CmdActivateDisplay}, {"GetDisplayModes", CmdGetDisplayModes},
    {"GetMonitors", CmdGetMonitors},   {"ChangeDisplaySize", CmdChangeDisplaySize},
    {"SetTitle", CmdSetTitle},         {"MoveDisplay", CmdMoveDisplay},
    {"HideDisplay", CmdHideDisplay},   {"ShowDisplay", CmdShowDisplay},
    {"BeginRefresh", CmdBeginRefresh}, {"EndRefresh", CmdEndRefresh},
    {"EnableVWait", CmdEnableVWait},   {"DisableVWait", CmdDisableVWait},
    {"VWait", CmdVWait},               {"SetFPSLimit", CmdSetFPSLimit},
    {"GetFPSLimit", CmdGetFPSLimit},   {"RefreshDisplay", CmdRefreshDisplay},
    {"BeginDoubleBuffer", CmdBeginDoubleBuffer}, {"EndDoubleBuffer", CmdEndDoubleBuffer},
    {"Flip", CmdFlip},                 {"Cls", CmdCls},
    {"SaveSnapshot", CmdSaveSnapshot}, {"GrabDesktop", CmdGrabDesktop},
    {"ChangeDisplayMode", CmdChangeDisplayMode}, {"SetDisplayAttributes", CmdSetDisplayAttributes},
    {nullptr, nullptr},
};

static const lvConstantEntry displayConstants[] = {
    {"DISPLAY", nullptr, 21},           {"DOUBLEBUFFER", nullptr, 38},
    {"SNAPWINDOW", nullptr, 0},         {"SNAPDISPLAY", nullptr, 1},
    {"SNAPDESKTOP", nullptr, 2},        {"DISPSTATE_OPEN", nullptr, 1},
    {"DISPSTATE_CLOSED", nullptr, 0},   {"DISPSTATE_MINIMIZED", nullptr, 2},
    {"DISPMODE_WINDOWED", nullptr, 1},  {"DISPMODE_FULLSCREEN", nullptr, 2},
    {"DISPMODE_ASK", nullptr, 3},       {"DISPMODE_MODEREQUESTER", nullptr, 4},
    {"DISPMODE_FAKEFULLSCREEN", nullptr, 6}, {"DISPMODE_FULLSCREENSCALE", nullptr, 7},
    {"DISPMODE_SYSTEMSCALE", nullptr, 8}, {"DISPMODE_MODESWITCH", nullptr, 9},
    {"DISPMODE_ASKAUTO", nullptr, 12},  {"DISPMODE_ASKLAYERS", nullptr, 13},
    {"SCALEMODE_NONE", nullptr, 0},     {"SCALEMODE_AUTO", nullptr, 1},
    {"SCALEMODE_LAYER", nullptr, 2},    {"KEEPPOSITION", nullptr, 100000},
    {"ORIENTATION_NONE", nullptr, 0},   {"ORIENTATION_PORTRAIT", nullptr, 1},
    {"ORIENTATION_LANDSCAPE", nullptr, 3}, {"ORIENTATION_PORTRAITREV", nullptr, 2},
    {"ORIENTATION_LANDSCAPEREV", nullptr, 4}, {"DENSITY_NONE", nullptr, 0},
    {"DENSITY_LOW", nullptr, 1},        {"DENSITY_MEDIUM", nullptr, 2},
    {"DENSITY_HIGH", nullptr, 3},       {"IMMERSIVE_NONE", nullptr, 0},
    {"IMMERSIVE_NORMAL", nullptr, 1},   {"IMMERSIVE_LEANBACK", nullptr, 2},
    {"IMMERSIVE_STICKY", nullptr, 3},   {nullptr, nullptr, 0},
};

const lvConstantEntry *GetDisplayConstants(void)
{
    return displayConstants;
}

// ---- Plug-in entries ---------------------------------------------------------------------

struct lvPluginLock {
    lvBitMapLock lock;
};

static uintptr_t PluginLockBitMap(void *bitmap, uint32_t, lvPluginBitMapInfo *info, const lvPluginTag *tags)
{
    if (!bitmap || !info) return 0;
    int readOnly = 0;
    for (const lvPluginTag *t = tags; t && t->tag; t++)
        if (t->tag == 1) readOnly = t->value != 0;
    lvPluginLock *held = (lvPluginLock *)AllocMemory(sizeof(lvPluginLock), 1);
    if (!held) return 0;
    // The adapter's own bitmaps are raw backings; otherwise the runtime handed its handle.
    int mode = (readOnly ? LOCK_READONLY : 0) | (AdapterOwnsBitmaps() ? LOCK_RAW : 0);
    if (!LockBitmapHandle(bitmap, mode, &held->lock)) {
        FreeMemory(held);
        return 0;
    }
    info->pixels = held->lock.pixels;
    info->rowLength = held->lock.rowLength;
    info->format = held->lock.format;
    info->bytesPerPixel = held->lock.bytesPerPixel;
    info->width = held->lock.width;
    info->height = held->lock.height;
    return (uintptr_t)held;
}

static void PluginUnLockBitMap(uintptr_t token)
{
    lvPluginLock *held = (lvPluginLock *)token;
    if (!held) return;
    UnlockBitmapHandle(&held->lock);
    FreeMemory(held);
}

static int PluginFindDisplay(const lvPluginObjectId *id, void *handle, void **handleOut, lvPluginObjectId *idOut)
{
    lvDisplay *d = nullptr;
    if (id) {
        if (int err = FindDisplayById(lvObjectId{id->number, id->handle}, &d)) return err;
    } else if (!(d = FindDisplayByHandle(handle))) {
        return ERR_FINDDISPLAY;
    }
    if (handleOut) *handleOut = d->handle;
    if (idOut) *idOut = {d->header.identifier, d->header.handle};
    return 0;
}

static int PluginWaitEvents(lvState *L)
{
    return WaitDisplayEvents(L);
}

static int PollRuntimeDisplayEvents(lvState *L, int mode);

static void AdapterInstalledEntry(lvPluginRecord *record, uint32_t word, const lvPluginTag *tags)
{
    NoteDisplayAdapter(record, word, tags);
    // Only an adapter has events to poll between lines; runs without one keep their
    // interpreter free of a line hook.
    lvStartupHooks hooks = {};
    hooks.PollRuntimeEvents = PollRuntimeDisplayEvents;
    SetStartupHooks(&hooks);
    if (lvState *L = GetMainVMState()) InstallLineHook(L);
}

// ---- Event hooks ---------------------------------------------------------------------------

static lvDisplay *HookCurrentDisplay(void) { return GetCurrentDisplay(); }
static lvDisplayEvents *HookDisplayEvents(lvDisplay *d) { return d ? &d->events : nullptr; }
static lvDisplay *HookNextDisplay(lvDisplay *d) { return d ? (lvDisplay *)d->header.next : FirstDisplay(); }
static int HookHaveAdapter(void) { return GetDisplayAdapter() != nullptr; }
static uint32_t HookQualifiers(lvDisplay *d) { return GetDisplayQualifiers(d); }
static void HookCloseHandled(lvDisplay *d, int handled) { SetDisplayCloseHandled(d, handled); }
static lvEventId HookDisplayId(lvDisplay *d)
{
    return lvEventId{(uintptr_t)d->header.identifier, (uintptr_t)d->header.handle};
}
// The display's fields of size, move, mouse-move and drop messages.
static void HookFillDisplayFields(lvState *, const lvEventCallback *record, lvEventMessage *message)
{
    const lvDisplay *d = record->display;
    if (!d) return;
    switch (record->kind) {
    case CALLBACK_SIZEWINDOW:
        AddMessageNumber(message, "width", d->bgpic ? d->bgpic->scaledWidth : d->width);
        AddMessageNumber(message, "height", d->bgpic ? d->bgpic->scaledHeight : d->height);
        break;
    case CALLBACK_MOVEWINDOW:
        AddMessageNumber(message, "x", d->x);
        AddMessageNumber(message, "y", d->y);
        break;
    case CALLBACK_MOUSEMOVE: {
        int x = 0, y = 0;
        GetDisplayMousePos(d, &x, &y);
        AddMessageNumber(message, "x", x);
        AddMessageNumber(message, "y", y);
        break;
    }
    case CALLBACK_BUTTON:
        FillButtonFields(record, message);
        break;
    case CALLBACK_DROPFILE:
        AddMessageNumber(message, "x", record->x);
        AddMessageNumber(message, "y", record->y);
        break;
    default:
        break;
    }
}

static void HookKeyName(int32_t code, int raw, char *text, size_t size)
{
    KeyCodeText(code, raw ? KEYNAME_RAW : KEYNAME_EVENT, text, size);
}

static int HookAcceptDrops(lvDisplay *d, int accept)
{
    if (!d || !d->window) return 0;
    LockDisplayList();
    d->window->acceptDrops = accept ? 1 : 0;
    UnlockDisplayList();
    return 0;
}

// ---- Start-up --------------------------------------------------------------------------------

// Display 1 with its defaults when the applet declares none; the header's display
// settings, then (unless switched off) the start-up options, go into the records.
static int ApplyDisplaySettings(lvState *, lvAppletRecord *record)
{
    if (int err = ApplyAppletDisplaySettings(record)) return err;
    bool haveOne = false;
    for (lvLinkedObject *o = record->linkedObjects; o; o = o->next)
        if (o->type == 10 && o->identifier == 1) haveOne = true;
    if (!haveOne)
        if (int err = AddDefaultDisplayRecord(record, record->title[0] ? record->title : "Lumivarra")) return err;
    const lvRuntimeConfig *config = GetStartupState()->config;
    if (!record->noDisplayOverrides && !(config && config->noDisplayOverrides))
        ApplyStartupDisplayOverrides(record, config && config->allDisplays);
    return 0;
}

static int StartupDisplays(lvState *L)
{
    // Without an adapter the displays are the platform's own windows.
    if (!GetDisplayAdapter())
        if (int err = UseNativeDisplayWindows()) return err;
    UseAdapterEventLoop();
    return OpenStartupDisplays(L);
}

static int PollRuntimeDisplayEvents(lvState *L, int mode)
{
    return PollDisplayEvents(L, mode);
}

// The tail reader's shape for stored display records.
static int ReadDisplayTail(lvAppletCursor *cursor, lvLinkedObject *object, int major, int minor)
{
    return ReadAppletDisplayRecord(cursor, object, major, minor);
}

// ---- Open and close --------------------------------------------------------------------------

int OpenDisplayLibrary(lvState *L)
{
    if (int err = InitLoopSignals()) return err;
    InstallDisplayDrawing();
    NoteDisplayScriptThread();
    PushCopy(L, LV_GLOBALSINDEX);
    RegisterLibrary(L, nullptr, displayCommands, 0);
    SetStackTop(L, -2);
    return RegisterObjectType(LV_TYPE_DISPLAY, "Displays", DisplayListHead(), GetDisplayAttribute, nullptr, 0);
}

void CloseDisplayLibrary(lvState *L, int)
{
    ShutdownDisplays(L);
    StopNativeWindows();
}

static void CloseBGPicStep(lvState *, int)
{
    FreeAllBGPics();
}

void InstallDisplayLibrary(void)
{
    static const lvDisplayPluginEntries entries = {
        AdapterInstalledEntry, PostAdapterEvent,  PostAdapterEventMain, PollDisplayEvents,
        PluginWaitEvents,      DispatchPluginEventNow, PluginLockBitMap, PluginUnLockBitMap,
        PluginFindDisplay,
        AttachDisplayMirror, DetachDisplayMirror, RefreshMirror, ResizeDisplayFromMirror, PostMirrorInput,
        GetMirrorDisplayAttrs, RefreshAdapterDisplay,
    };
    SetDisplayPluginEntries(&entries);
    lvEventDisplayHooks displays = {};
    displays.CurrentDisplay = HookCurrentDisplay;
    displays.GetDisplayEvents = HookDisplayEvents;
    displays.NextDisplay = HookNextDisplay;
    displays.HaveDisplayAdapter = HookHaveAdapter;
    displays.SwitchDisplayMode = SwitchDisplayModeFromWindow;
    displays.GetQualifiers = HookQualifiers;
    displays.SetCloseHandled = HookCloseHandled;
    displays.GetDisplayId = HookDisplayId;
    displays.FillDisplayFields = HookFillDisplayFields;
    displays.SuppressSizeEvent = SuppressAutoscaleSizeEvent;
    displays.AcceptDroppedFiles = HookAcceptDrops;
    displays.CollectWindowChanges = CollectNativeWindowChanges;
    SetBGPicButtonFreer([](lvBGPic *bgpic, int release) {
        if (release) FreeBGPicButtons(GetPluginScriptState(), bgpic);
        else DiscardBGPicButtons(bgpic);
    });
    displays.MatchButtons = MatchButtonEvent;
    displays.ButtonHover = ButtonHoverPass;
    displays.KeyName = HookKeyName;
    displays.WatchClipboard = WatchDisplayClipboard;
    displays.DrawPendingVideoFrames = DrawPendingVideoFrames;
    SetEventDisplayHooks(&displays);
    SetLinkedTailReader(10, ReadDisplayTail);
    SetBackfillReader(ReadAppletBackfillBlock);
    SetLibraryRow("display", OpenDisplayLibrary, GetDisplayConstants);
    SetLibraryCloseStep("displays", CloseDisplayLibrary);
    SetLibraryCloseStep("bgpics", CloseBGPicStep);
    lvStartupHooks startup = {};
    startup.ApplyAppletDisplaySettings = ApplyDisplaySettings;
    startup.OpenStartupDisplays = StartupDisplays;
    startup.RunMainLoop = RunDisplayMainLoop;
    startup.CreatePresetDisplay = CreatePresetDisplay;
    startup.AskForApplet = AskForAppletFile;
    SetStartupHooks(&startup);
}

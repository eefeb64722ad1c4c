// display_options.cpp - the style-option parser in its creation form, the stored
// records of declared displays, and their creation at start-up.
//
// The same table of style booleans serves the parser and the option table that a
// declared display hands to CreateDisplay.
//
// Depends on: ui/display.h, runtime/cmdsupport.h, raster/lvgradient_read.h.
#include "platform/lvplatform.h"
#include "raster/lvgradient_args.h"
#include "raster/lvgradient_read.h"
#include "runtime/cmdsupport.h"
#include "runtime/errors.h"
#include "base/lverrors.h"
#include "ui/display.h"
#include "ui/menus.h"
#include "ui/display_placement.h"
#include "ui/display_windows.h"
#include "vm/lvvm.h"
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <strings.h>

// Style booleans of the first style word.
static const struct {
    const char *name;
    uint32_t bit;
} styleBooleans[] = {
    {"borderless", DSTYLE_BORDERLESS},       {"sizeable", DSTYLE_SIZEABLE},
    {"fixed", DSTYLE_FIXED},                 {"nomodeswitch", DSTYLE_NOMODESWITCH},
    {"hidepointer", DSTYLE_HIDEPOINTER},     {"nohide", DSTYLE_NOHIDE},
    {"active", DSTYLE_ACTIVE},               {"usequartz", DSTYLE_USEQUARTZ},
    {"noclose", DSTYLE_NOCLOSE},             {"fitscale", DSTYLE_FITSCALE},
    {"noliveresize", DSTYLE_NOLIVERESIZE},   {"keepscreenon", DSTYLE_KEEPSCREENON},
    {"hidefromtaskbar", DSTYLE_HIDEFROMTASKBAR}, {"hideoptionsmenu", DSTYLE_HIDEOPTIONSMENU},
    {"nohardwarescale", DSTYLE_NOHARDWARESCALE}, {"alwaysontop", DSTYLE_ALWAYSONTOP},
    {"singlemenu", DSTYLE_SINGLEMENU},       {"disableblanker", DSTYLE_DISABLEBLANKER},
    {"rememberposition", DSTYLE_REMEMBERPOSITION}, {"maximized", DSTYLE_MAXIMIZED},
    {"traprmb", DSTYLE_TRAPRMB},             {"noscaleengine", DSTYLE_NOSCALEENGINE},
    {"nativeunits", DSTYLE_NATIVEUNITS},     {"hidden", DSTYLE_HIDDEN},
    {"layers", DSTYLE_LAYERS},
};
// Booleans of the second word.
static const struct {
    const char *name;
    uint32_t bit;
} style2Booleans[] = {
    {"nocyclermenu", DSTYLE2_NOCYCLERMENU}, {"softwarerenderer", DSTYLE2_SOFTWARERENDERER},
    {"vsync", DSTYLE2_VSYNC}, {"backdrop", DSTYLE2_BACKDROP},
};
// Booleans that also note that they were given.
static const struct {
    const char *name;
    uint32_t bit, givenBit;
} givenBooleans[] = {
    {"smoothscale", DSTYLE_SMOOTHSCALE, DSTYLE2_SMOOTHGIVEN},
    {"keepproportions", DSTYLE_KEEPPROPORTIONS, DSTYLE2_KEEPPROPGIVEN},
};
static const char *const backfillTypes[] = {"", "color", "gradient", "texture", "picture"};

static int MonitorCount(void)
{
    lvMonitorRect monitors[32];
    return GetMonitorList(monitors, 32);
}

static int MonitorSize(int monitor, int axis, int *out)
{
    lvMonitorRect monitors[32];
    int count = GetMonitorList(monitors, 32);
    if (monitor < 0 || monitor >= count) return ERR_GETMONITORINFO;
    *out = axis ? monitors[monitor].height : monitors[monitor].width;
    return 0;
}

// One list of regions {"type", "x", "y", "width", "height"} from items 0, 1, ...
static int ReadRegionList(lvState *L, int table, const char *name, lvDisplayRegion *regions, int *count)
{
    int top = GetStackTop(L);
    PushString(L, name);
    GetTableValue(L, table);
    if (GetValueType(L, -1) == LV_TNIL) {
        SetStackTop(L, top);
        return 0;
    }
    if (GetValueType(L, -1) != LV_TTABLE) {
        SetStackTop(L, top);
        return ERR_WRONGUSAGE;
    }
    int list = GetStackTop(L), err = 0, n = 0;
    for (;; n++) {
        GetTableItemRaw(L, list, n);
        if (GetValueType(L, -1) == LV_TNIL) break;
        if (n >= LV_DISPLAY_REGIONS || GetValueType(L, -1) != LV_TTABLE) {
            err = ERR_WRONGUSAGE;
            break;
        }
        int entry = GetStackTop(L);
        lvDisplayRegion r = {14, 0, 0, 0, 0};
        GetFieldInt(L, entry, "type", &r.type);
        int present[4] = {};
        GetFieldInt(L, entry, "x", &r.x, &present[0]);
        GetFieldInt(L, entry, "y", &r.y, &present[1]);
        GetFieldInt(L, entry, "width", &r.width, &present[2]);
        GetFieldInt(L, entry, "height", &r.height, &present[3]);
        SetStackTop(L, list);
        if (!present[0] || !present[1] || !present[2] || !present[3]) err = ERR_MISSINGPARAMTR;
        else if (r.type != 14 || r.x < 0 || r.y < 0 || r.width < 1 || r.height < 1) err = ERR_WRONGUSAGE;
        if (err) break;
        regions[n] = r;
    }
    SetStackTop(L, top);
    if (!err) *count = n;
    return err;
}

// The "title" option of either form: at most the field's size less one in bytes, never
// ending inside a character. 1 when it was given.
static int ReadTitleField(lvState *L, int table, char *out, size_t size)
{
    size_t length = 0;
    if (ReadFieldString(L, table, "title", nullptr, 0, &length) != 1) return 0;
    char *title = nullptr;
    GetFieldStringDup(L, table, "title", &title, &length);
    CutTitle(out, size, title ? title : "");
    FreeMemory(title);
    return 1;
}

// A size that may be NATIVE (the monitor's); below 1 is wrong.
static int ReadSizeField(lvState *L, int table, const char *name, int monitor, int axis, int *out)
{
    int value = 0;
    if (!GetFieldInt(L, table, name, &value)) return 0;
    if (value == LV_NATIVE) {
        if (int err = MonitorSize(monitor, axis, &value)) return err;
    }
    if (value < 1) return ERR_WRONGUSAGE;
    *out = value;
    return 0;
}

int ReadBackfillTable(lvState *L, int table, lvDisplayBackfill *block, char *brushFile, size_t brushFileSize)
{
    int top = GetStackTop(L);
    PushString(L, "backfill");
    GetTableValue(L, table);
    if (GetValueType(L, -1) != LV_TTABLE) {
        SetStackTop(L, top);
        return 0;
    }
    int b = GetStackTop(L), err = 0;
    lvDisplayBackfill &f = *block;
    char type[32] = "";
    if (GetFieldStringBuf(L, b, "type", type, sizeof type)) {
        f.type = -1;
        for (int i = 1; i < 5; i++)
            if (strcasecmp(type, backfillTypes[i]) == 0) f.type = i;
        if (f.type < 0) err = ERR_WRONGUSAGE;
    }
    int colour;
    if (GetFieldInt(L, b, "color", &colour)) f.startColour = (uint32_t)colour;
    if (GetFieldInt(L, b, "startcolor", &colour)) f.startColour = (uint32_t)colour;
    if (GetFieldInt(L, b, "endcolor", &colour)) f.endColour = (uint32_t)colour;
    GetFieldInt(L, b, "x", &f.x);
    GetFieldInt(L, b, "y", &f.y);
    GetFieldInt(L, b, "brush", &f.brush);
    GetFieldBool(L, b, "scalepicture", &f.scalePicture);
    GetFieldBool(L, b, "hidetitlebar", &f.hideTitleBar);
    GetFieldBool(L, b, "smoothscale", &f.smoothScale);
    GetFieldStringBuf(L, b, "brushfile", brushFile, brushFileSize);
    SetStackTop(L, top);
    return err;
}

int ReadModeBackfillOptions(lvState *L, int table, lvDisplay *d)
{
    int value = 0, present = 0;
    GetFieldBool(L, table, "nobackfill", &value, &present);
    // Read into copies: an unknown type leaves the display's backfill as it was.
    lvDisplayBackfill block = d->backfill;
    char brushFile[sizeof d->backfillBrushFile];
    std::memcpy(brushFile, d->backfillBrushFile, sizeof brushFile);
    if (int err = ReadBackfillTable(L, table, &block, brushFile, sizeof brushFile)) return err;
    if (present) d->styleFlags = value ? d->styleFlags | DSTYLE_NOBACKFILL : d->styleFlags & ~DSTYLE_NOBACKFILL;
    d->backfill = block;
    std::memcpy(d->backfillBrushFile, brushFile, sizeof brushFile);
    return 0;
}

int ReadDisplayOptions(lvState *L, int index, lvDisplayRequest *s)
{
    int t = index < 0 ? GetStackTop(L) + index + 1 : index;
    int on = 0;
    for (const auto &b : styleBooleans)
        if (GetFieldBool(L, t, b.name, &on)) s->styleFlags = on ? s->styleFlags | b.bit : s->styleFlags & ~b.bit;
    for (const auto &b : style2Booleans)
        if (GetFieldBool(L, t, b.name, &on)) s->styleFlags2 = on ? s->styleFlags2 | b.bit : s->styleFlags2 & ~b.bit;
    for (const auto &b : givenBooleans) {
        if (!GetFieldBool(L, t, b.name, &on)) continue;
        s->styleFlags = on ? s->styleFlags | b.bit : s->styleFlags & ~b.bit;
        s->styleFlags2 |= b.givenBit;
    }
    if (GetFieldBool(L, t, "scaleswitch", &on))
        s->styleFlags2 = (on ? s->styleFlags2 | DSTYLE2_SCALESWITCH : s->styleFlags2 & ~DSTYLE2_SCALESWITCH) |
                         DSTYLE2_SCALESWITCHGIVEN;
    GetFieldInt(L, t, "x", &s->x);
    GetFieldInt(L, t, "y", &s->y);
    int monitor = 0;
    if (GetFieldInt(L, t, "monitor", &monitor)) {
        if (monitor < 1 || monitor > MonitorCount()) return ERR_MONITORRANGE;
        s->monitor = monitor - 1;
    }
    if (int err = ReadSizeField(L, t, "width", s->monitor, 0, &s->width)) return err;
    if (int err = ReadSizeField(L, t, "height", s->monitor, 1, &s->height)) return err;
    int mode = -1;
    if (GetFieldInt(L, t, "scalemode", &mode)) {
        if (mode < 0 || mode > 2) return ERR_WRONGUSAGE;
        s->scaleMode = mode;
    }
    // Scale sizes: a number, a percentage of the display's size, or the monitor's.
    const char *scaleNames[] = {"scalewidth", "scaleheight"};
    int *scaleSizes[] = {&s->scaleWidth, &s->scaleHeight};
    for (int axis = 0; axis < 2; axis++) {
        int value = 0;
        if (!GetFieldIntOrPercent(L, t, scaleNames[axis], 1, &value)) continue;
        if (value == LV_NATIVE) {
            if (int err = MonitorSize(s->monitor, axis, &value)) return err;
        } else if (value < 0) {
            value = (int)std::min<int64_t>((int64_t)-value * (axis ? s->height : s->width) / 100, INT32_MAX);
        }
        if (value == 0) return ERR_WRONGUSAGE;
        *scaleSizes[axis] = value;
    }
    GetFieldInt(L, t, "orientation", &s->orientation);
    GetFieldInt(L, t, "immersivemode", &s->immersiveMode);
    if (GetFieldInt(L, t, "menu", &s->menu) && s->menu != -1) {
        const lvDisplayAdapterState *a = GetDisplayAdapter();
        if (a && !(a->flags & LVP_ADAPTER_MENUS)) return ERR_DISPLAYADAPTERSUPPORT;
        lvMenu *m = nullptr;
        if (int err = FindMenuById({s->menu, nullptr}, &m)) return err;
    }
    if (GetFieldObjectId(L, t, "bgpic", &s->bgpic)) s->bgpicGiven = 1;
    if (GetFieldInt(L, t, "fillstyle", &s->fillStyle) && (s->fillStyle < 1 || s->fillStyle > 3))
        return ERR_WRONGUSAGE;
    int colour = 0;
    if (GetFieldInt(L, t, "color", &colour)) s->colour = (uint32_t)colour;
    GetFieldObjectId(L, t, "texturebrush", &s->textureBrush);
    GetFieldInt(L, t, "texturex", &s->textureX);
    GetFieldInt(L, t, "texturey", &s->textureY);
    ReadTitleField(L, t, s->title, sizeof s->title);
    if (int err = ReadRegionList(L, t, "dragregion", s->dragRegions, &s->dragRegionCount)) return err;
    if (int err = ReadRegionList(L, t, "sizeregion", s->sizeRegions, &s->sizeRegionCount)) return err;
    // Creation options.
    double factor = 1.0;
    if (GetFieldNumber(L, t, "scalefactor", &factor)) {
        // A factor of 0 or below would give a zero-sized window and divisions by zero.
        if (!(factor > 0)) return ERR_WRONGUSAGE;
        s->scaleFactor = factor;
        s->scaleFactorGiven = 1;
    }
    GetFieldInt(L, t, "fillpen", &s->fillPen);
    int present = 0;
    GetFieldObjectId(L, t, "palette", &s->palette, &present);
    s->paletteGiven = present;
    GetFieldBool(L, t, "__backfill", &s->backfill);
    GetFieldBool(L, t, "__resourcemonitor", &s->resourceMonitor);
    GetFieldInt(L, t, "__restorewidth", &s->restoreWidth);
    GetFieldInt(L, t, "__restoreheight", &s->restoreHeight);
    char *blob = nullptr;
    size_t blobLength = 0;
    if (GetFieldStringDup(L, t, "__placement", &blob, &blobLength)) {
        FreeMemory(s->placement);
        s->placement = (uint8_t *)blob;
        s->placementLength = blobLength;
    }
    char modeName[64];
    if (GetFieldStringBuf(L, t, "mode", modeName, sizeof modeName)) {
        if (!(s->mode = FindDisplayModeByName(modeName))) return ERR_WRONGUSAGE;
    }
    if (GetFieldInt(L, t, "scrwidth", &s->screenWidth) && s->screenWidth == LV_NATIVE)
        if (int err = MonitorSize(s->monitor, 0, &s->screenWidth)) return err;
    if (GetFieldInt(L, t, "scrheight", &s->screenHeight) && s->screenHeight == LV_NATIVE)
        if (int err = MonitorSize(s->monitor, 1, &s->screenHeight)) return err;
    GetFieldInt(L, t, "scrdepth", &s->screenDepth);
    GetFieldBool(L, t, "desktop", &s->desktop);
    if (int err = ReadBackfillTable(L, t, &s->backfillBlock, s->backfillBrushFile, sizeof s->backfillBrushFile))
        return err;
    FreeUserTags(s->userTags, 1);
    s->userTags = nullptr;
    return ReadUserTags(L, t, nullptr, nullptr, &s->userTags);
}

// ---- Stored display records -----------------------------------------------------------------

static bool AtLeast(int major, int minor, int wantMajor, int wantMinor)
{
    return major > wantMajor || (major == wantMajor && minor >= wantMinor);
}

// A 16-bit length and that many bytes into a bounded field; longer is refused.
static int ReadBoundedString(lvAppletCursor *c, char *field, size_t capacity)
{
    uint16_t length = 0;
    if (int err = ReadAppletBE16(c, &length)) return err;
    if (length >= capacity) return ERR_READ;
    if (int err = ReadAppletBytes(c, field, length)) return err;
    field[length] = 0;
    return 0;
}

static int ReadRegions(lvAppletCursor *c, lvDisplayRegion *regions, int *count)
{
    uint32_t n = 0;
    if (int err = ReadAppletBE32(c, &n)) return err;
    // More regions than the record holds cannot be kept: refused like a short record.
    if (n > LV_STORED_REGIONS) return ERR_READ;
    for (uint32_t i = 0; i < n; i++) {
        uint32_t v[5];
        for (uint32_t &w : v)
            if (int err = ReadAppletBE32(c, &w)) return err;
        regions[i] = {(int)v[0], (int)v[1], (int)v[2], (int)v[3], (int)v[4]};
    }
    *count = (int)n;
    return 0;
}

static int ReadAppletBackfill(lvAppletCursor *c, lvDisplayBackfill *f)
{
    uint8_t type = 0;
    if (int err = ReadAppletByte(c, &type)) return err;
    f->type = type;
    uint32_t w[5];
    auto words = [&](int n) {
        for (int i = 0; i < n; i++)
            if (int err = ReadAppletBE32(c, &w[i])) return err;
        return 0;
    };
    int err = 0;
    switch (type) {
    case 1:
        if (!(err = words(1))) f->startColour = w[0];
        break;
    case 2:
        if (!(err = words(2))) f->startColour = w[0], f->endColour = w[1];
        break;
    case 3:
        if (!(err = words(1))) f->brush = (int)w[0];
        break;
    case 4: {
        if ((err = words(5))) break;
        f->brush = (int)w[0];
        f->x = (int)w[1];
        f->y = (int)w[2];
        f->startColour = w[3];
        f->endColour = w[4];
        uint8_t b[2];
        if ((err = ReadAppletByte(c, &b[0])) || (err = ReadAppletByte(c, &b[1]))) break;
        f->scalePicture = b[0];
        f->smoothScale = b[1];
        break;
    }
    default:
        break;
    }
    return err;
}

static int ReadDisplayBody(lvAppletCursor *c, lvDisplayOptions *o, int major, int minor)
{
    uint32_t w[6];
    for (uint32_t &v : w)
        if (int err = ReadAppletBE32(c, &v)) return err;
    o->bgpic = (int)w[0];
    o->x = (int)w[1];
    o->y = (int)w[2];
    o->width = (int)w[3];
    o->height = (int)w[4];
    o->colour = w[5];
    o->gradient.startColour = w[5];
    uint32_t v = 0;
    if (int err = ReadAppletBE32(c, &o->styleFlags)) return err;
    if (int err = ReadAppletBE32(c, &v)) return err;  // kept by no one
    if (int err = ReadAppletBE32(c, &v)) return err;
    o->scaleWidth = (int)v;
    if (int err = ReadAppletBE32(c, &v)) return err;
    o->scaleHeight = (int)v;
    if (int err = ReadRegions(c, o->dragRegions, &o->dragRegionCount)) return err;
    if (int err = ReadRegions(c, o->sizeRegions, &o->sizeRegionCount)) return err;
    if (int err = ReadBoundedString(c, o->title, sizeof o->title)) return err;
    if (!AtLeast(major, minor, 4, 7)) return 0;
    uint8_t b = 0;
    uint16_t h = 0;
    if (int err = ReadAppletByte(c, &b)) return err;
    o->fillStyle = b;
    if (int err = ReadAppletBE32(c, &v)) return err;
    o->gradient.endColour = v;
    if (int err = ReadAppletBE16(c, &h)) return err;
    o->gradient.angle = (int16_t)h;
    uint32_t t[3];
    for (uint32_t &x : t)
        if (int err = ReadAppletBE32(c, &x)) return err;
    o->textureBrush = (int)t[0];
    o->textureX = (int)t[1];
    o->textureY = (int)t[2];
    if (!AtLeast(major, minor, 5, 0)) return 0;
    if (int err = ReadGradientFromApplet(c, &o->gradient)) return err;
    if (!AtLeast(major, minor, 5, 2)) return 0;
    if (int err = ReadBoundedString(c, o->string1, sizeof o->string1)) return err;
    if (!AtLeast(major, minor, 5, 3)) return 0;
    if (int err = ReadAppletByte(c, &b)) return err;
    o->orientation = b;
    if (!AtLeast(major, minor, 6, 0)) return 0;
    uint8_t monitor, menuPresent, mode, desktop, depth, hideTitle;
    uint16_t sw, sh;
    if (int err = ReadAppletByte(c, &monitor)) return err;
    if (int err = ReadAppletByte(c, &menuPresent)) return err;
    if (int err = ReadAppletBE32(c, &v)) return err;
    o->monitor = monitor;
    o->menu = menuPresent ? (int)v : -1;
    if (int err = ReadAppletByte(c, &mode)) return err;
    if (int err = ReadAppletByte(c, &desktop)) return err;
    if (int err = ReadAppletBE16(c, &sw)) return err;
    if (int err = ReadAppletBE16(c, &sh)) return err;
    if (int err = ReadAppletByte(c, &depth)) return err;
    if (int err = ReadAppletByte(c, &hideTitle)) return err;
    o->mode = mode;
    o->desktop = desktop;
    o->screenWidth = (int16_t)sw;
    o->screenHeight = (int16_t)sh;
    o->screenDepth = depth;
    o->hideTitleBar = hideTitle;
    o->backfill.hideTitleBar = hideTitle;
    if (int err = ReadAppletBackfill(c, &o->backfill)) return err;
    if (int err = ReadBoundedString(c, o->string2, sizeof o->string2)) return err;
    if (int err = ReadBoundedString(c, o->string3, sizeof o->string3)) return err;
    if (int err = ReadBoundedString(c, o->string4, sizeof o->string4)) return err;
    if (!AtLeast(major, minor, 8, 0)) return 0;
    if (int err = ReadBoundedString(c, o->string5, sizeof o->string5)) return err;
    if (int err = ReadAppletBE32(c, &v)) return err;
    // 16.16 fixed point; 0 means the factor was not given.
    o->scaleFactor = v ? v / 65536.0 : 1.0;
    if (int err = ReadAppletBE32(c, &o->styleFlags2)) return err;
    if (!AtLeast(major, minor, 9, 0)) return 0;
    if (int err = ReadAppletByte(c, &b)) return err;
    o->immersiveMode = b;
    if (int err = ReadAppletBE32(c, &v)) return err;
    o->palette = (int)v;
    if (int err = ReadAppletBE32(c, &v)) return err;
    o->fillPen = (int)v;
    return 0;
}

int ReadAppletDisplayRecord(lvAppletCursor *cursor, lvLinkedObject *object, int major, int minor)
{
    lvDisplayOptions *o = (lvDisplayOptions *)AllocMemory(sizeof(lvDisplayOptions), 1);
    if (!o) return ERR_MEM;
    InitDisplayDefaults(o);
    if (int err = ReadDisplayBody(cursor, o, major, minor)) {
        FreeMemory(o);
        return err;
    }
    FreeMemory(object->payload);
    object->payload = o;
    object->freePayload = nullptr;
    return 0;
}

int AddDefaultDisplayRecord(lvAppletRecord *applet, const char *title)
{
    lvDisplayOptions o;
    InitDisplayDefaults(&o);
    o.styleFlags |= DSTYLE_ACTIVE;
    if (title && title[0]) std::snprintf(o.title, sizeof o.title, "%s", title);
    return AddLinkedDisplay(applet, 10, 1, &o, sizeof o, nullptr);
}

int ReadAppletBackfillBlock(lvAppletCursor *cursor, int, int, void **block)
{
    lvDisplayBackfill *f = (lvDisplayBackfill *)AllocMemory(sizeof(lvDisplayBackfill), 1);
    if (!f) return ERR_MEM;
    if (int err = ReadAppletBackfill(cursor, f)) {
        FreeMemory(f);
        return err;
    }
    *block = f;
    return 0;
}

static lvDisplayOptions *DisplayOptionsOf(lvAppletRecord *applet, uint32_t number)
{
    for (lvLinkedObject *o = applet->linkedObjects; o; o = o->next)
        if (o->type == 10 && o->identifier == number) return (lvDisplayOptions *)o->payload;
    return nullptr;
}

int ApplyAppletDisplaySettings(lvAppletRecord *applet)
{
    const lvDisplaySettingsBlock &h = applet->displaySettings;
    bool settings = h.mode || h.screenWidth != -1 || h.screenHeight != -1 || h.screenDepth != -1 ||
                    h.desktop != -1 || h.backfill || h.hideTitleBar;
    if (!settings && !applet->displayPatch.present) return 0;
    lvDisplayOptions *o = DisplayOptionsOf(applet, 1);
    if (!o) {
        if (int err = AddDefaultDisplayRecord(applet, applet->title[0] ? applet->title : "Lumivarra")) return err;
        o = DisplayOptionsOf(applet, 1);
    }
    if (h.mode) o->mode = h.mode;
    if (h.screenWidth != -1) o->screenWidth = h.screenWidth;
    if (h.screenHeight != -1) o->screenHeight = h.screenHeight;
    if (h.screenDepth != -1) o->screenDepth = h.screenDepth;
    if (h.desktop != -1) o->desktop = h.desktop;
    if (h.backfill) o->backfill = *(const lvDisplayBackfill *)h.backfill;
    o->hideTitleBar = h.hideTitleBar;
    const lvDisplayPatch &patch = applet->displayPatch;
    if (patch.present) {
        if (patch.fields & LV_PATCH_SIZE) o->width = patch.width, o->height = patch.height;
        if (patch.fields & LV_PATCH_COLOR) o->colour = patch.color;
        if (patch.fields & LV_PATCH_POSITION) o->x = patch.x, o->y = patch.y;
        if (patch.fields & LV_PATCH_SCALE) o->scaleWidth = patch.scaleWidth, o->scaleHeight = patch.scaleHeight;
        o->styleFlags |= patch.setFlags;
        if (patch.title[0]) std::snprintf(o->title, sizeof o->title, "%s", patch.title);
    }
    return 0;
}

// One record takes the start-up options; 0 and -1 mean "not given", and so does a
// scale factor of 1.
static void OverrideDisplay(lvDisplayOptions *o, const lvAppletRecord *a)
{
    if (a->displayMode > 0) o->mode = a->displayMode;
    if (a->screenWidth != -1) o->screenWidth = a->screenWidth;
    if (a->screenHeight != -1) o->screenHeight = a->screenHeight;
    if (a->screenDepth != -1) o->screenDepth = a->screenDepth;
    if (a->windowWidth > 0) o->width = a->windowWidth;
    if (a->windowHeight > 0) o->height = a->windowHeight;
    if (a->scaleFactor != 1.0 && a->scaleFactor > 0) o->scaleFactor = a->scaleFactor;
    if (a->scaleWidth > 0) o->scaleWidth = a->scaleWidth;
    if (a->scaleHeight > 0) o->scaleHeight = a->scaleHeight;
    if (a->monitor > 0) o->monitor = a->monitor;
    if (a->backfill.type > 0) {
        o->backfill.type = a->backfill.type;
        o->backfill.startColour = (uint32_t)a->backfill.startColor;
        o->backfill.endColour = (uint32_t)a->backfill.endColor;
        o->backfill.x = a->backfill.pictureX;
        o->backfill.y = a->backfill.pictureY;
    }
    if (a->hideTitleBar) o->hideTitleBar = 1;
    o->styleFlags |= (uint32_t)a->displayFlags1;
    o->styleFlags2 |= (uint32_t)a->displayFlags2;
}

void ApplyStartupDisplayOverrides(lvAppletRecord *applet, int allDisplays)
{
    for (lvLinkedObject *o = applet->linkedObjects; o; o = o->next)
        if (o->type == 10 && o->payload && (allDisplays || o->identifier == 1))
            OverrideDisplay((lvDisplayOptions *)o->payload, applet);
}

// ---- Creating declared displays ---------------------------------------------------------------

// Script booleans are the numbers 1 and 0.
static void SetFieldBoolean(lvState *L, const char *name, int value)
{
    SetFieldInt(L, name, value ? 1 : 0);
}

static void PushRegionList(lvState *L, const char *name, const lvDisplayRegion *regions, int count)
{
    PushString(L, name);
    PushNewTable(L);
    for (int i = 0; i < count; i++) {
        PushNewTable(L);
        SetFieldInt(L, "type", regions[i].type);
        SetFieldInt(L, "x", regions[i].x);
        SetFieldInt(L, "y", regions[i].y);
        SetFieldInt(L, "width", regions[i].width);
        SetFieldInt(L, "height", regions[i].height);
        SetTableItemRaw(L, -2, i);
    }
    SetTableValueRaw(L, -3);
}

void PushPresetDisplayOptions(lvState *L, const lvDisplayOptions *o, int number, int backgroundLinked)
{
    PushNewTable(L);
    SetFieldString(L, "title", o->title);
    SetFieldInt(L, "x", o->x);
    SetFieldInt(L, "y", o->y);
    if (o->scaleFactor != 1.0) SetFieldNumber(L, "scalefactor", o->scaleFactor);
    if (o->scaleWidth) SetFieldInt(L, "scalewidth", o->scaleWidth);
    if (o->scaleHeight) SetFieldInt(L, "scaleheight", o->scaleHeight);
    if (o->styleFlags & DSTYLE_BGPIC) {
        SetFieldInt(L, "bgpic", number == 1 && backgroundLinked ? 1 : o->bgpic);
    } else {
        SetFieldInt(L, "width", o->width);
        SetFieldInt(L, "height", o->height);
        SetFieldInt(L, "fillstyle", o->fillStyle);
        if (o->fillStyle == 3) {
            SetFieldInt(L, "texturebrush", o->textureBrush);
            SetFieldInt(L, "texturex", o->textureX);
            SetFieldInt(L, "texturey", o->textureY);
        } else if (o->fillStyle != 2) {
            SetFieldUInt(L, "color", o->colour);
        }
    }
    for (const auto &b : styleBooleans)
        if (o->styleFlags & b.bit) SetFieldBoolean(L, b.name, 1);
    if (o->styleFlags & DSTYLE_AUTOSCALE) SetFieldInt(L, "scalemode", 1);
    if (o->styleFlags & DSTYLE_LAYERSCALE) SetFieldInt(L, "scalemode", 2);
    for (const auto &b : style2Booleans)
        if (o->styleFlags2 & b.bit) SetFieldBoolean(L, b.name, 1);
    for (const auto &b : givenBooleans)
        if ((o->styleFlags & b.bit) || (o->styleFlags2 & b.givenBit)) SetFieldBoolean(L, b.name, (o->styleFlags & b.bit) != 0);
    if (o->styleFlags2 & DSTYLE2_SCALESWITCHGIVEN)
        SetFieldBoolean(L, "scaleswitch", (o->styleFlags2 & DSTYLE2_SCALESWITCH) != 0);
    if (o->dragRegionCount) PushRegionList(L, "dragregion", o->dragRegions, o->dragRegionCount);
    if (o->sizeRegionCount) PushRegionList(L, "sizeregion", o->sizeRegions, o->sizeRegionCount);
    SetFieldInt(L, "orientation", o->orientation);
    SetFieldInt(L, "immersivemode", o->immersiveMode);
    SetFieldInt(L, "monitor", o->monitor + 1);
    if (o->menu != -1) SetFieldInt(L, "menu", o->menu);
    if (o->palette) {
        SetFieldInt(L, "palette", o->palette);
        SetFieldInt(L, "fillpen", o->fillPen);
    }
    SetFieldString(L, "mode", DisplayModeName(o->mode));
    if (o->screenWidth > 0) SetFieldInt(L, "scrwidth", o->screenWidth);
    if (o->screenHeight > 0) SetFieldInt(L, "scrheight", o->screenHeight);
    if (o->screenDepth > 0) SetFieldInt(L, "scrdepth", o->screenDepth);
    if (o->desktop > 0) SetFieldBoolean(L, "desktop", 1);
    if (o->restoreWidth) SetFieldInt(L, "__restorewidth", o->restoreWidth);
    if (o->restoreHeight) SetFieldInt(L, "__restoreheight", o->restoreHeight);
    if (o->backfill.type || o->hideTitleBar) {
        PushString(L, "backfill");
        PushNewTable(L);
        SetFieldBoolean(L, "hidetitlebar", o->hideTitleBar);
        if (o->backfill.type > 0 && o->backfill.type < 5) {
            const lvDisplayBackfill &f = o->backfill;
            SetFieldString(L, "type", backfillTypes[f.type]);
            SetFieldUInt(L, "color", f.startColour);
            SetFieldUInt(L, "startcolor", f.startColour);
            SetFieldUInt(L, "endcolor", f.endColour);
            SetFieldInt(L, "x", f.x);
            SetFieldInt(L, "y", f.y);
            SetFieldInt(L, "brush", f.brush);
            SetFieldBoolean(L, "scalepicture", f.scalePicture);
            SetFieldBoolean(L, "smoothscale", f.smoothScale);
        }
        SetTableValueRaw(L, -3);
    }
}

int CreatePresetDisplay(lvState *L, lvLinkedObject *object, int backgroundLinked)
{
    const lvDisplayOptions *o = (const lvDisplayOptions *)object->payload;
    lvDisplayOptions defaults;
    if (!o) {
        InitDisplayDefaults(&defaults);
        o = &defaults;
    }
    // A remembered placement replaces the declared geometry.
    lvDisplayOptions placed = *o;
    lvDisplayPlacement stored;
    int usePlacement = ApplyDisplayPlacement(L, (int)object->identifier, &placed) &&
                       ReadDisplayPlacement(L, (int)object->identifier, &stored);
    if (usePlacement) o = &placed;
    int top = GetStackTop(L);
    lvDisplayRequest request;
    InitDisplayRequest(&request);
    PushPresetDisplayOptions(L, o, (int)object->identifier, backgroundLinked);
    int err = ReadDisplayOptions(L, -1, &request);
    SetStackTop(L, top);
    if (!err && usePlacement && stored.osdataLength) {
        FreeMemory(request.placement);
        request.placement = (uint8_t *)AllocMemory(stored.osdataLength, 0);
        if (request.placement) std::memcpy(request.placement, stored.osdata, stored.osdataLength);
        request.placementLength = request.placement ? stored.osdataLength : 0;
    }
    if (!err) err = CreateDisplayFromRequest(L, (int)object->identifier, 0, &request, nullptr);
    FreeDisplayRequest(&request);
    return err;
}

// ---- The attribute form --------------------------------------------------------------------

// The fill options of the attribute form, over the display's own fill.
void StartAttributeRequest(const lvDisplay *d, lvAttributeRequest *q)
{
    std::memset(q, 0, sizeof *q);
    q->scaleMode = -1;
    q->monitor = -1;
    q->fillStyle = d->fillStyle;
    q->colour = d->colour;
    q->gradient = d->gradient;
    q->textureBrush = d->textureBrush;
    q->textureX = d->textureX;
    q->textureY = d->textureY;
}

static int ReadAttributeFill(lvState *L, int t, lvAttributeRequest *q)
{
    int style = 0, present = 0;
    if (GetFieldInt(L, t, "fillstyle", &style)) {
        if (style < 1 || style > 3) return ERR_WRONGUSAGE;
        q->fillStyle = style;
        q->fillGiven = 1;
    }
    int colour = 0;
    if (GetFieldInt(L, t, "color", &colour)) q->colour = (uint32_t)colour, q->fillGiven = 1;
    if (GetFieldInt(L, t, "fillpen", &q->fillPen)) q->fillPenGiven = q->fillGiven = 1;
    static const char *const gradientNames[] = {"gradientstyle",   "gradientstartcolor", "gradientendcolor",
                                                "gradientangle",   "gradientcenterx",    "gradientcentery",
                                                "gradientbalance", "gradientborder",     "gradientcolors"};
    for (const char *name : gradientNames) {
        int top = GetStackTop(L);
        PushString(L, name);
        GetTableValue(L, t);
        present = GetValueType(L, -1) != LV_TNIL;
        SetStackTop(L, top);
        if (present) {
            if (int err = ParseGradientTags(L, t, &q->gradient, 0, 0)) return err;
            q->fillGiven = 1;
            break;
        }
    }
    if (GetFieldObjectId(L, t, "texturebrush", &q->textureBrush)) q->fillGiven = 1;
    if (GetFieldInt(L, t, "texturex", &q->textureX)) q->fillGiven = 1;
    if (GetFieldInt(L, t, "texturey", &q->textureY)) q->fillGiven = 1;
    return 0;
}

int ReadAttributeOptions(lvState *L, int t, const lvDisplay *d, lvAttributeRequest *q)
{
    StartAttributeRequest(d, q);
    auto flag = [&](const char *name, uint32_t bit, uint32_t *set, uint32_t *clear) {
        int on = 0, present = 0;
        GetFieldBool(L, t, name, &on, &present);
        if (present) *(on ? set : clear) |= bit;
    };
    for (const auto &b : styleBooleans) flag(b.name, b.bit, &q->setFlags, &q->clearFlags);
    for (const auto &b : style2Booleans) flag(b.name, b.bit, &q->setFlags2, &q->clearFlags2);
    for (const auto &b : givenBooleans) {
        int on = 0, present = 0;
        GetFieldBool(L, t, b.name, &on, &present);
        if (!present) continue;
        *(on ? &q->setFlags : &q->clearFlags) |= b.bit;
        q->setFlags2 |= b.givenBit;
    }
    q->titleGiven = ReadTitleField(L, t, q->title, sizeof q->title);
    GetFieldInt(L, t, "x", &q->x, &q->xGiven);
    GetFieldInt(L, t, "y", &q->y, &q->yGiven);
    if (GetFieldInt(L, t, "scalemode", &q->scaleMode) && (q->scaleMode < 0 || q->scaleMode > 2)) return ERR_WRONGUSAGE;
    int present = 0;
    if (GetFieldInt(L, t, "scalewidth", &q->scaleWidth, &present) && q->scaleWidth < 1) return ERR_WRONGUSAGE;
    if (GetFieldInt(L, t, "scaleheight", &q->scaleHeight, &present) && q->scaleHeight < 1) return ERR_WRONGUSAGE;
    int monitor = 0;
    if (GetFieldInt(L, t, "monitor", &monitor)) {
        if (monitor < 1 || monitor > MonitorCount()) return ERR_MONITORRANGE;
        q->monitor = monitor - 1;
    }
    int top = GetStackTop(L);
    PushString(L, "bgpic");
    GetTableValue(L, t);
    if (GetValueType(L, -1) != LV_TNIL) {
        q->bgpicGiven = 1;
        q->bgpic = GetObjectIdArg(L, GetStackTop(L));
    }
    SetStackTop(L, top);
    int before = -1;
    q->dragRegionCount = before;
    if (int err = ReadRegionList(L, t, "dragregion", q->dragRegions, &q->dragRegionCount)) return err;
    q->dragGiven = q->dragRegionCount != before;
    q->sizeRegionCount = before;
    if (int err = ReadRegionList(L, t, "sizeregion", q->sizeRegions, &q->sizeRegionCount)) return err;
    q->sizeGiven = q->sizeRegionCount != before;
    // The own BGPic's size and fill; the device values; the menu strip.
    int monitorIndex = q->monitor >= 0 ? q->monitor : d->monitor;
    if (int err = ReadSizeField(L, t, "width", monitorIndex, 0, &q->width)) return err;
    if (int err = ReadSizeField(L, t, "height", monitorIndex, 1, &q->height)) return err;
    if (int err = ReadAttributeFill(L, t, q)) return err;
    q->orientationGiven = GetFieldInt(L, t, "orientation", &q->orientation);
    q->immersiveGiven = GetFieldInt(L, t, "immersivemode", &q->immersiveMode);
    GetFieldBool(L, t, "forcexy", &q->forceXY);
    q->menu = -1;
    if ((q->menuGiven = GetFieldInt(L, t, "menu", &q->menu)) && q->menu != -1) {
        // The adapter's missing support first, then the menu that cannot be found.
        const lvDisplayAdapterState *a = GetDisplayAdapter();
        if (a && !(a->flags & LVP_ADAPTER_MENUS)) return ERR_DISPLAYADAPTERSUPPORT;
        lvMenu *m = nullptr;
        if (int err = FindMenuById({q->menu, nullptr}, &m)) return err;
    }
    return 0;
}

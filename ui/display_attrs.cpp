// display_attrs.cpp - GetAttribute(DISPLAY, id, attribute): what a script can ask about a
// display. The font attributes belong to the text library: they go to the attribute
// callback of its font type (the current font), ERR_UNIMPLCMD while no text library runs.
//
// Depends on: ui/display.h, ui/display_attrs.h, ui/display_modes.h.
#include "ui/display_attrs.h"
#include "ui/pointers.h"

#include "base/lverrors.h"
#include "platform/lvplatform.h"
#include "raster/lvdrawstate.h"
#include "raster/lvraster.h"
#include "formats/lvformats.h"
#include "images/lvpalette.h"
#include "runtime/cmdsupport.h"
#include "runtime/plugin.h"
#include "ui/display_modes.h"
#include "ui/menus.h"
#include "vm/lvvm.h"

namespace {

int Push(lvState *L, double value)
{
    PushNumber(L, value);
    return 1;
}

int MonitorCount(void)
{
    lvMonitorRect monitors[32];
    return GetMonitorList(monitors, 32);
}

int BestMonitor(const lvDisplay *d)
{
    lvMonitorRect monitors[32];
    int count = GetMonitorList(monitors, 32);
    return FindBestMonitor(monitors, count, d->x, d->y, d->width + d->borderWidth, d->height + d->borderHeight);
}

// The three values of ATTROUTPUTDEVICE.
int PushOutputDevice(lvState *L, const lvDisplay *d)
{
    const lvDrawTarget &t = d->select.blit.target;
    if (d->select.doubleBufferActive) {
        PushNumber(L, 38);
        PushNumber(L, 0);
        PushNumber(L, 0);
        return 3;
    }
    lvBGPic *out = GetCurrentOutput();
    if (t.kind == OUTPUT_DISPLAY || !out) {
        PushNumber(L, LV_TYPE_DISPLAY);
        PushObjectId(L, GetObjectIdOf(&d->header));
        PushNumber(L, 0);
        return 3;
    }
    PushNumber(L, out->selectedType);
    PushObjectId(L, GetObjectIdOf(&out->header));
    PushNumber(L, t.kind == OUTPUT_BGPIC ? 0 : t.kind);
    return 3;
}

// The font object type of the text library; its callback answers for the current font
// when given the identifier 0.
enum { FONT_OBJECT_TYPE = 43 };

int PushCurrentFontAttribute(lvState *L, int attribute)
{
    lvObjectType *type = FindObjectType(FONT_OBJECT_TYPE);
    if (!type || !type->attribute) return ERR_UNIMPLCMD;
    return type->attribute(L, attribute, lvObjectId{0, nullptr});
}

// The BGPic's pens as a table indexed from 0 (empty without a palette).
int PushBGPicPalette(lvState *L, const lvBGPic *b)
{
    PushNewTable(L);
    for (int i = 0; b && b->palette && b->depth <= 8 && i < (1 << b->depth); i++) {
        PushNumber(L, i);
        PushNumber(L, b->palette[i] & 0xFFFFFFu);
        SetTableValueRaw(L, -3);
    }
    return 1;
}

}  // namespace

lvMonitorRect ComputeTaskbarRect(const lvMonitorRect &b, const lvMonitorRect &u)
{
    lvMonitorRect none = {0, 0, 0, 0};
    if (u.width <= 0 || u.height <= 0) return none;
    if (u.y > b.y) return {b.x, b.y, b.width, u.y - b.y};                                  // top
    if (u.y + u.height < b.y + b.height) return {b.x, u.y + u.height, b.width, b.y + b.height - u.y - u.height};
    if (u.x > b.x) return {b.x, b.y, u.x - b.x, b.height};                                 // left
    if (u.x + u.width < b.x + b.width) return {u.x + u.width, b.y, b.x + b.width - u.x - u.width, b.height};
    return none;
}

int GetDisplayAttribute(lvState *L, int attribute, lvObjectId id)
{
    // Identifier 0 asks about the current display.
    lvDisplay *d = id.number == 0 && !id.handle ? GetCurrentDisplay() : nullptr;
    if (!d)
        if (int err = FindDisplayById(id, &d)) return err;
    int pw = d->bgpic ? d->bgpic->scaledWidth : d->width, ph = d->bgpic ? d->bgpic->scaledHeight : d->height;
    auto monitor = [&](lvMonitorRect *m) { return GetMonitorRect(d, m); };
    lvMonitorRect m;
    switch (attribute) {
    case 0: return Push(L, pw);
    case 1: return Push(L, ph);
    case 2:
    case 3:
    case 28:
    case 29: {
        if (int err = monitor(&m)) return err;
        if (attribute == 2) return Push(L, m.width - d->borderWidth);
        if (attribute == 3) return Push(L, m.height - d->borderHeight);
        return Push(L, attribute == 28 ? m.width : m.height);
    }
    case 4:
        if (!d->bgpic) return ERR_UNKNOWNATTR;
        PushObjectId(L, GetObjectIdOf(&d->bgpic->header));
        return 1;
    case 6: return Push(L, d->bgpic ? CountBGPicLayers(d->bgpic) : 0);
    case 7: return Push(L, d->x);
    case 8: return Push(L, d->y);
    case 21: return Push(L, d->select.cursorX);
    case 22: return Push(L, d->select.cursorY);
    case 24: return Push(L, d->borderLeft);
    case 25: return Push(L, d->borderTop);
    case 26: return Push(L, d->borderWidth - d->borderLeft);
    case 27: return Push(L, d->borderHeight - d->borderTop);
    case 38: PushDisplayPointerId(L, d); return 1;
    case 40: return Push(L, d->state);
    case 41: return Push(L, d->active);
    case 42: return Push(L, IsDisplayFullScreen(d) ? 2 : 1);
    case 43: return Push(L, d->autoscale ? 1 : d->layerScale ? 2 : 0);
    case 44: return Push(L, d->scaleWidth ? d->scaleWidth : d->width);
    case 45: return Push(L, d->scaleHeight ? d->scaleHeight : d->height);
    case 46: return Push(L, (d->styleFlags & DSTYLE_BORDERLESS) != 0);
    case 47: return Push(L, (d->styleFlags & DSTYLE_FIXED) != 0);
    case 48: return Push(L, (d->styleFlags & DSTYLE_SIZEABLE) != 0);
    case 49: return Push(L, (d->styleFlags & DSTYLE_NOHIDE) != 0);
    case 50: return Push(L, (d->styleFlags & DSTYLE_NOMODESWITCH) != 0);
    case 61: return Push(L, (d->styleFlags & DSTYLE_NOCLOSE) != 0);
    case 51:
        PushString(L, d->title);
        return 1;
    case 52: return Push(L, d->select.marginLeft);
    case 53: return Push(L, d->select.marginRight);
    case 54: return PushOutputDevice(L, d);
    case 55: return Push(L, d->select.doubleBufferActive || d->redirected || d->adapterDoubleBuffer);
    case 56: return Push(L, 24);
    case 63: return Push(L, RasterState.maskMode);
    case 64: return Push(L, RasterState.alphaIntensity);
    case 67: return Push(L, d->width);
    case 68: return Push(L, d->height);
    case 69: return Push(L, d->select.layersOn);
    case 70: return Push(L, d->orientation);
    case 71: return Push(L, d->keyboard);
    case 77: return Push(L, d->density);
    case 78: return Push(L, d->dpiX > 0 ? d->dpiX : 96);
    case 79: return Push(L, d->dpiY > 0 ? d->dpiY : 96);
    case 86: return Push(L, BestMonitor(d) + 1);
    case 87: {
        const lvDisplayAdapterState *a = GetDisplayAdapter();
        const char *name = a && a->record ? (a->record->moduleName ? a->record->moduleName : a->record->name) : nullptr;
        PushString(L, name ? name : "inbuilt");
        return 1;
    }
    case 88: {
        const lvMenu *m = GetDisplayMenu(d);
        if (m && m->header.handle) {
            PushPointer(L, m->header.handle);
            return 1;
        }
        return Push(L, m ? m->header.identifier : -1);
    }
    case 89: return Push(L, MonitorCount());
    case 92: return Push(L, GetDisplayAdapter() ? 0 : (d->styleFlags & DSTYLE_MAXIMIZED) != 0);
    case 95: return Push(L, 0);   // sprites come with the layer engine
    case 96:
    case 97:
    case 100: return Push(L, WindowOps()->GetSystemScale());
    case 101: return Push(L, d->immersiveMode);
    case 102: return Push(L, d->systemBars);
    case 103: return Push(L, d->bgpic ? d->bgpic->depth : 24);
    case 105: return Push(L, d->bgpic && d->bgpic->palette ? d->bgpic->transparentColour : -1);
    case 107: return Push(L, RasterState.drawPen);
    case 108: return Push(L, RasterState.paletteMode);
    case 109: return Push(L, RasterState.ditherMode);
    case 120: return Push(L, (d->autoscale || d->layerScale) ? d->smoothScale : 0);
    case 121: return Push(L, (d->styleFlags2 & DSTYLE2_SCALESWITCHGIVEN) && !(d->styleFlags2 & DSTYLE2_SCALESWITCH) ? 0 : 1);
    case 30: case 31: case 32: case 33: case 34: case 35: case 113: case 114: case 115: case 116: case 117:
    case 118: case 124: case 125: case 128:
        return PushCurrentFontAttribute(L, attribute);
    case 104: return PushBGPicPalette(L, d->bgpic);
    case 106:
        PushCycleTable(L, d->bgpic ? (const lvCycleRange *)d->bgpic->cycleTable : nullptr,
                       d->bgpic ? d->bgpic->cycleCount : 0);
        return 1;
    case 111: return Push(L, DrawingState.drawStyle.shadowPen);
    case 112: return Push(L, DrawingState.drawStyle.borderPen);
    case 119: return Push(L, DrawingState.fontStyle.bulletPen);
    case 93: return Push(L, HostTitleBarHeight());
    case 94: {
        // The task bar of the display's monitor: its bounds less its usable area. Task
        // bars that hide themselves leave the usable area whole, so auto-hide is not known.
        lvMonitorRect monitors[32], usable[32], bar = {0, 0, 0, 0};
        int count = GetMonitorList(monitors, 32);
        int usableCount = GetDisplayAdapter() ? 0 : ListUsableMonitorBounds(usable, 32);
        int mon = d->monitor;
        if (mon >= 0 && mon < count && mon < usableCount) bar = ComputeTaskbarRect(monitors[mon], usable[mon]);
        PushNumber(L, bar.x);
        PushNumber(L, bar.y);
        PushNumber(L, bar.width);
        PushNumber(L, bar.height);
        PushNumber(L, 0);
        return 5;
    }
    default:
        return ERR_UNKNOWNATTR;
    }
}

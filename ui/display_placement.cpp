// display_placement.cpp - the remembered placement of windows: a numbered display with
// the rememberposition bit writes its geometry into the applet's preferences ("__placement",
// keyed by display number) when it closes, and the declared display reads it back at the
// next start. "osdata" is the window state of our own platform layer: a little-endian
// block {version, x, y, width, height, maximised}.
//
// Depends on: ui/display.h, ui/display_placement.h, libs/prefs_engine.h, libs/lib_core4.h.
#include "ui/display_placement.h"

#include <cstring>

#include "base/lverrors.h"
#include "libs/lib_core4.h"
#include "libs/prefs_engine.h"
#include "platform/lvplatform.h"
#include "runtime/cmdsupport.h"

static void PutWord(uint8_t *p, int32_t v)
{
    uint32_t u = (uint32_t)v;
    for (int i = 0; i < 4; i++) p[i] = (uint8_t)(u >> (8 * i));
}

static int32_t TakeWord(const uint8_t *p)
{
    uint32_t u = 0;
    for (int i = 0; i < 4; i++) u |= (uint32_t)p[i] << (8 * i);
    return (int32_t)u;
}

void EncodeWindowOsData(const lvWindowOsData *in, uint8_t out[LV_OSDATA_SIZE])
{
    PutWord(out, LV_OSDATA_VERSION);
    PutWord(out + 4, in->x);
    PutWord(out + 8, in->y);
    PutWord(out + 12, in->width);
    PutWord(out + 16, in->height);
    PutWord(out + 20, in->maximised);
}

int DecodeWindowOsData(const uint8_t *data, size_t length, lvWindowOsData *out)
{
    // A stored blob is outside input: anything but our own size and version is ignored.
    if (!data || length != LV_OSDATA_SIZE || TakeWord(data) != LV_OSDATA_VERSION) return 0;
    lvWindowOsData d = {TakeWord(data + 4), TakeWord(data + 8), TakeWord(data + 12), TakeWord(data + 16),
                        TakeWord(data + 20)};
    if (d.width < 1 || d.height < 1 || (d.maximised != 0 && d.maximised != 1)) return 0;
    *out = d;
    return 1;
}

static int PrefsPath(lvState *L, char *path, size_t size)
{
    const char *identifier = GetApplicationHooks()->GetIdentifier(L);
    if (!identifier || !*identifier) return ERR_WRONGUSAGE;
    char folder[LV_PATH_SIZE];
    if (!GetPrefsFolder(folder, sizeof folder)) return ERR_MEM;
    return BuildPrefsPath(folder, identifier, path, size);
}

// Pushes the preferences table (a new one when there is no file yet). 0 or the code.
static int PushPrefs(lvState *L, const char *path)
{
    int err = ReadPrefsFile(L, path, 0, nullptr, nullptr);
    if (err == ERR_READFILE) {
        PushNewTable(L);
        return 0;
    }
    return err;
}

int SaveDisplayPlacement(lvState *L, lvDisplay *d)
{
    if (!L || d->header.handle || !(d->styleFlags & DSTYLE_REMEMBERPOSITION)) return 0;
    char path[LV_PATH_SIZE];
    if (int err = PrefsPath(L, path, sizeof path)) return err;
    int top = GetStackTop(L);
    if (int err = PushPrefs(L, path)) return err;
    int prefs = GetStackTop(L);
    PushString(L, "__placement");
    GetTableValueRaw(L, prefs);
    if (GetValueType(L, -1) != LV_TTABLE) {
        SetStackTop(L, prefs);
        PushString(L, "__placement");
        PushNewTable(L);
        SetTableValueRaw(L, prefs);
        PushString(L, "__placement");
        GetTableValueRaw(L, prefs);
    }
    int placement = GetStackTop(L);
    PushNumber(L, d->header.identifier);
    PushNewTable(L);
    int windowed = !IsDisplayFullScreen(d);
    SetFieldInt(L, "active", windowed);
    if (windowed) {
        int autoscaled = d->autoscale && d->scaleWidth > 0;
        SetFieldInt(L, "x", d->x);
        SetFieldInt(L, "y", d->y);
        SetFieldInt(L, "width", d->bgpic ? d->bgpic->scaledWidth : d->width);
        SetFieldInt(L, "height", d->bgpic ? d->bgpic->scaledHeight : d->height);
        SetFieldNumber(L, "scalefactor", d->scaleFactor > 0 ? d->scaleFactor : 1.0);
        SetFieldInt(L, "scalewidth", autoscaled ? d->scaleWidth + d->marginLeft + d->marginRight : 0);
        SetFieldInt(L, "scaleheight", autoscaled ? d->scaleHeight + d->marginTop + d->marginBottom : 0);
        SetFieldInt(L, "autoscale", d->autoscale && !d->layerScale);
        SetFieldInt(L, "layerscale", d->layerScale);
        SetFieldInt(L, "sizeable", (d->styleFlags & DSTYLE_SIZEABLE) != 0);
        PushString(L, "osdata");
        if (GetDisplayAdapter()) {
            PushString(L, "");
        } else {
            lvWindowOsData os = {d->x, d->y, d->width, d->height, (d->styleFlags & DSTYLE_MAXIMIZED) != 0};
            uint8_t blob[LV_OSDATA_SIZE];
            EncodeWindowOsData(&os, blob);
            PushSizedString(L, (const char *)blob, sizeof blob);
        }
        SetTableValueRaw(L, -3);
    }
    SetTableValueRaw(L, placement);
    int err = WritePrefsFile(L, path, prefs, nullptr, nullptr);
    SetStackTop(L, top);
    if (d->bgpic) {
        d->restoreWidth = d->bgpic->scaledWidth;
        d->restoreHeight = d->bgpic->scaledHeight;
    }
    return err;
}

int ReadDisplayPlacement(lvState *L, int number, lvDisplayPlacement *out)
{
    std::memset(out, 0, sizeof *out);
    char path[LV_PATH_SIZE];
    if (PrefsPath(L, path, sizeof path)) return 0;
    int top = GetStackTop(L);
    if (PushPrefs(L, path)) return 0;
    int found = 0;
    PushString(L, "__placement");
    GetTableValueRaw(L, -2);
    if (GetValueType(L, -1) == LV_TTABLE) {
        PushNumber(L, number);
        GetTableValueRaw(L, -2);
        if (GetValueType(L, -1) == LV_TTABLE) {
            int e = GetStackTop(L);
            int active = 0;
            GetFieldInt(L, e, "active", &active);
            out->scaleFactor = 1.0;
            if (active && GetFieldInt(L, e, "x", &out->x) && GetFieldInt(L, e, "y", &out->y)) {
                GetFieldInt(L, e, "width", &out->width);
                GetFieldInt(L, e, "height", &out->height);
                GetFieldNumber(L, e, "scalefactor", &out->scaleFactor);
                GetFieldInt(L, e, "scalewidth", &out->scaleWidth);
                GetFieldInt(L, e, "scaleheight", &out->scaleHeight);
                GetFieldInt(L, e, "autoscale", &out->autoscale);
                GetFieldInt(L, e, "layerscale", &out->layerScale);
                GetFieldInt(L, e, "sizeable", &out->sizeable);
                char *blob = nullptr;
                size_t length = 0;
                if (GetFieldStringDup(L, e, "osdata", &blob, &length)) {
                    lvWindowOsData os;
                    if (DecodeWindowOsData((const uint8_t *)blob, length, &os)) {
                        std::memcpy(out->osdata, blob, LV_OSDATA_SIZE);
                        out->osdataLength = LV_OSDATA_SIZE;
                    }
                    FreeMemory(blob);
                }
                if (out->scaleFactor <= 0) out->scaleFactor = 1.0;
                found = out->width > 0 && out->height > 0;
            }
        }
    }
    SetStackTop(L, top);
    return found;
}

int ApplyDisplayPlacement(lvState *L, int number, lvDisplayOptions *o)
{
    if (!(o->styleFlags & DSTYLE_REMEMBERPOSITION) || o->mode == DISPMODE_FAKEFULLSCREEN ||
        o->mode == DISPMODE_FULLSCREENSCALE)
        return 0;
    lvDisplayPlacement p;
    if (!ReadDisplayPlacement(L, number, &p)) return 0;
    int layer = (o->styleFlags & DSTYLE_LAYERSCALE) != 0;
    int autoscale = ((o->styleFlags & DSTYLE_AUTOSCALE) != 0 || o->mode == DISPMODE_SYSTEMSCALE) && !layer;
    int sizeable = (o->styleFlags & DSTYLE_SIZEABLE) != 0;
    // Settings that change the window's geometry make the stored one meaningless.
    if ((p.autoscale != 0) != (autoscale != 0) || (p.layerScale != 0) != layer || (p.sizeable != 0) != sizeable)
        return 0;
    o->x = p.x;
    o->y = p.y;
    o->scaleWidth = p.scaleWidth;
    o->scaleHeight = p.scaleHeight;
    o->scaleFactor = p.scaleFactor;
    o->restoreWidth = p.width;
    o->restoreHeight = p.height;
    o->styleFlags &= ~DSTYLE_FITSCALE;
    o->monitor = 0;
    // Unscaled, the window is the picture: it comes back at its stored size.
    if (!autoscale && !layer) {
        o->width = p.width;
        o->height = p.height;
    }
    return 1;
}

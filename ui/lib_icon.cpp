// lib_icon.cpp - the "icon" library's commands: icons made from brushes, changed entry by
// entry, saved and loaded in the native icon format, and SetTrayIcon, which shows a brush,
// an icon or the application's icon in the tray (the platform's StatusNotifierItem).
// Depends on: ui/icons.h, images/lvbrush.h, formats/lvformats.h, platform/lvplatform_tray.h.
// Limits: script thread only.
#include "ui/icons.h"

#include <climits>
#include <cstdio>
#include <cstring>
#include <unistd.h>

#include "base/lverrors.h"
#include "formats/lvformats.h"
#include "images/lvbrush.h"
#include "platform/lvplatform.h"
#include "platform/lvplatform_tray.h"
#include "platform/lvplatform_windows.h"
#include "raster/lvimage.h"
#include "runtime/cmdsupport.h"
#include "runtime/container.h"
#include "runtime/errors.h"
#include "ui/display.h"
#include "ui/lib_clipboard.h"
#include "vm/lvvm.h"

namespace {

const char kNativeFormat[] = "Lumivarra Icon";

int IntArg(lvState *L, int index, int fallback)
{
    if (GetStackTop(L) < index || GetValueType(L, index) == LV_TNIL) return fallback;
    int64_t v = NumberToInt64(CheckNumberArg(L, index));
    return v < INT_MIN ? INT_MIN : v > INT_MAX ? INT_MAX : (int)v;
}

// The pens, palette and depth of a palette picture (pens null for a 32-bit one).
struct lvEntryPens {
    uint8_t *pens;
    uint32_t *palette;
    int depth, transparentPen;
};

void FreeEntryPens(lvEntryPens *p)
{
    FreeMemory(p->pens);
    FreeMemory(p->palette);
    *p = {nullptr, nullptr, 0, -1};
}

// The ARGB words of a brush (a palette brush's transparent pen comes out clear), and for
// a palette brush also a copy of its pens and palette.
int BrushPixels(lvState *L, lvObjectId id, uint32_t **argb, int *width, int *height, lvEntryPens *pens)
{
    *pens = {nullptr, nullptr, 0, -1};
    lvBrush *b = nullptr;
    if (int code = FindBrushById(L, id, &b, 0)) return code;
    *width = b->width;
    *height = b->height;
    if (int code = ClipboardArgbFromBrush(b, argb)) return code;
    if (!b->penBitmap || !b->palette || b->depth < 1 || b->depth > 8) return 0;
    size_t count = (size_t)b->width * b->height;
    pens->pens = (uint8_t *)AllocMemory(count ? count : 1, 0);
    pens->palette = (uint32_t *)AllocMemory(256 * 4, 0);
    lvBitMapLock lock = {};
    int code = pens->pens && pens->palette ? 0 : ERR_MEM;
    if (!code && !LockBitmapHandle(b->penBitmap, LOCK_READONLY, &lock)) code = ERR_MEM;
    if (!code) {
        if (lock.bytesPerPixel != 1 || lock.width < b->width || lock.height < b->height) code = ERR_WRONGUSAGE;
        for (int y = 0; !code && y < b->height; y++)
            std::memcpy(pens->pens + (size_t)y * b->width, lock.pixels + (size_t)y * lock.rowLength, b->width);
        UnlockBitmapHandle(&lock);
    }
    if (code) {
        FreeEntryPens(pens);
        FreeMemory(*argb);
        *argb = nullptr;
        return code;
    }
    std::memcpy(pens->palette, b->palette, 256 * 4);
    pens->depth = b->depth;
    pens->transparentPen = b->transparentColour;
    return 0;
}

// The ARGB words of an image file loaded through the image loader chain; alpha is forced
// opaque when the picture has no alpha channel. A vector picture answers ERR_ICONVECTOR
// (icon entries keep pixels only).
int FilePixels(const char *path, const char *loader, const char *adapter, uint32_t **argb, int *width, int *height)
{
    *argb = nullptr;
    lvImageLoadRequest request;
    std::memset(&request, 0, sizeof request);
    request.transparentPen = -1;
    request.loaderList = loader && *loader ? loader : nullptr;
    request.adapter = adapter && *adapter ? adapter : nullptr;
    lvImageSource *source = nullptr;
    int lineWidth = 0, isVector = 0;
    int code = LoadImageSource(path, &request, &source, width, height, &lineWidth, &isVector);
    FreeMemory(request.palette);
    if (code) return code;
    const uint32_t *pixels = isVector ? nullptr : TakeImageSourcePixels(source);
    if (isVector) code = ERR_ICONVECTOR;
    else if (!pixels || *width < 1 || *height < 1 || *width > LV_MAX_ICON_SIDE || *height > LV_MAX_ICON_SIDE ||
             (lineWidth && lineWidth < *width))
        code = ERR_WRONGUSAGE;
    else if (!(*argb = (uint32_t *)AllocMemory((size_t)*width * *height * 4, 0)))
        code = ERR_MEM;
    if (!code) {
        size_t stride = lineWidth ? (size_t)lineWidth : (size_t)*width;
        for (int y = 0; y < *height; y++) {
            uint32_t *row = *argb + (size_t)y * *width;
            std::memcpy(row, pixels + y * stride, (size_t)*width * 4);
            if (!request.hasAlpha)
                for (int x = 0; x < *width; x++) row[x] |= 0xFF000000u;
        }
    }
    ReleaseImageSource(source);
    return code;
}

// The pixels of one image field ("image" or "selimage") of an entry table: a brush id
// for type 3, a file name (a linked file's name is mapped) for type 44.
int EntryImagePixels(lvState *L, int index, const char *field, int type, uint32_t **argb, int *width, int *height,
                     int *present, lvEntryPens *pens)
{
    *present = 0;
    *pens = {nullptr, nullptr, 0, -1};
    if (type == 3) {
        lvObjectId id = {0, nullptr};
        GetFieldObjectId(L, index, field, &id, present);
        return *present ? BrushPixels(L, id, argb, width, height, pens) : 0;
    }
    // Every reader that may raise runs before the name is copied.
    char loader[256] = "", adapter[256] = "";
    GetFieldText(L, index, "loader", loader, sizeof loader - 1);
    GetFieldText(L, index, "adapter", adapter, sizeof adapter - 1);
    char *path = nullptr;
    GetFieldStringDup(L, index, field, &path, nullptr, LV_FIELD_LINKED, present);
    if (!*present) return 0;
    if (!path) return ERR_MEM;
    int code = FilePixels(path, loader, adapter, argb, width, height);
    FreeMemory(path);
    return code;
}

// Reads one entry table at index into a new entry: brush (3) and file (44) entries of
// 32-bit pictures.
int ReadEntry(lvState *L, int index, const lvIconEntry *existing, lvIconEntry **out)
{
    *out = nullptr;
    int type = 3, standard = 0;
    GetFieldInt(L, index, "type", &type);
    GetFieldInt(L, index, "standard", &standard);
    if (standard)
        for (const lvIconEntry *e = existing; e; e = e->next)
            if (e->standard) return ERR_ICONSTANDARD;
    if (type != 3 && type != 44) return ERR_WRONGUSAGE;
    // A raising field reader must not leak the entry being built.
    struct Guard {
        lvIconEntry *entry;
        ~Guard() { FreeIconEntries(entry); }
    } guard = {(lvIconEntry *)AllocMemory(sizeof(lvIconEntry), 1)};
    lvIconEntry *e = guard.entry;
    if (!e) return ERR_MEM;
    int present = 0;
    lvEntryPens pens;
    int code = EntryImagePixels(L, index, "image", type, &e->normal, &e->width, &e->height, &present, &pens);
    e->normalPens = pens.pens;
    e->palette = pens.palette;
    e->paletteDepth = pens.depth;
    e->transparentPen = pens.transparentPen;
    if (!code && !present) {
        SetErrorStringArg("Image");
        code = ERR_MISSINGFIELD;
    }
    if (!code && (e->width > LV_MAX_ICON_SIDE || e->height > LV_MAX_ICON_SIDE)) code = ERR_WRONGUSAGE;
    for (const lvIconEntry *x = existing; !code && x; x = x->next)
        if (x->width == e->width && x->height == e->height && IconEntryDepth(x) == IconEntryDepth(e))
            code = ERR_ICONSIZE;
    if (!code) {
        int w = 0, h = 0;
        code = EntryImagePixels(L, index, "selimage", type, &e->selected, &w, &h, &present, &pens);
        // The selected image keeps its own pens; the entry's palette is the normal image's.
        e->selectedPens = pens.pens;
        FreeMemory(pens.palette);
        if (!code && present && (w != e->width || h != e->height)) code = ERR_ICONPARMS;
    }
    if (code) return code;
    e->standard = standard != 0;
    guard.entry = nullptr;
    *out = e;
    return 0;
}

// CreateIcon(id or Nil, {entry, ...}) -> handle for Nil.
int CmdCreateIcon(lvState *L)
{
    CheckArgCount(L, 2, 2, 8, 0);
    int isNil = 0;
    int number = GetIntArgOrNil(L, 1, &isNil);
    CheckTableArg(L, 2);
    if (!isNil) FreeIconById(lvObjectId{number, nullptr}, 0);
    lvIconEntry *list = nullptr;
    int top = GetStackTop(L);
    for (int i = 0;; i++) {
        GetTableItemRaw(L, 2, i);
        int t = GetValueType(L, -1);
        if (t == LV_TNIL) {
            SetStackTop(L, top);
            if (i == 0) return ERR_WRONGUSAGE;
            break;
        }
        if (t != LV_TTABLE) {
            SetStackTop(L, top);
            FreeIconEntries(list);
            return ERR_TABLEORNIL;
        }
        lvIconEntry *e = nullptr;
        int code = ReadEntry(L, GetStackTop(L), list, &e);
        SetStackTop(L, top);
        if (code) {
            FreeIconEntries(list);
            return code;
        }
        InsertIconEntry(&list, e);
    }
    lvIcon *icon = nullptr;
    if (int code = AddIconObject(number, isNil != 0, list, kNativeFormat, &icon)) return code;
    if (!isNil) return 0;
    PushObjectId(L, GetObjectIdOf(&icon->header));
    return 1;
}

int CmdFreeIcon(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    return FreeIconById(GetObjectIdArg(L, 1), 1);
}

int CmdAddIconImage(lvState *L)
{
    CheckArgCount(L, 2, 2, 0, 0);
    lvIcon *icon;
    if (int code = FindIconById(GetObjectIdArg(L, 1), &icon)) return code;
    CheckTableArg(L, 2);
    lvIconEntry *e = nullptr;
    if (int code = ReadEntry(L, 2, icon->entries, &e)) return code;
    PushNumber(L, InsertIconEntry(&icon->entries, e));
    return 1;
}

lvIconEntry **EntryLink(lvIcon *icon, int position)
{
    lvIconEntry **p = &icon->entries;
    for (int i = 1; *p && i < position; i++) p = &(*p)->next;
    return position >= 1 && *p ? p : nullptr;
}

int CmdRemoveIconImage(lvState *L)
{
    CheckArgCount(L, 2, 2, 0, 0);
    lvIcon *icon;
    if (int code = FindIconById(GetObjectIdArg(L, 1), &icon)) return code;
    lvIconEntry **link = EntryLink(icon, IntArg(L, 2, 0));
    if (!link) return ERR_ICONENTRY;
    if (CountIconEntries(icon->entries) == 1) return ERR_WRONGUSAGE;
    lvIconEntry *e = *link;
    *link = e->next;
    e->next = nullptr;
    FreeIconEntries(e);
    return 0;
}

int CmdSetStandardIconImage(lvState *L)
{
    CheckArgCount(L, 2, 2, 0, 0);
    lvIcon *icon;
    if (int code = FindIconById(GetObjectIdArg(L, 1), &icon)) return code;
    int position = IntArg(L, 2, 0);
    lvIconEntry *chosen = nullptr;
    if (position != 0) {
        lvIconEntry **link = EntryLink(icon, position);
        if (!link) return ERR_ICONENTRY;
        chosen = *link;
    }
    for (lvIconEntry *e = icon->entries; e; e = e->next) e->standard = e == chosen;
    return 0;
}

// SaveIcon(id, file[, format[, options]]): the native format only.
int CmdSaveIcon(lvState *L)
{
    CheckArgCount(L, 2, 4, 0, 0);
    lvObjectId id = GetObjectIdArg(L, 1);
    const char *path = CheckStringArg(L, 2, nullptr);
    int format = IntArg(L, 3, 0);
    lvIcon *icon;
    if (int code = FindIconById(id, &icon)) return code;
    if (format != 0) return ERR_UNKNOWNICNOUT;
    // The native picture holds 32-bit pixels only.
    for (const lvIconEntry *e = icon->entries; e; e = e->next)
        if (e->paletteDepth) return ERR_WRONGUSAGE;
    uint32_t *argb = nullptr;
    int width = 0, height = 0;
    if (int code = BuildNativeIconImage(icon->entries, &argb, &width, &height)) return code;
    int code = WritePngImage(path, nullptr, nullptr, argb, width, height, nullptr, nullptr, 32, -1, 1);
    FreeMemory(argb);
    return code;
}

// LoadIcon(id or Nil, file[, options]) -> handle for Nil: native icon files.
int CmdLoadIcon(lvState *L)
{
    CheckArgCount(L, 2, 3, 8, 0);
    int isNil = 0;
    int number = GetIntArgOrNil(L, 1, &isNil);
    // A file linked into the applet is read from the applet (the name lives in a shared
    // buffer, so it is copied first).
    char path[4096];
    std::snprintf(path, sizeof path, "%s", GetLinkedFileArg(L, 2, 0, nullptr));
    if (!isNil) FreeIconById(lvObjectId{number, nullptr}, 0);
    lvImageLoadRequest request;
    std::memset(&request, 0, sizeof request);
    request.transparentPen = -1;
    lvImageSource *source = nullptr;
    int width = 0, height = 0, lineWidth = 0, isVector = 0;
    int code = LoadImageSource(path, &request, &source, &width, &height, &lineWidth, &isVector);
    FreeMemory(request.palette);
    if (code) {
        // Missing: the read error; there but not a picture: not an icon either.
        SetErrorStringArg(path);
        return access(path, F_OK) != 0 ? ERR_READFILE : ERR_LOADICON;
    }
    lvIconEntry *entries = nullptr;
    const uint32_t *pixels = isVector ? nullptr : TakeImageSourcePixels(source);
    code = ERR_LOADICON;
    if (pixels && request.depth > 8 && (lineWidth == 0 || lineWidth == width))
        code = ParseNativeIconImage(pixels, width, height, request.hasAlpha, &entries);
    ReleaseImageSource(source);
    if (code) {
        if (code == ERR_LOADICON) SetErrorStringArg(path);
        return code;
    }
    lvIcon *icon = nullptr;
    if ((code = AddIconObject(number, isNil != 0, entries, kNativeFormat, &icon))) return code;
    if (!isNil) return 0;
    PushObjectId(L, GetObjectIdOf(&icon->header));
    return 1;
}

// SetTrayIcon(id[, tooltip[, type]]): a brush (3), an icon (59), DEFAULTICON (-2) or -1 to
// remove the tray icon.
int CmdSetTrayIcon(lvState *L)
{
    CheckArgCount(L, 1, 3, 0, 0);
    lvObjectId id = GetObjectIdArg(L, 1);
    size_t tipLength = 0;
    const char *tooltip = nullptr;
    if (GetStackTop(L) >= 2 && GetValueType(L, 2) != LV_TNIL) tooltip = CheckStringArg(L, 2, &tipLength);
    int type = IntArg(L, 3, 3);
    if (tooltip && tipLength >= 128) return ERR_WRONGUSAGE;
    double scale = WindowOps()->GetSystemScale();
    if (!(scale > 0) || scale > 64) scale = 1.0;
    uint32_t *pixels = nullptr;
    int width = 0, height = 0;
    if (!id.handle && id.number == -1) {
        if (!TrayIconShown()) return ERR_WRONGUSAGE;
    } else if (!id.handle && id.number == -2) {
        // The application's images: the runtime's own 16, 32 and 48 pixels.
        static const int sizes[] = {16, 32, 48};
        int wanted = (int)(16 * scale), best = sizes[0];
        for (int s : sizes)
            if ((s > wanted ? s - wanted : wanted - s) < (best > wanted ? best - wanted : wanted - best)) best = s;
        pixels = DrawRuntimeIcon(best);
        if (!pixels) return ERR_MEM;
        width = height = best;
    } else if (type == 3) {
        lvEntryPens pens;
        int code = BrushPixels(L, id, &pixels, &width, &height, &pens);
        FreeEntryPens(&pens);
        if (code) return code;
    } else if (type == LV_TYPE_ICON) {
        lvIcon *icon;
        if (int code = FindIconById(id, &icon)) return code;
        const lvIconEntry *e = NearestIconEntry(icon, (int)(16 * scale));
        if (!e) return ERR_MEM;
        width = e->width;
        height = e->height;
        pixels = (uint32_t *)AllocMemory((size_t)width * height * 4, 0);
        if (!pixels) return ERR_MEM;
        std::memcpy(pixels, e->normal, (size_t)width * height * 4);
    } else {
        return ERR_WRONGUSAGE;
    }
    int code;
    const lvDisplayAdapterState *a = GetDisplayAdapter();
    if (a && a->record) {
        lvDisplay *d = GetCurrentDisplay();
        if (!(a->flags & LVP_ADAPTER_TRAYICON) || !a->record->SetTrayIcon) {
            code = ERR_DISPLAYADAPTERSUPPORT;
        } else {
            lvPluginTag tags[] = {{LVP_TRAYICON_TOOLTIP, (intptr_t)tooltip}, {0, 0}};
            code = ((lvAdapterSetTrayIconFunction)a->record->SetTrayIcon)(d ? d->handle : nullptr, pixels, width,
                                                                          height, tooltip ? tags : tags + 1)
                       ? 0
                       : ERR_TRAYICON;
        }
    } else {
        code = ShowTrayIcon(pixels, width, height, tooltip);
    }
    FreeMemory(pixels);
    return code;
}

int CmdUnsupported(lvState *) { return ERR_UNSUPPORTEDFEAT; }

// GetIconProperties(id) -> table.
int CmdGetIconProperties(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    if (GetValueType(L, 1) == LV_TSTRING) return ERR_UNSUPPORTEDFEAT;
    lvIcon *icon;
    if (int code = FindIconById(GetObjectIdArg(L, 1), &icon)) return code;
    const lvIconProps &p = icon->props;
    PushNewTable(L);
    SetFieldInt(L, "type", p.type);
    SetFieldInt(L, "viewmode", p.viewmode);
    SetFieldInt(L, "viewall", p.viewall);
    SetFieldInt(L, "iconx", p.iconx);
    SetFieldInt(L, "icony", p.icony);
    SetFieldInt(L, "drawerx", p.drawerx);
    SetFieldInt(L, "drawery", p.drawery);
    SetFieldInt(L, "drawerwidth", p.drawerwidth);
    SetFieldInt(L, "drawerheight", p.drawerheight);
    SetFieldInt(L, "stacksize", p.stacksize);
    SetFieldString(L, "defaulttool", p.type == 4 && p.defaultTool ? p.defaultTool : "");
    PushString(L, "tooltypes");
    PushNewTable(L);
    int parsed = 0;
    for (int i = 0; i < p.toolTypeCount; i++) {
        lvToolType t;
        if (!ParseToolType(p.toolTypes[i], &t)) continue;
        PushNewTable(L);
        SetFieldString(L, "key", t.key);
        SetFieldString(L, "value", t.value);
        SetFieldInt(L, "enabled", t.enabled);
        SetTableItemRaw(L, -2, parsed++);
    }
    SetTableValue(L, -3);
    PushString(L, "rawtooltypes");
    PushNewTable(L);
    for (int i = 0; i < p.toolTypeCount; i++) {
        PushString(L, p.toolTypes[i]);
        SetTableItemRaw(L, -2, i);
    }
    SetTableValue(L, -3);
    PushString(L, "images");
    PushNewTable(L);
    int i = 0;
    for (const lvIconEntry *e = icon->entries; e; e = e->next) {
        PushNewTable(L);
        SetFieldInt(L, "width", e->width);
        SetFieldInt(L, "height", e->height);
        SetFieldInt(L, "standard", e->standard);
        SetFieldInt(L, "frames", e->selected ? 2 : 1);
        SetTableItemRaw(L, -2, i++);
    }
    SetTableValue(L, -3);
    return 1;
}

void FreeTextList(char **list, int count)
{
    for (int i = 0; i < count; i++) FreeMemory(list[i]);
    FreeMemory(list);
}

// Reads a list field of SetIconProperties into texts: with build set, from tool-type
// tables ({key, value, enabled}), else from strings stored as they are. The list is
// bounded before anything is allocated; nothing raises, so nothing leaks.
int ReadToolTypeList(lvState *L, int table, const char *field, int build, char ***out, int *count)
{
    *out = nullptr;
    *count = 0;
    int top = GetStackTop(L);
    int type = PushFieldValue(L, table, field);
    if (type == LV_TNIL) {
        SetStackTop(L, top);
        return 0;
    }
    if (type != LV_TTABLE) {
        SetStackTop(L, top);
        SetErrorStringArg(field);
        return ERR_TABEXPECTED2;
    }
    int list = GetStackTop(L), n = 0;
    for (;; n++) {
        GetTableItemRaw(L, list, n);
        int t = GetValueType(L, -1);
        SetStackTop(L, list);
        if (build ? t != LV_TTABLE : t == LV_TNIL) break;
        if (n >= LV_MAX_TOOLTYPES) {
            SetStackTop(L, top);
            return ERR_INTERNAL;
        }
    }
    char **texts = n ? (char **)AllocMemory(sizeof(char *) * n, 1) : nullptr;
    if (n && !texts) {
        SetStackTop(L, top);
        return ERR_MEM;
    }
    int code = 0;
    for (int i = 0; i < n && !code; i++) {
        GetTableItemRaw(L, list, i);
        int item = GetStackTop(L);
        if (!build) {
            if (GetValueType(L, item) != LV_TSTRING) {
                code = ERR_STRINGEXPECTED;
            } else {
                size_t length = ValueStringLength(L, item);
                texts[i] = (char *)AllocMemory(length + 1, 0);
                if (!texts[i]) code = ERR_MEM;
                else std::memcpy(texts[i], ValueToString(L, item), length + 1);
            }
        } else if (PushFieldValue(L, item, "key") != LV_TSTRING) {
            code = ERR_STRINGEXPECTED;
        } else {
            const char *key = ValueToString(L, -1);
            size_t keyLength = ValueStringLength(L, -1);
            const char *value = nullptr;
            size_t valueLength = 0;
            if (PushFieldValue(L, item, "value") == LV_TSTRING || GetValueType(L, -1) == LV_TNUMBER) {
                value = ValueToString(L, -1);
                valueLength = ValueStringLength(L, -1);
            }
            int enabled = 1;
            if (PushFieldValue(L, item, "enabled") == LV_TNUMBER && ValueToNumber(L, -1) == 0)
                enabled = 0;
            code = BuildToolType(key, keyLength, value, valueLength, enabled, &texts[i]);
        }
        SetStackTop(L, list);
    }
    SetStackTop(L, top);
    if (code) {
        FreeTextList(texts, n);
        return code;
    }
    *out = texts;
    *count = n;
    return 0;
}

// SetIconProperties(id, table): the new values take effect only when every one is valid.
int CmdSetIconProperties(lvState *L)
{
    CheckArgCount(L, 2, 4, 0, 0);
    if (GetValueType(L, 1) == LV_TSTRING) return ERR_UNSUPPORTEDFEAT;
    lvIcon *icon;
    if (int code = FindIconById(GetObjectIdArg(L, 1), &icon)) return code;
    CheckTableArg(L, 2);
    lvIconProps p = icon->props;
    int present = 0;
    if (GetFieldInt(L, 2, "type", &p.type, &present) && (p.type < 1 || p.type > 7)) return ERR_WRONGUSAGE;
    if (GetFieldInt(L, 2, "viewmode", &p.viewmode, &present) && (p.viewmode < 1 || p.viewmode > 5))
        return ERR_WRONGUSAGE;
    GetFieldInt(L, 2, "viewall", &p.viewall);
    GetFieldInt(L, 2, "iconx", &p.iconx);
    GetFieldInt(L, 2, "icony", &p.icony);
    GetFieldInt(L, 2, "drawerx", &p.drawerx);
    GetFieldInt(L, 2, "drawery", &p.drawery);
    GetFieldInt(L, 2, "drawerwidth", &p.drawerwidth);
    GetFieldInt(L, 2, "drawerheight", &p.drawerheight);
    GetFieldInt(L, 2, "stacksize", &p.stacksize);
    char **built = nullptr, **raw = nullptr;
    int builtCount = 0, rawCount = 0, hasBuilt = 0, hasRaw = 0;
    int code = ReadToolTypeList(L, 2, "tooltypes", 1, &built, &builtCount);
    hasBuilt = !code && PushFieldValue(L, 2, "tooltypes") != LV_TNIL;
    SetStackTop(L, 2);
    if (!code) code = ReadToolTypeList(L, 2, "rawtooltypes", 0, &raw, &rawCount);
    hasRaw = !code && PushFieldValue(L, 2, "rawtooltypes") != LV_TNIL;
    SetStackTop(L, 2);
    char *tool = nullptr;
    int toolPresent = 0;
    if (!code && PushFieldValue(L, 2, "defaulttool") != LV_TNIL) {
        toolPresent = 1;
        size_t length = ValueStringLength(L, -1);
        const char *text = ValueToString(L, -1);
        if (!text) code = ERR_STRINGEXPECTED;
        else if (!(tool = (char *)AllocMemory(length + 1, 0))) code = ERR_MEM;
        else std::memcpy(tool, text, length + 1);
    }
    SetStackTop(L, 2);
    if (code) {
        FreeTextList(built, builtCount);
        FreeTextList(raw, rawCount);
        FreeMemory(tool);
        return code;
    }
    if (toolPresent) {
        FreeMemory(icon->props.defaultTool);
        p.defaultTool = tool;
    }
    // "rawtooltypes" is read after "tooltypes", so it wins when both are given.
    if (hasBuilt && hasRaw) FreeTextList(built, builtCount);
    if (hasBuilt || hasRaw) {
        FreeTextList(icon->props.toolTypes, icon->props.toolTypeCount);
        p.toolTypes = hasRaw ? raw : built;
        p.toolTypeCount = hasRaw ? rawCount : builtCount;
    }
    icon->props = p;
    return 0;
}

int GetIconAttribute(lvState *L, int attribute, lvObjectId id)
{
    lvIcon *icon;
    if (int code = FindIconById(id, &icon)) return code;
    switch (attribute) {
    case 19: PushString(L, icon->formatName); return 1;
    case 91: PushString(L, "inbuilt"); return 1;
    case 98: PushNumber(L, CountIconEntries(icon->entries)); return 1;
    case 99: {
        int position = 0, i = 1;
        for (const lvIconEntry *e = icon->entries; e; e = e->next, i++)
            if (e->standard) position = i;
        PushNumber(L, position);
        return 1;
    }
    case 0: case 1: case 11: case 103: case 104: case 105: {
        lvIconEntry **link = EntryLink(icon, IntArg(L, 4, 1));
        if (!link) return ERR_ICONENTRY;
        const lvIconEntry *e = *link;
        if ((attribute >= 103) && IntArg(L, 5, 0) && !e->selected) return ERR_WRONGUSAGE;
        switch (attribute) {
        case 0: PushNumber(L, e->width); return 1;
        case 1: PushNumber(L, e->height); return 1;
        case 11: PushNumber(L, e->selected ? 2 : 1); return 1;
        case 103: PushNumber(L, IconEntryDepth(e)); return 1;
        case 104:
            PushNewTable(L);
            if (e->paletteDepth && e->palette)
                for (int i = 0; i < (1 << e->paletteDepth); i++) {
                    PushNumber(L, e->palette[i] & 0xFFFFFF);
                    SetTableItemRaw(L, -2, i);
                }
            return 1;
        default: PushNumber(L, e->paletteDepth ? e->transparentPen : -1); return 1;
        }
    }
    default: return ERR_UNKNOWNATTR;
    }
}

const lvCommandEntry IconCommands[] = {
    {"CreateIcon", CmdCreateIcon},
    {"FreeIcon", CmdFreeIcon},
    {"LoadIcon", CmdLoadIcon},
    {"SaveIcon", CmdSaveIcon},
    {"AddIconImage", CmdAddIconImage},
    {"RemoveIconImage", CmdRemoveIconImage},
    {"SetStandardIconImage", CmdSetStandardIconImage},
    {"GetIconProperties", CmdGetIconProperties},
    {"SetIconProperties", CmdSetIconProperties},
    {"SetTrayIcon", CmdSetTrayIcon},
    {"SetWBIcon", CmdUnsupported},
    {"ChangeApplicationIcon", CmdUnsupported},
    {nullptr, nullptr},
};

const lvConstantEntry IconConstants[] = {
    {"ICON", nullptr, 59},          {"ATTRWIDTH", nullptr, 0},         {"ATTRHEIGHT", nullptr, 1},
    {"ATTRNUMFRAMES", nullptr, 11}, {"ATTRDEPTH", nullptr, 103},       {"ATTRPALETTE", nullptr, 104},
    {"ATTRTRANSPARENTPEN", nullptr, 105}, {"ATTRSTANDARD", nullptr, 99}, {"ATTRNUMENTRIES", nullptr, 98},
    {"ATTRLOADER", nullptr, 91},    {"ATTRFORMAT", nullptr, 19},       {"ICNFMT_LUMIVARRA", nullptr, 0},
    {"AMIGAICON_NONE", nullptr, 0}, {"AMIGAICON_DISK", nullptr, 1},    {"AMIGAICON_DRAWER", nullptr, 2},
    {"AMIGAICON_TOOL", nullptr, 3}, {"AMIGAICON_PROJECT", nullptr, 4}, {"AMIGAICON_GARBAGE", nullptr, 5},
    {"AMIGAICON_DEVICE", nullptr, 6}, {"AMIGAICON_KICKSTART", nullptr, 7},
    {"AMIGAICON_NONE", "::none", 0}, {"AMIGAICON_SHOW", "::show", 0},   {"AMIGAICON_HIDE", "::hide", 0},
    {"AMIGAICON_SETTITLE", "::title", 0}, {"AMIGAICON_SETPOSITION", "::setpos", 0},
    {"DEFAULTICON", nullptr, -2},   {"VIEWMODE_NONE", nullptr, 0},     {"VIEWMODE_ICONS", nullptr, 1},
    {"VIEWMODE_NAME", nullptr, 2},  {"VIEWMODE_DATE", nullptr, 3},     {"VIEWMODE_SIZE", nullptr, 4},
    {"VIEWMODE_TYPE", nullptr, 5},  {nullptr, nullptr, 0},
};

// A click on the tray icon is a tray event of the first display.
void TrayActivated(int, int)
{
    lvAdapterEvent event = {};
    PostAdapterEventMain(LVP_EVENT_TRAYICON, &event);
}

}  // namespace

const lvConstantEntry *GetIconConstants(void) { return IconConstants; }

int ApplyApplicationIcons(lvState *, lvAppletRecord *record)
{
    lvWindowIconImage images[10];
    uint32_t *pixels[10] = {};
    int count = 0, code = 0;
    for (int i = 0; i < 10 && !code; i++) {
        const lvAppIconSlot &slot = record->icons[i];
        if (!slot.fileName) continue;
        int width = 0, height = 0;
        code = FilePixels(slot.fileName, nullptr, nullptr, &pixels[count], &width, &height);
        if (!code && (width != slot.width || height != slot.height)) {
            char size[32];
            std::snprintf(size, sizeof size, "%dx%d", slot.width, slot.height);
            SetErrorStringArg(size);
            code = ERR_ICONDIMS;
        }
        if (!code) images[count] = {pixels[count], width, height};
        count++;
    }
    if (!code) code = InstallWindowIcons(images, count);
    for (uint32_t *p : pixels) FreeMemory(p);
    return code;
}

int OpenIconLibrary(lvState *L)
{
    if (int code = RegisterCommandTable(L, IconCommands, "icon")) return code;
    lvTrayHooks hooks = {};
    hooks.Activated = TrayActivated;
    SetTrayHooks(&hooks);
    if (int code = InstallWindowIcons(nullptr, 0)) return code;
    return RegisterObjectType(LV_TYPE_ICON, "Icons", IconListHead(), GetIconAttribute, nullptr, 0);
}

void CloseIconLibrary(lvState *, int)
{
    FreeAllIcons();
    CloseTrayIcon();
    SetWindowIconImages(nullptr, 0);
}

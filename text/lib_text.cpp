// lib_text.cpp - the text library's commands over the text engine: the current
// font and style, font objects, measuring, the font list and font paths.
//
// Each command checks its argument count first, reads its arguments, calls the
// engine and pushes what it answers. Line input runs on layers, which are
// still to come: it answers ERR_UNIMPLCMD.
// Depends on: text/lvtextlib.h, runtime/cmdsupport.h, runtime/vfile.h.
// Limits: script thread only.
#include "text/lib_text.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "base/lverrors.h"
#include "libs/lib_core2.h"
#include "runtime/cmdsupport.h"
#include "runtime/errors.h"
#include "runtime/container.h"
#include "runtime/lists.h"
#include "runtime/startup.h"
#include "runtime/vfile.h"
#include "text/lvtextlib.h"
#include "images/lvbrush.h"
#include "images/lvdraw.h"
#include "images/lvpalette.h"
#include "raster/lvraster.h"
#include "raster/lvbitmap.h"
#include "runtime/encoding.h"
#include "text/lvimagefont.h"
#include "text/lvmonitor.h"
#include "text/lvtextobject.h"
#include "text/lvtextout.h"
#include "raster/lvdrawtags.h"
#include "raster/lvrect.h"
#include "vm/lvvm.h"

enum : int {
    ATTRWIDTH = 0, ATTRHEIGHT = 1, ATTRTYPE = 9, ATTRFONTASCENDER = 30, ATTRFONTDESCENDER = 31,
    ATTRFONTNAME = 32, ATTRFONTSIZE = 33, ATTRFONTSCALABLE = 34, ATTRFONTAA = 35, ATTRTEXT = 36,
    ATTRDEPTH = 103, ATTRPALETTE = 104, ATTRTRANSPARENTPEN = 105, ATTRFONTDEPTH = 113, ATTRFONTPALETTE = 114,
    ATTRFONTTRANSPARENTPEN = 115, ATTRFONTTYPE = 116, ATTRFONTENGINE = 117, ATTRFONTCHARMAP = 118,
    ATTRFONTLOADER = 124, ATTRFONTHEIGHT = 125, ATTRADJUSTX = 126, ATTRADJUSTY = 127, ATTRFONTFORMAT = 128,
};

static lvFontManager *Fonts() { return &GetTextLibrary()->fonts; }
static lvFont *CurrentFont()
{
    lvTextLibrary *t = GetTextLibrary();
    return t->currentFont ? t->currentFont : t->fonts.topaz;
}

// An integer argument, truncated toward zero and held to the int range.
static int IntArg(lvState *L, int index)
{
    int64_t v = NumberToInt64(CheckNumberArg(L, index));
    return v > INT32_MAX ? INT32_MAX : v < INT32_MIN ? INT32_MIN : (int)v;
}

// ---- Not built yet -----------------------------------------------------------------

// Printing, text output, the text cursor and tabs, line input, image fonts and
// text objects draw text: they wait for the text renderer.
static int CmdNotBuilt(lvState *) { return ERR_UNIMPLCMD; }

// ---- Measuring ---------------------------------------------------------------------

// The encoding and char spacing of TextWidth and TextExtent: a table with
// "encoding" and "charspacing", or a number that is the encoding.
static int MeasureOptions(lvState *L, int index, int *encoding, int *charSpacing)
{
    *encoding = GetDefaultTextEncoding();
    *charSpacing = 0;
    int type = GetValueType(L, index);
    if (type == LV_TTABLE) {
        GetFieldInt(L, index, "encoding", encoding);
        GetFieldInt(L, index, "charspacing", charSpacing);
    } else if (type != LV_TNIL && type != LV_TNONE) {
        *encoding = IntArg(L, index);
    }
    return *encoding == 0 || *encoding == 1 ? 0 : ERR_BADENCODING;
}

static int MeasureArgs(lvState *L, lvTextMetrics *m)
{
    CheckArgCount(L, 1, 2, 0, 0);
    int encoding, spacing;
    size_t length = 0;
    const char *text = CheckStringArg(L, 1, &length);
    if (int err = MeasureOptions(L, 2, &encoding, &spacing)) return err;
    *m = {};
    if (length == 0) return 0;
    return MeasureStyledText(encoding, spacing, nullptr, m, text, length);
}

static int CmdTextWidth(lvState *L)
{
    lvTextMetrics m;
    if (int err = MeasureArgs(L, &m)) return err;
    PushNumber(L, m.advance);
    return 1;
}

static int CmdTextHeight(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    CheckStringArg(L, 1, nullptr);
    PushNumber(L, CurrentFont()->height);
    return 1;
}

static int CmdTextExtent(lvState *L)
{
    lvTextMetrics m;
    if (int err = MeasureArgs(L, &m)) return err;
    bool empty = m.advance == 0 && m.height == 0;
    PushNewTable(L);
    SetFieldInt(L, "minx", empty ? 0 : m.leftExtension + m.minX);
    SetFieldInt(L, "maxx", empty ? 0 : m.rightExtension + m.maxX);
    SetFieldInt(L, "miny", empty ? 0 : m.topExtension + m.minY);
    SetFieldInt(L, "maxy", empty ? 0 : m.bottomExtension + m.maxY);
    SetFieldInt(L, "width", m.advance);
    SetFieldInt(L, "height", m.height);
    return 1;
}

static int CmdGetKerningPair(lvState *L)
{
    CheckArgCount(L, 2, 3, 0, 0);
    size_t la = 0, lb = 0;
    const char *a = CheckStringArg(L, 1, &la);
    const char *b = CheckStringArg(L, 2, &lb);
    int encoding = GetDefaultTextEncoding();
    if (GetValueType(L, 3) != LV_TNONE && GetValueType(L, 3) != LV_TNIL) encoding = IntArg(L, 3);
    if (encoding != 0 && encoding != 1) return ERR_BADENCODING;
    if (la == 0 || lb == 0) {
        PushNumber(L, 0);
        return 1;
    }
    std::string pair(a, la);
    pair.append(b, lb);
    PushNumber(L, GetFontKerning(Fonts(), CurrentFont(), pair.data(), pair.size(), GetFontStyle()->style & ~FORM_NORMAL,
                                 encoding));
    return 1;
}

// ---- Opening fonts -----------------------------------------------------------------

// What SetFont and OpenFont were asked for.
struct lvFontRequest {
    std::string name;              // as the font manager takes it (a linked file's ":::chunk" name)
    std::vector<uint8_t> linked;   // the linked file's bytes
    int isLinked = 0;
    int size = 0;
    int engine = FONTENGINE_NATIVE, cache = 1, usePoints = 0, charMap = CHARMAP_DEFAULT;
    char loader[256] = "";
    char adapter[256] = "";
    lvUserTag *userTags = nullptr;
    ~lvFontRequest() { FreeUserTags(userTags, 0); }
};

// A linked file's bytes, read whole.
static int ReadLinkedFont(const char *name, std::vector<uint8_t> &bytes)
{
    lvVFile *file = OpenVFile(name, LV_VF_READ, nullptr, nullptr);
    if (!file) return ERR_READ;
    int64_t size = GetVFileSize(file);
    int err = 0;
    if (size <= 0 || size > (int64_t)1 << 30) {
        err = ERR_READ;
    } else {
        bytes.resize((size_t)size);
        if (ReadVFile(file, bytes.data(), size) != size) err = ERR_READ;
    }
    CloseVFile(file);
    return err;
}

// Name at index, size at index + 1, options table at index + 2.
static int ReadFontRequest(lvState *L, int index, lvFontRequest *r)
{
    int linked = 0;
    const char *name = GetLinkedFileArg(L, index, 1, &linked);
    r->name = name;
    r->size = IntArg(L, index + 1);
    int options = index + 2;
    if (GetValueType(L, options) == LV_TTABLE) {
        GetFieldInt(L, options, "engine", &r->engine);
        GetFieldBool(L, options, "cache", &r->cache);
        GetFieldBool(L, options, "usepoints", &r->usePoints);
        GetFieldInt(L, options, "charmap", &r->charMap);
        GetFieldStringBuf(L, options, "loader", r->loader, sizeof r->loader);
        GetFieldStringBuf(L, options, "adapter", r->adapter, sizeof r->adapter);
        if (int err = ReadUserTags(L, options, nullptr, nullptr, &r->userTags)) return err;
    } else if (GetValueType(L, options) != LV_TNONE && GetValueType(L, options) != LV_TNIL) {
        return ERR_TABEXPECTED;
    }
    if (r->size <= 0) return ERR_WRONGUSAGE;
    if (linked && IsChunkName(name)) {
        r->isLinked = 1;
        if (ReadLinkedFont(name, r->linked)) return ERR_READ;
    }
    return 0;
}

static int OpenRequestedFont(lvFontRequest *r, lvFont **font)
{
    char loaders[256];
    if (r->loader[0]) {
        std::snprintf(loaders, sizeof loaders, "%s", r->loader);
    } else if (!CopyDefaultLoader(loaders, sizeof loaders, 5) || !loaders[0]) {
        std::snprintf(loaders, sizeof loaders, "%s", EngineToLoaderList(r->engine));
    }
    lvFontManager *fm = Fonts();
    int err = OpenFontByName(fm, r->name.c_str(), r->size, r->cache, r->usePoints, r->charMap,
                             r->isLinked ? r->linked.data() : nullptr, r->isLinked ? r->linked.size() : 0, loaders,
                             r->adapter, font);
    if (err == ERR_OPENFONT) SetErrorStringArg(fm->errorText);
    return err;
}

static int CmdSetFont(lvState *L)
{
    CheckArgCount(L, 2, 3, 0, 0);
    lvFontRequest r;
    if (int err = ReadFontRequest(L, 1, &r)) return err;
    lvFont *font = nullptr;
    if (int err = OpenRequestedFont(&r, &font)) return err;
    SelectTextFont(font);
    return 0;
}

static int CmdOpenFont(lvState *L)
{
    CheckArgCount(L, 3, 4, 0, 0);
    int isNil = 0;
    int number = GetIntArgOrNil(L, 1, &isNil);
    lvFontRequest r;
    if (int err = ReadFontRequest(L, 2, &r)) return err;
    lvFont *font = nullptr;
    if (int err = OpenRequestedFont(&r, &font)) return err;
    lvFontObject *object = nullptr;
    if (int err = AddFontObject(number, isNil != 0, font, &object)) return err;
    if (!isNil) return 0;
    PushObjectId(L, GetObjectIdOf(&object->header));
    return 1;
}

static int CmdCloseFont(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    return RemoveFontObject(GetObjectIdArg(L, 1));
}

static int CmdUseFont(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    lvFontObject *object = nullptr;
    if (int err = FindFontById(GetObjectIdArg(L, 1), &object)) return err;
    SelectTextFont(object->font);
    return 0;
}

// ---- The font list, glyph caches, font paths ------------------------------------------

static int CmdGetAvailableFonts(lvState *L)
{
    CheckArgCount(L, 0, 0, 0, 0);
    lvFontManager *fm = Fonts();
    DropFontList(fm);
    BuildFontList(fm, 1);
    PushNewTable(L);
    int n = 0;
    for (const lvFontListEntry *e = fm->fontList; e; e = e->next) {
        PushNewTable(L);
        SetFieldString(L, "name", e->fullName);
        SetFieldString(L, "family", e->family);
        SetFieldInt(L, "bitmap", e->bitmap ? 1 : 0);
        SetFieldInt(L, "weight", e->weight);
        SetFieldInt(L, "slant", e->slant);
        PushString(L, "sizes");
        PushNewTable(L);
        for (int i = 0; i < e->sizeCount; i++) {
            PushNumber(L, e->sizes[i]);
            SetTableItemRaw(L, -2, i);
        }
        SetTableValueRaw(L, -3);
        SetTableItemRaw(L, -2, n++);
    }
    DropFontList(fm);
    return 1;
}

static int CmdFreeGlyphCache(lvState *L)
{
    CheckArgCount(L, 1, 2, 0, 0);
    int which = IntArg(L, 1);
    if (which == 0) {
        FreeGlyphCaches(Fonts(), nullptr);
        return 0;
    }
    lvFontObject *object = nullptr;
    if (int err = FindFontById(GetObjectIdArg(L, 2), &object)) return err;
    if (object->font != Fonts()->topaz) FreeGlyphCaches(Fonts(), object->font);
    return 0;
}

static int CmdAddFontPath(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    const char *path = CheckStringArg(L, 1, nullptr);
    int err = AddFontPath(Fonts(), path);
    if (err) SetErrorStringArg(path);
    return err;
}

static int CmdGetCharMaps(lvState *L)
{
    CheckArgCount(L, 0, 0, 0, 0);
    const lvFont *font = CurrentFont();
    PushNewTable(L);
    int count = font->faceCharMapCount < 32 ? font->faceCharMapCount : 32;
    for (int i = 0; i < count; i++) {
        PushNumber(L, font->faceCharMaps[i]);
        SetTableItemRaw(L, -2, i);
    }
    return 1;
}

// ---- Colours and style ------------------------------------------------------------------

static int CmdSetFontColor(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    uint32_t colour = CheckUnsignedArg(L, 1);
    GetFontStyle()->colour = colour;
    GetFontStyle()->secondColour = colour;
    return 0;
}

static int CmdGetFontColor(lvState *L)
{
    CheckArgCount(L, 0, 0, 0, 0);
    PushNumber(L, GetFontStyle()->colour);
    return 1;
}

static int CmdSetBulletColor(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    GetFontStyle()->secondColour = CheckUnsignedArg(L, 1);
    return 0;
}

static int CmdGetBulletColor(lvState *L)
{
    CheckArgCount(L, 0, 0, 0, 0);
    PushNumber(L, GetFontStyle()->secondColour);
    return 1;
}

// SetFontStyle(style[, table]) or (SHADOW, colour[, size[, direction]]) or
// (EDGE, colour[, size]). The style changes only when every argument is good.
static int CmdSetFontStyle(lvState *L)
{
    CheckArgCount(L, 1, 4, 0, 0);
    lvFontStyle s = *GetFontStyle();
    int flags = IntArg(L, 1);
    int count = GetStackTop(L);
    if (flags & FORM_NORMAL) {
        if (count > 1 && GetValueType(L, 2) != LV_TTABLE) return ERR_TOOMANYARGS;
        GetFontStyle()->style = FORM_NORMAL;
        return 0;
    }
    if (count == 2 && GetValueType(L, 2) == LV_TTABLE) {
        double v;
        if (flags & FORM_SHADOW) {
            if (GetFieldNumber(L, 2, "shadowcolor", &v)) s.shadowColour = (uint32_t)NumberToInt64(v);
            GetFieldInt(L, 2, "shadowsize", &s.shadowSize);
            GetFieldInt(L, 2, "shadowdir", &s.shadowDirection);
        }
        if (flags & FORM_BORDER) {
            if (GetFieldNumber(L, 2, "bordercolor", &v)) s.borderColour = (uint32_t)NumberToInt64(v);
            GetFieldInt(L, 2, "bordersize", &s.borderSize);
        }
    } else if (flags == FORM_SHADOW) {
        if (count >= 2) s.shadowColour = CheckUnsignedArg(L, 2);
        if (count >= 3) s.shadowSize = IntArg(L, 3);
        if (count >= 4) s.shadowDirection = IntArg(L, 4);
    } else if (flags == FORM_BORDER) {
        if (count >= 4) return ERR_TOOMANYARGS;
        if (count >= 2) s.borderColour = CheckUnsignedArg(L, 2);
        if (count >= 3) s.borderSize = IntArg(L, 3);
    } else if (count > 1) {
        return ERR_TOOMANYARGS;
    }
    s.style = (s.style & ~FORM_NORMAL) | flags;
    ClampTextStyle(&s);
    *GetFontStyle() = s;
    return 0;
}

static int CmdGetFontStyle(lvState *L)
{
    CheckArgCount(L, 0, 0, 0, 0);
    const lvFontStyle *s = GetFontStyle();
    PushNumber(L, s->style & ~FORM_NORMAL);
    if (!(s->style & (FORM_SHADOW | FORM_BORDER))) return 1;
    PushNewTable(L);
    if (s->style & FORM_SHADOW) {
        SetFieldUInt(L, "shadowcolor", s->shadowColour);
        SetFieldInt(L, "shadowsize", s->shadowSize);
        SetFieldInt(L, "shadowdir", s->shadowDirection);
    }
    if (s->style & FORM_BORDER) {
        SetFieldInt(L, "bordersize", s->borderSize);
        SetFieldUInt(L, "bordercolor", s->borderColour);
    }
    return 2;
}

static int CmdUseFormatTags(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    int type = GetValueType(L, 1);
    GetTextLibrary()->formatTags = type == LV_TBOOLEAN ? ValueToBoolean(L, 1) : CheckNumberArg(L, 1) != 0;
    return 0;
}

// ---- Text output -----------------------------------------------------------------------

// "#NAME" inside a format tag: the number of a script constant.
static int TagConstant(void *context, const char *name, size_t length, int *value)
{
    std::string ref = "#";
    ref.append(name, length);
    size_t consumed = 0;
    const char *text = nullptr;
    double number = 0;
    if (int err = ParseScriptConstantRef((lvState *)context, ref.c_str(), &consumed, &text, &number)) return err;
    if (text) return ERR_VALUEEXPECTED;
    *value = (int)(uint32_t)NumberToInt64(number);
    return 0;
}

static void InitCommandOptions(lvState *L, lvTextOptions *o, int objectType)
{
    InitTextOptions(o, GetDefaultTextEncoding());
    o->style = *GetFontStyle();
    o->objectType = objectType;
    o->formatTagsOff = !GetTextLibrary()->formatTags;
    o->lookup = TagConstant;
    o->lookupContext = L;
    // Pens take the place of colours when pen mode draws on a palette output.
    lvDrawOutput out;
    o->paletteMode = RasterState.paletteMode == PALETTEMODE_PEN && CaptureDrawOutput(nullptr, &out, 0) == 0 &&
                     out.palette != nullptr;
}

// Numbers of the table field name from index 0 until the first missing one.
// 0 and whether it was there, or ERR_TABEXPECTED3, ERR_NUMTABLEARG, ERR_INTERNAL (more
// than limit entries, unless the entries past the limit are to be ignored).
static int ReadNumberList(lvState *L, int index, const char *name, int limit, std::vector<int> &out, bool *given,
                          bool ignoreExtras = false)
{
    *given = false;
    out.clear();
    int type = PushFieldValue(L, index, name);
    if (type == LV_TNIL || type == LV_TNONE) {
        SetStackTop(L, -2);
        return 0;
    }
    if (type != LV_TTABLE) {
        SetStackTop(L, -2);
        SetErrorStringArg(name);
        return ERR_TABEXPECTED3;
    }
    *given = true;
    int table = GetStackTop(L);
    for (int i = 0;; i++) {
        GetTableItemRaw(L, table, i);
        int t = GetValueType(L, -1);
        if (t == LV_TNIL) {
            SetStackTop(L, -2);
            break;
        }
        if ((int)out.size() >= limit && ignoreExtras) {
            SetStackTop(L, -2);
            break;
        }
        if (t != LV_TNUMBER) {
            SetStackTop(L, table - 1);
            SetErrorStringArg(name);
            return ERR_NUMTABLEARG;
        }
        if ((int)out.size() >= limit) {
            SetStackTop(L, table - 1);
            return ERR_INTERNAL;
        }
        out.push_back((int)NumberToInt64(ValueToNumber(L, -1)));
        SetStackTop(L, -2);
    }
    SetStackTop(L, table - 1);
    return 0;
}

// "tabs": at most 31 stops, sorted.
static int ReadTextTabs(lvState *L, int index, lvTextOptions *o)
{
    std::vector<int> stops;
    bool given = false;
    if (int err = ReadNumberList(L, index, "tabs", LV_TEXT_LEVELS - 1, stops, &given)) return err;
    if (!given) return 0;
    std::sort(stops.begin(), stops.end());
    o->tabCount = (int)stops.size();
    std::copy(stops.begin(), stops.end(), o->tabs);
    return 0;
}

// "listbullet", "listindent", "listoffset", "listspacing": one value for all
// levels under "def" and the name, then the levels by index.
static int ReadListOptions(lvState *L, int index, lvTextOptions *o)
{
    struct Option { const char *name; int *levels; bool negative; } options[] = {
        {"listbullet", o->listBullet, false}, {"listindent", o->listIndent, false},
        {"listoffset", o->listOffset, false}, {"listspacing", o->listSpacing, true}};
    for (const Option &opt : options) {
        char def[32];
        std::snprintf(def, sizeof def, "def%s", opt.name);
        int type = PushFieldValue(L, index, def);
        if (type != LV_TNIL && type != LV_TNONE) {
            if (type != LV_TNUMBER) {
                SetStackTop(L, -2);
                SetErrorStringArg(def);
                return ERR_TABEXPECTED3;
            }
            int v = (int)NumberToInt64(ValueToNumber(L, -1));
            if (v < 0) {
                SetStackTop(L, -2);
                return ERR_WRONGUSAGE;
            }
            for (int i = 0; i < LV_TEXT_LEVELS; i++) opt.levels[i] = v;
        }
        SetStackTop(L, -2);
        std::vector<int> values;
        bool given = false;
        if (int err = ReadNumberList(L, index, opt.name, LV_TEXT_LEVELS, values, &given)) return err;
        for (size_t i = 0; i < values.size(); i++) {
            if (values[i] < 0 && !opt.negative) return ERR_WRONGUSAGE;
            opt.levels[i] = values[i];
        }
    }
    return 0;
}

static int ReadTextOutOptions(lvState *L, int index, lvTextOptions *o)
{
    double colour;
    GetFieldInt(L, index, "align", &o->align);
    GetFieldInt(L, index, "wordwrap", &o->wrapWidth);
    GetFieldInt(L, index, "encoding", &o->encoding);
    if (GetFieldNumber(L, index, "color", &colour)) o->style.colour = (uint32_t)NumberToInt64(colour);
    GetFieldInt(L, index, "pen", &o->style.drawPen);
    GetFieldInt(L, index, "linespacing", &o->lineSpacing);
    GetFieldInt(L, index, "charspacing", &o->charSpacing);
    GetFieldBool(L, index, "listmode", &o->listMode);
    GetFieldInt(L, index, "framemode", &o->frameMode);
    GetFieldBool(L, index, "simplelist", &o->simpleList);
    int tags = 1, present = 0;
    GetFieldBool(L, index, "useformattags", &tags, &present);
    if (present) o->formatTagsOff = !tags;
    int frame = 0;
    if (GetFieldInt(L, index, "frame", &frame)) {
        if (frame < 1) return ERR_ANIMFRAME;
        o->frame = frame;
    }
    if (int err = ReadTextTabs(L, index, o)) return err;
    if (int err = ReadListOptions(L, index, o)) return err;
    bool given = false;
    if (int err = ReadNumberList(L, index, "wraptable", 1 << 24, o->wrapTable, &given)) return err;
    o->wrapTableGiven = given;
    return 0;
}

static bool IsSpecialCoordinate(int v) { return v <= -15000 && v >= -105000; }

// TextOut(x, y, text[, options]) or TextOut(x, y, text, align[, wordwrap]).
static int CmdTextOut(lvState *L)
{
    CheckArgCount(L, 3, 5, 0, 0);
    int x = IntArg(L, 1), y = IntArg(L, 2);
    size_t length = 0;
    const char *text = CheckStringArg(L, 3, &length);
    lvTextOptions o;
    InitCommandOptions(L, &o, LV_TEXT_TEXTOUT);
    if (GetValueType(L, 4) == LV_TTABLE) {
        if (GetStackTop(L) > 4) return ERR_TOOMANYARGS;
        if (int err = ReadTextOutOptions(L, 4, &o)) return err;
    } else if (GetValueType(L, 4) != LV_TNONE && GetValueType(L, 4) != LV_TNIL) {
        o.align = IntArg(L, 4);
        if (GetStackTop(L) >= 5) o.wrapWidth = IntArg(L, 5);
    }
    if (o.encoding != 0 && o.encoding != 1) return ERR_BADENCODING;
    lvDisplayTextState state;
    if (int err = GetDisplayTextState(&state)) return err;
    o.text = text;
    o.length = length;
    o.x = x, o.y = y;
    lvTextImage image;
    if (int err = LayoutText(Fonts(), CurrentFont(), &o, &image)) return err;
    // Draw tags in the options table scale or turn the text: it is laid out
    // again in the scaled font where the font scales.
    double anchorX = 0, anchorY = 0;
    if (GetValueType(L, 4) == LV_TTABLE) {
        lvDrawTags tags;
        lvStyleTags style;
        std::memset(&tags, 0, sizeof tags);
        std::memset(&style, 0, sizeof style);
        if (int err = ParseDrawTags(L, 4, image.width, image.height, image.width, image.height, 0, &tags, &style,
                                    DRAWTAGS_FROMTEMPLATE | DRAWTAGS_NEEDTABLE))
            return err;
        anchorX = tags.anchorX, anchorY = tags.anchorY;
        const lvMatrix2D &m = tags.matrix;
        if (!(m.sx == 1 && m.rx == 0 && m.ry == 0 && m.sy == 1)) {
            const double matrix[4] = {m.sx, m.rx, m.ry, m.sy};
            lvTextImage transformed;
            // A turn given with its scale factors: the scale lays the text
            // out again, the turn goes to the image.
            int err = !tags.transformGiven && tags.rotate != 0
                          ? LayoutTextScaledTurned(Fonts(), CurrentFont(), &o, tags.scaleX, tags.scaleY, tags.rotate,
                                                   tags.smoothScale, &transformed)
                          : LayoutTextTransformed(Fonts(), CurrentFont(), &o, matrix, &transformed,
                                                  tags.smoothScale);
            if (err) return err;
            image = std::move(transformed);
        }
    }
    int px = IsSpecialCoordinate(x) ? ResolveSpecialX(x, image.width, 0, anchorX)
                                    : x + image.leftExtension - (int)(image.width * anchorX);
    int py = IsSpecialCoordinate(y) ? ResolveSpecialY(y, image.height, 0, anchorY)
                                    : y + image.topExtension - (int)(image.height * anchorY);
    return OutputTextImage(L, LV_TEXT_TEXTOUT, &o, &image, px, py);
}

// The arguments as "tostring" renders them, one blank between them.
static std::string JoinPrintValues(lvState *L)
{
    int n = GetStackTop(L);
    std::string text;
    for (int i = 1; i <= n; i++) {
        if (i > 1) text.push_back(' ');
        PushString(L, "tostring");
        GetTableValue(L, LV_GLOBALSINDEX);
        PushCopy(L, i);
        CallFunction(L, 1, 1);
        size_t length = ValueStringLength(L, -1);
        const char *s = ValueToString(L, -1);
        if (s) text.append(s, length);
        SetStackTop(L, -2);
    }
    return text;
}

// The text laid out at the text cursor within the margins, with the
// display's tab stops; the cursor ends after it.
static int PrintText(lvState *L, const std::string &text)
{
    lvDisplayTextState state;
    if (int err = GetDisplayTextState(&state)) return err;
    lvTextOptions o;
    InitCommandOptions(L, &o, LV_TEXT_PRINT);
    o.text = text.data();
    o.length = text.size();
    o.cursorX = *state.cursorX;
    o.cursorY = *state.cursorY;
    o.leftMargin = *state.marginLeft;
    o.wrapWidth = *state.marginRight - *state.marginLeft + 1;
    if (o.wrapWidth < 1) o.wrapWidth = 1;
    o.tabCount = state.tabs->count;
    std::copy(state.tabs->stops, state.tabs->stops + state.tabs->count, o.tabs);
    lvTextImage image;
    if (int err = LayoutText(Fonts(), CurrentFont(), &o, &image)) return err;
    if (int err = OutputTextImage(L, LV_TEXT_PRINT, &o, &image, o.leftMargin + image.xShift + image.leftExtension,
                                  o.cursorY + image.topExtension))
        return err;
    *state.cursorX = o.leftMargin + o.finalX;
    *state.cursorY = o.cursorY + o.finalY;
    return 0;
}

static int CmdPrint(lvState *L)
{
    if (GetStackTop(L) < 1) return ERR_MISSINGPARAMTR;
    return PrintText(L, JoinPrintValues(L));
}

static int CmdNPrint(lvState *L)
{
    if (GetStackTop(L) < 1) return ERR_MISSINGPARAMTR;
    return PrintText(L, JoinPrintValues(L) + "\n");
}

static int CmdLocate(lvState *L)
{
    CheckArgCount(L, 2, 2, 0, 0);
    int x = IntArg(L, 1), y = IntArg(L, 2);
    if (IsSpecialCoordinate(x) || IsSpecialCoordinate(y)) return ERR_NOCOORDCST;
    lvDisplayTextState state;
    if (int err = GetDisplayTextState(&state)) return err;
    if (x < *state.marginLeft || x > *state.marginRight) x = *state.marginLeft;
    *state.cursorX = x;
    *state.cursorY = y;
    return 0;
}

static int CmdSetMargins(lvState *L)
{
    CheckArgCount(L, 2, 3, 0, 0);
    int left = IntArg(L, 1), right = IntArg(L, 2);
    int unchecked = 0;
    if (GetStackTop(L) >= 3) unchecked = ValueToBoolean(L, 3) || (GetValueType(L, 3) == LV_TNUMBER && ValueToNumber(L, 3) != 0);
    lvDisplayTextState state;
    if (int err = GetDisplayTextState(&state)) return err;
    if (!unchecked) {
        if (left < 0) left = 0;
        if (state.outputWidth > 0 && right > state.outputWidth - 1) right = state.outputWidth - 1;
    }
    if (left >= right) return ERR_WRONGUSAGE;
    *state.marginLeft = left;
    *state.marginRight = right;
    *state.cursorX = left;
    *state.cursorY = 0;
    return 0;
}

static int CmdAddTab(lvState *L)
{
    int n = GetStackTop(L);
    if (n < 1) return ERR_MISSINGPARAMTR;
    lvDisplayTextState state;
    if (int err = GetDisplayTextState(&state)) return err;
    for (int i = 1; i <= n; i++)
        if (int err = AddTabStop(state.tabs, IntArg(L, i))) return err;
    return 0;
}

static int CmdResetTabs(lvState *L)
{
    CheckArgCount(L, 0, 0, 0, 0);
    lvDisplayTextState state;
    if (int err = GetDisplayTextState(&state)) return err;
    state.tabs->count = 0;
    return 0;
}

// ---- Text objects ----------------------------------------------------------------------

// CreateTextObject(id, text[, options]) or (id, text[, align, wordwrap, encoding]).
static int CmdCreateTextObject(lvState *L)
{
    CheckArgCount(L, 2, 5, 0, 0);
    int isNil = 0;
    int number = GetIntArgOrNil(L, 1, &isNil);
    size_t length = 0;
    const char *text = CheckStringArg(L, 2, &length);
    lvTextOptions o;
    InitCommandOptions(L, &o, LV_TYPE_TEXTOBJECT);
    int noAdjust = 0;
    if (GetValueType(L, 3) == LV_TTABLE) {
        if (GetStackTop(L) > 3) return ERR_TOOMANYARGS;
        if (int err = ReadTextOutOptions(L, 3, &o)) return err;
        GetFieldBool(L, 3, "noadjust", &noAdjust);
    } else if (GetValueType(L, 3) != LV_TNONE && GetValueType(L, 3) != LV_TNIL) {
        o.align = IntArg(L, 3);
        if (GetStackTop(L) >= 4) o.wrapWidth = IntArg(L, 4);
        if (GetStackTop(L) >= 5) o.encoding = IntArg(L, 5);
    }
    if (o.encoding != 0 && o.encoding != 1) return ERR_BADENCODING;
    o.text = text;
    o.length = length;
    lvTextObject *object = nullptr;
    if (int err = CreateTextObjectRecord(Fonts(), CurrentFont(), number, isNil != 0, o, &object)) return err;
    object->noAdjust = noAdjust;
    if (!isNil) return 0;
    PushObjectId(L, GetObjectIdOf(&object->header));
    return 1;
}

static int CmdDisplayTextObject(lvState *L)
{
    CheckArgCount(L, 3, 4, 0, 0);
    lvTextObject *object = nullptr;
    if (int err = FindTextObjectById(GetObjectIdArg(L, 1), &object)) return err;
    int x = IntArg(L, 2), y = IntArg(L, 3);
    int tagsType = GetValueType(L, 4);
    if (tagsType != LV_TNONE && tagsType != LV_TNIL && tagsType != LV_TTABLE) return ERR_TABEXPECTED;
    const lvTextImage *image = &object->image;
    lvTextImage transformed;
    int ax = object->noAdjust ? 0 : image->leftExtension, ay = object->noAdjust ? 0 : image->topExtension;
    double anchorX = 0, anchorY = 0;
    lvStyleTags style;
    std::memset(&style, 0, sizeof style);
    if (tagsType == LV_TTABLE) {
        // The draw tags turn, filter and fade the object's image as they do a brush's.
        lvDrawTags tags;
        std::memset(&tags, 0, sizeof tags);
        if (int err = ParseDrawTags(L, 4, image->width, image->height, image->width, image->height, 0, &tags, &style,
                                    DRAWTAGS_FROMTEMPLATE | DRAWTAGS_NEEDTABLE))
            return err;
        anchorX = tags.anchorX, anchorY = tags.anchorY;
        const lvMatrix2D &m = tags.matrix;
        if (!(m.sx == 1 && m.rx == 0 && m.ry == 0 && m.sy == 1)) {
            if (int err = TransformTextImage(*image, m.sx, m.rx, m.ry, m.sy, tags.smoothScale, &transformed))
                return err;
            image = &transformed;
            if (!object->noAdjust) ax = image->leftExtension, ay = image->topExtension;
        }
    }
    int px = IsSpecialCoordinate(x) ? ResolveSpecialX(x, image->width, 0, anchorX)
                                    : x + ax - (int)(image->width * anchorX);
    int py = IsSpecialCoordinate(y) ? ResolveSpecialY(y, image->height, 0, anchorY)
                                    : y + ay - (int)(image->height * anchorY);
    return OutputTextObjectImage(L, GetObjectIdOf(&object->header), image, px, py, &style);
}

static int CmdFreeTextObject(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    return FreeTextObjectById(GetObjectIdArg(L, 1));
}

static int CmdCopyTextObject(lvState *L)
{
    CheckArgCount(L, 2, 2, 0, 0);
    lvObjectId source = GetObjectIdArg(L, 1);
    int isNil = 0;
    int number = GetIntArgOrNil(L, 2, &isNil);
    lvTextObject *object = nullptr;
    if (int err = CopyTextObjectRecord(source, number, isNil != 0, &object)) return err;
    if (!isNil) return 0;
    PushObjectId(L, GetObjectIdOf(&object->header));
    return 1;
}

static int SmoothArg(lvState *L, int index)
{
    if (GetValueType(L, index) == LV_TNONE || GetValueType(L, index) == LV_TNIL) return 0;
    return GetValueType(L, index) == LV_TBOOLEAN ? ValueToBoolean(L, index) : CheckNumberArg(L, index) != 0;
}

static int CmdScaleTextObject(lvState *L)
{
    CheckArgCount(L, 3, 4, 0, 0);
    lvTextObject *object = nullptr;
    if (int err = FindTextObjectById(GetObjectIdArg(L, 1), &object)) return err;
    double w = GetNumberOrPercentArg(L, 2, object->baseWidth, 1, nullptr);
    double h = GetNumberOrPercentArg(L, 3, object->baseHeight, 1, nullptr);
    int width = (int)w, height = (int)h;
    if (width == KEEPASPRAT && height == KEEPASPRAT) return ERR_WRONGUSAGE;
    if (width == KEEPASPRAT) width = (int)std::lround((double)height * object->baseWidth / object->baseHeight);
    if (height == KEEPASPRAT) height = (int)std::lround((double)width * object->baseHeight / object->baseWidth);
    return ScaleTextObject(Fonts(), object, width, height, SmoothArg(L, 4));
}

static int CmdRotateTextObject(lvState *L)
{
    CheckArgCount(L, 2, 3, 0, 0);
    lvTextObject *object = nullptr;
    if (int err = FindTextObjectById(GetObjectIdArg(L, 1), &object)) return err;
    return RotateTextObject(Fonts(), object, CheckNumberArg(L, 2), SmoothArg(L, 3));
}

static int CmdTransformTextObject(lvState *L)
{
    CheckArgCount(L, 5, 6, 0, 0);
    lvTextObject *object = nullptr;
    if (int err = FindTextObjectById(GetObjectIdArg(L, 1), &object)) return err;
    return TransformTextObject(Fonts(), object, CheckNumberArg(L, 2), CheckNumberArg(L, 3), CheckNumberArg(L, 4),
                               CheckNumberArg(L, 5), SmoothArg(L, 6));
}

// ---- Image fonts -----------------------------------------------------------------------

// The brush's colours with their coverage in the top byte: alpha, mask or
// colour key of an RGB brush; the pens of a palette brush through its
// palette, the transparent pen left clear.
static int ReadBrushColours(lvBrush *b, std::vector<uint32_t> &argb, int *depth)
{
    int w = b->width, h = b->height;
    argb.assign((size_t)w * h, 0);
    if (b->penBitmap && b->palette) {
        uint8_t *pens = nullptr;
        int rowBytes = 0;
        uintptr_t token = GetPlanePixels(b->penBitmap, &pens, &rowBytes, 0);
        if (!token || !pens) return ERR_LOCKBMAP;
        for (int y = 0; y < h; y++)
            for (int x = 0; x < w; x++) {
                int pen = pens[(size_t)y * rowBytes + x];
                if (pen != b->transparentColour) argb[(size_t)y * w + x] = 0xFF000000u | (b->palette[pen] & 0xFFFFFF);
            }
        ReleasePlanePixels(token);
        *depth = b->depth;
        return 0;
    }
    if (!b->bitmap) return ERR_WRONGUSAGE;
    {
        lvScopedLock lock(b->bitmap, LOCK_READONLY);
        if (!lock.token) return ERR_LOCKBMAP;
        for (int y = 0; y < h; y++)
            for (int x = 0; x < w; x++) {
                uint32_t c = ReadLockPixel(&lock.lock, x, y) & 0xFFFFFF;
                bool keyed = b->transparentColour >= 0 && c == (uint32_t)b->transparentColour;
                argb[(size_t)y * w + x] = (keyed ? 0u : 0xFF000000u) | c;
            }
    }
    if (lvBitMapHandle *plane = b->alpha ? b->alpha : b->mask) {
        uint8_t *pixels = nullptr;
        int rowBytes = 0;
        uintptr_t token = GetPlanePixels(plane, &pixels, &rowBytes, 0);
        if (!token || !pixels) return ERR_LOCKBMAP;
        for (int y = 0; y < h; y++)
            for (int x = 0; x < w; x++) {
                const uint8_t *row = pixels + (size_t)y * rowBytes;
                uint32_t a = b->alpha ? row[x] : ((row[x >> 3] >> (7 - (x & 7))) & 1) * 255u;
                uint32_t &p = argb[(size_t)y * w + x];
                p = a << 24 | (p & 0xFFFFFF);
            }
        ReleasePlanePixels(token);
    }
    *depth = 24;
    return 0;
}

// CreateFont(id, brush, characters, cell width, cell height, columns[, options]).
static int CmdCreateFont(lvState *L)
{
    CheckArgCount(L, 6, 7, 0, 0);
    int isNil = 0;
    int number = GetIntArgOrNil(L, 1, &isNil);
    lvObjectId brushId = GetObjectIdArg(L, 2);
    size_t length = 0;
    const char *characters = CheckStringArg(L, 3, &length);
    lvImageFontRequest q = {};
    q.cellWidth = IntArg(L, 4);
    q.cellHeight = IntArg(L, 5);
    q.columns = IntArg(L, 6);
    q.ascender = -1;
    char name[256] = "Font";
    std::vector<int> widths;
    bool widthsGiven = false;
    if (GetValueType(L, 7) == LV_TTABLE) {
        GetFieldInt(L, 7, "colspacing", &q.columnSpacing);
        GetFieldInt(L, 7, "rowspacing", &q.rowSpacing);
        GetFieldInt(L, 7, "ascender", &q.ascender);
        GetFieldStringBuf(L, 7, "name", name, sizeof name);
        if (int err = ReadNumberList(L, 7, "charwidth", 1024, widths, &widthsGiven, true)) return err;
    } else if (GetValueType(L, 7) != LV_TNONE && GetValueType(L, 7) != LV_TNIL) {
        return ERR_TABEXPECTED;
    }
    // A font object under the id goes first; its font stays valid.
    if (!isNil) RemoveFontObject(lvObjectId{number, nullptr});
    lvBrush *brush = nullptr;
    if (int err = FindBrushById(L, brushId, &brush, 0)) return err;
    std::string set;
    if (GetDefaultTextEncoding() == 1) {
        size_t p = 0;
        while (p < length) {
            uint32_t c = NextUtf8CodePointBounded(&p, length, characters);
            set.push_back(c > 255 ? '?' : (char)c);
        }
    } else {
        set.assign(characters, length);
    }
    std::vector<uint32_t> argb;
    if (int err = ReadBrushColours(brush, argb, &q.depth)) return err;
    q.name = name;
    q.argb = argb.data();
    q.width = brush->width, q.height = brush->height;
    q.characters = set.data();
    q.length = set.size();
    q.widths = widthsGiven ? &widths : nullptr;
    lvFont *font = nullptr;
    if (int err = CreateImageFont(&q, &font)) return err;
    if (int err = KeepImageFont(font)) {
        DestroyFont(Fonts(), font);
        return err;
    }
    lvFontObject *object = nullptr;
    if (int err = AddFontObject(number, isNil != 0, font, &object)) return err;
    if (!isNil) return 0;
    PushObjectId(L, GetObjectIdOf(&object->header));
    return 1;
}

// ---- Attributes ---------------------------------------------------------------------------

int GetFontAttribute(lvState *L, int attribute, const lvFontObject *object)
{
    const lvFont *font = object ? object->font : CurrentFont();
    switch (attribute) {
    case ATTRFONTASCENDER: PushNumber(L, font->baseline); break;
    case ATTRFONTDESCENDER: PushNumber(L, font->height - font->baseline); break;
    case ATTRFONTNAME: PushString(L, font->name); break;
    case ATTRFONTSIZE: PushNumber(L, font->size); break;
    case ATTRFONTSCALABLE: PushNumber(L, font->scalable ? 1 : 0); break;
    case ATTRFONTAA: PushNumber(L, font->antialiased ? 1 : 0); break;
    case ATTRFONTDEPTH: PushNumber(L, GetFontDepth(font)); break;
    case ATTRFONTPALETTE: {
        PushNewTable(L);
        const uint32_t *palette = GetFontPalette(font);
        int depth = GetFontDepth(font);
        int count = palette && depth >= 1 && depth <= 8 ? 1 << depth : 0;
        for (int i = 0; i < count; i++) {
            PushNumber(L, palette[i]);
            SetTableItemRaw(L, -2, i);
        }
        break;
    }
    case ATTRFONTTRANSPARENTPEN: PushNumber(L, (uint32_t)GetFontTransparentPen(font)); break;
    case ATTRFONTTYPE: PushNumber(L, FontTypeOf(font)); break;
    case ATTRFONTENGINE: PushNumber(L, FontEngineOf(font)); break;
    case ATTRFONTCHARMAP: PushNumber(L, font->charMap); break;
    case ATTRFONTLOADER: PushString(L, font->cacheEntry ? font->cacheEntry->loader : "native"); break;
    case ATTRFONTHEIGHT: PushNumber(L, font->height); break;
    case ATTRFONTFORMAT: PushString(L, font->formatName); break;
    default: return ERR_UNKNOWNATTR;
    }
    return 1;
}

// GetAttribute(#FONT, id, attribute): a font object's font; the identifier 0
// names the current font when no object has it.
static int FontObjectAttribute(lvState *L, int attribute, lvObjectId id)
{
    lvFontObject *object = nullptr;
    int err = FindFontById(id, &object);
    if (err && !(id.number == 0 && !id.handle)) return err;
    return GetFontAttribute(L, attribute, object);
}

// GetAttribute(#TEXTOBJECT, id, attribute): the object's image and layout, or
// the attributes of the font it was laid out in.
static int TextObjectAttribute(lvState *L, int attribute, lvObjectId id)
{
    lvTextObject *object = nullptr;
    if (int err = FindTextObjectById(id, &object)) return err;
    switch (attribute) {
    case ATTRWIDTH: PushNumber(L, object->width); return 1;
    case ATTRHEIGHT: PushNumber(L, object->height); return 1;
    case ATTRTYPE: PushNumber(L, 0); return 1;
    case ATTRTEXT: PushSizedString(L, object->text.data(), object->text.size()); return 1;
    case ATTRDEPTH: PushNumber(L, object->depth); return 1;
    case ATTRPALETTE: PushNewTable(L); return 1;
    case ATTRTRANSPARENTPEN: PushNumber(L, 4294967295.0); return 1;  // no pen plane
    case ATTRADJUSTX: PushNumber(L, object->adjustX); return 1;
    case ATTRADJUSTY: PushNumber(L, object->adjustY); return 1;
    default: break;
    }
    lvFontObject fontObject{};
    fontObject.font = object->font;
    return GetFontAttribute(L, attribute, &fontObject);
}

// ---- Tables --------------------------------------------------------------------------------

static const lvCommandEntry textCommands[] = {
    {"Print", CmdPrint},
    {"NPrint", CmdNPrint},
    {"TextOut", CmdTextOut},
    {"Locate", CmdLocate},
    {"SetMargins", CmdSetMargins},
    {"AddTab", CmdAddTab},
    {"ResetTabs", CmdResetTabs},
    {"TextWidth", CmdTextWidth},
    {"TextHeight", CmdTextHeight},
    {"TextExtent", CmdTextExtent},
    {"GetKerningPair", CmdGetKerningPair},
    {"SetFont", CmdSetFont},
    {"OpenFont", CmdOpenFont},
    {"CloseFont", CmdCloseFont},
    {"UseFont", CmdUseFont},
    {"CreateFont", CmdCreateFont},
    {"GetAvailableFonts", CmdGetAvailableFonts},
    {"FreeGlyphCache", CmdFreeGlyphCache},
    {"AddFontPath", CmdAddFontPath},
    {"GetCharMaps", CmdGetCharMaps},
    {"SetFontColor", CmdSetFontColor},
    {"GetFontColor", CmdGetFontColor},
    {"SetBulletColor", CmdSetBulletColor},
    {"GetBulletColor", CmdGetBulletColor},
    {"SetFontStyle", CmdSetFontStyle},
    {"GetFontStyle", CmdGetFontStyle},
    {"UseFormatTags", CmdUseFormatTags},
    {"InKeyStr", CmdNotBuilt},
    {"CreateTextObject", CmdCreateTextObject},
    {"DisplayTextObject", CmdDisplayTextObject},
    {"FreeTextObject", CmdFreeTextObject},
    {"CopyTextObject", CmdCopyTextObject},
    {"ScaleTextObject", CmdScaleTextObject},
    {"RotateTextObject", CmdRotateTextObject},
    {"TransformTextObject", CmdTransformTextObject},
    {nullptr, nullptr},
};

static const lvConstantEntry textConstants[] = {
    {"ALL", nullptr, 0},
    {"ALPHANUMERICAL", nullptr, 1},
    {"ALPHABETICAL", nullptr, 2},
    {"NUMERICAL", nullptr, 3},
    {"HEXNUMERICAL", nullptr, 4},
    {"TEXTOBJECT", nullptr, LV_TYPE_TEXTOBJECT},
    {"TEXTOUT", nullptr, 9},
    {"PRINT", nullptr, 11},
    {"FONT", nullptr, LV_TYPE_FONT},
    {"ATTRWIDTH", nullptr, ATTRWIDTH},
    {"ATTRHEIGHT", nullptr, ATTRHEIGHT},
    {"ATTRTYPE", nullptr, ATTRTYPE},
    {"ATTRTEXT", nullptr, ATTRTEXT},
    {"ATTRDEPTH", nullptr, ATTRDEPTH},
    {"ATTRPALETTE", nullptr, ATTRPALETTE},
    {"ATTRTRANSPARENTPEN", nullptr, ATTRTRANSPARENTPEN},
    {"ATTRADJUSTX", nullptr, ATTRADJUSTX},
    {"ATTRADJUSTY", nullptr, ATTRADJUSTY},
    {"ATTRFONTASCENDER", nullptr, ATTRFONTASCENDER},
    {"ATTRFONTDESCENDER", nullptr, ATTRFONTDESCENDER},
    {"ATTRFONTNAME", nullptr, ATTRFONTNAME},
    {"ATTRFONTSIZE", nullptr, ATTRFONTSIZE},
    {"ATTRFONTSCALABLE", nullptr, ATTRFONTSCALABLE},
    {"ATTRFONTAA", nullptr, ATTRFONTAA},
    {"ATTRFONTDEPTH", nullptr, ATTRFONTDEPTH},
    {"ATTRFONTPALETTE", nullptr, ATTRFONTPALETTE},
    {"ATTRFONTTRANSPARENTPEN", nullptr, ATTRFONTTRANSPARENTPEN},
    {"ATTRFONTTYPE", nullptr, ATTRFONTTYPE},
    {"ATTRFONTENGINE", nullptr, ATTRFONTENGINE},
    {"ATTRFONTCHARMAP", nullptr, ATTRFONTCHARMAP},
    {"ATTRFONTLOADER", nullptr, ATTRFONTLOADER},
    {"ATTRFONTHEIGHT", nullptr, ATTRFONTHEIGHT},
    {"ATTRFONTFORMAT", nullptr, ATTRFONTFORMAT},
    {"BITMAP_DEFAULT", LV_BITMAP_DEFAULT, 0},
    {"TRUETYPE_DEFAULT", LV_TRUETYPE_DEFAULT, 0},
    {"SANS", LV_SANS_DEFAULT, 0},
    {"SERIF", LV_SERIF_DEFAULT, 0},
    {"MONOSPACE", LV_MONOSPACE_DEFAULT, 0},
    {"FONTENGINE_NATIVE", nullptr, FONTENGINE_NATIVE},
    {"FONTENGINE_INBUILT", nullptr, FONTENGINE_INBUILT},
    {"FONTENGINE_PLUGIN", nullptr, FONTENGINE_PLUGIN},
    {"FONTTYPE_BITMAP", nullptr, FONTTYPE_BITMAP},
    {"FONTTYPE_COLOR", nullptr, FONTTYPE_COLOR},
    {"FONTTYPE_VECTOR", nullptr, FONTTYPE_VECTOR},
    {"FONTTYPE_BRUSH", nullptr, FONTTYPE_BRUSH},
    {"FONTTYPE_PLUGIN", nullptr, FONTTYPE_PLUGIN},
    {"FONTWEIGHT_THIN", nullptr, 0},
    {"FONTWEIGHT_EXTRALIGHT", nullptr, 40},
    {"FONTWEIGHT_ULTRALIGHT", nullptr, 40},
    {"FONTWEIGHT_LIGHT", nullptr, 50},
    {"FONTWEIGHT_BOOK", nullptr, 75},
    {"FONTWEIGHT_NORMAL", nullptr, 80},
    {"FONTWEIGHT_REGULAR", nullptr, 80},
    {"FONTWEIGHT_MEDIUM", nullptr, 100},
    {"FONTWEIGHT_SEMIBOLD", nullptr, 180},
    {"FONTWEIGHT_DEMIBOLD", nullptr, 180},
    {"FONTWEIGHT_BOLD", nullptr, 200},
    {"FONTWEIGHT_EXTRABOLD", nullptr, 205},
    {"FONTWEIGHT_ULTRABOLD", nullptr, 205},
    {"FONTWEIGHT_HEAVY", nullptr, 210},
    {"FONTWEIGHT_BLACK", nullptr, 210},
    {"FONTWEIGHT_EXTRABLACK", nullptr, 215},
    {"FONTWEIGHT_ULTRABLACK", nullptr, 215},
    {"FONTSLANT_ROMAN", nullptr, 0},
    {"FONTSLANT_ITALIC", nullptr, 100},
    {"FONTSLANT_OBLIQUE", nullptr, 110},
    {"BULLET_NONE", nullptr, 0},
    {"BULLET_DASH", nullptr, 1},
    {"BULLET_CROSS", nullptr, 2},
    {"BULLET_CIRCLE", nullptr, 3},
    {"BULLET_BOX", nullptr, 4},
    {"BULLET_CHECKMARK", nullptr, 5},
    {"BULLET_ARROW", nullptr, 6},
    {"BULLET_DIAMOND", nullptr, 7},
    {"BULLET_NUMERIC", nullptr, 8},
    {"BULLET_NUMERICSINGLE", nullptr, 9},
    {"BULLET_NUMERICDOUBLE", nullptr, 10},
    {"BULLET_LALPHA", nullptr, 11},
    {"BULLET_LALPHASINGLE", nullptr, 12},
    {"BULLET_LALPHADOUBLE", nullptr, 13},
    {"BULLET_UALPHA", nullptr, 14},
    {"BULLET_UALPHASINGLE", nullptr, 15},
    {"BULLET_UALPHADOUBLE", nullptr, 16},
    {"BULLET_LROMAN", nullptr, 17},
    {"BULLET_LROMANSINGLE", nullptr, 18},
    {"BULLET_LROMANDOUBLE", nullptr, 19},
    {"BULLET_UROMAN", nullptr, 20},
    {"BULLET_UROMANSINGLE", nullptr, 21},
    {"BULLET_UROMANDOUBLE", nullptr, 22},
    {"BULLET_HOLLOWCIRCLE", nullptr, 23},
    {"FRAMEMODE_FULL", nullptr, 0},
    {"FRAMEMODE_SINGLE", nullptr, 1},
    {"CHARMAP_DEFAULT", nullptr, CHARMAP_DEFAULT},
    {"CHARMAP_MSSYMBOL", nullptr, CHARMAP_MSSYMBOL},
    {"CHARMAP_UNICODE", nullptr, CHARMAP_UNICODE},
    {"CHARMAP_SJIS", nullptr, CHARMAP_SJIS},
    {"CHARMAP_BIG5", nullptr, CHARMAP_BIG5},
    {"CHARMAP_WANSUNG", nullptr, CHARMAP_WANSUNG},
    {"CHARMAP_JOHAB", nullptr, CHARMAP_JOHAB},
    {"CHARMAP_ADOBESTANDARD", nullptr, CHARMAP_ADOBESTANDARD},
    {"CHARMAP_ADOBEEXPERT", nullptr, CHARMAP_ADOBEEXPERT},
    {"CHARMAP_ADOBECUSTOM", nullptr, CHARMAP_ADOBECUSTOM},
    {"CHARMAP_ADOBELATIN1", nullptr, CHARMAP_ADOBELATIN1},
    {"CHARMAP_OLDLATIN2", nullptr, CHARMAP_OLDLATIN2},
    {"CHARMAP_APPLEROMAN", nullptr, CHARMAP_APPLEROMAN},
    {nullptr, nullptr, 0},
};

const lvCommandEntry *GetTextCommands(void) { return textCommands; }
const lvConstantEntry *GetTextConstants(void) { return textConstants; }

// ---- Declared fonts -------------------------------------------------------------------------

int PreloadLinkedFont(void *user, lvLinkedObject *object, const char *fileName, int *keepsContainer)
{
    lvState *L = static_cast<lvPreloadRun *>(user)->L;
    int top = GetStackTop(L);
    PushString(L, "openfont");
    GetTableValueRaw(L, LV_GLOBALSINDEX);
    if (GetValueType(L, -1) != LV_TFUNCTION) {
        SetStackTop(L, top);
        SetErrorStringArg("OpenFont");
        return ERR_UNIMPLCMD;
    }
    // Low 16 bits the engine, 0x10000 no cache, 0x20000 point sizes, the top
    // byte a character map.
    uint32_t flags = object->optionFlags;
    PushNumber(L, object->identifier);
    PushString(L, fileName ? fileName : "");
    PushNumber(L, (double)object->optionValue);
    PushNewTable(L);
    SetFieldInt(L, "engine", (int)(flags & 0xFFFF));
    SetFieldInt(L, "cache", flags & 0x10000 ? 0 : 1);
    SetFieldInt(L, "usepoints", flags & 0x20000 ? 1 : 0);
    if (flags >> 24) SetFieldInt(L, "charmap", (int)(flags >> 24));
    if (object->loaderName[0]) SetFieldString(L, "loader", object->loaderName);
    if (object->adapterName[0]) SetFieldString(L, "adapter", object->adapterName);
    PushUserTags(L, object->userTags);
    int code = ProtectedCall(L, 4, 0, 0);
    SetStackTop(L, top);
    return code;
}

// ---- Open and close -----------------------------------------------------------------------

static lvRefOps textRefOps;

// ExtractPalette takes a colour or image font's pens through the palette library.
static int FontPalette(lvObjectId id, const uint32_t **pens, int *depth, int *transparentPen)
{
    lvFontObject *object;
    if (int err = FindFontById(id, &object)) return err;
    *pens = GetFontPalette(object->font);
    *depth = GetFontDepth(object->font);
    *transparentPen = GetFontTransparentPen(object->font);
    return 0;
}

int OpenTextCommands(lvState *L)
{
    SetFontPaletteResolver(FontPalette);
    textRefOps = MakeRegistryRefOps(L);
    if (int err = OpenTextEngine(FontObjectAttribute, &textRefOps, TextObjectAttribute)) return err;
    InstallTextResourceMonitor();
    return RegisterCommandTable(L, textCommands, "text");
}

void CloseTextCommands(lvState *, int)
{
    RemoveTextResourceMonitor();
    CloseTextEngine();
}

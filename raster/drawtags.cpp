// drawtags.cpp - the draw-tags and style-tags parser, the filter table, the
// draw style and its clamping, and the matrix and shadow geometry of drawing.
//
// The parser reads only the command's last argument; every key has its range
// and error. Records are copied from the templates in DrawingState.
//
// Depends on: raster/lvdrawtags.h, raster/lvdrawstate.h, raster/lvscale.h
// (the rotation routine), raster/lvneighbours.h (layers, display scale),
// runtime/cmdsupport.h (option-table readers), runtime/errors.h.
// Limits: script thread only.
#include "raster/lvdrawtags.h"

#include <strings.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "raster/lvdrawstate.h"
#include "raster/lvneighbours.h"
#include "raster/lvscale.h"
#include "runtime/cmdsupport.h"
#include "runtime/errors.h"
#include "base/lverrors.h"
#include "vm/lvvm.h"

// ---- Filter table -----------------------------------------------------------

namespace {

enum : int { ARG_INT = 1, ARG_LEVEL = 2, ARG_FLOAT = 3 };

struct lvFilterArg {
    int kind;
    double value;  // default
};
struct lvFilterDef {
    const char *name;
    int count;
    lvFilterArg args[5];
};

const lvFilterDef FilterTable[FILTER_COUNT] = {
    {"blur", 1, {{ARG_FLOAT, 5.0}}},
    {"charcoal", 1, {{ARG_FLOAT, 2.0}}},
    {"contrast", 2, {{ARG_INT, 1}, {ARG_INT, 1}}},
    {"edge", 1, {{ARG_FLOAT, 5.0}}},
    {"emboss", 1, {{ARG_FLOAT, 5.0}}},
    {"gamma", 3, {{ARG_FLOAT, 1.0}, {ARG_FLOAT, 1.0}, {ARG_FLOAT, 1.0}}},
    {"grayscale", 0, {}},
    {"invert", 0, {}},
    {"modulate", 3, {{ARG_FLOAT, 100}, {ARG_FLOAT, 100}, {ARG_FLOAT, 100}}},
    {"monochrome", 1, {{ARG_INT, 1}}},
    {"oilpaint", 1, {{ARG_FLOAT, 2.0}}},
    {"pixelate", 1, {{ARG_INT, 10}}},
    {"sepiatone", 1, {{ARG_LEVEL, 204}}},
    {"sharpen", 1, {{ARG_FLOAT, 5.0}}},
    {"solarize", 1, {{ARG_LEVEL, 128}}},
    {"swirl", 1, {{ARG_INT, 180}}},
    {"tint", 2, {{ARG_INT, 0xFFFFFF}, {ARG_LEVEL, 128}}},
    {"waterripple", 5, {{ARG_INT, 32}, {ARG_INT, 1}, {ARG_INT, 0}, {ARG_FLOAT, 0.5}, {ARG_FLOAT, 0.5}}},
    {"xflip", 0, {}},
    {"yflip", 0, {}},
    {"quantize", 2, {{ARG_INT, 256}, {ARG_INT, 1}}},
};

// Integer and float arguments are stored in their own arrays, in order.
void StoreFilterArg(lvFilterSlot *slot, const lvFilterDef &def, int k, double value) {
    int ints = 0, floats = 0;
    for (int i = 0; i < k; i++) (def.args[i].kind == ARG_FLOAT ? floats : ints)++;
    if (def.args[k].kind == ARG_FLOAT) {
        if (floats < 4) slot->floats[floats] = static_cast<float>(value);
    } else if (ints < 4) {
        slot->ints[ints] = static_cast<int>(NumberToInt64(value));
    }
}

void SetFilterDefaults(lvFilterSlot *slot, int n) {
    const lvFilterDef &def = FilterTable[n];
    for (int k = 0; k < def.count; k++) StoreFilterArg(slot, def, k, def.args[k].value);
}

// Pushes t[k] of the table at index.
void PushItem(lvState *L, int index, int k) {
    PushNumber(L, k);
    GetTableValue(L, index < 0 ? index - 1 : index);
}

// A level: a number, or a percentage string taken of 255.
bool ReadLevelAt(lvState *L, int index, double *out) {
    int type = GetValueType(L, index);
    if (type == LV_TNUMBER) {
        *out = ValueToNumber(L, index);
        return true;
    }
    if (type != LV_TSTRING) return false;
    double v = 0;
    const char *text = ValueToString(L, index);
    size_t n = ValueStringLength(L, index);
    if (n && text[n - 1] == '%' && StringToNumber(text, n - 1, &v)) {
        *out = v * 255 / 100;
        return true;
    }
    return StringToNumber(text, n, out) != 0;
}

uint32_t ColourOf(double v) { return static_cast<uint32_t>(NumberToInt64(v)); }

bool GetFieldColour(lvState *L, int index, const char *name, uint32_t *out) {
    double v;
    if (!GetFieldNumber(L, index, name, &v)) return false;
    *out = ColourOf(v);
    return true;
}

int ClampByte(double v) { return v > 0 ? (v > 255 ? 255 : static_cast<int>(v)) : 0; }

}  // namespace

int HasEnabledFilter(const lvFilterSlot *slots) {
    for (int i = 0; i < FILTER_COUNT; i++)
        if (slots[i].enabled) return 1;
    return 0;
}

int IsGeometricFilter(int slot) {
    return slot == FILTER_PIXELATE || slot == FILTER_SWIRL || slot == FILTER_WATERRIPPLE || slot == FILTER_XFLIP ||
           slot == FILTER_YFLIP;
}

int HasColorFilter(const lvFilterSlot *slots) {
    for (int i = 0; i < FILTER_COUNT; i++)
        if (slots[i].enabled && !IsGeometricFilter(i)) return 1;
    return 0;
}

bool ParseFilterTags(lvState *L, int index, lvFilterSlot *slots, int *anyGiven, int *error) {
    *error = 0;
    PushString(L, "filters");
    GetTableValue(L, index < 0 ? index - 1 : index);
    int type = GetValueType(L, -1);
    if (type == LV_TNIL) {
        SetStackTop(L, -2);
        return false;
    }
    int top = GetStackTop(L) - 1;
    auto fail = [&](int code) {
        SetStackTop(L, top);
        *error = code;
        return true;
    };
    if (type != LV_TTABLE) {
        SetErrorStringArg("filters");
        return fail(ERR_TABEXPECTED2);
    }
    int filters = GetStackTop(L);
    for (int item = 0;; item++) {
        PushItem(L, filters, item);
        int t = GetValueType(L, -1);
        if (t == LV_TNIL) break;
        if (t != LV_TTABLE) {
            SetErrorStringArg("filters");
            return fail(ERR_TABEXPECTED2);
        }
        int entry = GetStackTop(L);
        PushString(L, "name");
        GetTableValue(L, entry);
        int nt = GetValueType(L, -1);
        if (nt == LV_TNIL) {
            char number[16];
            std::snprintf(number, sizeof number, "%d", item);
            SetErrorStringArg(number);
            return fail(ERR_NOFILTERNAME);
        }
        if (nt != LV_TSTRING) return fail(ERR_STRTABLEARG);
        const char *name = ValueToString(L, -1);
        int slot = -1;
        for (int i = 0; i < FILTER_COUNT && slot < 0; i++)
            if (strcasecmp(FilterTable[i].name, name) == 0) slot = i;
        if (slot < 0) {
            SetErrorStringArg(name);
            return fail(ERR_UNKNOWNFILTER);
        }
        SetStackTop(L, entry);
        auto number = [&](const char *key, double *out) -> int {  // 1 present, 0 absent, -1 not a number
            PushString(L, key);
            GetTableValue(L, entry);
            int vt = GetValueType(L, -1);
            int r = vt == LV_TNIL ? 0 : (vt == LV_TNUMBER ? 1 : -1);
            if (r == 1) *out = ValueToNumber(L, -1);
            SetStackTop(L, entry);
            return r;
        };
        double disable = 0, priority = 0;
        int r = number("disable", &disable);
        if (r < 0) {
            SetErrorStringArg("filters");
            return fail(ERR_NUMTABLEARG);
        }
        if (r == 0 || disable == 0) {
            lvFilterSlot &s = slots[slot];
            s.enabled = 1;
            if ((r = number("priority", &priority)) < 0) {
                SetErrorStringArg("filters");
                return fail(ERR_NUMTABLEARG);
            }
            s.priority = static_cast<uint8_t>(NumberToInt64(priority));
            SetFilterDefaults(&s, slot);
            PushString(L, "args");
            GetTableValue(L, entry);
            if (GetValueType(L, -1) == LV_TTABLE) {
                int args = GetStackTop(L);
                const lvFilterDef &def = FilterTable[slot];
                for (int k = 0; k < def.count; k++) {
                    PushItem(L, args, k);
                    if (GetValueType(L, -1) == LV_TNIL) break;
                    double v = 0;
                    bool ok = def.args[k].kind == ARG_LEVEL ? ReadLevelAt(L, -1, &v)
                                                             : GetValueType(L, -1) == LV_TNUMBER;
                    if (!ok) {
                        SetErrorStringArg("filters");
                        return fail(ERR_NUMTABLEARG);
                    }
                    if (def.args[k].kind != ARG_LEVEL) v = ValueToNumber(L, -1);
                    StoreFilterArg(&s, def, k, v);
                    SetStackTop(L, args);
                }
            }
        }
        SetStackTop(L, filters);
    }
    SetStackTop(L, top);
    if (anyGiven) *anyGiven = 1;
    return true;
}

// ---- Shadow and border ------------------------------------------------------

int ParseShadowTags(lvState *L, int index, lvShadowTags *shadow, int *present) {
    int on = 0, given = 0;
    GetFieldInt(L, index, "shadow", &on, &given);
    if (present) *present = given;
    if (!given) return 0;
    shadow->on = on != 0;
    if (!on) return 0;
    GetFieldColour(L, index, "shadowcolor", &shadow->colour);
    GetFieldInt(L, index, "shadowpen", &shadow->pen);
    GetFieldInt(L, index, "shadowdir", &shadow->direction);
    GetFieldInt(L, index, "shadowsize", &shadow->size);
    GetFieldNumber(L, index, "shadowradius", &shadow->radius);
    GetFieldNumber(L, index, "shadowsigma", &shadow->sigma);
    if (!(shadow->radius >= 1 && shadow->sigma > 0) || shadow->size < 0) return ERR_WRONGUSAGE;
    if (!std::isfinite(shadow->radius) || !std::isfinite(shadow->sigma)) return ERR_WRONGUSAGE;
    return 0;
}

int ParseBorderTags(lvState *L, int index, int edgeKeys, lvBorderTags *border, int *present) {
    int on = 0, given = 0;
    if (GetFieldInt(L, index, "border", &on, &given)) border->on = on != 0;
    GetFieldColour(L, index, "bordercolor", &border->colour);
    GetFieldInt(L, index, "borderpen", &border->pen);
    GetFieldInt(L, index, "bordersize", &border->size);
    if (edgeKeys) {
        GetFieldColour(L, index, "edgecolor", &border->colour);
        GetFieldInt(L, index, "edgesize", &border->size);
        GetFieldInt(L, index, "outlinethickness", &border->size);
    }
    if (present) *present = given;
    if (border->on && border->size <= 0) return ERR_WRONGUSAGE;
    return 0;
}

// ---- Matrices ---------------------------------------------------------------

void SetIdentityMatrix(lvMatrix2D *m) { *m = {1, 0, 0, 1}; }

void MatrixFromScaleRotate(lvMatrix2D *m, int width, int height, int sourceWidth, int sourceHeight, double scaleX,
                           double scaleY, double angle) {
    if (width == 0) width = sourceWidth;
    if (height == 0) height = sourceHeight;
    double a = scaleX, d = scaleY;
    if (width != sourceWidth || height != sourceHeight) {
        a = sourceWidth ? double(width) / sourceWidth : 1;
        d = sourceHeight ? double(height) / sourceHeight : 1;
    }
    BuildRotationMatrix(a, d, angle, m);
}

void ComputeDrawTagsMatrix(lvDrawTags *tags, int sourceWidth, int sourceHeight) {
    if (tags->transformGiven) tags->matrix = tags->transform;
    else
        MatrixFromScaleRotate(&tags->matrix, tags->width, tags->height, sourceWidth, sourceHeight, tags->scaleX,
                              tags->scaleY, tags->rotate);
}

void ApplyDisplayScaleToMatrix(lvMatrix2D *m, void *display) {
    const lvDisplayScaleServices &d = NeighbourServices.displays;
    double fx = 1, fy = 1;
    if (!d.GetDisplayScale(d.context, display, &fx, &fy)) return;
    m->sx *= fx;
    m->ry *= fx;
    m->rx *= fy;
    m->sy *= fy;
}

// ---- Draw tags --------------------------------------------------------------

void InitDrawTags(lvDrawTags *tags) { *tags = DrawingState.drawTagsTemplate; }
void InitStyleTags(lvStyleTags *style) { *style = DrawingState.styleTagsTemplate; }

void InitDrawTagsForSize(lvDrawTags *tags, lvStyleTags *style, int width, int height, int smoothDefault, int flags) {
    InitDrawTags(tags);
    if (style) InitStyleTags(style);
    tags->width = width;
    tags->height = height;
    if (!(flags & DRAWTAGS_SMOOTHONROTATE)) tags->smoothScale = smoothDefault;
}

namespace {

// The "transform" tag: a table of four numbers, items 0 to 3.
int ReadTransformTag(lvState *L, int index, lvDrawTags *tags, bool *given) {
    PushString(L, "transform");
    GetTableValue(L, index);
    int type = GetValueType(L, -1);
    int top = GetStackTop(L) - 1;
    *given = type != LV_TNIL;
    if (!*given) {
        SetStackTop(L, top);
        return 0;
    }
    if (type != LV_TTABLE) {
        SetStackTop(L, top);
        return ERR_WRONGUSAGE;
    }
    double v[4];
    for (int k = 0; k < 4; k++) {
        PushItem(L, -1, k);
        v[k] = GetValueType(L, -1) == LV_TNUMBER ? ValueToNumber(L, -1) : 0;
        SetStackTop(L, -2);
    }
    SetStackTop(L, top);
    if (v[0] == 0 || v[3] == 0) return ERR_WRONGUSAGE;
    for (double f : v)
        if (!std::isfinite(f)) return ERR_WRONGUSAGE;
    tags->transform = {v[0], v[1], v[2], v[3]};
    tags->transformGiven = 1;
    return 0;
}

int ReadStyleKeys(lvState *L, int index, lvStyleTags *style) {
    GetFieldInt(L, index, "hidden", &style->hidden);
    double v;
    if (GetFieldNumberOrPercent(L, index, "transparency", 255, 0, &v, nullptr)) style->transparency = ClampByte(v);
    lvFilterSlot &tint = style->filters[FILTER_TINT];
    if (GetFieldNumberOrPercent(L, index, "tint", 255, 0, &v, nullptr)) {
        int level = ClampByte(v);
        tint.enabled = level > 0;
        if (tint.enabled && !tint.ints[0]) SetFilterDefaults(&tint, FILTER_TINT);
        tint.ints[1] = level;
    }
    uint32_t colour;
    if (GetFieldColour(L, index, "tintcolor", &colour)) tint.ints[0] = static_cast<int>(colour);
    // "insertpos": a position or a layer's name.
    PushString(L, "insertpos");
    GetTableValue(L, index);
    int type = GetValueType(L, -1);
    if (type != LV_TNIL) {
        const lvLayerServices &ls = NeighbourServices.layers;
        int pos = -1;
        if (type == LV_TSTRING) {
            pos = ls.FindLayerByName(ls.context, ValueToString(L, -1));
        } else if (type == LV_TNUMBER) {
            int64_t n = NumberToInt64(ValueToNumber(L, -1));
            pos = n < 0 || n > 0x7FFFFFFF ? -1 : static_cast<int>(n);
        }
        SetStackTop(L, -2);
        if (pos < 0) return ERR_INVINSERT;
        style->insertPos = std::min(pos, ls.CountLayers(ls.context) + 1);
    } else {
        SetStackTop(L, -2);
    }
    GetFieldInt(L, index, "globaltransparency", &style->globalTransparency);
    int rc = ParseShadowTags(L, index, &style->shadow, nullptr);
    if (!rc) rc = ParseBorderTags(L, index, 0, &style->border, nullptr);
    if (rc) return rc;
    int any = 0, error = 0;
    ParseFilterTags(L, index, style->filters, &any, &error);
    if (error) return error;
    style->needsStyle = style->hidden || style->transparency || HasEnabledFilter(style->filters) ||
                        style->shadow.on || style->border.on;
    // Names: 1..255 and 1..64 characters; a group may not repeat the name.
    struct {
        const char *key;
        char *out;
        size_t max;
    } names[2] = {{"name", style->name, 255}, {"group", style->group, 64}};
    for (auto &n : names) {
        PushString(L, n.key);
        GetTableValue(L, index);
        if (GetValueType(L, -1) != LV_TNIL) {
            size_t len = 0;
            const char *text = CheckStringField(L, -1, &len, n.key);
            if (len == 0) rc = ERR_WRONGUSAGE;
            else if (len > n.max) rc = ERR_NAMETOOLONG;
            else std::memcpy(n.out, text, len + 1);
        }
        SetStackTop(L, -2);
        if (rc) return rc;
    }
    if (style->group[0] && style->name[0] && strcasecmp(style->group, style->name) == 0) return ERR_GROUPNAMEUSED;
    return 0;
}

}  // namespace

int ParseDrawTags(lvState *L, int index, int sourceWidth, int sourceHeight, int targetWidth, int targetHeight,
                  int smoothDefault, lvDrawTags *tags, lvStyleTags *style, int flags) {
    if (targetWidth == sourceWidth) targetWidth = 0;
    if (targetHeight == sourceHeight) targetHeight = 0;
    if (flags & DRAWTAGS_FROMTEMPLATE) InitDrawTagsForSize(tags, style, targetWidth, targetHeight, smoothDefault, flags);
    bool isTable = index > 0 && index == GetStackTop(L) && GetValueType(L, index) == LV_TTABLE;
    if (!isTable) {
        if ((flags & DRAWTAGS_NEEDTABLE) && !(index > 0 && GetValueType(L, index) == LV_TTABLE)) {
            SetErrorNumberArg(index);
            return ERR_TABEXPECTED;
        }
        if (tags->width || tags->height) ComputeDrawTagsMatrix(tags, sourceWidth, sourceHeight);
        return 0;
    }
    bool transform = false;
    if (int rc = ReadTransformTag(L, index, tags, &transform)) return rc;
    bool needed = false;
    if (!transform) {
        int gx = 0, gy = 0;
        GetFieldNumber(L, index, "scalex", &tags->scaleX, &gx);
        GetFieldNumber(L, index, "scaley", &tags->scaleY, &gy);
        if ((gx && tags->scaleX == 0) || (gy && tags->scaleY == 0)) return ERR_WRONGUSAGE;
        if (!std::isfinite(tags->scaleX) || !std::isfinite(tags->scaleY)) return ERR_WRONGUSAGE;
        needed = gx || gy;
        if (!needed && !(flags & DRAWTAGS_NOSIZE)) {
            int gw = 0, gh = 0;
            GetFieldInt(L, index, "width", &tags->width, &gw);
            GetFieldInt(L, index, "height", &tags->height, &gh);
            needed = tags->width || tags->height;
            if (gw && tags->width && tags->width != sourceWidth && sourceWidth)
                tags->scaleX = double(tags->width) / sourceWidth;
            if (gh && tags->height && tags->height != sourceHeight && sourceHeight)
                tags->scaleY = double(tags->height) / sourceHeight;
        }
        double rotate = 0;
        int gr = 0;
        if (!(flags & DRAWTAGS_NOROTATE) && GetFieldNumber(L, index, "rotate", &rotate, &gr)) {
            if (!std::isfinite(rotate)) return ERR_WRONGUSAGE;
            tags->rotate = std::fmod(rotate, 360.0);
            if (tags->rotate != 0) {
                if (flags & DRAWTAGS_SMOOTHONROTATE) tags->smoothScale = smoothDefault;
                if (tags->scaleX != 1 || tags->scaleY != 1) tags->rotatedAndScaled = 1;
            }
            needed = true;
        }
        if (needed) ComputeDrawTagsMatrix(tags, sourceWidth, sourceHeight);
        else tags->transformGiven = 0;
    } else {
        tags->matrix = tags->transform;
    }
    GetFieldInt(L, index, "smoothscale", &tags->smoothScale);
    GetFieldNumber(L, index, "anchorx", &tags->anchorX);
    GetFieldNumber(L, index, "anchory", &tags->anchorY);
    // Written so that NaN, which lies inside no range, is refused too.
    if (!(tags->anchorX >= 0 && tags->anchorX <= 1 && tags->anchorY >= 0 && tags->anchorY <= 1)) return ERR_WRONGUSAGE;
    if (!style) return 0;
    return ReadStyleKeys(L, index, style);
}

// ---- Form style -------------------------------------------------------------

int ApplyFormStyleToTags(lvDrawStyle *ds, lvStyleTags *tags, int paletteChecksOff, uint32_t colour, int paletteDepth) {
    if (ds->formStyle & FORM_BORDER) {
        tags->border = {1, ds->borderColour, ds->borderSize, ds->borderPen};
        tags->needsStyle = 1;
        ds->formStyle &= ~FORM_BORDER;
    }
    if (ds->formStyle & FORM_SHADOW) {
        tags->shadow.on = 1;
        tags->shadow.colour = ds->shadowColour;
        tags->shadow.pen = ds->shadowPen;
        tags->shadow.size = ds->shadowSize;
        tags->shadow.direction = ds->shadowDirection;
        tags->needsStyle = 1;
        ds->formStyle &= ~FORM_SHADOW;
    }
    if (ds->fillStyle == FILLNONE && ds->lineWidth > 1) {
        tags->border = {1, colour & 0xFFFFFFu, std::max(1, ds->lineWidth / 2), ds->drawPen};
        tags->needsStyle = 1;
        ds->lineWidth = 1;
    }
    if (!paletteChecksOff && paletteDepth > 0) {
        int limit = 1 << paletteDepth;
        if (tags->border.on && tags->border.pen >= limit) return ERR_PENRANGE;
        if (tags->shadow.on && tags->shadow.pen >= limit) return ERR_PENRANGE;
    } else if (colour >> 24) {
        tags->transparency = static_cast<int>(colour >> 24);
        tags->needsStyle = 1;
    }
    return 0;
}

// ---- Shadows ----------------------------------------------------------------

void AddShadowExtent(int direction, int size, int *width, int *height) {
    if (direction != SHDWEAST && direction != SHDWWEST) *height += size;
    if (direction != SHDWNORTH && direction != SHDWSOUTH) *width += size;
}

void GetShadowOffsets(int size, int direction, int *left, int *top, int *right, int *bottom) {
    auto in = [direction](std::initializer_list<int> set) {
        return std::find(set.begin(), set.end(), direction) != set.end();
    };
    *left = in({SHDWSOUTHWEST, SHDWWEST, SHDWNORTHWEST}) ? size : 0;
    *top = in({SHDWNORTH, SHDWNORTHEAST, SHDWNORTHWEST}) ? size : 0;
    *right = in({SHDWNORTHEAST, SHDWEAST, SHDWSOUTHEAST}) ? size : 0;
    *bottom = in({SHDWSOUTHEAST, SHDWSOUTH, SHDWSOUTHWEST}) ? size : 0;
}

// ---- Draw style -------------------------------------------------------------

lvDrawStyle *GetDrawStyle() { return &DrawingState.drawStyle; }
lvFontStyle *GetFontStyle() { return &DrawingState.fontStyle; }

void ClampDrawStyle() {
    lvDrawStyle &s = DrawingState.drawStyle;
    if (s.lineWidth <= 0) s.lineWidth = 1;
    s.shadowSize = std::clamp(s.shadowSize, 1, 64);
    s.borderSize = std::clamp(s.borderSize, 1, 64);
    if (s.shadowDirection < 0 || s.shadowDirection > 7) s.shadowDirection = SHDWSOUTHEAST;
    if (s.fillStyle < FILLNONE || s.fillStyle > FILLTEXTURE) s.fillStyle = FILLNONE;
}

void SetDrawingDefaults() {
    lvDrawStyle &s = DrawingState.drawStyle;
    s = lvDrawStyle{};
    s.fillStyle = FILLNONE;
    s.formStyle = FORM_NORMAL;
    s.drawPen = 1;
    s.gradient.style = GRADIENT_LINEAR;
    s.gradient.startColour = 0x0000FF;
    s.gradient.endColour = 0x000000;
    s.borderSize = 2;
    s.borderColour = 0x0093DD;
    s.borderPen = 3;
    s.shadowSize = 4;
    s.shadowDirection = SHDWSOUTHEAST;
    s.shadowColour = 0x80000000u;
    s.shadowPen = 2;
    s.lineWidth = 1;
    lvFontStyle &f = DrawingState.fontStyle;
    f = lvFontStyle{};
    f.style = FORM_NORMAL;
    f.colour = 0xFFFFFF;
    f.borderColour = 0x0093DD;
    f.secondColour = 0xFFFFFF;
    f.drawPen = 1;
    f.shadowPen = 2;
    f.borderPen = 3;
    f.bulletPen = 1;
    f.shadowSize = 4;
    f.shadowDirection = SHDWSOUTHEAST;
    f.borderSize = 2;
    lvDrawTags &t = DrawingState.drawTagsTemplate;
    t = lvDrawTags{};
    SetIdentityMatrix(&t.matrix);
    t.scaleX = t.scaleY = 1.0;
    lvStyleTags &st = DrawingState.styleTagsTemplate;
    st = lvStyleTags{};
    st.shadow.colour = 0x80000000u;
    st.shadow.size = 4;
    st.shadow.direction = SHDWSOUTHEAST;
    st.shadow.radius = 5.0;
    st.shadow.sigma = 5.0 / 3.0;
    st.border.colour = 0;
    st.border.size = 2;
}

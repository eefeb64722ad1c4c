// pluginfont.cpp - fonts of font plug-ins: the request and its check, and the
// calls that measure, draw, kern, scale and free through the plug-in.
#include "text/lvpluginfont.h"

#include <climits>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

struct lvPluginFont {
    lvPluginRecord *record;
    void *handle;
    uint32_t palette[256];
};

static lvPluginFont *Driver(lvFont *font) { return (lvPluginFont *)font->driverHandle; }

// The answers the runtime can draw: pens of at most 8 bits without
// anti-aliasing, else 32-bit colour, 8-bit coverage or a 1-bit mask.
static bool AnswerAccepted(const lvPluginFontRequest &r)
{
    bool aa = (r.flags & LV_PLUGINFONT_ANTIALIAS) != 0;
    if (r.height <= 0 || r.baseline < 0) return false;
    if (r.palette) return r.depth >= 1 && r.depth <= 8 && !aa;
    return r.depth == 32 || (aa ? r.depth == 8 : r.depth == 1);
}

int OpenPluginFont(lvPluginRecord *record, const char *name, int size, int usePoints, const char *adapter,
                   lvFont *font)
{
    auto load = (lvLoadFontFunction)record->LoadFont;
    auto release = (lvFreeFontFunction)record->FreeFont;
    if (!load || !release || !record->MeasureText || !record->RenderText) return 0;
    lvPluginFontRequest r{};
    r.adapter = adapter ? adapter : "";
    r.transparentPen = -1;
    r.flags = usePoints ? LV_PLUGINFONT_USEPOINTS : 0;
    r.depth = 1;
    r.height = size;
    r.baseline = size - 1;
    void *handle = load(name, size, &r, nullptr);
    if (!handle) return 0;
    lvPluginFont *state = AnswerAccepted(r) ? new (std::nothrow) lvPluginFont{} : nullptr;
    if (!state) {
        release(handle);
        return 0;
    }
    state->record = record;
    state->handle = handle;
    font->type = LV_FONT_PLUGIN;
    font->height = font->baseHeight = r.height;
    font->baseline = font->baseBaseline = r.baseline;
    font->depth = r.depth;
    font->scalable = (r.flags & LV_PLUGINFONT_SCALABLE) != 0;
    font->antialiased = (r.flags & LV_PLUGINFONT_ANTIALIAS) != 0;
    font->pluginFlag8 = (r.flags & LV_PLUGINFONT_FLAG8) != 0;
    font->selfLayout = (r.flags & LV_PLUGINFONT_SELFLAYOUT) != 0;
    // The plug-in's palette is copied: its memory is its own.
    if (r.palette) {
        std::memcpy(state->palette, r.palette, sizeof state->palette);
        font->palette = state->palette;
        font->transparentPen = r.transparentPen;
    } else {
        font->transparentPen = -1;
    }
    std::snprintf(font->name, sizeof font->name, "%s", r.name && r.name[0] ? r.name : name);
    auto format = (lvGetFontFormatFunction)record->GetFontFormat;
    const char *formatName = format ? format(handle) : nullptr;
    std::snprintf(font->formatName, sizeof font->formatName, "%s", formatName ? formatName : "");
    font->driver = record;
    font->driverHandle = state;
    return 1;
}

static int ClampLength(size_t length) { return length > INT_MAX ? INT_MAX : (int)length; }

int MeasurePluginText(lvFont *font, const char *text, size_t length, int style, int charSpacing, int encoding,
                      lvFontExtent *out)
{
    lvPluginFont *p = Driver(font);
    *out = {};
    lvPluginFontLayout layout{};
    layout.style = (style & LV_FONTSTYLE_ANTIALIAS) ? 1 : 0;
    layout.charSpacing = charSpacing;
    lvPluginFontMetrics m{};
    int err = ((lvMeasureTextFunction)p->record->MeasureText)(p->handle, text, ClampLength(length), encoding, &m,
                                                              &layout, nullptr);
    if (err) return err;
    *out = lvFontExtent{m.advance, m.height, m.minX, m.minY, m.maxX, m.maxY};
    return 0;
}

// The plug-in draws into a buffer of its own size: the target plane and the
// clip are never handed over, so it cannot write outside them.
int RenderPluginText(lvFont *font, const lvFontPlane *target, int x, int y, const char *text, size_t length,
                     int style, int charSpacing, int encoding, const lvFontClip *clip)
{
    lvPluginFont *p = Driver(font);
    lvFontClip c = ClipToPlane(target, clip);
    if (c.minX > c.maxX || c.minY > c.maxY) return 0;
    int w = target->width, h = target->height;
    bool wantMask = font->depth == 1 || (font->depth == 8 && !(style & LV_FONTSTYLE_ANTIALIAS) && !font->palette);
    lvPluginFontTarget t{};
    t.x = x;
    t.y = y;
    t.width = w;
    t.height = h;
    std::vector<uint8_t> plane, rgb;
    int rowBytes = wantMask ? (w + 7) / 8 : w;
    plane.assign((size_t)rowBytes * h, 0);
    if (wantMask) {
        t.mask = plane.data();
        t.maskRowBytes = rowBytes;
        t.pixelFormat = LV_PLANE_MASK1;
    } else if (font->depth == 32) {
        // Colour fonts: the planes here keep the coverage; the colours go unused.
        rgb.assign((size_t)w * h * 4, 0);
        t.rgb = rgb.data();
        t.rgbRowBytes = w * 4;
        t.alpha = plane.data();
        t.alphaRowBytes = rowBytes;
    } else if (font->palette) {
        t.pens = plane.data();
        t.penRowBytes = rowBytes;
        t.pixelFormat = LV_PLANE_ALPHA8;
    } else {
        t.alpha = plane.data();
        t.alphaRowBytes = rowBytes;
        t.pixelFormat = LV_PLANE_ALPHA8;
    }
    lvPluginFontLayout layout{};
    layout.style = (uint32_t)(style & LV_FONTSTYLE_ANTIALIAS ? 1 : 0) | (style & LV_FONTSTYLE_BOLD ? 2 : 0) |
                   (style & LV_FONTSTYLE_ITALIC ? 4 : 0);
    layout.charSpacing = charSpacing;
    static const double identity[4] = {1, 0, 0, 1};
    int err = ((lvRenderTextFunction)p->record->RenderText)(p->handle, text, ClampLength(length), encoding, &t,
                                                            identity, &layout, nullptr);
    if (err) return err;
    // Merged into the target within the clip: set bits and non-zero values only.
    for (int row = c.minY; row <= c.maxY; row++) {
        const uint8_t *src = plane.data() + (size_t)row * rowBytes;
        uint8_t *dst = target->pixels + (size_t)row * target->rowBytes;
        for (int col = c.minX; col <= c.maxX; col++) {
            int v = wantMask ? (src[col >> 3] >> (7 - (col & 7))) & 1 : src[col];
            if (wantMask && v) v = 255;
            if (font->palette && v == font->transparentPen) continue;
            if (!v) continue;
            if (target->format == LV_PLANE_MASK1) dst[col >> 3] |= (uint8_t)(0x80 >> (col & 7));
            else dst[col] = (uint8_t)v;
        }
    }
    return 0;
}

int GetPluginKerning(lvFont *font, const char *pair, size_t length, int encoding)
{
    lvPluginFont *p = Driver(font);
    auto kern = (lvGetKerningFunction)p->record->GetKerning;
    if (!kern || length == 0) return 0;
    std::vector<char> text(pair, pair + length);
    text.push_back(0);
    return kern(p->handle, text.data(), encoding, nullptr);
}

void ScalePluginFont(lvFont *font, double sx, double sy)
{
    lvPluginFont *p = Driver(font);
    auto scale = (lvSetFontScaleFunction)p->record->SetFontScale;
    if (!scale) return;
    int height = font->height, baseline = font->baseline;
    lvPluginTag tags[] = {{1, (intptr_t)&height}, {2, (intptr_t)&baseline}, {0, 0}};
    scale(p->handle, sx, sy, tags);
    if (height > 0) font->height = height;
    if (baseline >= 0) font->baseline = baseline;
}

void FreePluginFont(lvFont *font)
{
    lvPluginFont *p = Driver(font);
    if (!p) return;
    ((lvFreeFontFunction)p->record->FreeFont)(p->handle);
    delete p;
    font->driverHandle = nullptr;
    font->palette = nullptr;
}

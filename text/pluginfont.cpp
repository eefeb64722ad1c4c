// pluginfont.cpp - fonts of font plug-ins: the request and its check, and the
// calls that measure, draw, kern, scale and free through the plug-in.
#include "text/lvpluginfont.h"

#include <algorithm>

#include <climits>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "text/lvtextlayout.h"

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

// Points a font target at the buffers the runtime reads back: a 1-bit mask, a colour
// font's RGB with its coverage, pens of a palette font, or 8-bit coverage.
static void AimFontTarget(lvPluginFontTarget *t, const lvFont *font, bool wantMask, uint8_t *plane, int rowBytes,
                          uint8_t *rgb, int width)
{
    if (wantMask) {
        t->mask = plane;
        t->maskRowBytes = rowBytes;
        t->pixelFormat = LV_PLANE_MASK1;
    } else if (font->depth == 32) {
        t->rgb = rgb;
        t->rgbRowBytes = width * 4;
        t->alpha = plane;
        t->alphaRowBytes = rowBytes;
    } else if (font->palette) {
        t->pens = plane;
        t->penRowBytes = rowBytes;
        t->pixelFormat = LV_PLANE_ALPHA8;
    } else {
        t->alpha = plane;
        t->alphaRowBytes = rowBytes;
        t->pixelFormat = LV_PLANE_ALPHA8;
    }
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
    // Colour fonts: the planes here keep the coverage; the colours go unused.
    if (!wantMask && font->depth == 32) rgb.assign((size_t)w * h * 4, 0);
    AimFontTarget(&t, font, wantMask, plane.data(), rowBytes, rgb.data(), w);
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

int LayoutPluginText(lvFont *font, lvTextOptions *o, lvTextImage *image)
{
    lvPluginFont *p = Driver(font);
    *image = lvTextImage{};
    const char *text = o->text && o->length ? o->text : " ";
    int length = ClampLength(o->text && o->length ? o->length : 1);
    int style = o->style.style;
    bool aa = (style & FORM_ANTIALIAS) && !(style & FORM_NORMAL);
    lvPluginFontLayout layout{};
    layout.colour = o->style.colour & 0xFFFFFF;
    layout.style = (uint32_t)(aa ? 1 : 0) | (style & FORM_BOLD ? 2 : 0) | (style & FORM_ITALIC ? 4 : 0) |
                   (style & FORM_UNDERLINED ? 8 : 0);
    layout.align = o->align == TEXTALIGN_RIGHT ? 1 : o->align == TEXTALIGN_CENTER ? 2
                 : o->align == TEXTALIGN_JUSTIFIED ? 3 : 0;
    layout.wrapWidth = o->wrapWidth;
    layout.charSpacing = o->charSpacing;
    if (o->objectType == LV_TEXT_PRINT) layout.cursorX = o->cursorX - o->leftMargin;
    else layout.lineSpacing = o->lineSpacing;
    layout.tabs = o->tabCount ? o->tabs : nullptr;
    layout.tabCount = o->tabCount;
    lvPluginFontMetrics m{};
    if (int err = ((lvMeasureTextFunction)p->record->MeasureText)(p->handle, text, length, o->encoding, &m, &layout,
                                                                  nullptr))
        return err;
    // The ink box about the pen on the first baseline gives the image; the
    // pen sits at the top left of the text, so rows count from the top.
    int left = std::min(0, m.minX);
    int width = std::max({1, m.advance - left, m.maxX - left + 1});
    int height = std::max({1, m.height, m.maxY + font->baseline + 1});
    if ((long long)width * height > (1LL << 28)) return ERR_MEM;
    bool wantMask = font->depth == 1 || (font->depth == 8 && !aa && !font->palette);
    int rowBytes = wantMask ? (width + 7) / 8 : width;
    std::vector<uint8_t> plane, rgb;
    try {
        plane.assign((size_t)rowBytes * height, 0);
        if (font->depth == 32) rgb.assign((size_t)width * height * 4, 0);
        image->rgb.assign((size_t)width * height, layout.colour);
        image->alpha.assign((size_t)width * height, 0);
    } catch (const std::bad_alloc &) {
        *image = lvTextImage{};
        return ERR_MEM;
    }
    lvPluginFontTarget t{};
    t.x = -left;
    t.y = 0;
    t.width = width;
    t.height = height;
    AimFontTarget(&t, font, wantMask, plane.data(), rowBytes, rgb.data(), width);
    static const double identity[4] = {1, 0, 0, 1};
    if (int err = ((lvRenderTextFunction)p->record->RenderText)(p->handle, text, length, o->encoding, &t, identity,
                                                                &layout, nullptr)) {
        *image = lvTextImage{};
        return err;
    }
    for (int row = 0; row < height; row++)
        for (int col = 0; col < width; col++) {
            size_t at = (size_t)row * width + col;
            const uint8_t *src = plane.data() + (size_t)row * rowBytes;
            if (wantMask) {
                image->alpha[at] = (src[col >> 3] >> (7 - (col & 7))) & 1 ? 255 : 0;
            } else if (font->depth == 32) {
                const uint8_t *px = rgb.data() + (size_t)row * width * 4 + (size_t)col * 4;
                image->rgb[at] = (uint32_t)px[2] << 16 | (uint32_t)px[1] << 8 | px[0];
                image->alpha[at] = src[col];
            } else if (font->palette) {
                int pen = src[col];
                if (pen == font->transparentPen) continue;
                image->rgb[at] = font->palette[pen] & 0xFFFFFF;
                image->alpha[at] = 255;
            } else {
                image->alpha[at] = src[col];
            }
        }
    // In pen mode the set pixels take the draw pen, or a pen font's own pens.
    if (o->paletteMode) {
        try {
            image->pens.assign((size_t)width * height, 0);
        } catch (const std::bad_alloc &) {
            *image = lvTextImage{};
            return ERR_MEM;
        }
        for (size_t at = 0; at < image->pens.size(); at++) {
            if (!image->alpha[at]) continue;
            image->alpha[at] = 255;
            image->pens[at] = font->palette ? plane[(at / width) * rowBytes + at % width] : (uint8_t)o->style.drawPen;
        }
    }
    image->width = width;
    image->height = height;
    image->leftExtension = left;
    image->antialiased = !wantMask && !font->palette && !o->paletteMode;
    o->adjustX = left;
    o->adjustY = 0;
    // The pen ends at the advance on the last line; its top is the image's
    // last line of the font's height.
    o->finalX = m.advance;
    o->finalY = std::max(0, height - font->height);
    return 0;
}

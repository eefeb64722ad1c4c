// textout.cpp - text reaching the current output: the per-display text state
// (cursor and margins of the display record the selections see, tab stops
// kept here by display), and the blit of a text image through the raster
// engine.
#include <algorithm>
#include <cstring>
#include <new>

#include "base/lverrors.h"
#include "images/lvbgpic.h"
#include "images/lvdraw.h"
#include "images/lvoffscreen.h"
#include "raster/lvbitmap.h"
#include "raster/lvblit.h"
#include "raster/lvfilterchain.h"
#include "raster/lvraster.h"
#include "text/lvtextout.h"

int GetDisplayTextState(lvDisplayTextState *out)
{
    *out = {};
    lvSelectDisplay *d = GetSelectDisplay();
    if (!d || !RasterState.currentDisplay) return ERR_OUTPUTDEVICE;
    out->display = d;
    out->cursorX = &d->cursorX;
    out->cursorY = &d->cursorY;
    out->marginLeft = &d->marginLeft;
    out->marginRight = &d->marginRight;
    lvTextLibrary *t = GetTextLibrary();
    for (lvDisplayTabs *tabs = t->displayTabs; tabs; tabs = tabs->next)
        if (tabs->display == d) out->tabs = tabs;
    if (!out->tabs) {
        lvDisplayTabs *tabs = new (std::nothrow) lvDisplayTabs{};
        if (!tabs) return ERR_MEM;
        tabs->display = d;
        tabs->next = t->displayTabs;
        t->displayTabs = tabs;
        out->tabs = tabs;
    }
    lvBGPic *output = GetCurrentOutput();
    lvBlitDisplay *b = RasterState.currentDisplay;
    out->outputWidth = output ? output->scaledWidth : b->picture ? b->picture->width : 0;
    if (b->target.kind != OUTPUT_DISPLAY && b->target.bitmap) out->outputWidth = b->target.bitmap->width;
    return 0;
}

void FreeDisplayTabs()
{
    lvTextLibrary *t = GetTextLibrary();
    while (lvDisplayTabs *tabs = t->displayTabs) {
        t->displayTabs = tabs->next;
        delete tabs;
    }
}

int AddTabStop(lvDisplayTabs *tabs, int x)
{
    if (tabs->count >= LV_TEXT_LEVELS) return ERR_INTERNAL;
    if (x < 0) return ERR_NEGCOORDS;
    int at = 0;
    while (at < tabs->count && tabs->stops[at] <= x) at++;
    std::memmove(tabs->stops + at + 1, tabs->stops + at, sizeof(int) * (size_t)(tabs->count - at));
    tabs->stops[at] = x;
    tabs->count++;
    return 0;
}

namespace {

// The bitmaps of a text image, freed with the holder.
struct TextBitmaps {
    lvBitMapHandle *rgb = nullptr, *alpha = nullptr, *pens = nullptr, *mask = nullptr;
    ~TextBitmaps()
    {
        FreeBitmapHandle(rgb);
        FreeBitmapHandle(alpha);
        FreeBitmapHandle(pens);
        FreeBitmapHandle(mask);
    }
};

// The pen image: its pens through a mask of the pixels the text set.
int MakePenBitmaps(const lvTextImage *image, TextBitmaps *b)
{
    b->pens = AllocChunkyBitmap(image->width, image->height, 1);
    if (!b->pens) return ERR_ALLOCCHUNKY;
    if (!CopyBytesToPlane(b->pens, image->pens.data(), image->width, image->height)) return ERR_ALLOCCHUNKY;
    b->mask = AllocMaskBitmap(nullptr, image->width, image->height, 1, nullptr, 0);
    if (!b->mask) return ERR_BITMAP;
    uint8_t *pixels = nullptr;
    int rowBytes = 0;
    uintptr_t token = GetPlanePixels(b->mask, &pixels, &rowBytes, 1);
    if (!token || !pixels) {
        if (token) ReleasePlanePixels(token);
        return ERR_BITMAP;
    }
    for (int row = 0; row < image->height; row++) {
        uint8_t *out = pixels + (size_t)row * rowBytes;
        std::memset(out, 0, (size_t)(image->width + 7) / 8);
        for (int col = 0; col < image->width; col++)
            if (image->alpha[(size_t)row * image->width + col]) out[col >> 3] |= (uint8_t)(0x80 >> (col & 7));
    }
    ReleasePlanePixels(token);
    return 0;
}

int MakeColourBitmaps(const lvTextImage *image, TextBitmaps *b)
{
    b->rgb = AllocRgbBitmap(image->width, image->height, 0, nullptr);
    if (!b->rgb) return ERR_BITMAP;
    b->alpha = AllocAlphaBitmap(image->width, image->height, 1, nullptr, 0);
    if (!b->alpha) return ERR_ALLOCALPHA;
    {
        lvScopedLock lock(b->rgb, 0);
        if (!lock.token) return ERR_LOCKBMAP;
        for (int row = 0; row < image->height; row++)
            for (int col = 0; col < image->width; col++)
                WriteLockPixel(&lock.lock, image->rgb[(size_t)row * image->width + col], col, row);
    }
    if (!CopyBytesToPlane(b->alpha, image->alpha.data(), image->width, image->height)) return ERR_ALLOCALPHA;
    return 0;
}

}  // namespace

int MakeTextImageBitmaps(const lvTextImage *image, int pens, lvTextImageBitmaps *out)
{
    *out = {};
    TextBitmaps b;
    if (int err = pens ? MakePenBitmaps(image, &b) : MakeColourBitmaps(image, &b)) return err;
    *out = {b.rgb, b.alpha, b.pens, b.mask};
    b.rgb = b.alpha = b.pens = b.mask = nullptr;
    return 0;
}

int DrawTextImage(void *state, const lvTextImage *image, int x, int y, const lvStyleTags *style)
{
    lvDrawOutput o;
    if (int code = CaptureDrawOutput(state, &o, 1)) return code;
    if (image->width <= 0 || image->height <= 0) return 0;
    TextBitmaps b;
    const bool filters = style && HasEnabledFilter(style->filters);
    const int transparency = style ? style->transparency : 0;
    // Pens go to palette outputs as they are; elsewhere the colours do (a
    // palette output in remap mode takes their nearest pens).
    bool pens = !image->pens.empty() && o.palette && !filters && transparency <= 0;
    if (int err = pens ? MakePenBitmaps(image, &b) : MakeColourBitmaps(image, &b)) return err;
    if (filters)
        ApplyFilterChain(style->filters, b.rgb, b.mask, b.alpha, nullptr, nullptr, image->width, image->height, 0);
    if (transparency > 0)
        if (int err = ApplyTransparencyToAlpha(&b.alpha, &b.mask, image->width, image->height, 255 - transparency))
            return err;
    // A selected palette image is both the blit's pen target and the output's
    // pen plane: written as the output too it would take the alpha over the pens.
    int flags = BLIT_RECOMPOSE | BLIT_BACKGROUND | BLIT_HARDWARE | (o.chunky ? BLIT_NOOUTPUT : 0);
    BlitImage(state, b.rgb, 0, 0, o.rgb, o.chunky, o.chunky ? o.palette : nullptr, o.chunky ? o.depth : 0, x, y,
              image->width, image->height, image->width, image->height, o.width, o.height, flags, b.mask, b.alpha,
              b.pens, pens ? o.palette : nullptr, -1, pens ? PALETTEMODE_PEN : -1, -1, -1, o.clip, nullptr);
    return 0;
}

static lvTextLayerServices TextLayerServices;
static bool TextLayerServicesSet;

void SetTextLayerServices(const lvTextLayerServices *services)
{
    TextLayerServicesSet = services != nullptr;
    TextLayerServices = services ? *services : lvTextLayerServices{};
}

// Both kinds of text output: the layer engine takes the image on a display that shows
// layers (a text object with its id, other text with its options), else the blit.
static int OutputText(void *state, int objectType, lvObjectId id, const lvTextOptions *options,
                      const lvTextImage *image, int x, int y, const lvStyleTags *style)
{
    lvBlitDisplay *display = RasterState.currentDisplay;
    if (!display) return ERR_OUTPUTDEVICE;
    if (!display->layers || display->target.kind != OUTPUT_DISPLAY) return DrawTextImage(state, image, x, y, style);
    const lvTextLayerServices &t = TextLayerServices;
    if (!options) {
        if (!TextLayerServicesSet || !t.AddTextObjectLayer) return ERR_UNIMPLCMD;
        return t.AddTextObjectLayer(t.context, state, id, image, x, y, style);
    }
    if (!TextLayerServicesSet || !t.AddTextLayer) return ERR_UNIMPLCMD;
    return t.AddTextLayer(t.context, state, objectType, options, image, x, y);
}

int OutputTextImage(void *state, int objectType, const lvTextOptions *options, const lvTextImage *image, int x, int y,
                    const lvStyleTags *style)
{
    return OutputText(state, objectType, {0, nullptr}, options, image, x, y, style);
}

int OutputTextObjectImage(void *state, lvObjectId id, const lvTextImage *image, int x, int y,
                          const lvStyleTags *style)
{
    return OutputText(state, LV_TYPE_TEXTOBJECT, id, nullptr, image, x, y, style);
}

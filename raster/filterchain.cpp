// filterchain.cpp - the filter chain of style tags and the style transparency.
#include "raster/lvfilterchain.h"

#include "base/lverrors.h"
#include "raster/lvplanes.h"
#include "raster/lvscale.h"

namespace {

// Every default answers "not built": the chain goes on without it.
const lvEffectServices DefaultEffects = {
    [](int, lvBitMapHandle *, lvBitMapHandle *, int, int, double, double, lvBitMapLock *) -> int { return ERR_UNIMPLCMD; },
    [](lvBitMapHandle *, lvBitMapHandle *, int, int, double, double) -> int { return ERR_UNIMPLCMD; },
    [](lvBitMapHandle *, int, int, int, int, lvBitMapLock *) -> int { return ERR_UNIMPLCMD; },
    [](lvBitMapHandle *, int, int, double, double, double) -> int { return ERR_UNIMPLCMD; },
    [](lvBitMapHandle *, int, int, lvBitMapLock *) -> int { return ERR_UNIMPLCMD; },
    [](lvBitMapHandle *, int, int, lvBitMapLock *) -> int { return ERR_UNIMPLCMD; },
    [](lvBitMapHandle *, int, int, double, double, double) -> int { return ERR_UNIMPLCMD; },
    [](lvBitMapHandle *, int, int, int) -> int { return ERR_UNIMPLCMD; },
    [](lvBitMapHandle *, int, int, double) -> int { return ERR_UNIMPLCMD; },
    [](lvBitMapHandle *, lvBitMapHandle *, lvBitMapHandle *, int, int, int, const uint32_t *, int) -> int {
        return ERR_UNIMPLCMD;
    },
    [](lvBitMapHandle *, int, int, int) -> int { return ERR_UNIMPLCMD; },
    [](lvBitMapHandle *, int, int, int) -> int { return ERR_UNIMPLCMD; },
    [](lvBitMapHandle *, lvBitMapHandle *, lvBitMapHandle *, int, int, int) -> int { return ERR_UNIMPLCMD; },
    [](lvBitMapHandle *, lvBitMapHandle *, lvBitMapHandle *, int, int, int, int, int, double, double) -> int {
        return ERR_UNIMPLCMD;
    },
    [](lvBitMapHandle *, int, int, int, int) -> int { return ERR_UNIMPLCMD; },
    []() -> int { return 0; },
};

lvEffectServices Effects = DefaultEffects;

template <class T> void Take(T &slot, T given, T fallback) { slot = given ? given : fallback; }

enum : int {
    F_BLUR, F_CHARCOAL, F_CONTRAST, F_EDGE, F_EMBOSS, F_GAMMA, F_GRAYSCALE, F_INVERT, F_MODULATE, F_MONOCHROME,
    F_OILPAINT, F_PIXELATE, F_SEPIATONE, F_SHARPEN, F_SOLARIZE, F_SWIRL, F_TINT, F_WATERRIPPLE, F_XFLIP, F_YFLIP,
    F_QUANTIZE,
};

void RunFilter(int slot, const lvFilterSlot &f, lvBitMapHandle *rgb, lvBitMapHandle *mask, lvBitMapHandle *alpha,
               lvBitMapHandle *chunky, uint32_t *palette, lvBitMapHandle *colour, int width, int height,
               int colourWidth, int colourHeight) {
    const int *i = f.ints;
    const float *fl = f.floats;
    bool pens = chunky != nullptr;
    lvBitMapHandle *plane = pens ? chunky : alpha;
    // Errors are ignored: a filter that cannot run leaves the picture as it was.
    switch (slot) {
    case F_BLUR: if (!pens) Effects.ConvolveImage('b', rgb, alpha, width, height, fl[0], fl[0] / 3.0, nullptr); break;
    case F_CHARCOAL: if (!pens) Effects.CharcoalImage(rgb, alpha, width, height, fl[0], 1); break;
    case F_CONTRAST: Effects.ContrastImage(colour, colourWidth, colourHeight, i[0] != 0, i[1], nullptr); break;
    case F_EDGE: if (!pens) Effects.ConvolveImage('g', rgb, alpha, width, height, fl[0], 0, nullptr); break;
    case F_EMBOSS: if (!pens) Effects.ConvolveImage('e', rgb, alpha, width, height, fl[0], 1, nullptr); break;
    case F_GAMMA: Effects.GammaImage(colour, colourWidth, colourHeight, fl[0], fl[1], fl[2]); break;
    case F_GRAYSCALE: Effects.GrayImage(colour, colourWidth, colourHeight, nullptr); break;
    case F_INVERT: Effects.InvertImage(colour, colourWidth, colourHeight, nullptr); break;
    // The filter's arguments are percentages (100 unchanged); the routine takes factors.
    case F_MODULATE:
        Effects.ModulateImage(colour, colourWidth, colourHeight, fl[0] / 100.0, fl[1] / 100.0, fl[2] / 100.0);
        break;
    case F_MONOCHROME: if (!pens) Effects.MonochromeImage(rgb, width, height, i[0]); break;
    case F_OILPAINT: if (!pens) Effects.OilPaintImage(rgb, width, height, fl[0]); break;
    case F_PIXELATE: Effects.PixelateImage(rgb, mask, plane, width, height, i[0], pens ? palette : nullptr, -1); break;
    case F_SEPIATONE: if (!pens) Effects.SepiaToneImage(rgb, width, height, i[0]); break;
    case F_SHARPEN: if (!pens) Effects.ConvolveImage('s', rgb, alpha, width, height, fl[0], 1, nullptr); break;
    case F_SOLARIZE: Effects.SolarizeImage(colour, colourWidth, colourHeight, i[0]); break;
    case F_SWIRL: Effects.SwirlImage(rgb, mask, plane, width, height, i[0]); break;
    case F_TINT:
        if (colour) TintBitmapRect(colour, 0, 0, colourWidth, colourHeight, static_cast<uint32_t>(i[0]), i[1]);
        break;
    case F_WATERRIPPLE: Effects.WaterRippleImage(rgb, mask, plane, width, height, i[0], i[1], i[2], fl[0], fl[1]); break;
    case F_XFLIP: MirrorBitmaps(rgb, mask, plane, width, height, 1); break;
    case F_YFLIP: MirrorBitmaps(rgb, mask, plane, width, height, 0); break;
    case F_QUANTIZE: if (!pens && rgb) Effects.QuantizeImage(rgb, width, height, i[0], i[1]); break;
    default: break;
    }
}

}  // namespace

void SetEffectServices(const lvEffectServices *s) {
    if (!s) {
        Effects = DefaultEffects;
        return;
    }
    const lvEffectServices &d = DefaultEffects;
    Take(Effects.ConvolveImage, s->ConvolveImage, d.ConvolveImage);
    Take(Effects.CharcoalImage, s->CharcoalImage, d.CharcoalImage);
    Take(Effects.ContrastImage, s->ContrastImage, d.ContrastImage);
    Take(Effects.GammaImage, s->GammaImage, d.GammaImage);
    Take(Effects.GrayImage, s->GrayImage, d.GrayImage);
    Take(Effects.InvertImage, s->InvertImage, d.InvertImage);
    Take(Effects.ModulateImage, s->ModulateImage, d.ModulateImage);
    Take(Effects.MonochromeImage, s->MonochromeImage, d.MonochromeImage);
    Take(Effects.OilPaintImage, s->OilPaintImage, d.OilPaintImage);
    Take(Effects.PixelateImage, s->PixelateImage, d.PixelateImage);
    Take(Effects.SepiaToneImage, s->SepiaToneImage, d.SepiaToneImage);
    Take(Effects.SolarizeImage, s->SolarizeImage, d.SolarizeImage);
    Take(Effects.SwirlImage, s->SwirlImage, d.SwirlImage);
    Take(Effects.WaterRippleImage, s->WaterRippleImage, d.WaterRippleImage);
    Take(Effects.QuantizeImage, s->QuantizeImage, d.QuantizeImage);
    Take(Effects.DisplayKeepsLayers, s->DisplayKeepsLayers, d.DisplayKeepsLayers);
}

const lvEffectServices *GetEffectServices() { return &Effects; }

void ApplyFilterChain(const lvFilterSlot *slots, lvBitMapHandle *rgb, lvBitMapHandle *mask, lvBitMapHandle *alpha,
                      lvBitMapHandle *chunky, uint32_t *palette, int width, int height, int geometricOnly) {
    if (!slots || width <= 0 || height <= 0) return;
    lvBitMapHandle *colour = rgb, *wrapper = nullptr;
    int colourWidth = width, colourHeight = height;
    if (chunky) {
        // Colour filters of a palette picture change its 256 pens.
        if (!palette || !(wrapper = AllocRgbBitmap(256, 1, BMF_EXTERNAL, palette))) return;
        colour = wrapper;
        colourWidth = 256;
        colourHeight = 1;
    }
    bool done[FILTER_COUNT] = {};
    for (int level = 255; level >= 0; level--)
        for (int slot = 0; slot < FILTER_COUNT; slot++) {
            const lvFilterSlot &f = slots[slot];
            if (done[slot] || !f.enabled || f.priority < level) continue;
            if (geometricOnly && !IsGeometricFilter(slot)) continue;
            done[slot] = true;
            RunFilter(slot, f, rgb, mask, alpha, chunky, palette, colour, width, height, colourWidth, colourHeight);
        }
    if (wrapper) FreeRgbBitmap(wrapper);
}

int ApplyTransparencyToAlpha(lvBitMapHandle **alpha, lvBitMapHandle **mask, int width, int height, int factor) {
    if (factor < 0) factor = 0;
    if (factor > 255) factor = 255;
    if (*alpha) {
        ScaleAlphaPlane(*alpha, *alpha, width, height, factor);
        return 0;
    }
    lvBitMapHandle *made = AllocAlphaBitmap(width, height, 1, nullptr, 0);
    if (!made) return ERR_ALLOCALPHA;
    if (mask && *mask) {
        ConvertMaskToAlpha(*mask, 0, 0, made, 0, 0, width, height, factor);
        FreePlaneBitmap(*mask);
        *mask = nullptr;
    } else {
        FillBytePlaneRect(made, 0, 0, width, height, factor);
    }
    *alpha = made;
    return 0;
}

void ApplyStyleFilters(const lvStyleTags *style, lvBitMapHandle *rgb, lvBitMapHandle **mask, lvBitMapHandle **alpha,
                       lvBitMapHandle *chunky, uint32_t *palette, int width, int height) {
    if (!style || Effects.DisplayKeepsLayers()) return;
    if (HasEnabledFilter(style->filters))
        ApplyFilterChain(style->filters, rgb, mask ? *mask : nullptr, alpha ? *alpha : nullptr, chunky, palette, width,
                         height, 0);
    if (style->transparency && alpha && mask)
        ApplyTransparencyToAlpha(alpha, mask, width, height, 255 - style->transparency);
}

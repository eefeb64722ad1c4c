// lvfilterchain.h - the filter chain of style tags: the enabled filters of a
// style run over a picture in a fixed order (descending priority, slot order
// among equals), and the style's transparency goes into the alpha channel.
//
// The effect routines belong to the images layer above; they arrive through
// lvEffectServices, which the runtime fills at start-up. A slot left null
// answers ERR_UNIMPLCMD, which the chain (ignoring every filter's error) takes
// as "not run".
//
// Depends on: raster/lvbitmap.h, raster/lvdrawtags.h.
// Limits: script thread only.
#pragma once
#include <cstdint>

#include "raster/lvbitmap.h"
#include "raster/lvdrawtags.h"

struct lvEffectServices {
    int (*ConvolveImage)(int kind, lvBitMapHandle *rgb, lvBitMapHandle *plane, int width, int height, double radius,
                         double sigma, lvBitMapLock *lock);
    int (*CharcoalImage)(lvBitMapHandle *rgb, lvBitMapHandle *alpha, int width, int height, double radius,
                         double sigma);
    int (*ContrastImage)(lvBitMapHandle *bitmap, int width, int height, int sharpen, int count, lvBitMapLock *lock);
    int (*GammaImage)(lvBitMapHandle *bitmap, int width, int height, double red, double green, double blue);
    int (*GrayImage)(lvBitMapHandle *bitmap, int width, int height, lvBitMapLock *lock);
    int (*InvertImage)(lvBitMapHandle *bitmap, int width, int height, lvBitMapLock *lock);
    int (*ModulateImage)(lvBitMapHandle *bitmap, int width, int height, double brightness, double saturation,
                         double hue);
    int (*MonochromeImage)(lvBitMapHandle *bitmap, int width, int height, int dither);
    int (*OilPaintImage)(lvBitMapHandle *bitmap, int width, int height, double radius);
    int (*PixelateImage)(lvBitMapHandle *rgb, lvBitMapHandle *mask, lvBitMapHandle *plane, int width, int height,
                         int blockSize, const uint32_t *palette, int transparentPen);
    int (*SepiaToneImage)(lvBitMapHandle *bitmap, int width, int height, int threshold);
    int (*SolarizeImage)(lvBitMapHandle *bitmap, int width, int height, int threshold);
    int (*SwirlImage)(lvBitMapHandle *rgb, lvBitMapHandle *mask, lvBitMapHandle *plane, int width, int height,
                      int degrees);
    int (*WaterRippleImage)(lvBitMapHandle *rgb, lvBitMapHandle *mask, lvBitMapHandle *plane, int width, int height,
                            int wavelength, int amplitude, int phase, double centreX, double centreY);
    // Quantises the RGB picture in place to that many colours (the palette
    // quantiser's); null until it is installed.
    int (*QuantizeImage)(lvBitMapHandle *rgb, int width, int height, int colours, int dither);
    // 1 when the current display keeps layers (the layer engine then applies
    // styles itself); null counts as 0.
    int (*DisplayKeepsLayers)();
};
// Installs the table (null slots answer ERR_UNIMPLCMD; a null table restores all).
void SetEffectServices(const lvEffectServices *services);
const lvEffectServices *GetEffectServices();

void ApplyFilterChain(const lvFilterSlot *slots, lvBitMapHandle *rgb, lvBitMapHandle *mask, lvBitMapHandle *alpha,
                      lvBitMapHandle *chunky, uint32_t *palette, int width, int height, int geometricOnly);
void ApplyStyleFilters(const lvStyleTags *style, lvBitMapHandle *rgb, lvBitMapHandle **mask, lvBitMapHandle **alpha,
                       lvBitMapHandle *chunky, uint32_t *palette, int width, int height);
// 0 or ERR_ALLOCALPHA.
int ApplyTransparencyToAlpha(lvBitMapHandle **alpha, lvBitMapHandle **mask, int width, int height, int factor);

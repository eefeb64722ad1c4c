// imaging_links.cpp - joins the raster engine's colour quantiser and gradient renderer to
// the pictures that need them: gradient BGPics and brushes, savers of palette formats
// (GIF, ILBM from true colour) and the "quantize" style filter. Installed once at start-up.
#include "images/imaging_links.h"

#include <cstring>

#include "base/lverrors.h"
#include "formats/lvsavers.h"
#include "images/lvbgpic.h"
#include "platform/lvplatform.h"
#include "raster/lvfilterchain.h"
#include "raster/lvgradient.h"
#include "raster/lvpluginraster.h"
#include "raster/lvquantize.h"

namespace {

// A gradient into a bitmap, or into a plain ARGB buffer of width x height.
int FillGradient(lvBitMapHandle *bitmap, uint32_t *argb, int width, int height, const lvGradient *gradient)
{
    if (!gradient || width <= 0 || height <= 0) return ERR_WRONGUSAGE;
    if (bitmap) {
        FillBitmapWithGradient(bitmap, 0, 0, width, height, gradient);
        return 0;
    }
    if (!argb) return ERR_WRONGUSAGE;
    lvGradientJob job = {};
    job.pixels = reinterpret_cast<uint8_t *>(argb);
    job.bytesPerPixel = 4;
    job.format = PIXFMT_ARGB32;
    job.width = width;
    job.height = height;
    job.rowLength = width;
    job.gradient = gradient;
    job.clipWidth = width;
    job.clipHeight = height;
    RenderGradient(&job);
    return 0;
}

// A pen plane with its palette for a saver that takes only palette pictures.
int MakeSaverPalette(lvBitMapHandle *rgb, lvBitMapHandle *mask, lvBitMapHandle *alpha, int width, int height,
                     int colours, int dither, lvBitMapHandle **penPlane, uint32_t *palette, int *transparentPen)
{
    uint32_t *copy = nullptr;
    int transparent = -1;
    lvPaletteConversion request = {};
    request.sourceRgb = rgb;
    request.sourceTransparentPen = -1;
    request.width = width;
    request.height = height;
    request.colourCount = colours;
    request.dither = dither;
    request.value = -1;
    request.wantedTransparentPen = -1;
    request.mask = mask;
    request.alpha = alpha;
    request.newPensOut = penPlane;
    request.paletteCopyOut = &copy;
    request.transparentPenOut = &transparent;
    request.alphaThreshold = QUANT_RUNTHRESHOLD;
    if (int r = MakePaletteBitmap(&request)) return r;
    std::memcpy(palette, copy, 256 * sizeof(uint32_t));
    FreeMemory(copy);
    if (transparentPen) *transparentPen = transparent;
    return 0;
}

// The "quantize" filter: the picture's colours reduced in place.
int QuantizeInPlace(lvBitMapHandle *rgb, int width, int height, int colours, int dither)
{
    lvPaletteConversion request = {};
    request.sourceRgb = rgb;
    request.sourceTransparentPen = -1;
    request.width = width;
    request.height = height;
    request.colourCount = colours;
    request.dither = dither;
    request.value = -1;
    request.wantedTransparentPen = -1;
    request.alphaThreshold = QUANT_RUNTHRESHOLD;
    return MakePaletteBitmap(&request);
}

}  // namespace

void InstallImagingLinks(void)
{
    SetGradientFill(FillGradient);
    SetSaverPaletteMaker(MakeSaverPalette);
    SetPluginImageSaver(SaveImageByFormat);
    lvEffectServices services = *GetEffectServices();
    services.QuantizeImage = QuantizeInPlace;
    SetEffectServices(&services);
}

// raster_bridge.cpp - where picture files and the raster engine meet: the scaled copy
// of a loaded picture and the RGB bitmap of a rendered one (the raster engine's buffer
// scaler and ARGB conversion), and the file-format services the raster engine calls
// upward through (the probe behind IsPicture, rendering image sources, references).
// Dependencies: raster/lvscale.h, raster/lvimage.h, raster/lvneighbours.h.
#include "formats/formats_internal.h"
#include "raster/lvimage.h"
#include "raster/lvneighbours.h"
#include "raster/lvscale.h"

uint32_t *ScaleSourcePixels(const void *pixels, int width, int height, int newWidth, int newHeight,
                            int sourceRowLength, int paletteMode, int scaleMode)
{
    if (!ImagePixelsFit(newWidth, newHeight)) return nullptr;
    return (uint32_t *)ScalePixelBuffer(pixels, 0, 0, width, height, nullptr, 0, 0, newWidth, newHeight,
                                        sourceRowLength, newWidth, paletteMode ? PIXFMT_CLUT8 : PIXFMT_ARGB32,
                                        scaleMode);
}

int MakeBitmapsFromArgb(const uint32_t *pixels, int width, int height, int rowLength, lvBitMapHandle **rgb,
                        lvBitMapHandle **mask, lvBitMapHandle **alpha)
{
    lvBitMapHandle *noMask = nullptr;
    return BitmapFromArgb(pixels, -1, width, height, rowLength, 0, 0, nullptr, rgb, mask ? mask : &noMask, alpha);
}

int ScaleImageOrVector(void *context, int isVector, lvBitMapHandle *rgb, lvBitMapHandle *mask, lvBitMapHandle *alpha,
                       lvBitMapHandle *pens, lvImageSource *source, int width, int height, int newWidth,
                       int newHeight, int scaleMode, lvVectorFallback fallback, lvBitMapHandle **newRgb,
                       lvBitMapHandle **newMask, lvBitMapHandle **newAlpha, lvBitMapHandle **newPens)
{
    if (!ImagePixelsFit(newWidth, newHeight)) return ERR_MEM;
    if (!isVector)
        return ScaleImage(rgb, mask, alpha, pens, 0, 0, nullptr, nullptr, width, height, newWidth, newHeight,
                          scaleMode, nullptr, newRgb, newMask, newAlpha, newPens);
    if (!source) return fallback ? fallback(context, newWidth, newHeight, newRgb, newMask, newAlpha, newPens) : ERR_TFIMAGE;
    double matrix[4] = {(double)newWidth / source->width, 0, 0, (double)newHeight / source->height};
    int lineWidth = 0;
    return RenderImageSource(context, source, matrix, 0, 0, newWidth, newHeight, nullptr, nullptr, nullptr, newRgb,
                             newMask, newAlpha, nullptr, &lineWidth);
}

// ============================================================================
// The raster engine's file-format services
// ============================================================================

static int ProbeService(void *, void *, const char *file, const char *loaders, const char *adapters,
                        const void *userTags, lvImageProbe *probe)
{
    int isVector = 0;
    int found = ProbeImageFile(file, loaders, adapters, userTags, &isVector, &probe->format, &probe->width,
                               &probe->height, &probe->depth, &probe->alpha, &probe->transparency);
    probe->imageType = isVector;
    return found;
}

static int RenderService(void *context, void *, lvImageSource *source, const lvMatrix2D *matrix, double minX,
                         double minY, int width, int height, lvImageSetOut *out)
{
    double m[4] = {matrix->sx, matrix->rx, matrix->ry, matrix->sy};
    lvBitMapHandle *rgb = nullptr, *mask = nullptr, *alpha = nullptr;
    void *extra = nullptr;
    int lineWidth = 0;
    int code = RenderImageSource(context, source, m, -minX, -minY, width, height, nullptr, nullptr, nullptr, &rgb,
                                 &mask, &alpha, &extra, &lineWidth);
    if (code) return code;
    out->rgb = rgb, out->mask = mask, out->alpha = alpha, out->pens = nullptr;
    out->width = width, out->height = height;
    return 0;
}

static void RetainService(void *, lvImageSource *source) { RetainImageSource(source); }
static void ReleaseService(void *, lvImageSource *source) { ReleaseImageSource(source); }

void InstallFileFormatServices(void)
{
    static const lvFileFormatServices services = {nullptr, ProbeService, RenderService, RetainService, ReleaseService};
    SetFileFormatServices(&services);
}

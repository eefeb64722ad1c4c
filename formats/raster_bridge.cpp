// raster_bridge.cpp - what the loader and the renderer need of the raster engine: a
// scaled copy of a pixel buffer and an RGB bitmap made from ARGB words.
//
// Until the raster engine offers its buffer scaler and ARGB conversion, the nearest-
// neighbour copy and the plain bitmap fill below stand in for them.
// Dependencies: raster/lvbitmap.h.
#include "formats/formats_internal.h"
#include "raster/lvbitmap.h"

// Nearest neighbour, 4-byte words or 1-byte pens; rows of newWidth pixels.
static uint8_t *ScalePixelsNearestFallback(const uint8_t *pixels, int width, int height, int newWidth, int newHeight,
                                           int sourceRowLength, int bytesPerPixel)
{
    uint8_t *out = (uint8_t *)AllocMemory((size_t)newWidth * newHeight * bytesPerPixel, 0);
    if (!out) return nullptr;
    for (int y = 0; y < newHeight; y++) {
        int sy = (int)((int64_t)y * height / newHeight);
        const uint8_t *row = pixels + (size_t)sy * sourceRowLength * bytesPerPixel;
        uint8_t *target = out + (size_t)y * newWidth * bytesPerPixel;
        for (int x = 0; x < newWidth; x++) {
            int sx = (int)((int64_t)x * width / newWidth);
            if (bytesPerPixel == 4) ((uint32_t *)target)[x] = ((const uint32_t *)row)[sx];
            else target[x] = row[sx];
        }
    }
    return out;
}

uint32_t *ScaleSourcePixels(const void *pixels, int width, int height, int newWidth, int newHeight,
                            int sourceRowLength, int paletteMode, int scaleMode)
{
    if (!ImagePixelsFit(newWidth, newHeight)) return nullptr;
    return (uint32_t *)ScalePixelsNearestFallback((const uint8_t *)pixels, width, height, newWidth, newHeight,
                                                  sourceRowLength, paletteMode ? 1 : 4);
}

int MakeBitmapsFromArgb(const uint32_t *pixels, int width, int height, int rowLength, lvBitMapHandle **rgb,
                        lvBitMapHandle **mask, lvBitMapHandle **alpha)
{
    lvBitMapHandle *bitmap = AllocRgbBitmap(width, height, 0, nullptr);
    if (!bitmap) return ERR_MEM;
    {
        lvScopedLock lock(bitmap, 0);
        if (!lock) {
            FreeBitmapHandle(bitmap);
            return ERR_LOCKBMAP;
        }
        for (int y = 0; y < height; y++)
            for (int x = 0; x < width; x++) WriteLockPixel(&lock.lock, pixels[(size_t)y * rowLength + x], x, y);
    }
    *rgb = bitmap;
    if (mask) *mask = nullptr;
    return 0;
}

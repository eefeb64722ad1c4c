// lvpluginraster.h - the raster services that the plug-in interface table hands
// to plug-ins (graphics sub-table slots 21-23, 25-28, 35-38): blits and fills of
// raw pixel buffers, ARGB reads of bitmap sets, pixel conversions, scaling,
// pixels to pens, special coordinates.
//
// Depends on: runtime/plugin.h (SetPluginRasterEntries), the raster engine.
// Limits: script thread only.
#pragma once
#include "runtime/lvplugin.h"

// Puts the entries into the interface table (start-up).
void InstallRasterPluginEntries();

// The entries themselves (tests call them directly).
void PluginBltRawPixels(uint8_t *target, const uint8_t *source, const lvPluginBlitDesc *desc, uint32_t ignored,
                        const lvPluginTag *tags);
void PluginFillRawRect(uint8_t *pixels, int32_t x, int32_t y, int32_t width, int32_t height, uint32_t colour,
                       uint32_t flags, const lvPluginTag *tags);
void PluginWriteRawPixel(uint8_t *pixels, int32_t x, int32_t y, uint32_t colour, uint32_t flags,
                         const lvPluginTag *tags);
uint32_t *PluginReadArgb(void *rgb, void *mask, void *alpha, const lvPluginTag *tags);
// Width (attribute 0) or height (1) of a bitmap as BltBitMap hands it to plug-ins.
int PluginPlaneSize(void *plane, int attribute);
int PluginSaveImage(const char *file, const void *pixels, int32_t width, int32_t height, int32_t saver,
                    const lvPluginTag *tags);
struct lvBitMapHandle;
// The image savers live above the raster engine; they install themselves here so that
// PluginSaveImage can reach them. Same arguments and result as SaveImageByFormat.
typedef int (*lvPluginImageSaver)(int format, const uint32_t *pixels, int width, int height, const char *path,
                                  const char *adapter, const void *userTags, int transparentPen,
                                  lvBitMapHandle *penPlane, const uint32_t *palette, int depth, int hasAlpha,
                                  int quality);
void SetPluginImageSaver(lvPluginImageSaver saver);
int PluginRemapToPalette(const void *pixels, uint8_t *pensOut, lvPluginPaletteDesc *desc, uint32_t flags,
                         const lvPluginTag *tags);

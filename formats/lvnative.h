// lvnative.h - the "native" decoder of the image and anim loader chains: TIFF through
// libtiff (over the virtual file layer) and WebP through libwebp and libwebpdemux.
// Pictures come out as straight-alpha ARGB words or, when pens are wanted and the
// picture is indexed or grey, as 8-bit pens with a palette.
//
// Dependencies: runtime/vfile.h, libtiff 4.5, libwebp/libwebpdemux.
// Limits: script thread only; every picture within LV_MAX_IMAGE_PIXELS; WebP files are
// read whole (at most 256 MiB).
#pragma once
#include "formats/lvformats.h"
#include <cstdint>

// Request flags the decoder reads: LV_IMGLOAD_TRANSPEN, LV_IMGLOAD_PALETTE,
// LV_IMGLOAD_SIZEONLY, LV_IMGLOAD_COPYPALETTE, LV_IMGLOAD_PALETTEONLY.
struct lvNativeDecoder;

// The decoder or null (not TIFF or WebP, damaged, too large). transparentColor: a
// colour (0x00RRGGBB) whose palette entry becomes transparent, or -1.
lvNativeDecoder *OpenNativeDecoder(lvVFile *file, uint32_t flags, int64_t transparentColor, int *width,
                                   int *height, int *depth, int *hasAlpha, int *penKind, int *frameCount);
// A new buffer of pens or ARGB words for frame index, or null. palette: 256 words with
// LV_IMGLOAD_COPYPALETTE (pen pictures). transparentPen: -1 none, -2 alpha, else the pen.
// delay: milliseconds (0 for TIFF pages). formatName: "TIFF" or "WebP".
uint8_t *DecodeNativeFrame(lvNativeDecoder *decoder, int index, uint32_t **palette, int *depth, int *transparentPen,
                           int *delay, const char **formatName);
void CloseNativeDecoder(lvNativeDecoder *decoder);

// The image loader's entry: 0, ERR_LOADPICTURE2 or ERR_NOPALETTE.
int LoadNativeImage(lvVFile *file, uint32_t flags, int64_t transparentColor, uint8_t **pixels, uint32_t **palette,
                    int *transparentPen, int *width, int *height, int *depth, int *hasAlpha, const char **formatName);

// Anims: files of more than one frame (TIFF pages, animated WebP).
struct lvNativeAnim;
lvNativeAnim *OpenNativeAnim(lvVFile *file, int pensWanted, int transparencyWanted, int *width, int *height,
                             int *frameCount, int *hasAlpha);
uint8_t *LoadNativeAnimFrame(lvNativeAnim *anim, int index, uint32_t **palette, int *depth, int *transparentPen);
// Milliseconds of a decoded frame (0 until decoded).
int GetNativeAnimDelay(const lvNativeAnim *anim, int index);
void CloseNativeAnim(lvNativeAnim *anim);
// The kind-3 anim decoder's name.
const char *GetNativeFormatName(void);

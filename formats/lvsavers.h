// lvsavers.h - saving pictures: the options of the saving commands, the preparation of
// the pixels a saver takes (true colour or a palette image), and the dispatch to the
// built-in writers (BMP, PNG, JPEG, GIF, IFF ILBM) or a saver plug-in.
//
// Dependencies: formats (the writers), raster/lvimage.h (ExtractArgbPixels,
// ReadBitmapPixels, BitmapFromArgb), runtime/plugin.h (FindSaverPlugin).
// Limits: script thread only.
#pragma once
#include "formats/lvformats.h"
#include <cstdint>

struct lvUserTag;

// Capability columns of the saver table; a plug-in id without a registering plug-in
// answers no to both.
bool SaverTakesTrueColor(int format);
bool SaverTakesPalette(int format);

// Writes pixels (ARGB words, hasAlpha when they carry alpha) or the pen plane with its
// palette (depth bits, transparentPen -1 none) in the format. 0 or an error code: the
// writers' own, ERR_UNKNOWNIMGOUT, ERR_SAVEIMAGE, ERR_LOCKBMAP.
int SaveImageByFormat(int format, const uint32_t *pixels, int width, int height, const char *path,
                      const char *adapter, const void *userTags, int transparentPen, lvBitMapHandle *penPlane,
                      const uint32_t *palette, int depth, int hasAlpha, int quality);

// Saves an RGB bitmap (with mask or alpha bitmap) or a palette bitmap (with palette and
// transparent pen). adapterHeld: the RGB bitmap lives in a display adapter and is read
// back first. fillColour: written where the picture is transparent, -1 keeps the colour.
int WriteImageFile(int format, lvBitMapHandle *rgb, int width, int height, const char *path, const char *adapter,
                   const void *userTags, lvBitMapHandle *mask, int64_t fillColour, lvBitMapHandle *alpha,
                   lvBitMapHandle *penPlane, const uint32_t *palette, int depth, int transparentPen, int quality,
                   int dither, int adapterHeld);

// The options table (or a plain quality number) at argument index when it is the last
// argument. The caller presets the defaults. adapter: a buffer of 256 bytes. userTags:
// a list the caller frees with FreeUserTags(list, 0). 0, ERR_DEPTHRANGE or the user-tag
// reader's error.
int ParseSaveImageOptions(lvState *L, int index, int *format, int64_t *fillColour, int *quality, int *depth,
                          int *dither, char *adapter, lvUserTag **userTags);

// RGB -> palette image for savers that take only palette images: a pen plane of
// width x height, its palette (256 words) and transparent pen (-1 none), from at most
// `colours` colours. 0 or an error code.
typedef int (*lvPaletteMaker)(lvBitMapHandle *rgb, lvBitMapHandle *mask, lvBitMapHandle *alpha, int width,
                              int height, int colours, int dither, lvBitMapHandle **penPlane, uint32_t *palette,
                              int *transparentPen);
// Installs the raster engine's quantiser (null restores the exact-colour builder, which
// fails with ERR_UNIMPLCMD when the picture has more colours than fit).
void SetSaverPaletteMaker(lvPaletteMaker maker);
// The quantiser in force (the exact-colour builder when none was installed).
lvPaletteMaker GetSaverPaletteMaker(void);
int MakeExactPaletteBitmap(lvBitMapHandle *rgb, lvBitMapHandle *mask, lvBitMapHandle *alpha, int width, int height,
                           int colours, int dither, lvBitMapHandle **penPlane, uint32_t *palette, int *transparentPen);

// lvanimwriter.h - the anim writer: frames (RGB bitmaps with mask or alpha, or palette
// bitmaps) written as GIF, MJPEG AVI, IFF ANIM or a format of an anim saver plug-in. The
// format's writer is opened with the first frame.
// Dependencies: formats/lvgif.h, lvavi.h, lviffanim.h, lvsavers.h (the quantiser),
// raster/lvimage.h (ExtractArgbPixels), runtime/plugin.h (FindSaverPlugin).
#pragma once
#include "formats/lvformats.h"
#include "formats/lvavi.h"
#include <cstdint>

enum { ANMFMT_GIF = 0, ANMFMT_MJPEG = 1, ANMFMT_IFF = 2 };

struct lvAnimWriter;
struct lvUserTag;

// 0, ERR_MEM or ERR_UNKNOWNANMOUT. limits: the AVI part sizes (null: the standard ones).
int BeginAnimWriter(const char *path, const char *adapter, const lvUserTag *userTags, int format, int width,
                    int height, int quality, int fps, lvAnimWriter **writer, const lvAviLimits *limits = nullptr);
// A frame is an RGB bitmap (with mask or alpha bitmap) or a palette bitmap with its
// palette, depth and transparent pen (-1 none). 0 or an error code.
int AppendAnimFrame(lvAnimWriter *writer, lvBitMapHandle *rgb, lvBitMapHandle *mask, lvBitMapHandle *alpha,
                    lvBitMapHandle *paletteBitmap, const uint32_t *palette, int paletteDepth, int depth,
                    int transparentPen, int delay, int dither, int64_t fillColour, int optimise);
// Completes the file and frees the writer: 0 or the first failure of the format's writer
// (for plug-ins ERR_SAVEANIM when FinishAnimStream reports one). A writer without frames
// writes nothing.
int FinishAnimWriter(lvAnimWriter *writer);
int GetAnimWriterFrameCount(const lvAnimWriter *writer);

// lviffanim.h - IFF ANIM: the reader (a first ILBM frame, then DLTA deltas of methods
// 5, 7, 8, 100 and 101 played forward over two plane buffers, with interlaced field
// deltas rebuilt into whole frames) and the writer (a ByteRun1 first frame, then
// method 5 deltas against the frame two back).
// Dependencies: formats/lvilbm.h, runtime/vfile.h, raster/lvbitmap.h.
#pragma once
#include "formats/lvformats.h"
#include <cstddef>
#include <cstdint>

struct lvIffAnimReader;
struct lvIffAnimWriter;

// Takes the file (closed on failure too). deinterlace: rows of the field a frame did not
// carry are doubled from their neighbours instead of kept from the earlier field.
// paletteMode: frames are pens; transparency: the BMHD colour key is honoured.
lvIffAnimReader *OpenIffAnimReader(lvVFile *file, int deinterlace, int paletteMode, int transparency, int *width,
                                   int *height, int *frameCount);
// A new buffer of width x height pens (palette mode) or ARGB words, or null when the
// frame cannot be decoded. palette: a new 1024-byte copy (palette mode only), or null.
// transparentPen: a pen, -1 none, -2 the transparency is in the alpha bytes.
void *GetIffAnimFrame(lvIffAnimReader *reader, int frame, uint32_t **palette, int *depth, int *transparentPen);
void CloseIffAnimReader(lvIffAnimReader *reader);
void RewindIffAnim(lvIffAnimReader *reader);
// Reads the next frame's chunks and applies its DLTA: the plane buffer it changed, or
// null when the delta cannot be read or does not fit the planes.
uint8_t *DecodeIffAnimDelta(lvIffAnimReader *reader);
// Milliseconds, truncated from sixtieths of a second; 0 for a frame not read yet.
int GetIffAnimDelay(lvIffAnimReader *reader, int frame);
// Deltas applied since opening (rewinds replay them; the count keeps growing).
int64_t GetIffAnimDeltaCount(lvIffAnimReader *reader);

// 0, ERR_MEM, ERR_WRONGUSAGE (a size the format cannot hold) or ERR_WRITEFILE (path
// as error argument).
int OpenIffAnimWriter(const char *path, const char *adapter, const void *userTags, int width, int height,
                      lvIffAnimWriter **writer);
// pens: width x height pens, rowBytes apart. delay in milliseconds; palette: 2^depth
// colours (0x00RRGGBB); transparentPen: -1 none. 0, ERR_WRONGUSAGE (depth above 8 or
// not the first frame's), ERR_MEM or ERR_WRITE.
int WriteIffAnimPens(lvIffAnimWriter *writer, const uint8_t *pens, int rowBytes, int delay, const uint32_t *palette,
                     int depth, int transparentPen);
// The same from a palette bitmap's pen plane; ERR_LOCKBMAP when it cannot be read.
int WriteIffAnimFrame(lvIffAnimWriter *writer, lvBitMapHandle *penPlane, int delay, const uint32_t *palette,
                      int depth, int transparentPen);
// Patches the sizes, closes and frees: 0 or the first failure (ERR_WRITE, then
// ERR_CLOSEFILE). A writer without frames leaves its "FORM"..."ANIM" header only.
int FinishIffAnimWriter(lvIffAnimWriter *writer);
// Frees without completing (the file is closed as it stands).
void FreeIffAnimWriter(lvIffAnimWriter *writer);

// lvilbm.h - IFF ILBM (planar: 1 to 8 planes, 24 planes, HAM6, HAM8, extra half-brite)
// and IFF PBM (chunky) pictures: the reader, the ILBM writer, and the plane and
// ByteRun1 routines the IFF ANIM reader and writer reuse.
//
// Plane buffers are plane-major: plane k's row y starts at (k * height + y) * rowBytes,
// rowBytes = IlbmRowBytes(width) (a whole number of 16-bit words).
// Dependencies: runtime/vfile.h, raster/lvbitmap.h (pen planes of the writer).
#pragma once
#include "formats/lvformats.h"
#include <cstddef>
#include <cstdint>

inline int IlbmRowBytes(int width) { return ((width + 15) >> 3) & ~1; }

// What a BODY holds.
struct lvIlbmLayout {
    int width, height;
    int planes;      // 1..8 or 24 (ILBM), 8 (PBM)
    int masking;     // 0 none, 1 mask plane, 2 transparent colour
    int pbm;         // chunky rows
};

// Uncompressed BODY: PBM rows of width bytes (even-padded) into width x height pens,
// or ILBM plane rows (and a skipped mask row with masking 1) into a plane buffer.
// false when the BODY is short.
bool ReadIlbmBody(const uint8_t *body, size_t length, const lvIlbmLayout &layout, uint8_t *out);
// ByteRun1 BODY, as ReadIlbmBody (for up to 8 planes or PBM).
bool UnpackByteRun1Body(const uint8_t *body, size_t length, const lvIlbmLayout &layout, uint8_t *out);
// ByteRun1 BODY of 24 planes: each row is one stream of rowBytes x 24 bytes.
bool UnpackByteRun1Deep(const uint8_t *body, size_t length, const lvIlbmLayout &layout, uint8_t *out);
// One ByteRun1 stream into count bytes (bytes past them dropped); false when the source ends first.
bool UnpackByteRun1(const uint8_t **source, const uint8_t *end, uint8_t *out, size_t count);
// Up to 8 planes into width x height 8-bit pens (plane k is bit k), or 24 planes into
// 0x00RRGGBB words (planes 0-7 red, 8-15 green, 16-23 blue).
void PlanesToPens(const uint8_t *planes, int width, int height, int planeCount, void *out);
void PensToArgb(const uint8_t *pens, size_t count, const uint32_t *palette, uint32_t *out);
// One row of pens in hold-and-modify form into 0x00RRGGBB words; the colour starts black.
void DecodeHam6(const uint8_t *pens, int width, const uint32_t *palette, uint32_t *out);
void DecodeHam8(const uint8_t *pens, int width, const uint32_t *palette, uint32_t *out);
// Packs count bytes; returns the packed length (at most count + (count + 127) / 128).
size_t PackByteRun1Row(const uint8_t *row, size_t count, uint8_t *out);
// width x height pens (rowBytes apart) into planeCount planes of a plane buffer.
void PensToPlanes(const uint8_t *pens, int penRowBytes, int width, int height, int planeCount, uint8_t *planes);
// The ARGB words' red bits into planes 0-7, green 8-15, blue 16-23.
void ArgbToPlanes(const uint32_t *argb, int width, int height, uint8_t *planes);

// 0, ERR_LOADPICTURE2, ERR_NOPALETTE or ERR_MEM. flags: LV_IMGLOAD_ bits.
// callerPalette: colours ended by 0xFFFFFFFF that replace the first palette entries, or null.
// transparentColor: the request's colour under LV_IMGLOAD_TRANSCOLOR, else -1.
// pixels: ARGB words or, in palette mode, pens; palette: 256 words (flag 0x100 or
// palette only, depth 8 or less); ranges: 128 entries, or null when not collected.
int ReadIlbmFile(lvVFile *file, uint32_t flags, int isPbm, const uint32_t *callerPalette, int64_t transparentColor,
                 int *transparentPen, int *width, int *height, int *depth, uint8_t **pixels, uint32_t **palette,
                 lvCycleRange *ranges, int *rangeCount);

// The writer's BODY: every row of every plane packed with ByteRun1. 0 or ERR_WRITE / ERR_MEM.
struct lvWrittenFile;
int WriteIlbmBody(lvWrittenFile *out, const uint8_t *planes, int width, int height, int planeCount, int64_t *size);
// 1..8 planes from a pen plane, or 24 planes from ARGB pixels (no pen plane).
// 0, ERR_WRITEFILE (path as argument), ERR_MEM, ERR_WRITE, ERR_LOCKBMAP or ERR_CLOSEFILE.
int WriteIlbmFile(const char *path, const char *adapter, const void *userTags, const uint32_t *argb, int width,
                  int height, lvBitMapHandle *penPlane, const uint32_t *palette, int depth, int transparentPen);

// lvgif.h - the GIF reader (stills and every frame of an anim, composed on a canvas
// with the frames' disposal methods, reached through an index of key frames) and the
// GIF89a writer (one or more frames, each with its own colour table, optionally only
// the rectangle that changed since the previous frame).
//
// Dependencies: runtime/vfile.h, raster/lvbitmap.h (pen planes of the writer).
// Limits: script thread only; a reader or writer belongs to one caller at a time.
#pragma once
#include "formats/lvformats.h"
#include <cstdint>

// Reader flags beyond those of lvImageLoadRequest.
constexpr uint32_t LV_GIF_CLEARCANVAS = 0x800;  // with LV_IMGLOAD_TRANSPEN: the canvas starts transparent black
constexpr uint32_t LV_GIF_KEEPFILE = 0x4000;    // CloseGifReader leaves the file open
constexpr uint32_t LV_GIF_STILL = 0x8000;       // ReadGifFrame hands over the canvas itself, once

// One frame of the index.
struct lvGifFrameEntry {
    int64_t position;  // where the frame's blocks (extensions included) begin
    uint16_t delay;    // hundredths of a second, as stored
    uint8_t keyFrame;  // covers the screen, no transparent index, disposal not 3
    uint8_t pad;
};

struct lvGifReader {
    lvVFile *file;
    int width, height;        // logical screen
    int depth;                // bits of the screen, then of the last local table read
    int pixelBytes;           // 1 palette mode, 4 ARGB
    uint32_t globalTable[256];
    uint32_t localTable[256];
    const uint32_t *table;    // the one in force
    uint8_t *canvas;          // width x height pixels of pixelBytes
    uint8_t *save;            // the rectangle kept for disposal 3
    int background;           // background index
    int transparent;          // of the current frame, -1 none
    int disposal;             // of the current frame
    int delay;                // of the current frame
    int frameX, frameY, frameWidth, frameHeight;  // as stored
    int nextFrame;            // frame number of the next image descriptor, -1 none
    int frameCount;
    int64_t headerEnd;        // behind the screen descriptor and the global table
    int64_t framePosition;    // where the current frame's blocks begin
    uint32_t flags;
    lvGifFrameEntry *index;
    int indexSize;            // entries allocated
    int64_t framesDecoded;    // statistic: LZW decodes run (tests count restarts by it)
};

// The reader or null. Size only (LV_IMGLOAD_SIZEONLY) fills width, height and depth
// and returns null. Opening indexes every frame.
lvGifReader *OpenGifReader(lvVFile *file, uint32_t flags, int *width, int *height, int *depth, int *frameCount);
// The canvas after frame (a new buffer of pens or ARGB words), or null on a decoding
// error or in palette-only mode. palette (1024 bytes, with LV_IMGLOAD_COPYPALETTE or
// LV_IMGLOAD_PALETTEONLY):
// the table in force for the frame. transparentPen: -1 none (or flag 0x2 unset), -2
// ARGB, else the index.
uint8_t *ReadGifFrame(lvGifReader *reader, int frame, uint32_t **palette, int *depth, int *transparentPen);
// The frame's delay in hundredths of a second (0 for a frame out of range).
int GetGifFrameDelay(const lvGifReader *reader, int frame);
void CloseGifReader(lvGifReader *reader);
// The still picture: frame 0. 0 or ERR_LOADPICTURE2 (0 in size-only mode, 0 in
// palette-only mode when a palette came back).
int DecodeGifImage(lvVFile *file, uint32_t flags, uint8_t **pixels, int *transparentPen, int *height, int *width,
                   uint32_t **palette, int *depth);
// count entries of red, green, blue into 0x00RRGGBB words; false on a short read.
bool ReadGifColorTable(lvVFile *file, uint32_t *table, int count);

// ---- Writer ------------------------------------------------------------------------

struct lvGifWriter;
// 0, ERR_MEM, ERR_WRITEFILE (path as error argument) or ERR_WRITE.
int OpenGifWriter(const char *path, const char *adapter, const void *userTags, int width, int height,
                  lvGifWriter **writer);
// 0, ERR_LOCKBMAP, ERR_MEM, ERR_WRITE or ERR_WRONGUSAGE (a plane smaller than the
// screen). transparentPen -1 none.
int WriteGifFrame(lvGifWriter *writer, lvBitMapHandle *penPlane, int delayMs, const uint32_t *palette, int depth,
                  int transparentPen, int optimise, int anim);
// Writes the trailer, closes and frees: 0, ERR_WRITE (any earlier write failed) or
// ERR_CLOSEFILE.
int CloseGifWriter(lvGifWriter *writer);
// The text the writer stores in its unused global colour table area.
extern const char kGifWriterSignature[];

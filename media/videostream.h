// videostream.h - what decodes a video for the player: the stream operations (a video
// plug-in's exports, or the built-in CDXL reader behind the same table), the CDXL reader
// itself, and the YUV 4:2:0 to RGB conversions of streams that deliver planes.
//
// The records exchanged with a stream (lvVideoStreamInfo, lvVideoPacketInfo,
// lvVideoDecodeRequest, lvAudioDecodeRequest) are part of the plug-in interface and live
// in runtime/lvplugin.h.
// Dependencies: runtime/vfile.h (the CDXL file), formats/lvilbm.h (planes, HAM).
// Threads: a stream is driven by one thread at a time (the player's decoder reads
// packets while its servers decode them; the player keeps those apart per stream kind).
#pragma once
#include "runtime/lvplugin.h"
#include <cstddef>
#include <cstdint>

// ---- The stream operations ------------------------------------------------------------
// Where a stream comes from.
enum {
    LV_VIDEOBACKEND_PLUGIN = 1,
    LV_VIDEOBACKEND_CDXL = 2,
    LV_VIDEOBACKEND_NATIVE = 3,
};

// The eleven operations in the order a plug-in exports them.
struct lvVideoStreamOps {
    lvOpenVideoFunction OpenVideo;
    lvCloseVideoFunction CloseVideo;
    lvNextPacketFunction NextPacket;
    lvFreePacketFunction FreePacket;
    lvDecodeVideoFrameFunction DecodeVideoFrame;
    lvDecodeAudioFrameFunction DecodeAudioFrame;
    lvSeekVideoFunction SeekVideo;
    lvFlushVideoStreamFunction FlushAudio;
    lvFlushVideoStreamFunction FlushVideo;
    lvGetVideoFramesFunction GetVideoFrames;
    lvGetVideoFormatFunction GetVideoFormat;
};

// A video plug-in's exports as a table; false when one of them is missing.
bool GetPluginVideoOps(const lvPluginRecord *plugin, lvVideoStreamOps *ops);
// The built-in CDXL reader as a table (OpenVideo opens through the file layer).
const lvVideoStreamOps *GetCdxlVideoOps();

// ---- CDXL -------------------------------------------------------------------------------
// A CDXL file: chunks of one fixed size, each a header, a 0x0RGB palette, the planes and
// signed 8-bit mono sound.
enum {
    LV_CDXL_HEADER = 32,
    LV_CDXL_MAXPALETTE = 512, // 256 entries
    LV_CDXL_MAXPLANES = 8,
};

struct lvCdxlHeader {
    int type;
    int info;            // low four bits 1: HAM pictures
    uint32_t chunkSize;
    uint32_t previousSize;
    uint32_t frameNumber;
    int width;
    int height;
    int planes;
    int paletteSize;     // bytes
    int audioSize;       // bytes
};

struct lvCdxlReader {
    struct lvVFile *file;
    int width;
    int height;
    int rowBytes;        // per plane row: whole 16-bit words
    int planes;
    int frameCount;      // file size / chunk size
    int frameIndex;      // the chunk being read
    int chunkSize;
    int paletteSize;     // of the first chunk; every chunk must repeat it
    int videoBytes;      // planes x row bytes x height
    int audioBytes;
    int skipBytes;       // what follows a chunk's sound
    int ham;
    double fps;
    int audioPending;    // the current chunk's sound comes next
};

// Parses the 32 header bytes at data; false when fewer are given.
bool ParseCdxlHeader(const uint8_t *data, size_t length, lvCdxlHeader *header);
// Frames per second of a chunk size: the data rate of a single-, double- or quad-speed drive.
double CdxlFramesPerSecond(int chunkSize);

// The stream operations over a CDXL file. OpenCdxl refuses (null) a file whose first
// chunk is not a consistent CDXL chunk; a later chunk that differs ends the stream.
lvCdxlReader *OpenCdxl(const char *path, lvVideoStreamInfo *info);
void CloseCdxl(lvCdxlReader *reader);
// 0, -1 (end of file, a short read or a chunk unlike the first) or -2 (no memory).
int NextCdxlPacket(lvCdxlReader *reader, lvVideoPacketInfo *info);
void FreeCdxlPacket(void *packet);
int DecodeCdxlFrame(lvCdxlReader *reader, void *packet, lvVideoDecodeRequest *request);
void DecodeCdxlAudio(lvCdxlReader *reader, void *packet, lvAudioDecodeRequest *request);
int SeekCdxl(lvCdxlReader *reader, int32_t ms, int32_t byBytes);
int GetCdxlFrameCount(lvCdxlReader *reader);
const char *GetCdxlFormatName();

// ---- YUV 4:2:0 to RGB ------------------------------------------------------------------
// Chroma sample (x, y) of the picture is at column x / 2, row y / 2 of U and V, so a
// stream gives planes of ceil(width / 2) x ceil(height / 2) samples.
struct lvYuvConversion {
    const uint8_t *const *planes;  // Y, U (Cb), V (Cr)
    const int *rowLengths;         // bytes
    void *destination;
    int sourceWidth, sourceHeight; // of the Y plane
    int destWidth, destHeight;     // ConvertYuv420Scaled only
    int destRowLength;             // pixels
    int pixelFormat;               // the raster engine's formats 0..13
    int bytesPerPixel;             // 2, 3 or 4, as the format
};

// BT.601 studio range to R, G, B (0..255) in integer arithmetic.
void YuvToRgb(int y, int u, int v, int *r, int *g, int *b);
// Same size, every format 0..13; the fast path is taken where the CPU has it.
void ConvertYuv420(const lvYuvConversion *request);
// Nearest-sample scaling to any size, every format 0..13.
void ConvertYuv420Scaled(const lvYuvConversion *request);
// The portable rows of ConvertYuv420 (the fast path must match them bit for bit).
void ConvertYuv420Scalar(const lvYuvConversion *request);
// Whether ConvertYuv420 uses the AVX2 rows on this CPU; forcing it off (tests, benches)
// takes the portable rows.
bool YuvFastPathAvailable();
void SetYuvFastPath(bool on);
// The AVX2 rows for 32-bit formats (count pixels of one row); only where available.
void ConvertYuvRowAvx2(const uint8_t *y, const uint8_t *u, const uint8_t *v, uint32_t *out, int count,
                       int pixelFormat);

// lvavi.h - AVI: the reader (24-bit DIB or MJPEG video, seeking through idx1) and the
// writer (OpenDML AVI with one MJPEG video stream and one silent PCM audio stream, a first
// RIFF "AVI " part and further "AVIX" parts, standard and super indexes, and idx1).
// Dependencies: runtime/vfile.h, formats/lvformats.h (JPEG codec).
#pragma once
#include "formats/lvformats.h"
#include <cstddef>
#include <cstdint>

struct lvAviReader;
struct lvAviWriter;

// Takes the file (closed on failure too).
lvAviReader *OpenAviReader(lvVFile *file, int *width, int *height, int *frameCount);
// A new width x height buffer of 0x00RRGGBB words, or null.
uint32_t *DecodeAviFrame(lvAviReader *reader, int frame);
void CloseAviReader(lvAviReader *reader);

// The MJPEG frame of a chunk as a JPEG stream: "AVI1" turned back into "JFIF" and the
// standard Huffman tables put before the scan when the frame has none. Returns the
// stream's length (at most size + 420), 0 when the chunk is no JPEG stream.
size_t RebuildMjpegFrame(const uint8_t *chunk, size_t size, uint8_t *out);

// The writer's sizes of a RIFF part; tests lower them to split a small file.
struct lvAviLimits {
    int64_t firstPart = 1000000000;
    int64_t laterParts = 2000000000;
};
// 0, ERR_WRONGUSAGE (fps below 1 or above 1000000, or a size the format cannot hold),
// ERR_MEM, or ERR_WRITEFILE with the path (or the temporary file's name).
int OpenAviWriter(const char *path, const char *adapter, const void *userTags, int fps, int width, int height,
                  int quality, const char *name, lvAviWriter **writer, const lvAviLimits *limits = nullptr);
// pixels: width x height 0xAARRGGBB words of the writer's size. 0, ERR_WRONGUSAGE,
// ERR_MEM or ERR_WRITE (the writer then refuses further frames with that code).
int WriteAviFrame(lvAviWriter *writer, const uint32_t *pixels, int width, int height);
// Completes the file and frees the writer: 0 or the first failure (ERR_WRITE, then ERR_CLOSEFILE).
int FinishAviWriter(lvAviWriter *writer);
// Frees without completing: the temporary file is deleted, the output closed as it stands.
void FreeAviWriter(lvAviWriter *writer);
// The audio figures fps leads to (for the tests of the rate rules).
struct lvAviRates {
    int microsPerFrame, effectiveRate, sampleRate, samplesPerFrame;
};
int ComputeAviRates(int fps, lvAviRates *rates);

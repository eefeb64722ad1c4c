// packed.h - packed streams: a 4-byte magic, the unpacked size (big-endian
// 32-bit) and a zlib stream; the engine of the compress library.
// Dependencies: runtime/vfile.h, zlib.
// Limits: memory use is fixed (two 16 KB buffers and the zlib state); the size
// field keeps its 32 bits (the reader does not need it).
#pragma once
#include "runtime/vfile.h"
#include <cstddef>
#include <cstdint>

// Magics of the three users of the format.
#define LV_PACK_MAGIC_FILE "LVPK"   // CompressFile and DecompressFile
#define LV_PACK_MAGIC_PLUGIN "PLPK" // payloads of appended plug-in blocks
#define LV_PACK_MAGIC_APPLET "LVZ"  // the appended applet (with its zero byte)

// Writes a packed stream of sourcePath to openDestination at its position, or to
// a new file destinationPath. packedSizeOut (optional) gets the bytes written,
// header included. 0 or an error code.
int PackFile(const char *magic, const char *sourcePath, const char *destinationPath, lvVFile *openDestination,
             int64_t *packedSizeOut);

// Unpacks the stream of openSource at its position, or of sourcePath from offset.
// The output goes to memory (at most memorySize bytes; a full area ends with
// success), to a new file destinationPath, or nowhere. consumedOut gets the
// bytes of the packed stream read (header included), destinationSizeOut the size
// of the written file. 0 or an error code.
int UnpackStream(const char *magic, const char *sourcePath, const char *destinationPath, lvVFile *openSource,
                 int64_t offset, int64_t *destinationSizeOut, int64_t *consumedOut, void *memory,
                 size_t memorySize);

// zlib result to error code: -6 ERR_ZLIBVERSION, -4 ERR_MEM, -3 ERR_ZLIBDATA,
// -2 ERR_ZLIBSTREAM, -1 ERR_ZLIBIO, else ERR_UNKNOWN.
int MapZlibError(int code);

// The compress library's engine: "LVPK" streams between two files.
int CompressFile(const char *source, const char *destination, int64_t *packedSize);
int DecompressFile(const char *source, const char *destination, int64_t *unpackedSize);

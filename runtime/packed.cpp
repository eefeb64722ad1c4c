// packed.cpp - packing and unpacking of packed streams through the file layer.
// Dependencies: runtime/vfile.h, zlib (deflate at the default level, inflate).
// Limits: two 16,384-byte buffers whatever the file size; a damaged stream is
// an error code, never a read outside the buffers.
#include "runtime/packed.h"
#include "runtime/errors.h"
#include "base/lverrors.h"

#include <cstring>
#include <zlib.h>

// ============================================================================
// Shared pieces
// ============================================================================

enum { PackBlock = 16384 };

int MapZlibError(int code)
{
    switch (code) {
    case Z_VERSION_ERROR: return ERR_ZLIBVERSION;
    case Z_MEM_ERROR: return ERR_MEM;
    case Z_DATA_ERROR: return ERR_ZLIBDATA;
    case Z_STREAM_ERROR: return ERR_ZLIBSTREAM;
    case Z_ERRNO: return ERR_ZLIBIO;
    default: return ERR_UNKNOWN;
    }
}

// The two block buffers and the files of one run, released on every path.
struct lvPackJob {
    uint8_t *input;        // block read from the source
    uint8_t *output;       // block produced by zlib
    lvVFile *source;       // source handle
    lvVFile *destination;  // destination handle
    bool ownsSource;       // the job opened the source
    bool ownsDestination;  // the job opened the destination
};

static int BeginJob(lvPackJob *job)
{
    std::memset(job, 0, sizeof *job);
    job->input = (uint8_t *)AllocMemory(PackBlock, 0);
    job->output = (uint8_t *)AllocMemory(PackBlock, 0);
    return (job->input && job->output) ? 0 : ERR_MEM;
}

static void EndJob(lvPackJob *job)
{
    if (job->ownsSource && job->source) CloseVFile(job->source);
    if (job->ownsDestination && job->destination) CloseVFile(job->destination);
    FreeMemory(job->input);
    FreeMemory(job->output);
}

static int OpenSource(lvPackJob *job, const char *path, lvVFile *open)
{
    if (open) {
        job->source = open;
        return 0;
    }
    job->source = OpenVFile(path, LV_VF_READ | LV_VF_ADAPTERS, nullptr, nullptr);
    if (!job->source) {
        SetErrorStringArg(path);
        return ERR_READFILE;
    }
    job->ownsSource = true;
    return 0;
}

static int OpenDestination(lvPackJob *job, const char *path)
{
    job->destination = OpenVFile(path, LV_VF_WRITE | LV_VF_ADAPTERS, nullptr, nullptr);
    if (!job->destination) {
        SetErrorStringArg(path);
        return ERR_WRITEFILE;
    }
    job->ownsDestination = true;
    return 0;
}

// ============================================================================
// Packing
// ============================================================================

// Deflates one input block; writes every full output block as it comes.
static int DeflateBlock(lvPackJob *job, z_stream *z, int flush)
{
    do {
        z->next_out = job->output;
        z->avail_out = PackBlock;
        int r = deflate(z, flush);
        if (r == Z_STREAM_ERROR) return MapZlibError(r);
        int64_t produced = PackBlock - (int64_t)z->avail_out;
        if (produced && WriteVFile(job->destination, job->output, produced) != produced) return ERR_WRITE;
    } while (z->avail_out == 0);
    return 0;
}

static int DeflateSource(lvPackJob *job, int64_t size)
{
    z_stream z;
    std::memset(&z, 0, sizeof z);
    int r = deflateInit(&z, Z_DEFAULT_COMPRESSION);
    if (r != Z_OK) return MapZlibError(r);
    int result = 0;
    int64_t total = 0;
    for (;;) {
        int64_t n = ReadVFile(job->source, job->input, PackBlock);
        total += n;
        bool last = n < PackBlock || total >= size;
        if (n < PackBlock && total < size) {
            result = ERR_READ;
            break;
        }
        z.next_in = job->input;
        z.avail_in = (uInt)n;
        result = DeflateBlock(job, &z, last ? Z_FINISH : Z_NO_FLUSH);
        if (result || last) break;
    }
    deflateEnd(&z);
    return result;
}

int PackFile(const char *magic, const char *sourcePath, const char *destinationPath, lvVFile *openDestination,
             int64_t *packedSizeOut)
{
    lvPackJob job;
    int result = BeginJob(&job);
    if (!result) result = OpenSource(&job, sourcePath, nullptr);
    int64_t size = 0;
    if (!result) {
        SeekVFile(job.source, 0, 2);
        size = SeekVFile(job.source, 0, 1);
        if (size < 0) size = 0;
    }
    if (!result) {
        if (openDestination) job.destination = openDestination;
        else result = OpenDestination(&job, destinationPath);
    }
    int64_t start = 0;
    if (!result) {
        start = job.destination->adapter ? 0 : SeekVFile(job.destination, 0, 0);
        uint8_t header[8];
        std::memcpy(header, magic, 4);
        uint32_t field = (uint32_t)size; // the format keeps 32 bits
        header[4] = (uint8_t)(field >> 24);
        header[5] = (uint8_t)(field >> 16);
        header[6] = (uint8_t)(field >> 8);
        header[7] = (uint8_t)field;
        if (WriteVFile(job.destination, header, 8) != 8) result = ERR_WRITE;
    }
    if (!result) result = DeflateSource(&job, size);
    if (!result && packedSizeOut) {
        int64_t end = SeekVFile(job.destination, 0, 0);
        *packedSizeOut = end - start;
    }
    EndJob(&job);
    return result;
}

// ============================================================================
// Unpacking
// ============================================================================

// Where unpacked bytes go: a memory area, a file, or nowhere.
struct lvUnpackSink {
    uint8_t *memory;  // memory area, or none
    size_t room;      // bytes left in it
    lvVFile *file;    // destination file, or none
    bool full;        // the memory area is full: stop with success
};

static int DeliverBytes(lvUnpackSink *sink, const uint8_t *data, size_t count)
{
    if (sink->memory) {
        size_t take = count < sink->room ? count : sink->room;
        std::memcpy(sink->memory, data, take);
        sink->memory += take;
        sink->room -= take;
        if (sink->room == 0) sink->full = true;
        return 0;
    }
    if (sink->file && count && WriteVFile(sink->file, data, (int64_t)count) != (int64_t)count) return ERR_WRITE;
    return 0;
}

static int InflateSource(lvPackJob *job, lvUnpackSink *sink, int64_t *consumedOut)
{
    z_stream z;
    std::memset(&z, 0, sizeof z);
    int r = inflateInit(&z);
    if (r != Z_OK) return MapZlibError(r);
    int result = 0;
    bool ended = false;
    while (!ended && !sink->full && !result) {
        int64_t n = ReadVFile(job->source, job->input, PackBlock);
        if (n == 0) break;
        if (n < PackBlock && !IsVFileEof(job->source)) {
            result = ERR_READ;
            break;
        }
        z.next_in = job->input;
        z.avail_in = (uInt)n;
        do {
            z.next_out = job->output;
            z.avail_out = PackBlock;
            r = inflate(&z, Z_NO_FLUSH);
            if (r == Z_NEED_DICT) r = Z_DATA_ERROR;
            if (r == Z_DATA_ERROR || r == Z_MEM_ERROR || r == Z_STREAM_ERROR) {
                result = MapZlibError(r);
                break;
            }
            result = DeliverBytes(sink, job->output, PackBlock - z.avail_out);
            if (r == Z_STREAM_END) ended = true;
        } while (!result && !ended && !sink->full && z.avail_out == 0);
    }
    if (consumedOut) *consumedOut = (int64_t)z.total_in + 8;
    inflateEnd(&z);
    if (!result && !ended && !sink->full) result = ERR_ZLIBDATA;
    return result;
}

int UnpackStream(const char *magic, const char *sourcePath, const char *destinationPath, lvVFile *openSource,
                 int64_t offset, int64_t *destinationSizeOut, int64_t *consumedOut, void *memory,
                 size_t memorySize)
{
    lvPackJob job;
    int result = BeginJob(&job);
    if (!result) result = OpenSource(&job, sourcePath, openSource);
    if (!result && !openSource && offset && SeekVFile(job.source, offset, 1) < 0) result = ERR_READ;
    if (!result) {
        uint8_t header[8];
        if (ReadVFile(job.source, header, 4) != 4) result = ERR_READ;
        else if (std::memcmp(header, magic, 4) != 0) result = ERR_PAKFORMAT;
        else if (ReadVFile(job.source, header + 4, 4) != 4) result = ERR_READ;
    }
    if (!result && destinationPath && !memory) result = OpenDestination(&job, destinationPath);
    lvUnpackSink sink = {(uint8_t *)memory, memory ? memorySize : 0, job.destination, memory && memorySize == 0};
    if (!result) result = InflateSource(&job, &sink, consumedOut);
    if (!result && destinationSizeOut) *destinationSizeOut = job.destination ? SeekVFile(job.destination, 0, 0) : 0;
    EndJob(&job);
    return result;
}

// ============================================================================
// Compress library engine
// ============================================================================

int CompressFile(const char *source, const char *destination, int64_t *packedSize)
{
    return PackFile(LV_PACK_MAGIC_FILE, source, destination, nullptr, packedSize);
}

int DecompressFile(const char *source, const char *destination, int64_t *unpackedSize)
{
    return UnpackStream(LV_PACK_MAGIC_FILE, source, destination, nullptr, 0, unpackedSize, nullptr, nullptr, 0);
}

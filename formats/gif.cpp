// gif.cpp - the GIF reader (frame index, seeking through key frames, disposal,
// interlace, transparency) and the GIF89a writer with its LZW encoder.
//
// Dependencies: runtime/vfile.h, raster/lvbitmap.h (the writer's pen planes).
// Limits: frames are clipped to the logical screen; a frame whose LZW data is bad or
// ends early fails as a whole.
#include "formats/lvgif.h"
#include "formats/formats_internal.h"
#include "raster/lvbitmap.h"
#include <algorithm>
#include <cstring>
#include <new>

const char kGifWriterSignature[] = "Lumivarra Multimedia Runtime www.lumivarra.org";
static_assert(sizeof kGifWriterSignature == 47, "the signature is 46 characters and its zero byte");

static int Le16(const uint8_t *p) { return p[0] | p[1] << 8; }

bool ReadGifColorTable(lvVFile *file, uint32_t *table, int count)
{
    uint8_t rgb[768];
    if (ReadVFile(file, rgb, count * 3) != count * 3) return false;
    for (int i = 0; i < count; i++) table[i] = (uint32_t)rgb[i * 3] << 16 | (uint32_t)rgb[i * 3 + 1] << 8 | rgb[i * 3 + 2];
    return true;
}

// ============================================================================
// LZW decoding
// ============================================================================

namespace {

// Codes, least significant bit first, from the sub-blocks of one image.
struct GifCodeReader {
    explicit GifCodeReader(lvVFile *f) : file(f) {}
    lvVFile *file;
    uint8_t block[256];
    int length = 0, at = 0;
    uint32_t bits = 0;
    int count = 0;
    bool ended = false;   // the zero-length block (or the end of the file) was met
    bool truncated = false;

    bool NextBlock()
    {
        if (ended) return false;
        int n = ReadVFileByte(file);
        if (n <= 0) {
            ended = true, truncated = n < 0;
            return false;
        }
        if (ReadVFile(file, block, n) != n) {
            ended = truncated = true;
            return false;
        }
        length = n, at = 0;
        return true;
    }
    int Code(int width)
    {
        while (count < width) {
            if (at >= length && !NextBlock()) return -1;
            bits |= (uint32_t)block[at++] << count;
            count += 8;
        }
        int code = (int)(bits & ((1u << width) - 1));
        bits >>= width, count -= width;
        return code;
    }
    // Past the remaining sub-blocks; false when the file ends inside them.
    bool SkipRest()
    {
        while (!ended) {
            int n = ReadVFileByte(file);
            if (n < 0) return false;
            if (n == 0) break;
            if (ReadVFile(file, block, n) != n) return false;
        }
        return !truncated;
    }
};

// Rows of the frame's rectangle, in stored order (interlaced or not), put onto the
// canvas clipped to the screen.
struct GifRowSink {
    GifRowSink(lvGifReader *reader, const uint8_t *rowBuffer, int rows, bool interlace)
        : r(reader), row(rowBuffer), rowsLeft(rows), interlaced(interlace) {}
    lvGifReader *r;
    const uint8_t *row;
    int rowsLeft, y = 0, pass = 0;
    bool interlaced;
    uint32_t opaque[256];

    void Put()
    {
        int cy = r->frameY + y;
        if (cy < r->height && r->frameX < r->width) {
            int visible = std::min(r->frameWidth, r->width - r->frameX);
            int t = r->transparent;
            size_t at = (size_t)cy * r->width + r->frameX;
            if (r->pixelBytes == 1) {
                uint8_t *out = r->canvas + at;
                if (t < 0) std::memcpy(out, row, (size_t)visible);
                else
                    for (int x = 0; x < visible; x++)
                        if (row[x] != t) out[x] = row[x];
            } else {
                uint32_t *out = (uint32_t *)r->canvas + at;
                if (t < 0)
                    for (int x = 0; x < visible; x++) out[x] = opaque[row[x]];
                else
                    for (int x = 0; x < visible; x++)
                        if (row[x] != t) out[x] = opaque[row[x]];
            }
        }
        rowsLeft--;
        if (!interlaced) {
            y++;
            return;
        }
        static const int start[4] = {0, 4, 2, 1}, step[4] = {8, 8, 4, 2};
        y += step[pass];
        while (y >= r->frameHeight && pass < 3) y = start[++pass];
    }
};

}  // namespace

// Decodes the image data behind the descriptor into the canvas. false on bad data.
static bool DecodeGifImageData(lvGifReader *r, bool interlaced)
{
    int minSize = ReadVFileByte(r->file);
    if (minSize < 0 || minSize >= 9) return false;
    GifCodeReader in(r->file);
    int64_t rows = r->frameHeight;
    int w = r->frameWidth;
    if (w == 0 || rows == 0) return in.SkipRest();
    lvMemPtr<uint8_t> rowBuffer = AllocBlock<uint8_t>((size_t)w + 4096, 0);
    if (!rowBuffer) return false;
    GifRowSink sink(r, rowBuffer.get(), (int)rows, interlaced);
    for (int i = 0; i < 256; i++) sink.opaque[i] = r->table[i] | 0xFF000000u;

    uint16_t prefix[4096];
    uint8_t suffix[4096];
    uint8_t stack[4097];
    const int clear = 1 << minSize, end = clear + 1;
    int width = minSize + 1, next = clear + 2, previous = -1;
    uint8_t first = 0;
    uint8_t *row = rowBuffer.get();
    int x = 0;
    for (int i = 0; i < clear; i++) prefix[i] = 0, suffix[i] = (uint8_t)i;
    while (sink.rowsLeft > 0) {
        int code = in.Code(width);
        if (code < 0 || code == end) return false;  // data ends before the rows are filled
        if (code == clear) {
            width = minSize + 1, next = clear + 2, previous = -1;
            continue;
        }
        int sp = 0;
        if (previous < 0) {
            if (code > clear) return false;  // a first code must be a root
            stack[sp++] = (uint8_t)code;
            first = (uint8_t)code;
        } else {
            if (code > next) return false;  // names an entry never filled
            int c = code;
            if (code == next) {
                if (next >= 4096) return false;
                stack[sp++] = first, c = previous;
            }
            while (c >= clear) {
                if (sp >= 4096) return false;
                stack[sp++] = suffix[c];
                c = prefix[c];
            }
            stack[sp++] = (uint8_t)c;
            first = (uint8_t)c;
            if (next < 4096) {
                prefix[next] = (uint16_t)previous, suffix[next] = first;
                if (++next == 1 << width && width < 12) width++;
            }
        }
        previous = code;
        while (sp > 0) {
            int n = std::min(sp, w - x);
            for (int k = 0; k < n; k++) row[x + k] = stack[sp - 1 - k];
            sp -= n, x += n;
            if (x == w) {
                sink.Put();
                x = 0;
                if (sink.rowsLeft == 0) break;  // extra pixels of the last code are dropped
            }
        }
    }
    in.SkipRest();  // a file ending right after the last row still gives the frame
    return true;
}

// ============================================================================
// Canvas and frames
// ============================================================================

static void FillCanvasRect(lvGifReader *r, int x0, int y0, int w, int h, int pen)
{
    int x1 = std::min(r->width, x0 + w), y1 = std::min(r->height, y0 + h);
    if (x0 >= x1 || y0 >= y1) return;
    uint32_t word = r->table[pen & 255];
    for (int y = y0; y < y1; y++) {
        if (r->pixelBytes == 1) std::memset(r->canvas + (size_t)y * r->width + x0, pen, (size_t)(x1 - x0));
        else std::fill_n((uint32_t *)r->canvas + (size_t)y * r->width + x0, x1 - x0, word);
    }
}

static void FillCanvasBackground(lvGifReader *r, bool cleared)
{
    size_t count = (size_t)r->width * r->height;
    if (cleared) std::memset(r->canvas, 0, count * r->pixelBytes);
    else if (r->pixelBytes == 1) std::memset(r->canvas, r->background, count);
    else std::fill_n((uint32_t *)r->canvas, count, r->globalTable[r->background]);
}

// Copies the frame's clipped rectangle between canvas and save buffer; the save buffer
// is allocated by the first frame that needs it. False when it cannot be.
static bool CopySaveRect(lvGifReader *r, bool toSave)
{
    int x1 = std::min(r->width, r->frameX + r->frameWidth), y1 = std::min(r->height, r->frameY + r->frameHeight);
    if (r->frameX >= x1 || r->frameY >= y1) return true;
    if (!r->save && !(r->save = (uint8_t *)AllocMemory((size_t)r->width * r->height * r->pixelBytes, 1))) return false;
    size_t rowBytes = (size_t)(x1 - r->frameX) * r->pixelBytes;
    for (int y = r->frameY; y < y1; y++) {
        size_t at = ((size_t)y * r->width + r->frameX) * r->pixelBytes;
        if (toSave) std::memcpy(r->save + at, r->canvas + at, rowBytes);
        else std::memcpy(r->canvas + at, r->save + at, rowBytes);
    }
    return true;
}

static void DisposeFrame(lvGifReader *r)
{
    if (r->canvas) {
        if (r->disposal == 2)
            FillCanvasRect(r, r->frameX, r->frameY, r->frameWidth, r->frameHeight,
                           r->transparent >= 0 ? r->transparent : r->background);
        else if (r->disposal == 3)
            CopySaveRect(r, false);
    }
    r->delay = 0, r->disposal = 0, r->transparent = -1;
    r->table = r->globalTable;
    r->framePosition = SeekVFile(r->file, 0, 0);
}

static void ResetFrameState(lvGifReader *r)
{
    r->delay = 0, r->disposal = 0, r->transparent = -1;
    r->table = r->globalTable;
}

static bool AddIndexEntry(lvGifReader *r, const lvGifFrameEntry &entry)
{
    if (r->frameCount == r->indexSize) {
        int size = r->indexSize ? r->indexSize + 256 : 4096;
        auto *grown = (lvGifFrameEntry *)AllocMemory(sizeof(lvGifFrameEntry) * size, 1);
        if (!grown) return false;
        if (r->index) std::memcpy(grown, r->index, sizeof(lvGifFrameEntry) * r->frameCount);
        FreeMemory(r->index);
        r->index = grown, r->indexSize = size;
    }
    r->index[r->frameCount++] = entry;
    return true;
}

enum { GIF_REACHED, GIF_ENDED, GIF_FAILED };

// Decodes from the current position up to frame target (left undisposed), or every
// frame when scanning (which fills the index).
static int DecodeGifFrames(lvGifReader *r, int target, bool scanning)
{
    bool paletteOnly = r->flags & LV_IMGLOAD_PALETTEONLY;
    for (;;) {
        int block = ReadVFileByte(r->file);
        if (block < 0 || block == 0x3B) return GIF_ENDED;
        if (block == 0x21) {
            int label = ReadVFileByte(r->file);
            if (label < 0) return GIF_FAILED;
            for (bool firstBlock = true;; firstBlock = false) {
                int n = ReadVFileByte(r->file);
                if (n < 0) return GIF_FAILED;
                if (n == 0) break;
                uint8_t data[256];
                if (ReadVFile(r->file, data, n) != n) return GIF_FAILED;
                if (label == 0xF9 && firstBlock && n >= 4) {
                    r->disposal = (data[0] >> 2) & 7;
                    r->delay = Le16(data + 1);
                    r->transparent = (data[0] & 1) ? data[3] : -1;
                }
            }
            continue;
        }
        if (block != 0x2C) return GIF_FAILED;
        uint8_t d[9];
        if (ReadVFile(r->file, d, 9) != 9) return GIF_FAILED;
        r->frameX = Le16(d), r->frameY = Le16(d + 2), r->frameWidth = Le16(d + 4), r->frameHeight = Le16(d + 6);
        int number = r->nextFrame;
        if (scanning) {
            lvGifFrameEntry entry = {};
            entry.position = r->framePosition;
            entry.delay = (uint16_t)r->delay;
            entry.keyFrame = r->frameX == 0 && r->frameY == 0 && r->frameWidth >= r->width &&
                             r->frameHeight >= r->height && r->transparent < 0 && r->disposal != 3;
            if (!AddIndexEntry(r, entry)) return GIF_FAILED;
        }
        if (d[8] & 0x80) {
            int bits = (d[8] & 7) + 1;
            std::memset(r->localTable, 0, sizeof r->localTable);
            if (!ReadGifColorTable(r->file, r->localTable, 1 << bits)) return GIF_FAILED;
            r->table = r->localTable, r->depth = bits;
        }
        if (paletteOnly || scanning) {
            // The index needs only where frames begin: their data is skipped, and each
            // frame is decoded when it is read.
            if (number == target) return GIF_REACHED;
            GifCodeReader skip(r->file);
            if (ReadVFileByte(r->file) < 0 || !skip.SkipRest()) return GIF_FAILED;
            r->nextFrame++;
            ResetFrameState(r);
            r->framePosition = SeekVFile(r->file, 0, 0);
            continue;
        }
        if (number == 0 && r->transparent >= 0 && r->disposal == 2)
            FillCanvasRect(r, 0, 0, r->width, r->height, r->transparent);
        if (r->disposal == 3 && !CopySaveRect(r, true)) return GIF_FAILED;
        r->framesDecoded++;
        if (!DecodeGifImageData(r, (d[8] & 0x40) != 0)) return GIF_FAILED;
        r->nextFrame++;
        if (number == target) return GIF_REACHED;
        DisposeFrame(r);
    }
}

// ============================================================================
// Reader
// ============================================================================

// Whether the file after the header can hold its first frame's image data: one LZW code
// (of at least one bit) gives at most 4096 pixels. A few bytes that declare a huge
// picture are refused before its canvas is allocated and filled. Leaves the file where
// it was.
static bool FirstFrameCanFit(lvVFile *file)
{
    int64_t start = SeekVFile(file, 0, 0), size = GetVFileSize(file);
    if (start < 0 || size < 0) return true;
    bool fits = true;
    for (int guard = 0; guard < 65536; guard++) {
        int block = ReadVFileByte(file);
        if (block == '!') {
            if (ReadVFileByte(file) < 0) break;
            int n;
            while ((n = ReadVFileByte(file)) > 0)
                if (SeekVFile(file, n, 0) < 0) break;
            if (n < 0) break;
            continue;
        }
        if (block != ',') break;
        uint8_t d[9];
        if (ReadVFile(file, d, 9) != 9) break;
        int64_t pixels = (int64_t)Le16(d + 4) * Le16(d + 6);
        int64_t table = (d[8] & 0x80) ? 3 << ((d[8] & 7) + 1) : 0;
        int64_t data = size - SeekVFile(file, 0, 0) - table;
        fits = data * 8 * 4096 >= pixels;
        break;
    }
    SeekVFile(file, start, 1);
    return fits;
}

static lvGifReader *OpenGif(lvVFile *file, uint32_t flags, int *width, int *height, int *depth, bool scan)
{
    uint8_t h[13];
    if (ReadVFile(file, h, 13) != 13) return nullptr;
    if (std::memcmp(h, "GIF87", 5) != 0 && std::memcmp(h, "GIF89", 5) != 0) return nullptr;
    int w = Le16(h + 6), ht = Le16(h + 8), bits = (h[10] & 7) + 1;
    if (width) *width = w;
    if (height) *height = ht;
    if (depth) *depth = bits;
    if (flags & LV_IMGLOAD_SIZEONLY) return nullptr;
    bool paletteOnly = flags & LV_IMGLOAD_PALETTEONLY;
    if (!paletteOnly && !ImagePixelsFit(w, ht)) return nullptr;
    auto *r = (lvGifReader *)AllocMemory(sizeof(lvGifReader), 1);
    if (!r) return nullptr;
    r->file = file, r->width = w, r->height = ht, r->depth = bits, r->flags = flags;
    r->pixelBytes = (flags & LV_IMGLOAD_PALETTE) ? 1 : 4;
    r->background = h[11], r->transparent = -1, r->table = r->globalTable;
    if ((h[10] & 0x80) && !ReadGifColorTable(file, r->globalTable, 1 << bits)) {
        FreeMemory(r);
        return nullptr;
    }
    r->headerEnd = r->framePosition = SeekVFile(file, 0, 0);
    if (!paletteOnly && !FirstFrameCanFit(file)) {
        r->flags |= LV_GIF_KEEPFILE;
        CloseGifReader(r);
        return nullptr;
    }
    if (!paletteOnly) {
        size_t bytes = (size_t)w * ht * r->pixelBytes;
        r->canvas = (uint8_t *)AllocMemory(bytes, 0);
        if (!r->canvas) {
            r->flags |= LV_GIF_KEEPFILE;
            CloseGifReader(r);
            return nullptr;
        }
        FillCanvasBackground(r, (flags & LV_GIF_CLEARCANVAS) && (flags & LV_IMGLOAD_TRANSPEN));
    }
    if (scan) {
        // A damaged tail keeps the frames before it; a file without a whole frame is refused.
        DecodeGifFrames(r, -1, true);
        while (r->frameCount > r->nextFrame) r->frameCount--;
        if (r->frameCount == 0) {
            r->flags |= LV_GIF_KEEPFILE;
            CloseGifReader(r);
            return nullptr;
        }
        r->nextFrame = -1;
    }
    return r;
}

lvGifReader *OpenGifReader(lvVFile *file, uint32_t flags, int *width, int *height, int *depth, int *frameCount)
{
    lvGifReader *r = OpenGif(file, flags, width, height, depth, true);
    if (r && frameCount) *frameCount = r->frameCount;
    return r;
}

uint8_t *ReadGifFrame(lvGifReader *r, int frame, uint32_t **palette, int *depth, int *transparentPen)
{
    if (!r || frame < 0 || (r->index && frame >= r->frameCount)) return nullptr;
    if (frame != r->nextFrame) {
        // Forward: decode on from the next frame unless a key frame lies in between.
        bool forward = r->nextFrame >= 0 && frame > r->nextFrame;
        int key = frame, lowest = forward ? r->nextFrame + 1 : 0;
        while (key >= lowest && r->index && !r->index[key].keyFrame) key--;
        if (forward && key < lowest) {
            // the canvas is ready for the next frame
        } else if (key >= 0 && r->index) {
            SeekVFile(r->file, r->index[key].position, 1);
            r->framePosition = r->index[key].position;
            r->nextFrame = key;
        } else {
            if (r->canvas) FillCanvasBackground(r, false);
            SeekVFile(r->file, r->headerEnd, 1);
            r->framePosition = r->headerEnd;
            r->nextFrame = 0;
        }
        ResetFrameState(r);
    }
    if (DecodeGifFrames(r, frame, false) != GIF_REACHED) {
        r->nextFrame = -1;  // the canvas is in an unknown state: the next read restarts
        return nullptr;
    }
    if (depth) *depth = r->depth;
    if (transparentPen) {
        if (r->transparent < 0 || !(r->flags & LV_IMGLOAD_TRANSPEN)) *transparentPen = -1;
        else *transparentPen = r->pixelBytes == 4 ? -2 : r->transparent;
    }
    if (palette && (r->flags & (LV_IMGLOAD_COPYPALETTE | LV_IMGLOAD_PALETTEONLY))) {
        *palette = (uint32_t *)AllocMemory(1024, 0);
        if (*palette) std::memcpy(*palette, r->table, 1024);
    }
    uint8_t *copy = nullptr;
    if (r->canvas && (r->flags & LV_GIF_STILL)) {
        // A still's canvas is its picture: nothing is composed on it afterwards.
        copy = r->canvas;
        r->canvas = nullptr;
    } else if (r->canvas) {
        size_t bytes = (size_t)r->width * r->height * r->pixelBytes;
        copy = (uint8_t *)AllocMemory(bytes, 0);
        if (copy) std::memcpy(copy, r->canvas, bytes);
    }
    DisposeFrame(r);
    return copy;
}

int GetGifFrameDelay(const lvGifReader *r, int frame)
{
    if (!r || !r->index || frame < 0 || frame >= r->frameCount) return 0;
    return r->index[frame].delay;
}

void CloseGifReader(lvGifReader *r)
{
    if (!r) return;
    FreeMemory(r->canvas);
    FreeMemory(r->save);
    FreeMemory(r->index);
    if (!(r->flags & LV_GIF_KEEPFILE)) CloseVFile(r->file);
    FreeMemory(r);
}

int DecodeGifImage(lvVFile *file, uint32_t flags, uint8_t **pixels, int *transparentPen, int *height, int *width,
                   uint32_t **palette, int *depth)
{
    *pixels = nullptr;
    *palette = nullptr;
    *transparentPen = -1;
    flags |= LV_GIF_CLEARCANVAS | LV_GIF_KEEPFILE | LV_GIF_STILL;
    // A still needs frame 0 only: no index is built.
    if (flags & LV_IMGLOAD_SIZEONLY) {
        uint8_t h[13];
        if (ReadVFile(file, h, 13) != 13 || (std::memcmp(h, "GIF87", 5) != 0 && std::memcmp(h, "GIF89", 5) != 0))
            return ERR_LOADPICTURE2;
        *width = Le16(h + 6), *height = Le16(h + 8), *depth = (h[10] & 7) + 1;
        return 0;
    }
    lvGifReader *r = OpenGif(file, flags, width, height, depth, false);
    if (!r) return ERR_LOADPICTURE2;
    r->nextFrame = 0;
    uint8_t *frame = ReadGifFrame(r, 0, palette, depth, transparentPen);
    CloseGifReader(r);
    if (flags & LV_IMGLOAD_PALETTEONLY) return *palette ? 0 : ERR_LOADPICTURE2;
    if (!frame) {
        FreeMemory(*palette);
        *palette = nullptr;
        return ERR_LOADPICTURE2;
    }
    *pixels = frame;
    return 0;
}

// ============================================================================
// Writer
// ============================================================================

struct lvGifWriter {
    lvWrittenFile out;
    int width, height;
    int frames;
    uint8_t *previous;        // the previous frame's pens (optimising only)
    uint8_t *rect;            // the rectangle being written
    uint32_t previousTable[256];
};

int OpenGifWriter(const char *path, const char *adapter, const void *userTags, int width, int height,
                  lvGifWriter **writer)
{
    *writer = nullptr;
    if (width <= 0 || height <= 0 || width > 65535 || height > 65535) return ERR_MEM;
    auto *w = new (std::nothrow) lvGifWriter{};
    if (!w) return ERR_MEM;
    w->width = width, w->height = height;
    w->rect = (uint8_t *)AllocMemory((size_t)width * height, 0);
    if (!w->rect) {
        delete w;
        return ERR_MEM;
    }
    if (int code = w->out.Open(path, adapter, userTags)) {
        FreeMemory(w->rect);
        delete w;
        return code;
    }
    uint8_t header[13 + 768] = {'G', 'I', 'F', '8', '9', 'a'};
    header[6] = (uint8_t)width, header[7] = (uint8_t)(width >> 8);
    header[8] = (uint8_t)height, header[9] = (uint8_t)(height >> 8);
    header[10] = 0xF7;
    std::memcpy(header + 13, kGifWriterSignature, sizeof kGifWriterSignature);
    w->out.Write(header, sizeof header);
    *writer = w;
    if (w->out.error) {
        int code = w->out.error;
        CloseGifWriter(w);
        *writer = nullptr;
        return code;
    }
    return 0;
}

namespace {

// Sub-blocks of up to 254 bytes of the LZW bit stream.
struct GifBlockWriter {
    explicit GifBlockWriter(lvWrittenFile *o) : out(o) {}
    lvWrittenFile *out;
    uint8_t block[256];
    int length = 0;
    uint32_t bits = 0;
    int count = 0;
    void Put(int code, int width)
    {
        bits |= (uint32_t)code << count;
        count += width;
        while (count >= 8) {
            block[1 + length++] = (uint8_t)bits;
            bits >>= 8, count -= 8;
            if (length == 254) Flush();
        }
    }
    void Flush()
    {
        if (!length) return;
        block[0] = (uint8_t)length;
        out->Write(block, length + 1);
        length = 0;
    }
    void Finish()
    {
        if (count > 0) {
            block[1 + length++] = (uint8_t)bits;
            bits = 0, count = 0;
        }
        Flush();
    }
};

}  // namespace

static void EncodeGifLzw(lvWrittenFile *out, const uint8_t *pens, size_t count, int minSize)
{
    enum { HSIZE = 5003 };
    static thread_local int16_t codes[HSIZE];
    static thread_local int32_t keys[HSIZE];  // prefix << 8 | suffix
    GifBlockWriter bw(out);
    const int clear = 1 << minSize, end = clear + 1;
    int width = minSize + 1, next = clear + 2;
    std::fill_n(codes, HSIZE, (int16_t)-1);
    bw.Put(clear, width);
    int prefix = pens[0];
    for (size_t i = 1; i < count; i++) {
        int c = pens[i];
        int key = prefix + c * 16;
        if (key > HSIZE - 1) key -= HSIZE;
        int32_t want = prefix << 8 | c;
        int slot = key, step = key == 0 ? 1 : HSIZE - key;
        bool found = false;
        while (codes[slot] >= 0) {
            if (keys[slot] == want) {
                prefix = codes[slot], found = true;
                break;
            }
            slot -= step;
            if (slot < 0) slot += HSIZE;
        }
        if (found) continue;
        bw.Put(prefix, width);
        if (next < 4096) {
            codes[slot] = (int16_t)next++, keys[slot] = want;
            if (next > 1 << width && width < 12) width++;
        } else {
            bw.Put(clear, width);
            std::fill_n(codes, HSIZE, (int16_t)-1);
            width = minSize + 1, next = clear + 2;
        }
        prefix = c;
    }
    bw.Put(prefix, width);
    // The decoder adds one more entry on reading that last code; the end code must
    // use the width it then expects.
    if (next == 1 << width && width < 12) width++;
    bw.Put(end, width);
    bw.Finish();
}

int WriteGifFrame(lvGifWriter *w, lvBitMapHandle *penPlane, int delayMs, const uint32_t *palette, int depth,
                  int transparentPen, int optimise, int anim)
{
    depth = std::clamp(depth, 1, 8);
    int colours = 1 << depth, fill = colours - 1;
    uint8_t *plane = nullptr;
    int rowBytes = 0;
    // A plane smaller than the screen would be read past its end.
    if (penPlane && (penPlane->width < w->width || penPlane->height < w->height)) return ERR_WRONGUSAGE;
    uintptr_t token = penPlane ? GetPlanePixels(penPlane, &plane, &rowBytes, 0) : 0;
    if (!token) return ERR_LOCKBMAP;
    struct Unlock {
        uintptr_t t;
        ~Unlock() { ReleasePlanePixels(t); }
    } unlock{token};
    uint32_t table[256] = {};
    for (int i = 0; i < colours; i++) table[i] = palette ? palette[i] & 0xFFFFFF : 0;

    int W = w->width, H = w->height;
    int rx = 0, ry = 0, rw = W, rh = H;
    bool transparentRect = false;
    if (w->previous && optimise && transparentPen < 0) {
        // Two pens show the same colour when the first entry of the new table holding
        // the previous pen's colour is the new pen.
        int16_t same[256];
        for (int p = 0; p < 256; p++) {
            same[p] = -1;
            for (int j = 0; j < colours; j++)
                if (table[j] == w->previousTable[p]) {
                    same[p] = (int16_t)j;
                    break;
                }
        }
        auto changed = [&](int x, int y) {
            return same[w->previous[(size_t)y * W + x]] != plane[(size_t)y * rowBytes + x];
        };
        int top = 0, bottom = H - 1;
        auto rowChanged = [&](int y) {
            for (int x = 0; x < W; x++)
                if (changed(x, y)) return true;
            return false;
        };
        while (top < H && !rowChanged(top)) top++;
        if (top == H) {
            rw = W > 1 ? 2 : 1, rh = 1;
        } else {
            while (bottom > top && !rowChanged(bottom)) bottom--;
            auto columnChanged = [&](int x) {
                for (int y = top; y <= bottom; y++)
                    if (changed(x, y)) return true;
                return false;
            };
            int left = 0, right = W - 1;
            while (!columnChanged(left)) left++;
            while (right > left && !columnChanged(right)) right--;
            rx = left, ry = top, rw = right - left + 1, rh = bottom - top + 1;
        }
        // Unchanged pens become the transparent index, unless a changed pixel needs that
        // index for its own colour: then the rectangle is written as it stands.
        bool fillUsed = false;
        for (int y = ry; y < ry + rh && !fillUsed; y++)
            for (int x = rx; x < rx + rw; x++)
                if (plane[(size_t)y * rowBytes + x] == fill && changed(x, y)) {
                    fillUsed = true;
                    break;
                }
        transparentRect = !fillUsed;
        for (int y = 0; y < rh; y++)
            for (int x = 0; x < rw; x++) {
                int pen = plane[(size_t)(ry + y) * rowBytes + rx + x];
                bool keep = transparentRect && !changed(rx + x, ry + y);
                w->rect[(size_t)y * rw + x] = (uint8_t)(keep ? fill : pen);
            }
    } else {
        for (int y = 0; y < H; y++) std::memcpy(w->rect + (size_t)y * W, plane + (size_t)y * rowBytes, (size_t)W);
    }

    uint8_t gce[8] = {0x21, 0xF9, 0x04};
    bool hasPen = transparentPen >= 0;
    gce[3] = (uint8_t)((hasPen ? 2 : 1) << 2 | (hasPen || transparentRect ? 1 : 0));
    int delay = delayMs > 0 ? std::min(delayMs / 10, 65535) : 0;  // the field holds 16 bits
    gce[4] = (uint8_t)delay, gce[5] = (uint8_t)(delay >> 8);
    gce[6] = (uint8_t)(hasPen ? transparentPen : fill);
    w->out.Write(gce, 8);
    if (w->frames == 0) {
        static const uint8_t netscape[19] = {0x21, 0xFF, 0x0B, 'N', 'E', 'T', 'S', 'C', 'A', 'P',
                                             'E',  '2',  '.',  '0', 0x03, 0x01, 0x00, 0x00, 0x00};
        w->out.Write(netscape, sizeof netscape);
    }
    uint8_t desc[10] = {0x2C, (uint8_t)rx, (uint8_t)(rx >> 8), (uint8_t)ry, (uint8_t)(ry >> 8),
                        (uint8_t)rw, (uint8_t)(rw >> 8), (uint8_t)rh, (uint8_t)(rh >> 8), (uint8_t)(0x80 | (depth - 1))};
    w->out.Write(desc, 10);
    uint8_t rgb[768];
    for (int i = 0; i < colours; i++)
        rgb[i * 3] = (uint8_t)(table[i] >> 16), rgb[i * 3 + 1] = (uint8_t)(table[i] >> 8), rgb[i * 3 + 2] = (uint8_t)table[i];
    w->out.Write(rgb, colours * 3);
    uint8_t minSize = (uint8_t)std::max(depth, 2);
    w->out.Write(&minSize, 1);
    EncodeGifLzw(&w->out, w->rect, (size_t)rw * rh, minSize);
    uint8_t zero = 0;
    w->out.Write(&zero, 1);
    w->frames++;
    if (optimise) {
        if (!w->previous) {
            w->previous = (uint8_t *)AllocMemory((size_t)W * H, 1);
            if (!w->previous) return ERR_MEM;
        }
        for (int y = ry; y < ry + rh; y++)
            std::memcpy(w->previous + (size_t)y * W + rx, plane + (size_t)y * rowBytes + rx, (size_t)rw);
        std::memcpy(w->previousTable, table, sizeof table);
    }
    return w->out.error;
}

int CloseGifWriter(lvGifWriter *w)
{
    if (!w) return 0;
    uint8_t trailer = 0x3B;
    w->out.Write(&trailer, 1);
    int code = w->out.Close();
    FreeMemory(w->previous);
    FreeMemory(w->rect);
    delete w;
    return code;
}

// iffanim.cpp - IFF ANIM reader and writer. Every offset, count and skip of a DLTA comes
// from the file, so every read is checked against the DLTA's bytes and every write
// against the plane it targets; a delta that strays outside gives no frame.
#include "formats/lviffanim.h"
#include "formats/lvilbm.h"
#include "formats/formats_internal.h"
#include "raster/lvbitmap.h"
#include <algorithm>
#include <cstring>

static uint32_t Be32(const uint8_t *p) { return (uint32_t)p[0] << 24 | (uint32_t)p[1] << 16 | (uint32_t)p[2] << 8 | p[3]; }
static int Be16(const uint8_t *p) { return p[0] << 8 | p[1]; }
static void PutBe32(uint8_t *p, uint32_t v) { p[0] = (uint8_t)(v >> 24), p[1] = (uint8_t)(v >> 16), p[2] = (uint8_t)(v >> 8), p[3] = (uint8_t)v; }
static void PutBe16(uint8_t *p, int v) { p[0] = (uint8_t)(v >> 8), p[1] = (uint8_t)v; }

// A DLTA larger than this is not a delta of any picture the reader accepts.
static const uint32_t kMaxDeltaBytes = 64u << 20;

struct lvIffAnimReader {
    lvVFile *file = nullptr;
    int width = 0, height = 0, planes = 0, depth = 0, masking = 0, compression = 0, transparent = 0;
    bool halfBrite = false, ham6 = false, ham8 = false;
    uint32_t palette[256] = {}, firstPalette[256] = {};
    size_t rowBytes = 0, planeBytes = 0, bufferBytes = 0;
    uint8_t *firstPlanes = nullptr, *buffers[2] = {};
    int current = 0;        // the buffer the next delta changes
    uint8_t *pens = nullptr;
    uint8_t *fieldPlanes = nullptr, *fieldPens = nullptr;
    int frameCount = 0, nextFrame = 1;
    int64_t secondFrameAt = 0;
    uint32_t *delays = nullptr;  // sixtieths, one per frame
    int paletteMode = 0, transparency = 0;
    int fieldMode = 0;      // 0 none or not known yet, 1 even rows, 2 odd rows
    int fieldParity = 0, lineDoubling = 0;
    bool fields = false;    // the deltas are field deltas (methods 100/101, bits 0x40)
    uint8_t *lastChanged = nullptr;
    int64_t deltasApplied = 0;
};

namespace {

// One DLTA's bytes and one plane's bytes: the decoders go through these and nothing else.
struct DeltaSource {
    const uint8_t *data;
    size_t size, at;
    bool Has(size_t n) const { return at <= size && n <= size - at; }
    bool Byte(uint32_t *v)
    {
        if (!Has(1)) return false;
        *v = data[at++];
        return true;
    }
    bool Word(int bytes, uint32_t *v)
    {
        if (!Has((size_t)bytes)) return false;
        uint32_t r = 0;
        for (int i = 0; i < bytes; i++) r = r << 8 | data[at + i];
        at += (size_t)bytes;
        *v = r;
        return true;
    }
};

struct PlaneTarget {
    uint8_t *plane;
    size_t size;
    bool Put(size_t at, int bytes, uint32_t value, bool xorIn)
    {
        if (at > size || (size_t)bytes > size - at) return false;
        for (int i = 0; i < bytes; i++) {
            uint8_t b = (uint8_t)(value >> (8 * (bytes - 1 - i)));
            plane[at + i] = xorIn ? (uint8_t)(plane[at + i] ^ b) : b;
        }
        return true;
    }
};

// Method 5 (unit 1, ops and values in one list) and method 7 (values from a separate list).
bool DecodeColumnOps(DeltaSource &ops, DeltaSource &values, PlaneTarget &plane, size_t column, int unit,
                     size_t step, bool xorIn)
{
    uint32_t count;
    if (!ops.Byte(&count)) return false;
    size_t at = column;
    for (uint32_t i = 0; i < count; i++) {
        uint32_t op, v;
        if (!ops.Byte(&op)) return false;
        if (op & 0x80) {
            for (uint32_t n = op & 0x7F; n; n--) {
                if (!values.Word(unit, &v) || !plane.Put(at, unit, v, xorIn)) return false;
                at += step;
            }
        } else if (op) {
            at += (size_t)op * step;
        } else {
            uint32_t n;
            if (!ops.Byte(&n) || !values.Word(unit, &v)) return false;
            for (; n; n--) {
                if (!plane.Put(at, unit, v, xorIn)) return false;
                at += step;
            }
        }
    }
    return true;
}

// Method 8: op count and ops are words of the column's width.
bool DecodeColumnWords(DeltaSource &src, PlaneTarget &plane, size_t column, int unit, size_t step)
{
    uint32_t count;
    if (!src.Word(unit, &count)) return false;
    uint32_t high = 1u << (unit * 8 - 1);
    size_t at = column;
    for (uint32_t i = 0; i < count; i++) {
        uint32_t op, v;
        if (!src.Word(unit, &op)) return false;
        if (op & high) {
            for (uint32_t n = op & ~high; n; n--) {
                if (!src.Word(unit, &v) || !plane.Put(at, unit, v, false)) return false;
                at += step;
            }
        } else if (op) {
            // A skip past the plane's end is caught by the next write, if any.
            if (op > plane.size) at = plane.size + 1;
            else at += (size_t)op * step;
        } else {
            uint32_t n;
            if (!src.Word(unit, &n) || !src.Word(unit, &v)) return false;
            if (n > plane.size) return false;
            for (; n; n--) {
                if (!plane.Put(at, unit, v, false)) return false;
                at += step;
            }
        }
    }
    return true;
}

// Methods 100 (32-bit) and 101 (16-bit): op groups that place values at plane offsets.
bool DecodeGroups(DeltaSource &src, PlaneTarget &plane, int unit, size_t step)
{
    uint32_t groups;
    if (!src.Word(unit, &groups)) return false;
    for (uint32_t g = 0; g < groups; g++) {
        uint32_t rawCount, offset, v;
        if (!src.Word(unit, &rawCount) || !src.Word(4, &offset)) return false;
        int32_t count = unit == 2 ? (int16_t)rawCount : (int32_t)rawCount;
        size_t at = offset & 0xFFFFFF;
        if (count < 0) {
            for (int64_t n = -(int64_t)count; n; n--) {
                if (!src.Word(unit, &v) || !plane.Put(at, unit, v, false)) return false;
                at += step;
            }
        } else {
            if (!src.Word(unit, &v)) return false;
            if ((size_t)count > plane.size) return false;
            for (int32_t n = count; n; n--) {
                if (!plane.Put(at, unit, v, false)) return false;
                at += step;
            }
        }
    }
    return true;
}

struct AnimHeader {
    int operation = -1, interleave = 0;
    uint32_t bits = 0, relTime = 0;
};

bool IsDeltaMethod(int op) { return op == 5 || op == 7 || op == 8 || op == 100 || op == 101; }

}  // namespace

static bool ReadAt(lvVFile *file, int64_t at, void *out, int64_t n)
{
    return SeekVFile(file, at, 1) >= 0 && ReadVFile(file, out, n) == n;
}

static void ApplyHalfBrite(lvIffAnimReader *r)
{
    if (r->halfBrite)
        for (int i = 0; i < 32; i++) r->palette[32 + i] = (r->palette[i] >> 1) & 0x7F7F7F;
}

static void ReadCmap(lvIffAnimReader *r, uint32_t length)
{
    int n = (int)std::min<uint32_t>(length / 3, 256);
    uint8_t rgb[768];
    int got = (int)std::max<int64_t>(0, ReadVFile(r->file, rgb, n * 3)) / 3;
    for (int i = 0; i < got; i++) r->palette[i] = (uint32_t)rgb[i * 3] << 16 | (uint32_t)rgb[i * 3 + 1] << 8 | rgb[i * 3 + 2];
    ApplyHalfBrite(r);
}

static void ParseAnhd(const uint8_t *d, uint32_t length, AnimHeader *h)
{
    if (length < 1) return;
    h->operation = d[0];
    if (length >= 18) h->relTime = Be32(d + 14);
    if (length >= 19) h->interleave = d[18];
    if (length >= 24) h->bits = Be32(d + 20);
}

// Reads a chunk's bytes whole; null when the file ends first.
static uint8_t *ReadWhole(lvVFile *file, uint32_t length)
{
    int64_t size = GetVFileSize(file);
    if (size > 0 && (int64_t)length > size) return nullptr;  // more than the whole file
    uint8_t *data = (uint8_t *)AllocMemory(length ? length : 1, 0);
    if (data && ReadVFile(file, data, length) != (int64_t)length) {
        FreeMemory(data);
        return nullptr;
    }
    return data;
}

static bool ApplyDelta(lvIffAnimReader *r, const uint8_t *dlta, size_t size, const AnimHeader &h, uint8_t *buffer)
{
    if (size < 64) return false;
    size_t step = r->rowBytes * (r->fields && (h.operation == 100 || h.operation == 101) ? 2 : 1);
    for (int p = 0; p < r->planes && p < 8; p++) {
        uint32_t offset = Be32(dlta + 4 * p);
        if (!offset) continue;
        PlaneTarget plane = {buffer + (size_t)p * r->planeBytes, r->planeBytes};
        DeltaSource src = {dlta, size, offset};
        if (offset >= size) return false;
        switch (h.operation) {
        case 5: {
            bool xorIn = h.interleave == 1;
            for (size_t c = 0; c < r->rowBytes; c++)
                if (!DecodeColumnOps(src, src, plane, c, 1, step, xorIn)) return false;
            break;
        }
        case 7: {
            uint32_t dataOffset = Be32(dlta + 4 * (p + 8));
            if (dataOffset >= size) return false;
            DeltaSource values = {dlta, size, dataOffset};
            int unit = (h.bits & 1) ? 4 : 2;
            size_t columns = (size_t)r->width / (size_t)(unit * 8);
            for (size_t c = 0; c < columns; c++)
                if (!DecodeColumnOps(src, values, plane, c * (size_t)unit, unit, step, false)) return false;
            break;
        }
        case 8: {
            int unit = (h.bits & 1) ? 4 : 2;
            size_t columns = (size_t)r->width / (size_t)(unit * 8);
            for (size_t c = 0; c < columns; c++)
                if (!DecodeColumnWords(src, plane, c * (size_t)unit, unit, step)) return false;
            if (unit == 4 && r->width % 32 && !DecodeColumnWords(src, plane, columns * 4, 2, step)) return false;
            break;
        }
        case 100:
            if (!DecodeGroups(src, plane, 4, step)) return false;
            break;
        case 101:
            if (!DecodeGroups(src, plane, 2, step)) return false;
            break;
        default:
            return false;
        }
    }
    return true;
}

void RewindIffAnim(lvIffAnimReader *r)
{
    std::memcpy(r->buffers[0], r->firstPlanes, r->bufferBytes);
    std::memcpy(r->buffers[1], r->firstPlanes, r->bufferBytes);
    if (r->fieldPlanes) std::memcpy(r->fieldPlanes, r->firstPlanes, r->bufferBytes);
    std::memcpy(r->palette, r->firstPalette, sizeof r->palette);
    r->current = 0;
    r->nextFrame = 1;
    r->lastChanged = nullptr;
    SeekVFile(r->file, r->secondFrameAt, 1);
}

// The first row where the buffer differs from the field copy decides which rows the
// field deltas carry.
static void DetectField(lvIffAnimReader *r, const uint8_t *buffer)
{
    for (int y = 0; y < r->height; y++)
        for (int p = 0; p < r->planes; p++) {
            size_t at = (size_t)p * r->planeBytes + (size_t)y * r->rowBytes;
            if (std::memcmp(buffer + at, r->fieldPlanes + at, r->rowBytes) != 0) {
                r->fieldMode = (y & 1) ? 2 : 1;
                return;
            }
        }
}

uint8_t *DecodeIffAnimDelta(lvIffAnimReader *r)
{
    AnimHeader h;
    lvMemPtr<uint8_t> dlta;
    uint32_t dltaSize = 0;
    for (int guard = 0; guard < 4096; guard++) {
        uint8_t chunk[8];
        if (ReadVFile(r->file, chunk, 8) != 8) return nullptr;
        uint32_t length = Be32(chunk + 4);
        if (std::memcmp(chunk, "FORM", 4) == 0) {
            uint8_t type[4];
            if (ReadVFile(r->file, type, 4) != 4) return nullptr;
            continue;
        }
        int64_t next = SeekVFile(r->file, 0, 0) + length + (length & 1);
        if (std::memcmp(chunk, "ANHD", 4) == 0) {
            uint8_t d[40] = {};
            uint32_t n = std::min<uint32_t>(length, 40);
            if (ReadVFile(r->file, d, n) != (int64_t)n) return nullptr;
            ParseAnhd(d, n, &h);
            if (!IsDeltaMethod(h.operation)) return nullptr;
            if (r->nextFrame < r->frameCount) r->delays[r->nextFrame] = h.relTime;
        } else if (std::memcmp(chunk, "CMAP", 4) == 0) {
            ReadCmap(r, length);
        } else if (std::memcmp(chunk, "DLTA", 4) == 0) {
            if (length > kMaxDeltaBytes) return nullptr;
            dlta.reset(ReadWhole(r->file, length));
            if (!dlta) return nullptr;
            dltaSize = length;
            if (length & 1) SeekVFile(r->file, next, 1);
            break;
        }
        if (SeekVFile(r->file, next, 1) < 0) return nullptr;
    }
    if (!dlta || !IsDeltaMethod(h.operation)) return nullptr;
    uint8_t *buffer = r->buffers[r->current];
    if (h.interleave == 0) r->current ^= 1;
    bool fieldDelta = r->fields && (h.operation == 100 || h.operation == 101);
    if (fieldDelta && r->fieldPlanes) {
        // Until the field is known the copy is a "before" picture; afterwards it keeps
        // the rows of the other field for the frames that do not carry them.
        if (!r->fieldMode) std::memcpy(r->fieldPlanes, buffer, r->bufferBytes);
        else if (!r->lineDoubling) std::memcpy(r->fieldPlanes, r->buffers[r->current], r->bufferBytes);
    }
    if (!ApplyDelta(r, dlta.get(), dltaSize, h, buffer)) return nullptr;
    if (fieldDelta && r->fieldPlanes && !r->fieldMode) DetectField(r, buffer);
    r->deltasApplied++;
    return buffer;
}

void CloseIffAnimReader(lvIffAnimReader *r)
{
    if (!r) return;
    if (r->file) CloseVFile(r->file);
    FreeMemory(r->firstPlanes);
    FreeMemory(r->buffers[0]);
    FreeMemory(r->buffers[1]);
    FreeMemory(r->pens);
    FreeMemory(r->fieldPlanes);
    FreeMemory(r->fieldPens);
    FreeMemory(r->delays);
    delete r;
}

// The second FORM: behind the first frame's FORM, else behind its BODY.
static bool FindSecondFrame(lvIffAnimReader *r, int64_t bodyEnd)
{
    uint8_t b[8];
    if (!ReadAt(r->file, 16, b, 4)) return false;
    uint32_t size = Be32(b);
    int64_t candidates[2] = {(int64_t)size + (size & 1) + 20, bodyEnd};
    for (int64_t at : candidates)
        if (ReadAt(r->file, at, b, 4) && std::memcmp(b, "FORM", 4) == 0) {
            r->secondFrameAt = at;
            return true;
        }
    return false;
}

// The operation of the second frame's ANHD, or -1.
static int SecondFrameOperation(lvIffAnimReader *r)
{
    int64_t at = r->secondFrameAt + 12;
    for (int guard = 0; guard < 4096; guard++) {
        uint8_t chunk[8];
        if (!ReadAt(r->file, at, chunk, 8)) return -1;
        uint32_t length = Be32(chunk + 4);
        if (std::memcmp(chunk, "ANHD", 4) == 0) {
            uint8_t d[40] = {};
            uint32_t n = std::min<uint32_t>(length, 40);
            if (ReadVFile(r->file, d, n) != (int64_t)n) return -1;
            AnimHeader h;
            ParseAnhd(d, n, &h);
            r->fields = (h.operation == 100 || h.operation == 101) && (h.bits & 0x40);
            return h.operation;
        }
        if (std::memcmp(chunk, "DLTA", 4) == 0) return -1;
        at += 8 + length + (length & 1);
    }
    return -1;
}

static int CountForms(lvIffAnimReader *r)
{
    int count = 1;
    int64_t at = r->secondFrameAt;
    uint8_t b[8];
    while (count < (1 << 24) && ReadAt(r->file, at, b, 8) && std::memcmp(b, "FORM", 4) == 0) {
        uint32_t size = Be32(b + 4);
        at += 8 + (int64_t)size + (size & 1);
        count++;
    }
    return count;
}

lvIffAnimReader *OpenIffAnimReader(lvVFile *file, int deinterlace, int paletteMode, int transparency, int *width,
                                   int *height, int *frameCount)
{
    std::unique_ptr<lvIffAnimReader, void (*)(lvIffAnimReader *)> r(new (std::nothrow) lvIffAnimReader,
                                                                    CloseIffAnimReader);
    if (!r) {
        CloseVFile(file);
        return nullptr;
    }
    r->file = file;
    r->paletteMode = paletteMode, r->transparency = transparency, r->lineDoubling = deinterlace;
    uint8_t head[24];
    if (!ReadAt(file, 0, head, 24) || std::memcmp(head, "FORM", 4) || std::memcmp(head + 8, "ANIM", 4) ||
        std::memcmp(head + 12, "FORM", 4) || std::memcmp(head + 20, "ILBM", 4))
        return nullptr;
    bool bmhd = false;
    uint32_t camg = 0, firstDelay = 0, bodyLength = 0;
    int dpanFrames = -1;
    int64_t bodyAt = -1;
    for (int guard = 0; guard < 4096; guard++) {
        uint8_t chunk[8];
        if (ReadVFile(file, chunk, 8) != 8) break;
        uint32_t length = Be32(chunk + 4);
        int64_t next = SeekVFile(file, 0, 0) + length + (length & 1);
        uint8_t d[40] = {};
        if (std::memcmp(chunk, "BODY", 4) == 0) {
            bodyAt = SeekVFile(file, 0, 0), bodyLength = length;
            break;
        }
        if (std::memcmp(chunk, "BMHD", 4) == 0) {
            if (length < 12 || ReadVFile(file, d, std::min<uint32_t>(length, 20)) < 12) return nullptr;
            bmhd = true;
            r->width = Be16(d), r->height = Be16(d + 2);
            r->planes = d[8], r->masking = d[9], r->compression = d[10];
            r->transparent = Be16(d + 12);
        } else if (std::memcmp(chunk, "ANHD", 4) == 0) {
            uint32_t n = std::min<uint32_t>(length, 40);
            if (ReadVFile(file, d, n) != (int64_t)n) return nullptr;
            AnimHeader h;
            ParseAnhd(d, n, &h);
            firstDelay = h.relTime;
        } else if (std::memcmp(chunk, "CMAP", 4) == 0) {
            int n = (int)std::min<uint32_t>(length / 3, 256);
            uint8_t rgb[768];
            int got = (int)std::max<int64_t>(0, ReadVFile(file, rgb, n * 3)) / 3;
            for (int i = 0; i < got; i++) r->palette[i] = (uint32_t)rgb[i * 3] << 16 | (uint32_t)rgb[i * 3 + 1] << 8 | rgb[i * 3 + 2];
        } else if (std::memcmp(chunk, "DPAN", 4) == 0) {
            if (length >= 4 && ReadVFile(file, d, 4) == 4) dpanFrames = Be16(d + 2);
        } else if (std::memcmp(chunk, "CAMG", 4) == 0) {
            if (length >= 4 && ReadVFile(file, d, 4) == 4) camg = Be32(d);
        }
        if (SeekVFile(file, next, 1) < 0) break;
    }
    if (!bmhd || bodyAt < 0 || r->planes < 1 || r->planes > 8 || r->compression > 1) return nullptr;
    if (!ImagePixelsFit(r->width, r->height) || !r->width || !r->height) return nullptr;
    bool ham = camg & 0x800;
    r->ham8 = ham && r->planes > 6, r->ham6 = ham && !r->ham8;
    r->halfBrite = !ham && (camg & 0x80);
    r->depth = ham ? 24 : r->planes;
    if (paletteMode && r->depth > 8) return nullptr;
    ApplyHalfBrite(r.get());
    std::memcpy(r->firstPalette, r->palette, sizeof r->palette);

    r->rowBytes = (size_t)IlbmRowBytes(r->width);
    r->planeBytes = r->rowBytes * r->height;
    r->bufferBytes = r->planeBytes * r->planes;
    size_t pixels = (size_t)r->width * r->height;
    r->firstPlanes = (uint8_t *)AllocMemory(r->bufferBytes, 1);
    r->buffers[0] = (uint8_t *)AllocMemory(r->bufferBytes, 1);
    r->buffers[1] = (uint8_t *)AllocMemory(r->bufferBytes, 1);
    r->pens = (uint8_t *)AllocMemory(pixels, 1);
    if (!r->firstPlanes || !r->buffers[0] || !r->buffers[1] || !r->pens) return nullptr;
    {
        if (bodyLength > kMaxDeltaBytes * 4) return nullptr;
        lvMemPtr<uint8_t> body(ReadWhole(file, bodyLength));
        if (!body) return nullptr;
        lvIlbmLayout layout = {r->width, r->height, r->planes, r->masking, 0};
        bool ok = r->compression ? UnpackByteRun1Body(body.get(), bodyLength, layout, r->firstPlanes)
                                 : ReadIlbmBody(body.get(), bodyLength, layout, r->firstPlanes);
        if (!ok) return nullptr;
    }
    if (!FindSecondFrame(r.get(), bodyAt + bodyLength + (bodyLength & 1))) return nullptr;
    int op = SecondFrameOperation(r.get());
    if (!IsDeltaMethod(op)) return nullptr;
    if (dpanFrames >= 0) {
        r->frameCount = dpanFrames;
    } else {
        r->frameCount = CountForms(r.get());
        // Methods 100 and 101 end with two frames that loop back to the start.
        if ((op == 100 || op == 101) && r->frameCount > 2) r->frameCount -= 2;
    }
    if (r->frameCount < 1) return nullptr;
    r->delays = (uint32_t *)AllocMemory((size_t)r->frameCount * 4, 1);
    if (!r->delays) return nullptr;
    r->delays[0] = firstDelay;
    if (r->fields) {
        r->fieldPlanes = (uint8_t *)AllocMemory(r->bufferBytes, 1);
        if (!r->fieldPlanes) return nullptr;
        RewindIffAnim(r.get());
        int applied = 0;
        while (!r->fieldMode && applied < r->frameCount - 1 && DecodeIffAnimDelta(r.get())) applied++, r->nextFrame++;
        // The field a frame carries alternates; frame `applied` carried the detected one.
        if (r->fieldMode) r->fieldParity = ((r->fieldMode == 2 ? 1 : 0) - applied) & 1;
        if (!r->lineDoubling) {
            r->fieldPens = (uint8_t *)AllocMemory(pixels, 1);
            if (!r->fieldPens) return nullptr;
        }
    }
    RewindIffAnim(r.get());
    *width = r->width, *height = r->height, *frameCount = r->frameCount;
    return r.release();
}

void *GetIffAnimFrame(lvIffAnimReader *r, int frame, uint32_t **palette, int *depth, int *transparentPen)
{
    if (palette) *palette = nullptr;
    *depth = r->depth, *transparentPen = -1;
    if (frame < 0 || frame >= r->frameCount) return nullptr;
    const uint8_t *planes;
    if (frame == 0) {
        planes = r->firstPlanes;
        std::memcpy(r->palette, r->firstPalette, sizeof r->palette);
    } else if (frame == r->nextFrame - 1 && r->lastChanged) {
        planes = r->lastChanged;  // the same frame again needs no replay
    } else {
        if (frame < r->nextFrame) RewindIffAnim(r);
        uint8_t *changed = nullptr;
        while (r->nextFrame <= frame) {
            changed = DecodeIffAnimDelta(r);
            if (!changed) {
                // The buffers may hold half a delta: start again next time.
                RewindIffAnim(r);
                return nullptr;
            }
            r->nextFrame++;
        }
        r->lastChanged = changed;
        planes = changed;
    }
    PlanesToPens(planes, r->width, r->height, r->planes, r->pens);
    if (r->fieldMode && frame > 0) {
        int carried = ((frame + r->fieldParity) & 1) ? 1 : 0;  // 1: odd rows
        if (!r->lineDoubling && r->fieldPens) PlanesToPens(r->fieldPlanes, r->width, r->height, r->planes, r->fieldPens);
        for (int y = 0; y < r->height; y++) {
            if ((y & 1) == carried) continue;
            uint8_t *row = r->pens + (size_t)y * r->width;
            if (r->lineDoubling) {
                int from = y > 0 ? y - 1 : (y + 1 < r->height ? y + 1 : y);
                std::memcpy(row, r->pens + (size_t)from * r->width, (size_t)r->width);
            } else if (r->fieldPens) {
                std::memcpy(row, r->fieldPens + (size_t)y * r->width, (size_t)r->width);
            }
        }
    }
    size_t count = (size_t)r->width * r->height;
    bool keyed = r->transparency && r->masking == 2;
    void *result = nullptr;
    if (r->paletteMode) {
        result = AllocMemory(count, 0);
        uint32_t *pal = palette ? (uint32_t *)AllocMemory(1024, 0) : nullptr;
        if (!result || (palette && !pal)) {
            FreeMemory(result), FreeMemory(pal);
            return nullptr;
        }
        std::memcpy(result, r->pens, count);
        if (pal) std::memcpy(pal, r->palette, 1024), *palette = pal;
        if (keyed) *transparentPen = r->transparent;
    } else {
        uint32_t *argb = (uint32_t *)AllocMemory(count * 4, 0);
        if (!argb) return nullptr;
        for (int y = 0; y < r->height; y++) {
            const uint8_t *pens = r->pens + (size_t)y * r->width;
            uint32_t *out = argb + (size_t)y * r->width;
            if (r->ham6) DecodeHam6(pens, r->width, r->palette, out);
            else if (r->ham8) DecodeHam8(pens, r->width, r->palette, out);
            else PensToArgb(pens, (size_t)r->width, r->palette, out);
            for (int x = 0; x < r->width; x++) {
                uint32_t c = out[x] & 0xFFFFFF;
                bool clear = false;
                if (keyed) {
                    uint32_t tc = (uint32_t)r->transparent;
                    clear = (r->ham6 || r->ham8) ? c == ((tc | tc << 12) & 0xFFFFFF) : pens[x] == tc;
                }
                out[x] = keyed ? (clear ? c : c | 0xFF000000u) : c;
            }
        }
        if (keyed) *transparentPen = -2;
        result = argb;
    }
    if (frame == r->frameCount - 1) RewindIffAnim(r);
    return result;
}

int GetIffAnimDelay(lvIffAnimReader *r, int frame)
{
    if (frame < 0 || frame >= r->frameCount) return 0;
    return (int)((int64_t)r->delays[frame] * 1000 / 60);
}

int64_t GetIffAnimDeltaCount(lvIffAnimReader *r) { return r->deltasApplied; }

// ============================================================================
// Writing
// ============================================================================

struct lvIffAnimWriter {
    lvWrittenFile out;
    int width = 0, height = 0, depth = 0, frames = 0;
    size_t rowBytes = 0, planeBytes = 0;
    uint8_t *planes = nullptr, *refs[2] = {};
    uint8_t *delta = nullptr;  // one plane's encoded columns
    size_t deltaCapacity = 0;
    uint32_t lastCmap[256] = {};
};

// Ops of one column are bounded by the 8-bit op count: tall columns switch to long
// literals when the ops left would not cover the rows left otherwise.
static const int kMaxColumnRows = 255 * 127;

void FreeIffAnimWriter(lvIffAnimWriter *w)
{
    if (!w) return;
    FreeMemory(w->planes);
    FreeMemory(w->refs[0]);
    FreeMemory(w->refs[1]);
    FreeMemory(w->delta);
    delete w;
}

int OpenIffAnimWriter(const char *path, const char *adapter, const void *userTags, int width, int height,
                      lvIffAnimWriter **writer)
{
    *writer = nullptr;
    if (width < 1 || height < 1 || width > 65535 || height > kMaxColumnRows) return ERR_WRONGUSAGE;
    if (!ImagePixelsFit(width, height)) return ERR_MEM;
    lvIffAnimWriter *w = new (std::nothrow) lvIffAnimWriter;
    if (!w) return ERR_MEM;
    w->width = width, w->height = height;
    w->rowBytes = (size_t)IlbmRowBytes(width);
    w->planeBytes = w->rowBytes * height;
    // A column's worst case: one op count and, per 127 rows, an op byte and its bytes.
    w->deltaCapacity = w->rowBytes * ((size_t)height + (size_t)height / 127 * 2 + 8);
    w->planes = (uint8_t *)AllocMemory(w->planeBytes * 8, 1);
    w->refs[0] = (uint8_t *)AllocMemory(w->planeBytes * 8, 1);
    w->refs[1] = (uint8_t *)AllocMemory(w->planeBytes * 8, 1);
    w->delta = (uint8_t *)AllocMemory(w->deltaCapacity, 0);
    if (!w->planes || !w->refs[0] || !w->refs[1] || !w->delta) {
        FreeIffAnimWriter(w);
        return ERR_MEM;
    }
    if (int code = w->out.Open(path, adapter, userTags)) {
        FreeIffAnimWriter(w);
        return code;
    }
    static const uint8_t head[12] = {'F', 'O', 'R', 'M', 0, 0, 0, 0, 'A', 'N', 'I', 'M'};
    w->out.Write(head, 12);
    *writer = w;
    return 0;
}

// One byte column against its reference, as method 5 ops; returns the bytes written to out.
static size_t EncodeColumn(const uint8_t *now, const uint8_t *ref, size_t step, int height, uint8_t *out)
{
    auto at = [&](int y) { return (size_t)y * step; };
    bool same = true;
    for (int y = 0; y < height && same; y++) same = now[at(y)] == ref[at(y)];
    out[0] = 0;
    if (same) return 1;
    size_t o = 1;
    int ops = 0, y = 0;
    auto matching = [&](int from) {
        int n = 0;
        while (from + n < height && n < 127 && now[at(from + n)] == ref[at(from + n)]) n++;
        return n;
    };
    auto repeating = [&](int from) {
        int n = 1;
        while (from + n < height && n < 127 && now[at(from + n)] == now[at(from)]) n++;
        return n;
    };
    while (y < height) {
        int left = height - y;
        bool tight = (left + 126) / 127 >= 255 - ops;
        int m = tight ? 0 : matching(y);
        if (m >= 2) {
            bool restSame = true;
            for (int k = y + m; k < height && restSame; k++) restSame = now[at(k)] == ref[at(k)];
            if (restSame) break;  // a skip to the end is not written
            out[o++] = (uint8_t)m, ops++, y += m;
            continue;
        }
        int r = tight ? 0 : repeating(y);
        if (r >= 4) {
            out[o++] = 0, out[o++] = (uint8_t)r, out[o++] = now[at(y)], ops++, y += r;
            continue;
        }
        int n = 0;
        while (y + n < height && n < 127) {
            if (n > 0 && !tight && (matching(y + n) >= 2 || repeating(y + n) >= 4)) break;
            n++;
        }
        out[o++] = (uint8_t)(0x80 | n);
        for (int k = 0; k < n; k++) out[o++] = now[at(y + k)];
        ops++, y += n;
    }
    out[0] = (uint8_t)ops;
    return o;
}

static void WriteChunkHead(lvWrittenFile &out, const char *tag, uint32_t size)
{
    uint8_t h[8];
    std::memcpy(h, tag, 4);
    PutBe32(h + 4, size);
    out.Write(h, 8);
}

static void PatchBe32(lvWrittenFile &out, int64_t at, uint32_t value)
{
    if (out.error) return;
    int64_t end = SeekVFile(out.file, 0, 0);
    uint8_t b[4];
    PutBe32(b, value);
    if (SeekVFile(out.file, at, 1) < 0) out.error = ERR_WRITE;
    out.Write(b, 4);
    if (!out.error && SeekVFile(out.file, end, 1) < 0) out.error = ERR_WRITE;
}

int WriteIffAnimPens(lvIffAnimWriter *w, const uint8_t *pens, int penRowBytes, int delay, const uint32_t *palette,
                     int depth, int transparentPen)
{
    if (depth < 1 || depth > 8 || (w->frames && depth != w->depth)) return ERR_WRONGUSAGE;
    if (w->out.error) return w->out.error;
    w->depth = depth;
    lvWrittenFile &out = w->out;
    int64_t formAt = SeekVFile(out.file, 0, 0);
    static const uint8_t form[12] = {'F', 'O', 'R', 'M', 0, 0, 0, 0, 'I', 'L', 'B', 'M'};
    out.Write(form, 12);
    if (!w->frames) {
        uint8_t bmhd[20] = {};
        PutBe16(bmhd, w->width), PutBe16(bmhd + 2, w->height);
        bmhd[8] = (uint8_t)depth;
        bmhd[9] = transparentPen >= 0 ? 2 : 0;
        bmhd[10] = 1;
        PutBe16(bmhd + 12, transparentPen >= 0 ? transparentPen : 0);
        bmhd[14] = 1, bmhd[15] = 1;
        PutBe16(bmhd + 16, w->width), PutBe16(bmhd + 18, w->height);
        WriteChunkHead(out, "BMHD", 20);
        out.Write(bmhd, 20);
    }
    uint8_t anhd[40] = {};
    anhd[0] = w->frames ? 5 : 0;
    PutBe16(anhd + 2, w->width), PutBe16(anhd + 4, w->height);
    PutBe32(anhd + 14, (uint32_t)(int)(std::max(delay, 0) / 1000.0 * 60));
    WriteChunkHead(out, "ANHD", 40);
    out.Write(anhd, 40);
    int colours = 1 << depth;
    uint32_t now[256] = {};
    for (int i = 0; i < colours; i++) now[i] = palette ? palette[i] & 0xFFFFFF : 0;
    if (!w->frames || std::memcmp(now, w->lastCmap, (size_t)colours * 4) != 0) {
        uint8_t rgb[768];
        for (int i = 0; i < colours; i++)
            rgb[i * 3] = (uint8_t)(now[i] >> 16), rgb[i * 3 + 1] = (uint8_t)(now[i] >> 8), rgb[i * 3 + 2] = (uint8_t)now[i];
        WriteChunkHead(out, "CMAP", (uint32_t)(3 * colours));
        out.Write(rgb, 3 * colours);
        std::memcpy(w->lastCmap, now, sizeof now);
    }
    PensToPlanes(pens, penRowBytes, w->width, w->height, depth, w->planes);
    size_t planeBytes = w->planeBytes * (size_t)depth;
    if (!w->frames) {
        std::memcpy(w->refs[0], w->planes, planeBytes);
        std::memcpy(w->refs[1], w->planes, planeBytes);
        int64_t bodyAt = SeekVFile(out.file, 0, 0);
        WriteChunkHead(out, "BODY", 0);
        int64_t bodySize = 0;
        if (int code = WriteIlbmBody(&out, w->planes, w->width, w->height, depth, &bodySize); code == ERR_MEM)
            return code;
        if (bodySize & 1) out.Write("", 1);
        PatchBe32(out, bodyAt + 4, (uint32_t)bodySize);
    } else {
        uint8_t *ref = w->refs[w->frames & 1];
        int64_t dltaAt = SeekVFile(out.file, 0, 0);
        uint8_t offsets[64] = {};
        WriteChunkHead(out, "DLTA", 0);
        out.Write(offsets, 64);
        uint32_t used = 64;
        for (int p = 0; p < depth && !out.error; p++) {
            const uint8_t *plane = w->planes + (size_t)p * w->planeBytes, *old = ref + (size_t)p * w->planeBytes;
            size_t o = 0;
            bool changed = false;
            for (size_t c = 0; c < w->rowBytes; c++) {
                size_t n = EncodeColumn(plane + c, old + c, w->rowBytes, w->height, w->delta + o);
                changed |= w->delta[o] != 0;
                o += n;
            }
            if (!changed) continue;
            PutBe32(offsets + 4 * p, used);
            out.Write(w->delta, (int64_t)o);
            used += (uint32_t)o;
        }
        std::memcpy(ref, w->planes, planeBytes);
        if (used & 1) out.Write("", 1);
        PatchBe32(out, dltaAt + 4, used);
        if (!out.error) {
            int64_t end = SeekVFile(out.file, 0, 0);
            if (SeekVFile(out.file, dltaAt + 8, 1) < 0) out.error = ERR_WRITE;
            out.Write(offsets, 64);
            if (!out.error && SeekVFile(out.file, end, 1) < 0) out.error = ERR_WRITE;
        }
    }
    int64_t end = SeekVFile(out.file, 0, 0);
    if (end < 0 && !out.error) out.error = ERR_WRITE;
    PatchBe32(out, formAt + 4, (uint32_t)(end - formAt - 8));
    if (out.error) return out.error;
    w->frames++;
    return 0;
}

int WriteIffAnimFrame(lvIffAnimWriter *w, lvBitMapHandle *penPlane, int delay, const uint32_t *palette, int depth,
                      int transparentPen)
{
    if (!penPlane || penPlane->width < w->width || penPlane->height < w->height) return ERR_WRONGUSAGE;
    if (depth < 1 || depth > 8 || (w->frames && depth != w->depth)) return ERR_WRONGUSAGE;
    uint8_t *pens = nullptr;
    int rowBytes = 0;
    uintptr_t token = GetPlanePixels(penPlane, &pens, &rowBytes, 0);
    if (!token) return ERR_LOCKBMAP;
    int code = WriteIffAnimPens(w, pens, rowBytes, delay, palette, depth, transparentPen);
    ReleasePlanePixels(token);
    return code;
}

int FinishIffAnimWriter(lvIffAnimWriter *w)
{
    lvWrittenFile &out = w->out;
    int64_t end = out.error ? -1 : SeekVFile(out.file, 0, 0);
    if (end > 8) PatchBe32(out, 4, (uint32_t)(end - 8));
    int code = out.Close();
    FreeIffAnimWriter(w);
    return code;
}

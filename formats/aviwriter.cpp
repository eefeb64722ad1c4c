// aviwriter.cpp - the MJPEG AVI writer: OpenDML parts, standard indexes every 2044
// frames, super indexes in the stream headers and idx1 for the first part, gathered in a
// temporary file meanwhile. Every write is checked: the first failure is the writer's
// answer from then on.
#include "formats/lvavi.h"
#include "formats/formats_internal.h"
#include "platform/lvplatform_startup.h"
#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

const int kStdEntries = 2044, kSuperEntries = 1022;
const uint32_t kIndexBytes = 16376;
const char kSoftware[] = "Lumivarra - Lumivarra Project";
const char kComment[] = "Lumivarra multimedia application runtime 1.0 (build 1) for Linux x86_64 - written by the "
                        "Lumivarra Project - https://lumivarra.example.org/ - MJPEG AVI";
static_assert(sizeof kSoftware == 30 && sizeof kComment == 152, "ISFT and ICMT keep their sizes");

struct StdEntry {
    uint32_t offset, size;
};
struct SuperEntry {
    uint64_t offset;
    uint32_t size, duration;
};

struct Bytes {
    uint8_t *data;
    size_t at;
    void Put(const void *p, size_t n) { std::memcpy(data + at, p, n), at += n; }
    void Tag(const char *t) { Put(t, 4); }
    void U32(uint32_t v)
    {
        uint8_t b[4] = {(uint8_t)v, (uint8_t)(v >> 8), (uint8_t)(v >> 16), (uint8_t)(v >> 24)};
        Put(b, 4);
    }
    void U16(int v)
    {
        uint8_t b[2] = {(uint8_t)v, (uint8_t)(v >> 8)};
        Put(b, 2);
    }
    void U64(uint64_t v) { U32((uint32_t)v), U32((uint32_t)(v >> 32)); }
    void Zero(size_t n) { std::memset(data + at, 0, n), at += n; }
};

}  // namespace

struct lvAviWriter {
    lvWrittenFile out, scratch;
    char scratchName[LV_PATH_SIZE] = {};
    int width = 0, height = 0, fps = 0, quality = 0;
    lvAviRates rates = {};
    uint8_t *silence = nullptr;
    char name[256] = {};
    int64_t frames = 0, videoBytes = 0, audioSamples = 0;
    uint32_t largestVideo = 0;
    int64_t partStart = 0, partLimit = 0, moviSizeAt = 0;
    bool idx1Open = true;
    int64_t idx1Frames = 0;
    lvAviLimits limits;
    // Per stream (0 audio, 1 video): the open standard index and the super index.
    StdEntry *std[2] = {};
    int stdUsed = 0;  // entries in the open standard indexes (one per frame in each)
    int64_t stdAt[2] = {-1, -1};
    SuperEntry *super[2] = {};
    int superUsed = 0;
    int64_t stdStartFrame = 0;
    uint8_t *block = nullptr;  // one index chunk, and the header list
};

int ComputeAviRates(int fps, lvAviRates *r)
{
    if (fps < 1 || fps > 1000000) return ERR_WRONGUSAGE;
    r->microsPerFrame = 1000000 / fps;
    r->effectiveRate = 1000000 / r->microsPerFrame;
    // A rate above the audio rate would leave no whole number of samples per frame.
    if (r->effectiveRate > 44100) return ERR_WRONGUSAGE;
    r->sampleRate = 44100;
    while (r->sampleRate % r->effectiveRate) r->sampleRate--;
    r->samplesPerFrame = r->sampleRate / r->effectiveRate;
    return 0;
}

void FreeAviWriter(lvAviWriter *w)
{
    if (!w) return;
    w->scratch.Close();
    if (w->scratchName[0]) std::remove(w->scratchName);
    w->out.Close();
    FreeMemory(w->silence);
    for (int s = 0; s < 2; s++) FreeMemory(w->std[s]), FreeMemory(w->super[s]);
    FreeMemory(w->block);
    delete w;
}

static size_t InfoBytes(const lvAviWriter *w)
{
    size_t nameLength = std::strlen(w->name) + 1;
    return 4 + 8 + nameLength + (nameLength & 1) + 8 + sizeof kSoftware + 8 + sizeof kComment;
}

static size_t HeaderListBytes(const lvAviWriter *w)
{
    return 8 + 4 + (8 + 56) + (8 + 16476) + (8 + 16500) + (8 + 16) + 8 + InfoBytes(w);
}

static void PutSuperIndex(const lvAviWriter *w, Bytes &b, int stream)
{
    b.Tag("indx"), b.U32(kIndexBytes);
    b.U16(4), b.Put("\0\0", 2), b.U32((uint32_t)w->superUsed), b.Tag(stream ? "01dc" : "00wb"), b.Zero(12);
    for (int i = 0; i < kSuperEntries; i++) {
        const SuperEntry &e = w->super[stream][i];
        b.U64(e.offset), b.U32(e.size), b.U32(e.duration);
    }
}

// The header list, written at byte 12 at the start and again with the final counts.
static void WriteHeaderList(lvAviWriter *w)
{
    Bytes b = {w->block, 0};
    size_t total = HeaderListBytes(w);
    const lvAviRates &r = w->rates;
    b.Tag("LIST"), b.U32((uint32_t)(total - 8)), b.Tag("hdrl");
    b.Tag("avih"), b.U32(56);
    int64_t avg = w->frames ? w->videoBytes / w->frames * 1000000 / r.microsPerFrame : 0;
    b.U32((uint32_t)r.microsPerFrame), b.U32((uint32_t)avg), b.U32(0), b.U32(16), b.U32((uint32_t)w->frames);
    b.U32(0), b.U32(2), b.U32(0), b.U32((uint32_t)w->width), b.U32((uint32_t)w->height), b.Zero(16);

    b.Tag("LIST"), b.U32(16476), b.Tag("strl");
    b.Tag("strh"), b.U32(56), b.Tag("auds"), b.U32(0), b.U32(0), b.U16(0), b.U16(0), b.U32(0);
    b.U32(4), b.U32((uint32_t)r.sampleRate * 4), b.U32(0), b.U32((uint32_t)w->audioSamples);
    b.U32((uint32_t)r.samplesPerFrame * 4), b.U32(0xFFFFFFFFu), b.U32(4), b.Zero(8);
    b.Tag("strf"), b.U32(16), b.U16(1), b.U16(2), b.U32((uint32_t)r.sampleRate), b.U32((uint32_t)r.sampleRate * 4);
    b.U16(4), b.U16(16);
    PutSuperIndex(w, b, 0);

    b.Tag("LIST"), b.U32(16500), b.Tag("strl");
    b.Tag("strh"), b.U32(56), b.Tag("vids"), b.Tag("MJPG"), b.U32(0), b.U16(0), b.U16(0), b.U32(0);
    b.U32((uint32_t)r.microsPerFrame), b.U32(1000000), b.U32(0), b.U32((uint32_t)w->frames);
    b.U32(w->largestVideo), b.U32(0), b.U32(0), b.U16(0), b.U16(0), b.U16(w->width), b.U16(w->height);
    b.Tag("strf"), b.U32(40), b.U32(40), b.U32((uint32_t)w->width), b.U32((uint32_t)w->height), b.U16(1), b.U16(24);
    b.Tag("MJPG"), b.U32((uint32_t)((int64_t)w->width * w->height * 3)), b.Zero(16);
    PutSuperIndex(w, b, 1);

    b.Tag("LIST"), b.U32(16), b.Tag("odml"), b.Tag("dmlh"), b.U32(4), b.U32((uint32_t)w->frames);

    b.Tag("LIST"), b.U32((uint32_t)InfoBytes(w)), b.Tag("INFO");
    size_t nameLength = std::strlen(w->name) + 1;
    b.Tag("INAM"), b.U32((uint32_t)nameLength), b.Put(w->name, nameLength), b.Zero(nameLength & 1);
    b.Tag("ISFT"), b.U32(sizeof kSoftware), b.Put(kSoftware, sizeof kSoftware);
    b.Tag("ICMT"), b.U32(sizeof kComment), b.Put(kComment, sizeof kComment);
    w->out.Write(w->block, (int64_t)b.at);
}

static int64_t Tell(lvWrittenFile &f)
{
    if (f.error) return -1;
    int64_t at = SeekVFile(f.file, 0, 0);
    if (at < 0) f.error = ERR_WRITE;
    return at;
}

static void SeekTo(lvWrittenFile &f, int64_t at)
{
    if (!f.error && SeekVFile(f.file, at, 1) < 0) f.error = ERR_WRITE;
}

static void PatchLe32(lvWrittenFile &f, int64_t at, uint32_t v)
{
    int64_t end = Tell(f);
    SeekTo(f, at);
    uint8_t b[4] = {(uint8_t)v, (uint8_t)(v >> 8), (uint8_t)(v >> 16), (uint8_t)(v >> 24)};
    f.Write(b, 4);
    SeekTo(f, end);
}

static void WriteTags(lvWrittenFile &f, std::initializer_list<const char *> tags)
{
    for (const char *t : tags) f.Write(t, 4);
}

// An "ix00"/"ix01" chunk with the open entries, at its place.
static void WriteStdIndex(lvAviWriter *w, int stream)
{
    Bytes b = {w->block, 0};
    b.Tag(stream ? "ix01" : "ix00"), b.U32(kIndexBytes);
    b.U16(2), b.Put("\0\1", 2), b.U32((uint32_t)w->stdUsed), b.Tag(stream ? "01dc" : "00wb");
    b.U64((uint64_t)w->partStart), b.U32(0);
    for (int i = 0; i < kStdEntries; i++) b.U32(i < w->stdUsed ? w->std[stream][i].offset : 0), b.U32(i < w->stdUsed ? w->std[stream][i].size : 0);
    int64_t end = Tell(w->out);
    SeekTo(w->out, w->stdAt[stream]);
    w->out.Write(w->block, (int64_t)b.at);
    SeekTo(w->out, end);
}

static void CloseStdIndexes(lvAviWriter *w)
{
    if (w->stdAt[0] < 0) return;
    for (int s = 0; s < 2; s++) WriteStdIndex(w, s);
    uint32_t frames = (uint32_t)(w->frames - w->stdStartFrame);
    w->super[0][w->superUsed - 1].duration = frames * (uint32_t)w->rates.samplesPerFrame;
    w->super[1][w->superUsed - 1].duration = frames;
}

static int StartStdIndexes(lvAviWriter *w)
{
    if (w->superUsed == kSuperEntries) return ERR_WRONGUSAGE;  // over two million frames
    CloseStdIndexes(w);
    for (int s = 0; s < 2; s++) {
        int64_t at = Tell(w->out);
        w->stdAt[s] = at;
        w->super[s][w->superUsed] = {(uint64_t)at, 16384, 0};
        w->stdUsed = 0;
        WriteStdIndex(w, s);  // empty for now, at the current end
        SeekTo(w->out, at + 16384);
    }
    w->superUsed++;
    w->stdUsed = 0;
    w->stdStartFrame = w->frames;
    return w->out.error;
}

static void FinishIdx1(lvAviWriter *w)
{
    if (!w->idx1Open) return;
    w->idx1Open = false;
    uint32_t size = (uint32_t)(w->idx1Frames * 32);
    PatchLe32(w->scratch, 4, size);
    SeekTo(w->scratch, 0);
    uint8_t buffer[16384];
    int64_t left = 8 + (int64_t)size;
    while (left > 0 && !w->out.error && !w->scratch.error) {
        int64_t n = std::min<int64_t>(left, sizeof buffer);
        if (ReadVFile(w->scratch.file, buffer, n) != n) w->scratch.error = ERR_WRITE;
        else w->out.Write(buffer, n), left -= n;
    }
    if (w->scratch.error && !w->out.error) w->out.error = w->scratch.error;
}

static void FinishPart(lvAviWriter *w)
{
    int64_t end = Tell(w->out);
    if (end < 0) return;
    PatchLe32(w->out, w->partStart + 4, (uint32_t)(end - w->partStart - 8));
}

static void CloseMovi(lvAviWriter *w)
{
    int64_t end = Tell(w->out);
    if (end >= 0) PatchLe32(w->out, w->moviSizeAt, (uint32_t)(end - w->moviSizeAt - 4));
}

int OpenAviWriter(const char *path, const char *adapter, const void *userTags, int fps, int width, int height,
                  int quality, const char *name, lvAviWriter **writer, const lvAviLimits *limits)
{
    *writer = nullptr;
    lvAviRates rates;
    if (ComputeAviRates(fps, &rates)) return ERR_WRONGUSAGE;
    if (width < 1 || height < 1 || width > 65535 || height > 65535) return ERR_WRONGUSAGE;
    lvAviWriter *w = new (std::nothrow) lvAviWriter;
    if (!w) return ERR_MEM;
    w->width = width, w->height = height, w->fps = fps, w->quality = quality, w->rates = rates;
    if (limits) w->limits = *limits;
    std::snprintf(w->name, sizeof w->name, "%s", name ? name : "");
    w->silence = (uint8_t *)AllocMemory((size_t)rates.samplesPerFrame * 4, 1);
    for (int s = 0; s < 2; s++) {
        w->std[s] = (StdEntry *)AllocMemory(sizeof(StdEntry) * kStdEntries, 1);
        w->super[s] = (SuperEntry *)AllocMemory(sizeof(SuperEntry) * kSuperEntries, 1);
    }
    w->block = (uint8_t *)AllocMemory(HeaderListBytes(w), 1);
    if (!w->silence || !w->std[0] || !w->std[1] || !w->super[0] || !w->super[1] || !w->block) {
        FreeAviWriter(w);
        return ERR_MEM;
    }
    if (int code = w->out.Open(path, adapter, userTags)) {
        FreeAviWriter(w);
        return code;
    }
    if (!CreateTempFileName(w->scratchName, sizeof w->scratchName)) {
        w->scratchName[0] = 0;
        SetErrorStringArg(path);
        FreeAviWriter(w);
        return ERR_WRITEFILE;
    }
    w->scratch.file = OpenVFile(w->scratchName, LV_VF_UPDATE, nullptr, nullptr);
    if (!w->scratch.file) {
        SetErrorStringArg(w->scratchName);
        FreeAviWriter(w);
        return ERR_WRITEFILE;
    }
    WriteTags(w->out, {"RIFF"});
    w->out.Write("\0\0\0\0", 4);
    WriteTags(w->out, {"AVI "});
    WriteHeaderList(w);
    WriteTags(w->out, {"LIST"});
    w->moviSizeAt = Tell(w->out);
    w->out.Write("\0\0\0\0", 4);
    WriteTags(w->out, {"movi"});
    WriteTags(w->scratch, {"idx1"});
    w->scratch.Write("\0\0\0\0", 4);
    w->partStart = 0, w->partLimit = w->limits.firstPart;
    if (int code = w->out.error ? w->out.error : w->scratch.error) {
        FreeAviWriter(w);
        return code;
    }
    *writer = w;
    return 0;
}

static void WriteChunk(lvWrittenFile &f, const char *id, const void *data, uint32_t size)
{
    uint8_t h[8];
    std::memcpy(h, id, 4);
    h[4] = (uint8_t)size, h[5] = (uint8_t)(size >> 8), h[6] = (uint8_t)(size >> 16), h[7] = (uint8_t)(size >> 24);
    f.Write(h, 8);
    f.Write(data, size);
    if (size & 1) f.Write("", 1);
}

static void AppendIdx1(lvAviWriter *w, const char *id, int64_t at, uint32_t size)
{
    uint8_t e[16];
    std::memcpy(e, id, 4);
    uint32_t v[3] = {16, (uint32_t)at, size};
    for (int i = 0; i < 3; i++)
        for (int k = 0; k < 4; k++) e[4 + i * 4 + k] = (uint8_t)(v[i] >> (8 * k));
    w->scratch.Write(e, 16);
}

int WriteAviFrame(lvAviWriter *w, const uint32_t *pixels, int width, int height)
{
    if (w->out.error) return w->out.error;
    if (!pixels || width != w->width || height != w->height) return ERR_WRONGUSAGE;
    int64_t at = Tell(w->out);
    if (at - w->partStart > w->partLimit) {
        // The open standard indexes belong to the part that ends here.
        CloseStdIndexes(w);
        w->stdAt[0] = w->stdAt[1] = -1;
        FinishIdx1(w);
        CloseMovi(w);
        FinishPart(w);
        w->partStart = Tell(w->out);
        WriteTags(w->out, {"RIFF"});
        w->out.Write("\0\0\0\0", 4);
        WriteTags(w->out, {"AVIX", "LIST"});
        w->moviSizeAt = Tell(w->out);
        w->out.Write("\0\0\0\0", 4);
        WriteTags(w->out, {"movi"});
        w->partLimit = w->limits.laterParts;
        if (int code = StartStdIndexes(w)) return code;
    } else if (w->frames == 0 || w->stdUsed == kStdEntries) {
        if (int code = StartStdIndexes(w)) return code;
    }
    lvJpegEncodeRequest req = {};
    req.pixels = pixels, req.rowBytes = width * 4, req.width = width, req.height = height;
    req.quality = w->quality, req.byteOrder = 0;
    EncodeJpegImage(&req);
    if (req.result) {
        FreeEncodedJpeg(req.handle);
        return req.result;
    }
    uint8_t *jpeg = const_cast<uint8_t *>(req.data);
    if (req.length > 10 && !std::memcmp(jpeg + 6, "JFIF", 4)) std::memcpy(jpeg + 6, "AVI1", 4);
    uint32_t audioSize = (uint32_t)w->rates.samplesPerFrame * 4, videoSize = (uint32_t)req.length;
    int64_t audioAt = Tell(w->out);
    WriteChunk(w->out, "00wb", w->silence, audioSize);
    int64_t videoAt = Tell(w->out);
    WriteChunk(w->out, "01dc", jpeg, videoSize);
    FreeEncodedJpeg(req.handle);
    if (w->out.error) return w->out.error;
    w->std[0][w->stdUsed] = {(uint32_t)(audioAt - w->partStart), audioSize};
    w->std[1][w->stdUsed] = {(uint32_t)(videoAt - w->partStart), videoSize};
    w->stdUsed++;
    if (w->idx1Open) {
        AppendIdx1(w, "00wb", audioAt, audioSize);
        AppendIdx1(w, "01dc", videoAt, videoSize);
        w->idx1Frames++;
        if (w->scratch.error) return w->out.error = w->scratch.error;
    }
    w->frames++;
    w->videoBytes += videoSize + (videoSize & 1);
    w->audioSamples += w->rates.samplesPerFrame;
    w->largestVideo = std::max(w->largestVideo, videoSize);
    return 0;
}

int FinishAviWriter(lvAviWriter *w)
{
    CloseStdIndexes(w);
    CloseMovi(w);
    FinishIdx1(w);
    FinishPart(w);
    SeekTo(w->out, 12);
    if (!w->out.error) WriteHeaderList(w);
    int code = w->out.Close();
    FreeAviWriter(w);
    return code;
}

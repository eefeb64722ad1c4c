// cdxl.cpp - the built-in CDXL reader: chunks of one fixed size, each a picture of 1 to 8
// bitplanes (palette or HAM6/HAM8) and optional signed 8-bit mono sound, read as a video
// stream of 32-bit pixels and 16-bit sound.
//
// Every size the first chunk states is checked against the chunk size before anything is
// allocated, and every later chunk must repeat the first one's layout: the buffers are
// sized from the first chunk, so a chunk that differs ends the stream as a short read does.
#include "media/videostream.h"
#include "base/lverrors.h"
#include "formats/lvilbm.h"
#include "platform/lvplatform.h"
#include "runtime/vfile.h"
#include <climits>
#include <cstring>

namespace {

struct lvCdxlVideoPacket {
    lvCdxlHeader header;
    uint8_t *video;        // the planes
    uint8_t *chunky;       // width x height pens, after the planes
    uint32_t palette[256]; // 0x00RRGGBB
    double timeStamp;
};

struct lvCdxlAudioPacket {
    int8_t *samples;
    int count;
    double timeStamp;
};

// What the player counts toward its read-ahead for a packet besides its data.
constexpr int kPacketOverhead = 1080;

uint32_t Be32(const uint8_t *p) { return (uint32_t)p[0] << 24 | (uint32_t)p[1] << 16 | (uint32_t)p[2] << 8 | p[3]; }
int Be16(const uint8_t *p) { return p[0] << 8 | p[1]; }

bool ReadCdxlHeader(lvVFile *file, lvCdxlHeader *header)
{
    uint8_t raw[LV_CDXL_HEADER];
    return ReadVFile(file, raw, sizeof raw) == (int64_t)sizeof raw && ParseCdxlHeader(raw, sizeof raw, header);
}

// A chunk whose layout is not the first chunk's would not fit the buffers.
bool SameLayout(const lvCdxlReader *r, const lvCdxlHeader &h)
{
    return (int64_t)h.chunkSize == r->chunkSize && h.width == r->width && h.height == r->height &&
           h.planes == r->planes && h.paletteSize == r->paletteSize && h.audioSize == r->audioBytes;
}

// The stream operations over the reader, as the player calls a plug-in's.
void *OpsOpen(const char *path, lvVideoStreamInfo *info) { return OpenCdxl(path, info); }
void OpsClose(void *h) { CloseCdxl((lvCdxlReader *)h); }
int OpsNext(void *h, lvVideoPacketInfo *info) { return NextCdxlPacket((lvCdxlReader *)h, info); }
int OpsDecodeVideo(void *h, void *packet, lvVideoDecodeRequest *request)
{
    return DecodeCdxlFrame((lvCdxlReader *)h, packet, request);
}
void OpsDecodeAudio(void *h, void *packet, lvAudioDecodeRequest *request)
{
    DecodeCdxlAudio((lvCdxlReader *)h, packet, request);
}
int OpsSeek(void *h, int32_t position, int32_t byBytes) { return SeekCdxl((lvCdxlReader *)h, position, byBytes); }
void OpsFlush(void *) {}
int OpsFrames(void *h) { return GetCdxlFrameCount((lvCdxlReader *)h); }
const char *OpsFormat(void *) { return GetCdxlFormatName(); }

const lvVideoStreamOps cdxlOps = {OpsOpen, OpsClose, OpsNext, FreeCdxlPacket, OpsDecodeVideo, OpsDecodeAudio,
                                  OpsSeek, OpsFlush, OpsFlush, OpsFrames, OpsFormat};

} // namespace

bool ParseCdxlHeader(const uint8_t *p, size_t length, lvCdxlHeader *h)
{
    if (length < LV_CDXL_HEADER) return false;
    h->type = p[0];
    h->info = p[1];
    h->chunkSize = Be32(p + 2);
    h->previousSize = Be32(p + 6);
    h->frameNumber = Be32(p + 10);
    h->width = Be16(p + 14);
    h->height = Be16(p + 16);
    h->planes = p[19];
    h->paletteSize = Be16(p + 20);
    h->audioSize = Be16(p + 22);
    return true;
}

double CdxlFramesPerSecond(int chunkSize)
{
    if (chunkSize <= 0) return 0;
    if (chunkSize <= 13000) return 153600.0 / chunkSize;
    if (chunkSize <= 40000) return 307200.0 / chunkSize;
    return 614400.0 / chunkSize;
}

lvCdxlReader *OpenCdxl(const char *path, lvVideoStreamInfo *info)
{
    lvVFile *file = OpenVFile(path, LV_VF_READ | LV_VF_ADAPTERS | LV_VF_EMULATESEEK, info ? info->adapter : nullptr,
                              info ? info->userTags : nullptr);
    if (!file) return nullptr;
    lvCdxlHeader h{};
    int64_t fileSize = GetVFileSize(file);
    bool ok = ReadCdxlHeader(file, &h) && h.type == 1 && fileSize > 0 && h.chunkSize > 0 &&
              (int64_t)h.chunkSize < fileSize && h.chunkSize <= INT_MAX;
    // The sizes the first chunk states must fit inside it and inside the buffers.
    int64_t rowBytes = IlbmRowBytes(h.width);
    int64_t videoBytes = (int64_t)h.planes * rowBytes * h.height;
    int64_t pens = (int64_t)h.width * h.height;
    ok = ok && h.width > 0 && h.height > 0 && h.planes >= 1 && h.planes <= LV_CDXL_MAXPLANES &&
         h.paletteSize <= LV_CDXL_MAXPALETTE && videoBytes + pens + kPacketOverhead <= INT_MAX &&
         LV_CDXL_HEADER + h.paletteSize + videoBytes + h.audioSize <= (int64_t)h.chunkSize;
    if (ok) {
        uint8_t second[4];
        ok = SeekVFile(file, (int64_t)h.chunkSize + 2, 1) >= 0 && ReadVFile(file, second, 4) == 4 &&
             Be32(second) == h.chunkSize && SeekVFile(file, 0, 1) >= 0;
    }
    lvCdxlReader *r = ok ? (lvCdxlReader *)AllocMemory(sizeof(lvCdxlReader), 1) : nullptr;
    if (!r) {
        CloseVFile(file);
        return nullptr;
    }
    r->file = file;
    r->width = h.width;
    r->height = h.height;
    r->rowBytes = (int)rowBytes;
    r->planes = h.planes;
    r->chunkSize = (int)h.chunkSize;
    r->frameCount = (int)(fileSize / h.chunkSize);
    r->paletteSize = h.paletteSize;
    r->videoBytes = (int)videoBytes;
    r->audioBytes = h.audioSize;
    r->skipBytes = r->chunkSize - LV_CDXL_HEADER - h.paletteSize - r->videoBytes - h.audioSize;
    r->ham = (h.info & 15) == 1;
    r->fps = CdxlFramesPerSecond(r->chunkSize);
    if (info) {
        info->width = r->width;
        info->height = r->height;
        info->durationMs = (int32_t)(r->frameCount / r->fps * 1000);
        int rate = (int)(r->audioBytes * r->fps);
        // Sound whose rate truncates to 0 could not be clocked: the video plays silent.
        info->audioRate = rate;
        info->audioChannels = r->audioBytes > 0 && rate > 0 ? 1 : 0;
        info->seekUnit = 0;
        info->bytesPerSecond = 0;
        info->pixelOutput = 1;
        info->flags = IsVFileUnseekable(file) ? 0 : LVP_VIDEO_CANSEEK;
        info->frameDuration = 0;
        if (!info->audioChannels) info->audioRate = 0;
    }
    return r;
}

void CloseCdxl(lvCdxlReader *r)
{
    if (!r) return;
    CloseVFile(r->file);
    FreeMemory(r);
}

static bool CdxlHasSound(const lvCdxlReader *r) { return r->audioBytes > 0 && (int)(r->audioBytes * r->fps) > 0; }

int NextCdxlPacket(lvCdxlReader *r, lvVideoPacketInfo *info)
{
    double stamp = r->frameIndex / r->fps;
    if (r->audioPending) {
        size_t bytes = sizeof(lvCdxlAudioPacket) + (size_t)r->audioBytes;
        lvCdxlAudioPacket *a = (lvCdxlAudioPacket *)AllocMemory(bytes, 0);
        if (!a) return -2;
        a->samples = (int8_t *)(a + 1);
        a->count = r->audioBytes;
        a->timeStamp = stamp;
        if (ReadVFile(r->file, a->samples, r->audioBytes) != r->audioBytes) {
            FreeMemory(a);
            return -1;
        }
        r->audioPending = 0;
        info->packet = a;
        info->audio = 1;
        info->size = kPacketOverhead + r->audioBytes;
    } else {
        lvCdxlHeader h{};
        if (!ReadCdxlHeader(r->file, &h) || !SameLayout(r, h)) return -1;
        size_t pens = (size_t)r->width * (size_t)r->height;
        lvCdxlVideoPacket *v = (lvCdxlVideoPacket *)AllocMemory(sizeof(lvCdxlVideoPacket) + r->videoBytes + pens, 0);
        if (!v) return -2;
        v->header = h;
        v->video = (uint8_t *)(v + 1);
        v->chunky = v->video + r->videoBytes;
        memset(v->chunky, 0, pens);
        memset(v->palette, 0, sizeof v->palette);
        v->timeStamp = stamp;
        uint8_t palette[LV_CDXL_MAXPALETTE];
        if (ReadVFile(r->file, palette, r->paletteSize) != r->paletteSize ||
            ReadVFile(r->file, v->video, r->videoBytes) != r->videoBytes) {
            FreeMemory(v);
            return -1;
        }
        for (int i = 0; i < r->paletteSize / 2; i++) {
            int c = Be16(palette + 2 * i);
            uint32_t red = (c >> 8) & 15, green = (c >> 4) & 15, blue = c & 15;
            v->palette[i] = (red * 17) << 16 | (green * 17) << 8 | blue * 17;
        }
        if (CdxlHasSound(r)) r->audioPending = 1;
        else if (r->audioBytes && SeekVFile(r->file, r->audioBytes, 0) < 0) {
            FreeMemory(v);
            return -1;
        }
        info->packet = v;
        info->audio = 0;
        info->size = kPacketOverhead + r->videoBytes + (int)pens;
    }
    info->timeStamp = stamp;
    if (!r->audioPending) {
        if (r->skipBytes) SeekVFile(r->file, r->skipBytes, 0);
        r->frameIndex++;
    }
    return 0;
}

void FreeCdxlPacket(void *packet) { FreeMemory(packet); }

int DecodeCdxlFrame(lvCdxlReader *r, void *packet, lvVideoDecodeRequest *request)
{
    lvCdxlVideoPacket *v = (lvCdxlVideoPacket *)packet;
    uint32_t *out = (uint32_t *)request->planes[0];
    request->rowLengths[0] = r->width * 4;
    PlanesToPens(v->video, r->width, r->height, r->planes, v->chunky);
    for (int y = 0; y < r->height; y++) {
        const uint8_t *pens = v->chunky + (size_t)y * r->width;
        uint32_t *row = out + (size_t)y * r->width;
        if (r->ham) (r->planes > 6 ? DecodeHam8 : DecodeHam6)(pens, r->width, v->palette, row);
        else PensToArgb(pens, (size_t)r->width, v->palette, row);
        for (int x = 0; x < r->width; x++) row[x] = __builtin_bswap32(row[x]);
    }
    request->packetTime = v->timeStamp;
    request->presentationTime = -1;
    request->repeatCount = 0;
    request->position = 0;
    return 0;
}

void DecodeCdxlAudio(lvCdxlReader *, void *packet, lvAudioDecodeRequest *request)
{
    lvCdxlAudioPacket *a = (lvCdxlAudioPacket *)packet;
    int count = a->count;
    if ((uint32_t)count * 2 > request->size) count = (int)(request->size / 2);
    int16_t *out = (int16_t *)request->buffer;
    for (int i = 0; i < count; i++) out[i] = (int16_t)(a->samples[i] * 256);
    request->written = count * 2;
    request->done = 1;
}

int SeekCdxl(lvCdxlReader *r, int32_t ms, int32_t)
{
    int frame = (int)(r->fps * ms / 1000);
    if (frame > r->frameCount - 1) frame = r->frameCount - 1;
    if (frame < 0) frame = 0;
    r->frameIndex = frame;
    SeekVFile(r->file, (int64_t)r->chunkSize * frame, 1);
    r->audioPending = 0;
    return 0;
}

int GetCdxlFrameCount(lvCdxlReader *r) { return r->frameCount; }
const char *GetCdxlFormatName() { return "CDXL"; }

const lvVideoStreamOps *GetCdxlVideoOps() { return &cdxlOps; }

bool GetPluginVideoOps(const lvPluginRecord *p, lvVideoStreamOps *ops)
{
    if (!p || !p->OpenVideo || !p->CloseVideo || !p->NextPacket || !p->FreePacket || !p->DecodeVideoFrame ||
        !p->DecodeAudioFrame || !p->SeekVideo || !p->FlushAudio || !p->FlushVideo || !p->GetVideoFrames ||
        !p->GetVideoFormat)
        return false;
    ops->OpenVideo = (lvOpenVideoFunction)p->OpenVideo;
    ops->CloseVideo = (lvCloseVideoFunction)p->CloseVideo;
    ops->NextPacket = (lvNextPacketFunction)p->NextPacket;
    ops->FreePacket = (lvFreePacketFunction)p->FreePacket;
    ops->DecodeVideoFrame = (lvDecodeVideoFrameFunction)p->DecodeVideoFrame;
    ops->DecodeAudioFrame = (lvDecodeAudioFrameFunction)p->DecodeAudioFrame;
    ops->SeekVideo = (lvSeekVideoFunction)p->SeekVideo;
    ops->FlushAudio = (lvFlushVideoStreamFunction)p->FlushAudio;
    ops->FlushVideo = (lvFlushVideoStreamFunction)p->FlushVideo;
    ops->GetVideoFrames = (lvGetVideoFramesFunction)p->GetVideoFrames;
    ops->GetVideoFormat = (lvGetVideoFormatFunction)p->GetVideoFormat;
    return true;
}

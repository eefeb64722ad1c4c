// videoplayer.cpp - the player's script-thread side: opening a stream, starting and
// stopping the threads, pausing, resuming, seeking, the position, moving and resizing;
// and what the threads call to convert a decoded frame into a picture and show it.
//
// Pictures reach a display only through its frame list (QueueVideoFrame), which the
// script thread draws; each is an opaque display-format bitmap of the visible part.
#include "media/video_internal.h"
#include "base/lverrors.h"
#include "media/lvaudio.h"
#include "raster/lvbitmap.h"
#include "raster/lvscale.h"
#include "ui/display.h"
#include "ui/display_draw.h"
#include <cmath>
#include <cstring>
#include <new>

namespace {

lvVideoTestHooks testHooks{};
std::atomic<int> endEventSwitch{0};

size_t PictureBytes(int width, int height) { return (size_t)(width + 64) * (size_t)height * 4; }

// The refresh thread reads the records' due times under the picture-queue mutex even
// while the queue is empty, so they change under it too.
void FreePictures(lvVideoPlayer *p)
{
    uint32_t *old[2] = {p->pictures[0].pixels, p->pictures[1].pixels};
    LockMutex(p->pictureMutex);
    for (lvVideoPicture &picture : p->pictures) picture = lvVideoPicture{};
    UnlockMutex(p->pictureMutex);
    FreeMemory(old[0]);
    FreeMemory(old[1]);
}

int AllocVideoPictures(lvVideoPlayer *p)
{
    FreePictures(p);
    uint32_t *fresh[2];
    for (uint32_t *&pixels : fresh) pixels = (uint32_t *)AllocMemory(PictureBytes(p->outWidth, p->outHeight), 1);
    if (!fresh[0] || !fresh[1]) {
        FreeMemory(fresh[0]);
        FreeMemory(fresh[1]);
        return ERR_MEM;
    }
    LockMutex(p->pictureMutex);
    for (int i = 0; i < 2; i++) {
        p->pictures[i].pixels = fresh[i];
        p->pictures[i].rowLength = p->outWidth + 64;
    }
    UnlockMutex(p->pictureMutex);
    return 0;
}

void ResetPlayer(lvVideoPlayer *p)
{
    p->pictureCount = p->readIndex = p->writeIndex = 0;
    p->videoDecodeClock = 0;
    p->shownStamp = 0;
    p->shownOffset = 0;
    ResetPictureTiming(p);
    p->paused = 0;
    p->snapshotRequest = 0;
    p->seekTarget = 0;
    p->seekRequest = 0;
    p->seekState = 0;
    p->audioSeekState = 0;
    p->endOfStream = 0;
    p->ended = 0;
    p->endHandled = 0;
    p->endPosition = 0;
    p->lastShownIndex = 0;
    p->pausedSeek = 0;
    p->storedPosition = 0;
    p->packetDone = 1;
    p->audioPacket = nullptr;
    p->audioRead = p->audioFill = 0;
    p->audioClock = 0;
    p->idleCount = 0;
    p->anyQueued = 0;
    p->videoInFlight = 0;
    p->audioSilent = 0;
    p->serverAck = p->refreshAck = p->decoderAck = 0;
    p->resumeRequest = 0;
}

int ConvertSeekTarget(lvVideoPlayer *p, int ms)
{
    if (p->info.seekUnit == 0) return ms;
    double bytes, seconds;
    if (p->ended.load() && p->info.fileSize >= 0) {
        bytes = (double)p->info.fileSize;
        seconds = p->info.durationMs / 1000.0;
    } else {
        bytes = p->shownPosition.load() < 0 ? 0 : p->shownPosition.load();
        seconds = GetAudioClock(p);
    }
    double target = bytes + (ms - seconds * 1000) / 1000 * p->info.bytesPerSecond;
    return target < 0 ? 0 : target > 2147483647.0 ? 2147483647 : (int)target;
}

void WaitMs(int ms)
{
    timespec t{0, (long)ms * 1000000L};
    nanosleep(&t, nullptr);
}

void DropPendingFrames(lvVideoPlayer *p)
{
    if (p->display) DropVideoFramesOf(p->display, p);
}

// Scales a BGRA32 frame into a picture (nearest or bilinear).
void ScaleInto(const uint32_t *source, int sourceRow, int sw, int sh, uint32_t *target, int targetRow, int tw,
               int th, int smooth)
{
    lvScaleJob job{};
    job.source = (const uint8_t *)source;
    job.target = (uint8_t *)target;
    job.sourceRow = sourceRow;
    job.targetRow = targetRow;
    job.format = PIXFMT_BGRA32;
    job.bytesPerPixel = 4;
    job.sourceWidth = sw;
    job.sourceHeight = sh;
    job.targetWidth = tw;
    job.targetHeight = th;
    job.smooth = smooth;
    ScaleRowsInterpolated(&job);
}

} // namespace

const lvVideoTestHooks *VideoHooks() { return &testHooks; }
void SetVideoTestHooks(const lvVideoTestHooks *hooks) { testHooks = hooks ? *hooks : lvVideoTestHooks{}; }
void SetVideoEndEventSwitch(int on) { endEventSwitch = on != 0; }

int OpenVideoStream(const char *path, const lvVideoStreamOps *ops, int backendKind, const char *adapter,
                    const void *userTags, lvObjectId id, lvVideoPlayer **out)
{
    *out = nullptr;
    if (!ops) {
        ops = GetCdxlVideoOps();
        backendKind = LV_VIDEOBACKEND_CDXL;
    }
    lvVideoStreamInfo info{};
    info.fileSize = -2;
    info.adapter = adapter;
    info.userTags = userTags;
    void *stream = ops->OpenVideo(path, &info);
    if (!stream) return ERR_LOADVIDEO;
    // Sizes a stream states are bounded before its buffers are made.
    if (info.width <= 0 || info.height <= 0 || info.width > 16384 || info.height > 16384 || info.audioChannels < 0 ||
        info.audioChannels > 2 || (info.audioChannels && (info.audioRate <= 0 || info.audioRate > 384000))) {
        ops->CloseVideo(stream);
        return ERR_LOADVIDEO;
    }
    lvVideoPlayer *p = new (std::nothrow) lvVideoPlayer();
    if (!p) {
        ops->CloseVideo(stream);
        return ERR_MEM;
    }
    p->ops = *ops;
    p->stream = stream;
    p->backendKind = backendKind;
    p->info = info;
    p->id = id;
    p->frameWidth = p->outWidth = info.width;
    p->frameHeight = p->outHeight = info.height;
    p->frameDuration = info.frameDuration > 0 && info.frameDuration < 10 ? info.frameDuration : 0;
    p->pendingStart = -1;
    p->channel = -1;
    p->bytesPerFrame = info.audioChannels * 2;
    p->bufferFrames = 2048;
    p->frameBuffer = (uint32_t *)AllocMemory(PictureBytes(info.width, info.height), 1);
    p->audioBuffer = (uint8_t *)AllocMemory(0x40000, 1);
    for (lvPacketQueue *q : {&p->audioQueue, &p->videoQueue}) {
        q->mutex = NewMutex();
        q->signal = NewSignal();
    }
    p->pictureMutex = NewMutex();
    p->pictureSignal = NewSignal();
    p->refreshWake = NewSignal();
    p->refreshReply = NewSignal();
    p->decodeMutex = NewMutex();
    p->outputMutex = NewMutex();
    int code = 0;
    if (!p->frameBuffer || !p->audioBuffer) code = ERR_MEM;
    else if (!p->audioQueue.mutex || !p->videoQueue.mutex || !p->pictureMutex || !p->decodeMutex || !p->outputMutex)
        code = ERR_SEMAPHORE;
    else if (!p->audioQueue.signal || !p->videoQueue.signal || !p->pictureSignal || !p->refreshWake ||
             !p->refreshReply)
        code = ERR_CREATEEVENT;
    if (code) {
        FreeVideoPlayer(p);
        return code;
    }
    p->rowLengths[0] = info.width * 4;
    *out = p;
    return 0;
}

const lvVideoStreamInfo *GetVideoStreamInfo(const lvVideoPlayer *p) { return &p->info; }

void FreeVideoPlayer(lvVideoPlayer *p)
{
    if (!p) return;
    StopVideoPlayer(p);
    if (p->stream) p->ops.CloseVideo(p->stream);
    for (lvPacketQueue *q : {&p->audioQueue, &p->videoQueue}) {
        FreeMutex(q->mutex);
        CloseSignal(q->signal);
    }
    FreeMutex(p->pictureMutex);
    CloseSignal(p->pictureSignal);
    CloseSignal(p->refreshWake);
    CloseSignal(p->refreshReply);
    FreeMutex(p->decodeMutex);
    FreeMutex(p->outputMutex);
    FreeMemory(p->frameBuffer);
    FreeMemory(p->scaleBuffer);
    FreeMemory(p->pausePicture);
    FreeMemory(p->savedPicture);
    FreeMemory(p->audioBuffer);
    delete p;
}

int StartVideoThreads(lvVideoPlayer *p, lvDisplay *display, int x, int y, int width, int height, int channel,
                      int sound)
{
    if (p->playing) return 0;
    if (width <= 0 || height <= 0 || width > 16384 || height > 16384) return ERR_WRONGUSAGE;
    p->display = display;
    p->outX = x, p->outY = y;
    p->outWidth = width, p->outHeight = height;
    p->askedChannel = channel;
    ResetPlayer(p);
    p->hasSound = 0;
    int code = 0;
    if (p->info.audioChannels > 0 && sound != LV_VIDEOSOUND_NONE) {
        code = OpenAudioDevice(nullptr);
        if (!code) code = AllocVideoChannel(p, channel);
        // Without a device the video keeps its own clock, unless sound was insisted on.
        if (code && sound == LV_VIDEOSOUND_QUIET) code = 0;
        else if (!code) p->hasSound = 1;
    }
    if (!code && p->pendingStart >= 0) {
        if (p->ops.SeekVideo(p->stream, ConvertSeekTarget(p, p->pendingStart), p->info.seekUnit) != 0)
            code = ERR_SEEKRANGE;
        else p->pendingStart = -1;
    }
    if (!code) code = AllocVideoPictures(p);
    p->frameTimer = VideoNow();
    if (!code) code = StartPlayerThreads(p);
    if (code) {
        p->playing = 1;
        StopVideoPlayer(p);
        return code;
    }
    if (p->hasSound) StartVideoChannel(p);
    p->playing = 1;
    return 0;
}

void StopVideoPlayer(lvVideoPlayer *p)
{
    if (!p || !p->playing) return;
    StopPlayerThreads(p);
    if (p->hasSound) ReleaseVideoSound(p);
    FlushPacketQueue(p, &p->audioQueue);
    FlushPacketQueue(p, &p->videoQueue);
    DropPendingFrames(p);
    FreePictures(p);
    p->playing = 0;
    p->hasSound = 0;
    p->ended = 0;
    p->paused = 0;
}

int GetVideoPlayerState(lvVideoPlayer *p)
{
    if (!p->playing) return 0;
    if (p->ended.load()) return 4;
    if (p->paused.load()) return 2;
    return 1;
}

int GetVideoThreadCount(lvVideoPlayer *p)
{
    return !!p->server + !!p->decoder + !!p->refresh + !!p->audioServer;
}

void PauseVideoPlayer(lvVideoPlayer *p)
{
    if (!p->playing || p->paused.load() || p->ended.load()) return;
    if (!p->pausePicture) {
        p->pausePicture = (uint32_t *)AllocMemory(PictureBytes(p->frameWidth, p->frameHeight), 1);
        if (!p->pausePicture) return;
    }
    p->pausedSeek = 0;
    p->serverAck = p->refreshAck = p->decoderAck = 0;
    p->snapshotRequest = 1;
    while (!(p->serverAck.load() && p->refreshAck.load() && p->decoderAck.load())) WaitMs(10);
    DropPendingFrames(p);
}

void ResumeVideoPlayer(lvVideoPlayer *p)
{
    if (!p->playing || !p->paused.load()) return;
    double now = VideoNow();
    p->frameTimer = p->frameTimer.load() + (p->shownOffset.load() + now - p->shownStamp.load());
    p->pausedSeek = 0;
    p->resumeRequest = 1;
    p->shownOffset = p->shownStamp.load() - now;
    p->paused = 0;
    if (p->hasSound) RaiseVideoAudioRefill(p);
    while (p->resumeRequest.load() && p->server) WaitMs(10);
}

int GetVideoPlayerPosition(lvVideoPlayer *p)
{
    if (!p->playing) return p->storedPosition;
    if (p->paused.load() && p->pausedSeek) return p->pausedSeekPosition;
    if (p->ended.load()) return p->endPosition.load();
    return (int)(GetAudioClock(p) * 1000);
}

// Seeks now from the script thread: decodes the first picture at the target and shows it.
static int SeekFrozen(lvVideoPlayer *p, int ms)
{
    p->ops.SeekVideo(p->stream, ConvertSeekTarget(p, ms), p->info.seekUnit);
    p->ops.FlushVideo(p->stream);
    if (p->info.audioChannels > 0) p->ops.FlushAudio(p->stream);
    lvVideoPicture *picture = &p->pictures[p->lastShownIndex];
    for (;;) {
        lvVideoPacketInfo info{};
        int r = p->ops.NextPacket(p->stream, &info);
        if (r == -1) break;
        if (r < 0 || !info.packet) continue;
        if (info.audio) {
            p->ops.FreePacket(info.packet);
            continue;
        }
        if (p->info.pixelOutput == 1) p->planes[0] = p->frameBuffer;
        lvVideoDecodeRequest request{};
        request.planes = p->planes;
        request.rowLengths = p->rowLengths;
        int decoded = p->ops.DecodeVideoFrame(p->stream, info.packet, &request);
        p->ops.FreePacket(info.packet);
        if (decoded != 0) continue;
        ConvertVideoPicture(p, picture);
        picture->timeStamp = request.presentationTime >= 0 ? request.presentationTime : request.packetTime;
        picture->position = request.position;
        LockMutex(p->outputMutex);
        DrawVideoFrame(p, picture, 0);
        UnlockMutex(p->outputMutex);
        break;
    }
    if (p->paused.load()) {
        CopyFrameToPause(p);
        p->pausedSeek = 1;
        p->pausedSeekPosition = ms;
    } else if (p->ended.load()) {
        if (!p->savedPicture) p->savedPicture = (uint32_t *)AllocMemory(PictureBytes(p->outWidth, p->outHeight), 0);
        if (p->savedPicture) memcpy(p->savedPicture, picture->pixels, PictureBytes(p->outWidth, p->outHeight));
        p->endPosition = ms;
        p->pendingStart = ms;
    }
    return 0;
}

int SeekVideoPlayer(lvVideoPlayer *p, int ms)
{
    if (!p->playing) {
        p->pendingStart = ms;
        p->storedPosition = ms;
        return 0;
    }
    if (p->paused.load() || p->ended.load()) return SeekFrozen(p, ms);
    while (!((p->seekState.load() == 0 && p->audioSeekState.load() == 0 && p->idleCount.load() >= 10) ||
             p->endOfStream.load()))
        WaitMs(10);
    p->seekTarget = ConvertSeekTarget(p, ms);
    p->seekState = 1;
    if (p->hasSound) p->audioSeekState = 1;
    p->seekRequest = 1;
    DropPendingFrames(p);
    return 0;
}

int SetVideoGeometry(lvVideoPlayer *p, int x, int y, int width, int height, int smooth)
{
    if (width <= 0 || height <= 0 || width > 16384 || height > 16384) return ERR_WRONGUSAGE;
    p->smooth = smooth;
    if (!p->playing || (width == p->outWidth && height == p->outHeight)) {
        LockMutex(p->outputMutex);
        p->outX = x, p->outY = y;
        if (!p->playing) p->outWidth = width, p->outHeight = height;
        UnlockMutex(p->outputMutex);
        DropPendingFrames(p);
        return 0;
    }
    bool running = !p->paused.load() && !p->ended.load();
    if (running) {
        LockMutex(p->decodeMutex);
        RaiseSignal(p->refreshWake);
        // The refresh thread flushes the queue and replies within one of its waits.
        while (!WaitSignalTimeout(p->refreshReply, 10) && p->refresh) {
        }
    } else if (p->ended.load() && !p->savedPicture) {
        p->savedPicture = (uint32_t *)AllocMemory(PictureBytes(p->outWidth, p->outHeight), 0);
        if (p->savedPicture)
            memcpy(p->savedPicture, p->pictures[p->lastShownIndex].pixels, PictureBytes(p->outWidth, p->outHeight));
    }
    int oldWidth = p->outWidth, oldHeight = p->outHeight;
    LockMutex(p->outputMutex);
    p->outX = x, p->outY = y;
    p->outWidth = width, p->outHeight = height;
    int code = AllocVideoPictures(p);
    UnlockMutex(p->outputMutex);
    if (!code && !running) {
        // The frozen frame: the pause picture (frame size) or the saved one (old output size).
        const uint32_t *frozen = p->paused.load() ? p->pausePicture : p->savedPicture;
        int fw = p->paused.load() ? p->frameWidth : oldWidth, fh = p->paused.load() ? p->frameHeight : oldHeight;
        lvVideoPicture *picture = &p->pictures[p->lastShownIndex];
        if (frozen) {
            if (fw == width && fh == height) memcpy(picture->pixels, frozen, PictureBytes(width, height));
            else ScaleInto(frozen, fw + 64, fw, fh, picture->pixels, width + 64, width, height, smooth);
            picture->rowLength = width + 64;
            if (p->ended.load()) {
                FreeMemory(p->savedPicture);
                p->savedPicture = (uint32_t *)AllocMemory(PictureBytes(width, height), 0);
                if (p->savedPicture) memcpy(p->savedPicture, picture->pixels, PictureBytes(width, height));
            }
            LockMutex(p->outputMutex);
            DrawVideoFrame(p, picture, 0);
            UnlockMutex(p->outputMutex);
        }
    }
    if (running) UnlockMutex(p->decodeMutex);
    DropPendingFrames(p);
    return code;
}

// ---- Pictures -------------------------------------------------------------------------

lvYuvConversion PlayerYuvRequest(lvVideoPlayer *p, void *destination, int rowLength)
{
    lvYuvConversion q{};
    q.planes = (const uint8_t *const *)p->planes;
    q.rowLengths = p->rowLengths;
    q.sourceWidth = p->frameWidth, q.sourceHeight = p->frameHeight;
    q.destination = destination;
    q.destRowLength = rowLength;
    q.pixelFormat = PIXFMT_BGRA32;
    q.bytesPerPixel = 4;
    return q;
}

void ConvertVideoPicture(lvVideoPlayer *p, lvVideoPicture *picture)
{
    const int fw = p->frameWidth, fh = p->frameHeight, ow = p->outWidth, oh = p->outHeight;
    if (p->info.pixelOutput == 1) {
        int sourceRow = p->rowLengths[0] / 4;
        if (sourceRow < fw || sourceRow > fw + 64) sourceRow = fw; // a row length beyond the buffer is not trusted
        if (fw == ow && fh == oh) {
            // No copy: the picture takes the decoded frame and lends its buffer back.
            uint32_t *swap = picture->pixels;
            picture->pixels = p->frameBuffer;
            p->frameBuffer = swap;
            picture->rowLength = sourceRow;
        } else {
            ScaleInto(p->frameBuffer, sourceRow, fw, fh, picture->pixels, ow + 64, ow, oh, p->smooth);
            picture->rowLength = ow + 64;
        }
        return;
    }
    if (!p->planes[0] || !p->planes[1] || !p->planes[2]) return;
    if (fw == ow && fh == oh) {
        lvYuvConversion q = PlayerYuvRequest(p, picture->pixels, ow + 64);
        ConvertYuv420(&q);
    } else if (!p->smooth) {
        lvYuvConversion q = PlayerYuvRequest(p, picture->pixels, ow + 64);
        q.destWidth = ow, q.destHeight = oh;
        ConvertYuv420Scaled(&q);
    } else {
        if (!p->scaleBuffer) p->scaleBuffer = (uint32_t *)AllocMemory((size_t)fw * fh * 4, 0);
        if (!p->scaleBuffer) return;
        lvYuvConversion q = PlayerYuvRequest(p, p->scaleBuffer, fw);
        ConvertYuv420(&q);
        ScaleInto(p->scaleBuffer, fw, fw, fh, picture->pixels, ow + 64, ow, oh, 1);
    }
    picture->rowLength = ow + 64;
}

void CopyFrameToPause(lvVideoPlayer *p)
{
    if (!p->pausePicture) return;
    const int fw = p->frameWidth, fh = p->frameHeight;
    // The last decoded frame: with an unscaled 32-bit stream it went to the last queued
    // picture, else it is still in the frame buffer.
    const uint32_t *source = p->frameBuffer;
    int row = p->rowLengths[0] / 4;
    if (p->info.pixelOutput == 1 && fw == p->outWidth && fh == p->outHeight) {
        if (!p->anyQueued.load()) return;
        LockMutex(p->pictureMutex);
        const lvVideoPicture &last = p->pictures[p->writeIndex ^ 1];
        source = last.pixels;
        row = last.rowLength;
        UnlockMutex(p->pictureMutex);
    } else if (p->info.pixelOutput != 1) {
        lvYuvConversion q = PlayerYuvRequest(p, p->pausePicture, fw + 64);
        if (p->planes[0] && p->planes[1] && p->planes[2]) ConvertYuv420(&q);
        return;
    }
    if (row < fw || row > fw + 64) row = fw;
    for (int y = 0; y < fh; y++)
        memcpy(p->pausePicture + (size_t)y * (fw + 64), source + (size_t)y * row, (size_t)fw * 4);
}

void DrawVideoFrame(lvVideoPlayer *p, const lvVideoPicture *picture, int queue)
{
    if (testHooks.frameSink)
        testHooks.frameSink(testHooks.user, p, picture->pixels, picture->rowLength, p->outWidth, p->outHeight,
                            picture->timeStamp, picture->position, GetAudioClock(p));
    lvDisplay *d = p->display;
    if (!d) return;
    int dw = d->scaleWidth > 0 ? d->scaleWidth : d->width, dh = d->scaleHeight > 0 ? d->scaleHeight : d->height;
    int x0 = p->outX < 0 ? 0 : p->outX, y0 = p->outY < 0 ? 0 : p->outY;
    int x1 = p->outX + p->outWidth < dw ? p->outX + p->outWidth : dw;
    int y1 = p->outY + p->outHeight < dh ? p->outY + p->outHeight : dh;
    if (x1 <= x0 || y1 <= y0) return;
    int w = x1 - x0, h = y1 - y0, sx = x0 - p->outX, sy = y0 - p->outY;
    lvBitMapHandle *bitmap = AllocRgbBitmap(w, h, 0, nullptr);
    if (!bitmap) return;
    {
        lvScopedLock lock(bitmap, 0);
        if (!lock) {
            FreeBitmapHandle(bitmap);
            return;
        }
        const lvBitMapLock &l = lock.lock;
        for (int y = 0; y < h; y++) {
            const uint32_t *src = picture->pixels + (size_t)(sy + y) * picture->rowLength + sx;
            uint8_t *dst = l.pixels + (size_t)y * l.rowLength * l.bytesPerPixel;
            for (int x = 0; x < w; x++) {
                // Pictures are opaque whatever alpha the stream left.
                uint32_t argb = Pixel32ToArgb(PIXFMT_BGRA32, src[x]) | 0xFF000000u;
                if (l.bytesPerPixel == 4) {
                    uint32_t v = ArgbToPixel(argb, l.format, 1);
                    memcpy(dst + (size_t)x * 4, &v, 4);
                } else if (l.bytesPerPixel == 2) {
                    uint16_t v = (uint16_t)ArgbToPixel(argb, l.format, 0);
                    memcpy(dst + (size_t)x * 2, &v, 2);
                } else if (l.bytesPerPixel == 3) {
                    uint8_t *o = dst + (size_t)x * 3;
                    uint8_t r = (uint8_t)(argb >> 16), g = (uint8_t)(argb >> 8), b = (uint8_t)argb;
                    if (l.format == PIXFMT_RGB24) o[0] = r, o[1] = g, o[2] = b;
                    else o[0] = b, o[1] = g, o[2] = r;
                }
            }
        }
    }
    (void)queue;
    if (QueueVideoFrame(d, p, bitmap, x0, y0, w, h) != 0) FreeBitmapHandle(bitmap);
}

void ReportVideoEnd(lvVideoPlayer *p)
{
    if (endEventSwitch.load())
        PostSystemEvent(SYSEVENT_VIDEOEND, (uintptr_t)p->id.number, (uintptr_t)p->id.handle, 0, 0, 0, 1);
}

// videothreads.cpp - the threads of a playing video and their packet queues: the decoder
// reads packets ahead (bounded by bytes), the video server decodes and converts pictures
// into the queue of two, the refresh thread shows each at its due time, the audio server
// keeps the sound output filled (videosound.cpp).
//
// Every wait sees the stop request: queue waits through WaitSignalUnlocked, sleeps and
// signal waits in steps of at most 10 ms. Flags between the threads are atomics; each is
// written by one side and polled by the other.
#include "media/video_internal.h"
#include "base/lverrors.h"
#include <cmath>
#include <ctime>

namespace {

constexpr int64_t kAudioReadAhead = 81920;
constexpr int64_t kVideoReadAhead = 0x140000;

void RefreshWait(lvVideoPlayer *p, lvThread *thread, int ms);

// ---- Decoder ------------------------------------------------------------------------

void VideoDecoderThread(lvThread *thread)
{
    EnterThread(thread);
    lvVideoPlayer *p = (lvVideoPlayer *)thread->userData;
    SignalThreadStarted(thread);
    while (!CheckThreadStop(thread)) {
        if (p->seekRequest.load() && !p->paused.load()) {
            p->ops.SeekVideo(p->stream, p->seekTarget.load(), p->info.seekUnit);
            if (p->info.audioChannels > 0) {
                FlushPacketQueue(p, &p->audioQueue);
                if (p->hasSound) PushPacket(&p->audioQueue, nullptr, 0, -1);
            }
            FlushPacketQueue(p, &p->videoQueue);
            PushPacket(&p->videoQueue, nullptr, 0, -1);
            p->seekRequest = 0;
            p->endOfStream = 0;
        }
        bool eos = p->endOfStream.load();
        if (p->audioQueue.fill.load() > kAudioReadAhead || p->videoQueue.fill.load() > kVideoReadAhead || eos ||
            p->paused.load()) {
            for (lvPacketQueue *q : {&p->videoQueue, &p->audioQueue}) {
                LockMutex(q->mutex);
                if (eos) q->finished = 1;
                RaiseSignal(q->signal);
                UnlockMutex(q->mutex);
            }
            if (p->paused.load()) p->decoderAck = 1;
            SleepForStop(thread, 10);
            continue;
        }
        lvVideoPacketInfo info{};
        int r = p->ops.NextPacket(p->stream, &info);
        if (r == -1) {
            p->endOfStream = 1;
        } else if (r == 0 && info.packet) {
            if (!info.audio) PushPacket(&p->videoQueue, info.packet, info.size, info.timeStamp);
            else if (p->hasSound) PushPacket(&p->audioQueue, info.packet, info.size, info.timeStamp);
            else p->ops.FreePacket(info.packet); // a silent video's sound is not kept
        }
    }
    EndThread(thread, 0, 0);
}

// ---- Video server -------------------------------------------------------------------

// Returns -1 when the stop request came while it waited for room.
int QueueVideoPicture(lvThread *thread, lvVideoPlayer *p, double stamp, int position)
{
    LockMutex(p->pictureMutex);
    while (p->pictureCount == 2) {
        if (!p->handling.load()) p->lateness = std::fmax(p->lateness.load() * 0.95, 0.95);
        if (WaitSignalUnlocked(p->pictureSignal, p->pictureMutex, thread) < 0) {
            UnlockMutex(p->pictureMutex);
            return -1;
        }
    }
    lvVideoPicture *picture = &p->pictures[p->writeIndex];
    UnlockMutex(p->pictureMutex);
    ConvertVideoPicture(p, picture);
    if (p->snapshotRequest.load()) {
        CopyFrameToPause(p);
        p->snapshotRequest = 0;
        p->paused = 1;
    }
    picture->timeStamp = stamp;
    picture->position = position;
    double delay = stamp - p->lastQueuedStamp;
    if (!(delay > 0 && delay < 10)) delay = p->lastDelay;
    else p->lastDelay = delay;
    p->lastQueuedStamp = stamp;
    if (p->hasSound) {
        double diff = GetVideoClock(p) - GetAudioClock(p);
        if (std::fabs(diff) < 10) {
            double threshold = std::fmax(delay, 0.01);
            if (diff <= -threshold) delay = 0;
            else if (diff >= threshold) delay = 2 * delay;
        }
    }
    p->frameTimer = p->frameTimer.load() + delay;
    LockMutex(p->pictureMutex);
    picture->due = VideoHooks()->freeRun ? 0 : p->frameTimer.load();
    p->writeIndex ^= 1;
    p->pictureCount++;
    p->anyQueued = 1;
    RaiseSignal(p->pictureSignal);
    UnlockMutex(p->pictureMutex);
    int two = 2;
    p->seekState.compare_exchange_strong(two, 3);
    return 0;
}

void VideoServerThread(lvThread *thread)
{
    EnterThread(thread);
    lvVideoPlayer *p = (lvVideoPlayer *)thread->userData;
    SignalThreadStarted(thread);
    for (;;) {
        if (p->paused.load()) {
            p->serverAck = 1;
            if (CheckThreadStop(thread)) break;
            SleepForStop(thread, 10);
            continue;
        }
        p->resumeRequest = 0;
        lvPacketNode *node = nullptr;
        int r = PopPacket(thread, &p->videoQueue, &node, 0, p);
        if (r < 0) break;
        if (r == 0) continue; // a pause taken at the end of the stream
        if (!node->packet) {
            p->ops.FlushVideo(p->stream);
            LockMutex(p->pictureMutex);
            p->pictures[0].due = p->pictures[1].due = 0;
            bool stopped = false;
            while (p->pictureCount > 0 && !stopped)
                stopped = WaitSignalUnlocked(p->pictureSignal, p->pictureMutex, thread) < 0;
            UnlockMutex(p->pictureMutex);
            FreeMemory(node);
            p->videoInFlight = 0;
            if (stopped) break;
            ResetPictureTiming(p);
            p->seekState = 2;
            continue;
        }
        if (p->info.pixelOutput == 1) p->planes[0] = p->frameBuffer;
        lvVideoDecodeRequest request{};
        request.planes = p->planes;
        request.rowLengths = p->rowLengths;
        request.packetTime = -1;
        request.presentationTime = -1;
        if (p->ops.DecodeVideoFrame(p->stream, node->packet, &request) != 0) {
            p->ops.FreePacket(node->packet);
            FreeMemory(node);
            p->videoInFlight = 0;
            continue;
        }
        double stamp = request.presentationTime >= 0 ? request.presentationTime
                       : request.packetTime >= 0    ? request.packetTime
                                                    : 0;
        if (!VideoHooks()->freeRun) {
            // While late, about one picture in `lateness` is converted.
            p->skipAccumulator += 1;
            double factor = p->lateness.load();
            if (p->skipAccumulator < factor) {
                p->ops.FreePacket(node->packet);
                FreeMemory(node);
                p->videoInFlight = 0;
                continue;
            }
            p->skipAccumulator -= std::fmax(factor, 1.0);
        }
        LockMutex(p->decodeMutex);
        if (stamp == 0) stamp = p->videoDecodeClock.load();
        else p->videoDecodeClock = stamp;
        p->videoDecodeClock =
            p->videoDecodeClock.load() + p->frameDuration + p->frameDuration * 0.5 * request.repeatCount;
        int stop = QueueVideoPicture(thread, p, stamp, request.position);
        UnlockMutex(p->decodeMutex);
        p->ops.FreePacket(node->packet);
        FreeMemory(node);
        p->videoInFlight = 0;
        if (stop < 0) break;
    }
    EndThread(thread, 0, 0);
}

// ---- Refresh ------------------------------------------------------------------------

// The picture at the read index leaves the queue (shown or dropped).
void DequeuePicture(lvVideoPlayer *p)
{
    LockMutex(p->pictureMutex);
    p->readIndex ^= 1;
    p->pictureCount--;
    RaiseSignal(p->pictureSignal);
    UnlockMutex(p->pictureMutex);
    p->handling = 0;
}

void VideoRefreshThread(lvThread *thread)
{
    EnterThread(thread);
    lvVideoPlayer *p = (lvVideoPlayer *)thread->userData;
    p->lastShownTime = VideoNow();
    SignalThreadStarted(thread);
    const bool freeRun = VideoHooks()->freeRun != 0;
    while (!CheckThreadStop(thread)) {
        LockMutex(p->pictureMutex);
        int count = p->pictureCount, index = p->readIndex;
        lvVideoPicture *picture = &p->pictures[index];
        double due = picture->due, otherDue = p->pictures[index ^ 1].due;
        UnlockMutex(p->pictureMutex);
        if (count > 0) {
            double now = VideoNow();
            if (!freeRun && now < due) {
                int ms = (int)((due - now) * 1000);
                if (ms > 0) RefreshWait(p, thread, ms);
                continue;
            }
            p->handling = 1;
            p->shownStamp = picture->timeStamp;
            p->shownOffset = picture->timeStamp - now;
            p->shownPosition = picture->position;
            int three = 3;
            p->seekState.compare_exchange_strong(three, 0);
            double next = count == 2 ? otherDue : p->videoDecodeClock.load() + due - picture->timeStamp;
            if (!freeRun && next < now) {
                p->lateness = p->lateness.load() * 1.05;
                // At least one picture a second is shown, however late.
                if ((count == 2 || next + 0.5 < now) && (int)(now - p->lastShownTime) < 1) {
                    DequeuePicture(p);
                    continue;
                }
            }
            p->lastShownTime = now;
            LockMutex(p->outputMutex);
            DrawVideoFrame(p, picture, 1);
            UnlockMutex(p->outputMutex);
            p->lastShownIndex = index;
            DequeuePicture(p);
            continue;
        }
        if (p->endOfStream.load() && !p->endHandled.load()) {
            LockMutex(p->videoQueue.mutex);
            bool empty = !p->videoQueue.head && !p->videoInFlight.load();
            UnlockMutex(p->videoQueue.mutex);
            LockMutex(p->audioQueue.mutex);
            empty = empty && !p->audioQueue.head;
            UnlockMutex(p->audioQueue.mutex);
            // The end waits for the sound to be heard out: stopping the channel sooner
            // would cut off what the ring still holds.
            if (empty && !p->videoInFlight.load()) {
                // A picture the server queued just before it let go of its packet.
                LockMutex(p->pictureMutex);
                empty = p->pictureCount == 0;
                UnlockMutex(p->pictureMutex);
            }
            if (empty && (!p->hasSound || IsVideoSoundDrained(p))) {
                // The position of the end: the clock the pictures were shown against.
                p->endPosition = (int)(GetAudioClock(p) * 1000);
                p->ended = 1;
                p->endHandled = 1;
                ReportVideoEnd(p);
            }
        }
        if (p->serverAck.load()) p->refreshAck = 1;
        RefreshWait(p, thread, 1);
    }
    EndThread(thread, 0, 0);
}

// Waits for the wake signal (flushing the picture queue) or the stop request.
void RefreshWait(lvVideoPlayer *p, lvThread *thread, int ms)
{
    while (ms > 0 && !CheckThreadStop(thread)) {
        int step = ms < 10 ? ms : 10;
        if (WaitSignalTimeout(p->refreshWake, step)) {
            LockMutex(p->pictureMutex);
            p->pictureCount = p->readIndex = p->writeIndex = 0;
            RaiseSignal(p->pictureSignal);
            UnlockMutex(p->pictureMutex);
            RaiseSignal(p->refreshReply);
            break;
        }
        ms -= step;
    }
    int idle = p->idleCount.load();
    if (idle < 10) p->idleCount = idle + 1;
}

// ---- Audio server ---------------------------------------------------------------------

void AudioServerThread(lvThread *thread)
{
    EnterThread(thread);
    lvVideoPlayer *p = (lvVideoPlayer *)thread->userData;
    RaiseThreadPriority();
    if (int code = NewVideoAudioOutput(p)) {
        EndThread(thread, 1, code);
        return;
    }
    SignalThreadStarted(thread);
    bool stopped = false;
    while (VideoAudioServerStep(thread, p) >= 0) {
        if (p->ended.load() && !stopped) {
            PauseVideoAudio(p);
            stopped = true;
        }
    }
    if (p->audioPacket) {
        if (p->audioPacket->packet) p->ops.FreePacket(p->audioPacket->packet);
        FreeMemory(p->audioPacket);
        p->audioPacket = nullptr;
    }
    EndThread(thread, 0, 0);
}

} // namespace

void ResetPictureTiming(lvVideoPlayer *p)
{
    p->shownPosition = -1;
    p->lastQueuedStamp = -10000;
    p->lastDelay = 0;
    p->frameTimer = VideoNow();
    p->lateness = 1;
    p->skipAccumulator = 0;
}

double VideoNow()
{
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double)t.tv_sec + t.tv_nsec / 1e9;
}

void SleepForStop(lvThread *thread, int ms)
{
    // The stop signal stays raised once asked, so waiting on it ends at once then.
    if (thread && CheckThreadStop(thread)) return;
    timespec t{0, (long)ms * 1000000L};
    while (nanosleep(&t, &t) != 0) {
    }
}

int PushPacket(lvPacketQueue *q, void *packet, int size, double stamp)
{
    lvPacketNode *node = (lvPacketNode *)AllocMemory(sizeof(lvPacketNode), 1);
    if (!node) return ERR_MEM;
    node->packet = packet;
    node->size = size;
    node->timeStamp = stamp;
    LockMutex(q->mutex);
    if (q->tail) q->tail->next = node;
    else q->head = node;
    q->tail = node;
    q->bytes += size;
    q->fill = q->bytes;
    RaiseSignal(q->signal);
    UnlockMutex(q->mutex);
    return 0;
}

int PopPacket(lvThread *thread, lvPacketQueue *q, lvPacketNode **out, int stopAtEnd, lvVideoPlayer *snapshotOf)
{
    LockMutex(q->mutex);
    for (;;) {
        if (q->head) {
            lvPacketNode *node = q->head;
            // Taken under the lock, so the end is never seen between the pop and the picture.
            if (snapshotOf) snapshotOf->videoInFlight = 1;
            q->head = node->next;
            if (!q->head) q->tail = nullptr;
            q->bytes -= node->size;
            q->fill = q->bytes;
            UnlockMutex(q->mutex);
            node->next = nullptr;
            *out = node;
            return 1;
        }
        if (stopAtEnd && q->finished) {
            UnlockMutex(q->mutex);
            return -2;
        }
        // A pause asked once the stream has ended has no picture left to take its
        // snapshot from: the last decoded one serves.
        if (snapshotOf && q->finished && snapshotOf->snapshotRequest.load()) {
            UnlockMutex(q->mutex);
            CopyFrameToPause(snapshotOf);
            snapshotOf->snapshotRequest = 0;
            snapshotOf->paused = 1;
            return 0;
        }
        if (WaitSignalUnlocked(q->signal, q->mutex, thread) < 0) {
            UnlockMutex(q->mutex);
            return -1;
        }
    }
}

void FlushPacketQueue(lvVideoPlayer *p, lvPacketQueue *q)
{
    LockMutex(q->mutex);
    lvPacketNode *node = q->head;
    q->head = q->tail = nullptr;
    q->bytes = 0;
    q->fill = 0;
    q->finished = 0;
    UnlockMutex(q->mutex);
    while (node) {
        lvPacketNode *next = node->next;
        if (node->packet) p->ops.FreePacket(node->packet);
        FreeMemory(node);
        node = next;
    }
}

double GetVideoClock(lvVideoPlayer *p)
{
    if (p->paused.load()) return p->shownStamp.load();
    return p->shownOffset.load() + VideoNow();
}

double GetAudioClock(lvVideoPlayer *p)
{
    if (!p->hasSound) return GetVideoClock(p);
    // The sample being heard: less what waits in the decoded buffer, the ring and the device.
    return p->audioClock.load() - GetVideoAudioLatency(p);
}

int StartPlayerThreads(lvVideoPlayer *p)
{
    int error = 0;
    p->server = StartThread("lv video server", VideoServerThread, p, nullptr, 200000, 0, 0, &error);
    if (!p->server) return error ? error : ERR_THREAD;
    if (p->hasSound) {
        p->audioServer = StartThread("lv audio server", AudioServerThread, p, nullptr, 200000, 100, 0, &error);
        if (!p->audioServer) return error ? error : ERR_THREAD;
    }
    p->decoder = StartThread("lv video decoder", VideoDecoderThread, p, nullptr, 200000, 0, 0, &error);
    if (!p->decoder) return error ? error : ERR_THREAD;
    p->refresh = StartThread("lv video refresh", VideoRefreshThread, p, nullptr, 0x4000, 0, 0, &error);
    if (!p->refresh) return error ? error : ERR_THREAD;
    return 0;
}

void StopPlayerThreads(lvVideoPlayer *p)
{
    StopThread(p->refresh);
    StopThread(p->decoder);
    StopThread(p->audioServer);
    StopThread(p->server);
    p->refresh = p->decoder = p->audioServer = p->server = nullptr;
}

// musicstream.cpp - the stream server: a music read from a file plays from a double
// buffer of two one-second halves that a server thread per playing music keeps filled,
// so the audio pull only copies memory and never waits on a file or a decoder.
//
// The halves change hands through their ready flags: the server fills a half that is not
// ready and then publishes it; the mixer plays a ready half, and when it runs out hands
// it back and raises the refill signal. Passes are counted by the server as it rewinds
// the source; the pass starts it met are marked in the half, so the mixer knows the pass
// of the frame it plays. A half the server has not refilled in time is not played stale:
// the music waits in silence until it is there (an underrun, counted).
//
// Threads: the server thread exists only while the music is on a channel; the script
// thread touches the source and the buffer only while it is stopped.
#include "media/lvmusic.h"
#include "base/lverrors.h"
#include "platform/lvplatform.h"
#include <atomic>
#include <chrono>
#include <thread>
#include <cstring>
#include <new>

namespace {

enum { kMaxMarks = 16 };

struct lvStreamHalf {
    std::atomic<int> ready{0};   // filled and handed to the mixer
    int64_t frames = 0;          // frames of sound in the half
    int last = 0;                // the stream ends when this half runs out
    int marks = 0;               // pass starts inside the half
    int64_t markAt[kMaxMarks] = {};
    int markPass[kMaxMarks] = {};
};

} // namespace

struct lvStreamBuffer {
    lvSoundSource *source = nullptr;
    uint8_t *data = nullptr;     // 2 x halfFrames frames
    int64_t halfFrames = 0;      // the source's rate: one second
    int bytesPerFrame = 0;
    lvStreamHalf half[2];
    // The server's side.
    int primed = 0;              // half 0 was filled: the buffer holds the stream's state
    int refill = 0;              // the half the server fills next
    int readPass = 1;            // the pass the source is being read for
    int passes = 1;              // 0 or less: until stopped
    int pendingPass = 0;         // a pass that starts with the next half (0: none)
    std::atomic<int> ended{0};   // the last half is written
    lvSignal *signal = nullptr;  // refill
    lvMutex *mutex = nullptr;    // held around the server's wait
    lvThread *thread = nullptr;
    // The mixer's side.
    int playHalf = 0;
    int64_t playPos = 0;
    int nextMark = 0;
    std::atomic<int64_t> underruns{0};
};

namespace {

// The server thread running on this thread, so that a read waiting inside a decoder can
// see the stop request.
thread_local lvThread *currentServer = nullptr;

// Fills half h from the source: rewinds for every pass but the last, marking where each
// new pass starts. A source that gives nothing even just after a rewind ends the stream.
// False when the stop request cut the fill short (the half is not to be played).
bool FillHalf(lvStreamBuffer *b, int h)
{
    lvStreamHalf &half = b->half[h];
    lvSoundSource *s = b->source;
    uint8_t *dst = b->data + (size_t)h * (size_t)b->halfFrames * (size_t)b->bytesPerFrame;
    int64_t got = 0;
    int justRewound = 0;
    half.marks = 0;
    half.last = 0;
    if (b->pendingPass) {
        half.markAt[0] = 0;
        half.markPass[0] = b->pendingPass;
        half.marks = 1;
        b->pendingPass = 0;
    }
    while (got < b->halfFrames) {
        if (StreamServerStopRequested()) return false;
        int ended = 0;
        int64_t n = ReadSoundSource(s, dst + got * b->bytesPerFrame, b->halfFrames - got, &ended);
        // A read cut short by the stop request is no end of the source.
        if (StreamServerStopRequested()) return false;
        if (n > 0) {
            got += n;
            justRewound = 0;
        }
        // A reader that says "ended" short of a known length is read on.
        if (n > 0 && ended && s->totalFrames > 0 && s->position < s->totalFrames) ended = 0;
        if (n > 0 && !ended) continue;
        if ((b->passes > 0 && b->readPass >= b->passes) || justRewound) {
            half.last = 1;
            break;
        }
        b->readPass++;
        SeekSoundSource(s, 0);
        justRewound = 1;
        // More pass starts than marks (a source far shorter than a second): the last
        // mark takes the latest pass.
        if (half.marks < kMaxMarks) half.markAt[half.marks++] = got;
        half.markPass[half.marks - 1] = b->readPass;
    }
    half.frames = got;
    if (half.last) b->ended = 1;
    // A pass that starts right at the half's end starts the next half.
    if (half.marks && half.markAt[half.marks - 1] >= got) b->pendingPass = half.markPass[--half.marks];
    return true;
}

void ServerThread(lvThread *thread)
{
    EnterThread(thread);
    lvStreamBuffer *b = (lvStreamBuffer *)thread->userData;
    currentServer = thread;
    RaiseThreadPriority();
    SignalThreadStarted(thread);
    for (;;) {
        if (CheckThreadStop(thread)) break;
        if (!b->ended && !b->half[b->refill].ready.load(std::memory_order_acquire)) {
            // A fill the stop request cut short puts the source back where the half
            // began, so a resume refills it whole.
            int64_t position = b->source->position;
            int pass = b->readPass, pending = b->pendingPass;
            if (!FillHalf(b, b->refill)) {
                b->readPass = pass;
                b->pendingPass = pending;
                SeekSoundSource(b->source, position);
                break;
            }
            b->half[b->refill].ready.store(1, std::memory_order_release);
            b->refill ^= 1;
            continue;
        }
        LockMutex(b->mutex);
        int woke = WaitSignalUnlocked(b->signal, b->mutex, thread);
        UnlockMutex(b->mutex);
        if (woke < 0) break;
    }
    currentServer = nullptr;
    EndThread(thread, 0, 0);
}

} // namespace

int StreamServerStopRequested() { return currentServer && CheckThreadStop(currentServer); }

void FreeStreamBuffer(lvStreamBuffer *b)
{
    if (!b) return;
    StopStreamServer(b);
    CloseSignal(b->signal);
    FreeMutex(b->mutex);
    FreeMemory(b->data);
    delete b;
}

void ResetStreamBuffer(lvStreamBuffer *b)
{
    if (!b) return;
    for (lvStreamHalf &h : b->half) {
        h.ready.store(0);
        h.frames = 0;
        h.last = 0;
        h.marks = 0;
    }
    b->primed = 0;
    b->refill = 0;
    b->pendingPass = 0;
    b->ended = 0;
    b->playHalf = 0;
    b->playPos = 0;
    b->nextMark = 0;
}

int StartStreamServer(lvStreamBuffer **slot, lvSoundSource *source, int pass, int passes)
{
    lvStreamBuffer *b = *slot;
    // Another source (a subsong opened in its place may even reuse the address) needs a
    // buffer of its own size.
    if (b && (b->source != source || b->halfFrames != source->rate || b->bytesPerFrame != source->bytesPerFrame)) {
        FreeStreamBuffer(b);
        *slot = b = nullptr;
    }
    if (!b) {
        if (source->rate <= 0 || source->bytesPerFrame <= 0) return ERR_WRONGUSAGE;
        b = new (std::nothrow) lvStreamBuffer();
        if (!b) return ERR_MEM;
        b->source = source;
        b->halfFrames = source->rate;
        b->bytesPerFrame = source->bytesPerFrame;
        b->data = (uint8_t *)AllocMemory((size_t)(2 * b->halfFrames * b->bytesPerFrame), 0);
        b->signal = NewSignal();
        b->mutex = NewMutex();
        if (!b->data || !b->signal || !b->mutex) {
            int code = !b->data ? ERR_MEM : !b->signal ? ERR_CREATEEVENT : ERR_SEMAPHORE;
            FreeStreamBuffer(b);
            return code;
        }
        *slot = b;
    }
    StopStreamServer(b);
    if (!b->primed) {
        // The first second is read here, so the music starts on sound; the server
        // fills the other half while it plays.
        ResetStreamBuffer(b);
        b->readPass = pass;
        b->passes = passes;
        FillHalf(b, 0); // the script thread: nothing cuts it short
        b->half[0].ready.store(1, std::memory_order_release);
        b->refill = 1;
        b->primed = 1;
    }
    int error = 0;
    b->thread = StartThread("lv stream", ServerThread, b, nullptr, 0, 0, 0, &error);
    if (!b->thread) return error ? error : ERR_THREAD;
    RaiseSignal(b->signal);
    return 0;
}

void StopStreamServer(lvStreamBuffer *b)
{
    if (!b || !b->thread) return;
    StopThread(b->thread);
    b->thread = nullptr;
}

int TakeStreamFrame(lvStreamBuffer *b, const uint8_t **frame, int *pass)
{
    lvStreamHalf *h = &b->half[b->playHalf];
    if (!h->ready.load(std::memory_order_acquire)) {
        b->underruns.fetch_add(1, std::memory_order_relaxed);
        return 0;
    }
    while (b->playPos >= h->frames) {
        if (h->last) return -1;
        h->ready.store(0, std::memory_order_release);
        b->playHalf ^= 1;
        b->playPos = 0;
        b->nextMark = 0;
        RaiseSignal(b->signal);
        h = &b->half[b->playHalf];
        if (!h->ready.load(std::memory_order_acquire)) {
            b->underruns.fetch_add(1, std::memory_order_relaxed);
            return 0;
        }
    }
    while (b->nextMark < h->marks && h->markAt[b->nextMark] <= b->playPos) *pass = h->markPass[b->nextMark++];
    *frame = b->data + ((size_t)b->playHalf * (size_t)b->halfFrames + (size_t)b->playPos) * (size_t)b->bytesPerFrame;
    b->playPos++;
    return 1;
}

int IsStreamServerRunning(const lvStreamBuffer *b) { return b && b->thread; }

int WaitStreamBufferFilled(lvStreamBuffer *b, int timeoutMs)
{
    int64_t until = MonotonicUs() + (int64_t)timeoutMs * 1000;
    for (;;) {
        if (!b) return 1;
        bool filled = b->ended || (b->half[0].ready.load() && b->half[1].ready.load());
        if (filled) return 1;
        if (MonotonicUs() >= until) return 0;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

int64_t GetStreamUnderruns(const lvStreamBuffer *b) { return b ? b->underruns.load() : 0; }

// video_internal.h - the player record shared by videoplayer.cpp (script-thread
// operations, converting and showing pictures), videothreads.cpp (the worker threads and
// packet queues) and videosound.cpp (the video's sound output).
#pragma once
#include "media/lvvideo.h"
#include "platform/lvplatform.h"
#include <atomic>

struct lvVideoAudioOutput;

struct lvPacketNode {
    lvPacketNode *next;
    void *packet;        // null: a flush marker
    int size;
    double timeStamp;
};

struct lvPacketQueue {
    lvPacketNode *head = nullptr, *tail = nullptr;
    int64_t bytes = 0;               // under the mutex
    std::atomic<int64_t> fill{0};    // bytes, for the decoder's read-ahead check
    lvMutex *mutex = nullptr;
    lvSignal *signal = nullptr;
    int finished = 0;                // under the mutex
};

struct lvVideoPicture {
    uint32_t *pixels;     // (output width + 64) x output height, BGRA32
    int rowLength;        // pixels
    double due;           // monotonic seconds
    double timeStamp;     // stream seconds
    int position;
};

struct lvVideoPlayer {
    // stream
    lvVideoStreamOps ops;
    void *stream;
    int backendKind;
    lvVideoStreamInfo info;
    lvObjectId id;
    lvDisplay *display;
    int outX, outY;                   // under the output mutex
    int frameWidth, frameHeight;
    int outWidth, outHeight;
    int smooth;
    void *planes[3];
    int32_t rowLengths[3];
    // queues
    lvPacketQueue audioQueue, videoQueue;
    // clocks (seconds)
    double frameDuration;
    std::atomic<double> frameTimer{0};
    double lastQueuedStamp;
    double lastDelay;
    std::atomic<double> videoDecodeClock{0};
    std::atomic<double> audioClock{0};
    std::atomic<double> shownStamp{0};
    std::atomic<double> shownOffset{0};
    std::atomic<int> shownPosition{-1};
    double lastShownTime;             // refresh thread
    // picture queue
    lvVideoPicture pictures[2];
    int pictureCount, readIndex, writeIndex; // under pictureMutex
    lvMutex *pictureMutex;
    lvSignal *pictureSignal;
    lvSignal *refreshWake, *refreshReply;
    int lastShownIndex;
    std::atomic<int> anyQueued{0};    // a picture was queued since the start or a seek
    // frame buffer
    uint32_t *frameBuffer;            // (frame width + 64) x frame height
    uint32_t *scaleBuffer;            // frame size, for smoothed YUV
    uint32_t *pausePicture;           // frame size (+64 per row)
    uint32_t *savedPicture;           // an ended video's frozen frame, output size
    // threads
    lvThread *decoder, *server, *refresh, *audioServer;
    std::atomic<int> idleCount{0};
    // flags between the threads
    std::atomic<int> paused{0}, snapshotRequest{0}, serverAck{0}, refreshAck{0}, decoderAck{0};
    std::atomic<int> seekRequest{0}, seekState{0}, audioSeekState{0};
    std::atomic<int> seekTarget{0};
    std::atomic<int> endOfStream{0}, ended{0}, endHandled{0}, resumeRequest{0};
    std::atomic<int> handling{0};
    std::atomic<int> videoInFlight{0}; // the video server holds a packet it took
    std::atomic<double> lateness{1};
    double skipAccumulator;
    std::atomic<int> endPosition{0};
    int pausedSeek, pausedSeekPosition;
    int pendingStart;                 // ms, -1 none
    int storedPosition;
    int playing;                      // script side: threads run
    // sound
    int hasSound;                     // the video's sound plays on a channel
    lvVideoAudioOutput *output;
    int channel;                      // 0-based, -1 none
    int askedChannel;
    int bufferFrames;                 // block of the output in frames
    int bytesPerFrame;
    lvPacketNode *audioPacket;        // audio server
    int packetDone;
    int audioRead, audioFill;         // the decoded-audio buffer
    int audioSilent;                  // it holds silence, not sound
    uint8_t *audioBuffer;             // 0x40000 bytes
    lvMutex *decodeMutex, *outputMutex;
};

// videothreads.cpp
double VideoNow();
// The timing of a fresh run of pictures (a start or a seek).
void ResetPictureTiming(lvVideoPlayer *p);
void SleepForStop(lvThread *thread, int ms); // sleeps, returning early on a stop request
int PushPacket(lvPacketQueue *q, void *packet, int size, double stamp);
// 1 a node (the caller frees it), -1 stop, -2 the queue ended (stopAtEnd).
int PopPacket(lvThread *thread, lvPacketQueue *q, lvPacketNode **node, int stopAtEnd, lvVideoPlayer *snapshotOf);
void FlushPacketQueue(lvVideoPlayer *p, lvPacketQueue *q);
int StartPlayerThreads(lvVideoPlayer *p);
void StopPlayerThreads(lvVideoPlayer *p);
double GetVideoClock(lvVideoPlayer *p);
double GetAudioClock(lvVideoPlayer *p);

// videoplayer.cpp
// A conversion of the player's decoded planes at frame size into BGRA32.
lvYuvConversion PlayerYuvRequest(lvVideoPlayer *p, void *destination, int rowLength);
void ConvertVideoPicture(lvVideoPlayer *p, lvVideoPicture *picture);
void DrawVideoFrame(lvVideoPlayer *p, const lvVideoPicture *picture, int queue);
void CopyFrameToPause(lvVideoPlayer *p);
void ReportVideoEnd(lvVideoPlayer *p);
const lvVideoTestHooks *VideoHooks();

// videosound.cpp
int NewVideoAudioOutput(lvVideoPlayer *p);
int VideoAudioServerStep(lvThread *thread, lvVideoPlayer *p);
void PauseVideoAudio(lvVideoPlayer *p);
void FreeVideoAudioOutput(lvVideoPlayer *p);
int AllocVideoChannel(lvVideoPlayer *p, int channel);
void StartVideoChannel(lvVideoPlayer *p);
void ReleaseVideoSound(lvVideoPlayer *p);
double GetVideoAudioLatency(lvVideoPlayer *p); // seconds queued past the decoder
void RaiseVideoAudioRefill(lvVideoPlayer *p);
// All of the stream's sound has left the ring (1 for a video without sound).
int IsVideoSoundDrained(lvVideoPlayer *p);

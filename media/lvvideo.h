// lvvideo.h - the video player engine: one player per opened video stream; while it plays
// a decoder thread reads packets, a video server decodes and converts pictures into a
// queue of two, a refresh thread shows each at its time against the audio or video
// clock, and, for a video with sound, an audio server keeps its channel's ring filled.
//
// Dependencies: media/videostream.h (streams), media/lvaudio.h (the video's channel),
// ui/display_draw.h (pictures reach a display through its frame list).
// Threads: every operation here runs on the script thread; the worker threads change
// only the player's own fields (cross-thread flags are atomics) and never take the
// channel lock.
#pragma once
#include "media/videostream.h"
#include "runtime/objects.h"
#include <cstdint>

struct lvDisplay;
struct lvVideoPlayer;

// Test seam: free run shows every picture at once and drops none; the frame sink sees
// each picture as it is shown (BGRA32 words, row length in pixels); the sound sink sees
// each block of 16-bit samples handed to the video's channel.
struct lvVideoTestHooks {
    int freeRun;
    void (*frameSink)(void *user, lvVideoPlayer *player, const uint32_t *pixels, int rowLength, int width,
                      int height, double timeStamp, int position, double audioClock);
    void (*soundSink)(void *user, lvVideoPlayer *player, const int16_t *samples, int bytes);
    void *user;
};
void SetVideoTestHooks(const lvVideoTestHooks *hooks); // null: none

// Opens a stream: ops null takes the built-in CDXL reader. 0, ERR_LOADVIDEO, ERR_MEM or
// ERR_SEMAPHORE.
int OpenVideoStream(const char *path, const lvVideoStreamOps *ops, int backendKind, const char *adapter,
                    const void *userTags, lvObjectId id, lvVideoPlayer **out);
void FreeVideoPlayer(lvVideoPlayer *player);
const lvVideoStreamInfo *GetVideoStreamInfo(const lvVideoPlayer *player);

// Sound of a started video: 0 silent on its own clock, 1 through a channel when the
// device opens (silent when it does not), 2 through a channel or the device's error.
enum { LV_VIDEOSOUND_NONE = 0, LV_VIDEOSOUND_QUIET = 1, LV_VIDEOSOUND_FORCE = 2 };
// Starts the threads showing the video at x, y, width x height of display (null: no
// display, only the test sink sees pictures). channel: 0-based, -1 any.
int StartVideoThreads(lvVideoPlayer *player, lvDisplay *display, int x, int y, int width, int height, int channel,
                      int sound);
void StopVideoPlayer(lvVideoPlayer *player);
void PauseVideoPlayer(lvVideoPlayer *player);
void ResumeVideoPlayer(lvVideoPlayer *player);
// 0, ERR_INTERNAL, or ERR_SEEKVIDEO-like failures of the stream (stopped players store).
int SeekVideoPlayer(lvVideoPlayer *player, int ms);
int GetVideoPlayerPosition(lvVideoPlayer *player);
int SetVideoGeometry(lvVideoPlayer *player, int x, int y, int width, int height, int smooth);
// 1 playing, 2 paused, 4 ended, 0 stopped.
int GetVideoPlayerState(lvVideoPlayer *player);
// "onvideoend": the end posts SYSEVENT_VIDEOEND with the video's identifier.
void SetVideoEndEventSwitch(int on);
// The volume (0..64) of a playing video's sound.
void SetVideoAudioVolume(lvVideoPlayer *player, int volume);
// Threads of a playing video (3 without sound, 4 with).
int GetVideoThreadCount(lvVideoPlayer *player);

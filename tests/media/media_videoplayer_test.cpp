// media_videoplayer_test.cpp - the video player engine's threads against the CDXL reader
// and a scripted fake stream: every picture shown once and in order, the sound handed to
// the channel and rendered by the null sink bit for bit, the end, pausing (also right at
// the end of the stream), seeking, geometry, timing of odd time stamps, late pictures.
// The frame sink and sound sink of the test seam record what the engine hands out.
#include "media/lvvideo.h"
#include "cdxl_fixture.h"
#include "media_fixtures.h"
#include "base/lverrors.h"
#include "media/lvaudio.h"
#include "platform/lvplatform.h"
#include "runtime/vfile.h"
#include "tests/ui/headless_displays.h"
#include "ui/display.h"
#include <chrono>
#include <cmath>
#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>
#include <vector>

namespace {

double Now()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

struct Shown {
    double stamp;
    int position;
    double wall;
    int width, height;
    uint32_t first;        // the first pixel, BGRA32
    std::vector<uint32_t> pixels; // width x height, kept when asked
};

struct Recorder {
    std::mutex lock;
    std::vector<Shown> shown;
    std::vector<int16_t> sound;
    std::vector<double> soundWall;
    bool keepPixels = false;
    int stallMs = 0;
};
Recorder *recorder = nullptr;

void FrameSink(void *, lvVideoPlayer *, const uint32_t *pixels, int rowLength, int width, int height, double stamp,
               int position, double)
{
    Shown s{stamp, position, Now(), width, height, pixels[0], {}};
    if (recorder->keepPixels)
        for (int y = 0; y < height; y++) s.pixels.insert(s.pixels.end(), pixels + (size_t)y * rowLength, pixels + (size_t)y * rowLength + width);
    int stall;
    {
        std::lock_guard<std::mutex> g(recorder->lock);
        recorder->shown.push_back(std::move(s));
        stall = recorder->stallMs;
    }
    if (stall) std::this_thread::sleep_for(std::chrono::milliseconds(stall));
}

void SoundSink(void *, lvVideoPlayer *, const int16_t *samples, int bytes)
{
    std::lock_guard<std::mutex> g(recorder->lock);
    recorder->sound.insert(recorder->sound.end(), samples, samples + bytes / 2);
    recorder->soundWall.push_back(Now());
}

// Waits up to seconds for a condition, polling.
bool WaitFor(const std::function<bool()> &condition, double seconds)
{
    double until = Now() + seconds;
    while (!condition()) {
        if (Now() > until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

// ---- A scripted stream ---------------------------------------------------------------
struct FakeScript {
    int width = 8, height = 4;
    int frames = 10;
    int yuv = 0;
    double frameDuration = 0.04;
    std::vector<double> stamps;     // per frame; empty: n x frameDuration
    std::vector<int> repeats;       // per frame
    int rate = 0, channels = 0;     // sound: a sine per frame's duration
    int failSeek = 0;
    int failReadsEvery = 0;         // NextPacket fails (-3) on every n-th call
};
FakeScript script;

struct FakePacket {
    int audio;
    int frame;
    std::vector<int16_t> pcm;
};

struct FakeStream {
    int next = 0;          // next frame
    int soundPending = 0;
    int calls = 0;
    std::vector<uint8_t> y, u, v;
};

double StampOf(int n) { return script.stamps.empty() ? n * script.frameDuration : script.stamps[(size_t)n]; }
uint32_t ColourOf(int n) { return 0x01000000u * (uint32_t)(n + 1) | 0x00102030u; }

void *FakeOpen(const char *, lvVideoStreamInfo *info)
{
    info->width = script.width;
    info->height = script.height;
    info->durationMs = (int)(script.frames * script.frameDuration * 1000);
    info->audioRate = script.rate;
    info->audioChannels = script.channels;
    info->pixelOutput = script.yuv ? 0 : 1;
    info->flags = LVP_VIDEO_CANSEEK;
    info->frameDuration = script.frameDuration;
    return new FakeStream();
}
void FakeClose(void *h) { delete (FakeStream *)h; }
int FakeNext(void *h, lvVideoPacketInfo *info)
{
    FakeStream *s = (FakeStream *)h;
    if (script.failReadsEvery && ++s->calls % script.failReadsEvery == 0) return -3;
    if (s->soundPending) {
        s->soundPending = 0;
        FakePacket *p = new FakePacket{1, s->next - 1, {}};
        int count = (int)std::lround(script.rate * script.frameDuration) * script.channels;
        for (int i = 0; i < count; i++)
            p->pcm.push_back((int16_t)(8000 * std::sin((s->next - 1) * 100 + i * 0.05)));
        info->packet = p;
        info->audio = 1;
        info->size = (int)p->pcm.size() * 2;
        info->timeStamp = StampOf(s->next - 1);
        return 0;
    }
    if (s->next >= script.frames) return -1;
    FakePacket *p = new FakePacket{0, s->next++, {}};
    info->packet = p;
    info->audio = 0;
    info->size = script.width * script.height * 4;
    info->timeStamp = StampOf(p->frame);
    s->soundPending = script.channels > 0;
    return 0;
}
void FakeFree(void *packet) { delete (FakePacket *)packet; }
int FakeDecodeVideo(void *h, void *packet, lvVideoDecodeRequest *q)
{
    FakeStream *s = (FakeStream *)h;
    FakePacket *p = (FakePacket *)packet;
    if (script.yuv) {
        // A grey level per frame, as Y; neutral chroma.
        int cw = (script.width + 1) / 2, ch = (script.height + 1) / 2;
        s->y.assign((size_t)script.width * script.height, (uint8_t)(16 + p->frame * 10));
        s->u.assign((size_t)cw * ch, 128);
        s->v.assign((size_t)cw * ch, 128);
        q->planes[0] = s->y.data(), q->planes[1] = s->u.data(), q->planes[2] = s->v.data();
        q->rowLengths[0] = script.width, q->rowLengths[1] = cw, q->rowLengths[2] = cw;
    } else {
        uint32_t *out = (uint32_t *)q->planes[0];
        for (int i = 0; i < script.width * script.height; i++) out[i] = ColourOf(p->frame);
        q->rowLengths[0] = script.width * 4;
    }
    q->packetTime = StampOf(p->frame);
    q->presentationTime = -1;
    q->repeatCount = script.repeats.empty() ? 0 : script.repeats[(size_t)p->frame];
    q->position = p->frame;
    return 0;
}
void FakeDecodeAudio(void *, void *packet, lvAudioDecodeRequest *q)
{
    FakePacket *p = (FakePacket *)packet;
    memcpy(q->buffer, p->pcm.data(), p->pcm.size() * 2);
    q->written = (int)p->pcm.size() * 2;
    q->done = 1;
}
int FakeSeek(void *h, int32_t ms, int32_t)
{
    if (script.failSeek) return 1;
    FakeStream *s = (FakeStream *)h;
    int frame = (int)(ms / 1000.0 / script.frameDuration + 1e-9);
    s->next = frame < script.frames ? frame : script.frames - 1;
    s->soundPending = 0;
    return 0;
}
void FakeFlush(void *) {}
int FakeFrames(void *) { return script.frames; }
const char *FakeFormat(void *) { return "fake"; }
const lvVideoStreamOps fakeOps = {FakeOpen, FakeClose, FakeNext, FakeFree, FakeDecodeVideo, FakeDecodeAudio,
                                  FakeSeek, FakeFlush, FakeFlush, FakeFrames, FakeFormat};

class VideoPlayer : public testing::Test {
protected:
    Recorder rec;
    lvVideoPlayer *player = nullptr;
    void SetUp() override
    {
        recorder = &rec;
        script = FakeScript{};
        InitSystemEvents();
        Hooks(1);
    }
    void TearDown() override
    {
        FreeVideoPlayer(player);
        CloseAudioDevice();
        SetVideoTestHooks(nullptr);
        SetVideoEndEventSwitch(0);
        FreeSystemEvents();
        recorder = nullptr;
    }
    void Hooks(int freeRun)
    {
        lvVideoTestHooks hooks{freeRun, FrameSink, SoundSink, nullptr};
        SetVideoTestHooks(&hooks);
    }
    int OpenFake()
    {
        return OpenVideoStream("fake", &fakeOps, LV_VIDEOBACKEND_PLUGIN, nullptr, nullptr, lvObjectId{7, nullptr},
                               &player);
    }
    int Start(int sound = LV_VIDEOSOUND_NONE, int width = 0, int height = 0)
    {
        const lvVideoStreamInfo *info = GetVideoStreamInfo(player);
        return StartVideoThreads(player, nullptr, 0, 0, width ? width : info->width, height ? height : info->height,
                                 -1, sound);
    }
    size_t ShownCount()
    {
        std::lock_guard<std::mutex> g(rec.lock);
        return rec.shown.size();
    }
    std::vector<Shown> ShownCopy()
    {
        std::lock_guard<std::mutex> g(rec.lock);
        return rec.shown;
    }
    bool WaitEnded(double seconds) { return WaitFor([&] { return GetVideoPlayerState(player) == 4; }, seconds); }
};

// ---- CDXL with sound, end to end ---------------------------------------------------------

TEST_F(VideoPlayer, CdxlShowsEveryFrameOnceAndHandsItsSoundOverBitForBit)
{
    MediaScratch dir;
    std::string wav = dir.File("out.wav");
    ASSERT_EQ(OpenAudioDevice(("null:" + wav).c_str()), 0);
    SetVideoEndEventSwitch(1);
    rec.keepPixels = true;
    CdxlFixture f;
    f.width = 24, f.height = 6, f.planes = 4, f.palette = std::vector<uint16_t>(16);
    for (int i = 0; i < 16; i++) f.palette[(size_t)i] = (uint16_t)(i * 0x111);
    f.frames = 24, f.audioBytes = 4000, f.chunkSize = 12800; // 12 fps, 48000 Hz
    f.sample = [](int frame, int i) { return (int8_t)((frame * 4000 + i) * 37 >> 3); };
    std::vector<uint8_t> bytes = MakeCdxl(f);
    std::string path = dir.File("clip.cdxl");
    WriteFileBytes(path, bytes);
    ASSERT_EQ(OpenVideoStream(path.c_str(), nullptr, 0, nullptr, nullptr, lvObjectId{42, nullptr}, &player), 0);
    EXPECT_EQ(GetVideoStreamInfo(player)->audioRate, 48000);
    ASSERT_EQ(Start(LV_VIDEOSOUND_FORCE), 0);
    EXPECT_EQ(GetVideoThreadCount(player), 4);
    int kind = 0;
    lvObjectId id{};
    ASSERT_EQ(GetChannelInfo(0, &kind, &id), 0);
    EXPECT_EQ(kind, 50);
    EXPECT_EQ(id.number, 42);
    ASSERT_TRUE(WaitEnded(10));
    EXPECT_NEAR(GetVideoPlayerPosition(player), 2000, 1000.0 / 12 + 25);
    std::vector<Shown> shown = ShownCopy();
    ASSERT_EQ(shown.size(), 24u);
    for (int n = 0; n < 24; n++) {
        EXPECT_DOUBLE_EQ(shown[(size_t)n].stamp, n / 12.0);
        std::vector<uint32_t> want = CdxlReferencePicture(f, n);
        for (uint32_t &w : want) w = __builtin_bswap32(w);
        EXPECT_EQ(shown[(size_t)n].pixels, want) << "frame " << n;
    }
    std::vector<int16_t> expected;
    for (int n = 0; n < 24; n++)
        for (int i = 0; i < 4000; i++) expected.push_back((int16_t)(CdxlSample(f, n, i) * 256));
    {
        std::lock_guard<std::mutex> g(rec.lock);
        EXPECT_EQ(rec.sound, expected);
    }
    // Exactly one end event, with the video's identifier.
    int ends = 0;
    lvSystemEvent event;
    while (GetSystemEvent(&event))
        if (event.type == SYSEVENT_VIDEOEND) {
            ends++;
            EXPECT_EQ((int)event.data1, 42);
        }
    EXPECT_EQ(ends, 1);
    // The rendered file holds the sound on both channels, in one piece.
    StopVideoPlayer(player);
    CloseAudioDevice();
    std::vector<uint8_t> file = ReadFileBytes(wav);
    ASSERT_GT(file.size(), 44u);
    size_t data = 12;
    while (data + 8 <= file.size() && memcmp(&file[data], "data", 4) != 0)
        data += 8 + (file[data + 4] | file[data + 5] << 8 | file[data + 6] << 16 | (size_t)file[data + 7] << 24);
    ASSERT_LT(data + 8, file.size());
    const int16_t *frames = (const int16_t *)(file.data() + data + 8);
    size_t count = (file.size() - data - 8) / 4, start = 0, lead = 0;
    // The sound starts where the first sample that is not 0 lands, less the zeros before it.
    while (lead < expected.size() && expected[lead] == 0) lead++;
    while (start < count && frames[2 * start] == 0 && frames[2 * start + 1] == 0) start++;
    ASSERT_GE(start, lead);
    start -= lead;
    ASSERT_LE(start + expected.size(), count);
    size_t wrong = 0;
    for (size_t i = 0; i < expected.size(); i++)
        wrong += frames[2 * (start + i)] != expected[i] || frames[2 * (start + i) + 1] != expected[i];
    EXPECT_EQ(wrong, 0u);
}

TEST_F(VideoPlayer, NoEndEventWithTheSwitchOffAndNoSoundThreadWithoutSound)
{
    script.frames = 5;
    ASSERT_EQ(OpenFake(), 0);
    ASSERT_EQ(Start(), 0);
    EXPECT_EQ(GetVideoThreadCount(player), 3);
    ASSERT_TRUE(WaitEnded(5));
    lvSystemEvent event;
    int ends = 0;
    while (GetSystemEvent(&event)) ends += event.type == SYSEVENT_VIDEOEND;
    EXPECT_EQ(ends, 0);
    // Without sound the position runs on the video clock, not a clock never advanced.
    EXPECT_NEAR(GetVideoPlayerPosition(player), 160, 40 + 25);
    EXPECT_EQ(ShownCount(), 5u);
}

// ---- Timing --------------------------------------------------------------------------------

TEST_F(VideoPlayer, ZeroStampsAreTimedByTheFrameDurationAndRepeats)
{
    script.frames = 6;
    script.stamps = std::vector<double>(6, 0.0);
    script.repeats = {0, 2, 0, 1, 0, 0};
    ASSERT_EQ(OpenFake(), 0);
    ASSERT_EQ(Start(), 0);
    ASSERT_TRUE(WaitEnded(5));
    std::vector<Shown> shown = ShownCopy();
    ASSERT_EQ(shown.size(), 6u);
    // Each picture lasts its duration plus half a duration per repeat.
    const double expect[] = {0, 0.04, 0.12, 0.16, 0.22, 0.26};
    for (int n = 0; n < 6; n++) EXPECT_NEAR(shown[(size_t)n].stamp, expect[n], 1e-9) << n;
}

TEST_F(VideoPlayer, OutlandishDelaysReuseTheLastOne)
{
    Hooks(0); // paced
    struct Case {
        const char *name;
        std::vector<double> stamps;
    } cases[] = {
        {"a jump of 10 s", {0, 0.05, 0.10, 10.10, 10.15}},
        {"a step back", {0, 0.05, 0.10, 0.02, 0.07}},
        {"a repeated stamp", {0, 0.05, 0.10, 0.10, 0.15}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        rec.shown.clear();
        script.frames = 5;
        script.stamps = c.stamps;
        script.frameDuration = 0.05;
        FreeVideoPlayer(player);
        player = nullptr;
        ASSERT_EQ(OpenFake(), 0);
        ASSERT_EQ(Start(), 0);
        ASSERT_TRUE(WaitEnded(5));
        std::vector<Shown> shown = ShownCopy();
        ASSERT_EQ(shown.size(), 5u);
        // Every gap is one delay of 0.05 s, the odd one included.
        for (int n = 1; n < 5; n++)
            EXPECT_NEAR(shown[(size_t)n].wall - shown[(size_t)n - 1].wall, 0.05, 0.03) << n;
    }
}

TEST_F(VideoPlayer, AStalledSinkDropsPicturesButShowsOneASecond)
{
    Hooks(0);
    script.frames = 75; // 3 s at 25 fps
    ASSERT_EQ(OpenFake(), 0);
    rec.stallMs = 150;
    ASSERT_EQ(Start(), 0);
    ASSERT_TRUE(WaitEnded(10));
    std::vector<Shown> shown = ShownCopy();
    EXPECT_LT(shown.size(), 60u);
    ASSERT_GE(shown.size(), 3u);
    for (size_t i = 1; i < shown.size(); i++) {
        EXPECT_LT(shown[i].wall - shown[i - 1].wall, 1.2) << i;
        EXPECT_GT(shown[i].stamp, shown[i - 1].stamp) << i;
    }
}

// ---- Seeking, pausing, geometry --------------------------------------------------------------

TEST_F(VideoPlayer, SeekingWhilePlayingShowsTheTargetNext)
{
    Hooks(0);
    script.frames = 100;
    ASSERT_EQ(OpenFake(), 0);
    ASSERT_EQ(Start(), 0);
    ASSERT_TRUE(WaitFor([&] { return ShownCount() >= 3; }, 5));
    size_t before = ShownCount();
    ASSERT_EQ(SeekVideoPlayer(player, 3000), 0); // frame 75
    ASSERT_TRUE(WaitFor([&] {
        std::vector<Shown> s = ShownCopy();
        for (size_t i = before; i < s.size(); i++)
            if (s[i].position >= 75) return true;
        return false;
    }, 5));
    std::vector<Shown> shown = ShownCopy();
    size_t first = before;
    while (first < shown.size() && shown[first].position < 75 && shown[first].position < shown[before - 1].position + 3)
        first++;
    ASSERT_LT(first, shown.size());
    EXPECT_EQ(shown[first].position, 75);
    EXPECT_NEAR(GetVideoPlayerPosition(player), 3000, 200);
}

TEST_F(VideoPlayer, SeekingAStoppedVideoStoresTheStart)
{
    script.frames = 50;
    ASSERT_EQ(OpenFake(), 0);
    ASSERT_EQ(SeekVideoPlayer(player, 1000), 0);
    EXPECT_EQ(GetVideoPlayerPosition(player), 1000);
    ASSERT_EQ(Start(), 0);
    ASSERT_TRUE(WaitFor([&] { return ShownCount() >= 1; }, 5));
    EXPECT_EQ(ShownCopy()[0].position, 25);
    StopVideoPlayer(player);
    // A stream that refuses the stored start refuses the start.
    script.failSeek = 1;
    ASSERT_EQ(SeekVideoPlayer(player, 500), 0);
    EXPECT_EQ(Start(), ERR_SEEKRANGE);
    EXPECT_EQ(GetVideoPlayerState(player), 0);
    EXPECT_EQ(GetVideoThreadCount(player), 0);
}

TEST_F(VideoPlayer, PauseReturnsPromptlyWhilePlayingAndRightAfterTheEnd)
{
    Hooks(0);
    struct Case {
        const char *name;
        int frames;
        int waitShown;
    } cases[] = {{"while playing", 200, 3}, {"after the last packet was read", 6, 1}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        FreeVideoPlayer(player);
        player = nullptr;
        rec.shown.clear();
        script.frames = c.frames;
        script.frameDuration = 0.1;
        ASSERT_EQ(OpenFake(), 0);
        ASSERT_EQ(Start(), 0);
        ASSERT_TRUE(WaitFor([&] { return ShownCount() >= (size_t)c.waitShown; }, 5));
        double t0 = Now();
        PauseVideoPlayer(player);
        EXPECT_LT(Now() - t0, 0.35); // up to two queued pictures of 0.1 s are shown first
        EXPECT_EQ(GetVideoPlayerState(player), 2);
        size_t shown = ShownCount();
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        EXPECT_EQ(ShownCount(), shown) << "pictures while paused";
        ResumeVideoPlayer(player);
        EXPECT_TRUE(WaitFor([&] { return ShownCount() > shown || GetVideoPlayerState(player) == 4; }, 5));
    }
}

TEST_F(VideoPlayer, SilenceWhilePaused)
{
    MediaScratch dir;
    ASSERT_EQ(OpenAudioDevice(("null:" + dir.File("p.wav")).c_str()), 0);
    Hooks(0);
    script.frames = 200;
    script.rate = 48000, script.channels = 1;
    ASSERT_EQ(OpenFake(), 0);
    ASSERT_EQ(Start(LV_VIDEOSOUND_FORCE), 0);
    ASSERT_TRUE(WaitFor([&] { return ShownCount() >= 3; }, 5));
    PauseVideoPlayer(player);
    size_t sound;
    {
        std::lock_guard<std::mutex> g(rec.lock);
        sound = rec.sound.size();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    {
        std::lock_guard<std::mutex> g(rec.lock);
        EXPECT_EQ(rec.sound.size(), sound);
    }
    ResumeVideoPlayer(player);
    EXPECT_TRUE(WaitFor([&] {
        std::lock_guard<std::mutex> g(rec.lock);
        return rec.sound.size() > sound;
    }, 5));
}

TEST_F(VideoPlayer, GeometryChangesWhilePlayingPausedAndEnded)
{
    Hooks(0);
    script.frames = 40;
    script.yuv = 1;
    ASSERT_EQ(OpenFake(), 0);
    ASSERT_EQ(Start(), 0);
    ASSERT_TRUE(WaitFor([&] { return ShownCount() >= 2; }, 5));
    ASSERT_EQ(SetVideoGeometry(player, 0, 0, 16, 8, 0), 0);
    ASSERT_TRUE(WaitFor([&] { return ShownCopy().back().width == 16; }, 5));
    PauseVideoPlayer(player);
    size_t n = ShownCount();
    ASSERT_EQ(SetVideoGeometry(player, 0, 0, 4, 2, 1), 0);
    ASSERT_GT(ShownCount(), n); // the frozen frame is drawn at the new size
    EXPECT_EQ(ShownCopy().back().width, 4);
    ResumeVideoPlayer(player);
    ASSERT_TRUE(WaitEnded(10));
    n = ShownCount();
    ASSERT_EQ(SetVideoGeometry(player, 0, 0, 12, 6, 0), 0);
    ASSERT_GT(ShownCount(), n);
    Shown last = ShownCopy().back();
    EXPECT_EQ(last.width, 12);
    EXPECT_EQ(last.height, 6);
}

TEST_F(VideoPlayer, FailedReadsAreRetriedAndStopEndsEveryThread)
{
    script.frames = 30;
    script.failReadsEvery = 3;
    ASSERT_EQ(OpenFake(), 0);
    ASSERT_EQ(Start(), 0);
    ASSERT_TRUE(WaitEnded(5));
    EXPECT_EQ(ShownCount(), 30u);
    double t0 = Now();
    StopVideoPlayer(player);
    EXPECT_LT(Now() - t0, 0.2);
    EXPECT_EQ(GetVideoThreadCount(player), 0);
    EXPECT_EQ(GetVideoPlayerState(player), 0);
}

TEST_F(VideoPlayer, StoppingTheChannelStopsTheVideo)
{
    ASSERT_EQ(OpenAudioDevice("manual"), 0);
    script.frames = 100;
    script.rate = 22050, script.channels = 2;
    ASSERT_EQ(OpenFake(), 0);
    ASSERT_EQ(Start(LV_VIDEOSOUND_FORCE), 0);
    int kind = 0;
    lvObjectId id{};
    ASSERT_EQ(GetChannelInfo(0, &kind, &id), 0);
    EXPECT_EQ(kind, 50);
    StopChannelEntry(0);
    EXPECT_EQ(GetVideoPlayerState(player), 0);
    EXPECT_EQ(GetVideoThreadCount(player), 0);
    ASSERT_EQ(GetChannelInfo(0, &kind, &id), 0);
    EXPECT_EQ(kind, 7);
}

// ---- On a display ------------------------------------------------------------------------

class VideoOnDisplay : public HeadlessDisplays {
protected:
    Recorder rec;
    lvVideoPlayer *player = nullptr;
    void SetUp() override
    {
        HeadlessDisplays::SetUp();
        recorder = &rec;
        script = FakeScript{};
        lvVideoTestHooks hooks{1, FrameSink, SoundSink, nullptr};
        SetVideoTestHooks(&hooks);
    }
    void TearDown() override
    {
        FreeVideoPlayer(player);
        SetVideoTestHooks(nullptr);
        recorder = nullptr;
        HeadlessDisplays::TearDown();
    }
};

TEST_F(VideoOnDisplay, PicturesReachTheDisplayClippedAndOpaque)
{
    lvDisplayRequest request;
    InitDisplayRequest(&request);
    request.width = 100;
    request.height = 80;
    request.colour = 0x336699;
    lvDisplay *d = nullptr;
    ASSERT_EQ(CreateDisplayFromRequest(L, 1, 0, &request, &d), 0);
    FreeDisplayRequest(&request);
    ASSERT_EQ(RealizeDisplay(L, d, 0), 0);
    script.frames = 5;
    ASSERT_EQ(OpenVideoStream("fake", &fakeOps, LV_VIDEOBACKEND_PLUGIN, nullptr, nullptr, lvObjectId{3, nullptr},
                              &player), 0);
    ASSERT_EQ(StartVideoThreads(player, d, 95, 78, 8, 4, -1, LV_VIDEOSOUND_NONE), 0);
    ASSERT_TRUE(WaitFor([&] { return GetVideoPlayerState(player) == 4; }, 5));
    presented.clear();
    DrawPendingVideoFrames(L);
    // Only the newest picture was still queued; it is cut to the 5 x 2 pixels inside.
    ASSERT_EQ(presented.size(), 1u);
    EXPECT_EQ(presented[0].x, 95);
    EXPECT_EQ(presented[0].y, 78);
    EXPECT_EQ(presented[0].width, 5);
    EXPECT_EQ(presented[0].height, 2);
    std::vector<uint32_t> frame(100 * 80);
    ASSERT_EQ(WindowOps()->ReadWindowFrame(d->window, frame.data(), 100, 80), 0);
    // The last picture's BGRA32 word 0x05102030 is the colour 0x201005 with alpha 0x30,
    // shown opaque (the window keeps no blend of it with the background).
    EXPECT_EQ(frame[79 * 100 + 99] & 0xFFFFFF, 0x201005u);
    EXPECT_EQ(frame[77 * 100 + 99] & 0xFFFFFF, 0x336699u);
    StopVideoPlayer(player);
}

} // namespace

// media_mixer_test.cpp - the software mixer and the channel table over the manual sink:
// level mappings, bit-exact output at the natural rate, passes and the "time" cut, the
// loop and end events with their times, panning and volume, reserved channels starting
// on one frame, resampling, and the channel limits.
#include "media/lvaudio.h"
#include "base/lverrors.h"
#include "platform/lvplatform.h"
#include "platform/lvplatform_audio.h"
#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <vector>

namespace {

TEST(MediaLevels, VolumeAndPanMappings)
{
    struct {
        int volume, millibels;
    } volumes[] = {{64, 0}, {32, -693}, {1, -4605}, {0, -10000}};
    for (auto &v : volumes) EXPECT_EQ(VolumeToMillibels(v.volume), v.millibels) << v.volume;
    struct {
        int pan, ds;
    } pans[] = {{0, -10000}, {64, -595}, {127, 0}, {128, 0}, {192, 615}, {255, 10000}};
    for (auto &p : pans) EXPECT_EQ(PanToDirectSound(p.pan), p.ds) << p.pan;
    int32_t l, r;
    ComputeVoiceGains(64, 128, &l, &r);
    EXPECT_EQ(l, 65536);
    EXPECT_EQ(r, 65536);
    ComputeVoiceGains(64, 0, &l, &r);
    EXPECT_EQ(l, 65536);
    EXPECT_EQ(r, 0);
}

// A 16-bit mono ramp as a platform sample.
lvSampleBuffer *Ramp16(int frames, int rate, int start = 1, int stride = 3)
{
    uint8_t *d = (uint8_t *)AllocMemory((size_t)frames * 2, 0);
    for (int i = 0; i < frames; i++) {
        int16_t v = (int16_t)(start + i * stride);
        d[2 * i] = (uint8_t)v, d[2 * i + 1] = (uint8_t)((uint16_t)v >> 8);
    }
    lvSampleBuffer *s = nullptr;
    EXPECT_EQ(NewSampleBuffer(d, frames, rate, LV_SMP_S16_MONO, &s), 0);
    return s;
}

struct Event {
    int type;
    uintptr_t id;
    int64_t total;
    int count;
};

class MediaMixer : public testing::Test {
protected:
    void SetUp() override
    {
        InitSystemEvents();
        SetChannelCountSetting(0);
        ASSERT_EQ(OpenAudioDevice("manual"), 0);
        SetSoundEventSwitches("onsampleloop", 1);
        SetSoundEventSwitches("OnSampleEnd", 1);
    }
    void TearDown() override
    {
        StopAllChannels();
        CloseAudioDevice();
        FreeSystemEvents();
        for (lvSampleBuffer *s : samples) DisposeSampleBuffer(s);
    }
    lvSampleBuffer *Keep(lvSampleBuffer *s)
    {
        samples.push_back(s);
        return s;
    }
    // Pulls frames in device periods and services the channels after each, as the
    // event loop would.
    std::vector<int16_t> Pump(int frames)
    {
        std::vector<int16_t> out((size_t)frames * 2);
        for (int done = 0; done < frames; done += LV_AUDIO_PERIOD) {
            int n = std::min(LV_AUDIO_PERIOD, frames - done);
            PumpAudioOutput(GetAudioDevice(), out.data() + 2 * done, n);
            ServiceSoundChannels();
        }
        return out;
    }
    std::vector<Event> Events()
    {
        std::vector<Event> list;
        lvSystemEvent e;
        while (GetSystemEvent(&e)) list.push_back({(int)e.type, e.data1, e.total, e.count});
        return list;
    }
    std::vector<lvSampleBuffer *> samples;
};

TEST_F(MediaMixer, ThreePassesAreBitExactWithLoopAndEndEvents)
{
    lvSampleBuffer *s = Keep(Ramp16(4800, 48000));
    ASSERT_EQ(PlaySampleOnChannel(s, {7, nullptr}, 48000, 64, 128, -1, 3, -1), 0);
    StartReservedChannels();
    std::vector<int16_t> out = Pump(4800 * 3 + 2048);
    for (int f = 0; f < 4800 * 3; f++) {
        int16_t want = (int16_t)(1 + (f % 4800) * 3);
        ASSERT_EQ(out[2 * f], want) << f;
        ASSERT_EQ(out[2 * f + 1], want) << f;
    }
    for (size_t i = 2 * 4800 * 3; i < out.size(); i++) ASSERT_EQ(out[i], 0) << i;
    std::vector<Event> ev = Events();
    ASSERT_EQ(ev.size(), 4u);
    for (int i = 0; i < 3; i++) {
        EXPECT_EQ(ev[i].type, SYSEVENT_SAMPLELOOP);
        EXPECT_EQ(ev[i].count, i + 1);
        EXPECT_EQ(ev[i].total, 100 * i);
        EXPECT_EQ(ev[i].id, 7u);
    }
    EXPECT_EQ(ev[3].type, SYSEVENT_SAMPLEEND);
    EXPECT_EQ(ev[3].count, 3);
    EXPECT_EQ(ev[3].total, 300);
    EXPECT_FALSE(IsSampleOnChannel(s));
}

TEST_F(MediaMixer, TimeOptionCutsTheLastPass)
{
    lvSampleBuffer *s = Keep(Ramp16(4800, 48000));
    struct {
        int timeMs;
        int frames;   // frames of sound
        int endPass;  // the end event's pass
        int64_t endTime;
    } cases[] = {{250, 12000, 3, 250}, {200, 9600, 3, 200}, {50, 2400, 1, 50}};
    for (auto &c : cases) {
        SCOPED_TRACE(c.timeMs);
        ASSERT_EQ(PlaySampleOnChannel(s, {1, nullptr}, 48000, 64, 128, c.timeMs, 1, -1), 0);
        StartReservedChannels();
        std::vector<int16_t> out = Pump(c.frames + 2048);
        for (int f = 0; f < c.frames; f++) ASSERT_EQ(out[2 * f], (int16_t)(1 + (f % 4800) * 3)) << f;
        for (size_t i = 2 * (size_t)c.frames; i < out.size(); i++) ASSERT_EQ(out[i], 0) << i;
        std::vector<Event> ev = Events();
        ASSERT_FALSE(ev.empty());
        EXPECT_EQ(ev.back().type, SYSEVENT_SAMPLEEND);
        EXPECT_EQ(ev.back().count, c.endPass);
        EXPECT_EQ(ev.back().total, c.endTime);
    }
}

TEST_F(MediaMixer, PanningVolumeAndResampling)
{
    lvSampleBuffer *s = Keep(Ramp16(2000, 48000, 1000, 7));
    // Left only: the right channel stays zero.
    ASSERT_EQ(PlaySampleOnChannel(s, {1, nullptr}, 48000, 64, 0, -1, 1, -1), 0);
    StartReservedChannels();
    std::vector<int16_t> out = Pump(2000);
    for (int f = 0; f < 2000; f++) {
        ASSERT_EQ(out[2 * f], 1000 + 7 * f);
        ASSERT_EQ(out[2 * f + 1], 0);
    }
    // Volume 32: scaled by 10^(-693/2000) within one step.
    ASSERT_EQ(PlaySampleOnChannel(s, {1, nullptr}, 48000, 32, 128, -1, 1, -1), 0);
    StartReservedChannels();
    out = Pump(2000);
    double scale = std::pow(10.0, -693 / 2000.0);
    for (int f = 0; f < 2000; f++) ASSERT_NEAR(out[2 * f], (1000 + 7 * f) * scale, 1.0) << f;
    // Half the rate: every second frame lies halfway between two source frames.
    ASSERT_EQ(PlaySampleOnChannel(s, {1, nullptr}, 24000, 64, 128, -1, 1, -1), 0);
    StartReservedChannels();
    out = Pump(3998);
    for (int f = 0; f < 3998; f++) ASSERT_NEAR(out[2 * f], 1000 + 3.5 * f, 0.5) << f;
}

TEST_F(MediaMixer, ReservedChannelsStartOnOneFrame)
{
    lvSampleBuffer *a = Keep(Ramp16(3000, 48000, 100, 1));
    lvSampleBuffer *b = Keep(Ramp16(3000, 48000, 5000, 2));
    ASSERT_EQ(PlaySampleOnChannel(a, {1, nullptr}, 48000, 64, 0, -1, 1, -1), 0);
    Pump(777); // nothing plays while reserved
    ASSERT_EQ(PlaySampleOnChannel(b, {2, nullptr}, 48000, 64, 255, -1, 1, -1), 0);
    StartReservedChannels();
    std::vector<int16_t> out = Pump(3000);
    for (int f = 0; f < 3000; f++) {
        ASSERT_EQ(out[2 * f], 100 + f);
        ASSERT_EQ(out[2 * f + 1], 5000 + 2 * f);
    }
}

TEST_F(MediaMixer, PlayPositionAndPitchChange)
{
    lvSampleBuffer *s = Keep(Ramp16(4800, 48000));
    int ms, pass;
    GetSamplePlayPosition(s, &ms, &pass);
    EXPECT_EQ(ms, -1);
    EXPECT_EQ(pass, -1);
    ASSERT_EQ(PlaySampleOnChannel(s, {1, nullptr}, 48000, 64, 128, -1, 0, -1), 0);
    StartReservedChannels();
    Pump(2048);
    GetSamplePlayPosition(s, &ms, &pass);
    EXPECT_EQ(ms, 2048 * 1000 / 48000);
    EXPECT_EQ(pass, 0);
    Pump(4096); // 6144 frames: 1344 into the second pass
    GetSamplePlayPosition(s, &ms, &pass);
    EXPECT_EQ(ms, 1344 * 1000 / 48000);
    EXPECT_EQ(pass, 1);
    // Twice the pitch: the next frames step two source frames at a time.
    SetSampleAttributesOnChannels(s, 96000, -1, -1, -1);
    std::vector<int16_t> out = Pump(100);
    for (int f = 0; f < 100; f++) ASSERT_EQ(out[2 * f], (int16_t)(1 + (1344 + 2 * f) * 3)) << f;
}

TEST_F(MediaMixer, ChannelLimitsAndShortPasses)
{
    lvSampleBuffer *tiny = Keep(Ramp16(40, 48000)); // under 1 ms per pass
    EXPECT_EQ(PlaySampleOnChannel(tiny, {1, nullptr}, 48000, 64, 128, 100, 1, -1), ERR_WRONGUSAGE);
    EXPECT_EQ(PlaySampleOnChannel(tiny, {1, nullptr}, 48000, 64, 128, -1, 1, 8), ERR_CHANNELRANGE);
    lvSampleBuffer *s = Keep(Ramp16(4800, 48000));
    for (int i = 0; i < 8; i++) ASSERT_EQ(PlaySampleOnChannel(s, {1, nullptr}, 48000, 64, 128, -1, 0, -1), 0);
    StartReservedChannels();
    EXPECT_EQ(FindFreeChannel(), -1);
    EXPECT_EQ(PlaySampleOnChannel(s, {1, nullptr}, 48000, 64, 128, -1, 0, -1), ERR_NOCHANNEL);
    // A given busy channel is taken over.
    EXPECT_EQ(PlaySampleOnChannel(tiny, {9, nullptr}, 48000, 64, 128, -1, 1, 3), 0);
    int kind;
    lvObjectId id;
    ASSERT_EQ(GetChannelInfo(3, &kind, &id), 0);
    EXPECT_EQ(kind, 2);
    EXPECT_EQ(id.number, 9);
    EXPECT_EQ(GetChannelInfo(8, &kind, &id), ERR_CHANNELRANGE);
    StopSampleChannels(s, -1);
    EXPECT_EQ(FindFreeChannel(), 0);
}

} // namespace

// media_stress_test.cpp - play, change, stop and free cycles while the null sink's thread
// mixes: every freed sample's PCM must already have left the mixer (ASan, TSan).
#include "media/lvaudio.h"
#include "platform/lvplatform.h"
#include "platform/lvplatform_audio.h"
#include <gtest/gtest.h>

namespace {

TEST(MediaStress, TenThousandPlayStopFreeCycles)
{
    InitSystemEvents();
    SetChannelCountSetting(4);
    ASSERT_EQ(OpenAudioDevice("null"), 0);
    SetSoundEventSwitches("onsampleloop", 1);
    SetSoundEventSwitches("onsampleend", 1);
    uint64_t before = GetAudioOutputFrames(GetAudioDevice());
    for (int i = 0; i < 10000; i++) {
        int frames = 16 + i % 200;
        uint8_t *d = (uint8_t *)AllocMemory((size_t)frames * 2, 0);
        for (int f = 0; f < frames * 2; f++) d[f] = (uint8_t)(f * 7 + i);
        lvSampleBuffer *s = nullptr;
        ASSERT_EQ(NewSampleBuffer(d, frames, 48000, LV_SMP_S16_MONO, &s), 0);
        ASSERT_EQ(PlaySampleOnChannel(s, {i, nullptr}, 8000 + i % 40000, i % 65, i % 256, -1, i % 3, -1), 0);
        StartReservedChannels();
        if (i % 3 == 0) SetSampleAttributesOnChannels(s, 22050, 40, 10, -1);
        if (i % 7 == 0) ServiceSoundChannels();
        StopSampleChannels(s, -1);
        DisposeSampleBuffer(s);
        lvSystemEvent e;
        while (GetSystemEvent(&e)) {
        }
    }
    // The sink kept running meanwhile: wait (bounded) until it pulled again.
    for (int spin = 0; spin < 200 && GetAudioOutputFrames(GetAudioDevice()) == before; spin++) SleepMilliseconds(5);
    EXPECT_GT(GetAudioOutputFrames(GetAudioDevice()), before);
    CloseAudioDevice();
    FreeSystemEvents();
}

} // namespace

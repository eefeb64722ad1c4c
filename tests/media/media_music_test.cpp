// media_music_test.cpp - the music engine over the manual sink: a WAVE music played with
// passes, paused in the middle of its third pass and resumed (every frame once, in
// order), the end mark turned into one OnMusicEnd and the music stopped by the reaper,
// volume and a 24 kHz music's resampling, seeks, and an untimed module on a channel.
#include "media/lvmusic.h"
#include "base/lverrors.h"
#include "media_fixtures.h"
#include "module_fixture.h"
#include "platform/lvplatform.h"
#include "platform/lvplatform_audio.h"
#include <dirent.h>
#include <fstream>
#include <gtest/gtest.h>
#include <sndfile.h>

namespace {

class MediaMusic : public testing::Test {
protected:
    MediaScratch dir;
    void SetUp() override
    {
        InitSystemEvents();
        InstallMusicEngine();
        ASSERT_EQ(OpenAudioDevice("manual"), 0);
        SetSoundEventSwitches("onmusicend", 1);
    }
    void TearDown() override
    {
        FreeAllMusics();
        StopAllChannels();
        CloseAudioDevice();
        FreeSystemEvents();
    }
    std::vector<int16_t> Pump(int frames)
    {
        std::vector<int16_t> out;
        for (int done = 0; done < frames;) {
            int n = frames - done < 480 ? frames - done : 480;
            std::vector<int16_t> block((size_t)n * 2);
            PumpAudioOutput(GetAudioDevice(), block.data(), n);
            out.insert(out.end(), block.begin(), block.end());
            ServiceSoundChannels();
            done += n;
        }
        return out;
    }
    lvMusic *Open(const std::string &name, const Bytes &bytes, int timed = 0)
    {
        WriteFileBytes(dir.File(name.c_str()), bytes);
        int kind = 0;
        lvSoundSource *source = nullptr;
        lvModulePlayer *player = nullptr;
        lvPluginRecord *decoder = nullptr;
        std::string path = dir.File(name.c_str());
        EXPECT_EQ(OpenMusicSource(path.c_str(), nullptr, nullptr, nullptr, 0, timed, &kind, &source, &player, &decoder), 0);
        lvMusic *m = nullptr;
        EXPECT_EQ(AddMusic(1, false, path.c_str(), kind, source, player, &m), 0);
        return m;
    }
    int MusicEnds()
    {
        int n = 0;
        lvSystemEvent e;
        while (GetSystemEvent(&e)) {
            if (e.type == SYSEVENT_MUSICEND) n++;
        }
        return n;
    }
};

Bytes Ramp(int frames, int rate, int channels, int step = 3)
{
    (void)rate;
    Bytes data;
    for (int i = 0; i < frames; i++)
        for (int c = 0; c < channels; c++) {
            int16_t v = (int16_t)(c ? -(step * i) - 1 : step * i + 1);
            data.push_back((uint8_t)v), data.push_back((uint8_t)(v >> 8));
        }
    return data;
}

// Threads of this process whose name starts with prefix.
int ThreadsNamed(const std::string &prefix)
{
    int n = 0;
    DIR *d = opendir("/proc/self/task");
    if (!d) return -1;
    while (dirent *e = readdir(d)) {
        if (e->d_name[0] == '.') continue;
        std::ifstream comm(std::string("/proc/self/task/") + e->d_name + "/comm");
        std::string name;
        std::getline(comm, name);
        if (name.compare(0, prefix.size(), prefix) == 0) n++;
    }
    closedir(d);
    return n;
}

Bytes Wave(int frames, int rate, int channels)
{
    WavFixture w;
    w.channels = channels;
    w.bits = 16;
    w.rate = rate;
    return MakeWav(w, Ramp(frames, rate, channels));
}

TEST_F(MediaMusic, ThreePassesPausedAndResumedPlayEveryFrameOnce)
{
    lvMusic *m = Open("m.wav", Wave(4800, 48000, 2));
    m->passes = 3;
    ASSERT_EQ(StartMusic(m), 0);
    std::vector<int16_t> a = Pump(12000); // two and a half passes
    StopMusic(m, 1);
    EXPECT_EQ(m->state, LV_MUS_PAUSED);
    EXPECT_EQ(m->currentPass, 3);
    std::vector<int16_t> gap = Pump(2000);
    for (int16_t v : gap) ASSERT_EQ(v, 0);
    ASSERT_EQ(StartMusic(m), 0);
    std::vector<int16_t> b = Pump(4800);
    a.insert(a.end(), b.begin(), b.end());
    for (int f = 0; f < 14400; f++) {
        ASSERT_EQ(a[2 * f], (int16_t)(3 * (f % 4800) + 1)) << f;
        ASSERT_EQ(a[2 * f + 1], (int16_t)(-3 * (f % 4800) - 1)) << f;
    }
    for (size_t i = 2 * 14400; i < a.size(); i++) ASSERT_EQ(a[i], 0) << i;
    EXPECT_EQ(m->state, LV_MUS_STOPPED) << "the reaper stops an ended music";
    EXPECT_EQ(MusicEnds(), 1);
    EXPECT_FALSE(IsMusicOnChannel(&m->play));
}

TEST_F(MediaMusic, VolumeSeekAndResampling)
{
    lvMusic *m = Open("m.wav", Wave(4800, 48000, 2));
    m->volume = 32;
    ASSERT_EQ(StartMusic(m), 0);
    std::vector<int16_t> half = Pump(100);
    int32_t gl, gr;
    ComputeVoiceGains(32, 128, &gl, &gr);
    for (int f = 0; f < 100; f++) ASSERT_EQ(half[2 * f], (int16_t)(((int64_t)(3 * f + 1) * gl) >> 16)) << f;
    StopMusic(m, 0);
    SetMusicVolumeLevel(m, 64);
    EXPECT_EQ(GetMusicDurationMs(m), 100);
    SeekMusicSource(m, 50);
    ASSERT_EQ(StartMusic(m), 0);
    std::vector<int16_t> late = Pump(10);
    EXPECT_EQ(late[0], (int16_t)(3 * 2400 + 1));
    StopMusic(m, 0);

    // 24 kHz: every source frame twice-ish, the odd outputs halfway between neighbours.
    lvMusic *slow = Open("s.wav", Wave(2400, 24000, 1));
    ASSERT_EQ(StartMusic(slow), 0);
    std::vector<int16_t> out = Pump(200);
    for (int f = 0; f < 198; f++) {
        int i = f / 2;
        int16_t expect = f % 2 ? (int16_t)(3 * i + 1 + 1) : (int16_t)(3 * i + 1);
        ASSERT_NEAR(out[2 * f], expect, 1) << f;
    }
}

TEST_F(MediaMusic, UntimedModuleOnAChannelLoops)
{
    ModFixture f;
    ModSample s;
    s.data.assign(32, 40);
    s.loopLengthBytes = 32;
    f.samples.push_back(s);
    f.At(0, 0, 0) = {428, 1, 0, 0};
    lvMusic *m = Open("song.mod", MakeModule(f));
    EXPECT_EQ(m->kind, LV_MUSIC_MODULE);
    EXPECT_EQ(GetMusicDurationMs(m), -1);
    ASSERT_EQ(StartMusic(m), 0);
    Pump(368640 + 48000); // past the song's end: it loops
    EXPECT_EQ(m->state, LV_MUS_PLAYING);
    EXPECT_EQ(m->player->songPosition.load(), 0);
    EXPECT_EQ(MusicEnds(), 0);
    EXPECT_TRUE(IsLastMusicModule());
    // StopChannel on the music's channel stops the music itself.
    int kind = 0;
    lvObjectId id;
    ASSERT_EQ(GetChannelInfo(m->channel - 1, &kind, &id), 0);
    EXPECT_EQ(kind, 33);
    StopChannelEntry(m->channel - 1);
    EXPECT_EQ(m->state, LV_MUS_STOPPED);
    EXPECT_EQ(m->player->songPosition.load(), 0);
    EXPECT_EQ(CloseMusic(m), 0);
}

// A music longer than the server's two halves: every frame once and in order across the
// half switches and the rewind between passes, paused inside the second pass and resumed
// from the kept halves; the server reads ahead while it plays and ends whenever the music
// leaves its channel.
TEST_F(MediaMusic, StreamServerPlaysEveryFrameAcrossHalvesAndPasses)
{
    const int frames = 120000; // 2.5 halves
    lvMusic *m = Open("long.wav", Wave(frames, 48000, 2));
    m->passes = 2;
    ASSERT_EQ(StartMusic(m), 0);
    EXPECT_TRUE(IsStreamServerRunning(m->play.stream));
    EXPECT_EQ(ThreadsNamed("lv stream"), 1);
    std::vector<int16_t> out;
    auto play = [&](int total) {
        while ((int)out.size() / 2 < total) {
            if (m->state == LV_MUS_PLAYING) ASSERT_TRUE(WaitStreamBufferFilled(m->play.stream, 10000));
            std::vector<int16_t> piece = Pump(4800);
            out.insert(out.end(), piece.begin(), piece.end());
        }
    };
    play(130000); // 10000 frames into the second pass
    StopMusic(m, 1);
    EXPECT_EQ(m->currentPass, 2);
    EXPECT_FALSE(IsStreamServerRunning(m->play.stream));
    EXPECT_EQ(ThreadsNamed("lv stream"), 0);
    ASSERT_EQ(StartMusic(m), 0);
    play(2 * frames + 9600);
    EXPECT_EQ(GetStreamUnderruns(m->play.stream), 0);
    for (int f = 0; f < 2 * frames; f++) {
        ASSERT_EQ(out[2 * f], (int16_t)(3 * (f % frames) + 1)) << f;
        ASSERT_EQ(out[2 * f + 1], (int16_t)(-3 * (f % frames) - 1)) << f;
    }
    for (size_t i = 2 * (size_t)(2 * frames); i < out.size(); i++) ASSERT_EQ(out[i], 0) << i;
    EXPECT_EQ(MusicEnds(), 1);
    EXPECT_EQ(m->state, LV_MUS_STOPPED);
    EXPECT_EQ(ThreadsNamed("lv stream"), 0) << "the server ends with its music";
}

// A source of exactly one half read through the native decoder, which tells the end on
// the read that reaches it: every pass starts on a half's first frame, and the pass a
// pause reports is the one playing.
TEST_F(MediaMusic, PassesStartingOnAHalfAreCounted)
{
    const int frames = 48000;
    std::string path = dir.File("second.flac");
    {
        SF_INFO info = {};
        info.samplerate = 48000;
        info.channels = 1;
        info.format = SF_FORMAT_FLAC | SF_FORMAT_PCM_16;
        if (!sf_format_check(&info)) GTEST_SKIP() << "no FLAC encoder in this libsndfile";
        std::vector<int16_t> pcm;
        for (int i = 0; i < frames; i++) pcm.push_back((int16_t)(3 * i + 1));
        SNDFILE *f = sf_open(path.c_str(), SFM_WRITE, &info);
        ASSERT_NE(f, nullptr);
        sf_writef_short(f, pcm.data(), frames);
        sf_close(f);
    }
    int kind = 0;
    lvSoundSource *source = nullptr;
    lvModulePlayer *player = nullptr;
    ASSERT_EQ(OpenMusicSource(path.c_str(), "native", nullptr, nullptr, 0, 0, &kind, &source, &player, nullptr), 0);
    lvMusic *m = nullptr;
    ASSERT_EQ(AddMusic(1, false, path.c_str(), kind, source, player, &m), 0);
    m->passes = 3;
    ASSERT_EQ(StartMusic(m), 0);
    std::vector<int16_t> out;
    auto play = [&](int total) {
        while ((int)out.size() / 2 < total) {
            if (m->state == LV_MUS_PLAYING) ASSERT_TRUE(WaitStreamBufferFilled(m->play.stream, 10000));
            std::vector<int16_t> piece = Pump(4000);
            out.insert(out.end(), piece.begin(), piece.end());
        }
    };
    for (int until : {72000, 120000}) {
        play(until);
        StopMusic(m, 1);
        EXPECT_EQ(m->currentPass, until / frames + 1) << until;
        ASSERT_EQ(StartMusic(m), 0);
    }
    play(3 * frames + 8000);
    for (int f = 0; f < 3 * frames; f++) ASSERT_EQ(out[2 * f], (int16_t)(3 * (f % frames) + 1)) << f;
    for (size_t i = 2 * (size_t)(3 * frames); i < out.size(); i++) ASSERT_EQ(out[i], 0) << i;
    EXPECT_EQ(MusicEnds(), 1);
}

// The server threads end however the music leaves: closing the audio (StopAllChannels,
// as CloseAudio does), closing the music, and the run's end (every music freed).
TEST_F(MediaMusic, StreamServersEndAtCloseAudioAndRunEnd)
{
    lvMusic *a = Open("a.wav", Wave(96000 * 2, 48000, 2));
    ASSERT_EQ(StartMusic(a), 0);
    EXPECT_EQ(ThreadsNamed("lv stream"), 1);
    StopAllChannels();
    EXPECT_EQ(a->state, LV_MUS_STOPPED);
    EXPECT_EQ(ThreadsNamed("lv stream"), 0);

    ASSERT_EQ(StartMusic(a), 0);
    lvMusic *b = nullptr;
    {
        WriteFileBytes(dir.File("b.wav"), Wave(96000, 24000, 1));
        int kind = 0;
        lvSoundSource *source = nullptr;
        lvModulePlayer *player = nullptr;
        std::string path = dir.File("b.wav");
        ASSERT_EQ(OpenMusicSource(path.c_str(), nullptr, nullptr, nullptr, 0, 0, &kind, &source, &player, nullptr), 0);
        ASSERT_EQ(AddMusic(2, false, path.c_str(), kind, source, player, &b), 0);
    }
    ASSERT_EQ(StartMusic(b), 0);
    EXPECT_EQ(ThreadsNamed("lv stream"), 2);
    EXPECT_EQ(CloseMusic(b), 0);
    EXPECT_EQ(ThreadsNamed("lv stream"), 1);
    FreeAllMusics();
    EXPECT_EQ(ThreadsNamed("lv stream"), 0);
}

} // namespace

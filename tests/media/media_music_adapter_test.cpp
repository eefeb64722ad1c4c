// media_music_adapter_test.cpp - musics through an audio-adapter plug-in: the channel
// is allocated as 48000 Hz 16-bit stereo, the frames pulled through the fill callback
// are the file's and the module player's, the end leaves one OnMusicEnd and frees the
// adapter's channel.
#include "media/lvmusic.h"
#include "base/lverrors.h"
#include "media_fixtures.h"
#include "module_fixture.h"
#include "platform/lvplatform.h"
#include <cstring>
#include <gtest/gtest.h>

namespace {

struct FakeChannel {
    lvAudioFillFunction fill;
    void *entry;
};
std::vector<FakeChannel *> live;
std::string calls;

void *OpenDevice(void *, void *) { return &live; }
void Close(void *) {}
void *Alloc(void *, int format, int rate, int volume, lvAudioFillFunction fill, void *, void *entry, void *)
{
    calls += "alloc " + std::to_string(format) + " " + std::to_string(rate) + " " + std::to_string(volume) + ";";
    live.push_back(new FakeChannel{fill, entry});
    return live.back();
}
void Free(void *, void *channel)
{
    calls += "free;";
    for (size_t i = 0; i < live.size(); i++)
        if (live[i] == channel) {
            delete live[i];
            live.erase(live.begin() + (long)i);
        }
}
void Attributes(void *, void *, const lvPluginTag *) {}

class MusicAdapter : public testing::Test {
protected:
    lvPluginRecord adapter;
    MediaScratch dir;
    void SetUp() override
    {
        memset(&adapter, 0, sizeof adapter);
        adapter.capabilities = PLUGINCAPS_AUDIOADAPTER;
        adapter.OpenAudio = (lvPluginExport)OpenDevice;
        adapter.CloseAudio = (lvPluginExport)Close;
        adapter.AllocAudioChannel = (lvPluginExport)Alloc;
        adapter.FreeAudioChannel = (lvPluginExport)Free;
        adapter.SetChannelAttributes = (lvPluginExport)Attributes;
        InitSystemEvents();
        InstallMusicEngine();
        ASSERT_EQ(InstallAudioAdapterPlugin(&adapter, 0, nullptr, 4, 1), 0);
        ASSERT_EQ(OpenAudioDevice(nullptr), 0);
        SetSoundEventSwitches("onmusicend", 1);
        calls.clear();
    }
    void TearDown() override
    {
        FreeAllMusics();
        StopAllChannels();
        CloseAudioDevice();
        UninstallAudioAdapter();
        FreeSystemEvents();
    }
    lvMusic *Open(const char *name, const Bytes &bytes)
    {
        WriteFileBytes(dir.File(name), bytes);
        std::string path = dir.File(name);
        int kind = 0;
        lvSoundSource *source = nullptr;
        lvModulePlayer *player = nullptr;
        lvPluginRecord *decoder = nullptr;
        EXPECT_EQ(OpenMusicSource(path.c_str(), nullptr, nullptr, nullptr, 0, 0, &kind, &source, &player, &decoder), 0);
        lvMusic *m = nullptr;
        EXPECT_EQ(AddMusic(1, false, path.c_str(), kind, source, player, &m), 0);
        return m;
    }
    // The frames the fill gives are in *filled (fewer than asked: the music ended).
    std::vector<int16_t> Pull(int frames, int *filled = nullptr)
    {
        std::vector<int16_t> out((size_t)frames * 2);
        EXPECT_EQ(live.size(), 1u);
        if (live.empty()) return out;
        FakeChannel *c = live[0];
        int got = c->fill(nullptr, nullptr, out.data(), frames, c->entry);
        if (filled) *filled = got;
        else EXPECT_EQ(got, frames);
        return out;
    }
};

TEST_F(MusicAdapter, WaveMusicPulledThroughTheAdapterEndsOnce)
{
    WavFixture w;
    w.channels = 2;
    w.bits = 16;
    w.rate = 48000;
    Bytes data;
    for (int i = 0; i < 3000; i++) {
        int16_t l = (int16_t)(5 * i + 2), r = (int16_t)(-i);
        data.push_back((uint8_t)l), data.push_back((uint8_t)(l >> 8));
        data.push_back((uint8_t)r), data.push_back((uint8_t)(r >> 8));
    }
    lvMusic *m = Open("m.wav", MakeWav(w, data));
    m->passes = 2;
    ASSERT_EQ(StartMusic(m), 0);
    EXPECT_EQ(calls, "alloc 5 48000 64;");
    std::vector<int16_t> a = Pull(4000);
    int filled = 0;
    std::vector<int16_t> b = Pull(4000, &filled);
    EXPECT_EQ(filled, 2000) << "the end is told by fewer frames";
    a.insert(a.end(), b.begin(), b.end());
    for (int f = 0; f < 6000; f++) {
        ASSERT_EQ(a[2 * f], (int16_t)(5 * (f % 3000) + 2)) << f;
        ASSERT_EQ(a[2 * f + 1], (int16_t)(-(f % 3000))) << f;
    }
    for (size_t i = 12000; i < a.size(); i++) ASSERT_EQ(a[i], 0);
    ServiceSoundChannels();
    EXPECT_EQ(m->state, LV_MUS_STOPPED);
    EXPECT_EQ(calls, "alloc 5 48000 64;free;");
    int ends = 0;
    lvSystemEvent e;
    while (GetSystemEvent(&e)) ends += e.type == SYSEVENT_MUSICEND;
    EXPECT_EQ(ends, 1);
}

TEST_F(MusicAdapter, ModulePulledThroughTheAdapterIsThePlayers)
{
    ModFixture f;
    ModSample s;
    s.data.assign(32, 30);
    for (int i = 16; i < 32; i++) s.data[i] = -30;
    s.loopLengthBytes = 32;
    f.samples.push_back(s);
    f.At(0, 0, 0) = {428, 1, 0, 0};
    f.At(0, 1, 2) = {214, 1, 0xA, 0x01};
    Bytes bytes = MakeModule(f);
    lvMusic *m = Open("song.mod", bytes);
    ASSERT_EQ(m->kind, LV_MUSIC_MODULE);
    ASSERT_EQ(StartMusic(m), 0);
    std::vector<int16_t> pulled = Pull(12000);
    lvModulePlayer *p = nullptr;
    ASSERT_EQ(NewModulePlayer(bytes.data(), bytes.size(), 48000, 0, &p), 0);
    std::vector<int16_t> ref(24000);
    MixModule(p, ref.data(), ref.data() + 1, 4, 12000, 16, 2);
    FreeModulePlayer(p);
    EXPECT_EQ(pulled, ref);
    StopMusic(m, 0);
    EXPECT_EQ(calls, "alloc 5 48000 64;free;");
}

} // namespace

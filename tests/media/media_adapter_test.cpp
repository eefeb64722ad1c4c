// media_adapter_test.cpp - the audio-adapter path in process: a fake adapter records what
// the engine asks of it and the test pulls the channel through the fill callback itself:
// installation rules, the frames of each pass (the "time" cut included), the loop and
// end events, attributes sent to the adapter, and freeing on stop.
#include "media/lvaudio.h"
#include "base/lverrors.h"
#include "platform/lvplatform.h"
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

struct FakeChannel {
    lvAudioFillFunction fill;
    void *entry;
    int format, rate, volume;
};
std::vector<FakeChannel *> live;
std::string calls;

void *Open(void *, void *) { calls += "open;"; return &live; }
void Close(void *) { calls += "close;"; }
void *Alloc(void *, int format, int rate, int volume, lvAudioFillFunction fill, void *, void *entry, void *)
{
    calls += "alloc " + std::to_string(format) + " " + std::to_string(rate) + " " + std::to_string(volume) + ";";
    FakeChannel *c = new FakeChannel{fill, entry, format, rate, volume};
    live.push_back(c);
    return c;
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
void Attributes(void *, void *, const lvPluginTag *tags)
{
    calls += "attr";
    for (const lvPluginTag *t = tags; t->tag; t++) calls += " " + std::to_string(t->tag) + "=" + std::to_string(t->value);
    calls += ";";
}

lvPluginRecord MakeAdapter()
{
    lvPluginRecord r;
    memset(&r, 0, sizeof r);
    r.capabilities = PLUGINCAPS_AUDIOADAPTER;
    r.OpenAudio = (lvPluginExport)Open;
    r.CloseAudio = (lvPluginExport)Close;
    r.AllocAudioChannel = (lvPluginExport)Alloc;
    r.FreeAudioChannel = (lvPluginExport)Free;
    r.SetChannelAttributes = (lvPluginExport)Attributes;
    return r;
}

TEST(MediaAdapter, InstallationRules)
{
    lvPluginRecord adapter = MakeAdapter(), other = MakeAdapter();
    lvPluginRecord notAdapter;
    memset(&notAdapter, 0, sizeof notAdapter);
    EXPECT_EQ(InstallAudioAdapterPlugin(&notAdapter, 0, nullptr, 0, 1), ERR_WRONGUSAGE);
    EXPECT_EQ(InstallAudioAdapterPlugin(&adapter, 0, nullptr, 0, 0), ERR_SETADAPTER); // after start-up
    lvPluginTag none[] = {{2, 0}, {0, 0}};
    EXPECT_EQ(InstallAudioAdapterPlugin(&adapter, 0, none, 0, 1), ERR_SETADAPTER);    // no channels
    EXPECT_EQ(GetAudioAdapter(), nullptr);
    EXPECT_EQ(InstallAudioAdapterPlugin(&adapter, 1, nullptr, 3, 1), 0);              // NUMCHANNELS 3
    EXPECT_EQ(InstallAudioAdapterPlugin(&other, 0, nullptr, 0, 1), ERR_SETADAPTER);   // bit 0 keeps it
    lvPluginTag five[] = {{2, 5}, {0, 0}};
    EXPECT_EQ(InstallAudioAdapterPlugin(&adapter, 2, five, 0, 0), 0);                 // tags only
    ASSERT_EQ(OpenAudioDevice(nullptr), 0);
    EXPECT_EQ(GetChannelCount(), 5);
    CloseAudioDevice();
    UninstallAudioAdapter();
    EXPECT_EQ(calls, "open;close;");
    calls.clear();
}

TEST(MediaAdapter, FillCallbackPassesEventsAndStop)
{
    InitSystemEvents();
    lvPluginRecord adapter = MakeAdapter();
    ASSERT_EQ(InstallAudioAdapterPlugin(&adapter, 0, nullptr, 0, 1), 0);
    ASSERT_EQ(OpenAudioDevice(nullptr), 0);
    SetSoundEventSwitches("onsampleloop", 1);
    SetSoundEventSwitches("onsampleend", 1);
    // 1000 frames of 16-bit mono at 10000 Hz: 100 ms a pass; "time" 250 gives 3 passes,
    // the last one 50 ms = 500 frames.
    uint8_t *d = (uint8_t *)AllocMemory(2000, 0);
    for (int i = 0; i < 1000; i++) d[2 * i] = (uint8_t)i, d[2 * i + 1] = (uint8_t)(i >> 8);
    lvSampleBuffer *s = nullptr;
    ASSERT_EQ(NewSampleBuffer(d, 1000, 10000, LV_SMP_S16_MONO, &s), 0);
    ASSERT_EQ(PlaySampleOnChannel(s, {4, nullptr}, 10000, 40, 0, 250, 1, -1), 0);
    EXPECT_TRUE(IsSampleOnChannel(s));
    ASSERT_EQ(live.size(), 1u);
    FakeChannel *c = live[0];
    std::vector<int16_t> out(4096, -1);
    int got = c->fill(nullptr, nullptr, out.data(), 4096, c->entry);
    EXPECT_EQ(got, 2500);
    for (int f = 0; f < 2500; f++) ASSERT_EQ(out[f], f % 1000) << f;
    EXPECT_EQ(c->fill(nullptr, nullptr, out.data(), 16, c->entry), 0); // ended
    struct Seen {
        int type, count;
        int64_t total;
    };
    std::vector<Seen> seen;
    lvSystemEvent e;
    while (GetSystemEvent(&e)) seen.push_back({(int)e.type, e.count, e.total});
    // One fill spans all three passes: the events still come in order.
    ASSERT_EQ(seen.size(), 4u);
    for (int i = 0; i < 3; i++) {
        EXPECT_EQ(seen[i].type, SYSEVENT_SAMPLELOOP);
        EXPECT_EQ(seen[i].count, i + 1);
        EXPECT_EQ(seen[i].total, 100 * i);
    }
    EXPECT_EQ(seen[3].type, SYSEVENT_SAMPLEEND);
    EXPECT_EQ(seen[3].count, 3);
    EXPECT_EQ(seen[3].total, 250);
    // An ended channel counts as playing until the reaper's second has passed.
    EXPECT_TRUE(IsSampleOnChannel(s));
    SetSampleAttributesOnChannels(s, -1, 20, 255, -1);
    StopSampleChannels(s, -1);
    EXPECT_FALSE(IsSampleOnChannel(s));
    EXPECT_TRUE(live.empty());
    EXPECT_EQ(calls, "open;alloc 4 10000 40;attr 3=0;attr 2=20 3=255;free;");
    DisposeSampleBuffer(s);
    CloseAudioDevice();
    UninstallAudioAdapter();
    FreeSystemEvents();
    calls.clear();
}

} // namespace

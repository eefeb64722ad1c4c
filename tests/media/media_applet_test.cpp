// media_applet_test.cpp - the runtime executable plays sounds from assembled applets with
// LUMIVARRA_AUDIO=null:out.wav: the events the applets print and the rendered file.
#include "tests/media/media_fixtures.h"
#include "tests/ui/events_run.h"
#include <cmath>
#include <cstring>
#include <gtest/gtest.h>

namespace {

struct SoundRun {
    AppletRun run;
    std::vector<int16_t> pcm; // the rendered stereo frames
};

SoundRun RunSoundApplet(const MediaScratch &dir, const std::string &stem, const std::string &extra = "",
                        const std::string &arguments = "")
{
    std::string wav = dir.File("out.wav");
    SoundRun r;
    r.run = RunRuntimeCommand("cd '" + dir.path + "' && LUMIVARRA_AUDIO='null:" + wav + "' " + extra +
                              " timeout --preserve-status -k 5 30 '" + LV_BIN_DIR + "/lumivarra' '" + LV_BUILD_DIR +
                              "/tests/media/applets/" + stem + ".lva' " + arguments);
    Bytes b = ReadFileBytes(wav);
    if (b.size() >= 44 && !memcmp(b.data(), "RIFF", 4)) {
        uint32_t data = b[40] | b[41] << 8 | b[42] << 16 | (uint32_t)b[43] << 24;
        EXPECT_EQ(data + 44, b.size()) << "the header counts the rendered frames";
        for (size_t i = 44; i + 1 < b.size(); i += 2) r.pcm.push_back((int16_t)(b[i] | b[i + 1] << 8));
    }
    return r;
}

// Index of the first frame whose left or right value is not zero; -1 when none.
long FirstSound(const std::vector<int16_t> &pcm)
{
    for (size_t i = 0; i < pcm.size(); i++)
        if (pcm[i]) return (long)(i / 2);
    return -1;
}

TEST(MediaApplet, RampPlayedThreeTimesGivesEventsAndExactOutput)
{
    MediaScratch dir;
    SoundRun r = RunSoundApplet(dir, "ramp");
    ASSERT_EQ(r.run.exitCode, 0) << r.run.err;
    std::vector<std::string> want = {"loop 1 0", "loop 2 100", "loop 3 200", "end 3 300 false"};
    EXPECT_EQ(r.run.lines, want) << r.run.err;
    long start = FirstSound(r.pcm);
    ASSERT_GE(start, 0);
    ASSERT_GE(r.pcm.size() / 2, (size_t)start + 14400);
    for (long f = 0; f < 14400; f++) {
        int16_t v = (int16_t)(1 + (f % 4800) * 3);
        ASSERT_EQ(r.pcm[2 * (start + f)], v) << f;
        ASSERT_EQ(r.pcm[2 * (start + f) + 1], v) << f;
    }
    for (size_t i = 2 * (start + 14400); i < r.pcm.size(); i++) ASSERT_EQ(r.pcm[i], 0) << "after the end, " << i;
}


// The ramp value of frame f (value 3 * f + 1, 4800 frames).
int16_t Ramp(long f) { return (int16_t)(1 + (f % 4800) * 3); }

TEST(MediaApplet, TimesCancelsTime)
{
    MediaScratch dir;
    SoundRun r = RunSoundApplet(dir, "timesandtime");
    ASSERT_EQ(r.run.exitCode, 0) << r.run.err;
    std::vector<std::string> want = {"loop 1 0", "loop 2 100", "end 2 200 false"};
    EXPECT_EQ(r.run.lines, want) << r.run.err;
}

TEST(MediaApplet, TimeOptionStopsAtTwoAndAHalfPasses)
{
    MediaScratch dir;
    SoundRun r = RunSoundApplet(dir, "time250");
    ASSERT_EQ(r.run.exitCode, 0) << r.run.err;
    long start = FirstSound(r.pcm);
    ASSERT_GE(start, 0);
    ASSERT_GE(r.pcm.size() / 2, (size_t)start + 12000);
    for (long f = 0; f < 12000; f++) ASSERT_EQ(r.pcm[2 * (start + f)], Ramp(f)) << f;
    for (size_t i = 2 * (start + 12000); i < r.pcm.size(); i++) ASSERT_EQ(r.pcm[i], 0) << i;
}

TEST(MediaApplet, TwoPairsOfOnePlaySampleStartOnOneFrame)
{
    MediaScratch dir;
    SoundRun r = RunSoundApplet(dir, "pairs");
    ASSERT_EQ(r.run.exitCode, 0) << r.run.err;
    long start = FirstSound(r.pcm);
    ASSERT_GE(start, 0);
    ASSERT_GE(r.pcm.size() / 2, (size_t)start + 4800);
    for (long f = 0; f < 4800; f++) {
        ASSERT_EQ(r.pcm[2 * (start + f)], Ramp(f)) << f;                       // #LEFT: sample 1 only
        ASSERT_EQ(r.pcm[2 * (start + f) + 1], (int16_t)(5000 + 2 * f)) << f; // #RIGHT: sample 2 only
    }
}

TEST(MediaApplet, VolumeThirtyTwoPannedLeft)
{
    MediaScratch dir;
    SoundRun r = RunSoundApplet(dir, "volume");
    ASSERT_EQ(r.run.exitCode, 0) << r.run.err;
    long start = FirstSound(r.pcm);
    ASSERT_GE(start, 0);
    ASSERT_GE(r.pcm.size() / 2, (size_t)start + 4800);
    double scale = std::pow(10.0, -693 / 2000.0);
    for (long f = 0; f < 4800; f++) ASSERT_NEAR(r.pcm[2 * (start + f)], (Ramp(f) + 999) * scale, 1.0) << f;
    for (size_t i = 1; i < r.pcm.size(); i += 2) ASSERT_EQ(r.pcm[i], 0) << "right channel, " << i;
}

TEST(MediaApplet, RefusedCallsGiveTheirCodes)
{
    MediaScratch dir;
    SoundRun r = RunSoundApplet(dir, "edges");
    ASSERT_EQ(r.run.exitCode, 0) << r.run.err;
    // Five pairs, stereo pcm of 5, 128 in 8-bit data, channel 0, MixSample of 0 frames,
    // "time" on a pass under 1 ms, SetVolume -1, InsertSample into itself.
    std::vector<std::string> want = {"1055", "1055", "1447", "1576", "1055", "1055", "1055", "1055"};
    EXPECT_EQ(r.run.lines, want) << r.run.err;
}

TEST(MediaApplet, ChannelCountNoSoundAndForcedSound)
{
    struct Case {
        const char *name, *applet, *env, *options;
        std::vector<std::string> lines;
    } cases[] = {
        {"eight channels", "channels", "", "", {"1", "3", "0", "8", "true"}},
        {"NUMCHANNELS 2", "channels", "", "-numchannels 2", {"1", "0", "1289", "2", "true"}},
        {"NOSOUND", "channels", "", "-nosound", {"0", "0", "0", "0", "false"}},
        {"no device, quiet", "openaudio", "LUMIVARRA_AUDIO=none", "", {"0", "false"}},
        {"no device, FORCESOUND", "openaudio", "LUMIVARRA_AUDIO=none", "-forcesound", {"1267", "false"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        MediaScratch dir;
        std::string command = "cd '" + dir.path + "' && " + (c.env[0] ? std::string(c.env) : "LUMIVARRA_AUDIO=null") +
                              " timeout --preserve-status -k 5 30 '" + LV_BIN_DIR + "/lumivarra' '" + LV_BUILD_DIR +
                              "/tests/media/applets/" + c.applet + ".lva' " + c.options;
        AppletRun run = RunRuntimeCommand(command);
        EXPECT_EQ(run.exitCode, 0) << run.err;
        EXPECT_EQ(run.lines, c.lines) << run.err;
    }
}


TEST(MediaApplet, CreateSampleFromMemoryAndFileThenSavedAndLoaded)
{
    MediaScratch dir;
    SoundRun r = RunSoundApplet(dir, "createdata", "", "-dir '" + dir.path + "'");
    ASSERT_EQ(r.run.exitCode, 0) << r.run.err;
    std::vector<std::string> want = {
        "2 32767 -32768", // bytes FF 7F 00 80 at offset 2, little-endian
        "2 -129 128",     // the same swapped
        "3 5 -5 127",         // signed 8-bit from the file
        "3 5 -5 127",         // after SaveSample as IFF and LoadSample
        "1146",               // offset 8 + 2 bytes past the 9-byte block
        "1142",               // a write-only file
    };
    EXPECT_EQ(r.run.lines, want) << r.run.err;
}


// The same applet through SDL: the dummy driver plays and ends it with the same events;
// the disk driver's file holds the same frames as the null sink's after the silence.
TEST(MediaApplet, SdlDummyAndDiskDriversMatchTheNullSink)
{
    MediaScratch dir;
    SoundRun null = RunSoundApplet(dir, "ramp");
    ASSERT_EQ(null.run.exitCode, 0) << null.run.err;
    std::string runtime = std::string("timeout --preserve-status -k 5 30 '") + LV_BIN_DIR + "/lumivarra' '" +
                          LV_BUILD_DIR + "/tests/media/applets/ramp.lva'";
    AppletRun dummy = RunRuntimeCommand("cd '" + dir.path + "' && LUMIVARRA_AUDIO=sdl SDL_AUDIODRIVER=dummy " + runtime);
    EXPECT_EQ(dummy.exitCode, 0) << dummy.err;
    EXPECT_EQ(dummy.lines, null.run.lines) << dummy.err;
    std::string raw = dir.File("disk.raw");
    AppletRun disk = RunRuntimeCommand("cd '" + dir.path + "' && LUMIVARRA_AUDIO=sdl SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE='" +
                                       raw + "' SDL_DISKAUDIODELAY=1 " + runtime);
    EXPECT_EQ(disk.exitCode, 0) << disk.err;
    EXPECT_EQ(disk.lines, null.run.lines) << disk.err;
    Bytes b = ReadFileBytes(raw);
    std::vector<int16_t> pcm;
    for (size_t i = 0; i + 1 < b.size(); i += 2) pcm.push_back((int16_t)(b[i] | b[i + 1] << 8));
    long a = FirstSound(null.pcm), d = FirstSound(pcm);
    ASSERT_GE(a, 0);
    ASSERT_GE(d, 0);
    ASSERT_GE(pcm.size() / 2, (size_t)d + 14400);
    for (long f = 0; f < 2 * 14400; f++) ASSERT_EQ(pcm[2 * d + f], null.pcm[2 * a + f]) << f;
}


TEST(MediaApplet, LinkedSamplePreloadsAndPlays)
{
    MediaScratch dir;
    SoundRun r = RunSoundApplet(dir, "linked");
    ASSERT_EQ(r.run.exitCode, 0) << r.run.err;
    EXPECT_EQ(r.run.lines, (std::vector<std::string>{"RIFF WAVE 480", "1", "10", "48000", "true", "inbuilt"}))
        << r.run.err;
    long start = FirstSound(r.pcm);
    ASSERT_GE(start, 0);
    ASSERT_GE(r.pcm.size() / 2, (size_t)start + 480);
    for (long f = 0; f < 480; f++) ASSERT_EQ(r.pcm[2 * (start + f)], Ramp(f)) << f;
}

} // namespace

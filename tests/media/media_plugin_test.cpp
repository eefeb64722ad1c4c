// media_plugin_test.cpp - the sound test plug-in (tests/plugins/testsound.cpp) through the
// runtime executable: decoder, saver, the audio sub-table and an audio adapter required at
// start-up, whose thread pulls the samples' frames through the runtime's fill callback.
#include "media/lvmodule.h"
#include "tests/media/media_fixtures.h"
#include "tests/media/module_fixture.h"
#include "tests/ui/events_run.h"
#include <cstring>
#include <gtest/gtest.h>

namespace {

Bytes Tsnd(uint32_t rate, uint32_t channels, uint32_t bits, uint32_t frames, const std::vector<int16_t> &values)
{
    Bytes b = {'T', 'S', 'N', 'D'};
    for (uint32_t w : {rate, channels, bits, frames})
        for (int i = 0; i < 4; i++) b.push_back((uint8_t)(w >> (8 * i)));
    for (int16_t v : values) b.push_back((uint8_t)v), b.push_back((uint8_t)((uint16_t)v >> 8));
    return b;
}

TEST(MediaPlugin, DecoderSaverSampleTableAndAdapter)
{
    MediaScratch dir;
    WriteFileBytes(dir.File("a.tsnd"), Tsnd(22050, 1, 16, 6, {100, -200, 300, -400, 500, -600}));
    WriteFileBytes(dir.File("b.tsnd"), Tsnd(22050, 1, 16, 0xFFFFFFFFu, {1, 2, 3}));
    std::string setup = "mkdir '" + dir.path + "/Plugins' && cp '" + LV_BIN_DIR + "/lumivarra' '" + dir.path +
                        "/' && cp '" + LV_BUILD_DIR + "/tests/media/plugin/testsound.lvp' '" + dir.path + "/Plugins/'";
    ASSERT_EQ(std::system(setup.c_str()), 0);
    std::string raw = dir.File("adapter.raw");
    AppletRun run = RunRuntimeCommand("cd '" + dir.path + "' && TESTSOUND_OUT='" + raw +
                                      "' timeout -k 5 30 ./lumivarra '" + LV_BUILD_DIR +
                                      "/tests/media/plugin/soundplug.lva' -dir '" + dir.path + "'");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    std::vector<std::string> want = {
        "0", "6 100 -200 300", "Test sound", "Sound test plug-in", // the decoder
        "1279",                                                      // length unknown
        "6 100 -200 300", "6 100 -200 300",                          // saver 100 whole, 101 streamed
        "1490",                                                      // no saver lists 555
        "true", "6 -100 200 -300",                                   // a writable lock's edit
        "0", "3 256 -1 32767",                                       // big-endian data added
        "1518",                                                      // installing after start-up
        "-1",                                                        // no lock while playing
        "loop 1 0", "loop 2 100", "end 2 200 true",                  // the adapter's events
    };
    ASSERT_GE(run.lines.size(), want.size()) << run.err;
    EXPECT_EQ(std::vector<std::string>(run.lines.begin(), run.lines.begin() + (long)want.size()), want);
    std::string log;
    for (size_t i = want.size(); i < run.lines.size(); i++) log += run.lines[i] + "\n";
    EXPECT_NE(log.find("install 0\n"), std::string::npos) << log;
    EXPECT_NE(log.find("open\n"), std::string::npos) << log;
    EXPECT_NE(log.find("alloc 4 22050 64\n"), std::string::npos) << log;
    // The adapter received the sample's frames twice, exactly.
    Bytes b = ReadFileBytes(raw);
    ASSERT_EQ(b.size(), 2u * 2205 * 2);
    for (size_t f = 0; f < 2 * 2205; f++) {
        int16_t v = (int16_t)(b[2 * f] | b[2 * f + 1] << 8);
        ASSERT_EQ(v, (int16_t)(7 * (f % 2205) - 5000)) << f;
    }
}

// Musics through the test plug-in's adapter: the frames it pulls are the WAVE file's data
// and then the module player's own output, each music ends with one OnMusicEnd, and the
// stream server thread a playing music has is gone after CloseAudio.
TEST(MediaPlugin, MusicsThroughTheAdapterAreTheFilesAndThePlayers)
{
    MediaScratch dir;
    const int frames = 72000; // a second and a half: the server refills a half meanwhile
    WavFixture w;
    w.channels = 2;
    w.bits = 16;
    w.rate = 48000;
    Bytes data;
    for (int i = 0; i < frames; i++) {
        int16_t l = (int16_t)(3 * i + 1), r = (int16_t)(-2 * i - 1);
        data.push_back((uint8_t)l), data.push_back((uint8_t)(l >> 8));
        data.push_back((uint8_t)r), data.push_back((uint8_t)(r >> 8));
    }
    WriteFileBytes(dir.File("m48.wav"), MakeWav(w, data));
    // Two rows: a looping square, and a pattern break on the second row ends the song.
    ModFixture f;
    ModSample sq;
    sq.data.resize(32);
    for (int i = 0; i < 32; i++) sq.data[i] = (int8_t)(i < 16 ? 90 : -90);
    sq.loopLengthBytes = 32;
    f.samples.push_back(sq);
    f.At(0, 0, 0) = {428, 1, 0, 0};
    f.At(0, 1, 1) = {0, 0, 0xD, 0};
    std::vector<uint8_t> mod = MakeModule(f);
    WriteFileBytes(dir.File("short.mod"), Bytes(mod.begin(), mod.end()));
    lvModulePlayer *p = nullptr;
    ASSERT_EQ(NewModulePlayer(mod.data(), mod.size(), 48000, LV_MODF_STOPATEND, &p), 0);
    std::vector<int16_t> ref(2 * 48000, 0);
    int64_t produced = MixModule(p, ref.data(), ref.data() + 1, 4, 48000, 16, 2);
    FreeModulePlayer(p);
    ASSERT_EQ(produced, 2 * 6 * 960);

    std::string setup = "mkdir '" + dir.path + "/Plugins' && cp '" + LV_BIN_DIR + "/lumivarra' '" + dir.path +
                        "/' && cp '" + LV_BUILD_DIR + "/tests/media/plugin/testsound.lvp' '" + dir.path + "/Plugins/'";
    ASSERT_EQ(std::system(setup.c_str()), 0);
    std::string raw = dir.File("adapter.raw");
    AppletRun run = RunRuntimeCommand("cd '" + dir.path + "' && TESTSOUND_PACE=1 TESTSOUND_OUT='" + raw +
                                      "' timeout -k 5 60 ./lumivarra '" + LV_BUILD_DIR +
                                      "/tests/media/plugin/musicplug.lva' -dir '" + dir.path + "'");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    std::vector<std::string> want = {"end", "end", "1", "0"};
    EXPECT_EQ(run.lines, want) << run.err;
    Bytes b = ReadFileBytes(raw);
    ASSERT_GE(b.size(), (size_t)(frames + produced) * 4);
    for (size_t i = 0; i < data.size(); i++) ASSERT_EQ(b[i], data[i]) << "file byte " << i;
    for (int64_t i = 0; i < 2 * produced; i++) {
        size_t at = data.size() + 2 * (size_t)i;
        ASSERT_EQ((int16_t)(b[at] | b[at + 1] << 8), ref[(size_t)i]) << "module value " << i;
    }
}

// RecordAudio through the adapter: one that installed without capture refuses (1288);
// one with capture gives what its reads return, the asked length of it.
TEST(MediaPlugin, RecordAudioThroughTheAdaptersCapture)
{
    struct Case {
        const char *env;
        const char *code;
        bool recorded;
    } cases[] = {{"", "1288", false}, {"TESTSOUND_CAPTURE=1 ", "0", true}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.code);
        MediaScratch dir;
        std::string setup = "mkdir '" + dir.path + "/Plugins' && cp '" + LV_BIN_DIR + "/lumivarra' '" + dir.path +
                            "/' && cp '" + LV_BUILD_DIR + "/tests/media/plugin/testsound.lvp' '" + dir.path +
                            "/Plugins/'";
        ASSERT_EQ(std::system(setup.c_str()), 0);
        AppletRun run = RunRuntimeCommand("cd '" + dir.path + "' && " + c.env + "timeout -k 5 30 ./lumivarra '" +
                                          LV_BUILD_DIR + "/tests/media/plugin/recordplug.lva' -dir '" + dir.path + "'");
        ASSERT_EQ(run.exitCode, 0) << run.err;
        ASSERT_FALSE(run.lines.empty()) << run.err;
        EXPECT_EQ(run.lines[0], c.code);
        Bytes b = ReadFileBytes(dir.File("rec.wav"));
        if (!c.recorded) continue;
        std::string log;
        for (const std::string &line : run.lines) log += line + "\n";
        EXPECT_NE(log.find("capture 8000 1 16\ncapture stop\n"), std::string::npos) << log;
        ASSERT_EQ(b.size(), 44u + 1600u);
        for (size_t i = 0; i < 1600; i++) ASSERT_EQ(b[44 + i], (uint8_t)i) << i;
    }
}

} // namespace

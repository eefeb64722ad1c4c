// media_plugin_test.cpp - the sound test plug-in (tests/plugins/testsound.cpp) through the
// runtime executable: decoder, saver, the audio sub-table and an audio adapter required at
// start-up, whose thread pulls the samples' frames through the runtime's fill callback.
#include "tests/media/media_fixtures.h"
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

} // namespace

// media_music_applet_test.cpp - musics and modules played by the runtime executable with
// LUMIVARRA_AUDIO=null:out.wav: the lines the applets print and the rendered file
// against the player's own output and the file's data.
#include "media/lvmodule.h"
#include "tests/media/media_fixtures.h"
#include "tests/media/module_fixture.h"
#include "tests/ui/events_run.h"
#include <cmath>
#include <cstring>
#include <dirent.h>
#include <gtest/gtest.h>
#include <sndfile.h>

namespace {

struct MusicRun {
    AppletRun run;
    std::vector<int16_t> pcm; // the rendered stereo frames
};

MusicRun RunMusicApplet(const MediaScratch &dir, const std::string &stem)
{
    std::string wav = dir.File("out.wav");
    MusicRun r;
    r.run = RunRuntimeCommand("cd '" + dir.path + "' && LUMIVARRA_AUDIO='null:" + wav +
                              "' timeout --preserve-status -k 5 60 '" + LV_BIN_DIR + "/lumivarra' '" + LV_BUILD_DIR +
                              "/tests/media/applets/" + stem + ".lva' -dir '" + dir.path + "'");
    Bytes b = ReadFileBytes(wav);
    if (b.size() >= 44 && !memcmp(b.data(), "RIFF", 4))
        for (size_t i = 44; i + 1 < b.size(); i += 2) r.pcm.push_back((int16_t)(b[i] | b[i + 1] << 8));
    return r;
}

long FirstSound(const std::vector<int16_t> &pcm)
{
    for (size_t i = 0; i < pcm.size(); i++)
        if (pcm[i]) return (long)(i / 2);
    return -1;
}

// One pattern: a looping square on channel 1 and a vibrato note on channel 2 at row 2.
ModFixture Song()
{
    ModFixture f;
    ModSample s;
    s.data.resize(32);
    for (int i = 0; i < 32; i++) s.data[i] = (int8_t)(i < 16 ? 90 : -90);
    s.loopLengthBytes = 32;
    f.samples.push_back(s);
    f.At(0, 0, 0) = {428, 1, 0, 0};
    f.At(0, 2, 1) = {320, 1, 4, 0x46};
    return f;
}

std::vector<int16_t> PlayerFrames(const ModFixture &f, int64_t frames, uint32_t flags, int64_t *produced = nullptr)
{
    std::vector<uint8_t> bytes = MakeModule(f);
    lvModulePlayer *p = nullptr;
    EXPECT_EQ(NewModulePlayer(bytes.data(), bytes.size(), 48000, flags, &p), 0);
    std::vector<int16_t> out((size_t)frames * 2, 0);
    int64_t n = MixModule(p, out.data(), out.data() + 1, 4, frames, 16, 2);
    if (produced) *produced = n;
    FreeModulePlayer(p);
    return out;
}

TEST(MusicApplet, UntimedModuleGivesThePlayersFrames)
{
    MediaScratch dir;
    WriteFileBytes(dir.File("song.mod"), MakeModule(Song()));
    MusicRun r = RunMusicApplet(dir, "module");
    ASSERT_EQ(r.run.exitCode, 0) << r.run.err;
    // IsModule names the type; song position 2 lies outside a one-position song.
    std::vector<std::string> want = {"true Protracker", "1055", "4 0", "false -1"};
    EXPECT_EQ(r.run.lines, want) << r.run.err;
    long start = FirstSound(r.pcm);
    ASSERT_GE(start, 0);
    // Four rows of 120 ms were played at least.
    const long frames = 4 * 5760;
    ASSERT_GE((long)r.pcm.size() / 2 - start, frames);
    std::vector<int16_t> ref = PlayerFrames(Song(), frames, 0);
    for (long i = 0; i < 2 * frames; i++) ASSERT_EQ(r.pcm[2 * start + i], ref[i]) << i;
}

TEST(MusicApplet, TimedModuleHasItsDurationAndEndsOnce)
{
    MediaScratch dir;
    WriteFileBytes(dir.File("song.mod"), MakeModule(Song()));
    MusicRun r = RunMusicApplet(dir, "timedmod");
    ASSERT_EQ(r.run.exitCode, 0) << r.run.err;
    std::vector<std::string> want = {"7680", "end", "false"};
    EXPECT_EQ(r.run.lines, want) << r.run.err;
    long start = FirstSound(r.pcm);
    ASSERT_GE(start, 0);
    int64_t produced = 0;
    std::vector<int16_t> ref = PlayerFrames(Song(), 400000, LV_MODF_STOPATEND, &produced);
    ASSERT_EQ(produced, 368640);
    ASSERT_GE((int64_t)r.pcm.size() / 2 - start, produced);
    for (int64_t i = 0; i < 2 * produced; i++) ASSERT_EQ(r.pcm[2 * start + i], ref[i]) << i;
    for (size_t i = 2 * (start + produced); i < r.pcm.size(); i++) ASSERT_EQ(r.pcm[i], 0) << "after the end";
}

TEST(MusicApplet, WaveMusicTwiceWithoutGapAndStateErrors)
{
    MediaScratch dir;
    WavFixture w;
    w.channels = 2;
    w.bits = 16;
    w.rate = 48000;
    Bytes data;
    for (int i = 0; i < 4800; i++) {
        int16_t l = (int16_t)(3 * i + 1), rr = (int16_t)(-2 * i - 1);
        data.push_back((uint8_t)l), data.push_back((uint8_t)(l >> 8));
        data.push_back((uint8_t)rr), data.push_back((uint8_t)(rr >> 8));
    }
    WriteFileBytes(dir.File("m48.wav"), MakeWav(w, data));
    MusicRun r = RunMusicApplet(dir, "wavmusic");
    ASSERT_EQ(r.run.exitCode, 0) << r.run.err;
    std::vector<std::string> want = {"100", "1233", "1568", "1567", "1264", "1484", "end", "false"};
    EXPECT_EQ(r.run.lines, want) << r.run.err;
    long start = FirstSound(r.pcm);
    ASSERT_GE(start, 0);
    ASSERT_GE((long)r.pcm.size() / 2 - start, 9600);
    for (long f = 0; f < 9600; f++) {
        ASSERT_EQ(r.pcm[2 * (start + f)], (int16_t)(3 * (f % 4800) + 1)) << f;
        ASSERT_EQ(r.pcm[2 * (start + f) + 1], (int16_t)(-2 * (f % 4800) - 1)) << f;
    }
    for (size_t i = 2 * (start + 9600); i < r.pcm.size(); i++) ASSERT_EQ(r.pcm[i], 0) << "after the end";
}

} // namespace

namespace {

TEST(MusicApplet, CallbackMusicPlaysWhatTheHandlerQueues)
{
    MediaScratch dir;
    MusicRun r = RunMusicApplet(dir, "callback");
    ASSERT_EQ(r.run.exitCode, 0) << r.run.err;
    std::vector<std::string> want = {"1485", "first 96000 0", "1055", "1478", "end"};
    EXPECT_EQ(r.run.lines, want) << r.run.err;
    long start = FirstSound(r.pcm);
    ASSERT_GE(start, 0);
    ASSERT_GE((long)r.pcm.size() / 2 - start, 96000);
    for (long n = 0; n < 96000; n++) {
        int16_t v = (int16_t)((7 * n) % 2000 - 1000);
        ASSERT_EQ(r.pcm[2 * (start + n)], v) << n;
        ASSERT_EQ(r.pcm[2 * (start + n) + 1], v) << n;
    }
    for (size_t i = 2 * (start + 96000); i < r.pcm.size(); i++) ASSERT_EQ(r.pcm[i], 0) << "after the end";
}

} // namespace

namespace {

Bytes RampStereo(int frames)
{
    Bytes data;
    for (int i = 0; i < frames; i++) {
        int16_t l = (int16_t)(3 * i + 1), r = (int16_t)(-2 * i - 1);
        data.push_back((uint8_t)l), data.push_back((uint8_t)(l >> 8));
        data.push_back((uint8_t)r), data.push_back((uint8_t)(r >> 8));
    }
    return data;
}

TEST(MusicApplet, SaveMusicGetMusicSampleAndMusicStreams)
{
    MediaScratch dir;
    WavFixture w;
    w.channels = 2;
    w.bits = 16;
    w.rate = 48000;
    Bytes data = RampStereo(4800);
    WriteFileBytes(dir.File("m48.wav"), MakeWav(w, data));
    MusicRun r = RunMusicApplet(dir, "savemusic");
    ASSERT_EQ(r.run.exitCode, 0) << r.run.err;
    std::vector<std::string> want = {"1694", "steps 1", "1693"};
    EXPECT_EQ(r.run.lines, want) << r.run.err;
    EXPECT_EQ(ReadFileBytes(dir.File("saved.wav")), MakeWav(w, data));
    Bytes part(data.begin(), data.begin() + 2400 * 4);
    EXPECT_EQ(ReadFileBytes(dir.File("part.wav")), MakeWav(w, part));
    // The saves left the music at its start: the sample holds frames 0..2399.
    Bytes twice = part;
    twice.insert(twice.end(), part.begin(), part.end());
    EXPECT_EQ(ReadFileBytes(dir.File("stream.wav")), MakeWav(w, twice));
}

} // namespace

namespace {

// The data chunk of a WAVE file our writer made (header of 44 bytes).
Bytes WaveData(const Bytes &file)
{
    return file.size() >= 44 ? Bytes(file.begin() + 44, file.end()) : Bytes();
}

TEST(MusicApplet, RecordAudioFromSdlsDummyAndDiskDrivers)
{
    std::string runtime = std::string("'") + LV_BIN_DIR + "/lumivarra' '" + LV_BUILD_DIR +
                          "/tests/media/applets/record.lva' -dir ";
    {
        MediaScratch dir;
        AppletRun run = RunRuntimeCommand("cd '" + dir.path + "' && LUMIVARRA_AUDIO=null SDL_AUDIODRIVER=dummy timeout 30 " +
                                          runtime + "'" + dir.path + "'");
        ASSERT_EQ(run.exitCode, 0) << run.err;
        EXPECT_EQ(WaveData(ReadFileBytes(dir.File("rec.wav"))).size(), 2000u);
        EXPECT_EQ(WaveData(ReadFileBytes(dir.File("rec16.wav"))).size(), 3200u);
    }
    {
        MediaScratch dir;
        Bytes input;
        for (int i = 0; i < 40000; i++) input.push_back((uint8_t)(i * 7 + i / 256));
        WriteFileBytes(dir.File("in.raw"), input);
        AppletRun run = RunRuntimeCommand("cd '" + dir.path +
                                          "' && LUMIVARRA_AUDIO=null SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILEIN='" +
                                          dir.File("in.raw") + "' SDL_DISKAUDIODELAY=0 timeout 30 " + runtime + "'" +
                                          dir.path + "'");
        ASSERT_EQ(run.exitCode, 0) << run.err;
        Bytes rec = WaveData(ReadFileBytes(dir.File("rec.wav")));
        ASSERT_EQ(rec.size(), 2000u);
        EXPECT_EQ(rec, Bytes(input.begin(), input.begin() + 2000));
    }
}

} // namespace

namespace {

// An MP3 linked into the applet plays from the applet's own data: the rendered frames
// are the decoder's, and no temporary copy of it is made (TMPDIR stays empty).
TEST(MusicApplet, LinkedMp3PlaysWithoutATemporaryFile)
{
    SF_INFO info = {};
    info.samplerate = 48000;
    info.channels = 2;
    info.format = SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III;
    if (!sf_format_check(&info)) GTEST_SKIP() << "this libsndfile has no MPEG Layer III encoder";
    MediaScratch dir;
    std::string mp3 = dir.File("song.mp3");
    const int frames = 72000; // 1.5 s: longer than the server's first half
    std::vector<int16_t> pcm;
    for (int i = 0; i < frames; i++) {
        pcm.push_back((int16_t)(9000 * std::sin(i * 0.031)));
        pcm.push_back((int16_t)(7000 * std::sin(i * 0.047)));
    }
    SNDFILE *f = sf_open(mp3.c_str(), SFM_WRITE, &info);
    ASSERT_NE(f, nullptr) << sf_strerror(nullptr);
    sf_writef_short(f, pcm.data(), frames);
    sf_close(f);
    // The reference: the same decoder over the same file.
    SF_INFO readInfo = {};
    f = sf_open(mp3.c_str(), SFM_READ, &readInfo);
    ASSERT_NE(f, nullptr);
    std::vector<int16_t> ref((size_t)readInfo.frames * 2 + 2 * 48000);
    sf_count_t decoded = sf_readf_short(f, ref.data(), (sf_count_t)ref.size() / 2);
    sf_close(f);
    ref.resize((size_t)decoded * 2);
    ASSERT_GT(decoded, 48000);

    // Plain, and packed: a packed applet is unpacked into memory that start-up frees
    // unless a loaded object still reads it, as a playing music does.
    for (const char *pack : {"", " --pack"}) {
        SCOPED_TRACE(pack);
        std::string lva = dir.File("mp3.lva");
        std::string link = "'" + std::string(LV_BIN_DIR) + "/lvlink' applet '" + LV_BUILD_DIR +
                           "/tests/media/applets/mp3music.lvc' -l '" + LV_BUILD_DIR +
                           "/tests/media/applets/mp3music.labels' -o '" + lva + "' --object 3:1:song.mp3:" + mp3 + pack;
        ASSERT_EQ(std::system(link.c_str()), 0) << link;
        std::string tmp = dir.File("tmp");
        ASSERT_EQ(std::system(("rm -rf '" + tmp + "' && mkdir '" + tmp + "'").c_str()), 0);
        std::string wav = dir.File("out.wav");
        AppletRun run = RunRuntimeCommand("cd '" + dir.path + "' && TMPDIR='" + tmp + "' LUMIVARRA_AUDIO='null:" + wav +
                                          "' timeout --preserve-status -k 5 60 '" + LV_BIN_DIR + "/lumivarra' '" +
                                          lva + "'");
        ASSERT_EQ(run.exitCode, 0) << run.err;
        std::vector<std::string> want = {"MPEG audio " + std::to_string(readInfo.frames)};
        EXPECT_EQ(run.lines, want) << run.err;
        int left = 0;
        if (DIR *d = opendir(tmp.c_str())) {
            while (dirent *e = readdir(d))
                if (e->d_name[0] != '.') left++;
            closedir(d);
        }
        EXPECT_EQ(left, 0) << "a temporary file was left";
        Bytes b = ReadFileBytes(wav);
        std::vector<int16_t> out;
        for (size_t i = 44; i + 1 < b.size(); i += 2) out.push_back((int16_t)(b[i] | b[i + 1] << 8));
        long start = FirstSound(out), refStart = FirstSound(ref);
        ASSERT_GE(start, 0);
        ASSERT_GE(refStart, 0);
        long n = (long)ref.size() / 2 - refStart;
        ASSERT_GE((long)out.size() / 2 - start, n);
        for (long i = 0; i < 2 * n; i++) ASSERT_EQ(out[2 * start + i], ref[2 * refStart + i]) << i;
    }
}

} // namespace

// media_native_test.cpp - the "native" decoder: FLAC, float WAVE, Ogg Vorbis and MP3
// files written by libsndfile here (a format whose encoder is missing is skipped) load as
// samples and stream as sources with the same frames; lossless ones give the written
// values back; seeking; a file with more than two channels is refused.
#include "media/lvsound.h"
#include "base/lverrors.h"
#include "media_fixtures.h"
#include <cmath>
#include <gtest/gtest.h>
#include <sndfile.h>

namespace {

std::vector<int16_t> Tone(int frames, int channels)
{
    std::vector<int16_t> v;
    for (int i = 0; i < frames; i++)
        for (int c = 0; c < channels; c++) v.push_back((int16_t)(8000 * std::sin(i * (0.05 + 0.03 * c))));
    return v;
}

// Writes the frames in a libsndfile format; false when this libsndfile cannot.
bool Encode(const std::string &path, int format, int rate, int channels, const std::vector<int16_t> &pcm)
{
    SF_INFO info = {};
    info.samplerate = rate;
    info.channels = channels;
    info.format = format;
    if (!sf_format_check(&info)) return false;
    SNDFILE *f = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!f) return false;
    sf_writef_short(f, pcm.data(), (sf_count_t)(pcm.size() / channels));
    sf_close(f);
    return true;
}

TEST(NativeDecoder, FormatsLoadAndStreamAlike)
{
    struct Case {
        const char *name;
        int format;
        bool lossless;
        const char *type;
    } cases[] = {
        {"t.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, true, "FLAC"},
        {"t.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, true, "RIFF WAVE"},
        {"t.ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS, false, "Ogg Vorbis"},
        {"t.mp3", SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III, false, "MPEG audio"},
    };
    MediaScratch dir;
    const int frames = 22050, channels = 2;
    std::vector<int16_t> pcm = Tone(frames, channels);
    int ran = 0;
    for (const Case &c : cases) {
        std::string path = dir.File(c.name);
        if (!Encode(path, c.format, 44100, channels, pcm)) continue;
        ran++;
        lvLoadedSample loaded;
        ASSERT_EQ(LoadSampleFile(path.c_str(), "native", nullptr, nullptr, &loaded), 0) << c.name;
        EXPECT_STREQ(loaded.typeName, c.type);
        EXPECT_EQ(loaded.rate, 44100);
        const lvSampleBuffer *b = loaded.sample;
        ASSERT_EQ(b->channels, 2);
        ASSERT_EQ(b->bits, 16);
        const int16_t *whole = (const int16_t *)b->data;
        if (c.lossless) {
            ASSERT_EQ(b->frames, frames) << c.name;
            for (int i = 0; i < frames * channels; i++) ASSERT_NEAR(whole[i], pcm[i], 1) << c.name << " " << i;
        }
        // Streamed in odd pieces: the same frames.
        lvSoundSource *s = nullptr;
        ASSERT_EQ(OpenSoundSource(path.c_str(), "native", nullptr, nullptr, 0, 0, 1, &s, nullptr), 0);
        EXPECT_EQ(s->kind, LV_SRC_NATIVE);
        std::vector<int16_t> streamed;
        std::vector<int16_t> piece(2 * 777);
        for (;;) {
            int ended = 0;
            int64_t got = ReadSoundSource(s, piece.data(), 777, &ended);
            streamed.insert(streamed.end(), piece.begin(), piece.begin() + got * 2);
            if (ended || got <= 0) break;
        }
        ASSERT_EQ((int64_t)streamed.size(), b->frames * 2) << c.name;
        EXPECT_TRUE(std::equal(streamed.begin(), streamed.end(), whole)) << c.name;
        if (s->canSeek && c.lossless) {
            SeekSoundSource(s, 1000);
            int ended = 0;
            ASSERT_EQ(ReadSoundSource(s, piece.data(), 10, &ended), 10);
            for (int i = 0; i < 20; i++) EXPECT_NEAR(piece[i], pcm[2000 + i], 1) << c.name;
        }
        FreeSoundSource(s);
        DisposeSampleBuffer(loaded.sample);
    }
    if (!ran) GTEST_SKIP() << "no encoder in this libsndfile";
}

TEST(NativeDecoder, MoreThanTwoChannelsAndNoiseAreRefused)
{
    MediaScratch dir;
    std::string path = dir.File("quad.flac");
    if (!Encode(path, SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 8000, 4, Tone(100, 4))) GTEST_SKIP();
    lvSoundSource *s = nullptr;
    EXPECT_EQ(OpenSoundSource(path.c_str(), "native", nullptr, nullptr, 0, 0, 1, &s, nullptr), ERR_OPENSOUND2);
    WriteFileBytes(dir.File("noise.bin"), Bytes(5000, 0x5A));
    EXPECT_EQ(OpenSoundSource(dir.File("noise.bin").c_str(), "native", nullptr, nullptr, 0, 0, 1, &s, nullptr),
              ERR_OPENSOUND2);
}

} // namespace

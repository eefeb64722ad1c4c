// media_native_test.cpp - the "native" decoder: FLAC, float WAVE, Ogg Vorbis and MP3
// files written by libsndfile here (a format whose encoder is missing is skipped) load as
// samples and stream as sources with the same frames; lossless ones give the written
// values back; seeking; a file with more than two channels is refused.
#include "media/lvsound.h"
#include "media/media_internal.h"
#include "base/lverrors.h"
#include "media_fixtures.h"
#include <cmath>
#include <chrono>
#include <cstring>
#include <gtest/gtest.h>
#include <thread>
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
        // MPEG files carry their bitrate in the pre-scanned headers.
        if ((c.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_MPEG) EXPECT_GT(s->bitrate, 8000) << c.name;
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

// Polls the decode-ahead until the worker waits (ring two-thirds full or the decoder
// ended); false after ten seconds.
bool WaitDecoderPaused(lvSoundSource *s, int64_t *queued, int64_t *most)
{
    for (int i = 0; i < 10000; i++) {
        int paused = 0;
        if (GetNativeDecodeAhead(s, queued, most, &paused) && paused) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

// A streamed decode runs ahead of the reader by two to three seconds and no more: the
// worker pauses at two seconds queued and goes on once the reader took the queue below
// that; what the reader gets is the whole decode's frames in order.
TEST(NativeDecoder, StreamedDecodeStaysWithinThreeSecondsAhead)
{
    MediaScratch dir;
    const int rate = 8000, frames = 10 * rate;
    std::string path = dir.File("long.flac");
    std::vector<int16_t> pcm = Tone(frames, 2);
    if (!Encode(path, SF_FORMAT_FLAC | SF_FORMAT_PCM_16, rate, 2, pcm)) GTEST_SKIP() << "no FLAC encoder";
    lvSoundSource *s = nullptr;
    ASSERT_EQ(OpenSoundSource(path.c_str(), "native", nullptr, nullptr, 0, 0, 1, &s, nullptr), 0);
    int64_t queued = 0, most = 0;
    int paused = 0;
    EXPECT_EQ(GetNativeDecodeAhead(s, &queued, &most, &paused), 0) << "no worker before the first read";
    std::vector<int16_t> got((size_t)frames * 2 + 2);
    int64_t done = 0;
    int ended = 0;
    auto read = [&](int64_t n) {
        int64_t r = ReadSoundSource(s, got.data() + done * 2, n, &ended);
        ASSERT_EQ(r, n);
        done += r;
    };
    read(100);
    ASSERT_TRUE(WaitDecoderPaused(s, &queued, &most));
    EXPECT_GE(queued, 2 * rate);
    EXPECT_LE(most, 3 * rate);
    read(rate); // below two seconds: it decodes on and pauses again
    ASSERT_TRUE(WaitDecoderPaused(s, &queued, &most));
    EXPECT_GE(queued, 2 * rate);
    EXPECT_LE(most, 3 * rate);
    while (!ended) {
        int64_t r = ReadSoundSource(s, got.data() + done * 2, 777, &ended);
        ASSERT_GE(r, 0);
        if (r == 0 && !ended) FAIL() << "no end";
        done += r;
    }
    EXPECT_EQ(done, frames);
    ASSERT_TRUE(GetNativeDecodeAhead(s, &queued, &most, &paused));
    EXPECT_LE(most, 3 * rate);
    for (int i = 0; i < frames * 2; i++) ASSERT_NEAR(got[i], pcm[i], 1) << i;
    // A seek stops the worker; the next read decodes from the new place.
    SeekSoundSource(s, 4000);
    EXPECT_EQ(GetNativeDecodeAhead(s, &queued, &most, &paused), 0);
    done = 0;
    read(10);
    for (int i = 0; i < 20; i++) EXPECT_NEAR(got[i], pcm[8000 + i], 1) << i;
    FreeSoundSource(s); // with the worker running ahead
}

} // namespace

#include "media/lvmpegscan.h"

namespace {

struct ScanCase {
    const char *name;
    Bytes file;
    int64_t fileSize;
    bool ok;
    int kind;
    int64_t offset, samples, durationMs;
    int bitrate, rate, samplesPerFrame;
};

void Put32(Bytes &b, size_t at, uint32_t v)
{
    if (b.size() < at + 4) b.resize(at + 4, 0);
    b[at] = (uint8_t)(v >> 24), b[at + 1] = (uint8_t)(v >> 16), b[at + 2] = (uint8_t)(v >> 8), b[at + 3] = (uint8_t)v;
}

Bytes Frame(uint32_t header, size_t bytes = 600)
{
    Bytes b(bytes, 0);
    Put32(b, 0, header);
    return b;
}

Bytes WithTag(Bytes audio, bool footer)
{
    // Size 257 in syncsafe bytes: 0x00 0x00 0x02 0x01.
    Bytes tag = {'I', 'D', '3', 4, 0, (uint8_t)(footer ? 0x10 : 0), 0, 0, 2, 1};
    tag.resize(10 + 257 + (footer ? 10 : 0), 0);
    tag.insert(tag.end(), audio.begin(), audio.end());
    return tag;
}

Bytes Xing(uint32_t header, size_t at, uint32_t flags, uint32_t frames, uint32_t bytes)
{
    Bytes b = Frame(header);
    memcpy(b.data() + at, "Xing", 4);
    Put32(b, at + 4, flags);
    size_t field = at + 8;
    if (flags & 1) Put32(b, field, frames), field += 4;
    if (flags & 2) Put32(b, field, bytes);
    return b;
}

Bytes Vbri(uint32_t header, uint32_t bytes, uint32_t frames)
{
    Bytes b = Frame(header);
    memcpy(b.data() + 36, "VBRI", 4);
    Put32(b, 46, bytes);
    Put32(b, 50, frames);
    return b;
}

TEST(MpegScan, TagsHeadersXingAndVbri)
{
    const uint32_t mpeg1 = 0xFFFB9000;  // MPEG-1 layer III, 128 kbit/s, 44100 Hz, stereo
    const uint32_t mpeg2 = 0xFFF380C0;  // MPEG-2 layer III, 64 kbit/s, 22050 Hz, mono
    const uint32_t layer1 = 0xFFFF9000; // MPEG-1 layer I, 288 kbit/s, 44100 Hz
    ScanCase cases[] = {
        {"cbr", Frame(mpeg1), 441000, true, LV_MPEGSCAN_CBR, 0, 1215506, 27562, 128000, 44100, 1152},
        {"id3 footer", WithTag(Frame(mpeg1), true), 277 + 441000, true, LV_MPEGSCAN_CBR, 277, 1215506, 27562, 128000,
         44100, 1152},
        {"id3", WithTag(Frame(mpeg1), false), 267 + 441000, true, LV_MPEGSCAN_CBR, 267, 1215506, 27562, 128000, 44100,
         1152},
        {"xing frames", Xing(mpeg1, 36, 3, 1000, 400000), 500000, true, LV_MPEGSCAN_XING, 0, 1152000, 26122, 122500,
         44100, 1152},
        {"xing bytes only", Xing(mpeg1, 36, 2, 0, 400000), 441000, true, LV_MPEGSCAN_CBR, 0, 1215506, 27562, 128000,
         44100, 1152},
        {"mpeg-2 xing", Xing(mpeg2, 13, 1, 2000, 0), 96000, true, LV_MPEGSCAN_XING, 0, 1152000, 52244, 14700, 22050,
         576},
        {"xing zero frames", Xing(mpeg1, 36, 1, 0, 0), 1000, true, LV_MPEGSCAN_XING, 0, 0, 0, 128000, 44100, 1152},
        {"vbri", Vbri(mpeg2, 200000, 2000), 300000, true, LV_MPEGSCAN_VBRI, 0, 1152000, 52244, 30625, 22050, 576},
        {"layer I", Frame(layer1), 36000, true, LV_MPEGSCAN_CBR, 0, 44100, 1000, 288000, 44100, 384},
        {"no sync", Bytes(600, 0x11), 600, false, 0, 0, 0, 0, 0, 0, 0},
        {"reserved version", Frame(0xFFE99000), 600, false, 0, 0, 0, 0, 0, 0, 0},
        {"tag past the end", Bytes({'I', 'D', '3', 3, 0, 0, 0, 0, 0x7F, 0x7F}), 10, false, 0, 0, 0, 0, 0, 0, 0},
    };
    for (const ScanCase &c : cases) {
        lvMpegScan s;
        ASSERT_EQ(ScanMpegAudio(c.file.data(), c.file.size(), c.fileSize, &s), c.ok) << c.name;
        if (!c.ok) continue;
        EXPECT_EQ(s.kind, c.kind) << c.name;
        EXPECT_EQ(s.audioOffset, c.offset) << c.name;
        EXPECT_EQ(s.samples, c.samples) << c.name;
        EXPECT_EQ(s.durationMs, c.durationMs) << c.name;
        EXPECT_EQ(s.bitrate, c.bitrate) << c.name;
        EXPECT_EQ(s.header.rate, c.rate) << c.name;
        EXPECT_EQ(s.header.samplesPerFrame, c.samplesPerFrame) << c.name;
    }
    lvMpegHeader h;
    ASSERT_TRUE(ParseMpegHeader(Frame(mpeg1).data(), &h));
    EXPECT_EQ(h.frameBytes, 417);
    ASSERT_TRUE(ParseMpegHeader(Frame(mpeg2).data(), &h));
    EXPECT_EQ(h.frameBytes, 208);
    EXPECT_EQ(h.channels, 1);
}

} // namespace

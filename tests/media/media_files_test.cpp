// media_files_test.cpp - the RIFF WAVE and IFF 8SVX/16SV readers and writers: fixture
// bytes against hand-computed ones, a table of reader cases (accepted layouts, refusals,
// damaged size fields), round trips through both writers, padding, the 32-bit size limit,
// and libsndfile reading our files alike.
#include "media/lvsound.h"
#include "base/lverrors.h"
#include "tests/media/media_fixtures.h"
#include <cstring>
#include <gtest/gtest.h>
#include <sndfile.h>

namespace {

// ---- Fixtures against hand-computed bytes -------------------------------------------

TEST(MediaFixtures, WavBytesMatchTheLayout)
{
    WavFixture s;
    s.rate = 8000;
    Bytes got = MakeWav(s, {1, 2, 3});
    Bytes want = {'R', 'I', 'F', 'F', 39, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ', 16, 0, 0, 0,
                  1, 0, 1, 0, 0x40, 0x1F, 0, 0, 0x40, 0x1F, 0, 0, 1, 0, 8, 0,
                  'd', 'a', 't', 'a', 3, 0, 0, 0, 1, 2, 3};
    EXPECT_EQ(got, want);
}

TEST(MediaFixtures, IffBytesMatchTheLayout)
{
    SampleIffFixture s;
    s.rate = 8000;
    Bytes got = MakeIff(s, {0x80, 0x7F, 0x01});
    Bytes want = {'F', 'O', 'R', 'M', 0, 0, 0, 44, '8', 'S', 'V', 'X', 'V', 'H', 'D', 'R', 0, 0, 0, 20,
                  0, 0, 0, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0x1F, 0x40, 1, 0, 0, 1, 0, 0,
                  'B', 'O', 'D', 'Y', 0, 0, 0, 3, 0x80, 0x7F, 0x01, 0};
    EXPECT_EQ(got, want);
}

TEST(MediaFixtures, StereoSixteenIffCarriesChan)
{
    SampleIffFixture s;
    s.sixteen = true;
    s.chan = 6;
    s.rate = 22050;
    Bytes got = MakeIff(s, {0x12, 0x34, 0xAB, 0xCD});
    Bytes want = {'F', 'O', 'R', 'M', 0, 0, 0, 56, '1', '6', 'S', 'V', 'V', 'H', 'D', 'R', 0, 0, 0, 20,
                  0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0x56, 0x22, 1, 0, 0, 1, 0, 0,
                  'C', 'H', 'A', 'N', 0, 0, 0, 4, 0, 0, 0, 6,
                  'B', 'O', 'D', 'Y', 0, 0, 0, 4, 0x12, 0x34, 0xAB, 0xCD};
    EXPECT_EQ(got, want);
}

// ---- Reader table -------------------------------------------------------------------

struct Loaded {
    int code = -1, channels = 0, bits = 0, rate = 0, format = -1;
    int64_t frames = 0;
    Bytes data;
    std::string type;
};

Loaded Load(const MediaScratch &dir, const Bytes &file, const char *name = "sound")
{
    std::string path = dir.File(name);
    WriteFileBytes(path, file);
    lvLoadedSample out;
    Loaded l;
    l.code = LoadSampleFile(path.c_str(), "inbuilt", nullptr, nullptr, &out);
    if (l.code == 0) {
        l.channels = out.sample->channels;
        l.bits = out.sample->bits;
        l.rate = out.rate;
        l.format = out.format;
        l.frames = out.sample->frames;
        l.data.assign(out.sample->data, out.sample->data + out.bytes);
        l.type = out.typeName;
        DisposeSampleBuffer(out.sample);
    }
    return l;
}

struct ReaderCase {
    const char *name;
    Bytes file;
    int code = 0, channels = 0, bits = 0, rate = 0;
    int64_t frames = 0;
    Bytes data = {}; // the platform sample's bytes: unsigned 8-bit, little-endian 16-bit
};

Bytes Odd(const char *id, size_t n) { return Chunk(id, Bytes(n, 0x55), false); }

std::vector<ReaderCase> ReaderCases()
{
    std::vector<ReaderCase> c;
    auto wav = [](auto tweak, Bytes data) {
        WavFixture s;
        tweak(s);
        return MakeWav(s, data);
    };
    auto iff = [](auto tweak, Bytes body) {
        SampleIffFixture s;
        tweak(s);
        return MakeIff(s, body);
    };
    c.push_back({"wav 8 mono", wav([](WavFixture &) {}, {0, 128, 255}), 0, 1, 8, 8000, 3, {0, 128, 255}});
    c.push_back({"wav 16 stereo", wav([](WavFixture &s) { s.channels = 2, s.bits = 16, s.rate = 44100; },
                                     {1, 2, 3, 4, 5, 6, 7, 8}),
                 0, 2, 16, 44100, 2, {1, 2, 3, 4, 5, 6, 7, 8}});
    c.push_back({"wav fmt 18", wav([](WavFixture &s) { s.fmtSize = 18; }, {9, 8}), 0, 1, 8, 8000, 2, {9, 8}});
    c.push_back({"wav fmt 40", wav([](WavFixture &s) { s.fmtSize = 40; }, {9, 8}), 0, 1, 8, 8000, 2, {9, 8}});
    c.push_back({"wav odd LIST before data", wav([](WavFixture &s) { s.before = Odd("LIST", 5); }, {7, 6, 5}),
                 0, 1, 8, 8000, 3, {7, 6, 5}});
    c.push_back({"wav fmt 20 refused", wav([](WavFixture &s) { s.fmtSize = 20; }, {1}), ERR_OPENSOUND2});
    c.push_back({"wav tag 3 refused", wav([](WavFixture &s) { s.tag = 3; }, {1, 2, 3, 4}), ERR_OPENSOUND2});
    c.push_back({"wav 24-bit refused", wav([](WavFixture &s) { s.bits = 24; }, {1, 2, 3}), ERR_OPENSOUND2});
    c.push_back({"wav 3 channels refused", wav([](WavFixture &s) { s.channels = 3; }, {1, 2, 3}), ERR_OPENSOUND2});
    c.push_back({"wav data before fmt refused", wav([](WavFixture &s) { s.fmtFirst = false; }, {1, 2}), ERR_OPENSOUND2});
    c.push_back({"wav rate 0 refused", wav([](WavFixture &s) { s.rate = 0; }, {1, 2}), ERR_OPENSOUND2});
    c.push_back({"wav data size past the end is cut",
                 wav([](WavFixture &s) { s.bits = 16, s.declaredData = 1000000; }, {1, 2, 3, 4, 5}),
                 0, 1, 16, 8000, 2, {1, 2, 3, 4}});
    c.push_back({"wav empty data", wav([](WavFixture &) {}, {}), ERR_STREAMASSAMPLE});
    c.push_back({"8svx mono", iff([](SampleIffFixture &) {}, {0x80, 0, 0x7F}), 0, 1, 8, 8000, 3, {0, 128, 255}});
    c.push_back({"16sv stereo is de-planarised",
                 iff([](SampleIffFixture &s) { s.sixteen = true, s.chan = 6, s.rate = 11025; },
                     {0x00, 0x01, 0x00, 0x02, 0xFF, 0xFF, 0x80, 0x00}),
                 0, 2, 16, 11025, 2, {0x01, 0x00, 0xFF, 0xFF, 0x02, 0x00, 0x00, 0x80}});
    c.push_back({"8svx CHAN 2 reads mono", iff([](SampleIffFixture &s) { s.chan = 2; }, {0, 1}), 0, 1, 8, 8000, 2, {128, 129}});
    c.push_back({"8svx odd chunk before BODY", iff([](SampleIffFixture &s) { s.before = Chunk("ANNO", Bytes(3, 'x'), true); }, {5}),
                 0, 1, 8, 8000, 1, {133}});
    c.push_back({"8svx VHDR 24 refused", iff([](SampleIffFixture &s) { s.vhdrSize = 24; }, {1}), ERR_OPENSOUND2});
    c.push_back({"8svx compression 1 refused", iff([](SampleIffFixture &s) { s.compression = 1; }, {1}), ERR_OPENSOUND2});
    c.push_back({"8svx rate 0 refused", iff([](SampleIffFixture &s) { s.rate = 0; }, {1}), ERR_OPENSOUND2});
    c.push_back({"8svx BODY past the end is cut", iff([](SampleIffFixture &s) { s.declaredBody = 70000; }, {0, 1}),
                 0, 1, 8, 8000, 2, {128, 129}});
    c.push_back({"16sv stereo BODY past the end keeps whole right samples",
                 iff([](SampleIffFixture &s) { s.sixteen = true, s.chan = 6, s.declaredBody = 8; }, {0, 1, 0, 2, 0, 3}),
                 0, 2, 16, 8000, 1, {1, 0, 3, 0}});
    Bytes mk(1084, 0);
    memcpy(mk.data() + 1080, "M.K.", 4);
    c.push_back({"module falls through", mk, ERR_OPENSOUND2});
    c.push_back({"short junk", Bytes{'R', 'I', 'F', 'F'}, ERR_OPENSOUND2});
    return c;
}

TEST(MediaReaders, TableOfFiles)
{
    MediaScratch dir;
    for (const ReaderCase &c : ReaderCases()) {
        SCOPED_TRACE(c.name);
        Loaded l = Load(dir, c.file);
        ASSERT_EQ(l.code, c.code);
        if (c.code) continue;
        EXPECT_EQ(l.channels, c.channels);
        EXPECT_EQ(l.bits, c.bits);
        EXPECT_EQ(l.rate, c.rate);
        EXPECT_EQ(l.frames, c.frames);
        EXPECT_EQ(l.data, c.data);
    }
}

TEST(MediaReaders, NamesAndIsSampleFile)
{
    MediaScratch dir;
    WavFixture w;
    SampleIffFixture i;
    i.sixteen = true;
    EXPECT_EQ(Load(dir, MakeWav(w, {1})).type, "RIFF WAVE");
    EXPECT_EQ(Load(dir, MakeIff(SampleIffFixture{}, {1})).type, "IFF 8SVX");
    EXPECT_EQ(Load(dir, MakeIff(i, {1, 2})).type, "IFF 16SV");
    WriteFileBytes(dir.File("ok"), MakeWav(w, {1, 2}));
    WriteFileBytes(dir.File("empty"), MakeWav(w, {}));
    EXPECT_TRUE(IsSampleFile(dir.File("ok").c_str(), "inbuilt", nullptr, nullptr));
    EXPECT_FALSE(IsSampleFile(dir.File("empty").c_str(), "inbuilt", nullptr, nullptr));
    EXPECT_FALSE(IsSampleFile(dir.File("missing").c_str(), "inbuilt", nullptr, nullptr));
    lvLoadedSample out;
    EXPECT_EQ(LoadSampleFile(dir.File("missing").c_str(), "inbuilt", nullptr, nullptr, &out), ERR_READFILE);
}

// Reading in pieces crosses the planes of stereo IFF correctly and reports the end.
TEST(MediaReaders, SourceReadsInPiecesAndSeeks)
{
    MediaScratch dir;
    SampleIffFixture s;
    s.chan = 6;
    Bytes body = {0, 1, 2, 3, 10, 11, 12, 13}; // left 0..3, right 10..13
    WriteFileBytes(dir.File("st"), MakeIff(s, body));
    lvSoundSource *src = nullptr;
    ASSERT_EQ(OpenSoundSource(dir.File("st").c_str(), "inbuilt", nullptr, nullptr, 0, 0, 1, &src, nullptr), 0);
    uint8_t buf[16];
    int ended = -1;
    EXPECT_EQ(ReadSoundSource(src, buf, 3, &ended), 3);
    EXPECT_EQ(ended, 0);
    EXPECT_EQ(Bytes(buf, buf + 6), (Bytes{128, 138, 129, 139, 130, 140}));
    EXPECT_EQ(ReadSoundSource(src, buf, 3, &ended), 1);
    EXPECT_EQ(ended, 1);
    EXPECT_EQ(Bytes(buf, buf + 2), (Bytes{131, 141}));
    SeekSoundSource(src, 1);
    EXPECT_EQ(ReadSoundSource(src, buf, 1, &ended), 1);
    EXPECT_EQ(Bytes(buf, buf + 2), (Bytes{129, 139}));
    SeekSoundSource(src, 4); // not below the total: ignored
    EXPECT_EQ(src->position, 2);
    FreeSoundSource(src);
}

// ---- Writers ------------------------------------------------------------------------

// A platform sample of code with a recognisable ramp.
lvSampleBuffer *Ramp(int code, int frames, int rate)
{
    int frameSize = GetSampleFrameSize(code);
    uint8_t *data = (uint8_t *)AllocMemory((size_t)(frames * frameSize), 0);
    for (int i = 0; i < frames * frameSize; i++) data[i] = (uint8_t)(i * 37 + 11);
    lvSampleBuffer *s = nullptr;
    EXPECT_EQ(NewSampleBuffer(data, frames, rate, code, &s), 0);
    return s;
}

TEST(MediaWriters, RoundTripEveryLayoutAndLibsndfileAgrees)
{
    MediaScratch dir;
    for (int format : {LV_SAVE_WAVE, LV_SAVE_IFF}) {
        for (int code : {LV_SMP_U8_MONO, LV_SMP_U8_STEREO, LV_SMP_S16_MONO, LV_SMP_S16_STEREO}) {
            SCOPED_TRACE(testing::Message() << "format " << format << " code " << code);
            lvSampleBuffer *s = Ramp(code, 100, 22050);
            std::string path = dir.File(format ? "rt.iff" : "rt.wav");
            ASSERT_EQ(SaveSampleBuffer(s, 22050, path.c_str(), format, nullptr, nullptr, -1, -1), 0);
            Loaded l = Load(dir, ReadFileBytes(path), "copy");
            ASSERT_EQ(l.code, 0);
            EXPECT_EQ(l.format, code);
            EXPECT_EQ(l.rate, 22050);
            EXPECT_EQ(l.data, Bytes(s->data, s->data + s->frames * s->bytesPerFrame));

            // libsndfile takes stereo 8SVX/16SV bodies as interleaved, where the format
            // (and our reader) keeps planes; it is the outside judge of the rest.
            if (format == LV_SAVE_IFF && s->channels == 2) {
                DisposeSampleBuffer(s);
                continue;
            }
            SF_INFO info = {};
            SNDFILE *sf = sf_open(path.c_str(), SFM_READ, &info);
            ASSERT_NE(sf, nullptr) << sf_strerror(nullptr);
            EXPECT_EQ(info.frames, 100);
            EXPECT_EQ(info.channels, s->channels);
            EXPECT_EQ(info.samplerate, 22050);
            std::vector<short> pcm((size_t)(100 * s->channels));
            EXPECT_EQ(sf_readf_short(sf, pcm.data(), 100), 100);
            sf_close(sf);
            for (size_t i = 0; i < pcm.size(); i++) {
                int ours = s->bits == 8 ? (s->data[i] - 128) * 256 : (int16_t)(s->data[2 * i] | s->data[2 * i + 1] << 8);
                ASSERT_EQ(pcm[i], ours) << "value " << i;
            }
            DisposeSampleBuffer(s);
        }
    }
}

TEST(MediaWriters, WaveBodyPadsToFourBytes)
{
    MediaScratch dir;
    struct {
        int frames;
        size_t fileSize;
        uint32_t riffSize;
    } cases[] = {{3, 48, 40}, {5, 52, 44}, {4, 48, 40}};
    for (auto &c : cases) {
        lvSampleBuffer *s = Ramp(LV_SMP_U8_MONO, c.frames, 8000);
        std::string path = dir.File("pad.wav");
        ASSERT_EQ(SaveSampleBuffer(s, 8000, path.c_str(), LV_SAVE_WAVE, nullptr, nullptr, -1, -1), 0);
        Bytes b = ReadFileBytes(path);
        ASSERT_EQ(b.size(), c.fileSize) << c.frames;
        EXPECT_EQ(b[4] | b[5] << 8, (int)c.riffSize);
        EXPECT_EQ(b[40], c.frames); // the data size stays unpadded
        for (size_t i = 44 + c.frames; i < b.size(); i++) EXPECT_EQ(b[i], 0);
        DisposeSampleBuffer(s);
    }
}

TEST(MediaWriters, IffHeaderFieldsAndOddPad)
{
    MediaScratch dir;
    lvSampleBuffer *s = Ramp(LV_SMP_U8_MONO, 3, 8000);
    std::string path = dir.File("odd.8svx");
    ASSERT_EQ(SaveSampleBuffer(s, 8000, path.c_str(), LV_SAVE_IFF, nullptr, nullptr, -1, -1), 0);
    SampleIffFixture fixture;
    Bytes body;
    for (int i = 0; i < 3; i++) body.push_back((uint8_t)(s->data[i] - 128));
    EXPECT_EQ(ReadFileBytes(path), MakeIff(fixture, body));
    DisposeSampleBuffer(s);
}

// Past the 32-bit size fields the header would wrap: the writer stops at the limit.
TEST(MediaWriters, DataPastTheSizeLimitIsAWriteError)
{
    MediaScratch dir;
    SetSampleWriterLimitForTests(10);
    for (int format : {LV_SAVE_WAVE, LV_SAVE_IFF}) {
        lvSampleWriter *w = nullptr;
        std::string path = dir.File("limit");
        ASSERT_EQ(OpenSampleWriter(path.c_str(), nullptr, nullptr, format, 8000, 1, 8, -1, -1, 0, 0, &w), 0);
        uint8_t data[8] = {1, 2, 3, 4, 5, 6, 7, 8};
        EXPECT_EQ(WriteSampleWriter(w, data, 8), 0);
        EXPECT_EQ(WriteSampleWriter(w, data, 4), ERR_WRITE);
        EXPECT_EQ(CloseSampleWriter(w), 0);
        Loaded l = Load(dir, ReadFileBytes(path), "limit2");
        ASSERT_EQ(l.code, 0);
        EXPECT_EQ(l.frames, 8); // what was accepted stays a whole, valid file
    }
    SetSampleWriterLimitForTests(0);
}

TEST(MediaWriters, UnknownFormatAndUnwritablePath)
{
    lvSampleWriter *w = nullptr;
    EXPECT_EQ(OpenSampleWriter("/tmp/x.smp", nullptr, nullptr, 100, 8000, 1, 8, -1, -1, 0, 0, &w), ERR_UNKNOWNSMPOUT);
    EXPECT_EQ(OpenSampleWriter("/nonexistent-dir/x.wav", nullptr, nullptr, 0, 8000, 1, 8, -1, -1, 0, 0, &w),
              ERR_WRITEFILE);
    EXPECT_EQ(OpenSampleWriter("/tmp/x.wav", nullptr, nullptr, 0, 8000, 1, 24, -1, -1, 0, 0, &w), ERR_WRONGUSAGE);
}

// ---- Format codes -------------------------------------------------------------------

TEST(MediaFormats, CodesAndScriptConstants)
{
    struct {
        int channels, bits;
        uint32_t flags;
        int code, frameSize;
    } rows[] = {{1, 8, 0, 0, 1}, {2, 8, 0, 1, 2}, {1, 8, 2, 2, 1}, {2, 8, 2, 3, 2},
                {1, 16, 0, 4, 2}, {2, 16, 0, 5, 4}, {3, 16, 0, 4, 2}, {1, 24, 0, -1, 0}};
    for (auto &r : rows) {
        EXPECT_EQ(ComputeSampleFormat(r.channels, r.bits, r.flags), r.code);
        EXPECT_EQ(GetSampleFrameSize(r.code), r.frameSize);
    }
    EXPECT_EQ(ScriptToEngineFormat(0), 2);
    EXPECT_EQ(ScriptToEngineFormat(3), 5);
    EXPECT_EQ(ScriptToEngineFormat(4), -1);
    EXPECT_EQ(EngineToScriptFormat(1), 2);
    EXPECT_EQ(EngineToScriptFormat(4), 1);
    // Signed 8-bit data becomes the unsigned code of a platform sample.
    uint8_t *d = (uint8_t *)AllocMemory(2, 0);
    d[0] = 0x80, d[1] = 0x7F;
    lvSampleBuffer *s = nullptr;
    ASSERT_EQ(NewSampleBuffer(d, 1, 8000, LV_SMP_S8_STEREO, &s), 0);
    EXPECT_EQ(s->format, LV_SMP_U8_STEREO);
    EXPECT_EQ(s->data[0], 0);
    EXPECT_EQ(s->data[1], 255);
    DisposeSampleBuffer(s);
}

} // namespace

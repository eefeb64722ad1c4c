// media_samples_test.cpp - the sample operations behind MixSample, InsertSample and the
// frame copy: exact output bytes against values computed by hand.
#include "media/lvsamples.h"
#include "base/lverrors.h"
#include <cstring>
#include <gtest/gtest.h>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

// A platform sample of signed script values in engine code 2..5 (8-bit data is stored
// unsigned by NewSampleBuffer).
lvSampleBuffer *Make(int code, std::vector<int> values, int rate = 8000)
{
    int frameSize = GetSampleFrameSize(code);
    int channels = (code == 3 || code == 5) ? 2 : 1;
    int64_t frames = (int64_t)values.size() / channels;
    uint8_t *d = (uint8_t *)AllocMemory((size_t)(frames * frameSize), 0);
    for (size_t i = 0; i < values.size(); i++) {
        if (code >= 4) d[2 * i] = (uint8_t)values[i], d[2 * i + 1] = (uint8_t)((uint16_t)values[i] >> 8);
        else d[i] = (uint8_t)(int8_t)values[i];
    }
    lvSampleBuffer *s = nullptr;
    EXPECT_EQ(NewSampleBuffer(d, frames, rate, code, &s), 0);
    return s;
}

Bytes Mix(std::vector<lvMixSource> sources, int64_t frames, int code)
{
    uint8_t *out = nullptr;
    EXPECT_EQ(MixSampleSources(sources.data(), (int)sources.size(), frames, 8000, code, &out), 0);
    Bytes b(out, out + frames * GetSampleFrameSize(code));
    FreeMemory(out);
    return b;
}

lvMixSource Source(const lvSampleBuffer *s) { return {s, 8000, 0, 0, -1, 1, 1.0}; }

TEST(MediaSamples, MixSampleBytes)
{
    lvSampleBuffer *a = Make(2, {10, 20, 30});             // signed 8-bit mono
    lvSampleBuffer *b = Make(4, {1000, -2000});            // 16-bit mono
    lvSampleBuffer *st = Make(5, {100, -100, 200, -200});  // 16-bit stereo
    struct Case {
        const char *name;
        std::vector<lvMixSource> sources;
        int64_t frames;
        int code;
        Bytes want;
    };
    lvMixSource noLoop = Source(a);
    noLoop.loop = 0;
    lvMixSource late = Source(a);
    late.threshold = 2;
    lvMixSource half = Source(b);
    half.scale = 0.5;
    lvMixSource slow = Source(a);
    slow.pitch = 4000; // each source frame twice
    Case cases[] = {
        // 8-bit mono out: (left + right) >> 17 of value * 65536 on both sides = the value.
        {"copy 8-bit", {Source(a)}, 3, 2, {10, 20, 30}},
        {"loop wraps", {Source(a)}, 5, 2, {10, 20, 30, 10, 20}},
        {"no loop: silence after the end", {noLoop}, 5, 2, {10, 20, 30, 0, 0}},
        {"threshold 2", {late}, 5, 2, {0, 0, 10, 20, 30}},
        {"half rate", {slow}, 4, 2, {10, 10, 20, 20}},
        // 16-bit mono out: (left + right) >> 9 of value * 256 = the value; 8-bit 10 -> 2560.
        {"8-bit into 16-bit", {Source(a)}, 1, 4, {0x00, 0x0A}},
        {"scale 0.5", {half}, 2, 4, {0xF4, 0x01, 0x18, 0xFC}},
        {"sum of two", {Source(a), Source(b)}, 1, 4, {0xE8, 0x0D}}, // 2560 + 1000 = 3560
        // Stereo 16-bit out keeps the sides.
        {"stereo 16", {Source(st)}, 2, 5, {100, 0, 0x9C, 0xFF, 200, 0, 0x38, 0xFF}},
        // Stereo 8-bit out: >> 16 each side; 16-bit 200 * 256 >> 16 = 0.
        {"stereo 8 from mono 8", {Source(a)}, 1, 3, {10, 10}},
    };
    for (const Case &c : cases) EXPECT_EQ(Mix(c.sources, c.frames, c.code), c.want) << c.name;
    // Sums past the 24-bit range are clamped, not wrapped.
    lvSampleBuffer *loud = Make(4, {30000});
    lvMixSource l1 = Source(loud), l2 = Source(loud);
    EXPECT_EQ(Mix({l1, l2}, 1, 4), (Bytes{0xFF, 0x7F}));
    for (lvSampleBuffer *s : {a, b, st, loud}) DisposeSampleBuffer(s);
}

TEST(MediaSamples, FrameCopyAndInsertion)
{
    lvSampleBuffer *src = Make(5, {256, -256, 512, -512, 768, -768}); // stereo 16-bit, 3 frames
    // Into unsigned 8-bit mono: the left side / 256 + 128.
    uint8_t out[8];
    lvFrameCopyOptions o;
    InitFrameCopyOptions(&o);
    ASSERT_EQ(CopySampleFrames(src, &o, 8, 0, 1, 5, out), 0);
    EXPECT_EQ(Bytes(out, out + 5), (Bytes{129, 130, 131, 129, 130}));
    o.loop = 0;
    o.start = 1;
    ASSERT_EQ(CopySampleFrames(src, &o, 8, 0, 1, 4, out), 0);
    EXPECT_EQ(Bytes(out, out + 4), (Bytes{130, 131, 128, 128}));
    struct {
        int64_t offset, start, end;
    } bad[] = {{-1, 0, 0}, {0, -1, 0}, {0, 0, -1}, {0, 2, 2}, {0, 0, 4}};
    for (auto &r : bad) {
        InitFrameCopyOptions(&o);
        o.offset = r.offset, o.start = r.start, o.end = r.end;
        EXPECT_EQ(CopySampleFrames(src, &o, 8, 0, 1, 1, out), ERR_SMPRANGE);
    }

    lvSample target = {}, source = {};
    target.buffer = Make(2, {1, 2, 3});
    source.buffer = Make(2, {-5, -6});
    InitFrameCopyOptions(&o);
    ASSERT_EQ(InsertSampleFrames(&target, &source, 1, 0, &o), 0);
    std::vector<int> got;
    for (int64_t f = 0; f < target.buffer->frames; f++) got.push_back(SampleValue16(target.buffer, f, 0) / 256);
    EXPECT_EQ(got, (std::vector<int>{1, -5, -6, 2, 3}));
    EXPECT_EQ(target.bytes, 5);
    // A position past the end appends; frames beyond the source take all of it.
    ASSERT_EQ(InsertSampleFrames(&target, &source, 99, 7, &o), 0);
    EXPECT_EQ(target.buffer->frames, 7);
    EXPECT_EQ(SampleValue16(target.buffer, 6, 0) / 256, -6);
    DisposeSampleBuffer(target.buffer);
    DisposeSampleBuffer(source.buffer);
    DisposeSampleBuffer(src);
}

} // namespace

// audio_bench.cpp - megabytes a second of LoadSampleFile on 60 s of 44.1 kHz sound (WAVE
// 16-bit stereo, WAVE 8-bit mono, 16SV stereo) beside libsndfile reading the same file
// whole with sf_readf_short into a block it allocates (as a load does), measured in the
// same run, with the ratio ours / peer (goal
// 1.0 or more for 16-bit WAVE); and the mixer with 32 voices resampled 22050 -> 48000 Hz
// as a multiple of real time (goal 100 or more).
//
// The files are written by our own writers into a temporary folder.
// Depends on: lv_media, libsndfile. Run: build-bench/bin/audio_bench [rounds]
#include "media/lvaudio.h"
#include "media/lvsound.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <sndfile.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

int rounds = 5;

double Seconds(const std::function<void()> &job)
{
    auto start = std::chrono::steady_clock::now();
    job();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Ours and the peer take turns; the best round of each counts.
void Row(const char *name, double megabytes, const std::function<void()> &ours, const std::function<void()> &peer)
{
    ours();
    peer();
    double a = 1e9, b = 1e9;
    for (int i = 0; i < rounds; i++) {
        a = std::min(a, Seconds(ours));
        b = std::min(b, Seconds(peer));
    }
    std::printf("%-26s LoadSampleFile %8.1f MB/s   sf_readf_short %8.1f MB/s   ratio %.2f\n", name, megabytes / a,
                megabytes / b, b / a);
}

lvSampleBuffer *Noise(int code, int64_t frames, int rate)
{
    int64_t bytes = frames * GetSampleFrameSize(code);
    uint8_t *d = (uint8_t *)AllocMemory((size_t)bytes, 0);
    uint32_t x = 12345;
    for (int64_t i = 0; i < bytes; i++) {
        x = x * 1664525u + 1013904223u;
        d[i] = (uint8_t)(x >> 24);
    }
    lvSampleBuffer *s = nullptr;
    NewSampleBuffer(d, frames, rate, code, &s);
    return s;
}

void FileRow(const char *name, const std::string &path, int code, int format)
{
    lvSampleBuffer *s = Noise(code, 44100LL * 60, 44100);
    if (SaveSampleBuffer(s, 44100, path.c_str(), format, nullptr, nullptr, -1, -1)) {
        std::printf("%s: cannot write %s\n", name, path.c_str());
        return;
    }
    double megabytes = (double)(s->frames * s->bytesPerFrame) / 1e6;
    int channels = s->channels;
    DisposeSampleBuffer(s);
    Row(name, megabytes,
        [&] {
            lvLoadedSample loaded;
            if (LoadSampleFile(path.c_str(), "inbuilt", nullptr, nullptr, &loaded) == 0) DisposeSampleBuffer(loaded.sample);
        },
        [&] {
            // Like a load, the peer reads into a block it allocates for the sound.
            SF_INFO info = {};
            SNDFILE *f = sf_open(path.c_str(), SFM_READ, &info);
            if (!f) return;
            short *pcm = (short *)std::malloc((size_t)info.frames * (size_t)channels * sizeof(short));
            if (pcm) sf_readf_short(f, pcm, info.frames);
            std::free(pcm);
            sf_close(f);
        });
    unlink(path.c_str());
}

void MixerRow()
{
    enum { kVoices = 32 };
    lvChannel *table = (lvChannel *)AllocMemory(sizeof(lvChannel) * kVoices, 1);
    lvSampleBuffer *s = Noise(LV_SMP_S16_MONO, 22050 * 10, 22050);
    for (int i = 0; i < kVoices; i++) {
        lvVoice &v = table[i].voice;
        v.active = 1;
        v.data = s->data;
        v.format = s->format;
        v.frames = s->frames;
        v.lastPassFrames = s->frames;
        v.step = ((uint64_t)22050 << 32) / 48000;
        v.position = (uint64_t)(i * 1000) << 32;
        ComputeVoiceGains(40, i * 8, &v.gainLeft, &v.gainRight);
        v.passes = 0;
        v.pass = 1;
    }
    const int seconds = 20;
    std::vector<int16_t> out(1024 * 2);
    auto job = [&] {
        for (int n = 0; n < 48000 * seconds / 1024; n++) MixVoices(table, kVoices, out.data(), 1024);
    };
    job();
    double best = 1e9;
    for (int i = 0; i < rounds; i++) best = std::min(best, Seconds(job));
    std::printf("%-26s %d voices 22050 -> 48000 Hz: %.0f x real time\n", "mixer", kVoices, seconds / best);
    DisposeSampleBuffer(s);
    FreeMemory(table);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc > 1) rounds = std::max(1, std::atoi(argv[1]));
    char dirTemplate[] = "/tmp/lv_audio_bench_XXXXXX";
    const char *dir = mkdtemp(dirTemplate);
    if (!dir) return 1;
    std::string base = dir;
    FileRow("WAVE 16-bit stereo", base + "/a.wav", LV_SMP_S16_STEREO, LV_SAVE_WAVE);
    FileRow("WAVE 8-bit mono", base + "/b.wav", LV_SMP_U8_MONO, LV_SAVE_WAVE);
    FileRow("16SV stereo", base + "/c.16sv", LV_SMP_S16_STEREO, LV_SAVE_IFF);
    MixerRow();
    rmdir(dir);
    return 0;
}

// module_bench.cpp - the ProTracker player's speed as a multiple of real time, mixing a
// generated four-channel module (a note on every row and channel, effects, looping
// samples) to 44.1 kHz 16-bit stereo, beside libopenmpt (nearest and default
// interpolation) and libxmp (nearest) rendering the same module bytes in the same run;
// and the measuring run of a ten-minute module. Black-box peers: only their public APIs.
//
// Depends on: lv_media, the test module writer, libopenmpt, libxmp.
// Run: build-bench/bin/module_bench [seconds of audio per round]
#include "media/lvmodule.h"
#include "tests/media/module_fixture.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <libopenmpt/libopenmpt.h>
#include <vector>
#include <xmp.h>

namespace {

double Seconds(const std::function<void()> &job)
{
    auto start = std::chrono::steady_clock::now();
    job();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double Best(const std::function<void()> &job)
{
    double best = 1e9;
    for (int i = 0; i < 3; i++) best = std::min(best, Seconds(job));
    return best;
}

ModFixture GeneratedModule(int positions)
{
    static const int periods[] = {856, 762, 678, 640, 570, 508, 453, 428, 381, 339, 320, 285, 254, 226, 214, 190};
    static const int effects[][2] = {{0, 0x37}, {1, 2}, {2, 2}, {4, 0x46}, {0xA, 0x02}, {0xC, 0x30},
                                     {7, 0x34}, {0xE, 0x93}, {6, 0x01}, {0, 0}, {3, 8}, {0xA, 0x20}};
    ModFixture f;
    for (int s = 0; s < 4; s++) {
        ModSample sample;
        sample.data.resize(2048);
        for (int i = 0; i < 2048; i++)
            sample.data[i] = (int8_t)(s == 0 ? (i & 64 ? 100 : -100)
                                      : s == 1 ? (i * 3) % 200 - 100
                                      : s == 2 ? (int)(100 * std::sin(i * 0.1))
                                               : ((i * 7919) % 201) - 100);
        sample.volume = 48 + s * 4;
        sample.loopStartBytes = 512;
        sample.loopLengthBytes = 1536;
        f.samples.push_back(sample);
    }
    f.orders.clear();
    for (int p = 0; p < positions; p++) f.orders.push_back(p % 8);
    for (int pat = 0; pat < 8; pat++)
        for (int row = 0; row < 64; row++)
            for (int ch = 0; ch < 4; ch++) {
                int k = pat * 256 + row * 4 + ch;
                const int *e = effects[k % 12];
                f.At(pat, row, ch) = {periods[(k * 5) % 16], 1 + (k % 4), e[0], e[1]};
            }
    return f;
}

} // namespace

int main(int argc, char **argv)
{
    double audioSeconds = argc > 1 ? atof(argv[1]) : 60;
    const int rate = 44100;
    const int block = 4096;
    int64_t frames = (int64_t)(audioSeconds * rate);
    std::vector<uint8_t> bytes = MakeModule(GeneratedModule(16));
    std::vector<int16_t> out(2 * block);

    double ours = Best([&] {
        lvModulePlayer *p = nullptr;
        if (NewModulePlayer(bytes.data(), bytes.size(), rate, 0, &p)) abort();
        for (int64_t done = 0; done < frames; done += block) MixModule(p, out.data(), out.data() + 1, 4, block, 16, 2);
        FreeModulePlayer(p);
    });

    auto openmpt = [&](int filterLength) {
        return Best([&] {
            openmpt_module *m = openmpt_module_create_from_memory2(bytes.data(), bytes.size(), nullptr, nullptr, nullptr,
                                                                   nullptr, nullptr, nullptr, nullptr);
            if (!m) abort();
            openmpt_module_set_repeat_count(m, -1);
            openmpt_module_set_render_param(m, OPENMPT_MODULE_RENDER_INTERPOLATIONFILTER_LENGTH, filterLength);
            for (int64_t done = 0; done < frames; done += block)
                openmpt_module_read_interleaved_stereo(m, rate, block, out.data());
            openmpt_module_destroy(m);
        });
    };
    double mptNearest = openmpt(1), mptDefault = openmpt(0);

    double xmp = Best([&] {
        xmp_context c = xmp_create_context();
        if (xmp_load_module_from_memory(c, bytes.data(), (long)bytes.size()) < 0) abort();
        xmp_start_player(c, rate, 0);
        xmp_set_player(c, XMP_PLAYER_INTERP, XMP_INTERP_NEAREST);
        for (int64_t done = 0; done < frames; done += block) xmp_play_buffer(c, out.data(), block * 4, 0);
        xmp_end_player(c);
        xmp_release_module(c);
        xmp_free_context(c);
    });

    printf("MixModule, 4 channels, 44.1 kHz stereo, %.0f s of audio per round\n", audioSeconds);
    printf("  ours                      %8.1f x real time (goal 200)\n", audioSeconds / ours);
    printf("  libopenmpt nearest        %8.1f x real time   ours/peer %.2f\n", audioSeconds / mptNearest,
           mptNearest / ours);
    printf("  libopenmpt default        %8.1f x real time   ours/peer %.2f\n", audioSeconds / mptDefault,
           mptDefault / ours);
    printf("  libxmp nearest            %8.1f x real time   ours/peer %.2f\n", audioSeconds / xmp, xmp / ours);

    std::vector<uint8_t> tenMinutes = MakeModule(GeneratedModule(79)); // 79 x 7.68 s
    int64_t measured = 0;
    double t = Best([&] { measured = MeasureModuleFrames(tenMinutes.data(), tenMinutes.size()); });
    printf("Measuring run of a %.1f-minute module: %.3f s (%.0f x real time)\n", measured / 48000.0 / 60, t,
           measured / 48000.0 / t);
    return 0;
}

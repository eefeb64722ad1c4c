// media_samples_fuzz.cpp - the sample readers over arbitrary bytes held in a registered
// memory file: every accepted file is read in uneven pieces, sought, and loaded whole.
#include "media/lvsound.h"
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    char name[256];
    lvMemFile *node = AddMemoryFile("fuzz.snd", 1, data, (int64_t)size, -1, name, sizeof name);
    if (!node) return 0;
    lvSoundSource *source = nullptr;
    if (OpenSoundSource(name, "inbuilt", nullptr, nullptr, 0, 0, 1, &source, nullptr) == 0) {
        static uint8_t buffer[4 * 4096];
        int ended = 0;
        for (int round = 0; round < 64 && !ended; round++) {
            int64_t want = 1 + (round * 977) % 4096;
            if (ReadSoundSource(source, buffer, want, &ended) <= 0) break;
        }
        SeekSoundSource(source, source->totalFrames / 2);
        ReadSoundSource(source, buffer, 7, &ended);
        FreeSoundSource(source);
    }
    lvLoadedSample loaded;
    if (LoadSampleFile(name, "inbuilt", nullptr, nullptr, &loaded) == 0) DisposeSampleBuffer(loaded.sample);
    RemoveMemoryFile(node);
    return 0;
}

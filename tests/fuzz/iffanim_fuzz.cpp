// Fuzz target: IFF ANIM files from a memory file. Byte 0 picks the reader's modes, the
// bytes that follow up to the file pick the frames to fetch, in that order; the rest is
// the file.
#include "formats/lviffanim.h"

#include <cstdint>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 9) return 0;
    int modes = data[0];
    const uint8_t *order = data + 1;
    data += 9, size -= 9;
    // Pictures above 2^20 pixels only spend the run's time filling buffers.
    for (size_t i = 12; i + 12 <= size && i < 256; i++)
        if (std::memcmp(data + i, "BMHD", 4) == 0) {
            int64_t w = data[i + 8] << 8 | data[i + 9], h = data[i + 10] << 8 | data[i + 11];
            if (w * h > (1 << 18)) return 0;
            break;
        }
    char name[LV_PATH_SIZE];
    lvMemFile *node = AddMemoryFile("fuzz.anim", 0, data, (int64_t)size, -1, name, sizeof name);
    if (!node) return 0;
    if (lvVFile *file = OpenVFile(name, LV_VF_READ, nullptr, nullptr)) {
        int w, h, frames;
        if (lvIffAnimReader *r = OpenIffAnimReader(file, modes & 1, modes >> 1 & 1, modes >> 2 & 1, &w, &h, &frames)) {
            for (int i = 0; i < 8; i++) {
                uint32_t *palette = nullptr;
                int depth, pen;
                void *pixels = GetIffAnimFrame(r, frames ? order[i] % (frames + 1) : 0, &palette, &depth, &pen);
                FreeMemory(pixels);
                FreeMemory(palette);
                GetIffAnimDelay(r, order[i]);
            }
            CloseIffAnimReader(r);
        }
    }
    RemoveMemoryFile(node);
    return 0;
}

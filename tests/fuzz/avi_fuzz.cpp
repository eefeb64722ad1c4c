// Fuzz target: AVI files from a memory file. Bytes 0-7 are the frames to decode, in that
// order; the rest is the file.
#include "formats/lvavi.h"

#include <cstdint>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 8) return 0;
    const uint8_t *order = data;
    data += 8, size -= 8;
    // Pictures above 2^18 pixels only spend the run's time filling buffers.
    for (size_t i = 12; i + 48 <= size && i < 512; i++)
        if (std::memcmp(data + i, "avih", 4) == 0) {
            const uint8_t *p = data + i + 8 + 32;
            int64_t w = p[0] | p[1] << 8 | p[2] << 16, h = p[4] | p[5] << 8 | p[6] << 16;
            if (p[3] || p[7] || w * h > (1 << 18)) return 0;
            break;
        }
    char name[LV_PATH_SIZE];
    lvMemFile *node = AddMemoryFile("fuzz.avi", 0, data, (int64_t)size, -1, name, sizeof name);
    if (!node) return 0;
    if (lvVFile *file = OpenVFile(name, LV_VF_READ, nullptr, nullptr)) {
        int w, h, frames;
        if (lvAviReader *r = OpenAviReader(file, &w, &h, &frames)) {
            for (int i = 0; i < 8; i++) FreeMemory(DecodeAviFrame(r, order[i] % 16));
            CloseAviReader(r);
        }
    }
    RemoveMemoryFile(node);
    return 0;
}

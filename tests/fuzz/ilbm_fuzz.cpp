// Fuzz target: IFF ILBM and PBM pictures from a memory file. Bytes 0 and 1 are the
// request flags, byte 2 picks a caller palette and a colour key; the rest is the file.
#include "formats/lvilbm.h"

#include <cstdint>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 3) return 0;
    uint32_t flags = (uint32_t)data[0] | (uint32_t)(data[1] & 0x17) << 8;
    int extra = data[2];
    data += 3, size -= 3;
    // Pictures above 2^20 pixels only spend the run's time filling buffers.
    for (size_t i = 12; i + 12 <= size; i++)
        if (std::memcmp(data + i, "BMHD", 4) == 0) {
            int64_t w = data[i + 8] << 8 | data[i + 9], h = data[i + 10] << 8 | data[i + 11];
            if (w * h > (1 << 20)) return 0;
            break;
        }
    char name[LV_PATH_SIZE];
    lvMemFile *node = AddMemoryFile("fuzz.iff", 0, data, (int64_t)size, -1, name, sizeof name);
    if (!node) return 0;
    if (lvVFile *file = OpenVFile(name, LV_VF_READ, nullptr, nullptr)) {
        static const uint32_t callerPalette[] = {0x112233, 0x445566, 0xFFFFFFFFu};
        lvCycleRange ranges[128];
        int pen, w, h, depth, count;
        uint8_t *pixels = nullptr;
        uint32_t *palette = nullptr;
        bool pbm = size > 11 && data[8] == 'P';
        ReadIlbmFile(file, flags, pbm, (extra & 1) ? callerPalette : nullptr, (extra & 2) ? 0xA8A8A8 : -1, &pen, &w,
                     &h, &depth, &pixels, &palette, (extra & 4) ? ranges : nullptr, &count);
        FreeMemory(pixels);
        FreeMemory(palette);
        CloseVFile(file);
    }
    RemoveMemoryFile(node);
    return 0;
}

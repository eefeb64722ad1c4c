// Fuzz target: GIF files from a memory file. Byte 0 holds the reader flags (palette
// mode, transparent pen, copied palette, palette only); byte 1 the number of frame
// reads; the next that many bytes pick the frames, in the input's order; the rest is
// the file. The still decoder runs over the same file.
#include "formats/lvgif.h"

#include <cstdint>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2) return 0;
    static const uint32_t kFlagBits[4] = {LV_IMGLOAD_PALETTE, LV_IMGLOAD_TRANSPEN, LV_IMGLOAD_COPYPALETTE,
                                          LV_IMGLOAD_PALETTEONLY};
    uint32_t flags = LV_GIF_KEEPFILE;
    for (int i = 0; i < 4; i++)
        if (data[0] >> i & 1) flags |= kFlagBits[i];
    size_t reads = data[1] % 16;
    if (size < 2 + reads) return 0;
    const uint8_t *order = data + 2;
    data += 2 + reads, size -= 2 + reads;
    // Screens above 2^20 pixels only spend the run's time clearing canvases.
    if (size >= 10 && (int64_t)(data[6] | data[7] << 8) * (data[8] | data[9] << 8) > (1 << 20)) return 0;
    char name[LV_PATH_SIZE];
    lvMemFile *node = AddMemoryFile("fuzz.gif", 0, data, (int64_t)size, -1, name, sizeof name);
    if (!node) return 0;
    if (lvVFile *file = OpenVFile(name, LV_VF_READ, nullptr, nullptr)) {
        int w, h, depth, count = 0;
        if (lvGifReader *r = OpenGifReader(file, flags, &w, &h, &depth, &count)) {
            for (size_t i = 0; i < reads; i++) {
                uint32_t *palette = nullptr;
                int d, pen;
                uint8_t *pixels = ReadGifFrame(r, count ? order[i] % count : 0, &palette, &d, &pen);
                FreeMemory(pixels);
                FreeMemory(palette);
            }
            CloseGifReader(r);
        }
        SeekVFile(file, 0, 1);
        uint8_t *pixels = nullptr;
        uint32_t *palette = nullptr;
        int pen;
        DecodeGifImage(file, flags & ~LV_GIF_KEEPFILE, &pixels, &pen, &h, &w, &palette, &depth);
        FreeMemory(pixels);
        FreeMemory(palette);
        CloseVFile(file);
    }
    RemoveMemoryFile(node);
    return 0;
}

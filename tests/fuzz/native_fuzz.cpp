// Fuzz target: the native decoder (TIFF through libtiff over the file layer, WebP
// through libwebp) from a memory file. Byte 0 holds the request flags (pens,
// transparency, palette copy, palette only, size only) and whether to walk the file as
// an anim; the rest is the file.
#include "formats/lvnative.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1) return 0;
    static const uint32_t kFlagBits[5] = {LV_IMGLOAD_PALETTE, LV_IMGLOAD_TRANSPEN, LV_IMGLOAD_COPYPALETTE,
                                          LV_IMGLOAD_PALETTEONLY, LV_IMGLOAD_SIZEONLY};
    uint32_t flags = 0;
    for (int i = 0; i < 5; i++)
        if (data[0] >> i & 1) flags |= kFlagBits[i];
    bool anim = data[0] & 0x20;
    data++, size--;
    char name[LV_PATH_SIZE];
    lvMemFile *node = AddMemoryFile("fuzz.native", 0, data, (int64_t)size, -1, name, sizeof name);
    if (!node) return 0;
    if (lvVFile *file = OpenVFile(name, LV_VF_READ, nullptr, nullptr)) {
        int w = 0, h = 0, depth, alpha, penKind, frames = 0;
        // Pictures above 2^22 pixels only spend the run's time filling buffers.
        lvNativeDecoder *probe = OpenNativeDecoder(file, LV_IMGLOAD_SIZEONLY, -1, &w, &h, &depth, &alpha, &penKind,
                                                   &frames);
        CloseNativeDecoder(probe);
        if (probe && (int64_t)w * h * (anim ? frames : 1) <= (1 << 22)) {
            if (anim) {
                if (lvNativeAnim *a = OpenNativeAnim(file, flags & LV_IMGLOAD_PALETTE, flags & LV_IMGLOAD_TRANSPEN, &w,
                                                     &h, &frames, &alpha)) {
                    for (int i = frames - 1; i >= 0 && i >= frames - 4; i--) {
                        uint32_t *palette = nullptr;
                        int pen;
                        FreeMemory(LoadNativeAnimFrame(a, i, &palette, &depth, &pen));
                        FreeMemory(palette);
                    }
                    CloseNativeAnim(a);
                }
            } else {
                uint8_t *pixels = nullptr;
                uint32_t *palette = nullptr;
                const char *format;
                int pen;
                LoadNativeImage(file, flags, 0xFF00FF, &pixels, &palette, &pen, &w, &h, &depth, &alpha, &format);
                FreeMemory(pixels);
                FreeMemory(palette);
            }
        }
        CloseVFile(file);
    }
    RemoveMemoryFile(node);
    return 0;
}

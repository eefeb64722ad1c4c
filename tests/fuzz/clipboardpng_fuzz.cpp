// Pictures other programs put on the desktop's clipboard as "image/png": any bytes. A
// picture decodes to width x height words or to nothing, never to a crash; what decodes
// becomes a brush whose transparency follows its alpha.
#include "images/lvbrush.h"
#include "platform/lvplatform.h"
#include "ui/lib_clipboard.h"

#include <cstdint>
#include <vector>

#define CHECK(condition) \
    do {                  \
        if (!(condition)) __builtin_trap(); \
    } while (0)

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::vector<uint8_t> bytes(data, data + size);
    uint32_t *argb = nullptr;
    int width = 0, height = 0;
    if (DecodePngArgb(bytes.data(), bytes.size(), &argb, &width, &height) != 0) {
        CHECK(argb == nullptr);
        return 0;
    }
    CHECK(argb && width > 0 && height > 0);
    // Large pictures decode but are not turned into brushes here, to keep runs fast.
    if ((int64_t)width * height <= 1 << 16) {
        lvObjectId id = {0, nullptr};
        if (NewBrushFromClipboardArgb(argb, width, height, &id) == 0) {
            lvBrush *b = (lvBrush *)id.handle;
            CHECK(b && b->width == width && b->height == height && !(b->mask && b->alpha));
        }
        FreeAllBrushes(nullptr);
    }
    FreeMemory(argb);
    return 0;
}

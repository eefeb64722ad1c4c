// The native icon reader: the first two bytes give the picture's width (3..66) and the
// alpha switch, the rest are its ARGB words (whole rows only). The same bytes, as a
// text, are also taken apart as a stored tool type (texts from icon files).
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "ui/icons.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string text((const char *)data, size);
    lvToolType toolType;
    ParseToolType(text.c_str(), &toolType);
    if (size < 2) return 0;
    int width = 3 + data[0] % 64, hasAlpha = data[1] & 1;
    size_t words = (size - 2) / 4;
    int height = (int)(words / (size_t)width);
    if (height < 1) return 0;
    std::vector<uint32_t> pixels((size_t)width * height);
    std::memcpy(pixels.data(), data + 2, pixels.size() * 4);
    lvIconEntry *entries = nullptr;
    if (ParseNativeIconImage(pixels.data(), width, height, hasAlpha, &entries) == 0) FreeIconEntries(entries);
    return 0;
}

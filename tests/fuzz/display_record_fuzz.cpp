// Fuzz target of the stored display record reader: the first two bytes are the applet's
// format (major, minor), the rest the record, which is also read as a stored gradient.
// Any input must end in a result code, without reads outside the input or leaks.
#include "raster/lvgradient_read.h"
#include "ui/display.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2) return 0;
    lvByteSource source;
    InitMemorySource(&source, data + 2, size - 2);
    lvAppletCursor cursor = {&source, 0, size - 2};
    lvLinkedObject object;
    std::memset(&object, 0, sizeof object);
    if (ReadAppletDisplayRecord(&cursor, &object, data[0] % 12, data[1] % 10) == 0) {
        const lvDisplayOptions *o = (const lvDisplayOptions *)object.payload;
        if (o->dragRegionCount > LV_STORED_REGIONS || o->sizeRegionCount > LV_STORED_REGIONS) __builtin_trap();
        if (std::strlen(o->title) >= sizeof o->title) __builtin_trap();
    }
    FreeMemory(object.payload);
    cursor = {&source, 0, size - 2};
    lvGradient gradient;
    InitGradient(&gradient, 0);
    if (ReadGradientFromApplet(&cursor, &gradient) == 0 && gradient.stopCount > GRADIENT_MAXSTOPS) __builtin_trap();
    return 0;
}

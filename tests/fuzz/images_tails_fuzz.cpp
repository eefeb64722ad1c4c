// Fuzz target of the tail readers of linked palettes (21), brushes (1) and background
// pictures (0) inside the applet container reader. Any input must end in a result code,
// without reads outside the input, leaks or undefined behaviour.
#include "images/lvbrush.h"
#include "images/lvpalette.h"
#include "runtime/container.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static bool registered = [] {
        SetLinkedTailReader(0, ReadBGPicPreloadTail);
        SetLinkedTailReader(1, ReadBrushPreloadTail);
        SetLinkedTailReader(21, ReadLinkedPaletteTail);
        return true;
    }();
    (void)registered;
    lvByteSource source;
    InitMemorySource(&source, data, size);
    lvAppletContainer container;
    if (OpenAppletContainerFromSource(&source, "fuzz.lva", 0, nullptr, &container) != 0) return 0;
    lvAppletRecord record;
    InitAppletRecord(&record);
    char argument[64];
    ParseAppletRecords(&container, &record, argument, sizeof(argument));
    FreeAppletRecord(&record, 1);
    CloseAppletContainer(&container);
    return 0;
}

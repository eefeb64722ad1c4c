// Fuzz target: ProTracker modules. Byte 0 picks a seek frame and a position jump, the
// rest is the module; it is mixed in short blocks with the stop-at-end flag.
#include "media/lvmodule.h"

#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2) return 0;
    int modes = data[0];
    data += 1, size -= 1;
    lvModulePlayer *p = nullptr;
    if (NewModulePlayer(data, size, 4800, LV_MODF_STOPATEND, &p)) return 0;
    std::vector<int16_t> out(2 * 512);
    for (int block = 0; block < 16; block++)
        if (MixModule(p, out.data(), out.data() + 1, 4, 512, 16, 2) < 512) break;
    ModulePositionControl(p, modes & 0x7F);
    MixModule(p, out.data(), nullptr, 2, 512, 8, 1);
    SeekModule(p, (int64_t)(modes & 15) * 4800);
    MixModule(p, out.data(), out.data() + 1, 4, 256, 16, 2);
    FreeModulePlayer(p);
    return 0;
}

// Amiga font fuzz target: the bytes as a contents file and as a size file; a
// size file that opens is measured and drawn into a small mask and pen plane.
#include <cstring>
#include <vector>

#include "text/lvamiga.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    char name[260];
    FindAmigaContentsEntry(data, size, 8, name, sizeof name);
    lvAmigaFont *af = nullptr;
    if (ReadAmigaSizeFile(data, size, &af) != 0) return 0;
    lvFont font{};
    SetAmigaFont(&font, af, af->ySize, "fuzz");
    static const char text[] = "Az\x01\xff~ 0";
    lvFontExtent e;
    MeasureAmigaText(&font, text, sizeof text - 1, -1, 0, &e);
    std::vector<uint8_t> mask(8 * 16), pens(64 * 16);
    lvFontPlane m{mask.data(), 8, 64, 16, LV_PLANE_MASK1}, p{pens.data(), 64, 64, 16, LV_PLANE_ALPHA8};
    RenderAmigaText(&font, af->pens ? &p : &m, -3, -2, text, sizeof text - 1, 1, 0, nullptr);
    FreeAmigaFont(&font);
    return 0;
}

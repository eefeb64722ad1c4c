// Font scan fuzz target: the first byte picks the file kind, the rest are
// the file's bytes; the name reader and the collection cutter see them too.
#include <cstdlib>

#include "text/lvfont.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1) return 0;
    static const char *const kNames[] = {"face.ttf", "face.otf", "faces.ttc", "faces.dfont", "amiga.font"};
    uint8_t pick = data[0];
    const char *name = kNames[pick % 5];
    data++;
    size--;
    lvFontManager fm{};
    AddFontFileToList(&fm, name, data, size, pick & 0x80);
    char family[512], style[512];
    ReadTrueTypeNames(data, size, 0, 0, family, sizeof family, style, sizeof style);
    uint8_t *face = nullptr;
    size_t faceSize = 0;
    if (size >= 4 && ExtractCollectionFace(data, size, (uint32_t)(data[0] % 64), &face, &faceSize) == 0) free(face);
    DropFontList(&fm);
    return 0;
}

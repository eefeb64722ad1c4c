// Text layout fuzz target: the first bytes choose the options (alignment,
// wrap width, tabs, list mode, encoding, style), the rest is the text with its
// format tags; it is laid out and rendered in topaz. Texts that take the road
// without runs are laid out both ways and must agree.
#include <cstring>
#include <string>

#include "text/lvtextlayout.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static lvFontManager fm{};
    static bool ready = InitFontManager(&fm) == 0;
    if (!ready || size < 6) return 0;
    lvTextOptions o;
    InitTextOptions(&o, data[0] & 1);
    static const int aligns[] = {TEXTALIGN_LEFT, TEXTALIGN_RIGHT, TEXTALIGN_CENTER, TEXTALIGN_JUSTIFIED};
    o.align = aligns[(data[0] >> 1) & 3];
    o.listMode = (data[0] >> 3) & 1;
    o.simpleList = (data[0] >> 4) & 1;
    o.frameMode = (data[0] >> 5) & 1;
    o.paletteMode = (data[0] >> 6) & 1;
    o.objectType = (data[0] & 0x80) ? LV_TEXT_PRINT : LV_TEXT_TEXTOUT;
    o.wrapWidth = data[1];
    o.style.style = data[2] & (FORM_BOLD | FORM_ITALIC | FORM_UNDERLINED | FORM_SHADOW | FORM_BORDER);
    if (!o.style.style) o.style.style = FORM_NORMAL;
    o.style.shadowSize = 1 + (data[3] & 7);
    o.style.shadowDirection = data[3] >> 4;
    o.style.borderSize = 1 + (data[4] & 3);
    o.lineSpacing = (int8_t)data[4] >> 3;
    o.tabCount = data[5] & 7;
    for (int i = 0; i < o.tabCount; i++) o.tabs[i] = 12 * (i + 1);
    for (int i = 0; i < LV_TEXT_LEVELS; i++) o.listBullet[i] = (data[5] >> 3) + i;
    o.listOffset[0] = 30000;
    std::string text((const char *)data + 6, size - 6);
    o.text = text.data();
    o.length = text.size();
    // A text that skips the run builder must give the general road's image.
    bool simple = TextNeedsNoRuns(&fm, nullptr, &o);
    lvTextOptions general = o;
    lvTextImage image;
    int code = LayoutText(&fm, nullptr, &o, &image);
    if (simple) {
        lvTextImage want;
        int wantCode = LayoutTextGeneral(&fm, nullptr, &general, &want);
        if (code != wantCode || (code == 0 && (image.width != want.width || image.height != want.height ||
            image.leftExtension != want.leftExtension || image.xShift != want.xShift || image.alpha != want.alpha ||
            image.rgb != want.rgb || o.finalX != general.finalX || o.finalY != general.finalY)))
            __builtin_trap();
    }
    return 0;
}

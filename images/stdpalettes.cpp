// stdpalettes.cpp - the sixteen standard palettes: fixed colour tables, the rule-built
// EGA and Macintosh palettes, and the grey ramps.
//
// The Workbench palette beyond its first 32 pens and the Windows palette's pens 10 to 245
// are this runtime's own fixed choices: a 8 x 7 x 4 colour cube for the Workbench, a
// 6 x 6 x 6 cube with 20 greys for Windows; both are computed once at compile time.
//
// Depends on: images/lvpalette.h, base/lverrors.h.
#include <array>

#include "base/lverrors.h"
#include "images/lvpalette.h"

namespace {

const uint32_t DefaultPalette[256] = {
    0x000000, 0xA0A0A0, 0xFFFFFF, 0xFFFB00, 0x80FF00, 0x02FF00, 0x00FF7C, 0x00FFFF,
    0x0081FF, 0x0000FF, 0x7A00FF, 0xCD00FF, 0xFF00D7, 0xFF0083, 0xFF0000, 0xFF7E00,
    0xCA9844, 0x963F19, 0x630000, 0xFFF780, 0xC2FF80, 0x80FF80, 0x80FFBD, 0x80FFFF,
    0x80C0FF, 0x8081FF, 0xA780FF, 0xCE80FF, 0xF880FF, 0xFF80C1, 0xFF8080, 0xFF9D80,
    0x800000, 0x801E00, 0x803F00, 0x805100, 0x806600, 0x807B00, 0x438000, 0x018000,
    0x00803E, 0x008080, 0x004180, 0x000280, 0x280080, 0x4F0080, 0x790080, 0x800042,
    0x000000, 0x111111, 0x222222, 0x333333, 0x444444, 0x555555, 0x666666, 0x777777,
    0x878787, 0x989898, 0xA9A9A9, 0xBABABA, 0xCBCBCB, 0xDCDCDC, 0xEDEDED, 0xFFFFFF,
    0x4D0000, 0x580000, 0x700000, 0x870000, 0x9E0000, 0xB60000, 0xCE0000, 0xE60000,
    0xFF0000, 0xFF1C1C, 0xFF3737, 0xFF5252, 0xFF6E6E, 0xFF8888, 0xFFA3A3, 0xFFBEBE,
    0x4E2400, 0x572800, 0x6F3400, 0x863F00, 0x9E4A00, 0xB65A00, 0xCE6500, 0xE67100,
    0xFF7E00, 0xFF8C1C, 0xFF9936, 0xFFA751, 0xFFB16C, 0xFFBF86, 0xFFCDA0, 0xFFDCBF,
    0x4D4800, 0x585200, 0x706900, 0x878100, 0x9E9700, 0xB6AE00, 0xCEC500, 0xE6E200,
    0xFFFF00, 0xFFFC1C, 0xFFF837, 0xFFF952, 0xFFF66D, 0xFFF887, 0xFFF8A2, 0xFFFBBE,
    0x004D00, 0x006300, 0x007900, 0x018F00, 0x01A500, 0x01BB00, 0x01D100, 0x01E800,
    0x00FF00, 0x1EFF1C, 0x39FF37, 0x54FF52, 0x72FF6D, 0x8BFF87, 0xA5FFA2, 0xC0FFBF,
    0x004040, 0x005858, 0x007070, 0x008787, 0x009E9E, 0x00B6B6, 0x00CECE, 0x00E6E6,
    0x00FFFF, 0x58FFF8, 0x76FFF9, 0x88FFFD, 0x9EFFFB, 0xB9FFFC, 0xCBFFFD, 0xDAFFFF,
    0x002040, 0x002C58, 0x003870, 0x004587, 0x00519F, 0x005CB6, 0x0069CE, 0x0075E6,
    0x0081FF, 0x1C8FFF, 0x379DFF, 0x52AAFF, 0x6EBBFF, 0x88C8FF, 0xA3D4FF, 0xBEE1FF,
    0x00034E, 0x000364, 0x00047A, 0x00058F, 0x0006A5, 0x0002BC, 0x0003D2, 0x0003E8,
    0x0000FF, 0x1C25FF, 0x373FFF, 0x525DFF, 0x6E78FF, 0x8893FF, 0xA3ABFF, 0xBEC6FF,
    0x27004E, 0x330067, 0x400080, 0x4D0099, 0x5900B2, 0x6600CB, 0x7300E5, 0x8000FF,
    0x7A00FF, 0x8D1CFF, 0x9637FF, 0xA452FF, 0xAF6CFF, 0xBD86FF, 0xCAA1FF, 0xD9BCFF,
    0x4B004C, 0x5E0062, 0x750079, 0x89008E, 0x9E00A4, 0xB500BB, 0xCA00D1, 0xE000E8,
    0xF100FF, 0xF31CFF, 0xF937FF, 0xFA52FF, 0xFB6DFF, 0xFC87FF, 0xFFA2FF, 0xFFBEFF,
    0x210000, 0x2E0302, 0x3B0706, 0x480E0B, 0x551712, 0x63211A, 0x702B24, 0x7D382E,
    0x87463B, 0x98594C, 0xA96D5E, 0xBA8274, 0xCB998A, 0xDCB2A3, 0xEDCCBE, 0xFFE9DE,
    0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF,
    0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF,
    0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF,
    0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF,
};

const uint32_t CgaPalette[16] = {
    0x000000, 0x555555, 0x0000AA, 0x5555FF, 0x00AA00, 0x55FF55, 0x00AAAA, 0x55FFFF,
    0xAA0000, 0xFF5555, 0xAA00AA, 0xFF55FF, 0xAA5500, 0xFFFF55, 0xAAAAAA, 0xFFFFFF,
};

const uint32_t OcsPalette[32] = {
    0x000000, 0xA0A0A0, 0xEE0000, 0xAA0000, 0xDD8800, 0xFFEE00, 0x88FF00, 0x008800,
    0x00BB66, 0x00DDDD, 0x00AAFF, 0x0077CC, 0x0000FF, 0x7700FF, 0xCC00EE, 0xCC0088,
    0x662200, 0xEE5522, 0xAA5522, 0xFFCCAA, 0x333333, 0x444444, 0x555555, 0x666666,
    0x777777, 0x888888, 0x999999, 0xAAAAAA, 0xCCCCCC, 0xDDDDDD, 0xEEEEEE, 0xFFFFFF,
};

constexpr uint32_t WorkbenchHead[32] = {
    0xC0C0C0, 0x000000, 0xF0F0F0, 0x20C0D0, 0x0000F0, 0xF000F0, 0x00F0F0, 0xF0F0F0,
    0x602000, 0xE05000, 0x90F010, 0xE0B000, 0x5050F0, 0x9020F0, 0x00F080, 0xC0C0C0,
    0x000000, 0xE04040, 0x000000, 0xE0E0C0, 0x404040, 0x505050, 0x606060, 0x707070,
    0x808080, 0x909090, 0xA0A0A0, 0xB0B0B0, 0xC0C0C0, 0xD0D0D0, 0xE0E0E0, 0xF0F0F0,
};

constexpr uint32_t WindowsHead[10] = {0x000000, 0x800000, 0x008000, 0x808000, 0x000080,
                                  0x800080, 0x008080, 0xC0C0C0, 0xC0DCC0, 0xA6CAF0};
constexpr uint32_t WindowsTail[10] = {0xFFFBF0, 0xA0A0A4, 0x808080, 0xFF0000, 0x00FF00,
                                  0xFFFF00, 0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF};

constexpr uint32_t Rgb(int r, int g, int b) { return uint32_t(r) << 16 | uint32_t(g) << 8 | uint32_t(b); }

constexpr std::array<uint32_t, 256> MakeWorkbench()
{
    std::array<uint32_t, 256> t{};
    for (int i = 0; i < 32; i++) t[i] = WorkbenchHead[i];
    int i = 32;
    for (int r = 0; r < 8; r++)
        for (int g = 0; g < 7; g++)
            for (int b = 0; b < 4; b++) t[i++] = Rgb(r * 255 / 7, g * 255 / 6, b * 255 / 3);
    return t;
}

constexpr std::array<uint32_t, 256> MakeWindows()
{
    std::array<uint32_t, 256> t{};
    for (int i = 0; i < 10; i++) t[i] = WindowsHead[i], t[246 + i] = WindowsTail[i];
    int i = 10;
    for (int r = 0; r < 6; r++)
        for (int g = 0; g < 6; g++)
            for (int b = 0; b < 6; b++) t[i++] = Rgb(r * 0x33, g * 0x33, b * 0x33);
    for (int k = 1; k <= 20; k++) t[i++] = Rgb(8 + k * 12, 8 + k * 12, 8 + k * 12);
    return t;
}

constexpr std::array<uint32_t, 256> MakeMacintosh()
{
    std::array<uint32_t, 256> t{};
    const int cube[6] = {0xFF, 0xCC, 0x99, 0x66, 0x33, 0x00};
    const int ramp[10] = {0xEE, 0xDD, 0xBB, 0xAA, 0x88, 0x77, 0x55, 0x44, 0x22, 0x11};
    int i = 1;
    for (int n = 1; n < 215; n++) t[i++] = Rgb(cube[n / 36], cube[n / 6 % 6], cube[n % 6]);
    for (int k = 0; k < 10; k++) {
        t[215 + k] = Rgb(ramp[k], 0, 0);
        t[225 + k] = Rgb(0, ramp[k], 0);
        t[235 + k] = Rgb(0, 0, ramp[k]);
        t[245 + k] = Rgb(ramp[k], ramp[k], ramp[k]);
    }
    t[255] = 0xFFFFFF;
    return t;
}

constexpr std::array<uint32_t, 256> WorkbenchPalette = MakeWorkbench();
constexpr std::array<uint32_t, 256> WindowsPalette = MakeWindows();
constexpr std::array<uint32_t, 256> MacintoshPalette = MakeMacintosh();

}  // namespace

void FillGrayRamp(int n, uint32_t *pens)
{
    for (int i = 0; i < n; i++) {
        int level = n > 1 ? i * 255 / (n - 1) : 0;
        pens[i] = Rgb(level, level, level);
    }
}

int GetStandardPalette(int number, uint32_t *pens, int *depthOut)
{
    if (number < PALETTE_DEFAULT || number > PALETTE_MONOCHROME) return ERR_UNKNOWNPALETTE;
    int depth = 8;
    if (number >= PALETTE_GRAY4 && number <= PALETTE_GRAY128) depth = 2 + (number - PALETTE_GRAY4);
    else if (number == PALETTE_CGA) depth = 4;
    else if (number == PALETTE_EGA) depth = 6;
    else if (number == PALETTE_OCS) depth = 5;
    else if (number == PALETTE_MONOCHROME) depth = 1;
    int n = 1 << depth;
    const uint32_t *table = nullptr;
    switch (number) {
    case PALETTE_DEFAULT:
    case PALETTE_AGA: table = DefaultPalette; break;
    case PALETTE_CGA: table = CgaPalette; break;
    case PALETTE_OCS: table = OcsPalette; break;
    case PALETTE_WORKBENCH: table = WorkbenchPalette.data(); break;
    case PALETTE_MACINTOSH: table = MacintoshPalette.data(); break;
    case PALETTE_WINDOWS: table = WindowsPalette.data(); break;
    case PALETTE_EGA:
        for (int i = 0; i < n; i++) {
            int b = (i & 1 ? 0xAA : 0) + (i & 8 ? 0x55 : 0);
            int g = (i & 2 ? 0xAA : 0) + (i & 16 ? 0x55 : 0);
            int r = (i & 4 ? 0xAA : 0) + (i & 32 ? 0x55 : 0);
            pens[i] = Rgb(r, g, b);
        }
        break;
    case PALETTE_MONOCHROME:
        pens[0] = 0x000000;
        pens[1] = 0xFFFFFF;
        break;
    default: FillGrayRamp(n, pens); break;
    }
    if (table)
        for (int i = 0; i < n; i++) pens[i] = table[i];
    if (depthOut) *depthOut = depth;
    return 0;
}

// effects_palette.cpp - the colour effects on a palette's 256 pens, run on an
// RGB view of 256 x 1 over the palette words, as the palette commands
// (PaletteToGray, SolarizePalette, GammaPalette, ContrastPalette,
// ModulatePalette) and the filter chain on palette pictures use them.
#include "images/lveffects.h"

#include "base/lverrors.h"

int RunPaletteEffect(uint32_t *palette, int effect, const double *args) {
    if (!palette) return ERR_WRONGUSAGE;
    lvBitMapHandle *view = AllocRgbBitmap(256, 1, BMF_EXTERNAL, palette);
    if (!view) return ERR_MEM;
    int rc;
    switch (effect) {
    case PALETTE_EFFECT_GRAY: rc = GrayImage(view, 256, 1); break;
    case PALETTE_EFFECT_SOLARIZE: rc = SolarizeImage(view, 256, 1, static_cast<int>(args ? args[0] : 128)); break;
    case PALETTE_EFFECT_GAMMA: rc = args ? GammaImage(view, 256, 1, args[0], args[1], args[2]) : ERR_WRONGUSAGE; break;
    case PALETTE_EFFECT_CONTRAST:
        rc = args ? ContrastImage(view, 256, 1, args[0] != 0, static_cast<int>(args[1])) : ERR_WRONGUSAGE;
        break;
    case PALETTE_EFFECT_MODULATE:
        rc = args ? ModulateImage(view, 256, 1, args[0], args[1], args[2]) : ERR_WRONGUSAGE;
        break;
    case PALETTE_EFFECT_INVERT: rc = InvertImage(view, 256, 1); break;
    default: rc = ERR_WRONGUSAGE; break;
    }
    FreeRgbBitmap(view);
    return rc;
}

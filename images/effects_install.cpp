// effects_install.cpp - hands the image effects to the raster engine's filter
// chain through its effect table.
#include "images/lveffects.h"
#include "raster/lvfilterchain.h"

void InstallImageEffects() {
    lvEffectServices s = {};
    s.ConvolveImage = ConvolveImage;
    s.CharcoalImage = CharcoalImage;
    s.ContrastImage = ContrastImage;
    s.GammaImage = GammaImage;
    s.GrayImage = GrayImage;
    s.InvertImage = InvertImage;
    s.ModulateImage = ModulateImage;
    s.MonochromeImage = MonochromeImage;
    s.OilPaintImage = OilPaintImage;
    s.PixelateImage = PixelateImage;
    s.SepiaToneImage = SepiaToneImage;
    s.SolarizeImage = SolarizeImage;
    s.SwirlImage = SwirlImage;
    s.WaterRippleImage = WaterRippleImage;
    SetEffectServices(&s);
}

// lib_brush_effects.cpp - the brush commands of the effect family: colour effects,
// convolutions, plane inversions, distortions, colour replacement, mixing and flood fills.
//
// Depends on: images/lib_brush_cmds.h.
#include "images/lib_brush_cmds.h"

namespace {

// A colour effect on the effect image: the bitmap, or the pens of a palette brush.
struct ColourEffect {
    int paletteEffect;  // PALETTE_EFFECT_..., or -1 when it works on the view of the pens
    double args[3];
    int (*run)(lvBitMapHandle *image, int width, int height, const ColourEffect *e);
};

int RunColourEffect(lvState *L, const ColourEffect &e)
{
    lvBrush *b;
    if (int code = FindChangingBrush(L, 1, BRUSH_MODIFY | BRUSH_NOVECTOR, &b)) return code;
    if (b->penBitmap && e.paletteEffect >= 0) return RunPaletteEffect(b->palette, e.paletteEffect, e.args);
    lvBitMapHandle *image;
    int width, height;
    if (int code = GetBrushEffectImage(b, &image, &width, &height)) return code;
    return e.run(image, width, height, &e);
}

int ByteOrPercentArg(lvState *L, int index)
{
    int value = (int)GetNumberOrPercentArg(L, index, 255, 1, nullptr);
    return value < 0 ? 0 : value > 255 ? 255 : value;
}

// A plane-wide change of a brush of the 0x29 kind: no palette, no vector brush.
int FindPlainBrush(lvState *L, lvBrush **b)
{
    return FindChangingBrush(L, 1, BRUSH_MODIFY | BRUSH_NOVECTOR | BRUSH_NOPALETTE, b);
}

}  // namespace

int CmdTintBrush(lvState *L)
{
    CheckArgCount(L, 3, 3, 0, 0);
    ColourEffect e = {-1, {(double)ColourArg(L, 2), (double)ByteOrPercentArg(L, 3)}, nullptr};
    e.run = [](lvBitMapHandle *image, int width, int height, const ColourEffect *e) {
        return TintBitmapRect(image, 0, 0, width, height, (uint32_t)e->args[0], (int)e->args[1]);
    };
    return RunColourEffect(L, e);
}

int CmdInvertBrush(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    ColourEffect e = {PALETTE_EFFECT_INVERT, {}, [](lvBitMapHandle *image, int width, int height, const ColourEffect *) {
                          return InvertImage(image, width, height);
                      }};
    return RunColourEffect(L, e);
}

int CmdBrushToGray(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    ColourEffect e = {PALETTE_EFFECT_GRAY, {}, [](lvBitMapHandle *image, int width, int height, const ColourEffect *) {
                          return GrayImage(image, width, height);
                      }};
    return RunColourEffect(L, e);
}

int CmdSolarizeBrush(lvState *L)
{
    CheckArgCount(L, 2, 2, 0, 0);
    ColourEffect e = {PALETTE_EFFECT_SOLARIZE, {(double)ByteOrPercentArg(L, 2)},
                      [](lvBitMapHandle *image, int width, int height, const ColourEffect *e) {
                          return SolarizeImage(image, width, height, (int)e->args[0]);
                      }};
    return RunColourEffect(L, e);
}

int CmdGammaBrush(lvState *L)
{
    CheckArgCount(L, 4, 4, 0, 0);
    ColourEffect e = {PALETTE_EFFECT_GAMMA, {CheckNumberArg(L, 2), CheckNumberArg(L, 3), CheckNumberArg(L, 4)},
                      [](lvBitMapHandle *image, int width, int height, const ColourEffect *e) {
                          return GammaImage(image, width, height, e->args[0], e->args[1], e->args[2]);
                      }};
    return RunColourEffect(L, e);
}

int CmdContrastBrush(lvState *L)
{
    CheckArgCount(L, 2, 3, 0, 0);
    int level = HasArg(L, 3) ? IntArg(L, 3) : 1;
    if (level <= 0) return ERR_WRONGUSAGE;
    ColourEffect e = {PALETTE_EFFECT_CONTRAST, {(double)(IntArg(L, 2) != 0), (double)level},
                      [](lvBitMapHandle *image, int width, int height, const ColourEffect *e) {
                          return ContrastImage(image, width, height, (int)e->args[0], (int)e->args[1]);
                      }};
    return RunColourEffect(L, e);
}

int CmdModulateBrush(lvState *L)
{
    CheckArgCount(L, 4, 4, 0, 0);
    double brightness = CheckNumberArg(L, 2), saturation = CheckNumberArg(L, 3), hue = CheckNumberArg(L, 4);
    if (brightness < 0 || saturation < 0 || hue < 0) return ERR_WRONGUSAGE;
    ColourEffect e = {PALETTE_EFFECT_MODULATE, {brightness, saturation, hue},
                      [](lvBitMapHandle *image, int width, int height, const ColourEffect *e) {
                          return ModulateImage(image, width, height, e->args[0], e->args[1], e->args[2]);
                      }};
    return RunColourEffect(L, e);
}

int CmdSepiaToneBrush(lvState *L)
{
    CheckArgCount(L, 2, 2, 0, 0);
    int threshold = ByteOrPercentArg(L, 2);
    lvBrush *b;
    if (int code = FindPlainBrush(L, &b)) return code;
    return SepiaToneImage(b->bitmap, b->width, b->height, threshold);
}

int CmdCharcoalBrush(lvState *L)
{
    CheckArgCount(L, 2, 2, 0, 0);
    double radius = CheckNumberArg(L, 2);
    if (radius < 0) return ERR_WRONGUSAGE;
    lvBrush *b;
    if (int code = FindPlainBrush(L, &b)) return code;
    return CharcoalImage(b->bitmap, b->alpha, b->width, b->height, radius, 1);
}

int CmdOilPaintBrush(lvState *L)
{
    CheckArgCount(L, 2, 2, 0, 0);
    double radius = CheckNumberArg(L, 2);
    if (radius < 0) return ERR_WRONGUSAGE;
    lvBrush *b;
    if (int code = FindPlainBrush(L, &b)) return code;
    return OilPaintImage(b->bitmap, b->width, b->height, radius);
}

int CmdBrushToMonochrome(lvState *L)
{
    CheckArgCount(L, 1, 2, 0, 0);
    int dither = HasArg(L, 2) ? IntArg(L, 2) : 1;
    lvBrush *b;
    if (int code = FindPlainBrush(L, &b)) return code;
    return MonochromeImage(b->bitmap, b->width, b->height, dither);
}

// The convolutions: kind, and the sigma they use (-1: the second argument, else radius / 3).
static int Convolve(lvState *L, int kind, double sigma)
{
    CheckArgCount(L, 1, sigma < 0 ? 3 : 2, 0, 0);
    double radius = HasArg(L, 2) ? CheckNumberArg(L, 2) : 0;
    if (radius < 0) return ERR_WRONGUSAGE;
    if (sigma < 0) sigma = HasArg(L, 3) ? CheckNumberArg(L, 3) : radius / 3;
    lvBrush *b;
    if (int code = FindPlainBrush(L, &b)) return code;
    return ConvolveImage(kind, b->bitmap, b->alpha, b->width, b->height, radius, sigma, nullptr);
}

int CmdBlurBrush(lvState *L) { return Convolve(L, 'b', -1); }
int CmdEmbossBrush(lvState *L) { return Convolve(L, 'e', 1); }
int CmdEdgeBrush(lvState *L) { return Convolve(L, 'g', 0); }
int CmdSharpenBrush(lvState *L) { return Convolve(L, 's', 1); }

static int InvertPlane(lvState *L, int alpha)
{
    CheckArgCount(L, 1, 1, 0, 0);
    lvBrush *b;
    if (int code = FindPlainBrush(L, &b)) return code;
    lvBitMapHandle *plane = alpha ? b->alpha : b->mask;
    if (!plane) return ERR_WRONGUSAGE;
    uint8_t *pixels;
    int rowBytes;
    uintptr_t token = GetPlanePixels(plane, &pixels, &rowBytes, 1);
    if (!token) return ERR_LOCKBMAP;
    InvertBytes(pixels, b->height, rowBytes);
    ReleasePlanePixels(token);
    return 0;
}

int CmdInvertMask(lvState *L) { return InvertPlane(L, 0); }
int CmdInvertAlphaChannel(lvState *L) { return InvertPlane(L, 1); }

int CmdSwirlBrush(lvState *L)
{
    CheckArgCount(L, 2, 2, 0, 0);
    int degrees = IntArg(L, 2);
    lvBrush *b;
    if (int code = FindChangingBrush(L, 1, BRUSH_MODIFY | BRUSH_NOVECTOR, &b)) return code;
    if (b->penBitmap) return SwirlImage(nullptr, nullptr, b->penBitmap, b->width, b->height, degrees);
    return SwirlImage(b->bitmap, b->mask, b->alpha, b->width, b->height, degrees);
}

int CmdPixelateBrush(lvState *L)
{
    CheckArgCount(L, 2, 2, 0, 0);
    int size = IntArg(L, 2);
    lvBrush *b;
    if (int code = FindChangingBrush(L, 1, BRUSH_MODIFY | BRUSH_NOVECTOR, &b)) return code;
    if (size <= 0 || size > b->width || size > b->height) return ERR_WRONGUSAGE;
    if (b->penBitmap)
        return PixelateImage(nullptr, nullptr, b->penBitmap, b->width, b->height, size, b->palette,
                             b->transparentColour);
    return PixelateImage(b->bitmap, b->mask, b->alpha, b->width, b->height, size);
}

int CmdWaterRippleBrush(lvState *L)
{
    CheckArgCount(L, 1, 6, 0, 0);
    int wavelength = HasArg(L, 2) ? IntArg(L, 2) : 32, amplitude = HasArg(L, 3) ? IntArg(L, 3) : 1;
    int phase = HasArg(L, 4) ? IntArg(L, 4) : 0;
    double centreX = HasArg(L, 5) ? CheckNumberArg(L, 5) : 0.5, centreY = HasArg(L, 6) ? CheckNumberArg(L, 6) : 0.5;
    lvBrush *b;
    if (int code = FindChangingBrush(L, 1, BRUSH_MODIFY | BRUSH_NOVECTOR, &b)) return code;
    if (b->penBitmap)
        return WaterRippleImage(nullptr, nullptr, b->penBitmap, b->width, b->height, wavelength, amplitude, phase,
                                centreX, centreY);
    return WaterRippleImage(b->bitmap, b->mask, b->alpha, b->width, b->height, wavelength, amplitude, phase, centreX,
                            centreY);
}

// The distortions: up to `most` numbers and a trailing smooth flag; the distorted planes
// replace the old ones only when all of them were made.
static int DistortBrush(lvState *L, int kind, int least, int most)
{
    CheckArgCount(L, 1 + least, 2 + most, 0, 0);
    int args = GetStackTop(L) - 1;
    int count = args > most ? most : args;
    int smooth = args > most ? IntArg(L, 2 + most) : 0;
    double values[16] = {};
    for (int i = 0; i < count; i++) values[i] = CheckNumberArg(L, 2 + i);
    lvBrush *b;
    if (int code = FindChangingBrush(L, 1, BRUSH_MODIFY | BRUSH_NOVECTOR, &b)) return code;
    if (kind == 4) {
        // Each corner of the brush, then where it goes.
        double w = b->width, h = b->height;
        double pairs[16] = {0, 0, values[0], values[1], w, 0, values[2], values[3],
                            0, h, values[4], values[5], w, h, values[6], values[7]};
        std::memcpy(values, pairs, sizeof pairs);
        count = 16;
    }
    lvDistortResult out = {};
    if (int code = DistortImage(b->bitmap, b->mask, b->alpha, b->penBitmap, b->width, b->height, kind, values, count,
                                smooth, b->penBitmap ? b->transparentColour : -1, &out))
        return code;
    lvImageSetOut set = {out.rgb, out.mask, out.alpha, out.chunky, 0, 0, out.width, out.height};
    StoreTransformedPlanes(b, &set);
    return 0;
}

int CmdPerspectiveDistortBrush(lvState *L) { return DistortBrush(L, 4, 8, 8); }
int CmdArcDistortBrush(lvState *L) { return DistortBrush(L, 9, 1, 4); }
int CmdPolarDistortBrush(lvState *L) { return DistortBrush(L, 10, 0, 6); }
int CmdBarrelDistortBrush(lvState *L) { return DistortBrush(L, 12, 3, 10); }

int CmdReplaceColors(lvState *L)
{
    CheckArgCount(L, 2, 2, 0, 0);
    CheckTableArg(L, 2);
    if (int code = CheckActiveBrush(GetObjectIdArg(L, 1))) return code;
    // The list ends at a Nil or -1 where an old colour is due.
    uint32_t *pairs = nullptr;
    int count = 0, capacity = 0, code = 0;
    for (int i = 0;; i += 2) {
        GetTableItemRaw(L, 2, i);
        int oldType = GetValueType(L, -1);
        double oldValue = oldType == LV_TNUMBER ? ValueToNumber(L, -1) : 0;
        GetTableItemRaw(L, 2, i + 1);
        int newType = GetValueType(L, -1);
        double newValue = newType == LV_TNUMBER ? ValueToNumber(L, -1) : 0;
        SetStackTop(L, -3);
        if (oldType == LV_TNIL || (oldType == LV_TNUMBER && NumberToInt64(oldValue) == -1)) break;
        if (oldType != LV_TNUMBER || newType != LV_TNUMBER) {
            code = ERR_WRONGUSAGE;
            break;
        }
        if (count == capacity) {
            capacity = capacity ? capacity * 2 : 8;
            auto *grown = (uint32_t *)AllocMemory((size_t)capacity * 8, 0);
            if (!grown) {
                code = ERR_MEM;
                break;
            }
            if (pairs) std::memcpy(grown, pairs, (size_t)count * 8);
            FreeMemory(pairs);
            pairs = grown;
        }
        pairs[2 * count] = (uint32_t)(uint64_t)NumberToInt64(oldValue);
        pairs[2 * count + 1] = (uint32_t)(uint64_t)NumberToInt64(newValue);
        count++;
    }
    lvBrush *b = nullptr;
    if (!code) code = FindBrushById(L, GetObjectIdArg(L, 1), &b, BRUSH_MODIFY | BRUSH_NOVECTOR);
    if (!code) code = ReplaceBrushColours(b, pairs, count);
    FreeMemory(pairs);
    return code;
}

int CmdMixBrush(lvState *L)
{
    CheckArgCount(L, 3, 3, 0, 0);
    int level = ByteOrPercentArg(L, 3);
    lvBrush *b, *other;
    if (int code = FindChangingBrush(L, 1, BRUSH_MODIFY | BRUSH_NOVECTOR, &b)) return code;
    if (int code = FindBrushById(L, GetObjectIdArg(L, 2), &other, 0)) return code;
    lvMixJob job = {};
    job.targetRgb = b->penBitmap ? nullptr : b->bitmap;
    job.targetPens = b->penBitmap;
    job.targetPalette = b->palette;
    job.targetDepth = b->depth;
    job.ownPalette = 1;
    job.dither = GetPaletteLibraryState()->ditherMode;
    job.targetAlpha = b->alpha;
    job.sourceRgb = other->penBitmap ? nullptr : other->bitmap;
    job.sourceMask = other->mask;
    job.sourceAlpha = other->alpha;
    job.sourcePens = other->penBitmap;
    job.sourcePalette = other->palette;
    job.colourOrPen = (uint32_t)other->transparentColour;
    job.width = b->width < other->width ? b->width : other->width;
    job.height = b->height < other->height ? b->height : other->height;
    job.ratio = level;
    return MixImages(&job);
}

int CmdFloodFill(lvState *L)
{
    CheckArgCount(L, 5, 6, 0, 0);
    int64_t border = NumberToInt64(CheckNumberArg(L, 4));
    uint32_t fill = ColourArg(L, 5);
    int alphaChannel = 0, colourSource = 0;
    if (HasArg(L, 6)) {
        CheckTableArg(L, 6);
        GetFieldBool(L, 6, "alphachannel", &alphaChannel);
        GetFieldBool(L, 6, "colorsource", &colourSource);
    }
    lvBrush *b;
    if (int code = FindChangingBrush(L, 1, BRUSH_MODIFY | BRUSH_NOVECTOR, &b)) return code;
    int x = ResolveSpecialX(IntArg(L, 2), 1, b->width, 0), y = ResolveSpecialY(IntArg(L, 3), 1, b->height, 0);
    if (!b->penBitmap && !alphaChannel && border != -1) border &= 0xFFFFFF;
    return FloodFillBrush(b, x, y, border, fill, alphaChannel, colourSource && alphaChannel);
}

// ---- Brushes from other objects ------------------------------------------------------------

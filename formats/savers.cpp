// savers.cpp - the image savers: options of the saving commands, the preparation of
// true-colour or palette pixels for the chosen saver, and the dispatch to the built-in
// writers or a saver plug-in.
//
// Dependencies: formats (bmp, png, jpeg, gif, ilbm), raster/lvimage.h, raster/lvbitmap.h,
// raster/lvinit.h (BitsForColorCount), runtime/plugin.h (FindSaverPlugin),
// runtime/cmdsupport.h (option tables).
#include "formats/lvsavers.h"
#include "formats/formats_internal.h"
#include "formats/lvgif.h"
#include "formats/lvilbm.h"
#include "raster/lvbitmap.h"
#include "raster/lvimage.h"
#include "raster/lvinit.h"
#include "runtime/cmdsupport.h"
#include "runtime/lists.h"
#include "runtime/plugin.h"
#include "vm/lvvm.h"
#include <algorithm>
#include <cstring>

// ============================================================================
// Capabilities
// ============================================================================

static uint32_t PluginSaverFlags(int format, lvPluginRecord **record)
{
    int index = 0;
    lvPluginRecord *r = FindSaverPlugin(format, PLUGINCAPS_SAVEIMAGE, &index);
    if (record) *record = r;
    return r && r->imageSavers ? r->imageSavers[index].flags : 0;
}

bool SaverTakesTrueColor(int format)
{
    switch (format) {
    case IMGFMT_BMP: case IMGFMT_PNG: case IMGFMT_JPEG: case IMGFMT_ILBM: return true;
    case IMGFMT_GIF: return false;
    default: return PluginSaverFlags(format, nullptr) & LVP_SAVER_TRUECOLOR;
    }
}

bool SaverTakesPalette(int format)
{
    switch (format) {
    case IMGFMT_BMP: case IMGFMT_PNG: case IMGFMT_GIF: case IMGFMT_ILBM: return true;
    case IMGFMT_JPEG: return false;
    default: return PluginSaverFlags(format, nullptr) & LVP_SAVER_PALETTE;
    }
}

// ============================================================================
// Dispatch
// ============================================================================

int SaveImageByFormat(int format, const uint32_t *pixels, int width, int height, const char *path,
                      const char *adapter, const void *userTags, int transparentPen, lvBitMapHandle *penPlane,
                      const uint32_t *palette, int depth, int hasAlpha, int quality)
{
    if (!pixels && !penPlane) return ERR_WRONGUSAGE;
    switch (format) {
    case IMGFMT_BMP:
        return WriteBmpFile(path, adapter, userTags, pixels, width, height, penPlane, palette, depth, transparentPen);
    case IMGFMT_PNG:
        return WritePngImage(path, adapter, userTags, pixels, width, height, penPlane, palette, depth, transparentPen,
                             hasAlpha);
    case IMGFMT_ILBM:
        return WriteIlbmFile(path, adapter, userTags, pixels, width, height, penPlane, palette, depth, transparentPen);
    case IMGFMT_JPEG:
        if (!pixels) return ERR_WRONGUSAGE;
        return SaveJpegFile(userTags, adapter, path, pixels, width * 4, width, height, quality);
    case IMGFMT_GIF: {
        if (!penPlane) return ERR_WRONGUSAGE;
        lvGifWriter *writer = nullptr;
        if (int code = OpenGifWriter(path, adapter, userTags, width, height, &writer)) return code;
        int code = WriteGifFrame(writer, penPlane, 0, palette, depth, transparentPen, 0, 0);
        // The close is checked too: a full disk shows itself there as often as not.
        int closed = CloseGifWriter(writer);
        if (!code) code = closed;
        if (code) SetErrorStringArg(path);
        return code;
    }
    default: break;
    }
    lvPluginRecord *record = nullptr;
    uint32_t saverFlags = PluginSaverFlags(format, &record);
    if (!record || !record->SaveImage) return ERR_UNKNOWNIMGOUT;
    lvSaveImageCtrl ctrl;
    std::memset(&ctrl, 0, sizeof ctrl);
    uintptr_t token = 0;
    if (penPlane) {
        uint8_t *pens = nullptr;
        int rowBytes = 0;
        token = GetPlanePixels(penPlane, &pens, &rowBytes, 0);
        if (!token) return ERR_LOCKBMAP;
        ctrl.pixels = pens, ctrl.bytesPerRow = rowBytes, ctrl.palette = palette;
        ctrl.paletteMode = 1, ctrl.colorCount = 1 << depth;
        if (transparentPen != -1) ctrl.flags |= LVP_SAVECTRL_PEN, ctrl.transparentPen = transparentPen;
    } else {
        ctrl.pixels = pixels, ctrl.bytesPerRow = width * 4;
        if (hasAlpha && (saverFlags & LVP_SAVER_ALPHA)) ctrl.flags |= LVP_SAVECTRL_ALPHA;
    }
    ctrl.quality = quality, ctrl.width = width, ctrl.height = height, ctrl.formatId = format;
    ctrl.adapter = adapter, ctrl.userTags = userTags;
    int ok = record->SaveImage(path, &ctrl);
    if (token) ReleasePlanePixels(token);
    return ok ? 0 : ERR_SAVEIMAGE;
}

// ============================================================================
// Preparing the pixels
// ============================================================================

int MakeExactPaletteBitmap(lvBitMapHandle *rgb, lvBitMapHandle *mask, lvBitMapHandle *alpha, int width, int height,
                           int colours, int, lvBitMapHandle **penPlane, uint32_t *palette, int *transparentPen)
{
    *penPlane = nullptr;
    *transparentPen = -1;
    lvMemPtr<uint32_t> argb(ExtractArgbPixels(rgb, 0, 0, width, height, mask, alpha, nullptr, nullptr, -1, -1, 0));
    if (!argb) return ERR_MEM;
    std::memset(palette, 0, 1024);
    size_t count = (size_t)width * height;
    bool transparent = false;
    for (size_t i = 0; i < count && !transparent; i++) transparent = argb.get()[i] >> 24 < 0x80;
    int used = 0;
    if (transparent) *transparentPen = 0, used = 1;
    lvBitMapHandle *plane = AllocChunkyBitmap(width, height, 1);
    if (!plane) return ERR_MEM;
    uint8_t *pens;
    int rowBytes;
    uintptr_t token = GetPlanePixels(plane, &pens, &rowBytes, 1);
    if (!token) {
        FreeBitmapHandle(plane);
        return ERR_LOCKBMAP;
    }
    // Colours by a small open-addressed table of 512 slots (at most 256 live).
    uint32_t keys[512];
    int16_t values[512];
    std::fill_n(values, 512, (int16_t)-1);
    int code = 0;
    for (int y = 0; y < height && !code; y++)
        for (int x = 0; x < width; x++) {
            uint32_t c = argb.get()[(size_t)y * width + x];
            if (transparent && c >> 24 < 0x80) {
                pens[(size_t)y * rowBytes + x] = 0;
                continue;
            }
            c &= 0xFFFFFF;
            unsigned slot = (c * 2654435761u) >> 23;
            while (values[slot] >= 0 && keys[slot] != c) slot = (slot + 1) & 511;
            if (values[slot] < 0) {
                if (used >= colours) {
                    code = ERR_UNIMPLCMD;  // needs the quantiser
                    break;
                }
                keys[slot] = c, values[slot] = (int16_t)used;
                palette[used++] = c;
            }
            pens[(size_t)y * rowBytes + x] = (uint8_t)values[slot];
        }
    ReleasePlanePixels(token);
    if (code) {
        FreeBitmapHandle(plane);
        *transparentPen = -1;
        return code;
    }
    *penPlane = plane;
    return 0;
}

static lvPaletteMaker paletteMaker = MakeExactPaletteBitmap;

void SetSaverPaletteMaker(lvPaletteMaker maker) { paletteMaker = maker ? maker : MakeExactPaletteBitmap; }
lvPaletteMaker GetSaverPaletteMaker(void) { return paletteMaker; }

int WriteImageFile(int format, lvBitMapHandle *rgb, int width, int height, const char *path, const char *adapter,
                   const void *userTags, lvBitMapHandle *mask, int64_t fillColour, lvBitMapHandle *alpha,
                   lvBitMapHandle *penPlane, const uint32_t *palette, int depth, int transparentPen, int quality,
                   int dither, int adapterHeld)
{
    if (!ImagePixelsFit(width, height)) return ERR_MEM;
    lvMemPtr<uint32_t> readBack;
    int readBackAlpha = 0;
    if (rgb && adapterHeld) {
        uint32_t *buffer = nullptr;
        if (int code = ReadBitmapPixels(rgb, 0, 0, width, height, &readBackAlpha, &buffer)) return code;
        readBack.reset(buffer);
    }
    // Everything made here is freed on the way out, whatever the result.
    struct Temporaries {
        lvBitMapHandle *rgb = nullptr, *mask = nullptr, *alpha = nullptr, *pens = nullptr;
        ~Temporaries()
        {
            FreeBitmapHandle(rgb), FreeBitmapHandle(mask), FreeBitmapHandle(alpha), FreeBitmapHandle(pens);
        }
    } temp;
    lvMemPtr<uint32_t> argb;
    bool takesTrue = SaverTakesTrueColor(format), takesPalette = SaverTakesPalette(format);
    auto extract = [&](lvBitMapHandle *r, lvBitMapHandle *m, lvBitMapHandle *a) -> int {
        argb.reset(ExtractArgbPixels(r, 0, 0, width, height, m, a, penPlane, palette, transparentPen, fillColour, 0));
        return argb ? 0 : ERR_MEM;
    };
    if (rgb && !takesTrue) {
        lvBitMapHandle *source = rgb, *sourceMask = mask, *sourceAlpha = alpha;
        if (adapterHeld) {
            if (int code = BitmapFromArgb(readBack.get(), -1, width, height, width, 0,
                                          readBackAlpha ? ARGBF_ALPHACHANNEL : 0, nullptr, &temp.rgb, &temp.mask,
                                          &temp.alpha))
                return code;
            source = temp.rgb, sourceMask = temp.mask, sourceAlpha = temp.alpha;
        }
        uint32_t made[256];
        int pen = -1;
        int colours = 1 << std::clamp(depth, 1, 8);
        if (int code = paletteMaker(source, sourceMask, sourceAlpha, width, height, colours, dither, &temp.pens, made,
                                    &pen))
            return code;
        return SaveImageByFormat(format, nullptr, width, height, path, adapter, userTags, pen, temp.pens, made, depth,
                                 0, quality);
    }
    if (rgb) {
        if (adapterHeld && !penPlane)
            return SaveImageByFormat(format, readBack.get(), width, height, path, adapter, userTags, -1, nullptr,
                                     nullptr, depth, readBackAlpha, quality);
        if (adapterHeld && penPlane && takesPalette)
            return SaveImageByFormat(format, nullptr, width, height, path, adapter, userTags, transparentPen, penPlane,
                                     palette, depth, 0, quality);
        if (int code = extract(rgb, mask, alpha)) return code;
        return SaveImageByFormat(format, argb.get(), width, height, path, adapter, userTags, -1, nullptr, nullptr,
                                 depth, alpha != nullptr, quality);
    }
    if (!penPlane) return ERR_WRONGUSAGE;
    if (takesPalette)
        return SaveImageByFormat(format, nullptr, width, height, path, adapter, userTags, transparentPen, penPlane,
                                 palette, depth, 0, quality);
    if (int code = extract(nullptr, nullptr, nullptr)) return code;
    return SaveImageByFormat(format, argb.get(), width, height, path, adapter, userTags, -1, nullptr, nullptr, depth,
                             0, quality);
}

// ============================================================================
// Options
// ============================================================================

int ParseSaveImageOptions(lvState *L, int index, int *format, int64_t *fillColour, int *quality, int *depth,
                          int *dither, char *adapter, lvUserTag **userTags)
{
    if (GetStackTop(L) != index) return 0;
    int type = GetValueType(L, index);
    if (type == LV_TNUMBER) {
        *quality = (int)ValueToNumber(L, index);
        return 0;
    }
    if (type != LV_TTABLE) return 0;
    GetFieldInt(L, index, "format", format);
    double fill;
    if (GetFieldNumber(L, index, "fillcolor", &fill)) *fillColour = fill < 0 ? -1 : (int64_t)(uint32_t)(int64_t)fill;
    GetFieldInt(L, index, "quality", quality);
    GetFieldInt(L, index, "dither", dither);
    GetFieldInt(L, index, "depth", depth);
    int colours;
    if (GetFieldInt(L, index, "colors", &colours)) *depth = BitsForColorCount(colours);
    if (adapter) GetFieldStringBuf(L, index, "adapter", adapter, 256);
    if (userTags)
        if (int code = ReadUserTags(L, index, nullptr, nullptr, userTags)) return code;
    if (*depth < 1 || *depth > 8) {
        if (userTags) {
            FreeUserTags(*userTags, 0);
            *userTags = nullptr;
        }
        return ERR_DEPTHRANGE;
    }
    return 0;
}

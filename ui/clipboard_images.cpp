// clipboard_images.cpp - pictures on the clipboard: a brush becomes ARGB words for the
// clipboard adapter or PNG data offered on the X server under "image/png"; what comes
// back becomes a new brush, masked when its alpha is only on or off, with an alpha
// channel when it has levels between.
// Depends on: libpng (simplified interface), images/lvbrush.h, raster/lvimage.h,
// platform/lvplatform_clipboard.h, runtime/plugin.h.
// Limits: script thread.
#include "ui/lib_clipboard.h"

#include "base/lverrors.h"
#include "images/lvbrush.h"
#include "platform/lvplatform.h"
#include "platform/lvplatform_clipboard.h"
#include "raster/lvimage.h"
#include "runtime/lvplugin.h"
#include "runtime/plugin.h"

#include <cstring>
#include <png.h>

namespace {

const char pngTarget[] = "image/png";

struct MemoryHold {
    void *data = nullptr;
    ~MemoryHold() { FreeMemory(data); }
};

}  // namespace

int ClipboardArgbFromBrush(lvBrush *b, uint32_t **argb)
{
    *argb = nullptr;
    // A palette brush's transparent pen comes out with alpha 0, like a masked pixel.
    uint32_t *words = b->penBitmap && !b->bitmap
                          ? ExtractArgbPixels(nullptr, 0, 0, b->width, b->height, nullptr, nullptr, b->penBitmap,
                                              b->palette, b->transparentColour, -1, 0)
                          : ExtractArgbPixels(b->bitmap, 0, 0, b->width, b->height, b->mask, b->alpha, nullptr,
                                              nullptr, -1, -1, 0);
    if (!words) return ERR_MEM;
    *argb = words;
    return 0;
}

int EncodeArgbPng(const uint32_t *argb, int width, int height, void **png, size_t *size)
{
    *png = nullptr;
    *size = 0;
    png_image image;
    memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    image.width = (png_uint_32)width;
    image.height = (png_uint_32)height;
    // Little-endian 0xAARRGGBB words are the bytes B, G, R, A.
    image.format = PNG_FORMAT_BGRA;
    png_alloc_size_t bytes = 0;
    if (!png_image_write_to_memory(&image, nullptr, &bytes, 0, argb, width * 4, nullptr)) return ERR_MEM;
    void *out = AllocMemory(bytes, 0);
    if (!out) return ERR_MEM;
    if (!png_image_write_to_memory(&image, out, &bytes, 0, argb, width * 4, nullptr)) {
        FreeMemory(out);
        return ERR_MEM;
    }
    *png = out;
    *size = bytes;
    return 0;
}

int DecodePngArgb(const void *png, size_t size, uint32_t **argb, int *width, int *height)
{
    *argb = nullptr;
    png_image image;
    memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&image, png, size)) return ERR_CLIPREAD;
    image.format = PNG_FORMAT_BGRA;
    // A picture of more than 64 million pixels (256 MiB of words) is refused, not tried.
    if (!image.width || !image.height || image.width > 32768 || image.height > 32768 ||
        (uint64_t)image.width * image.height > ((uint64_t)1 << 26)) {
        png_image_free(&image);
        return ERR_CLIPREAD;
    }
    uint32_t *out = (uint32_t *)AllocMemory((size_t)image.width * image.height * 4, 0);
    if (!out) {
        png_image_free(&image);
        return ERR_MEM;
    }
    if (!png_image_finish_read(&image, nullptr, out, 0, nullptr)) {
        FreeMemory(out);
        png_image_free(&image);
        return ERR_CLIPREAD;
    }
    *argb = out;
    *width = (int)image.width;
    *height = (int)image.height;
    return 0;
}

int NewBrushFromClipboardArgb(const uint32_t *argb, int width, int height, lvObjectId *id)
{
    bool levels = false, holes = false;
    for (size_t i = 0, n = (size_t)width * height; i < n; i++) {
        uint32_t a = argb[i] >> 24;
        if (a == 0) holes = true;
        else if (a != 255) levels = true;
    }
    lvBitMapHandle *rgb = nullptr, *alpha = nullptr;
    int flags = (levels || holes) ? ARGBF_ALPHACHANNEL : 0;
    if (int code = BitmapFromArgb(argb, -1, width, height, width, 0, flags, nullptr, &rgb, nullptr, &alpha))
        return code;
    lvBrush *made = nullptr;
    int code = NewBrushRecord(id, 0, width, height, width, 0, nullptr, rgb, -1, nullptr, alpha, nullptr,
                              alpha ? 32 : 24, nullptr, nullptr, nullptr, 0, nullptr, &made);
    if (code) {
        FreeBitmapHandle(rgb);
        FreeBitmapHandle(alpha);
        return code;
    }
    // Only on or off: the picture was masked when it was put.
    if (holes && !levels) code = ChangeBrushTransparencyMode(made, 28);
    return code;
}

int PutClipboardImageRouted(const uint32_t *argb, int width, int height)
{
    if (lvPluginRecord *adapter = GetClipboardAdapter()) {
        if (!adapter->SetClipboard) return ERR_UNSUPPORTEDFEAT;
        // The words stay the caller's: the adapter copies what it keeps.
        lvClipboardImage image = {const_cast<uint32_t *>(argb), width, height, 0};
        lvClipboardData record = {LV_CLIP_IMAGE, &image};
        return ((lvSetClipboardFunction)adapter->SetClipboard)(&record, 0);
    }
    MemoryHold png;
    size_t size = 0;
    if (int code = EncodeArgbPng(argb, width, height, &png.data, &size)) return code;
    return OfferClipboardBytes(pngTarget, png.data, size);
}

int FetchClipboardImage(uint32_t **argb, int *width, int *height)
{
    *argb = nullptr;
    if (!DesktopSelectionAvailable()) return 0;
    // Only an owner that lists the picture is asked for it: some answer every target
    // with their text.
    int offered = 0, owned = 0;
    int code = ClipboardOffers(pngTarget, &offered, &owned);
    // No reachable X server: the text clipboard still answers.
    if (code == ERR_CLIPOPEN) return 0;
    if (code || !offered) return code;
    MemoryHold png;
    size_t size = 0;
    code = FetchClipboardBytes(pngTarget, &png.data, &size);
    if (code == ERR_CLIPOPEN) return 0;
    if (code || !png.data) return code;
    return DecodePngArgb(png.data, size, argb, width, height);
}

int ProbeDesktopClipboard(int *kind)
{
    *kind = -1;
    if (!DesktopSelectionAvailable()) return 0;
    int offered = 0, owned = 0;
    int code = ClipboardOffers(pngTarget, &offered, &owned);
    if (code == ERR_CLIPOPEN) return 0;
    if (code) return code;
    if (offered) *kind = LV_CLIP_IMAGE;
    return 0;
}

// decode.cpp - the decoding dispatch of the loader chain (the built-in readers chosen by
// the file's magic, or the platform decoder), the probe behind IsPicture, the four
// image entries of the plug-in interface's graphics table, and the open and close
// steps of the command-less "imageio" and "animio" libraries.
//
// Dependencies: identify.cpp, bmp.cpp, png.cpp, jpeg.cpp, imagesource.cpp,
// runtime/plugin.h (the plug-in list and the graphics entries).
#include "formats/formats_internal.h"
#include "formats/lvgif.h"
#include "formats/lvilbm.h"
#include "formats/lvnative.h"
#include "runtime/plugin.h"
#include <cstring>

bool ImagePixelsFit(int64_t width, int64_t height)
{
    return width > 0 && height > 0 && width <= LV_MAX_IMAGE_PIXELS && height <= LV_MAX_IMAGE_PIXELS &&
           width * height <= LV_MAX_IMAGE_PIXELS;
}

lvPluginRecord *FindAdapterPluginRecord(const lvFileAdapter *adapter)
{
    for (lvPluginNode *node = GetFirstPluginNode(); node; node = node->next)
        if (&node->adapter == adapter) return node->handle->record;
    return nullptr;
}

// ============================================================================
// Decoded images
// ============================================================================

void FreeDecodedImage(void *decoded)
{
    lvDecodedImage *image = (lvDecodedImage *)decoded;
    if (!image) return;
    FreeMemory(image->pixels);
    FreeMemory(image);
}

void *GetDecodedImagePixels(lvDecodedImage *decoded)
{
    return decoded->format == IMGFMT_NATIVE ? decoded->nativeImage : decoded->pixels;
}

// ============================================================================
// Dispatch
// ============================================================================

// The built-in readers, by the first 64 bytes.
static int DecodeInbuilt(lvVFile *file, lvImageLoadRequest *request, lvDecodedImage *image, int *width, int *height)
{
    uint8_t magic[64] = {};
    SeekVFile(file, 0, 1);
    ReadVFile(file, magic, sizeof magic);
    SeekVFile(file, 0, 1);
    uint32_t flags = request->flags;
    uint8_t *pixels = nullptr;
    uint32_t *palette = nullptr;
    int pen = -1, depth = 0, code;
    const char *name;
    request->hasAlpha = 0;  // only the PNG reader reports one; an earlier loader may have set it
    if (std::memcmp(magic, "FORM", 4) == 0 &&
        (std::memcmp(magic + 8, "ILBM", 4) == 0 || std::memcmp(magic + 8, "PBM ", 4) == 0)) {
        bool pbm = magic[8] == 'P';
        image->format = IMGFMT_ILBM, name = pbm ? "IFF PBM" : "IFF ILBM";
        int64_t key = (flags & LV_IMGLOAD_TRANSCOLOR) ? (int64_t)request->transparentColor : -1;
        code = ReadIlbmFile(file, flags, pbm, request->palette, key, &pen, width, height, &depth, &pixels, &palette,
                            request->colorRanges, &request->colorRangeCount);
    } else if (magic[0] == 0x89 && std::memcmp(magic + 1, "PNG", 3) == 0) {
        image->format = IMGFMT_PNG, name = "PNG";
        ReadPngFile(file, flags, width, height, &depth, &pixels, &palette, &pen, &request->hasAlpha, &code);
    } else if (magic[0] == 0xFF && magic[1] == 0xD8) {
        image->format = IMGFMT_JPEG, name = "JPEG";
        int format, w, h, alpha, transparency, orientation = 0;
        IdentifyImageFile(&h, &depth, file, &format, &w, &alpha, &transparency, &orientation);
        SeekVFile(file, 0, 1);
        code = DecodeJpegImage(file, 0, (flags & LV_IMGLOAD_SIZEONLY) != 0, orientation, width, height,
                               (uint32_t **)&pixels);
        depth = 24;
        if (!code && (flags & LV_IMGLOAD_PALETTE)) code = ERR_NOPALETTE;
    } else if (magic[0] == 'B' && magic[1] == 'M') {
        image->format = IMGFMT_BMP, name = "BMP";
        code = ReadBmpFile(file, flags, width, height, &depth, &pixels, &palette);
    } else if (std::memcmp(magic, "GIF87a", 6) == 0 || std::memcmp(magic, "GIF89a", 6) == 0) {
        image->format = IMGFMT_GIF, name = "GIF";
        code = DecodeGifImage(file, flags, &pixels, &pen, height, width, &palette, &depth);
    } else {
        return ERR_LOADPICTURE2;
    }
    if (code) {
        FreeMemory(pixels);
        FreeMemory(palette);
        image->format = IMGFMT_UNKNOWN;
        return code;
    }
    image->pixels = (uint32_t *)pixels;
    request->depth = depth;
    request->transparentPen = pen;
    if (palette) {
        FreeMemory(request->palette);
        request->palette = palette;
    }
    std::snprintf(request->formatName, sizeof request->formatName, "%s", name);
    request->loader = nullptr;
    return 0;
}

// The platform decoder: TIFF and WebP.
static int DecodeNative(lvVFile *file, lvImageLoadRequest *request, lvDecodedImage *image, int *width, int *height)
{
    uint8_t *pixels = nullptr;
    uint32_t *palette = nullptr;
    int pen = -1, depth = 0, alpha = 0;
    const char *name = nullptr;
    int64_t key = (request->flags & LV_IMGLOAD_TRANSCOLOR) ? (int64_t)request->transparentColor : -1;
    int code = LoadNativeImage(file, request->flags, key, &pixels, &palette, &pen, width, height, &depth, &alpha, &name);
    if (code) return code;
    image->format = IMGFMT_NATIVE;
    image->pixels = (uint32_t *)pixels;
    image->nativeImage = pixels;  // the same block: FreeDecodedImage frees it once
    request->depth = depth;
    request->hasAlpha = alpha;
    request->transparentPen = pen;
    if (palette) {
        FreeMemory(request->palette);
        request->palette = palette;
    }
    if (name) std::snprintf(request->formatName, sizeof request->formatName, "%s", name);
    request->loader = (void *)1;
    return 0;
}

int DecodeImageFile(lvVFile *file, int loaderKind, lvImageLoadRequest *request, lvDecodedImage **decoded,
                    int *width, int *height)
{
    lvDecodedImage *image = (lvDecodedImage *)AllocMemory(sizeof(lvDecodedImage), 1);
    if (!image) return ERR_MEM;
    image->format = IMGFMT_UNKNOWN;
    bool sizeOnly = request->flags & LV_IMGLOAD_SIZEONLY;
    int code = ERR_LOADPICTURE2;
    if (loaderKind == 1) {
        if (sizeOnly) {
            int format, orientation = 0;
            code = IdentifyImageFile(height, &request->depth, file, &format, width, &request->hasAlpha,
                                     &request->hasTransparency, &orientation);
            if (code == 0) {
                request->format = format;
                request->loader = nullptr;
                FreeDecodedImage(image);
                if (decoded) *decoded = nullptr;
                return 0;
            }
            SeekVFile(file, 0, 1);
        }
        code = DecodeInbuilt(file, request, image, width, height);
    }
    if (loaderKind == 2) code = DecodeNative(file, request, image, width, height);
    if (code) {
        FreeDecodedImage(image);
        return code;
    }
    request->format = image->format;
    if (sizeOnly || !decoded) {
        FreeDecodedImage(image);
        if (decoded) *decoded = nullptr;
    } else {
        *decoded = image;
    }
    return 0;
}

// ============================================================================
// Probe and plug-in entries
// ============================================================================

int ProbeImageFile(const char *path, const char *loaderList, const char *adapter, const void *userTags,
                   int *isVector, int *format, int *width, int *height, int *depth, int *hasAlpha,
                   int *hasTransparency)
{
    lvAdapterScan scan;
    char list[256];
    if (!loaderList) {
        CopyDefaultLoader(list, sizeof list, 0);
        loaderList = list[0] ? list : nullptr;
    } else if (!loaderList[0]) {
        return 0;
    }
    BeginAdapterScan(&scan, loaderList, PLUGINCAPS_IMAGE, 0);
    lvVFile *file = nullptr;
    int found = 0;
    for (int kind; !found && (kind = NextAdapter(&scan)) != 0;) {
        if (kind == 3) {
            lvPluginRecord *record = FindAdapterPluginRecord(scan.current);
            if (!record || !record->IsImage) continue;
            lvImageLoadCtrl ctrl = {};
            ctrl.adapter = adapter;
            ctrl.userTags = userTags;
            if (!record->IsImage(path, &ctrl)) continue;
            *format = IMGFMT_PLUGIN, *width = ctrl.width, *height = ctrl.height, *depth = ctrl.depth;
            *hasAlpha = ctrl.hasAlpha;
            *isVector = ctrl.type == 1;
            *hasTransparency = (ctrl.flags & LVP_IMGCTRL_HASPEN) != 0;
            found = 1;
            continue;
        }
        if (!file) file = OpenVFile(path, LV_VF_READ | LV_VF_ADAPTERS, adapter, userTags);
        if (!file) continue;
        SeekVFile(file, 0, 1);
        lvImageLoadRequest *request = (lvImageLoadRequest *)AllocMemory(sizeof(lvImageLoadRequest), 1);
        if (!request) break;
        request->flags = LV_IMGLOAD_SIZEONLY;
        int w = 0, h = 0;
        if (DecodeImageFile(file, kind, request, nullptr, &w, &h) == 0) {
            *format = request->format, *width = w, *height = h, *depth = request->depth;
            *hasAlpha = request->hasAlpha, *hasTransparency = request->hasTransparency, *isVector = 0;
            found = 1;
        }
        FreeMemory(request->palette);
        FreeMemory(request);
    }
    if (file) CloseVFile(file);
    return found;
}

int GetImageFileInfo(const char *path, int *width, int *height, int *hasAlpha)
{
    lvVFile *file = OpenVFile(path, LV_VF_READ, nullptr, nullptr);
    if (!file) return 0;
    lvImageLoadRequest *request = (lvImageLoadRequest *)AllocMemory(sizeof(lvImageLoadRequest), 1);
    int found = 0;
    for (int kind = 1; request && kind <= 2 && !found; kind++) {
        SeekVFile(file, 0, 1);
        request->flags = LV_IMGLOAD_SIZEONLY;
        int w = 0, h = 0;
        if (DecodeImageFile(file, kind, request, nullptr, &w, &h) == 0) {
            *width = w, *height = h, *hasAlpha = request->hasAlpha;
            found = 1;
        }
    }
    if (request) FreeMemory(request->palette);
    FreeMemory(request);
    CloseVFile(file);
    return found;
}

lvImageSource *LoadImageSourceTagged(const char *path, const lvPluginTag *tags, int *width, int *height,
                                     int *hasAlpha)
{
    lvImageLoadRequest *request = (lvImageLoadRequest *)AllocMemory(sizeof(lvImageLoadRequest), 1);
    if (!request) return nullptr;
    bool keepLayout = false;
    double factor = 1;
    request->loaderList = "inbuilt";
    for (const lvPluginTag *t = tags; t && t->tag; t++) {
        switch (t->tag) {
        case 1: keepLayout = t->value != 0; break;
        case 2: if (t->value) factor = *(const double *)t->value; break;
        case 3: request->scaleMode = (int32_t)t->value; break;
        case 4: request->adapter = (const char *)t->value; break;
        case 5: if (t->value) request->loaderList = (const char *)t->value; break;
        }
    }
    lvImageSource *source = nullptr;
    int w = 0, h = 0;
    if (factor > 0) {
        request->scale = factor;
        request->flags = LV_IMGLOAD_PACKROWS;
        if (LoadImageSource(path, request, &source, &w, &h, nullptr, nullptr) != 0) source = nullptr;
    }
    if (source && !keepLayout) {
        // Bytes R, G, B, A for the plug-in; opaque pictures get alpha 255.
        uint32_t *pixels = TakeImageSourcePixels(source);
        uint32_t forced = request->hasAlpha ? 0 : 0xFF000000u;
        size_t count = (size_t)w * h;
        for (size_t i = 0; i < count; i++) {
            uint32_t p = pixels[i];
            pixels[i] = ((p & 0xFF00FF00u) | (p >> 16 & 0xFF) | (p & 0xFF) << 16) | forced;
        }
    }
    if (source) {
        *width = w, *height = h;
        *hasAlpha = request->hasAlpha;
    }
    FreeMemory(request->palette);
    FreeMemory(request);
    return source;
}

int ImageioLibraryOpen(lvState *)
{
    return 0;
}

void ReleaseImagingFactory(lvState *, int)
{
    // No platform imaging factory is held in this build.
}

static int IsImageFileEntry(const char *path, int *width, int *height, int *hasAlpha)
{
    return GetImageFileInfo(path, width, height, hasAlpha);
}
static void *LoadImageEntry(const char *path, const lvPluginTag *tags, int *width, int *height, int *hasAlpha)
{
    return LoadImageSourceTagged(path, tags, width, height, hasAlpha);
}
static void *TakeImagePixelsEntry(void *source) { return TakeImageSourcePixels((lvImageSource *)source); }
static void FreeImageSourceEntry(void *source) { ReleaseImageSource((lvImageSource *)source); }

void InstallImageLoaderEntries(void)
{
    static const lvPluginImageEntries entries = {IsImageFileEntry, LoadImageEntry, TakeImagePixelsEntry,
                                                 FreeImageSourceEntry};
    SetPluginImageEntries(&entries);
    InstallFileFormatServices();
}

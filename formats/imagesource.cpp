// imagesource.cpp - reference-counted image sources, their rendering at a matrix, and
// LoadImageSource: the loader chain over plug-ins, the built-in readers and the
// platform decoder, then scaling, alpha channel, transparent-pen checks and packed rows.
//
// Dependencies: decode.cpp (DecodeImageFile), runtime/vfile.h (adapter scans, files),
// raster/lvbitmap.h (alpha bitmaps), raster_bridge.cpp (scaling, RGB bitmaps).
// Limits: script thread only. Every scaled or packed copy obeys the pixel limit.
#include "formats/formats_internal.h"
#include "raster/lvbitmap.h"
#include <cmath>
#include <cstring>

// ============================================================================
// Records
// ============================================================================

lvImageSource *NewImageSource(uint32_t kind, void *handle, lvImageGetPixels getPixels,
                              lvImageFreeHandle freeHandle, lvImageTransform transform, lvImageRender render,
                              lvImageFreeHandle freeHook, int width, int height, lvImageClone cloneFn,
                              lvImageCloneFree cloneFree, uint32_t creatorFlag)
{
    if (kind == LV_IMGSRC_PIXELS && !ImagePixelsFit(width, height)) return nullptr;
    lvImageSource *source = (lvImageSource *)AllocMemory(sizeof(lvImageSource), 1);
    if (!source) return nullptr;
    source->kind = kind;
    source->refCount = 1;
    source->width = width;
    source->height = height;
    source->creatorFlag = creatorFlag;
    if (kind == LV_IMGSRC_PIXELS) {
        if (!(source->pixels = (uint32_t *)AllocMemory((size_t)width * height * 4, 0))) {
            FreeMemory(source);
            return nullptr;
        }
        return source;
    }
    source->handle = handle;
    source->getPixels = getPixels;
    source->freeHandle = freeHandle;
    source->transform = transform;
    source->render = render;
    source->freeHook = freeHook;
    source->cloneFn = cloneFn;
    source->cloneFree = cloneFree;
    return source;
}

lvImageSource *RetainImageSource(lvImageSource *source)
{
    source->refCount++;
    return source;
}

void CloseImageSourceHandle(lvImageSource *source)
{
    if (source->freeHook) source->freeHook(source->handle);
    if ((source->kind == LV_IMGSRC_PLUGIN || source->kind == LV_IMGSRC_ANIM) && !source->render) {
        if (source->plugin) {
            if (source->plugin->FreeImage) source->plugin->FreeImage(source->handle);
        } else if (source->freeHandle) {
            source->freeHandle(source->handle);
        }
    }
}

void ReleaseImageSource(lvImageSource *source)
{
    if (!source || --source->refCount > 0) return;
    // A clone's own handle goes through cloneFree; a shared one is closed by its origin.
    if (source->handle && source->handle != source->clone && !source->sharesHandle) CloseImageSourceHandle(source);
    if (source->kind == LV_IMGSRC_PIXELS) FreeMemory(source->pixels);
    FreeMemory(source->scaledPixels);
    FreeMemory(source->packedPixels);
    if (source->attached && source->attachedFree) source->attachedFree(source->attached);
    if (source->clone && source->cloneFree) source->cloneFree(nullptr, source->clone);
    FreeMemory(source);
}

void GetImageSourceSize(const lvImageSource *source, int *width, int *height)
{
    *width = source->width;
    *height = source->height;
}

uint32_t GetImageSourceKind(const lvImageSource *source)
{
    return source->kind;
}

// A packed copy exists only when the rows of the pixels carry padding: it is the one
// buffer whose rows are exactly width pixels long, so it is what callers get.
uint32_t *TakeImageSourcePixels(lvImageSource *source)
{
    if (source->packedPixels) return source->packedPixels;
    return source->scaledPixels ? source->scaledPixels : source->pixels;
}

lvImageSource *CloneImageSource(lvImageSource *source, int independent)
{
    if (source->kind == LV_IMGSRC_PIXELS || source->kind == LV_IMGSRC_DECODED) return nullptr;
    lvImageSource *copy = (lvImageSource *)AllocMemory(sizeof(lvImageSource), 0);
    if (!copy) return nullptr;
    *copy = *source;
    copy->refCount = 1;
    copy->pixels = copy->scaledPixels = copy->packedPixels = nullptr;
    copy->attached = nullptr;
    copy->attachedFree = nullptr;
    copy->clone = nullptr;
    if (independent || source->clone) {
        void *fresh = source->cloneFn ? source->cloneFn(source->clone ? source->clone : source->handle) : nullptr;
        if (!fresh) {
            FreeMemory(copy);
            return nullptr;
        }
        copy->handle = copy->clone = fresh;
        copy->sharesHandle = 0;
    } else {
        copy->sharesHandle = 1;
    }
    return copy;
}

lvImageSource *AttachImageSourceObject(lvImageSource *source, void *object, lvImageObjectFree freeFn)
{
    source->attached = object;
    source->attachedFree = freeFn;
    return source;
}

// ============================================================================
// Rendering
// ============================================================================

int RenderImageSource(void *context, lvImageSource *source, const double *matrix, double x, double y, int width,
                      int height, void *bgpicTarget, lvBuildBGPicBitmaps buildBGPic, uint32_t **pixelsOut,
                      lvBitMapHandle **rgbOut, lvBitMapHandle **maskOut, lvBitMapHandle **alphaOut, void **extraOut,
                      int *lineWidthOut)
{
    if (source->render) {
        if (pixelsOut) *pixelsOut = nullptr;
        return source->render(source->handle, matrix, rgbOut, maskOut, alphaOut, extraOut, &width, &height);
    }
    lvImageTransform transform = source->plugin ? source->plugin->TransformImage : source->transform;
    bool canFetch = source->plugin ? source->plugin->GetImage != nullptr : source->getPixels != nullptr;
    if (!transform || !canFetch) return ERR_TFIMAGE;
    lvImageMatrix m = {matrix[0], matrix[1], matrix[2], matrix[3], x, y};
    if (!transform(source->handle, &m, width, height)) return ERR_TFIMAGE;
    // The anim plug-ins' frame record and the loader's ctrl record: both are runs of
    // 32-bit fields; the line width and the alpha flag sit at different places.
    // A vector anim's frame fills the anim frame record: its alpha flag, rows of the width.
    lvImageLoadCtrl ctrl = {};
    lvAnimFrameCtrl frameCtrl = {};
    frameCtrl.transparentPen = -1;
    bool animFrame = source->kind == LV_IMGSRC_ANIM && !source->plugin;
    uint32_t *pixels = source->plugin ? (uint32_t *)source->plugin->GetImage(source->handle, &ctrl)
                                      : source->getPixels(source->handle, animFrame ? (void *)&frameCtrl : &ctrl);
    int lineWidth = animFrame ? width : ctrl.lineWidth;
    int hasAlpha = animFrame ? frameCtrl.hasAlpha : ctrl.hasAlpha;
    if (!pixels) return ERR_TFIMAGE;
    if (lineWidth < width) lineWidth = width;
    if (!rgbOut) {
        if (pixelsOut) *pixelsOut = pixels;
        if (lineWidthOut) *lineWidthOut = lineWidth;
        return 0;
    }
    lvBitMapHandle *alpha = nullptr;
    if (hasAlpha && !(alpha = CreateAlphaBitmapFromPixels(pixels, width, height, lineWidth))) return ERR_ALLOCALPHA;
    int code;
    if (bgpicTarget && buildBGPic) {
        code = buildBGPic(context, pixels, bgpicTarget, -1, width, height, lineWidth, rgbOut, maskOut, &alpha, nullptr);
        if (alphaOut) *alphaOut = alpha, alpha = nullptr;
    } else {
        code = MakeBitmapsFromArgb(pixels, width, height, lineWidth, rgbOut, maskOut, &alpha);
        if (alphaOut) *alphaOut = alpha, alpha = nullptr;
    }
    FreeBitmapHandle(alpha);
    if (lineWidthOut) *lineWidthOut = 0;
    return code;
}

// ============================================================================
// Loading
// ============================================================================

// One turn of the plug-in loader: 0 success, -1 not taken, or an error to remember.
static int LoadThroughPlugin(const char *path, lvPluginRecord *plugin, lvImageLoadRequest *request,
                             lvImageSource *source, int *width, int *height, int *lineWidth, int *isVector)
{
    if (!plugin->LoadImage || !plugin->GetImage) return -1;
    lvImageLoadCtrl ctrl = {};
    ctrl.wantedWidth = request->wantedWidth;
    ctrl.wantedHeight = request->wantedHeight;
    ctrl.scaleMode = request->scaleMode;
    ctrl.adapter = request->adapter;
    ctrl.userTags = request->userTags;
    ctrl.flags = request->flags & (LVP_IMGCTRL_TRANSPEN | LVP_IMGCTRL_PALETTE);
    ctrl.transparentPen = -1;
    void *handle = plugin->LoadImage(path, &ctrl);
    if (!handle) return -1;
    auto refuse = [&](int code) {
        if (plugin->FreeImage) plugin->FreeImage(handle);
        return code;
    };
    bool vector = ctrl.type == 1;
    // Rows shorter than the picture would be read past their end; pictures beyond the
    // pixel limit cannot be copied. The next loader gets its turn.
    auto unusable = [&] {
        if (vector) return ctrl.width <= 0 || ctrl.height <= 0;
        return !ImagePixelsFit(ctrl.width, ctrl.height) || ctrl.lineWidth < ctrl.width;
    };
    if (unusable()) return refuse(-1);
    request->depth = ctrl.depth;
    request->transparentPen = ctrl.transparentPen;
    request->hasAlpha = ctrl.hasAlpha;
    request->formatName[0] = 0;
    if (plugin->GetImageFormat)
        if (const char *name = plugin->GetImageFormat(handle))
            std::snprintf(request->formatName, sizeof request->formatName, "%s", name);
    int w = ctrl.width, h = ctrl.height;
    if (vector && (ctrl.flags & LVP_IMGCTRL_SCALED)) {
        request->wantedWidth = ctrl.width;
        request->wantedHeight = ctrl.height;
        w = ctrl.unscaledWidth;
        h = ctrl.unscaledHeight;
    }
    if (ctrl.alphaWanted) request->flags |= LV_IMGLOAD_ALPHA;
    uint32_t *pixels = (uint32_t *)plugin->GetImage(handle, &ctrl);
    if ((!pixels && !vector) || unusable()) return refuse(-1);  // GetImage may report the rows anew
    if (request->flags & LV_IMGLOAD_PALETTE) {
        if (!ctrl.palette) return refuse(ERR_NOPALETTE);
        uint32_t *palette = (uint32_t *)AllocMemory(1024, 0);
        if (!palette) return refuse(ERR_MEM);
        std::memcpy(palette, ctrl.palette, 1024);
        FreeMemory(request->palette);
        request->palette = palette;
    }
    source->kind = LV_IMGSRC_PLUGIN;
    source->plugin = plugin;
    source->handle = handle;
    source->pixels = pixels;
    source->width = w;
    source->height = h;
    *width = ctrl.width;
    *height = ctrl.height;
    *lineWidth = ctrl.lineWidth;
    *isVector = vector;
    request->loader = plugin;
    return 0;
}

// The loader's own size: a factor, or wanted sides (0 own, -p per cent). ERR_MEM when the
// target passes the pixel limit.
static int ComputeTargetSize(const lvImageLoadRequest *request, int width, int height, int *targetWidth,
                             int *targetHeight)
{
    double tw, th;
    if (request->scale != 0 && request->scale != 1) {
        tw = std::trunc(width * request->scale);
        th = std::trunc(height * request->scale);
        if (!(tw >= 1)) tw = 1;  // NaN and tiny factors give one pixel
        if (!(th >= 1)) th = 1;
    } else {
        int ww = request->wantedWidth, wh = request->wantedHeight;
        tw = ww < 0 ? std::trunc(-(double)ww / 100 * width) : ww == 0 ? width : ww;
        th = wh < 0 ? std::trunc(-(double)wh / 100 * height) : wh == 0 ? height : wh;
        if (tw < 1) tw = 1;
        if (th < 1) th = 1;
    }
    if (tw > (double)LV_MAX_IMAGE_PIXELS || th > (double)LV_MAX_IMAGE_PIXELS ||
        !ImagePixelsFit((int64_t)tw, (int64_t)th))
        return ERR_MEM;
    *targetWidth = (int)tw;
    *targetHeight = (int)th;
    return 0;
}

int LoadImageSource(const char *path, lvImageLoadRequest *request, lvImageSource **sourceOut, int *widthOut,
                    int *heightOut, int *lineWidthOut, int *isVectorOut)
{
    lvImageLoadRequest *ownRequest = nullptr;
    if (!request) {
        if (!(request = ownRequest = (lvImageLoadRequest *)AllocMemory(sizeof(lvImageLoadRequest), 1))) return ERR_MEM;
    }
    auto finish = [&](int code) {
        if (ownRequest) {
            FreeMemory(ownRequest->palette);
            FreeBitmapHandle(ownRequest->alphaBitmap);
            FreeMemory(ownRequest);
        }
        return code;
    };
    request->transparentPen = -1;
    lvImageSource *source = (lvImageSource *)AllocMemory(sizeof(lvImageSource), 1);
    if (!source) return finish(ERR_MEM);
    source->refCount = 1;

    // The chain.
    char defaultList[256];
    const char *list = request->loaderList;
    if (!list) {
        CopyDefaultLoader(defaultList, sizeof defaultList, 0);
        list = defaultList[0] ? defaultList : nullptr;
    }
    lvAdapterScan scan;
    BeginAdapterScan(&scan, list, PLUGINCAPS_IMAGE, 0);
    if (list && !list[0]) scan.cursor = nullptr;  // an empty list names no loader
    lvVFile *file = nullptr;
    int remembered = 0, width = 0, height = 0, lineWidth = 0, isVector = 0;
    bool loaded = false, decoder = false;
    for (int kind; !loaded && (kind = NextAdapter(&scan)) != 0;) {
        int code;
        if (kind == 3) {
            if (request->flags & LV_IMGLOAD_NOPLUGINS) continue;
            lvPluginRecord *plugin = FindAdapterPluginRecord(scan.current);
            if (!plugin) continue;
            code = LoadThroughPlugin(path, plugin, request, source, &width, &height, &lineWidth, &isVector);
            if (code < 0) continue;
        } else {
            if (!file) file = OpenVFile(path, LV_VF_READ | LV_VF_ADAPTERS, request->adapter, request->userTags);
            else SeekVFile(file, 0, 1);
            if (!file) continue;
            lvDecodedImage *decoded = nullptr;
            code = DecodeImageFile(file, kind, request, &decoded, &width, &height);
            if (code == 0) {
                source->kind = LV_IMGSRC_DECODED;
                source->handle = decoded;
                source->freeHook = FreeDecodedImage;
                source->width = width;
                source->height = height;
                decoder = true;
            } else if (code == ERR_LOADPICTURE2) {
                continue;
            }
        }
        if (code == 0) loaded = true;
        else remembered = code;
    }
    if (file) CloseVFile(file);

    int code = 0;
    auto fail = [&](int failure) {
        FreeMemory(request->palette);
        request->palette = nullptr;
        FreeBitmapHandle(request->alphaBitmap);
        request->alphaBitmap = nullptr;
        ReleaseImageSource(source);
        SetErrorStringArg(path);
        return finish(failure);
    };
    if (!loaded) {
        FreeMemory(source);
        SetErrorStringArg(path);
        if (remembered) return finish(remembered);
        return finish(VFileExists(path, request->adapter, request->userTags) ? ERR_LOADPICTURE2 : ERR_READFILE);
    }
    if (request->flags & LV_IMGLOAD_PALETTEONLY) {
        ReleaseImageSource(source);
        if (!request->palette) {
            SetErrorStringArg(path);
            return finish(ERR_NOPALETTE);
        }
        if (widthOut) *widthOut = width;
        if (heightOut) *heightOut = height;
        return finish(0);
    }
    if (decoder) {
        if (request->transparentPen == -2) {
            request->transparentPen = -1;
            request->flags = (request->flags & ~(uint32_t)LV_IMGLOAD_TRANSPEN) | LV_IMGLOAD_ALPHA;
            request->hasAlpha = 1;
        }
        lineWidth = width;
        source->pixels = source->handle ? (uint32_t *)GetDecodedImagePixels((lvDecodedImage *)source->handle) : nullptr;
    }
    bool paletteMode = request->flags & LV_IMGLOAD_PALETTE;
    if (!(request->flags & LV_IMGLOAD_SIZEONLY) && (source->pixels || isVector)) {
        int targetWidth, targetHeight;
        if ((code = ComputeTargetSize(request, width, height, &targetWidth, &targetHeight))) return fail(code);
        if (targetWidth != width || targetHeight != height) {
            if (isVector) {
                double matrix[4] = {(double)targetWidth / width, 0, 0, (double)targetHeight / height};
                uint32_t *pixels = nullptr;
                code = RenderImageSource(nullptr, source, matrix, 0, 0, targetWidth, targetHeight, nullptr, nullptr,
                                         &pixels, nullptr, nullptr, nullptr, nullptr, &lineWidth);
                if (code) return fail(code);
                source->pixels = pixels;
            } else {
                source->scaledPixels = ScaleSourcePixels(source->pixels, width, height, targetWidth, targetHeight,
                                                         lineWidth, paletteMode, request->scaleMode);
                if (!source->scaledPixels) return fail(ERR_MEM);
                lineWidth = targetWidth;
            }
            width = targetWidth;
            height = targetHeight;
        }
        uint32_t *current = source->scaledPixels ? source->scaledPixels : source->pixels;
        FreeBitmapHandle(request->alphaBitmap);
        request->alphaBitmap = nullptr;
        bool alphaExcused = false;  // a missing alpha channel was allowed: no pen check either
        if (request->flags & LV_IMGLOAD_ALPHA) {
            if (!request->hasAlpha) {
                if (!(request->flags & LV_IMGLOAD_NOALPHAOK)) return fail(ERR_NOALPHA);
                alphaExcused = true;
            } else if (!paletteMode &&
                       !(request->alphaBitmap = CreateAlphaBitmapFromPixels(current, width, height, lineWidth))) {
                return fail(ERR_MEM);
            }
        }
        if (!alphaExcused && (request->flags & LV_IMGLOAD_TRANSPEN) && !request->alphaBitmap &&
            request->transparentPen == -1 && !(request->flags & LV_IMGLOAD_NOPENOK))
            return fail(ERR_NOTRANSPARENCY);
        if ((request->flags & LV_IMGLOAD_PACKROWS) && lineWidth != width) {
            size_t bytes = paletteMode ? 1 : 4;
            source->packedPixels = (uint32_t *)AllocMemory((size_t)width * height * bytes, 0);
            if (!source->packedPixels) return fail(ERR_MEM);
            for (int y = 0; y < height; y++)
                std::memcpy((uint8_t *)source->packedPixels + (size_t)y * width * bytes,
                            (const uint8_t *)current + (size_t)y * lineWidth * bytes, (size_t)width * bytes);
            lineWidth = width;
        }
    }
    if (sourceOut) *sourceOut = source;
    else ReleaseImageSource(source);
    if (widthOut) *widthOut = width;
    if (heightOut) *heightOut = height;
    if (lineWidthOut) *lineWidthOut = lineWidth;
    if (isVectorOut) *isVectorOut = isVector;
    if (!(request->flags & LV_IMGLOAD_KEEPALPHA)) {
        FreeBitmapHandle(request->alphaBitmap);
        request->alphaBitmap = nullptr;
    }
    return finish(0);
}

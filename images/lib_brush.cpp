// lib_brush.cpp - the "brush" command library: loading brushes from picture files, making
// empty, gradient, textured and callback brushes, freeing them, and the whole command
// table (the drawing, geometry, effect and conversion commands join it as they land).
//
// Depends on: images/lvbrush.h, images/lvpalette.h, images/lvbgpic.h, raster/lvimage.h,
// raster/lvgradient_args.h, formats/lvformats.h, runtime/cmdsupport.h.
#include <climits>
#include <cstdio>
#include <cstring>

#include "base/lverrors.h"
#include "images/lvimagecmd.h"
#include "formats/lvsavers.h"
#include "images/lvbgpic.h"
#include "images/lvbrush.h"
#include "images/lveffects.h"
#include "images/lvpalette.h"
#include "platform/lvplatform.h"
#include "raster/lvgradient_args.h"
#include "raster/lvimage.h"
#include "raster/lvinit.h"
#include "raster/lvneighbours.h"
#include "raster/lvraster.h"
#include "raster/lvquantize.h"
#include "raster/lvrect.h"
#include "raster/lvplanes.h"
#include "raster/lvscale.h"
#include "runtime/cmdsupport.h"
#include "runtime/errors.h"
#include "runtime/lists.h"
#include "runtime/vfile.h"

namespace {

// An identifier, or Nil for a handle; a number in use is released first.
int NewIdArg(lvState *L, int index, lvObjectId *id)
{
    int isNil = 0;
    int number = GetIntArgOrNil(L, index, &isNil);
    *id = {isNil ? 0 : number, nullptr};
    return isNil ? 0 : ReleaseBrushRecord(L, *id, 0);
}

// A size option: a number, or a per-cent string giving -percent.
bool SizeField(lvState *L, int index, const char *name, int *out)
{
    return GetFieldIntOrPercent(L, index, name, 1, out);
}

struct lvLoadBrushOptions {
    int loadAlpha = 0, loadTransparency = 0, loadPalette = 0, globalAlpha = -1, hasGlobalAlpha = 0;
    int x = 0, y = 0, width = 0, height = 0, hasWidth = 0, hasHeight = 0;
    int hardware = 0, scaleWidth = 0, scaleHeight = 0, smoothScale = 0;
    int64_t transparency = -1;
    int transparentPen = -1, hasTransparentPen = 0;
    int decoderColour = -1, forceFlag = 0;
    char loader[256] = "", adapter[256] = "";
};

}  // namespace

static int CmdLoadBrush(lvState *L)
{
    CheckArgCount(L, 2, 5, 0, 0);
    char path[LV_PATH_SIZE];
    std::snprintf(path, sizeof path, "%s", GetLinkedFileArg(L, 2, 0, nullptr));
    int args = GetStackTop(L);
    // The number is free from here on, whether the load succeeds or not.
    lvObjectId id;
    if (int code = NewIdArg(L, 1, &id)) return code;
    lvLoadBrushOptions o;
    lvObjectId displayOption = {0, nullptr};
    lvUserTag *tags = nullptr;
    if (args >= 3 && GetValueType(L, 3) == LV_TTABLE) {
        GetFieldInt(L, 3, "loadalpha", &o.loadAlpha);
        GetFieldInt(L, 3, "loadtransparency", &o.loadTransparency);
        GetFieldInt(L, 3, "loadpalette", &o.loadPalette);
        int present = 0;
        GetFieldInt(L, 3, "globalalpha", &o.globalAlpha, &o.hasGlobalAlpha);
        GetFieldInt(L, 3, "x", &o.x);
        GetFieldInt(L, 3, "y", &o.y);
        GetFieldInt(L, 3, "width", &o.width, &o.hasWidth);
        GetFieldInt(L, 3, "height", &o.height, &o.hasHeight);
        GetFieldInt(L, 3, "hardware", &o.hardware);
        SizeField(L, 3, "scalewidth", &o.scaleWidth);
        SizeField(L, 3, "scaleheight", &o.scaleHeight);
        GetFieldInt(L, 3, "smoothscale", &o.smoothScale);
        GetFieldObjectId(L, 3, "display", &displayOption);
        GetFieldStringBuf(L, 3, "loader", o.loader, sizeof o.loader);
        GetFieldStringBuf(L, 3, "adapter", o.adapter, sizeof o.adapter);
        double number;
        if (GetFieldNumber(L, 3, "transparency", &number, &present)) o.transparency = (uint32_t)NumberToInt64(number) & 0xFFFFFFu;
        GetFieldInt(L, 3, "transparentpen", &o.transparentPen, &o.hasTransparentPen);
        if (int code = ReadUserTags(L, 3, nullptr, nullptr, &tags)) return code;
    } else if (args == 3) {
        o.transparency = ColourArg(L, 3) & 0xFFFFFFu;
    } else if (args == 5) {
        o.transparency = ColourArg(L, 3) & 0xFFFFFFu;
        o.decoderColour = (int)(ColourArg(L, 4) & 0xFFFFFFu);
        o.forceFlag = IntArg(L, 5) != 0;
    }
    int code = 0;
    if ((o.transparency != -1 && o.loadPalette) || (o.hasTransparentPen && !o.loadPalette) ||
        (o.loadAlpha && (o.loadTransparency || o.loadPalette)) ||
        (!o.loadAlpha && ((o.loadTransparency && o.transparency != -1) ||
                          (o.loadPalette && (o.hardware || o.hasGlobalAlpha)))))
        code = ERR_WRONGUSAGE;
    else if (o.transparency != -1 && (o.loadAlpha || o.hasGlobalAlpha))
        code = ERR_MASKNALPHA;
    if (code) {
        FreeUserTags(tags, 0);
        return code;
    }

    lvImageLoadRequest request = {};
    request.loaderList = o.loader[0] ? o.loader : nullptr;
    request.adapter = o.adapter[0] ? o.adapter : nullptr;
    request.userTags = tags;
    request.flags = LV_IMGLOAD_KEEPALPHA | LV_IMGLOAD_TRANSCOLOR | (o.forceFlag ? LV_IMGLOAD_ILBMTRANSPARENCY : 0) |
                    (o.loadAlpha ? LV_IMGLOAD_ALPHA : 0) | (o.loadTransparency ? LV_IMGLOAD_TRANSPEN : 0) |
                    (o.loadPalette ? LV_IMGLOAD_PALETTE | LV_IMGLOAD_COPYPALETTE : 0);
    request.transparentColor = (uint32_t)o.decoderColour;
    request.transparentPen = -1;
    request.wantedWidth = o.scaleWidth;
    request.wantedHeight = o.scaleHeight;
    request.scaleMode = o.smoothScale;
    lvImageSource *source = nullptr;
    int width = 0, height = 0, rowLength = 0, isVector = 0;
    code = LoadImageSource(path, &request, &source, &width, &height, &rowLength, &isVector);
    FreeUserTags(tags, 0);
    if (code) return code;
    lvBitMapHandle *alpha = request.alphaBitmap;
    uint32_t *palette = request.palette;
    lvCycleRange *cycle = nullptr;
    lvBitMapHandle *rgb = nullptr, *mask = nullptr, *pens = nullptr;
    int64_t transparent = isVector ? -1 : o.transparency;
    auto fail = [&](int failure) {
        if (source) ReleaseImageSource(source);
        FreeBitmapHandle(alpha);
        FreeBitmapHandle(rgb);
        FreeBitmapHandle(mask);
        FreeBitmapHandle(pens);
        FreeMemory(palette);
        FreeMemory(cycle);
        return failure;
    };
    if (o.loadPalette && request.colorRangeCount > 0)
        if (DuplicateCycleTable(request.colorRanges, request.colorRangeCount, &cycle)) return fail(ERR_MEM);
    // A global alpha scales an alpha channel, or becomes one.
    if (o.hasGlobalAlpha) {
        int level = o.globalAlpha < 0 ? 0 : o.globalAlpha > 255 ? 255 : o.globalAlpha;
        if (alpha) {
            ScaleAlphaPlane(alpha, alpha, width, height, level);
        } else {
            alpha = AllocAlphaBitmap(width, height, 1, nullptr, 0);
            if (!alpha) return fail(ERR_ALLOCALPHA);
            uint8_t *pixels;
            int rowBytes;
            uintptr_t token = GetPlanePixels(alpha, &pixels, &rowBytes, 1);
            if (!token) return fail(ERR_LOCKBMAP);
            std::memset(pixels, level, (size_t)rowBytes * height);
            ReleasePlanePixels(token);
        }
    }
    // The rectangle to keep.
    if (o.x < 0 || o.y < 0) return fail(ERR_NEGCOORDS);
    if (o.x >= width || o.y >= height) return fail(ERR_COORDSRANGE);
    // The preloader hands 0 for a size the applet did not give: the whole picture.
    int cropWidth = o.hasWidth && o.width > 0 ? o.width : width;
    int cropHeight = o.hasHeight && o.height > 0 ? o.height : height;
    if (cropWidth > width - o.x) cropWidth = width - o.x;
    if (cropHeight > height - o.y) cropHeight = height - o.y;
    if (cropWidth <= 0 || cropHeight <= 0) return fail(ERR_BADDIMENSIONS);
    if (isVector && (o.x || o.y || cropWidth != width || cropHeight != height)) return fail(ERR_BRUSHTYPE);
    if (request.transparentPen >= 0) transparent = request.transparentPen;
    int depth;
    int preload = 0;
    GetRuntimeFlags(L, LV_FLAG_PRELOAD, &preload, 0);
    bool deferred = false;
    // "hardware" counts only where the back-end makes video bitmaps.
    int hardware = o.hardware && VideoBitmapsOffered() && !o.loadPalette;
    void *display = nullptr;
    lvObjectId displayId = {0, nullptr};
    if (o.loadPalette) {
        depth = request.depth;
        if (depth < 1 || depth > 8) {
            SetErrorStringArg(path);
            return fail(ERR_NOPALETTE);
        }
        if (transparent >= (1 << depth)) return fail(ERR_PENRANGE);
        pens = AllocChunkyBitmap(cropWidth, cropHeight, 1);
        if (!pens) return fail(ERR_ALLOCCHUNKY);
        uint8_t *to;
        int toRow;
        uintptr_t token = GetPlanePixels(pens, &to, &toRow, 1);
        if (!token) return fail(ERR_LOCKBMAP);
        const uint8_t *from = (const uint8_t *)source->pixels;
        for (int y = 0; from && y < cropHeight; y++)
            std::memcpy(to + (size_t)y * toRow, from + (size_t)(o.y + y) * rowLength + o.x, (size_t)cropWidth);
        ReleasePlanePixels(token);
        ReleaseImageSource(source);
        source = nullptr;
        FreeBitmapHandle(alpha);
        alpha = nullptr;
    } else if (preload && !isVector && source->pixels) {
        // Kept decoded until a display realizes it (or its first use): the record holds
        // the whole picture and the part to keep.
        deferred = true;
        depth = alpha || transparent != -1 ? 32 : 24;
    } else {
        if (hardware && (code = ResolveHardwareBrushDisplay(displayOption, &display, &displayId))) return fail(code);
        uint32_t *cropped;
        lvBitMapHandle *croppedAlpha;
        if (int c = CropArgbPixels(source->pixels, rowLength, o.x, o.y, cropWidth, cropHeight, height, alpha,
                                   &cropped, &croppedAlpha))
            return fail(c);
        int c = BitmapFromArgb(cropped, transparent, cropWidth, cropHeight,
                               cropped == source->pixels ? rowLength : cropWidth, hardware,
                               hardware ? (alpha ? ARGBF_ALPHA : 0) | (transparent != -1 ? ARGBF_TRANSPARENCY : 0) : 0,
                               display, &rgb, &mask, &croppedAlpha);
        if (cropped != source->pixels) FreeMemory(cropped);
        if (croppedAlpha != alpha) {
            FreeBitmapHandle(alpha);
            alpha = croppedAlpha;
        }
        if (c) return fail(c);
        if (!isVector) {
            ReleaseImageSource(source);
            source = nullptr;
        }
        depth = mask || alpha ? 32 : 24;
    }
    lvBrush *b;
    code = NewBrushRecord(&id, isVector, deferred ? width : cropWidth, deferred ? height : cropHeight,
                          deferred ? rowLength : cropWidth, 0, source, rgb, (int)transparent, mask, alpha, pens, depth,
                          o.loadPalette ? palette : nullptr, nullptr, cycle, request.colorRangeCount,
                          request.formatName, &b);
    if (code) return fail(code);
    if (deferred) {
        b->cropX = o.x, b->cropY = o.y, b->cropWidth = cropWidth, b->cropHeight = cropHeight;
        b->hardware = hardware;
        b->smoothScale = o.smoothScale;
    } else if (rgb && rgb->video) {
        b->hardware = 1;
        b->display = display;
        b->displayId = displayId;
        b->smoothScale = o.smoothScale;
        b->hardwareTransparency = (transparent != -1 ? 1 : 0) | (alpha ? 2 : 0);
    }
    if (!o.loadPalette) FreeMemory(palette);
    b->loader = request.loader;
    b->transformed = isVector && (o.scaleWidth || o.scaleHeight);
    return FinishNewObject(L, id);
}

static int CmdCreateBrush(lvState *L)
{
    CheckArgCount(L, 3, 5, 0, 0);
    int width = IntArg(L, 2), height = IntArg(L, 3);
    if (width <= 0 || height <= 0) return ERR_BADDIMENSIONS;
    lvBrushRequest q = {};
    q.width = width, q.height = height;
    q.transparentColour = -1;
    q.callbackRef = q.userDataRef = -1;
    int options = 0;
    if (GetStackTop(L) >= 4) {
        if (GetValueType(L, 4) == LV_TTABLE) options = 4;
        else q.colour = ColourArg(L, 4) & 0xFFFFFFu;
    }
    if (!options && GetStackTop(L) >= 5 && GetValueType(L, 5) != LV_TNIL) {
        CheckTableArg(L, 5);
        options = 5;
    }
    int hasPalette = 0, hasPen = 0, fillPen = 0, hasDepth = 0;
    lvObjectId paletteId = {0, nullptr};
    if (options) {
        GetFieldInt(L, options, "alphachannel", &q.alpha);
        GetFieldInt(L, options, "mask", &q.mask);
        GetFieldInt(L, options, "clear", &q.clear);
        GetFieldInt(L, options, "hardware", &q.hardware);
        GetFieldInt(L, options, "smoothscale", &q.smoothScale);
        GetFieldInt(L, options, "depth", &q.depth, &hasDepth);
        double pen;
        if (GetFieldNumber(L, options, "transparentpen", &pen, &hasPen))
            q.transparentColour = (int)(uint32_t)(uint64_t)NumberToInt64(pen);
        GetFieldInt(L, options, "fillpen", &fillPen);
        GetFieldObjectId(L, options, "palette", &paletteId, &hasPalette);
    }
    if (q.depth == 32) {
        if (q.mask) return ERR_WRONGUSAGE;
        q.alpha = 1;
    }
    if (q.alpha && q.mask) return ERR_WRONGUSAGE;
    lvResolvedPalette resolved;
    if (hasPalette || (q.depth >= 1 && q.depth <= 8)) {
        if (q.alpha || q.mask || q.hardware || q.smoothScale) return ERR_WRONGUSAGE;
        resolved.transparentPen = q.transparentColour;
        lvObjectId which = hasPalette ? paletteId : lvObjectId{PALETTE_BLACK, nullptr};
        if (int code = ResolvePaletteOption(which, hasDepth ? q.depth : 0, fillPen, hasPen, &resolved)) return code;
        q.depth = resolved.depth;
        q.palette = resolved.pens;
        q.colour = (uint32_t)fillPen;
        q.transparentColour = resolved.transparentPen;
        q.cycleTable = resolved.cycleTable;
        q.cycleCount = resolved.cycleCount;
    } else if ((q.depth != 0 && q.depth != 24 && q.depth != 32) || hasPen) {
        return ERR_WRONGUSAGE;
    }
    if (q.depth == 32 || q.depth == 24) q.depth = 0;
    if (options) {
        PushString(L, "callback");
        GetTableValue(L, options);
        int type = GetValueType(L, -1);
        SetStackTop(L, -2);
        if (type != LV_TNIL) {
            if (!GetFieldFunctionRef(L, options, "callback", &q.callbackRef)) return ERR_FUNCTABLEARG;
            GetFieldRef(L, options, "userdata", &q.userDataRef);
        }
    }
    // "hardware" counts only where the back-end makes video bitmaps.
    if (!VideoBitmapsOffered()) q.hardware = 0;
    if (options) GetFieldObjectId(L, options, "display", &q.displayId);
    lvObjectId id;
    int code = NewIdArg(L, 1, &id);
    if (!code) code = AllocBrushBitmaps(L, &id, &q);
    if (code) {
        if (q.callbackRef >= 0) ReleaseReference(L, LV_REGISTRYINDEX, q.callbackRef);
        if (q.userDataRef >= 0) ReleaseReference(L, LV_REGISTRYINDEX, q.userDataRef);
        return code;
    }
    return FinishNewObject(L, id);
}

static int CmdFreeBrush(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    return ReleaseBrushRecord(L, GetObjectIdArg(L, 1), 1);
}

static int CmdCreateGradientBrush(lvState *L)
{
    CheckArgCount(L, 6, 8, 0, 0);
    int width = IntArg(L, 2), height = IntArg(L, 3);
    if (width <= 0 || height <= 0) return ERR_BADDIMENSIONS;
    lvGradient gradient = {};
    gradient.style = IntArg(L, 4);
    gradient.startColour = ColourArg(L, 5);
    gradient.endColour = ColourArg(L, 6);
    if (int code = ParseGradientArgs(L, 7, &gradient)) return code;
    lvGradientFill fill = GetGradientFill();
    if (!fill) return ERR_UNIMPLCMD;
    lvObjectId id;
    if (int code = NewIdArg(L, 1, &id)) return code;
    lvBitMapHandle *rgb = AllocRgbBitmap(width, height, 0, nullptr);
    if (!rgb) return ERR_BITMAP;
    int code = fill(rgb, nullptr, width, height, &gradient);
    if (!code)
        code = NewBrushRecord(&id, 0, width, height, width, 0, nullptr, rgb, -1, nullptr, nullptr, nullptr, 24,
                              nullptr, nullptr, nullptr, 0, nullptr, nullptr);
    if (code) {
        FreeBitmapHandle(rgb);
        return code;
    }
    return FinishNewObject(L, id);
}

static int CmdCreateTexturedBrush(lvState *L)
{
    CheckArgCount(L, 4, 6, 0, 0);
    int width = IntArg(L, 3), height = IntArg(L, 4);
    if (width <= 0 || height <= 0) return ERR_BADDIMENSIONS;
    lvObjectId sourceId = GetObjectIdArg(L, 2);
    int isNil = 0;
    int number = GetIntArgOrNil(L, 1, &isNil);
    if (!isNil && !sourceId.handle && number == sourceId.number) return ERR_WRONGUSAGE;
    int offsetX = HasArg(L, 5) ? IntArg(L, 5) : 0, offsetY = HasArg(L, 6) ? IntArg(L, 6) : 0;
    lvObjectId id;
    if (int code = NewIdArg(L, 1, &id)) return code;
    lvBrush *s;
    if (int code = FindBrushById(L, sourceId, &s, 0)) return code;
    lvBitMapHandle *rgb = nullptr, *pens = nullptr;
    uint32_t *palette = nullptr;
    if (s->penBitmap) {
        pens = AllocChunkyBitmap(width, height, 1);
        palette = (uint32_t *)AllocMemory(1024, 0);
        if (!pens || !palette) {
            FreeBitmapHandle(pens);
            FreeMemory(palette);
            return pens ? ERR_MEM : ERR_ALLOCCHUNKY;
        }
        std::memcpy(palette, s->palette, 1024);
    } else {
        rgb = AllocRgbBitmap(width, height, 0, nullptr);
        if (!rgb) return ERR_BITMAP;
    }
    TileImageRect(rgb, pens, 0, 0, width, height, s->bitmap, s->penBitmap, s->palette, offsetX, offsetY, s->width,
                  s->height, nullptr, nullptr, 0);
    int code = NewBrushRecord(&id, 0, width, height, width, 0, nullptr, rgb, -1, nullptr, nullptr, pens, s->depth,
                              palette, nullptr, nullptr, 0, nullptr, nullptr);
    if (code) {
        FreeBitmapHandle(rgb);
        FreeBitmapHandle(pens);
        FreeMemory(palette);
        return code;
    }
    return FinishNewObject(L, id);
}

// ---- Drawing -------------------------------------------------------------------------------

static int CmdDisplayBrush(lvState *L)
{
    CheckArgCount(L, 3, 4, 0, 0);
    lvDrawObjectRequest q = {};
    q.type = LV_TYPE_BRUSH;
    q.id = GetObjectIdArg(L, 1);
    q.x = IntArg(L, 2), q.y = IntArg(L, 3);
    q.tagsIndex = HasArg(L, 4) ? 4 : 0;
    return DrawObjectWithTags(L, &q);
}

static int CmdDisplayBrushPart(lvState *L)
{
    CheckArgCount(L, 7, 8, 0, 0);
    lvDrawObjectRequest q = {};
    q.type = LV_TYPE_BRUSHPART;
    q.id = GetObjectIdArg(L, 1);
    q.sourceX = IntArg(L, 2), q.sourceY = IntArg(L, 3);
    q.x = IntArg(L, 4), q.y = IntArg(L, 5);
    q.width = IntArg(L, 6), q.height = IntArg(L, 7);
    q.tagsIndex = HasArg(L, 8) ? 8 : 0;
    return DrawObjectWithTags(L, &q);
}

// ---- Geometry, copying and transparency -------------------------------------------------

namespace {

// The active-brush check and the look-up of a brush a command changes.
int FindChanging(lvState *L, int index, int flags, lvBrush **b)
{
    lvObjectId id = GetObjectIdArg(L, index);
    if (int code = CheckActiveBrush(id)) return code;
    return FindBrushById(L, id, b, flags);
}

// The new planes of a transform replace the old ones; a plain bitmap in place of a video
// bitmap drops the hardware fields.
void StoreTransformed(lvBrush *b, lvImageSetOut *out)
{
    int wasVideo = b->bitmap && b->bitmap->video;
    FreeBitmapHandle(b->bitmap);
    FreeBitmapHandle(b->mask);
    FreeBitmapHandle(b->alpha);
    FreeBitmapHandle(b->penBitmap);
    b->bitmap = out->rgb, b->mask = out->mask, b->alpha = out->alpha, b->penBitmap = out->pens;
    b->width = b->sourceRowLength = out->width;
    b->height = out->height;
    if (wasVideo && !(b->bitmap && b->bitmap->video)) {
        b->hardware = 0;
        b->hardwareTransparency = 0;
        b->display = nullptr;
        b->displayId = {0, nullptr};
    }
}

int TransformBrushImage(lvState *L, const lvMatrix2D *m, lvBrush *b, int smooth)
{
    if (b->kind == 1 && b->imageSource) {
        int width, height;
        ComputeScaledSize(m, b->imageSource->width, b->imageSource->height, &width, &height, nullptr);
        double matrix[4] = {m->sx, m->rx, m->ry, m->sy};
        return RerenderBrush(L, b, matrix, width, height);
    }
    lvImageSetOut out = {};
    int pen = b->penBitmap ? b->transparentColour : -1;
    if (int code = TransformImageAffine(b->bitmap, b->mask, b->alpha, b->penBitmap, 0, 0, b->width, b->height, m,
                                        smooth, pen, b->hardware ? b->display : nullptr, &out))
        return code;
    StoreTransformed(b, &out);
    return 0;
}

}  // namespace

// ScaleBrush(id, width, height [, smooth]): a re-renderable brush is drawn again from its
// source at its own size through the new scale; a bitmap brush is scaled.
static int CmdScaleBrush(lvState *L)
{
    CheckArgCount(L, 3, 4, 0, 0);
    lvObjectId id = GetObjectIdArg(L, 1);
    if (int code = CheckActiveBrush(id)) return code;
    lvBrush *b;
    if (int code = FindBrushById(L, id, &b, BRUSH_MODIFY | BRUSH_HARDWARE)) return code;
    int width = (int)GetNumberOrPercentArg(L, 2, b->width, 1, nullptr);
    int height = (int)GetNumberOrPercentArg(L, 3, b->height, 1, nullptr);
    if (width == 100000 && height > 0) width = (int)((double)b->width * height / b->height);
    else if (height == 100000 && width > 0) height = (int)((double)b->height * width / b->width);
    if (width <= 0 || height <= 0) return ERR_BADDIMENSIONS;
    int smooth = HasArg(L, 4) ? IntArg(L, 4) : 0;
    if (b->kind == 1 && b->imageSource) {
        double matrix[4] = {(double)width / b->imageSource->width, 0, 0, (double)height / b->imageSource->height};
        return RerenderBrush(L, b, matrix, width, height);
    }
    if (width == b->width && height == b->height) return 0;
    lvBitMapHandle *rgb = nullptr, *mask = nullptr, *alpha = nullptr, *pens = nullptr;
    if (int code = ScaleImage(b->bitmap, b->mask, b->alpha, b->penBitmap, 0, 0, nullptr, nullptr, b->width, b->height,
                              width, height, smooth, b->hardware ? b->display : nullptr, &rgb, &mask, &alpha, &pens))
        return code;
    lvImageSetOut out = {rgb, mask, alpha, pens, 0, 0, width, height};
    StoreTransformed(b, &out);
    return 0;
}

static int CmdRotateBrush(lvState *L)
{
    CheckArgCount(L, 2, 5, 0, 0);
    double angle = CheckNumberArg(L, 2);
    double scaleX = HasArg(L, 3) ? CheckNumberArg(L, 3) : 1, scaleY = HasArg(L, 4) ? CheckNumberArg(L, 4) : 1;
    int smooth = HasArg(L, 5) ? IntArg(L, 5) : 0;
    if (int code = CheckActiveBrush(GetObjectIdArg(L, 1))) return code;
    if (scaleX == 0 || scaleY == 0) return ERR_WRONGUSAGE;
    lvBrush *b;
    if (int code = FindBrushById(L, GetObjectIdArg(L, 1), &b, BRUSH_MODIFY | BRUSH_HARDWARE)) return code;
    lvMatrix2D m;
    BuildRotationMatrix(scaleX, scaleY, angle, &m);
    return TransformBrushImage(L, &m, b, smooth);
}

static int CmdTransformBrush(lvState *L)
{
    CheckArgCount(L, 5, 6, 0, 0);
    lvMatrix2D m = {CheckNumberArg(L, 2), CheckNumberArg(L, 3), CheckNumberArg(L, 4), CheckNumberArg(L, 5)};
    int smooth = HasArg(L, 6) ? IntArg(L, 6) : 0;
    if (m.sx == 0 || m.sy == 0) return ERR_WRONGUSAGE;
    lvBrush *b;
    if (int code = FindChanging(L, 1, BRUSH_MODIFY | BRUSH_HARDWARE, &b)) return code;
    return TransformBrushImage(L, &m, b, smooth);
}

static int CmdCropBrush(lvState *L)
{
    CheckArgCount(L, 5, 5, 0, 0);
    int x = IntArg(L, 2), y = IntArg(L, 3), width = IntArg(L, 4), height = IntArg(L, 5);
    if (int code = CheckActiveBrush(GetObjectIdArg(L, 1))) return code;
    if (width <= 0 || height <= 0) return ERR_BADDIMENSIONS;
    lvBrush *b;
    if (int code = FindBrushById(L, GetObjectIdArg(L, 1), &b, BRUSH_MODIFY | BRUSH_NOVECTOR)) return code;
    x = ResolveSpecialX(x, width, b->width, 0);
    y = ResolveSpecialY(y, height, b->height, 0);
    return CropBrushImage(b, x, y, width, height);
}

static int CmdTrimBrush(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    lvBrush *b;
    if (int code = FindChanging(L, 1, BRUSH_MODIFY | BRUSH_NOVECTOR, &b)) return code;
    int x, y;
    if (int code = TrimBrushImage(b, &x, &y)) return code;
    PushNumber(L, x);
    PushNumber(L, y);
    return 2;
}

static int CmdExtendBrush(lvState *L)
{
    CheckArgCount(L, 5, 6, 0, 0);
    int left = IntArg(L, 2), top = IntArg(L, 3), right = IntArg(L, 4), bottom = IntArg(L, 5);
    int clear = 0, pen = 0;
    double colour = 0;
    if (HasArg(L, 6)) {
        CheckTableArg(L, 6);
        GetFieldBool(L, 6, "clear", &clear);
        GetFieldInt(L, 6, "pen", &pen);
        GetFieldNumber(L, 6, "color", &colour);
    }
    lvBrush *b;
    if (int code = FindChanging(L, 1, BRUSH_MODIFY | BRUSH_NOVECTOR, &b)) return code;
    return ExtendBrushImage(b, left, top, right, bottom, clear, (uint32_t)(uint64_t)NumberToInt64(colour), pen);
}

static int CmdFlipBrush(lvState *L)
{
    CheckArgCount(L, 2, 2, 0, 0);
    int direction = IntArg(L, 2);
    lvBrush *b;
    if (int code = FindChanging(L, 1, BRUSH_MODIFY | BRUSH_NOVECTOR, &b)) return code;
    return FlipBrushImage(b, direction);
}

static int CmdCopyBrush(lvState *L)
{
    CheckArgCount(L, 2, 3, 0, 0);
    lvBrush *s;
    lvObjectId sourceId = GetObjectIdArg(L, 1);
    if (int code = FindBrushById(L, sourceId, &s, BRUSH_HARDWARE)) return code;
    int isNil = 0;
    int number = GetIntArgOrNil(L, 2, &isNil);
    if (!isNil && !sourceId.handle && number == sourceId.number) return ERR_WRONGUSAGE;
    int hardware = 0, hasHardware = 0, smooth = s->smoothScale;
    lvObjectId displayOption = {0, nullptr};
    int hasDisplay = 0;
    if (HasArg(L, 3)) {
        CheckTableArg(L, 3);
        GetFieldBool(L, 3, "hardware", &hardware, &hasHardware);
        GetFieldObjectId(L, 3, "display", &displayOption, &hasDisplay);
        GetFieldBool(L, 3, "smoothscale", &smooth);
    }
    if (s->hardware && hasHardware && !hardware) return ERR_WRONGUSAGE;
    void *display = nullptr;
    lvObjectId resolved = {0, nullptr};
    if (s->hardware || hardware) {
        hardware = 1;
        if (int code = ResolveHardwareBrushDisplay(hasDisplay ? displayOption : s->displayId, &display, &resolved))
            return code;
    }
    lvObjectId id;
    if (int code = NewIdArg(L, 2, &id)) return code;
    // The release may have freed the source when it was found by handle: look it up again.
    if (int code = FindBrushById(L, sourceId, &s, BRUSH_HARDWARE)) return code;
    if (int code = CopyBrushForLayer(L, &id, hardware, smooth, display, s)) return code;
    lvBrush *made;
    if (hardware && !FindBrushById(L, id, &made, BRUSH_HARDWARE) && made->hardware) made->displayId = resolved;
    return FinishNewObject(L, id);
}

static int CmdRasterizeBrush(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    lvBrush *b;
    if (int code = FindChanging(L, 1, BRUSH_MODIFY, &b)) return code;
    if (b->kind == 0) return ERR_WRONGUSAGE;
    b->kind = 0;
    b->transformed = 0;
    if (b->imageSource) {
        ReleaseImageSource(b->imageSource);
        b->imageSource = nullptr;
    }
    return 0;
}

static int CmdSetBrushTransparency(lvState *L)
{
    CheckArgCount(L, 2, 2, 0, 0);
    int64_t colour = NumberToInt64(CheckNumberArg(L, 2));
    lvBrush *b;
    if (int code = FindChanging(L, 1, BRUSH_MODIFY | BRUSH_NOVECTOR | BRUSH_NOPALETTE, &b)) return code;
    lvBitMapHandle *mask = nullptr;
    if (colour != -1)
        if (int code = MaskFromColourKey(b, (uint32_t)colour, &mask)) return code;
    FreeBitmapHandle(b->mask);
    FreeBitmapHandle(b->alpha);
    b->mask = mask;
    b->alpha = nullptr;
    b->transparentColour = colour == -1 ? -1 : (int)(colour & 0xFFFFFF);
    return 0;
}

static int CmdChangeBrushTransparency(lvState *L)
{
    CheckArgCount(L, 2, 2, 0, 0);
    int mode = IntArg(L, 2);
    lvBrush *b;
    if (int code = FindChanging(L, 1, BRUSH_MODIFY | BRUSH_NOVECTOR | BRUSH_NOPALETTE, &b)) return code;
    return ChangeBrushTransparencyMode(b, mode);
}

static int CmdDeleteMask(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    lvBrush *b;
    if (int code = FindChanging(L, 1, BRUSH_MODIFY | BRUSH_NOVECTOR | BRUSH_NOPALETTE, &b)) return code;
    FreeBitmapHandle(b->mask);
    b->mask = nullptr;
    b->transparentColour = -1;
    return 0;
}

static int CmdDeleteAlphaChannel(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    lvBrush *b;
    if (int code = FindChanging(L, 1, BRUSH_MODIFY | BRUSH_NOVECTOR | BRUSH_NOPALETTE, &b)) return code;
    FreeBitmapHandle(b->alpha);
    b->alpha = nullptr;
    return 0;
}

static int CmdReduceAlphaChannel(lvState *L)
{
    CheckArgCount(L, 2, 2, 0, 0);
    int level = (int)GetNumberOrPercentArg(L, 2, 255, 1, nullptr);
    lvBrush *b;
    if (int code = FindChanging(L, 1, BRUSH_MODIFY | BRUSH_NOVECTOR | BRUSH_NOPALETTE, &b)) return code;
    return ReduceBrushAlpha(b, level);
}

static int CmdIsBrushEmpty(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    lvBrush *b;
    if (int code = FindBrushById(L, GetObjectIdArg(L, 1), &b, 0)) return code;
    PushNumber(L, IsBrushImageEmpty(b));
    return 1;
}

// ---- Pixels and colour effects ------------------------------------------------------------

static int CmdReadBrushPixel(lvState *L)
{
    CheckArgCount(L, 3, 3, 0, 0);
    lvBrush *b;
    if (int code = FindBrushById(L, GetObjectIdArg(L, 1), &b, 0)) return code;
    int x = ResolveSpecialX(IntArg(L, 2), 1, b->width, 0), y = ResolveSpecialY(IntArg(L, 3), 1, b->height, 0);
    int64_t colour;
    int transparency;
    if (int code = ReadBrushPixelValue(b, x, y, &colour, &transparency)) return code;
    PushNumber(L, (double)colour);
    PushNumber(L, transparency);
    return 2;
}

static int CmdWriteBrushPixel(lvState *L)
{
    CheckArgCount(L, 4, 5, 0, 0);
    uint32_t colour = ColourArg(L, 4);
    int transparency = HasArg(L, 5) ? IntArg(L, 5) : -1;
    lvBrush *b;
    if (int code = FindChanging(L, 1, BRUSH_MODIFY | BRUSH_NOVECTOR, &b)) return code;
    int x = ResolveSpecialX(IntArg(L, 2), 1, b->width, 0), y = ResolveSpecialY(IntArg(L, 3), 1, b->height, 0);
    return WriteBrushPixelValue(b, x, y, colour, transparency);
}

// ---- Tables of colours and pens -------------------------------------------------------------

static int CmdBrushToRGBArray(lvState *L)
{
    CheckArgCount(L, 1, 2, 0, 0);
    int invert = HasArg(L, 2) ? IntArg(L, 2) != 0 : 0;
    lvBrush *b;
    if (int code = FindBrushById(L, GetObjectIdArg(L, 1), &b, 0)) return code;
    uint32_t *words;
    if (int code = BrushToArgbWords(b, invert, &words)) return code;
    int64_t count = (int64_t)b->width * b->height;
    PushNewTable(L);
    for (int64_t i = 0; i < count; i++) {
        PushNumber(L, words[i]);
        SetTableItemRaw(L, -2, (int)i);
    }
    FreeMemory(words);
    return 1;
}

namespace {

// Items 0 .. count - 1 of a table as numbers; ERR_NOTENOUGHPIXELS for a missing one.
int ReadTableNumbers(lvState *L, int index, int64_t count, int64_t *out)
{
    for (int64_t i = 0; i < count; i++) {
        GetTableItemRaw(L, index, (int)i);
        int type = GetValueType(L, -1);
        if (type == LV_TNIL) {
            SetStackTop(L, -2);
            return ERR_NOTENOUGHPIXELS;
        }
        out[i] = NumberToInt64(CheckNumberArg(L, GetStackTop(L)));
        SetStackTop(L, -2);
    }
    return 0;
}

// Width x height of a table: 64 bits, and a count no bitmap can hold fails as its allocation.
int TableSize(lvState *L, int64_t *count, int allocError)
{
    int width = IntArg(L, 3), height = IntArg(L, 4);
    if (width <= 0 || height <= 0) return ERR_BADDIMENSIONS;
    *count = (int64_t)width * height;
    if (*count > INT_MAX / 4) return allocError;
    return 0;
}

struct Numbers {
    int64_t *items = nullptr;
    ~Numbers() { FreeMemory(items); }
};

}  // namespace

static int CmdRGBArrayToBrush(lvState *L)
{
    CheckArgCount(L, 4, 6, 0, 0);
    CheckTableArg(L, 2);
    int64_t count;
    if (int code = TableSize(L, &count, ERR_BITMAP)) return code;
    int mode = HasArg(L, 5) ? IntArg(L, 5) : -1, invert = HasArg(L, 6) ? IntArg(L, 6) != 0 : 0;
    Numbers n;
    n.items = (int64_t *)AllocMemory((size_t)count * sizeof(int64_t), 0);
    if (!n.items) return ERR_BITMAP;
    if (int code = ReadTableNumbers(L, 2, count, n.items)) return code;
    uint32_t *words = (uint32_t *)n.items;
    for (int64_t i = 0; i < count; i++) words[i] = (uint32_t)(uint64_t)n.items[i];
    lvBrushRequest q = {};
    q.width = IntArg(L, 3), q.height = IntArg(L, 4);
    q.transparentColour = -1;
    q.mask = mode == 28, q.alpha = mode == 30, q.clear = 1, q.noFill = 1;
    q.callbackRef = q.userDataRef = -1;
    lvObjectId id;
    if (int code = NewIdArg(L, 1, &id)) return code;
    lvObjectId made = id;
    if (int code = AllocBrushBitmaps(L, &made, &q)) return code;
    lvBrush *b;
    int code = FindBrushById(L, made, &b, 0);
    if (!code) code = FillBrushFromArgb(b, words, invert);
    if (code) {
        ReleaseBrushRecord(L, made, 0);
        return code;
    }
    return FinishNewObject(L, made);
}

static int CmdBrushToPenArray(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    lvBrush *b;
    if (int code = FindBrushById(L, GetObjectIdArg(L, 1), &b, 0)) return code;
    if (!b->penBitmap) return ERR_NEEDPALETTEIMAGE;
    PushNewTable(L);
    for (int y = 0; y < b->height; y++)
        for (int x = 0; x < b->width; x++) {
            int64_t pen;
            int transparent;
            if (int code = ReadBrushPixelValue(b, x, y, &pen, &transparent)) return code;
            PushNumber(L, (double)pen);
            SetTableItemRaw(L, -2, y * b->width + x);
        }
    return 1;
}

static int CmdPenArrayToBrush(lvState *L)
{
    CheckArgCount(L, 4, 5, 0, 0);
    CheckTableArg(L, 2);
    int64_t count;
    if (int code = TableSize(L, &count, ERR_ALLOCCHUNKY)) return code;
    int transparentPen = -1, hasPen = 0;
    lvResolvedPalette resolved = {};
    int hasPalette = 0;
    if (HasArg(L, 5)) {
        CheckTableArg(L, 5);
        GetFieldInt(L, 5, "transparentpen", &transparentPen, &hasPen);
        lvObjectId paletteId = {0, nullptr};
        GetFieldObjectId(L, 5, "palette", &paletteId, &hasPalette);
        if (hasPalette) {
            resolved.transparentPen = transparentPen;
            if (int code = ResolvePaletteOption(paletteId, 0, 0, hasPen, &resolved)) return code;
            if (!hasPen) transparentPen = resolved.transparentPen;
        }
    }
    Numbers n;
    n.items = (int64_t *)AllocMemory((size_t)count * sizeof(int64_t), 0);
    if (!n.items) return ERR_ALLOCCHUNKY;
    if (int code = ReadTableNumbers(L, 2, count, n.items)) return code;
    int limit = hasPalette ? 1 << resolved.depth : 256;
    int64_t highest = 0;
    uint8_t *pens = (uint8_t *)n.items;
    for (int64_t i = 0; i < count; i++) {
        if (n.items[i] < 0 || n.items[i] >= limit) return ERR_PENRANGE;
        if (n.items[i] > highest) highest = n.items[i];
    }
    for (int64_t i = 0; i < count; i++) pens[i] = (uint8_t)n.items[i];
    int depth = hasPalette ? resolved.depth : BitsForColorCount((int)highest + 1);
    if (transparentPen >= (1 << depth) || transparentPen < -1) return ERR_PENRANGE;
    static const uint32_t zeros[256] = {};
    lvBrushRequest q = {};
    q.width = IntArg(L, 3), q.height = IntArg(L, 4);
    q.transparentColour = transparentPen;
    q.depth = 8;
    q.palette = hasPalette ? resolved.pens : zeros;
    q.cycleTable = hasPalette ? resolved.cycleTable : nullptr;
    q.cycleCount = hasPalette ? resolved.cycleCount : 0;
    q.clear = 1, q.noFill = 1;
    q.callbackRef = q.userDataRef = -1;
    lvObjectId id;
    if (int code = NewIdArg(L, 1, &id)) return code;
    lvObjectId made = id;
    if (int code = AllocBrushBitmaps(L, &made, &q)) return code;
    lvBrush *b;
    int code = FindBrushById(L, made, &b, 0);
    if (!code) code = FillBrushFromPens(b, pens);
    if (code) {
        ReleaseBrushRecord(L, made, 0);
        return code;
    }
    b->depth = depth;
    return FinishNewObject(L, made);
}

// ---- Pens, palette and depth of palette brushes --------------------------------------------

static lvPaletteOpRequest BrushPaletteRequest(lvState *L, int operation, int optionsIndex)
{
    lvPaletteOpRequest r = {};
    r.state = L;
    r.type = LV_TYPE_BRUSH;
    r.id = GetObjectIdArg(L, 1);
    r.operation = operation;
    r.optionsIndex = optionsIndex;
    r.transparentPen = -1;
    return r;
}

static int CmdSetBrushPen(lvState *L)
{
    CheckArgCount(L, 3, 3, 0, 0);
    lvPaletteOpRequest r = BrushPaletteRequest(L, 0, 0);
    r.pen = IntArg(L, 2);
    r.colour = ColourArg(L, 3);
    return ApplyPaletteOperation(&r);
}

static int CmdGetBrushPen(lvState *L)
{
    CheckArgCount(L, 2, 2, 0, 0);
    lvPaletteOpRequest r = BrushPaletteRequest(L, 1, 0);
    int result = 0;
    r.pen = IntArg(L, 2);
    r.result = &result;
    if (int code = ApplyPaletteOperation(&r)) return code;
    PushNumber(L, (uint32_t)result);
    return 1;
}

static int CmdSetBrushTransparentPen(lvState *L)
{
    CheckArgCount(L, 2, 2, 0, 0);
    lvPaletteOpRequest r = BrushPaletteRequest(L, 5, 0);
    r.pen = (int)(uint32_t)ColourArg(L, 2);
    return ApplyPaletteOperation(&r);
}

static int CmdSetBrushDepth(lvState *L)
{
    CheckArgCount(L, 2, 3, 0, 0);
    lvPaletteOpRequest r = BrushPaletteRequest(L, 6, 3);
    r.depth = IntArg(L, 2);
    return ApplyPaletteOperation(&r);
}

static int CmdSetBrushPalette(lvState *L)
{
    CheckArgCount(L, 2, 3, 0, 0);
    lvPalette *p;
    if (int code = FindPaletteById(GetObjectIdArg(L, 2), &p)) return code;
    lvPaletteOpRequest r = BrushPaletteRequest(L, 2, 3);
    r.pens = p->pens;
    r.depth = p->depth;
    r.transparentPen = p->transparentPen;
    r.cycleTable = p->cycleTable;
    r.cycleCount = p->cycleCount;
    return ApplyPaletteOperation(&r);
}

static int CmdRemoveBrushPalette(lvState *L)
{
    CheckArgCount(L, 1, 2, 0, 0);
    int mode = HasArg(L, 2) ? IntArg(L, 2) : 28;
    lvBrush *b;
    if (int code = FindChanging(L, 1, BRUSH_MODIFY | BRUSH_NOVECTOR, &b)) return code;
    if (!b->penBitmap) return ERR_NEEDPALETTEIMAGE;
    lvBitMapHandle *rgb = nullptr, *mask = nullptr, *alpha = nullptr;
    if (int code = ChunkyToRgbBitmap(b->penBitmap, b->width, b->height, b->transparentColour, mode == 28, b->palette, &rgb,
                                     &mask, &alpha))
        return code;
    FreeBitmapHandle(b->penBitmap);
    FreeBitmapHandle(b->paletteView);
    FreeMemory(b->palette);
    b->penBitmap = b->paletteView = nullptr;
    b->palette = nullptr;
    b->bitmap = rgb, b->mask = mask, b->alpha = alpha;
    b->depth = mask || alpha ? 32 : 24;
    b->transparentColour = -1;
    return 0;
}

// ---- The effect family ---------------------------------------------------------------------

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
    if (int code = FindChanging(L, 1, BRUSH_MODIFY | BRUSH_NOVECTOR, &b)) return code;
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
    return FindChanging(L, 1, BRUSH_MODIFY | BRUSH_NOVECTOR | BRUSH_NOPALETTE, b);
}

}  // namespace

static int CmdTintBrush(lvState *L)
{
    CheckArgCount(L, 3, 3, 0, 0);
    ColourEffect e = {-1, {(double)ColourArg(L, 2), (double)ByteOrPercentArg(L, 3)}, nullptr};
    e.run = [](lvBitMapHandle *image, int width, int height, const ColourEffect *e) {
        return TintBitmapRect(image, 0, 0, width, height, (uint32_t)e->args[0], (int)e->args[1]);
    };
    return RunColourEffect(L, e);
}

static int CmdInvertBrush(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    ColourEffect e = {PALETTE_EFFECT_INVERT, {}, [](lvBitMapHandle *image, int width, int height, const ColourEffect *) {
                          return InvertImage(image, width, height);
                      }};
    return RunColourEffect(L, e);
}

static int CmdBrushToGray(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    ColourEffect e = {PALETTE_EFFECT_GRAY, {}, [](lvBitMapHandle *image, int width, int height, const ColourEffect *) {
                          return GrayImage(image, width, height);
                      }};
    return RunColourEffect(L, e);
}

static int CmdSolarizeBrush(lvState *L)
{
    CheckArgCount(L, 2, 2, 0, 0);
    ColourEffect e = {PALETTE_EFFECT_SOLARIZE, {(double)ByteOrPercentArg(L, 2)},
                      [](lvBitMapHandle *image, int width, int height, const ColourEffect *e) {
                          return SolarizeImage(image, width, height, (int)e->args[0]);
                      }};
    return RunColourEffect(L, e);
}

static int CmdGammaBrush(lvState *L)
{
    CheckArgCount(L, 4, 4, 0, 0);
    ColourEffect e = {PALETTE_EFFECT_GAMMA, {CheckNumberArg(L, 2), CheckNumberArg(L, 3), CheckNumberArg(L, 4)},
                      [](lvBitMapHandle *image, int width, int height, const ColourEffect *e) {
                          return GammaImage(image, width, height, e->args[0], e->args[1], e->args[2]);
                      }};
    return RunColourEffect(L, e);
}

static int CmdContrastBrush(lvState *L)
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

static int CmdModulateBrush(lvState *L)
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

static int CmdSepiaToneBrush(lvState *L)
{
    CheckArgCount(L, 2, 2, 0, 0);
    int threshold = ByteOrPercentArg(L, 2);
    lvBrush *b;
    if (int code = FindPlainBrush(L, &b)) return code;
    return SepiaToneImage(b->bitmap, b->width, b->height, threshold);
}

static int CmdCharcoalBrush(lvState *L)
{
    CheckArgCount(L, 2, 2, 0, 0);
    double radius = CheckNumberArg(L, 2);
    if (radius < 0) return ERR_WRONGUSAGE;
    lvBrush *b;
    if (int code = FindPlainBrush(L, &b)) return code;
    return CharcoalImage(b->bitmap, b->alpha, b->width, b->height, radius, 1);
}

static int CmdOilPaintBrush(lvState *L)
{
    CheckArgCount(L, 2, 2, 0, 0);
    double radius = CheckNumberArg(L, 2);
    if (radius < 0) return ERR_WRONGUSAGE;
    lvBrush *b;
    if (int code = FindPlainBrush(L, &b)) return code;
    return OilPaintImage(b->bitmap, b->width, b->height, radius);
}

static int CmdBrushToMonochrome(lvState *L)
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

static int CmdBlurBrush(lvState *L) { return Convolve(L, 'b', -1); }
static int CmdEmbossBrush(lvState *L) { return Convolve(L, 'e', 1); }
static int CmdEdgeBrush(lvState *L) { return Convolve(L, 'g', 0); }
static int CmdSharpenBrush(lvState *L) { return Convolve(L, 's', 1); }

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

static int CmdInvertMask(lvState *L) { return InvertPlane(L, 0); }
static int CmdInvertAlphaChannel(lvState *L) { return InvertPlane(L, 1); }

static int CmdSwirlBrush(lvState *L)
{
    CheckArgCount(L, 2, 2, 0, 0);
    int degrees = IntArg(L, 2);
    lvBrush *b;
    if (int code = FindChanging(L, 1, BRUSH_MODIFY | BRUSH_NOVECTOR, &b)) return code;
    if (b->penBitmap) return SwirlImage(nullptr, nullptr, b->penBitmap, b->width, b->height, degrees);
    return SwirlImage(b->bitmap, b->mask, b->alpha, b->width, b->height, degrees);
}

static int CmdPixelateBrush(lvState *L)
{
    CheckArgCount(L, 2, 2, 0, 0);
    int size = IntArg(L, 2);
    lvBrush *b;
    if (int code = FindChanging(L, 1, BRUSH_MODIFY | BRUSH_NOVECTOR, &b)) return code;
    if (size <= 0 || size > b->width || size > b->height) return ERR_WRONGUSAGE;
    if (b->penBitmap)
        return PixelateImage(nullptr, nullptr, b->penBitmap, b->width, b->height, size, b->palette,
                             b->transparentColour);
    return PixelateImage(b->bitmap, b->mask, b->alpha, b->width, b->height, size);
}

static int CmdWaterRippleBrush(lvState *L)
{
    CheckArgCount(L, 1, 6, 0, 0);
    int wavelength = HasArg(L, 2) ? IntArg(L, 2) : 32, amplitude = HasArg(L, 3) ? IntArg(L, 3) : 1;
    int phase = HasArg(L, 4) ? IntArg(L, 4) : 0;
    double centreX = HasArg(L, 5) ? CheckNumberArg(L, 5) : 0.5, centreY = HasArg(L, 6) ? CheckNumberArg(L, 6) : 0.5;
    lvBrush *b;
    if (int code = FindChanging(L, 1, BRUSH_MODIFY | BRUSH_NOVECTOR, &b)) return code;
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
    if (int code = FindChanging(L, 1, BRUSH_MODIFY | BRUSH_NOVECTOR, &b)) return code;
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
    StoreTransformed(b, &set);
    return 0;
}

static int CmdPerspectiveDistortBrush(lvState *L) { return DistortBrush(L, 4, 8, 8); }
static int CmdArcDistortBrush(lvState *L) { return DistortBrush(L, 9, 1, 4); }
static int CmdPolarDistortBrush(lvState *L) { return DistortBrush(L, 10, 0, 6); }
static int CmdBarrelDistortBrush(lvState *L) { return DistortBrush(L, 12, 3, 10); }

static int CmdReplaceColors(lvState *L)
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

static int CmdMixBrush(lvState *L)
{
    CheckArgCount(L, 3, 3, 0, 0);
    int level = ByteOrPercentArg(L, 3);
    lvBrush *b, *other;
    if (int code = FindChanging(L, 1, BRUSH_MODIFY | BRUSH_NOVECTOR, &b)) return code;
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

static int CmdFloodFill(lvState *L)
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
    if (int code = FindChanging(L, 1, BRUSH_MODIFY | BRUSH_NOVECTOR, &b)) return code;
    int x = ResolveSpecialX(IntArg(L, 2), 1, b->width, 0), y = ResolveSpecialY(IntArg(L, 3), 1, b->height, 0);
    if (!b->penBitmap && !alphaChannel && border != -1) border &= 0xFFFFFF;
    return FloodFillBrush(b, x, y, border, fill, alphaChannel, colourSource && alphaChannel);
}

// ---- Brushes from other objects ------------------------------------------------------------

// The types whose owners are not built yet.
static int PendingSourceType(int type)
{
    if (type == 49 && !HavePathBrushMaker()) return ERR_UNIMPLCMD;
    if (type == 32 || type == 59) return ERR_UNIMPLCMD;
    return 0;
}

// The source argument; a layer is named by its position in the current BGPic or by its name.
static int SourceArg(lvState *L, int index, int type, lvObjectId *source)
{
    if (type == 22 && GetValueType(L, index) == LV_TSTRING) {
        lvBlitDisplay *display = RasterState.currentDisplay;
        if (!display || !display->layers) return ERR_NOLAYERS;
        const lvLayerServices &layers = NeighbourServices.layers;
        int position = layers.FindLayerByName ? layers.FindLayerByName(layers.context, ValueToString(L, index)) : -1;
        if (position < 0) {
            SetErrorStringArg(ValueToString(L, index));
            return ERR_FINDLAYER;
        }
        *source = {position, nullptr};
        return 0;
    }
    *source = GetObjectIdArg(L, index);
    return 0;
}

static int ConvertCommand(lvState *L, int type, lvObjectId source, int newIndex, int frame, int vector)
{
    int isNil = 0;
    int number = GetIntArgOrNil(L, newIndex, &isNil);
    lvObjectId id = {isNil ? 0 : number, nullptr};
    if (int code = ConvertObjectToBrush(L, type, source, &id, frame, vector)) return code;
    return FinishNewObject(L, id);
}

static int CmdConvertToBrush(lvState *L)
{
    CheckArgCount(L, 3, 5, 0, 0);
    int type = IntArg(L, 1);
    if (int code = PendingSourceType(type)) return code;
    if (type == 49) return PathBrushCommand(L, 2, 3);
    int frame = 1, vector = 0;
    if (HasArg(L, 4) && GetValueType(L, 4) == LV_TTABLE) {
        GetFieldInt(L, 4, "frame", &frame);
        GetFieldBool(L, 4, "vector", &vector);
    } else if (HasArg(L, 4)) {
        frame = IntArg(L, 4);
    }
    lvObjectId source;
    if (int code = SourceArg(L, 2, type, &source)) return code;
    return ConvertCommand(L, type, source, 3, frame, vector);
}

static int CmdGetBrushLink(lvState *L)
{
    CheckArgCount(L, 3, 4, 0, 0);
    int type = IntArg(L, 2);
    if (int code = PendingSourceType(type)) return code;
    if (type == 49) return PathBrushCommand(L, 3, 1);
    int frame = HasArg(L, 4) ? IntArg(L, 4) : 1;
    lvObjectId source;
    if (int code = SourceArg(L, 3, type, &source)) return code;
    return ConvertCommand(L, type, source, 1, frame, 0);
}

static int ShadowOrBorder(lvState *L, int shadow)
{
    CheckArgCount(L, 3, 5, 0, 0);
    uint32_t colour = ColourArg(L, 3);
    double size = HasArg(L, 4) ? CheckNumberArg(L, 4) : 5;
    double softness = HasArg(L, 5) ? CheckNumberArg(L, 5) : size / 3;
    int isNil = 0;
    int number = GetIntArgOrNil(L, 1, &isNil);
    lvObjectId id = {isNil ? 0 : number, nullptr};
    if (int code = MakeShadowOrBorderBrush(L, shadow, GetObjectIdArg(L, 2), &id, colour, size, softness)) return code;
    return FinishNewObject(L, id);
}

static int CmdCreateShadowBrush(lvState *L) { return ShadowOrBorder(L, 1); }
static int CmdCreateBorderBrush(lvState *L) { return ShadowOrBorder(L, 0); }

static int CmdSaveBrush(lvState *L)
{
    CheckArgCount(L, 2, 5, 0, 0);
    char path[LV_PATH_SIZE];
    std::snprintf(path, sizeof path, "%s", GetLinkedFileArg(L, 2, 0, nullptr));
    int64_t fill = -1;
    int format = 0, quality = 90, depth = 8, dither = 0;
    char adapter[256] = "";
    bool table = HasArg(L, 3) && GetValueType(L, 3) == LV_TTABLE;
    if (!table) {
        if (HasArg(L, 3)) {
            double colour = CheckNumberArg(L, 3);
            fill = colour < 0 ? -1 : (int64_t)(uint32_t)(int64_t)colour;
        }
        if (HasArg(L, 4)) format = (int)CheckNumberArg(L, 4);
    }
    lvBrush *b;
    if (int code = FindBrushById(L, GetObjectIdArg(L, 1), &b, BRUSH_HARDWARE)) return code;
    lvUserTag *tags = nullptr;
    if (int code = ParseSaveImageOptions(L, table ? 3 : 5, &format, &fill, &quality, &depth, &dither, adapter, &tags))
        return code;
    int transparentPen = -1;
    if (b->penBitmap) depth = b->depth, transparentPen = b->transparentColour;
    int code = WriteImageFile(format, b->bitmap, b->width, b->height, path, adapter[0] ? adapter : nullptr, tags,
                              b->mask, fill, b->alpha, b->penBitmap, b->palette, depth, transparentPen, quality, dither,
                              b->hardware);
    FreeUserTags(tags, 0);
    return code;
}

// Commands that come with the brush drawing, effect and conversion work.

// ---- Quantising and remapping --------------------------------------------------------------

namespace {

// The brush becomes a palette brush of the new pens: the old planes and palette go.
void TakePaletteResult(lvBrush *b, lvBitMapHandle *pens, uint32_t *palette, int transparentPen, int depth)
{
    FreeBitmapHandle(b->bitmap);
    FreeBitmapHandle(b->mask);
    FreeBitmapHandle(b->alpha);
    FreeBitmapHandle(b->penBitmap);
    FreeBitmapHandle(b->paletteView);
    FreeMemory(b->palette);
    b->bitmap = b->mask = b->alpha = b->paletteView = nullptr;
    for (int i = 0; i < 256; i++) palette[i] &= 0xFFFFFFu;  // pens are 0x00RRGGBB
    b->penBitmap = pens;
    b->palette = palette;
    b->transparentColour = transparentPen;
    b->depth = depth;
}

}  // namespace

static int CmdQuantizeBrush(lvState *L)
{
    CheckArgCount(L, 1, 3, 0, 0);
    int colours = 256, dither = 1, transparentPen = 0, transparentColour = -1, depth = 0;
    bool makePalette = false;
    if (GetValueType(L, 2) == LV_TTABLE) {
        int depthGiven = 0;
        GetFieldInt(L, 2, "colors", &colours);
        GetFieldInt(L, 2, "dither", &dither);
        GetFieldSwitch(L, 2, "palette", &makePalette);
        GetFieldInt(L, 2, "transparentpen", &transparentPen);
        GetFieldInt(L, 2, "transparentcolor", &transparentColour);
        GetFieldInt(L, 2, "depth", &depth, &depthGiven);
        if (depthGiven) {
            if (depth < 1 || depth > 8) return ERR_DEPTHRANGE;
            colours = 1 << depth;
        }
        if (transparentColour != -1) transparentColour &= 0xFFFFFF;
    } else {
        if (HasArg(L, 2)) colours = IntArg(L, 2);
        if (HasArg(L, 3)) dither = IntArg(L, 3);
    }
    if (colours < 1 || colours > 256) return ERR_WRONGUSAGE;
    if (transparentPen < 0 || transparentPen >= colours) return ERR_PENRANGE;
    lvBrush *b;
    if (int code = FindChanging(L, 1, BRUSH_MODIFY | BRUSH_NOVECTOR, &b)) return code;
    if (b->penBitmap && colours >= (1 << b->depth)) return 0;
    lvPaletteConversion r = {};
    r.width = b->width;
    r.height = b->height;
    r.colourCount = colours;
    r.dither = dither;
    r.value = transparentColour;
    r.alphaThreshold = QUANT_RUNTHRESHOLD;
    lvBitMapHandle *pens = nullptr;
    uint32_t *palette = nullptr;
    int resultPen = -1;
    if (b->penBitmap) {
        r.sourcePens = b->penBitmap;
        r.sourcePalette = b->palette;
        r.sourceTransparentPen = b->transparentColour;
        r.wantedTransparentPen = b->transparentColour >= 0 ? transparentPen : -1;
    } else {
        r.sourceRgb = b->bitmap;
        r.sourceTransparentPen = -1;
        r.mask = b->mask;
        r.alpha = b->alpha;
        r.wantedTransparentPen = makePalette && (b->mask || b->alpha) ? transparentPen : -1;
        if (!makePalette) {
            // The colours are reduced in place; the brush stays a true-colour brush.
            return MakePaletteBitmap(&r);
        }
    }
    r.newPensOut = &pens;
    r.paletteCopyOut = &palette;
    r.transparentPenOut = &resultPen;
    if (int code = MakePaletteBitmap(&r)) return code;
    TakePaletteResult(b, pens, palette, resultPen, BitsForColorCount(colours));
    return 0;
}

static int CmdRemapBrush(lvState *L)
{
    CheckArgCount(L, 2, 3, 0, 0);
    int dither = 1;
    if (GetValueType(L, 3) == LV_TTABLE) GetFieldInt(L, 3, "dither", &dither);
    lvPalette *target = nullptr;
    if (int code = FindPaletteById(GetObjectIdArg(L, 2), &target)) return code;
    lvBrush *b;
    if (int code = FindChanging(L, 1, BRUSH_MODIFY | BRUSH_NOVECTOR, &b)) return code;
    uint32_t given[256];
    for (int i = 0; i < 256; i++) given[i] = target->pens[i] & 0xFFFFFFu;
    lvBitMapHandle *pens = nullptr;
    uint32_t *palette = nullptr;
    int resultPen = -1;
    lvPaletteConversion r = {};
    r.width = b->width;
    r.height = b->height;
    r.colourCount = 1 << target->depth;
    r.dither = dither;
    r.value = -1;
    r.palette = given;
    r.keepPalette = 1;
    r.wantedTransparentPen = target->transparentPen;
    r.alphaThreshold = QUANT_RUNTHRESHOLD;
    if (b->penBitmap) {
        r.sourcePens = b->penBitmap;
        r.sourcePalette = b->palette;
        r.sourceTransparentPen = b->transparentColour;
    } else {
        r.sourceRgb = b->bitmap;
        r.sourceTransparentPen = -1;
        r.mask = b->mask;
        r.alpha = b->alpha;
    }
    r.newPensOut = &pens;
    r.paletteCopyOut = &palette;
    r.transparentPenOut = &resultPen;
    if (int code = MakePaletteBitmap(&r)) return code;
    TakePaletteResult(b, pens, palette, resultPen, target->depth);
    return 0;
}

static const lvCommandEntry BrushCommands[] = {
    {"CreateBrush", CmdCreateBrush}, {"DisplayBrush", CmdDisplayBrush}, {"DisplayBrushPart", CmdDisplayBrushPart},
    {"ScaleBrush", CmdScaleBrush}, {"FreeBrush", CmdFreeBrush}, {"TintBrush", CmdTintBrush},
    {"ReplaceColors", CmdReplaceColors}, {"InvertBrush", CmdInvertBrush}, {"FlipBrush", CmdFlipBrush},
    {"MixBrush", CmdMixBrush}, {"BrushToGray", CmdBrushToGray}, {"RotateBrush", CmdRotateBrush},
    {"GetBrushLink", CmdGetBrushLink}, {"CopyBrush", CmdCopyBrush}, {"SetBrushTransparency", CmdSetBrushTransparency},
    {"LoadBrush", CmdLoadBrush}, {"SaveBrush", CmdSaveBrush}, {"DeleteAlphaChannel", CmdDeleteAlphaChannel},
    {"CropBrush", CmdCropBrush}, {"InvertMask", CmdInvertMask}, {"InvertAlphaChannel", CmdInvertAlphaChannel},
    {"FloodFill", CmdFloodFill}, {"DeleteMask", CmdDeleteMask}, {"ConvertToBrush", CmdConvertToBrush},
    {"TransformBrush", CmdTransformBrush}, {"TrimBrush", CmdTrimBrush}, {"RasterizeBrush", CmdRasterizeBrush},
    {"BlurBrush", CmdBlurBrush}, {"EmbossBrush", CmdEmbossBrush}, {"EdgeBrush", CmdEdgeBrush},
    {"SharpenBrush", CmdSharpenBrush}, {"SolarizeBrush", CmdSolarizeBrush}, {"GammaBrush", CmdGammaBrush},
    {"ContrastBrush", CmdContrastBrush}, {"ModulateBrush", CmdModulateBrush}, {"SepiaToneBrush", CmdSepiaToneBrush},
    {"CharcoalBrush", CmdCharcoalBrush}, {"SwirlBrush", CmdSwirlBrush}, {"PixelateBrush", CmdPixelateBrush},
    {"BrushToMonochrome", CmdBrushToMonochrome}, {"ChangeBrushTransparency", CmdChangeBrushTransparency}, {"CreateShadowBrush", CmdCreateShadowBrush},
    {"CreateBorderBrush", CmdCreateBorderBrush}, {"WaterRippleBrush", CmdWaterRippleBrush}, {"OilPaintBrush", CmdOilPaintBrush},
    {"BrushToRGBArray", CmdBrushToRGBArray}, {"RGBArrayToBrush", CmdRGBArrayToBrush}, {"PerspectiveDistortBrush", CmdPerspectiveDistortBrush},
    {"ArcDistortBrush", CmdArcDistortBrush}, {"PolarDistortBrush", CmdPolarDistortBrush}, {"BarrelDistortBrush", CmdBarrelDistortBrush},
    {"CreateGradientBrush", CmdCreateGradientBrush}, {"CreateTexturedBrush", CmdCreateTexturedBrush},
    {"ReadBrushPixel", CmdReadBrushPixel}, {"WriteBrushPixel", CmdWriteBrushPixel}, {"QuantizeBrush", CmdQuantizeBrush},
    {"ReduceAlphaChannel", CmdReduceAlphaChannel}, {"IsBrushEmpty", CmdIsBrushEmpty}, {"RemapBrush", CmdRemapBrush},
    {"RemoveBrushPalette", CmdRemoveBrushPalette}, {"SetBrushPen", CmdSetBrushPen}, {"GetBrushPen", CmdGetBrushPen},
    {"SetBrushDepth", CmdSetBrushDepth}, {"SetBrushTransparentPen", CmdSetBrushTransparentPen}, {"SetBrushPalette", CmdSetBrushPalette},
    {"BrushToPenArray", CmdBrushToPenArray}, {"PenArrayToBrush", CmdPenArrayToBrush}, {"ExtendBrush", CmdExtendBrush},
    {nullptr, nullptr},
};

static const lvConstantEntry BrushConstants[] = {
    {"BRUSH", nullptr, 3},          {"BRUSHPART", nullptr, 12},          {"ATTRWIDTH", nullptr, 0},
    {"ATTRHEIGHT", nullptr, 1},     {"ATTRTRANSPARENTCOLOR", nullptr, 5}, {"ATTRTYPE", nullptr, 9},
    {"ATTRHASMASK", nullptr, 16},   {"ATTRHASALPHA", nullptr, 17},       {"ATTRFORMAT", nullptr, 19},
    {"ATTRHARDWARE", nullptr, 73},  {"ATTRDISPLAY", nullptr, 85},        {"ATTRLOADER", nullptr, 91},
    {"ATTRDEPTH", nullptr, 103},    {"ATTRPALETTE", nullptr, 104},       {"ATTRTRANSPARENTPEN", nullptr, 105},
    {"ATTRCYCLE", nullptr, 106},    {nullptr, nullptr, 0},
};

const lvConstantEntry *GetBrushConstants(void) { return BrushConstants; }

int OpenBrushLibrary(lvState *L)
{
    InstallImagingServices();
    InstallImagePaletteOperations();
    InstallPluginBrushEntries();
    if (int code = RegisterCommandTable(L, BrushCommands, "brush")) return code;
    return RegisterObjectType(LV_TYPE_BRUSH, "Brushes", BrushListHead(), GetBrushAttribute, nullptr, 0);
}

void CloseBrushLibrary(lvState *L, int) { FreeAllBrushes(L); }

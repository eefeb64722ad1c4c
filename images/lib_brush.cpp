// lib_brush.cpp - the "brush" command library: loading brushes from picture files, making
// empty, gradient, textured and callback brushes, freeing them, and the whole command
// table, whose other commands live in the theme files lib_brush_geometry.cpp,
// lib_brush_pixels.cpp, lib_brush_effects.cpp and lib_brush_convert.cpp.
//
// Depends on: images/lib_brush_cmds.h.
#include "images/lib_brush_cmds.h"

int NewBrushIdArg(lvState *L, int index, lvObjectId *id)
{
    int isNil = 0;
    int number = GetIntArgOrNil(L, index, &isNil);
    *id = {isNil ? 0 : number, nullptr};
    return isNil ? 0 : ReleaseBrushRecord(L, *id, 0);
}

namespace {

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

int CmdLoadBrush(lvState *L)
{
    CheckArgCount(L, 2, 5, 0, 0);
    char path[LV_PATH_SIZE];
    std::snprintf(path, sizeof path, "%s", GetLinkedFileArg(L, 2, 0, nullptr));
    int args = GetStackTop(L);
    // The number is free from here on, whether the load succeeds or not.
    lvObjectId id;
    if (int code = NewBrushIdArg(L, 1, &id)) return code;
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

int CmdCreateBrush(lvState *L)
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
    int code = NewBrushIdArg(L, 1, &id);
    if (!code) code = AllocBrushBitmaps(L, &id, &q);
    if (code) {
        if (q.callbackRef >= 0) ReleaseReference(L, LV_REGISTRYINDEX, q.callbackRef);
        if (q.userDataRef >= 0) ReleaseReference(L, LV_REGISTRYINDEX, q.userDataRef);
        return code;
    }
    return FinishNewObject(L, id);
}

int CmdFreeBrush(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    return ReleaseBrushRecord(L, GetObjectIdArg(L, 1), 1);
}

int CmdCreateGradientBrush(lvState *L)
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
    if (int code = NewBrushIdArg(L, 1, &id)) return code;
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

int CmdCreateTexturedBrush(lvState *L)
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
    if (int code = NewBrushIdArg(L, 1, &id)) return code;
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
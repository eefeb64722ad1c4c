// lib_bgpic.cpp - the "bgpic" command library: creating solid, gradient and textured
// BGPics, loading them from picture files (with a fill behind their transparency),
// scaling, copying and freeing them, realizing preloaded ones, and their attributes.
//
// Depends on: images/lvbgpic.h, images/lvbrush.h, images/lvpalette.h, raster/lvimage.h,
// raster/lvgradient_args.h, formats/lvformats.h, runtime/cmdsupport.h.
#include <cstdio>
#include <cstring>

#include "base/lverrors.h"
#include "images/lvimagecmd.h"
#include "images/lvbgpic.h"
#include "images/lvbrush.h"
#include "images/lvpalette.h"
#include "platform/lvplatform.h"
#include "raster/lvgradient_args.h"
#include "raster/lvimage.h"
#include "runtime/cmdsupport.h"
#include "runtime/errors.h"

namespace {

int NewIdArg(lvState *L, int index, lvObjectId *id)
{
    int isNil = 0;
    int number = GetIntArgOrNil(L, index, &isNil);
    *id = {isNil ? 0 : number, nullptr};
    return isNil ? 0 : ReleaseBGPicRecord(L, *id, 0);
}

// Width and height default to the current output's scaled size.
void OutputSize(int *width, int *height)
{
    lvBGPic *out = GetCurrentOutput();
    *width = out ? out->scaledWidth : 0;
    *height = out ? out->scaledHeight : 0;
}

}  // namespace

static lvShowBGPicHook showBGPicHook;

void SetShowBGPicHook(lvShowBGPicHook hook) { showBGPicHook = hook; }

static int CmdDisplayBGPic(lvState *L)
{
    CheckArgCount(L, 1, 2, 0, 0);
    lvObjectId id = GetObjectIdArg(L, 1);
    int x = 200000, y = 200000;
    if (HasArg(L, 2)) {
        CheckTableArg(L, 2);
        GetFieldInt(L, 2, "x", &x);
        GetFieldInt(L, 2, "y", &y);
    }
    if (!showBGPicHook) return ERR_UNIMPLCMD;
    return showBGPicHook(L, id, x, y);
}

static int CmdDisplayBGPicPart(lvState *L)
{
    CheckArgCount(L, 5, 8, 0, 0);
    lvDrawObjectRequest q = {};
    q.type = LV_TYPE_BGPICPART;
    q.id = GetObjectIdArg(L, 1);
    int v[4];
    if (int code = GeometryArgs(L, 2, 5, v)) return code;
    q.sourceX = v[0], q.sourceY = v[1];
    q.width = v[2], q.height = v[3];
    q.x = HasArg(L, 6) ? IntArg(L, 6) : q.sourceX;
    q.y = HasArg(L, 7) ? IntArg(L, 7) : q.sourceY;
    if (HasArg(L, 8)) {
        if (GetValueType(L, 8) == LV_TTABLE) {
            q.tagsIndex = 8;
            GetFieldBool(L, 8, "layers", &q.copyLayers);
        } else {
            q.copyLayers = IntArg(L, 8) != 0;
        }
    }
    return DrawObjectWithTags(L, &q);
}

static int CmdCreateBGPic(lvState *L)
{
    CheckArgCount(L, 3, 5, 0, 0);
    int width = IntArg(L, 2), height = IntArg(L, 3);
    if (width <= 0 || height <= 0) return ERR_WRONGUSAGE;
    uint32_t colour = 0;
    int options = 0;
    if (GetStackTop(L) >= 4) {
        if (GetValueType(L, 4) == LV_TTABLE) options = 4;
        else colour = ColourArg(L, 4) & 0xFFFFFFu;
    }
    if (!options && HasArg(L, 5)) {
        CheckTableArg(L, 5);
        options = 5;
    }
    int hasPalette = 0, hasPen = 0, fillPen = 0;
    double pen = -1;
    lvObjectId paletteId = {0, nullptr};
    if (options) {
        GetFieldNumber(L, options, "transparentpen", &pen, &hasPen);
        GetFieldInt(L, options, "fillpen", &fillPen);
        GetFieldObjectId(L, options, "palette", &paletteId, &hasPalette);
    }
    lvResolvedPalette resolved = {};
    int depth = 24;
    if (hasPalette) {
        resolved.transparentPen = (int)(uint32_t)(uint64_t)NumberToInt64(pen);
        if (int code = ResolvePaletteOption(paletteId, 0, fillPen, hasPen, &resolved)) return code;
        depth = resolved.depth;
        colour = (uint32_t)fillPen;
    } else if (hasPen) {
        return ERR_WRONGUSAGE;
    }
    lvObjectId id;
    if (int code = NewIdArg(L, 1, &id)) return code;
    lvBGPicFill fill = {};
    fill.style = 1;
    fill.colour = colour;
    fill.set = 1;
    lvBitMapHandle *rgb = nullptr, *pens = nullptr;
    uint32_t *palette = nullptr;
    lvCycleRange *cycle = nullptr;
    int code = 0;
    if (hasPalette) {
        pens = AllocChunkyBitmap(width, height, 1);
        palette = (uint32_t *)AllocMemory(1024, 0);
        if (!pens) code = ERR_ALLOCCHUNKY;
        else if (!palette) code = ERR_MEM;
        if (!code && colour) {
            uint8_t *pixels;
            int rowBytes;
            uintptr_t token = GetPlanePixels(pens, &pixels, &rowBytes, 1);
            if (!token) code = ERR_LOCKBMAP;
            else {
                std::memset(pixels, (int)colour, (size_t)rowBytes * height);
                ReleasePlanePixels(token);
            }
        }
        if (!code) {
            std::memcpy(palette, resolved.pens, 1024);
            code = DuplicateCycleTable(resolved.cycleTable, resolved.cycleCount, &cycle);
        }
    } else {
        rgb = AllocRgbBitmap(width, height, 0, nullptr);
        if (!rgb) code = ERR_BITMAP;
        else code = FillBGPicBackground(&fill, rgb, width, height, nullptr);
    }
    if (!code)
        code = NewBGPicRecord(&id, 0, width, height, width, nullptr, rgb, nullptr,
                              hasPalette ? resolved.transparentPen : -1, nullptr, nullptr, pens, depth, palette, &fill,
                              cycle, cycle ? resolved.cycleCount : 0, nullptr, nullptr);
    if (code) {
        FreeBitmapHandle(rgb);
        FreeBitmapHandle(pens);
        FreeMemory(palette);
        FreeMemory(cycle);
        return code;
    }
    return FinishNewObject(L, id);
}

static int CmdCreateGradientBGPic(lvState *L)
{
    CheckArgCount(L, 4, 8, 0, 0);
    lvGradient gradient = {};
    gradient.style = IntArg(L, 2);
    gradient.startColour = ColourArg(L, 3);
    gradient.endColour = ColourArg(L, 4);
    int width, height;
    OutputSize(&width, &height);
    if (HasArg(L, 5)) width = IntArg(L, 5);
    if (HasArg(L, 6)) height = IntArg(L, 6);
    if (width < 1 || height < 1) return ERR_BADDIMENSIONS;
    if (int code = ParseGradientArgs(L, 7, &gradient)) return code;
    lvObjectId id;
    if (int code = NewIdArg(L, 1, &id)) return code;
    lvBGPicFill fill = {};
    fill.style = 2;
    fill.gradient = gradient;
    fill.set = 1;
    lvBitMapHandle *rgb = nullptr;
    int code = BuildBGPicBitmaps(nullptr, &fill, -1, width, height, width, &rgb, nullptr, nullptr, nullptr);
    if (!code)
        code = NewBGPicRecord(&id, 1, width, height, width, nullptr, rgb, nullptr, -1, nullptr, nullptr, nullptr, 24,
                              nullptr, &fill, nullptr, 0, nullptr, nullptr);
    if (code) {
        FreeBitmapHandle(rgb);
        return code;
    }
    return FinishNewObject(L, id);
}

static int CmdCreateTexturedBGPic(lvState *L)
{
    CheckArgCount(L, 2, 6, 0, 0);
    lvObjectId brushId = GetObjectIdArg(L, 2);
    int width, height;
    OutputSize(&width, &height);
    if (HasArg(L, 3)) width = IntArg(L, 3);
    if (HasArg(L, 4)) height = IntArg(L, 4);
    if (width <= 0 || height <= 0) return ERR_BADDIMENSIONS;
    lvBGPicFill fill = {};
    fill.style = 3;
    fill.set = 1;
    fill.textureBrush = brushId;
    fill.textureX = HasArg(L, 5) ? IntArg(L, 5) : 0;
    fill.textureY = HasArg(L, 6) ? IntArg(L, 6) : 0;
    lvObjectId id;
    if (int code = NewIdArg(L, 1, &id)) return code;
    lvBrush *b;
    if (int code = FindBrushById(L, brushId, &b, 0)) return code;
    lvBitMapHandle *rgb = nullptr, *pens = nullptr;
    uint32_t *palette = nullptr;
    int code = 0;
    if (b->penBitmap) {
        pens = AllocChunkyBitmap(width, height, 1);
        palette = (uint32_t *)AllocMemory(1024, 0);
        if (!pens) code = ERR_ALLOCCHUNKY;
        else if (!palette) code = ERR_MEM;
        else std::memcpy(palette, b->palette, 1024);
    } else {
        rgb = AllocRgbBitmap(width, height, 0, nullptr);
        if (!rgb) code = ERR_BITMAP;
    }
    if (!code) {
        TileImageRect(rgb, pens, 0, 0, width, height, b->bitmap, b->penBitmap, b->palette, fill.textureX,
                      fill.textureY, b->width, b->height, nullptr, nullptr, 0);
        lvPictureSet source = {b->bitmap, nullptr, nullptr, b->penBitmap, nullptr};
        lvPictureSet copy = {};
        code = DuplicateImage(&source, 0, 0, b->width, b->height, 0, 0, nullptr, &copy);
        fill.textureBitmap = copy.rgb;
        fill.texturePenBitmap = copy.chunky;
        fill.textureWidth = b->width;
        fill.textureHeight = b->height;
        if (!code && b->palette) {
            fill.texturePalette = (uint32_t *)AllocMemory(1024, 0);
            if (!fill.texturePalette) code = ERR_MEM;
            else std::memcpy(fill.texturePalette, b->palette, 1024);
        }
    }
    if (!code)
        code = NewBGPicRecord(&id, 1, width, height, width, nullptr, rgb, nullptr, -1, nullptr, nullptr, pens,
                              b->depth, palette, &fill, nullptr, 0, nullptr, nullptr);
    if (code) {
        FreeBitmapHandle(rgb);
        FreeBitmapHandle(pens);
        FreeMemory(palette);
        FreeBitmapHandle(fill.textureBitmap);
        FreeBitmapHandle(fill.texturePenBitmap);
        FreeMemory(fill.texturePalette);
        return code;
    }
    return FinishNewObject(L, id);
}

static int CmdLoadBGPic(lvState *L)
{
    CheckArgCount(L, 2, 4, 0, 0);
    char path[LV_PATH_SIZE];
    std::snprintf(path, sizeof path, "%s", GetLinkedFileArg(L, 2, 0, nullptr));
    // The number is free from here on, whether the load succeeds or not.
    lvObjectId id;
    if (int code = NewIdArg(L, 1, &id)) return code;
    int args = GetStackTop(L);
    int loadAlpha = 0, loadTransparency = 0, loadPalette = 0, fillPen = 0, hasPen = 0, scaleWidth = 0,
        scaleHeight = 0, smooth = 0, transparentPen = -1;
    int64_t transparency = -1;
    char loader[256] = "", adapter[256] = "";
    lvBGPicFill fill = {};
    lvUserTag *tags = nullptr;
    uint32_t fileColours[257];
    bool colours = false;
    int code = 0;
    if (args >= 3 && GetValueType(L, 3) == LV_TTABLE) {
        GetFieldInt(L, 3, "loadalpha", &loadAlpha);
        GetFieldInt(L, 3, "loadtransparency", &loadTransparency);
        GetFieldInt(L, 3, "loadpalette", &loadPalette);
        GetFieldInt(L, 3, "fillstyle", &fill.style);
        double number;
        if (GetFieldNumber(L, 3, "fillcolor", &number)) fill.colour = (uint32_t)NumberToInt64(number) & 0xFFFFFFu;
        GetFieldInt(L, 3, "fillpen", &fillPen);
        if (fill.style == 2) code = ParseGradientTags(L, 3, &fill.gradient, 0, 1);
        if (fill.style == 3) {
            GetFieldObjectId(L, 3, "texturebrush", &fill.textureBrush);
            GetFieldInt(L, 3, "texturex", &fill.textureX);
            GetFieldInt(L, 3, "texturey", &fill.textureY);
        }
        if (GetFieldNumber(L, 3, "transparency", &number)) transparency = (uint32_t)NumberToInt64(number) & 0xFFFFFFu;
        GetFieldInt(L, 3, "transparentpen", &transparentPen, &hasPen);
        GetFieldIntOrPercent(L, 3, "scalewidth", 1, &scaleWidth);
        GetFieldIntOrPercent(L, 3, "scaleheight", 1, &scaleHeight);
        GetFieldInt(L, 3, "smoothscale", &smooth);
        GetFieldStringBuf(L, 3, "loader", loader, sizeof loader);
        GetFieldStringBuf(L, 3, "adapter", adapter, sizeof adapter);
        if (!code) code = ReadUserTags(L, 3, nullptr, nullptr, &tags);
        if (!code && ((transparency != -1 && loadPalette) || (hasPen && !loadPalette) ||
                      (loadAlpha && (loadTransparency || loadPalette)) || (loadTransparency && transparency != -1) ||
                      fill.style < 0 || fill.style > 3))
            code = ERR_WRONGUSAGE;
    } else if (args == 3) {
        if (HasArg(L, 3)) transparency = ColourArg(L, 3) & 0xFFFFFFu;
    } else if (args == 4) {
        CheckTableArg(L, 4);
        // At most 256 colours, always ended by -1: the reader walks the list to its end mark.
        int n = 0;
        for (; n < 256; n++) {
            GetTableItemRaw(L, 4, n);
            if (GetValueType(L, -1) != LV_TNUMBER) {
                SetStackTop(L, -2);
                if (n == 0 || GetValueType(L, -1) == LV_TNIL) break;
                code = ERR_NUMTABLEARG;
                break;
            }
            int64_t value = NumberToInt64(ValueToNumber(L, -1));
            SetStackTop(L, -2);
            if (value == -1) break;
            fileColours[n] = (uint32_t)value;
        }
        fileColours[n] = 0xFFFFFFFFu;
        colours = true;
    }
    if (!code && loadAlpha && transparency != -1) code = ERR_MASKNALPHA;
    fill.set = fill.style != 0;
    if (code) {
        FreeUserTags(tags, 0);
        return code;
    }
    lvImageLoadRequest request = {};
    request.loaderList = loader[0] ? loader : nullptr;
    request.adapter = adapter[0] ? adapter : nullptr;
    request.userTags = tags;
    request.palette = colours ? fileColours : nullptr;
    request.flags = LV_IMGLOAD_COPYPALETTE | LV_IMGLOAD_KEEPALPHA | (loadAlpha ? LV_IMGLOAD_ALPHA : 0) |
                    (loadTransparency ? LV_IMGLOAD_TRANSPEN : 0) | (loadPalette ? LV_IMGLOAD_PALETTE : 0);
    request.transparentPen = -1;
    request.wantedWidth = scaleWidth;
    request.wantedHeight = scaleHeight;
    request.scaleMode = smooth;
    lvImageSource *source = nullptr;
    int width = 0, height = 0, rowLength = 0, isVector = 0;
    code = LoadImageSource(path, &request, &source, &width, &height, &rowLength, &isVector);
    FreeUserTags(tags, 0);
    uint32_t *palette = request.palette == fileColours ? nullptr : request.palette;
    lvBitMapHandle *alpha = request.alphaBitmap, *rgb = nullptr, *mask = nullptr, *pens = nullptr;
    lvCycleRange *cycle = nullptr;
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
    if (code) return fail(code);
    if (request.transparentPen != -1) transparency = request.transparentPen;
    if (isVector) transparency = -1;
    int depth;
    uint32_t *filePalette = nullptr;
    if (loadPalette) {
        depth = request.depth;
        if (DuplicateCycleTable(request.colorRanges, request.colorRangeCount, &cycle)) return fail(ERR_MEM);
        if (depth < 1 || depth > 8) {
            SetErrorStringArg(path);
            return fail(ERR_NOPALETTE);
        }
        if (transparency >= (1 << depth) || fillPen < 0 || fillPen >= (1 << depth)) return fail(ERR_PENRANGE);
        if (fill.style != 0 && fill.style != 1) return fail(ERR_PALETTEFILL);
        pens = AllocChunkyBitmap(width, height, 1);
        if (!pens) return fail(ERR_ALLOCCHUNKY);
        uint8_t *to;
        int toRow;
        uintptr_t token = GetPlanePixels(pens, &to, &toRow, 1);
        if (!token) return fail(ERR_LOCKBMAP);
        const uint8_t *from = (const uint8_t *)source->pixels;
        for (int y = 0; from && y < height; y++)
            for (int x = 0; x < width; x++) {
                uint8_t pen = from[(size_t)y * rowLength + x];
                to[(size_t)y * toRow + x] = fill.style == 1 && pen == transparency ? (uint8_t)fillPen : pen;
            }
        ReleasePlanePixels(token);
        if (fill.style == 1) transparency = -1;
        ReleaseImageSource(source);
        source = nullptr;
        rowLength = width;
    } else {
        filePalette = palette;
        palette = nullptr;
        if (fill.style == 1) fill.colour &= 0xFFFFFFu;
        int preload = 0;
        GetRuntimeFlags(L, LV_FLAG_PRELOAD, &preload, 0);
        if (preload && !isVector && source->pixels) {
            // Kept decoded until a display realizes it (or its first use).
            depth = alpha || transparency != -1 ? 32 : 24;
        } else {
            code = BuildBGPicBitmaps(source->pixels, &fill, (int)transparency, width, height, rowLength, &rgb, &mask,
                                     &alpha, nullptr);
            if (code) {
                palette = filePalette;
                return fail(code);
            }
            if (!isVector) {
                ReleaseImageSource(source);
                source = nullptr;
            }
            depth = mask || alpha ? 32 : 24;
            if (fill.style) transparency = -1;
        }
    }
    lvBGPic *r;
    code = NewBGPicRecord(&id, isVector, width, height, rowLength, source, rgb, filePalette, (int)transparency, mask,
                          alpha, pens, depth, loadPalette ? palette : nullptr, &fill, cycle,
                          cycle ? request.colorRangeCount : 0, request.formatName, &r);
    if (code) {
        FreeMemory(filePalette);
        return fail(code);
    }
    r->loader = request.loader;
    return FinishNewObject(L, id);
}

static int CmdScaleBGPic(lvState *L)
{
    CheckArgCount(L, 3, 4, 0, 0);
    lvObjectId id = GetObjectIdArg(L, 1);
    lvBGPic *r;
    if (int code = FindBGPicForChange(L, id, &r)) return code;
    if (IsBGPicShown(r)) return ERR_SCALEBGPIC;
    if (int code = CheckActiveBGPic(id)) return code;
    int width = (int)GetNumberOrPercentArg(L, 2, r->scaledWidth, 1, nullptr);
    int height = (int)GetNumberOrPercentArg(L, 3, r->scaledHeight, 1, nullptr);
    if (width == 100000 && height > 0) width = (int)((double)r->scaledWidth * height / r->scaledHeight);
    else if (height == 100000 && width > 0) height = (int)((double)r->scaledHeight * width / r->scaledWidth);
    return ScaleBGPicBitmaps(r, width, height, HasArg(L, 4) ? IntArg(L, 4) : 0);
}

static int CmdCopyBGPic(lvState *L)
{
    CheckArgCount(L, 2, 2, 0, 0);
    lvObjectId sourceId = GetObjectIdArg(L, 1);
    lvBGPic *s;
    if (int code = FindBGPicById(sourceId, &s, 0)) return code;
    int isNil = 0;
    int number = GetIntArgOrNil(L, 2, &isNil);
    if (!isNil && !sourceId.handle && number == sourceId.number) return ERR_WRONGUSAGE;
    lvObjectId id;
    if (int code = NewIdArg(L, 2, &id)) return code;
    s->copying = 1;
    int code = CopyBGPicRecord(s, &id);
    s->copying = 0;
    return code ? code : FinishNewObject(L, id);
}

static int CmdFreeBGPic(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    return ReleaseBGPicRecord(L, GetObjectIdArg(L, 1), 1);
}

// BrushToBGPic(brush id, new id): a BGPic holding a copy of the brush's planes.
static int CmdBrushToBGPic(lvState *L)
{
    CheckArgCount(L, 2, 2, 0, 0);
    int isNil = 0;
    int number = GetIntArgOrNil(L, 2, &isNil);
    lvObjectId id = {isNil ? 0 : number, nullptr};
    if (int code = BrushToBGPicRecord(L, GetObjectIdArg(L, 1), &id)) return code;
    return FinishNewObject(L, id);
}

// BGPicToBrush(BGPic id, new brush id): a brush of the BGPic's scaled picture.
static int CmdBGPicToBrush(lvState *L)
{
    CheckArgCount(L, 2, 2, 0, 0);
    lvObjectId source = GetObjectIdArg(L, 1);
    int isNil = 0;
    int number = GetIntArgOrNil(L, 2, &isNil);
    lvObjectId id = {isNil ? 0 : number, nullptr};
    if (int code = BGPicToBrushRecord(L, source, &id)) return code;
    return FinishNewObject(L, id);
}

// Showing BGPics comes with the display attributes and the drawing of objects.

int RealizeBGPicImage(lvBGPic *r)
{
    auto *source = (lvImageSource *)r->imageSource;
    if (!source || r->base.bitmap || r->base.penBitmap || !source->pixels) return 0;
    lvBitMapHandle *rgb, *mask, *alpha = r->base.alpha;
    if (int code = BuildBGPicBitmaps(source->pixels, &r->fill, r->transparentColour, r->baseWidth, r->baseHeight,
                                     r->sourceRowLength, &rgb, &mask, &alpha, nullptr))
        return code;
    if (!(r->type == 1 && source->render)) {
        ReleaseImageSource(source);
        r->imageSource = nullptr;
    }
    r->base = {rgb, mask, alpha, nullptr};
    r->scaled = r->shown = r->base;
    r->sourceRowLength = r->baseWidth;
    r->depth = mask || alpha ? 32 : 24;
    if (r->fill.style) r->transparentColour = -1;
    return 0;
}

int RealizeBGPicImages(void)
{
    for (lvObjectHeader *h = *BGPicListHead(); h; h = h->next)
        if (int code = RealizeBGPicImage((lvBGPic *)h)) return code;
    return 0;
}

static int GetBGPicAttribute(lvState *L, int attribute, lvObjectId id)
{
    lvBGPic *r;
    if (int code = FindBGPicById(id, &r, BGPIC_FIND_DETACHED)) return code;
    switch (attribute) {
    case 0: PushNumber(L, r->scaledWidth); return 1;
    case 1: PushNumber(L, r->scaledHeight); return 1;
    case 5: PushNumber(L, r->palette ? -1 : r->transparentColour); return 1;
    case 6: PushNumber(L, CountBGPicLayers(r)); return 1;
    case 9: PushNumber(L, r->type); return 1;
    case 16: PushNumber(L, r->scaled.mask != nullptr); return 1;
    case 17: PushNumber(L, r->scaled.alpha != nullptr); return 1;
    case 19: PushString(L, r->formatName); return 1;
    case 91:
        PushString(L, !r->loader ? "inbuilt" : r->loader == (void *)1 ? "native" : ((lvPluginRecord *)r->loader)->name);
        return 1;
    case 103: PushNumber(L, r->depth); return 1;
    case 104:
        PushNewTable(L);
        for (int i = 0; r->palette && r->depth <= 8 && i < (1 << r->depth); i++) {
            PushNumber(L, i);
            PushNumber(L, r->palette[i] & 0xFFFFFFu);
            SetTableValueRaw(L, -3);
        }
        return 1;
    case 105: PushNumber(L, r->palette ? r->transparentColour : -1); return 1;
    case 106: PushCycleTable(L, (const lvCycleRange *)r->cycleTable, r->cycleCount); return 1;
    default: return ERR_UNKNOWNATTR;
    }
}

static const lvCommandEntry BGPicCommands[] = {
    {"DisplayBGPic", CmdDisplayBGPic},
    {"DisplayBGPicPart", CmdDisplayBGPicPart},
    {"ScaleBGPic", CmdScaleBGPic},
    {"CreateGradientBGPic", CmdCreateGradientBGPic},
    {"CreateRainbowBGPic", CmdCreateGradientBGPic},
    {"CreateTexturedBGPic", CmdCreateTexturedBGPic},
    {"BrushToBGPic", CmdBrushToBGPic},
    {"BGPicToBrush", CmdBGPicToBrush},
    {"CreateBGPic", CmdCreateBGPic},
    {"FreeBGPic", CmdFreeBGPic},
    {"LoadBGPic", CmdLoadBGPic},
    {"CopyBGPic", CmdCopyBGPic},
    {nullptr, nullptr},
};

static const lvConstantEntry BGPicConstants[] = {
    {"BGPIC", nullptr, 1},          {"BGPICPART", nullptr, 13},       {"ATTRWIDTH", nullptr, 0},
    {"ATTRHEIGHT", nullptr, 1},     {"ATTRTRANSPARENTCOLOR", nullptr, 5}, {"ATTRTRANSPARENTPEN", nullptr, 105},
    {"ATTRLAYERS", nullptr, 6},     {"ATTRHASMASK", nullptr, 16},     {"ATTRHASALPHA", nullptr, 17},
    {"ATTRCLIPREGION", nullptr, 39}, {"ATTRTYPE", nullptr, 9},        {"ATTRDEPTH", nullptr, 103},
    {"ATTRLOADER", nullptr, 91},    {"ATTRSPRITES", nullptr, 95},     {"ATTRPALETTE", nullptr, 104},
    {"ATTRCYCLE", nullptr, 106},    {"ATTRFORMAT", nullptr, 19},      {nullptr, nullptr, 0},
};

const lvConstantEntry *GetBGPicConstants(void) { return BGPicConstants; }

int OpenBGPicLibrary(lvState *L)
{
    if (int code = RegisterCommandTable(L, BGPicCommands, "bgpic")) return code;
    return RegisterObjectType(LV_TYPE_BGPIC, "BGPics", BGPicListHead(), GetBGPicAttribute, nullptr, 0);
}

void CloseBGPicLibrary(lvState *, int) { FreeAllBGPics(); }

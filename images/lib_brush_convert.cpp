// lib_brush_convert.cpp - the brush commands that make brushes from other objects
// (ConvertToBrush, GetBrushLink, shadow and border brushes), save them, and quantise or
// remap them to a palette.
//
// Depends on: images/lib_brush_cmds.h.
#include "images/lib_brush_cmds.h"

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

int CmdConvertToBrush(lvState *L)
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

int CmdGetBrushLink(lvState *L)
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

int CmdCreateShadowBrush(lvState *L) { return ShadowOrBorder(L, 1); }
int CmdCreateBorderBrush(lvState *L) { return ShadowOrBorder(L, 0); }

int CmdSaveBrush(lvState *L)
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

int CmdQuantizeBrush(lvState *L)
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
    if (int code = FindChangingBrush(L, 1, BRUSH_MODIFY | BRUSH_NOVECTOR, &b)) return code;
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

int CmdRemapBrush(lvState *L)
{
    CheckArgCount(L, 2, 3, 0, 0);
    int dither = 1;
    if (GetValueType(L, 3) == LV_TTABLE) GetFieldInt(L, 3, "dither", &dither);
    lvPalette *target = nullptr;
    if (int code = FindPaletteById(GetObjectIdArg(L, 2), &target)) return code;
    lvBrush *b;
    if (int code = FindChangingBrush(L, 1, BRUSH_MODIFY | BRUSH_NOVECTOR, &b)) return code;
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

// lib_brush_pixels.cpp - the brush commands of transparency, masks and alpha channels,
// single pixels, RGB and pen arrays, and the pens, depth and palette of palette brushes.
//
// Depends on: images/lib_brush_cmds.h.
#include "images/lib_brush_cmds.h"

int CmdSetBrushTransparency(lvState *L)
{
    CheckArgCount(L, 2, 2, 0, 0);
    int64_t colour = NumberToInt64(CheckNumberArg(L, 2));
    lvBrush *b;
    if (int code = FindChangingBrush(L, 1, BRUSH_MODIFY | BRUSH_NOVECTOR | BRUSH_NOPALETTE, &b)) return code;
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

int CmdChangeBrushTransparency(lvState *L)
{
    CheckArgCount(L, 2, 2, 0, 0);
    int mode = IntArg(L, 2);
    lvBrush *b;
    if (int code = FindChangingBrush(L, 1, BRUSH_MODIFY | BRUSH_NOVECTOR | BRUSH_NOPALETTE, &b)) return code;
    return ChangeBrushTransparencyMode(b, mode);
}

int CmdDeleteMask(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    lvBrush *b;
    if (int code = FindChangingBrush(L, 1, BRUSH_MODIFY | BRUSH_NOVECTOR | BRUSH_NOPALETTE, &b)) return code;
    FreeBitmapHandle(b->mask);
    b->mask = nullptr;
    b->transparentColour = -1;
    return 0;
}

int CmdDeleteAlphaChannel(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    lvBrush *b;
    if (int code = FindChangingBrush(L, 1, BRUSH_MODIFY | BRUSH_NOVECTOR | BRUSH_NOPALETTE, &b)) return code;
    FreeBitmapHandle(b->alpha);
    b->alpha = nullptr;
    return 0;
}

int CmdReduceAlphaChannel(lvState *L)
{
    CheckArgCount(L, 2, 2, 0, 0);
    int level = (int)GetNumberOrPercentArg(L, 2, 255, 1, nullptr);
    lvBrush *b;
    if (int code = FindChangingBrush(L, 1, BRUSH_MODIFY | BRUSH_NOVECTOR | BRUSH_NOPALETTE, &b)) return code;
    return ReduceBrushAlpha(b, level);
}

int CmdIsBrushEmpty(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    lvBrush *b;
    if (int code = FindBrushById(L, GetObjectIdArg(L, 1), &b, 0)) return code;
    PushNumber(L, IsBrushImageEmpty(b));
    return 1;
}

// ---- Pixels and colour effects ------------------------------------------------------------

int CmdReadBrushPixel(lvState *L)
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

int CmdWriteBrushPixel(lvState *L)
{
    CheckArgCount(L, 4, 5, 0, 0);
    uint32_t colour = ColourArg(L, 4);
    int transparency = HasArg(L, 5) ? IntArg(L, 5) : -1;
    lvBrush *b;
    if (int code = FindChangingBrush(L, 1, BRUSH_MODIFY | BRUSH_NOVECTOR, &b)) return code;
    int x = ResolveSpecialX(IntArg(L, 2), 1, b->width, 0), y = ResolveSpecialY(IntArg(L, 3), 1, b->height, 0);
    return WriteBrushPixelValue(b, x, y, colour, transparency);
}

// ---- Tables of colours and pens -------------------------------------------------------------

int CmdBrushToRGBArray(lvState *L)
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

int CmdRGBArrayToBrush(lvState *L)
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
    if (int code = NewBrushIdArg(L, 1, &id)) return code;
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

int CmdBrushToPenArray(lvState *L)
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

int CmdPenArrayToBrush(lvState *L)
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
    if (int code = NewBrushIdArg(L, 1, &id)) return code;
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

int CmdSetBrushPen(lvState *L)
{
    CheckArgCount(L, 3, 3, 0, 0);
    lvPaletteOpRequest r = BrushPaletteRequest(L, 0, 0);
    r.pen = IntArg(L, 2);
    r.colour = ColourArg(L, 3);
    return ApplyPaletteOperation(&r);
}

int CmdGetBrushPen(lvState *L)
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

int CmdSetBrushTransparentPen(lvState *L)
{
    CheckArgCount(L, 2, 2, 0, 0);
    lvPaletteOpRequest r = BrushPaletteRequest(L, 5, 0);
    r.pen = (int)(uint32_t)ColourArg(L, 2);
    return ApplyPaletteOperation(&r);
}

int CmdSetBrushDepth(lvState *L)
{
    CheckArgCount(L, 2, 3, 0, 0);
    lvPaletteOpRequest r = BrushPaletteRequest(L, 6, 3);
    r.depth = IntArg(L, 2);
    return ApplyPaletteOperation(&r);
}

int CmdSetBrushPalette(lvState *L)
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

int CmdRemoveBrushPalette(lvState *L)
{
    CheckArgCount(L, 1, 2, 0, 0);
    int mode = HasArg(L, 2) ? IntArg(L, 2) : 28;
    lvBrush *b;
    if (int code = FindChangingBrush(L, 1, BRUSH_MODIFY | BRUSH_NOVECTOR, &b)) return code;
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

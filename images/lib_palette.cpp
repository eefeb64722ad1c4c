// lib_palette.cpp - the "palette" command library: palette objects (create, load, save,
// copy, extract, free), their colour effects and pen moves, the palette target of the
// pen commands, the palette, dither and transparency settings, and the draw pens.
//
// Depends on: images/lvpalette.h, images/lvbgpic.h, raster/lvraster.h,
// raster/lvdrawstate.h, raster/lvplanes.h, libs/lib_core2.h (the legacy GetPen),
// runtime/cmdsupport.h.
// Limits: script thread only.
#include <cstdio>
#include <cstring>

#include "base/lverrors.h"
#include "images/lvimagecmd.h"
#include "images/lvbgpic.h"
#include "images/lvbrush.h"
#include "images/lveffects.h"
#include "images/lvpalette.h"
#include "libs/lib_core2.h"
#include "platform/lvplatform.h"
#include "raster/lvdrawstate.h"
#include "raster/lvplanes.h"
#include "raster/lvraster.h"
#include "runtime/cmdsupport.h"
#include "runtime/errors.h"
#include "runtime/libtable.h"

// ---- Library state -------------------------------------------------------------------

static lvPaletteLibraryState libraryState = {21, {0, nullptr}, 1, 0, 128};
static int (*operationHook)(lvPaletteOpRequest *request);

lvPaletteLibraryState *GetPaletteLibraryState(void) { return &libraryState; }
void SetPaletteOperationHook(int (*hook)(lvPaletteOpRequest *request)) { operationHook = hook; }

static lvFontPaletteResolver fontPaletteResolver;

void SetFontPaletteResolver(lvFontPaletteResolver resolve) { fontPaletteResolver = resolve; }

namespace {

const int TYPE_BGPIC = 1, TYPE_BRUSH = 3, TYPE_ANIM = 4, TYPE_DISPLAY = 21, TYPE_LAYER = 22, TYPE_SPRITE = 32,
          TYPE_FONT = 43;

// A table's integer keeping the low 32 bits (so NOPEN, 4294967295, reads as -1).
int Low32(double value) { return (int)(uint32_t)(uint64_t)NumberToInt64(value); }

// A level: a number, or a percentage of 255 ("50%"); clamped to 0..255.
int LevelArg(lvState *L, int index)
{
    double v = GetNumberOrPercentArg(L, index, 255, 0, nullptr);
    int level = (int)v;
    return level < 0 ? 0 : level > 255 ? 255 : level;
}

// An identifier, or Nil for an automatic one; a number in use is freed first.
lvObjectId NewIdArg(lvState *L, int index)
{
    int isNil = 0;
    int number = GetIntArgOrNil(L, index, &isNil);
    lvObjectId id = {isNil ? 0 : number, nullptr};
    if (!isNil) FreePaletteById(id);
    return id;
}

}  // namespace

// ---- Cycle tables and pen tables ------------------------------------------------------

// Reads a cycle table at index (subtables 0, 1, ... up to the first nil). 0,
// ERR_TABLEORNIL, ERR_PENRANGE or ERR_MEM; nothing is left allocated on error.
static int ReadCycleTable(lvState *L, int index, int bound, lvCycleRange **tableOut, int *countOut)
{
    *tableOut = nullptr;
    *countOut = 0;
    int count = 0;
    for (;; count++) {
        GetTableItemRaw(L, index, count);
        bool end = GetValueType(L, -1) == LV_TNIL;
        SetStackTop(L, -2);
        if (end) break;
    }
    if (!count) return 0;
    auto *table = (lvCycleRange *)AllocMemory(sizeof(lvCycleRange) * (size_t)count, 1);
    if (!table) return ERR_MEM;
    for (int i = 0; i < count; i++) {
        GetTableItemRaw(L, index, i);
        int top = GetStackTop(L);
        if (GetValueType(L, top) != LV_TTABLE) {
            SetStackTop(L, top - 1);
            FreeMemory(table);
            return ERR_TABLEORNIL;
        }
        int active = 1, reverse = 0, rate = 0, low = 0, high = 0;
        GetFieldInt(L, top, "active", &active);
        GetFieldInt(L, top, "reverse", &reverse);
        GetFieldInt(L, top, "rate", &rate);
        GetFieldInt(L, top, "low", &low);
        GetFieldInt(L, top, "high", &high);
        SetStackTop(L, top - 1);
        if (low < 0 || low >= bound || high < 0 || high >= bound) {
            FreeMemory(table);
            return ERR_PENRANGE;
        }
        table[i] = {(uint16_t)rate, (uint16_t)((active ? 1 : 0) | (reverse ? 2 : 0)), (uint8_t)low, (uint8_t)high};
    }
    *tableOut = table;
    *countOut = count;
    return 0;
}

void PushCycleTable(lvState *L, const lvCycleRange *table, int count)
{
    PushNewTable(L);
    for (int i = 0; table && i < count; i++) {
        PushNumber(L, i);
        PushNewTable(L);
        SetFieldInt(L, "active", table[i].flags & 1);
        SetFieldInt(L, "reverse", (table[i].flags >> 1) & 1);
        SetFieldInt(L, "rate", table[i].rate);
        SetFieldInt(L, "low", table[i].low);
        SetFieldInt(L, "high", table[i].high);
        SetTableValueRaw(L, -3);
    }
}

static void PushPaletteTable(lvState *L, const uint32_t *pens, int depth)
{
    PushNewTable(L);
    if (!pens || depth < 1 || depth > 8) return;
    for (int i = 0; i < (1 << depth); i++) {
        PushNumber(L, i);
        PushNumber(L, pens[i]);
        SetTableValueRaw(L, -3);
    }
}

static int GetPaletteAttribute(lvState *L, int attribute, lvObjectId id)
{
    lvPalette *p;
    if (int code = FindPaletteById(id, &p)) return code;
    switch (attribute) {
    case 91:
        PushString(L, !p->loader ? "inbuilt" : p->loader == (void *)1 ? "native" : ((lvPluginRecord *)p->loader)->name);
        return 1;
    case 103: PushNumber(L, p->depth); return 1;
    case 104: PushPaletteTable(L, p->pens, p->depth); return 1;
    case 105: PushNumber(L, (uint32_t)p->transparentPen); return 1;
    case 106: PushCycleTable(L, p->cycleTable, p->cycleCount); return 1;
    default: return ERR_UNKNOWNATTR;
    }
}

// ---- Palette operations ---------------------------------------------------------------

static int PaletteOperation(lvPaletteOpRequest *r, lvPalette *p)
{
    int limit = 1 << p->depth;
    switch (r->operation) {
    case 0:
        if (r->pen < 0 || r->pen >= limit) return ERR_PENRANGE;
        p->pens[r->pen] = r->colour & 0xFFFFFFu;
        return 0;
    case 1:
        if (r->pen < 0 || r->pen >= limit) return ERR_PENRANGE;
        *r->result = (int)p->pens[r->pen];
        return 0;
    case 2:
        if (r->pens == p->pens) return ERR_WRONGUSAGE;
        if (r->depth < p->depth) return ERR_DEPTHMISMATCH;
        p->depth = r->depth;
        p->transparentPen = r->transparentPen;
        for (int i = 0; i < 256; i++) p->pens[i] = r->pens[i] & 0xFFFFFFu;
        return 0;
    case 5:
        if (r->pen != -1 && (r->pen < 0 || r->pen >= limit)) return ERR_PENRANGE;
        p->transparentPen = r->pen;
        return 0;
    case 6: {
        if (r->depth < 1 || r->depth > 8) return ERR_DEPTHRANGE;
        int newLimit = 1 << r->depth;
        if (r->depth < p->depth) {
            if (p->transparentPen != -1 && p->transparentPen >= newLimit) return ERR_PENRANGE;
            for (int i = 0; i < p->cycleCount; i++)
                if (p->cycleTable[i].low >= newLimit || p->cycleTable[i].high >= newLimit) return ERR_PENRANGE;
        } else {
            for (int i = limit; i < newLimit; i++) p->pens[i] = 0;
        }
        p->depth = r->depth;
        return 0;
    }
    case 7:
        for (int i = 0; i < r->cycleCount; i++)
            if (r->cycleTable[i].low >= limit || r->cycleTable[i].high >= limit) return ERR_PENRANGE;
        FreeMemory(p->cycleTable);
        p->cycleTable = r->cycleTable;
        p->cycleCount = r->cycleCount;
        r->cycleTable = nullptr;  // taken over
        return 0;
    default: return ERR_WRONGUSAGE;
    }
}

int ApplyPaletteOperation(lvPaletteOpRequest *r)
{
    lvState *L = r->state;
    int copyCycle = 0;
    if (L && r->optionsIndex > 0 && GetStackTop(L) >= r->optionsIndex &&
        GetValueType(L, r->optionsIndex) != LV_TNIL) {
        CheckTableArg(L, r->optionsIndex);
        GetFieldInt(L, r->optionsIndex, "type", &r->type);
        int present = 0;
        lvObjectId id;
        if (GetFieldObjectId(L, r->optionsIndex, "id", &id, &present)) r->id = id;
        if (r->operation == 2) {
            int remap = 0;
            GetFieldInt(L, r->optionsIndex, "remap", &remap);
            GetFieldInt(L, r->optionsIndex, "copycycletable", &copyCycle);
            if (remap && r->type == LV_TYPE_PALETTE) return ERR_WRONGUSAGE;
        }
    }
    if (r->type != LV_TYPE_PALETTE) {
        if (r->type == TYPE_BGPIC || r->type == TYPE_BRUSH || r->type == TYPE_ANIM || r->type == TYPE_DISPLAY ||
            r->type == TYPE_LAYER || r->type == TYPE_SPRITE)
            return operationHook ? operationHook(r) : ERR_UNIMPLCMD;
        return ERR_WRONGUSAGE;
    }
    if (r->operation == 3 || r->operation == 4 || r->operation == 8) return ERR_WRONGUSAGE;
    lvPalette *p;
    if (int code = FindPaletteById(r->id, &p)) return code;
    int code = PaletteOperation(r, p);
    if (!code && r->operation == 2 && copyCycle) {
        lvCycleRange *copy;
        if ((code = DuplicateCycleTable(r->cycleTable, r->cycleCount, &copy))) return code;
        FreeMemory(p->cycleTable);
        p->cycleTable = copy;
        p->cycleCount = copy ? r->cycleCount : 0;
    }
    return code;
}

// A request on the palette target (or the type and id given).
static lvPaletteOpRequest TargetRequest(lvState *L, int operation, int optionsIndex)
{
    lvPaletteOpRequest r = {};
    r.state = L;
    r.type = libraryState.targetType;
    r.id = libraryState.targetId;
    r.operation = operation;
    r.optionsIndex = optionsIndex;
    r.transparentPen = -1;
    return r;
}

static lvPaletteOpRequest PaletteRequest(lvState *L, int operation, int optionsIndex)
{
    lvPaletteOpRequest r = TargetRequest(L, operation, optionsIndex);
    r.type = LV_TYPE_PALETTE;
    r.id = GetObjectIdArg(L, 1);
    return r;
}

// ---- Commands -------------------------------------------------------------------------

static int CmdCreatePalette(lvState *L)
{
    CheckArgCount(L, 1, 3, 9, 0);
    int depth = 8, transparentPen = -1;
    lvCycleRange *cycle = nullptr;
    int cycleCount = 0;
    if (HasArg(L, 3)) {
        CheckTableArg(L, 3);
        GetFieldInt(L, 3, "depth", &depth);
        if (depth < 1 || depth > 8) return ERR_DEPTHRANGE;
        double pen;
        if (GetFieldNumber(L, 3, "transparentpen", &pen)) transparentPen = Low32(pen);
        if (transparentPen != -1 && (transparentPen < 0 || transparentPen >= (1 << depth))) return ERR_PENRANGE;
        PushString(L, "cycle");
        GetTableValue(L, 3);
        int type = GetValueType(L, -1);
        int top = GetStackTop(L);
        if (type != LV_TNIL && type != LV_TTABLE) {
            SetErrorStringArg("cycle");
            return ERR_TABEXPECTED2;
        }
        if (type == LV_TTABLE)
            if (int code = ReadCycleTable(L, top, 1 << depth, &cycle, &cycleCount)) return code;
        SetStackTop(L, top - 1);
    }
    lvObjectId id = NewIdArg(L, 1);
    uint32_t pens[256] = {};
    int code = 0;
    if (GetStackTop(L) >= 2 && GetValueType(L, 2) == LV_TTABLE) {
        for (int i = 0; i < (1 << depth); i++) {
            GetTableItemRaw(L, 2, i);
            int type = GetValueType(L, -1);
            if (type == LV_TNUMBER) pens[i] = (uint32_t)(uint64_t)NumberToInt64(ValueToNumber(L, -1)) & 0xFFFFFFu;
            else if (type != LV_TNIL) code = ERR_NUMCALLBACK;
            SetStackTop(L, -2);
            if (code) break;
        }
    } else {
        int number = HasArg(L, 2) ? IntArg(L, 2) : PALETTE_DEFAULT;
        code = GetStandardPalette(number, pens, &depth);
    }
    if (!code) code = NewPaletteRecord(cycle, cycleCount, &id, pens, depth, transparentPen, nullptr, nullptr);
    FreeMemory(cycle);
    return code ? code : FinishNewObject(L, id);
}

static int CmdFreePalette(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    return FreePaletteById(GetObjectIdArg(L, 1));
}

static int CmdLoadPalette(lvState *L)
{
    CheckArgCount(L, 2, 3, 9, 0);
    const char *file = GetLinkedFileArg(L, 2, 0, nullptr);
    char path[LV_PATH_SIZE];
    std::snprintf(path, sizeof path, "%s", file);
    char loader[256] = "", adapter[256] = "";
    lvUserTag *tags = nullptr;
    if (HasArg(L, 3)) {
        CheckTableArg(L, 3);
        GetFieldStringBuf(L, 3, "loader", loader, sizeof loader);
        GetFieldStringBuf(L, 3, "adapter", adapter, sizeof adapter);
        if (int code = ReadUserTags(L, 3, nullptr, nullptr, &tags)) return code;
    }
    lvObjectId id = NewIdArg(L, 1);
    lvImageLoadRequest request = {};
    request.loaderList = loader[0] ? loader : nullptr;
    request.adapter = adapter[0] ? adapter : nullptr;
    request.userTags = tags;
    request.flags = LV_IMGLOAD_PALETTEONLY | LV_IMGLOAD_PALETTE | LV_IMGLOAD_COPYPALETTE | LV_IMGLOAD_TRANSPEN |
                    LV_IMGLOAD_NOPENOK;
    request.transparentPen = -1;
    int code = LoadImageSource(path, &request, nullptr, nullptr, nullptr, nullptr, nullptr);
    FreeUserTags(tags, 0);
    if (!code && !request.palette) {
        SetErrorStringArg(path);
        code = ERR_NOPALETTE;
    }
    if (!code) {
        int depth = request.depth >= 1 && request.depth <= 8 ? request.depth : 8;
        int pen = request.transparentPen >= 0 && request.transparentPen < (1 << depth) ? request.transparentPen : -1;
        int ranges = request.colorRangeCount < 0 ? 0 : request.colorRangeCount > 128 ? 128 : request.colorRangeCount;
        code = NewPaletteRecord(request.colorRanges, ranges, &id, request.palette, depth, pen, request.loader,
                                nullptr);
    }
    FreeMemory(request.palette);
    return code ? code : FinishNewObject(L, id);
}

static int CmdSavePalette(lvState *L)
{
    CheckArgCount(L, 2, 3, 0, 0);
    lvPalette *p;
    if (int code = FindPaletteById(GetObjectIdArg(L, 1), &p)) return code;
    const char *file = CheckStringArg(L, 2, nullptr);
    char path[LV_PATH_SIZE];
    std::snprintf(path, sizeof path, "%s", file);
    char adapter[256] = "";
    lvUserTag *tags = nullptr;
    if (HasArg(L, 3)) {
        CheckTableArg(L, 3);
        GetFieldStringBuf(L, 3, "adapter", adapter, sizeof adapter);
        if (int code = ReadUserTags(L, 3, nullptr, nullptr, &tags)) return code;
    }
    int code = SavePaletteFile(p, path, adapter[0] ? adapter : nullptr, tags);
    FreeUserTags(tags, 0);
    return code;
}

static int CmdSetPalette(lvState *L)
{
    CheckArgCount(L, 1, 2, 0, 0);
    lvPalette *p;
    if (int code = FindPaletteById(GetObjectIdArg(L, 1), &p)) return code;
    lvPaletteOpRequest r = TargetRequest(L, 2, 2);
    r.pens = p->pens;
    r.depth = p->depth;
    r.transparentPen = p->transparentPen;
    r.cycleTable = p->cycleTable;
    r.cycleCount = p->cycleCount;
    return ApplyPaletteOperation(&r);
}

static int CmdCyclePalette(lvState *L)
{
    CheckArgCount(L, 3, 4, 0, 0);
    lvPalette *p;
    if (int code = FindPaletteById(GetObjectIdArg(L, 1), &p)) return code;
    int start = IntArg(L, 2), end = IntArg(L, 3), steps = HasArg(L, 4) ? IntArg(L, 4) : 1;
    if (start == end || start < 0 || end < 0) return ERR_WRONGUSAGE;
    if (start >= (1 << p->depth) || end >= (1 << p->depth)) return ERR_PENRANGE;
    CyclePens(p->pens, start, end, steps);
    return 0;
}

static int CmdTintPalette(lvState *L)
{
    CheckArgCount(L, 3, 3, 0, 0);
    lvPalette *p;
    if (int code = FindPaletteById(GetObjectIdArg(L, 1), &p)) return code;
    uint32_t colour = (uint32_t)(uint64_t)NumberToInt64(CheckNumberArg(L, 2)) & 0xFFFFFFu;
    int level = LevelArg(L, 3);
    if (int code = TintBitmapRect(p->bitmap, 0, 0, 1 << p->depth, 1, colour, level)) return code;
    for (int i = 0; i < 256; i++) p->pens[i] &= 0xFFFFFFu;
    return 0;
}

static int CmdInvertPalette(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    lvPalette *p;
    if (int code = FindPaletteById(GetObjectIdArg(L, 1), &p)) return code;
    for (int i = 0; i < (1 << p->depth); i++) p->pens[i] ^= 0xFFFFFFu;
    return 0;
}

// The colour effects of the image effects, on the pens in use only: the pens above the
// depth keep what they hold.
static int PaletteEffect(lvState *L, int effect, const double *args)
{
    lvPalette *p;
    if (int code = FindPaletteById(GetObjectIdArg(L, 1), &p)) return code;
    uint32_t pens[256];
    std::memcpy(pens, p->pens, sizeof pens);
    if (int code = RunPaletteEffect(pens, effect, args)) return code;
    for (int i = 0; i < (1 << p->depth); i++) p->pens[i] = pens[i] & 0xFFFFFFu;
    return 0;
}

static int CmdPaletteToGray(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    return PaletteEffect(L, PALETTE_EFFECT_GRAY, nullptr);
}

static int CmdSolarizePalette(lvState *L)
{
    CheckArgCount(L, 2, 2, 0, 0);
    double args[1] = {(double)LevelArg(L, 2)};
    return PaletteEffect(L, PALETTE_EFFECT_SOLARIZE, args);
}

static int CmdGammaPalette(lvState *L)
{
    CheckArgCount(L, 4, 4, 0, 0);
    double args[3] = {CheckNumberArg(L, 2), CheckNumberArg(L, 3), CheckNumberArg(L, 4)};
    return PaletteEffect(L, PALETTE_EFFECT_GAMMA, args);
}

static int CmdContrastPalette(lvState *L)
{
    CheckArgCount(L, 2, 3, 0, 0);
    double args[2] = {CheckNumberArg(L, 2), HasArg(L, 3) ? CheckNumberArg(L, 3) : 1};
    if (args[1] <= 0) return ERR_WRONGUSAGE;
    return PaletteEffect(L, PALETTE_EFFECT_CONTRAST, args);
}

static int CmdModulatePalette(lvState *L)
{
    CheckArgCount(L, 4, 4, 0, 0);
    double args[3] = {CheckNumberArg(L, 2), CheckNumberArg(L, 3), CheckNumberArg(L, 4)};
    if (args[0] < 0 || args[1] < 0 || args[2] < 0) return ERR_WRONGUSAGE;
    return PaletteEffect(L, PALETTE_EFFECT_MODULATE, args);
}

static int CmdGetBestPen(lvState *L)
{
    CheckArgCount(L, 2, 2, 0, 0);
    lvPalette *p;
    if (int code = FindPaletteById(GetObjectIdArg(L, 1), &p)) return code;
    uint32_t colour = (uint32_t)(uint64_t)NumberToInt64(CheckNumberArg(L, 2)) & 0xFFFFFFu;
    PushNumber(L, FindNearestPen(colour, p->pens, p->depth));
    return 1;
}

static int CmdCopyPalette(lvState *L)
{
    CheckArgCount(L, 2, 2, 0, 0);
    lvObjectId source = GetObjectIdArg(L, 1);
    int isNil = 0;
    int number = GetIntArgOrNil(L, 2, &isNil);
    if (!isNil && !source.handle && number == source.number) return ERR_WRONGUSAGE;
    lvPalette *p;
    if (int code = FindPaletteById(source, &p)) return code;
    lvObjectId id = {isNil ? 0 : number, nullptr};
    if (!isNil) FreePaletteById(id);
    if (int code = NewPaletteRecord(p->cycleTable, p->cycleCount, &id, p->pens, p->depth, p->transparentPen,
                                    p->loader, nullptr))
        return code;
    return FinishNewObject(L, id);
}

static int CmdExtractPalette(lvState *L)
{
    CheckArgCount(L, 3, 4, 9, 0);
    int type = IntArg(L, 2);
    lvObjectId id = NewIdArg(L, 1);
    lvObjectId source = GetObjectIdArg(L, 3);
    if (type == TYPE_BGPIC) {
        lvBGPic *b;
        if (int code = FindBGPicById(source, &b, 0)) return code;
        if (!b->palette) return ERR_NEEDPALETTEIMAGE;
        if (int code = NewPaletteRecord((const lvCycleRange *)b->cycleTable, b->cycleCount, &id, b->palette, b->depth,
                                        b->transparentColour, nullptr, nullptr))
            return code;
        return FinishNewObject(L, id);
    }
    if (type == TYPE_BRUSH) {
        lvBrush *b;
        if (int code = FindBrushById(L, source, &b, BRUSH_HARDWARE)) return code;
        if (!b->palette || !b->penBitmap) return ERR_NEEDPALETTEIMAGE;
        if (int code = NewPaletteRecord(b->cycleTable, b->cycleCount, &id, b->palette, b->depth,
                                        b->transparentColour, nullptr, nullptr))
            return code;
        return FinishNewObject(L, id);
    }
    if (type == TYPE_FONT) {
        if (!fontPaletteResolver) return ERR_UNIMPLCMD;
        const uint32_t *pens = nullptr;
        int depth = 0, transparentPen = -1;
        if (int code = fontPaletteResolver(source, &pens, &depth, &transparentPen)) return code;
        if (!pens || depth < 1 || depth > 8) return ERR_NEEDPALETTEIMAGE;
        // A font holds only the pens of its depth.
        uint32_t all[256] = {};
        std::memcpy(all, pens, sizeof(uint32_t) << depth);
        if (int code = NewPaletteRecord(nullptr, 0, &id, all, depth, transparentPen, nullptr, nullptr)) return code;
        return FinishNewObject(L, id);
    }
    // Anims and sprites hand their pens over once they exist here.
    if (type == TYPE_ANIM || type == TYPE_SPRITE) return ERR_UNIMPLCMD;
    return ERR_WRONGUSAGE;
}

static int CmdSetPaletteMode(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    int mode = IntArg(L, 1);
    if (mode != 0 && mode != 1) return ERR_WRONGUSAGE;
    libraryState.paletteMode = mode;
    RasterState.paletteMode = mode;
    return 0;
}

static int CmdSetDepth(lvState *L)
{
    CheckArgCount(L, 1, 2, 0, 0);
    lvPaletteOpRequest r = TargetRequest(L, 6, 2);
    r.depth = IntArg(L, 1);
    return ApplyPaletteOperation(&r);
}

static int CmdSetCycleTable(lvState *L)
{
    CheckArgCount(L, 1, 2, 0, 0);
    CheckTableArg(L, 1);
    lvPaletteOpRequest r = TargetRequest(L, 7, 2);
    if (int code = ReadCycleTable(L, 1, 256, &r.cycleTable, &r.cycleCount)) return code;
    int code = ApplyPaletteOperation(&r);
    FreeMemory(r.cycleTable);  // null once taken over
    return code;
}

// Pens 0..255 of the draw style and the text defaults.
static int PenArg(lvState *L, int *pen)
{
    CheckArgCount(L, 1, 1, 0, 0);
    *pen = IntArg(L, 1);
    return *pen < 0 || *pen > 255 ? ERR_PENRANGE : 0;
}

static int CmdSetDrawPen(lvState *L)
{
    int pen;
    if (int code = PenArg(L, &pen)) return code;
    DrawingState.drawStyle.drawPen = pen;
    DrawingState.fontStyle.drawPen = pen;
    DrawingState.fontStyle.bulletPen = pen;
    RasterState.drawPen = pen;
    return 0;
}

static int CmdSetShadowPen(lvState *L)
{
    int pen;
    if (int code = PenArg(L, &pen)) return code;
    DrawingState.drawStyle.shadowPen = pen;
    DrawingState.fontStyle.shadowPen = pen;
    return 0;
}

static int CmdSetBorderPen(lvState *L)
{
    int pen;
    if (int code = PenArg(L, &pen)) return code;
    DrawingState.drawStyle.borderPen = pen;
    DrawingState.fontStyle.borderPen = pen;
    return 0;
}

static int CmdSetBulletPen(lvState *L)
{
    int pen;
    if (int code = PenArg(L, &pen)) return code;
    DrawingState.fontStyle.bulletPen = pen;
    return 0;
}

static int CmdSetPen(lvState *L)
{
    CheckArgCount(L, 2, 3, 0, 0);
    lvPaletteOpRequest r = TargetRequest(L, 0, 3);
    r.pen = IntArg(L, 1);
    r.colour = (uint32_t)(uint64_t)NumberToInt64(CheckNumberArg(L, 2));
    return ApplyPaletteOperation(&r);
}

static int CmdGetPen(lvState *L)
{
    CheckArgCount(L, 1, 2, 0, 0);
    int pen = IntArg(L, 1);
    if (GetLegacySwitches()->legacyGetPen) {
        if (pen < 0 || pen > 255) return ERR_PENRANGE;
        lvBGPic *b = GetCurrentOutput();
        PushNumber(L, b && b->palette ? b->palette[pen] : 0);
        return 1;
    }
    lvPaletteOpRequest r = TargetRequest(L, 1, 2);
    int result = 0;
    r.pen = pen;
    r.result = &result;
    if (int code = ApplyPaletteOperation(&r)) return code;
    PushNumber(L, (uint32_t)result);
    return 1;
}

static int CmdSelectPalette(lvState *L)
{
    CheckArgCount(L, 1, 2, 0, 0);
    int type = IntArg(L, 1);
    lvObjectId id = {0, nullptr};
    if (HasArg(L, 2)) {
        // Layers are named by the current BGPic's layer list, which the layers bring.
        if (type == TYPE_LAYER) return ERR_NOLAYERS;
        id = GetObjectIdArg(L, 2);
    }
    libraryState.targetType = type;
    libraryState.targetId = id;
    return 0;
}

static int CmdReadPen(lvState *L)
{
    CheckArgCount(L, 2, 3, 0, 0);
    int x = IntArg(L, 1), y = IntArg(L, 2);
    lvPaletteOpRequest r = TargetRequest(L, 3, 3);
    int result = -1;
    r.x = x, r.y = y, r.result = &result;
    if (x >= 0 && y >= 0)
        if (int code = ApplyPaletteOperation(&r)) return code;
    PushNumber(L, result);
    return 1;
}

static int CmdWritePen(lvState *L)
{
    CheckArgCount(L, 3, 4, 0, 0);
    int x = IntArg(L, 1), y = IntArg(L, 2);
    lvPaletteOpRequest r = TargetRequest(L, 4, 4);
    r.x = x, r.y = y, r.pen = IntArg(L, 3);
    if (x < 0 || y < 0) return 0;
    return ApplyPaletteOperation(&r);
}

static int CmdSetTransparentPen(lvState *L)
{
    CheckArgCount(L, 1, 2, 0, 0);
    lvPaletteOpRequest r = TargetRequest(L, 5, 2);
    r.pen = Low32(CheckNumberArg(L, 1));
    return ApplyPaletteOperation(&r);
}

static int CmdSetPalettePen(lvState *L)
{
    CheckArgCount(L, 3, 4, 0, 0);
    lvPaletteOpRequest r = PaletteRequest(L, 0, 4);
    r.pen = IntArg(L, 2);
    r.colour = (uint32_t)(uint64_t)NumberToInt64(CheckNumberArg(L, 3));
    return ApplyPaletteOperation(&r);
}

static int CmdGetPalettePen(lvState *L)
{
    CheckArgCount(L, 2, 3, 0, 0);
    lvPaletteOpRequest r = PaletteRequest(L, 1, 3);
    int result = 0;
    r.pen = IntArg(L, 2);
    r.result = &result;
    if (int code = ApplyPaletteOperation(&r)) return code;
    PushNumber(L, (uint32_t)result);
    return 1;
}

static int CmdSetPaletteDepth(lvState *L)
{
    CheckArgCount(L, 2, 3, 0, 0);
    lvPaletteOpRequest r = PaletteRequest(L, 6, 3);
    r.depth = IntArg(L, 2);
    return ApplyPaletteOperation(&r);
}

static int CmdSetPaletteTransparentPen(lvState *L)
{
    CheckArgCount(L, 2, 3, 0, 0);
    lvPaletteOpRequest r = PaletteRequest(L, 5, 3);
    r.pen = Low32(CheckNumberArg(L, 2));
    return ApplyPaletteOperation(&r);
}

static int CmdSetGradientPalette(lvState *L)
{
    CheckArgCount(L, 3, 3, 0, 0);
    lvPalette *p;
    if (int code = FindPaletteById(GetObjectIdArg(L, 1), &p)) return code;
    uint32_t start = (uint32_t)(uint64_t)NumberToInt64(CheckNumberArg(L, 2));
    uint32_t end = (uint32_t)(uint64_t)NumberToInt64(CheckNumberArg(L, 3));
    lvGradientFill fill = GetGradientFill();
    if (!fill) return ERR_UNIMPLCMD;
    lvGradient gradient = {};
    gradient.style = 2;  // LINEAR
    gradient.startColour = start;
    gradient.endColour = end;
    gradient.angle = 90;
    if (int code = fill(nullptr, p->pens, 1 << p->depth, 1, &gradient)) return code;
    for (int i = 0; i < 256; i++) p->pens[i] &= 0xFFFFFFu;
    return 0;
}

static int CmdSetStandardPalette(lvState *L)
{
    CheckArgCount(L, 2, 2, 0, 0);
    lvPalette *p;
    if (int code = FindPaletteById(GetObjectIdArg(L, 1), &p)) return code;
    uint32_t pens[256];
    std::memcpy(pens, p->pens, sizeof pens);
    int depth;
    if (int code = GetStandardPalette(IntArg(L, 2), pens, &depth)) return code;
    std::memcpy(p->pens, pens, sizeof pens);
    p->depth = depth;
    return 0;
}

static int CmdSetDitherMode(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    int mode = IntArg(L, 1);
    if (mode != 0 && mode != 1) return ERR_WRONGUSAGE;
    libraryState.ditherMode = mode;
    RasterState.ditherMode = mode;
    return 0;
}

static int CmdSetTransparentThreshold(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    int threshold = IntArg(L, 1);
    if (threshold < 0 || threshold > 255) return ERR_WRONGUSAGE;
    libraryState.transparentThreshold = threshold;
    return 0;
}

static int CmdCopyPens(lvState *L)
{
    CheckArgCount(L, 4, 5, 0, 0);
    lvPalette *source;
    if (int code = FindPaletteById(GetObjectIdArg(L, 1), &source)) return code;
    lvPalette *destination;
    if (int code = FindPaletteById(GetObjectIdArg(L, 2), &destination)) return code;
    int first = IntArg(L, 3), count = IntArg(L, 4);
    int to = HasArg(L, 5) ? IntArg(L, 5) : first;
    if (count < 0) return ERR_WRONGUSAGE;
    if (count == 0) return 0;
    // In 64 bits: a count near the integer limit must not wrap past the range test.
    if (first < 0 || to < 0 || (int64_t)first + count > (1 << source->depth) ||
        (int64_t)to + count > (1 << destination->depth))
        return ERR_PENRANGE;
    CopyPaletteRange(source, destination, first, count, to);
    return 0;
}

static int CmdGetFreePen(lvState *L)
{
    CheckArgCount(L, 0, 1, 0, 0);
    lvPaletteOpRequest r = TargetRequest(L, 8, 1);
    int result = -1;
    r.result = &result;
    if (int code = ApplyPaletteOperation(&r)) return code;
    PushNumber(L, result);
    return 1;
}

static const lvCommandEntry PaletteCommands[] = {
    {"CreatePalette", CmdCreatePalette},
    {"FreePalette", CmdFreePalette},
    {"LoadPalette", CmdLoadPalette},
    {"SavePalette", CmdSavePalette},
    {"SetPalette", CmdSetPalette},
    {"CyclePalette", CmdCyclePalette},
    {"TintPalette", CmdTintPalette},
    {"InvertPalette", CmdInvertPalette},
    {"PaletteToGray", CmdPaletteToGray},
    {"SolarizePalette", CmdSolarizePalette},
    {"GammaPalette", CmdGammaPalette},
    {"ContrastPalette", CmdContrastPalette},
    {"ModulatePalette", CmdModulatePalette},
    {"GetBestPen", CmdGetBestPen},
    {"CopyPalette", CmdCopyPalette},
    {"ExtractPalette", CmdExtractPalette},
    {"SetPaletteMode", CmdSetPaletteMode},
    {"SetDepth", CmdSetDepth},
    {"SetCycleTable", CmdSetCycleTable},
    {"SetDrawPen", CmdSetDrawPen},
    {"SetPen", CmdSetPen},
    {"GetPen", CmdGetPen},
    {"SelectPalette", CmdSelectPalette},
    {"ReadPen", CmdReadPen},
    {"WritePen", CmdWritePen},
    {"SetTransparentPen", CmdSetTransparentPen},
    {"SetPalettePen", CmdSetPalettePen},
    {"GetPalettePen", CmdGetPalettePen},
    {"SetPaletteDepth", CmdSetPaletteDepth},
    {"SetPaletteTransparentPen", CmdSetPaletteTransparentPen},
    {"SetGradientPalette", CmdSetGradientPalette},
    {"SetStandardPalette", CmdSetStandardPalette},
    {"SetDitherMode", CmdSetDitherMode},
    {"SetTransparentThreshold", CmdSetTransparentThreshold},
    {"SetShadowPen", CmdSetShadowPen},
    {"SetBorderPen", CmdSetBorderPen},
    {"SetBulletPen", CmdSetBulletPen},
    {"CopyPens", CmdCopyPens},
    {"GetFreePen", CmdGetFreePen},
    {nullptr, nullptr},
};

static const lvConstantEntry PaletteConstants[] = {
    {"PALETTE", nullptr, 62},
    {"ATTRTRANSPARENTPEN", nullptr, 105},
    {"ATTRDEPTH", nullptr, 103},
    {"ATTRPALETTE", nullptr, 104},
    {"ATTRCYCLE", nullptr, 106},
    {"ATTRLOADER", nullptr, 91},
    {"PALETTEMODE_REMAP", nullptr, 1},
    {"PALETTEMODE_PEN", nullptr, 0},
    {"DITHERMODE_NONE", nullptr, 0},
    {"DITHERMODE_FLOYDSTEINBERG", nullptr, 1},
    {"PALETTE_DEFAULT", nullptr, -1000},
    {"PALETTE_CGA", nullptr, -999},
    {"PALETTE_EGA", nullptr, -998},
    {"PALETTE_OCS", nullptr, -997},
    {"PALETTE_AGA", nullptr, -996},
    {"PALETTE_WORKBENCH", nullptr, -995},
    {"PALETTE_MACINTOSH", nullptr, -994},
    {"PALETTE_WINDOWS", nullptr, -993},
    {"PALETTE_GRAY4", nullptr, -992},
    {"PALETTE_GRAY8", nullptr, -991},
    {"PALETTE_GRAY16", nullptr, -990},
    {"PALETTE_GRAY32", nullptr, -989},
    {"PALETTE_GRAY64", nullptr, -988},
    {"PALETTE_GRAY128", nullptr, -987},
    {"PALETTE_GRAY256", nullptr, -986},
    {"PALETTE_MONOCHROME", nullptr, -985},
    {"NOPEN", nullptr, 4294967295.0},
    {nullptr, nullptr, 0},
};

const lvConstantEntry *GetPaletteConstants(void) { return PaletteConstants; }

int OpenPaletteLibrary(lvState *L)
{
    RasterState.paletteMode = libraryState.paletteMode;
    RasterState.ditherMode = libraryState.ditherMode;
    if (int code = RegisterCommandTable(L, PaletteCommands, "palette")) return code;
    return RegisterObjectType(LV_TYPE_PALETTE, "Palettes", PaletteListHead(), GetPaletteAttribute, nullptr, 0);
}

void ClosePaletteLibrary(lvState *, int) { FreeAllPalettes(); }

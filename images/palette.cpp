// palette.cpp - palette objects: the list, records, the "palette" option of creating
// commands, cycle tables, pen moves, IFF ILBM palette files and linked palettes.
//
// Depends on: images/lvpalette.h, runtime/vfile.h, runtime/errors.h, runtime/cmdsupport.h.
#include <cstring>

#include "base/lverrors.h"
#include "images/lvpalette.h"
#include "platform/lvplatform.h"
#include "runtime/cmdsupport.h"
#include "runtime/errors.h"
#include "runtime/startup.h"
#include "runtime/vfile.h"

static lvObjectHeader *paletteList;  // newest last

lvObjectHeader **PaletteListHead(void) { return &paletteList; }

int DuplicateCycleTable(const lvCycleRange *table, int count, lvCycleRange **out)
{
    *out = nullptr;
    if (!table || count <= 0) return 0;
    auto *copy = (lvCycleRange *)AllocMemory(sizeof(lvCycleRange) * (size_t)count, 0);
    if (!copy) return ERR_MEM;
    std::memcpy(copy, table, sizeof(lvCycleRange) * (size_t)count);
    *out = copy;
    return 0;
}

int NewPaletteRecord(const lvCycleRange *cycleTable, int cycleCount, lvObjectId *id, const uint32_t *pens, int depth,
                     int transparentPen, void *loader, lvPalette **out)
{
    auto *r = (lvPalette *)AllocMemory(sizeof(lvPalette), 1);
    if (!r) return ERR_MEM;
    if (int code = DuplicateCycleTable(cycleTable, cycleCount, &r->cycleTable)) {
        FreeMemory(r);
        return code;
    }
    r->cycleCount = r->cycleTable ? cycleCount : 0;
    for (int i = 0; i < 256; i++) r->pens[i] = pens[i] & 0xFFFFFFu;
    r->bitmap = AllocRgbBitmap(256, 1, BMF_EXTERNAL, r->pens);
    if (!r->bitmap) {
        FreeMemory(r->cycleTable);
        FreeMemory(r);
        return ERR_MEM;
    }
    r->depth = depth;
    r->transparentPen = transparentPen;
    r->loader = loader;
    bool nil = id->number == 0 && !id->handle;
    InitObjectHeader(&r->header, LV_TYPE_PALETTE, id->number, nil);
    if (nil) id->handle = r->header.handle;
    lvObjectHeader **tail = &paletteList;
    while (*tail) tail = &(*tail)->next;
    *tail = &r->header;
    if (out) *out = r;
    return 0;
}

static int NotFound(lvObjectId id)
{
    if (id.handle) return ERR_FINDARRAY;
    SetErrorNumberArg(id.number);
    return ERR_FINDPALETTE;
}

int FindPaletteById(lvObjectId id, lvPalette **out)
{
    *out = nullptr;
    for (lvObjectHeader *h = paletteList; h; h = h->next)
        if (ObjectIdMatches(h, id)) {
            *out = (lvPalette *)h;
            return 0;
        }
    return NotFound(id);
}

static void FreePaletteRecord(lvPalette *r)
{
    FreeBitmapHandle(r->bitmap);
    FreeMemory(r->cycleTable);
    lvState *L = GetMainVMState();
    if (L) {
        lvRefOps ops = MakeRegistryRefOps(L);
        FreeObjectUserData(&r->header.userData, &ops);
    } else {
        FreeObjectUserData(&r->header.userData, nullptr);
    }
    FreeMemory(r);
}

int FreePaletteById(lvObjectId id)
{
    for (lvObjectHeader **p = &paletteList; *p; p = &(*p)->next) {
        if (!ObjectIdMatches(*p, id)) continue;
        lvPalette *r = (lvPalette *)*p;
        *p = r->header.next;
        FreePaletteRecord(r);
        return 0;
    }
    return NotFound(id);
}

void FreeAllPalettes(void)
{
    while (lvObjectHeader *h = paletteList) {
        paletteList = h->next;
        FreePaletteRecord((lvPalette *)h);
    }
}

int ResolvePaletteOption(lvObjectId id, int depth, int fillPen, int ownTransparentPen, lvResolvedPalette *out)
{
    int callerPen = out->transparentPen;
    std::memset(out->pens, 0, sizeof out->pens);
    out->cycleTable = nullptr;
    out->cycleCount = 0;
    out->transparentPen = ownTransparentPen ? callerPen : -1;
    if (id.handle || id.number > 0) {
        lvPalette *p;
        if (int code = FindPaletteById(id, &p)) return code;
        std::memcpy(out->pens, p->pens, sizeof(uint32_t) << p->depth);
        out->depth = p->depth;
        if (!ownTransparentPen) out->transparentPen = p->transparentPen;
        out->cycleTable = p->cycleTable;
        out->cycleCount = p->cycleCount;
    } else if (id.number == PALETTE_BLACK) {
        out->depth = depth;
    } else if (int code = GetStandardPalette(id.number, out->pens, &out->depth)) {
        return code;
    }
    if (depth) out->depth = depth;
    if (out->depth < 1 || out->depth > 8) return ERR_DEPTHRANGE;
    int limit = 1 << out->depth;
    if (fillPen >= limit || fillPen < 0) return ERR_PENRANGE;
    if (out->transparentPen != -1 && (out->transparentPen < 0 || out->transparentPen >= limit)) return ERR_PENRANGE;
    return 0;
}

void CyclePens(uint32_t *pens, int start, int end, int steps)
{
    // The range comes back to itself after as many steps as it has pens.
    int length = start < end ? end - start + 1 : start - end + 1;
    steps %= length;
    for (int s = 0; s < steps; s++) {
        uint32_t kept = pens[end];
        if (start < end) {
            for (int i = end; i > start; i--) pens[i] = pens[i - 1];
        } else {
            for (int i = end; i < start; i++) pens[i] = pens[i + 1];
        }
        pens[start] = kept;
    }
}

void CopyPaletteRange(const lvPalette *source, lvPalette *destination, int first, int count, int destinationPen)
{
    uint32_t scratch[256];
    std::memcpy(scratch, destination->pens, sizeof scratch);
    std::memcpy(scratch + destinationPen, source->pens + first, sizeof(uint32_t) * (size_t)count);
    std::memcpy(destination->pens, scratch, sizeof scratch);
}

// ---- Palette files ----------------------------------------------------------------------

size_t PaletteFileSize(const lvPalette *p) { return 48 + 3 * ((size_t)1 << p->depth) + 16 * (size_t)p->cycleCount; }

static uint8_t *PutBE32(uint8_t *o, uint32_t v)
{
    o[0] = uint8_t(v >> 24), o[1] = uint8_t(v >> 16), o[2] = uint8_t(v >> 8), o[3] = uint8_t(v);
    return o + 4;
}
static uint8_t *PutBE16(uint8_t *o, uint32_t v)
{
    o[0] = uint8_t(v >> 8), o[1] = uint8_t(v);
    return o + 2;
}
static uint8_t *PutTag(uint8_t *o, const char *tag)
{
    std::memcpy(o, tag, 4);
    return o + 4;
}

void EncodePaletteFile(const lvPalette *p, uint8_t *o)
{
    int n = 1 << p->depth;
    o = PutTag(o, "FORM");
    o = PutBE32(o, uint32_t(40 + 3 * n + 16 * p->cycleCount));
    o = PutTag(o, "ILBM");
    o = PutTag(o, "BMHD");
    o = PutBE32(o, 20);
    for (int i = 0; i < 4; i++) o = PutBE16(o, 0);  // width, height, x, y
    *o++ = uint8_t(p->depth);
    *o++ = p->transparentPen != -1 ? 2 : 0;
    *o++ = 0;  // compression
    *o++ = 0;  // pad
    o = PutBE16(o, p->transparentPen != -1 ? uint32_t(p->transparentPen) : 0);
    *o++ = 0;  // aspect
    *o++ = 0;
    o = PutBE16(o, 0);  // page size
    o = PutBE16(o, 0);
    o = PutTag(o, "CMAP");
    o = PutBE32(o, uint32_t(3 * n));
    for (int i = 0; i < n; i++) {
        *o++ = uint8_t(p->pens[i] >> 16);
        *o++ = uint8_t(p->pens[i] >> 8);
        *o++ = uint8_t(p->pens[i]);
    }
    for (int i = 0; i < p->cycleCount; i++) {
        const lvCycleRange &c = p->cycleTable[i];
        o = PutTag(o, "CRNG");
        o = PutBE32(o, 8);
        o = PutBE16(o, 0);
        o = PutBE16(o, c.rate);
        o = PutBE16(o, c.flags);
        *o++ = c.low;
        *o++ = c.high;
    }
}

int SavePaletteFile(const lvPalette *p, const char *path, const char *adapter, const void *userTags)
{
    size_t size = PaletteFileSize(p);
    auto *bytes = (uint8_t *)AllocMemory(size, 0);
    if (!bytes) return ERR_MEM;
    EncodePaletteFile(p, bytes);
    lvVFile *file = OpenVFile(path, LV_VF_WRITE | LV_VF_ADAPTERS, adapter, userTags);
    if (!file) {
        FreeMemory(bytes);
        SetErrorStringArg(path);
        return ERR_WRITEFILE;
    }
    // A short write or a failing close (where buffered bytes meet a full disk) is the
    // caller's to hear about: a truncated palette file must not report success.
    int code = WriteVFile(file, bytes, (int64_t)size) == (int64_t)size ? 0 : ERR_WRITE;
    FreeMemory(bytes);
    if (!code && !FlushVFile(file)) code = ERR_WRITE;
    if (!CloseVFile(file) && !code) code = ERR_CLOSEFILE;
    return code;
}

// ---- Linked palettes ----------------------------------------------------------------------

int ReadLinkedPaletteTail(lvAppletCursor *cursor, lvLinkedObject *object, int, int)
{
    uint32_t type, pen;
    uint8_t depth;
    if (int code = ReadAppletBE32(cursor, &type)) return code;
    if (int code = ReadAppletBE32(cursor, &pen)) return code;
    if (int code = ReadAppletByte(cursor, &depth)) return code;
    // More than 8 bits would overrun the 256 pens.
    if (depth < 1 || depth > 8) return ERR_DEPTHRANGE;
    auto *payload = (lvLinkedPalette *)AllocMemory(sizeof(lvLinkedPalette), 1);
    if (!payload) return ERR_MEM;
    payload->type = (int32_t)type;
    payload->transparentPen = (int32_t)pen;
    payload->depth = depth;
    if (payload->type == PALETTE_EXPLICIT) {
        for (int i = 0; i < (1 << depth); i++) {
            if (int code = ReadAppletBE32(cursor, &payload->pens[i])) {
                FreeMemory(payload);
                return code;
            }
        }
    }
    if (object->freePayload) object->freePayload(object->payload);
    else FreeMemory(object->payload);
    object->payload = payload;
    object->freePayload = nullptr;
    return 0;
}

int PreloadLinkedPalette(void *user, lvLinkedObject *object, const char *, int *)
{
    lvState *L = static_cast<lvPreloadRun *>(user)->L;
    auto *payload = (const lvLinkedPalette *)object->payload;
    if (!payload) return 0;
    int top = GetStackTop(L);
    PushString(L, "createpalette");
    GetTableValueRaw(L, LV_GLOBALSINDEX);
    if (GetValueType(L, -1) != LV_TFUNCTION) {
        SetStackTop(L, top);
        SetErrorStringArg("CreatePalette");
        return ERR_UNIMPLCMD;
    }
    PushNumber(L, object->identifier);
    if (payload->type == PALETTE_EXPLICIT) {
        PushNewTable(L);
        for (int i = 0; i < (1 << payload->depth); i++) {
            PushNumber(L, i);
            PushNumber(L, payload->pens[i]);
            SetTableValueRaw(L, -3);
        }
    } else {
        PushNumber(L, payload->type);
    }
    PushNewTable(L);
    SetFieldInt(L, "depth", payload->depth);
    SetFieldUInt(L, "transparentpen", (uint32_t)payload->transparentPen);
    int code = ProtectedCall(L, 3, 0, 0);
    SetStackTop(L, top);
    return code;
}

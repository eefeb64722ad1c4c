// vectorpath.cpp - the path records, their command buffers, the path styles and
// the choice of the vector engine that measures, translates and draws them.
//
// Depends on: text/lvvectorpath.h, runtime/plugin.h (engines of plug-ins).
// Limits: script thread only.
#include "text/lvvectorpath.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>
#include <strings.h>
#include <vector>

#include "base/lverrors.h"
#include "platform/lvplatform.h"
#include "runtime/errors.h"
#include "runtime/plugin.h"
#include "text/lvtextlib.h"

namespace {

lvObjectHeader *pathList;  // creation order
lvPathStyle currentStyle = {JOINMITER, CAPBUTT, 0, 0, nullptr, FILLRULEWINDING, 10.0, {}};
const lvVectorEngine *currentEngine;

// Engines of plug-ins, made the first time a plug-in is selected.
std::vector<std::unique_ptr<lvVectorEngine>> pluginEngines;

void Put32(uint8_t *p, uint32_t v) { std::memcpy(p, &v, 4); }
void PutDouble(uint8_t *p, double v) { std::memcpy(p, &v, 8); }
uint32_t Get32(const uint8_t *p)
{
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}
double GetDouble(const uint8_t *p)
{
    double v;
    std::memcpy(&v, p, 8);
    return v;
}

void FreePathRecord(lvPath *p, const lvRefOps *refs)
{
    std::free(p->buffer);
    FreePathStyle(&p->style);
    FreeObjectUserData(&p->header.userData, refs);
    delete p;
}

void Unlink(lvPath *p)
{
    for (lvObjectHeader **h = &pathList; *h; h = &(*h)->next)
        if (*h == &p->header) {
            *h = p->header.next;
            return;
        }
}

void Append(lvPath *p)
{
    lvObjectHeader **tail = &pathList;
    while (*tail) tail = &(*tail)->next;
    *tail = &p->header;
}

// A new unlinked path with a copy of style; *id {0, null} gets a handle.
int NewPath(lvObjectId *id, const lvPathStyle *style, lvPath **out)
{
    auto *p = new (std::nothrow) lvPath{};
    if (!p) return ERR_MEM;
    if (CopyPathStyle(style, &p->style)) {
        delete p;
        return ERR_MEM;
    }
    bool nil = id->number == 0 && !id->handle;
    InitObjectHeader(&p->header, LV_TYPE_VECTORPATH, id->number, nil);
    if (nil) id->handle = p->header.handle;
    *out = p;
    return 0;
}

}  // namespace

lvObjectHeader **PathListHead() { return &pathList; }

int FindPathById(lvObjectId id, lvPath **out)
{
    *out = nullptr;
    for (lvObjectHeader *h = pathList; h; h = h->next)
        if (ObjectIdMatches(h, id)) {
            *out = (lvPath *)h;
            return 0;
        }
    if (id.handle) return ERR_FINDARRAY;
    SetErrorNumberArg(id.number);
    return ERR_FINDPATH;
}

int StartPath(lvObjectId *id, lvPath **out)
{
    if (!id->handle && id->number != 0) RemovePath(*id);
    lvPathStyle style = currentStyle;
    style.drawStyle = *GetDrawStyle();
    lvPath *p;
    if (int code = NewPath(id, &style, &p)) return code;
    Append(p);
    if (out) *out = p;
    return 0;
}

int RemovePath(lvObjectId id)
{
    lvPath *p;
    if (int code = FindPathById(id, &p)) return code;
    Unlink(p);
    lvTextLibrary *text = GetTextLibrary();
    FreePathRecord(p, text && text->open ? &text->refOps : nullptr);
    return 0;
}

void ClearPath(lvPath *p)
{
    std::free(p->buffer);
    p->buffer = nullptr;
    p->capacity = p->writePos = 0;
}

int ReservePathSpace(lvPath *p, size_t need)
{
    if (p->buffer && p->capacity - p->writePos >= need) return 0;
    size_t grow = std::max<size_t>(need, 1024);
    if (grow > (size_t)1 << 30 || p->capacity > ((size_t)1 << 31)) return ERR_MEM;
    auto *b = (uint8_t *)std::realloc(p->buffer, p->capacity + grow);
    if (!b) return ERR_MEM;
    std::memset(b + p->capacity, 0, grow);
    p->buffer = b;
    p->capacity += grow;
    return 0;
}

int AppendPathCommandTo(lvPath *p, uint32_t code, int count, const lvPathArg *args)
{
    size_t need = 128;
    for (int i = 0; i < count; i++)
        if (args[i].kind == PATHARG_TEXT) need += PathTextFieldSize(args[i].length);
    if (int e = ReservePathSpace(p, need)) return e;
    uint8_t *w = p->buffer + p->writePos;
    Put32(w, code);
    w += 4;
    for (int i = 0; i < count; i++) {
        const lvPathArg &a = args[i];
        switch (a.kind) {
        case PATHARG_DOUBLE: PutDouble(w, a.d), w += 8; break;
        case PATHARG_TEXT: {
            size_t field = PathTextFieldSize(a.length);
            std::memcpy(w, a.text, a.length);
            std::memset(w + a.length, 0, field - a.length);
            w += field;
            break;
        }
        default: Put32(w, (uint32_t)a.i), w += 4; break;
        }
    }
    p->writePos = (size_t)(w - p->buffer);
    Put32(w, 0);
    return 0;
}

int AppendPathCommand(lvObjectId id, uint32_t code, int count, const lvPathArg *args)
{
    lvPath *p;
    if (int e = FindPathById(id, &p)) return e;
    return AppendPathCommandTo(p, code, count, args);
}

int CopyPath(lvObjectId source, lvObjectId *newId, const lvRefOps *refs, lvPath **out)
{
    lvPath *s;
    if (int e = FindPathById(source, &s)) return e;
    if (!newId->handle && newId->number != 0) {
        if (!source.handle && newId->number == source.number) return ERR_WRONGUSAGE;
        RemovePath(*newId);
    }
    lvObjectId id = *newId;
    lvPath *p;
    if (int e = NewPath(&id, &s->style, &p)) return e;
    if (s->buffer) {
        p->buffer = (uint8_t *)std::malloc(s->capacity);
        if (!p->buffer) {
            FreePathRecord(p, refs);
            return ERR_MEM;
        }
        std::memcpy(p->buffer, s->buffer, s->capacity);
        p->capacity = s->capacity;
        p->writePos = s->writePos;
    }
    if (s->header.userData && CopyObjectUserData(s->header.userData, &p->header.userData, refs)) {
        FreePathRecord(p, refs);
        return ERR_MEM;
    }
    Append(p);
    *newId = id;
    if (out) *out = p;
    return 0;
}

int AppendPath(lvObjectId aId, lvObjectId bId)
{
    lvPath *a, *b;
    if (int e = FindPathById(aId, &a)) return e;
    if (int e = FindPathById(bId, &b)) return e;
    if (a == b) return ERR_WRONGUSAGE;
    if (!b->buffer || b->writePos == 0) return 0;
    if (int e = ReservePathSpace(a, b->writePos + 4)) return e;
    std::memcpy(a->buffer + a->writePos, b->buffer, b->writePos);
    a->writePos += b->writePos;
    Put32(a->buffer + a->writePos, 0);
    return 0;
}

void FreeAllPaths(const lvRefOps *refs)
{
    while (lvObjectHeader *h = pathList) {
        pathList = h->next;
        FreePathRecord((lvPath *)h, refs);
    }
    FreeDashArray(&currentStyle);
    lvTextLibrary *text = GetTextLibrary();
    if (text) FreeAllVectorFonts(&text->vectorFonts);
}

// ---- Styles ---------------------------------------------------------------------------------

lvPathStyle *CurrentPathStyle() { return &currentStyle; }

void ResetCurrentPathStyle()
{
    FreeDashArray(&currentStyle);
    currentStyle.join = JOINMITER;
    currentStyle.cap = CAPBUTT;
    currentStyle.fillRule = FILLRULEWINDING;
    currentStyle.miterLimit = 10.0;
}

int CopyDashArray(const lvPathStyle *source, lvPathStyle *target)
{
    target->dashArray = nullptr;
    target->dashCount = 0;
    target->dashOffset = source->dashOffset;
    if (source->dashCount <= 0 || !source->dashArray) return 1;
    auto *a = (double *)std::malloc(sizeof(double) * (size_t)source->dashCount);
    if (!a) return 0;
    std::memcpy(a, source->dashArray, sizeof(double) * (size_t)source->dashCount);
    target->dashArray = a;
    target->dashCount = source->dashCount;
    return 1;
}

void FreeDashArray(lvPathStyle *style)
{
    std::free(style->dashArray);
    style->dashArray = nullptr;
    style->dashCount = 0;
    style->dashOffset = 0;
}

int CopyPathStyle(const lvPathStyle *source, lvPathStyle *target)
{
    *target = *source;
    return CopyDashArray(source, target) ? 0 : ERR_MEM;
}

void FreePathStyle(lvPathStyle *style) { FreeDashArray(style); }

int SetPathDash(lvPathStyle *style, double offset, const double *lengths, int count)
{
    if (count <= 0 || lengths[0] < 0) {
        FreeDashArray(style);
        return 0;
    }
    auto *a = (double *)std::malloc(sizeof(double) * (size_t)count);
    if (!a) return ERR_MEM;
    std::memcpy(a, lengths, sizeof(double) * (size_t)count);
    FreeDashArray(style);
    style->dashArray = a;
    style->dashCount = count;
    style->dashOffset = offset;
    return 0;
}

void MakeVectorStyle(const lvPathStyle *style, const lvDrawStyle *draw, lvVectorStyle *out)
{
    *out = lvVectorStyle{};
    out->join = style->join;
    out->cap = style->cap;
    out->fillRule = style->fillRule;
    out->antiAlias = (draw->formStyle & FORM_ANTIALIAS) ? 1 : 0;
    out->dashOffset = style->dashOffset;
    out->dashArray = style->dashArray;
    out->dashCount = style->dashCount;
    out->miterLimit = style->miterLimit;
}

// ---- Reading ------------------------------------------------------------------------------

int ReadPathItem(const uint8_t *buffer, size_t used, size_t *offset, lvPathItem *item)
{
    size_t at = *offset;
    if (!buffer || at + 4 > used) return 0;
    *item = lvPathItem{};
    item->code = Get32(buffer + at);
    at += 4;
    size_t room = used - at;
    const uint8_t *a = buffer + at;
    switch (item->code) {
    case PATHCMD_MOVETO:
    case PATHCMD_LINETO:
        if (room < 20) return 0;
        item->rel = (int32_t)Get32(a);
        item->v[0] = GetDouble(a + 4), item->v[1] = GetDouble(a + 12);
        at += 20;
        break;
    case PATHCMD_CURVETO:
        if (room < 52) return 0;
        item->rel = (int32_t)Get32(a);
        for (int i = 0; i < 6; i++) item->v[i] = GetDouble(a + 4 + 8 * i);
        at += 52;
        break;
    case PATHCMD_NEWSUBPATH:
    case PATHCMD_CLOSEPATH: break;
    case PATHCMD_ARC:
        if (room < 52) return 0;
        for (int i = 0; i < 6; i++) item->v[i] = GetDouble(a + 8 * i);
        item->clockwise = (int32_t)Get32(a + 48);
        at += 52;
        break;
    case PATHCMD_BOX:
        if (room < 48) return 0;
        for (int i = 0; i < 4; i++) item->v[i] = GetDouble(a + 8 * i);
        for (int i = 0; i < 4; i++) item->corners[i] = (int32_t)Get32(a + 32 + 4 * i);
        at += 48;
        break;
    case PATHCMD_TEXT: {
        if (room < 8) return 0;
        item->font = Get32(a);
        item->size = (int32_t)Get32(a + 4);
        const char *text = (const char *)a + 8;
        const void *end = std::memchr(text, 0, room - 8);
        if (!end) return 0;
        item->text = text;
        item->textLength = (size_t)((const char *)end - text);
        size_t field = PathTextFieldSize(item->textLength);
        if (field > room - 8) return 0;
        at += 8 + field;
        break;
    }
    default: return 0;  // the end, or a code no writer makes
    }
    *offset = at;
    return 1;
}

bool PathCoordinatesFit(const uint8_t *buffer, size_t used, double dx, double dy)
{
    constexpr double kLimit = 32767.0;
    auto fits = [](double v) { return std::isfinite(v) && std::fabs(v) <= kLimit; };
    size_t at = 0;
    lvPathItem it;
    while (ReadPathItem(buffer, used, &at, &it)) {
        double ox = dx, oy = dy;
        switch (it.code) {
        case PATHCMD_MOVETO:
        case PATHCMD_LINETO:
            if (it.rel) ox = oy = 0;
            if (!fits(it.v[0] + ox) || !fits(it.v[1] + oy)) return false;
            break;
        case PATHCMD_CURVETO:
            if (it.rel) ox = oy = 0;
            for (int i = 0; i < 3; i++)
                if (!fits(it.v[2 * i] + ox) || !fits(it.v[2 * i + 1] + oy)) return false;
            break;
        case PATHCMD_ARC:
            if (!fits(it.v[0] + ox) || !fits(it.v[1] + oy) || !fits(it.v[2]) || !fits(it.v[3])) return false;
            if (!fits(it.v[0] + ox + it.v[2]) || !fits(it.v[0] + ox - it.v[2])) return false;
            if (!fits(it.v[1] + oy + it.v[3]) || !fits(it.v[1] + oy - it.v[3])) return false;
            if (!std::isfinite(it.v[4]) || !std::isfinite(it.v[5])) return false;
            break;
        case PATHCMD_BOX:
            if (!fits(it.v[0] + ox) || !fits(it.v[1] + oy) || !fits(it.v[2]) || !fits(it.v[3])) return false;
            if (!fits(it.v[0] + ox + it.v[2]) || !fits(it.v[1] + oy + it.v[3])) return false;
            break;
        default: break;
        }
    }
    return true;
}

// ---- Engines ------------------------------------------------------------------------------

const lvVectorEngine *GetCurrentVectorEngine()
{
    // An engine whose plug-in went away serves no more.
    if (currentEngine && currentEngine->plugin && !FindPluginNode(currentEngine->plugin)) currentEngine = nullptr;
    return currentEngine;
}

const lvVectorEngine *ServingVectorEngine()
{
    const lvVectorEngine *e = GetCurrentVectorEngine();
    return e ? e : GetInbuiltVectorEngine();
}

int IsInbuiltVectorEngine(const lvVectorEngine *engine) { return engine == GetInbuiltVectorEngine(); }

const lvVectorEngine *FindVectorEngine(const char *name)
{
    if (!name) return nullptr;
    if (strcasecmp(name, "default") == 0) return GetInbuiltVectorEngine();
    size_t n = std::strlen(name);
    bool hasLvp = n >= 4 && strcasecmp(name + n - 4, ".lvp") == 0;
    char file[300];
    if (n + 5 > sizeof file) return nullptr;
    std::snprintf(file, sizeof file, "%s%s", name, hasLvp ? "" : ".lvp");
    for (lvPluginNode *node = GetFirstPluginNode(); node; node = node->next) {
        if (!(node->capabilities & PLUGINCAPS_VECTOR) || strcasecmp(node->fileName, file) != 0) continue;
        lvPluginRecord *r = node->handle->record;
        if (!r->GetPathExtents || !r->DrawPath || !r->TranslatePath || !r->GetCurrentPoint) continue;
        for (auto &e : pluginEngines)
            if (e->plugin == r) return e.get();
        auto e = std::unique_ptr<lvVectorEngine>(new (std::nothrow) lvVectorEngine{});
        if (!e) return nullptr;
        e->GetPathExtents = (lvGetPathExtentsFunction)r->GetPathExtents;
        e->DrawPath = (lvDrawPathFunction)r->DrawPath;
        e->TranslatePath = (lvTranslatePathFunction)r->TranslatePath;
        e->GetCurrentPoint = (lvGetCurrentPointFunction)r->GetCurrentPoint;
        e->CreateVectorFont = (lvCreateVectorFontFunction)r->CreateVectorFont;
        e->FreeVectorFont = (lvFreeVectorFontFunction)r->FreeVectorFont;
        e->OpenFont = (lvOpenVectorFontFunction)r->OpenFont;
        e->CloseFont = (lvCloseVectorFontFunction)r->CloseFont;
        e->flags = r->extensions[5];
        if ((uintptr_t)r->reserved56 == 2) e->flags |= VECENGINE_OPENFONT;
        e->plugin = r;
        try {
            pluginEngines.push_back(std::move(e));
        } catch (...) {
            return nullptr;
        }
        return pluginEngines.back().get();
    }
    return nullptr;
}

int SetVectorEngine(const char *name)
{
    const lvVectorEngine *e = FindVectorEngine(name);
    currentEngine = e;
    if (!e) {
        SetErrorStringArg(name ? name : "");
        return ERR_FINDPLUGIN;
    }
    return 0;
}

void ForgetVectorEnginePlugin(lvPluginRecord *plugin)
{
    if (currentEngine && currentEngine->plugin == plugin) currentEngine = nullptr;
    for (auto it = pluginEngines.begin(); it != pluginEngines.end();)
        it = (*it)->plugin == plugin ? pluginEngines.erase(it) : it + 1;
}

// ---- Measuring and moving through the engine ----------------------------------------------

void GetPathExtentsOf(const lvPath *path, int filled, int lineWidth, double out[4])
{
    out[0] = out[1] = out[2] = out[3] = 0;
    if (!path->buffer) return;
    const lvVectorEngine *e = ServingVectorEngine();
    lvVectorStyle vs;
    MakeVectorStyle(&currentStyle, GetDrawStyle(), &vs);
    static const double identity[4] = {1, 0, 0, 1};
    lvPathExtentsRequest r{};
    r.buffer = path->buffer;
    r.style = &vs;
    r.filled = filled;
    r.lineWidth = lineWidth;
    r.matrix = identity;
    e->GetPathExtents(&r);
    out[0] = r.x1, out[1] = r.y1, out[2] = r.x2, out[3] = r.y2;
}

void GetPathCurrentPoint(const lvPath *path, double *x, double *y)
{
    *x = *y = 0;
    if (!path->buffer) return;
    lvVectorStyle vs;
    MakeVectorStyle(&currentStyle, GetDrawStyle(), &vs);
    ServingVectorEngine()->GetCurrentPoint(path->buffer, &vs, x, y);
}

int TranslatePathBy(lvPath *path, double dx, double dy)
{
    if (!path->buffer || (dx == 0 && dy == 0)) return 0;
    if (!PathCoordinatesFit(path->buffer, path->writePos + 4, dx, dy)) return ERR_DRAWPATH;
    lvPathTranslateRequest r{path->buffer, dx, dy};
    ServingVectorEngine()->TranslatePath(&r);
    return 0;
}

int NormalizePath(lvPath *path)
{
    double box[4];
    GetPathExtentsOf(path, 1, 1, box);
    return TranslatePathBy(path, -box[0], -box[1]);
}

namespace {

const lvVectorEngine *Engine(const void *e) { return (const lvVectorEngine *)e; }
const lvVectorFontOps fontOps = {
    [](const void *e) { return (Engine(e)->flags & VECENGINE_OPENFONT) && Engine(e)->OpenFont ? 1 : 0; },
    [](const void *e, const void *data, int32_t size) { return Engine(e)->OpenFont(data, size); },
    [](const void *e, void *face) {
        if (Engine(e)->CloseFont) Engine(e)->CloseFont(face);
    },
    [](const void *e, void *face) { return Engine(e)->CreateVectorFont ? Engine(e)->CreateVectorFont(face) : nullptr; },
    [](const void *e, void *font) {
        if (Engine(e)->FreeVectorFont) Engine(e)->FreeVectorFont(font);
    },
};

}  // namespace

void ResetVectorPathState()
{
    SetVectorFontOps(&fontOps);
    currentEngine = nullptr;
    SetForcePathUse(0);
    pluginEngines.clear();
}

// layer_list.cpp - layer records and the BGPic's layer list: making, linking, moving,
// swapping, naming, grouping and freeing layers.
//
// Depends on: layers/lvlayer.h, images/ (brushes, BGPics, the selection display).
// Limits: script thread only.
#include <cstring>
#include <strings.h>

#include "base/lverrors.h"
#include "images/lvbrush.h"
#include "images/lvoffscreen.h"
#include "layers/lvlayer.h"
#include "platform/lvplatform.h"
#include "raster/lvblit.h"
#include "raster/lvimage.h"
#include "runtime/cmdsupport.h"
#include "runtime/errors.h"
#include "text/lvtextobject.h"

static int liveLayers;

int LiveLayerRecords(void) { return liveLayers; }

// ---- The list -------------------------------------------------------------------------------
// The BGPic's header is two overlapping nodes: {head, null} before the first layer and
// {null, tailPred} after the last one, so a node is the last when its next's next is null.

static lvLayer *HeadNode(const lvBGPic *b) { return (lvLayer *)(void *)&b->layerHead; }
static lvLayer *TailNode(const lvBGPic *b) { return (lvLayer *)(void *)&b->layerNull; }

lvLayer *FirstLayer(const lvBGPic *b)
{
    if (!b || !b->layerHead) return nullptr;
    lvLayer *n = (lvLayer *)b->layerHead;
    return n->next ? n : nullptr;
}
lvLayer *NextLayer(const lvLayer *l)
{
    lvLayer *n = l->next;
    return n && n->next ? n : nullptr;
}
lvLayer *LastLayer(const lvBGPic *b)
{
    if (!b || !b->layerTailPred) return nullptr;
    lvLayer *n = (lvLayer *)b->layerTailPred;
    return n->prev ? n : nullptr;
}
lvLayer *PreviousLayer(const lvLayer *l)
{
    lvLayer *n = l->prev;
    return n && n->prev ? n : nullptr;
}

static void Unlink(lvLayer *l)
{
    l->prev->next = l->next;
    l->next->prev = l->prev;
    l->next = l->prev = nullptr;
}
static void InsertAfter(lvLayer *after, lvLayer *l)
{
    l->next = after->next;
    l->prev = after;
    after->next->prev = l;
    after->next = l;
}
static void AddHead(lvBGPic *b, lvLayer *l) { InsertAfter(HeadNode(b), l); }
static void AddTail(lvBGPic *b, lvLayer *l) { InsertAfter(TailNode(b)->prev, l); }

lvLayer *GetLayerByIndex(const lvBGPic *b, int n)
{
    if (n <= 0) return nullptr;
    for (lvLayer *l = FirstLayer(b); l; l = NextLayer(l))
        if (--n == 0) return l;
    return nullptr;
}

int GetLayerIndex(const lvBGPic *b, const lvLayer *layer)
{
    int i = 1;
    for (lvLayer *l = FirstLayer(b); l; l = NextLayer(l), i++)
        if (l == layer) return i;
    return -1;
}

int CountLayers(const lvBGPic *b)
{
    int n = 0;
    for (lvLayer *l = FirstLayer(b); l; l = NextLayer(l)) n++;
    return n;
}

int CountAllLayers(void)
{
    int n = 0;
    for (lvBGPic *b = FirstBGPic(); b; b = (lvBGPic *)b->header.next) n += CountLayers(b);
    return n;
}

int FindLayerByName(const lvBGPic *b, const char *name)
{
    int i = 1;
    for (lvLayer *l = FirstLayer(b); l; l = NextLayer(l), i++)
        if (l->name && strcasecmp(l->name, name) == 0) return i;
    return 0;
}

lvBGPic *CurrentLayerBGPic(void)
{
    lvSelectDisplay *d = GetSelectDisplay();
    return d ? d->ownBGPic : nullptr;
}

int CheckLayerOutput(int needLayers)
{
    lvSelectDisplay *d = GetSelectDisplay();
    if (!d) return ERR_NOLAYERS;
    switch (d->blit.target.kind) {
    case OUTPUT_IMAGE: {
        lvBGPic *out = GetCurrentOutput();
        return out && out->selectedType == SELECT_ANIM ? ERR_SELECTANIM : ERR_SELECTBRUSH;
    }
    case OUTPUT_MASK: return ERR_SELECTMASK;
    case OUTPUT_ALPHA: return ERR_SELECTALPHACHANNEL;
    default: break;
    }
    if (needLayers && !d->layersOn) return ERR_NOLAYERS;
    return 0;
}

// ---- Names and groups ------------------------------------------------------------------------

int LayerHasGroup(const lvLayer *l, const char *name)
{
    for (const char *g = l->groups; g && *g; g += std::strlen(g) + 1)
        if (strcasecmp(g, name) == 0) return 1;
    return 0;
}

int CheckLayerName(const lvBGPic *b, const char *name)
{
    if (std::strlen(name) >= 256) return ERR_NAMETOOLONG;
    for (lvLayer *l = FirstLayer(b); l; l = NextLayer(l))
        if ((l->name && strcasecmp(l->name, name) == 0) || LayerHasGroup(l, name)) return ERR_NAMEUSED;
    return 0;
}

int SetLayerNameInternal(const lvBGPic *b, const char *name, lvLayer *layer)
{
    if (!name || !*name) {
        FreeMemory(layer->name);
        layer->name = nullptr;
        return 0;
    }
    // Renaming a layer to its own name is no clash.
    if (layer->name && strcasecmp(layer->name, name) == 0 && std::strlen(name) < 256) {
        std::strcpy(layer->name, name);
        return 0;
    }
    if (int code = CheckLayerName(b, name)) return code;
    size_t n = std::strlen(name) + 1;
    char *copy = (char *)AllocMemory(n, 0);
    if (!copy) return ERR_MEM;
    std::memcpy(copy, name, n);
    FreeMemory(layer->name);
    layer->name = copy;
    return 0;
}

int CheckGroupName(const lvBGPic *b, const char *name)
{
    if (std::strlen(name) > 64) return ERR_NAMETOOLONG;
    for (lvLayer *l = FirstLayer(b); l; l = NextLayer(l))
        if (l->name && strcasecmp(l->name, name) == 0) return ERR_GROUPNAMEUSED;
    return 0;
}

int AddLayerGroup(const lvBGPic *b, const char *name, lvLayer *layer)
{
    if (int code = CheckGroupName(b, name)) return code;
    if (LayerHasGroup(layer, name)) return 0;
    size_t used = 0;
    for (const char *g = layer->groups; g && *g; g += std::strlen(g) + 1) used += std::strlen(g) + 1;
    size_t n = std::strlen(name) + 1;
    char *list = (char *)AllocMemory(used + n + 1, 0);
    if (!list) return ERR_MEM;
    if (used) std::memcpy(list, layer->groups, used);
    std::memcpy(list + used, name, n);
    list[used + n] = 0;
    FreeMemory(layer->groups);
    layer->groups = list;
    return 0;
}

int IsMergedLayerMember(const lvBGPic *, const lvLayer *) { return 0; }  // merged layers come later

// ---- Records ----------------------------------------------------------------------------------

static void FreeGraphics(lvLayerGraphics *g)
{
    if (!g) return;
    FreeBitmapHandle(g->rgb);
    FreeBitmapHandle(g->mask);
    FreeBitmapHandle(g->alpha);
    FreeBitmapHandle(g->chunky);
    FreeMemory(g->palette);
    if (g->tail && g->freeTail) g->freeTail(g->tail);
    FreeMemory(g);
}

static void FreeImages(const lvLayerImages *i)
{
    if (!i) return;
    FreeBitmapHandle(i->rgb);
    FreeBitmapHandle(i->mask);
    FreeBitmapHandle(i->alpha);
    FreeBitmapHandle(i->chunky);
    FreeMemory(i->palette);
}

void FreeLayerContents(lvState *L, lvLayer *l)
{
    lvLayerGraphics *g0 = l->graphics[0], *g1 = l->graphics[1], *g2 = l->graphics[2];
    if (g2 && g2 != g1 && g2 != g0) FreeGraphics(g2);
    if (g1 && g1 != g0) FreeGraphics(g1);
    FreeGraphics(g0);
    l->graphics[0] = l->graphics[1] = l->graphics[2] = nullptr;
    FreeMemory(l->name);
    FreeMemory(l->groups);
    FreeMemory(l->palette);
    l->name = l->groups = nullptr;
    l->palette = nullptr;
    if (l->userData) {
        lvState *S = L ? L : GetMainVMState();
        if (S) {
            lvRefOps ops = MakeRegistryRefOps(S);
            FreeObjectUserData(&l->userData, &ops);
        } else {
            FreeObjectUserData(&l->userData, nullptr);
        }
    }
}

static void FreeRecord(lvLayer *l)
{
    FreeMemory(l);
    liveLayers--;
}

static bool Identity(const lvMatrix2D &m) { return m.sx == 1 && m.rx == 0 && m.ry == 0 && m.sy == 1; }

int NewLayerRecord(lvState *L, lvBGPic *b, int type, const lvObjectId *source, int x, int y, int width, int height,
                   const lvDrawTags *tags, const lvStyleTags *style, const lvLayerImages *images, lvLayerGraphics *g,
                   int position, int flags, int depth, int transparentPen, lvLayer **out)
{
    lvLayer *l = b ? (lvLayer *)AllocMemory(sizeof(lvLayer), 1) : nullptr;
    if (!g && l) g = (lvLayerGraphics *)AllocMemory(sizeof(lvLayerGraphics), 1);
    if (!l || !g) {
        FreeMemory(l);
        FreeGraphics(g);
        FreeImages(images);
        return b ? ERR_MEM : ERR_NOLAYERS;
    }
    liveLayers++;
    l->depth = depth;
    l->transparentPen = transparentPen;
    if (images) {
        g->rgb = images->rgb, g->mask = images->mask, g->alpha = images->alpha, g->chunky = images->chunky;
        g->palette = images->palette;
    }
    g->x = x, g->y = y;
    g->left = g->savedLeft = x, g->top = g->savedTop = y;
    g->sourceWidth = g->width = width;
    g->sourceHeight = g->height = height;
    l->type = type;
    l->graphics[0] = l->graphics[1] = l->graphics[2] = g;
    auto fail = [&](int code) {
        if (l->next) Unlink(l);
        FreeLayerContents(L, l);
        FreeRecord(l);
        return code;
    };
    lvStyleTags defaults;
    InitStyleTags(&defaults);
    if (style) {
        l->transparency = style->transparency;
        l->globalTransparency = style->globalTransparency;
        l->shadow = style->shadow;
        l->border = style->border;
        std::memcpy(l->filters, style->filters, sizeof l->filters);
        for (int i = 0; i < FILTER_COUNT; i++)
            if (l->filters[i].enabled && IsGeometricFilter(i)) l->geometricFilters = 1;
        l->colourFilters = HasColorFilter(l->filters);
        if (style->hidden) flags |= NEWLAYER_HIDDEN;
        if (style->name[0])
            if (int code = SetLayerNameInternal(b, style->name, l)) return fail(code);
        if (style->group[0])
            if (int code = AddLayerGroup(b, style->group, l)) return fail(code);
        if (style->insertPos > 0) {
            int count = CountLayers(b);
            position = count && style->insertPos > count + 1 ? count + 1 : style->insertPos;
        }
    } else {
        l->shadow = defaults.shadow;
        l->border = defaults.border;
    }
    l->hidden = (flags & NEWLAYER_HIDDEN) ? 1 : 0;
    l->paletteMode = RasterState.paletteMode;
    if (l->paletteMode == PALETTEMODE_PEN && !b->palette) l->paletteMode = PALETTEMODE_REMAP;
    l->drawPen = RasterState.drawPen;
    l->ditherMode = RasterState.ditherMode;
    if (!(flags & NEWLAYER_REPLACE)) g->clipRegion = b->clipRegion;
    b->changed = 1;
    if (tags) {
        l->tags = *tags;
        l->anchorX = tags->anchorX, l->anchorY = tags->anchorY;
        if (type != LAYER_LINE) {
            g->left = g->savedLeft = x - (int)(l->anchorX * width);
            g->top = g->savedTop = y - (int)(l->anchorY * height);
        }
    } else {
        InitDrawTags(&l->tags);
        SetIdentityMatrix(&l->tags.matrix);
        l->anchorX = l->anchorY = 0;
    }
    if (source) l->source = l->undoKey = *source;

    // Link.
    bool onTop = true;
    if (position == 1 && FirstLayer(b)) {
        AddHead(b, l);
        onTop = false;
    } else if (position > 1) {
        lvLayer *before = GetLayerByIndex(b, position - 1);
        if (before && NextLayer(before)) {
            InsertAfter(before, l);
            onTop = false;
        } else {
            AddTail(b, l);
        }
    } else {
        AddTail(b, l);
    }
    if ((flags & NEWLAYER_REPLACE) && NextLayer(l)) {
        lvLayer *old = NextLayer(l);
        l->graphics[0]->clipRegion = old->graphics[0]->clipRegion;
        l->noClipTransform = old->noClipTransform;
        l->button = old->button, old->button = nullptr;
        l->userData = old->userData, old->userData = nullptr;
        l->paletteMode = old->paletteMode, l->drawPen = old->drawPen, l->ditherMode = old->ditherMode;
        if (flags & NEWLAYER_KEEPFILTERS) {
            std::memcpy(l->filters, old->filters, sizeof l->filters);
            l->geometricFilters = old->geometricFilters;
            l->colourFilters = old->colourFilters;
        }
        int oldType = old->type;
        FreeLayerContents(L, old);
        Unlink(old);
        FreeRecord(old);
        if (int f = DetachedFlagOfType(oldType)) FreeDetachedObjects(L, f);
    }
    // The images of a layer that shows an object are fetched from it untransformed: a
    // transform needs its own rendered stage, which only the producers that render their
    // images themselves (shapes, text) bring so far.
    if (!Identity(l->tags.matrix) && (type == LAYER_BRUSH || type == LAYER_BRUSHPART || type == LAYER_BGPICPART))
        return fail(ERR_UNIMPLCMD);
    bool needsRefresh = !onTop || !(flags & NEWLAYER_CALLERREFRESHES) || l->transparency || l->shadow.on ||
                        l->border.on || HasEnabledFilter(l->filters);
    if (needsRefresh && !(flags & (NEWLAYER_NOREFRESH | NEWLAYER_REPLACE)) && !l->hidden) RefreshLayer(L, b, l);
    if (out) *out = l;
    return 0;
}

int AddImageLayerRecord(lvState *L, lvBGPic *b, int type, lvObjectId source, int partX, int partY, int x, int y,
                        int width, int height, const lvDrawTags *tags, const lvStyleTags *style, int position,
                        int flags, lvLayer **out)
{
    auto *g = (lvLayerGraphics *)AllocMemory(sizeof(lvLayerGraphics), 1);
    if (!g) return ERR_MEM;
    g->partX = partX, g->partY = partY;
    return NewLayerRecord(L, b, type, &source, x, y, width, height, tags, style, nullptr, g, position, flags, 0, -1,
                          out);
}

void FreeLayerRecord(lvState *L, lvBGPic *b, lvLayer *l, int noRefresh)
{
    if (!noRefresh) {
        int x, y, w, h;
        GetLayerBounds(l, l->graphics[2], &x, &y, &w, &h);
        int type = l->type;
        l->type = LAYER_NOOBJECT;
        RefreshLayerArea(L, b, x, y, w, h);
        l->type = type;
    }
    int type = l->type;
    FreeLayerContents(L, l);
    Unlink(l);
    FreeRecord(l);
    b->changed = 1;
    FreeDetachedObjects(L, DetachedFlagOfType(type));
}

void FreeLayerList(lvState *L, lvBGPic *b, int freeDetached)
{
    while (lvLayer *l = FirstLayer(b)) {
        if (l->type != LAYER_NOOBJECT) FreeLayerContents(L, l);
        Unlink(l);
        FreeRecord(l);
    }
    b->changed = 1;
    if (freeDetached) FreeDetachedObjects(L, 0x1F);
}

int RemoveLayerByObject(lvState *L, lvBGPic *b, int type, lvObjectId id, int n, int noRefresh)
{
    if (int code = CheckLayerOutput(1)) return code;
    if (n < 1) n = 1;
    for (lvLayer *l = LastLayer(b); l; l = PreviousLayer(l)) {
        if (l->type != type || l->undoKey.number != id.number || l->undoKey.handle != id.handle) continue;
        if (--n) continue;
        if (IsMergedLayerMember(b, l)) return LAYERCODE_MERGEMEMBER;
        FreeLayerRecord(L, b, l, noRefresh);
        return 0;
    }
    return 0;
}

int MoveLayerToPosition(lvBGPic *b, lvLayer *l, int position)
{
    int p = GetLayerIndex(b, l);
    if (p < 0) return 0;
    if (position == 1) {
        if (p == 1) return 0;
        Unlink(l);
        AddHead(b, l);
        return 1;
    }
    if (position == 0) {
        if (!NextLayer(l)) return 0;
        position = CountLayers(b) + 1;
    }
    if (position == p) return 0;
    lvLayer *at = GetLayerByIndex(b, position);
    if (!at) {
        if (!NextLayer(l)) return 0;
        Unlink(l);
        AddTail(b, l);
        return 1;
    }
    Unlink(l);
    if (p < position) InsertAfter(at, l);
    else InsertAfter(at->prev, l);
    return 1;
}

// Whether any of the rectangle lies on the BGPic.
static bool OnPicture(const lvBGPic *b, int x, int y, int w, int h)
{
    return w > 0 && h > 0 && x < b->scaledWidth && y < b->scaledHeight && x + w > 0 && y + h > 0;
}

int SwapLayerPositions(lvState *L, lvBGPic *b, int a, int c)
{
    lvLayer *la = GetLayerByIndex(b, a), *lc = GetLayerByIndex(b, c);
    if (!la || !lc) return ERR_LAYERRANGE;
    if (la == lc) return 0;
    // Exchange the places: a placeholder keeps a's place while it moves.
    lvLayer mark{};
    InsertAfter(la, &mark);
    Unlink(la);
    InsertAfter(lc, la);
    Unlink(lc);
    InsertAfter(&mark, lc);
    Unlink(&mark);
    b->changed = 1;
    int ax, ay, aw, ah, cx, cy, cw, ch;
    GetLayerBounds(la, la->graphics[2], &ax, &ay, &aw, &ah);
    GetLayerBounds(lc, lc->graphics[2], &cx, &cy, &cw, &ch);
    bool aIn = OnPicture(b, ax, ay, aw, ah), cIn = OnPicture(b, cx, cy, cw, ch);
    // A layer off the picture shows nothing, but the one on it has still changed its
    // place against the others: its area is redrawn alone.
    if (aIn && cIn) {
        int x1 = ax < cx ? ax : cx, y1 = ay < cy ? ay : cy;
        int x2 = ax + aw > cx + cw ? ax + aw : cx + cw, y2 = ay + ah > cy + ch ? ay + ah : cy + ch;
        RefreshLayerArea(L, b, x1, y1, x2 - x1, y2 - y1);
    } else if (aIn) {
        RefreshLayerArea(L, b, ax, ay, aw, ah);
    } else if (cIn) {
        RefreshLayerArea(L, b, cx, cy, cw, ch);
    }
    return 0;
}

int CopyLayerRecord(lvState *L, const lvLayer *s, lvLayer *t)
{
    lvLayer *next = t->next, *prev = t->prev;
    lvLayerGraphics *old = t->graphics[0];
    *t = *s;
    t->next = next, t->prev = prev;
    t->button = nullptr, t->name = nullptr, t->groups = nullptr, t->palette = nullptr, t->userData = nullptr;
    t->graphics[0] = t->graphics[1] = t->graphics[2] = nullptr;
    FreeGraphics(old);
    auto *g = (lvLayerGraphics *)AllocMemory(sizeof(lvLayerGraphics), 1);
    if (!g) return ERR_MEM;
    *g = *s->graphics[0];
    g->rgb = g->mask = g->alpha = g->chunky = nullptr;
    g->palette = nullptr;
    g->tail = nullptr, g->freeTail = nullptr;
    t->graphics[0] = t->graphics[1] = t->graphics[2] = g;
    const lvLayerGraphics *sg = s->graphics[0];
    if (sg->tail) return ERR_UNIMPLCMD;  // per-type data is copied by its producer (later)
    lvPictureSet from = {sg->rgb, sg->mask, sg->alpha, sg->chunky, nullptr};
    if (from.rgb || from.chunky || from.alpha) {
        lvPictureSet copy = {};
        if (DuplicateImage(&from, 0, 0, sg->width, sg->height, 0, 0, nullptr, &copy)) return ERR_MEM;
        g->rgb = copy.rgb, g->mask = copy.mask, g->alpha = copy.alpha, g->chunky = copy.chunky;
    }
    if (sg->palette) {
        g->palette = (uint32_t *)AllocMemory(1024, 0);
        if (!g->palette) return ERR_MEM;
        std::memcpy(g->palette, sg->palette, 1024);
    }
    if (s->palette) {
        t->palette = (uint32_t *)AllocMemory(1024, 0);
        if (!t->palette) return ERR_MEM;
        std::memcpy(t->palette, s->palette, 1024);
    }
    if (s->userData) {
        lvState *S = L ? L : GetMainVMState();
        lvRefOps ops = MakeRegistryRefOps(S);
        if (CopyObjectUserData(s->userData, &t->userData, &ops)) return ERR_MEM;
    }
    (void)L;
    return 0;
}

int InsertLayerAt(lvState *L, lvObjectId id, int position, int type, int x, int y, int noDraw, int hidden,
                  int hiddenGiven, lvLayer **out)
{
    if (int code = CheckLayerOutput(1)) return code;
    lvBGPic *b = CurrentLayerBGPic();
    if (!b) return ERR_NOLAYERS;
    if (position < 0) return ERR_INVINSERT;
    int count = CountLayers(b);
    if (position == 0 || position > count + 1) position = count + 1;
    int flags = NEWLAYER_SCALESTAGE | NEWLAYER_CALLERREFRESHES | (hidden ? NEWLAYER_HIDDEN : 0);
    lvLayer *made = nullptr;
    switch (type) {
    case LAYER_BRUSH: {
        lvBrush *brush;
        if (int code = FindBrushById(L, id, &brush, BRUSH_HARDWARE)) return code;
        lvDrawTags tags;
        InitDrawTags(&tags);
        x = ResolveSpecialX(x, brush->width, 0, 0);
        y = ResolveSpecialY(y, brush->height, 0, 0);
        if (int code = AddImageLayerRecord(L, b, LAYER_BRUSH, id, 0, 0, x, y, brush->width, brush->height, &tags,
                                           nullptr, position, flags, &made))
            return code;
        break;
    }
    case LAYER_TEXTOBJECT: {
        lvTextObject *object;
        if (int code = FindTextObjectById(id, &object)) return code;
        const lvTextImage &image = object->image;
        int ax = object->noAdjust ? 0 : image.leftExtension, ay = object->noAdjust ? 0 : image.topExtension;
        // Special coordinates (centre, right, bottom) place the image itself.
        auto special = [](int v) { return v <= -15000 && v >= -105000; };
        x = special(x) ? ResolveSpecialX(x, image.width, 0, 0) : x + ax;
        y = special(y) ? ResolveSpecialY(y, image.height, 0, 0) : y + ay;
        if (int code = AddTextObjectLayerRecord(L, b, id, &image, x, y, nullptr, position, flags, &made)) return code;
        break;
    }
    case LAYER_LAYER: {
        lvLayer *src = GetLayerByIndex(b, id.number);
        if (!src || id.handle) return ERR_LAYERRANGE;
        if (src->type == LAYER_MERGED) return LAYERCODE_MERGED;
        if (!hiddenGiven) hidden = src->hidden;
        auto *g = (lvLayerGraphics *)AllocMemory(sizeof(lvLayerGraphics), 1);
        if (!g) return ERR_MEM;
        if (int code = NewLayerRecord(L, b, LAYER_NOOBJECT, nullptr, 0, 0, 0, 0, nullptr, nullptr, nullptr, g,
                                      position, NEWLAYER_NOREFRESH | NEWLAYER_HIDDEN, 0, -1, &made))
            return code;
        if (int code = CopyLayerRecord(L, src, made)) {
            FreeLayerContents(L, made);
            Unlink(made);
            FreeRecord(made);
            return code;
        }
        made->hidden = hidden ? 1 : 0;
        break;
    }
    default: return ERR_WRONGUSAGE;
    }
    if (!noDraw && !made->hidden) RefreshLayer(L, b, made);
    if (out) *out = made;
    return 0;
}

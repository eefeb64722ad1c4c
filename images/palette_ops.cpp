// palette_ops.cpp - palette operations on images: pens, palette, transparent pen, depth
// and cycle table of a palette image, reached through one view per object type. The
// types are rows of a table (a look-up that fills the view); the types still to come add
// rows. Remapping pixels to other pens (a new palette, or fewer pens) runs through the
// colour quantiser; a BGPic whose pens changed is shown anew by the displays that show it.
//
// Depends on: images/lvbrush.h, images/lvpalette.h, raster/lvquantize.h, runtime/cmdsupport.h.
#include <algorithm>
#include <cstring>

#include "base/lverrors.h"
#include "images/lvbgpic.h"
#include "images/lvbrush.h"
#include "images/lvoffscreen.h"
#include "images/lvpalette.h"
#include "platform/lvplatform.h"
#include "raster/lvquantize.h"
#include "runtime/cmdsupport.h"

namespace {

// What an operation may read and change of its target.
struct lvPaletteView {
    int width, height;
    int *depth;
    uint32_t *pens;
    lvBitMapHandle *penPlane;     // or null
    int *transparentPen;          // or null: the target has none
    lvCycleRange **cycleTable;    // or null
    int *cycleCount;
    lvBGPic *bgpic;               // a BGPic target: its other sets follow the base set
};

// An option of the request's table (0 when there is none).
int Option(lvPaletteOpRequest *r, const char *name, int fallback)
{
    lvState *L = r->state;
    int value = fallback;
    if (L && r->optionsIndex > 0 && GetStackTop(L) >= r->optionsIndex &&
        GetValueType(L, r->optionsIndex) == LV_TTABLE)
        GetFieldInt(L, r->optionsIndex, name, &value);
    return value;
}

int ResolveBrushView(lvPaletteOpRequest *r, int claim, lvPaletteView *v)
{
    if (claim)
        if (int code = CheckActiveBrush(r->id)) return code;
    lvBrush *b;
    if (int code = FindBrushById(r->state, r->id, &b, claim ? BRUSH_MODIFY : 0)) return code;
    if (!b->palette) return ERR_NEEDPALETTEIMAGE;
    *v = {b->width, b->height, &b->depth, b->palette, b->penBitmap, &b->transparentColour, &b->cycleTable,
          &b->cycleCount, nullptr};
    return 0;
}

// A BGPic's pens act on its base set (the others follow it); while a display shows it,
// its pixels stay as they are and it has no transparent pen to change.
int ResolveBGPicView(lvPaletteOpRequest *r, int claim, lvPaletteView *v)
{
    lvBGPic *g;
    if (claim) {
        if (int code = CheckActiveBGPic(r->id)) return code;
        if (int code = FindBGPicForChange(r->state, r->id, &g)) return code;
    } else if (int code = FindBGPicById(r->id, &g, 0)) {
        return code;
    }
    if (!g->palette) return ERR_NEEDPALETTEIMAGE;
    int shown = IsBGPicShown(g);
    int op = r->operation;
    bool changesPixels = op == 4 || op == 6 || (op == 2 && Option(r, "remap", 0));
    if (shown && changesPixels) return ERR_SELECTBGPIC2;
    *v = {g->baseWidth, g->baseHeight, &g->depth, g->palette, g->base.penBitmap,
          shown ? nullptr : &g->transparentColour, (lvCycleRange **)&g->cycleTable, &g->cycleCount, g};
    return 0;
}

int (*displayResolver)(lvObjectId id, lvBGPic **bgpic, lvBGPic **backBuffer);

// The current display while it double-buffers: its back buffer, drawn through the
// back-buffer record. Its pens are those the back buffer is drawn with; it has no
// transparent pen nor cycle table, and only the pens change, never the geometry of its
// pixels. A true-colour back buffer has no pens to work on.
int ResolveBackBufferView(lvPaletteOpRequest *r, lvBGPic *shown, lvBGPic *back, lvPaletteView *v)
{
    if (!back->base.penBitmap || !back->palette) return ERR_BGPICPALETTE;
    int op = r->operation;
    if ((op == 2 && Option(r, "remap", 0)) || op == 5 || op == 6) return ERR_WRONGUSAGE;
    // The plane is of the picture's scaled size: never reach past it.
    lvBitMapHandle *plane = back->base.penBitmap;
    int width = shown ? std::min(shown->baseWidth, plane->width) : plane->width;
    int height = shown ? std::min(shown->baseHeight, plane->height) : plane->height;
    *v = {width, height, &back->depth, back->palette, plane, nullptr, nullptr, nullptr, nullptr};
    return 0;
}

// A display target is the BGPic it shows (the BGPic rules apply) while the display is its
// own output, or the back buffer while the current display double-buffers.
int ResolveDisplayView(lvPaletteOpRequest *r, int claim, lvPaletteView *v)
{
    if (!displayResolver) return ERR_UNIMPLCMD;
    lvBGPic *bgpic = nullptr, *back = nullptr;
    if (int code = displayResolver(r->id, &bgpic, &back)) return code;
    if (!r->id.number && !r->id.handle) {
        if (back) return ResolveBackBufferView(r, bgpic, back, v);
        lvSelectDisplay *d = GetSelectDisplay();
        lvBGPic *out = GetCurrentOutput();
        if (d && out && out == d->selection) {
            if (d->blit.target.kind == OUTPUT_MASK) return ERR_SELECTMASK;
            if (d->blit.target.kind == OUTPUT_ALPHA) return ERR_SELECTALPHACHANNEL;
            if (out->selectedType == SELECT_BRUSH) return ERR_SELECTBRUSH;
            if (out->selectedType == SELECT_ANIM) return ERR_SELECTANIM;
            return ERR_SELECTBG;
        }
    }
    if (!bgpic || !bgpic->palette) return ERR_BGPICPALETTE;
    lvPaletteOpRequest asBGPic = *r;
    asBGPic.id = GetObjectIdOf(&bgpic->header);
    return ResolveBGPicView(&asBGPic, claim, v);
}

struct lvPaletteTargetRow {
    int type;
    int (*resolve)(lvPaletteOpRequest *r, int claim, lvPaletteView *v);
};
const lvPaletteTargetRow TargetRows[] = {
    {LV_TYPE_BGPIC, ResolveBGPicView},
    {LV_TYPE_BRUSH, ResolveBrushView},
    {21, ResolveDisplayView},  // DISPLAY
    {4, nullptr},              // ANIM: lent by its owner
    {22, nullptr},             // LAYER: lent by its owner
};

struct PenPlane {
    uint8_t *pixels = nullptr;
    int rowBytes = 0;
    uintptr_t token = 0;
    PenPlane(lvBitMapHandle *h, int write) { token = h ? GetPlanePixels(h, &pixels, &rowBytes, write) : 0; }
    ~PenPlane() { ReleasePlanePixels(token); }
    PenPlane(const PenPlane &) = delete;
    PenPlane &operator=(const PenPlane &) = delete;
    uint8_t *Row(int y) const { return pixels + (ptrdiff_t)y * rowBytes; }
};

// The pen plane read through its pens becomes pens of the new palette (nearest colours,
// dithered on request) or, without new pens, is quantised to 2^depth colours. The result
// is copied into the target's own plane and pens block, so whatever shares them (the sets
// of a BGPic, a brush's palette view) stays valid; a failure changes nothing.
int RemapImageToPalette(lvPaletteView *v, const uint32_t *newPens, int newDepth, int dither, int newTransparentPen)
{
    if (!v->penPlane) return ERR_WRONGUSAGE;
    uint32_t given[256];
    lvPaletteConversion q = {};
    q.sourcePens = v->penPlane;
    q.sourcePalette = v->pens;
    q.sourceTransparentPen = v->transparentPen ? *v->transparentPen : -1;
    q.width = v->width;
    q.height = v->height;
    q.colourCount = 1 << newDepth;
    q.dither = dither;
    q.value = -1;
    if (newPens) {
        for (int i = 0; i < 256; i++) given[i] = newPens[i] & 0xFFFFFFu;
        q.palette = given;
        q.keepPalette = 1;
    }
    q.wantedTransparentPen = newTransparentPen;
    q.alphaThreshold = QUANT_RUNTHRESHOLD;
    lvBitMapHandle *plane = nullptr;
    uint32_t *palette = nullptr;
    int resultPen = -1;
    q.newPensOut = &plane;
    q.paletteCopyOut = &palette;
    q.transparentPenOut = &resultPen;
    if (int code = MakePaletteBitmap(&q)) return code;
    int code = 0;
    {
        PenPlane to(v->penPlane, 1), from(plane, 0);
        if (!to.token || !from.token) {
            code = ERR_LOCKBMAP;
        } else {
            for (int y = 0; y < v->height; y++) std::memcpy(to.Row(y), from.Row(y), (size_t)v->width);
        }
    }
    FreeBitmapHandle(plane);
    if (!code) {
        for (int i = 0; i < 256; i++) v->pens[i] = palette[i] & 0xFFFFFFu;
        *v->depth = newDepth;
        if (v->transparentPen) *v->transparentPen = resultPen;
    }
    FreeMemory(palette);
    return code;
}

int RunOperation(lvPaletteOpRequest *r, lvPaletteView *v)
{
    int limit = 1 << *v->depth;
    switch (r->operation) {
    case 0:
        if (r->pen < 0 || r->pen >= limit) return ERR_PENRANGE;
        v->pens[r->pen] = r->colour & 0xFFFFFFu;
        return 0;
    case 1:
        if (r->pen < 0 || r->pen >= limit) return ERR_PENRANGE;
        *r->result = (int)v->pens[r->pen];
        return 0;
    case 2: {
        int remap = Option(r, "remap", 0);
        if (!remap && r->depth < *v->depth) return ERR_DEPTHMISMATCH;
        if (remap && (r->depth < 1 || r->depth > 8)) return ERR_DEPTHRANGE;
        lvCycleRange *copy = nullptr;
        int copyCycle = Option(r, "copycycletable", 0) && v->cycleTable;
        if (copyCycle)
            if (int code = DuplicateCycleTable(r->cycleTable, r->cycleCount, &copy)) return code;
        if (remap) {
            if (int code = RemapImageToPalette(v, r->pens, r->depth, Option(r, "dither", 1), r->transparentPen)) {
                FreeMemory(copy);
                return code;
            }
        } else {
            *v->depth = r->depth;
            if (v->transparentPen) *v->transparentPen = r->transparentPen;
            for (int i = 0; i < 256; i++) v->pens[i] = r->pens[i] & 0xFFFFFFu;
        }
        if (copyCycle) {
            FreeMemory(*v->cycleTable);
            *v->cycleTable = copy;
            *v->cycleCount = copy ? r->cycleCount : 0;
        }
        return 0;
    }
    case 3:
        // Both sides of the position are tested: a negative one reads nothing.
        *r->result = -1;
        if (r->x < 0 || r->y < 0 || r->x >= v->width || r->y >= v->height || !v->penPlane) return 0;
        {
            PenPlane p(v->penPlane, 0);
            if (!p.token) return ERR_LOCKBMAP;
            *r->result = p.Row(r->y)[r->x];
        }
        return 0;
    case 4:
        if (r->x < 0 || r->y < 0 || r->x >= v->width || r->y >= v->height || !v->penPlane) return 0;
        if (r->pen < 0 || r->pen >= limit) return ERR_PENRANGE;
        {
            PenPlane p(v->penPlane, 1);
            if (!p.token) return ERR_LOCKBMAP;
            p.Row(r->y)[r->x] = (uint8_t)r->pen;
        }
        return 0;
    case 5:
        if (!v->transparentPen) return ERR_WRONGUSAGE;
        if (r->pen != -1 && (r->pen < 0 || r->pen >= limit)) return ERR_PENRANGE;
        *v->transparentPen = r->pen;
        return 0;
    case 6: {
        if (r->depth < 1 || r->depth > 8) return ERR_DEPTHRANGE;
        int newLimit = 1 << r->depth;
        if (r->depth < *v->depth) {
            if (v->penPlane && Option(r, "remap", 1)) {
                if (int code = RemapImageToPalette(v, nullptr, r->depth, Option(r, "dither", 1), -1)) return code;
            } else if (v->penPlane) {
                int clip = Option(r, "clippen", 0);
                if (clip < 0 || clip >= newLimit) return ERR_PENRANGE;
                PenPlane p(v->penPlane, 1);
                if (!p.token) return ERR_LOCKBMAP;
                for (int y = 0; y < v->height; y++)
                    for (int x = 0; x < v->width; x++)
                        if (p.Row(y)[x] >= newLimit) p.Row(y)[x] = (uint8_t)clip;
            } else {
                if (v->transparentPen && *v->transparentPen != -1 && *v->transparentPen >= newLimit)
                    return ERR_PENRANGE;
                for (int i = 0; v->cycleTable && i < *v->cycleCount; i++)
                    if ((*v->cycleTable)[i].low >= newLimit || (*v->cycleTable)[i].high >= newLimit)
                        return ERR_PENRANGE;
            }
        } else {
            for (int i = limit; i < newLimit; i++) v->pens[i] = 0;
        }
        *v->depth = r->depth;
        return 0;
    }
    case 7:
        if (!v->cycleTable) return ERR_WRONGUSAGE;
        for (int i = 0; i < r->cycleCount; i++)
            if (r->cycleTable[i].low >= limit || r->cycleTable[i].high >= limit) return ERR_PENRANGE;
        FreeMemory(*v->cycleTable);
        *v->cycleTable = r->cycleTable;
        *v->cycleCount = r->cycleCount;
        r->cycleTable = nullptr;  // taken over
        return 0;
    case 8: {
        if (!v->penPlane) return ERR_WRONGUSAGE;
        uint8_t used[256] = {};
        {
            PenPlane p(v->penPlane, 0);
            if (!p.token) return ERR_LOCKBMAP;
            for (int y = 0; y < v->height; y++)
                for (int x = 0; x < v->width; x++) used[p.Row(y)[x]] = 1;
        }
        *r->result = -1;
        for (int i = 0; i < 256; i++)
            if (!used[i]) {
                *r->result = i;
                break;
            }
        return 0;
    }
    default: return ERR_WRONGUSAGE;
    }
}

// An anim frame or a layer: the picture its owner lends, with the owner's own pens, pen
// plane, depth and transparent pen; neither has a cycle table. The owner shows the change.
int LentPaletteOperation(lvPaletteOpRequest *r, int claim)
{
    int frame = Option(r, "frame", 1);
    lvObjectPicture picture;
    if (int code = FindObjectPicture(r->state, r->type, r->id, frame, claim ? PICTURE_CLAIM : 0, &picture))
        return code;
    struct Lent {
        int type;
        lvObjectPicture *picture;
        ~Lent() { ReleaseObjectPicture(type, picture); }
    } lent = {r->type, &picture};
    if (!picture.palette || !picture.depthField) return ERR_NEEDPALETTEIMAGE;
    lvPaletteView v = {picture.width, picture.height, picture.depthField, picture.palette, picture.pens,
                       picture.transparentField, nullptr, nullptr, nullptr};
    if (int code = RunOperation(r, &v)) return code;
    int op = r->operation;
    bool pixels = op == 4 || op == 6 || (op == 2 && Option(r, "remap", 0));
    bool pens = op == 0 || op == 5 || op == 2;
    const lvObjectPictureSource *source = GetObjectPictureSource(r->type);
    if ((pixels || pens) && source && source->Changed)
        source->Changed(source->context, r->state, r->id, frame, pixels ? 1 : 0);
    return 0;
}

}  // namespace

int ImagePaletteOperation(lvPaletteOpRequest *r)
{
    int op = r->operation;
    int claim = op == 0 || op == 2 || op == 4 || op == 5 || op == 6;
    for (const lvPaletteTargetRow &row : TargetRows) {
        if (row.type != r->type) continue;
        if (!row.resolve) return LentPaletteOperation(r, claim);
        lvPaletteView v;
        if (int code = row.resolve(r, claim, &v)) return code;
        int code = RunOperation(r, &v);
        bool remapped = op == 2 && Option(r, "remap", 0);
        if (!code && v.bgpic && (op == 4 || op == 6 || remapped)) code = RescaleBGPicFromBase(v.bgpic);
        // Only the pens changed: the displays that show the BGPic take them.
        if (!code && v.bgpic && (op == 0 || op == 5 || (op == 2 && !remapped)))
            NotifyBGPicPensChanged(r->state, v.bgpic);
        return code;
    }
    return ERR_UNIMPLCMD;
}

void InstallImagePaletteOperations(void) { SetPaletteOperationHook(ImagePaletteOperation); }

void SetPaletteDisplayResolver(int (*resolve)(lvObjectId id, lvBGPic **bgpic, lvBGPic **backBuffer))
{
    displayResolver = resolve;
}

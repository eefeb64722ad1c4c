// brush_convert.cpp - brushes made from the pictures of other objects, and BGPics made
// from brushes. The source types are rows of one table (a look-up that fills the
// source's picture); the object types still to come add rows. Everything the new object
// holds is a copy; only an image source is shared, with its reference raised.
//
// Depends on: images/lvbrush.h, images/lvbgpic.h, images/lvpalette.h, raster/lvimage.h.
#include <cmath>
#include <cstdint>
#include <cstring>

#include "base/lverrors.h"
#include "images/lvbgpic.h"
#include "images/lvbrush.h"
#include "images/lvimagecmd.h"
#include "runtime/cmdsupport.h"
#include "images/lvpalette.h"
#include "platform/lvplatform.h"
#include "raster/lvimage.h"
#include "images/lveffects.h"
#include "raster/lvplanes.h"
#include "raster/lvraster.h"
#include "runtime/errors.h"

namespace {

// The picture of a source object as the conversion reads it (nothing owned).
struct lvSourcePicture {
    lvPictureSet set;
    int width, height, depth, transparentColour;
    const uint32_t *palette;
    const lvCycleRange *cycleTable;
    int cycleCount;
    void *loader;
    lvImageSource *imageSource;  // only with "vector"
    int transformed;
    const char *formatName = nullptr;  // BGPicToBrush only
};

int BrushSource(lvState *L, lvObjectId id, int, int vector, lvSourcePicture *p)
{
    lvBrush *b;
    if (int code = FindBrushById(L, id, &b, 0)) return code;
    *p = {{b->bitmap, b->mask, b->alpha, b->penBitmap, nullptr}, b->width, b->height, b->depth,
          b->transparentColour, b->palette, b->cycleTable, b->cycleCount, b->loader, nullptr, 0};
    if (vector && b->kind == 1) p->imageSource = b->imageSource, p->transformed = b->transformed;
    return 0;
}

// vector 2 is BGPicToBrush: a vector BGPic at its base size keeps its image source. The
// conversion commands always copy the scaled bitmaps.
int BGPicSource(lvState *, lvObjectId id, int, int vector, lvSourcePicture *p)
{
    lvBGPic *g;
    if (int code = FindBGPicById(id, &g, 0)) return code;
    *p = {{g->scaled.bitmap, g->scaled.mask, g->scaled.alpha, g->scaled.penBitmap, nullptr}, g->scaledWidth,
          g->scaledHeight, g->depth, g->transparentColour, g->palette, (const lvCycleRange *)g->cycleTable,
          g->cycleCount, g->loader, nullptr, 0};
    if (vector == 2) {
        p->formatName = g->formatName;
        if (g->type == 1 && g->imageSource) p->imageSource = (lvImageSource *)g->imageSource;
    }
    return 0;
}

// ---- Objects of other subsystems ----

struct lvPictureSourceSlot {
    int type;
    lvObjectPictureSource source;
    int installed;
};
lvPictureSourceSlot PictureSources[] = {{4, {}, 0}, {8, {}, 0}, {22, {}, 0}};

lvPictureSourceSlot *PictureSlot(int type)
{
    for (lvPictureSourceSlot &slot : PictureSources)
        if (slot.type == type) return &slot;
    return nullptr;
}

// The lookup error of a type whose owner has installed nothing: no such object exists.
int MissingSourceError(int type, lvObjectId id)
{
    if (type == 22) return ERR_NOLAYERS;
    if (id.handle) return ERR_FINDARRAY;
    SetErrorNumberArg(id.number);
    return type == 4 ? ERR_FINDANIM : ERR_FINDTEXTOBJECT;
}

}  // namespace

void SetObjectPictureSource(int type, const lvObjectPictureSource *source)
{
    lvPictureSourceSlot *slot = PictureSlot(type);
    if (!slot) return;
    slot->source = source ? *source : lvObjectPictureSource{};
    slot->installed = source != nullptr;
}

const lvObjectPictureSource *GetObjectPictureSource(int type)
{
    lvPictureSourceSlot *slot = PictureSlot(type);
    return slot && slot->installed ? &slot->source : nullptr;
}

int FindObjectPicture(lvState *L, int type, lvObjectId id, int frame, int flags, lvObjectPicture *out)
{
    *out = {};
    out->transparent = -1;
    if (type == 22) {
        // Layers belong to the current display's picture.
        lvBlitDisplay *display = RasterState.currentDisplay;
        if (!display || !display->layers) return ERR_NOLAYERS;
    }
    const lvObjectPictureSource *source = GetObjectPictureSource(type);
    if (!source || !source->Find || !source->Picture) return MissingSourceError(type, id);
    int frames = 0;
    if (int code = source->Find(source->context, L, id, (flags & PICTURE_CLAIM) != 0, &frames)) return code;
    if (frames > 0 && (frame < 1 || frame > frames)) return ERR_ANIMFRAME;
    if (int code = source->Picture(source->context, L, id, frames > 0 ? frame : 1, flags, out)) {
        ReleaseObjectPicture(type, out);
        return code;
    }
    return 0;
}

void ReleaseObjectPicture(int type, lvObjectPicture *picture)
{
    const lvObjectPictureSource *source = GetObjectPictureSource(type);
    if (source && source->Release) source->Release(source->context, picture);
    *picture = {};
}

namespace {

// An anim frame, a text object or a layer: a copy of the picture the owner lends (given
// back after the copy). A layer whose picture has a mask reads 0x123456 as its transparent
// colour; the copy's mask is what keeps it transparent.
struct lvLentPicture {
    int type = 0;
    lvObjectPicture picture = {};
    bool taken = false;
    ~lvLentPicture()
    {
        if (taken) ReleaseObjectPicture(type, &picture);
    }
};

int LentSource(lvState *L, int type, lvObjectId id, int frame, int vector, lvLentPicture *lent, lvSourcePicture *p)
{
    lent->type = type;
    if (int code = FindObjectPicture(L, type, id, frame, vector ? PICTURE_VECTOR : 0, &lent->picture)) return code;
    lent->taken = true;
    const lvObjectPicture &o = lent->picture;
    *p = {{o.rgb, o.mask, o.alpha, o.pens, nullptr}, o.width, o.height, o.depth, o.transparent, o.palette,
          nullptr, 0, o.loader, vector ? o.imageSource : nullptr, vector ? o.transformed : 0};
    if (type == 22 && o.mask) p->transparentColour = 0x123456;
    return 0;
}

// The types a brush is made from; the lent types' pictures come from their owners.
struct lvBrushSourceRow {
    int type;
    int (*picture)(lvState *L, lvObjectId id, int frame, int vector, lvSourcePicture *p);
    int lent;
};
const lvBrushSourceRow SourceRows[] = {
    {LV_TYPE_BGPIC, BGPicSource, 0},
    {LV_TYPE_BRUSH, BrushSource, 0},
    {4, nullptr, 1},   // ANIM
    {8, nullptr, 1},   // TEXTOBJECT
    {22, nullptr, 1},  // LAYER
};

// Copies of the planes, the palette and the cycle table; all or nothing.
struct lvPictureCopy {
    lvPictureSet set = {};
    uint32_t *palette = nullptr;
    lvCycleRange *cycleTable = nullptr;
    ~lvPictureCopy()
    {
        FreeBitmapSet(&set.rgb, &set.mask, &set.alpha, &set.chunky, &set.palette);
        FreeMemory(palette);
        FreeMemory(cycleTable);
    }
    int Make(const lvPictureSet &source, int width, int height, const uint32_t *pens, const lvCycleRange *cycle,
             int cycleCount, int x = 0, int y = 0)
    {
        lvPictureSet s = source;
        s.palette = nullptr;
        if (int code = DuplicateImage(&s, x, y, width, height, 0, 0, nullptr, &set)) return code;
        if (pens) {
            if (!(palette = (uint32_t *)AllocMemory(1024, 0))) return ERR_MEM;
            std::memcpy(palette, pens, 1024);
        }
        if (cycle && cycleCount > 0)
            if (int code = DuplicateCycleTable(cycle, cycleCount, &cycleTable)) return code;
        return 0;
    }
    void Release() { set = {}, palette = nullptr, cycleTable = nullptr; }
};

}  // namespace

int ConvertObjectToBrush(lvState *L, int type, lvObjectId source, lvObjectId *id, int frame, int vector)
{
    const lvBrushSourceRow *row = nullptr;
    for (const lvBrushSourceRow &r : SourceRows)
        if (r.type == type) row = &r;
    if (!row) return ERR_WRONGUSAGE;
    if (type == LV_TYPE_BRUSH && id->number == source.number && !id->handle && !source.handle && id->number)
        return ERR_WRONGUSAGE;
    if (id->number && !id->handle)
        if (int code = ReleaseBrushRecord(L, *id, 0)) return code;
    lvSourcePicture p;
    lvLentPicture lent;
    if (row->lent) {
        if (int code = LentSource(L, type, source, frame, vector, &lent, &p)) return code;
    } else if (int code = row->picture(L, source, frame, vector, &p)) {
        return code;
    }
    lvPictureCopy copy;
    if (int code = copy.Make(p.set, p.width, p.height, p.palette, p.cycleTable, p.cycleCount, lent.picture.x,
                             lent.picture.y))
        return code;
    int depth = p.depth, transparent = p.transparentColour;
    // An alpha channel alone gets a bitmap of the colour the source gave as transparent.
    if (!copy.set.rgb && !copy.set.chunky && copy.set.alpha) {
        if (!(copy.set.rgb = AllocRgbBitmap(p.width, p.height, 0, nullptr))) return ERR_BITMAP;
        FillBitmapRect(copy.set.rgb, 0, 0, p.width, p.height, (uint32_t)transparent);
        transparent = -1, depth = 32;
    }
    lvImageSource *imageSource = p.imageSource ? RetainImageSource(p.imageSource) : nullptr;
    lvBrush *made;
    int code = NewBrushRecord(id, imageSource ? 1 : 0, p.width, p.height, p.width, p.transformed, imageSource,
                              copy.set.rgb, transparent, copy.set.mask, copy.set.alpha, copy.set.chunky, depth,
                              copy.palette, nullptr, copy.cycleTable, copy.cycleTable ? p.cycleCount : 0,
                              p.formatName, &made);
    if (code) {
        if (imageSource) ReleaseImageSource(imageSource);
        return code;
    }
    copy.Release();
    made->loader = p.loader;
    return 0;
}

int BGPicToBrushRecord(lvState *L, lvObjectId source, lvObjectId *id)
{
    lvBGPic *g;
    if (int code = FindBGPicById(source, &g, 0)) return code;
    if (g->type == 1 && (g->scaledWidth != g->baseWidth || g->scaledHeight != g->baseHeight)) return ERR_TFVBGPICBRUSH;
    return ConvertObjectToBrush(L, LV_TYPE_BGPIC, source, id, 1, 2);
}

int BrushToBGPicRecord(lvState *L, lvObjectId brushId, lvObjectId *id)
{
    lvBrush *b;
    if (int code = FindBrushById(L, brushId, &b, 0)) return code;
    if (b->kind == 1 && b->transformed) return ERR_TFVBRUSHBGPIC;
    if (id->number && !id->handle)
        if (int code = ReleaseBGPicRecord(L, *id, 0)) return code;
    if (int code = FindBrushById(L, brushId, &b, 0)) return code;
    lvPictureCopy copy;
    lvPictureSet planes = {b->bitmap, b->mask, b->alpha, b->penBitmap, nullptr};
    if (int code = copy.Make(planes, b->width, b->height, b->palette, b->cycleTable, b->cycleCount)) return code;
    lvImageSource *imageSource = b->kind == 1 && b->imageSource ? RetainImageSource(b->imageSource) : nullptr;
    int code = NewBGPicRecord(id, imageSource ? 1 : 0, b->width, b->height, b->width, imageSource, copy.set.rgb,
                              nullptr, b->transparentColour, copy.set.mask, copy.set.alpha, copy.set.chunky, b->depth,
                              copy.palette, nullptr, copy.cycleTable, copy.cycleTable ? b->cycleCount : 0,
                              b->formatName, nullptr);
    if (code) {
        if (imageSource) ReleaseImageSource(imageSource);
        return code;
    }
    copy.Release();
    return 0;
}

int MakeShadowOrBorderBrush(lvState *L, int shadow, lvObjectId source, lvObjectId *id, uint32_t colour, double size,
                            double softness)
{
    // Written so that NaN is refused as well.
    if (!(size >= 1) || !std::isfinite(size) || !std::isfinite(softness)) return ERR_WRONGUSAGE;
    if (id->number && !id->handle && !source.handle && id->number == source.number) return ERR_WRONGUSAGE;
    if (id->number && !id->handle)
        if (int code = ReleaseBrushRecord(L, *id, 0)) return code;
    lvBrush *b;
    if (int code = FindBrushById(L, source, &b, 0)) return code;
    int opacity = 255 - (int)(colour >> 24);
    // A growth no bitmap can hold is refused before it is turned into an integer.
    if (size > INT32_MAX / 4) return ERR_BITMAP;
    int grow = (int)size;
    int64_t width64 = (int64_t)b->width + 2 * (int64_t)grow, height64 = (int64_t)b->height + 2 * (int64_t)grow;
    if (width64 > INT32_MAX / 4 || height64 > INT32_MAX / 4 || width64 * height64 > INT32_MAX / 4) return ERR_BITMAP;
    int width = (int)width64, height = (int)height64;
    lvBitMapHandle *rgb = AllocRgbBitmap(width, height, 0, nullptr);
    if (!rgb) return ERR_BITMAP;
    FillBitmapRect(rgb, 0, 0, width, height, 0xFF000000u | (colour & 0xFFFFFFu));
    bool transparentSource = b->alpha || b->mask || (b->penBitmap && b->transparentColour >= 0);
    lvBitMapHandle *alpha = nullptr;
    if (shadow || transparentSource) {
        alpha = BuildShadowMask(b->alpha, b->mask, b->penBitmap, b->penBitmap ? b->transparentColour : -1, 0, 0,
                                b->width, b->height, size, softness, shadow ? opacity : 255, !shadow, grow >= 4);
        if (!alpha) {
            FreeBitmapHandle(rgb);
            return ERR_MEM;
        }
        if (!shadow && opacity < 255) ScaleAlphaPlane(alpha, alpha, width, height, opacity);
    }
    int code = NewBrushRecord(id, 0, width, height, width, 0, nullptr, rgb, -1, nullptr, alpha, nullptr,
                              alpha ? 32 : 24, nullptr, nullptr, nullptr, 0, nullptr, nullptr);
    if (code) {
        FreeBitmapHandle(rgb);
        FreeBitmapHandle(alpha);
    }
    return code;
}

// ---- Vector paths ---------------------------------------------------------------------------

static lvPathBrushMaker pathBrushMaker;
void SetPathBrushMaker(lvPathBrushMaker maker) { pathBrushMaker = maker; }
int HavePathBrushMaker(void) { return pathBrushMaker != nullptr; }

int PathBrushCommand(lvState *L, int listIndex, int newIndex)
{
    if (!pathBrushMaker) return ERR_UNIMPLCMD;
    int isNil = 0;
    int number = GetIntArgOrNil(L, newIndex, &isNil);
    lvObjectId id = {isNil ? 0 : number, nullptr};
    if (int code = pathBrushMaker(L, listIndex, &id)) return code;
    return FinishNewObject(L, id);
}

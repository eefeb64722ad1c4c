// drawobject.cpp - drawing a brush (or a part of one, or a part of a BGPic) with draw tags onto the current
// output: the look-up, the tags, the position with special coordinates and the anchor,
// then the transform, the filters and the transparency on private copies, and the blit.
// The object types are rows of one table; the types still to come add rows.
//
// Depends on: images/lvbrush.h, images/lvbgpic.h, images/lvoffscreen.h, raster/lvblit.h,
// raster/lvdrawtags.h, raster/lvfilterchain.h, raster/lvimage.h, raster/lvscale.h.
#include <cstring>

#include "base/lverrors.h"
#include "images/lvbgpic.h"
#include "images/lvbrush.h"
#include "images/lvoffscreen.h"
#include "raster/lvblit.h"
#include "raster/lvdrawtags.h"
#include "raster/lvfilterchain.h"
#include "raster/lvimage.h"
#include "raster/lvrect.h"
#include "raster/lvscale.h"

namespace {

// The picture an object offers for drawing (nothing owned).
struct lvDrawPicture {
    lvPictureSet set;
    int width, height;        // the whole object
    int depth, transparentPen;
    int hardware;
};

int BrushPicture(lvState *L, const lvDrawObjectRequest *q, lvDrawPicture *p)
{
    lvBrush *b;
    if (int code = FindBrushById(L, q->id, &b, BRUSH_HARDWARE)) return code;
    // A video bitmap belongs to the display it was made for.
    const lvBlitDisplay *current = RasterState.currentDisplay;
    if (b->hardware && b->display && current && b->display != current->owner) return ERR_INCOMPATBRUSH;
    if (q->type == LV_TYPE_BRUSHPART && b->kind == 1 && b->imageSource && b->transformed) return ERR_BRUSHTYPE;
    *p = {{b->bitmap, b->mask, b->alpha, b->penBitmap, b->palette}, b->width, b->height,
          b->penBitmap ? b->depth : 0, b->penBitmap ? b->transparentColour : -1, b->hardware};
    return 0;
}

// A BGPic part: the identifier -1 names the current display's own BGPic. The copy
// with layers is the BGPic itself while no layer engine keeps layers on it.
int BGPicPartPicture(lvState *, const lvDrawObjectRequest *q, lvDrawPicture *p)
{
    lvBGPic *b = nullptr;
    if (q->id.number == -1 && !q->id.handle) {
        const lvBlitDisplay *display = RasterState.currentDisplay;
        b = display && display->picture ? (lvBGPic *)display->picture->owner : nullptr;
        if (!b) return ERR_OUTPUTDEVICE;
    } else if (int code = FindBGPicById(q->id, &b, 0)) {
        return code;
    }
    const lvBGPicSet &s = b->scaled;
    *p = {{s.bitmap, s.mask, s.alpha, s.penBitmap, b->palette}, b->scaledWidth, b->scaledHeight,
          s.penBitmap ? b->depth : 0, s.penBitmap ? b->transparentColour : -1, 0};
    return 0;
}

struct lvDrawObjectRow {
    int type;
    int (*picture)(lvState *L, const lvDrawObjectRequest *q, lvDrawPicture *p);
    int part;  // source position and size come from the request
};
const lvDrawObjectRow DrawRows[] = {
    {LV_TYPE_BRUSH, BrushPicture, 0},
    {LV_TYPE_BRUSHPART, BrushPicture, 1},
    {LV_TYPE_BGPICPART, BGPicPartPicture, 1},
};

// Planes made for this draw only; freed at the end whatever happens.
struct PrivatePlanes {
    lvPictureSet set = {};
    bool made = false;
    ~PrivatePlanes() { FreeBitmapSet(&set.rgb, &set.mask, &set.alpha, &set.chunky, nullptr); }
    void Take(const lvPictureSet &s)
    {
        FreeBitmapSet(&set.rgb, &set.mask, &set.alpha, &set.chunky, nullptr);
        set = s;
        made = true;
    }
};

bool IsIdentity(const lvMatrix2D &m) { return m.sx == 1 && m.rx == 0 && m.ry == 0 && m.sy == 1; }

}  // namespace

int DrawObjectWithTags(lvState *L, const lvDrawObjectRequest *q)
{
    lvBlitDisplay *display = RasterState.currentDisplay;
    if (!display) return ERR_OUTPUTDEVICE;
    const lvDrawObjectRow *row = nullptr;
    for (const lvDrawObjectRow &r : DrawRows)
        if (r.type == q->type) row = &r;
    if (!row) return ERR_WRONGUSAGE;
    lvDrawPicture p;
    if (int code = row->picture(L, q, &p)) return code;
    if (!CheckTargetDepth(p.set.chunky ? 1 : 0, p.depth)) return ERR_DEPTHMISMATCH;
    lvBGPic *output = GetCurrentOutput();
    int targetWidth = output ? output->scaledWidth : display->picture ? display->picture->width : 0;
    int targetHeight = output ? output->scaledHeight : display->picture ? display->picture->height : 0;

    lvDrawTags tags;
    lvStyleTags style;
    std::memset(&tags, 0, sizeof tags);
    std::memset(&style, 0, sizeof style);
    if (q->tags && q->style) {
        tags = *q->tags;
        style = *q->style;
    } else if (int code = ParseDrawTags(L, q->tagsIndex, p.width, p.height, p.width, p.height, 0, &tags, &style,
                                 DRAWTAGS_FROMTEMPLATE | (q->tagsIndex ? DRAWTAGS_NEEDTABLE : 0)))
        return code;

    // The part of the object drawn.
    int sx = 0, sy = 0, width = p.width, height = p.height;
    if (row->part) {
        sx = ResolveSpecialX(q->sourceX, q->width, p.width, 0);
        sy = ResolveSpecialY(q->sourceY, q->height, p.height, 0);
        if (sx < 0 || sy < 0) return ERR_NEGCOORDS;
        if (sx >= p.width || sy >= p.height) return ERR_COORDSRANGE;
        width = q->width < p.width - sx ? q->width : p.width - sx;
        height = q->height < p.height - sy ? q->height : p.height - sy;
    }
    if (width < 1 || height < 1) return ERR_BADDIMENSIONS;
    int x = ResolveSpecialX(q->x, width, 0, tags.anchorX), y = ResolveSpecialY(q->y, height, 0, tags.anchorY);

    if (display->target.kind != OUTPUT_DISPLAY)
        if (int code = CheckRedirectTarget(L)) return code;
    bool filters = HasEnabledFilter(style.filters) != 0;
    int transparency = style.transparency;
    if (display->layers) {
        const lvImageLayerServices *layers = GetImageLayerServices();
        if (!layers || !layers->AddImageLayer) return ERR_UNIMPLCMD;
        int drawn = 0;
        if (int code = layers->AddImageLayer(layers->context, L, q->type, q->id, sx, sy, x, y, width, height, &tags,
                                             &style, &drawn))
            return code;
        if (drawn || !IsIdentity(tags.matrix) || filters || transparency > 0 || style.needsStyle) return 0;
    }

    lvPictureSet use = p.set;
    PrivatePlanes own;
    int drawX = x, drawY = y, drawWidth = width, drawHeight = height, useX = sx, useY = sy;
    int pictureWidth = p.width, pictureHeight = p.height;
    // A hardware brush on a display that draws it itself keeps its video bitmap: the
    // transform (and the transparency) travel to the display in a record. The output is
    // then the display itself, or while it double-buffers the back buffer the adapter
    // keeps (an image target without pixels of ours), never a selection made meanwhile.
    const lvDrawTarget &drawn = display->target;
    bool displayDraws = p.hardware && display->hardwareDoubleBuffer &&
                        (drawn.kind == OUTPUT_DISPLAY ||
                         (display->doubleBufferActive && drawn.kind == OUTPUT_IMAGE && drawn.hardware && !drawn.bitmap));
    // What a hardware source cannot have is refused before any pixels are read back.
    bool displayFades = displayDraws && (QueryBitmapCaps(0x400) & 0x400);
    if (p.hardware && (filters || (transparency > 0 && !displayFades))) return ERR_HWBRUSHFUNC;
    lvHardwareTransform hardware = {};
    bool useHardware = false;
    if (displayDraws && !IsIdentity(tags.matrix) && (QueryBitmapCaps(0x200) & 0x200)) {
        double anchor[2] = {tags.anchorX, tags.anchorY};
        int bx, by, bw, bh;
        TransformRectBounds(x, y, 0, 0, width, height, width, height, anchor, &tags.matrix, &bx, &by, &bw, &bh,
                            nullptr);
        hardware = {{tags.matrix.sx, tags.matrix.rx, tags.matrix.ry, tags.matrix.sy}, tags.anchorX, tags.anchorY,
                    255, bw, bh};
        drawX = bx, drawY = by;
        useHardware = true;
    } else if (!IsIdentity(tags.matrix)) {
        double anchor[2] = {tags.anchorX, tags.anchorY};
        lvImageSetOut out = {};
        if (int code = TransformImageSet(L, TRANSFORM_PICTURE, nullptr, use.rgb, use.mask, use.alpha, use.chunky, sx,
                                         sy, x, y, width, height, anchor, &tags.matrix, tags.smoothScale,
                                         p.transparentPen, nullptr, &out))
            return code;
        own.Take({out.rgb, out.mask, out.alpha, out.pens, nullptr});
        use = {out.rgb, out.mask, out.alpha, out.pens, p.set.palette};
        drawX = out.x, drawY = out.y, drawWidth = pictureWidth = out.width, drawHeight = pictureHeight = out.height;
        useX = useY = 0;
    }
    if (transparency > 0 && use.chunky) return ERR_NOPALETTEIMAGE;
    // A picture the runtime turned itself is a private plain copy: it fades here.
    if (transparency > 0 && p.hardware && !own.made) {
        if (!useHardware) {
            hardware = {{1, 0, 0, 1}, tags.anchorX, tags.anchorY, 255, width, height};
            useHardware = true;
        }
        hardware.transparency = 255 - transparency;
        transparency = 0;  // the display applies it
    }
    if ((filters || transparency > 0) && !own.made) {
        lvPictureSet source = {use.rgb, use.mask, use.alpha, use.chunky, nullptr}, copy = {};
        if (int code = DuplicateImage(&source, useX, useY, drawWidth, drawHeight, 0, 0, nullptr, &copy)) return code;
        own.Take(copy);
        use = {copy.rgb, copy.mask, copy.alpha, copy.chunky, p.set.palette};
        useX = useY = 0;
        pictureWidth = drawWidth, pictureHeight = drawHeight;
    }
    if (filters)
        ApplyFilterChain(style.filters, use.rgb, use.mask, use.alpha, use.chunky, use.palette, drawWidth, drawHeight,
                         0);
    if (transparency > 0) {
        lvBitMapHandle *alpha = own.set.alpha, *mask = own.set.mask;
        if (int code = ApplyTransparencyToAlpha(&alpha, &mask, drawWidth, drawHeight, 255 - transparency))
            return code;
        own.set.alpha = use.alpha = alpha;
        own.set.mask = use.mask = mask;
    }
    // The anchor point lands on the position: the picture moves back by the anchor's
    // share of the part's size before any transform (a transform turned the picture
    // about that point). A display drawing a hardware source moves it itself.
    if (!useHardware) {
        drawX -= (int)(width * tags.anchorX);
        drawY -= (int)(height * tags.anchorY);
    }
    lvDrawTarget *target = &display->target;
    lvBitMapHandle *targetRgb = target->kind != OUTPUT_DISPLAY ? target->bitmap : nullptr;
    lvBitMapHandle *targetChunky = target->kind != OUTPUT_DISPLAY && !targetRgb ? target->paletteBitmap : nullptr;
    if (!output && (targetRgb || targetChunky)) {
        targetWidth = (targetRgb ? targetRgb : targetChunky)->width;
        targetHeight = (targetRgb ? targetRgb : targetChunky)->height;
    }
    if (useHardware) {
        lvBlitRequest r = {};
        r.state = L;
        r.sourceRgb = use.rgb, r.sourceX = useX, r.sourceY = useY;
        r.targetX = drawX, r.targetY = drawY, r.width = drawWidth, r.height = drawHeight;
        r.sourceWidth = pictureWidth, r.sourceHeight = pictureHeight;
        r.targetWidth = targetWidth, r.targetHeight = targetHeight;
        r.flags = BLIT_RECOMPOSE | BLIT_BACKGROUND | BLIT_HARDWARE;
        r.mask = use.mask, r.alpha = use.alpha, r.sourceChunky = use.chunky, r.sourcePalette = use.palette;
        r.transparent = p.transparentPen;
        r.paletteMode = r.pen = r.ditherMode = -1;
        r.clipRegion = output ? output->clipRegion : nullptr;
        r.transform = &hardware;
        BlitImageRequest(&r);
        return 0;
    }
    BlitImage(L, use.rgb, useX, useY, targetRgb, targetChunky, targetChunky ? target->palette : nullptr,
              targetChunky ? target->depth : 0, drawX, drawY, drawWidth, drawHeight, pictureWidth, pictureHeight,
              targetWidth, targetHeight, BLIT_RECOMPOSE | BLIT_BACKGROUND | BLIT_HARDWARE, use.mask, use.alpha,
              use.chunky, use.palette, p.transparentPen, -1, -1, -1, output ? output->clipRegion : nullptr, nullptr);
    return 0;
}

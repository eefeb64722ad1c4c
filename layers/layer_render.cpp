// layer_render.cpp - what a layer shows and where: its images (fetched from the object it
// shows, or its own), its bounds with border and shadow, the pass that composes the layer
// stack over the background into a rectangle, and the refreshes of layer changes.
//
// Depends on: layers/lvlayer.h, images/ (brushes, BGPics, the selection display),
// raster/ (blit, planes).
// Limits: script thread only.
#include <cstring>

#include "base/lverrors.h"
#include "images/lvbrush.h"
#include "images/lvoffscreen.h"
#include "layers/lvlayer.h"
#include "raster/lvblit.h"
#include "raster/lvplanes.h"
#include "raster/lvrect.h"

int GetLayerImage(lvState *L, const lvLayer *l, const lvLayerGraphics *g, lvLayerPicture *out)
{
    *out = {};
    out->transparentPen = -1;
    out->width = g->width, out->height = g->height;
    switch (l->type) {
    case LAYER_NOOBJECT: return ERR_WRONGUSAGE;
    case LAYER_BRUSH:
    case LAYER_BRUSHPART: {
        if (g->rgb || g->chunky) break;  // a private image of this stage
        lvBrush *b;
        if (int code = FindBrushById(L, l->source, &b, BRUSH_DETACHED | BRUSH_HARDWARE)) return code;
        out->rgb = b->bitmap, out->mask = b->mask, out->alpha = b->alpha, out->chunky = b->penBitmap;
        out->palette = b->palette;
        out->depth = b->penBitmap ? b->depth : 0;
        out->transparentPen = b->penBitmap ? b->transparentColour : -1;
        out->width = b->width, out->height = b->height;
        out->sourceX = g->partX, out->sourceY = g->partY;
        if (l->palette) out->palette = l->palette, out->depth = l->depth, out->transparentPen = l->transparentPen;
        return 0;
    }
    case LAYER_BGPICPART: {
        if (g->rgb || g->chunky) break;
        lvBGPic *p;
        if (int code = FindBGPicById(l->source, &p, BGPIC_FIND_DETACHED)) return code;
        out->rgb = p->scaled.bitmap, out->mask = p->scaled.mask, out->alpha = p->scaled.alpha;
        out->chunky = p->scaled.penBitmap;
        out->palette = p->palette;
        out->depth = p->scaled.penBitmap ? p->depth : 0;
        out->transparentPen = p->scaled.penBitmap ? p->transparentColour : -1;
        out->width = p->scaledWidth, out->height = p->scaledHeight;
        out->sourceX = g->partX, out->sourceY = g->partY;
        if (l->palette) out->palette = l->palette, out->depth = l->depth, out->transparentPen = l->transparentPen;
        return 0;
    }
    default: break;
    }
    out->rgb = g->rgb, out->mask = g->mask, out->alpha = g->alpha, out->chunky = g->chunky;
    out->palette = l->palette ? l->palette : g->palette;
    out->depth = l->depth;
    out->transparentPen = l->transparentPen;
    out->colourOnly = g->colourOnly;
    out->colour = g->colour;
    if (!out->rgb && !out->chunky && !out->alpha) return ERR_WRONGUSAGE;
    return 0;
}

static const int ShadowDx[8] = {0, 1, 1, 1, 0, -1, -1, -1}, ShadowDy[8] = {-1, -1, 0, 1, 1, 1, 0, -1};

void GetLayerBounds(const lvLayer *l, const lvLayerGraphics *g, int *x, int *y, int *width, int *height)
{
    int x1 = g->left, y1 = g->top, x2 = g->left + g->width, y2 = g->top + g->height;
    if (l->border.on && l->border.size > 0) {
        x1 -= l->border.size, y1 -= l->border.size;
        x2 += l->border.size, y2 += l->border.size;
    }
    if (l->shadow.on) {
        // The blur margin on every side, and the distance only where the shadow falls.
        int r = l->shadow.radius > 0 ? (int)l->shadow.radius : 0;
        int d = l->shadow.direction & 7, dist = l->shadow.size > 0 ? l->shadow.size : 0;
        int ix1 = g->left - r, iy1 = g->top - r, ix2 = g->left + g->width + r, iy2 = g->top + g->height + r;
        if (ShadowDx[d] > 0) ix2 += dist;
        if (ShadowDx[d] < 0) ix1 -= dist;
        if (ShadowDy[d] > 0) iy2 += dist;
        if (ShadowDy[d] < 0) iy1 -= dist;
        if (ix1 < x1) x1 = ix1;
        if (iy1 < y1) y1 = iy1;
        if (ix2 > x2) x2 = ix2;
        if (iy2 > y2) y2 = iy2;
    }
    *x = x1, *y = y1, *width = x2 - x1, *height = y2 - y1;
}

static bool Intersect(int ax, int ay, int aw, int ah, int *x, int *y, int *w, int *h)
{
    int x1 = *x > ax ? *x : ax, y1 = *y > ay ? *y : ay;
    int x2 = *x + *w < ax + aw ? *x + *w : ax + aw, y2 = *y + *h < ay + ah ? *y + *h : ay + ah;
    if (x2 <= x1 || y2 <= y1) return false;
    *x = x1, *y = y1, *w = x2 - x1, *h = y2 - y1;
    return true;
}

static void DrawLayerImage(lvState *L, const lvLayer *l, const lvLayerGraphics *g, const lvBGPic *bgpic, int x,
                           int y, int w, int h, lvBufferPair target, int targetWidth, int targetHeight)
{
    if (!Intersect(g->left, g->top, g->width, g->height, &x, &y, &w, &h)) return;
    if (g->clipRegion && !Intersect(g->clipRegion->x, g->clipRegion->y, g->clipRegion->width,
                                    g->clipRegion->height, &x, &y, &w, &h))
        return;
    lvLayerPicture p;
    if (GetLayerImage(L, l, g, &p)) return;
    int sx = p.sourceX + x - g->left, sy = p.sourceY + y - g->top;
    const uint32_t *targetPalette = bgpic->palette;
    int targetDepth = bgpic->palette ? bgpic->depth : 0;
    if (l->transparency > 0 && target.rgb && !target.chunky) {
        lvMixJob job{};
        job.targetRgb = target.rgb;
        job.sourceRgb = p.rgb;
        job.sourceMask = p.mask;
        job.sourceAlpha = p.alpha;
        job.sourcePens = p.rgb ? nullptr : p.chunky;
        job.sourcePalette = p.palette;
        job.ownPalette = 1;
        job.colourOrPen = p.colourOnly ? p.colour : (uint32_t)p.transparentPen;
        job.targetX = x, job.targetY = y, job.sourceX = sx, job.sourceY = sy;
        job.width = w, job.height = h;
        job.ratio = 255 - l->transparency;
        MixImages(&job);
        return;
    }
    int transparent = p.colourOnly ? (int)p.colour : p.transparentPen;
    BlitImage(L, p.rgb, sx, sy, target.rgb, target.chunky, targetPalette, targetDepth, x, y, w, h, p.width,
              p.height, targetWidth, targetHeight, BLIT_NOSPRITES | BLIT_NOOUTPUT, p.mask, p.alpha,
              p.chunky, p.palette, transparent, l->forceRemap ? PALETTEMODE_REMAP : l->paletteMode, l->drawPen,
              l->ditherMode, g->clipRegion, nullptr);
}

void RenderLayersToTarget(lvState *L, lvBlitDisplay *display, lvBGPic *bgpic, int x, int y, int width, int height,
                          lvBufferPair target)
{
    if (!bgpic || width < 1 || height < 1) return;
    int tw = display && display->picture ? display->picture->width : bgpic->scaledWidth;
    int th = display && display->picture ? display->picture->height : bgpic->scaledHeight;
    for (lvLayer *l = FirstLayer(bgpic); l; l = NextLayer(l)) {
        if (l->type == LAYER_NOOBJECT || l->hidden || l->deferred) continue;
        DrawLayerImage(L, l, l->graphics[2], bgpic, x, y, width, height, target, tw, th);
    }
}

// The display's slot: compose over what the raster engine put there.
static void DrawLayersInRect(void *, lvBlitDisplay *display, lvBlitPicture *picture, int x, int y, int width,
                             int height, int)
{
    if (!display || !picture || !display->layers) return;
    lvBGPic *bgpic = (lvBGPic *)picture->owner;
    RenderLayersToTarget(nullptr, display, bgpic, x, y, width, height, display->shown);
}

void RefreshLayerArea(lvState *L, lvBGPic *bgpic, int x, int y, int width, int height)
{
    lvSelectDisplay *d = GetSelectDisplay();
    if (!d || d->ownBGPic != bgpic || width < 1 || height < 1) return;
    InvalidateDisplayRect(L, x, y, width, height);
}

void RefreshLayer(lvState *L, lvBGPic *bgpic, const lvLayer *l)
{
    int x, y, w, h;
    GetLayerBounds(l, l->graphics[2], &x, &y, &w, &h);
    RefreshLayerArea(L, bgpic, x, y, w, h);
}

int IsLayerUncovered(const lvBGPic *, const lvLayer *layer)
{
    const lvLayerGraphics *g = layer->graphics[2];
    for (lvLayer *l = NextLayer(layer); l; l = NextLayer(l)) {
        if (l->hidden || l->deferred || l->type == LAYER_NOOBJECT) continue;
        int x, y, w, h;
        GetLayerBounds(l, l->graphics[2], &x, &y, &w, &h);
        int ix = g->left, iy = g->top, iw = g->width, ih = g->height;
        if (Intersect(x, y, w, h, &ix, &iy, &iw, &ih)) return 0;
    }
    return 1;
}

// The raster engine's table is shared with the displays: only this slot changes.
void InstallLayerComposition(int on)
{
    lvRasterServices s = RasterState.services;
    s.DrawLayersInRect = on ? DrawLayersInRect : nullptr;
    SetRasterServices(&s);
}

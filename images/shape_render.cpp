// shape_render.cpp - rendering a shape job into its image set (line-based, or
// as rectangles and vector outlines), and plain boxes filled straight into the
// current output.
//
// Depends on: images/lvshape.h, images/lvpaint.h, images/lvvectorshape.h,
// raster/lvplanes.h, raster/lvshapes.h, raster/lvgradient.h, raster/lvimage.h.
// Limits: script thread only.
#include <algorithm>
#include <climits>
#include <cstring>

#include "base/lverrors.h"
#include "platform/lvplatform.h"
#include "images/lvpaint.h"
#include "images/lvshape.h"
#include "images/lvvectorshape.h"
#include "raster/lvgradient.h"
#include "raster/lvimage.h"
#include "raster/lvkernels.h"
#include "raster/lvplanes.h"
#include "raster/lvraster.h"
#include "raster/lvshapes.h"

namespace {

constexpr double kFix = 65536.0;

bool IsCurved(const lvShapeJob *j) {
    return j->type == SHAPE_CIRCLE || j->type == SHAPE_ELLIPSE || j->type == SHAPE_ARC ||
           (j->type == SHAPE_BOX && (j->cornerA || j->cornerB || j->cornerC || j->cornerD));
}

// A rectangle as a closed 16.16 polygon covering width x height pixels.
void RectPolygon(int width, int height, double out[10]) {
    double r = (width - 1) * kFix, b = (height - 1) * kFix;
    const double p[10] = {0, 0, r, 0, r, b, 0, b, 0, 0};
    std::memcpy(out, p, sizeof p);
}

// One filled polygon into the image set; 0 or the painter's error (its coverage plane
// could not be made).
int FillPolygonInto(const lvShapeImages *img, const double *points, int count, int x, int y, int w, int h,
                     uint32_t colour, int transparency, lvBitMapHandle *source, int antiAlias, int thickness) {
    lvOutlineRequest r{};
    r.colour = colour;
    r.xOffset = x, r.yOffset = y, r.width = w, r.height = h;
    r.rgb = img->rgb, r.mask = img->mask, r.alpha = img->alpha;
    r.points = points, r.count = count;
    r.transparency = transparency;
    r.maskMode = MASKVISIBLE;
    r.filled = thickness > 0 ? 0 : !antiAlias;
    r.antiAlias = antiAlias;
    r.outlineThickness = thickness;
    r.source = img->rgb ? source : nullptr;
    return PaintOutline(&r);
}

}  // namespace

void FreeShapeImages(lvShapeImages *images) {
    FreeBitmapHandle(images->pens);
    FreeMemory(images->palette);
    FreeBitmapHandle(images->rgb);
    FreeBitmapHandle(images->mask);
    FreeBitmapHandle(images->alpha);
    FreeBitmapHandle(images->fillImage);
    *images = lvShapeImages{};
}

const uint32_t *GetShapeOutputPalette(int *depth) {
    *depth = 0;
    const lvBlitDisplay *d = RasterState.currentDisplay;
    if (!d) return nullptr;
    if (d->target.kind != OUTPUT_DISPLAY && d->target.palette) {
        *depth = d->target.depth;
        return d->target.palette;
    }
    if (d->target.kind == OUTPUT_DISPLAY && d->picture && d->picture->depth && d->picture->palette) {
        *depth = d->picture->depth;
        return d->picture->palette;
    }
    return nullptr;
}

int AllocShapeImages(const lvShapeJob *job, int width, int height, int flags, lvShapeImages *images, void *state) {
    *images = lvShapeImages{};
    int marker = 1;
    int depth;
    const uint32_t *palette = job->maskOnly || job->imagesOut ? nullptr : GetShapeOutputPalette(&depth);
    // Remapped anti-aliased shapes keep their coverage: the blit blends each edge pixel's
    // colour with the pen below and takes the nearest pen. A pen plane would cut the edge.
    const bool remap = job->paletteMode == PALETTEMODE_REMAP;
    if (palette && !(remap && job->antiAlias)) {
        lvPenPlaneRequest q{};
        q.width = width, q.height = height;
        q.targetPalette = palette;
        q.depth = depth;
        q.fillStyle = job->fillStyle;
        q.textureBrush = job->style.textureBrush;
        q.antialias = job->antiAlias;
        q.fillColour = job->colour, q.borderColour = job->borderColour, q.shadowColour = job->shadowColour;
        q.fillPen = job->style.drawPen, q.borderPen = job->style.borderPen, q.shadowPen = job->style.shadowPen;
        if (remap) {  // the colours' own pens
            q.fillPen = FindNearestPen(job->colour, palette, depth);
            q.borderPen = FindNearestPen(job->borderColour, palette, depth);
            q.shadowPen = FindNearestPen(job->shadowColour, palette, depth);
        }
        q.pensGiven = job->paletteMode == PALETTEMODE_PEN;
        q.colourFilter = job->tags && HasColorFilter(job->tags->filters);
        q.flags = flags;
        lvPenPlaneResult r{};
        if (int rc = PreparePenPlane(state, &q, &r)) return rc;
        if (r.pens) {
            images->pens = r.pens;
            images->palette = r.palette;
            images->backgroundPen = r.backgroundPen;
            images->fillValue = r.fillValue, images->borderValue = r.borderValue;
            images->shadowValue = r.shadowValue;
            return 0;
        }
    }
    if (CanDrawDirect(job->hasShadow ? &marker : nullptr, job->hasBorder ? &marker : nullptr, job->fillStyle,
                      job->tags, flags)) {
        images->alpha = AllocAlphaBitmap(width, height, 1, nullptr, 0);
        if (!images->alpha) return ERR_ALLOCALPHA;
        images->colourOnly = 1;
        images->colour = job->colour;
        return 0;
    }
    images->rgb = AllocRgbBitmap(width, height, 0, nullptr);
    if (!images->rgb) return ERR_BITMAP;
    FillBitmapRect(images->rgb, 0, 0, width, height, 0);
    bool transparency = job->fillTransparency || (job->hasBorder && job->borderTransparency) ||
                        (job->hasShadow && job->shadowTransparency);
    // Paths compose engine coverage, hard-edged (0 or 255) without anti-aliasing.
    if (job->antiAlias || transparency || job->type == SHAPE_PATH) {
        images->alpha = AllocAlphaBitmap(width, height, 1, nullptr, 0);
        if (!images->alpha) {
            FreeShapeImages(images);
            return ERR_ALLOCALPHA;
        }
    } else {
        images->mask = AllocMaskBitmap(nullptr, width, height, 1, nullptr, 0);
        if (!images->mask) {
            FreeShapeImages(images);
            return ERR_ALLOCMASK;
        }
    }
    return 0;
}

void FillShapeRect(int height, int y, int x, lvBitMapHandle *rgb, int width, lvBitMapHandle *mask,
                   lvBitMapHandle *alpha, uint32_t colour, int transparency, int filled) {
    if (width <= 0 || height <= 0) return;
    auto one = [&](int rx, int ry, int rw, int rh) {
        if (rgb) FillBitmapRect(rgb, rx, ry, rw, rh, colour & 0xFFFFFFu);
        if (mask) FillMaskRect(mask, rx, ry, rw, rh, MASKVISIBLE);
        if (alpha) FillBytePlaneRect(alpha, rx, ry, rw, rh, 255 - transparency);
    };
    if (filled || width <= 2 || height <= 2) {
        one(x, y, width, height);
        return;
    }
    one(x, y, width, 1);
    one(x, y + height - 1, width, 1);
    one(x, y + 1, 1, height - 2);
    one(x + width - 1, y + 1, 1, height - 2);
}

int BlendFillThroughPlane(int width, int height, const double *points, int count, lvBitMapHandle *rgb,
                          lvBitMapHandle *alpha, int x, int y, uint32_t colour, int transparency) {
    if (width <= 0 || height <= 0 || !rgb) return 0;
    lvBitMapHandle *plane = AllocAlphaBitmap(width, height, 1, nullptr, 0);
    if (!plane) return ERR_MEM;
    lvOutlineRequest r{};
    r.colour = 0xFFFFFF;
    r.width = width, r.height = height;
    r.alpha = plane;
    r.points = points, r.count = count;
    r.filled = 1;
    int rc = PaintOutline(&r);
    if (rc == 0)
        BlendPixelsNativeClipped(nullptr, 0, 0, rgb, x, y, width, height, plane, alpha, 2, colour & 0xFFFFFFu,
                                 255 - transparency);
    FreeBitmapHandle(plane);
    return rc == ERR_LOCKBMAP ? ERR_MEM : rc;
}

// The fill image of a gradient or texture job: size w x h, the pattern over
// (x, y, fw, fh) in it. 0 or the error.
static int MakeFillImage(void *state, const lvShapeJob *job, int w, int h, int x, int y, int fw, int fh,
                         lvShapeImages *images) {
    if (job->fillStyle != FILLGRADIENT && job->fillStyle != FILLTEXTURE) return 0;
    images->fillImage = AllocRgbBitmap(w, h, 0, nullptr);
    if (!images->fillImage) return ERR_BITMAP;
    FillBitmapRect(images->fillImage, 0, 0, w, h, 0);
    if (job->fillStyle == FILLGRADIENT) {
        FillBitmapWithGradient(images->fillImage, x, y, fw, fh, &job->style.gradient);
        return 0;
    }
    return FillRectWithTexture(state, images->fillImage, nullptr, x, y, fw, fh, &job->style, &job->transform.matrix);
}

// Coverage planes of the fill and the border into the image set: on a colour-only set
// the fill's coverage scaled by its opacity (the blit paints the colour through it), else
// shadow, border and fill composed with their colours and transparencies.
static void ComposeCoverage(const lvShapeJob *job, lvShapeImages *images, lvBitMapHandle *fill, lvBitMapHandle *edge,
                            int shapeX, int shapeY, int shadowX, int shadowY, bool hasBorder) {
    if (images->colourOnly) {
        CombineBytePlanesClipped(fill, 0, 0, images->alpha, shapeX, shapeY, job->shapeW, job->shapeH, 4,
                                 255 - job->fillTransparency);
        return;
    }
    lvShapeCompose c{};
    c.fill = fill;
    c.fillImage = images->fillImage;
    c.border = edge;
    c.target = images->rgb;
    c.targetAlpha = images->alpha;
    c.x = shapeX, c.y = shapeY;
    c.shadowX = shadowX, c.shadowY = shadowY;
    c.width = job->shapeW, c.height = job->shapeH;
    c.fillColour = job->colour, c.borderColour = job->borderColour, c.shadowColour = job->shadowColour;
    c.fillTransparency = job->fillTransparency;
    c.borderTransparency = job->borderTransparency;
    c.shadowTransparency = job->shadowTransparency;
    c.hasShadow = job->hasShadow, c.hasBorder = hasBorder;
    ComposeShapePlanes(&c);
}

// Palette outputs: shadow, border and fill as pen values into the pen plane, hard-edged.
static int RenderPens(const lvShapeJob *job, const lvShapeImages *img, const double *points, int count,
                       const double *borderPoints, int borderCount, int shapeX, int shapeY, int shadowX,
                       int shadowY) {
    lvShapeImages pens{};
    pens.alpha = img->pens;
    const bool border = job->hasBorder && borderCount > 0;
    if (job->hasShadow)
        if (int rc = FillPolygonInto(&pens, border ? borderPoints : points, border ? borderCount : count, shadowX,
                                     shadowY, job->shapeW, job->shapeH, 0, img->shadowValue, nullptr, 0, 0))
            return rc;
    if (border)
        if (int rc = FillPolygonInto(&pens, borderPoints, borderCount, shapeX, shapeY, job->shapeW, job->shapeH, 0,
                                     img->borderValue, nullptr, 0, 0))
            return rc;
    return FillPolygonInto(&pens, points, count, shapeX, shapeY, job->shapeW, job->shapeH, 0, img->fillValue,
                           nullptr, 0, job->fillStyle == FILLNONE ? std::max(1, job->style.lineWidth) : 0);
}

int RenderShapeLines(lvShapeJob *job, void *state, const double *points, int count, const double *borderPoints,
                     int borderCount, int shapeX, int shapeY, int shadowX, int shadowY, int canvasW, int canvasH,
                     int flags, lvShapeImages *images, uint32_t *colour) {
    int rc = AllocShapeImages(job, canvasW, canvasH, flags, images, state);
    if (rc) return rc;
    if (colour) *colour = images->colour;
    if (images->pens) {
        rc = RenderPens(job, images, points, count, borderPoints, borderCount, shapeX, shapeY, shadowX, shadowY);
        if (rc) FreeShapeImages(images);
        return rc;
    }
    const bool aa = job->antiAlias != 0;
    const bool border = job->hasBorder && borderCount > 0;
    // Anti-aliased shapes take their fill image at the shape's size; others at the canvas's.
    rc = aa ? MakeFillImage(state, job, job->shapeW, job->shapeH, 0, 0, job->shapeW, job->shapeH, images)
            : MakeFillImage(state, job, canvasW, canvasH, shapeX, shapeY, job->shapeW, job->shapeH, images);
    if (rc) {
        FreeShapeImages(images);
        return rc;
    }
    const int lineWidth = std::max(1, job->style.lineWidth);
    if (aa && job->fillStyle != FILLNONE) {
        lvBitMapHandle *fill = AllocAlphaBitmap(job->shapeW, job->shapeH, 1, nullptr, 0);
        lvBitMapHandle *edge = border ? AllocAlphaBitmap(job->shapeW, job->shapeH, 1, nullptr, 0) : nullptr;
        if (!fill || (border && !edge)) {
            FreeBitmapHandle(fill);
            FreeBitmapHandle(edge);
            FreeShapeImages(images);
            return ERR_MEM;
        }
        lvShapeImages cov{};
        cov.alpha = fill;
        rc = FillPolygonInto(&cov, points, count, 0, 0, job->shapeW, job->shapeH, 0xFFFFFF, 0, nullptr, 1, 0);
        if (!rc && border) {
            cov.alpha = edge;
            rc = FillPolygonInto(&cov, borderPoints, borderCount, 0, 0, job->shapeW, job->shapeH, 0xFFFFFF, 0, nullptr,
                                 1, 0);
        }
        if (rc) {
            FreeBitmapHandle(fill);
            FreeBitmapHandle(edge);
            FreeShapeImages(images);
            return rc;
        }
        ComposeCoverage(job, images, fill, edge, shapeX, shapeY, shadowX, shadowY, border);
        FreeBitmapHandle(fill);
        FreeBitmapHandle(edge);
        return 0;
    }
    if (aa) {  // FILLNONE: the outline stroked at the line width
        rc = FillPolygonInto(images, points, count, 0, 0, canvasW, canvasH, job->colour, job->fillTransparency,
                             images->fillImage, 1, lineWidth);
        if (rc) FreeShapeImages(images);
        return rc;
    }
    const bool rgb = images->rgb != nullptr;
    if (job->hasShadow && !(rgb && job->shadowTransparency >= 255))
        rc = FillPolygonInto(images, border ? borderPoints : points, border ? borderCount : count, shadowX, shadowY,
                             job->shapeW, job->shapeH, job->shadowColour, job->shadowTransparency, nullptr, 0, 0);
    if (!rc && border && !(rgb && job->borderTransparency >= 255)) {
        if (job->hasShadow && job->borderTransparency) {
            rc = BlendFillThroughPlane(job->shapeW, job->shapeH, borderPoints, borderCount, images->rgb,
                                       images->alpha, shapeX, shapeY, job->borderColour, job->borderTransparency);
        } else {
            rc = FillPolygonInto(images, borderPoints, borderCount, shapeX, shapeY, job->shapeW, job->shapeH,
                                 job->borderColour, job->borderTransparency, nullptr, 0, 0);
        }
    }
    if (!rc) {
        if ((job->hasShadow || border) && job->fillTransparency) {
            if (job->fillTransparency < 255)
                rc = BlendFillThroughPlane(job->shapeW, job->shapeH, points, count, images->rgb, images->alpha,
                                           shapeX, shapeY, job->colour, job->fillTransparency);
        } else if (job->fillStyle == FILLNONE) {
            rc = FillPolygonInto(images, points, count, shapeX, shapeY, job->shapeW, job->shapeH, job->colour,
                                 job->fillTransparency, images->fillImage, 0, lineWidth);
        } else {
            rc = FillPolygonInto(images, points, count, shapeX, shapeY, job->shapeW, job->shapeH, job->colour,
                                 job->fillTransparency, images->fillImage, 0, 0);
        }
    }
    if (rc) FreeShapeImages(images);
    return rc;
}

// ---- Plain boxes straight into the output ----------------------------------------------------

int CanFillShapeBoxDirectly(const lvShapeJob *job, const lvShapeOutput *o) {
    if (!o || job->type != SHAPE_BOX || IsCurved(job) || job->lineBased) return 0;
    if (!o->adapterInstalled && !o->canDrawToWindow) return 0;
    bool image = o->kind == OUTPUT_IMAGE || o->kind == OUTPUT_MASK || o->kind == OUTPUT_ALPHA;
    bool display = o->kind == OUTPUT_DISPLAY && !o->layersOn && job->fillStyle >= FILLNONE &&
                   job->fillStyle <= FILLGRADIENT && !job->hasShadow && !job->hasBorder;
    if (!image && !display) return 0;
    if (job->fillTransparency && !o->adapterRealAlpha) return 0;
    if (image && ((job->hasShadow && job->shadowTransparency) || (job->hasBorder && job->borderTransparency))) return 0;
    if (o->clip && o->clip->mask) return 0;
    // Filters work on a rendered image; a box written straight into the output has none.
    if (job->tags && (job->tags->name[0] || job->tags->transparency || HasEnabledFilter(job->tags->filters))) return 0;
    if (job->fillTransparency && (o->hardware || o->hardwareDoubleBuffer) && !o->adapterRealAlpha) return 0;
    bool pattern = job->fillStyle == FILLGRADIENT || job->fillStyle == FILLTEXTURE;
    if (pattern && o->hardware) return 0;
    if (o->comboMode == 2) return 0;
    if (job->fillStyle == FILLGRADIENT && o->kind == OUTPUT_DISPLAY && o->palette) return 0;
    if (o->penPlane && (job->hasShadow || job->hasBorder)) return 0;
    if (o->videoPlaying) return 0;
    return 1;
}

namespace {

struct CutRect {
    int x, y, w, h;
    bool left, top, right, bottom;  // edges cut away
};

CutRect Cut(int x, int y, int w, int h, const lvShapeOutput *o) {
    int bx = 0, by = 0, bw = o->width, bh = o->height;
    if (o->clip) bx = o->clip->x, by = o->clip->y, bw = o->clip->width, bh = o->clip->height;
    CutRect c{};
    int x0 = std::max(x, bx), y0 = std::max(y, by);
    int x1 = static_cast<int>(std::min<int64_t>(int64_t(x) + w, int64_t(bx) + bw));
    int y1 = static_cast<int>(std::min<int64_t>(int64_t(y) + h, int64_t(by) + bh));
    c.left = x0 > x, c.top = y0 > y, c.right = x1 < x + w, c.bottom = y1 < y + h;
    c.x = x0, c.y = y0, c.w = x1 - x0, c.h = y1 - y0;
    return c;
}

}  // namespace

int FillShapeBox(void *state, lvShapeJob *job, int x, int y, const lvBoxCanvas *canvas, const lvShapeOutput *o) {
    (void)canvas;
    const int b = job->hasBorder ? job->borderSize : 0;
    int left, top, right, bottom;
    GetShadowOffsets(job->hasShadow ? job->shadowSize : 0, job->shadowDirection, &left, &top, &right, &bottom);
    CutRect box = Cut(x, y, job->width, job->height, o);
    CutRect edge = Cut(x - b, y - b, job->width + 2 * b, job->height + 2 * b, o);
    CutRect shadow = Cut(x - b + right - left, y - b + bottom - top, job->width + 2 * b, job->height + 2 * b, o);
    bool anyCut = box.left || box.top || box.right || box.bottom || box.w <= 0 || box.h <= 0;
    if (job->fillStyle == FILLGRADIENT && anyCut) return 0;
    if (job->fillStyle == FILLTEXTURE && (box.left || box.top)) return 0;
    if (o->SpriteOverlaps && o->SpriteOverlaps(o->context, x, y, job->width, job->height)) return 0;
    if ((o->hardwareDoubleBuffer || o->adapterRealAlpha) && job->fillTransparency &&
        (job->fillStyle == FILLGRADIENT || job->fillStyle == FILLTEXTURE))
        return 0;
    const bool visible = box.w > 0 && box.h > 0;
    if (o->kind == OUTPUT_DISPLAY || o->hardwareDoubleBuffer) {
        // Without a way into the display (or its buffer, for a gradient) the image path draws.
        if (!o->FillDisplayRect || (job->fillStyle == FILLGRADIENT && !o->rgb)) return 0;
        if (!visible && !job->hasBorder && !job->hasShadow) return SHAPE_DRAWNDIRECTLY;
        uint32_t colour = o->palette ? static_cast<uint32_t>(GetPenForColor(job->colour, o->palette, o->depth))
                                     : job->colour;
        if (visible && job->fillStyle == FILLGRADIENT)
            FillBitmapWithGradient(o->rgb, box.x, box.y, box.w, box.h, &job->style.gradient);
        if (visible && job->fillStyle == FILLNONE) {
            // Only the edges left inside the output: a cut edge is not part of the frame.
            if (!box.top) o->FillDisplayRect(o->context, box.x, box.y, box.w, 1, colour, FILLCOLOR);
            if (!box.bottom) o->FillDisplayRect(o->context, box.x, box.y + box.h - 1, box.w, 1, colour, FILLCOLOR);
            if (!box.left) o->FillDisplayRect(o->context, box.x, box.y, 1, box.h, colour, FILLCOLOR);
            if (!box.right) o->FillDisplayRect(o->context, box.x + box.w - 1, box.y, 1, box.h, colour, FILLCOLOR);
        } else if (visible) {
            o->FillDisplayRect(o->context, box.x, box.y, box.w, box.h, colour, job->fillStyle);
        }
    } else {
        lvBitMapHandle *rgb = o->kind == OUTPUT_IMAGE ? o->rgb : nullptr;
        if (rgb) {
            if (job->hasShadow && shadow.w > 0 && shadow.h > 0)
                FillBitmapRect(rgb, shadow.x, shadow.y, shadow.w, shadow.h, job->shadowColour);
            if (job->hasBorder && edge.w > 0 && edge.h > 0)
                FillBitmapRect(rgb, edge.x, edge.y, edge.w, edge.h, job->borderColour);
            if (visible) {
                switch (job->fillStyle) {
                case FILLNONE:
                    if (!box.top) FillBitmapRect(rgb, box.x, box.y, box.w, 1, job->colour);
                    if (!box.bottom) FillBitmapRect(rgb, box.x, box.y + box.h - 1, box.w, 1, job->colour);
                    if (!box.left) FillBitmapRect(rgb, box.x, box.y, 1, box.h, job->colour);
                    if (!box.right) FillBitmapRect(rgb, box.x + box.w - 1, box.y, 1, box.h, job->colour);
                    break;
                case FILLCOLOR:
                    if (job->fillTransparency && !o->alpha && !o->hardware) {
                        lvScopedLock lock(rgb, 0);
                        if (lock)
                            FillRectPixels(lock.lock.pixels, box.x, box.y, box.w, box.h, job->colour,
                                           255 - job->fillTransparency, lock.lock.rowLength, lock.lock.format);
                    } else {
                        uint32_t c = job->colour | (o->hardware ? uint32_t(job->fillTransparency) << 24 : 0);
                        FillBitmapRect(rgb, box.x, box.y, box.w, box.h, c);
                    }
                    break;
                case FILLGRADIENT: FillBitmapWithGradient(rgb, box.x, box.y, box.w, box.h, &job->style.gradient); break;
                default: {
                    int rc = FillRectWithTexture(state, rgb, nullptr, x, y, job->width, job->height, &job->style,
                                                 &job->transform.matrix);
                    if (rc) return rc;
                }
                }
            }
        }
        // The selected mask or alpha channel: shadow, then the bordered box (or the box).
        const CutRect &area = job->hasBorder ? edge : box;
        auto frame = [&](auto fillRect) {
            if (job->fillStyle == FILLNONE && !job->hasBorder) {
                if (!box.top) fillRect(box.x, box.y, box.w, 1);
                if (!box.bottom) fillRect(box.x, box.y + box.h - 1, box.w, 1);
                if (!box.left) fillRect(box.x, box.y, 1, box.h);
                if (!box.right) fillRect(box.x + box.w - 1, box.y, 1, box.h);
            } else if (area.w > 0 && area.h > 0) {
                fillRect(area.x, area.y, area.w, area.h);
            }
        };
        if (o->mask) {
            int mode = rgb ? MASKVANILLACOPY : o->maskMode;
            if (job->hasShadow && shadow.w > 0 && shadow.h > 0)
                FillMaskRect(o->mask, shadow.x, shadow.y, shadow.w, shadow.h, mode);
            frame([&](int rx, int ry, int rw, int rh) { FillMaskRect(o->mask, rx, ry, rw, rh, mode); });
        }
        if (o->alpha) {
            int value;
            if (rgb) value = 255 - job->fillTransparency;
            else if (o->penPlane && o->palette) value = GetPenForColor(job->colour, o->palette, o->depth);
            else value = o->alphaIntensity == VANILLACOPY ? 255 : o->alphaIntensity;
            if (job->hasShadow && shadow.w > 0 && shadow.h > 0)
                FillBytePlaneRect(o->alpha, shadow.x, shadow.y, shadow.w, shadow.h, value);
            frame([&](int rx, int ry, int rw, int rh) { FillBytePlaneRect(o->alpha, rx, ry, rw, rh, value); });
        }
    }
    if (o->softwareDoubleBuffer && o->AddDamage) {
        int ux = box.x, uy = box.y, uw = std::max(0, box.w), uh = std::max(0, box.h);
        for (const CutRect *r : {&edge, &shadow})
            if (r->w > 0 && r->h > 0 && ((r == &edge && job->hasBorder) || (r == &shadow && job->hasShadow))) {
                if (uw <= 0 || uh <= 0) ux = r->x, uy = r->y, uw = r->w, uh = r->h;
                else MergeRects(&ux, &uy, &uw, &uh, r->x, r->y, r->w, r->h);
            }
        if (uw > 0 && uh > 0) o->AddDamage(o->context, ux, uy, uw, uh);
    }
    return SHAPE_DRAWNDIRECTLY;
}

int RenderShapeOutlined(void *state, lvShapeJob *job, int outX, int outY, int canvasW, int canvasH, int shapeX,
                        int shapeY, int shadowX, int shadowY, int flags, lvShapeImages *images, uint32_t *colour,
                        const lvShapeOutput *output) {
    *images = lvShapeImages{};
    const bool plain = job->type == SHAPE_BOX && !IsCurved(job);
    if (plain && CanFillShapeBoxDirectly(job, output)) {
        const int b = job->hasBorder ? job->borderSize : 0;
        lvBoxCanvas canvas{outX, outY, canvasW, canvasH, shapeX, shapeY, shadowX, shadowY};
        int rc = FillShapeBox(state, job, outX + shapeX + b, outY + shapeY + b, &canvas, output);
        if (rc) return rc;  // drawn directly, or an error
    }
    int rc = AllocShapeImages(job, canvasW, canvasH, flags, images, state);
    if (rc) return rc;
    if (colour) *colour = images->colour;
    const bool rgb = images->rgb != nullptr;
    if (plain && images->pens) {
        const int b = job->hasBorder ? job->borderSize : 0;
        const int sw = job->width + 2 * b, sh = job->height + 2 * b;
        if (job->hasShadow)
            FillShapeRect(sh, shadowY, shadowX, nullptr, sw, nullptr, images->pens, 0, images->shadowValue, 1);
        if (job->hasBorder)
            FillShapeRect(sh, shapeY, shapeX, nullptr, sw, nullptr, images->pens, 0, images->borderValue, 1);
        FillShapeRect(job->height, shapeY + b, shapeX + b, nullptr, job->width, nullptr, images->pens, 0,
                      images->fillValue, job->fillStyle != FILLNONE);
        return 0;
    }
    if (plain) {
        const int b = job->hasBorder ? job->borderSize : 0;
        const int sw = job->width + 2 * b, sh = job->height + 2 * b;
        double rect[10];
        if (job->hasShadow && !(rgb && job->shadowTransparency >= 255))
            FillShapeRect(sh, shadowY, shadowX, images->rgb, sw, images->mask, images->alpha, job->shadowColour,
                          job->shadowTransparency, 1);
        if (job->hasBorder && !(rgb && job->borderTransparency >= 255)) {
            if (job->hasShadow && job->borderTransparency) {
                RectPolygon(sw, sh, rect);
                rc = BlendFillThroughPlane(sw, sh, rect, 5, images->rgb, images->alpha, shapeX, shapeY,
                                           job->borderColour, job->borderTransparency);
            } else {
                FillShapeRect(sh, shapeY, shapeX, images->rgb, sw, images->mask, images->alpha, job->borderColour,
                              job->borderTransparency, 1);
            }
        }
        const int bx = shapeX + b, by = shapeY + b, w = job->width, h = job->height;
        const bool pattern = job->fillStyle == FILLGRADIENT || job->fillStyle == FILLTEXTURE;
        if (!rc) {
            if ((job->hasShadow || job->hasBorder) && job->fillTransparency && !pattern) {
                if (job->fillTransparency < 255) {
                    RectPolygon(w, h, rect);
                    rc = BlendFillThroughPlane(w, h, rect, 5, images->rgb, images->alpha, bx, by, job->colour,
                                               job->fillTransparency);
                }
            } else if (pattern) {
                FillShapeRect(h, by, bx, nullptr, w, images->mask, images->alpha, 0, job->fillTransparency, 1);
                if (rgb) {
                    if (job->fillStyle == FILLGRADIENT)
                        FillBitmapWithGradient(images->rgb, bx, by, w, h, &job->style.gradient);
                    else
                        rc = FillRectWithTexture(state, images->rgb, nullptr, bx, by, w, h, &job->style,
                                                 &job->transform.matrix);
                }
            } else {
                FillShapeRect(h, by, bx, images->rgb, w, images->mask, images->alpha, job->colour,
                              job->fillTransparency, job->fillStyle != FILLNONE);
            }
        }
        if (rc) FreeShapeImages(images);
        return rc;
    }
    // Curved shapes: coverage from the vector engine, then composed like the line-based renderer.
    rc = MakeFillImage(state, job, job->shapeW, job->shapeH, 0, 0, job->shapeW, job->shapeH, images);
    lvBitMapHandle *fill = nullptr, *edge = nullptr;
    if (!rc) {
        fill = AllocAlphaBitmap(job->shapeW, job->shapeH, 1, nullptr, 0);
        edge = job->hasBorder ? AllocAlphaBitmap(job->shapeW, job->shapeH, 1, nullptr, 0) : nullptr;
        if (!fill || (job->hasBorder && !edge)) rc = ERR_MEM;
    }
    if (!rc) {
        const int b = job->hasBorder ? job->borderSize : 0;
        int filled = job->fillStyle != FILLNONE;
        int lw = filled ? 0 : std::max(1, job->style.lineWidth);
        lvVectorShape v{};
        SetVectorShapeFromJob(&v, job);
        v.filled = filled, v.lineWidth = lw;
        // The shape sits at (b, b) inside the border's coverage; the planes may be a
        // window beginning clipLeft, clipTop into it.
        v.offsetX = b - job->clipLeft, v.offsetY = b - job->clipTop;
        if (job->type == SHAPE_PATH && job->path) {
            rc = job->path->Coverage(job->path->context, job, fill, 0);
            if (!rc && edge) rc = job->path->Coverage(job->path->context, job, edge, 1);
        } else {
            rc = RenderVectorShape(&v, fill);
            if (!rc && edge) {
                v.borderGrowth = b;
                v.offsetX = -job->clipLeft, v.offsetY = -job->clipTop;
                rc = RenderVectorShape(&v, edge);
            }
        }
    }
    if (!rc && images->pens) {
        // Pen plane: what the coverage covers at least half takes the part's value.
        auto stamp = [&](lvBitMapHandle *coverage, int x, int y, int value) {
            uint8_t *cp, *pp;
            int crow, prow;
            uintptr_t ct = GetPlanePixels(coverage, &cp, &crow, 0), pt = GetPlanePixels(images->pens, &pp, &prow, 1);
            if (ct && pt)
                for (int yy = 0; yy < coverage->height; yy++)
                    for (int xx = 0; xx < coverage->width; xx++) {
                        int tx = x + xx, ty = y + yy;
                        if (tx < 0 || ty < 0 || tx >= images->pens->width || ty >= images->pens->height) continue;
                        if (cp[yy * crow + xx] >= 128) pp[ty * prow + tx] = static_cast<uint8_t>(value ^ 255);
                    }
            if (ct) ReleasePlanePixels(ct);
            if (pt) ReleasePlanePixels(pt);
        };
        if (job->hasShadow) stamp(edge ? edge : fill, shadowX, shadowY, images->shadowValue);
        if (edge) stamp(edge, shapeX, shapeY, images->borderValue);
        stamp(fill, shapeX, shapeY, images->fillValue);
    } else if (!rc) {
        ComposeCoverage(job, images, fill, edge, shapeX, shapeY, shadowX, shadowY, job->hasBorder);
    }
    FreeBitmapHandle(fill);
    FreeBitmapHandle(edge);
    if (rc) FreeShapeImages(images);
    return rc;
}

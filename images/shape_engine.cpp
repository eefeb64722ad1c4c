// shape_engine.cpp - the shape engine's entries, RenderShape and the composite into
// the current output; the line engine with thickness and arrowheads.
//
// A job copies the draw style and works on the copy alone: a line drawn filled, a
// transform applied to line widths or a palette output dropping anti-aliasing never
// reach the global style.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <vector>

#include "base/lverrors.h"
#include "images/lvbgpic.h"
#include "images/lvdraw.h"
#include "images/lvoffscreen.h"
#include "images/lvpaint.h"
#include "images/lvshape.h"
#include "libs/lib_core2.h"
#include "platform/lvplatform.h"
#include "raster/lvbitmap.h"
#include "raster/lvfilterchain.h"
#include "raster/lvblit.h"
#include "raster/lvplanes.h"
#include "raster/lvraster.h"
#include "raster/lvrect.h"
#include "runtime/cmdsupport.h"
#include "runtime/container.h"

namespace {

constexpr double kFix = 65536.0;

}  // namespace

int CaptureDrawOutput(void *state, lvDrawOutput *o, int runCheck)
{
    *o = {};
    lvBlitDisplay *d = RasterState.currentDisplay;
    if (!d) return ERR_OUTPUTDEVICE;
    o->display = d;
    o->target = &d->target;
    o->record = GetCurrentOutput();
    o->layersOn = d->target.kind == OUTPUT_DISPLAY && d->layers;
    if (runCheck && d->target.kind != OUTPUT_DISPLAY && state)
        if (int code = CheckRedirectTarget((lvState *)state)) return code;
    lvDrawTarget *t = o->target;
    o->width = o->record ? o->record->scaledWidth : d->picture ? d->picture->width : 0;
    o->height = o->record ? o->record->scaledHeight : d->picture ? d->picture->height : 0;
    if (t->kind != OUTPUT_DISPLAY) {
        o->rgb = t->bitmap;
        o->chunky = !o->rgb ? t->paletteBitmap : nullptr;
        if (t->paletteBitmap) o->palette = t->palette, o->depth = t->depth;
        lvBitMapHandle *size = o->rgb ? o->rgb : o->chunky ? o->chunky : t->mask ? t->mask : t->alpha;
        if (!o->record && size) o->width = size->width, o->height = size->height;
    } else if (d->picture && d->picture->palette && d->picture->depth) {
        o->palette = d->picture->palette, o->depth = d->picture->depth;
    }
    o->clip = o->record ? o->record->clipRegion : nullptr;
    return 0;
}

namespace {

bool OutputHasPalette()
{
    lvDrawOutput o;
    return CaptureDrawOutput(nullptr, &o, 0) == 0 && o.palette != nullptr;
}

bool NewRendering(void *state)
{
    if (GetLegacySwitches()->lineBasedShapes) return false;
    lvAppletRecord *record = state ? GetAppletRecord((lvState *)state) : nullptr;
    return !record || CheckAppletVersion(record, 6, 0);
}

bool Identity(const lvMatrix2D &m) { return m.sx == 1 && m.sy == 1 && m.rx == 0 && m.ry == 0; }

// A job with the parts every entry shares; anti-aliasing is dropped on a palette
// output unless colours are remapped.
void StartJob(lvShapeJob *job, int type, const lvDrawStyle *style, uint32_t colour, int paletteMode,
              const lvDrawTags *transform, lvStyleTags *tags)
{
    *job = lvShapeJob{};
    job->type = type;
    job->style = *style;
    job->colour = colour;
    job->paletteMode = paletteMode;
    if (transform) {
        job->transform = *transform;
    } else {
        InitDrawTags(&job->transform);
        SetIdentityMatrix(&job->transform.matrix);
    }
    job->tags = tags;
    job->startAngle = 0, job->endAngle = 360;
    if (paletteMode != PALETTEMODE_REMAP && OutputHasPalette()) job->style.formStyle &= ~FORM_ANTIALIAS;
}

int RoundInt(double v) { return (int)std::lround(v); }

// The point buffers of one rendering: the library's, or a private pair while the
// library is not open (C++ callers).
struct PointBuffers {
    std::vector<double> own;
    double *fill = nullptr, *border = nullptr;
    int Take()
    {
        fill = GetDrawBuffer(0), border = GetDrawBuffer(1);
        if (fill && border) return 0;
        try {
            own.assign(4 * (SHAPE_MAXPOINTS + 4), 0.0);
        } catch (...) {
            return ERR_MEM;
        }
        fill = own.data(), border = own.data() + 2 * (SHAPE_MAXPOINTS + 4);
        return 0;
    }
};

// A shape far larger than the output is rendered only where it can show: the
// canvas becomes the output's area with a margin that keeps the shadow's source
// inside it, and the shape's planes the part of the shape within that. Pixels
// inside the output stay as they were. False when nothing of it can show.
bool ClipCanvasToOutput(lvShapeJob *job, const lvDrawOutput &o, int *canvasW, int *canvasH, int *sx, int *sy,
                        int *shx, int *shy)
{
    const int64_t dx = job->hasShadow ? *shx - *sx : 0, dy = job->hasShadow ? *shy - *sy : 0;
    const int64_t margin = std::max(std::abs(dx), std::abs(dy)) + 1;
    const int64_t cx0 = std::max<int64_t>(0, -int64_t(job->outX) - margin);
    const int64_t cy0 = std::max<int64_t>(0, -int64_t(job->outY) - margin);
    const int64_t cx1 = std::min<int64_t>(*canvasW, int64_t(o.width) - job->outX + margin);
    const int64_t cy1 = std::min<int64_t>(*canvasH, int64_t(o.height) - job->outY + margin);
    if (cx0 == 0 && cy0 == 0 && cx1 == *canvasW && cy1 == *canvasH) return true;
    const int64_t s0x = std::max<int64_t>(*sx, cx0), s0y = std::max<int64_t>(*sy, cy0);
    const int64_t s1x = std::min<int64_t>(int64_t(*sx) + job->shapeW, cx1);
    const int64_t s1y = std::min<int64_t>(int64_t(*sy) + job->shapeH, cy1);
    if (cx1 <= cx0 || cy1 <= cy0 || s1x <= s0x || s1y <= s0y) return false;
    job->clipLeft = int(s0x - *sx), job->clipTop = int(s0y - *sy);
    job->shapeW = int(s1x - s0x), job->shapeH = int(s1y - s0y);
    *sx = int(s0x - cx0), *sy = int(s0y - cy0);
    *shx = int(*sx + dx), *shy = int(*sy + dy);
    job->outX += int(cx0), job->outY += int(cy0);
    *canvasW = job->canvasW = int(cx1 - cx0), *canvasH = job->canvasH = int(cy1 - cy0);
    return true;
}

struct ImagesHolder {
    lvShapeImages images{};
    ~ImagesHolder() { FreeShapeImages(&images); }
};

}  // namespace

void CompositeShapeImages(void *state, const lvDrawOutput &o, const lvShapeImages &img, uint32_t colour, int x,
                          int y, int width, int height, int paletteMode, int drawPen)
{
    int pen = -1;
    if (img.colourOnly && o.palette)
        pen = paletteMode == PALETTEMODE_PEN ? drawPen : FindNearestPen(colour, o.palette, o.depth);
    // A selected palette image is both the blit's pen target and the output's pen plane;
    // written as the output plane too it would take the alpha intensity over the pens.
    int flags = BLIT_RECOMPOSE | BLIT_BACKGROUND | BLIT_HARDWARE | (o.chunky ? BLIT_NOOUTPUT : 0);
    // A pen-plane set is drawn by its pens, its background pen left out.
    int transparent = img.colourOnly ? (int)(colour & 0xFFFFFF) : img.pens ? img.backgroundPen : -1;
    BlitImage(state, img.rgb, 0, 0, o.rgb, o.chunky, o.chunky ? o.palette : nullptr, o.chunky ? o.depth : 0, x, y,
              width, height, width, height, o.width, o.height, flags, img.mask, img.alpha, img.pens,
              img.pens ? img.palette : nullptr, transparent, pen >= 0 ? PALETTEMODE_PEN : -1, pen, -1, o.clip,
              nullptr);
}

int FilterShapeImages(const lvStyleTags *tags, lvShapeImages *img, int width, int height)
{
    if (!tags || GetEffectServices()->DisplayKeepsLayers()) return 0;
    if (HasEnabledFilter(tags->filters))
        ApplyFilterChain(tags->filters, img->rgb, img->mask, img->alpha, img->pens, img->pens ? img->palette : nullptr,
                         width, height, 0);
    if (tags->transparency)
        return ApplyTransparencyToAlpha(&img->alpha, &img->mask, width, height, 255 - tags->transparency);
    return 0;
}

// ---- Point buffers ---------------------------------------------------------------------------

static double *DrawBuffers[6];

double *GetDrawBuffer(int index) { return index >= 0 && index < 6 ? DrawBuffers[index] : nullptr; }

int AllocDrawBuffers(void)
{
    for (double *&b : DrawBuffers) {
        if (b) continue;
        // Four spare points: a grown polygon may add corners past the outline's own.
        b = new (std::nothrow) double[2 * (SHAPE_MAXPOINTS + 4)];
        if (!b) {
            FreeDrawBuffers();
            return ERR_MEM;
        }
    }
    return 0;
}

void FreeDrawBuffers(void)
{
    for (double *&b : DrawBuffers) {
        delete[] b;
        b = nullptr;
    }
}

// ---- RenderShape -------------------------------------------------------------------------

static lvShapeOutputHook shapeOutputHook;
void SetShapeOutputHook(lvShapeOutputHook hook) { shapeOutputHook = hook; }

int RenderShape(lvShapeJob *job, void *state, int flags)
{
    if (flags & SHAPEF_RERENDER) ComputeDrawTagsMatrix(&job->transform, job->width, job->height);
    lvDrawOutput o{};
    // Shapes rendered into images of their own need no output.
    if (!job->imagesOut)
        if (int code = CaptureDrawOutput(state, &o, 1)) return code;
    // On a display that keeps layers the shape is rendered into images of its own, which
    // become a layer.
    const bool toLayer = o.layersOn && !(flags & (SHAPEF_RENDERONLY | SHAPEF_RERENDER));
    const int callerFlags = flags;
    if (toLayer) flags |= SHAPEF_RENDERONLY;
    job->x = ResolveSpecialX(job->x, job->width, 0, job->transform.anchorX);
    job->y = ResolveSpecialY(job->y, job->height, 0, job->transform.anchorY);

    // The transform is applied while rendering: widths follow the horizontal scale.
    const lvMatrix2D &m = job->transform.matrix;
    if (!Identity(m)) {
        double s = std::fabs(m.sx);
        job->style.lineWidth = RoundInt(job->style.lineWidth * s);
        job->style.shadowSize = RoundInt(job->style.shadowSize * s);
    }
    lvDrawStyle &st = job->style;
    st.lineWidth = std::max(1, st.lineWidth);
    st.shadowSize = std::clamp(st.shadowSize, 1, 64);
    st.borderSize = std::clamp(st.borderSize, 1, 64);
    if (st.shadowDirection < 0 || st.shadowDirection > 7) st.shadowDirection = SHDWSOUTHEAST;
    if (st.fillStyle < FILLNONE || st.fillStyle > FILLTEXTURE) st.fillStyle = FILLNONE;
    if (o.palette && job->paletteMode == PALETTEMODE_PEN) {
        int limit = 1 << o.depth;
        if (((st.formStyle & FORM_BORDER) && st.borderPen >= limit) ||
            ((st.formStyle & FORM_SHADOW) && st.shadowPen >= limit))
            return ERR_PENRANGE;
    }
    ReadShapeStyle(job, o.palette != nullptr, o.layersOn);

    // Geometry.
    PointBuffers buffers;
    if (int code = buffers.Take()) return code;
    int nf = 0, nb = 0, sx = 0, sy = 0, shx = 0, shy = 0, canvasW, canvasH;
    const bool plainBox = job->type == SHAPE_BOX && !job->lineBased &&
                          !(job->cornerA || job->cornerB || job->cornerC || job->cornerD);
    if (plainBox) {
        lvBoxCanvas c;
        BoxCanvas(job->hasBorder ? job->borderSize : 0, job->x, job->y, job->width, job->height,
                  job->hasShadow ? job->shadowSize : 0, job->shadowDirection, &c);
        job->outX = c.x, job->outY = c.y;
        canvasW = job->canvasW = c.width, canvasH = job->canvasH = c.height;
        sx = c.shapeX, sy = c.shapeY, shx = c.shadowX, shy = c.shadowY;
        job->shapeX = sx, job->shapeY = sy;
        job->shapeW = job->width + 2 * (job->hasBorder ? job->borderSize : 0);
        job->shapeH = job->height + 2 * (job->hasBorder ? job->borderSize : 0);
    } else if (job->type == SHAPE_PATH) {
        if (!job->path) return ERR_WRONGUSAGE;
        if (int code = job->path->Geometry(job->path->context, job)) return code;
        sx = job->shapeX, sy = job->shapeY;
        int unusedX, unusedY;
        if (job->hasShadow) ShadowPlacement(job->shadowSize, job->shadowDirection, &unusedX, &unusedY, &shx, &shy);
        canvasW = job->canvasW, canvasH = job->canvasH;
    } else {
        int w, h;
        if (int code = BuildShapeOutline(job, &w, &h, buffers.fill, &nf, buffers.border, &nb)) return code;
        if (job->hasShadow) ShadowPlacement(job->shadowSize, job->shadowDirection, &sx, &sy, &shx, &shy);
        canvasW = job->canvasW, canvasH = job->canvasH;
    }
    // A wide outline is centred on the shape's edge.
    const int lw = st.lineWidth;
    if (job->fillStyle == FILLNONE && lw > 1 && job->type != SHAPE_PATH) {
        if (job->lineBased) {
            canvasW = job->canvasW += lw, canvasH = job->canvasH += lw;
            job->shapeW += lw, job->shapeH += lw;
            for (int i = 0; i < 2 * nf; i++) buffers.fill[i] += (lw / 2) * kFix;
            for (int i = 0; i < 2 * nb; i++) buffers.border[i] += (lw / 2) * kFix;
        }
        job->outX -= lw / 2, job->outY -= lw / 2;
    }
    job->outX -= (int)(job->width * job->transform.anchorX);
    job->outY -= (int)(job->height * job->transform.anchorY);

    // Shapes that go straight to the output are cut to it; images of their own, layers
    // (which move) and filters (which read neighbours) need the whole shape, and so
    // do pattern fills laid over the whole shape and engines without windows.
    const bool pattern = job->fillStyle == FILLGRADIENT || job->fillStyle == FILLTEXTURE;
    if (!job->lineBased && !plainBox && !job->imagesOut && !(flags & (SHAPEF_RENDERONLY | SHAPEF_RERENDER)) &&
        !o.layersOn && o.width > 0 && o.height > 0 && !pattern && !(job->tags && HasEnabledFilter(job->tags->filters)) &&
        (job->type != SHAPE_PATH || job->path->windows))
        if (!ClipCanvasToOutput(job, o, &canvasW, &canvasH, &sx, &sy, &shx, &shy)) return 0;
    ImagesHolder held;
    uint32_t colour = job->colour;
    if (job->lineBased) {
        if (int code = RenderShapeLines(job, state, buffers.fill, nf, buffers.border, nb, sx, sy, shx, shy, canvasW,
                                        canvasH, flags, &held.images, &colour))
            return code;
    } else {
        lvShapeOutput out{};
        const lvShapeOutput *direct = nullptr;
        // Redirected outputs may take a plain box straight into their planes.
        if (job->imagesOut || toLayer) {
        } else if (o.target->kind != OUTPUT_DISPLAY && !o.chunky) {
            out.kind = o.target->kind;
            out.rgb = o.target->kind == OUTPUT_IMAGE ? o.rgb : nullptr;
            out.mask = o.target->kind == OUTPUT_MASK ? o.target->mask : nullptr;
            out.alpha = o.target->kind == OUTPUT_ALPHA ? o.target->alpha : nullptr;
            out.width = o.width, out.height = o.height;
            out.clip = o.clip;
            out.hardware = o.target->hardware;
            out.canDrawToWindow = 1;
            out.comboMode = o.target->selectionMode == SELMODE_COMBO ? o.target->combineMode : 0;
            out.maskMode = RasterState.maskMode;
            out.alphaIntensity = RasterState.alphaIntensity;
            direct = &out;
        } else if (o.target->kind == OUTPUT_DISPLAY && shapeOutputHook) {
            out.kind = OUTPUT_DISPLAY;
            out.palette = o.palette, out.depth = o.depth;
            out.width = o.width, out.height = o.height;
            out.clip = o.clip;
            out.layersOn = o.layersOn;
            direct = &out;
        }
        if (direct && shapeOutputHook) shapeOutputHook(&out, o.display);
        int code = RenderShapeOutlined(state, job, job->outX, job->outY, canvasW, canvasH, sx, sy, shx, shy, flags,
                                       &held.images, &colour, direct);
        if (code == SHAPE_DRAWNDIRECTLY) return 0;
        if (code) return code;
    }
    if (toLayer) {
        if (int code = FilterShapeImages(job->tags, &held.images, canvasW, canvasH)) return code;
        lvShapeImages images = held.images;
        held.images = lvShapeImages{};
        return NewShapeLayer(state, job, job->outX, job->outY, canvasW, canvasH, job->tags, &images, nullptr,
                             callerFlags, colour, 0);
    }
    if (flags & (SHAPEF_RENDERONLY | SHAPEF_RERENDER)) {
        if (job->imagesOut) {
            *job->imagesOut = held.images;
            held.images = lvShapeImages{};
        }
        return 0;
    }
    if (int code = FilterShapeImages(job->tags, &held.images, canvasW, canvasH)) return code;
    CompositeShapeImages(state, o, held.images, colour, job->outX, job->outY, canvasW, canvasH, job->paletteMode,
                         st.drawPen);
    return 0;
}

// ---- Entries -------------------------------------------------------------------------------

int DrawBoxShape(void *state, const lvDrawStyle *style, int x, int y, int width, int height, uint32_t colour,
                 const int corners[4], int paletteMode, const lvDrawTags *transform, lvStyleTags *tags, int flags)
{
    if (width <= 0 || height <= 0) return ERR_WRONGUSAGE;
    lvShapeJob job;
    StartJob(&job, SHAPE_BOX, style, colour, paletteMode, transform, tags);
    job.x = x, job.y = y, job.width = width, job.height = height;
    if (corners) {
        job.cornerA = std::clamp(corners[0], 0, 100), job.cornerB = std::clamp(corners[1], 0, 100);
        job.cornerC = std::clamp(corners[2], 0, 100), job.cornerD = std::clamp(corners[3], 0, 100);
    }
    const bool rounded = job.cornerA || job.cornerB || job.cornerC || job.cornerD;
    const bool aa = job.style.formStyle & FORM_ANTIALIAS;
    job.lineBased = rounded || !Identity(job.transform.matrix) ||
                    (job.style.fillStyle == FILLNONE && job.style.lineWidth > 1) || aa;
    if (rounded && aa && NewRendering(state)) job.lineBased = 0;
    return RenderShape(&job, state, flags);
}

int DrawEllipseShape(void *state, const lvDrawStyle *style, int type, int x, int y, int radiusX, int radiusY,
                     uint32_t colour, int paletteMode, const lvDrawTags *transform, lvStyleTags *tags, int flags)
{
    if (radiusX <= 0 || radiusY <= 0) return ERR_WRONGUSAGE;
    lvShapeJob job;
    StartJob(&job, type, style, colour, paletteMode, transform, tags);
    job.x = x, job.y = y;
    job.radiusX = radiusX, job.radiusY = radiusY;
    job.width = 2 * radiusX + 1, job.height = 2 * radiusY + 1;
    job.lineBased = NewRendering(state) && (job.style.formStyle & FORM_ANTIALIAS) ? 0 : 1;
    return RenderShape(&job, state, flags);
}

int DrawArcShape(void *state, const lvDrawStyle *style, int x, int y, int radiusX, int radiusY, int start, int end,
                 uint32_t colour, int clockwise, int paletteMode, const lvDrawTags *transform, lvStyleTags *tags,
                 int flags)
{
    if (radiusX <= 0 || radiusY <= 0 || start < 0 || end < 0) return ERR_WRONGUSAGE;
    if (start == end) return 0;
    lvShapeJob job;
    StartJob(&job, SHAPE_ARC, style, colour, paletteMode, transform, tags);
    job.x = x, job.y = y;
    job.radiusX = radiusX, job.radiusY = radiusY;
    job.width = 2 * radiusX + 1, job.height = 2 * radiusY + 1;
    job.startAngle = start, job.endAngle = end;
    job.clockwise = clockwise ? 1 : 0;
    job.lineBased = NewRendering(state) && (job.style.formStyle & FORM_ANTIALIAS) ? 0 : 1;
    return RenderShape(&job, state, flags);
}

int DrawPolygonShape(void *state, const lvDrawStyle *style, int type, int x, int y, int width, int height,
                     const double *points, int count, uint32_t colour, int paletteMode, const lvDrawTags *transform,
                     lvStyleTags *tags, int flags)
{
    if (!points || count < 2 || count > SHAPE_MAXPOINTS - 2 || width <= 0 || height <= 0) return ERR_WRONGUSAGE;
    lvShapeJob job;
    StartJob(&job, type, style, colour, paletteMode, transform, tags);
    job.x = x, job.y = y, job.width = width, job.height = height;
    job.points = const_cast<double *>(points);
    job.pointCount = count;
    job.lineBased = 1;
    return RenderShape(&job, state, flags);
}

int DrawPathShape(void *state, const lvDrawStyle *style, int x, int y, int width, int height, uint32_t colour,
                  int paletteMode, const lvDrawTags *transform, lvStyleTags *tags, int flags,
                  const lvPathShapeHooks *hooks, lvShapeImageResult *result)
{
    if (!hooks || width <= 0 || height <= 0) return ERR_WRONGUSAGE;
    lvShapeJob job;
    // Images of their own are made in true colour, whatever the output.
    StartJob(&job, SHAPE_PATH, style, colour, result ? PALETTEMODE_REMAP : paletteMode, transform, tags);
    job.x = x, job.y = y, job.width = width, job.height = height;
    job.lineBased = 0;
    job.path = hooks;
    if (result) {
        *result = lvShapeImageResult{};
        job.imagesOut = &result->images;
        flags |= SHAPEF_RENDERONLY | SHAPEF_NOSHORTCUT;
    }
    int code = RenderShape(&job, state, flags);
    if (result && !code) result->x = job.outX, result->y = job.outY, result->width = job.canvasW,
                         result->height = job.canvasH;
    return code;
}

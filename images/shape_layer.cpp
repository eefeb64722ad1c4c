// shape_layer.cpp - shapes that become layers: the record a layer keeps of its shape,
// the layer made from a rendered job, and the shape's coverage rebuilt for the layer
// system's border and shadow styles.
//
// The layer system is reached through lvShapeLayerServices only.
// Depends on: images/lvshape.h, images/lvpaint.h, images/lvvectorshape.h.
// Limits: script thread only.
#include <algorithm>
#include <cstring>

#include "base/lverrors.h"
#include "images/lvpaint.h"
#include "images/lvshape.h"
#include "images/lvvectorshape.h"
#include "platform/lvplatform.h"
#include "raster/lvrect.h"

static lvShapeLayerServices layerServices;

void SetShapeLayerServices(const lvShapeLayerServices *services) {
    layerServices = services ? *services : lvShapeLayerServices{};
}

void FreeShapeLayerShape(lvShapeLayerShape *shape) {
    if (!shape) return;
    FreeMemory(shape->points);
    FreeMemory(shape);
}

int NewShapeLayer(void *state, const lvShapeJob *job, int x, int y, int width, int height, lvStyleTags *tags,
                  lvShapeImages *images, void *owner, int flags, uint32_t colour, int layerFlags) {
    if (!layerServices.NewLayerRecord) {
        FreeShapeImages(images);
        return ERR_UNIMPLCMD;
    }
    auto *s = static_cast<lvShapeLayerShape *>(AllocMemory(sizeof(lvShapeLayerShape), 1));
    if (!s) {
        FreeShapeImages(images);
        return ERR_MEM;
    }
    s->type = job->type;
    s->width = job->width, s->height = job->height;
    s->radiusX = job->radiusX, s->radiusY = job->radiusY;
    s->startAngle = job->startAngle, s->endAngle = job->endAngle, s->clockwise = job->clockwise;
    s->corners[0] = job->cornerA, s->corners[1] = job->cornerB, s->corners[2] = job->cornerC;
    s->corners[3] = job->cornerD;
    s->thickness = job->thickness, s->arrowhead = job->arrowhead;
    s->formStyle = job->style.formStyle;
    s->lineBased = job->lineBased;
    s->matrix = job->transform.matrix;
    s->anchorX = job->transform.anchorX, s->anchorY = job->transform.anchorY;
    if (job->path) s->sourceNumber = job->path->sourceNumber, s->sourceHandle = job->path->sourceHandle;
    if ((job->type == SHAPE_POLYGON || job->type == SHAPE_LINE) && job->points && job->pointCount > 0) {
        size_t bytes = sizeof(double) * 2 * static_cast<size_t>(job->pointCount);
        s->points = static_cast<double *>(AllocMemory(bytes, 0));
        if (!s->points) {
            FreeShapeLayerShape(s);
            FreeShapeImages(images);
            return ERR_MEM;
        }
        std::memcpy(s->points, job->points, bytes);
        s->pointCount = job->pointCount;
    }
    int rc = layerServices.NewLayerRecord(layerServices.context, state, job->type, x, y, width, height,
                                          &job->transform, tags, images, s, owner, flags, colour, layerFlags);
    if (rc) {
        FreeShapeLayerShape(s);
        FreeShapeImages(images);
    }
    return rc;
}

namespace {

// The layer's transform with the display's scale factors applied after it.
lvMatrix2D LayerMatrix(void *layer, const lvShapeLayerShape *s, int flags) {
    lvMatrix2D m = s->matrix;
    if ((flags & LAYERMASK_NODISPLAYSCALE) || !layerServices.DisplayScale) return m;
    double fx = 1, fy = 1;
    layerServices.DisplayScale(layerServices.context, layer, &fx, &fy);
    if (!(fx > 0) || !(fy > 0)) return m;  // a nonsense factor (0, negative, NaN) keeps the layer's own
    m.sx *= fx, m.ry *= fx;
    m.rx *= fy, m.sy *= fy;
    return m;
}

bool IsIdentity(const lvMatrix2D &m) { return m.sx == 1 && m.sy == 1 && m.rx == 0 && m.ry == 0; }

// Whether every byte of the last column (column 1) or the last row (column 0) of the
// shape's area (x, y, width x height) in the plane is at or below 10.
bool LastLineFaint(lvBitMapHandle *plane, int x, int y, int width, int height, int column) {
    if (width < 1 || height < 1) return false;
    uint8_t *p;
    int row;
    uintptr_t token = GetPlanePixels(plane, &p, &row, 0);
    if (!token || !p) return false;
    bool faint = true;
    if (column)
        for (int i = 0; i < height && faint; i++) faint = p[(size_t)(y + i) * row + x + width - 1] <= 10;
    else
        for (int i = 0; i < width && faint; i++) faint = p[(size_t)(y + height - 1) * row + x + i] <= 10;
    ReleasePlanePixels(token);
    return faint;
}

// The coverage as pens: covered pixels (coverage at least half) take the pen, the others
// the background pen. 0 or ERR_ALLOCCHUNKY.
int CoverageToPens(lvBitMapHandle *coverage, int width, int height, int pen, int background, lvBitMapHandle **out) {
    lvBitMapHandle *pens = AllocChunkyBitmap(width, height, 0);
    if (!pens) return ERR_ALLOCCHUNKY;
    uint8_t *from, *to;
    int fromRow, toRow;
    uintptr_t a = GetPlanePixels(coverage, &from, &fromRow, 0);
    uintptr_t b = a ? GetPlanePixels(pens, &to, &toRow, 1) : 0;
    if (!a || !b) {
        if (a) ReleasePlanePixels(a);
        FreeBitmapHandle(pens);
        return ERR_ALLOCCHUNKY;
    }
    for (int y = 0; y < height; y++)
        for (int x = 0; x < width; x++)
            to[(size_t)y * toRow + x] = (uint8_t)(from[(size_t)y * fromRow + x] >= 128 ? pen : background);
    ReleasePlanePixels(b);
    ReleasePlanePixels(a);
    *out = pens;
    return 0;
}

}  // namespace

int BuildShapeLayerMask(void *layer, void *graphics, uint32_t colour, int pen, int paletteMode, int borderSize,
                        int flags, lvShapeLayerMask *out) {
    *out = lvShapeLayerMask{};
    if (!layerServices.LayerShape) return ERR_UNIMPLCMD;
    int borderForm = 0;
    const lvShapeLayerShape *s = layerServices.LayerShape(layerServices.context, layer, graphics, &borderForm);
    if (!s) return ERR_UNIMPLCMD;
    const bool pens = pen == LAYERMASK_PALETTEPEN;
    // The job as the shape was drawn, filled, only its coverage wanted.
    lvShapeJob job{};
    job.type = s->type;
    job.width = s->width, job.height = s->height;
    job.radiusX = s->radiusX, job.radiusY = s->radiusY;
    job.startAngle = s->startAngle, job.endAngle = s->endAngle, job.clockwise = s->clockwise;
    job.cornerA = s->corners[0], job.cornerB = s->corners[1], job.cornerC = s->corners[2], job.cornerD = s->corners[3];
    job.points = s->points, job.pointCount = s->pointCount;
    job.lineBased = s->lineBased;
    job.maskOnly = 1;
    job.colour = colour & 0xFFFFFFu;
    job.transform.matrix = LayerMatrix(layer, s, flags);
    job.transform.anchorX = s->anchorX, job.transform.anchorY = s->anchorY;
    job.style.fillStyle = FILLCOLOR;
    job.style.lineWidth = 1;
    // Pens are not blended: a pen plane is never anti-aliased.
    job.style.formStyle = (pens ? 0 : s->formStyle & FORM_ANTIALIAS) | (borderForm && borderSize > 0 ? FORM_BORDER : 0);
    job.style.borderSize = borderSize;
    double fill[2 * SHAPE_MAXPOINTS], border[2 * SHAPE_MAXPOINTS];
    int w, h, nf = 0, nb = 0;
    const bool vector = !(job.lineBased || job.type == SHAPE_POLYGON || job.type == SHAPE_LINE || job.type == SHAPE_BOX);
    if (!vector) {
        int rc = BuildShapeOutline(&job, &w, &h, fill, &nf, border, &nb);
        if (rc) return rc;
    } else {
        ReadShapeStyle(&job);
        int b = job.hasBorder ? borderSize : 0;
        MeasureShape(&job, &w, &h, 1, b);
        job.shapeW = w, job.shapeH = h;
    }
    // Without the border form the shape alone sits in a canvas grown by twice the
    // border as it looks after the transform.
    int grow = 0;
    if (!borderForm) {
        grow = static_cast<int>(2 * GetTransformedBorderWidth(&job.transform.matrix, job.width, job.height, borderSize));
        grow = std::max(grow, 2);
    }
    int cw = job.shapeW + grow, ch = job.shapeH + grow;
    lvBitMapHandle *plane = AllocAlphaBitmap(cw, ch, 1, nullptr, 0);
    if (!plane) return ERR_ALLOCALPHA;
    int at = grow / 2;
    int rc = 0;
    if (nf > 0) {
        lvOutlineRequest r{};
        r.colour = 0xFFFFFF;
        r.xOffset = at, r.yOffset = at, r.width = job.shapeW, r.height = job.shapeH;
        r.alpha = plane;
        r.points = nb ? border : fill;
        r.count = nb ? nb : nf;
        r.antiAlias = job.antiAlias;
        r.filled = !job.antiAlias;
        rc = PaintOutline(&r);
    } else {
        lvVectorShape v;
        SetVectorShapeFromJob(&v, &job);
        v.filled = 1;
        v.borderGrowth = job.hasBorder ? borderSize : 0;
        v.offsetX = v.offsetY = at;
        rc = RenderVectorShape(&v, plane);
    }
    if (rc) {
        FreeBitmapHandle(plane);
        return rc == ERR_LOCKBMAP ? ERR_ALLOCALPHA : rc;
    }
    out->width = cw, out->height = ch;
    out->offsetX = -at - (job.hasBorder ? borderSize : 0);
    out->offsetY = -at - (job.hasBorder ? borderSize : 0);
    // The vector engine's coverage of an untransformed shape can end in an all but empty
    // column or row of the shape's area: the shape then lies one pixel further on than its
    // area says, and the coverage moves with it.
    if (vector && !borderForm && IsIdentity(job.transform.matrix)) {
        if (LastLineFaint(plane, at, at, job.shapeW, job.shapeH, 1)) out->offsetX += 1;
        if (LastLineFaint(plane, at, at, job.shapeW, job.shapeH, 0)) out->offsetY += 1;
    }
    if (!pens) {
        out->alpha = plane;
        return 0;
    }
    // Palette outputs: pens, and the palette that gives them their colours.
    const int covered = paletteMode == PALETTEMODE_REMAP ? 1 : pen;
    const int background = covered == 0 ? 1 : 0;
    auto *palette = static_cast<uint32_t *>(AllocMemory(256 * sizeof(uint32_t), 1));
    if (!palette) {
        FreeBitmapHandle(plane);
        *out = lvShapeLayerMask{};
        return ERR_MEM;
    }
    const uint32_t *layerPalette =
        layerServices.LayerPalette ? layerServices.LayerPalette(layerServices.context, layer) : nullptr;
    if (paletteMode != PALETTEMODE_REMAP && layerPalette)
        std::memcpy(palette, layerPalette, 256 * sizeof(uint32_t));
    else
        palette[covered] = colour & 0xFFFFFFu;
    lvBitMapHandle *penPlane = nullptr;
    rc = CoverageToPens(plane, cw, ch, covered, background, &penPlane);
    FreeBitmapHandle(plane);
    if (rc) {
        FreeMemory(palette);
        *out = lvShapeLayerMask{};
        return rc;
    }
    out->pens = penPlane;
    out->palette = palette;
    out->transparentPen = background;
    return 0;
}

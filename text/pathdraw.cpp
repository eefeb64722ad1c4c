// pathdraw.cpp - drawing a vector path: its boxes measured by the engine, its
// fill, border and shadow coverage drawn by the engine into the shape engine's
// planes, and composed and put on the output by the shape engine. Also the
// draw library's shapes drawn as paths (ForcePathUse).
//
// Depends on: text/lvvectorpath.h, images/lvdraw.h (the shape engine),
// raster/lvbitmap.h.
// Limits: script thread only.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "base/lverrors.h"
#include "images/lvdraw.h"
#include "raster/lvbitmap.h"
#include "raster/lvraster.h"
#include "raster/lvrect.h"
#include "text/lvtextlib.h"
#include "text/lvvectorpath.h"

namespace {

constexpr double kLimit = 32767.0;

struct PathDraw {
    const uint8_t *buffer;
    const lvVectorEngine *engine;
    lvVectorStyle style;
    double matrix[4];
    int filled, lineWidth;
    int fx, fy, fw, fh;          // the fill box in path pixels
    int ox, oy, ow, oh;          // the box of the border outline (the fill box without one)
    int degenerate;
    int specialX, specialY;      // special coordinates: the box itself is placed
    int borderWidth;
};

bool BoxToPixels(const double e[4], int *x, int *y, int *w, int *h, int *degenerate)
{
    for (int i = 0; i < 4; i++)
        if (!std::isfinite(e[i]) || std::fabs(e[i]) > kLimit) return false;
    double x1 = std::floor(e[0]), y1 = std::floor(e[1]), x2 = std::ceil(e[2]), y2 = std::ceil(e[3]);
    *x = (int)x1, *y = (int)y1, *w = (int)(x2 - x1), *h = (int)(y2 - y1);
    if (*w <= 0 || *h <= 0) {
        *degenerate = 1;
        *w = std::max(*w, 1), *h = std::max(*h, 1);
    }
    return true;
}

void Extents(const PathDraw *d, int filled, int lineWidth, double out[4])
{
    lvPathExtentsRequest r{};
    r.buffer = d->buffer;
    r.style = &d->style;
    r.filled = filled;
    r.lineWidth = lineWidth;
    r.matrix = d->matrix;
    d->engine->GetPathExtents(&r);
    out[0] = r.x1, out[1] = r.y1, out[2] = r.x2, out[3] = r.y2;
}

int Geometry(void *context, lvShapeJob *job)
{
    auto *d = (PathDraw *)context;
    d->ox = d->fx, d->oy = d->fy, d->ow = d->fw, d->oh = d->fh;
    d->borderWidth = job->hasBorder ? 2 * job->borderSize : 0;
    if (job->hasBorder && !d->degenerate) {
        double e[4];
        Extents(d, 0, d->borderWidth, e);
        int x, y, w, h, degenerate = 0;
        if (!BoxToPixels(e, &x, &y, &w, &h, &degenerate)) return ERR_DRAWPATH;
        if (!degenerate) {
            int x2 = std::max(x + w, d->fx + d->fw), y2 = std::max(y + h, d->fy + d->fh);
            d->ox = std::min(x, d->fx), d->oy = std::min(y, d->fy);
            d->ow = x2 - d->ox, d->oh = y2 - d->oy;
        }
    }
    int sx = 0, sy = 0, shx = 0, shy = 0, cw = d->ow, ch = d->oh;
    if (job->hasShadow) {
        ShadowPlacement(job->shadowSize, job->shadowDirection, &sx, &sy, &shx, &shy);
        AddShadowExtent(job->shadowDirection, job->shadowSize, &cw, &ch);
    }
    job->shapeW = d->ow, job->shapeH = d->oh;
    job->canvasW = cw, job->canvasH = ch;
    job->shapeX = sx, job->shapeY = sy;
    job->outX = (d->specialX ? job->x - d->fx : job->x) + d->ox - sx;
    job->outY = (d->specialY ? job->y - d->fy : job->y) + d->oy - sy;
    return 0;
}

// The plane is the window of the box at originX, originY that begins skipX, skipY
// into it; only the built-in engine is given windows.
int DrawInto(const PathDraw *d, uint8_t *pixels, int rowBytes, int width, int height, int filled, int lineWidth,
             int originX, int originY, int antiAlias, int skipX = 0, int skipY = 0)
{
    lvVectorStyle vs = d->style;
    vs.antiAlias = antiAlias;
    lvPathDrawRequest r{};
    r.buffer = d->buffer;
    r.style = &vs;
    r.filled = filled;
    r.lineWidth = lineWidth;
    r.pixels = pixels;
    r.rowBytes = rowBytes;
    r.width = width, r.height = height;
    if (d->engine->flags & VECENGINE_ORIGINSECOND)
        r.origin[2] = originX, r.origin[3] = originY;
    else
        r.origin[0] = originX, r.origin[1] = originY;
    r.matrix = d->matrix;
    if (skipX || skipY) return DrawInbuiltPathWindow(&r, skipX, skipY) ? 0 : ERR_DRAWPATH;
    return d->engine->DrawPath(&r) ? 0 : ERR_DRAWPATH;
}

int Coverage(void *context, const lvShapeJob *job, lvBitMapHandle *plane, int edge)
{
    auto *d = (PathDraw *)context;
    if (d->degenerate) return 0;
    uint8_t *pixels;
    int row;
    uintptr_t token = GetPlanePixels(plane, &pixels, &row, 1);
    if (!token) return ERR_LOCKBMAP;
    int rc = 0;
    const int w = plane->width, h = plane->height;
    // The plane begins clipLeft, clipTop into the outline box (a shape much larger
    // than the output is rendered where it can show); the fill box sits inside the
    // outline box.
    const int left = d->fx - d->ox - job->clipLeft, top = d->fy - d->oy - job->clipTop;
    const int x0 = std::max(0, left), y0 = std::max(0, top);
    const int fw = std::min(w, left + d->fw) - x0, fh = std::min(h, top + d->fh) - y0;
    const int skipX = x0 - left, skipY = y0 - top;
    if (!edge) {
        if (fw > 0 && fh > 0)
            rc = DrawInto(d, pixels + (size_t)y0 * row + x0, row, fw, fh, d->filled, d->lineWidth, d->fx, d->fy,
                          job->antiAlias, skipX, skipY);
    } else {
        // The border's coverage: the outline stroked at twice the border size,
        // with the fill inside it.
        rc = DrawInto(d, pixels, row, w, h, 0, d->borderWidth, d->ox, d->oy, job->antiAlias, job->clipLeft,
                      job->clipTop);
        if (!rc && fw > 0 && fh > 0) {
            std::vector<uint8_t> inner;
            try {
                inner.assign((size_t)fw * fh, 0);
            } catch (...) {
                rc = ERR_MEM;
            }
            if (!rc)
                rc = DrawInto(d, inner.data(), fw, fw, fh, d->filled, d->lineWidth, d->fx, d->fy, job->antiAlias,
                              skipX, skipY);
            for (int y = 0; !rc && y < fh; y++) {
                uint8_t *t = pixels + (size_t)(y + y0) * row + x0;
                const uint8_t *s = inner.data() + (size_t)y * fw;
                for (int x = 0; x < fw; x++) t[x] = std::max(t[x], s[x]);
            }
        }
    }
    ReleasePlanePixels(token);
    return rc;
}

bool IsSpecial(int v) { return ResolveSpecialX(v, 0, 100000, 0) != v; }

}  // namespace

int DrawPathBuffer(void *state, const lvPath *path, const lvPathStyle *pathStyle, const lvVectorEngine *engine, int x,
                   int y, uint32_t colour, const lvDrawTags *tags, lvStyleTags *styleTags, lvShapeImageResult *image,
                   const lvObjectId *source)
{
    if (!engine) engine = GetInbuiltVectorEngine();
    if (!engine || !engine->GetPathExtents || !engine->DrawPath) return ERR_VECGFXPLUGIN;
    if (!path->buffer) return ERR_EMPTYPATH;
    lvDrawOutput o;
    if (!image)
        if (int code = CaptureDrawOutput(state, &o, 0)) return code;
    lvTextLibrary *text = GetTextLibrary();
    if (text)
        if (int code = ResolvePathFonts(&text->vectorFonts, IsInbuiltVectorEngine(engine) ? nullptr : engine,
                                        path->buffer, path->writePos + 4))
            return code;
    if (!PathCoordinatesFit(path->buffer, path->writePos + 4, 0, 0)) return ERR_DRAWPATH;
    const lvDrawStyle *draw = image ? &pathStyle->drawStyle : GetDrawStyle();
    PathDraw d{};
    d.buffer = path->buffer;
    d.engine = engine;
    MakeVectorStyle(pathStyle, draw, &d.style);
    d.filled = draw->fillStyle != FILLNONE;
    d.lineWidth = std::max(1, draw->lineWidth);
    d.matrix[0] = 1, d.matrix[1] = 0, d.matrix[2] = 0, d.matrix[3] = 1;
    if (tags) {
        const lvMatrix2D &m = tags->matrix;
        d.matrix[0] = m.sx, d.matrix[1] = m.rx, d.matrix[2] = m.ry, d.matrix[3] = m.sy;
    }
    double e[4];
    Extents(&d, d.filled, d.lineWidth, e);
    if (!BoxToPixels(e, &d.fx, &d.fy, &d.fw, &d.fh, &d.degenerate)) return ERR_DRAWPATH;
    d.specialX = IsSpecial(x), d.specialY = IsSpecial(y);
    // Special coordinates are resolved against the output later; plain ones must fit.
    if ((!d.specialX && std::fabs((double)x + d.fx) > kLimit) || (!d.specialY && std::fabs((double)y + d.fy) > kLimit))
        return ERR_DRAWPATH;
    // Only the built-in engine draws windows of a box: other engines get planes of the whole box.
    lvPathShapeHooks hooks{&d, Geometry, Coverage, IsInbuiltVectorEngine(engine), source ? source->number : 0,
                           source ? source->handle : nullptr};
    return DrawPathShape(state, draw, x, y, d.fw, d.fh, colour, RasterState.paletteMode, tags, styleTags, 0, &hooks,
                         image);
}

int DrawPathById(void *state, lvObjectId id, int x, int y, uint32_t colour, const lvDrawTags *tags,
                 lvStyleTags *styleTags)
{
    lvPath *p;
    if (int code = FindPathById(id, &p)) return code;
    return DrawPathBuffer(state, p, CurrentPathStyle(), ServingVectorEngine(), x, y, colour, tags, styleTags, nullptr,
                          &id);
}

// ---- Shapes as paths --------------------------------------------------------------------------

namespace {

int DrawShapeAsPath(void *state, const lvShapeAsPath *s)
{
    lvObjectId id = {0, nullptr};
    lvPath *p;
    if (int code = StartPath(&id, &p)) return code;
    int rc = 0;
    switch (s->type) {
    case SHAPE_BOX: {
        lvPathArg a[8] = {PathDouble(0),          PathDouble(0),          PathDouble(s->width),
                          PathDouble(s->height),  PathInt(s->corners[0]), PathInt(s->corners[1]),
                          PathInt(s->corners[2]), PathInt(s->corners[3])};
        rc = AppendPathCommandTo(p, PATHCMD_BOX, 8, a);
        break;
    }
    case SHAPE_CIRCLE:
    case SHAPE_ELLIPSE: {
        double rx = s->radiusX, ry = s->radiusY;
        lvPathArg a[7] = {PathDouble(rx), PathDouble(ry), PathDouble(rx), PathDouble(ry),
                          PathDouble(0),  PathDouble(360), PathInt(1)};
        rc = AppendPathCommandTo(p, PATHCMD_ARC, 7, a);
        break;
    }
    case SHAPE_POLYGON:
        for (int i = 0; !rc && i < s->count; i++) {
            lvPathArg a[3] = {PathInt(0), PathDouble(s->points[2 * i]), PathDouble(s->points[2 * i + 1])};
            rc = AppendPathCommandTo(p, i ? PATHCMD_LINETO : PATHCMD_MOVETO, 3, a);
        }
        break;
    case SHAPE_ARC: {
        double rx = s->radiusX, ry = s->radiusY;
        lvPathArg m[3] = {PathInt(0), PathDouble(rx), PathDouble(ry)};
        lvPathArg a[7] = {PathDouble(rx),       PathDouble(ry),     PathDouble(rx),           PathDouble(ry),
                          PathDouble(s->start), PathDouble(s->end), PathInt(s->clockwise ? 1 : 0)};
        rc = AppendPathCommandTo(p, PATHCMD_MOVETO, 3, m);
        if (!rc) rc = AppendPathCommandTo(p, PATHCMD_ARC, 7, a);
        break;
    }
    default: rc = ERR_WRONGUSAGE; break;
    }
    if (!rc) rc = AppendPathCommandTo(p, PATHCMD_CLOSEPATH, 0, nullptr);
    // The path is the drawing's own, freed below: no layer names it.
    if (!rc)
        rc = DrawPathBuffer(state, p, CurrentPathStyle(), ServingVectorEngine(), s->x, s->y, s->colour, s->tags,
                            s->styleTags);
    RemovePath(id);
    return rc;
}

}  // namespace

int GetForcePathUse() { return GetShapeAsPathHook() != nullptr; }
void SetForcePathUse(int on) { SetShapeAsPathHook(on ? DrawShapeAsPath : nullptr); }

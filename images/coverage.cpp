// coverage.cpp - the bridge to the polygon and line rasteriser (OpenCV's
// drawing functions over our own zeroed 8-bit planes, in the module lv_cvshapes.so
// opened at the first shape that needs it), the outline entry of the
// shape and line engines, one-pixel lines into raw pixels and bitmaps, the
// scanline polygon-to-mask filler, and the two drawing entries of the plug-in
// interface.
//
// Depends on: images/lvpaint.h, images/cv_module.h, raster/lvbitmap.h,
// platform/lvplatform.h, runtime/modules.h.
// Limits: script thread only (plug-in entries: the calling thread).
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <vector>

#include "base/lverrors.h"
#include "images/cv_module.h"
#include "images/lvpaint.h"
#include "platform/lvplatform.h"
#include "runtime/modules.h"
#include "runtime/plugin.h"

// ---- Coverage images ---------------------------------------------------------------

int CreateCoverageImage(int width, int height, lvCoverageImage **image, uint8_t **pixels, int *rowBytes) {
    *image = nullptr;
    if (width <= 0 || height <= 0) return ERR_MEM;
    int row = (width + 3) & ~3;
    auto *img = static_cast<lvCoverageImage *>(AllocMemory(sizeof(lvCoverageImage), 1));
    if (!img) return ERR_MEM;
    img->pixels = static_cast<uint8_t *>(AllocMemory(static_cast<size_t>(row) * height, 1));
    if (!img->pixels) {
        FreeMemory(img);
        return ERR_MEM;
    }
    img->width = width;
    img->height = height;
    img->rowBytes = row;
    *image = img;
    if (pixels) *pixels = img->pixels;
    if (rowBytes) *rowBytes = row;
    return 0;
}

void FreeCoverageImage(lvCoverageImage *image) {
    if (!image) return;
    FreeMemory(image->pixels);
    FreeMemory(image);
}

namespace {

// Largest magnitude the rasteriser is handed, in units of its fixed point.
constexpr double kPointLimit = 1073741824.0;  // 2^30

// The fixed-point shift at which every 16.16 value fits: 16 while the points
// stay within +-16384 px, fewer fractional bits beyond. -1 for NaN or infinity.
int ChooseShift(const double *points, int count) {
    double most = 0;
    for (int k = 0; k < 2 * count; k++) {
        if (!std::isfinite(points[k])) return -1;
        most = std::max(most, std::fabs(points[k]));
    }
    int shift = 16;
    while (shift > 0 && most / double(1 << (16 - shift)) > kPointLimit) shift--;
    return shift;
}

int ToFixed(double v, int shift) {
    double t = std::trunc(v / double(1 << (16 - shift)));
    return static_cast<int>(std::clamp(t, -kPointLimit, kPointLimit));
}

}  // namespace

namespace {

// Cuts a closed polygon (16.16 pairs) to the rectangle lo..hi on both axes
// (Sutherland-Hodgman). The rasteriser walks every row of a polygon's full
// extent, so far-off points are brought near the plane first; the cut runs
// outside the plane by more than any stroke reaches, so no pixel changes.
bool CutPolygon(std::vector<double> &p, double loX, double loY, double hiX, double hiY) {
    std::vector<double> out;
    for (int edge = 0; edge < 4; edge++) {
        size_t n = p.size() / 2;
        if (n == 0) return false;
        out.clear();
        auto inside = [&](const double *q) {
            switch (edge) {
            case 0: return q[0] >= loX;
            case 1: return q[0] <= hiX;
            case 2: return q[1] >= loY;
            default: return q[1] <= hiY;
            }
        };
        auto cross = [&](const double *a, const double *b) {
            double t;
            if (edge < 2) {
                double x = edge == 0 ? loX : hiX;
                t = (x - a[0]) / (b[0] - a[0]);
                out.push_back(x);
                out.push_back(a[1] + t * (b[1] - a[1]));
            } else {
                double y = edge == 2 ? loY : hiY;
                t = (y - a[1]) / (b[1] - a[1]);
                out.push_back(a[0] + t * (b[0] - a[0]));
                out.push_back(y);
            }
        };
        for (size_t i = 0; i < n; i++) {
            const double *a = &p[2 * ((i + n - 1) % n)], *b = &p[2 * i];
            bool ia = inside(a), ib = inside(b);
            if (ib) {
                if (!ia) cross(a, b);
                out.push_back(b[0]);
                out.push_back(b[1]);
            } else if (ia) {
                cross(a, b);
            }
        }
        p.swap(out);
    }
    return !p.empty();
}

// An outline that is an upright rectangle (four corners, closed or not), stroked hard at
// a width above 1: each side becomes a band exactly `thickness` pixels across, thickness / 2
// of them outside the edge pixels and the rest inside, so that all four sides agree (the
// round-capped wide lines of the polygon stroker come out a pixel or two wider, and
// unevenly). false when the outline is no such rectangle.
bool StrokeUprightRectangle(lvCoverageImage *m, const double *points, int count, int thickness) {
    if (count == 5 && (points[8] != points[0] || points[9] != points[1])) return false;
    if (count != 4 && count != 5) return false;
    for (int k = 0; k < 4; k++) {
        const double *a = &points[2 * k], *b = &points[2 * ((k + 1) % 4)];
        if ((a[0] != b[0]) == (a[1] != b[1])) return false;  // neither or both coordinates change
    }
    double lx = points[0], hx = points[0], ly = points[1], hy = points[1];
    for (int k = 1; k < 4; k++) {
        lx = std::min(lx, points[2 * k]), hx = std::max(hx, points[2 * k]);
        ly = std::min(ly, points[2 * k + 1]), hy = std::max(hy, points[2 * k + 1]);
    }
    const double limit = 1 << 28;  // whole pixels the integer arithmetic below holds
    if (!(std::fabs(lx) < limit * 65536 && std::fabs(hx) < limit * 65536 && std::fabs(ly) < limit * 65536 &&
          std::fabs(hy) < limit * 65536) ||
        thickness >= (1 << 20))
        return false;
    const int x0 = static_cast<int>(std::lround(lx / 65536)), x1 = static_cast<int>(std::lround(hx / 65536));
    const int y0 = static_cast<int>(std::lround(ly / 65536)), y1 = static_cast<int>(std::lround(hy / 65536));
    const int out = thickness / 2, in = thickness - 1 - out;
    auto band = [&](int left, int top, int right, int bottom) {
        left = std::max(left, 0), top = std::max(top, 0);
        right = std::min(right, m->width - 1), bottom = std::min(bottom, m->height - 1);
        if (right < left || bottom < top) return;
        for (int y = top; y <= bottom; y++)
            std::memset(m->pixels + static_cast<size_t>(y) * m->rowBytes + left, 255, static_cast<size_t>(right - left + 1));
    };
    band(x0 - out, y0 - out, x1 + out, y0 + in);  // top, corners included
    band(x0 - out, y1 - in, x1 + out, y1 + out);  // bottom
    band(x0 - out, y0 - out, x0 + in, y1 + out);  // left
    band(x1 - in, y0 - out, x1 + out, y1 + out);  // right
    return true;
}

lvOptionalModule cvShapes = {LV_CVSHAPES_MODULE_FILE, LV_CVSHAPES_MODULE_ENTRY, "OpenCV", 0, nullptr, nullptr};

const lvCvShapesModule *Rasteriser() {
    return static_cast<const lvCvShapesModule *>(LoadOptionalModule(&cvShapes));
}

}  // namespace

void ForgetShapeRasteriser() { ForgetOptionalModule(&cvShapes); }

int RasterisePolygon(lvCoverageImage *image, const double *points, int count, int antiAlias, int thickness) {
    if (!image || !points || count < 1) return 0;
    if (ChooseShift(points, count) < 0) return 0;
    std::vector<double> cut;
    try {
        double margin = (std::max(thickness, 0) + 4) * 65536.0;
        double loX = -margin, loY = -margin, hiX = image->width * 65536.0 + margin, hiY = image->height * 65536.0 + margin;
        bool far = false;
        for (int k = 0; k < count && !far; k++)
            far = points[2 * k] < loX || points[2 * k] > hiX || points[2 * k + 1] < loY || points[2 * k + 1] > hiY;
        if (far) {
            cut.assign(points, points + 2 * static_cast<size_t>(count));
            if (!CutPolygon(cut, loX, loY, hiX, hiY)) return 1;  // nothing near the plane
            points = cut.data();
            count = static_cast<int>(cut.size() / 2);
        }
    } catch (...) {
        return 0;
    }
    int shift = ChooseShift(points, count);
    if (shift < 0) return 0;
    if (thickness > 1 && !antiAlias && cut.empty() && StrokeUprightRectangle(image, points, count, thickness))
        return 1;
    const lvCvShapesModule *cv = Rasteriser();
    if (!cv) return -1;
    std::vector<int> pts;
    try {
        pts.resize(2 * static_cast<size_t>(count));
    } catch (...) {
        return 0;
    }
    for (int k = 0; k < 2 * count; k++) pts[k] = ToFixed(points[k], shift);
    return cv->Polygon(image->pixels, image->width, image->height, image->rowBytes, pts.data(), count, antiAlias,
                       thickness, shift);
}

int RasteriseLine(lvCoverageImage *image, int x1, int y1, int x2, int y2, int antiAlias, int thickness) {
    if (!image) return 0;
    const lvCvShapesModule *cv = Rasteriser();
    if (!cv) return -1;
    return cv->Line(image->pixels, image->width, image->height, image->rowBytes, x1, y1, x2, y2, antiAlias, thickness);
}

// ---- PaintOutline ----------------------------------------------------------------------

namespace {

// Every lock of one painting call, released in the destructor.
struct OutlineLocks {
    lvScopedLock *rgb = nullptr, *source = nullptr;
    uintptr_t mask = 0, alpha = 0, pens = 0, clip = 0;
    ~OutlineLocks() {
        delete rgb;
        delete source;
        if (mask) ReleasePlanePixels(mask);
        if (alpha) ReleasePlanePixels(alpha);
        if (pens) ReleasePlanePixels(pens);
        if (clip) ReleasePlanePixels(clip);
    }
};

}  // namespace

int PaintOutline(const lvOutlineRequest *r) {
    lvPaintContext c{};
    OutlineLocks locks;
    int tw = INT_MAX, th = INT_MAX;
    // 1. Planes.
    if (r->rgb) {
        locks.rgb = new (std::nothrow) lvScopedLock(r->rgb, 0);
        if (!locks.rgb || !*locks.rgb) return ERR_LOCKBMAP;
        const lvBitMapLock &l = locks.rgb->lock;
        c.rgbPixels = l.pixels;
        c.rgbRowPixels = l.rowLength;
        c.bytesPerPixel = l.bytesPerPixel;
        c.pixelFormat = l.format;
        tw = std::min(tw, r->rgb->width);
        th = std::min(th, r->rgb->height);
    } else if (r->rawRgb) {
        c.rgbPixels = r->rawRgb;
        c.rgbRowPixels = r->rawRgbRowPixels;
        c.bytesPerPixel = 4;
        c.pixelFormat = r->rawFormat;
        tw = std::min(tw, r->rawRgbRowPixels);
        if (r->rawHeight > 0) th = std::min(th, r->rawHeight);
    }
    if (r->mask) {
        int row;
        locks.mask = GetPlanePixels(r->mask, &c.maskPixels, &row, 1);
        if (!locks.mask) return ERR_LOCKBMAP;
        c.maskRowBytes = row;
        tw = std::min(tw, r->mask->width);
        th = std::min(th, r->mask->height);
    } else if (r->rawMask) {
        c.maskPixels = r->rawMask;
        c.maskRowBytes = r->rawMaskRowBytes;
        tw = std::min(tw, r->rawMaskRowBytes * 8);
        if (r->rawHeight > 0) th = std::min(th, r->rawHeight);
    }
    if (r->alpha) {
        int row;
        locks.alpha = GetPlanePixels(r->alpha, &c.alphaPixels, &row, 1);
        if (!locks.alpha) return ERR_LOCKBMAP;
        c.alphaRowBytes = row;
        tw = std::min(tw, r->alpha->width);
        th = std::min(th, r->alpha->height);
    } else if (r->rawAlpha) {
        c.alphaPixels = r->rawAlpha;
        c.alphaRowBytes = r->rawAlphaRowBytes;
        tw = std::min(tw, r->rawAlphaRowBytes);
        if (r->rawHeight > 0) th = std::min(th, r->rawHeight);
    }
    if (r->source && c.rgbPixels) {
        locks.source = new (std::nothrow) lvScopedLock(r->source, LOCK_READONLY);
        if (!locks.source || !*locks.source) return ERR_LOCKBMAP;
        c.sourcePixels = locks.source->lock.pixels;
        c.sourceRowPixels = locks.source->lock.rowLength;
        // Pixels are read where they are painted: never beyond the source.
        tw = std::min(tw, r->source->width);
        th = std::min(th, r->source->height);
    }
    if (r->penSource && c.alphaPixels) {
        int row;
        uint8_t *p;
        locks.pens = GetPlanePixels(r->penSource, &p, &row, 0);
        if (!locks.pens) return ERR_LOCKBMAP;
        c.penSource = p;
        c.penSourceRowBytes = row;
        tw = std::min(tw, r->penSource->width);
        th = std::min(th, r->penSource->height);
    }
    if (r->clip) {
        c.clipActive = 1;
        c.clipX = r->clip->x;
        c.clipY = r->clip->y;
        c.clipWidth = r->clip->width;
        c.clipHeight = r->clip->height;
        if (r->clip->mask) {
            int row;
            uint8_t *p;
            locks.clip = GetPlanePixels(r->clip->mask, &p, &row, 0);
            if (!locks.clip) return ERR_LOCKBMAP;
            c.clipMask = p;
            c.clipMaskRowBytes = row;
            // A mask smaller than its rectangle hides what it does not cover.
            c.clipWidth = std::min(c.clipWidth, r->clip->mask->width);
            c.clipHeight = std::min(c.clipHeight, r->clip->mask->height);
        }
    }
    if (!c.rgbPixels && !c.maskPixels && !c.alphaPixels) return 0;
    c.targetWidth = tw;
    c.targetHeight = th;
    SetPaintColour(&c, r->colour & 0xFFFFFFu);
    c.opacity = c.coverage = 255 - std::clamp(r->transparency, 0, 255);
    c.lineWidth = 1;
    c.maskMode = r->maskMode;
    c.alphaOver = r->alphaOver;
    if (!r->points) return 0;

    // 2. One-pixel lines.
    if (r->line && r->lineThickness <= 1) {
        const double *p = r->points;
        for (int k = 0; k < 4; k++)
            if (!std::isfinite(p[k]) || std::fabs(p[k]) > kPointLimit) return 0;
        int x1 = static_cast<int>(p[0]) + r->xOffset, y1 = static_cast<int>(p[1]) + r->yOffset;
        int x2 = static_cast<int>(p[2]) + r->xOffset, y2 = static_cast<int>(p[3]) + r->yOffset;
        // Far-off ends are cut so that only a bounded walk is made; ends near
        // the planes are kept, so the line's pixels stay those of the whole line.
        const int margin = 1 << 16;
        int right = static_cast<int>(std::min<int64_t>(tw, 1 << 29)) + margin;
        int bottom = static_cast<int>(std::min<int64_t>(th, 1 << 29)) + margin;
        if (!ClipLineToRange(&x1, &y1, &x2, &y2, 0, -margin, right) ||
            !ClipLineToRange(&x1, &y1, &x2, &y2, 1, -margin, bottom))
            return 0;
        if (r->antiAlias)
            PaintWuLine(&c, x1, y1, x2, y2);
        else
            PaintThickLine(&c, x1, y1, x2, y2);
        return 0;
    }

    // 3. Through a coverage image, made only over the part of the canvas that
    // can reach the planes (and the clip rectangle), so a far-off canvas costs
    // nothing; whole-pixel moves leave the rasterised coverage unchanged.
    int64_t wx0 = std::max<int64_t>(0, -int64_t(r->xOffset)), wy0 = std::max<int64_t>(0, -int64_t(r->yOffset));
    int64_t wx1 = std::min<int64_t>(r->width, int64_t(tw) - r->xOffset);
    int64_t wy1 = std::min<int64_t>(r->height, int64_t(th) - r->yOffset);
    if (c.clipActive) {
        wx0 = std::max<int64_t>(wx0, int64_t(c.clipX) - r->xOffset);
        wy0 = std::max<int64_t>(wy0, int64_t(c.clipY) - r->yOffset);
        wx1 = std::min<int64_t>(wx1, int64_t(c.clipX) + c.clipWidth - r->xOffset);
        wy1 = std::min<int64_t>(wy1, int64_t(c.clipY) + c.clipHeight - r->yOffset);
    }
    if (wx0 >= wx1 || wy0 >= wy1) return 0;
    if ((wx1 - wx0) * (wy1 - wy0) > (int64_t(1) << 30)) return ERR_MEM;
    int ww = static_cast<int>(wx1 - wx0), wh = static_cast<int>(wy1 - wy0);
    lvCoverageImage *img = nullptr;
    uint8_t *pixels;
    int row;
    if (CreateCoverageImage(ww, wh, &img, &pixels, &row)) return ERR_MEM;
    bool aa;
    int drawn;
    if (r->line) {
        const double *p = r->points;
        for (int k = 0; k < 4; k++)
            if (!std::isfinite(p[k]) || std::fabs(p[k]) > kPointLimit) {
                FreeCoverageImage(img);
                return 0;
            }
        aa = r->antiAlias != 0;
        drawn = RasteriseLine(img, static_cast<int>(p[0] - wx0), static_cast<int>(p[1] - wy0), static_cast<int>(p[2] - wx0),
                      static_cast<int>(p[3] - wy0), aa, r->lineThickness);
    } else {
        std::vector<double> moved;
        try {
            moved.assign(r->points, r->points + 2 * static_cast<size_t>(std::max(r->count, 0)));
        } catch (...) {
            FreeCoverageImage(img);
            return ERR_MEM;
        }
        for (size_t k = 0; k < moved.size(); k += 2) {
            moved[k] -= double(wx0) * 65536.0;
            moved[k + 1] -= double(wy0) * 65536.0;
        }
        aa = r->antiAlias && !r->filled;
        drawn = RasterisePolygon(img, moved.data(), r->count, aa, r->filled ? 0 : r->outlineThickness);
    }
    if (drawn < 0) {
        FreeCoverageImage(img);
        return ERR_NEEDEXTLIB;
    }
    CompositeCoverage(pixels, r->xOffset + static_cast<int>(wx0), r->yOffset + static_cast<int>(wy0), &c, ww, wh, row,
                      aa ? 0 : 1);
    FreeCoverageImage(img);
    return 0;
}

// ---- One-pixel lines ---------------------------------------------------------------------

bool ClipLineToRange(int *x1, int *y1, int *x2, int *y2, int axis, int lo, int hi) {
    if (lo > hi) return false;
    int *a1 = axis ? y1 : x1, *b1 = axis ? x1 : y1, *a2 = axis ? y2 : x2, *b2 = axis ? x2 : y2;
    if ((*a1 < lo && *a2 < lo) || (*a1 > hi && *a2 > hi)) return false;
    auto cut = [&](int *a, int *b, int edge) {
        // The other end stays; this end moves along the segment onto the edge.
        int *oa = (a == a1) ? a2 : a1, *ob = (a == a1) ? b2 : b1;
        double t = double(edge - *oa) / double(*a - *oa);
        double nb = double(*ob) + t * double(*b - *ob);
        *b = static_cast<int>(std::lround(std::clamp(nb, double(INT_MIN), double(INT_MAX))));
        *a = edge;
    };
    if (*a1 < lo) cut(a1, b1, lo);
    else if (*a1 > hi) cut(a1, b1, hi);
    if (*a2 < lo) cut(a2, b2, lo);
    else if (*a2 > hi) cut(a2, b2, hi);
    return true;
}

void PlotLine(uint32_t colour, int pixelFormat, uint8_t *pixels, int x1, int y1, int x2, int y2, int opacity,
              int rowPixels, int rows) {
    if (!pixels || rowPixels <= 0 || GetPixelFormatBytes(pixelFormat) != 4) return;
    int bottom = rows > 0 ? rows - 1 : INT_MAX / 2;
    if (!ClipLineToRange(&x1, &y1, &x2, &y2, 0, 0, rowPixels - 1) ||
        !ClipLineToRange(&x1, &y1, &x2, &y2, 1, 0, bottom))
        return;
    lvPaintContext c{};
    c.rgbPixels = pixels;
    c.rgbRowPixels = rowPixels;
    c.bytesPerPixel = 4;
    c.pixelFormat = pixelFormat;
    SetPaintColour(&c, colour & 0xFFFFFFu);
    c.opacity = c.coverage = std::clamp(opacity, 0, 255);
    c.lineWidth = 1;
    c.targetWidth = rowPixels;
    c.targetHeight = rows > 0 ? rows : INT_MAX;
    PaintThickLine(&c, x1, y1, x2, y2);
}

static lvAdapterLineHook adapterLine;
void SetAdapterLineHook(lvAdapterLineHook hook) { adapterLine = hook; }

void PlotLineOnBitmap(lvBitMapHandle *bitmap, int x1, int y1, int x2, int y2, uint32_t colour) {
    if (!bitmap || bitmap->kind != BMKIND_RGB) return;
    if (adapterLine && (bitmap->video || AdapterOwnsBitmaps())) {
        int flags = bitmap->video ? 2 : 0;
        // The rgb of a selected mask or alpha channel takes the colour as it is; other
        // bitmaps get it in the adapter's alpha convention.
        const lvBlitDisplay *d = RasterState.currentDisplay;
        if (d && (d->target.kind == OUTPUT_MASK || d->target.kind == OUTPUT_ALPHA) && d->target.bitmap == bitmap)
            flags |= 4;
        adapterLine(bitmap->backing, x1, y1, x2, y2, (flags & 4) ? colour : ConvertColorForAdapter(colour, 0), flags);
        return;
    }
    lvScopedLock lock(bitmap, 0);
    if (!lock) return;
    PlotLine(colour, lock.lock.format, lock.lock.pixels, x1, y1, x2, y2, 255, lock.lock.rowLength,
             std::min(bitmap->height, lock.lock.height > 0 ? lock.lock.height : bitmap->height));
}

// ---- Polygon to mask --------------------------------------------------------------------

void MaskSpan(uint8_t *row, int x0, int x1) {
    for (int x = x0; x <= x1; x++) row[x >> 3] |= static_cast<uint8_t>(0x80 >> (x & 7));
}

namespace {

// The scanline rule of PolygonToMask, handing each span (row, x0, x1 inclusive, cut to
// 0..width - 1) to span.
template <typename Span>
void ScanPolygon(int *scratch, const int *points, int count, int width, int height, Span span) {
    int minY = points[1], maxY = points[1];
    for (int k = 1; k < count; k++) {
        minY = std::min(minY, points[2 * k + 1]);
        maxY = std::max(maxY, points[2 * k + 1]);
    }
    int y0 = std::max(minY, 0), y1 = std::min(maxY, height - 1);
    for (int y = y0; y <= y1; y++) {
        int n = 0;
        for (int k = 0; k < count; k++) {
            int prev = (k + count - 1) % count;
            int xa = points[2 * prev], ya = points[2 * prev + 1], xb = points[2 * k], yb = points[2 * k + 1];
            if (ya == yb) continue;
            int xl = ya < yb ? xa : xb, yl = std::min(ya, yb), xh = ya < yb ? xb : xa, yh = std::max(ya, yb);
            bool hit = y == maxY ? (yl < y && y <= yh) : (yl <= y && y < yh);
            if (!hit) continue;
            double x = xl + double(xh - xl) * double(y - yl) / double(yh - yl) + 0.5;
            int v = static_cast<int>(std::clamp(x, double(INT_MIN), double(INT_MAX)));
            int m = n++;
            while (m > 0 && scratch[m - 1] > v) {
                scratch[m] = scratch[m - 1];
                m--;
            }
            scratch[m] = v;
        }
        for (int k = 0; k + 1 < n; k += 2) {
            int a = std::max(scratch[k], 0), b = std::min(scratch[k + 1], width - 1);
            if (a <= b) span(y, a, b);
        }
    }
}

}  // namespace

void PolygonToMask(uint8_t *maskPixels, int rowBytes, int *scratch, const int *points, int count, int maskWidth,
                   int maskHeight) {
    if (!maskPixels || !scratch || !points || count < 2) return;
    ScanPolygon(scratch, points, count, maskWidth, maskHeight, [&](int y, int a, int b) {
        MaskSpan(maskPixels + static_cast<size_t>(y) * rowBytes, a, b);
    });
}

void FillPolygonBytes(uint8_t *pixels, int rowBytes, int width, int height, int value, const double *polygon,
                      int count) {
    if (!pixels || !polygon || count < 2) return;
    std::vector<int> ints, scratch;
    try {
        ints.resize(2 * static_cast<size_t>(count));
        scratch.resize(static_cast<size_t>(count));
    } catch (...) {
        return;
    }
    for (int k = 0; k < 2 * count; k++) {
        if (!std::isfinite(polygon[k])) return;
        ints[k] = static_cast<int>(std::lround(std::clamp(polygon[k], -1e9, 1e9)));
    }
    ScanPolygon(scratch.data(), ints.data(), count, width, height, [&](int y, int a, int b) {
        std::memset(pixels + static_cast<size_t>(y) * rowBytes + a, value, static_cast<size_t>(b - a + 1));
    });
}

// ---- Plug-in entries ------------------------------------------------------------------

namespace {

}  // namespace

void PluginDrawLine(uint8_t *pixels, int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint32_t colour, uint32_t flags,
                    const lvPluginTag *tags) {
    bool haveRow = false;
    int64_t row = PluginTagValue(tags, 2, 0, &haveRow);
    if (!pixels || !haveRow || row <= 0 || row > INT_MAX) return;
    int format = static_cast<int>(PluginTagValue(tags, 1, PIXFMT_ARGB32));
    // This entry's clip gives corners (the fill and pixel entries give a size).
    auto clip = reinterpret_cast<const lvPluginClipBounds *>(PluginTagValue(tags, 3, 0));
    // Whatever the clip rectangle says, nothing lands before the buffer or
    // beyond the end of a row.
    int64_t cx0 = 0, cx1 = row - 1, cy0 = 0, cy1 = INT_MAX / 2;
    if (clip) {
        cx0 = std::max<int64_t>(cx0, clip->x0);
        cx1 = std::min<int64_t>(cx1, int64_t(clip->x1) - 1);
        cy0 = std::max<int64_t>(cy0, clip->y0);
        cy1 = std::min<int64_t>(cy1, int64_t(clip->y1) - 1);
    }
    if (cx0 > cx1 || cy0 > cy1) return;
    if (!ClipLineToRange(&x1, &y1, &x2, &y2, 0, static_cast<int>(cx0), static_cast<int>(cx1)) ||
        !ClipLineToRange(&x1, &y1, &x2, &y2, 1, static_cast<int>(cy0), static_cast<int>(cy1)))
        return;
    int opacity = (flags & 1) ? static_cast<int>(colour >> 24) : 255;
    PlotLine(colour, format, pixels, x1, y1, x2, y2, opacity, static_cast<int>(row));
}

int PluginDrawPolygon(void *bitmap, const int32_t *points, int32_t count, uint32_t colour, uint32_t flags,
                      const lvPluginTag *tags) {
    if (!bitmap || !points || count < 1) return 0;
    bool raw = false;
    int64_t row = PluginTagValue(tags, 2, 0, &raw);
    if (raw && (row <= 0 || row > INT_MAX)) return 0;
    int format = static_cast<int>(PluginTagValue(tags, 1, PIXFMT_ARGB32));
    int64_t xo = PluginTagValue(tags, 3, 0), yo = PluginTagValue(tags, 4, 0);
    int64_t minX = points[0], minY = points[1], maxX = points[0], maxY = points[1];
    for (int k = 1; k < count; k++) {
        minX = std::min<int64_t>(minX, points[2 * k]);
        maxX = std::max<int64_t>(maxX, points[2 * k]);
        minY = std::min<int64_t>(minY, points[2 * k + 1]);
        maxY = std::max<int64_t>(maxY, points[2 * k + 1]);
    }
    int64_t ox = xo + minX, oy = yo + minY, ew = maxX - minX + 1, eh = maxY - minY + 1;
    if (ox < INT_MIN || ox > INT_MAX || oy < INT_MIN || oy > INT_MAX || ew > INT_MAX || eh > INT_MAX) return 0;
    std::vector<double> fixed;
    try {
        fixed.resize(2 * static_cast<size_t>(count));
    } catch (...) {
        return 0;
    }
    for (int k = 0; k < count; k++) {
        fixed[2 * k] = double(points[2 * k] - minX) * 65536.0;
        fixed[2 * k + 1] = double(points[2 * k + 1] - minY) * 65536.0;
    }
    lvOutlineRequest r{};
    r.colour = colour;
    r.xOffset = static_cast<int>(ox);
    r.yOffset = static_cast<int>(oy);
    r.width = static_cast<int>(ew);
    r.height = static_cast<int>(eh);
    r.points = fixed.data();
    r.count = count;
    r.transparency = (flags & 1) ? 255 - static_cast<int>(colour >> 24) : 0;
    r.maskMode = MASKVISIBLE;
    r.filled = 1;
    if (raw) {
        if (GetPixelFormatBytes(format) != 4) return 0;
        r.rawRgb = static_cast<uint8_t *>(bitmap);
        r.rawRgbRowPixels = static_cast<int>(row);
        r.rawFormat = format;
    } else {
        auto *h = static_cast<lvBitMapHandle *>(bitmap);
        if (h->kind != BMKIND_RGB) return 0;
        r.rgb = h;
    }
    return PaintOutline(&r) == 0 ? 1 : 0;
}

void InstallDrawPluginEntries() {
    static const lvPluginDrawEntries entries = {PluginDrawLine, PluginDrawPolygon};
    SetPluginDrawEntries(&entries);
}

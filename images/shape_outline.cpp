// shape_outline.cpp - outlines and canvas geometry of the shape engine: the
// closed outline of every shape type in 16.16, rounded corners, ellipse and arc
// points with their angle steps, the transform about the anchor, polygons grown
// by a border (miter joins), the shadow's extent, and the whole geometry of a
// job.
//
// Depends on: images/lvshape.h, raster/lvrect.h, runtime/random.h
// (RoundDoubleToInt).
// Limits: script thread only; no allocation.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "base/lverrors.h"
#include "images/lvshape.h"
#include "raster/lvraster.h"
#include "raster/lvrect.h"
#include "runtime/random.h"

namespace {

constexpr double kFix = 65536.0;

// Per-degree sine and cosine, built once.
struct DegreeTable {
    double s[360], c[360];
    DegreeTable() {
        for (int d = 0; d < 360; d++) {
            s[d] = std::sin(d * M_PI / 180.0);
            c[d] = std::cos(d * M_PI / 180.0);
        }
        // Exact values at the quarter turns, so that axis points land on whole pixels.
        s[0] = s[180] = 0, c[90] = c[270] = 0;
    }
};
const DegreeTable &Degrees() {
    static const DegreeTable t;
    return t;
}
void DegreeSinCos(int degrees, double *s, double *c) {
    int d = ((degrees % 360) + 360) % 360;
    *s = Degrees().s[d];
    *c = Degrees().c[d];
}

bool IsIdentity(const lvMatrix2D *m) { return !m || (m->sx == 1 && m->sy == 1 && m->rx == 0 && m->ry == 0); }
bool RotatesOrShears(const lvMatrix2D *m) { return m && (m->rx != 0 || m->ry != 0); }

double WholePixel(double v) { return RoundDoubleToInt(v / kFix) * kFix; }

// Moves every point by the difference between the centre transformed about the
// anchor point and the centre transformed about itself.
void MoveToAnchor(const lvMatrix2D *m, double cx, double cy, double ax, double ay, double *buffer, int count) {
    if (IsIdentity(m)) return;
    double tx = ax + m->sx * (cx - ax) + m->ry * (cy - ay), ty = ay + m->rx * (cx - ax) + m->sy * (cy - ay);
    double dx = tx - cx, dy = ty - cy;
    for (int i = 0; i < count; i++) buffer[2 * i] += dx, buffer[2 * i + 1] += dy;
}

}  // namespace

void TransformShapePoint(const lvMatrix2D *m, double x, double y, double width, double height, double anchorX,
                         double anchorY, double *outX, double *outY) {
    double ax = width * anchorX, ay = height * anchorY;
    *outX = ax + m->sx * (x - ax) + m->ry * (y - ay);
    *outY = ay + m->rx * (x - ax) + m->sy * (y - ay);
}

void ReadShapeStyle(lvShapeJob *job, int outputHasPalette, int layersOn) {
    const lvDrawStyle &s = job->style;
    job->fillStyle = s.fillStyle;
    job->fillTransparency = (job->colour >> 24) & 0xFF;
    job->colour &= 0xFFFFFFu;
    job->hasBorder = job->hasShadow = 0;
    if ((s.formStyle & FORM_BORDER) && s.fillStyle != FILLNONE) {
        job->hasBorder = s.borderSize > 0;
        job->borderSize = s.borderSize;
        job->borderColour = s.borderColour & 0xFFFFFFu;
        job->borderTransparency = (s.borderColour >> 24) & 0xFF;
    }
    if ((s.formStyle & FORM_SHADOW) && s.fillStyle != FILLNONE) {
        job->hasShadow = s.shadowSize > 0;
        job->shadowSize = s.shadowSize;
        job->shadowDirection = s.shadowDirection;
        job->shadowColour = s.shadowColour & 0xFFFFFFu;
        job->shadowTransparency = (s.shadowColour >> 24) & 0xFF;
    }
    job->antiAlias = (s.formStyle & FORM_ANTIALIAS) ? 1 : 0;
    if (!job->maskOnly && job->paletteMode != PALETTEMODE_REMAP && outputHasPalette) {
        job->fillTransparency = job->borderTransparency = job->shadowTransparency = 0;
        if (!layersOn && job->tags) job->tags->transparency = 0;
    }
}

int EllipseAngleStep(double radiusPixels) {
    int t = RoundDoubleToInt(radiusPixels + 0.5);
    return t <= 2 ? 90 : t <= 9 ? 30 : t <= 14 ? 18 : 5;
}

int GenerateEllipsePoints(double cx, double cy, double rx, double ry, const lvMatrix2D *m, double anchorX,
                          double anchorY, int to, int step, int pie, int bounds, double *buffer, int from) {
    if (from > to) std::swap(from, to);
    // Far-off angles: the span decides, whole turns do not (and nothing may overflow).
    if (from < -(1 << 24) || to > (1 << 24)) {
        int64_t span = int64_t(to) - from;
        from = static_cast<int>(((int64_t(from) % 360) + 360) % 360);
        to = static_cast<int>(std::min<int64_t>(int64_t(from) + span, int64_t(from) + 361));
    }
    if (from < 0) {
        int k = (-from + 359) / 360;
        from += k * 360, to += k * 360;
    }
    if (to > 360) {
        int k = (to - 1) / 360;
        from -= k * 360, to -= k * 360;
    }
    if (to - from > 360) from = 0, to = 360;
    if (step <= 0) step = 5;
    auto point = [&](int angle, double *x, double *y) {
        double s, c;
        DegreeSinCos(angle, &s, &c);
        double px = cx + rx * c, py = cy - ry * s;
        if (!IsIdentity(m)) {
            double dx = px - cx, dy = py - cy;
            px = cx + m->sx * dx + m->ry * dy;
            py = cy + m->rx * dx + m->sy * dy;
        }
        *x = WholePixel(px);
        *y = WholePixel(py);
    };
    int n = 0;
    if (bounds) {
        double lx = 0, ly = 0, hx = 0, hy = 0;
        for (int a = 0; a < 360 + step; a += step) {
            double x, y;
            point(a, &x, &y);
            if (a == 0 || x < lx) lx = x;
            if (a == 0 || x > hx) hx = x;
            if (a == 0 || y < ly) ly = y;
            if (a == 0 || y > hy) hy = y;
        }
        buffer[0] = lx, buffer[1] = ly, buffer[2] = hx, buffer[3] = hy;
        n = 2;
    }
    int first = n;
    for (int a = from;; a += step) {
        if (a > to) a = to;
        double x, y;
        point(a, &x, &y);
        if (n == first || x != buffer[2 * n - 2] || y != buffer[2 * n - 1]) {
            if (n >= SHAPE_MAXPOINTS - 2) break;
            buffer[2 * n] = x, buffer[2 * n + 1] = y;
            n++;
        }
        if (a == to) break;
    }
    if (pie && to - from < 360) {
        buffer[2 * n] = WholePixel(cx), buffer[2 * n + 1] = WholePixel(cy);
        n++;
    }
    while (n - first < 2) {
        buffer[2 * n] = buffer[2 * n - 2], buffer[2 * n + 1] = buffer[2 * n - 1];
        n++;
    }
    // About the job's anchor: the anchor point of the box 2 rx + 1 by 2 ry + 1.
    double ax = (cx - rx) + anchorX * (2 * rx + kFix), ay = (cy - ry) + anchorY * (2 * ry + kFix);
    MoveToAnchor(m, cx, cy, ax, ay, buffer, n);
    return n;
}

int BuildEllipsePoints(double *buffer, double cx, double cy, double rx, double ry, int from, int to,
                       const lvMatrix2D *m, double anchorX, double anchorY, int pie, int bounds, int fixedPoint) {
    if (!fixedPoint) cx *= kFix, cy *= kFix, rx *= kFix, ry *= kFix;
    int step = EllipseAngleStep(std::max(rx, ry) / kFix);
    return GenerateEllipsePoints(cx, cy, rx, ry, m, anchorX, anchorY, to, step, pie, bounds, buffer, from);
}

int BuildRoundedBoxPoints(int height, double anchorX, double anchorY, int width, const int corners[4],
                          double *buffer, const lvMatrix2D *m) {
    double R, B;
    if (RotatesOrShears(m)) {
        R = width * kFix, B = height * kFix;
    } else {
        R = (m && m->sx != 1) ? width * kFix : (width - 1) * kFix;
        B = (m && m->sy != 1) ? height * kFix : (height - 1) * kFix;
    }
    double side = std::min(width, height);
    struct Corner { double cx, cy; int from, to; double px, py; };
    double r[4];
    for (int k = 0; k < 4; k++) r[k] = std::clamp(corners[k], 0, 100) / 100.0 * side * kFix / 2;
    Corner list[4] = {{r[0], r[0], 90, 180, 0, 0},
                      {r[1], B - r[1], 180, 270, 0, B},
                      {R - r[2], B - r[2], 270, 360, R, B},
                      {R - r[3], r[3], 0, 90, R, 0}};
    int n = 0;
    double arc[2 * SHAPE_MAXPOINTS];
    for (int k = 0; k < 4; k++) {
        const Corner &c = list[k];
        if (corners[k] <= 0 || r[k] <= 0) {
            buffer[2 * n] = c.px, buffer[2 * n + 1] = c.py;
            n++;
            continue;
        }
        int step = EllipseAngleStep(r[k] / kFix);
        int count = GenerateEllipsePoints(c.cx, c.cy, r[k], r[k], nullptr, 0.5, 0.5, c.to, step, 0, 0, arc, c.from);
        for (int i = 0; i < count && n < SHAPE_MAXPOINTS - 2; i++) {
            buffer[2 * n] = arc[2 * i], buffer[2 * n + 1] = arc[2 * i + 1];
            n++;
        }
    }
    if (buffer[2 * n - 2] != buffer[0] || buffer[2 * n - 1] != buffer[1]) {
        buffer[2 * n] = buffer[0], buffer[2 * n + 1] = buffer[1];
        n++;
    }
    if (!IsIdentity(m)) {
        double cx = R / 2, cy = B / 2;
        for (int i = 0; i < n; i++) {
            double dx = buffer[2 * i] - cx, dy = buffer[2 * i + 1] - cy;
            buffer[2 * i] = cx + m->sx * dx + m->ry * dy;
            buffer[2 * i + 1] = cy + m->rx * dx + m->sy * dy;
        }
        MoveToAnchor(m, cx, cy, width * anchorX * kFix, height * anchorY * kFix, buffer, n);
    }
    return n;
}

int BuildShapePoints(int width, const lvShapeJob *job, double *buffer, int height) {
    const lvMatrix2D *m = &job->transform.matrix;
    double ax = job->transform.anchorX, ay = job->transform.anchorY;
    switch (job->type) {
    case SHAPE_BOX: {
        int corners[4] = {job->cornerA, job->cornerB, job->cornerC, job->cornerD};
        if (corners[0] > 0 || corners[1] > 0 || corners[2] > 0 || corners[3] > 0)
            return BuildRoundedBoxPoints(height, ax, ay, width, corners, buffer, m);
        double r = (width - 1) * kFix, b = (height - 1) * kFix;
        const double box[10] = {0, 0, r, 0, r, b, 0, b, 0, 0};
        std::memcpy(buffer, box, sizeof box);
        return 5;
    }
    case SHAPE_CIRCLE:
    case SHAPE_ELLIPSE: {
        double cx = (width / 2) * kFix, cy = (height / 2) * kFix;
        int n = BuildEllipsePoints(buffer, cx, cy, cx, cy, 0, 360, m, ax, ay, 0, 0, 1);
        if (buffer[2 * n - 2] != buffer[0] || buffer[2 * n - 1] != buffer[1]) {
            buffer[2 * n] = buffer[0], buffer[2 * n + 1] = buffer[1];
            n++;
        }
        return n;
    }
    case SHAPE_ARC: {
        // Whole turns beyond the first do not change an arc.
        int start = job->startAngle % 3600, end = job->endAngle % 3600;
        if (job->clockwise && end < start) end += ((start - end - 1) / 360 + 1) * 360;
        if (!job->clockwise && start < end) start += ((end - start - 1) / 360 + 1) * 360;
        double cx = (width / 2) * kFix, cy = (height / 2) * kFix;
        int n = BuildEllipsePoints(buffer, cx, cy, cx, cy, -start, -end, m, ax, ay, 1, 1, 1);
        buffer[2 * n] = buffer[4], buffer[2 * n + 1] = buffer[5];  // the first arc point
        return n + 1;
    }
    default: {
        int n = std::min(job->pointCount, SHAPE_MAXPOINTS - 1);
        for (int i = 0; i < 2 * n; i++) buffer[i] = job->points[i] * kFix;
        return n;
    }
    }
}

int OffsetPolygon(double distance, double *p, int n) {
    if (n <= 0) return 0;
    n = std::min(n, SHAPE_MAXPOINTS - 1);
    double d = distance * kFix;
    // 1. Orientation.
    double area = 0;
    for (int i = 0; i < n; i++) {
        int j = (i + 1) % n;
        area += p[2 * i] * p[2 * j + 1] - p[2 * i + 1] * p[2 * j];
    }
    int orient = area > 0 ? 1 : -1;
    // 2. Closing repeats and consecutive duplicates.
    while (n > 1 && p[2 * n - 2] == p[0] && p[2 * n - 1] == p[1]) n--;
    int m = 1;
    for (int i = 1; i < n; i++)
        if (p[2 * i] != p[2 * m - 2] || p[2 * i + 1] != p[2 * m - 1]) {
            p[2 * m] = p[2 * i], p[2 * m + 1] = p[2 * i + 1];
            m++;
        }
    n = m;
    // 3. Runs along one horizontal or vertical line keep their end points.
    if (n > 2) {
        double copy[2 * SHAPE_MAXPOINTS];
        std::memcpy(copy, p, sizeof(double) * 2 * n);
        m = 0;
        for (int i = 0; i < n; i++) {
            const double *a = &copy[2 * ((i + n - 1) % n)], *b = &copy[2 * i], *c = &copy[2 * ((i + 1) % n)];
            bool horizontal = a[1] == b[1] && b[1] == c[1], vertical = a[0] == b[0] && b[0] == c[0];
            if (horizontal || vertical) continue;
            p[2 * m] = b[0], p[2 * m + 1] = b[1];
            m++;
        }
        // A straight line of points reduces to nothing: keep its two ends.
        if (m < 2) {
            int far = 0;
            for (int i = 1; i < n; i++)
                if (std::fabs(copy[2 * i] - copy[0]) + std::fabs(copy[2 * i + 1] - copy[1]) >
                    std::fabs(copy[2 * far] - copy[0]) + std::fabs(copy[2 * far + 1] - copy[1]))
                    far = i;
            p[0] = copy[0], p[1] = copy[1], p[2] = copy[2 * far], p[3] = copy[2 * far + 1];
            m = 2;
        }
        n = std::min(n, m);
    }
    // 4. The largest squared distance.
    double D = 0;
    for (int i = 0; i < n; i++)
        for (int j = i + 1; j < n; j++) {
            double dx = p[2 * i] - p[2 * j], dy = p[2 * i + 1] - p[2 * j + 1];
            D = std::max(D, dx * dx + dy * dy);
        }
    auto rectangle = [&]() {
        double lx = p[0], ly = p[1], hx = p[0], hy = p[1];
        for (int i = 1; i < n; i++) {
            lx = std::min(lx, p[2 * i]), hx = std::max(hx, p[2 * i]);
            ly = std::min(ly, p[2 * i + 1]), hy = std::max(hy, p[2 * i + 1]);
        }
        lx = WholePixel(lx) - d, ly = WholePixel(ly) - d, hx = WholePixel(hx) + d, hy = WholePixel(hy) + d;
        const double r[8] = {lx, ly, hx, ly, hx, hy, lx, hy};
        std::memcpy(p, r, sizeof r);
        return 4;
    };
    // Coincident points (D = 0) or fewer than three corners have no bisectors.
    if (n < 3 || D <= 0) return rectangle();
    double sd = std::sqrt(D);
    double moved[2 * SHAPE_MAXPOINTS];
    for (int i = 0; i < n; i++) {
        const double *a = &p[2 * ((i + n - 1) % n)], *b = &p[2 * i], *c = &p[2 * ((i + 1) % n)];
        double u1x = b[0] - a[0], u1y = b[1] - a[1], u2x = b[0] - c[0], u2y = b[1] - c[1];
        double l1 = std::hypot(u1x, u1y), l2 = std::hypot(u2x, u2y);
        u1x /= l1, u1y /= l1, u2x /= l2, u2y /= l2;
        double cross = u1x * u2y - u1y * u2x;
        if (std::fabs(cross) < 0.001) return rectangle();
        double dot = u1x * u2x + u1y * u2y;
        double h = (d / sd) * std::sqrt(std::max(0.0, 1 - dot * dot));
        if (h == 0) h = 0.0001;
        // Convex corners move along u1 + u2, reflex ones the other way.
        double sign = cross * orient < 0 ? 1.0 : -1.0;
        double bx = (u1x + u2x) * sign / h, by = (u1y + u2y) * sign / h;
        moved[2 * i] = b[0] + (d * d / sd) * bx;
        moved[2 * i + 1] = b[1] + (d * d / sd) * by;
    }
    std::memcpy(p, moved, sizeof(double) * 2 * n);
    return n;
}

void ShadowPlacement(int s, int d, int *shapeX, int *shapeY, int *shadowX, int *shadowY) {
    int left, top, right, bottom;
    GetShadowOffsets(s, d, &left, &top, &right, &bottom);
    *shapeX = left, *shapeY = top, *shadowX = right, *shadowY = bottom;
}

void BoxCanvas(int b, int x, int y, int width, int height, int shadowSize, int shadowDirection, lvBoxCanvas *out) {
    out->x = x - b, out->y = y - b, out->width = width + 2 * b, out->height = height + 2 * b;
    out->shapeX = out->shapeY = out->shadowX = out->shadowY = 0;
    if (shadowSize > 0) {
        ShadowPlacement(shadowSize, shadowDirection, &out->shapeX, &out->shapeY, &out->shadowX, &out->shadowY);
        AddShadowExtent(shadowDirection, shadowSize, &out->width, &out->height);
        out->x -= out->shapeX;
        out->y -= out->shapeY;
    }
}

int BuildShapeOutline(lvShapeJob *job, int *outWidth, int *outHeight, double *fill, int *fillCount, double *border,
                      int *borderCount) {
    ReadShapeStyle(job);
    const lvMatrix2D *m = &job->transform.matrix;
    const bool identity = IsIdentity(m);
    const int W = job->width, H = job->height;
    const int b = job->hasBorder ? job->borderSize : 0;
    const bool curved = job->type == SHAPE_CIRCLE || job->type == SHAPE_ELLIPSE || job->type == SHAPE_ARC ||
                        (job->type == SHAPE_BOX && (job->cornerA || job->cornerB || job->cornerC || job->cornerD));
    const bool polygon = job->type == SHAPE_POLYGON || job->type == SHAPE_LINE;
    if (polygon && (!job->points || job->pointCount < 1)) return ERR_WRONGUSAGE;
    const int skip = job->type == SHAPE_ARC ? 2 : 0;  // the arc's bounds entries

    // Fill outline in the shape's own frame (curved shapes come transformed).
    int nf = BuildShapePoints(W, job, fill, H);
    double *fp = fill + 2 * skip;
    int nfp = nf - skip;
    // Border outline in the same frame.
    int nb = 0;
    double *bp = border + 2 * skip;
    if (b > 0) {
        if (polygon) {
            for (int i = 0; i < 2 * nfp; i++) fp[i] = WholePixel(fp[i]);
            std::memcpy(bp, fp, sizeof(double) * 2 * nfp);
            int open = nfp;
            if (open > 1 && bp[2 * open - 2] == bp[0] && bp[2 * open - 1] == bp[1]) open--;
            nb = OffsetPolygon(b, bp, open);
            for (int i = 0; i < 2 * nb; i++) bp[i] = WholePixel(bp[i]);
            bp[2 * nb] = bp[0], bp[2 * nb + 1] = bp[1];
            nb++;
        } else {
            lvShapeJob grown = *job;
            grown.width = W + 2 * b, grown.height = H + 2 * b;
            grown.radiusX += b, grown.radiusY += b;
            nb = BuildShapePoints(grown.width, &grown, border, grown.height) - skip;
            for (int i = 0; i < nb; i++) bp[2 * i] -= b * kFix, bp[2 * i + 1] -= b * kFix;
        }
    }
    // A transformed curved shape with a border turns about an anchor that is not the
    // centre: its place inside the border is the one it has when both turn about the
    // centre, so that the border keeps its width all round.
    const double ax = job->transform.anchorX, ay = job->transform.anchorY;
    if (b > 0 && curved && !identity && (ax != 0.5 || ay != 0.5)) {
        // Script thread only, and the centred pass never comes back here.
        static double scratch[4 * SHAPE_MAXPOINTS];
        lvShapeJob centred = *job;
        centred.transform.anchorX = centred.transform.anchorY = 0.5;
        int cf = 0, cb = 0;
        if (int rc = BuildShapeOutline(&centred, nullptr, nullptr, scratch, &cf, scratch + 2 * SHAPE_MAXPOINTS,
                                       &cb))
            return rc;
        int keptX = centred.shapeX, keptY = centred.shapeY;
        if (job->hasShadow) {
            int sx, sy, shx, shy;
            ShadowPlacement(job->shadowSize, job->shadowDirection, &sx, &sy, &shx, &shy);
            keptX -= sx, keptY -= sy;
        }
        double flx = fp[0], fly = fp[1], blx = bp[0], bly = bp[1];
        for (int i = 1; i < nfp; i++) flx = std::min(flx, fp[2 * i]), fly = std::min(fly, fp[2 * i + 1]);
        for (int i = 1; i < nb; i++) blx = std::min(blx, bp[2 * i]), bly = std::min(bly, bp[2 * i + 1]);
        const double dx = flx - keptX * kFix - blx, dy = fly - keptY * kFix - bly;
        for (int i = 0; i < nb; i++) bp[2 * i] += dx, bp[2 * i + 1] += dy;
    }
    // Plain boxes, polygons and lines turn here, about the anchor of the shape.
    if (!identity && !curved) {
        TransformVertexList(m, ax, ay, W * kFix, H * kFix, fp, nfp, fp, nullptr, nullptr, nullptr, nullptr);
        if (nb) TransformVertexList(m, ax, ay, W * kFix, H * kFix, bp, nb, bp, nullptr, nullptr, nullptr, nullptr);
    }
    // Bounds of what is drawn: the border outline, or the fill outline.
    const double *outer = nb ? bp : fp;
    int nOuter = nb ? nb : nfp;
    double lx = outer[0], ly = outer[1], hx = outer[0], hy = outer[1];
    for (int i = 1; i < nOuter; i++) {
        lx = std::min(lx, outer[2 * i]), hx = std::max(hx, outer[2 * i]);
        ly = std::min(ly, outer[2 * i + 1]), hy = std::max(hy, outer[2 * i + 1]);
    }
    // A transform may take the shape past any picture: refused before its sizes become ints.
    const double limit = double(LV_GEOMETRY_LIMIT) * kFix;
    if (!(hx - lx < limit && hy - ly < limit && std::fabs(lx) < limit && std::fabs(ly) < limit))
        return ERR_WRONGUSAGE;
    double flx = fp[0], fly = fp[1];
    for (int i = 1; i < nfp; i++) flx = std::min(flx, fp[2 * i]), fly = std::min(fly, fp[2 * i + 1]);
    int shapeW, shapeH;
    if (identity && !polygon && b == 0) {
        shapeW = W, shapeH = H;
    } else if (identity && !polygon) {
        shapeW = W + 2 * b, shapeH = H + 2 * b;
    } else {
        shapeW = RoundDoubleToInt((hx - lx) / kFix) + 1;
        shapeH = RoundDoubleToInt((hy - ly) / kFix) + 1;
    }
    // Plain box under a scale: keep the border even on both sides.
    if (b > 0 && job->type == SHAPE_BOX && !curved && !identity && !RotatesOrShears(m)) {
        int fw = RoundDoubleToInt((fp[4] - fp[0]) / kFix) + 1, fh = RoundDoubleToInt((fp[5] - fp[1]) / kFix) + 1;
        if ((shapeW - fw) % 2) {
            for (int i = 0; i < nb; i++)
                if (bp[2 * i] == hx) bp[2 * i] += kFix;
            shapeW++;
        }
        if ((shapeH - fh) % 2) {
            for (int i = 0; i < nb; i++)
                if (bp[2 * i + 1] == hy) bp[2 * i + 1] += kFix;
            shapeH++;
        }
    }
    // Move everything into the bordered canvas (its top left at 0).
    double mx = identity && !polygon ? -b * kFix : lx, my = identity && !polygon ? -b * kFix : ly;
    for (int i = 0; i < nfp; i++) fp[2 * i] -= mx, fp[2 * i + 1] -= my;
    for (int i = 0; i < nb; i++) bp[2 * i] -= mx, bp[2 * i + 1] -= my;
    // Shadow.
    int sx = 0, sy = 0, shx = 0, shy = 0, canvasW = shapeW, canvasH = shapeH;
    if (job->hasShadow) {
        ShadowPlacement(job->shadowSize, job->shadowDirection, &sx, &sy, &shx, &shy);
        AddShadowExtent(job->shadowDirection, job->shadowSize, &canvasW, &canvasH);
    }
    job->shapeW = shapeW, job->shapeH = shapeH;
    job->canvasW = canvasW, job->canvasH = canvasH;
    job->shapeX = sx + RoundDoubleToInt((flx - mx) / kFix);
    job->shapeY = sy + RoundDoubleToInt((fly - my) / kFix);
    job->outX = job->x + RoundDoubleToInt(mx / kFix) - sx;
    job->outY = job->y + RoundDoubleToInt(my / kFix) - sy;
    // Without the arc's bounds entries the lists start at the buffers' heads.
    if (skip) {
        std::memmove(fill, fp, sizeof(double) * 2 * nfp);
        if (nb) std::memmove(border, bp, sizeof(double) * 2 * nb);
    }
    *fillCount = nfp;
    *borderCount = nb;
    if (outWidth) *outWidth = shapeW;
    if (outHeight) *outHeight = shapeH;
    return 0;
}

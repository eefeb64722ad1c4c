// distort_engine.cpp - the distortion engine: perspective (four corners),
// arc, polar and barrel mappings. For every result pixel the source point is
// found by the inverse mapping and sampled at the nearest pixel or, smoothed,
// by an elliptical weighted average that follows the local scaling (bilinear
// where the ellipse degenerates). DistortImage allocates the result planes.
//
// Points the mapping cannot place (behind the horizon, on it, or not finite)
// are invalid: their result pixel is 0 and the planes keep their initial value.
#include "images/lveffects.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>

#include "base/lverrors.h"
#include "platform/lvplatform.h"

namespace {

const double kPi = 3.14159265358979323846;
const double kTwoPi = 2 * kPi;

double RoundHalfAway(double v) { return v < 0 ? -std::floor(-v + 0.5) : std::floor(v + 0.5); }

// Gauss-Jordan elimination with full pivoting; the right side becomes the
// solution (no column unscrambling is needed for the right side alone).
// false when the system is singular.
bool SolveGaussJordan(double a[8][8], double b[8]) {
    const int n = 8;
    int ipiv[n] = {};
    for (int i = 0; i < n; i++) {
        double big = 0;
        int irow = -1, icol = -1;
        for (int j = 0; j < n; j++) {
            if (ipiv[j] == 1) continue;
            for (int k = 0; k < n; k++) {
                if (ipiv[k] == 0) {
                    if (std::fabs(a[j][k]) >= big) big = std::fabs(a[j][k]), irow = j, icol = k;
                } else if (ipiv[k] > 1) {
                    return false;
                }
            }
        }
        if (icol < 0) return false;
        if (++ipiv[icol] > 1) return false;
        if (irow != icol) {
            for (int l = 0; l < n; l++) std::swap(a[irow][l], a[icol][l]);
            std::swap(b[irow], b[icol]);
        }
        if (a[icol][icol] == 0 || !std::isfinite(a[icol][icol])) return false;
        double pivinv = 1.0 / a[icol][icol];
        a[icol][icol] = 1.0;
        for (int l = 0; l < n; l++) a[icol][l] *= pivinv;
        b[icol] *= pivinv;
        for (int ll = 0; ll < n; ll++) {
            if (ll == icol) continue;
            double dum = a[ll][icol];
            a[ll][icol] = 0;
            for (int l = 0; l < n; l++) a[ll][l] -= a[icol][l] * dum;
            b[ll] -= b[icol] * dum;
        }
    }
    for (int i = 0; i < 8; i++)
        if (!std::isfinite(b[i])) return false;
    return true;
}

// Elliptical weighted average sampling state.
struct EwaFilter {
    const lvDistortJob *job;
    double area;
    double weights[1024];
    double qa, qb, qc, ulimit, vlimit, uwidth, slope;
    bool degenerate, tooWide;
};

void SetFilterEllipse(EwaFilter *f, double dux, double duy, double dvx, double dvy) {
    double qa = dvx * dvx + dvy * dvy + 1, qb = -2 * (dux * dvx + duy * dvy), qc = dux * dux + duy * duy + 1;
    double F = qa * qc - qb * qb / 4;
    f->degenerate = !(F > 4);
    f->tooWide = F > 1000000;
    if (f->degenerate || f->tooWide) return;
    f->vlimit = std::sqrt(qa) + 1;
    f->ulimit = std::sqrt(qc) + 1;
    f->uwidth = std::sqrt(F / qa) + 1;
    f->slope = -qb / (2 * qa);
    if (f->uwidth * f->vlimit * 4 > 20 * f->area) {
        f->tooWide = true;
        return;
    }
    double s = 1024 / F;
    f->qa = qa * s;
    f->qb = qb * s;
    f->qc = qc * s;
}

// Red, green, blue, alpha of a source pixel; all 0 outside.
void FetchSource(const lvDistortJob *j, int x, int y, double c[4]) {
    c[0] = c[1] = c[2] = c[3] = 0;
    if (x < 0 || y < 0 || x >= j->sourceWidth || y >= j->sourceHeight) return;
    uint32_t argb = 0;
    if (j->sourcePixels && j->sourceBytes == 4) {
        uint32_t p;
        std::memcpy(&p, j->sourcePixels + (static_cast<size_t>(y) * j->sourceRowLength + x) * 4, 4);
        argb = j->sourceFormat == PIXFMT_ARGB32 ? p : Pixel32ToArgb(j->sourceFormat, p);
    }
    double alpha = 255;
    if (j->sourcePlane) alpha = j->sourcePlane[static_cast<size_t>(y) * j->sourcePlaneRowBytes + x];
    else if (j->sourceMask) {
        const uint8_t *row = j->sourceMask + static_cast<size_t>(y) * j->sourceMaskRowBytes;
        if (!((row[x >> 3] >> (7 - (x & 7))) & 1)) alpha = 0, argb = 0;
    }
    c[0] = (argb >> 16) & 0xFF;
    c[1] = (argb >> 8) & 0xFF;
    c[2] = argb & 0xFF;
    c[3] = alpha;
}

void SampleBilinear(const lvDistortJob *j, double x, double y, double out[4]) {
    double x0 = std::floor(x), y0 = std::floor(y), dx = x - x0, dy = y - y0;
    double p1[4], p2[4], p3[4], p4[4];
    // Far outside every fetch is 0 anyway; keep the integers in range.
    if (!(x0 > -2 && y0 > -2 && x0 < j->sourceWidth + 1.0 && y0 < j->sourceHeight + 1.0)) {
        out[0] = out[1] = out[2] = out[3] = 0;
        return;
    }
    int ix = static_cast<int>(x0), iy = static_cast<int>(y0);
    FetchSource(j, ix, iy, p1);
    FetchSource(j, ix + 1, iy, p2);
    FetchSource(j, ix, iy + 1, p3);
    FetchSource(j, ix + 1, iy + 1, p4);
    for (int c = 0; c < 4; c++)
        out[c] = (1 - dy) * ((1 - dx) * p1[c] + dx * p2[c]) + dy * ((1 - dx) * p3[c] + dx * p4[c]);
}

void SampleEwa(const EwaFilter *f, double px, double py, double out[4]) {
    const lvDistortJob *j = f->job;
    int v1 = static_cast<int>(py - f->vlimit), v2 = static_cast<int>(py + f->vlimit + 1);
    double ustart = px + (v1 - py) * f->slope - f->uwidth;
    int uw = static_cast<int>(2 * f->uwidth) + 1;
    double sum[4] = {}, divisor = 0;
    int hits = 0;
    for (int v = v1; v <= v2; v++, ustart += f->slope) {
        int u = static_cast<int>(ustart);
        double U = u - px, V = v - py;
        double Q = (f->qa * U + f->qb * V) * U + f->qc * V * V;
        double DQ = f->qa * (2 * U + 1) + f->qb * V;
        for (int k = 0; k < uw; k++, u++) {
            if (Q < 1024 && Q > -1) {  // rounding may dip just below 0
                double wgt = f->weights[static_cast<int>(Q)];
                double c[4];
                FetchSource(j, u, v, c);
                for (int i = 0; i < 4; i++) sum[i] += c[i] * wgt;
                divisor += wgt;
                hits++;
            }
            Q += DQ;
            DQ += 2 * f->qa;
        }
    }
    if (hits > 3 && divisor >= 1) {
        for (int i = 0; i < 4; i++) {
            double v = std::floor(sum[i] / divisor + 0.5);
            out[i] = v < 0 ? 0 : (v > 255 ? 255 : v);
        }
        return;
    }
    SampleBilinear(j, px, py, out);
}

inline void ClearPixel(lvDistortJob *j, int i, int y) {
    std::memset(j->resultPixels + (static_cast<size_t>(y) * j->resultRowLength + i) * j->resultBytes, 0,
                static_cast<size_t>(j->resultBytes));
}

// The least-squares solution carries rounding noise of a few 1e-15: a point
// meant to fall on a pixel edge must not truncate into the pixel beside it.
inline double SnapToEdge(double v) {
    double r = std::round(v);
    return std::fabs(v - r) < 1e-9 ? r : v;
}

void WriteNearest(lvDistortJob *j, int i, int y, double sx, double sy) {
    sx = SnapToEdge(sx);
    sy = SnapToEdge(sy);
    bool inside = sx > -1 && sy > -1 && sx < j->sourceWidth && sy < j->sourceHeight;
    int ix = inside ? static_cast<int>(sx) : -1, iy = inside ? static_cast<int>(sy) : -1;
    if (!inside || ix >= j->sourceWidth || iy >= j->sourceHeight) {
        if (j->resultPixels) ClearPixel(j, i, y);
        return;
    }
    if (j->resultPixels && j->sourcePixels) {
        const uint8_t *s = j->sourcePixels + (static_cast<size_t>(iy) * j->sourceRowLength + ix) * j->sourceBytes;
        uint8_t *d = j->resultPixels + (static_cast<size_t>(y) * j->resultRowLength + i) * j->resultBytes;
        if (j->sourceFormat == j->resultFormat && j->sourceBytes == j->resultBytes) std::memcpy(d, s, j->resultBytes);
        else if (j->sourceBytes == 4 && j->resultBytes == 4) {
            uint32_t p;
            std::memcpy(&p, s, 4);
            p = ArgbToPixel32(j->resultFormat, Pixel32ToArgb(j->sourceFormat, p));
            std::memcpy(d, &p, 4);
        }
    }
    if (j->resultPlane)
        j->resultPlane[static_cast<size_t>(y) * j->resultPlaneRowBytes + i] =
            j->sourcePlane ? j->sourcePlane[static_cast<size_t>(iy) * j->sourcePlaneRowBytes + ix] : 255;
    if (j->resultMask) {
        int on = 1;
        if (j->sourceMask) on = (j->sourceMask[static_cast<size_t>(iy) * j->sourceMaskRowBytes + (ix >> 3)] >> (7 - (ix & 7))) & 1;
        uint8_t *row = j->resultMask + static_cast<size_t>(y) * j->resultMaskRowBytes;
        uint8_t bit = static_cast<uint8_t>(0x80 >> (i & 7));
        if (on) row[i >> 3] |= bit;
        else row[i >> 3] &= static_cast<uint8_t>(~bit);
    }
}

void WriteSmooth(lvDistortJob *j, int i, int y, const double c[4]) {
    if (j->resultPixels && j->resultBytes == 4) {
        uint32_t rgb = (uint32_t(static_cast<int>(c[0])) << 16) | (uint32_t(static_cast<int>(c[1])) << 8) |
                       uint32_t(static_cast<int>(c[2]));
        if (j->resultFormat != PIXFMT_ARGB32) rgb = ArgbToPixel32(j->resultFormat, rgb);
        std::memcpy(j->resultPixels + (static_cast<size_t>(y) * j->resultRowLength + i) * 4, &rgb, 4);
    }
    int a = static_cast<int>(c[3]);
    if (j->resultPlane) j->resultPlane[static_cast<size_t>(y) * j->resultPlaneRowBytes + i] = static_cast<uint8_t>(a);
    if (j->resultMask) {
        uint8_t *row = j->resultMask + static_cast<size_t>(y) * j->resultMaskRowBytes;
        uint8_t bit = static_cast<uint8_t>(0x80 >> (i & 7));
        if (a) row[i >> 3] |= bit;
        else row[i >> 3] &= static_cast<uint8_t>(~bit);
    }
}

// A size or position from a double that must be a sound int.
bool FitsInt(double v) { return std::isfinite(v) && v >= INT_MIN && v <= INT_MAX; }

}  // namespace

int GenerateDistortCoefficients(lvDistortJob *job) {
    const double *v = job->values;
    int n = job->valueCount;
    double w = job->sourceWidth, h = job->sourceHeight, *c = job->coefficients;
    std::memset(job->coefficients, 0, sizeof job->coefficients);
    if (n < 0 || (n > 0 && !v)) return ERR_WRONGUSAGE;
    for (int i = 0; i < n; i++)
        if (!std::isfinite(v[i])) return ERR_WRONGUSAGE;
    switch (job->kind) {
    case DISTORT_PERSPECTIVE: {
        // The affine fallback for fewer points is never asked for.
        if (n < 16) return ERR_WRONGUSAGE;
        double a[8][8] = {}, b[8] = {};
        for (int g = 0; g + 3 < n; g += 4) {
            double u = v[g], vv = v[g + 1], x = v[g + 2], y = v[g + 3];
            const double t1[8] = {x, y, 1, 0, 0, 0, -x * u, -y * u}, t2[8] = {0, 0, 0, x, y, 1, -x * vv, -y * vv};
            for (int r = 0; r < 8; r++) {
                for (int k = 0; k < 8; k++) a[r][k] += t1[r] * t1[k] + t2[r] * t2[k];
                b[r] += t1[r] * u + t2[r] * vv;
            }
        }
        if (!SolveGaussJordan(a, b)) return ERR_WRONGUSAGE;
        for (int i = 0; i < 8; i++) c[i] = b[i];
        c[8] = (c[6] * v[2] + c[7] * v[3] + 1) < 0 ? -1 : 1;
        job->coefficientCount = 9;
        return 0;
    }
    case DISTORT_ARC: {
        if (n < 1 || v[0] < 1e-6) return ERR_WRONGUSAGE;
        if (n >= 3 && v[2] < 1e-6) return ERR_WRONGUSAGE;
        c[0] = -kPi / 2 + (n >= 2 ? v[1] * kPi / 180 : 0);
        c[1] = v[0] * kPi / 180;
        double t = c[0] / kTwoPi;
        c[0] = (t - RoundHalfAway(t)) * kTwoPi;
        c[3] = h - 1;
        c[2] = w / c[1] + c[3] / 2;
        if (n == 3) {
            c[3] = c[3] * v[2] / c[2];
            c[2] = v[2];
        } else if (n >= 4) {
            c[3] = v[2] - v[3];
            c[2] = v[2];
        }
        c[4] = (w - 1) / 2;
        job->coefficientCount = 5;
        return 0;
    }
    case DISTORT_POLAR: {
        if (n == 3) return ERR_WRONGUSAGE;
        c[0] = n >= 1 ? v[0] : 0;
        c[1] = n >= 2 ? v[1] : 0;
        if (n >= 4) c[2] = v[2], c[3] = v[3];
        else c[2] = w / 2, c[3] = h / 2;
        c[4] = n >= 5 ? v[4] * kPi / 180 : -kPi;
        c[5] = n >= 6 ? v[5] * kPi / 180 : c[4];
        if (std::fabs(c[4] - c[5]) < 1e-6) c[5] += kTwoPi;
        if (c[0] < 1e-6) {
            if (std::fabs(c[0]) < 1e-6)
                c[0] = std::min({std::fabs(c[2]), std::fabs(c[3]), std::fabs(c[2] - w), std::fabs(c[3] - h)});
            if (std::fabs(c[0] + 1) < 1e-6) {
                double d2 = 0;
                const double corners[4][2] = {{0, 0}, {0, h}, {w, h}, {w, 0}};
                for (auto &p : corners)
                    d2 = std::max(d2, (c[2] - p[0]) * (c[2] - p[0]) + (c[3] - p[1]) * (c[3] - p[1]));
                c[0] = std::sqrt(d2);
            }
            if (c[0] < 1e-6) return ERR_WRONGUSAGE;
        }
        if (c[1] < -1e-6 || c[0] - c[1] < 1e-6) return ERR_WRONGUSAGE;
        c[6] = w / (c[5] - c[4]);
        c[7] = h / (c[0] - c[1]);
        job->coefficientCount = 8;
        return 0;
    }
    case DISTORT_BARREL: {
        if (n != 3 && n != 4 && n != 5 && n != 6 && n != 8 && n != 10) return ERR_WRONGUSAGE;
        double s = 2 / std::min(w, h);
        c[0] = v[0], c[1] = v[1], c[2] = v[2];
        c[3] = (n == 3 || n == 5) ? 1 - v[0] - v[1] - v[2] : v[3];
        c[0] *= s * s * s;
        c[1] *= s * s;
        c[2] *= s;
        if (n >= 8) {
            c[4] = v[4] * s * s * s, c[5] = v[5] * s * s, c[6] = v[6] * s, c[7] = v[7];
        } else {
            c[4] = c[0], c[5] = c[1], c[6] = c[2], c[7] = c[3];
        }
        if (n == 5) c[8] = v[3], c[9] = v[4];
        else if (n == 6) c[8] = v[4], c[9] = v[5];
        else if (n == 10) c[8] = v[8], c[9] = v[9];
        else c[8] = (w - 1) / 2, c[9] = (h - 1) / 2;
        job->coefficientCount = 10;
        return 0;
    }
    default: return ERR_WRONGUSAGE;
    }
}

int ComputeDistortGeometry(lvDistortJob *job) {
    job->error = 0;
    if (job->sourceWidth <= 0 || job->sourceHeight <= 0) return job->error = ERR_WRONGUSAGE;
    if (int rc = GenerateDistortCoefficients(job)) return job->error = rc;
    double *c = job->coefficients, w = job->sourceWidth, h = job->sourceHeight;
    if (job->kind == DISTORT_BARREL) {
        job->resultWidth = job->sourceWidth;
        job->resultHeight = job->sourceHeight;
        job->resultX = job->resultY = 0;
        return 0;
    }
    double minX = 1e300, minY = 1e300, maxX = -1e300, maxY = -1e300;
    auto add = [&](double x, double y) {
        minX = std::min(minX, x), maxX = std::max(maxX, x);
        minY = std::min(minY, y), maxY = std::max(maxY, y);
    };
    if (job->kind == DISTORT_PERSPECTIVE) {
        double k = 1 / (c[0] * c[4] - c[3] * c[1]);
        double i0 = k * (c[4] - c[7] * c[5]), i1 = k * (c[7] * c[2] - c[1]), i2 = k * (c[1] * c[5] - c[4] * c[2]);
        double i3 = k * (c[6] * c[5] - c[3]), i4 = k * (c[0] - c[6] * c[2]), i5 = k * (c[3] * c[2] - c[0] * c[5]);
        double i6 = k * (c[3] * c[7] - c[6] * c[4]), i7 = k * (c[6] * c[1] - c[0] * c[7]);
        const double pts[4][2] = {{0, 0}, {w, 0}, {0, h}, {w, h}};
        for (auto &p : pts) {
            double q = i6 * p[0] + i7 * p[1] + 1;
            if (std::fabs(q) <= 1e-6) q = 1;
            add((i0 * p[0] + i1 * p[1] + i2) / q, (i3 * p[0] + i4 * p[1] + i5) / q);
        }
    } else if (job->kind == DISTORT_ARC) {
        double a = c[0] - c[1] / 2, b = c[0] + c[1] / 2;
        for (double t : {a, b}) {
            add(c[2] * std::cos(t), c[2] * std::sin(t));
            add((c[2] - c[3]) * std::cos(t), (c[2] - c[3]) * std::sin(t));
        }
        // The extremes of the circle inside the arc (five steps cover a whole turn).
        double t = std::ceil(a / (kPi / 2)) * (kPi / 2);
        for (int steps = 0; t < b && steps < 5; t += kPi / 2, steps++) add(c[2] * std::cos(t), c[2] * std::sin(t));
        c[1] = kTwoPi * w / c[1];
        c[3] = h / c[3];
    } else {
        if (job->valueCount < 2) c[2] = c[3] = 0;
        add(c[2] - c[0], c[3] - c[0]);
        add(c[2] + c[0], c[3] + c[0]);
        c[7] = h / (c[0] - c[1]);
    }
    double rx = std::floor(minX - 0.5), ry = std::floor(minY - 0.5);
    double rw = std::ceil(maxX - rx + 0.5), rh = std::ceil(maxY - ry + 0.5);
    // Sizes that are not finite, not positive or beyond an int are refused
    // before anything is allocated.
    // (A little below the int limit, so that rows rounded up to whole words still fit.)
    if (!FitsInt(rx) || !FitsInt(ry) || !FitsInt(rw) || !FitsInt(rh) || rw <= 0 || rh <= 0 || rw > INT_MAX - 64 ||
        rh > INT_MAX - 64)
        return job->error = ERR_WRONGUSAGE;
    job->resultX = static_cast<int>(rx);
    job->resultY = static_cast<int>(ry);
    job->resultWidth = static_cast<int>(rw);
    job->resultHeight = static_cast<int>(rh);
    return 0;
}

int RunDistortion(lvDistortJob *job) {
    const double *c = job->coefficients;
    EwaFilter *filter = nullptr;
    if (job->smooth) {
        filter = static_cast<EwaFilter *>(AllocMemory(sizeof(EwaFilter), 1));
        if (!filter) return job->error = ERR_MEM;
        filter->job = job;
        filter->area = double(job->sourceWidth) * job->sourceHeight;
        for (int q = 0; q < 1024; q++) filter->weights[q] = std::exp(-q * 0.0027076061740622863);
        SetFilterEllipse(filter, 1, 0, 0, 1);
    }
    double w = job->sourceWidth, h = job->sourceHeight;
    for (int j = 0; j < job->resultHeight; j++)
        for (int i = 0; i < job->resultWidth; i++) {
            double dx = double(i) + job->resultX + 0.5, dy = double(j) + job->resultY + 0.5;
            double validity = 1, sx = 0, sy = 0, d[4] = {1, 0, 0, 1};
            switch (job->kind) {
            case DISTORT_PERSPECTIVE: {
                double p = c[0] * dx + c[1] * dy + c[2], q = c[3] * dx + c[4] * dy + c[5], r = c[6] * dx + c[7] * dy + 1;
                if (c[8] * r < 0) validity = 0;
                double R = 2 * std::fabs(r);
                if (std::fabs(c[6]) > std::fabs(c[7])) {
                    if (R < std::fabs(c[6])) validity = 0.5 - c[8] * r / c[6];
                } else if (R < std::fabs(c[7])) {
                    validity = 0.5 - c[8] * r / c[7];
                }
                // On the horizon itself there is no source point.
                if (r == 0) validity = 0;
                if (validity > 0) {
                    sx = p / r, sy = q / r;
                    double r2 = r * r;
                    d[0] = (r * c[0] - p * c[6]) / r2, d[1] = (r * c[1] - p * c[7]) / r2;
                    d[2] = (r * c[3] - q * c[6]) / r2, d[3] = (r * c[4] - q * c[7]) / r2;
                }
                break;
            }
            case DISTORT_ARC: {
                double a = (std::atan2(dy, dx) - c[0]) / kTwoPi;
                a -= RoundHalfAway(a);
                double r = std::hypot(dx, dy);
                if (r > 1e-6) d[0] = c[1] / (kTwoPi * r), d[1] = 0, d[2] = 0, d[3] = c[3];
                else d[0] = 2.0 * job->resultWidth, d[1] = 0, d[2] = 0, d[3] = c[3];
                sx = a * c[1] + c[4] + 0.5;
                sy = (c[2] - r) * c[3];
                break;
            }
            case DISTORT_POLAR: {
                double x = dx - c[2], y = dy - c[3];
                double a = (std::atan2(x, y) - (c[4] + c[5]) / 2) / kTwoPi;
                a = (a - RoundHalfAway(a)) * kTwoPi;
                double r = std::hypot(x, y);
                if (r > 1e-6) d[0] = c[6] / (kTwoPi * r), d[1] = 0, d[2] = 0, d[3] = c[7];
                else d[0] = 2.0 * job->resultWidth, d[1] = 0, d[2] = 0, d[3] = c[7];
                sx = w / 2 + a * c[6];
                sy = (r - c[1]) * c[7];
                break;
            }
            default: {
                double x = dx - c[8], y = dy - c[9], r = std::sqrt(x * x + y * y);
                if (r > 1e-6) {
                    double fx = ((c[0] * r + c[1]) * r + c[2]) * r + c[3];
                    double fy = ((c[4] * r + c[5]) * r + c[6]) * r + c[7];
                    double gx = ((3 * c[0] * r + 2 * c[1]) * r + c[2]) / r;
                    double gy = ((3 * c[4] * r + 2 * c[5]) * r + c[6]) / r;
                    sx = x * fx + c[8], sy = y * fy + c[9];
                    d[0] = gx * x * x + fx, d[1] = gx * x * y, d[2] = gy * x * y, d[3] = gy * y * y + fy;
                } else {
                    sx = c[8], sy = c[9];
                    d[0] = c[3], d[1] = 0, d[2] = 0, d[3] = c[7];
                }
                break;
            }
            }
            sx -= 0.5;
            sy -= 0.5;
            if (!std::isfinite(sx) || !std::isfinite(sy)) validity = 0;
            if (!(validity > 0)) {
                if (job->resultPixels) ClearPixel(job, i, j);
                continue;
            }
            bool smooth = filter && job->resultBytes == 4;
            if (smooth) {
                SetFilterEllipse(filter, d[0], d[1], d[2], d[3]);
                if (!filter->degenerate && !filter->tooWide &&
                    (sx + filter->ulimit < 0 || sx - filter->ulimit > w || sy + filter->vlimit < 0 ||
                     sy - filter->vlimit > h))
                    smooth = false;
            }
            if (!smooth) {
                WriteNearest(job, i, j, sx, sy);
                continue;
            }
            double colour[4];
            if (filter->degenerate || filter->tooWide) SampleBilinear(job, sx, sy, colour);
            else SampleEwa(filter, sx, sy, colour);
            WriteSmooth(job, i, j, colour);
        }
    FreeMemory(filter);
    return 0;
}

int DistortImage(lvBitMapHandle *rgb, lvBitMapHandle *mask, lvBitMapHandle *alpha, lvBitMapHandle *chunky, int width,
                 int height, int kind, const double *values, int count, int smooth, int transparentPen,
                 lvDistortResult *out) {
    // Only what every given plane holds is read.
    for (lvBitMapHandle *b : {rgb, mask, alpha, chunky})
        if (b) width = std::min(width, b->width), height = std::min(height, b->height);
    lvDistortJob job{};
    job.kind = kind;
    job.valueCount = count;
    job.values = values;
    job.sourceWidth = width;
    job.sourceHeight = height;
    bool pens = !rgb && chunky;
    job.smooth = pens ? 0 : smooth;
    if (!rgb && !chunky) return ERR_WRONGUSAGE;
    if (int rc = ComputeDistortGeometry(&job)) return rc;
    int W = job.resultWidth, H = job.resultHeight;
    lvDistortResult r{};
    auto fail = [&](int code) {
        FreeBitmapHandle(r.rgb);
        FreeBitmapHandle(r.mask);
        FreeBitmapHandle(r.alpha);
        FreeBitmapHandle(r.chunky);
        return code;
    };
    if (pens) {
        if (!(r.chunky = AllocChunkyBitmap(W, H, 1))) return ERR_ALLOCCHUNKY;
        uint8_t *p;
        int rb;
        if (uintptr_t t = GetPlanePixels(r.chunky, &p, &rb, 1)) {
            std::memset(p, transparentPen >= 0 ? transparentPen & 0xFF : 0, static_cast<size_t>(rb) * H);
            ReleasePlanePixels(t);
        } else {
            return fail(ERR_LOCKBMAP);
        }
    } else {
        if (!(r.rgb = AllocRgbBitmap(W, H, 0, nullptr))) return ERR_BITMAP;
        if (mask || (!alpha && !job.smooth)) {
            if (!(r.mask = AllocMaskBitmap(r.rgb, W, H, 1, nullptr, 0))) return fail(ERR_ALLOCMASK);
        } else if (!(r.alpha = AllocAlphaBitmap(W, H, 1, nullptr, 0))) {
            return fail(ERR_ALLOCALPHA);
        }
    }
    int rc = 0;
    {
    lvScopedLock source(rgb, LOCK_READONLY), result(r.rgb, 0);
    if ((rgb && !source) || (r.rgb && !result)) rc = ERR_LOCKBMAP;
    if (!rc && rgb) {
        job.sourcePixels = source.lock.pixels;
        job.sourceRowLength = source.lock.rowLength;
        job.sourceFormat = source.lock.format;
        job.sourceBytes = source.lock.bytesPerPixel;
        job.resultPixels = result.lock.pixels;
        job.resultRowLength = result.lock.rowLength;
        job.resultFormat = result.lock.format;
        job.resultBytes = result.lock.bytesPerPixel;
    }
    uintptr_t tokens[4] = {};
    uint8_t *p = nullptr;
    int rb = 0;
    lvBitMapHandle *sourcePlane = pens ? chunky : alpha;
    if (!rc && sourcePlane) {
        if (!(tokens[0] = GetPlanePixels(sourcePlane, &p, &rb, 0))) rc = ERR_LOCKBMAP;
        job.sourcePlane = p, job.sourcePlaneRowBytes = rb;
        job.planeIsPens = pens;
    }
    if (!rc && mask && !pens) {
        if (!(tokens[1] = GetPlanePixels(mask, &p, &rb, 0))) rc = ERR_LOCKBMAP;
        job.sourceMask = p, job.sourceMaskRowBytes = rb;
    }
    lvBitMapHandle *resultPlane = pens ? r.chunky : r.alpha;
    if (!rc && resultPlane) {
        if (!(tokens[2] = GetPlanePixels(resultPlane, &p, &rb, 1))) rc = ERR_LOCKBMAP;
        job.resultPlane = p, job.resultPlaneRowBytes = rb;
    }
    if (!rc && r.mask) {
        if (!(tokens[3] = GetPlanePixels(r.mask, &p, &rb, 1))) rc = ERR_LOCKBMAP;
        job.resultMask = p, job.resultMaskRowBytes = rb;
    }
    if (!rc) rc = RunDistortion(&job);
    for (uintptr_t t : tokens)
        if (t) ReleasePlanePixels(t);
    }
    if (rc) return fail(rc);
    r.width = W;
    r.height = H;
    r.x = job.resultX;
    r.y = job.resultY;
    *out = r;
    return 0;
}

// gradient_render.cpp - RenderGradient and FillBitmapWithGradient: positions
// in 16.16 fixed point along a LINEAR axis, around a RADIAL centre or a
// CONICAL angle, colours interpolated between the stop pair around each one.
//
// Depends on: raster/lvgradient.h.
// Limits: script thread only.
#include <algorithm>
#include <cmath>

#include "raster/lvgradient.h"

#include "platform/lvplatform.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

// The stop pair around a position, kept while positions stay inside it
// (stops given out of order are looked up for every position).
struct lvSegmentCache {
    const lvGradientStop *stops;
    int count;
    bool sorted = true;
    int32_t lo = 1, hi = 0;  // positions the cached answer covers: [lo, hi)
    bool between = false;    // a pair (else one stop's colour)
    int32_t pos0 = 0;
    int64_t scale = 0;
    int r0 = 0, g0 = 0, b0 = 0, r1 = 0, g1 = 0, b1 = 0;
    uint32_t fixed = 0;

    lvSegmentCache(const lvGradientStop *s, int n) : stops(s), count(n) {
        for (int k = 1; k < n; k++)
            if (s[k].position < s[k - 1].position) sorted = false;
    }
    void Find(int32_t p) {
        int i = 0;
        while (i < count && stops[i].position <= p) i++;
        if (i == 0 || i == count) {
            // Pad: before the first stop its colour, from the last stop on the last's.
            const lvGradientStop &s = stops[i == 0 ? 0 : count - 1];
            fixed = (uint32_t(s.red >> 8) << 16) | (uint32_t(s.green >> 8) << 8) | uint32_t(s.blue >> 8);
            between = false;
            lo = i == 0 ? INT32_MIN : stops[count - 1].position;
            hi = i == 0 ? stops[0].position : INT32_MAX;
        } else {
            const lvGradientStop &s0 = stops[i - 1], &s1 = stops[i];
            between = true;
            pos0 = s0.position;
            int64_t span = int64_t(s1.position) - s0.position;
            r0 = s0.red >> 8, g0 = s0.green >> 8, b0 = s0.blue >> 8;
            r1 = s1.red >> 8, g1 = s1.green >> 8, b1 = s1.blue >> 8;
            // Equal positions or equal colours: scale 0, the first stop's colour.
            bool same = r0 == r1 && g0 == g1 && b0 == b1;
            scale = (span > 0 && !same) ? (span / 2 + (int64_t(1) << 24)) / span : 0;
            lo = s0.position;
            hi = s1.position;
        }
        if (!sorted) lo = 1, hi = 0;
    }
    uint32_t At(int32_t p) {
        if (!(p >= lo && (p < hi || hi == INT32_MAX))) Find(p);
        if (!between) return fixed;
        int64_t t = std::clamp<int64_t>(((int64_t(p) - pos0) * scale) >> 16, 0, 256);
        int r = static_cast<int>((r0 * (256 - t) + r1 * t) >> 8);
        int g = static_cast<int>((g0 * (256 - t) + g1 * t) >> 8);
        int b = static_cast<int>((b0 * (256 - t) + b1 * t) >> 8);
        return (uint32_t(r) << 16) | (uint32_t(g) << 8) | uint32_t(b);
    }
};

// CONICAL positions without the library's atan2 where that gives the same
// position. atan2 comes from atan on [0, 1], taken about the nearest of
// 0, 1/8, ..., 1 with four terms of its series: within 2e-12 of the true angle,
// and so of the library's. The position is the truncation of a chain of
// roundings, each monotone, whose result moves by at most 65536 / 2pi per
// radian plus 2e-10 of rounding, so a position farther than kConicalSlack from
// the nearest integer truncates as the library's angle would; nearer ones,
// and the points on an axis, take the library's path.
constexpr double kConicalSlack = 1e-5;
constexpr int32_t kConicalPositions = 65537;

struct lvConicalAtan {
    double centre[9];  // atan(j / 8)
    lvConicalAtan() {
        for (int j = 0; j <= 8; j++) centre[j] = std::atan(j / 8.0);
    }
    // atan(z) for z in [0, 1].
    double Atan(double z) const {
        int j = static_cast<int>(z * 8.0 + 0.5);
        double t = j / 8.0, d = (z - t) / (1.0 + z * t), d2 = d * d;
        return centre[j] + d * (1.0 - d2 * (1.0 / 3 - d2 * (1.0 / 5 - d2 * (1.0 / 7))));
    }
    // atan2(y, x) for x, y not zero.
    double Atan2(double y, double x) const {
        double ax = std::fabs(x), ay = std::fabs(y);
        double a = ay <= ax ? Atan(ay / ax) : kPi / 2 - Atan(ax / ay);
        if (x < 0) a = kPi - a;
        return y < 0 ? -a : a;
    }
};

// The library's position: atan2, the turn, the reflect spread.
inline int32_t ConicalPosition(double ddy, double ddx, double angle) {
    double r = std::fmod(std::atan2(ddy, ddx) + 2 * kPi + angle, 2 * kPi);
    int32_t p = static_cast<int32_t>((1.0 - r / (2 * kPi)) * 65536.0);
    // Reflect spread: periods above 1.0 are mirrored.
    if (p > 65536 || p < 0) {
        int32_t m = ((p % 131072) + 131072) % 131072;
        p = m > 65536 ? 131072 - m : m;
    }
    return p;
}

// The same position from the series when it is sure to agree, else -1. Turns
// of 0 up to 2pi keep the sum below 3 x 2pi, where fmod is a subtraction of 2pi
// or 4pi (exact, as fmod is).
inline int32_t ConicalPositionFast(const lvConicalAtan &at, double ddy, double ddx, double angle) {
    if (ddx == 0 || ddy == 0) return -1;
    const double turn = 2 * kPi;
    double t = at.Atan2(ddy, ddx) + 2 * kPi + angle;
    double r = t >= 2 * turn ? t - 2 * turn : (t >= turn ? t - turn : t);
    // Near a whole turn the library's fmod may wrap the other way.
    if (std::fabs(t - turn) < 1e-9 || std::fabs(t - 2 * turn) < 1e-9) return -1;
    double w = (1.0 - r / (2 * kPi)) * 65536.0;
    if (!(w - kConicalSlack >= 0)) return -1;
    int32_t lo = static_cast<int32_t>(w - kConicalSlack), hi = static_cast<int32_t>(w + kConicalSlack);
    return lo == hi ? lo : -1;
}

inline uint16_t Wide(uint32_t colour, int shift) { return static_cast<uint16_t>(((colour >> shift) & 0xFF) * 257); }

lvGradientStop MakeStop(double position, uint32_t colour) {
    return {static_cast<int32_t>(position * 65536.0), Wide(colour, 16), Wide(colour, 8), Wide(colour, 0)};
}
lvGradientStop MakeStopFixed(int32_t position, uint32_t colour) {
    return {position, Wide(colour, 16), Wide(colour, 8), Wide(colour, 0)};
}

}  // namespace

int32_t GradientConicalPosition(double ddy, double ddx, double angle) {
    static const lvConicalAtan series;
    if (angle >= 0 && angle < 2 * kPi) {
        int32_t p = ConicalPositionFast(series, ddy, ddx, angle);
        if (p >= 0) return p;
    }
    return ConicalPosition(ddy, ddx, angle);
}

void RenderGradient(const lvGradientJob *job) {
    const lvGradient *g = job->gradient;
    if (!g || !job->pixels || job->bytesPerPixel != 4 || job->format < PIXFMT_ARGB32 || job->format > PIXFMT_ABGR32)
        return;
    if (job->width <= 0 || job->height <= 0) return;
    if (g->style != GRADIENT_LINEAR && g->style != GRADIENT_RADIAL && g->style != GRADIENT_CONICAL) return;
    lvGradientStop stops[GRADIENT_MAXSTOPS];
    int count = 0;
    if (g->stopCount > 0) {
        count = std::min(g->stopCount, static_cast<int>(GRADIENT_MAXSTOPS));
        for (int i = 0; i < count; i++) stops[i] = MakeStop(g->stops[i].position, g->stops[i].colour);
    } else if (g->style == GRADIENT_CONICAL) {
        stops[0] = MakeStopFixed(0, g->endColour);
        stops[1] = MakeStopFixed(static_cast<int32_t>(g->balance * 65536.0), g->startColour);
        stops[2] = MakeStopFixed(65536, g->endColour);
        count = 3;
    } else {
        stops[0] = MakeStopFixed(0, g->startColour);
        stops[1] = MakeStopFixed(65536, g->endColour);
        count = 2;
    }
    lvSegmentCache seg(stops, count);
    const double w = job->width, h = job->height;
    // Geometry, in 16.16 where the record keeps it.
    double x0 = 0, y0 = 0, dx = 0, dy = 0, lengthSq = 0;  // LINEAR axis
    double cx = 0, cy = 0, radius = 1, angle = 0;         // RADIAL / CONICAL
    if (g->style == GRADIENT_LINEAR) {
        int a = g->angle % 360;
        if (a < 0) a += 360;
        int32_t fx0, fy0, fx1, fy1;
        auto fix = [](double v) { return static_cast<int32_t>(v * 65536.0); };
        if (a == 0) fx0 = 0, fy0 = 0, fx1 = 0, fy1 = fix(h);
        else if (a == 90) fx0 = 0, fy0 = 0, fx1 = fix(w), fy1 = 0;
        else if (a == 180) fx0 = 0, fy0 = fix(h), fx1 = 0, fy1 = 0;
        else if (a == 270) fx0 = fix(w), fy0 = 0, fx1 = 0, fy1 = 0;
        else {
            double s = std::sin(a * kPi / 180.0), c = std::cos(a * kPi / 180.0);
            const double corners[4][2] = {{0, 0}, {w, 0}, {0, h}, {w, h}};
            int lo = 0, hi = 0;
            for (int k = 1; k < 4; k++) {
                double p = corners[k][0] * s + corners[k][1] * c;
                if (p < corners[lo][0] * s + corners[lo][1] * c) lo = k;
                if (p > corners[hi][0] * s + corners[hi][1] * c) hi = k;
            }
            double len = (corners[hi][0] - corners[lo][0]) * s + (corners[hi][1] - corners[lo][1]) * c;
            fx0 = fix(corners[lo][0]), fy0 = fix(corners[lo][1]);
            fx1 = fix(corners[lo][0] + s * len), fy1 = fix(corners[lo][1] + c * len);
        }
        x0 = fx0 / 65536.0, y0 = fy0 / 65536.0;
        dx = (fx1 - fx0) / 65536.0, dy = (fy1 - fy0) / 65536.0;
        lengthSq = dx * dx + dy * dy;
    } else {
        cx = static_cast<int32_t>(w * g->centreX * 65536.0) / 65536.0;
        cy = static_cast<int32_t>(h * g->centreY * 65536.0) / 65536.0;
        if (g->style == GRADIENT_RADIAL) {
            double border = g->border == 1.0 ? 0.99 : g->border;
            double share = 0.5 + std::max(std::fabs(0.5 - g->centreX), std::fabs(0.5 - g->centreY));
            int64_t r16 = static_cast<int64_t>(std::sqrt(w * w + h * h) * share * (1.0 - border) * 65536.0);
            // A radius truncated to nothing still spans one 16.16 unit.
            radius = std::max<int64_t>(r16, 1) / 65536.0;
        } else {
            angle = static_cast<double>(g->angle) * kPi / 180.0;
        }
    }
    int yStart = 0, yEnd = job->height, xStart = 0, xEnd = job->width;
    if (job->clipWidth > 0) xStart = std::max(0, -job->x), xEnd = std::min(job->width, job->clipWidth - job->x);
    if (job->clipHeight > 0) yStart = std::max(0, -job->y), yEnd = std::min(job->height, job->clipHeight - job->y);
    // CONICAL positions run 0..65536 (a turn, mirrored): over an area several
    // times that size, the pixel of every position is worked out once.
    uint32_t *colours = nullptr;
    if (g->style == GRADIENT_CONICAL && yEnd > yStart && xEnd > xStart &&
        int64_t(yEnd - yStart) * (xEnd - xStart) >= 4 * (int64_t(kConicalPositions))) {
        colours = static_cast<uint32_t *>(AllocMemory(sizeof(uint32_t) * kConicalPositions, 0));
        if (colours)
            for (int32_t p = 0; p < kConicalPositions; p++) colours[p] = ArgbToPixel32(job->format, seg.At(p));
    }
    for (int y = yStart; y < yEnd; y++) {
        uint32_t *row = reinterpret_cast<uint32_t *>(job->pixels) +
                        static_cast<ptrdiff_t>(job->y + y) * job->rowLength + job->x;
        double py = y + 0.5;
        if (g->style == GRADIENT_LINEAR) {
            double start = 0, step = 0;
            if (lengthSq > 0) {
                start = ((xStart + 0.5 - x0) * dx + (py - y0) * dy) / lengthSq * 65536.0;
                step = 65536.0 * dx / lengthSq;
            }
            if (step == 0) {
                // The axis runs straight down: one colour a row.
                std::fill(row + xStart, row + xEnd, ArgbToPixel32(job->format, seg.At(static_cast<int32_t>(start))));
                continue;
            }
            if (dy == 0 && y > yStart) {
                // The axis runs across: every row is the first row again.
                const uint32_t *first = reinterpret_cast<const uint32_t *>(job->pixels) +
                                        static_cast<ptrdiff_t>(job->y + yStart) * job->rowLength + job->x;
                std::copy(first + xStart, first + xEnd, row + xStart);
                continue;
            }
            for (int x = xStart; x < xEnd; x++) {
                int32_t p = static_cast<int32_t>(start + (x - xStart) * step);
                row[x] = ArgbToPixel32(job->format, seg.At(p));
            }
        } else if (g->style == GRADIENT_RADIAL) {
            double ddy = py - cy;
            for (int x = xStart; x < xEnd; x++) {
                double ddx = x + 0.5 - cx;
                double d = std::sqrt(ddx * ddx + ddy * ddy) * 65536.0 / radius;
                int32_t p = d >= 2147483647.0 ? INT32_MAX : static_cast<int32_t>(d);
                row[x] = ArgbToPixel32(job->format, seg.At(p));
            }
        } else {
            double ddy = py - cy;
            if (colours) {
                for (int x = xStart; x < xEnd; x++) row[x] = colours[GradientConicalPosition(ddy, x + 0.5 - cx, angle)];
                continue;
            }
            for (int x = xStart; x < xEnd; x++)
                row[x] = ArgbToPixel32(job->format, seg.At(GradientConicalPosition(ddy, x + 0.5 - cx, angle)));
        }
    }
    FreeMemory(colours);
}

void FillBitmapWithGradient(lvBitMapHandle *bitmap, int x, int y, int width, int height, const lvGradient *gradient) {
    lvScopedLock l(bitmap, 0);
    if (!l) return;
    lvGradientJob job{};
    job.pixels = l.lock.pixels;
    job.bytesPerPixel = l.lock.bytesPerPixel;
    job.format = l.lock.format;
    job.x = x;
    job.y = y;
    job.width = width;
    job.height = height;
    job.rowLength = l.lock.rowLength;
    job.gradient = gradient;
    job.clipWidth = l.lock.width > 0 ? l.lock.width : bitmap->width;
    job.clipHeight = l.lock.height > 0 ? l.lock.height : bitmap->height;
    RenderGradient(&job);
}

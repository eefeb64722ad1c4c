// effects_colour.cpp - effects that change pixel colours in place: gray, black
// and white, invert, solarize, gamma, contrast, modulate, normalize, sepia,
// charcoal and oil paint, with the HSB and HSL conversions they use.
//
// Intensity is 0.299 R + 0.587 G + 0.114 B. It is formed from the integer sum
// 299 R + 587 G + 114 B, so that a gray pixel keeps its level exactly (binary
// fractions of the three weights would put many grays a hair below their own
// value and truncate them one level darker).
#include "images/lveffects.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "base/lverrors.h"
#include "platform/lvplatform.h"

namespace {

inline int IntensitySum(uint32_t argb) {
    return 299 * int((argb >> 16) & 0xFF) + 587 * int((argb >> 8) & 0xFF) + 114 * int(argb & 0xFF);
}
inline long double Intensity(uint32_t argb) { return IntensitySum(argb) / 1000.0L; }
inline int IntensityLevel(uint32_t argb) { return IntensitySum(argb) / 1000; }

inline int Clamp255(long double v) {
    if (!(v > 0)) return 0;
    if (v >= 255) return 255;
    return static_cast<int>(v);
}

// The pixels of one effect: the caller's lock or one taken here.
struct PixelRun {
    lvScopedLock own;
    const lvBitMapLock *lock = nullptr;
    int width = 0, height = 0;
    PixelRun(lvBitMapHandle *bitmap, lvBitMapLock *given, int w, int h) : own(given ? nullptr : bitmap, 0) {
        lock = given ? given : (own ? &own.lock : nullptr);
        width = w;
        height = h;
        if (lock) {
            if (lock->width > 0) width = std::min(width, lock->width);
            if (lock->height > 0) height = std::min(height, lock->height);
        }
    }
    bool Locked() const { return lock != nullptr; }
    bool Works() const { return lock && lock->bytesPerPixel == 4 && width > 0 && height > 0; }
    uint32_t *Row(int y) const {
        return reinterpret_cast<uint32_t *>(lock->pixels) + static_cast<size_t>(y) * lock->rowLength;
    }
    // fn(ARGB) gives the new 0xRRGGBB.
    template <class F> void Map(F fn) const {
        int format = lock->format;
        for (int y = 0; y < height; y++) {
            uint32_t *row = Row(y);
            for (int x = 0; x < width; x++) {
                uint32_t c = format == PIXFMT_ARGB32 ? row[x] : Pixel32ToArgb(format, row[x]);
                uint32_t out = fn(c) & 0x00FFFFFFu;
                row[x] = format == PIXFMT_ARGB32 ? out : ArgbToPixel32(format, out);
            }
        }
    }
};

inline uint32_t Rgb(int r, int g, int b) { return (uint32_t(r) << 16) | (uint32_t(g) << 8) | uint32_t(b); }

void GrayKernel(const PixelRun &run, int monochrome) {
    run.Map([monochrome](uint32_t c) {
        int v = IntensityLevel(c);
        if (monochrome) v = v <= 128 ? 0 : 255;
        return Rgb(v, v, v);
    });
}

void InvertKernel(const PixelRun &run) {
    for (int y = 0; y < run.height; y++) {
        uint32_t *row = run.Row(y);
        for (int x = 0; x < run.width; x++) row[x] = ~row[x];
    }
}

void ContrastKernel(const PixelRun &run, int sharpen, int count) {
    double sign = sharpen ? 1.0 : -1.0;
    // Each pass is the same map of every pixel on its own: once a pass changes
    // nothing, the remaining ones would not either, and a large count ends there.
    for (int n = 0; n < count; n++) {
        uint32_t changed = 0;
        int format = run.lock->format;
        for (int y = 0; y < run.height; y++) {
            uint32_t *row = run.Row(y);
            for (int x = 0; x < run.width; x++) {
                uint32_t before = row[x];
                uint32_t c = format == PIXFMT_ARGB32 ? before : Pixel32ToArgb(format, before);
                double h, s, b;
                RgbToHsb((c >> 16) & 0xFF, (c >> 8) & 0xFF, c & 0xFF, &h, &s, &b);
                b += (0.5 * (std::sin(M_PI * (b - 0.5)) + 1) - b) * 0.5 * sign;
                b = b < 0 ? 0 : (b > 1 ? 1 : b);
                int r, g, bl;
                HsbToRgb(h, s, b, &r, &g, &bl);
                uint32_t out = Rgb(r, g, bl);
                row[x] = format == PIXFMT_ARGB32 ? out : ArgbToPixel32(format, out);
                changed |= row[x] ^ before;
            }
        }
        if (!changed) break;
    }
}

void NormalizeKernel(const PixelRun &run, int blackCount, int whiteCount) {
    int64_t histogram[256] = {};
    int format = run.lock->format;
    for (int y = 0; y < run.height; y++) {
        const uint32_t *row = run.Row(y);
        for (int x = 0; x < run.width; x++)
            histogram[IntensityLevel(format == PIXFMT_ARGB32 ? row[x] : Pixel32ToArgb(format, row[x]))]++;
    }
    int64_t total = int64_t(run.width) * run.height;
    int black = 255, white = 0;
    int64_t sum = 0;
    for (int k = 0; k < 256; k++) {
        sum += histogram[k];
        if (sum > blackCount) {
            black = k;
            break;
        }
    }
    sum = 0;
    for (int k = 255; k >= 0; k--) {
        sum += histogram[k];
        if (sum > total - whiteCount) {
            white = k;
            break;
        }
    }
    if (black == white) return;
    uint8_t table[256];
    for (int v = 0; v < 256; v++)
        table[v] = v < black ? 0 : (v > white ? 255 : static_cast<uint8_t>((v - black) * 255 / (white - black)));
    run.Map([&table](uint32_t c) { return Rgb(table[(c >> 16) & 0xFF], table[(c >> 8) & 0xFF], table[c & 0xFF]); });
}

void NormalizeDefault(const PixelRun &run) {
    double n = double(run.width) * run.height;
    NormalizeKernel(run, static_cast<int>(n * 0.02), static_cast<int>(n * 0.99));
}

// Error diffusion to black (pen 0) and white (pen 1) by intensity.
int DefaultTwoColourQuantiser(const uint32_t *argb, int width, int height, uint8_t *pens) {
    int *errors = static_cast<int *>(AllocMemory(sizeof(int) * 2 * (static_cast<size_t>(width) + 2), 1));
    if (!errors) return ERR_MEM;
    int *cur = errors + 1, *next = errors + width + 3;
    for (int y = 0; y < height; y++) {
        for (int x = 0; x < width; x++) {
            int v = IntensityLevel(argb[static_cast<size_t>(y) * width + x]) + cur[x] / 16;
            int pen = v > 127 ? 1 : 0;
            pens[static_cast<size_t>(y) * width + x] = static_cast<uint8_t>(pen);
            int e = v - (pen ? 255 : 0);
            cur[x + 1] += e * 7;
            next[x - 1] += e * 3;
            next[x] += e * 5;
            next[x + 1] += e;
        }
        std::swap(cur, next);
        std::memset(next - 1, 0, sizeof(int) * (static_cast<size_t>(width) + 2));
    }
    FreeMemory(errors);
    return 0;
}

lvTwoColourQuantiser TwoColourQuantiser = DefaultTwoColourQuantiser;

}  // namespace

void SetTwoColourQuantiser(lvTwoColourQuantiser quantiser) {
    TwoColourQuantiser = quantiser ? quantiser : DefaultTwoColourQuantiser;
}

// ---- Colour spaces ----------------------------------------------------------

void RgbToHsb(int r, int g, int b, double *hue, double *saturation, double *brightness) {
    int mx = std::max({r, g, b}), mn = std::min({r, g, b});
    *hue = *saturation = *brightness = 0;
    if (mx == 0) return;
    *brightness = mx / 255.0;
    *saturation = double(mx - mn) / mx;
    if (mx == mn) return;
    double d = mx - mn, h;
    if (r == mx) h = (g - b) / d;
    else if (g == mx) h = 2 + (b - r) / d;
    else h = 4 + (r - g) / d;
    h /= 6;
    if (h < 0) h += 1;
    *hue = h;
}

void HsbToRgb(double h, double s, double v, int *r, int *g, int *b) {
    if (s == 0) {
        *r = *g = *b = Clamp255(v * 255);
        return;
    }
    double h6 = (h - std::floor(h)) * 6;
    int i = static_cast<int>(std::floor(h6));
    double f = h6 - i;
    double p = v * (1 - s) * 255, q = v * (1 - s * f) * 255, t = v * (1 - s * (1 - f)) * 255, V = v * 255;
    double c[3];
    switch (i) {
    case 0: c[0] = V, c[1] = t, c[2] = p; break;
    case 1: c[0] = q, c[1] = V, c[2] = p; break;
    case 2: c[0] = p, c[1] = V, c[2] = t; break;
    case 3: c[0] = p, c[1] = q, c[2] = V; break;
    case 4: c[0] = t, c[1] = p, c[2] = V; break;
    default: c[0] = V, c[1] = p, c[2] = q; break;
    }
    *r = Clamp255(c[0]);
    *g = Clamp255(c[1]);
    *b = Clamp255(c[2]);
}

void RgbToHsl(int r8, int g8, int b8, double *hue, double *saturation, double *lightness) {
    const double k = 0.00392156862745098;
    double r = r8 * k, g = g8 * k, b = b8 * k;
    double mx = std::max({r, g, b}), mn = std::min({r, g, b});
    double l = (mx + mn) / 2;
    *lightness = l;
    *hue = *saturation = 0;
    if (mx == mn) return;
    double d = mx - mn;
    *saturation = l < 0.5 ? d / (mx + mn) : d / (2 - mx - mn);
    double dr = d / 2 + (mx - r) / 6, dg = d / 2 + (mx - g) / 6, db = d / 2 + (mx - b) / 6;
    double h;
    if (r == mx) h = (db - dg) / d;
    else if (g == mx) h = (dr - db) / d + 1.0 / 3;
    else h = (dg - dr) / d + 2.0 / 3;
    if (h < 0) h += 1;
    if (h > 1) h -= 1;
    *hue = h;
}

namespace {
double HueToRgb(double m1, double m2, double x) {
    if (x < 0) x += 1;
    if (x > 1) x -= 1;
    if (6 * x < 1) return m1 + (m2 - m1) * 6 * x;
    if (2 * x < 1) return m2;
    if (3 * x < 2) return m1 + (m2 - m1) * 6 * (2.0 / 3 - x);
    return m1;
}
}  // namespace

void HslToRgb(double h, double s, double l, int *r, int *g, int *b) {
    if (s == 0) {
        *r = *g = *b = Clamp255(l * 255);
        return;
    }
    double m2 = l <= 0.5 ? l * (1 + s) : l + s - l * s;
    double m1 = 2 * l - m2;
    *r = Clamp255(HueToRgb(m1, m2, h + 1.0 / 3) * 255);
    *g = Clamp255(HueToRgb(m1, m2, h) * 255);
    *b = Clamp255(HueToRgb(m1, m2, h - 1.0 / 3) * 255);
}

// ---- Effects ----------------------------------------------------------------

int GrayImage(lvBitMapHandle *bitmap, int width, int height, lvBitMapLock *lock) {
    PixelRun run(bitmap, lock, width, height);
    if (!run.Locked()) return ERR_LOCKBMAP;
    if (run.Works()) GrayKernel(run, 0);
    return 0;
}

int MonochromeImage(lvBitMapHandle *bitmap, int width, int height, int dither) {
    PixelRun run(bitmap, nullptr, width, height);
    if (!run.Locked()) return ERR_LOCKBMAP;
    if (!run.Works()) return 0;
    if (!dither) {
        GrayKernel(run, 1);
        return 0;
    }
    size_t n = static_cast<size_t>(run.width) * run.height;
    uint8_t *pens = static_cast<uint8_t *>(AllocMemory(n, 1));
    uint32_t *argb = pens ? static_cast<uint32_t *>(AllocMemory(n * 4, 0)) : nullptr;
    int rc = ERR_MEM;
    if (argb) {
        int format = run.lock->format;
        for (int y = 0; y < run.height; y++)
            for (int x = 0; x < run.width; x++) {
                uint32_t p = run.Row(y)[x];
                argb[static_cast<size_t>(y) * run.width + x] = format == PIXFMT_ARGB32 ? p : Pixel32ToArgb(format, p);
            }
        rc = TwoColourQuantiser(argb, run.width, run.height, pens);
        if (!rc) {
            // White in the bitmap's own order.
            uint32_t white = (format == PIXFMT_BGRA32 || format == PIXFMT_RGBA32) ? 0xFFFFFF00u : 0x00FFFFFFu;
            for (int y = 0; y < run.height; y++)
                for (int x = 0; x < run.width; x++)
                    run.Row(y)[x] = pens[static_cast<size_t>(y) * run.width + x] ? white : 0;
        }
    }
    FreeMemory(argb);
    FreeMemory(pens);
    return rc;
}

int InvertImage(lvBitMapHandle *bitmap, int width, int height, lvBitMapLock *lock) {
    PixelRun run(bitmap, lock, width, height);
    if (!run.Locked()) return ERR_LOCKBMAP;
    if (run.Works()) InvertKernel(run);
    return 0;
}

void InvertBytes(uint8_t *plane, int rows, int rowBytes) {
    if (!plane || rows <= 0 || rowBytes <= 0) return;
    size_t n = static_cast<size_t>(rows) * rowBytes;
    for (size_t i = 0; i < n; i++) plane[i] = static_cast<uint8_t>(~plane[i]);
}

int SolarizeImage(lvBitMapHandle *bitmap, int width, int height, int threshold) {
    PixelRun run(bitmap, nullptr, width, height);
    if (!run.Locked()) return ERR_LOCKBMAP;
    if (!run.Works()) return 0;
    int t = std::clamp(threshold, 0, 255);
    run.Map([t](uint32_t c) {
        int r = (c >> 16) & 0xFF, g = (c >> 8) & 0xFF, b = c & 0xFF;
        if (r > t) r = 255 - r;
        if (g > t) g = 255 - g;
        if (b > t) b = 255 - b;
        return Rgb(r, g, b);
    });
    return 0;
}

void BuildGammaTable(double gamma, uint8_t table[256]) {
    if (!(gamma > 0)) {
        std::memset(table, 0, 256);
        return;
    }
    for (int i = 0; i < 256; i++) {
        double v = std::floor(255 * std::pow(i / 255.0, 1 / gamma) + 0.5);
        table[i] = static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
    }
}

int GammaImage(lvBitMapHandle *bitmap, int width, int height, double red, double green, double blue) {
    double g[3] = {red, green, blue};
    for (double &v : g)
        if (!(v >= 0)) v = 0;  // negative or NaN
    if (g[0] == 1 && g[1] == 1 && g[2] == 1) return 0;
    uint8_t tables[3][256];
    const uint8_t *use[3] = {};
    for (int c = 0; c < 3; c++) {
        if (g[c] == 1) continue;
        for (int e = 0; e < c && !use[c]; e++)
            if (use[e] && g[e] == g[c]) use[c] = use[e];
        if (!use[c]) {
            BuildGammaTable(g[c], tables[c]);
            use[c] = tables[c];
        }
    }
    PixelRun run(bitmap, nullptr, width, height);
    if (!run.Locked()) return ERR_LOCKBMAP;
    if (!run.Works()) return 0;
    run.Map([&use](uint32_t c) {
        int r = (c >> 16) & 0xFF, gr = (c >> 8) & 0xFF, b = c & 0xFF;
        if (use[0]) r = use[0][r];
        if (use[1]) gr = use[1][gr];
        if (use[2]) b = use[2][b];
        return Rgb(r, gr, b);
    });
    return 0;
}

int ContrastImage(lvBitMapHandle *bitmap, int width, int height, int sharpen, int count, lvBitMapLock *lock) {
    PixelRun run(bitmap, lock, width, height);
    if (!run.Locked()) return ERR_LOCKBMAP;
    if (run.Works()) ContrastKernel(run, sharpen, count);
    return 0;
}

int ModulateImage(lvBitMapHandle *bitmap, int width, int height, double brightness, double saturation, double hue) {
    if (brightness == 1 && saturation == 1 && hue == 1) return 0;
    double f[3] = {brightness, saturation, hue};
    int pc[3];
    for (int i = 0; i < 3; i++) {
        // Factors beyond 100 add nothing a picture can show and would only
        // lengthen the hue's turn-by-turn reduction.
        double v = f[i] >= 0 ? std::min(f[i], 100.0) : 0;
        pc[i] = static_cast<int>(v * 100);
    }
    PixelRun run(bitmap, nullptr, width, height);
    if (!run.Locked()) return ERR_LOCKBMAP;
    if (!run.Works()) return 0;
    run.Map([&pc](uint32_t c) {
        double h, s, l;
        RgbToHsl((c >> 16) & 0xFF, (c >> 8) & 0xFF, c & 0xFF, &h, &s, &l);
        h += 0.5 * (pc[2] * 0.01 - 1);
        while (h < 0) h += 1;
        while (h > 1) h -= 1;
        s *= pc[1] * 0.01;
        l *= pc[0] * 0.01;
        int r, g, b;
        HslToRgb(h, s, l, &r, &g, &b);
        return Rgb(r, g, b);
    });
    return 0;
}

int NormalizeImage(lvBitMapHandle *bitmap, int width, int height, int blackCount, int whiteCount,
                   lvBitMapLock *lock) {
    PixelRun run(bitmap, lock, width, height);
    if (!run.Locked()) return ERR_LOCKBMAP;
    if (run.Works()) NormalizeKernel(run, blackCount, whiteCount);
    return 0;
}

int SepiaToneImage(lvBitMapHandle *bitmap, int width, int height, int threshold) {
    PixelRun run(bitmap, nullptr, width, height);
    if (!run.Locked()) return ERR_LOCKBMAP;
    if (!run.Works()) return 0;
    long double t = std::clamp(threshold, 0, 255);
    int floorValue = Clamp255(t / 7);
    run.Map([t, floorValue](uint32_t c) {
        long double i = Intensity(c);
        int r = i > t ? 255 : Clamp255(255 + i - t);
        int g = i > 7 * t / 6 ? 255 : Clamp255(255 + i - 7 * t / 6);
        int b = i < t / 6 ? 0 : Clamp255(i - t / 6);
        if (g < t / 7) g = floorValue;
        if (b < t / 7) b = floorValue;
        return Rgb(r, g, b);
    });
    NormalizeDefault(run);
    ContrastKernel(run, 1, 1);
    return 0;
}

int CharcoalImage(lvBitMapHandle *bitmap, lvBitMapHandle *alpha, int width, int height, double radius, double sigma) {
    if (!(radius >= 0)) radius = 0;
    PixelRun run(bitmap, nullptr, width, height);
    if (!run.Locked()) return ERR_LOCKBMAP;
    lvBitMapLock *lock = &run.own.lock;
    // The gray pass comes before the convolutions that may find no memory: a
    // copy of the picture (and its plane) puts it back then, so that a failed
    // charcoal leaves nothing half done.
    uint8_t *pp = nullptr;
    int prow = 0;
    uintptr_t pt = alpha ? GetPlanePixels(alpha, &pp, &prow, 1) : 0;
    if (alpha && !pt) return ERR_LOCKBMAP;
    int pw = alpha ? std::min(width, alpha->width) : 0, ph = alpha ? std::min(height, alpha->height) : 0;
    size_t colourBytes = run.Works() ? static_cast<size_t>(run.width) * run.height * 4 : 0;
    size_t planeBytes = pt && pw > 0 && ph > 0 ? static_cast<size_t>(pw) * ph : 0;
    uint8_t *saved = colourBytes + planeBytes ? static_cast<uint8_t *>(AllocMemory(colourBytes + planeBytes, 0)) : nullptr;
    if (colourBytes + planeBytes && !saved) {
        if (pt) ReleasePlanePixels(pt);
        return ERR_MEM;
    }
    for (int y = 0; colourBytes && y < run.height; y++)
        std::memcpy(saved + static_cast<size_t>(y) * run.width * 4, run.Row(y), static_cast<size_t>(run.width) * 4);
    for (int y = 0; planeBytes && y < ph; y++)
        std::memcpy(saved + colourBytes + static_cast<size_t>(y) * pw, pp + static_cast<size_t>(y) * prow, pw);
    if (pt) ReleasePlanePixels(pt);
    if (run.Works()) GrayKernel(run, 0);
    int rc = ConvolveImage(CONVOLVE_EDGE, bitmap, alpha, width, height, radius, 0, lock);
    if (!rc) rc = ConvolveImage(CONVOLVE_BLUR, bitmap, alpha, width, height, radius, sigma, lock);
    if (rc) {
        for (int y = 0; colourBytes && y < run.height; y++)
            std::memcpy(run.Row(y), saved + static_cast<size_t>(y) * run.width * 4, static_cast<size_t>(run.width) * 4);
        if (planeBytes && (pt = GetPlanePixels(alpha, &pp, &prow, 1))) {
            for (int y = 0; y < ph; y++)
                std::memcpy(pp + static_cast<size_t>(y) * prow, saved + colourBytes + static_cast<size_t>(y) * pw, pw);
            ReleasePlanePixels(pt);
        }
        FreeMemory(saved);
        return rc;
    }
    FreeMemory(saved);
    if (run.Works()) {
        NormalizeDefault(run);
        InvertKernel(run);
        GrayKernel(run, 0);
    }
    return 0;
}

int OilPaintImage(lvBitMapHandle *bitmap, int width, int height, double radius) {
    if (!(radius >= 0)) radius = 0;
    PixelRun run(bitmap, nullptr, width, height);
    if (!run.Locked()) return ERR_LOCKBMAP;
    if (!run.Works()) return 0;
    int n = KernelWidth2D(radius, 0.5);
    if (n < 0) return ERR_MEM;
    int half = n / 2, w = run.width, h = run.height, format = run.lock->format;
    // The picture with its edges repeated by the half width, in its own format.
    size_t cw = static_cast<size_t>(w) + 2 * static_cast<size_t>(half), ch = static_cast<size_t>(h) + 2 * half;
    if (cw > (SIZE_MAX / 4) / ch) return ERR_MEM;
    uint32_t *copy = static_cast<uint32_t *>(AllocMemory(cw * ch * 4, 0));
    uint8_t *levels = copy ? static_cast<uint8_t *>(AllocMemory(cw * ch, 0)) : nullptr;
    if (!levels) {
        FreeMemory(copy);
        return ERR_MEM;
    }
    for (size_t y = 0; y < ch; y++) {
        int sy = std::clamp(int(y) - half, 0, h - 1);
        const uint32_t *src = run.Row(sy);
        for (size_t x = 0; x < cw; x++) {
            uint32_t p = src[std::clamp(int(x) - half, 0, w - 1)];
            copy[y * cw + x] = p;
            levels[y * cw + x] = static_cast<uint8_t>(IntensityLevel(format == PIXFMT_ARGB32 ? p : Pixel32ToArgb(format, p)));
        }
    }
    int counts[256];
    for (int y = 0; y < h; y++) {
        uint32_t *out = run.Row(y);
        for (int x = 0; x < w; x++) {
            std::memset(counts, 0, sizeof counts);
            int best = 0;
            size_t chosen = static_cast<size_t>(y) * cw + x;
            for (int r = 0; r < n; r++) {
                size_t base = (static_cast<size_t>(y) + r) * cw + x;
                for (int c = 0; c < n; c++) {
                    int v = ++counts[levels[base + c]];
                    if (v > best) best = v, chosen = base + c;
                }
            }
            out[x] = copy[chosen];
        }
    }
    FreeMemory(levels);
    FreeMemory(copy);
    return 0;
}

// draw_bench.cpp - megapixels a second of CompositeCoverage painting an anti-aliased
// disc's coverage (64 x 64 and 512 x 512) in one colour into a 32-bit RGB plane with a
// 1-bit mask, and with an 8-bit alpha plane, beside pixman's solid-colour OVER through
// an a8 mask into a8r8g8b8 of the same size, measured in the same run, with the ratio
// ours / peer (goal: 1 or more).
// Depends on: lv_images, pixman. Run: build-bench/bin/draw_bench [rounds]
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <vector>

#include <pixman.h>

#include "images/lvpaint.h"

namespace {

int rounds = 7;

double Seconds(const std::function<void()> &job) {
    auto start = std::chrono::steady_clock::now();
    job();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Ours and the peer take turns; the best round of each counts.
void Row(const char *name, int repeat, double mpx, const std::function<void()> &ours,
         const std::function<void()> &peer) {
    auto many = [repeat](const std::function<void()> &f) {
        return [repeat, &f] {
            for (int i = 0; i < repeat; i++) f();
        };
    };
    auto a1 = many(ours), b1 = many(peer);
    a1();
    b1();
    double a = 1e9, b = 1e9;
    for (int i = 0; i < rounds; i++) {
        a = std::min(a, Seconds(a1));
        b = std::min(b, Seconds(b1));
    }
    double total = mpx * repeat;
    std::printf("%-28s %9.1f Mpx/s   pixman OVER a8 %9.1f Mpx/s   ratio %.2f\n", name, total / a, total / b, b / a);
}

// An anti-aliased disc filling most of the square.
std::vector<uint8_t> Disc(int n) {
    std::vector<uint8_t> c(size_t(n) * n);
    double r = n * 0.45, m = n / 2.0;
    for (int y = 0; y < n; y++)
        for (int x = 0; x < n; x++) {
            double d = r - std::hypot(x + 0.5 - m, y + 0.5 - m);
            c[size_t(y) * n + x] = uint8_t(std::clamp(d + 0.5, 0.0, 1.0) * 255);
        }
    return c;
}

void Size(int n) {
    std::vector<uint8_t> cov = Disc(n);
    std::vector<uint32_t> rgb(size_t(n) * n, 0x00204060), dst(size_t(n) * n, 0xFF204060);
    std::vector<uint8_t> mask(size_t((n + 7) / 8) * n), alpha(size_t(n) * n);
    lvPaintContext c{};
    c.rgbPixels = reinterpret_cast<uint8_t *>(rgb.data());
    c.rgbRowPixels = n;
    c.bytesPerPixel = 4;
    c.pixelFormat = PIXFMT_ARGB32;
    SetPaintColour(&c, 0xC08040);
    c.opacity = c.coverage = 255;
    c.targetWidth = c.targetHeight = n;
    lvPaintContext withMask = c, withAlpha = c;
    withMask.maskPixels = mask.data();
    withMask.maskRowBytes = (n + 7) / 8;
    withAlpha.alphaPixels = alpha.data();
    withAlpha.alphaRowBytes = n;

    pixman_color_t colour = {0xC0C0, 0x8080, 0x4040, 0xFFFF};
    pixman_image_t *solid = pixman_image_create_solid_fill(&colour);
    pixman_image_t *a8 = pixman_image_create_bits(PIXMAN_a8, n, n, reinterpret_cast<uint32_t *>(cov.data()), n);
    pixman_image_t *target = pixman_image_create_bits(PIXMAN_a8r8g8b8, n, n, dst.data(), n * 4);
    auto peer = [&] { pixman_image_composite32(PIXMAN_OP_OVER, solid, a8, target, 0, 0, 0, 0, 0, 0, n, n); };
    int repeat = std::max(1, (512 * 512 * 4) / (n * n));
    double mpx = double(n) * n / 1e6;
    char name[64];
    std::snprintf(name, sizeof name, "%dx%d RGB + mask", n, n);
    Row(name, repeat, mpx, [&] { CompositeCoverage(cov.data(), 0, 0, &withMask, n, n, n, 0); }, peer);
    std::snprintf(name, sizeof name, "%dx%d RGB + alpha", n, n);
    Row(name, repeat, mpx, [&] { CompositeCoverage(cov.data(), 0, 0, &withAlpha, n, n, n, 0); }, peer);
    pixman_image_unref(solid);
    pixman_image_unref(a8);
    pixman_image_unref(target);
}

}  // namespace

int main(int argc, char **argv) {
    if (argc > 1) rounds = std::max(1, std::atoi(argv[1]));
    Size(64);
    Size(512);
    return 0;
}

// quant_bench.cpp - the colour quantiser, gradients and the replace fill beside
// peers measured in the same run: MakePaletteBitmap against libimagequant
// (megapixels a second and PSNR of both results), remapping onto a given
// 256-pen palette against SDL2's ARGB8888 -> INDEX8 blit, gradients against
// pixman's, and the replace fill of a maze against cv::floodFill. Each row
// prints ours, the peer and ours / peer (above 1: we are faster).
//
// Depends on: lv_raster, libimagequant, SDL2, pixman-1, OpenCV (core, imgproc).
// Run: build-bench/bin/quant_bench [quantise|remap|gradient|fill]
#include <libimagequant.h>
#include <pixman.h>
#include <SDL.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <opencv2/imgproc.hpp>
#include <random>
#include <vector>

#include "platform/lvplatform.h"
#include "raster/lvfill.h"
#include "raster/lvgradient.h"
#include "raster/lvquantize.h"

namespace {

// Best of a few runs (seconds) of a job that runs at least 0.2 s in all.
double Time(const std::function<void()> &job) {
    using clock = std::chrono::steady_clock;
    double best = 1e30, total = 0;
    for (int i = 0; i < 20 && (i < 3 || total < 0.2); i++) {
        auto t0 = clock::now();
        job();
        double s = std::chrono::duration<double>(clock::now() - t0).count();
        best = std::min(best, s);
        total += s;
    }
    return best;
}

void Row(const char *what, double oursPerSecond, double peerPerSecond, const char *unit, const char *extra = "") {
    std::printf("%-44s ours %9.2f %s  peer %9.2f %s  ratio %5.2f %s\n", what, oursPerSecond, unit, peerPerSecond, unit,
                oursPerSecond / peerPerSecond, extra);
}

// A deterministic photo-like picture: smooth gradients, noise and hard-edged shapes.
std::vector<uint32_t> Photo(int w, int h) {
    std::vector<uint32_t> p(size_t(w) * h);
    std::mt19937 rng(7);
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            double fx = double(x) / w, fy = double(y) / h;
            int r = int(255 * (0.5 + 0.5 * std::sin(fx * 6 + fy * 2)));
            int g = int(255 * fy);
            int b = int(255 * (0.5 + 0.5 * std::cos(fx * 3 - fy * 5)));
            if ((x / (w / 8) + y / (h / 6)) % 5 == 0) r = 230, g = 40, b = 30;          // hard-edged blocks
            if (std::hypot(x - w * 0.7, y - h * 0.4) < h * 0.15) r = 20, g = 60, b = 200;  // a disc
            int n = int(rng() % 17) - 8;
            r = std::clamp(r + n, 0, 255), g = std::clamp(g + n, 0, 255), b = std::clamp(b + n, 0, 255);
            p[size_t(y) * w + x] = 0xFF000000u | uint32_t(r) << 16 | uint32_t(g) << 8 | uint32_t(b);
        }
    return p;
}

double Psnr(const std::vector<uint32_t> &a, const std::vector<uint8_t> &pens, const uint32_t *palette, bool rgba) {
    double se = 0;
    for (size_t i = 0; i < a.size(); i++) {
        uint32_t c = palette[pens[i]];
        int r = rgba ? (c & 0xFF) : (c >> 16) & 0xFF, g = (c >> 8) & 0xFF, b = rgba ? (c >> 16) & 0xFF : c & 0xFF;
        int dr = int((a[i] >> 16) & 0xFF) - r, dg = int((a[i] >> 8) & 0xFF) - g, db = int(a[i] & 0xFF) - b;
        se += dr * dr + dg * dg + db * db;
    }
    double mse = se / (3.0 * a.size());
    return mse == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / mse);
}

void QuantiserRows(int w, int h) {
    std::vector<uint32_t> photo = Photo(w, h);
    // libimagequant wants bytes R, G, B, A.
    std::vector<uint8_t> rgba(size_t(w) * h * 4);
    for (size_t i = 0; i < photo.size(); i++) {
        rgba[4 * i] = (photo[i] >> 16) & 0xFF;
        rgba[4 * i + 1] = (photo[i] >> 8) & 0xFF;
        rgba[4 * i + 2] = photo[i] & 0xFF;
        rgba[4 * i + 3] = 0xFF;
    }
    double mpx = double(w) * h / 1e6;
    for (int colours : {256, 64, 16})
        for (int dither = 0; dither < 2; dither++) {
            std::vector<uint8_t> ours(photo.size()), theirs(photo.size());
            uint32_t ourPalette[256] = {}, theirPalette[256] = {};
            double tOurs = Time([&] {
                lvPaletteConversion r{};
                r.sourceTransparentPen = -1;
                r.rawPixels = photo.data();
                r.rawDepth = 32;
                r.width = w;
                r.height = h;
                r.colourCount = colours;
                r.dither = dither;
                r.value = -1;
                r.wantedTransparentPen = -1;
                r.alphaThreshold = QUANT_RUNTHRESHOLD;
                lvBitMapHandle *pens = nullptr;
                uint32_t *palette = nullptr;
                r.newPensOut = &pens;
                r.paletteCopyOut = &palette;
                if (MakePaletteBitmap(&r) != 0) return;
                uint8_t *p;
                int row;
                uintptr_t t = GetPlanePixels(pens, &p, &row, 0);
                for (int y = 0; y < h; y++) std::memcpy(&ours[size_t(y) * w], p + size_t(y) * row, size_t(w));
                ReleasePlanePixels(t);
                std::memcpy(ourPalette, palette, 1024);
                FreeBitmapHandle(pens);
                FreeMemory(palette);
            });
            double tPeer = Time([&] {
                liq_attr *attr = liq_attr_create();
                liq_set_max_colors(attr, colours);
                liq_image *image = liq_image_create_rgba(attr, rgba.data(), w, h, 0);
                liq_result *result = nullptr;
                if (liq_image_quantize(image, attr, &result) == LIQ_OK) {
                    liq_set_dithering_level(result, dither ? 1.0f : 0.0f);
                    liq_write_remapped_image(result, image, theirs.data(), theirs.size());
                    const liq_palette *pal = liq_get_palette(result);
                    for (unsigned i = 0; i < pal->count; i++)
                        theirPalette[i] = uint32_t(pal->entries[i].r) << 16 | uint32_t(pal->entries[i].g) << 8 |
                                          pal->entries[i].b;
                    liq_result_destroy(result);
                }
                liq_image_destroy(image);
                liq_attr_destroy(attr);
            });
            char what[64], extra[64];
            std::snprintf(what, sizeof what, "quantise %dx%d to %d%s", w, h, colours, dither ? " dithered" : "");
            std::snprintf(extra, sizeof extra, "PSNR ours %.2f dB, libimagequant %.2f dB",
                          Psnr(photo, ours, ourPalette, false), Psnr(photo, theirs, theirPalette, false));
            Row(what, mpx / tOurs, mpx / tPeer, "Mpx/s", extra);
        }
}

void RemapRow(int w, int h) {
    std::vector<uint32_t> photo = Photo(w, h);
    uint32_t palette[256];
    for (int i = 0; i < 256; i++)
        palette[i] = uint32_t((i & 7) * 36) << 16 | uint32_t(((i >> 3) & 7) * 36) << 8 | uint32_t((i >> 6) * 85);
    std::vector<uint8_t> pens(photo.size());
    double tOurs = Time([&] {
        uint32_t work[256];
        std::memcpy(work, palette, sizeof work);
        int count = 256;
        RemapToPalette(photo.data(), nullptr, -1, PIXFMT_ARGB32, 4, 0, 0, pens.data(), 0, 0, w, h, w, w, work, -1,
                       nullptr, nullptr, &count, -1, QUANT_REMAP | QUANT_KEEPPALETTE, nullptr, QUANT_RUNTHRESHOLD);
    });
    SDL_Surface *src = SDL_CreateRGBSurfaceWithFormatFrom(photo.data(), w, h, 32, w * 4, SDL_PIXELFORMAT_ARGB8888);
    SDL_Surface *dst = SDL_CreateRGBSurfaceWithFormat(0, w, h, 8, SDL_PIXELFORMAT_INDEX8);
    SDL_Color colours[256];
    for (int i = 0; i < 256; i++)
        colours[i] = {Uint8(palette[i] >> 16), Uint8(palette[i] >> 8), Uint8(palette[i]), 255};
    SDL_SetPaletteColors(dst->format->palette, colours, 0, 256);
    double tPeer = Time([&] { SDL_BlitSurface(src, nullptr, dst, nullptr); });
    SDL_FreeSurface(src);
    SDL_FreeSurface(dst);
    char what[64];
    std::snprintf(what, sizeof what, "remap %dx%d onto 256 pens (SDL2 INDEX8)", w, h);
    Row(what, double(w) * h / 1e6 / tOurs, double(w) * h / 1e6 / tPeer, "Mpx/s");
}

void GradientRows() {
    const int w = 1920, h = 1080;
    std::vector<uint32_t> px(size_t(w) * h);
    pixman_image_t *target = pixman_image_create_bits(PIXMAN_x8r8g8b8, w, h, px.data(), w * 4);
    pixman_gradient_stop_t stops[2] = {{0, {0xFFFF, 0, 0, 0xFFFF}}, {pixman_int_to_fixed(1), {0, 0, 0xFFFF, 0xFFFF}}};
    struct Case {
        const char *name;
        int style, angle;
    } cases[] = {{"LINEAR 0", GRADIENT_LINEAR, 0}, {"LINEAR 30", GRADIENT_LINEAR, 30}, {"RADIAL", GRADIENT_RADIAL, 0},
                 {"CONICAL", GRADIENT_CONICAL, 0}};
    for (auto &c : cases) {
        lvGradient g{};
        g.startColour = 0xFF0000;
        g.endColour = 0x0000FF;
        InitGradient(&g, 0);
        g.style = c.style;
        g.angle = c.angle;
        lvGradientJob job{};
        job.pixels = reinterpret_cast<uint8_t *>(px.data());
        job.bytesPerPixel = 4;
        job.format = PIXFMT_ARGB32;
        job.width = w;
        job.height = h;
        job.rowLength = w;
        job.gradient = &g;
        double tOurs = Time([&] { RenderGradient(&job); });
        pixman_image_t *grad = nullptr;
        if (c.style == GRADIENT_LINEAR) {
            double a = c.angle * M_PI / 180;
            pixman_point_fixed_t p1 = {0, 0};
            pixman_point_fixed_t p2 = {pixman_double_to_fixed(std::sin(a) * w), pixman_double_to_fixed(std::cos(a) * h)};
            grad = pixman_image_create_linear_gradient(&p1, &p2, stops, 2);
        } else if (c.style == GRADIENT_RADIAL) {
            pixman_point_fixed_t centre = {pixman_double_to_fixed(w / 2.0), pixman_double_to_fixed(h / 2.0)};
            grad = pixman_image_create_radial_gradient(&centre, &centre, 0,
                                                       pixman_double_to_fixed(std::hypot(w, h) / 2), stops, 2);
        } else {
            pixman_point_fixed_t centre = {pixman_double_to_fixed(w / 2.0), pixman_double_to_fixed(h / 2.0)};
            grad = pixman_image_create_conical_gradient(&centre, 0, stops, 2);
        }
        double tPeer = Time([&] { pixman_image_composite32(PIXMAN_OP_SRC, grad, nullptr, target, 0, 0, 0, 0, 0, 0, w, h); });
        pixman_image_unref(grad);
        char what[64];
        std::snprintf(what, sizeof what, "gradient %s 1920x1080 (pixman)", c.name);
        Row(what, double(w) * h / 1e6 / tOurs, double(w) * h / 1e6 / tPeer, "Mpx/s");
    }
    pixman_image_unref(target);
}

void FillRow() {
    const int side = 2000;
    std::vector<uint8_t> maze(size_t(side) * side, 0);
    for (int x = 1; x < side; x += 2) {
        int gap = (x / 2) % 2 ? side - 1 : 0;
        for (int y = 0; y < side; y++)
            if (y != gap) maze[size_t(y) * side + x] = 1;
    }
    std::vector<uint8_t> work;
    double tOurs = Time([&] {
        work = maze;
        lvFillJob j{};
        j.pixels = work.data();
        j.width = j.height = j.rowLength = side;
        j.bytesPerPixel = 1;
        j.fillColour = 2;
        j.replace = 1;
        SeedFillSpans(&j, 0, 0);
    });
    double tPeer = Time([&] {
        work = maze;
        cv::Mat m(side, side, CV_8UC1, work.data());
        cv::floodFill(m, cv::Point(0, 0), cv::Scalar(2), nullptr, cv::Scalar(0), cv::Scalar(0), 4);
    });
    Row("replace fill 2000x2000 comb maze (cv::floodFill)", 4.0 / tOurs, 4.0 / tPeer, "Mpx/s");
}

}  // namespace

// Optional argument: one section only (quantise, remap, gradient, fill).
int main(int argc, char **argv) {
    auto want = [&](const char *section) { return argc < 2 || std::strcmp(argv[1], section) == 0; };
    std::printf("Rows: ours, the peer, ours / peer (above 1: faster).\n");
    if (want("quantise")) QuantiserRows(640, 480), QuantiserRows(1920, 1080);
    if (want("remap")) RemapRow(640, 480), RemapRow(1920, 1080);
    if (want("gradient")) GradientRows();
    if (want("fill")) FillRow();
    return 0;
}

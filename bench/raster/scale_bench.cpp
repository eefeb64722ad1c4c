// scale_bench.cpp - megapixels a second of the raster engine's scaling and
// transform kernels beside pixman, SDL2 and OpenCV doing the same job in the
// same run: nearest and bilinear 640x480 <-> 1920x1080, the 2x display
// refresh, 32x32 -> 48x48 sprites (calls a second), an exact quarter turn of
// 1920x1080 (also against memcpy) and a 30-degree affine transform.
//
// Each row prints the best of several timed rounds and ours / best peer.
// Depends on: lv_raster, pixman-1, SDL2, OpenCV core and imgproc.
// Run: build-bench/bin/scale_bench [rounds]
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <pixman.h>
#include <SDL.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "raster/lvdrawstate.h"
#include "raster/lvscale.h"

namespace {

int Rounds = 7;

// Seconds of the fastest of Rounds rounds; each round repeats f until 20 ms passed.
double Time(const std::function<void()> &f, int *repeatsOut = nullptr) {
    using Clock = std::chrono::steady_clock;
    double best = 1e30;
    int repeats = 1;
    f();  // warm caches and lazily built tables
    for (int r = 0; r < Rounds; r++) {
        auto t0 = Clock::now();
        int n = 0;
        double elapsed;
        do {
            f();
            n++;
            elapsed = std::chrono::duration<double>(Clock::now() - t0).count();
        } while (elapsed < 0.02);
        if (elapsed / n < best) best = elapsed / n, repeats = n;
    }
    if (repeatsOut) *repeatsOut = repeats;
    return best;
}

struct Image {
    int w, h;
    std::vector<uint32_t> px;
    Image(int width, int height, uint32_t seed = 1) : w(width), h(height), px(size_t(width) * height) {
        std::mt19937 rng(seed);
        for (auto &p : px) p = rng() | 0xFF000000u;
    }
};

// One peer's way of doing a row's job; empty when it has none.
struct Peer {
    const char *name;
    std::function<void()> run;
};

void Row(const char *label, double pixels, const std::function<void()> &ours, const std::vector<Peer> &peers) {
    double t = Time(ours);
    double oursRate = pixels / t / 1e6, best = 0;
    std::printf("%-34s %10.1f", label, oursRate);
    for (const Peer &p : peers) {
        if (!p.run) {
            std::printf(" %10s", "-");
            continue;
        }
        double rate = pixels / Time(p.run) / 1e6;
        best = std::max(best, rate);
        std::printf(" %10.1f", rate);
    }
    std::printf(" %8.2f\n", best > 0 ? oursRate / best : 0.0);
}

pixman_transform_t ScaleTransform(int sw, int sh, int tw, int th) {
    pixman_transform_t t;
    pixman_transform_init_scale(&t, pixman_double_to_fixed(double(sw) / tw), pixman_double_to_fixed(double(sh) / th));
    return t;
}

// pixman SRC composite of src through a transform into dst.
void PixmanComposite(Image &src, Image &dst, const pixman_transform_t &t, pixman_filter_t filter) {
    pixman_image_t *s = pixman_image_create_bits(PIXMAN_a8r8g8b8, src.w, src.h, src.px.data(), src.w * 4);
    pixman_image_t *d = pixman_image_create_bits(PIXMAN_a8r8g8b8, dst.w, dst.h, dst.px.data(), dst.w * 4);
    pixman_image_set_transform(s, &t);
    pixman_image_set_filter(s, filter, nullptr, 0);
    pixman_image_composite32(PIXMAN_OP_SRC, s, nullptr, d, 0, 0, 0, 0, 0, 0, dst.w, dst.h);
    pixman_image_unref(s);
    pixman_image_unref(d);
}

void ScaleRows(Image &src, Image &dst, int smooth) {
    ScalePixelBuffer(src.px.data(), 0, 0, src.w, src.h, dst.px.data(), 0, 0, dst.w, dst.h, src.w, dst.w,
                     PIXFMT_ARGB32, smooth);
}

void ScaleCase(const char *label, int sw, int sh, int tw, int th, int smooth) {
    Image src(sw, sh), dst(tw, th);
    SDL_Surface *s = SDL_CreateRGBSurfaceWithFormatFrom(src.px.data(), sw, sh, 32, sw * 4, SDL_PIXELFORMAT_ARGB8888);
    SDL_Surface *d = SDL_CreateRGBSurfaceWithFormatFrom(dst.px.data(), tw, th, 32, tw * 4, SDL_PIXELFORMAT_ARGB8888);
    cv::Mat cs(sh, sw, CV_8UC4, src.px.data()), cd(th, tw, CV_8UC4, dst.px.data());
    pixman_transform_t t = ScaleTransform(sw, sh, tw, th);
    Row(label, double(tw) * th, [&] { ScaleRows(src, dst, smooth); },
        {{"pixman", [&] { PixmanComposite(src, dst, t, smooth ? PIXMAN_FILTER_BILINEAR : PIXMAN_FILTER_NEAREST); }},
         {"SDL2",
          [&] {
              if (smooth) SDL_SoftStretchLinear(s, nullptr, d, nullptr);
              else SDL_SoftStretch(s, nullptr, d, nullptr);
          }},
         {"OpenCV", [&] { cv::resize(cs, cd, cd.size(), 0, 0, smooth ? cv::INTER_LINEAR : cv::INTER_NEAREST); }}});
    SDL_FreeSurface(s);
    SDL_FreeSurface(d);
}

void SpriteCase(int smooth) {
    Image src(32, 32), dst(48, 48);
    lvBitMapHandle *rgb = AllocRgbBitmap(32, 32, 0, nullptr);
    lvBitMapHandle *mask = AllocMaskBitmap(rgb, 32, 32, 1, nullptr, 0);
    lvBitMapHandle *target = AllocRgbBitmap(48, 48, 0, nullptr);
    SDL_Surface *s = SDL_CreateRGBSurfaceWithFormatFrom(src.px.data(), 32, 32, 32, 128, SDL_PIXELFORMAT_ARGB8888);
    SDL_Surface *d = SDL_CreateRGBSurfaceWithFormatFrom(dst.px.data(), 48, 48, 32, 192, SDL_PIXELFORMAT_ARGB8888);
    cv::Mat cs(32, 32, CV_8UC4, src.px.data()), cd(48, 48, CV_8UC4, dst.px.data());
    pixman_transform_t t = ScaleTransform(32, 32, 48, 48);
    // Ours: a whole picture set (RGB and mask) into new bitmaps, as brushes and sprites are scaled.
    auto ours = [&] {
        lvBitMapHandle *r = nullptr, *m = nullptr;
        ScaleImage(rgb, mask, nullptr, nullptr, 0, 0, nullptr, nullptr, 32, 32, 48, 48, smooth, nullptr, &r, &m,
                   nullptr, nullptr);
        FreeBitmapHandle(r);
        FreeBitmapHandle(m);
    };
    char label[64];
    std::snprintf(label, sizeof label, "sprite 32->48 %s (kcalls/s)", smooth ? "bilinear" : "nearest");
    // 1000 "pixels" a call turns the rate column into thousands of calls a second.
    Row(label, 1000.0,
        ours,
        {{"pixman", [&] { PixmanComposite(src, dst, t, smooth ? PIXMAN_FILTER_BILINEAR : PIXMAN_FILTER_NEAREST); }},
         {"SDL2",
          [&] {
              if (smooth) SDL_SoftStretchLinear(s, nullptr, d, nullptr);
              else SDL_SoftStretch(s, nullptr, d, nullptr);
          }},
         {"OpenCV", [&] { cv::resize(cs, cd, cd.size(), 0, 0, smooth ? cv::INTER_LINEAR : cv::INTER_NEAREST); }}});
    FreeBitmapHandle(rgb);
    FreeBitmapHandle(mask);
    FreeBitmapHandle(target);
    SDL_FreeSurface(s);
    SDL_FreeSurface(d);
}

// A job over raw buffers for the transform kernels.
lvScaleJob TransformJob(Image &src, Image &dst, const lvMatrix2D &m, double minX, double minY, int smooth, int turn) {
    lvScaleJob job{};
    job.source = reinterpret_cast<const uint8_t *>(src.px.data());
    job.target = reinterpret_cast<uint8_t *>(dst.px.data());
    job.sourceRow = src.w;
    job.targetRow = dst.w;
    job.format = PIXFMT_ARGB32;
    job.bytesPerPixel = 4;
    job.sourceWidth = src.w;
    job.sourceHeight = src.h;
    job.targetWidth = dst.w;
    job.targetHeight = dst.h;
    job.smooth = smooth;
    job.turn = turn;
    const double t[6] = {m.sx, m.rx, m.ry, m.sy, -minX, -minY};
    std::memcpy(job.transform, t, sizeof t);
    return job;
}

// pixman's transform maps target to source: the inverse of ours.
pixman_transform_t PixmanInverse(const lvMatrix2D &m, double minX, double minY) {
    double det = m.sx * m.sy - m.ry * m.rx;
    double a = m.sy / det, b = -m.rx / det, c = -m.ry / det, d = m.sx / det;
    pixman_transform_t t;
    pixman_transform_init_identity(&t);
    t.matrix[0][0] = pixman_double_to_fixed(a);
    t.matrix[0][1] = pixman_double_to_fixed(c);
    t.matrix[0][2] = pixman_double_to_fixed(a * minX + c * minY);
    t.matrix[1][0] = pixman_double_to_fixed(b);
    t.matrix[1][1] = pixman_double_to_fixed(d);
    t.matrix[1][2] = pixman_double_to_fixed(b * minX + d * minY);
    return t;
}

void QuarterTurnCase() {
    Image src(1920, 1080), dst(1080, 1920);
    lvMatrix2D m;
    BuildRotationMatrix(1, 1, 90, &m);
    lvScaleJob job = TransformJob(src, dst, m, 0, 0, 0, 1);
    cv::Mat cs(1080, 1920, CV_8UC4, src.px.data()), cd(1920, 1080, CV_8UC4, dst.px.data());
    double minX, minY;
    int w, h;
    GetTransformedImageSize(&m, 1920, 1080, &w, &h, &minX, &minY, nullptr);
    pixman_transform_t t = PixmanInverse(m, std::round(minX), std::round(minY));
    Row("quarter turn 1920x1080", 1920.0 * 1080, [&] { RotateQuarterTurn(&job); },
        {{"pixman", [&] { PixmanComposite(src, dst, t, PIXMAN_FILTER_NEAREST); }},
         {"SDL2", nullptr},
         {"OpenCV", [&] { cv::rotate(cs, cd, cv::ROTATE_90_COUNTERCLOCKWISE); }},
         {"memcpy", [&] { std::memcpy(dst.px.data(), src.px.data(), src.px.size() * 4); }}});
}

void AffineCase(int smooth) {
    Image src(1920, 1080);
    lvMatrix2D m;
    BuildRotationMatrix(1, 1, 30, &m);
    int w, h;
    double minX, minY;
    GetTransformedImageSize(&m, 1920, 1080, &w, &h, &minX, &minY, nullptr);
    Image dst(w, h);
    lvScaleJob job = TransformJob(src, dst, m, minX, minY, smooth, 0);
    std::vector<uint8_t> maskBits(size_t((w + 15) / 8) * h);
    job.maskTarget = maskBits.data();
    job.maskTargetRow = (w + 15) / 8;
    cv::Mat cs(1080, 1920, CV_8UC4, src.px.data()), cd(h, w, CV_8UC4, dst.px.data());
    cv::Mat forward = (cv::Mat_<double>(2, 3) << m.sx, m.ry, -minX, m.rx, m.sy, -minY);
    pixman_transform_t t = PixmanInverse(m, minX, minY);
    char label[64];
    std::snprintf(label, sizeof label, "30 deg affine 1920x1080 %s", smooth ? "bilinear" : "nearest");
    Row(label, double(w) * h, [&] { TransformRowsAffine(&job); },
        {{"pixman", [&] { PixmanComposite(src, dst, t, smooth ? PIXMAN_FILTER_BILINEAR : PIXMAN_FILTER_NEAREST); }},
         {"SDL2", nullptr},
         {"OpenCV",
          [&] { cv::warpAffine(cs, cd, forward, cd.size(), smooth ? cv::INTER_LINEAR : cv::INTER_NEAREST); }}});
}

}  // namespace

int main(int argc, char **argv) {
    if (argc > 1) Rounds = std::max(1, std::atoi(argv[1]));
    ResetDrawingState();
    cv::setNumThreads(1);  // one core each, as ours
    std::printf("%-34s %10s %10s %10s %10s %10s %8s\n", "Mpx/s (target pixels)", "ours", "pixman", "SDL2", "OpenCV",
                "memcpy", "ratio");
    ScaleCase("nearest 640x480 -> 1920x1080", 640, 480, 1920, 1080, 0);
    ScaleCase("bilinear 640x480 -> 1920x1080", 640, 480, 1920, 1080, 1);
    ScaleCase("nearest 1920x1080 -> 640x480", 1920, 1080, 640, 480, 0);
    ScaleCase("bilinear 1920x1080 -> 640x480", 1920, 1080, 640, 480, 1);
    ScaleCase("2x display refresh 960x540", 960, 540, 1920, 1080, 0);
    ScaleCase("2x display refresh 960x540 smooth", 960, 540, 1920, 1080, 1);
    SpriteCase(0);
    SpriteCase(1);
    QuarterTurnCase();
    AffineCase(0);
    AffineCase(1);
    std::printf("ratio: ours / best peer (the quarter turn counts memcpy as a peer)\n");
    return 0;
}

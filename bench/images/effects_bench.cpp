// effects_bench.cpp - megapixels a second of the image effects beside the
// nearest OpenCV imgproc call measured in the same run, with the ratio
// ours / OpenCV:
//   ConvolveImage blur at sigma 1 (7 taps) and radius 5 (11 taps), 640 x 480
//   and 1920 x 1080, beside cv::GaussianBlur (same size and sigma,
//   BORDER_REPLICATE, CV_8UC4); emboss and sharpen 7 x 7 beside cv::filter2D;
//   BuildShadowMask of a 256 x 256 plane beside cv::GaussianBlur on CV_8UC1;
//   swirl and perspective of 640 x 480 beside cv::remap and cv::warpPerspective.
// Our sums are doubles term by term (the results are fixed to the last bit);
// OpenCV's 8-bit paths use fixed point, so the blur's goal is 0.25 or more.
// Depends on: lv_images, OpenCV core and imgproc. Run: build-bench/bin/effects_bench [rounds]
#include "images/lveffects.h"
#include "platform/lvplatform.h"
#include "raster/lvbitmap.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <opencv2/imgproc.hpp>
#include <random>
#include <vector>

namespace {

int rounds = 5;

double Seconds(const std::function<void()> &job) {
    auto start = std::chrono::steady_clock::now();
    job();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Ours and the peer take turns; the best round of each counts.
void Row(const char *name, double mpx, const std::function<void()> &ours, const char *peerName,
         const std::function<void()> &peer) {
    ours();
    peer();
    double a = 1e9, b = 1e9;
    for (int i = 0; i < rounds; i++) {
        a = std::min(a, Seconds(ours));
        b = std::min(b, Seconds(peer));
    }
    std::printf("%-30s %8.1f Mpx/s   %-26s %8.1f Mpx/s   ratio %.2f\n", name, mpx / a, peerName, mpx / b, b / a);
}

void Fill(lvBitMapHandle *rgb, cv::Mat &mat, unsigned seed) {
    std::mt19937 rng(seed);
    lvScopedLock l(rgb, 0);
    for (int y = 0; y < mat.rows; y++)
        for (int x = 0; x < mat.cols; x++) {
            uint32_t v = (rng() & 0x00FFFFFFu) | 0xFF000000u;
            // Smooth it a little, as pictures are.
            if (x > 0) v = (v & 0xFF000000u) | ((reinterpret_cast<uint32_t *>(l.lock.pixels)[size_t(y) * l.lock.rowLength + x - 1] & 0x00FEFEFEu) >> 1) + ((v & 0x00FEFEFEu) >> 1);
            reinterpret_cast<uint32_t *>(l.lock.pixels)[size_t(y) * l.lock.rowLength + x] = v;
            std::memcpy(mat.ptr<uint8_t>(y) + 4 * x, &v, 4);
        }
}

void Convolutions(int w, int h) {
    lvBitMapHandle *rgb = AllocRgbBitmap(w, h, 0, nullptr);
    cv::Mat src(h, w, CV_8UC4), dst;
    Fill(rgb, src, 1);
    double mpx = w * double(h) / 1e6;
    char name[64];
    std::snprintf(name, sizeof name, "blur sigma 1 %dx%d", w, h);
    Row(name, mpx, [&] { ConvolveImage(CONVOLVE_BLUR, rgb, nullptr, w, h, 0, 1, nullptr); }, "cv::GaussianBlur 7",
        [&] { cv::GaussianBlur(src, dst, cv::Size(7, 7), 1.0, 1.0, cv::BORDER_REPLICATE); });
    std::snprintf(name, sizeof name, "blur radius 5 %dx%d", w, h);
    Row(name, mpx, [&] { ConvolveImage(CONVOLVE_BLUR, rgb, nullptr, w, h, 5, 5.0 / 3, nullptr); }, "cv::GaussianBlur 11",
        [&] { cv::GaussianBlur(src, dst, cv::Size(11, 11), 5.0 / 3, 5.0 / 3, cv::BORDER_REPLICATE); });
    FreeBitmapHandle(rgb);
}

void SquareKernels() {
    const int w = 640, h = 480;
    lvBitMapHandle *rgb = AllocRgbBitmap(w, h, 0, nullptr);
    cv::Mat src(h, w, CV_8UC4), dst;
    Fill(rgb, src, 2);
    double mpx = w * double(h) / 1e6;
    for (int kind : {CONVOLVE_EMBOSS, CONVOLVE_SHARPEN}) {
        double *k = MakeSquareKernel(kind, 7, 1.0);
        cv::Mat kernel(7, 7, CV_64F, k);
        Row(kind == CONVOLVE_EMBOSS ? "emboss 7x7 640x480" : "sharpen 7x7 640x480", mpx,
            [&] { ConvolveImage(kind, rgb, nullptr, w, h, 3, 1, nullptr); }, "cv::filter2D 7x7",
            [&] { cv::filter2D(src, dst, -1, kernel, cv::Point(-1, -1), 0, cv::BORDER_REPLICATE); });
        FreeMemory(k);
    }
    FreeBitmapHandle(rgb);
}

void ShadowMask() {
    const int n = 256;
    lvBitMapHandle *alpha = AllocAlphaBitmap(n, n, 1, nullptr, 0);
    cv::Mat plane(n + 8, n + 8, CV_8UC1, cv::Scalar(0)), dst;
    uint8_t *p;
    int rb;
    uintptr_t t = GetPlanePixels(alpha, &p, &rb, 1);
    for (int y = 32; y < n - 32; y++)
        for (int x = 32; x < n - 32; x++) p[size_t(y) * rb + x] = 255, plane.at<uint8_t>(y + 4, x + 4) = 255;
    ReleasePlanePixels(t);
    Row("BuildShadowMask r4 256x256", (n + 8) * double(n + 8) / 1e6,
        [&] { FreeBitmapHandle(BuildShadowMask(alpha, nullptr, nullptr, -1, 0, 0, n, n, 4, 4.0 / 3, 255, 0, 0)); },
        "cv::GaussianBlur 9 8UC1",
        [&] { cv::GaussianBlur(plane, dst, cv::Size(9, 9), 4.0 / 3, 4.0 / 3, cv::BORDER_REPLICATE); });
    FreeBitmapHandle(alpha);
}

void Geometry() {
    const int w = 640, h = 480;
    lvBitMapHandle *rgb = AllocRgbBitmap(w, h, 0, nullptr);
    cv::Mat src(h, w, CV_8UC4), dst;
    Fill(rgb, src, 3);
    double mpx = w * double(h) / 1e6;
    // The swirl's map for remap, made once (remap is given its map).
    cv::Mat mapX(h, w, CV_32FC1), mapY(h, w, CV_32FC1);
    double cx = w / 2.0, cy = h / 2.0, R = std::max(cx, cy), B = 180 * M_PI / 180;
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            double dx = x - cx, dy = (y - cy) * (double(w) / h), d = std::sqrt(dx * dx + dy * dy);
            double a = d < R ? (1 - d / R) * (1 - d / R) * B : 0;
            mapX.at<float>(y, x) = float(cx + std::cos(a) * dx - std::sin(a) * dy);
            mapY.at<float>(y, x) = float(cy + (std::sin(a) * dx + std::cos(a) * dy) / (double(w) / h));
        }
    Row("swirl 180 640x480", mpx, [&] { SwirlImage(rgb, nullptr, nullptr, w, h, 180); }, "cv::remap nearest",
        [&] { cv::remap(src, dst, mapX, mapY, cv::INTER_NEAREST, cv::BORDER_REPLICATE); });
    const double v[16] = {0, 0, 40, 20, double(w), 0, w - 60.0, 0, double(w), double(h), double(w), double(h), 0, double(h), 0, h - 30.0};
    cv::Point2f from[4] = {{0, 0}, {float(w), 0}, {float(w), float(h)}, {0, float(h)}};
    cv::Point2f to[4] = {{40, 20}, {w - 60.f, 0}, {float(w), float(h)}, {0, h - 30.f}};
    cv::Mat m = cv::getPerspectiveTransform(from, to);
    for (int smooth : {0, 1}) {
        Row(smooth ? "perspective smooth 640x480" : "perspective 640x480", mpx,
            [&] {
                lvDistortResult r{};
                if (DistortImage(rgb, nullptr, nullptr, nullptr, w, h, DISTORT_PERSPECTIVE, v, 16, smooth, -1, &r) == 0) {
                    FreeBitmapHandle(r.rgb);
                    FreeBitmapHandle(r.mask);
                    FreeBitmapHandle(r.alpha);
                }
            },
            smooth ? "cv::warpPerspective linear" : "cv::warpPerspective nearest",
            [&] { cv::warpPerspective(src, dst, m, cv::Size(w, h), smooth ? cv::INTER_LINEAR : cv::INTER_NEAREST); });
    }
    FreeBitmapHandle(rgb);
}

}  // namespace

int main(int argc, char **argv) {
    if (argc > 1) rounds = std::max(1, std::atoi(argv[1]));
    cv::setNumThreads(1);  // ours runs on one thread
    Convolutions(640, 480);
    Convolutions(1920, 1080);
    SquareKernels();
    ShadowMask();
    Geometry();
    return 0;
}

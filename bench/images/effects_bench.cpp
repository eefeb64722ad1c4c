// effects_bench.cpp - megapixels a second of the image effects beside the
// nearest OpenCV imgproc call, both measured by Google Benchmark in the same
// run, with a summary of the ratio ours / OpenCV:
//   ConvolveImage blur at sigma 1 (7 taps) and radius 5 (11 taps), 640 x 480
//   and 1920 x 1080, beside cv::GaussianBlur (same size and sigma,
//   BORDER_REPLICATE, CV_8UC4); emboss and sharpen 7 x 7 beside cv::filter2D;
//   BuildShadowMask of a 256 x 256 plane beside cv::GaussianBlur on CV_8UC1;
//   swirl and perspective of 640 x 480 beside cv::remap (map made beforehand)
//   and cv::warpPerspective. Both run on one thread.
// Our sums are doubles term by term (the pixels are fixed to the last bit);
// OpenCV's 8-bit paths use fixed point; the blur's goal is 0.25 or more.
// Depends on: lv_images, OpenCV core and imgproc, Google Benchmark.
// Run: build-bench/bin/effects_bench [--benchmark_filter=...]
#include "images/lveffects.h"
#include "platform/lvplatform.h"
#include "raster/lvbitmap.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <opencv2/imgproc.hpp>
#include <random>
#include <string>
#include <vector>

namespace {

// A picture as both sides see it: our bitmap and an OpenCV matrix of the same pixels.
struct Pair {
    lvBitMapHandle *rgb;
    cv::Mat mat;
    int w, h;
    Pair(int width, int height) : mat(height, width, CV_8UC4), w(width), h(height) {
        rgb = AllocRgbBitmap(w, h, 0, nullptr);
        std::mt19937 rng(unsigned(w * 31 + h));
        lvScopedLock l(rgb, 0);
        uint32_t previous = 0;
        for (int y = 0; y < h; y++)
            for (int x = 0; x < w; x++) {
                // Noise smoothed along the row, as pictures are.
                uint32_t v = (((rng() & 0x00FEFEFEu) >> 1) + ((previous & 0x00FEFEFEu) >> 1)) | 0xFF000000u;
                previous = v;
                reinterpret_cast<uint32_t *>(l.lock.pixels)[size_t(y) * l.lock.rowLength + x] = v;
                std::memcpy(mat.ptr<uint8_t>(y) + 4 * x, &v, 4);
            }
    }
    ~Pair() { FreeBitmapHandle(rgb); }
};

void Rate(benchmark::State &s, double pixels) {
    s.counters["MPix/s"] = benchmark::Counter(pixels / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}

// ---- Blur -------------------------------------------------------------------
void BM_Blur7_Ours(benchmark::State &s) {
    Pair p(int(s.range(0)), int(s.range(1)));
    for (auto _ : s) ConvolveImage(CONVOLVE_BLUR, p.rgb, nullptr, p.w, p.h, 0, 1, nullptr);
    Rate(s, p.w * double(p.h));
}
void BM_Blur7_OpenCV(benchmark::State &s) {
    Pair p(int(s.range(0)), int(s.range(1)));
    cv::Mat out;
    for (auto _ : s) cv::GaussianBlur(p.mat, out, cv::Size(7, 7), 1.0, 1.0, cv::BORDER_REPLICATE);
    Rate(s, p.w * double(p.h));
}
void BM_Blur11_Ours(benchmark::State &s) {
    Pair p(int(s.range(0)), int(s.range(1)));
    for (auto _ : s) ConvolveImage(CONVOLVE_BLUR, p.rgb, nullptr, p.w, p.h, 5, 5.0 / 3, nullptr);
    Rate(s, p.w * double(p.h));
}
void BM_Blur11_OpenCV(benchmark::State &s) {
    Pair p(int(s.range(0)), int(s.range(1)));
    cv::Mat out;
    for (auto _ : s) cv::GaussianBlur(p.mat, out, cv::Size(11, 11), 5.0 / 3, 5.0 / 3, cv::BORDER_REPLICATE);
    Rate(s, p.w * double(p.h));
}

// ---- 7 x 7 kernels ----------------------------------------------------------
void Square(benchmark::State &s, int kind, bool ours) {
    Pair p(640, 480);
    double *k = MakeSquareKernel(kind, 7, 1.0);
    cv::Mat kernel(7, 7, CV_64F, k), out;
    for (auto _ : s) {
        if (ours) ConvolveImage(kind, p.rgb, nullptr, p.w, p.h, 3, 1, nullptr);
        else cv::filter2D(p.mat, out, -1, kernel, cv::Point(-1, -1), 0, cv::BORDER_REPLICATE);
    }
    FreeMemory(k);
    Rate(s, p.w * double(p.h));
}
void BM_Emboss_Ours(benchmark::State &s) { Square(s, CONVOLVE_EMBOSS, true); }
void BM_Emboss_OpenCV(benchmark::State &s) { Square(s, CONVOLVE_EMBOSS, false); }
void BM_Sharpen_Ours(benchmark::State &s) { Square(s, CONVOLVE_SHARPEN, true); }
void BM_Sharpen_OpenCV(benchmark::State &s) { Square(s, CONVOLVE_SHARPEN, false); }

// ---- Shadow mask ------------------------------------------------------------
const int Shadow = 256;
void BM_Shadow_Ours(benchmark::State &s) {
    lvBitMapHandle *alpha = AllocAlphaBitmap(Shadow, Shadow, 1, nullptr, 0);
    uint8_t *px;
    int rb;
    uintptr_t t = GetPlanePixels(alpha, &px, &rb, 1);
    for (int y = 32; y < Shadow - 32; y++) std::memset(px + size_t(y) * rb + 32, 255, Shadow - 64);
    ReleasePlanePixels(t);
    for (auto _ : s) FreeBitmapHandle(BuildShadowMask(alpha, nullptr, nullptr, -1, 0, 0, Shadow, Shadow, 4, 4.0 / 3, 255, 0, 0));
    FreeBitmapHandle(alpha);
    Rate(s, (Shadow + 8) * double(Shadow + 8));
}
void BM_Shadow_OpenCV(benchmark::State &s) {
    cv::Mat plane(Shadow + 8, Shadow + 8, CV_8UC1, cv::Scalar(0)), out;
    plane(cv::Rect(36, 36, Shadow - 64, Shadow - 64)).setTo(255);
    for (auto _ : s) cv::GaussianBlur(plane, out, cv::Size(9, 9), 4.0 / 3, 4.0 / 3, cv::BORDER_REPLICATE);
    Rate(s, (Shadow + 8) * double(Shadow + 8));
}

// ---- Swirl and perspective --------------------------------------------------
void BM_Swirl_Ours(benchmark::State &s) {
    Pair p(640, 480);
    for (auto _ : s) SwirlImage(p.rgb, nullptr, nullptr, p.w, p.h, 180);
    Rate(s, p.w * double(p.h));
}
void BM_Swirl_OpenCV(benchmark::State &s) {
    Pair p(640, 480);
    cv::Mat mapX(p.h, p.w, CV_32FC1), mapY(p.h, p.w, CV_32FC1), out;
    double cx = p.w / 2.0, cy = p.h / 2.0, R = std::max(cx, cy), sy = double(p.w) / p.h;
    for (int y = 0; y < p.h; y++)
        for (int x = 0; x < p.w; x++) {
            double dx = x - cx, dy = (y - cy) * sy, d = std::sqrt(dx * dx + dy * dy);
            double a = d < R ? (1 - d / R) * (1 - d / R) * M_PI : 0;
            mapX.at<float>(y, x) = float(cx + std::cos(a) * dx - std::sin(a) * dy);
            mapY.at<float>(y, x) = float(cy + (std::sin(a) * dx + std::cos(a) * dy) / sy);
        }
    for (auto _ : s) cv::remap(p.mat, out, mapX, mapY, cv::INTER_NEAREST, cv::BORDER_REPLICATE);
    Rate(s, p.w * double(p.h));
}
void Perspective(benchmark::State &s, bool ours, int smooth) {
    Pair p(640, 480);
    const double v[16] = {0, 0, 40, 20, 640, 0, 580, 0, 640, 480, 640, 480, 0, 480, 0, 450};
    cv::Point2f from[4] = {{0, 0}, {640, 0}, {640, 480}, {0, 480}}, to[4] = {{40, 20}, {580, 0}, {640, 480}, {0, 450}};
    cv::Mat m = cv::getPerspectiveTransform(from, to), out;
    for (auto _ : s) {
        if (ours) {
            lvDistortResult r{};
            if (DistortImage(p.rgb, nullptr, nullptr, nullptr, p.w, p.h, DISTORT_PERSPECTIVE, v, 16, smooth, -1, &r) == 0) {
                FreeBitmapHandle(r.rgb);
                FreeBitmapHandle(r.mask);
                FreeBitmapHandle(r.alpha);
            }
        } else {
            cv::warpPerspective(p.mat, out, m, cv::Size(p.w, p.h), smooth ? cv::INTER_LINEAR : cv::INTER_NEAREST);
        }
    }
    Rate(s, p.w * double(p.h));
}
void BM_Perspective_Ours(benchmark::State &s) { Perspective(s, true, 0); }
void BM_Perspective_OpenCV(benchmark::State &s) { Perspective(s, false, 0); }
void BM_SmoothPerspective_Ours(benchmark::State &s) { Perspective(s, true, 1); }
void BM_SmoothPerspective_OpenCV(benchmark::State &s) { Perspective(s, false, 1); }

#define LV_SIZES ->Args({640, 480})->Args({1920, 1080})->Unit(benchmark::kMillisecond)
BENCHMARK(BM_Blur7_Ours) LV_SIZES;
BENCHMARK(BM_Blur7_OpenCV) LV_SIZES;
BENCHMARK(BM_Blur11_Ours) LV_SIZES;
BENCHMARK(BM_Blur11_OpenCV) LV_SIZES;
BENCHMARK(BM_Emboss_Ours)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Emboss_OpenCV)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Sharpen_Ours)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Sharpen_OpenCV)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Shadow_Ours)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Shadow_OpenCV)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Swirl_Ours)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Swirl_OpenCV)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Perspective_Ours)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Perspective_OpenCV)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SmoothPerspective_Ours)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SmoothPerspective_OpenCV)->Unit(benchmark::kMillisecond);

// Collects every run's rate and prints one row per operation and size.
struct SummaryReporter : benchmark::ConsoleReporter {
    std::map<std::string, double> rate;  // "Blur7_Ours/640/480" -> MPix/s
    void ReportRuns(const std::vector<Run> &runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run &r : runs) {
            auto it = r.counters.find("MPix/s");
            if (it != r.counters.end()) rate[r.benchmark_name().substr(3)] = it->second.value;
        }
    }
    double Get(const std::string &op, const char *who, const std::string &size) const {
        auto it = rate.find(op + "_" + who + size);
        return it == rate.end() ? 0 : it->second;
    }
    void PrintSummary() const {
        std::printf("\n%-18s %-10s %12s %12s %8s\n", "effect", "size", "ours MP/s", "OpenCV MP/s", "ratio");
        const struct { const char *op; const char *size; const char *label; } rows[] = {
            {"Blur7", "/640/480", "640x480"}, {"Blur7", "/1920/1080", "1920x1080"}, {"Blur11", "/640/480", "640x480"},
            {"Blur11", "/1920/1080", "1920x1080"}, {"Emboss", "", "640x480"}, {"Sharpen", "", "640x480"},
            {"Shadow", "", "256x256"}, {"Swirl", "", "640x480"}, {"Perspective", "", "640x480"},
            {"SmoothPerspective", "", "640x480"},
        };
        for (const auto &r : rows) {
            double ours = Get(r.op, "Ours", r.size), peer = Get(r.op, "OpenCV", r.size);
            if (ours <= 0) continue;  // filtered out of this run
            std::printf("%-18s %-10s %12.1f %12.1f %8.2f\n", r.op, r.label, ours, peer,
                        peer > 0 ? ours / peer : 0.0);
        }
    }
};

}  // namespace

int main(int argc, char **argv) {
    cv::setNumThreads(1);
    benchmark::Initialize(&argc, argv);
    SummaryReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintSummary();
    benchmark::Shutdown();
    return 0;
}

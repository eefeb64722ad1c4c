// shapes_bench.cpp - shapes a second through the shape engine's entries (the draw
// commands' bodies) onto a selected 1920 x 1080 bitmap: anti-aliased filled circles
// (r 4..40), anti-aliased 6-point polygons, anti-aliased lines of thickness 3, plain
// boxes and circles without anti-aliasing; beside Cairo on an ARGB32 image surface and
// OpenCV (LINE_AA where anti-aliased) on a CV_8UC4 Mat, in the same run, with the same
// seeded shapes. Ratio = ours / Cairo (goal: 0.5 or more anti-aliased, 1 or more boxes).
// Last, DrawPath of a 100-segment vector path beside Cairo and FreeType's rasteriser.
// Depends on: lv_images, lv_text, cairo, OpenCV. Run: build-bench/bin/shapes_bench [count [row name part]]
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <vector>

#include <cairo.h>
#include <opencv2/imgproc.hpp>

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H

#include "images/lvdraw.h"
#include "images/lvvectorshape.h"
#include "raster/lvbitmap.h"
#include "raster/lvraster.h"
#include "text/lvvectorpath.h"

namespace {

const int W = 1920, H = 1080;

struct Shape {
    int x, y, r, w, h;
    int px[6], py[6];
    uint32_t colour;
};

double Seconds(const std::function<void()> &job) {
    auto start = std::chrono::steady_clock::now();
    job();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double Best(const std::function<void()> &job) {
    double best = 1e9;
    for (int i = 0; i < 3; i++) best = std::min(best, Seconds(job));
    return best;
}

}  // namespace

int main(int argc, char **argv) {
    int count = argc > 1 ? std::atoi(argv[1]) : 10000;
    std::mt19937 rng(12345);
    std::vector<Shape> shapes(count);
    for (Shape &s : shapes) {
        s.r = 4 + rng() % 37;
        s.x = rng() % (W - 100), s.y = rng() % (H - 100);
        s.w = 1 + rng() % 80, s.h = 1 + rng() % 80;
        for (int i = 0; i < 6; i++) s.px[i] = rng() % 80, s.py[i] = rng() % 80;
        s.colour = rng() & 0xFFFFFF;
    }
    // Our output: a bitmap as the selected image.
    lvBlitDisplay display{};
    display.target.kind = OUTPUT_IMAGE;
    display.target.bitmap = AllocRgbBitmap(W, H, 0, nullptr);
    RasterState.currentDisplay = &display;
    if (AllocDrawBuffers()) return 1;
    lvDrawStyle aa{}, plain{};
    aa.fillStyle = plain.fillStyle = FILLCOLOR;
    aa.lineWidth = plain.lineWidth = 1;
    aa.formStyle = FORM_ANTIALIAS;
    plain.formStyle = FORM_NORMAL;
    const int corners[4] = {0, 0, 0, 0};

    cairo_surface_t *surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, W, H);
    cairo_t *cr = cairo_create(surface);
    cv::Mat mat(H, W, CV_8UC4, cv::Scalar(0, 0, 0, 255));
    auto rgb = [](cairo_t *c, uint32_t colour) {
        cairo_set_source_rgb(c, ((colour >> 16) & 255) / 255.0, ((colour >> 8) & 255) / 255.0, (colour & 255) / 255.0);
    };
    auto scalar = [](uint32_t c) { return cv::Scalar(c & 255, (c >> 8) & 255, (c >> 16) & 255, 255); };

    struct Row {
        const char *name;
        std::function<void(const Shape &)> ours, cairo, opencv;
        cairo_antialias_t antialias;
    };
    std::vector<Row> rows = {
        {"AA filled circles r 4..40",
         [&](const Shape &s) { DrawEllipseShape(nullptr, &aa, 15, s.x, s.y, s.r, s.r, s.colour, 1, nullptr, nullptr, 0); },
         [&](const Shape &s) {
             rgb(cr, s.colour);
             cairo_arc(cr, s.x + s.r + 0.5, s.y + s.r + 0.5, s.r, 0, 6.2831853);
             cairo_fill(cr);
         },
         [&](const Shape &s) { cv::circle(mat, {s.x + s.r, s.y + s.r}, s.r, scalar(s.colour), cv::FILLED, cv::LINE_AA); },
         CAIRO_ANTIALIAS_DEFAULT},
        {"AA 6-point polygons",
         [&](const Shape &s) {
             double p[14];
             int lx = *std::min_element(s.px, s.px + 6), ly = *std::min_element(s.py, s.py + 6);
             int hx = *std::max_element(s.px, s.px + 6), hy = *std::max_element(s.py, s.py + 6);
             for (int i = 0; i < 6; i++) p[2 * i] = s.px[i] - lx, p[2 * i + 1] = s.py[i] - ly;
             p[12] = p[0], p[13] = p[1];
             DrawPolygonShape(nullptr, &aa, 27, s.x + lx, s.y + ly, hx - lx + 1, hy - ly + 1, p, 7, s.colour, 1,
                              nullptr, nullptr, 0);
         },
         [&](const Shape &s) {
             rgb(cr, s.colour);
             cairo_move_to(cr, s.x + s.px[0], s.y + s.py[0]);
             for (int i = 1; i < 6; i++) cairo_line_to(cr, s.x + s.px[i], s.y + s.py[i]);
             cairo_close_path(cr);
             cairo_fill(cr);
         },
         [&](const Shape &s) {
             cv::Point p[6];
             for (int i = 0; i < 6; i++) p[i] = {s.x + s.px[i], s.y + s.py[i]};
             const cv::Point *pp = p;
             int n = 6;
             cv::fillPoly(mat, &pp, &n, 1, scalar(s.colour), cv::LINE_AA);
         },
         CAIRO_ANTIALIAS_DEFAULT},
        {"AA lines thickness 3",
         [&](const Shape &s) {
             DrawThickLine(nullptr, &aa, s.x, s.y, s.x + s.px[0], s.y + s.py[0], s.colour, 3, 0, 1, nullptr, nullptr, 0);
         },
         [&](const Shape &s) {
             rgb(cr, s.colour);
             cairo_set_line_width(cr, 3);
             cairo_move_to(cr, s.x + 0.5, s.y + 0.5);
             cairo_line_to(cr, s.x + s.px[0] + 0.5, s.y + s.py[0] + 0.5);
             cairo_stroke(cr);
         },
         [&](const Shape &s) {
             cv::line(mat, {s.x, s.y}, {s.x + s.px[0], s.y + s.py[0]}, scalar(s.colour), 3, cv::LINE_AA);
         },
         CAIRO_ANTIALIAS_DEFAULT},
        {"plain boxes",
         [&](const Shape &s) { DrawBoxShape(nullptr, &plain, s.x, s.y, s.w, s.h, s.colour, corners, 1, nullptr, nullptr, 0); },
         [&](const Shape &s) {
             rgb(cr, s.colour);
             cairo_rectangle(cr, s.x, s.y, s.w, s.h);
             cairo_fill(cr);
         },
         [&](const Shape &s) {
             cv::rectangle(mat, cv::Rect(s.x, s.y, s.w, s.h), scalar(s.colour), cv::FILLED, cv::LINE_8);
         },
         CAIRO_ANTIALIAS_NONE},
        {"circles without AA",
         [&](const Shape &s) {
             DrawEllipseShape(nullptr, &plain, 15, s.x, s.y, s.r, s.r, s.colour, 1, nullptr, nullptr, 0);
         },
         [&](const Shape &s) {
             rgb(cr, s.colour);
             cairo_arc(cr, s.x + s.r + 0.5, s.y + s.r + 0.5, s.r, 0, 6.2831853);
             cairo_fill(cr);
         },
         [&](const Shape &s) { cv::circle(mat, {s.x + s.r, s.y + s.r}, s.r, scalar(s.colour), cv::FILLED, cv::LINE_8); },
         CAIRO_ANTIALIAS_NONE},
    };
    std::printf("%d shapes per row onto %d x %d\n", count, W, H);
    for (Row &row : rows) {
        if (argc > 2 && !std::strstr(row.name, argv[2])) continue;
        double ours = Best([&] {
            for (const Shape &s : shapes) row.ours(s);
        });
        cairo_set_antialias(cr, row.antialias);
        double cairo = Best([&] {
            for (const Shape &s : shapes) row.cairo(s);
        });
        double opencv = Best([&] {
            for (const Shape &s : shapes) row.opencv(s);
        });
        std::printf("%-28s ours %10.0f/s   Cairo %10.0f/s   OpenCV %10.0f/s   ours/Cairo %.2f\n", row.name,
                    count / ours, count / cairo, count / opencv, cairo / ours);
    }

    // DrawPath of a 100-segment path (a closed star of lines and curves in 200 x 200),
    // anti-aliased, beside Cairo filling the same path and FreeType rasterising its
    // outline into a grey bitmap (the engine's own last step, without composing).
    {
        const int paths = std::max(1, count / 10);
        std::vector<double> px(100), py(100);
        for (int i = 0; i < 100; i++) {
            double a = i * 6.283185307179586 / 100, r = i % 2 ? 40 + rng() % 60 : 100;
            px[i] = 100 + r * std::cos(a), py[i] = 100 + r * std::sin(a);
        }
        *GetDrawStyle() = aa;
        lvObjectId id = {1, nullptr};
        lvPath *path;
        if (StartPath(&id, &path)) return 1;
        lvPathArg m[3] = {PathInt(0), PathDouble(px[0]), PathDouble(py[0])};
        AppendPathCommandTo(path, PATHCMD_MOVETO, 3, m);
        for (int i = 1; i < 100; i++) {
            if (i % 10 == 0) {
                lvPathArg c[7] = {PathInt(0),          PathDouble(px[i - 1]), PathDouble(py[i]), PathDouble(px[i]),
                                  PathDouble(py[i - 1]), PathDouble(px[i]), PathDouble(py[i])};
                AppendPathCommandTo(path, PATHCMD_CURVETO, 7, c);
            } else {
                lvPathArg l[3] = {PathInt(0), PathDouble(px[i]), PathDouble(py[i])};
                AppendPathCommandTo(path, PATHCMD_LINETO, 3, l);
            }
        }
        AppendPathCommandTo(path, PATHCMD_CLOSEPATH, 0, nullptr);
        std::vector<std::pair<int, int>> at(paths);
        for (auto &p : at) p = {int(rng() % (W - 200)), int(rng() % (H - 200))};
        double ours = Best([&] {
            for (auto &p : at) DrawPathById(nullptr, id, p.first, p.second, 0x3366CC, nullptr, nullptr);
        });
        cairo_set_antialias(cr, CAIRO_ANTIALIAS_DEFAULT);
        double cairo = Best([&] {
            for (auto &p : at) {
                rgb(cr, 0x3366CC);
                cairo_move_to(cr, p.first + px[0], p.second + py[0]);
                for (int i = 1; i < 100; i++) {
                    if (i % 10 == 0)
                        cairo_curve_to(cr, p.first + px[i - 1], p.second + py[i], p.first + px[i],
                                       p.second + py[i - 1], p.first + px[i], p.second + py[i]);
                    else
                        cairo_line_to(cr, p.first + px[i], p.second + py[i]);
                }
                cairo_close_path(cr);
                cairo_fill(cr);
            }
        });
        lvVectorStyle vs{};
        vs.miterLimit = 10, vs.antiAlias = 1;
        FT_Outline outline;
        double cx, cy;
        if (PathToOutline(path->buffer, 1, &vs, 1, 0, 0, 1, &cx, &cy, &outline)) return 1;
        std::vector<uint8_t> grey(200 * 200);
        double freetype = Best([&] {
            for (size_t k = 0; k < at.size(); k++) {
                std::fill(grey.begin(), grey.end(), 0);
                FT_Bitmap bm{};
                bm.rows = 200, bm.width = 200, bm.pitch = -200, bm.buffer = grey.data();
                bm.pixel_mode = FT_PIXEL_MODE_GRAY, bm.num_grays = 256;
                FT_Outline_Get_Bitmap(GetFreeTypeLibrary(), &outline, &bm);
            }
        });
        FT_Outline_Done(GetFreeTypeLibrary(), &outline);
        RemovePath(id);
        std::printf("%-28s ours %10.0f/s   Cairo %10.0f/s   FreeType %8.0f/s   ours/Cairo %.2f   ours/FreeType %.2f\n",
                    "DrawPath, 100 segments, AA", paths / ours, paths / cairo, paths / freetype, cairo / ours,
                    freetype / ours);
    }
    cairo_destroy(cr);
    cairo_surface_destroy(surface);
    RasterState.currentDisplay = nullptr;
    FreeBitmapHandle(display.target.bitmap);
    FreeDrawBuffers();
    return 0;
}

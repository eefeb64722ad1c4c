// cv_shapes.cpp - the polygon and line rasteriser module (lv_cvshapes.so): OpenCV's
// drawing functions over the shape engine's own zeroed 8-bit planes.
//
// Depends on: images/cv_module.h, OpenCV (core, imgproc).
// Limits: the calling thread only; OpenCV errors become "nothing drawn".
#include "images/cv_module.h"

#include <algorithm>
#include <new>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

namespace {

int Polygon(uint8_t *pixels, int width, int height, int rowBytes, const int *points, int count, int antiAlias,
            int thickness, int shift)
{
    try {
        std::vector<cv::Point> pts(static_cast<size_t>(count));
        for (int k = 0; k < count; k++) pts[k] = cv::Point(points[2 * k], points[2 * k + 1]);
        cv::Mat m(height, width, CV_8UC1, pixels, static_cast<size_t>(rowBytes));
        const cv::Point *contour = pts.data();
        int n = count;
        int type = antiAlias ? cv::LINE_AA : cv::LINE_8;
        if (thickness > 0)
            cv::polylines(m, &contour, &n, 1, true, cv::Scalar(255), std::min(thickness, 32767), type, shift);
        else
            cv::fillPoly(m, &contour, &n, 1, cv::Scalar(255), type, shift);
    } catch (...) {
        return 0;
    }
    return 1;
}

int Line(uint8_t *pixels, int width, int height, int rowBytes, int x1, int y1, int x2, int y2, int antiAlias,
         int thickness)
{
    try {
        cv::Mat m(height, width, CV_8UC1, pixels, static_cast<size_t>(rowBytes));
        cv::line(m, cv::Point(x1, y1), cv::Point(x2, y2), cv::Scalar(255), std::clamp(thickness, 1, 32767),
                 antiAlias ? cv::LINE_AA : cv::LINE_8, 0);
    } catch (...) {
        return 0;
    }
    return 1;
}

const lvCvShapesModule moduleTable = {Polygon, Line};

}  // namespace

extern "C" __attribute__((visibility("default"))) const lvCvShapesModule *LvCvShapesModule(void)
{
    return &moduleTable;
}

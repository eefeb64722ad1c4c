// cv_module.h - the interface between the shape engine and its polygon and line
// rasteriser (OpenCV's drawing functions), which lives in the module lv_cvshapes.so
// beside the runtime and is opened with dlopen at the first shape that needs it, so
// that runs which draw no such shape never load OpenCV and its numeric libraries.
//
// Both calls draw 255 into a zeroed 8-bit plane (rows of rowBytes) and answer 1 drawn,
// 0 nothing (the library refused the points). No exception leaves the module.
#pragma once
#include <cstdint>

struct lvCvShapesModule {
    // Points are x, y pairs in fixed point with `shift` fraction bits. Thickness > 0
    // strokes the closed contour, else fills it.
    int (*Polygon)(uint8_t *pixels, int width, int height, int rowBytes, const int *points, int count,
                   int antiAlias, int thickness, int shift);
    int (*Line)(uint8_t *pixels, int width, int height, int rowBytes, int x1, int y1, int x2, int y2, int antiAlias,
                int thickness);
};

// The module's one exported entry.
extern "C" typedef const lvCvShapesModule *(*lvCvShapesModuleEntry)(void);
#define LV_CVSHAPES_MODULE_FILE "lv_cvshapes.so"
#define LV_CVSHAPES_MODULE_ENTRY "LvCvShapesModule"

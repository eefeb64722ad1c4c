// services.cpp - what the raster engine asks of brushes and background pictures: a brush's
// planes by number (texture fills) and the realizing of pictures decoded before a display
// existed. Installed when the brush library opens.
//
// Depends on: raster/lvneighbours.h, images/lvbrush.h, images/lvbgpic.h.
#include "base/lverrors.h"
#include "images/lvbgpic.h"
#include "images/lvbrush.h"
#include "images/lvpaint.h"
#include "raster/lvneighbours.h"

static int BrushView(void *, void *state, int64_t id, lvBrushView *view)
{
    lvBrush *b;
    if (int code = FindBrushById((lvState *)state, {(int)id, nullptr}, &b, 0)) return code;
    *view = {b->bitmap, b->mask, b->alpha, b->penBitmap, b->palette, b->width, b->height,
             b->penBitmap ? b->transparentColour : -1};
    return 0;
}

static int BrushViewByHandle(void *, void *state, void *handle, lvBrushView *view)
{
    lvBrush *b;
    if (int code = FindBrushById((lvState *)state, {0, handle}, &b, 0)) return code;
    *view = {b->bitmap, b->mask, b->alpha, b->penBitmap, b->palette, b->width, b->height,
             b->penBitmap ? b->transparentColour : -1};
    return 0;
}

static int RealizeBrushes(void *, void *) { return RealizeBrushImages(0, 0); }
static int RealizeBGPics(void *, void *) { return RealizeBGPicImages(); }

void InstallImagingServices(void)
{
    lvImagingServices s = NeighbourServices.imaging;
    s.FindBrushById = BrushView;
    s.FindBrushByHandle = BrushViewByHandle;
    s.RealizeBrushImages = RealizeBrushes;
    s.RealizeBGPicImages = RealizeBGPics;
    s.FillPolygonPlane = [](void *, uint8_t *pixels, int rowBytes, int width, int height, int value,
                            const double *polygon, int count) {
        FillPolygonBytes(pixels, rowBytes, width, height, value, polygon, count);
    };
    SetImagingServices(&s);
}

// pathbrush.cpp - vector brushes: a list of path copies rendered through the
// drawing pipeline into images of their own and blended into one RGB bitmap
// with an alpha plane; the brush keeps the list and renders it again at any
// transform through its image source.
//
// Depends on: text/lvvectorpath.h, images/lvdraw.h, images/lvbrush.h,
// formats/lvformats.h (image sources), raster/lvbitmap.h.
// Limits: script thread only.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>

#include "base/lverrors.h"
#include "formats/lvformats.h"
#include "images/lvbrush.h"
#include "images/lvdraw.h"
#include "raster/lvbitmap.h"
#include "raster/lvdrawtags.h"
#include "raster/lvplanes.h"
#include "text/lvvectorpath.h"

void FreePathBrushList(lvPathBrushList *list)
{
    if (!list) return;
    for (int i = 0; i < list->count; i++) {
        std::free(list->items[i].path.buffer);
        FreePathStyle(&list->items[i].path.style);
    }
    delete[] list->items;
    list->items = nullptr;
    list->count = 0;
}

int AddPathBrushItem(lvPathBrushList *list, lvObjectId id, double x, double y, uint32_t colour)
{
    lvPath *p;
    if (int code = FindPathById(id, &p)) return code;
    auto *items = new (std::nothrow) lvPathBrushItem[list->count + 1]();
    if (!items) return ERR_MEM;
    lvPathBrushItem &it = items[list->count];
    if (p->buffer) {
        it.path.buffer = (uint8_t *)std::malloc(p->writePos + 4);
        if (!it.path.buffer) {
            delete[] items;
            return ERR_MEM;
        }
        std::memcpy(it.path.buffer, p->buffer, p->writePos + 4);
        it.path.capacity = p->writePos + 4;
        it.path.writePos = p->writePos;
    }
    // The style the path was started with, not the current one.
    if (CopyPathStyle(&p->style, &it.path.style)) {
        std::free(it.path.buffer);
        delete[] items;
        return ERR_MEM;
    }
    it.x = x, it.y = y, it.colour = colour;
    it.engine = ServingVectorEngine();
    for (int i = 0; i < list->count; i++) items[i] = list->items[i];
    delete[] list->items;
    list->items = items;
    list->count++;
    return 0;
}

namespace {

struct Rendered {
    lvShapeImageResult r{};
    bool made = false;
    ~Rendered()
    {
        if (made) FreeShapeImages(&r.images);
    }
};

// Blends src (RGB with alpha a) over the target pixel that has alpha ta.
void BlendOver(uint32_t *t, uint8_t *ta, uint32_t s, int a)
{
    if (a <= 0) return;
    int ba = *ta, oa = a + ba * (255 - a) / 255;
    if (oa <= 0) return;
    uint32_t out = 0;
    for (int shift = 0; shift <= 16; shift += 8) {
        int sc = (s >> shift) & 255, tc = (*t >> shift) & 255;
        int c = (sc * a + tc * ba * (255 - a) / 255) / oa;
        out |= (uint32_t)std::clamp(c, 0, 255) << shift;
    }
    *t = out;
    *ta = (uint8_t)oa;
}

}  // namespace

int RenderPathsToBitmap(const lvPathBrushList *list, const double *matrix, lvBitMapHandle **rgbOut,
                        lvBitMapHandle **alphaOut, int *widthOut, int *heightOut)
{
    *rgbOut = *alphaOut = nullptr;
    *widthOut = *heightOut = 0;
    if (!list || list->count <= 0) return ERR_EMPTYTABLE;
    lvDrawTags tags;
    InitDrawTags(&tags);
    SetIdentityMatrix(&tags.matrix);
    if (matrix) tags.matrix = lvMatrix2D{matrix[0], matrix[2], matrix[1], matrix[3]};
    auto *rendered = new (std::nothrow) Rendered[list->count];
    if (!rendered) return ERR_MEM;
    struct Holder {
        Rendered *r;
        ~Holder() { delete[] r; }
    } holder{rendered};
    int right = 0, bottom = 0;
    for (int i = 0; i < list->count; i++) {
        const lvPathBrushItem &it = list->items[i];
        if (!it.path.buffer) return ERR_EMPTYPATH;
        double x = it.x, y = it.y;
        if (matrix) {  // positions follow the transform
            x = matrix[0] * it.x + matrix[1] * it.y;
            y = matrix[2] * it.x + matrix[3] * it.y;
        }
        if (!std::isfinite(x) || !std::isfinite(y) || std::fabs(x) > 32767 || std::fabs(y) > 32767)
            return ERR_DRAWPATH;
        lvStyleTags style{};
        if (int code = DrawPathBuffer(nullptr, &it.path, &it.path.style, it.engine, (int)x, (int)y, it.colour, &tags,
                                      &style, &rendered[i].r))
            return code;
        rendered[i].made = true;
        right = std::max(right, rendered[i].r.x + rendered[i].r.width);
        bottom = std::max(bottom, rendered[i].r.y + rendered[i].r.height);
    }
    if (right <= 0 || bottom <= 0) return ERR_DRAWPATH;
    lvBitMapHandle *rgb = AllocRgbBitmap(right, bottom, 0, nullptr);
    if (!rgb) return ERR_BITMAP;
    FillBitmapRect(rgb, 0, 0, right, bottom, 0);
    lvBitMapHandle *alpha = AllocAlphaBitmap(right, bottom, 1, nullptr, 0);
    if (!alpha) {
        FreeBitmapHandle(rgb);
        return ERR_ALLOCALPHA;
    }
    lvBitMapLock tl{};
    uint8_t *ta;
    int taRow;
    uintptr_t tat = 0;
    int code = 0;
    if (!LockBitmapHandle(rgb, 0, &tl) || tl.bytesPerPixel != 4) code = ERR_LOCKBMAP;
    if (!code && !(tat = GetPlanePixels(alpha, &ta, &taRow, 1))) code = ERR_LOCKBMAP;
    for (int i = 0; !code && i < list->count; i++) {
        const lvShapeImageResult &r = rendered[i].r;
        if (!r.images.rgb || !r.images.alpha) continue;
        lvBitMapLock sl{};
        uint8_t *sa;
        int saRow;
        if (!LockBitmapHandle(r.images.rgb, LOCK_READONLY, &sl) || sl.bytesPerPixel != 4) {
            if (sl.token) UnlockBitmapHandle(&sl);
            code = ERR_LOCKBMAP;
            break;
        }
        uintptr_t sat = GetPlanePixels(r.images.alpha, &sa, &saRow, 0);
        if (!sat) {
            UnlockBitmapHandle(&sl);
            code = ERR_LOCKBMAP;
            break;
        }
        for (int y = 0; y < r.height; y++) {
            int ty = r.y + y;
            if (ty < 0 || ty >= bottom) continue;
            const uint32_t *srow = (const uint32_t *)(sl.pixels + (size_t)y * sl.rowLength * 4);
            uint32_t *trow = (uint32_t *)(tl.pixels + (size_t)ty * tl.rowLength * 4);
            for (int x = 0; x < r.width; x++) {
                int tx = r.x + x;
                if (tx < 0 || tx >= right) continue;
                BlendOver(trow + tx, ta + (size_t)ty * taRow + tx, srow[x] & 0xFFFFFF, sa[(size_t)y * saRow + x]);
            }
        }
        ReleasePlanePixels(sat);
        UnlockBitmapHandle(&sl);
    }
    if (tat) ReleasePlanePixels(tat);
    if (tl.token) UnlockBitmapHandle(&tl);
    if (code) {
        FreeBitmapHandle(rgb);
        FreeBitmapHandle(alpha);
        return code;
    }
    *rgbOut = rgb, *alphaOut = alpha;
    *widthOut = right, *heightOut = bottom;
    return 0;
}

namespace {

int RenderBrushPaths(void *handle, const double *matrix, lvBitMapHandle **rgb, lvBitMapHandle **mask,
                     lvBitMapHandle **alpha, void **extra, int *width, int *height)
{
    if (mask) *mask = nullptr;
    if (extra) *extra = nullptr;
    return RenderPathsToBitmap((const lvPathBrushList *)handle, matrix, rgb, alpha, width, height);
}

void FreeBrushPaths(void *handle)
{
    auto *list = (lvPathBrushList *)handle;
    FreePathBrushList(list);
    delete list;
}

}  // namespace

int MakePathBrush(lvState *L, lvObjectId *id, lvPathBrushList *list)
{
    auto *owned = new (std::nothrow) lvPathBrushList(*list);
    if (!owned) {
        FreePathBrushList(list);
        return ERR_MEM;
    }
    *list = lvPathBrushList{};
    lvBitMapHandle *rgb, *alpha;
    int w, h;
    if (int code = RenderPathsToBitmap(owned, nullptr, &rgb, &alpha, &w, &h)) {
        FreeBrushPaths(owned);
        return code;
    }
    // Render sources free their handle through the hook.
    lvImageSource *source = NewImageSource(LV_IMGSRC_RENDER, owned, nullptr, nullptr, nullptr, RenderBrushPaths,
                                           FreeBrushPaths, w, h, nullptr, nullptr, 0);
    if (!source) {
        FreeBitmapHandle(rgb);
        FreeBitmapHandle(alpha);
        FreeBrushPaths(owned);
        return ERR_MEM;
    }
    if (id->number && !id->handle)
        if (int code = ReleaseBrushRecord(L, *id, 0)) {
            FreeBitmapHandle(rgb);
            FreeBitmapHandle(alpha);
            ReleaseImageSource(source);
            return code;
        }
    lvBrush *made;
    int code = NewBrushRecord(id, 1, w, h, w, 0, source, rgb, -1, nullptr, alpha, nullptr, 32, nullptr, nullptr,
                              nullptr, 0, nullptr, &made);
    if (code) {
        FreeBitmapHandle(rgb);
        FreeBitmapHandle(alpha);
        ReleaseImageSource(source);
    }
    return code;
}

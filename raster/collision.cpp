// collision.cpp - TestPixelCollision and the sides it compares.
//
// Depends on: raster/lvcollision.h, raster/lvgraphics.h (IntersectBoxes), raster/lvneighbours.h.
// Limits: script thread only.
#include "raster/lvcollision.h"

#include <algorithm>

#include "base/lverrors.h"
#include "raster/lvgraphics.h"
#include "raster/lvneighbours.h"

namespace {

// A fetched plane, released on scope exit.
struct lvHeldPlane {
    uint8_t *pixels = nullptr;
    int rowBytes = 0;
    int width = 0, height = 0;
    uintptr_t token = 0;
    bool wanted = false;
    explicit lvHeldPlane(lvBitMapHandle *h) : wanted(h != nullptr) {
        if (h) {
            token = GetPlanePixels(h, &pixels, &rowBytes, 0);
            width = h->width;
            height = h->height;
        }
    }
    ~lvHeldPlane() { ReleasePlanePixels(token); }
    bool Failed() const { return wanted && !token; }
    bool Bit(int x, int y) const {
        if (x < 0 || y < 0 || x >= width || y >= height) return false;
        return (pixels[static_cast<ptrdiff_t>(y) * rowBytes + (x >> 3)] >> (7 - (x & 7))) & 1;
    }
    int Byte(int x, int y) const {
        if (x < 0 || y < 0 || x >= width || y >= height) return -1;
        return pixels[static_cast<ptrdiff_t>(y) * rowBytes + x];
    }
};

bool HasTransparency(const lvCollisionSide &s) {
    return s.mask || s.alpha || (s.pens && s.transparentPen != -1) || (s.clip && s.clip->mask);
}

}  // namespace

lvCollisionSide BoxSide(int x, int y, int width, int height) {
    lvCollisionSide s{};
    s.x = x, s.y = y, s.width = width, s.height = height;
    s.transparentPen = -1;
    return s;
}

int TestPixelCollision(const lvCollisionSide *side1, const lvCollisionSide *side2) {
    const lvCollisionSide &a = *side1, &b = *side2;
    int cut[4];
    if (!IntersectBoxes(a.x, a.y, a.width, a.height, b.x, b.y, b.width, b.height, cut) || cut[2] <= 0 || cut[3] <= 0)
        return 0;
    if (!HasTransparency(a) && !HasTransparency(b)) return 1;
    // Byte plane of a side: its pens against the transparent pen, else its alpha against 0.
    lvHeldPlane maskA(a.mask), maskB(b.mask);
    lvHeldPlane bytesA(a.pens ? a.pens : a.alpha), bytesB(b.pens ? b.pens : b.alpha);
    lvHeldPlane clipA(a.clip ? a.clip->mask : nullptr), clipB(b.clip ? b.clip->mask : nullptr);
    if (maskA.Failed() || maskB.Failed() || bytesA.Failed() || bytesB.Failed() || clipA.Failed() || clipB.Failed())
        return 0;
    int clearA = a.pens ? a.transparentPen : 0, clearB = b.pens ? b.transparentPen : 0;
    // A pixel collides where each side shows (every test of that side passes)
    // and every clip mask is set.
    auto shows = [](const lvCollisionSide &s, const lvHeldPlane &m, const lvHeldPlane &p, int clear, int px, int py) {
        int ix = px - s.x + s.imageX, iy = py - s.y + s.imageY;
        if (m.wanted && !m.Bit(ix, iy)) return false;
        if (p.wanted) {
            int v = p.Byte(ix, iy);
            if (v < 0 || v == clear) return false;
        }
        return true;
    };
    for (int py = cut[1]; py < cut[1] + cut[3]; py++)
        for (int px = cut[0]; px < cut[0] + cut[2]; px++) {
            if (!shows(a, maskA, bytesA, clearA, px, py) || !shows(b, maskB, bytesB, clearB, px, py)) continue;
            if (clipA.wanted && !clipA.Bit(px - a.clip->x, py - a.clip->y)) continue;
            if (clipB.wanted && !clipB.Bit(px - b.clip->x, py - b.clip->y)) continue;
            return 1;
        }
    return 0;
}

static int BrushSideOf(void *state, int64_t id, void *handle, int x, int y, lvCollisionSide *side) {
    lvBrushView brush{};
    lvImagingServices &im = NeighbourServices.imaging;
    if (int rc = handle ? im.FindBrushByHandle(im.context, state, handle, &brush)
                        : im.FindBrushById(im.context, state, id, &brush))
        return rc;
    *side = BoxSide(x, y, brush.width, brush.height);
    side->mask = brush.mask;
    side->alpha = brush.alpha;
    side->pens = brush.chunky;
    side->transparentPen = brush.chunky ? brush.transparentPen : -1;
    return 0;
}

int BrushSide(void *state, int64_t id, int x, int y, lvCollisionSide *side) {
    return BrushSideOf(state, id, nullptr, x, y, side);
}

int BrushSideByHandle(void *state, void *handle, int x, int y, lvCollisionSide *side) {
    return BrushSideOf(state, 0, handle, x, y, side);
}

int LayerSide(void *state, int position, lvCollisionSide *side) {
    lvLayerServices &ls = NeighbourServices.layers;
    lvCollisionSide s = BoxSide(0, 0, 0, 0);
    if (int rc = ls.GetLayerCollisionSide(ls.context, state, position, &s)) return rc;
    if (s.clip) {
        // Only the part inside the clip region can collide; the cut moves the image offset.
        int cut[4];
        if (!IntersectBoxes(s.x, s.y, s.width, s.height, s.clip->x, s.clip->y, s.clip->width, s.clip->height, cut)) {
            s.width = s.height = 0;
        } else {
            s.imageX += cut[0] - s.x;
            s.imageY += cut[1] - s.y;
            s.x = cut[0], s.y = cut[1], s.width = cut[2], s.height = cut[3];
        }
    }
    *side = s;
    return 0;
}

lvCollisionSide ScaledBoxSide(void *display, int x, int y, int width, int height) {
    double sx = 1, sy = 1;
    lvDisplayScaleServices &ds = NeighbourServices.displays;
    if (!ds.GetDisplayScale(ds.context, display, &sx, &sy)) sx = sy = 1;
    return BoxSide(static_cast<int>(x * sx), static_cast<int>(y * sy), static_cast<int>(width * sx),
                   static_cast<int>(height * sy));
}

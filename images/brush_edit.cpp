// brush_edit.cpp - changing a brush's planes in place: crop, trim, extend, mirror, the
// transparency channels, single pixels, and brushes made from tables of colours or pens.
// Every change that makes new planes builds the whole new set first and swaps it in only
// when all of it exists, so a failure (also an allocation failure) leaves the brush as it
// was.
//
// Depends on: images/lvbrush.h, raster/lvimage.h, raster/lvplanes.h, raster/lvscale.h.
#include <climits>
#include <cstring>

#include "base/lverrors.h"
#include "images/lvbrush.h"
#include "platform/lvplatform.h"
#include "raster/lvimage.h"
#include "raster/lvplanes.h"
#include "raster/lvscale.h"

namespace {

// A plane's pixels for the length of one operation.
struct PlanePixels {
    uint8_t *pixels = nullptr;
    int rowBytes = 0;
    uintptr_t token = 0;
    PlanePixels(lvBitMapHandle *h, int write)
    {
        if (h) token = GetPlanePixels(h, &pixels, &rowBytes, write);
    }
    ~PlanePixels() { ReleasePlanePixels(token); }
    PlanePixels(const PlanePixels &) = delete;
    PlanePixels &operator=(const PlanePixels &) = delete;
    explicit operator bool() const { return token != 0; }
    uint8_t *Row(int y) const { return pixels + (ptrdiff_t)y * rowBytes; }
    int Bit(int x, int y) const { return (Row(y)[x >> 3] >> (7 - (x & 7))) & 1; }
    void SetBit(int x, int y, int on) const
    {
        uint8_t bit = (uint8_t)(0x80 >> (x & 7));
        if (on) Row(y)[x >> 3] |= bit;
        else Row(y)[x >> 3] &= (uint8_t)~bit;
    }
};

void FreeSet(lvPictureSet *s) { FreeBitmapSet(&s->rgb, &s->mask, &s->alpha, &s->chunky, nullptr); }

// The new planes replace the old ones (the palette stays).
void SwapIn(lvBrush *b, lvPictureSet *n, int width, int height)
{
    FreeBitmapHandle(b->bitmap);
    FreeBitmapHandle(b->mask);
    FreeBitmapHandle(b->alpha);
    FreeBitmapHandle(b->penBitmap);
    b->bitmap = n->rgb, b->mask = n->mask, b->alpha = n->alpha, b->penBitmap = n->chunky;
    b->width = b->sourceRowLength = width;
    b->height = height;
}

// A copy of the rectangle of every plane, swapped in.
int ReplaceWithRect(lvBrush *b, int x, int y, int width, int height)
{
    lvPictureSet source = {b->bitmap, b->mask, b->alpha, b->penBitmap, nullptr}, made = {};
    if (int code = DuplicateImage(&source, x, y, width, height, 0, 0, nullptr, &made)) return code;
    SwapIn(b, &made, width, height);
    return 0;
}

}  // namespace

int CropBrushImage(lvBrush *b, int x, int y, int width, int height)
{
    if (width <= 0 || height <= 0) return ERR_BADDIMENSIONS;
    if (x < 0 || y < 0) return ERR_NEGCOORDS;
    if (x >= b->width || y >= b->height) return ERR_COORDSRANGE;
    if (width > b->width - x) width = b->width - x;
    if (height > b->height - y) height = b->height - y;
    return ReplaceWithRect(b, x, y, width, height);
}

int TrimBrushImage(lvBrush *b, int *x, int *y)
{
    *x = *y = 0;
    if (b->penBitmap && b->transparentColour < 0) return 0;
    lvBitMapHandle *plane = b->penBitmap ? b->penBitmap : b->alpha;
    lvBitMapHandle *mask = b->penBitmap ? nullptr : b->mask;
    int transparent = b->penBitmap ? b->transparentColour : 0;
    if (mask) plane = nullptr;
    int bx, by, bw, bh;
    if (!GetOpaqueBounds(mask, plane, b->width, b->height, transparent, &bx, &by, &bw, &bh)) return ERR_TRANSBRUSH;
    if (bx != 0 || by != 0 || bw != b->width || bh != b->height)
        if (int code = ReplaceWithRect(b, bx, by, bw, bh)) return code;
    *x = bx, *y = by;
    return 0;
}

int ExtendBrushImage(lvBrush *b, int left, int top, int right, int bottom, int clear, uint32_t colour, int pen)
{
    if (left < 0 || top < 0 || right < 0 || bottom < 0) return ERR_NEGCOORDS;
    // Sizes in 64 bits: a sum past what a bitmap can hold fails as its allocation would.
    int64_t width64 = (int64_t)b->width + left + right, height64 = (int64_t)b->height + top + bottom;
    int allocError = b->penBitmap ? ERR_ALLOCCHUNKY : ERR_BITMAP;
    if (b->penBitmap && (pen < 0 || pen >= (1 << b->depth))) return ERR_PENRANGE;
    if (width64 > INT_MAX / 4 || height64 > INT_MAX / 4 || width64 * height64 > INT_MAX / 4) return allocError;
    int width = (int)width64, height = (int)height64;
    lvPictureSet n = {};
    if (b->penBitmap) {
        n.chunky = AllocChunkyBitmap(width, height, 0);
        if (!n.chunky) return ERR_ALLOCCHUNKY;
        PlanePixels to(n.chunky, 1), from(b->penBitmap, 0);
        if (!to || !from) {
            FreeSet(&n);
            return ERR_LOCKBMAP;
        }
        for (int yy = 0; yy < height; yy++) std::memset(to.Row(yy), pen, (size_t)width);
        for (int yy = 0; yy < b->height; yy++) std::memcpy(to.Row(yy + top) + left, from.Row(yy), (size_t)b->width);
        SwapIn(b, &n, width, height);
        return 0;
    }
    n.rgb = AllocRgbBitmap(width, height, 0, nullptr);
    if (!n.rgb) return ERR_BITMAP;
    if (b->mask && !(n.mask = AllocMaskBitmap(n.rgb, width, height, 1, nullptr, 0))) {
        FreeSet(&n);
        return ERR_ALLOCMASK;
    }
    if (b->alpha && !(n.alpha = AllocAlphaBitmap(width, height, 1, nullptr, 0))) {
        FreeSet(&n);
        return ERR_ALLOCALPHA;
    }
    FillBitmapRect(n.rgb, 0, 0, width, height, colour);
    if (b->bitmap) CopyBitmapRect(b->bitmap, 0, 0, n.rgb, left, top, b->width, b->height);
    if (n.mask) {
        PlanePixels to(n.mask, 1), from(b->mask, 0);
        if (!to || !from) {
            FreeSet(&n);
            return ERR_LOCKBMAP;
        }
        for (int yy = 0; yy < height; yy++)
            for (int xx = 0; xx < width; xx++) {
                int inside = xx >= left && yy >= top && xx < left + b->width && yy < top + b->height;
                to.SetBit(xx, yy, inside ? from.Bit(xx - left, yy - top) : !clear);
            }
    }
    if (n.alpha) {
        PlanePixels to(n.alpha, 1), from(b->alpha, 0);
        if (!to || !from) {
            FreeSet(&n);
            return ERR_LOCKBMAP;
        }
        for (int yy = 0; yy < height; yy++) std::memset(to.Row(yy), clear ? 0 : 255, (size_t)width);
        for (int yy = 0; yy < b->height; yy++) std::memcpy(to.Row(yy + top) + left, from.Row(yy), (size_t)b->width);
    }
    SwapIn(b, &n, width, height);
    return 0;
}

int FlipBrushImage(lvBrush *b, int horizontal)
{
    if (b->penBitmap) return MirrorBitmaps(nullptr, nullptr, b->penBitmap, b->width, b->height, horizontal != 0);
    return MirrorBitmaps(b->bitmap, b->mask, b->alpha, b->width, b->height, horizontal != 0);
}

int ChangeBrushTransparencyMode(lvBrush *b, int mode)
{
    if (mode == -1) {
        FreeBitmapHandle(b->mask);
        FreeBitmapHandle(b->alpha);
        b->mask = b->alpha = nullptr;
        return 0;
    }
    if (mode == 28) {
        if (b->mask) return 0;
        lvBitMapHandle *mask = AllocMaskBitmap(b->bitmap, b->width, b->height, 1, nullptr, 0);
        if (!mask) return ERR_ALLOCMASK;
        {
            PlanePixels to(mask, 1), from(b->alpha, 0);
            if (!to || (b->alpha && !from)) {
                FreeBitmapHandle(mask);
                return ERR_LOCKBMAP;
            }
            for (int y = 0; y < b->height; y++)
                for (int x = 0; x < b->width; x++) to.SetBit(x, y, b->alpha ? from.Row(y)[x] == 255 : 1);
        }
        FreeBitmapHandle(b->alpha);
        b->alpha = nullptr;
        b->mask = mask;
        return 0;
    }
    if (mode == 30) {
        if (b->alpha) return 0;
        lvBitMapHandle *alpha = AllocAlphaBitmap(b->width, b->height, 1, nullptr, 0);
        if (!alpha) return ERR_ALLOCALPHA;
        {
            PlanePixels to(alpha, 1), from(b->mask, 0);
            if (!to || (b->mask && !from)) {
                FreeBitmapHandle(alpha);
                return ERR_LOCKBMAP;
            }
            for (int y = 0; y < b->height; y++)
                for (int x = 0; x < b->width; x++) to.Row(y)[x] = (!b->mask || from.Bit(x, y)) ? 255 : 0;
        }
        FreeBitmapHandle(b->mask);
        b->mask = nullptr;
        b->alpha = alpha;
        return 0;
    }
    return ERR_WRONGUSAGE;
}

int ReduceBrushAlpha(lvBrush *b, int level)
{
    if (level < 0 || level > 255 || !b->alpha) return ERR_WRONGUSAGE;
    PlanePixels p(b->alpha, 1);
    if (!p) return ERR_LOCKBMAP;
    for (int y = 0; y < b->height; y++)
        for (int x = 0; x < b->width; x++) p.Row(y)[x] = (uint8_t)(p.Row(y)[x] * level / 255);
    return 0;
}

int IsBrushImageEmpty(const lvBrush *b)
{
    if (b->penBitmap) {
        if (b->transparentColour < 0) return 0;
        PlanePixels p(b->penBitmap, 0);
        if (!p) return 0;
        for (int y = 0; y < b->height; y++)
            for (int x = 0; x < b->width; x++)
                if (p.Row(y)[x] != b->transparentColour) return 0;
        return 1;
    }
    if (b->alpha) {
        PlanePixels p(b->alpha, 0);
        if (!p) return 0;
        for (int y = 0; y < b->height; y++)
            for (int x = 0; x < b->width; x++)
                if (p.Row(y)[x]) return 0;
        return 1;
    }
    if (b->mask) {
        PlanePixels p(b->mask, 0);
        if (!p) return 0;
        for (int y = 0; y < b->height; y++)
            for (int x = 0; x < b->width; x++)
                if (p.Bit(x, y)) return 0;
        return 1;
    }
    return 0;
}

int ReadBrushPixelValue(lvBrush *b, int x, int y, int64_t *colour, int *transparency)
{
    if (x < 0 || y < 0 || x >= b->width || y >= b->height) {
        *colour = 4294967295LL, *transparency = -1;
        return 0;
    }
    if (b->penBitmap) {
        PlanePixels p(b->penBitmap, 0);
        if (!p) return ERR_LOCKBMAP;
        int pen = p.Row(y)[x];
        *colour = pen, *transparency = pen == b->transparentColour ? 1 : 0;
        return 0;
    }
    {
        lvScopedLock s(b->bitmap, LOCK_READONLY);
        if (!s) return ERR_LOCKBMAP;
        *colour = ReadLockPixel(&s.lock, x, y) & 0xFFFFFFu;
    }
    *transparency = -1;
    if (b->alpha) {
        PlanePixels p(b->alpha, 0);
        if (!p) return ERR_LOCKBMAP;
        *transparency = p.Row(y)[x];
    } else if (b->mask) {
        PlanePixels p(b->mask, 0);
        if (!p) return ERR_LOCKBMAP;
        *transparency = p.Bit(x, y);
    }
    return 0;
}

int WriteBrushPixelValue(lvBrush *b, int x, int y, uint32_t colour, int transparency)
{
    if (x < 0 || y < 0 || x >= b->width || y >= b->height) return 0;
    if (b->penBitmap) {
        uint32_t pen = colour & 0xFFFFFFu;
        if (pen >= (1u << b->depth)) return ERR_PENRANGE;
        PlanePixels p(b->penBitmap, 1);
        if (!p) return ERR_LOCKBMAP;
        p.Row(y)[x] = (uint8_t)pen;
        return 0;
    }
    {
        lvScopedLock s(b->bitmap, 0);
        if (!s) return ERR_LOCKBMAP;
        WriteLockPixel(&s.lock, colour & 0xFFFFFFu, x, y);
    }
    if (transparency == -1) return 0;
    if (b->alpha) {
        PlanePixels p(b->alpha, 1);
        if (!p) return ERR_LOCKBMAP;
        p.Row(y)[x] = (uint8_t)transparency;
    } else if (b->mask) {
        PlanePixels p(b->mask, 1);
        if (!p) return ERR_LOCKBMAP;
        p.SetBit(x, y, transparency != 0);
    }
    return 0;
}

int BrushToArgbWords(lvBrush *b, int invertAlpha, uint32_t **out)
{
    *out = nullptr;
    uint32_t *words = (uint32_t *)AllocMemory((size_t)b->width * b->height * 4, 0);
    if (!words) return ERR_MEM;
    uint32_t flip = invertAlpha ? 0xFF000000u : 0;
    if (b->penBitmap) {
        PlanePixels p(b->penBitmap, 0);
        if (!p) {
            FreeMemory(words);
            return ERR_LOCKBMAP;
        }
        for (int y = 0; y < b->height; y++)
            for (int x = 0; x < b->width; x++) {
                int pen = p.Row(y)[x];
                uint32_t c = pen == b->transparentColour ? 0u : ((b->palette[pen] & 0xFFFFFFu) | 0xFF000000u);
                words[(size_t)y * b->width + x] = c ^ flip;
            }
        *out = words;
        return 0;
    }
    lvScopedLock s(b->bitmap, LOCK_READONLY);
    PlanePixels mask(b->mask, 0), alpha(b->alpha, 0);
    if (!s || (b->mask && !mask) || (b->alpha && !alpha)) {
        FreeMemory(words);
        return ERR_LOCKBMAP;
    }
    for (int y = 0; y < b->height; y++)
        for (int x = 0; x < b->width; x++) {
            uint32_t a = b->alpha ? alpha.Row(y)[x] : b->mask ? (mask.Bit(x, y) ? 255u : 0u) : 255u;
            words[(size_t)y * b->width + x] = ((ReadLockPixel(&s.lock, x, y) & 0xFFFFFFu) | (a << 24)) ^ flip;
        }
    *out = words;
    return 0;
}

int FillBrushFromArgb(lvBrush *b, const uint32_t *words, int invertAlpha)
{
    uint32_t flip = invertAlpha ? 0xFF000000u : 0;
    lvScopedLock s(b->bitmap, 0);
    PlanePixels mask(b->mask, 1), alpha(b->alpha, 1);
    if (!s || (b->mask && !mask) || (b->alpha && !alpha)) return ERR_LOCKBMAP;
    for (int y = 0; y < b->height; y++)
        for (int x = 0; x < b->width; x++) {
            uint32_t c = words[(size_t)y * b->width + x] ^ flip;
            WriteLockPixel(&s.lock, c & 0xFFFFFFu, x, y);
            if (b->alpha) alpha.Row(y)[x] = (uint8_t)(c >> 24);
            else if (b->mask) mask.SetBit(x, y, (c >> 24) != 0);
        }
    return 0;
}

int FillBrushFromPens(lvBrush *b, const uint8_t *pens)
{
    PlanePixels p(b->penBitmap, 1);
    if (!p) return ERR_LOCKBMAP;
    for (int y = 0; y < b->height; y++) std::memcpy(p.Row(y), pens + (size_t)y * b->width, (size_t)b->width);
    return 0;
}

int GetBrushEffectImage(lvBrush *b, lvBitMapHandle **image, int *width, int *height)
{
    if (!b->penBitmap) {
        *image = b->bitmap, *width = b->width, *height = b->height;
        return 0;
    }
    // Effects on a palette brush change its pens: the view reads and writes the palette.
    int columns = 1 << (b->depth < 1 ? 1 : b->depth > 8 ? 8 : b->depth);
    if (!b->paletteView) b->paletteView = AllocRgbBitmap(256, 1, BMF_EXTERNAL, b->palette);
    if (!b->paletteView) return ERR_MEM;
    *image = b->paletteView, *width = columns, *height = 1;
    return 0;
}

int MaskFromColourKey(lvBrush *b, uint32_t colour, lvBitMapHandle **out)
{
    *out = nullptr;
    lvBitMapHandle *mask = AllocMaskBitmap(b->bitmap, b->width, b->height, 1, nullptr, 0);
    if (!mask) return ERR_MEM;
    {
        lvScopedLock s(b->bitmap, LOCK_READONLY);
        PlanePixels to(mask, 1);
        if (!s || !to) {
            FreeBitmapHandle(mask);
            return ERR_MEM;
        }
        for (int y = 0; y < b->height; y++)
            for (int x = 0; x < b->width; x++)
                to.SetBit(x, y, ((ReadLockPixel(&s.lock, x, y) ^ colour) & 0xFFFFFFu) != 0);
    }
    *out = mask;
    return 0;
}

int ReplaceBrushColours(lvBrush *b, const uint32_t *pairs, int count)
{
    if (count <= 0) return 0;
    if (b->penBitmap) {
        for (int i = 0; i < 2 * count; i++)
            if (pairs[i] >= (1u << b->depth)) return ERR_PENRANGE;
        PlanePixels p(b->penBitmap, 1);
        if (!p) return ERR_LOCKBMAP;
        for (int y = 0; y < b->height; y++)
            for (int x = 0; x < b->width; x++) {
                uint8_t pen = p.Row(y)[x];
                // Pairs apply in order: a replaced value meets the later pairs.
                for (int i = 0; i < count; i++)
                    if (pen == pairs[2 * i]) pen = (uint8_t)pairs[2 * i + 1];
                p.Row(y)[x] = pen;
            }
        return 0;
    }
    lvScopedLock s(b->bitmap, 0);
    if (!s) return ERR_LOCKBMAP;
    if (s.lock.bytesPerPixel != 4) return 0;
    for (int y = 0; y < b->height; y++)
        for (int x = 0; x < b->width; x++) {
            uint32_t old = ReadLockPixel(&s.lock, x, y), colour = old & 0xFFFFFFu;
            for (int i = 0; i < count; i++)
                if (colour == (pairs[2 * i] & 0xFFFFFFu)) colour = pairs[2 * i + 1] & 0xFFFFFFu;
            if (colour != (old & 0xFFFFFFu)) WriteLockPixel(&s.lock, colour | (old & 0xFF000000u), x, y);
        }
    return 0;
}

namespace {

// The values a flood fill searches and writes: 32-bit colours without alpha, or bytes.
struct FillGrid {
    lvBitMapLock *lock = nullptr;
    const PlanePixels *plane = nullptr;
    uint32_t Get(int x, int y) const
    {
        return lock ? ReadLockPixel(lock, x, y) & 0xFFFFFFu : plane->Row(y)[x];
    }
};

// Marks the region from (x, y): the connected area of the start value (border -1), or
// the area that pixels of the border value enclose. 0 or ERR_MEM.
int MarkRegion(const FillGrid &grid, int width, int height, int x, int y, int64_t border, uint8_t **marks)
{
    size_t count = (size_t)width * height;
    uint8_t *seen = (uint8_t *)AllocMemory(count, 1);
    int32_t *stack = (int32_t *)AllocMemory(count * sizeof(int32_t), 0);
    if (!seen || !stack) {
        FreeMemory(seen);
        FreeMemory(stack);
        return ERR_MEM;
    }
    uint32_t start = grid.Get(x, y);
    auto inside = [&](int px, int py) {
        uint32_t v = grid.Get(px, py);
        return border < 0 ? v == start : v != (uint32_t)border;
    };
    size_t top = 0;
    if (inside(x, y)) {
        seen[(size_t)y * width + x] = 1;
        stack[top++] = y * width + x;
    }
    while (top) {
        int index = stack[--top], px = index % width, py = index / width;
        const int next[4][2] = {{px - 1, py}, {px + 1, py}, {px, py - 1}, {px, py + 1}};
        for (const auto &n : next) {
            if (n[0] < 0 || n[1] < 0 || n[0] >= width || n[1] >= height) continue;
            size_t at = (size_t)n[1] * width + n[0];
            if (seen[at] || !inside(n[0], n[1])) continue;
            seen[at] = 1;
            stack[top++] = (int32_t)at;
        }
    }
    FreeMemory(stack);
    *marks = seen;
    return 0;
}

}  // namespace

int FloodFillBrush(lvBrush *b, int x, int y, int64_t border, uint32_t fill, int alphaChannel, int colourSource)
{
    if (x < 0 || y < 0) return ERR_NEGCOORDS;
    if (x >= b->width || y >= b->height) return ERR_COORDSRANGE;
    uint8_t *marks = nullptr;
    if (alphaChannel) {
        if (!b->alpha) return ERR_WRONGUSAGE;
        if (border > 255 || border < -1 || fill > 255) return ERR_PENRANGE;
        PlanePixels alpha(b->alpha, 1);
        if (!alpha) return ERR_LOCKBMAP;
        if (colourSource && b->bitmap) {
            lvScopedLock s(b->bitmap, LOCK_READONLY);
            if (!s) return ERR_LOCKBMAP;
            FillGrid grid;
            grid.lock = &s.lock;
            if (int code = MarkRegion(grid, b->width, b->height, x, y, border, &marks)) return code;
        } else {
            FillGrid grid;
            grid.plane = &alpha;
            if (int code = MarkRegion(grid, b->width, b->height, x, y, border, &marks)) return code;
        }
        for (int yy = 0; yy < b->height; yy++)
            for (int xx = 0; xx < b->width; xx++)
                if (marks[(size_t)yy * b->width + xx]) alpha.Row(yy)[xx] = (uint8_t)fill;
        FreeMemory(marks);
        return 0;
    }
    if (b->penBitmap) {
        int64_t limit = 1LL << b->depth;
        if (border >= limit || border < -1 || fill >= (uint32_t)limit) return ERR_PENRANGE;
        PlanePixels pens(b->penBitmap, 1);
        if (!pens) return ERR_LOCKBMAP;
        FillGrid grid;
        grid.plane = &pens;
        if (int code = MarkRegion(grid, b->width, b->height, x, y, border, &marks)) return code;
        for (int yy = 0; yy < b->height; yy++)
            for (int xx = 0; xx < b->width; xx++)
                if (marks[(size_t)yy * b->width + xx]) pens.Row(yy)[xx] = (uint8_t)fill;
        FreeMemory(marks);
        return 0;
    }
    lvScopedLock s(b->bitmap, 0);
    if (!s) return ERR_LOCKBMAP;
    if (s.lock.bytesPerPixel != 4) return 0;
    FillGrid grid;
    grid.lock = &s.lock;
    if (border >= 0) border &= 0xFFFFFF;
    if (int code = MarkRegion(grid, b->width, b->height, x, y, border, &marks)) return code;
    for (int yy = 0; yy < b->height; yy++)
        for (int xx = 0; xx < b->width; xx++)
            if (marks[(size_t)yy * b->width + xx])
                WriteLockPixel(&s.lock, (ReadLockPixel(&s.lock, xx, yy) & 0xFF000000u) | (fill & 0xFFFFFFu), xx, yy);
    FreeMemory(marks);
    return 0;
}

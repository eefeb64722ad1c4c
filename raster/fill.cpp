// fill.cpp - boundary and replace fills with an explicit growable stack, the
// colour-key mask and colour replacement.
//
// Depends on: raster/lvfill.h, platform/lvplatform.h.
// Limits: script thread only.
#include <cstring>

#include "platform/lvplatform.h"
#include "raster/lvfill.h"

namespace {

// A stack of plain records in one AllocMemory block that doubles as it fills.
template <typename T>
struct lvGrowStack {
    T *items = nullptr;
    size_t count = 0, room = 0;
    ~lvGrowStack() { FreeMemory(items); }
    bool Push(const T &item) {
        if (count == room) {
            size_t more = room ? room * 2 : 256;
            T *grown = static_cast<T *>(AllocMemory(more * sizeof(T), 0));
            if (!grown) return false;
            if (items) std::memcpy(grown, items, count * sizeof(T));
            FreeMemory(items);
            items = grown;
            room = more;
        }
        items[count++] = item;
        return true;
    }
    T &Top() { return items[count - 1]; }
    void Pop() { count--; }
    bool Empty() const { return count == 0; }
};

inline uint32_t ReadRaw(const lvFillJob *j, int x, int y) {
    const uint8_t *p = j->pixels + (static_cast<ptrdiff_t>(y) * j->rowLength + x) * j->bytesPerPixel;
    switch (j->bytesPerPixel) {
    case 1: return *p;
    case 2: return *reinterpret_cast<const uint16_t *>(p);
    case 3: return (uint32_t(p[0]) << 16) | (uint32_t(p[1]) << 8) | p[2];
    default: return *reinterpret_cast<const uint32_t *>(p);
    }
}

inline bool Inside(const lvFillJob *j, int x, int y) { return x >= 0 && y >= 0 && x < j->width && y < j->height; }

// One frame of the boundary fill: a filled run and where the scan of its
// neighbour rows stands (phase 0 the row above, 1 the row below).
struct lvFillFrame {
    int y, left, right;
    int phase, scanX;
    int inStretch;
};

// The boundary fill's row: fills from the seed to the border on both sides.
// false when the seed is a border pixel (or left of the limit).
bool FillRun(lvFillJob *j, int x, int y, uint32_t mask, uint32_t border, lvFillFrame *frame) {
    if (x < j->leftLimit) return false;
    int left = x + 1;
    for (int cx = x; cx >= j->leftLimit && (ReadFillPixel(j, cx, y) & mask) != border; cx--) {
        WriteFillPixel(j, j->fillColour, cx, y, j->byteValue);
        left = cx;
    }
    if (left > x) return false;
    int right = x;
    for (int cx = x + 1; cx < j->width + j->leftLimit && (ReadFillPixel(j, cx, y) & mask) != border; cx++) {
        WriteFillPixel(j, j->fillColour, cx, y, j->byteValue);
        right = cx;
    }
    *frame = {y, left, right, 0, left, 0};
    return true;
}

// Scanline fill in the order of its recursive form: each run seeds the row
// above first, then the row below, stretches left to right, depth first.
void BoundaryFill(lvFillJob *j, int x, int y, uint32_t mask) {
    uint32_t border = j->borderColour & mask;
    uint32_t fill = j->fillColour & mask;
    lvGrowStack<lvFillFrame> stack;
    lvFillFrame first;
    if (!FillRun(j, x, y, mask, border, &first) || !stack.Push(first)) return;
    while (!stack.Empty()) {
        lvFillFrame &f = stack.Top();
        bool allowed = f.phase == 0 ? f.y > j->topLimit : f.y < j->height + j->topLimit - 1;
        int ny = f.phase == 0 ? f.y - 1 : f.y + 1;
        bool seeded = false;
        while (allowed && f.scanX <= f.right) {
            int cx = f.scanX++;
            uint32_t p = ReadFillPixel(j, cx, ny) & mask;
            if (p != border && p != fill) {
                if (!f.inStretch) {
                    f.inStretch = 1;
                    lvFillFrame child;
                    if (FillRun(j, cx, ny, mask, border, &child)) {
                        if (!stack.Push(child)) return;  // out of memory: the fill ends here
                        seeded = true;
                        break;
                    }
                }
            } else {
                f.inStretch = 0;
            }
        }
        if (seeded) continue;
        if (f.phase == 0) {
            f.phase = 1;
            f.scanX = f.left;
            f.inStretch = 0;
        } else {
            stack.Pop();
        }
    }
}

struct lvSpan {
    int row, x1, x2, direction;
};

}  // namespace

uint32_t ReadFillPixel(const lvFillJob *job, int x, int y) { return Inside(job, x, y) ? ReadRaw(job, x, y) : 0; }

void WriteFillPixel(lvFillJob *job, uint32_t value, int x, int y, uint8_t byte) {
    if (!Inside(job, x, y)) return;
    uint8_t *p = job->pixels + (static_cast<ptrdiff_t>(y) * job->rowLength + x) * job->bytesPerPixel;
    switch (job->bytesPerPixel) {
    case 1: *p = static_cast<uint8_t>(value); break;
    case 2: *reinterpret_cast<uint16_t *>(p) = static_cast<uint16_t>(value); break;
    case 3:
        p[0] = static_cast<uint8_t>(value >> 16);
        p[1] = static_cast<uint8_t>(value >> 8);
        p[2] = static_cast<uint8_t>(value);
        break;
    default: *reinterpret_cast<uint32_t *>(p) = value; break;
    }
    if (job->bytePlane) job->bytePlane[static_cast<ptrdiff_t>(y) * job->bytePlaneRowBytes + x] = byte;
}

void BoundaryFill32(lvFillJob *job, int x, int y, uint32_t compareMask) {
    if (job->replace) return SeedFillSpans(job, x, y);
    BoundaryFill(job, x, y, compareMask);
}

void BoundaryFill8(lvFillJob *job, int x, int y) {
    if (job->replace) return SeedFillSpans(job, x, y);
    BoundaryFill(job, x, y, 0xFF);
}

void SeedFillSpans(lvFillJob *job, int x, int y) {
    lvFillJob *j = job;
    if (!Inside(j, x, y)) return;
    uint32_t seed = ReadRaw(j, x, y);
    uint32_t fill = j->fillColour;
    if (j->bytesPerPixel == 1) fill &= 0xFF;
    else if (j->bytesPerPixel == 2) fill &= 0xFFFF;
    else if (j->bytesPerPixel == 3) fill &= 0xFFFFFF;
    if (seed == fill) return;
    lvGrowStack<lvSpan> stack;
    // A span is pushed only when the row it leads to lies inside the plane.
    auto push = [&](int row, int x1, int x2, int dir) {
        int next = row + dir;
        return next < 0 || next >= j->height || stack.Push({row, x1, x2, dir});
    };
    if (!push(y, x, x, 1) || !push(y + 1, x, x, -1)) return;
    auto is = [&](int cx, int cy) { return ReadRaw(j, cx, cy) == seed; };
    while (!stack.Empty()) {
        lvSpan s = stack.Top();
        stack.Pop();
        int row = s.row + s.direction;
        int cx = s.x1;
        for (; cx >= 0 && is(cx, row); cx--) WriteFillPixel(j, fill, cx, row, j->byteValue);
        int left;
        if (cx >= s.x1) goto skip;
        left = cx + 1;
        if (left < s.x1 && !push(row, left, s.x1 - 1, -s.direction)) return;
        cx = s.x1 + 1;
        do {
            for (; cx < j->width && is(cx, row); cx++) WriteFillPixel(j, fill, cx, row, j->byteValue);
            if (!push(row, left, cx - 1, s.direction)) return;
            if (cx > s.x2 + 1 && !push(row, s.x2 + 1, cx - 1, -s.direction)) return;
        skip:
            for (cx++; cx <= s.x2 && !is(cx, row); cx++) {
            }
            left = cx;
        } while (cx <= s.x2);
    }
}

void MaskFromColorKey(const uint32_t *pixels, uint8_t *mask, int width, int height, int maskRowBytes, uint32_t key,
                      int pixelRowLength, uint32_t compareMask) {
    for (int y = 0; y < height; y++) {
        const uint32_t *p = pixels + static_cast<ptrdiff_t>(y) * pixelRowLength;
        uint8_t *m = mask + static_cast<ptrdiff_t>(y) * maskRowBytes;
        for (int x = 0; x < width; x++) {
            uint8_t bit = static_cast<uint8_t>(0x80 >> (x & 7));
            if ((p[x] & compareMask) == key) m[x >> 3] &= static_cast<uint8_t>(~bit);
            else m[x >> 3] |= bit;
        }
    }
}

void ReplaceColorsArgb(int width, int height, const uint32_t *pairs, uint32_t *pixels, int rowLength,
                       uint32_t compareMask) {
    if (!pairs) return;
    for (int y = 0; y < height; y++) {
        uint32_t *p = pixels + static_cast<ptrdiff_t>(y) * rowLength;
        for (int x = 0; x < width; x++)
            for (const uint32_t *q = pairs; q[0] != 0xFFFFFFFFu; q += 2)
                if ((p[x] & compareMask) == q[0]) p[x] = q[1];
    }
}

void ReplacePens(int width, int height, const uint32_t *pairs, uint8_t *pens, int rowBytes) {
    if (!pairs) return;
    for (int y = 0; y < height; y++) {
        uint8_t *p = pens + static_cast<ptrdiff_t>(y) * rowBytes;
        for (int x = 0; x < width; x++)
            for (const uint32_t *q = pairs; q[0] != 0xFFFFFFFFu; q += 2)
                if (p[x] == (q[0] & 0xFF)) p[x] = static_cast<uint8_t>(q[1]);
    }
}

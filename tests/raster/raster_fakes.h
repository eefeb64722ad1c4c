// raster_fakes.h - test doubles for the raster engine: a recording display
// adapter that owns its bitmaps in plain memory and counts its locks, and
// helpers to fill and read bitmaps.
#pragma once
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "raster/lvbitmap.h"
#include "raster/lvraster.h"

// ---- Recording fake adapter -------------------------------------------------
struct FakeBitmap {
    int kind, width, height;     // as allocated
    int rowLength;               // pixels a row (bytes for planes)
    int bytesPerPixel;           // 4 for RGB, 1 for planes
    std::vector<uint8_t> pixels; // the pixels
    int locks = 0;               // locks outstanding
};

struct FakeAdapter {
    lvDisplayAdapter record{};
    std::vector<std::string> calls;   // one line a call: "Name args"
    std::vector<FakeBitmap *> live;   // bitmaps not yet freed
    int openLocks = 0;                // locks not yet released
    int maxOpenLocks = 0;             // the most ever held at once
    std::vector<lvBltRecord> blits;   // BltBitMap records
    std::vector<int> modes;           // BltBitMap / RectFill / WritePixel modes
    int nextToken = 100;              // lock tokens handed out
    std::vector<uint32_t> videoPixels;// what ReadVideoPixels answers (empty: failure)
    int videoFormat = PIXFMT_ARGB32;  // the format it reports
    int videoHasAlpha = 0;            // and whether it has alpha
    int videoBuffersOut = 0;          // buffers handed out and not yet returned
    int videoFail = 0;                // 1: AllocVideoBitMap answers null
    int videoKeepsNothing = 0;        // 1: raw ARGB words are not copied in

    static FakeAdapter *current;
    explicit FakeAdapter(uint32_t flags, uint32_t accel = 0, uint32_t videoCaps = 0);
    ~FakeAdapter();
    void Install() { SetRasterDisplayAdapter(&record); }
    bool Called(const std::string &prefix) const {
        for (auto &c : calls)
            if (c.rfind(prefix, 0) == 0) return true;
        return false;
    }
};

// ---- Helpers ----------------------------------------------------------------
// Fills an RGB bitmap with f(x, y) (colour words), through a lock.
template <typename F>
inline void FillRgb(lvBitMapHandle *h, F f) {
    lvScopedLock l(h, 0);
    for (int y = 0; y < h->height; y++)
        for (int x = 0; x < h->width; x++)
            reinterpret_cast<uint32_t *>(l.lock.pixels)[y * l.lock.rowLength + x] = f(x, y);
}
inline uint32_t PixelAt(lvBitMapHandle *h, int x, int y) {
    lvScopedLock l(h, LOCK_READONLY);
    return reinterpret_cast<uint32_t *>(l.lock.pixels)[y * l.lock.rowLength + x];
}
inline uint8_t ByteAt(lvBitMapHandle *h, int x, int y) {
    uint8_t *p;
    int row;
    uintptr_t t = GetPlanePixels(h, &p, &row, 0);
    uint8_t v = p[y * row + x];
    ReleasePlanePixels(t);
    return v;
}
inline void SetByte(lvBitMapHandle *h, int x, int y, uint8_t v) {
    uint8_t *p;
    int row;
    uintptr_t t = GetPlanePixels(h, &p, &row, 1);
    p[y * row + x] = v;
    ReleasePlanePixels(t);
}
inline int BitAt(lvBitMapHandle *h, int x, int y) {
    uint8_t *p;
    int row;
    uintptr_t t = GetPlanePixels(h, &p, &row, 0);
    int v = (p[y * row + (x >> 3)] >> (7 - (x & 7))) & 1;
    ReleasePlanePixels(t);
    return v;
}
inline void SetBit(lvBitMapHandle *h, int x, int y, int bit) {
    uint8_t *p;
    int row;
    uintptr_t t = GetPlanePixels(h, &p, &row, 1);
    uint8_t m = static_cast<uint8_t>(0x80 >> (x & 7));
    p[y * row + (x >> 3)] = bit ? (p[y * row + (x >> 3)] | m) : (p[y * row + (x >> 3)] & ~m);
    ReleasePlanePixels(t);
}
// A mask from rows of '#' (set) and '.' (clear).
inline lvBitMapHandle *MaskFromText(const std::vector<std::string> &rows) {
    int w = static_cast<int>(rows[0].size()), h = static_cast<int>(rows.size());
    lvBitMapHandle *m = AllocMaskBitmap(nullptr, w, h, 1, nullptr, 0);
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) SetBit(m, x, y, rows[y][x] == '#');
    return m;
}
inline std::vector<std::string> MaskToText(lvBitMapHandle *m) {
    std::vector<std::string> rows;
    for (int y = 0; y < m->height; y++) {
        std::string r;
        for (int x = 0; x < m->width; x++) r += BitAt(m, x, y) ? '#' : '.';
        rows.push_back(r);
    }
    return rows;
}

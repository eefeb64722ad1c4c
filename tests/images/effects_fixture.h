// effects_fixture.h - small pictures for the effect tests: native bitmaps
// filled from ARGB words and read back.
#pragma once
#include <cstdint>
#include <random>
#include <vector>

#include "images/lveffects.h"
#include "raster/lvbitmap.h"

struct Picture {
    lvBitMapHandle *rgb = nullptr;
    int width = 0, height = 0;
    Picture(int w, int h, const std::vector<uint32_t> &argb) : width(w), height(h) {
        rgb = AllocRgbBitmap(w, h, 0, nullptr);
        Write(argb);
    }
    Picture(int w, int h, uint32_t colour) : Picture(w, h, std::vector<uint32_t>(size_t(w) * h, colour)) {}
    ~Picture() { FreeBitmapHandle(rgb); }
    Picture(const Picture &) = delete;
    void Write(const std::vector<uint32_t> &argb) {
        lvScopedLock l(rgb, 0);
        for (int y = 0; y < height; y++)
            for (int x = 0; x < width; x++)
                reinterpret_cast<uint32_t *>(l.lock.pixels)[size_t(y) * l.lock.rowLength + x] = argb[size_t(y) * width + x];
    }
    std::vector<uint32_t> Read() const {
        std::vector<uint32_t> out(size_t(width) * height);
        lvScopedLock l(rgb, LOCK_READONLY);
        for (int y = 0; y < height; y++)
            for (int x = 0; x < width; x++)
                out[size_t(y) * width + x] = reinterpret_cast<uint32_t *>(l.lock.pixels)[size_t(y) * l.lock.rowLength + x];
        return out;
    }
    uint32_t At(int x, int y) const { return Read()[size_t(y) * width + x]; }
};

// A byte plane (alpha or pens) with its contents.
struct Plane {
    lvBitMapHandle *handle = nullptr;
    int width, height;
    Plane(int w, int h, const std::vector<uint8_t> &bytes, bool pens = false) : width(w), height(h) {
        handle = pens ? AllocChunkyBitmap(w, h, 1) : AllocAlphaBitmap(w, h, 1, nullptr, 0);
        Write(bytes);
    }
    ~Plane() { FreeBitmapHandle(handle); }
    Plane(const Plane &) = delete;
    void Write(const std::vector<uint8_t> &bytes) {
        uint8_t *p;
        int rb;
        uintptr_t t = GetPlanePixels(handle, &p, &rb, 1);
        for (int y = 0; y < height; y++)
            for (int x = 0; x < width; x++) p[size_t(y) * rb + x] = bytes[size_t(y) * width + x];
        ReleasePlanePixels(t);
    }
    std::vector<uint8_t> Read() const { return ReadPlane(handle, width, height); }
    static std::vector<uint8_t> ReadPlane(lvBitMapHandle *h, int w, int hh) {
        std::vector<uint8_t> out(size_t(w) * hh);
        uint8_t *p;
        int rb;
        uintptr_t t = GetPlanePixels(h, &p, &rb, 0);
        for (int y = 0; y < hh; y++)
            for (int x = 0; x < w; x++) out[size_t(y) * w + x] = p[size_t(y) * rb + x];
        ReleasePlanePixels(t);
        return out;
    }
};

// A 1-bit mask from 0/1 values.
struct Mask {
    lvBitMapHandle *handle = nullptr;
    int width, height;
    Mask(lvBitMapHandle *friendBitmap, int w, int h, const std::vector<int> &bits) : width(w), height(h) {
        handle = AllocMaskBitmap(friendBitmap, w, h, 1, nullptr, 0);
        uint8_t *p;
        int rb;
        uintptr_t t = GetPlanePixels(handle, &p, &rb, 1);
        for (int y = 0; y < h; y++)
            for (int x = 0; x < w; x++)
                if (bits[size_t(y) * w + x]) p[size_t(y) * rb + (x >> 3)] |= uint8_t(0x80 >> (x & 7));
        ReleasePlanePixels(t);
    }
    ~Mask() { FreeBitmapHandle(handle); }
    Mask(const Mask &) = delete;
    static std::vector<int> ReadBits(lvBitMapHandle *h, int w, int hh) {
        std::vector<int> out(size_t(w) * hh);
        uint8_t *p;
        int rb;
        uintptr_t t = GetPlanePixels(h, &p, &rb, 0);
        for (int y = 0; y < hh; y++)
            for (int x = 0; x < w; x++) out[size_t(y) * w + x] = (p[size_t(y) * rb + (x >> 3)] >> (7 - (x & 7))) & 1;
        ReleasePlanePixels(t);
        return out;
    }
};

inline std::vector<uint32_t> RandomPixels(int n, unsigned seed, uint32_t alpha = 0xFF000000u) {
    std::mt19937 rng(seed);
    std::vector<uint32_t> v(static_cast<size_t>(n));
    for (auto &p : v) p = (rng() & 0x00FFFFFFu) | alpha;
    return v;
}

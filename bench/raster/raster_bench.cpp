// raster_bench.cpp - megapixels a second of the raster engine's copy, fill,
// blend, coverage, mask and palette paths and BlitImage calls a second for
// 32x32 sprites, beside pixman and SDL2 doing the nearest same job in the same
// run, and copy and fill as a fraction of memcpy / memset bandwidth.
//
// Depends on: lv_raster, Google Benchmark, pixman-1, SDL2.
// Run: build-bench/bin/raster_bench [--benchmark_min_time=0.2]
#include <benchmark/benchmark.h>
#include <pixman.h>
#include <SDL.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "raster/lvblit.h"
#include "raster/lvplanes.h"

namespace {

// ---- Pictures of one size, shared by every contestant -----------------------
struct Pictures {
    int w, h;
    lvBitMapHandle *src, *dst, *alpha, *mask, *pens;   // ours
    uint32_t palette[256];
    std::vector<uint32_t> srcWords, dstWords;          // plain buffers for memcpy and peers
    std::vector<uint8_t> alphaBytes, maskBits, penBytes;
    pixman_image_t *pSrc, *pDst, *pAlpha, *pMask, *pPens, *pSolid;
    pixman_indexed_t indexed;
    SDL_Surface *sSrc, *sDst, *sBlend, *sKeyed, *sPens;

    Pictures(int width, int height) : w(width), h(height) {
        std::mt19937 rng(1);
        src = AllocRgbBitmap(w, h, 0, nullptr);
        dst = AllocRgbBitmap(w, h, 0, nullptr);
        alpha = AllocAlphaBitmap(w, h, 0, nullptr, 0);
        mask = AllocMaskBitmap(src, w, h, 1, nullptr, 0);
        pens = AllocChunkyBitmap(w, h, 0);
        for (auto &p : palette) p = rng() & 0xFFFFFF;
        srcWords.resize(size_t(w) * h);
        dstWords.resize(size_t(w) * h);
        alphaBytes.resize(size_t(w) * h);
        int maskRow = ((w + 31) / 32) * 4;
        maskBits.resize(size_t(maskRow) * h);
        penBytes.resize(size_t(w) * h);
        for (auto &v : srcWords) v = rng() & 0xFFFFFF;
        for (auto &v : dstWords) v = rng() & 0xFFFFFF;
        for (auto &v : alphaBytes) v = uint8_t(rng());
        for (auto &v : penBytes) v = uint8_t(rng());
        // A sprite-like mask: long runs set, some clear, some mixed bytes.
        for (size_t i = 0; i < maskBits.size(); i++) maskBits[i] = (i % 7 == 0) ? uint8_t(rng()) : ((i % 3) ? 0xFF : 0);
        CopyInto();
        pSrc = pixman_image_create_bits(PIXMAN_x8r8g8b8, w, h, srcWords.data(), w * 4);
        pDst = pixman_image_create_bits(PIXMAN_x8r8g8b8, w, h, dstWords.data(), w * 4);
        pAlpha = pixman_image_create_bits(PIXMAN_a8, w, h, reinterpret_cast<uint32_t *>(alphaBytes.data()), w);
        pMask = pixman_image_create_bits(PIXMAN_a1, w, h, reinterpret_cast<uint32_t *>(maskBits.data()), maskRow);
        std::memset(&indexed, 0, sizeof indexed);
        for (int i = 0; i < 256; i++) indexed.rgba[i] = 0xFF000000u | palette[i];
        pPens = pixman_image_create_bits(PIXMAN_c8, w, h, reinterpret_cast<uint32_t *>(penBytes.data()), w);
        pixman_image_set_indexed(pPens, &indexed);
        pixman_color_t c = {0x3333, 0x6666, 0x9999, 0xFFFF};
        pSolid = pixman_image_create_solid_fill(&c);
        sSrc = SDL_CreateRGBSurfaceWithFormatFrom(srcWords.data(), w, h, 32, w * 4, SDL_PIXELFORMAT_RGB888);
        sDst = SDL_CreateRGBSurfaceWithFormatFrom(dstWords.data(), w, h, 32, w * 4, SDL_PIXELFORMAT_RGB888);
        sBlend = SDL_CreateRGBSurfaceWithFormat(0, w, h, 32, SDL_PIXELFORMAT_ARGB8888);
        for (int y = 0; y < h; y++)
            for (int x = 0; x < w; x++)
                static_cast<uint32_t *>(sBlend->pixels)[y * (sBlend->pitch / 4) + x] =
                    (uint32_t(alphaBytes[y * w + x]) << 24) | srcWords[y * w + x];
        SDL_SetSurfaceBlendMode(sBlend, SDL_BLENDMODE_BLEND);
        sKeyed = SDL_CreateRGBSurfaceWithFormatFrom(srcWords.data(), w, h, 32, w * 4, SDL_PIXELFORMAT_RGB888);
        SDL_SetColorKey(sKeyed, SDL_TRUE, 0);
        sPens = SDL_CreateRGBSurfaceWithFormatFrom(penBytes.data(), w, h, 8, w, SDL_PIXELFORMAT_INDEX8);
        SDL_Color colours[256];
        for (int i = 0; i < 256; i++)
            colours[i] = {Uint8(palette[i] >> 16), Uint8(palette[i] >> 8), Uint8(palette[i]), 255};
        SDL_SetPaletteColors(sPens->format->palette, colours, 0, 256);
    }
    // Our bitmaps get the same pixels as the peers' buffers.
    void CopyInto() {
        WriteArgbToBitmap(srcWords.data(), 0, 0, w * 4, src, 0, 0, w, h);
        WriteArgbToBitmap(dstWords.data(), 0, 0, w * 4, dst, 0, 0, w, h);
        uint8_t *p;
        int row;
        uintptr_t t = GetPlanePixels(alpha, &p, &row, 1);
        for (int y = 0; y < h; y++) std::memcpy(p + y * row, &alphaBytes[size_t(y) * w], w);
        ReleasePlanePixels(t);
        t = GetPlanePixels(pens, &p, &row, 1);
        for (int y = 0; y < h; y++) std::memcpy(p + y * row, &penBytes[size_t(y) * w], w);
        ReleasePlanePixels(t);
        t = GetPlanePixels(mask, &p, &row, 1);
        int maskRow = ((w + 31) / 32) * 4;
        for (int y = 0; y < h; y++) {
            // pixman's a1 is least significant bit first on little-endian hosts:
            // store ours so that both draw the same pixels.
            for (int b = 0; b < row && b < maskRow; b++) {
                uint8_t v = maskBits[size_t(y) * maskRow + b], r = 0;
                for (int k = 0; k < 8; k++) r |= ((v >> k) & 1) << (7 - k);
                p[y * row + b] = r;
            }
        }
        ReleasePlanePixels(t);
    }
};

std::map<std::pair<int, int>, Pictures *> AllPictures;
Pictures &Get(int w, int h) {
    auto &p = AllPictures[{w, h}];
    if (!p) p = new Pictures(w, h);
    return *p;
}

void Rate(benchmark::State &s, double pixelsPerIteration) {
    s.counters["MPix/s"] = benchmark::Counter(pixelsPerIteration / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}

// ---- Copy ---------------------------------------------------------------------
void BM_Copy_Ours(benchmark::State &s) {
    Pictures &p = Get(s.range(0), s.range(1));
    for (auto _ : s) CopyBitmapRect(p.src, 0, 0, p.dst, 0, 0, p.w, p.h);
    Rate(s, double(p.w) * p.h);
}
void BM_Copy_Memcpy(benchmark::State &s) {
    Pictures &p = Get(s.range(0), s.range(1));
    for (auto _ : s) {
        for (int y = 0; y < p.h; y++) std::memcpy(&p.dstWords[size_t(y) * p.w], &p.srcWords[size_t(y) * p.w], p.w * 4);
        benchmark::ClobberMemory();
    }
    Rate(s, double(p.w) * p.h);
}
void BM_Copy_Pixman(benchmark::State &s) {
    Pictures &p = Get(s.range(0), s.range(1));
    for (auto _ : s) pixman_image_composite32(PIXMAN_OP_SRC, p.pSrc, nullptr, p.pDst, 0, 0, 0, 0, 0, 0, p.w, p.h);
    Rate(s, double(p.w) * p.h);
}
void BM_Copy_SDL(benchmark::State &s) {
    Pictures &p = Get(s.range(0), s.range(1));
    SDL_SetSurfaceBlendMode(p.sSrc, SDL_BLENDMODE_NONE);
    for (auto _ : s) SDL_BlitSurface(p.sSrc, nullptr, p.sDst, nullptr);
    Rate(s, double(p.w) * p.h);
}

// ---- Fill ---------------------------------------------------------------------
void BM_Fill_Ours(benchmark::State &s) {
    Pictures &p = Get(s.range(0), s.range(1));
    for (auto _ : s) FillBitmapRect(p.dst, 0, 0, p.w, p.h, 0x336699);
    Rate(s, double(p.w) * p.h);
}
void BM_Fill_Memset(benchmark::State &s) {
    Pictures &p = Get(s.range(0), s.range(1));
    for (auto _ : s) {
        for (int y = 0; y < p.h; y++) std::memset(&p.dstWords[size_t(y) * p.w], 0x33, p.w * 4);
        benchmark::ClobberMemory();
    }
    Rate(s, double(p.w) * p.h);
}
void BM_Fill_Pixman(benchmark::State &s) {
    Pictures &p = Get(s.range(0), s.range(1));
    for (auto _ : s) pixman_fill(p.dstWords.data(), p.w, 32, 0, 0, p.w, p.h, 0x336699);
    Rate(s, double(p.w) * p.h);
}
void BM_Fill_SDL(benchmark::State &s) {
    Pictures &p = Get(s.range(0), s.range(1));
    for (auto _ : s) SDL_FillRect(p.sDst, nullptr, 0x336699);
    Rate(s, double(p.w) * p.h);
}

// ---- Blend through an 8-bit alpha plane -------------------------------------------
void BM_Blend_Ours(benchmark::State &s) {
    Pictures &p = Get(s.range(0), s.range(1));
    for (auto _ : s) BlendBitmapRect(p.src, 0, 0, p.dst, 0, 0, p.w, p.h, p.alpha);
    Rate(s, double(p.w) * p.h);
}
void BM_Blend_Pixman(benchmark::State &s) {
    Pictures &p = Get(s.range(0), s.range(1));
    for (auto _ : s) pixman_image_composite32(PIXMAN_OP_OVER, p.pSrc, p.pAlpha, p.pDst, 0, 0, 0, 0, 0, 0, p.w, p.h);
    Rate(s, double(p.w) * p.h);
}
void BM_Blend_SDL(benchmark::State &s) {
    Pictures &p = Get(s.range(0), s.range(1));
    for (auto _ : s) SDL_BlitSurface(p.sBlend, nullptr, p.sDst, nullptr);
    Rate(s, double(p.w) * p.h);
}

// ---- Solid colour through coverage ----------------------------------------------
void BM_Solid_Ours(benchmark::State &s) {
    Pictures &p = Get(s.range(0), s.range(1));
    for (auto _ : s) DrawColorThroughAlpha(p.alpha, 0, 0, p.dst, 0, 0, p.w, p.h, 0x336699, 1, nullptr, 255, nullptr);
    Rate(s, double(p.w) * p.h);
}
void BM_Solid_Pixman(benchmark::State &s) {
    Pictures &p = Get(s.range(0), s.range(1));
    for (auto _ : s) pixman_image_composite32(PIXMAN_OP_OVER, p.pSolid, p.pAlpha, p.pDst, 0, 0, 0, 0, 0, 0, p.w, p.h);
    Rate(s, double(p.w) * p.h);
}

// ---- Mask copy --------------------------------------------------------------------
void BM_Mask_Ours(benchmark::State &s) {
    Pictures &p = Get(s.range(0), s.range(1));
    for (auto _ : s) CopyBitmapRectMasked(p.src, 0, 0, p.dst, 0, 0, p.w, p.h, p.mask);
    Rate(s, double(p.w) * p.h);
}
void BM_Mask_Pixman(benchmark::State &s) {
    Pictures &p = Get(s.range(0), s.range(1));
    for (auto _ : s) pixman_image_composite32(PIXMAN_OP_OVER, p.pSrc, p.pMask, p.pDst, 0, 0, 0, 0, 0, 0, p.w, p.h);
    Rate(s, double(p.w) * p.h);
}
void BM_Mask_SDL(benchmark::State &s) {  // colour-keyed copy: SDL's transparent-pixel blit
    Pictures &p = Get(s.range(0), s.range(1));
    for (auto _ : s) SDL_BlitSurface(p.sKeyed, nullptr, p.sDst, nullptr);
    Rate(s, double(p.w) * p.h);
}

// ---- Palette (8-bit) to RGB -----------------------------------------------------
void BM_Palette_Ours(benchmark::State &s) {
    Pictures &p = Get(s.range(0), s.range(1));
    lvChunkyBlit b{p.pens, 0, 0, p.dst, 0, 0, p.w, p.h, p.palette, -1, nullptr, nullptr, nullptr, 0, 0};
    for (auto _ : s) BlitChunkyToRgb(&b);
    Rate(s, double(p.w) * p.h);
}
void BM_Palette_Pixman(benchmark::State &s) {
    Pictures &p = Get(s.range(0), s.range(1));
    for (auto _ : s) pixman_image_composite32(PIXMAN_OP_SRC, p.pPens, nullptr, p.pDst, 0, 0, 0, 0, 0, 0, p.w, p.h);
    Rate(s, double(p.w) * p.h);
}
void BM_Palette_SDL(benchmark::State &s) {
    Pictures &p = Get(s.range(0), s.range(1));
    for (auto _ : s) SDL_BlitSurface(p.sPens, nullptr, p.sDst, nullptr);
    Rate(s, double(p.w) * p.h);
}

// ---- 32x32 masked sprites: calls a second ---------------------------------------
constexpr int Sprite = 32;
void SpritePositions(int w, int h, int i, int *x, int *y) {
    *x = (i * 97) % (w - Sprite);
    *y = (i * 61) % (h - Sprite);
}
void BM_Sprite_Ours(benchmark::State &s) {
    Pictures &p = Get(s.range(0), s.range(1));
    int i = 0;
    for (auto _ : s) {
        int x, y;
        SpritePositions(p.w, p.h, i++, &x, &y);
        BlitImage(nullptr, p.src, 0, 0, p.dst, nullptr, nullptr, 0, x, y, Sprite, Sprite, p.w, p.h, p.w, p.h, 0x13,
                  p.mask, nullptr, nullptr, nullptr, -1, -1, -1, -1, nullptr, nullptr);
    }
    Rate(s, double(Sprite) * Sprite);
}
void BM_Sprite_Pixman(benchmark::State &s) {
    Pictures &p = Get(s.range(0), s.range(1));
    int i = 0;
    for (auto _ : s) {
        int x, y;
        SpritePositions(p.w, p.h, i++, &x, &y);
        pixman_image_composite32(PIXMAN_OP_OVER, p.pSrc, p.pMask, p.pDst, 0, 0, 0, 0, x, y, Sprite, Sprite);
    }
    Rate(s, double(Sprite) * Sprite);
}
void BM_Sprite_SDL(benchmark::State &s) {
    Pictures &p = Get(s.range(0), s.range(1));
    int i = 0;
    SDL_Rect from{0, 0, Sprite, Sprite};
    for (auto _ : s) {
        int x, y;
        SpritePositions(p.w, p.h, i++, &x, &y);
        SDL_Rect to{x, y, Sprite, Sprite};
        SDL_BlitSurface(p.sKeyed, &from, p.sDst, &to);
    }
    Rate(s, double(Sprite) * Sprite);
}

#define LV_SIZES ->Args({640, 480})->Args({1920, 1080})
BENCHMARK(BM_Copy_Ours) LV_SIZES;
BENCHMARK(BM_Copy_Memcpy) LV_SIZES;
BENCHMARK(BM_Copy_Pixman) LV_SIZES;
BENCHMARK(BM_Copy_SDL) LV_SIZES;
BENCHMARK(BM_Fill_Ours) LV_SIZES;
BENCHMARK(BM_Fill_Memset) LV_SIZES;
BENCHMARK(BM_Fill_Pixman) LV_SIZES;
BENCHMARK(BM_Fill_SDL) LV_SIZES;
BENCHMARK(BM_Blend_Ours) LV_SIZES;
BENCHMARK(BM_Blend_Pixman) LV_SIZES;
BENCHMARK(BM_Blend_SDL) LV_SIZES;
BENCHMARK(BM_Solid_Ours) LV_SIZES;
BENCHMARK(BM_Solid_Pixman) LV_SIZES;
BENCHMARK(BM_Mask_Ours) LV_SIZES;
BENCHMARK(BM_Mask_Pixman) LV_SIZES;
BENCHMARK(BM_Mask_SDL) LV_SIZES;
BENCHMARK(BM_Palette_Ours) LV_SIZES;
BENCHMARK(BM_Palette_Pixman) LV_SIZES;
BENCHMARK(BM_Palette_SDL) LV_SIZES;
BENCHMARK(BM_Sprite_Ours) LV_SIZES;
BENCHMARK(BM_Sprite_Pixman) LV_SIZES;
BENCHMARK(BM_Sprite_SDL) LV_SIZES;

// ---- Summary --------------------------------------------------------------------
// Collects every run's rate and prints one row per operation and size.
struct SummaryReporter : benchmark::ConsoleReporter {
    std::map<std::string, double> rate;  // "Copy_Ours/640/480" -> MPix/s
    void ReportRuns(const std::vector<Run> &runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run &r : runs) {
            auto it = r.counters.find("MPix/s");
            if (it != r.counters.end()) rate[r.benchmark_name().substr(3)] = it->second.value;
        }
    }
    double Get(const std::string &op, const char *who, const std::string &size) const {
        auto it = rate.find(op + "_" + who + "/" + size);
        return it == rate.end() ? 0 : it->second;
    }
    void PrintSummary() const {
        std::printf("\n%-9s %-10s %12s %12s %12s %10s %12s\n", "op", "size", "ours MP/s", "pixman MP/s", "SDL2 MP/s",
                    "ours/best", "ours/mem*");
        for (const char *op : {"Copy", "Fill", "Blend", "Solid", "Mask", "Palette", "Sprite"})
            for (const char *size : {"640/480", "1920/1080"}) {
                double ours = Get(op, "Ours", size), px = Get(op, "Pixman", size), sdl = Get(op, "SDL", size);
                if (ours <= 0) continue;  // filtered out of this run
                double best = px > sdl ? px : sdl;
                double mem = Get(op, std::string(op) == "Copy" ? "Memcpy" : "Memset", size);
                char memText[32] = "";
                if (mem > 0) std::snprintf(memText, sizeof memText, "%.2f", ours / mem);
                std::printf("%-9s %-10s %12.1f %12.1f %12.1f %10.2f %12s\n", op, size, ours, px, sdl,
                            best > 0 ? ours / best : 0.0, memText);
            }
        double sprite = Get("Sprite", "Ours", "640/480");
        if (sprite > 0)
            std::printf("BlitImage 32x32 masked sprites: %.0f calls/s (640x480 target)\n", sprite * 1e6 / (Sprite * Sprite));
    }
};

}  // namespace

int main(int argc, char **argv) {
    SDL_SetMainReady();
    CreateBitmapTargetDisplay();  // blits into bitmaps with no display open
    benchmark::Initialize(&argc, argv);
    SummaryReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintSummary();
    benchmark::Shutdown();
    return 0;
}

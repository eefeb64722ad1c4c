// layers_bench.cpp - refreshes a second of a display whose BGPic (1280 x 720) carries 200
// layers of 64 x 64 brushes: (a) the whole picture with alpha-channel brushes of varied
// alpha, (b) the union of one layer's old and new place after a 7-pixel move, (c) as (a)
// with opaque masked brushes. Ours: the raster engine's recomposition (background, then
// the layer pass) into the display's picture buffer, presentation left out. Peers in the
// same run on the same pixels: pixman (SRC of the background, OVER of 200 premultiplied
// images, clipped to the union for b) and SDL2's software renderer (blended textures).
// Everything each side needs is made before its timing. Prints ours / peer (goal >= 1).
// Depends on: lv_layers, pixman, SDL2. Run: build-bench/bin/layers_bench [seconds per row]
#include <SDL.h>
#include <pixman.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <vector>

#include "images/lvbrush.h"
#include "layers/lvlayer.h"
#include "raster/lvbitmap.h"
#include "raster/lvblit.h"
#include "raster/lvplanes.h"

namespace {

const int W = 1280, H = 720, S = 64, N = 200;

struct Item {
    int x, y;
    uint32_t colour;
    int alpha;  // 24..255
};

double Rate(double seconds, const std::function<void()> &job)
{
    job();  // warm
    int runs = 0;
    auto start = std::chrono::steady_clock::now();
    double elapsed = 0;
    while (elapsed < seconds) {
        job();
        runs++;
        elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    return runs / elapsed;
}

// The brush's pixels as ARGB (straight alpha), the same for every side.
std::vector<uint32_t> BrushArgb(const Item &it, bool masked)
{
    std::vector<uint32_t> p(S * S);
    for (int y = 0; y < S; y++)
        for (int x = 0; x < S; x++) {
            int dx = x - S / 2, dy = y - S / 2;
            bool inside = dx * dx + dy * dy < (S / 2) * (S / 2);
            int a = masked ? (inside ? 255 : 0) : (inside ? it.alpha : it.alpha / 3);
            p[y * S + x] = (uint32_t)a << 24 | it.colour;
        }
    return p;
}

struct Ours {
    lvBlitDisplay display{};
    lvBlitPicture picture{};
    lvBGPic *bgpic = nullptr;
    std::vector<lvLayer *> layers;

    void Make(const std::vector<Item> &items, bool masked)
    {
        lvObjectId pid = {1, nullptr};
        lvBitMapHandle *bg = AllocRgbBitmap(W, H, 0, nullptr);
        FillBitmapRect(bg, 0, 0, W, H, 0x204060);
        int code = NewBGPicRecord(&pid, 0, W, H, W, nullptr, bg, nullptr, -1, nullptr, nullptr, nullptr, 24, nullptr, nullptr,
                       nullptr, 0, nullptr, &bgpic);
        if (code) std::fprintf(stderr, "BGPic: %d\n", code);
        display.target.kind = OUTPUT_DISPLAY;
        display.layers = 1;
        display.background = {AllocRgbBitmap(W, H, 0, nullptr), nullptr};
        display.shown = {AllocRgbBitmap(W, H, 0, nullptr), nullptr};
        FillBitmapRect(display.background.rgb, 0, 0, W, H, 0x204060);
        picture.width = W, picture.height = H;
        picture.pair = {bg, nullptr};
        picture.owner = bgpic;
        display.picture = &picture;
        RasterState.currentDisplay = &display;
        for (size_t i = 0; i < items.size(); i++) {
            std::vector<uint32_t> argb = BrushArgb(items[i], masked);
            lvBitMapHandle *rgb = AllocRgbBitmap(S, S, 0, nullptr), *mask = nullptr, *alpha = nullptr;
            FillBitmapRect(rgb, 0, 0, S, S, items[i].colour);
            uint8_t *px;
            int row;
            if (masked) {
                mask = AllocMaskBitmap(rgb, S, S, 1, nullptr, 0);
                uintptr_t t = GetPlanePixels(mask, &px, &row, 1);
                for (int y = 0; y < S; y++)
                    for (int x = 0; x < S; x++)
                        if (argb[y * S + x] >> 24) px[y * row + x / 8] |= (uint8_t)(0x80 >> (x & 7));
                ReleasePlanePixels(t);
            } else {
                alpha = AllocAlphaBitmap(S, S, 1, nullptr, 0);
                uintptr_t t = GetPlanePixels(alpha, &px, &row, 1);
                for (int y = 0; y < S; y++)
                    for (int x = 0; x < S; x++) px[y * row + x] = (uint8_t)(argb[y * S + x] >> 24);
                ReleasePlanePixels(t);
            }
            lvObjectId id = {(int)i + 1, nullptr};
            NewBrushRecord(&id, 0, S, S, S, 0, nullptr, rgb, -1, mask, alpha, nullptr, 24, nullptr, nullptr, nullptr,
                           0, nullptr, nullptr);
            lvLayer *l = nullptr;
            code = AddImageLayerRecord(nullptr, bgpic, LAYER_BRUSH, id, 0, 0, items[i].x, items[i].y, S, S, nullptr,
                                nullptr, -1, NEWLAYER_NOREFRESH, &l);
            if (code) std::fprintf(stderr, "layer: %d\n", code);
            layers.push_back(l);
        }
    }
    void Refresh(int x, int y, int w, int h) { DrawBitmapToTarget(nullptr, &display, &picture, nullptr, x, y, w, h, 0); }
    void Free()
    {
        FreeLayerList(nullptr, bgpic, 0);
        FreeAllBrushes(nullptr);
        FreeAllBGPics();
        FreeBitmapHandle(display.background.rgb);
        FreeBitmapHandle(display.shown.rgb);
        RasterState.currentDisplay = nullptr;
    }
};

struct Pixman {
    std::vector<uint32_t> bgPixels, outPixels;
    std::vector<std::vector<uint32_t>> brushPixels;
    pixman_image_t *bg = nullptr, *out = nullptr;
    std::vector<pixman_image_t *> brushes;
    void Make(const std::vector<Item> &items, bool masked)
    {
        bgPixels.assign(W * H, 0xFF204060);
        outPixels.assign(W * H, 0);
        bg = pixman_image_create_bits(PIXMAN_x8r8g8b8, W, H, bgPixels.data(), W * 4);
        out = pixman_image_create_bits(PIXMAN_x8r8g8b8, W, H, outPixels.data(), W * 4);
        for (const Item &it : items) {
            std::vector<uint32_t> p = BrushArgb(it, masked);
            for (uint32_t &v : p) {  // premultiplied
                uint32_t a = v >> 24;
                uint32_t r = ((v >> 16) & 255) * a / 255, g = ((v >> 8) & 255) * a / 255, b = (v & 255) * a / 255;
                v = a << 24 | r << 16 | g << 8 | b;
            }
            brushPixels.push_back(std::move(p));
            brushes.push_back(pixman_image_create_bits(PIXMAN_a8r8g8b8, S, S, brushPixels.back().data(), S * 4));
        }
    }
    void Compose(const std::vector<Item> &items, int x, int y, int w, int h)
    {
        pixman_region32_t clip;
        pixman_region32_init_rect(&clip, x, y, w, h);
        pixman_image_set_clip_region32(out, &clip);
        pixman_image_composite32(PIXMAN_OP_SRC, bg, nullptr, out, x, y, 0, 0, x, y, w, h);
        for (size_t i = 0; i < items.size(); i++)
            pixman_image_composite32(PIXMAN_OP_OVER, brushes[i], nullptr, out, 0, 0, 0, 0, items[i].x, items[i].y, S,
                                     S);
        pixman_image_set_clip_region32(out, nullptr);
        pixman_region32_fini(&clip);
    }
    void Free()
    {
        for (pixman_image_t *b : brushes) pixman_image_unref(b);
        pixman_image_unref(bg);
        pixman_image_unref(out);
    }
};

struct Sdl {
    SDL_Surface *target = nullptr;
    SDL_Renderer *renderer = nullptr;
    SDL_Texture *bg = nullptr;
    std::vector<SDL_Texture *> brushes;
    void Make(const std::vector<Item> &items, bool masked)
    {
        target = SDL_CreateRGBSurfaceWithFormat(0, W, H, 32, SDL_PIXELFORMAT_XRGB8888);
        renderer = SDL_CreateSoftwareRenderer(target);
        SDL_Surface *b = SDL_CreateRGBSurfaceWithFormat(0, W, H, 32, SDL_PIXELFORMAT_XRGB8888);
        SDL_FillRect(b, nullptr, 0x204060);
        bg = SDL_CreateTextureFromSurface(renderer, b);
        SDL_SetTextureBlendMode(bg, SDL_BLENDMODE_NONE);
        SDL_FreeSurface(b);
        for (const Item &it : items) {
            std::vector<uint32_t> p = BrushArgb(it, masked);
            SDL_Surface *s = SDL_CreateRGBSurfaceWithFormatFrom(p.data(), S, S, 32, S * 4, SDL_PIXELFORMAT_ARGB8888);
            SDL_Texture *t = SDL_CreateTextureFromSurface(renderer, s);
            SDL_SetTextureBlendMode(t, SDL_BLENDMODE_BLEND);
            SDL_FreeSurface(s);
            brushes.push_back(t);
        }
    }
    void Compose(const std::vector<Item> &items, int x, int y, int w, int h)
    {
        SDL_Rect clip = {x, y, w, h};
        SDL_RenderSetClipRect(renderer, &clip);
        SDL_RenderCopy(renderer, bg, nullptr, nullptr);
        for (size_t i = 0; i < items.size(); i++) {
            SDL_Rect r = {items[i].x, items[i].y, S, S};
            SDL_RenderCopy(renderer, brushes[i], nullptr, &r);
        }
        SDL_RenderFlush(renderer);
    }
    void Free()
    {
        for (SDL_Texture *t : brushes) SDL_DestroyTexture(t);
        SDL_DestroyTexture(bg);
        SDL_DestroyRenderer(renderer);
        SDL_FreeSurface(target);
    }
};

}  // namespace

int main(int argc, char **argv)
{
    double seconds = argc > 1 ? std::atof(argv[1]) : 1.0;
    std::mt19937 rng(4711);
    std::vector<Item> items(N);
    for (Item &it : items) {
        it.x = rng() % (W - S), it.y = rng() % (H - S);
        it.colour = rng() & 0xFFFFFF;
        it.alpha = 24 + rng() % 232;
    }
    InstallLayerServices();
    std::printf("%-34s %12s %12s %12s %8s %8s\n", "row", "ours/s", "pixman/s", "sdl/s", "/pixman", "/sdl");
    for (int row = 0; row < 3; row++) {
        bool masked = row == 2;
        std::vector<Item> placed = items;
        Ours ours;
        Pixman px;
        Sdl sdl;
        ours.Make(placed, masked);
        px.Make(placed, masked);
        sdl.Make(placed, masked);
        int x = 0, y = 0, w = W, h = H;
        if (row == 1) {
            // One layer in the middle of the stack moves 7 pixels right: old and new place.
            Item &m = placed[N / 2];
            x = m.x, y = m.y, w = S + 7, h = S;
            m.x += 7;
            lvLayer *l = ours.layers[N / 2];
            l->graphics[0]->x += 7, l->graphics[0]->left += 7;
        }
        double a = Rate(seconds, [&] { ours.Refresh(x, y, w, h); });
        double b = Rate(seconds, [&] { px.Compose(placed, x, y, w, h); });
        double c = Rate(seconds, [&] { sdl.Compose(placed, x, y, w, h); });
        const char *names[] = {"(a) full refresh, alpha brushes", "(b) one layer moved 7 px", "(c) full, masked opaque"};
        std::printf("%-34s %12.1f %12.1f %12.1f %8.2f %8.2f\n", names[row], a, b, c, a / b, a / c);
        ours.Free();
        px.Free();
        sdl.Free();
    }
    RemoveLayerServices();
    return 0;
}

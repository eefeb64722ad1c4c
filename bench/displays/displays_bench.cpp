// Frames per second of the runtime's window presentation (platform/linux/window_sdl.cpp)
// beside plain SDL2 doing the same upload, copy and present, measured in one run under
// the offscreen driver with the software renderer: a whole 1280x720 picture 1:1 and
// autoscaled x1.5, and 100 presents of 32x32 rectangles per frame. Prints each figure and
// the ratio ours / SDL's (goal: at least 0.9).
#include "platform/lvplatform.h"
#include "platform/lvplatform_windows.h"

#include <SDL.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// Runs frame() for about a second; frames per second.
template <class F> double Rate(F frame)
{
    for (int i = 0; i < 3; i++) frame(i);  // warm up
    auto start = Clock::now();
    int frames = 0;
    double seconds = 0;
    do {
        frame(frames++);
        seconds = std::chrono::duration<double>(Clock::now() - start).count();
    } while (seconds < 1.0);
    return frames / seconds;
}

struct PlainSdl {
    SDL_Window *window = nullptr;
    SDL_Renderer *renderer = nullptr;
    SDL_Texture *texture = nullptr;
    std::vector<uint32_t> back;
    int pw, ph;
    SDL_Rect dest;
    PlainSdl(int ww, int wh, int pictureW, int pictureH) : pw(pictureW), ph(pictureH)
    {
        window = SDL_CreateWindow("peer", 0, 0, ww, wh, SDL_WINDOW_BORDERLESS);
        renderer = SDL_CreateRenderer(window, -1, SDL_RENDERER_SOFTWARE);
        texture = SDL_CreateTexture(renderer, SDL_PIXELFORMAT_ARGB8888, SDL_TEXTUREACCESS_STREAMING, pw, ph);
        back.assign((size_t)pw * ph, 0xFF000000u);
        dest = {(ww - pw * wh / ph) / 2 > 0 ? 0 : 0, 0, ww, wh};
    }
    ~PlainSdl()
    {
        SDL_DestroyTexture(texture);
        SDL_DestroyRenderer(renderer);
        SDL_DestroyWindow(window);
    }
    // The same work as a presentation of ours: copy into the back buffer with alpha set,
    // upload the rectangle, clear, copy the texture, present.
    void Present(const uint32_t *pixels, int x, int y, int w, int h)
    {
        for (int row = 0; row < h; row++) {
            const uint32_t *s = pixels + (size_t)(y + row) * pw + x;
            uint32_t *d = back.data() + (size_t)(y + row) * pw + x;
            for (int i = 0; i < w; i++) d[i] = s[i] | 0xFF000000u;
        }
        SDL_Rect r = {x, y, w, h};
        SDL_UpdateTexture(texture, &r, back.data() + (size_t)y * pw + x, pw * 4);
        SDL_SetRenderDrawColor(renderer, 0, 0, 0, 255);
        SDL_RenderClear(renderer);
        SDL_RenderCopy(renderer, texture, nullptr, &dest);
        SDL_RenderPresent(renderer);
    }
};

void Report(const char *what, double ours, double peer)
{
    std::printf("%-40s ours %9.1f/s  SDL %9.1f/s  ratio %.2f\n", what, ours, peer, peer > 0 ? ours / peer : 0);
}

}  // namespace

int main()
{
    setenv("SDL_VIDEODRIVER", "offscreen", 1);
    if (InitPlatform() != 0 || InitLoopSignals() != 0 || UseNativeWindows() != 0) return 1;
    const int W = 1280, H = 720;
    std::vector<uint32_t> picture((size_t)W * H);
    for (size_t i = 0; i < picture.size(); i++) picture[i] = (uint32_t)(i * 2654435761u);

    struct Case {
        const char *name;
        int windowW, windowH;
    } cases[] = {{"whole 1280x720 picture, 1:1", W, H}, {"whole picture autoscaled x1.5", W * 3 / 2, H * 3 / 2}};
    for (const Case &c : cases) {
        lvDisplayWindow *w = nullptr;
        WindowOps()->AllocDisplayWindow(&w);
        WindowOps()->SetWindowPresentation(w, W, H, 0, 0, c.windowW, c.windowH, 0);
        if (WindowOps()->OpenDisplayWindow(w, 0, 0, c.windowW, c.windowH, 1, 1, "bench") != 0) return 1;
        double ours = Rate([&](int) { WindowOps()->BlitToWindow(w, picture.data(), W, 0, 0, 0, 0, W, H); });
        WindowOps()->FreeDisplayWindow(w);
        PlainSdl peer(c.windowW, c.windowH, W, H);
        double sdl = Rate([&](int) { peer.Present(picture.data(), 0, 0, W, H); });
        Report(c.name, ours, sdl);
    }
    {
        lvDisplayWindow *w = nullptr;
        WindowOps()->AllocDisplayWindow(&w);
        if (WindowOps()->OpenDisplayWindow(w, 0, 0, W, H, 1, 1, "bench") != 0) return 1;
        auto frame = [&](int f, auto present) {
            for (int i = 0; i < 100; i++) {
                int x = ((f * 100 + i) * 37) % (W - 32), y = ((f * 100 + i) * 53) % (H - 32);
                present(x, y);
            }
        };
        double ours = Rate([&](int f) {
            frame(f, [&](int x, int y) { WindowOps()->BlitToWindow(w, picture.data(), W, x, y, x, y, 32, 32); });
        });
        WindowOps()->FreeDisplayWindow(w);
        PlainSdl peer(W, H, W, H);
        double sdl = Rate([&](int f) { frame(f, [&](int x, int y) { peer.Present(picture.data(), x, y, 32, 32); }); });
        Report("100 presents of 32x32 per frame", ours, sdl);
    }
    return 0;
}

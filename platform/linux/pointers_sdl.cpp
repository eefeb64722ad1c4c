// pointers_sdl.cpp - the display windows' pointers as SDL2 cursors.
//
// SDL_ShowCursor is global to the program, so hiding never uses it: a hidden window
// shows the blank pointer, a picture of one pixel with alpha 1, which every window
// system accepts as a cursor and nobody sees.
#include "platform/lvplatform_pointers.h"
#include "base/lverrors.h"
#include "platform/lvplatform.h"
#include "platform/lvplatform_events.h"
#include "platform/lvplatform_windows.h"
#include <SDL.h>
#include <cstring>

struct lvPointerImage {
    uint32_t *pixels;     // width * height ARGB words
    int width, height;
    int hotX, hotY;
    SDL_Cursor *cursor;   // made on the pumping thread at first use, or null
};

namespace {

enum { OP_SET = 0, OP_SHOW = 1, OP_HIDE = 2, OP_WARP = 3, OP_FREE = 4, OP_SHUTDOWN = 5, OP_VIEW = 6 };

uint32_t blankPixel = 0x01000000u;
lvPointerImage blankImage = {&blankPixel, 1, 1, 0, 0, nullptr};
SDL_Cursor *systemCursors[2];  // arrow, busy

int VideoRunning(void)
{
    return SDL_WasInit(SDL_INIT_VIDEO) != 0;
}

SDL_Cursor *CursorOf(lvPointerImage *image)
{
    if (image->cursor) return image->cursor;
    SDL_Surface *surface = SDL_CreateRGBSurfaceWithFormatFrom(image->pixels, image->width, image->height, 32,
                                                              image->width * 4, SDL_PIXELFORMAT_ARGB8888);
    if (!surface) return nullptr;
    image->cursor = SDL_CreateColorCursor(surface, image->hotX, image->hotY);
    SDL_FreeSurface(surface);
    return image->cursor;
}

SDL_Cursor *SystemCursor(int busy)
{
    SDL_Cursor *&c = systemCursors[busy ? 1 : 0];
    if (!c) c = SDL_CreateSystemCursor(busy ? SDL_SYSTEM_CURSOR_WAIT : SDL_SYSTEM_CURSOR_ARROW);
    return c;
}

SDL_Window *SdlWindowOf(lvDisplayWindow *w)
{
    if (!w || !w->open || !VideoRunning()) return nullptr;
    uint32_t id = NativeWindowId(w);
    return id ? SDL_GetWindowFromID(id) : nullptr;
}

void Apply(lvDisplayWindow *w, int force)
{
    SDL_Window *sdl = SdlWindowOf(w);
    if (!sdl) return;
    if (!force && !w->active && !w->pointerInside && SDL_GetMouseFocus() != sdl && SDL_GetKeyboardFocus() != sdl)
        return;
    SDL_Cursor *cursor = nullptr;
    if (w->pointerHidden) cursor = CursorOf(&blankImage);
    else if (w->pointerImage) cursor = CursorOf((lvPointerImage *)w->pointerImage);
    else cursor = SystemCursor(w->pointerKind != LV_POINTER_ARROW);
    if (cursor) SDL_SetCursor(cursor);
}

int32_t ServePointerRequest(const uintptr_t a[4])
{
    lvDisplayWindow *w = (lvDisplayWindow *)a[1];
    switch ((int)a[0]) {
    case OP_SET:
        w->pointerImage = (void *)a[2];
        w->pointerKind = (int)a[3];
        w->pointerHidden = 0;
        Apply(w, 0);
        return 0;
    case OP_SHOW:
    case OP_HIDE:
        w->pointerHidden = (int)a[0] == OP_HIDE;
        Apply(w, 0);
        return 0;
    case OP_WARP: {
        SDL_Window *sdl = SdlWindowOf(w);
        // Under a driver without a warp of its own SDL reports a motion instead.
        if (sdl) SDL_WarpMouseInWindow(sdl, (int)(intptr_t)a[2], (int)(intptr_t)a[3] + w->stripHeight);
        return 0;
    }
    case OP_FREE: {
        lvPointerImage *image = (lvPointerImage *)a[2];
        // Once video has stopped SDL has freed every cursor itself.
        if (image->cursor && VideoRunning()) SDL_FreeCursor(image->cursor);
        FreeMemory(image->pixels);
        FreeMemory(image);
        return 0;
    }
    case OP_SHUTDOWN:
        for (SDL_Cursor *&c : systemCursors) {
            if (c && VideoRunning()) SDL_FreeCursor(c);
            c = nullptr;
        }
        if (blankImage.cursor && VideoRunning()) SDL_FreeCursor(blankImage.cursor);
        blankImage.cursor = nullptr;
        return 0;
    case OP_VIEW: {
        lvPointerView *v = (lvPointerView *)a[2];
        lvPointerImage *image = w->pointerHidden ? &blankImage : (lvPointerImage *)w->pointerImage;
        std::memset(v, 0, sizeof *v);
        v->kind = w->pointerKind;
        v->hidden = w->pointerHidden;
        if (image) {
            v->width = image->width;
            v->height = image->height;
            v->hotX = image->hotX;
            v->hotY = image->hotY;
            v->firstPixel = image->pixels[0];
        }
        return 0;
    }
    default:
        return ERR_WRONGUSAGE;
    }
}

int32_t Call(int op, lvDisplayWindow *w, uintptr_t a, uintptr_t b)
{
    return CallOnMainThread(LV_REQUEST_POINTER, (uintptr_t)op, (uintptr_t)w, a, b);
}

}  // namespace

int InitPointers(void)
{
    SetMainThreadRequestHandler(LV_REQUEST_POINTER, ServePointerRequest);
    return 0;
}

void ShutdownPointers(void)
{
    Call(OP_SHUTDOWN, nullptr, 0, 0);
}

int CreatePointerImage(const uint32_t *pixels, int hotX, int hotY, int *width, int *height, lvPointerImage **out)
{
    *out = nullptr;
    int w = *width, h = *height;
    if (!pixels || w < 1 || h < 1 || w > LV_MAX_POINTER_SIDE || h > LV_MAX_POINTER_SIDE) return ERR_CREATEICON;
    lvPointerImage *image = (lvPointerImage *)AllocMemory(sizeof *image, 1);
    if (!image) return ERR_MEM;
    image->pixels = (uint32_t *)AllocMemory((size_t)w * (size_t)h * 4, 0);
    if (!image->pixels) {
        FreeMemory(image);
        return ERR_MEM;
    }
    std::memcpy(image->pixels, pixels, (size_t)w * (size_t)h * 4);
    image->width = w;
    image->height = h;
    image->hotX = hotX < 0 ? 0 : hotX >= w ? w - 1 : hotX;
    image->hotY = hotY < 0 ? 0 : hotY >= h ? h - 1 : hotY;
    *out = image;
    return 0;
}

void FreePointerImage(lvPointerImage *image)
{
    if (image) Call(OP_FREE, nullptr, (uintptr_t)image, 0);
}

void SetWindowPointer(lvDisplayWindow *window, lvPointerImage *image, int kind)
{
    if (window) Call(OP_SET, window, (uintptr_t)image, (uintptr_t)kind);
}

void ShowWindowPointer(lvDisplayWindow *window)
{
    if (window) Call(OP_SHOW, window, 0, 0);
}

void HideWindowPointer(lvDisplayWindow *window)
{
    if (window) Call(OP_HIDE, window, 0, 0);
}

void WarpPointer(lvDisplayWindow *window, int x, int y)
{
    if (window) Call(OP_WARP, window, (uintptr_t)(intptr_t)x, (uintptr_t)(intptr_t)y);
}

void ApplyWindowPointer(lvDisplayWindow *window)
{
    if (window) Apply(window, 1);
}

void ViewWindowPointer(lvDisplayWindow *window, lvPointerView *view)
{
    std::memset(view, 0, sizeof *view);
    if (window) Call(OP_VIEW, window, (uintptr_t)view, 0);
}

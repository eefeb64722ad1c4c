// clipboard.cpp - clipboard text and message boxes through SDL2, run on the pumping
// thread (SDL's video calls belong there); the video subsystem is taken at the first call, so that a run
// without windows can still use the clipboard.
// Depends on: SDL2, platform/linux/sdl_init (subsystem counting), mainloop requests.
// Limits: any thread; the work is forwarded.
#include "platform/lvplatform_clipboard.h"

#include "base/lverrors.h"
#include "platform/lvplatform.h"
#include "platform/lvplatform_events.h"
#include "platform/lvplatform_sdl.h"

#include <SDL2/SDL.h>
#include <atomic>
#include <cstring>


enum { LV_REQUEST_CLIPBOARD = 31 };
enum { CLIPOP_PUT = 0, CLIPOP_FETCH = 1, CLIPOP_PROBE = 2, CLIPOP_EMPTY = 3, CLIPOP_RELEASE = 4, CLIPOP_MESSAGEBOX = 5 };

// A message box to show (CLIPOP_MESSAGEBOX).
struct lvMessageBoxRequest {
    uint32_t windowId;
    const SDL_MessageBoxData *data;
    int *pressed;
};

static bool haveVideo = false;  // pumping thread only

static int32_t ServeClipboard(const uintptr_t *arguments)
{
    // The video subsystem stays ours once taken: on X11 the text we put lives only as
    // long as our connection does.
    if (arguments[0] == CLIPOP_MESSAGEBOX) {
        // Modal to the display's window when it has one; SDL runs its own loop meanwhile.
        const lvMessageBoxRequest *request = (const lvMessageBoxRequest *)arguments[1];
        SDL_MessageBoxData data = *request->data;
        data.window = request->windowId ? SDL_GetWindowFromID(request->windowId) : nullptr;
        // Windows kept in memory have no desktop to show a box on, and SDL's own X11
        // box cannot stand in for them: it needs SDL's X11 driver loaded.
        const char *driver = SDL_GetCurrentVideoDriver();
        if (driver && (!strcmp(driver, "offscreen") || !strcmp(driver, "dummy"))) return ERR_UNSUPPORTEDFEAT;
        return SDL_ShowMessageBox(&data, request->pressed) == 0 ? 0 : ERR_UNSUPPORTEDFEAT;
    }
    if (arguments[0] == CLIPOP_RELEASE) {
        if (haveVideo) ReleaseSdlSubsystems(SDL_INIT_VIDEO);
        haveVideo = false;
        return 0;
    }
    if (!haveVideo) {
        char error[128];
        if (!AcquireSdlSubsystems(SDL_INIT_VIDEO, error, sizeof(error))) return ERR_CLIPOPEN;
        haveVideo = true;
    }
    int32_t result = 0;
    switch (arguments[0]) {
    case CLIPOP_PUT:
        result = SDL_SetClipboardText((const char *)arguments[1]) == 0 ? 0 : ERR_CLIPOPEN;
        break;
    case CLIPOP_FETCH: {
        char **out = (char **)arguments[1];
        *out = nullptr;
        if (SDL_HasClipboardText()) {
            char *text = SDL_GetClipboardText();
            if (text && *text) {
                size_t length = strlen(text);
                *out = (char *)AllocMemory(length + 1, 0);
                if (*out) memcpy(*out, text, length + 1);
                else result = ERR_MEM;
            }
            SDL_free(text);
        }
        break;
    }
    case CLIPOP_PROBE:
        *(int *)arguments[1] = SDL_HasClipboardText() ? LV_CLIP_TEXT : LV_CLIP_EMPTY;
        break;
    case CLIPOP_EMPTY:
        result = SDL_SetClipboardText("") == 0 ? 0 : ERR_CLIPOPEN;
        break;
    default:
        result = ERR_WRONGUSAGE;
    }
    return result;
}

static int Forward(uintptr_t op, uintptr_t argument)
{
    static std::atomic<int> registered{0};
    if (!registered.exchange(1)) SetMainThreadRequestHandler(LV_REQUEST_CLIPBOARD, ServeClipboard);
    return CallOnMainThread(LV_REQUEST_CLIPBOARD, op, argument, 0, 0);
}

int PutClipboardText(const char *text)
{
    // A picture we offer on the X server would otherwise still be read before the text.
    WithdrawClipboardBytes();
    return Forward(CLIPOP_PUT, (uintptr_t)text);
}
int FetchClipboardText(char **text) { return Forward(CLIPOP_FETCH, (uintptr_t)text); }
int ProbeClipboardKind(int *kind) { return Forward(CLIPOP_PROBE, (uintptr_t)kind); }
int EmptyClipboardText(void)
{
    if (DesktopSelectionAvailable()) ClearDesktopClipboard();
    return Forward(CLIPOP_EMPTY, 0);
}

void ReleaseClipboard(void)
{
    ReleaseDesktopClipboard();
    Forward(CLIPOP_RELEASE, 0);
}

int ShowDesktopMessageBox(uint32_t windowId, const void *data, int *pressed)
{
    lvMessageBoxRequest request = {windowId, (const SDL_MessageBoxData *)data, pressed};
    return Forward(CLIPOP_MESSAGEBOX, (uintptr_t)&request);
}

static std::atomic<void (*)(void)> changeCallback{nullptr};

void SetClipboardChangeCallback(void (*callback)(void)) { changeCallback = callback; }

static std::atomic<bool> ownerWatch{false};

void NoteClipboardUpdate(void)
{
    if (ownerWatch) return;
    if (void (*callback)(void) = changeCallback.load()) callback();
}

void NoteClipboardOwnerChange(void)
{
    if (void (*callback)(void) = changeCallback.load()) callback();
}

int WatchClipboardOwners(int on)
{
    int code = WatchDesktopClipboard(on);
    ownerWatch = on && !code;
    return code;
}

// One reference count per SDL subsystem, so that windows, audio and joysticks can start
// and stop in any order without quitting each other's subsystems.
#include "platform/lvplatform_sdl.h"

#include <SDL.h>

#include <cstdio>

namespace {

struct lvSdlSubsystemCount {
    uint32_t flag;
    int count;
};

lvSdlSubsystemCount gSdlCounts[] = {
    {SDL_INIT_TIMER, 0},    {SDL_INIT_AUDIO, 0},          {SDL_INIT_VIDEO, 0},  {SDL_INIT_JOYSTICK, 0},
    {SDL_INIT_HAPTIC, 0},   {SDL_INIT_GAMECONTROLLER, 0}, {SDL_INIT_EVENTS, 0}, {SDL_INIT_SENSOR, 0},
};

bool AnySubsystemLeft() {
    for (const lvSdlSubsystemCount &c : gSdlCounts)
        if (c.count > 0) return true;
    return false;
}

}  // namespace

std::recursive_mutex &SdlInitLock() {
    static std::recursive_mutex lock;
    return lock;
}

bool AcquireSdlSubsystems(uint32_t sdlInitFlags, char *errorText, size_t errorSize) {
    std::lock_guard<std::recursive_mutex> guard(SdlInitLock());
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    uint32_t wanted = 0;
    for (const lvSdlSubsystemCount &c : gSdlCounts)
        if ((sdlInitFlags & c.flag) && c.count == 0) wanted |= c.flag;
    if (wanted != 0 && SDL_InitSubSystem(wanted) != 0) {
        if (errorText && errorSize) std::snprintf(errorText, errorSize, "%s", SDL_GetError());
        if (!AnySubsystemLeft()) SDL_Quit();
        return false;
    }
    for (lvSdlSubsystemCount &c : gSdlCounts)
        if (sdlInitFlags & c.flag) ++c.count;
    return true;
}

void ReleaseSdlSubsystems(uint32_t sdlInitFlags) {
    std::lock_guard<std::recursive_mutex> guard(SdlInitLock());
    uint32_t ending = 0;
    for (lvSdlSubsystemCount &c : gSdlCounts) {
        if (!(sdlInitFlags & c.flag) || c.count == 0) continue;
        if (--c.count == 0) ending |= c.flag;
    }
    if (ending != 0) SDL_QuitSubSystem(ending);
    if (!AnySubsystemLeft()) SDL_Quit();
}

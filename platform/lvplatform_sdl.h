// SDL2 is one library shared by the window, audio, joystick and clipboard services.
// Each service starts only the subsystems it needs, when it first needs them, and stops
// them when it closes; SDL itself is shut down when the last subsystem goes. SDL's own
// signal handlers are never installed: SIGINT and SIGTERM belong to the runtime's stop
// request.
#ifndef LVPLATFORM_SDL_H
#define LVPLATFORM_SDL_H

#include <cstdint>
#include <mutex>

// Starts the given SDL_INIT_* subsystems (reference-counted per subsystem). On failure
// returns false and copies SDL's error text into errorText (may be null).
// Nothing calls AcquireSdlSubsystems yet: kept for the audio and joystick layers, which start SDL through it.
bool AcquireSdlSubsystems(uint32_t sdlInitFlags, char *errorText = nullptr, size_t errorSize = 0);

// Drops one reference of each given subsystem; a subsystem whose count reaches zero is
// quit, and SDL_Quit runs when no subsystem is left.
// Nothing calls ReleaseSdlSubsystems yet: kept for the audio and joystick layers, which start SDL through it.
void ReleaseSdlSubsystems(uint32_t sdlInitFlags);

// Held around SDL start-up and shut-down; services that must order their own set-up
// against SDL's (Xlib thread initialisation, hints) take it too.
std::recursive_mutex &SdlInitLock();

#endif

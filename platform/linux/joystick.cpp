// joystick.cpp - game controllers over SDL2. A device with a game-controller mapping reads
// in the classic layout: x, y the left stick, z left trigger minus right trigger; the
// second set the right stick with z 0; buttons A, B, X, Y, LB, RB, Back, Start, LS, RS,
// Guide, then the rest; hat 0 the d-pad. Other devices read raw: axes 0-2 and 3-5,
// buttons and hats as SDL numbers them.
//
// Depends on: SDL2, sdl_init.cpp (AcquireSdlSubsystems), mainloop.cpp (CallOnMainThread).
// Limits: commands come from the script thread only.
#include "platform/lvplatform_joystick.h"
#include "platform/lvplatform_events.h"
#include "platform/lvplatform_sdl.h"

#include "base/lverrors.h"

#include <SDL.h>

#include <vector>

namespace {

struct lvJoystickPort {
    SDL_JoystickID instance;   // SDL's id of the device
    SDL_Joystick *joystick;    // open device
    SDL_GameController *pad;   // with a mapping, else null
};

struct lvJoystickState {
    bool started;
    std::vector<lvJoystickPort> ports;
};

lvJoystickState joysticks;

const uint32_t kSubsystems = SDL_INIT_JOYSTICK | SDL_INIT_GAMECONTROLLER;

// Opens the devices SDL lists that no port holds yet; a device that fails to open is
// skipped. Runs under SDL's joystick lock.
void AddNewDevices()
{
    int count = SDL_NumJoysticks();
    for (int i = 0; i < count; i++) {
        SDL_JoystickID id = SDL_JoystickGetDeviceInstanceID(i);
        bool known = false;
        for (const lvJoystickPort &p : joysticks.ports) known = known || p.instance == id;
        if (known || id < 0) continue;
        lvJoystickPort port = {id, nullptr, nullptr};
        if (SDL_IsGameController(i)) {
            port.pad = SDL_GameControllerOpen(i);
            if (port.pad) port.joystick = SDL_GameControllerGetJoystick(port.pad);
        }
        if (!port.joystick) port.joystick = SDL_JoystickOpen(i);
        if (port.joystick) joysticks.ports.push_back(port);
    }
}

int32_t StartOnPumpingThread(const uintptr_t *)
{
    std::lock_guard<std::recursive_mutex> guard(SdlInitLock());
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    SDL_SetHint(SDL_HINT_JOYSTICK_ALLOW_BACKGROUND_EVENTS, "1");
    if (!AcquireSdlSubsystems(kSubsystems)) return ERR_DINPUT;
    SDL_JoystickEventState(SDL_IGNORE);
    SDL_GameControllerEventState(SDL_IGNORE);
    if (SDL_NumJoysticks() < 0) {
        ReleaseSdlSubsystems(kSubsystems);
        return ERR_JOYSTICK;
    }
    SDL_LockJoysticks();
    AddNewDevices();
    SDL_UnlockJoysticks();
    joysticks.started = true;
    return 0;
}

int Start()
{
    if (joysticks.started) return 0;
    SetMainThreadRequestHandler(LV_REQUEST_START_JOYSTICKS, StartOnPumpingThread);
    return CallOnMainThread(LV_REQUEST_START_JOYSTICKS, 0, 0, 0, 0);
}

// -32768 .. 32767 as -1000 .. 1000, truncated.
int ScaleAxis(int v)
{
    if (v <= -32767) return -1000;
    return v * 1000 / 32767;
}

int HatAngle(Uint8 hat)
{
    switch (hat) {
    case SDL_HAT_UP: return 0;
    case SDL_HAT_RIGHTUP: return 4500;
    case SDL_HAT_RIGHT: return 9000;
    case SDL_HAT_RIGHTDOWN: return 13500;
    case SDL_HAT_DOWN: return 18000;
    case SDL_HAT_LEFTDOWN: return 22500;
    case SDL_HAT_LEFT: return 27000;
    case SDL_HAT_LEFTUP: return 31500;
    default: return -1;
    }
}

int Direction(int x, int y)
{
    if (x > 500) return y > 500 ? 3 : y < -500 ? 1 : 2;
    if (x < -500) return y > 500 ? 5 : y < -500 ? 7 : 6;
    return y > 500 ? 4 : y < -500 ? 0 : 8;
}

int RawAxis(SDL_Joystick *j, int axis)
{
    return axis < SDL_JoystickNumAxes(j) ? ScaleAxis(SDL_JoystickGetAxis(j, axis)) : 0;
}

// The axis of the classic layout: which 0 x, 1 y, 2 z.
int Axis(const lvJoystickPort &p, int which, int second)
{
    if (!p.pad) return RawAxis(p.joystick, which + (second ? 3 : 0));
    if (which == 2) {
        if (second) return 0;
        int lt = SDL_GameControllerGetAxis(p.pad, SDL_CONTROLLER_AXIS_TRIGGERLEFT);
        int rt = SDL_GameControllerGetAxis(p.pad, SDL_CONTROLLER_AXIS_TRIGGERRIGHT);
        return ScaleAxis(lt - rt < -32768 ? -32768 : lt - rt > 32767 ? 32767 : lt - rt);
    }
    SDL_GameControllerAxis axis = second ? (which ? SDL_CONTROLLER_AXIS_RIGHTY : SDL_CONTROLLER_AXIS_RIGHTX)
                                         : (which ? SDL_CONTROLLER_AXIS_LEFTY : SDL_CONTROLLER_AXIS_LEFTX);
    return ScaleAxis(SDL_GameControllerGetAxis(p.pad, axis));
}

uint32_t Buttons(const lvJoystickPort &p)
{
    uint32_t mask = 0;
    if (!p.pad) {
        int n = SDL_JoystickNumButtons(p.joystick);
        for (int i = 0; i < n && i < 32; i++)
            if (SDL_JoystickGetButton(p.joystick, i)) mask |= 1u << i;
        return mask;
    }
    static const SDL_GameControllerButton order[] = {
        SDL_CONTROLLER_BUTTON_A,         SDL_CONTROLLER_BUTTON_B,           SDL_CONTROLLER_BUTTON_X,
        SDL_CONTROLLER_BUTTON_Y,         SDL_CONTROLLER_BUTTON_LEFTSHOULDER, SDL_CONTROLLER_BUTTON_RIGHTSHOULDER,
        SDL_CONTROLLER_BUTTON_BACK,      SDL_CONTROLLER_BUTTON_START,       SDL_CONTROLLER_BUTTON_LEFTSTICK,
        SDL_CONTROLLER_BUTTON_RIGHTSTICK, SDL_CONTROLLER_BUTTON_GUIDE,      SDL_CONTROLLER_BUTTON_MISC1,
        SDL_CONTROLLER_BUTTON_PADDLE1,   SDL_CONTROLLER_BUTTON_PADDLE2,     SDL_CONTROLLER_BUTTON_PADDLE3,
        SDL_CONTROLLER_BUTTON_PADDLE4,   SDL_CONTROLLER_BUTTON_TOUCHPAD,
    };
    for (size_t i = 0; i < sizeof order / sizeof order[0]; i++)
        if (SDL_GameControllerGetButton(p.pad, order[i])) mask |= 1u << i;
    return mask;
}

int Hat(const lvJoystickPort &p, int index)
{
    if (index < 0 || index > 3) return -1;
    if (!p.pad) return index < SDL_JoystickNumHats(p.joystick) ? HatAngle(SDL_JoystickGetHat(p.joystick, index)) : -1;
    if (index != 0) return -1;
    Uint8 hat = 0;
    if (SDL_GameControllerGetButton(p.pad, SDL_CONTROLLER_BUTTON_DPAD_UP)) hat |= SDL_HAT_UP;
    if (SDL_GameControllerGetButton(p.pad, SDL_CONTROLLER_BUTTON_DPAD_RIGHT)) hat |= SDL_HAT_RIGHT;
    if (SDL_GameControllerGetButton(p.pad, SDL_CONTROLLER_BUTTON_DPAD_DOWN)) hat |= SDL_HAT_DOWN;
    if (SDL_GameControllerGetButton(p.pad, SDL_CONTROLLER_BUTTON_DPAD_LEFT)) hat |= SDL_HAT_LEFT;
    return HatAngle(hat);
}

int Unreadable(int what)
{
    switch (what) {
    case LV_JOY_DIRECTION: return 8;
    case LV_JOY_HAT: return -1;
    default: return 0;
    }
}

}  // namespace

int CountJoystickDevices(int *count)
{
    *count = 0;
    if (int code = Start()) return code;
    SDL_LockJoysticks();
    SDL_JoystickUpdate();
    AddNewDevices();
    *count = static_cast<int>(joysticks.ports.size());
    SDL_UnlockJoysticks();
    return 0;
}

int ReadJoystickState(int port, int what, int index, int *value)
{
    *value = Unreadable(what);
    if (int code = Start()) return code;
    SDL_LockJoysticks();
    SDL_JoystickUpdate();
    AddNewDevices();
    if (port < 0 || port >= static_cast<int>(joysticks.ports.size())) {
        SDL_UnlockJoysticks();
        return ERR_NOJOYATPORT;
    }
    const lvJoystickPort &p = joysticks.ports[static_cast<size_t>(port)];
    if (SDL_JoystickGetAttached(p.joystick)) {
        int second = index == 1;
        switch (what) {
        case LV_JOY_BUTTONS: *value = static_cast<int>(Buttons(p)); break;
        case LV_JOY_DIRECTION: *value = Direction(Axis(p, 0, second), Axis(p, 1, second)); break;
        case LV_JOY_X: *value = Axis(p, 0, second); break;
        case LV_JOY_Y: *value = Axis(p, 1, second); break;
        case LV_JOY_Z: *value = Axis(p, 2, second); break;
        case LV_JOY_HAT: *value = Hat(p, index); break;
        default: break;
        }
    }
    SDL_UnlockJoysticks();
    return 0;
}

void FreeJoysticks(void)
{
    if (!joysticks.started) return;
    std::lock_guard<std::recursive_mutex> guard(SdlInitLock());
    for (lvJoystickPort &p : joysticks.ports) {
        if (p.pad) SDL_GameControllerClose(p.pad);
        else SDL_JoystickClose(p.joystick);
    }
    joysticks.ports.clear();
    joysticks.started = false;
    ReleaseSdlSubsystems(kSubsystems);
}

int JoysticksStarted(void) { return joysticks.started ? 1 : 0; }

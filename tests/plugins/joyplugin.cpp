// joyplugin.cpp - the joystick test plug-in ("joyplug.lvp", tests/ui/joystick_plugin.cmake):
// a command library that attaches and moves SDL virtual joysticks inside the runtime, so
// that an applet reads them through the joystick library as it would read real devices.
//
// TestJoyStarted() tells whether SDL's joystick subsystem is up (the runtime starts it at
// the first joystick command, not before). TestJoyAttach(kind, axes, buttons, hats) attaches
// a device (kind 0 a flight stick with raw axes, 1 a game controller) and opens it, giving a
// handle of this plug-in. TestJoyAxis(handle, axis, value) sets an axis in thousandths
// (-1000..1000, scaled as the runtime scales back); TestJoyRawAxis sets the raw value.
// TestJoyButton(handle, button, down) and TestJoyHat(handle, hat, sdlHatBits) set the rest.
// TestJoyDetach(handle) closes and detaches the device.
//
// Dependencies: runtime/lvplugin.h and SDL2 (the runtime's own copy, already loaded).
#include "runtime/lvplugin.h"

#include <SDL.h>

#define LVE_EXPORT(name) extern "C" __attribute__((visibility("default"))) auto name

static const lvPluginApi *api;

namespace {

struct VirtualDevice {
    SDL_Joystick *joystick;
    SDL_JoystickID id;
};
VirtualDevice devices[8];

int IntArg(lvState *L, int index) { return static_cast<int>(api->scriptVM->CheckNumberArg(L, index)); }

// The handle's open device, or null.
SDL_Joystick *Device(lvState *L)
{
    int handle = IntArg(L, 1);
    if (handle < 0 || handle >= 8) return nullptr;
    return devices[handle].joystick;
}

// The raw value that the runtime's scaling (truncation toward zero) reads back as v/1000.
Sint16 Raw(int v)
{
    if (v == 0) return 0;
    long r = (v * 32767L + (v > 0 ? 999 : -999)) / 1000;
    return static_cast<Sint16>(r < -32768 ? -32768 : r > 32767 ? 32767 : r);
}

int PushResult(lvState *L, int value)
{
    api->scriptVM->PushNumber(L, value);
    return 1;
}

int CmdStarted(lvState *L) { return PushResult(L, SDL_WasInit(SDL_INIT_JOYSTICK) ? 1 : 0); }

int CmdAttach(lvState *L)
{
    int kind = IntArg(L, 1);
    int slot = 0;
    while (slot < 8 && devices[slot].joystick) slot++;
    if (slot == 8) return PushResult(L, -1);
    SDL_VirtualJoystickDesc desc;
    SDL_zero(desc);
    desc.version = SDL_VIRTUAL_JOYSTICK_DESC_VERSION;
    desc.type = static_cast<Uint16>(kind == 1 ? SDL_JOYSTICK_TYPE_GAMECONTROLLER : SDL_JOYSTICK_TYPE_FLIGHT_STICK);
    desc.naxes = static_cast<Uint16>(IntArg(L, 2));
    desc.nbuttons = static_cast<Uint16>(IntArg(L, 3));
    desc.nhats = static_cast<Uint16>(IntArg(L, 4));
    desc.name = kind == 1 ? "lv virtual pad" : "lv virtual stick";
    int index = SDL_JoystickAttachVirtualEx(&desc);
    if (index < 0) return PushResult(L, -2);
    SDL_Joystick *joystick = SDL_JoystickOpen(index);
    if (!joystick) {
        SDL_JoystickDetachVirtual(index);
        return PushResult(L, -3);
    }
    devices[slot] = {joystick, SDL_JoystickInstanceID(joystick)};
    return PushResult(L, slot);
}

int CmdAxis(lvState *L)
{
    SDL_Joystick *j = Device(L);
    return PushResult(L, j && SDL_JoystickSetVirtualAxis(j, IntArg(L, 2), Raw(IntArg(L, 3))) == 0 ? 1 : 0);
}

int CmdRawAxis(lvState *L)
{
    SDL_Joystick *j = Device(L);
    return PushResult(L, j && SDL_JoystickSetVirtualAxis(j, IntArg(L, 2), static_cast<Sint16>(IntArg(L, 3))) == 0);
}

int CmdButton(lvState *L)
{
    SDL_Joystick *j = Device(L);
    return PushResult(L, j && SDL_JoystickSetVirtualButton(j, IntArg(L, 2), static_cast<Uint8>(IntArg(L, 3))) == 0);
}

int CmdHat(lvState *L)
{
    SDL_Joystick *j = Device(L);
    return PushResult(L, j && SDL_JoystickSetVirtualHat(j, IntArg(L, 2), static_cast<Uint8>(IntArg(L, 3))) == 0);
}

int CmdDetach(lvState *L)
{
    int handle = IntArg(L, 1);
    if (handle < 0 || handle >= 8 || !devices[handle].joystick) return PushResult(L, 0);
    SDL_JoystickID id = devices[handle].id;
    SDL_JoystickClose(devices[handle].joystick);
    devices[handle] = {nullptr, 0};
    // Detaching goes by device index, which shifts as devices come and go.
    for (int i = 0; i < SDL_NumJoysticks(); i++)
        if (SDL_JoystickGetDeviceInstanceID(i) == id) return PushResult(L, SDL_JoystickDetachVirtual(i) == 0);
    return PushResult(L, 0);
}

const lvPluginCommand commands[] = {
    {"TestJoyStarted", CmdStarted}, {"TestJoyAttach", CmdAttach}, {"TestJoyAxis", CmdAxis},
    {"TestJoyRawAxis", CmdRawAxis}, {"TestJoyButton", CmdButton}, {"TestJoyHat", CmdHat},
    {"TestJoyDetach", CmdDetach},   {nullptr, nullptr}};
const lvPluginConstant constants[] = {{nullptr, nullptr, 0}};

}  // namespace

LVE_EXPORT(GetBaseTable)(void) -> const char * { return nullptr; }
LVE_EXPORT(GetCommands)(void) -> const lvPluginCommand * { return commands; }
LVE_EXPORT(GetConstants)(void) -> const lvPluginConstant * { return constants; }
LVE_EXPORT(InitLibrary)(lvState *) -> int { return 0; }

// The devices are closed here only while the subsystem is up: once the runtime has shut
// its joysticks down, SDL has closed them already.
LVE_EXPORT(FreeLibrary)(lvState *) -> void
{
    bool up = SDL_WasInit(SDL_INIT_JOYSTICK) != 0;
    for (VirtualDevice &d : devices) {
        if (up && d.joystick) SDL_JoystickClose(d.joystick);
        d = {nullptr, 0};
    }
}

LVE_EXPORT(InitPlugin)(lvPluginRecord *record, const lvPluginApi *table, const char *) -> int
{
    api = table;
    record->capabilities = PLUGINCAPS_LIBRARY;
    record->version = 1;
    record->revision = 0;
    record->name = "Joystick test plug-in";
    record->moduleName = "joyplug";
    record->author = "Lumivarra tests";
    record->description = "Virtual joysticks for the tests";
    record->copyright = "none";
    record->url = "";
    record->date = "11.12.2026";
    return 1;
}

LVE_EXPORT(ClosePlugin)(void) -> void {}

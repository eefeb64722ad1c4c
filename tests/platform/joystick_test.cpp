// Joysticks over SDL2, driven by SDL's virtual joysticks: a raw device (six axes, two
// hats, 40 buttons) and a game controller in the classic layout. One process-wide
// sequence, since SDL's joystick state is global: nothing starts before the first call,
// ports stay stable when devices come and go.
#include "platform/lvplatform_joystick.h"
#include "base/lverrors.h"

#include <SDL.h>
#include <gtest/gtest.h>

namespace {

int Read(int port, int what, int index = 0)
{
    int value = -12345;
    EXPECT_EQ(ReadJoystickState(port, what, index, &value), 0);
    return value;
}

// -1000 .. 1000 as the raw value that scales back to it (truncation toward zero).
Sint16 Raw(int v)
{
    if (v == 0) return 0;
    long r = (v * 32767L + (v > 0 ? 999 : -999)) / 1000;
    return static_cast<Sint16>(r);
}

int AttachVirtual(SDL_JoystickType type, int axes, int buttons, int hats)
{
    SDL_VirtualJoystickDesc desc;
    SDL_zero(desc);
    desc.version = SDL_VIRTUAL_JOYSTICK_DESC_VERSION;
    desc.type = static_cast<Uint16>(type);
    desc.naxes = static_cast<Uint16>(axes);
    desc.nbuttons = static_cast<Uint16>(buttons);
    desc.nhats = static_cast<Uint16>(hats);
    desc.name = "lv virtual";
    return SDL_JoystickAttachVirtualEx(&desc);
}

}  // namespace

TEST(Joysticks, VirtualDevicesInBothLayouts)
{
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    EXPECT_EQ(SDL_WasInit(SDL_INIT_JOYSTICK), 0u);
    EXPECT_EQ(JoysticksStarted(), 0) << "the subsystems started before the first call";
    int count = -1;
    ASSERT_EQ(CountJoystickDevices(&count), 0) << SDL_GetError();
    EXPECT_NE(SDL_WasInit(SDL_INIT_JOYSTICK), 0u);
    int base = count;

    // A raw device.
    int rawIndex = AttachVirtual(SDL_JOYSTICK_TYPE_FLIGHT_STICK, 6, 40, 2);
    ASSERT_GE(rawIndex, 0) << SDL_GetError();
    SDL_Joystick *raw = SDL_JoystickOpen(rawIndex);
    ASSERT_NE(raw, nullptr);
    ASSERT_EQ(CountJoystickDevices(&count), 0);
    ASSERT_EQ(count, base + 1);
    int port = base;
    int value = 0;
    EXPECT_EQ(ReadJoystickState(count, LV_JOY_X, 0, &value), ERR_NOJOYATPORT);

    struct {
        int x, y, direction;
    } sticks[] = {{500, -501, 0}, {501, 501, 3}, {600, -600, 1}, {500, 0, 8}, {-501, 0, 6}, {-600, 700, 5}, {0, 0, 8}};
    for (const auto &s : sticks) {
        SCOPED_TRACE(std::to_string(s.x) + "," + std::to_string(s.y));
        SDL_JoystickSetVirtualAxis(raw, 0, Raw(s.x));
        SDL_JoystickSetVirtualAxis(raw, 1, Raw(s.y));
        EXPECT_EQ(Read(port, LV_JOY_X), s.x);
        EXPECT_EQ(Read(port, LV_JOY_Y), s.y);
        EXPECT_EQ(Read(port, LV_JOY_DIRECTION), s.direction);
    }
    // The second set: axes 3 to 5; -32768 reads -1000.
    SDL_JoystickSetVirtualAxis(raw, 3, 16417);
    SDL_JoystickSetVirtualAxis(raw, 4, 16417);
    SDL_JoystickSetVirtualAxis(raw, 5, -32768);
    EXPECT_EQ(Read(port, LV_JOY_DIRECTION, 1), 3);
    EXPECT_EQ(Read(port, LV_JOY_Z, 1), -1000);
    EXPECT_EQ(Read(port, LV_JOY_Z, 0), 0);
    // Buttons 1, 3 and 32 in the mask; the 33rd and later are beyond it.
    for (int b : {0, 2, 31, 35}) SDL_JoystickSetVirtualButton(raw, b, 1);
    EXPECT_EQ(static_cast<uint32_t>(Read(port, LV_JOY_BUTTONS)), 0x80000005u);
    // The eight hat positions and the centre; hats beyond the device's read -1.
    const Uint8 hats[] = {SDL_HAT_UP, SDL_HAT_RIGHTUP, SDL_HAT_RIGHT, SDL_HAT_RIGHTDOWN, SDL_HAT_DOWN,
                          SDL_HAT_LEFTDOWN, SDL_HAT_LEFT, SDL_HAT_LEFTUP, SDL_HAT_CENTERED};
    for (int i = 0; i < 9; i++) {
        SDL_JoystickSetVirtualHat(raw, 1, hats[i]);
        EXPECT_EQ(Read(port, LV_JOY_HAT, 1), i < 8 ? i * 4500 : -1);
    }
    EXPECT_EQ(Read(port, LV_JOY_HAT, 2), -1);
    EXPECT_EQ(Read(port, LV_JOY_HAT, 4), -1);

    // A game controller reads in the classic layout.
    int padIndex = AttachVirtual(SDL_JOYSTICK_TYPE_GAMECONTROLLER, SDL_CONTROLLER_AXIS_MAX, SDL_CONTROLLER_BUTTON_MAX, 0);
    ASSERT_GE(padIndex, 0) << SDL_GetError();
    SDL_Joystick *pad = SDL_JoystickOpen(padIndex);
    ASSERT_NE(pad, nullptr);
    ASSERT_EQ(CountJoystickDevices(&count), 0);
    ASSERT_EQ(count, base + 2);
    int padPort = base + 1;
    ASSERT_TRUE(SDL_IsGameController(padIndex)) << "no mapping for the virtual controller";
    SDL_JoystickSetVirtualAxis(pad, SDL_CONTROLLER_AXIS_LEFTX, Raw(600));
    SDL_JoystickSetVirtualAxis(pad, SDL_CONTROLLER_AXIS_LEFTY, Raw(-600));
    SDL_JoystickSetVirtualAxis(pad, SDL_CONTROLLER_AXIS_RIGHTX, Raw(-700));
    // The virtual device's trigger axes span the full range: -32768 is released.
    SDL_JoystickSetVirtualAxis(pad, SDL_CONTROLLER_AXIS_TRIGGERLEFT, 32767);
    SDL_JoystickSetVirtualAxis(pad, SDL_CONTROLLER_AXIS_TRIGGERRIGHT, -32768);
    EXPECT_EQ(Read(padPort, LV_JOY_DIRECTION), 1);
    EXPECT_EQ(Read(padPort, LV_JOY_Z), 1000);
    EXPECT_EQ(Read(padPort, LV_JOY_X, 1), -700);
    EXPECT_EQ(Read(padPort, LV_JOY_DIRECTION, 1), 6);
    EXPECT_EQ(Read(padPort, LV_JOY_Z, 1), 0);
    SDL_JoystickSetVirtualAxis(pad, SDL_CONTROLLER_AXIS_TRIGGERRIGHT, 32767);
    EXPECT_EQ(Read(padPort, LV_JOY_Z), 0);
    // A, Y, Back and Guide: bits 0, 3, 6 and 10.
    for (int b : {SDL_CONTROLLER_BUTTON_A, SDL_CONTROLLER_BUTTON_Y, SDL_CONTROLLER_BUTTON_BACK,
                  SDL_CONTROLLER_BUTTON_GUIDE})
        SDL_JoystickSetVirtualButton(pad, b, 1);
    EXPECT_EQ(Read(padPort, LV_JOY_BUTTONS), (1 << 0) | (1 << 3) | (1 << 6) | (1 << 10));
    // The d-pad is hat 0.
    SDL_JoystickSetVirtualButton(pad, SDL_CONTROLLER_BUTTON_DPAD_DOWN, 1);
    SDL_JoystickSetVirtualButton(pad, SDL_CONTROLLER_BUTTON_DPAD_LEFT, 1);
    EXPECT_EQ(Read(padPort, LV_JOY_HAT, 0), 22500);
    EXPECT_EQ(Read(padPort, LV_JOY_HAT, 1), -1);

    // A removed device keeps its port and reads as unreadable; a new one takes a new port.
    SDL_JoystickClose(raw);
    ASSERT_EQ(SDL_JoystickDetachVirtual(rawIndex), 0);
    ASSERT_EQ(CountJoystickDevices(&count), 0);
    EXPECT_EQ(count, base + 2);
    EXPECT_EQ(Read(port, LV_JOY_DIRECTION), 8);
    EXPECT_EQ(Read(port, LV_JOY_X), 0);
    EXPECT_EQ(Read(port, LV_JOY_HAT), -1);
    EXPECT_EQ(Read(port, LV_JOY_BUTTONS), 0);
    EXPECT_EQ(Read(padPort, LV_JOY_Z), 0) << "the controller moved to another port";
    int again = AttachVirtual(SDL_JOYSTICK_TYPE_FLIGHT_STICK, 2, 1, 0);
    ASSERT_GE(again, 0);
    ASSERT_EQ(CountJoystickDevices(&count), 0);
    EXPECT_EQ(count, base + 3);

    SDL_JoystickClose(pad);
    FreeJoysticks();
    EXPECT_EQ(JoysticksStarted(), 0);
    EXPECT_EQ(SDL_WasInit(SDL_INIT_JOYSTICK | SDL_INIT_GAMECONTROLLER), 0u) << "the subsystems stayed up";
}

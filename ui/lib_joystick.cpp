// lib_joystick.cpp - the joystick library's commands: each reads one value of one
// controller through the platform's joystick service; no objects, no events.
// Depends on: platform/lvplatform_joystick.h, runtime/cmdsupport.h.
// Limits: script thread only.
#include "ui/lib_joystick.h"

#include "base/lverrors.h"
#include "platform/lvplatform_joystick.h"
#include "runtime/cmdsupport.h"
#include "vm/lvvm.h"

#include <climits>

static int IntArg(lvState *L, int index, int fallback)
{
    if (GetStackTop(L) < index || GetValueType(L, index) == LV_TNIL) return fallback;
    int64_t v = NumberToInt64(CheckNumberArg(L, index));
    return v < INT_MIN ? INT_MIN : v > INT_MAX ? INT_MAX : static_cast<int>(v);
}

static int PushState(lvState *L, int port, int what, int index)
{
    int value = 0;
    if (int code = ReadJoystickState(port, what, index, &value)) return code;
    PushNumber(L, value);
    return 1;
}

static int CmdCountJoysticks(lvState *L)
{
    CheckArgCount(L, 0, 0, 0, 0);
    int count = 0;
    if (int code = CountJoystickDevices(&count)) return code;
    PushNumber(L, count);
    return 1;
}

// The table is checked and has no use on this platform.
static int CmdConfigureJoystick(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    CheckTableArg(L, 1);
    return 0;
}

// JoyDir and the axes: port[, second stick].
static int ReadStick(lvState *L, int what)
{
    CheckArgCount(L, 1, 2, 0, 0);
    int port = IntArg(L, 1, 0);
    int second = IntArg(L, 2, 0) == 1 ? 1 : 0;
    return PushState(L, port, what, second);
}

static int CmdJoyDir(lvState *L) { return ReadStick(L, LV_JOY_DIRECTION); }
static int CmdJoyAxisX(lvState *L) { return ReadStick(L, LV_JOY_X); }
static int CmdJoyAxisY(lvState *L) { return ReadStick(L, LV_JOY_Y); }
static int CmdJoyAxisZ(lvState *L) { return ReadStick(L, LV_JOY_Z); }

static int CmdJoyHat(lvState *L)
{
    CheckArgCount(L, 1, 2, 0, 0);
    int port = IntArg(L, 1, 0);
    int hat = IntArg(L, 2, 0);
    return PushState(L, port, LV_JOY_HAT, hat < 0 || hat > 3 ? 4 : hat);
}

// JoyFire and JoyButton: port[, button 1..32, or 0 for the whole mask].
static int CmdJoyButton(lvState *L)
{
    CheckArgCount(L, 1, 2, 0, 0);
    int port = IntArg(L, 1, 0);
    int button = IntArg(L, 2, 1);
    if (button < 0 || button > 32) return ERR_WRONGUSAGE;
    int mask = 0;
    if (int code = ReadJoystickState(port, LV_JOY_BUTTONS, 0, &mask)) return code;
    uint32_t bits = static_cast<uint32_t>(mask);
    PushNumber(L, button == 0 ? static_cast<double>(bits) : (bits >> (button - 1)) & 1u);
    return 1;
}

static const lvConstantEntry kJoystickConstants[] = {
    {"JOYUP", nullptr, 0},       {"JOYUPRIGHT", nullptr, 1}, {"JOYRIGHT", nullptr, 2},
    {"JOYDOWNRIGHT", nullptr, 3}, {"JOYDOWN", nullptr, 4},   {"JOYDOWNLEFT", nullptr, 5},
    {"JOYLEFT", nullptr, 6},     {"JOYUPLEFT", nullptr, 7},  {"JOYNODIR", nullptr, 8},
    {nullptr, nullptr, 0},
};

const lvConstantEntry *GetJoystickConstants(void) { return kJoystickConstants; }

static const lvCommandEntry kJoystickCommands[] = {
    {"CountJoysticks", CmdCountJoysticks},
    {"ConfigureJoystick", CmdConfigureJoystick},
    {"JoyDir", CmdJoyDir},
    {"JoyAxisX", CmdJoyAxisX},
    {"JoyAxisY", CmdJoyAxisY},
    {"JoyAxisZ", CmdJoyAxisZ},
    {"JoyHat", CmdJoyHat},
    {"JoyFire", CmdJoyButton},
    {"JoyButton", CmdJoyButton},
    {nullptr, nullptr},
};

int OpenJoystickLibrary(lvState *L) { return RegisterCommandTable(L, kJoystickCommands, "joystick"); }

void CloseJoystickLibrary(lvState *L, int full)
{
    (void)L;
    (void)full;
    FreeJoysticks();
}

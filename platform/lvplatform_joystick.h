// lvplatform_joystick.h - game controllers over SDL2's joystick and game-controller
// subsystems, polled by port number.
//
// The subsystems start at the first call (on the pumping thread, with SDL's signal
// handlers off, background events allowed and SDL events ignored); reads run on the
// script thread under SDL's joystick lock. Ports follow SDL's order at the first call;
// devices attached later take new ports; a removed device keeps its port and reads as
// unreadable (direction 8, axes 0, hat -1, buttons 0).
#ifndef LVPLATFORM_JOYSTICK_H
#define LVPLATFORM_JOYSTICK_H

// What ReadJoystickState reads.
enum {
    LV_JOY_BUTTONS = 0,    // 32-bit mask, bit n-1 for button n
    LV_JOY_DIRECTION = 1,  // 0 up .. 7 up-left, 8 none
    LV_JOY_X = 2,          // -1000 .. 1000
    LV_JOY_Y = 3,
    LV_JOY_Z = 4,
    LV_JOY_HAT = 5,        // hundredths of a degree clockwise from up, -1 centred
};

// The number of ports. 0, 1384 (the subsystems did not start) or 1385 (enumeration).
int CountJoystickDevices(int *count);
// One value of the controller at port: what as above; index 1 reads the second stick for
// the direction and the axes, and selects the hat 0 to 3 for LV_JOY_HAT. 0, 1405 (no such
// port), or the start errors.
int ReadJoystickState(int port, int what, int index, int *value);
// Closes the devices and quits only the joystick subsystems.
void FreeJoysticks(void);
// Whether the subsystems were started (tests).
int JoysticksStarted(void);

// The request code of the start on the pumping thread.
enum { LV_REQUEST_START_JOYSTICKS = 30 };

#endif

// lib_joystick.h - the joystick library's row and close step.
#pragma once

struct lvState;
struct lvConstantEntry;

int OpenJoystickLibrary(lvState *L);
const lvConstantEntry *GetJoystickConstants(void);
// The close step: closes the devices and quits the joystick subsystems.
void CloseJoystickLibrary(lvState *L, int full);

// lib_serial.h - the serial library as start-up opens it: its commands over the serial
// engine (comm/serial.h), its constants and its shut-down step.
#pragma once

struct lvState;
struct lvCommandEntry;
struct lvConstantEntry;

// Opens the library: the engine (object type 60 "Serial I/O", user data released
// through the machine's registry) and the command table as globals. 0 or ERR_MEM.
int OpenSerialCommands(lvState *L);
// Shut-down step: every port still open is flushed, restored and closed.
void CloseSerialCommands(lvState *L, int full);
// The command table (ended by a row of nullptr).
const lvCommandEntry *GetSerialCommands(void);
// The library's constants (SERIAL, BAUD_..., RTS_ON; ended by a row of nullptr).
const lvConstantEntry *GetSerialConstants(void);

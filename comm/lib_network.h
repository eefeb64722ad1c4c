// lib_network.h - the network library as start-up opens it: its commands over the network
// engine (comm/network.h), its constants and its shut-down step.
#pragma once

struct lvState;
struct lvCommandEntry;
struct lvConstantEntry;

// Opens the library: the engine (object types 55, 54, 56, user data released through the
// machine's registry, the runtime's event poll and quit flag in its waits) and the
// command table as globals. 0 or ERR_MEM.
int OpenNetworkCommands(lvState *L);
// Shut-down step: every connection, server and UDP object is closed.
void CloseNetworkCommands(lvState *L, int full);
// The command table (ended by a row of nullptr).
const lvCommandEntry *GetNetworkCommands(void);
// The library's constants (ended by a row of nullptr).
const lvConstantEntry *GetNetworkConstants(void);

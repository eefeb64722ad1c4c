// ports.h - message ports and deferred calls of the event library (ports.cpp).
#pragma once
#include <cstdint>
#include <string>
#include <vector>

struct lvState;
struct lvCommandEntry;

// The command followed by each argument in double quotes after a blank.
std::string BuildPortMessage(const char *command, const char *const *arguments, int count);
// CreatePort's engine: ERR_WRONGUSAGE for 128 bytes or more; adapter or platform.
int CreatePortNamed(const char *name);
// SendMessage's engine after the command check.
int SendPortText(const char *port, const std::string &text);
// Frees the port at the event library's close.
void FreeProgramPort(lvState *L);
// Posts a deferred call; on failure the references are released and ERR_MEM answered.
int PostDeferredCall(lvState *L, int32_t function, int32_t userData);

extern const lvCommandEntry PortCommands[];

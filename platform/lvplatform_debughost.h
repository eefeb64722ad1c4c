// lvplatform_debughost.h - the per-user socket folder and the debug channel's host side:
// what start-up asks of a "::hwnd" debug device, and what tests of the protocol use.
#ifndef LVPLATFORM_DEBUGHOST_H
#define LVPLATFORM_DEBUGHOST_H

#include <cstddef>

// The folder of this user's sockets and lock files: $XDG_RUNTIME_DIR/lumivarra when that
// variable names a folder of ours, else /tmp/lumivarra-<uid>. Created with mode 0700 when
// missing; refused (0) when it exists but is not a real folder owned by this user and
// closed to others. 1 with the path in buffer.
int GetUserSocketFolder(char *buffer, size_t size);

// Non-zero while the debug channel sends to a connected host.
int DebugHostConnected(void);

// The bytes of the next piece sent to a host: at most 2047, ending at a whole UTF-8
// character.
size_t DebugPieceLength(const char *text, size_t length);

#endif

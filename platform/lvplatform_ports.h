// lvplatform_ports.h - named message ports between running programs.
//
// One AF_UNIX stream socket per port in $XDG_RUNTIME_DIR/lumivarra/ports (else a 0700
// folder /tmp/lumivarra-<uid> that must belong to the user), named by the SHA-1 of the
// port name. A lock file held with flock decides who owns a name, so two programs
// claiming one name cannot both win, and the name of a program that died is free again.
// Wire: tag 0xAF1609AF, 32-bit size (host order), then the port name, NUL, the message
// text, NUL (at most 16 MiB); the receiver answers one byte: 1 taken, 0 refused. A
// listener thread checks each message and posts it as system event 14 with the block
// {name NUL text NUL} as data2; the probe text "__TESTPORT" is answered, never posted.
#pragma once
#include <cstddef>
#include <cstdint>

#define LV_PORT_TAG 0xAF1609AFu
#define LV_PORT_MAXDATA (16u * 1024u * 1024u)
#define LV_PORT_SEND_TIMEOUT_MS 5000

// 0, ERR_MEM (name of more than 199 bytes), ERR_PORTNOTAVAIL (name as the message's
// argument), ERR_CREATEPORT (the folder or socket could not be made).
int CreateMessagePort(const char *name);
// 0, ERR_WRONGUSAGE (this program's own port), ERR_MEM, ERR_FINDPORT (nobody took it
// within the bound; the name as the message's argument), ERR_USERABORT (the stop check
// said yes while waiting; seen within a tenth of a second).
int SendPortMessage(const char *name, const char *text);
// The check a waiting send polls to end early (null: none).
void SetPortStopCheck(int (*stopRequested)(void));
// Closes this program's port (no-op without one).
void FreeMessagePort(void);
// The folder of the sockets ("" when none could be made).
const char *MessagePortFolder(void);
// The file name (without folder) of a port name: 40 hex digits of its SHA-1.
void PortFileStem(const char *name, char out[41]);
// The listener's check of one received data block (the bytes after the 8-byte header):
// 0 refused (not two zero-terminated texts filling the block, or another port's name),
// 1 a message to post, 2 the probe (answered, not posted).
int CheckPortData(const char *data, size_t size, const char *ownName);
// Tests: the send bound in ms (0 restores the default).
void SetPortSendTimeout(int milliseconds);

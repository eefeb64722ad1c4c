// serial.h - the serial port engine: port objects, their list, opening and
// closing, reads and writes with time-outs, queues and line settings.
//
// The script commands of the "serial" library are thin layers over these
// functions: each reads its arguments, calls one function here and pushes the
// results, or returns the error code that the function gave. Error codes are
// the runtime's (base/lverrors.h); a failing function has already filled the
// message arguments ("%d" with the number for ERR_FINDSERIAL, "%s" with the name
// for ERR_OPENSERIAL).
//
// Depends on: platform/lvplatform.h (ports, allocator), runtime/objects.h
// (object headers, the type registry), runtime/errors.h (message arguments).
// Limits: script thread only; the port list has no lock. Nothing here starts a
// thread or raises events: scripts poll.
#pragma once
#include <cstddef>
#include <cstdint>

#include "platform/lvplatform.h"
#include "runtime/objects.h"

// ---- Records -------------------------------------------------------------------------

// Object type number of serial ports (the script constant SERIAL) and its plural name.
enum { LV_SERIAL_OBJECT_TYPE = 60 };
#define LV_SERIAL_TYPE_NAME "Serial I/O"

// One open port, an object node of the library's list.
struct lvSerialPort {
    lvObjectHeader header;  // type 60, identifier, user data, link to the next port
    lvComPort *port;        // the platform's port record, owned; open while the node is listed
};

// The settings an open asks for: codes as the scripts give them, not checked here
// (a code the line cannot take is skipped by the open).
struct lvSerialOptions {
    int32_t baudCode;         // "baudrate", default BAUD_9600 (3)
    int32_t dataBitsCode;     // "databits", default DATA_8 (3)
    int32_t parityCode;       // "parity", default PARITY_NONE
    int32_t stopBitsCode;     // "stopbits", default STOP_1
    int32_t flowControlCode;  // "flowcontrol", default FLOW_OFF
    int32_t dtrCode;          // "dtr", default DTR_OFF
    int32_t rtsCode;          // "rts", default RTS_OFF
};

// The settings that have setter and getter commands.
enum lvSerialSetting {
    LV_SERIAL_BAUD = 0,      // SetBaudRate / GetBaudRate
    LV_SERIAL_DATABITS = 1,  // SetDataBits / GetDataBits
    LV_SERIAL_PARITY = 2,    // SetParity / GetParity
    LV_SERIAL_STOPBITS = 3,  // SetStopBits / GetStopBits
    LV_SERIAL_FLOW = 4,      // SetFlowControl / GetFlowControl
    LV_SERIAL_DTR = 5,       // SetDTR / GetDTR
    LV_SERIAL_RTS = 6,       // SetRTS / GetRTS
};

// What a read gives back.
struct lvSerialRead {
    char *data;     // the bytes read, from AllocMemory (FreeMemory it); never null after success
    int bytesRead;  // how many, 0 or more
    int timedOut;   // 1 when a time-out was given and nothing came, else 0
};

// One row of the library's constants table.
struct lvSerialConstant {
    const char *name;  // script name, upper case
    int value;         // its value
};

// The constants table in the library's order (SERIAL, BAUD_..., DATA_..., PARITY_...,
// STOP_..., FLOW_..., DTR_..., RTS_...).
extern const lvSerialConstant lvSerialConstants[];
extern const int lvSerialConstantCount;

// ---- Library -------------------------------------------------------------------------

// Registers object type 60 "Serial I/O" over the port list (no attribute callback).
// refOps releases the script values that ports carry as user data; it must stay
// valid until FreeSerialPorts (nullptr: ports carry none). 0 or ERR_MEM.
int OpenSerialLibrary(const lvRefOps *refOps);
// Shut-down: every port in list order is flushed (bounded), its line restored and
// closed, its user data released and its node freed. The list is then empty.
void FreeSerialPorts(void);
// The first port of the list (then header.next), nullptr when none is open.
lvSerialPort *FirstSerialPort(void);

// ---- Ports ---------------------------------------------------------------------------

// The default settings.
void InitSerialOptions(lvSerialOptions *options);
// The keys of OpenSerialPort's options table, in field order.
enum { LV_SERIAL_OPTION_COUNT = 7 };
extern const char *const lvSerialOptionKeys[LV_SERIAL_OPTION_COUNT];
// Stores value under the option of key ("baudrate", "databits", "parity", "stopbits",
// "flowcontrol", "dtr", "rts"; exact lower case). false (options unchanged) for another key.
bool SetSerialOption(lvSerialOptions *options, const char *key, int32_t value);

// Opens a port by its whole name (the record shows the first 30 bytes; a name no
// device path can hold is refused) with the options (nullptr: defaults).
// automatic: the port gets a handle (header.handle, GetObjectIdOf) instead of the
// number. A number in use closes its port first, so a failed open still leaves the
// number free. The record's codes afterwards tell what the line really has.
// 0 with *out, ERR_INITSERIAL, ERR_OPENSERIAL (name in "%s"), ERR_MEM.
int OpenSerialPort(int number, bool automatic, const char *name, const lvSerialOptions *options,
                   lvSerialPort **out);
// The port of an identifier. 0, ERR_FINDSERIAL (number in "%d") or ERR_FINDARRAY for a handle.
int FindSerialPort(lvObjectId id, lvSerialPort **out);
// Closes a port and frees its node. 0 or the errors of FindSerialPort.
int CloseSerialPort(lvObjectId id);
// 1 while the port's device is open.
int IsSerialPortOpen(const lvSerialPort *port);

// Reads up to count bytes: what is waiting, else the first bytes to come within
// timeout milliseconds (0: without limit). 0 with *result (the caller frees
// result->data), lookup errors, ERR_WRONGUSAGE (count < 1), ERR_MEM, ERR_SERIALIO,
// ERR_USERABORT when the stop request ended the wait (SetComStopCheck).
int ReadSerialData(lvObjectId id, int count, uint32_t timeout, lvSerialRead *result);
// Writes the bytes; timeout 0 uses the port's own write time-out (none unless set).
// A write cut short by the time-out is no error: *bytesWritten tells what went out.
// 0, ERR_WRONGUSAGE (empty data, checked before the look-up), lookup errors, ERR_SERIALIO,
// ERR_USERABORT when the stop request ended the wait.
int WriteSerialData(lvObjectId id, const void *data, size_t length, uint32_t timeout, size_t *bytesWritten);
// Writes out what the output queue holds (bounded wait), then discards both queues.
// 0 or lookup errors (a failing flush is not reported).
int FlushSerialPort(lvObjectId id);
// The number of bytes waiting. 0, lookup errors, ERR_SERIALIO.
int PollSerialQueue(lvObjectId id, int *count);
// Discards what is waiting. 0 or lookup errors.
int ClearSerialQueue(lvObjectId id);

// Changes one setting (code cut to an integer by the caller). 0, lookup errors, or
// ERR_WRONGUSAGE when the code is out of its table or the line refused it (the
// stored code then stays).
int SetSerialSetting(lvObjectId id, int setting, int code);
// The stored code of one setting. 0 or lookup errors (ERR_WRONGUSAGE for an unknown setting).
int GetSerialSetting(lvObjectId id, int setting, int *code);

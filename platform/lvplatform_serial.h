// lvplatform_serial.h - serial ports of the platform layer.
// Included by lvplatform.h; not included directly by other subsystems.
//
// A port record lvComPort holds the script's port name and setting codes; its
// native part (opaque here) holds the open terminal device. The serial library
// owns one record per port object and calls only the operations below, all on
// the script thread; each one is synchronous.
//
// Linux implementation: platform/linux/serial.cpp (devices, reads and writes)
// and platform/linux/serial_settings.cpp (setting codes <-> termios, names).
// The line runs in raw mode: no byte value is changed or swallowed unless the
// script asked for XON/XOFF flow control. Time-outs are waits in poll(), so they
// are per-call values and never device state.
#pragma once
#include <cstddef>
#include <cstdint>

// ---- Setting codes --------------------------------------------------------------
// Small codes as the scripts use them, not the values themselves. The baud
// codes are not in rate order: 600 and 1200 came last.
enum {
    LV_BAUD_300 = 0,
    LV_BAUD_2400 = 1,
    LV_BAUD_4800 = 2,
    LV_BAUD_9600 = 3,
    LV_BAUD_19200 = 4,
    LV_BAUD_38400 = 5,
    LV_BAUD_57600 = 6,
    LV_BAUD_115200 = 7,
    LV_BAUD_460800 = 8,
    LV_BAUD_600 = 9,
    LV_BAUD_1200 = 10,
    LV_BAUD_CODES = 11,  // number of baud codes

    LV_DATA_5 = 0,
    LV_DATA_6 = 1,
    LV_DATA_7 = 2,
    LV_DATA_8 = 3,

    LV_PARITY_NONE = 0,
    LV_PARITY_ODD = 1,
    LV_PARITY_EVEN = 2,

    LV_STOP_1 = 0,
    LV_STOP_2 = 1,

    LV_FLOW_OFF = 0,        // no CTS/RTS handshake, no XON/XOFF, RTS line off
    LV_FLOW_HARDWARE = 1,   // CTS/RTS handshake, no XON/XOFF
    LV_FLOW_XON_XOFF = 2,   // XON/XOFF both ways, no CTS/RTS handshake, RTS line off

    LV_DTR_OFF = 0,
    LV_DTR_ON = 1,
    LV_RTS_OFF = 0,
    LV_RTS_ON = 1,

    LV_SERIAL_UNKNOWN = -1, // the line has a value that no code names (a rate of 230400, mark parity)
};

// ---- Result codes ------------------------------------------------------------------
// Every port operation returns one of these (5 and 8 are not used).
enum lvComResult {
    LVCOM_DONE = 0,          // done
    LVCOM_REFUSED = 1,       // a setting refused by the line, a code out of its table, the line's
                             // settings unreadable at open, an empty or unusable name
    LVCOM_NO_DEVICE = 2,     // the device could not be opened (missing, busy, not a terminal)
    LVCOM_CLOSE_FAILED = 3,  // closing the device failed
    LVCOM_FLUSH_FAILED = 4,  // flushing or purging failed
    LVCOM_READ_FAILED = 6,   // the read failed (also: the line hung up)
    LVCOM_WRITE_FAILED = 7,  // the write failed
    LVCOM_NOTHING_READ = 9,  // the read's time-out ran out before a byte came
    LVCOM_QUEUE_FAILED = 10, // the input queue could not be queried
    LVCOM_NOT_OPEN = 11,     // the port is not open
    LVCOM_STOPPED = 12,      // the stop request ended a wait (the run is ending)
};

// ---- Records ---------------------------------------------------------------------------
struct lvComPortNative;  // the open device (descriptor, saved line settings, time-outs)

// Size of the name kept in the record; the device is opened by the whole name, which
// the native part keeps (SetComPortName).
enum { LV_COM_NAME_SIZE = 31 };

// One serial port, owned by the serial library's port object.
struct lvComPort {
    char name[LV_COM_NAME_SIZE];  // name as the script gave it, shortened to 30 bytes for show
    lvComPortNative *native;      // the platform's part, owned by the record
    int32_t baudCode;             // a baud code (not a rate); LV_SERIAL_UNKNOWN for a rate without code
    int32_t dataBitsCode;         // a data-bits code
    int32_t stopBitsCode;         // a stop-bits code
    int32_t flowControlCode;      // a flow-control code; LV_SERIAL_UNKNOWN for a mixed setting
    int32_t parityCode;           // a parity code; LV_SERIAL_UNKNOWN for mark or space parity
    int32_t open;                 // 1 between a successful device open and the release
    int32_t dtrCode;              // DTR code
    int32_t rtsCode;              // RTS code
};

// ---- Port operations ----------------------------------------------------------------
// Allocates a record with its native part: name "COM1", 9600 baud, 8 data bits, no
// parity, one stop bit, no flow control, DTR and RTS codes 0, not open, time-outs 0,
// queue sizes 1024 and 1024. nullptr when out of memory.
lvComPort *AllocComPort(void);

// Gives the record its port name: the whole name for the device (MakeComDeviceName at
// open), its first 30 bytes in port->name. 1, or 0 (record unchanged) for a name that
// no device path can hold (LV_PATH_SIZE bytes or more). A record that never got a name
// this way is opened by port->name.
int SetComPortName(lvComPort *port, const char *name);

// The stop request: a function that answers non-zero once the run is to end (nullptr:
// none). Every wait of the operations below (reads and writes without or with a
// time-out, the output drain of a flush or close) looks at it at least every
// LV_COM_STOP_SLICE milliseconds and then gives up: reads and writes with
// LVCOM_STOPPED (bytes that went out or came in are still counted), a drain at once.
// Any thread may set it; it is called on the thread that waits.
enum { LV_COM_STOP_SLICE = 50 };
void SetComStopCheck(int (*stopRequested)(void));

// Opens the device that the record's name gives (MakeComDeviceName), exclusively:
// another open of the same device, in this process or (through TIOCEXCL) in
// another, fails with LVCOM_NO_DEVICE. Saves the line's settings and modem lines,
// puts the line in raw mode (CLOCAL, receiver on), then applies the record's baud,
// data-bits, parity, stop-bits and flow-control codes in this order. A setting the
// line refuses does not fail the open; afterwards the record's codes are read back
// from the line, so they tell what the line really has. DTR and RTS are not driven
// at open (other than by the flow setting); their codes are read back from the
// modem lines where the device has them and stay as given where it has none.
// LVCOM_DONE, LVCOM_REFUSED (empty name, not a terminal), LVCOM_NO_DEVICE.
// A failed open leaves the record for FreeComPort.
int OpenComPort(lvComPort *port);

// When open: flushes with a bounded wait, puts the saved line settings and modem
// lines back, closes the device. Always frees the native part and the record.
// nullptr is ignored. Never blocks for long on a stuck line.
void FreeComPort(lvComPort *port);

// Reads up to count bytes: returns at once with what is waiting; when nothing is
// waiting, waits for the first byte and returns what has come. The wait lasts the
// port's read time-out (0, the default: without limit). LVCOM_DONE with
// *bytesRead > 0, LVCOM_NOTHING_READ when the time-out ran out, LVCOM_READ_FAILED
// (*bytesRead 0) when the read failed or the line hung up, LVCOM_STOPPED (*bytesRead
// 0) when the stop request ended the wait, LVCOM_REFUSED for count < 1, LVCOM_NOT_OPEN.
int ReadComPort(lvComPort *port, void *buffer, int count, int *bytesRead);
// ReadComPort waiting at most milliseconds (0: without limit) for the first byte;
// LVCOM_NOTHING_READ with *bytesRead 0 when none came in time. Bytes once read are
// always returned with LVCOM_DONE, whatever happens after them. The port's stored
// time-outs are not touched.
int ReadComPortWithTimeout(lvComPort *port, void *buffer, int count, int *bytesRead, uint32_t milliseconds);

// Writes length bytes, waiting at most the port's write time-out in all (0: without
// limit). LVCOM_DONE also for a write cut short by the time-out, with the count that
// went out; LVCOM_WRITE_FAILED when the line refused the write and LVCOM_STOPPED when
// the stop request ended the wait (*bytesWritten tells what went out before),
// LVCOM_NOT_OPEN.
int WriteComPort(lvComPort *port, const void *data, int length, int *bytesWritten);
// WriteComPort with a time-out of milliseconds for this call only (0: without limit).
int WriteComPortWithTimeout(lvComPort *port, const void *data, int length, int *bytesWritten,
                            uint32_t milliseconds);

// The number of bytes waiting in the input queue. LVCOM_DONE, LVCOM_QUEUE_FAILED, LVCOM_NOT_OPEN.
int GetComInQueue(lvComPort *port, int *count);
// Discards the input queue. LVCOM_DONE, LVCOM_FLUSH_FAILED, LVCOM_NOT_OPEN.
int PurgeComInput(lvComPort *port);
// Waits until the output queue has gone out, giving up when it stops moving (a
// stuck line), then discards both queues. LVCOM_DONE, LVCOM_FLUSH_FAILED, LVCOM_NOT_OPEN.
int FlushComPort(lvComPort *port);

// The setters: change one setting of the line, check that the line took it, and
// store the code only then. LVCOM_DONE, LVCOM_REFUSED (code out of its table, or
// the line refused or silently ignored it: the line is then as before),
// LVCOM_NOT_OPEN. SetComDtr and SetComRts drive the modem lines and are refused by
// devices without them (pseudo-terminals). SetComRts drops a CTS/RTS handshake that
// FLOW_HARDWARE set; a later SetComFlowControl sets it again.
int SetComBaudRate(lvComPort *port, int code);
int SetComDataBits(lvComPort *port, int code);
int SetComParity(lvComPort *port, int code);
int SetComStopBits(lvComPort *port, int code);
int SetComFlowControl(lvComPort *port, int code);
int SetComDtr(lvComPort *port, int code);
int SetComRts(lvComPort *port, int code);

// Stores the time-outs that plain reads and writes use (milliseconds, 0: without
// limit). LVCOM_DONE or LVCOM_NOT_OPEN.
int SetComTimeouts(lvComPort *port, uint32_t writeMilliseconds, uint32_t readMilliseconds);
// Reads them back. LVCOM_DONE or LVCOM_NOT_OPEN.
int GetComTimeouts(lvComPort *port, uint32_t *writeMilliseconds, uint32_t *readMilliseconds);
// Stores the queue sizes asked for; the terminal driver's queues have their own
// fixed sizes, so this only records them. LVCOM_DONE or LVCOM_NOT_OPEN.
int SetComQueueSizes(lvComPort *port, uint32_t inputBytes, uint32_t outputBytes);

// The descriptor of an open port, -1 when not open (tests and diagnostics).
int GetComPortDescriptor(const lvComPort *port);
// The text of the system's last error on this port ("" when none).
const char *GetComPortErrorText(const lvComPort *port);

// ---- Device names ---------------------------------------------------------------------
// The device path of a port name into path (size bytes), never cut:
// - an absolute path ("/dev/serial/by-id/...") stands as it is, and so does a path
//   that starts with "./" or "../" (taken from the working directory);
// - "COMn" (any case) or a bare number "n", n greater than 0, is the device of COM
//   table entry n (default /dev/ttyS<n-1>);
// - any other name is a device name under /dev ("ttyUSB0" -> /dev/ttyUSB0, "pts/3"
//   -> /dev/pts/3, "COM0" -> /dev/COM0).
// 1, or 0 when the name is empty or the path does not fit. The table starts from the
// environment variable LV_COM_PORTS_VARIABLE when it is set.
int MakeComDeviceName(const char *name, char *path, size_t size);
// Sets the device of COM table entry number (1..LV_COM_TABLE_SIZE); nullptr or ""
// restores the default. 1, or 0 for a number out of range, a path that does not
// fit or out of memory.
enum { LV_COM_TABLE_SIZE = 256 };
int SetComDeviceName(int number, const char *path);
// Sets several entries from a list "COM1=/dev/ttyUSB0;COM2=/dev/ttyACM0" (entries
// separated by ';' or ',', "COM" optional and of any case, spaces around entries
// and '=' ignored, an empty path restores the default). All or nothing: the number
// of entries set, or -1 when an entry is malformed (the table is then unchanged).
int SetComDeviceNames(const char *list);
// The environment variable that the table is read from, once, before the first
// name is made; a malformed list there is ignored whole.
#define LV_COM_PORTS_VARIABLE "LUMIVARRA_COMPORTS"

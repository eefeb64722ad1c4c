// serial.cpp - the serial port engine: the port list, opening and closing,
// reads, writes, queues and settings over the platform's port operations.
//
// Depends on: platform/lvplatform.h, runtime/objects.h, runtime/errors.h.
// Limits: script thread only (the list has no lock); identifiers and the
// failure codes follow the object conventions of the runtime.
#include "comm/serial.h"

#include <climits>
#include <cstring>

#include "runtime/errors.h"
#include "base/lverrors.h"

// ============================================================================
// Library state
// ============================================================================

// The library's one record.
struct lvSerialLibrary {
    lvObjectHeader *ports;   // first port node; nodes linked through header.next, in open order
    const lvRefOps *refOps;  // releases the ports' user data; nullptr when none can be set
};

static lvSerialLibrary g_serial = {nullptr, nullptr};

const lvSerialConstant lvSerialConstants[] = {
    {"SERIAL", LV_SERIAL_OBJECT_TYPE},
    {"BAUD_300", LV_BAUD_300},
    {"BAUD_600", LV_BAUD_600},
    {"BAUD_1200", LV_BAUD_1200},
    {"BAUD_2400", LV_BAUD_2400},
    {"BAUD_4800", LV_BAUD_4800},
    {"BAUD_9600", LV_BAUD_9600},
    {"BAUD_19200", LV_BAUD_19200},
    {"BAUD_38400", LV_BAUD_38400},
    {"BAUD_57600", LV_BAUD_57600},
    {"BAUD_115200", LV_BAUD_115200},
    {"BAUD_460800", LV_BAUD_460800},
    {"DATA_5", LV_DATA_5},
    {"DATA_6", LV_DATA_6},
    {"DATA_7", LV_DATA_7},
    {"DATA_8", LV_DATA_8},
    {"PARITY_NONE", LV_PARITY_NONE},
    {"PARITY_ODD", LV_PARITY_ODD},
    {"PARITY_EVEN", LV_PARITY_EVEN},
    {"STOP_1", LV_STOP_1},
    {"STOP_2", LV_STOP_2},
    {"FLOW_OFF", LV_FLOW_OFF},
    {"FLOW_HARDWARE", LV_FLOW_HARDWARE},
    {"FLOW_XON_XOFF", LV_FLOW_XON_XOFF},
    {"DTR_OFF", LV_DTR_OFF},
    {"DTR_ON", LV_DTR_ON},
    {"RTS_OFF", LV_RTS_OFF},
    {"RTS_ON", LV_RTS_ON},
};
const int lvSerialConstantCount = (int)(sizeof lvSerialConstants / sizeof lvSerialConstants[0]);

int OpenSerialLibrary(const lvRefOps *refOps)
{
    g_serial.refOps = refOps;
    return RegisterObjectType(LV_SERIAL_OBJECT_TYPE, LV_SERIAL_TYPE_NAME, &g_serial.ports, nullptr, nullptr, 0);
}

lvSerialPort *FirstSerialPort(void) { return (lvSerialPort *)g_serial.ports; }

// ============================================================================
// Nodes
// ============================================================================

// Releases a node that is no longer listed: the port through the platform, then
// the user data and the node.
static void FreeSerialNode(lvSerialPort *node)
{
    FreeComPort(node->port);
    node->port = nullptr;
    FreeObjectUserData(&node->header.userData, g_serial.refOps);
    FreeMemory(node);
}

void FreeSerialPorts(void)
{
    lvObjectHeader *node = g_serial.ports;
    g_serial.ports = nullptr;
    while (node) {
        lvObjectHeader *next = node->next;
        FreeSerialNode((lvSerialPort *)node);
        node = next;
    }
}

// The link that points at the node of id, or nullptr (error arguments filled).
static lvObjectHeader **FindSerialLink(lvObjectId id, int *error)
{
    for (lvObjectHeader **at = &g_serial.ports; *at; at = &(*at)->next)
        if (ObjectIdMatches(*at, id)) return at;
    if (id.handle) {
        *error = ERR_FINDARRAY;
    } else {
        SetErrorNumberArg(id.number);
        *error = ERR_FINDSERIAL;
    }
    return nullptr;
}

int FindSerialPort(lvObjectId id, lvSerialPort **out)
{
    int error = 0;
    lvObjectHeader **at = FindSerialLink(id, &error);
    if (!at) return error;
    *out = (lvSerialPort *)*at;
    return 0;
}

int CloseSerialPort(lvObjectId id)
{
    int error = 0;
    lvObjectHeader **at = FindSerialLink(id, &error);
    if (!at) return error;
    lvSerialPort *node = (lvSerialPort *)*at;
    *at = node->header.next;
    node->header.next = nullptr;
    FreeSerialNode(node);
    return 0;
}

int IsSerialPortOpen(const lvSerialPort *port) { return port && port->port && port->port->open ? 1 : 0; }

// ============================================================================
// Opening
// ============================================================================

void InitSerialOptions(lvSerialOptions *options)
{
    options->baudCode = LV_BAUD_9600;
    options->dataBitsCode = LV_DATA_8;
    options->parityCode = LV_PARITY_NONE;
    options->stopBitsCode = LV_STOP_1;
    options->flowControlCode = LV_FLOW_OFF;
    options->dtrCode = LV_DTR_OFF;
    options->rtsCode = LV_RTS_OFF;
}

const char *const lvSerialOptionKeys[LV_SERIAL_OPTION_COUNT] = {
    "baudrate", "databits", "parity", "stopbits", "flowcontrol", "dtr", "rts",
};

bool SetSerialOption(lvSerialOptions *options, const char *key, int32_t value)
{
    int32_t *const fields[LV_SERIAL_OPTION_COUNT] = {
        &options->baudCode,        &options->dataBitsCode, &options->parityCode, &options->stopBitsCode,
        &options->flowControlCode, &options->dtrCode,      &options->rtsCode,
    };
    for (int i = 0; i < LV_SERIAL_OPTION_COUNT; i++) {
        if (key && std::strcmp(key, lvSerialOptionKeys[i]) == 0) {
            *fields[i] = value;
            return true;
        }
    }
    return false;
}

int OpenSerialPort(int number, bool automatic, const char *name, const lvSerialOptions *options,
                   lvSerialPort **out)
{
    lvSerialOptions defaults;
    if (!options) {
        InitSerialOptions(&defaults);
        options = &defaults;
    }
    if (!name) name = "";
    // Before anything can fail: a number names one port at a time.
    // (No port of that number is no error.)
    if (!automatic) CloseSerialPort({number, nullptr});
    lvComPort *port = AllocComPort();
    if (!port) return ERR_INITSERIAL;
    if (!SetComPortName(port, name)) {
        // Too long for any device path: refused rather than cut into another name.
        FreeComPort(port);
        SetErrorStringArg(name);
        return ERR_OPENSERIAL;
    }
    port->baudCode = options->baudCode;
    port->dataBitsCode = options->dataBitsCode;
    port->parityCode = options->parityCode;
    port->stopBitsCode = options->stopBitsCode;
    port->flowControlCode = options->flowControlCode;
    port->dtrCode = options->dtrCode;
    port->rtsCode = options->rtsCode;
    if (OpenComPort(port) != LVCOM_DONE) {
        FreeComPort(port);
        SetErrorStringArg(name);
        return ERR_OPENSERIAL;
    }
    lvSerialPort *node = (lvSerialPort *)AllocMemory(sizeof(lvSerialPort), 1);
    if (!node) {
        FreeComPort(port);
        return ERR_MEM;
    }
    InitObjectHeader(&node->header, LV_SERIAL_OBJECT_TYPE, number, automatic);
    node->port = port;
    lvObjectHeader **tail = &g_serial.ports;
    while (*tail) tail = &(*tail)->next;
    *tail = &node->header;
    if (out) *out = node;
    return 0;
}

// ============================================================================
// Reading and writing
// ============================================================================

int ReadSerialData(lvObjectId id, int count, uint32_t timeout, lvSerialRead *result)
{
    result->data = nullptr;
    result->bytesRead = 0;
    result->timedOut = 0;
    lvSerialPort *node;
    int error = FindSerialPort(id, &node);
    if (error) return error;
    if (count < 1) return ERR_WRONGUSAGE;
    char *buffer = (char *)AllocMemory((size_t)count, 0);
    if (!buffer) return ERR_MEM;
    int got = 0;
    int r = timeout ? ReadComPortWithTimeout(node->port, buffer, count, &got, timeout)
                    : ReadComPort(node->port, buffer, count, &got);
    if (r != LVCOM_DONE && r != LVCOM_NOTHING_READ) {
        FreeMemory(buffer);
        return r == LVCOM_STOPPED ? ERR_USERABORT : ERR_SERIALIO;
    }
    result->data = buffer;
    result->bytesRead = got;
    result->timedOut = (timeout && r == LVCOM_NOTHING_READ) ? 1 : 0;
    return 0;
}

int WriteSerialData(lvObjectId id, const void *data, size_t length, uint32_t timeout, size_t *bytesWritten)
{
    if (bytesWritten) *bytesWritten = 0;
    if (!data || length == 0) return ERR_WRONGUSAGE;
    lvSerialPort *node;
    int error = FindSerialPort(id, &node);
    if (error) return error;
    // The platform writes int-sized pieces; a piece cut short ends the write.
    const char *bytes = (const char *)data;
    size_t done = 0;
    while (done < length) {
        size_t left = length - done;
        int piece = left > (size_t)INT_MAX ? INT_MAX : (int)left;
        int wrote = 0;
        int r = timeout ? WriteComPortWithTimeout(node->port, bytes + done, piece, &wrote, timeout)
                        : WriteComPort(node->port, bytes + done, piece, &wrote);
        done += (size_t)wrote;
        if (r != LVCOM_DONE) {
            if (bytesWritten) *bytesWritten = done;
            return r == LVCOM_STOPPED ? ERR_USERABORT : ERR_SERIALIO;
        }
        if (wrote < piece) break;
    }
    if (bytesWritten) *bytesWritten = done;
    return 0;
}

// ============================================================================
// Queues
// ============================================================================

int FlushSerialPort(lvObjectId id)
{
    lvSerialPort *node;
    int error = FindSerialPort(id, &node);
    if (error) return error;
    FlushComPort(node->port);
    return 0;
}

int PollSerialQueue(lvObjectId id, int *count)
{
    *count = 0;
    lvSerialPort *node;
    int error = FindSerialPort(id, &node);
    if (error) return error;
    return GetComInQueue(node->port, count) == LVCOM_DONE ? 0 : ERR_SERIALIO;
}

int ClearSerialQueue(lvObjectId id)
{
    lvSerialPort *node;
    int error = FindSerialPort(id, &node);
    if (error) return error;
    PurgeComInput(node->port);
    return 0;
}

// ============================================================================
// Settings
// ============================================================================

// The platform setter of each setting, by lvSerialSetting.
static int (*const kSetters[])(lvComPort *, int) = {
    SetComBaudRate, SetComDataBits, SetComParity, SetComStopBits, SetComFlowControl, SetComDtr, SetComRts,
};

int SetSerialSetting(lvObjectId id, int setting, int code)
{
    lvSerialPort *node;
    int error = FindSerialPort(id, &node);
    if (error) return error;
    if (setting < LV_SERIAL_BAUD || setting > LV_SERIAL_RTS) return ERR_WRONGUSAGE;
    return kSetters[setting](node->port, code) == LVCOM_DONE ? 0 : ERR_WRONGUSAGE;
}

int GetSerialSetting(lvObjectId id, int setting, int *code)
{
    lvSerialPort *node;
    int error = FindSerialPort(id, &node);
    if (error) return error;
    const lvComPort *port = node->port;
    switch (setting) {
    case LV_SERIAL_BAUD: *code = port->baudCode; return 0;
    case LV_SERIAL_DATABITS: *code = port->dataBitsCode; return 0;
    case LV_SERIAL_PARITY: *code = port->parityCode; return 0;
    case LV_SERIAL_STOPBITS: *code = port->stopBitsCode; return 0;
    case LV_SERIAL_FLOW: *code = port->flowControlCode; return 0;
    case LV_SERIAL_DTR: *code = port->dtrCode; return 0;
    case LV_SERIAL_RTS: *code = port->rtsCode; return 0;
    default: return ERR_WRONGUSAGE;
    }
}

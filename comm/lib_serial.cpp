// lib_serial.cpp - the serial library's commands over the serial engine.
//
// Each command checks its argument count first, reads its arguments, calls one engine
// function and pushes what it answers; engine failures come back as codes, which the
// machine raises with the message arguments the engine filled.
// Commands: OpenSerialPort, CloseSerialPort, ReadSerialData, WriteSerialData,
// FlushSerialPort, the seven setters and seven getters of the line settings,
// PollSerialQueue, ClearSerialQueue.
// Depends on: comm/serial.h, runtime/cmdsupport.h, vm/lvvm.h.
// Limits: script thread only, as the engine. Reads and writes block the script thread
// for at most their time-out (a read without one until the first byte comes).
#include "comm/lib_serial.h"
#include "comm/serial.h"
#include "runtime/cmdsupport.h"
#include "runtime/errors.h"
#include "base/lverrors.h"
#include "vm/lvvm.h"

#include <climits>
#include <memory>

// ---- State -------------------------------------------------------------------------

// User data of ports are registry references of the machine that opened the library.
static int CopyRegistryReference(void *context, int ref)
{
    lvState *L = static_cast<lvState *>(context);
    GetTableItemRaw(L, LV_REGISTRYINDEX, ref);
    return CreateReference(L, LV_REGISTRYINDEX);
}

static void ReleaseRegistryReference(void *context, int ref)
{
    ReleaseReference(static_cast<lvState *>(context), LV_REGISTRYINDEX, ref);
}

// Must stay valid until the shut-down step has freed the ports.
static lvRefOps serialRefOps = {nullptr, CopyRegistryReference, ReleaseRegistryReference};

// ---- Arguments -----------------------------------------------------------------------

// A count or a settings code: the number cut to an integer; a value outside the int
// range becomes -1, which every check below refuses.
static int CheckIntArg(lvState *L, int index)
{
    int64_t value = NumberToInt64(CheckNumberArg(L, index));
    return value < INT_MIN || value > INT_MAX ? -1 : static_cast<int>(value);
}

// Frees a buffer of the engine's allocator when the command leaves, raise or not.
struct lvFreeMemoryDeleter {
    void operator()(char *p) const { FreeMemory(p); }
};

// ---- Opening and closing ---------------------------------------------------------------

// OpenSerialPort(id or Nil, name[, {baudrate, databits, parity, stopbits, flowcontrol,
// dtr, rts}]) -> a handle for Nil
static int CmdOpenSerialPort(lvState *L)
{
    CheckArgCount(L, 2, 3, 8, 0);
    int isNil = 0;
    int number = GetIntArgOrNil(L, 1, &isNil);
    const char *name = CheckStringArg(L, 2, nullptr);
    lvSerialOptions options;
    InitSerialOptions(&options);
    if (GetStackTop(L) >= 3 && GetValueType(L, 3) != LV_TNIL) {
        if (GetValueType(L, 3) != LV_TTABLE) {
            SetErrorNumberArg(3);
            return ERR_TABEXPECTED;
        }
        for (const char *key : lvSerialOptionKeys) {
            int value = 0;
            if (GetFieldInt(L, 3, key, &value)) SetSerialOption(&options, key, value);
        }
    }
    lvSerialPort *port = nullptr;
    int result = OpenSerialPort(number, isNil != 0, name, &options, &port);
    if (result) return result;
    if (!isNil) return 0;
    PushObjectId(L, GetObjectIdOf(&port->header));
    return 1;
}

// The commands that take an identifier alone and answer nothing.
static int PortCommand(lvState *L, int (*operation)(lvObjectId id))
{
    CheckArgCount(L, 1, 1, 0, 0);
    return operation(GetObjectIdArg(L, 1));
}

// CloseSerialPort(id)
static int CmdCloseSerialPort(lvState *L) { return PortCommand(L, CloseSerialPort); }

// ---- Reading and writing -----------------------------------------------------------------

// ReadSerialData(id, count[, timeout]) -> data, bytes read, timed-out flag
static int CmdReadSerialData(lvState *L)
{
    CheckArgCount(L, 2, 3, 0, 0);
    lvObjectId id = GetObjectIdArg(L, 1);
    int count = CheckIntArg(L, 2);
    uint32_t timeout = GetOptionalUnsignedArg(L, 3, 0);
    lvSerialRead read = {nullptr, 0, 0};
    int result = ReadSerialData(id, count, timeout, &read);
    if (result) return result;
    std::unique_ptr<char, lvFreeMemoryDeleter> data(read.data);
    PushSizedString(L, data.get(), static_cast<size_t>(read.bytesRead));
    PushNumber(L, read.bytesRead);
    PushNumber(L, read.timedOut);
    return 3;
}

// WriteSerialData(id, data[, timeout]) -> bytes written, 0
static int CmdWriteSerialData(lvState *L)
{
    CheckArgCount(L, 2, 3, 0, 0);
    lvObjectId id = GetObjectIdArg(L, 1);
    size_t length = 0;
    const char *data = CheckStringArg(L, 2, &length);
    uint32_t timeout = GetOptionalUnsignedArg(L, 3, 0);
    size_t written = 0;
    int result = WriteSerialData(id, data, length, timeout, &written);
    if (result) return result;
    PushNumber(L, static_cast<double>(written));
    PushNumber(L, 0);
    return 2;
}

// ---- Queues ------------------------------------------------------------------------------

// FlushSerialPort(id)
static int CmdFlushSerialPort(lvState *L) { return PortCommand(L, FlushSerialPort); }

// PollSerialQueue(id) -> bytes waiting
static int CmdPollSerialQueue(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    int count = 0;
    int result = PollSerialQueue(GetObjectIdArg(L, 1), &count);
    if (result) return result;
    PushNumber(L, count);
    return 1;
}

// ClearSerialQueue(id)
static int CmdClearSerialQueue(lvState *L) { return PortCommand(L, ClearSerialQueue); }

// ---- Line settings ---------------------------------------------------------------------------

// Set...(id, code)
static int SetSettingCommand(lvState *L, int setting)
{
    CheckArgCount(L, 2, 2, 0, 0);
    lvObjectId id = GetObjectIdArg(L, 1);
    return SetSerialSetting(id, setting, CheckIntArg(L, 2));
}

// Get...(id) -> the stored code
static int GetSettingCommand(lvState *L, int setting)
{
    CheckArgCount(L, 1, 1, 0, 0);
    int code = 0;
    int result = GetSerialSetting(GetObjectIdArg(L, 1), setting, &code);
    if (result) return result;
    PushNumber(L, code);
    return 1;
}

static int CmdSetBaudRate(lvState *L) { return SetSettingCommand(L, LV_SERIAL_BAUD); }
static int CmdSetStopBits(lvState *L) { return SetSettingCommand(L, LV_SERIAL_STOPBITS); }
static int CmdSetDataBits(lvState *L) { return SetSettingCommand(L, LV_SERIAL_DATABITS); }
static int CmdSetParity(lvState *L) { return SetSettingCommand(L, LV_SERIAL_PARITY); }
static int CmdSetFlowControl(lvState *L) { return SetSettingCommand(L, LV_SERIAL_FLOW); }
static int CmdSetDTR(lvState *L) { return SetSettingCommand(L, LV_SERIAL_DTR); }
static int CmdSetRTS(lvState *L) { return SetSettingCommand(L, LV_SERIAL_RTS); }
static int CmdGetBaudRate(lvState *L) { return GetSettingCommand(L, LV_SERIAL_BAUD); }
static int CmdGetStopBits(lvState *L) { return GetSettingCommand(L, LV_SERIAL_STOPBITS); }
static int CmdGetDataBits(lvState *L) { return GetSettingCommand(L, LV_SERIAL_DATABITS); }
static int CmdGetParity(lvState *L) { return GetSettingCommand(L, LV_SERIAL_PARITY); }
static int CmdGetFlowControl(lvState *L) { return GetSettingCommand(L, LV_SERIAL_FLOW); }
static int CmdGetDTR(lvState *L) { return GetSettingCommand(L, LV_SERIAL_DTR); }
static int CmdGetRTS(lvState *L) { return GetSettingCommand(L, LV_SERIAL_RTS); }

// ---- Tables ------------------------------------------------------------------------------------

static const lvCommandEntry serialCommands[] = {
    {"OpenSerialPort", CmdOpenSerialPort},
    {"CloseSerialPort", CmdCloseSerialPort},
    {"ReadSerialData", CmdReadSerialData},
    {"WriteSerialData", CmdWriteSerialData},
    {"FlushSerialPort", CmdFlushSerialPort},
    {"SetBaudRate", CmdSetBaudRate},
    {"SetStopBits", CmdSetStopBits},
    {"SetDataBits", CmdSetDataBits},
    {"SetParity", CmdSetParity},
    {"SetFlowControl", CmdSetFlowControl},
    {"SetDTR", CmdSetDTR},
    {"SetRTS", CmdSetRTS},
    {"GetBaudRate", CmdGetBaudRate},
    {"GetStopBits", CmdGetStopBits},
    {"GetDataBits", CmdGetDataBits},
    {"GetParity", CmdGetParity},
    {"GetFlowControl", CmdGetFlowControl},
    {"GetDTR", CmdGetDTR},
    {"GetRTS", CmdGetRTS},
    {"PollSerialQueue", CmdPollSerialQueue},
    {"ClearSerialQueue", CmdClearSerialQueue},
    {nullptr, nullptr},
};

// The engine's constants in the machine's form, with the ending row.
enum { LV_SERIAL_CONSTANT_ROOM = 40 };
static lvConstantEntry serialConstants[LV_SERIAL_CONSTANT_ROOM + 1];

const lvConstantEntry *GetSerialConstants(void)
{
    static const bool filled = [] {
        int count = lvSerialConstantCount < LV_SERIAL_CONSTANT_ROOM ? lvSerialConstantCount
                                                                    : LV_SERIAL_CONSTANT_ROOM;
        for (int i = 0; i < count; i++)
            serialConstants[i] = {lvSerialConstants[i].name, nullptr, (double)lvSerialConstants[i].value};
        serialConstants[count] = {nullptr, nullptr, 0};
        return true;
    }();
    (void)filled;
    return serialConstants;
}

const lvCommandEntry *GetSerialCommands(void)
{
    return serialCommands;
}

// ---- Open and close -------------------------------------------------------------------------------

// Reads and writes that wait end when the run is to end (an interrupt or termination
// signal sets the machine's stop request and wakes no one).
static int MachineStopRequested(void)
{
    return gVMRun.stopRequest.load(std::memory_order_relaxed) ? 1 : 0;
}

int OpenSerialCommands(lvState *L)
{
    serialRefOps.context = L;
    SetComStopCheck(MachineStopRequested);
    int result = OpenSerialLibrary(&serialRefOps);
    if (result) return result;
    return RegisterCommandTable(L, serialCommands, "serial");
}

void CloseSerialCommands(lvState *L, int full)
{
    FreeSerialPorts();
    SetComStopCheck(nullptr);
}

// serial.cpp - serial ports of the platform layer on Linux terminal devices.
// Dependencies: termios and the tty ioctls (TIOCEXCL, TIOCMGET/TIOCMBIS/TIOCMBIC,
// FIONREAD, TIOCOUTQ), poll(), the setting mapping of serial_settings.cpp.
// Limits: one caller thread per port (the script thread); the list of open
// devices that keeps opens exclusive is locked, so ports may be opened and
// closed from any thread. Time-outs are measured on the monotonic clock.
//
// The descriptor is non-blocking from the open on: every wait is a poll() with
// the call's own time-out, so no wait can outlive its limit and nothing about
// time-outs is ever stored in the device.
#include "platform/lvplatform.h"
#include "platform/linux/serial_termios.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

// ============================================================================
// Records
// ============================================================================

struct lvComPortNative {
    int descriptor;             // the open device, -1 when none
    termios saved;              // the line's settings as found at open, put back at release
    int haveSaved;              // 1 once saved holds them
    int savedModemLines;        // TIOCM_ bits found at open, -1 for a device without modem lines
    int exclusive;              // 1 when TIOCEXCL was set by us (cleared again at release)
    dev_t deviceKey;            // what identifies the device: st_rdev of a character device,
    ino_t inodeKey;             // else st_dev with the inode
    uint32_t readTimeout;       // milliseconds a plain read waits for its first byte, 0 without limit
    uint32_t writeTimeout;      // milliseconds a plain write may take in all, 0 without limit
    uint32_t inputQueueSize;    // input queue size asked for (recorded only)
    uint32_t outputQueueSize;   // output queue size asked for (recorded only)
    lvComPortNative *nextOpen;  // next record in the list of open devices
    char *deviceName;           // the whole port name (AllocMemory), nullptr: use port->name
    char errorText[160];        // the system's last error on this port, "" when none
};

// The devices open in this process, so that a second open of one device fails
// even where TIOCEXCL does not stop it (a privileged process).
struct lvComOpenList {
    std::mutex lock;         // guards first
    lvComPortNative *first;  // open records, newest first
};

static lvComOpenList g_openPorts;

// The run's stop request (SetComStopCheck); nullptr when nobody asked for one.
static std::atomic<int (*)(void)> g_stopCheck{nullptr};

void SetComStopCheck(int (*stopRequested)(void)) { g_stopCheck.store(stopRequested); }

static bool StopRequested(void)
{
    int (*check)(void) = g_stopCheck.load();
    return check && check() != 0;
}

// Queue sizes of a fresh record.
enum { kDefaultQueueSize = 1024 };
// A flush gives up when the output queue has not moved for this long (at least).
enum { kDrainStallMillis = 500 };

// ============================================================================
// Helpers
// ============================================================================

// Milliseconds on the monotonic clock.
static int64_t NowMillis(void)
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (int64_t)ts.tv_sec * 1000 + ts.tv_nsec / 1000000;
}

// Records what failed and the system's text for errno.
static void NoteSystemError(lvComPortNative *native, const char *what)
{
    int code = errno;
    char text[120];
    const char *message = strerror_r(code, text, sizeof text);
    FormatString(native->errorText, sizeof native->errorText, "%s: %s", what, message);
    errno = code;
}

// Waits until fd is ready for events. milliseconds 0 waits without limit, else until
// deadline (monotonic ms). A stop request only sets a flag and wakes no one, so the
// wait looks at it every LV_COM_STOP_SLICE ms. 1 ready (also on hang-up or error,
// which the following read or write reports), 0 time-out, -1 poll failed, -2 stopped.
static int WaitDescriptor(int fd, short events, uint32_t milliseconds, int64_t deadline)
{
    for (;;) {
        if (StopRequested()) return -2;
        int wait = LV_COM_STOP_SLICE;
        if (milliseconds != 0) {
            int64_t left = deadline - NowMillis();
            if (left <= 0) return 0;
            if (left < wait) wait = (int)left;
        }
        pollfd p = {fd, events, 0};
        int r = poll(&p, 1, wait);
        if (r > 0) return 1;
        if (r < 0 && errno != EINTR) return -1;
        if (r == 0 && milliseconds != 0 && NowMillis() >= deadline) return 0;
    }
}

// Identifies the device behind fd.
static void GetDeviceKey(const struct stat &st, dev_t *device, ino_t *inode)
{
    if (S_ISCHR(st.st_mode)) {
        *device = st.st_rdev;
        *inode = 0;
    } else {
        *device = st.st_dev;
        *inode = st.st_ino;
    }
}

// Enters the record in the open list unless its device is there already; false then.
static bool ClaimDevice(lvComPortNative *native)
{
    std::lock_guard<std::mutex> hold(g_openPorts.lock);
    for (lvComPortNative *n = g_openPorts.first; n; n = n->nextOpen)
        if (n->deviceKey == native->deviceKey && n->inodeKey == native->inodeKey) return false;
    native->nextOpen = g_openPorts.first;
    g_openPorts.first = native;
    return true;
}

// Takes the record out of the open list (nothing when it is not there).
static void ReleaseDevice(lvComPortNative *native)
{
    std::lock_guard<std::mutex> hold(g_openPorts.lock);
    for (lvComPortNative **at = &g_openPorts.first; *at; at = &(*at)->nextOpen) {
        if (*at == native) {
            *at = native->nextOpen;
            break;
        }
    }
    native->nextOpen = nullptr;
}

// The open record's native part, or nullptr when the port is not open.
static lvComPortNative *OpenNative(lvComPort *port)
{
    if (!port || !port->open || !port->native || port->native->descriptor < 0) return nullptr;
    return port->native;
}

// Takes the DTR and RTS codes from the modem lines where the device has them.
static void ReadModemCodes(lvComPort *port)
{
    int lines = 0;
    if (ioctl(port->native->descriptor, TIOCMGET, &lines) != 0) return;
    port->dtrCode = (lines & TIOCM_DTR) ? LV_DTR_ON : LV_DTR_OFF;
    port->rtsCode = (lines & TIOCM_RTS) ? LV_RTS_ON : LV_RTS_OFF;
}

// Raises (on) or drops one modem line. 0, or -1 when the device refused.
static int DriveModemLine(lvComPortNative *native, int line, bool on)
{
    int bits = line;
    if (ioctl(native->descriptor, on ? TIOCMBIS : TIOCMBIC, &bits) == 0) return 0;
    NoteSystemError(native, "modem line");
    return -1;
}

// ============================================================================
// Allocation, opening and release
// ============================================================================

lvComPort *AllocComPort(void)
{
    lvComPort *port = (lvComPort *)AllocMemory(sizeof(lvComPort), 1);
    if (!port) return nullptr;
    lvComPortNative *native = (lvComPortNative *)AllocMemory(sizeof(lvComPortNative), 1);
    if (!native) {
        FreeMemory(port);
        return nullptr;
    }
    native->descriptor = -1;
    native->savedModemLines = -1;
    native->inputQueueSize = kDefaultQueueSize;
    native->outputQueueSize = kDefaultQueueSize;
    native->deviceName = nullptr;
    std::memcpy(port->name, "COM1", 5);
    port->native = native;
    port->baudCode = LV_BAUD_9600;
    port->dataBitsCode = LV_DATA_8;
    return port;
}

// Changes one termios setting and checks that the line took it; on a refusal
// (or a silent change to something else) the line is put back as it was.
static int ApplyLineSetting(lvComPort *port, int setting, int code)
{
    lvComPortNative *native = OpenNative(port);
    if (!native) return LVCOM_NOT_OPEN;
    termios before, wanted, after;
    if (tcgetattr(native->descriptor, &before) != 0) {
        NoteSystemError(native, "reading the line settings");
        return LVCOM_REFUSED;
    }
    wanted = before;
    if (!ApplyComSetting(&wanted, setting, code)) return LVCOM_REFUSED;
    if (tcsetattr(native->descriptor, TCSANOW, &wanted) != 0) {
        NoteSystemError(native, "changing the line settings");
        tcsetattr(native->descriptor, TCSANOW, &before);
        return LVCOM_REFUSED;
    }
    if (tcgetattr(native->descriptor, &after) != 0 || ReadComSetting(&after, setting) != code) {
        FormatString(native->errorText, sizeof native->errorText, "the line did not take the setting");
        tcsetattr(native->descriptor, TCSANOW, &before);
        return LVCOM_REFUSED;
    }
    return LVCOM_DONE;
}

int SetComPortName(lvComPort *port, const char *name)
{
    if (!port || !port->native || !name) return 0;
    size_t length = std::strlen(name);
    if (length >= LV_PATH_SIZE) return 0;
    char *copy = (char *)AllocMemory(length + 1, 0);
    if (!copy) return 0;
    std::memcpy(copy, name, length + 1);
    FreeMemory(port->native->deviceName);
    port->native->deviceName = copy;
    size_t shown = length < sizeof port->name ? length : sizeof port->name - 1;
    std::memcpy(port->name, name, shown);
    port->name[shown] = 0;
    return 1;
}

int OpenComPort(lvComPort *port)
{
    if (!port || !port->native || port->open) return LVCOM_REFUSED;
    lvComPortNative *native = port->native;
    char scriptPath[LV_PATH_SIZE], path[LV_PATH_SIZE];
    // The whole name: a shortened one could name another device.
    const char *name = native->deviceName ? native->deviceName : port->name;
    if (!MakeComDeviceName(name, scriptPath, sizeof scriptPath)) return LVCOM_REFUSED;
    if (!TextToSystem(scriptPath, path, sizeof path, 0)) return LVCOM_REFUSED;

    // Non-blocking: the open must not wait for a carrier, and every later wait is a poll().
    int fd = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        NoteSystemError(native, "opening the device");
        return LVCOM_NO_DEVICE;
    }
    struct stat st;
    if (fstat(fd, &st) != 0) {
        NoteSystemError(native, "examining the device");
        close(fd);
        return LVCOM_NO_DEVICE;
    }
    GetDeviceKey(st, &native->deviceKey, &native->inodeKey);
    if (!ClaimDevice(native)) {
        FormatString(native->errorText, sizeof native->errorText, "the device is already open");
        close(fd);
        return LVCOM_NO_DEVICE;
    }
    if (tcgetattr(fd, &native->saved) != 0) {
        NoteSystemError(native, "reading the line settings");
        ReleaseDevice(native);
        close(fd);
        return LVCOM_REFUSED;
    }
    native->haveSaved = 1;
    native->descriptor = fd;
    port->open = 1;
    // Keeps later opens of the device out, also from other processes.
    if (ioctl(fd, TIOCEXCL) == 0) native->exclusive = 1;
    if (ioctl(fd, TIOCMGET, &native->savedModemLines) != 0) native->savedModemLines = -1;
    tcflush(fd, TCIOFLUSH);

    termios raw = native->saved;
    MakeComRaw(&raw);
    if (tcsetattr(fd, TCSANOW, &raw) != 0) {
        NoteSystemError(native, "setting raw mode");
        return LVCOM_REFUSED;
    }
    // Each setting on its own, so a refused one leaves the others applied.
    ApplyLineSetting(port, LVCOM_SETTING_BAUD, port->baudCode);
    ApplyLineSetting(port, LVCOM_SETTING_DATABITS, port->dataBitsCode);
    ApplyLineSetting(port, LVCOM_SETTING_PARITY, port->parityCode);
    ApplyLineSetting(port, LVCOM_SETTING_STOPBITS, port->stopBitsCode);
    SetComFlowControl(port, port->flowControlCode);

    // The codes tell what the line has, not what was asked for.
    termios now;
    if (tcgetattr(fd, &now) != 0) {
        NoteSystemError(native, "reading the line settings");
        return LVCOM_REFUSED;
    }
    port->baudCode = ReadComSetting(&now, LVCOM_SETTING_BAUD);
    port->dataBitsCode = ReadComSetting(&now, LVCOM_SETTING_DATABITS);
    port->parityCode = ReadComSetting(&now, LVCOM_SETTING_PARITY);
    port->stopBitsCode = ReadComSetting(&now, LVCOM_SETTING_STOPBITS);
    port->flowControlCode = ReadComSetting(&now, LVCOM_SETTING_FLOW);
    ReadModemCodes(port);
    return LVCOM_DONE;
}

int GetComDrainStallMillis(int rate)
{
    if (rate <= 0) rate = 9600;
    int stall = 20 * 11 * 1000 / rate;
    return stall < kDrainStallMillis ? kDrainStallMillis : stall;
}

int WaitForQueueDrain(int (*queued)(void *context), void *context, int stallMillis)
{
    int count = queued(context);
    int64_t lastMove = NowMillis();
    while (count > 0) {
        if (StopRequested()) return 0;
        poll(nullptr, 0, 5);
        int now = queued(context);
        if (now < 0) return 0;
        if (now < count) lastMove = NowMillis();
        else if (NowMillis() - lastMove > stallMillis) return 0;
        count = now;
    }
    return count == 0 ? 1 : 0;
}

// The bytes in the output queue of the descriptor in context, -1 when unknown.
static int QueuedOutput(void *context)
{
    int queued = 0;
    return ioctl(*(int *)context, TIOCOUTQ, &queued) == 0 ? queued : -1;
}

// Waits while the output queue drains, unless it stops moving.
static void DrainOutput(lvComPortNative *native)
{
    termios attr;
    int rate = 0;
    if (tcgetattr(native->descriptor, &attr) == 0) rate = GetComBaudRate(ReadComSetting(&attr, LVCOM_SETTING_BAUD));
    WaitForQueueDrain(QueuedOutput, &native->descriptor, GetComDrainStallMillis(rate));
}

int FlushComPort(lvComPort *port)
{
    lvComPortNative *native = OpenNative(port);
    if (!native) return LVCOM_NOT_OPEN;
    DrainOutput(native);
    if (tcflush(native->descriptor, TCIOFLUSH) != 0) {
        NoteSystemError(native, "flushing");
        return LVCOM_FLUSH_FAILED;
    }
    return LVCOM_DONE;
}

// Restores and closes an open device. LVCOM_DONE or LVCOM_CLOSE_FAILED.
static int CloseComDevice(lvComPort *port)
{
    lvComPortNative *native = port->native;
    int fd = native->descriptor;
    // What was written goes out before the close: a pseudo-terminal's output queue shows
    // no bytes to the drain, and flushing it would discard what its reader has not yet
    // read (a last acknowledgement, say). Only the input is thrown away.
    DrainOutput(native);
    tcflush(fd, TCIFLUSH);
    if (native->savedModemLines >= 0) {
        int lines = native->savedModemLines & (TIOCM_DTR | TIOCM_RTS);
        int drop = (TIOCM_DTR | TIOCM_RTS) & ~lines;
        if (lines) ioctl(fd, TIOCMBIS, &lines);
        if (drop) ioctl(fd, TIOCMBIC, &drop);
    }
    if (native->haveSaved) tcsetattr(fd, TCSANOW, &native->saved);
    if (native->exclusive) ioctl(fd, TIOCNXCL);
    native->descriptor = -1;
    native->exclusive = 0;
    port->open = 0;
    ReleaseDevice(native);
    if (close(fd) != 0 && errno != EINTR) {
        NoteSystemError(native, "closing");
        return LVCOM_CLOSE_FAILED;
    }
    return LVCOM_DONE;
}

void FreeComPort(lvComPort *port)
{
    if (!port) return;
    if (port->native) {
        if (port->open && port->native->descriptor >= 0) CloseComDevice(port);
        FreeMemory(port->native->deviceName);
        FreeMemory(port->native);
    }
    FreeMemory(port);
}

// ============================================================================
// Reading and writing
// ============================================================================

// The read: what is waiting at once, else the first bytes to come within the time-out.
static int ReadWithin(lvComPort *port, void *buffer, int count, int *bytesRead, uint32_t milliseconds)
{
    if (bytesRead) *bytesRead = 0;
    lvComPortNative *native = OpenNative(port);
    if (!native) return LVCOM_NOT_OPEN;
    if (!buffer || count < 1 || !bytesRead) return LVCOM_REFUSED;
    int64_t deadline = NowMillis() + milliseconds;
    char *out = (char *)buffer;
    int got = 0;
    for (;;) {
        ssize_t n = read(native->descriptor, out, (size_t)count);
        if (n > 0) {
            got = (int)n;
            break;
        }
        if (n == 0) {
            // A terminal reads end-of-file only once it has hung up.
            FormatString(native->errorText, sizeof native->errorText, "the line hung up");
            return LVCOM_READ_FAILED;
        }
        if (errno == EINTR) continue;
        if (errno != EAGAIN) {
            NoteSystemError(native, "reading");
            return LVCOM_READ_FAILED;
        }
        int ready = WaitDescriptor(native->descriptor, POLLIN, milliseconds, deadline);
        if (ready == 0) return LVCOM_NOTHING_READ;
        if (ready == -2) return LVCOM_STOPPED;
        if (ready < 0) {
            NoteSystemError(native, "waiting for data");
            return LVCOM_READ_FAILED;
        }
    }
    // Bytes that came in meanwhile go along; a failure now belongs to the next read,
    // since the bytes in hand must reach the caller.
    while (got < count) {
        ssize_t n = read(native->descriptor, out + got, (size_t)(count - got));
        if (n > 0) got += (int)n;
        else if (n < 0 && errno == EINTR) continue;
        else break;
    }
    *bytesRead = got;
    return LVCOM_DONE;
}

int ReadComPort(lvComPort *port, void *buffer, int count, int *bytesRead)
{
    lvComPortNative *native = OpenNative(port);
    return ReadWithin(port, buffer, count, bytesRead, native ? native->readTimeout : 0);
}

int ReadComPortWithTimeout(lvComPort *port, void *buffer, int count, int *bytesRead, uint32_t milliseconds)
{
    return ReadWithin(port, buffer, count, bytesRead, milliseconds);
}

// The write: everything, or what went out before the time-out ran out.
static int WriteWithin(lvComPort *port, const void *data, int length, int *bytesWritten, uint32_t milliseconds)
{
    if (bytesWritten) *bytesWritten = 0;
    lvComPortNative *native = OpenNative(port);
    if (!native) return LVCOM_NOT_OPEN;
    if ((!data && length > 0) || length < 0 || !bytesWritten) return LVCOM_REFUSED;
    int64_t deadline = NowMillis() + milliseconds;
    const char *in = (const char *)data;
    int done = 0;
    while (done < length) {
        ssize_t n = write(native->descriptor, in + done, (size_t)(length - done));
        if (n > 0) {
            done += (int)n;
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN) {
            NoteSystemError(native, "writing");
            *bytesWritten = done;
            return LVCOM_WRITE_FAILED;
        }
        int ready = WaitDescriptor(native->descriptor, POLLOUT, milliseconds, deadline);
        if (ready == 0) break;
        if (ready == -2) {
            *bytesWritten = done;
            return LVCOM_STOPPED;
        }
        if (ready < 0) {
            NoteSystemError(native, "waiting to write");
            *bytesWritten = done;
            return LVCOM_WRITE_FAILED;
        }
    }
    *bytesWritten = done;
    return LVCOM_DONE;
}

int WriteComPort(lvComPort *port, const void *data, int length, int *bytesWritten)
{
    lvComPortNative *native = OpenNative(port);
    return WriteWithin(port, data, length, bytesWritten, native ? native->writeTimeout : 0);
}

int WriteComPortWithTimeout(lvComPort *port, const void *data, int length, int *bytesWritten,
                            uint32_t milliseconds)
{
    return WriteWithin(port, data, length, bytesWritten, milliseconds);
}

// ============================================================================
// Queues
// ============================================================================

int GetComInQueue(lvComPort *port, int *count)
{
    if (count) *count = 0;
    lvComPortNative *native = OpenNative(port);
    if (!native) return LVCOM_NOT_OPEN;
    int waiting = 0;
    if (!count || ioctl(native->descriptor, FIONREAD, &waiting) != 0) {
        if (count) NoteSystemError(native, "querying the input queue");
        return LVCOM_QUEUE_FAILED;
    }
    *count = waiting;
    return LVCOM_DONE;
}

int PurgeComInput(lvComPort *port)
{
    lvComPortNative *native = OpenNative(port);
    if (!native) return LVCOM_NOT_OPEN;
    if (tcflush(native->descriptor, TCIFLUSH) != 0) {
        NoteSystemError(native, "purging the input queue");
        return LVCOM_FLUSH_FAILED;
    }
    return LVCOM_DONE;
}

// ============================================================================
// Settings
// ============================================================================

// A setting's setter: the line first, the code once the line has it.
static int SetLineCode(lvComPort *port, int setting, int code, int32_t *field)
{
    int result = ApplyLineSetting(port, setting, code);
    if (result == LVCOM_DONE) *field = code;
    return result;
}

int SetComBaudRate(lvComPort *port, int code)
{
    return SetLineCode(port, LVCOM_SETTING_BAUD, code, port ? &port->baudCode : nullptr);
}

int SetComDataBits(lvComPort *port, int code)
{
    return SetLineCode(port, LVCOM_SETTING_DATABITS, code, port ? &port->dataBitsCode : nullptr);
}

int SetComParity(lvComPort *port, int code)
{
    return SetLineCode(port, LVCOM_SETTING_PARITY, code, port ? &port->parityCode : nullptr);
}

int SetComStopBits(lvComPort *port, int code)
{
    return SetLineCode(port, LVCOM_SETTING_STOPBITS, code, port ? &port->stopBitsCode : nullptr);
}

int SetComFlowControl(lvComPort *port, int code)
{
    int result = SetLineCode(port, LVCOM_SETTING_FLOW, code, port ? &port->flowControlCode : nullptr);
    if (result != LVCOM_DONE) return result;
    // Without the handshake the RTS line is off. A device without modem lines has
    // no RTS to drop, which is no reason to refuse the flow setting.
    if (code != LV_FLOW_HARDWARE) {
        int bits = TIOCM_RTS;
        ioctl(port->native->descriptor, TIOCMBIC, &bits);
    }
    ReadModemCodes(port);
    return LVCOM_DONE;
}

int SetComDtr(lvComPort *port, int code)
{
    lvComPortNative *native = OpenNative(port);
    if (!native) return LVCOM_NOT_OPEN;
    if (code != LV_DTR_OFF && code != LV_DTR_ON) return LVCOM_REFUSED;
    if (DriveModemLine(native, TIOCM_DTR, code == LV_DTR_ON) != 0) return LVCOM_REFUSED;
    port->dtrCode = code;
    return LVCOM_DONE;
}

int SetComRts(lvComPort *port, int code)
{
    lvComPortNative *native = OpenNative(port);
    if (!native) return LVCOM_NOT_OPEN;
    if (code != LV_RTS_OFF && code != LV_RTS_ON) return LVCOM_REFUSED;
    if (DriveModemLine(native, TIOCM_RTS, code == LV_RTS_ON) != 0) return LVCOM_REFUSED;
    // The driver's CTS/RTS handshake would take the line back: the script's level wins.
    termios attr;
    if (tcgetattr(native->descriptor, &attr) == 0 && (attr.c_cflag & CRTSCTS)) {
        attr.c_cflag &= ~(tcflag_t)CRTSCTS;
        tcsetattr(native->descriptor, TCSANOW, &attr);
        DriveModemLine(native, TIOCM_RTS, code == LV_RTS_ON);
    }
    port->rtsCode = code;
    return LVCOM_DONE;
}

int SetComTimeouts(lvComPort *port, uint32_t writeMilliseconds, uint32_t readMilliseconds)
{
    lvComPortNative *native = OpenNative(port);
    if (!native) return LVCOM_NOT_OPEN;
    native->writeTimeout = writeMilliseconds;
    native->readTimeout = readMilliseconds;
    return LVCOM_DONE;
}

int GetComTimeouts(lvComPort *port, uint32_t *writeMilliseconds, uint32_t *readMilliseconds)
{
    lvComPortNative *native = OpenNative(port);
    if (!native) return LVCOM_NOT_OPEN;
    if (writeMilliseconds) *writeMilliseconds = native->writeTimeout;
    if (readMilliseconds) *readMilliseconds = native->readTimeout;
    return LVCOM_DONE;
}

int SetComQueueSizes(lvComPort *port, uint32_t inputBytes, uint32_t outputBytes)
{
    lvComPortNative *native = OpenNative(port);
    if (!native) return LVCOM_NOT_OPEN;
    native->inputQueueSize = inputBytes;
    native->outputQueueSize = outputBytes;
    return LVCOM_DONE;
}

int GetComPortDescriptor(const lvComPort *port)
{
    if (!port || !port->open || !port->native) return -1;
    return port->native->descriptor;
}

const char *GetComPortErrorText(const lvComPort *port)
{
    if (!port || !port->native) return "";
    return port->native->errorText;
}

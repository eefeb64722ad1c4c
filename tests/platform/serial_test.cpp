// Serial ports of the platform layer: the setting codes against termios, port
// names, and ports on pseudo-terminals (bytes, time-outs, settings, restore).
#include "platform/lvplatform.h"
#include "platform/linux/serial_termios.h"
#include "tests/platform/serial_pty.h"

#include <gtest/gtest.h>
#include <atomic>
#include <chrono>
#include <functional>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

using Clock = std::chrono::steady_clock;

static long long MillisSince(Clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// A port record opened on the pty's slave with the record's codes as set by prepare.
template <typename Prepare>
static lvComPort *OpenOn(const lvTestPty &pty, Prepare prepare, int *result = nullptr)
{
    lvComPort *port = AllocComPort();
    if (!port) return nullptr;
    std::snprintf(port->name, sizeof port->name, "%s", pty.path.c_str());
    prepare(port);
    int r = OpenComPort(port);
    if (result) *result = r;
    if (r != LVCOM_DONE) {
        FreeComPort(port);
        return nullptr;
    }
    return port;
}

static lvComPort *OpenOn(const lvTestPty &pty) { return OpenOn(pty, [](lvComPort *) {}); }

// Reads until length bytes came or a read times out.
static std::string ReadAll(lvComPort *port, size_t length)
{
    std::string out;
    std::vector<char> buffer(length);
    while (out.size() < length) {
        int got = 0;
        int r = ReadComPortWithTimeout(port, buffer.data(), (int)(length - out.size()), &got, 2000);
        if (r != LVCOM_DONE) break;
        out.append(buffer.data(), (size_t)got);
    }
    return out;
}

// ---- Setting codes and termios --------------------------------------------------------

TEST(SerialSettings, BaudCodesMapToTheirSpeeds)
{
    const struct {
        int code;
        speed_t speed;
        int rate;
    } cases[] = {{0, B300, 300},       {9, B600, 600},       {10, B1200, 1200},     {1, B2400, 2400},
                 {2, B4800, 4800},     {3, B9600, 9600},     {4, B19200, 19200},    {5, B38400, 38400},
                 {6, B57600, 57600},   {7, B115200, 115200}, {8, B460800, 460800}};
    for (const auto &c : cases) {
        termios t{};
        cfsetospeed(&t, B50);
        ASSERT_TRUE(ApplyComSetting(&t, LVCOM_SETTING_BAUD, c.code)) << c.code;
        EXPECT_EQ(cfgetospeed(&t), c.speed) << c.code;
        EXPECT_EQ(cfgetispeed(&t), c.speed) << c.code;
        EXPECT_EQ(ReadComSetting(&t, LVCOM_SETTING_BAUD), c.code);
        EXPECT_EQ(GetComBaudRate(c.code), c.rate);
    }
    termios t{};
    cfsetospeed(&t, B230400);  // a rate without a code
    EXPECT_EQ(ReadComSetting(&t, LVCOM_SETTING_BAUD), LV_SERIAL_UNKNOWN);
    EXPECT_EQ(GetComBaudRate(11), 0);
}

TEST(SerialSettings, LineCodesMapToTheirFlags)
{
    const struct {
        int setting, code;
        tcflag_t cflagMask, cflag;  // the bits of c_cflag that must read so
        tcflag_t iflagMask, iflag;  // and of c_iflag
    } cases[] = {
        {LVCOM_SETTING_DATABITS, 0, CSIZE, CS5, 0, 0},
        {LVCOM_SETTING_DATABITS, 1, CSIZE, CS6, 0, 0},
        {LVCOM_SETTING_DATABITS, 2, CSIZE, CS7, 0, 0},
        {LVCOM_SETTING_DATABITS, 3, CSIZE, CS8, 0, 0},
        {LVCOM_SETTING_PARITY, 0, PARENB | PARODD | CMSPAR, 0, 0, 0},
        {LVCOM_SETTING_PARITY, 1, PARENB | PARODD | CMSPAR, PARENB | PARODD, 0, 0},
        {LVCOM_SETTING_PARITY, 2, PARENB | PARODD | CMSPAR, PARENB, 0, 0},
        {LVCOM_SETTING_STOPBITS, 0, CSTOPB, 0, 0, 0},
        {LVCOM_SETTING_STOPBITS, 1, CSTOPB, CSTOPB, 0, 0},
        {LVCOM_SETTING_FLOW, 0, CRTSCTS, 0, IXON | IXOFF | IXANY, 0},
        {LVCOM_SETTING_FLOW, 1, CRTSCTS, CRTSCTS, IXON | IXOFF | IXANY, 0},
        {LVCOM_SETTING_FLOW, 2, CRTSCTS, 0, IXON | IXOFF | IXANY, IXON | IXOFF},
    };
    for (const auto &c : cases) {
        // From every flag set and from none, so that each code sets and clears what it owns.
        for (tcflag_t start : {(tcflag_t)0, ~(tcflag_t)0}) {
            termios t{};
            t.c_cflag = start;
            t.c_iflag = start;
            ASSERT_TRUE(ApplyComSetting(&t, c.setting, c.code)) << c.setting << "/" << c.code;
            EXPECT_EQ(t.c_cflag & c.cflagMask, c.cflag) << c.setting << "/" << c.code;
            EXPECT_EQ(t.c_iflag & c.iflagMask, c.iflag) << c.setting << "/" << c.code;
            EXPECT_EQ(ReadComSetting(&t, c.setting), c.code) << c.setting << "/" << c.code;
        }
    }
    const struct {
        int setting, code;
    } refused[] = {{LVCOM_SETTING_BAUD, -1},    {LVCOM_SETTING_BAUD, 11},    {LVCOM_SETTING_BAUD, 99},
                   {LVCOM_SETTING_DATABITS, 4}, {LVCOM_SETTING_DATABITS, -1}, {LVCOM_SETTING_PARITY, 3},
                   {LVCOM_SETTING_STOPBITS, 2}, {LVCOM_SETTING_FLOW, 3},      {99, 0}};
    for (const auto &c : refused) {
        termios t{};
        t.c_cflag = CS7 | CSTOPB;
        termios before = t;
        EXPECT_FALSE(ApplyComSetting(&t, c.setting, c.code)) << c.setting << "/" << c.code;
        EXPECT_EQ(std::memcmp(&t, &before, sizeof t), 0);
    }
    // Mixed or foreign settings have no code.
    termios t{};
    t.c_cflag = CRTSCTS;
    t.c_iflag = IXON;
    EXPECT_EQ(ReadComSetting(&t, LVCOM_SETTING_FLOW), LV_SERIAL_UNKNOWN);
    t.c_cflag = PARENB | CMSPAR;
    EXPECT_EQ(ReadComSetting(&t, LVCOM_SETTING_PARITY), LV_SERIAL_UNKNOWN);
}

TEST(SerialSettings, RawModeLeavesNoByteProcessing)
{
    termios t{};
    t.c_iflag = ~(tcflag_t)0;
    t.c_oflag = ~(tcflag_t)0;
    t.c_lflag = ~(tcflag_t)0;
    t.c_cflag = ~(tcflag_t)0 & ~(tcflag_t)(CLOCAL | CREAD);
    MakeComRaw(&t);
    // Every input flag that drops, changes or adds a byte, or stops the flow.
    EXPECT_EQ(t.c_iflag & (ISTRIP | INLCR | IGNCR | ICRNL | IUCLC | IXON | IXOFF | IXANY | PARMRK | INPCK |
                           IGNPAR | BRKINT | IMAXBEL),
              0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ECHONL | ISIG | IEXTEN), 0u);
    EXPECT_EQ(t.c_cflag & (CSIZE | PARENB | CRTSCTS | CLOCAL | CREAD), CS8 | CLOCAL | CREAD);
}

// ---- Flushing --------------------------------------------------------------------------

// A fake output queue: starts at count and loses one byte every stepMillis (never
// when stepMillis is 0); -1 makes the query fail.
struct lvFakeQueue {
    int count;
    int stepMillis;
    Clock::time_point start = Clock::now();
};

static int FakeQueued(void *context)
{
    lvFakeQueue *q = (lvFakeQueue *)context;
    if (q->count < 0 || q->stepMillis == 0) return q->count;
    int gone = (int)(MillisSince(q->start) / q->stepMillis);
    return gone >= q->count ? 0 : q->count - gone;
}

TEST(SerialFlush, DrainWaitsForAMovingQueueAndGivesUpOnAStuckOne)
{
    lvFakeQueue stuck = {100, 0};
    auto start = Clock::now();
    EXPECT_EQ(WaitForQueueDrain(FakeQueued, &stuck, 60), 0);
    EXPECT_GE(MillisSince(start), 55);
    EXPECT_LT(MillisSince(start), 1000);

    // Slower in all than the stall time, but moving: waited for to the end.
    lvFakeQueue slow = {6, 30};
    start = Clock::now();
    EXPECT_EQ(WaitForQueueDrain(FakeQueued, &slow, 150), 1);
    EXPECT_GE(MillisSince(start), 170);

    lvFakeQueue empty = {0, 0}, broken = {-1, 0};
    EXPECT_EQ(WaitForQueueDrain(FakeQueued, &empty, 60), 1);
    EXPECT_EQ(WaitForQueueDrain(FakeQueued, &broken, 60), 0);

    EXPECT_EQ(GetComDrainStallMillis(300), 733);     // twenty characters at 300 baud
    EXPECT_EQ(GetComDrainStallMillis(460800), 500);  // never below half a second
    EXPECT_EQ(GetComDrainStallMillis(0), 500);
}

// ---- Port names -------------------------------------------------------------------------

TEST(SerialNames, ComNamesAbsolutePathsAndDeviceNames)
{
    // Linux device names mean their device under /dev, whatever digits they hold; only
    // "COMn" and a bare number go through the COM table.
    const struct {
        const char *name, *path;
    } cases[] = {
        {"COM1", "/dev/ttyS0"},
        {"COM3", "/dev/ttyS2"},
        {"3", "/dev/ttyS2"},
        {"com10", "/dev/ttyS9"},
        {"COM300", "/dev/ttyS299"},
        {"/dev/pts/3", "/dev/pts/3"},
        {"/dev/ttyUSB0", "/dev/ttyUSB0"},
        {"/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0",
         "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0"},
        {"ttyUSB0", "/dev/ttyUSB0"},
        {"ttyUSB1", "/dev/ttyUSB1"},
        {"ttyACM2", "/dev/ttyACM2"},
        {"ttyS0", "/dev/ttyS0"},
        {"pts/3", "/dev/pts/3"},
        {"./ttyLocal", "./ttyLocal"},
        {"../ttyUp", "../ttyUp"},
        {"COM0", "/dev/COM0"},
        {"COM3x", "/dev/COM3x"},
        {"port", "/dev/port"},
        {"COM99999999999999999999", "/dev/COM99999999999999999999"},
    };
    char path[LV_PATH_SIZE];
    for (const auto &c : cases) {
        ASSERT_EQ(MakeComDeviceName(c.name, path, sizeof path), 1) << c.name;
        EXPECT_STREQ(path, c.path) << c.name;
    }
    EXPECT_EQ(MakeComDeviceName("", path, sizeof path), 0);
    EXPECT_EQ(MakeComDeviceName(nullptr, path, sizeof path), 0);
    char small[8];
    EXPECT_EQ(MakeComDeviceName("/dev/ttyUSB0", small, sizeof small), 0);  // never cut into another name
    EXPECT_EQ(MakeComDeviceName("COM12", small, sizeof small), 0);
    EXPECT_EQ(MakeComDeviceName("ttyUSB0", small, sizeof small), 0);

    // The COM table: an entry replaces the default until it is cleared.
    ASSERT_EQ(SetComDeviceName(3, "/dev/ttyUSB1"), 1);
    ASSERT_EQ(MakeComDeviceName("COM3", path, sizeof path), 1);
    EXPECT_STREQ(path, "/dev/ttyUSB1");
    ASSERT_EQ(MakeComDeviceName("COM4", path, sizeof path), 1);
    EXPECT_STREQ(path, "/dev/ttyS3");
    ASSERT_EQ(SetComDeviceName(3, nullptr), 1);
    ASSERT_EQ(MakeComDeviceName("COM3", path, sizeof path), 1);
    EXPECT_STREQ(path, "/dev/ttyS2");
    EXPECT_EQ(SetComDeviceName(0, "/dev/x"), 0);
    EXPECT_EQ(SetComDeviceName(LV_COM_TABLE_SIZE + 1, "/dev/x"), 0);
}

// ---- Opening --------------------------------------------------------------------------

TEST(SerialPort, FreshRecordDefaults)
{
    lvComPort *port = AllocComPort();
    ASSERT_NE(port, nullptr);
    EXPECT_STREQ(port->name, "COM1");
    EXPECT_EQ(port->baudCode, LV_BAUD_9600);
    EXPECT_EQ(port->dataBitsCode, LV_DATA_8);
    EXPECT_EQ(port->parityCode, 0);
    EXPECT_EQ(port->stopBitsCode, 0);
    EXPECT_EQ(port->flowControlCode, 0);
    EXPECT_EQ(port->open, 0);
    // Nothing works on a port that is not open.
    char b[4];
    int n = 5;
    EXPECT_EQ(ReadComPort(port, b, 4, &n), LVCOM_NOT_OPEN);
    EXPECT_EQ(n, 0);
    EXPECT_EQ(WriteComPort(port, "x", 1, &n), LVCOM_NOT_OPEN);
    EXPECT_EQ(GetComInQueue(port, &n), LVCOM_NOT_OPEN);
    EXPECT_EQ(FlushComPort(port), LVCOM_NOT_OPEN);
    EXPECT_EQ(PurgeComInput(port), LVCOM_NOT_OPEN);
    EXPECT_EQ(SetComBaudRate(port, 1), LVCOM_NOT_OPEN);
    EXPECT_EQ(SetComDtr(port, 1), LVCOM_NOT_OPEN);
    EXPECT_EQ(SetComTimeouts(port, 1, 1), LVCOM_NOT_OPEN);
    EXPECT_EQ(GetComPortDescriptor(port), -1);
    FreeComPort(port);
    FreeComPort(nullptr);
}

TEST(SerialPort, OpenFailures)
{
    const struct {
        const char *name;
        int result;
    } cases[] = {{"", LVCOM_REFUSED},
                 {"/nonexistent/ttyQ9", LVCOM_NO_DEVICE},
                 {"/dev/null", LVCOM_REFUSED}};  // not a terminal: it has no line settings
    for (const auto &c : cases) {
        lvComPort *port = AllocComPort();
        std::snprintf(port->name, sizeof port->name, "%s", c.name);
        EXPECT_EQ(OpenComPort(port), c.result) << c.name;
        EXPECT_EQ(port->open, 0) << c.name;
        if (*c.name) {
            EXPECT_STRNE(GetComPortErrorText(port), "") << c.name;  // the system's reason is kept
        }
        FreeComPort(port);
    }
}

TEST(SerialPort, OpenIsExclusiveAndDescriptorCloseOnExec)
{
    lvTestPty pty;
    ASSERT_TRUE(pty.Open());
    lvComPort *first = OpenOn(pty);
    ASSERT_NE(first, nullptr);
    EXPECT_TRUE(fcntl(GetComPortDescriptor(first), F_GETFD) & FD_CLOEXEC);
    int result = -1;
    EXPECT_EQ(OpenOn(pty, [](lvComPort *) {}, &result), nullptr);
    EXPECT_EQ(result, LVCOM_NO_DEVICE);
    FreeComPort(first);
    // Once closed, the device can be opened again.
    lvComPort *again = OpenOn(pty);
    EXPECT_NE(again, nullptr);
    FreeComPort(again);
}

TEST(SerialPort, OpenSetsRawLineWithTheRequestedSettings)
{
    lvTestPty pty;
    ASSERT_TRUE(pty.Open());
    lvComPort *port = OpenOn(pty, [](lvComPort *p) {
        p->baudCode = LV_BAUD_115200;
        p->stopBitsCode = LV_STOP_2;
        p->flowControlCode = LV_FLOW_HARDWARE;
    });
    ASSERT_NE(port, nullptr);
    termios line = pty.Line();
    EXPECT_EQ(cfgetospeed(&line), B115200);
    EXPECT_TRUE(line.c_cflag & CSTOPB);
    EXPECT_TRUE(line.c_cflag & CRTSCTS);
    EXPECT_TRUE(line.c_cflag & CLOCAL);
    EXPECT_EQ(line.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(line.c_iflag & (IXON | ICRNL), 0u);
    EXPECT_EQ(port->baudCode, LV_BAUD_115200);
    EXPECT_EQ(port->stopBitsCode, LV_STOP_2);
    EXPECT_EQ(port->flowControlCode, LV_FLOW_HARDWARE);
    FreeComPort(port);
}

// An open whose settings the line will not take still opens, and the record tells
// what the line has instead of what was asked for.
TEST(SerialPort, OpenReportsWhatTheLineReallyHas)
{
    lvTestPty pty;
    ASSERT_TRUE(pty.Open());
    termios before = pty.Line();
    int lineBaud = ReadComSetting(&before, LVCOM_SETTING_BAUD);
    lvComPort *port = OpenOn(pty, [](lvComPort *p) {
        p->baudCode = 99;                 // no such code: the line keeps its rate
        p->dataBitsCode = LV_DATA_7;      // a pseudo-terminal is always 8 bits
        p->parityCode = LV_PARITY_EVEN;   // and never has parity
        p->stopBitsCode = LV_STOP_2;      // taken
    });
    ASSERT_NE(port, nullptr);
    EXPECT_EQ(port->baudCode, lineBaud);
    EXPECT_EQ(port->dataBitsCode, LV_DATA_8);
    EXPECT_EQ(port->parityCode, LV_PARITY_NONE);
    EXPECT_EQ(port->stopBitsCode, LV_STOP_2);
    FreeComPort(port);
}

TEST(SerialPort, CloseRestoresTheOriginalLine)
{
    lvTestPty pty;
    ASSERT_TRUE(pty.Open());
    termios cooked = pty.Line();
    cooked.c_lflag |= ICANON | ECHO | ISIG;
    cooked.c_iflag |= ICRNL | IXON;
    cooked.c_oflag |= OPOST | ONLCR;
    cooked.c_cflag |= CSTOPB;
    cooked.c_cc[VMIN] = 3;
    cooked.c_cc[VTIME] = 7;
    cfsetspeed(&cooked, B1200);
    ASSERT_EQ(tcsetattr(pty.slave, TCSANOW, &cooked), 0);
    termios original = pty.Line();

    lvComPort *port = OpenOn(pty, [](lvComPort *p) { p->baudCode = LV_BAUD_460800; });
    ASSERT_NE(port, nullptr);
    termios during = pty.Line();
    EXPECT_EQ(during.c_lflag & ICANON, 0u);
    EXPECT_EQ(cfgetospeed(&during), B460800);
    ASSERT_EQ(SetComStopBits(port, LV_STOP_1), LVCOM_DONE);
    FreeComPort(port);

    termios after = pty.Line();
    EXPECT_EQ(after.c_iflag, original.c_iflag);
    EXPECT_EQ(after.c_oflag, original.c_oflag);
    EXPECT_EQ(after.c_cflag, original.c_cflag);
    EXPECT_EQ(after.c_lflag, original.c_lflag);
    EXPECT_EQ(cfgetospeed(&after), B1200);
    EXPECT_EQ(after.c_cc[VMIN], 3);
    EXPECT_EQ(after.c_cc[VTIME], 7);
}

// ---- Bytes --------------------------------------------------------------------------------

TEST(SerialPort, EveryByteValueCrossesBothWays)
{
    lvTestPty pty;
    ASSERT_TRUE(pty.Open());
    lvComPort *port = OpenOn(pty);
    ASSERT_NE(port, nullptr);
    // All 256 values several times, so CR, LF, XON, XOFF, NUL, 0xFF and the
    // terminal's special characters each come in many neighbourhoods.
    std::string all;
    for (int round = 0; round < 4; round++)
        for (int b = 0; b < 256; b++) all.push_back((char)(round % 2 ? 255 - b : b));

    ASSERT_TRUE(pty.Send(all.data(), all.size()));
    EXPECT_EQ(ReadAll(port, all.size()), all);

    int written = 0;
    ASSERT_EQ(WriteComPort(port, all.data(), (int)all.size(), &written), LVCOM_DONE);
    EXPECT_EQ(written, (int)all.size());
    EXPECT_EQ(pty.Receive(all.size()), all);
    FreeComPort(port);
}

TEST(SerialPort, ReadTimeOutsAndPartialReads)
{
    lvTestPty pty;
    ASSERT_TRUE(pty.Open());
    lvComPort *port = OpenOn(pty);
    ASSERT_NE(port, nullptr);
    char buffer[100];
    int got = -1;

    // A silent line: nothing, after about the time-out.
    auto start = Clock::now();
    EXPECT_EQ(ReadComPortWithTimeout(port, buffer, 100, &got, 60), LVCOM_NOTHING_READ);
    long long waited = MillisSince(start);
    EXPECT_EQ(got, 0);
    EXPECT_GE(waited, 55);
    EXPECT_LT(waited, 1000);

    // What is waiting comes at once, even when more was asked for.
    ASSERT_TRUE(pty.Send("abc", 3));
    int queued = 0;
    for (int i = 0; i < 100 && queued < 3; i++) {
        ASSERT_EQ(GetComInQueue(port, &queued), LVCOM_DONE);
        if (queued < 3) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    EXPECT_EQ(queued, 3);
    start = Clock::now();
    EXPECT_EQ(ReadComPortWithTimeout(port, buffer, 100, &got, 5000), LVCOM_DONE);
    EXPECT_LT(MillisSince(start), 1000);
    ASSERT_EQ(got, 3);
    EXPECT_EQ(std::string(buffer, 3), "abc");

    // A short count takes part of the queue; the rest stays for the next read.
    ASSERT_TRUE(pty.Send("12345", 5));
    EXPECT_EQ(ReadComPortWithTimeout(port, buffer, 2, &got, 2000), LVCOM_DONE);
    ASSERT_EQ(got, 2);
    EXPECT_EQ(std::string(buffer, 2), "12");
    EXPECT_EQ(ReadComPort(port, buffer, 100, &got), LVCOM_DONE);
    EXPECT_EQ(std::string(buffer, (size_t)got), "345");
    EXPECT_EQ(GetComInQueue(port, &queued), LVCOM_DONE);
    EXPECT_EQ(queued, 0);

    // A timed read leaves the port's own time-outs as they were.
    ASSERT_EQ(SetComTimeouts(port, 700, 40), LVCOM_DONE);
    EXPECT_EQ(ReadComPortWithTimeout(port, buffer, 10, &got, 10), LVCOM_NOTHING_READ);
    uint32_t writeMs = 0, readMs = 0;
    ASSERT_EQ(GetComTimeouts(port, &writeMs, &readMs), LVCOM_DONE);
    EXPECT_EQ(writeMs, 700u);
    EXPECT_EQ(readMs, 40u);
    // and a plain read waits the port's read time-out.
    start = Clock::now();
    EXPECT_EQ(ReadComPort(port, buffer, 10, &got), LVCOM_NOTHING_READ);
    EXPECT_GE(MillisSince(start), 35);

    // Purging drops what is waiting.
    ASSERT_TRUE(pty.Send("zz", 2));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(PurgeComInput(port), LVCOM_DONE);
    EXPECT_EQ(ReadComPortWithTimeout(port, buffer, 10, &got, 20), LVCOM_NOTHING_READ);

    EXPECT_EQ(ReadComPortWithTimeout(port, buffer, 0, &got, 20), LVCOM_REFUSED);
    FreeComPort(port);
}

TEST(SerialPort, ReadWithoutTimeOutWaitsForTheFirstByte)
{
    lvTestPty pty;
    ASSERT_TRUE(pty.Open());
    lvComPort *port = OpenOn(pty);
    ASSERT_NE(port, nullptr);
    std::thread sender([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        pty.Send("late", 4);
    });
    char buffer[16];
    int got = 0;
    auto start = Clock::now();
    EXPECT_EQ(ReadComPort(port, buffer, 16, &got), LVCOM_DONE);
    EXPECT_GE(MillisSince(start), 40);
    sender.join();
    std::string text(buffer, (size_t)got);
    EXPECT_EQ(text, std::string("late").substr(0, text.size()));
    FreeComPort(port);
}

TEST(SerialPort, HangUpEndsAWaitingReadWithAFailure)
{
    lvTestPty pty;
    ASSERT_TRUE(pty.Open());
    lvComPort *port = OpenOn(pty);
    ASSERT_NE(port, nullptr);
    pty.CloseMaster();
    char buffer[8];
    int got = 5;
    auto start = Clock::now();
    EXPECT_EQ(ReadComPort(port, buffer, 8, &got), LVCOM_READ_FAILED);
    EXPECT_EQ(got, 0);
    EXPECT_LT(MillisSince(start), 1000);
    FreeComPort(port);
}

// A line nobody reads: a timed write stops at its time-out with what went out,
// and closing the port does not wait for the stuck output.
// Bytes the port took are not thrown away by its close, even while the other end has
// not read them yet (a last acknowledgement written just before the close).
TEST(SerialPort, CloseKeepsWhatWasWrittenForTheReader)
{
    lvTestPty pty;
    ASSERT_TRUE(pty.Open());
    lvComPort *port = OpenOn(pty);
    ASSERT_NE(port, nullptr);
    const std::string last = "~last acknowledgement";
    int written = 0;
    ASSERT_EQ(WriteComPort(port, last.data(), (int)last.size(), &written), LVCOM_DONE);
    ASSERT_EQ(written, (int)last.size());
    FreeComPort(port);
    EXPECT_EQ(pty.Receive(last.size()), last);
}

TEST(SerialPort, StuckLineNeitherHangsWritesNorClose)
{
    lvTestPty pty;
    ASSERT_TRUE(pty.Open());
    lvComPort *port = OpenOn(pty);
    ASSERT_NE(port, nullptr);
    std::vector<char> block(1 << 20, 'x');
    int written = -1;
    auto start = Clock::now();
    EXPECT_EQ(WriteComPortWithTimeout(port, block.data(), (int)block.size(), &written, 100), LVCOM_DONE);
    long long waited = MillisSince(start);
    EXPECT_GT(written, 0);
    EXPECT_LT(written, (int)block.size());
    EXPECT_GE(waited, 90);
    EXPECT_LT(waited, 2000);
    // The port's own write time-out serves the plain write.
    ASSERT_EQ(SetComTimeouts(port, 30, 0), LVCOM_DONE);
    start = Clock::now();
    EXPECT_EQ(WriteComPort(port, block.data(), 4096, &written), LVCOM_DONE);
    EXPECT_LT(written, 4096);
    EXPECT_LT(MillisSince(start), 2000);

    start = Clock::now();
    FreeComPort(port);
    EXPECT_LT(MillisSince(start), 3000);
}

// The stop request ends every wait of a port: a read without time-out on a silent
// line, a write without time-out on a stuck line, and the drain of the close.
static std::atomic<int> g_testStop{0};
static int TestStopRequested(void) { return g_testStop.load(); }

TEST(SerialPort, StopRequestEndsEveryWaitWithinASlice)
{
    lvTestPty pty;
    ASSERT_TRUE(pty.Open());
    lvComPort *port = OpenOn(pty);
    ASSERT_NE(port, nullptr);
    g_testStop = 0;
    SetComStopCheck(TestStopRequested);
    std::vector<char> block(1 << 20, 'x');
    char buffer[16];
    int got = -1, written = -1;
    const struct {
        const char *what;
        std::function<int()> wait;
        int *count;
        int least, most;  // what the count must be: nothing read; the first write fills the line
    } waits[] = {
        {"read", [&] { return ReadComPort(port, buffer, sizeof buffer, &got); }, &got, 0, 0},
        {"timed read", [&] { return ReadComPortWithTimeout(port, buffer, sizeof buffer, &got, 60000); }, &got, 0, 0},
        {"write", [&] { return WriteComPort(port, block.data(), (int)block.size(), &written); }, &written, 1,
         (int)block.size() - 1},
        {"timed write",
         [&] { return WriteComPortWithTimeout(port, block.data(), (int)block.size(), &written, 60000); },
         &written, 0, (int)block.size() - 1},
    };
    for (const auto &w : waits) {
        g_testStop = 0;
        std::atomic<long long> stoppedAt{0};
        auto start = Clock::now();
        std::thread stopper([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(150));
            stoppedAt = MillisSince(start);
            g_testStop = 1;
        });
        int r = w.wait();
        long long ended = MillisSince(start);
        stopper.join();
        EXPECT_EQ(r, LVCOM_STOPPED) << w.what;
        EXPECT_LT(ended - stoppedAt.load(), 100 + LV_COM_STOP_SLICE) << w.what;
        EXPECT_GE(*w.count, w.least) << w.what << ": what went out before the stop is counted";
        EXPECT_LE(*w.count, w.most) << w.what;
    }
    // With the stop still requested the close does not wait for the stuck output.
    auto start = Clock::now();
    FreeComPort(port);
    EXPECT_LT(MillisSince(start), 100 + LV_COM_STOP_SLICE);
    SetComStopCheck(nullptr);
    g_testStop = 0;
}

// ---- Setters ------------------------------------------------------------------------------

TEST(SerialPort, SettersChangeTheLineOrRefuseAndKeepTheCode)
{
    lvTestPty pty;
    ASSERT_TRUE(pty.Open());
    lvComPort *port = OpenOn(pty);
    ASSERT_NE(port, nullptr);
    const speed_t speeds[LV_BAUD_CODES] = {B300,   B2400,   B4800,   B9600, B19200, B38400,
                                           B57600, B115200, B460800, B600,  B1200};
    for (int code = 0; code < LV_BAUD_CODES; code++) {
        ASSERT_EQ(SetComBaudRate(port, code), LVCOM_DONE) << code;
        EXPECT_EQ(port->baudCode, code);
        termios line = pty.Line();
        EXPECT_EQ(cfgetospeed(&line), speeds[code]) << code;
    }
    EXPECT_EQ(SetComBaudRate(port, 11), LVCOM_REFUSED);
    EXPECT_EQ(SetComBaudRate(port, -1), LVCOM_REFUSED);
    EXPECT_EQ(port->baudCode, LV_BAUD_1200);

    EXPECT_EQ(SetComStopBits(port, LV_STOP_2), LVCOM_DONE);
    EXPECT_TRUE(pty.Line().c_cflag & CSTOPB);
    EXPECT_EQ(SetComFlowControl(port, LV_FLOW_XON_XOFF), LVCOM_DONE);
    EXPECT_EQ(pty.Line().c_iflag & (IXON | IXOFF), (tcflag_t)(IXON | IXOFF));
    EXPECT_EQ(SetComFlowControl(port, LV_FLOW_HARDWARE), LVCOM_DONE);
    EXPECT_TRUE(pty.Line().c_cflag & CRTSCTS);
    EXPECT_EQ(pty.Line().c_iflag & (IXON | IXOFF), 0u);
    EXPECT_EQ(port->flowControlCode, LV_FLOW_HARDWARE);

    // A pseudo-terminal takes tcsetattr for 7 bits or parity and stays 8N: the
    // setter sees through that, refuses, and the code stays.
    EXPECT_EQ(SetComDataBits(port, LV_DATA_7), LVCOM_REFUSED);
    EXPECT_EQ(port->dataBitsCode, LV_DATA_8);
    EXPECT_EQ(pty.Line().c_cflag & CSIZE, (tcflag_t)CS8);
    EXPECT_EQ(SetComParity(port, LV_PARITY_ODD), LVCOM_REFUSED);
    EXPECT_EQ(port->parityCode, LV_PARITY_NONE);
    EXPECT_EQ(SetComDataBits(port, LV_DATA_8), LVCOM_DONE);
    EXPECT_EQ(SetComParity(port, LV_PARITY_NONE), LVCOM_DONE);
    // A refused setting leaves the others as they were.
    termios line = pty.Line();
    EXPECT_EQ(cfgetospeed(&line), B1200);

    // No modem lines on a pseudo-terminal: DTR and RTS are refused, codes kept.
    EXPECT_EQ(SetComDtr(port, LV_DTR_ON), LVCOM_REFUSED);
    EXPECT_EQ(SetComRts(port, LV_RTS_ON), LVCOM_REFUSED);
    EXPECT_EQ(port->dtrCode, LV_DTR_OFF);
    EXPECT_EQ(port->rtsCode, LV_RTS_OFF);
    EXPECT_STRNE(GetComPortErrorText(port), "");
    EXPECT_EQ(SetComDtr(port, 2), LVCOM_REFUSED);
    EXPECT_EQ(SetComRts(port, -1), LVCOM_REFUSED);

    EXPECT_EQ(FlushComPort(port), LVCOM_DONE);
    EXPECT_EQ(SetComQueueSizes(port, 4096, 4096), LVCOM_DONE);
    FreeComPort(port);
}

// ---- The COM table from lists and the environment -------------------------------------

TEST(SerialNames, ListsSetTheTableAllOrNothing)
{
    char path[LV_PATH_SIZE];
    ASSERT_EQ(SetComDeviceNames(" COM1 = /dev/ttyUSB0 ; com2=/dev/ttyACM0,7=/dev/pts/9;; "), 3);
    const struct {
        const char *name, *path;
    } cases[] = {{"COM1", "/dev/ttyUSB0"}, {"COM2", "/dev/ttyACM0"}, {"7", "/dev/pts/9"}, {"COM3", "/dev/ttyS2"}};
    for (const auto &c : cases) {
        ASSERT_EQ(MakeComDeviceName(c.name, path, sizeof path), 1);
        EXPECT_STREQ(path, c.path) << c.name;
    }
    // A malformed entry anywhere changes nothing.
    for (const char *bad : {"COM1=/dev/x;COM2", "COMx=/dev/x", "COM0=/dev/x", "COM257=/dev/x", "=/dev/x",
                            "COM1 2=/dev/x"}) {
        EXPECT_EQ(SetComDeviceNames(bad), -1) << bad;
        ASSERT_EQ(MakeComDeviceName("COM1", path, sizeof path), 1);
        EXPECT_STREQ(path, "/dev/ttyUSB0") << bad;
    }
    // An empty path restores the default.
    ASSERT_EQ(SetComDeviceNames("COM1=;COM2=,7="), 3);
    ASSERT_EQ(MakeComDeviceName("COM1", path, sizeof path), 1);
    EXPECT_STREQ(path, "/dev/ttyS0");
    ASSERT_EQ(MakeComDeviceName("COM7", path, sizeof path), 1);
    EXPECT_STREQ(path, "/dev/ttyS6");
    EXPECT_EQ(SetComDeviceNames(""), 0);
}

// Run by the test below in a process of its own with the variable set, since the
// environment is read once per process.
TEST(SerialNames, EnvironmentListChild)
{
    if (!std::getenv("LV_SERIAL_TEST_CHILD")) GTEST_SKIP() << "runs as the child of EnvironmentListIsTheStartingTable";
    char path[LV_PATH_SIZE];
    ASSERT_EQ(MakeComDeviceName("COM4", path, sizeof path), 1);
    EXPECT_STREQ(path, "/dev/ttyUSB3");
    ASSERT_EQ(SetComDeviceName(4, "/dev/ttyACM1"), 1);  // the program's own setting wins
    ASSERT_EQ(MakeComDeviceName("COM4", path, sizeof path), 1);
    EXPECT_STREQ(path, "/dev/ttyACM1");
}

TEST(SerialNames, EnvironmentListIsTheStartingTable)
{
    std::string command = "LV_SERIAL_TEST_CHILD=1 " LV_COM_PORTS_VARIABLE "='COM4=/dev/ttyUSB3' "
                          "/proc/" + std::to_string(getpid()) + "/exe --gtest_filter=SerialNames.EnvironmentListChild "
                          ">/dev/null 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0);
}

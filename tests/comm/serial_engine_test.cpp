// The serial port engine on pseudo-terminals: the port list and identifiers,
// re-opening a number, settings as the line has them, reads, writes, queues,
// and shut-down.
#include "comm/serial.h"
#include "runtime/errors.h"
#include "base/lverrors.h"
#include "tests/platform/serial_pty.h"

#include <gtest/gtest.h>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <vector>

// Counts the user-data references the engine releases.
struct lvReleaseCounter {
    int released = 0;
    std::vector<int> refs;
};

static void CountRelease(void *context, int ref)
{
    lvReleaseCounter *c = (lvReleaseCounter *)context;
    c->released++;
    c->refs.push_back(ref);
}

class SerialEngine : public ::testing::Test {
protected:
    lvReleaseCounter counter;
    lvRefOps ops = {&counter, nullptr, CountRelease};

    void SetUp() override
    {
        ResetErrorState();
        ASSERT_EQ(OpenSerialLibrary(&ops), 0);
    }
    void TearDown() override
    {
        FreeSerialPorts();
        FreeObjectTypes();
    }
    static lvObjectId Num(int n) { return {n, nullptr}; }
};

TEST_F(SerialEngine, NumbersHandlesAndLookupErrors)
{
    lvTestPty a, b;
    ASSERT_TRUE(a.Open());
    ASSERT_TRUE(b.Open());
    lvSerialPort *numbered = nullptr, *automatic = nullptr;
    ASSERT_EQ(OpenSerialPort(1, false, a.path.c_str(), nullptr, &numbered), 0);
    ASSERT_EQ(OpenSerialPort(0, true, b.path.c_str(), nullptr, &automatic), 0);
    EXPECT_EQ(numbered->header.identifier, 1);
    EXPECT_EQ(numbered->header.handle, nullptr);
    EXPECT_EQ(automatic->header.identifier, 0);
    EXPECT_EQ(automatic->header.handle, (void *)automatic);
    EXPECT_TRUE(IsSerialPortOpen(numbered));
    // The registry sees both, in open order in the library's list.
    EXPECT_EQ(CountObjectsOfType(LV_SERIAL_OBJECT_TYPE), 2);
    EXPECT_EQ(FindAnyObject(LV_SERIAL_OBJECT_TYPE, Num(1)), &numbered->header);
    EXPECT_EQ(FirstSerialPort(), numbered);
    EXPECT_EQ((lvSerialPort *)FirstSerialPort()->header.next, automatic);

    lvObjectId handle = GetObjectIdOf(&automatic->header);
    lvSerialPort *found = nullptr;
    EXPECT_EQ(FindSerialPort(handle, &found), 0);
    EXPECT_EQ(found, automatic);
    EXPECT_EQ(CloseSerialPort(handle), 0);
    EXPECT_EQ(CloseSerialPort(handle), ERR_FINDARRAY);  // a stale handle
    EXPECT_EQ(CloseSerialPort(Num(7)), ERR_FINDSERIAL);
    EXPECT_EQ(GetErrorState()->numberArg, 7);
    int code;
    EXPECT_EQ(GetSerialSetting(Num(7), LV_SERIAL_BAUD, &code), ERR_FINDSERIAL);
    EXPECT_EQ(SetSerialSetting(handle, LV_SERIAL_BAUD, 3), ERR_FINDARRAY);
    EXPECT_EQ(FlushSerialPort(Num(7)), ERR_FINDSERIAL);
    EXPECT_EQ(ClearSerialQueue(Num(7)), ERR_FINDSERIAL);
    EXPECT_EQ(PollSerialQueue(Num(7), &code), ERR_FINDSERIAL);
    EXPECT_EQ(CountObjectsOfType(LV_SERIAL_OBJECT_TYPE), 1);
}

// A number in use is closed before the new open, so it is free even when that open fails.
TEST_F(SerialEngine, ReopeningANumberClosesTheOldPortFirst)
{
    lvTestPty pty;
    ASSERT_TRUE(pty.Open());
    ASSERT_EQ(OpenSerialPort(1, false, pty.path.c_str(), nullptr, nullptr), 0);
    // The same device again under the same number: the old port is gone first, so
    // the exclusive open does not stand in the way.
    ASSERT_EQ(OpenSerialPort(1, false, pty.path.c_str(), nullptr, nullptr), 0);
    EXPECT_EQ(CountObjectsOfType(LV_SERIAL_OBJECT_TYPE), 1);
    // but under another number it does.
    EXPECT_EQ(OpenSerialPort(2, false, pty.path.c_str(), nullptr, nullptr), ERR_OPENSERIAL);

    EXPECT_EQ(OpenSerialPort(1, false, "/nonexistent/ttyQ1", nullptr, nullptr), ERR_OPENSERIAL);
    EXPECT_STREQ(GetErrorState()->textArg, "/nonexistent/ttyQ1");
    lvSerialPort *found;
    EXPECT_EQ(FindSerialPort(Num(1), &found), ERR_FINDSERIAL);
    EXPECT_EQ(OpenSerialPort(3, false, "", nullptr, nullptr), ERR_OPENSERIAL);
    EXPECT_EQ(CountObjectsOfType(LV_SERIAL_OBJECT_TYPE), 0);
    // The device was really let go.
    EXPECT_EQ(OpenSerialPort(4, false, pty.path.c_str(), nullptr, nullptr), 0);
}

// A /dev/serial/by-id-length name opens its own device, never the device that its
// first 30 bytes happen to name; a name no path can hold is refused with its text.
TEST_F(SerialEngine, LongNamesOpenTheirWholePath)
{
    char dir[] = "/tmp/lvserialXXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    std::string prefix = std::string(dir) + "/";
    prefix += std::string(30 - prefix.size(), 'p');
    ASSERT_EQ(prefix.size(), 30u);
    std::string name = prefix + "-usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0";
    lvTestPty wanted, other;
    ASSERT_TRUE(wanted.Open());
    ASSERT_TRUE(other.Open());
    ASSERT_EQ(symlink(wanted.path.c_str(), name.c_str()), 0);
    ASSERT_EQ(symlink(other.path.c_str(), prefix.c_str()), 0);  // the 30-byte cut names another line

    lvSerialPort *port = nullptr;
    ASSERT_EQ(OpenSerialPort(1, false, name.c_str(), nullptr, &port), 0);
    EXPECT_EQ(std::string(port->port->name), prefix);  // the record shows its first 30 bytes
    size_t written = 0;
    ASSERT_EQ(WriteSerialData(Num(1), "hi", 2, 1000, &written), 0);
    EXPECT_EQ(wanted.Receive(2, 2000), "hi");
    EXPECT_EQ(other.Receive(1, 50), "");
    CloseSerialPort(Num(1));

    // A missing long path fails with its whole name in the message.
    std::string missing = name + "-missing";
    EXPECT_EQ(OpenSerialPort(2, false, missing.c_str(), nullptr, nullptr), ERR_OPENSERIAL);
    EXPECT_EQ(std::string(GetErrorState()->textArg), missing);
    std::string huge(LV_PATH_SIZE + 10, 'x');
    huge[0] = '/';
    EXPECT_EQ(OpenSerialPort(3, false, huge.c_str(), nullptr, nullptr), ERR_OPENSERIAL);
    EXPECT_EQ(CountObjectsOfType(LV_SERIAL_OBJECT_TYPE), 0);
    unlink(name.c_str());
    unlink(prefix.c_str());
    rmdir(dir);
}

TEST_F(SerialEngine, SettingsTellWhatTheLineHas)
{
    lvTestPty pty;
    ASSERT_TRUE(pty.Open());
    termios line = pty.Line();
    speed_t lineSpeed = cfgetospeed(&line);
    lvSerialOptions options;
    InitSerialOptions(&options);
    options.baudCode = 99;               // no such code: the line keeps its rate
    options.dataBitsCode = LV_DATA_7;    // a pseudo-terminal stays at 8 bits
    options.stopBitsCode = LV_STOP_2;
    options.flowControlCode = LV_FLOW_XON_XOFF;
    ASSERT_EQ(OpenSerialPort(1, false, pty.path.c_str(), &options, nullptr), 0);
    line = pty.Line();
    EXPECT_EQ(cfgetospeed(&line), lineSpeed);
    int code = -2;
    ASSERT_EQ(GetSerialSetting(Num(1), LV_SERIAL_BAUD, &code), 0);
    EXPECT_EQ(code, LV_BAUD_38400);  // a fresh pseudo-terminal's rate
    GetSerialSetting(Num(1), LV_SERIAL_DATABITS, &code);
    EXPECT_EQ(code, LV_DATA_8);
    GetSerialSetting(Num(1), LV_SERIAL_STOPBITS, &code);
    EXPECT_EQ(code, LV_STOP_2);
    GetSerialSetting(Num(1), LV_SERIAL_FLOW, &code);
    EXPECT_EQ(code, LV_FLOW_XON_XOFF);

    // A setter stores the code (not the rate), or refuses and keeps the old one.
    ASSERT_EQ(SetSerialSetting(Num(1), LV_SERIAL_BAUD, LV_BAUD_115200), 0);
    GetSerialSetting(Num(1), LV_SERIAL_BAUD, &code);
    EXPECT_EQ(code, 7);
    EXPECT_EQ(SetSerialSetting(Num(1), LV_SERIAL_BAUD, 99), ERR_WRONGUSAGE);
    GetSerialSetting(Num(1), LV_SERIAL_BAUD, &code);
    EXPECT_EQ(code, 7);
    line = pty.Line();
    EXPECT_EQ(cfgetospeed(&line), B115200);
    EXPECT_EQ(SetSerialSetting(Num(1), LV_SERIAL_FLOW, LV_FLOW_OFF), 0);
    EXPECT_EQ(pty.Line().c_iflag & (IXON | IXOFF), 0u);
    // No modem lines on a pseudo-terminal.
    EXPECT_EQ(SetSerialSetting(Num(1), LV_SERIAL_DTR, LV_DTR_ON), ERR_WRONGUSAGE);
    EXPECT_EQ(SetSerialSetting(Num(1), LV_SERIAL_RTS, LV_RTS_ON), ERR_WRONGUSAGE);
    EXPECT_EQ(SetSerialSetting(Num(1), 99, 0), ERR_WRONGUSAGE);
    EXPECT_EQ(GetSerialSetting(Num(1), 99, &code), ERR_WRONGUSAGE);
}

TEST_F(SerialEngine, ReadsWritesAndQueues)
{
    lvTestPty pty;
    ASSERT_TRUE(pty.Open());
    ASSERT_EQ(OpenSerialPort(1, false, pty.path.c_str(), nullptr, nullptr), 0);
    lvSerialRead read;

    // Argument errors: the look-up comes first for reads, the data first for writes.
    EXPECT_EQ(ReadSerialData(Num(9), 0, 0, &read), ERR_FINDSERIAL);
    EXPECT_EQ(ReadSerialData(Num(1), 0, 0, &read), ERR_WRONGUSAGE);
    EXPECT_EQ(read.data, nullptr);
    size_t written = 99;
    EXPECT_EQ(WriteSerialData(Num(9), "", 0, 0, &written), ERR_WRONGUSAGE);
    EXPECT_EQ(WriteSerialData(Num(9), "x", 1, 0, &written), ERR_FINDSERIAL);

    // A silent line with a time-out: "", 0, timed out.
    auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(ReadSerialData(Num(1), 100, 60, &read), 0);
    auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(55));
    EXPECT_NE(read.data, nullptr);
    EXPECT_EQ(read.bytesRead, 0);
    EXPECT_EQ(read.timedOut, 1);
    FreeMemory(read.data);

    // Waiting bytes come at once, not timed out.
    ASSERT_TRUE(pty.Send("a\0c", 3));
    int waiting = 0;
    for (int i = 0; i < 100 && waiting < 3; i++) {
        ASSERT_EQ(PollSerialQueue(Num(1), &waiting), 0);
        if (waiting < 3) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    EXPECT_EQ(waiting, 3);
    ASSERT_EQ(ReadSerialData(Num(1), 100, 500, &read), 0);
    EXPECT_EQ(std::string(read.data, (size_t)read.bytesRead), std::string("a\0c", 3));
    EXPECT_EQ(read.timedOut, 0);
    FreeMemory(read.data);

    ASSERT_EQ(WriteSerialData(Num(1), "hello\r\n", 7, 0, &written), 0);
    EXPECT_EQ(written, 7u);
    EXPECT_EQ(pty.Receive(7), "hello\r\n");
    ASSERT_EQ(WriteSerialData(Num(1), "timed", 5, 250, &written), 0);
    EXPECT_EQ(written, 5u);
    EXPECT_EQ(pty.Receive(5), "timed");

    ASSERT_TRUE(pty.Send("drop", 4));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(ClearSerialQueue(Num(1)), 0);
    EXPECT_EQ(PollSerialQueue(Num(1), &waiting), 0);
    EXPECT_EQ(waiting, 0);
    EXPECT_EQ(FlushSerialPort(Num(1)), 0);

    // A hung-up line is an I/O error, not an endless wait.
    pty.CloseMaster();
    EXPECT_EQ(ReadSerialData(Num(1), 10, 0, &read), ERR_SERIALIO);
    EXPECT_EQ(read.data, nullptr);
}

TEST_F(SerialEngine, ShutDownClosesEveryPortAndReleasesUserData)
{
    lvTestPty a, b;
    ASSERT_TRUE(a.Open());
    ASSERT_TRUE(b.Open());
    termios cooked = a.Line();
    cooked.c_lflag |= ICANON | ECHO;
    ASSERT_EQ(tcsetattr(a.slave, TCSANOW, &cooked), 0);
    lvSerialPort *pa = nullptr, *pb = nullptr;
    ASSERT_EQ(OpenSerialPort(1, false, a.path.c_str(), nullptr, &pa), 0);
    ASSERT_EQ(OpenSerialPort(0, true, b.path.c_str(), nullptr, &pb), 0);
    EXPECT_EQ(a.Line().c_lflag & ICANON, 0u);
    ASSERT_EQ(SetObjectUserData(&pa->header, "peer", 11, &ops), 0);
    ASSERT_EQ(SetObjectUserData(&pb->header, "peer", 12, &ops), 0);
    ASSERT_EQ(SetObjectUserData(&pb->header, "nick", 13, &ops), 0);

    ASSERT_EQ(CloseSerialPort(Num(1)), 0);
    EXPECT_EQ(counter.refs, std::vector<int>({11}));
    EXPECT_TRUE(a.Line().c_lflag & ICANON);  // the line as it was before the open

    ASSERT_EQ(OpenSerialPort(1, false, a.path.c_str(), nullptr, &pa), 0);
    FreeSerialPorts();
    EXPECT_EQ(counter.released, 3);
    EXPECT_EQ(FirstSerialPort(), nullptr);
    EXPECT_EQ(CountObjectsOfType(LV_SERIAL_OBJECT_TYPE), 0);
    EXPECT_TRUE(a.Line().c_lflag & ICANON);
}

TEST(SerialConstants, TableHasTheScriptValues)
{
    const struct {
        const char *name;
        int value;
    } expected[] = {{"SERIAL", 60},        {"BAUD_300", 0},    {"BAUD_600", 9},        {"BAUD_1200", 10},
                    {"BAUD_2400", 1},      {"BAUD_4800", 2},   {"BAUD_9600", 3},       {"BAUD_19200", 4},
                    {"BAUD_38400", 5},     {"BAUD_57600", 6},  {"BAUD_115200", 7},     {"BAUD_460800", 8},
                    {"DATA_5", 0},         {"DATA_6", 1},      {"DATA_7", 2},          {"DATA_8", 3},
                    {"PARITY_NONE", 0},    {"PARITY_ODD", 1},  {"PARITY_EVEN", 2},     {"STOP_1", 0},
                    {"STOP_2", 1},         {"FLOW_OFF", 0},    {"FLOW_HARDWARE", 1},   {"FLOW_XON_XOFF", 2},
                    {"DTR_OFF", 0},        {"DTR_ON", 1},      {"RTS_OFF", 0},         {"RTS_ON", 1}};
    ASSERT_EQ(lvSerialConstantCount, (int)(sizeof expected / sizeof expected[0]));
    for (int i = 0; i < lvSerialConstantCount; i++) {
        EXPECT_STREQ(lvSerialConstants[i].name, expected[i].name);
        EXPECT_EQ(lvSerialConstants[i].value, expected[i].value) << expected[i].name;
    }
}

TEST(SerialOptions, KeysFillTheirFieldsAndNothingElse)
{
    lvSerialOptions options;
    InitSerialOptions(&options);
    EXPECT_EQ(options.baudCode, LV_BAUD_9600);
    EXPECT_EQ(options.dataBitsCode, LV_DATA_8);
    EXPECT_EQ(options.parityCode | options.stopBitsCode | options.flowControlCode | options.dtrCode |
                  options.rtsCode,
              0);
    for (int i = 0; i < LV_SERIAL_OPTION_COUNT; i++)
        ASSERT_TRUE(SetSerialOption(&options, lvSerialOptionKeys[i], 100 + i)) << lvSerialOptionKeys[i];
    const int32_t got[] = {options.baudCode,        options.dataBitsCode, options.parityCode, options.stopBitsCode,
                           options.flowControlCode, options.dtrCode,      options.rtsCode};
    for (int i = 0; i < LV_SERIAL_OPTION_COUNT; i++) EXPECT_EQ(got[i], 100 + i) << lvSerialOptionKeys[i];
    lvSerialOptions before = options;
    EXPECT_FALSE(SetSerialOption(&options, "BaudRate", 1));
    EXPECT_FALSE(SetSerialOption(&options, "speed", 1));
    EXPECT_FALSE(SetSerialOption(&options, nullptr, 1));
    EXPECT_EQ(std::memcmp(&options, &before, sizeof options), 0);
}

// The serial library's commands called from assembled chunks, with the runtime's host
// services: argument counts and argument errors, the applet-version check, and a port on
// a pseudo-terminal driven through every kind of command.
#include "comm/lib_serial.h"
#include "comm/serial.h"
#include "runtime/container.h"
#include "tests/platform/serial_pty.h"
#include "tests/runtime/rtcmds_util.h"

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

namespace {

class SerialCommands : public RtCmdsTest {
protected:
    void SetUp() override
    {
        RtCmdsTest::SetUp();
        ASSERT_EQ(OpenSerialCommands(L), 0);
    }
    void TearDown() override
    {
        CloseSerialCommands(L, 1);
        FreeObjectTypes();
        RtCmdsTest::TearDown();
    }
    // Calls the command with operands written as assembler constants ("1", "\"COM1\"",
    // "nil"); an operand "@name" is the global of that name. Keeps `results` results.
    int Call(const std::string &command, const std::vector<std::string> &operands, int results = 0)
    {
        SetStackTop(L, 0);
        ResetVMRun();
        std::string text = "getglobal r0 \"" + command + "\"\n";
        for (size_t i = 0; i < operands.size(); i++) {
            std::string reg = "r" + std::to_string(i + 1);
            if (operands[i][0] == '@') text += "getglobal " + reg + " \"" + operands[i].substr(1) + "\"\n";
            else text += "loadk " + reg + " " + operands[i] + "\n";
        }
        std::string in = std::to_string(operands.size() + 1), out = std::to_string(results + 1);
        text += "call r0 " + in + " " + out + "\nreturn r0 " + out + "\n";
        return Run(text);
    }
    // Stores the value at the stack index as a global.
    void SetGlobal(const char *name, int index)
    {
        if (index < 0) index = GetStackTop(L) + 1 + index;
        PushString(L, name);
        PushCopy(L, index);
        SetTableValueRaw(L, LV_GLOBALSINDEX);
    }
    std::string Message(int code)
    {
        char text[512];
        GetErrorText(code, text, sizeof text);
        return text;
    }
};

// Each command with one argument too few and one too many.
TEST_F(SerialCommands, ArgumentCountsAreCheckedFirst)
{
    struct Row {
        const char *command;
        int min, max;
    };
    const Row rows[] = {
        {"openserialport", 2, 3}, {"closeserialport", 1, 1}, {"readserialdata", 2, 3},
        {"writeserialdata", 2, 3}, {"flushserialport", 1, 1}, {"setbaudrate", 2, 2},
        {"setstopbits", 2, 2},    {"setdatabits", 2, 2},     {"setparity", 2, 2},
        {"setflowcontrol", 2, 2}, {"setdtr", 2, 2},          {"setrts", 2, 2},
        {"getbaudrate", 1, 1},    {"getstopbits", 1, 1},     {"getdatabits", 1, 1},
        {"getparity", 1, 1},      {"getflowcontrol", 1, 1},  {"getdtr", 1, 1},
        {"getrts", 1, 1},         {"pollserialqueue", 1, 1}, {"clearserialqueue", 1, 1},
    };
    for (const Row &row : rows) {
        // Operands that would fail later in other ways: the count must be what is reported.
        std::vector<std::string> few((size_t)row.min - 1, "\"x\""), many((size_t)row.max + 1, "\"x\"");
        EXPECT_EQ(Call(row.command, few), ERR_MISSINGPARAMTR) << row.command;
        EXPECT_EQ(Call(row.command, many), ERR_TOOMANYARGS) << row.command;
    }
    const lvCommandEntry *table = GetSerialCommands();
    int count = 0;
    while (table[count].name) count++;
    EXPECT_EQ(count, 21);
}

TEST_F(SerialCommands, LookupAndArgumentErrors)
{
    EXPECT_EQ(Call("closeserialport", {"5"}), ERR_FINDSERIAL);
    EXPECT_NE(Message(ERR_FINDSERIAL).find("5"), std::string::npos) << Message(ERR_FINDSERIAL);
    EXPECT_EQ(Call("readserialdata", {"7", "10"}), ERR_FINDSERIAL);
    EXPECT_EQ(Call("getbaudrate", {"7"}), ERR_FINDSERIAL);
    EXPECT_EQ(Call("setparity", {"7", "1"}), ERR_FINDSERIAL);
    EXPECT_EQ(Call("pollserialqueue", {"7"}), ERR_FINDSERIAL);
    // Empty data is refused before the port is looked up.
    EXPECT_EQ(Call("writeserialdata", {"99", "\"\""}), ERR_WRONGUSAGE);
    EXPECT_EQ(Call("openserialport", {"1", "\"\""}), ERR_OPENSERIAL);
    EXPECT_EQ(Call("openserialport", {"1", "\"/dev/lv-no-such-port\""}), ERR_OPENSERIAL);
    EXPECT_NE(Message(ERR_OPENSERIAL).find("/dev/lv-no-such-port"), std::string::npos);
    EXPECT_EQ(Call("openserialport", {"1", "\"/dev/lv-no-such-port\"", "5"}), ERR_TABEXPECTED);
    EXPECT_NE(Message(ERR_TABEXPECTED).find("argument 3"), std::string::npos) << Message(ERR_TABEXPECTED);
    // Nil in place of the options table is no table at all: the defaults apply.
    EXPECT_EQ(Call("openserialport", {"1", "\"/dev/lv-no-such-port\"", "nil"}), ERR_OPENSERIAL);
    EXPECT_EQ(Call("openserialport", {"\"one\"", "\"/dev/lv-no-such-port\""}), ERR_NUMEXPECTED);
    EXPECT_EQ(FirstSerialPort(), nullptr);
}

TEST_F(SerialCommands, OpeningNeedsAnAppletOfVersionEight)
{
    lvAppletRecord *record = new lvAppletRecord{};
    record->parsed = 1;
    record->formatMajor = 7;
    record->formatMinor = 9;
    SetRegistryPointer(L, "applet", record);
    EXPECT_EQ(Call("openserialport", {"1", "\"/dev/lv-no-such-port\""}), ERR_OLDAPPLET);
    record->formatMajor = 8;
    record->formatMinor = 0;
    EXPECT_EQ(Call("openserialport", {"1", "\"/dev/lv-no-such-port\""}), ERR_OPENSERIAL);
    SetRegistryPointer(L, "applet", nullptr);
    delete record;
}

TEST_F(SerialCommands, PortOnAPseudoTerminal)
{
    lvTestPty pty;
    ASSERT_TRUE(pty.Open());
    PushString(L, pty.path.c_str());
    SetGlobal("device", -1);
    SetStackTop(L, 0);

    // Nil makes a handle; the options table's codes reach the line, and the port's codes
    // tell what the line took (an unknown rate code leaves the line's own rate).
    ASSERT_EQ(Run(R"(
    getglobal r0 "openserialport"
    loadnil   r1 r1
    getglobal r2 "device"
    newtable  r3 0 2
    settable  r3 "baudrate" 99
    settable  r3 "stopbits" 1
    call      r0 4 2
    return    r0 2
)"),
              0);
    ASSERT_EQ(GetValueType(L, 1), LV_TPOINTER);
    SetGlobal("port", 1);
    ASSERT_EQ(Call("getbaudrate", {"@port"}, 1), 0);
    EXPECT_EQ(Num(1), 5);  // BAUD_38400, a fresh pseudo-terminal's rate
    ASSERT_EQ(Call("getstopbits", {"@port"}, 1), 0);
    EXPECT_EQ(Num(1), 1);  // STOP_2

    // Setters store the code, not the rate; a refused code leaves the stored one.
    EXPECT_EQ(Call("setbaudrate", {"@port", "7"}), 0);
    EXPECT_EQ(Call("setbaudrate", {"@port", "99"}), ERR_WRONGUSAGE);
    EXPECT_EQ(Call("setbaudrate", {"@port", "1e20"}), ERR_WRONGUSAGE);
    ASSERT_EQ(Call("getbaudrate", {"@port"}, 1), 0);
    EXPECT_EQ(Num(1), 7);
    // A pseudo-terminal has no modem lines: the setter is refused, the code stays.
    EXPECT_EQ(Call("setdtr", {"@port", "1"}), ERR_WRONGUSAGE);
    ASSERT_EQ(Call("getdtr", {"@port"}, 1), 0);
    EXPECT_EQ(Num(1), 0);
    EXPECT_EQ(Call("setflowcontrol", {"@port", "2"}), 0);
    ASSERT_EQ(Call("getflowcontrol", {"@port"}, 1), 0);
    EXPECT_EQ(Num(1), 2);
    EXPECT_EQ(Call("setflowcontrol", {"@port", "0"}), 0);

    // Bytes of any value go out and come in.
    ASSERT_EQ(Call("writeserialdata", {"@port", "\"a\\x00\\xff\\r\\n\"", "1000"}, 2), 0);
    EXPECT_EQ(Num(1), 5);
    EXPECT_EQ(Num(2), 0);
    EXPECT_EQ(pty.Receive(5), std::string("a\0\xff\r\n", 5));

    ASSERT_TRUE(pty.Send("x\0y", 3));
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    double waiting = 0;
    while (waiting < 3 && std::chrono::steady_clock::now() < until) {
        ASSERT_EQ(Call("pollserialqueue", {"@port"}, 1), 0);
        waiting = Num(1);
    }
    EXPECT_EQ(waiting, 3);
    ASSERT_EQ(Call("readserialdata", {"@port", "100", "500"}, 3), 0);
    EXPECT_EQ(Str(1), std::string("x\0y", 3));
    EXPECT_EQ(Num(2), 3);
    EXPECT_EQ(Num(3), 0);

    // Nothing waiting: the time-out ends the read with an empty string and the flag.
    auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(Call("readserialdata", {"@port", "10", "100"}, 3), 0);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(80));
    EXPECT_EQ(Str(1), "");
    EXPECT_EQ(Num(2), 0);
    EXPECT_EQ(Num(3), 1);
    EXPECT_EQ(Call("readserialdata", {"@port", "0"}), ERR_WRONGUSAGE);
    EXPECT_EQ(Call("readserialdata", {"@port", "-1e30"}), ERR_WRONGUSAGE);

    // ClearSerialQueue drops what came in.
    ASSERT_TRUE(pty.Send("zzzz", 4));
    until = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    waiting = 0;
    while (waiting < 4 && std::chrono::steady_clock::now() < until) {
        ASSERT_EQ(Call("pollserialqueue", {"@port"}, 1), 0);
        waiting = Num(1);
    }
    EXPECT_EQ(Call("clearserialqueue", {"@port"}), 0);
    ASSERT_EQ(Call("pollserialqueue", {"@port"}, 1), 0);
    EXPECT_EQ(Num(1), 0);
    EXPECT_EQ(Call("flushserialport", {"@port"}), 0);

    // A closed handle is no longer found.
    EXPECT_EQ(Call("closeserialport", {"@port"}), 0);
    EXPECT_EQ(Call("closeserialport", {"@port"}), ERR_FINDARRAY);
    EXPECT_EQ(FirstSerialPort(), nullptr);
}

TEST_F(SerialCommands, ReopeningANumberClosesTheOldPortAndShutDownClosesTheRest)
{
    lvTestPty first, second;
    ASSERT_TRUE(first.Open());
    ASSERT_TRUE(second.Open());
    std::string a = "\"" + first.path + "\"", b = "\"" + second.path + "\"";
    ASSERT_EQ(Call("openserialport", {"1", a}), 0);
    ASSERT_EQ(Call("openserialport", {"2", b}), 0);
    // A failed open under the number 1 still closed the old port 1.
    EXPECT_EQ(Call("openserialport", {"1", "\"/dev/lv-no-such-port\""}), ERR_OPENSERIAL);
    EXPECT_EQ(Call("getbaudrate", {"1"}), ERR_FINDSERIAL);
    ASSERT_EQ(Call("getbaudrate", {"2"}, 1), 0);
    EXPECT_EQ(Num(1), 3);  // BAUD_9600 by default
    ASSERT_NE(FirstSerialPort(), nullptr);
    CloseSerialCommands(L, 1);
    EXPECT_EQ(FirstSerialPort(), nullptr);
}

// The object library sees the ports as type 60 and keeps script data on them until the
// port closes, by CloseSerialPort or at shut-down.
TEST_F(SerialCommands, PortsAreObjectsWithScriptData)
{
    lvTestPty first, second;
    ASSERT_TRUE(first.Open());
    ASSERT_TRUE(second.Open());
    ASSERT_EQ(Call("openserialport", {"3", "\"" + first.path + "\""}), 0);
    ASSERT_EQ(Call("openserialport", {"4", "\"" + second.path + "\""}), 0);
    ASSERT_EQ(Call("haveobject", {"60", "3"}, 1), 0);
    EXPECT_EQ(Num(1), 1);
    ASSERT_EQ(Call("setobjectdata", {"60", "3", "\"owner\"", "\"chat\""}), 0);
    ASSERT_EQ(Call("setobjectdata", {"60", "4", "\"owner\"", "\"files\""}), 0);
    ASSERT_EQ(Call("getobjectdata", {"60", "3", "\"owner\""}, 1), 0);
    EXPECT_EQ(Str(1), "chat");
    EXPECT_EQ(Call("closeserialport", {"3"}), 0);
    ASSERT_EQ(Call("haveobject", {"60", "3"}, 1), 0);
    EXPECT_EQ(Num(1), 0);
    ASSERT_EQ(Call("getobjectdata", {"60", "4", "\"owner\""}, 1), 0);
    EXPECT_EQ(Str(1), "files");
    CloseSerialCommands(L, 1);  // releases port 4 and its data
    ASSERT_EQ(Call("haveobject", {"60", "4"}, 1), 0);
    EXPECT_EQ(Num(1), 0);
}

TEST(SerialCommandTables, ConstantsAreTheEnginesWithTheirValues)
{
    const lvConstantEntry *constants = GetSerialConstants();
    int count = 0;
    for (; constants[count].name; count++) {
        EXPECT_EQ(constants[count].string, nullptr);
        EXPECT_STREQ(constants[count].name, lvSerialConstants[count].name);
        EXPECT_EQ(constants[count].number, lvSerialConstants[count].value);
    }
    EXPECT_EQ(count, lvSerialConstantCount);
    EXPECT_STREQ(constants[0].name, "SERIAL");
    EXPECT_EQ(constants[0].number, 60);
}

}  // namespace

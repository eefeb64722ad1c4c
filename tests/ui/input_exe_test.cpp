// Input applets run by the built runtime with the test display adapter's scripted input:
// buttons (hover order, presses, MouseX), legacy label jumps, and message ports between
// two running programs with deferred calls.
#include <gtest/gtest.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

std::vector<std::string> ReadLines(const std::string &path)
{
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string l; std::getline(in, l);) lines.push_back(l);
    return lines;
}

std::string TempDir()
{
    char dir[] = "/tmp/lv_input_exe_XXXXXX";
    EXPECT_NE(mkdtemp(dir), nullptr);
    return dir;
}

// The command line of an applet run with the test display adapter.
std::string Command(const std::string &base, const std::string &stem, const std::string &input, const std::string &tag,
                    const std::string &plugin = "testadapter")
{
    std::string command = "XDG_RUNTIME_DIR='" + base + "' ";
    if (!input.empty()) command += "LVT_ADAPTER_INPUT='" + input + "' ";
    command += "timeout --preserve-status -k 5 20 '" + std::string(LV_BIN_DIR) + "/lumivarra' '" + LV_BUILD_DIR +
               "/tests/ui/input_exe/" + stem + ".lva' -REQUIREPLUGINS '" + LV_TESTPLUGIN_DIR +
               "/" + plugin + "' -QUIET >'" + base + "/" + tag + ".out' 2>'" + base + "/" + tag + ".err' </dev/null";
    return command;
}

struct AppletRun {
    int exitCode;
    std::vector<std::string> out;
    std::string err;
};

AppletRun RunApplet(const std::string &stem, const std::string &input, const std::string &environment = "")
{
    std::string base = TempDir();
    int status = std::system((environment + Command(base, stem, input, "run")).c_str());
    AppletRun run{WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadLines(base + "/run.out"), ""};
    std::ifstream err(base + "/run.err");
    std::stringstream s;
    s << err.rdbuf();
    run.err = s.str();
    return run;
}

std::vector<std::string> WithoutReady(const std::vector<std::string> &lines)
{
    std::vector<std::string> out;
    for (const std::string &l : lines)
        if (l != "ready") out.push_back(l);
    return out;
}

}  // namespace

TEST(InputExe, ButtonsHoverInOrderAndPressesBelongToTheirButton)
{
    AppletRun run = RunApplet("buttons", "wait 100;move 5 5;wait 100;move 15 5;wait 100;down 15 5;wait 100;"
                                         "up 15 5;wait 100;down 5 5;wait 100;up 15 5;wait 100;ctrlc");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    std::vector<std::string> expected = {"OnMouseOver 1 5",  "OnMouseOut 1 15",  "OnMouseOver 2 15",
                                         "OnMouseDown 2 15", "OnMouseUp 2 15",   "OnMouseDown 1 5"};
    EXPECT_EQ(WithoutReady(run.out), expected);
}

// Making a numbered button drops only what its lookup left: ExitOnError(False) stays,
// so the failing command after it is only recorded and the run ends with its own code.
TEST(InputExe, NumberedButtonKeepsTheErrorMode)
{
    AppletRun run = RunApplet("buttonerrors", "");
    EXPECT_EQ(run.exitCode, 4) << run.err;
    EXPECT_EQ(run.out, std::vector<std::string>{"recorded 1344"}) << run.err;
}

TEST(InputExe, LegacyLabelsJumpAndReturnToTheWaitingCommand)
{
    AppletRun run = RunApplet("legacy", "wait 100;move 20 20;down 20 20;wait 100;up 20 20;wait 100;move 21 20;"
                                        "down 21 20;wait 100;up 21 20;wait 100;key a;wait 100;ctrlc");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    // The click at 20,20 jumps and never reaches the handler; the one at 21,20 does.
    std::vector<std::string> expected = {"click1", "OnMouseDown 21", "key2"};
    EXPECT_EQ(WithoutReady(run.out), expected);
}

TEST(InputExe, PortsBetweenTwoProgramsAndDeferredCallsInOrder)
{
    std::string base = TempDir();
    std::string receiver = Command(base, "portrecv", "", "recv");
    std::thread waiter([&] { std::system(receiver.c_str()); });
    bool ready = false;
    for (int i = 0; i < 200 && !ready; i++) {
        for (const std::string &l : ReadLines(base + "/recv.out")) ready |= l == "ready";
        if (!ready) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ASSERT_TRUE(ready);
    int status = std::system(Command(base, "portsend", "", "send").c_str());
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    waiter.join();
    EXPECT_EQ(ReadLines(base + "/send.out"), (std::vector<std::string>{"1260", "1275", "1055", "1055", "0"}));
    std::vector<std::string> received = WithoutReady(ReadLines(base + "/recv.out"));
    std::vector<std::string> expected = {"callback 1", "callback 2", "callback 3", "cmd 2 \"a b\" \"c\""};
    EXPECT_EQ(received, expected);
}

TEST(InputExe, ClipboardTextRoundTripAndRefusedKinds)
{
    // SDL keeps a few blocks of its video start-up past its own shut-down: leak checks of
    // this run would report SDL, not us.
    AppletRun run = RunApplet("clipboard", "", "ASAN_OPTIONS=detect_leaks=0 ");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    std::vector<std::string> expected = {"get 1 héllo € ✓", "peek 1", "cleared 0", "empty 0", "sound 1055"};
    EXPECT_EQ(WithoutReady(run.out), expected);
}

TEST(InputExe, WaitKeyDownSeesAPressReleasedInTheSamePass)
{
    // The adapter delivers each "key" as a press and its release together.
    AppletRun run = RunApplet("waitkey", "wait 500;key a;wait 300;key b");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(WithoutReady(run.out), (std::vector<std::string>{"a", "any b"}));
}

TEST(InputExe, MessagePortAdapterDeliversThroughItsEvent)
{
    std::string base = TempDir();
    std::string command = "LVT_IPC_LOG='" + base + "/ipc.log' " + Command(base, "ipc", "", "run", "testipc");
    int status = std::system(command.c_str());
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    // A port the adapter does not deliver to is its send error; the own port's message
    // arrives whole.
    EXPECT_EQ(ReadLines(base + "/run.out"), (std::vector<std::string>{"nobody 1536", "cmd 2 \"a b\" \"c\""}));
    std::vector<std::string> log = ReadLines(base + "/ipc.log");
    ASSERT_GE(log.size(), 4u);
    EXPECT_EQ(log[0], "InstallIpcAdapter 0");
    EXPECT_EQ(log[1], "CreateIPCPort lvtest_ipc");
    EXPECT_EQ(log[2].rfind("SendIPCMessage nobody ", 0), 0u);
    EXPECT_EQ(log[3].rfind("SendIPCMessage lvtest_ipc ", 0), 0u);
}

// Advanced console mode on a real terminal emulator: tmux runs the runtime in a pane of
// 80 x 24, the test types keys with send-keys and reads the screen with capture-pane
// (text, and with -e the styles and colours). Screens are compared with committed ones;
// every wait polls the pane for a condition, bounded in time.
#include "tests/stop_budget.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <unistd.h>

namespace {

std::string Capture(const std::string &command)
{
    std::string out;
    FILE *p = popen((command + " 2>/dev/null").c_str(), "r");
    if (!p) return out;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, p)) > 0) out.append(buffer, n);
    pclose(p);
    return out;
}

std::string ReadFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// After the run: the exit code and whether the terminal is back in its usual mode.
const char *kAfterRun = "; echo EXIT=$?; stty -a | tr -s \" ;\" \"\\n\" | grep -x -e -icanon -e -echo -e icanon -e echo; echo MODE-END; sleep 60";

// One tmux server of its own per test, with one session "t".
class TmuxConsole {
public:
    // setup runs first in the pane's shell; then a shell that writes its id and becomes
    // the runtime; afterwards the pane shows the exit code and the terminal's mode.
    TmuxConsole(const std::string &setup, const std::string &runtime)
    {
        socket_ = "lvconsole" + std::to_string(getpid()) + "_" + std::to_string(counter_++);
        pidFile_ = "/tmp/" + socket_ + ".pid";
        std::string inner = setup + "sh -c " + Quote("echo $$ > " + pidFile_ + "; exec " + runtime) + kAfterRun;
        Run("-f /dev/null new-session -d -x 80 -y 24 -s t " + Quote("sh -c " + Quote(inner)));
    }
    ~TmuxConsole()
    {
        Run("kill-server");
        std::remove(pidFile_.c_str());
    }

    std::string Run(const std::string &arguments) { return Capture("tmux -L " + socket_ + " " + arguments); }
    std::string Screen(bool styles = false) { return Run(std::string("capture-pane -p") + (styles ? " -e" : "") + " -t t"); }
    void Keys(const std::string &keys) { Run("send-keys -t t " + keys); }

    // Polls the pane until it shows text (at most ms).
    bool WaitFor(const std::string &text, int ms = 10000)
    {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (Screen().find(text) == std::string::npos) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return true;
    }

    pid_t RuntimePid() { return static_cast<pid_t>(std::atoi(ReadFile(pidFile_).c_str())); }

    static std::string Quote(const std::string &text)
    {
        std::string q = "'";
        for (char c : text) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
        return q + "'";
    }

private:
    static inline int counter_ = 0;
    std::string socket_, pidFile_;
};

std::string RuntimeOn(const std::string &stem)
{
    return std::string(LV_BIN_DIR) + "/lumivarra " + LV_BUILD_DIR + "/tests/ui/console/" + stem + ".lva";
}


std::string Committed(const std::string &name)
{
    return ReadFile(std::string(LV_SOURCE_DIR) + "/tests/ui/console_screens/" + name);
}

}  // namespace

TEST(ConsoleTmux, ScreenKeysLineAndControlCharacters)
{
    TmuxConsole tmux("", RuntimeOn("screen"));
    ASSERT_TRUE(tmux.WaitFor("keys:")) << tmux.Screen();
    EXPECT_EQ(tmux.Run("display -p -t t '#{pane_title}'"), "lvtitle\n");
    tmux.Keys("Down End F1 PPage é");
    ASSERT_TRUE(tmux.WaitFor("keys: 258 358 265 339 233")) << tmux.Screen();
    // A box, a derived window inside a window, bold, underline, reverse, red on blue.
    EXPECT_EQ(tmux.Screen(), Committed("screen.txt"));
    EXPECT_EQ(tmux.Screen(true), Committed("screen_styles.txt"));
    // A typed line of 300 characters is cut at 255.
    tmux.Keys(std::string(300, 'a') + " Enter");
    ASSERT_TRUE(tmux.WaitFor("got 255 aaaaaaaaaa")) << tmux.Screen();
    EXPECT_TRUE(tmux.WaitFor("ctl 21 127 23 bye")) << tmux.Screen();
    tmux.Keys("x");
    ASSERT_TRUE(tmux.WaitFor("EXIT=0")) << tmux.Screen();
    ASSERT_TRUE(tmux.WaitFor("MODE-END")) << tmux.Screen();
    std::string after = tmux.Screen();
    EXPECT_NE(after.find("\nicanon"), std::string::npos) << after;
    EXPECT_NE(after.find("\necho"), std::string::npos) << after;
}

TEST(ConsoleTmux, TheLineEditorFollowsTheTerminalsEraseKillAndWordErase)
{
    TmuxConsole tmux("stty erase ^H kill ^U werase ^W; ", RuntimeOn("screen"));
    ASSERT_TRUE(tmux.WaitFor("keys:")) << tmux.Screen();
    tmux.Keys("a b c d e");
    ASSERT_TRUE(tmux.WaitFor("line:")) << tmux.Screen();
    // "one two" with the word erased is "one "; a killed line is gone; erase takes one.
    tmux.Keys("'zzz' C-u 'one two' C-w 'x' C-h 'yz' Enter");
    ASSERT_TRUE(tmux.WaitFor("got 6 one yz")) << tmux.Screen();
    EXPECT_TRUE(tmux.WaitFor("ctl 21 8 23 bye")) << tmux.Screen();
    tmux.Keys("x");
    EXPECT_TRUE(tmux.WaitFor("EXIT=0")) << tmux.Screen();
}

TEST(ConsoleTmux, AStopSignalInReadConsoleKeyLeavesASaneTerminal)
{
    TmuxConsole tmux("", RuntimeOn("screen"));
    ASSERT_TRUE(tmux.WaitFor("keys:")) << tmux.Screen();
    pid_t pid = tmux.RuntimePid();
    ASSERT_GT(pid, 0);
    auto start = std::chrono::steady_clock::now();
    kill(pid, SIGTERM);
    ASSERT_TRUE(tmux.WaitFor("EXIT=", 5000)) << tmux.Screen();
    auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    // tmux is polled for the result, which adds its own delay to the budget.
    EXPECT_LT(took.count(), kStopBudgetMs + 1500);
    ASSERT_TRUE(tmux.WaitFor("MODE-END")) << tmux.Screen();
    std::string after = tmux.Screen();
    EXPECT_NE(after.find("\nicanon"), std::string::npos) << after;
    EXPECT_NE(after.find("\necho"), std::string::npos) << after;
    EXPECT_EQ(after.find("keys:"), std::string::npos) << "the curses screen was not left";
}

TEST(ConsoleTmux, AdvancedModeFaultsAndColours)
{
    TmuxConsole tmux("TERM=xterm-256color; export TERM; ", RuntimeOn("faults"));
    ASSERT_TRUE(tmux.WaitFor("EXIT=0")) << tmux.Screen();
    // Window 5 inside window 5 is refused and window 5 still works (10 columns); cells
    // that do not fit are refused; bold reports standout; scrolling needs "scroll";
    // GetConsoleStr gives the characters; 128 grey comes back as 127; pen 3 is no pen of
    // the script's.
    EXPECT_NE(tmux.Screen().find("results: 1681 1055 1055 1055 65 130 3 1678 éx pen8 8355711 1646 10 end"),
              std::string::npos)
        << tmux.Screen();
}

TEST(ConsoleTmux, AnErrorInAdvancedModeIsReadableOnASaneTerminal)
{
    TmuxConsole tmux("", RuntimeOn("adverror"));
    ASSERT_TRUE(tmux.WaitFor("EXIT=")) << tmux.Screen();
    ASSERT_TRUE(tmux.WaitFor("MODE-END")) << tmux.Screen();
    std::string after = tmux.Screen();
    EXPECT_NE(after.find("Could not find console window 77!"), std::string::npos) << after;
    EXPECT_EQ(after.find("EXIT=0"), std::string::npos) << after;
    EXPECT_NE(after.find("\nicanon"), std::string::npos) << after;
    EXPECT_NE(after.find("\necho"), std::string::npos) << after;
}

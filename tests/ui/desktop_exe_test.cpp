// Applets run by the built runtime on a desktop of the test's own (Xvfb), acted on by other
// programs: a picture put by xclip is read by the script and put back for xclip to read
// pixel for pixel; a system requester is answered with Return through xdotool.
#include "tests/ui/xvfb_server.h"
#include "ui/lib_clipboard.h"
#include "platform/lvplatform.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <poll.h>
#include <signal.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;


std::vector<std::string> ReadLines(const std::string &path)
{
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string l; std::getline(in, l);) lines.push_back(l);
    return lines;
}

std::string ReadFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

bool HasLine(const std::string &path, const std::string &prefix)
{
    for (const std::string &l : ReadLines(path))
        if (l.compare(0, prefix.size(), prefix) == 0) return true;
    return false;
}

bool WaitForLine(const std::string &path, const std::string &prefix, int seconds = 20)
{
    auto end = Clock::now() + std::chrono::seconds(seconds);
    while (!HasLine(path, prefix)) {
        if (Clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

class DesktopExe : public ::testing::Test {
protected:
    static pid_t xvfb;
    static std::string display, base;
    static void SetUpTestSuite()
    {
        xvfb = StartXvfb(&display, "640x480x24");
        char dir[] = "/tmp/lv_desktop_exe_XXXXXX";
        base = mkdtemp(dir) ? dir : "/tmp";
    }
    static void TearDownTestSuite()
    {
        if (xvfb > 0) {
            kill(xvfb, SIGTERM);
            waitpid(xvfb, nullptr, 0);
        }
        std::system(("rm -rf '" + base + "'").c_str());
    }
    void SetUp() override
    {
        if (xvfb <= 0) GTEST_SKIP() << "Xvfb did not start";
    }
    // Windows in memory unless the test shows a real one on the server.
    std::string Env(const char *driver = "offscreen")
    {
        return "export DISPLAY=" + display + " SDL_VIDEODRIVER=" + driver + " XDG_RUNTIME_DIR='" + base + "'; ";
    }
    // The runtime on an applet in the background; its output in base/<stem>.out.
    // With leaks checked, the leak checker (in sanitized builds) runs with the repository's
    // suppressions for the libraries below the runtime, as every sanitized test run does.
    std::thread Run(const std::string &stem, int *status, const char *driver = "offscreen", bool leaks = false)
    {
        std::string checker = leaks ? std::string("ASAN_OPTIONS=detect_leaks=1 LSAN_OPTIONS=suppressions='") +
                                          LV_SOURCE_DIR + "/tests/lsan.supp':print_suppressions=0 "
                                    : std::string("ASAN_OPTIONS=detect_leaks=0 ");
        std::string command = Env(driver) + checker + "timeout --preserve-status -k 5 30 '" +
                              LV_BIN_DIR + "/lumivarra' '" + LV_BUILD_DIR + "/tests/ui/desktop_exe/" + stem +
                              ".lva' -QUIET >'" + base + "/" + stem + ".out' 2>'" + base + "/" + stem +
                              ".err' </dev/null";
        return std::thread([command, status] { *status = std::system(command.c_str()); });
    }
    int Tool(const std::string &command) { return std::system((Env() + command).c_str()); }
};
pid_t DesktopExe::xvfb = -1;
std::string DesktopExe::display, DesktopExe::base;

}  // namespace

TEST_F(DesktopExe, PictureFromAnotherProgramIsReadAndPutBackPixelForPixel)
{
    if (std::system("command -v xclip >/dev/null") != 0) GTEST_SKIP() << "xclip missing";
    // Green, then a pixel masked out (alpha 0), as a PNG file of 2 x 1.
    const uint32_t picture[2] = {0xFF00FF00u, 0x00000000u};
    void *png = nullptr;
    size_t size = 0;
    ASSERT_EQ(EncodeArgbPng(picture, 2, 1, &png, &size), 0);
    {
        std::ofstream f(base + "/in.png", std::ios::binary);
        f.write((const char *)png, (std::streamsize)size);
    }
    FreeMemory(png);
    ASSERT_EQ(Tool("xclip -selection clipboard -t image/png -i '" + base + "/in.png' >/dev/null 2>&1"), 0);
    // xclip takes the clipboard from its background half: wait until it offers the picture.
    ASSERT_EQ(Tool("for i in $(seq 200); do xclip -selection clipboard -t TARGETS -o 2>/dev/null | "
                   "grep -qx image/png && exit 0; sleep 0.05; done; exit 1"),
              0);
    int status = -1;
    std::thread run = Run("clipimage", &status);
    std::string out = base + "/clipimage.out";
    bool put = WaitForLine(out, "put");
    std::string read;
    if (put) {
        ASSERT_EQ(Tool("xclip -selection clipboard -t image/png -o > '" + base + "/out.png'"), 0);
        read = ReadFile(base + "/out.png");
    }
    // Text from another program ends the applet's wait.
    Tool("printf done | xclip -selection clipboard >/dev/null 2>&1");
    run.join();
    ASSERT_TRUE(put) << ReadFile(base + "/clipimage.err");
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << ReadFile(base + "/clipimage.err");
    // Type 2, width 2, masked; the mask reads 0 where the picture was transparent.
    std::vector<std::string> expected = {"type 2 2 1", "pixel0 65280 1", "pixel1 0 0", "put 0", "done 0"};
    EXPECT_EQ(ReadLines(out), expected);
    uint32_t *back = nullptr;
    int width = 0, height = 0;
    ASSERT_EQ(DecodePngArgb(read.data(), read.size(), &back, &width, &height), 0);
    EXPECT_EQ(width, 2);
    EXPECT_EQ(height, 1);
    EXPECT_EQ(back[0], picture[0]);
    EXPECT_EQ(back[1], picture[1]);
    FreeMemory(back);
}

TEST_F(DesktopExe, SystemRequesterAnsweredWithReturn)
{
    if (std::system("command -v xdotool >/dev/null") != 0) GTEST_SKIP() << "xdotool missing";
    int status = -1;
    // The box stands on the display's own window, so the display is a real X11 window.
    std::thread run = Run("sysbox", &status, "x11");
    // The box is found by its title once shown (SDL names it in a way xdotool's search
    // does not read, xwininfo does); a screenshot of it stays with the build.
    std::string shot = std::string(LV_BUILD_DIR) + "/tests/ui/desktop_exe/sysbox.png";
    std::string id = base + "/box.id";
    int found = Tool("for i in $(seq 400); do xwininfo -root -tree | sed -n 's/^ *\\(0x[0-9a-f]*\\) \"Lumivarra "
                     "box\".*/\\1/p' > '" + id + "'; [ -s '" + id + "' ] && exit 0; sleep 0.05; done; exit 1");
    if (found == 0) {
        Tool("command -v import >/dev/null && import -window root '" + shot + "'");
        Tool("timeout 15 xdotool windowfocus --sync $(cat '" + id + "') key Return");
    }
    run.join();
    ASSERT_EQ(found, 0) << ReadFile(base + "/sysbox.err");
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << ReadFile(base + "/sysbox.err");
    // Return presses the first button: the first of custom buttons is choice 1.
    EXPECT_EQ(ReadLines(base + "/sysbox.out"), (std::vector<std::string>{"choice 1"}));
}

// A run that showed a GTK dialog ends with the applet's own code, under the leak checker
// too: the runtime leaves the font configuration the dialogs share alone at exit, where
// finalising it aborted, and asks SDL nothing from the script thread, where an error SDL
// recorded was never freed.
TEST_F(DesktopExe, TextDialogRunEndsWithTheAppletsOwnCode)
{
    if (std::system("command -v xdotool >/dev/null") != 0) GTEST_SKIP() << "xdotool missing";
    if (access((std::string(LV_BIN_DIR) + "/lv_gtkdialogs.so").c_str(), R_OK) != 0) GTEST_SKIP() << "no GTK dialogs";
    for (int round = 0; round < 3; round++) {
        SCOPED_TRACE(round);
        int status = -1;
        std::thread run = Run("stringreq", &status, "offscreen", true);
        std::string id = base + "/text.id";
        int found = Tool("for i in $(seq 400); do xdotool search --name '^Lumivarra text$' 2>/dev/null | head -1 > '" +
                         id + "'; [ -s '" + id + "' ] && exit 0; sleep 0.05; done; exit 1");
        if (found == 0) Tool("timeout 15 xdotool windowfocus --sync $(cat '" + id + "') type --delay 20 word; "
                             "timeout 15 xdotool key --window $(cat '" + id + "') Return");
        run.join();
        ASSERT_EQ(found, 0) << ReadFile(base + "/stringreq.err");
        ASSERT_TRUE(WIFEXITED(status)) << "signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0) << "\n"
                                       << ReadFile(base + "/stringreq.err");
        EXPECT_EQ(WEXITSTATUS(status), 7) << ReadFile(base + "/stringreq.err");
        EXPECT_EQ(ReadLines(base + "/stringreq.out"), (std::vector<std::string>{"text word 1"}));
    }
}

// A run without an applet on the command line asks for one with the desktop's file
// dialog; the path typed into it runs. Without a display server the run ends with 1059's
// message and the usage instead.
TEST_F(DesktopExe, RunWithoutAppletAsksForOneWithTheFileDialog)
{
    if (std::system("command -v xdotool >/dev/null") != 0) GTEST_SKIP() << "xdotool missing";
    if (access((std::string(LV_BIN_DIR) + "/lv_gtkdialogs.so").c_str(), R_OK) != 0) GTEST_SKIP() << "no GTK dialogs";
    std::string applet = std::string(LV_BUILD_DIR) + "/tests/ui/desktop_exe/chosen.lva";
    int status = -1;
    std::string command = Env() + "ASAN_OPTIONS=detect_leaks=0 timeout --preserve-status -k 5 30 '" + LV_BIN_DIR +
                          "/lumivarra' >'" + base + "/chosen.out' 2>'" + base + "/chosen.err' </dev/null";
    std::thread run([command, &status] { status = std::system(command.c_str()); });
    std::string id = base + "/chooser.id";
    int found = Tool("for i in $(seq 400); do xdotool search --name '^Select Lumivarra applet to run$' 2>/dev/null | "
                     "head -1 > '" + id + "'; [ -s '" + id + "' ] && exit 0; sleep 0.05; done; exit 1");
    // ctrl+L opens the location field, which is realized a moment later: GTK drops the keys
    // that reach it before. The path is typed again (ctrl+L selects what the field holds)
    // until the dialog has closed on Return, a bounded number of times.
    if (found == 0)
        Tool("w=$(cat '" + id + "'); for t in $(seq 10); do "
             "timeout 15 xdotool windowfocus --sync $w key ctrl+l type --delay 5 '" + applet + "' 2>/dev/null; "
             "timeout 15 xdotool key --window $w Return 2>/dev/null; "
             "for i in $(seq 20); do xdotool search --onlyvisible --name '^Select Lumivarra applet to run$' "
             ">/dev/null 2>&1 || exit 0; sleep 0.05; done; done; exit 1");
    run.join();
    ASSERT_EQ(found, 0) << ReadFile(base + "/chosen.err");
    ASSERT_TRUE(WIFEXITED(status)) << ReadFile(base + "/chosen.err");
    EXPECT_EQ(WEXITSTATUS(status), 5) << ReadFile(base + "/chosen.err");
    EXPECT_EQ(ReadLines(base + "/chosen.out"), (std::vector<std::string>{"chosen applet runs"}));

    // No display server: no dialog, the message of 1059.
    std::string headless = "unset DISPLAY WAYLAND_DISPLAY; SDL_VIDEODRIVER=offscreen timeout -k 5 30 '" +
                           std::string(LV_BIN_DIR) + "/lumivarra' >'" + base + "/none.out' 2>&1 </dev/null";
    int none = std::system(headless.c_str());
    EXPECT_TRUE(WIFEXITED(none) && WEXITSTATUS(none) != 0 && WEXITSTATUS(none) != 124);
    EXPECT_NE(ReadFile(base + "/none.out").find("No script filename specified!"), std::string::npos)
        << ReadFile(base + "/none.out");
}

// X errors do not end the process: the snapshot of a window partly off the screen is the
// part on it (black beyond), and a window wider than the server takes is only reported.
TEST_F(DesktopExe, RefusedXRequestsLeaveTheRunToTheApplet)
{
    // The applet names the picture relative to its own folder.
    std::string saved = std::string(LV_BUILD_DIR) + "/tests/ui/desktop_exe/xerrors.png";
    std::remove(saved.c_str());
    int status = -1;
    std::thread run = Run("xerrors", &status, "x11");
    run.join();
    std::string err = ReadFile(base + "/xerrors.err");
    ASSERT_TRUE(WIFEXITED(status)) << err;
    EXPECT_EQ(WEXITSTATUS(status), 5) << err;
    EXPECT_EQ(ReadLines(base + "/xerrors.out"), (std::vector<std::string>{"snapshot 0", "scaled 0"})) << err;
    std::string png = ReadFile(saved);
    uint32_t *pixels = nullptr;
    int width = 0, height = 0;
    ASSERT_EQ(DecodePngArgb(png.data(), png.size(), &pixels, &width, &height), 0) << err;
    // The window with its frame; its top-left corner lay off the screen.
    EXPECT_GE(width, 320);
    EXPECT_GE(height, 240);
    EXPECT_EQ(pixels[0], 0xFF000000u);
    EXPECT_EQ(pixels[(size_t)width * height - 1], 0xFF336699u);
    FreeMemory(pixels);
}

// A run that opened real X windows ends with the applet's own code under the leak
// checker too: the GL driver the windows loaded keeps what it holds reachable to the end
// (unloaded with the last window, its blocks were reported as leaks, exit 1), and the
// third-party leaks left are matched by the suppression file.
TEST_F(DesktopExe, RealWindowRunEndsWithItsOwnCodeUnderTheLeakChecker)
{
    int status = -1;
    std::thread run = Run("x11window", &status, "x11", true);
    run.join();
    std::string err = ReadFile(base + "/x11window.err");
    ASSERT_TRUE(WIFEXITED(status)) << err;
    EXPECT_EQ(WEXITSTATUS(status), 6) << err;
    EXPECT_EQ(err.find("LeakSanitizer"), std::string::npos) << err;
    EXPECT_EQ(ReadLines(base + "/x11window.out"), (std::vector<std::string>{"shown"})) << err;
}

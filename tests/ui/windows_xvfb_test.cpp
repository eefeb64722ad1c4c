// Real X11 windows: the test starts its own Xvfb (-displayfd, black root), runs the built
// runtime on it, compares a screenshot of the root window (XGetImage) pixel-exact, then
// plays input through XTest: pointer moves and presses, the "a" key, dragging a
// borderless display by its default drag region, and Ctrl+C, which ends the run.
// Skipped when Xvfb cannot start.
#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <cerrno>
#include <cstdio>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <poll.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// A child process with its output read line by line.
struct Child {
    pid_t pid = -1;
    int out = -1;
    std::string pending;
    std::vector<std::string> lines;

    // Reads what arrived within ms; false at end of output.
    bool Read(int ms)
    {
        struct pollfd p = {out, POLLIN, 0};
        if (poll(&p, 1, ms) <= 0) return true;
        char buffer[4096];
        ssize_t got = read(out, buffer, sizeof buffer);
        if (got <= 0) return false;
        pending.append(buffer, (size_t)got);
        for (size_t nl; (nl = pending.find('\n')) != std::string::npos;) {
            lines.push_back(pending.substr(0, nl));
            pending.erase(0, nl + 1);
        }
        return true;
    }
    // Waits up to seconds for a line starting with prefix; its index, or -1.
    int WaitLine(const std::string &prefix, double seconds, size_t from = 0)
    {
        auto end = Clock::now() + std::chrono::milliseconds((int)(seconds * 1000));
        for (;;) {
            for (size_t i = from; i < lines.size(); i++)
                if (lines[i].rfind(prefix, 0) == 0) return (int)i;
            if (Clock::now() > end || !Read(50)) return -1;
        }
    }
};

pid_t Spawn(const std::vector<std::string> &argv, const std::vector<std::string> &env, int stdoutFd, int keepFd)
{
    pid_t pid = fork();
    if (pid != 0) return pid;
    for (const std::string &e : env) putenv(strdup(e.c_str()));
    if (stdoutFd >= 0) dup2(stdoutFd, 1);
    int devnull = open("/dev/null", O_RDWR);
    dup2(devnull, 0);
    if (stdoutFd < 0) dup2(devnull, 1);
    dup2(devnull, 2);
    for (int fd = 3; fd < 256; fd++)
        if (fd != keepFd) close(fd);
    std::vector<char *> args;
    for (const std::string &a : argv) args.push_back(strdup(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
}

// Waits for a child up to seconds; its exit status, or -1 (then it is killed).
int Reap(pid_t pid, double seconds)
{
    auto end = Clock::now() + std::chrono::milliseconds((int)(seconds * 1000));
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (Clock::now() > end) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return -1;
        }
        struct pollfd none = {-1, 0, 0};
        poll(&none, 0, 20);
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class XvfbWindows : public testing::Test {
protected:
    pid_t xvfb = -1;
    Display *dpy = nullptr;
    std::string display;

    void SetUp() override
    {
        int fds[2];
        ASSERT_EQ(pipe(fds), 0);
        xvfb = Spawn({"Xvfb", "-displayfd", std::to_string(fds[1]), "-br", "-screen", "0", "1280x1024x24",
                      "-nolisten", "tcp"},
                     {}, -1, fds[1]);
        close(fds[1]);
        Child reader;
        reader.out = fds[0];
        std::string number;
        auto end = Clock::now() + std::chrono::seconds(15);
        while (number.find('\n') == std::string::npos && Clock::now() < end) {
            struct pollfd p = {fds[0], POLLIN, 0};
            if (poll(&p, 1, 100) <= 0) continue;
            char c[16];
            ssize_t got = read(fds[0], c, sizeof c);
            if (got <= 0) break;
            number.append(c, (size_t)got);
        }
        close(fds[0]);
        if (number.find('\n') == std::string::npos) GTEST_SKIP() << "Xvfb did not start";
        display = ":" + number.substr(0, number.find('\n'));
        dpy = XOpenDisplay(display.c_str());
        if (!dpy) GTEST_SKIP() << "cannot connect to " << display;
    }
    void TearDown() override
    {
        if (dpy) XCloseDisplay(dpy);
        if (xvfb > 0) {
            kill(xvfb, SIGTERM);
            Reap(xvfb, 10);
        }
    }
    // The root window's pixels as 0xRRGGBB.
    std::vector<uint32_t> Screenshot(int width, int height)
    {
        std::vector<uint32_t> pixels((size_t)width * height);
        XImage *image = XGetImage(dpy, DefaultRootWindow(dpy), 0, 0, width, height, AllPlanes, ZPixmap);
        if (!image) return {};
        for (int y = 0; y < height; y++)
            for (int x = 0; x < width; x++) pixels[(size_t)y * width + x] = (uint32_t)XGetPixel(image, x, y) & 0xFFFFFF;
        XDestroyImage(image);
        return pixels;
    }
    void Move(int x, int y)
    {
        XTestFakeMotionEvent(dpy, -1, x, y, 0);
        XFlush(dpy);
    }
    void Button(bool down)
    {
        XTestFakeButtonEvent(dpy, 1, down, 0);
        XFlush(dpy);
    }
    void Key(KeySym sym, bool down)
    {
        XTestFakeKeyEvent(dpy, XKeysymToKeycode(dpy, sym), down, 0);
        XFlush(dpy);
    }
    // Starts the runtime on an applet under the build's tests/ui on this server; its
    // output is read line by line.
    void Launch(const std::string &applet, Child *app, std::vector<std::string> env = {})
    {
        int fds[2];
        ASSERT_EQ(pipe(fds), 0);
        // SDL's X11 driver and libX11 keep allocations past SDL_Quit: leak reports of a
        // sanitizer build would only list theirs.
        env.insert(env.begin(), {"DISPLAY=" + display, "SDL_VIDEODRIVER=x11", "ASAN_OPTIONS=detect_leaks=0"});
        app->pid = Spawn({std::string(LV_BIN_DIR) + "/lumivarra", std::string(LV_BUILD_DIR) + "/tests/ui/" + applet,
                          "-QUIET"},
                         env, fds[1], -1);
        close(fds[1]);
        app->out = fds[0];
    }
    // Reads what is left of an ended run's output, shows it when the test failed.
    void Finish(Child &app)
    {
        while (app.Read(0)) {
        }
        if (HasFailure())
            for (const std::string &line : app.lines) std::fprintf(stderr, "applet: %s\n", line.c_str());
        close(app.out);
    }
    // Ctrl+C to the window under the pointer at (x, y).
    void CtrlC(int x, int y)
    {
        Move(x, y);
        Key(XK_Control_L, true);
        Key(XK_c, true);
        Key(XK_c, false);
        Key(XK_Control_L, false);
    }
    // Ends the run with Ctrl+C at (x, y) and gives its exit code (-1: it did not end or
    // was signalled). The keys go to the window that has the input focus, which a window
    // just mapped, moved or back from full screen may not have yet: ask again each second
    // until the program has ended (bounded).
    int QuitWithCtrlC(Child &app, int x, int y)
    {
        int status = 0;
        bool ended = false;
        for (int attempt = 0; attempt < 15 && !ended; attempt++) {
            CtrlC(x, y);
            auto wait = Clock::now() + std::chrono::seconds(1);
            while (!(ended = waitpid(app.pid, &status, WNOHANG) == app.pid) && Clock::now() < wait) app.Read(20);
        }
        if (!ended) return Reap(app.pid, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
};

// What the screen should show: black, display 1 centred (320x240 at 480, 392), the
// autoscaled display 3 at (0, 0) as a 480x360 picture between 80-pixel black bars, and
// display 4 (100x80 green) at (1000, 700).
uint32_t Expected(int x, int y)
{
    if (x >= 480 && x < 800 && y >= 392 && y < 632) return 0x336699;
    if (y < 360 && x >= 80 && x < 560) return 0xFF8000;
    if (x >= 1000 && x < 1100 && y >= 700 && y < 780) return 0x00FF00;
    return 0;
}

TEST_F(XvfbWindows, WindowsShowInPlaceAndTakeInputFromTheServer)
{
    Child app;
    ASSERT_NO_FATAL_FAILURE(Launch("windows_exe/xvfb.lva", &app));
    ASSERT_GE(app.WaitLine("ready", 20), 0);

    // The screen, once the server drew every window.
    std::vector<uint32_t> shot;
    std::string firstWrong;
    auto end = Clock::now() + std::chrono::seconds(10);
    do {
        shot = Screenshot(1280, 1024);
        firstWrong.clear();
        for (int y = 0; y < 1024 && firstWrong.empty(); y++)
            for (int x = 0; x < 1280 && firstWrong.empty(); x++)
                if (shot[(size_t)y * 1280 + x] != Expected(x, y)) firstWrong = std::to_string(x) + "," + std::to_string(y);
        if (firstWrong.empty()) break;
        app.Read(50);
    } while (Clock::now() < end);
    EXPECT_EQ(firstWrong, "") << "first differing pixel";

    // Pointer and keys over display 1.
    Move(480 + 10, 392 + 20);
    int moved = app.WaitLine("OnMouseMove", 10);
    EXPECT_GE(moved, 0);
    if (moved >= 0) EXPECT_EQ(app.lines[moved].rfind("OnMouseMove 10 20", 0), 0u) << app.lines[moved];
    Button(true);
    Button(false);
    int pressed = app.WaitLine("OnMouseDown", 10);
    ASSERT_GE(pressed, 0);
    EXPECT_EQ(app.lines[pressed].rfind("OnMouseDown 10 20", 0), 0u) << app.lines[pressed];
    Key(XK_a, true);
    Key(XK_a, false);
    int down = app.WaitLine("OnKeyDown", 10), up = app.WaitLine("OnKeyUp", 10);
    ASSERT_GE(down, 0);
    ASSERT_GE(up, 0);
    EXPECT_NE(app.lines[down].find(" a"), std::string::npos) << app.lines[down];
    EXPECT_NE(app.lines[up].find(" a"), std::string::npos) << app.lines[up];

    // Dragging display 4 by its default drag region (the top 15 rows). The press must
    // reach the runtime after SDL saw the pointer cross from display 1 to display 4: a
    // press read while SDL still counts the pointer as display 1's is credited to display
    // 1, which then captures the pointer, and the gesture moves display 1's pointer
    // instead of the window. The crossing is seen when display 1 reports the pointer's
    // last place on its edge (the server sends the leave and the enter together), so each
    // attempt starts inside display 1 and waits for that report before pressing.
    int movedWindow = -1;
    for (int attempt = 0; attempt < 3 && movedWindow < 0; attempt++) {
        size_t seen = app.lines.size();
        Move(480 + 100, 392 + 100);
        ASSERT_GE(app.WaitLine("OnMouseMove 100 100 ", 10, seen), 0) << "display 1 never saw the pointer";
        seen = app.lines.size();
        Move(1050, 760);
        ASSERT_GE(app.WaitLine("OnMouseMove 319 239 ", 10, seen), 0) << "display 1 never saw the pointer leave";
        // A motion inside display 4 queued ahead of the press: SDL reads the pointer's
        // place in display 4 from it before the press, whatever it made of the crossing.
        Move(1010, 705);
        Button(true);
        Move(1030, 715);
        Move(1060, 725);
        Button(false);
        // The server may still confirm a place on the way; the move to the drop place counts.
        movedWindow = app.WaitLine("MoveWindow 1050 720", 10, seen);
    }
    if (movedWindow < 0) {
        std::string seen;
        for (const std::string &line : app.lines) seen += line + "\n";
        FAIL() << "no MoveWindow to 1050, 720; the applet printed:\n" << seen;
    }
    EXPECT_EQ(app.lines[movedWindow].rfind("MoveWindow 1050 720", 0), 0u) << app.lines[movedWindow];

    // Ctrl+C ends the run.
    EXPECT_EQ(QuitWithCtrlC(app, 480 + 50, 392 + 50), 0);
    Finish(app);
}

// Full-screen scale fills the 1280x1024 root with the 320x240 picture scaled four times
// between 32-row black bars; the desktop grab reads the screen; Alt+Return brings the
// window back to its place (centred: 480, 392).
TEST_F(XvfbWindows, FullScreenScaleGrabsAndAltReturnBackToTheWindow)
{
    Child app;
    ASSERT_NO_FATAL_FAILURE(Launch("windows_exe/xvfbmodes.lva", &app));
    ASSERT_GE(app.WaitLine("ready", 20), 0);
    EXPECT_GE(app.WaitLine("fullscale 0", 1), 0);
    auto settle = [&](uint32_t (*expected)(int, int)) {
        std::string firstWrong;
        auto end = Clock::now() + std::chrono::seconds(10);
        do {
            std::vector<uint32_t> shot = Screenshot(1280, 1024);
            firstWrong.clear();
            for (int y = 0; y < 1024 && firstWrong.empty(); y++)
                for (int x = 0; x < 1280 && firstWrong.empty(); x++)
                    if (shot[(size_t)y * 1280 + x] != expected(x, y))
                        firstWrong = std::to_string(x) + "," + std::to_string(y);
            if (firstWrong.empty()) break;
            app.Read(50);
        } while (Clock::now() < end);
        return firstWrong;
    };
    EXPECT_EQ(settle([](int, int y) -> uint32_t { return y >= 32 && y < 992 ? 0x336699 : 0; }), "")
        << "first differing pixel, full-screen scale";
    Key(XK_g, true);
    Key(XK_g, false);
    int grab = app.WaitLine("grab ", 10);
    ASSERT_GE(grab, 0);
    EXPECT_EQ(app.lines[grab], "grab 0 3368601");
    EXPECT_GE(app.WaitLine("grabneg 1055", 10), 0);
    Key(XK_Alt_L, true);
    Key(XK_Return, true);
    Key(XK_Return, false);
    Key(XK_Alt_L, false);
    EXPECT_EQ(settle([](int x, int y) -> uint32_t {
                  return x >= 480 && x < 800 && y >= 392 && y < 632 ? 0x336699 : 0;
              }),
              "")
        << "first differing pixel, back in the window";
    EXPECT_EQ(QuitWithCtrlC(app, 600, 500), 0);
    Finish(app);
}


// Fake full screen: the 320x240 picture centred (480, 392) on a black backfill that
// covers the whole 1280x1024 monitor. Another display then asking for full screen on the
// same monitor is refused with 1556, naming monitor 1.
TEST_F(XvfbWindows, FakeFullScreenCentresOnABlackBackfillAndHoldsTheMonitor)
{
    // A grey root: black around the picture then shows that the backfill covers it.
    XSetWindowBackground(dpy, DefaultRootWindow(dpy), 0x808080);
    XClearWindow(dpy, DefaultRootWindow(dpy));
    XSync(dpy, False);
    ASSERT_EQ(Screenshot(1280, 1024)[0], 0x808080u);
    Child app;
    ASSERT_NO_FATAL_FAILURE(Launch("windows_exe/xvfbfake.lva", &app));
    ASSERT_GE(app.WaitLine("ready", 20), 0);
    EXPECT_GE(app.WaitLine("fake 0", 1), 0);
    std::string firstWrong;
    auto end = Clock::now() + std::chrono::seconds(10);
    do {
        std::vector<uint32_t> shot = Screenshot(1280, 1024);
        firstWrong.clear();
        for (int y = 0; y < 1024 && firstWrong.empty(); y++)
            for (int x = 0; x < 1280 && firstWrong.empty(); x++) {
                uint32_t want = x >= 480 && x < 800 && y >= 392 && y < 632 ? 0x336699 : 0;
                if (shot[(size_t)y * 1280 + x] != want) firstWrong = std::to_string(x) + "," + std::to_string(y);
            }
        if (firstWrong.empty()) break;
        app.Read(50);
    } while (Clock::now() < end);
    EXPECT_EQ(firstWrong, "") << "first differing pixel";
    Move(600, 500);
    Key(XK_x, true);
    Key(XK_x, false);
    int second = app.WaitLine("second ", 10);
    ASSERT_GE(second, 0);
    EXPECT_EQ(app.lines[second], "second 1556 Monitor 1 is already in fullscreen mode!");
    ASSERT_GE(app.WaitLine("back", 10), 0);
    EXPECT_EQ(QuitWithCtrlC(app, 610, 510), 0);
    Finish(app);
}


// The top-level window whose name is the title, or 0.
Window FindWindowNamed(Display *dpy, Window from, const char *title)
{
    char *name = nullptr;
    if (XFetchName(dpy, from, &name) && name) {
        bool same = std::strcmp(name, title) == 0;
        XFree(name);
        if (same) return from;
    }
    Window root, parent, *children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(dpy, from, &root, &parent, &children, &count)) return 0;
    Window found = 0;
    for (unsigned i = 0; i < count && !found; i++) found = FindWindowNamed(dpy, children[i], title);
    if (children) XFree(children);
    return found;
}

// A display declared with rememberposition, moved by the server and closed, opens where
// it was in the next run (the preferences in a temporary XDG_CONFIG_HOME); declared with
// another "sizeable" it opens at its declared place again.
TEST_F(XvfbWindows, ARememberedDisplayReopensWhereItWasMoved)
{
    char home[] = "/tmp/lv_xvfbplace_XXXXXX";
    ASSERT_NE(mkdtemp(home), nullptr);
    struct Position {
        int x = -1, y = -1;
    };
    auto parse = [](const std::string &line) {
        Position p;
        std::sscanf(line.c_str(), "%*s %d %d", &p.x, &p.y);
        return p;
    };
    // One run: where the display was at the start and, when moved, after the move.
    auto run = [&](const char *applet, bool move, Position *start, Position *after) {
        Child app;
        ASSERT_NO_FATAL_FAILURE(Launch(std::string("placement/") + applet + ".lva", &app,
                                       {"XDG_CONFIG_HOME=" + std::string(home)}));
        int ready = app.WaitLine("ready", 20);
        ASSERT_GE(ready, 0);
        *start = parse(app.lines[ready]);
        Window w = 0;
        auto end = Clock::now() + std::chrono::seconds(10);
        while (!(w = FindWindowNamed(dpy, DefaultRootWindow(dpy), "Placed")) && Clock::now() < end) app.Read(50);
        ASSERT_NE(w, 0u);
        int pointerX = start->x + 100, pointerY = start->y + 75;
        if (move) {
            // Moved before the server maps it, the window may be placed again at mapping:
            // wait until it is shown, and move it again while no move has been reported.
            auto until = Clock::now() + std::chrono::seconds(10);
            XWindowAttributes attributes;
            while (XGetWindowAttributes(dpy, w, &attributes) && attributes.map_state != IsViewable &&
                   Clock::now() < until)
                app.Read(20);
            int moved = -1;
            size_t from = app.lines.size();
            while (moved < 0 && Clock::now() < until) {
                XMoveWindow(dpy, w, 300, 200);
                XSync(dpy, False);
                // The server may confirm the opening place first: only a new place counts.
                for (int line; moved < 0 && (line = app.WaitLine("moved", 2, from)) >= 0;) {
                    from = (size_t)line + 1;
                    *after = parse(app.lines[line]);
                    if (after->x != start->x || after->y != start->y) moved = line;
                }
            }
            if (moved < 0)
                for (const std::string &line : app.lines) std::fprintf(stderr, "applet: %s\n", line.c_str());
            ASSERT_GE(moved, 0);
            pointerX = after->x + 100, pointerY = after->y + 75;
        }
        EXPECT_EQ(QuitWithCtrlC(app, pointerX, pointerY), 0) << "the program did not end on Ctrl+C";
        Finish(app);
    };
    Position declared, moved, again, other, unused;
    run("place", true, &declared, &moved);
    ASSERT_FALSE(HasFailure());
    EXPECT_NE(moved.x, declared.x);
    run("place", false, &again, &unused);
    EXPECT_EQ(again.x, moved.x);
    EXPECT_EQ(again.y, moved.y);
    run("placesizeable", false, &other, &unused);
    EXPECT_EQ(other.x, declared.x);
    EXPECT_EQ(other.y, declared.y);
    std::system(("rm -rf '" + std::string(home) + "'").c_str());
}

}  // namespace

// The tray item on a private session bus: a dbus-daemon of the test's own and a watcher
// fixture (sni_watcher.py) that prints what it reads of the item and clicks it.
#include "platform/lvplatform.h"
#include "platform/lvplatform_tray.h"
#include "platform/lvplatform_menus.h"
#include "platform/lvplatform_pointers.h"
#include "platform/lvplatform_windows.h"
#include "base/lverrors.h"
#include <gtest/gtest.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

// A child process with its stdin and stdout on pipes.
struct Child {
    pid_t pid = -1;
    int in = -1, out = -1;
    std::string buffered;
};

Child Spawn(const std::vector<std::string> &argv)
{
    int toChild[2], fromChild[2];
    Child c;
    if (pipe2(toChild, O_CLOEXEC) || pipe2(fromChild, O_CLOEXEC)) return c;
    c.pid = fork();
    if (c.pid == 0) {
        dup2(toChild[0], 0);
        dup2(fromChild[1], 1);
        std::vector<char *> args;
        for (const std::string &a : argv) args.push_back((char *)a.c_str());
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    close(toChild[0]);
    close(fromChild[1]);
    c.in = toChild[1];
    c.out = fromChild[0];
    return c;
}

void Stop(Child &c)
{
    if (c.pid > 0) {
        kill(c.pid, SIGTERM);
        waitpid(c.pid, nullptr, 0);
    }
    if (c.in >= 0) close(c.in);
    if (c.out >= 0) close(c.out);
    c = Child{};
}

// Reads the child's next line while serving the tray item's bus; "" after 10 s.
std::string NextLine(Child &c)
{
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < until) {
        size_t nl = c.buffered.find('\n');
        if (nl != std::string::npos) {
            std::string line = c.buffered.substr(0, nl);
            c.buffered.erase(0, nl + 1);
            return line;
        }
        struct pollfd fds[2] = {{c.out, POLLIN, 0}, {TrayBusDescriptor(), POLLIN, 0}};
        poll(fds, fds[1].fd >= 0 ? 2 : 1, 100);
        if (fds[1].fd >= 0 && fds[1].revents) DispatchTrayBus();
        if (fds[0].revents & POLLIN) {
            char chunk[4096];
            ssize_t got = read(c.out, chunk, sizeof chunk);
            if (got > 0) c.buffered.append(chunk, (size_t)got);
        }
    }
    return "";
}

// The next line that starts with prefix (others are skipped); "" when none comes.
std::string LineStarting(Child &c, const std::string &prefix)
{
    for (;;) {
        std::string line = NextLine(c);
        if (line.empty() || line.compare(0, prefix.size(), prefix) == 0) return line;
    }
}

void Say(Child &c, const std::string &text)
{
    std::string line = text + "\n";
    ASSERT_EQ(write(c.in, line.data(), line.size()), (ssize_t)line.size());
}

std::atomic<int> activations{0};
int lastX = 0, lastY = 0;

class PlatformTray : public testing::Test {
protected:
    Child bus, watcher;
    std::string savedAddress;
    void SetUp() override
    {
        ASSERT_EQ(InitPlatform(), 0);
        const char *old = getenv("DBUS_SESSION_BUS_ADDRESS");
        if (old) savedAddress = old;
        bus = Spawn({"/usr/bin/dbus-daemon", "--session", "--nofork", "--print-address=1"});
        std::string address = NextLine(bus);
        ASSERT_FALSE(address.empty()) << "no dbus-daemon";
        setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
        lvTrayHooks hooks = {};
        hooks.Activated = [](int x, int y) {
            lastX = x;
            lastY = y;
            activations++;
        };
        SetTrayHooks(&hooks);
        activations = 0;
    }
    void StartWatcher(const char *mode = nullptr)
    {
        std::vector<std::string> argv = {"/usr/bin/python3", LV_SOURCE_DIR "/tests/platform/sni_watcher.py"};
        if (mode) argv.push_back(mode);
        watcher = Spawn(argv);
        ASSERT_EQ(NextLine(watcher), "READY");
    }
    void TearDown() override
    {
        CloseTrayIcon();
        SetTrayHooks(nullptr);
        SetTrayMenu(nullptr);
        Stop(watcher);
        Stop(bus);
        if (savedAddress.empty()) unsetenv("DBUS_SESSION_BUS_ADDRESS");
        else setenv("DBUS_SESSION_BUS_ADDRESS", savedAddress.c_str(), 1);
    }
};

}  // namespace

TEST_F(PlatformTray, ItemShowsItsPictureAndTooltipAndReplacesThem)
{
    StartWatcher();
    // Two pixels, ARGB: half-clear red and opaque blue, sent in network byte order.
    const uint32_t pixels[2] = {0x80FF0000u, 0xFF0000FFu};
    ASSERT_EQ(ShowTrayIcon(pixels, 2, 1, "Hi"), 0);
    EXPECT_EQ(TrayIconShown(), 1);
    EXPECT_EQ(LineStarting(watcher, "REGISTER"), "REGISTER org.kde.StatusNotifierItem-" + std::to_string(getpid()) + "-1");
    EXPECT_EQ(LineStarting(watcher, "ICON"), "ICON 2 1 80ff0000ff0000ff");
    EXPECT_EQ(LineStarting(watcher, "TIP"), "TIP Hi");
    EXPECT_EQ(LineStarting(watcher, "MENU"), "MENU /NO_DBUSMENU ITEMISMENU 0");

    // A second picture is announced with NewIcon and read again; the tooltip of 127
    // characters is kept whole, a longer one is cut after 127 (never inside a character).
    const uint32_t other[1] = {0xFF00FF00u};
    std::string tip127(126, 'a');
    tip127 += "\xC3\xA9";  // 127 characters, 128 bytes
    ASSERT_EQ(ShowTrayIcon(other, 1, 1, (tip127 + "zz").c_str()), 0);
    EXPECT_EQ(LineStarting(watcher, "SIGNAL"), "SIGNAL NewIcon");
    EXPECT_EQ(LineStarting(watcher, "ICON"), "ICON 1 1 ff00ff00");
    EXPECT_EQ(LineStarting(watcher, "TIP"), "TIP " + tip127);

    // Activate reaches the hook with the host's position.
    Say(watcher, "activate 12 34");
    EXPECT_EQ(LineStarting(watcher, "ACTIVATED"), "ACTIVATED");
    EXPECT_EQ(activations.load(), 1);
    EXPECT_EQ(lastX, 12);
    EXPECT_EQ(lastY, 34);

    // Removal drops the name; a second removal has nothing to remove.
    ASSERT_EQ(ShowTrayIcon(nullptr, 0, 0, nullptr), 0);
    EXPECT_EQ(TrayIconShown(), 0);
    EXPECT_EQ(LineStarting(watcher, "GONE"), "GONE org.kde.StatusNotifierItem-" + std::to_string(getpid()) + "-1");
    EXPECT_EQ(ShowTrayIcon(nullptr, 0, 0, nullptr), ERR_WRONGUSAGE);
}

TEST_F(PlatformTray, AnAttachedMenuIsNamedAndGetsItsCalls)
{
    StartWatcher();
    lvTrayMenu menu = {"/MenuBar", [](void *, void *, void *) { return 1; }, nullptr};
    ASSERT_EQ(SetTrayMenu(&menu), 0);
    lvTrayMenu bad = {"no/slash", nullptr, nullptr};
    EXPECT_EQ(SetTrayMenu(&bad), ERR_WRONGUSAGE);
    const uint32_t pixels[1] = {0xFFFFFFFFu};
    ASSERT_EQ(ShowTrayIcon(pixels, 1, 1, nullptr), 0);
    EXPECT_EQ(LineStarting(watcher, "MENU"), "MENU /MenuBar ITEMISMENU 0");
}

TEST_F(PlatformTray, NoWatcherARefusingOneOrNoBusGiveTheAddError)
{
    const uint32_t pixels[1] = {0xFFFFFFFFu};
    // Nobody owns the watcher's name: refused at once, nothing left behind.
    auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(ShowTrayIcon(pixels, 1, 1, "x"), ERR_ADDAPPICON);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2));
    EXPECT_EQ(TrayIconShown(), 0);
    EXPECT_EQ(TrayBusDescriptor(), -1);

    StartWatcher("refuse");
    EXPECT_EQ(ShowTrayIcon(pixels, 1, 1, "x"), ERR_ADDAPPICON);
    EXPECT_EQ(TrayIconShown(), 0);
    Stop(watcher);

    // No bus at all: neither the address nor a runtime folder socket.
    std::string keepRuntime = getenv("XDG_RUNTIME_DIR") ? getenv("XDG_RUNTIME_DIR") : "";
    unsetenv("DBUS_SESSION_BUS_ADDRESS");
    setenv("XDG_RUNTIME_DIR", "/nonexistent-runtime-dir", 1);
    EXPECT_EQ(ShowTrayIcon(pixels, 1, 1, "x"), ERR_ADDAPPICON);
    if (keepRuntime.empty()) unsetenv("XDG_RUNTIME_DIR");
    else setenv("XDG_RUNTIME_DIR", keepRuntime.c_str(), 1);

    // Sizes the item would not carry.
    EXPECT_EQ(ShowTrayIcon(pixels, 0, 1, "x"), ERR_WRONGUSAGE);
    EXPECT_EQ(ShowTrayIcon(pixels, 1, 1025, "x"), ERR_WRONGUSAGE);
}

// A menu model on the tray item as com.canonical.dbusmenu: the host reads the layout (labels,
// separators, submenus, check and radio states, shortcuts); a click on a radio item
// selects it in its group, reports it with state 1 and announces a new layout; a click on
// a disabled item reports nothing.
TEST_F(PlatformTray, ATrayMenuModelAnswersTheHostsLayoutAndClicks)
{
    StartWatcher();
    // Small, Large (radio), a separator, Grid (toggle, Ctrl+G), More { Deep }, Off (disabled).
    lvMenuModelBuilder *b = nullptr;
    ASSERT_EQ(BeginMenuModel(&b, 7, 1), 0);
    lvMenuNodeSource nodes[] = {{"Small", "small", nullptr, LV_MENU_RADIO}, {"Large", "large", nullptr, LV_MENU_RADIO},
                                {nullptr, nullptr, nullptr, 0},            {"Grid", "grid", "g", LV_MENU_TOGGLE},
                                {"More", nullptr, nullptr, 0},             {"Deep", "deep", nullptr, 0},
                                {"Off", "off", nullptr, LV_MENU_DISABLED}};
    for (int i = 0; i < 4; i++) ASSERT_EQ(AddMenuNode(b, &nodes[i], 0), 0);
    ASSERT_EQ(AddMenuNode(b, &nodes[4], 1), 0);
    ASSERT_EQ(AddMenuNode(b, &nodes[5], 0), 0);
    EndMenuSubmenu(b);
    ASSERT_EQ(AddMenuNode(b, &nodes[6], 0), 0);
    lvMenuModel *model = FinishMenuModel(b, 0);
    ASSERT_NE(model, nullptr);
    static std::vector<std::string> chosen;
    chosen.clear();
    ASSERT_EQ(AttachTrayMenuModel(model,
                                  [](void *, int number, const char *id, int selected) {
                                      chosen.push_back(std::to_string(number) + " " + (id ? id : "-") + " " +
                                                       std::to_string(selected));
                                  },
                                  nullptr),
              0);
    const uint32_t pixels[1] = {0xFFFFFFFFu};
    ASSERT_EQ(ShowTrayIcon(pixels, 1, 1, nullptr), 0);
    EXPECT_EQ(LineStarting(watcher, "MENU"), "MENU /MenuBar ITEMISMENU 0");
    Say(watcher, "layout");
    std::string layout = LineStarting(watcher, "LAYOUT");
    // Numbers: Small 1, Large 2, separator 3, Grid 4, Deep 5, More 6, Off 7.
    EXPECT_NE(layout.find(" 1:Small:radio:1:1:- 2:Large:radio:0:1:- 3:separator:-:-1:1:- 4:Grid:checkmark:0:1:Control+G "
                          "6:More:-:-1:1:-/5:Deep:-:-1:1:- 7:Off:-:-1:0:-"),
              std::string::npos)
        << layout;

    Say(watcher, "click 2");
    EXPECT_EQ(LineStarting(watcher, "MENUSIGNAL"), "MENUSIGNAL LayoutUpdated " + std::to_string(
                                                       std::stoi(layout.substr(7)) + 1) + " 0");
    EXPECT_EQ(LineStarting(watcher, "CLICKED"), "CLICKED");
    Say(watcher, "click 7");
    EXPECT_EQ(LineStarting(watcher, "CLICKED"), "CLICKED");
    Say(watcher, "layout");
    layout = LineStarting(watcher, "LAYOUT");
    EXPECT_NE(layout.find(" 1:Small:radio:0:1:- 2:Large:radio:1:1:-"), std::string::npos) << layout;
    EXPECT_EQ(chosen, std::vector<std::string>{"2 large 1"});

    // Detached, the item names no menu any more.
    ASSERT_EQ(AttachTrayMenuModel(nullptr, nullptr, nullptr), 0);
    Say(watcher, "menuprop");
    EXPECT_EQ(LineStarting(watcher, "MENU"), "MENU /NO_DBUSMENU ITEMISMENU 0");
}

// The tray menu and the pointers both serve requests on the pumping thread: attaching a
// menu must not take over the pointers' requests (a pointer call then read its operation
// number as a menu model).
TEST_F(PlatformTray, AnAttachedMenuLeavesThePointersRequestsAlone)
{
    ASSERT_EQ(InitPointers(), 0);
    ASSERT_EQ(AttachTrayMenuModel(nullptr, nullptr, nullptr), 0);
    lvDisplayWindow window = {};
    window.pointerKind = LV_POINTER_BUSY;
    window.pointerHidden = 1;
    lvPointerView view = {};
    ViewWindowPointer(&window, &view);
    EXPECT_EQ(view.kind, LV_POINTER_BUSY);
    EXPECT_EQ(view.hidden, 1);
    EXPECT_EQ(view.width, 1);
    EXPECT_EQ(view.firstPixel, 0x01000000u);
}

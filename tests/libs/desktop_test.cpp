// The desktop's bell and notifications where no notification service can be reached (as
// on CI): a notification fails with the tray error at once instead of hanging or claiming
// success, and a beep of any type returns (with the terminal bell, if anything).
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "platform/lvplatform.h"
#include "base/lverrors.h"

TEST(DesktopServices, WithoutASessionBusANotificationFailsAtOnce)
{
    setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/lumivarra-test-bus", 1);
    unsetenv("DISPLAY");  // no X11 auto-launch of a bus either
    for (int icon : {0, 1, 2, 3, 7}) {
        auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(ShowDesktopNotification("Title", "Text", icon, 2000), ERR_TRAYICON) << icon;
        auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
        EXPECT_LT(took.count(), 5000) << icon;
    }
    // Texts longer than the service takes are cut at whole characters, not refused.
    std::string longText(600, 'x');
    longText += "\xC3\xA9";
    EXPECT_EQ(ShowDesktopNotification(longText.c_str(), longText.c_str(), 1, 0), ERR_TRAYICON);
}

TEST(DesktopServices, EveryBeepTypeReturns)
{
    for (int type : {0, 1, 2, 3, 4, 99, -1}) {
        auto start = std::chrono::steady_clock::now();
        PlaySystemBeep(type);
        auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
        EXPECT_LT(took.count(), 5000) << type;
    }
}

namespace {

extern "C" char **environ;

// A helper program whose standard output comes through a pipe, read with bounded waits.
struct Helper {
    pid_t pid = -1;
    int output = -1;
    std::string text;
    bool Spawn(std::vector<std::string> argv)
    {
        std::vector<char *> args;
        for (std::string &a : argv) args.push_back(a.data());
        args.push_back(nullptr);
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0) return false;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
        int r = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        close(fds[1]);
        output = fds[0];
        if (r) pid = -1;
        return r == 0;
    }
    bool WaitFor(const std::string &marker, int milliseconds)
    {
        auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
        while (text.find(marker) == std::string::npos) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
            if (left.count() <= 0) return false;
            pollfd p = {output, POLLIN, 0};
            if (poll(&p, 1, (int)left.count()) != 1) return false;
            char buffer[1024];
            ssize_t n = read(output, buffer, sizeof buffer);
            if (n <= 0) return false;
            text.append(buffer, (size_t)n);
        }
        return true;
    }
    ~Helper()
    {
        if (pid > 0) {
            kill(pid, SIGTERM);
            waitpid(pid, nullptr, 0);
        }
        if (output >= 0) close(output);
    }
};

}  // namespace

// With a notification service on a private session bus (a small listener owning the
// freedesktop name), a notification reaches it: application name, the icon of its type,
// title and text as given (also non-ASCII), and the time-out (none given: the service's).
TEST(DesktopServices, ANotificationReachesTheServiceOnTheSessionBus)
{
#if defined(__SANITIZE_THREAD__)
    // libnotify talks to the bus from GLib's own thread, whose allocator the thread
    // sanitizer cannot see into; it reports races inside GLib, not in this code.
    GTEST_SKIP() << "GLib's D-Bus thread is not instrumented";
#endif
    Helper bus;
    ASSERT_TRUE(bus.Spawn({"/usr/bin/dbus-daemon", "--session", "--nofork", "--print-address=1"}));
    ASSERT_TRUE(bus.WaitFor("\n", 10000)) << bus.text;
    std::string address = bus.text.substr(0, bus.text.find('\n'));
    ASSERT_EQ(address.rfind("unix:", 0), 0u) << address;
    setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
    Helper listener;
    ASSERT_TRUE(listener.Spawn({"/usr/bin/python3", "-u", LV_NOTIFYD_SCRIPT, "60"}));
    ASSERT_TRUE(listener.WaitFor("READY\n", 20000)) << listener.text;
    EXPECT_EQ(ShowDesktopNotification("Caf\xC3\xA9 open", "Fresh bread", 2, 3000), 0);
    ASSERT_TRUE(listener.WaitFor("Fresh bread|3000\n", 10000)) << listener.text;
    EXPECT_NE(listener.text.find("NOTIFY|Lumivarra|dialog-error|Caf\xC3\xA9 open|Fresh bread|3000\n"),
              std::string::npos)
        << listener.text;
    EXPECT_EQ(ShowDesktopNotification("Second", "No time-out", 0, 0), 0);
    ASSERT_TRUE(listener.WaitFor("No time-out|-1\n", 10000)) << listener.text;
    EXPECT_NE(listener.text.find("NOTIFY|Lumivarra||Second|No time-out|-1\n"), std::string::npos) << listener.text;
}

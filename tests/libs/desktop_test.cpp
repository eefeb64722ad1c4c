// The desktop's bell and notifications where no notification service can be reached (as
// on CI): a notification fails with the tray error at once instead of hanging or claiming
// success, and a beep of any type returns (with the terminal bell, if anything).
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>

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

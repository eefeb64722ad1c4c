// startup.cpp - the platform layer's own start-up and shut-down.
//
// InitPlatform runs on the main thread before any other thread or lock of the
// runtime exists: it ignores SIGPIPE (a closed socket or pipe must give an error
// code, not end the process), anchors the clock and makes the main wake signal.
// Depends on: clock.cpp, threads.cpp.
// Limits: the main wake signal exists between InitPlatform and ExitPlatform.
#include "platform/lvplatform.h"
#include "base/lverrors.h"
#include <csignal>

// ---- State ------------------------------------------------------------------

struct lvPlatformState {
    std::atomic<lvSignal *> mainWakeSignal;  // raised to wake the main loop
};

static lvPlatformState platformState = {{nullptr}};

// ---- Start-up and shut-down -----------------------------------------------------

int InitPlatform(void)
{
    signal(SIGPIPE, SIG_IGN);
    InitClockBase();
    if (!platformState.mainWakeSignal.load(std::memory_order_acquire)) {
        lvSignal *wake = NewSignal();
        if (!wake) return ERR_CREATEEVENT;
        platformState.mainWakeSignal.store(wake, std::memory_order_release);
    }
    return 0;
}

void ExitPlatform(void)
{
    CloseSignal(platformState.mainWakeSignal.exchange(nullptr, std::memory_order_acq_rel));
}

lvSignal *GetMainWakeSignal(void)
{
    return platformState.mainWakeSignal.load(std::memory_order_acquire);
}

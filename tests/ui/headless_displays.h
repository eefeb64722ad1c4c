// headless_displays.h - displays on the in-memory windows for tests without the runtime
// executable, with every rectangle the windows were asked to show recorded.
#pragma once
#include <gtest/gtest.h>

#include "runtime/cmdsupport.h"
#include "runtime/startup.h"
#include "ui/display.h"
#include "ui/display_draw.h"
#include "ui/display_windows.h"
#include "vm/lvvm.h"
#include <mutex>
#include <vector>

void SetEventQueueOpen(int open);

struct lvPresented {
    int x, y, width, height;
};
// Filled from whichever thread presents; read it once that thread is done.
inline std::mutex presentedLock;
inline std::vector<lvPresented> presented;
inline void (*headlessBlit)(lvDisplayWindow *, const uint32_t *, int, int, int, int, int, int, int);

inline void CountingBlit(lvDisplayWindow *w, const uint32_t *pixels, int rowLength, int sx, int sy, int dx, int dy,
                         int width, int height)
{
    {
        std::lock_guard<std::mutex> hold(presentedLock);
        presented.push_back({dx, dy, width, height});
    }
    headlessBlit(w, pixels, rowLength, sx, sy, dx, dy, width, height);
}

class HeadlessDisplays : public ::testing::Test {
protected:
    lvState *L = nullptr;
    void SetUp() override
    {
        ASSERT_EQ(InitPlatform(), 0);
        ResetVMRun();
        L = NewVMState();
        ASSERT_NE(L, nullptr);
        ASSERT_EQ(InitEventLock(), 0);
        SetEventQueueOpen(1);
        SetWindowOps(nullptr);
        lvWindowOps ops = *WindowOps();
        headlessBlit = ops.BlitToWindow;
        ops.BlitToWindow = CountingBlit;
        SetWindowOps(&ops);
        InstallDisplayDrawing();
        presented.clear();
    }
    void TearDown() override
    {
        SetCurrentDisplay(nullptr);
        ShutdownDisplays(L);
        FreeAllBGPics();
        SetWindowOps(nullptr);
        DropEvents(L, -1, 1);
        SetEventQueueOpen(0);
        FreeEventLock();
        CloseVMState(L);
        ResetVMRun();
    }
};

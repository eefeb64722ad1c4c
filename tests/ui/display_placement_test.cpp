// Remembered placement: the osdata blob and its checks, and a display that closes with
// the rememberposition bit writing an entry the next start takes back, unless the
// settings that shape its window changed (preferences in a temporary XDG_CONFIG_HOME).
#include <gtest/gtest.h>

#include "base/lverrors.h"
#include "libs/lib_core4.h"
#include "raster/lvinit.h"
#include "runtime/cmdsupport.h"
#include "runtime/startup.h"
#include "ui/display.h"
#include "ui/display_placement.h"
#include "ui/display_windows.h"
#include "vm/lvvm.h"
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

void SetEventQueueOpen(int open);

namespace {

TEST(WindowOsData, OnlyOurOwnSizeAndVersionAreTaken)
{
    const lvWindowOsData state = {10, -20, 640, 480, 1};
    uint8_t blob[LV_OSDATA_SIZE];
    EncodeWindowOsData(&state, blob);
    EXPECT_EQ(blob[0], 1);  // version, little-endian
    EXPECT_EQ(blob[8], 0xEC);  // -20
    lvWindowOsData back{};
    ASSERT_EQ(DecodeWindowOsData(blob, sizeof blob, &back), 1);
    EXPECT_EQ(back.y, -20);
    EXPECT_EQ(back.maximised, 1);
    struct Case {
        const char *what;
        int offset;
        uint8_t value;
        size_t length;
    };
    const Case bad[] = {
        {"short", 0, 1, LV_OSDATA_SIZE - 1}, {"long", 0, 1, LV_OSDATA_SIZE + 1}, {"version 2", 0, 2, LV_OSDATA_SIZE},
        {"no width", 12, 0, LV_OSDATA_SIZE}, {"maximised 7", 20, 7, LV_OSDATA_SIZE},
    };
    for (const Case &c : bad) {
        uint8_t copy[LV_OSDATA_SIZE + 1] = {};
        std::memcpy(copy, blob, sizeof blob);
        if (c.offset == 12) std::memset(copy + 12, 0, 4);
        else copy[c.offset] = c.value;
        EXPECT_EQ(DecodeWindowOsData(copy, c.length, &back), 0) << c.what;
    }
    EXPECT_EQ(DecodeWindowOsData(nullptr, 0, &back), 0);
}

const char *TestIdentifier(lvState *) { return "org.lumivarra.placementtest"; }

class Placement : public ::testing::Test {
protected:
    lvState *L = nullptr;
    std::string home;
    void SetUp() override
    {
        char dir[] = "/tmp/lv_placement_XXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        home = dir;
        setenv("XDG_CONFIG_HOME", dir, 1);
        ASSERT_EQ(InitPlatform(), 0);
        ResetVMRun();
        L = NewVMState();
        ASSERT_NE(L, nullptr);
        ASSERT_EQ(InitEventLock(), 0);
        SetEventQueueOpen(1);
        SetWindowOps(nullptr);
        lvApplicationHooks hooks = {TestIdentifier, nullptr};
        SetApplicationHooks(&hooks);
    }
    void TearDown() override
    {
        SetApplicationHooks(nullptr);
        SetCurrentDisplay(nullptr);
        ShutdownDisplays(L);
        FreeAllBGPics();
        DropEvents(L, -1, 1);
        SetEventQueueOpen(0);
        FreeEventLock();
        CloseVMState(L);
        ResetVMRun();
        unsetenv("XDG_CONFIG_HOME");
        std::filesystem::remove_all(home);
    }
};

TEST_F(Placement, AClosedDisplayReopensWhereItWasUnlessItsWindowSettingsChanged)
{
    lvDisplayRequest request;
    InitDisplayRequest(&request);
    request.width = 320;
    request.height = 200;
    request.styleFlags |= DSTYLE_REMEMBERPOSITION;
    lvDisplay *d = nullptr;
    ASSERT_EQ(CreateDisplayFromRequest(L, 3, 0, &request, &d), 0);
    FreeDisplayRequest(&request);
    ASSERT_EQ(RealizeDisplay(L, d, 0), 0);
    ASSERT_EQ(MoveDisplayTo(d, 123, 77), 0);
    ASSERT_EQ(CloseDisplayCore(L, d, 0), 0);
    lvDisplayPlacement p;
    ASSERT_EQ(ReadDisplayPlacement(L, 3, &p), 1);
    EXPECT_EQ(p.x, 123);
    EXPECT_EQ(p.y, 77);
    EXPECT_EQ(p.width, 320);
    EXPECT_EQ(p.sizeable, 0);
    ASSERT_EQ(p.osdataLength, (size_t)LV_OSDATA_SIZE);
    EXPECT_EQ(ReadDisplayPlacement(L, 4, &p), 0);  // nothing stored for another number
    // The next start: the declared display takes the stored place.
    lvDisplayOptions declared;
    InitDisplayDefaults(&declared);
    declared.styleFlags |= DSTYLE_REMEMBERPOSITION;
    lvDisplayOptions same = declared;
    ASSERT_EQ(ApplyDisplayPlacement(L, 3, &same), 1);
    EXPECT_EQ(same.x, 123);
    EXPECT_EQ(same.y, 77);
    EXPECT_EQ(same.width, 320);
    EXPECT_EQ(same.height, 200);
    // Made sizeable since: the declared geometry stays.
    lvDisplayOptions changed = declared;
    changed.styleFlags |= DSTYLE_SIZEABLE;
    EXPECT_EQ(ApplyDisplayPlacement(L, 3, &changed), 0);
    EXPECT_EQ(changed.x, declared.x);
    // Without the bit nothing is read, and a full-screen close stores no geometry.
    lvDisplayOptions plain;
    InitDisplayDefaults(&plain);
    EXPECT_EQ(ApplyDisplayPlacement(L, 3, &plain), 0);
    ASSERT_EQ(RealizeDisplay(L, d, 0), 0);
    d->fakeFullScreen = 1;
    ASSERT_EQ(CloseDisplayCore(L, d, 0), 0);
    EXPECT_EQ(ReadDisplayPlacement(L, 3, &p), 0);
}

}  // namespace

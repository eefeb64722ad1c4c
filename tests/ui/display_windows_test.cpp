// Displays on the platform's windows, without the runtime executable: the letterbox
// table, autoscaled displays fitted at creation and on resizes, size events of autoscaled
// displays, the vertical-blank sleep, titles cut at a character, refresh mode and the
// output checks, hiding and showing.
#include <gtest/gtest.h>

#include "runtime/cmdsupport.h"
#include "base/lverrors.h"
#include "runtime/startup.h"
#include "ui/display.h"
#include "ui/display_windows.h"
#include "vm/lvvm.h"
#include <cstring>
#include <string>

void SetEventQueueOpen(int open);

namespace {

TEST(Letterbox, FitsThePictureIntoTheAvailableSize)
{
    struct Case {
        int aw, ah, pw, ph, keep;
        lvLetterbox want;
    };
    const Case cases[] = {
        {1000, 600, 320, 240, 1, {800, 600, 100, 0, 100, 0}},
        {1000, 600, 640, 480, 0, {1000, 600, 0, 0, 0, 0}},
        {640, 360, 320, 240, 1, {480, 360, 80, 0, 80, 0}},
        {300, 500, 320, 240, 1, {300, 225, 0, 137, 0, 138}},  // odd rest goes right and bottom
        {641, 481, 640, 480, 1, {641, 480, 0, 0, 0, 1}},
    };
    for (const Case &c : cases) {
        lvLetterbox l = ComputeLetterbox(c.aw, c.ah, c.pw, c.ph, c.keep);
        EXPECT_EQ(std::memcmp(&l, &c.want, sizeof l), 0)
            << c.aw << "x" << c.ah << ": " << l.width << "x" << l.height << " " << l.left << "," << l.top << ","
            << l.right << "," << l.bottom;
    }
}

TEST(VerticalBlank, SleepsTheRestOfTheFrame)
{
    struct Case {
        uint32_t lastS, lastUs, nowS, nowUs;
        int limit, want;
    };
    const Case cases[] = {
        {10, 0, 10, 5000, 50, 15},       // 5 ms into a 20 ms frame
        {10, 0, 10, 0, 60, 16},          // 16666 us, whole milliseconds
        {10, 990000, 11, 1000, 50, 9},   // across a second: 11 ms gone
        {10, 0, 10, 25000, 50, 0},       // frame already over
        {10, 0, 11, 5000, 50, 0},        // more than a second
        {10, 0, 10, 5000, 0, 11},        // no limit means 60
    };
    for (const Case &c : cases) {
        lvTimeVal last = {c.lastS, c.lastUs}, now = {c.nowS, c.nowUs};
        EXPECT_EQ(VWaitSleepMilliseconds(&last, &now, c.limit), c.want) << c.nowS << "." << c.nowUs;
    }
    SetFPSLimit(0);
    EXPECT_EQ(GetFPSLimit(), 60);
    SetFPSLimit(-5);
    EXPECT_EQ(GetFPSLimit(), 60);
    SetFPSLimit(25);
    EXPECT_EQ(GetFPSLimit(), 25);
    SetFPSLimit(60);
}

TEST(WindowTitle, CutAtACharacterBoundary)
{
    std::string title(254, 'x');
    title += "\xC3\xA4\xC3\xB6";  // two 2-byte characters at bytes 254..257
    char out[256];
    CutTitle(out, sizeof out, title.c_str());
    EXPECT_EQ(std::strlen(out), 254u);  // not 255: that would split the first character
    CutTitle(out, sizeof out, "short \xE2\x82\xAC");
    EXPECT_STREQ(out, "short \xE2\x82\xAC");
}

class WindowDisplays : public ::testing::Test {
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
        SetWindowOps(nullptr);  // the in-memory windows
    }
    void TearDown() override
    {
        SetCurrentDisplay(nullptr);
        ShutdownDisplays(L);
        FreeAllBGPics();
        DropEvents(L, -1, 1);
        SetEventQueueOpen(0);
        FreeEventLock();
        CloseVMState(L);
        ResetVMRun();
    }
    lvDisplay *Create(int number, void (*fill)(lvState *))
    {
        lvDisplayRequest request;
        InitDisplayRequest(&request);
        int top = GetStackTop(L);
        PushNewTable(L);
        if (fill) fill(L);
        int err = ReadDisplayOptions(L, -1, &request);
        SetStackTop(L, top);
        lvDisplay *d = nullptr;
        if (!err) err = CreateDisplayFromRequest(L, number, 0, &request, &d);
        FreeDisplayRequest(&request);
        EXPECT_EQ(err, 0);
        return d;
    }
};

void Autoscaled(lvState *L)
{
    SetFieldInt(L, "width", 320);
    SetFieldInt(L, "height", 240);
    SetFieldInt(L, "scalemode", 1);
    SetFieldInt(L, "scalewidth", 640);
    SetFieldInt(L, "scaleheight", 360);
    SetFieldInt(L, "keepproportions", 1);
}

TEST_F(WindowDisplays, AnAutoscaledDisplayIsLetterboxedAndRefitsOnResizes)
{
    lvDisplay *d = Create(1, Autoscaled);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->width, 640);
    EXPECT_EQ(d->height, 360);
    EXPECT_EQ(d->scaleWidth, 480);
    EXPECT_EQ(d->marginLeft, 80);
    EXPECT_EQ(d->marginRight, 80);
    EXPECT_EQ(d->bgpic->scaledWidth, 320);
    // The user makes the window 1000x600: the picture keeps its size and is refitted.
    ASSERT_EQ(ResizeDisplay(L, d, LV_KEEPPOSITION, LV_KEEPPOSITION, 1000, 600, 2), 0);
    EXPECT_EQ(d->width, 1000);
    EXPECT_EQ(d->scaleWidth, 800);
    EXPECT_EQ(d->scaleHeight, 600);
    EXPECT_EQ(d->marginLeft, 100);
    EXPECT_EQ(d->bgpic->scaledWidth, 320);
    // The script makes the picture 640x480: the window keeps its size.
    ASSERT_EQ(ResizeDisplay(L, d, LV_KEEPPOSITION, LV_KEEPPOSITION, 640, 480, 1 | 2), 0);
    EXPECT_EQ(d->width, 1000);
    EXPECT_EQ(d->bgpic->scaledWidth, 640);
    EXPECT_EQ(d->scaleWidth, 800);
    EXPECT_DOUBLE_EQ(d->scaleX, 800.0 / 640);
    // Without keepproportions a window change stretches the picture over the window.
    d->styleFlags &= ~DSTYLE_KEEPPROPORTIONS;
    ASSERT_EQ(ResizeDisplay(L, d, LV_KEEPPOSITION, LV_KEEPPOSITION, 1000, 600, 2), 0);
    EXPECT_EQ(d->scaleWidth, 1000);
    EXPECT_EQ(d->scaleHeight, 600);
    EXPECT_EQ(d->marginLeft, 0);
    // An unscaled display follows a script resize with its own picture.
    lvDisplay *plain = Create(2, [](lvState *L) { SetFieldInt(L, "width", 100); });
    ASSERT_EQ(ResizeDisplay(L, plain, LV_KEEPPOSITION, LV_KEEPPOSITION, 200, 150, 1 | 2), 0);
    EXPECT_EQ(plain->width, 200);
    EXPECT_EQ(plain->bgpic->scaledHeight, 150);
}

TEST_F(WindowDisplays, SizeEventsOfAutoscaledDisplaysPassOnlyInSystemScaleMode)
{
    lvDisplay *autoscaled = Create(1, Autoscaled);
    lvDisplay *system = Create(2, [](lvState *L) {
        SetFieldInt(L, "width", 320);
        SetFieldInt(L, "height", 240);
        SetFieldString(L, "mode", "systemscale");
        SetFieldNumber(L, "scalefactor", 2.0);
    });
    lvDisplay *plain = Create(3, nullptr);
    ASSERT_TRUE(autoscaled && system && plain);
    EXPECT_EQ(system->mode, DISPMODE_WINDOWED);  // rewritten, but remembered
    EXPECT_TRUE(system->autoscale);
    EXPECT_EQ(SuppressAutoscaleSizeEvent(autoscaled), 1);
    EXPECT_EQ(SuppressAutoscaleSizeEvent(system), 0);
    EXPECT_EQ(SuppressAutoscaleSizeEvent(plain), 0);
}

TEST_F(WindowDisplays, RefreshModeHideShowAndTheirRefusals)
{
    lvDisplay *plain = Create(1, nullptr);
    lvDisplay *scaled = Create(2, Autoscaled);
    // Unscaled, no force: nothing happens.
    EXPECT_EQ(BeginDisplayRefresh(plain, 0), 0);
    EXPECT_EQ(plain->refreshMode, 0);
    EXPECT_EQ(BeginDisplayRefresh(scaled, 0), 0);
    EXPECT_EQ(scaled->refreshMode, 1);
    EXPECT_EQ(BeginDisplayRefresh(scaled, 0), ERR_WRONGUSAGE);
    EXPECT_EQ(EndDisplayRefresh(L, scaled), 0);
    EXPECT_EQ(scaled->refreshMode, 0);
    // Another output selected: the code of that selection.
    struct Case {
        int kind, selectedType, doubleBuffer, want;
    };
    const Case cases[] = {
        {OUTPUT_BGPIC, 0, 0, ERR_SELECTBG},    {OUTPUT_DISPLAY, 0, 1, ERR_ENDDOUBLEBUFFER},
        {OUTPUT_IMAGE, 4, 0, ERR_SELECTANIM},  {OUTPUT_IMAGE, 3, 0, ERR_SELECTBRUSH},
        {OUTPUT_MASK, 3, 0, ERR_SELECTMASK},   {OUTPUT_ALPHA, 3, 0, ERR_SELECTALPHACHANNEL},
        {OUTPUT_DISPLAY, 0, 0, 0},
    };
    SetCurrentDisplay(plain);
    lvBGPic *output = GetCurrentOutput();
    ASSERT_NE(output, nullptr);
    for (const Case &c : cases) {
        plain->select.blit.target.kind = c.kind;
        plain->select.doubleBufferActive = c.doubleBuffer;
        int savedType = output->selectedType;
        output->selectedType = c.selectedType;
        EXPECT_EQ(BeginDisplayRefresh(plain, 1), c.want) << c.kind << "/" << c.selectedType;
        output->selectedType = savedType;
        plain->refreshMode = 0;
    }
    plain->select.blit.target.kind = OUTPUT_DISPLAY;
    plain->select.doubleBufferActive = 0;
    // Hide and show: each only from the other state.
    EXPECT_EQ(HideDisplayById(plain), ERR_WRONGUSAGE);  // still closed
    ASSERT_EQ(RealizeDisplay(L, plain, 0), 0);
    EXPECT_EQ(ShowDisplayById(L, plain), ERR_WRONGUSAGE);
    EXPECT_EQ(HideDisplayById(plain), 0);
    EXPECT_EQ(plain->state, DISPSTATE_MINIMIZED);
    EXPECT_EQ(plain->window->minimised, 1);
    EXPECT_EQ(HideDisplayById(plain), ERR_WRONGUSAGE);
    EXPECT_EQ(ShowDisplayById(L, plain), 0);
    EXPECT_EQ(plain->state, DISPSTATE_OPEN);
    // Titles reach the open window; moves resolve against the monitor.
    SetDisplayTitle(plain, "Moved");
    EXPECT_STREQ(plain->window->title, "Moved");
    ASSERT_EQ(MoveDisplayTo(plain, 30, 40), 0);
    EXPECT_EQ(plain->window->x, 30);
    EXPECT_EQ(plain->window->y, 40);
    ASSERT_EQ(MoveDisplayTo(plain, LV_CENTER, LV_KEEPPOSITION), 0);
    EXPECT_EQ(plain->x, (1920 - plain->width) / 2);
    EXPECT_EQ(plain->y, 40);
}

}  // namespace

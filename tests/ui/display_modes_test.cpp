// Display modes on the in-memory windows (one 1920x1080 monitor): the full-screen-scale
// toggle and its way back, full screen and fake full screen, the refusals, the asking
// modes through test requesters, the screen-mode choice and the best monitor.
#include <gtest/gtest.h>

#include "base/lverrors.h"
#include "runtime/cmdsupport.h"
#include "runtime/errors.h"
#include "runtime/startup.h"
#include "ui/display.h"
#include "ui/display_modes.h"
#include "ui/display_attrs.h"
#include "ui/display_windows.h"
#include "images/imaging_links.h"
#include "images/lvbgpic.h"
#include "images/lvbrush.h"
#include "raster/lvrect.h"
#include <cstdio>
#include <unistd.h>
#include "vm/lvvm.h"
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

void SetEventQueueOpen(int open);

namespace {

TEST(ScreenModes, TheSmallestModeThatHoldsTheSize)
{
    const lvScreenMode modes[] = {{640, 480}, {800, 600}, {1024, 600}, {1024, 768}, {1920, 1080}};
    struct Case {
        int width, height, err;
        lvScreenMode want;
    };
    const Case cases[] = {
        {640, 480, 0, {640, 480}},    {641, 480, 0, {800, 600}},     {1000, 600, 0, {1024, 600}},
        {1000, 700, 0, {1024, 768}},  {1920, 1080, 0, {1920, 1080}}, {2000, 100, ERR_SCREEN, {0, 0}},
    };
    for (const Case &c : cases) {
        lvScreenMode got = {0, 0};
        EXPECT_EQ(ChooseScreenMode(modes, 5, c.width, c.height, &got), c.err) << c.width << "x" << c.height;
        EXPECT_EQ(got.width, c.want.width);
        EXPECT_EQ(got.height, c.want.height);
    }
}

TEST(Monitors, TheLargestOverlapWinsTheFirstOnATie)
{
    const lvMonitorRect monitors[] = {{0, 0, 1920, 1080}, {1920, 0, 1280, 1024}};
    EXPECT_EQ(FindBestMonitor(monitors, 2, 100, 100, 640, 480), 0);
    EXPECT_EQ(FindBestMonitor(monitors, 2, 1800, 100, 640, 480), 1);  // 120 against 520 columns
    EXPECT_EQ(FindBestMonitor(monitors, 2, 1600, 100, 640, 480), 0);  // 320 each: the first
    EXPECT_EQ(FindBestMonitor(monitors, 2, -5000, -5000, 10, 10), 0);  // none overlaps
}

// Test requesters: the answer they give and what they were shown.
int chooseAnswer;
std::string shownButtons;
std::vector<std::string> listed;
int listPreselected, listAnswer;
int TestChoose(lvState *, lvDisplay *, const char *, const char *body, const char *buttons, int *choice)
{
    EXPECT_STREQ(body, "Please select desired display mode!");
    shownButtons = buttons;
    *choice = chooseAnswer;
    return 0;
}
int TestList(lvState *, lvDisplay *, const char *, const char *, const char *const *entries, int count, int preselected,
             int *chosen)
{
    listed.assign(entries, entries + count);
    listPreselected = preselected;
    *chosen = listAnswer;
    return 0;
}
int TestModes(int, lvScreenMode *out, int max)
{
    const lvScreenMode modes[] = {{1024, 768}, {640, 480}, {800, 600}, {1920, 1080}};
    int n = std::min(max, 4);
    for (int i = 0; i < n; i++) out[i] = modes[i];
    return n;
}

class DisplayModes : public ::testing::Test {
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
        SetModeRequesterHooks(nullptr);
    }
    void TearDown() override
    {
        SetModeRequesterHooks(nullptr);
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
    lvDisplay *Open(int number, int width, int height, int x, int y, void (*more)(lvDisplayRequest *) = nullptr)
    {
        lvDisplayRequest request;
        InitDisplayRequest(&request);
        request.width = width;
        request.height = height;
        request.x = x;
        request.y = y;
        if (more) more(&request);
        lvDisplay *d = nullptr;
        EXPECT_EQ(CreateDisplayFromRequest(L, number, 0, &request, &d), 0);
        FreeDisplayRequest(&request);
        if (!d) return nullptr;
        EXPECT_EQ(RealizeDisplay(L, d, 0), 0);
        return d;
    }
    int Change(lvDisplay *d, int mode, int width = 0, int height = 0)
    {
        lvModeRequest q;
        InitModeRequest(&q);
        q.width = width;
        q.height = height;
        return ChangeDisplayModeOf(L, d, mode, &q);
    }
};

TEST_F(DisplayModes, TheToggleEntersFullScreenScaleAndComesBackToTheWindow)
{
    lvDisplay *d = Open(1, 320, 240, 100, 50);
    ASSERT_NE(d, nullptr);
    uint32_t flags = d->styleFlags;
    ASSERT_EQ(Change(d, DISPMODE_MODESWITCH), 0);
    EXPECT_EQ(d->fullScreenScale, 1);
    EXPECT_EQ(d->fullScreen, 0);
    EXPECT_TRUE(IsDisplayFullScreen(d));
    EXPECT_EQ(d->state, DISPSTATE_OPEN);
    EXPECT_EQ(d->window->x, 0);
    EXPECT_EQ(d->window->width, 1920);
    EXPECT_EQ(d->window->height, 1080);
    EXPECT_TRUE(d->styleFlags & DSTYLE_BORDERLESS);
    EXPECT_TRUE(d->styleFlags & DSTYLE_FIXED);
    // Proportions kept: 1440x1080 between 240-pixel bars, smoothly.
    EXPECT_EQ(d->scaleWidth, 1440);
    EXPECT_EQ(d->marginLeft, 240);
    EXPECT_EQ(d->window->destX, 240);
    EXPECT_EQ(d->window->destWidth, 1440);
    EXPECT_EQ(d->smoothScale, 1);
    EXPECT_EQ(d->bgpic->scaledWidth, 320);  // the picture keeps its size
    // Asking again for the same mode does nothing; other modes are refused while in it.
    EXPECT_EQ(Change(d, DISPMODE_FULLSCREENSCALE), 0);
    EXPECT_EQ(Change(d, DISPMODE_FULLSCREEN), ERR_WRONGUSAGE);
    EXPECT_EQ(Change(d, DISPMODE_FAKEFULLSCREEN), ERR_WRONGUSAGE);
    ASSERT_EQ(Change(d, DISPMODE_MODESWITCH), 0);
    EXPECT_EQ(d->fullScreenScale, 0);
    EXPECT_EQ(d->styleFlags, flags);
    EXPECT_EQ(d->width, 320);
    EXPECT_EQ(d->scaleWidth, 0);
    EXPECT_EQ(d->autoscale, 0);
    EXPECT_EQ(d->window->x, 100);
    EXPECT_EQ(d->window->y, 50);
    EXPECT_EQ(d->window->destWidth, 320);
}

TEST_F(DisplayModes, AnAutoscaledDisplayGetsItsScaleSizeBack)
{
    lvDisplay *d = Open(1, 320, 240, 10, 20, [](lvDisplayRequest *r) {
        r->styleFlags |= DSTYLE_AUTOSCALE | DSTYLE_KEEPPROPORTIONS;
        r->scaleWidth = 640;
        r->scaleHeight = 360;
    });
    ASSERT_NE(d, nullptr);
    ASSERT_EQ(d->scaleWidth, 480);
    ASSERT_EQ(Change(d, DISPMODE_FULLSCREENSCALE), 0);
    EXPECT_EQ(d->scaleWidth, 1440);
    ASSERT_EQ(Change(d, DISPMODE_WINDOWED), 0);
    EXPECT_EQ(d->autoscale, 1);
    EXPECT_EQ(d->width, 640);
    EXPECT_EQ(d->height, 360);
    EXPECT_EQ(d->scaleWidth, 480);
    EXPECT_EQ(d->marginLeft, 80);
}

TEST_F(DisplayModes, FullScreenIsBorderlessFixedCentredAndComesBack)
{
    lvDisplay *d = Open(1, 640, 480, 30, 40);
    ASSERT_NE(d, nullptr);
    ASSERT_EQ(Change(d, DISPMODE_FULLSCREEN), 0);
    EXPECT_EQ(d->fullScreen, 1);
    EXPECT_EQ(d->screenWidth, 640);
    EXPECT_EQ(d->screenHeight, 480);
    EXPECT_TRUE(d->styleFlags & DSTYLE_BORDERLESS);
    EXPECT_TRUE(d->styleFlags & DSTYLE_FIXED);
    EXPECT_EQ(d->window->x, (1920 - 640) / 2);
    EXPECT_EQ(d->window->y, (1080 - 480) / 2);
    // The same size again does nothing; a smaller screen than the display is refused.
    EXPECT_EQ(Change(d, DISPMODE_FULLSCREEN), 0);
    EXPECT_EQ(Change(d, DISPMODE_FULLSCREEN, 320, 200), ERR_WRONGUSAGE);
    EXPECT_EQ(Change(d, DISPMODE_FULLSCREENSCALE), ERR_WRONGUSAGE);
    // A second display cannot go full screen on the same monitor (monitor 1 in the message).
    lvDisplay *other = Open(2, 100, 100, 0, 0);
    ASSERT_NE(other, nullptr);
    EXPECT_EQ(Change(other, DISPMODE_FAKEFULLSCREEN), ERR_MONITORFULLSCREEN);
    EXPECT_EQ(GetErrorState()->numberArg, 1);
    ASSERT_EQ(Change(d, DISPMODE_WINDOWED), 0);
    EXPECT_EQ(d->fullScreen, 0);
    EXPECT_FALSE(d->styleFlags & DSTYLE_BORDERLESS);
    EXPECT_EQ(d->window->x, 30);
    EXPECT_EQ(d->window->y, 40);
    // Fake full screen now may: borderless and centred, no screen change.
    ASSERT_EQ(Change(other, DISPMODE_FAKEFULLSCREEN), 0);
    EXPECT_EQ(other->fakeFullScreen, 1);
    EXPECT_EQ(other->window->x, 910);
    ASSERT_EQ(Change(other, DISPMODE_MODESWITCH), 0);
    EXPECT_EQ(other->fakeFullScreen, 0);
}

TEST_F(DisplayModes, RefusalsAndTheAskingModes)
{
    lvDisplay *d = Open(1, 640, 480, 0, 0);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(Change(d, 5), ERR_WRONGUSAGE);
    EXPECT_EQ(Change(d, 0), ERR_WRONGUSAGE);
    // Without requesters the asking modes wait for them.
    for (int mode : {DISPMODE_ASK, DISPMODE_MODEREQUESTER, DISPMODE_ASKAUTO, DISPMODE_ASKLAYERS})
        EXPECT_EQ(Change(d, mode), ERR_UNIMPLCMD) << mode;
    lvModeRequesterHooks hooks = {TestChoose, TestList};
    SetModeRequesterHooks(&hooks);
    chooseAnswer = 0;  // cancel
    EXPECT_EQ(Change(d, DISPMODE_ASK), ERR_USERABORT);
    EXPECT_EQ(shownButtons, "Full screen (best fit)|Windowed|Full screen (manual select)|Cancel");
    EXPECT_EQ(Change(d, DISPMODE_ASKAUTO), ERR_USERABORT);
    EXPECT_EQ(shownButtons, "Full screen|Windowed|Cancel");
    chooseAnswer = 1;  // full screen, as autofullscreen: the full-screen-scale mode
    ASSERT_EQ(Change(d, DISPMODE_ASKAUTO), 0);
    EXPECT_EQ(d->fullScreenScale, 1);
    chooseAnswer = 2;  // windowed
    ASSERT_EQ(Change(d, DISPMODE_ASK), 0);
    EXPECT_EQ(d->fullScreenScale, 0);
    // The mode list: sorted, "%dx%d", the first at least as large as the display chosen.
    lvWindowOps ops = *WindowOps();
    ops.ListDisplayModes = TestModes;
    SetWindowOps(&ops);
    listAnswer = -1;
    EXPECT_EQ(Change(d, DISPMODE_MODEREQUESTER), ERR_USERABORT);
    EXPECT_EQ(listed, (std::vector<std::string>{"640x480", "800x600", "1024x768", "1920x1080"}));
    EXPECT_EQ(listPreselected, 0);
    listAnswer = 2;
    ASSERT_EQ(Change(d, DISPMODE_MODEREQUESTER), 0);
    EXPECT_EQ(d->fullScreen, 1);
    EXPECT_EQ(d->screenWidth, 1024);
    EXPECT_EQ(d->screenHeight, 768);
    // Closed: refused.
    ASSERT_EQ(CloseDisplayCore(L, d, 0), 0);
    EXPECT_EQ(Change(d, DISPMODE_WINDOWED), ERR_CLOSEDDISPLAY);
}

void FramedBorders(uint32_t style, int *left, int *top, int *right, int *bottom)
{
    bool none = style & DSTYLE_BORDERLESS;
    *left = *right = *bottom = none ? 0 : 4;
    *top = none ? 0 : 24;
}

// SetDisplayAttributes' engine through its table reader, as the command calls it.
int SetAttributes(lvState *L, lvDisplay *d, void (*fill)(lvState *))
{
    int top = GetStackTop(L);
    PushNewTable(L);
    fill(L);
    static lvAttributeRequest q;
    int err = ReadAttributeOptions(L, GetStackTop(L), d, &q);
    SetStackTop(L, top);
    return err ? err : ApplyDisplayAttributes(L, d, &q);
}

double Attribute(lvState *L, lvDisplay *d, int attribute)
{
    int top = GetStackTop(L);
    EXPECT_EQ(GetDisplayAttribute(L, attribute, GetObjectIdOf(&d->header)), 1) << attribute;
    double value = ValueToNumber(L, -1);
    SetStackTop(L, top);
    return value;
}

TEST_F(DisplayModes, SetDisplayAttributesRoundTripsAndKeepsTheInsideInPlace)
{
    lvWindowOps ops = *WindowOps();
    ops.GetWindowBorderSizes = FramedBorders;
    SetWindowOps(&ops);
    lvDisplay *d = Open(1, 320, 240, 100, 50);
    ASSERT_NE(d, nullptr);
    ASSERT_EQ(d->borderTop, 24);
    // Borderless: the inside stays at (104, 74), so the window's corner moves there.
    ASSERT_EQ(SetAttributes(L, d, [](lvState *L) { SetFieldInt(L, "borderless", 1); }), 0);
    EXPECT_EQ(d->window->x, 104);
    EXPECT_EQ(d->window->y, 74);
    EXPECT_EQ(Attribute(L, d, 46), 1);
    EXPECT_EQ(Attribute(L, d, 7), 104);
    ASSERT_EQ(SetAttributes(L, d, [](lvState *L) { SetFieldInt(L, "borderless", 0); }), 0);
    EXPECT_EQ(d->window->x, 100);
    EXPECT_EQ(d->window->y, 50);
    // Several at once, read back.
    ASSERT_EQ(SetAttributes(L, d, [](lvState *L) {
                  SetFieldInt(L, "x", 10);
                  SetFieldInt(L, "y", 20);
                  SetFieldInt(L, "sizeable", 1);
                  SetFieldInt(L, "noclose", 1);
                  SetFieldInt(L, "nomodeswitch", 1);
              }),
              0);
    EXPECT_EQ(Attribute(L, d, 7), 10);
    EXPECT_EQ(Attribute(L, d, 8), 20);
    EXPECT_EQ(Attribute(L, d, 48), 1);
    EXPECT_EQ(Attribute(L, d, 61), 1);
    EXPECT_EQ(Attribute(L, d, 50), 1);
    // Autoscale on with a scale size, then scalemode 0 goes back to 1:1 first.
    ASSERT_EQ(SetAttributes(L, d, [](lvState *L) {
                  SetFieldInt(L, "scalemode", 1);
                  SetFieldInt(L, "scalewidth", 640);
                  SetFieldInt(L, "scaleheight", 480);
              }),
              0);
    EXPECT_EQ(Attribute(L, d, 43), 1);
    EXPECT_EQ(Attribute(L, d, 44), 640);
    EXPECT_EQ(Attribute(L, d, 67), 640);
    EXPECT_EQ(Attribute(L, d, 0), 320);
    ASSERT_EQ(SetAttributes(L, d, [](lvState *L) { SetFieldInt(L, "scalemode", 0); }), 0);
    EXPECT_EQ(Attribute(L, d, 43), 0);
    EXPECT_EQ(Attribute(L, d, 67), 320);
    EXPECT_EQ(d->window->destWidth, 320);
}

TEST_F(DisplayModes, SetDisplayAttributesRefusals)
{
    lvDisplay *d = Open(1, 320, 240, 0, 0);
    lvDisplay *other = Open(2, 100, 100, 0, 0);
    ASSERT_TRUE(d && other);
    // 129 regions do not fit the record.
    EXPECT_EQ(SetAttributes(L, d,
                            [](lvState *L) {
                                PushString(L, "dragregion");
                                PushNewTable(L);
                                for (int i = 0; i < 129; i++) {
                                    PushNewTable(L);
                                    SetFieldInt(L, "x", i);
                                    SetFieldInt(L, "y", 0);
                                    SetFieldInt(L, "width", 1);
                                    SetFieldInt(L, "height", 1);
                                    SetTableItemRaw(L, -2, i);
                                }
                                SetTableValue(L, -3);
                            }),
              ERR_WRONGUSAGE);
    EXPECT_EQ(SetAttributes(L, d, [](lvState *L) { SetFieldInt(L, "scalemode", 3); }), ERR_WRONGUSAGE);
    EXPECT_EQ(SetAttributes(L, d, [](lvState *L) { SetFieldInt(L, "monitor", 2); }), ERR_MONITORRANGE);
    // The BGPic another display shows.
    static lvObjectId shown;
    shown = GetObjectIdOf(&other->bgpic->header);
    EXPECT_EQ(SetAttributes(L, d, [](lvState *L) { SetFieldObjectId(L, "bgpic", shown); }), ERR_MULTIBGPIC);
    // A long title is cut before 256 bytes, never inside a character.
    ASSERT_EQ(SetAttributes(L, d,
                            [](lvState *L) {
                                std::string title;
                                for (int i = 0; i < 200; i++) title += "\xC3\xA9";
                                SetFieldString(L, "title", title.c_str());
                            }),
              0);
    EXPECT_EQ(std::strlen(d->title), 254u);
    EXPECT_EQ((unsigned char)d->title[253], 0xA9);
}

}  // namespace

int DisplayCount()
{
    int n = 0;
    for (lvDisplay *o = FirstDisplay(); o; o = (lvDisplay *)o->header.next) n++;
    return n;
}

// Full screen and fake full screen without an adapter fill the rest of the monitor with a
// backfill display under the display; it goes with the window mode and with the display.
TEST_F(DisplayModes, FullScreenFillsTheMonitorWithABackfillThatGoesWithIt)
{
    lvWindowOps ops = *WindowOps();
    ops.GetWindowBorderSizes = FramedBorders;  // title bar 24 - 4
    SetWindowOps(&ops);
    lvDisplay *d = Open(1, 640, 480, 30, 40);
    ASSERT_NE(d, nullptr);
    ASSERT_EQ(DisplayCount(), 1);
    ASSERT_EQ(Change(d, DISPMODE_FULLSCREEN), 0);
    lvDisplay *b = d->backfillOf;
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->backfillOwner, d);
    EXPECT_EQ(b->backfillDisplay, 1);
    ASSERT_NE(b->window, nullptr);
    // The whole monitor (the title bar is hidden), black, frameless, under the display.
    EXPECT_EQ(b->window->x, 0);
    EXPECT_EQ(b->window->y, 0);
    EXPECT_EQ(b->window->width, 1920);
    EXPECT_EQ(b->window->height, 1080);
    EXPECT_TRUE(b->styleFlags & DSTYLE_BORDERLESS);
    EXPECT_EQ(b->window->pixels[0] & 0xFFFFFF, 0u);
    EXPECT_EQ(b->window->pixels[1920 * 1080 - 1] & 0xFFFFFF, 0u);
    EXPECT_EQ(GetCurrentDisplay() == b, false);
    EXPECT_EQ(Attribute(L, d, 93), 20);
    // Back to the window: the backfill is gone.
    ASSERT_EQ(Change(d, DISPMODE_WINDOWED), 0);
    EXPECT_EQ(d->backfillOf, nullptr);
    EXPECT_EQ(DisplayCount(), 1);
    // A declared colour backfill that keeps the title bar leaves its strip free.
    d->backfill.type = 1;
    d->backfill.startColour = 0x123456;
    d->backfill.hideTitleBar = 0;
    ASSERT_EQ(Change(d, DISPMODE_FAKEFULLSCREEN), 0);
    b = d->backfillOf;
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->window->y, 20);
    EXPECT_EQ(b->window->height, 1060);
    EXPECT_EQ(b->window->pixels[5] & 0xFFFFFF, 0x123456u);
    // Freeing the display frees its backfill.
    SetCurrentDisplay(nullptr);
    ASSERT_EQ(FreeDisplayById(L, lvObjectId{1, nullptr}), 0);
    EXPECT_EQ(DisplayCount(), 0);
}

int TwoMonitors(lvMonitorRect *out, int max)
{
    const lvMonitorRect monitors[] = {{0, 0, 1920, 1080}, {1920, 0, 1280, 1024}};
    int n = std::min(max, 2);
    for (int i = 0; i < n; i++) out[i] = monitors[i];
    return n;
}

// A display in fake full screen moved to the second monitor takes its backfill along:
// the backfill covers that monitor, the display is centred on it above the backfill.
TEST_F(DisplayModes, TheBackfillFollowsTheDisplayToAnotherMonitor)
{
    lvWindowOps ops = *WindowOps();
    ops.ListMonitors = TwoMonitors;
    SetWindowOps(&ops);
    lvDisplay *d = Open(1, 320, 240, 30, 40);
    ASSERT_NE(d, nullptr);
    d->backfill.type = 1;
    d->backfill.startColour = 0x123456;
    d->backfill.hideTitleBar = 1;
    ASSERT_EQ(Change(d, DISPMODE_FAKEFULLSCREEN), 0);
    ASSERT_NE(d->backfillOf, nullptr);
    EXPECT_EQ(d->backfillOf->window->width, 1920);
    ASSERT_EQ(SetAttributes(L, d, [](lvState *L) { SetFieldInt(L, "monitor", 2); }), 0);
    lvDisplay *b = d->backfillOf;
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(DisplayCount(), 2);  // the old backfill went
    EXPECT_EQ(b->window->x, 1920);
    EXPECT_EQ(b->window->y, 0);
    EXPECT_EQ(b->window->width, 1280);
    EXPECT_EQ(b->window->height, 1024);
    EXPECT_EQ(b->window->pixels[0] & 0xFFFFFF, 0x123456u);
    EXPECT_EQ(d->window->x, 1920 + (1280 - 320) / 2);
    EXPECT_EQ(d->window->y, (1024 - 240) / 2);
    // Back to the window: no backfill left on either monitor.
    ASSERT_EQ(Change(d, DISPMODE_WINDOWED), 0);
    EXPECT_EQ(d->backfillOf, nullptr);
    EXPECT_EQ(DisplayCount(), 1);
}

TEST_F(DisplayModes, NoBackfillWhenRefusedOrNotYetPossible)
{
    lvDisplay *d = Open(1, 640, 480, 30, 40, [](lvDisplayRequest *r) { r->styleFlags |= DSTYLE_NOBACKFILL; });
    ASSERT_NE(d, nullptr);
    ASSERT_EQ(Change(d, DISPMODE_FULLSCREEN), 0);
    EXPECT_EQ(d->backfillOf, nullptr);
    EXPECT_EQ(DisplayCount(), 1);
    ASSERT_EQ(Change(d, DISPMODE_WINDOWED), 0);
    // A texture backfill whose brush is missing refuses the switch; the window stays and
    // nothing of the backfill is left behind.
    d->styleFlags &= ~DSTYLE_NOBACKFILL;
    d->backfill.type = 3;
    d->backfill.brush = 77;
    EXPECT_EQ(Change(d, DISPMODE_FULLSCREEN), ERR_FINDBRUSH);
    EXPECT_EQ(d->fullScreen, 0);
    EXPECT_EQ(d->state, DISPSTATE_OPEN);
    EXPECT_EQ(DisplayCount(), 1);
    EXPECT_EQ(d->backfillOf, nullptr);
    // So does a picture backfill whose brush file cannot be read.
    d->backfill.type = 4;
    std::snprintf(d->backfillBrushFile, sizeof d->backfillBrushFile, "/nonexistent/backfill.bmp");
    EXPECT_NE(Change(d, DISPMODE_FAKEFULLSCREEN), 0);
    EXPECT_EQ(d->state, DISPSTATE_OPEN);
    EXPECT_EQ(DisplayCount(), 1);
}

// The pictures of gradient, texture and picture backfills, read back from the backfill
// display's window (1920 x 1080, the title bar hidden).
class Backfills : public DisplayModes {
protected:
    void SetUp() override
    {
        DisplayModes::SetUp();
        InstallImagingLinks();
    }
    void TearDown() override
    {
        DisplayModes::TearDown();
        FreeAllBrushes(nullptr);
    }
    // A brush of width x height holding the ARGB words.
    void MakeBrush(int number, int width, int height, const std::vector<uint32_t> &words)
    {
        lvBrushRequest q = {};
        q.width = width, q.height = height, q.alpha = 1;
        q.transparentColour = -1;
        q.callbackRef = q.userDataRef = -1;
        lvObjectId id = {number, nullptr};
        ASSERT_EQ(AllocBrushBitmaps(nullptr, &id, &q), 0);
        lvBrush *b = nullptr;
        ASSERT_EQ(FindBrushById(nullptr, id, &b, 0), 0);
        ASSERT_EQ(FillBrushFromArgb(b, words.data(), 0), 0);
    }
    // The display in full screen with the backfill; its backfill's pixel reader.
    lvDisplay *FullScreen(const lvDisplayBackfill &f)
    {
        lvDisplay *d = Open(1, 640, 480, 30, 40);
        if (!d) return nullptr;
        d->backfill = f;
        d->backfill.hideTitleBar = 1;
        EXPECT_EQ(Change(d, DISPMODE_FULLSCREEN), 0);
        if (!d->backfillOf || !d->backfillOf->window) return nullptr;
        EXPECT_EQ(d->backfillOf->window->width, 1920);
        return d;
    }
    static uint32_t At(lvDisplay *d, int x, int y) { return d->backfillOf->window->pixels[y * 1920 + x] & 0xFFFFFF; }
    static int Channel(uint32_t c, int shift) { return (int)(c >> shift) & 255; }
};

TEST_F(Backfills, AGradientRunsFromTheStartToTheEndColour)
{
    lvDisplayBackfill f = {};
    f.type = 2, f.startColour = 0xFF0000, f.endColour = 0x0000FF;
    lvDisplay *d = FullScreen(f);
    ASSERT_NE(d, nullptr);
    uint32_t first = At(d, 0, 0), last = At(d, 1919, 1079), middle = At(d, 960, 540);
    EXPECT_GE(Channel(first, 16), 240);
    EXPECT_LE(Channel(first, 0), 15);
    EXPECT_LE(Channel(last, 16), 15);
    EXPECT_GE(Channel(last, 0), 240);
    // Half way both colours are mixed about equally.
    EXPECT_NEAR(Channel(middle, 16), 128, 20);
    EXPECT_NEAR(Channel(middle, 0), 128, 20);
}

TEST_F(Backfills, ATextureIsTiledFromTheTopLeftAndCopiedFromItsBrush)
{
    MakeBrush(5, 3, 2, {0xFF112233u, 0xFF445566u, 0xFF778899u, 0xFFAABBCCu, 0xFFDDEEFFu, 0x00123456u});
    lvDisplayBackfill f = {};
    f.type = 3, f.brush = 5;
    lvDisplay *d = FullScreen(f);
    ASSERT_NE(d, nullptr);
    struct Case {
        int x, y;
        uint32_t want;
    };
    const Case cases[] = {
        {0, 0, 0x112233},    {1, 0, 0x445566}, {2, 0, 0x778899},    {3, 0, 0x112233},
        {1, 1, 0xDDEEFF},    {4, 3, 0xDDEEFF}, {2, 1, 0x000000},  // a transparent texel lies on black
        {1918, 1078, 0x445566}, {1919, 1079, 0x000000},            // texels (1, 0) and (2, 1)
    };
    for (const Case &c : cases) EXPECT_EQ(At(d, c.x, c.y), c.want) << c.x << "," << c.y;
    // The backfill keeps its copy when the brush goes.
    FreeAllBrushes(nullptr);
    EXPECT_EQ(At(d, 0, 0), 0x112233u);
    ASSERT_EQ(Change(d, DISPMODE_WINDOWED), 0);
    EXPECT_EQ(d->backfillOf, nullptr);
}

TEST_F(Backfills, APictureLiesOnItsBackgroundAtItsPlaceOrScaledToTheMonitor)
{
    // Opaque blue, half-transparent white.
    MakeBrush(6, 2, 1, {0xFF0000FFu, 0x80FFFFFFu});
    lvDisplayBackfill f = {};
    f.type = 4, f.brush = 6, f.x = SPECIAL_CENTER, f.y = 100;
    f.startColour = 0x00FF00, f.endColour = 0xFFFFFFFFu;  // a colour
    lvDisplay *d = FullScreen(f);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(At(d, 0, 0), 0x00FF00u);
    EXPECT_EQ(At(d, 959, 100), 0x0000FFu);
    EXPECT_EQ(At(d, 960, 100), 0x80FF80u);  // white over green, half each
    EXPECT_EQ(At(d, 961, 100), 0x00FF00u);
    EXPECT_EQ(At(d, 959, 101), 0x00FF00u);
    lvObjectId picture = GetObjectIdOf(&d->backfillOf->bgpic->header);
    // The composed picture goes with the backfill.
    ASSERT_EQ(Change(d, DISPMODE_WINDOWED), 0);
    lvBGPic *gone = nullptr;
    EXPECT_NE(FindBGPicById(picture, &gone, BGPIC_FIND_DETACHED), 0);

    // Scaled to the monitor (nearest), on black when the first colour is -1.
    MakeBrush(7, 2, 1, {0xFFFF0000u, 0xFF0000FFu});
    d->backfill.brush = 7;
    d->backfill.scalePicture = 1;
    d->backfill.startColour = 0xFFFFFFFFu;
    ASSERT_EQ(Change(d, DISPMODE_FULLSCREEN), 0);
    ASSERT_NE(d->backfillOf, nullptr);
    EXPECT_EQ(At(d, 0, 0), 0xFF0000u);
    EXPECT_EQ(At(d, 959, 1079), 0xFF0000u);
    EXPECT_EQ(At(d, 960, 0), 0x0000FFu);
    EXPECT_EQ(At(d, 1919, 1079), 0x0000FFu);
    ASSERT_EQ(Change(d, DISPMODE_WINDOWED), 0);
    // Smoothly: the middle mixes both, the ends keep theirs.
    d->backfill.smoothScale = 1;
    ASSERT_EQ(Change(d, DISPMODE_FULLSCREEN), 0);
    EXPECT_EQ(At(d, 0, 0), 0xFF0000u);
    EXPECT_EQ(At(d, 1919, 0), 0x0000FFu);
    uint32_t middle = At(d, 960, 500);
    EXPECT_NEAR(Channel(middle, 16), 128, 4);
    EXPECT_NEAR(Channel(middle, 0), 128, 4);
}

// A picture backfill from a brush file: a 24-bit BMP of 2 x 2 drawn at the top left on a
// gradient background.
TEST_F(Backfills, APictureComesFromItsBrushFile)
{
    const uint8_t bmp[] = {
        'B', 'M', 70, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0,                                   // file header
        40, 0, 0, 0, 2, 0, 0, 0, 2, 0, 0, 0, 1, 0, 24, 0, 0, 0, 0, 0, 16, 0, 0, 0,        // info header
        0x13, 0x0B, 0, 0, 0x13, 0x0B, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
        0x30, 0x20, 0x10, 0x60, 0x50, 0x40, 0, 0,                                         // bottom row
        0x03, 0x02, 0x01, 0x06, 0x05, 0x04, 0, 0,                                         // top row
    };
    std::string path = ::testing::TempDir() + "/backfill_" + std::to_string(getpid()) + ".bmp";
    FILE *file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    ASSERT_EQ(std::fwrite(bmp, 1, sizeof bmp, file), sizeof bmp);
    std::fclose(file);
    lvDisplay *d = Open(1, 640, 480, 30, 40);
    ASSERT_NE(d, nullptr);
    d->backfill.type = 4;
    d->backfill.hideTitleBar = 1;
    d->backfill.startColour = 0x000000, d->backfill.endColour = 0xFFFFFF;
    std::snprintf(d->backfillBrushFile, sizeof d->backfillBrushFile, "%s", path.c_str());
    ASSERT_EQ(Change(d, DISPMODE_FULLSCREEN), 0);
    std::remove(path.c_str());
    ASSERT_NE(d->backfillOf, nullptr);
    EXPECT_EQ(At(d, 0, 0), 0x010203u);
    EXPECT_EQ(At(d, 1, 0), 0x040506u);
    EXPECT_EQ(At(d, 0, 1), 0x102030u);
    EXPECT_EQ(At(d, 1, 1), 0x405060u);
    // Beyond the picture the gradient shows (light at the far corner).
    EXPECT_GE(Channel(At(d, 1919, 1079), 8), 240);
}

// ChangeDisplayMode's "nobackfill" and "backfill" options reach the display; an unknown
// backfill type changes nothing.
TEST_F(Backfills, TheModeOptionsSetTheBackfill)
{
    MakeBrush(8, 1, 1, {0xFF336699u});
    lvDisplay *d = Open(1, 640, 480, 30, 40);
    ASSERT_NE(d, nullptr);
    // Booleans reach commands as the numbers True and False.
    auto pushBool = [this](const char *name, int value) { SetFieldInt(L, name, value); };
    PushNewTable(L);
    pushBool("nobackfill", 1);
    ASSERT_EQ(ReadModeBackfillOptions(L, GetStackTop(L), d), 0);
    SetStackTop(L, 0);
    EXPECT_TRUE(d->styleFlags & DSTYLE_NOBACKFILL);
    ASSERT_EQ(Change(d, DISPMODE_FULLSCREEN), 0);
    EXPECT_EQ(d->backfillOf, nullptr);
    ASSERT_EQ(Change(d, DISPMODE_WINDOWED), 0);

    PushNewTable(L);
    pushBool("nobackfill", 0);
    PushString(L, "backfill");
    PushNewTable(L);
    SetFieldString(L, "type", "Picture");
    SetFieldInt(L, "brush", 8);
    SetFieldInt(L, "color", 0x00FF00);
    SetFieldInt(L, "endcolor", -1);
    SetFieldInt(L, "x", 7);
    SetFieldInt(L, "y", 3);
    pushBool("hidetitlebar", 1);
    SetTableValue(L, -3);
    ASSERT_EQ(ReadModeBackfillOptions(L, GetStackTop(L), d), 0);
    SetStackTop(L, 0);
    EXPECT_FALSE(d->styleFlags & DSTYLE_NOBACKFILL);
    ASSERT_EQ(Change(d, DISPMODE_FULLSCREEN), 0);
    ASSERT_NE(d->backfillOf, nullptr);
    EXPECT_EQ(At(d, 7, 3), 0x336699u);
    EXPECT_EQ(At(d, 6, 3), 0x00FF00u);
    ASSERT_EQ(Change(d, DISPMODE_WINDOWED), 0);

    PushNewTable(L);
    pushBool("nobackfill", 1);
    PushString(L, "backfill");
    PushNewTable(L);
    SetFieldString(L, "type", "plaid");
    SetTableValue(L, -3);
    EXPECT_EQ(ReadModeBackfillOptions(L, GetStackTop(L), d), ERR_WRONGUSAGE);
    SetStackTop(L, 0);
    EXPECT_EQ(d->backfill.type, 4);
    EXPECT_FALSE(d->styleFlags & DSTYLE_NOBACKFILL);
}

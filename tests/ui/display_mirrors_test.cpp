// Display mirrors on the in-memory windows: attaching and its refusals, the answers of
// the attachment tags and of the attribute entry, presented rectangles in picture or
// window coordinates, input fed back (key codes outside the tables post nothing), a
// display with a mirror that cannot be freed, and a plug-in thread attaching, posting and
// detaching while the script makes, draws on and frees displays.
#include <gtest/gtest.h>

#include "base/lverrors.h"
#include "raster/lvblit.h"
#include "raster/lvplanes.h"
#include "runtime/cmdsupport.h"
#include "runtime/startup.h"
#include "ui/display.h"
#include "ui/display_draw.h"
#include "ui/display_mirrors.h"
#include "ui/display_windows.h"
#include "ui/pointers.h"
#include "vm/lvvm.h"
#include <atomic>
#include <thread>
#include <vector>

void SetEventQueueOpen(int open);

namespace {

struct Received {
    int message;
    lvMirrorBlit blit;
};
std::vector<Received> received;
uint32_t Watch(void *, int message, const void *data, void *)
{
    Received r = {message, {}};
    if (message == 0) r.blit = *(const lvMirrorBlit *)data;
    received.push_back(r);
    return 0;
}

class Mirrors : public ::testing::Test {
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
        InstallDisplayDrawing();
        received.clear();
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
    lvDisplay *Open(int number, bool autoscaled)
    {
        lvDisplayRequest request;
        InitDisplayRequest(&request);
        request.width = 320;
        request.height = 240;
        if (autoscaled) {
            request.styleFlags |= DSTYLE_AUTOSCALE | DSTYLE_KEEPPROPORTIONS;
            request.scaleWidth = 640;
            request.scaleHeight = 360;
        }
        lvDisplay *d = nullptr;
        EXPECT_EQ(CreateDisplayFromRequest(L, number, 0, &request, &d), 0);
        FreeDisplayRequest(&request);
        if (d) EXPECT_EQ(RealizeDisplay(L, d, 0), 0);
        return d;
    }
    void Draw(int x, int y, int width, int height)
    {
        lvBitMapHandle *source = AllocRgbBitmap(width, height, 0, nullptr);
        FillBitmapRect(source, 0, 0, width, height, 0xFF0000);
        BlitImage(L, source, 0, 0, nullptr, nullptr, nullptr, 0, x, y, width, height, width, height, 320, 240,
                  BLIT_RECOMPOSE | BLIT_BACKGROUND | BLIT_HARDWARE, nullptr, nullptr, nullptr, nullptr, -1, -1, -1,
                  -1, nullptr, nullptr);
        FreeBitmapHandle(source);
    }
    int QueuedEvents()
    {
        LockEvents();
        lvFetchedEvent e;
        int n = 0;
        while (FetchEvent(L, n, &e, 0)) n++;
        UnlockEvents();
        return n;
    }
};

TEST_F(Mirrors, AttachingAnswersTheSizesAndRefusesWhatCannotBeMirrored)
{
    lvDisplay *d = Open(1, true);
    ASSERT_NE(d, nullptr);
    lvPluginObjectId one = {1, nullptr}, missing = {9, nullptr};
    int32_t shownW = 0, shownH = 0, picW = 0, picH = 0;
    lvPluginTag tags[] = {{1, (intptr_t)&shownW}, {2, (intptr_t)&shownH}, {77, 5}, {6, (intptr_t)&picW},
                          {7, (intptr_t)&picH}, {0, 0}};
    void *m = AttachDisplayMirror(&one, Watch, nullptr, tags, nullptr);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(shownW, 480);  // the scale size inside the letterbox
    EXPECT_EQ(shownH, 360);
    EXPECT_EQ(picW, 320);
    EXPECT_EQ(picH, 240);
    EXPECT_EQ(AttachDisplayMirror(&missing, Watch, nullptr, nullptr, nullptr), nullptr);
    d->adapterDoubleBuffer = 1;
    EXPECT_EQ(AttachDisplayMirror(&one, Watch, nullptr, nullptr, nullptr), nullptr);
    d->adapterDoubleBuffer = 0;
    // Attributes: unknown tags are not counted; a key that is no mirror finds nothing.
    int32_t width = 0, scaleWidth = 0;
    double factor = 0;
    lvPluginTag ask[] = {{10, 1}, {1, (intptr_t)&width}, {99, 0}, {6, (intptr_t)&scaleWidth},
                         {11, (intptr_t)&factor}, {0, 0}};
    EXPECT_EQ(GetMirrorDisplayAttrs(m, ask), 3);
    EXPECT_EQ(width, 640);
    EXPECT_EQ(scaleWidth, 480);
    EXPECT_DOUBLE_EQ(factor, 1.0);
    int other = 0;
    EXPECT_EQ(GetMirrorDisplayAttrs(&other, ask), -1);
    // A display with a mirror cannot be freed until the mirror goes.
    lvDisplay *two = Open(2, false);
    SetCurrentDisplay(two);
    EXPECT_EQ(FreeDisplayById(L, lvObjectId{1, nullptr}), ERR_SATFREEDISP);
    DetachDisplayMirror(m);
    EXPECT_EQ(GetMirrorDisplayAttrs(m, ask), -1);
    EXPECT_EQ(FreeDisplayById(L, lvObjectId{1, nullptr}), 0);
}

TEST_F(Mirrors, PresentedRectanglesInPictureOrWindowCoordinates)
{
    lvDisplay *d = Open(1, true);
    ASSERT_NE(d, nullptr);
    SetCurrentDisplay(d);
    lvPluginObjectId one = {1, nullptr};
    lvPluginTag picture[] = {{5, 1}, {0, 0}};
    void *inPicture = AttachDisplayMirror(&one, Watch, nullptr, picture, nullptr);
    void *inWindow = AttachDisplayMirror(&one, Watch, nullptr, nullptr, nullptr);
    ASSERT_TRUE(inPicture && inWindow);
    Draw(20, 30, 10, 10);
    ASSERT_EQ(received.size(), 2u);
    EXPECT_EQ(received[0].blit.destX, 20);
    EXPECT_EQ(received[0].blit.width, 10);
    EXPECT_EQ(((const uint32_t *)received[0].blit.pixels)[30 * received[0].blit.rowLength + 20] & 0xFFFFFF,
              0xFF0000u);
    // 1.5 times, inside the 80-pixel bar: (80 + 30, 45), 15x15.
    EXPECT_EQ(received[1].blit.destX, 110);
    EXPECT_EQ(received[1].blit.destY, 45);
    EXPECT_EQ(received[1].blit.width, 15);
    EXPECT_EQ(received[1].blit.height, 15);
    DetachDisplayMirror(inPicture);
    DetachDisplayMirror(inWindow);
}

TEST_F(Mirrors, InputFedBackOnlyForKeysInTheTables)
{
    lvDisplay *d = Open(1, false);
    ASSERT_NE(d, nullptr);
    lvPluginObjectId one = {1, nullptr};
    void *m = AttachDisplayMirror(&one, Watch, nullptr, nullptr, nullptr);
    ASSERT_NE(m, nullptr);
    struct Case {
        int message, code, events;
    };
    const Case cases[] = {{5, 0, 0}, {5, 400, 0}, {5, 314, 0}, {5, -1, 0}, {5, 65, 1},
                          {5, 313, 1}, {8, 0, 0}, {8, 628, 0}, {8, 66, 1}};
    // Every post wakes the main loop, also one that posts nothing.
    static std::atomic<int> wakes;
    SetWakeMainLoopHook([] { wakes++; });
    for (const Case &c : cases) {
        int32_t data[3] = {c.code, 1, 0x10};
        wakes = 0;
        PostMirrorInput(m, c.message, data);
        EXPECT_EQ(QueuedEvents(), c.events) << c.message << "/" << c.code;
        EXPECT_EQ(wakes.load(), 1) << c.message << "/" << c.code;
        DropEvents(L, -1, 1);
    }
    SetWakeMainLoopHook(nullptr);
    EXPECT_EQ(d->events.keyState[65], 1);
    EXPECT_EQ(d->events.rawKeyState[66], 1);
    // Buttons and movement store the last position; a detached mirror posts nothing.
    int32_t click[3] = {7, 8, 1};
    PostMirrorInput(m, 1, click);
    EXPECT_EQ(QueuedEvents(), 1);
    EXPECT_EQ(d->lastMouseX, 7);
    EXPECT_EQ(d->events.leftButton, 1);
    DropEvents(L, -1, 1);
    DetachDisplayMirror(m);
    PostMirrorInput(m, 1, click);
    EXPECT_EQ(QueuedEvents(), 0);
}

// A plug-in's thread works on displays 2 and 3 while the script thread keeps making,
// drawing on and freeing them (a display with a mirror refuses to go until it is
// detached). Run under the race checker.
TEST_F(Mirrors, AThreadAttachesAndPostsWhileTheScriptFreesDisplays)
{
    lvDisplay *one = Open(1, false);
    ASSERT_NE(one, nullptr);
    SetCurrentDisplay(one);
    std::atomic<bool> stop{false};
    std::atomic<int> attached{0};
    std::thread plugin([&] {
        static auto quiet = [](void *, int, const void *, void *) -> uint32_t { return 0; };
        while (!stop) {
            for (int number = 1; number <= 3; number++) {
                lvPluginObjectId id = {number, nullptr};
                void *m = AttachDisplayMirror(&id, quiet, nullptr, nullptr, nullptr);
                if (!m) continue;
                attached++;
                int32_t move[3] = {3, 4, 0}, key[3] = {65, 1, 0};
                PostMirrorInput(m, 0, move);
                PostMirrorInput(m, 5, key);
                int32_t width = 0;
                lvPluginTag ask[] = {{10, 1}, {1, (intptr_t)&width}, {0, 0}};
                GetMirrorDisplayAttrs(m, ask);
                DetachDisplayMirror(m);
                PostMirrorInput(m, 5, key);  // detached: finds nothing
            }
        }
    });
    for (int round = 0; round < 40 || attached.load() < 20; round++) {
        lvDisplay *two = Open(2, false), *three = Open(3, true);
        ASSERT_TRUE(two && three);
        Draw(round % 300, round % 200, 8, 8);  // display 1 presents to whatever mirror it has
        for (int number : {2, 3}) {
            int err;
            while ((err = FreeDisplayById(L, lvObjectId{number, nullptr})) == ERR_SATFREEDISP) {
            }
            EXPECT_EQ(err, 0);
        }
        DropEvents(L, -1, 1);
        if (round > 100000) break;
    }
    stop = true;
    plugin.join();
    EXPECT_GE(attached.load(), 20);
    DropEvents(L, -1, 1);
}

}  // namespace

namespace {

struct PointerNote {
    void *mirror;
    int message;
    int32_t a, b;
};
std::vector<PointerNote> pointerNotes;
void *detachOnFirst = nullptr;

uint32_t WatchPointer(void *mirror, int message, const void *data, void *)
{
    const int32_t *w = (const int32_t *)data;
    pointerNotes.push_back({mirror, message, w ? w[0] : 0, message == 8 && w ? w[1] : 0});
    if (mirror == detachOnFirst) {
        detachOnFirst = nullptr;
        DetachDisplayMirror(mirror);
    }
    return 0;
}

}  // namespace

// Pointer changes go only to the mirrors that asked with tag 9, each once, even when the
// first one detaches itself in its callback; a move is in window pixels (scale 1.5).
TEST_F(Mirrors, PointerChangesReachOnlyTheMirrorsThatAskedForThem)
{
    lvDisplay *d = Open(1, true);
    ASSERT_NE(d, nullptr);
    SetCurrentDisplay(d);
    lvPluginObjectId one = {1, nullptr};
    lvPluginTag asks[] = {{9, 1}, {0, 0}};
    void *first = AttachDisplayMirror(&one, WatchPointer, nullptr, asks, nullptr);
    void *silent = AttachDisplayMirror(&one, WatchPointer, nullptr, nullptr, nullptr);
    void *last = AttachDisplayMirror(&one, WatchPointer, nullptr, asks, nullptr);
    ASSERT_TRUE(first && silent && last);
    pointerNotes.clear();
    detachOnFirst = first;
    ShowHideCurrentPointer(0);
    ASSERT_EQ(pointerNotes.size(), 2u);
    EXPECT_EQ(pointerNotes[0].mirror, first);
    EXPECT_EQ(pointerNotes[1].mirror, last);
    EXPECT_EQ(pointerNotes[1].message, 7);
    EXPECT_EQ(pointerNotes[1].a, 0);
    EXPECT_EQ(d->pointerHidden, 1);

    pointerNotes.clear();
    ASSERT_EQ(MovePointerOnDisplay(LV_CENTER, LV_CENTER), 0);
    ASSERT_EQ(pointerNotes.size(), 1u);
    EXPECT_EQ(pointerNotes[0].message, 8);
    // The standard 32-pixel pointer centred on 320 x 240: (144, 104), times 1.5.
    EXPECT_EQ(pointerNotes[0].a, 216);
    EXPECT_EQ(pointerNotes[0].b, 156);

    pointerNotes.clear();
    lvPointer *busy = nullptr;
    ASSERT_EQ(CreatePointerObject(L, 5, false, 36, lvObjectId{STDPTR_BUSY, nullptr}, 1, -1, -1, &busy), 0);
    ASSERT_EQ(SetPointerOfDisplay(lvObjectId{5, nullptr}), 0);
    ASSERT_EQ(pointerNotes.size(), 1u);
    EXPECT_EQ(pointerNotes[0].message, 6);
    EXPECT_EQ(pointerNotes[0].a, STDPTR_BUSY);
    EXPECT_EQ(d->pointerHidden, 0);
    DetachDisplayMirror(silent);
    DetachDisplayMirror(last);
    FreeAllPointers();
}

// Video frames handed to displays from other threads, on the in-memory windows: frames
// queued by a thread are presented at the next gathering, clipped to the picture (also
// inside the letterbox of a scaled display), over the picture without changing it; a
// freed display's frames go with it and a gone display refuses new ones.
#include <gtest/gtest.h>

#include "base/lverrors.h"
#include "raster/lvplanes.h"
#include "runtime/cmdsupport.h"
#include "runtime/startup.h"
#include "ui/display.h"
#include "ui/display_draw.h"
#include "ui/display_windows.h"
#include "vm/lvvm.h"
#include "tests/ui/headless_displays.h"
#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

namespace {

lvBitMapHandle *Frame(int width, int height, uint32_t colour)
{
    lvBitMapHandle *b = AllocRgbBitmap(width, height, 0, nullptr);
    if (b) FillBitmapRect(b, 0, 0, width, height, colour);
    return b;
}

class VideoFrames : public HeadlessDisplays {
protected:
    lvDisplay *Open(int number, int scaleWidth = 0, int scaleHeight = 0)
    {
        lvDisplayRequest request;
        InitDisplayRequest(&request);
        request.width = 100;
        request.height = 80;
        request.colour = 0x336699;
        if (scaleWidth) {
            request.styleFlags |= DSTYLE_AUTOSCALE | DSTYLE_KEEPPROPORTIONS;
            request.scaleWidth = scaleWidth;
            request.scaleHeight = scaleHeight;
        }
        lvDisplay *d = nullptr;
        EXPECT_EQ(CreateDisplayFromRequest(L, number, 0, &request, &d), 0);
        FreeDisplayRequest(&request);
        if (d) {
            EXPECT_EQ(RealizeDisplay(L, d, 0), 0);
        }
        presented.clear();
        return d;
    }
    uint32_t PicturePixel(lvDisplay *d, int x, int y)
    {
        std::vector<uint32_t> frame(100 * 80);
        EXPECT_EQ(WindowOps()->ReadWindowFrame(d->window, frame.data(), 100, 80), 0);
        return frame[y * 100 + x] & 0xFFFFFF;
    }
};

TEST_F(VideoFrames, FramesFromAThreadArePresentedClippedToThePicture)
{
    lvDisplay *d = Open(1);
    ASSERT_NE(d, nullptr);
    struct Case {
        const char *what;
        int x, y, width, height;
        lvPresented shown;  // width 0: nothing presented
    };
    const Case cases[] = {
        {"inside", 10, 20, 8, 6, {10, 20, 8, 6}},
        {"across the right and bottom edges", 95, 76, 10, 10, {95, 76, 5, 4}},
        {"across the left and top edges", -3, -2, 6, 5, {0, 0, 3, 3}},
        {"wholly outside", 100, 10, 5, 5, {0, 0, 0, 0}},
    };
    std::thread video([&] {
        for (const Case &c : cases) {
            lvBitMapHandle *b = Frame(c.width, c.height, 0x00FF00);
            if (QueueVideoFrame(d, nullptr, b, c.x, c.y, c.width, c.height)) FreeBitmapHandle(b);
        }
    });
    video.join();
    EXPECT_TRUE(presented.empty());  // nothing before the script thread gathers
    DrawPendingVideoFrames(L);
    size_t at = 0;
    for (const Case &c : cases) {
        if (!c.shown.width) continue;
        ASSERT_LT(at, presented.size()) << c.what;
        EXPECT_EQ(presented[at].x, c.shown.x) << c.what;
        EXPECT_EQ(presented[at].y, c.shown.y) << c.what;
        EXPECT_EQ(presented[at].width, c.shown.width) << c.what;
        EXPECT_EQ(presented[at].height, c.shown.height) << c.what;
        at++;
    }
    EXPECT_EQ(presented.size(), at);
    EXPECT_EQ(PicturePixel(d, 12, 22), 0x00FF00u);
    EXPECT_EQ(PicturePixel(d, 99, 79), 0x00FF00u);
    EXPECT_EQ(PicturePixel(d, 0, 0), 0x00FF00u);
    EXPECT_EQ(PicturePixel(d, 50, 50), 0x336699u);
    // The queue was taken whole; the frames lie over the picture, not in it.
    presented.clear();
    DrawPendingVideoFrames(L);
    EXPECT_TRUE(presented.empty());
    RedrawDisplay(L, d, 0x80);
    EXPECT_EQ(PicturePixel(d, 12, 22), 0x336699u);
}

TEST_F(VideoFrames, AScaledDisplayClipsToThePictureInsideItsLetterbox)
{
    // 100x80 into 300x150 keeping proportions: 187x150 with 56-pixel bars. Frames are in
    // picture coordinates; the window scales them with the rest.
    lvDisplay *d = Open(1, 300, 150);
    ASSERT_NE(d, nullptr);
    ASSERT_GT(d->marginLeft, 0);
    lvBitMapHandle *b = Frame(30, 30, 0xFF0000);
    ASSERT_EQ(QueueVideoFrame(d, nullptr, b, 90, 60, 30, 30), 0);
    DrawPendingVideoFrames(L);
    ASSERT_EQ(presented.size(), 1u);
    EXPECT_EQ(presented[0].x, 90);
    EXPECT_EQ(presented[0].y, 60);
    EXPECT_EQ(presented[0].width, 10);
    EXPECT_EQ(presented[0].height, 20);
}

TEST_F(VideoFrames, AFreedDisplayTakesItsFramesAlongAndRefusesNewOnes)
{
    lvDisplay *one = Open(1);
    lvDisplay *two = Open(2);
    ASSERT_TRUE(one && two);
    SetCurrentDisplay(one);
    lvBitMapHandle *first = Frame(4, 4, 0xFF0000);
    ASSERT_EQ(QueueVideoFrame(two, nullptr, first, 0, 0, 4, 4), 0);
    // A display with frames queued counts as playing a video.
    EXPECT_EQ(DisplayHasVideoFrames(two), 1);
    SetCurrentDisplay(two);
    EXPECT_EQ(BeginDisplayDoubleBuffer(L, two, 0), ERR_VIDATTACHED);
    SetCurrentDisplay(one);
    ASSERT_EQ(FreeDisplayById(L, lvObjectId{2, nullptr}), 0);  // the queued frame is freed with it
    lvBitMapHandle *late = Frame(4, 4, 0xFF0000);
    EXPECT_EQ(QueueVideoFrame(two, nullptr, late, 0, 0, 4, 4), ERR_FINDDISPLAY);
    FreeBitmapHandle(late);
    EXPECT_EQ(QueueVideoFrame(one, nullptr, nullptr, 0, 0, 4, 4), ERR_WRONGUSAGE);
    DrawPendingVideoFrames(L);
    EXPECT_TRUE(presented.empty());
}

// A video thread queues while the script thread gathers: every frame is shown once.
TEST_F(VideoFrames, EveryFrameQueuedMeanwhileIsShownOnce)
{
    lvDisplay *d = Open(1);
    ASSERT_NE(d, nullptr);
    const int frames = 300;
    std::atomic<bool> done{false};
    std::thread video([&] {
        for (int i = 0; i < frames; i++) {
            lvBitMapHandle *b = Frame(2, 2, 0x0000FF);
            if (QueueVideoFrame(d, nullptr, b, i % 98, i % 78, 2, 2)) FreeBitmapHandle(b);
        }
        done = true;
    });
    while (!done) DrawPendingVideoFrames(L);
    video.join();
    DrawPendingVideoFrames(L);
    std::lock_guard<std::mutex> hold(presentedLock);
    EXPECT_EQ(presented.size(), (size_t)frames);
}

// A video's newer frame replaces its older one still queued; dropping one video's frames
// leaves the others'.
TEST_F(VideoFrames, AVideosNewerFrameReplacesItsQueuedOneAndDropsAreByVideo)
{
    lvDisplay *d = Open(1);
    ASSERT_NE(d, nullptr);
    int a = 0, b = 0;
    ASSERT_EQ(QueueVideoFrame(d, &a, Frame(4, 4, 0xFF0000), 0, 0, 4, 4), 0);
    ASSERT_EQ(QueueVideoFrame(d, &b, Frame(4, 4, 0x00FF00), 10, 0, 4, 4), 0);
    ASSERT_EQ(QueueVideoFrame(d, &a, Frame(4, 4, 0x0000FF), 20, 0, 4, 4), 0);
    DrawPendingVideoFrames(L);
    ASSERT_EQ(presented.size(), 2u);
    EXPECT_EQ(presented[0].x, 10); // b's, then a's newer one
    EXPECT_EQ(presented[1].x, 20);
    EXPECT_EQ(PicturePixel(d, 1, 1), 0x336699u);
    EXPECT_EQ(PicturePixel(d, 21, 1), 0x0000FFu);
    presented.clear();
    ASSERT_EQ(QueueVideoFrame(d, &a, Frame(4, 4, 0xFF0000), 0, 0, 4, 4), 0);
    ASSERT_EQ(QueueVideoFrame(d, &b, Frame(4, 4, 0x00FF00), 10, 0, 4, 4), 0);
    DropVideoFramesOf(d, &a);
    DrawPendingVideoFrames(L);
    ASSERT_EQ(presented.size(), 1u);
    EXPECT_EQ(presented[0].x, 10);
}

}  // namespace

// Frames per second of every transition id on a 1920x1080 display (a BGPic replaced,
// NORMALSPEED, no vertical-blank wait), with the time of drawing the frames and of
// presenting them apart, beside memcpy of a 1920x1080x4 frame per frame measured in the
// same run. One row per id ("-" where the effect is still to come). Goal: at least 60
// frames/s presented for every id.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

#include "fx/lvtransition.h"
#include "images/lvbgpic.h"
#include "platform/lvplatform.h"
#include "raster/lvimage.h"
#include "runtime/cmdsupport.h"
#include "runtime/random.h"
#include "runtime/startup.h"
#include "ui/display.h"
#include "ui/display_draw.h"
#include "ui/display_windows.h"
#include "vm/lvvm.h"

void SetEventQueueOpen(int open);

namespace {

using Clock = std::chrono::steady_clock;
const int W = 1920, H = 1080;

double Seconds(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

void NewPictureBGPic(int number, uint32_t base)
{
    std::vector<uint32_t> argb((size_t)W * H);
    for (size_t i = 0; i < argb.size(); i++) argb[i] = 0xFF000000u | (base ^ (uint32_t)(i * 2654435761u >> 8));
    lvBitMapHandle *rgb = nullptr;
    BitmapFromArgb(argb.data(), -1, W, H, W, 0, 0, nullptr, &rgb, nullptr, nullptr);
    lvObjectId id = {number, nullptr};
    NewBGPicRecord(&id, 0, W, H, W, nullptr, rgb, nullptr, -1, nullptr, nullptr, nullptr, 24, nullptr, nullptr,
                   nullptr, 0, nullptr, nullptr);
}

struct Timing {
    int frames = 0;
    double seconds = 0;
};

void CountFrame(const lvTransition *, int32_t, void *user) { static_cast<Timing *>(user)->frames++; }

// Frames drawn into a work set, nothing presented.
Timing StepOnly(int id)
{
    Timing timing;
    lvTransition t;
    std::memset(&t, 0, sizeof t);
    t.effect = id, t.width = W, t.height = H, t.speed = t.step = -1, t.parameter = -1, t.transparentPen = -1;
    t.newRgb = AllocRgbBitmap(W, H, 0, nullptr);
    lvEffectWorkSet set = {};
    set.rgb = AllocRgbBitmap(W, H, 0, nullptr);
    set.mask = AllocMaskBitmap(nullptr, W, H, 1, nullptr, 0);
    t.workSet = &set;
    SetTransitionFrameObserver(CountFrame, &timing);
    auto start = Clock::now();
    RunPreparedTransition(&t);
    timing.seconds = Seconds(start, Clock::now());
    SetTransitionFrameObserver(nullptr, nullptr);
    ReleaseTransitionState(&t, 1);
    FreeBitmapHandle(t.newRgb);
    FreeBitmapHandle(set.rgb);
    FreeBitmapHandle(set.mask);
    return timing;
}

// The whole run on the display: frames drawn and presented.
Timing OnDisplay(lvState *L, int id, int target)
{
    Timing timing;
    lvTransition t;
    std::memset(&t, 0, sizeof t);
    t.state = L;
    t.kind = FXKIND_BGPIC;
    t.objectId = {target, nullptr};
    t.effect = id;
    t.step = -1;
    t.parameter = -1;
    t.newDisplayX = t.newDisplayY = LV_NOPOSITION;
    SetTransitionFrameObserver(CountFrame, &timing);
    auto start = Clock::now();
    int code = RunTransition(&t);
    timing.seconds = Seconds(start, Clock::now());
    SetTransitionFrameObserver(nullptr, nullptr);
    if (code) timing.frames = -code;
    return timing;
}

}  // namespace

int main()
{
    if (InitPlatform()) return 1;
    ResetVMRun();
    lvState *L = NewVMState();
    InitEventLock();
    SetEventQueueOpen(1);
    SetWindowOps(nullptr);
    InstallDisplayDrawing();
    NewPictureBGPic(100, 0x102030);
    NewPictureBGPic(101, 0x405060);
    lvDisplayRequest request;
    InitDisplayRequest(&request);
    request.width = W, request.height = H;
    request.bgpicGiven = 1;
    request.bgpic = {100, nullptr};
    lvDisplay *d = nullptr;
    if (CreateDisplayFromRequest(L, 1, 0, &request, &d) || RealizeDisplay(L, d, 0)) return 1;
    FreeDisplayRequest(&request);
    SetCurrentDisplay(d);
    SetVWaitEnabled(0);
    SeedRandom48(1);

    // The peer: one frame's pixels copied per frame.
    std::vector<uint32_t> a((size_t)W * H, 1), b((size_t)W * H, 2);
    int copies = 0;
    auto start = Clock::now();
    do {
        std::memcpy(copies & 1 ? a.data() : b.data(), copies & 1 ? b.data() : a.data(), a.size() * 4);
        copies++;
    } while (Seconds(start, Clock::now()) < 0.5);
    double memcpyRate = copies / Seconds(start, Clock::now());
    std::printf("memcpy of a %dx%dx4 frame: %.0f frames/s\n\n", W, H, memcpyRate);
    std::printf("%-4s %-18s %7s %10s %10s %10s %12s %8s\n", "id", "effect", "frames", "step ms", "present ms",
                "fps drawn", "fps shown", "/memcpy");
    int target = 101, failing = 0;
    for (int id = 0; id < 140; id++) {
        lvEffectStep step;
        lvEffectCleanup cleanup;
        const char *name = EffectName(id) ? EffectName(id) : "";
        if (LookupEffectRoutines(id, &step, &cleanup)) {
            std::printf("%-4d %-18s %7s\n", id, name, "-");
            continue;
        }
        Timing drawn = StepOnly(id);
        Timing shown = OnDisplay(L, id, target);
        target = target == 101 ? 100 : 101;  // back and forth between the two pictures
        if (shown.frames <= 0 || drawn.frames <= 0) {
            std::printf("%-4d %-18s failed %d\n", id, name, -shown.frames);
            failing++;
            continue;
        }
        double stepMs = drawn.seconds * 1000 / drawn.frames;
        double presentMs = shown.seconds * 1000 / shown.frames - stepMs;
        double fps = shown.frames / shown.seconds;
        std::printf("%-4d %-18s %7d %10.3f %10.3f %10.0f %12.0f %8.2f%s\n", id, name, shown.frames, stepMs, presentMs,
                    drawn.frames / drawn.seconds, fps, memcpyRate / fps, fps < 60 ? "  below 60" : "");
    }
    std::printf("\ncrossfade/memcpy: - (still to come)\n");
    SetCurrentDisplay(nullptr);
    ShutdownDisplays(L);
    FreeAllBGPics();
    CloseVMState(L);
    return failing ? 1 : 0;
}

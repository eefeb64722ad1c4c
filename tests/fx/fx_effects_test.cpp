// Transition effects: the effect classes and maps, the names, the random pick, the
// pinned geometry of each family, and every built effect run on a headless display
// (frames, pixels, seeking, seeds).
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "base/lverrors.h"
#include "fx/lvtransition.h"
#include "raster/lvbitmap.h"
#include "raster/lvplanes.h"
#include "runtime/random.h"
#include "vm/lvvm.h"

namespace {

// Id sets written as ranges.
using Ranges = std::vector<std::pair<int, int>>;
bool InRanges(const Ranges &r, int id)
{
    for (auto &p : r)
        if (id >= p.first && id <= p.second) return true;
    return false;
}

TEST(EffectClasses, EachClassHoldsExactlyItsSet)
{
    struct Row {
        const char *name;
        int (*test)(int32_t);
        Ranges set;
    };
    const Row rows[] = {
        {"not for objects", [](int32_t id) -> int { return !IsEffectForObjects(id); },
         {{74, 81}, {101, 104}, {111, 112}, {118, 131}, {133, 133}}},
        {"blending", IsBlendingEffect, {{97, 98}, {114, 116}, {134, 139}}},
        {"whole frame", IsWholeFrameEffect, {{55, 73}, {84, 87}, {99, 100}, {116, 117}, {132, 133}}},
        {"alpha mix", IsAlphaMixEffect, {{115, 117}, {134, 138}}},
        {"own transparency", HandlesTransparencyItself, {{47, 73}, {84, 87}, {99, 100}, {116, 117}, {132, 133}}},
        {"random excluded", IsRandomExcluded, {{34, 37}, {84, 87}, {134, 138}}},
        {"drawn from index", [](int32_t id) -> int { return EffectFrameKind(id) == 2; },
         {{47, 81}, {84, 87}, {97, 104}, {111, 112}, {114, 139}}},
    };
    for (const Row &r : rows)
        for (int id = 0; id < 140; id++) EXPECT_EQ(r.test(id) != 0, InRanges(r.set, id)) << r.name << " " << id;
}

TEST(EffectClasses, OldPictureAndLayerHidingDependOnTheTransition)
{
    lvTransition t;
    std::memset(&t, 0, sizeof t);
    const Ranges always = {{74, 74}, {76, 76}, {78, 81}, {101, 104}, {111, 112}, {115, 115}, {118, 131}, {133, 133}};
    const Ranges outsideLayers = {{55, 73}, {84, 87}, {97, 100}, {114, 114}, {116, 117}, {132, 132}, {134, 139}};
    const Ranges inLayers = {{75, 75}, {77, 77}};
    for (int layerMode = 0; layerMode < 2; layerMode++)
        for (int id = 0; id < 140; id++) {
            t.effect = id;
            t.layerMode = layerMode;
            bool expected = InRanges(always, id) || (!layerMode && InRanges(outsideLayers, id)) ||
                            (layerMode && InRanges(inLayers, id));
            EXPECT_EQ(EffectNeedsOldPicture(&t) != 0, expected) << id << " layer mode " << layerMode;
        }
    // Only hides and removes keep the layer for the blending effects.
    EXPECT_EQ(HidesLayerForGrab(FXKIND_SHOWLAYER, 115, 0), 1);
    EXPECT_EQ(HidesLayerForGrab(FXKIND_HIDELAYER, 115, 0), 0);
    EXPECT_EQ(HidesLayerForGrab(FXKIND_HIDELAYER, 115, 1), 1);
    EXPECT_EQ(HidesLayerForGrab(FXKIND_REMOVELAYER, 139, 1), 0);
    EXPECT_EQ(HidesLayerForGrab(FXKIND_REMOVELAYER, 0, 0), 1);
    t.kind = FXKIND_BGPIC;
    t.effect = 114;
    EXPECT_EQ(IsRgbOnlyEffectInPaletteMode(&t), 0);
    t.newChunky = reinterpret_cast<lvBitMapHandle *>(&t);
    EXPECT_EQ(IsRgbOnlyEffectInPaletteMode(&t), 1);
    t.kind = FXKIND_BRUSH;
    EXPECT_EQ(IsRgbOnlyEffectInPaletteMode(&t), 0);
}

TEST(EffectClasses, TheReverseMapSwapsPairsAndRectangleFamilies)
{
    const std::pair<int, int> pairs[] = {{24, 25}, {26, 27}, {30, 31}, {32, 33}, {38, 88}, {46, 96}, {42, 92}};
    for (auto &p : pairs) {
        EXPECT_EQ(ReverseEffectForUndo(p.first), p.second);
        EXPECT_EQ(ReverseEffectForUndo(p.second), p.first);
    }
    std::set<int> moved = {24, 25, 26, 27, 30, 31, 32, 33};
    for (int id = 38; id <= 46; id++) moved.insert(id), moved.insert(id + 50);
    for (int id = 0; id < 140; id++)
        if (!moved.count(id)) {
            EXPECT_EQ(ReverseEffectForUndo(id), id) << id;
        }
}

TEST(EffectNames, NamesMatchTheirIdsAndEveryIdButOneIsNamed)
{
    const lvConstantEntry *table = GetTransitionConstants();
    std::map<std::string, int> byName;
    for (const lvConstantEntry *e = table; e->name; e++) byName[e->name] = (int)e->number;
    const std::pair<const char *, int> pinned[] = {
        {"HSTRIPES", 0},        {"HSTRIPES64", 6},      {"VSTRIPES", 7},          {"HBLINDS8", 14},
        {"VBLINDS128", 23},     {"VOPENCURTAIN", 24},   {"HCLOSECURTAIN", 27},    {"BARS", 28},
        {"QUARTERS", 29},       {"REVEALLEFT", 30},     {"REVEALBOTTOM", 33},     {"VLINES2", 34},
        {"VLINES", 37},         {"RECTCENTER", 38},     {"RECTNORTHWEST", 46},    {"SCROLLLEFT", 47},
        {"SCROLLWEST", 47},     {"SCROLLSOUTH", 50},    {"SCROLLNORTHWEST", 54},  {"STRETCHLEFT", 55},
        {"ZOOMNORTHWEST", 69},  {"HFLOWTOP", 70},       {"VCLOSEGATE", 77},       {"PUSHLEFT", 78},
        {"PUZZLE", 82},         {"DIAGONAL", 83},       {"WALLPAPERLEFT", 87},    {"RECTBACKCENTER", 88},
        {"RECTBACKNORTHWEST", 96}, {"CLOCKWIPE", 97},   {"STAR", 98},             {"VSTRANGEPUSH", 100},
        {"SLIDEBOTTOM", 104},   {"SPIRAL", 105},        {"CARDBOTTOM", 112},      {"SUN", 114},
        {"CROSSFADE", 115},     {"ZOOMOUT", 119},       {"CRUSHBOTTOM", 123},     {"HLOWFLIPCOIN", 127},
        {"TURNDOWNRIGHT", 131}, {"PIXELZOOM2", 133},    {"WATER4", 137},          {"STRUDEL", 138},
        {"DISSOLVE", 139},      {"RANDOMEFFECT", 140},  {"RANDOMPARAMETER", -1},
    };
    for (auto &p : pinned) {
        ASSERT_TRUE(byName.count(p.first)) << p.first;
        EXPECT_EQ(byName[p.first], p.second) << p.first;
    }
    // 139 named ids, four second names, two more constants.
    EXPECT_EQ(byName.size(), 139u + 4 + 2);
    std::set<int> named;
    for (auto &e : byName) named.insert(e.second);
    for (int id = 0; id < 140; id++) EXPECT_EQ(named.count(id), id == 113 ? 0u : 1u) << id;
}

TEST(RandomPick, NeverRejectedIdsAndOnlyBuiltOnes)
{
    SeedRandom48(12345);
    std::set<int> seen;
    for (int i = 0; i < 100000; i++) {
        int restricted = i & 1;
        int32_t id = PickRandomEffect(restricted);
        ASSERT_TRUE(id >= 0 && id < 140 && id != 113) << id;
        ASSERT_FALSE(IsRandomExcluded(id)) << id;
        if (restricted) {
            ASSERT_TRUE(IsEffectForObjects(id)) << id;
        }
        lvEffectStep step;
        lvEffectCleanup cleanup;
        ASSERT_EQ(LookupEffectRoutines(id, &step, &cleanup), 0) << id;
        seen.insert(id);
    }
    // Every built id that may be picked comes up.
    for (int id = 0; id < 140; id++) {
        lvEffectStep step;
        lvEffectCleanup cleanup;
        if (LookupEffectRoutines(id, &step, &cleanup) == 0 && !IsRandomExcluded(id)) {
            EXPECT_TRUE(seen.count(id)) << id;
        }
    }
    // One seed, one sequence.
    SeedRandom48(7);
    std::vector<int> a, b;
    for (int i = 0; i < 50; i++) a.push_back(PickRandomEffect(0)), a.push_back(NextEffectRandom15());
    SeedRandom48(7);
    for (int i = 0; i < 50; i++) b.push_back(PickRandomEffect(0)), b.push_back(NextEffectRandom15());
    EXPECT_EQ(a, b);
    for (int i = 1; i < 100; i += 2) EXPECT_TRUE(a[i] >= 0 && a[i] <= 32767) << a[i];
}

TEST(EffectTable, LaterIdsAreNotBuiltAndBadIdsAreWrongUsage)
{
    lvEffectStep step;
    lvEffectCleanup cleanup;
    const Ranges built = {{0, 46}, {88, 96}};
    for (int id = 0; id < 140; id++) {
        int expected = id == 113 ? ERR_WRONGUSAGE : InRanges(built, id) ? 0 : ERR_UNIMPLCMD;
        EXPECT_EQ(LookupEffectRoutines(id, &step, &cleanup), expected) << id;
    }
    EXPECT_EQ(LookupEffectRoutines(140, &step, &cleanup), ERR_WRONGUSAGE);
    EXPECT_EQ(LookupEffectRoutines(-1, &step, &cleanup), ERR_WRONGUSAGE);
}

// ---- Geometry through a work set: each frame's rectangles ---------------------------------

struct Rect {
    int x, y, w, h;
    bool operator==(const Rect &o) const { return x == o.x && y == o.y && w == o.w && h == o.h; }
};

// Runs an effect into a work set (RGB and a cleared mask) and records the rectangles of
// every frame.
struct WorkSetRun {
    lvTransition t;
    lvEffectWorkSet set = {};
    std::vector<std::vector<Rect>> frames;
    std::vector<int> doneFlags;
    int code = 0;

    static void Present(void *context, int32_t x, int32_t y, int32_t w, int32_t h)
    {
        auto *run = static_cast<WorkSetRun *>(context);
        run->frames.back().push_back({x, y, w, h});
    }
    static void Observe(const lvTransition *, int32_t done, void *user)
    {
        auto *run = static_cast<WorkSetRun *>(user);
        run->doneFlags.push_back(done);
        run->frames.emplace_back();
    }
    WorkSetRun(int id, int width, int height, int speed, int parameter = -1)
    {
        std::memset(&t, 0, sizeof t);
        t.effect = id, t.width = width, t.height = height, t.speed = t.step = speed, t.parameter = parameter;
        t.transparentPen = -1;
        t.newRgb = AllocRgbBitmap(width, height, 0, nullptr);
        t.ownsRgb = 1;  // the release frees it with the rest of the run
        set.rgb = AllocRgbBitmap(width, height, 0, nullptr);
        set.mask = AllocMaskBitmap(nullptr, width, height, 1, nullptr, 0);
        set.present = Present;
        set.context = this;
        t.workSet = &set;
        frames.emplace_back();
        SetTransitionFrameObserver(Observe, this);
        code = RunPreparedTransition(&t);
        SetTransitionFrameObserver(nullptr, nullptr);
        frames.pop_back();  // the list opened after the last frame
    }
    ~WorkSetRun()
    {
        ReleaseTransitionState(&t, 1);
        FreeBitmapHandle(set.rgb);
        FreeBitmapHandle(set.mask);
    }
    // Columns (or rows) each frame drew, by the x (or y) of its rectangles.
    std::vector<int> Starts(size_t frame, bool rows) const
    {
        std::vector<int> out;
        for (const Rect &r : frames[frame]) out.push_back(rows ? r.y : r.x);
        return out;
    }
    bool MaskFull() const
    {
        for (int y = 0; y < t.height; y++)
            for (int x = 0; x < t.width; x++)
                if (!ReadBitmapPixel(set.mask, x, y, 1)) return false;
        return true;
    }
};

TEST(EffectGeometry, PinnedFrames)
{
    {
        SCOPED_TRACE("HSTRIPES8 on 640 columns");
        WorkSetRun r(3, 640, 20, -1);
        EXPECT_EQ(r.t.step, 9);
        EXPECT_EQ(r.t.frameCount, 72);
        ASSERT_EQ(r.frames.size(), 72u);
        EXPECT_EQ(r.frames.back()[0], (Rect{631, 0, 9, 8}));
        EXPECT_EQ(r.frames.back()[1], (Rect{0, 8, 9, 8}));
    }
    {
        SCOPED_TRACE("REVEALLEFT on 320 columns");
        WorkSetRun r(30, 320, 10, -1);
        EXPECT_EQ(r.t.step, 4);
        ASSERT_EQ(r.frames.size(), 64u);
        EXPECT_EQ(r.frames.back()[0], (Rect{315, 0, 5, 10}));
    }
    {
        SCOPED_TRACE("REVEALTOP with a step above half the height");
        WorkSetRun r(32, 10, 40, 21);
        EXPECT_EQ(r.t.step, 1);
    }
    const struct {
        int id, width;
        std::vector<std::vector<int>> lines;
    } lines[] = {
        {37, 8, {{0}, {2}, {4}, {6}, {7}, {7}, {5}, {3}, {1}}},
        {37, 7, {{0}, {2}, {4}, {6}, {6}, {5}, {3}, {1}}},
        {34, 8, {{0, 7}, {2, 5}, {4, 3}, {6, 1}, {7, 0}}},
    };
    for (const auto &c : lines) {
        SCOPED_TRACE("lines " + std::to_string(c.id) + " on " + std::to_string(c.width));
        WorkSetRun r(c.id, c.width, 3, -1);
        ASSERT_EQ(r.frames.size(), c.lines.size());
        for (size_t f = 0; f < c.lines.size(); f++) EXPECT_EQ(r.Starts(f, false), c.lines[f]) << f;
        // The rows twin draws the same lines across.
        WorkSetRun rows(c.id == 37 ? 36 : 35, 3, c.width, -1);
        ASSERT_EQ(rows.frames.size(), c.lines.size());
        for (size_t f = 0; f < c.lines.size(); f++) EXPECT_EQ(rows.Starts(f, true), c.lines[f]) << f;
    }
    {
        SCOPED_TRACE("RECTCENTER on 640 x 480");
        WorkSetRun r(38, 640, 480, -1);
        EXPECT_EQ(r.t.step, 9);
        ASSERT_EQ(r.frames[0].size(), 1u);
        EXPECT_EQ(r.frames[0][0], (Rect{315, 236, 10, 8}));
    }
    {
        SCOPED_TRACE("HBLINDS128 on 300 rows");
        WorkSetRun r(18, 5, 300, -1);
        EXPECT_EQ(r.frames[0].size(), 3u);
    }
    {
        SCOPED_TRACE("HCLOSECURTAIN at 1000 on 100 rows");
        WorkSetRun r(27, 5, 100, 1000);
        EXPECT_EQ(r.t.step, 1);
    }
    for (int speed : {-1, -2, -3, 1, 5, 8, 10000}) {
        SCOPED_TRACE("BARS at " + std::to_string(speed));
        WorkSetRun r(28, 40, 40, speed);
        // The last phase is 23: horizontal bars of 16 rows.
        ASSERT_FALSE(r.frames.empty());
        EXPECT_EQ(r.frames.back()[0], (Rect{0, 0, 40, 16}));
        EXPECT_TRUE(r.MaskFull());
    }
    {
        SCOPED_TRACE("QUARTERS on an odd width");
        WorkSetRun r(29, 9, 8, -1);
        bool lastColumn = false;
        for (auto &f : r.frames)
            for (const Rect &rect : f) lastColumn |= rect.x == 8 && rect.w == 1;
        EXPECT_TRUE(lastColumn);
        EXPECT_TRUE(r.MaskFull());
    }
    {
        SCOPED_TRACE("random HSTRIPES on a picture too narrow for the formula");
        SeedRandom48(3);
        WorkSetRun r(0, 1, 12, -1);
        ASSERT_FALSE(r.frames.empty());
        EXPECT_EQ(r.frames[0][0].h, 1);
    }
}

// A step of 0 would divide the frame count: every family clamps to at most its bound
// first, then to at least 1, so pictures one pixel long run and end whole.
TEST(EffectGeometry, OnePixelPicturesRunToTheirEnd)
{
    const Ranges built = {{0, 46}, {88, 96}};
    for (int id = 0; id < 97; id++) {
        if (!InRanges(built, id)) continue;
        for (auto size : {std::pair<int, int>{1, 1}, {1, 7}, {7, 1}})
            for (int speed : {-1, -2, -3, 1, 10000}) {
                WorkSetRun r(id, size.first, size.second, speed);
                ASSERT_EQ(r.code, 0) << id;
                EXPECT_GE(r.t.step, 1) << id;
                EXPECT_EQ((int)r.frames.size(), r.t.frameCount) << id;
                EXPECT_TRUE(r.MaskFull()) << id << " " << size.first << "x" << size.second << " at " << speed;
            }
    }
}

// A failing step ends a run with its error instead of being called again forever.
TEST(EffectDriver, AFailingStepEndsTheRun)
{
    static int calls;
    calls = 0;
    lvTransition t;
    std::memset(&t, 0, sizeof t);
    t.width = t.height = 4;
    lvEffectWorkSet set = {};
    t.workSet = &set;
    t.stepRoutine = [](lvTransition *tr, int32_t *) -> int {
        calls++;
        if (tr->runState == 0) return 0;
        return calls == 3 ? ERR_MEM : (tr->frameIndex++, 0);
    };
    EXPECT_EQ(RunPreparedTransition(&t), ERR_MEM);
    EXPECT_EQ(calls, 3);
}

// Seeking to frame f and stepping once draws what f + 1 steps draw.
TEST(EffectDriver, SeekThenStepEqualsSteppingThrough)
{
    for (int id : {0, 14, 24, 27, 28, 29, 31, 35, 42, 93}) {
        WorkSetRun whole(id, 24, 18, 1);
        int32_t frames = whole.t.frameCount;
        for (int32_t f : {0, 1, frames / 2, frames - 2}) {
            if (f < 0 || f + 1 >= frames) continue;
            // The reference: f + 1 frames into a fresh set.
            auto snapshot = [](lvEffectWorkSet &set, int w, int h) {
                std::vector<uint32_t> out;
                for (int y = 0; y < h; y++)
                    for (int x = 0; x < w; x++) out.push_back(ReadBitmapPixel(set.mask, x, y, 1));
                return out;
            };
            auto make = [&](lvTransition &t, lvEffectWorkSet &set) {
                std::memset(&t, 0, sizeof t);
                t.effect = id, t.width = 24, t.height = 18, t.speed = t.step = 1, t.parameter = 2;
                t.transparentPen = -1;
                t.newRgb = AllocRgbBitmap(24, 18, 0, nullptr);
                t.ownsRgb = 1;
                set = {};
                set.rgb = AllocRgbBitmap(24, 18, 0, nullptr);
                set.mask = AllocMaskBitmap(nullptr, 24, 18, 1, nullptr, 0);
                t.workSet = &set;
                ASSERT_EQ(LookupEffectRoutines(id, &t.stepRoutine, &t.cleanupRoutine), 0);
                int32_t none = 0;
                ASSERT_EQ(t.stepRoutine(&t, &none), 0);
                t.runState = 1;
            };
            lvTransition a, b;
            lvEffectWorkSet sa, sb;
            make(a, sa);
            for (int32_t i = 0; i <= f; i++) {
                int32_t done = 0;
                ASSERT_EQ(a.stepRoutine(&a, &done), 0);
            }
            make(b, sb);
            int32_t done = 0;
            ASSERT_EQ(b.stepRoutine(&b, &done), 0);  // something drawn first, then seek back
            ASSERT_EQ(SeekTransition(f, &b, 1), 0);
            ASSERT_EQ(b.stepRoutine(&b, &done), 0);
            EXPECT_EQ(snapshot(sa, 24, 18), snapshot(sb, 24, 18)) << id << " frame " << f;
            EXPECT_EQ(a.frameIndex, b.frameIndex);
            for (lvTransition *t : {&a, &b}) ReleaseTransitionState(t, 1);
            for (lvEffectWorkSet *s : {&sa, &sb}) FreeBitmapHandle(s->rgb), FreeBitmapHandle(s->mask);
        }
    }
}

}  // namespace

// ---- Every built effect on a headless display ------------------------------------------------

#include "images/lvbgpic.h"
#include "images/lvbrush.h"
#include "raster/lvimage.h"
#include "tests/ui/headless_displays.h"

namespace {

enum Target { BGPIC, MASKED_BRUSH, ALPHA_BRUSH, BGPIC_PART };
const char *const TargetNames[] = {"BGPic", "masked brush", "alpha brush", "BGPic part"};

// The old picture (red channel full) and the new one (red channel empty): every pixel of
// the two differs.
uint32_t OldPixel(int x, int y) { return 0xFF0000u | ((x & 0xFF) << 8) | (y & 0xFF); }
uint32_t NewPixel(int x, int y) { return ((y * 3 & 0xFF) << 8) | (x * 5 & 0xFF); }
bool MaskVisible(int x, int y) { return (x + y) % 3 != 0; }
bool AlphaOpaque(int x, int y) { return (x * y) % 4 != 1; }

lvBitMapHandle *PatternBitmap(int w, int h, uint32_t (*pixel)(int, int), int dx = 0, int dy = 0)
{
    std::vector<uint32_t> argb((size_t)w * h);
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) argb[(size_t)y * w + x] = 0xFF000000u | pixel(x + dx, y + dy);
    lvBitMapHandle *rgb = nullptr;
    EXPECT_EQ(BitmapFromArgb(argb.data(), -1, w, h, w, 0, 0, nullptr, &rgb, nullptr, nullptr), 0);
    return rgb;
}

lvBGPic *PatternBGPic(int number, int w, int h, uint32_t (*pixel)(int, int))
{
    lvObjectId id = {number, nullptr};
    lvBGPic *out = nullptr;
    EXPECT_EQ(NewBGPicRecord(&id, 0, w, h, w, nullptr, PatternBitmap(w, h, pixel), nullptr, -1, nullptr, nullptr,
                             nullptr, 24, nullptr, nullptr, nullptr, 0, nullptr, &out),
              0);
    return out;
}

// A run of effect on the object at x, y (BGPics keep the display where it is).
lvTransition Request(lvState *L, int kind, lvObjectId id, int effect, int step, int x = 0, int y = 0)
{
    lvTransition t;
    std::memset(&t, 0, sizeof t);
    t.state = L;
    t.kind = kind;
    t.objectId = id;
    t.effect = effect;
    t.step = step;
    t.x = x, t.y = y;
    t.newDisplayX = t.newDisplayY = LV_NOPOSITION;
    return t;
}

struct EffectCase {
    Target target;
    int width, height, speed;
};

class EffectsOnDisplay : public HeadlessDisplays, public ::testing::WithParamInterface<int> {
protected:
    lvDisplay *d = nullptr;
    int DW = 0, DH = 0;           // display (old BGPic) size
    int X = 0, Y = 0;             // where an object lands
    std::vector<uint32_t> old, expected;
    std::vector<uint8_t> seen;    // pixels that showed the new picture
    int frames = 0, doneAt = -1, failures = 0;
    std::string what;
    bool keepHashes = false;

    void OpenDisplay(int w, int h)
    {
        PatternBGPic(100, w, h, OldPixel);
        OpenDisplayOn100(w, h);
    }
    // A display showing BGPic 100, which the caller made.
    void OpenDisplayOn100(int w, int h)
    {
        DW = w, DH = h;
        lvDisplayRequest request;
        InitDisplayRequest(&request);
        request.width = w, request.height = h;
        request.bgpicGiven = 1;
        request.bgpic = {100, nullptr};
        ASSERT_EQ(CreateDisplayFromRequest(L, 1, 0, &request, &d), 0);
        FreeDisplayRequest(&request);
        ASSERT_EQ(RealizeDisplay(L, d, 0), 0);
        SetCurrentDisplay(d);
        SetVWaitEnabled(0);
    }
    void CloseDisplay()
    {
        SetCurrentDisplay(nullptr);
        ShutdownDisplays(L);
        FreeAllBGPics();
        FreeAllBrushes(L);
        d = nullptr;
    }
    std::vector<uint32_t> Read(lvBitMapHandle *b)
    {
        uint32_t *p = ReadBitmapRectArgb(b, 0, 0, DW, DH, 0);
        std::vector<uint32_t> out(p, p + (size_t)DW * DH);
        for (uint32_t &v : out) v &= 0xFFFFFF;
        FreeMemory(p);
        return out;
    }
    static void Observe(const lvTransition *t, int32_t done, void *user)
    {
        auto *self = static_cast<EffectsOnDisplay *>(user);
        self->Frame(t, done);
    }
    std::vector<uint64_t> hashes;  // of each frame's picture
    std::vector<int> ids;          // the effect each frame ran
    void Frame(const lvTransition *t, int32_t done)
    {
        if (done) doneAt = frames;
        frames++;
        if (keepHashes) {
            uint64_t h = 1469598103934665603ull;
            for (uint32_t v : Read(d->pictureBuffer.rgb)) h = (h ^ v) * 1099511628211ull;
            hashes.push_back(h);
            ids.push_back(t->effect);
        }
        // Large pictures are looked at in a sample of their frames (and always the last).
        int stride = DW * DH > 20000 ? 8 : 1;
        if (failures > 3 || (!done && (frames - 1) % stride)) return;
        std::vector<uint32_t> now = Read(d->pictureBuffer.rgb);
        for (size_t i = 0; i < now.size(); i++) {
            bool isNew = now[i] == expected[i] && old[i] != expected[i];
            if (now[i] != old[i] && now[i] != expected[i]) {
                ADD_FAILURE() << what << " frame " << frames << ": pixel " << i % DW << "," << i / DW
                              << " neither old nor new: " << std::hex << now[i] << " old " << old[i] << " new "
                              << expected[i] << std::dec;
                failures++;
                return;
            }
            if (seen[i] && !isNew) {
                ADD_FAILURE() << what << " frame " << frames << ": pixel " << i % DW << "," << i / DW
                              << " went back";
                failures++;
                return;
            }
            seen[i] = isNew;
        }
        (void)t;
    }
    void Run(const EffectCase &c, int id)
    {
        what = std::string(TargetNames[c.target]) + " " + std::to_string(c.width) + "x" + std::to_string(c.height) +
               " speed " + std::to_string(c.speed) + " id " + std::to_string(id);
        bool object = c.target != BGPIC;
        X = object ? 3 : 0, Y = object ? 2 : 0;
        int w = c.width + (object ? 6 : 0), h = c.height + (object ? 5 : 0);
        OpenDisplay(w, h);
        if (HasFatalFailure()) return;
        old = Read(d->pictureBuffer.rgb);
        expected = old;
        lvTransition t;
        std::memset(&t, 0, sizeof t);
        t.state = L;
        t.effect = id;
        t.step = c.speed;
        t.parameter = -1;
        t.x = X, t.y = Y;
        t.newDisplayX = t.newDisplayY = LV_NOPOSITION;
        switch (c.target) {
        case BGPIC: {
            PatternBGPic(101, w, h, NewPixel);
            t.kind = FXKIND_BGPIC;
            t.objectId = {101, nullptr};
            for (int y = 0; y < h; y++)
                for (int x = 0; x < w; x++) expected[(size_t)y * w + x] = NewPixel(x, y);
            break;
        }
        case MASKED_BRUSH:
        case ALPHA_BRUSH: {
            bool masked = c.target == MASKED_BRUSH;
            lvBitMapHandle *mask = nullptr, *alpha = nullptr;
            if (masked) {
                mask = AllocMaskBitmap(nullptr, c.width, c.height, 1, nullptr, 0);
                for (int y = 0; y < c.height; y++)
                    for (int x = 0; x < c.width; x++)
                        if (MaskVisible(x, y)) PlotBitmapPixel(mask, x, y, MASKVISIBLE, 1);
            } else {
                std::vector<uint8_t> bytes((size_t)c.width * c.height);
                for (int y = 0; y < c.height; y++)
                    for (int x = 0; x < c.width; x++) bytes[(size_t)y * c.width + x] = AlphaOpaque(x, y) ? 255 : 0;
                alpha = AllocAlphaBitmap(c.width, c.height, 1, nullptr, 0);
                ASSERT_TRUE(CopyBytesToPlane(alpha, bytes.data(), c.width, c.height));
            }
            lvObjectId id2 = {7, nullptr};
            lvBrush *brush = nullptr;
            ASSERT_EQ(NewBrushRecord(&id2, 0, c.width, c.height, c.width, 0, nullptr,
                                     PatternBitmap(c.width, c.height, NewPixel), -1, mask, alpha, nullptr,
                                     masked ? 24 : 32, nullptr, nullptr, nullptr, 0, nullptr, &brush),
                      0);
            t.kind = FXKIND_BRUSH;
            t.objectId = id2;
            for (int y = 0; y < c.height; y++)
                for (int x = 0; x < c.width; x++)
                    if (masked ? MaskVisible(x, y) : AlphaOpaque(x, y))
                        expected[(size_t)(y + Y) * w + x + X] = NewPixel(x, y);
            break;
        }
        case BGPIC_PART: {
            PatternBGPic(102, c.width + 2, c.height + 2, NewPixel);
            t.kind = FXKIND_BGPICPART;
            t.objectId = {102, nullptr};
            t.partX = 1, t.partY = 1, t.width = c.width, t.height = c.height;
            for (int y = 0; y < c.height; y++)
                for (int x = 0; x < c.width; x++) expected[(size_t)(y + Y) * w + x + X] = NewPixel(x + 1, y + 1);
            break;
        }
        }
        seen.assign(old.size(), 0);
        frames = 0, doneAt = -1, failures = 0;
        SetTransitionFrameObserver(Observe, this);
        lvTransition request = t;
        ASSERT_EQ(RunTransition(&request), 0) << what;
        SetTransitionFrameObserver(nullptr, nullptr);
        EXPECT_GT(frames, 0) << what;
        EXPECT_EQ(doneAt, frames - 1) << what;
        // The display, both buffers and the window end with the expected picture.
        EXPECT_EQ(Read(d->pictureBuffer.rgb), expected) << what;
        EXPECT_EQ(Read(d->backgroundBuffer.rgb), expected) << what;
        std::vector<uint32_t> window((size_t)DW * DH);
        ASSERT_EQ(WindowOps()->ReadWindowFrame(d->window, window.data(), DW, DH), 0);
        for (uint32_t &v : window) v &= 0xFFFFFF;
        EXPECT_EQ(window, expected) << what;
        CloseDisplay();
    }
};

// A BGPic on a palette display: the effect draws pens, every frame holds only old or
// new pens, and the run ends with the new pens in both buffers.
int OldPen(int x, int y) { return (x + y) % 4; }
int NewPen(int x, int y) { return 4 + (x * y + x) % 4; }
lvBGPic *PenBGPic(int number, int w, int h, int (*pen)(int, int))
{
    lvBitMapHandle *pens = AllocChunkyBitmap(w, h, 1);
    auto *palette = static_cast<uint32_t *>(AllocMemory(1024, 1));
    EXPECT_TRUE(pens && palette);
    for (int i = 0; i < 8; i++) palette[i] = 0xFF000000u | (uint32_t)(i * 0x1F2F3F);
    std::vector<uint8_t> bytes((size_t)w * h);
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) bytes[(size_t)y * w + x] = (uint8_t)pen(x, y);
    EXPECT_TRUE(CopyBytesToPlane(pens, bytes.data(), w, h));
    lvBGPicFill fill = {};
    lvObjectId id = {number, nullptr};
    lvBGPic *out = nullptr;
    EXPECT_EQ(NewBGPicRecord(&id, 0, w, h, w, nullptr, nullptr, nullptr, -1, nullptr, nullptr, pens, 8, palette,
                             &fill, nullptr, 0, nullptr, &out),
              0);
    return out;
}

struct PenWatch {
    lvDisplay *d;
    int w, h, frames = 0, failures = 0;
    std::vector<uint8_t> seen;
    static void Observe(const lvTransition *, int32_t, void *user)
    {
        auto *self = static_cast<PenWatch *>(user);
        self->frames++;
        for (int y = 0; y < self->h && self->failures < 3; y++)
            for (int x = 0; x < self->w; x++) {
                int pen = (int)ReadBitmapPixel(self->d->pictureBuffer.chunky, x, y, 0);
                bool isNew = pen == NewPen(x, y);
                uint8_t &s = self->seen[(size_t)y * self->w + x];
                if ((!isNew && pen != OldPen(x, y)) || (s && !isNew)) {
                    ADD_FAILURE() << "frame " << self->frames << " pen " << pen << " at " << x << "," << y;
                    self->failures++;
                    break;
                }
                s = isNew;
            }
    }
};

TEST_P(EffectsOnDisplay, EveryFrameHoldsOldOrNewPixelsAndTheRunEndsOnTheNewPicture)
{
    const int id = GetParam();
    const std::pair<int, int> sizes[] = {{64, 48}, {63, 37}, {1, 1}, {1, 300}, {300, 1}};
    for (Target target : {BGPIC, MASKED_BRUSH, ALPHA_BRUSH, BGPIC_PART})
        for (auto size : sizes)
            for (int speed : {-1, -2, -3, 1, 10000}) {
                Run({target, size.first, size.second, speed}, id);
                if (HasFatalFailure()) return;
            }
    Run({BGPIC, 640, 480, -1}, id);
}

std::vector<int> BuiltIds()
{
    std::vector<int> ids;
    for (int id = 0; id < 140; id++) {
        lvEffectStep step;
        lvEffectCleanup cleanup;
        if (LookupEffectRoutines(id, &step, &cleanup) == 0) ids.push_back(id);
    }
    return ids;
}

// Disabled: on a palette display the run ends with pen 0 where the new pens belong (the
// effects draw only RGB); enable once palette targets are drawn in pens.
TEST_F(EffectsOnDisplay, DISABLED_APaletteDisplayRunDrawsOnlyOldOrNewPensAndEndsWithTheNewOnes)
{
  for (int id : BuiltIds()) {
    SCOPED_TRACE(id);
    for (auto size : {std::pair<int, int>{24, 16}, {1, 9}}) {
        SCOPED_TRACE("palette display " + std::to_string(size.first) + "x" + std::to_string(size.second));
        const int w = size.first, h = size.second;
        PenBGPic(100, w, h, OldPen);
        PenBGPic(101, w, h, NewPen);
        OpenDisplayOn100(w, h);
        if (HasFatalFailure()) return;
        ASSERT_TRUE(IsPaletteDisplay(d));
        PenWatch watch{d, w, h};
        watch.seen.assign((size_t)w * h, 0);
        lvTransition t = Request(L, FXKIND_BGPIC, {101, nullptr}, id, -1);
        t.parameter = -1;
        SetTransitionFrameObserver(PenWatch::Observe, &watch);
        EXPECT_EQ(RunTransition(&t), 0);
        SetTransitionFrameObserver(nullptr, nullptr);
        EXPECT_GT(watch.frames, 0);
        for (lvBitMapHandle *plane : {d->pictureBuffer.chunky, d->backgroundBuffer.chunky})
            for (int y = 0; y < h; y++)
                for (int x = 0; x < w; x++) ASSERT_EQ((int)ReadBitmapPixel(plane, x, y, 0), NewPen(x, y)) << x << "," << y;
        CloseDisplay();
    }
  }
}

// One seed gives the same frames: the random stripe thickness and the random pick come
// from the run's generator, and each frame is presented once, as a whole.
TEST_F(EffectsOnDisplay, OneSeedReproducesEveryFrameAndEachFramePresentsOnce)
{
    keepHashes = true;
    for (int id : {0, 140}) {
        std::vector<uint64_t> first;
        std::vector<int> firstIds;
        for (int round = 0; round < 2; round++) {
            hashes.clear();
            ids.clear();
            SeedRandom48(4242);
            {
                std::lock_guard<std::mutex> hold(presentedLock);
                presented.clear();
            }
            Run({MASKED_BRUSH, 40, 30, -1}, id);
            size_t presents;
            {
                std::lock_guard<std::mutex> hold(presentedLock);
                presents = presented.size();
            }
            EXPECT_LE(presents, (size_t)frames + 2) << id;
            EXPECT_GE(presents, (size_t)frames) << id;
            if (round == 0) first = hashes, firstIds = ids;
        }
        EXPECT_EQ(hashes, first) << id;
        EXPECT_EQ(ids, firstIds) << id;
        ASSERT_FALSE(ids.empty());
        EXPECT_NE(ids[0], 140);
    }
}

// A BGPic with transparency cannot replace the display's picture; effects still to come
// and options still to come answer "not implemented".
TEST_F(EffectsOnDisplay, RefusedRequests)
{
    OpenDisplay(20, 10);
    lvObjectId id = {103, nullptr};
    lvBitMapHandle *mask = AllocMaskBitmap(nullptr, 20, 10, 0, nullptr, 0);
    ASSERT_EQ(NewBGPicRecord(&id, 0, 20, 10, 20, nullptr, PatternBitmap(20, 10, NewPixel), nullptr, -1, mask, nullptr,
                             nullptr, 24, nullptr, nullptr, nullptr, 0, nullptr, nullptr),
              0);
    PatternBGPic(104, 20, 10, NewPixel);
    struct Case {
        const char *what;
        int number, effect, async;
        int code;
    };
    const Case cases[] = {
        {"masked BGPic", 103, 0, 0, ERR_WRONGUSAGE},
        {"id above the last", 104, 141, 0, ERR_WRONGUSAGE},
        {"crossfade comes later", 104, 115, 0, ERR_UNIMPLCMD},
        {"async comes later", 104, 0, 1, ERR_UNIMPLCMD},
        {"missing BGPic", 105, 0, 0, ERR_FINDBGPIC},
    };
    for (const Case &c : cases) {
        lvTransition t;
        std::memset(&t, 0, sizeof t);
        t.state = L;
        t.kind = FXKIND_BGPIC;
        t.objectId = {c.number, nullptr};
        t.effect = c.effect;
        t.async = c.async;
        t.step = -1;
        t.newDisplayX = t.newDisplayY = LV_NOPOSITION;
        EXPECT_EQ(RunTransition(&t), c.code) << c.what;
        EXPECT_EQ(d->bgpic->header.identifier, 100) << c.what;  // the display kept its picture
    }
    CloseDisplay();
}

// Out of memory at every allocation in turn: the run answers an error (nothing kept, the
// brush unlocked) until it has enough, and then ends showing the new picture.
TEST_F(EffectsOnDisplay, OutOfMemoryAtEachStepGivesAnErrorAndLeavesNothingLocked)
{
    OpenDisplay(30, 20);
    PatternBGPic(101, 30, 20, NewPixel);
    lvObjectId brushId = {7, nullptr};
    lvBrush *brush = nullptr;
    ASSERT_EQ(NewBrushRecord(&brushId, 0, 6, 5, 6, 0, nullptr, PatternBitmap(6, 5, NewPixel), -1, nullptr, nullptr,
                             nullptr, 24, nullptr, nullptr, nullptr, 0, nullptr, &brush),
              0);
    for (int kind : {FXKIND_BRUSH, FXKIND_BGPIC}) {
        int code = -1, n = 0;
        for (; n < 400 && code != 0; n++) {
            lvTransition t =
                Request(L, kind, kind == FXKIND_BRUSH ? brushId : lvObjectId{101, nullptr}, 38, -1, 2, 3);
            FailAllocMemoryAfter(n);
            code = RunTransition(&t);
            FailAllocMemoryAfter(-1);
            EXPECT_TRUE(code == 0 || code >= 1000) << kind << " after " << n << ": " << code;
            EXPECT_EQ(brush->lockCount, 0) << kind << " after " << n;
        }
        EXPECT_EQ(code, 0) << kind << " never ran";
        EXPECT_GT(n, 1) << kind;  // the run allocates: some of the attempts failed
    }
    // The last run showed the new BGPic whole, in the buffers and on the window.
    ASSERT_EQ(d->bgpic->header.identifier, 101);
    std::vector<uint32_t> expected((size_t)DW * DH);
    for (int y = 0; y < DH; y++)
        for (int x = 0; x < DW; x++) expected[(size_t)y * DW + x] = NewPixel(x, y);
    EXPECT_EQ(Read(d->pictureBuffer.rgb), expected);
    EXPECT_EQ(Read(d->backgroundBuffer.rgb), expected);
    CloseDisplay();
}

// Taking the new BGPic for a transition must not show it: until the effect's first
// frame the window shows only the old picture.
namespace grabwatch {
int framesSeen;
std::vector<int> newPixelsPerBlit;  // of each present before the first frame was observed
void Blit(lvDisplayWindow *w, const uint32_t *pixels, int rowLength, int sx, int sy, int dx, int dy, int width,
          int height)
{
    if (!framesSeen) {
        newPixelsPerBlit.push_back(0);
        for (int r = 0; r < height; r++)
            for (int c = 0; c < width; c++)
                if ((pixels[(size_t)(sy + r) * rowLength + sx + c] & 0xFFFFFF) != OldPixel(dx + c, dy + r))
                    newPixelsPerBlit.back()++;
    }
    CountingBlit(w, pixels, rowLength, sx, sy, dx, dy, width, height);
}
}  // namespace grabwatch

TEST_F(EffectsOnDisplay, TheNewBGPicIsNotShownBeforeTheFirstFrame)
{
    OpenDisplay(24, 16);
    PatternBGPic(101, 24, 16, NewPixel);
    lvWindowOps ops = *WindowOps();
    ops.BlitToWindow = grabwatch::Blit;
    SetWindowOps(&ops);
    grabwatch::framesSeen = 0;
    grabwatch::newPixelsPerBlit.clear();
    SetTransitionFrameObserver([](const lvTransition *, int32_t, void *) { grabwatch::framesSeen++; }, nullptr);
    lvTransition t = Request(L, FXKIND_BGPIC, {101, nullptr}, 30, -1);
    EXPECT_EQ(RunTransition(&t), 0);
    SetTransitionFrameObserver(nullptr, nullptr);
    EXPECT_GT(grabwatch::framesSeen, 1);
    // The last of these presents is the first frame's own (it shows before the frame is
    // observed); every one before it shows only the old picture.
    ASSERT_FALSE(grabwatch::newPixelsPerBlit.empty());
    for (size_t i = 0; i + 1 < grabwatch::newPixelsPerBlit.size(); i++)
        EXPECT_EQ(grabwatch::newPixelsPerBlit[i], 0) << "present " << i;
    EXPECT_LT(grabwatch::newPixelsPerBlit.back(), 24 * 16);
    EXPECT_EQ(d->bgpic->header.identifier, 101);
    CloseDisplay();
}

// The display's BGPic changing size mid-run: a brush run asks to start again (and does,
// from its first frame, over the new picture); a BGPic run just stops.
namespace resizewatch {
lvState *state;
int frames, firstIndex, swapAt, frameCount, done;
void Observe(const lvTransition *t, int32_t done_, void *)
{
    if (!frames) firstIndex = t->frameIndex;
    frameCount = t->frameCount, done = done_;
    if (++frames == swapAt) ShowBGPic(state, {102, nullptr}, LV_KEEPPOSITION, LV_KEEPPOSITION, 0, nullptr);
}
}  // namespace resizewatch

TEST_F(EffectsOnDisplay, ABGPicSizeChangeMidRunRestartsABrushAndStopsABGPicRun)
{
    for (int kind : {FXKIND_BRUSH, FXKIND_BGPIC}) {
        SCOPED_TRACE(kind);
        OpenDisplay(40, 30);
        PatternBGPic(101, 40, 30, NewPixel);
        PatternBGPic(102, 50, 36, NewPixel);
        lvObjectId brushId = {7, nullptr};
        lvBrush *brush = nullptr;
        ASSERT_EQ(NewBrushRecord(&brushId, 0, 12, 10, 12, 0, nullptr, PatternBitmap(12, 10, NewPixel), -1, nullptr,
                                 nullptr, nullptr, 24, nullptr, nullptr, nullptr, 0, nullptr, &brush),
                  0);
        lvTransition t = Request(L, kind, kind == FXKIND_BRUSH ? brushId : lvObjectId{101, nullptr}, 30, 1, 2, 3);
        resizewatch::state = L;
        resizewatch::frames = 0, resizewatch::swapAt = 3;
        SetTransitionFrameObserver(resizewatch::Observe, nullptr);
        lvTransition first = t;
        ASSERT_EQ(RunTransition(&first), 0);
        EXPECT_EQ(resizewatch::frames, 3);  // no frame after the change
        EXPECT_EQ(d->bgpic->header.identifier, 102);
        EXPECT_EQ(brush->lockCount, 0);
        int firstIndex = resizewatch::firstIndex;
        if (kind == FXKIND_BGPIC) {
            EXPECT_EQ(first.restart, 0);
        } else {
            ASSERT_EQ(first.restart, 1);
            // Started again, the run goes from its first frame to its end over the new picture.
            resizewatch::frames = 0, resizewatch::swapAt = -1;
            lvTransition again = t;
            ASSERT_EQ(RunTransition(&again), 0);
            EXPECT_EQ(again.restart, 0);
            EXPECT_EQ(resizewatch::firstIndex, firstIndex);
            EXPECT_EQ(resizewatch::frames, resizewatch::frameCount);
            EXPECT_EQ(resizewatch::done, 1);
            for (int y = 0; y < 10; y++)
                for (int x = 0; x < 12; x++)
                    ASSERT_EQ(ReadBitmapPixel(d->pictureBuffer.rgb, x + 2, y + 3, 0) & 0xFFFFFF, NewPixel(x, y));
        }
        SetTransitionFrameObserver(nullptr, nullptr);
        CloseDisplay();
    }
}

INSTANTIATE_TEST_SUITE_P(Built, EffectsOnDisplay, ::testing::ValuesIn(BuiltIds()));

}  // namespace

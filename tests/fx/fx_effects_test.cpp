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

}  // namespace

// images_brush_plugin_test.cpp - the brush slots of the plug-in interface at the engine
// level: the DPI-scaled ARGB copy, the lock count a lock holds, an unlock that outlives the
// brushes, and CreateBrushFromPixels failing at every allocation without a trace.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "base/lverrors.h"
#include "images/lvbrush.h"
#include "platform/lvplatform.h"
#include "platform/lvplatform_startup.h"
#include "runtime/plugin.h"

namespace {

struct BrushSlots : ::testing::Test {
    const lvApiGraphics *g = nullptr;
    void SetUp() override
    {
        InstallPluginBrushEntries();
        g = GetPluginApi()->graphics;
    }
    void TearDown() override
    {
        FreeAllBrushes(nullptr);
        InitDpiAwareness();
        SetScreenDpi(96, 96);
    }
    static int BrushCount()
    {
        int n = 0;
        for (lvObjectHeader *h = *BrushListHead(); h; h = h->next) n++;
        return n;
    }
    // A width x height brush of distinct opaque colours.
    int Make(int number, int width, int height, uint32_t flags = 0, std::vector<uint32_t> *keep = nullptr)
    {
        std::vector<uint32_t> pixels((size_t)width * height);
        for (size_t i = 0; i < pixels.size(); i++) pixels[i] = 0xFF000000u | (uint32_t)(i * 0x010203);
        lvBrushPixelDesc d = {};
        d.pixels = pixels.data();
        d.modulo = width;
        d.flags = flags;
        d.depth = 4;
        static uint32_t palette[256];
        d.palette = palette;
        if (keep) *keep = pixels;
        lvPluginObjectId id = {number, nullptr};
        return g->CreateBrushFromPixels(nullptr, &id, width, height, &d);
    }
};

TEST_F(BrushSlots, ArgbCopyFollowsTheScreenDpiWhenAsked)
{
    std::vector<uint32_t> pixels;
    ASSERT_EQ(Make(1, 10, 10, 0, &pixels), 0);
    lvPluginObjectId id = {1, nullptr};
    struct Case {
        int dpi;
        intptr_t flags;
        int size;
    } cases[] = {{96, 1, 10}, {144, 0, 10}, {144, 1, 15}, {144, 3, 15}, {192, 1, 20}, {72, 1, 7}};
    for (const Case &c : cases) {
        InitDpiAwareness();
        SetScreenDpi(c.dpi, c.dpi);
        int32_t w = -1, h = -1, opaque = -1;
        lvPluginTag tags[] = {{LVP_BRUSHARGB_WIDTH, (intptr_t)&w},
                              {LVP_BRUSHARGB_HEIGHT, (intptr_t)&h},
                              {LVP_BRUSHARGB_OPAQUE, (intptr_t)&opaque},
                              {LVP_BRUSHARGB_FLAGS, c.flags},
                              {0, 0}};
        uint32_t *argb = g->GetBrushArgbPixels(&id, tags);
        ASSERT_NE(argb, nullptr) << c.dpi;
        EXPECT_EQ(w, c.size) << c.dpi << " " << c.flags;
        EXPECT_EQ(h, c.size) << c.dpi << " " << c.flags;
        EXPECT_EQ(opaque, 1);
        // Corners keep their colours when the copy grows (nearest pixels).
        EXPECT_EQ(argb[0], pixels[0]);
        if (!(c.flags & 2) && c.size >= 10) {
            EXPECT_EQ(argb[(size_t)w * h - 1], pixels.back()) << c.dpi;
        }
        FreeMemory(argb);
    }
}

TEST_F(BrushSlots, LockHoldsOffChangesUntilUnlockedAndOutlivesTheBrushes)
{
    ASSERT_EQ(Make(1, 4, 4), 0);
    lvPluginObjectId id = {1, nullptr};
    lvBrushPixelAccess a = {};
    void *first = g->LockBrushPixels(&id, nullptr, &a);
    lvPluginTag readOnly[] = {{LVP_BRUSHLOCK_READONLY, 1}, {0, 0}};
    void *second = g->LockBrushPixels(&id, readOnly, &a);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    lvBrush *b = nullptr;
    EXPECT_EQ(FindBrushById(nullptr, {1, nullptr}, &b, BRUSH_MODIFY), ERR_LOCKEDOBJ);
    EXPECT_EQ(g->FreeBrush(nullptr, &id), ERR_LOCKEDOBJ);
    g->UnlockBrushPixels(first);
    EXPECT_EQ(FindBrushById(nullptr, {1, nullptr}, &b, BRUSH_MODIFY), ERR_LOCKEDOBJ);
    g->UnlockBrushPixels(second);
    EXPECT_EQ(FindBrushById(nullptr, {1, nullptr}, &b, BRUSH_MODIFY), 0);
    // A lock still held when the brushes go is released without touching them.
    void *late = g->LockBrushPixels(&id, nullptr, &a);
    ASSERT_NE(late, nullptr);
    FreeAllBrushes(nullptr);
    g->UnlockBrushPixels(late);
    EXPECT_EQ(BrushCount(), 0);
}

TEST_F(BrushSlots, CreateFailsCleanlyAtEveryAllocation)
{
    // Flags: ARGB with alpha, with a colour key, pens, vector-less empty brush.
    const uint32_t flagSets[] = {LVP_BRUSHPIX_ALPHA, LVP_BRUSHPIX_TRANSPARENT, LVP_BRUSHPIX_PENS,
                                 LVP_BRUSHPIX_PENS | LVP_BRUSHPIX_TRANSPARENT};
    for (uint32_t flags : flagSets) {
        int succeededAt = -1;
        for (int allowed = 0; allowed < 40 && succeededAt < 0; allowed++) {
            ASSERT_EQ(BrushCount(), 0);
            FailAllocMemoryAfter(allowed);
            int code = Make(5, 6, 3, flags);
            FailAllocMemoryAfter(-1);
            if (code == 0) {
                succeededAt = allowed;
                EXPECT_EQ(BrushCount(), 1);
            } else {
                EXPECT_TRUE(code == ERR_MEM || code == ERR_BITMAP || code == ERR_ALLOCALPHA ||
                            code == ERR_ALLOCCHUNKY || code == ERR_ALLOCMASK)
                    << flags << " at " << allowed << ": " << code;
                EXPECT_EQ(BrushCount(), 0) << flags << " at " << allowed;
            }
        }
        EXPECT_GT(succeededAt, 0) << flags;
        FreeAllBrushes(nullptr);
    }
}

// A vector brush made from a plug-in's callbacks is re-renderable: the read entries refuse
// it, and freeing it hands the plug-in's handle back to its free callback once.
int vectorFrees;
void *vectorFreed;
uint32_t *VectorPixels(void *, void *) { return nullptr; }
void VectorFree(void *handle)
{
    vectorFrees++;
    vectorFreed = handle;
}

TEST_F(BrushSlots, VectorBrushIsRefusedByTheReadEntriesAndFreesItsHandle)
{
    static int handle;
    lvBrushPixelDesc d = {};
    d.flags = LVP_BRUSHPIX_VECTOR;
    d.vectorHandle = &handle;
    d.vectorGetPixels = VectorPixels;
    d.vectorFree = VectorFree;
    lvPluginObjectId id = {3, nullptr};
    vectorFrees = 0;
    ASSERT_EQ(g->CreateBrushFromPixels(nullptr, &id, 8, 6, &d), 0);
    lvBrush *b = nullptr;
    ASSERT_EQ(FindBrushById(nullptr, {3, nullptr}, &b, 0), 0);
    EXPECT_EQ(b->kind, 1);
    EXPECT_EQ(b->width, 8);
    lvBrushPixelAccess a = {};
    EXPECT_EQ(g->LockBrushPixels(&id, nullptr, &a), nullptr);
    EXPECT_EQ(g->GetBrushArgbPixels(&id, nullptr), nullptr);
    EXPECT_EQ(g->FreeBrush(nullptr, &id), 0);
    EXPECT_EQ(vectorFrees, 1);
    EXPECT_EQ(vectorFreed, &handle);
    EXPECT_EQ(g->FreeBrush(nullptr, &id), ERR_FINDBRUSH);
}

// The hardware map finds a brush by its video bitmap and the video bitmap by the brush;
// a plain brush and an unknown bitmap give null and leave the identifier alone.
TEST_F(BrushSlots, HardwareMapGoesBothWays)
{
    ASSERT_EQ(Make(4, 2, 2), 0);
    ASSERT_EQ(Make(5, 2, 2), 0);
    lvBrush *b = nullptr;
    ASSERT_EQ(FindBrushById(nullptr, {5, nullptr}, &b, 0), 0);
    // Stands for a brush whose bitmap the adapter made (its backing is the adapter's handle).
    b->hardware = 1;
    b->bitmap->video = 1;
    void *video = b->bitmap->backing;
    lvPluginObjectId found = {99, nullptr};
    EXPECT_EQ(g->MapHardwareBrushHandle(&found, video), video);
    EXPECT_EQ(found.number, 5);
    lvPluginObjectId byId = {5, nullptr};
    EXPECT_EQ(g->MapHardwareBrushHandle(&byId, nullptr), video);
    lvPluginObjectId plain = {4, nullptr};
    EXPECT_EQ(g->MapHardwareBrushHandle(&plain, nullptr), nullptr);
    int other;
    lvPluginObjectId untouched = {77, nullptr};
    EXPECT_EQ(g->MapHardwareBrushHandle(&untouched, &other), nullptr);
    EXPECT_EQ(untouched.number, 77);
    // Hardware brushes are no plain pixels for the read entries.
    lvBrushPixelAccess a = {};
    EXPECT_EQ(g->LockBrushPixels(&byId, nullptr, &a), nullptr);
    b->hardware = 0;
    b->bitmap->video = 0;
}

}  // namespace

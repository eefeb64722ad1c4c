// images_palette_display_test.cpp - palette operations on a DISPLAY target: the BGPic the
// display shows is the target, a change of its pens alone reaches the displays through the
// pens-changed hook (pixels of a shown BGPic stay as they are), and the look-up errors of
// the display side come back as they are. The display side is a recording fake.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "base/lverrors.h"
#include "images/lvbgpic.h"
#include "images/lvbrush.h"
#include "images/lvpalette.h"
#include "platform/lvplatform.h"

namespace {

struct FakeDisplays {
    static lvBGPic *shown, *back;
    static int noDisplay;
    static std::vector<lvBGPic *> told;
    static int Resolve(lvObjectId id, lvBGPic **bgpic, lvBGPic **backBuffer)
    {
        if (noDisplay) return ERR_OUTPUTDEVICE;
        if (id.number == 7) return 1041;  // no such display
        *bgpic = shown;
        *backBuffer = back;
        return 0;
    }
    static int Shows(const lvBGPic *record) { return record == shown; }
    static void PensChanged(lvState *, lvBGPic *record) { told.push_back(record); }
};
lvBGPic *FakeDisplays::shown, *FakeDisplays::back;
int FakeDisplays::noDisplay;
std::vector<lvBGPic *> FakeDisplays::told;

struct PaletteDisplay : ::testing::Test {
    lvBGPic *g = nullptr;
    void SetUp() override
    {
        InstallImagePaletteOperations();
        SetPaletteDisplayResolver(FakeDisplays::Resolve);
        SetBGPicShownQuery(FakeDisplays::Shows);
        SetBGPicPensChangedHook(FakeDisplays::PensChanged);
        FakeDisplays::told.clear();
        FakeDisplays::noDisplay = 0;
        FakeDisplays::back = nullptr;
        lvBitMapHandle *pens = AllocChunkyBitmap(4, 2, 1);
        auto *palette = static_cast<uint32_t *>(AllocMemory(1024, 1));
        ASSERT_TRUE(pens && palette);
        lvBGPicFill fill = {};
        lvObjectId id = {1, nullptr};
        ASSERT_EQ(NewBGPicRecord(&id, 0, 4, 2, 4, nullptr, nullptr, nullptr, -1, nullptr, nullptr, pens, 4, palette,
                                 &fill, nullptr, 0, nullptr, &g),
                  0);
        FakeDisplays::shown = g;
    }
    void TearDown() override
    {
        SetPaletteDisplayResolver(nullptr);
        SetBGPicShownQuery(nullptr);
        SetBGPicPensChangedHook(nullptr);
        FakeDisplays::shown = FakeDisplays::back = nullptr;
        FreeAllBGPics();
    }
    static int Run(int operation, int pen = 0, uint32_t colour = 0, lvObjectId id = {0, nullptr}, int *answer = nullptr,
                   int x = 0, int y = 0, int depth = 0, const uint32_t *pens = nullptr)
    {
        lvPaletteOpRequest r = {};
        r.x = x;
        r.y = y;
        r.depth = depth;
        r.pens = const_cast<uint32_t *>(pens);
        r.type = 21;
        r.id = id;
        r.operation = operation;
        r.pen = pen;
        r.colour = colour;
        r.transparentPen = -1;
        int result = -1;
        r.result = answer ? answer : &result;
        return ApplyPaletteOperation(&r);
    }
};

TEST_F(PaletteDisplay, PenChangesReachTheDisplaysPixelChangesAreRefused)
{
    EXPECT_EQ(Run(0, 3, 0x123456), 0);
    EXPECT_EQ(g->palette[3], 0x123456u);
    ASSERT_EQ(FakeDisplays::told.size(), 1u);
    EXPECT_EQ(FakeDisplays::told[0], g);
    // A shown BGPic's pixels and transparent pen stay as they are; nothing is told.
    EXPECT_EQ(Run(4, 1), ERR_SELECTBGPIC2);
    EXPECT_EQ(Run(6), ERR_SELECTBGPIC2);
    EXPECT_EQ(Run(5, 2), ERR_WRONGUSAGE);
    // Reading needs no redraw either.
    EXPECT_EQ(Run(1, 3), 0);
    EXPECT_EQ(FakeDisplays::told.size(), 1u);
}

TEST_F(PaletteDisplay, LookUpErrorsOfTheDisplaySide)
{
    struct Case {
        const char *what;
        int noDisplay;
        lvObjectId id;
        int code;
    } cases[] = {
        {"no current display", 1, {0, nullptr}, ERR_OUTPUTDEVICE},
        {"unknown display", 0, {7, nullptr}, 1041},
    };
    for (const Case &c : cases) {
        FakeDisplays::noDisplay = c.noDisplay;
        EXPECT_EQ(Run(0, 1, 0xFF, c.id), c.code) << c.what;
    }
    EXPECT_TRUE(FakeDisplays::told.empty());
    // A display whose BGPic has no pens.
    FakeDisplays::noDisplay = 0;
    FakeDisplays::shown = nullptr;
    EXPECT_EQ(Run(0, 1, 0xFF), ERR_BGPICPALETTE);
}

// While the current display double-buffers its back buffer is the target: a true-colour
// back buffer has no pens; a pen back buffer has its pens and pixels changed in place,
// never its depth or transparent pen, and nothing is redrawn. A display named by its id
// still means the BGPic it shows.
TEST_F(PaletteDisplay, DoubleBufferedDisplayTargetsItsBackBuffer)
{
    lvBGPic back = {};
    back.depth = 2;
    back.baseWidth = 4;
    back.baseHeight = 2;
    FakeDisplays::back = &back;
    EXPECT_EQ(Run(0, 1, 0xFF), ERR_BGPICPALETTE) << "a true-colour back buffer";

    uint32_t backPens[256] = {};
    back.palette = backPens;
    back.base.penBitmap = AllocChunkyBitmap(3, 2, 1);  // narrower than the picture
    ASSERT_NE(back.base.penBitmap, nullptr);
    const uint32_t before = g->palette[1];
    EXPECT_EQ(Run(0, 1, 0xFFABCDEF), 0);
    EXPECT_EQ(backPens[1], 0xABCDEFu);
    EXPECT_EQ(g->palette[1], before) << "the shown BGPic's pens stay";
    EXPECT_EQ(Run(0, 4, 0xFF), ERR_PENRANGE) << "depth 2 has pens 0 to 3";
    int answer = -1;
    EXPECT_EQ(Run(1, 1, 0, {0, nullptr}, &answer), 0);
    EXPECT_EQ(answer, 0xABCDEF);

    EXPECT_EQ(Run(4, 3, 0, {0, nullptr}, nullptr, 2, 1), 0);
    EXPECT_EQ(Run(3, 0, 0, {0, nullptr}, &answer, 2, 1), 0);
    EXPECT_EQ(answer, 3);
    EXPECT_EQ(Run(3, 0, 0, {0, nullptr}, &answer, 3, 1), 0);
    EXPECT_EQ(answer, -1) << "outside the plane reads nothing";
    EXPECT_EQ(Run(8, 0, 0, {0, nullptr}, &answer), 0);
    EXPECT_EQ(answer, 1) << "pens 0 and 3 are used";

    // Without remap the pens and depth are taken (growing only).
    uint32_t given[256];
    for (int i = 0; i < 256; i++) given[i] = 0x010101u * (uint32_t)i;
    EXPECT_EQ(Run(2, 0, 0, {0, nullptr}, nullptr, 0, 0, 3, given), 0);
    EXPECT_EQ(back.depth, 3);
    EXPECT_EQ(backPens[5], 0x050505u);

    struct Refused {
        const char *what;
        int operation;
    } refused[] = {{"transparent pen", 5}, {"depth", 6}, {"cycle table", 7}};
    for (const Refused &c : refused) EXPECT_EQ(Run(c.operation, 2, 0, {0, nullptr}, nullptr, 0, 0, 2), ERR_WRONGUSAGE) << c.what;
    EXPECT_EQ(back.depth, 3);
    EXPECT_TRUE(FakeDisplays::told.empty()) << "a back buffer redraws nothing";

    // A display named by its id means its BGPic, double buffering or not.
    EXPECT_EQ(Run(0, 2, 0x445566, GetObjectIdOf(&g->header)), 0);
    EXPECT_EQ(g->palette[2], 0x445566u);
    EXPECT_EQ(backPens[2], 0x020202u);
    FreeBitmapHandle(back.base.penBitmap);
}

// A BGPic no display shows: shrinking its depth quantises its pens (remap is the default)
// and its colours stay where few enough were used; a shown one refuses.
TEST_F(PaletteDisplay, DepthOfABGPicShrinksThroughTheQuantiser)
{
    const uint32_t colours[4] = {0x102030, 0xC08040, 0x00FF00, 0xFF00FF};
    const uint8_t used[8] = {200, 17, 3, 99, 200, 17, 3, 99};
    for (int i = 0; i < 4; i++) g->palette[used[i]] = colours[i];
    g->depth = 8;
    {
        uint8_t *pixels;
        int rowBytes;
        uintptr_t token = GetPlanePixels(g->base.penBitmap, &pixels, &rowBytes, 1);
        ASSERT_TRUE(token);
        for (int y = 0; y < 2; y++)
            for (int x = 0; x < 4; x++) pixels[y * rowBytes + x] = used[y * 4 + x];
        ReleasePlanePixels(token);
    }
    lvPaletteOpRequest r = {};
    r.type = 1;  // BGPIC
    r.id = {1, nullptr};
    r.operation = 6;
    r.depth = 2;
    FakeDisplays::shown = nullptr;
    ASSERT_EQ(ApplyPaletteOperation(&r), 0);
    EXPECT_EQ(g->depth, 2);
    uint8_t *pixels;
    int rowBytes;
    uintptr_t token = GetPlanePixels(g->base.penBitmap, &pixels, &rowBytes, 0);
    ASSERT_TRUE(token);
    for (int y = 0; y < 2; y++)
        for (int x = 0; x < 4; x++) {
            int pen = pixels[y * rowBytes + x];
            EXPECT_LT(pen, 4);
            EXPECT_EQ(g->palette[pen] & 0xFFFFFF, colours[x]) << x << "," << y;
        }
    ReleasePlanePixels(token);
    EXPECT_TRUE(FakeDisplays::told.empty()) << "pixels changed: no pens-only notice";
    FakeDisplays::shown = g;
    r.depth = 1;
    EXPECT_EQ(ApplyPaletteOperation(&r), ERR_SELECTBGPIC2);
    EXPECT_EQ(g->depth, 2);
}

// A remap that runs out of memory at any step leaves the picture as it was.
TEST_F(PaletteDisplay, RemapOutOfMemoryLeavesThePictureAsItWas)
{
    FakeDisplays::shown = nullptr;
    g->depth = 8;
    for (int i = 0; i < 256; i++) g->palette[i] = (uint32_t)i * 0x010305;
    {
        uint8_t *pixels;
        int rowBytes;
        uintptr_t token = GetPlanePixels(g->base.penBitmap, &pixels, &rowBytes, 1);
        ASSERT_TRUE(token);
        for (int y = 0; y < 2; y++)
            for (int x = 0; x < 4; x++) pixels[y * rowBytes + x] = (uint8_t)(y * 100 + x * 30);
        ReleasePlanePixels(token);
    }
    std::vector<uint32_t> pens(g->palette, g->palette + 256);
    int succeededAt = -1;
    for (int allowed = 0; allowed < 60 && succeededAt < 0; allowed++) {
        lvPaletteOpRequest r = {};
        r.type = 1;
        r.id = {1, nullptr};
        r.operation = 6;
        r.depth = 1;
        FailAllocMemoryAfter(allowed);
        int code = ApplyPaletteOperation(&r);
        FailAllocMemoryAfter(-1);
        if (code == 0) {
            succeededAt = allowed;
            break;
        }
        EXPECT_EQ(g->depth, 8) << allowed << ": " << code;
        EXPECT_EQ(std::vector<uint32_t>(g->palette, g->palette + 256), pens) << allowed;
    }
    EXPECT_GT(succeededAt, 0);
    EXPECT_EQ(g->depth, 1);
}

}  // namespace

// images_brush_commands_oom_test.cpp - brush commands called from assembled chunks. Every
// command that changes a brush runs with the allocator failing at each allocation in turn:
// until the command succeeds it fails with an error and leaves the brush exactly as it was
// (size, depth, transparent colour, planes, pixels and pens); under ASan the same loop shows
// that nothing made before the failure is leaked. CopyBrush of a hardware brush, on a fake
// adapter that makes video bitmaps.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/lverrors.h"
#include "images/lvbgpic.h"
#include "images/lvbrush.h"
#include "images/lvpalette.h"
#include "platform/lvplatform.h"
#include "tests/raster/raster_fakes.h"
#include "tests/runtime/rtcmds_util.h"

namespace {

class BrushCommandChunks : public RtCmdsTest {
protected:
    void SetUp() override
    {
        RtCmdsTest::SetUp();
        ASSERT_EQ(OpenPaletteLibrary(L), 0);
        ASSERT_EQ(OpenBrushLibrary(L), 0);
        ASSERT_EQ(OpenBGPicLibrary(L), 0);
    }
    void TearDown() override
    {
        FailAllocMemoryAfter(-1);
        CloseBGPicLibrary(L, 1);
        CloseBrushLibrary(L, 1);
        ClosePaletteLibrary(L, 1);
        FreeObjectTypes();
        RtCmdsTest::TearDown();
    }
    int Call(const std::string &command, const std::vector<std::string> &operands)
    {
        SetStackTop(L, 0);
        ResetVMRun();
        std::string text = "getglobal r0 \"" + command + "\"\n";
        for (size_t i = 0; i < operands.size(); i++) {
            std::string reg = "r" + std::to_string(i + 1);
            if (operands[i][0] == '@') text += "getglobal " + reg + " \"" + operands[i].substr(1) + "\"\n";
            else text += "loadk " + reg + " " + operands[i] + "\n";
        }
        text += "call r0 " + std::to_string(operands.size() + 1) + " 1\nreturn r0 1\n";
        return Run(text);
    }
    // A global table of numbers (keys from 0), or of fields.
    void Global(const char *name, const std::vector<double> &items, const std::vector<std::pair<const char *, double>> &fields = {})
    {
        PushString(L, name);
        PushNewTable(L);
        for (size_t i = 0; i < items.size(); i++) {
            PushNumber(L, (double)i);
            PushNumber(L, items[i]);
            SetTableValueRaw(L, -3);
        }
        for (const auto &[key, value] : fields) {
            PushString(L, key);
            PushNumber(L, value);
            SetTableValueRaw(L, -3);
        }
        SetTableValueRaw(L, LV_GLOBALSINDEX);
    }
    // Brush 1: a 6 x 5 RGB brush with a mask or an alpha channel, or a depth-3 palette brush.
    enum Kind { RGB, MASKED, ALPHA, PENS };
    lvBrush *Make(Kind kind)
    {
        uint32_t palette[256] = {};
        for (int i = 0; i < 8; i++) palette[i] = (uint32_t)i * 0x1F2F3Fu & 0xFFFFFFu;
        lvBrushRequest q = {};
        q.width = 6, q.height = 5, q.mask = kind == MASKED, q.alpha = kind == ALPHA;
        q.transparentColour = kind == PENS ? 0 : -1;
        if (kind == PENS) q.depth = 3, q.palette = palette;
        q.callbackRef = q.userDataRef = -1;
        lvObjectId id = {1, nullptr};
        EXPECT_EQ(ReleaseBrushRecord(L, id, 0), 0);
        EXPECT_EQ(AllocBrushBitmaps(L, &id, &q), 0);
        lvBrush *b = nullptr;
        EXPECT_EQ(FindBrushById(L, id, &b, 0), 0);
        for (int y = 0; y < 5; y++)
            for (int x = 0; x < 6; x++) {
                uint32_t value = kind == PENS ? (uint32_t)(x + y) % 8 : (uint32_t)(y * 40 << 16 | x * 40 << 8 | 0x80);
                WriteBrushPixelValue(b, x, y, value, x == 0 ? 0 : kind == ALPHA ? 60 * y : 255);
            }
        return b;
    }
    struct Snapshot {
        int width, height, depth, transparent, kind;
        lvBitMapHandle *planes[4];
        std::vector<uint32_t> words, pens;
        bool operator==(const Snapshot &o) const
        {
            return width == o.width && height == o.height && depth == o.depth && transparent == o.transparent &&
                   kind == o.kind && std::memcmp(planes, o.planes, sizeof planes) == 0 && words == o.words &&
                   pens == o.pens;
        }
    };
    Snapshot Take(lvBrush *b)
    {
        Snapshot s = {b->width, b->height, b->depth, b->transparentColour, b->kind,
                      {b->bitmap, b->mask, b->alpha, b->penBitmap}, {}, {}};
        uint32_t *w = nullptr;
        EXPECT_EQ(BrushToArgbWords(b, 0, &w), 0);
        s.words.assign(w, w + (size_t)b->width * b->height);
        FreeMemory(w);
        if (b->palette) s.pens.assign(b->palette, b->palette + 256);
        return s;
    }
    // Runs the command on a new brush 1 of the kind with the allocations failing after 0,
    // 1, 2, ... until it succeeds. Each failure must be an allocation error and leave
    // brush 1 as it was; afterFailure checks the rest.
    void UntilItSucceeds(Kind kind, const char *command, const std::vector<std::string> &operands,
                         const std::function<void()> &afterFailure)
    {
        for (int allowed = 0;; allowed++) {
            SCOPED_TRACE(std::string(command) + " on kind " + std::to_string(kind) + " after " +
                         std::to_string(allowed));
            ASSERT_LT(allowed, 400);
            lvBrush *b = Make(kind);
            const Snapshot before = Take(b);
            FailAllocMemoryAfter(allowed);
            int code = Call(command, operands);
            FailAllocMemoryAfter(-1);
            if (code == 0) break;
            ASSERT_TRUE(code == ERR_MEM || code == ERR_BITMAP || code == ERR_ALLOCALPHA || code == ERR_ALLOCMASK ||
                        code == ERR_ALLOCCHUNKY || code == ERR_LOCKBMAP)
                << code;
            ASSERT_EQ(FindBrushById(L, {1, nullptr}, &b, 0), 0);
            EXPECT_TRUE(Take(b) == before);
            afterFailure();
        }
    }
};

TEST_F(BrushCommandChunks, FailedAllocationsLeaveTheBrushAsItWas)
{
    uint32_t pens[256] = {0xFF0000, 0x0000FF};
    lvObjectId paletteId = {20, nullptr};
    ASSERT_EQ(NewPaletteRecord(nullptr, 0, &paletteId, pens, 1, -1, nullptr, nullptr), 0);
    Global("pairs", {0x008080, 0x123456, 0x282880, 0x654321});
    Global("penpairs", {1, 2, 3, 4});
    Global("quantize", {}, {{"colors", 4}, {"palette", 1}});
    Global("remap", {}, {{"remap", 1}});
    Global("noremap", {}, {{"remap", 0}});
    Global("extend", {}, {{"clear", 1}});
    struct Row {
        Kind kind;
        const char *command;
        std::vector<std::string> operands;
    };
    const std::vector<Row> rows = {
        {MASKED, "scalebrush", {"1", "12", "10"}},
        {ALPHA, "scalebrush", {"1", "3", "7", "1"}},
        {PENS, "scalebrush", {"1", "9", "9"}},
        {MASKED, "rotatebrush", {"1", "45"}},
        {ALPHA, "rotatebrush", {"1", "90"}},
        {PENS, "rotatebrush", {"1", "30"}},
        {MASKED, "transformbrush", {"1", "1", "0.5", "0", "1"}},
        {ALPHA, "flipbrush", {"1", "0"}},
        {PENS, "tintbrush", {"1", "16711680", "128"}},
        {RGB, "tintbrush", {"1", "16711680", "128"}},
        {RGB, "replacecolors", {"1", "@pairs"}},
        {PENS, "replacecolors", {"1", "@penpairs"}},
        {ALPHA, "invertbrush", {"1"}},
        {PENS, "brushtogray", {"1"}},
        {RGB, "setbrushtransparency", {"1", "128"}},
        {ALPHA, "setbrushtransparency", {"1", "128"}},
        {ALPHA, "deletealphachannel", {"1"}},
        {MASKED, "deletemask", {"1"}},
        {MASKED, "invertmask", {"1"}},
        {ALPHA, "invertalphachannel", {"1"}},
        {RGB, "floodfill", {"1", "2", "2", "-1", "65280"}},
        {PENS, "floodfill", {"1", "2", "2", "-1", "1"}},
        {MASKED, "cropbrush", {"1", "1", "1", "3", "3"}},
        {ALPHA, "trimbrush", {"1"}},
        {PENS, "extendbrush", {"1", "1", "2", "3", "4", "@extend"}},
        {ALPHA, "changebrushtransparency", {"1", "28"}},
        {MASKED, "changebrushtransparency", {"1", "30"}},
        {ALPHA, "reducealphachannel", {"1", "128"}},
        {ALPHA, "blurbrush", {"1", "2"}},
        {MASKED, "embossbrush", {"1", "2"}},
        {RGB, "edgebrush", {"1", "1"}},
        {RGB, "sharpenbrush", {"1", "2"}},
        {RGB, "solarizebrush", {"1", "50"}},
        {RGB, "gammabrush", {"1", "2", "2", "2"}},
        {RGB, "contrastbrush", {"1", "1"}},
        {RGB, "modulatebrush", {"1", "1.2", "0.5", "10"}},
        {RGB, "sepiatonebrush", {"1", "50"}},
        {RGB, "charcoalbrush", {"1", "2"}},
        {ALPHA, "swirlbrush", {"1", "90"}},
        {RGB, "pixelatebrush", {"1", "2"}},
        {RGB, "brushtomonochrome", {"1"}},
        {ALPHA, "waterripplebrush", {"1"}},
        {RGB, "oilpaintbrush", {"1", "2"}},
        {MASKED, "perspectivedistortbrush", {"1", "0", "0", "6", "1", "0", "5", "7", "6"}},
        {ALPHA, "arcdistortbrush", {"1", "90"}},
        {PENS, "polardistortbrush", {"1"}},
        {RGB, "barreldistortbrush", {"1", "0.1", "0.1", "0.1"}},
        {ALPHA, "writebrushpixel", {"1", "2", "2", "255", "10"}},
        {RGB, "quantizebrush", {"1", "4"}},
        {ALPHA, "quantizebrush", {"1", "@quantize"}},
        {PENS, "quantizebrush", {"1", "2"}},
        {RGB, "remapbrush", {"1", "20"}},
        {PENS, "remapbrush", {"1", "20"}},
        {PENS, "removebrushpalette", {"1"}},
        {PENS, "setbrushpen", {"1", "2", "1193046"}},
        {PENS, "setbrushdepth", {"1", "1"}},
        {PENS, "setbrushdepth", {"1", "2", "@noremap"}},
        {PENS, "setbrushtransparentpen", {"1", "3"}},
        {PENS, "setbrushpalette", {"1", "20", "@remap"}},
    };
    for (const Row &row : rows) {
        UntilItSucceeds(row.kind, row.command, row.operands, [] {});
        if (HasFatalFailure()) return;
    }
}

// Commands that make a brush (or a BGPic) from another: until one succeeds, nothing is made
// under the new number and the source is as it was.
TEST_F(BrushCommandChunks, FailedAllocationsMakeNothing)
{
    Global("argb", {0xFFFF0000u, 0x800000FFu, 0x00000000u, 0xFF00FF00u});
    Global("pens", {0, 3, 1, 2});
    struct Row {
        Kind kind;
        const char *command;
        std::vector<std::string> operands;
        int made;  // the type of what is made: 3 brush, 1 BGPic
    };
    const std::vector<Row> rows = {
        {ALPHA, "copybrush", {"1", "9"}, 3},
        {PENS, "converttobrush", {"3", "1", "9"}, 3},
        {MASKED, "getbrushlink", {"9", "3", "1"}, 3},
        {ALPHA, "createshadowbrush", {"9", "1", "0", "4"}, 3},
        {MASKED, "createborderbrush", {"9", "1", "16777215", "3"}, 3},
        {RGB, "rgbarraytobrush", {"9", "@argb", "2", "2", "30"}, 3},
        {RGB, "rgbarraytobrush", {"9", "@argb", "2", "2", "28"}, 3},
        {RGB, "penarraytobrush", {"9", "@pens", "2", "2"}, 3},
        {PENS, "brushtobgpic", {"1", "9"}, 1},
        {ALPHA, "brushtobgpic", {"1", "9"}, 1},
    };
    for (const Row &row : rows) {
        UntilItSucceeds(row.kind, row.command, row.operands, [&] {
            lvBrush *made = nullptr;
            lvBGPic *bgpic = nullptr;
            if (row.made == 3) EXPECT_EQ(FindBrushById(L, {9, nullptr}, &made, 0), ERR_FINDBRUSH);
            else EXPECT_EQ(FindBGPicById({9, nullptr}, &bgpic, 0), ERR_FINDBGPIC);
        });
        if (HasFatalFailure()) return;
        ReleaseBrushRecord(L, {9, nullptr}, 0);
        FreeAllBGPics();
    }
}

int ResolveFakeDisplay(lvObjectId, void **display, lvObjectId *id)
{
    static int window;
    *display = &window;
    *id = {1, nullptr};
    return 0;
}

// A copy of a hardware brush is hardware: asking for a plain copy is refused, and a copy
// onto its own number too.
TEST_F(BrushCommandChunks, HardwareCopiesStayHardware)
{
    FakeAdapter fake(ADAPTER_VIDEOBITMAPS);
    fake.Install();
    SetHardwareDisplayResolver(ResolveFakeDisplay);
    lvBrushRequest q = {};
    q.width = 4, q.height = 3, q.colour = 0x102030, q.hardware = 1;
    q.transparentColour = -1;
    q.callbackRef = q.userDataRef = -1;
    lvObjectId id = {1, nullptr};
    ASSERT_EQ(AllocBrushBitmaps(L, &id, &q), 0);
    Global("plain", {}, {{"hardware", 0}});
    Global("hard", {}, {{"hardware", 1}});
    EXPECT_EQ(Call("copybrush", {"1", "2", "@plain"}), ERR_WRONGUSAGE);
    EXPECT_EQ(Call("copybrush", {"1", "1"}), ERR_WRONGUSAGE);
    lvBrush *b = nullptr;
    EXPECT_EQ(FindBrushById(L, {2, nullptr}, &b, BRUSH_HARDWARE), ERR_FINDBRUSH) << "nothing was made";
    ASSERT_EQ(Call("copybrush", {"1", "2"}), 0);
    ASSERT_EQ(FindBrushById(L, {2, nullptr}, &b, BRUSH_HARDWARE), 0);
    EXPECT_EQ(b->hardware, 1) << "a video bitmap the lookups and the display's reopen must know of";
    EXPECT_EQ(b->bitmap->video, 1);
    EXPECT_EQ(b->displayId.number, 1);
    EXPECT_EQ(b->width, 4);
    EXPECT_EQ(FindBrushById(L, {2, nullptr}, &b, 0), ERR_HWBRUSH);
    ASSERT_EQ(Call("copybrush", {"1", "3", "@hard"}), 0);
    FreeAllBrushes(L);
    SetHardwareDisplayResolver(nullptr);
    SetRasterDisplayAdapter(nullptr);
}

}  // namespace

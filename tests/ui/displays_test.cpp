// The display engine without the runtime executable: CreateDisplay's replacing, refusing,
// handles and scale factor; what PostAdapterEvent turns each report into; stored display
// records read from hand-built bytes; the option table a declared display hands to
// CreateDisplay; the stored gradient.
#include <gtest/gtest.h>

#include "raster/lvgradient_read.h"
#include "runtime/cmdsupport.h"
#include "base/lverrors.h"
#include "runtime/plugin.h"
#include "runtime/startup.h"
#include "ui/display.h"
#include "ui/input.h"
#include "ui/display_draw.h"
#include "raster/lvblit.h"
#include "raster/lvplanes.h"
#include "images/lvbrush.h"
#include "images/lvpalette.h"
#include "platform/lvplatform.h"
#include "vm/lvvm.h"
#include <cstring>
#include <string>
#include <vector>

void SetEventQueueOpen(int open);

namespace {

class DisplayEngine : public ::testing::Test {
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
    // CreateDisplay(number or nil, options built by fill on a new table).
    int Create(int number, bool nil, void (*fill)(lvState *), lvDisplay **out = nullptr)
    {
        lvDisplayRequest request;
        InitDisplayRequest(&request);
        int top = GetStackTop(L);
        PushNewTable(L);
        if (fill) fill(L);
        int err = ReadDisplayOptions(L, -1, &request);
        SetStackTop(L, top);
        if (!err) err = CreateDisplayFromRequest(L, number, nil, &request, out);
        FreeDisplayRequest(&request);
        return err;
    }
    static int Count()
    {
        int n = 0;
        for (lvDisplay *d = FirstDisplay(); d; d = (lvDisplay *)d->header.next) n++;
        return n;
    }
    lvDisplay *Find(int number)
    {
        lvDisplay *d = nullptr;
        FindDisplayById(lvObjectId{number, nullptr}, &d);
        return d;
    }
};

TEST_F(DisplayEngine, CreatingReplacesADisplayOfTheSameNumberUnlessItIsCurrent)
{
    ASSERT_EQ(Create(3, false, [](lvState *L) { SetFieldInt(L, "width", 100); }), 0);
    ASSERT_EQ(Create(3, false, [](lvState *L) { SetFieldInt(L, "width", 200); }), 0);
    ASSERT_EQ(Count(), 1);
    EXPECT_EQ(Find(3)->width, 200);
    SetCurrentDisplay(Find(3));
    EXPECT_EQ(Create(3, false, [](lvState *L) { SetFieldInt(L, "width", 300); }), ERR_FREEADISPLAY);
    EXPECT_EQ(Count(), 1);
    EXPECT_EQ(Find(3)->width, 200);
    EXPECT_EQ(FreeDisplayById(L, lvObjectId{3, nullptr}), ERR_FREEADISPLAY);
}

TEST_F(DisplayEngine, ANilDisplayIsFoundByItsHandleUntilFreed)
{
    lvDisplay *made = nullptr;
    ASSERT_EQ(Create(0, true, nullptr, &made), 0);
    lvObjectId handle = {0, made->header.handle};
    ASSERT_NE(handle.handle, nullptr);
    lvDisplay *found = nullptr;
    EXPECT_EQ(FindDisplayById(handle, &found), 0);
    EXPECT_EQ(found, made);
    ASSERT_EQ(FreeDisplayById(L, handle), 0);
    EXPECT_EQ(FindDisplayById(handle, &found), ERR_FINDARRAY);
    EXPECT_EQ(FindDisplayById(lvObjectId{7, nullptr}, &found), ERR_FINDDISPLAY);
}

TEST_F(DisplayEngine, OptionsShapeTheNewDisplay)
{
    const struct {
        const char *what;
        void (*fill)(lvState *);
        int err, width, height, x, y, restoreWidth, autoscale;
    } cases[] = {
        {"defaults", nullptr, 0, 640, 480, LV_CENTER, LV_CENTER, 0, 0},
        {"scale factor 2", [](lvState *L) {
             SetFieldNumber(L, "scalefactor", 2);
             SetFieldInt(L, "x", 10);
             SetFieldInt(L, "y", 5);
         }, 0, 1280, 960, 20, 10, 0, 1},
        {"restore width -50", [](lvState *L) { SetFieldInt(L, "__restorewidth", -50); }, 0, 640, 480, LV_CENTER,
         LV_CENTER, 320, 0},
        {"scale factor 0", [](lvState *L) { SetFieldNumber(L, "scalefactor", 0); }, ERR_WRONGUSAGE},
        {"scale factor -1", [](lvState *L) { SetFieldNumber(L, "scalefactor", -1); }, ERR_WRONGUSAGE},
        {"unknown mode", [](lvState *L) { SetFieldString(L, "mode", "bogus"); }, ERR_WRONGUSAGE},
        {"width 0", [](lvState *L) { SetFieldInt(L, "width", 0); }, ERR_WRONGUSAGE},
        {"scale mode 3", [](lvState *L) { SetFieldInt(L, "scalemode", 3); }, ERR_WRONGUSAGE},
        {"monitor 2 of 1", [](lvState *L) { SetFieldInt(L, "monitor", 2); }, ERR_MONITORRANGE},
        {"unknown backfill", [](lvState *L) {
             PushString(L, "backfill");
             PushNewTable(L);
             SetFieldString(L, "type", "plaid");
             SetTableValueRaw(L, -3);
         }, ERR_WRONGUSAGE},
        {"region without height", [](lvState *L) {
             PushString(L, "dragregion");
             PushNewTable(L);
             PushNewTable(L);
             SetFieldInt(L, "x", 0);
             SetFieldInt(L, "y", 0);
             SetFieldInt(L, "width", 5);
             SetTableItemRaw(L, -2, 0);
             SetTableValueRaw(L, -3);
         }, ERR_MISSINGPARAMTR},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        lvDisplay *d = nullptr;
        EXPECT_EQ(Create(1, false, c.fill, &d), c.err);
        if (c.err) {
            EXPECT_EQ(Count(), 0);
            continue;
        }
        EXPECT_EQ(d->width, c.width);
        EXPECT_EQ(d->height, c.height);
        EXPECT_EQ(d->x, c.x);
        EXPECT_EQ(d->y, c.y);
        EXPECT_EQ(d->restoreWidth, c.restoreWidth);
        EXPECT_EQ(d->autoscale, c.autoscale);
        if (c.autoscale) {
            EXPECT_EQ(d->scaleWidth, 1280);
            EXPECT_EQ(d->bgpic->scaledWidth, 640);  // the picture keeps its size
        }
        ASSERT_EQ(FreeDisplayById(L, lvObjectId{1, nullptr}), 0);
    }
}

// A "palette" option makes the display's own picture a pen plane of that palette filled
// with the fill pen: its buffers keep pens, and the picture buffer's RGB bitmap shows the
// pens' colours. What cannot be a palette picture is refused and nothing is left behind.
int PenAt(lvBitMapHandle *plane, int x, int y)
{
    uint8_t *pixels;
    int rowBytes;
    uintptr_t token = GetPlanePixels(plane, &pixels, &rowBytes, 0);
    if (!token) return -1;
    int pen = pixels[(size_t)y * rowBytes + x];
    ReleasePlanePixels(token);
    return pen;
}

TEST_F(DisplayEngine, PaletteDisplaysKeepPensAndRefuseWhatCannotBePens)
{
    using Fill = void (*)(lvState *);
    const struct {
        const char *what;
        Fill fill;
        int err;
    } refused[] = {
        {"gradient fill", [](lvState *L) { SetFieldInt(L, "palette", PALETTE_DEFAULT), SetFieldInt(L, "fillstyle", 2); },
         ERR_PALETTEFILL},
        {"desktop", [](lvState *L) { SetFieldInt(L, "palette", PALETTE_DEFAULT), SetFieldInt(L, "desktop", 1); },
         ERR_DISPLAYDESKTOPPAL},
        {"fill pen past depth 2", [](lvState *L) { SetFieldInt(L, "palette", PALETTE_GRAY4), SetFieldInt(L, "fillpen", 4); },
         ERR_PENRANGE},
        {"fill pen past 255", [](lvState *L) { SetFieldInt(L, "palette", PALETTE_DEFAULT), SetFieldInt(L, "fillpen", 256); },
         ERR_PENRANGE},
        {"no such palette", [](lvState *L) { SetFieldInt(L, "palette", 7); }, ERR_FINDPALETTE},
        {"no such standard palette", [](lvState *L) { SetFieldInt(L, "palette", -5); }, ERR_UNKNOWNPALETTE},
        {"with a BGPic", [](lvState *L) { SetFieldInt(L, "palette", PALETTE_DEFAULT), SetFieldInt(L, "bgpic", 1); },
         ERR_WRONGUSAGE},
    };
    for (const auto &c : refused) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(Create(1, false, c.fill), c.err);
        EXPECT_EQ(Count(), 0);
        EXPECT_EQ(FirstBGPic(), nullptr);
    }

    lvDisplay *d = nullptr;
    ASSERT_EQ(Create(1, false,
                     [](lvState *L) {
                         SetFieldInt(L, "width", 6), SetFieldInt(L, "height", 4);
                         SetFieldInt(L, "palette", PALETTE_GRAY4), SetFieldInt(L, "fillpen", 2);
                     },
                     &d),
              0);
    lvBGPic *b = d->bgpic;
    ASSERT_TRUE(b && b->palette && b->scaled.penBitmap);
    EXPECT_EQ(b->depth, 2);
    EXPECT_EQ(b->scaled.bitmap, nullptr);
    EXPECT_EQ(b->transparentColour, -1) << "a display's picture is never see-through";
    ASSERT_TRUE(d->backgroundBuffer.chunky && d->pictureBuffer.chunky && d->pictureBuffer.rgb);
    EXPECT_EQ(d->backgroundBuffer.rgb, nullptr);
    EXPECT_EQ(PenAt(d->pictureBuffer.chunky, 5, 3), 2);
    EXPECT_EQ(ReadBitmapPixel(d->pictureBuffer.rgb, 5, 3, 0) & 0xFFFFFF, b->palette[2] & 0xFFFFFF);
    EXPECT_NE(b->palette[2] & 0xFFFFFF, 0u);
    // The blit sees only the pens.
    SyncDisplayBlit(d);
    EXPECT_EQ(d->select.blit.shown.rgb, nullptr);
    EXPECT_EQ(d->select.blit.shown.chunky, d->pictureBuffer.chunky);
    EXPECT_EQ(d->blitPicture.palette, b->palette);

    // A new size remakes the pen plane in the fill pen.
    ASSERT_EQ(ResizeDisplay(L, d, LV_KEEPPOSITION, LV_KEEPPOSITION, 9, 5, 1), 0);
    ASSERT_TRUE(d->bgpic->scaled.penBitmap);
    EXPECT_EQ(d->bgpic->scaled.penBitmap->width, 9);
    EXPECT_EQ(PenAt(d->bgpic->scaled.penBitmap, 8, 4), 2);
    ASSERT_TRUE(d->pictureBuffer.chunky);
    EXPECT_EQ(d->pictureBuffer.chunky->width, 9);
    EXPECT_EQ(ReadBitmapPixel(d->pictureBuffer.rgb, 8, 4, 0) & 0xFFFFFF, b->palette[2] & 0xFFFFFF);
}

TEST_F(DisplayEngine, EventsQueuedForAFreedDisplayAreDroppedSilently)
{
    lvDisplay *d = nullptr;
    ASSERT_EQ(Create(4, false, nullptr, &d), 0);
    ASSERT_EQ(PostEvent(d, EVENT_LEFTMOUSE, 1, 2, 1, nullptr), 1);
    ASSERT_EQ(FreeDisplayById(L, lvObjectId{4, nullptr}), 0);
    LockEvents();
    lvFetchedEvent event;
    ASSERT_TRUE(FetchEvent(L, 0, &event, 0));
    UnlockEvents();
    EXPECT_EQ(event.display, nullptr);
}

// ---- PostAdapterEvent ---------------------------------------------------------------------

struct Posted {
    int type, a, b, c;
    bool hasDisplay;
};

class AdapterEvents : public DisplayEngine {
protected:
    lvDisplay *d = nullptr;
    int handle = 0;  // the display's stand-in adapter handle
    void SetUp() override
    {
        DisplayEngine::SetUp();
        ASSERT_EQ(Create(1, false, nullptr, &d), 0);
        d->handle = &handle;
    }
    void TearDown() override
    {
        d->handle = nullptr;
        DisplayEngine::TearDown();
    }
    int Report(int kind, uintptr_t a = 0, uintptr_t b = 0, uintptr_t c = 0, uintptr_t e = 0, void *h = nullptr)
    {
        lvAdapterEvent event = {(uintptr_t)(h ? h : (void *)&handle), a, b, c, e};
        return PostAdapterEvent(L, kind, &event);
    }
    std::vector<Posted> Drain()
    {
        std::vector<Posted> out;
        LockEvents();
        lvFetchedEvent e;
        for (int n = 0; FetchEvent(L, n, &e, 0); n++) {
            int a = e.type == EVENT_KEY || e.type == EVENT_RAWKEY ? e.down : e.x;
            int b = e.type == EVENT_KEY ? (int)e.qualifiers : e.y;
            int c = e.type == EVENT_KEY || e.type == EVENT_RAWKEY || e.type == EVENT_VANILLAKEY ? e.keyCode : e.down;
            out.push_back({e.type, a, b, c, e.display != nullptr});
        }
        UnlockEvents();
        DropEvents(L, -1, 1);
        return out;
    }
};

TEST_F(AdapterEvents, MouseReportsPostButtonsAndFoldMovement)
{
    EXPECT_EQ(Report(LVP_EVENT_MOUSE, 5, 6, 0, 0), 0);
    EXPECT_TRUE(Drain().empty());
    EXPECT_EQ(d->events.mouseMoved, 1);
    EXPECT_EQ(Report(LVP_EVENT_MOUSE, 7, 8, 1, 1), 0);
    std::vector<Posted> posted = Drain();
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted[0].type, EVENT_LEFTMOUSE);
    EXPECT_EQ(posted[0].a, 7);
    EXPECT_EQ(posted[0].b, 8);
    EXPECT_EQ(posted[0].c, 1);
    EXPECT_EQ(d->events.leftButton, 1);
    EXPECT_EQ(Report(LVP_EVENT_MOUSE, 7, 8, 3, 1), 0);
    EXPECT_EQ(Drain()[0].type, EVENT_MIDMOUSE);
}

TEST_F(AdapterEvents, AltReturnAsksForAModeSwitchOnReleaseUnlessForbidden)
{
    const uint32_t leftAlt = 0x80040000u;
    EXPECT_EQ(Report(LVP_EVENT_KEY, 274, 1, leftAlt), 0);
    std::vector<Posted> press = Drain();
    ASSERT_EQ(press.size(), 1u);
    EXPECT_EQ(press[0].type, EVENT_KEY);
    EXPECT_EQ(d->events.keyState[274], 1);
    EXPECT_EQ(Report(LVP_EVENT_KEY, 274, 0, leftAlt), 0);
    std::vector<Posted> release = Drain();
    ASSERT_EQ(release.size(), 2u);
    EXPECT_EQ(release[1].type, EVENT_MODESWITCH);
    d->styleFlags |= DSTYLE_NOMODESWITCH;
    EXPECT_EQ(Report(LVP_EVENT_KEY, 274, 0, leftAlt), 0);
    EXPECT_EQ(Drain().size(), 1u);
}

// What the user does to a display while a desktop dialog is open is dropped; window
// events still arrive, and a press released in the same pass is still counted.
TEST_F(AdapterEvents, UserInputIsDroppedWhileADesktopDialogIsOpen)
{
    NoteDesktopDialog(1);
    EXPECT_EQ(Report(LVP_EVENT_KEY, 'a', 1, 0), 0);
    EXPECT_EQ(Report(LVP_EVENT_KEY, 'a', 0, 0), 0);
    EXPECT_EQ(Report(LVP_EVENT_MOUSE, 7, 8, 1, 1), 0);
    EXPECT_EQ(Report(LVP_EVENT_WHEEL, 1), 0);
    EXPECT_EQ(Report(LVP_EVENT_CLOSE), 0);
    std::vector<Posted> during = Drain();
    ASSERT_EQ(during.size(), 1u);
    EXPECT_EQ(during[0].type, EVENT_CLOSEWINDOW);
    EXPECT_EQ(d->events.keyPresses['a'], 1);
    EXPECT_EQ(d->events.keyState['a'], 0);
    NoteDesktopDialog(0);
    EXPECT_EQ(Report(LVP_EVENT_KEY, 'a', 1, 0), 0);
    std::vector<Posted> after = Drain();
    ASSERT_EQ(after.size(), 1u);
    EXPECT_EQ(after[0].type, EVENT_KEY);
    EXPECT_EQ(d->events.keyPresses['a'], 2);
}

TEST_F(AdapterEvents, ReportsByKind)
{
    int stranger = 0;
    const struct {
        const char *what;
        int kind;
        uintptr_t a, b, c;
        bool unknownDisplay;
        int result;
        std::vector<int> types;
    } cases[] = {
        {"unknown display, mouse", LVP_EVENT_MOUSE, 1, 1, 1, true, ERR_FINDDISPLAY, {}},
        {"unknown display, close", LVP_EVENT_CLOSE, 0, 0, 0, true, ERR_FINDDISPLAY, {}},
        {"unknown display, key", LVP_EVENT_KEY, 'a', 1, 0, true, 0, {}},
        {"unknown display, raw key", LVP_EVENT_RAWKEY, 'a', 1, 0, true, 0, {}},
        {"unknown display, vanilla key", LVP_EVENT_VANILLAKEY, 'a', 0, 0, true, 0, {}},
        {"close", LVP_EVENT_CLOSE, 0, 0, 0, false, 0, {EVENT_CLOSEWINDOW}},
        {"wheel up", LVP_EVENT_WHEEL, 0, 1, 0, false, 0, {EVENT_WHEELUP}},
        {"wheel down", LVP_EVENT_WHEEL, 0, 0, 0, false, 0, {EVENT_WHEELDOWN}},
        {"activation", LVP_EVENT_ACTIVE, 1, 0, 0, false, 0, {EVENT_ACTIVEWINDOW}},
        {"kind 20", 20, 0, 0, 0, false, 0, {}},
        {"kind 40", 40, 0, 0, 0, false, 0, {40}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(Report(c.kind, c.a, c.b, c.c, 0, c.unknownDisplay ? &stranger : nullptr), c.result);
        std::vector<int> types;
        for (const Posted &p : Drain()) types.push_back(p.type);
        EXPECT_EQ(types, c.types);
    }
}

TEST_F(AdapterEvents, EscapeAndCtrlCQuitByTheirSwitches)
{
    lvQuitSwitches saved = *GetQuitSwitches();
    EXPECT_EQ(Report(LVP_EVENT_KEY, 275, 1, 0), 0);  // Escape: switch off by default
    std::vector<Posted> escape = Drain();
    ASSERT_EQ(escape.size(), 1u);
    EXPECT_EQ(Report(LVP_EVENT_KEY, 'c', 1, 0x80800000u), 0);  // right control
    std::vector<Posted> ctrlC = Drain();
    ASSERT_EQ(ctrlC.size(), 2u);
    EXPECT_EQ(ctrlC[1].type, EVENT_QUIT);
    GetQuitSwitches()->ctrlC = 0;
    EXPECT_EQ(Report(LVP_EVENT_KEY, 'C', 1, 0x80400000u), 0);
    EXPECT_EQ(Drain().size(), 1u);
    *GetQuitSwitches() = saved;
    RequestScriptStop(0);
}

// Graphics slot 20 finds a display by identifier or by the adapter's handle; slots 16
// and 17 let the adapter read the picture the runtime hands to BltBitMap.
TEST_F(AdapterEvents, PluginSlotsFindDisplaysAndLockTheirPictures)
{
    InstallDisplayLibrary();
    const lvApiGraphics *g = GetPluginApi()->graphics;
    void *handleOut = nullptr;
    lvPluginObjectId idOut = {0, nullptr};
    lvPluginObjectId one = {1, nullptr}, nine = {9, nullptr};
    EXPECT_EQ(g->FindDisplay(&one, nullptr, &handleOut, &idOut), 0);
    EXPECT_EQ(handleOut, (void *)&handle);
    EXPECT_EQ(idOut.number, 1);
    idOut = {};
    EXPECT_EQ(g->FindDisplay(nullptr, &handle, nullptr, &idOut), 0);
    EXPECT_EQ(idOut.number, 1);
    EXPECT_EQ(g->FindDisplay(&nine, nullptr, &handleOut, &idOut), ERR_FINDDISPLAY);
    int other = 0;
    EXPECT_EQ(g->FindDisplay(nullptr, &other, &handleOut, &idOut), ERR_FINDDISPLAY);

    lvPluginBitMapInfo info = {};
    lvPluginTag readOnly[] = {{1, 1}, {0, 0}};
    uintptr_t token = g->LockBitMap(d->pictureBuffer.rgb, 0, &info, readOnly);
    ASSERT_NE(token, 0u);
    EXPECT_EQ(info.width, 640);
    EXPECT_EQ(info.height, 480);
    EXPECT_EQ(info.format, 10);
    EXPECT_GE(info.rowLength, 640);
    g->UnLockBitMap(token);
    EXPECT_EQ(g->LockBitMap(nullptr, 0, &info, readOnly), 0u);
    SetDisplayPluginEntries(nullptr);
    SetEventDisplayHooks(nullptr);
    SetStartupHooks(nullptr);
    SetLinkedTailReader(10, nullptr);
}

// A size report from the adapter's thread changes nothing there: the resize runs when
// the script thread takes the posted call, and finds the display again by its handle.
TEST_F(AdapterEvents, ASizeReportResizesOnTheScriptThread)
{
    EXPECT_EQ(Report(LVP_EVENT_SIZE, 200, 100), 0);
    EXPECT_EQ(d->width, 640);
    LockEvents();
    lvFetchedEvent e;
    ASSERT_TRUE(FetchEvent(L, 0, &e, 1));
    DropEvents(L, 0, 0);
    UnlockEvents();
    ASSERT_EQ(e.type, EVENT_PLUGINCALLBACK);
    lvPluginCallbackBlock *block = (lvPluginCallbackBlock *)e.payload;
    EXPECT_EQ(block->function(L, block->userData), 0);
    FreeMemory(block);
    EXPECT_EQ(d->width, 200);
    EXPECT_EQ(d->bgpic->scaledWidth, 200);
    std::vector<Posted> after = Drain();
    ASSERT_EQ(after.size(), 1u);
    EXPECT_EQ(after[0].type, EVENT_SIZEWINDOW);

    // The display is gone before the call runs: nothing is touched.
    EXPECT_EQ(Report(LVP_EVENT_SIZE, 300, 100), 0);
    LockEvents();
    ASSERT_TRUE(FetchEvent(L, 0, &e, 1));
    DropEvents(L, 0, 0);
    UnlockEvents();
    d->handle = nullptr;
    ASSERT_EQ(FreeDisplayById(L, lvObjectId{1, nullptr}), 0);
    block = (lvPluginCallbackBlock *)e.payload;
    EXPECT_EQ(block->function(L, block->userData), 0);
    FreeMemory(block);
    EXPECT_TRUE(Drain().empty());
    ASSERT_EQ(Create(1, false, nullptr, &d), 0);  // for TearDown
}

// Data for the program's port arrives as "x", a zero byte, then the data, always ended
// by a zero byte of the runtime's own, whatever the plug-in's size says.
TEST_F(AdapterEvents, PortDataIsAlwaysTerminated)
{
    ASSERT_EQ(InitSystemEvents(), 0);
    char data[4] = {'a', 'b', 'c', 'd'};  // no terminator
    EXPECT_EQ(Report(LVP_EVENT_PORTDATA, sizeof data, 0, 0, 0, data), 0);
    lvSystemEvent event;
    ASSERT_TRUE(GetSystemEvent(&event));
    EXPECT_EQ(event.type, 14);
    const char *block = (const char *)event.data2;
    EXPECT_STREQ(block, "x");
    EXPECT_STREQ(block + 2, "abcd");
    FreeMemory((void *)event.data2);
    FreeSystemEvents();
}

// ---- Stored records -------------------------------------------------------------------------

struct Bytes {
    std::vector<uint8_t> b;
    Bytes &u8(uint32_t v) { b.push_back(uint8_t(v)); return *this; }
    Bytes &u16(uint32_t v) { return u8(v >> 8).u8(v); }
    Bytes &u32(uint32_t v) { return u16(v >> 16).u16(v); }
    Bytes &text(const std::string &s) { u16((uint32_t)s.size()); b.insert(b.end(), s.begin(), s.end()); return *this; }
};

// The fields every version stores: position, size, colour, flags, no regions, the title.
Bytes Common(const std::string &title = "Hello")
{
    Bytes r;
    r.u32(0).u32(10).u32(20).u32(320).u32(240).u32(0x336699).u32(0x400).u32(0).u32(0).u32(0);
    r.u32(0).u32(0).text(title);
    return r;
}

// 4.7 to 9.0 fields after the title; the backfill given as bytes.
Bytes Full(Bytes r, const std::vector<uint8_t> &backfill, uint32_t scaleFactor)
{
    r.u8(1).u32(0).u16(0).u32(0).u32(0).u32(0);            // 4.7: colour fill
    r.u8(2).u32(500000).u32(500000).u32(500000).u32(0).u8(0);  // 5.0 gradient
    r.text("");                                             // 5.2
    r.u8(0);                                                // 5.3 orientation
    r.u8(1).u8(0).u32(0).u8(1).u8(0).u16(0xFFFF).u16(0xFFFF).u8(0).u8(0);  // 6.0
    r.b.insert(r.b.end(), backfill.begin(), backfill.end());
    r.text("").text("").text("");
    r.text("").u32(scaleFactor).u32(0x40);                  // 8.0
    r.u8(0).u32(0).u32(0);                                  // 9.0
    return r;
}

int ReadRecord(const Bytes &r, int major, int minor, lvDisplayOptions *out, uint64_t *consumed = nullptr)
{
    lvByteSource source;
    InitMemorySource(&source, r.b.data(), r.b.size());
    lvAppletCursor cursor = {&source, 0, r.b.size()};
    lvLinkedObject object;
    std::memset(&object, 0, sizeof object);
    int err = ReadAppletDisplayRecord(&cursor, &object, major, minor);
    if (!err) *out = *(lvDisplayOptions *)object.payload;
    FreeMemory(object.payload);
    if (consumed) *consumed = cursor.position;
    return err;
}

TEST(StoredDisplayRecords, VersionsEndWhereTheirFieldsEnd)
{
    lvDisplayOptions o;
    uint64_t used = 0;
    Bytes old = Common();
    ASSERT_EQ(ReadRecord(old, 4, 6, &o, &used), 0);
    EXPECT_EQ(used, old.b.size());
    EXPECT_EQ(o.fillStyle, 1);
    EXPECT_STREQ(o.title, "Hello");
    EXPECT_EQ(o.width, 320);
    EXPECT_EQ(o.colour, 0x336699u);
    EXPECT_EQ(o.styleFlags, 0x400u);
    EXPECT_EQ(o.scaleFactor, 1.0);

    const struct {
        uint32_t stored;
        double factor;
    } factors[] = {{0x00018000u, 1.5}, {0x00010000u, 1.0}, {0, 1.0}, {0x00020000u, 2.0}};
    for (const auto &f : factors) {
        Bytes full = Full(Common(), {0}, f.stored);
        ASSERT_EQ(ReadRecord(full, 9, 0, &o, &used), 0);
        EXPECT_EQ(used, full.b.size());
        EXPECT_EQ(o.scaleFactor, f.factor) << f.stored;
        EXPECT_EQ(o.styleFlags2, 0x40u);
        EXPECT_EQ(o.mode, 1);
        EXPECT_EQ(o.screenWidth, -1);
    }
}

TEST(StoredDisplayRecords, BackfillsByType)
{
    const struct {
        std::vector<uint8_t> bytes;
        int type;
        uint32_t start, end;
        int brush, x, y, scale, smooth;
    } cases[] = {
        {{0}, 0, 0, 0, 0, 0, 0, 0, 0},
        {{1, 0, 0x11, 0x22, 0x33}, 1, 0x112233, 0, 0, 0, 0, 0, 0},
        {{2, 0, 0, 0, 1, 0, 0, 0, 2}, 2, 1, 2, 0, 0, 0, 0, 0},
        {{3, 0, 0, 0, 9}, 3, 0, 0, 9, 0, 0, 0, 0},
        {{4, 0, 0, 0, 7, 0, 0, 0, 5, 0, 0, 0, 6, 0, 0, 0, 1, 0, 0, 0, 2, 1, 1}, 4, 1, 2, 7, 5, 6, 1, 1},
        {{9}, 9, 0, 0, 0, 0, 0, 0, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.type);
        lvDisplayOptions o;
        Bytes full = Full(Common(), c.bytes, 0);
        uint64_t used = 0;
        ASSERT_EQ(ReadRecord(full, 9, 0, &o, &used), 0);
        EXPECT_EQ(used, full.b.size());
        EXPECT_EQ(o.backfill.type, c.type);
        EXPECT_EQ(o.backfill.startColour, c.start);
        EXPECT_EQ(o.backfill.endColour, c.end);
        EXPECT_EQ(o.backfill.brush, c.brush);
        EXPECT_EQ(o.backfill.x, c.x);
        EXPECT_EQ(o.backfill.y, c.y);
        EXPECT_EQ(o.backfill.scalePicture, c.scale);
        EXPECT_EQ(o.backfill.smoothScale, c.smooth);
    }
}

TEST(StoredDisplayRecords, OverlongOrShortFieldsAreRefused)
{
    lvDisplayOptions o;
    Bytes longTitle = Common(std::string(256, 'x'));
    EXPECT_EQ(ReadRecord(longTitle, 4, 6, &o), ERR_READ);
    Bytes fits = Common(std::string(255, 'x'));
    EXPECT_EQ(ReadRecord(fits, 4, 6, &o), 0);
    EXPECT_EQ(std::strlen(o.title), 255u);
    Bytes regions;
    regions.u32(0).u32(0).u32(0).u32(1).u32(1).u32(0).u32(0).u32(0).u32(0).u32(0).u32(65);
    for (int i = 0; i < 65 * 5; i++) regions.u32(1);
    regions.u32(0).text("t");
    EXPECT_EQ(ReadRecord(regions, 4, 6, &o), ERR_READ);
    Bytes cut = Common();
    cut.b.pop_back();
    EXPECT_EQ(ReadRecord(cut, 4, 6, &o), ERR_READ);
    Bytes cut90 = Full(Common(), {0}, 0);
    cut90.b.pop_back();
    EXPECT_EQ(ReadRecord(cut90, 9, 0, &o), ERR_READ);
}

TEST(StoredGradient, StopsAndLimits)
{
    Bytes g;
    g.u8(3).u32(250000).u32(750000).u32(500000).u32(100000).u8(2);
    g.u32(0xFF0000).u32(0).u32(0x0000FF).u32(1000000);
    lvByteSource source;
    InitMemorySource(&source, g.b.data(), g.b.size());
    lvAppletCursor cursor = {&source, 0, g.b.size()};
    lvGradient gradient;
    InitGradient(&gradient, 0);
    ASSERT_EQ(ReadGradientFromApplet(&cursor, &gradient), 0);
    EXPECT_EQ(gradient.style, 3);
    EXPECT_DOUBLE_EQ(gradient.centreX, 0.25);
    EXPECT_DOUBLE_EQ(gradient.centreY, 0.75);
    EXPECT_DOUBLE_EQ(gradient.border, 0.1);
    ASSERT_EQ(gradient.stopCount, 2);
    EXPECT_EQ(gradient.stops[1].colour, 0x0000FFu);
    EXPECT_DOUBLE_EQ(gradient.stops[1].position, 1.0);
    Bytes many;
    many.u8(2).u32(0).u32(0).u32(0).u32(0).u8(65);
    for (int i = 0; i < 65; i++) many.u32(0).u32(0);
    InitMemorySource(&source, many.b.data(), many.b.size());
    cursor = {&source, 0, many.b.size()};
    EXPECT_EQ(ReadGradientFromApplet(&cursor, &gradient), ERR_READ);
    EXPECT_EQ(gradient.stopCount, 2);  // left as it was
}

// ---- Declared displays ----------------------------------------------------------------------

TEST_F(DisplayEngine, ADeclaredDisplaysOptionTableNamesItsSettings)
{
    lvDisplayOptions o;
    InitDisplayDefaults(&o);
    o.styleFlags = DSTYLE_BORDERLESS | DSTYLE_AUTOSCALE | DSTYLE_ACTIVE | DSTYLE_HIDDEN;
    o.scaleFactor = 1.5;
    o.monitor = 0;
    o.colour = 0x123456;
    std::strcpy(o.title, "Declared");
    int top = GetStackTop(L);
    PushPresetDisplayOptions(L, &o, 2, 0);
    int t = GetStackTop(L);
    const struct {
        const char *name;
        int value;
    } ints[] = {{"width", 640}, {"height", 480}, {"fillstyle", 1}, {"scalemode", 1},
                {"monitor", 1}, {"color", 0x123456}, {"x", LV_CENTER}};
    for (const auto &f : ints) {
        int value = -1;
        EXPECT_TRUE(GetFieldInt(L, t, f.name, &value)) << f.name;
        EXPECT_EQ(value, f.value) << f.name;
    }
    for (const char *name : {"borderless", "active", "hidden"}) {
        int on = 0;
        EXPECT_TRUE(GetFieldBool(L, t, name, &on)) << name;
        EXPECT_EQ(on, 1) << name;
    }
    int absent = 0;
    EXPECT_FALSE(GetFieldBool(L, t, "sizeable", &absent));
    EXPECT_FALSE(GetFieldInt(L, t, "menu", &absent));
    double factor = 0;
    EXPECT_TRUE(GetFieldNumber(L, t, "scalefactor", &factor));
    EXPECT_EQ(factor, 1.5);
    char text[64] = "";
    EXPECT_TRUE(GetFieldStringBuf(L, t, "mode", text, sizeof text));
    EXPECT_STREQ(text, "windowed");
    SetStackTop(L, top);
}

TEST_F(DisplayEngine, AnAppletWithoutDisplaysGetsDisplayOneCentredAndActive)
{
    lvAppletRecord *record = (lvAppletRecord *)AllocMemory(sizeof(lvAppletRecord), 1);
    InitAppletRecord(record);
    ASSERT_EQ(AddDefaultDisplayRecord(record, "Lumivarra"), 0);
    lvLinkedObject *one = record->linkedObjects;
    ASSERT_NE(one, nullptr);
    EXPECT_EQ(one->identifier, 1u);
    ASSERT_EQ(CreatePresetDisplay(L, one, 0), 0);
    lvDisplay *d = Find(1);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->width, 640);
    EXPECT_EQ(d->height, 480);
    EXPECT_EQ(d->x, LV_CENTER);
    EXPECT_EQ(d->y, LV_CENTER);
    EXPECT_TRUE(d->styleFlags & DSTYLE_ACTIVE);
    EXPECT_STREQ(d->title, "Lumivarra");
    ASSERT_EQ(OpenStartupDisplays(L), 0);
    EXPECT_EQ(GetCurrentDisplay(), d);
    EXPECT_EQ(d->state, DISPSTATE_OPEN);
    // Centred on the headless 1920x1080 monitor, which has no frame.
    EXPECT_EQ(d->window->x, (1920 - 640) / 2);
    EXPECT_EQ(d->window->y, (1080 - 480) / 2);
    FreeAppletRecord(record, 0);
}

}  // namespace

namespace {

// The BGPic list: handles for Nil, the not-found errors, detached records, unlinking, and
// the fill the display's own picture gets.
TEST(BGPicRecords, ListLookupsAndFill)
{
    lvBGPicFill fill = {};
    fill.style = 1;
    fill.colour = 0x123456;
    lvBitMapHandle *bitmap = nullptr;
    ASSERT_EQ(BuildBGPicBitmaps(nullptr, &fill, -1, 4, 3, 4, &bitmap, nullptr, nullptr, nullptr), 0);
    {
        lvScopedLock lock(bitmap, LOCK_READONLY);
        ASSERT_TRUE(lock);
        EXPECT_EQ(ReadLockPixel(&lock.lock, 3, 2) & 0xFFFFFF, 0x123456u);
    }
    lvObjectId nil = {0, nullptr};
    lvBGPic *made = nullptr;
    ASSERT_EQ(NewBGPicRecord(&nil, 0, 4, 3, 4, nullptr, bitmap, nullptr, -1, nullptr, nullptr, nullptr, 24, nullptr,
                             &fill, nullptr, 0, "raw", &made),
              0);
    EXPECT_EQ(nil.handle, (void *)made);
    EXPECT_EQ(made->scaledWidth, 4);
    EXPECT_EQ(made->shown.bitmap, made->base.bitmap);
    EXPECT_FALSE(BGPicHasTransparency(made));
    lvBGPic *found = nullptr;
    EXPECT_EQ(FindBGPicById(nil, &found, 0), 0);
    EXPECT_EQ(found, made);
    EXPECT_EQ(FindBGPicById(lvObjectId{9, nullptr}, &found, 0), ERR_FINDBGPIC);
    EXPECT_EQ(FindBGPicById(lvObjectId{0, &fill}, &found, 0), ERR_FINDARRAY);
    made->detached = 1;
    EXPECT_EQ(FindBGPicById(nil, &found, 0), ERR_FINDARRAY);
    EXPECT_EQ(FindBGPicById(nil, &found, BGPIC_FIND_DETACHED), 0);
    EXPECT_EQ(UnlinkBGPicById(nil), 0);
    EXPECT_EQ(FirstBGPic(), nullptr);
    EXPECT_EQ(UnlinkBGPicById(nil), ERR_FINDARRAY);
    fill.style = 2;  // gradients come with the raster engine's gradient fills
    EXPECT_EQ(BuildBGPicBitmaps(nullptr, &fill, -1, 4, 3, 4, &bitmap, nullptr, nullptr, nullptr), ERR_UNIMPLCMD);
}

TEST(DrawTargets, SavingResetsToTheDisplayAndRestoringBringsTheSelectionBack)
{
    lvDrawTarget target;
    ResetDrawTarget(&target);
    EXPECT_EQ(target.kind, OUTPUT_DISPLAY);
    target.kind = OUTPUT_MASK;
    target.depth = 8;
    lvDrawTarget saved;
    SaveDrawTarget(&target, &saved);
    EXPECT_EQ(target.kind, OUTPUT_DISPLAY);
    EXPECT_EQ(target.depth, 0);
    RestoreDrawTarget(&target, &saved);
    EXPECT_EQ(target.kind, OUTPUT_MASK);
    EXPECT_EQ(target.depth, 8);
    lvBGPic record;
    InitBGPicRecord(&record, lvObjectId{3, nullptr}, 3, 2, &target, 10, 20, 32);
    EXPECT_EQ(record.header.type, LV_TYPE_BGPIC);
    EXPECT_EQ(record.header.identifier, 3);
    EXPECT_EQ(record.selectedType, 3);
    EXPECT_EQ(record.selectedIndex, 2);
    EXPECT_EQ(record.baseWidth, 10);
    EXPECT_EQ(record.shownHeight, 20);
    EXPECT_EQ(record.layerHead, (void *)&record.layerNull);
}

}  // namespace

namespace {

// Start-up options reach display 1, or every display with ALLDISPLAYS; values left at
// "not given" (0, -1, a factor of 1) change nothing. Header settings add display 1.
TEST(DeclaredDisplays, StartUpOverridesAndHeaderSettings)
{
    for (int all = 0; all < 2; all++) {
        SCOPED_TRACE(all);
        lvAppletRecord *record = (lvAppletRecord *)AllocMemory(sizeof(lvAppletRecord), 1);
        InitAppletRecord(record);
        lvDisplayOptions o;
        InitDisplayDefaults(&o);
        ASSERT_EQ(AddLinkedDisplay(record, 10, 1, &o, sizeof o, nullptr), 0);
        ASSERT_EQ(AddLinkedDisplay(record, 10, 2, &o, sizeof o, nullptr), 0);
        record->windowWidth = 800;
        record->scaleFactor = 2;
        record->displayFlags1 = DSTYLE_BORDERLESS;
        ApplyStartupDisplayOverrides(record, all);
        const lvDisplayOptions *one = (const lvDisplayOptions *)record->linkedObjects->payload;
        const lvDisplayOptions *two = (const lvDisplayOptions *)record->linkedObjects->next->payload;
        EXPECT_EQ(one->width, 800);
        EXPECT_EQ(one->height, 480);
        EXPECT_EQ(one->scaleFactor, 2.0);
        EXPECT_EQ(one->screenWidth, 0);  // -1 in the record: not given
        EXPECT_TRUE(one->styleFlags & DSTYLE_BORDERLESS);
        EXPECT_EQ(two->width, all ? 800 : 640);
        FreeAppletRecord(record, 0);
    }
    lvAppletRecord *record = (lvAppletRecord *)AllocMemory(sizeof(lvAppletRecord), 1);
    InitAppletRecord(record);
    record->displaySettings.mode = DISPMODE_FULLSCREEN;
    record->displaySettings.screenWidth = 1024;
    ASSERT_EQ(ApplyAppletDisplaySettings(record), 0);
    ASSERT_NE(record->linkedObjects, nullptr);
    const lvDisplayOptions *one = (const lvDisplayOptions *)record->linkedObjects->payload;
    EXPECT_EQ(one->mode, DISPMODE_FULLSCREEN);
    EXPECT_EQ(one->screenWidth, 1024);
    EXPECT_EQ(one->screenHeight, 0);
    EXPECT_TRUE(one->styleFlags & DSTYLE_ACTIVE);
    FreeAppletRecord(record, 0);
}

}  // namespace

namespace {

// An adapter made of the test's own functions: what OpenDisplay was given, and what it
// answers (a handle or none; a position and flags written back through tags 17 to 19).
struct FakeAdapter {
    std::vector<std::pair<uint32_t, intptr_t>> tags;
    int width = 0, height = 0, opens = 0, closes = 0, blits = 0;
    bool refuse = false;
};
FakeAdapter fake;
int fakeHandle;

void *FakeOpen(const char *, int, int, int width, int height, uint32_t, const lvPluginTag *tags)
{
    fake.opens++;
    fake.width = width;
    fake.height = height;
    fake.tags.clear();
    for (const lvPluginTag *t = tags; t->tag; t++) {
        fake.tags.push_back({t->tag, t->value});
        if (t->tag == LVP_OPENTAG_X) *(int32_t *)t->value = 111;
        if (t->tag == LVP_OPENTAG_FLAGS) *(uint32_t *)t->value |= LVP_DISPLAY_BORDERLESS;
    }
    return fake.refuse ? nullptr : &fakeHandle;
}
int FakeClose(void *) { return ++fake.closes, 0; }
void FakeBorders(uint32_t, int32_t *l, int32_t *r, int32_t *t, int32_t *b) { *l = *r = *t = *b = 0; }
void FakeAttributes(void *, const lvPluginTag *) {}
void FakeBlit(void *, void *, const lvAdapterBlit *, uint32_t, uint32_t) { fake.blits++; }
void FakeActivate(void *, int) {}

class FakeAdapterDisplays : public DisplayEngine {
protected:
    lvPluginRecord record{};
    void SetUp() override
    {
        DisplayEngine::SetUp();
        fake = FakeAdapter();
        record.capabilities = PLUGINCAPS_DISPLAYADAPTER;
        record.OpenDisplay = (lvPluginExport)FakeOpen;
        record.CloseDisplay = (lvPluginExport)FakeClose;
        record.DetermineBorderSizes = (lvPluginExport)FakeBorders;
        record.SetDisplayAttributes = (lvPluginExport)FakeAttributes;
        record.BltBitMap = (lvPluginExport)FakeBlit;
        record.ActivateDisplay = (lvPluginExport)FakeActivate;
        lvPluginTag tags[] = {{1, 10}, {0, 0}};
        NoteDisplayAdapter(&record, 0, tags);
    }
    void TearDown() override
    {
        DisplayEngine::TearDown();
        ForgetDisplayAdapter();
    }
    static intptr_t Tag(uint32_t tag)
    {
        for (auto &t : fake.tags)
            if (t.first == tag) return t.second;
        return -12345;
    }
};

TEST_F(FakeAdapterDisplays, AScaledDisplayOpensAtItsScaleSizeWithTheScaleTags)
{
    lvDisplay *d = nullptr;
    ASSERT_EQ(Create(1, false, [](lvState *L) { SetFieldNumber(L, "scalefactor", 2); }, &d), 0);
    ASSERT_EQ(RealizeDisplay(L, d, 0), 0);
    EXPECT_EQ(fake.width, 1280);
    EXPECT_EQ(fake.height, 960);
    EXPECT_EQ(Tag(LVP_OPENTAG_WIDTH), 640);
    EXPECT_EQ(Tag(LVP_OPENTAG_HEIGHT), 480);
    EXPECT_EQ(Tag(LVP_OPENTAG_SCALEWIDTH), 1280);
    EXPECT_EQ(Tag(LVP_OPENTAG_SCALEHEIGHT), 960);
    for (uint32_t fullScreenTag : {7u, 8u, 9u}) EXPECT_EQ(Tag(fullScreenTag), -12345);
    EXPECT_EQ(d->handle, (void *)&fakeHandle);
    EXPECT_EQ(d->state, DISPSTATE_OPEN);
    EXPECT_EQ(d->x, 111);  // written back through tag 17
    EXPECT_TRUE(d->styleFlags & DSTYLE_BORDERLESS);  // and the flags through tag 19
    EXPECT_EQ(fake.blits, 1);
    EXPECT_EQ(FindDisplayByHandle(&fakeHandle), d);
    EXPECT_EQ(OpenDisplayById(L, lvObjectId{1, nullptr}, -1, LV_NOPOSITION, LV_NOPOSITION, 0), ERR_WRONGUSAGE);
    ASSERT_EQ(CloseDisplayById(L, lvObjectId{1, nullptr}), 0);
    EXPECT_EQ(fake.closes, 1);
    EXPECT_EQ(d->handle, nullptr);
    EXPECT_EQ(FindDisplayByHandle(&fakeHandle), nullptr);
    EXPECT_EQ(CloseDisplayById(L, lvObjectId{1, nullptr}), ERR_WRONGUSAGE);
}

TEST_F(FakeAdapterDisplays, AnAdapterThatOpensNothingLeavesTheDisplayClosed)
{
    lvDisplay *d = nullptr;
    ASSERT_EQ(Create(1, false, nullptr, &d), 0);
    fake.refuse = true;
    EXPECT_EQ(OpenDisplayById(L, lvObjectId{1, nullptr}, -1, LV_NOPOSITION, LV_NOPOSITION, 0), ERR_WINDOW);
    EXPECT_EQ(d->state, DISPSTATE_CLOSED);
    EXPECT_EQ(d->handle, nullptr);
    EXPECT_EQ(GetCurrentDisplay(), nullptr);
    EXPECT_EQ(fake.blits, 0);
}

// A shown BGPic whose pens changed is redrawn on its displays, not between BeginRefresh and
// EndRefresh; an adapter that declares SetPalette gets the pens instead. Through the DISPLAY
// palette target, SetPen on the current display reaches the same path.
const uint32_t *paletteGiven;
int paletteCalls;
void FakeSetPalette(void *, const uint32_t *pens, uint32_t) { paletteGiven = pens, paletteCalls++; }

TEST_F(FakeAdapterDisplays, ChangedPensOfAShownBGPicReachItsDisplay)
{
    lvDisplay *d = nullptr;
    ASSERT_EQ(Create(1, false, nullptr, &d), 0);
    ASSERT_EQ(RealizeDisplay(L, d, 0), 0);
    ASSERT_EQ(d->state, DISPSTATE_OPEN);
    ASSERT_TRUE(d->bgpic);
    int blits = fake.blits;
    NotifyBGPicPensChanged(L, d->bgpic);
    EXPECT_EQ(fake.blits, blits + 1) << "redrawn whole";
    d->refreshMode = 1;
    NotifyBGPicPensChanged(L, d->bgpic);
    EXPECT_EQ(fake.blits, blits + 1) << "not inside BeginRefresh";
    d->refreshMode = 0;
    NotifyBGPicPensChanged(L, nullptr);
    EXPECT_EQ(fake.blits, blits + 1);

    // The palette adapter: SetPalette with the BGPic's pens, no redraw.
    d->bgpic->palette = (uint32_t *)AllocMemory(1024, 1);
    d->bgpic->depth = 8;
    record.SetPalette = (lvPluginExport)FakeSetPalette;
    record.extensions[11] = LVP_ADAPTEREXT_PALETTE;
    lvPluginTag tags[] = {{1, 10}, {0, 0}};
    NoteDisplayAdapter(&record, LVP_ADAPTER_PALETTE, tags);
    paletteCalls = 0;
    SetCurrentDisplay(d);
    InstallImagePaletteOperations();
    lvPaletteOpRequest r = {};
    r.type = 21;  // DISPLAY, the current one
    r.operation = 0;
    r.pen = 4;
    r.colour = 0x102030;
    EXPECT_EQ(ApplyPaletteOperation(&r), 0);
    EXPECT_EQ(d->bgpic->palette[4], 0x102030u);
    EXPECT_EQ(paletteCalls, 1);
    EXPECT_EQ(paletteGiven, d->bgpic->palette);
    EXPECT_EQ(fake.blits, blits + 1);
    // Its pixels stay as they are while it is shown.
    r.operation = 4;
    EXPECT_EQ(ApplyPaletteOperation(&r), ERR_SELECTBGPIC2);

    // While it double-buffers, the current display means its back buffer, which is true
    // colour here and so has no pens; the display named by its id still means its BGPic.
    r.operation = 0;
    r.colour = 0x0A0B0C;
    ASSERT_EQ(BeginDisplayDoubleBuffer(L, d, 0), 0);
    EXPECT_EQ(ApplyPaletteOperation(&r), ERR_BGPICPALETTE);
    EXPECT_EQ(d->bgpic->palette[4], 0x102030u);
    r.id = lvObjectId{1, nullptr};
    EXPECT_EQ(ApplyPaletteOperation(&r), 0);
    EXPECT_EQ(d->bgpic->palette[4], 0x0A0B0Cu);
    EXPECT_EQ(EndDisplayDoubleBuffer(L, d), 0);
}

// A palette display is presented in colours made from its pens: a palette adapter gets
// SetPalette and the display is redrawn with the new colours too. Its double buffers are
// the runtime's pen buffers; an adapter's hardware ones are refused.
TEST_F(FakeAdapterDisplays, APaletteDisplayShowsNewPensAndRefusesHardwareDoubleBuffers)
{
    lvDisplay *d = nullptr;
    ASSERT_EQ(Create(1, false,
                     [](lvState *L) {
                         SetFieldInt(L, "width", 8), SetFieldInt(L, "height", 4);
                         SetFieldInt(L, "palette", PALETTE_DEFAULT), SetFieldInt(L, "fillpen", 4);
                     },
                     &d),
              0);
    ASSERT_EQ(RealizeDisplay(L, d, 0), 0);
    record.SetPalette = (lvPluginExport)FakeSetPalette;
    record.extensions[11] = LVP_ADAPTEREXT_PALETTE;
    lvPluginTag tags[] = {{1, 10}, {0, 0}};
    NoteDisplayAdapter(&record, LVP_ADAPTER_PALETTE | LVP_ADAPTER_HWDOUBLEBUFFER, tags);
    SetCurrentDisplay(d);
    InstallImagePaletteOperations();
    paletteCalls = 0;
    int blits = fake.blits;
    lvPaletteOpRequest r = {};
    r.type = 21;
    r.operation = 0;
    r.pen = 4;
    r.colour = 0x102030;
    EXPECT_EQ(ApplyPaletteOperation(&r), 0);
    EXPECT_EQ(paletteCalls, 1);
    EXPECT_EQ(fake.blits, blits + 1) << "redrawn with the new colour";
    EXPECT_EQ(ReadBitmapPixel(d->pictureBuffer.rgb, 7, 3, 0) & 0xFFFFFF, 0x102030u);

    EXPECT_EQ(BeginDisplayDoubleBuffer(L, d, 1), ERR_DBPALETTE);
    EXPECT_FALSE(d->select.doubleBufferActive);
    ASSERT_EQ(BeginDisplayDoubleBuffer(L, d, 0), 0);
    EXPECT_TRUE(d->frontBuffer.chunky && d->backBuffer.chunky);
    EXPECT_EQ(d->backBuffer.rgb, nullptr);
    // Pen 14 (red) drawn over the whole back buffer.
    FillBytePlaneRect(d->backBuffer.chunky, 0, 0, 8, 4, 14);
    d->damageCount = d->damageCapacity;
    EXPECT_EQ(ReadBitmapPixel(d->pictureBuffer.rgb, 0, 0, 0) & 0xFFFFFF, 0x102030u) << "not before Flip";
    ASSERT_EQ(FlipDisplay(L, d, 0), 0);
    EXPECT_EQ(ReadBitmapPixel(d->frontBuffer.rgb, 0, 0, 0) & 0xFFFFFF, 0xFF0000u);
    ASSERT_EQ(EndDisplayDoubleBuffer(L, d), 0);
    EXPECT_EQ(ReadBitmapPixel(d->pictureBuffer.rgb, 7, 3, 0) & 0xFFFFFF, 0xFF0000u) << "the drawing stays";
}

// An adapter with hardware double buffering draws a hardware source itself: the transform
// record of the draw reaches its BltBitMap as the descriptor's matrix, offsets and flags
// (the opacity), with the source's alpha channel; a plain request carries no transform.
std::vector<lvAdapterBlit> blitsSeen;
std::vector<uint32_t> blitFlagsSeen;
std::vector<double> matrixSeen;
void RecordingBlit(void *, void *, const lvAdapterBlit *b, uint32_t flags, uint32_t)
{
    blitsSeen.push_back(*b);
    blitFlagsSeen.push_back(flags);
    if (b->transform) matrixSeen.assign(b->transform, b->transform + 4);
    else matrixSeen.clear();
}
int doubleBufferCalls;
int FakeDoubleBuffer(void *, uint32_t) { return ++doubleBufferCalls, 0; }

TEST_F(FakeAdapterDisplays, AHardwareDoubleBufferHandsTheTransformToTheAdapter)
{
    record.BltBitMap = (lvPluginExport)RecordingBlit;
    record.BeginDoubleBuffer = record.EndDoubleBuffer = (lvPluginExport)FakeDoubleBuffer;
    lvPluginTag tags[] = {{1, 10}, {0, 0}};
    NoteDisplayAdapter(&record, LVP_ADAPTER_HWDOUBLEBUFFER, tags);
    InstallDisplayDrawing();
    doubleBufferCalls = 0;
    lvDisplay *d = nullptr;
    ASSERT_EQ(Create(1, false, nullptr, &d), 0);
    ASSERT_EQ(RealizeDisplay(L, d, 0), 0);
    SetCurrentDisplay(d);
    ASSERT_EQ(BeginDisplayDoubleBuffer(L, d, 1), 0);
    ASSERT_TRUE(d->adapterDoubleBuffer);
    EXPECT_EQ(doubleBufferCalls, 1);
    MakeDisplayCurrentForDrawing(d);

    lvBitMapHandle *source = AllocRgbBitmap(8, 4, 0, nullptr);
    lvBitMapHandle *alpha = AllocChunkyBitmap(8, 4, 1);
    ASSERT_TRUE(source && alpha);
    const lvHardwareTransform quarterTurn = {{0, 1, -1, 0}, 0.5, 0.25, 155, 4, 8};
    struct Case {
        const char *what;
        const lvHardwareTransform *transform;
        lvBitMapHandle *alpha;
    } cases[] = {
        {"a turned, half-transparent source", &quarterTurn, nullptr},
        {"a plain source with an alpha channel", nullptr, alpha},
    };
    for (const Case &c : cases) {
        blitsSeen.clear();
        blitFlagsSeen.clear();
        lvBlitRequest r = {};
        r.sourceRgb = source;
        r.alpha = c.alpha;
        r.targetX = 10;
        r.targetY = 20;
        r.width = r.sourceWidth = 8;
        r.height = r.sourceHeight = 4;
        r.targetWidth = 640;
        r.targetHeight = 480;
        r.flags = BLIT_HARDWARE | BLIT_NOREGION | BLIT_NOSPRITES;
        r.transparent = -1;
        r.paletteMode = r.pen = r.ditherMode = -1;
        r.transform = c.transform;
        BlitImageRequest(&r);
        ASSERT_EQ(blitsSeen.size(), 1u) << c.what;
        const lvAdapterBlit &b = blitsSeen[0];
        EXPECT_EQ(b.destX, 10) << c.what;
        EXPECT_EQ(b.destY, 20) << c.what;
        EXPECT_EQ(b.width, 8) << "the source keeps its size: " << c.what;
        EXPECT_EQ(b.height, 4) << c.what;
        EXPECT_EQ(b.alpha != nullptr, c.alpha != nullptr) << c.what;
        EXPECT_EQ(blitFlagsSeen[0], c.alpha ? (uint32_t)LVP_BLIT_ALPHA : 0u) << c.what;
        if (c.transform) {
            EXPECT_EQ(matrixSeen, (std::vector<double>{0, 1, -1, 0})) << c.what;
            EXPECT_EQ(b.offsetX, 0.5) << c.what;
            EXPECT_EQ(b.offsetY, 0.25) << c.what;
            EXPECT_EQ(b.transformFlags, 155) << c.what;
        } else {
            EXPECT_EQ(b.transform, nullptr) << c.what;
            EXPECT_EQ(b.transformFlags, -1) << c.what;
        }
    }
    FreeBitmapHandle(source);
    FreeBitmapHandle(alpha);
    EXPECT_EQ(EndDisplayDoubleBuffer(L, d), 0);
    EXPECT_EQ(doubleBufferCalls, 2);
    MakeDisplayCurrentForDrawing(nullptr);
}

}  // namespace

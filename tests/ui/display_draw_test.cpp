// Drawing on displays without the runtime executable, on the in-memory windows: blits
// reach the window and stay in the display's picture, double buffering presents what
// Flip finds damaged (merged), Cls by output, and the damage merge table.
#include <gtest/gtest.h>

#include "base/lverrors.h"
#include "raster/lvblit.h"
#include "raster/lvdrawstate.h"
#include "raster/lvraster.h"
#include "formats/lvformats.h"
#include "runtime/objects.h"
#include "raster/lvplanes.h"
#include "runtime/cmdsupport.h"
#include "runtime/startup.h"
#include "ui/display.h"
#include "ui/display_draw.h"
#include "ui/display_windows.h"
#include "ui/display_attrs.h"
#include "images/lvbrush.h"
#include "images/lvoffscreen.h"
#include "images/lvdraw.h"
#include "images/lvpaint.h"
#include "images/lvshape.h"
#include "raster/lvdrawtags.h"
#include "raster/lvimgfmt.h"
#include "vm/lvvm.h"
#include "tests/ui/headless_displays.h"
#include <algorithm>
#include <cstdlib>
#include <png.h>
#include <unistd.h>
#include <vector>

namespace {

TEST(DamageMerge, NeighboursWithinOnePixelMergeOthersStay)
{
    struct Case {
        const char *what;
        std::vector<lvDamageRect> in;
        int left;
        lvDamageRect survivor;  // the first rectangle left
    };
    const Case cases[] = {
        {"overlapping", {{0, 0, 9, 9}, {5, 5, 14, 14}}, 1, {0, 0, 14, 14}},
        {"touching", {{0, 0, 9, 9}, {10, 0, 20, 9}}, 1, {0, 0, 20, 9}},
        {"one pixel apart", {{0, 0, 9, 9}, {11, 0, 20, 9}}, 1, {0, 0, 20, 9}},
        {"two pixels apart", {{0, 0, 9, 9}, {12, 0, 20, 9}}, 2, {0, 0, 9, 9}},
        {"diagonal, one pixel apart", {{0, 0, 9, 9}, {11, 11, 12, 12}}, 1, {0, 0, 12, 12}},
        {"apart on one axis only", {{0, 0, 9, 9}, {5, 20, 8, 30}}, 2, {0, 0, 9, 9}},
        // One pass: the union of 0 and 2 is taken up by 1 on its own turn.
        {"chain through a later entry", {{0, 0, 4, 4}, {20, 0, 24, 4}, {5, 0, 19, 4}}, 1, {0, 0, 24, 4}},
        {"merged entries are skipped", {{100000, 0, 0, 0}, {0, 0, 1, 1}}, 1, {0, 0, 1, 1}},
    };
    for (const Case &c : cases) {
        std::vector<lvDamageRect> r = c.in;
        EXPECT_EQ(MergeDamageRects(r.data(), (int)r.size()), c.left) << c.what;
        auto first = std::find_if(r.begin(), r.end(), [](const lvDamageRect &e) { return e.x1 != 100000; });
        ASSERT_NE(first, r.end()) << c.what;
        EXPECT_EQ(first->x1, c.survivor.x1) << c.what;
        EXPECT_EQ(first->y1, c.survivor.y1) << c.what;
        EXPECT_EQ(first->x2, c.survivor.x2) << c.what;
        EXPECT_EQ(first->y2, c.survivor.y2) << c.what;
    }
}

// The collecting list of layer changes: it grows past its first 1024 entries only when
// asked, and merges by the damage rule in width and height form.
TEST(DirtyRects, GrowOnRequestAndMergeAsDamage)
{
    lvDirtyRectList list{(lvDirtyRect *)AllocMemory(1024 * sizeof(lvDirtyRect), 0), 0, 1024};
    ASSERT_NE(list.rects, nullptr);
    for (int i = 0; i < 1024; i++) ASSERT_EQ(AddDirtyRect(&list, i * 10, 0, 2, 2, 0), 0);
    EXPECT_EQ(AddDirtyRect(&list, 0, 0, 5, 5, 0), 0);
    EXPECT_EQ(list.count, 1024) << "a full list that may not grow drops the rectangle";
    EXPECT_EQ(AddDirtyRect(&list, 7, 7, 3, 3, 1), 0);
    EXPECT_EQ(list.count, 1025);
    EXPECT_EQ(list.capacity, 2048);
    EXPECT_EQ(list.rects[1000].x, 10000) << "entries are kept across the growth";
    EXPECT_EQ(list.rects[1024].x, 7);
    AddDirtyRect(&list, 0, 0, 0, 5, 1);
    EXPECT_EQ(list.count, 1025) << "an empty rectangle is not collected";

    list.count = 0;
    AddDirtyRect(&list, 0, 0, 5, 5, 0);    // 0..4
    AddDirtyRect(&list, 20, 0, 5, 5, 0);   // 20..24
    AddDirtyRect(&list, 6, 0, 13, 5, 0);   // 6..18: one pixel from both
    AddDirtyRect(&list, 0, 40, 5, 5, 0);   // apart
    EXPECT_EQ(MergeDirtyRects(&list), 2);
    // One pass: 0 takes 2 in, then 1 takes the union of both on its own turn.
    EXPECT_EQ(list.rects[0].x, LV_DAMAGE_MERGED);
    EXPECT_EQ(list.rects[2].x, LV_DAMAGE_MERGED);
    EXPECT_EQ(list.rects[1].x, 0);
    EXPECT_EQ(list.rects[1].width, 25);
    EXPECT_EQ(list.rects[1].height, 5);
    EXPECT_EQ(list.rects[3].y, 40);
    EXPECT_EQ(list.rects[3].width, 5);
    FreeMemory(list.rects);
}

class DisplayDrawing : public HeadlessDisplays {
protected:
    lvDisplay *d = nullptr;
    void SetUp() override
    {
        HeadlessDisplays::SetUp();
        if (HasFatalFailure()) return;
        lvDisplayRequest request;
        InitDisplayRequest(&request);
        request.width = 100;
        request.height = 80;
        request.colour = 0x336699;
        ASSERT_EQ(CreateDisplayFromRequest(L, 1, 0, &request, &d), 0);
        FreeDisplayRequest(&request);
        ASSERT_EQ(RealizeDisplay(L, d, 0), 0);
        SetCurrentDisplay(d);
        presented.clear();
    }
    uint32_t WindowPixel(int x, int y)
    {
        std::vector<uint32_t> frame(100 * 80);
        EXPECT_EQ(WindowOps()->ReadWindowFrame(d->window, frame.data(), 100, 80), 0);
        return frame[y * 100 + x] & 0xFFFFFF;
    }
    // A brush-like draw of a solid rectangle onto the current output.
    void Draw(int x, int y, int width, int height, uint32_t colour)
    {
        lvBitMapHandle *source = AllocRgbBitmap(width, height, 0, nullptr);
        ASSERT_NE(source, nullptr);
        FillBitmapRect(source, 0, 0, width, height, colour);
        // As the drawing commands do: a selected output's bitmap is the explicit target.
        const lvDrawTarget &t = d->select.blit.target;
        lvBitMapHandle *target = t.kind != OUTPUT_DISPLAY ? t.bitmap : nullptr;
        BlitImage(L, source, 0, 0, target, nullptr, nullptr, 0, x, y, width, height, width, height, 100, 80,
                  BLIT_RECOMPOSE | BLIT_BACKGROUND | BLIT_HARDWARE, nullptr, nullptr, nullptr, nullptr, -1, -1, -1,
                  -1, nullptr, nullptr);
        FreeBitmapHandle(source);
    }
};

TEST_F(DisplayDrawing, ABlitReachesTheWindowAndStaysInThePicture)
{
    Draw(20, 30, 10, 10, 0xFF0000);
    EXPECT_EQ(WindowPixel(25, 35), 0xFF0000u);
    EXPECT_EQ(WindowPixel(5, 5), 0x336699u);
    ASSERT_FALSE(presented.empty());
    EXPECT_EQ(presented.back().x, 20);
    EXPECT_EQ(presented.back().width, 10);
    // A full redraw shows the drawing again: the picture buffer kept it.
    ASSERT_EQ(HideDisplayById(d), 0);
    ASSERT_EQ(ShowDisplayById(L, d), 0);
    RedrawDisplay(L, d, 0x80);
    EXPECT_EQ(WindowPixel(25, 35), 0xFF0000u);
    // Drawing across the edge is clipped, not written past the picture.
    Draw(95, 75, 10, 10, 0x00FF00);
    EXPECT_EQ(WindowPixel(99, 79), 0x00FF00u);
    // Cls on the display brings the BGPic back.
    ASSERT_EQ(ClsOutput(L, 0xFF0000), 0);
    EXPECT_EQ(WindowPixel(25, 35), 0x336699u);
    EXPECT_EQ(WindowPixel(99, 79), 0x336699u);
}

TEST_F(DisplayDrawing, DoubleBufferingRefusals)
{
    EXPECT_EQ(FlipDisplay(L, d, 1), ERR_NODOUBLEBUFFER);
    EXPECT_EQ(EndDisplayDoubleBuffer(L, d), ERR_NODOUBLEBUFFER);
    ASSERT_EQ(BeginDisplayDoubleBuffer(L, d, 0), 0);
    EXPECT_EQ(BeginDisplayDoubleBuffer(L, d, 0), ERR_ENDDOUBLEBUFFER);
    EXPECT_EQ(CheckRefreshOutput(d), ERR_ENDDOUBLEBUFFER);
    ASSERT_EQ(EndDisplayDoubleBuffer(L, d), 0);
    d->select.layersOn = 1;
    EXPECT_EQ(BeginDisplayDoubleBuffer(L, d, 0), ERR_LAYERSOFF);
    d->select.layersOn = 0;
    d->refreshMode = 1;
    EXPECT_EQ(BeginDisplayDoubleBuffer(L, d, 0), ERR_BEGINREFRESH);
    d->refreshMode = 0;
    // Hardware asked without an adapter that offers it: the software buffers serve.
    ASSERT_EQ(BeginDisplayDoubleBuffer(L, d, 1), 0);
    EXPECT_EQ(d->adapterDoubleBuffer, 0);
    EXPECT_NE(d->backBuffer.rgb, nullptr);
}

TEST_F(DisplayDrawing, FlipPresentsWhatWasDrawnMergedAndOnlyThen)
{
    ASSERT_EQ(BeginDisplayDoubleBuffer(L, d, 0), 0);
    EXPECT_EQ(GetCurrentOutput(), d->select.backBufferRecord);
    // Two rectangles one pixel apart, and a third far away.
    Draw(10, 10, 5, 5, 0xFF0000);
    Draw(16, 10, 5, 5, 0x00FF00);
    Draw(60, 60, 4, 4, 0x0000FF);
    EXPECT_TRUE(presented.empty());
    EXPECT_EQ(WindowPixel(12, 12), 0x336699u);  // nothing shows before Flip
    ASSERT_EQ(FlipDisplay(L, d, 0), 0);
    ASSERT_EQ(presented.size(), 2u);
    EXPECT_EQ(presented[0].x, 10);
    EXPECT_EQ(presented[0].width, 11);
    EXPECT_EQ(presented[1].x, 60);
    EXPECT_EQ(WindowPixel(12, 12), 0xFF0000u);
    EXPECT_EQ(WindowPixel(18, 12), 0x00FF00u);
    EXPECT_EQ(WindowPixel(61, 61), 0x0000FFu);
    // Nothing damaged: a Flip presents nothing.
    presented.clear();
    ASSERT_EQ(FlipDisplay(L, d, 0), 0);
    EXPECT_TRUE(presented.empty());
    // Cls fills the back buffer; the next Flip presents the whole red picture once.
    ASSERT_EQ(ClsOutput(L, 0xABFF0000), 0);
    EXPECT_TRUE(presented.empty());
    ASSERT_EQ(FlipDisplay(L, d, 0), 0);
    ASSERT_EQ(presented.size(), 1u);
    EXPECT_EQ(presented[0].width, 100);
    EXPECT_EQ(presented[0].height, 80);
    EXPECT_EQ(WindowPixel(50, 40), 0xFF0000u);
    // Ending keeps what was drawn as the display's picture and the display as output.
    ASSERT_EQ(EndDisplayDoubleBuffer(L, d), 0);
    EXPECT_EQ(d->frontBuffer.rgb, nullptr);
    EXPECT_EQ(GetCurrentOutput(), d->bgpic);
    EXPECT_EQ(ReadBitmapPixel(d->pictureBuffer.rgb, 50, 40, 0) & 0xFFFFFF, 0xFF0000u);
    Draw(0, 0, 2, 2, 0x00FF00);
    EXPECT_EQ(WindowPixel(1, 1), 0x00FF00u);
}

TEST_F(DisplayDrawing, EndingASelectionWhileDoubleBufferingDrawsIntoTheBackBufferAgain)
{
    ASSERT_EQ(BeginDisplayDoubleBuffer(L, d, 0), 0);
    lvBitMapHandle *pixels = AllocRgbBitmap(8, 8, 0, nullptr);
    ASSERT_NE(pixels, nullptr);
    lvObjectId brush = {5, nullptr};
    lvBrush *made = nullptr;
    ASSERT_EQ(NewBrushRecord(&brush, 0, 8, 8, 8, 0, nullptr, pixels, -1, nullptr, nullptr, nullptr, 32, nullptr,
                             nullptr, nullptr, 0, nullptr, &made),
              0);
    ASSERT_EQ(RedirectOutput(L, SELECT_BRUSH, brush, OUTPUT_IMAGE, 0, 0, 0), 0);
    EXPECT_EQ(d->select.blit.target.bitmap, pixels);
    ASSERT_EQ(EndRedirect(L, GetSelectDisplay(), 0), 0);
    EXPECT_EQ(d->select.blit.target.kind, OUTPUT_IMAGE);
    EXPECT_EQ(d->select.blit.target.bitmap, d->backBuffer.rgb);
    EXPECT_EQ(GetCurrentOutput(), d->select.backBufferRecord);
    Draw(1, 1, 2, 2, 0xFF0000);
    EXPECT_EQ(WindowPixel(1, 1), 0x336699u);  // not on the window before Flip
    ASSERT_EQ(FlipDisplay(L, d, 0), 0);
    EXPECT_EQ(WindowPixel(1, 1), 0xFF0000u);
    ASSERT_EQ(EndDisplayDoubleBuffer(L, d), 0);
    FreeAllBrushes(L);
}

// The shape engine's fills into the display, seen through a hook wrapped around the
// display's own: each rectangle the display was asked to fill.
std::vector<lvPresented> directFills;
void (*displayFill)(void *, int, int, int, int, uint32_t, int);
void CountingShapeOutput(lvShapeOutput *out, lvBlitDisplay *display)
{
    CompleteDisplayShapeOutput(out, display);
    if (!out->FillDisplayRect) return;
    displayFill = out->FillDisplayRect;
    out->FillDisplayRect = [](void *c, int x, int y, int w, int h, uint32_t colour, int style) {
        directFills.push_back({x, y, w, h});
        displayFill(c, x, y, w, h, colour, style);
    };
}

int DrawBox(lvState *L, int x, int y, int width, int height, uint32_t colour, int fillStyle)
{
    lvDrawStyle style = *GetDrawStyle();
    style.fillStyle = fillStyle;
    style.formStyle = 0;
    return DrawBoxShape(L, &style, x, y, width, height, colour, nullptr, PALETTEMODE_REMAP, nullptr, nullptr, 0);
}

TEST_F(DisplayDrawing, APlainBoxIsFilledStraightIntoThePictureAndTheWindow)
{
    SetShapeOutputHook(CountingShapeOutput);
    directFills.clear();
    ASSERT_EQ(DrawBox(L, 10, 20, 6, 4, 0xFF0000, FILLCOLOR), 0);
    ASSERT_EQ(directFills.size(), 1u);
    EXPECT_EQ(directFills[0].x, 10);
    EXPECT_EQ(directFills[0].y, 20);
    EXPECT_EQ(directFills[0].width, 6);
    EXPECT_EQ(directFills[0].height, 4);
    EXPECT_EQ(WindowPixel(10, 20), 0xFF0000u);
    EXPECT_EQ(WindowPixel(15, 23), 0xFF0000u);
    EXPECT_EQ(WindowPixel(16, 23), 0x336699u);
    EXPECT_EQ(ReadBitmapPixel(d->pictureBuffer.rgb, 12, 21, 0) & 0xFFFFFF, 0xFF0000u);  // kept for redraws
    ASSERT_FALSE(presented.empty());
    EXPECT_EQ(presented.back().x, 10);
    EXPECT_EQ(presented.back().width, 6);
    // An outline cut by the right edge: the edges left inside, not a new right edge.
    directFills.clear();
    ASSERT_EQ(DrawBox(L, 95, 5, 10, 6, 0x00FF00, FILLNONE), 0);
    EXPECT_EQ(directFills.size(), 3u);
    EXPECT_EQ(WindowPixel(95, 7), 0x00FF00u);
    EXPECT_EQ(WindowPixel(99, 5), 0x00FF00u);
    EXPECT_EQ(WindowPixel(99, 10), 0x00FF00u);
    EXPECT_EQ(WindowPixel(99, 7), 0x336699u);
    EXPECT_EQ(WindowPixel(97, 7), 0x336699u);
    // A gradient is computed into the picture and shown.
    lvDrawStyle *style = GetDrawStyle();
    lvDrawStyle saved = *style;
    directFills.clear();
    ASSERT_EQ(DrawBox(L, 40, 40, 8, 8, 0xFFFFFF, FILLGRADIENT), 0);
    *style = saved;
    EXPECT_EQ(directFills.size(), 1u);
    EXPECT_EQ(WindowPixel(44, 44), ReadBitmapPixel(d->pictureBuffer.rgb, 44, 44, 0) & 0xFFFFFF);
    // Layers on: the image path, never the direct fill.
    directFills.clear();
    d->select.layersOn = 1;
    lvShapeOutput out{};
    out.kind = OUTPUT_DISPLAY;
    out.width = 100, out.height = 80;
    out.layersOn = 1;
    CompleteDisplayShapeOutput(&out, &d->select.blit);
    d->select.layersOn = 0;
    lvShapeJob job{};
    job.type = SHAPE_BOX;
    job.fillStyle = FILLCOLOR;
    job.width = job.height = 4;
    EXPECT_FALSE(CanFillShapeBoxDirectly(&job, &out));
    out.layersOn = 0;
    EXPECT_TRUE(CanFillShapeBoxDirectly(&job, &out));
    SetShapeOutputHook(CompleteDisplayShapeOutput);
}

TEST_F(DisplayDrawing, ABoxInTheBackBufferIsDamageShownAtFlip)
{
    ASSERT_EQ(BeginDisplayDoubleBuffer(L, d, 0), 0);
    ASSERT_EQ(d->damageCount, 0);
    ASSERT_EQ(DrawBox(L, 30, 10, 5, 7, 0x0000FF, FILLCOLOR), 0);
    EXPECT_TRUE(presented.empty());
    EXPECT_EQ(WindowPixel(31, 11), 0x336699u);
    ASSERT_EQ(d->damageCount, 1);
    const lvDamageRect &r = ((lvDamageRect *)d->damage)[0];
    EXPECT_EQ(r.x1, 30);
    EXPECT_EQ(r.y1, 10);
    EXPECT_EQ(r.x2, 34);
    EXPECT_EQ(r.y2, 16);
    ASSERT_EQ(FlipDisplay(L, d, 0), 0);
    ASSERT_EQ(presented.size(), 1u);
    EXPECT_EQ(presented[0].width, 5);
    EXPECT_EQ(presented[0].height, 7);
    EXPECT_EQ(WindowPixel(34, 16), 0x0000FFu);
    // Partly off the picture: only what was drawn is damaged.
    ASSERT_EQ(DrawBox(L, -3, 78, 6, 6, 0x00FF00, FILLCOLOR), 0);
    ASSERT_EQ(d->damageCount, 1);
    EXPECT_EQ(((lvDamageRect *)d->damage)[0].x1, 0);
    EXPECT_EQ(((lvDamageRect *)d->damage)[0].y2, 79);
    EXPECT_EQ(((lvDamageRect *)d->damage)[0].x2, 2);
    ASSERT_EQ(EndDisplayDoubleBuffer(L, d), 0);
}

TEST_F(DisplayDrawing, TheDamageListFillsUpToEverything)
{
    ASSERT_EQ(BeginDisplayDoubleBuffer(L, d, 0), 0);
    for (int i = 0; i < LV_DAMAGE_CAPACITY - 1; i++) AddDisplayDamage(d, i % 90, i % 70, 1, 1);
    EXPECT_FALSE(DamageMeansEverything(d));
    AddDisplayDamage(d, 1, 1, 1, 1);
    EXPECT_TRUE(DamageMeansEverything(d));
    AddDisplayDamage(d, 2, 2, 1, 1);  // ignored, nothing written past the list
    EXPECT_EQ(d->damageCount, LV_DAMAGE_CAPACITY);
    ASSERT_EQ(FlipDisplay(L, d, 0), 0);
    EXPECT_EQ(presented.size(), 1u);
    EXPECT_EQ(d->damageCount, 0);
    // A rectangle covering the picture is everything at once.
    AddDisplayDamage(d, -5, 0, 200, 80);
    EXPECT_TRUE(DamageMeansEverything(d));
}

TEST_F(DisplayDrawing, ASnapshotOfTheDisplayIsItsPicture)
{
    Draw(20, 30, 10, 10, 0xFF0000);
    char dir[] = "/tmp/lv_snapshot_XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    std::string path = std::string(dir) + "/shot.png";
    lvSnapshotSave save = {path.c_str(), IMGFMT_PNG, 90, 0, nullptr, nullptr};
    ASSERT_EQ(SaveDisplaySnapshot(d, SNAP_DISPLAY, &save), 0);
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    ASSERT_TRUE(png_image_begin_read_from_file(&image, path.c_str()));
    image.format = PNG_FORMAT_BGRA;  // little-endian ARGB words
    std::vector<uint32_t> pixels(PNG_IMAGE_SIZE(image) / 4);
    ASSERT_TRUE(png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr));
    ASSERT_EQ(image.width, 100u);
    ASSERT_EQ(image.height, 80u);
    int wrong = 0;
    for (int y = 0; y < 80; y++)
        for (int x = 0; x < 100; x++)
            wrong += (pixels[y * 100 + x] & 0xFFFFFF) != (ReadBitmapPixel(d->pictureBuffer.rgb, x, y, 0) & 0xFFFFFF);
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(pixels[35 * 100 + 25] & 0xFFFFFF, 0xFF0000u);
    // While double buffering the snapshot is the front buffer, not the unflipped drawing.
    ASSERT_EQ(BeginDisplayDoubleBuffer(L, d, 0), 0);
    Draw(0, 0, 100, 80, 0x00FF00);
    ASSERT_EQ(SaveDisplaySnapshot(d, SNAP_DISPLAY, &save), 0);
    png_image again{};
    again.version = PNG_IMAGE_VERSION;
    ASSERT_TRUE(png_image_begin_read_from_file(&again, path.c_str()));
    again.format = PNG_FORMAT_BGRA;
    ASSERT_TRUE(png_image_finish_read(&again, nullptr, pixels.data(), 0, nullptr));
    EXPECT_EQ(pixels[0] & 0xFFFFFF, 0u);
    unlink(path.c_str());
    rmdir(dir);
    // Kinds: unknown is wrong usage; no screen to read here; a closed display has no window.
    EXPECT_EQ(SaveDisplaySnapshot(d, 5, &save), ERR_WRONGUSAGE);
    EXPECT_EQ(SaveDisplaySnapshot(d, SNAP_DESKTOP, &save), ERR_GRABSCREEN);
    ASSERT_EQ(EndDisplayDoubleBuffer(L, d), 0);
    ASSERT_EQ(CloseDisplayCore(L, d, 0), 0);
    EXPECT_EQ(SaveDisplaySnapshot(d, SNAP_WINDOW, &save), ERR_CLOSEDDISPLAY);
}

TEST_F(DisplayDrawing, AttributesAnswerFromTheDisplay)
{
    struct Case {
        int attribute, err;
        double value;
    };
    const Case cases[] = {
        {0, 0, 100},   {1, 0, 80},    {28, 0, 1920}, {29, 0, 1080}, {40, 0, DISPSTATE_OPEN}, {42, 0, 1},
        {43, 0, 0},    {44, 0, 100},  {46, 0, 0},    {67, 0, 100},  {86, 0, 1},  {89, 0, 1},
        {76, ERR_UNKNOWNATTR, 0}, {90, ERR_UNKNOWNATTR, 0}, {30, ERR_UNIMPLCMD, 0}, {128, ERR_UNIMPLCMD, 0},
    };
    lvObjectId one = {1, nullptr};
    for (const Case &c : cases) {
        int top = GetStackTop(L);
        int n = GetDisplayAttribute(L, c.attribute, one);
        if (c.err) {
            EXPECT_EQ(n, c.err) << c.attribute;
        } else {
            ASSERT_EQ(n, 1) << c.attribute;
            EXPECT_EQ(ValueToNumber(L, -1), c.value) << c.attribute;
        }
        SetStackTop(L, top);
    }
    int top = GetStackTop(L);
    ASSERT_EQ(GetDisplayAttribute(L, 87, one), 1);
    EXPECT_STREQ(ValueToString(L, -1), "inbuilt");
    SetStackTop(L, top);
    // The output device: the display, then the double buffer.
    ASSERT_EQ(GetDisplayAttribute(L, 54, one), 3);
    EXPECT_EQ(ValueToNumber(L, -3), 21);
    EXPECT_EQ(ValueToNumber(L, -2), 1);
    SetStackTop(L, top);
    ASSERT_EQ(BeginDisplayDoubleBuffer(L, d, 0), 0);
    ASSERT_EQ(GetDisplayAttribute(L, 54, one), 3);
    EXPECT_EQ(ValueToNumber(L, -3), 38);
    EXPECT_EQ(ValueToNumber(L, -2), 0);
    EXPECT_EQ(ValueToNumber(L, -1), 0);
    SetStackTop(L, top);
    EXPECT_EQ(GetDisplayAttribute(L, 0, lvObjectId{7, nullptr}), ERR_FINDDISPLAY);
}

// A stand-in for the text library's font type: it sees which attribute and which font
// (the identifier 0: the current one) the display forwards.
int fontAttributeSeen = -1;
lvObjectId fontIdSeen = {-1, nullptr};
int FakeFontAttribute(lvState *L, int attribute, lvObjectId id)
{
    fontAttributeSeen = attribute;
    fontIdSeen = id;
    if (attribute == 999) return ERR_UNKNOWNATTR;
    PushString(L, "topaz");
    return 1;
}

TEST_F(DisplayDrawing, FontPaletteAndPenAttributesComeFromTheirOwners)
{
    lvObjectId one = {1, nullptr};
    int top = GetStackTop(L);
    // The font attributes are the current font's, answered by the font type's callback.
    static lvObjectHeader *noFonts = nullptr;
    ASSERT_EQ(RegisterObjectType(43, "Fonts", &noFonts, FakeFontAttribute, nullptr, 0), 0);
    for (int attribute : {30, 32, 35, 113, 118, 124, 125, 128}) {
        fontAttributeSeen = -1;
        fontIdSeen = {-1, nullptr};
        ASSERT_EQ(GetDisplayAttribute(L, attribute, one), 1) << attribute;
        EXPECT_STREQ(ValueToString(L, -1), "topaz");
        EXPECT_EQ(fontAttributeSeen, attribute);
        EXPECT_EQ(fontIdSeen.number, 0);
        EXPECT_EQ(fontIdSeen.handle, nullptr);
        SetStackTop(L, top);
    }
    FreeObjectTypes();
    // A true-colour display has an empty palette and no cycle table.
    for (int attribute : {104, 106}) {
        ASSERT_EQ(GetDisplayAttribute(L, attribute, one), 1) << attribute;
        EXPECT_EQ(GetValueType(L, -1), LV_TTABLE);
        GetTableItemRaw(L, -1, 0);
        EXPECT_EQ(GetValueType(L, -1), LV_TNIL) << attribute;
        SetStackTop(L, top);
    }
    // The pens are the global drawing settings, each its own.
    const lvDrawStyle savedDraw = DrawingState.drawStyle;
    const lvFontStyle savedFont = DrawingState.fontStyle;
    DrawingState.drawStyle.shadowPen = 5;
    DrawingState.drawStyle.borderPen = 6;
    DrawingState.fontStyle.bulletPen = 7;
    RasterState.drawPen = 8;
    const std::pair<int, int> pens[] = {{111, 5}, {112, 6}, {119, 7}, {107, 8}};
    for (auto [attribute, pen] : pens) {
        ASSERT_EQ(GetDisplayAttribute(L, attribute, one), 1) << attribute;
        EXPECT_EQ(ValueToNumber(L, -1), pen) << attribute;
        SetStackTop(L, top);
    }
    DrawingState.drawStyle = savedDraw;
    DrawingState.fontStyle = savedFont;
    RasterState.drawPen = 0;
    // The title bar: never negative, 0 for the frameless headless windows.
    ASSERT_EQ(GetDisplayAttribute(L, 93, one), 1);
    EXPECT_GE(ValueToNumber(L, -1), 0);
    SetStackTop(L, top);
}

// A palette BGPic shows its pens and cycle ranges through the display.
TEST_F(DisplayDrawing, APaletteDisplayShowsItsPensAndCycleRanges)
{
    ASSERT_NE(d->bgpic, nullptr);
    uint32_t *savedPalette = d->bgpic->palette;
    int savedDepth = d->bgpic->depth;
    void *savedCycle = d->bgpic->cycleTable;
    int savedCount = d->bgpic->cycleCount;
    uint32_t pens[256] = {0xFF000000u, 0xFFFF0000u, 0x00FF00u, 0x0000FFu};
    lvCycleRange ranges[1] = {};
    ranges[0].flags = 3;
    ranges[0].rate = 16384;
    ranges[0].low = 1;
    ranges[0].high = 3;
    d->bgpic->palette = pens;
    d->bgpic->depth = 2;
    d->bgpic->cycleTable = ranges;
    d->bgpic->cycleCount = 1;
    lvObjectId one = {1, nullptr};
    int top = GetStackTop(L);
    ASSERT_EQ(GetDisplayAttribute(L, 104, one), 1);
    const uint32_t expected[] = {0, 0xFF0000, 0x00FF00, 0x0000FF};
    for (int i = 0; i < 5; i++) {
        GetTableItemRaw(L, top + 1, i);
        if (i < 4)
            EXPECT_EQ(ValueToNumber(L, -1), expected[i]) << i;
        else
            EXPECT_EQ(GetValueType(L, -1), LV_TNIL);  // 2^depth pens only
        SetStackTop(L, top + 1);
    }
    SetStackTop(L, top);
    ASSERT_EQ(GetDisplayAttribute(L, 106, one), 1);
    GetTableItemRaw(L, top + 1, 0);
    int range = GetStackTop(L);
    int value = 0;
    const std::pair<const char *, int> fields[] = {{"active", 1}, {"reverse", 1}, {"rate", 16384}, {"low", 1}, {"high", 3}};
    for (auto [name, want] : fields) {
        ASSERT_TRUE(GetFieldInt(L, range, name, &value)) << name;
        EXPECT_EQ(value, want) << name;
    }
    SetStackTop(L, top);
    d->bgpic->palette = savedPalette;
    d->bgpic->depth = savedDepth;
    d->bgpic->cycleTable = savedCycle;
    d->bgpic->cycleCount = savedCount;
}

TEST(Taskbar, TheStripBetweenTheMonitorAndItsUsableArea)
{
    const lvMonitorRect b = {1920, 0, 1280, 1024};
    struct Case {
        const char *where;
        lvMonitorRect usable, want;
    };
    const Case cases[] = {
        {"bottom", {1920, 0, 1280, 984}, {1920, 984, 1280, 40}},
        {"top", {1920, 30, 1280, 994}, {1920, 0, 1280, 30}},
        {"left", {1968, 0, 1232, 1024}, {1920, 0, 48, 1024}},
        {"right", {1920, 0, 1232, 1024}, {3152, 0, 48, 1024}},
        {"none", {1920, 0, 1280, 1024}, {0, 0, 0, 0}},
        {"nothing usable", {0, 0, 0, 0}, {0, 0, 0, 0}},
    };
    for (const Case &c : cases) {
        lvMonitorRect got = ComputeTaskbarRect(b, c.usable);
        EXPECT_EQ(got.x, c.want.x) << c.where;
        EXPECT_EQ(got.y, c.want.y) << c.where;
        EXPECT_EQ(got.width, c.want.width) << c.where;
        EXPECT_EQ(got.height, c.want.height) << c.where;
    }
}

TEST(DesktopGrab, TheRectangleEndsWhereItsMonitorEnds)
{
    const lvMonitorRect second = {1920, 0, 1280, 1024};
    const int N = LV_NOPOSITION;
    struct Case {
        int x, y, width, height;
        int err, wantX, wantWidth, wantHeight;
    };
    const Case cases[] = {
        {N, N, N, N, 0, 1920, 1280, 1024},        // the whole monitor
        {2000, N, N, 100, 0, 2000, 1200, 100},    // cut at the monitor's right edge, not at its width
        {2000, 10, 5000, 5000, 0, 2000, 1200, 1014},
        {-1, N, N, N, ERR_WRONGUSAGE, 0, 0, 0},
        {N, -1, N, N, ERR_WRONGUSAGE, 0, 0, 0},
        {3200, N, N, N, ERR_WRONGUSAGE, 0, 0, 0},  // nothing left
    };
    for (const Case &c : cases) {
        int x = c.x, y = c.y, w = c.width, h = c.height;
        EXPECT_EQ(ClipDesktopGrab(second, &x, &y, &w, &h), c.err) << c.x << "," << c.width;
        if (c.err) continue;
        EXPECT_EQ(x, c.wantX);
        EXPECT_EQ(w, c.wantWidth);
        EXPECT_EQ(h, c.wantHeight);
    }
}

// An adapter that draws lines in its own bitmaps gets one-pixel lines into them; one
// without that word leaves them to the pixels.
struct LineCall {
    void *target;
    int x1, y1, x2, y2;
    uint32_t colour;
    int flags;
};
std::vector<LineCall> lineCalls;
void FakeLine(void *target, int x1, int y1, int x2, int y2, uint32_t colour, int flags)
{
    lineCalls.push_back({target, x1, y1, x2, y2, colour, flags});
}

TEST(AdapterLines, ALineIntoAnAdapterBitmapReachesTheAdaptersLine)
{
    lvBitMapHandle *b = AllocRgbBitmap(8, 8, 0, nullptr);
    ASSERT_NE(b, nullptr);
    FillBitmapRect(b, 0, 0, 8, 8, 0);
    b->video = 1;  // drawn by the adapter
    lvPluginRecord record{};
    record.capabilities = PLUGINCAPS_DISPLAYADAPTER;
    record.Line = (lvPluginExport)FakeLine;
    struct Case {
        const char *what;
        uintptr_t offscreen;
        bool reachesAdapter;
    };
    const Case cases[] = {{"draws lines", ACCEL_LINE, true},
                          {"writes pixels only", ACCEL_PIXEL, false},
                          {"no offscreen word", 0, false}};
    for (const Case &c : cases) {
        lineCalls.clear();
        FillBitmapRect(b, 0, 0, 8, 8, 0);
        lvPluginTag tags[] = {{1, 10}, {2, c.offscreen}, {0, 0}};
        NoteDisplayAdapter(&record, 0, tags);
        PlotLineOnBitmap(b, 1, 2, 6, 2, 0x00FF00);
        ForgetDisplayAdapter();
        if (c.reachesAdapter) {
            ASSERT_EQ(lineCalls.size(), 1u) << c.what;
            EXPECT_EQ(lineCalls[0].target, b->backing) << c.what;
            EXPECT_EQ(lineCalls[0].x1, 1) << c.what;
            EXPECT_EQ(lineCalls[0].y1, 2) << c.what;
            EXPECT_EQ(lineCalls[0].x2, 6) << c.what;
            EXPECT_EQ(lineCalls[0].flags, 2) << c.what;
            EXPECT_EQ(lineCalls[0].colour & 0xFFFFFF, 0x00FF00u) << c.what;
            EXPECT_EQ(ReadBitmapPixel(b, 3, 2, 0) & 0xFFFFFF, 0u) << c.what;  // not drawn twice
        } else {
            EXPECT_TRUE(lineCalls.empty()) << c.what;
            EXPECT_EQ(ReadBitmapPixel(b, 3, 2, 0) & 0xFFFFFF, 0x00FF00u) << c.what;
        }
    }
    // Once the adapter is gone, nothing reaches it.
    lineCalls.clear();
    PlotLineOnBitmap(b, 0, 0, 7, 7, 0xFFFFFF);
    EXPECT_TRUE(lineCalls.empty());
    b->video = 0;
    FreeBitmapHandle(b);
}

}  // namespace

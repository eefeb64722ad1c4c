// Clipboard pictures in C++: brushes through a clipboard adapter, and the X server's
// CLIPBOARD under an Xvfb of the test's own, checked against xclip, another program:
// pictures both ways pixel for pixel, and one change notice per change of owner.
#include "tests/ui/xvfb_server.h"
#include "base/lverrors.h"
#include "images/lvbrush.h"
#include "platform/lvplatform.h"
#include "platform/lvplatform_clipboard.h"
#include "raster/lvbitmap.h"
#include "raster/lvimage.h"
#include "runtime/lvplugin.h"
#include "runtime/plugin.h"
#include "ui/lib_clipboard.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <iterator>
#include <poll.h>
#include <signal.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// A brush of pens 0..3 in a row with pen transparent (palette 0x000000, red, green, blue).
lvBrush *PaletteBrush(int transparentPen)
{
    lvBitMapHandle *pens = AllocChunkyBitmap(4, 2, 1);
    uint8_t *pixels;
    int rowBytes;
    uintptr_t token = GetPlanePixels(pens, &pixels, &rowBytes, 1);
    for (int y = 0; y < 2; y++)
        for (int x = 0; x < 4; x++) pixels[y * rowBytes + x] = (uint8_t)((x + y) & 3);
    ReleasePlanePixels(token);
    uint32_t *palette = (uint32_t *)AllocMemory(256 * 4, 1);
    palette[1] = 0xFF0000, palette[2] = 0x00FF00, palette[3] = 0x0000FF;
    lvObjectId id = {0, nullptr};
    lvBrush *b = nullptr;
    EXPECT_EQ(NewBrushRecord(&id, 0, 4, 2, 4, 0, nullptr, nullptr, transparentPen, nullptr, nullptr, pens, 8, palette,
                             nullptr, nullptr, 0, nullptr, &b),
              0);
    return b;
}

// The in-memory clipboard adapter: keeps a copy of what it is given.
struct MemoryAdapter {
    int32_t type = 0;
    std::vector<uint32_t> pixels;
    intptr_t width = 0, height = 0;
} memoryAdapter;

int AdapterSet(const lvClipboardData *record, uintptr_t)
{
    memoryAdapter.type = record->type;
    if (record->type != LV_CLIP_IMAGE) return ERR_WRONGUSAGE;
    const lvClipboardImage *image = (const lvClipboardImage *)record->data;
    memoryAdapter.pixels.assign(image->pixels, image->pixels + image->width * image->height);
    memoryAdapter.width = image->width, memoryAdapter.height = image->height;
    return 0;
}

int AdapterGet(lvClipboardData *record, uintptr_t)
{
    record->type = memoryAdapter.type;
    if (memoryAdapter.type != LV_CLIP_IMAGE) return 0;
    // What an adapter answers is the runtime's to free.
    lvClipboardImage *image = (lvClipboardImage *)AllocMemory(sizeof(lvClipboardImage), 1);
    image->pixels = (uint32_t *)AllocMemory(memoryAdapter.pixels.size() * 4, 0);
    memcpy(image->pixels, memoryAdapter.pixels.data(), memoryAdapter.pixels.size() * 4);
    image->width = memoryAdapter.width, image->height = memoryAdapter.height;
    record->data = image;
    return 0;
}

}  // namespace

TEST(ClipboardAdapter, PaletteBrushWithATransparentPenComesBackMasked)
{
    lvPluginRecord adapter = {};
    adapter.capabilities = PLUGINCAPS_CLIPBOARDADAPTER;
    adapter.SetClipboard = (lvPluginExport)AdapterSet;
    adapter.GetClipboard = (lvPluginExport)AdapterGet;
    ASSERT_EQ(InstallClipboardAdapter(&adapter, 0), 0);

    lvBrush *source = PaletteBrush(2);
    uint32_t *argb = nullptr;
    ASSERT_EQ(ClipboardArgbFromBrush(source, &argb), 0);
    ASSERT_EQ(PutClipboardImageRouted(argb, source->width, source->height), 0);
    FreeMemory(argb);
    EXPECT_EQ(memoryAdapter.width, 4);
    // The transparent pen reaches the adapter with alpha 0, the others opaque.
    EXPECT_EQ(memoryAdapter.pixels[0], 0xFF000000u);
    EXPECT_EQ(memoryAdapter.pixels[1], 0xFFFF0000u);
    EXPECT_EQ(memoryAdapter.pixels[2] >> 24, 0u);

    int type = 0, width = 0, height = 0;
    char *text = nullptr;
    ASSERT_EQ(FetchClipboardRouted(&type, &text, &argb, &width, &height), 0);
    ASSERT_EQ(type, LV_CLIP_IMAGE);
    lvObjectId id = {0, nullptr};
    ASSERT_EQ(NewBrushFromClipboardArgb(argb, width, height, &id), 0);
    FreeMemory(argb);
    lvBrush *back = (lvBrush *)id.handle;
    ASSERT_NE(back, nullptr);
    EXPECT_NE(back->bitmap, nullptr);
    EXPECT_EQ(back->penBitmap, nullptr);
    ASSERT_NE(back->mask, nullptr);
    EXPECT_EQ(back->alpha, nullptr);
    // Pens (x + y) & 3 with pen 2 transparent: masked at (2,0) and (1,1) only.
    for (int y = 0; y < 2; y++)
        for (int x = 0; x < 4; x++) {
            int64_t colour = 0;
            int transparency = 0;
            ASSERT_EQ(ReadBrushPixelValue(back, x, y, &colour, &transparency), 0);
            int pen = (x + y) & 3;
            const uint32_t palette[4] = {0, 0xFF0000, 0x00FF00, 0x0000FF};
            // A mask reads 1 where the pixel shows.
            EXPECT_EQ(transparency, pen == 2 ? 0 : 1) << x << "," << y;
            if (pen != 2) {
                EXPECT_EQ((uint32_t)colour, palette[pen]) << x << "," << y;
            }
        }

    // An image record out of range is refused, and its memory freed.
    memoryAdapter.width = -1;
    EXPECT_EQ(FetchClipboardRouted(&type, &text, &argb, &width, &height), ERR_WRONGUSAGE);
    FreeAllBrushes(nullptr);
}

TEST(ClipboardImages, AlphaDecidesBetweenMaskAlphaChannelAndNeither)
{
    struct Case {
        uint32_t second;
        bool mask, alpha;
    } cases[] = {
        {0xFF123456u, false, false},  // opaque
        {0x00123456u, true, false},   // on or off
        {0x80123456u, false, true},   // a level between
    };
    for (const Case &c : cases) {
        uint32_t words[2] = {0xFFABCDEFu, c.second};
        // Through PNG data, as the desktop carries it.
        void *png = nullptr;
        size_t size = 0;
        ASSERT_EQ(EncodeArgbPng(words, 2, 1, &png, &size), 0);
        uint32_t *back = nullptr;
        int width = 0, height = 0;
        ASSERT_EQ(DecodePngArgb(png, size, &back, &width, &height), 0);
        FreeMemory(png);
        ASSERT_EQ(width, 2);
        EXPECT_EQ(back[0], words[0]);
        EXPECT_EQ(back[1], words[1]);
        lvObjectId id = {0, nullptr};
        ASSERT_EQ(NewBrushFromClipboardArgb(back, width, height, &id), 0);
        FreeMemory(back);
        lvBrush *b = (lvBrush *)id.handle;
        EXPECT_EQ(b->mask != nullptr, c.mask) << std::hex << c.second;
        EXPECT_EQ(b->alpha != nullptr, c.alpha) << std::hex << c.second;
    }
    FreeAllBrushes(nullptr);
    // Bytes that are no PNG picture are a read error, not a crash.
    const char junk[] = "\x89PNG\r\n\x1a\nnot really";
    uint32_t *back = nullptr;
    int width, height;
    EXPECT_EQ(DecodePngArgb(junk, sizeof junk, &back, &width, &height), ERR_CLIPREAD);
    EXPECT_EQ(back, nullptr);
}

// ---- The X server's clipboard ------------------------------------------------------------------

namespace {


std::atomic<int> changes{0};
void CountChange(void) { changes++; }

bool WaitFor(const std::function<bool()> &condition, int seconds = 10)
{
    auto end = Clock::now() + std::chrono::seconds(seconds);
    while (!condition()) {
        if (Clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

std::string ReadFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class DesktopClipboard : public ::testing::Test {
protected:
    static pid_t xvfb;
    static std::string directory;
    static void SetUpTestSuite()
    {
        std::string display;
        xvfb = StartXvfb(&display, "320x240x24");
        if (xvfb > 0) setenv("DISPLAY", display.c_str(), 1);
        char dir[] = "/tmp/lv_clipboard_XXXXXX";
        directory = mkdtemp(dir) ? dir : "/tmp";
    }
    static void TearDownTestSuite()
    {
        ReleaseDesktopClipboard();
        if (xvfb > 0) {
            kill(xvfb, SIGTERM);
            waitpid(xvfb, nullptr, 0);
        }
        std::system(("rm -rf '" + directory + "'").c_str());
    }
    void SetUp() override
    {
        if (xvfb <= 0) GTEST_SKIP() << "Xvfb did not start";
        if (std::system("command -v xclip >/dev/null") != 0) GTEST_SKIP() << "xclip missing";
    }
    // xclip stays behind as the owner until another takes the clipboard: its output goes
    // nowhere, so that it never holds the test's own.
    int Xclip(const std::string &arguments)
    {
        return std::system(("xclip -selection clipboard " + arguments + " 2>/dev/null").c_str());
    }
};
pid_t DesktopClipboard::xvfb = -1;
std::string DesktopClipboard::directory;

}  // namespace

TEST_F(DesktopClipboard, PicturesBothWaysPixelForPixel)
{
    ASSERT_EQ(DesktopSelectionAvailable(), 1);
    // Opaque, transparent, half-transparent and odd colours: no premultiplying on the way.
    const uint32_t ours[6] = {0xFF102030u, 0x00000000u, 0x80FF8040u, 0xFFFFFFFFu, 0x01020304u, 0xFE7F8081u};
    void *png = nullptr;
    size_t size = 0;
    ASSERT_EQ(EncodeArgbPng(ours, 3, 2, &png, &size), 0);
    ASSERT_EQ(OfferClipboardBytes("image/png", png, size), 0);
    FreeMemory(png);
    int kind = 0;
    ASSERT_EQ(ProbeDesktopClipboard(&kind), 0);
    EXPECT_EQ(kind, LV_CLIP_IMAGE);

    // Another program reads ours.
    std::string out = directory + "/out.png";
    ASSERT_EQ(Xclip("-t image/png -o > '" + out + "'"), 0);
    std::string bytes = ReadFile(out);
    uint32_t *read = nullptr;
    int width = 0, height = 0;
    ASSERT_EQ(DecodePngArgb(bytes.data(), bytes.size(), &read, &width, &height), 0);
    ASSERT_EQ(width, 3);
    ASSERT_EQ(height, 2);
    for (int i = 0; i < 6; i++) EXPECT_EQ(read[i], ours[i]) << i;
    FreeMemory(read);
    read = nullptr;
    // It lists its targets too.
    ASSERT_EQ(Xclip("-t TARGETS -o > '" + out + "'"), 0);
    EXPECT_NE(ReadFile(out).find("image/png"), std::string::npos);

    // We read another program's picture: 2 x 1, masked pixel on the right.
    const uint32_t theirs[2] = {0xFF00FF00u, 0x00000000u};
    ASSERT_EQ(EncodeArgbPng(theirs, 2, 1, &png, &size), 0);
    std::string in = directory + "/in.png";
    {
        std::ofstream f(in, std::ios::binary);
        f.write((const char *)png, (std::streamsize)size);
    }
    FreeMemory(png);
    ASSERT_EQ(Xclip("-t image/png -i '" + in + "' >/dev/null"), 0);
    // xclip takes the clipboard from its background half: until then ours is still there.
    ASSERT_TRUE(WaitFor([&] {
        FreeMemory(read);
        read = nullptr;
        return FetchClipboardImage(&read, &width, &height) == 0 && read && width == 2;
    }));
    EXPECT_EQ(read[0], theirs[0]);
    EXPECT_EQ(read[1] >> 24, 0u);
    FreeMemory(read);

    // Text from another program is no picture; clearing leaves no owner at all.
    ASSERT_EQ(std::system("printf hi | xclip -selection clipboard >/dev/null 2>&1"), 0);
    ASSERT_TRUE(WaitFor([&] { return ProbeDesktopClipboard(&kind) == 0 && kind == -1; }));
    ASSERT_EQ(FetchClipboardImage(&read, &width, &height), 0);
    EXPECT_EQ(read, nullptr);
    ASSERT_EQ(ClearDesktopClipboard(), 0);
    int offered = 1, owned = 1;
    ASSERT_EQ(ClipboardOffers("image/png", &offered, &owned), 0);
    EXPECT_EQ(owned, 0);
}

TEST_F(DesktopClipboard, AnotherProgramsTextFiresOneChangeNotice)
{
    changes = 0;
    SetClipboardChangeCallback(CountChange);
    ASSERT_EQ(WatchClipboardOwners(1), 0);
    // Watching alone tells of nothing.
    ASSERT_EQ(std::system("printf 'from xclip' | xclip -selection clipboard >/dev/null 2>&1"), 0);
    ASSERT_TRUE(WaitFor([] { return changes.load() >= 1; })) << "no change notice";
    // A change of ours afterwards gives the next one: had xclip's change given two, the
    // count would pass 2 before ours arrives (one connection delivers them in order).
    const char word[] = "x";
    ASSERT_EQ(OfferClipboardBytes("text/x-test", word, 1), 0);
    ASSERT_TRUE(WaitFor([] { return changes.load() >= 2; }));
    EXPECT_EQ(changes.load(), 2);
    // SDL's own notices are left aside while the owners are watched.
    NoteClipboardUpdate();
    EXPECT_EQ(changes.load(), 2);
    ASSERT_EQ(WatchClipboardOwners(0), 0);
    NoteClipboardUpdate();
    EXPECT_EQ(changes.load(), 3);
    SetClipboardChangeCallback(nullptr);
}

TEST(DesktopClipboardAbsent, NoServerLeavesTheTextClipboard)
{
    // A display name with no server behind it: pictures are simply not there.
    setenv("DISPLAY", ":987", 1);
    uint32_t *read = nullptr;
    int width = 0, height = 0, kind = 0;
    EXPECT_EQ(FetchClipboardImage(&read, &width, &height), 0);
    EXPECT_EQ(read, nullptr);
    EXPECT_EQ(ProbeDesktopClipboard(&kind), 0);
    EXPECT_EQ(kind, -1);
    EXPECT_EQ(OfferClipboardBytes("image/png", "x", 1), ERR_CLIPOPEN);
    EXPECT_EQ(WatchClipboardOwners(1), ERR_UNSUPPORTEDFEAT);
    EXPECT_EQ(WatchClipboardOwners(0), 0);
}

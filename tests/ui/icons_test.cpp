// Icons: the native icon picture written and read back pixel for pixel, the pictures the
// reader refuses (crafted sizes included), the ICO image body's rows, and an applet run
// by the built runtime that makes, saves, loads and changes icons.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "base/lverrors.h"
#include "platform/lvplatform.h"
#include "platform/lvplatform_windows.h"
#include "ui/icons.h"

namespace {

lvIconEntry *Entry(int width, int height, uint32_t seed, bool selected, bool standard)
{
    lvIconEntry *e = (lvIconEntry *)AllocMemory(sizeof *e, 1);
    e->width = width;
    e->height = height;
    e->standard = standard;
    e->normal = (uint32_t *)AllocMemory((size_t)width * height * 4, 0);
    for (int i = 0; i < width * height; i++) e->normal[i] = seed + (uint32_t)i;
    if (selected) {
        e->selected = (uint32_t *)AllocMemory((size_t)width * height * 4, 0);
        for (int i = 0; i < width * height; i++) e->selected[i] = ~(seed + (uint32_t)i);
    }
    return e;
}

struct Entries {
    lvIconEntry *list = nullptr;
    ~Entries() { FreeIconEntries(list); }
};

struct Pixels {
    uint32_t *argb = nullptr;
    int width = 0, height = 0;
    ~Pixels() { FreeMemory(argb); }
};

}  // namespace

TEST(NativeIcons, SixteenWithSelectedAndThirtyTwoMakeA32By51PictureThatReadsBack)
{
    Entries icon;
    InsertIconEntry(&icon.list, Entry(32, 32, 0xFF000000u, false, true));
    EXPECT_EQ(InsertIconEntry(&icon.list, Entry(16, 16, 0x80102030u, true, false)), 1);
    Pixels p;
    ASSERT_EQ(BuildNativeIconImage(icon.list, &p.argb, &p.width, &p.height), 0);
    EXPECT_EQ(p.width, 32);
    EXPECT_EQ(p.height, 51);
    // Row 0: the magic in the colours, alpha 0; the header rows of both entries.
    EXPECT_EQ(p.argb[0], 0x004C554Du);
    EXPECT_EQ(p.argb[1], 0x00495641u);
    EXPECT_EQ(p.argb[2], 0x00525241u);
    EXPECT_EQ(p.argb[3], 0u);
    const uint32_t *h1 = p.argb + 32, *h2 = p.argb + 32 * 18;
    EXPECT_EQ(h1[0], 16u);
    EXPECT_EQ(h1[1], 16u);
    EXPECT_EQ(h1[2], 1u);
    EXPECT_EQ(h2[0], 32u);
    EXPECT_EQ(h2[2], 4u);
    EXPECT_EQ(p.argb[32 * 2 + 16], ~0x80102030u);  // the selected image beside the normal one

    Entries back;
    ASSERT_EQ(ParseNativeIconImage(p.argb, p.width, p.height, 1, &back.list), 0);
    ASSERT_EQ(CountIconEntries(back.list), 2);
    const lvIconEntry *a = back.list, *b = back.list->next;
    EXPECT_EQ(a->width, 16);
    ASSERT_NE(a->selected, nullptr);
    EXPECT_EQ(std::vector<uint32_t>(a->normal, a->normal + 256),
              std::vector<uint32_t>(icon.list->normal, icon.list->normal + 256));
    EXPECT_EQ(std::vector<uint32_t>(a->selected, a->selected + 256),
              std::vector<uint32_t>(icon.list->selected, icon.list->selected + 256));
    EXPECT_EQ(b->width, 32);
    EXPECT_TRUE(b->standard);
    EXPECT_EQ(b->selected, nullptr);
    EXPECT_EQ(b->normal[1023], 0xFF000000u + 1023);

    // Two entries of one width would never read back: refused when saving.
    Entries twins;
    InsertIconEntry(&twins.list, Entry(16, 16, 1, false, false));
    InsertIconEntry(&twins.list, Entry(16, 20, 1, false, false));
    Pixels none;
    EXPECT_EQ(BuildNativeIconImage(twins.list, &none.argb, &none.width, &none.height), ERR_WRONGUSAGE);
}

TEST(NativeIcons, PicturesThatAreNoNativeIconAreRefused)
{
    Entries icon;
    InsertIconEntry(&icon.list, Entry(4, 2, 0xFF000000u, true, false));
    InsertIconEntry(&icon.list, Entry(6, 1, 0xFF000000u, false, false));
    Pixels p;
    ASSERT_EQ(BuildNativeIconImage(icon.list, &p.argb, &p.width, &p.height), 0);
    ASSERT_EQ(p.width, 8);
    ASSERT_EQ(p.height, 1 + 3 + 2);
    const int headerA = p.width, headerB = p.width * 4;
    struct Case {
        const char *name;
        int at;            // pixel to change, -1 none
        uint32_t value;
        int hasAlpha, height, width;
    } cases[] = {
        {"the picture as written", -1, 0, 1, p.height, p.width},
        {"no alpha channel", -1, 0, 0, p.height, p.width},
        {"no magic", 0, 0x004C5500u, 1, p.height, p.width},
        {"a row left over", -1, 0, 1, p.height - 1, p.width},
        {"the second entry not wider", headerB, 4u, 1, p.height, p.width},
        {"zero height", headerB + 1, 0u, 1, p.height, p.width},
        {"a height beyond the rows", headerB + 1, 0xFFFFFFFFu, 1, p.height, p.width},
        {"a width beyond the picture", headerB, 9u, 1, p.height, p.width},
        // The selected image doubles the span: 5 fits once but not twice in 8.
        {"a selected image beyond the picture", headerA, 5u, 1, p.height, p.width},
        {"a width that wraps when doubled", headerA, 0x80000004u, 1, p.height, p.width},
    };
    for (const Case &c : cases) {
        std::vector<uint32_t> copy(p.argb, p.argb + (size_t)p.width * p.height);
        if (c.at >= 0) copy[(size_t)c.at] = c.value;
        Entries out;
        int expected = c.at < 0 && c.hasAlpha && c.height == p.height ? 0 : ERR_LOADICON;
        EXPECT_EQ(ParseNativeIconImage(copy.data(), c.width, c.height, c.hasAlpha, &out.list), expected) << c.name;
        EXPECT_EQ(out.list == nullptr, expected != 0) << c.name;
    }
}

TEST(IcoImages, MaskRowsAndColourRowsRunBottomUp)
{
    std::vector<uint32_t> pixels(16 * 16, 0xFF112233u);
    pixels[0] = 0x00112233u;  // only the first pixel of the top row is clear
    ASSERT_EQ(IcoImageDataSize(16, 16), (size_t)(16 * 4 + 4) * 16);
    std::vector<uint8_t> out(IcoImageDataSize(16, 16));
    ASSERT_EQ(WriteIcoImageData(pixels.data(), 16, 16, 16, out.data()), out.size());
    // Colour bytes B, G, R, A; the top row is written last.
    EXPECT_EQ(out[0], 0x33);
    EXPECT_EQ(out[3], 0xFF);
    EXPECT_EQ(out[15 * 64 + 3], 0x00);
    const uint8_t *mask = out.data() + 16 * 64;
    for (int row = 0; row < 16; row++) {
        std::vector<uint8_t> expected = {row == 15 ? (uint8_t)0x80 : (uint8_t)0x00, 0x00, 0xFF, 0xFF};
        EXPECT_EQ(std::vector<uint8_t>(mask + row * 4, mask + row * 4 + 4), expected) << row;
    }
}

TEST(ToolTypes, StoredTextsAreTakenApart)
{
    struct {
        const char *text;
        int taken;
        const char *key, *value;
        int enabled;
    } cases[] = {
        {"TOOL", 1, "TOOL", "", 1},
        {"  PUBSCREEN = Work bench  ", 1, "PUBSCREEN", "Work bench", 1},
        {"(DONOTWAIT)", 1, "DONOTWAIT", "", 0},
        {"(SIZE=10 )", 1, "SIZE", "10", 0},
        {"NAME=\"a ) b\" tail", 1, "NAME", "a ) b", 1},
        {"NAME=\"open", 1, "NAME", "open", 1},
        {"K E Y=v", 1, "KEY", "v", 1},
        {"_x", 1, "_x", "", 1},
        {"lower=1", 1, "lower", "1", 1},
        {"KEY more words", 1, "KEY", "", 1},
        {"   ", 0, "", "", 1},
        {"", 0, "", "", 1},
        {"1ST=x", 0, "1ST", "x", 1},
        {"=x", 0, "", "x", 1},
        {"*comment", 0, "*comment", "", 1},
    };
    for (auto &c : cases) {
        lvToolType t;
        EXPECT_EQ(ParseToolType(c.text, &t), c.taken) << c.text;
        EXPECT_STREQ(t.key, c.key) << c.text;
        EXPECT_STREQ(t.value, c.value) << c.text;
        EXPECT_EQ(t.enabled, c.enabled) << c.text;
    }
}

TEST(ToolTypes, OverlongKeysAndValuesAreCutAtACharacterBoundary)
{
    // 254 ASCII bytes then a two-byte character: the key keeps 254 bytes, not half of it.
    std::string key(254, 'A');
    key += "\xC3\xA9=";
    std::string value(498, 'v');
    value += "\xE2\x82\xAC";  // a three-byte character across the 499-byte limit
    lvToolType t;
    ASSERT_EQ(ParseToolType((key + value).c_str(), &t), 1);
    EXPECT_EQ(std::string(t.key), std::string(254, 'A'));
    EXPECT_EQ(std::string(t.value), std::string(498, 'v'));
}

TEST(ToolTypes, BuiltTextsStopAt1023Bytes)
{
    char *out = nullptr;
    ASSERT_EQ(BuildToolType("K", 1, "v", 1, 0, &out), 0);
    EXPECT_STREQ(out, "(K=v)");
    FreeMemory(out);
    ASSERT_EQ(BuildToolType("K", 1, "", 0, 1, &out), 0);
    EXPECT_STREQ(out, "K");
    FreeMemory(out);
    // key + "=" + value: 1023 bytes fit, 1024 do not; the parentheses count too.
    std::string key(1000, 'k'), value(22, 'v');
    ASSERT_EQ(BuildToolType(key.data(), key.size(), value.data(), value.size(), 1, &out), 0);
    EXPECT_EQ(std::strlen(out), 1023u);
    FreeMemory(out);
    out = nullptr;
    EXPECT_EQ(BuildToolType(key.data(), key.size(), value.data(), 23, 1, &out), ERR_WRONGUSAGE);
    EXPECT_EQ(BuildToolType(key.data(), key.size(), value.data(), 21, 0, &out), ERR_WRONGUSAGE);
    EXPECT_EQ(BuildToolType(key.data(), (size_t)-1, "", 0, 1, &out), ERR_WRONGUSAGE);
    EXPECT_EQ(out, nullptr);
}

TEST(WindowIcons, TheNearestPictureIsPickedWithTheEarlierOneOnATie)
{
    uint32_t px = 0xFF000000u;
    const lvWindowIconImage images[] = {{&px, 16, 16}, {&px, 32, 32}, {&px, 48, 48}};
    struct {
        int wanted, expected;
    } cases[] = {{32, 1}, {24, 0}, {40, 1}, {48, 2}, {1000, 2}, {0, 0}, {-5, 0}};
    for (auto c : cases) EXPECT_EQ(PickWindowIconImage(images, 3, c.wanted), c.expected) << c.wanted;
    EXPECT_EQ(PickWindowIconImage(images, 0, 32), -1);
}

TEST(WindowIcons, EveryNativeWindowOpensWithTheRuntimeIconAndBadPicturesAreRefused)
{
    setenv("SDL_VIDEODRIVER", "offscreen", 1);
    ASSERT_EQ(InitPlatform(), 0);
    ASSERT_EQ(InitLoopSignals(), 0);
    ASSERT_EQ(UseNativeWindows(), 0);
    uint32_t px = 0;
    const lvWindowIconImage tooBig = {&px, 1025, 1}, empty = {nullptr, 4, 4}, flat = {&px, 1, 0};
    for (const lvWindowIconImage *bad : {&tooBig, &empty, &flat}) EXPECT_EQ(SetWindowIconImages(bad, 1), ERR_WRONGUSAGE);
    EXPECT_EQ(SetWindowIconImages(&tooBig, 17), ERR_WRONGUSAGE);

    ASSERT_EQ(InstallWindowIcons(nullptr, 0), 0);
    lvDisplayWindow *w = nullptr;
    ASSERT_EQ(WindowOps()->AllocDisplayWindow(&w), 0);
    ASSERT_EQ(WindowOps()->OpenDisplayWindow(w, 0, 0, 40, 30, 0x1, 1, "Icon"), 0);
    EXPECT_EQ(w->iconWidth, 32);  // nearest 32 at scale 1
    WindowOps()->CloseDisplayWindow(w);
    // Forgotten pictures: the next window opens without one.
    ASSERT_EQ(SetWindowIconImages(nullptr, 0), 0);
    ASSERT_EQ(WindowOps()->OpenDisplayWindow(w, 0, 0, 40, 30, 0x1, 1, "None"), 0);
    EXPECT_EQ(w->iconWidth, 0);
    WindowOps()->FreeDisplayWindow(w);
    SetMainLoopHooks(nullptr);
    FreeLoopSignals();
}

TEST(IcoImages, AFileHasItsDirectoryThenHeaderedBodiesAndLeavesOutOversizeImages)
{
    std::vector<uint32_t> small(16 * 16, 0xFF112233u), big(256 * 256, 0x80FFFFFFu), wide(300 * 10, 0xFF000000u);
    small[0] = 0x00112233u;
    const lvIcoImage images[] = {{small.data(), 16, 16, 16}, {wide.data(), 300, 10, 300}, {big.data(), 256, 256, 256}};
    uint8_t *file = nullptr;
    size_t size = 0;
    ASSERT_EQ(BuildIcoFile(images, 3, &file, &size), 0);
    auto le16 = [&](size_t at) { return (uint32_t)file[at] | (uint32_t)file[at + 1] << 8; };
    auto le32 = [&](size_t at) { return le16(at) | le16(at + 2) << 16; };
    const uint32_t smallBytes = (16 * 4 + 4) * 16 + 40, bigBytes = (256 * 4 + 32) * 256 + 40;
    ASSERT_EQ(size, 6u + 2 * 16 + smallBytes + bigBytes);
    EXPECT_EQ(le16(0), 0u);
    EXPECT_EQ(le16(2), 1u);
    EXPECT_EQ(le16(4), 2u);  // the 300-wide image is left out
    struct {
        size_t at;
        uint32_t side, bytes, offset;
    } entries[] = {{6, 16, smallBytes, 38}, {22, 0, bigBytes, 38 + smallBytes}};
    for (auto &e : entries) {
        EXPECT_EQ(file[e.at], e.side);
        EXPECT_EQ(file[e.at + 1], e.side);
        EXPECT_EQ(le16(e.at + 2), 0u);
        EXPECT_EQ(le16(e.at + 4), 1u);
        EXPECT_EQ(le16(e.at + 6), 32u);
        EXPECT_EQ(le32(e.at + 8), e.bytes);
        EXPECT_EQ(le32(e.at + 12), e.offset);
    }
    // The first body: a 40-byte header, then the rows WriteIcoImageData lays out.
    EXPECT_EQ(le32(38), 40u);
    EXPECT_EQ(le32(42), 16u);
    EXPECT_EQ(le32(46), 32u);
    EXPECT_EQ(le16(50), 1u);
    EXPECT_EQ(le16(52), 32u);
    for (size_t i = 54; i < 78; i++) EXPECT_EQ(file[i], 0) << i;
    std::vector<uint8_t> body(IcoImageDataSize(16, 16));
    WriteIcoImageData(small.data(), 16, 16, 16, body.data());
    EXPECT_EQ(std::vector<uint8_t>(file + 78, file + 78 + body.size()), body);
    const uint8_t *lastMask = file + 78 + 16 * 64 + 15 * 4;
    EXPECT_EQ(std::vector<uint8_t>(lastMask, lastMask + 4), (std::vector<uint8_t>{0x80, 0x00, 0xFF, 0xFF}));
    FreeMemory(file);

    EXPECT_EQ(BuildIcoFile(images + 1, 1, &file, &size), ERR_WRONGUSAGE);
    EXPECT_EQ(file, nullptr);
}

// Runs a copy of the built applet in a new folder (the run's folder is the applet's, so
// files it writes land beside it); the folder, and the exit status in *status.
static std::string RunAppletCopy(const std::string &name, int *status)
{
    char dir[] = "/tmp/lv_icons_exe_XXXXXX";
    if (!mkdtemp(dir)) return "";
    std::string base = dir;
    std::string command = "cp '" + std::string(LV_BUILD_DIR) + "/tests/ui/icons/" + name + "' '" + base +
                          "' && cd '" + base + "' && SDL_VIDEODRIVER=offscreen timeout --preserve-status -k 5 30 '" +
                          LV_BIN_DIR + "/lumivarra' " + name + " -QUIET >out 2>err";
    *status = std::system(command.c_str());
    return base;
}

TEST(IconsExe, IconsAreMadeSavedLoadedAndChanged)
{
    int status = 0;
    std::string base = RunAppletCopy("icons.lva", &status);
    ASSERT_FALSE(base.empty());
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    std::ifstream in(base + "/out");
    std::vector<std::string> lines;
    for (std::string l; std::getline(in, l);) lines.push_back(l);
    std::vector<std::string> expected = {
        "create 0",          "firstwidth 16 0",  "standard 2 0",         "save 0",
        "load 0",
        // The saved 32 x 51 picture read back as a file entry with a selected image.
        "filecreate 0",      "fileheight 51 0",  "fileframes 2 0",       "filemissing 1045",
        "filetype 1055",
        // A native icon file linked into the applet: preloaded as icon 3, and loaded by name.
        "preloaded 2 0",     "linked 2 0",
        // A 4-colour palette entry and a 32-bit one of the same size sit side by side,
        // deeper last; a second palette one is refused, and so is a native save.
        "palcreate 0",       "paladd 2",         "palsame 1610",         "paldepth 2 0",
        "argbdepth 32 0",    "palpen -1 0",      "palette 16711680 0",   "palsave 1055",            "entries 2 0",      "frames1 2 0",          "frames2 1 0",
        "width2 32 0",       "loadedstandard 2 0", "format Lumivarra Icon 0", "noentry Nil 1613",
        "depthnoselected Nil 1055", "missing 1045", "addsame 1610",      "add20at 2",
        "removeoutside 1613", "clearstandard 0", "nostandard 0 0",       "traynothing 1055",
        "tip128 1055",       "wbicon 1288",      "free 0",               "freeagain 1608",
        "setprops 0",        "raw TOOL=x y (OFF) Editor 4096 4",       "parsed TOOL x y 1 OFF 0",
        "images 32 1 1",
        // A tool type of 1024 bytes and a type of 8 are refused; nothing changed.
        "toolong 1055",      "badtype 1055",     "stringid 1288",
        "raw TOOL=x y (OFF) Editor 4096 4",      "parsed TOOL x y 1 OFF 0", "images 32 1 1",
    };
    EXPECT_EQ(lines, expected);
    // The saved file is the 32 x 51 picture of the two entries.
    std::ifstream png(base + "/icon.png", std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(png)), std::istreambuf_iterator<char>());
    ASSERT_GT(bytes.size(), 24u);
    auto be32 = [&](size_t at) {
        return (uint32_t)(uint8_t)bytes[at] << 24 | (uint32_t)(uint8_t)bytes[at + 1] << 16 |
               (uint32_t)(uint8_t)bytes[at + 2] << 8 | (uint8_t)bytes[at + 3];
    };
    EXPECT_EQ(be32(16), 32u);
    EXPECT_EQ(be32(20), 51u);
}

// An application icon whose picture does not have its slot's size stops the start-up
// before the script runs; the icons applet itself carries a fitting 16 x 16 one.
TEST(IconsExe, AnApplicationIconOfTheWrongSizeIsRefused)
{
    int status = 0;
    std::string base = RunAppletCopy("badicon.lva", &status);
    ASSERT_FALSE(base.empty());
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) != 0);
    std::ifstream err(base + "/err"), out(base + "/out");
    std::string errText((std::istreambuf_iterator<char>(err)), std::istreambuf_iterator<char>());
    std::string outText((std::istreambuf_iterator<char>(out)), std::istreambuf_iterator<char>());
    EXPECT_NE(errText.find("Specified image does not match required icon dimensions (16x16)!"), std::string::npos)
        << errText;
    EXPECT_EQ(outText, "");
}

// The tray through a running applet on a bus of the test's own (dbus-run-session) with
// the watcher fixture: the brush's pixels and tooltip, the runtime's 16-pixel icon for
// DEFAULTICON at scale 1, removal, a second removal refused, and a notification that
// puts the application's icon back first (its own outcome depends on the desktop's
// notification service, which this bus lacks).
TEST(IconsExe, TrayIconsReachTheWatcherThroughTheMainLoop)
{
    if (access("/usr/bin/dbus-run-session", X_OK) != 0) GTEST_SKIP() << "no dbus-run-session";
    char dir[] = "/tmp/lv_icons_tray_XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    std::string base = dir;
    {
        std::ofstream script(base + "/run.sh");
        script << "cd '" << base << "'\n"
               << "sleep 5 | /usr/bin/python3 '" << LV_SOURCE_DIR << "/tests/platform/sni_watcher.py' >w.out 2>w.err &\n"
               << "for i in $(seq 100); do grep -q READY w.out 2>/dev/null && break; sleep 0.05; done\n"
               << "SDL_VIDEODRIVER=offscreen timeout --preserve-status -k 5 20 '" << LV_BIN_DIR << "/lumivarra' '"
               << LV_BUILD_DIR << "/tests/ui/icons/tray.lva' -QUIET >a.out 2>a.err\n"
               << "for i in $(seq 100); do [ $(grep -c GONE w.out) -ge 2 ] && break; sleep 0.05; done\n"
               << "kill %1 2>/dev/null\n";
    }
    int status = std::system(("dbus-run-session -- sh '" + base + "/run.sh' 2>/dev/null").c_str());
    EXPECT_TRUE(WIFEXITED(status));
    auto read = [&](const std::string &name) {
        std::ifstream in(base + "/" + name);
        std::vector<std::string> lines;
        for (std::string l; std::getline(in, l);) lines.push_back(l);
        return lines;
    };
    std::vector<std::string> steps = {"brush 0", "default 0", "remove 0", "removeagain 1055"};
    std::vector<std::string> out = read("a.out");
    ASSERT_EQ(out.size(), 5u) << ::testing::PrintToString(out);
    EXPECT_EQ(std::vector<std::string>(out.begin(), out.begin() + 4), steps);
    EXPECT_EQ(out[4].rfind("notify ", 0), 0u);
    std::vector<std::string> seen = read("w.out"), icons, tips;
    for (const std::string &l : seen) {
        if (l.rfind("ICON ", 0) == 0) icons.push_back(l.substr(0, l.find(' ', l.find(' ', 5) + 1)));
        if (l.rfind("TIP", 0) == 0) tips.push_back(l);
    }
    ASSERT_EQ(icons.size(), 3u) << ::testing::PrintToString(seen);
    EXPECT_EQ(icons[0], "ICON 2 1");
    EXPECT_EQ(icons[1], "ICON 16 16");
    EXPECT_EQ(icons[2], "ICON 16 16");
    EXPECT_NE(std::find(seen.begin(), seen.end(), "ICON 2 1 ffff0000ffff0000"), seen.end());
    EXPECT_EQ(tips, (std::vector<std::string>{"TIP Hi", "TIP ", "TIP "}));
    EXPECT_NE(std::find(seen.begin(), seen.end(), "SIGNAL NewIcon"), seen.end());
    EXPECT_EQ(seen.back().rfind("GONE org.kde.StatusNotifierItem-", 0), 0u);
}

// Through the test display adapter: the pointer slots get the brush's hot spot, size and
// pixels and the adapter's 48 x 48 answer is what the pointer reports; the tray goes to the
// adapter's SetTrayIcon when it has the capability, and is refused (1519) when it has not.
TEST(IconsExe, PointersAndTheTrayGoThroughTheDisplayAdapter)
{
    for (int tray = 1; tray >= 0; tray--) {
        char dir[] = "/tmp/lv_icons_adapter_XXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        std::string base = dir;
        std::string command = std::string(tray ? "LVT_ADAPTER_TRAY=1 " : "") + "LVT_ADAPTER_LOG='" + base +
                              "/log' XDG_RUNTIME_DIR='" + base + "' timeout --preserve-status -k 5 20 '" + LV_BIN_DIR +
                              "/lumivarra' '" + LV_BUILD_DIR + "/tests/ui/icons/adapter.lva' -REQUIREPLUGINS '" +
                              LV_TESTPLUGIN_DIR + "/testadapter' -QUIET >'" + base + "/out' 2>'" + base + "/err'";
        int status = std::system(command.c_str());
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        auto read = [&](const std::string &name) {
            std::ifstream in(base + "/" + name);
            std::vector<std::string> lines;
            for (std::string l; std::getline(in, l);) lines.push_back(l);
            return lines;
        };
        std::vector<std::string> expected = {"create 0", "width 48", "set 0", "move 0",
                                             tray ? "tray 0" : "tray 1519"};
        EXPECT_EQ(read("out"), expected) << tray;
        std::vector<std::string> log = read("log"), calls;
        for (const std::string &l : log)
            if (l.find("Pointer") != std::string::npos || l.rfind("SetTrayIcon", 0) == 0) calls.push_back(l);
        std::vector<std::string> wanted = {"ShowHidePointer 1", "CreatePointer 1 2 4 4 4294901760", "SetPointer 2",
                                           "ShowHidePointer 1", "MovePointer 5 6"};
        if (tray) wanted.push_back("SetTrayIcon 4294901760 4 4 Hi");
        wanted.push_back("FreePointer");
        EXPECT_EQ(calls, wanted) << tray;
    }
}

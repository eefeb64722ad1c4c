// Runs the built runtime on applets with declared displays and the test display adapter
// required at start-up (REQUIREPLUGINS): what the adapter is asked to do (its log), what
// it finally shows (the framebuffer it writes as a PNG when the display closes), the
// input its own thread plays into the script's handlers, and the display commands'
// errors. Every run is bounded by a time limit.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>
#include <zlib.h>

namespace {

struct AdapterRun {
    int exitCode;                    // -1 when the process did not exit normally
    std::vector<std::string> lines;  // standard output
    std::vector<std::string> log;    // the adapter's log
    std::string err;
    std::string pngDir;              // where the framebuffers went
};

std::string ReadWhole(const std::string &path)
{
    std::string text;
    if (FILE *f = std::fopen(path.c_str(), "rb")) {
        char buffer[4096];
        size_t got;
        while ((got = std::fread(buffer, 1, sizeof buffer, f)) > 0) text.append(buffer, got);
        std::fclose(f);
    }
    return text;
}

std::vector<std::string> Lines(const std::string &text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// Runs build/tests/ui/displays_exe/<stem>.lva; adapter "" requires none.
AdapterRun RunApplet(const std::string &stem, const std::string &adapter = "testadapter", const std::string &input = "",
               int limit = 20, const std::string &environment = "")
{
    char dir[] = "/tmp/lv_displays_exe_XXXXXX";
    EXPECT_NE(mkdtemp(dir), nullptr);
    std::string base = dir;
    AdapterRun run = {-1, {}, {}, "", base};
    std::string command = "LVT_ADAPTER_LOG='" + base + "/log' LVT_ADAPTER_PNGDIR='" + base + "' ";
    if (!input.empty()) command += "LVT_ADAPTER_INPUT='" + input + "' ";
    command += environment;
    command += "timeout --preserve-status -k 5 " + std::to_string(limit) + " '" + LV_BIN_DIR + "/lumivarra' '" +
               LV_BUILD_DIR + "/tests/ui/displays_exe/" + stem + ".lva'";
    if (!adapter.empty()) command += " -REQUIREPLUGINS '" + std::string(LV_TESTADAPTER_DIR) + "/" + adapter + "'";
    command += " -QUIET >'" + base + "/out' 2>'" + base + "/err' </dev/null";
    int status = std::system(command.c_str());
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.lines = Lines(ReadWhole(base + "/out"));
    run.log = Lines(ReadWhole(base + "/log"));
    run.err = ReadWhole(base + "/err");
    return run;
}

// Lines of the log that start with the word.
std::vector<std::string> Calls(const AdapterRun &run, const std::string &word)
{
    std::vector<std::string> found;
    for (const std::string &line : run.log)
        if (line == word || line.rfind(word + " ", 0) == 0) found.push_back(line);
    return found;
}

// Index of the first log line starting with the word, -1 when none.
int FirstCall(const AdapterRun &run, const std::string &word)
{
    for (size_t i = 0; i < run.log.size(); i++)
        if (run.log[i] == word || run.log[i].rfind(word + " ", 0) == 0) return (int)i;
    return -1;
}

// The {tag, value} pairs of a logged call ("... 1=320 2=240").
std::vector<std::pair<int, long long>> TagsOf(const std::string &line)
{
    std::vector<std::pair<int, long long>> tags;
    std::istringstream words(line);
    for (std::string w; words >> w;) {
        size_t eq = w.find('=');
        if (eq != std::string::npos) tags.push_back({std::stoi(w.substr(0, eq)), std::stoll(w.substr(eq + 1))});
    }
    return tags;
}

struct Png {
    int width = 0, height = 0;
    std::vector<uint32_t> argb;
};

uint32_t BE32(const std::string &s, size_t at)
{
    return (uint32_t)(uint8_t)s[at] << 24 | (uint32_t)(uint8_t)s[at + 1] << 16 | (uint32_t)(uint8_t)s[at + 2] << 8 |
           (uint8_t)s[at + 3];
}

// Reads the adapter's PNGs: 8-bit RGBA, filter 0 on every row.
Png ReadPng(const std::string &path)
{
    Png png;
    std::string file = ReadWhole(path), idat;
    if (file.size() < 8 || file.compare(0, 8, "\x89PNG\r\n\x1a\n") != 0) return png;
    for (size_t at = 8; at + 12 <= file.size();) {
        uint32_t length = BE32(file, at);
        std::string type = file.substr(at + 4, 4);
        if (type == "IHDR") {
            png.width = (int)BE32(file, at + 8);
            png.height = (int)BE32(file, at + 12);
        } else if (type == "IDAT") {
            idat += file.substr(at + 8, length);
        }
        at += 12 + length;
    }
    uLongf size = (uLongf)png.height * (png.width * 4 + 1);
    std::string raw(size, '\0');
    if (uncompress((Bytef *)&raw[0], &size, (const Bytef *)idat.data(), (uLong)idat.size()) != Z_OK) return Png();
    for (int y = 0; y < png.height; y++) {
        const uint8_t *row = (const uint8_t *)raw.data() + (size_t)y * (png.width * 4 + 1) + 1;
        for (int x = 0; x < png.width; x++, row += 4)
            png.argb.push_back((uint32_t)row[3] << 24 | (uint32_t)row[0] << 16 | (uint32_t)row[1] << 8 | row[2]);
    }
    return png;
}

bool Contains(const std::vector<std::string> &lines, const std::string &text)
{
    for (const std::string &line : lines)
        if (line.find(text) != std::string::npos) return true;
    return false;
}

}  // namespace

// Display 1 (320x240, 0x336699, active) opens through the adapter, display 2 (hidden)
// does not; both variants show the colour pixel for pixel.
TEST(DisplaysExe, DeclaredDisplayOpensThroughTheAdapterAndShowsItsColour)
{
    const struct {
        const char *adapter;
        unsigned flags;
        bool mainLoop;
    } variants[] = {{"testadapter", 0x1A0500, true}, {"testadapterplain", 0, false}};
    for (const auto &v : variants) {
        SCOPED_TRACE(v.adapter);
        AdapterRun run = RunApplet("show", v.adapter);
        ASSERT_EQ(run.exitCode, 0) << run.err;
        ASSERT_FALSE(run.log.empty());
        // Installed while start-up required it.
        EXPECT_EQ(run.log[0], "RequirePlugin InstallDisplayAdapter " + std::to_string(v.flags) + " 0");
        EXPECT_EQ(FirstCall(run, "AdapterMainLoop") >= 0, v.mainLoop);
        std::vector<std::string> opens = Calls(run, "OpenDisplay");
        ASSERT_EQ(opens.size(), 1u);
        std::vector<int> tagNumbers;
        for (auto &t : TagsOf(opens[0])) {
            tagNumbers.push_back(t.first);
            if (t.first == 1) {
                EXPECT_EQ(t.second, 320);
            } else if (t.first == 2) {
                EXPECT_EQ(t.second, 240);
            }
        }
        EXPECT_EQ(tagNumbers, (std::vector<int>{1, 2, 3, 4, 5, 6, 13, 17, 18, 19, 12}));
        EXPECT_EQ(opens[0].rfind("OpenDisplay One ", 0), 0u) << opens[0];
        int open = FirstCall(run, "OpenDisplay");
        int attributes = FirstCall(run, "SetDisplayAttributes");
        EXPECT_GT(attributes, open);
        EXPECT_EQ(run.log[attributes], "SetDisplayAttributes 1=0");
        EXPECT_EQ(Calls(run, "ActivateDisplay"), std::vector<std::string>{"ActivateDisplay 1 1"});
        EXPECT_EQ(Calls(run, "BltBitMap"), std::vector<std::string>{"BltBitMap 0 0 0 0 320 240 0 0 0"});
        // Graphics slots 25 and 26 read the source the adapter locked through slots 16 and 17.
        EXPECT_EQ(Calls(run, "SlotCheck"), std::vector<std::string>{});
        EXPECT_EQ(Calls(run, "CloseDisplay"), std::vector<std::string>{"CloseDisplay 1"});
        EXPECT_GT(FirstCall(run, "CloseDisplay"), FirstCall(run, "BltBitMap"));
        Png png = ReadPng(run.pngDir + "/display1.png");
        ASSERT_EQ(png.width, 320);
        ASSERT_EQ(png.height, 240);
        size_t wrong = 0;
        for (uint32_t c : png.argb) wrong += c != 0xFF336699u;
        EXPECT_EQ(wrong, 0u);
    }
}

// Plain boxes reach the adapter's display as the rectangles drawn: the filled box
// whole, the outline that runs off the picture only by the edges left inside it.
TEST(DisplaysExe, PlainBoxesReachTheAdaptersDisplay)
{
    AdapterRun run = RunApplet("boxes");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    // Straight into the display: the box as one rectangle, the outline as its edges.
    EXPECT_TRUE(Contains(run.log, "BltBitMap 10 20 10 20 30 40 ")) << run.err;
    EXPECT_TRUE(Contains(run.log, "BltBitMap 300 100 300 100 20 1 "));
    EXPECT_TRUE(Contains(run.log, "BltBitMap 300 109 300 109 20 1 "));
    EXPECT_TRUE(Contains(run.log, "BltBitMap 300 100 300 100 1 10 "));
    Png png = ReadPng(run.pngDir + "/display1.png");
    ASSERT_EQ(png.width, 320);
    ASSERT_EQ(png.height, 240);
    auto at = [&](int x, int y) { return png.argb[(size_t)y * 320 + x]; };
    size_t red = 0;
    for (uint32_t c : png.argb) red += c == 0xFFFF0000u;
    EXPECT_EQ(red, 30u * 40u);
    EXPECT_EQ(at(10, 20), 0xFFFF0000u);
    EXPECT_EQ(at(39, 59), 0xFFFF0000u);
    EXPECT_EQ(at(40, 59), 0xFF336699u);
    EXPECT_EQ(at(300, 105), 0xFF00FF00u);  // left edge
    EXPECT_EQ(at(319, 100), 0xFF00FF00u);  // top edge up to the picture's end
    EXPECT_EQ(at(319, 109), 0xFF00FF00u);  // bottom edge
    EXPECT_EQ(at(319, 105), 0xFF336699u);  // no right edge where the box was cut
    EXPECT_EQ(at(310, 105), 0xFF336699u);  // an outline, not a fill
}

// One-pixel opaque lines on the display go straight to the adapter's Line when its
// offscreen word says it draws lines (0x20), clipped to the picture or the clip region,
// and opaque pixels to its WritePixel (0x10); without those bits the same lines and pixels
// are drawn into the buffers and shown over their boxes. Thick, arrowed, transparent and
// anti-aliased lines, lines into a back buffer and transparent pixels are rendered as
// images in both runs. The framebuffers hold the same pixels either way.
TEST(DisplaysExe, OnePixelLinesGoStraightToTheAdaptersLine)
{
    const uint32_t background = 0xFF336699u;
    struct Case {
        const char *name;
        const char *line;  // the adapter's Line call with 0x20, or null: never a Line call
        const char *shown; // the BltBitMap that shows it without 0x20, or null
    } cases[] = {
        {"across", "Line 10 10 60 10 ", "BltBitMap 10 10 10 10 51 1 "},
        {"up", "Line 20 80 20 30 ", "BltBitMap 20 30 20 30 1 51 "},
        {"diagonal", "Line 100 100 140 140 ", "BltBitMap 100 100 100 100 41 41 "},
        {"cut by the picture", "Line 0 200 319 200 ", "BltBitMap 0 200 0 200 320 1 "},
        {"cut by the clip region", "Line 160 60 199 60 ", "BltBitMap 160 60 160 60 40 1 "},
        {"wholly outside", nullptr, nullptr},
        {"thickness 2", nullptr, nullptr},
        {"arrowhead", nullptr, nullptr},
        {"transparency", nullptr, nullptr},
        {"anti-aliased", nullptr, nullptr},
        {"back buffer", nullptr, nullptr},
    };
    for (int lines : {1, 0}) {
        SCOPED_TRACE(lines ? "adapter draws lines" : "adapter draws no lines");
        AdapterRun run = RunApplet("lines", "testadapter", "", 20, lines ? "LVT_ADAPTER_OFFSCREEN=48 " : "");
        ASSERT_EQ(run.exitCode, 0) << run.err;
        std::vector<std::string> calls = Calls(run, "Line");
        size_t expected = 0;
        for (const Case &c : cases) {
            if (!c.line) continue;
            expected++;
            bool called = false, shown = false;
            for (const std::string &l : calls) called |= l.rfind(c.line, 0) == 0;
            for (const std::string &l : Calls(run, "BltBitMap")) shown |= l.rfind(c.shown, 0) == 0;
            EXPECT_EQ(called, lines == 1) << c.name;
            EXPECT_EQ(shown, lines == 0) << c.name;
        }
        // Only the direct cases reach Line, each once, with the colour as given.
        EXPECT_EQ(calls.size(), lines ? expected : 0u);
        if (lines && !calls.empty()) EXPECT_EQ(calls[0], "Line 10 10 60 10 16711680 0");
        // The opaque pixel alone is written straight; the transparent one is blitted.
        std::vector<std::string> pixels = Calls(run, "WritePixel");
        EXPECT_EQ(pixels, lines ? std::vector<std::string>{"WritePixel 300 5 16744448 0"} : std::vector<std::string>{});
        EXPECT_EQ(Contains(run.log, "BltBitMap 300 5 300 5 1 1 "), lines == 0);
        EXPECT_TRUE(Contains(run.log, "BltBitMap 301 5 301 5 1 1 "));

        Png png = ReadPng(run.pngDir + "/display1.png");
        ASSERT_EQ(png.width, 320);
        ASSERT_EQ(png.height, 240);
        auto at = [&](int x, int y) { return png.argb[(size_t)y * 320 + x]; };
        auto count = [&](uint32_t colour) {
            size_t n = 0;
            for (uint32_t c : png.argb) n += c == colour;
            return n;
        };
        // Exactly the pixels of the direct lines, ends included.
        EXPECT_EQ(count(0xFF00FF00u), 51u);
        EXPECT_EQ(count(0xFFFFFF00u), 41u);
        EXPECT_EQ(count(0xFF00FFFFu), 40u);
        for (int x = 0; x < 320; x++) EXPECT_EQ(at(x, 200), 0xFFFFFFFFu) << x;
        for (int i = 0; i <= 40; i++) EXPECT_EQ(at(100 + i, 100 + i), 0xFFFFFF00u) << i;
        EXPECT_EQ(at(9, 10), background);
        EXPECT_EQ(at(10, 10), 0xFFFF0000u);
        EXPECT_EQ(at(60, 10), 0xFFFF0000u);
        EXPECT_EQ(at(61, 10), background);
        EXPECT_EQ(at(159, 60), background);
        EXPECT_EQ(at(160, 60), 0xFF00FFFFu);
        EXPECT_EQ(at(199, 60), 0xFF00FFFFu);
        EXPECT_EQ(at(200, 60), background);
        // The image-path lines arrived as well.
        EXPECT_EQ(at(35, 150), 0xFF0000FFu);
        EXPECT_EQ(at(100, 150), 0xFF0000FFu);
        EXPECT_NE(at(35, 170), background);
        EXPECT_NE(at(35, 170), 0xFFFFFFFFu);
        EXPECT_NE(at(35, 225), background);
        for (int x = 200; x <= 250; x++) EXPECT_EQ(at(x, 50), 0xFFFF00FFu) << x;
        EXPECT_EQ(at(300, 5), 0xFFFF8000u);
        EXPECT_NE(at(301, 5), background);
        EXPECT_NE(at(301, 5), 0xFFFFFFFFu);
        EXPECT_EQ(at(0, 0), background);
    }
}

// Without a declared display, display 1 is 640x480, centred on the first monitor (its
// frame 4 + 4 by 24 + 4), titled "Lumivarra" and active.
TEST(DisplaysExe, WithoutADeclaredDisplayDisplayOneHasTheDefaults)
{
    AdapterRun run = RunApplet("nodecl_show");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    std::vector<std::string> opens = Calls(run, "OpenDisplay");
    ASSERT_EQ(opens.size(), 1u);
    EXPECT_EQ(opens[0].rfind("OpenDisplay Lumivarra 636 286 640 480 ", 0), 0u) << opens[0];
    EXPECT_EQ(Calls(run, "ActivateDisplay"), std::vector<std::string>{"ActivateDisplay 1 1"});
    Png png = ReadPng(run.pngDir + "/display1.png");
    ASSERT_EQ(png.width, 640);
    EXPECT_EQ(png.argb[0], 0xFF000000u);
}

// Each failing command leaves the list as it was (three displays: 1, 2, and the
// display list never grows or shrinks through a failure).
TEST(DisplaysExe, FailingCommandsGiveTheirCodesAndLeaveTheListAlone)
{
    AdapterRun run = RunApplet("errors");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const std::vector<std::string> expected = {
        "free99 1344 2",      "freednil 1041 2",     "current 1346 2",
        "bogus 1055 2",       "scalefactor0 1055 2", "openopen 1055 2",
        "closeclosed 1055 2", "openmonitor3 1557 2", "modes3 1557 2",
        "modes2 1443 2",      "mode 800 600",        "mode 1024 600",
        "mode 1024 768",      "monitor1 1920",
    };
    ASSERT_EQ(run.lines.size(), expected.size()) << run.err;
    for (size_t i = 0; i < expected.size(); i++) EXPECT_EQ(run.lines[i], expected[i]);
}

TEST(DisplaysExe, FreeingAnUnknownDisplayNamesItsNumber)
{
    AdapterRun run = RunApplet("free99");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE((run.err + "\n" + ReadWhole(run.pngDir + "/out")).find("Could not find display 99!"), std::string::npos)
        << run.err;
}

TEST(DisplaysExe, AnAdapterLoadedAfterStartUpCannotInstallItself)
{
    AdapterRun run = RunApplet("nodecl_late", "");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(Contains(run.lines, "late 1518")) << run.err;
    EXPECT_TRUE(Contains(run.log, "RequirePlugin InstallDisplayAdapter " + std::to_string(0x1A0500) + " 1518"));
}

// The adapter's input thread: movement, a press with its position, a key, the close
// button, then Ctrl+C, which ends the run normally.
TEST(DisplaysExe, InputFromTheAdaptersThreadReachesTheHandlersAndCtrlCQuits)
{
    AdapterRun run = RunApplet("input", "testadapter",
                         "waitclosehandled;move 10 20;wait 50;down 30 40;wait 50;key a;wait 50;close;wait 50;ctrlc");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    std::vector<std::string> seen;
    for (const std::string &line : run.lines)
        if (line != "ready") seen.push_back(line);
    ASSERT_GE(seen.size(), 4u) << run.err;
    EXPECT_EQ(seen[0].rfind("OnMouseMove", 0), 0u);
    EXPECT_EQ(seen[1].rfind("OnMouseDown 30 40", 0), 0u) << seen[1];
    EXPECT_EQ(seen[2].rfind("OnKeyDown", 0), 0u);
    EXPECT_NE(seen[2].find(" a"), std::string::npos) << seen[2];
    EXPECT_EQ(seen[3].rfind("CloseWindow", 0), 0u) << seen[3];
}

// Menus through the adapter's slots: the strip arrives with OpenDisplay and
// SetMenuBar, item states go through Set/GetMenuAttributes and come back after a reopen,
// popups and the tray get the first entry's items, a tray menu cannot be freed, the
// linked menu exists at start-up, and only reports of nodes the display uses reach
// OnMenuSelect (not a forged node, nor one of the freed popup menu).
TEST(DisplaysExe, MenusGoThroughTheAdaptersSlotsAndChoicesReachOnMenuSelect)
{
    AdapterRun run = RunApplet("menus", "testadapter",
                               "waitclosehandled;menu open 0;menuforged;menu two 1;menu large 1;wait 100;ctrlc");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    std::vector<std::string> expected = {
        "create1 0 0",          "attr88 1 0",          "savedisabled 1 0", "treesavedisabled 0 0",
        "objectonedisabled 1 0", "reopened 1 0",       "linked 1 0",       "recreateattached 0 1542",
        "freeattached 0 1542",  "free77 0 1537",       "emptytitle 0 1055", "emptytree 0 1545",
        "radiotoggle 0 1601",   "noitem 0 1543",       "nostrip 0 1544",   "display0 0 1519",
        "freetray 0 1542",      "freeuntray 0 0",      "ready",            "select open 0",
        "select large 1",
    };
    EXPECT_EQ(run.lines, expected) << run.err;
    EXPECT_EQ(Calls(run, "SetMenuBar"), std::vector<std::string>{"SetMenuBar File View"});
    // Reopened, the adapter gets the strip with the display and the saved states after it.
    std::vector<std::string> stripped = Calls(run, "OpenDisplay menu");
    ASSERT_EQ(stripped.size(), 1u);
    EXPECT_EQ(stripped[0], "OpenDisplay menu File View");
    int reopen = FirstCall(run, "OpenDisplay menu");
    bool restored = false;
    for (size_t i = (size_t)reopen; i < run.log.size(); i++)
        restored |= run.log[i] == "SetMenuAttributes save 4 0";
    EXPECT_TRUE(restored) << run.err;
    EXPECT_TRUE(Contains(Calls(run, "SetMenuAttributes"), "SetMenuAttributes large 2 0"));
    EXPECT_EQ(Calls(run, "OpenPopupMenu"),
              (std::vector<std::string>{"OpenPopupMenu One Two 200000 200000", "OpenPopupMenu One Two 10 20"}));
    EXPECT_EQ(Calls(run, "SetTrayMenu"), (std::vector<std::string>{"SetTrayMenu One Two", "SetTrayMenu none"}));
}

// An adapter without the menu capabilities refuses every menu use with 1519.
TEST(DisplaysExe, AnAdapterWithoutMenuSlotsRefusesMenus)
{
    AdapterRun run = RunApplet("menuplain", "testadapterplain");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    std::vector<std::string> expected = {"create 0", "strip 1519", "popup 1519", "tray 1519", "item 1519"};
    EXPECT_EQ(run.lines, expected) << run.err;
}

// WaitEvent waits in the adapter's WaitEvents; a 50 ms interval still fires.
TEST(DisplaysExe, WaitEventBlocksInTheAdapterWhileAnIntervalFires)
{
    AdapterRun run = RunApplet("interval");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(Contains(run.lines, "ticks 5"));
    EXPECT_GE(Calls(run, "WaitEvents").size(), 2u);
}

// The time library's waits go to an adapter whose flags say it sleeps (0x100), and
// through the event loop otherwise.
TEST(DisplaysExe, WaitSleepsInTheAdapterOnlyWhenItsFlagsSaySo)
{
    const struct {
        const char *adapter;
        size_t sleeps;
    } cases[] = {{"testadapter", 1}, {"testadapterplain", 0}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.adapter);
        AdapterRun run = RunApplet("sleep", c.adapter);
        ASSERT_EQ(run.exitCode, 0) << run.err;
        EXPECT_TRUE(Contains(run.lines, "slept"));
        EXPECT_EQ(Calls(run, "Sleep"), std::vector<std::string>(c.sleeps, "Sleep 20"));
    }
}

namespace {

// Each switch closes the adapter's display and opens it again: full screen borderless and
// fixed with the screen size in tags 7 and 8, then the window as declared; the toggle
// covers the monitor and comes back.
TEST(DisplaysExe, ModeSwitchesReopenTheDisplayThroughTheAdapter)
{
    // The ask at the end is cancelled by the scripted requester back-end.
    char dir[] = "/tmp/lv_modes_XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    std::ofstream(std::string(dir) + "/answers") << "cancel\n";
    AdapterRun run = RunApplet("modes", "testadapter", "", 20, "LV_REQUESTER_SCRIPT='" + std::string(dir) + "/answers' ");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.lines, (std::vector<std::string>{"full 0", "window 0", "toggle 0", "back 0", "mode5 1055",
                                                    "ask 1003"}))
        << run.err;
    std::vector<std::string> opens = Calls(run, "OpenDisplay");
    ASSERT_EQ(opens.size(), 5u);
    auto flagsOf = [](const std::string &line) {
        std::istringstream in(line);
        std::string word;
        long long value = 0;
        in >> word >> word;  // "OpenDisplay", the title
        for (int i = 0; i < 5; i++) in >> value;
        return value;
    };
    auto tag = [](const std::string &line, int number) {
        for (auto &t : TagsOf(line))
            if (t.first == number) return (long long)t.second;
        return -1LL;
    };
    // Full screen: borderless, fixed, the full-screen flag, the screen size.
    EXPECT_EQ(flagsOf(opens[1]) & 0x405, 0x405) << opens[1];
    EXPECT_EQ(tag(opens[1], 7), 320);
    EXPECT_EQ(tag(opens[1], 8), 240);
    // Back to the window: as declared.
    EXPECT_EQ(flagsOf(opens[2]), flagsOf(opens[0]));
    EXPECT_EQ(tag(opens[2], 7), -1);
    // Full-screen scale: borderless and fixed with a scale size; back: as declared.
    EXPECT_EQ(flagsOf(opens[3]) & 0x5, 0x5);
    EXPECT_GT(tag(opens[3], 10), 320);
    EXPECT_EQ(flagsOf(opens[4]), flagsOf(opens[0]));
    EXPECT_EQ(opens[4].substr(0, 40), opens[0].substr(0, 40));  // title, position, size, flags
}

// The asking modes put their questions to the requesters (here the scripted back-end):
// cancelling is 1003, the buttons pick the modes, the mode list offers the adapter's
// sizes as "%dx%d" and the one chosen becomes the screen size.
TEST(DisplaysExe, AskingModesQuestionTheRequestersAndFollowTheAnswers)
{
    char dir[] = "/tmp/lv_askmodes_XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    std::string base = dir;
    {
        std::ofstream answers(base + "/answers");
        answers << "cancel\nWindowed\n2\nFull screen\nWindowed\ncancel\n";
    }
    AdapterRun run = RunApplet("askmodes", "testadapter", "", 20,
                               "LV_REQUESTER_SCRIPT='" + base + "/answers' LV_REQUESTER_LOG='" + base + "/asked' ");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.lines, (std::vector<std::string>{"askcancel 1003", "askwindow 0", "pick 0", "window 0", "auto 0",
                                                    "layers 0", "autocancel 1003"}))
        << run.err;
    std::vector<std::string> asked = Lines(ReadWhole(base + "/asked"));
    const std::string body = "|Please select desired display mode!|";
    const std::string askAll = body + "Full screen (best fit)|Windowed|Full screen (manual select)|Cancel|0";
    const std::string askTwo = body + "Full screen|Windowed|Cancel|0";
    ASSERT_EQ(asked.size(), 6u);
    EXPECT_EQ(asked[0], "system|One" + askAll);
    EXPECT_EQ(asked[1], "system|One" + askAll);
    EXPECT_EQ(asked[2], "list|One" + body + "800x600,1024x600,1024x768|0");  // the first as large as 320x240
    EXPECT_EQ(asked[3], "system|One" + askTwo);
    EXPECT_EQ(asked[4], "system|One" + askTwo);
    EXPECT_EQ(asked[5], "system|One" + askTwo);
    // The chosen size is the screen size of the full-screen reopening; the automatic full
    // screen is the scaled one.
    std::vector<std::string> opens = Calls(run, "OpenDisplay");
    ASSERT_EQ(opens.size(), 5u);
    auto tag = [](const std::string &line, int number) {
        for (auto &t : TagsOf(line))
            if (t.first == number) return (long long)t.second;
        return -1LL;
    };
    EXPECT_EQ(tag(opens[1], 7), 1024) << opens[1];
    EXPECT_EQ(tag(opens[1], 8), 768);
    EXPECT_GT(tag(opens[3], 10), 320) << opens[3];
    EXPECT_EQ(opens[4].substr(0, 40), opens[0].substr(0, 40));
}

// The font attributes are the text library's current font; the pens are the palette
// library's settings.
TEST(DisplaysExe, FontAndPenAttributesComeFromTheirLibraries)
{
    AdapterRun run = RunApplet("attrs");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    ASSERT_EQ(run.lines.size(), 2u) << run.err;
    std::istringstream font(run.lines[0]);
    std::string word, ours, theirs;
    font >> word >> ours >> theirs;
    EXPECT_EQ(word, "font");
    EXPECT_FALSE(ours.empty());
    EXPECT_EQ(ours, theirs);
    EXPECT_EQ(run.lines[1], "pens 9 12");
}

}  // namespace

namespace {

// Neither test adapter scales (no flag 0x8): the runtime scales the picture into the
// letterbox of the adapter's 640x360 display, pixel for pixel.
TEST(DisplaysExe, TheRuntimeScalesForAnAdapterThatDoesNot)
{
    for (const char *adapter : {"testadapter", "testadapterplain"}) {
        SCOPED_TRACE(adapter);
        AdapterRun run = RunApplet("scaled", adapter);
        ASSERT_EQ(run.exitCode, 0) << run.err;
        std::vector<std::string> opens = Calls(run, "OpenDisplay");
        ASSERT_EQ(opens.size(), 2u);
        EXPECT_EQ(opens[1].rfind("OpenDisplay Scaled ", 0), 0u) << opens[1];
        Png png = ReadPng(run.pngDir + "/display2.png");
        ASSERT_EQ(png.width, 640);
        ASSERT_EQ(png.height, 360);
        size_t wrong = 0;
        for (int y = 0; y < 360; y++)
            for (int x = 0; x < 640; x++)
                wrong += png.argb[(size_t)y * 640 + x] != (x < 80 || x >= 560 ? 0xFF000000u : 0xFFFF8000u);
        EXPECT_EQ(wrong, 0u);
    }
}


// Double buffering asked with the hardware flag: an adapter that keeps double buffers
// (testadapterdb) is handed Cls, Flip (False means no sync) and the end, and shows what
// was flipped; one that does not (testadapter) gets the software double buffer and hears
// nothing of them. Both show the same picture in the end. Asked with False first, the
// adapter is not involved either.
TEST(DisplaysExe, HardwareDoubleBufferingGoesToTheAdapterThatOffersIt)
{
    struct Variant {
        const char *adapter;
        bool hardware;
    } variants[] = {{"testadapterdb", true}, {"testadapter", false}};
    for (const Variant &v : variants) {
        SCOPED_TRACE(v.adapter);
        AdapterRun run = RunApplet("hwdouble", v.adapter);
        ASSERT_EQ(run.exitCode, 0) << run.err;
        EXPECT_EQ(run.lines, (std::vector<std::string>{"soft 0", "begin 0", "again 1229", "cls 0", "flip 0",
                                                        "nosync 0", "end 0", "late 1244"}))
            << run.err;
        std::vector<std::string> calls;
        for (const std::string &line : run.log)
            for (const char *word : {"BeginDoubleBuffer", "Cls", "Flip", "EndDoubleBuffer"})
                if (line.rfind(std::string(word) + " ", 0) == 0) calls.push_back(line);
        if (v.hardware) {
            EXPECT_EQ(calls, (std::vector<std::string>{"BeginDoubleBuffer 1", "Cls 1 65280", "Flip 1 1=1",
                                                       "Flip 1 1=0", "EndDoubleBuffer 1"}));
            // The boxes reach the adapter's back buffer between its Cls and its Flips.
            int box = -1;
            for (size_t i = 0; i < run.log.size(); i++)
                if (run.log[i].rfind("RectFill 10 20 30 40 ", 0) == 0) box = (int)i;
            EXPECT_GT(box, FirstCall(run, "Cls"));
            EXPECT_LT(box, FirstCall(run, "Flip"));
        } else {
            EXPECT_TRUE(calls.empty()) << calls.front();
        }
        Png png = ReadPng(run.pngDir + "/display1.png");
        ASSERT_EQ(png.width, 320);
        ASSERT_EQ(png.height, 240);
        size_t wrong = 0;
        for (int y = 0; y < 240; y++)
            for (int x = 0; x < 320; x++) {
                uint32_t want = 0xFF00FF00u;
                if (x >= 10 && x < 40 && y >= 20 && y < 60) want = 0xFFFF0000u;
                if (x >= 100 && x < 105 && y >= 100 && y < 105) want = 0xFF0000FFu;
                wrong += png.argb[(size_t)y * 320 + x] != want;
            }
        EXPECT_EQ(wrong, 0u);
    }
}

// A hardware brush (the video-bitmap copy of a 4x2 brush of eight colours) drawn while
// the adapter double-buffers. With video capabilities 0x200 and 0x400 (word 0x30) a
// quarter turn and a transparency travel to the adapter in the blit descriptor (the
// matrix, the anchor, the opacity 255 - 100, the source's own unturned size) and the
// adapter draws them; with 0x200 alone a transparency gives 1498; without 0x200 the
// runtime reads the pixels back and turns them itself, and a picture it turned fades
// as a plain one (0x400 alone). Every variant shows the turned pictures on the same
// pixels as the plain brush turned by the runtime beside them; a filter on a hardware
// brush is refused in all of them.
TEST(DisplaysExe, HardwareBrushesAreTurnedAndFadedByTheAdapterThatOffersIt)
{
    struct Variant {
        const char *caps;
        bool turns, fades;  // by the adapter
    } variants[] = {{"0x30", true, true}, {"0x10", true, false}, {"0x20", false, true}, {"0", false, false}};
    const uint32_t brush[2][4] = {{0xFF0000, 0x00FF00, 0x0000FF, 0xFFFF00}, {0xFF00FF, 0x00FFFF, 0xFFFFFF, 0x808080}};
    // 155 parts of the colour over 100 of the blue Cls, rounded.
    auto faded = [](uint32_t c) {
        uint32_t out = 0xFF000000u;
        for (int shift = 0; shift < 24; shift += 8) {
            uint32_t s = (c >> shift) & 0xFF, t = shift == 0 ? 0xFF : 0;
            out |= ((s * 155 + t * 100 + 127) / 255) << shift;
        }
        return out;
    };
    ASSERT_EQ(faded(0xFF0000), 0xFF9B0064u);
    for (const Variant &v : variants) {
        SCOPED_TRACE(v.caps);
        AdapterRun run = RunApplet("hwbrush", "testadapterdb", "", 20, std::string("LVT_ADAPTER_VIDEOCAPS=") + v.caps + " ");
        ASSERT_EQ(run.exitCode, 0) << run.err;
        const std::string fade = v.fades ? " 0" : " 1498";
        EXPECT_EQ(run.lines, (std::vector<std::string>{"plain 0", "copy 0", "begin 0", "turnfade" + fade, "turn 0",
                                                        "softturn 0", "fade" + fade, "filter 1498", "hwplain 0",
                                                        "flip 0", "end 0"}))
            << run.err;
        // The copy became a video bitmap of the adapter (with no transparency), freed again.
        EXPECT_EQ(Calls(run, "AllocVideoBitMap"), (std::vector<std::string>{"AllocVideoBitMap 4 2 8"}));
        EXPECT_EQ(Calls(run, "FreeVideoBitMap").size(), 1u);
        EXPECT_EQ(Calls(run, "ReadVideoPixels").size(), v.turns ? 0u : v.fades ? 2u : 1u)
            << "the runtime turned the pixels, never for a draw it refuses";
        std::vector<std::string> transforms, blits;
        for (size_t i = 0; i < run.log.size(); i++)
            if (run.log[i].rfind("BltBitMap transform ", 0) == 0) {
                transforms.push_back(run.log[i]);
                blits.push_back(i ? run.log[i - 1] : "");
            }
        std::vector<std::string> wantTransforms, wantBlits;
        if (v.fades && v.turns) {
            // Turned about the anchor point of the picture whose corner is at (100, 100): the
            // 2x4 bounds start at (101, 99); the adapter moves them back by (2, 1).
            wantTransforms.push_back("BltBitMap transform 0 -1 1 0 offsets 0.5 0.5 opacity 155");
            wantBlits.push_back("BltBitMap 0 0 101 99 4 2 0 0 0");
        }
        if (v.turns) {
            wantTransforms.push_back("BltBitMap transform 0 -1 1 0 offsets 0.5 0.5 opacity 255");
            wantBlits.push_back("BltBitMap 0 0 201 99 4 2 0 0 0");
        }
        if (v.fades) {
            wantTransforms.push_back("BltBitMap transform 1 0 0 1 offsets 0 0 opacity 155");
            wantBlits.push_back("BltBitMap 0 0 150 50 4 2 0 0 0");
        }
        EXPECT_EQ(transforms, wantTransforms);
        EXPECT_EQ(blits, wantBlits);
        if (v.fades && !v.turns)  // the runtime's turned copy, with an alpha channel of 155
            EXPECT_EQ(FirstCall(run, "BltBitMap 0 0 99 98 2 4 0 0 1") >= 0, true);

        std::vector<uint32_t> want(320 * 240, 0xFF0000FFu);
        auto put = [&](int x, int y, uint32_t c) { want[(size_t)y * 320 + x] = 0xFF000000u | c; };
        // A quarter turn (counter-clockwise on the screen) centred on (x, y): the right
        // column of the brush comes on top.
        auto turned = [&](int x, int y, bool fadedToo) {
            for (int ty = 0; ty < 4; ty++)
                for (int tx = 0; tx < 2; tx++) {
                    uint32_t c = brush[tx][3 - ty];
                    put(x - 1 + tx, y - 2 + ty, fadedToo ? faded(c) : c);
                }
        };
        if (v.fades) turned(100, 100, true);
        turned(200, 100, false);
        turned(250, 100, false);
        for (int y = 0; y < 2; y++)
            for (int x = 0; x < 4; x++) {
                if (v.fades) put(150 + x, 50 + y, faded(brush[y][x]));
                put(20 + x, 20 + y, brush[y][x]);
            }
        Png png = ReadPng(run.pngDir + "/display1.png");
        ASSERT_EQ(png.width, 320);
        ASSERT_EQ(png.height, 240);
        std::string wrong;
        for (int y = 0; y < 240; y++)
            for (int x = 0; x < 320; x++)
                if (png.argb[(size_t)y * 320 + x] != want[(size_t)y * 320 + x] && wrong.size() < 400) {
                    char text[64];
                    std::snprintf(text, sizeof text, " (%d, %d) %08X not %08X", x, y, png.argb[(size_t)y * 320 + x],
                                  want[(size_t)y * 320 + x]);
                    wrong += text;
                }
        EXPECT_EQ(wrong, "");
    }
}

// Hardware brushes follow their display: a reopen (a borderless switch) reads their
// pixels back, frees the video bitmaps before the adapter closes the display and makes
// them again once it has reopened, so a brush drawn afterwards still shows; another
// display refuses them (1527); closing the display frees them before the adapter closes
// it, and the brush is gone (1174).
TEST(DisplaysExe, HardwareBrushesFollowTheirDisplayAcrossReopenAndClose)
{
    AdapterRun run = RunApplet("hwclose", "testadapterdb", "", 20, "LVT_ADAPTER_VIDEOCAPS=0x30 ");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.lines, (std::vector<std::string>{"red 0", "green 0", "reopen 0", "after 0", "other 0",
                                                    "elsewhere 1527", "close 0", "gone 1174"}))
        << run.err;
    // The video bitmap calls around display 1's closes and its reopening.
    std::vector<std::string> calls;
    for (const std::string &line : run.log)
        for (const char *word : {"AllocVideoBitMap", "FreeVideoBitMap", "ReadVideoPixels", "CloseDisplay", "OpenDisplay"})
            if (line.rfind(word, 0) == 0) {
                std::string what = line.substr(0, line.find(' '));
                if (what == "OpenDisplay") what += line.find("OpenDisplay One") == 0 ? " 1" : " other";
                else if (what == "CloseDisplay") what = line;
                calls.push_back(what);
            }
    // (The adapter numbers displays by opening: the reopened display 1 is its second.)
    EXPECT_EQ(calls, (std::vector<std::string>{"OpenDisplay 1", "AllocVideoBitMap", "AllocVideoBitMap",
                                               "ReadVideoPixels", "FreeVideoBitMap", "ReadVideoPixels",
                                               "FreeVideoBitMap", "CloseDisplay 1", "OpenDisplay 1",
                                               "AllocVideoBitMap", "AllocVideoBitMap", "OpenDisplay other",
                                               "FreeVideoBitMap", "FreeVideoBitMap", "CloseDisplay 2",
                                               "CloseDisplay 3"}));
    Png png = ReadPng(run.pngDir + "/display2.png");  // display 1's picture after the reopen
    ASSERT_EQ(png.width, 320);
    ASSERT_EQ(png.height, 240);
    size_t wrong = 0;
    for (int y = 0; y < 240; y++)
        for (int x = 0; x < 320; x++) {
            uint32_t want = x >= 10 && x < 14 && y >= 10 && y < 12 ? 0xFFFF0000u : 0xFF336699u;
            wrong += png.argb[(size_t)y * 320 + x] != want;
        }
    EXPECT_EQ(wrong, 0u);
}

// The mirror test plug-in next to the double-buffering adapter: rectangles in picture or
// window coordinates on an autoscaled display, the attribute slot's count (an unknown
// tag not counted; -1 once detached), a mirrored display that cannot be freed, and no
// mirror while the adapter double-buffers nor double buffering while mirrored.
TEST(DisplaysExe, MirrorsOfAPluginFollowTheDisplay)
{
    AdapterRun run = RunApplet("mirror", std::string("testadapterdb|") + LV_TESTADAPTER_DIR + "/mirrorplug");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    std::vector<std::string> lines;
    for (std::string line : run.lines) {
        while (!line.empty() && line.back() == ' ') line.pop_back();
        lines.push_back(line);
    }
    // 320x240 in 640x360: 480x360 between 80-pixel bars, 1.5 times.
    EXPECT_EQ(lines, (std::vector<std::string>{"attach 1 2 480 360", "picture 20,30,10,10", "window 110,45,15,15",
                                                "attrs 2", "free 1504", "gone -1 0", "during 0", "after 3 1523"}))
        << run.err;
}


// OpenDisplay takes the mode options: display 3 opens as a window and switches to full
// screen on the 1024x768 screen asked for; an unknown mode name is 1055 and the display
// stays closed (state 0), never reaching the adapter.
TEST(DisplaysExe, OpenDisplayTakesTheModeOptions)
{
    AdapterRun run = RunApplet("openmode");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.lines, (std::vector<std::string>{"full 0", "unknown 1055 0"})) << run.err;
    std::vector<std::string> three;
    for (const std::string &line : Calls(run, "OpenDisplay"))
        if (line.rfind("OpenDisplay Three ", 0) == 0) three.push_back(line);
    ASSERT_EQ(three.size(), 2u);
    std::istringstream in(three[1]);
    std::string word;
    long long value = 0;
    in >> word >> word;
    for (int i = 0; i < 5; i++) in >> value;
    EXPECT_EQ(value & 0x405, 0x405) << three[1];  // borderless, fixed, full screen
    std::map<int, long long> tags;
    for (auto &t : TagsOf(three[1])) tags[t.first] = t.second;
    EXPECT_EQ(tags[7], 1024);
    EXPECT_EQ(tags[8], 768);
    for (const std::string &line : Calls(run, "OpenDisplay")) EXPECT_EQ(line.find(" Four "), std::string::npos);
}

}  // namespace

// Palette displays keep pens and are presented in their palette's colours. In pen mode
// every shape, line, plot and text holds the draw pen exactly (an anti-aliased circle
// loses its anti-aliasing); in remap mode colours take their nearest pens and anti-aliased
// edges blend into in-between pens. SetPen recolours what shows; a double-buffered palette
// display clears its back buffer to the pen nearest the colour and flips pens.
TEST(DisplaysExe, PaletteDisplaysShowTheirPensThroughThePalette)
{
    AdapterRun run = RunApplet("palette");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    // Default palette: pen 2 white, 9 blue, 14 red.
    EXPECT_TRUE(Contains(run.lines, "pen 255 255 255 255 16777215")) << run.err;
    EXPECT_TRUE(Contains(run.lines, "remap 16711680 0 16777215"));
    EXPECT_TRUE(Contains(run.lines, "attrs 8 16711680"));
    EXPECT_TRUE(Contains(run.lines, "setpen 1193046"));
    EXPECT_TRUE(Contains(run.lines, "after 255 65280"));

    Png png = ReadPng(run.pngDir + "/display2.png");
    ASSERT_EQ(png.width, 64);
    ASSERT_EQ(png.height, 32);
    auto at = [&](int x, int y) { return png.argb[(size_t)y * 64 + x] & 0xFFFFFF; };
    const uint32_t blue = 0x0000FF, background = 0x123456;
    // Pen mode, the left half: nothing but the draw pen over the recoloured fill pen.
    size_t drawn = 0;
    for (int y = 0; y < 32; y++)
        for (int x = 0; x < 32; x++) {
            EXPECT_TRUE(at(x, y) == blue || at(x, y) == background) << x << "," << y;
            drawn += at(x, y) == blue;
        }
    EXPECT_EQ(at(0, 0), blue);
    EXPECT_EQ(at(9, 9), blue);
    EXPECT_EQ(at(10, 10), background);
    EXPECT_EQ(at(16, 12), blue);  // the circle's top, hard-edged
    EXPECT_EQ(at(8, 20), blue);
    EXPECT_EQ(at(20, 31), blue);  // the line's end
    EXPECT_EQ(at(21, 31), background);
    EXPECT_EQ(at(25, 0), blue);   // the plot
    int text = 0;
    for (int y = 2; y < 12; y++)
        for (int x = 22; x < 32; x++) text += at(x, y) == blue;
    EXPECT_GT(text, 10) << "the text in the draw pen";
    EXPECT_GT(drawn, 100u + 13u * 13u);
    // Remap mode: the box in red (nearest to 0xFE0101), the black circle with grey edges.
    EXPECT_EQ(at(32, 0), 0xFF0000u);
    EXPECT_EQ(at(41, 9), 0xFF0000u);
    EXPECT_EQ(at(48, 20), 0u);
    int edges = 0;
    for (int y = 12; y <= 28; y++)
        for (int x = 40; x <= 56; x++) {
            uint32_t c = at(x, y);
            bool grey = (c >> 16) == ((c >> 8) & 0xFF) && (c & 0xFF) == ((c >> 8) & 0xFF);
            edges += grey && c != 0 && c != 0xFFFFFF;
        }
    EXPECT_GT(edges, 8) << "anti-aliased edges took in-between pens";

    // The double-buffered display: green everywhere but the flipped blue box.
    Png db = ReadPng(run.pngDir + "/display3.png");
    ASSERT_EQ(db.width, 16);
    ASSERT_EQ(db.height, 8);
    for (int y = 0; y < 8; y++)
        for (int x = 0; x < 16; x++)
            EXPECT_EQ(db.argb[(size_t)y * 16 + x] & 0xFFFFFF, x < 4 && y < 4 ? blue : 0x00FF00u) << x << "," << y;
}

// Identifier 0 is the current display (display 1): every attribute answers as for 1.
TEST(DisplaysExe, AttributesOfIdentifierZeroAreTheCurrentDisplays)
{
    AdapterRun run = RunApplet("attrzero");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const std::vector<std::string> expected = {"0 320 320 0",    "1 240 240 0",  "40 1 1 0", "44 320 320 0",
                                               "51 One One 0", "67 320 320 0", "103 24 24 0"};
    EXPECT_EQ(run.lines, expected) << run.err;
}

// Sizes past the pixel ceiling (that of the image loaders), factors whose products do
// not fit, and sizes below one pixel are refused with their codes before anything is
// allocated; a far move is held at the window system's range, the record equal to what
// the adapter was told; a long creation title is cut before a whole character.
TEST(DisplaysExe, SizesFactorsAndPositionsPastTheLimitsAreRefusedOrHeld)
{
    AdapterRun run = RunApplet("sizes");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const std::vector<std::string> expected = {
        "size50000 1522 2",  "size1e300 1522 2", "sizenan 1055 2",    "size0 1055 2",       "sizeneg 1055 2",
        "create50000 1522 2", "createneg 1055 2", "factor1e300 1055 2", "factortiny 1055 2", "factorinf 1055 2",
        "createscale 1055 2", "attrscale 1055 2", "attrscale0 1055 2", "move 0 2",          "at 32767 -32767",
        std::string(254, 'a'),
    };
    EXPECT_EQ(run.lines, expected) << run.err;
    std::vector<std::string> moves = Calls(run, "SizeMoveDisplay");
    ASSERT_FALSE(moves.empty());
    EXPECT_EQ(moves.back().rfind("SizeMoveDisplay 32767 -32767 ", 0), 0u) << moves.back();
    // The refused sizes never reached the adapter.
    for (const std::string &line : Calls(run, "ChangeBufferSize")) EXPECT_EQ(line.find("50000"), std::string::npos);
}

// SetDisplayAttributes takes every style option: the own picture's size and fill (colour,
// gradient), the frame bits, the device values and the title read back through
// GetAttribute or the picture; wrong sizes and fill styles, and a menu that does not
// exist, give their codes and change nothing.
TEST(DisplaysExe, SetDisplayAttributesRoundTripsEveryStyleOption)
{
    AdapterRun run = RunApplet("setattrs");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    std::vector<std::string> expected = {
        "width 200 0",        "height 100 0",     "width0 200 1055",  "heightneg 100 1055",
        "width50000 200 1522", "borderless 1 0",  "borderless 0 0",   "fixed 1 0",
        "fixed 0 0",          "sizeable 1 0",     "sizeable 0 0",     "nohide 1 0",
        "nohide 0 0",         "nomodeswitch 1 0", "nomodeswitch 0 0", "noclose 1 0",
        "noclose 0 0",        "orientation 3 0",  "immersivemode 2 0", "title Renamed 0",
        "menunone -1 0",      "menu -1 1537",     "color 16711680 16711680 0",
        "fillstyle7 16711680 16711680 1055",
    };
    ASSERT_GE(run.lines.size(), expected.size() + 2) << run.err;
    for (size_t i = 0; i < expected.size(); i++) EXPECT_EQ(run.lines[i], expected[i]);
    // The gradient runs from green at the top-left corner to blue at the bottom-right.
    std::istringstream gradient(run.lines[expected.size()]);
    std::string name;
    long long left = 0, right = 0, code = -1;
    gradient >> name >> left >> right >> code;
    EXPECT_EQ(name, "gradient");
    EXPECT_EQ(code, 0);
    EXPECT_GT(left & 0xFF00, right & 0xFF00) << run.lines[expected.size()];
    EXPECT_LT(left & 0xFF, right & 0xFF) << run.lines[expected.size()];
    EXPECT_EQ(run.lines[expected.size() + 1], "color2 1193046 1193046 0");
    // The adapter was told of the new size and shows the last fill over all of it.
    EXPECT_TRUE(Contains(Calls(run, "ChangeBufferSize"), "ChangeBufferSize 200 100")) << run.err;
    // Frame bits open the window again: the last opening's picture is the one shown.
    size_t openings = Calls(run, "OpenDisplay").size();
    Png png = ReadPng(run.pngDir + "/display" + std::to_string(openings) + ".png");
    ASSERT_GE(png.width, 200);
    ASSERT_GE(png.height, 100);
    EXPECT_EQ(png.argb[0], 0xFF123456u);
    EXPECT_EQ(png.argb[(size_t)99 * png.width + 199], 0xFF123456u);
}

// An adapter that takes pens is handed a shown palette's change (SetPen(2, 0x123456) on
// the palette display, the second one opened) instead of a redraw of its own.
TEST(DisplaysExe, AnAdapterTakingPensGetsTheChangedPalette)
{
    AdapterRun run = RunApplet("palette", "testadapter", "", 20, "LVT_ADAPTER_PALETTE=1 ");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.log[0], "RequirePlugin InstallDisplayAdapter " + std::to_string(0x1B0500) + " 0");
    std::vector<std::string> calls = Calls(run, "SetPalette");
    ASSERT_FALSE(calls.empty()) << run.err;
    // Pens 0 and 1 of the default palette, pen 2 as set.
    std::istringstream words(calls.back());
    std::string name;
    long long display = 0, pen0 = 0, pen1 = 0, pen2 = 0, reserved = -1;
    words >> name >> display >> pen0 >> pen1 >> pen2 >> reserved;
    EXPECT_EQ(display, 2);
    EXPECT_EQ(pen2 & 0xFFFFFF, 0x123456);
    EXPECT_EQ(reserved, 0);
}

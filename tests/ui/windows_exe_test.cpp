// Runs the built runtime without a display adapter, so its displays are SDL2 windows on
// the offscreen driver: the frame each window shows when it closes (read back from its
// renderer and written as a PNG by the LV_WINDOW_FRAMES switch) and what the window
// commands report. Every run is bounded by a time limit.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>
#include <zlib.h>

namespace {

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

struct WindowRun {
    int exitCode;
    std::vector<std::string> lines;
    std::string err, dir;
};

WindowRun RunApplet(const std::string &stem, int limit = 30)
{
    char dir[] = "/tmp/lv_windows_exe_XXXXXX";
    EXPECT_NE(mkdtemp(dir), nullptr);
    WindowRun run = {-1, {}, "", dir};
    std::string command = "SDL_VIDEODRIVER=offscreen LV_WINDOW_FRAMES='" + run.dir + "' timeout --preserve-status -k 5 " +
                          std::to_string(limit) + " '" + LV_BIN_DIR + "/lumivarra' '" + LV_BUILD_DIR +
                          "/tests/ui/windows_exe/" + stem + ".lva' -QUIET >'" + run.dir + "/out' 2>'" + run.dir +
                          "/err' </dev/null";
    int status = std::system(command.c_str());
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::istringstream in(ReadWhole(run.dir + "/out"));
    for (std::string line; std::getline(in, line);) run.lines.push_back(line);
    run.err = ReadWhole(run.dir + "/err");
    return run;
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

// Pixels of a frame that differ from what a function expects, as "x,y" (at most 5).
template <class F> std::vector<std::string> Differences(const Png &png, F expected)
{
    std::vector<std::string> wrong;
    for (int y = 0; y < png.height && wrong.size() < 5; y++)
        for (int x = 0; x < png.width && wrong.size() < 5; x++)
            if (png.argb[(size_t)y * png.width + x] != expected(x, y))
                wrong.push_back(std::to_string(x) + "," + std::to_string(y));
    return wrong;
}

}  // namespace

TEST(WindowsExe, EachWindowPresentsItsPictureAndTheCommandsReport)
{
    WindowRun run = RunApplet("windows");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const std::vector<std::string> expected = {
        "open3 0", "open4 0", "move 0", "hide 0", "hidehidden 1055", "show 0", "activateclosed 1347", "fps 60",
        "beginrefresh 0", "size 0", "beginrefresh3 0", "beginrefresh3again 1055",
    };
    EXPECT_EQ(run.lines, expected) << run.err;

    // Display 1 under its new title: its colour, pixel for pixel.
    Png one = ReadPng(run.dir + "/Renamed.png");
    ASSERT_EQ(one.width, 320);
    ASSERT_EQ(one.height, 240);
    EXPECT_TRUE(Differences(one, [](int, int) { return 0xFF336699u; }).empty());
    // Display 3: a 480x360 picture between 80-pixel black bars.
    Png scaled = ReadPng(run.dir + "/Scaled.png");
    ASSERT_EQ(scaled.width, 640);
    ASSERT_EQ(scaled.height, 360);
    EXPECT_EQ(Differences(scaled, [](int x, int) { return x < 80 || x >= 560 ? 0xFF000000u : 0xFFFF8000u; }),
              std::vector<std::string>{});
    // Display 4 after ChangeDisplaySize(120, "50%"): 120x40 of its colour.
    Png plain = ReadPng(run.dir + "/Plain.png");
    ASSERT_EQ(plain.width, 120);
    ASSERT_EQ(plain.height, 40);
    EXPECT_TRUE(Differences(plain, [](int, int) { return 0xFF00FF00u; }).empty());
}

namespace {

TEST(WindowsExe, DrawingCommandsReachTheWindowThroughDoubleBufferingAndModeSwitches)
{
    WindowRun run = RunApplet("draw");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const std::vector<std::string> expected = {
        "brush 0", "flipnone 1244", "begin 0", "beginagain 1229", "flip 0", "end 0", "toggle 0", "back 0",
        "mode5 1055",
    };
    EXPECT_EQ(run.lines, expected) << run.err;
    // Back in its window after the toggle: Cls's blue with the brush flipped at (100, 100).
    Png one = ReadPng(run.dir + "/One.png");
    ASSERT_EQ(one.width, 320);
    ASSERT_EQ(one.height, 240);
    EXPECT_EQ(Differences(one,
                          [](int x, int y) {
                              return x >= 100 && x < 120 && y >= 100 && y < 110 ? 0xFFFF0000u : 0xFF0000FFu;
                          }),
              std::vector<std::string>{});
}

}  // namespace

// Pointers on a window: hot spots, standard pointers, the errors of bad sources, a freed
// shown pointer that stays until the next SetPointer (the object count), argument counts,
// and a move far beyond any window that is clamped, not undefined.
TEST(WindowsExe, PointersAreMadeShownFreedAndMoved)
{
    WindowRun run = RunApplet("pointers");
    std::vector<std::string> expected = {
        "brush 0",        "width 8 0",     "height 4 0",       "kind 2 0",          "unknownattr Nil 1080",
        "busywidth 32 0", "busykind 1 0",  "stdsource2 1055",  "badtype 1055",      "sprite 1219",
        "shown 1 0",      "freeshown 0",   "afterfree -1 0",   "count 2 0",         "reuse 0",
        "countafterset 2 0", "freemissing 1320", "hide 0",     "showarg 0",         "movefar 0",
    };
    EXPECT_EQ(run.lines, expected) << run.err;
    EXPECT_NE(run.err.find("Too many arguments"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("HidePointer"), std::string::npos) << run.err;
}

// A display's menu strip on its own window: the window grows by the strip, which shows
// the panel with the titles' ink in its middle rows, and the picture lies unchanged below.
TEST(WindowsExe, AMenuStripSitsAboveThePictureAndGrowsTheWindow)
{
    WindowRun run = RunApplet("menustrip");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.lines, std::vector<std::string>{"strip 0"}) << run.err;
    Png one = ReadPng(run.dir + "/One.png");
    ASSERT_EQ(one.width, 320);
    ASSERT_EQ(one.height, 240 + 22);
    int ink = 0;
    for (int y = 0; y < 22; y++)
        for (int x = 0; x < 320; x++) {
            uint32_t p = one.argb[(size_t)y * 320 + x];
            if (y < 2 || x >= 160) ASSERT_EQ(p, 0xFFF0F0F0u) << x << "," << y;  // beyond the titles
            ink += p != 0xFFF0F0F0u;
        }
    EXPECT_GT(ink, 30);  // "File", "Go" and "Off" were drawn
    for (int y = 22; y < 262; y++)
        for (int x = 0; x < 320; x++) ASSERT_EQ(one.argb[(size_t)y * 320 + x], 0xFF336699u) << x << "," << y;
}

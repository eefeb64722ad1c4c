// Runs the built runtime on an applet that walks the graphics library's edge
// table: colour words, mixing, boxes, matrices, form and fill styles, the
// gradient table's errors and round trip, argument errors, image probes,
// unknown filters and random colours. Each case prints one line.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <sstream>
#include <string>
#include <sys/wait.h>

namespace {

// Runs build/tests/raster/graphics/<stem>.lva under a time limit; the lines
// it printed, keyed by their first word.
std::map<std::string, std::string> RunApplet(const std::string &stem, int *exitCode) {
    std::string command = "SDL_VIDEODRIVER=offscreen SDL_AUDIODRIVER=dummy timeout -k 5 30 '" + std::string(LV_BIN_DIR) +
                          "/lumivarra' '" + LV_BUILD_DIR + "/tests/raster/graphics/" + stem + ".lva' 2>&1 </dev/null";
    std::map<std::string, std::string> lines;
    FILE *out = popen(command.c_str(), "r");
    if (!out) return lines;
    std::string text;
    char buffer[4096];
    size_t got;
    while ((got = fread(buffer, 1, sizeof buffer, out)) > 0) text.append(buffer, got);
    int status = pclose(out);
    *exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        size_t space = line.find_first_of(" \t");
        lines[line.substr(0, space)] = space == std::string::npos ? "" : line.substr(line.find_first_not_of(" \t", space));
    }
    return lines;
}

TEST(GraphicsExe, EdgeTable) {
    int exitCode = -1;
    auto lines = RunApplet("graphics_edges", &exitCode);
    ASSERT_EQ(exitCode, 0);
    const std::map<std::string, std::string> expected = {
        {"rgb", "19660800"},                    // RGB(300, 0, 0): not clamped
        {"argb", "3238002687"},                 // 0xC0FFFFFF: the high byte OR-ed in
        {"mix", "254"},                         // ratio 255 stops one short
        {"mixpercent", "126"},                  // "50%" of 255
        {"mix256", "1055"},
        {"mixneg", "1055"},
        {"touch", "0 0 0 0"},                   // boxes that only touch
        {"overlap", "9 0 1 10"},
        {"m0", "1 0 0 1"},
        {"same450", "1"},                       // 450 degrees is 90, bit for bit
        {"box", "10 20 101 51"},                // width and height count corner pixels
        {"formacc", "96"},                      // SHADOW after BORDER keeps both
        {"formnormal", "1"},
        {"shadow", "32 16711680 64 3"},         // size 100 clamped to 64
        {"linewidth", "1"},                     // SetFillStyle(FILLNONE, 0)
        {"onestop", "1055"},
        {"noposition", "1014"},
        {"stops65", "1066"},
        {"notnumber", "1189"},
        {"lasterror", "0"},
        {"unknownstyle", "1055"},
        {"linewidth0", "1055"},
        {"ispicture", "0 8 0"},                 // a missing file: not found, IMGFMT_UNKNOWN
        {"filter", "1444"},
        {"randomrest", "0"},                    // every byte of 24 colours a multiple of 17
    };
    for (const auto &[key, value] : expected) EXPECT_EQ(lines[key], value) << key;
    // The gradient's round trip: type, style, colours, angle, centre (x set to 0.25),
    // balance, border, then the stops {RED, 0, BLUE, 1}.
    const std::string &g = lines["gradient"];
    EXPECT_EQ(g.substr(0, g.find("Table")), "2 3 3 65280 255 0 0.25 0.5 0.5 0 ");
    EXPECT_EQ(g.substr(g.rfind(' ', g.size() - 14) + 1), "16711680 0 255 1");
    EXPECT_EQ(lines["m450"], lines["m90"]);
}

TEST(GraphicsExe, RaisedArgumentErrorsEndTheRun) {
    struct Case {
        const char *stem, *message;
    } cases[] = {
        {"args_few", "Not enough arguments!"},
        {"args_many", "Too many arguments for this function!"},
        {"matrix_not_table", "Table expected in argument 3!"},
        {"collision_args", "Not enough arguments!"},
    };
    for (const auto &c : cases) {
        int exitCode = -1;
        auto lines = RunApplet(c.stem, &exitCode);
        EXPECT_NE(exitCode, 0) << c.stem;
        std::string all;
        for (auto &[k, v] : lines) all += k + " " + v + "\n";
        EXPECT_NE(all.find(c.message), std::string::npos) << c.stem << ": " << all;
    }
}

// Collision as a script meets it: the box test answers at once; unknown types,
// missing layers, brushes and sprites give their errors.
TEST(GraphicsExe, CollisionBoxesAndErrors) {
    int exitCode = -1;
    auto lines = RunApplet("collision", &exitCode);
    ASSERT_EQ(exitCode, 0);
    const std::map<std::string, std::string> expected = {
        {"overlap", "1"},       // one shared pixel column
        {"touching", "0"},      // x2 = 10: edges only touch
        {"below", "0"},
        {"unknowntype", "1055"},
        {"nolayers", "1078"},   // layers are not enabled
        {"nolayersbox", "1078"},
        {"nobrush", "1174"},
        {"nosprite", "1220"},
    };
    for (const auto &[key, value] : expected) EXPECT_EQ(lines[key], value) << key;
}

}  // namespace

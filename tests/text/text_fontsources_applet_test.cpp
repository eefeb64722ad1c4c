// The runtime executable runs two assembled applets: one cuts fonts out of
// created brushes with CreateFont (text_fixtures/text_imagefonts.lvs), the
// other opens the fonts of the "fonts" test plug-in through the "plugin"
// loader (text_fixtures/text_pluginfonts.lvs). Each prints one line a case.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <sstream>
#include <string>

namespace {

struct AppletRun {
    std::string text;
    std::map<std::string, std::string> lines; // by first word
    int exitCode = -1;
};

AppletRun RunApplet(const std::string &applet, const std::string &extra)
{
    AppletRun run;
    std::string command = "SDL_VIDEODRIVER=offscreen SDL_AUDIODRIVER=dummy timeout -k 5 60 '" +
                          std::string(LV_BIN_DIR) + "/lumivarra' '" + applet + "' " + extra + " 2>&1 </dev/null";
    FILE *out = popen(command.c_str(), "r");
    if (!out) return run;
    char buffer[4096];
    size_t got;
    while ((got = fread(buffer, 1, sizeof buffer, out)) > 0) run.text.append(buffer, got);
    int status = pclose(out);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.text.erase(std::remove(run.text.begin(), run.text.end(), '\r'), run.text.end());
    std::istringstream in(run.text);
    for (std::string line; std::getline(in, line);) {
        size_t space = line.find(' ');
        run.lines[line.substr(0, space)] = space == std::string::npos ? "" : line.substr(space + 1);
    }
    return run;
}

TEST(FontSourcesApplet, CreateFontCutsFontsFromBrushes)
{
    AppletRun run = RunApplet(LV_IMAGEFONTS_APPLET, "");
    ASSERT_EQ(run.exitCode, 0) << run.text;
    const std::map<std::string, std::string> expected = {
        // Ten characters in four columns need three rows of 2 and two row gaps: 8 rows, and
        // 4 x 3 + 3 gaps = 15 columns; a brush one pixel short either way is refused.
        {"brush", "0"}, {"fits", "0"}, {"brushshort", "0"}, {"short", "1156"}, {"brushlow", "0"}, {"low", "1156"},
        {"type", "3"}, {"engine", "0"}, {"height", "2"}, {"ascender", "1"}, {"name", "Font"},
        {"use", "0"}, {"width", "12"}, {"widthout", "6"},
        // Widths by position; entries past the four characters are ignored.
        {"widths", "0"}, {"use4", "0"}, {"width4", "6"}, {"name4", "Narrow"}, {"ascender4", "0"},
        {"negative", "1055"}, {"nottable", "1598"}, {"zerocols", "1055"}, {"empty", "1055"},
        // Closing the object of the current image font removes only the object: the font
        // stays valid and current (topaz would measure 24).
        {"close4", "0"}, {"aftertopaz", "9"},
        {"replace", "0"}, {"type1", "3"},
    };
    for (const auto &[label, value] : expected) EXPECT_EQ(run.lines[label], value) << label << "\n" << run.text;
    EXPECT_NE(run.lines["nobrush"], "0");
    EXPECT_NE(run.lines["nobrush"], "");
}

TEST(FontSourcesApplet, PluginFontsLoadThroughThePluginLoader)
{
    AppletRun run = RunApplet(LV_PLUGINFONTS_APPLET, std::string("-plugin '") + LV_FONTS_PLUGIN + "'");
    ASSERT_EQ(run.exitCode, 0) << run.text;
    const std::map<std::string, std::string> expected = {
        {"loadplugin", "0"}, {"mono", "0"}, {"monotype", "4"}, {"monoengine", "6"}, {"monodepth", "1"}, {"monoformat", "TESTFONT"},
        {"monoheight", "10"}, {"monoascender", "9"}, {"monowidth", "15"}, {"monokern", "-2"},
        {"aa", "0"}, {"aadepth", "8"}, {"aascalable", "1"}, {"aawidth", "12"},
        {"pens", "0"}, {"pensdepth", "4"}, {"penstransparent", "0"},
        // The plug-in's answer for the Vera face is refused: the built-in engine opens it.
        {"refused", "0"}, {"refusedengine", "4"}, {"pluginonly", "1064"}, {"unknown", "1064"},
        {"again", "0"}, {"opened", "0"}, {"openedheight", "14"},
    };
    for (const auto &[label, value] : expected) EXPECT_EQ(run.lines[label], value) << label << "\n" << run.text;
    // Refused answers are freed at once; the cache shares the second TestMono.
    EXPECT_NE(run.text.find("fontplugin freed Bitstream Vera Sans"), std::string::npos) << run.text;
    EXPECT_NE(run.text.find("fontplugin freed Bitstream Vera Serif"), std::string::npos) << run.text;
    size_t loads = 0;
    for (size_t at = 0; (at = run.text.find("fontplugin loaded TestMono", at)) != std::string::npos; at++) loads++;
    EXPECT_EQ(loads, 1u) << run.text;
}

} // namespace

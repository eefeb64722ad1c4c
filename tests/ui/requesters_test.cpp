// The requester engine in C++: the text helpers, the button and font tables, and the
// scripted back-end answering through the routing functions.
#include "ui/requesters.h"
#include "base/lverrors.h"
#include "runtime/lvplugin.h"
#include "runtime/plugin.h"

#include <gtest/gtest.h>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

TEST(RequesterHelpers, PatternToFilter)
{
    struct Case {
        const char *pattern, *filter;
    } cases[] = {{"", "*.*"},         {"*", "*.*"},      {"#?", "*.*"},
                 {"png", "*.png"},    {"png|jpg|.gif", "*.png;*.jpg;*.gif"},
                 {"|png||", "*.png"}, {".tar.gz", "*.tar.gz"}};
    for (const Case &c : cases) EXPECT_EQ(PatternToFilter(c.pattern), c.filter) << c.pattern;
}

TEST(RequesterHelpers, IsNumberText)
{
    struct Case {
        const char *text;
        int number;
    } cases[] = {{"", 1},    {".", 1},   {"-", 1},    {"-.", 1},   {"12", 1},  {"-1.5", 1}, {"12a", 0},
                 {"1.2.3", 0}, {"--1", 0}, {"1-", 0}, {" 1", 0}, {"+1", 0}, {"0.", 1}};
    for (const Case &c : cases) EXPECT_EQ(IsNumberText(c.text), c.number) << c.text;
}

TEST(RequesterHelpers, CutKeepsWholeCharacters)
{
    struct Case {
        const char *text;
        size_t max, kept;
    } cases[] = {{"h\xC3\xA9llo", 2, 1}, {"h\xC3\xA9llo", 3, 3}, {"abcdef", 3, 3},
                 {"ab", 5, 2},           {"\xE2\x82\xAC", 2, 0}, {"a\xF0\x9F\x98\x80", 4, 1}};
    for (const Case &c : cases) EXPECT_EQ(CutAtCharacter(c.text, c.max), c.kept) << c.text << " " << c.max;
}

TEST(RequesterHelpers, ButtonSetsFlagsAndChoices)
{
    struct Case {
        const char *buttons;
        int icon;
        uint32_t flags;
        std::vector<int> choices;  // for pressed -1 (Escape), 0, 1, 2 ...
    } cases[] = {
        {"OK", 0, 1 | 0x20, {0, 0}},
        {"ok|cancel", 1, 2 | 0x40, {0, 1, 0}},
        {"Yes|No", 4, 4 | 0x200, {0, 1, 0}},
        {"Yes|No|Cancel", 3, 8 | 0x100, {0, 1, 2, 0}},
        {"A|B|C", 2, 16 | 0x80, {0, 1, 2, 0}},
        {"Only", 9, 16, {0, 0}},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(SystemRequestFlags(c.buttons, c.icon), c.flags) << c.buttons;
        for (size_t i = 0; i < c.choices.size(); i++)
            EXPECT_EQ(ChoiceFromButton(c.buttons, (int)i - 1), c.choices[i]) << c.buttons << " " << i;
    }
}

TEST(RequesterHelpers, FontAnswers)
{
    lvFontAnswer f;
    ParseFontAnswer("Sans|12|255", 1u << 16, &f);
    EXPECT_EQ(f.family, "Sans");
    EXPECT_EQ(f.size, 12);
    EXPECT_EQ(f.colour, 255);
    EXPECT_EQ(f.bold, 1);
    EXPECT_EQ(f.weight, 80);
    EXPECT_EQ(FontDisplayName(f), "Sans");
    ParseFontAnswer("Sans|12|0", 0x40 | 0x1000, &f);  // weight 180, slant 100
    EXPECT_EQ(f.weight, 180);
    EXPECT_EQ(f.slant, 100);
    EXPECT_EQ(FontDisplayName(f), "Sans Semibold Semi-bold Semi Demibold Demi-bold Demi Italic");
    std::string longName(300, 'x');
    ParseFontAnswer(longName.c_str(), 0, &f);
    EXPECT_EQ(f.family.size(), 255u);
}

// ---- The scripted back-end ---------------------------------------------------------------

class ScriptedRequesters : public testing::Test {
protected:
    std::string answers, log;
    void SetUp() override
    {
        char dir[] = "/tmp/lv_requesters_XXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        answers = std::string(dir) + "/answers";
        log = std::string(dir) + "/log";
    }
    void Answer(const std::vector<std::string> &lines)
    {
        std::ofstream out(answers);
        for (const std::string &l : lines) out << l << "\n";
        out.close();
        SetScriptedRequesterFiles(answers.c_str(), log.c_str());
        ASSERT_EQ(InitRequesters(), 0);
        ASSERT_STREQ(RequesterBackend()->name, "script");
    }
    std::vector<std::string> Log()
    {
        std::ifstream in(log);
        std::vector<std::string> lines;
        for (std::string l; std::getline(in, l);) lines.push_back(l);
        return lines;
    }
    void TearDown() override
    {
        SetScriptedRequesterFiles(nullptr, nullptr);
        ShutdownRequesters();
        LastRequestedFile().clear();
        LastRequestedPath().clear();
    }
};

TEST_F(ScriptedRequesters, SystemChoicesByButtonLabel)
{
    struct Case {
        const char *buttons, *answer;
        int choice;
    } cases[] = {{"Yes|No|Cancel", "No", 2}, {"Yes|No|Cancel", "cancel", 0}, {"A|B|C", "a", 1},
                 {"A|B|C", "B", 2},         {"A|B|C", "C", 0},              {"OK|Cancel", "OK", 1}};
    std::vector<std::string> lines;
    for (const Case &c : cases) lines.push_back(c.answer);
    Answer(lines);
    for (const Case &c : cases) {
        int choice = -5;
        EXPECT_EQ(RouteSystemRequest(nullptr, nullptr, "T", "B", c.buttons, 0, 1, &choice), 0);
        EXPECT_EQ(choice, c.choice) << c.buttons << " " << c.answer;
    }
    int choice;
    // No answer left: at once, an error.
    EXPECT_EQ(RouteSystemRequest(nullptr, nullptr, "T", "B", "OK", 0, 1, &choice), ERR_UNSUPPORTEDFEAT);
    EXPECT_EQ(Log()[0], "system|T|B|Yes|No|Cancel|0");
}

TEST_F(ScriptedRequesters, FilesKeepEachFullPathAndTheLastChoice)
{
    Answer({"/a/one.txt|/b/two.txt", "/c/three.png", "cancel", std::string("/") + std::string(1100, 'x')});
    std::vector<std::string> paths;
    lvFileFilter png = {nullptr, "Pictures", "png|jpg", "", 0};
    ASSERT_EQ(RouteFileRequest(nullptr, nullptr, "T", "txt", 1, 0, nullptr, nullptr, nullptr, nullptr, 1, &paths), 0);
    // Files from two folders stay in their folders.
    EXPECT_EQ(paths, (std::vector<std::string>{"/a/one.txt", "/b/two.txt"}));
    EXPECT_EQ(LastRequestedFile(), "/a/one.txt");
    ASSERT_EQ(RouteFileRequest(nullptr, nullptr, "T", "", 0, 0, "/c", "x.png", &png, nullptr, 1, &paths), 0);
    EXPECT_EQ(paths, (std::vector<std::string>{"/c/three.png"}));
    ASSERT_EQ(RouteFileRequest(nullptr, nullptr, "T", "", 0, 0, nullptr, nullptr, nullptr, nullptr, 1, &paths), 0);
    EXPECT_TRUE(paths.empty());
    EXPECT_EQ(LastRequestedFile(), "/c/three.png");
    // A path too long for the script's 1024-byte fields is refused, never cut.
    EXPECT_EQ(RouteFileRequest(nullptr, nullptr, "T", "", 0, 0, nullptr, nullptr, nullptr, nullptr, 1, &paths),
              ERR_WRONGUSAGE);
    std::vector<std::string> log = Log();
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log[0], "file|T|*.txt|1|||");
    EXPECT_EQ(log[1], "file|T|*.*|0|/c|x.png|Pictures:*.png;*.jpg");
}

TEST_F(ScriptedRequesters, StringTypingNumericalAndMaximumLength)
{
    Answer({"12a", "-1.5", "h\xC3\xA9llo", "<ok>", "cancel"});
    std::string out;
    int confirmed;
    ASSERT_EQ(RouteStringRequest(nullptr, nullptr, "T", "B", "", 3, 0, 0, nullptr, 1, &out, &confirmed), 0);
    EXPECT_EQ(out, "12");  // the letter is refused as the field would refuse it
    ASSERT_EQ(RouteStringRequest(nullptr, nullptr, "T", "B", "", 3, 0, 0, nullptr, 1, &out, &confirmed), 0);
    EXPECT_EQ(out, "-1.5");
    ASSERT_EQ(RouteStringRequest(nullptr, nullptr, "T", "B", "", 0, 2, 0, nullptr, 1, &out, &confirmed), 0);
    EXPECT_EQ(out, "h");  // not half an e-acute
    ASSERT_EQ(RouteStringRequest(nullptr, nullptr, "T", "B", "dflt", 0, 0, 1, nullptr, 1, &out, &confirmed), 0);
    EXPECT_EQ(out, "dflt");
    EXPECT_EQ(confirmed, 1);
    ASSERT_EQ(RouteStringRequest(nullptr, nullptr, "T", "B", "dflt", 0, 0, 0, nullptr, 1, &out, &confirmed), 0);
    EXPECT_EQ(out, "");
    EXPECT_EQ(confirmed, 0);
    EXPECT_EQ(Log()[3], "string|T|B|dflt|0|0|1");
}

TEST_F(ScriptedRequesters, ListFontColourPath)
{
    Answer({"2", "cancel", "DejaVu Sans|14|700|1", "0x336699", "cancel", "/home/x", "cancel"});
    std::string items("a\0b\0c\0\0", 7);
    int index;
    ASSERT_EQ(RouteListRequest(nullptr, nullptr, "T", "B", items, 1, nullptr, 1, &index), 0);
    EXPECT_EQ(index, 2);
    ASSERT_EQ(RouteListRequest(nullptr, nullptr, "T", "B", items, -1, nullptr, 1, &index), 0);
    EXPECT_EQ(index, -1);
    lvFontAnswer font;
    ASSERT_EQ(RouteFontRequest(nullptr, nullptr, "T", "Sans", 12, nullptr, 1, &font), 0);
    EXPECT_EQ(font.family, "DejaVu Sans");
    EXPECT_EQ(font.size, 14);
    EXPECT_EQ(font.weight, 200);  // 600 and above is bold
    EXPECT_EQ(font.slant, 100);
    EXPECT_EQ(font.bold, 1);
    EXPECT_EQ(font.italic, 1);
    EXPECT_EQ(font.underline, 0);
    int32_t colour;
    ASSERT_EQ(RouteColorRequest(nullptr, nullptr, "T", -1, nullptr, 1, &colour), 0);
    EXPECT_EQ(colour, 0x336699);
    ASSERT_EQ(RouteColorRequest(nullptr, nullptr, "T", 5, nullptr, 1, &colour), 0);
    EXPECT_EQ(colour, -1);
    std::string folder;
    int chosen;
    ASSERT_EQ(RoutePathRequest(nullptr, nullptr, "T", 0, nullptr, nullptr, 1, &folder, &chosen), 0);
    EXPECT_EQ(folder, "/home/x");
    EXPECT_EQ(LastRequestedPath(), "/home/x");
    ASSERT_EQ(RoutePathRequest(nullptr, nullptr, "T", 0, "/tmp", nullptr, 1, &folder, &chosen), 0);
    EXPECT_EQ(chosen, 0);
    EXPECT_EQ(LastRequestedPath(), "/home/x");
    EXPECT_EQ(Log()[0], "list|T|B|a,b,c|1");
}

// Plug-ins ask through the same routing: the choice, and paths copied only when whole.
TEST_F(ScriptedRequesters, PluginInterfaceSlotsRouteLikeTheScript)
{
    const lvApiRequesters *slots = GetPluginApi()->requesters;
    SetPluginRequesterEntries(nullptr);
    char buffer[16] = "junk";
    EXPECT_EQ(slots->SystemRequest("T", "B", "Yes|No"), 0);
    EXPECT_EQ(slots->FileRequest("T", nullptr, buffer, sizeof buffer), 0);
    EXPECT_STREQ(buffer, "");
    InstallPluginRequesterEntries();
    Answer({"No", "Yes", "/a/b.txt", "/a/much/too/long/for/it.txt", "cancel", "/folder"});
    EXPECT_EQ(slots->SystemRequest("T", "B", "Yes|No"), 0);
    EXPECT_EQ(slots->SystemRequest("T", "B", "Yes|No"), 1);
    EXPECT_EQ(slots->FileRequest("Open", "txt", buffer, sizeof buffer), 1);
    EXPECT_STREQ(buffer, "/a/b.txt");
    EXPECT_EQ(slots->FileRequest("Open", nullptr, buffer, sizeof buffer), 0);
    EXPECT_STREQ(buffer, "");
    EXPECT_EQ(slots->PathRequest("Folder", buffer, sizeof buffer), 0);
    EXPECT_EQ(slots->PathRequest("Folder", buffer, sizeof buffer), 1);
    EXPECT_STREQ(buffer, "/folder");
    // Nothing left to answer: no choice, nothing chosen.
    EXPECT_EQ(slots->SystemRequest("T", "B", "Yes|No"), 0);
    std::vector<std::string> log = Log();
    ASSERT_GE(log.size(), 3u);
    EXPECT_EQ(log[2], "file|Open|*.txt|0|||");
    SetPluginRequesterEntries(nullptr);
}

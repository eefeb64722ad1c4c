// Requester applets run by the built runtime: against the test requester adapter (the
// calls it logs with their flags and tags, and the answers turned into script values),
// and against the scripted platform back-end.
#include <gtest/gtest.h>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

std::vector<std::string> ReadLines(const std::string &path)
{
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string l; std::getline(in, l);) lines.push_back(l);
    return lines;
}

struct AppletRun {
    int exitCode;
    std::vector<std::string> out, log;
    std::string err;
};

// Runs build/tests/ui/requesters_exe/<stem>.lva with the answers; adapter: the test
// requester adapter is required, else the scripted back-end answers.
AppletRun RunApplet(const std::string &stem, const std::vector<std::string> &answers, bool adapter)
{
    char dir[] = "/tmp/lv_requesters_exe_XXXXXX";
    EXPECT_NE(mkdtemp(dir), nullptr);
    std::string base = dir;
    {
        std::ofstream out(base + "/answers");
        for (const std::string &a : answers) out << a << "\n";
    }
    std::string command = adapter ? "LVT_REQUESTER_ANSWERS='" + base + "/answers' LVT_REQUESTER_LOG='" + base + "/log' "
                                   : "LV_REQUESTER_SCRIPT='" + base + "/answers' LV_REQUESTER_LOG='" + base + "/log' ";
    command += "timeout --preserve-status -k 5 20 '" + std::string(LV_BIN_DIR) + "/lumivarra' '" + LV_BUILD_DIR +
               "/tests/ui/requesters_exe/" + stem + ".lva'";
    if (adapter) command += " -REQUIREPLUGINS '" + std::string(LV_TESTPLUGIN_DIR) + "/testrequester'";
    command += " -QUIET >'" + base + "/out' 2>'" + base + "/err' </dev/null";
    int status = std::system(command.c_str());
    AppletRun run;
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.out = ReadLines(base + "/out");
    run.log = ReadLines(base + "/log");
    std::ifstream err(base + "/err");
    std::stringstream s;
    s << err.rdbuf();
    run.err = s.str();
    return run;
}

}  // namespace

TEST(RequestersExe, AdapterCallsCarryFlagsAndTagsAndAnswersBecomeValues)
{
    AppletRun run = RunApplet("requests",
                        {"1", "/x/a.png|/y/b.jpg", "/z/c.png", "typed", "2", "Sans|12|255#65536", "0x112233", "cancel"},
                        true);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    std::vector<std::string> expectedOut = {
        "system 1", "files /x/a.png /y/b.jpg ", "file /z/c.png", "string typed 1", "list 2", "font Sans 12 1 80 255",
        "color 1122867", "path "};
    EXPECT_EQ(run.out, expectedOut);
    std::vector<std::string> calls;
    for (const std::string &l : run.log)
        if (l.rfind("RequirePlugin", 0) != 0) calls.push_back(l);
    std::vector<std::string> expectedLog = {
        "SystemRequest - \"Title\" \"Body\" 144 1=1 2=\"A|B|C\"",  // custom set 16, error icon 0x80
        "FileRequest - \"Files\" 1 1=1 2=\"png|jpg\" 3=\"/start\"",
        "FreeRequest 0",
        "FileRequest - \"Again\" 0 1=1 3=\"/x\" 4=\"a.png\"",  // the folder and name of the last choice
        "FreeRequest 0",
        "StringRequest - \"T\" \"B\" 0 1=1 2=\"h\" 3=2",  // cut before the two-byte character
        "FreeRequest 2",
        "ListRequest - \"applet\" \"Pick\" [x,y,z] 1=1",  // active 99 of three: no tag 2
        "FontRequest - \"Font\" 1=1 2=\"Serif\" 3=10",
        "FreeRequest 3",
        "ColorRequest - \"C\" 1=1 2=65280",
        "PathRequest - \"P\" 0 1=1 2=\"/somewhere\"",
    };
    EXPECT_EQ(calls, expectedLog);
}

TEST(RequestersExe, RequestersTheAdapterDoesNotDeclareGoToThePlatform)
{
    // Flags 0x2: only the system requester is the adapter's; the file requester goes to the
    // desktop row, which has no file dialog in this build: 1288 at once.
    setenv("LVT_REQUESTER_FLAGS", "2", 1);
    AppletRun run = RunApplet("requests", {"1"}, true);
    unsetenv("LVT_REQUESTER_FLAGS");
    EXPECT_NE(run.exitCode, 0);
    ASSERT_GE(run.out.size(), 1u);
    EXPECT_EQ(run.out[0], "system 1");
    EXPECT_NE(run.err.find("not supported on this platform"), std::string::npos) << run.err;
}

TEST(RequestersExe, ScriptedBackEndAnswersLikeADesktop)
{
    AppletRun run = RunApplet("requests",
                        {"B", "/x/a.png|/y/b.jpg", "cancel", "héllo", "0", "DejaVu Sans|11|700|1", "0x010203", "/d"},
                        false);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    std::vector<std::string> expectedOut = {"system 2",        "files /x/a.png /y/b.jpg ", "file ",
                                            "string h 1",      "list 0",
                                            "font DejaVu Sans Bold Italic 11 1 200 0", "color 66051", "path /d"};
    EXPECT_EQ(run.out, expectedOut);
    ASSERT_GE(run.log.size(), 3u);
    EXPECT_EQ(run.log[0], "system|Title|Body|A|B|C|2");
    EXPECT_EQ(run.log[1], "file|Files|*.png;*.jpg|1|/start||");
    EXPECT_EQ(run.log[2], "file|Again|*.*|0|/x|a.png|");
}

TEST(RequestersExe, RefusedArguments)
{
    AppletRun run = RunApplet("badrequests", {}, true);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, (std::vector<std::string>{"1055", "1055", "1055", "1573", "1288"}));
    for (const std::string &l : run.log) EXPECT_EQ(l.rfind("RequirePlugin", 0), 0u) << "nothing reached the adapter: " << l;
}

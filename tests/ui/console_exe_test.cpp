// The console library as a user meets it: applets run by the built runtime, over pipes
// (printing, lines, encodings, the debug file, advanced mode without a terminal) and on
// a pseudo-terminal (keys without Enter or echo, the terminal's mode kept, a stop signal
// during a key wait).
#include "tests/stop_budget.h"
#include "tests/ui/console_run.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>

namespace {

std::string ReadFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

size_t Utf8Chars(const std::string &text)
{
    size_t n = 0;
    for (unsigned char c : text)
        if ((c & 0xC0) != 0x80) n++;
    return n;
}

}  // namespace

TEST(ConsoleExe, PlainPrintingJoinsValuesAndPrintsTextAsItStands)
{
    PipeRun run = RunOverPipes({ConsoleApplet("print")}, "");
    EXPECT_EQ(run.exitCode, 0);
    // Values as tostring renders them; "%" once; 233 as one UTF-8 character; the console
    // flag 0/1/0; DecomposeConsoleChr works in plain mode (bold reports standout too); an
    // advanced command in plain mode is refused with 1676.
    EXPECT_EQ(run.out, "1 a 1\n100%\n\xC3\xA9\nxy\n0\n1\n0\n65 130 0\n1676\n");
}

TEST(ConsoleExe, LinesLoseTheirLineEndsAndLongLinesComeIn2048CharacterPieces)
{
    std::string longLine;
    for (int i = 0; i < 3000; i++) longLine += "\xC3\xA9";
    PipeRun run = RunOverPipes({ConsoleApplet("prompt")}, "Ann\r\n" + longLine + "\n");
    ASSERT_EQ(run.exitCode, 0);
    std::vector<std::string> texts;
    for (size_t at = 0; (at = run.out.find('[', at)) != std::string::npos;) {
        size_t end = run.out.find(']', at);
        ASSERT_NE(end, std::string::npos);
        texts.push_back(run.out.substr(at + 1, end - at - 1));
        at = end;
    }
    ASSERT_EQ(texts.size(), 3u) << run.out;
    EXPECT_EQ(texts[0], "Ann");
    EXPECT_EQ(Utf8Chars(texts[1]), 2048u);
    EXPECT_EQ(Utf8Chars(texts[2]), 952u);
    EXPECT_EQ(texts[1] + texts[2], longLine) << "characters were lost or broken at the cut";
}

TEST(ConsoleExe, TheEndOfInputGivesTheLastLineThenEmptyLines)
{
    PipeRun run = RunOverPipes({ConsoleApplet("prompt")}, "Bo");
    ASSERT_EQ(run.exitCode, 0);
    EXPECT_NE(run.out.find("[Bo]"), std::string::npos) << run.out;
    size_t empty = 0;
    for (size_t at = 0; (at = run.out.find("[]", at)) != std::string::npos; at++) empty++;
    EXPECT_EQ(empty, 2u) << run.out;
}

TEST(ConsoleExe, Latin1AppletsPrintUtf8OnStandardOutputAndTheirOwnBytesToAFile)
{
    PipeRun run = RunOverPipes({ConsoleApplet("latin1")}, "\xC3\xA9\n");
    ASSERT_EQ(run.exitCode, 0);
    // "é" and ConsolePrintChr(233) as UTF-8; 0x263A has no ISO-8859-1 form; the typed "é"
    // arrives as the one byte E9 and prints as UTF-8 again.
    EXPECT_EQ(run.out, "\xC3\xA9\n\xC3\xA9?\n1 \xC3\xA9\n");

    std::string log = "/tmp/lv_console_latin1_" + std::to_string(getpid()) + ".log";
    run = RunOverPipes({ConsoleApplet("latin1"), "-DEBUGDEVICE", "::file" + log}, "\xC3\xA9\n");
    EXPECT_EQ(run.exitCode, 0);
    // After the banner lines that a debug device brings.
    std::string text = ReadFile(log);
    std::string expected = "done\n\xE9\n\xE9?\n1 \xE9\n";
    ASSERT_GE(text.size(), expected.size()) << text;
    EXPECT_EQ(text.substr(text.size() - expected.size()), expected);
    std::remove(log.c_str());
}

TEST(ConsoleExe, AdvancedModeWithoutATerminalFailsWith1678AndTheRunGoesOn)
{
    PipeRun run = RunOverPipes({ConsoleApplet("advanced")}, "", true);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, "1678\nstill running\n");
}

TEST(ConsoleExe, KeysComeWithoutEnterOrEchoAndTheTerminalModeIsKept)
{
    PtyRun pty;
    ASSERT_TRUE(pty.Start({ConsoleApplet("keys")}));
    struct termios before;
    ASSERT_TRUE(pty.Mode(&before));
    ASSERT_TRUE(pty.WaitFor("ready\r\n")) << pty.seen;
    // GetKey with nothing typed answers at once with "".
    ASSERT_TRUE(pty.WaitFor("0\r\n")) << pty.seen;
    // Typed before the read switches the terminal, the key would be echoed by the
    // terminal itself: wait for the key read's mode.
    for (int i = 0; i < 500; i++) {
        struct termios now;
        if (pty.Mode(&now) && !(now.c_lflag & ICANON)) break;
        usleep(10000);
    }
    size_t mark = pty.seen.size();
    pty.Type("\xC3\xA9");
    ASSERT_TRUE(pty.WaitFor("waited\r\n", 10000, mark)) << "WaitKey wanted more than one character: " << pty.seen;
    EXPECT_EQ(pty.seen.find("\xC3\xA9", mark), std::string::npos) << "the key was echoed";
    pty.Type("ab");
    ASSERT_TRUE(pty.WaitFor("done\r\n")) << pty.seen;
    EXPECT_NE(pty.seen.find("[b]"), std::string::npos) << pty.seen;
    EXPECT_EQ(pty.Wait(), 0);
    struct termios after;
    ASSERT_TRUE(pty.Mode(&after));
    EXPECT_TRUE(SameMode(before, after)) << "the run left the terminal's mode changed";
}

TEST(ConsoleExe, AStopSignalDuringWaitKeyEndsTheRunSoonAndRestoresTheTerminal)
{
    PtyRun pty;
    ASSERT_TRUE(pty.Start({ConsoleApplet("keys")}));
    struct termios before;
    ASSERT_TRUE(pty.Mode(&before));
    ASSERT_TRUE(pty.WaitFor("0\r\n")) << pty.seen;
    // The key read has switched the terminal once it waits; give it the chance.
    for (int i = 0; i < 200; i++) {
        struct termios now;
        if (pty.Mode(&now) && !(now.c_lflag & ICANON)) break;
        usleep(10000);
    }
    auto start = std::chrono::steady_clock::now();
    kill(pty.pid, SIGTERM);
    int code = pty.Wait(5000);
    auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    EXPECT_NE(code, -1) << "the signal did not end the run";
    EXPECT_LT(took.count(), kStopBudgetMs);
    EXPECT_EQ(pty.seen.find("waited"), std::string::npos);
    struct termios after;
    ASSERT_TRUE(pty.Mode(&after));
    EXPECT_TRUE(SameMode(before, after)) << "the stopped key read left the terminal raw";
}

TEST(ConsoleExe, PensAndColoursFollowWhatTheTerminalOffers)
{
    // A terminal description of 16 colours made for the test.
    std::string dir = "/tmp/lv_console_terminfo_" + std::to_string(getpid());
    std::string source = dir + ".src";
    {
        std::ofstream out(source);
        out << "lv16|sixteen colours,\n\tcolors#16, pairs#256, use=xterm,\n";
    }
    ASSERT_EQ(std::system(("tic -x -o " + dir + " " + source).c_str()), 0);
    struct Case {
        const char *term;
        const char *results;
    } cases[] = {
        // Pens 8 to 15, then 1646; colours start.
        {"lv16", "colours: pen8 pen9 pen10 pen11 pen12 pen13 pen14 pen15 Nil 1 1646 0 "},
        // No colours: StartConsoleColorMode answers 0, the others fail with 1677.
        {"vt100", "colours: Nil Nil Nil Nil Nil Nil Nil Nil Nil 0 1677 1677 Nil end"},
        // A fresh screen after Disable and Enable restarts colours with the pens held:
        // 128 grey is 127 grey.
        {"xterm-256color", " 8355711 end"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.term);
        PtyRun pty;
        ASSERT_TRUE(pty.Start({ConsoleApplet("colours")}, {"TERMINFO=" + dir, std::string("TERM=") + c.term}));
        EXPECT_TRUE(pty.WaitFor(c.results)) << pty.seen;
        EXPECT_EQ(pty.Wait(), 0);
    }
    std::system(("rm -rf " + dir + " " + source).c_str());
}

TEST(ConsoleExe, JoystickCommandsCheckTheirArgumentsAndPortsAndLeaveTheStopSignalAlone)
{
    PtyRun pty;
    ASSERT_TRUE(pty.Start({ConsoleApplet("joystick")}, {"SDL_JOYSTICK_DISABLE_UDEV=1"}));
    // A button outside 0..32 is refused before the port is looked at; the port equal to
    // the count has no controller.
    ASSERT_TRUE(pty.WaitFor(" 1055 1405 0\r\n")) << pty.seen;
    EXPECT_NE(pty.seen.find("joy: "), std::string::npos);
    // SDL took no signal handler: the stop signal still ends the run.
    kill(pty.pid, SIGTERM);
    EXPECT_NE(pty.Wait(5000), -1) << "SIGTERM did not end the run";
}

// Tests of the error engine: code names, the message table, GetErrorText and its argument
// rules, registered messages, the error state's decisions and the report texts.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>

#include "runtime/errors.h"
#include "runtime/container.h"
#include "runtime/vfile.h"

namespace {

class Errors : public ::testing::Test {
  protected:
    void SetUp() override { ResetErrorState(); }
    void TearDown() override { ResetErrorState(); }
};

std::string Text(int code) {
    char buf[2048];
    GetErrorText(code, buf, sizeof buf);
    return buf;
}

std::string Slurp(const std::string &path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

}  // namespace

// ---- Codes and names --------------------------------------------------------------------

TEST_F(Errors, EveryConstantOfTheHeaderHasItsName) {
    std::string header = Slurp(LV_SOURCE_DIR "/base/lverrors.h");
    std::regex entry(R"((ERR_[A-Z0-9_]+) = (\d+))");
    int count = 0;
    for (auto it = std::sregex_iterator(header.begin(), header.end(), entry); it != std::sregex_iterator(); ++it) {
        std::string name = (*it)[1];
        int code = std::stoi((*it)[2]);
        ASSERT_NE(GetErrorCodeName(code), nullptr) << code;
        EXPECT_EQ(GetErrorCodeName(code), name);
        EXPECT_EQ(FindErrorCodeByName(name.c_str()), code);
        bool hasRow = code >= 1000 && code != ERR_UNKNOWNCMD && code != ERR_UNKNOWN && code != ERR_OPENFONT &&
                      code != ERR_ERRORCALLED;
        if (hasRow) {
            EXPECT_NE(Text(code), "Unknown error code!") << name;
        }
        count++;
    }
    EXPECT_EQ(count, 680);  // ERR_NONE and the 679 named codes
}

TEST_F(Errors, NamesAndGapsOfTheCodeSpace) {
    struct Case {
        int code;
        const char *name;
    } named[] = {{1000, "ERR_MEM"}, {1003, "ERR_USERABORT"}, {1248, "ERR_APPLET"}, {1250, "ERR_NOTADIR"},
                 {1405, "ERR_NOJOYATPORT"}, {1409, "ERR_FINDCLIENT"}, {1602, "ERR_RANDOMIZE"},
                 {1607, "ERR_VIDEOINIT"}, {1659, "ERR_NOPALETTEMODE"}, {1683, "ERR_ABORT"},
                 {1688, "ERR_LIBVERSION"}, {1692, "ERR_FINDMUSICSTREAM"}, {1697, "ERR_FINDREGISTRYKEY"}};
    for (auto &c : named) EXPECT_STREQ(GetErrorCodeName(c.code), c.name);
    // Codes with a message but no constant.
    for (int code : {1661, 1662, 1671, 1672, 1673, 1674, 1675, 1691}) {
        EXPECT_EQ(GetErrorCodeName(code), nullptr) << code;
        EXPECT_NE(Text(code), "Unknown error code!") << code;
    }
    // Codes that do not exist.
    for (int code : {1249, 1406, 1407, 1408, 1603, 1606, 1660, 1689, 1690, 1698, 999, 1}) {
        EXPECT_EQ(GetErrorCodeName(code), nullptr) << code;
        EXPECT_EQ(Text(code), "Unknown error code!") << code;
    }
    EXPECT_EQ(FindErrorCodeByName("ERR_NOPE"), -1);
}

// ---- Message texts, byte for byte -----------------------------------------------------

TEST_F(Errors, QuotedMessagesAreKeptAsTheyStand) {
    struct Case {
        int code;
        const char *text;  // with no arguments set
    } cases[] = {
        {1000, "Out of memory!"},
        {1003, "User abort!"},
        {1009, "Could not read all characters from file!\nCheck if it is read protected!"},
        {1014, "Not enough arguments!"},
        {1055, "Wrong usage/parameters for this command!\nRead the documentation!"},
        {1066, "Internal limit encountered! Contact the author..."},
        {1091, "Unknown error code!"},
        {1193, "Too many arguments for this function!"},
        {1288, "This feature is currently not supported on this platform!"},
        {1309, "Invalid or incomplete deflate data (zlib)!"},
        {1345, "Cannot use the a single BGPic for multiple displays!"},
        {1410, "The following network error occurred:\n"},
        {1463, "Malformed pattern! (ends with \"%\")"},
        {1464, "Malformed pattern! (missing \"]\")"},
        {1485, "You have to install a \"FillMusicBuffer\" event handler first!"},
        {1572, "This server requires user authentification!"},
        {1671, "Cannot insert a transformed vector text object as a layer!\n"
               "Use draw tags instead of transforming the text object directly!"},
        {1677, "Terminal doesn't support color mode!"},
    };
    for (auto &c : cases) EXPECT_EQ(Text(c.code), c.text) << c.code;
    // Codes whose messages quote two codes side by side got the right one each.
    SetErrorStringArg("a.txt");
    EXPECT_EQ(Text(1052), "Cannot write to file a.txt !");
    EXPECT_EQ(Text(1045), "Cannot read file a.txt !");
    EXPECT_EQ(Text(1423), "Remote server has closed the connection!");
    EXPECT_EQ(Text(1422), "Receive timeout reached!");
    EXPECT_EQ(Text(1427), "No permission to upload file to a.txt!");
    EXPECT_EQ(Text(1425), "File a.txt not found on this server!");
}

TEST_F(Errors, MessageIndexes) {
    struct Case {
        int index;
        const char *text;
    } cases[] = {
        {0, "No error occurred!"}, {91, "Unknown error code!"}, {92, "current line"}, {94, "OK"},
        {95, "done"}, {108, "failed"}, {116, "Cannot open font %s with size %d!"}, {194, "File"},
        {280, "In function"}, {287, "Loading applet %s"}, {307, "Cancel"}, {402, "Error"},
        {738, "Unnamed"}, {740, "Ctrl"}, {781, "Select Lumivarra applet to run"},
        {LV_MSG_SELECT_DISPLAY_MODE, "Please select desired display mode!"},
        {LV_MSG_DISPLAY_MODE_CHOICES, "Full screen (best fit)|Windowed|Full screen (manual select)|Cancel"},
        {LV_MSG_DISPLAY_MODE_SHORT, "Full screen|Windowed|Cancel"},
        {LV_MSG_LOADING_PLUGIN, "Loading plugin %s"},
        {LV_MSG_APPLET_FILTER, "Lumivarra applets"},
        {LV_MSG_ALL_FILES, "All files"},
    };
    for (auto &c : cases) EXPECT_STREQ(GetMessageString(c.index), c.text) << c.index;
    EXPECT_EQ(GetMessageString(-1), nullptr);
    EXPECT_EQ(GetMessageString(60000), nullptr);
    // Each index names one row, and error rows keep their codes' texts.
    for (int i = 1; i < lvMessageTableCount; i++)
        EXPECT_LT(lvMessageTable[lvMessageByIndex[i - 1]].index, lvMessageTable[lvMessageByIndex[i]].index);
    EXPECT_STREQ(GetMessageString(1), "Out of memory!");
}

// ---- GetErrorText and its arguments --------------------------------------------------

TEST_F(Errors, EdgeCodes) {
    EXPECT_EQ(Text(999), "Unknown error code!");
    EXPECT_EQ(Text(1022), "Unknown error code!");
    EXPECT_EQ(Text(0), "No error occurred!");
    EXPECT_EQ(Text(-5), "Unknown error code!");
    EXPECT_EQ(Text(1699), "Unknown error code!");
    char small[8];
    GetErrorText(1000, small, sizeof small);
    EXPECT_STREQ(small, "Out of ");
    char none[1] = {'x'};
    GetErrorText(1000, none, 0);  // nothing written
    EXPECT_EQ(none[0], 'x');
}

TEST_F(Errors, ArgumentsFillTheirTokens) {
    SetErrorNumberArg(3);
    EXPECT_EQ(Text(1183), "String or number expected in argument 3!");
    SetErrorNumberArg(-42);
    EXPECT_EQ(Text(1174), "Could not find brush -42!");
    SetErrorStringArg("/home/u/pics/tree.png");
    EXPECT_EQ(Text(1045), "Cannot read file tree.png !");     // file part for this code
    EXPECT_EQ(Text(1213), "File /home/u/pics/tree.png does not exist!");  // whole text
    EXPECT_EQ(Text(1358), "Image file \"tree.png\" is in an unknown/unsupported format!");
}

TEST_F(Errors, ChunkNamesShowTheEmbeddedFile) {
    struct Case {
        const char *arg;
        const char *shown;
    } cases[] = {
        {":::chunk1024:500*gfx/tree.png?/apps/demo.lva", "tree.png"},
        {":::chunkS7:0*sound.wav?x", "sound.wav"},
        {":::chunkM0x7f00aa00:64*C:\\data\\x.iff?x", "x.iff"},
        {":::chunkM0x7f00aa40:8*inner.bin?:::chunkM0x7f00aa00:64*outer.bin?x", "inner.bin"},
        {":::chunk12:5*plain?c", "plain"},
        {":::chunkgarbage", "unknown"},
        {":::chunk12:5*no-container", "unknown"},
        {":::chunk:5*a?b", "unknown"},
    };
    for (auto &c : cases) {
        SetErrorStringArg(c.arg);
        EXPECT_EQ(Text(1045), std::string("Cannot read file ") + c.shown + " !") << c.arg;
        // Any code with "%s" shows the embedded name, not only the file-part codes.
        EXPECT_EQ(Text(1213), std::string("File ") + c.shown + " does not exist!") << c.arg;
    }
}

TEST_F(Errors, FileLayerNamesTheFileOfItsError) {
    SetErrorStringArg("/data/level%d/map.iff");
    EXPECT_EQ(Text(ERR_READFILE), "Cannot read file map.iff !");
    EXPECT_EQ(Text(ERR_FILEEXIST), "File /data/level%d/map.iff does not exist!");
}

TEST_F(Errors, UserTextIsInsertedLiterally) {
    // The message of these codes is the text argument: never read as a format.
    SetErrorNumberArg(77);
    SetErrorStringArg("bad %s%n%d text %% %x");
    EXPECT_EQ(Text(1239), "bad %s%n%d text %% %x");
    EXPECT_EQ(Text(1064), "bad %s%n%d text %% %x");
    // A text argument that fills "%s" is inserted as it stands too.
    EXPECT_EQ(Text(1213), "File bad %s%n%d text %% %x does not exist!");
    // The font error builds its message with the substituter, then passes it on whole.
    char msg[256];
    FillMessageArgs(GetMessageString(LV_MSG_OPEN_FONT), "Deja%dVu %s", 12, msg, sizeof msg);
    EXPECT_STREQ(msg, "Cannot open font Deja%dVu %s with size 12!");
    SetErrorStringArg(msg);
    EXPECT_EQ(Text(1064), "Cannot open font Deja%dVu %s with size 12!");
}

TEST_F(Errors, Substituter) {
    char buf[64];
    EXPECT_EQ(FillMessageArgs("%d%% of %s, %q %", "x", -7, buf, sizeof buf), strlen("-7% of x, %q %"));
    EXPECT_STREQ(buf, "-7% of x, %q %");
    FillMessageArgs("%s", nullptr, 0, buf, sizeof buf);
    EXPECT_STREQ(buf, "");
    char tiny[6];
    EXPECT_EQ(FillMessageArgs("abc %s", "defgh", 0, tiny, sizeof tiny), 5u);
    EXPECT_STREQ(tiny, "abc d");
    // A cut never splits a UTF-8 character.
    char four[4];
    FillMessageArgs("a\xC3\xA9\xC3\xA9", "", 0, four, sizeof four);
    EXPECT_STREQ(four, "a\xC3\xA9");
    char three[3];
    FillMessageArgs("a\xC3\xA9", "", 0, three, sizeof three);
    EXPECT_STREQ(three, "a");
}

TEST_F(Errors, TextArgumentIsBounded) {
    std::string big(3000, 'z');
    SetErrorStringArg(big.c_str());
    EXPECT_EQ(strlen(GetErrorState()->textArg), 1023u);
    std::string name(300, 'n');
    SetErrorCommandName(name.c_str());
    EXPECT_EQ(strlen(GetErrorState()->commandName), 127u);
    SetErrorCommandName(nullptr);
    EXPECT_STREQ(GetErrorState()->commandName, "----");
}

// ---- Registered messages --------------------------------------------------------------

TEST_F(Errors, RegisteredMessagesGetCodesInOrder) {
    EXPECT_EQ(RegisterErrorMessage("First plug-in error with %s!"), 1698);
    EXPECT_EQ(RegisterErrorMessage("Second %d"), 1699);
    for (int i = 0; i < 40; i++) EXPECT_EQ(RegisterErrorMessage("more"), 1700 + i);  // the list grows
    SetErrorStringArg("%d");
    SetErrorNumberArg(5);
    EXPECT_EQ(Text(1698), "First plug-in error with %d!");
    EXPECT_EQ(Text(1699), "Second 5");
    EXPECT_EQ(Text(1739), "more");
    EXPECT_EQ(Text(1740), "Unknown error code!");
    FreeUserErrorMessages();
    EXPECT_EQ(Text(1698), "Unknown error code!");
    EXPECT_EQ(RegisterErrorMessage("again"), 1698);
}

// ---- Error state decisions ------------------------------------------------------------

TEST_F(Errors, RecordCommandErrorByModeAndDepth) {
    lvErrorState *s = GetErrorState();
    EXPECT_EQ(s->errorMode, 1);
    EXPECT_EQ(s->currentLine, -1);
    EXPECT_EQ(s->handlerRef, -1);
    struct Case {
        int mode, depth;
        lvErrorAction action;
        int stop;
    } cases[] = {
        {1, 0, LV_ERROR_RAISE, 1},
        {0, 0, LV_ERROR_CONTINUE, 0},
        {1, 1, LV_ERROR_RAISE, 0},
        {0, 2, LV_ERROR_CONTINUE, 0},
    };
    for (auto &c : cases) {
        s->errorMode = c.mode;
        s->callbackDepth = c.depth;
        s->stopRequest = 0;
        SetErrorCommandName("OpenFile");
        s->currentLine = 12;
        EXPECT_EQ(RecordCommandError(1045), c.action);
        EXPECT_EQ(s->lastError, 1045);
        EXPECT_EQ(s->stopRequest, c.stop);
        bool reset = c.mode == 0 && c.depth == 0;
        EXPECT_EQ(std::string(s->commandName), reset ? "----" : "OpenFile");
        EXPECT_EQ(s->currentLine, reset ? -1 : 12);
    }
}

// ---- Reports ------------------------------------------------------------------------

TEST_F(Errors, RequesterText) {
    char buf[1024];
    BuildErrorRequesterText("Boom!", 0, 1, "/src/game/main.lvs", 42, "LoadBrush", buf, sizeof buf);
    EXPECT_STREQ(buf, "Boom!\nFile: main.lvs (current line: 42 - In function: LoadBrush)");
    BuildErrorRequesterText("Boom!", 0, 1, "main.lvs", 42, "----", buf, sizeof buf);
    EXPECT_STREQ(buf, "Boom!\nFile: main.lvs (current line: 42)");
    BuildErrorRequesterText("Boom!", 1, 1, "main.lvs", 42, "X", buf, sizeof buf);
    EXPECT_STREQ(buf, "Boom!");
    BuildErrorRequesterText("Boom %s!", 0, 0, "main.lvs", 42, "X", buf, sizeof buf);
    EXPECT_STREQ(buf, "Boom %s!");
    std::string big(5000, 'm');
    char large[4096];
    EXPECT_EQ(BuildErrorRequesterText(big.c_str(), 1, 0, "", 0, "", large, sizeof large), 1023u);
}

TEST_F(Errors, FinalReportRouteAndForms) {
    EXPECT_EQ(DecideFinalReportRoute(0, 0, 0), LV_REPORT_NONE);
    EXPECT_EQ(DecideFinalReportRoute(-1, 1, 1), LV_REPORT_NONE);
    EXPECT_EQ(DecideFinalReportRoute(1003, 1, 1), LV_REPORT_NONE);
    EXPECT_EQ(DecideFinalReportRoute(1045, 0, 0), LV_REPORT_REQUESTER);
    EXPECT_EQ(DecideFinalReportRoute(1045, 1, 0), LV_REPORT_PRINT);
    EXPECT_EQ(DecideFinalReportRoute(1045, 0, 1), LV_REPORT_PRINT);

    struct Case {
        const char *file;
        int formatError, hostWindow;
        const char *out;
    } cases[] = {
        {"main.lvs", 0, 0, "\nmain.lvs:7: Out of %s!\n"},
        {nullptr, 0, 0, "\nError: Out of %s!\n"},
        {"main.lvs", 1, 0, "\n@_lverror7:main.lvs*Out of %s!\n"},
        {"", 1, 0, "\n@_lverror0:\"\"*Out of %s!\n"},
        {"main.lvs", 0, 1, "@_lverror7:main.lvs*Out of %s!"},
        {nullptr, 1, 1, "@_lverror0:\"\"*Out of %s!"},
    };
    for (auto &c : cases) {
        char buf[256];
        FormatFinalErrorReport("Out of %s!", c.file, 7, c.formatError, c.hostWindow, buf, sizeof buf);
        EXPECT_STREQ(buf, c.out);
    }
}

// ---- Generated table ----------------------------------------------------------------

TEST_F(Errors, GeneratedTableMatchesTheDataFile) {
    if (std::system("python3 --version > /dev/null 2>&1") != 0) GTEST_SKIP() << "no python3";
    EXPECT_EQ(std::system("python3 '" LV_SOURCE_DIR "/tools/messages/gen_messages_table.py' --check"), 0);
}

// ---- Runtime switches and status lines --------------------------------------------------

TEST_F(Errors, RuntimeFlagTagLists) {
    EXPECT_EQ(SetRuntimeFlags(nullptr, LV_FLAG_QUIET, 1, LV_FLAG_PRELOAD, 1, 99, 5, LV_FLAG_ERROR_MODE, 0,
                              LV_FLAG_LOCATION_TRACKING, 1, 0),
              5);
    EXPECT_EQ(GetRuntimeSwitches()->quiet, 1);
    EXPECT_EQ(GetRuntimeSwitches()->preloading, 1);
    EXPECT_EQ(GetErrorState()->errorMode, 0);
    EXPECT_EQ(GetErrorState()->locationTracking, 1);
    SetRuntimeFlags(nullptr, LV_FLAG_CALLBACK_DEPTH, 7, LV_FLAG_CALLBACK_DEPTH, 1, 0);
    SetRuntimeFlags(nullptr, LV_FLAG_CALLBACK_DEPTH, 0, 0);
    int quiet = -1, preload = -1, depth = -1, mode = -1, tracking = -1;
    EXPECT_EQ(GetRuntimeFlags(nullptr, LV_FLAG_QUIET, &quiet, LV_FLAG_PRELOAD, &preload, LV_FLAG_CALLBACK_DEPTH,
                              &depth, LV_FLAG_ERROR_MODE, &mode, LV_FLAG_LOCATION_TRACKING, &tracking, 0),
              5);
    EXPECT_EQ(quiet, 1);
    EXPECT_EQ(preload, 1);
    EXPECT_EQ(depth, 1);  // two raises, one lowering
    EXPECT_EQ(mode, 0);
    EXPECT_EQ(tracking, -1);  // tag 5 is not readable
}

TEST_F(Errors, StatusLineText) {
    char buf[600];
    BuildStatusLineText(GetMessageString(LV_MSG_LOADING_APPLET), "/apps/x/Demo%d.lva", 1, buf, sizeof buf);
    EXPECT_STREQ(buf, "Loading applet Demo%d.lva...");
    BuildStatusLineText("Plain 100% %s", nullptr, 0, buf, sizeof buf);
    EXPECT_STREQ(buf, "Plain 100% %s");
    std::string longPath = "/p/" + std::string(700, 'f');
    EXPECT_EQ(BuildStatusLineText("Loading %s", longPath.c_str(), 1, buf, sizeof buf), 511u);
}

// ---- Script locations ------------------------------------------------------------------

TEST_F(Errors, SourceLinesFromTheLineMap) {
    // Two chunks of main.lvs and one of lib.lvs, linked as the container keeps them.
    lvLineMapEntry entries[3] = {};
    auto fill = [](lvLineMapEntry &e, uint32_t first, uint32_t last, uint32_t source, const char *file,
                   const char *chunk) {
        e.firstLine = first;
        e.lastLine = last;
        e.sourceLine = source;
        strcpy(e.sourceFile, file);
        strcpy(e.chunkName, chunk);
    };
    fill(entries[0], 0, 40, 0, "main.lvs", "");
    fill(entries[1], 0, 9, 100, "lib.lvs", "helpers");
    fill(entries[2], 41, 60, 200, "main.lvs", "");
    entries[0].next = &entries[1];
    entries[1].next = &entries[2];
    const char *file = nullptr;
    EXPECT_EQ(MapAppletSourceLine(entries, "?main", 12, &file), 13);
    EXPECT_STREQ(file, "main.lvs");
    EXPECT_EQ(MapAppletSourceLine(entries, "?main", 45, &file), 205);
    EXPECT_EQ(MapAppletSourceLine(entries, "helpers", 3, &file), 104);
    EXPECT_STREQ(file, "lib.lvs");
    EXPECT_EQ(MapAppletSourceLine(entries, "helpers", 30, &file), -1);
    EXPECT_STREQ(file, "---");
    EXPECT_EQ(MapAppletSourceLine(entries, "other", 3, &file), -1);
    EXPECT_EQ(MapAppletSourceLine(entries, "?main", -1, &file), -1);
    EXPECT_EQ(MapAppletSourceLine(nullptr, "", 0, &file), -1);
    // A script file: its own entries' spans are added, the first line's offset taken off.
    EXPECT_EQ(MapScriptFileLine(entries, "main.lvs", 7, 1), 7 + 40 + 19 - 1 + 1);
    EXPECT_EQ(MapScriptFileLine(entries, "none.lvs", 7, 3), 5);
}

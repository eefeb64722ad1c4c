// Tests of the runtime configuration: every option from the command line and
// the ".ini" file, the effects and errors of applying them, numbers, backfill
// descriptions, and the search paths of "sysroot.conf".
#include "files_fixture.h"
#include "runtime/config.h"
#include "runtime/container.h"
#include "base/lverrors.h"

#include <gtest/gtest.h>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <set>

namespace {

// One parsed and applied configuration.
struct ConfigRun {
    lvRuntimeConfig config;
    lvOptionSlots slots;
    lvAppletRecord record;
    lvStartupSwitches switches;
    char *cmdText = nullptr;
    char *iniText = nullptr;
    ConfigRun()
    {
        InitRuntimeConfig(&config);
        InitAppletRecord(&record);
        InitStartupSwitches(&switches);
        std::memset(&slots, 0, sizeof slots);
    }
    ~ConfigRun()
    {
        FreeMemory(cmdText);
        FreeMemory(iniText);
        FreeRuntimeConfig(&config);
        FreeAppletRecord(&record, 1);
    }
    int Command(std::vector<const char *> words, int recognise = 1, int noApplet = 0)
    {
        return ParseCommandLine(&config, &slots, recognise, noApplet, (int)words.size(), words.data(), &cmdText);
    }
    int Ini(const std::string &text)
    {
        iniText = (char *)AllocMemory(text.size() + 1, 0);
        std::memcpy(iniText, text.c_str(), text.size() + 1);
        return ParseIniText(&slots, &config, iniText);
    }
    int Apply() { return ApplyStartupOptions(&slots, &config, &record, &switches); }
};

// A value each value option accepts.
const char *ValueFor(const char *key)
{
    if (!std::strcmp(key, "BACKFILL")) return "COLOR";
    if (!std::strcmp(key, "ENCODING")) return "utf8";
    if (!std::strcmp(key, "REQUIREPLUGINS") || !std::strcmp(key, "SKIPPLUGINS")) return "a.lvp|b.lvp";
    if (!std::strcmp(key, "DEBUGDEVICE")) return "::file/tmp/x";
    if (!std::strcmp(key, "TEMPDIR")) return "/tmp";
    if (!std::strcmp(key, "SCALEFACTOR")) return "1.5";
    return "12";
}

TEST(Options, TableHasEveryOptionOnce)
{
    std::set<std::string> keys;
    std::set<int> slots;
    for (const lvStartupOption &o : StartupOptions) {
        keys.insert(o.key);
        slots.insert(o.slot);
        EXPECT_LT(o.slot, LV_OPTION_SLOTS);
    }
    EXPECT_EQ(keys.size(), 74u);
    EXPECT_EQ(slots.size(), 74u);
    EXPECT_EQ(FindStartupOption("fullScreen"), FindStartupOption("FULLSCREEN"));
    EXPECT_EQ(FindStartupOption("FULLSCREE"), nullptr);
}

TEST(Options, EveryOptionParsesFromBothSources)
{
    for (const lvStartupOption &o : StartupOptions) {
        SCOPED_TRACE(o.key);
        std::string lower = o.key;
        for (char &c : lower) c = (char)std::tolower((unsigned char)c);
        std::string word = "-" + lower;
        const char *value = ValueFor(o.key);
        ConfigRun cmd;
        if (o.takesValue) {
            ASSERT_EQ(cmd.Command({"app.lvb", word.c_str(), value}), 0);
            ASSERT_NE(cmd.slots.text[o.slot], nullptr);
            EXPECT_STREQ(cmd.slots.text[o.slot], value);
        } else {
            ASSERT_EQ(cmd.Command({"app.lvb", word.c_str()}), 0);
            EXPECT_EQ(cmd.slots.on[o.slot], 1);
        }
        EXPECT_EQ(cmd.config.userArguments, nullptr);
        EXPECT_STREQ(cmd.config.givenAppletPath, "app.lvb");
        // A colour backfill alone lacks its start colour.
        int applied = std::strcmp(o.key, "BACKFILL") ? 0 : ERR_BACKFILL;
        EXPECT_EQ(cmd.Apply(), applied);

        ConfigRun ini;
        std::string line = std::string(o.key) + " = " + (o.takesValue ? value : "yes") + "  \r\n";
        ASSERT_EQ(ini.Ini("# comment\n[section]\n" + line), 0);
        if (o.takesValue) EXPECT_STREQ(ini.slots.text[o.slot], value);
        else EXPECT_EQ(ini.slots.on[o.slot], 1);
        EXPECT_EQ(ini.config.userArguments, nullptr);
        EXPECT_EQ(ini.Apply(), applied);
    }
}

// The effects and errors of applying options, from either source.
struct ApplyCase {
    const char *what;                              // the case
    std::vector<const char *> words;               // command line after the applet name
    const char *ini;                               // ".ini" text read after it, or none
    int error;                                     // result of applying
    std::function<void(const ConfigRun &)> check;        // effects (when no error)
};

const ApplyCase ApplyCases[] = {
    {"percent width", {"-WINWIDTH", "50%"}, nullptr, 0,
     [](const ConfigRun &r) { EXPECT_EQ(r.record.windowWidth, -50); }},
    {"huge values saturate", {"-WINWIDTH=-1e30%", "-WINHEIGHT", "$FFFFFFFFFFFF"}, nullptr, 0,
     [](const ConfigRun &r) {
         EXPECT_EQ(r.record.windowWidth, 2147483647);
         EXPECT_EQ(r.record.windowHeight, 2147483647);
     }},
    {"width after an equals sign", {"-WINWIDTH=800", "-winheight", "600"}, nullptr, 0,
     [](const ConfigRun &r) {
         EXPECT_EQ(r.record.windowWidth, 800);
         EXPECT_EQ(r.record.windowHeight, 600);
     }},
    {"ini no cancels the command line", {"-FULLSCREEN"}, "FULLSCREEN=no\n", 0,
     [](const ConfigRun &r) { EXPECT_EQ(r.record.displayMode, 0); }},
    {"ini 2 is on", {}, "FULLSCREEN=2\n", 0, [](const ConfigRun &r) { EXPECT_EQ(r.record.displayMode, 2); }},
    {"scale width needs a scaling mode", {"-SCALEWIDTH", "640"}, nullptr, 0,
     [](const ConfigRun &r) { EXPECT_EQ(r.record.scaleWidth, 0); }},
    {"scale width with autoscale", {"-AUTOSCALE", "-SCALEWIDTH", "50%", "-SCALEHEIGHT", "480"}, nullptr, 0,
     [](const ConfigRun &r) {
         EXPECT_EQ((uint32_t)r.record.displayFlags1 & 0x40, 0x40u);
         EXPECT_EQ(r.record.scaleWidth, -50);
         EXPECT_EQ(r.record.scaleHeight, 480);
     }},
    {"scale factor wins over scale sizes", {"-LAYERSCALE", "-SCALEFACTOR", "2.5", "-SCALEWIDTH", "640"}, nullptr, 0,
     [](const ConfigRun &r) {
         EXPECT_DOUBLE_EQ(r.record.scaleFactor, 2.5);
         EXPECT_EQ(r.record.scaleWidth, 0);
     }},
    {"two modes", {"-WINDOW", "-FULLSCREEN"}, nullptr, ERR_CONSOLEARG, nullptr},
    {"two scaling modes", {"-AUTOSCALE", "-LAYERSCALE"}, nullptr, ERR_CONSOLEARG, nullptr},
    {"monitor 0", {"-MONITOR", "0"}, nullptr, ERR_MONITORRANGE, nullptr},
    {"monitor 2", {"-MONITOR", "2"}, nullptr, 0, [](const ConfigRun &r) { EXPECT_EQ(r.record.monitor, 1); }},
    {"129 channels", {"-NUMCHANNELS", "129"}, nullptr, ERR_CONSOLEARG, nullptr},
    {"128 channels", {"-NUMCHANNELS", "$80"}, nullptr, 0, [](const ConfigRun &r) { EXPECT_EQ(r.config.numChannels, 128); }},
    {"unknown encoding", {"-ENCODING", "utf16"}, nullptr, ERR_BADENCODING, nullptr},
    {"latin-1 encoding", {"-encoding", "ISO8859_1"}, nullptr, 0,
     [](const ConfigRun &r) { EXPECT_EQ(r.switches.wantLatin1, 1); }},
    {"bad number", {"-SCRWIDTH", "wide"}, nullptr, ERR_VALUEEXPECTED, nullptr},
    {"hex without digits", {"-SCRDEPTH", "$"}, nullptr, ERR_SYNTAXERROR, nullptr},
    {"flag words", {"-BORDERLESS", "-NOHIDE", "-ALWAYSONTOP", "-NATIVEUNITS", "-SCALESWITCH", "-NOSCALESWITCH"},
     nullptr, 0,
     [](const ConfigRun &r) {
         EXPECT_EQ((uint32_t)r.record.displayFlags1, 0x1u | 0x20u | 0x400000u | 0x80000000u);
         EXPECT_EQ((uint32_t)r.record.displayFlags2, 0x4u);
     }},
    {"no variants clear", {"-SMOOTHSCALE", "-NOSMOOTHSCALE", "-KEEPPROPORTIONS", "-NOKEEPPROPORTIONS"}, nullptr, 0,
     [](const ConfigRun &r) {
         EXPECT_EQ((uint32_t)r.record.displayFlags1 & (0x80u | 0x8000u), 0u);
         EXPECT_EQ((uint32_t)r.record.displayFlags2, 0x10u | 0x8u);
     }},
    {"run switches", {"-QUIET", "-NOSOUND", "-FORCESOUND", "-DEBUGDEVICE", "::hwnd123", "-ERRORCODE=-7.9",
                      "-SOFTTIMER", "-PRINTERROR", "-TEMPDIR", "/var/tmp"},
     nullptr, 0,
     [](const ConfigRun &r) {
         EXPECT_EQ(r.config.quiet, 1);
         EXPECT_EQ(r.config.noSound, 1);
         EXPECT_EQ(r.config.forceSound, 1);
         EXPECT_EQ(r.switches.hostDevice, 1);
         EXPECT_STREQ(r.switches.debugDeviceText, "::hwnd123");
         EXPECT_EQ(r.switches.errorCode, -7);
         EXPECT_EQ(r.record.flagsBlock.flags, 1u);
         EXPECT_EQ(r.switches.printError, 1);
         EXPECT_STREQ(r.switches.tempDir, "/var/tmp");
     }},
    {"plug-in lists", {"-REQUIREPLUGINS", "a.lvp|b.lvp", "-SKIPPLUGINS", "c.lvp", "-REQUIRETAGS", "x|y"}, nullptr, 0,
     [](const ConfigRun &r) {
         EXPECT_EQ(std::memcmp(r.config.requirePluginList, "a.lvp\0b.lvp\0", 13), 0);
         EXPECT_EQ(std::memcmp(r.config.skipPluginList, "c.lvp\0", 7), 0);
         EXPECT_STREQ(r.config.requireTags, "x|y");
     }},
    {"backfill gradient", {"-BACKFILL", "gradient", "-STARTCOLOR", "$FF0000", "-ENDCOLOR", "255", "-PICXPOS", "5"},
     nullptr, 0,
     [](const ConfigRun &r) {
         EXPECT_EQ(r.record.backfill.type, 2);
         EXPECT_EQ(r.record.backfill.startColor, 0xFF0000);
         EXPECT_EQ(r.record.backfill.endColor, 255);
         EXPECT_EQ(r.record.backfill.pictureX, 5);
     }},
    {"picture options without backfill", {"-PICXPOS", "5", "-SCALEPICTURE"}, nullptr, 0,
     [](const ConfigRun &r) {
         EXPECT_EQ(r.record.backfill.pictureX, -100000);
         EXPECT_EQ(r.switches.backfill.scalePicture, 0);
     }},
    {"gradient without end colour", {"-BACKFILL", "RAINBOW", "-STARTCOLOR", "1"}, nullptr, ERR_BACKFILL, nullptr},
    {"brush and brush file", {"-BACKFILL", "PICTURE", "-BRUSH", "1", "-BRUSHFILE", "a.png"}, nullptr, ERR_BACKFILL,
     nullptr},
    {"texture without brush", {"-BACKFILL", "TEXTURE"}, nullptr, ERR_BACKFILL, nullptr},
    {"unknown backfill", {"-BACKFILL", "PLAID"}, nullptr, ERR_BACKFILL, nullptr},
    {"texture from a file", {"-BACKFILL", "texture", "-BRUSHFILE", "tile.png"}, nullptr, 0,
     [](const ConfigRun &r) {
         EXPECT_EQ(r.record.backfill.type, 3);
         EXPECT_STREQ(r.switches.backfill.brushFile, "tile.png");
     }},
    {"ini quoted values and overrides", {"-WINWIDTH", "100"},
     "WINWIDTH = \"320\"EMPTY=\"\"\r\nMYKEY = some value \t\r\n", 0,
     [](const ConfigRun &r) {
         EXPECT_EQ(r.record.windowWidth, 320);
         ASSERT_NE(r.config.userArguments, nullptr);
         EXPECT_STREQ(r.config.userArguments->name, "EMPTY");
         EXPECT_STREQ(r.config.userArguments->value, "");
         ASSERT_NE(r.config.userArguments->next, nullptr);
         EXPECT_STREQ(r.config.userArguments->next->name, "MYKEY");
         EXPECT_STREQ(r.config.userArguments->next->value, "some value");
     }},
    {"ini empty number", {}, "WINHEIGHT=\"\"\n", ERR_VALUEEXPECTED, nullptr},
};

TEST(Options, ApplyingGivesTheEffectsAndErrors)
{
    for (const ApplyCase &c : ApplyCases) {
        SCOPED_TRACE(c.what);
        ConfigRun r;
        std::vector<const char *> words = {"app.lvb"};
        words.insert(words.end(), c.words.begin(), c.words.end());
        ASSERT_EQ(r.Command(words), 0);
        if (c.ini) {
            ASSERT_EQ(r.Ini(c.ini), 0);
        }
        EXPECT_EQ(r.Apply(), c.error);
        if (!c.error && c.check) c.check(r);
    }
}

TEST(Options, ApplyOnTopOfTheAppletsDefaults)
{
    ConfigRun r;
    r.record.displayFlags1 = 0x100 | 0x8000; // the applet asked for layer scaling and kept proportions
    r.record.displayFlags2 = 0x2;
    r.record.flagsBlock.flags = 0x200;
    ASSERT_EQ(r.Command({"app.lvb", "-SCALEWIDTH", "640", "-NOKEEPPROPORTIONS", "-NOSCALESWITCH", "-SOFTTIMER"}), 0);
    ASSERT_EQ(r.Apply(), 0);
    EXPECT_EQ(r.record.scaleWidth, 640);
    EXPECT_EQ((uint32_t)r.record.displayFlags1, 0x100u);
    EXPECT_EQ((uint32_t)r.record.displayFlags2, 0x4u | 0x8u);
    EXPECT_EQ(r.record.flagsBlock.flags, 0x201u);
}

TEST(Options, IniSyntax)
{
    const struct {
        std::string text;
        int result;
    } cases[] = {
        {std::string(127, 'K') + "=1\n", 0},
        {std::string(128, 'K') + "=1\n", ERR_INISYNTAX},
        {"1KEY=1\n", ERR_INISYNTAX},
        {"KEY 1\n", ERR_INISYNTAX},
        {"KEY=\"open\nMORE=1\n", ERR_INISYNTAX},
        {"KEY\t=\tvalue", 0},
        {"", 0},
        {"\r\n\r\n# only comments\n[and sections]", 0},
    };
    for (const auto &c : cases) {
        ConfigRun r;
        EXPECT_EQ(r.Ini(c.text), c.result) << c.text;
    }
}

TEST(Options, CommandLineWords)
{
    {
        ConfigRun r; // user arguments take the next plain word; the applet name comes after
        ASSERT_EQ(r.Command({"-user", "value", "app.lvb", "extra", "-flag"}), 0);
        EXPECT_STREQ(r.config.appletPath, "app.lvb");
        ASSERT_NE(r.config.userArguments, nullptr);
        EXPECT_STREQ(r.config.userArguments->name, "user");
        EXPECT_STREQ(r.config.userArguments->value, "value");
        ASSERT_NE(r.config.userArguments->next, nullptr);
        EXPECT_STREQ(r.config.userArguments->next->name, "flag");
        EXPECT_EQ(r.config.userArguments->next->value, nullptr);
        EXPECT_EQ(r.config.absoluteAppletPath[0], '/');
    }
    {
        ConfigRun r; // unrecognised options are user arguments too
        ASSERT_EQ(r.Command({"app.lvb", "-QUIET", "-WINWIDTH", "5"}, 0), 0);
        EXPECT_EQ(r.slots.on[11], 0);
        EXPECT_STREQ(r.config.userArguments->next->value, "5");
    }
    ConfigRun a, b, c, d, e;
    EXPECT_EQ(a.Command({"app.lvb", "-WINWIDTH"}), ERR_ARGS);           // value missing at the end
    EXPECT_EQ(b.Command({"app.lvb", "-WINWIDTH", "-QUIET"}), ERR_ARGS); // option while a value waits
    EXPECT_EQ(c.Command({"-QUIET"}), ERR_CONFIG);                       // no applet
    EXPECT_EQ(d.Command({"-QUIET"}, 1, 1), 0);                          // none needed
    std::string longName(1100, 'a');
    EXPECT_EQ(e.Command({longName.c_str()}), ERR_ARGS);                 // too long for its field
}

TEST(Options, IniFileBesideTheApplet)
{
    ScratchDir dir;
    // A byte-order mark is dropped; ISO-8859-1 text becomes UTF-8.
    dir.Write("game.ini", std::string("\xEF\xBB\xBFWINWIDTH=640\nNAME=caf\xC3\xA9\n"));
    dir.Write("old.ini", std::string("NAME=caf\xE9\n"));
    ConfigRun r;
    std::snprintf(r.config.appletPath, sizeof r.config.appletPath, "%s/game.lvb", dir.path.c_str());
    ASSERT_EQ(ReadIniFile(&r.slots, &r.config, &r.iniText), 0);
    EXPECT_STREQ(r.slots.text[102], "640");
    EXPECT_STREQ(r.config.userArguments->value, "caf\xC3\xA9");
    ConfigRun old;
    std::snprintf(old.config.appletPath, sizeof old.config.appletPath, "%s/old", dir.path.c_str());
    ASSERT_EQ(ReadIniFile(&old.slots, &old.config, &old.iniText), 0);
    EXPECT_STREQ(old.config.userArguments->value, "caf\xC3\xA9");
    ConfigRun none;
    std::snprintf(none.config.appletPath, sizeof none.config.appletPath, "%s/none.lvb", dir.path.c_str());
    EXPECT_EQ(ReadIniFile(&none.slots, &none.config, &none.iniText), 0);
    EXPECT_EQ(none.iniText, nullptr);
}

TEST(Numbers, LiteralForms)
{
    const struct {
        const char *text;
        double value;
        int consumed;
        int error;
    } cases[] = {
        {"42", 42, 2, 0},        {"-42.5x", -42.5, 5, 0}, {".5", 0.5, 2, 0},
        {"$ff", 255, 3, 0},      {"$-10", -16, 4, 0},     {"-$10", -16, 4, 0},
        {"0x1F", 31, 4, 0},      {"0XfFfFfFfFfF", 1099511627775.0, 12, 0},
        {"%1011", 11, 5, 0},     {"%", 0, 1, ERR_SYNTAXERROR}, {"$", 0, 1, ERR_SYNTAXERROR},
        {"50%", 50, 2, 0},       {"abc", 0, 0, ERR_VALUEEXPECTED}, {".", 0, 0, ERR_VALUEEXPECTED},
        {"1e3", 1000, 3, 0},     {"", 0, 0, ERR_VALUEEXPECTED},
    };
    for (const auto &c : cases) {
        int consumed = -1, error = -1;
        double v = ParseNumberLiteral(c.text, &consumed, &error);
        EXPECT_EQ(error, c.error) << c.text;
        EXPECT_EQ(consumed, c.consumed) << c.text;
        if (!c.error) {
            EXPECT_DOUBLE_EQ(v, c.value) << c.text;
        }
    }
}

TEST(SearchPathFile, LinesVariablesAndOrder)
{
    ScratchDir dir;
    setenv("XDG_DATA_HOME", dir.Join("xdgdata").c_str(), 1);
    dir.Write("xdgdata/MyApp/keep", "x");
    dir.Write("prog/sysroot.conf",
              "# comment\r\n"
              "   \r\n"
              "lib\r\n"
              "  indented\r\n"
              "%APPDATA%/MyApp\r\n"
              "%LOCALAPPDATA%/nothing/here\r\n"
              "/abs/path\r\n"
              "~/home/rel\r\n"
              "c:stays\n" +
                  std::string(1030, 'L'));
    FreeSearchPaths();
    std::string prog = dir.Join("prog");
    ASSERT_EQ(BuildSearchPaths(prog.c_str(), 1), 0);
    ASSERT_EQ(ExpandSearchPathVariables(), 0);
    std::vector<std::string> got;
    for (lvSearchPath *s = GetSearchPaths(); s; s = s->next) got.push_back(s->path);
    char cache[LV_PATH_SIZE];
    ASSERT_TRUE(GetSystemFolderPath(14, cache, sizeof cache));
    std::vector<std::string> want = {
        prog + "/lib",
        prog + "/  indented",
        dir.Join("xdgdata/MyApp"),
        std::string(cache) + "/nothing/here",
        "/abs/path",
        std::string(GetHomeFolder()) + "/home/rel",
        "c:stays",
        prog + "/" + std::string(1023, 'L'),
        prog + "/" + std::string(7, 'L'),
        prog,
    };
    // The 1023-character line does not fit a path field beside the folder: skipped.
    want.erase(want.begin() + 7);
    EXPECT_EQ(got, want);
    FreeSearchPaths();
    unsetenv("XDG_DATA_HOME");

    ASSERT_EQ(BuildSearchPaths(prog.c_str(), 0), 0); // linked runs: the folder alone
    ASSERT_NE(GetSearchPaths(), nullptr);
    EXPECT_EQ(std::string(GetSearchPaths()->path), prog);
    EXPECT_EQ(GetSearchPaths()->next, nullptr);
    FreeSearchPaths();
}

} // namespace

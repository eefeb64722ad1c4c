// The serialize, application and locale commands as a script calls them: argument
// checks, options tables, the serializer names, file commands over the dos library's
// hook, and the errors they answer.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "core4_support.h"
#include "libs/lib_core4.h"
#include "libs/serialize_engine.h"
#include "platform/lvplatform.h"
#include "runtime/config.h"
#include "runtime/container.h"
#include "base/lverrors.h"
#include "runtime/startup.h"
#include "tools/lvasm/lvasm.h"

namespace {

int gLastCode;

// A command's error code is raised, as the runtime core does, and kept for the test.
void RaiseCommandError(lvState *L, int code)
{
    gLastCode = code;
    RaiseError(L, code);
}

// A machine with the libraries' commands in its globals.
struct CommandMachine : TestMachine {
    CommandMachine()
    {
        lvVMHost host{};
        host.HandleCommandError = RaiseCommandError;
        SetVMHost(&host);
        PushCopy(L, LV_GLOBALSINDEX);
        OpenSerializeLibrary(L);
        OpenApplicationLibrary(L);
        OpenLocaleLibrary(L);
        OpenWindowsLibrary(L);
        SetStackTop(L, 0);
    }
    // Calls the command with the values pushed by args; answers 0 or the error code,
    // leaving the results on the stack.
    ~CommandMachine() { SetVMHost(nullptr); }
    template <typename Args>
    int Call(const char *name, Args args, int results = 1)
    {
        SetStackTop(L, 0);
        args();
        int count = GetStackTop(L);
        // The call goes through a compiled chunk so that error answers are handled as
        // they are for a script: "__cmd"(__a1, ...), globals set from the pushed values.
        std::string text = "getglobal r0 \"" + Lower(name) + "\"\n";
        for (int i = count; i >= 1; i--) {
            std::string g = "__a" + std::to_string(i);
            PushString(L, g.c_str());
            PushCopy(L, i);
            SetTableValue(L, LV_GLOBALSINDEX);
            text += "getglobal r" + std::to_string(i) + " \"" + g + "\"\n";
        }
        SetStackTop(L, 0);
        text += "call r0 " + std::to_string(count + 1) + " " + std::to_string(results + 1) + "\n";
        text += "return r0 " + std::to_string(results + 1) + "\n";
        std::vector<uint8_t> chunk = AsmAssembleOrThrow(text);
        if (LoadChunkBuffer(L, chunk.data(), chunk.size(), "=call") != 0) {
            ADD_FAILURE() << "chunk for " << name;
            return -1;
        }
        gLastCode = 0;
        return ProtectedCall(L, 0, results, 0);
    }
    static std::string Lower(const char *name)
    {
        std::string lower = name;  // scripts reach commands by their lower-case names
        for (char &c : lower) c = char(std::tolower((unsigned char)c));
        return lower;
    }
};

int LastCode(lvState *) { return gLastCode; }

TEST(SerializeCommands, StringsAndNames)
{
    CommandMachine m;
    lvState *L = m.L;
    auto table = [&] {
        PushNewTable(L);
        SetStringNumber(L, "a", 1);
    };
    ASSERT_EQ(m.Call("SerializeTable", table), 0);
    EXPECT_STREQ(ValueToString(L, -1), "{\r\n\t\"a\": 1\r\n}\r\n");
    std::string json = ValueToString(L, -1);
    ASSERT_EQ(m.Call("DeserializeTable", [&] { PushString(L, json.c_str()); }), 0);
    EXPECT_EQ(DescribeTable(L, -1), "{\"a\"=1}");
    // "inbuilt": the binary image, in both directions; JSON is no image.
    ASSERT_EQ(m.Call("SerializeTable", [&] { table(); PushString(L, "InBuilt"); }), 0);
    std::string image(ValueToString(L, -1), ValueStringLength(L, -1));
    EXPECT_EQ(image.substr(0, 4), "LVT0");
    ASSERT_EQ(m.Call("DeserializeTable", [&] { PushSizedString(L, image.data(), image.size()); PushString(L, "inbuilt"); }), 0);
    EXPECT_EQ(DescribeTable(L, -1), "{\"a\"=1}");
    EXPECT_NE(m.Call("DeserializeTable", [&] { PushString(L, json.c_str()); PushString(L, "inbuilt"); }), 0);
    EXPECT_EQ(LastCode(L), ERR_READTABLE);
    EXPECT_NE(m.Call("SerializeTable", [&] { table(); PushString(L, "plugin|inbuilt"); }), 0);
    EXPECT_EQ(LastCode(L), ERR_FINDPLUGIN);
    // Options tables: mode 2 keeps member order; a bad encoding is refused.
    ASSERT_EQ(m.Call("DeserializeTable", [&] {
        PushString(L, "{\"B\": 1, \"a\": 2}");
        PushNewTable(L);
        SetStringNumber(L, "mode", 2);
    }), 0);
    EXPECT_EQ(DescribeTable(L, -1), "{0={\"key\"=\"B\",\"value\"=1},1={\"key\"=\"a\",\"value\"=2}}");
    ASSERT_EQ(m.Call("DeserializeTable", [&] {
        PushString(L, "{\"B\": 1}");
        PushNewTable(L);
        PushString(L, "options");
        PushNewTable(L);
        SetStringNumber(L, "nolowercase", 1);
        SetTableValue(L, -3);
    }), 0);
    EXPECT_EQ(DescribeTable(L, -1), "{\"B\"=1}");
    EXPECT_NE(m.Call("SerializeTable", [&] {
        table();
        PushNewTable(L);
        SetStringNumber(L, "dstencoding", 3);
    }), 0);
    EXPECT_EQ(LastCode(L), ERR_BADENCODING);
    // User tags go to the serializer (the built-in one ignores them); bad ones are refused.
    ASSERT_EQ(m.Call("SerializeTable", [&] {
        table();
        PushNewTable(L);
        PushString(L, "usertags");
        PushNewTable(L);
        SetStringString(L, "tag", "value");
        SetTableValue(L, -3);
    }), 0);
    EXPECT_NE(m.Call("SerializeTable", [&] {
        table();
        PushNewTable(L);
        PushString(L, "usertags");
        PushNewTable(L);
        SetNumberNumber(L, 1, 1);
        SetTableValue(L, -3);
    }), 0);
    EXPECT_EQ(LastCode(L), ERR_WRONGUSAGE);
    // SetSerializeMode(5) reaches the JSON serializer only.
    ASSERT_EQ(m.Call("SetSerializeMode", [&] { PushNumber(L, 5); }, 0), 0);
    ASSERT_EQ(m.Call("GetSerializeMode", [] {}), 0);
    EXPECT_EQ(ValueToNumber(L, -1), 5);
    EXPECT_NE(m.Call("SerializeTable", table), 0);
    EXPECT_EQ(LastCode(L), ERR_SERIALIZE);
    EXPECT_EQ(m.Call("SerializeTable", [&] { table(); PushString(L, "inbuilt"); }), 0);
    ResetSerializeSettings();
}

TEST(SerializeCommands, Base64Str)
{
    CommandMachine m;
    lvState *L = m.L;
    ASSERT_EQ(m.Call("Base64Str", [&] { PushSizedString(L, "a\0b", 3); PushNumber(L, 0); }), 0);
    EXPECT_STREQ(ValueToString(L, -1), "YQBi");
    ASSERT_EQ(m.Call("Base64Str", [&] { PushString(L, "YQBi"); PushNumber(L, 1); }), 0);
    EXPECT_EQ(std::string(ValueToString(L, -1), ValueStringLength(L, -1)), std::string("a\0b", 3));
    ASSERT_EQ(m.Call("Base64Str", [&] { PushString(L, "Zm9vZ"); PushNumber(L, 1); }), 0);
    EXPECT_STREQ(ValueToString(L, -1), "foo");
    // The argument check raises its error itself.
    EXPECT_EQ(m.Call("Base64Str", [&] { PushString(L, "a"); PushNumber(L, 1); PushNumber(L, 1); }), ERR_TOOMANYARGS);
}

// Files for the file commands: argument 1 names a file path; "r" or "w" in front
// opens it for reading or writing.
lvVFile *gFile;
int gWritable;
int FindTestFile(lvState *, int, lvVFile **file, int *readable, int *writable, int *encoding)
{
    if (!gFile) return ERR_FINDFILE;
    *file = gFile;
    *readable = !gWritable;
    *writable = gWritable;
    *encoding = 1;
    return 0;
}
int CarriageReturnOn() { return 1; }

TEST(SerializeCommands, FileCommands)
{
    CommandMachine m;
    lvState *L = m.L;
    lvSerializeFileHooks hooks = {FindTestFile, CarriageReturnOn};
    SetSerializeFileHooks(&hooks);
    std::string path = TempFolder() + "/t.bin";
    auto table = [&] {
        PushNumber(L, 1);
        PushNewTable(L);
        SetStringString(L, "k", std::string(60, 'v'));
    };
    gFile = OpenVFile(path.c_str(), LV_VF_WRITE, nullptr, nullptr);
    gWritable = 1;
    ASSERT_EQ(m.Call("WriteTable", [&] { table(); PushNumber(L, 1); }, 0), 0);
    // Text mode with a serializer is refused before anything is written.
    EXPECT_NE(m.Call("WriteTable", [&] {
        table();
        PushNewTable(L);
        SetStringNumber(L, "textmode", 1);
        SetStringString(L, "adapter", "default");
    }, 0), 0);
    EXPECT_EQ(LastCode(L), ERR_WRONGUSAGE);
    EXPECT_NE(m.Call("ReadTable", [&] { PushNumber(L, 1); }), 0);
    EXPECT_EQ(LastCode(L), ERR_WRITEONLY);
    CloseVFile(gFile);
    std::string bytes = ReadWholeFile(path);
    EXPECT_EQ(bytes.substr(0, 4), "LVT1");
    EXPECT_NE(bytes.find("\r\n"), std::string::npos);
    gFile = OpenVFile(path.c_str(), LV_VF_READ, nullptr, nullptr);
    gWritable = 0;
    ASSERT_EQ(m.Call("ReadTable", [&] { PushNumber(L, 1); }), 0);
    EXPECT_EQ(DescribeTable(L, -1), "{\"k\"=\"" + std::string(60, 'v') + "\"}");
    EXPECT_NE(m.Call("WriteTable", table, 0), 0);
    EXPECT_EQ(LastCode(L), ERR_READONLY);
    CloseVFile(gFile);
    gFile = nullptr;
    EXPECT_NE(m.Call("ReadFunction", [&] { PushNumber(L, 1); }), 0);
    EXPECT_EQ(LastCode(L), ERR_FINDFILE);
    SetSerializeFileHooks(nullptr);
}

std::string gIdentifier;
const char *TestIdentifier(lvState *) { return gIdentifier.c_str(); }

TEST(ApplicationCommands, PrefsThroughTheCommands)
{
    CommandMachine m;
    lvState *L = m.L;
    std::string config = TempFolder();
    setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    lvApplicationHooks hooks = {TestIdentifier, nullptr};
    SetApplicationHooks(&hooks);
    gIdentifier = "";
    EXPECT_NE(m.Call("SavePrefs", [&] { PushNewTable(L); }, 0), 0);
    EXPECT_EQ(LastCode(L), ERR_WRONGUSAGE);
    EXPECT_NE(m.Call("DeletePrefs", [] {}, 0), 0);
    EXPECT_EQ(LastCode(L), ERR_WRONGUSAGE);
    gIdentifier = "org.example/../app";
    // Nothing saved yet: the table stays as it is.
    ASSERT_EQ(m.Call("LoadPrefs", [&] { PushNewTable(L); SetStringNumber(L, "x", 1); }, 0), 0);
    ASSERT_EQ(m.Call("SavePrefs", [&] { PushNewTable(L); SetStringString(L, "name", "Ada"); }, 0), 0);
    char folder[LV_PATH_SIZE];
    ASSERT_TRUE(GetPrefsFolder(folder, sizeof folder));
    EXPECT_EQ(std::string(folder).rfind(config, 0), 0u);
    std::string file = std::string(folder) + "/org.exampleapp";
    EXPECT_EQ(ReadWholeFile(file).substr(0, 3), "{\r\n");
    // Load into a table the script holds.
    ASSERT_EQ(m.Call("LoadPrefs", [&] {
        PushString(L, "__t");
        PushNewTable(L);
        SetTableValue(L, LV_GLOBALSINDEX);
        PushString(L, "__t");
        GetTableValue(L, LV_GLOBALSINDEX);
    }, 0), 0);
    PushString(L, "__t");
    GetTableValue(L, LV_GLOBALSINDEX);
    EXPECT_EQ(DescribeTable(L, -1), "{\"name\"=\"Ada\"}");
    // "inbuilt" writes "PRFS".
    ASSERT_EQ(m.Call("SavePrefs", [&] {
        PushNewTable(L);
        SetStringNumber(L, "n", 2);
        PushNewTable(L);
        SetStringString(L, "adapter", "inbuilt");
    }, 0), 0);
    EXPECT_EQ(ReadWholeFile(file).substr(0, 4), "PRFS");
    ASSERT_EQ(m.Call("DeletePrefs", [] {}, 0), 0);
    EXPECT_EQ(ReadWholeFile(file), "");
    SetApplicationHooks(nullptr);
    unsetenv("XDG_CONFIG_HOME");
}

TEST(LocaleCommands, TablesDatesAndCatalogs)
{
    CommandMachine m;
    lvState *L = m.L;
    ASSERT_EQ(m.Call("GetLanguageInfo", [&] { PushNumber(L, 1); }), 0);
    EXPECT_EQ(DescribeTable(L, -1), "{\"code\"=\"de\",\"name\"=\"german\"}");
    ASSERT_EQ(m.Call("GetLanguageInfo", [&] { PushNumber(L, 18); }), 0);
    EXPECT_EQ(DescribeTable(L, -1), "{\"code\"=\"??\",\"name\"=\"unknown\"}");
    ASSERT_EQ(m.Call("GetCountryInfo", [&] { PushNumber(L, 9); }), 0);
    EXPECT_EQ(DescribeTable(L, -1), "{\"alpha2\"=\"DE\",\"alpha3\"=\"DEU\"}");
    ASSERT_EQ(m.Call("GetCountryInfo", [&] { PushNumber(L, 38); }), 0);
    EXPECT_EQ(DescribeTable(L, -1), "{\"alpha2\"=\"??\",\"alpha3\"=\"???\"}");
    ASSERT_EQ(m.Call("FormatDate", [&] { PushString(L, "%d.%m.%Y"); PushString(L, "05-Mar-2024 10:00:00"); }), 0);
    EXPECT_STREQ(ValueToString(L, -1), "05.03.2024");
    ASSERT_EQ(m.Call("FormatDate", [&] { PushString(L, "%-d"); PushString(L, "05-Mar-2024 10:00:00"); }), 0);
    EXPECT_STREQ(ValueToString(L, -1), "5");
    EXPECT_NE(m.Call("FormatDate", [&] { PushString(L, "%d"); PushString(L, "05-Mar-2024 10:00:0"); }), 0);
    EXPECT_EQ(LastCode(L), ERR_INVALIDDATE);
    ASSERT_EQ(m.Call("IsUnicode", [] {}), 0);
    EXPECT_EQ(ValueToNumber(L, -1), 1);
    ASSERT_EQ(m.Call("GetLocaleInfo", [] {}), 0);
    PushString(L, "months");
    GetTableValue(L, -2);
    PushNumber(L, 11);
    GetTableValue(L, -2);
    EXPECT_GT(ValueStringLength(L, -1), 0u);
    // English users get their defaults.
    setenv("LANG", "en_US.UTF-8", 1);
    ASSERT_EQ(m.Call("OpenCatalog", [&] { PushString(L, "app.catalog"); }, 0), 0);
    ASSERT_EQ(m.Call("GetCatalogString", [&] { PushNumber(L, 0); PushString(L, "Hello"); }), 0);
    EXPECT_STREQ(ValueToString(L, -1), "Hello");
    ASSERT_EQ(m.Call("CloseCatalog", [] {}, 0), 0);
    unsetenv("LANG");
    // The 417 constants: every language and country, the two unknowns.
    int count = 0;
    bool german = false, norwegian = false, switzerland = false, uk = false;
    for (const lvConstantEntry *c = GetLocaleConstants(); c->name; c++, count++) {
        std::string n = c->name;
        german |= n == "LANGUAGE_GERMAN" && c->number == 1;
        norwegian |= n == "LANGUAGE_NORWEGIANBOKMAL" && c->number == 120;
        switzerland |= n == "COUNTRY_SWITZERLAND" && c->number == 29;
        uk |= n == "COUNTRY_UK" && c->number == 0;
    }
    EXPECT_EQ(count, 417);
    EXPECT_TRUE(german && norwegian && switzerland && uk);
}

TEST(WindowsCommands, RegistryKeysAndObjects)
{
    CommandMachine m;
    lvState *L = m.L;
    std::string store = TempFolder();
    SetRegistryStoreFolder(store.c_str());
    ASSERT_EQ(m.Call("WriteRegistryKey", [&] { PushNumber(L, 7); PushString(L, "Soft/App/Count"); PushNumber(L, 5); }, 0), 0);
    ASSERT_EQ(m.Call("WriteRegistryKey", [&] { PushNumber(L, 4); PushString(L, "Soft/App/Name"); PushString(L, "Ada"); }, 0), 0);
    ASSERT_EQ(m.Call("CreateRegistryKey", [&] { PushNumber(L, 4); PushString(L, "Soft\\App\\Sub"); }, 0), 0);
    ASSERT_EQ(m.Call("ReadRegistryKey", [&] { PushNumber(L, 4); PushString(L, "Soft/App/Count"); }), 0);
    EXPECT_EQ(ValueToNumber(L, -1), 5);
    EXPECT_NE(m.Call("ReadRegistryKey", [&] { PushNumber(L, 4); PushString(L, "Soft/App/None"); }), 0);
    EXPECT_EQ(LastCode(L), ERR_REGISTRYREAD);
    ASSERT_EQ(m.Call("OpenRegistryKey", [&] { PushNumber(L, 1); PushNumber(L, 4); PushString(L, "Soft/App"); }, 0), 0);
    std::vector<std::string> seen;
    for (int i = 0; i < 4; i++) {
        ASSERT_EQ(m.Call("NextRegistryKeyEntry", [&] { PushNumber(L, 1); }, 2), 0);
        seen.push_back(std::string(ValueToString(L, -2)) + ":" + std::to_string(int(ValueToNumber(L, -1))));
    }
    EXPECT_EQ(seen, (std::vector<std::string>{"Sub:1", "Count:0", "Name:0", ":-1"}));
    // Nil gives a handle; closing twice fails.
    ASSERT_EQ(m.Call("OpenRegistryKey", [&] { PushNil(L); PushNumber(L, 4); PushString(L, "Soft"); }), 0);
    EXPECT_EQ(GetValueType(L, -1), LV_TPOINTER);
    ASSERT_EQ(m.Call("CloseRegistryKey", [&] { PushNumber(L, 1); }, 0), 0);
    EXPECT_NE(m.Call("CloseRegistryKey", [&] { PushNumber(L, 1); }, 0), 0);
    EXPECT_EQ(LastCode(L), ERR_FINDREGISTRYKEY);
    CloseWindowsLibrary(L, 1);
    SetRegistryStoreFolder(nullptr);
}

TEST(ApplicationCommands, AppletAndCommandLine)
{
    CommandMachine m;
    lvState *L = m.L;
    auto *config = new lvRuntimeConfig{};
    std::snprintf(config->appletPath, sizeof config->appletPath, "/apps/demo.lva");
    std::snprintf(config->programPath, sizeof config->programPath, "/usr/bin/lumivarra");
    std::snprintf(config->givenAppletPath, sizeof config->givenAppletPath, "demo.lva");
    config->isApplet = 1;
    char name1[] = "size", value1[] = "10", name2[] = "quiet";
    lvUserArgument second{nullptr, name2, nullptr};
    lvUserArgument first{&second, name1, value1};
    config->userArguments = &first;
    auto *record = new lvAppletRecord{};
    std::snprintf(record->title, sizeof record->title, "Demo");
    std::snprintf(record->identifier, sizeof record->identifier, "org.example.demo");
    SetRegistryPointer(L, "clargs", config);
    SetRegistryPointer(L, "applet", record);

    ASSERT_EQ(m.Call("GetCommandLine", [] {}, 3), 0);
    EXPECT_EQ(DescribeTable(L, 1), "{0={\"arg\"=\"size\",\"param\"=\"10\"},1={\"arg\"=\"quiet\",\"param\"=\"\"}}");
    EXPECT_EQ(ValueToNumber(L, 2), 2);
    EXPECT_EQ(ValueToNumber(L, 3), 0);
    ASSERT_EQ(m.Call("GetApplicationInfo", [] {}), 0);
    EXPECT_EQ(DescribeTable(L, 1), "{\"author\"=\"\",\"copyright\"=\"\",\"description\"=\"\",\"identifier\"=\"org.example.demo\","
                                   "\"title\"=\"Demo\",\"version\"=\"\"}");
    ASSERT_EQ(m.Call("GetProgramInfo", [] {}, -1), 0);
    ASSERT_EQ(GetStackTop(L), 3);
    EXPECT_EQ(ValueToNumber(L, 1), 1);
    EXPECT_STREQ(ValueToString(L, 2), "/apps/demo.lva");
    EXPECT_STREQ(ValueToString(L, 3), "/usr/bin/lumivarra");
    GetStartupState()->linked = 1;
    ASSERT_EQ(m.Call("GetProgramInfo", [] {}, -1), 0);
    GetStartupState()->linked = 0;
    ASSERT_EQ(GetStackTop(L), 2);
    EXPECT_EQ(ValueToNumber(L, 1), 2);
    ASSERT_EQ(m.Call("GetFileArgument", [] {}), 0);
    EXPECT_STREQ(ValueToString(L, -1), "demo.lva");
    EXPECT_EQ(m.Call("GetFileArgument", [&] { PushNumber(L, 1); PushNumber(L, 2); }), ERR_TOOMANYARGS);
    SetRegistryPointer(L, "clargs", nullptr);
    SetRegistryPointer(L, "applet", nullptr);
    delete config;
    delete record;
}

}  // namespace

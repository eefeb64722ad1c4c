// plugins_test.cpp - the plug-in loader, manager, interface table and plugin library,
// driven with the test plug-ins built from tests/plugins/testplugin.cpp, and linked
// programs of the real runtime that carry plug-ins.
#include "platform/lvplatform.h"
#include "runtime/container.h"
#include "runtime/errors.h"
#include "base/lverrors.h"
#include "runtime/plugin.h"
#include "runtime/startup.h"
#include "runtime/vdir.h"
#include "vm/lvvm.h"
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <gtest/gtest.h>
#include <set>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <vector>
#include <unistd.h>

static std::string PluginPath(const std::string &stem) { return std::string(LV_TESTPLUGIN_DIR) + "/" + stem + ".lvp"; }

static std::string ErrorText(int code)
{
    char text[1024];
    GetErrorText(code, text, sizeof text);
    return text;
}

static std::string ReadFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// ReadTextFile(name): the whole file, read through the file layer.
static int CmdReadTextFile(lvState *L)
{
    const char *name = CheckStringArg(L, 1, nullptr);
    uint8_t *data = nullptr;
    int64_t length = 0;
    if (int code = ReadVFileAll(nullptr, name, LV_VF_READ, nullptr, nullptr, 0, &data, &length)) return code;
    PushSizedString(L, (const char *)data, (size_t)length);
    FreeMemory(data);
    return 1;
}

static const lvCommandEntry testCommands[] = {{"ReadTextFile", CmdReadTextFile}, {nullptr, nullptr}};

// A script state with the plugin library and the test's command, and the manager installed.
class PluginTest : public ::testing::Test {
protected:
    lvState *L = nullptr;

    void SetUp() override
    {
        ResetErrorState();
        GetRuntimeSwitches()->quiet = 1;
        InstallPluginManager();
        L = NewVMState();
        ASSERT_NE(L, nullptr);
        PushCopy(L, LV_GLOBALSINDEX);
        OpenPluginLibrary(L);
        RegisterLibrary(L, nullptr, testCommands, 0);
        SetStackTop(L, 0);
        DefineConstants(L, "plugin", GetPluginConstants(), 0);
        SetPluginScriptState(L);
    }

    void TearDown() override
    {
        FreePluginLibraries(L);
        ClosePlugins();
        FreeAllMemoryFiles();
        CloseVMState(L);
        SetAdapterHooks(nullptr);
        FreeSearchPaths();
        SetPluginRunLinked(0);
    }

    int Load(const std::string &stem, lvPluginNode **node = nullptr)
    {
        return LoadPluginByName(L, PluginPath(stem).c_str(), LV_PLF_COMMANDS | LV_PLF_CONSTANTS, node);
    }

    bool HasGlobal(const char *name)
    {
        PushString(L, name);
        GetTableValueRaw(L, LV_GLOBALSINDEX);
        bool has = GetValueType(L, -1) != LV_TNIL;
        SetStackTop(L, -2);
        return has;
    }

    // Calls a global command on the arguments that are all the stack holds; its error
    // code, or 0 with its results on the stack.
    int Call(const char *name)
    {
        PushString(L, name);
        GetTableValueRaw(L, LV_GLOBALSINDEX);
        lvCommandFunction command = ValueToNativeFunction(L, -1);
        SetStackTop(L, -2);
        if (!command) return -1;
        int answer = command(L);
        return answer >= 1000 ? answer : 0;
    }
};

// ============================================================================
// Loader
// ============================================================================

TEST_F(PluginTest, FailingPluginsGiveTheirCodeAndTextAndLeaveNothingLoaded)
{
    struct Case {
        const char *stem;   // variant
        int code;           // expected code
        const char *text;   // expected message
    } cases[] = {
        {"wrongname", ERR_LOADPLUGIN, "Error loading plugin \"wrongname.lvp\"!"},
        {"native", ERR_LOADPLUGIN, "Error loading plugin \"native.lvp\"!"},
        {"toonew", ERR_NEWLVPLUGIN, "This plugin requires at least Lumivarra 11.1!"},
        {"missing", ERR_PLUGINSYMBOL, "Error loading plugin symbol: FStat"},
        {"missingprefixed", ERR_PLUGINSYMBOL, "Error loading plugin symbol: lvp_FStat"},
        {"badcaps", ERR_PLUGINTYPE, "Plugin type not recognized! (40000000)"},
        {"initfail", ERR_LOADPLUGIN, "Error loading plugin \"initfail.lvp\"!"},
        {"mixedprefix", ERR_LOADPLUGIN, "Error loading plugin \"mixedprefix.lvp\"!"},
        {"doesnotexist", ERR_LOADPLUGIN, "Error loading plugin \"doesnotexist.lvp\"!"},
    };
    for (const Case &c : cases) {
        int code = Load(c.stem);
        EXPECT_EQ(code, c.code) << c.stem;
        EXPECT_EQ(ErrorText(code), c.text) << c.stem;
        EXPECT_EQ(GetFirstPluginNode(), nullptr) << c.stem;
        // Hooks that InitPlugin added went with the failed plug-in.
        EXPECT_EQ(CountPluginHooks(), 0) << c.stem;
    }
}

TEST_F(PluginTest, UnderscoreFileNamesLoadAndScansSkipThem)
{
    char dir[] = "/tmp/lvplugXXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    std::string hidden = std::string(dir) + "/_cmdlib.lvp";
    std::string plain = std::string(dir) + "/memfs.lvp";
    {
        std::ofstream(hidden, std::ios::binary) << ReadFile(PluginPath("cmdlib"));
        std::ofstream(plain, std::ios::binary) << ReadFile(PluginPath("memfs"));
    }
    // The scan loads memfs but not the "_" file.
    ScanPluginDir(L, nullptr, dir);
    ASSERT_NE(GetFirstPluginNode(), nullptr);
    EXPECT_STREQ(GetFirstPluginNode()->handle->record->moduleName, "memfs");
    EXPECT_EQ(GetFirstPluginNode()->next, nullptr);
    // A request for the bare name finds the "_" form in the plug-in directories.
    SetPluginRunLinked(1);
    ASSERT_EQ(AppendSearchPath(dir), 0);
    lvPluginNode *node = nullptr;
    ASSERT_EQ(LoadPluginByName(L, "cmdlib", 6, &node), 0) << ErrorText(ERR_LOADPLUGIN);
    ASSERT_NE(node, nullptr);
    EXPECT_STREQ(node->fileName, "_cmdlib.lvp");
    EXPECT_TRUE(HasGlobal("testadd"));
    ClosePlugins();
    // A skip list "*" keeps every scanned plug-in out.
    const char skipAll[] = "*\0";
    ScanPluginDir(L, skipAll, dir);
    EXPECT_EQ(GetFirstPluginNode(), nullptr);
    unlink(hidden.c_str());
    unlink(plain.c_str());
    rmdir(dir);
}

TEST_F(PluginTest, RequiredListStopsOnlyAtMandatoryFailures)
{
    lvRuntimeConfig config;
    InitRuntimeConfig(&config);
    std::snprintf(config.requiredPlugins, sizeof config.requiredPlugins, "?%s|%s", PluginPath("nothere").c_str(),
                  PluginPath("cmdlib").c_str());
    EXPECT_EQ(LoadRequiredPlugins(L, &config), 0);
    ASSERT_NE(FindPluginByModuleName("cmdlib"), nullptr);
    std::snprintf(config.requiredPlugins, sizeof config.requiredPlugins, "%s", PluginPath("nothere").c_str());
    EXPECT_EQ(LoadRequiredPlugins(L, &config), ERR_LOADPLUGIN);
    FreeRuntimeConfig(&config);
}

// ============================================================================
// Command libraries, requirements, extensions
// ============================================================================

TEST_F(PluginTest, CommandLibraryRunsFromAScriptAndWritesAMemoryFileTheScriptReadsBack)
{
    ASSERT_EQ(Load("cmdlib"), 0);
    const char *text = nullptr;
    double number = 0;
    ASSERT_TRUE(LookupConstant(L, "TESTLIB_ANSWER", &text, &number));
    EXPECT_EQ(number, 42);

    std::string chunk = ReadFile(std::string(LV_TESTPLUGIN_DIR) + "/plugins_script.lvc");
    ASSERT_FALSE(chunk.empty());
    ASSERT_EQ(LoadChunkBuffer(L, chunk.data(), chunk.size(), "plugins_script"), 0);
    ASSERT_EQ(ProtectedCall(L, 0, 2, 0), 0);
    EXPECT_STREQ(ValueToString(L, -2), "written by a plug-in");
    SetStackTop(L, 0);

    // The command ran through the plug-in's table; InitLibrary ran exactly once.
    PushNumber(L, 1);
    PushNumber(L, 2);
    ASSERT_EQ(Call("testadd"), 0);
    EXPECT_EQ(ValueToNumber(L, -1), 3);
    SetStackTop(L, 0);
    ASSERT_EQ(Call("testinits"), 0);
    EXPECT_EQ(ValueToNumber(L, -1), 1);
    SetStackTop(L, 0);
}

TEST_F(PluginTest, APluginThatNeedsAnotherIsRefusedUntilTheOtherIsLoaded)
{
    int flags = LV_PLF_COMMANDS | LV_PLF_CONSTANTS | LV_PLF_FRESH;
    int code = RequirePluginByName(L, PluginPath("needs").c_str(), 0, 0, flags, nullptr, nullptr);
    EXPECT_EQ(code, ERR_REQUIREPLUGIN);
    EXPECT_EQ(ErrorText(code), "This program requires cmdlib.lvp!");
    ClosePlugins();
    // A plug-in that cannot be found at all is reported the same way.
    code = RequirePluginByName(L, "nothere", 1, 2, flags, nullptr, nullptr);
    EXPECT_EQ(ErrorText(code), "This program requires nothere.lvp 1.2!");
    EXPECT_EQ(RequirePluginByName(L, "nothere", 0, 0, flags | LV_PLF_OPTIONAL, nullptr, nullptr), 0);

    ASSERT_EQ(Load("cmdlib"), 0);
    EXPECT_EQ(RequirePluginByName(L, PluginPath("needs").c_str(), 0, 0, flags, nullptr, nullptr), 0);
    EXPECT_TRUE(FindPluginByModuleName("needs")->required);
    EXPECT_TRUE(HasGlobal("needshello"));
    // Too old: the plug-in is version 2.3.
    code = RequirePluginByName(L, "needs", 3, 0, flags, nullptr, nullptr);
    EXPECT_EQ(ErrorText(code), "This program requires needs.lvp 3.0!");
    EXPECT_EQ(RequirePluginByName(L, "needs", 2, 3, flags, nullptr, nullptr), 0);
    EXPECT_EQ(RequirePluginByName(L, "needs", 3, 0, flags | LV_PLF_MISSINGOK, nullptr, nullptr), 0);
}

TEST_F(PluginTest, ExtensionWordsDeferLibrariesUntilRequired)
{
    lvPluginNode *node = nullptr;
    ASSERT_EQ(Load("extplug", &node), 0);
    EXPECT_EQ(node->handle->record->extensions[1], 3u);
    EXPECT_FALSE(HasGlobal("extone"));
    ASSERT_EQ(RequirePluginByName(L, "extplug", 0, 0, LV_PLF_COMMANDS | LV_PLF_FRESH, nullptr, nullptr), 0);
    EXPECT_TRUE(HasGlobal("extone"));
    EXPECT_TRUE(HasGlobal("exttwo"));
    const char *text = nullptr;
    double number = 0;
    EXPECT_TRUE(LookupConstant(L, "EXT_SECOND", &text, &number));
    EXPECT_EQ(number, 2);
}

// ============================================================================
// Savers and the plugin library
// ============================================================================

TEST_F(PluginTest, SaverFormatsBecomeConstantsAndGetPluginsDescribesThePlugin)
{
    ASSERT_EQ(Load("saver"), 0);
    const char *text = nullptr;
    double number = 0;
    ASSERT_TRUE(LookupConstant(L, "IMGFMT_TESTRAW", &text, &number));
    EXPECT_EQ(number, 7001);
    ASSERT_TRUE(LookupConstant(L, "imgfmt_testppm", &text, &number));
    EXPECT_EQ(number, 7002);
    int index = -1;
    EXPECT_EQ(FindSaverPlugin(7002, PLUGINCAPS_SAVEIMAGE, &index), FindPluginByModuleName("saver")->handle->record);
    EXPECT_EQ(index, 1);
    SetPluginDisabled(FindPluginByModuleName("saver")->handle->record, 1);
    EXPECT_EQ(FindSaverPlugin(7002, PLUGINCAPS_SAVEIMAGE, &index), nullptr);

    ASSERT_EQ(Call("getplugins"), 0);
    PushNumber(L, 0);
    GetTableValueRaw(L, -2);
    ASSERT_EQ(GetValueType(L, -1), LV_TTABLE);
    auto field = [&](const char *key) {
        PushString(L, key);
        GetTableValueRaw(L, -2);
        std::string value = GetValueType(L, -1) == LV_TNUMBER ? std::to_string((int)ValueToNumber(L, -1))
                                                              : std::string(ValueToString(L, -1));
        SetStackTop(L, -2);
        return value;
    };
    EXPECT_EQ(field("modulename"), "saver");
    EXPECT_EQ(field("version"), "2");
    EXPECT_EQ(field("capabilities"), std::to_string(PLUGINCAPS_SAVEIMAGE));
    EXPECT_EQ(field("disabled"), "1");
    EXPECT_EQ(field("helpfile"), "");
    EXPECT_EQ(field("path"), PluginPath("saver"));
    PushString(L, "filetypes");
    GetTableValueRaw(L, -2);
    PushNumber(L, 0);
    GetTableValueRaw(L, -2);
    EXPECT_EQ(field("name"), "Test raw");
    EXPECT_EQ(field("mimetype"), "image/x-test");
    EXPECT_EQ(field("formatid"), "7001");
    EXPECT_EQ(field("flags"), "3");
    SetStackTop(L, 0);
}

TEST_F(PluginTest, PluginLibraryCommands)
{
    ASSERT_EQ(Load("cmdlib"), 0);
    struct HaveCase {
        const char *name;   // plug-in
        int version;        // asked version
        int revision;       // asked revision
        int found;          // expected
    } haves[] = {{"cmdlib", 2, 3, 1}, {"cmdlib.lvp", 1, 9, 1}, {"cmdlib", 2, 4, 0}, {"cmdlib", 3, 0, 0}, {"memfs", 0, 0, 0}};
    for (const HaveCase &c : haves) {
        PushString(L, c.name);
        PushNumber(L, c.version);
        PushNumber(L, c.revision);
        ASSERT_EQ(Call("haveplugin"), 0);
        EXPECT_EQ(ValueToNumber(L, -1), c.found) << c.name << " " << c.version << "." << c.revision;
        EXPECT_EQ(ValueToNumber(L, -2), c.found);
        SetStackTop(L, 0);
    }
    PushString(L, "nothere");
    int code = Call("disableplugin");
    EXPECT_EQ(code, ERR_FINDPLUGIN);
    EXPECT_EQ(ErrorText(code), "Cannot find plugin nothere!");
    SetStackTop(L, 0);
    PushString(L, "CMDLIB.lvp");
    ASSERT_EQ(Call("disableplugin"), 0);
    EXPECT_EQ(FindPluginByModuleName("cmdlib")->handle->record->disabled, 1);
    SetStackTop(L, 0);
    PushString(L, "cmdlib");
    ASSERT_EQ(Call("enableplugin"), 0);
    EXPECT_EQ(FindPluginByModuleName("cmdlib")->handle->record->disabled, 0);
    SetStackTop(L, 0);

    // LoadPlugin of a loaded plug-in with "skiprequire" is a doublet.
    std::string path = std::string(LV_TESTPLUGIN_DIR) + "/cmdlib";
    PushString(L, path.c_str());
    PushNewTable(L);
    PushString(L, "skiprequire");
    PushNumber(L, 1);
    SetTableValueRaw(L, -3);
    code = Call("loadplugin");
    EXPECT_EQ(code, ERR_PLUGINDOUBLET);
    EXPECT_EQ(ErrorText(code), "Plugin " + path + ".lvp has already been loaded!");
    SetStackTop(L, 0);
    // LoadPlugin of a new one loads and registers it.
    path = std::string(LV_TESTPLUGIN_DIR) + "/extplug";
    PushString(L, path.c_str());
    ASSERT_EQ(Call("loadplugin"), 0);
    EXPECT_TRUE(HasGlobal("exttwo"));
}

// ============================================================================
// File and directory adapters
// ============================================================================

static std::string ReadAll(lvVFile *file)
{
    std::string out;
    char buffer[64];
    for (int64_t n; (n = ReadVFile(file, buffer, sizeof buffer)) > 0;) out.append(buffer, (size_t)n);
    return out;
}

TEST_F(PluginTest, MemoryNamespaceThroughAdapterLists)
{
    ASSERT_EQ(Load("memfs"), 0);
    const int flags = LV_VF_READ | LV_VF_ADAPTERS;
    // Not named in any list yet: "plugin" does not offer a file adapter.
    EXPECT_EQ(OpenVFile("mem:hello.txt", flags, "plugin|inbuilt|native", nullptr), nullptr);
    EXPECT_EQ(OpenVFile("mem:hello.txt", flags, "inbuilt", nullptr), nullptr);
    lvVFile *file = OpenVFile("mem:hello.txt", flags, "myfs|memfs|inbuilt", nullptr);
    ASSERT_NE(file, nullptr);
    EXPECT_STREQ(GetVFileAdapterName(file), "memfs");
    EXPECT_EQ(ReadAll(file), "Hello from memfs");
    CloseVFile(file);
    // A member that joined by name is offered only where a list names it.
    for (const char *list : {"plugin", "default", ""})
        EXPECT_EQ(OpenVFile("mem:numbers.bin", flags, list, nullptr), nullptr) << list;
    file = OpenVFile("mem:numbers.bin", flags, "memfs", nullptr);
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(ReadAll(file), "0123456789");
    CloseVFile(file);
    // A prefix of the module name admits it; without adapter flag the name is plain.
    file = OpenVFile("mem:hello.txt", flags, "mem", nullptr);
    ASSERT_NE(file, nullptr);
    CloseVFile(file);
    EXPECT_EQ(OpenVFile("mem:hello.txt", LV_VF_READ, "memfs", nullptr), nullptr);
    // "memfs|inbuilt" offers the plug-in, then the runtime's own files; "memfs" alone
    // keeps plain files from being opened natively.
    std::string plain = std::string(LV_TESTPLUGIN_DIR) + "/cmdlib.lvp";
    file = OpenVFile(plain.c_str(), flags, "memfs|inbuilt", nullptr);
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(GetVFileAdapterName(file), nullptr);
    CloseVFile(file);
    EXPECT_EQ(OpenVFile(plain.c_str(), flags, "memfs", nullptr), nullptr);
    // Writing through the adapter, then reading back.
    file = OpenVFile("mem:new.txt", LV_VF_WRITE | LV_VF_ADAPTERS, "memfs", nullptr);
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(WriteVFile(file, "fresh", 5), 5);
    CloseVFile(file);
    file = OpenVFile("mem:new.txt", flags, "memfs", nullptr);
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(ReadAll(file), "fresh");
    lvFileInfo info;
    ASSERT_EQ(ExamineVFile(file, &info), 1);
    EXPECT_EQ(info.size, 5);
    CloseVFile(file);
    // A disabled adapter is skipped.
    SetPluginDisabled(FindPluginByModuleName("memfs")->handle->record, 1);
    EXPECT_EQ(OpenVFile("mem:hello.txt", flags, "memfs", nullptr), nullptr);
}

TEST_F(PluginTest, MemoryNamespaceDirectories)
{
    ASSERT_EQ(Load("memfs"), 0);
    lvVDir *dir = OpenVDir("mem:", LV_VD_READ | LV_VD_ADAPTERS, "memfs", nullptr);
    ASSERT_NE(dir, nullptr);
    EXPECT_STREQ(GetVDirAdapterName(dir), "memfs");
    EXPECT_STREQ(GetVDirFormatName(dir), "memfs");
    int restarted = 0;
    ASSERT_EQ(StartVDirScan(dir, &restarted), 0);
    std::set<std::string> names;
    const char *name = nullptr;
    int isDirectory = 0;
    while (NextVDirEntry(dir, restarted, &name, &isDirectory, nullptr)) names.insert(name);
    EXPECT_EQ(names, (std::set<std::string>{"hello.txt", "numbers.bin"}));
    CloseVDir(dir);
    // "inbuilt" alone keeps the adapter out; the plug-in put itself into the directory
    // chain, so the default list offers it.
    EXPECT_EQ(OpenVDir("mem:", LV_VD_READ | LV_VD_ADAPTERS, "inbuilt", nullptr), nullptr);
    dir = OpenVDir("mem:", LV_VD_READ | LV_VD_ADAPTERS, nullptr, nullptr);
    ASSERT_NE(dir, nullptr);
    CloseVDir(dir);
    // A file the adapter describes opens as a file object.
    dir = OpenVDir("mem:hello.txt", LV_VD_READ | LV_VD_ADAPTERS, "memfs", nullptr);
    ASSERT_NE(dir, nullptr);
    EXPECT_EQ(StartVDirScan(dir, &restarted), ERR_NOTADIR);
    CloseVDir(dir);
}

// ============================================================================
// Interface table
// ============================================================================

TEST_F(PluginTest, InterfaceTableEntries)
{
    const lvPluginApi *api = GetPluginApi();
    EXPECT_EQ(api->version, 11u);
    EXPECT_EQ(api->revision, 0u);
    EXPECT_EQ(api->system->empty21, nullptr);
    EXPECT_EQ(api->requesters->empty4, nullptr);
    EXPECT_EQ(api->graphics->ProgramIcons(), LVP_PENDING_ERROR);
    api->graphics->FreeMemory(api->system->AllocMemory(16, 1));
    // Without the images subsystem the brush entries find nothing and make nothing.
    lvPluginObjectId brush = {1, nullptr};
    lvBrushPixelAccess access = {};
    EXPECT_EQ(api->graphics->LockBrushPixels(&brush, nullptr, &access), nullptr);
    lvBrushPixelDesc desc = {};
    EXPECT_EQ(api->graphics->CreateBrushFromPixels(nullptr, &brush, 1, 1, &desc), LVP_PENDING_ERROR);
    // Without the picture-file subsystem the image entries answer "nothing".
    int w = -1, h = -1, alpha = -1;
    EXPECT_EQ(api->graphics->IsImageFile("x.png", &w, &h, &alpha), 0);
    EXPECT_EQ(api->graphics->LoadImage("x.png", nullptr, &w, &h, &alpha), nullptr);

    char container[64];
    int64_t offset = 0, size = 0;
    ASSERT_TRUE(api->files->SplitName("plain.txt", container, sizeof container, &offset, &size));
    EXPECT_EQ(offset, -1);
    EXPECT_EQ(size, -1);
    EXPECT_STREQ(container, "plain.txt");

    EXPECT_EQ(api->checksums->Crc32("", 0), -1);
    EXPECT_EQ((uint32_t)api->checksums->Crc32("123456789", 9), 0xCBF43926u);

    // Interface flags 9 keep adapters out; flags 0 let them serve the name.
    ASSERT_EQ(Load("memfs"), 0);
    void *file = api->files->OpenFileTags("mem:hello.txt", 0, nullptr);
    EXPECT_EQ(file, nullptr);  // not named in a list yet
    lvPluginTag tags[] = {{1, (intptr_t) "memfs"}, {0, 0}};
    file = api->files->OpenFileTags("mem:hello.txt", 0, tags);
    ASSERT_NE(file, nullptr);
    api->files->CloseFile(file);
    EXPECT_EQ(api->files->OpenFileTags("mem:hello.txt", 8, tags), nullptr);
    EXPECT_EQ(api->files->OpenFile("mem:hello.txt", 0), nullptr);  // default list: named-only member
    file = api->files->OpenFileTags("mem:hello.txt", 0, tags);
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(api->files->ReadByte(file), 'H');
    api->files->CloseFile(file);

    // Event names: ids from 34; a removed name's id is not handed out again.
    EXPECT_EQ(api->system->RegisterEventName("PluginEventA", 0), 34);
    EXPECT_EQ(api->system->RegisterEventName("pluginevventb", 0), 35);
    EXPECT_EQ(api->system->RegisterEventName("PLUGINEVENTA", 0), 0);
    api->system->UnregisterEventName(35);
    EXPECT_EQ(api->system->RegisterEventName("pluginevventb", 0), 36);
}

TEST_F(PluginTest, InterfaceFileEntriesOverChunksDirectoriesAndInformation)
{
    const lvApiFiles *files = GetPluginApi()->files;
    static const char bytes[] = "0123456789abcdef";
    // Chunk names: exactly one of container and memory, and an extension.
    struct RequestCase {
        const char *container;  // container or null
        const void *memory;     // memory or null
        const char *extension;  // extension or null
        int ok;                 // expected result
    } requests[] = {{nullptr, bytes, "bin", 1}, {"/tmp/c.dat", nullptr, "png", 1}, {"/tmp/c.dat", bytes, "bin", 0},
                    {nullptr, nullptr, "bin", 0}, {nullptr, bytes, nullptr, 0}, {nullptr, bytes, "", 0}};
    for (const RequestCase &c : requests) {
        lvPluginChunkRequest request = {c.container, c.memory, c.extension, nullptr, 4, nullptr, 6};
        char name[1024];
        EXPECT_EQ(files->MakeChunkName(name, sizeof name, &request), c.ok) << (c.extension ? c.extension : "-");
    }
    lvPluginChunkRequest request = {nullptr, bytes, "bin", nullptr, 4, nullptr, 6};
    char name[1024];
    ASSERT_TRUE(files->MakeChunkName(name, sizeof name, &request));
    char fileName[64], extension[16], container[64];
    lvPluginChunkInfo info = {fileName, sizeof fileName, extension, sizeof extension, container, sizeof container,
                              nullptr, nullptr, 0, 0};
    ASSERT_TRUE(files->DescribeChunkName(name, &info));
    EXPECT_STREQ(fileName, "foo.bin");
    EXPECT_STREQ(extension, ".bin");
    EXPECT_EQ(info.memory, bytes + 4);
    EXPECT_EQ(info.size, 6);
    EXPECT_FALSE(files->DescribeChunkName("plain.txt", &info));

    // A range of memory copied into a new file, and that file examined.
    char target[] = "/tmp/lvcopyXXXXXX";
    int fd = mkstemp(target);
    ASSERT_GE(fd, 0);
    close(fd);
    ASSERT_EQ(files->CopyRange(target, bytes, 10, 0, 6, 0, 1), 0);
    EXPECT_EQ(ReadFile(target), "abcdef");
    lvPluginFileInfo fileInfo;
    ASSERT_TRUE(files->ExaminePath(target, 1 | LVP_INFO_ALLOCATE, &fileInfo));
    EXPECT_EQ(fileInfo.size, 6);
    EXPECT_EQ(fileInfo.isDirectory, 0);
    EXPECT_NE(std::string(fileInfo.path).find("lvcopy"), std::string::npos);
    EXPECT_EQ(fileInfo.comment, nullptr);
    GetPluginApi()->system->FreeMemory(fileInfo.path);
    void *file = files->OpenFile(target, LVP_OPEN_NOADAPTERS);
    ASSERT_NE(file, nullptr);
    ASSERT_TRUE(files->ExamineFile(file, 0, &fileInfo));
    EXPECT_EQ(fileInfo.size, 6);
    EXPECT_EQ(fileInfo.comment[0], 0);
    files->CloseFile(file);
    unlink(target);

    // Directory entries through a directory adapter that put itself into its chain.
    ASSERT_EQ(Load("memfs"), 0);
    void *dir = files->OpenDir("mem:", 0);
    ASSERT_NE(dir, nullptr);
    lvPluginDirEntry entry = {};
    ASSERT_TRUE(files->ExamineDir(dir, &entry));
    EXPECT_EQ(entry.name, nullptr);
    int restarted = 0;
    ASSERT_EQ(files->StartDirScan(dir, &restarted), 0);
    std::set<std::string> names;
    while (files->NextDirEntry(dir, &entry)) {
        names.insert(entry.name);
        if (std::strcmp(entry.name, "hello.txt") == 0) {
            EXPECT_EQ(entry.sizeLow, 16u);
        }
    }
    EXPECT_EQ(names.size(), 2u);
    files->CloseDir(dir);
    EXPECT_EQ(files->OpenDir("mem:", 4), nullptr);  // adapters not allowed
}

TEST_F(PluginTest, InterfaceTextTimeAndMathEntries)
{
    const lvPluginApi *api = GetPluginApi();
    struct CountCase {
        const char *text;  // UTF-8 text
        int64_t count;     // characters, -1 when invalid
    } counts[] = {{"", 0}, {"abc", 3}, {"h\xC3\xA9llo", 5}, {"\xFF", -1}, {"\xC3", -1}};
    for (const CountCase &c : counts) EXPECT_EQ(api->unicode->CountChars(c.text), c.count) << c.text;
    EXPECT_EQ(api->unicode->ToUpperUnicode(0xE9), 0xC9u);
    EXPECT_TRUE(api->unicode->IsSpaceUnicode(0x2003));
    char buffer[8] = {};
    EXPECT_EQ(api->unicode->EncodeUtf8(buffer, 0x20AC), 1);
    EXPECT_STREQ(buffer, "\xE2\x82\xAC");

    lvPluginTimeVal a = {10, 900000}, b = {3, 200000};
    api->system->AddTimeVal(&a, &b);
    EXPECT_EQ(a.seconds, 14u);
    EXPECT_EQ(a.microseconds, 100000u);
    EXPECT_EQ(api->system->CmpTimeVal(&a, &b), 1);

    api->math->SeedRandom48(7);
    double first = api->math->NextRandomDouble();
    api->math->SeedRandom48(7);
    EXPECT_EQ(api->math->NextRandomDouble(), first);
    EXPECT_GE(first, 0.0);
    EXPECT_LT(first, 1.0);
    EXPECT_EQ(api->math->hypot_(3, 4), 5);

    // Runtime tags: known tags count; pointers receive what their tag names.
    int errorMode = -1, zero = -1;
    const char *title = "unset";
    lvPluginTag tags[] = {{44, (intptr_t)&errorMode}, {50, (intptr_t)&zero}, {26, (intptr_t)&title}, {999, 0},
                          {38, 1}, {0, 0}};
    EXPECT_EQ(api->system->RuntimeTags(tags), 4);
    EXPECT_EQ(errorMode, GetErrorState()->errorMode);
    EXPECT_EQ(zero, 0);
    EXPECT_EQ(title, nullptr);  // no applet open
    EXPECT_EQ(GetErrorState()->stopRequest, 1);
    lvPluginTag reset[] = {{40, 0}, {0, 0}};
    EXPECT_EQ(api->system->RuntimeTags(reset), 1);
    EXPECT_EQ(GetErrorState()->stopRequest, 0);

    lvPluginScriptLocation where;
    api->system->ScriptLocation(&where);
    EXPECT_STREQ(where.command, "----");
    char *latin = api->system->ConvertTextEncoding("\xC3\xA9", 1, 0, nullptr);
    ASSERT_NE(latin, nullptr);
    EXPECT_STREQ(latin, "\xE9");
    api->system->FreeMemory(latin);
}

static std::string hookTrace;
static int LineHook(lvState *, void *user)
{
    hookTrace += (const char *)user;
    return std::strcmp((const char *)user, "!") == 0 ? ERR_USERABORT : 0;
}
static void EndOfStartHook(void *b, void *user)
{
    hookTrace += (const char *)user;
    hookTrace += (const char *)b;
}

TEST_F(PluginTest, HooksRunByTypeInOrderAndOnceForTypeThree)
{
    hookTrace.clear();
    EXPECT_EQ(AddPluginHook(5, (void *)LineHook, nullptr, 0), nullptr);
    lvPluginHook *a = AddPluginHook(1, (void *)LineHook, (void *)"a", 0);
    lvPluginHook *b = AddPluginHook(1, (void *)LineHook, (void *)"b", 0);
    AddPluginHook(3, (void *)EndOfStartHook, (void *)"s", 0);
    ASSERT_TRUE(a && b);
    EXPECT_EQ(RunPluginHooks(L, 1, nullptr, nullptr), 0);
    SetPluginHookDisabled(a, 1);
    EXPECT_EQ(RunPluginHooks(L, 1, nullptr, nullptr), 0);
    EXPECT_EQ(hookTrace, "abb");
    EXPECT_EQ(RunPluginHooks(L, 3, nullptr, (void *)"!"), 0);
    EXPECT_EQ(RunPluginHooks(L, 3, nullptr, (void *)"?"), 0);  // disabled after its run
    EXPECT_EQ(hookTrace, "abbs!");
    SetPluginHookDisabled(a, 0);
    // A non-zero answer stops the walk and is returned.
    lvPluginHook *stop = AddPluginHook(1, (void *)LineHook, (void *)"!", 0);
    AddPluginHook(1, (void *)LineHook, (void *)"c", 0);
    hookTrace.clear();
    EXPECT_EQ(RunPluginHooks(L, 1, nullptr, nullptr), ERR_USERABORT);
    EXPECT_EQ(hookTrace, "ab!");
    RemovePluginHook(stop);
    RemovePluginHook(b);
    hookTrace.clear();
    EXPECT_EQ(RunPluginHooks(L, 1, nullptr, nullptr), 0);
    EXPECT_EQ(hookTrace, "ac");
}

TEST_F(PluginTest, ObjectIdentifierPairCarriesAFullHandle)
{
    void *handle = (void *)(uintptr_t)0x7fedcba987654321ull;
    PushPointer(L, handle);
    PushNumber(L, 17);
    lvPluginObjectId id;
    ASSERT_EQ(GetPluginApi()->scriptVM->GetObjectIdArg(L, 1, &id), 0);
    EXPECT_EQ(id.handle, handle);
    EXPECT_EQ(id.number, 0);
    ASSERT_EQ(GetPluginApi()->scriptVM->GetObjectIdArg(L, 2, &id), 0);
    EXPECT_EQ(id.number, 17);
    EXPECT_EQ(id.handle, nullptr);
    PushString(L, "x");
    EXPECT_EQ(GetPluginApi()->scriptVM->GetObjectIdArg(L, 3, &id), ERR_WRONGID);
    SetStackTop(L, 0);
}

TEST_F(PluginTest, ClipboardAdapterIsGuardedByItsOwnInstallationWord)
{
    const lvApiSystem *system = GetPluginApi()->system;
    lvPluginRecord plain = {}, first = {}, second = {};
    EXPECT_EQ(system->InstallClipboardAdapter(&plain, 0), ERR_WRONGUSAGE);
    first.capabilities = second.capabilities = PLUGINCAPS_CLIPBOARDADAPTER;
    // The requester word of the installed adapter does not guard the clipboard.
    first.requesterInstall = 1;
    ASSERT_EQ(system->InstallClipboardAdapter(&first, 0), 0);
    EXPECT_EQ(first.clipboardInstall, 0u);
    ASSERT_EQ(system->InstallClipboardAdapter(&second, 1), 0);
    EXPECT_EQ(GetClipboardAdapter(), &second);
    // Its own word does.
    EXPECT_EQ(system->InstallClipboardAdapter(&first, 0), ERR_SETADAPTER);
    EXPECT_EQ(GetClipboardAdapter(), &second);
}

TEST_F(PluginTest, EachAdapterIsGuardedByItsOwnInstallationWordDuringSetup)
{
    const lvPluginApi *api = GetPluginApi();
    lvPluginRecord timer = {}, ipcA = {}, ipcB = {}, requester = {};
    timer.capabilities = PLUGINCAPS_TIMERADAPTER;
    ipcA.capabilities = ipcB.capabilities = PLUGINCAPS_IPCADAPTER;
    requester.capabilities = PLUGINCAPS_REQUESTERADAPTER;
    // Outside the setup phase nothing is installed.
    EXPECT_EQ(api->system->InstallIpcAdapter(&ipcA, 0), ERR_SETADAPTER);
    SetAdapterSetupPhase(1);
    EXPECT_EQ(api->system->InstallIpcAdapter(&timer, 0), ERR_WRONGUSAGE);
    // An installed timer adapter whose word locks it does not lock the message-port adapter.
    ASSERT_EQ(api->system->InstallTimerAdapter(&timer, 1), 0);
    ASSERT_EQ(api->system->InstallIpcAdapter(&ipcA, 0), 0);
    ASSERT_EQ(api->system->InstallIpcAdapter(&ipcB, 1), 0);
    EXPECT_EQ(GetInstalledAdapter(LV_ADAPTER_IPC), &ipcB);
    EXPECT_EQ(ipcB.ipcInstall, 1u);
    // The message-port adapter's own word does.
    EXPECT_EQ(api->system->InstallIpcAdapter(&ipcA, 0), ERR_SETADAPTER);
    lvPluginRecord timer2 = {};
    timer2.capabilities = PLUGINCAPS_TIMERADAPTER;
    EXPECT_EQ(api->system->InstallTimerAdapter(&timer2, 0), ERR_SETADAPTER);
    ASSERT_EQ(api->requesters->InstallRequesterAdapter(&requester, 0), 0);
    EXPECT_EQ(GetInstalledAdapter(LV_ADAPTER_REQUESTER), &requester);
    SetAdapterSetupPhase(0);
}

// ============================================================================
// Appended blocks and linked programs
// ============================================================================

static void Put32(std::string &out, uint32_t v)
{
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back((char)(v >> shift));
}

TEST(PluginBlocks, EntryNamesCannotLeaveTheTemporaryDirectory)
{
    char root[] = "/tmp/lvblockXXXXXX";
    ASSERT_NE(mkdtemp(root), nullptr);
    std::string exe = std::string(root) + "/program";
    std::string block = "LVP!";
    Put32(block, 0);
    for (const char *name : {"../escape", "/tmp/abs", "good"}) {
        block += name;
        block.push_back(0);
        Put32(block, 4);
        block += "data";
    }
    block.push_back(0);
    std::ofstream(exe, std::ios::binary) << block;
    uint64_t offset = 0;
    // A name that could reach outside the directory marks the block as forged.
    EXPECT_EQ(ExtractPluginBlocks(exe.c_str(), &offset), ERR_READ);
    const char *dir = GetStartupState()->pluginDirectory;
    ASSERT_TRUE(dir[0]);
    std::string parent = dir;
    parent = parent.substr(0, parent.rfind('/'));
    struct stat info;
    EXPECT_NE(stat((parent + "/escape.lvp").c_str(), &info), 0);
    EXPECT_NE(stat("/tmp/abs.lvp", &info), 0);
    // Whatever was written is inside the directory.
    DIR *d = opendir(dir);
    ASSERT_NE(d, nullptr);
    while (dirent *e = readdir(d)) EXPECT_EQ(std::strchr(e->d_name, '/'), nullptr);
    closedir(d);

    // Removing the directory does not follow a symbolic link out of it.
    std::string outside = std::string(root) + "/outside";
    ASSERT_EQ(mkdir(outside.c_str(), 0700), 0);
    std::ofstream(outside + "/keep.txt") << "keep";
    ASSERT_EQ(symlink(outside.c_str(), (std::string(dir) + "/link").c_str()), 0);
    EXPECT_TRUE(DeleteDirectoryTree(dir));
    EXPECT_EQ(stat((outside + "/keep.txt").c_str(), &info), 0);
    GetStartupState()->pluginDirectory[0] = 0;
    std::system((std::string("rm -rf ") + root).c_str());
}

// Links the runtime the build made with the test applet and the given lvlink options
// into dir/program; true when lvlink succeeded.
static bool LinkRealRuntime(const std::string &dir, const std::string &options)
{
    std::string bin = LV_BIN_DIR;
    std::string command = "timeout 30 " + bin + "/lvlink link " + bin + "/lumivarra " +
                          std::string(LV_TESTPLUGIN_DIR) + "/plugins_applet.lva -o " + dir + "/program " +
                          options + " >/dev/null 2>&1";
    return std::system(command.c_str()) == 0;
}

// Runs a linked program with its own TMPDIR; exit code and output.
static int RunLinked(const std::string &program, const std::string &tmp, std::string &output)
{
    std::string command = "TMPDIR=" + tmp + " timeout 30 " + program + " 2>&1";
    FILE *pipe = popen(command.c_str(), "r");
    if (!pipe) return -1;
    char buffer[256];
    while (size_t n = fread(buffer, 1, sizeof buffer, pipe)) output.append(buffer, n);
    int status = pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

static int CountEntries(const std::string &dir)
{
    int count = 0;
    DIR *d = opendir(dir.c_str());
    if (!d) return -1;
    while (dirent *e = readdir(d))
        if (std::strcmp(e->d_name, ".") && std::strcmp(e->d_name, "..")) count++;
    closedir(d);
    return count;
}

// A private directory for one linked program, and beside it the TMPDIR of its run.
class LinkedProgramTest : public ::testing::Test {
protected:
    std::string root, tmp;

    void SetUp() override
    {
        char dir[] = "/tmp/lvlinkedXXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        root = dir;
        tmp = root + "/tmp";
        ASSERT_EQ(mkdir(tmp.c_str(), 0700), 0);
    }
    void TearDown() override { std::system(("rm -rf " + root).c_str()); }

    static std::string Plugin(const char *option, const char *stem) { return std::string(option) + " " + PluginPath(stem) + " "; }
    static std::string Library() { return std::string("--library ") + LV_TESTPLUGIN_DIR + "/extension.lvl "; }
};

// The plug-in blocks of a linked program as "magic/flag:name name ..." words.
static std::string DescribeBlocks(const std::string &program, std::string &packedMagics)
{
    struct stat runtime;
    if (stat((std::string(LV_BIN_DIR) + "/lumivarra").c_str(), &runtime) != 0) return "no runtime";
    lvByteSource source;
    if (OpenFileSource(&source, program.c_str()) != 0) return "cannot open";
    struct Seen {
        std::string text, magics;   // the entries; the first four bytes of packed payloads
        lvByteSource *source;
    } seen = {"", "", &source};
    auto visit = [](void *user, lvByteSource *src, const lvPluginBlockEntry *entry) {
        Seen *s = (Seen *)user;
        s->text += std::string(" ") + entry->name;
        if (entry->packed) {
            char magic[5] = {};
            src->read(src->context, entry->payloadOffset, magic, 4);
            s->magics += magic;
        }
        return 0;
    };
    // The appended blocks start where the runtime's own image ends.
    uint64_t offset = (uint64_t)runtime.st_size;
    for (const char *magic : {"LVL!", "LVP!", "LVP!", "LVP!"}) {
        uint64_t before = offset;
        uint8_t flags[8];
        bool packed = source.read(source.context, offset, flags, 8) == 8 && (flags[7] & 1);
        std::string mark = std::string(" | ") + magic + (packed ? "packed" : "raw") + ":";
        size_t at = seen.text.size();
        if (WalkPluginBlock(&source, magic, &offset, visit, &seen) != 0) seen.text += " error";
        if (offset != before) seen.text.insert(at, mark);
    }
    char next[4] = {};
    source.read(source.context, offset, next, 4);
    seen.text += std::string(" | ") + std::string(next, 3);
    CloseByteSource(&source);
    packedMagics = seen.magics;
    return seen.text;
}

TEST_F(LinkedProgramTest, EachPluginIsPackedOrRawAsItsOptionSays)
{
    struct Case {
        std::string options;    // lvlink options
        const char *blocks;     // the blocks that follow the runtime
    } cases[] = {
        {Library() + Plugin("--plugin", "cmdlib") + Plugin("--plugin", "memfs"),
         " | LVL!raw: extension | LVP!raw: cmdlib memfs | LVA"},
        {Plugin("--plugin", "cmdlib") + "--pack-plugins " + Library(),
         " | LVL!packed: extension | LVP!packed: cmdlib | LVA"},
        // One executable with a packed and a raw plug-in: a block for each, packed first.
        {Plugin("--plugin-raw", "memfs") + Plugin("--plugin-packed", "cmdlib") + Library(),
         " | LVL!raw: extension | LVP!packed: cmdlib | LVP!raw: memfs | LVA"},
        // --pack-plugins reaches only the plug-ins without a choice of their own.
        {Plugin("--plugin-raw", "memfs") + "--pack-plugins " + Plugin("--plugin", "cmdlib") +
             Plugin("--plugin", "saver"),
         " | LVP!packed: cmdlib saver | LVP!raw: memfs | LVA"},
    };
    for (const Case &c : cases) {
        ASSERT_TRUE(LinkRealRuntime(root, c.options)) << c.options;
        std::string magics;
        EXPECT_EQ(DescribeBlocks(root + "/program", magics), c.blocks) << c.options;
        for (size_t i = 0; i < magics.size(); i += 4) EXPECT_EQ(magics.substr(i, 4), "PLPK") << c.options;
    }
    // A plug-in option without its path is refused.
    EXPECT_FALSE(LinkRealRuntime(root, "--plugin-packed"));
}

// The runtime the build made, linked with plug-ins and an extension library: GetPlugins
// lists the plug-ins (the applet prints them), the command library's command runs (its
// sum is the exit code) and the temporary plug-in directory is gone after the run.
static void ExpectLinkedRun(const std::string &root, const std::string &tmp, const std::string &options,
                            const std::vector<std::string> &names)
{
    ASSERT_TRUE(LinkRealRuntime(root, options)) << options;
    std::string output;
    EXPECT_EQ(RunLinked(root + "/program", tmp, output), 42) << options << ": " << output;
    size_t line = output.find("plugins:");
    ASSERT_NE(line, std::string::npos) << output;
    std::string listed = output.substr(line, output.find('\n', line) - line);
    for (const std::string &name : names) EXPECT_NE(listed.find(" " + name), std::string::npos) << listed;
    EXPECT_EQ(CountEntries(tmp), 0) << options;
}

TEST_F(LinkedProgramTest, RuntimeRunsThePluginsOfAPackedAndOfARawBlock)
{
    ExpectLinkedRun(root, tmp, Plugin("--plugin-packed", "cmdlib") + Plugin("--plugin-packed", "memfs") + Library(),
                    {"cmdlib", "memfs"});
    ExpectLinkedRun(root, tmp, Plugin("--plugin", "cmdlib") + Plugin("--plugin", "saver") + Library(),
                    {"cmdlib", "saver"});
}

// Start-up reads one "LVP!" block today; it has to walk every block of a magic before
// the applet for this program to start. Enable once it does.
TEST_F(LinkedProgramTest, RuntimeRunsAPackedAndARawPluginOfOneProgram)
{
    ExpectLinkedRun(root, tmp, Plugin("--plugin-packed", "cmdlib") + Plugin("--plugin-raw", "memfs") + Library(),
                    {"cmdlib", "memfs"});
}

// Links the built runtime with a test applet and one test plug-in into root/program.
static bool LinkAppletWithPlugin(const std::string &root, const std::string &applet, const std::string &plugin)
{
    std::string bin = LV_BIN_DIR;
    std::string command = "timeout 30 " + bin + "/lvlink link " + bin + "/lumivarra " +
                          std::string(LV_TESTPLUGIN_DIR) + "/" + applet + ".lva -o " + root + "/program " +
                          "--plugin " + PluginPath(plugin) + " >/dev/null 2>&1";
    return std::system(command.c_str()) == 0;
}

// A plug-in linked into a program drives the raster slots of the graphics sub-table on
// its own buffers: fills and pixels with their row and clip tags, blits cut by a clip
// rectangle and through masks and alpha, conversions, scaling, pixels to pens.
TEST_F(LinkedProgramTest, PluginDrivesTheRasterSlots)
{
    ASSERT_TRUE(LinkAppletWithPlugin(root, "raster_slots_applet", "rasterslots"));
    std::string output;
    EXPECT_EQ(RunLinked(root + "/program", tmp, output), 0) << output;
    EXPECT_EQ(output, "raster: \n") << "failing raster slots after \"raster:\"";
}

// A plug-in linked into a program calls every slot of the font lookup, font engine, font
// data and JPEG sub-tables: a glyph drawn through FreeType equals the text library's, and a
// picture encoded and decoded in memory comes back within its quality's bound.
TEST_F(LinkedProgramTest, PluginCallsTheFontAndJpegSlots)
{
    ASSERT_TRUE(LinkAppletWithPlugin(root, "fontjpeg_applet", "fontjpeg"));
    std::string output;
    EXPECT_EQ(RunLinked("env SDL_VIDEODRIVER=offscreen " + root + "/program", tmp, output), 0) << output;
    EXPECT_EQ(output, "fontjpeg: \n") << "failing slots after \"fontjpeg:\"";
}

// A plug-in linked into a program checks, from its own side of the interface table, that
// every slot docs/plugins.md lists as live is there and that the slots wired to library
// services answer as they should.
TEST_F(LinkedProgramTest, PluginFindsEveryLiveSlotOfTheInterfaceTable)
{
    ASSERT_TRUE(LinkAppletWithPlugin(root, "slots_applet", "slotcheck"));
    ASSERT_EQ(std::system(("mkdir -p " + root + "/Catalogs/german").c_str()), 0);
    std::ofstream(root + "/Catalogs/german/slots.catalog") << "null\neins\nzwei\n";
    std::string output;
    EXPECT_EQ(RunLinked("env LC_ALL=de_CH.UTF-8 TZ=UTC " + root + "/program", tmp, output), 0) << output;
    EXPECT_EQ(output, "handler: 1018\nslots: \nversion: slotcheck\nthing: 309\n") << "failing slots after \"slots:\"";
}

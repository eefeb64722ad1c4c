// lib_plugin.cpp - the plugin library: GetPlugins, DisablePlugin, EnablePlugin,
// LoadPlugin and HavePlugin, and the capability and file-type constants.
//
// Dependencies: runtime/plugin.h (the manager), runtime/errors.h, vm/lvvm.h,
// runtime/encoding.h. Limits: names of at most LV_PATH_SIZE bytes.
#include "platform/lvplatform.h"
#include "runtime/encoding.h"
#include "runtime/errors.h"
#include "runtime/lists.h"
#include "base/lverrors.h"
#include "runtime/cmdsupport.h"
#include "runtime/plugin.h"
#include <cstdio>
#include <cstring>
#include <strings.h>

// ---- Helpers -----------------------------------------------------------------------------

// Texts reach the script in its encoding: UTF-8 as it is, else converted to ISO-8859-1.
static void PushPluginText(lvState *L, const char *text)
{
    if (!text) text = "";
    if (GetScriptEncoding()) {
        PushString(L, text);
        return;
    }
    char *converted = Utf8ToLatin1(text, 0);
    if (!converted) RaiseError(L, ERR_MEM);
    PushString(L, converted);
    FreeMemory(converted);
}

static void SetTextField(lvState *L, const char *key, const char *text)
{
    PushString(L, key);
    PushPluginText(L, text);
    SetTableValueRaw(L, -3);
}

// The name with ".lvp" appended unless it is there.
static void WithExtension(const char *name, char *buffer, size_t size)
{
    size_t length = std::strlen(name);
    int has = length > 4 && strcasecmp(name + length - 4, ".lvp") == 0;
    std::snprintf(buffer, size, "%s%s", name, has ? "" : ".lvp");
}

static lvPluginNode *FindByFileName(const char *fileName)
{
    for (lvPluginNode *node = GetFirstPluginNode(); node; node = node->next)
        if (strcasecmp(node->fileName, fileName) == 0) return node;
    return nullptr;
}

// ---- Commands ----------------------------------------------------------------------------

// One table per loaded plug-in, keyed from 0 in load order (GetPlugins, GetVersion).
void PushPluginTable(lvState *L)
{
    PushNewTable(L);
    int index = 0;
    for (lvPluginNode *node = GetFirstPluginNode(); node; node = node->next, index++) {
        lvPluginRecord *r = node->handle->record;
        PushNumber(L, index);
        PushNewTable(L);
        SetFieldNumber(L, "version", r->version);
        SetFieldNumber(L, "revision", r->revision);
        SetFieldNumber(L, "capabilities", r->capabilities);
        SetTextField(L, "name", r->name);
        SetTextField(L, "author", r->author);
        SetTextField(L, "description", r->description);
        SetTextField(L, "copyright", r->copyright);
        SetTextField(L, "url", r->url);
        SetTextField(L, "date", r->date);
        SetTextField(L, "settings", r->settings);
        SetTextField(L, "helpfile", r->helpFile);
        SetTextField(L, "modulename", r->moduleName);
        SetFieldNumber(L, "disabled", r->disabled ? 1 : 0);
        SetTextField(L, "path", node->path);
        PushString(L, "filetypes");
        PushNewTable(L);
        int typeIndex = 0;
        for (lvPluginFileType *t = r->fileTypes; t; t = t->next, typeIndex++) {
            PushNumber(L, typeIndex);
            PushNewTable(L);
            SetFieldNumber(L, "type", t->type);
            SetTextField(L, "name", t->name);
            SetTextField(L, "extensions", t->extensions);
            SetTextField(L, "mimetype", t->mimeType);
            SetFieldNumber(L, "formatid", t->formatId);
            SetFieldNumber(L, "flags", t->flags);
            SetTableValueRaw(L, -3);
        }
        SetTableValueRaw(L, -3);
        SetTableValueRaw(L, -3);
    }
}

// GetPlugins(): the loaded plug-ins.
static int CmdGetPlugins(lvState *L)
{
    if (GetStackTop(L) > 0) return ERR_TOOMANYARGS;
    PushPluginTable(L);
    return 1;
}

static int SetDisabledByName(lvState *L, int flag)
{
    if (GetStackTop(L) < 1) return ERR_MISSINGPARAMTR;
    if (GetStackTop(L) > 1) return ERR_TOOMANYARGS;
    const char *name = CheckStringArg(L, 1, nullptr);
    lvPluginNode *node = FindPluginByModuleName(name);
    if (!node) {
        SetErrorStringArg(name);
        return ERR_FINDPLUGIN;
    }
    SetPluginDisabled(node->handle->record, flag);
    return 0;
}

// DisablePlugin(modulename) / EnablePlugin(modulename).
static int CmdDisablePlugin(lvState *L) { return SetDisabledByName(L, 1); }
static int CmdEnablePlugin(lvState *L) { return SetDisabledByName(L, 0); }

// Reads a numeric field of the options table at index 2 (0 when absent).
static int OptionNumber(lvState *L, const char *key)
{
    PushString(L, key);
    GetTableValueRaw(L, 2);
    int value = GetValueType(L, -1) == LV_TNUMBER ? (int)ValueToNumber(L, -1) : 0;
    SetStackTop(L, -2);
    return value;
}

// LoadPlugin(name[, {version, revision, skiprequire, usertags}]).
static int CmdLoadPlugin(lvState *L)
{
    int count = GetStackTop(L);
    if (count < 1) return ERR_MISSINGPARAMTR;
    if (count > 2) return ERR_TOOMANYARGS;
    const char *name = CheckStringArg(L, 1, nullptr);
    int version = 0, revision = 0, skipRequire = 0;
    lvUserTag *userTags = nullptr;
    if (count == 2 && GetValueType(L, 2) != LV_TNIL) {
        CheckTableArg(L, 2);
        version = OptionNumber(L, "version");
        revision = OptionNumber(L, "revision");
        skipRequire = OptionNumber(L, "skiprequire");
        if (int code = ReadUserTags(L, 2, nullptr, nullptr, &userTags)) return code;
    }
    char file[LV_PATH_SIZE];
    WithExtension(name, file, sizeof file);
    if (lvPluginNode *node = FindByFileName(FindFilePart(file))) {
        if (skipRequire || node->required) {
            FreeUserTags(userTags, 0);
            SetErrorStringArg(file);
            return ERR_PLUGINDOUBLET;
        }
    }
    int flags = LV_PLF_COMMANDS | LV_PLF_CONSTANTS | LV_PLF_FRESH | (skipRequire ? LV_PLF_SKIPREQUIRE : 0);
    int code = RequirePluginByName(L, file, version, revision, flags, userTags, nullptr);
    FreeUserTags(userTags, 0);
    return code;
}

// HavePlugin(name[, version[, revision]]) -> found, found.
static int CmdHavePlugin(lvState *L)
{
    int count = GetStackTop(L);
    if (count < 1) return ERR_MISSINGPARAMTR;
    if (count > 3) return ERR_TOOMANYARGS;
    const char *name = CheckStringArg(L, 1, nullptr);
    int version = (int)GetOptionalNumberArg(L, 2, 0);
    int revision = (int)GetOptionalNumberArg(L, 3, 0);
    char file[LV_PATH_SIZE];
    WithExtension(name, file, sizeof file);
    int found = 0;
    if (lvPluginNode *node = FindByFileName(FindFilePart(file))) {
        lvPluginRecord *r = node->handle->record;
        found = (int)r->version > version || ((int)r->version == version && (int)r->revision >= revision);
    }
    PushNumber(L, found);
    PushNumber(L, found);
    return 2;
}

// ---- Library table -----------------------------------------------------------------------

static const lvCommandEntry pluginCommands[] = {
    {"GetPlugins", CmdGetPlugins},
    {"DisablePlugin", CmdDisablePlugin},
    {"EnablePlugin", CmdEnablePlugin},
    {"LoadPlugin", CmdLoadPlugin},
    {"HavePlugin", CmdHavePlugin},
    {nullptr, nullptr},
};

static const lvConstantEntry pluginConstants[] = {
    {"PLUGINCAPS_CONVERT", nullptr, PLUGINCAPS_CONVERT},
    {"PLUGINCAPS_LIBRARY", nullptr, PLUGINCAPS_LIBRARY},
    {"PLUGINCAPS_IMAGE", nullptr, PLUGINCAPS_IMAGE},
    {"PLUGINCAPS_ANIM", nullptr, PLUGINCAPS_ANIM},
    {"PLUGINCAPS_SOUND", nullptr, PLUGINCAPS_SOUND},
    {"PLUGINCAPS_VECTOR", nullptr, PLUGINCAPS_VECTOR},
    {"PLUGINCAPS_VIDEO", nullptr, PLUGINCAPS_VIDEO},
    {"PLUGINCAPS_SAVEIMAGE", nullptr, PLUGINCAPS_SAVEIMAGE},
    {"PLUGINCAPS_SAVEANIM", nullptr, PLUGINCAPS_SAVEANIM},
    {"PLUGINCAPS_SAVESAMPLE", nullptr, PLUGINCAPS_SAVESAMPLE},
    {"PLUGINCAPS_REQUIRE", nullptr, PLUGINCAPS_REQUIRE},
    {"PLUGINCAPS_DISPLAYADAPTER", nullptr, PLUGINCAPS_DISPLAYADAPTER},
    {"PLUGINCAPS_TIMERADAPTER", nullptr, PLUGINCAPS_TIMERADAPTER},
    {"PLUGINCAPS_REQUESTERADAPTER", nullptr, PLUGINCAPS_REQUESTERADAPTER},
    {"PLUGINCAPS_FILEADAPTER", nullptr, PLUGINCAPS_FILEADAPTER},
    {"PLUGINCAPS_DIRADAPTER", nullptr, PLUGINCAPS_DIRADAPTER},
    {"PLUGINCAPS_AUDIOADAPTER", nullptr, PLUGINCAPS_AUDIOADAPTER},
    {"PLUGINCAPS_EXTENSION", nullptr, PLUGINCAPS_EXTENSION},
    {"PLUGINCAPS_NETWORKADAPTER", nullptr, PLUGINCAPS_NETWORKADAPTER},
    {"PLUGINCAPS_SERIALIZE", nullptr, PLUGINCAPS_SERIALIZE},
    {"PLUGINCAPS_ICON", nullptr, PLUGINCAPS_ICON},
    {"PLUGINCAPS_SAVEICON", nullptr, PLUGINCAPS_SAVEICON},
    {"PLUGINCAPS_IPCADAPTER", nullptr, PLUGINCAPS_IPCADAPTER},
    {"PLUGINCAPS_FONT", nullptr, PLUGINCAPS_FONT},
    {"PLUGINCAPS_FILESYSADAPTER", nullptr, PLUGINCAPS_FILESYSADAPTER},
    {"PLUGINCAPS_CLIPBOARDADAPTER", nullptr, PLUGINCAPS_CLIPBOARDADAPTER},
    {"FILETYPE_IMAGE", nullptr, FILETYPE_IMAGE},
    {"FILETYPE_ANIM", nullptr, FILETYPE_ANIM},
    {"FILETYPE_SOUND", nullptr, FILETYPE_SOUND},
    {"FILETYPE_VIDEO", nullptr, FILETYPE_VIDEO},
    {"FILETYPE_ICON", nullptr, FILETYPE_ICON},
    {"FILETYPE_FONT", nullptr, FILETYPE_FONT},
    {"FILETYPEFLAGS_SAVE", nullptr, FILETYPEFLAGS_SAVE},
    {"FILETYPEFLAGS_ALPHA", nullptr, FILETYPEFLAGS_ALPHA},
    {"FILETYPEFLAGS_QUALITY", nullptr, FILETYPEFLAGS_QUALITY},
    {"FILETYPEFLAGS_FPS", nullptr, FILETYPEFLAGS_FPS},
    {nullptr, nullptr, 0},
};

const lvConstantEntry *GetPluginConstants(void) { return pluginConstants; }

// Registers the five commands as global commands into the table at the stack top.
int OpenPluginLibrary(lvState *L)
{
    RegisterLibrary(L, nullptr, pluginCommands, 0);
    // Error reports name the commands as the table spells them.
    return RegisterCommandList(pluginCommands, "plugin");
}

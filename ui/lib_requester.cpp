// lib_requester.cpp - the requester library's commands: each reads its arguments (the
// old positional form or an option table), checks them, calls one routing function of
// the requester engine and pushes the answer.
// Depends on: ui/requesters.h, ui/display.h, runtime/cmdsupport.h.
// Limits: script thread only.
#include "ui/requesters.h"

#include "base/lverrors.h"
#include "runtime/cmdsupport.h"
#include "runtime/errors.h"
#include "runtime/startup.h"
#include "runtime/container.h"
#include "ui/display.h"
#include "ui/display_modes.h"
#include "ui/input.h"
#include "vm/lvvm.h"

#include <climits>
#include <cstring>
#include <strings.h>

#define LV_REQ_TEXTMAX 1024

static int IntArg(lvState *L, int index, int fallback)
{
    if (GetStackTop(L) < index || GetValueType(L, index) == LV_TNIL) return fallback;
    int64_t v = NumberToInt64(CheckNumberArg(L, index));
    return v < INT_MIN ? INT_MIN : v > INT_MAX ? INT_MAX : static_cast<int>(v);
}

// The applet's title for an empty title.
static const char *TitleOrApplet(const char *title)
{
    if (title && *title) return title;
    lvAppletRecord *record = GetStartupState()->record;
    return record && record->title[0] ? record->title : "Lumivarra";
}

static void ReadGeometry(lvState *L, int index, lvRequesterGeometry *g)
{
    GetFieldInt(L, index, "x", &g->x);
    GetFieldInt(L, index, "y", &g->y);
    GetFieldInt(L, index, "width", &g->width);
    GetFieldInt(L, index, "height", &g->height);
}

// A table option at index ends the arguments.
static bool TableForm(lvState *L, int index)
{
    if (GetStackTop(L) < index || GetValueType(L, index) != LV_TTABLE) return false;
    if (GetStackTop(L) > index) RaiseError(L, ERR_TOOMANYARGS);
    return true;
}

// A requester ran: whatever the user did inside it is not the script's input.
static void AfterRequester(lvDisplay *d)
{
    if (d) ResetDisplayInput(d);
}

static int CmdSystemRequest(lvState *L)
{
    CheckArgCount(L, 3, 4, 0, 0);
    const char *title = CheckStringArg(L, 1, nullptr);
    const char *body = CheckStringArg(L, 2, nullptr);
    const char *buttons = CheckStringArg(L, 3, nullptr);
    int icon = IntArg(L, 4, 0);
    lvDisplay *d = GetCurrentDisplay();
    int choice = 0;
    int code = RouteSystemRequest(L, d, TitleOrApplet(title), body, buttons, icon, 1, &choice);
    AfterRequester(d);
    if (code && code != ERR_USERABORT) return code;
    PushNumber(L, choice);
    return 1;
}

struct lvFilterList {
    lvFileFilter *head = nullptr;
    ~lvFilterList()
    {
        while (head) {
            lvFileFilter *next = head->next;
            delete head;
            head = next;
        }
    }
};

// The "filters" option: a pattern text or a table of subtables.
static int ReadFilters(lvState *L, int index, std::string *pattern, lvFilterList *list)
{
    int type = PushFieldValue(L, index, "filters");
    int code = 0;
    if (type == LV_TSTRING) {
        size_t length = 0;
        const char *text = ValueToString(L, -1);
        length = ValueStringLength(L, -1);
        if (length > 1023) code = ERR_WRONGUSAGE;
        else *pattern = text;
    } else if (type == LV_TTABLE) {
        lvFileFilter **tail = &list->head;
        int table = GetStackTop(L);
        for (int i = 0;; i++) {
            GetTableItemRaw(L, table, i);
            int itemType = GetValueType(L, -1);
            if (itemType == LV_TNIL) {
                SetStackTop(L, -2);
                break;
            }
            if (itemType != LV_TTABLE) {
                SetStackTop(L, -2);
                code = ERR_TABLEORNIL;
                break;
            }
            int item = GetStackTop(L);
            char description[1024] = "", filter[1024] = "", mime[256] = "";
            int haveDescription = 0, haveFilter = 0, hide = 0;
            GetFieldStringBuf(L, item, "description", description, sizeof(description), &haveDescription);
            GetFieldStringBuf(L, item, "filter", filter, sizeof(filter), &haveFilter);
            GetFieldStringBuf(L, item, "mimetype", mime, sizeof(mime));
            GetFieldInt(L, item, "hidefilter", &hide);
            SetStackTop(L, -2);
            if (!haveDescription || !haveFilter) {
                SetErrorStringArg(!haveDescription ? "Description" : "filter");
                code = ERR_MISSINGFIELD;
                break;
            }
            lvFileFilter *entry = new lvFileFilter{nullptr, description, filter, mime, hide};
            *tail = entry;
            tail = &entry->next;
        }
    }
    SetStackTop(L, -2);
    return code;
}

static int CmdFileRequest(lvState *L)
{
    CheckArgCount(L, 1, 5, 0, 0);
    const char *title = CheckStringArg(L, 1, nullptr);
    std::string pattern, path, file;
    bool havePath = false, haveFile = false;
    int mode = 0;
    lvRequesterGeometry geometry = {LV_REQ_NOPOSITION, LV_REQ_NOPOSITION, 0, 0};
    lvFilterList filters;
    if (TableForm(L, 2)) {
        GetFieldInt(L, 2, "mode", &mode);
        ReadGeometry(L, 2, &geometry);
        char buffer[LV_REQ_TEXTMAX];
        int present = 0;
        GetFieldText(L, 2, "path", buffer, 1023, &present);
        if (present) path = buffer, havePath = true;
        GetFieldText(L, 2, "file", buffer, 1023, &present);
        if (present) file = buffer, haveFile = true;
        if (int code = ReadFilters(L, 2, &pattern, &filters)) return code;
    } else {
        pattern = GetOptionalStringArg(L, 2, "", nullptr);
        mode = IntArg(L, 3, 0);
        if (GetStackTop(L) >= 4 && GetValueType(L, 4) != LV_TNIL) path = CheckStringArg(L, 4, nullptr), havePath = true;
        if (GetStackTop(L) >= 5 && GetValueType(L, 5) != LV_TNIL) file = CheckStringArg(L, 5, nullptr), haveFile = true;
    }
    int hideIcons = (mode & 65536) != 0;
    mode &= ~65536;
    if (mode < 0 || mode > 2) return ERR_WRONGUSAGE;
    if (!havePath && !haveFile && !LastRequestedFile().empty()) {
        // Start where the last choice was made, with its name preset.
        const std::string &last = LastRequestedFile();
        size_t slash = last.find_last_of('/');
        if (slash != std::string::npos) {
            path = last.substr(0, slash == 0 ? 1 : slash);
            file = last.substr(slash + 1);
            havePath = haveFile = true;
        }
    }
    lvDisplay *d = GetCurrentDisplay();
    std::vector<std::string> paths;
    int code = RouteFileRequest(L, d, title, pattern.c_str(), mode, hideIcons, havePath ? path.c_str() : nullptr,
                                haveFile ? file.c_str() : nullptr, filters.head, &geometry, 1, &paths);
    AfterRequester(d);
    if (code) return code;
    if (mode == 1) {
        PushNewTable(L);
        int i = 0;
        for (const std::string &p : paths) {
            PushString(L, p.c_str());
            SetTableItemRaw(L, -2, i++);
        }
        PushString(L, "");
        SetTableItemRaw(L, -2, i);
    } else {
        PushString(L, paths.empty() ? "" : paths[0].c_str());
    }
    return 1;
}

static int CmdPathRequest(lvState *L)
{
    CheckArgCount(L, 1, 3, 0, 0);
    const char *title = CheckStringArg(L, 1, nullptr);
    int mode = 0;
    std::string path;
    lvRequesterGeometry geometry = {LV_REQ_NOPOSITION, LV_REQ_NOPOSITION, 0, 0};
    if (TableForm(L, 2)) {
        GetFieldInt(L, 2, "mode", &mode);
        ReadGeometry(L, 2, &geometry);
        char buffer[LV_REQ_TEXTMAX];
        int present = 0;
        GetFieldText(L, 2, "path", buffer, 1023, &present);
        if (present) path = buffer;
    } else {
        mode = IntArg(L, 2, 0);
        path = GetOptionalStringArg(L, 3, "", nullptr);
    }
    if (mode != 0 && mode != 2) return ERR_WRONGUSAGE;
    if (path.empty()) path = LastRequestedPath();
    lvDisplay *d = GetCurrentDisplay();
    std::string out;
    int chosen = 0;
    int code = RoutePathRequest(L, d, title, mode, path.empty() ? nullptr : path.c_str(), &geometry, 1, &out, &chosen);
    AfterRequester(d);
    if (code) return code;
    PushString(L, out.c_str());
    return 1;
}

static int CmdStringRequest(lvState *L)
{
    CheckArgCount(L, 2, 6, 0, 0);
    const char *title = CheckStringArg(L, 1, nullptr);
    const char *body = CheckStringArg(L, 2, nullptr);
    std::string text;
    bool haveText = false;
    int type = 0, maxLength = 0, password = 0;
    lvRequesterGeometry geometry = {LV_REQ_NOPOSITION, LV_REQ_NOPOSITION, 0, 0};
    if (TableForm(L, 3)) {
        GetFieldInt(L, 3, "type", &type);
        GetFieldInt(L, 3, "maxlength", &maxLength);
        GetFieldBool(L, 3, "password", &password);
        ReadGeometry(L, 3, &geometry);
        char *copy = nullptr;
        if (GetFieldStringDup(L, 3, "text", &copy, nullptr)) {
            text = copy;
            haveText = true;
            FreeMemory(copy);
        }
    } else {
        if (GetStackTop(L) >= 3 && GetValueType(L, 3) != LV_TNIL) text = CheckStringArg(L, 3, nullptr), haveText = true;
        type = IntArg(L, 4, 0);
        maxLength = IntArg(L, 5, 0);
        password = IntArg(L, 6, 0);
    }
    if ((type != 0 && type != 3) || maxLength < 0) return ERR_WRONGUSAGE;
    // A longer default is offered cut to whole characters.
    if (haveText && maxLength > 0) text.resize(CutAtCharacter(text.c_str(), (size_t)maxLength));
    if (haveText && type == 3 && !IsNumberText(text.c_str())) return ERR_WRONGUSAGE;
    lvDisplay *d = GetCurrentDisplay();
    std::string out;
    int confirmed = 0;
    int code = RouteStringRequest(L, d, TitleOrApplet(title), body, haveText ? text.c_str() : nullptr, type, maxLength,
                                  password, &geometry, 1, &out, &confirmed);
    AfterRequester(d);
    if (code) return code;
    PushString(L, out.c_str());
    PushNumber(L, confirmed);
    return 2;
}

static int CmdListRequest(lvState *L)
{
    CheckArgCount(L, 3, 4, 0, 0);
    const char *title = CheckStringArg(L, 1, nullptr);
    const char *body = CheckStringArg(L, 2, nullptr);
    CheckTableArg(L, 3);
    int active = -1;
    lvRequesterGeometry geometry = {LV_REQ_NOPOSITION, LV_REQ_NOPOSITION, 0, 0};
    if (TableForm(L, 4)) {
        GetFieldInt(L, 4, "active", &active);
        ReadGeometry(L, 4, &geometry);
    } else {
        active = IntArg(L, 4, -1);
    }
    std::string items;
    int count = 0;
    for (;; count++) {
        GetTableItemRaw(L, 3, count);
        int type = GetValueType(L, -1);
        if (type == LV_TNIL) {
            SetStackTop(L, -2);
            break;
        }
        if (type != LV_TSTRING && type != LV_TNUMBER) {
            SetStackTop(L, -2);
            return ERR_WRONGUSAGE;
        }
        size_t length = 0;
        const char *item = ValueToString(L, -1);
        length = ValueStringLength(L, -1);
        items.append(length ? std::string(item, strnlen(item, length)) : std::string(" "));
        items.push_back('\0');
        SetStackTop(L, -2);
    }
    if (count == 0) return ERR_WRONGUSAGE;
    items.push_back('\0');
    if (active < -1 || active >= count) active = -1;
    lvDisplay *d = GetCurrentDisplay();
    int index = -1;
    int code = RouteListRequest(L, d, TitleOrApplet(title), body, items, active, &geometry, 1, &index);
    AfterRequester(d);
    if (code) return code;
    PushNumber(L, index);
    return 1;
}

static int CmdFontRequest(lvState *L)
{
    CheckArgCount(L, 1, 3, 0, 0);
    const char *title = CheckStringArg(L, 1, nullptr);
    char font[256] = "";
    double size = 0;
    lvRequesterGeometry geometry = {LV_REQ_NOPOSITION, LV_REQ_NOPOSITION, 0, 0};
    if (TableForm(L, 2)) {
        GetFieldNumber(L, 2, "size", &size);
        ReadGeometry(L, 2, &geometry);
        GetFieldText(L, 2, "font", font, 255);
    } else {
        size_t length = 0;
        const char *given = GetOptionalStringArg(L, 2, "", &length);
        if (length > 255) return ERR_WRONGUSAGE;
        strcpy(font, given);
        size = GetOptionalNumberArg(L, 3, 0);
    }
    lvDisplay *d = GetCurrentDisplay();
    lvFontAnswer answer;
    int code = RouteFontRequest(L, d, title, font, size, &geometry, 1, &answer);
    AfterRequester(d);
    if (code) return code;
    PushNewTable(L);
    SetFieldString(L, "name", answer.family.empty() ? "" : FontDisplayName(answer).c_str());
    SetFieldString(L, "family", answer.family.c_str());
    SetFieldNumber(L, "size", answer.size);
    SetFieldNumber(L, "weight", answer.weight);
    SetFieldNumber(L, "slant", answer.slant);
    SetFieldNumber(L, "underline", answer.underline);
    SetFieldNumber(L, "strikeout", answer.strikeout);
    SetFieldNumber(L, "bold", answer.bold);
    SetFieldNumber(L, "italic", answer.italic);
    SetFieldNumber(L, "color", answer.colour);
    return 1;
}

static int CmdColorRequest(lvState *L)
{
    CheckArgCount(L, 1, 2, 0, 0);
    const char *title = CheckStringArg(L, 1, nullptr);
    int colour = -1;
    lvRequesterGeometry geometry = {LV_REQ_NOPOSITION, LV_REQ_NOPOSITION, 0, 0};
    if (TableForm(L, 2)) {
        GetFieldInt(L, 2, "color", &colour);
        ReadGeometry(L, 2, &geometry);
    } else {
        colour = IntArg(L, 2, -1);
    }
    lvDisplay *d = GetCurrentDisplay();
    int32_t out = -1;
    int code = RouteColorRequest(L, d, TitleOrApplet(title), colour, &geometry, 1, &out);
    AfterRequester(d);
    if (code) return code;
    PushNumber(L, out);
    return 1;
}

static int CmdNotSupported(lvState *)
{
    return ERR_UNSUPPORTEDFEAT;
}

static const lvConstantEntry requesterConstants[] = {
    {"REQ_NORMAL", nullptr, 0},          {"REQ_MULTISELECT", nullptr, 1},      {"REQ_SAVEMODE", nullptr, 2},
    {"REQ_HIDEICONS", nullptr, 65536},   {"REQ_GALLERY", nullptr, 4},          {"REQ_CAMERA", nullptr, 5},
    {"REQICON_NONE", nullptr, 0},        {"REQICON_INFORMATION", nullptr, 1},  {"REQICON_ERROR", nullptr, 2},
    {"REQICON_WARNING", nullptr, 3},     {"REQICON_QUESTION", nullptr, 4},     {"PERMREQ_READEXTERNAL", nullptr, 1},
    {"PERMREQ_WRITEEXTERNAL", nullptr, 2}, {"PERMREQ_MANAGEEXTERNAL", nullptr, 4}, {nullptr, nullptr, 0},
};

const lvConstantEntry *GetRequesterConstants(void) { return requesterConstants; }

static const lvCommandEntry requesterCommands[] = {
    {"SystemRequest", CmdSystemRequest},
    {"FileRequest", CmdFileRequest},
    {"PathRequest", CmdPathRequest},
    {"StringRequest", CmdStringRequest},
    {"ListRequest", CmdListRequest},
    {"FontRequest", CmdFontRequest},
    {"ColorRequest", CmdColorRequest},
    {"ImageRequest", CmdNotSupported},
    {"PermissionRequest", CmdNotSupported},
    {nullptr, nullptr},
};

// The asking display modes put their questions through the same routes as the commands,
// so the adapter or the back-end that answers scripts answers them too.
static int ModeChoose(lvState *L, lvDisplay *d, const char *title, const char *body, const char *buttons,
                      int *choice)
{
    int code = RouteSystemRequest(L, d, TitleOrApplet(title), body, buttons, 0, 1, choice);
    AfterRequester(d);
    return code;
}

static int ModeList(lvState *L, lvDisplay *d, const char *title, const char *body, const char *const *entries,
                    int count, int preselected, int *chosen)
{
    std::string items;
    for (int i = 0; i < count; i++) {
        items.append(entries[i]);
        items.push_back('\0');
    }
    items.push_back('\0');
    lvRequesterGeometry geometry = {LV_REQ_NOPOSITION, LV_REQ_NOPOSITION, 0, 0};
    int code = RouteListRequest(L, d, TitleOrApplet(title), body, items, preselected, &geometry, 1, chosen);
    AfterRequester(d);
    return code;
}

static const lvModeRequesterHooks modeHooks = {ModeChoose, ModeList};

int OpenRequesterLibrary(lvState *L)
{
    if (int code = RegisterCommandTable(L, requesterCommands, "requester")) return code;
    if (int code = InitRequesters()) return code;
    SetModeRequesterHooks(&modeHooks);
    return 0;
}

void CloseRequesterLibrary(lvState *, int)
{
    SetModeRequesterHooks(nullptr);
    ShutdownRequesters();
}

// requesters.cpp - routing of requesters to the requester adapter or the platform's
// back-end, the adapter calls with their tag lists, and the shared text helpers.
//
// Paths keep "/" on this platform; answers are taken as the full paths they are (files
// of a multi-selection may lie in different folders). A path that does not fit the
// 1024-byte fields scripts rely on is refused, never cut.
// Depends on: ui/requesters.h, ui/display.h, runtime/plugin.h.
// Limits: script thread only.
#include "ui/requesters.h"

#include "base/lverrors.h"
#include "runtime/cmdsupport.h"
#include "runtime/errors.h"
#include "runtime/lvplugin.h"
#include "runtime/plugin.h"
#include "ui/display.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <strings.h>

#define LV_REQ_PATHMAX 1024

// ---- Helpers -----------------------------------------------------------------------------

std::string PatternToFilter(const char *pattern)
{
    if (!pattern || !*pattern || !strcmp(pattern, "*") || !strcmp(pattern, "#?")) return "*.*";
    std::string out;
    const char *p = pattern;
    for (;;) {
        const char *bar = strchr(p, '|');
        std::string part(p, bar ? (size_t)(bar - p) : strlen(p));
        if (!part.empty()) {
            if (!out.empty()) out += ';';
            out += part[0] == '.' ? "*" + part : "*." + part;
        }
        if (!bar) break;
        p = bar + 1;
    }
    return out.empty() ? "*.*" : out;
}

int IsNumberText(const char *text)
{
    if (!text) return 0;
    const char *p = text;
    if (*p == '-') p++;
    int points = 0;
    for (; *p; p++) {
        if (*p == '.') {
            if (++points > 1) return 0;
        } else if (!isdigit((unsigned char)*p)) {
            return 0;
        }
    }
    return 1;
}

size_t CutAtCharacter(const char *text, size_t maxBytes)
{
    size_t length = strlen(text);
    if (length <= maxBytes) return length;
    size_t cut = maxBytes;
    // Step back over continuation bytes to the start of the character that would be split.
    while (cut > 0 && ((unsigned char)text[cut] & 0xC0) == 0x80) cut--;
    return cut;
}

static const char *Message(int index, const char *fallback)
{
    const char *text = GetMessageString(index);
    return text && *text ? text : fallback;
}

// 0 OK, 1 OK|Cancel, 2 Yes|No, 3 Yes|No|Cancel, -1 another set.
static int StandardButtonSet(const char *buttons)
{
    std::string yes = Message(338, "Yes"), no = Message(339, "No"), cancel = Message(LV_MSG_CANCEL, "Cancel");
    if (!strcasecmp(buttons, "OK")) return 0;
    if (!strcasecmp(buttons, "OK|Cancel") || !strcasecmp(buttons, Message(217, "OK|Cancel"))) return 1;
    if (!strcasecmp(buttons, "Yes|No") || !strcasecmp(buttons, (yes + "|" + no).c_str())) return 2;
    if (!strcasecmp(buttons, "Yes|No|Cancel") || !strcasecmp(buttons, (yes + "|" + no + "|" + cancel).c_str()))
        return 3;
    return -1;
}

uint32_t SystemRequestFlags(const char *buttons, int icon)
{
    static const uint32_t sets[] = {REQFLAG_OK, REQFLAG_OKCANCEL, REQFLAG_YESNO, REQFLAG_YESNOCANCEL};
    int set = StandardButtonSet(buttons);
    uint32_t flags = set < 0 ? REQFLAG_CUSTOM : sets[set];
    if (icon >= 0 && icon <= 4) flags |= 0x20u << icon;
    return flags;
}

int ChoiceFromButton(const char *buttons, int pressed)
{
    if (pressed < 0) return 0;
    int set = StandardButtonSet(buttons);
    if (set == 0) return 0;
    if (set == 1 || set == 2) return pressed == 0 ? 1 : 0;
    if (set == 3) return pressed == 0 ? 1 : pressed == 1 ? 2 : 0;
    int count = 1;
    for (const char *p = buttons; *p; p++)
        if (*p == '|') count++;
    return pressed >= count - 1 ? 0 : pressed + 1;
}

struct lvStyleRow {
    const char *name;
    int value;
};
static const lvStyleRow weightRows[] = {
    {"Thin", 0},         {"Extralight", 40},  {"Extra-light", 40}, {"Ultralight", 40},  {"Ultra-light", 40},
    {"Light", 50},       {"Book", 75},        {"Normal", 80},      {"Regular", 80},     {"Medium", 100},
    {"Semibold", 180},   {"Semi-bold", 180},  {"Semi", 180},       {"Demibold", 180},   {"Demi-bold", 180},
    {"Demi", 180},       {"Bold", 200},       {"Extrabold", 205},  {"Extra-bold", 205}, {"Ultrabold", 205},
    {"Ultra-bold", 205}, {"Heavy", 210},      {"Black", 210},      {"Extrablack", 215}, {"Extra-black", 215},
    {"Ultrablack", 215}, {"Ultra-black", 215}};
static const lvStyleRow slantRows[] = {{"Roman", 0}, {"Italic", 100}, {"Oblique", 110}};

void ParseFontAnswer(const char *text, uint32_t flags, lvFontAnswer *out)
{
    *out = lvFontAnswer{};
    out->weight = 80;
    if (!text) return;
    const char *bar = strchr(text, '|');
    size_t familyLength = bar ? (size_t)(bar - text) : strlen(text);
    out->family.assign(text, familyLength > 255 ? CutAtCharacter(std::string(text, familyLength).c_str(), 255)
                                                : familyLength);
    if (bar) {
        out->size = atof(bar + 1);
        if (const char *second = strchr(bar + 1, '|')) out->colour = (int32_t)strtol(second + 1, nullptr, 0);
    }
    static const int weights[] = {0, 40, 50, 75, 80, 100, 180, 200, 205, 210, 215};
    for (int i = 0; i < 11; i++)
        if (flags & (1u << i)) {
            out->weight = weights[i];
            break;
        }
    static const int slants[] = {0, 100, 110};
    for (int i = 0; i < 3; i++)
        if (flags & (0x800u << i)) {
            out->slant = slants[i];
            break;
        }
    out->underline = (flags >> 14) & 1;
    out->strikeout = (flags >> 15) & 1;
    out->bold = (flags >> 16) & 1;
    out->italic = (flags >> 17) & 1;
}

std::string FontDisplayName(const lvFontAnswer &font)
{
    std::string name = font.family;
    if (font.weight != 80)
        for (const lvStyleRow &row : weightRows)
            if (row.value == font.weight) name += std::string(" ") + row.name;
    if (font.slant != 0)
        for (const lvStyleRow &row : slantRows)
            if (row.value == font.slant) name += std::string(" ") + row.name;
    return name;
}

std::string &LastRequestedFile(void)
{
    static std::string last;
    return last;
}

std::string &LastRequestedPath(void)
{
    static std::string last;
    return last;
}

// ---- The adapter ---------------------------------------------------------------------------

enum : uint32_t {
    SERVES_SYSTEM = 0x2, SERVES_FILE = 0x4, SERVES_PATH = 0x8, SERVES_STRING = 0x10, SERVES_LIST = 0x20,
    SERVES_FONT = 0x40, SERVES_COLOR = 0x80
};

// The adapter when it serves the requester, else null.
static lvPluginRecord *AdapterFor(uint32_t bit)
{
    lvPluginRecord *record = GetInstalledAdapter(LV_ADAPTER_REQUESTER);
    return record && (record->requesterInstall & bit) ? record : nullptr;
}

static void *AdapterHandle(lvDisplay *d)
{
    return d ? d->handle : nullptr;
}

// A text the adapter answered, copied and handed back.
static std::string TakeAdapterText(lvPluginRecord *record, int kind, char *text, size_t *length = nullptr)
{
    std::string copy;
    if (text) {
        if (length) {
            // A list of zero-terminated texts ended by an empty one.
            const char *p = text;
            while (*p) p += strlen(p) + 1;
            copy.assign(text, (size_t)(p - text));
            *length = copy.size();
        } else {
            copy = text;
        }
        if (record->FreeRequest) ((lvFreeRequestFunction)record->FreeRequest)(kind, text);
    }
    return copy;
}

static const lvRequesterBackend *Backend(void)
{
    const lvRequesterBackend *backend = RequesterBackend();
    return backend ? backend : DesktopRequesterBackend();
}

static int CheckPathLength(const std::string &path)
{
    return path.size() >= LV_REQ_PATHMAX ? ERR_WRONGUSAGE : 0;
}

// ---- Routing ---------------------------------------------------------------------------------

int RouteSystemRequest(lvState *, lvDisplay *d, const char *title, const char *body, const char *buttons, int icon,
                       intptr_t tag1, int *choice)
{
    *choice = 0;
    if (lvPluginRecord *record = AdapterFor(SERVES_SYSTEM)) {
        if (!record->SystemRequest) return ERR_UNSUPPORTEDFEAT;
        uint32_t flags = SystemRequestFlags(buttons, icon);
        lvPluginTag tags[3] = {{1, tag1}, {0, 0}, {0, 0}};
        if (flags & REQFLAG_CUSTOM) tags[1] = {2, (intptr_t)buttons};
        int32_t number = 0;
        int code = ((lvSystemRequestFunction)record->SystemRequest)(AdapterHandle(d), title, body, flags, &number,
                                                                    tags);
        *choice = number;
        return code;
    }
    return Backend()->System(d, title, body, buttons, icon, choice);
}

// Splits packed zero-terminated texts.
static void SplitPacked(const std::string &packed, std::vector<std::string> *out)
{
    size_t start = 0;
    while (start < packed.size()) {
        size_t end = packed.find('\0', start);
        if (end == std::string::npos) end = packed.size();
        if (end == start) break;
        out->push_back(packed.substr(start, end - start));
        start = end + 1;
    }
}

int RouteFileRequest(lvState *, lvDisplay *d, const char *title, const char *pattern, int mode, int hideIcons,
                     const char *path, const char *file, const lvFileFilter *filters,
                     const lvRequesterGeometry *, intptr_t tag1, std::vector<std::string> *paths)
{
    paths->clear();
    int code = 0;
    if (lvPluginRecord *record = AdapterFor(SERVES_FILE)) {
        if (!record->FileRequest) return ERR_UNSUPPORTEDFEAT;
        std::vector<lvPluginFileFilter> list;
        for (const lvFileFilter *f = filters; f; f = f->next)
            list.push_back({nullptr, f->description.c_str(), f->filter.c_str(), (uint32_t)(f->hideFilter ? 1 : 0)});
        for (size_t i = 0; i + 1 < list.size(); i++) list[i].next = &list[i + 1];
        lvPluginTag tags[5] = {};
        int n = 0;
        tags[n++] = {1, tag1};
        if (!list.empty()) tags[n++] = {5, (intptr_t)&list[0]};
        else if (pattern && *pattern && pattern[0] != '*' && strcmp(pattern, "#?")) tags[n++] = {2, (intptr_t)pattern};
        if (path) tags[n++] = {3, (intptr_t)path};
        if (file) tags[n++] = {4, (intptr_t)file};
        char *answer = nullptr;
        uint32_t modeWord = (uint32_t)mode | (hideIcons ? 65536u : 0u);
        code = ((lvFileRequestFunction)record->FileRequest)(AdapterHandle(d), title, modeWord, &answer, tags);
        if (answer) {
            size_t length = 0;
            std::string packed = TakeAdapterText(record, 0, answer, mode == 1 ? &length : nullptr);
            if (mode == 1) SplitPacked(packed, paths);
            else if (!packed.empty()) paths->push_back(packed);
        }
        if (code) {
            paths->clear();
            return code;
        }
    } else {
        code = Backend()->File(d, title, PatternToFilter(pattern), mode, path, file, filters, paths);
        if (code) return code;
    }
    for (const std::string &p : *paths)
        if ((code = CheckPathLength(p))) {
            paths->clear();
            return code;
        }
    if (!paths->empty()) LastRequestedFile() = (*paths)[0];
    return 0;
}

int RoutePathRequest(lvState *, lvDisplay *d, const char *title, int mode, const char *path,
                     const lvRequesterGeometry *, intptr_t tag1, std::string *out, int *chosen)
{
    out->clear();
    *chosen = 0;
    int code;
    if (lvPluginRecord *record = AdapterFor(SERVES_PATH)) {
        if (!record->PathRequest) return ERR_UNSUPPORTEDFEAT;
        lvPluginTag tags[3] = {{1, tag1}, {0, 0}, {0, 0}};
        if (path && *path) tags[1] = {2, (intptr_t)path};
        char *answer = nullptr;
        code = ((lvPathRequestFunction)record->PathRequest)(AdapterHandle(d), title, mode == 2, &answer, tags);
        if (answer) {
            *out = TakeAdapterText(record, 1, answer);
            *chosen = 1;
        }
    } else {
        code = Backend()->Path(d, title, path, out, chosen);
    }
    if (!code && *chosen) code = CheckPathLength(*out);
    if (code) {
        out->clear();
        *chosen = 0;
        return code;
    }
    if (*chosen) LastRequestedPath() = *out;
    return 0;
}

int RouteStringRequest(lvState *, lvDisplay *d, const char *title, const char *body, const char *text, int type,
                       int maxLength, int password, const lvRequesterGeometry *, intptr_t tag1, std::string *out,
                       int *confirmed)
{
    out->clear();
    *confirmed = 0;
    if (lvPluginRecord *record = AdapterFor(SERVES_STRING)) {
        if (!record->StringRequest) return ERR_UNSUPPORTEDFEAT;
        lvPluginTag tags[4] = {};
        int n = 0;
        tags[n++] = {1, tag1};
        if (text) tags[n++] = {2, (intptr_t)text};
        if (maxLength) tags[n++] = {3, maxLength};
        uint32_t flags = (type == 3 ? 4u : 0u) | (password ? 0x10u : 0u);
        char *answer = nullptr;
        int code = ((lvStringRequestFunction)record->StringRequest)(AdapterHandle(d), title, body, flags, &answer,
                                                                    tags);
        if (answer) {
            *out = TakeAdapterText(record, 2, answer);
            *confirmed = 1;
        }
        if (code) {
            out->clear();
            *confirmed = 0;
        }
        return code;
    }
    return Backend()->String(d, title, body, text ? text : "", type == 3, maxLength, password, out, confirmed);
}

int RouteListRequest(lvState *, lvDisplay *d, const char *title, const char *body, const std::string &items,
                     int active, const lvRequesterGeometry *, intptr_t tag1, int *index)
{
    *index = -1;
    if (lvPluginRecord *record = AdapterFor(SERVES_LIST)) {
        if (!record->ListRequest) return ERR_UNSUPPORTEDFEAT;
        lvPluginTag tags[3] = {{1, tag1}, {0, 0}, {0, 0}};
        if (active != -1) tags[1] = {2, active};
        int32_t chosen = -1;
        int code = ((lvListRequestFunction)record->ListRequest)(AdapterHandle(d), title, body, items.c_str(), 0,
                                                                &chosen, tags);
        *index = code ? -1 : chosen;
        return code;
    }
    return Backend()->List(d, title, body, items, active, index);
}

int RouteFontRequest(lvState *, lvDisplay *d, const char *title, const char *font, double size,
                     const lvRequesterGeometry *, intptr_t tag1, lvFontAnswer *out)
{
    *out = lvFontAnswer{};
    out->weight = 80;
    if (lvPluginRecord *record = AdapterFor(SERVES_FONT)) {
        if (!record->FontRequest) return ERR_UNSUPPORTEDFEAT;
        lvPluginTag tags[4] = {};
        int n = 0;
        tags[n++] = {1, tag1};
        if (font && *font) tags[n++] = {2, (intptr_t)font};
        if (size != 0) tags[n++] = {3, (intptr_t)size};
        char *answer = nullptr;
        uint32_t flags = 0;
        int code = ((lvFontRequestFunction)record->FontRequest)(AdapterHandle(d), title, 0, &answer, &flags, tags);
        if (answer) {
            std::string text = TakeAdapterText(record, 3, answer);
            if (!code) ParseFontAnswer(text.c_str(), flags, out);
        }
        return code;
    }
    return Backend()->Font(d, font, size, out);
}

int RouteColorRequest(lvState *, lvDisplay *d, const char *title, int32_t colour, const lvRequesterGeometry *,
                      intptr_t tag1, int32_t *out)
{
    *out = -1;
    if (lvPluginRecord *record = AdapterFor(SERVES_COLOR)) {
        if (!record->ColorRequest) return ERR_UNSUPPORTEDFEAT;
        lvPluginTag tags[3] = {{1, tag1}, {0, 0}, {0, 0}};
        if (colour != -1) tags[1] = {2, colour};
        int32_t chosen = -1;
        int code = ((lvColorRequestFunction)record->ColorRequest)(AdapterHandle(d), title, 0, &chosen, tags);
        *out = code ? -1 : chosen;
        return code;
    }
    return Backend()->Color(d, colour, out);
}

// ---- The plug-in interface's requesters -------------------------------------------------
// Plug-ins ask on the current display through the same routing as the script.

static int32_t PluginSystemRequest(const char *title, const char *body, const char *buttons)
{
    int choice = 0;
    if (!buttons || !*buttons) buttons = "OK";
    if (RouteSystemRequest(GetMainVMState(), GetCurrentDisplay(), title ? title : "", body ? body : "", buttons, 0, 0,
                           &choice))
        return 0;
    return choice;
}

// Copies a chosen path whole: one that does not fit is not chosen.
static int32_t GivePath(const std::string &path, char *buffer, size_t size)
{
    if (!buffer || !size) return 0;
    *buffer = 0;
    if (path.empty() || path.size() >= size) return 0;
    memcpy(buffer, path.c_str(), path.size() + 1);
    return 1;
}

static int32_t PluginFileRequest(const char *title, const char *pattern, char *buffer, size_t size)
{
    std::vector<std::string> paths;
    if (buffer && size) *buffer = 0;
    if (RouteFileRequest(GetMainVMState(), GetCurrentDisplay(), title ? title : "", pattern ? pattern : "", 0, 0, "",
                         "", nullptr, nullptr, 0, &paths) ||
        paths.empty())
        return 0;
    return GivePath(paths[0], buffer, size);
}

static int32_t PluginPathRequest(const char *title, char *buffer, size_t size)
{
    std::string path;
    int chosen = 0;
    if (buffer && size) *buffer = 0;
    if (RoutePathRequest(GetMainVMState(), GetCurrentDisplay(), title ? title : "", 0, "", nullptr, 0, &path,
                         &chosen) ||
        !chosen)
        return 0;
    return GivePath(path, buffer, size);
}

void InstallPluginRequesterEntries(void)
{
    static const lvPluginRequesterEntries entries = {PluginSystemRequest, PluginFileRequest, PluginPathRequest};
    SetPluginRequesterEntries(&entries);
}

int AskForAppletFile(char *path, size_t size)
{
    // Without a display server the dialog module cannot open: the caller explains instead.
    const char *x11 = std::getenv("DISPLAY"), *wayland = std::getenv("WAYLAND_DISPLAY");
    if ((!x11 || !*x11) && (!wayland || !*wayland)) return ERR_CONFIG;
    lvFileFilter all = {nullptr, "All files", "*", "", 0};
    lvFileFilter applets = {&all, "Lumivarra applets", "*.lva", "", 0};
    std::vector<std::string> paths;
    int code = DesktopRequesterBackend()->File(nullptr, "Select Lumivarra applet to run", "", 0, nullptr, nullptr,
                                               &applets, &paths);
    if (code == ERR_UNSUPPORTEDFEAT) return ERR_CONFIG;
    if (code) return code;
    if (paths.empty()) return ERR_USERABORT;
    if (paths[0].size() >= size) return ERR_CONFIG;
    std::memcpy(path, paths[0].c_str(), paths[0].size() + 1);
    return 0;
}

// requester_backends.cpp - the platform rows of the requester engine.
//
// The scripted row answers from a file, one answer a line, so that runs without a user
// (tests, CI) go through the same checks a desktop dialog does:
//   system  the label of the button pressed (case ignored), or "cancel" (Escape, close)
//   file    full paths separated by "|" (several only in multi-select mode), or "cancel"
//   path    a folder, or "cancel"
//   string  the text typed (replacing the offered one), "<ok>" to confirm the offered
//           text, or "cancel"; a numerical requester takes the typed characters one by
//           one and keeps the last text that was a number, as its edit field does; a
//           maximum length keeps whole characters
//   list    the 0-based index, or "cancel"
//   font    "family|size|weight|italic" (weight 100..900, 600 and above bold), or "cancel"
//   color   a number (0xRRGGBB or decimal), or "cancel"
// No answer left is ERR_UNSUPPORTEDFEAT at once. Every call is appended to the log as
// one line: the requester's name and its inputs separated by "|".
//
// The desktop row shows the system requester as an SDL message box on the thread that
// pumps the windows, modal to the display's window; the other dialogs go to the GTK
// module (ui/gtk_module.h), loaded at the first of them.
// Depends on: ui/requesters.h, SDL2.
// Limits: script thread only.
#include "ui/requesters.h"

#include "base/lverrors.h"
#include "platform/lvplatform_clipboard.h"
#include "platform/lvplatform_windows.h"
#include "runtime/modules.h"
#include "ui/display.h"
#include "ui/gtk_module.h"
#include "ui/input.h"
#include "vm/lvvm.h"

#include <SDL2/SDL.h>
#include <cstdio>
#include <dlfcn.h>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <strings.h>

// ---- The scripted row ----------------------------------------------------------------------

struct lvScriptedRequesters {
    std::string answersFile, logFile;  // empty: from the environment
    bool loaded;
    std::vector<std::string> answers;
    size_t next;
};

static lvScriptedRequesters scripted = {"", "", false, {}, 0};

void SetScriptedRequesterFiles(const char *answers, const char *log)
{
    scripted.answersFile = answers ? answers : "";
    scripted.logFile = log ? log : "";
    scripted.loaded = false;
    scripted.answers.clear();
    scripted.next = 0;
}

static std::string AnswersPath(void)
{
    if (!scripted.answersFile.empty()) return scripted.answersFile;
    const char *env = getenv("LV_REQUESTER_SCRIPT");
    return env ? env : "";
}

static void LoadAnswers(void)
{
    if (scripted.loaded) return;
    scripted.loaded = true;
    std::ifstream in(AnswersPath());
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        scripted.answers.push_back(line);
    }
}

static void Log(const std::string &line)
{
    std::string path = scripted.logFile;
    if (path.empty()) {
        const char *env = getenv("LV_REQUESTER_LOG");
        if (!env) return;
        path = env;
    }
    if (FILE *f = fopen(path.c_str(), "a")) {
        fprintf(f, "%s\n", line.c_str());
        fclose(f);
    }
}

// The next answer: 1 with it, 0 none left; cancelled when it is "cancel".
static int NextAnswer(std::string *answer, bool *cancelled)
{
    LoadAnswers();
    if (scripted.next >= scripted.answers.size()) return 0;
    *answer = scripted.answers[scripted.next++];
    *cancelled = !strcasecmp(answer->c_str(), "cancel");
    return 1;
}

static const char *Or(const char *text)
{
    return text ? text : "";
}

static int ScriptSystem(lvDisplay *, const char *title, const char *body, const char *buttons, int icon, int *choice)
{
    Log(std::string("system|") + Or(title) + "|" + Or(body) + "|" + Or(buttons) + "|" + std::to_string(icon));
    std::string answer;
    bool cancelled;
    if (!NextAnswer(&answer, &cancelled)) return ERR_UNSUPPORTEDFEAT;
    int pressed = -1;
    if (!cancelled) {
        int i = 0;
        const char *p = buttons;
        for (;;) {
            const char *bar = strchr(p, '|');
            std::string label(p, bar ? (size_t)(bar - p) : strlen(p));
            if (!strcasecmp(label.c_str(), answer.c_str())) {
                pressed = i;
                break;
            }
            if (!bar) break;
            p = bar + 1;
            i++;
        }
        if (pressed < 0) return ERR_WRONGUSAGE;  // the answer file names no such button
    }
    *choice = ChoiceFromButton(buttons, pressed);
    return 0;
}

static int ScriptFile(lvDisplay *, const char *title, const std::string &filter, int mode, const char *path,
                      const char *file, const lvFileFilter *filters, std::vector<std::string> *paths)
{
    std::string line = std::string("file|") + Or(title) + "|" + filter + "|" + std::to_string(mode) + "|" + Or(path) +
                       "|" + Or(file) + "|";
    for (const lvFileFilter *f = filters; f; f = f->next)
        line += f->description + ":" + PatternToFilter(f->filter.c_str()) + (f->next ? "," : "");
    Log(line);
    std::string answer;
    bool cancelled;
    if (!NextAnswer(&answer, &cancelled)) return ERR_UNSUPPORTEDFEAT;
    if (cancelled) return 0;
    size_t start = 0;
    for (;;) {
        size_t bar = answer.find('|', start);
        std::string one = answer.substr(start, bar == std::string::npos ? std::string::npos : bar - start);
        if (!one.empty()) paths->push_back(one);
        if (bar == std::string::npos || mode != 1) break;
        start = bar + 1;
    }
    return 0;
}

static int ScriptPath(lvDisplay *, const char *title, const char *path, std::string *out, int *chosen)
{
    Log(std::string("path|") + Or(title) + "|" + Or(path));
    std::string answer;
    bool cancelled;
    if (!NextAnswer(&answer, &cancelled)) return ERR_UNSUPPORTEDFEAT;
    if (cancelled) return 0;
    *out = answer;
    *chosen = 1;
    return 0;
}

static int ScriptString(lvDisplay *, const char *title, const char *body, const char *text, int numeric,
                        int maxLength, int password, std::string *out, int *confirmed)
{
    Log(std::string("string|") + Or(title) + "|" + Or(body) + "|" + Or(text) + "|" + std::to_string(numeric) + "|" +
        std::to_string(maxLength) + "|" + std::to_string(password));
    std::string answer;
    bool cancelled;
    if (!NextAnswer(&answer, &cancelled)) return ERR_UNSUPPORTEDFEAT;
    if (cancelled) return 0;
    std::string typed = answer == "<ok>" ? std::string(text) : std::string();
    if (answer != "<ok>") {
        // Typed character by character into the field.
        for (size_t i = 0; i < answer.size();) {
            size_t n = 1;
            while (i + n < answer.size() && ((unsigned char)answer[i + n] & 0xC0) == 0x80) n++;
            std::string candidate = typed + answer.substr(i, n);
            i += n;
            if (maxLength > 0 && candidate.size() > (size_t)maxLength) break;
            if (numeric && !IsNumberText(candidate.c_str())) continue;
            typed = candidate;
        }
    }
    *out = typed;
    *confirmed = 1;
    return 0;
}

static int ScriptList(lvDisplay *, const char *title, const char *body, const std::string &items, int active,
                      int *index)
{
    std::string shown;
    for (size_t i = 0; i < items.size(); i++) shown += items[i] ? items[i] : ',';
    while (!shown.empty() && shown.back() == ',') shown.pop_back();
    Log(std::string("list|") + Or(title) + "|" + Or(body) + "|" + shown + "|" + std::to_string(active));
    std::string answer;
    bool cancelled;
    if (!NextAnswer(&answer, &cancelled)) return ERR_UNSUPPORTEDFEAT;
    *index = cancelled ? -1 : atoi(answer.c_str());
    return 0;
}

static int ScriptFont(lvDisplay *, const char *font, double size, lvFontAnswer *out)
{
    char number[32];
    snprintf(number, sizeof(number), "%g", size);
    Log(std::string("font|") + Or(font) + "|" + number);
    std::string answer;
    bool cancelled;
    if (!NextAnswer(&answer, &cancelled)) return ERR_UNSUPPORTEDFEAT;
    if (cancelled) return 0;
    // family|size|weight|italic: the answer a desktop font chooser gives.
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        size_t bar = answer.find('|', start);
        parts.push_back(answer.substr(start, bar == std::string::npos ? std::string::npos : bar - start));
        if (bar == std::string::npos) break;
        start = bar + 1;
    }
    uint32_t flags = 0;
    if (parts.size() > 2 && atoi(parts[2].c_str()) >= 600) flags |= 0x80;  // weight 200
    if (parts.size() > 3 && atoi(parts[3].c_str())) flags |= 0x1000;      // slant 100
    std::string text = parts[0] + "|" + (parts.size() > 1 ? parts[1] : "0") + "|0";
    ParseFontAnswer(text.c_str(), flags, out);
    out->bold = out->weight >= 200;
    out->italic = out->slant != 0;
    return 0;
}

static int ScriptColor(lvDisplay *, int32_t colour, int32_t *out)
{
    Log("color|" + std::to_string(colour));
    std::string answer;
    bool cancelled;
    if (!NextAnswer(&answer, &cancelled)) return ERR_UNSUPPORTEDFEAT;
    *out = cancelled ? -1 : (int32_t)(strtoul(answer.c_str(), nullptr, 0) & 0xFFFFFF);
    return 0;
}

static const lvRequesterBackend scriptedRow = {"script",   ScriptSystem, ScriptFile, ScriptPath,
                                               ScriptString, ScriptList, ScriptFont, ScriptColor};

// ---- The desktop row ---------------------------------------------------------------------

static int DesktopSystem(lvDisplay *d, const char *title, const char *body, const char *buttons, int icon, int *choice)
{
    std::vector<std::string> labels;
    const char *p = buttons;
    for (;;) {
        const char *bar = strchr(p, '|');
        labels.emplace_back(p, bar ? (size_t)(bar - p) : strlen(p));
        if (!bar) break;
        p = bar + 1;
    }
    std::vector<SDL_MessageBoxButtonData> data(labels.size());
    for (size_t i = 0; i < labels.size(); i++) {
        data[i].flags = 0;
        if (i == 0) data[i].flags |= SDL_MESSAGEBOX_BUTTON_RETURNKEY_DEFAULT;
        data[i].buttonid = (int)i;
        data[i].text = labels[i].c_str();
    }
    SDL_MessageBoxData box = {};
    box.flags = icon == 2 ? SDL_MESSAGEBOX_ERROR : icon == 3 ? SDL_MESSAGEBOX_WARNING : SDL_MESSAGEBOX_INFORMATION;
    box.title = title;
    box.message = body;
    box.numbuttons = (int)data.size();
    box.buttons = data.data();
    int pressed = -1;
    uint32_t windowId = d && d->window ? NativeWindowId(d->window) : 0;
    if (int code = ShowDesktopMessageBox(windowId, &box, &pressed)) return code;
    *choice = ChoiceFromButton(buttons, pressed);
    return 0;
}

// The desktop dialogs live in a module loaded at the first of them (lv_gtkdialogs.so
// beside the executable, or LV_GTK_MODULE), so that runs without a desktop never load
// GTK; without the module or a display the dialog answers ERR_UNSUPPORTEDFEAT.
static const lvGtkModule *gtkModule = nullptr;
static void *gtkHandle = nullptr;
static bool gtkTried = false;

const lvGtkModule *DesktopDialogModule(void)
{
    if (gtkTried) return gtkModule;
    gtkTried = true;
    const char *env = getenv("LV_GTK_MODULE");
    std::string path = env ? env : PathBesideExecutable("lv_gtkdialogs.so");
    if (path.empty()) return nullptr;
    gtkHandle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!gtkHandle) return nullptr;
    auto entry = (lvGtkModuleEntry)dlsym(gtkHandle, LV_GTK_MODULE_ENTRY);
    gtkModule = entry ? entry() : nullptr;
    return gtkModule;
}

static int DialogStopRequested(void)
{
    return gVMRun.stopRequest.load(std::memory_order_relaxed) ? 1 : 0;
}

static int RunDesktopDialog(lvDisplay *d, lvGtkRequest *request)
{
    const lvGtkModule *module = DesktopDialogModule();
    if (!module) return ERR_UNSUPPORTEDFEAT;
    request->parentWindow = d && d->window ? NativeX11Window(d->window) : 0;
    struct DialogOpen {
        DialogOpen() { NoteDesktopDialog(1); }
        ~DialogOpen() { NoteDesktopDialog(0); }
    } open;
    return module->RunDialog(request, DialogStopRequested);
}

static lvGtkRequest NewRequest(int kind, const char *title)
{
    lvGtkRequest r{};
    r.kind = kind;
    r.title = Or(title);
    r.colour = -1;
    r.index = -1;
    r.answerColour = -1;
    return r;
}

static int GtkFile(lvDisplay *d, const char *title, const std::string &filter, int mode, const char *path,
                   const char *file, const lvFileFilter *filters, std::vector<std::string> *paths)
{
    lvGtkRequest r = NewRequest(LV_GTK_FILE, title);
    r.mode = mode;
    r.path = Or(path);
    r.file = Or(file);
    for (const lvFileFilter *f = filters; f; f = f->next)
        r.filters.push_back({f->description, PatternToFilter(f->filter.c_str())});
    if (r.filters.empty() && !filter.empty()) r.filters.push_back({filter, filter});
    if (int code = RunDesktopDialog(d, &r)) return code;
    if (r.accepted) {
        if (mode != 1 && r.paths.size() > 1) r.paths.resize(1);
        *paths = r.paths;
    }
    return 0;
}

static int GtkPath(lvDisplay *d, const char *title, const char *path, std::string *out, int *chosen)
{
    lvGtkRequest r = NewRequest(LV_GTK_PATH, title);
    r.path = Or(path);
    if (int code = RunDesktopDialog(d, &r)) return code;
    if (r.accepted && !r.paths.empty()) {
        *out = r.paths[0];
        *chosen = 1;
    }
    return 0;
}

static size_t CutAt(const char *text, size_t maxBytes)
{
    return CutAtCharacter(text, maxBytes);
}

static int GtkString(lvDisplay *d, const char *title, const char *body, const char *text, int numeric, int maxLength,
                     int password, std::string *out, int *confirmed)
{
    lvGtkRequest r = NewRequest(LV_GTK_STRING, title);
    r.body = Or(body);
    r.text = Or(text);
    r.numeric = numeric;
    r.maxLength = maxLength;
    r.password = password;
    r.isNumber = IsNumberText;
    r.cutAt = CutAt;
    if (int code = RunDesktopDialog(d, &r)) return code;
    if (r.accepted) {
        *out = r.answerText;
        *confirmed = 1;
    }
    return 0;
}

static int GtkList(lvDisplay *d, const char *title, const char *body, const std::string &items, int active, int *index)
{
    lvGtkRequest r = NewRequest(LV_GTK_LIST, title);
    r.body = Or(body);
    for (size_t i = 0; i < items.size() && items[i];) {
        size_t end = items.find('\0', i);
        if (end == std::string::npos) end = items.size();
        r.items.push_back(items.substr(i, end - i));
        i = end + 1;
    }
    r.active = active;
    if (int code = RunDesktopDialog(d, &r)) return code;
    *index = r.accepted ? r.index : -1;
    return 0;
}

static int GtkFont(lvDisplay *d, const char *font, double size, lvFontAnswer *out)
{
    lvGtkRequest r = NewRequest(LV_GTK_FONT, "");
    r.text = Or(font);
    r.size = size;
    if (int code = RunDesktopDialog(d, &r)) return code;
    if (!r.accepted) return 0;
    // The chooser gives family, size, weight and slant; underline, strike-out and colour
    // have no place in it and come back 0.
    uint32_t flags = 0;
    if (r.weight >= 600) flags |= 0x80;
    if (r.italic) flags |= 0x1000;
    char number[32];
    snprintf(number, sizeof(number), "%g", r.answerSize);
    std::string text = r.answerText + "|" + number + "|0";
    ParseFontAnswer(text.c_str(), flags, out);
    out->bold = out->weight >= 200;
    out->italic = out->slant != 0;
    return 0;
}

static int GtkColor(lvDisplay *d, int32_t colour, int32_t *out)
{
    lvGtkRequest r = NewRequest(LV_GTK_COLOR, "");
    r.colour = colour;
    if (int code = RunDesktopDialog(d, &r)) return code;
    *out = r.accepted ? r.answerColour : -1;
    return 0;
}

static const lvRequesterBackend desktopRow = {"desktop", DesktopSystem, GtkFile,  GtkPath,
                                              GtkString,  GtkList,       GtkFont, GtkColor};

// ---- Choosing ------------------------------------------------------------------------------

static const lvRequesterBackend *chosenRow = nullptr;

const lvRequesterBackend *ScriptedRequesterBackend(void) { return &scriptedRow; }
const lvRequesterBackend *DesktopRequesterBackend(void) { return &desktopRow; }
const lvRequesterBackend *RequesterBackend(void) { return chosenRow; }

int InitRequesters(void)
{
    const char *env = getenv("LV_REQUESTER_SCRIPT");
    chosenRow = (env && *env) || !scripted.answersFile.empty() ? &scriptedRow : &desktopRow;
    return 0;
}

void ShutdownRequesters(void)
{
    chosenRow = nullptr;
    if (gtkModule) gtkModule->Shutdown();
}

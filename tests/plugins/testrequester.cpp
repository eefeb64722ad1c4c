// testrequester.cpp - a requester adapter for the tests: every call is logged with its
// flags and tags, and answered from a queue.
//
// Control: LVT_REQUESTER_FLAGS (the installation word, default 0xFE: every requester),
// LVT_REQUESTER_LOG (a log file, one line a call), LVT_REQUESTER_ANSWERS (a file of
// answers, one a line). In-process: lvt_RequesterAnswer appends an answer,
// lvt_RequesterLog copies the log, lvt_RequesterReset empties both.
//
// Answers by requester: system a number (the choice); file a path, or for multi-select
// paths separated by "|"; path a folder; string the text; list the index; font
// "family|size|colour" then "#" and the flags word in decimal ("Sans|12|255#65536");
// colour a number. "cancel" answers none (choice 0, no text, index -1, colour -1); "error
// N" makes the call answer the code N. No answer left is code 1288.
//
// Log lines: the requester's name, the handle ("h" when given, "-" for none), then its
// inputs, the flags word and the tags as "tag=value" (texts quoted); tag 5 lists the
// filters as "description:filter:flags".
//
// Dependencies: runtime/lvplugin.h only.
#include "runtime/lvplugin.h"
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <mutex>
#include <string>

#define LVT_EXPORT(name) extern "C" __attribute__((visibility("default"))) auto name

static const lvPluginApi *api;
static lvPluginRecord *self;
static std::mutex lock;
static std::deque<std::string> answers;
static std::string logText;
static bool answersLoaded;

static void LoadAnswers(void)
{
    if (answersLoaded) return;
    answersLoaded = true;
    if (const char *path = getenv("LVT_REQUESTER_ANSWERS")) {
        std::ifstream in(path);
        std::string line;
        while (std::getline(in, line)) answers.push_back(line);
    }
}

static void Log(const std::string &line)
{
    logText += line + "\n";
    if (const char *path = getenv("LVT_REQUESTER_LOG"))
        if (FILE *f = fopen(path, "a")) {
            fprintf(f, "%s\n", line.c_str());
            fclose(f);
        }
}

// Tags 2, 3, 4 carry texts for some requesters: which ones is told by textTags.
static std::string Tags(const lvPluginTag *tags, const char *textTags)
{
    std::string out;
    for (const lvPluginTag *t = tags; t && t->tag; t++) {
        out += " " + std::to_string(t->tag) + "=";
        if (t->tag == 5) {
            for (const lvPluginFileFilter *f = (const lvPluginFileFilter *)t->value; f; f = f->next)
                out += std::string(f->description) + ":" + f->filter + ":" + std::to_string(f->flags) +
                       (f->next ? "," : "");
        } else if (t->tag < 10 && strchr(textTags, '0' + (int)t->tag)) {
            out += "\"" + std::string((const char *)t->value) + "\"";
        } else {
            out += std::to_string((long long)t->value);
        }
    }
    return out;
}

// The next answer: 0 with it, 1 cancelled, or an error code.
static int Next(std::string *answer)
{
    LoadAnswers();
    if (answers.empty()) return 1288;
    *answer = answers.front();
    answers.pop_front();
    if (*answer == "cancel") return 1;
    if (answer->compare(0, 6, "error ") == 0) return atoi(answer->c_str() + 6);
    return 0;
}

static char *Copy(const std::string &text, bool packedList)
{
    std::string packed = text;
    if (packedList) {
        for (char &c : packed)
            if (c == '|') c = '\0';
        packed.push_back('\0');
    }
    char *out = (char *)malloc(packed.size() + 1);
    memcpy(out, packed.data(), packed.size());
    out[packed.size()] = 0;
    return out;
}

static const char *Handle(void *handle) { return handle ? "h" : "-"; }

LVT_EXPORT(SystemRequest)(void *handle, const char *title, const char *body, uint32_t flags, int32_t *choice,
                          const lvPluginTag *tags)->int
{
    std::lock_guard<std::mutex> hold(lock);
    Log(std::string("SystemRequest ") + Handle(handle) + " \"" + title + "\" \"" + body + "\" " +
        std::to_string(flags) + Tags(tags, "2"));
    std::string answer;
    int code = Next(&answer);
    *choice = code == 0 ? atoi(answer.c_str()) : 0;
    return code == 1 ? 0 : code;
}

LVT_EXPORT(FileRequest)(void *handle, const char *title, uint32_t mode, char **out, const lvPluginTag *tags)->int
{
    std::lock_guard<std::mutex> hold(lock);
    Log(std::string("FileRequest ") + Handle(handle) + " \"" + title + "\" " + std::to_string(mode) + Tags(tags, "234"));
    std::string answer;
    int code = Next(&answer);
    *out = code == 0 ? Copy(answer, (mode & 0xFFFF) == 1) : nullptr;
    return code == 1 ? 0 : code;
}

LVT_EXPORT(PathRequest)(void *handle, const char *title, int32_t save, char **out, const lvPluginTag *tags)->int
{
    std::lock_guard<std::mutex> hold(lock);
    Log(std::string("PathRequest ") + Handle(handle) + " \"" + title + "\" " + std::to_string(save) + Tags(tags, "2"));
    std::string answer;
    int code = Next(&answer);
    *out = code == 0 ? Copy(answer, false) : nullptr;
    return code == 1 ? 0 : code;
}

LVT_EXPORT(StringRequest)(void *handle, const char *title, const char *body, uint32_t flags, char **out,
                          const lvPluginTag *tags)->int
{
    std::lock_guard<std::mutex> hold(lock);
    Log(std::string("StringRequest ") + Handle(handle) + " \"" + title + "\" \"" + body + "\" " +
        std::to_string(flags) + Tags(tags, "2"));
    std::string answer;
    int code = Next(&answer);
    *out = code == 0 ? Copy(answer, false) : nullptr;
    return code == 1 ? 0 : code;
}

LVT_EXPORT(ListRequest)(void *handle, const char *title, const char *body, const char *items, uint32_t,
                        int32_t *index, const lvPluginTag *tags)->int
{
    std::lock_guard<std::mutex> hold(lock);
    std::string shown;
    for (const char *p = items; *p; p += strlen(p) + 1) shown += std::string(shown.empty() ? "" : ",") + p;
    Log(std::string("ListRequest ") + Handle(handle) + " \"" + title + "\" \"" + body + "\" [" + shown + "]" +
        Tags(tags, ""));
    std::string answer;
    int code = Next(&answer);
    *index = code == 0 ? atoi(answer.c_str()) : -1;
    return code == 1 ? 0 : code;
}

LVT_EXPORT(FontRequest)(void *handle, const char *title, uint32_t, char **out, uint32_t *flags,
                        const lvPluginTag *tags)->int
{
    std::lock_guard<std::mutex> hold(lock);
    Log(std::string("FontRequest ") + Handle(handle) + " \"" + title + "\"" + Tags(tags, "2"));
    std::string answer;
    int code = Next(&answer);
    *out = nullptr;
    *flags = 0;
    if (code == 0) {
        size_t hash = answer.find('#');
        if (hash != std::string::npos) *flags = (uint32_t)strtoul(answer.c_str() + hash + 1, nullptr, 10);
        *out = Copy(answer.substr(0, hash), false);
    }
    return code == 1 ? 0 : code;
}

LVT_EXPORT(ColorRequest)(void *handle, const char *title, uint32_t, int32_t *colour, const lvPluginTag *tags)->int
{
    std::lock_guard<std::mutex> hold(lock);
    Log(std::string("ColorRequest ") + Handle(handle) + " \"" + title + "\"" + Tags(tags, ""));
    std::string answer;
    int code = Next(&answer);
    *colour = code == 0 ? (int32_t)strtol(answer.c_str(), nullptr, 0) : -1;
    return code == 1 ? 0 : code;
}

LVT_EXPORT(FreeRequest)(int32_t kind, char *text)->void
{
    std::lock_guard<std::mutex> hold(lock);
    Log("FreeRequest " + std::to_string(kind));
    free(text);
}

LVT_EXPORT(lvt_RequesterAnswer)(const char *answer)->void
{
    std::lock_guard<std::mutex> hold(lock);
    LoadAnswers();
    answers.push_back(answer);
}

LVT_EXPORT(lvt_RequesterLog)(char *buffer, size_t size)->void
{
    std::lock_guard<std::mutex> hold(lock);
    snprintf(buffer, size, "%s", logText.c_str());
}

LVT_EXPORT(lvt_RequesterReset)()->void
{
    std::lock_guard<std::mutex> hold(lock);
    answers.clear();
    answersLoaded = true;
    logText.clear();
}

// ---- Plug-in ------------------------------------------------------------------------------------

LVT_EXPORT(InitPlugin)(lvPluginRecord *r, const lvPluginApi *table, const char *)->int
{
    api = table;
    self = r;
    r->capabilities = PLUGINCAPS_REQUESTERADAPTER | PLUGINCAPS_REQUIRE;
    r->version = 1;
    r->revision = 0;
    r->name = "Test requester adapter";
    r->moduleName = "testrequester";
    r->author = "Lumivarra tests";
    r->description = "Requesters answered from a queue";
    r->copyright = "none";
    r->url = "";
    r->date = "11.12.2026";
    return 1;
}

LVT_EXPORT(ClosePlugin)()->void {}

LVT_EXPORT(RequirePlugin)(lvState *, int, int, uint32_t, const lvPluginTag *)->int
{
    const char *flags = getenv("LVT_REQUESTER_FLAGS");
    uint32_t word = flags ? (uint32_t)strtoul(flags, nullptr, 0) : 0xFEu;
    int result = api->requesters->InstallRequesterAdapter(self, word);
    std::lock_guard<std::mutex> hold(lock);
    Log("RequirePlugin InstallRequesterAdapter " + std::to_string(word) + " " + std::to_string(result));
    return result;
}

// dos_options.h - how the dos library's commands read their option tables (with the
// shared readers of runtime/cmdsupport.h, defaults given) and make script functions the
// callbacks that copy, move and delete operations ask.
//
// Errors of wrong option types are raised, as the shared readers raise them.
//
// Depends on: vm/lvvm.h, runtime/lists.h (user tags), libs/fileops_engine.h (the
// callback interface), libs/process_engine.h (the run request). Script thread only.
#pragma once
#include <cstddef>
#include <string>

#include "libs/fileops_engine.h"
#include "libs/process_engine.h"
#include "runtime/lists.h"
#include "vm/lvvm.h"

// The "usertags" of an options table, freed with the command's frame.
struct lvCommandTags {
    lvUserTag *list = nullptr;  // the tags, or null
    ~lvCommandTags() { FreeUserTags(list, 0); }
};

// Reads "usertags" of the table at index t (when it is a table) into tags.
void ReadTagsOption(lvState *L, int t, lvCommandTags *tags);

// A switch (boolean or number), def when absent.
bool SwitchOption(lvState *L, int t, const char *name, bool def);
// A number as a 64-bit integer, def when absent.
long long IntOption(lvState *L, int t, const char *name, long long def);
// A text of up to limit (< LV_PATH_SIZE) bytes, "" when absent; a longer one is refused.
std::string TextOption(lvState *L, int t, const char *name, size_t limit, bool *present = nullptr);
// A registry reference to the field (any type), -1 when absent.
int RefOption(lvState *L, int t, const char *name);
// "adapter" of an options table at index i (when it is a table), else "" (the default).
std::string ReadAdapterOption(lvState *L, int i);

// A callback of the function at index fn (and the userdata at ud, 0 for none); the
// operation it is handed to releases it.
lvFileOpCallback *MakeCallback(lvState *L, int fn, int ud);
// The "callback" and "userdata" fields of the options table at index t; null without a
// callback.
lvFileOpCallback *ReadCallbackOption(lvState *L, int t);

// Execute's and Run's options ("forceexe", "hide", "consolemode"; Execute's
// "captureoutput"; Run's "rawmode", "returncode", "ignorehandlers" and "userdata") into
// the request (r->isRun set), the texts into the strings the request will point to.
void ReadRunOptions(lvState *L, int t, lvRunRequest *r, std::string *directory, std::string *verb,
                    std::string *ignoreHandlers);

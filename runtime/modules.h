// modules.h - optional modules: parts of the runtime that carry a heavy library only a
// few commands use (the shape rasteriser's OpenCV) live in a module beside the
// executable and are opened with dlopen at their first use, so that an applet which
// never needs them never loads them.
//
// With LV_MODULE_DIR set (tests point it at an empty folder to see a missing module) the
// module is looked for there alone; else beside the executable, through the loader's
// search path, then in the build's folder. A module that cannot be opened is reported
// once on stderr, naming the module and the library it carries; the command that
// needed it answers its error code and the run goes on.
//
// Depends on: nothing of the project. Limits: any thread (the first open is serialised).
#pragma once
#include <string>

struct lvOptionalModule {
    const char *file;      // "lv_cvshapes.so"
    const char *entry;     // exported function returning the module's table
    const char *carries;   // the library it carries, for the message ("OpenCV")
    int tried;             // the open was attempted
    const void *table;     // the entry's answer, null when the open failed
    void *handle;          // dlopen handle (kept open for the run)
};

// The module's table, opening it on the first call; null when it cannot be opened.
const void *LoadOptionalModule(lvOptionalModule *module);
// A system library opened on first use the same way (the loader's search path, by its
// soname): the dlopen handle, or null after one message on stderr naming it.
void *OpenSystemLibrary(const char *soname, const char *carries);
// FILE's path in the executable's own folder; empty when the executable's path is unknown.
std::string PathBesideExecutable(const char *file);
// Forgets an attempt (tests: the next call looks again; an open handle stays open).
void ForgetOptionalModule(lvOptionalModule *module);

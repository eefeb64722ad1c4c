// gtk_module.h - the interface between the runtime and the desktop dialog module
// (lv_gtkdialogs.so, built next to the runtime and loaded with dlopen at the first
// dialog, so that runs without a desktop never load GTK).
//
// The module runs one GTK thread (gtk_init on the X11 back-end, as SDL) that shows every
// dialog; RunDialog hands a request over and waits for its answer, looking at the stop
// check at least every tenth of a second: a stop closes the dialog as cancelled and
// answers ERR_USERABORT. Without a display the module answers ERR_UNSUPPORTEDFEAT.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

enum lvGtkDialogKind { LV_GTK_FILE = 1, LV_GTK_PATH, LV_GTK_STRING, LV_GTK_LIST, LV_GTK_FONT, LV_GTK_COLOR };

struct lvGtkFilter {
    std::string description, patterns;  // patterns: "*.png;*.jpg"
};

// One dialog: inputs, then the answer the GTK thread fills in.
struct lvGtkRequest {
    int kind;
    std::string title, body, text, path, file;
    int mode;          // file: 0 open, 1 several, 2 save
    int numeric, maxLength, password;
    std::vector<lvGtkFilter> filters;
    std::vector<std::string> items;
    int active;
    double size;
    int32_t colour;
    unsigned long parentWindow;  // X11 window the dialog stays above (0 none)
    int (*isNumber)(const char *text);                 // string: the numerical check
    size_t (*cutAt)(const char *text, size_t maxBytes);  // string: whole characters
    // Answer
    int accepted;
    std::vector<std::string> paths;  // file, path
    std::string answerText;          // string; font family
    int index;                       // list
    double answerSize;
    int weight, italic;
    int32_t answerColour;
};

// Called on the GTK thread once a dialog is mapped (tests answer through GTK from it).
typedef void (*lvGtkTestHook)(void *dialog, const lvGtkRequest *request, void *user);

struct lvGtkModule {
    // 0 answered (accepted or not), ERR_UNSUPPORTEDFEAT, ERR_USERABORT.
    int (*RunDialog)(lvGtkRequest *request, int (*stopRequested)(void));
    void (*SetTestHook)(lvGtkTestHook hook, void *user);
    void (*Shutdown)(void);
};

// The module's one exported entry.
extern "C" typedef const lvGtkModule *(*lvGtkModuleEntry)(void);
#define LV_GTK_MODULE_ENTRY "LvGtkDialogModule"

// requesters.h - the requester engine: routing each requester to the requester adapter
// (a plug-in that declared it) or to a platform back-end, the remembered file and folder,
// and the text helpers the dialogs share (pattern to filter, number check, cutting a
// text at a whole character).
//
// Back-ends are rows of one table picked at InitRequesters: "script" when the
// environment names an answer file (LV_REQUESTER_SCRIPT: one answer a line, "cancel" for
// a cancel; every call is appended to LV_REQUESTER_LOG when that is set), else the
// desktop row: the system requester as an SDL message box on the main thread, the other
// dialogs over GTK3 in a module loaded with dlopen (ERR_UNSUPPORTEDFEAT without it or
// without a display).
//
// Files: requesters.cpp (routing, adapter calls, helpers), requester_backends.cpp (the
// back-end rows), lib_requester.cpp (the commands). Script thread only.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct lvState;
struct lvDisplay;
struct lvConstantEntry;

#define LV_REQ_NOPOSITION 200000
// Where a platform dialog goes (x, y LV_REQ_NOPOSITION: centred; 0 size: automatic).
struct lvRequesterGeometry {
    int x, y, width, height;
};

// One filter of a file requester.
struct lvFileFilter {
    lvFileFilter *next;
    std::string description, filter, mimeType;
    int hideFilter;
};

// Font answer.
struct lvFontAnswer {
    std::string family;
    double size;
    int weight, slant, underline, strikeout, bold, italic;
    int32_t colour;
};

// Button-set flags of the adapter's system requester.
enum : uint32_t {
    REQFLAG_OK = 1, REQFLAG_OKCANCEL = 2, REQFLAG_YESNO = 4, REQFLAG_YESNOCANCEL = 8, REQFLAG_CUSTOM = 16
};

// ---- Helpers -------------------------------------------------------------------------
// "png|jpg|.gif" -> "*.png;*.jpg;*.gif" (empty, "*" and "#?" -> "*.*").
std::string PatternToFilter(const char *pattern);
// ".", "-", "-.", "" accepted; else optional '-', digits, at most one '.'.
int IsNumberText(const char *text);
// The number of bytes of text that fit maxBytes without splitting a UTF-8 character.
size_t CutAtCharacter(const char *text, size_t maxBytes);
// The adapter's button-set and icon flags for a button text and icon; REQFLAG_CUSTOM
// when the set is not a standard one.
uint32_t SystemRequestFlags(const char *buttons, int icon);
// Choice of a standard set from the 0-based button pressed (-1 Escape / close): OK 0;
// OK|Cancel 1/0; Yes|No 1/0; Yes|No|Cancel 1/2/0; custom first..last-but-one 1.., last 0.
int ChoiceFromButton(const char *buttons, int pressed);
// Splits a font answer "family|size|colour" and its flags into the record.
void ParseFontAnswer(const char *text, uint32_t flags, lvFontAnswer *out);
// The "name" a font table shows: the family, then the weight and slant names.
std::string FontDisplayName(const lvFontAnswer &font);

// ---- Routing ------------------------------------------------------------------------------
// Each routes to the adapter when it serves the requester, else to the back-end. Cancel
// is not an error: choice 0, cancelled set, index -1, empty family, colour -1.
int RouteSystemRequest(lvState *L, lvDisplay *d, const char *title, const char *body, const char *buttons,
                       int icon, intptr_t tag1, int *choice);
// mode 0 open, 1 several, 2 save. paths: every full path chosen; empty when cancelled.
int RouteFileRequest(lvState *L, lvDisplay *d, const char *title, const char *pattern, int mode, int hideIcons,
                     const char *path, const char *file, const lvFileFilter *filters,
                     const lvRequesterGeometry *geometry, intptr_t tag1, std::vector<std::string> *paths);
int RoutePathRequest(lvState *L, lvDisplay *d, const char *title, int mode, const char *path,
                     const lvRequesterGeometry *geometry, intptr_t tag1, std::string *out, int *chosen);
// type 0 any text, 3 numerical. *confirmed 1 when a text came back.
int RouteStringRequest(lvState *L, lvDisplay *d, const char *title, const char *body, const char *text, int type,
                       int maxLength, int password, const lvRequesterGeometry *geometry, intptr_t tag1,
                       std::string *out, int *confirmed);
// items: zero-terminated texts ended by an empty one.
int RouteListRequest(lvState *L, lvDisplay *d, const char *title, const char *body, const std::string &items,
                     int active, const lvRequesterGeometry *geometry, intptr_t tag1, int *index);
int RouteFontRequest(lvState *L, lvDisplay *d, const char *title, const char *font, double size,
                     const lvRequesterGeometry *geometry, intptr_t tag1, lvFontAnswer *out);
int RouteColorRequest(lvState *L, lvDisplay *d, const char *title, int32_t colour,
                      const lvRequesterGeometry *geometry, intptr_t tag1, int32_t *out);

// The remembered choices.
std::string &LastRequestedFile(void);
std::string &LastRequestedPath(void);

// The start-up's question for an applet (the desktop's file dialog): 0 and the path,
// ERR_USERABORT when cancelled, ERR_CONFIG when no dialog can be shown.
int AskForAppletFile(char *path, size_t size);

// ---- Back-ends ---------------------------------------------------------------------------
// One row of platform dialogs; the inputs are already checked and defaulted.
struct lvRequesterBackend {
    const char *name;
    int (*System)(lvDisplay *d, const char *title, const char *body, const char *buttons, int icon, int *choice);
    int (*File)(lvDisplay *d, const char *title, const std::string &filter, int mode, const char *path,
                const char *file, const lvFileFilter *filters, std::vector<std::string> *paths);
    int (*Path)(lvDisplay *d, const char *title, const char *path, std::string *out, int *chosen);
    int (*String)(lvDisplay *d, const char *title, const char *body, const char *text, int numeric, int maxLength,
                  int password, std::string *out, int *confirmed);
    int (*List)(lvDisplay *d, const char *title, const char *body, const std::string &items, int active, int *index);
    int (*Font)(lvDisplay *d, const char *font, double size, lvFontAnswer *out);
    int (*Color)(lvDisplay *d, int32_t colour, int32_t *out);
};
// Picks the row (library open). 0.
int InitRequesters(void);
void ShutdownRequesters(void);
const lvRequesterBackend *RequesterBackend(void);
const lvRequesterBackend *ScriptedRequesterBackend(void);
const lvRequesterBackend *DesktopRequesterBackend(void);
// The desktop dialog module, loaded at the first call (null: none or no GTK).
struct lvGtkModule;
const lvGtkModule *DesktopDialogModule(void);
// The scripted row's answers and log (tests; null: from the environment).
void SetScriptedRequesterFiles(const char *answers, const char *log);

// ---- The library ------------------------------------------------------------------------
int OpenRequesterLibrary(lvState *L);
void CloseRequesterLibrary(lvState *L, int full);
const lvConstantEntry *GetRequesterConstants(void);
void InstallRequesterLibrary(void);
// Fills the requester slots of the plug-in interface.
void InstallPluginRequesterEntries(void);
// The plug-in interface's requester entries (runtime callers: error requester).
int RouteSystemRequestEntry(lvState *L, const char *title, const char *body, const char *buttons, int icon);

// errors.h - error codes, messages and the run-wide error state.
//
// The message table (messages_table.cpp, generated from messages.tsv by
// tools/messages/gen_messages_table.py) gives every code 1000-1697 its constant name and
// message; codes from 1698 up are registered at run time. Messages hold "%s" and "%d"
// tokens that are filled from the failing call by a token substituter: no message text
// is ever used as a printf format, and the text argument is always inserted literally.
// The virtual file layer names the file of its errors through SetErrorStringArg.
//
// This file holds the engine only: no VM types. The script-facing side (raising errors
// with the script location, the error handler, the error library's commands) sits on top
// of RecordCommandError, GetErrorText and the report formatters below.
#pragma once
#include <cstddef>
#include <cstdint>

#include "base/lverrors.h"

struct lvState;  // the VM's per-thread state; only passed through here

// ---- Message table ------------------------------------------------------------------

// One row of the message table.
struct lvMessageRow {
    uint16_t index;    // catalog number of the text (GetMessageString)
    uint16_t code;     // error code, 65535 for a text that is no error
    const char *text;  // the message, UTF-8, with "%s"/"%d" tokens
};

// How a code's message is found.
enum lvMessageKind {
    LV_MESSAGE_TABLE = 0,     // a row of lvMessageTable
    LV_MESSAGE_ARGUMENT = 1,  // the text argument is the whole message (Error, font errors)
    LV_MESSAGE_NONE = 2,      // no message: "Unknown error code!"
};

// One error code with its constant name.
struct lvErrorCodeInfo {
    uint16_t code;     // 0 or 1000-1697
    const char *name;  // "ERR_..." or null for a code without a constant
    uint8_t kind;      // lvMessageKind
};

extern const lvMessageRow lvMessageTable[];
extern const int lvMessageTableCount;
extern const uint16_t lvMessageByIndex[];  // rows of lvMessageTable in index order
extern const lvErrorCodeInfo lvErrorCodeTable[];
extern const int lvErrorCodeTableCount;

// Message indexes of the texts that the runtime uses besides error messages.
enum {
    LV_MSG_NO_ERROR = 0,             // "No error occurred!"
    LV_MSG_UNKNOWN_ERROR = 91,       // "Unknown error code!"
    LV_MSG_CURRENT_LINE = 92,        // "current line"
    LV_MSG_OK = 94,                  // "OK"
    LV_MSG_DONE = 95,                // "done"
    LV_MSG_FAILED = 108,             // "failed"
    LV_MSG_OPEN_FONT = 116,          // "Cannot open font %s with size %d!"
    LV_MSG_FILE = 194,               // "File"
    LV_MSG_IN_FUNCTION = 280,        // "In function"
    LV_MSG_LOADING_APPLET = 287,     // "Loading applet %s"
    LV_MSG_CANCEL = 307,             // "Cancel"
    LV_MSG_ERROR = 402,              // "Error"
    LV_MSG_SELECT_DISPLAY_MODE = 695,  // "Please select desired display mode!"
    LV_MSG_DISPLAY_MODE_CHOICES = 696, // "Full screen (best fit)|Windowed|Full screen (manual select)|Cancel"
    LV_MSG_DISPLAY_MODE_SHORT = 697,   // "Full screen|Windowed|Cancel"
    LV_MSG_LOADING_PLUGIN = 698,     // "Loading plugin %s"
    LV_MSG_APPLET_FILTER = 699,      // "Lumivarra applets" (file requester filter name)
    LV_MSG_ALL_FILES = 700,          // "All files"
    LV_MSG_UNNAMED = 738,            // "Unnamed"
    LV_MSG_CTRL = 740,               // "Ctrl"
    LV_MSG_SELECT_APPLET = 781,      // "Select Lumivarra applet to run"
};

// The text of a message index (the first row with it), or null.
const char *GetMessageString(int index);
// The constant name of a code ("ERR_MEM"), or null when it has none.
const char *GetErrorCodeName(int code);
// The code of a constant name (exact spelling), or -1.
int FindErrorCodeByName(const char *name);

// ---- Error state -----------------------------------------------------------------------

enum {
    LV_ERROR_ARG_SIZE = 1024,      // text argument buffer (1023 characters and the NUL)
    LV_ERROR_COMMAND_SIZE = 128,   // current command name (127 characters)
    LV_ERROR_CHUNK_SIZE = 1024,    // current chunk name
};

// The run-wide error state (one per process). Used on the script thread; start-up and
// shut-down use it on the main thread before and after the script thread runs.
struct lvErrorState {
    int lastError;                            // code recorded by RecordCommandError (GetLastError)
    int errorMode;                            // 1 (default): errors are raised; 0: only recorded
    int callbackDepth;                        // > 0 while a script callback or the error handler runs
    int locationTracking;                     // on while the main chunk runs: file and line are known
    int stopRequest;                          // the run is to end (error outside callbacks, End)
    char textArg[LV_ERROR_ARG_SIZE];          // fills "%s"; the whole message of 1064 and 1239
    int numberArg;                            // fills "%d"
    char commandName[LV_ERROR_COMMAND_SIZE];  // failing command, "----" when none
    int currentLine;                          // compiled line of the error, -1 when none
    char currentChunk[LV_ERROR_CHUNK_SIZE];   // chunk name of the innermost script function
    int handlerRef;                           // registry reference of the error handler, -1 when none
    char **userMessages;                      // texts registered from 1698 on, in order
    int userMessageCount;                     // entries used in userMessages
    int userMessageCapacity;                  // entries allocated in userMessages
    int handlerBlocked;                       // non-zero: the error handler does not run (set by plug-ins)
};

// The one instance.
lvErrorState *GetErrorState();
// Back to the start-up values (freeing registered messages, clearing the runtime
// switches); start-up and tests.
void ResetErrorState();

// Bounded copy into the text argument (1023 bytes at most, cut at a character start).
void SetErrorStringArg(const char *text);
void SetErrorNumberArg(int number);
// Sets the current command name (cut to 127 bytes); null or "" sets "----".
void SetErrorCommandName(const char *name);
// Current command name "----", current line -1.
void ResetErrorLocation();

// A new message for plug-ins and scripts: returns its code (1698 + messages before) or
// ERR_MEM when the list cannot grow. The text is copied.
int RegisterErrorMessage(const char *text);
// Frees the registered messages (shut-down).
void FreeUserErrorMessages();

// What the command layer does with a failing code after RecordCommandError.
enum lvErrorAction {
    LV_ERROR_CONTINUE = 0,  // error mode 0: the script goes on (the code is only recorded)
    LV_ERROR_RAISE = 1,     // collect the location and throw the code
};
// Records code as the last error and decides: with error mode 0 the script goes on (the
// location is reset outside callbacks); otherwise the code is raised, and outside
// callbacks the stop request is set as well.
lvErrorAction RecordCommandError(int code);

// ---- Message text -------------------------------------------------------------------

// The token substituter: copies message into buffer (size bytes, always NUL-terminated
// when size > 0), replacing "%s" by textArg (literally), "%d" by numberArg in decimal and
// "%%" by "%"; any other "%" is copied as it is. Returns the bytes written.
size_t FillMessageArgs(const char *message, const char *textArg, long long numberArg, char *buffer,
                       size_t size);
// The message of code with the error state's arguments filled in (bounded).
void GetErrorText(int code, char *buffer, size_t size);
// The file part of the file name embedded in a ":::chunk" name (between "*" and "?").
// False (and "unknown" in out) when the name cannot be parsed.
bool GetChunkFilePart(const char *name, char *out, size_t size);

// ---- Script locations -----------------------------------------------------------------

struct lvLineMapEntry;  // runtime/container.h: one entry of the applet's source-line map

// The source line of a compiled line while an applet runs: the map entry whose chunk name
// equals currentChunk (the empty name when currentChunk begins with '?') and whose
// compiled range holds currentLine gives firstSource + (currentLine - firstCompiled) + 1,
// and *fileOut its source file. Without such an entry: -1 and "---".
int MapAppletSourceLine(const lvLineMapEntry *map, const char *currentChunk, int currentLine,
                        const char **fileOut);
// The source line while a script file runs: currentLine + the sum of (last - first
// compiled line) over the map entries of that file - beginLine + 1.
int MapScriptFileLine(const lvLineMapEntry *map, const char *scriptFile, int currentLine, int beginLine);

// ---- Reports ------------------------------------------------------------------------

// The error requester's text: the text itself when plain or when the location is not
// tracked; else "%s\n%s: %s (%s: %d - %s: %s)" with the text, "File", the file part of
// scriptFile, "current line", line, "In function" and the command name, or without the
// last pair when the command name is "----". Bounded by size (at most 1024 bytes).
size_t BuildErrorRequesterText(const char *text, int plain, int locationTracking, const char *scriptFile,
                               int line, const char *commandName, char *buffer, size_t size);

// Where the final error goes.
enum lvFinalReportRoute {
    LV_REPORT_NONE = 0,       // no error, or a user abort
    LV_REPORT_REQUESTER = 1,  // shown in the error requester
    LV_REPORT_PRINT = 2,      // printed for a console or a host
};
lvFinalReportRoute DecideFinalReportRoute(int code, int haveDebugDevice, int printError);

// The printed final report. hostWindow: the debug device is a host window ("::hwnd");
// formatError: the FORMATERROR option. file null or "" when no file is known.
//   host form (formatError or hostWindow): "@_lverror%d:%s*%s" (line, file, message), or
//     "@_lverror0:\"\"*" and the message without a file; a line end before and after
//     unless the device is a host window;
//   plain form: "\n%s:%d: %s\n" (file, line, message) or "\nError: %s\n".
size_t FormatFinalErrorReport(const char *message, const char *file, int line, int formatError, int hostWindow,
                              char *buffer, size_t size);

// ---- Runtime switches -------------------------------------------------------------------

// Run-wide switches beside the error state.
struct lvRuntimeSwitches {
    int quiet;          // status lines are not printed
    int preloading;     // linked objects are being preloaded (loaders read it)
    int hookSuspended;  // the line hook does nothing (around work that must not be interrupted)
    int checkEventDisabled;  // a plug-in switched CheckEvent and CheckEvents off (runtime tag 39)
    int forbidModal;         // a plug-in forbids commands that wait in a loop of their own (runtime tag 48)
};

lvRuntimeSwitches *GetRuntimeSwitches();

enum {
    LV_FLAG_QUIET = 1,             // quiet switch
    LV_FLAG_PRELOAD = 2,           // preload in progress
    LV_FLAG_CALLBACK_DEPTH = 3,    // set: non-zero adds one, 0 subtracts one; get: the depth
    LV_FLAG_ERROR_MODE = 4,        // error mode (1 raise, 0 record)
    LV_FLAG_LOCATION_TRACKING = 5, // location tracking (set only)
};

// SetRuntimeFlags(state, tag, value, ..., 0): tags 1 to 5; others are skipped.
// GetRuntimeFlags(state, tag, int *out, ..., 0): tags 1 to 4; others are skipped.
// Both return the number of pairs. state is not read (it names the run).
int SetRuntimeFlags(lvState *state, ...);
int GetRuntimeFlags(lvState *state, ...);

// A status line ("Loading applet %s"): the format with the file part of path filled in,
// or the format itself without a path, then "..." when asked; bounded by 512 bytes and
// by size. The result is text to print as it stands.
size_t BuildStatusLineText(const char *format, const char *path, int ellipsis, char *buffer, size_t size);

// ---- Script side (errors_vm.cpp) ----------------------------------------------------------
// The half of error handling that needs the machine: raising with the script location, the
// script's error handler and the reports that name file and line.

struct lvRuntimeConfig;    // runtime/config.h
struct lvStartupSwitches;  // runtime/config.h

// Records code as the last error and, by the error mode, throws it with the script location
// or lets the script go on (the machine's host slot of the same name).
void HandleCommandError(lvState *state, int code);
// Fills the current chunk, command name and line from the call levels of state. line: the
// compiled line already known (-1: the first script level's).
void CollectErrorLocation(lvState *state, int line = -1);
// The source line and file of the current error: through the applet's source-line map when
// the registry string "script" is ":none:" (a chunk the map does not cover gives its compiled
// line and the file part of its own chunk name), through the script file's map when it names
// a file, otherwise the compiled line and the chunk name without its "@". -1 / "---" when
// unknown. The file text lives until the next call.
int GetScriptLine(lvState *state);
const char *GetScriptFileName(lvState *state);
// GetErrorText plus the file and line when location tracking is on (null and 0 otherwise).
void GetErrorTextWithLocation(lvState *state, int code, char *buffer, size_t size, const char **fileOut,
                              int *lineOut);
// Runs the script's error handler (RaiseOnError) with code, message, command name and line
// in a protected call; returns that call's status (0: handled).
int CallErrorHandler(lvState *state, int code);
// Whether a handler is set and none is running.
bool CanRunErrorHandler(lvState *state);
// The error requester: until requesters exist, its text on standard error (or the sink).
void ShowErrorRequester(lvState *state, const char *text, int plain, int kind);
typedef void (*lvRequesterSink)(const char *title, const char *text, int kind);
lvRequesterSink SetErrorRequesterSink(lvRequesterSink sink);  // null: standard error
// The final report at shut-down: nothing for codes <= 0 and ERR_USERABORT; the message
// goes into config->errorText, then to the requester, or printed (PrintOutput) in the
// plain or the host form by the switches (switches may be null: no device, no options).
void ReportFinalErrorWithSwitches(int code, lvRuntimeConfig *config, const lvStartupSwitches *switches, lvState *state);

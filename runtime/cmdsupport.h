// cmdsupport.h - what every command uses on top of the machine's stack interface: the
// argument-count check, object identifiers, number-or-percent arguments, option-table
// readers and setters, user tags from tables, the run's registry records, the registered
// command lists, calls of commands by name, and the debug output channel.
//
// Errors of argument readers are raised (RaiseError) and do not return; readers of option
// tables raise on wrong types and report allocation failures by their result.
//
// Depends on: vm/lvvm.h, runtime/errors.h, runtime/objects.h, runtime/lists.h,
// runtime/random.h, runtime/encoding.h, runtime/container.h, runtime/config.h.
// Used on the script thread (start-up and shut-down: the main thread).
#pragma once
#include <cstddef>
#include <cstdint>

#include "runtime/lists.h"
#include "runtime/objects.h"
#include "vm/lvvm.h"

struct lvRuntimeConfig;  // runtime/config.h
struct lvAppletRecord;   // runtime/container.h

// ---- Argument checks ----------------------------------------------------------------------

// The first step of nearly every command. min = max = 0: any argument is ERR_TOOMANYARGS;
// fewer than min: ERR_MISSINGPARAMTR; max > 0 and more than max: ERR_TOOMANYARGS; major
// not 0 and the running applet older than major.minor: ERR_OLDAPPLET. Returns L.
lvState *CheckArgCount(lvState *L, int min, int max, int major, int minor);

// An object identifier: a light userdata gives {0, pointer}; anything else the number
// truncated toward zero (a non-number raises as CheckNumberArg does).
lvObjectId GetObjectIdArg(lvState *L, int index);

// An integer argument that may be Nil (a creating command then makes a handle): *isNil
// tells; otherwise the number truncated toward zero (a non-number raises ERR_NUMEXPECTED).
int GetIntArgOrNil(lvState *L, int index, int *isNil);

// A string argument with its length in characters (encoding 1, UTF-8: invalid text raises
// ERR_INVALIDUTF8ARG with the argument index) or bytes; byteLengthOut (may be null) gets
// the bytes.
const char *GetStringArgLength(lvState *L, int index, size_t *lengthOut, int encoding, size_t *byteLengthOut);

// A number, or a text "N" / "N%": a percent gives N * base / 100 (base 0: N / 100 with
// *isPercentOut set); a negative percent, or one above 100 unless allowed, and a text
// without a number raise ERR_PERCENTFORMAT (argument index as "%d"); other types
// ERR_STRORNUM. isPercentOut may be null.
double GetNumberOrPercentArg(lvState *L, int index, double base, int allowAbove100, int *isPercentOut);

// Pushes `length` characters from character `start` (encoding 1, UTF-8) or bytes of
// text[0..textLength); both are cut to the text.
void PushSubString(lvState *L, const char *text, size_t textLength, size_t start, size_t length, int encoding);
// Pushes the lower-case form of the string argument at index: per code point in UTF-8
// (encoding 1; invalid text raises ERR_INVALIDUTF8ARG with the index), per byte otherwise.
void PushLowerCaseArg(lvState *L, int index, int encoding);
// "#NAME" at text looked up among the machine's constants: 0, ERR_WRONGUSAGE,
// ERR_SYNTAXERROR or ERR_FINDCST; *consumedOut = name length + 1.
int ParseScriptConstantRef(lvState *L, const char *text, size_t *consumedOut, const char **stringOut,
                           double *numberOut);

// ---- Linked files -------------------------------------------------------------------------

// The ":::chunk" name of a file linked into the applet, or name itself. Without fontMode
// the linked files whose name does not begin with "::font:" are compared as paths; in
// font mode the "::font:" names are compared (case ignored) after that prefix, a name
// ending in ".ttf" or ".otf" turns font mode off and one ending in ".font" is compared
// without it. *linkedOut (may be null) gets the font mode when found, 0 otherwise. The
// result lives in a shared buffer until the next call.
const char *ResolveLinkedFileName(lvState *L, const char *name, int fontMode, int *linkedOut);
// ResolveLinkedFileName of the string argument at index.
const char *GetLinkedFileArg(lvState *L, int index, int fontMode, int *linkedOut);

// ---- Status lines and temporary names -------------------------------------------------------

// Unless the run is quiet: the format with the file part of path (or the format alone),
// then "..." when asked, no line end; "done" / "failed" with a line end.
void PrintStatusLine(const char *format, const char *path, int ellipsis);
void PrintStatusDone();
void PrintStatusFailed();
// A fresh temporary file name (the file the platform creates is deleted at once) with the
// extension of likeName (for a ":::chunk" name, the one it embeds; none without a ".").
// False when no name could be made or it does not fit.
bool MakeTempFileName(char *buffer, size_t size, const char *likeName);

// ---- Option tables ----------------------------------------------------------------------
// Each reader looks `name` up in the table at `index` (metamethods apply) and returns
// true when the field is present and not nil; `present` (may be null) gets the same. An
// absent field leaves *out untouched. The stack is left as it was.

bool GetFieldInt(lvState *L, int index, const char *name, int *out, int *present = nullptr);
bool GetFieldNumber(lvState *L, int index, const char *name, double *out, int *present = nullptr);
bool GetFieldBool(lvState *L, int index, const char *name, int *out, int *present = nullptr);
// An allocated copy (AllocMemory; the caller frees it) and its length (may be null).
// flags bit 0: a linked file's name is resolved first (ResolveLinkedFileName); bit 1: in
// the font form. False as well when memory runs out (*out then stays untouched).
enum { LV_FIELD_LINKED = 1, LV_FIELD_LINKED_FONT = 2 };
bool GetFieldStringDup(lvState *L, int index, const char *name, char **out, size_t *lengthOut, int flags = 0,
                       int *present = nullptr);
// A bounded copy into buffer (always NUL-terminated).
bool GetFieldStringBuf(lvState *L, int index, const char *name, char *buffer, size_t size, int *present = nullptr);
bool GetFieldObjectId(lvState *L, int index, const char *name, lvObjectId *out, int *present = nullptr);
// As GetNumberOrPercentArg (ERR_STRORNUM, ERR_PERCENTFORMAT with the table's argument index).
bool GetFieldNumberOrPercent(lvState *L, int index, const char *name, double base, int allowAbove100,
                             double *out, int *isPercentOut, int *present = nullptr);
// An integer, or a text "N%" that gives -N (ERR_PERCENTFORMATSTR naming the field).
bool GetFieldIntOrPercent(lvState *L, int index, const char *name, int allowAbove100, int *out,
                          int *present = nullptr);
// A registry reference to the value (any type).
bool GetFieldRef(lvState *L, int index, const char *name, int *refOut, int *present = nullptr);
// A registry reference to a function (ERR_FUNCTABLEARG naming the field otherwise).
bool GetFieldFunctionRef(lvState *L, int index, const char *name, int *refOut, int *present = nullptr);
// Four numbers from the items 0..3 of a table field (ERR_MISSINGPARAMTR for a missing
// item, ERR_NUMTABLEARG for a non-number, both naming the field).
bool GetFieldRect(lvState *L, int index, const char *name, double out[4], int *present = nullptr);

// A switch: a boolean, or a number (not 0 is on); another type raises ERR_WRONGUSAGE.
bool GetFieldSwitch(lvState *L, int index, const char *name, bool *out, int *present = nullptr);
// Whether the option is on: true unless it is absent, nil, false, 0 or an empty text.
bool IsFieldOn(lvState *L, int index, const char *name);
// A 64-bit integer from a number only (a text raises ERR_NUMEXPECTED as other types do).
bool GetFieldInt64(lvState *L, int index, const char *name, long long *out, int *present = nullptr);
// A text (or a number's text) of at most `limit` bytes into buffer, which holds limit + 1;
// another type raises ERR_STREXPECTED, a longer text ERR_WRONGUSAGE (never cut).
bool GetFieldText(lvState *L, int index, const char *name, char *buffer, size_t limit, int *present = nullptr);

// Readers that answer an error code instead of raising, for options whose wrong types are
// the command's answer (so an error mode that lets errors pass goes on after them).
// Pushes table[name] of the table at index (metamethods apply) and answers its type,
// LV_TNIL when absent; the caller pops it.
int PushFieldValue(lvState *L, int index, const char *name);
// A number or a number's text: 0 (absent: *out untouched), or ERR_NUMEXPECTED.
int ReadFieldInt(lvState *L, int index, const char *name, int *out, int *present = nullptr);
// A string only, copied into buffer (cut to fit; buffer may be null with size 0), its
// full length in *lengthOut (may be null): 0 absent, 1 read, or ERR_STRINGEXPECTED.
int ReadFieldString(lvState *L, int index, const char *name, char *buffer, size_t size, size_t *lengthOut);

// Setters on the table at the stack top.
void SetFieldInt(lvState *L, const char *name, int value);
void SetFieldUInt(lvState *L, const char *name, uint32_t value);
void SetFieldNumber(lvState *L, const char *name, double value);
void SetFieldString(lvState *L, const char *name, const char *value);
void SetFieldObjectId(lvState *L, const char *name, lvObjectId id);
// Pushes the identifier a script sees: the handle when set, else the number.
void PushObjectId(lvState *L, lvObjectId id);

// ---- User tags --------------------------------------------------------------------------

// Without knownNames: the tags of the table in field fieldName (null: "usertags") of the
// table at index (absent field: an empty list). With knownNames (null-ended): the table at
// index itself, skipping those keys (case ignored). Keys must be strings and values
// numbers or strings (ERR_WRONGUSAGE); traversal order is kept; on error the partial list
// is freed. 0, ERR_MEM or ERR_WRONGUSAGE.
int ReadUserTags(lvState *L, int index, const char *fieldName, const char *const *knownNames, lvUserTag **listOut);
// Stores the list as the field "usertags" (names lower-cased, cut to 255 bytes) of the
// table at the stack top; nothing for an empty list.
void PushUserTags(lvState *L, const lvUserTag *list);

// The reference operations of object user data that are registry references of L.
lvRefOps MakeRegistryRefOps(lvState *L);

// ---- Run records ------------------------------------------------------------------------

// The registry pointers "clargs" and "applet"; a null L means the run's main state.
lvRuntimeConfig *GetClargsRecord(lvState *L);
lvAppletRecord *GetAppletRecord(lvState *L);
// The run's main state (start-up sets it; tests too). Null until set.
void SetMainVMState(lvState *L);
lvState *GetMainVMState();

// ---- Command lists ------------------------------------------------------------------------

// Remembers a library's command table (the table must outlive the run). 0 or ERR_MEM.
int RegisterCommandList(const lvCommandEntry *table, const char *libraryName);
// The name as the first registered table that has it spells it (case ignored), or null.
const char *FindCommandName(const char *name);
// The library that registered a command (case ignored), or null.
const char *FindCommandLibrary(const char *name);
// Frees the registered command lists and the user error messages (shut-down).
void FreeRuntimeLists();

// Registers table as globals (lower-cased names) and remembers it as libraryName's
// command list. 0 or ERR_MEM.
int RegisterCommandTable(lvState *L, const lvCommandEntry *table, const char *libraryName);

// Argument kinds of CallCommandByName.
enum lvCallArgType {
    LV_CALLARG_INT = 0,       // int
    LV_CALLARG_UNSIGNED = 1,  // unsigned int
    LV_CALLARG_STRING = 2,    // const char *
    LV_CALLARG_NIL = 3,       // no value follows
    LV_CALLARG_POINTER = 4,   // void * (light userdata)
    LV_CALLARG_OBJECTID = 5,  // lvObjectId *
};
// Calls the global command `name` (lower-cased, 63 bytes at most) with argumentCount
// arguments given as (type, value) pairs, keeping resultCount results on the stack
// (-1: all). Returns 0 or the error code the call raised; an unknown command is
// ERR_UNKNOWNCMD.
int CallCommandByName(lvState *L, const char *name, int resultCount, int argumentCount, ...);

// ---- Debug output -------------------------------------------------------------------------

// The debug switches (NODEBUG, DEBUGOUTPUT) are start-up's: GetStartupSwitches().

// Where debug text and printed reports go; the default is the platform's debug channel.
typedef void (*lvOutputSink)(const char *text, size_t length);
// Installs a sink (null restores the debug channel); returns the previous one.
lvOutputSink SetOutputSink(lvOutputSink sink);
// Writes text to the debug channel (a plain text, never a format).
void PrintOutput(const char *text);
void PrintOutputBytes(const char *text, size_t length);

// Where DebugPrompt, WaitKey and GetKey read from; the default reads standard input.
struct lvConsoleInput {
    // Reads one line without its line end into buffer (NUL-terminated); false at the end.
    bool (*ReadLine)(char *buffer, size_t size);
    // Reads one key (a character code); -1 at the end, LV_CONSOLE_KEY_STOPPED when the
    // script was stopped while waiting.
    int (*ReadKey)();
    // A waiting key without blocking, -1 when none; null: ReadKey.
    int (*PollKey)();
};
enum { LV_CONSOLE_KEY_STOPPED = -2 };
// Installs a console reader (null restores standard input).
void SetConsoleInput(const lvConsoleInput *input);
const lvConsoleInput *GetConsoleInput();

// lvvm.h - the script machine as native code sees it: the command convention,
// the stack interface, the command-support layer, errors as thrown codes and
// the services the machine takes from its host (the runtime core).
//
// Native code never touches the machine's value records: it reads its
// arguments and pushes its results through the functions declared here.
// Depends on: base/lverrors.h (codes only). Single-threaded: a machine is
// driven by one thread; only the stop request may be set from elsewhere.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>

#include "base/lverrors.h"

struct lvState;
struct lvPrototype;

// ---- The command convention ---------------------------------------------------
// A command answers 0..999 results (the top values), an error code (1000 and
// up), -1/-2 for a jump request to a label, -3 for a yield, or ERR_ABORT (1683)
// for no results and no error.
typedef int (*lvCommandFunction)(lvState *L);

struct lvCommandEntry {
    const char *name;        // command name; NULL ends the table
    lvCommandFunction func;  // NULL skips the row
};

struct lvConstantEntry {
    const char *name;    // constant name; NULL ends the table
    const char *string;  // string value, or NULL for a number constant
    double number;       // number value when string is NULL
};

// A thrown script error: the numeric code travels, never a message.
struct lvVMError {
    int code;  // error code, 1000 and up (or a load/verifier code)
};

// Value tags as the stack interface reports them.
enum lvValueTag {
    LV_TNONE = -1,
    LV_TNIL = 0,
    LV_TBOOLEAN = 1,
    LV_TPOINTER = 2,
    LV_TNUMBER = 3,
    LV_TSTRING = 4,
    LV_TTABLE = 5,
    LV_TFUNCTION = 6,
    LV_TUSERDATA = 7,
    LV_TTHREAD = 8,
};

// Pseudo-indices.
constexpr int LV_REGISTRYINDEX = -10000;
constexpr int LV_GLOBALSINDEX = -10001;
constexpr int LvUpvalueIndex(int i) { return LV_GLOBALSINDEX - i; }

// Special command answers.
constexpr int LV_JUMPREQUEST = -1;        // Gosub to JumpRequestOffset, return after the call
constexpr int LV_JUMPREQUEST_AGAIN = -2;  // the same, the return runs the call again
constexpr int LV_YIELD = -3;              // only YieldThread answers it
// A command whose result count a plain answer cannot carry (1000 and above read as error
// codes) pushes its results and answers CountedResults(L, count).
constexpr int LV_COUNTEDRESULTS = -4;
int CountedResults(lvState *L, int count);

// Chunk readers hand out blocks until they answer NULL or a size of 0.
typedef const char *(*lvReaderFunction)(lvState *L, void *data, size_t *size);
// Chunk writers take every piece of a dump; their failures are not observed.
typedef int (*lvWriterFunction)(lvState *L, const void *bytes, size_t size, void *data);

// ---- Debug information and hooks ----------------------------------------------
enum lvHookEvent { LV_HOOKCALL = 0, LV_HOOKRET = 1, LV_HOOKLINE = 2, LV_HOOKCOUNT = 3, LV_HOOKTAILRET = 4 };
enum lvHookMask { LV_MASKCALL = 1, LV_MASKRET = 2, LV_MASKLINE = 4, LV_MASKCOUNT = 8 };

struct lvDebugInfo {
    int event;               // hook event (lvHookEvent)
    const char *name;        // name the function was called under, or NULL
    const char *nameKind;    // "global", "local", "method", "field" or ""
    const char *what;        // "Lumivarra", "main", "C" or "tail"
    const char *source;      // the function's source name
    int currentLine;         // line being run, -1 for native functions
    int upvalueCount;        // number of upvalues
    int lineDefined;         // line where the function is defined
    char shortSource[60];    // printable form of source
    int callIndex;           // call-record index (0 for a lost tail call)
};

typedef int (*lvHookFunction)(lvState *L, lvDebugInfo *info, int *errorOut);

// ---- Run-wide state ---------------------------------------------------------
// Everything the machine keeps per run rather than per state, in one record
// that tests can reset between cases.
struct lvGosubEntry {
    const lvPrototype *proto;  // function whose code the return address belongs to
    int index;                 // instruction index to return to
};

constexpr int LV_GOSUBSTACK_SIZE = 4096;

struct lvVMRun {
    lvState *currentState;             // state of the innermost protected run
    int errorInProgress;               // set by every throw; misuse checks then stay quiet
    int protectedNesting;              // ProtectedCall calls in progress
    lvGosubEntry gosubStack[LV_GOSUBSTACK_SIZE];  // return addresses of Gosub jumps
    int gosubDepth;                    // entries in use
    int jumpRequestOffset;             // set by a command before answering -1/-2
    int currentCallIndex;              // index of the instruction after the running call
    std::atomic<int> stopRequest;      // set from any thread: the script ends with 1003
    std::atomic<unsigned> attention;   // LV_ATTN_STOP and the line-work bits: the interpreter's one test
    const lvPrototype *labelOwner;     // function whose code the labels index (NULL: any)
    // Defaults of the host services below keep their figures here.
    int errorLine;                     // line of the last raised error (-1 native, 0 none)
    char errorFile[256];               // source of the last raised error
    char errorCommand[128];            // command running when it was raised
    char errorStringArg[1024];         // "%s" argument of the message
    int errorNumberArg;                // "%d" argument of the message
    int lastError;                     // last command error code
};

extern lvVMRun gVMRun;
// Clears the run-wide record (Gosub stack, counters, flags, error figures).
void ResetVMRun();
// Asks the running script to stop (safe from any thread).
void RequestScriptStop(int on);

// ---- The runtime's line hook ----------------------------------------------------
// A gated line hook is a line hook that the interpreter runs only while there is
// line work: at each new line (or backward jump) while LV_LINEWORK_EVERYLINE is
// set, and at the next new line after LV_LINEWORK_POLL was set (the interpreter
// clears that bit when it calls the hook). With no work pending the interpreter
// runs at the speed of a state without hooks. See vm/README.md.
enum lvLineWork : unsigned {
    LV_ATTN_STOP = 1u,            // mirrors the stop request (RequestScriptStop)
    LV_LINEWORK_EVERYLINE = 2u,   // run the hook at every new line (plug-in line hooks exist)
    LV_LINEWORK_POLL = 4u,        // an event poll is due: run the hook at the next new line
};
// Installs f as the state's gated line hook (NULL removes every hook, as SetHook does).
int SetGatedLineHook(lvState *L, lvHookFunction f);
// Sets (on != 0) or clears line-work bits for every state; safe from any thread.
void SetLineHookWork(unsigned bits, int on);
// Starts, once per process, the timer that sets LV_LINEWORK_POLL every periodMs
// milliseconds (a later call only changes the period).
void StartLineHookTimer(int periodMs);

// ---- Host services --------------------------------------------------------------
// What the machine needs of the runtime core. Every slot has a plain default,
// so the machine works before the runtime core exists.
struct lvVMHost {
    // Fill the error location (file, command, line) of an error being raised.
    void (*CollectErrorLocation)(lvState *L, int line);
    // Set the "%s" / "%d" arguments of the next error message.
    void (*SetErrorStringArg)(const char *text);
    void (*SetErrorNumberArg)(int n);
    // A command answered an error code: record it; raise it (RaiseError) or let it pass.
    void (*HandleCommandError)(lvState *L, int code);
    // Before each command call: reset the last error unless it is GetLastError.
    void (*BeforeCommand)(lvState *L, lvCommandFunction f);
    // Whether the script's error handler may run now, and running it (answers the new status).
    int (*CanRunErrorHandler)(lvState *L);
    int (*RunErrorHandler)(lvState *L, int code);
    // Debug output of the call trace, and whether the trace is on.
    void (*PrintOutput)(const char *text);
    int (*TraceCalls)();
    // Lower-case a name in place in the current encoding.
    void (*LowerStrInPlace)(char *text);
    // Case-sensitive collation of two byte strings: <0, 0, >0.
    int (*CollateStrings)(const char *a, size_t la, const char *b, size_t lb);
};

// Installs host services (NULL slots keep the defaults); NULL restores all defaults.
void SetVMHost(const lvVMHost *host);
const lvVMHost *GetVMHost();

// ---- Machines, errors, protected runs -------------------------------------------
lvState *NewVMState();
void CloseVMState(lvState *L);
// Hands the machine to the calling thread (the script thread takes over the
// machine that start-up created); debug builds check every protected entry.
void ClaimVMState(lvState *L);

[[noreturn]] void RaiseError(lvState *L, int code);
[[noreturn]] void ThrowError(lvState *L, int code);
typedef void (*lvProtectedFunction)(lvState *L, void *data);
int RunProtected(lvState *L, lvProtectedFunction f, void *data);
typedef void (*lvPanicFunction)(lvState *L);
lvPanicFunction SetPanicFunction(lvState *L, lvPanicFunction f);

// ---- Stack interface ------------------------------------------------------------
int GetStackTop(lvState *L);
void SetStackTop(lvState *L, int index);
void RemoveValue(lvState *L, int index);
void InsertValue(lvState *L, int index);
void ReplaceValue(lvState *L, int index);
void PushCopy(lvState *L, int index);
int EnsureStackSpace(lvState *L, int n);
void MoveValues(lvState *from, lvState *to, int n);

int GetValueType(lvState *L, int index);
const char *GetTypeName(lvState *L, int tag);
int IsNativeFunction(lvState *L, int index);
int CanConvertToNumber(lvState *L, int index);
int IsStringOrNumber(lvState *L, int index);
int IsUserDataOrPointer(lvState *L, int index);
int ValuesIdentical(lvState *L, int i, int j);
int ValuesEqual(lvState *L, int i, int j);
int ValueLessThan(lvState *L, int i, int j, int collate);
double ValueToNumber(lvState *L, int index);
int ValueToBoolean(lvState *L, int index);
const char *ValueToString(lvState *L, int index);
size_t ValueStringLength(lvState *L, int index);
lvCommandFunction ValueToNativeFunction(lvState *L, int index);
void *GetUserDataPointer(lvState *L, int index);
lvState *ValueToThread(lvState *L, int index);
const void *GetValueAddress(lvState *L, int index);

void PushNil(lvState *L);
void PushNumber(lvState *L, double n);
void PushSizedString(lvState *L, const char *s, size_t len);
void PushString(lvState *L, const char *s);
// A string built in place, for a large body that would cost a second copy of itself:
// NewStringBlock gives room for capacity bytes with the machine's string header in
// front (NULL when memory runs out); ResizeStringBlock moves it like realloc (NULL: the
// old block stays); PushStringBlock makes the first len bytes a string without copying
// them and always takes the block, also when it raises ERR_MEM; FreeStringBlock drops a
// block that never became a string (NULL is ignored). Bytes beyond len are given back.
char *NewStringBlock(size_t capacity);
char *ResizeStringBlock(char *block, size_t capacity);
void FreeStringBlock(char *block);
void PushStringBlock(lvState *L, char *block, size_t len);
void PushBoolean(lvState *L, int b);
void PushPointer(lvState *L, void *p);
void PushNativeClosure(lvState *L, lvCommandFunction f, int n);
void PushNewTable(lvState *L);
void PushNewSizedTable(lvState *L, int narray, int lognodes);
void *PushNewUserData(lvState *L, size_t size);
lvState *PushNewThread(lvState *L);
int PushMetatable(lvState *L, int index);
void PushEnvironment(lvState *L, int index);
int PushClosureUpvalues(lvState *L);
const char *PushUpvalue(lvState *L, int funcindex, int n);
void ConcatValues(lvState *L, int n);

void GetTableValue(lvState *L, int index);
void GetTableValueRaw(lvState *L, int index);
void GetTableItemRaw(lvState *L, int index, int n);
void SetTableValue(lvState *L, int index);
void SetTableValueRaw(lvState *L, int index);
void SetTableItemRaw(lvState *L, int index, int n);
int NextTableEntry(lvState *L, int index);
int AssignMetatable(lvState *L, int index);
int SetEnvironment(lvState *L, int index);
const char *StoreUpvalue(lvState *L, int funcindex, int n);

int CallFunction(lvState *L, int nargs, int nresults);
int ProtectedCall(lvState *L, int nargs, int nresults, int errfunc);
int LoadChunk(lvState *L, lvReaderFunction reader, void *data, const char *chunkname);
int DumpFunction(lvState *L, int index, lvWriterFunction writer, void *data);
int GetCollectThreshold(lvState *L);
int GetMemoryInUse(lvState *L);
void SetCollectThreshold(lvState *L, int kb);
void RunFullCollection(lvState *L);

int ResumeThread(lvState *L, int nargs);
int YieldThread(lvState *L, int nresults);

// Loads a chunk held in memory (a convenience over LoadChunk).
int LoadChunkBuffer(lvState *L, const void *bytes, size_t size, const char *chunkname);

// ---- Debug interface --------------------------------------------------------------
int SetHook(lvState *L, lvHookFunction f, int mask, int count);
int GetStackLevel(lvState *L, int level, lvDebugInfo *info);
int GetDebugInfo(lvState *L, const char *options, lvDebugInfo *info);

// ---- Command support ----------------------------------------------------------------
int RegisterLibrary(lvState *L, const char *libname, const lvCommandEntry *entries, int nup);
void DefineConstants(lvState *L, const char *libname, const lvConstantEntry *entries, int user);
int LookupConstant(lvState *L, const char *name, const char **stringOut, double *numberOut);
int FindLabel(lvState *L, const char *label);
int FindStringIndex(const char *text, const char *const *list);
// Makes the function at index the owner of the labels (jump requests land only in it).
void SetLabelOwner(lvState *L, int index);

void SetRegistryPointer(lvState *L, const char *name, void *p);
void *GetRegistryPointer(lvState *L, const char *name);
void SetRegistryString(lvState *L, const char *name, const char *s);
const char *GetRegistryString(lvState *L, const char *name);
void SetRegistryNumber(lvState *L, const char *name, double n);
double GetRegistryNumber(lvState *L, const char *name);

void CheckTableArg(lvState *L, int i);
void CheckFunctionArg(lvState *L, int i);
void CheckCoroutineArg(lvState *L, int i);
void CheckArgType(lvState *L, int i, int tag);
void *CheckUserDataArg(lvState *L, int i);
const char *CheckStringArg(lvState *L, int i, size_t *len);
const char *GetOptionalStringArg(lvState *L, int i, const char *def, size_t *len);
const char *CheckStringField(lvState *L, int i, size_t *len, const char *field);
const char *ReadCallbackString(lvState *L, int i, size_t *len, int *code);
double CheckNumberArg(lvState *L, int i);
uint32_t CheckUnsignedArg(lvState *L, int i);
double GetOptionalNumberArg(lvState *L, int i, double def);
uint32_t GetOptionalUnsignedArg(lvState *L, int i, uint32_t def);
double CheckNumberField(lvState *L, int i, const char *field);
int CheckIntegerField(lvState *L, int i, const char *field);
double ReadCallbackNumber(lvState *L, int i, int *code);

int NewNamedMetatable(lvState *L, const char *name);
void PushNamedMetatable(lvState *L, const char *name);
void *GetTypedUserData(lvState *L, int index, const char *name);
int PushMetaField(lvState *L, int index, const char *field);
int CallMetaMethod(lvState *L, int index, const char *field);

struct lvStringBuffer {
    char *cursor;          // next free byte of area
    int pieces;            // finished pieces on the stack
    lvState *L;            // the machine whose stack holds the pieces
    char area[1024];       // bytes not yet pushed
};
void InitStringBuffer(lvState *L, lvStringBuffer *b);
void AppendBufferBytes(lvStringBuffer *b, const char *s, size_t n);
void AppendBufferString(lvStringBuffer *b, const char *s);
char *GetBufferSpace(lvStringBuffer *b);
void AppendBufferValue(lvStringBuffer *b);
void FinishStringBuffer(lvStringBuffer *b);

void SetTableSize(lvState *L, int index, int n);
int GetStoredTableSize(lvState *L, int index);
int GetTableSize(lvState *L, int index);
int CreateReference(lvState *L, int index);
void ReleaseReference(lvState *L, int index, int ref);

// ---- Number helpers shared with the runtime -------------------------------------
// The integer a double gives under the machine's rule: truncation toward zero;
// NaN, infinities and values outside the 64-bit range give INT64_MIN.
int64_t NumberToInt64(double d);
// Number text "%.14g" in the C locale ("inf", "-inf", "nan"); answers the length.
int FormatNumber(double d, char *buf /* at least 32 bytes */);
// Parses a number text ("$FF", "0x10", decimal with blanks around); 1 on success.
int StringToNumber(const char *s, size_t len, double *out);

// lib_async.cpp - the async library's script commands: ContinueAsyncOperation and
// CancelAsyncOperation drive the operations that commands of other libraries (the dos
// library's copy, move and delete first) started with "async", and the object type
// 61 "Async objects" lists them.
//
// The operations themselves are runtime/asyncop.h's; this file gives them the hooks of
// the script run (the step poll and the registry references) and nothing more.
//
// Depends on: vm/lvvm.h, runtime/cmdsupport.h, runtime/errors.h, runtime/asyncop.h.
// Script thread only.
#include "libs/lib_dos.h"
#include "runtime/asyncop.h"
#include "runtime/cmdsupport.h"
#include "runtime/errors.h"

// Between the steps of an operation that runs inside its command: a stop request (an
// interrupt, End in a callback, a fatal error) ends it within one step.
// The runtime adds its event poll (events in, a quit request ends the run).
static int (*runtimeStepPoll)(lvState *, int);

void SetDosStepPoll(int (*poll)(lvState *state, int mode)) { runtimeStepPoll = poll; }

int PollDosRuntimeEvents(lvState *L, int mode) { return runtimeStepPoll ? runtimeStepPoll(L, mode) : 0; }

static int PollBetweenSteps(lvState *L, int mode)
{
    if (gVMRun.stopRequest.load(std::memory_order_relaxed)) return ERR_USERABORT;
    return runtimeStepPoll ? runtimeStepPoll(L, mode) : 0;
}

void InstallAsyncStepHooks(lvState *L)
{
    static lvRefOps refOps;
    static lvAsyncHooks hooks;
    refOps = MakeRegistryRefOps(L);
    hooks.PollEvents = PollBetweenSteps;
    hooks.refOps = &refOps;
    SetAsyncHooks(&hooks);
}

// ContinueAsyncOperation(id): the done flag, then whatever the step produced.
static int CmdContinueAsyncOperation(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    lvAsyncOperation *op;
    if (int code = FindAsyncOperation(GetObjectIdArg(L, 1), &op)) return code;
    int done = 0;
    int results = ContinueAsyncOperation(L, op, &done);
    if (results >= 1000) return results;
    PushNumber(L, done ? 1 : 0);
    InsertValue(L, -(results + 1));
    return results + 1;
}

static int CmdCancelAsyncOperation(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    return CancelAsyncOperation(L, GetObjectIdArg(L, 1));
}

// The async library's constants (draws come with the layer engine; their numbers are
// fixed already).
static const lvConstantEntry kAsyncConstants[] = {
    {"ASYNCDRAW", nullptr, 37}, {"ASYNCOBJ", nullptr, LV_ASYNCOBJ}, {"ATTRTYPE", nullptr, 9},
    {"ATTRNUMFRAMES", nullptr, 11}, {"ATTRCURFRAME", nullptr, 12}, {"ADF_FX", nullptr, 0},
    {"ADF_MOVEOBJECT", nullptr, 1}, {"ADF_ANIM", nullptr, 2},
    {nullptr, nullptr, 0},
};

const lvConstantEntry *GetAsyncOperationConstants() { return kAsyncConstants; }

// The two commands that drive async operations; the library that lists them takes this table.
static const lvCommandEntry kAsyncOperationCommands[] = {
    {"ContinueAsyncOperation", CmdContinueAsyncOperation},
    {"CancelAsyncOperation", CmdCancelAsyncOperation},
    {nullptr, nullptr},
};

const lvCommandEntry *GetAsyncOperationCommands() { return kAsyncOperationCommands; }

int OpenAsyncOperationLibrary(lvState *L)
{
    InstallAsyncStepHooks(L);
    if (int code = RegisterCommandTable(L, kAsyncOperationCommands, "async")) return code;
    if (FindObjectType(LV_ASYNCOBJ)) return 0;
    return RegisterObjectType(LV_ASYNCOBJ, "Async objects", GetAsyncOperationList(), nullptr, nullptr, 0);
}

void FreeAsyncOperationObjects(lvState *L, int)
{
    InstallAsyncStepHooks(L);
    FreeAsyncOperations(L);
}

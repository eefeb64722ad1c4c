// asyncop.h - async operations: long jobs (copying and deleting files, transfers,
// recording) made of steps, which a command either runs to completion itself or hands
// to the script to advance with ContinueAsyncOperation.
//
// A job producer allocates one zeroed block whose head is lvAsyncOperation, followed by
// the job's own data; sets the type, the handle identifier, the step and free functions;
// then links it (AddAsyncOperation) when the script asked for "async", or runs it
// (RunAsyncToCompletion). The block is released here, after the job's free function.
// Script thread only; no locks.
//
// Depends on: platform/lvplatform.h (allocator, sleep), runtime/objects.h (object header,
// user data), base/lverrors.h. The script machine is reached only through the hooks
// below, so the engine runs and is tested without it.
#pragma once
#include "runtime/objects.h"

struct lvState;
struct lvAsyncOperation;

// Object type number of async operations (the ASYNCOBJ constant).
enum { LV_ASYNCOBJ = 61 };

// One step: ERR_USERABORT when the job has finished; another code of 1000 or more for an
// error; otherwise the number of results (0..999) pushed for the script, with *done set
// when the job has finished.
typedef int (*lvAsyncStepFunction)(lvState *state, lvAsyncOperation *operation, int *done);
// Releases what the job holds (files, connections, buffers), not the block itself.
typedef void (*lvAsyncFreeFunction)(lvState *state, lvAsyncOperation *operation);

// The head of every async operation block.
struct lvAsyncOperation {
    lvObjectHeader header;       // type 61; identifier 0 and handle = the block's address
    int sleepFlag;               // RunAsyncToCompletion sleeps 1 ms after unfinished steps
    lvAsyncStepFunction step;    // advances the job
    lvAsyncFreeFunction free;    // releases the job's resources
    int stepping;                // a step of this operation is running (callbacks may run)
    int cancelled;               // cancelled during its own step: released when the step returns
};

// What the engine needs of the runtime.
struct lvAsyncHooks {
    // Takes in pending window changes between steps (mode 2: no plug-in hooks run);
    // 0 or a code that ends the run (ERR_USERABORT for a quit). nullptr: nothing polled.
    int (*PollEvents)(lvState *state, int mode);
    // How user-data references are released when an operation goes. nullptr: none held.
    const lvRefOps *refOps;
};

// Installs the hooks (nullptr restores the defaults).
void SetAsyncHooks(const lvAsyncHooks *hooks);

// Fills the head of a new zeroed block: type 61, a handle identifier, the functions.
// Inline, so producers in other libraries need only this header to build their jobs.
inline void InitAsyncOperation(lvAsyncOperation *operation, lvAsyncStepFunction step, lvAsyncFreeFunction free,
                               int sleepFlag)
{
    InitObjectHeader(&operation->header, LV_ASYNCOBJ, 0, true);
    operation->step = step;
    operation->free = free;
    operation->sleepFlag = sleepFlag;
}
// Appends the operation to the list; returns 1 (the command pushes the handle,
// GetObjectIdOf(&operation->header), as its one result).
int AddAsyncOperation(lvAsyncOperation *operation);
// Steps the operation until it finishes, an error occurs or a step reports results,
// polling events between steps. Returns 0, an error code (ERR_USERABORT becomes 0) or
// the results count of the last step. The operation is always released before return.
int RunAsyncToCompletion(lvState *state, lvAsyncOperation *operation);
// The listed operation with this identifier: 0, or ERR_FINDARRAY for an unknown handle,
// ERR_FINDASYNCOBJ (number as the message argument) for a number.
int FindAsyncOperation(lvObjectId id, lvAsyncOperation **out);
// The engine of ContinueAsyncOperation: one step of a listed operation. Returns the
// step's results count (the command pushes *done below them) or an error code (the
// operation stays listed). A finished operation is removed. A call for an operation whose
// step is already running (from inside its own callback) is ERR_WRONGUSAGE; an operation
// cancelled during its step counts as done and is released.
int ContinueAsyncOperation(lvState *state, lvAsyncOperation *operation, int *done);
// CancelAsyncOperation: finds and removes the operation. 0 or FindAsyncOperation's error.
// An operation whose step is running (its callback cancels it) is unlisted at once and
// released when the step returns; the step sees AsyncStepCancelled and stops.
int CancelAsyncOperation(lvState *state, lvObjectId id);
// 1 when the operation whose step runs innermost on this thread was cancelled during it.
int AsyncStepCancelled(void);
// Unlinks the operation, calls its free function, releases its user data and the block.
void RemoveAsyncOperation(lvState *state, lvAsyncOperation *operation);
// Removes every listed operation in list order (shut-down); one whose step is running is
// only unlisted (its stepper releases it).
void FreeAsyncOperations(lvState *state);
// The list head (the object-type registry's list of type 61).
lvObjectHeader **GetAsyncOperationList(void);

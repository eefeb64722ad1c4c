// asyncop.cpp - the async operation list and its stepping (see asyncop.h).
//
// Depends on: platform/lvplatform.h (FreeMemory, SleepMilliseconds), runtime/objects.h,
// runtime/errors.h (message arguments).
// Limits: none; the list is walked linearly (operations are few).
#include "runtime/asyncop.h"

#include "platform/lvplatform.h"
#include "runtime/errors.h"
#include "base/lverrors.h"

// ============================================================================
// State
// ============================================================================

struct lvAsyncEngine {
    lvObjectHeader *head;        // listed operations in creation order
    lvAsyncHooks hooks;          // the runtime's services
    lvAsyncOperation *current;   // the operation whose step runs innermost, or null
};

static lvAsyncEngine asyncEngine = {nullptr, {nullptr, nullptr}, nullptr};

void SetAsyncHooks(const lvAsyncHooks *hooks)
{
    asyncEngine.hooks = hooks ? *hooks : lvAsyncHooks{nullptr, nullptr};
}

lvObjectHeader **GetAsyncOperationList(void)
{
    return &asyncEngine.head;
}

// ============================================================================
// The list
// ============================================================================

int AddAsyncOperation(lvAsyncOperation *operation)
{
    operation->header.next = nullptr;
    lvObjectHeader **link = &asyncEngine.head;
    while (*link) link = &(*link)->next;
    *link = &operation->header;
    return 1;
}

// Calls the free function and releases user data and the block (not listed any more).
static void ReleaseOperation(lvState *state, lvAsyncOperation *operation)
{
    if (operation->free) operation->free(state, operation);
    if (asyncEngine.hooks.refOps) FreeObjectUserData(&operation->header.userData, asyncEngine.hooks.refOps);
    FreeMemory(operation);
}

static void UnlinkOperation(lvAsyncOperation *operation)
{
    for (lvObjectHeader **link = &asyncEngine.head; *link; link = &(*link)->next) {
        if (*link == &operation->header) {
            *link = operation->header.next;
            break;
        }
    }
    operation->header.next = nullptr;
}

void RemoveAsyncOperation(lvState *state, lvAsyncOperation *operation)
{
    UnlinkOperation(operation);
    // A callback inside the operation's own step: freeing it now would pull the record
    // from under the running step, so its stepper releases it once the step returns.
    if (operation->stepping) {
        operation->cancelled = 1;
        return;
    }
    ReleaseOperation(state, operation);
}

void FreeAsyncOperations(lvState *state)
{
    while (asyncEngine.head) RemoveAsyncOperation(state, (lvAsyncOperation *)asyncEngine.head);
}

int AsyncStepCancelled(void)
{
    return asyncEngine.current && asyncEngine.current->cancelled;
}

// One step with the operation marked as running; the innermost running operation is
// restored afterwards (a callback may step another operation).
static int RunStep(lvState *state, lvAsyncOperation *operation, int *done)
{
    lvAsyncOperation *outer = asyncEngine.current;
    asyncEngine.current = operation;
    operation->stepping = 1;
    int rc = operation->step(state, operation, done);
    operation->stepping = 0;
    asyncEngine.current = outer;
    return rc;
}

int FindAsyncOperation(lvObjectId id, lvAsyncOperation **out)
{
    *out = nullptr;
    for (lvObjectHeader *h = asyncEngine.head; h; h = h->next) {
        if (ObjectIdMatches(h, id)) {
            *out = (lvAsyncOperation *)h;
            return 0;
        }
    }
    if (id.handle) return ERR_FINDARRAY;
    SetErrorNumberArg(id.number);
    return ERR_FINDASYNCOBJ;
}

// ============================================================================
// Stepping
// ============================================================================

int ContinueAsyncOperation(lvState *state, lvAsyncOperation *operation, int *done)
{
    *done = 0;
    if (operation->stepping) return ERR_WRONGUSAGE;
    int rc = RunStep(state, operation, done);
    if (operation->cancelled) {
        // Cancelled by its own callback: it is gone for the script, whatever the step said.
        ReleaseOperation(state, operation);
        *done = 1;
        return rc >= 1000 ? 0 : rc;
    }
    if (rc == ERR_USERABORT) {
        *done = 1;
        rc = 0;
    } else if (rc >= 1000) {
        *done = 0;
        return rc;
    }
    if (*done) RemoveAsyncOperation(state, operation);
    return rc;
}

int CancelAsyncOperation(lvState *state, lvObjectId id)
{
    lvAsyncOperation *operation;
    int rc = FindAsyncOperation(id, &operation);
    if (rc) return rc;
    RemoveAsyncOperation(state, operation);
    return 0;
}

int RunAsyncToCompletion(lvState *state, lvAsyncOperation *operation)
{
    int done = 0, rc;
    for (;;) {
        rc = RunStep(state, operation, &done);
        if (rc || operation->cancelled) break;
        if (asyncEngine.hooks.PollEvents) {
            rc = asyncEngine.hooks.PollEvents(state, 2);
            if (rc) break;
        }
        if (done) break;
        if (operation->sleepFlag) SleepMilliseconds(1);
    }
    if (rc == ERR_USERABORT) rc = 0;
    ReleaseOperation(state, operation);
    return rc;
}

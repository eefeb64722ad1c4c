// asyncop.cpp - the async operation list and its stepping (see asyncop.h).
//
// Depends on: platform/lvplatform.h (FreeMemory, SleepMilliseconds), runtime/objects.h,
// runtime/errors.h (message arguments).
// Limits: none; the list is walked linearly (operations are few).
#include "layers/asyncop.h"

#include "platform/lvplatform.h"
#include "runtime/errors.h"
#include "runtime/lverrors.h"

// ============================================================================
// State
// ============================================================================

struct lvAsyncEngine {
    lvObjectHeader *head;  // listed operations in creation order
    lvAsyncHooks hooks;    // the runtime's services
};

static lvAsyncEngine asyncEngine = {nullptr, {nullptr, nullptr}};

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

void RemoveAsyncOperation(lvState *state, lvAsyncOperation *operation)
{
    for (lvObjectHeader **link = &asyncEngine.head; *link; link = &(*link)->next) {
        if (*link == &operation->header) {
            *link = operation->header.next;
            break;
        }
    }
    ReleaseOperation(state, operation);
}

void FreeAsyncOperations(lvState *state)
{
    while (asyncEngine.head) RemoveAsyncOperation(state, (lvAsyncOperation *)asyncEngine.head);
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
    int rc = operation->step(state, operation, done);
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
        rc = operation->step(state, operation, &done);
        if (rc) break;
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

// error.cpp - raising and throwing error codes, protected runs, the run-wide
// record and the host services with their plain defaults.
//
// Depends on: lvobject.h. Errors travel as lvVMError (a code) thrown by C++;
// the innermost RunProtected catches them. Without a trap the panic function
// runs and the process ends with exit code 1.
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <new>

#include "vm/lvobject.h"

lvVMRun gVMRun;

void ResetVMRun()
{
    gVMRun.currentState = nullptr;
    gVMRun.errorInProgress = 0;
    gVMRun.protectedNesting = 0;
    gVMRun.gosubDepth = 0;
    gVMRun.jumpRequestOffset = 0;
    gVMRun.currentCallIndex = 0;
    gVMRun.stopRequest.store(0);
    gVMRun.attention.store(0);
    gVMRun.labelOwner = nullptr;
    gVMRun.errorLine = 0;
    gVMRun.errorFile[0] = 0;
    gVMRun.errorCommand[0] = 0;
    gVMRun.errorStringArg[0] = 0;
    gVMRun.errorNumberArg = 0;
    gVMRun.lastError = 0;
}

void RequestScriptStop(int on)
{
    gVMRun.stopRequest.store(on ? 1 : 0, std::memory_order_relaxed);
    if (on) gVMRun.attention.fetch_or(LV_ATTN_STOP, std::memory_order_relaxed);
    else gVMRun.attention.fetch_and(~LV_ATTN_STOP, std::memory_order_relaxed);
}

// ==== Host services: defaults ==============================================================

static void CopyText(char *dst, size_t cap, const char *src)
{
    size_t n = std::strlen(src);
    if (n >= cap) n = cap - 1;
    std::memcpy(dst, src, n);
    dst[n] = 0;
}

static void DefaultCollectErrorLocation(lvState *L, int line)
{
    // The nearest script function below gives file and line of a native error.
    gVMRun.errorFile[0] = 0;
    gVMRun.errorCommand[0] = 0;
    lvDebugInfo ar;
    if (L->ci->state & LV_CI_C) {
        if (GetStackLevel(L, 0, &ar) && GetDebugInfo(L, "n", &ar) && ar.name)
            CopyText(gVMRun.errorCommand, sizeof gVMRun.errorCommand, ar.name);
    }
    for (lvCallRecord *ci = L->ci; ci > L->baseCi; ci--) {
        if (ci->state & LV_CI_C) continue;
        lvClosure *cl = ClValue(StackAt(L, ci->base - 1));
        if (cl->p->source) CopyText(gVMRun.errorFile, sizeof gVMRun.errorFile, cl->p->source->Data());
        if (line == -1) line = GetCurrentLine(L, ci);
        break;
    }
    gVMRun.errorLine = line;
}

static void DefaultSetErrorStringArg(const char *text) { CopyText(gVMRun.errorStringArg, sizeof gVMRun.errorStringArg, text); }
static void DefaultSetErrorNumberArg(int n) { gVMRun.errorNumberArg = n; }
static void DefaultHandleCommandError(lvState *L, int code)
{
    gVMRun.lastError = code;
    RaiseError(L, code);
}
static void DefaultBeforeCommand(lvState *, lvCommandFunction) { gVMRun.lastError = 0; }
static int DefaultCanRunErrorHandler(lvState *) { return 0; }
static int DefaultRunErrorHandler(lvState *, int code) { return code; }
static void DefaultPrintOutput(const char *text) { std::fputs(text, stdout); }
static int DefaultTraceCalls() { return 0; }
static void DefaultLowerStrInPlace(char *text)
{
    for (; *text; text++)
        if (*text >= 'A' && *text <= 'Z') *text = static_cast<char>(*text + 32);
}
static int DefaultCollateStrings(const char *a, size_t la, const char *b, size_t lb)
{
    size_t n = la < lb ? la : lb;
    int r = std::memcmp(a, b, n);
    if (r != 0) return r;
    return la < lb ? -1 : (la > lb ? 1 : 0);
}

static const lvVMHost kDefaultHost = {
    DefaultCollectErrorLocation, DefaultSetErrorStringArg, DefaultSetErrorNumberArg, DefaultHandleCommandError,
    DefaultBeforeCommand, DefaultCanRunErrorHandler, DefaultRunErrorHandler, DefaultPrintOutput,
    DefaultTraceCalls, DefaultLowerStrInPlace, DefaultCollateStrings,
};
lvVMHost gVMHostActive = kDefaultHost;

void SetVMHost(const lvVMHost *host)
{
    gVMHostActive = kDefaultHost;
    if (!host) return;
#define LV_TAKE(slot) \
    if (host->slot) gVMHostActive.slot = host->slot
    LV_TAKE(CollectErrorLocation);
    LV_TAKE(SetErrorStringArg);
    LV_TAKE(SetErrorNumberArg);
    LV_TAKE(HandleCommandError);
    LV_TAKE(BeforeCommand);
    LV_TAKE(CanRunErrorHandler);
    LV_TAKE(RunErrorHandler);
    LV_TAKE(PrintOutput);
    LV_TAKE(TraceCalls);
    LV_TAKE(LowerStrInPlace);
    LV_TAKE(CollateStrings);
#undef LV_TAKE
}

const lvVMHost *GetVMHost() { return &gVMHostActive; }

void SetErrorString(const char *text) { gVMHostActive.SetErrorStringArg(text); }

// ==== Raising and throwing ====================================================================

void ThrowError(lvState *L, int code)
{
    gVMRun.errorInProgress = 1;
    if (L->errorJump) {
        L->errorJump->status = code;
        throw lvVMError{code};
    }
    // Raised on a state that runs nothing (a suspended coroutine a command works on):
    // the innermost protected run in progress, on whatever state, takes the error.
    lvState *running = gVMRun.currentState;
    if (running && running->errorJump) {
        running->errorJump->status = code;
        throw lvVMError{code};
    }
    if (L->G && L->G->panic) L->G->panic(L);
    std::exit(1);
}


void RaiseError(lvState *L, int code)
{
    int line = -1;
    if (!(L->ci->state & LV_CI_C)) line = GetCurrentLine(L, L->ci);
    gVMHostActive.CollectErrorLocation(L, line);
    ThrowError(L, code);
}

void RaiseNameError(lvState *L, const lvValue *slot, int code, const char *suffix)
{
    const char *name = nullptr;
    char buf[1024];
    if (slot >= L->base && slot < L->top && !(L->ci->state & LV_CI_C))
        GetVariableName(L, L->ci, static_cast<int>(slot - L->base), &name);
    if (!name) name = "??";
    std::snprintf(buf, sizeof buf, "%s%s", name, suffix);
    gVMHostActive.SetErrorStringArg(buf);
    RaiseError(L, code);
}

int RunProtected(lvState *L, lvProtectedFunction f, void *data)
{
    lvErrorJump lj;
    lj.status = 0;
    lj.previous = L->errorJump;
    L->errorJump = &lj;
    lvState *saved = gVMRun.currentState;
    gVMRun.currentState = L;
    try {
        f(L, data);
    } catch (const lvVMError &e) {
        lj.status = e.code;
    } catch (const std::bad_alloc &) {
        lj.status = ERR_MEM;
    } catch (const std::exception &) {
        lj.status = ERR_INTERNAL;
    }
    gVMRun.currentState = saved;
    L->errorJump = lj.previous;
    return lj.status;
}

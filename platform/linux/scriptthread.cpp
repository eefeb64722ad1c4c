// scriptthread.cpp - the thread that runs the applet's main chunk.
//
// The script runs on a thread of its own with an explicit native stack: the machine's
// calls nest on the native stack whenever a command calls back into the script, and a
// default thread stack is far too small for deep recursion. The calling thread waits for
// the script thread to end: start-up calls this from the main loop's own script thread
// (mainloop.cpp), whose stack size is the system's default.
//
// Depends on: nothing beyond pthreads and base/lverrors.h.
// Limits: one script thread at a time.
#include "platform/lvplatform.h"
#include "base/lverrors.h"
#include <pthread.h>

// ---- Thread entry -----------------------------------------------------------------------

// What the script thread is started with and hands back.
struct lvScriptThreadStart {
    lvScriptThreadBody body;  // the applet's main chunk
    void *state;              // its argument
    int result;               // the body's result
};

static void *ScriptThreadEntry(void *argument)
{
    lvScriptThreadStart *start = (lvScriptThreadStart *)argument;
    pthread_setname_np(pthread_self(), "script");
    try {
        start->result = start->body(start->state);
    } catch (...) {
        // No throw may cross the thread's entry; the body is expected to catch its own.
        start->result = ERR_INTERNAL;
    }
    return nullptr;
}

// ---- Running the script ---------------------------------------------------------------------

int RunScriptThread(lvScriptThreadBody body, void *state, size_t stackSize)
{
    if (!body) return ERR_WRONGUSAGE;
    if (stackSize < LV_SCRIPT_STACK_SIZE) stackSize = LV_SCRIPT_STACK_SIZE;
    lvScriptThreadStart start = {body, state, 0};
    pthread_attr_t attributes;
    if (pthread_attr_init(&attributes) != 0) return ERR_THREAD;
    pthread_t thread;
    int failed = pthread_attr_setstacksize(&attributes, stackSize) != 0 ||
                 pthread_create(&thread, &attributes, ScriptThreadEntry, &start) != 0;
    pthread_attr_destroy(&attributes);
    if (failed) return ERR_THREAD;
    pthread_join(thread, nullptr);
    return start.result;
}

// dirmonitor_engine.h - the engine behind MonitorDirectory: one monitor thread per
// directory handle, reporting changes through the system event queue.
//
// Simple mode posts SYSEVENT_DIRCHANGED with the monitor; detailed mode ("reportchanges")
// posts SYSEVENT_DIRCHANGEDETAIL with the monitor and an owned lvDirChange record. The
// thread never touches script state. Closing a monitor stops its thread (never hangs:
// the thread waits on its stop signal beside the directory) and withdraws the events
// still queued for it, so nothing is left pointing at a freed monitor.
//
// Depends on: platform/lvplatform.h (WatchDirectory, threads, events, locks),
// runtime/objects.h (lvRefOps), runtime/errors.h (message arguments).
#pragma once
#include "platform/lvplatform.h"
#include "runtime/objects.h"

// The monitor of one directory handle.
struct lvDirMonitor {
    lvThread *thread;            // the monitor thread
    char path[LV_PATH_SIZE];     // the directory's full path
    const int *ownerId;          // the identifier of the owning directory handle, or nullptr
    int all;                     // "all": every notice is reported
    int reportChanges;           // "reportchanges": one report per changed entry
    int userDataRef;             // reference of "userdata", -1 for none
};

// One entry change, posted with SYSEVENT_DIRCHANGEDETAIL (the event owns it).
struct lvDirChange {
    lvDirMonitor *monitor;  // the monitor that saw it
    int kind;               // LV_DIRCHANGE_ADD, _REMOVE or _CHANGE
    const char *name;       // the entry's name in script text (points at text)
    char text[1];           // the name and its terminator
};

// Starts a monitor of path (it must lock as a directory). 0 with *out, or
// ERR_MONITORDIR (path as the message argument). The monitor takes userDataRef only on
// success.
int StartDirMonitor(const char *path, int all, int reportChanges, int userDataRef, const int *ownerId,
                    lvDirMonitor **out);
// Stops the thread, withdraws the monitor's queued events, releases its userdata
// reference (ops may be nullptr) and frees it. nullptr is ignored.
void StopDirMonitor(lvDirMonitor *monitor, const lvRefOps *ops);

// dirmonitor_engine.cpp - MonitorDirectory's monitors (see dirmonitor_engine.h).
//
// Depends on: platform (WatchDirectory, StartThread, PostSystemEvent, DropSystemEvents,
// LockFSObject), runtime/errors.h.
// Limits: the path is taken as the lock reports it (LV_PATH_SIZE bytes).
#include "libs/dirmonitor_engine.h"

#include <cstring>

#include "runtime/errors.h"
#include "base/lverrors.h"

// ============================================================================
// The monitor thread
// ============================================================================

// What the thread needs besides the monitor: the directory in system form.
struct lvMonitorStart {
    lvDirMonitor *monitor;         // the monitor
    char systemPath[LV_PATH_SIZE]; // its directory as the system names it
};

static void MonitorChanged(void *context)
{
    PostSystemEvent(SYSEVENT_DIRCHANGED, (uintptr_t)context, 0, 0, 1, 0, 1);
}

static void MonitorEntryChanged(void *context, int kind, const char *name)
{
    size_t n = std::strlen(name);
    lvDirChange *change = (lvDirChange *)AllocMemory(sizeof(lvDirChange) + n, 0);
    if (!change) return;
    change->monitor = (lvDirMonitor *)context;
    change->kind = kind;
    std::memcpy(change->text, name, n + 1);
    change->name = change->text;
    PostSystemEvent(SYSEVENT_DIRCHANGEDETAIL, (uintptr_t)context, (uintptr_t)change, 0, 1, 0, 1);
}

static void MonitorThreadBody(lvThread *thread)
{
    const lvMonitorStart *start = (const lvMonitorStart *)EnterThread(thread)->userData;
    lvDirMonitor *monitor = start->monitor;
    lvDirWatchHandlers handlers = {monitor, MonitorChanged, MonitorEntryChanged};
    // The start record lives on the starter's stack until start-up is reported; the
    // path is copied before that.
    char systemPath[LV_PATH_SIZE];
    std::memcpy(systemPath, start->systemPath, sizeof systemPath);
    WatchDirectory(systemPath, monitor->reportChanges, monitor->all, &handlers, thread);
}

// ============================================================================
// Start and stop
// ============================================================================

int StartDirMonitor(const char *path, int all, int reportChanges, int userDataRef, const int *ownerId,
                    lvDirMonitor **out)
{
    *out = nullptr;
    SetErrorStringArg(path ? path : "");
    lvOsLock *lock = path && path[0] ? LockFSObject(path, LVOS_LOCK_READ | LVOS_LOCK_NOFILES) : nullptr;
    if (!lock) return ERR_MONITORDIR;
    lvDirMonitor *monitor = (lvDirMonitor *)AllocMemory(sizeof(lvDirMonitor), 1);
    lvMonitorStart start;
    bool ok = monitor && GetLockPath(lock, monitor->path, sizeof monitor->path) &&
              GetLockPath(lock, start.systemPath, sizeof start.systemPath);
    CloseFSObjLock(lock);
    if (!ok) {
        FreeMemory(monitor);
        return monitor ? ERR_MONITORDIR : ERR_MEM;
    }
    monitor->ownerId = ownerId;
    monitor->all = all ? 1 : 0;
    monitor->reportChanges = reportChanges ? 1 : 0;
    monitor->userDataRef = -1;
    start.monitor = monitor;
    int error = 0;
    monitor->thread = StartThread("dir monitor", MonitorThreadBody, &start, nullptr, 16384, 0, 0, &error);
    if (!monitor->thread) {
        FreeMemory(monitor);
        return ERR_MONITORDIR;
    }
    monitor->userDataRef = userDataRef;
    *out = monitor;
    return 0;
}

static int EventOfMonitor(const lvSystemEvent *event, void *context)
{
    return (event->type == SYSEVENT_DIRCHANGED || event->type == SYSEVENT_DIRCHANGEDETAIL) &&
           event->data1 == (uintptr_t)context;
}

void StopDirMonitor(lvDirMonitor *monitor, const lvRefOps *ops)
{
    if (!monitor) return;
    StopThread(monitor->thread);
    DropSystemEvents(EventOfMonitor, monitor);
    WithdrawQueuedCallbacks((uintptr_t)monitor);
    if (monitor->userDataRef >= 0 && ops && ops->release) ops->release(ops->context, monitor->userDataRef);
    FreeMemory(monitor);
}

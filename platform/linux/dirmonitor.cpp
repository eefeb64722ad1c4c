// dirmonitor.cpp - the body of the directory monitor thread, over inotify.
//
// The thread polls the inotify descriptor beside its stop signal, so closing a
// monitor never waits for a change to happen. Simple mode counts one notice per
// batch that the kernel hands over in one read; detailed mode reports each entry.
// Depends on: threads.cpp (stop signal), text.cpp (system text to script text),
// clock.cpp (the 100 ms rule runs on the steady clock).
// Limits: only the directory itself is watched, not its sub-directories; when the
// kernel's queue overflows, detailed mode reports nothing for the lost changes
// (the simple mode still sees a notice).
#include "platform/lvplatform.h"
#include "base/lverrors.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

// Changes of names, attributes, sizes and contents of the directory's entries.
static const uint32_t LV_WATCH_MASK =
    IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_MODIFY | IN_ATTRIB | IN_CLOSE_WRITE;

static int64_t SteadyMicros(void)
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (int64_t)ts.tv_sec * 1000000 + ts.tv_nsec / 1000;
}

static int KindOf(uint32_t mask)
{
    if (mask & (IN_CREATE | IN_MOVED_TO)) return LV_DIRCHANGE_ADD;
    if (mask & (IN_DELETE | IN_MOVED_FROM)) return LV_DIRCHANGE_REMOVE;
    return LV_DIRCHANGE_CHANGE;
}

// Hands the records of one read to the detailed handler.
static void ReportEntries(const char *buffer, ssize_t length, const lvDirWatchHandlers *handlers)
{
    char name[LV_PATH_SIZE];
    for (ssize_t at = 0; at + (ssize_t)sizeof(inotify_event) <= length;) {
        const inotify_event *e = (const inotify_event *)(buffer + at);
        at += (ssize_t)sizeof(inotify_event) + e->len;
        if (!e->len || !(e->mask & LV_WATCH_MASK)) continue;
        // A write reports IN_MODIFY for every block and IN_CLOSE_WRITE at the end:
        // the close alone would hide writes through a file kept open, so both count.
        if (!SystemToText(e->name, name, sizeof name, 0)) continue;
        handlers->EntryChanged(handlers->context, KindOf(e->mask), name);
    }
}

int WatchDirectory(const char *systemPath, int detailed, int everyChange, const lvDirWatchHandlers *handlers,
                   lvThread *thread)
{
    struct stat st;
    int fd = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    if (fd < 0 || stat(systemPath, &st) != 0 || !S_ISDIR(st.st_mode) ||
        inotify_add_watch(fd, systemPath, LV_WATCH_MASK | IN_ONLYDIR) < 0) {
        if (fd >= 0) close(fd);
        EndThread(thread, 1, ERR_MONITORDIR);
        return 0;
    }
    SignalThreadStarted(thread);
    alignas(inotify_event) char buffer[65536];
    bool seenNotice = false;
    int64_t previousNotice = 0;
    while (!CheckThreadStop(thread)) {
        struct pollfd p[2] = {{GetSignalDescriptor(thread->stopSignal), POLLIN, 0}, {fd, POLLIN, 0}};
        if (poll(p, 2, -1) < 0) continue;
        if (!(p[1].revents & POLLIN)) continue;
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EAGAIN || errno == EINTR) continue;
            break;  // the watch is gone (the directory's file system went away)
        }
        if (detailed) {
            ReportEntries(buffer, n, handlers);
            continue;
        }
        int64_t now = SteadyMicros();
        bool report = everyChange || !seenNotice || now - previousNotice >= 100000;
        seenNotice = true;
        previousNotice = now;
        if (report) handlers->Changed(handlers->context);
    }
    close(fd);
    while (!CheckThreadStop(thread)) {
        struct pollfd p = {GetSignalDescriptor(thread->stopSignal), POLLIN, 0};
        poll(&p, 1, -1);
    }
    EndThread(thread, 0, 0);
    return 1;
}

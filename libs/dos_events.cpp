// dos_events.cpp - what the script events of the dos library's records carry:
// RunFinished and RunOutput of program jobs, DirectoryChanged of monitors. The events
// engine asks through DescribeDosEvent and gets each field through its sink.
#include <cstring>

#include "libs/dirmonitor_engine.h"
#include "libs/dos_dirs.h"
#include "libs/lib_dos.h"
#include "libs/process_engine.h"

void DescribeDosEvent(int kind, uintptr_t first, void *payload, const lvDosEventFieldSink *sink)
{
    void *c = sink->context;
    if (kind == 25 || kind == 29) {
        const lvRunJob *job = kind == 25 ? reinterpret_cast<const lvRunJob *>(first)
                                         : (payload ? static_cast<lvOutputChunk *>(payload)->job : nullptr);
        if (!job) return;
        sink->Text(c, "program", job->program);
        sink->Text(c, "args", job->arguments ? job->arguments : "");
        if (kind == 25 && (job->flags & LV_RUN_RETURNCODE)) sink->Number(c, "returncode", job->exitCode.load());
        if (kind == 29) {
            auto *chunk = static_cast<lvOutputChunk *>(payload);
            // Without raw mode every byte that starts no valid UTF-8 sequence becomes '?';
            // the text keeps its length, so the chunk takes it in place.
            if (!(job->flags & LV_RUN_RAWMODE)) {
                if (char *text = MakeOutputText(chunk, 0)) {
                    std::memcpy(chunk->text, text, chunk->length);
                    FreeMemory(text);
                }
            }
            sink->Text(c, "output", chunk->text);
        }
        if (job->runUserData >= 0) sink->Reference(c, "runuserdata", job->runUserData);
        return;
    }
    if (kind == 26 || kind == 34) {
        const lvDirMonitor *monitor = kind == 26 ? reinterpret_cast<const lvDirMonitor *>(first)
                                                 : (payload ? static_cast<lvDirChange *>(payload)->monitor : nullptr);
        if (!monitor) return;
        lvObjectId id = MonitorOwnerId(monitor);
        sink->ObjectId(c, "id", id.number, id.handle);
        sink->Text(c, "directory", monitor->path);
        if (monitor->userDataRef >= 0) sink->Reference(c, "monitoruserdata", monitor->userDataRef);
        if (kind == 34) {
            auto *change = static_cast<lvDirChange *>(payload);
            sink->Number(c, "type", change->kind);
            sink->Text(c, "name", change->name);
        }
    }
}

int DosJobWantsReport(void *job) { return RunJobWantsReport(static_cast<lvRunJob *>(job)); }


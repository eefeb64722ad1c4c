// process_engine.cpp - program jobs for Execute and Run (see process_engine.h).
//
// Depends on: platform (threads, system events, RunProgram, RunProgramWithPipes,
// CreateTempFileName), runtime/vfile.h (copying linked programs), runtime/encoding.h
// (UTF-8 checks), runtime/errors.h (message arguments).
// Limits: one job thread per job; captured output grows in steps of 4096 bytes and is
// bounded only by memory.
#include "libs/process_engine.h"

#include <cstdio>
#include <cstring>
#include <new>
#include <strings.h>
#include <sys/stat.h>

#include "runtime/encoding.h"
#include "runtime/errors.h"
#include "base/lverrors.h"
#include "runtime/vfile.h"

// ============================================================================
// Engine state
// ============================================================================

// A temporary copy of a program linked into the applet.
struct lvProgramCopy {
    lvProgramCopy *next;              // next copy
    char path[LV_PATH_SIZE];          // the copy that runs (with the program's extension)
    char placeholder[LV_PATH_SIZE];   // the unique file that reserves the name, or ""
    char virtualName[LV_PATH_SIZE];   // the ":::chunk" name it copies
};

struct lvProcessEngine {
    lvRunJob *head;          // job list, start order
    lvRunJob *tail;          // last job
    lvProgramCopy *copies;   // copies of linked programs, deleted at close
};

static lvProcessEngine processEngine = {nullptr, nullptr, nullptr};

// ============================================================================
// Command lines and handler lists
// ============================================================================

int SplitCommandLine(const char *line, char *program, size_t size, const char **arguments)
{
    *arguments = nullptr;
    const char *start = line, *end;
    if (*line == '"') {
        start = line + 1;
        end = std::strchr(start, '"');
        if (!end) return ERR_WRONGUSAGE;
    } else {
        end = start;
        while (*end && *end != ' ') end++;
    }
    size_t n = (size_t)(end - start);
    if (n >= size) return ERR_MEM;
    std::memcpy(program, start, n);
    program[n] = 0;
    const char *rest = *end == '"' ? end + 1 : end;
    while (*rest == ' ') rest++;
    if (*rest) *arguments = rest;
    return 0;
}

int HandlerIgnored(const char *list, const char *handlerName)
{
    if (!list) return 0;
    size_t nameLength = std::strlen(handlerName);
    const char *p = list;
    while (*p) {
        const char *bar = std::strchr(p, '|');
        size_t n = bar ? (size_t)(bar - p) : std::strlen(p);
        if (n && n <= nameLength && strncasecmp(p, handlerName, n) == 0) return 1;
        if (!bar) break;
        p = bar + 1;
    }
    return 0;
}

// ============================================================================
// Linked programs
// ============================================================================

// The copy of a linked program, made on first use; 0 with its path, or an error.
static int GetProgramCopy(const char *virtualName, const char **pathOut)
{
    for (lvProgramCopy *c = processEngine.copies; c; c = c->next) {
        if (std::strcmp(c->virtualName, virtualName) == 0) {
            *pathOut = c->path;
            return 0;
        }
    }
    if (std::strlen(virtualName) >= LV_PATH_SIZE) return ERR_READFILE;
    lvProgramCopy *copy = (lvProgramCopy *)AllocMemory(sizeof(lvProgramCopy), 1);
    if (!copy) return ERR_MEM;
    if (!CreateTempFileName(copy->placeholder, sizeof copy->placeholder)) {
        FreeMemory(copy);
        SetErrorStringArg("");
        return ERR_WRITEFILE;
    }
    // The copy keeps the program's extension. The cut is at the last '.' of the file
    // part, so a temporary folder whose path holds a dot stays intact.
    std::memcpy(copy->path, copy->placeholder, sizeof copy->path);
    char *filePart = std::strrchr(copy->path, '/');
    filePart = filePart ? filePart + 1 : copy->path;
    if (char *dot = std::strrchr(filePart, '.')) *dot = 0;
    const char *name = FindFilePart(virtualName);
    const char *extension = std::strrchr(name, '.');
    if (extension) {
        size_t used = std::strlen(copy->path), n = std::strlen(extension);
        if (used + n >= sizeof copy->path) {
            DeleteFSObject(copy->placeholder);
            FreeMemory(copy);
            SetErrorStringArg(virtualName);
            return ERR_WRITEFILE;
        }
        std::memcpy(copy->path + used, extension, n + 1);
    }
    // Without an extension the copy is the placeholder itself.
    if (std::strcmp(copy->path, copy->placeholder) == 0) copy->placeholder[0] = 0;
    std::memcpy(copy->virtualName, virtualName, std::strlen(virtualName) + 1);
    int rc = CopyVFileData(nullptr, virtualName, nullptr, nullptr, copy->path);
    if (rc == 0) {
        char system[LV_PATH_SIZE];
        if (ToSystemPath(copy->path, system, sizeof system, 1)) chmod(system, 0700);
    }
    if (rc) {
        DeleteFSObject(copy->path);
        if (copy->placeholder[0]) DeleteFSObject(copy->placeholder);
        FreeMemory(copy);
        return rc;
    }
    copy->next = processEngine.copies;
    processEngine.copies = copy;
    *pathOut = copy->path;
    return 0;
}

static void DeleteProgramCopies(void)
{
    while (lvProgramCopy *c = processEngine.copies) {
        processEngine.copies = c->next;
        DeleteFSObject(c->path);
        if (c->placeholder[0]) DeleteFSObject(c->placeholder);
        FreeMemory(c);
    }
}

// ============================================================================
// The job thread
// ============================================================================

static void JobOutput(void *context, const uint8_t *bytes, size_t count)
{
    lvRunJob *job = (lvRunJob *)context;
    if (job->flags & LV_RUN_CAPTUREOUTPUT) {
        size_t need = job->outputLength + count;
        if (need > job->outputCapacity) {
            size_t capacity = job->outputCapacity + 4096;
            if (capacity < need) capacity = need;
            uint8_t *grown = (uint8_t *)AllocMemory(capacity, 0);
            if (!grown) return;  // no memory: this piece is lost, the job goes on
            if (job->outputLength) std::memcpy(grown, job->output, job->outputLength);
            FreeMemory(job->output);
            job->output = grown;
            job->outputCapacity = capacity;
        }
        std::memcpy(job->output + job->outputLength, bytes, count);
        job->outputLength += count;
        WakeMainLoop();
        return;
    }
    lvOutputChunk *chunk = (lvOutputChunk *)AllocMemory(sizeof(lvOutputChunk) + count, 0);
    if (!chunk) return;
    chunk->job = job;
    chunk->length = count;
    std::memcpy(chunk->text, bytes, count);
    chunk->text[count] = 0;
    PostSystemEvent(SYSEVENT_RUNOUTPUT, (uintptr_t)job, (uintptr_t)chunk, 0, 1, 0, 1);
}

static void JobEnded(void *context, int exitCode)
{
    lvRunJob *job = (lvRunJob *)context;
    job->exitCode.store(exitCode, std::memory_order_relaxed);
    if (job->waited) {
        job->finished.store(1, std::memory_order_release);
        RaiseSignal(job->endSignal);
        WakeMainLoop();
    } else {
        // Posted first: once the flag is set, every event of the job is queued.
        PostSystemEvent(SYSEVENT_RUNEXIT, (uintptr_t)job, 0, 0, 1, 0, 1);
        job->finished.store(1, std::memory_order_release);
    }
}

static void JobThreadBody(lvThread *thread)
{
    lvRunJob *job = (lvRunJob *)EnterThread(thread)->userData;
    lvProgramStart start = {job->program, job->arguments, job->directory, job->verb, job->flags, job->pipes};
    lvProgramHandlers handlers = {job, JobOutput, JobEnded};
    RunProgramWithPipes(&start, &handlers, thread);
}

// ============================================================================
// Jobs
// ============================================================================

static void FreeJobRecord(lvRunJob *job)
{
    FreeMemory(job->output);
    CloseSignal(job->endSignal);
    job->~lvRunJob();
    FreeMemory(job);
}

static lvRunJob *NewJob(const char *program, const char *arguments, const lvRunRequest *r, int flags, int pipes,
                        int ignoreRunFinished)
{
    size_t programSize = std::strlen(program) + 1;
    size_t argumentSize = arguments ? std::strlen(arguments) + 1 : 0;
    void *block = AllocMemory(sizeof(lvRunJob) + programSize + argumentSize, 1);
    if (!block) return nullptr;
    lvRunJob *job = new (block) lvRunJob();
    job->program = (char *)(job + 1);
    std::memcpy(job->program, program, programSize);
    if (arguments) {
        job->arguments = job->program + programSize;
        std::memcpy(job->arguments, arguments, argumentSize);
    }
    if (r->verb) snprintf(job->verb, sizeof job->verb, "%s", r->verb);
    if (r->directory) snprintf(job->directory, sizeof job->directory, "%s", r->directory);
    job->runUserData = r->runUserData;
    job->flags = flags;
    job->pipes = pipes;
    job->ignoreRunFinished = ignoreRunFinished;
    job->exitCode.store(0, std::memory_order_relaxed);
    job->endSignal = NewSignal();
    if (!job->endSignal) {
        FreeJobRecord(job);
        return nullptr;
    }
    return job;
}

static void LinkJob(lvRunJob *job)
{
    job->next = nullptr;
    if (processEngine.tail) processEngine.tail->next = job;
    else processEngine.head = job;
    processEngine.tail = job;
}

static void UnlinkJob(lvRunJob *job)
{
    lvRunJob *previous = nullptr;
    for (lvRunJob *j = processEngine.head; j; previous = j, j = j->next) {
        if (j != job) continue;
        if (previous) previous->next = j->next;
        else processEngine.head = j->next;
        if (processEngine.tail == j) processEngine.tail = previous;
        return;
    }
}

void ReleaseRunJob(lvRunJob *job, const lvRefOps *ops)
{
    if (!job) return;
    UnlinkJob(job);
    StopThread(job->thread);
    if (job->runUserData >= 0 && ops && ops->release) ops->release(ops->context, job->runUserData);
    WithdrawQueuedCallbacks((uintptr_t)job);
    FreeJobRecord(job);
}

// Queued events that point at a job of the list being freed.
static int EventOfJob(const lvSystemEvent *event, void *context)
{
    if (event->type != SYSEVENT_RUNEXIT && event->type != SYSEVENT_RUNOUTPUT) return 0;
    for (lvRunJob *j = (lvRunJob *)context; j; j = j->next)
        if (event->data1 == (uintptr_t)j) return 1;
    return 0;
}

void FreeRunJobs(const lvRefOps *ops)
{
    // Stop every thread first, so nothing posts for these jobs any more; then take back
    // what they posted before the records go.
    for (lvRunJob *j = processEngine.head; j; j = j->next) {
        StopThread(j->thread);
        j->thread = nullptr;
    }
    if (processEngine.head) DropSystemEvents(EventOfJob, processEngine.head);
    while (processEngine.head) ReleaseRunJob(processEngine.head, ops);
    DeleteProgramCopies();
}

lvRunJob *FirstRunJob(void)
{
    return processEngine.head;
}

int RunJobWantsReport(const lvRunJob *job)
{
    return job && !job->ignoreRunFinished;
}

char *MakeOutputText(const lvOutputChunk *chunk, int rawMode)
{
    char *text = (char *)AllocMemory(chunk->length + 1, 0);
    if (!text) return nullptr;
    if (rawMode) {
        std::memcpy(text, chunk->text, chunk->length + 1);
        return text;
    }
    size_t out = 0;
    for (size_t at = 0; at < chunk->length;) {
        unsigned char lead = (unsigned char)chunk->text[at];
        size_t n = lead < 0x80 ? 1 : (lead & 0xE0) == 0xC0 ? 2 : (lead & 0xF0) == 0xE0 ? 3 : (lead & 0xF8) == 0xF0 ? 4 : 0;
        if (n && at + n <= chunk->length && (n == 1 || ValidateUtf8(chunk->text + at, n, nullptr))) {
            std::memcpy(text + out, chunk->text + at, n);
            out += n;
            at += n;
        } else {
            text[out++] = '?';
            at++;
        }
    }
    text[out] = 0;
    return text;
}

// ============================================================================
// Execute and Run
// ============================================================================

int StartProgram(const lvRunRequest *r, lvRunOutcome *outcome)
{
    std::memset(outcome, 0, sizeof *outcome);
    int ignoreFinished = HandlerIgnored(r->ignoreHandlers, "runfinished");
    int ignoreOutput = HandlerIgnored(r->ignoreHandlers, "runoutput");
    int reportFinished = r->haveRunFinishedHandler && !ignoreFinished;
    int reportOutput = r->haveRunOutputHandler && !ignoreOutput;
    int flags = 0;
    if (r->isRun || r->captureOutput) flags |= LV_RUN_NOWAIT;
    if (r->forceExe) flags |= LV_RUN_FORCEEXE;
    if (r->rawMode) flags |= LV_RUN_RAWMODE;
    if (r->hide) flags |= LV_RUN_HIDE;
    if (r->consoleMode) flags |= LV_RUN_CONSOLEMODE;
    if (r->captureOutput) flags |= LV_RUN_CAPTUREOUTPUT;
    if (r->returnCode && reportFinished) flags |= LV_RUN_RETURNCODE;

    if (!r->program || !r->program[0]) return ERR_WRONGUSAGE;
    const char *directory = r->directory && r->directory[0] ? r->directory : nullptr;
    if (directory) {
        lvOsLock *lock = LockFSObject(directory, LVOS_LOCK_READ);
        if (!lock) {
            SetErrorStringArg(directory);
            return ERR_LOCK2;
        }
        CloseFSObjLock(lock);
    }
    char split[LV_PATH_SIZE];
    const char *program = r->program;
    const char *arguments = r->arguments && r->arguments[0] ? r->arguments : nullptr;
    if (!r->arguments) {
        int rc = SplitCommandLine(r->program, split, sizeof split, &arguments);
        if (rc) return rc;
        if (!split[0]) return ERR_WRONGUSAGE;
        program = split;
    }
    if (IsChunkName(program)) {
        int rc = GetProgramCopy(program, &program);
        if (rc) return rc;
    }

    // Execute always waits through a job, so that the wait can see a stop request; the
    // program's own wait (RunProgram) would block until it ends.
    bool useJob = r->isRun ? (reportFinished || reportOutput) : true;
    if (!useJob) {
        int rc = RunProgram(program, arguments, directory, r->verb, flags);
        if (rc == ERR_LOCK2) SetErrorStringArg(directory ? directory : "");
        return rc;
    }
    lvRunRequest stored = *r;
    stored.directory = directory;
    lvRunJob *job = NewJob(program, arguments, &stored, flags, r->isRun ? reportOutput : r->captureOutput,
                           ignoreFinished);
    if (!job) return ERR_MEM;
    job->waited = !r->isRun;
    int error = ERR_THREAD;
    job->thread = StartThread("program job", JobThreadBody, job, nullptr, 16384, 0, 0, &error);
    if (!job->thread) {
        // The program never started: the caller must hear of it, not get empty results.
        job->runUserData = -1;  // still the caller's
        FreeJobRecord(job);
        if (error == ERR_LOCK2) SetErrorStringArg(directory ? directory : "");
        return error ? error : ERR_THREAD;
    }
    LinkJob(job);
    outcome->userDataTaken = 1;
    if (r->isRun) {
        outcome->job = job;
        return 0;
    }
    while (!job->finished.load(std::memory_order_acquire)) {
        if (r->WaitEvents) {
            int rc = r->WaitEvents(r->waitContext);
            if (rc) return rc;  // the job stays listed and ends with the library
        } else {
            WaitSignalTimeout(job->endSignal, 1000);
        }
    }
    outcome->captured = r->captureOutput != 0;
    outcome->exitCode = job->exitCode.load(std::memory_order_relaxed);
    outcome->output = job->output;
    outcome->outputLength = job->outputLength;
    job->output = nullptr;
    job->outputLength = job->outputCapacity = 0;
    // Execute's userdata stays the caller's, who releases it.
    outcome->userDataTaken = 0;
    job->runUserData = -1;
    ReleaseRunJob(job, nullptr);
    return 0;
}

// network_io.cpp - the send and receive engines over a connection: pieces of at most
// 8192 bytes, the buffered receive in three modes into four kinds of destination, and
// the stepped mode of transfers.
//
// Between attempts the loops pause for at most 1 ms in poll() on the socket, so data
// ends the pause at once; adapter connections sleep. Every pass looks at the quit flag
// and lets events in unless the connection says otherwise.
// Depends on: comm/network.h, runtime/vfile.h (file destinations), runtime/lvplugin.h.
#include "comm/network.h"
#include "comm/network_internal.h"

#include <cstring>

#include "base/lverrors.h"
#include "runtime/lvplugin.h"
#include "runtime/vfile.h"
#include "vm/lvvm.h"

static double Now(void)
{
    return GetEpochSeconds(0);
}

// The pause between attempts: readiness of the socket ends it early.
static void PauseBetweenAttempts(lvConnection *c, int flags)
{
    lvSocket *s = ConnectionSocket(c);
    PauseForSocket(s ? s->socket : -1, flags, 1);
}

void WaitForConnectionData(lvConnection *c, int milliseconds)
{
    lvSocket *s = ConnectionSocket(c);
    PauseForSocket(s ? s->socket : -1, 1, milliseconds);
}

// True when the network time-out (if any) has passed since `since`.
static bool TimedOutSince(double since)
{
    uint32_t limit = GetNetworkLibrary()->timeout;
    return limit && (Now() - since) * 1000.0 >= (double)limit;
}

int BeginReadDeadline(lvConnection *c)
{
    uint32_t limit = GetNetworkLibrary()->timeout;
    if (c->deadline > 0 || !limit) return 0;
    c->deadline = Now() + limit / 1000.0;
    return 1;
}

void EndReadDeadline(lvConnection *c, int began)
{
    if (began) c->deadline = 0;
}

static const char *ConnectionErrorText(lvConnection *c, int code)
{
    lvSocket *s = ConnectionSocket(c);
    if (s) return s->io.ErrorText(s->io.context, code);
    return GetShortSocketErrorText(code);
}

// ============================================================================
// Sending
// ============================================================================

int SendBlocks(lvConnection *c, const void *data, size_t length, size_t *sent)
{
    *sent = 0;
    const uint8_t *bytes = (const uint8_t *)data;
    int result = 0;
    while (*sent < length && result == 0) {
        if (!c->noEventPolling) {
            if (int code = NetPollEvents()) return code;
        }
        size_t piece = length - *sent < (size_t)LV_NET_BUFFER_SIZE ? length - *sent : (size_t)LV_NET_BUFFER_SIZE;
        size_t went = 0;
        if (c->adapter) {
            int n = 0;
            int r = ((lvSendDataFunction)c->adapter->SendData)(c->handle, bytes + *sent, (int)piece, &n, 0);
            if (r == LVP_NET_SENDTIMEOUT) r = -1;
            else if (r) c->error = r;
            went = r == 0 && n > 0 ? (size_t)n : 0;
            result = r;
        } else {
            lvSocket *s = (lvSocket *)c->handle;
            result = s->io.Send(s->io.context, bytes + *sent, piece, &went);
        }
        *sent += went;
        if (c->closePending) return -2;
        if (c->callback != -1 && went) {
            c->count += went;
            lvNetworkHooks *hooks = &GetNetworkLibrary()->hooks;
            if (int code = hooks->CallProgress(hooks->context, c)) return code;
        }
    }
    return result;
}

int SendWithTimeout(lvConnection *c, const void *data, size_t length, int nonBlocking, size_t *sent)
{
    *sent = 0;
    double lastProgress = Now();
    for (;;) {
        size_t went = 0;
        int r = SendBlocks(c, (const uint8_t *)data + *sent, length - *sent, &went);
        *sent += went;
        if (*sent >= length) return 0;
        if (went) lastProgress = Now();
        if (r != -1 || nonBlocking) return r;
        if (TimedOutSince(lastProgress)) return -1;
        if (NetQuitRequested()) return ERR_USERABORT;
        PauseBetweenAttempts(c, 2);
    }
}

int SendAllOrFail(lvConnection *c, const void *data, size_t length)
{
    size_t sent = 0;
    int r = SendWithTimeout(c, data, length, 0, &sent);
    if (NetQuitRequested()) return ERR_USERABORT;
    if (sent >= length) return 0;
    if (c->error) return c->error;
    if (r >= 1000 && r < LV_SOCKERR_INTR) return r;  // a callback's or event poll's error
    if (sent > 0) return ERR_SENDDATA;
    return SocketError(ConnectionErrorText(c, r));
}

// ============================================================================
// Receiving
// ============================================================================

static lvReceiveBuffer *ConnectionBuffer(lvConnection *c)
{
    return c->adapter ? c->adapterBuffer : &((lvSocket *)c->handle)->buffer;
}

int FillReceiveBuffer(lvConnection *c, uint8_t **unread, size_t *count)
{
    lvReceiveBuffer *b = ConnectionBuffer(c);
    int result = 0;
    if (b->first >= b->last) {
        b->first = b->last = 0;
        size_t got = 0;
        if (c->adapter) {
            int n = 0;
            int r = ((lvReceiveDataFunction)c->adapter->ReceiveData)(c->handle, b->data, LV_NET_BUFFER_SIZE, &n, 0);
            if (r == LVP_NET_RECVTIMEOUT) r = -1;
            else if (r == LVP_NET_RECVCLOSED) r = -2;
            else if (r) c->error = r;
            if (r == 0 && n > 0) got = n > LV_NET_BUFFER_SIZE ? (size_t)LV_NET_BUFFER_SIZE : (size_t)n;
            result = r;
        } else {
            result = b->io->Receive(b->io->context, b->data, LV_NET_BUFFER_SIZE, &got);
        }
        b->last = (uint32_t)got;
    }
    *unread = b->data + b->first;
    *count = b->last - b->first;
    return result;
}

// The string buffer of the last receive, kept for the next one: fresh memory costs a page
// fault a page, which would dominate a fast transfer.
static struct {
    uint8_t *data;
    size_t capacity;
} spareString;

enum { LV_NET_SPARE_LIMIT = 16 << 20 };

void ReleaseReceiveBuffer(lvReceiveDestination *d)
{
    if (d->kind == LV_DEST_STRING && d->data && d->capacity <= LV_NET_SPARE_LIMIT &&
        d->capacity >= spareString.capacity) {
        FreeMemory(spareString.data);
        spareString = {d->data, d->capacity};
    } else if (d->kind == LV_DEST_STRING) {
        FreeMemory(d->data);
    }
    d->data = nullptr;
    d->length = d->capacity = 0;
}

void FreeSpareReceiveBuffer(void)
{
    FreeMemory(spareString.data);
    spareString = {nullptr, 0};
}

// Makes room for `more` bytes: the string doubles, a growable block grows in steps.
static int Reserve(lvReceiveDestination *d, size_t more, bool stepGrowth)
{
    if (d->kind == LV_DEST_STRING && !d->data && spareString.data) {
        d->data = spareString.data;
        d->capacity = spareString.capacity;
        spareString = {nullptr, 0};
    }
    if (d->capacity - d->length >= more) return 0;
    if (d->kind == LV_DEST_MEMORY && !d->growable) return ERR_MEM;
    size_t wanted = d->length + more, capacity = d->capacity;
    // A growable block grows by half its size (never less than a step): a long body
    // costs linear copying, not quadratic.
    while (capacity < wanted)
        capacity = stepGrowth ? capacity + (capacity / 2 > LV_NET_MEMORY_STEP ? capacity / 2 : LV_NET_MEMORY_STEP)
                              : (capacity ? capacity * 2 : 16384);
    uint8_t *grown;
    if (d->kind == LV_DEST_MEMORY) {
        // realloc: a large block grows by remapping its pages, not by copying them
        grown = (uint8_t *)ResizeStringBlock((char *)d->data, capacity);
        if (!grown) return ERR_MEM;
    } else {
        grown = (uint8_t *)AllocMemory(capacity, 0);
        if (!grown) return ERR_MEM;
        if (d->length) std::memcpy(grown, d->data, d->length);
        FreeMemory(d->data);
    }
    d->data = grown;
    d->capacity = capacity;
    return 0;
}

// Stores bytes in the destination. 0 or an error.
static int Store(lvReceiveDestination *d, const uint8_t *bytes, size_t size, uint64_t totalAfter)
{
    switch (d->kind) {
    case LV_DEST_CALLBACK:
        return d->Callback(d->context, bytes, size, totalAfter);
    case LV_DEST_FILE: {
        int64_t written = WriteVFile(d->file, bytes, (int64_t)size);
        return written == (int64_t)size ? 0 : ERR_WRITE;
    }
    default:
        if (int r = Reserve(d, size, d->kind == LV_DEST_MEMORY)) return r;
        std::memcpy(d->data + d->length, bytes, size);
        d->length += size;
        return 0;
    }
}

// The outcome of a receive into memory or a file, once the loop ended unfinished.
static int TransferOutcome(lvConnection *c, int routine)
{
    if (NetQuitRequested()) return ERR_USERABORT;
    if (c->error) return c->error;
    if (routine == -2) return ERR_RECVCLOSED;
    if (routine == -1) return ERR_RECVTIMEOUT;
    if (routine >= 1000 && routine < LV_SOCKERR_INTR) return routine;
    return SocketError(ConnectionErrorText(c, routine));
}

int ReceiveBuffered(lvConnection *c, int mode, uint64_t count, int wait, lvReceiveDestination *d,
                    lvReceiveResult *out)
{
    out->count = 0;
    out->done = 0;
    lvReceiveStep *step = d->step;
    bool toScript = d->kind == LV_DEST_STRING || d->kind == LV_DEST_CALLBACK;
    uint64_t stored = step ? step->total : 0;  // bytes stored, the running total
    uint64_t taken = stored;                   // bytes taken out of the buffer
    double lastData = step && step->lastData > 0 ? step->lastData : Now();
    if (step) step->lastData = lastData;
    bool finished = false, lastPassData = false;
    int routine = 0;
    lvReceiveBuffer *buffer = ConnectionBuffer(c);
    for (;;) {
        if (!c->noEventPolling) {
            if (int code = NetPollEvents()) return code;
        } else if (NetQuitRequested()) {
            return ERR_USERABORT;
        }
        // Idle time alone never ends a read whose peer sends a byte now and then.
        if (c->deadline > 0 && Now() >= c->deadline) {
            routine = -1;
            break;
        }
        uint8_t *unread = nullptr;
        size_t available = 0;
        routine = FillReceiveBuffer(c, &unread, &available);
        if (available > 0) {
            size_t take = available, consumed = available, keep = available;
            if (mode == LV_RECEIVEBYTES) {
                uint64_t missing = count - stored;
                if ((uint64_t)take > missing) take = consumed = keep = (size_t)missing;
            } else if (mode == LV_RECEIVELINE) {
                const uint8_t *lf = (const uint8_t *)std::memchr(unread, '\n', available);
                if (lf) {
                    consumed = (size_t)(lf - unread) + 1;
                    keep = consumed - 1;
                    finished = true;
                }
                take = keep;
            }
            // Lines drop carriage returns; the other modes store what they take.
            int r = 0;
            if (mode == LV_RECEIVELINE) {
                for (size_t i = 0; i < take && !r; i++) {
                    if (unread[i] == '\r') continue;
                    r = Store(d, unread + i, 1, stored + 1);
                    if (!r) stored++;
                }
            } else if (take) {
                r = Store(d, unread, take, stored + take);
                if (!r) stored += take;
            }
            if (r) return r;
            if (c->closePending) break;
            buffer->first += (uint32_t)consumed;
            if (buffer->first >= buffer->last) buffer->first = buffer->last = 0;
            taken += consumed;
            if (c->callback != -1) {
                c->count += consumed;
                lvNetworkHooks *hooks = &GetNetworkLibrary()->hooks;
                if (int code = hooks->CallProgress(hooks->context, c)) return code;
            }
            lastData = Now();
            if (mode == LV_RECEIVEBYTES && stored >= count) finished = true;
            if (step) {
                lastPassData = true;
                step->total = stored;
                step->lastData = lastData;
                if (finished) step->done = 1;
                break;
            }
            if (finished) break;
            continue;
        }
        if (routine != -1 || !wait) break;
        if (TimedOutSince(lastData)) break;
        if (step) return 0;  // the step runner calls again
        PauseBetweenAttempts(c, 1);
    }
    if (step && lastPassData) return 0;  // step->done tells whether the body is complete
    if (mode == LV_RECEIVEALL && routine == -2 && taken > 0) {
        finished = true;
        if (step) step->done = 1;
    }
    if (mode == LV_RECEIVELINE && d->kind == LV_DEST_MEMORY && finished) {
        // The line ends with a zero byte that is not counted.
        if (int r = Reserve(d, 1, true)) return r;
        d->data[d->length] = 0;
    }
    out->count = stored;
    out->done = mode == LV_RECEIVEALL ? (finished ? 1 : 0) : 1;
    if (toScript) return NetQuitRequested() ? ERR_USERABORT : 0;
    if (finished) return 0;
    return TransferOutcome(c, routine);
}

// ============================================================================
// The commands' engines
// ============================================================================

int SendNetworkData(lvObjectId id, const void *data, size_t length, size_t *sent)
{
    *sent = 0;
    lvNetworkNode *node = nullptr;
    if (int r = FindConnection(id, &node)) return r;
    if (length == 0) return 0;
    // A time-out, a gone peer or an abort shows only in the count.
    NodeConnection(node)->inUse++;
    SendWithTimeout(NodeConnection(node), data, length, 0, sent);
    FinishConnectionUse(node);
    return 0;
}

int ReceiveNetworkData(lvObjectId id, int mode, uint64_t count, int wait, lvReceiveDestination *destination,
                       lvReceiveResult *result)
{
    result->count = 0;
    result->done = 0;
    if (mode != LV_RECEIVEALL && mode != LV_RECEIVEBYTES && mode != LV_RECEIVELINE) return ERR_WRONGUSAGE;
    if (mode == LV_RECEIVEBYTES && count < 1) return ERR_WRONGUSAGE;
    lvNetworkNode *node = nullptr;
    if (int r = FindConnection(id, &node)) return r;
    NodeConnection(node)->inUse++;
    int r = ReceiveBuffered(NodeConnection(node), mode, count, mode == LV_RECEIVEALL ? wait : 1, destination, result);
    if (r == 0) node->dataWaiting = 0;
    FinishConnectionUse(node);
    return r;
}

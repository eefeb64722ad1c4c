// network_events.cpp - the readiness polls behind OnReceiveUDPData, OnConnect,
// OnReceiveData and OnDisconnect, and the network pass of the event gathering.
//
// No thread watches a socket: the gathering calls GatherNetworkEvents once per pass on
// the script thread, and each poll is one non-blocking peek or accept. The records
// carry the node in related1 (so removing the node can cancel them) and the
// identifiers by value, so a callback that runs after its object closed still names it.
// Depends on: comm/network.h, ui/events.h.
#include "comm/network.h"
#include "comm/network_internal.h"

#include <cstring>

#include "ui/events.h"

static const lvSocketTimeout noWait = {0, 0, 0};

// Makes room for one more entry: the ring doubles, its entries in order from 0.
static bool GrowHold(lvUdpSocket *u)
{
    if (u->heldCount < u->heldSize) return true;
    if (u->heldSize >= LV_UDP_HOLD) return false;
    int size = u->heldSize ? u->heldSize * 2 : 1024;
    auto *ring = (lvUdpHeld *)AllocMemory(sizeof(lvUdpHeld) * (size_t)size, 1);
    if (!ring) return false;
    for (int i = 0; i < u->heldCount; i++) ring[i] = u->held[(u->heldFirst + i) % u->heldSize];
    FreeMemory(u->held);
    u->held = ring;
    u->heldSize = size;
    u->heldFirst = 0;
    return true;
}

void ReadAheadDatagrams(lvUdpSocket *u, int limit)
{
    if (u->socket == -1) return;
    uint8_t datagram[LV_NET_BUFFER_SIZE];  // not u->data: it may hold what the script is given
    for (int i = 0; i < limit && u->heldBytes < LV_UDP_HOLD_BYTES && GrowHold(u); i++) {
        size_t received = 0;
        lvSockAddr from;
        u->timeout.start = GetEpochSeconds(0);
        if (ReceiveSocketFrom(u->socket, datagram, sizeof datagram, &received, &from, &noWait) != 0) return;
        size_t bytes = sizeof from.length + from.length + received;
        uint8_t *block = (uint8_t *)AllocMemory(bytes, 0);
        if (!block) return;  // the datagram is lost, as the socket would have lost it
        std::memcpy(block, &from.length, sizeof from.length);
        std::memcpy(block + sizeof from.length, from.data, from.length);
        if (received) std::memcpy(block + sizeof from.length + from.length, datagram, received);
        u->held[(u->heldFirst + u->heldCount) % u->heldSize] = {block, received};
        u->heldCount++;
        u->heldBytes += bytes;
    }
}

int TakeHeldDatagram(lvUdpSocket *u, uint8_t *buffer, size_t size, size_t *length, lvSockAddr *from)
{
    if (u->heldCount == 0) return 0;
    lvUdpHeld *h = &u->held[u->heldFirst];
    *from = {};
    std::memcpy(&from->length, h->block, sizeof from->length);
    std::memcpy(from->data, h->block + sizeof from->length, from->length);
    *length = h->length < size ? h->length : size;
    if (*length) std::memcpy(buffer, h->block + sizeof from->length + from->length, *length);
    u->heldBytes -= sizeof from->length + from->length + h->length;
    FreeMemory(h->block);
    *h = {nullptr, 0};
    u->heldFirst = (u->heldFirst + 1) % u->heldSize;
    u->heldCount--;
    return 1;
}

void FreeHeldDatagrams(lvUdpSocket *u)
{
    for (int i = 0; i < u->heldCount; i++) FreeMemory(u->held[(u->heldFirst + i) % u->heldSize].block);
    FreeMemory(u->held);
    u->held = nullptr;
    u->heldSize = u->heldFirst = u->heldCount = 0;
    u->heldBytes = 0;
}

int PollUdpData(lvNetworkNode *node)
{
    lvUdpSocket *u = (lvUdpSocket *)node->payload;
    ReadAheadDatagrams(u, LV_UDP_READ_AHEAD);
    // At most LV_UDP_PASS_READS announced and not yet read: the other events are served
    // between, and the callback queue stays short while the hold absorbs a burst.
    int fresh = u->heldCount - node->dataWaiting, room = LV_UDP_PASS_READS - node->dataWaiting;
    if (fresh > room) fresh = room;
    if (fresh <= 0) return 0;
    node->dataWaiting += fresh;
    return fresh;
}

int PollServerAccept(lvNetworkNode *server, lvNetworkNode **client)
{
    *client = nullptr;
    lvSocket *listener = (lvSocket *)server->payload;
    listener->timeout.start = GetEpochSeconds(0);
    int descriptor = -1;
    if (AcceptSocket(listener->socket, &descriptor, nullptr, &listener->timeout) != 0) return 0;
    lvConnection *c = NewConnectionRecord();
    lvSocket *s = c ? WrapSocketDescriptor(descriptor, listener->family) : nullptr;
    if (!s) {
        FreeMemory(c);
        CloseSocketHandle(&descriptor);
        return 0;
    }
    s->timeout.block = s->timeout.total = 0;
    c->handle = s;
    if (LinkConnection(lvObjectId{0, nullptr}, 1, c, client) != 0) {
        FreeConnection(c);
        return 0;
    }
    return 1;
}

int PollConnectionData(lvNetworkNode *node)
{
    lvConnection *c = NodeConnection(node);
    if (c->adapter || node->dataWaiting || node->closed) return 0;
    lvSocket *s = (lvSocket *)c->handle;
    if (s->buffer.first < s->buffer.last) {
        node->dataWaiting = 1;
        return 1;
    }
    s->timeout.start = GetEpochSeconds(0);
    if (PeekSocket(s->socket, &noWait, 0) != 0) return 0;
    node->dataWaiting = 1;
    return 1;
}

int PollConnectionClosed(lvNetworkNode *node)
{
    lvConnection *c = NodeConnection(node);
    if (c->adapter || node->closed) return 0;
    lvSocket *s = (lvSocket *)c->handle;
    s->timeout.start = GetEpochSeconds(0);
    if (PeekSocket(s->socket, &noWait, 0) != -2) return 0;
    node->closed = 1;
    return 1;
}

static lvEventId EventIdOf(const lvNetworkNode *node)
{
    return lvEventId{(uintptr_t)(unsigned)node->header.identifier, (uintptr_t)node->header.handle};
}

// Queues one record of the kind for the node.
static int QueueNetworkRecord(int kind, const char *action, const lvHandlerSlot *slot, lvNetworkNode *node,
                              lvNetworkNode *client)
{
    lvEventCallback record;
    ClearCallbackRecord(&record);
    record.kind = kind;
    record.related1 = node;
    record.related2 = client;
    record.function = slot->function;
    record.userData = slot->userData;
    record.id = EventIdOf(node);
    if (client) record.b = (int64_t)(uintptr_t)client->header.handle;
    std::strncpy(record.action, action, sizeof record.action - 1);
    return QueueCallback(&record, 1);
}

int GatherNetworkEvents(lvState *)
{
    lvNetworkLibrary *lib = GetNetworkLibrary();
    int result = 0;
    const lvHandlerSlot *slot = GetGlobalHandler(GLOBAL_ONRECEIVEUDPDATA);
    if (slot->function != -1)
        for (lvObjectHeader *h = lib->udpObjects; h && !result; h = h->next)
            for (int fresh = PollUdpData((lvNetworkNode *)h); fresh > 0 && !result; fresh--)
                result = QueueNetworkRecord(CALLBACK_RECEIVEUDP, "OnReceiveUDPData", slot, (lvNetworkNode *)h, nullptr);
    if (result) return result;
    slot = GetGlobalHandler(GLOBAL_ONCONNECT);
    if (slot->function != -1)
        for (lvObjectHeader *h = lib->servers; h && !result; h = h->next) {
            lvNetworkNode *client = nullptr;
            if (PollServerAccept((lvNetworkNode *)h, &client))
                result = QueueNetworkRecord(CALLBACK_CONNECT, "OnConnect", slot, (lvNetworkNode *)h, client);
        }
    if (result) return result;
    slot = GetGlobalHandler(GLOBAL_ONRECEIVEDATA);
    if (slot->function != -1)
        for (lvObjectHeader *h = lib->clients; h && !result; h = h->next)
            if (PollConnectionData((lvNetworkNode *)h))
                result = QueueNetworkRecord(CALLBACK_RECEIVEDATA, "OnReceiveData", slot, (lvNetworkNode *)h, nullptr);
    if (result) return result;
    slot = GetGlobalHandler(GLOBAL_ONDISCONNECT);
    if (slot->function != -1)
        for (lvObjectHeader *h = lib->clients; h && !result; h = h->next)
            if (PollConnectionClosed((lvNetworkNode *)h))
                result = QueueNetworkRecord(CALLBACK_DISCONNECT, "OnDisconnect", slot, (lvNetworkNode *)h, nullptr);
    return result;
}

int NetworkEventsWatched(void)
{
    lvNetworkLibrary *lib = GetNetworkLibrary();
    if (lib->udpObjects && GetGlobalHandler(GLOBAL_ONRECEIVEUDPDATA)->function != -1) return 1;
    if (lib->servers && GetGlobalHandler(GLOBAL_ONCONNECT)->function != -1) return 1;
    return lib->clients && (GetGlobalHandler(GLOBAL_ONRECEIVEDATA)->function != -1 ||
                            GetGlobalHandler(GLOBAL_ONDISCONNECT)->function != -1);
}

void FillNetworkEventFields(lvState *, const lvEventCallback *record, lvEventMessage *message)
{
    if (record->kind == CALLBACK_CONNECT) {
        AddMessageObjectId(message, "serverid", record->id);
        AddMessageObjectId(message, "clientid", lvEventId{0, (uintptr_t)record->b});
        return;
    }
    SetMessageId(message, record->id, const_cast<lvEventCallback *>(record));
}

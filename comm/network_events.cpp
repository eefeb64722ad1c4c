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

int PollUdpData(lvNetworkNode *node)
{
    if (node->dataWaiting) return 0;
    lvUdpSocket *u = (lvUdpSocket *)node->payload;
    u->timeout.start = GetEpochSeconds(0);
    if (PeekSocket(u->socket, &noWait, 1) != 0) return 0;
    node->dataWaiting = 1;
    return 1;
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
            if (PollUdpData((lvNetworkNode *)h))
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

void FillNetworkEventFields(lvState *, const lvEventCallback *record, lvEventMessage *message)
{
    if (record->kind == CALLBACK_CONNECT) {
        AddMessageObjectId(message, "serverid", record->id);
        AddMessageObjectId(message, "clientid", lvEventId{0, (uintptr_t)record->b});
        return;
    }
    SetMessageId(message, record->id, const_cast<lvEventCallback *>(record));
}

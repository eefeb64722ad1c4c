// network_core.cpp - the network library's state, socket objects, connecting over an
// adapter plug-in or the built-in sockets, and the client list.
//
// Depends on: comm/network.h, runtime/vfile.h (adapter scans), runtime/lvplugin.h.
// Limits: script thread only.
#include "comm/network.h"
#include "comm/network_internal.h"

#include <cstdio>
#include <cstring>
#include <strings.h>

#include "runtime/errors.h"
#include "base/lverrors.h"
#include "runtime/lvplugin.h"
#include "runtime/vfile.h"

// ============================================================================
// Library state
// ============================================================================

static lvNetworkLibrary g_network;

lvNetworkLibrary *GetNetworkLibrary(void)
{
    return &g_network;
}

static int NoPoll(void *) { return 0; }
static int NoQuit(void *) { return 0; }
static int NoProgress(void *, lvConnection *) { return 0; }
static void NoCancel(void *, int, const void *) {}

int OpenNetworkLibrary(const lvRefOps *refOps, const lvNetworkHooks *hooks,
                       int (*clientAttribute)(lvState *, int, lvObjectId))
{
    g_network.refOps = refOps;
    g_network.timeout = LV_NET_DEFAULT_TIMEOUT;
    g_network.defaultProtocol = LV_IPV4;
    lvNetworkHooks h = hooks ? *hooks : lvNetworkHooks{};
    if (!h.PollEvents) h.PollEvents = NoPoll;
    if (!h.QuitRequested) h.QuitRequested = NoQuit;
    if (!h.CallProgress) h.CallProgress = NoProgress;
    if (!h.CancelCallbacks) h.CancelCallbacks = NoCancel;
    g_network.hooks = h;
    if (int r = RegisterObjectType(LV_NET_SERVER, "Servers", &g_network.servers, nullptr, nullptr, 0)) return r;
    if (int r = RegisterObjectType(LV_NET_CLIENT, "Clients", &g_network.clients, clientAttribute, nullptr, 0))
        return r;
    return RegisterObjectType(LV_NET_UDPOBJECT, "UDP Objects", &g_network.udpObjects, nullptr, nullptr, 0);
}

int StartNetwork(void)
{
    if (g_network.started) return 0;
    if (!InitNetwork()) return ERR_OPENSOCKET;
    g_network.started = 1;
    return 0;
}

int SocketError(const char *text)
{
    SetErrorStringArg(text);
    return ERR_SOCKET;
}

void SetNetworkTimeoutMs(uint32_t milliseconds)
{
    g_network.timeout = milliseconds;
}

void SetNetworkProtocol(int protocol)
{
    g_network.defaultProtocol = protocol;
}

int NetPollEvents(void)
{
    if (g_network.hooks.QuitRequested(g_network.hooks.context)) return ERR_USERABORT;
    return g_network.hooks.PollEvents(g_network.hooks.context);
}

int NetQuitRequested(void)
{
    return g_network.hooks.QuitRequested(g_network.hooks.context);
}

// ============================================================================
// Socket objects
// ============================================================================

static int SocketSend(void *context, const void *data, size_t length, size_t *sent)
{
    lvSocket *s = (lvSocket *)context;
    return SendSocket(s->socket, data, length, sent, &s->timeout);
}

static int SocketReceive(void *context, void *buffer, size_t size, size_t *received)
{
    lvSocket *s = (lvSocket *)context;
    return ReceiveSocket(s->socket, buffer, size, received, &s->timeout);
}

static const char *SocketErrorTextHook(void *, int code)
{
    return GetShortSocketErrorText(code);
}

// A zeroed socket object around an existing descriptor (or -1).
static lvSocket *AllocSocketObject(int descriptor, int family)
{
    lvSocket *s = (lvSocket *)AllocMemory(sizeof(lvSocket), 1);
    if (!s) return nullptr;
    s->socket = descriptor;
    s->family = family;
    s->io = {s, SocketSend, SocketReceive, SocketErrorTextHook};
    s->buffer.io = &s->io;
    s->timeout = {-1, -1, 0};
    return s;
}

lvSocket *WrapSocketDescriptor(int descriptor, int family)
{
    return AllocSocketObject(descriptor, family);
}

int NewSocketObject(int family, lvSocket **out)
{
    *out = nullptr;
    lvSocket *s = AllocSocketObject(-1, family);
    if (!s) return ERR_MEM;
    if (family != LV_FAMILY_ANY) {
        if (int r = CreateSocket(&s->socket, family, LV_SOCKET_STREAM)) {
            FreeMemory(s);
            return SocketError(GetShortSocketErrorText(r));
        }
    }
    *out = s;
    return 0;
}

void FreeSocketObject(lvSocket *socket)
{
    if (!socket) return;
    CloseSocketHandle(&socket->socket);
    FreeMemory(socket);
}

// The event poll of a pending connect: the quit flag ends it too.
static int ConnectPoll(void *)
{
    return NetPollEvents();
}

int SocketForAddress(int *descriptor, int *family, const lvResolvedAddress *address, int type)
{
    if (*descriptor != -1 && address->family == *family) return 0;
    CloseSocketHandle(descriptor);
    if (int made = CreateSocket(descriptor, address->family, type)) return made;
    *family = address->family;
    return 0;
}

int TryConnectAddresses(int *descriptor, int *family, const char *host, const char *port, int type,
                        uint32_t milliseconds, int *lookupError, int *pollCode)
{
    *lookupError = 0;
    *pollCode = 0;
    double start = GetEpochSeconds(0);
    lvResolvedAddress *list = nullptr;
    int r = ResolveAddress(host, port, *family, type, 0, &list);
    if (r) {
        *lookupError = r;
        return r;
    }
    int result = -1;
    for (lvResolvedAddress *a = list; a; a = a->next) {
        if (int made = SocketForAddress(descriptor, family, a, type)) {
            result = made;
            continue;
        }
        double elapsed = (GetEpochSeconds(0) - start) * 1000.0;
        uint32_t left = elapsed >= (double)milliseconds ? 0 : (uint32_t)((double)milliseconds - elapsed);
        result = ConnectSocket(*descriptor, &a->address, left, ConnectPoll, nullptr, pollCode);
        if (result == 0 || *pollCode) break;
        // A socket whose connect failed is not reused for the next address.
        CloseSocketHandle(descriptor);
        if ((GetEpochSeconds(0) - start) * 1000.0 >= (double)milliseconds) break;
    }
    FreeResolvedAddresses(list);
    return result;
}

// ============================================================================
// Connections
// ============================================================================

lvSocket *ConnectionSocket(const lvConnection *connection)
{
    return connection && !connection->adapter ? (lvSocket *)connection->handle : nullptr;
}

const char *ConnectionAdapterName(const lvConnection *connection)
{
    if (!connection->adapter) return "inbuilt";
    const lvPluginRecord *r = connection->adapter;
    return r->moduleName ? r->moduleName : r->name ? r->name : "";
}

lvConnection *NewConnectionRecord(void)
{
    lvConnection *c = (lvConnection *)AllocMemory(sizeof(lvConnection), 1);
    if (!c) return nullptr;
    c->callback = -1;
    c->userdata = -1;
    return c;
}

void FreeConnection(lvConnection *connection)
{
    if (!connection) return;
    FreeMemory(connection->adapterBuffer);
    if (connection->adapter) {
        if (connection->adapter->CloseConnection)
            ((lvCloseConnectionFunction)connection->adapter->CloseConnection)(connection->handle);
    } else {
        FreeSocketObject((lvSocket *)connection->handle);
    }
    FreeMemory(connection);
}

// Offers the connection to the network adapters of the list in order: 1 and the
// connection's adapter and handle set when one took it.
static int OfferToAdapters(lvConnection *c, const char *host, int port, const lvConnectOptions *options,
                           const char *list)
{
    lvAdapterScan scan;
    BeginAdapterScan(&scan, list, LV_PLUGINCAPS_NETWORKADAPTER, 0);
    lvPluginTag tags[40];
    for (int kind; (kind = NextAdapter(&scan)) != 0;) {
        if (kind != 3 || !scan.record || !scan.record->OpenConnection) continue;
        int n = 0;
        tags[n++] = {LVP_NETTAG_SSL, options->ssl ? 1 : 0};
        tags[n++] = {LVP_NETTAG_TIMEOUT, (intptr_t)g_network.timeout};
        tags[n++] = {LVP_NETTAG_ADAPTERWORD, (intptr_t)&c->adapterWord};
        bool transferTags = false;  // a transfer brings its own tag 15 ("verbose")
        for (const lvAdapterTag *t = options->extraTags; t && t->tag; t++)
            if (t->tag == LVP_NETTAG_TRANSFER) transferTags = true;
        if (!transferTags) tags[n++] = {LVP_NETTAG_TRANSFER, 0};
        if (options->userTags) tags[n++] = {LVP_NETTAG_USERTAGS, (intptr_t)options->userTags};
        for (const lvAdapterTag *t = options->extraTags; t && t->tag && n < 39; t++) tags[n++] = {t->tag, t->value};
        tags[n] = {0, 0};
        void *handle = ((lvOpenConnectionFunction)scan.record->OpenConnection)(host, port, tags);
        if (handle) {
            c->adapter = scan.record;
            c->handle = handle;
            return 1;
        }
    }
    return 0;
}

int ConnectToHost(const char *host, int port, const lvConnectOptions *options, lvConnection **out)
{
    *out = nullptr;
    lvConnection *c = NewConnectionRecord();
    if (!c) return ERR_MEM;
    char configured[256] = "";
    const char *list = options->adapterList;
    if (!list || !list[0] || strcasecmp(list, "default") == 0) {
        CopyDefaultAdapter(configured, sizeof configured, 1);
        list = configured;
    }
    if (OfferToAdapters(c, host, port, options, list)) {
        c->adapterBuffer = (lvReceiveBuffer *)AllocMemory(sizeof(lvReceiveBuffer), 1);
        if (!c->adapterBuffer) {
            FreeConnection(c);
            return ERR_MEM;
        }
        *out = c;
        return 0;
    }
    if (!AdapterListAccepts(list, "inbuilt", 1)) {
        FreeMemory(c);
        return SocketError("connection refused");
    }
    int family = options->protocol == LV_IPV4 ? LV_FAMILY_IPV4 : options->protocol == LV_IPV6 ? LV_FAMILY_IPV6 : 0;
    char portText[16];
    std::snprintf(portText, sizeof portText, "%d", port);
    lvSocket *s = nullptr;
    if (int r = NewSocketObject(family, &s)) {
        FreeMemory(c);
        return r;
    }
    s->timeout.block = s->timeout.total = 0;
    c->handle = s;
    int lookupError = 0, pollCode = 0;
    int r = TryConnectAddresses(&s->socket, &s->family, host, portText, LV_SOCKET_STREAM, g_network.timeout,
                                &lookupError, &pollCode);
    if (r == 0) {
        *out = c;
        return 0;
    }
    FreeConnection(c);
    if (NetQuitRequested()) return ERR_USERABORT;
    if (pollCode) return pollCode;
    return SocketError(lookupError ? GetAddrInfoErrorText(lookupError) : GetShortSocketErrorText(r));
}

// ============================================================================
// The object lists
// ============================================================================

lvObjectHeader **FindNodeLink(lvObjectHeader **head, lvObjectId id)
{
    for (lvObjectHeader **at = head; *at; at = &(*at)->next)
        if (ObjectIdMatches(*at, id)) return at;
    return nullptr;
}

int NodeLookupError(lvObjectId id, int findError)
{
    if (id.handle) return ERR_FINDARRAY;
    SetErrorNumberArg(id.number);
    return findError;
}

lvNetworkNode *NewNetworkNode(int type, lvObjectId id, int automatic, void *payload)
{
    lvNetworkNode *node = (lvNetworkNode *)AllocMemory(sizeof(lvNetworkNode), 1);
    if (!node) return nullptr;
    InitObjectHeader(&node->header, type, id.number, automatic != 0);
    node->payload = payload;
    return node;
}

void AppendNetworkNode(lvObjectHeader **head, lvNetworkNode *node)
{
    lvObjectHeader **at = head;
    while (*at) at = &(*at)->next;
    *at = &node->header;
    node->header.next = nullptr;
}

void FreeNodeUserData(lvNetworkNode *node)
{
    FreeObjectUserData(&node->header.userData, g_network.refOps);
}

lvConnection *NodeConnection(const lvNetworkNode *node)
{
    return (lvConnection *)node->payload;
}

int LinkConnection(lvObjectId id, int automatic, lvConnection *connection, lvNetworkNode **out)
{
    lvNetworkNode *node = NewNetworkNode(LV_NET_CLIENT, id, automatic, connection);
    if (!node) return ERR_MEM;
    AppendNetworkNode(&g_network.clients, node);
    if (out) *out = node;
    return 0;
}

int FindConnection(lvObjectId id, lvNetworkNode **out)
{
    lvObjectHeader **at = FindNodeLink(&g_network.clients, id);
    if (!at) return NodeLookupError(id, ERR_FINDCLIENT);
    *out = (lvNetworkNode *)*at;
    return 0;
}

static void FreeClientNode(lvNetworkNode *node)
{
    g_network.hooks.CancelCallbacks(g_network.hooks.context, 16, node);
    g_network.hooks.CancelCallbacks(g_network.hooks.context, 15, node);
    FreeConnection(NodeConnection(node));
    FreeNodeUserData(node);
    FreeMemory(node);
}

int RemoveConnection(lvObjectId id)
{
    lvObjectHeader **at = FindNodeLink(&g_network.clients, id);
    if (!at) return NodeLookupError(id, ERR_FINDCLIENT);
    lvNetworkNode *node = (lvNetworkNode *)*at;
    *at = node->header.next;
    lvConnection *c = NodeConnection(node);
    if (c->inUse) {
        // A callback of a running receive closed it: the command frees it when it returns.
        c->closePending = 1;
        return 0;
    }
    FreeClientNode(node);
    return 0;
}

void FinishConnectionUse(lvNetworkNode *node)
{
    lvConnection *c = NodeConnection(node);
    if (--c->inUse == 0 && c->closePending) FreeClientNode(node);
}

int OpenNetworkConnection(int number, int automatic, const char *host, int port, const lvConnectOptions *options,
                          lvNetworkNode **out)
{
    if (int r = StartNetwork()) return r;
    if (port < 1 || port > 65535) return ERR_WRONGUSAGE;
    lvObjectId id = {automatic ? 0 : number, nullptr};
    if (!automatic) {
        lvObjectHeader **at = FindNodeLink(&g_network.clients, id);
        if (at) RemoveConnection(id);
    }
    lvConnection *c = nullptr;
    if (int r = ConnectToHost(host, port, options, &c)) return r;
    if (int r = LinkConnection(id, automatic, c, out)) {
        FreeConnection(c);
        return r;
    }
    return 0;
}

void FreeNetworkObjects(void)
{
    lvObjectHeader *node = g_network.clients;
    g_network.clients = nullptr;
    while (node) {
        lvObjectHeader *next = node->next;
        FreeClientNode((lvNetworkNode *)node);
        node = next;
    }
    FreeServerAndUdpLists();
    FreeSpareReceiveBuffer();
    if (g_network.started) ExitNetwork();
    g_network.started = 0;
}

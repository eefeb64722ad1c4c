// network_servers.cpp - TCP servers (listening sockets; accepting happens in the event
// pass) and UDP objects with their datagrams.
//
// Depends on: comm/network.h, comm/network_internal.h.
// Limits: script thread only; nothing here waits: servers and UDP objects keep block
// and total time-outs of 0.
#include "comm/network.h"
#include "comm/network_internal.h"

#include <cstdio>
#include <cstring>

#include "base/lverrors.h"

static int FamilyOfProtocol(int protocol)
{
    return protocol == LV_IPV4 ? LV_FAMILY_IPV4 : protocol == LV_IPV6 ? LV_FAMILY_IPV6 : LV_FAMILY_ANY;
}

// ============================================================================
// Binding
// ============================================================================

// Binds *descriptor (made or remade per address family) to the first address of host
// and port that takes it. 0, a socket code, or a look-up code (*lookupError set).
static int TryBindAddresses(int *descriptor, int *family, const char *host, const char *port, int type,
                            int *lookupError)
{
    *lookupError = 0;
    lvResolvedAddress *list = nullptr;
    const char *name = host && std::strcmp(host, "*") == 0 ? nullptr : host;
    int r = ResolveAddress(name, port && port[0] ? port : "0", *family, type, LV_RESOLVE_PASSIVE, &list);
    if (r) {
        *lookupError = r;
        return r;
    }
    int result = LV_SOCKERR_ADDRNOTAVAIL;
    for (lvResolvedAddress *a = list; a; a = a->next) {
        if (int made = SocketForAddress(descriptor, family, a, type)) {
            result = made;
            continue;
        }
        if (type == LV_SOCKET_STREAM) SetSocketReuseAddress(*descriptor);
        result = BindSocket(*descriptor, &a->address);
        if (result == 0) break;
    }
    FreeResolvedAddresses(list);
    return result;
}

// A listening socket. 0, ERR_MEM or ERR_SOCKET; *bindFailed tells a bind or listen
// failure apart from the others.
static int OpenListeningSocket(int family, const char *host, const char *port, int backlog, lvSocket **out,
                               int *bindFailed)
{
    *out = nullptr;
    *bindFailed = 0;
    lvSocket *s = nullptr;
    if (int r = NewSocketObject(family, &s)) return r;
    if (s->socket != -1) SetSocketReuseAddress(s->socket);
    int lookupError = 0;
    int r = TryBindAddresses(&s->socket, &s->family, host, port, LV_SOCKET_STREAM, &lookupError);
    if (r == 0) {
        r = ListenSocket(s->socket, backlog);
        if (r) lookupError = 0;
    }
    if (r) {
        FreeSocketObject(s);
        *bindFailed = lookupError == 0;
        return SocketError(lookupError ? GetAddrInfoErrorText(lookupError) : GetShortSocketErrorText(r));
    }
    *out = s;
    return 0;
}

// ============================================================================
// Servers
// ============================================================================

static void FreeServerNode(lvNetworkNode *node)
{
    lvNetworkHooks *hooks = &GetNetworkLibrary()->hooks;
    hooks->CancelCallbacks(hooks->context, 14, node);
    FreeSocketObject((lvSocket *)node->payload);
    FreeNodeUserData(node);
    FreeMemory(node);
}

// Look-up and removal in one of the two lists.
static int FindListed(lvObjectHeader **head, lvObjectId id, int findError, lvNetworkNode **out)
{
    lvObjectHeader **at = FindNodeLink(head, id);
    if (!at) return NodeLookupError(id, findError);
    *out = (lvNetworkNode *)*at;
    return 0;
}

static int RemoveListed(lvObjectHeader **head, lvObjectId id, int findError, void (*freeNode)(lvNetworkNode *))
{
    lvObjectHeader **at = FindNodeLink(head, id);
    if (!at) return NodeLookupError(id, findError);
    lvNetworkNode *node = (lvNetworkNode *)*at;
    *at = node->header.next;
    freeNode(node);
    return 0;
}

int FindServer(lvObjectId id, lvNetworkNode **out)
{
    return FindListed(&GetNetworkLibrary()->servers, id, ERR_FINDSERVER, out);
}

int RemoveServer(lvObjectId id)
{
    return RemoveListed(&GetNetworkLibrary()->servers, id, ERR_FINDSERVER, FreeServerNode);
}

// IPAUTO: a listening socket for each address of the host in turn; the last address
// decides, and only its socket is kept.
static int OpenAutoListeningSocket(const char *host, const char *port, int backlog, lvSocket **out)
{
    lvResolvedAddress *list = nullptr;
    const char *name = std::strcmp(host, "*") == 0 ? nullptr : host;
    int r = ResolveAddress(name, port, LV_FAMILY_ANY, LV_SOCKET_STREAM, LV_RESOLVE_PASSIVE, &list);
    if (r) return SocketError(GetAddrInfoErrorText(r));
    int result = SocketError(GetAddrInfoErrorText(LV_SOCKERR_HOST_NOTFOUND));
    lvSocket *kept = nullptr;
    for (lvResolvedAddress *a = list; a; a = a->next) {
        char text[64];
        if (int t = AddressToText(&a->address, text, sizeof text, nullptr)) {
            result = SocketError(GetAddrInfoErrorText(t));
            break;
        }
        lvSocket *s = nullptr;
        int bindFailed = 0;
        result = OpenListeningSocket(a->family, text, port, backlog, &s, &bindFailed);
        if (result == 0) {
            FreeSocketObject(kept);
            kept = s;
        } else if (!bindFailed) {
            break;
        }
    }
    FreeResolvedAddresses(list);
    if (result) {
        FreeSocketObject(kept);
        return result;
    }
    *out = kept;
    return 0;
}

int CreateNetworkServer(int number, int automatic, int port, const char *host, int backlog, int protocol,
                        lvNetworkNode **out)
{
    if (int r = StartNetwork()) return r;
    if (port < 0 || port > 65535) return ERR_WRONGUSAGE;
    lvNetworkLibrary *lib = GetNetworkLibrary();
    lvObjectId id = {automatic ? 0 : number, nullptr};
    if (!automatic && FindNodeLink(&lib->servers, id)) RemoveServer(id);
    if (!host) host = "*";
    if (std::strcmp(host, "*") == 0) host = protocol == LV_IPV6 ? "::" : "0.0.0.0";
    char portText[16];
    std::snprintf(portText, sizeof portText, "%d", port);
    lvSocket *s = nullptr;
    int r;
    if (protocol != LV_IPAUTO) {
        int bindFailed = 0;
        r = OpenListeningSocket(FamilyOfProtocol(protocol), host, portText, backlog, &s, &bindFailed);
    } else {
        r = OpenAutoListeningSocket(host, portText, backlog, &s);
    }
    if (r) return r;
    s->timeout.block = s->timeout.total = 0;
    lvNetworkNode *node = NewNetworkNode(LV_NET_SERVER, id, automatic, s);
    if (!node) {
        FreeSocketObject(s);
        return ERR_MEM;
    }
    AppendNetworkNode(&lib->servers, node);
    if (out) *out = node;
    return 0;
}

// ============================================================================
// UDP objects
// ============================================================================

static int NewUdpSocket(int family, lvUdpSocket **out)
{
    *out = nullptr;
    lvUdpSocket *u = (lvUdpSocket *)AllocMemory(sizeof(lvUdpSocket), 1);
    if (!u) return ERR_MEM;
    u->socket = -1;
    u->family = family;
    u->timeout = {-1, -1, 0};
    if (family != LV_FAMILY_ANY) {
        if (int r = CreateSocket(&u->socket, family, LV_SOCKET_DATAGRAM)) {
            FreeMemory(u);
            return SocketError(GetShortSocketErrorText(r));
        }
    }
    *out = u;
    return 0;
}

static void FreeUdpSocket(lvUdpSocket *u)
{
    if (!u) return;
    FreeHeldDatagrams(u);
    CloseSocketHandle(&u->socket);
    FreeMemory(u);
}

static void FreeUdpNode(lvNetworkNode *node)
{
    lvNetworkHooks *hooks = &GetNetworkLibrary()->hooks;
    hooks->CancelCallbacks(hooks->context, 17, node);
    FreeUdpSocket((lvUdpSocket *)node->payload);
    FreeNodeUserData(node);
    FreeMemory(node);
}

int FindUdpObject(lvObjectId id, lvNetworkNode **out)
{
    return FindListed(&GetNetworkLibrary()->udpObjects, id, ERR_FINDUDPOBJECT, out);
}

int RemoveUdpObject(lvObjectId id)
{
    return RemoveListed(&GetNetworkLibrary()->udpObjects, id, ERR_FINDUDPOBJECT, FreeUdpNode);
}

int CreateUdpObject(int number, int automatic, int port, const char *host, int mode, int protocol,
                    lvNetworkNode **out)
{
    if (int r = StartNetwork()) return r;
    if (port < 0 || port > 65535) return ERR_WRONGUSAGE;
    if (mode != LV_UDPSERVER && mode != LV_UDPCLIENT && mode != LV_UDPNONE) return ERR_WRONGUSAGE;
    if (!host) host = "*";
    if (mode == LV_UDPCLIENT && std::strcmp(host, "*") == 0) return ERR_WRONGUSAGE;
    lvNetworkLibrary *lib = GetNetworkLibrary();
    lvObjectId id = {automatic ? 0 : number, nullptr};
    if (!automatic && FindNodeLink(&lib->udpObjects, id)) RemoveUdpObject(id);
    lvUdpSocket *u = nullptr;
    if (int r = NewUdpSocket(FamilyOfProtocol(protocol), &u)) return r;
    char portText[16];
    std::snprintf(portText, sizeof portText, "%d", port);
    int lookupError = 0, pollCode = 0, r = 0;
    if (mode == LV_UDPSERVER) {
        r = TryBindAddresses(&u->socket, &u->family, host, portText, LV_SOCKET_DATAGRAM, &lookupError);
    } else if (mode == LV_UDPCLIENT) {
        r = TryConnectAddresses(&u->socket, &u->family, host, portText, LV_SOCKET_DATAGRAM, lib->timeout,
                                &lookupError, &pollCode);
    }
    if (r) {
        FreeUdpSocket(u);
        if (mode == LV_UDPCLIENT && NetQuitRequested()) return ERR_USERABORT;
        if (pollCode) return pollCode;
        return SocketError(lookupError ? GetAddrInfoErrorText(lookupError) : GetShortSocketErrorText(r));
    }
    u->timeout.block = u->timeout.total = 0;
    // A burst of datagrams waits in the socket while the script is busy elsewhere.
    if (u->socket != -1) SetSocketReceiveBuffer(u->socket, LV_UDP_RECEIVE_BUFFER);
    lvNetworkNode *node = NewNetworkNode(LV_NET_UDPOBJECT, id, automatic, u);
    if (!node) {
        FreeUdpSocket(u);
        return ERR_MEM;
    }
    node->closed = mode;
    AppendNetworkNode(&lib->udpObjects, node);
    if (out) *out = node;
    return 0;
}

int SendUdpData(lvObjectId id, const void *data, size_t length, const char *host, int port, size_t *sent)
{
    *sent = 0;
    if (length == 0) return ERR_WRONGUSAGE;
    lvNetworkNode *node = nullptr;
    if (int r = FindUdpObject(id, &node)) return r;
    lvUdpSocket *u = (lvUdpSocket *)node->payload;
    int r;
    if (node->closed == LV_UDPCLIENT) {
        u->timeout.start = GetEpochSeconds(0);
        r = SendSocket(u->socket, data, length, sent, &u->timeout);
    } else {
        if (!host || port < 1 || port > 65535) return ERR_WRONGUSAGE;
        char portText[16];
        std::snprintf(portText, sizeof portText, "%d", port);
        lvResolvedAddress *list = nullptr;
        int lookup = ResolveAddress(host, portText, u->family, LV_SOCKET_DATAGRAM,
                                    LV_RESOLVE_NUMERICHOST | LV_RESOLVE_NUMERICSERV, &list);
        if (lookup) return SocketError(GetAddrInfoErrorText(lookup));
        if (u->socket == -1) {
            int made = LV_SOCKERR_AFNOSUPPORT;
            for (lvResolvedAddress *a = list; a && u->socket == -1; a = a->next) {
                made = CreateSocket(&u->socket, a->family, LV_SOCKET_DATAGRAM);
                if (made == 0) u->family = a->family;
            }
            if (u->socket == -1) {
                FreeResolvedAddresses(list);
                return SocketError(GetShortSocketErrorText(made));
            }
        }
        u->timeout.start = GetEpochSeconds(0);
        r = SendSocketTo(u->socket, data, length, sent, &list->address, &u->timeout);
        FreeResolvedAddresses(list);
    }
    if (r == 0) return 0;
    if (r == -2) return SocketError("connection refused");
    return SocketError(GetShortSocketErrorText(r));
}

int ReceiveUdpData(lvObjectId id, int maximum, lvUdpDatagram *out)
{
    *out = lvUdpDatagram{nullptr, 0, "", 0};
    lvNetworkNode *node = nullptr;
    if (int r = FindUdpObject(id, &node)) return r;
    // A maximum below 1 would read the datagram into nothing and lose it.
    if (maximum < 1) return ERR_WRONGUSAGE;
    lvUdpSocket *u = (lvUdpSocket *)node->payload;
    u->timeout.start = GetEpochSeconds(0);
    size_t size = maximum < LV_NET_BUFFER_SIZE ? (size_t)maximum : (size_t)LV_NET_BUFFER_SIZE;
    size_t received = 0;
    lvSockAddr from = {};
    int r;
    if (TakeHeldDatagram(u, u->data, size, &received, &from)) {
        // Taking one makes room to read on, so a burst keeps moving while the handlers run.
        if (node->dataWaiting > 0) node->dataWaiting--;  // the oldest are the announced ones
        ReadAheadDatagrams(u, LV_UDP_READ_AHEAD);
        r = 0;
    } else {
        r = ReceiveSocketFrom(u->socket, u->data, size, &received, &from, &u->timeout);
        node->dataWaiting = 0;
    }
    if (r == -1) {
        node->dataWaiting = 0;
        out->data = u->data;
        return 0;
    }
    if (r == -2) return SocketError("connection refused");
    if (r) return SocketError(GetShortSocketErrorText(r));
    if (int t = AddressToText(&from, out->host, sizeof out->host, &out->port)) {
        out->host[0] = 0;
        out->port = 0;
        return SocketError(GetAddrInfoErrorText(t));
    }
    out->data = u->data;
    out->length = received;
    return 0;
}

void FreeServerAndUdpLists(void)
{
    lvNetworkLibrary *lib = GetNetworkLibrary();
    for (lvObjectHeader *node = lib->servers, *next; node; node = next) {
        next = node->next;
        FreeServerNode((lvNetworkNode *)node);
    }
    lib->servers = nullptr;
    for (lvObjectHeader *node = lib->udpObjects, *next; node; node = next) {
        next = node->next;
        FreeUdpNode((lvNetworkNode *)node);
    }
    lib->udpObjects = nullptr;
}

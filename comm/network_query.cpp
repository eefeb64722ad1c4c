// network_query.cpp - addresses of connections, servers and UDP objects, name and
// address look-ups, and the online test.
//
// Depends on: comm/network.h, runtime/lvplugin.h (adapter connection info).
#include "comm/network.h"
#include "comm/network_internal.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/lverrors.h"
#include "runtime/lvplugin.h"

static int ProtocolOfFamily(int family)
{
    return family == LV_FAMILY_IPV4 ? LV_IPV4 : family == LV_FAMILY_IPV6 ? LV_IPV6 : family == 0 ? LV_IPAUTO
                                                                                                   : LV_IPUNKNOWN;
}

// Address and port of a socket through the platform.
static int SocketAddressText(int socket, int peer, char *host, size_t hostSize, int *port)
{
    lvSockAddr address = {};
    if (int r = GetSocketAddress(socket, peer, &address)) return SocketError(GetShortSocketErrorText(r));
    if (int r = AddressToText(&address, host, hostSize, port)) return SocketError(GetAddrInfoErrorText(r));
    return 0;
}

int QueryObjectAddress(lvObjectId id, int kind, int peer, char *host, size_t hostSize, int *port, int *protocol)
{
    host[0] = 0;
    *port = 0;
    *protocol = LV_IPAUTO;
    lvNetworkNode *node = nullptr;
    if (kind == LV_NETWORKCONNECTION) {
        if (int r = FindConnection(id, &node)) return r;
        lvConnection *c = NodeConnection(node);
        if (c->adapter) {
            char text[256] = "";
            int32_t number = 0;
            lvPluginTag tags[3] = {{(uint32_t)(peer ? LVP_NETINFO_PEERADDRESS : LVP_NETINFO_LOCALADDRESS), (intptr_t)text},
                                   {(uint32_t)(peer ? LVP_NETINFO_PEERPORT : LVP_NETINFO_LOCALPORT), (intptr_t)&number},
                                   {0, 0}};
            if (int r = ((lvGetConnectionInfoFunction)c->adapter->GetConnectionInfo)(c->handle, tags)) return r;
            text[255] = 0;
            std::snprintf(host, hostSize, "%s", text);
            *port = number;
            return 0;
        }
        lvSocket *s = (lvSocket *)c->handle;
        *protocol = ProtocolOfFamily(s->family);
        return SocketAddressText(s->socket, peer, host, hostSize, port);
    }
    if (kind == LV_NETWORKSERVER && !peer) {
        if (int r = FindServer(id, &node)) return r;
        lvSocket *s = (lvSocket *)node->payload;
        *protocol = ProtocolOfFamily(s->family);
        return SocketAddressText(s->socket, 0, host, hostSize, port);
    }
    if (kind == LV_NETWORKUDP) {
        if (int r = FindUdpObject(id, &node)) return r;
        if (peer && node->closed != LV_UDPCLIENT) return ERR_WRONGUSAGE;
        lvUdpSocket *u = (lvUdpSocket *)node->payload;
        *protocol = ProtocolOfFamily(u->family);
        return SocketAddressText(u->socket, peer, host, hostSize, port);
    }
    return ERR_WRONGUSAGE;
}

int ParseDottedQuad(const char *text, uint8_t address[4])
{
    const char *p = text;
    for (int part = 0; part < 4; part++) {
        if (part && *p++ != '.') return 0;
        if (*p < '0' || *p > '9') return 0;
        unsigned value = 0;
        int digits = 0;
        while (*p >= '0' && *p <= '9') {
            value = value * 10 + (unsigned)(*p++ - '0');
            if (++digits > 3 || value > 255) return 0;
        }
        address[part] = (uint8_t)value;
    }
    return *p == 0;
}

int HostToAddress(const char *host, int protocol, char *out, size_t size)
{
    if (int r = StartNetwork()) return r;
    if (protocol == LV_IPV4) {
        uint8_t address[4];
        char official[256];
        int r = ParseDottedQuad(host, address) ? 0 : LookupHostByName(host, official, sizeof official, address);
        if (r) return SocketError(GetHostErrorText(r));
        std::snprintf(out, size, "%u.%u.%u.%u", address[0], address[1], address[2], address[3]);
        return 0;
    }
    if (protocol != LV_IPV6) return ERR_WRONGUSAGE;
    lvResolvedAddress *list = nullptr;
    int r = ResolveAddress(host, nullptr, LV_FAMILY_ANY, LV_SOCKET_STREAM, 0, &list);
    if (r) return SocketError(GetAddrInfoErrorText(r));
    int result = SocketError("cannot resolve hostname");
    for (lvResolvedAddress *a = list; a; a = a->next) {
        if (a->family != LV_FAMILY_IPV6) continue;
        int t = AddressToText(&a->address, out, size, nullptr);
        result = t ? SocketError(GetAddrInfoErrorText(t)) : 0;
        break;
    }
    FreeResolvedAddresses(list);
    return result;
}

int AddressToHostName(const char *host, char *out, size_t size)
{
    if (int r = StartNetwork()) return r;
    uint8_t address[4];
    int r = ParseDottedQuad(host, address) ? LookupHostByAddr(address, out, size)
                                           : LookupHostByName(host, out, size, address);
    return r ? SocketError(GetHostErrorText(r)) : 0;
}

int ResolveHostAddresses(const char *host, void (*add)(void *context, int protocol, const char *address),
                         void *context)
{
    if (int r = StartNetwork()) return r;
    lvResolvedAddress *list = nullptr;
    int r = ResolveAddress(host, nullptr, LV_FAMILY_ANY, LV_SOCKET_STREAM, 0, &list);
    if (r) return SocketError(GetAddrInfoErrorText(r));
    int result = 0;
    for (lvResolvedAddress *a = list; a && !result; a = a->next) {
        char text[128];
        if (int t = AddressToText(&a->address, text, sizeof text, nullptr)) {
            result = SocketError(GetAddrInfoErrorText(t));
            break;
        }
        add(context, ProtocolOfFamily(a->family), text);
    }
    FreeResolvedAddresses(list);
    return result;
}

int CheckOnline(void)
{
    if (StartNetwork()) return 0;
    char host[256] = "example.com";
    int port = 80;
    if (const char *target = std::getenv("LUMIVARRA_ONLINE_TARGET")) {
        const char *colon = std::strrchr(target, ':');
        if (colon && colon != target) {
            std::snprintf(host, sizeof host, "%.*s", (int)(colon - target), target);
            port = std::atoi(colon + 1);
        }
    }
    if (port < 1 || port > 65535) return 0;
    lvConnectOptions options = {nullptr, LV_IPAUTO, 0, nullptr, nullptr};
    lvConnection *c = nullptr;
    if (ConnectToHost(host, port, &options, &c) != 0) return 0;
    FreeConnection(c);
    return 1;
}

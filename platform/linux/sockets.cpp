// sockets.cpp - sockets on Linux: creation, bounded connects, accept, sends and
// receives that wait with poll(), look-ups, the interface list, and the texts of the
// result codes.
//
// errno and getaddrinfo results are mapped to the socket codes of
// lvplatform_sockets.h here, at the boundary, so the network library's texts and
// decisions need no knowledge of the system's numbers.
// Depends on: platform/lvplatform.h (allocator, clock, text formatting).
#include "platform/lvplatform.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netpacket/packet.h>
#include <poll.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

// ============================================================================
// Codes
// ============================================================================

int MapSocketErrno(int error)
{
    switch (error) {
    case EINTR: return LV_SOCKERR_INTR;
    case EACCES:
    case EPERM: return LV_SOCKERR_ACCES;
    case EFAULT: return LV_SOCKERR_FAULT;
    case EINVAL: return LV_SOCKERR_INVAL;
    case EMFILE:
    case ENFILE: return LV_SOCKERR_MFILE;
    case EAGAIN: return LV_SOCKERR_WOULDBLOCK;
    case EINPROGRESS: return LV_SOCKERR_INPROGRESS;
    case EALREADY: return LV_SOCKERR_ALREADY;
    case ENOTSOCK:
    case EBADF: return LV_SOCKERR_NOTSOCK;
    case EDESTADDRREQ: return LV_SOCKERR_DESTADDRREQ;
    case EMSGSIZE: return LV_SOCKERR_MSGSIZE;
    case EPROTOTYPE: return LV_SOCKERR_PROTOTYPE;
    case ENOPROTOOPT: return LV_SOCKERR_NOPROTOOPT;
    case EPROTONOSUPPORT: return LV_SOCKERR_PROTONOSUPPORT;
    case ESOCKTNOSUPPORT: return LV_SOCKERR_SOCKTNOSUPPORT;
    case EOPNOTSUPP: return LV_SOCKERR_OPNOTSUPP;
    case EPFNOSUPPORT: return LV_SOCKERR_PFNOSUPPORT;
    case EAFNOSUPPORT: return LV_SOCKERR_AFNOSUPPORT;
    case EADDRINUSE: return LV_SOCKERR_ADDRINUSE;
    case EADDRNOTAVAIL: return LV_SOCKERR_ADDRNOTAVAIL;
    case ENETDOWN: return LV_SOCKERR_NETDOWN;
    case ENETUNREACH: return LV_SOCKERR_NETUNREACH;
    case ENETRESET: return LV_SOCKERR_NETRESET;
    case ECONNABORTED: return LV_SOCKERR_CONNABORTED;
    case ECONNRESET:
    case EPIPE: return LV_SOCKERR_CONNRESET;
    case ENOBUFS: return LV_SOCKERR_NOBUFS;
    case EISCONN: return LV_SOCKERR_ISCONN;
    case ENOTCONN: return LV_SOCKERR_NOTCONN;
    case ESHUTDOWN: return LV_SOCKERR_SHUTDOWN;
    case ETIMEDOUT: return LV_SOCKERR_TIMEDOUT;
    case ECONNREFUSED: return LV_SOCKERR_CONNREFUSED;
    case EHOSTDOWN: return LV_SOCKERR_HOSTDOWN;
    case EHOSTUNREACH: return LV_SOCKERR_HOSTUNREACH;
    default: return error > 0 ? LV_SOCKERR_ERRNO_BASE + error : LV_SOCKERR_ERRNO_BASE;
    }
}

int MapAddrInfoError(int error)
{
    switch (error) {
    case 0: return 0;
    case EAI_NONAME: return LV_SOCKERR_HOST_NOTFOUND;
#ifdef EAI_NODATA
    case EAI_NODATA: return LV_SOCKERR_HOST_NODATA;
#endif
#ifdef EAI_ADDRFAMILY
    case EAI_ADDRFAMILY: return LV_SOCKERR_HOST_NODATA;
#endif
    case EAI_AGAIN: return LV_SOCKERR_HOST_TRYAGAIN;
    case EAI_FAIL: return LV_SOCKERR_HOST_NORECOVERY;
    case EAI_MEMORY: return LV_SOCKERR_LOOKUP_MEMORY;
    case EAI_BADFLAGS: return LV_SOCKERR_INVAL;
    case EAI_SOCKTYPE: return LV_SOCKERR_SOCKTNOSUPPORT;
    case EAI_FAMILY: return LV_SOCKERR_AFNOSUPPORT;
    case EAI_SERVICE: return LV_SOCKERR_TYPENOTFOUND;
    case EAI_SYSTEM: return MapSocketErrno(errno);
    default: return LV_SOCKERR_EAI_BASE + (error < 0 ? -error : error);
    }
}

static int LastSocketError(void)
{
    return MapSocketErrno(errno);
}

// ============================================================================
// Texts
// ============================================================================

struct lvCodeText {
    int code;
    const char *text;
};

static const lvCodeText socketTexts[] = {
    {10004, "Interrupted function call"}, {10013, "permission denied"}, {10014, "Bad address"},
    {10022, "Invalid argument"}, {10024, "Too many open files"}, {10035, "Resource temporarily unavailable"},
    {10036, "Operation now in progress"}, {10037, "Operation already in progress"},
    {10038, "Socket operation on nonsocket"}, {10039, "Destination address required"},
    {10040, "Message too long"}, {10041, "Protocol wrong type for socket"}, {10042, "Bad protocol option"},
    {10043, "Protocol not supported"}, {10044, "ai_socktype not supported"}, {10045, "Operation not supported"},
    {10046, "Protocol family not supported"}, {10047, "ai_family not supported"},
    {10048, "address already in use"}, {10049, "Cannot assign requested address"}, {10050, "Network is down"},
    {10051, "Network is unreachable"}, {10052, "Network dropped connection on reset"},
    {10053, "Software caused connection abort"}, {10054, "closed"}, {10055, "No buffer space available"},
    {10056, "already connected"}, {10057, "Socket is not connected"}, {10058, "Cannot send after socket shutdown"},
    {10060, "timeout"}, {10061, "connection refused"}, {10064, "Host is down"}, {10065, "No route to host"},
    {10067, "Too many processes"}, {10091, "Network subsystem is unavailable"},
    {10092, "Winsock.dll version out of range"}, {10093, "Successful WSAStartup not yet performed"},
    {10101, "Graceful shutdown in progress"}, {11001, "host not found"}, {11002, "Nonauthoritative host not found"},
    {11003, "non-recoverable failure in name resolution"}, {11004, "Valid name, no data record of requested type"},
};

static const lvCodeText shortTexts[] = {
    {10013, "permission denied"}, {10048, "address already in use"}, {10053, "closed"}, {10054, "closed"},
    {10056, "already connected"}, {10060, "timeout"}, {10061, "connection refused"},
};

static const lvCodeText addrInfoTexts[] = {
    {8, "memory allocation failure"}, {10022, "invalid value for ai_flags"}, {10044, "ai_socktype not supported"},
    {10047, "ai_family not supported"}, {10109, "service not supported for socket type"},
    {11001, "host or service not provided, or not known"}, {11002, "temporary failure in name resolution"},
    {11003, "non-recoverable failure in name resolution"},
};

template <size_t N>
static const char *FindCodeText(const lvCodeText (&table)[N], int code)
{
    for (const lvCodeText &row : table)
        if (row.code == code) return row.text;
    return nullptr;
}

const char *GetSystemErrorText(int code)
{
    static thread_local char text[256];
    if (code >= LV_SOCKERR_EAI_BASE) return gai_strerror(-(code - LV_SOCKERR_EAI_BASE));
    if (code >= LV_SOCKERR_ERRNO_BASE) code -= LV_SOCKERR_ERRNO_BASE;
    // The GNU strerror_r may return its own static text instead of filling the buffer.
    const char *message = strerror_r(code, text, sizeof text);
    return message ? message : "Unknown error";
}

// Texts of the results of 0 and below.
static const char *CoreSocketText(int code)
{
    if (code == -2) return "closed";
    if (code == -1) return "timeout";
    return code < 0 ? "unknown error" : "";
}

const char *GetSocketErrorText(int code)
{
    if (const char *text = FindCodeText(socketTexts, code)) return text;
    if (code >= LV_SOCKERR_ERRNO_BASE) return GetSystemErrorText(code);
    return "Unknown error";
}

const char *GetShortSocketErrorText(int code)
{
    if (code <= 0) return CoreSocketText(code);
    if (const char *text = FindCodeText(shortTexts, code)) return text;
    return GetSocketErrorText(code);
}

const char *GetHostErrorText(int code)
{
    if (code == LV_SOCKERR_HOST_NOTFOUND) return "host not found";
    return GetShortSocketErrorText(code);
}

const char *GetAddrInfoErrorText(int code)
{
    if (code == 0) return "";
    if (const char *text = FindCodeText(addrInfoTexts, code)) return text;
    if (code >= LV_SOCKERR_ERRNO_BASE) return GetSystemErrorText(code);
    return GetSocketErrorText(code);
}

// ============================================================================
// Start, sockets and waits
// ============================================================================

int InitNetwork(void)
{
    return 1;  // SIGPIPE is ignored process-wide by InitPlatform; sends add MSG_NOSIGNAL too
}

int ExitNetwork(void)
{
    return 1;
}

static int SystemFamily(int family)
{
    return family == LV_FAMILY_IPV6 ? AF_INET6 : family == LV_FAMILY_IPV4 ? AF_INET : AF_UNSPEC;
}

static int LibraryFamily(int family)
{
    return family == AF_INET ? LV_FAMILY_IPV4 : family == AF_INET6 ? LV_FAMILY_IPV6 : family == AF_UNSPEC ? 0 : 3;
}

int CreateSocket(int *socketOut, int family, int type)
{
    int kind = (type == LV_SOCKET_DATAGRAM ? SOCK_DGRAM : SOCK_STREAM) | SOCK_NONBLOCK | SOCK_CLOEXEC;
    int fd = socket(SystemFamily(family), kind, 0);
    *socketOut = fd;
    if (fd < 0) return LastSocketError();
    if (family == LV_FAMILY_IPV6) {
        int on = 1;
        setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
    }
    return 0;
}

void CloseSocketHandle(int *socket)
{
    if (*socket == -1) return;
    close(*socket);
    *socket = -1;
}

int SetSocketReceiveBuffer(int socket, int bytes)
{
    // Privileged processes may pass the system's cap, as native servers do; others get
    // what the cap allows.
    if (setsockopt(socket, SOL_SOCKET, SO_RCVBUFFORCE, &bytes, sizeof bytes) == 0) return 0;
    return setsockopt(socket, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes) == 0 ? 0 : LastSocketError();
}

int SetSocketReuseAddress(int socket)
{
    int on = 1;
    return setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) == 0 ? 0 : LastSocketError();
}

int BindSocket(int socket, const lvSockAddr *address)
{
    return bind(socket, reinterpret_cast<const sockaddr *>(address->data), address->length) == 0 ? 0
                                                                                                : LastSocketError();
}

int ListenSocket(int socket, int backlog)
{
    return listen(socket, backlog) == 0 ? 0 : LastSocketError();
}

double RemainingTimeout(const lvSocketTimeout *timeout)
{
    if (timeout->block < 0 && timeout->total < 0) return -1;
    double rest = 0;
    if (timeout->total >= 0) {
        rest = timeout->total - (GetEpochSeconds(0) - timeout->start);
        if (rest < 0) rest = 0;
    }
    if (timeout->block < 0) return rest;
    if (timeout->total < 0) return timeout->block;
    return timeout->block < rest ? timeout->block : rest;
}

// poll() of one descriptor; EINTR restarts with the same limit (a stop request is seen
// by the caller's loop, whose waits are short).
static int PollOne(int socket, short events, int milliseconds, short *revents)
{
    pollfd entry = {socket, events, 0};
    for (;;) {
        int n = poll(&entry, 1, milliseconds);
        if (n >= 0) {
            *revents = n ? entry.revents : 0;
            return n;
        }
        if (errno != EINTR) return -1;
    }
}

int WaitSocketReady(int socket, int flags, const lvSocketTimeout *timeout)
{
    if (timeout->block == 0) return -1;
    double seconds = RemainingTimeout(timeout);
    int milliseconds = seconds < 0 ? -1 : (int)std::fmin(seconds * 1000.0, 2147483647.0);
    short events = (flags & 1 ? POLLIN : 0) | (flags & 2 ? POLLOUT : 0);
    short revents = 0;
    int n = PollOne(socket, events, milliseconds, &revents);
    if (n < 0) return LastSocketError();
    return n == 0 ? -1 : 0;
}

void PauseForSocket(int socket, int flags, int milliseconds)
{
    if (socket < 0) {
        SleepMilliseconds((uint32_t)milliseconds);
        return;
    }
    short revents = 0;
    PollOne(socket, (flags & 2) ? POLLOUT : POLLIN, milliseconds, &revents);
}

static int PendingSocketError(int socket)
{
    int error = 0;
    socklen_t length = sizeof error;
    if (getsockopt(socket, SOL_SOCKET, SO_ERROR, &error, &length) != 0) return LastSocketError();
    return error > 0 ? MapSocketErrno(error) : 0;
}

int ConnectSocket(int socket, const lvSockAddr *address, uint32_t milliseconds, lvSocketPollFunction pollEvents,
                  void *context, int *pollResult)
{
    if (pollResult) *pollResult = 0;
    if (socket < 0) return -2;
    if (connect(socket, reinterpret_cast<const sockaddr *>(address->data), address->length) == 0) return 0;
    if (errno != EINPROGRESS && errno != EAGAIN && errno != EINTR) return LastSocketError();
    double start = GetEpochSeconds(0);
    for (;;) {
        if (pollEvents) {
            int code = pollEvents(context);
            if (code) {
                if (pollResult) *pollResult = code;
                return -1;
            }
        }
        short revents = 0;
        int n = PollOne(socket, POLLOUT, 10, &revents);
        if (n < 0) return LastSocketError();
        if (n == 0) {
            if ((GetEpochSeconds(0) - start) * 1000.0 > (double)milliseconds) return -1;
            continue;
        }
        // Linux reports a failed connect as writable too: SO_ERROR settles it.
        int error = PendingSocketError(socket);
        if (error) return error;
        if (revents & (POLLERR | POLLHUP)) return -3;
        return 0;
    }
}

int AcceptSocket(int socket, int *accepted, lvSockAddr *address, const lvSocketTimeout *timeout)
{
    *accepted = -1;
    if (socket < 0) return -2;
    for (;;) {
        sockaddr_storage storage;
        socklen_t length = sizeof storage;
        int fd = accept4(socket, reinterpret_cast<sockaddr *>(&storage), &length, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd >= 0) {
            *accepted = fd;
            if (address) {
                address->length = length <= sizeof address->data ? length : (uint32_t)sizeof address->data;
                std::memcpy(address->data, &storage, address->length);
            }
            return 0;
        }
        if (errno == EINTR) continue;
        if (errno != EAGAIN && errno != ECONNABORTED) return LastSocketError();
        int wait = WaitSocketReady(socket, 1, timeout);
        if (wait) return wait;
    }
}

static int SendLoop(int socket, const void *data, size_t length, size_t *sent, const sockaddr *to,
                    socklen_t toLength, const lvSocketTimeout *timeout)
{
    *sent = 0;
    if (socket < 0) return -2;
    for (;;) {
        ssize_t n = to ? sendto(socket, data, length, MSG_NOSIGNAL, to, toLength)
                       : send(socket, data, length, MSG_NOSIGNAL);
        if (n >= 0 && (n > 0 || length == 0)) {
            *sent = (size_t)n;
            return 0;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN) return LastSocketError();
        int wait = WaitSocketReady(socket, 2, timeout);
        if (wait) return wait;
    }
}

int SendSocket(int socket, const void *data, size_t length, size_t *sent, const lvSocketTimeout *timeout)
{
    return SendLoop(socket, data, length, sent, nullptr, 0, timeout);
}

int SendSocketTo(int socket, const void *data, size_t length, size_t *sent, const lvSockAddr *address,
                 const lvSocketTimeout *timeout)
{
    return SendLoop(socket, data, length, sent, reinterpret_cast<const sockaddr *>(address->data),
                    address->length, timeout);
}

int ReceiveSocket(int socket, void *buffer, size_t size, size_t *received, const lvSocketTimeout *timeout)
{
    *received = 0;
    if (socket < 0) return -2;
    int resets = 0;
    for (;;) {
        ssize_t n = recv(socket, buffer, size, 0);
        if (n > 0) {
            *received = (size_t)n;
            return 0;
        }
        if (n == 0) return -2;
        if (errno == EINTR) continue;
        if (errno == ECONNRESET && resets++ == 0) {
            // One reset is waited out like a would-block; a second is the answer.
        } else if (errno != EAGAIN) {
            return LastSocketError();
        }
        int wait = WaitSocketReady(socket, 1, timeout);
        if (wait) return wait;
    }
}

int ReceiveSocketFrom(int socket, void *buffer, size_t size, size_t *received, lvSockAddr *from,
                      const lvSocketTimeout *timeout)
{
    *received = 0;
    if (socket < 0) return -2;
    for (;;) {
        sockaddr_storage storage;
        socklen_t length = sizeof storage;
        ssize_t n = recvfrom(socket, buffer, size, 0, reinterpret_cast<sockaddr *>(&storage), &length);
        if (n >= 0) {
            *received = (size_t)n;
            if (from) {
                from->length = length <= sizeof from->data ? length : (uint32_t)sizeof from->data;
                std::memcpy(from->data, &storage, from->length);
            }
            return 0;
        }
        if (errno == EINTR) continue;
        if (errno != EAGAIN) return LastSocketError();
        int wait = WaitSocketReady(socket, 1, timeout);
        if (wait) return wait;
    }
}

int PeekSocket(int socket, const lvSocketTimeout *timeout, int datagram)
{
    if (socket < 0) return -2;
    for (;;) {
        char byte;
        ssize_t n;
        if (datagram) {
            // MSG_TRUNC makes any datagram, of zero bytes too, count as waiting.
            iovec vector = {&byte, 1};
            msghdr message = {};
            message.msg_iov = &vector;
            message.msg_iovlen = 1;
            n = recvmsg(socket, &message, MSG_PEEK | MSG_TRUNC | MSG_DONTWAIT);
            if (n >= 0) return 0;
        } else {
            n = recv(socket, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
            if (n > 0) return 0;
            if (n == 0) return -2;
        }
        if (errno == EINTR) continue;
        if (errno != EAGAIN) return LastSocketError();
        int wait = WaitSocketReady(socket, 1, timeout);
        if (wait) return wait;
    }
}

int GetSocketAddress(int socket, int peer, lvSockAddr *address)
{
    if (socket < 0) return LV_SOCKERR_NOTSOCK;
    sockaddr_storage storage;
    socklen_t length = sizeof storage;
    int r = peer ? getpeername(socket, reinterpret_cast<sockaddr *>(&storage), &length)
                 : getsockname(socket, reinterpret_cast<sockaddr *>(&storage), &length);
    if (r != 0) return LastSocketError();
    address->length = length <= sizeof address->data ? length : (uint32_t)sizeof address->data;
    std::memcpy(address->data, &storage, address->length);
    return 0;
}

// ============================================================================
// Names
// ============================================================================

static struct {
    std::vector<lvResolverEntry> rows;
    int installed;
} resolverSeam;

void SetResolverTable(const lvResolverEntry *rows, int count)
{
    resolverSeam.rows.clear();
    resolverSeam.installed = rows != nullptr;
    for (int i = 0; rows && i < count; i++) resolverSeam.rows.push_back(rows[i]);
}

// The system's getaddrinfo into the library's list (appended at *tail).
static int SystemResolve(const char *host, const char *port, int family, int type, int flags,
                         lvResolvedAddress ***tail)
{
    addrinfo hints = {};
    hints.ai_family = SystemFamily(family);
    hints.ai_socktype = type == LV_SOCKET_DATAGRAM ? SOCK_DGRAM : type == LV_SOCKET_STREAM ? SOCK_STREAM : 0;
    hints.ai_flags = (flags & LV_RESOLVE_PASSIVE ? AI_PASSIVE : 0) |
                     (flags & LV_RESOLVE_NUMERICHOST ? AI_NUMERICHOST : 0) |
                     (flags & LV_RESOLVE_NUMERICSERV ? AI_NUMERICSERV : 0);
    addrinfo *found = nullptr;
    int r = getaddrinfo(host, port && port[0] ? port : "0", &hints, &found);
    if (r) return MapAddrInfoError(r);
    for (addrinfo *a = found; a; a = a->ai_next) {
        auto *node = (lvResolvedAddress *)AllocMemory(sizeof(lvResolvedAddress), 1);
        if (!node) {
            freeaddrinfo(found);
            return LV_SOCKERR_LOOKUP_MEMORY;
        }
        node->family = LibraryFamily(a->ai_family);
        node->type = a->ai_socktype == SOCK_DGRAM ? LV_SOCKET_DATAGRAM : LV_SOCKET_STREAM;
        node->address.length = a->ai_addrlen <= sizeof node->address.data ? a->ai_addrlen : 0;
        std::memcpy(node->address.data, a->ai_addr, node->address.length);
        **tail = node;
        *tail = &node->next;
    }
    freeaddrinfo(found);
    return 0;
}

static bool IsLocalName(const char *host)
{
    return strcasecmp(host, "localhost") == 0;
}

int ResolveAddress(const char *host, const char *port, int family, int type, int flags, lvResolvedAddress **list)
{
    *list = nullptr;
    lvResolvedAddress **tail = list;
    int r = 0;
    if (!resolverSeam.installed || !host || IsLocalName(host)) {
        r = SystemResolve(host, port, family, type, flags, &tail);
    } else if (SystemResolve(host, port, family, type, flags | LV_RESOLVE_NUMERICHOST, &tail) == 0) {
        r = 0;
    } else if (flags & LV_RESOLVE_NUMERICHOST) {
        r = LV_SOCKERR_HOST_NOTFOUND;
    } else {
        r = LV_SOCKERR_HOST_NOTFOUND;
        for (const lvResolverEntry &row : resolverSeam.rows) {
            if (!row.name || strcasecmp(row.name, host) != 0) continue;
            char portText[16];
            if (row.port > 0) std::snprintf(portText, sizeof portText, "%d", row.port);
            int one = SystemResolve(row.address, row.port > 0 ? portText : port, family, type,
                                    LV_RESOLVE_NUMERICHOST | (flags & LV_RESOLVE_NUMERICSERV), &tail);
            if (one == 0) r = 0;
        }
    }
    if (r) {
        FreeResolvedAddresses(*list);
        *list = nullptr;
    }
    return r;
}

void FreeResolvedAddresses(lvResolvedAddress *list)
{
    while (list) {
        lvResolvedAddress *next = list->next;
        FreeMemory(list);
        list = next;
    }
}

int AddressToText(const lvSockAddr *address, char *host, size_t hostSize, int *port)
{
    char service[32];
    int r = getnameinfo(reinterpret_cast<const sockaddr *>(address->data), address->length, host,
                        (socklen_t)hostSize, service, sizeof service, NI_NUMERICHOST | NI_NUMERICSERV);
    if (r) return MapAddrInfoError(r);
    if (port) *port = atoi(service);
    return 0;
}

static void CopyText(char *to, size_t size, const char *from)
{
    if (!size) return;
    std::snprintf(to, size, "%s", from ? from : "");
}

int LookupHostByName(const char *name, char *official, size_t officialSize, uint8_t address[4])
{
    if (resolverSeam.installed && !IsLocalName(name)) {
        in_addr numeric;
        if (inet_pton(AF_INET, name, &numeric) == 1) {
            std::memcpy(address, &numeric, 4);
            CopyText(official, officialSize, name);
            return 0;
        }
        for (const lvResolverEntry &row : resolverSeam.rows) {
            if (!row.name || strcasecmp(row.name, name) != 0) continue;
            if (inet_pton(AF_INET, row.address, &numeric) != 1) continue;
            std::memcpy(address, &numeric, 4);
            CopyText(official, officialSize, row.name);
            return 0;
        }
        return LV_SOCKERR_HOST_NOTFOUND;
    }
    addrinfo hints = {};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_CANONNAME;
    addrinfo *found = nullptr;
    int r = getaddrinfo(name, nullptr, &hints, &found);
    if (r) return MapAddrInfoError(r);
    std::memcpy(address, &reinterpret_cast<sockaddr_in *>(found->ai_addr)->sin_addr, 4);
    CopyText(official, officialSize, found->ai_canonname ? found->ai_canonname : name);
    freeaddrinfo(found);
    return 0;
}

int LookupHostByAddr(const uint8_t address[4], char *official, size_t officialSize)
{
    char text[INET_ADDRSTRLEN];
    inet_ntop(AF_INET, address, text, sizeof text);
    for (const lvResolverEntry &row : resolverSeam.rows) {
        if (row.name && row.address && std::strcmp(row.address, text) == 0) {
            CopyText(official, officialSize, row.name);
            return 0;
        }
    }
    sockaddr_in in = {};
    in.sin_family = AF_INET;
    std::memcpy(&in.sin_addr, address, 4);
    char host[NI_MAXHOST];
    int r = getnameinfo(reinterpret_cast<sockaddr *>(&in), sizeof in, host, sizeof host, nullptr, 0, NI_NAMEREQD);
    if (r) return MapAddrInfoError(r);
    CopyText(official, officialSize, host);
    return 0;
}

int GetLocalHostName(char *buffer, size_t size)
{
    if (gethostname(buffer, size) != 0) return LastSocketError();
    if (size) buffer[size - 1] = 0;
    return 0;
}

// ============================================================================
// Interfaces
// ============================================================================

static struct {
    std::vector<lvFakeInterface> rows;
    int installed;
} interfaceSeam;

void SetFakeInterfaces(const lvFakeInterface *rows, int count)
{
    interfaceSeam.rows.clear();
    interfaceSeam.installed = rows != nullptr;
    for (int i = 0; rows && i < count; i++) interfaceSeam.rows.push_back(rows[i]);
}

// One interface address as the list sees it.
struct lvInterfaceAddress {
    const char *name;
    int up, loopback;
    const sockaddr *address;  // nullptr for a row given as text
    const char *text;         // the numeric text of a fake row
    const uint8_t *mac;       // hardware address, or nullptr
};

// Calls visit for every address of the fake list or of getifaddrs. false when the
// system cannot list them.
template <typename Visit>
static bool WalkInterfaces(Visit visit)
{
    if (interfaceSeam.installed) {
        for (const lvFakeInterface &row : interfaceSeam.rows)
            visit(lvInterfaceAddress{row.name, row.up, row.loopback, nullptr, row.address, row.mac});
        return true;
    }
    ifaddrs *list = nullptr;
    if (getifaddrs(&list) != 0) return false;
    for (ifaddrs *i = list; i; i = i->ifa_next) {
        if (!i->ifa_addr) continue;
        const uint8_t *mac = nullptr;
        if (i->ifa_addr->sa_family == AF_PACKET) {
            auto *link = reinterpret_cast<const sockaddr_ll *>(i->ifa_addr);
            if (link->sll_halen == 6) mac = link->sll_addr;
        }
        visit(lvInterfaceAddress{i->ifa_name, (i->ifa_flags & IFF_UP) != 0, (i->ifa_flags & IFF_LOOPBACK) != 0,
                                 i->ifa_addr, nullptr, mac});
    }
    freeifaddrs(list);
    return true;
}

static bool IsLinkLocal(const char *text)
{
    if (strncasecmp(text, "fe80:", 5) == 0) return true;
    unsigned a = 0, b = 0;
    return std::sscanf(text, "%u.%u.", &a, &b) == 2 && a == 169 && b == 254 && std::strchr(text, ':') == nullptr;
}

char *ListLocalAddresses(int includeLinkLocal)
{
    const size_t size = 65536;
    char *block = (char *)AllocMemory(size, 1);
    if (!block) return nullptr;
    size_t used = 0;
    bool listed = WalkInterfaces([&](const lvInterfaceAddress &entry) {
        if (!entry.up || entry.loopback) return;
        char text[128];
        if (entry.address) {
            int family = entry.address->sa_family;
            if (family != AF_INET && family != AF_INET6) return;
            socklen_t length = family == AF_INET ? sizeof(sockaddr_in) : sizeof(sockaddr_in6);
            if (getnameinfo(entry.address, length, text, sizeof text, nullptr, 0, NI_NUMERICHOST)) return;
        } else if (entry.text) {
            CopyText(text, sizeof text, entry.text);
        } else {
            return;
        }
        if (!includeLinkLocal && IsLinkLocal(text)) return;
        size_t nameLength = std::strlen(entry.name) + 1, textLength = std::strlen(text) + 1;
        if (used + nameLength + textLength + 1 > size) return;
        std::memcpy(block + used, entry.name, nameLength);
        std::memcpy(block + used + nameLength, text, textLength);
        used += nameLength + textLength;
    });
    if (!listed) {
        FreeMemory(block);
        return nullptr;
    }
    block[used] = 0;
    return block;
}

int QueryMacAddress(char *text)
{
    bool found = false;
    WalkInterfaces([&](const lvInterfaceAddress &entry) {
        if (found || entry.loopback || !entry.mac) return;
        static const uint8_t zero[6] = {};
        if (std::memcmp(entry.mac, zero, 6) == 0) return;
        std::snprintf(text, 18, "%02X:%02X:%02X:%02X:%02X:%02X", entry.mac[0], entry.mac[1], entry.mac[2],
                      entry.mac[3], entry.mac[4], entry.mac[5]);
        found = true;
    });
    return found ? 1 : 0;
}

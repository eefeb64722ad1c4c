// lvplatform_sockets.h - sockets of the platform layer.
// Included by lvplatform.h; not included directly by other subsystems.
//
// The network library keeps its sockets non-blocking and does its own buffering; the
// operations here turn each request into one or a few system calls and map their
// outcome to result codes:
//   0   done
//   -1  timed out, or would block under a time-out of 0 (also: the event poll during a
//       connect asked to stop)
//   -2  the peer closed the connection, or there is no socket
//   -3  a connect failed without a pending error
//   >0  an error code: the socket codes of LV_SOCKERR_* (errno mapped at this
//       boundary), LV_SOCKERR_ERRNO_BASE + errno for an errno without a code of its own
// Look-ups return 0 or a look-up code (LV_SOCKERR_HOST_* and the others below).
//
// Linux implementation: platform/linux/sockets.cpp. Every socket is made with
// SOCK_NONBLOCK | SOCK_CLOEXEC, waits are poll() (never select(), whose sets overrun
// at descriptors of 1024 and more), sends use MSG_NOSIGNAL, IPv6 sockets are IPv6-only.
// Only the script thread calls these operations, except the error texts.
//
// Test seams: a resolver table (SetResolverTable) answers names instead of the
// system's resolver, so no test query leaves the machine, and a fake interface list
// (SetFakeInterfaces) replaces getifaddrs for the interface and MAC queries.
#pragma once
#include <cstddef>
#include <cstdint>

// ---- Codes -------------------------------------------------------------------------
// The socket error codes the network library's texts are written for.
enum {
    LV_SOCKERR_INTR = 10004,
    LV_SOCKERR_ACCES = 10013,
    LV_SOCKERR_FAULT = 10014,
    LV_SOCKERR_INVAL = 10022,
    LV_SOCKERR_MFILE = 10024,
    LV_SOCKERR_WOULDBLOCK = 10035,
    LV_SOCKERR_INPROGRESS = 10036,
    LV_SOCKERR_ALREADY = 10037,
    LV_SOCKERR_NOTSOCK = 10038,
    LV_SOCKERR_DESTADDRREQ = 10039,
    LV_SOCKERR_MSGSIZE = 10040,
    LV_SOCKERR_PROTOTYPE = 10041,
    LV_SOCKERR_NOPROTOOPT = 10042,
    LV_SOCKERR_PROTONOSUPPORT = 10043,
    LV_SOCKERR_SOCKTNOSUPPORT = 10044,
    LV_SOCKERR_OPNOTSUPP = 10045,
    LV_SOCKERR_PFNOSUPPORT = 10046,
    LV_SOCKERR_AFNOSUPPORT = 10047,
    LV_SOCKERR_ADDRINUSE = 10048,
    LV_SOCKERR_ADDRNOTAVAIL = 10049,
    LV_SOCKERR_NETDOWN = 10050,
    LV_SOCKERR_NETUNREACH = 10051,
    LV_SOCKERR_NETRESET = 10052,
    LV_SOCKERR_CONNABORTED = 10053,
    LV_SOCKERR_CONNRESET = 10054,
    LV_SOCKERR_NOBUFS = 10055,
    LV_SOCKERR_ISCONN = 10056,
    LV_SOCKERR_NOTCONN = 10057,
    LV_SOCKERR_SHUTDOWN = 10058,
    LV_SOCKERR_TIMEDOUT = 10060,
    LV_SOCKERR_CONNREFUSED = 10061,
    LV_SOCKERR_HOSTDOWN = 10064,
    LV_SOCKERR_HOSTUNREACH = 10065,
    LV_SOCKERR_PROCLIM = 10067,
    LV_SOCKERR_TYPENOTFOUND = 10109,  // service not supported for the socket type
    LV_SOCKERR_HOST_NOTFOUND = 11001,
    LV_SOCKERR_HOST_TRYAGAIN = 11002,
    LV_SOCKERR_HOST_NORECOVERY = 11003,
    LV_SOCKERR_HOST_NODATA = 11004,
    LV_SOCKERR_LOOKUP_MEMORY = 8,     // a look-up ran out of memory
    LV_SOCKERR_ERRNO_BASE = 20000,    // + errno: an errno without a code of its own
    LV_SOCKERR_EAI_BASE = 30000,      // + (-EAI_*): a look-up failure without a code of its own
};

// Address families as the library stores them (the same numbers as its protocol codes).
enum { LV_FAMILY_ANY = 0, LV_FAMILY_IPV4 = 1, LV_FAMILY_IPV6 = 2, LV_FAMILY_OTHER = 3 };
// Socket types.
enum { LV_SOCKET_STREAM = 1, LV_SOCKET_DATAGRAM = 2 };
// Look-up flags.
enum { LV_RESOLVE_PASSIVE = 1, LV_RESOLVE_NUMERICHOST = 2, LV_RESOLVE_NUMERICSERV = 4 };

// ---- Records -----------------------------------------------------------------------

// A socket address of any family (room for a sockaddr_storage).
struct lvSockAddr {
    uint32_t length;                // bytes used in data
    alignas(8) uint8_t data[128];   // the system's socket address
};

// The time-out of one operation, in seconds: block is the limit of one wait, total the
// limit of the whole operation counted from start (seconds since 1970, GetEpochSeconds);
// -1 means none. A block time-out of exactly 0 means never wait.
struct lvSocketTimeout {
    double block;
    double total;
    double start;
};

// One address a look-up gave, in the resolver's order.
struct lvResolvedAddress {
    lvResolvedAddress *next;  // next address, nullptr at the end
    int family;               // LV_FAMILY_*
    int type;                 // LV_SOCKET_*
    lvSockAddr address;       // the address with its port
};

// A row of the test resolver: the name answers with the address (numeric text) and
// port (0: the port asked for). Several rows of a name give several addresses in order.
struct lvResolverEntry {
    const char *name;
    const char *address;
    int port;
};

// A row of the fake interface list.
struct lvFakeInterface {
    const char *name;     // interface name
    const char *address;  // numeric address text, or nullptr for a hardware-only row
    int up;               // the interface is up
    int loopback;         // the interface is a loopback one
    uint8_t mac[6];       // hardware address (all zero: none)
};

// The event poll a connect lets in between its waits: non-zero ends the wait with -1
// and that code in *pollResult.
typedef int (*lvSocketPollFunction)(void *context);

// ---- Start and stop ------------------------------------------------------------------
// Starts the socket layer: 1 ready, 0 failed.
int InitNetwork(void);
// Stops it again. Returns 1.
int ExitNetwork(void);

// ---- Sockets ------------------------------------------------------------------------
// A new non-blocking, close-on-exec socket of the family and type in *socketOut (-1 on
// failure); IPv6 sockets are IPv6-only. 0 or a code.
int CreateSocket(int *socketOut, int family, int type);
// Closes the socket when it is not -1 and sets it to -1.
void CloseSocketHandle(int *socket);
// Turns SO_REUSEADDR on. 0 or a code.
int SetSocketReuseAddress(int socket);
// Asks for a receive buffer of the bytes (the system may grant less). 0 or a code.
int SetSocketReceiveBuffer(int socket, int bytes);
// bind() and listen(). 0 or a code.
int BindSocket(int socket, const lvSockAddr *address);
int ListenSocket(int socket, int backlog);
// A connect bounded by milliseconds: the pending connect is waited for in slices of
// 10 ms, calling poll(context) before each (a non-zero answer ends it with -1 and the
// answer in *pollResult); settled by SO_ERROR. 0, -1, -2, -3 or a code.
int ConnectSocket(int socket, const lvSockAddr *address, uint32_t milliseconds, lvSocketPollFunction poll,
                  void *context, int *pollResult);
// Accepts one connection (non-blocking, close-on-exec) into *accepted; address may be
// nullptr. 0, -1 (none pending within the time-out) or a code.
int AcceptSocket(int socket, int *accepted, lvSockAddr *address, const lvSocketTimeout *timeout);
// One send (to a connected peer, or to address): *sent gets what the system took.
// 0, -1, -2 (no socket) or a code; never raises SIGPIPE.
int SendSocket(int socket, const void *data, size_t length, size_t *sent, const lvSocketTimeout *timeout);
int SendSocketTo(int socket, const void *data, size_t length, size_t *sent, const lvSockAddr *address,
                 const lvSocketTimeout *timeout);
// One receive: returns as soon as any bytes came. 0 with *received, -1, -2 (closed) or a
// code. A single connection reset in a call is waited out once.
int ReceiveSocket(int socket, void *buffer, size_t size, size_t *received, const lvSocketTimeout *timeout);
// One datagram of at most size bytes (a longer one is cut) with its sender; a datagram
// of zero bytes is a datagram: 0 with *received 0. 0, -1 or a code.
int ReceiveSocketFrom(int socket, void *buffer, size_t size, size_t *received, lvSockAddr *from,
                      const lvSocketTimeout *timeout);
// 0 when data (for datagrams: any datagram, of zero bytes too) is waiting, -1, -2
// (stream closed, or no socket) or a code.
int PeekSocket(int socket, const lvSocketTimeout *timeout, int datagram);
// Waits until the socket is readable (flags 1) or writable (2). 0, -1 or a code.
int WaitSocketReady(int socket, int flags, const lvSocketTimeout *timeout);
// Waits up to the milliseconds for the socket to become readable, without a result:
// the engines' pause between attempts that data ends at once.
void PauseForSocket(int socket, int flags, int milliseconds);
// Seconds one wait may take: the smaller of block and what is left of total, the one
// that is set, or -1 (no limit) when neither is.
double RemainingTimeout(const lvSocketTimeout *timeout);
// The local (peer 0) or peer (peer 1) address of the socket. 0 or a code.
int GetSocketAddress(int socket, int peer, lvSockAddr *address);

// ---- Names --------------------------------------------------------------------------
// Resolves host (nullptr: none, the wildcard with LV_RESOLVE_PASSIVE) and the port text
// for the family and type. 0 with a list to free with FreeResolvedAddresses, or a
// look-up code.
int ResolveAddress(const char *host, const char *port, int family, int type, int flags,
                   lvResolvedAddress **list);
void FreeResolvedAddresses(lvResolvedAddress *list);
// The numeric host text and port of an address. 0 or a look-up code.
int AddressToText(const lvSockAddr *address, char *host, size_t hostSize, int *port);
// The IPv4 host entry of a name: its official name and first address. 0 or a look-up code.
int LookupHostByName(const char *name, char *official, size_t officialSize, uint8_t address[4]);
// The IPv4 host entry of an address: its official name. 0 or a look-up code.
int LookupHostByAddr(const uint8_t address[4], char *official, size_t officialSize);
// The local host's name. 0 or a code.
int GetLocalHostName(char *buffer, size_t size);
// Installs a resolver table (nullptr rows end it; nullptr: the system's resolver). With a
// table, names that are neither in it, nor numeric, nor "localhost" are not found.
void SetResolverTable(const lvResolverEntry *rows, int count);

// ---- Interfaces -----------------------------------------------------------------------
// The unicast addresses of the interfaces that are up and not loopback: for each, the
// interface name and the numeric address, each zero-terminated, then an empty name.
// Link-local addresses (169.254.0.0/16, "fe80::") only when asked. A block to free with
// FreeMemory, or nullptr when the system cannot give the list.
char *ListLocalAddresses(int includeLinkLocal);
// The first non-loopback hardware address that is not all zeros as
// "%02X:%02X:%02X:%02X:%02X:%02X" into text (18 bytes): 1, or 0 (text untouched).
int QueryMacAddress(char *text);
// Installs a fake interface list (nullptr: the system's).
void SetFakeInterfaces(const lvFakeInterface *rows, int count);

// ---- Texts --------------------------------------------------------------------------
// The text of a socket code (any other code: "Unknown error"; errno codes: strerror's).
const char *GetSocketErrorText(int code);
// The short texts the network library shows: "closed", "timeout", "connection refused"...
const char *GetShortSocketErrorText(int code);
// Host look-ups: 11001 "host not found", else as the short texts.
const char *GetHostErrorText(int code);
// getaddrinfo results.
const char *GetAddrInfoErrorText(int code);
// The system's text of an errno-style code (a per-thread buffer).
const char *GetSystemErrorText(int code);
// errno and EAI_* results as codes.
int MapSocketErrno(int error);
int MapAddrInfoError(int error);

// network.h - the network engine: TCP connections (over the platform's sockets or a
// network-adapter plug-in), servers and UDP objects with their lists, the send and
// receive engines with their destinations, the readiness polls behind the four network
// events, and the address and host queries.
//
// Files: network_core.cpp (library state, socket objects, connecting, connections),
// network_io.cpp (send and receive engines), network_servers.cpp (servers, UDP objects),
// network_events.cpp (polls and the event pass), network_query.cpp (addresses, names).
// The script commands of the "network" library (comm/lib_network.cpp) are thin layers
// over these functions: each reads its arguments, calls one function here and pushes
// what it answers, or returns the error code it gave. A failing function has already
// filled the message arguments ("%d" with the number for the find errors, "%s" with the
// network error's text for ERR_SOCKET).
//
// Nothing here needs the script machine: what does (script callbacks, the runtime's
// event poll and quit flag, cancelling queued callbacks) comes through lvNetworkHooks.
// Depends on: platform/lvplatform.h (sockets, clock), runtime/objects.h, runtime/lists.h
// (user tags, by pointer), runtime/vfile.h (adapter scans, file destinations), runtime/lvplugin.h
// (the network-adapter exports), ui/events.h (the event pass only).
// Limits: script thread only; the lists have no locks. Every wait is a loop that lets
// events in and looks at the quit flag on each pass, pausing at most 1 ms (10 ms while
// connecting) between attempts.
#pragma once
#include <cstddef>
#include <cstdint>

#include "platform/lvplatform.h"
#include "runtime/objects.h"

struct lvPluginRecord;
struct lvVFile;
struct lvState;
struct lvAdapterTag;
struct lvUserTag;  // runtime/lists.h
struct lvEventCallback;
struct lvEventMessage;

// ---- Constants ---------------------------------------------------------------------

enum {
    LV_NET_CLIENT = 54,      // object type of connections ("Clients")
    LV_NET_SERVER = 55,      // object type of servers ("Servers")
    LV_NET_UDPOBJECT = 56,   // object type of UDP objects ("UDP Objects")
    LV_NET_ATTRADAPTER = 87, // connection attribute: the adapter's name
    LV_RECEIVEALL = 0,
    LV_RECEIVEBYTES = 1,
    LV_RECEIVELINE = 2,
    LV_NETWORKCONNECTION = 99,
    LV_NETWORKSERVER = 115,
    LV_NETWORKUDP = 117,
    LV_IPAUTO = 0,
    LV_IPV4 = 1,
    LV_IPV6 = 2,
    LV_IPUNKNOWN = 3,
    LV_UDPSERVER = 0,
    LV_UDPCLIENT = 1,
    LV_UDPNONE = 2,
    LV_NET_BUFFER_SIZE = 8192,     // receive buffers, send pieces, datagrams
    LV_NET_MEMORY_STEP = 16384,    // growth of a growable memory destination
    LV_NET_DEFAULT_TIMEOUT = 10000,
    LV_PLUGINCAPS_NETWORKADAPTER = 262144,
};

// ---- Records -----------------------------------------------------------------------

// The I/O routines of a socket object: 0, -1, -2 or a platform code.
struct lvSocketIo {
    void *context;  // the socket object
    int (*Send)(void *context, const void *data, size_t length, size_t *sent);
    int (*Receive)(void *context, void *buffer, size_t size, size_t *received);
    const char *(*ErrorText)(void *context, int code);
};

// Buffered receiving: unread bytes are data[first..last).
struct lvReceiveBuffer {
    const lvSocketIo *io;  // refills it; nullptr for an adapter's buffer
    uint32_t first;        // next unread byte
    uint32_t last;         // after the last valid byte
    uint8_t data[LV_NET_BUFFER_SIZE];
};

// A TCP socket object.
struct lvSocket {
    int socket;               // the platform socket, -1 none
    lvSocketIo io;            // SendSocket, ReceiveSocket, the short texts
    lvReceiveBuffer buffer;   // refilled through io
    lvSocketTimeout timeout;  // block, total, start
    int family;               // LV_FAMILY_*: 0 not chosen yet
};

// A connection, over a built-in socket or a network-adapter plug-in.
struct lvConnection {
    lvPluginRecord *adapter;       // the adapter that owns it, or nullptr
    void *handle;                  // the lvSocket, or the adapter's handle
    lvReceiveBuffer *adapterBuffer;  // adapter connections: a buffer without io
    int32_t callback;              // progress callback reference, -1 none
    uint64_t count;                // bytes counted for the progress callback
    uint64_t total;                // total announced to it
    int32_t userdata;              // its user data reference, -1 none
    int32_t action;                // action code it is told
    int32_t noEventPolling;        // the loops do not let events in
    int32_t adapterWord;           // handed to the adapter at open (tag 4)
    int32_t lastAction;            // what the progress callback was last told
    uint64_t lastCount, lastTotal;
    int32_t error;                 // the last error an adapter routine answered, 0 none
    int32_t inUse;                 // send or receive commands running on it (their callbacks may close it)
    int32_t closePending;          // closed by such a callback: freed when the command returns
    double deadline;               // epoch seconds by which the current protocol read must end, 0 none
};

enum {
    LV_UDP_HOLD = 1 << 18,         // datagrams a UDP object holds read ahead of the script
    LV_UDP_HOLD_BYTES = 32 << 20,  // and the bytes of their blocks at most
    LV_UDP_PASS_READS = 512,       // datagrams announced per object and not yet read, at most
    LV_UDP_READ_AHEAD = 4096,      // datagrams one pass or read takes out of the socket at most
    LV_UDP_RECEIVE_BUFFER = 4 << 20,  // the socket's receive buffer asked for
};

// A datagram read ahead of the script: one block with the sender's address (its length,
// then its bytes) and then the datagram's bytes.
struct lvUdpHeld {
    uint8_t *block;
    size_t length;  // of the datagram
};

// A UDP object's socket.
struct lvUdpSocket {
    int socket;               // -1 while none exists
    lvSocketTimeout timeout;  // block and total 0: never waits
    uint8_t data[LV_NET_BUFFER_SIZE];  // the datagram ReceiveUDPData read
    int family;               // LV_FAMILY_*
    // A ring of datagrams the event poll read so a burst is not lost in the socket's
    // buffer while the script's handler runs; ReceiveUDPData takes from it first.
    lvUdpHeld *held;          // a ring of heldSize entries, grown up to LV_UDP_HOLD
    int heldSize, heldFirst, heldCount;
    size_t heldBytes;         // of the held blocks
};

// One client, server or UDP object.
struct lvNetworkNode {
    lvObjectHeader header;  // type 54, 55 or 56, identifier, user data, next
    void *payload;          // lvConnection, lvSocket or lvUdpSocket, owned
    int32_t dataWaiting;    // announced data not yet read
    int32_t closed;         // clients: the peer's close was announced; UDP objects: the mode
};

// What the engine needs of the runtime. Empty slots get no-op defaults.
struct lvNetworkHooks {
    void *context;  // handed to every slot
    // Lets window events in; non-zero (a code) ends the wait that called it.
    int (*PollEvents)(void *context);
    // The run is to end.
    int (*QuitRequested)(void *context);
    // Calls the connection's progress callback: 0, an error, or ERR_USERABORT.
    int (*CallProgress)(void *context, lvConnection *connection);
    // Drops queued, not yet delivered callbacks of that kind for the node.
    void (*CancelCallbacks)(void *context, int kind, const void *node);
};

// ---- Library -----------------------------------------------------------------------

// The library's state.
struct lvNetworkLibrary {
    lvObjectHeader *clients;     // connections in creation order
    lvObjectHeader *servers;     // servers
    lvObjectHeader *udpObjects;  // UDP objects
    int started;                 // the platform's socket layer is up
    uint32_t timeout;            // network time-out in ms, 0 none
    int defaultProtocol;         // LV_IP*
    const lvRefOps *refOps;      // releases user data
    lvNetworkHooks hooks;
};
lvNetworkLibrary *GetNetworkLibrary(void);

// Registers the types 55 "Servers", 54 "Clients" (with clientAttribute) and 56 "UDP
// Objects", takes the hooks (nullptr: none) and resets the settings. 0 or ERR_MEM.
int OpenNetworkLibrary(const lvRefOps *refOps, const lvNetworkHooks *hooks,
                       int (*clientAttribute)(lvState *, int, lvObjectId));
// Shut-down: every client, server and UDP object is closed and freed; the socket layer
// is stopped when it was started.
void FreeNetworkObjects(void);
// Starts the socket layer once. 0 or ERR_OPENSOCKET.
int StartNetwork(void);
// ERR_SOCKET with text as its message argument.
int SocketError(const char *text);

// ---- Sockets and connections ---------------------------------------------------------

// A socket object (family 0: no socket yet). 0, ERR_MEM or ERR_SOCKET.
int NewSocketObject(int family, lvSocket **out);
void FreeSocketObject(lvSocket *socket);

// Options of a connect.
struct lvConnectOptions {
    const char *adapterList;          // nullptr or "default": the configured list
    int protocol;                     // LV_IP*
    int ssl;                          // only an adapter sees it
    const lvUserTag *userTags;        // tag 21 when not nullptr
    const lvAdapterTag *extraTags;    // appended to the adapter's tags (transfers), or nullptr
};
// Opens a connection through the first adapter that takes it, else the built-in
// sockets. 0, ERR_MEM, ERR_SOCKET, ERR_USERABORT or an event poll's code.
int ConnectToHost(const char *host, int port, const lvConnectOptions *options, lvConnection **out);
void FreeConnection(lvConnection *connection);
// Appends a client node for the connection (taken over only on success). 0 or ERR_MEM.
int LinkConnection(lvObjectId id, int automatic, lvConnection *connection, lvNetworkNode **out);
// OpenConnection: port 1..65535 (ERR_WRONGUSAGE, checked first), a number in use closes
// its connection first. 0 or the errors of ConnectToHost.
int OpenNetworkConnection(int number, int automatic, const char *host, int port, const lvConnectOptions *options,
                          lvNetworkNode **out);
// Look-up: 0, ERR_FINDCLIENT ("%d") or ERR_FINDARRAY.
int FindConnection(lvObjectId id, lvNetworkNode **out);
int RemoveConnection(lvObjectId id);
// The connection of a client node.
lvConnection *NodeConnection(const lvNetworkNode *node);
// The socket object of a built-in connection, nullptr over an adapter.
lvSocket *ConnectionSocket(const lvConnection *connection);
// The adapter's name, or "inbuilt".
const char *ConnectionAdapterName(const lvConnection *connection);
// Stores the network time-out (0 none) and the default protocol.
void SetNetworkTimeoutMs(uint32_t milliseconds);
void SetNetworkProtocol(int protocol);

// ---- Send and receive engines ----------------------------------------------------------

// Sends in pieces of at most 8192 bytes until all went out or a routine answered
// otherwise. Returns 0, -1, -2, a code; *sent the bytes that went out.
int SendBlocks(lvConnection *connection, const void *data, size_t length, size_t *sent);
// SendBlocks until all went out, waiting out would-blocks up to the network time-out
// since the last progress (nonBlocking: not at all).
int SendWithTimeout(lvConnection *connection, const void *data, size_t length, int nonBlocking, size_t *sent);
// The HTTP and FTP client's send: 0, ERR_USERABORT, a connection or callback error,
// ERR_SENDDATA (partial) or ERR_SOCKET.
int SendAllOrFail(lvConnection *connection, const void *data, size_t length);

// A protocol read (a reply head, a line) must end within the network time-out even when
// the peer keeps trickling bytes: sets the connection's deadline unless an enclosing read
// set one. Answers whether this call set it, for EndReadDeadline.
int BeginReadDeadline(lvConnection *connection);
void EndReadDeadline(lvConnection *connection, int began);
// Waits up to the milliseconds for the connection to become readable (adapters: sleeps).
void WaitForConnectionData(lvConnection *connection, int milliseconds);
// Refills an empty buffer. The routine's result; *unread and *count the unread part.
int FillReceiveBuffer(lvConnection *connection, uint8_t **unread, size_t *count);

// Where received bytes go.
enum { LV_DEST_STRING = 0, LV_DEST_CALLBACK = 1, LV_DEST_MEMORY = 2, LV_DEST_FILE = 3 };

// The state of a stepped receive (the transfer's): kept across calls.
struct lvReceiveStep {
    uint64_t total;     // bytes stored so far
    double lastData;    // when data last came (0: not started)
    int done;           // the body is complete
};

struct lvReceiveDestination {
    int kind;               // LV_DEST_*
    uint8_t *data;          // string (the engine's, FreeMemory it) or memory block
    size_t length;          // bytes stored
    size_t capacity;        // bytes allocated
    int growable;           // memory: a string block of the machine (NewStringBlock), grown as bytes come
    // LV_DEST_CALLBACK: one call per stored piece; 0, an error, or ERR_USERABORT.
    int (*Callback)(void *context, const uint8_t *data, size_t size, uint64_t total);
    void *context;
    lvVFile *file;          // LV_DEST_FILE
    lvReceiveStep *step;    // stepped mode, or nullptr
};

// Done with a string destination: its buffer is kept for the next receive (up to 16 MiB)
// or freed. Other kinds are left alone.
void ReleaseReceiveBuffer(lvReceiveDestination *destination);

// What a receive into the script's string or callback gives.
struct lvReceiveResult {
    uint64_t count;  // bytes stored (carriage returns and the line feed of a line not counted)
    int done;        // RECEIVEALL: ended by the peer's close after data; other modes 1
};

// Reads in a mode into the destination. For the string and the callback a time-out, a
// close or a routine error is no error (the count shows how far it came); errors are
// ERR_USERABORT, a callback's error, ERR_MEM. For memory and files also ERR_RECVCLOSED,
// ERR_RECVTIMEOUT, ERR_SOCKET, ERR_WRITE.
int ReceiveBuffered(lvConnection *connection, int mode, uint64_t count, int wait, lvReceiveDestination *destination,
                    lvReceiveResult *result);
// ReceiveData's engine: checks the mode (ERR_WRONGUSAGE), finds the connection, receives
// into destination and clears the node's data-waiting flag.
int ReceiveNetworkData(lvObjectId id, int mode, uint64_t count, int wait, lvReceiveDestination *destination,
                       lvReceiveResult *result);
// SendData's engine: the bytes that went out, whatever happened. 0 or the find errors.
int SendNetworkData(lvObjectId id, const void *data, size_t length, size_t *sent);

// ---- Servers and UDP objects ----------------------------------------------------------

// CreateServer: port 0..65535 (ERR_WRONGUSAGE), host "*" the wildcard of the protocol.
int CreateNetworkServer(int number, int automatic, int port, const char *host, int backlog, int protocol,
                        lvNetworkNode **out);
int FindServer(lvObjectId id, lvNetworkNode **out);
int RemoveServer(lvObjectId id);
// CreateUDPObject.
int CreateUdpObject(int number, int automatic, int port, const char *host, int mode, int protocol,
                    lvNetworkNode **out);
int FindUdpObject(lvObjectId id, lvNetworkNode **out);
int RemoveUdpObject(lvObjectId id);
// SendUDPData: host and port only when the object is no UDP client.
int SendUdpData(lvObjectId id, const void *data, size_t length, const char *host, int port, size_t *sent);

// One datagram ReceiveUDPData read: data points into the object's buffer.
struct lvUdpDatagram {
    const uint8_t *data;
    size_t length;
    char host[64];   // the sender's numeric address, "" when nothing was waiting
    int port;        // its port, 0 when nothing was waiting
};
// ReceiveUDPData: maximum 1..8192 (a larger one reads 8192; below 1 ERR_WRONGUSAGE).
int ReceiveUdpData(lvObjectId id, int maximum, lvUdpDatagram *out);

// ---- Events ---------------------------------------------------------------------------

// Reads up to LV_UDP_READ_AHEAD waiting datagrams into the object's hold and answers how
// many held datagrams to announce now (counted in dataWaiting, which stays at most
// LV_UDP_PASS_READS).
int PollUdpData(lvNetworkNode *node);
// Reads waiting datagrams into the hold, at most `limit` of them (and no more than it holds).
void ReadAheadDatagrams(lvUdpSocket *udp, int limit);
// Takes the oldest held datagram: at most size bytes of it into buffer (a longer one is
// cut, as the socket cuts it), its length and sender. 0 when none is held.
int TakeHeldDatagram(lvUdpSocket *udp, uint8_t *buffer, size_t size, size_t *length, lvSockAddr *from);
// Frees what the hold keeps.
void FreeHeldDatagrams(lvUdpSocket *udp);
int PollServerAccept(lvNetworkNode *server, lvNetworkNode **client);
int PollConnectionData(lvNetworkNode *node);
int PollConnectionClosed(lvNetworkNode *node);
// The network pass of the event gathering: queues one callback per object that reports,
// for each installed handler (a UDP object: one per datagram it holds unannounced). 0 or
// an error of queueing.
int GatherNetworkEvents(lvState *state);
// 1 when a network handler watches an object: the event wait then comes back to the
// gathering within a millisecond, as the network loops do.
int NetworkEventsWatched(void);
// The message fields of kinds 14 to 17.
void FillNetworkEventFields(lvState *state, const lvEventCallback *record, lvEventMessage *message);

// ---- Addresses and names ----------------------------------------------------------------

// The address of a connection (kind 99), server (115) or UDP object (117): peer 1 the
// peer's, 0 the local one. host (64 bytes) and port are filled; *protocol gets LV_IP*.
int QueryObjectAddress(lvObjectId id, int kind, int peer, char *host, size_t hostSize, int *port, int *protocol);
// Four decimal numbers each at most 255, separated by dots, nothing after them.
int ParseDottedQuad(const char *text, uint8_t address[4]);
// ToIP: IPV4 or IPV6 (ERR_WRONGUSAGE otherwise). 0 or ERR_SOCKET.
int HostToAddress(const char *host, int protocol, char *out, size_t size);
// ToHostName. 0 or ERR_SOCKET.
int AddressToHostName(const char *host, char *out, size_t size);
// ResolveHostName: calls add for every address in order. 0 or ERR_SOCKET.
int ResolveHostAddresses(const char *host, void (*add)(void *context, int protocol, const char *address),
                         void *context);
// IsOnline: 1 when a connection to the test target opened, else 0. The target is
// LUMIVARRA_ONLINE_TARGET ("host:port") when set.
int CheckOnline(void);

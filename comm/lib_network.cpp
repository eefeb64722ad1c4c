// lib_network.cpp - the network library's commands over the network engine.
//
// Each command checks its argument count first, reads its arguments, calls one engine
// function and pushes what it answers. The engine's hooks are filled here: the
// runtime's event poll and quit flag for its waits, the protected calls of receive and
// progress callbacks, and the cancelling of queued event callbacks.
// Depends on: comm/network.h, runtime/cmdsupport.h, runtime/startup.h, ui/events.h.
// Limits: script thread only. Transfers through an adapter plug-in (its own schemes,
// "https://", "ftps://") answer ERR_UNIMPLCMD.
#include "comm/lib_network.h"
#include "comm/network.h"
#include "comm/transfer.h"
#include "runtime/cmdsupport.h"
#include "runtime/errors.h"
#include "base/lverrors.h"
#include "runtime/startup.h"
#include "runtime/vfile.h"
#include "ui/events.h"
#include "vm/lvvm.h"

#include <cmath>
#include <cstdio>
#include <cstring>

// ---- State and hooks -----------------------------------------------------------------

// Releases the objects' user data; valid until the shut-down step freed the objects.
static lvRefOps networkRefOps;

static int HookPollEvents(void *context)
{
    return GetStartupHooks()->PollRuntimeEvents(static_cast<lvState *>(context), 2);
}

static int HookQuitRequested(void *)
{
    return EventRuntime()->QuitRequested();
}

static void HookCancelCallbacks(void *context, int kind, const void *node)
{
    CancelQueuedCallbacks(static_cast<lvState *>(context), kind, node);
}

// A script callback with one table argument, called protected with one result.
struct lvScriptCall {
    lvState *state;      // the machine the command runs on
    int function;        // stack index of the function, or 0 when functionRef is used
    int functionRef;     // registry reference, -1 none
    int userData;        // stack index of the user data, 0 none
    int userDataRef;     // registry reference of the user data, -1 none
    // The table's fields.
    double action, size, total, count;
    const uint8_t *data;
    size_t dataLength;
    int progress;        // progress form {action, count, total}; else {action, size, total, data}
};

static void SetNumber(lvState *L, const char *name, double value)
{
    PushString(L, name);
    PushNumber(L, value);
    SetTableValueRaw(L, -3);
}

// Runs protected: pushes the function and its table.
static void BuildScriptCall(lvState *L, void *data)
{
    lvScriptCall *call = static_cast<lvScriptCall *>(data);
    if (call->function) PushCopy(L, call->function);
    else GetTableItemRaw(L, LV_REGISTRYINDEX, call->functionRef);
    PushNewTable(L);
    SetNumber(L, "action", call->action);
    if (call->progress) {
        SetNumber(L, "count", call->count);
        SetNumber(L, "total", call->total);
    } else {
        SetNumber(L, "size", call->size);
        SetNumber(L, "total", call->total);
        PushString(L, "data");
        PushSizedString(L, (const char *)call->data, call->dataLength);
        SetTableValueRaw(L, -3);
    }
    if (call->userData || call->userDataRef != -1) {
        PushString(L, "userdata");
        if (call->userData) PushCopy(L, call->userData);
        else GetTableItemRaw(L, LV_REGISTRYINDEX, call->userDataRef);
        SetTableValueRaw(L, -3);
    }
}

// 0, the callback's error, or ERR_USERABORT for a result of 1 or a quit request.
static int RunScriptCall(lvState *L, lvScriptCall *call)
{
    int mark = GetStackTop(L);
    int result = RunProtected(L, BuildScriptCall, call);
    if (result == 0) {
        SetRuntimeFlags(L, LV_FLAG_CALLBACK_DEPTH, 1, 0);
        result = ProtectedCall(L, 1, 1, 0);
        SetRuntimeFlags(L, LV_FLAG_CALLBACK_DEPTH, 0, 0);
        if (result == 0 && GetValueType(L, -1) == LV_TNUMBER && ValueToNumber(L, -1) == 1) result = ERR_USERABORT;
    }
    SetStackTop(L, mark);
    if (result == 0 && EventRuntime()->QuitRequested()) result = ERR_USERABORT;
    return result;
}

static int HookCallProgress(void *context, lvConnection *c)
{
    lvScriptCall call = {};
    call.functionRef = c->callback;
    call.userDataRef = c->userdata;
    call.action = c->action;
    call.count = (double)c->count;
    call.total = (double)c->total;
    call.progress = 1;
    c->lastAction = c->action;
    c->lastCount = c->count;
    c->lastTotal = c->total;
    return RunScriptCall(static_cast<lvState *>(context), &call);
}

// ---- Arguments -------------------------------------------------------------------------

static int IntArg(lvState *L, int index)
{
    double value = CheckNumberArg(L, index);
    if (!(value > -2147483648.0 && value < 2147483648.0)) return value > 0 ? INT32_MAX : INT32_MIN;
    return (int)value;
}

static int OptionalIntArg(lvState *L, int index, int fallback)
{
    if (GetStackTop(L) < index || GetValueType(L, index) == LV_TNIL) return fallback;
    return IntArg(L, index);
}

static const char *OptionalStringArg(lvState *L, int index, const char *fallback)
{
    if (GetStackTop(L) < index || GetValueType(L, index) == LV_TNIL) return fallback;
    return CheckStringArg(L, index, nullptr);
}

// Frees user tags when the command leaves.
struct lvTagsGuard {
    lvUserTag *list = nullptr;
    ~lvTagsGuard() { FreeUserTags(list, 0); }
};

// Hands the engine's string buffer back when the command leaves.
struct lvDestinationGuard {
    lvReceiveDestination *destination;
    ~lvDestinationGuard() { ReleaseReceiveBuffer(destination); }
};

// ---- Connections -------------------------------------------------------------------------

// OpenConnection(id or Nil, host, port[, {protocol, ssl, adapter, usertags}]) -> handle for Nil
static int CmdOpenConnection(lvState *L)
{
    CheckArgCount(L, 3, 4, 0, 0);
    int isNil = 0;
    int number = GetIntArgOrNil(L, 1, &isNil);
    const char *host = CheckStringArg(L, 2, nullptr);
    int port = IntArg(L, 3);
    lvConnectOptions options = {nullptr, GetNetworkLibrary()->defaultProtocol, 0, nullptr, nullptr};
    char adapter[256] = "";
    lvTagsGuard tags;
    if (GetStackTop(L) >= 4 && GetValueType(L, 4) != LV_TNIL) {
        if (GetValueType(L, 4) != LV_TTABLE) {
            SetErrorNumberArg(4);
            return ERR_TABEXPECTED;
        }
        GetFieldInt(L, 4, "protocol", &options.protocol);
        GetFieldInt(L, 4, "ssl", &options.ssl);
        if (GetFieldStringBuf(L, 4, "adapter", adapter, sizeof adapter)) options.adapterList = adapter;
        if (int r = ReadUserTags(L, 4, "usertags", nullptr, &tags.list)) return r;
        options.userTags = tags.list;
    }
    lvNetworkNode *node = nullptr;
    if (int r = OpenNetworkConnection(number, isNil, host, port, &options, &node)) return r;
    if (!isNil) return 0;
    PushObjectId(L, GetObjectIdOf(&node->header));
    return 1;
}

static int IdCommand(lvState *L, int (*operation)(lvObjectId id))
{
    CheckArgCount(L, 1, 1, 0, 0);
    return operation(GetObjectIdArg(L, 1));
}

static int CmdCloseConnection(lvState *L) { return IdCommand(L, RemoveConnection); }
static int CmdCloseServer(lvState *L) { return IdCommand(L, RemoveServer); }
static int CmdCloseUDPObject(lvState *L) { return IdCommand(L, RemoveUdpObject); }

// SetNetworkTimeout(ms)
static int CmdSetNetworkTimeout(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    double ms = CheckNumberArg(L, 1);
    if (ms < 0) return ERR_WRONGUSAGE;
    SetNetworkTimeoutMs(ms > 4294967295.0 ? 4294967295u : (uint32_t)ms);
    return 0;
}

// SetNetworkProtocol(code)
static int CmdSetNetworkProtocol(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    SetNetworkProtocol(IntArg(L, 1));
    return 0;
}

// ---- Sending and receiving ------------------------------------------------------------------

// SendData(id, data) -> bytes sent
static int CmdSendData(lvState *L)
{
    CheckArgCount(L, 2, 2, 0, 0);
    lvObjectId id = GetObjectIdArg(L, 1);
    size_t length = 0;
    const char *data = CheckStringArg(L, 2, &length);
    size_t sent = 0;
    if (int r = SendNetworkData(id, data, length, &sent)) return r;
    PushNumber(L, (double)sent);
    return 1;
}

// A receive callback's context: the function and user data on the stack.
static int ReceiveCallback(void *context, const uint8_t *data, size_t size, uint64_t total)
{
    lvScriptCall call = *static_cast<lvScriptCall *>(context);
    call.size = (double)size;
    call.total = (double)total;
    call.data = data;
    call.dataLength = size;
    return RunScriptCall(call.state, &call);
}

// ReceiveData(id, RECEIVEALL[, wait[, callback[, userdata]]]),
// ReceiveData(id, RECEIVEBYTES, count[, callback[, userdata]]),
// ReceiveData(id, RECEIVELINE[, callback[, userdata]]) -> data, bytes, done flag
static int CmdReceiveData(lvState *L)
{
    CheckArgCount(L, 2, 5, 0, 0);
    lvObjectId id = GetObjectIdArg(L, 1);
    int mode = IntArg(L, 2);
    int wait = 1, callbackIndex = 0;
    uint64_t count = 0;
    if (mode == LV_RECEIVEALL) {
        if (GetStackTop(L) >= 3 && GetValueType(L, 3) != LV_TNIL)
            wait = GetValueType(L, 3) == LV_TBOOLEAN ? ValueToBoolean(L, 3) : CheckNumberArg(L, 3) != 0;
        callbackIndex = 4;
    } else if (mode == LV_RECEIVEBYTES) {
        double n = CheckNumberArg(L, 3);
        if (!(n >= 1)) return ERR_WRONGUSAGE;
        count = n >= 18446744073709551615.0 ? UINT64_MAX : (uint64_t)n;
        callbackIndex = 4;
    } else if (mode == LV_RECEIVELINE) {
        callbackIndex = 3;
    } else {
        return ERR_WRONGUSAGE;
    }
    lvScriptCall call = {};
    call.state = L;
    call.functionRef = call.userDataRef = -1;
    lvReceiveDestination destination = {};
    lvDestinationGuard guard = {&destination};
    int top = GetStackTop(L);
    if (top >= callbackIndex && GetValueType(L, callbackIndex) != LV_TNIL) {
        if (GetValueType(L, callbackIndex) != LV_TFUNCTION) {
            SetErrorNumberArg(callbackIndex);
            return ERR_FUNCEXPECTED;
        }
        call.function = callbackIndex;
        if (top >= callbackIndex + 1) call.userData = callbackIndex + 1;
        destination.kind = LV_DEST_CALLBACK;
        destination.Callback = ReceiveCallback;
        destination.context = &call;
    }
    lvReceiveResult result = {};
    if (int r = ReceiveNetworkData(id, mode, count, wait, &destination, &result)) return r;
    PushSizedString(L, destination.kind == LV_DEST_STRING ? (const char *)destination.data : "",
                    destination.kind == LV_DEST_STRING ? destination.length : 0);
    PushNumber(L, (double)result.count);
    PushNumber(L, result.done);
    return 3;
}

// ---- Servers and UDP objects ------------------------------------------------------------------

// The creating commands of servers and UDP objects: id or Nil, then optional port (0),
// host ("*"), a fourth number (the backlog or the mode) and protocol. A handle for Nil.
typedef int (*lvCreateFunction)(int number, int automatic, int port, const char *host, int fourth, int protocol,
                                lvNetworkNode **out);
static int CreateCommand(lvState *L, int fourthDefault, lvCreateFunction create)
{
    CheckArgCount(L, 1, 5, 0, 0);
    int isNil = 0;
    int number = GetIntArgOrNil(L, 1, &isNil);
    int port = OptionalIntArg(L, 2, 0);
    const char *host = OptionalStringArg(L, 3, "*");
    int fourth = OptionalIntArg(L, 4, fourthDefault);
    int protocol = OptionalIntArg(L, 5, GetNetworkLibrary()->defaultProtocol);
    lvNetworkNode *node = nullptr;
    if (int r = create(number, isNil, port, host, fourth, protocol, &node)) return r;
    if (!isNil) return 0;
    PushObjectId(L, GetObjectIdOf(&node->header));
    return 1;
}

// CreateServer(id or Nil[, port[, host[, backlog[, protocol]]]])
static int CmdCreateServer(lvState *L) { return CreateCommand(L, 32, CreateNetworkServer); }
// CreateUDPObject(id or Nil[, port[, host[, mode[, protocol]]]])
static int CmdCreateUDPObject(lvState *L) { return CreateCommand(L, LV_UDPSERVER, CreateUdpObject); }

// SendUDPData(id, data[, host, port]) -> bytes sent
static int CmdSendUDPData(lvState *L)
{
    CheckArgCount(L, 2, 4, 0, 0);
    lvObjectId id = GetObjectIdArg(L, 1);
    size_t length = 0;
    const char *data = CheckStringArg(L, 2, &length);
    const char *host = nullptr;
    int port = 0;
    if (GetStackTop(L) >= 3 && GetValueType(L, 3) == LV_TSTRING) host = ValueToString(L, 3);
    if (GetStackTop(L) >= 4 && GetValueType(L, 4) == LV_TNUMBER) port = IntArg(L, 4);
    size_t sent = 0;
    if (int r = SendUdpData(id, data, length, host, port, &sent)) return r;
    PushNumber(L, (double)sent);
    return 1;
}

// ReceiveUDPData(id[, maximum]) -> data, sender's address, sender's port
static int CmdReceiveUDPData(lvState *L)
{
    CheckArgCount(L, 1, 2, 0, 0);
    lvObjectId id = GetObjectIdArg(L, 1);
    int maximum = OptionalIntArg(L, 2, LV_NET_BUFFER_SIZE);
    lvUdpDatagram datagram;
    if (int r = ReceiveUdpData(id, maximum, &datagram)) return r;
    PushSizedString(L, (const char *)datagram.data, datagram.length);
    PushString(L, datagram.host);
    PushNumber(L, datagram.port);
    return 3;
}

// ---- Addresses and names ----------------------------------------------------------------------

// The six address queries: what (0 address, 1 port, 2 protocol) of the peer or the
// local end.
static int AddressCommand(lvState *L, int peer, int what)
{
    CheckArgCount(L, 1, 2, 0, 0);
    lvObjectId id = GetObjectIdArg(L, 1);
    int kind = OptionalIntArg(L, 2, LV_NETWORKCONNECTION);
    char host[64];
    int port = 0, protocol = 0;
    if (int r = QueryObjectAddress(id, kind, peer, host, sizeof host, &port, &protocol)) return r;
    if (what == 0) PushString(L, host);
    else PushNumber(L, what == 1 ? port : protocol);
    return 1;
}

static int CmdGetConnectionIP(lvState *L) { return AddressCommand(L, 1, 0); }
static int CmdGetConnectionPort(lvState *L) { return AddressCommand(L, 1, 1); }
static int CmdGetConnectionProtocol(lvState *L) { return AddressCommand(L, 1, 2); }
static int CmdGetLocalIP(lvState *L) { return AddressCommand(L, 0, 0); }
static int CmdGetLocalPort(lvState *L) { return AddressCommand(L, 0, 1); }
static int CmdGetLocalProtocol(lvState *L) { return AddressCommand(L, 0, 2); }

// GetHostName() -> the local host's name
static int CmdGetHostName(lvState *L)
{
    CheckArgCount(L, 0, 0, 0, 0);
    if (int r = StartNetwork()) return r;
    char name[256];
    if (GetLocalHostName(name, sizeof name)) return ERR_HOSTNAME;
    PushString(L, name);
    return 1;
}

// ToIP(host[, protocol]) -> numeric address
static int CmdToIP(lvState *L)
{
    CheckArgCount(L, 1, 2, 0, 0);
    const char *host = CheckStringArg(L, 1, nullptr);
    int protocol = OptionalIntArg(L, 2, GetNetworkLibrary()->defaultProtocol);
    char text[128];
    if (int r = HostToAddress(host, protocol, text, sizeof text)) return r;
    PushString(L, text);
    return 1;
}

// ToHostName(host) -> official name
static int CmdToHostName(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    const char *host = CheckStringArg(L, 1, nullptr);
    char name[256];
    if (int r = AddressToHostName(host, name, sizeof name)) return r;
    PushString(L, name);
    return 1;
}

// Appends {protocol, address} (and name when given) at the next index of the table on top.
struct lvTableFill {
    lvState *L;
    int next;
};

static void AddAddressRow(lvTableFill *fill, const char *name, int protocol, const char *address)
{
    lvState *L = fill->L;
    PushNewTable(L);
    if (name) {
        PushString(L, "name");
        PushString(L, name);
        SetTableValueRaw(L, -3);
    }
    SetNumber(L, "protocol", protocol);
    PushString(L, "address");
    PushString(L, address);
    SetTableValueRaw(L, -3);
    SetTableItemRaw(L, -2, fill->next++);
}

static void AddResolved(void *context, int protocol, const char *address)
{
    AddAddressRow(static_cast<lvTableFill *>(context), nullptr, protocol, address);
}

// ResolveHostName(host) -> {{protocol, address}, ...}
static int CmdResolveHostName(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    const char *host = CheckStringArg(L, 1, nullptr);
    PushNewTable(L);
    lvTableFill fill = {L, 0};
    if (int r = ResolveHostAddresses(host, AddResolved, &fill)) return r;
    return 1;
}

// GetLocalInterfaces([linklocal]) -> {{name, protocol, address}, ...}
static int CmdGetLocalInterfaces(lvState *L)
{
    CheckArgCount(L, 0, 1, 0, 0);
    int linkLocal = OptionalIntArg(L, 1, 0);
    if (int r = StartNetwork()) return r;
    char *list = ListLocalAddresses(linkLocal);
    if (!list) return ERR_GETIFADDRS;
    struct lvFree {
        char *p;
        ~lvFree() { FreeMemory(p); }
    } owner = {list};
    PushNewTable(L);
    lvTableFill fill = {L, 0};
    for (const char *p = list; *p;) {
        const char *name = p;
        const char *address = name + std::strlen(name) + 1;
        AddAddressRow(&fill, name, std::strchr(address, ':') ? LV_IPV6 : LV_IPV4, address);
        p = address + std::strlen(address) + 1;
    }
    return 1;
}

// GetMACAddress() -> "XX:XX:XX:XX:XX:XX" or "Unknown"
static int CmdGetMACAddress(lvState *L)
{
    CheckArgCount(L, 0, 0, 0, 0);
    if (int r = StartNetwork()) return r;
    char text[18] = "Unknown";
    QueryMacAddress(text);
    PushString(L, text);
    return 1;
}

// IsOnline() -> 1 or 0
static int CmdIsOnline(lvState *L)
{
    CheckArgCount(L, 0, 0, 0, 0);
    PushNumber(L, CheckOnline());
    return 1;
}

// The options and references of a transfer command, freed when it leaves unless taken.
struct lvTransferArgs {
    lvTransferOptions options = {};
    char file[1024] = "", adapter[256] = "", fileAdapter[256] = "", proxy[256] = "";
    char postType[256] = "", userAgent[256] = "";
    char *post = nullptr, *customHeaders = nullptr, *data = nullptr;
    lvUserTag *tags = nullptr;
    lvFormPart *parts = nullptr;
    ~lvTransferArgs()
    {
        FreeFormParts(parts);
        FreeMemory(post);
        FreeMemory(data);
        FreeMemory(customHeaders);
        FreeUserTags(tags, 0);
        if (options.callback != -1) networkRefOps.release(networkRefOps.context, options.callback);
        if (options.userdata != -1) networkRefOps.release(networkRefOps.context, options.userdata);
    }
};

static int MissingField(const char *name)
{
    SetErrorStringArg(name);
    return ERR_MISSINGFIELD;
}

// One entry of "formdata" (the table on top) into a new part.
static int ReadFormPart(lvState *L, const char *fileAdapter, const lvUserTag *tags, lvFormPart *p)
{
    size_t length = 0;
    int r = ReadFieldString(L, -1, "name", p->name, sizeof p->name, &length);
    if (r != 1) return r ? r : MissingField("Name");
    if (length == 0) return ERR_WRONGUSAGE;
    char path[1024];
    r = ReadFieldString(L, -1, "file", path, sizeof path, nullptr);
    if (r > 1) return r;
    if (r == 1) {
        int flags = LV_VF_READ | (fileAdapter && *fileAdapter ? LV_VF_ADAPTERS : 0);
        p->file = OpenVFile(path, flags, fileAdapter && *fileAdapter ? fileAdapter : nullptr, tags);
        if (!p->file) {
            SetErrorStringArg(path);
            return ERR_READFILE;
        }
        std::snprintf(p->fileName, sizeof p->fileName, "%s", FindFilePart(path));
        if ((p->size = GetVFileSize(p->file)) < 0) return ERR_FILESIZE;
        if (ReadFieldString(L, -1, "data", nullptr, 0, nullptr) != 0) return ERR_WRONGUSAGE;
    } else {
        int type = PushFieldValue(L, -1, "data");
        if (type == LV_TSTRING && ValueStringLength(L, -1) > 0) {
            p->size = (int64_t)ValueStringLength(L, -1);
            p->data = (uint8_t *)AllocMemory((size_t)p->size, 0);
            if (p->data) std::memcpy(p->data, ValueToString(L, -1), (size_t)p->size);
        }
        SetStackTop(L, GetStackTop(L) - 1);
        if (type == LV_TNIL) return MissingField("Data");
        if (type != LV_TSTRING) return ERR_STRINGEXPECTED;
        if (p->size == 0) return ERR_WRONGUSAGE;
        if (!p->data) return ERR_MEM;
    }
    r = ReadFieldString(L, -1, "mimetype", p->mimeType, sizeof p->mimeType, &length);
    if (r > 1) return r;
    if (r == 1 && length == 0) return ERR_WRONGUSAGE;
    if (r == 0 && p->file) std::strcpy(p->mimeType, "application/octet-stream");
    char alias[256];
    int hasAlias = ReadFieldString(L, -1, "filealias", alias, sizeof alias, nullptr);
    if (hasAlias > 1) return hasAlias;
    if (hasAlias == 1) {
        if (!p->mimeType[0]) return MissingField("MIMEType");
        std::strcpy(p->fileName, alias);
    }
    if (p->mimeType[0] && !p->fileName[0]) return MissingField("FileAlias");
    return 0;
}

// "formdata": subtables from index 0 on, until one is missing.
static int ReadFormData(lvState *L, lvTransferArgs *a)
{
    PushString(L, "formdata");
    GetTableValue(L, 2);
    int table = GetStackTop(L);
    int r = 0;
    if (GetValueType(L, table) == LV_TTABLE) {
        lvFormPart **tail = &a->parts;
        for (int i = 0; r == 0; i++) {
            GetTableItemRaw(L, table, i);
            int type = GetValueType(L, -1);
            if (type == LV_TNIL) {
                SetStackTop(L, table);
                break;
            }
            if (type != LV_TTABLE) {
                SetErrorStringArg("formdata");
                r = ERR_TABEXPECTED2;
            } else if (!(*tail = (lvFormPart *)AllocMemory(sizeof(lvFormPart), 1))) {
                r = ERR_MEM;
            } else {
                r = ReadFormPart(L, a->options.fileAdapter, a->tags, *tail);
                tail = &(*tail)->next;
            }
            SetStackTop(L, table);
        }
    }
    SetStackTop(L, table - 1);
    a->options.formParts = a->parts;
    return r;
}

// Reads the options table at index 2.
static int ReadTransferOptions(lvState *L, lvTransferArgs *a)
{
    lvTransferOptions *o = &a->options;
    if (GetStackTop(L) < 2 || GetValueType(L, 2) == LV_TNIL) return 0;
    if (GetValueType(L, 2) != LV_TTABLE) {
        SetErrorNumberArg(2);
        return ERR_TABEXPECTED;
    }
    GetFieldInt(L, 2, "transfermode", &o->transferMode);
    if (o->transferMode != 105 && o->transferMode != 97) return ERR_WRONGUSAGE;
    if (GetFieldStringBuf(L, 2, "file", a->file, sizeof a->file)) o->file = a->file;
    GetFieldInt(L, 2, "encoded", &o->encoded);
    GetFieldInt(L, 2, "protocol", &o->protocol);
    GetFieldInt(L, 2, "ssl", &o->ssl);
    GetFieldInt(L, 2, "async", &o->async);
    GetFieldInt(L, 2, "verbose", &o->verbose);
    if (GetFieldStringBuf(L, 2, "adapter", a->adapter, sizeof a->adapter)) o->adapter = a->adapter;
    if (GetFieldStringBuf(L, 2, "fileadapter", a->fileAdapter, sizeof a->fileAdapter)) o->fileAdapter = a->fileAdapter;
    if (GetFieldStringBuf(L, 2, "proxy", a->proxy, sizeof a->proxy)) o->proxy = a->proxy;
    GetFieldInt(L, 2, "silentfail", &o->silentfail);
    GetFieldStringDup(L, 2, "customheaders", &a->customHeaders, nullptr);
    o->customHeaders = a->customHeaders;
    if (int r = ReadUserTags(L, 2, "usertags", nullptr, &a->tags)) return r;
    o->userTags = a->tags;
    GetFieldInt(L, 2, "fail404", &o->fail404);
    GetFieldInt(L, 2, "redirect", &o->redirect);
    size_t postLength = 0;
    if (GetFieldStringDup(L, 2, "post", &a->post, &postLength)) {
        o->post = (const uint8_t *)a->post;
        o->postLength = postLength;
        if (postLength == 0) return ERR_WRONGUSAGE;
    }
    size_t dataLength = 0;
    if (GetFieldStringDup(L, 2, "data", &a->data, &dataLength)) {
        o->data = (const uint8_t *)a->data;
        o->dataLength = dataLength;
    }
    if (o->upload) {
        if (int r = ReadFormData(L, a)) return r;
    }
    if (GetFieldStringBuf(L, 2, "posttype", a->postType, sizeof a->postType)) o->postType = a->postType;
    if (GetFieldStringBuf(L, 2, "useragent", a->userAgent, sizeof a->userAgent)) o->userAgent = a->userAgent;
    return 0;
}

// DownloadFile(url[, options[, callback[, userdata]]]) -> data, size (or the handle with
// "async"; the error's text and -1 with "silentfail")
// UploadFile(url, options[, callback[, userdata]]) -> the reply and its size over HTTP
static int TransferCommand(lvState *L, int upload)
{
    CheckArgCount(L, upload ? 2 : 1, 4, 0, 0);
    lvTransferArgs a;
    lvTransferOptions *o = &a.options;
    o->url = CheckStringArg(L, 1, nullptr);
    o->upload = upload;
    o->transferMode = 105;
    o->protocol = GetNetworkLibrary()->defaultProtocol;
    o->redirect = 1;
    o->callback = o->userdata = -1;
    int r = ReadTransferOptions(L, &a);
    if (r == 0 && GetStackTop(L) >= 3 && GetValueType(L, 3) != LV_TNIL) {
        if (GetValueType(L, 3) != LV_TFUNCTION) {
            SetErrorNumberArg(3);
            return ERR_FUNCEXPECTED;
        }
        PushCopy(L, 3);
        o->callback = CreateReference(L, LV_REGISTRYINDEX);
        if (GetStackTop(L) >= 4) {
            PushCopy(L, 4);
            o->userdata = CreateReference(L, LV_REGISTRYINDEX);
        }
    }
    lvTransfer *t = nullptr;
    if (r == 0) {
        r = StartTransfer(o, &t);  // takes the references, tags and parts, whatever happens
        o->callback = o->userdata = -1;
        a.tags = nullptr;
        a.parts = nullptr;
    }
    if (r) {
        if (!o->silentfail || r == ERR_USERABORT) return r;
        return PushSilentFailure(L, r);
    }
    if (!o->async) return RunAsyncToCompletion(L, &t->head);
    AddAsyncOperation(&t->head);
    PushObjectId(L, GetObjectIdOf(&t->head.header));
    return 1;
}

static int CmdDownloadFile(lvState *L) { return TransferCommand(L, 0); }
static int CmdUploadFile(lvState *L) { return TransferCommand(L, 1); }

// ATTRADAPTER of connections: the adapter's name.
static int ClientAttribute(lvState *L, int attribute, lvObjectId id)
{
    lvNetworkNode *node = nullptr;
    if (int r = FindConnection(id, &node)) return r;
    if (attribute != LV_NET_ATTRADAPTER) return ERR_UNKNOWNATTR;
    PushString(L, ConnectionAdapterName(NodeConnection(node)));
    return 1;
}

// ---- Tables ------------------------------------------------------------------------------------

static const lvCommandEntry networkCommands[] = {
    {"OpenConnection", CmdOpenConnection},
    {"CloseConnection", CmdCloseConnection},
    {"CreateServer", CmdCreateServer},
    {"CloseServer", CmdCloseServer},
    {"SendData", CmdSendData},
    {"ReceiveData", CmdReceiveData},
    {"GetConnectionIP", CmdGetConnectionIP},
    {"GetConnectionPort", CmdGetConnectionPort},
    {"GetHostName", CmdGetHostName},
    {"ToIP", CmdToIP},
    {"ToHostName", CmdToHostName},
    {"DownloadFile", CmdDownloadFile},
    {"UploadFile", CmdUploadFile},
    {"SetNetworkTimeout", CmdSetNetworkTimeout},
    {"GetLocalIP", CmdGetLocalIP},
    {"GetLocalPort", CmdGetLocalPort},
    {"CreateUDPObject", CmdCreateUDPObject},
    {"CloseUDPObject", CmdCloseUDPObject},
    {"SendUDPData", CmdSendUDPData},
    {"ReceiveUDPData", CmdReceiveUDPData},
    {"IsOnline", CmdIsOnline},
    {"GetMACAddress", CmdGetMACAddress},
    {"GetConnectionProtocol", CmdGetConnectionProtocol},
    {"GetLocalProtocol", CmdGetLocalProtocol},
    {"SetNetworkProtocol", CmdSetNetworkProtocol},
    {"ResolveHostName", CmdResolveHostName},
    {"GetLocalInterfaces", CmdGetLocalInterfaces},
    {nullptr, nullptr},
};

static const lvConstantEntry networkConstants[] = {
    {"CLIENT", nullptr, LV_NET_CLIENT},
    {"SERVER", nullptr, LV_NET_SERVER},
    {"UDPOBJECT", nullptr, LV_NET_UDPOBJECT},
    {"ATTRADAPTER", nullptr, LV_NET_ATTRADAPTER},
    {"RECEIVEALL", nullptr, LV_RECEIVEALL},
    {"RECEIVEBYTES", nullptr, LV_RECEIVEBYTES},
    {"RECEIVELINE", nullptr, LV_RECEIVELINE},
    {"FTPASCII", nullptr, 97},
    {"FTPBINARY", nullptr, 105},
    {"DOWNLOADFILE_STATUS", nullptr, 0},
    {"UPLOADFILE_STATUS", nullptr, 0},
    {"UPLOADFILE_RESPONSE", nullptr, 1},
    {"NETWORKCONNECTION", nullptr, LV_NETWORKCONNECTION},
    {"NETWORKSERVER", nullptr, LV_NETWORKSERVER},
    {"NETWORKUDP", nullptr, LV_NETWORKUDP},
    {"RECEIVEDATA_PACKET", nullptr, 0},
    {"IPAUTO", nullptr, LV_IPAUTO},
    {"IPV4", nullptr, LV_IPV4},
    {"IPV6", nullptr, LV_IPV6},
    {"IPUNKNOWN", nullptr, LV_IPUNKNOWN},
    {"UDPSERVER", nullptr, LV_UDPSERVER},
    {"UDPCLIENT", nullptr, LV_UDPCLIENT},
    {"UDPNONE", nullptr, LV_UDPNONE},
    {nullptr, nullptr, 0},
};

const lvConstantEntry *GetNetworkConstants(void)
{
    return networkConstants;
}

const lvCommandEntry *GetNetworkCommands(void)
{
    return networkCommands;
}

// ---- Open and close ------------------------------------------------------------------------------

int OpenNetworkCommands(lvState *L)
{
    networkRefOps = MakeRegistryRefOps(L);
    lvNetworkHooks hooks = {L, HookPollEvents, HookQuitRequested, HookCallProgress, HookCancelCallbacks};
    if (int r = OpenNetworkLibrary(&networkRefOps, &hooks, ClientAttribute)) return r;
    return RegisterCommandTable(L, networkCommands, "network");
}

void CloseNetworkCommands(lvState *L, int full)
{
    FreeNetworkObjects();
}

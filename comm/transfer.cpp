// transfer.cpp - the transfer record of DownloadFile and UploadFile: the start (URL,
// connection, request, reply head and redirects) and the steps that move the body into
// memory or a file.
//
// The memory destination is reserved once from the announced length (up to 256 MiB) and
// then grows geometrically as bytes arrive. Pages of a reservation are only taken as
// bytes land in them, so a lying length costs address space, not memory, and a body of
// the announced length is never regrown and copied. The block is a string block of the
// machine: the script's string is made from it in place, so the body is held once. A synchronous run waits a moment on the socket
// when a step found nothing, instead of sleeping after every step.
//
// A download to a file writes a name beside it and renames that over the file once the
// body is whole: a failed or stopped transfer removes its part and leaves an earlier
// file of the name as it was. A file an adapter serves is written in place (no rename
// reaches it).
#include "comm/transfer.h"
#include "runtime/errors.h"
#include "runtime/lists.h"
#include "base/lverrors.h"
#include "runtime/lvplugin.h"
#include "runtime/plugin.h"
#include "runtime/vfile.h"
#include "platform/lvplatform_files.h"
#include "vm/lvvm.h"

#include <cstdio>
#include <cstring>
#include <unistd.h>

static char *CopyText(const char *text)
{
    size_t n = std::strlen(text);
    char *copy = (char *)AllocMemory(n + 1, 0);
    if (copy) std::memcpy(copy, text, n + 1);
    return copy;
}

static void ReleaseReference(int ref)
{
    const lvRefOps *ops = GetNetworkLibrary()->refOps;
    if (ref != -1 && ops && ops->release) ops->release(ops->context, ref);
}

void ReleaseTransfer(lvTransfer *t)
{
    if (t->control) FreeConnection(t->control);
    if (t->dataConnection) FreeConnection(t->dataConnection);
    t->control = t->dataConnection = t->active = nullptr;
    if (t->file) CloseVFile(t->file);
    if (t->source) CloseVFile(t->source);
    t->file = t->source = nullptr;
    if (t->partName[0]) DeleteFSObject(t->partName);  // the body never became whole
    t->partName[0] = 0;
    FreeMemory(t->upData);
    t->upData = nullptr;
    if (t->body.kind == LV_DEST_MEMORY) FreeStringBlock((char *)t->body.data);
    t->body.data = nullptr;
    FreeMemory(t->post);
    FreeMemory(t->requestUrl);
    FreeMemory(t->customHeaders);
    t->post = nullptr;
    t->requestUrl = t->customHeaders = nullptr;
    FreeUserTags(t->userTags, 0);
    t->userTags = nullptr;
    FreeFormParts(t->formParts);
    t->formParts = t->currentPart = nullptr;
    ReleaseReference(t->callback);
    ReleaseReference(t->userdata);
    t->callback = t->userdata = -1;
    FreeMemory(t->scriptUrl);
    FreeMemory(t->adapterParts);
    t->scriptUrl = nullptr;
    t->adapterParts = nullptr;
}

void FreeTransferBlock(lvTransfer *t)
{
    ReleaseTransfer(t);
    FreeMemory(t);
}

// The form as an adapter sees it: one allocation, nodes first, then their texts.
static int CopyFormForAdapter(lvTransfer *t)
{
    size_t count = 0, texts = 0;
    for (const lvFormPart *p = t->formParts; p; p = p->next) {
        count++;
        texts += std::strlen(p->name) + std::strlen(p->mimeType) + std::strlen(p->fileName) + 3;
    }
    if (count == 0) return 0;
    size_t bytes = count * sizeof(lvNetFormPart) + texts;
    auto *nodes = (lvNetFormPart *)AllocMemory(bytes, 1);
    if (!nodes) return ERR_MEM;
    char *text = (char *)(nodes + count);
    auto keep = [&text](const char *s) {
        size_t n = std::strlen(s) + 1;
        std::memcpy(text, s, n);
        const char *kept = text;
        text += n;
        return kept;
    };
    size_t i = 0;
    for (const lvFormPart *p = t->formParts; p; p = p->next, i++) {
        lvNetFormPart *n = &nodes[i];
        n->next = i + 1 < count ? &nodes[i + 1] : nullptr;
        n->name = keep(p->name);
        const char *type = keep(p->mimeType), *file = keep(p->fileName);
        n->mimeType = p->mimeType[0] ? type : nullptr;
        n->fileName = p->mimeType[0] ? file : nullptr;
        n->data = p->data;
        n->file = p->file;
        n->size = p->size;
    }
    t->adapterParts = nodes;
    return 0;
}

// The tags of the transfer's connection that adapters read (the network engine adds
// ssl, the time-out, the adapter word and the user tags).
static size_t TransferTags(lvTransfer *t, lvAdapterTag *tags)
{
    size_t n = 0;
    auto add = [&](uint32_t tag, intptr_t value) { tags[n++] = {tag, value}; };
    add(LVP_NETTAG_URL, (intptr_t)t->scriptUrl);
    add(LVP_NETTAG_UPLOAD, t->upload);
    add(LVP_NETTAG_REDIRECT, t->redirect);
    add(LVP_NETTAG_FTPASCII, t->url.ftpMode == 'a');
    add(LVP_NETTAG_TRANSFER, t->verbose);
    add(LVP_NETTAG_FAIL404, t->fail404);
    add(LVP_NETTAG_ENCODED, t->encoded);
    if (t->upload && t->adapterParts) {
        add(LVP_NETTAG_FORMPARTS, (intptr_t)t->adapterParts);
    } else if (t->upload) {
        t->adapterUploadSize = t->upData ? (int64_t)t->upLength : t->sourceSize;
        add(LVP_NETTAG_UPLOADSIZE, (intptr_t)&t->adapterUploadSize);
    }
    if (t->post) {
        t->adapterPostLength = (int64_t)t->postLength;
        add(LVP_NETTAG_POST, (intptr_t)t->post);
        add(LVP_NETTAG_POSTLENGTH, (intptr_t)&t->adapterPostLength);
        add(LVP_NETTAG_POSTTYPE, (intptr_t)t->postType);
    }
    if (t->url.credentials) {
        add(LVP_NETTAG_USER, (intptr_t)t->url.user);
        add(LVP_NETTAG_PASSWORD, (intptr_t)t->url.password);
    }
    if (t->proxy[0]) add(LVP_NETTAG_PROXY, (intptr_t)t->proxy);
    if (t->userAgentGiven) add(LVP_NETTAG_USERAGENT, (intptr_t)t->userAgent);
    if (t->customHeaders) add(LVP_NETTAG_CUSTOMHEADERS, (intptr_t)t->customHeaders);
    tags[n] = {0, 0};
    return n;
}

// Opens the connection of the parsed URL. An upload whose length cannot be told is not
// offered to adapters: they are promised the length up front.
static int ConnectTransfer(lvTransfer *t)
{
    lvAdapterTag tags[24];
    TransferTags(t, tags);
    const char *list = t->adapter[0] ? t->adapter : nullptr;
    if (t->upload && !t->adapterParts && t->source && t->sourceSize < 0) list = "inbuilt";
    lvConnectOptions options = {list, t->ipProtocol, t->ssl, t->userTags, tags};
    if (int r = ConnectToHost(t->url.host, t->url.port, &options, &t->control)) return r;
    t->control->noEventPolling = 1;
    if (t->control->adapterWord != 0 || t->protocol == LV_TRANSFER_ADAPTER) {
        // The adapter moves the whole transfer: no request, no login.
        t->protocol = LV_TRANSFER_ADAPTER;
        if (t->upload && t->adapterParts) t->formAsDownload = 1;
        t->active = t->control;
    }
    return 0;
}

void FreeFormParts(lvFormPart *parts)
{
    while (parts) {
        lvFormPart *next = parts->next;
        FreeMemory(parts->data);
        if (parts->file) CloseVFile(parts->file);
        FreeMemory(parts);
        parts = next;
    }
}

int64_t FormLength(const lvFormPart *p, size_t boundaryLength)
{
    int64_t length = (int64_t)boundaryLength + 4;
    for (; p; p = p->next) {
        length += (int64_t)(boundaryLength + std::strlen(p->name)) + 47 + p->size;
        if (p->mimeType[0]) length += (int64_t)(std::strlen(p->fileName) + std::strlen(p->mimeType)) + 29;
    }
    return length;
}

// Sends the request of the current URL and, unless a form follows, reads the reply head.
static int RequestHttp(lvTransfer *t, lvHttpReply *reply)
{
    const char *target = "/";
    if (t->proxy[0]) {
        target = t->requestUrl;
    } else {
        const char *scheme = std::strstr(t->requestUrl, "://");
        const char *slash = std::strchr(scheme ? scheme + 3 : t->requestUrl, '/');
        if (slash) target = slash;
    }
    lvHttpRequest request = {};
    request.method = t->post ? "POST" : "GET";
    request.target = target;
    request.host = t->url.hostHeader;
    request.userAgent = t->userAgent;
    if (t->url.credentials) {
        request.user = t->url.user;
        request.password = t->url.password;
    }
    char formType[160];
    if (t->post) {
        request.contentType = t->postType;
        request.contentLength = (int64_t)t->postLength;
    } else if (t->upload) {
        request.method = "POST";
        std::snprintf(formType, sizeof formType, "multipart/form-data; boundary=%s", t->boundary + 2);
        request.contentType = formType;
        request.contentLength = FormLength(t->formParts, std::strlen(t->boundary));
    }
    request.customHeaders = t->customHeaders;
    size_t length = 0;
    char *head = BuildHttpRequestHead(&request, &length);
    if (!head) return ERR_MEM;
    int r = SendAllOrFail(t->control, head, length);
    FreeMemory(head);
    if (r == 0 && t->post) {
        r = SendAllOrFail(t->control, t->post, t->postLength);
        if (r == 0) r = SendAllOrFail(t->control, "\r\n", 2);
    }
    if (r || t->upload) return r;
    r = ReadHttpResponseHead(t->control, t->url.credentials, t->fail404,
                             t->redirect && t->redirects < LV_HTTP_MAX_REDIRECTS, t->location, sizeof t->location,
                             reply);
    if (r == ERR_FILENOTFOUND) SetErrorStringArg(t->url.path);
    t->status = reply->status;
    return r;
}

// Parses the URL of a (new) request. Credentials of the earlier URL stay in force only
// when the new one goes to the same scheme, host and port.
static int ParseRequestUrl(lvTransfer *t, const char *url)
{
    lvTransferUrl earlier = t->url;
    if (int r = ParseTransferUrl(url, t->proxy[0] ? t->proxy : nullptr, t->pluginMode, &t->url)) return r;
    if (!t->url.credentials && earlier.credentials && earlier.protocol == t->url.protocol &&
        earlier.secure == t->url.secure && earlier.port == t->url.port &&
        std::strcmp(earlier.host, t->url.host) == 0) {
        std::memcpy(t->url.user, earlier.user, sizeof earlier.user);
        std::memcpy(t->url.password, earlier.password, sizeof earlier.password);
        t->url.credentials = 1;
    }
    return 0;
}

// How the reply's body is delimited, and the size the progress callback is told.
static void TakeReplyFraming(lvTransfer *t, const lvHttpReply *reply)
{
    t->blockMode = reply->chunked;
    t->untilClose = reply->untilClose;
    t->emptyBody = reply->emptyBody;
    t->size = reply->untilClose ? (int64_t)LV_HTTP_UNTIL_CLOSE_SIZE : reply->chunked ? 0 : reply->length;
    t->chunkLeft = -1;
}

static int StartHttp(lvTransfer *t)
{
    for (;;) {
        if (int r = ConnectTransfer(t)) return r;
        if (t->protocol == LV_TRANSFER_ADAPTER) return 0;
        lvHttpReply reply = {};
        if (int r = RequestHttp(t, &reply)) return r;
        if (!reply.redirect) {
            TakeReplyFraming(t, &reply);
            t->active = t->control;
            return 0;
        }
        t->redirects++;
        FreeConnection(t->control);
        t->control = nullptr;
        char *next = ResolveRedirectUrl(t->requestUrl, t->location);
        if (!next) return ERR_MEM;
        FreeMemory(t->requestUrl);
        t->requestUrl = next;
        if (int r = ParseRequestUrl(t, next)) return r;
        t->protocol = t->url.protocol;
        if (t->protocol == LV_TRANSFER_FTP) return 0;  // the caller logs in there
        if (t->protocol != LV_TRANSFER_HTTP) return ERR_UNKPROTOCOL;
    }
}

static void CopyOption(char *buffer, size_t size, const char *text)
{
    std::snprintf(buffer, size, "%s", text ? text : "");
}

// An FTP upload's "data" or "file" (exactly one of them).
static int OpenUploadSource(lvTransfer *t, const lvTransferOptions *o)
{
    if ((o->data && o->file) || (!o->data && !o->file) || (o->data && o->dataLength == 0)) return ERR_WRONGUSAGE;
    if (o->data) {
        if (!(t->upData = (uint8_t *)AllocMemory(o->dataLength, 0))) return ERR_MEM;
        std::memcpy(t->upData, o->data, o->dataLength);
        t->upLength = o->dataLength;
        return 0;
    }
    int flags = LV_VF_READ | (t->fileAdapter[0] ? LV_VF_ADAPTERS : 0);
    t->source = OpenVFile(t->fileName, flags, t->fileAdapter[0] ? t->fileAdapter : nullptr, t->userTags);
    if (!t->source) {
        SetErrorStringArg(t->fileName);
        return ERR_READFILE;
    }
    t->sourceSize = GetVFileSize(t->source);
    t->fileName[0] = 0;  // no download destination
    return 0;
}

// The FTP URL's login and data connection (also at the end of an HTTP redirect).
static int StartFtp(lvTransfer *t, const lvTransferOptions *o)
{
    if (!t->url.ftpMode) t->url.ftpMode = o->transferMode == LV_FTPASCII ? 'a' : 'i';
    int r = t->upload ? OpenUploadSource(t, o) : 0;
    if (r == 0) r = ConnectTransfer(t);
    if (r == 0 && t->protocol != LV_TRANSFER_ADAPTER) r = LoginFtp(t);
    t->untilClose = !t->upload;  // the server's close of the data connection ends the body
    return r;
}

int StartTransfer(const lvTransferOptions *o, lvTransfer **out)
{
    *out = nullptr;
    lvTransfer *t = (lvTransfer *)AllocMemory(sizeof(lvTransfer), 1);
    if (!t) {
        ReleaseReference(o->callback);
        ReleaseReference(o->userdata);
        FreeUserTags(o->userTags, 0);
        FreeFormParts(o->formParts);
        return ERR_MEM;
    }
    InitAsyncOperation(&t->head, StepTransfer, FreeTransfer, 0);
    t->callback = o->callback;
    t->userdata = o->userdata;
    t->userTags = o->userTags;
    t->formParts = o->formParts;
    int r = StartNetwork();
    t->upload = o->upload;
    t->fail404 = o->fail404;
    t->redirect = o->redirect;
    t->silentfail = o->silentfail;
    t->ipProtocol = o->protocol;
    t->ssl = o->ssl;
    t->async = o->async;
    t->pluginMode = o->adapter && *o->adapter && !IsBuiltinAdapterName(o->adapter);
    CopyOption(t->adapter, sizeof t->adapter, o->adapter);
    CopyOption(t->fileAdapter, sizeof t->fileAdapter, o->fileAdapter);
    CopyOption(t->proxy, sizeof t->proxy, o->proxy);
    CopyOption(t->fileName, sizeof t->fileName, o->file);
    CopyOption(t->postType, sizeof t->postType, o->postType ? o->postType : "application/x-www-form-urlencoded");
    CopyOption(t->userAgent, sizeof t->userAgent, o->userAgent ? o->userAgent : "Lumivarra 11.0");
    t->userAgentGiven = o->userAgent != nullptr;
    t->verbose = o->verbose;
    t->encoded = o->encoded;
    if (r == 0 && !(t->scriptUrl = CopyText(o->url))) r = ERR_MEM;
    if (r == 0 && o->customHeaders && !(t->customHeaders = CopyText(o->customHeaders))) r = ERR_MEM;
    if (r == 0 && o->post) {
        if (o->postLength == 0) r = ERR_WRONGUSAGE;
        else if (!(t->post = (uint8_t *)AllocMemory(o->postLength, 0))) r = ERR_MEM;
        else std::memcpy(t->post, o->post, o->postLength);
        t->postLength = o->postLength;
    }
    char *parseUrl = nullptr;
    if (r == 0 && o->encoded) {
        r = UnescapeUrl(o->url, &parseUrl);
        if (r == 0 && !(t->requestUrl = CopyText(parseUrl))) r = ERR_MEM;
    } else if (r == 0) {
        if (!(t->requestUrl = EscapeUrl(o->url))) r = ERR_MEM;
    }
    if (r == 0) r = ParseRequestUrl(t, parseUrl ? parseUrl : o->url);
    FreeMemory(parseUrl);
    t->protocol = t->url.protocol;
    if (r == 0 && t->upload && t->protocol != LV_TRANSFER_FTP) r = CopyFormForAdapter(t);
    if (r == 0 && t->protocol == LV_TRANSFER_ADAPTER) {
        if (t->upload && !t->adapterParts) r = OpenUploadSource(t, o);
        if (r == 0) r = ConnectTransfer(t);
    } else if (r == 0 && t->protocol == LV_TRANSFER_HTTP && t->upload) {
        // The form goes in the steps; the reply head is read after it.
        t->currentPart = t->formParts;
        lvTimeVal now;
        GetTimeVal(&now);
        std::snprintf(t->boundary, sizeof t->boundary, "-----------Lumivarra%.8x%.8x", (unsigned)now.seconds,
                      (unsigned)now.microseconds);
        if (!t->formParts || o->file) r = ERR_WRONGUSAGE;
        if (r == 0) r = ConnectTransfer(t);
        lvHttpReply none = {};
        if (r == 0 && t->protocol != LV_TRANSFER_ADAPTER) r = RequestHttp(t, &none);
        t->active = t->control;
    } else if (r == 0 && t->protocol == LV_TRANSFER_FTP) {
        r = StartFtp(t, o);
    } else if (r == 0 && !t->upload) {
        r = StartHttp(t);
        if (r == 0 && t->protocol == LV_TRANSFER_FTP) r = StartFtp(t, o);  // redirected there
    }
    if (r) {
        FreeTransferBlock(t);
        return r;
    }
    *out = t;
    return 0;
}

// The first step: the progress callback's counts and the destination.
static int BeginBody(lvTransfer *t)
{
    t->started = 1;
    lvConnection *c = t->active;
    c->callback = t->callback;
    c->userdata = t->userdata;
    c->action = t->upload ? 1 : 0;
    c->count = 0;
    c->total = t->size > 0 ? (uint64_t)t->size : 0;
    t->ascii = t->protocol == LV_TRANSFER_FTP && !t->upload && t->url.ftpMode == 'a';
    if (t->fileName[0]) {
        int flags = LV_VF_WRITE | (t->fileAdapter[0] ? LV_VF_ADAPTERS : 0);
        const char *name = t->fileName;
        if (!t->fileAdapter[0] && !IsChunkName(t->fileName)) {
            std::snprintf(t->partName, sizeof t->partName, "%s.%d.part", t->fileName, (int)getpid());
            name = t->partName;
        }
        t->file = OpenVFile(name, flags, t->fileAdapter[0] ? t->fileAdapter : nullptr, t->userTags);
        if (!t->file) t->partName[0] = 0;
        if (!t->file) {
            SetErrorStringArg(t->fileName);
            return ERR_WRITEFILE;
        }
        if (!t->ascii) {
            t->body.kind = LV_DEST_FILE;
            t->body.file = t->file;
            return 0;
        }
    }
    t->body.kind = LV_DEST_MEMORY;
    t->body.growable = 1;
    int64_t first = t->blockMode || t->size <= 0 ? 0 : t->size;
    if (first > LV_HTTP_FIRST_ALLOCATION) first = LV_HTTP_FIRST_ALLOCATION;
    if (t->file) first = 0;  // only a staging buffer in front of the file
    if (first > 0) {
        t->body.data = (uint8_t *)NewStringBlock((size_t)first);
        if (!t->body.data) return ERR_MEM;
        t->body.capacity = (size_t)first;
    }
    return 0;
}

// Reads into the destination; *moved the bytes that came in this call.
static int ReceiveBody(lvTransfer *t, int mode, uint64_t count, uint64_t *moved)
{
    uint64_t before = t->bodyStep.total;
    lvReceiveResult result = {};
    t->body.step = &t->bodyStep;
    int r = ReceiveBuffered(t->active, mode, count, 1, &t->body, &result);
    *moved = t->bodyStep.total - before;
    return r;
}

// One block of an FTP upload.
static int SendUploadBlock(lvTransfer *t, int *done)
{
    lvConnection *c = t->active;
    if (!t->started) {
        t->started = 1;
        c->callback = t->callback;
        c->userdata = t->userdata;
        c->action = 0;
        c->count = 0;
        c->total = t->upData ? t->upLength : t->sourceSize > 0 ? (uint64_t)t->sourceSize : 0;
    }
    if (t->upData) {
        size_t piece = t->upLength - t->upOffset;
        if (piece > 65536) piece = 65536;
        if (int r = SendAllOrFail(c, t->upData + t->upOffset, piece)) return r;
        t->upOffset += piece;
        t->sent += (int64_t)piece;
        *done = t->upOffset >= t->upLength;
        return 0;
    }
    uint8_t block[LV_NET_BUFFER_SIZE];
    int64_t n = ReadVFile(t->source, block, sizeof block);
    if (n < 0) n = 0;
    if (n > 0) {
        if (int r = SendAllOrFail(c, block, (size_t)n)) return r;
        t->sent += n;
    }
    if (n < (int64_t)sizeof block) {
        *done = 1;
        if (t->sourceSize >= 0 && t->sent != t->sourceSize) return ERR_SENDDATA;
    }
    return 0;
}

static int MoveBody(lvTransfer *t, int *done);

// One step of a form: a part's header, a block of its bytes, its end; after the last
// part the closing line and the reply head.
static int SendFormStep(lvTransfer *t)
{
    lvConnection *c = t->active;
    if (!t->started) {
        t->started = 1;
        c->callback = t->callback;
        c->userdata = t->userdata;
        c->action = 0;
        c->count = 0;
        c->total = (uint64_t)FormLength(t->formParts, std::strlen(t->boundary));
    }
    lvFormPart *p = t->currentPart;
    if (p && !t->partHeaderSent) {
        int n = p->mimeType[0]
                    ? std::snprintf(t->location, sizeof t->location,
                                    "%s\r\nContent-Disposition: form-data; name=\"%s\"; filename=\"%s\"\r\n"
                                    "Content-Type: %s\r\n\r\n",
                                    t->boundary, p->name, p->fileName, p->mimeType)
                    : std::snprintf(t->location, sizeof t->location,
                                    "%s\r\nContent-Disposition: form-data; name=\"%s\"\r\n\r\n", t->boundary,
                                    p->name);
        if (int r = SendAllOrFail(c, t->location, (size_t)n)) return r;
        t->partHeaderSent = 1;
        t->partOffset = 0;
        return 0;
    }
    if (p) {
        uint8_t block[LV_NET_BUFFER_SIZE];
        const uint8_t *bytes = p->data ? p->data + t->partOffset : block;
        uint64_t left = (uint64_t)p->size - t->partOffset, piece = left < sizeof block ? left : sizeof block;
        if (p->file && piece) {
            int64_t n = ReadVFile(p->file, block, (int64_t)piece);
            if (n != (int64_t)piece) return ERR_SENDDATA;
        }
        if (piece) {
            if (int r = SendAllOrFail(c, bytes, (size_t)piece)) return r;
        }
        t->partOffset += piece;
        if (t->partOffset >= (uint64_t)p->size) {
            if (int r = SendAllOrFail(c, "\r\n", 2)) return r;
            t->currentPart = p->next;
            t->partHeaderSent = 0;
        }
        return 0;
    }
    int n = std::snprintf(t->location, sizeof t->location, "%s--\r\n", t->boundary);
    if (int r = SendAllOrFail(c, t->location, (size_t)n)) return r;
    c->callback = c->userdata = -1;
    t->formFinished = 1;
    lvHttpReply reply = {};
    int r = ReadHttpResponseHead(c, t->url.credentials, 0, 1, t->location, sizeof t->location, &reply);
    t->status = reply.status;
    if (r) return r;
    if (reply.redirect) return ERR_INTERNAL;
    TakeReplyFraming(t, &reply);
    t->started = 0;  // the reply's body starts afresh
    return 0;
}

// Tells the progress callback what the adapter reports, when that changed.
static int ReportAdapterProgress(lvTransfer *t, uint64_t received)
{
    lvConnection *c = t->active;
    if (t->callback == -1 || !c->adapter || !c->adapter->GetConnectionInfo) return 0;
    int64_t downloadTotal = 0, uploadTotal = 0, uploaded = 0;
    lvPluginTag tags[] = {{LVP_NETINFO_DOWNLOADTOTAL, (intptr_t)&downloadTotal},
                          {LVP_NETINFO_UPLOADTOTAL, (intptr_t)&uploadTotal},
                          {LVP_NETINFO_UPLOADED, (intptr_t)&uploaded},
                          {0, 0}};
    if (((lvGetConnectionInfoFunction)c->adapter->GetConnectionInfo)(c->handle, tags) != 0) return 0;
    bool sending = (t->upload && !t->formAsDownload) || (t->formAsDownload && c->action == 0);
    if (t->formAsDownload && c->action == 0 && received > 0) {
        c->action = 1;  // the reply has begun
        sending = false;
    }
    if (!sending) {
        c->count = received;
        c->total = (uint64_t)(t->upload && !t->formAsDownload ? uploadTotal : downloadTotal);
    } else {
        c->count = (uint64_t)(t->formAsDownload ? uploaded : t->adapterUploaded);
        c->total = (uint64_t)uploadTotal;
    }
    if (c->action == c->lastAction && c->count == c->lastCount && c->total == c->lastTotal) return 0;
    c->callback = t->callback;
    c->userdata = t->userdata;
    lvNetworkLibrary *library = GetNetworkLibrary();
    int r = library->hooks.CallProgress(library->hooks.context, c);
    c->callback = c->userdata = -1;
    return r;
}

// One step of a transfer an adapter moves whole: the body comes through ReceiveData
// until the adapter closes, or the upload goes through SendData block by block.
static int StepAdapterTransfer(lvTransfer *t, int *done)
{
    lvConnection *c = t->active;
    if (!t->started) {
        if (t->upload && !t->formAsDownload) {
            t->started = 1;
        } else {
            t->size = 0;
            t->untilClose = 1;
            if (int r = BeginBody(t)) return r;
        }
        c->callback = c->userdata = -1;  // the adapter's own figures are reported instead
        c->action = 0;
        c->lastAction = -1;
    }
    int r = 0;
    uint64_t moved = 0;
    if (t->upload && !t->formAsDownload) {
        uint8_t block[LV_NET_BUFFER_SIZE];
        const uint8_t *bytes = block;
        int64_t n;
        if (t->upData) {
            n = (int64_t)(t->upLength - t->upOffset);
            if (n > (int64_t)sizeof block) n = sizeof block;
            bytes = t->upData + t->upOffset;
        } else {
            n = ReadVFile(t->source, block, sizeof block);
            if (n < 0) n = 0;
        }
        if (n > 0 && (r = SendAllOrFail(c, bytes, (size_t)n))) return r;
        t->upOffset += (size_t)n;
        t->adapterUploaded += n;
        t->sent += n;
        if (t->upData ? t->upOffset >= t->upLength : n < (int64_t)sizeof block) {
            *done = t->done = 1;
            if (t->source && t->sourceSize >= 0 && t->sent != t->sourceSize) return ERR_SENDDATA;
        }
    } else {
        r = ReceiveBody(t, LV_RECEIVEALL, 0, &moved);
        if (r == ERR_RECVCLOSED && t->bodyStep.total == 0) {  // nothing came before the close
            r = 0;
            t->bodyStep.done = 1;
        }
        t->received += (int64_t)moved;
        if (r) return r;
        if (t->bodyStep.done) *done = t->done = 1;
    }
    if (int p = ReportAdapterProgress(t, (uint64_t)t->received)) return p;
    if (!*done && moved == 0 && !t->upload && !t->async) WaitForConnectionData(c, 1);
    return 0;
}

// The whole body is in the part file: it takes the requested name.
static int CommitDownloadFile(lvTransfer *t)
{
    if (!t->file) return 0;
    int r = FlushVFile(t->file) ? 0 : ERR_WRITE;
    if (!CloseVFile(t->file) && r == 0) r = ERR_WRITE;
    t->file = nullptr;
    if (r == 0 && t->partName[0] && !RenameFSObject(t->partName, t->fileName)) {
        SetErrorStringArg(t->fileName);
        r = ERR_WRITEFILE;
    }
    if (r == 0) t->partName[0] = 0;  // else ReleaseTransfer removes it
    return r;
}

int AdvanceTransfer(lvTransfer *t, int *done)
{
    *done = 0;
    int r;
    if (t->protocol == LV_TRANSFER_ADAPTER) {
        r = StepAdapterTransfer(t, done);
    } else if (t->upload && t->protocol == LV_TRANSFER_HTTP && !t->formFinished) {
        return SendFormStep(t);
    } else {
        r = t->upload && t->protocol == LV_TRANSFER_FTP ? SendUploadBlock(t, done) : MoveBody(t, done);
        if (r == 0 && *done && t->protocol == LV_TRANSFER_FTP) {
            if (t->active) t->active->callback = t->active->userdata = -1;
            r = FinishFtp(t);
        }
    }
    if (r == 0 && *done && !t->upload) r = CommitDownloadFile(t);
    return r;
}

// ASCII mode: the bytes that came since from (and a CR kept from the step before) lose
// the CR of every CR LF. With a file, what is converted goes to it, but for a last CR
// whose LF may come with the next step. final: the body is complete.
static int ConvertAsciiBytes(lvTransfer *t, size_t from, bool final)
{
    uint8_t *d = t->body.data;
    size_t n = t->body.length, start = t->asciiCR && from > 0 ? from - 1 : from, w = start;
    t->asciiOut -= (int64_t)(from - start);  // a kept CR is counted again below
    for (size_t r = start; r < n; r++) {
        if (d[r] == '\r' && r + 1 < n && d[r + 1] == '\n') continue;
        d[w++] = d[r];
    }
    t->asciiOut += (int64_t)w - (int64_t)start;
    t->body.length = w;
    t->asciiCR = !final && w > 0 && d[w - 1] == '\r';
    if (!t->file) return 0;
    size_t ready = w - (t->asciiCR ? 1 : 0);
    if (ready && WriteVFile(t->file, d, (int64_t)ready) != (int64_t)ready) return ERR_WRITE;
    if (t->asciiCR) d[0] = '\r';
    t->body.length = t->asciiCR ? 1 : 0;
    return 0;
}

static int MoveBodyPiece(lvTransfer *t, int *done);

// A synchronous run takes up to 32 pieces a step while they keep coming, so the events
// let in between steps cost little beside a fast body; a script stepping an "async"
// handle gets one piece a step.
static int MoveBody(lvTransfer *t, int *done)
{
    int pieces = t->async ? 1 : 32;
    for (int i = 0;; i++) {
        int64_t before = t->received;
        if (int r = MoveBodyPiece(t, done)) return r;
        if (*done || i + 1 >= pieces || t->received == before) return 0;
    }
}

static int MoveBodyPiece(lvTransfer *t, int *done)
{
    if (!t->started) {
        if (int r = BeginBody(t)) return r;
    }
    if (t->emptyBody) {
        *done = t->done = 1;
        return 0;
    }
    uint64_t moved = 0;
    int r = 0;
    if (t->blockMode) {
        if (t->chunkLeft < 0) {
            int64_t size = 0;
            if ((r = ReadHttpChunkSize(t->active, &size))) return r;
            if (size == 0) {
                *done = t->done = 1;
                return 0;
            }
            t->chunkLeft = size;
            t->bodyStep = {};
        }
        r = ReceiveBody(t, LV_RECEIVEBYTES, (uint64_t)t->chunkLeft, &moved);
        if (r == 0 && t->bodyStep.done) {
            char end[LV_HTTP_STATUS_LINE];
            r = ReadConnectionLine(t->active, end, sizeof end);
            t->chunkLeft = -1;
        }
    } else if (t->untilClose) {
        size_t before = t->body.length;
        r = ReceiveBody(t, LV_RECEIVEALL, 0, &moved);
        if (r == ERR_RECVCLOSED && t->bodyStep.total == 0) {  // an empty body
            r = 0;
            t->bodyStep.done = 1;
        }
        if (r == 0 && t->ascii) r = ConvertAsciiBytes(t, before, t->bodyStep.done != 0);
        if (t->bodyStep.done) *done = t->done = 1;
    } else {
        r = ReceiveBody(t, LV_RECEIVEBYTES, (uint64_t)t->size, &moved);
        if (t->bodyStep.done) *done = t->done = 1;
    }
    t->received += (int64_t)moved;
    if (r) return r;
    if (!*done && moved == 0 && t->head.sleepFlag == 0 && !t->async) WaitForConnectionData(t->active, 1);
    return 0;
}

const uint8_t *TransferResult(const lvTransfer *t, int64_t *size)
{
    *size = t->ascii ? t->asciiOut : t->received;
    return t->body.kind == LV_DEST_MEMORY && !t->fileName[0] ? t->body.data : nullptr;
}

int PushSilentFailure(lvState *L, int code)
{
    char text[1024];
    GetErrorText(code, text, sizeof text);
    PushString(L, text);
    PushNumber(L, -1);
    return 2;
}

int StepTransfer(lvState *L, lvAsyncOperation *operation, int *done)
{
    lvTransfer *t = (lvTransfer *)operation;
    int r = AdvanceTransfer(t, done);
    if (r == 0 && !*done) return 0;
    if (t->active) t->active->callback = t->active->userdata = -1;
    if (r) {
        if (!t->silentfail || r == ERR_USERABORT) return r;
        *done = 1;
        return PushSilentFailure(L, r);
    }
    int64_t size = 0;
    const uint8_t *data = TransferResult(t, &size);
    if (t->upload && !t->formAsDownload && t->protocol != LV_TRANSFER_HTTP) return 0;
    if (data) {
        t->body.data = nullptr;  // the string takes the block as it is
        PushStringBlock(L, (char *)data, (size_t)size);
    } else {
        PushSizedString(L, "", 0);
    }
    PushNumber(L, (double)size);
    return 2;
}

void FreeTransfer(lvState *, lvAsyncOperation *operation)
{
    ReleaseTransfer((lvTransfer *)operation);
}

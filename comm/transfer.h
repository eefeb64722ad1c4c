// transfer.h - DownloadFile and UploadFile: the URL parser and escaping (url.cpp), the
// HTTP/1.1 client (http.cpp) and the transfer record with its start and steps
// (transfer.cpp).
//
// A transfer is an async operation: StartTransfer parses the URL, connects, sends the
// request and reads the reply head (following redirects); AdvanceTransfer then moves
// the body one piece per call until it is done. The script commands in lib_network.cpp
// read the arguments into lvTransferOptions and push what the steps give.
// Every reader of the peer's bytes goes through the connection's receive buffer
// (ReceiveBuffered), so the tests and fuzz targets drive the real code over a fake
// adapter connection.
// Depends on: comm/network.h, runtime/asyncop.h, runtime/vfile.h.
// Limits: script thread only. No built-in TLS: "https://" and "ftps://" need a plug-in.
#pragma once
#include <cstddef>
#include <cstdint>

#include "comm/network.h"
#include "runtime/asyncop.h"

enum {
    LV_TRANSFER_HTTP = 104,     // 'h'
    LV_TRANSFER_FTP = 102,      // 'f'
    LV_TRANSFER_ADAPTER = 117,  // 'u': an adapter moves the whole transfer
    LV_FTPASCII = 97,
    LV_FTPBINARY = 105,
    LV_HTTP_STATUS_LINE = 1024,       // a status line of 1023 bytes and its zero
    LV_HTTP_HEADER_LINE = 32768,      // a header line of 32767 bytes and its zero
    LV_HTTP_FIRST_ALLOCATION = 256 << 20,  // an announced length reserves at most this at once
    LV_HTTP_UNTIL_CLOSE_SIZE = 16384,
    LV_HTTP_MAX_REDIRECTS = 5,
};

// ---- URLs ----------------------------------------------------------------------------

// What a URL names.
struct lvTransferUrl {
    int protocol;          // LV_TRANSFER_*
    int secure;            // "https://" or "ftps://"
    char host[1024];       // the host the connection goes to (the proxy's with a proxy)
    int port;
    char hostHeader[1024]; // HTTP Host: the host without port, or through a proxy the target with its port
    char path[8192];       // from the first "/" after the host on; "/" when there is none
    char user[256], password[256];
    int credentials;       // a user and password were given
    int ftpMode;           // 'a' or 'i' from ";type=", 0 none
};

// Parses url. proxy: nullptr or the "proxy" option; pluginMode lets other schemes and
// the secure ones through. 0, ERR_UNKPROTOCOL, ERR_BADURL or ERR_WRONGUSAGE (proxy).
int ParseTransferUrl(const char *url, const char *proxy, int pluginMode, lvTransferUrl *out);
// The %-escaped copy of text (FreeMemory it), nullptr when memory runs out.
char *EscapeUrl(const char *text);
// Decodes %-escapes except those of bytes EscapeUrl would escape. 0, ERR_WRONGUSAGE
// (a "%" without a hexadecimal digit) or ERR_MEM; *out for FreeMemory.
int UnescapeUrl(const char *text, char **out);
// Text from a strict decimal number: digits only (blanks around allowed), within int64.
// 1 on success.
int ParseStrictDecimal64(const char *text, int64_t *out);

// ---- HTTP ------------------------------------------------------------------------------

// What the header lines said.
struct lvHttpHeaders {
    int64_t length;     // Content-Length, -1 none
    int chunked;
    char *location;     // the caller's buffer (locationSize bytes), "" none
    size_t locationSize;
    size_t headBytes;   // header bytes and lines read so far for this reply, bounded
    int headLines;
};

// What a request needs.
struct lvHttpRequest {
    const char *method;          // "GET" or "POST"
    const char *target;          // path and query, or the whole URL through a proxy
    const char *host;            // Host header
    const char *userAgent;
    const char *user, *password; // credentials, nullptr none
    const char *contentType;     // POST only
    int64_t contentLength;       // POST only
    const char *customHeaders;   // nullptr none
};

// The request head in a new buffer (FreeMemory it); *length its size. nullptr: no memory.
char *BuildHttpRequestHead(const lvHttpRequest *request, size_t *length);
// One line without carriage returns and line feed into buffer (zero-ended). 0,
// ERR_MEM (longer than size - 1), ERR_RECVCLOSED, ERR_RECVTIMEOUT and the engine's errors.
int ReadConnectionLine(lvConnection *connection, char *buffer, size_t size);
// The status code of the next status line, or ERR_HTTPERROR (1001, 1002, 1003 as the number).
int ReadHttpStatusLine(lvConnection *connection, int *status);
// Header lines up to the empty one. 0, ERR_HTTPTE, ERR_HTTPERROR (3000: a bad length; 1004:
// more than 256 KiB or 1000 lines of header, counted across the 100 replies too) or read errors.
int ReadHttpHeaders(lvConnection *connection, lvHttpHeaders *headers);
// A chunk header's size. 0, ERR_HTTPERROR (3000) or read errors.
int ReadHttpChunkSize(lvConnection *connection, int64_t *size);
// Interprets the status line and headers of the reply (100s skipped). *redirect set when
// the location is to be followed. 0 or the error of the reply; a head that is not whole
// within the network time-out (bytes trickling or not) is ERR_RECVTIMEOUT.
struct lvHttpReply {
    int status;
    int redirect;
    int64_t length;   // -1 none
    int chunked;
    int untilClose;
    int emptyBody;
};
int ReadHttpResponseHead(lvConnection *connection, int credentials, int fail404, int followRedirect,
                         char *location, size_t locationSize, lvHttpReply *reply);
// The URL a redirect goes to, from the current request URL and a location (absolute,
// "/path", or relative). FreeMemory it; nullptr when memory runs out.
char *ResolveRedirectUrl(const char *current, const char *location);

// ---- FTP ---------------------------------------------------------------------------------

// A reply: its code and its last line (size bytes). 0, ERR_FTPERROR (1: a middle line
// with another code) or read errors.
int ReadFtpReply(lvConnection *connection, char *line, size_t size, int *code);
// The data address of a passive reply: exactly six numbers of 0..255. 0 or ERR_FTPERROR (2).
int ParseFtpPassive(const char *line, char *host, size_t hostSize, int *port);
// The size of a 213 reply, and the "(1234 bytes)" of a 150 reply: 0 when not a clean number.
int64_t ParseFtpSize(const char *line);
int64_t ParseFtpOpeningSize(const char *line);
struct lvTransfer;
struct lvNetFormPart;
// From the greeting to the data connection and retr or stor. 0 or the errors.
int LoginFtp(lvTransfer *transfer);
// Closes the data connection, reads the completion reply and sends quit.
int FinishFtp(lvTransfer *transfer);

// ---- Transfers ---------------------------------------------------------------------------

// One part of an HTTP upload's multipart form.
struct lvFormPart {
    lvFormPart *next;
    char mimeType[256];   // "" for a plain field
    char name[256];       // the field name
    char fileName[256];   // "" for a plain field
    uint8_t *data;        // a data part's bytes
    lvVFile *file;        // a file part's open file
    int64_t size;
};
// Frees the list with its data and files.
void FreeFormParts(lvFormPart *parts);
// The multipart length of the parts with the boundary.
int64_t FormLength(const lvFormPart *parts, size_t boundaryLength);

// What the command read from its arguments.
struct lvTransferOptions {
    const char *url;
    int upload;
    int transferMode;        // LV_FTPBINARY or LV_FTPASCII
    const char *file;        // "file", nullptr none
    int encoded, protocol, ssl, async, verbose, silentfail, fail404, redirect;
    const char *adapter;     // nullptr: the configured list
    const char *fileAdapter;
    const char *proxy;
    const char *customHeaders;
    const uint8_t *data;     // FTP upload: the bytes to send (nullptr none)
    size_t dataLength;
    const uint8_t *post;     // download: POST body (nullptr none)
    size_t postLength;
    const char *postType;
    const char *userAgent;
    lvUserTag *userTags;     // taken over by StartTransfer, like the references
    lvFormPart *formParts;   // HTTP upload: taken over by StartTransfer
    int callback, userdata;  // registry references, -1 none (the transfer takes them over)
};

struct lvTransfer {
    lvAsyncOperation head;
    lvConnection *control;       // the HTTP connection or the FTP control connection
    lvConnection *dataConnection;
    lvConnection *active;        // the one the body moves over
    lvVFile *file;               // a download's destination file
    lvReceiveDestination body;   // memory or file destination
    lvReceiveStep bodyStep;      // the current body read
    uint8_t *post;               // the "post" body
    size_t postLength;
    char *requestUrl;            // the escaped URL the request is made from
    lvTransferUrl url;
    char location[32768];
    char fileName[1024];
    char partName[1100];         // the file being written beside fileName until the body is whole, "" none
    char userAgent[256], postType[256], fileAdapter[256], adapter[256], proxy[256];
    char *customHeaders;
    int upload, protocol, blockMode, untilClose, done, started, status;
    int64_t size;                // the announced length, or the received size
    int64_t chunkLeft;           // chunked: -1 before the next header
    int64_t received;            // body bytes stored so far
    uint8_t *upData;             // FTP upload: the "data" bytes
    size_t upLength, upOffset;
    lvVFile *source;             // FTP upload: the "file" read
    int64_t sourceSize;          // its size, -1 unknown
    int64_t sent;                // upload bytes sent
    lvFormPart *formParts, *currentPart;
    int partHeaderSent, formFinished;
    uint64_t partOffset;         // bytes of the current part sent
    char boundary[128];
    int async;                   // stepped by the script: steps never wait
    int callback, userdata;
    int fail404, redirect, redirects, silentfail, emptyBody, pluginMode;
    int ipProtocol, ssl;
    lvUserTag *userTags;
    // What a network adapter is told of the transfer, and whether it moves it whole.
    char *scriptUrl;             // the URL as the script gave it
    int verbose, encoded, userAgentGiven;
    int64_t adapterUploadSize, adapterPostLength;
    lvNetFormPart *adapterParts; // the form handed to the adapter, one allocation
    int formAsDownload;          // a form upload an adapter took: its reply is the result
    int64_t adapterUploaded;     // bytes of an adapter upload sent
    // An FTP download in ASCII mode turns the network's CR LF into this system's LF.
    int ascii;                   // converting
    int asciiCR;                 // the converted bytes end with a CR whose LF may follow
    int64_t asciiOut;            // bytes stored after the conversion
};

// Makes and starts a transfer: URL, connection, request and reply head. 0 with *out, or
// an error (nothing left behind; the references were released).
int StartTransfer(const lvTransferOptions *options, lvTransfer **out);
// Moves the next piece of the body; *done when it is complete. 0 or an error.
int AdvanceTransfer(lvTransfer *transfer, int *done);
// The body received into memory (nullptr for a file) and its size.
const uint8_t *TransferResult(const lvTransfer *transfer, int64_t *size);
// Releases what the transfer holds (not the block: the async engine or FreeTransferBlock does).
void ReleaseTransfer(lvTransfer *transfer);
void FreeTransferBlock(lvTransfer *transfer);
// "silentfail": pushes the error's message text and -1; answers 2.
int PushSilentFailure(lvState *state, int code);
// The async step and release functions (push the results on the state).
int StepTransfer(lvState *state, lvAsyncOperation *operation, int *done);
void FreeTransfer(lvState *state, lvAsyncOperation *operation);

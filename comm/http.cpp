// http.cpp - the HTTP/1.1 client of DownloadFile and UploadFile: the request head, the
// status line and headers of the reply with their decisions, and chunk headers.
//
// Everything the peer sends is read through the connection's receive buffer in lines
// of bounded length; numbers from the peer are taken only when they are whole and fit
// in 64 bits, so a lying peer gets an error instead of a huge or negative size. A reply
// head is bounded in size and lines, as common clients bound it, and must arrive whole
// within the network time-out: a peer that trickles header lines cannot hold a transfer.
#include "comm/transfer.h"
#include "libs/serialize_engine.h"
#include "runtime/errors.h"
#include "base/lverrors.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>
#include <strings.h>

enum {
    LV_HTTP_BAD_NUMBER = 3000,
    LV_HTTP_HEAD_TOO_LARGE = 1004,
    LV_HTTP_MAX_CONTINUES = 100,
    LV_HTTP_MAX_HEAD_BYTES = 256 << 10,
    LV_HTTP_MAX_HEAD_LINES = 1000,
};

static int HttpError(int number)
{
    SetErrorNumberArg(number);
    return ERR_HTTPERROR;
}

char *BuildHttpRequestHead(const lvHttpRequest *r, size_t *length)
{
    std::string head;
    head.append(r->method).append(" ").append(r->target).append(" HTTP/1.1\r\nTE: trailers\r\n");
    head.append("Connection: close, TE\r\nHost: ").append(r->host).append("\r\nUser-Agent: ");
    head.append(r->userAgent).append("\r\n");
    if (r->user) {
        std::string credentials = std::string(r->user) + ":" + r->password;
        head.append("Authorization: Basic ");
        AppendBase64(head, credentials.data(), credentials.size());
        head.append("\r\n");
    }
    if (r->contentType) {
        char number[32];
        std::snprintf(number, sizeof number, "%lld", (long long)r->contentLength);
        head.append("Content-Type: ").append(r->contentType).append("\r\nContent-Length: ").append(number);
        head.append("\r\n");
    }
    if (r->customHeaders) head.append(r->customHeaders);
    head.append("\r\n");
    char *out = (char *)AllocMemory(head.size() + 1, 0);
    if (!out) return nullptr;
    std::memcpy(out, head.c_str(), head.size() + 1);
    *length = head.size();
    return out;
}

int ReadConnectionLine(lvConnection *c, char *buffer, size_t size)
{
    lvReceiveDestination d = {};
    d.kind = LV_DEST_MEMORY;
    d.data = (uint8_t *)buffer;
    d.capacity = size;
    lvReceiveResult result = {};
    // Protocol lines are no part of the body the progress callback counts.
    int callback = c->callback;
    c->callback = -1;
    int deadline = BeginReadDeadline(c);
    int r = ReceiveBuffered(c, LV_RECEIVELINE, 0, 1, &d, &result);
    EndReadDeadline(c, deadline);
    c->callback = callback;
    if (r == 0 && d.length >= size) r = ERR_MEM;
    if (r == 0) buffer[d.length] = 0;
    return r;
}

int ReadHttpStatusLine(lvConnection *c, int *status)
{
    char line[LV_HTTP_STATUS_LINE];
    if (int r = ReadConnectionLine(c, line, sizeof line)) return r;
    if (std::strncmp(line, "HTTP/", 5) != 0) return HttpError(1001);
    const char *p = line + 5;
    if (!std::isdigit((unsigned char)*p)) return HttpError(1002);
    while (std::isdigit((unsigned char)*p)) p++;
    if (*p == '.') {
        p++;
        if (!std::isdigit((unsigned char)*p)) return HttpError(1002);
        while (std::isdigit((unsigned char)*p)) p++;
    }
    if (*p != ' ') return HttpError(1003);
    while (*p == ' ') p++;
    if (!std::isdigit((unsigned char)*p)) return HttpError(1003);
    int code = 0;
    for (int digits = 0; std::isdigit((unsigned char)*p); p++)
        if (++digits > 3) return HttpError(1003);
        else code = code * 10 + (*p - '0');
    *status = code;
    return 0;
}

// The value after "name: " and further blanks, or nullptr when the line is another header.
static const char *HeaderValue(const char *line, const char *name)
{
    size_t n = std::strlen(name);
    if (strncasecmp(line, name, n) != 0) return nullptr;
    const char *value = line + n;
    while (*value == ' ') value++;
    return value;
}

int ReadHttpHeaders(lvConnection *c, lvHttpHeaders *h)
{
    h->length = -1;
    h->chunked = 0;
    if (h->location && h->locationSize) h->location[0] = 0;
    char *line = (char *)AllocMemory(LV_HTTP_HEADER_LINE, 0);
    if (!line) return ERR_MEM;
    int r = 0;
    while ((r = ReadConnectionLine(c, line, LV_HTTP_HEADER_LINE)) == 0 && line[0]) {
        h->headBytes += std::strlen(line) + 2;
        if (++h->headLines > LV_HTTP_MAX_HEAD_LINES || h->headBytes > LV_HTTP_MAX_HEAD_BYTES) {
            r = HttpError(LV_HTTP_HEAD_TOO_LARGE);
            break;
        }
        if (const char *v = HeaderValue(line, "content-length: ")) {
            if (!ParseStrictDecimal64(v, &h->length)) {
                r = HttpError(LV_HTTP_BAD_NUMBER);
                break;
            }
        } else if ((v = HeaderValue(line, "transfer-encoding: "))) {
            if (strncasecmp(v, "chunked", 7) == 0) {
                h->chunked = 1;
            } else if (strncasecmp(v, "identity", 8) != 0) {
                r = ERR_HTTPTE;
                break;
            }
        } else if ((v = HeaderValue(line, "location: ")) && h->location && h->locationSize) {
            std::snprintf(h->location, h->locationSize, "%s", v);
        }
    }
    FreeMemory(line);
    return r;
}

int ReadHttpChunkSize(lvConnection *c, int64_t *size)
{
    char *line = (char *)AllocMemory(LV_HTTP_HEADER_LINE, 0);
    if (!line) return ERR_MEM;
    int r = ReadConnectionLine(c, line, LV_HTTP_HEADER_LINE);
    int64_t value = 0;
    const char *p = line;
    for (; r == 0 && std::isxdigit((unsigned char)*p); p++) {
        int digit = std::isdigit((unsigned char)*p) ? *p - '0' : std::tolower((unsigned char)*p) - 'a' + 10;
        if (value > (INT64_MAX - digit) / 16) {
            r = HttpError(LV_HTTP_BAD_NUMBER);
            break;
        }
        value = value * 16 + digit;
    }
    if (r == 0 && p == line) r = HttpError(LV_HTTP_BAD_NUMBER);
    FreeMemory(line);
    if (r == 0) *size = value;
    return r;
}

static int ReadResponseHead(lvConnection *c, int credentials, int fail404, int followRedirect, char *location,
                            size_t locationSize, lvHttpReply *reply)
{
    int status = 0;
    if (int r = ReadHttpStatusLine(c, &status)) return r;
    lvHttpHeaders headers = {-1, 0, location, locationSize, 0, 0};
    for (int continues = 0; status == 100; continues++) {
        if (continues == LV_HTTP_MAX_CONTINUES) return HttpError(100);
        if (int r = ReadHttpHeaders(c, &headers)) return r;
        if (int r = ReadHttpStatusLine(c, &status)) return r;
    }
    reply->status = status;
    if (status == 401 && !credentials) return ERR_REQAUTH;
    if (status == 404 && fail404) return ERR_FILENOTFOUND;  // the caller names the path
    if (int r = ReadHttpHeaders(c, &headers)) return r;
    if (location && location[0] && (status == 301 || status == 302) && followRedirect) {
        reply->redirect = 1;
        return 0;
    }
    if ((status >= 100 && status <= 199) || status == 204 || status == 304) return HttpError(status);
    reply->length = headers.length;
    reply->chunked = headers.chunked;
    reply->emptyBody = !headers.chunked && headers.length == 0;
    reply->untilClose = !headers.chunked && headers.length < 0;
    return 0;
}

int ReadHttpResponseHead(lvConnection *c, int credentials, int fail404, int followRedirect, char *location,
                         size_t locationSize, lvHttpReply *reply)
{
    std::memset(reply, 0, sizeof *reply);
    int deadline = BeginReadDeadline(c);
    int r = ReadResponseHead(c, credentials, fail404, followRedirect, location, locationSize, reply);
    EndReadDeadline(c, deadline);
    return r;
}

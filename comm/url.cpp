// url.cpp - the URLs of DownloadFile and UploadFile: scheme, credentials, host, port and
// path, and the %-escaping of request URLs.
//
// A URL comes from a script or from a server's Location header, so every field is
// bounded and a port is taken only when it is a whole number a socket can use.
#include "comm/transfer.h"
#include "base/lverrors.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <strings.h>

// Bytes a request URL carries only as %-escapes.
static bool NeedsEscape(unsigned char ch)
{
    return ch <= 32 || ch > 122 || std::strchr("\"<>%\\^[]`+$,", ch) != nullptr;
}

char *EscapeUrl(const char *text)
{
    size_t length = 0;
    for (const unsigned char *p = (const unsigned char *)text; *p; p++) length += NeedsEscape(*p) ? 3 : 1;
    char *out = (char *)AllocMemory(length + 1, 0);
    if (!out) return nullptr;
    static const char hex[] = "0123456789abcdef";
    char *q = out;
    for (const unsigned char *p = (const unsigned char *)text; *p; p++) {
        if (NeedsEscape(*p)) {
            *q++ = '%';
            *q++ = hex[*p >> 4];
            *q++ = hex[*p & 15];
        } else {
            *q++ = (char)*p;
        }
    }
    *q = 0;
    return out;
}

static int HexValue(char ch)
{
    if (ch >= '0' && ch <= '9') return ch - '0';
    if (ch >= 'a' && ch <= 'f') return ch - 'a' + 10;
    if (ch >= 'A' && ch <= 'F') return ch - 'A' + 10;
    return -1;
}

int UnescapeUrl(const char *text, char **out)
{
    *out = nullptr;
    char *result = (char *)AllocMemory(std::strlen(text) + 1, 0);
    if (!result) return ERR_MEM;
    char *q = result;
    for (const char *p = text; *p;) {
        if (*p != '%') {
            *q++ = *p++;
            continue;
        }
        int high = HexValue(p[1]);
        if (high < 0) {
            FreeMemory(result);
            return ERR_WRONGUSAGE;
        }
        int low = HexValue(p[2]);
        int digits = low < 0 ? 1 : 2;
        unsigned char value = (unsigned char)(low < 0 ? high : high * 16 + low);
        if (NeedsEscape(value)) {
            // Kept escaped: it stays in the request URL as the script wrote it.
            std::memcpy(q, p, (size_t)digits + 1);
            q += digits + 1;
        } else {
            *q++ = (char)value;
        }
        p += digits + 1;
    }
    *q = 0;
    *out = result;
    return 0;
}

int ParseStrictDecimal64(const char *text, int64_t *out)
{
    const char *p = text;
    while (*p == ' ' || *p == '\t') p++;
    if (!std::isdigit((unsigned char)*p)) return 0;
    int64_t value = 0;
    for (; std::isdigit((unsigned char)*p); p++) {
        int digit = *p - '0';
        if (value > (INT64_MAX - digit) / 10) return 0;
        value = value * 10 + digit;
    }
    while (*p == ' ' || *p == '\t') p++;
    if (*p) return 0;
    *out = value;
    return 1;
}

// Copies [begin, end) into a buffer of size bytes; false when it does not fit.
static bool CopyPart(const char *begin, const char *end, char *buffer, size_t size)
{
    size_t length = (size_t)(end - begin);
    if (length >= size) return false;
    std::memcpy(buffer, begin, length);
    buffer[length] = 0;
    return true;
}

// The scheme at the start of url: its protocol and default port, the text after "//".
static int ParseScheme(const char *url, int pluginMode, lvTransferUrl *out, const char **rest)
{
    static const struct {
        const char *prefix;
        int protocol, port, secure;
    } schemes[] = {
        {"http://", LV_TRANSFER_HTTP, 80, 0},
        {"https://", LV_TRANSFER_HTTP, 443, 1},
        {"ftp://", LV_TRANSFER_FTP, 21, 0},
        {"ftps://", LV_TRANSFER_FTP, 21, 1},
    };
    for (const auto &s : schemes) {
        size_t n = std::strlen(s.prefix);
        if (strncasecmp(url, s.prefix, n) != 0) continue;
        if (s.secure && !pluginMode) return ERR_UNKPROTOCOL;
        out->protocol = s.protocol;
        out->port = s.port;
        out->secure = s.secure;
        *rest = url + n;
        return 0;
    }
    const char *separator = std::strstr(url, "://");
    if (!pluginMode || !separator) return ERR_UNKPROTOCOL;
    out->protocol = LV_TRANSFER_ADAPTER;
    out->port = 0;
    *rest = separator + 3;
    return 0;
}

// Credentials, host and port of a host part ("user:password@host:port").
static int ParseHostPart(const char *begin, const char *end, bool port, lvTransferUrl *out)
{
    const char *at = nullptr;
    for (const char *p = begin; p < end; p++)
        if (*p == '@') at = p;
    if (at) {
        const char *colon = (const char *)std::memchr(begin, ':', (size_t)(at - begin));
        if (!colon || colon == begin || colon + 1 == at) return ERR_BADURL;
        if (!CopyPart(begin, colon, out->user, sizeof out->user) ||
            !CopyPart(colon + 1, at, out->password, sizeof out->password))
            return ERR_BADURL;
        out->credentials = 1;
        begin = at + 1;
    }
    const char *hostEnd = end, *search = begin;
    if (*begin == '[') {  // an IPv6 literal: its colons are no port
        const char *close = (const char *)std::memchr(begin, ']', (size_t)(end - begin));
        if (!close) return ERR_BADURL;
        search = close;
    }
    const char *colon = port ? (const char *)std::memchr(search, ':', (size_t)(end - search)) : nullptr;
    if (colon) {
        int64_t number = 0;
        char digits[16];
        if (!std::isdigit((unsigned char)colon[1]) || !CopyPart(colon + 1, end, digits, sizeof digits) ||
            !ParseStrictDecimal64(digits, &number) || number < 1 || number > 65535 ||
            std::strpbrk(digits, " \t"))
            return ERR_BADURL;
        out->port = (int)number;
        hostEnd = colon;
    }
    if (hostEnd == begin) return ERR_BADURL;
    const char *hostBegin = begin;
    if (*begin == '[' && hostEnd[-1] == ']') {
        hostBegin++;
        hostEnd--;
    }
    if (!CopyPart(hostBegin, hostEnd, out->host, sizeof out->host)) return ERR_BADURL;
    if (!CopyPart(begin, colon ? colon : end, out->hostHeader, sizeof out->hostHeader)) return ERR_BADURL;
    return 0;
}

int ParseTransferUrl(const char *url, const char *proxy, int pluginMode, lvTransferUrl *out)
{
    std::memset(out, 0, sizeof *out);
    const char *rest = nullptr;
    if (int r = ParseScheme(url, pluginMode, out, &rest)) return r;
    if (proxy && *proxy && !pluginMode &&
        (out->protocol != LV_TRANSFER_HTTP || strncasecmp(proxy, "http://", 7) != 0))
        return ERR_WRONGUSAGE;

    const char *slash = std::strchr(rest, '/');
    const char *hostEnd = slash ? slash : rest + std::strlen(rest);
    static const char root[] = "/";
    const char *path = slash ? slash : root;
    if (!CopyPart(path, path + std::strlen(path), out->path, sizeof out->path)) return ERR_BADURL;
    if (out->protocol == LV_TRANSFER_FTP) {
        size_t n = std::strlen(out->path);
        if (n >= 8 && strncasecmp(out->path + n - 7, ";type=", 6) == 0) {
            int letter = std::tolower((unsigned char)out->path[n - 1]);
            if (letter != 'a' && letter != 'i') return ERR_BADURL;
            out->ftpMode = letter;
            out->path[n - 7] = 0;
        }
    }

    bool port = out->protocol != LV_TRANSFER_ADAPTER;
    if (proxy && *proxy) {
        // The connection goes to the proxy; the target's host and port name the Host.
        char target[1024];
        if (!CopyPart(rest, hostEnd, target, sizeof target)) return ERR_BADURL;
        const char *proxyHost = std::strstr(proxy, "://");
        proxyHost = proxyHost ? proxyHost + 3 : proxy;
        const char *proxyEnd = std::strchr(proxyHost, '/');
        if (!proxyEnd) proxyEnd = proxyHost + std::strlen(proxyHost);
        out->port = 80;
        if (int r = ParseHostPart(proxyHost, proxyEnd, port, out)) return r;
        const char *at = std::strrchr(target, '@');
        std::strcpy(out->hostHeader, at ? at + 1 : target);
        return 0;
    }
    if (int r = ParseHostPart(rest, hostEnd, port, out)) return r;
    if (out->secure) {
        char secureHost[1024];
        size_t n = (size_t)snprintf(secureHost, sizeof secureHost, "%s://%s/",
                                    out->protocol == LV_TRANSFER_HTTP ? "https" : "ftps", out->host);
        if (n >= sizeof secureHost) return ERR_BADURL;
        std::strcpy(out->host, secureHost);
    }
    return 0;
}

char *ResolveRedirectUrl(const char *current, const char *location)
{
    const char *scheme = std::strstr(current, "://");
    const char *authority = scheme ? scheme + 3 : current;
    const char *pathStart = std::strchr(authority, '/');
    if (!pathStart) pathStart = authority + std::strlen(authority);
    size_t keep;
    if (std::strstr(location, "://")) {
        keep = 0;
    } else if (location[0] == '/') {
        keep = (size_t)(pathStart - current);
    } else {
        // Relative reference: the current path up to its last "/" (query dropped).
        const char *end = pathStart + std::strcspn(pathStart, "?#");
        const char *lastSlash = pathStart;
        for (const char *p = pathStart; p < end; p++)
            if (*p == '/') lastSlash = p;
        keep = (size_t)(lastSlash - current);
        if (*pathStart == '/') keep++;
        else {  // no path: "/" comes between host and location
            char *out = (char *)AllocMemory(keep + std::strlen(location) + 2, 0);
            if (!out) return nullptr;
            std::memcpy(out, current, keep);
            out[keep] = '/';
            std::strcpy(out + keep + 1, location);
            return out;
        }
    }
    size_t n = std::strlen(location);
    char *out = (char *)AllocMemory(keep + n + 1, 0);
    if (!out) return nullptr;
    std::memcpy(out, current, keep);
    std::memcpy(out + keep, location, n + 1);
    return out;
}

// ftp.cpp - the FTP client of DownloadFile and UploadFile: replies, login, passive mode,
// type, size, retr or stor with the data connection, and the closing exchange.
//
// Reply lines are read through the control connection's receive buffer with a bounded
// length. Numbers from the server are taken only when they are whole: a passive reply
// needs exactly six numbers of at most 255, and a size that is not a clean 64-bit
// number stays unknown.
#include "comm/transfer.h"
#include "runtime/errors.h"
#include "base/lverrors.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <strings.h>

enum { LV_FTP_LINE = 1024, LV_FTP_MAX_LINES = 10000 };

static int FtpError(int number)
{
    SetErrorNumberArg(number);
    return ERR_FTPERROR;
}

// The decimal number at the start of a line, -1 when there is none.
static int LineCode(const char *line)
{
    if (!std::isdigit((unsigned char)line[0])) return -1;
    int code = 0;
    for (int i = 0; i < 6 && std::isdigit((unsigned char)line[i]); i++) code = code * 10 + (line[i] - '0');
    return code;
}

// The lines of one reply share one deadline: a server that trickles continuation lines
// cannot hold the login past the network time-out.
static int ReadFtpReplyLines(lvConnection *c, char *line, size_t size, int *code)
{
    if (int r = ReadConnectionLine(c, line, size)) return r;
    *code = LineCode(line);
    for (int lines = 0; std::strlen(line) >= 4 && line[3] == '-'; lines++) {
        if (lines == LV_FTP_MAX_LINES) return FtpError(1);
        if (int r = ReadConnectionLine(c, line, size)) return r;
        if (LineCode(line) != *code) return FtpError(1);
    }
    if (*code < 0) return FtpError(0);
    return 0;
}

int ReadFtpReply(lvConnection *c, char *line, size_t size, int *code)
{
    int deadline = BeginReadDeadline(c);
    int r = ReadFtpReplyLines(c, line, size, code);
    EndReadDeadline(c, deadline);
    return r;
}

int ParseFtpPassive(const char *line, char *host, size_t hostSize, int *port)
{
    int numbers[6], count = 0;
    const char *p = std::strlen(line) > 4 ? line + 4 : line + std::strlen(line);
    while (*p) {
        if (!std::isdigit((unsigned char)*p)) {
            p++;
            continue;
        }
        int value = 0;
        for (; std::isdigit((unsigned char)*p); p++) {
            value = value * 10 + (*p - '0');
            if (value > 255) return FtpError(2);
        }
        if (count == 6) return FtpError(2);
        numbers[count++] = value;
        const char *comma = std::strchr(p, ',');
        if (!comma) break;
        p = comma + 1;
    }
    if (count != 6) return FtpError(2);
    std::snprintf(host, hostSize, "%d.%d.%d.%d", numbers[0], numbers[1], numbers[2], numbers[3]);
    *port = numbers[4] * 256 + numbers[5];
    return 0;
}

int64_t ParseFtpSize(const char *line)
{
    int64_t size = 0;
    if (std::strlen(line) < 4 || !ParseStrictDecimal64(line + 4, &size)) return 0;
    return size;
}

int64_t ParseFtpOpeningSize(const char *line)
{
    size_t n = std::strlen(line);
    if (n <= 4) return 0;
    const char *end = line + n;
    while (end > line + 4 && !std::isdigit((unsigned char)end[-1])) end--;
    const char *begin = end;
    while (begin > line + 4 && std::isdigit((unsigned char)begin[-1])) begin--;
    if (begin == end || strncasecmp(end, " bytes", 6) != 0 || end - begin > 18) return 0;
    int64_t size = 0;
    for (const char *p = begin; p < end; p++) size = size * 10 + (*p - '0');
    return size;
}

// Sends a command line (lower case, CR LF added).
static int SendFtpCommand(lvConnection *c, const char *verb, const char *argument)
{
    char line[LV_FTP_LINE * 2];
    int n = argument ? std::snprintf(line, sizeof line, "%s %s\r\n", verb, argument)
                     : std::snprintf(line, sizeof line, "%s\r\n", verb);
    if (n < 0 || (size_t)n >= sizeof line) return ERR_BADURL;
    return SendAllOrFail(c, line, (size_t)n);
}

// Sends a command and reads its reply.
static int FtpExchange(lvTransfer *t, const char *verb, const char *argument, char *line)
{
    if (int r = SendFtpCommand(t->control, verb, argument)) return r;
    return ReadFtpReply(t->control, line, LV_FTP_LINE, &t->status);
}

int LoginFtp(lvTransfer *t)
{
    char line[LV_FTP_LINE];
    lvConnection *c = t->control;
    if (int r = ReadFtpReply(c, line, sizeof line, &t->status)) return r;
    if (t->status / 100 == 1) {
        if (int r = ReadFtpReply(c, line, sizeof line, &t->status)) return r;
    }
    if (t->status / 100 != 2) return FtpError(0);
    const char *user = t->url.credentials ? t->url.user : "anonymous";
    const char *password = t->url.credentials ? t->url.password : "guest@lumivarra.invalid";
    if (int r = FtpExchange(t, "user", user, line)) return r;
    if (t->status == 331) {
        if (int r = FtpExchange(t, "pass", password, line)) return r;
        if (t->status == 530) return ERR_FTPAUTH;
    }
    if (t->status / 100 != 2) return FtpError(0);
    if (int r = FtpExchange(t, "pasv", nullptr, line)) return r;
    if (t->status / 100 != 2) return FtpError(0);
    char host[64];
    int port = 0;
    if (int r = ParseFtpPassive(line, host, sizeof host, &port)) return r;
    lvConnectOptions options = {t->adapter[0] ? t->adapter : nullptr, t->ipProtocol, 0, t->userTags, nullptr};
    if (int r = ConnectToHost(host, port, &options, &t->dataConnection)) return r;
    t->dataConnection->noEventPolling = 1;
    char mode[2] = {(char)t->url.ftpMode, 0};
    if (int r = FtpExchange(t, "type", mode, line)) return r;
    if (t->status != 200) return FtpError(0);
    t->size = 0;
    if (!t->upload) {
        if (int r = FtpExchange(t, "size", t->url.path, line)) return r;
        if (t->status == 213) t->size = ParseFtpSize(line);
    }
    if (int r = FtpExchange(t, t->upload ? "stor" : "retr", t->url.path, line)) return r;
    if (t->status == 550) {
        SetErrorStringArg(t->url.path);
        return t->upload ? ERR_UPLOADFORBIDDEN : ERR_FILENOTFOUND;
    }
    if (t->status / 100 != 1 && t->status / 100 != 2) return FtpError(0);
    if (!t->upload && t->status == 150 && t->size == 0) t->size = ParseFtpOpeningSize(line);
    t->active = t->dataConnection;
    return 0;
}

int FinishFtp(lvTransfer *t)
{
    if (t->dataConnection) FreeConnection(t->dataConnection);
    t->dataConnection = t->active = nullptr;
    if (t->status / 100 == 1) {
        char line[LV_FTP_LINE];
        if (int r = ReadFtpReply(t->control, line, sizeof line, &t->status)) return r;
        if (t->status / 100 != 2) return FtpError(0);
    }
    SendFtpCommand(t->control, "quit", nullptr);  // its result does not matter
    return 0;
}

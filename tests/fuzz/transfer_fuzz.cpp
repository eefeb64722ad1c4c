// Fuzz target: the first byte picks what the rest is and the piece sizes a fake adapter
// connection serves it in. 0: a reply head (status line, 100s, headers); 1: a chunked
// body read by the transfer's own steps; 2: a URL, parsed, escaped and unescaped;
// 3: FTP replies, each line also read as a passive reply and as 213 and 150 sizes.
// A chunked body may never hold more memory than twice the bytes that came plus a step.
#include "comm/transfer.h"
#include "base/lverrors.h"
#include "tests/comm/fake_peer.h"

#include <cstdlib>
#include <cstring>
#include <string>

static void FuzzHead(const std::string &input, unsigned seed)
{
    FakePeer peer(input, seed);
    char location[256];
    lvHttpReply reply;
    int code = ReadHttpResponseHead(&peer.connection, seed & 2, seed & 4, 1, location, sizeof location, &reply);
    if (code == 0 && !reply.redirect) {
        if (reply.status < 200 && reply.status >= 100) abort();
        if (reply.status == 204 || reply.status == 304) abort();
        if (reply.length < -1 || (reply.chunked && reply.untilClose)) abort();
    }
    if (code == 0 && reply.redirect && !location[0]) abort();
}

static void FuzzChunked(const std::string &input, unsigned seed)
{
    FakePeer peer(input, seed);
    lvTransfer *t = (lvTransfer *)AllocMemory(sizeof(lvTransfer), 1);
    t->callback = t->userdata = -1;
    t->active = &peer.connection;
    t->blockMode = 1;
    t->chunkLeft = -1;
    t->async = 1;
    int done = 0, code = 0;
    for (size_t steps = 0; code == 0 && !done; steps++) {
        code = AdvanceTransfer(t, &done);
        if (steps > 4 * input.size() + 100) abort();
        if (t->body.capacity > 2 * (size_t)t->received + 2 * LV_NET_MEMORY_STEP) abort();
    }
    if (code != 0 && code != ERR_HTTPERROR && code != ERR_RECVCLOSED && code != ERR_MEM) abort();
    if ((size_t)t->received > input.size()) abort();
    t->active = nullptr;
    FreeTransferBlock(t);
}

static void FuzzFtp(const std::string &input, unsigned seed)
{
    FakePeer peer(input, seed);
    char line[1024];
    for (size_t replies = 0;; replies++) {
        int code = 0;
        int r = ReadFtpReply(&peer.connection, line, sizeof line, &code);
        if (r == ERR_RECVCLOSED) break;
        if (r != 0 && r != ERR_FTPERROR && r != ERR_MEM) abort();
        if (r != 0) break;
        if (replies > input.size()) abort();
        char host[64];
        int port = -1;
        if (ParseFtpPassive(line, host, sizeof host, &port) == 0 && (port < 0 || port > 65535)) abort();
        if (ParseFtpSize(line) < 0 || ParseFtpOpeningSize(line) < 0) abort();
    }
}

static void FuzzUrl(const std::string &input, unsigned seed)
{
    lvTransferUrl url;
    int code = ParseTransferUrl(input.c_str(), (seed & 1) ? "http://proxy:8080" : nullptr, seed & 2, &url);
    if (code != 0 && code != ERR_BADURL && code != ERR_UNKPROTOCOL && code != ERR_WRONGUSAGE) abort();
    if (code == 0 && url.protocol != LV_TRANSFER_ADAPTER && (url.port < 1 || url.port > 65535)) abort();
    char *escaped = EscapeUrl(input.c_str());
    char *back = nullptr;
    // An escaped text holds only escapes of bytes that stay escaped: it decodes to itself.
    if (UnescapeUrl(escaped, &back) != 0 || std::strcmp(back, escaped) != 0) abort();
    FreeMemory(back);
    FreeMemory(escaped);
    if (UnescapeUrl(input.c_str(), &back) == 0) FreeMemory(back);
    char *next = ResolveRedirectUrl("http://h:81/a/b?c", input.c_str());
    FreeMemory(next);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static bool opened = [] {
        OpenNetworkLibrary(nullptr, nullptr, nullptr);
        SetNetworkTimeoutMs(0);
        return true;
    }();
    (void)opened;
    if (size < 1) return 0;
    std::string input((const char *)data + 1, size - 1);
    unsigned seed = data[0] >> 2;
    switch (data[0] & 3) {
    case 0: FuzzHead(input, seed); break;
    case 1: FuzzChunked(input, seed); break;
    case 3: FuzzFtp(input, seed); break;
    default:
        input = input.c_str();  // a URL is a zero-ended text
        FuzzUrl(input, seed);
        break;
    }
    return 0;
}

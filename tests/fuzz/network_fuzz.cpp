// Fuzz target: the input is what a peer sends. The first byte picks the piece sizes in
// which a fake adapter connection hands the rest out (then it reports the close); the
// stream is read in lines, in counted blocks, into a small fixed block and through a
// callback, and everything is checked against the input: lines are the input without
// carriage returns split at line feeds, blocks and the rest come back byte for byte.
#include "comm/network.h"
#include "runtime/lvplugin.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

struct FakePeer {
    const uint8_t *data;
    size_t size, at;
    unsigned pieceSeed;
};

int FakeReceive(void *handle, void *buffer, int size, int *received, intptr_t)
{
    FakePeer *p = (FakePeer *)handle;
    *received = 0;
    if (p->at >= p->size) return LVP_NET_RECVCLOSED;
    p->pieceSeed = p->pieceSeed * 1103515245u + 12345u;
    size_t piece = 1 + (p->pieceSeed >> 16) % 300;
    if ((p->pieceSeed >> 8) % 31 == 0) return LVP_NET_RECVTIMEOUT;  // nothing yet, now and then
    if (piece > p->size - p->at) piece = p->size - p->at;
    if (piece > (size_t)size) piece = (size_t)size;
    std::memcpy(buffer, p->data + p->at, piece);
    p->at += piece;
    *received = (int)piece;
    return 0;
}

void FakeClose(void *) {}

int Collect(void *context, const uint8_t *data, size_t size, uint64_t)
{
    ((std::string *)context)->append((const char *)data, size);
    return 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static bool opened = [] {
        OpenNetworkLibrary(nullptr, nullptr, nullptr);
        SetNetworkTimeoutMs(0);  // a line or block waits for its bytes, however they come
        return true;
    }();
    (void)opened;
    if (size < 1) return 0;
    static lvPluginRecord record;
    record.ReceiveData = (lvPluginExport)FakeReceive;
    record.CloseConnection = (lvPluginExport)FakeClose;
    FakePeer peer = {data + 1, size - 1, 0, data[0]};
    lvReceiveBuffer buffer = {};
    lvConnection c = {};
    c.adapter = &record;
    c.handle = &peer;
    c.adapterBuffer = &buffer;
    c.callback = c.userdata = -1;

    // Each line of the input without its carriage returns and with a line feed; a tail
    // after the last line feed (carriage returns alone too) is one more line.
    std::string input((const char *)data + 1, size - 1), expected, got;
    for (char ch : input)
        if (ch != '\r') expected += ch;
    if (!input.empty() && input.back() != '\n') expected += '\n';
    // Lines until the close: each line and a line feed make the input again (a last line
    // without its line feed comes at the close).
    size_t lines = 0;
    while (peer.at < peer.size || buffer.first < buffer.last) {
        lvReceiveDestination d = {};
        lvReceiveResult r = {};
        if (ReceiveBuffered(&c, LV_RECEIVELINE, 0, 1, &d, &r) != 0) abort();
        if (r.count != d.length || std::memchr(d.data ? (const void *)d.data : "", '\n', d.length)) abort();
        got.append((const char *)d.data, d.length);
        got += '\n';
        FreeMemory(d.data);
        if (++lines > input.size() + 2) abort();
    }
    if (got != expected) abort();

    // Blocks of a counted size, a small fixed block, then the callback for the rest.
    peer.at = 0;
    buffer.first = buffer.last = 0;
    std::string whole;
    lvReceiveDestination block = {};
    lvReceiveResult r = {};
    if (ReceiveBuffered(&c, LV_RECEIVEBYTES, 1 + data[0] % 17, 1, &block, &r) != 0) abort();
    whole.append((const char *)block.data, block.length);
    FreeMemory(block.data);
    uint8_t fixed[5];
    lvReceiveDestination small = {};
    small.kind = LV_DEST_MEMORY;
    small.data = fixed;
    small.capacity = sizeof fixed;
    int code = ReceiveBuffered(&c, LV_RECEIVEBYTES, 5, 1, &small, &r);
    if (code != 0 && code != 1423) abort();  // a close before 5 bytes keeps what came
    if (small.length > sizeof fixed) abort();
    whole.append((const char *)fixed, small.length);
    lvReceiveDestination rest = {};
    rest.kind = LV_DEST_CALLBACK;
    rest.Callback = Collect;
    rest.context = &whole;
    if (ReceiveBuffered(&c, LV_RECEIVEALL, 0, 1, &rest, &r) != 0) abort();
    if (whole != input) abort();
    return 0;
}

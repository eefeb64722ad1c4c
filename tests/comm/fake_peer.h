// A connection over a fake network adapter that serves a fixed text in pieces of
// varying size (now and then nothing yet), then reports the close: the readers of the
// HTTP client run their real code over it in the tests and the fuzz targets.
#pragma once
#include "comm/network.h"
#include "runtime/lvplugin.h"

#include <cstdint>
#include <cstring>
#include <string>

struct FakePeer {
    std::string data;
    size_t at = 0;
    unsigned seed = 1;
    lvPluginRecord record = {};
    lvReceiveBuffer buffer = {};
    lvConnection connection = {};

    static int Receive(void *handle, void *out, int size, int *received, intptr_t)
    {
        FakePeer *p = (FakePeer *)handle;
        *received = 0;
        if (p->at >= p->data.size()) return LVP_NET_RECVCLOSED;
        p->seed = p->seed * 1103515245u + 12345u;
        if ((p->seed >> 8) % 31 == 0) return LVP_NET_RECVTIMEOUT;
        size_t piece = 1 + (p->seed >> 16) % 300;
        if (piece > p->data.size() - p->at) piece = p->data.size() - p->at;
        if (piece > (size_t)size) piece = (size_t)size;
        std::memcpy(out, p->data.data() + p->at, piece);
        p->at += piece;
        *received = (int)piece;
        return 0;
    }
    static void Close(void *) {}

    FakePeer(std::string text, unsigned pieceSeed) : data(std::move(text)), seed(pieceSeed)
    {
        record.ReceiveData = (lvPluginExport)Receive;
        record.CloseConnection = (lvPluginExport)Close;
        connection.adapter = &record;
        connection.handle = this;
        connection.adapterBuffer = &buffer;
        connection.callback = connection.userdata = -1;
        connection.noEventPolling = 1;
    }
    FakePeer(const FakePeer &) = delete;
    FakePeer &operator=(const FakePeer &) = delete;
};

// Opens the network library once for a test program, with a network time-out.
struct NetworkOpened {
    explicit NetworkOpened(uint32_t milliseconds)
    {
        OpenNetworkLibrary(nullptr, nullptr, nullptr);
        SetNetworkTimeoutMs(milliseconds);
    }
};

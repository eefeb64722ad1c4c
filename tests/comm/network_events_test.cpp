// The network pass of the event gathering with the event engine and a fake machine:
// which handlers poll what, one record per object and pass, the message fields, and
// closing an object dropping its queued records. Peers are loopback sockets.
#include "comm/network.h"
#include "tests/comm/network_support.h"
#include "tests/ui/events_fakes.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <set>
#include <thread>

namespace {

class NetworkEvents : public EventEngineTest {
protected:
    void SetUp() override
    {
        EventEngineTest::SetUp();
        lvNetworkHooks hooks = {};
        hooks.CancelCallbacks = [](void *, int kind, const void *node) { CancelQueuedCallbacks(nullptr, kind, node); };
        ASSERT_EQ(OpenNetworkLibrary(nullptr, &hooks, nullptr), 0);
        lvEventSourceHooks sources = {};
        sources.PollNetwork = GatherNetworkEvents;
        sources.FillSourceFields = FillNetworkEventFields;
        SetEventSourceHooks(&sources);
    }
    void TearDown() override
    {
        FreeNetworkObjects();
        FreeObjectTypes();
        for (int slot = GLOBAL_ONCONNECT; slot <= GLOBAL_ONRECEIVEUDPDATA; slot++) GetGlobalHandler(slot)->function = -1;
        EventEngineTest::TearDown();
    }
    // Gathers until the condition holds (at most 2 s of passes).
    template <typename Condition>
    bool GatherUntil(Condition done)
    {
        auto start = std::chrono::steady_clock::now();
        while (!done()) {
            if (MillisecondsSince(start) > 2000) return false;
            EXPECT_EQ(GatherEvents(nullptr, 0), 0);
            PauseForSocket(-1, 1, 1);
        }
        return true;
    }
    void RunAll() { EXPECT_EQ(RunQueuedCallbacks(nullptr, nullptr), 0); }
    // A UDP server object of the number on 127.0.0.1; its port, or 0.
    int OpenUdpServer(int number)
    {
        char host[64];
        int port = 0, protocol = 0;
        if (CreateUdpObject(number, 0, 0, "127.0.0.1", LV_UDPSERVER, LV_IPV4, nullptr) != 0) return 0;
        QueryObjectAddress({number, nullptr}, LV_NETWORKUDP, 0, host, sizeof host, &port, &protocol);
        return port;
    }
};

TEST_F(NetworkEvents, ThreeClientsGiveThreeConnectEventsWithTheirOwnIds)
{
    lvNetworkNode *server = nullptr;
    ASSERT_EQ(CreateNetworkServer(0, 1, 0, "127.0.0.1", 32, LV_IPV4, &server), 0);
    char host[64];
    int port = 0, protocol = 0;
    ASSERT_EQ(QueryObjectAddress(GetObjectIdOf(&server->header), LV_NETWORKSERVER, 0, host, sizeof host, &port,
                                 &protocol), 0);
    int clients[3];
    for (int &c : clients) c = StartLoopbackConnect(port);
    // Without a handler nothing is accepted.
    EXPECT_EQ(GatherEvents(nullptr, 0), 0);
    EXPECT_EQ(GetNetworkLibrary()->clients, nullptr);

    GetGlobalHandler(GLOBAL_ONCONNECT)->function = 11;
    int passes = 0;
    ASSERT_TRUE(GatherUntil([&] { return passes++, CountQueuedCallbacks() == 3; }));
    EXPECT_GE(passes, 3);  // one accept per server and pass
    RunAll();
    ASSERT_EQ(machine.calls.size(), 3u);
    std::set<std::string> fields;
    for (const FakeCall &call : machine.calls) {
        EXPECT_EQ(call.action, "OnConnect");
        EXPECT_EQ(call.kind, CALLBACK_CONNECT);
        for (const std::string &f : call.fieldNames) fields.insert(f);
    }
    EXPECT_TRUE(fields.count("serverid") && fields.count("clientid"));
    int count = 0;
    for (lvObjectHeader *h = GetNetworkLibrary()->clients; h; h = h->next) count++;
    EXPECT_EQ(count, 3);
    for (int c : clients) close(c);
}

TEST_F(NetworkEvents, DataThenCloseThenDrained)
{
    TestListener listener;
    lvConnectOptions plain = {nullptr, LV_IPV4, 0, nullptr, nullptr};
    lvNetworkNode *node = nullptr;
    ASSERT_EQ(OpenNetworkConnection(0, 1, "127.0.0.1", listener.port, &plain, &node), 0);
    lvObjectId id = GetObjectIdOf(&node->header);
    int peer = listener.Accept();
    GetGlobalHandler(GLOBAL_ONRECEIVEDATA)->function = 21;
    GetGlobalHandler(GLOBAL_ONDISCONNECT)->function = 22;
    ASSERT_TRUE(WriteAll(peer, "first\n"));
    ASSERT_TRUE(GatherUntil([&] { return CountQueuedCallbacks() == 1; }));
    ASSERT_TRUE(WriteAll(peer, "second\n"));
    close(peer);
    // More data before a receive: still one record; no close while the socket holds data.
    for (int i = 0; i < 20; i++) EXPECT_EQ(GatherEvents(nullptr, 0), 0);
    EXPECT_EQ(CountQueuedCallbacks(), 1);
    RunAll();
    ASSERT_EQ(machine.calls.size(), 1u);
    EXPECT_EQ(machine.calls[0].action, "OnReceiveData");
    EXPECT_TRUE(machine.calls[0].hasId);
    EXPECT_EQ(machine.calls[0].id.handle, (uintptr_t)id.handle);

    lvReceiveDestination d = {};
    lvReceiveResult r = {};
    ASSERT_EQ(ReceiveNetworkData(id, LV_RECEIVELINE, 0, 1, &d, &r), 0);
    FreeMemory(d.data);
    // "second" is buffered: data again, and the close now that the socket is drained.
    ASSERT_TRUE(GatherUntil([&] { return CountQueuedCallbacks() == 2; }));
    RunAll();
    ASSERT_EQ(machine.calls.size(), 3u);
    EXPECT_EQ(machine.calls[1].action, "OnReceiveData");
    EXPECT_EQ(machine.calls[2].action, "OnDisconnect");
    for (int i = 0; i < 5; i++) EXPECT_EQ(GatherEvents(nullptr, 0), 0);
    EXPECT_EQ(CountQueuedCallbacks(), 0);  // the close once; no data events after it
    d = {};
    ASSERT_EQ(ReceiveNetworkData(id, LV_RECEIVELINE, 0, 1, &d, &r), 0);
    EXPECT_EQ(std::string((const char *)d.data, d.length), "second");
    FreeMemory(d.data);
}

TEST_F(NetworkEvents, ClosingAnObjectDropsItsQueuedRecords)
{
    int port = OpenUdpServer(3);
    ASSERT_GT(port, 0);
    ASSERT_EQ(CreateUdpObject(4, 0, port, "127.0.0.1", LV_UDPCLIENT, LV_IPV4, nullptr), 0);
    GetGlobalHandler(GLOBAL_ONRECEIVEUDPDATA)->function = 31;
    size_t sent = 0;
    ASSERT_EQ(SendUdpData({4, nullptr}, "x", 1, nullptr, 0, &sent), 0);
    ASSERT_TRUE(GatherUntil([&] { return CountQueuedCallbacks() == 1; }));
    ASSERT_EQ(RemoveUdpObject({3, nullptr}), 0);
    EXPECT_EQ(CountQueuedCallbacks(), 0);
    RunAll();
    EXPECT_TRUE(machine.calls.empty());
}

// A burst of small datagrams as fast as a script sends them, received the way a runtime
// does: a gathering pass, the handlers (each reads one datagram), a short wait. What the
// runtime reads ahead is kept for its handlers; only what the socket itself could not
// hold may be lost, and at least 95% arrive (the sender yields the processor to the
// receiver, see SendDatagramBurst).
TEST_F(NetworkEvents, ABurstOfDatagramsReachesTheHandlers)
{
    int port = OpenUdpServer(3);
    ASSERT_GT(port, 0);
    GetGlobalHandler(GLOBAL_ONRECEIVEUDPDATA)->function = 31;
    const int total = 100000;
    std::atomic<bool> sent{false};
    std::thread sender([&] {
        SendDatagramBurst(port, total);
        sent = true;
    });
    int received = 0, wrong = 0, last = -1;  // wrong: cut, repeated or out of order
    auto start = std::chrono::steady_clock::now(), lastData = start, lastPass = start;
    double longestGap = 0;  // between two passes: the receiver was not scheduled, or was slow
    while (MillisecondsSince(start) < 30000) {
        longestGap = std::max(longestGap, MillisecondsSince(lastPass));
        lastPass = std::chrono::steady_clock::now();
        ASSERT_EQ(GatherEvents(nullptr, 0), 0);
        RunAll();
        size_t calls = machine.calls.size();
        machine.calls.clear();
        for (size_t i = 0; i < calls; i++) {
            lvUdpDatagram d;
            ASSERT_EQ(ReceiveUdpData({3, nullptr}, 8192, &d), 0);
            if (d.length == 0) continue;
            received++;
            int index = d.length == 32 ? std::atoi((const char *)d.data) : -1;
            if (index <= last) wrong++;
            last = index;
            lastData = std::chrono::steady_clock::now();
        }
        if (sent && calls == 0 && MillisecondsSince(lastData) > 300) break;  // the socket is drained
        PauseForSocket(-1, 1, 1);
    }
    sender.join();
    long dropped = KernelUdpDrops(port);
    std::printf("datagrams received: %d of %d (%.1f%%), dropped by the socket: %ld, longest gap between passes "
                "%.1f ms\n",
                received, total, 100.0 * received / total, dropped, longestGap);
    EXPECT_EQ(wrong, 0);
    // What the socket took in, the handlers got: nothing is lost on the runtime's side.
    if (dropped >= 0) {
        EXPECT_EQ(received + dropped, total);
    }
    EXPECT_GE(received, total * 95 / 100);
}

}  // namespace

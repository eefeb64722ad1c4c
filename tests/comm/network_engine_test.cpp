// The network engine against peers on 127.0.0.1 that the tests start: the receive modes
// and destinations, sending to a gone peer, connecting (errors, time-outs, a resolver
// with two addresses), servers and UDP objects, address queries, the socket texts, and
// descriptors left after closing. No name query leaves the machine: names other than
// "localhost" come from the resolver seam.
#include <gtest/gtest.h>

#include <csignal>
#include <netdb.h>
#include <cstring>
#include <string>
#include <thread>

#include "comm/network.h"
#include "base/lverrors.h"
#include "runtime/errors.h"
#include "runtime/vfile.h"
#include "vm/lvvm.h"
#include "tests/comm/network_support.h"

namespace {

using Clock = std::chrono::steady_clock;

std::string LastErrorText()
{
    char text[512];
    GetErrorText(ERR_SOCKET, text, sizeof text);
    return text;
}

class NetworkEngine : public ::testing::Test {
protected:
    int quit = 0;
    int polls = 0;
    void SetUp() override
    {
        lvNetworkHooks hooks = {};
        KeepOnlineTestLocal();
        hooks.context = this;
        hooks.PollEvents = [](void *c) { return ++static_cast<NetworkEngine *>(c)->polls, 0; };
        hooks.QuitRequested = [](void *c) { return static_cast<NetworkEngine *>(c)->quit; };
        ASSERT_EQ(OpenNetworkLibrary(nullptr, &hooks, nullptr), 0);
    }
    void TearDown() override
    {
        FreeNetworkObjects();
        FreeObjectTypes();
        SetResolverTable(nullptr, 0);
        SetFakeInterfaces(nullptr, 0);
    }
    // Opens a connection to the listener and accepts its peer end.
    lvObjectId Connect(TestListener &listener, int *peer)
    {
        lvConnectOptions options = {nullptr, LV_IPV4, 0, nullptr, nullptr};
        lvNetworkNode *node = nullptr;
        EXPECT_EQ(OpenNetworkConnection(0, 1, "127.0.0.1", listener.port, &options, &node), 0);
        *peer = listener.Accept();
        EXPECT_GE(*peer, 0);
        return node ? GetObjectIdOf(&node->header) : lvObjectId{};
    }
    struct Received {
        int code;
        std::string data;
        uint64_t count;
        int done;
        double ms;
    };
    Received Receive(lvObjectId id, int mode, uint64_t count = 0, int wait = 1)
    {
        lvReceiveDestination d = {};
        lvReceiveResult r = {};
        auto start = Clock::now();
        int code = ReceiveNetworkData(id, mode, count, wait, &d, &r);
        Received out = {code, std::string((const char *)d.data, d.length), r.count, r.done, MillisecondsSince(start)};
        FreeMemory(d.data);
        return out;
    }
};

TEST_F(NetworkEngine, ReceiveModesOnALoopbackPeer)
{
    TestListener listener;
    int peer = -1;
    SetNetworkTimeoutMs(200);

    // Lines drop carriage returns; the rest after a line stays buffered.
    lvObjectId id = Connect(listener, &peer);
    ASSERT_TRUE(WriteAll(peer, "abc\r\ndef\n"));
    Received a = Receive(id, LV_RECEIVELINE), b = Receive(id, LV_RECEIVELINE);
    EXPECT_EQ(a.data, "abc");
    EXPECT_EQ(a.count, 3u);
    EXPECT_EQ(b.data, "def");
    EXPECT_EQ(b.count, 3u);
    EXPECT_EQ(b.done, 1);

    // 4 bytes, then silence longer than the time-out: what came, its count, done 1.
    ASSERT_TRUE(WriteAll(peer, "wxyz"));
    Received c = Receive(id, LV_RECEIVEBYTES, 10);
    EXPECT_EQ(c.code, 0);
    EXPECT_EQ(c.data, "wxyz");
    EXPECT_EQ(c.count, 4u);
    EXPECT_EQ(c.done, 1);
    EXPECT_GE(c.ms, 195);

    // Without waiting: at once, even with nothing there.
    Received d = Receive(id, LV_RECEIVEALL, 0, 0);
    EXPECT_EQ(d.code, 0);
    EXPECT_EQ(d.count, 0u);
    EXPECT_EQ(d.done, 0);
    EXPECT_LT(d.ms, 150);

    // A count far beyond the data reserves nothing up front.
    std::string hundred(100, 'q');
    ASSERT_TRUE(WriteAll(peer, hundred));
    close(peer);
    lvReceiveDestination big = {};
    lvReceiveResult r = {};
    EXPECT_EQ(ReceiveNetworkData(id, LV_RECEIVEBYTES, uint64_t(1) << 40, 1, &big, &r), 0);
    EXPECT_EQ(r.count, 100u);
    EXPECT_LE(big.capacity, 65536u);
    FreeMemory(big.data);
}

TEST_F(NetworkEngine, ReceiveAllEndsAtTheClose)
{
    TestListener listener;
    struct Case {
        std::string sent;
        uint64_t count;
        int done;
    };
    for (const Case &k : {Case{std::string(100, 'x'), 100, 1}, Case{"", 0, 0}}) {
        int peer = -1;
        lvObjectId id = Connect(listener, &peer);
        ASSERT_TRUE(WriteAll(peer, k.sent));
        close(peer);
        Received got = Receive(id, LV_RECEIVEALL);
        EXPECT_EQ(got.code, 0);
        EXPECT_EQ(got.data, k.sent);
        EXPECT_EQ(got.count, k.count);
        EXPECT_EQ(got.done, k.done);
        EXPECT_EQ(RemoveConnection(id), 0);
    }
}

TEST_F(NetworkEngine, ATimeOutOfZeroWaitsForTheClose)
{
    TestListener listener;
    int peer = -1;
    lvObjectId id = Connect(listener, &peer);
    SetNetworkTimeoutMs(0);
    std::thread late([peer] {
        WriteAll(peer, "early");
        std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the silence under test
        WriteAll(peer, "late");
        close(peer);
    });
    Received got = Receive(id, LV_RECEIVEALL);
    late.join();
    EXPECT_EQ(got.data, "earlylate");
    EXPECT_EQ(got.done, 1);
    EXPECT_GE(got.ms, 250);
}

TEST_F(NetworkEngine, ReceiveArgumentsAndAbort)
{
    TestListener listener;
    int peer = -1;
    lvObjectId id = Connect(listener, &peer);
    EXPECT_EQ(Receive(id, 3).code, ERR_WRONGUSAGE);
    EXPECT_EQ(Receive(id, LV_RECEIVEBYTES, 0).code, ERR_WRONGUSAGE);
    EXPECT_EQ(Receive(lvObjectId{42, nullptr}, LV_RECEIVEALL).code, ERR_FINDCLIENT);

    // A callback that asks to stop ends the receive with its code, and nothing is kept.
    ASSERT_TRUE(WriteAll(peer, "payload"));
    lvReceiveDestination d = {};
    d.kind = LV_DEST_CALLBACK;
    int calls = 0;
    d.context = &calls;
    d.Callback = [](void *c, const uint8_t *, size_t, uint64_t) -> int {
        ++*(int *)c;
        return ERR_USERABORT;
    };
    lvReceiveResult r = {};
    EXPECT_EQ(ReceiveNetworkData(id, LV_RECEIVEALL, 0, 1, &d, &r), ERR_USERABORT);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(d.length, 0u);

    // The quit flag ends a wait at once.
    quit = 1;
    auto start = Clock::now();
    EXPECT_EQ(Receive(id, LV_RECEIVELINE).code, ERR_USERABORT);
    EXPECT_LT(MillisecondsSince(start), 100);
    close(peer);
}

TEST_F(NetworkEngine, MemoryFileAndSteppedDestinations)
{
    TestListener listener;
    int peer = -1;
    lvObjectId id = Connect(listener, &peer);
    lvNetworkNode *node = nullptr;
    ASSERT_EQ(FindConnection(id, &node), 0);
    lvConnection *c = NodeConnection(node);
    std::string body(40000, 'b');
    ASSERT_TRUE(WriteAll(peer, "head\r\n" + body));
    close(peer);

    // A fixed block too small for the line: out of memory, nothing written past it.
    uint8_t small[4];
    lvReceiveDestination fixed = {};
    fixed.kind = LV_DEST_MEMORY;
    fixed.data = small;
    fixed.capacity = sizeof small;
    lvReceiveResult r = {};
    EXPECT_EQ(ReceiveBuffered(c, LV_RECEIVELINE, 0, 1, &fixed, &r), ERR_MEM);

    // Stepped: each call returns after a pass with data; the total runs on.
    lvReceiveStep step = {};
    lvReceiveDestination stepped = {};
    stepped.kind = LV_DEST_MEMORY;
    stepped.growable = 1;
    stepped.step = &step;
    int calls = 0;
    while (!step.done && calls < 1000) {
        ASSERT_EQ(ReceiveBuffered(c, LV_RECEIVEBYTES, 20000, 1, &stepped, &r), 0);
        calls++;
    }
    EXPECT_EQ(step.total, 20000u);
    EXPECT_GT(calls, 1);
    EXPECT_EQ(stepped.capacity % LV_NET_MEMORY_STEP, 0u);
    FreeStringBlock((char *)stepped.data);

    // A file that takes nothing: a short write.
    lvVFile *full = OpenVFile("/dev/full", LV_VF_WRITE, nullptr, nullptr);
    ASSERT_NE(full, nullptr);
    lvReceiveDestination file = {};
    file.kind = LV_DEST_FILE;
    file.file = full;
    EXPECT_EQ(ReceiveBuffered(c, LV_RECEIVEALL, 0, 1, &file, &r), ERR_WRITE);
    CloseVFile(full);

    // The rest, to the peer's close, into a growable block: closed after data is success;
    // another receive then meets the close.
    lvReceiveDestination grow = {};
    grow.kind = LV_DEST_MEMORY;
    grow.growable = 1;
    EXPECT_EQ(ReceiveBuffered(c, LV_RECEIVEALL, 0, 1, &grow, &r), 0);
    EXPECT_EQ(r.done, 1);
    EXPECT_EQ(grow.capacity % LV_NET_MEMORY_STEP, 0u);
    FreeStringBlock((char *)grow.data);
    lvReceiveDestination again = {};
    again.kind = LV_DEST_MEMORY;
    again.growable = 1;
    EXPECT_EQ(ReceiveBuffered(c, LV_RECEIVEBYTES, 1, 1, &again, &r), ERR_RECVCLOSED);
    FreeStringBlock((char *)again.data);
}

TEST_F(NetworkEngine, SendingToAGonePeerGivesAShortCount)
{
    // The default action of SIGPIPE would end this test: sends must never raise it.
    struct sigaction none = {}, old = {};
    none.sa_handler = SIG_DFL;
    sigaction(SIGPIPE, &none, &old);
    TestListener listener;
    int peer = -1;
    lvObjectId id = Connect(listener, &peer);
    ASSERT_TRUE(WriteAll(peer, "unread"));
    close(peer);  // unread data: the close resets the connection
    SetNetworkTimeoutMs(1000);
    std::string data(4 << 20, 'z');
    size_t sent = 0;
    EXPECT_EQ(SendNetworkData(id, data.data(), data.size(), &sent), 0);
    EXPECT_LT(sent, data.size());
    EXPECT_EQ(SendNetworkData(id, "", 0, &sent), 0);
    EXPECT_EQ(sent, 0u);
    sigaction(SIGPIPE, &old, nullptr);
}

TEST_F(NetworkEngine, ConnectFailures)
{
    lvConnectOptions plain = {nullptr, LV_IPV4, 0, nullptr, nullptr};
    int before = CountOpenDescriptors();
    for (int port : {0, 70000, -1}) EXPECT_EQ(OpenNetworkConnection(1, 0, "127.0.0.1", port, &plain, nullptr), ERR_WRONGUSAGE);
    EXPECT_EQ(CountOpenDescriptors(), before);

    struct Case {
        const char *adapter;
        int port;
        const char *text;
    };
    int closed = ClosedLoopbackPort();
    for (const Case &k : {Case{"native", 80, "connection refused"}, Case{nullptr, closed, "connection refused"},
                          Case{"inbuilt", closed, "connection refused"}}) {
        lvConnectOptions o = plain;
        o.adapterList = k.adapter;
        EXPECT_EQ(OpenNetworkConnection(1, 0, "127.0.0.1", k.port, &o, nullptr), ERR_SOCKET);
        EXPECT_NE(LastErrorText().find(k.text), std::string::npos) << LastErrorText();
    }
    EXPECT_EQ(OpenNetworkConnection(1, 0, "no-such-host.invalid", 80, &plain, nullptr), ERR_SOCKET);
    EXPECT_EQ(GetNetworkLibrary()->clients, nullptr);
    EXPECT_EQ(CountOpenDescriptors(), before);
}

TEST_F(NetworkEngine, AFullBacklogTimesOut)
{
    TestListener listener(0);
    // Fill the accept queue: later handshakes are dropped and their connects hang.
    int fillers[4];
    for (int &f : fillers) f = StartLoopbackConnect(listener.port);
    SetNetworkTimeoutMs(0);
    lvConnectOptions plain = {nullptr, LV_IPV4, 0, nullptr, nullptr};
    auto start = Clock::now();
    EXPECT_EQ(OpenNetworkConnection(1, 0, "127.0.0.1", listener.port, &plain, nullptr), ERR_SOCKET);
    EXPECT_NE(LastErrorText().find("timeout"), std::string::npos) << LastErrorText();
    EXPECT_LT(MillisecondsSince(start), 500);
    EXPECT_GT(polls, 0);  // events were let in while it waited
    for (int f : fillers) close(f);
}

TEST_F(NetworkEngine, TheSecondAddressAnswersWhenTheFirstRefuses)
{
    TestListener listener;
    int closed = ClosedLoopbackPort();
    const lvResolverEntry rows[] = {{"twohost.test", "127.0.0.1", closed}, {"twohost.test", "127.0.0.1", listener.port}};
    SetResolverTable(rows, 2);
    SetNetworkTimeoutMs(2000);
    lvConnectOptions plain = {nullptr, LV_IPAUTO, 0, nullptr, nullptr};
    lvNetworkNode *node = nullptr;
    auto start = Clock::now();
    ASSERT_EQ(OpenNetworkConnection(0, 1, "twohost.test", 1, &plain, &node), 0);
    EXPECT_LT(MillisecondsSince(start), 2000);
    char host[64];
    int port = 0, protocol = -1;
    ASSERT_EQ(QueryObjectAddress(GetObjectIdOf(&node->header), LV_NETWORKCONNECTION, 1, host, sizeof host, &port,
                                 &protocol), 0);
    EXPECT_EQ(port, listener.port);
    EXPECT_EQ(protocol, LV_IPV4);  // IPAUTO reports the family it connected with
}

TEST_F(NetworkEngine, ServersAcceptOnePendingConnectionPerPoll)
{
    lvNetworkNode *server = nullptr;
    ASSERT_EQ(CreateNetworkServer(1, 0, 0, "*", 32, LV_IPV4, &server), 0);
    char host[64];
    int port = 0, protocol = 0;
    ASSERT_EQ(QueryObjectAddress({1, nullptr}, LV_NETWORKSERVER, 0, host, sizeof host, &port, &protocol), 0);
    EXPECT_STREQ(host, "0.0.0.0");
    EXPECT_GT(port, 0);
    int other = 0;
    EXPECT_EQ(QueryObjectAddress({1, nullptr}, 7, 0, host, sizeof host, &other, &protocol), ERR_WRONGUSAGE);

    lvNetworkNode *nobody = nullptr;
    EXPECT_EQ(PollServerAccept(server, &nobody), 0);
    lvConnectOptions plain = {nullptr, LV_IPV4, 0, nullptr, nullptr};
    lvNetworkNode *clients[3];
    for (lvNetworkNode *&c : clients) ASSERT_EQ(OpenNetworkConnection(0, 1, "127.0.0.1", port, &plain, &c), 0);
    lvNetworkNode *accepted[3] = {};
    for (int pass = 0, got = 0; got < 3 && pass < 500; pass++)
        if (PollServerAccept(server, &accepted[got])) got++;
    ASSERT_NE(accepted[2], nullptr);
    EXPECT_NE(accepted[0]->header.handle, accepted[1]->header.handle);
    EXPECT_EQ(PollServerAccept(server, &nobody), 0);

    // Both ends agree on address and port.
    lvObjectId mine = GetObjectIdOf(&clients[0]->header);
    lvObjectId theirs = GetObjectIdOf(&accepted[0]->header);
    char a[64], b[64];
    int pa = 0, pb = 0;
    ASSERT_EQ(QueryObjectAddress(mine, LV_NETWORKCONNECTION, 0, a, sizeof a, &pa, &protocol), 0);
    ASSERT_EQ(QueryObjectAddress(theirs, LV_NETWORKCONNECTION, 1, b, sizeof b, &pb, &protocol), 0);
    EXPECT_STREQ(a, b);
    EXPECT_EQ(pa, pb);
    EXPECT_EQ(protocol, LV_IPV4);

    // A server of the same number closes the old one first: its port is free again.
    ASSERT_EQ(CreateNetworkServer(1, 0, port, "127.0.0.1", 32, LV_IPV4, nullptr), 0);
    EXPECT_EQ(CreateNetworkServer(2, 0, 65536, "*", 32, LV_IPV4, nullptr), ERR_WRONGUSAGE);
    EXPECT_EQ(RemoveServer({9, nullptr}), ERR_FINDSERVER);
    EXPECT_EQ(RemoveServer({0, (void *)&port}), ERR_FINDARRAY);
}

// IPAUTO listens on each address of the host in turn and keeps one socket only.
TEST_F(NetworkEngine, AnAutoServerKeepsOneSocket)
{
    ASSERT_EQ(StartNetwork(), 0);
    int before = CountOpenDescriptors();
    lvNetworkNode *server = nullptr;
    ASSERT_EQ(CreateNetworkServer(0, 1, 0, "localhost", 8, LV_IPAUTO, &server), 0);
    EXPECT_EQ(CountOpenDescriptors(), before + 1);
    char host[64];
    int port = 0, protocol = 0;
    ASSERT_EQ(QueryObjectAddress(GetObjectIdOf(&server->header), LV_NETWORKSERVER, 0, host, sizeof host, &port,
                                 &protocol), 0);
    EXPECT_TRUE(std::string(host) == "127.0.0.1" || std::string(host) == "::1") << host;
    EXPECT_EQ(protocol, std::string(host) == "::1" ? LV_IPV6 : LV_IPV4);
}

TEST_F(NetworkEngine, DataAndCloseArePolledInOrder)
{
    TestListener listener;
    int peer = -1;
    lvObjectId id = Connect(listener, &peer);
    lvNetworkNode *node = nullptr;
    ASSERT_EQ(FindConnection(id, &node), 0);
    EXPECT_EQ(PollConnectionData(node), 0);
    ASSERT_TRUE(WriteAll(peer, "one\ntwo\n"));
    close(peer);
    // Data is announced once until a receive; the close only once the socket is drained.
    for (int i = 0; i < 500 && !PollConnectionData(node); i++) PauseForSocket(-1, 1, 1);
    EXPECT_EQ(node->dataWaiting, 1);
    EXPECT_EQ(PollConnectionData(node), 0);
    EXPECT_EQ(PollConnectionClosed(node), 0);
    EXPECT_EQ(Receive(id, LV_RECEIVELINE).data, "one");
    EXPECT_EQ(node->dataWaiting, 0);
    EXPECT_EQ(PollConnectionData(node), 1);  // "two" waits in the buffer
    EXPECT_EQ(PollConnectionClosed(node), 1);
    EXPECT_EQ(PollConnectionClosed(node), 0);
    EXPECT_EQ(Receive(id, LV_RECEIVELINE).data, "two");  // still readable after the close
    EXPECT_EQ(PollConnectionData(node), 0);
}

TEST_F(NetworkEngine, UdpDatagramsOfEverySize)
{
    lvNetworkNode *server = nullptr, *client = nullptr;
    ASSERT_EQ(CreateUdpObject(1, 0, 0, "127.0.0.1", LV_UDPSERVER, LV_IPV4, &server), 0);
    char host[64];
    int port = 0, protocol = 0;
    ASSERT_EQ(QueryObjectAddress({1, nullptr}, LV_NETWORKUDP, 0, host, sizeof host, &port, &protocol), 0);
    int other = 0;
    EXPECT_EQ(QueryObjectAddress({1, nullptr}, LV_NETWORKUDP, 1, host, sizeof host, &other, &protocol), ERR_WRONGUSAGE);
    ASSERT_EQ(CreateUdpObject(2, 0, port, "127.0.0.1", LV_UDPCLIENT, LV_IPV4, &client), 0);

    lvUdpDatagram got;
    ASSERT_EQ(ReceiveUdpData({1, nullptr}, 8192, &got), 0);
    EXPECT_EQ(got.length, 0u);
    EXPECT_STREQ(got.host, "");
    EXPECT_EQ(got.port, 0);

    // An empty datagram is announced and read as "" with its sender; the one after it too:
    // one poll reads both ahead and announces each.
    size_t sent = 0;
    ASSERT_TRUE(SendEmptyDatagram(port));
    std::string large(10000, 'L');
    ASSERT_EQ(SendUdpData({2, nullptr}, large.data(), large.size(), "ignored", 1, &sent), 0);
    EXPECT_EQ(sent, large.size());
    for (int i = 0; i < 500 && !PollUdpData(server); i++) PauseForSocket(-1, 1, 1);
    EXPECT_EQ(server->dataWaiting, 2);
    EXPECT_EQ(ReceiveUdpData({1, nullptr}, 0, &got), ERR_WRONGUSAGE);  // and the datagram stays
    ASSERT_EQ(ReceiveUdpData({1, nullptr}, 8192, &got), 0);
    EXPECT_EQ(got.length, 0u);
    EXPECT_STREQ(got.host, "127.0.0.1");
    EXPECT_GT(got.port, 0);
    EXPECT_EQ(server->dataWaiting, 1);
    EXPECT_EQ(PollUdpData(server), 0);  // announced already
    ASSERT_EQ(ReceiveUdpData({1, nullptr}, 20000, &got), 0);
    EXPECT_EQ(got.length, 8192u);  // never more than the buffer
    EXPECT_EQ(server->dataWaiting, 0);

    // Argument errors before any sending.
    EXPECT_EQ(SendUdpData({1, nullptr}, "", 0, "127.0.0.1", port, &sent), ERR_WRONGUSAGE);
    EXPECT_EQ(SendUdpData({1, nullptr}, "x", 1, "127.0.0.1", 0, &sent), ERR_WRONGUSAGE);
    EXPECT_EQ(SendUdpData({1, nullptr}, "x", 1, "localhost", port, &sent), ERR_SOCKET);
    EXPECT_EQ(CreateUdpObject(3, 0, 0, "*", LV_UDPCLIENT, LV_IPV4, nullptr), ERR_WRONGUSAGE);
    EXPECT_EQ(CreateUdpObject(3, 0, -1, "*", LV_UDPSERVER, LV_IPV4, nullptr), ERR_WRONGUSAGE);
    EXPECT_EQ(CreateUdpObject(3, 0, 0, "*", 7, LV_IPV4, nullptr), ERR_WRONGUSAGE);
    EXPECT_EQ(RemoveUdpObject({3, nullptr}), ERR_FINDUDPOBJECT);

    // A socketless object gets its socket at its first send.
    ASSERT_EQ(CreateUdpObject(4, 0, 0, "*", LV_UDPNONE, LV_IPAUTO, nullptr), 0);
    EXPECT_EQ(SendUdpData({4, nullptr}, "hi", 2, "127.0.0.1", port, &sent), 0);
    EXPECT_EQ(sent, 2u);
}

TEST_F(NetworkEngine, Ipv6Loopback)
{
    if (!HaveIpv6Loopback()) GTEST_SKIP() << "::1 cannot be bound here";
    lvNetworkNode *server = nullptr;
    ASSERT_EQ(CreateNetworkServer(1, 0, 0, "::1", 8, LV_IPV6, &server), 0);
    char host[64];
    int port = 0, protocol = 0;
    ASSERT_EQ(QueryObjectAddress({1, nullptr}, LV_NETWORKSERVER, 0, host, sizeof host, &port, &protocol), 0);
    EXPECT_STREQ(host, "::1");
    EXPECT_EQ(protocol, LV_IPV6);
    lvConnectOptions v6 = {nullptr, LV_IPV6, 0, nullptr, nullptr};
    ASSERT_EQ(OpenNetworkConnection(5, 0, "::1", port, &v6, nullptr), 0);
    ASSERT_EQ(QueryObjectAddress({5, nullptr}, LV_NETWORKCONNECTION, 1, host, sizeof host, &port, &protocol), 0);
    EXPECT_EQ(protocol, LV_IPV6);
}

TEST_F(NetworkEngine, NameQueries)
{
    const lvResolverEntry rows[] = {{"256.1.1.1", "10.1.2.3", 0}, {"v6only.test", "fd00::5", 0}};
    SetResolverTable(rows, 2);
    char text[128];
    struct Case {
        const char *host;
        int protocol;
        int code;
        const char *result;
    };
    for (const Case &k : {Case{"localhost", LV_IPV4, 0, "127.0.0.1"}, Case{"127.0.0.1", LV_IPV4, 0, "127.0.0.1"},
                          Case{"256.1.1.1", LV_IPV4, 0, "10.1.2.3"}, Case{"v6only.test", LV_IPV6, 0, "fd00::5"},
                          Case{"localhost", LV_IPAUTO, ERR_WRONGUSAGE, ""}, Case{"unknown.test", LV_IPV4, ERR_SOCKET, ""}}) {
        EXPECT_EQ(HostToAddress(k.host, k.protocol, text, sizeof text), k.code) << k.host;
        if (k.code == 0) {
            EXPECT_STREQ(text, k.result) << k.host;
        }
    }
    EXPECT_EQ(HostToAddress("unknown.test", LV_IPV4, text, sizeof text), ERR_SOCKET);
    EXPECT_EQ(LastErrorText().find("host not found") != std::string::npos, true) << LastErrorText();
    EXPECT_EQ(HostToAddress("256.1.1.1", LV_IPV6, text, sizeof text), ERR_SOCKET);
    EXPECT_NE(LastErrorText().find("cannot resolve hostname"), std::string::npos) << LastErrorText();
    ASSERT_EQ(AddressToHostName("127.0.0.1", text, sizeof text), 0);
    EXPECT_STREQ(text, "localhost");

    uint8_t quad[4];
    for (const char *bad : {"256.1.1.1", "1.2.3", "1.2.3.4.", "1.2.3.4x", "", "a.b.c.d"})
        EXPECT_EQ(ParseDottedQuad(bad, quad), 0) << bad;
    EXPECT_EQ(ParseDottedQuad("10.0.255.1", quad), 1);
    EXPECT_EQ(quad[2], 255);
}

TEST_F(NetworkEngine, InterfaceListAndHardwareAddress)
{
    const lvFakeInterface rows[] = {
        {"lo", "127.0.0.1", 1, 1, {0, 0, 0, 0, 0, 0}},
        {"eth0", nullptr, 1, 0, {0, 0, 0, 0, 0, 0}},
        {"eth1", nullptr, 1, 0, {0x02, 0xab, 0, 0, 0, 0x1f}},
        {"eth1", "192.168.7.9", 1, 0, {}},
        {"eth1", "169.254.3.4", 1, 0, {}},
        {"eth1", "fe80::1", 1, 0, {}},
        {"eth1", "2001:db8::7", 1, 0, {}},
        {"down0", "10.9.9.9", 0, 0, {}},
    };
    SetFakeInterfaces(rows, 8);
    auto list = [](int linkLocal) {
        std::string out;
        char *block = ListLocalAddresses(linkLocal);
        for (const char *p = block; p && *p; p += std::strlen(p) + 1) out += std::string(p) + ";";
        FreeMemory(block);
        return out;
    };
    EXPECT_EQ(list(0), "eth1;192.168.7.9;eth1;2001:db8::7;");
    EXPECT_EQ(list(1), "eth1;192.168.7.9;eth1;169.254.3.4;eth1;fe80::1;eth1;2001:db8::7;");
    char mac[18] = "Unknown";
    EXPECT_EQ(QueryMacAddress(mac), 1);
    EXPECT_STREQ(mac, "02:AB:00:00:00:1F");
    SetFakeInterfaces(rows, 2);
    std::strcpy(mac, "Unknown");
    EXPECT_EQ(QueryMacAddress(mac), 0);
    EXPECT_STREQ(mac, "Unknown");
}

TEST_F(NetworkEngine, OnlineAgainstALoopbackTarget)
{
    TestListener listener;
    std::string open = "127.0.0.1:" + std::to_string(listener.port);
    std::string closed = "127.0.0.1:" + std::to_string(ClosedLoopbackPort());
    setenv("LUMIVARRA_ONLINE_TARGET", open.c_str(), 1);
    EXPECT_EQ(CheckOnline(), 1);
    setenv("LUMIVARRA_ONLINE_TARGET", closed.c_str(), 1);
    EXPECT_EQ(CheckOnline(), 0);
    EXPECT_EQ(GetNetworkLibrary()->clients, nullptr);
}

TEST(SocketTexts, ShortAndLongTextsAndCodes)
{
    struct Case {
        int code;
        const char *shortText;
        const char *longText;
    };
    const Case cases[] = {
        {-2, "closed", nullptr}, {-1, "timeout", nullptr}, {-3, "unknown error", nullptr},
        {10053, "closed", "Software caused connection abort"}, {10054, "closed", "closed"},
        {10061, "connection refused", "connection refused"}, {10060, "timeout", "timeout"},
        {10048, "address already in use", "address already in use"}, {10013, "permission denied", "permission denied"},
        {10056, "already connected", "already connected"}, {10065, "No route to host", "No route to host"},
        {11001, "host not found", "host not found"}, {12345, "Unknown error", "Unknown error"},
    };
    for (const Case &k : cases) {
        EXPECT_STREQ(GetShortSocketErrorText(k.code), k.shortText) << k.code;
        if (k.longText) {
            EXPECT_STREQ(GetSocketErrorText(k.code), k.longText) << k.code;
        }
    }
    EXPECT_STREQ(GetAddrInfoErrorText(11001), "host or service not provided, or not known");
    EXPECT_STREQ(GetAddrInfoErrorText(11002), "temporary failure in name resolution");
    EXPECT_STREQ(GetHostErrorText(11001), "host not found");
    struct Mapping {
        int error;
        int code;
    };
    for (const Mapping &m : {Mapping{ECONNREFUSED, 10061}, Mapping{ETIMEDOUT, 10060}, Mapping{ECONNRESET, 10054},
                             Mapping{EPIPE, 10054}, Mapping{EADDRINUSE, 10048}, Mapping{ECONNABORTED, 10053},
                             Mapping{EHOSTUNREACH, 10065}, Mapping{EAGAIN, 10035}})
        EXPECT_EQ(MapSocketErrno(m.error), m.code) << m.error;
    for (const Mapping &m : {Mapping{EAI_NONAME, 11001}, Mapping{EAI_AGAIN, 11002}, Mapping{EAI_FAIL, 11003},
                             Mapping{EAI_SERVICE, 10109}, Mapping{EAI_FAMILY, 10047}})
        EXPECT_EQ(MapAddrInfoError(m.error), m.code) << m.error;
    // An errno without a code of its own keeps the system's text.
    EXPECT_STREQ(GetShortSocketErrorText(MapSocketErrno(ENOMEM)), strerror(ENOMEM));
}

TEST_F(NetworkEngine, ClosingLeavesNoDescriptorBehind)
{
    TestListener listener;
    int before = CountOpenDescriptors();
    lvConnectOptions plain = {nullptr, LV_IPV4, 0, nullptr, nullptr};
    for (int i = 0; i < 1000; i++) {
        ASSERT_EQ(OpenNetworkConnection(1, 0, "127.0.0.1", listener.port, &plain, nullptr), 0);
        int peer = listener.Accept();
        ASSERT_GE(peer, 0);
        close(peer);
        ASSERT_EQ(RemoveConnection({1, nullptr}), 0);
        ASSERT_EQ(CreateUdpObject(1, 0, 0, "127.0.0.1", LV_UDPSERVER, LV_IPV4, nullptr), 0);
        ASSERT_EQ(RemoveUdpObject({1, nullptr}), 0);
    }
    EXPECT_EQ(CountOpenDescriptors(), before);

    // Shut-down with objects open closes every one of them.
    ASSERT_EQ(CreateNetworkServer(0, 1, 0, "*", 4, LV_IPV4, nullptr), 0);
    ASSERT_EQ(CreateUdpObject(0, 1, 0, "*", LV_UDPSERVER, LV_IPV4, nullptr), 0);
    ASSERT_EQ(OpenNetworkConnection(0, 1, "127.0.0.1", listener.port, &plain, nullptr), 0);
    int peer = listener.Accept();
    FreeNetworkObjects();
    close(peer);
    EXPECT_EQ(CountOpenDescriptors(), before);
}

}  // namespace

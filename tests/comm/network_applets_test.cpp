// Runtime processes running the assembled applets of network_fixtures/ through
// build/bin/lumivarra: a server and a client exchanging 4 MiB of every byte value in
// blocks and lines over 127.0.0.1 and 200 datagrams plus an empty one (both must end
// with exit code 0); a burst of 100,000 datagrams counted by a script's handler; and a
// runtime blocked in ReceiveData or in a connect that a
// termination signal ends within half a second.
#include "tests/stop_budget.h"
#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <vector>

#include "tests/comm/network_support.h"
#include "tests/comm/runtime_run.h"

namespace {

TEST(NetworkApplets, ServerAndClientExchangeBlocksLinesAndDatagrams)
{
    RuntimeRun server, client;
    ASSERT_TRUE(server.Start("server", {}));
    ASSERT_TRUE(server.WaitFor("\n", 20000)) << server.text;
    int tcp = 0, udp = 0;
    size_t at = server.text.find("PORT ");
    ASSERT_NE(at, std::string::npos) << server.text;
    ASSERT_EQ(sscanf(server.text.c_str() + at, "PORT %d %d", &tcp, &udp), 2) << server.text;

    // The empty datagram comes from here: SendUDPData refuses empty data.
    ASSERT_TRUE(SendEmptyDatagram(udp));

    ASSERT_TRUE(client.Start("client", {"-port", std::to_string(tcp), "-udp", std::to_string(udp)}));
    bool clientEnded = client.WaitEnd(120000);
    bool serverEnded = server.WaitEnd(clientEnded ? 20000 : 1);
    ASSERT_TRUE(clientEnded) << "client: " << client.text << "\nserver: " << server.text;
    EXPECT_TRUE(client.ExitedWith(0)) << client.status << ": " << client.text;
    ASSERT_TRUE(serverEnded) << server.text;
    EXPECT_TRUE(server.ExitedWith(0)) << server.status << ": " << server.text;
}

TEST(NetworkApplets, ATerminationSignalEndsABlockedWait)
{
    for (const char *step : {"receive", "connect"}) {
        SCOPED_TRACE(step);
        TestListener listener(0);
        int fillers[4];
        bool connect = std::string(step) == "connect";
        // A full accept queue: the runtime's connect hangs.
        for (int &f : fillers) f = connect ? StartLoopbackConnect(listener.port) : -1;
        RuntimeRun run;
        ASSERT_TRUE(run.Start("blocker", {"-port", std::to_string(listener.port), "-step", step}));
        ASSERT_TRUE(run.WaitFor("WAITING", 20000)) << run.text;
        int peer = connect ? -1 : listener.Accept();
        if (!connect) ASSERT_GE(peer, 0);
        // Give the runtime a moment to enter its wait; the signal ends it either way.
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        auto start = std::chrono::steady_clock::now();
        kill(run.pid, SIGTERM);
        EXPECT_TRUE(run.WaitEnd(5000)) << run.text;
        EXPECT_LT(MillisecondsSince(start), kStopBudgetMs) << run.text;
        EXPECT_FALSE(run.ExitedWith(5)) << run.text;  // the wait did not simply end by itself
        if (peer >= 0) close(peer);
        for (int f : fillers)
            if (f >= 0) close(f);
    }
}

// 100,000 datagrams sent fast on 127.0.0.1 to a runtime whose OnReceiveUDPData handler
// reads one each: at least 95% reach the script, and every datagram the socket took in
// does (the socket's own drops are the only loss).
TEST(NetworkApplets, ABurstOfDatagramsReachesTheScript)
{
    RuntimeRun run;
    ASSERT_TRUE(run.Start("udpcount", {}));
    ASSERT_TRUE(run.WaitFor("\n", 20000)) << run.text;
    int udp = 0, tcp = 0;
    size_t at = run.text.find("PORT ");
    ASSERT_NE(at, std::string::npos) << run.text;
    ASSERT_EQ(sscanf(run.text.c_str() + at, "PORT %d %d", &udp, &tcp), 2) << run.text;
    const int total = 100000;
    auto start = std::chrono::steady_clock::now();
    std::thread sender([&] { SendDatagramBurst(udp, total); });
    sender.join();
    double sendMs = MillisecondsSince(start);
    long dropped = KernelUdpDrops(udp);  // the sender is done: no more can come
    // The connection's close tells the runtime to count what is still waiting.
    int control = StartLoopbackConnect(tcp);
    ASSERT_GE(control, 0);
    pollfd p = {control, POLLOUT, 0};
    ASSERT_EQ(poll(&p, 1, 5000), 1);
    close(control);
    ASSERT_TRUE(run.WaitFor("COUNT ", 60000)) << run.text;
    ASSERT_TRUE(run.WaitEnd(20000)) << run.text;
    EXPECT_TRUE(run.ExitedWith(0)) << run.status << ": " << run.text;
    int received = -1;
    ASSERT_EQ(sscanf(run.text.c_str() + run.text.find("COUNT "), "COUNT %d", &received), 1) << run.text;
    std::printf("datagrams reaching the script: %d of %d (%.1f%%), dropped by the socket: %ld, sent in %.0f ms\n",
                received, total, 100.0 * received / total, dropped, sendMs);
    if (dropped >= 0) {
        EXPECT_EQ(received + dropped, total);
    }
    EXPECT_GE(received, total * 95 / 100);
}

}  // namespace

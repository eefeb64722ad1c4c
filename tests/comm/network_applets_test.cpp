// Runtime processes running the assembled applets of network_fixtures/ through
// build/bin/lumivarra: a server and a client exchanging 4 MiB of every byte value in
// blocks and lines over 127.0.0.1 and 200 datagrams plus an empty one (both must end
// with exit code 0); and a runtime blocked in ReceiveData or in a connect that a
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

}  // namespace

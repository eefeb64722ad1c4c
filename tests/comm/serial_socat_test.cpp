// The serial engine end to end over a socat pseudo-terminal pair: two ports
// joined by socat, a sender and a receiver on their own threads, as two
// machines of the chat applet would be. The sender sends 100 KB in 4 KB blocks,
// the receiver acknowledges each block and then echoes all of it back, and the
// sender checks what came back.
#include "comm/serial.h"
#include "runtime/errors.h"

#include <gtest/gtest.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char **environ;

// A running socat that joins two pseudo-terminals; stopped by the destructor.
struct lvSocatPair {
    pid_t pid = -1;
    std::string devices[2];  // the two terminal paths
    std::string logPath;     // socat's messages

    // 1 started, 0 socat is not installed, -1 it did not report two terminals in time.
    int Start()
    {
        char log[] = "/tmp/lvsocatXXXXXX";
        int fd = mkstemp(log);
        if (fd < 0) return -1;
        logPath = log;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fd, 2);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        const char *argv[] = {"socat", "-d", "-d", "pty,raw,echo=0", "pty,raw,echo=0", nullptr};
        int r = posix_spawnp(&pid, "socat", &actions, nullptr, (char *const *)argv, environ);
        posix_spawn_file_actions_destroy(&actions);
        close(fd);
        if (r != 0) {
            pid = -1;
            return r == ENOENT ? 0 : -1;
        }
        // "... N PTY is /dev/pts/7", once per side, within a few seconds.
        auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (std::chrono::steady_clock::now() < end) {
            std::string text = ReadLog();
            int found = 0;
            for (size_t at = text.find("PTY is "); at != std::string::npos && found < 2;
                 at = text.find("PTY is ", at + 1)) {
                size_t start = at + 7, stop = text.find_first_of("\r\n", start);
                if (stop == std::string::npos) break;
                devices[found++] = text.substr(start, stop - start);
            }
            if (found == 2) return 1;
            int status;
            if (waitpid(pid, &status, WNOHANG) == pid) {
                pid = -1;
                return -1;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return -1;
    }
    std::string ReadLog() const
    {
        std::string text;
        FILE *f = std::fopen(logPath.c_str(), "rb");
        if (!f) return text;
        char buffer[1024];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) text.append(buffer, n);
        std::fclose(f);
        return text;
    }
    ~lvSocatPair()
    {
        if (pid > 0) {
            kill(pid, SIGTERM);
            waitpid(pid, nullptr, 0);
        }
        if (!logPath.empty()) unlink(logPath.c_str());
    }
};

// Reads exactly length bytes from a port, each read waiting at most the time-out.
static bool ReadExactly(lvObjectId id, size_t length, std::string *out, uint32_t timeout)
{
    while (out->size() < length) {
        lvSerialRead read;
        if (ReadSerialData(id, (int)(length - out->size()), timeout, &read) != 0) return false;
        out->append(read.data, (size_t)read.bytesRead);
        FreeMemory(read.data);
        if (read.timedOut) return false;
    }
    return true;
}

static bool WriteAll(lvObjectId id, const std::string &data, uint32_t timeout)
{
    size_t written = 0;
    return WriteSerialData(id, data.data(), data.size(), timeout, &written) == 0 && written == data.size();
}

TEST(SerialEndToEnd, BlocksAcknowledgedAndEchoedOverSocat)
{
    lvSocatPair socat;
    int started = socat.Start();
    if (started == 0) GTEST_SKIP() << "socat is not installed";
    ASSERT_EQ(started, 1) << "socat did not report its terminals: " << socat.ReadLog();

    ResetErrorState();
    ASSERT_EQ(OpenSerialLibrary(nullptr), 0);
    lvSerialOptions options;
    InitSerialOptions(&options);
    options.baudCode = LV_BAUD_115200;
    ASSERT_EQ(OpenSerialPort(1, false, socat.devices[0].c_str(), &options, nullptr), 0);
    ASSERT_EQ(OpenSerialPort(2, false, socat.devices[1].c_str(), &options, nullptr), 0);
    const lvObjectId sender = {1, nullptr}, receiver = {2, nullptr};

    const size_t kBlock = 4096, kBlocks = 25;  // 100 KB
    std::string data;
    uint32_t seed = 12345;
    for (size_t i = 0; i < kBlock * kBlocks; i++) {
        seed = seed * 1103515245u + 12345u;
        data.push_back((char)(seed >> 16));
    }
    // Every byte value is in the stream, including the terminal's special ones.
    for (int b = 0; b < 256; b++) data[(size_t)b * 7] = (char)b;

    std::string receiverError;
    std::thread peer([&] {
        std::string received;
        for (size_t block = 0; block < kBlocks; block++) {
            std::string part;
            if (!ReadExactly(receiver, kBlock, &part, 3000)) {
                receiverError = "block " + std::to_string(block) + " did not arrive";
                return;
            }
            received += part;
            std::string ack = "ACK" + std::string(1, (char)block);
            if (!WriteAll(receiver, ack, 3000)) {
                receiverError = "could not acknowledge block " + std::to_string(block);
                return;
            }
        }
        for (size_t at = 0; at < received.size(); at += kBlock) {
            if (!WriteAll(receiver, received.substr(at, kBlock), 3000)) {
                receiverError = "could not echo";
                return;
            }
        }
    });

    bool sent = true;
    for (size_t block = 0; block < kBlocks && sent; block++) {
        sent = WriteAll(sender, data.substr(block * kBlock, kBlock), 3000);
        EXPECT_TRUE(sent) << "block " << block;
        std::string ack;
        bool acked = sent && ReadExactly(sender, 4, &ack, 3000);
        EXPECT_TRUE(acked) << "no acknowledgement for block " << block;
        EXPECT_EQ(ack, "ACK" + std::string(1, (char)block));
        sent = sent && acked;
    }
    std::string echo;
    if (sent) {
        EXPECT_TRUE(ReadExactly(sender, data.size(), &echo, 3000));
    }
    peer.join();
    EXPECT_EQ(receiverError, "");
    EXPECT_EQ(echo.size(), data.size());
    EXPECT_TRUE(echo == data) << "the echo differs from what was sent";

    int waiting = -1;
    EXPECT_EQ(PollSerialQueue(sender, &waiting), 0);
    EXPECT_EQ(waiting, 0);
    FreeSerialPorts();
    FreeObjectTypes();
}

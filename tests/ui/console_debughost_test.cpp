// The "::hwnd<N>" debug channel against a fake host: a SOCK_SEQPACKET socket
// "debughost-<N>" in the per-user socket folder (here under a private XDG_RUNTIME_DIR)
// that records every packet and acknowledges it with one byte.
#include "tests/ui/console_run.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>

namespace {

struct Packet {
    uint32_t channel;
    std::string bytes;
};

class FakeHost {
public:
    explicit FakeHost(const std::string &folder, int number)
    {
        listener_ = socket(AF_UNIX, SOCK_SEQPACKET, 0);
        struct sockaddr_un address = {};
        address.sun_family = AF_UNIX;
        path_ = folder + "/debughost-" + std::to_string(number);
        std::strncpy(address.sun_path, path_.c_str(), sizeof address.sun_path - 1);
        ok_ = bind(listener_, reinterpret_cast<struct sockaddr *>(&address), sizeof address) == 0 &&
              listen(listener_, 8) == 0;
        thread_ = std::thread([this] { Serve(); });
    }
    ~FakeHost()
    {
        stop_ = true;
        thread_.join();
        close(listener_);
        unlink(path_.c_str());
    }
    bool ok() const { return ok_; }
    std::vector<Packet> Packets()
    {
        std::lock_guard<std::mutex> guard(lock_);
        return packets_;
    }
    // Waits until count packets of this size came (at most 10 s).
    bool WaitForPackets(size_t count, size_t size)
    {
        for (int i = 0; i < 1000; i++) {
            size_t n = 0;
            for (const Packet &p : Packets()) n += p.bytes.size() == size;
            if (n >= count) return true;
            usleep(10000);
        }
        return false;
    }

private:
    void Serve()
    {
        std::vector<int> peers;
        while (!stop_) {
            std::vector<struct pollfd> fds = {{listener_, POLLIN, 0}};
            for (int p : peers) fds.push_back({p, POLLIN, 0});
            if (poll(fds.data(), fds.size(), 50) <= 0) continue;
            if (fds[0].revents & POLLIN) peers.push_back(accept(listener_, nullptr, nullptr));
            for (size_t i = 1; i < fds.size(); i++) {
                if (!(fds[i].revents & (POLLIN | POLLHUP))) continue;
                unsigned char buffer[4096];
                ssize_t n = recv(fds[i].fd, buffer, sizeof buffer, 0);
                if (n <= 0) {
                    close(fds[i].fd);
                    peers.erase(std::find(peers.begin(), peers.end(), fds[i].fd));
                    continue;
                }
                Packet packet;
                packet.channel = buffer[0] | buffer[1] << 8 | buffer[2] << 16 | uint32_t(buffer[3]) << 24;
                uint32_t length = buffer[4] | buffer[5] << 8 | buffer[6] << 16 | uint32_t(buffer[7]) << 24;
                packet.bytes.assign(reinterpret_cast<char *>(buffer) + 8, static_cast<size_t>(n) - 8);
                EXPECT_EQ(length, packet.bytes.size());
                {
                    std::lock_guard<std::mutex> guard(lock_);
                    packets_.push_back(packet);
                }
                (void)!send(fds[i].fd, "k", 1, MSG_NOSIGNAL);
            }
        }
        for (int p : peers) close(p);
    }

    int listener_ = -1;
    bool ok_ = false;
    std::string path_;
    std::atomic<bool> stop_{false};
    std::mutex lock_;
    std::vector<Packet> packets_;
    std::thread thread_;
};

// A private runtime folder for the run, so that other runs' channels do not count.
class DebugHostTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/lv_debughost_XXXXXX";
        root_ = mkdtemp(pattern);
        setenv("XDG_RUNTIME_DIR", root_.c_str(), 1);
        folder_ = root_ + "/lumivarra";
        mkdir(folder_.c_str(), 0700);
    }
    void TearDown() override
    {
        unsetenv("XDG_RUNTIME_DIR");
        std::system(("rm -rf " + root_).c_str());
    }
    std::string root_, folder_;
};

// A runtime on the applet with the host device, standard input left open until closed.
struct Runtime {
    pid_t pid = -1;
    int input = -1, output = -1;
    void Start(const std::string &device)
    {
        int in[2], out[2];
        // Close-on-exec: a second runtime must not hold the first one's input open.
        (void)!pipe2(in, O_CLOEXEC);
        (void)!pipe2(out, O_CLOEXEC);
        pid = fork();
        if (pid == 0) {
            dup2(in[0], 0);
            dup2(out[1], 1);
            close(in[1]);
            close(out[0]);
            std::string bin = std::string(LV_BIN_DIR) + "/lumivarra";
            std::string applet = ConsoleApplet("debughost");
            execl(bin.c_str(), bin.c_str(), applet.c_str(), "-DEBUGDEVICE", device.c_str(), nullptr);
            _exit(127);
        }
        close(in[0]);
        close(out[1]);
        input = in[1];
        output = out[0];
    }
    // Ends the wait for a key; returns standard output and the exit code.
    std::string Finish(int *code)
    {
        close(input);
        std::string text;
        char buffer[4096];
        ssize_t n;
        while ((n = read(output, buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<size_t>(n));
        close(output);
        int status = 0;
        waitpid(pid, &status, 0);
        *code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return text;
    }
};

}  // namespace

TEST_F(DebugHostTest, PiecesChannelsAndTheFinalErrorReachTheHost)
{
    FakeHost host(folder_, 4242);
    ASSERT_TRUE(host.ok());
    Runtime first, second;
    first.Start("::hwnd4242");
    ASSERT_TRUE(host.WaitForPackets(1, 955));
    second.Start("::hwnd4242");
    ASSERT_TRUE(host.WaitForPackets(2, 955));
    int code = 0;
    std::string firstOut = first.Finish(&code);
    EXPECT_NE(code, 0);
    std::string secondOut = second.Finish(&code);
    for (int i = 0; i < 1000 && host.Packets().size() < 2 * 6; i++) usleep(10000);
    EXPECT_EQ(firstOut, "") << "text went to standard output beside the host";

    std::vector<Packet> packets = host.Packets();
    std::vector<Packet> channel0, channel1;
    for (const Packet &p : packets) (p.channel == 0 ? channel0 : channel1).push_back(p);
    // The second runtime took the next channel while the first held its own. The
    // applet's pieces come after the banner lines.
    ASSERT_GE(channel0.size(), 6u);
    ASSERT_GE(channel1.size(), 6u);
    for (const auto *list : {&channel0, &channel1}) {
        std::vector<Packet> p(list->end() - 6, list->end());
        // 5000 bytes as 2047, 2047, 906.
        EXPECT_EQ(p[0].bytes.size(), 2047u);
        EXPECT_EQ(p[1].bytes.size(), 2047u);
        EXPECT_EQ(p[2].bytes.size(), 906u);
        // 3001 bytes of two-byte characters are cut after a whole one: 2046, then 955.
        EXPECT_EQ(p[3].bytes.size(), 2046u);
        EXPECT_EQ(p[4].bytes.size(), 955u);
        // The final error in the host's form: no surrounding line ends.
        EXPECT_EQ(p[5].bytes.rfind("@_lverror", 0), 0u) << p[5].bytes;
        EXPECT_NE(p[5].bytes.find("only available in advanced console mode"), std::string::npos) << p[5].bytes;
        EXPECT_NE(p[5].bytes.back(), '\n');
    }
}

TEST_F(DebugHostTest, WithoutAHostTheTextGoesToStandardOutput)
{
    Runtime run;
    run.Start("::hwnd4243");
    int code = 0;
    std::string out = run.Finish(&code);
    EXPECT_NE(code, 0);
    size_t at = out.find(std::string(4999, 'x') + "\n");
    ASSERT_NE(at, std::string::npos);
    ASSERT_GE(out.size(), at + 8001);
    EXPECT_EQ(out.compare(at + 5000, 2, "\xC3\xA9"), 0);
    // The final error in the form a host reads from a console.
    EXPECT_NE(out.find("@_lverror", at + 8001), std::string::npos) << out.substr(at + 8001);
}

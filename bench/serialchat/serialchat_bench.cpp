// serialchat_bench - 1 MB through a relay of two pseudo-terminal pairs that passes bytes
// no faster than a serial line at the given rate (10 bits a byte), measured two ways in
// the same run:
//   raw      a writer on one end, a reader on the other: the line's own rate
//   applet   two build/examples/serialchat instances, one sending the file to the other
//            (from "Sending" to "Sent" in the sender's output)
// and the ratio applet / raw. Rates 115200 and 460800 unless given as arguments.
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <poll.h>
#include <pty.h>
#include <string>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
const size_t kTotal = size_t(1) << 20;

double Now() { return std::chrono::duration<double>(Clock::now().time_since_epoch()).count(); }

std::string ReadFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string &path, const std::string &data)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << data;
}

// Two pty pairs; a thread passes bytes between the masters, each direction paced.
struct Relay {
    int master[2] = {-1, -1}, slave[2] = {-1, -1};
    std::string path[2];
    std::atomic<bool> stop{false};
    std::thread thread;
    double bytesPerSecond = 0;

    bool Open(int baud)
    {
        bytesPerSecond = baud / 10.0;
        for (int i = 0; i < 2; i++) {
            char name[256];
            if (openpty(&master[i], &slave[i], name, nullptr, nullptr) != 0) return false;
            termios t;
            tcgetattr(slave[i], &t);
            cfmakeraw(&t);
            tcsetattr(slave[i], TCSANOW, &t);
            fcntl(master[i], F_SETFL, fcntl(master[i], F_GETFL) | O_NONBLOCK);
            path[i] = name;
        }
        thread = std::thread([this] { Run(); });
        return true;
    }
    void Run()
    {
        std::string queued[2];
        double start[2] = {Now(), Now()};
        double sent[2] = {0, 0};
        while (!stop) {
            pollfd fds[2] = {{master[0], POLLIN, 0}, {master[1], POLLIN, 0}};
            poll(fds, 2, 1);
            for (int i = 0; i < 2; i++) {
                char buffer[65536];
                ssize_t n = read(master[i], buffer, sizeof buffer);
                if (n > 0) {
                    if (queued[i].empty()) {
                        // An idle line earns no credit.
                        start[i] = Now();
                        sent[i] = 0;
                    }
                    queued[i].append(buffer, (size_t)n);
                }
                if (queued[i].empty()) continue;
                double allowed = (Now() - start[i]) * bytesPerSecond - sent[i];
                size_t take = allowed < 1 ? 0 : std::min(queued[i].size(), (size_t)allowed);
                if (!take) continue;
                ssize_t w = write(master[1 - i], queued[i].data(), take);
                if (w > 0) {
                    queued[i].erase(0, (size_t)w);
                    sent[i] += (double)w;
                }
            }
        }
    }
    ~Relay()
    {
        stop = true;
        if (thread.joinable()) thread.join();
        for (int i = 0; i < 2; i++) {
            if (master[i] >= 0) close(master[i]);
            if (slave[i] >= 0) close(slave[i]);
        }
    }
};

double RawSeconds(int baud)
{
    Relay relay;
    if (!relay.Open(baud)) return -1;
    int in = open(relay.path[1].c_str(), O_RDONLY | O_NOCTTY);
    int out = open(relay.path[0].c_str(), O_WRONLY | O_NOCTTY);
    std::string data(kTotal, 'x');
    double t0 = Now();
    std::thread writer([&] {
        size_t at = 0;
        while (at < data.size()) {
            ssize_t n = write(out, data.data() + at, std::min<size_t>(4096, data.size() - at));
            if (n > 0) at += (size_t)n;
        }
    });
    size_t got = 0;
    char buffer[65536];
    while (got < kTotal) {
        ssize_t n = read(in, buffer, sizeof buffer);
        if (n > 0) got += (size_t)n;
    }
    double t = Now() - t0;
    writer.join();
    close(in);
    close(out);
    return t;
}

pid_t Start(const std::string &dir, const std::string &actions)
{
    WriteFile(dir + "/actions.txt", actions);
    std::string program = std::string(LV_BUILD_DIR) + "/examples/serialchat";
    pid_t pid = fork();
    if (pid == 0) {
        setenv("SDL_VIDEODRIVER", "offscreen", 0);
        setenv("SDL_AUDIODRIVER", "dummy", 0);
        if (chdir(dir.c_str()) != 0) _exit(126);
        int fd = open("out.log", O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(fd, 1);
        dup2(fd, 2);
        execl(program.c_str(), program.c_str(), "-actions", "actions.txt", (char *)nullptr);
        _exit(127);
    }
    return pid;
}

double AppletSeconds(int baud)
{
    Relay relay;
    if (!relay.Open(baud)) return -1;
    std::string dirs[2];
    for (int i = 0; i < 2; i++) {
        char pattern[] = "/tmp/lvchatbenchXXXXXX";
        dirs[i] = mkdtemp(pattern);
        WriteFile(dirs[i] + "/Settings.dat", "NAME " + std::string(i ? "B" : "A") + "\nPORT " + relay.path[i] +
                                                 "\nBAUD " + std::to_string(baud) + "\nSTOR " + dirs[i] +
                                                 "\nRECE leave\nSERV 0\n");
    }
    std::string data(kTotal, '\0');
    for (size_t i = 0; i < kTotal; i++) data[i] = char((i * 7919) >> 3);
    WriteFile(dirs[0] + "/big.bin", data);
    pid_t b = Start(dirs[1], "connect\nwaitfiles 1\nwaitbye\nquit\n");
    pid_t a = Start(dirs[0], "connect\nsend big.bin\nquit\n");
    double started = 0, ended = 0, limit = Now() + 60 + kTotal * 10.0 / baud * 3;
    while (Now() < limit && !ended) {
        std::string out = ReadFile(dirs[0] + "/out.log");
        if (!started && out.find("status: Sending big.bin") != std::string::npos) started = Now();
        if (out.find("chat: * Sent big.bin") != std::string::npos || out.find("failed") != std::string::npos)
            ended = Now();
        usleep(2000);
    }
    bool exact = ReadFile(dirs[1] + "/big.bin") == data;
    for (pid_t p : {a, b}) {
        kill(p, SIGKILL);
        waitpid(p, nullptr, 0);
    }
    for (const std::string &d : dirs) {
        if (system(("rm -rf '" + d + "'").c_str()) != 0) {}
    }
    if (!started || !ended || !exact) return -1;
    return ended - started;
}

}  // namespace

int main(int argc, char **argv)
{
    std::vector<int> rates;
    for (int i = 1; i < argc; i++) rates.push_back(atoi(argv[i]));
    if (rates.empty()) rates = {115200, 460800};
    printf("%-8s %12s %12s %7s\n", "baud", "raw KB/s", "applet KB/s", "ratio");
    for (int baud : rates) {
        double raw = RawSeconds(baud), applet = AppletSeconds(baud);
        if (raw <= 0 || applet <= 0) {
            printf("%-8d failed\n", baud);
            continue;
        }
        double rawRate = kTotal / raw / 1024, appletRate = kTotal / applet / 1024;
        printf("%-8d %12.1f %12.1f %7.3f\n", baud, rawRate, appletRate, appletRate / rawRate);
        fflush(stdout);
    }
    return 0;
}

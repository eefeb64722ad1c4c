// network_bench - moves 256 MiB over 127.0.0.1 and prints MB/s for each way, and the
// ratio of ours to the plain C pair with 8 KiB buffers:
//   engines     SendWithTimeout in 1 MiB pieces (child process) against
//               ReceiveBuffered(RECEIVEBYTES) of 1 MiB into a string (this process)
//   c-8k, c-64k plain blocking send()/recv() with 8 and 64 KiB buffers
//   socat       the C sender (64 KiB) into "socat -u TCP-LISTEN ... /dev/null"
//   runtimes    SendData of 1 MiB strings and ReceiveData(RECEIVEBYTES) of 1 MiB in two
//               runtime processes (build/bin/lumivarra with benchsend and benchrecv),
//               timed from the sender's start to the receiver's end
// Each row is the best of three runs.
#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include "comm/network.h"

namespace {

const size_t kTotal = size_t(256) << 20;
const size_t kPiece = size_t(1) << 20;

double Seconds()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

sockaddr_in Loopback(int port)
{
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_port = htons((uint16_t)port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

int Listen(int *port)
{
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = Loopback(0);
    socklen_t length = sizeof a;
    if (bind(fd, (sockaddr *)&a, sizeof a) || listen(fd, 4) || getsockname(fd, (sockaddr *)&a, &length)) exit(2);
    *port = ntohs(a.sin_port);
    return fd;
}

int ConnectTo(int port)
{
    for (int attempt = 0; attempt < 500; attempt++) {
        int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a = Loopback(port);
        if (connect(fd, (sockaddr *)&a, sizeof a) == 0) return fd;
        close(fd);
        usleep(10000);
    }
    return -1;
}

// The plain C sender: kTotal bytes in buffers of `buffer` bytes.
void PlainSend(int fd, size_t buffer)
{
    std::string block(buffer, 'x');
    for (size_t sent = 0; sent < kTotal;) {
        ssize_t n = send(fd, block.data(), std::min(buffer, kTotal - sent), MSG_NOSIGNAL);
        if (n <= 0) _exit(3);
        sent += (size_t)n;
    }
    close(fd);
}

double PlainPair(size_t buffer)
{
    int port = 0;
    int listener = Listen(&port);
    pid_t child = fork();
    if (child == 0) {
        PlainSend(ConnectTo(port), buffer);
        _exit(0);
    }
    int fd = accept(listener, nullptr, nullptr);
    std::string block(buffer, 0);
    double start = Seconds();
    size_t got = 0;
    for (ssize_t n; (n = recv(fd, block.data(), buffer, 0)) > 0;) got += (size_t)n;
    double elapsed = Seconds() - start;
    close(fd);
    close(listener);
    waitpid(child, nullptr, 0);
    return got == kTotal ? kTotal / elapsed / 1e6 : 0;
}

double Engines()
{
    lvNetworkNode *server = nullptr;
    if (CreateNetworkServer(0, 1, 0, "127.0.0.1", 4, LV_IPV4, &server)) return 0;
    char host[64];
    int port = 0, protocol = 0;
    QueryObjectAddress(GetObjectIdOf(&server->header), LV_NETWORKSERVER, 0, host, sizeof host, &port, &protocol);
    pid_t child = fork();
    if (child == 0) {
        lvConnectOptions options = {nullptr, LV_IPV4, 0, nullptr, nullptr};
        lvNetworkNode *node = nullptr;
        if (OpenNetworkConnection(0, 1, "127.0.0.1", port, &options, &node)) _exit(4);
        std::string piece(kPiece, 'y');
        for (size_t sent = 0; sent < kTotal; sent += kPiece) {
            size_t went = 0;
            if (SendWithTimeout(NodeConnection(node), piece.data(), piece.size(), 0, &went) || went != kPiece)
                _exit(5);
        }
        _exit(0);
    }
    lvNetworkNode *client = nullptr;
    for (int i = 0; i < 100000 && !PollServerAccept(server, &client); i++) usleep(100);
    if (!client) return 0;
    double start = Seconds();
    size_t got = 0;
    while (got < kTotal) {
        lvReceiveDestination d = {};
        lvReceiveResult r = {};
        if (ReceiveBuffered(NodeConnection(client), LV_RECEIVEBYTES, kPiece, 1, &d, &r)) break;
        ReleaseReceiveBuffer(&d);
        if (r.count == 0) break;
        got += r.count;
    }
    double elapsed = Seconds() - start;
    waitpid(child, nullptr, 0);
    RemoveConnection(GetObjectIdOf(&client->header));
    RemoveServer(GetObjectIdOf(&server->header));
    return got == kTotal ? kTotal / elapsed / 1e6 : 0;
}

double Socat()
{
    int port = 0;
    close(Listen(&port));  // a free port for socat to listen on
    std::string listen = "TCP4-LISTEN:" + std::to_string(port) + ",bind=127.0.0.1,reuseaddr";
    pid_t socat = fork();
    if (socat == 0) {
        execlp("socat", "socat", "-u", "-b", "65536", listen.c_str(), "OPEN:/dev/null,wronly", (char *)nullptr);
        _exit(127);
    }
    int fd = ConnectTo(port);
    if (fd < 0) {
        kill(socat, SIGKILL);
        waitpid(socat, nullptr, 0);
        return 0;
    }
    double start = Seconds();
    PlainSend(fd, 65536);
    int status = 0;
    waitpid(socat, &status, 0);
    double elapsed = Seconds() - start;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? kTotal / elapsed / 1e6 : 0;
}

#if defined(LV_BIN_DIR)
pid_t StartRuntime(const char *applet, const char *port, int *output)
{
    std::string program = std::string(LV_BIN_DIR) + "/lumivarra";
    std::string path = std::string(LV_APPLET_DIR) + "/" + applet + ".lva";
    int fds[2] = {-1, -1};
    if (output && pipe(fds)) return -1;
    pid_t pid = fork();
    if (pid == 0) {
        if (output) {
            dup2(fds[1], 1);
            close(fds[0]);
        }
        if (port) execl(program.c_str(), program.c_str(), path.c_str(), "-port", port, (char *)nullptr);
        else execl(program.c_str(), program.c_str(), path.c_str(), (char *)nullptr);
        _exit(127);
    }
    if (output) {
        close(fds[1]);
        *output = fds[0];
    }
    return pid;
}

double Runtimes()
{
    int output = -1;
    pid_t receiver = StartRuntime("benchrecv", nullptr, &output);
    if (receiver < 0) return 0;
    std::string text;
    char buffer[256];
    while (text.find('\n') == std::string::npos) {
        pollfd p = {output, POLLIN, 0};
        ssize_t n = poll(&p, 1, 20000) == 1 ? read(output, buffer, sizeof buffer) : -1;
        if (n <= 0) break;
        text.append(buffer, (size_t)n);
    }
    close(output);
    int port = 0;
    size_t at = text.find("PORT ");
    if (at == std::string::npos || std::sscanf(text.c_str() + at, "PORT %d", &port) != 1) {
        kill(receiver, SIGKILL);
        waitpid(receiver, nullptr, 0);
        return 0;
    }
    std::string portText = std::to_string(port);
    double start = Seconds();
    pid_t sender = StartRuntime("benchsend", portText.c_str(), nullptr);
    int received = 0, sent = 0;
    waitpid(receiver, &received, 0);
    double elapsed = Seconds() - start;
    waitpid(sender, &sent, 0);
    bool ok = WIFEXITED(received) && WEXITSTATUS(received) == 0 && WIFEXITED(sent) && WEXITSTATUS(sent) == 0;
    return ok ? kTotal / elapsed / 1e6 : 0;
}
#endif

template <typename Fn>
double Best(Fn fn)
{
    double best = 0;
    for (int i = 0; i < 3; i++) best = std::max(best, fn());
    return best;
}

}  // namespace

int main()
{
    signal(SIGPIPE, SIG_IGN);
    if (OpenNetworkLibrary(nullptr, nullptr, nullptr)) return 1;
    double ours = Best(Engines);
    double c8 = Best([] { return PlainPair(8192); });
    double c64 = Best([] { return PlainPair(65536); });
    double socat = Best(Socat);
#if defined(LV_BIN_DIR)
    double runtimes = Best(Runtimes);
#else
    double runtimes = 0;
#endif
    std::printf("%-10s %10s %12s\n", "peer", "MB/s", "ours/peer");
    std::printf("%-10s %10.1f %12s\n", "engines", ours, "-");
    std::printf("%-10s %10.1f %12.2f\n", "c-8k", c8, c8 > 0 ? ours / c8 : 0);
    std::printf("%-10s %10.1f %12.2f\n", "c-64k", c64, c64 > 0 ? ours / c64 : 0);
    if (socat > 0) std::printf("%-10s %10.1f %12.2f\n", "socat", socat, ours / socat);
    else std::printf("%-10s %10s\n", "socat", "not run");
    if (runtimes > 0) std::printf("%-10s %10.1f %12.2f   (two runtimes; ratio to c-8k)\n", "runtimes", runtimes, c8 > 0 ? runtimes / c8 : 0);
    else std::printf("%-10s %10s\n", "runtimes", "not run");
    FreeNetworkObjects();
    return 0;
}

// Loopback peers for the network tests: a listening socket on 127.0.0.1 (or ::1) that
// the test accepts from, plain blocking reads and writes with bounded waits, and the
// count of open descriptors.
#pragma once
#include <arpa/inet.h>
#include <dirent.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <set>
#include <string>
#include <thread>

// IsOnline must never reach out of the machine from a test: its target is a closed
// loopback port unless a test names another.
inline void KeepOnlineTestLocal()
{
    setenv("LUMIVARRA_ONLINE_TARGET", "127.0.0.1:9", 1);
}

// 127.0.0.1 and the port.
inline sockaddr_in LoopbackAddress(int port)
{
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_port = htons((uint16_t)port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

// Starts a connect of a new non-blocking socket to 127.0.0.1:port (filling a backlog).
inline int StartLoopbackConnect(int port)
{
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in a = LoopbackAddress(port);
    connect(fd, (sockaddr *)&a, sizeof a);
    return fd;
}

// Sends an empty datagram to 127.0.0.1:port; true when it went.
inline bool SendEmptyDatagram(int port)
{
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in to = LoopbackAddress(port);
    bool sent = sendto(fd, "", 0, 0, (sockaddr *)&to, sizeof to) == 0;
    close(fd);
    return sent;
}

// A listening socket of the test's own on a port the system chose.
struct TestListener {
    int fd = -1;
    int port = 0;
    explicit TestListener(int backlog = 16, bool ipv6 = false)
    {
        fd = socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_storage storage = {};
        socklen_t length;
        if (ipv6) {
            auto *a = (sockaddr_in6 *)&storage;
            a->sin6_family = AF_INET6;
            a->sin6_addr = in6addr_loopback;
            length = sizeof *a;
        } else {
            auto *a = (sockaddr_in *)&storage;
            a->sin_family = AF_INET;
            a->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            length = sizeof *a;
        }
        if (bind(fd, (sockaddr *)&storage, length) != 0 || listen(fd, backlog) != 0) {
            close(fd);
            fd = -1;
            return;
        }
        length = sizeof storage;
        getsockname(fd, (sockaddr *)&storage, &length);
        port = ntohs(ipv6 ? ((sockaddr_in6 *)&storage)->sin6_port : ((sockaddr_in *)&storage)->sin_port);
    }
    // The next connection, waiting at most 5 s; -1 when none came.
    int Accept()
    {
        pollfd p = {fd, POLLIN, 0};
        if (poll(&p, 1, 5000) != 1) return -1;
        return accept4(fd, nullptr, nullptr, SOCK_CLOEXEC);
    }
    ~TestListener()
    {
        if (fd >= 0) close(fd);
    }
};

// A port on 127.0.0.1 that nothing listens on (bound, then closed).
inline int ClosedLoopbackPort()
{
    TestListener l;
    return l.port;
}

// Writes all of text to a blocking descriptor.
inline bool WriteAll(int fd, const std::string &text)
{
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = send(fd, text.data() + done, text.size() - done, MSG_NOSIGNAL);
        if (n <= 0) return false;
        done += (size_t)n;
    }
    return true;
}

// Reads exactly count bytes (or until the peer closes), each wait bounded by 5 s.
inline std::string ReadCount(int fd, size_t count)
{
    std::string out;
    char buffer[65536];
    while (out.size() < count) {
        pollfd p = {fd, POLLIN, 0};
        if (poll(&p, 1, 5000) != 1) break;
        ssize_t n = recv(fd, buffer, std::min(sizeof buffer, count - out.size()), 0);
        if (n <= 0) break;
        out.append(buffer, (size_t)n);
    }
    return out;
}

// The number of open descriptors of this process.
inline int CountOpenDescriptors()
{
    int count = 0;
    if (DIR *d = opendir("/proc/self/fd")) {
        while (readdir(d)) count++;
        closedir(d);
    }
    return count;
}

inline double MillisecondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

// True when ::1 can be bound here (IPv6 tests are skipped otherwise).
inline bool HaveIpv6Loopback()
{
    TestListener l(1, true);
    return l.fd >= 0;
}

// Writes pieces until the client goes or the bound passes, pausing between them.
inline void Flood(int fd, const std::string &first, const std::string &piece, int pauseMs, int boundMs = 10000)
{
    auto start = std::chrono::steady_clock::now();
    if (!WriteAll(fd, first)) return;
    while (MillisecondsSince(start) < boundMs && WriteAll(fd, piece))
        if (pauseMs) std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
}

// The names in a folder but for those that start with a dot.
inline std::set<std::string> FolderEntries(const std::string &folder)
{
    std::set<std::string> names;
    if (DIR *d = opendir(folder.c_str())) {
        while (dirent *e = readdir(d))
            if (e->d_name[0] != '.') names.insert(e->d_name);
        closedir(d);
    }
    return names;
}

// The datagrams the system dropped at the UDP socket bound to 127.0.0.1:port (its
// receive buffer was full), from /proc/net/udp; -1 when not found.
inline long KernelUdpDrops(int port)
{
    FILE *f = std::fopen("/proc/net/udp", "r");
    if (!f) return -1;
    char line[512];
    long drops = -1;
    char wanted[32];
    std::snprintf(wanted, sizeof wanted, "0100007F:%04X", port);
    while (std::fgets(line, sizeof line, f)) {
        if (!std::strstr(line, wanted)) continue;
        char *token = std::strtok(line, " \n"), *last = nullptr;  // drops is the last field
        for (; token; token = std::strtok(nullptr, " \n")) last = token;
        drops = last ? std::atol(last) : -1;
    }
    std::fclose(f);
    return drops;
}

// Sends total datagrams of 32 bytes (the index in decimal) to 127.0.0.1:port at the pace
// of a script's send loop (400,000 a second), from a thread that gives the receiver the
// larger share of a contended processor (nice 10): a sender on another machine would not
// take the receiver's processor, and on a loaded machine with few cores the receiver must
// not lose its turn to its own sender, or the figure measures the scheduler instead of
// the receiver.
inline void SendDatagramBurst(int port, int total)
{
    setpriority(PRIO_PROCESS, (id_t)syscall(SYS_gettid), 10);
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in to = LoopbackAddress(port);
    char payload[32] = {};
    auto begin = std::chrono::steady_clock::now();
    for (int i = 0; i < total; i++) {
        std::snprintf(payload, sizeof payload, "%d", i);
        sendto(fd, payload, sizeof payload, 0, (sockaddr *)&to, sizeof to);
        if (i % 1000 == 999) std::this_thread::sleep_until(begin + std::chrono::microseconds(i * 5 / 2));
    }
    close(fd);
}

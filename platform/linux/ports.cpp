// ports.cpp - named message ports over Unix-domain sockets (see lvplatform_ports.h).
// Depends on: POSIX sockets, flock, std::thread.
// Limits: one port per program; CreateMessagePort and SendPortMessage from the script
// thread; the listener thread only posts system events.
#include "platform/lvplatform_ports.h"

#include "base/lverrors.h"
#include "platform/lvplatform.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <string>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>
#include <vector>

// ---- SHA-1 of a name ----------------------------------------------------------------------

static uint32_t Rotl(uint32_t v, int n) { return (v << n) | (v >> (32 - n)); }

static void Sha1(const uint8_t *data, size_t length, uint8_t out[20])
{
    uint32_t h[5] = {0x67452301u, 0xEFCDAB89u, 0x98BADCFEu, 0x10325476u, 0xC3D2E1F0u};
    std::vector<uint8_t> m(data, data + length);
    m.push_back(0x80);
    while (m.size() % 64 != 56) m.push_back(0);
    uint64_t bits = (uint64_t)length * 8;
    for (int i = 7; i >= 0; i--) m.push_back((uint8_t)(bits >> (i * 8)));
    for (size_t chunk = 0; chunk < m.size(); chunk += 64) {
        uint32_t w[80];
        for (int i = 0; i < 16; i++)
            w[i] = (uint32_t)m[chunk + i * 4] << 24 | (uint32_t)m[chunk + i * 4 + 1] << 16 |
                   (uint32_t)m[chunk + i * 4 + 2] << 8 | m[chunk + i * 4 + 3];
        for (int i = 16; i < 80; i++) w[i] = Rotl(w[i - 3] ^ w[i - 8] ^ w[i - 14] ^ w[i - 16], 1);
        uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4];
        for (int i = 0; i < 80; i++) {
            uint32_t f, k;
            if (i < 20) f = (b & c) | (~b & d), k = 0x5A827999u;
            else if (i < 40) f = b ^ c ^ d, k = 0x6ED9EBA1u;
            else if (i < 60) f = (b & c) | (b & d) | (c & d), k = 0x8F1BBCDCu;
            else f = b ^ c ^ d, k = 0xCA62C1D6u;
            uint32_t t = Rotl(a, 5) + f + e + k + w[i];
            e = d, d = c, c = Rotl(b, 30), b = a, a = t;
        }
        h[0] += a, h[1] += b, h[2] += c, h[3] += d, h[4] += e;
    }
    for (int i = 0; i < 5; i++)
        for (int j = 0; j < 4; j++) out[i * 4 + j] = (uint8_t)(h[i] >> (24 - j * 8));
}

void PortFileStem(const char *name, char out[41])
{
    uint8_t digest[20];
    Sha1((const uint8_t *)name, strlen(name), digest);
    for (int i = 0; i < 20; i++) snprintf(out + i * 2, 3, "%02x", digest[i]);
}

// ---- The folder ------------------------------------------------------------------------------

static std::mutex folderLock;
static std::string folder;

// A folder of ours: made 0700 when missing; refused when it is a link, another user's,
// or open to others.
static bool PrivateFolder(const std::string &path)
{
    if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return false;
    struct stat st;
    if (lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != getuid()) return false;
    if (st.st_mode & 077) return chmod(path.c_str(), 0700) == 0;
    return true;
}

const char *MessagePortFolder(void)
{
    std::lock_guard<std::mutex> hold(folderLock);
    if (!folder.empty()) return folder.c_str();
    const char *runtime = getenv("XDG_RUNTIME_DIR");
    if (runtime && *runtime && PrivateFolder(std::string(runtime) + "/lumivarra") &&
        PrivateFolder(std::string(runtime) + "/lumivarra/ports")) {
        folder = std::string(runtime) + "/lumivarra/ports";
    } else {
        std::string tmp = "/tmp/lumivarra-" + std::to_string(getuid());
        if (PrivateFolder(tmp)) folder = tmp;
    }
    return folder.c_str();
}

static std::string PortPath(const char *name, const char *suffix)
{
    char stem[41];
    PortFileStem(name, stem);
    return std::string(MessagePortFolder()) + "/" + stem + suffix;
}

// ---- This program's port -----------------------------------------------------------------------

struct lvPortState {
    std::mutex lock;
    std::string name;        // empty: none
    int lockFd = -1, listenFd = -1;
    int wake[2] = {-1, -1};  // the listener's stop pipe
    std::thread listener;
    std::atomic<int> sendTimeout{LV_PORT_SEND_TIMEOUT_MS};
};

static lvPortState port;

void SetPortSendTimeout(int milliseconds)
{
    port.sendTimeout = milliseconds > 0 ? milliseconds : LV_PORT_SEND_TIMEOUT_MS;
}

// Reads exactly size bytes, waiting at most timeoutMs in all; false on EOF, error or time.
static bool ReadFully(int fd, void *buffer, size_t size, int timeoutMs)
{
    char *p = (char *)buffer;
    while (size) {
        struct pollfd pfd = {fd, POLLIN, 0};
        int ready = poll(&pfd, 1, timeoutMs);
        if (ready <= 0) return false;
        ssize_t n = read(fd, p, size);
        if (n <= 0) return false;
        p += n;
        size -= (size_t)n;
    }
    return true;
}

static bool WriteFully(int fd, const void *buffer, size_t size)
{
    const char *p = (const char *)buffer;
    while (size) {
        ssize_t n = send(fd, p, size, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        size -= (size_t)n;
    }
    return true;
}

int CheckPortData(const char *data, size_t size, const char *ownName)
{
    if (size < 2 || data[size - 1] != 0) return 0;
    size_t nameLength = strnlen(data, size);
    if (nameLength + 1 >= size) return 0;  // no second text
    const char *text = data + nameLength + 1;
    // The text must end exactly at the block's last byte.
    if (strnlen(text, size - nameLength - 1) != size - nameLength - 2) return 0;
    if (strcmp(data, ownName) != 0) return 0;
    return strcmp(text, "__TESTPORT") == 0 ? 2 : 1;
}

// One connection: the message is checked whole before anything is posted.
static void ServeConnection(int fd, const std::string &ownName)
{
    uint32_t header[2];
    uint8_t answer = 0;
    if (ReadFully(fd, header, sizeof(header), 2000) && header[0] == LV_PORT_TAG && header[1] >= 2 &&
        header[1] <= LV_PORT_MAXDATA) {
        size_t size = header[1];
        char *block = (char *)AllocMemory(size, 0);
        if (block && ReadFully(fd, block, size, 2000)) {
            int verdict = CheckPortData(block, size, ownName.c_str());
            if (verdict == 2) {
                answer = 1;
            } else if (verdict == 1) {
                // The queue owns the block from here, also when it drops the event.
                if (PostSystemEvent(14, 0, (uintptr_t)block, 0, 0, 0, 1) == 0) answer = 1;
                block = nullptr;
            }
        }
        FreeMemory(block);
    }
    WriteFully(fd, &answer, 1);
}

static void ListenerBody(int listenFd, int wakeFd, std::string ownName)
{
    for (;;) {
        struct pollfd fds[2] = {{listenFd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
        int ready = poll(fds, 2, 100);
        if (ready < 0 && errno != EINTR) return;
        if (fds[1].revents) return;
        if (!(fds[0].revents & POLLIN)) continue;
        int fd = accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        ServeConnection(fd, ownName);
        close(fd);
    }
}

void FreeMessagePort(void)
{
    std::lock_guard<std::mutex> hold(port.lock);
    if (port.name.empty()) return;
    if (port.wake[1] >= 0 && write(port.wake[1], "x", 1) < 0) {
        // The listener also ends at its next poll once the pipe closes.
    }
    if (port.listener.joinable()) port.listener.join();
    unlink(PortPath(port.name.c_str(), ".sock").c_str());
    for (int *fd : {&port.listenFd, &port.wake[0], &port.wake[1], &port.lockFd})
        if (*fd >= 0) {
            close(*fd);
            *fd = -1;
        }
    port.name.clear();
}

static int FailCreate(int code, int *fds, int count)
{
    for (int i = 0; i < count; i++)
        if (fds[i] >= 0) close(fds[i]);
    return code;
}

int CreateMessagePort(const char *name)
{
    if (strlen(name) > 199) return ERR_MEM;
    if (!*MessagePortFolder()) return ERR_CREATEPORT;
    {
        std::lock_guard<std::mutex> hold(port.lock);
        if (port.name == name) return 0;
    }
    std::string lockPath = PortPath(name, ".lock"), sockPath = PortPath(name, ".sock");
    int fds[4] = {-1, -1, -1, -1};  // lock, listen, wake read, wake write
    fds[0] = open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fds[0] < 0) return ERR_CREATEPORT;
    // Claiming is one atomic step: whoever holds the lock owns the name.
    if (flock(fds[0], LOCK_EX | LOCK_NB) != 0) {
        close(fds[0]);
        return ERR_PORTNOTAVAIL;
    }
    unlink(sockPath.c_str());  // a socket left by a run that died
    struct sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    if (sockPath.size() >= sizeof(address.sun_path)) return FailCreate(ERR_CREATEPORT, fds, 4);
    memcpy(address.sun_path, sockPath.c_str(), sockPath.size() + 1);
    fds[1] = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fds[1] < 0 || bind(fds[1], (struct sockaddr *)&address, sizeof(address)) != 0 || listen(fds[1], 16) != 0)
        return FailCreate(ERR_CREATEPORT, fds, 4);
    chmod(sockPath.c_str(), 0600);
    if (pipe2(fds + 2, O_CLOEXEC) != 0) return FailCreate(ERR_CREATEPORT, fds, 4);
    FreeMessagePort();  // one port per program: the old one goes
    std::lock_guard<std::mutex> hold(port.lock);
    port.lockFd = fds[0];
    port.listenFd = fds[1];
    port.wake[0] = fds[2];
    port.wake[1] = fds[3];
    port.name = name;
    try {
        port.listener = std::thread(ListenerBody, fds[1], fds[2], std::string(name));
    } catch (...) {
        port.name.clear();
        for (int *fd : {&port.listenFd, &port.wake[0], &port.wake[1], &port.lockFd}) close(*fd), *fd = -1;
        unlink(sockPath.c_str());
        return ERR_CREATEPORT;
    }
    return 0;
}

static std::atomic<int (*)(void)> portStopCheck{nullptr};

void SetPortStopCheck(int (*stopRequested)(void))
{
    portStopCheck = stopRequested;
}

static bool PortStopRequested(void)
{
    int (*check)(void) = portStopCheck.load();
    return check && check();
}

int SendPortMessage(const char *name, const char *text)
{
    {
        std::lock_guard<std::mutex> hold(port.lock);
        if (!port.name.empty() && port.name == name) return ERR_WRONGUSAGE;
    }
    size_t nameLength = strlen(name), textLength = strlen(text);
    size_t size = nameLength + textLength + 2;
    if (size > LV_PORT_MAXDATA || !*MessagePortFolder()) {
        return ERR_FINDPORT;
    }
    std::string data;
    try {
        data.reserve(8 + size);
    } catch (...) {
        return ERR_MEM;
    }
    uint32_t header[2] = {LV_PORT_TAG, (uint32_t)size};
    data.append((const char *)header, sizeof(header));
    data.append(name, nameLength + 1);
    data.append(text, textLength + 1);
    std::string sockPath = PortPath(name, ".sock");
    struct sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    memcpy(address.sun_path, sockPath.c_str(), std::min(sockPath.size() + 1, sizeof(address.sun_path) - 1));
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    uint8_t answer = 0;
    bool delivered = false, stopped = false;
    if (fd >= 0 && connect(fd, (struct sockaddr *)&address, sizeof(address)) == 0) {
        // A receiver that stops answering costs at most the bound.
        struct timeval tv = {0, 100000};
        setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof(tv));
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(port.sendTimeout.load());
        // Each wait step is at most a tenth of a second, so a stop request ends the send.
        auto left = [&] {
            if (PortStopRequested()) stopped = true;
            return !stopped && std::chrono::steady_clock::now() < deadline;
        };
        size_t sent = 0;
        while (sent < data.size() && left()) {
            ssize_t n = send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
            if (n > 0) sent += (size_t)n;
            else if (!(n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))) break;
        }
        while (sent == data.size() && left()) {
            struct pollfd pfd = {fd, POLLIN, 0};
            int ready = poll(&pfd, 1, 100);
            if (ready > 0) {
                delivered = read(fd, &answer, 1) == 1 && answer == 1;
                break;
            }
            if (ready < 0 && errno != EINTR) break;
        }
    }
    if (fd >= 0) close(fd);
    if (stopped && !delivered) return ERR_USERABORT;
    if (!delivered) {
        return ERR_FINDPORT;
    }
    return 0;
}

// process_entry_debug.cpp - the debug channel: where debug output, error lines and
// trace lines go. "::file" devices write to a file; "::hwnd<N>" devices send to a host
// program (a development environment) that listens on the SOCK_SEQPACKET socket
// "debughost-<N>" of the per-user socket folder; without a device, and when the host is
// missing, of another user, or stops answering, the text goes to standard output.
//
// Host protocol (docs/debug-host.md): the runtime takes the first channel number n below
// 10000 whose lock file "debugchannel-<n>" in the same folder it can flock, connects,
// and sends each piece as one packet {u32 channel, u32 length, bytes} (little-endian,
// UTF-8, at most 2047 bytes cut at whole characters); the host answers every packet with
// one byte within 5 s.
//
// Depends on: text.cpp (VFormatString), files_paths.cpp (ToSystemPath), socketfolder.cpp.
// Limits: a formatted text above 64 KiB is cut. Output comes from the script thread,
// or from the main thread before and after it runs; a mutex keeps lines whole.
#include "platform/lvplatform.h"
#include "platform/lvplatform_debughost.h"
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <string>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

// ---- State ------------------------------------------------------------------------------

struct lvDebugChannel {
    std::mutex lock;    // one writer at a time
    FILE *file;         // the "::file" target, or nullptr for standard output
    int latin1;         // texts are ISO-8859-1: standard output and a host get UTF-8
    int hostSocket;     // connected host, or -1
    int lockFile;       // the flocked "debugchannel-<n>", or -1
    int channel;        // n
};

static lvDebugChannel debugChannel = {{}, nullptr, 0, -1, -1, 0};

static const int kAckTimeoutMs = 5000;

// ---- Host ---------------------------------------------------------------------------------

static void DropHost()
{
    if (debugChannel.hostSocket >= 0) close(debugChannel.hostSocket);
    if (debugChannel.lockFile >= 0) close(debugChannel.lockFile);
    debugChannel.hostSocket = debugChannel.lockFile = -1;
}

// Takes the first free channel number and connects to the host's socket. A host of
// another user counts as none.
static void ConnectHost(const char *number)
{
    char *end = nullptr;
    unsigned long host = std::strtoul(number, &end, 10);
    if (end == number || *end) return;
    char folder[LV_PATH_SIZE];
    if (!GetUserSocketFolder(folder, sizeof folder)) return;
    int lockFd = -1, channel = -1;
    for (int n = 0; n < 10000 && channel < 0; n++) {
        std::string path = std::string(folder) + "/debugchannel-" + std::to_string(n);
        int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd < 0) continue;
        if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
            lockFd = fd;
            channel = n;
        } else {
            close(fd);
        }
    }
    if (channel < 0) return;
    struct sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    std::string path = std::string(folder) + "/debughost-" + std::to_string(host);
    int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    struct ucred peer = {};
    socklen_t peerSize = sizeof peer;
    if (path.size() >= sizeof address.sun_path || fd < 0 ||
        (std::memcpy(address.sun_path, path.c_str(), path.size() + 1),
         connect(fd, reinterpret_cast<struct sockaddr *>(&address), sizeof address) != 0) ||
        getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &peerSize) != 0 || peer.uid != getuid()) {
        if (fd >= 0) close(fd);
        close(lockFd);
        return;
    }
    debugChannel.hostSocket = fd;
    debugChannel.lockFile = lockFd;
    debugChannel.channel = channel;
}

// Sends one piece and waits for its acknowledgement; false when the host is gone.
static bool SendPiece(const char *bytes, size_t length)
{
    unsigned char packet[8 + 2048];
    uint32_t channel = static_cast<uint32_t>(debugChannel.channel), n = static_cast<uint32_t>(length);
    for (int i = 0; i < 4; i++) {
        packet[i] = static_cast<unsigned char>(channel >> (8 * i));
        packet[4 + i] = static_cast<unsigned char>(n >> (8 * i));
    }
    std::memcpy(packet + 8, bytes, length);
    if (send(debugChannel.hostSocket, packet, 8 + length, MSG_NOSIGNAL) != static_cast<ssize_t>(8 + length)) return false;
    struct pollfd fd = {debugChannel.hostSocket, POLLIN, 0};
    int waited = 0;
    while (waited < kAckTimeoutMs) {
        int r = poll(&fd, 1, 100);
        if (r > 0) {
            char ack;
            return recv(debugChannel.hostSocket, &ack, 1, 0) == 1;
        }
        if (r < 0 && errno != EINTR) return false;
        waited += 100;
    }
    return false;
}

// The length of the longest start of text (at most limit bytes) that ends at a whole
// UTF-8 character; a text that has none there is cut at the limit.
static size_t WholeCharacterCut(const char *text, size_t length, size_t limit)
{
    if (length <= limit) return length;
    size_t cut = limit;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) cut--;
    return cut > 0 ? cut : limit;
}

size_t DebugPieceLength(const char *text, size_t length) { return WholeCharacterCut(text, length, 2047); }

int DebugHostConnected(void)
{
    std::lock_guard<std::mutex> guard(debugChannel.lock);
    return debugChannel.hostSocket >= 0;
}

// ---- Channel ----------------------------------------------------------------------------

int OpenDebugChannel(const char *device)
{
    CloseDebugChannel();
    if (device && std::strncmp(device, "::hwnd", 6) == 0) {
        std::lock_guard<std::mutex> guard(debugChannel.lock);
        ConnectHost(device + 6);
        return 1;
    }
    if (!device || std::strncmp(device, "::file", 6) != 0) return 1;
    char system[LV_PATH_SIZE * 4];
    if (!device[6] || !ToSystemPath(device + 6, system, sizeof system, 1)) return 0;
    FILE *file = std::fopen(system, "wbe");
    if (!file) return 0;
    std::lock_guard<std::mutex> guard(debugChannel.lock);
    debugChannel.file = file;
    return 1;
}

void WriteDebugText(const char *text)
{
    if (!text) return;
    std::lock_guard<std::mutex> guard(debugChannel.lock);
    if (!debugChannel.file && debugChannel.hostSocket >= 0) {
        std::string utf8;
        for (const unsigned char *p = (const unsigned char *)text; *p; p++) {
            if (*p < 0x80 || !debugChannel.latin1) {
                utf8.push_back((char)*p);
            } else {
                utf8.push_back((char)(0xC0 | (*p >> 6)));
                utf8.push_back((char)(0x80 | (*p & 0x3F)));
            }
        }
        size_t at = 0;
        while (at < utf8.size()) {
            size_t n = DebugPieceLength(utf8.data() + at, utf8.size() - at);
            if (!SendPiece(utf8.data() + at, n)) {
                // A silent or vanished host: the rest goes to the console.
                DropHost();
                std::fwrite(utf8.data() + at, 1, utf8.size() - at, stdout);
                std::fflush(stdout);
                return;
            }
            at += n;
        }
        return;
    }
    FILE *target = debugChannel.file ? debugChannel.file : stdout;
    if (!debugChannel.file && debugChannel.latin1) {
        // A terminal or a reading program expects UTF-8; a file keeps the bytes as given.
        for (const unsigned char *p = (const unsigned char *)text; *p; p++) {
            if (*p < 0x80) {
                std::fputc(*p, target);
            } else {
                std::fputc(0xC0 | (*p >> 6), target);
                std::fputc(0x80 | (*p & 0x3F), target);
            }
        }
    } else {
        std::fputs(text, target);
    }
    std::fflush(target);
}

void SetDebugTextLatin1(int on)
{
    std::lock_guard<std::mutex> guard(debugChannel.lock);
    debugChannel.latin1 = on != 0;
}

void WriteDebugOutput(const char *format, ...)
{
    char small[2048];
    va_list args;
    va_start(args, format);
    int needed = VFormatString(small, sizeof small, format, args);
    va_end(args);
    if (needed < 0) return;
    if ((size_t)needed < sizeof small) {
        WriteDebugText(small);
        return;
    }
    size_t size = (size_t)needed + 1 > 65536 ? 65536 : (size_t)needed + 1;
    char *large = (char *)AllocMemory(size, 0);
    if (!large) return;
    va_start(args, format);
    VFormatString(large, size, format, args);
    va_end(args);
    WriteDebugText(large);
    FreeMemory(large);
}

void CloseDebugChannel(void)
{
    std::lock_guard<std::mutex> guard(debugChannel.lock);
    if (debugChannel.file) std::fclose(debugChannel.file);
    debugChannel.file = nullptr;
    DropHost();
}

// A pseudo-terminal pair for the serial tests: the test holds the master side
// (the far end of the line) and a descriptor of its own on the slave side, to
// look at the line's settings while a port has the slave open by its path.
#pragma once
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <termios.h>
#include <unistd.h>

struct lvTestPty {
    int master = -1;   // the far end of the line
    int slave = -1;    // the test's own descriptor on the port's device
    std::string path;  // the device path the port opens

    bool Open()
    {
        master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return false;
        char name[128];
        if (ptsname_r(master, name, sizeof name) != 0) return false;
        path = name;
        slave = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (slave < 0) return false;
        int flags = fcntl(master, F_GETFL);
        fcntl(master, F_SETFL, flags | O_NONBLOCK);
        return true;
    }
    void CloseMaster()
    {
        if (master >= 0) close(master);
        master = -1;
    }
    ~lvTestPty()
    {
        CloseMaster();
        if (slave >= 0) close(slave);
    }
    termios Line() const
    {
        termios t{};
        tcgetattr(slave, &t);
        return t;
    }
    // Writes all of data to the master side.
    bool Send(const void *data, size_t length)
    {
        const char *p = (const char *)data;
        auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (length > 0) {
            ssize_t n = write(master, p, length);
            if (n > 0) {
                p += n;
                length -= (size_t)n;
                continue;
            }
            if (n < 0 && errno != EAGAIN && errno != EINTR) return false;
            if (std::chrono::steady_clock::now() > end) return false;
            pollfd w = {master, POLLOUT, 0};
            poll(&w, 1, 50);
        }
        return true;
    }
    // Reads exactly length bytes from the master side within milliseconds.
    std::string Receive(size_t length, int milliseconds = 3000)
    {
        std::string out;
        auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
        while (out.size() < length && std::chrono::steady_clock::now() < end) {
            char buffer[4096];
            size_t want = length - out.size() < sizeof buffer ? length - out.size() : sizeof buffer;
            ssize_t n = read(master, buffer, want);
            if (n > 0) out.append(buffer, (size_t)n);
            else {
                pollfd r = {master, POLLIN, 0};
                poll(&r, 1, 20);
            }
        }
        return out;
    }
};

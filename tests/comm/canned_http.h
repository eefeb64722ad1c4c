// A canned HTTP peer on 127.0.0.1 for the transfer tests: one reply per connection, in
// order, on a thread of its own; every wait bounded.
#pragma once
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "tests/comm/network_support.h"

// Serves one canned reply per connection, in order, keeping each request it read (up to
// the end of its head, plus the body its Content-Length announced and the CR LF after it).
struct CannedServer {
    TestListener listener;
    std::vector<std::string> replies;
    std::vector<std::string> requests;
    size_t afterBody = 2;  // a POST body is followed by CR LF; a form is not
    // A hostile peer in place of a reply: it writes what it likes on the connection (its
    // own loops bounded in time) after the request head was read.
    std::function<void(int fd)> talk;
    std::thread thread;

    CannedServer() = default;
    explicit CannedServer(std::vector<std::string> r) { Serve(std::move(r)); }
    void Serve(std::vector<std::string> r)
    {
        replies = std::move(r);
        thread = std::thread([this] {
            for (const std::string &reply : replies) {
                int fd = listener.Accept();
                if (fd < 0) return;
                std::string request;
                while (request.find("\r\n\r\n") == std::string::npos) {
                    std::string piece = ReadCount(fd, 1);
                    if (piece.empty()) break;
                    request += piece;
                }
                size_t at = request.find("Content-Length: ");
                if (at != std::string::npos)
                    request += ReadCount(fd, std::stoul(request.substr(at + 16)) + afterBody);
                requests.push_back(request);
                if (talk) talk(fd);
                else WriteAll(fd, reply);
                shutdown(fd, SHUT_WR);
                ReadCount(fd, 1);  // until the client closes: no reset loses the reply
                close(fd);
            }
        });
    }
    void Join()
    {
        if (thread.joinable()) thread.join();
    }
    // One connection that talk serves.
    void ServeHostile(std::function<void(int fd)> peer)
    {
        talk = std::move(peer);
        Serve({""});
    }
    ~CannedServer() { Join(); }
    std::string Url(const char *host = "127.0.0.1") const
    {
        return std::string("http://") + host + ":" + std::to_string(listener.port);
    }
};

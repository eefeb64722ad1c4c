// The FTP client of DownloadFile and UploadFile: the reply readers over a fake adapter
// connection, and whole transfers against a canned FTP server on 127.0.0.1 (a thread of
// the test) whose replies each case may replace: logins, passive replies, sizes from
// 213 and 150, retr and stor refused, and the bytes that arrive on both sides.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>
#include <chrono>

#include "comm/transfer.h"
#include "runtime/errors.h"
#include "base/lverrors.h"
#include "tests/comm/fake_peer.h"
#include "tests/comm/network_support.h"
#include "tests/comm/canned_http.h"

namespace {

TEST(FtpReplies, CodesLinesPassiveAndSizes)
{
    static NetworkOpened opened(3000);
    struct Case {
        const char *text;
        int code, result, number;
    } replies[] = {
        {"220 hello\r\n", 0, 220, -1},
        {"220-first\r\n220-second\r\n220 last\r\n", 0, 220, -1},
        {"220-first\r\nno code\r\n220 last\r\n", ERR_FTPERROR, 0, 1},
        {"220-first\r\n221 other\r\n", ERR_FTPERROR, 0, 1},
        {"220-first\r\n", ERR_RECVCLOSED, 0, -1},
    };
    for (const Case &c : replies) {
        SCOPED_TRACE(c.text);
        FakePeer peer(c.text, 5);
        char line[1024];
        int code = -1;
        GetErrorState()->numberArg = -1;
        ASSERT_EQ(ReadFtpReply(&peer.connection, line, sizeof line, &code), c.code);
        if (c.code == 0) {
            EXPECT_EQ(code, c.result);
        }
        EXPECT_EQ(GetErrorState()->numberArg, c.number);
    }
    struct Passive {
        const char *line;
        int code;
        const char *host;
        int port;
    } passives[] = {
        {"227 Entering Passive Mode (192,168,1,2,19,137)", 0, "192.168.1.2", 5001},
        {"227 =192,168,1,2,19,137", 0, "192.168.1.2", 5001},
        {"227 (192,168,1,2,19)", ERR_FTPERROR, nullptr, 0},
        {"227 (192,168,1,2,19,137,5)", ERR_FTPERROR, nullptr, 0},
        {"227 (300,168,1,2,19,137)", ERR_FTPERROR, nullptr, 0},
        {"227 (192,168,1,2,19,99999999999999)", ERR_FTPERROR, nullptr, 0},
        {"227", ERR_FTPERROR, nullptr, 0},
    };
    for (const Passive &p : passives) {
        SCOPED_TRACE(p.line);
        char host[64] = "";
        int port = 0;
        ASSERT_EQ(ParseFtpPassive(p.line, host, sizeof host, &port), p.code);
        if (p.code == 0) {
            EXPECT_STREQ(host, p.host);
            EXPECT_EQ(port, p.port);
        } else {
            EXPECT_EQ(GetErrorState()->numberArg, 2);
        }
    }
    struct Size {
        const char *line;
        int64_t size, opening;
    } sizes[] = {
        {"213 1234", 1234, 0},
        {"213 12abc", 0, 0},
        {"213 99999999999999999999", 0, 0},
        {"150 Opening BINARY connection for f (1234 bytes)", 0, 1234},
        {"150 Opening (1234 BYTES)", 0, 1234},
        {"150 Opening (1234 blocks)", 0, 0},
        {"150 Opening (99999999999999999999 bytes)", 0, 0},
        {"150 ", 0, 0},
    };
    for (const Size &s : sizes) {
        EXPECT_EQ(ParseFtpSize(s.line), s.size) << s.line;
        EXPECT_EQ(ParseFtpOpeningSize(s.line), s.opening) << s.line;
    }
}

// A canned FTP server: one control connection, passive data connections on a listener
// of its own. Replies come from the table (a case may replace any); retr sends the
// content, stor keeps what arrives.
struct CannedFtp {
    TestListener control, data;
    std::map<std::string, std::string> replies;
    std::string content, stored;
    std::vector<std::string> commands;
    // A hostile peer for a verb: it gets the control connection instead of the reply
    // and the session ends when it returns. dataPeer gets a retr's data connection.
    std::map<std::string, std::function<void(int fd)>> hostile;
    std::function<void(int fd)> dataPeer;
    std::thread thread;

    CannedFtp()
    {
        replies = {{"greeting", "220 canned\r\n"},
                   {"user", "331 password\r\n"},
                   {"pass", "230 in\r\n"},
                   {"pasv", "227 Entering Passive Mode (127,0,0,1," + std::to_string(data.port / 256) + "," +
                                std::to_string(data.port % 256) + ")\r\n"},
                   {"type", "200 ok\r\n"},
                   {"size", "550 no size\r\n"},
                   {"retr", "150 Opening (5 bytes)\r\n"},
                   {"stor", "150 Go\r\n"},
                   {"done", "226 Done\r\n"}};
    }
    void Serve()
    {
        thread = std::thread([this] {
            int fd = control.Accept();
            if (fd < 0) return;
            WriteAll(fd, replies["greeting"]);
            for (;;) {
                std::string line;
                while (line.empty() || line.back() != '\n') {
                    std::string piece = ReadCount(fd, 1);
                    if (piece.empty()) break;
                    line += piece;
                }
                if (line.empty()) break;
                commands.push_back(line);
                std::string verb = line.substr(0, line.find_first_of(" \r"));
                if (verb == "quit") break;
                if (hostile.count(verb)) {
                    hostile[verb](fd);
                    break;
                }
                std::string reply = replies[verb];
                WriteAll(fd, reply);
                if ((verb == "retr" || verb == "stor") && reply[0] == '1') {
                    int d = data.Accept();
                    if (verb == "retr" && dataPeer) dataPeer(d);
                    else if (verb == "retr") WriteAll(d, content);
                    else stored = ReadCount(d, 1 << 30);
                    close(d);
                    WriteAll(fd, replies["done"]);
                }
                if (reply[0] == '4' || reply[0] == '5' || reply.empty()) {
                    if (verb != "size") break;
                }
            }
            close(fd);
        });
    }
    std::string Url(const std::string &path) const
    {
        return "ftp://127.0.0.1:" + std::to_string(control.port) + path;
    }
    void Join()
    {
        if (thread.joinable()) thread.join();
    }
    ~CannedFtp() { Join(); }
};

struct Result {
    int code = -1;
    std::string body;
    int64_t size = -1;
};

Result RunFtp(const std::string &url, int upload, const std::string &data = "", const char *file = nullptr)
{
    lvTransferOptions o = {};
    o.url = url.c_str();
    o.redirect = 1;
    o.upload = upload;
    o.transferMode = LV_FTPBINARY;
    o.callback = o.userdata = -1;
    o.file = file;
    if (upload && !file) {
        o.data = (const uint8_t *)data.data();
        o.dataLength = data.size();
    }
    Result out;
    lvTransfer *t = nullptr;
    out.code = StartTransfer(&o, &t);
    if (out.code) return out;
    int done = 0;
    for (int steps = 0; out.code == 0 && !done && steps < 100000; steps++) out.code = AdvanceTransfer(t, &done);
    const uint8_t *bytes = TransferResult(t, &out.size);
    if (bytes) out.body.assign((const char *)bytes, (size_t)out.size);
    FreeTransferBlock(t);
    return out;
}

TEST(FtpTransfer, CannedServerTable)
{
    static NetworkOpened opened(3000);
    struct Case {
        const char *name;
        std::map<std::string, std::string> replace;
        const char *path;
        int upload;
        int code, number;
        const char *firstCommands;  // the commands the server saw, joined
    } cases[] = {
        {"download", {}, "/f.bin", 0, 0, -1,
         "user anonymous|pass guest@lumivarra.invalid|pasv|type i|size /f.bin|retr /f.bin|quit|"},
        {"ascii by url", {}, "/f.bin;type=a", 0, 0, -1,
         "user anonymous|pass guest@lumivarra.invalid|pasv|type a|size /f.bin|retr /f.bin|quit|"},
        {"230 to user", {{"user", "230 welcome\r\n"}}, "/f.bin", 0, 0, -1,
         "user anonymous|pasv|type i|size /f.bin|retr /f.bin|quit|"},
        {"530 to user", {{"user", "530 no\r\n"}}, "/f.bin", 0, ERR_FTPERROR, 0, "user anonymous|"},
        {"530 to pass", {{"pass", "530 no\r\n"}}, "/f.bin", 0, ERR_FTPAUTH, -1,
         "user anonymous|pass guest@lumivarra.invalid|"},
        {"multi-line greeting", {{"greeting", "220-a\r\n220-b\r\n220 c\r\n"}}, "/f.bin", 0, 0, -1, nullptr},
        {"codeless greeting line", {{"greeting", "220-a\r\nb\r\n220 c\r\n"}}, "/f.bin", 0, ERR_FTPERROR, 1, ""},
        {"five numbers", {{"pasv", "227 (127,0,0,1,1)\r\n"}}, "/f.bin", 0, ERR_FTPERROR, 2, nullptr},
        {"number 300", {{"pasv", "227 (300,0,0,1,1,1)\r\n"}}, "/f.bin", 0, ERR_FTPERROR, 2, nullptr},
        {"type refused", {{"type", "504 no\r\n"}}, "/f.bin", 0, ERR_FTPERROR, 0, nullptr},
        {"retr 550", {{"retr", "550 gone\r\n"}}, "/f.bin", 0, ERR_FILENOTFOUND, -1, nullptr},
        {"stor 550", {{"stor", "550 no\r\n"}}, "/up.bin", 1, ERR_UPLOADFORBIDDEN, -1, nullptr},
        {"completion refused", {{"done", "451 aborted\r\n"}}, "/f.bin", 0, ERR_FTPERROR, 0, nullptr},
        {"upload", {}, "/up.bin", 1, 0, -1, "user anonymous|pass guest@lumivarra.invalid|pasv|type i|stor /up.bin|quit|"},
    };
    std::string upload(10000, 0);
    for (size_t i = 0; i < upload.size(); i++) upload[i] = (char)(i * 13 + 1);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        CannedFtp server;
        server.content = "hello";
        for (const auto &r : c.replace) server.replies[r.first] = r.second;
        server.Serve();
        GetErrorState()->numberArg = -1;
        Result r = RunFtp(server.Url(c.path), c.upload, upload);
        EXPECT_EQ(r.code, c.code);
        if (c.code == ERR_FTPERROR) {
            EXPECT_EQ(GetErrorState()->numberArg, c.number);
        }
        if (c.code == ERR_FILENOTFOUND || c.code == ERR_UPLOADFORBIDDEN) {
            EXPECT_STREQ(GetErrorState()->textArg, c.path);
        }
        server.Join();
        if (c.code == 0 && !c.upload) {
            EXPECT_EQ(r.body, "hello");
        }
        if (c.code == 0 && c.upload) {
            EXPECT_TRUE(server.stored == upload) << server.stored.size();
        }
        if (c.firstCommands) {
            std::string seen;
            for (const std::string &command : server.commands) seen += command.substr(0, command.size() - 2) + "|";
            EXPECT_EQ(seen, c.firstCommands);
        }
    }
}

TEST(FtpTransfer, UploadFromAFileAndDownloadIntoOne)
{
    static NetworkOpened opened(3000);
    char name[] = "/tmp/lv_ftp_XXXXXX";
    int fd = mkstemp(name);
    ASSERT_GE(fd, 0);
    std::string bytes(20000, 0);
    for (size_t i = 0; i < bytes.size(); i++) bytes[i] = (char)(i * 7 + 3);
    ASSERT_EQ(write(fd, bytes.data(), bytes.size()), (ssize_t)bytes.size());
    close(fd);
    {
        CannedFtp server;
        server.Serve();
        Result r = RunFtp(server.Url("/up.bin"), 1, "", name);
        EXPECT_EQ(r.code, 0);
        server.Join();
        EXPECT_TRUE(server.stored == bytes) << server.stored.size();
    }
    {
        CannedFtp server;
        server.content = bytes.substr(0, 1234);
        server.replies["size"] = "213 1234\r\n";
        server.Serve();
        Result r = RunFtp(server.Url("/f.bin"), 0, "", name);
        EXPECT_EQ(r.code, 0);
        EXPECT_EQ(r.size, 1234);
        server.Join();
        FILE *f = fopen(name, "rb");
        ASSERT_NE(f, nullptr);
        char back[2000];
        size_t n = fread(back, 1, sizeof back, f);
        fclose(f);
        EXPECT_TRUE(std::string(back, n) == server.content);
    }
    remove(name);
}

// An HTTP redirect may send a download to an FTP server: it is followed like any other
// (with anonymous login), also as the last hop the redirect limit allows.
TEST(FtpTransfer, AnHttpRedirectToFtpIsFollowed)
{
    static NetworkOpened opened(3000);
    struct Case {
        const char *name;
        int hops;  // 302 replies to /next before the one to FTP
        int code;
    } cases[] = {
        {"direct", 0, 0},
        {"after four hops", 4, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        CannedFtp ftp;
        ftp.content = "from ftp";
        ftp.Serve();
        std::vector<std::string> replies(c.hops, "HTTP/1.1 302 Found\r\nLocation: /next\r\nContent-Length: 4\r\n\r\nhop!");
        replies.push_back("HTTP/1.1 302 Found\r\nLocation: " + ftp.Url("/f.bin") +
                          "\r\nContent-Length: 4\r\n\r\nlast");
        CannedServer http(replies);
        Result r = RunFtp(http.Url() + "/start", 0);
        EXPECT_EQ(r.code, c.code);
        http.Join();
        EXPECT_EQ(r.body, "from ftp");
        ftp.Join();
        ASSERT_FALSE(ftp.commands.empty());
        EXPECT_EQ(ftp.commands[0], "user anonymous\r\n");
    }
}

// ASCII mode ends lines with LF here, as an FTP client on this system should: every CR LF
// loses its CR, also when the pair is split between two receive buffers (8192 bytes) or
// two steps; a CR without its LF stays, and so does one that ends the body. The same into
// memory and into a file.
TEST(FtpTransfer, AsciiModeTurnsCrLfIntoLf)
{
    static NetworkOpened opened(3000);
    std::string head(8191, 'x'), tail(9000, 'y');
    struct Case {
        const char *name;
        std::string content, expected;
    } cases[] = {
        {"lines", "a\r\nb\r\n", "a\nb\n"},
        {"split at the buffer", head + "\r\n" + tail, head + "\n" + tail},
        {"lone CR and CR CR LF", "a\rb\r\r\nc", "a\rb\r\nc"},
        {"CR at the end", "a\r\nb\r", "a\nb\r"},
        {"CR ending the first buffer, no LF after it", head + "\rz", head + "\rz"},
        {"empty", "", ""},
    };
    char name[] = "/tmp/lv_ftpa_XXXXXX";
    int fd = mkstemp(name);
    ASSERT_GE(fd, 0);
    close(fd);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        for (const char *file : {(const char *)nullptr, (const char *)name}) {
            CannedFtp server;
            server.content = c.content;
            server.Serve();
            Result r = RunFtp(server.Url("/t.txt;type=a"), 0, "", file);
            EXPECT_EQ(r.code, 0);
            server.Join();
            EXPECT_EQ(r.size, (int64_t)c.expected.size());
            std::string got = r.body;
            if (file) {
                FILE *f = fopen(name, "rb");
                ASSERT_NE(f, nullptr);
                got.assign(40000, 0);
                got.resize(fread(&got[0], 1, got.size(), f));
                fclose(f);
            }
            EXPECT_TRUE(got == c.expected) << (file ? "file: " : "memory: ") << got.size();
        }
    }
    remove(name);
}

// Says nothing more and keeps the connection until the client closes it (at most 10 s).
void Hold(int fd)
{
    pollfd p = {fd, POLLIN, 0};
    char byte[256];
    auto start = std::chrono::steady_clock::now();
    while (MillisecondsSince(start) < 10000 && poll(&p, 1, 100) >= 0)
        if ((p.revents & (POLLIN | POLLHUP)) && recv(fd, byte, sizeof byte, 0) <= 0) return;
}

// Servers whose passive reply is malformed, endless, dripped or missing, or whose data
// connection goes nowhere or stalls: each download ends with its error within the
// network time-out, and the file it was to write holds what it held before, with
// nothing written beside it.
TEST(FtpTransfer, HostilePassiveRepliesEndWithinTheTimeOut)
{
    static NetworkOpened opened(3000);
    SetNetworkTimeoutMs(600);
    const int closedPort = ClosedLoopbackPort();
    const std::string refused = "227 Entering Passive Mode (127,0,0,1," + std::to_string(closedPort / 256) + "," +
                                std::to_string(closedPort % 256) + ")\r\n";
    auto replyThen = [](std::string first, std::function<void(int)> then) {
        return [first, then](int fd) {
            WriteAll(fd, first);
            then(fd);
        };
    };
    struct Case {
        const char *name;
        std::map<std::string, std::string> replace;
        std::function<void(int fd)> pasvPeer, dataPeer;
        int code, number;
    } cases[] = {
        {"no numbers", {{"pasv", "227 Entering Passive Mode\r\n"}}, nullptr, nullptr, ERR_FTPERROR, 2},
        {"seven numbers", {{"pasv", "227 (127,0,0,1,4,5,6)\r\n"}}, nullptr, nullptr, ERR_FTPERROR, 2},
        {"letters for the port", {{"pasv", "227 (127,0,0,1,x,y)\r\n"}}, nullptr, nullptr, ERR_FTPERROR, 2},
        {"refused", {{"pasv", "425 Cannot open passive connection\r\n"}}, nullptr, nullptr, ERR_FTPERROR, 0},
        {"a port nobody listens on", {{"pasv", refused}}, nullptr, nullptr, ERR_SOCKET, -1},
        {"endless reply line", {}, [](int fd) { Flood(fd, "227 (", std::string(512, '1') + ",", 0); }, nullptr,
         ERR_MEM, -1},
        {"reply line dripped", {}, [](int fd) { Flood(fd, "227 (127,0,", "1", 100); }, nullptr, ERR_RECVTIMEOUT, -1},
        {"continuation lines dripped", {}, [](int fd) { Flood(fd, "227-Entering\r\n", "227-more\r\n", 50); },
         nullptr, ERR_RECVTIMEOUT, -1},
        {"endless continuation lines", {}, [](int fd) { Flood(fd, "227-Entering\r\n", "227-\r\n", 0); },
         nullptr, ERR_FTPERROR, 1},
        {"no reply", {}, Hold, nullptr, ERR_RECVTIMEOUT, -1},
        {"close instead of a reply", {}, [](int) {}, nullptr, ERR_RECVCLOSED, -1},
        {"data connection that sends nothing", {}, nullptr, Hold, ERR_RECVTIMEOUT, -1},
        {"data connection that stalls mid-file", {},
         nullptr, replyThen(std::string(50000, 'h'), Hold), ERR_RECVTIMEOUT, -1},
    };
    char folderTemplate[] = "/tmp/lv_ftp_hostile_XXXXXX";
    ASSERT_NE(mkdtemp(folderTemplate), nullptr);
    const std::string folder = folderTemplate, path = folder + "/target.bin", earlier = "what was there before";
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        std::ofstream(path, std::ios::binary) << earlier;
        CannedFtp server;
        server.content = std::string(100000, 'c');
        server.replies["size"] = "213 100000\r\n";
        for (const auto &r : c.replace) server.replies[r.first] = r.second;
        if (c.pasvPeer) server.hostile["pasv"] = c.pasvPeer;
        server.dataPeer = c.dataPeer;
        server.Serve();
        GetErrorState()->numberArg = -1;
        auto start = std::chrono::steady_clock::now();
        Result r = RunFtp(server.Url("/f.bin"), 0, "", path.c_str());
        double took = MillisecondsSince(start);
        server.Join();
        EXPECT_EQ(r.code, c.code);
        if (c.number >= 0) {
            EXPECT_EQ(GetErrorState()->numberArg, c.number);
        }
        EXPECT_LT(took, 2000.0);
        std::ifstream in(path, std::ios::binary);
        std::stringstream held;
        held << in.rdbuf();
        EXPECT_EQ(held.str(), earlier);
        EXPECT_EQ(FolderEntries(folder), std::set<std::string>{"target.bin"});
    }
    unlink(path.c_str());
    rmdir(folder.c_str());
    SetNetworkTimeoutMs(3000);
}

}  // namespace

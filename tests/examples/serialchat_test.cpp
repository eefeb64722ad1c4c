// The serial chat example (build/examples/serialchat) run as users run it: each instance
// in its own working directory with its Settings.dat, driven by an actions file (the
// console front end), two instances joined by a socat pair or by a relay of two
// pseudo-terminal pairs in this test that can corrupt, forge and watch frames. Every wait
// is bounded and ends on a condition: a text in an instance's output or its end.
#include <gtest/gtest.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <iterator>
#include <mutex>
#include <poll.h>
#include <pty.h>
#include <spawn.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "tests/ui/xvfb_server.h"

extern char **environ;

namespace {

using Clock = std::chrono::steady_clock;

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

bool FileExists(const std::string &path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

size_t Count(const std::string &text, const std::string &what)
{
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size())) n++;
    return n;
}

uint32_t Crc32(const std::string &data)
{
    uint32_t crc = 0xFFFFFFFFu;
    for (unsigned char c : data) {
        crc ^= c;
        for (int k = 0; k < 8; k++) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

// A frame of the applet's line protocol: 0x7E, type, sequence, length (big-endian),
// payload, CRC-32 (big-endian) of type to payload.
std::string Frame(int type, int seq, const std::string &payload)
{
    std::string body;
    body += char(type);
    body += char(seq);
    body += char(payload.size() >> 8);
    body += char(payload.size() & 0xFF);
    body += payload;
    uint32_t crc = Crc32(body);
    std::string frame = "\x7e" + body;
    for (int shift = 24; shift >= 0; shift -= 8) frame += char((crc >> shift) & 0xFF);
    return frame;
}

// 1 MB holding every byte value, in an order that is not a plain repetition.
std::string EveryByteFile(size_t size)
{
    std::string data(size, '\0');
    uint32_t x = 12345;
    for (size_t i = 0; i < size; i++) {
        x = x * 1103515245u + 12345u;
        data[i] = char(i < 256 ? i : (x >> 16) & 0xFF);
    }
    return data;
}

// An instance of the applet in its working directory, output to out.log there; killed
// and reaped by the destructor when still running.
struct lvInstance {
    std::string dir, log;
    pid_t pid = -1;
    int status = -1;

    // extra: more arguments ("-gui"); requesters: the scripted requesters' answers.
    void Start(const std::string &workDir, const std::string &actions, const std::vector<std::string> &extra = {},
               const std::string &requesters = "")
    {
        WriteFile(workDir + "/actions.txt", actions);
        std::vector<std::string> args = {"-actions", "actions.txt"};
        args.insert(args.end(), extra.begin(), extra.end());
        Spawn(workDir, std::string(LV_BUILD_DIR) + "/examples/serialchat", args, requesters, {});
    }
    // The copy linked with the test display and requester adapters, with the window and no
    // actions: the display adapter's input script (LVT_ADAPTER_INPUT) is the user, the
    // requester adapter answers from answers.txt (one a line) and logs to asked.txt.
    void StartDriven(const std::string &workDir, const std::string &input, const std::string &answers,
                     std::vector<std::pair<std::string, std::string>> env = {})
    {
        WriteFile(workDir + "/answers.txt", answers);
        env.push_back({"LVT_ADAPTER_INPUT", input});
        env.push_back({"LVT_REQUESTER_ANSWERS", "answers.txt"});
        env.push_back({"LVT_REQUESTER_LOG", "asked.txt"});
        Spawn(workDir, std::string(LV_BUILD_DIR) + "/tests/examples/serialchat_adapter", {"-gui"}, "", env);
    }
    void Spawn(const std::string &workDir, const std::string &program, const std::vector<std::string> &more,
               const std::string &requesters, const std::vector<std::pair<std::string, std::string>> &env)
    {
        dir = workDir;
        log = dir + "/out.log";
        pid = fork();
        if (pid == 0) {
            // Headless: no window system is asked for (as in CI).
            setenv("SDL_VIDEODRIVER", "offscreen", 0);
            setenv("SDL_AUDIODRIVER", "dummy", 0);
            for (const auto &v : env) setenv(v.first.c_str(), v.second.c_str(), 1);
            if (chdir(dir.c_str()) != 0) _exit(126);
            int fd = open("out.log", O_WRONLY | O_CREAT | O_TRUNC, 0600);
            int in = open("/dev/null", O_RDONLY);
            if (fd < 0 || in < 0) _exit(126);
            dup2(in, 0);
            dup2(fd, 1);
            dup2(fd, 2);
            if (!requesters.empty()) {
                WriteFile("answers.txt", requesters);
                setenv("LV_REQUESTER_SCRIPT", "answers.txt", 1);
            }
            std::vector<std::string> args = {program};
            args.insert(args.end(), more.begin(), more.end());
            std::vector<char *> argv;
            for (std::string &s : args) argv.push_back(s.data());
            argv.push_back(nullptr);
            execv(program.c_str(), argv.data());
            _exit(127);
        }
    }
    std::string Output() const { return ReadFile(log); }
    bool Ended()
    {
        if (pid < 0) return true;
        if (waitpid(pid, &status, WNOHANG) != pid) return false;
        pid = -1;
        return true;
    }
    // Waits until the output holds text (or the instance ended without it).
    bool WaitFor(const std::string &text, int seconds)
    {
        auto end = Clock::now() + std::chrono::seconds(seconds);
        while (Clock::now() < end) {
            if (Output().find(text) != std::string::npos) return true;
            if (Ended()) return Output().find(text) != std::string::npos;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }
    // Waits for the end; true when it ended with exit code 0 within the time.
    bool WaitEnd(int seconds)
    {
        auto end = Clock::now() + std::chrono::seconds(seconds);
        while (!Ended()) {
            if (Clock::now() >= end) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }
    void Kill()
    {
        if (pid > 0) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            pid = -1;
        }
    }
    ~lvInstance() { Kill(); }
};

std::string MakeTempDir(const char *stem)
{
    std::string pattern = std::string("/tmp/") + stem + "XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    return mkdtemp(buffer.data()) ? std::string(buffer.data()) : std::string();
}

void RemoveTree(const std::string &dir)
{
    if (dir.empty()) return;
    if (DIR *d = opendir(dir.c_str())) {
        while (dirent *e = readdir(d)) {
            std::string name = e->d_name;
            if (name == "." || name == "..") continue;
            std::string path = dir + "/" + name;
            struct stat st;
            if (lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) RemoveTree(path);
            else unlink(path.c_str());
        }
        closedir(d);
    }
    rmdir(dir.c_str());
}

std::string Settings(const std::string &nick, const std::string &port, const std::string &dir, int baud = 115200)
{
    return "NAME " + nick + "\r\nPORT " + port + "\r\nBAUD " + std::to_string(baud) + "\r\nSTOR " + dir +
           "\r\nRECE leave\r\nSERV 1\r\n";
}

// Two pseudo-terminal pairs and a thread copying between their masters: the applets
// open the slaves. Per direction the relay cuts the stream into frames and hands each
// to a rule, which may change it, drop it or add frames. The slaves stay open here too,
// so that an applet that ends leaves a silent line, not a hung-up one.
class lvRelay {
public:
    // direction 0: from side 0 to side 1. Returns the bytes to pass on.
    using Rule = std::function<std::string(int direction, const std::string &frame)>;

    bool Open()
    {
        for (int i = 0; i < 2; i++) {
            char name[256];
            if (openpty(&master_[i], &slave_[i], name, nullptr, nullptr) != 0) return false;
            struct termios t;
            tcgetattr(slave_[i], &t);
            cfmakeraw(&t);
            tcsetattr(slave_[i], TCSANOW, &t);
            fcntl(master_[i], F_SETFL, fcntl(master_[i], F_GETFL) | O_NONBLOCK);
            path_[i] = name;
        }
        return true;
    }
    const std::string &Path(int side) const { return path_[side]; }
    void SetRule(Rule rule)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        rule_ = std::move(rule);
    }
    void Start() { thread_ = std::thread([this] { Run(); }); }
    // Sends bytes to a side as if they came from the other.
    void Inject(int side, const std::string &bytes)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        InjectFromRule(side, bytes);
    }
    // The same from inside a rule, which runs under the relay's lock.
    void InjectFromRule(int side, const std::string &bytes) { pending_[side] += bytes; }
    ~lvRelay()
    {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
        for (int i = 0; i < 2; i++) {
            if (master_[i] >= 0) close(master_[i]);
            if (slave_[i] >= 0) close(slave_[i]);
        }
    }

private:
    int master_[2] = {-1, -1}, slave_[2] = {-1, -1};
    std::string path_[2], stream_[2], pending_[2];
    std::mutex mutex_;
    Rule rule_;
    std::atomic<bool> stop_{false};
    std::thread thread_;

    // Cuts whole frames off the front of a direction's stream; bytes outside frames pass
    // as they are.
    void Cut(int direction)
    {
        std::string &s = stream_[direction];
        std::string out;
        while (!s.empty()) {
            if ((unsigned char)s[0] != 0x7E) {
                size_t flag = s.find('\x7e');
                out += s.substr(0, flag);
                s.erase(0, flag == std::string::npos ? s.size() : flag);
                continue;
            }
            if (s.size() < 5) break;
            size_t length = ((unsigned char)s[3] << 8) | (unsigned char)s[4];
            if (length > 4096) {
                out += s.substr(0, 1);
                s.erase(0, 1);
                continue;
            }
            if (s.size() < length + 9) break;
            std::string frame = s.substr(0, length + 9);
            s.erase(0, length + 9);
            std::lock_guard<std::mutex> lock(mutex_);
            out += rule_ ? rule_(direction, frame) : frame;
        }
        std::lock_guard<std::mutex> lock(mutex_);
        pending_[1 - direction] += out;
    }
    void Run()
    {
        while (!stop_) {
            pollfd fds[2] = {{master_[0], POLLIN, 0}, {master_[1], POLLIN, 0}};
            poll(fds, 2, 10);
            for (int i = 0; i < 2; i++) {
                char buffer[8192];
                ssize_t n = read(master_[i], buffer, sizeof buffer);
                if (n > 0) {
                    stream_[i].append(buffer, (size_t)n);
                    Cut(i);
                }
            }
            for (int i = 0; i < 2; i++) {
                std::lock_guard<std::mutex> lock(mutex_);
                if (pending_[i].empty()) continue;
                ssize_t n = write(master_[i], pending_[i].data(), pending_[i].size());
                if (n > 0) pending_[i].erase(0, (size_t)n);
            }
        }
    }
};

// Starts socat with two pseudo-terminals and reads their paths from its messages.
struct lvSocat {
    pid_t pid = -1;
    int messages = -1;
    std::string devices[2], log;

    bool Start()
    {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0) return false;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], 2);
        const char *argv[] = {"socat", "-d", "-d", "pty,raw,echo=0", "pty,raw,echo=0", nullptr};
        int r = posix_spawnp(&pid, "socat", &actions, nullptr, const_cast<char **>(argv), environ);
        posix_spawn_file_actions_destroy(&actions);
        close(fds[1]);
        messages = fds[0];
        if (r) {
            pid = -1;
            return false;
        }
        int found = 0;
        auto end = Clock::now() + std::chrono::seconds(10);
        while (found < 2 && Clock::now() < end) {
            pollfd p = {messages, POLLIN, 0};
            if (poll(&p, 1, 100) <= 0) continue;
            char buffer[512];
            ssize_t n = read(messages, buffer, sizeof buffer);
            if (n <= 0) break;
            log.append(buffer, (size_t)n);
            found = 0;
            for (size_t at = log.find("PTY is "); at != std::string::npos && found < 2; at = log.find("PTY is ", at + 1)) {
                size_t start = at + 7, stop = log.find('\n', start);
                if (stop == std::string::npos) break;
                devices[found++] = log.substr(start, stop - start);
            }
        }
        return found == 2;
    }
    ~lvSocat()
    {
        if (pid > 0) {
            kill(pid, SIGTERM);
            waitpid(pid, nullptr, 0);
        }
        if (messages >= 0) close(messages);
    }
};

class SerialChat : public ::testing::Test {
protected:
    std::string dirs[2];
    void SetUp() override
    {
        for (int i = 0; i < 2; i++) {
            dirs[i] = MakeTempDir(i ? "lvchatB" : "lvchatA");
            ASSERT_FALSE(dirs[i].empty());
        }
    }
    void TearDown() override
    {
        if (HasFailure()) {
            for (int i = 0; i < 2; i++)
                fprintf(stderr, "--- instance %d:\n%s\n", i, ReadFile(dirs[i] + "/out.log").c_str());
        }
        for (const std::string &d : dirs) RemoveTree(d);
    }
};

// A BMP snapshot as 0xRRGGBB pixels, top row first; empty when it is not a 24- or
// 32-bit BMP.
struct lvPicture {
    int width = 0, height = 0;
    std::vector<uint32_t> pixels;
    uint32_t At(int x, int y) const { return pixels[(size_t)y * width + x]; }
    // How many pixels of the colour lie in the rows from y0 up to y1.
    size_t CountColour(uint32_t rgb, int y0, int y1) const
    {
        size_t n = 0;
        for (int y = y0; y < y1 && y < height; y++)
            for (int x = 0; x < width; x++) n += At(x, y) == rgb;
        return n;
    }
};

lvPicture ReadBmp(const std::string &path)
{
    lvPicture p;
    std::string d = ReadFile(path);
    auto u32 = [&](size_t at) {
        return (uint32_t)(unsigned char)d[at] | (uint32_t)(unsigned char)d[at + 1] << 8 |
               (uint32_t)(unsigned char)d[at + 2] << 16 | (uint32_t)(unsigned char)d[at + 3] << 24;
    };
    if (d.size() < 54 || d[0] != 'B' || d[1] != 'M') return p;
    uint32_t offset = u32(10);
    int width = (int)u32(18), height = (int)u32(22);
    int bpp = (unsigned char)d[28] | (unsigned char)d[29] << 8;
    bool bottomUp = height > 0;
    if (!bottomUp) height = -height;
    if ((bpp != 24 && bpp != 32) || width <= 0 || height <= 0) return p;
    size_t stride = ((size_t)width * (bpp / 8) + 3) & ~(size_t)3;
    if (d.size() < offset + stride * height) return p;
    p.width = width;
    p.height = height;
    p.pixels.resize((size_t)width * height);
    for (int y = 0; y < height; y++) {
        size_t row = offset + stride * (bottomUp ? height - 1 - y : y);
        for (int x = 0; x < width; x++) {
            const unsigned char *px = (const unsigned char *)d.data() + row + (size_t)x * (bpp / 8);
            p.pixels[(size_t)y * width + x] = (uint32_t)px[2] << 16 | (uint32_t)px[1] << 8 | px[0];
        }
    }
    return p;
}

std::string Repeat(const std::string &s, int n)
{
    std::string out;
    for (int i = 0; i < n; i++) out += s;
    return out;
}

}  // namespace

// The whole road over socat, as a user runs it: both connect, messages cross both ways
// (140 "é" among them, after 141 were typed), 1 MB of every byte value arrives exact with
// the progress at 100 %, and both quit with code 0.
TEST_F(SerialChat, ChatAndFileOverSocat)
{
    lvSocat socat;
    ASSERT_TRUE(socat.Start()) << "socat is needed: " << socat.log;
    std::string big = EveryByteFile(1 << 20);
    WriteFile(dirs[0] + "/big.bin", big);
    for (int i = 0; i < 2; i++)
        WriteFile(dirs[i] + "/Settings.dat", Settings(i ? "Bea" : "Ada", socat.devices[i], dirs[i]));
    std::string ee141 = Repeat("\xc3\xa9", 141), ee140 = Repeat("\xc3\xa9", 140);
    lvInstance a, b;
    a.Start(dirs[0], "connect\nsay Hello from Ada\ntype " + ee141 + "\nreturn\nwaitmsgs 1\nsend big.bin\nquit\n");
    b.Start(dirs[1], "connect\nwaitmsgs 2\nsay Hi Ada, B here\nwaitfiles 1\nwaitbye\nquit\n");
    EXPECT_TRUE(a.WaitFor("status: Connected to Bea", 20));
    EXPECT_TRUE(b.WaitFor("status: Connected to Ada", 20));
    ASSERT_TRUE(a.WaitEnd(90)) << a.status;
    ASSERT_TRUE(b.WaitEnd(20)) << b.status;
    std::string outA = a.Output(), outB = b.Output();
    EXPECT_EQ(Count(outA, "status: A message may have at most 140 characters."), 1u) << outA;
    EXPECT_NE(outB.find("chat: Ada: Hello from Ada\n"), std::string::npos);
    EXPECT_NE(outB.find("chat: Ada: " + ee140 + "\n"), std::string::npos);
    EXPECT_EQ(outB.find(ee141), std::string::npos);
    EXPECT_NE(outA.find("chat: Bea: Hi Ada, B here\n"), std::string::npos);
    EXPECT_NE(outA.find("progress: out 100%"), std::string::npos);
    EXPECT_NE(outB.find("progress: in 100%"), std::string::npos);
    EXPECT_NE(outB.find("chat: * Received big.bin (1048576 bytes) from Ada."), std::string::npos);
    EXPECT_TRUE(ReadFile(dirs[1] + "/big.bin") == big) << "the received file differs";
    EXPECT_FALSE(FileExists(dirs[1] + "/big.bin.part"));
    EXPECT_NE(outB.find("status: Ada left the conversation."), std::string::npos);
    // Both service logs keep the conversation.
    EXPECT_NE(ReadFile(dirs[1] + "/serialchat.log").find("chat: Ada: Hello from Ada\r\n"), std::string::npos);
    EXPECT_NE(ReadFile(dirs[0] + "/serialchat.log").find("chat: Bea: Hi Ada, B here\r\n"), std::string::npos);
}

// Through a relay that flips one payload byte of the first MSG and of the first DATA frame
// from A: each is refused by its checksum once and resent once, and both arrive exact. A
// forged MSG of 141 characters with a good CRC and an OFFER of "../evil" are refused; a
// second copy of the received file does not replace the first.
TEST_F(SerialChat, CorruptedAndForgedFramesThroughARelay)
{
    lvRelay relay;
    ASSERT_TRUE(relay.Open());
    std::atomic<int> flippedMsg{0}, flippedData{0}, doubled{0};
    relay.SetRule([&](int direction, const std::string &frame) {
        std::string f = frame;
        int type = (unsigned char)f[1];
        if (direction == 0 && type == 2 && flippedMsg == 0) {
            flippedMsg++;
            f[5] ^= 0x20;
        } else if (direction == 0 && type == 4 && flippedData == 0) {
            flippedData++;
            f[5 + 1000] ^= 0x01;
        } else if (direction == 1 && type == 2 && doubled == 0) {
            doubled++;
            return f + f;  // as when an ACK is lost: the same frame again
        }
        return f;
    });
    relay.Start();
    std::string data = EveryByteFile(100000);
    WriteFile(dirs[0] + "/data.bin", data);
    WriteFile(dirs[1] + "/data.bin", "an older file of the same name");
    for (int i = 0; i < 2; i++) WriteFile(dirs[i] + "/Settings.dat", Settings(i ? "Bea" : "Ada", relay.Path(i), dirs[i]));
    lvInstance a, b;
    a.Start(dirs[0], "connect\nsay checked message\nwaitmsgs 1\nsend data.bin\nwaitmsgs 2\nquit\n");
    b.Start(dirs[1], "connect\nwaitmsgs 1\nsay first\nwaitfiles 1\nwaitfiles 2\nsay second\nwaitbye\nquit\n");
    ASSERT_TRUE(b.WaitFor("chat: * Received data (1).bin", 60)) << b.Output();
    // Forged frames from "A": a message one character too long, then an unsafe name.
    relay.Inject(1, Frame(2, 200, Repeat("x", 141)));
    EXPECT_TRUE(b.WaitFor("status: Refused a message of more than 140 characters.", 20));
    relay.Inject(1, Frame(2, 202, "caf\xc3"));
    EXPECT_TRUE(b.WaitFor("status: Refused a message that is not valid UTF-8.", 20));
    // A greeting with a nickname of 26 characters is refused; the connection stays.
    relay.Inject(1, Frame(1, 0, std::string("\x01\x01", 2) + Repeat("n", 26)));
    EXPECT_TRUE(b.WaitFor("status: Refused the peer's nickname: A nickname may have at most 25 characters.", 20));
    // A length over 4096 is refused at once; the bytes after it are hunted through.
    relay.Inject(1, std::string("\x7e\x02\x05\x10\x01zzzz", 9));
    EXPECT_TRUE(b.WaitFor("event: refused length", 20));
    // A frame that never completes is dropped after its time on the line and 2 s.
    relay.Inject(1, std::string("\x7e\x02\x06\x00\x10" "abc", 8));
    EXPECT_TRUE(b.WaitFor("event: time-out", 20));
    std::string offer = std::string("\0\0\0\4\0\0\0\0", 8) + "../evil";
    relay.Inject(1, Frame(3, 201, offer));
    EXPECT_TRUE(b.WaitFor("status: Refused the file \"../evil\": the name holds a path separator.", 20));
    ASSERT_TRUE(a.WaitEnd(60)) << a.Output();
    ASSERT_TRUE(b.WaitEnd(20)) << b.Output();
    EXPECT_EQ(flippedMsg, 1);
    EXPECT_EQ(flippedData, 1);
    std::string outB = b.Output();
    EXPECT_NE(outB.find("chat: Ada: checked message\n"), std::string::npos);
    EXPECT_EQ(outB.find("xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx"), std::string::npos);
    EXPECT_TRUE(ReadFile(dirs[1] + "/data (1).bin") == data);
    EXPECT_EQ(ReadFile(dirs[1] + "/data.bin"), "an older file of the same name");
    EXPECT_FALSE(FileExists(dirs[1] + "/../evil.part"));
    std::string logA = ReadFile(dirs[0] + "/serialchat.log"), logB = ReadFile(dirs[1] + "/serialchat.log");
    EXPECT_EQ(Count(logB, "event: refused checksum"), 2u) << logB;
    EXPECT_EQ(Count(logA, "event: resend"), 2u) << logA;
    EXPECT_EQ(Count(logA, "event: time-out"), 0u) << logA;
    EXPECT_EQ(Count(logB, "event: refused message: over 140 characters"), 1u) << logB;
    EXPECT_EQ(Count(logB, "event: refused message: not valid UTF-8"), 1u) << logB;
    // The doubled message is acknowledged twice and shown once.
    EXPECT_EQ(doubled, 1);
    EXPECT_EQ(Count(a.Output(), "chat: Bea: first\n"), 1u);
    EXPECT_EQ(Count(logA, "event: duplicate"), 1u) << logA;
}

// The receiver killed in the middle of a transfer: the sender reports the silent peer
// within the bound (5 resends), and no file appears under the final name. Then a sender
// that cancels: the receiver deletes the part, and the line still carries messages.
TEST_F(SerialChat, VanishedPeerAndCancelledTransfer)
{
    std::string big = EveryByteFile(1 << 20);
    WriteFile(dirs[0] + "/big.bin", big);
    {
        lvRelay relay;
        ASSERT_TRUE(relay.Open());
        relay.Start();
        for (int i = 0; i < 2; i++)
            WriteFile(dirs[i] + "/Settings.dat", Settings(i ? "Bea" : "Ada", relay.Path(i), dirs[i]));
        lvInstance a, b;
        a.Start(dirs[0], "connect\nsend big.bin\nquit\n");
        b.Start(dirs[1], "connect\nwaitfiles 1\nquit\n");
        ASSERT_TRUE(b.WaitFor("progress: in 1", 30)) << b.Output();
        b.Kill();
        auto killed = Clock::now();
        EXPECT_TRUE(a.WaitFor("status: Sending big.bin failed: the connection ended.", 40)) << a.Output();
        EXPECT_LT(Clock::now() - killed, std::chrono::seconds(40));
        EXPECT_NE(a.Output().find("status: The peer does not answer."), std::string::npos);
        EXPECT_TRUE(a.WaitEnd(10));
        EXPECT_FALSE(FileExists(dirs[1] + "/big.bin"));
    }
    unlink((dirs[1] + "/big.bin.part").c_str());
    {
        lvRelay relay;
        ASSERT_TRUE(relay.Open());
        relay.Start();
        for (int i = 0; i < 2; i++)
            WriteFile(dirs[i] + "/Settings.dat", Settings(i ? "Bea" : "Ada", relay.Path(i), dirs[i]));
        lvInstance a, b;
        a.Start(dirs[0], "connect\noffer big.bin\nwaitprogress 20\ncancel\nsay after the cancel\nwaitmsgs 1\nquit\n");
        b.Start(dirs[1], "connect\nwaitfiles 1\nwaitmsgs 1\nsay still here\nwaitbye\nquit\n");
        ASSERT_TRUE(a.WaitEnd(60)) << a.Output();
        ASSERT_TRUE(b.WaitEnd(20)) << b.Output();
        std::string outA = a.Output(), outB = b.Output();
        EXPECT_NE(outA.find("status: Sending big.bin was cancelled."), std::string::npos) << outA;
        EXPECT_NE(outB.find("status: Receiving big.bin failed: Ada cancelled it; the part was deleted."),
                  std::string::npos) << outB;
        EXPECT_NE(outB.find("chat: Ada: after the cancel\n"), std::string::npos) << outB;
        EXPECT_NE(outA.find("chat: Bea: still here\n"), std::string::npos) << outA;
        EXPECT_FALSE(FileExists(dirs[1] + "/big.bin"));
        EXPECT_FALSE(FileExists(dirs[1] + "/big.bin.part"));
    }
}

// Settings.dat: saved in the fixed order with CR LF, read back after a restart, read the
// same from an LF-only file; bad values are refused with their message, the old kept.
TEST_F(SerialChat, SettingsFile)
{
    std::string fixture = ReadFile(std::string(LV_SOURCE_DIR) + "/tests/examples/serialchat_fixtures/Settings.dat");
    ASSERT_FALSE(fixture.empty());
    const std::string &dir = dirs[0];
    auto run = [&](const std::string &actions) {
        lvInstance i;
        i.Start(dir, actions);
        EXPECT_TRUE(i.WaitEnd(20)) << i.Output();
        return i.Output();
    };
    std::string out = run("show\nquit\n");
    EXPECT_NE(out.find("status: No Settings.dat: the defaults are in use."), std::string::npos) << out;
    EXPECT_NE(out.find("settings: NAME Guest, PORT COM1, BAUD 9600, STOR " + dir + ", RECE ask, SERV 0"),
              std::string::npos) << out;

    std::string nick25 = "Abcdefghijklmnopqrstuvwxy", nick26 = nick25 + "z";
    out = run("set NAME " + nick26 + "\nset NAME " + nick25 + "\nset name Ada\nset port /dev/ttyUSB0\n"
              "set baud 12345\nset baud 115200\nset stor /no/such/folder\nset stor .\nset rece sometimes\n"
              "set rece leave\nset serv 1\nsave\nquit\n");
    EXPECT_EQ(Count(out, "status: A nickname may have at most 25 characters."), 1u) << out;
    EXPECT_NE(out.find("status: Unknown baud rate 12345"), std::string::npos) << out;
    EXPECT_NE(out.find("status: The folder /no/such/folder does not exist."), std::string::npos) << out;
    EXPECT_NE(out.find("status: A received file is opened, asked about or left"), std::string::npos) << out;
    EXPECT_EQ(ReadFile(dir + "/Settings.dat"), fixture);

    std::string shown = "settings: NAME Ada, PORT /dev/ttyUSB0, BAUD 115200, STOR ., RECE leave, SERV 1";
    out = run("show\nquit\n");
    EXPECT_NE(out.find(shown), std::string::npos) << out;
    std::string lf = fixture;
    for (size_t at; (at = lf.find("\r\n")) != std::string::npos;) lf.erase(at, 1);
    WriteFile(dir + "/Settings.dat", "# a comment line\n" + lf + "OTHER line\n");
    out = run("show\nquit\n");
    EXPECT_NE(out.find(shown), std::string::npos) << out;

    // A file line with 26 characters is refused and the default kept; 25 pass.
    WriteFile(dir + "/Settings.dat", "NAME " + nick26 + "\nBAUD 300\n");
    out = run("show\nquit\n");
    EXPECT_NE(out.find("status: A nickname may have at most 25 characters."), std::string::npos) << out;
    EXPECT_NE(out.find("settings: NAME Guest, PORT COM1, BAUD 300,"), std::string::npos) << out;
    WriteFile(dir + "/Settings.dat", "NAME " + nick25 + "\r\n");
    out = run("show\nquit\n");
    EXPECT_NE(out.find("settings: NAME " + nick25 + ","), std::string::npos) << out;
}

// The main window over socat: typing, BACKSPACE and RETURN go through the window's key
// handling, the conversation is drawn with own lines and the peer's in their colours
// (a message's "[b]" stays text), and F12 saves the same picture in the storage folder.
TEST_F(SerialChat, WindowShowsTheConversation)
{
    lvSocat socat;
    ASSERT_TRUE(socat.Start()) << "socat is needed: " << socat.log;
    for (int i = 0; i < 2; i++)
        WriteFile(dirs[i] + "/Settings.dat", Settings(i ? "Bea" : "Ada", socat.devices[i], dirs[i]));
    WriteFile(dirs[0] + "/small.bin", EveryByteFile(20000));
    lvInstance a, b;
    a.Start(dirs[0],
            "button 1\ntype Hello [b]Bea[/b]x\nkey BACKSPACE\nkey RETURN\nwaitmsgs 1\n"
            "snapshot shot.bmp\nkey F12\nsend small.bin\nsnapshot sent.bmp\nquit\n",
            {"-gui"});
    b.Start(dirs[1], "connect\nwaitmsgs 1\nsay Hi Ada\nwaitbye\nquit\n", {"-gui"});
    ASSERT_TRUE(a.WaitEnd(60)) << a.status;
    ASSERT_TRUE(b.WaitEnd(20)) << b.status;
    EXPECT_NE(b.Output().find("chat: Ada: Hello [b]Bea[/b]\n"), std::string::npos) << b.Output();
    EXPECT_NE(a.Output().find("chat: Bea: Hi Ada\n"), std::string::npos);
    lvPicture shot = ReadBmp(dirs[0] + "/shot.bmp"), f12 = ReadBmp(dirs[0] + "/serialchat.bmp");
    ASSERT_EQ(shot.width, 640);
    ASSERT_EQ(shot.height, 480);
    // Own line green, the peer's blue, both in the conversation's area.
    EXPECT_GT(shot.CountColour(0x80FF80, 0, 380), 50u);
    EXPECT_GT(shot.CountColour(0x80C0FF, 0, 380), 30u);
    EXPECT_EQ(shot.CountColour(0x80FF80, 380, 480), 0u);
    // The status line is drawn in grey below.
    EXPECT_GT(shot.CountColour(0xC0C0C0, 455, 480), 0u);
    ASSERT_EQ(f12.width, 640);
    ASSERT_EQ(f12.height, 480);
    bool same = true;
    for (int y = 0; y < 380 && same; y++)
        for (int x = 0; x < 640 && same; x++) same = shot.At(x, y) == f12.At(x, y);
    EXPECT_TRUE(same) << "F12's picture shows another conversation";
    // The progress appears once a file goes out, between entry and buttons.
    lvPicture sent = ReadBmp(dirs[0] + "/sent.bmp");
    ASSERT_EQ(sent.width, 640);
    EXPECT_EQ(shot.CountColour(0xE0E0E0, 405, 422), 0u);
    EXPECT_GT(sent.CountColour(0xE0E0E0, 405, 422), 100u);
    EXPECT_EQ(shot.CountColour(0x4080FF, 0, 480), 0u);
    EXPECT_EQ(ReadFile(dirs[1] + "/small.bin"), EveryByteFile(20000));
}

// The settings window over the scripted requesters: a 26-character nickname is refused
// and the old one kept, the new values are saved as Settings.dat (byte for byte) and
// read again at the next start; Cancel puts back what was changed.
TEST_F(SerialChat, SettingsWindow)
{
    const std::string dir = dirs[0];
    WriteFile(dir + "/Settings.dat", "NAME Ada\nPORT /dev/nonexistent-port\nBAUD 9600\nSTOR " + dir +
                                         "\nRECE ask\nSERV 0\n");
    std::string nick26 = Repeat("abcdefghijklm", 2);
    {
        lvInstance a;
        a.Start(dir, "button 3\nquit\n", {"-gui"},
                "0\n" + nick26 + "\n0\nZed\n2\n10\n4\n2\n5\n6\n");
        ASSERT_TRUE(a.WaitEnd(20)) << a.status << a.Output();
        EXPECT_NE(a.Output().find("status: A nickname may have at most 25 characters."), std::string::npos)
            << a.Output();
    }
    EXPECT_EQ(ReadFile(dir + "/Settings.dat"), "NAME Zed\r\nPORT /dev/nonexistent-port\r\nBAUD 460800\r\nSTOR " + dir +
                                                   "\r\nRECE leave\r\nSERV 1\r\n");
    {
        lvInstance a;
        a.Start(dir, "button 3\nshow\nquit\n", {"-gui"}, "0\nYan\n2\n0\n7\n");
        ASSERT_TRUE(a.WaitEnd(20)) << a.status << a.Output();
        std::string out = a.Output();
        EXPECT_NE(out.find("NAME Zed"), std::string::npos) << out;
        EXPECT_NE(out.find("BAUD 460800"), std::string::npos) << out;
        EXPECT_EQ(out.find("NAME Yan"), std::string::npos) << out;
    }
    EXPECT_NE(ReadFile(dir + "/Settings.dat").find("NAME Zed\r\n"), std::string::npos);
}

// A first start in the window (no Settings.dat): the settings window opens with the
// defaults, and what is saved there is the new Settings.dat.
TEST_F(SerialChat, SettingsWindowAtFirstStart)
{
    const std::string dir = dirs[0];
    lvInstance a;
    a.Start(dir, "quit\n", {"-gui"}, "0\nNia\n6\n");
    ASSERT_TRUE(a.WaitEnd(20)) << a.status << a.Output();
    EXPECT_EQ(ReadFile(dir + "/Settings.dat"),
              "NAME Nia\r\nPORT COM1\r\nBAUD 9600\r\nSTOR " + dir + "\r\nRECE ask\r\nSERV 0\r\n");
}

namespace {

// The input script's click on a main-window button (1 Connect, 2 Send file..., 3
// Settings..., 4 About...): the buttons lie in a row at y 432, 140 wide, 150 apart.
std::string Click(int button)
{
    std::string x = std::to_string(8 + (button - 1) * 150 + 70);
    return "move " + x + " 441;down " + x + " 441;up " + x + " 441;";
}

// Signals an instance's input script waiting on "waitfile NAME".
void Signal(const std::string &dir, const std::string &name)
{
    WriteFile(dir + "/" + name, "");
}

}  // namespace

// Two window instances over socat, each driven only by the display adapter's input
// script (clicks on the buttons, typed characters, RETURN, closing the window) and the
// scripted requesters: both connect, messages cross both ways (the 141st "é" is refused,
// RETURN sends 140), a file requester that fails shows a line in the conversation, 1 MB
// of every byte value chosen in the file requester arrives exact with the progress at
// 100 %, and both end with code 0 when their windows close.
TEST_F(SerialChat, WindowDrivenByItsUser)
{
    lvSocat socat;
    ASSERT_TRUE(socat.Start()) << "socat is needed: " << socat.log;
    std::string big = EveryByteFile(1 << 20);
    WriteFile(dirs[0] + "/big.bin", big);
    for (int i = 0; i < 2; i++)
        WriteFile(dirs[i] + "/Settings.dat", Settings(i ? "Bea" : "Ada", socat.devices[i], dirs[i]));
    std::string ee140 = Repeat("\xc3\xa9", 140), ee141 = ee140 + "\xc3\xa9";
    lvInstance a, b;
    // In service mode (SERV 1) both windows connect by themselves.
    a.StartDriven(dirs[0],
                  "waitfile connected;type Hello [b]from[/b] Ada;keycode 274;type " + ee141 +
                      ";keycode 274;waitfile heard;" + Click(2) + "waitfile done;keycode 279;close",
                  dirs[0] + "/big.bin\n");
    // Bea's requester has no answer: it fails, and the conversation says so.
    b.StartDriven(dirs[1], "waitfile heard;type Hi Ada, B here;keycode 274;" + Click(2) +
                               "waitfile done;close", "");
    EXPECT_TRUE(a.WaitFor("status: Connected to Bea", 20)) << a.Output();
    EXPECT_TRUE(b.WaitFor("status: Connected to Ada", 20)) << b.Output();
    Signal(dirs[0], "connected");
    ASSERT_TRUE(b.WaitFor("chat: Ada: " + ee140 + "\n", 30)) << b.Output();
    Signal(dirs[1], "heard");
    ASSERT_TRUE(a.WaitFor("chat: Bea: Hi Ada, B here\n", 30)) << a.Output();
    Signal(dirs[0], "heard");
    ASSERT_TRUE(b.WaitFor("chat: * Received big.bin", 120)) << b.Output();
    ASSERT_TRUE(a.WaitFor("chat: * Sent big.bin", 30)) << a.Output();
    Signal(dirs[0], "done");
    ASSERT_TRUE(a.WaitEnd(30)) << a.status;
    ASSERT_TRUE(b.WaitFor("status: Ada left the conversation.", 20)) << b.Output();
    Signal(dirs[1], "done");
    ASSERT_TRUE(b.WaitEnd(20)) << b.status;
    std::string outA = a.Output(), outB = b.Output();
    EXPECT_EQ(Count(outA, "status: A message may have at most 140 characters."), 1u) << outA;
    EXPECT_NE(outB.find("chat: Ada: Hello [b]from[/b] Ada\n"), std::string::npos) << outB;
    EXPECT_EQ(outB.find(ee141), std::string::npos);
    EXPECT_NE(outB.find("chat: * The file requester could not be opened (error 1288).\n"), std::string::npos) << outB;
    EXPECT_NE(outA.find("progress: out 100%"), std::string::npos);
    EXPECT_NE(outB.find("progress: in 100%"), std::string::npos);
    EXPECT_TRUE(ReadFile(dirs[1] + "/big.bin") == big) << "the received file differs";
    EXPECT_FALSE(FileExists(dirs[1] + "/big.bin.part"));
    // F12 after the transfer: the drawn bar is full, 500 x 10 blue pixels inside its frame.
    lvPicture shot = ReadBmp(dirs[0] + "/serialchat.bmp");
    ASSERT_EQ(shot.width, 640) << outA;
    EXPECT_EQ(shot.CountColour(0x4080FF, 405, 425), 5000u);
    EXPECT_EQ(shot.CountColour(0x4080FF, 0, 405) + shot.CountColour(0x4080FF, 425, 480), 0u);
    EXPECT_EQ(shot.At(120, 415), 0xE0E0E0u);
    EXPECT_EQ(shot.At(623, 415), 0xE0E0E0u);
}

// The settings window opened by its button: a 26-character nickname is refused with its
// message and the old one kept, 25 pass; what is saved equals the fixture byte for byte
// and is what the next start reads.
TEST_F(SerialChat, SettingsEditedInTheWindow)
{
    std::string fixture = ReadFile(std::string(LV_SOURCE_DIR) + "/tests/examples/serialchat_fixtures/Settings.dat");
    ASSERT_FALSE(fixture.empty());
    const std::string dir = dirs[0];
    WriteFile(dir + "/Settings.dat", "NAME Guest\nPORT COM1\nBAUD 9600\nSTOR " + dir + "\nRECE ask\nSERV 0\n");
    std::string nick25 = "Abcdefghijklmnopqrstuvwxy", nick26 = nick25 + "z";
    {
        lvInstance a;
        a.StartDriven(dir, Click(3) + "waitfile saved;close",
                      "0\n" + nick26 + "\n0\n" + nick25 + "\n0\nAda\n1\n/dev/ttyUSB0\n2\n9\n3\n.\n4\n2\n5\n6\n");
        // The window stays open until the test saw the saved file.
        auto end = Clock::now() + std::chrono::seconds(20);
        while (ReadFile(dir + "/Settings.dat") != fixture && Clock::now() < end && !a.Ended())
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        Signal(dir, "saved");
        ASSERT_TRUE(a.WaitEnd(20)) << a.status << a.Output();
        std::string out = a.Output(), asked = ReadFile(dir + "/asked.txt");
        EXPECT_EQ(Count(out, "status: A nickname may have at most 25 characters."), 1u) << out;
        // After the refusal the old nickname is shown and offered again; after 25
        // characters, those.
        std::string ask = "StringRequest h \"Nickname\" \"Your nickname, 1 to 25 characters:\" 0 1=1 2=\"";
        EXPECT_EQ(Count(asked, ask + "Guest\"\n"), 2u) << asked;
        EXPECT_EQ(Count(asked, "[Nickname: Guest,"), 2u) << asked;
        EXPECT_EQ(Count(asked, ask + nick25 + "\"\n"), 1u) << asked;
        EXPECT_EQ(Count(asked, "[Nickname: " + nick25 + ","), 1u) << asked;
        EXPECT_EQ(asked.find(nick26), std::string::npos) << asked;
    }
    EXPECT_EQ(ReadFile(dir + "/Settings.dat"), fixture);
    lvInstance again;
    again.Start(dir, "show\nquit\n");
    ASSERT_TRUE(again.WaitEnd(20)) << again.Output();
    EXPECT_NE(again.Output().find("settings: NAME Ada, PORT /dev/ttyUSB0, BAUD 115200, STOR ., RECE leave, SERV 1"),
              std::string::npos) << again.Output();
}

// RECE ask in the window: each received file is asked about with "Yes|No" once its END
// is acknowledged; Yes hands it to the desktop's opener (a stand-in for xdg-open here),
// No leaves it.
TEST_F(SerialChat, WindowAsksAboutReceivedFiles)
{
    lvSocat socat;
    ASSERT_TRUE(socat.Start()) << "socat is needed: " << socat.log;
    WriteFile(dirs[0] + "/one.txt", "the first file\n");
    WriteFile(dirs[0] + "/two.txt", "the second file\n");
    WriteFile(dirs[0] + "/Settings.dat", Settings("Ada", socat.devices[0], dirs[0]));
    WriteFile(dirs[1] + "/Settings.dat", "NAME Bea\r\nPORT " + socat.devices[1] + "\r\nBAUD 115200\r\nSTOR " + dirs[1] +
                                             "\r\nRECE ask\r\nSERV 0\r\n");
    mkdir((dirs[1] + "/bin").c_str(), 0700);
    std::string opener = dirs[1] + "/bin/xdg-open";
    WriteFile(opener, "#!/bin/sh\nprintf '%s\\n' \"$1\" >> '" + dirs[1] + "/opened.txt'\n");
    chmod(opener.c_str(), 0700);
    lvInstance a, b;
    // Yes is the first button (choice 1), No the last (0).
    b.StartDriven(dirs[1], Click(1) + "waitfile done;close", "1\n0\n",
                  {{"PATH", dirs[1] + "/bin:" + (getenv("PATH") ? getenv("PATH") : "/usr/bin:/bin")}});
    a.Start(dirs[0], "connect\nsend one.txt\nsend two.txt\nquit\n");
    ASSERT_TRUE(a.WaitEnd(40)) << a.Output();
    ASSERT_TRUE(b.WaitFor("status: Received " + dirs[1] + "/two.txt; it is left there.", 20)) << b.Output();
    Signal(dirs[1], "done");
    ASSERT_TRUE(b.WaitEnd(20)) << b.status;
    std::string out = b.Output(), asked = ReadFile(dirs[1] + "/asked.txt");
    EXPECT_NE(out.find("status: Opened " + dirs[1] + "/one.txt."), std::string::npos) << out;
    for (const char *name : {"one", "two"})
        EXPECT_NE(asked.find("SystemRequest h \"Received file\" \"The file " + dirs[1] + "/" + name +
                             ".txt has arrived. Open it now?\""),
                  std::string::npos) << asked;
    // Only the file answered with Yes went to the opener.
    auto end = Clock::now() + std::chrono::seconds(10);
    while (!FileExists(dirs[1] + "/opened.txt") && Clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(ReadFile(dirs[1] + "/opened.txt"), dirs[1] + "/one.txt\n");
    EXPECT_EQ(ReadFile(dirs[1] + "/two.txt"), "the second file\n");
}

// About is a window of its own (display 2): its OK button and its close box each close
// it, it opens again, and the main window keeps the keys and the drawing: F12 afterwards
// saves the 640 x 480 main window, and closing that window ends the run with code 0.
TEST_F(SerialChat, AboutWindow)
{
    const std::string dir = dirs[0];
    WriteFile(dir + "/Settings.dat", "NAME Ada\r\nPORT /dev/nonexistent-port\r\nBAUD 9600\r\nSTOR " + dir +
                                         "\r\nRECE ask\r\nSERV 0\r\n");
    lvInstance a;
    a.StartDriven(dir,
                  Click(4) + "waitfile opened1;display 2;move 180 126;down 180 126;up 180 126;display 0;"
                             "waitfile closed1;" + Click(4) + "waitfile opened2;display 3;close;display 0;"
                             "waitfile closed2;type Hi;keycode 279;waitfile done;close",
                  "", {{"LVT_ADAPTER_LOG", "adapter.txt"}});
    auto waitCount = [&](const std::string &line, size_t n) {
        auto end = Clock::now() + std::chrono::seconds(20);
        while (Count(a.Output(), line) < n && Clock::now() < end && !a.Ended())
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return Count(a.Output(), line) >= n;
    };
    for (size_t round = 1; round <= 2; round++) {
        std::string n = std::to_string(round);
        ASSERT_TRUE(waitCount("window: About opened\n", round)) << a.Output();
        Signal(dir, "opened" + n);
        ASSERT_TRUE(waitCount("window: About closed\n", round)) << a.Output();
        Signal(dir, "closed" + n);
    }
    ASSERT_TRUE(a.WaitFor("status: Snapshot saved as " + dir + "/serialchat.bmp", 20)) << a.Output();
    Signal(dir, "done");
    ASSERT_TRUE(a.WaitEnd(20)) << a.status << a.Output();
    std::string log = ReadFile(dir + "/adapter.txt");
    EXPECT_EQ(Count(log, "OpenDisplay About Serial chat"), 2u) << log;
    EXPECT_NE(log.find("CloseDisplay 2"), std::string::npos) << log;
    EXPECT_NE(log.find("CloseDisplay 3"), std::string::npos) << log;
    lvPicture shot = ReadBmp(dir + "/serialchat.bmp");
    EXPECT_EQ(shot.width, 640);
    EXPECT_EQ(shot.height, 480);
}

namespace {

// A command's standard output and exit code (the shell runs it).
std::string RunCommand(const std::string &command, int *code)
{
    std::string out;
    *code = -1;
    if (FILE *p = popen(command.c_str(), "r")) {
        char buffer[4096];
        size_t n;
        while ((n = fread(buffer, 1, sizeof buffer, p)) > 0) out.append(buffer, n);
        int status = pclose(p);
        *code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    return out;
}

// An X server of the test's own (Xvfb -displayfd), stopped by the destructor.
struct lvXvfb {
    pid_t pid = -1;
    std::string display;

    bool Start()
    {
        pid = StartXvfb(&display, "1024x768x24");
        return pid > 0;
    }
    // Runs an X client (xdotool, import) on this server.
    std::string Client(const std::string &command, int *code) const
    {
        return RunCommand("DISPLAY=" + display + " " + command + " 2>&1", code);
    }
    ~lvXvfb()
    {
        if (pid > 0) {
            kill(pid, SIGTERM);
            waitpid(pid, nullptr, 0);
        }
    }
};

}  // namespace

// The plain program on a real X server, driven by xdotool as a user drives it: the
// Connect button clicked, a message typed and sent with Return, F12 pressed. The X
// server's own capture of the window equals the F12 snapshot pixel for pixel; the
// capture is kept under the build tree (artifacts/serialchat_window.bmp) showing the
// conversation. The tools are part of the build's set-up: a missing one fails the test.
TEST_F(SerialChat, RealWindowOnAnXServer)
{
    for (const char *tool : {"Xvfb", "xdotool", "import", "socat"}) {
        int code;
        RunCommand(std::string("command -v ") + tool + " >/dev/null", &code);
        ASSERT_EQ(code, 0) << tool << " is needed (scripts/setup.sh installs it)";
    }
    lvXvfb x;
    ASSERT_TRUE(x.Start()) << "Xvfb did not start";
    lvSocat socat;
    ASSERT_TRUE(socat.Start()) << socat.log;
    for (int i = 0; i < 2; i++)
        WriteFile(dirs[i] + "/Settings.dat", Settings(i ? "Bea" : "Ada", socat.devices[i], dirs[i]));
    // SDL's X11 start-up leaves the desktop bus library's connection (and what it holds)
    // behind at exit: a sanitizer build checks this run's memory use but not its leaks;
    // the offscreen runs of the other tests check those.
    lvInstance a, b;
    // No arguments: the window is the front end, and service mode connects by itself.
    a.Spawn(dirs[0], std::string(LV_BUILD_DIR) + "/examples/serialchat", {}, "",
            {{"DISPLAY", x.display}, {"SDL_VIDEODRIVER", "x11"}, {"ASAN_OPTIONS", "detect_leaks=0"}});
    int code;
    std::string window = x.Client("timeout 20 xdotool search --sync --limit 1 --name '^Serial chat$'", &code);
    ASSERT_EQ(code, 0) << window << a.Output();
    window = window.substr(0, window.find('\n'));
    b.Start(dirs[1], "connect\nwaitmsgs 1\nsay Hi Ada, from the console\nquit\n");
    ASSERT_TRUE(a.WaitFor("status: Connected to Bea", 20)) << a.Output();
    x.Client("xdotool windowfocus --sync " + window + " type --delay 30 'Hello [b]Bea[/b]'", &code);
    ASSERT_EQ(code, 0);
    x.Client("xdotool key Return", &code);
    EXPECT_EQ(code, 0);
    ASSERT_TRUE(b.WaitFor("chat: Ada: Hello [b]Bea[/b]\n", 20)) << b.Output() << a.Output();
    ASSERT_TRUE(b.WaitEnd(20)) << b.Output();
    ASSERT_TRUE(a.WaitFor("status: Bea left the conversation.", 20)) << a.Output();
    x.Client("xdotool key F12", &code);
    EXPECT_EQ(code, 0);
    ASSERT_TRUE(a.WaitFor("status: Snapshot saved as " + dirs[0] + "/serialchat.bmp", 20)) << a.Output();
    // The window now shows what the snapshot holds; the X server's picture of it:
    std::string artifacts = std::string(LV_BUILD_DIR) + "/artifacts";
    mkdir(artifacts.c_str(), 0755);
    std::string capture = artifacts + "/serialchat_window.bmp";
    unlink(capture.c_str());
    // The window is presented a moment after the save: captures are taken until one
    // equals the snapshot (or the bound passes), the last one kept.
    lvPicture saved = ReadBmp(dirs[0] + "/serialchat.bmp"), seen;
    ASSERT_EQ(saved.width, 640);
    ASSERT_EQ(saved.height, 480);
    size_t differ = 0;
    for (auto end = Clock::now() + std::chrono::seconds(10);;) {
        std::string said = x.Client("import -window " + window + " BMP3:'" + capture + "'", &code);
        ASSERT_EQ(code, 0) << said;
        seen = ReadBmp(capture);
        ASSERT_EQ(seen.width, 640);
        ASSERT_EQ(seen.height, 480);
        differ = 0;
        for (size_t i = 0; i < seen.pixels.size(); i++) differ += seen.pixels[i] != saved.pixels[i];
        if (differ == 0 || Clock::now() > end) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    EXPECT_EQ(differ, 0u) << "pixels differ between the X server's window and the F12 snapshot";
    // The conversation is what the picture shows: the own line green, the peer's blue.
    EXPECT_GT(seen.CountColour(0x80FF80, 0, 380), 50u);
    EXPECT_GT(seen.CountColour(0x80C0FF, 0, 380), 30u);
    x.Client("xdotool key ctrl+c", &code);
    EXPECT_EQ(code, 0);
    EXPECT_TRUE(a.WaitEnd(20)) << a.status << a.Output();
}

// Two plain programs, each a window on a real X server, no arguments but their
// Settings.dat (B in service mode connects by itself, A's Connect is clicked): a message
// crosses, "Send file..." opens the desktop's file dialog in both, the 100 KB file whose
// full path A types into its dialog arrives whole, and B's dialog refused with Escape
// leaves a line in B's conversation. The windows lie side by side, so every click lands
// in the window meant.
TEST_F(SerialChat, TwoRealWindowsSendAFileThroughTheFileDialog)
{
    for (const char *tool : {"Xvfb", "xdotool", "import", "socat"}) {
        int code;
        RunCommand(std::string("command -v ") + tool + " >/dev/null", &code);
        ASSERT_EQ(code, 0) << tool << " is needed (scripts/setup.sh installs it)";
    }
    ASSERT_TRUE(FileExists(std::string(LV_BUILD_DIR) + "/examples/lv_gtkdialogs.so"));
    lvXvfb x;
    x.pid = StartXvfb(&x.display, "1400x600x24");
    ASSERT_GT(x.pid, 0) << "Xvfb did not start";
    lvSocat socat;
    ASSERT_TRUE(socat.Start()) << socat.log;
    std::string photo = EveryByteFile(100000);
    WriteFile(dirs[0] + "/photo.bin", photo);
    WriteFile(dirs[0] + "/Settings.dat", "NAME Ada\r\nPORT " + socat.devices[0] + "\r\nBAUD 115200\r\nSTOR " + dirs[0] +
                                             "\r\nRECE leave\r\nSERV 0\r\n");
    WriteFile(dirs[1] + "/Settings.dat", Settings("Bea", socat.devices[1], dirs[1]));
    lvInstance inst[2];
    std::string window[2];
    int code;
    for (int i = 0; i < 2; i++) {
        inst[i].Spawn(dirs[i], std::string(LV_BUILD_DIR) + "/examples/serialchat", {}, "",
                      {{"DISPLAY", x.display}, {"SDL_VIDEODRIVER", "x11"}, {"ASAN_OPTIONS", "detect_leaks=0"}});
        std::string pid = std::to_string(inst[i].pid);
        window[i] = x.Client("timeout 20 xdotool search --sync --all --limit 1 --pid " + pid + " --name '^Serial chat$'", &code);
        ASSERT_EQ(code, 0) << window[i] << inst[i].Output();
        window[i] = window[i].substr(0, window[i].find('\n'));
        // xdotool's search takes any condition unless told all: the pid alone matched B's
        // window as A's, and A's clicks went to B.
        x.Client("xdotool windowmove --sync " + window[i] + " " + std::to_string(i * 700) + " 0", &code);
        ASSERT_EQ(code, 0);
    }
    lvInstance &a = inst[0], &b = inst[1];
    // The buttons lie in a row at y 441: Connect at x 78, Send file... at 228.
    auto click = [&](int i, int xpos) {
        int c;
        x.Client("xdotool mousemove --window " + window[i] + " " + std::to_string(xpos) + " 441 click 1", &c);
        return c;
    };
    ASSERT_TRUE(b.WaitFor("status: Waiting for the peer", 20)) << b.Output();
    // A window just mapped may not take a click yet: Connect is clicked until A answers
    // (it says it waits or is connected at once), a bounded number of times.
    for (int tries = 0; tries < 10 && a.Output().find("status: ") == std::string::npos; tries++) {
        ASSERT_EQ(click(0, 78), 0);
        a.WaitFor("status: ", 1);
    }
    ASSERT_TRUE(a.WaitFor("status: Connected to Bea", 20)) << a.Output();
    ASSERT_TRUE(b.WaitFor("status: Connected to Ada", 20)) << b.Output();
    x.Client("xdotool windowfocus --sync " + window[0] + " type --delay 30 'Hello Bea'", &code);
    ASSERT_EQ(code, 0);
    x.Client("xdotool key Return", &code);
    ASSERT_TRUE(b.WaitFor("chat: Ada: Hello Bea\n", 20)) << b.Output() << a.Output();
    // The dialog belongs to the process that opened it; keys sent before it is mapped
    // are lost (GTK drops events for a widget not yet realized), so it is waited for
    // visible.
    auto dialog = [&](int i) {
        int c;
        std::string id = x.Client("timeout 20 xdotool search --sync --all --limit 1 --pid " + std::to_string(inst[i].pid) +
                                      " --onlyvisible --name '^Send file$'", &c);
        return c == 0 ? id.substr(0, id.find('\n')) : std::string();
    };
    ASSERT_EQ(click(0, 228), 0);
    std::string chooser = dialog(0);
    ASSERT_FALSE(chooser.empty()) << a.Output();
    // ctrl+L opens the location field, so the path goes there and not into the search.
    // The field is realized a moment after ctrl+L and GTK drops the keys that reach it
    // before: the path is typed again (ctrl+L selects what the field holds) until the
    // dialog has closed on Return, a bounded number of times.
    bool chosen = false;
    for (int tries = 0; tries < 10 && !chosen; tries++) {
        x.Client("xdotool windowfocus --sync " + chooser + " key ctrl+l type --delay 5 '" + dirs[0] + "/photo.bin'",
                 &code);
        ASSERT_EQ(code, 0);
        x.Client("xdotool key --window " + chooser + " Return", &code);
        ASSERT_EQ(code, 0);
        chosen = a.WaitFor("status: Sending photo.bin", 1);
    }
    ASSERT_TRUE(chosen) << a.Output();
    ASSERT_TRUE(b.WaitFor("chat: * Received photo.bin (100000 bytes) from Ada.\n", 60)) << b.Output() << a.Output();
    ASSERT_TRUE(a.WaitFor("chat: * Sent photo.bin (100000 bytes).\n", 20)) << a.Output();
    EXPECT_TRUE(ReadFile(dirs[1] + "/photo.bin") == photo) << "the received file differs";
    EXPECT_FALSE(FileExists(dirs[1] + "/photo.bin.part"));
    // B's dialog opens too and is refused: the conversation says so, nothing is sent.
    ASSERT_EQ(click(1, 228), 0);
    chooser = dialog(1);
    ASSERT_FALSE(chooser.empty()) << b.Output();
    x.Client("xdotool windowfocus --sync " + chooser + " key Escape", &code);
    ASSERT_EQ(code, 0);
    ASSERT_TRUE(b.WaitFor("chat: * No file was chosen; nothing is sent.\n", 20)) << b.Output();
    EXPECT_EQ(b.Output().find("status: Sending"), std::string::npos) << b.Output();
    x.Client("xdotool windowfocus --sync " + window[0] + " key ctrl+c", &code);
    EXPECT_TRUE(a.WaitEnd(20)) << a.status << a.Output();
}

// Closing the window while the END of a file still waits for its ACK: the relay holds
// the peer's ACKs until A's BYE passes, then hands them to A. The first is END's, not the
// BYE's: the file counts as sent, and the peer hears the goodbye.
TEST_F(SerialChat, QuitWhileTheLastAckIsOnItsWay)
{
    lvRelay relay;
    ASSERT_TRUE(relay.Open());
    // Whichever comes first at the relay, the ACK of END reaches A after A's BYE.
    std::atomic<int> endSeq{-1};
    std::atomic<bool> byePassed{false}, endAckAfterBye{false};
    std::string acks;  // only the rule touches it
    relay.SetRule([&](int direction, const std::string &frame) {
        int type = (unsigned char)frame[1], seq = (unsigned char)frame[2];
        if (direction == 0 && type == 5) endSeq = seq;
        if (direction == 1 && type == 6 && endSeq >= 0) {
            if (!byePassed) {
                acks += frame;
                return std::string();
            }
            if (seq == endSeq) endAckAfterBye = true;
        }
        if (direction == 0 && type == 9 && !byePassed) {
            byePassed = true;
            if (acks.size() >= 6 && (unsigned char)acks[2] == endSeq) endAckAfterBye = true;
            relay.InjectFromRule(0, acks);
        }
        return frame;
    });
    relay.Start();
    WriteFile(dirs[0] + "/small.bin", EveryByteFile(10000));
    for (int i = 0; i < 2; i++) WriteFile(dirs[i] + "/Settings.dat", Settings(i ? "Bea" : "Ada", relay.Path(i), dirs[i]));
    // A is the window, closed once its END has passed the relay.
    lvInstance a, b;
    a.StartDriven(dirs[0], "waitfile connected;" + Click(2) + "waitfile endpassed;close",
                  dirs[0] + "/small.bin\n");
    b.Start(dirs[1], "connect\nwaitbye\nquit\n");
    ASSERT_TRUE(a.WaitFor("status: Connected to Bea", 20)) << a.Output();
    Signal(dirs[0], "connected");
    auto end = Clock::now() + std::chrono::seconds(30);
    while (endSeq < 0 && Clock::now() < end) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_GE(endSeq, 0) << a.Output();
    Signal(dirs[0], "endpassed");
    auto closed = Clock::now();
    ASSERT_TRUE(a.WaitEnd(20)) << a.Output();
    ASSERT_TRUE(b.WaitEnd(20)) << b.Output();
    EXPECT_TRUE(endAckAfterBye);
    EXPECT_NE(a.Output().find("chat: * Sent small.bin (10000 bytes)."), std::string::npos) << a.Output();
    EXPECT_EQ(a.Output().find("failed"), std::string::npos) << a.Output();
    EXPECT_NE(b.Output().find("status: Ada left the conversation."), std::string::npos) << b.Output();
    EXPECT_EQ(b.Output().find("The peer does not answer."), std::string::npos) << b.Output();
    EXPECT_LT(Clock::now() - closed, std::chrono::seconds(10));
    EXPECT_EQ(ReadFile(dirs[1] + "/small.bin"), EveryByteFile(10000));
}

// Named message ports between two processes: a forked child owns a port and reports
// every message its listener posts; the parent claims, sends, probes and misbehaves.
#include "platform/lvplatform.h"
#include "platform/lvplatform_events.h"
#include "platform/lvplatform_ports.h"
#include "base/lverrors.h"
#include "ui/ports.h"

#include <gtest/gtest.h>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstring>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// A child that owns a port: it writes its CreateMessagePort code, then each posted
// block (name NUL text NUL) as one line "name|text", until killed.
struct PortOwner {
    pid_t pid = -1;
    int pipeFd = -1;
    int created = -1;
};

PortOwner StartOwner(const char *name)
{
    int fds[2];
    EXPECT_EQ(pipe(fds), 0);
    PortOwner owner;
    owner.pid = fork();
    if (owner.pid == 0) {
        close(fds[0]);
        InitPlatform();
        InitSystemEvents();
        int code = CreateMessagePort(name);
        std::string first = std::to_string(code) + "\n";
        if (write(fds[1], first.data(), first.size()) < 0) _exit(2);
        for (;;) {
            lvSystemEvent event;
            if (GetSystemEvent(&event)) {
                const char *block = (const char *)event.data2;
                std::string line = std::to_string(event.type) + ":" + block + "|" + (block + strlen(block) + 1) + "\n";
                if (write(fds[1], line.data(), line.size()) < 0) _exit(2);
                FreeMemory(event.data2 ? (void *)event.data2 : nullptr);
            } else {
                usleep(2000);
            }
        }
    }
    close(fds[1]);
    owner.pipeFd = fds[0];
    std::string line;
    char c;
    while (read(owner.pipeFd, &c, 1) == 1 && c != '\n') line += c;
    owner.created = atoi(line.c_str());
    return owner;
}

// The next line the owner reports, "" when none within the time.
std::string NextReport(const PortOwner &owner, int timeoutMs)
{
    std::string line;
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < end) {
        struct pollfd pfd = {owner.pipeFd, POLLIN, 0};
        if (poll(&pfd, 1, 50) <= 0) continue;
        char c;
        if (read(owner.pipeFd, &c, 1) != 1) return line;
        if (c == '\n') return line;
        line += c;
    }
    return "";
}

void Stop(PortOwner &owner)
{
    if (owner.pid > 0) {
        kill(owner.pid, SIGKILL);
        waitpid(owner.pid, nullptr, 0);
    }
    if (owner.pipeFd >= 0) close(owner.pipeFd);
    owner = PortOwner{};
}

class Ports : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        static char dir[] = "/tmp/lv_ports_XXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        setenv("XDG_RUNTIME_DIR", dir, 1);
        InitPlatform();
        InitSystemEvents();
    }
    void TearDown() override
    {
        FreeMessagePort();
        SetPortSendTimeout(0);
        SetPortStopCheck(nullptr);
    }
};

TEST_F(Ports, MessagesClaimsAndRefusals)
{
    PortOwner owner = StartOwner("p");
    ASSERT_EQ(owner.created, 0);
    // The name is taken; unknown names and one's own are refused.
    EXPECT_EQ(CreateMessagePort("p"), ERR_PORTNOTAVAIL);
    const char *args[] = {"a b", "c"};
    std::string text = BuildPortMessage("cmd", args, 2);
    EXPECT_EQ(text, "cmd \"a b\" \"c\"");
    EXPECT_EQ(SendPortMessage("p", text.c_str()), 0);
    EXPECT_EQ(NextReport(owner, 3000), "14:p|cmd \"a b\" \"c\"");
    EXPECT_EQ(SendPortMessage("nobody", "x"), ERR_FINDPORT);
    ASSERT_EQ(CreateMessagePort("mine"), 0);
    EXPECT_EQ(SendPortMessage("mine", "x"), ERR_WRONGUSAGE);
    // The probe is answered but never posted: the next report is the next real message.
    EXPECT_EQ(SendPortMessage("p", "__TESTPORT"), 0);
    EXPECT_EQ(SendPortMessage("p", "after"), 0);
    EXPECT_EQ(NextReport(owner, 3000), "14:p|after");
    Stop(owner);
}

TEST_F(Ports, AKilledOwnersNameIsFreeAgain)
{
    PortOwner owner = StartOwner("reclaim");
    ASSERT_EQ(owner.created, 0);
    EXPECT_EQ(CreateMessagePort("reclaim"), ERR_PORTNOTAVAIL);
    Stop(owner);  // SIGKILL: its socket file stays behind
    EXPECT_EQ(CreateMessagePort("reclaim"), 0);
    // Freed, the name passes on (no port is held while forking: the child would inherit it).
    FreeMessagePort();
    PortOwner second = StartOwner("reclaim");
    EXPECT_EQ(second.created, 0);
    EXPECT_EQ(CreateMessagePort("reclaim"), ERR_PORTNOTAVAIL);
    Stop(second);
}

TEST_F(Ports, AStoppedReceiverCostsTheBoundOnly)
{
    PortOwner owner = StartOwner("frozen");
    ASSERT_EQ(owner.created, 0);
    kill(owner.pid, SIGSTOP);
    int status = 0;
    ASSERT_EQ(waitpid(owner.pid, &status, WUNTRACED), owner.pid);  // every thread of it is stopped
    ASSERT_TRUE(WIFSTOPPED(status));
    SetPortSendTimeout(500);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(SendPortMessage("frozen", "hello"), ERR_FINDPORT);
    auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, std::chrono::milliseconds(400));
    EXPECT_LT(took, std::chrono::milliseconds(3000));
    kill(owner.pid, SIGCONT);
    Stop(owner);
}

// Raised on the third look, so the send is already waiting on the frozen receiver.
static std::atomic<int> stopLooks{0};
static int StopOnThirdLook(void)
{
    return ++stopLooks >= 3;
}

TEST_F(Ports, AStopRequestEndsAWaitingSendWithinATenthOfASecondStep)
{
    PortOwner owner = StartOwner("frozen2");
    ASSERT_EQ(owner.created, 0);
    kill(owner.pid, SIGSTOP);
    int status = 0;
    ASSERT_EQ(waitpid(owner.pid, &status, WUNTRACED), owner.pid);
    SetPortSendTimeout(0);  // the full 5 s bound
    stopLooks = 0;
    SetPortStopCheck(StopOnThirdLook);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(SendPortMessage("frozen2", "hello"), ERR_USERABORT);
    auto took = std::chrono::steady_clock::now() - start;
    EXPECT_LT(took, std::chrono::milliseconds(2500));
    EXPECT_GE(stopLooks.load(), 3);
    // A receiver that answers is not aborted by a check that says no.
    SetPortStopCheck([]() { return 0; });
    kill(owner.pid, SIGCONT);
    EXPECT_EQ(SendPortMessage("frozen2", "awake"), 0);
    Stop(owner);
}

// Raw bytes to a port's socket; the answer byte, or -1 when none came.
int SendRaw(const char *name, const std::string &bytes)
{
    char stem[41];
    PortFileStem(name, stem);
    std::string path = std::string(MessagePortFolder()) + "/" + stem + ".sock";
    struct sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
    int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    if (connect(fd, (struct sockaddr *)&address, sizeof(address)) != 0) {
        close(fd);
        return -2;
    }
    if (send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) < 0) {
        close(fd);
        return -3;
    }
    shutdown(fd, SHUT_WR);
    unsigned char answer;
    int got = read(fd, &answer, 1) == 1 ? answer : -1;
    close(fd);
    return got;
}

std::string Wire(uint32_t tag, uint32_t size, const std::string &data)
{
    std::string out((const char *)&tag, 4);
    out.append((const char *)&size, 4);
    return out + data;
}

TEST(PortData, CheckOfOneBlock)
{
    struct Case {
        std::string data;
        int verdict;
    } cases[] = {
        {std::string("p\0hi\0", 5), 1},          {std::string("p\0\0", 3), 1},  // an empty text is a text
        {std::string("p\0__TESTPORT\0", 13), 2}, {std::string("q\0hi\0", 5), 0},
        {std::string("p\0hi", 4), 0},             {std::string("p\0", 2), 0},
        {std::string("p\0h\0i\0", 7), 0},        {std::string("", 0), 0},
        {std::string("\0", 1), 0},                {std::string("pp\0x\0", 5), 0},
    };
    for (const Case &c : cases) EXPECT_EQ(CheckPortData(c.data.data(), c.data.size(), "p"), c.verdict) << c.data.size();
}

TEST_F(Ports, MalformedWireDataIsDropped)
{
    PortOwner owner = StartOwner("strict");
    ASSERT_EQ(owner.created, 0);
    std::string good("strict\0hi\0", 10);
    struct Case {
        const char *what;
        std::string bytes;
    } cases[] = {
        {"wrong tag", Wire(0x12345678u, 10, good)},
        {"size beyond the limit", Wire(LV_PORT_TAG, LV_PORT_MAXDATA + 1, good)},
        {"short data", Wire(LV_PORT_TAG, 10, good.substr(0, 6))},
        {"no second terminator", Wire(LV_PORT_TAG, 9, std::string("strict\0hi", 9))},
        {"another port's name", Wire(LV_PORT_TAG, 10, std::string("strict2\0h\0", 10))},
        {"one text only", Wire(LV_PORT_TAG, 7, std::string("strict\0", 7))},
        {"header cut short", std::string("\xAF\x09", 2)},
    };
    for (const Case &c : cases) EXPECT_EQ(SendRaw("strict", c.bytes), 0) << c.what;
    EXPECT_EQ(SendRaw("strict", Wire(LV_PORT_TAG, 10, good)), 1);
    EXPECT_EQ(NextReport(owner, 3000), "14:strict|hi");  // only the well-formed one arrived
    Stop(owner);
}

}  // namespace

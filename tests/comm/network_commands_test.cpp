// The network library's commands called from assembled chunks: the command table by
// name, argument counts and argument errors, ReceiveData with a script callback, and
// the adapter attribute of connections. Peers are loopback sockets of the test.
#include "comm/lib_network.h"
#include "comm/network.h"
#include "tests/comm/network_support.h"
#include "runtime/plugin.h"
#include "runtime/vfile.h"
#include "tests/runtime/rtcmds_util.h"

#include <string>
#include <vector>

namespace {

class NetworkCommands : public RtCmdsTest {
protected:
    void SetUp() override
    {
        KeepOnlineTestLocal();
        RtCmdsTest::SetUp();
        ASSERT_EQ(OpenNetworkCommands(L), 0);
    }
    void TearDown() override
    {
        CloseNetworkCommands(L, 1);
        FreeObjectTypes();
        RtCmdsTest::TearDown();
    }
    // Calls the command with operands written as assembler constants; keeps `results`.
    int Call(const std::string &command, const std::vector<std::string> &operands, int results = 0)
    {
        SetStackTop(L, 0);
        ResetVMRun();
        std::string text = "getglobal r0 \"" + command + "\"\n";
        for (size_t i = 0; i < operands.size(); i++)
            text += "loadk r" + std::to_string(i + 1) + " " + operands[i] + "\n";
        std::string in = std::to_string(operands.size() + 1), out = std::to_string(results + 1);
        text += "call r0 " + in + " " + out + "\nreturn r0 " + out + "\n";
        return Run(text);
    }
    std::string Message(int code)
    {
        char text[512];
        GetErrorText(code, text, sizeof text);
        return text;
    }
};

TEST_F(NetworkCommands, TableInTheLibrarysOrder)
{
    const char *names[] = {"OpenConnection", "CloseConnection", "CreateServer", "CloseServer", "SendData",
                           "ReceiveData", "GetConnectionIP", "GetConnectionPort", "GetHostName", "ToIP",
                           "ToHostName", "DownloadFile", "UploadFile", "SetNetworkTimeout", "GetLocalIP",
                           "GetLocalPort", "CreateUDPObject", "CloseUDPObject", "SendUDPData", "ReceiveUDPData",
                           "IsOnline", "GetMACAddress", "GetConnectionProtocol", "GetLocalProtocol",
                           "SetNetworkProtocol", "ResolveHostName", "GetLocalInterfaces"};
    const lvCommandEntry *table = GetNetworkCommands();
    size_t i = 0;
    for (; table[i].name; i++) {
        ASSERT_LT(i, sizeof names / sizeof names[0]);
        EXPECT_STREQ(table[i].name, names[i]);
    }
    EXPECT_EQ(i, sizeof names / sizeof names[0]);
    bool ipv6 = false, adapter = false;
    for (const lvConstantEntry *c = GetNetworkConstants(); c->name; c++) {
        ipv6 = ipv6 || (std::string(c->name) == "IPV6" && c->number == 2);
        adapter = adapter || (std::string(c->name) == "ATTRADAPTER" && c->number == 87);
    }
    EXPECT_TRUE(ipv6 && adapter);
}

TEST_F(NetworkCommands, ArgumentCountsAreCheckedFirst)
{
    struct Row {
        const char *command;
        int min, max;
    };
    const Row rows[] = {
        {"openconnection", 3, 4}, {"closeconnection", 1, 1}, {"createserver", 1, 5}, {"closeserver", 1, 1},
        {"senddata", 2, 2}, {"receivedata", 2, 5}, {"getconnectionip", 1, 2}, {"getlocalport", 1, 2},
        {"tohostname", 1, 1}, {"toip", 1, 2}, {"resolvehostname", 1, 1}, {"setnetworktimeout", 1, 1},
        {"setnetworkprotocol", 1, 1}, {"createudpobject", 1, 5}, {"closeudpobject", 1, 1},
        {"sendudpdata", 2, 4}, {"receiveudpdata", 1, 2},
    };
    for (const Row &row : rows) {
        std::vector<std::string> few((size_t)row.min - 1, "\"x\""), many((size_t)row.max + 1, "\"x\"");
        if (row.min > 0) {
            EXPECT_EQ(Call(row.command, few), ERR_MISSINGPARAMTR) << row.command;
        }
        EXPECT_EQ(Call(row.command, many), ERR_TOOMANYARGS) << row.command;
    }
    for (const char *none : {"gethostname", "getmacaddress", "isonline"})
        EXPECT_EQ(Call(none, {"1"}), ERR_TOOMANYARGS) << none;
    // IsOnline never fails: here its target is a closed loopback port.
    ASSERT_EQ(Call("isonline", {}, 1), 0);
    EXPECT_EQ(Num(-1), 0);
    EXPECT_EQ(Call("getlocalinterfaces", {"0", "0"}), ERR_TOOMANYARGS);
}

TEST_F(NetworkCommands, ArgumentAndLookupErrors)
{
    struct Case {
        const char *command;
        std::vector<std::string> operands;
        int code;
    };
    const Case cases[] = {
        {"setnetworktimeout", {"-1"}, ERR_WRONGUSAGE},
        {"openconnection", {"1", "\"127.0.0.1\"", "0"}, ERR_WRONGUSAGE},
        {"openconnection", {"1", "\"127.0.0.1\"", "70000"}, ERR_WRONGUSAGE},
        {"openconnection", {"1", "\"127.0.0.1\"", "80", "5"}, ERR_TABEXPECTED},
        {"closeconnection", {"5"}, ERR_FINDCLIENT},
        {"closeserver", {"5"}, ERR_FINDSERVER},
        {"closeudpobject", {"5"}, ERR_FINDUDPOBJECT},
        {"receivedata", {"5", "0"}, ERR_FINDCLIENT},
        {"receivedata", {"5", "3"}, ERR_WRONGUSAGE},
        {"receivedata", {"5", "1", "0"}, ERR_WRONGUSAGE},
        {"receivedata", {"5", "2", "\"notafunction\""}, ERR_FUNCEXPECTED},
        {"senddata", {"5", "\"x\""}, ERR_FINDCLIENT},
        {"toip", {"\"localhost\"", "0"}, ERR_WRONGUSAGE},
        {"createserver", {"1", "65536"}, ERR_WRONGUSAGE},
        {"createudpobject", {"1", "-1"}, ERR_WRONGUSAGE},
        {"createudpobject", {"nil", "0", "\"*\"", "1"}, ERR_WRONGUSAGE},
        {"getconnectionip", {"5", "12"}, ERR_WRONGUSAGE},  // the kind is checked first
        {"getconnectionip", {"5"}, ERR_FINDCLIENT},
        {"downloadfile", {"\"http://127.0.0.1:99999/\""}, ERR_BADURL},
        {"downloadfile", {"\"gopher://127.0.0.1/\""}, ERR_UNKPROTOCOL},
    };
    for (const Case &k : cases) EXPECT_EQ(Call(k.command, k.operands), k.code) << k.command;
    EXPECT_EQ(Call("closeconnection", {"5"}), ERR_FINDCLIENT);
    EXPECT_NE(Message(ERR_FINDCLIENT).find("5"), std::string::npos) << Message(ERR_FINDCLIENT);
    EXPECT_EQ(Call("receivedata", {"5", "2", "\"notafunction\""}), ERR_FUNCEXPECTED);
    EXPECT_NE(Message(ERR_FUNCEXPECTED).find("3"), std::string::npos) << Message(ERR_FUNCEXPECTED);
}

TEST_F(NetworkCommands, ReceiveDataWithAScriptCallback)
{
    TestListener listener;
    ASSERT_EQ(Call("openconnection", {"1", "\"127.0.0.1\"", std::to_string(listener.port)}), 0);
    int peer = listener.Accept();
    ASSERT_GE(peer, 0);
    ASSERT_TRUE(WriteAll(peer, "abcdef"));
    close(peer);
    // The callback keeps what it saw in globals; its table has action, size, total, data
    // and the user data.
    std::string text = R"(
    getglobal r0 "receivedata"
    loadk     r1 1
    loadk     r2 0
    loadk     r3 1
    closure   r4 seen
    loadk     r5 "mine"
    call      r0 6 4
    return    r0 4
.function seen
.params 1
    gettable  r1 r0 "data"
    setglobal r1 "gotdata"
    gettable  r1 r0 "userdata"
    setglobal r1 "gotuser"
    gettable  r1 r0 "total"
    setglobal r1 "gottotal"
    gettable  r1 r0 "action"
    setglobal r1 "gotaction"
    return    r0 1
.end
)";
    SetStackTop(L, 0);
    ResetVMRun();
    ASSERT_EQ(Run(text), 0);
    EXPECT_EQ(Str(1), "");  // the callback took the data
    EXPECT_EQ(Num(2), 6);
    EXPECT_EQ(Num(3), 1);
    auto global = [&](const char *name) {
        PushString(L, name);
        GetTableValueRaw(L, LV_GLOBALSINDEX);
        std::string out = IsStringOrNumber(L, -1) ? ValueToString(L, -1) : "";
        SetStackTop(L, GetStackTop(L) - 1);
        return out;
    };
    EXPECT_EQ(global("gotdata"), "abcdef");
    EXPECT_EQ(global("gotuser"), "mine");
    EXPECT_EQ(global("gottotal"), "6");
    EXPECT_EQ(global("gotaction"), "0");

    // ATTRADAPTER names the adapter; other attributes are unknown.
    lvObjectType *clients = FindObjectType(LV_NET_CLIENT);
    ASSERT_NE(clients, nullptr);
    SetStackTop(L, 0);
    EXPECT_EQ(clients->attribute(L, LV_NET_ATTRADAPTER, {1, nullptr}), 1);
    EXPECT_EQ(Str(-1), "inbuilt");
    EXPECT_EQ(clients->attribute(L, 3, {1, nullptr}), ERR_UNKNOWNATTR);
    EXPECT_EQ(clients->attribute(L, LV_NET_ATTRADAPTER, {2, nullptr}), ERR_FINDCLIENT);
}

TEST_F(NetworkCommands, ACallbackAnsweringOneAborts)
{
    TestListener listener;
    ASSERT_EQ(Call("openconnection", {"1", "\"127.0.0.1\"", std::to_string(listener.port)}), 0);
    int peer = listener.Accept();
    ASSERT_TRUE(WriteAll(peer, "x\n"));
    std::string text = R"(
    getglobal r0 "receivedata"
    loadk     r1 1
    loadk     r2 2
    closure   r3 stop
    call      r0 4 4
    return    r0 4
.function stop
.params 1
    loadk     r1 1
    return    r1 2
.end
)";
    SetStackTop(L, 0);
    ResetVMRun();
    EXPECT_EQ(Run(text), ERR_USERABORT);
    close(peer);
}

// The commands that answer tables of addresses: rows from index 0 with their fields.
TEST_F(NetworkCommands, AddressTables)
{
    const lvFakeInterface rows[] = {{"eth7", "192.168.3.4", 1, 0, {}}, {"eth7", "2001:db8::9", 1, 0, {}}};
    SetFakeInterfaces(rows, 2);
    auto field = [&](const char *list, int index, const char *name) {
        std::string text = "getglobal r0 \"" + std::string(list) + "\"\ngettable r0 r0 " + std::to_string(index) +
                           "\ngettable r0 r0 \"" + name + "\"\nreturn r0 2\n";
        SetStackTop(L, 0);
        ResetVMRun();
        int code = Run(text);
        if (code == ERR_FIELDINIT) return std::string("none");  // reading a missing field
        EXPECT_EQ(code, 0);
        return IsStringOrNumber(L, -1) ? std::string(ValueToString(L, -1)) : std::string("?");
    };
    auto keep = [&](const char *command, const char *argument, const char *global) {
        std::string text = "getglobal r0 \"" + std::string(command) + "\"\n" +
                           (argument ? "loadk r1 " + std::string(argument) + "\ncall r0 2 2\n" : "call r0 1 2\n") +
                           "setglobal r0 \"" + global + "\"\nreturn r0 1\n";
        SetStackTop(L, 0);
        ResetVMRun();
        ASSERT_EQ(Run(text), 0) << command;
    };
    keep("getlocalinterfaces", nullptr, "ifs");
    EXPECT_EQ(field("ifs", 0, "name"), "eth7");
    EXPECT_EQ(field("ifs", 0, "protocol"), "1");
    EXPECT_EQ(field("ifs", 1, "address"), "2001:db8::9");
    EXPECT_EQ(field("ifs", 1, "protocol"), "2");
    EXPECT_EQ(field("ifs", 2, "name"), "none");
    keep("resolvehostname", "\"127.0.0.1\"", "found");
    EXPECT_EQ(field("found", 0, "address"), "127.0.0.1");
    EXPECT_EQ(field("found", 0, "protocol"), "1");
    SetFakeInterfaces(nullptr, 0);
}

// A callback that closes its own connection: the receive ends with what it had and the
// connection goes once the command returns (no use of a freed record: ASan runs this).
TEST_F(NetworkCommands, ACallbackMayCloseItsConnection)
{
    TestListener listener;
    ASSERT_EQ(Call("openconnection", {"1", "\"127.0.0.1\"", std::to_string(listener.port)}), 0);
    int peer = listener.Accept();
    ASSERT_TRUE(WriteAll(peer, std::string(20000, 'c')));
    std::string text = R"(
    getglobal r0 "receivedata"
    loadk     r1 1
    loadk     r2 1
    loadk     r3 30000
    closure   r4 closeit
    call      r0 5 4
    return    r0 4
.function closeit
.params 1
    getglobal r1 "closeconnection"
    loadk     r2 1
    call      r1 2 1
    return    r0 1
.end
)";
    SetStackTop(L, 0);
    ResetVMRun();
    ASSERT_EQ(Run(text), 0);
    EXPECT_GT(Num(2), 0);
    EXPECT_LT(Num(2), 30000);
    EXPECT_EQ(Call("closeconnection", {"1"}), ERR_FINDCLIENT);
    close(peer);
}

// A connection through the echoing network-adapter plug-in: the tags it was given, its
// addresses, sends and receives through it (its 1422 and 1423 mapped), no data events.
class NetworkAdapterCommands : public NetworkCommands {
protected:
    void SetUp() override
    {
        NetworkCommands::SetUp();
        InstallPluginManager();
        SetPluginScriptState(L);
        lvPluginNode *node = nullptr;
        ASSERT_EQ(LoadPluginByName(L, LV_TESTPLUGIN_DIR "/netadapter.lvp", 0, &node), 0);
    }
    void TearDown() override
    {
        CloseNetworkCommands(L, 1);
        FreePluginLibraries(L);
        ClosePlugins();
        SetAdapterHooks(nullptr);
        NetworkCommands::TearDown();
    }
};

TEST_F(NetworkAdapterCommands, TheAdapterCarriesTheConnection)
{
    std::string open = R"(
    getglobal r0 "openconnection"
    loadk     r1 1
    loadk     r2 "echo.adapter"
    loadk     r3 80
    newtable  r4 0 2
    settable  r4 "ssl" 1
    newtable  r5 0 1
    settable  r5 "colour" "red"
    settable  r4 "usertags" r5
    call      r0 5 1
    return    r0 1
)";
    SetStackTop(L, 0);
    ResetVMRun();
    ASSERT_EQ(Run(open), 0);
    ASSERT_EQ(Call("getconnectionip", {"1"}, 1), 0);
    EXPECT_EQ(Str(-1), "1=1 2=10000 4=set 15=0 21=set");
    ASSERT_EQ(Call("getconnectionport", {"1"}, 1), 0);
    EXPECT_EQ(Num(-1), 4242);
    ASSERT_EQ(Call("getconnectionprotocol", {"1"}, 1), 0);
    EXPECT_EQ(Num(-1), 0);  // IPAUTO for adapter connections
    ASSERT_EQ(Call("getlocalip", {"1"}, 1), 0);
    EXPECT_EQ(Str(-1), "echo");

    // Nothing there yet (the adapter's 1422): a receive without waiting returns at once.
    ASSERT_EQ(Call("receivedata", {"1", "0", "0"}, 3), 0);
    EXPECT_EQ(Str(1), "");
    EXPECT_EQ(Num(3), 0);
    ASSERT_EQ(Call("senddata", {"1", "\"hello\\nBYE\\n\""}, 1), 0);
    EXPECT_EQ(Num(-1), 10);
    // Nothing raises data events for it.
    lvNetworkNode *node = nullptr;
    ASSERT_EQ(FindConnection({1, nullptr}, &node), 0);
    EXPECT_EQ(PollConnectionData(node), 0);
    EXPECT_EQ(PollConnectionClosed(node), 0);
    ASSERT_EQ(Call("receivedata", {"1", "2"}, 3), 0);
    EXPECT_EQ(Str(1), "hello");
    ASSERT_EQ(Call("receivedata", {"1", "0"}, 3), 0);
    EXPECT_EQ(Str(1), "BYE\n");
    EXPECT_EQ(Num(3), 1);  // closed after data
    // The adapter said "closed": a send after it fails and shows in the count.
    ASSERT_EQ(Call("senddata", {"1", "\"more\""}, 1), 0);
    EXPECT_EQ(Num(-1), 0);

    lvObjectType *clients = FindObjectType(LV_NET_CLIENT);
    SetStackTop(L, 0);
    ASSERT_EQ(clients->attribute(L, LV_NET_ATTRADAPTER, {1, nullptr}), 1);
    EXPECT_EQ(Str(-1), "netadapter");

    // Hosts it does not take go to the built-in sockets; "native" alone refuses.
    int closed = ClosedLoopbackPort();
    EXPECT_EQ(Call("openconnection", {"2", "\"127.0.0.1\"", std::to_string(closed)}), ERR_SOCKET);
    EXPECT_EQ(Call("closeconnection", {"1"}), 0);
}

}  // namespace

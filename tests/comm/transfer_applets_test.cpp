// DownloadFile in a runtime process: the assembled applet transfer_fixtures/download.lvs
// run by build/bin/lumivarra fetches files of 0 bytes, 1 byte and 10 MB from
// `python3 -m http.server` on 127.0.0.1 into memory and into a file; the MD5 it prints
// and the file it wrote must match what was served. A termination signal ends a
// download whose server never answers.
#include "tests/stop_budget.h"
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "tests/comm/runtime_run.h"

namespace {

std::string Md5OfFile(const std::string &path)
{
    std::string command = "md5sum '" + path + "'";
    FILE *pipe = popen(command.c_str(), "r");
    char line[256] = "";
    if (pipe) {
        if (!fgets(line, sizeof line, pipe)) line[0] = 0;
        pclose(pipe);
    }
    return std::string(line).substr(0, 32);
}

std::string ReadFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string Lower(std::string text)
{
    for (char &c : text) c = (char)tolower((unsigned char)c);
    return text;
}

TEST(TransferApplets, HttpServerFilesIntoMemoryAndFiles)
{
    char folderTemplate[] = "/tmp/lv_transfer_XXXXXX";
    ASSERT_NE(mkdtemp(folderTemplate), nullptr);
    std::string folder = folderTemplate;
    struct Served {
        const char *name;
        size_t size;
    } files[] = {{"empty.bin", 0}, {"one.bin", 1}, {"ten.bin", 10u << 20}};
    for (const Served &f : files) {
        std::string bytes(f.size, 0);
        for (size_t i = 0; i < f.size; i++) bytes[i] = (char)(i * 131 + (i >> 12));
        std::ofstream(folder + "/" + f.name, std::ios::binary) << bytes;
    }
    RuntimeRun server;
    ASSERT_TRUE(server.Spawn({"/usr/bin/python3", "-u", "-m", "http.server", "0", "--bind", "127.0.0.1",
                              "--directory", folder}));
    ASSERT_TRUE(server.WaitFor(") ...", 20000)) << server.text;
    int port = 0;
    size_t at = server.text.find(" port ");
    ASSERT_NE(at, std::string::npos) << server.text;
    port = atoi(server.text.c_str() + at + 6);
    ASSERT_GT(port, 0) << server.text;

    for (const Served &f : files) {
        SCOPED_TRACE(f.name);
        std::string served = folder + "/" + f.name, written = folder + "/out_" + f.name;
        RuntimeRun run;
        run.folder = "transfer_fixtures";
        ASSERT_TRUE(run.Start("download", {"-url", "http://127.0.0.1:" + std::to_string(port) + "/" + f.name,
                                           "-file", written}));
        ASSERT_TRUE(run.WaitEnd(60000)) << run.text;
        EXPECT_TRUE(run.ExitedWith(0)) << run.status << ": " << run.text;
        std::string size = std::to_string(f.size);
        EXPECT_NE(Lower(run.text).find("mem " + Md5OfFile(served) + " " + size), std::string::npos) << run.text;
        EXPECT_NE(run.text.find("FILE 0 " + size), std::string::npos) << run.text;
        EXPECT_TRUE(ReadFile(written) == ReadFile(served));
        remove(written.c_str());
    }
    for (const Served &f : files) remove((folder + "/" + f.name).c_str());
    rmdir(folder.c_str());
}

TEST(TransferApplets, ATerminationSignalEndsAStalledDownload)
{
    TestListener listener;  // takes the connection and never answers
    RuntimeRun run;
    run.folder = "transfer_fixtures";
    ASSERT_TRUE(run.Start("download", {"-url", "http://127.0.0.1:" + std::to_string(listener.port) + "/stall",
                                       "-file", "/nonexistent/never"}));
    int peer = listener.Accept();
    ASSERT_GE(peer, 0) << run.text;
    EXPECT_FALSE(ReadCount(peer, 4).empty());  // the request is on its way: the runtime waits for the reply
    auto start = std::chrono::steady_clock::now();
    kill(run.pid, SIGTERM);
    EXPECT_TRUE(run.WaitEnd(5000)) << run.text;
    EXPECT_LT(MillisecondsSince(start), 2 * kStopBudgetMs) << run.text;
    EXPECT_EQ(run.text.find("MEM"), std::string::npos) << run.text;
    close(peer);
}

}  // namespace

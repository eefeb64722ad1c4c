// copy_bench - times CopyFile's engine (the copy operation run to completion, as the
// command does without "async") on a directory of 1,000, 10,000 and 100,000 files of
// 64 bytes, and `cp -r` on the same directory as a peer. Prints per size: milliseconds
// of each, microseconds a file, the ratio to cp, and the growth against the size ten
// times smaller (10.0 is linear). Work happens under $TMPDIR (default /tmp).
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

#include "libs/fileops_engine.h"
#include "platform/lvplatform.h"

namespace fs = std::filesystem;

namespace {

double Ms(std::chrono::steady_clock::time_point since)
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - since).count();
}

void MakeTree(const std::string &dir, int count)
{
    fs::create_directories(dir);
    std::string data(64, 'x');
    for (int i = 0; i < count; i++) std::ofstream(dir + "/file" + std::to_string(i) + ".dat") << data;
}

// The engine's copy of source into destination; -1 when it failed.
double EngineCopy(const std::string &source, const std::string &destination)
{
    lvCopyOptions options;
    lvAsyncOperation *op = nullptr;
    auto t0 = std::chrono::steady_clock::now();
    if (NewCopyOperation(source.c_str(), destination.c_str(), &options, &op) != 0) return -1;
    if (op && RunAsyncToCompletion(nullptr, op) != 0) return -1;
    return Ms(t0);
}

double PeerCopy(const std::string &source, const std::string &destination)
{
    std::string command = "cp -r '" + source + "' '" + destination + "'";
    auto t0 = std::chrono::steady_clock::now();
    if (std::system(command.c_str()) != 0) return -1;
    return Ms(t0);
}

}  // namespace

int main()
{
    if (InitPlatform() != 0) return 1;
    const char *tmp = std::getenv("TMPDIR");
    std::string root = std::string(tmp && *tmp ? tmp : "/tmp") + "/lv_copy_bench." + std::to_string(getpid());
    std::printf("%-8s %12s %12s %10s %10s %8s %8s\n", "files", "engine ms", "cp -r ms", "us/file", "vs cp", "growth",
                "cp grow");
    double previous = 0, previousPeer = 0;
    for (int count : {1000, 10000, 100000}) {
        std::string source = root + "/src" + std::to_string(count);
        MakeTree(source, count);
        std::string engineDst = root + "/engine" + std::to_string(count);
        std::string peerDst = root + "/cp" + std::to_string(count);
        double peer = PeerCopy(source, peerDst);
        double engine = EngineCopy(source, engineDst);
        if (engine < 0 || peer < 0) {
            std::printf("%-8d copy failed\n", count);
            break;
        }
        size_t copied = std::distance(fs::directory_iterator(engineDst), fs::directory_iterator());
        if (copied != size_t(count)) std::printf("%-8d engine copied %zu files\n", count, copied);
        std::printf("%-8d %12.1f %12.1f %10.2f %10.2f %8.2f %8.2f\n", count, engine, peer, engine * 1000 / count,
                    engine / peer, previous > 0 ? engine / previous : 0.0, previousPeer > 0 ? peer / previousPeer : 0.0);
        std::fflush(stdout);
        previous = engine;
        previousPeer = peer;
        std::error_code ec;
        fs::remove_all(source, ec);
        fs::remove_all(engineDst, ec);
        fs::remove_all(peerDst, ec);
    }
    std::error_code ec;
    fs::remove_all(root, ec);
    ExitPlatform();
    return 0;
}

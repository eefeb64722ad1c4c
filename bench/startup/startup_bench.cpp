// Start-up of a whole process: the hello applet (prints a line, ends) and an applet that
// opens a 640x480 display and ends, run by the runtime executable, against
// `python3 -c pass` and a C program that only starts SDL's video and opens a 640x480
// window, all in the same run with SDL's offscreen driver. Each row is the median of 20
// runs, taken in turn so that a passing load falls on every row alike; the peak memory
// is the largest resident size of the row's runs. Pin it to one core to compare runs
// (taskset -c 7 build/bin/startup_bench); the children keep the affinity.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

const int kRuns = 20;

struct Row {
    const char *name;
    std::vector<std::string> argv;
    int exitCode;  // what a sound run answers
    std::vector<double> seconds;
    long peakKb = 0;
    bool failed = false;
};

// One run with output thrown away: seconds (-1 when it did not end as it should), and
// the child's peak resident size.
double RunOnce(Row &row)
{
    std::vector<char *> args;
    for (std::string &a : row.argv) args.push_back(a.data());
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    auto start = std::chrono::steady_clock::now();
    pid_t pid;
    if (posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ) != 0) {
        posix_spawn_file_actions_destroy(&actions);
        return -1;
    }
    int status = 0;
    struct rusage usage = {};
    wait4(pid, &status, 0, &usage);
    double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    posix_spawn_file_actions_destroy(&actions);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != row.exitCode) return -1;
    row.peakKb = std::max(row.peakKb, usage.ru_maxrss);
    return s;
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

bool Assemble(const std::string &dir, const std::string &name, const std::string &text, const std::string &link)
{
    std::ofstream(dir + "/" + name + ".lvs") << text;
    std::string bin = LV_BIN_DIR;
    std::string command = "cd '" + dir + "' && '" + bin + "/lvasm' " + name + ".lvs -o " + name + ".lvc && '" + bin +
                          "/lvlink' applet " + name + ".lvc -o " + name + ".lva " + link;
    return std::system(command.c_str()) == 0;
}

}  // namespace

int main()
{
    setenv("SDL_VIDEODRIVER", "offscreen", 1);
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    char dirTemplate[] = "/tmp/lv_startup_XXXXXX";
    if (!mkdtemp(dirTemplate)) return 1;
    std::string dir = dirTemplate;
    // The display is declared 640x480 and opened at start-up; the chunk ends at once.
    if (!Assemble(dir, "display", "    return    r0 1\n", "--display 1:640x480:0")) {
        fprintf(stderr, "startup_bench: cannot build the display applet\n");
        return 1;
    }
    std::string runtime = std::string(LV_BIN_DIR) + "/lumivarra";
    std::vector<Row> rows = {
        {"python3 -c pass", {"/usr/bin/python3", "-c", "pass"}, 0, {}},
        {"C: SDL video + 640x480 window", {LV_PEER}, 0, {}},
        {"hello applet", {runtime, std::string(LV_EXAMPLES_DIR) + "/hello.lva"}, 5, {}},  // it ends with End 5
        {"640x480 display applet", {runtime, dir + "/display.lva"}, 0, {}},
    };
    for (Row &row : rows) RunOnce(row);  // warm the page cache
    for (Row &row : rows) row.peakKb = 0;
    for (int i = 0; i < kRuns; i++)
        for (Row &row : rows) {
            double s = RunOnce(row);
            if (s < 0) row.failed = true;
            else row.seconds.push_back(s);
        }
    std::system(("rm -rf '" + dir + "'").c_str());
    double python = Median(rows[0].seconds), peer = Median(rows[1].seconds);
    printf("%-32s %10s %10s %10s %12s\n", "whole process (median of 20)", "ms", "/python3", "/C+SDL", "peak RSS KiB");
    for (Row &row : rows) {
        if (row.failed || row.seconds.empty()) {
            printf("%-32s failed\n", row.name);
            continue;
        }
        double m = Median(row.seconds);
        printf("%-32s %10.1f %10.2f %10.2f %12ld\n", row.name, m * 1000, m / python, m / peer, row.peakKb);
    }
    return 0;
}

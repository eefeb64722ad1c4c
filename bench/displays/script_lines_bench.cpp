// Script lines per second while displays are open: the same counting loop run by the
// runtime executable with its own SDL2 window (offscreen driver), with the test display
// adapter, and with no display at all (display 1 closed before the loop). Whatever the
// displays cost the running script (the line hook's polls, the window pumping) shows as a
// ratio against the run without a display (goal: at least 0.9). Each figure is the best
// of three whole runs; start-up is measured apart by a run of an empty loop and taken off.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <unistd.h>

namespace {

const long kIterations = 100000000;  // about 3 instructions each

// The loop: i counts down from n; CloseDisplay(1) first when asked.
std::string Applet(long n, bool closeDisplay)
{
    std::string s;
    if (closeDisplay) s += "    getglobal r0 \"closedisplay\"\n    loadk     r1 1\n    call      r0 2 1\n";
    s += "    loadk     r0 " + std::to_string(n) + "\n";
    s += "again:\n    sub       r0 r0 1\n    lt        1 0 r0\n    jmp       again\n    return    r0 1\n";
    return s;
}

bool Build(const std::string &dir, const std::string &name, const std::string &text)
{
    std::ofstream(dir + "/" + name + ".lvs") << text;
    std::string bin = LV_BIN_DIR;
    std::string command = "cd '" + dir + "' && '" + bin + "/lvasm' " + name + ".lvs -o " + name + ".lvc && '" + bin +
                          "/lvlink' applet " + name + ".lvc -o " + name + ".lva";
    return std::system(command.c_str()) == 0;
}

// Seconds of the best of three runs.
double Run(const std::string &dir, const std::string &name, const std::string &extra)
{
    std::string command = "cd '" + dir + "' && SDL_VIDEODRIVER=offscreen SDL_AUDIODRIVER=dummy '" +
                          std::string(LV_BIN_DIR) + "/lumivarra' " + name + ".lva " + extra + " >/dev/null 2>&1";
    double best = 1e30;
    for (int i = 0; i < 3; i++) {
        auto start = std::chrono::steady_clock::now();
        if (std::system(command.c_str()) != 0) return -1;
        double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (s < best) best = s;
    }
    return best;
}

}  // namespace

int main()
{
    char dirTemplate[] = "/tmp/lv_script_lines_XXXXXX";
    if (!mkdtemp(dirTemplate)) return 1;
    std::string dir = dirTemplate;
    if (!Build(dir, "loop", Applet(kIterations, false)) || !Build(dir, "loopnone", Applet(kIterations, true)) ||
        !Build(dir, "empty", Applet(1, false)) || !Build(dir, "emptynone", Applet(1, true)))
        return 1;
    std::string adapter = std::string("-REQUIREPLUGINS '") + LV_TESTADAPTER_DIR + "/testadapter'";
    struct Row {
        const char *name, *loop, *empty;
        std::string extra;
        double seconds;
    } rows[] = {{"no display", "loopnone", "emptynone", "", 0},
                {"native SDL window", "loop", "empty", "", 0},
                {"test display adapter", "loop", "empty", adapter, 0}};
    for (Row &r : rows) {
        double loop = Run(dir, r.loop, r.extra), empty = Run(dir, r.empty, r.extra);
        if (loop < 0 || empty < 0) {
            std::printf("%s: the run failed\n", r.name);
            return 1;
        }
        r.seconds = loop - empty > 1e-3 ? loop - empty : 1e-3;
    }
    const double lines = 3.0 * kIterations;
    for (const Row &r : rows)
        std::printf("%-24s %8.1f M lines/s  ratio to no display %.2f\n", r.name, lines / r.seconds / 1e6,
                    rows[0].seconds / r.seconds);
    std::system(("rm -rf '" + dir + "'").c_str());
    return 0;
}

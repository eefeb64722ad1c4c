// vm_bench.cpp - the script machine against python3 and perl on five rows:
// recursive fib(27), a numeric loop summing 10^7 values, filling and reading a
// table of 10^6 entries, building a string of 10^5 pieces (merged on a stack
// while the lower piece is no longer than the upper, the same algorithm in
// every language), and 10^6 calls of a native command. Each row is the best of
// three runs; the peers run peer.py and peer.pl beside this file.
// Every row runs twice on our machine: with the runtime's line hook installed as a real
// run installs it (InstallLineHook; the event poll itself is a stub that counts its
// calls) and without any hook. Fib also runs as native C (this file, -O2) for scale.
// Prints our times and the ratio of each peer's time to ours (above 1: we are faster).
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>

#include "runtime/startup.h"
#include "tools/lvasm/lvasm.h"
#include "vm/lvvm.h"

namespace {
struct Row {
    const char *name;  // row name, as the peers print it
    const char *text;  // assembled program
};

const Row kRows[] = {
    {"fib", R"(
    closure   r0 fib
    setglobal r0 "fib"
    loadk     r1 27
    call      r0 2 2
    return    r0 2
.function fib
.params 1
    lt        1 r0 2
    jmp       small
    getglobal r1 "fib"
    sub       r2 r0 1
    call      r1 2 2
    getglobal r2 "fib"
    sub       r3 r0 2
    call      r2 2 2
    add       r1 r1 r2
    return    r1 2
small:
    return    r0 2
.end
)"},
    {"loop", R"(
    loadk     r0 0
    loadk     r1 1
    loadk     r2 10000000
    loadk     r3 1
    sub       r1 r1 r3
    jmp       test
body:
    add       r0 r0 r1
test:
    forloop   r1 body
    return    r0 2
)"},
    {"table", R"(
    newtable  r0 0 0
    loadk     r1 0
    loadk     r2 999999
    loadk     r3 1
    sub       r1 r1 r3
    jmp       t1
b1:
    settable  r0 r1 r1
t1:
    forloop   r1 b1
    loadk     r4 0
    loadk     r1 0
    sub       r1 r1 r3
    jmp       t2
b2:
    gettable  r5 r0 r1
    add       r4 r4 r5
t2:
    forloop   r1 b2
    return    r4 2
)"},
    {"string", R"(
    newtable  r0 0 0
    newtable  r1 0 0
    loadk     r2 0
    loadk     r3 1
    loadk     r4 100000
    loadk     r5 1
    sub       r3 r3 r5
    jmp       ftest
fbody:
    add       r2 r2 1
    settable  r0 r2 "x"
    settable  r1 r2 1
merge:
    le        1 r2 1
    jmp       ftest
    sub       r6 r2 1
    gettable  r7 r1 r6
    gettable  r8 r1 r2
    lt        1 r8 r7
    jmp       ftest
    gettable  r9 r0 r6
    gettable  r10 r0 r2
    concat    r9 r9 r10
    settable  r0 r6 r9
    add       r7 r7 r8
    settable  r1 r6 r7
    settable  r0 r2 nil
    move      r2 r6
    jmp       merge
ftest:
    forloop   r3 fbody
    loadk     r9 ""
join:
    lt        1 r2 1
    jmp       done
    gettable  r10 r0 r2
    move      r11 r9
    concat    r9 r10 r11
    sub       r2 r2 1
    jmp       join
done:
    return    r9 2
)"},
    {"native", R"(
    getglobal r0 "abs"
    loadk     r1 0
    loadk     r2 0
    loadk     r3 999999
    loadk     r4 1
    sub       r2 r2 r4
    jmp       t
b:
    move      r5 r0
    move      r6 r2
    call      r5 2 2
    add       r1 r1 r5
t:
    forloop   r2 b
    return    r1 2
)"},
};

int CmdAbs(lvState *L)
{
    PushNumber(L, std::fabs(CheckNumberArg(L, 1)));
    return 1;
}

double Seconds(std::chrono::steady_clock::time_point a, std::chrono::steady_clock::time_point b)
{
    return std::chrono::duration<double>(b - a).count();
}

// The runtime's event poll, reduced to counting: what it costs in a real run is the
// display layer's, not the machine's.
long gPolls = 0;
int CountPolls(lvState *, int)
{
    gPolls++;
    return 0;
}

// Best time of one row on our machine; the result text goes to *result.
double RunOurs(const Row &row, bool hooked, std::string *result)
{
    lvAsmResult r = AsmAssembleText(row.text, std::string(row.name) + ".lvs");
    if (!r.ok) {
        for (const std::string &e : r.errors) std::fprintf(stderr, "%s\n", e.c_str());
        return -1;
    }
    double best = 1e9;
    for (int run = 0; run < 3; run++) {
        ResetVMRun();
        lvState *L = NewVMState();
        lvCommandEntry cmds[] = {{"abs", CmdAbs}, {nullptr, nullptr}};
        PushCopy(L, LV_GLOBALSINDEX);
        RegisterLibrary(L, nullptr, cmds, 0);
        SetStackTop(L, 0);
        if (LoadChunkBuffer(L, r.bytes.data(), r.bytes.size(), row.name) != 0) return -1;
        if (hooked) InstallLineHook(L);
        auto t0 = std::chrono::steady_clock::now();
        int st = ProtectedCall(L, 0, 1, 0);
        auto t1 = std::chrono::steady_clock::now();
        if (st != 0) {
            std::fprintf(stderr, "%s failed with %d (%s, line %d)\n", row.name, st, gVMRun.errorStringArg, gVMRun.errorLine);
            return -1;
        }
        *result = ValueToString(L, -1) ? std::to_string(ValueStringLength(L, -1)) + " bytes / " + ValueToString(L, -1)
                                       : "?";
        if (result->size() > 40) result->resize(40);
        best = std::min(best, Seconds(t0, t1));
        CloseVMState(L);
    }
    return best;
}

__attribute__((noinline)) double NativeFib(double n) { return n < 2 ? n : NativeFib(n - 1) + NativeFib(n - 2); }

double RunNativeFib()
{
    double best = 1e9;
    for (int run = 0; run < 3; run++) {
        volatile double n = 27;
        auto t0 = std::chrono::steady_clock::now();
        volatile double f = NativeFib(n);
        auto t1 = std::chrono::steady_clock::now();
        (void)f;
        best = std::min(best, Seconds(t0, t1));
    }
    return best;
}

// Runs a peer script three times; best seconds per row.
std::map<std::string, double> RunPeer(const std::string &command)
{
    std::map<std::string, double> best;
    for (int run = 0; run < 3; run++) {
        FILE *p = popen(command.c_str(), "r");
        if (!p) break;
        char name[64];
        double secs;
        while (std::fscanf(p, "%63s %lf", name, &secs) == 2) {
            auto it = best.find(name);
            if (it == best.end() || secs < it->second) best[name] = secs;
        }
        pclose(p);
    }
    return best;
}
}  // namespace

// vm_bench [row [hook]]: with a row name, runs only that row on our machine (for
// profiling), with the line hook when a second argument is given.
int main(int argc, char **argv)
{
    lvStartupHooks hooks{};
    hooks.PollRuntimeEvents = CountPolls;
    SetStartupHooks(&hooks);
    if (argc > 1) {
        for (const Row &row : kRows) {
            if (std::strcmp(row.name, argv[1]) != 0) continue;
            std::string result;
            double ours = RunOurs(row, argc > 2, &result);
            std::printf("%s %.1f ms (%s), %ld polls\n", row.name, ours * 1e3, result.c_str(), gPolls);
            return ours < 0;
        }
        std::fprintf(stderr, "no row %s\n", argv[1]);
        return 2;
    }
    std::string dir = LV_BENCH_DIR;
    std::map<std::string, double> py = RunPeer("python3 " + dir + "/peer.py 2>/dev/null");
    std::map<std::string, double> pl = RunPeer("perl " + dir + "/peer.pl 2>/dev/null");
    std::printf("%-8s %9s %9s %7s %9s %9s %9s %9s\n", "row", "hook ms", "nohook ms", "on/off", "python ms", "perl ms",
                "peer/on", "peer/off");
    bool allFaster = true;
    double fibOn = 0;
    for (const Row &row : kRows) {
        std::string result;
        long polls = gPolls;
        double on = RunOurs(row, true, &result);
        polls = gPolls - polls;
        double off = RunOurs(row, false, &result);
        double p = py.count(row.name) ? py[row.name] : -1;
        double q = pl.count(row.name) ? pl[row.name] : -1;
        double peer = p > 0 && q > 0 ? std::min(p, q) : std::max(p, q);
        std::printf("%-8s %9.1f %9.1f %7.2f %9.1f %9.1f %9.2f %9.2f   (%ld polls)\n", row.name, on * 1e3, off * 1e3,
                    on / off, p * 1e3, q * 1e3, peer > 0 ? peer / on : 0, peer > 0 ? peer / off : 0, polls);
        if (on < 0 || peer < 1.5 * on) allFaster = false;
        if (std::strcmp(row.name, "fib") == 0) fibOn = on;
    }
    double c = RunNativeFib();
    std::printf("%-8s %9.1f   native C fib(27) at -O2: hooked fib is %.1f times slower\n", "fib-C", c * 1e3,
                fibOn / c);
    std::printf("%s\n", allFaster ? "hooked: at least 1.5 times faster than the faster peer on every row"
                                  : "hooked: below 1.5 times the faster peer on some row");
    return 0;
}

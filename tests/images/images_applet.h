// images_applet.h - writes small applets for the image libraries' tests: each case calls
// one command with literal, global or table arguments and prints one line "key error
// result...", so a test compares a map of lines. The applet is assembled and linked with
// the built tools and run by the runtime executable in a scratch directory.
#pragma once
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

// An argument: a literal operand ("5", "\"text\"", "nil"), a global ("@name"), or a table.
struct lvAppletArg {
    std::string literal;
    std::vector<std::pair<std::string, lvAppletArg>> fields;  // table: key literal, value
    bool table = false;
    lvAppletArg() : literal("nil") {}
    lvAppletArg(const char *text) : literal(text) {}
    lvAppletArg(const std::string &text) : literal(text) {}
    lvAppletArg(double n)
    {
        char b[64];
        std::snprintf(b, sizeof b, "%.17g", n);
        literal = b;
    }
    lvAppletArg(int n) : lvAppletArg(double(n)) {}
    lvAppletArg(unsigned n) : lvAppletArg(double(n)) {}
};

// A string literal operand.
inline std::string Str(const std::string &text) { return "\"" + text + "\""; }
// {name = value, ...}
inline lvAppletArg Fields(std::vector<std::pair<std::string, lvAppletArg>> fields)
{
    lvAppletArg a;
    a.table = true;
    for (auto &f : fields) a.fields.push_back({Str(f.first), f.second});
    return a;
}
// {[0] = a, [1] = b, ...}
inline lvAppletArg List(std::vector<lvAppletArg> items)
{
    lvAppletArg a;
    a.table = true;
    for (size_t i = 0; i < items.size(); i++) a.fields.push_back({std::to_string(i), items[i]});
    return a;
}

class lvAppletScript {
public:
    lvAppletScript() { Line("getglobal r0 \"exitonerror\"\nloadk r1 0\ncall r0 2 1"); }
    void Line(const std::string &text) { body += text + "\n"; }
    // key: error code and up to `results` results (items of the first result's table when
    // items are given).
    void Case(const std::string &key, const std::string &command, const std::vector<lvAppletArg> &args,
              int results = 1, const std::vector<int> &items = {})
    {
        Call(command, args, results);
        Line("getglobal r40 \"getlasterror\"\ncall r40 1 2");
        if (!items.empty()) {
            for (size_t i = 0; i < items.size(); i++)
                Line("gettable r" + std::to_string(20 + i) + " r10 " + std::to_string(items[i]));
            Print(key, 20, int(items.size()));
        } else {
            Print(key, 10, results);
        }
    }
    // Like Case, keeping the first result in a global.
    void Keep(const std::string &global, const std::string &key, const std::string &command,
              const std::vector<lvAppletArg> &args)
    {
        Call(command, args, 1);
        Line("setglobal r10 " + Str(global));
        Line("getglobal r40 \"getlasterror\"\ncall r40 1 2");
        Print(key, 10, 0);
    }
    std::string Text() const { return body + "return r0 1\n" + functions; }
    // Nested functions (".function NAME" ... ".end" blocks) appended after the main body.
    void Function(const std::string &text) { functions += text + "\n"; }

private:
    std::string body, functions;
    void Load(int reg, const lvAppletArg &a, int depth)
    {
        std::string r = "r" + std::to_string(reg);
        if (!a.table) {
            if (a.literal == "nil") Line("loadnil " + r + " " + r);
            else if (a.literal[0] == '@') Line("getglobal " + r + " " + Str(a.literal.substr(1)));
            else Line("loadk " + r + " " + a.literal);
            return;
        }
        Line("newtable " + r + " 0 0");
        int k = 60 + 3 * depth;
        for (auto &f : a.fields) {
            Line("loadk r" + std::to_string(k) + " " + f.first);
            Load(k + 1, f.second, depth + 1);
            Line("settable " + r + " r" + std::to_string(k) + " r" + std::to_string(k + 1));
        }
    }
    void Call(const std::string &command, const std::vector<lvAppletArg> &args, int results)
    {
        Line("getglobal r10 " + Str(command));
        for (size_t i = 0; i < args.size(); i++) Load(11 + int(i), args[i], 0);
        Line("call r10 " + std::to_string(args.size() + 1) + " " + std::to_string(results + 1));
    }
    void Print(const std::string &key, int first, int count)
    {
        Line("getglobal r0 \"debugprint\"\nloadk r1 " + Str(key) + "\nmove r2 r40");
        for (int i = 0; i < count; i++) Line("move r" + std::to_string(3 + i) + " r" + std::to_string(first + i));
        Line("call r0 " + std::to_string(3 + count) + " 1");
    }
};

// A scratch directory, removed with its files.
struct lvScratchDir {
    std::string path;
    lvScratchDir()
    {
        char t[] = "/tmp/lvimagesXXXXXX";
        path = mkdtemp(t);
    }
    ~lvScratchDir() { std::system(("rm -rf '" + path + "'").c_str()); }
    std::string File(const std::string &name) const { return path + "/" + name; }
};

// Assembles, links (extra lvlink options) and runs the applet in dir; the printed lines
// keyed by their first word; *all gets the whole output.
inline std::map<std::string, std::string> RunAppletScript(const lvScratchDir &dir, const lvAppletScript &script,
                                                         const std::string &linkOptions, int *exitCode,
                                                         std::string *all = nullptr)
{
    std::map<std::string, std::string> lines;
    {
        FILE *f = std::fopen(dir.File("t.lvs").c_str(), "w");
        std::string text = script.Text();
        std::fwrite(text.data(), 1, text.size(), f);
        std::fclose(f);
    }
    std::string bin = LV_BIN_DIR;
    std::string command = "cd '" + dir.path + "' && '" + bin + "/lvasm' t.lvs -o t.lvc 2>&1 && '" + bin +
                          "/lvlink' applet t.lvc -o t.lva " + linkOptions +
                          " 2>&1 && SDL_VIDEODRIVER=offscreen SDL_AUDIODRIVER=dummy timeout -k 5 60 '" + bin +
                          "/lumivarra' t.lva 2>&1 </dev/null";
    FILE *out = popen(command.c_str(), "r");
    std::string text;
    char buffer[4096];
    size_t got;
    while ((got = fread(buffer, 1, sizeof buffer, out)) > 0) text.append(buffer, got);
    int status = pclose(out);
    *exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (all) *all = text;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        size_t space = line.find_first_of(" \t");
        lines[line.substr(0, space)] = space == std::string::npos ? "" : line.substr(line.find_first_not_of(" \t", space));
    }
    return lines;
}

// A pixel of the current output to read back (ReadPixel) and the colour expected there.
struct lvPixelProbe {
    std::string key;
    int x, y;
    unsigned expected;
};

inline void ReadProbes(lvAppletScript &s, const std::vector<lvPixelProbe> &probes)
{
    for (const lvPixelProbe &p : probes) s.Case(p.key, "readpixel", {p.x, p.y});
}

inline void CheckProbes(const std::map<std::string, std::string> &lines, const std::vector<lvPixelProbe> &probes)
{
    for (const lvPixelProbe &p : probes) {
        auto it = lines.find(p.key);
        ASSERT_NE(it, lines.end()) << p.key;
        EXPECT_EQ(it->second, "0 " + std::to_string(p.expected)) << p.key << " at " << p.x << "," << p.y;
    }
}

// The error code of a printed line (its first word).
inline std::string Code(const std::string &line) { return line.substr(0, line.find(' ')); }

// Every command name (any case) is a function of the running applet.
template <size_t N> void ExpectCommandsRegistered(const char *(&names)[N])
{
    lvScratchDir dir;
    lvAppletScript s;
    auto lowerOf = [](const char *name) {
        std::string lower(name);
        for (char &c : lower) c = (char)std::tolower((unsigned char)c);
        return lower;
    };
    for (const char *name : names)
        s.Line("getglobal r0 \"debugprint\"\nloadk r1 " + Str(lowerOf(name)) + "\ngetglobal r2 " + Str(lowerOf(name)) +
               "\ncall r0 3 1");
    int exitCode = -1;
    std::string all;
    auto lines = RunAppletScript(dir, s, "", &exitCode, &all);
    ASSERT_EQ(exitCode, 0) << all;
    for (const char *name : names)
        EXPECT_NE(lines[lowerOf(name)].find("unction"), std::string::npos) << name << ": " << lines[lowerOf(name)];
}

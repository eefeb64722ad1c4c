// Joysticks as an applet reads them: a copy of the runtime with the joystick test plug-in
// (tests/plugins/joyplugin.cpp) in its "Plugins" folder runs applets that attach and move
// SDL virtual joysticks inside the runtime and read them back with the joystick library.
#include "tests/images/images_applet.h"

#include <SDL.h>
#include <chrono>
#include <csignal>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/wait.h>
#include <thread>

namespace {

// A scratch folder holding a runtime copy with the plug-in beside it.
struct JoyRuntime {
    lvScratchDir dir;
    JoyRuntime()
    {
        std::string command = "mkdir '" + dir.File("Plugins") + "' && cp '" + LV_BIN_DIR + "/lumivarra' '" +
                              dir.path + "/' && cp '" + LV_BUILD_DIR + "/tests/ui/joystick_plugin/joyplug.lvp' '" +
                              dir.File("Plugins") + "/'";
        EXPECT_EQ(std::system(command.c_str()), 0);
    }
    // Assembles and links the applet as t.lva; false with the tools' output on failure.
    bool Build(const lvAppletScript &script, std::string *out)
    {
        std::ofstream(dir.File("t.lvs")) << script.Text();
        std::string bin = LV_BIN_DIR;
        std::string command = "cd '" + dir.path + "' && '" + bin + "/lvasm' t.lvs -o t.lvc 2>&1 && '" + bin +
                              "/lvlink' applet t.lvc -o t.lva --object 12:1:joyplug 2>&1";
        FILE *p = popen(command.c_str(), "r");
        char buffer[4096];
        size_t got;
        while ((got = fread(buffer, 1, sizeof buffer, p)) > 0) out->append(buffer, got);
        return pclose(p) == 0;
    }
    // Runs t.lva to its end; the printed lines keyed by their first word.
    std::map<std::string, std::string> Run(const lvAppletScript &script, int *exitCode, std::string *all)
    {
        std::map<std::string, std::string> lines;
        if (!Build(script, all)) return lines;
        std::string command = "cd '" + dir.path + "' && SDL_JOYSTICK_DISABLE_UDEV=1 timeout -k 5 60 ./lumivarra t.lva 2>&1 </dev/null";
        FILE *p = popen(command.c_str(), "r");
        char buffer[4096];
        size_t got;
        while ((got = fread(buffer, 1, sizeof buffer, p)) > 0) all->append(buffer, got);
        int status = pclose(p);
        *exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        std::istringstream in(*all);
        for (std::string line; std::getline(in, line);) {
            size_t space = line.find(' ');
            lines[line.substr(0, space)] = space == std::string::npos ? "" : line.substr(space + 1);
        }
        return lines;
    }
};

std::string N(long v) { return std::to_string(v); }

}  // namespace

// Sticks, second sticks, buttons and hats of a raw device and of a game controller in the
// classic layout; errors for a button beyond the mask and a port without a device; ports
// kept when a device goes and another comes. Nothing starts SDL's joysticks before the
// first joystick command.
TEST(JoystickPlugin, VirtualDevicesReadThroughTheLibrary)
{
    JoyRuntime rt;
    lvAppletScript s;
    s.Case("started0", "testjoystarted", {});
    s.Keep("base", "keepbase", "countjoysticks", {});
    s.Case("base", "countjoysticks", {});
    s.Case("started1", "testjoystarted", {});
    s.Keep("raw", "attachraw", "testjoyattach", {0, 6, 40, 2});
    s.Case("count1", "countjoysticks", {});
    s.Keep("count", "keepcount", "countjoysticks", {});
    s.Case("beyond", "joydir", {"@count"});

    struct Stick {
        int x, y, direction;
    } sticks[] = {{500, -501, 0}, {501, 501, 3}, {600, -600, 1}, {500, 0, 8},
                  {-501, 0, 6},   {-600, 700, 5}, {0, -1000, 0}, {0, 0, 8}};
    int i = 0;
    for (const Stick &st : sticks) {
        std::string k = N(i++);
        s.Case("setx" + k, "testjoyaxis", {"@raw", 0, st.x});
        s.Case("sety" + k, "testjoyaxis", {"@raw", 1, st.y});
        s.Case("dir" + k, "joydir", {"@base"});
        s.Case("x" + k, "joyaxisx", {"@base"});
        s.Case("y" + k, "joyaxisy", {"@base"});
    }
    // The second stick is axes 3 to 5.
    s.Case("set3", "testjoyrawaxis", {"@raw", 3, 16417});
    s.Case("set4", "testjoyrawaxis", {"@raw", 4, 16417});
    s.Case("set5", "testjoyrawaxis", {"@raw", 5, -32768});
    s.Case("dir2nd", "joydir", {"@base", 1});
    s.Case("z2nd", "joyaxisz", {"@base", 1});
    s.Case("z1st", "joyaxisz", {"@base"});
    // Buttons 1, 3 and 32 (and the 36th, beyond the mask).
    s.Case("fire0", "joyfire", {"@base"});
    for (int b : {0, 2, 31, 35}) s.Case("press" + N(b), "testjoybutton", {"@raw", b, 1});
    s.Case("fire", "joyfire", {"@base"});
    s.Case("mask", "joybutton", {"@base", 0});
    s.Case("b2", "joybutton", {"@base", 2});
    s.Case("b3", "joybutton", {"@base", 3});
    s.Case("b32", "joybutton", {"@base", 32});
    s.Case("b33", "joybutton", {"@base", 33});
    // The eight hat positions and the centre on the second hat; hats beyond the device.
    const int hats[] = {SDL_HAT_UP,   SDL_HAT_RIGHTUP,  SDL_HAT_RIGHT, SDL_HAT_RIGHTDOWN, SDL_HAT_DOWN,
                        SDL_HAT_LEFTDOWN, SDL_HAT_LEFT, SDL_HAT_LEFTUP, SDL_HAT_CENTERED};
    for (int h = 0; h < 9; h++) {
        s.Case("sethat" + N(h), "testjoyhat", {"@raw", 1, hats[h]});
        s.Case("hat" + N(h), "joyhat", {"@base", 1});
    }
    s.Case("farhat2", "joyhat", {"@base", 2});
    s.Case("farhat4", "joyhat", {"@base", 4});

    // A game controller, one port further.
    s.Keep("pad", "attachpad", "testjoyattach", {1, int(SDL_CONTROLLER_AXIS_MAX), int(SDL_CONTROLLER_BUTTON_MAX), 0});
    s.Line("getglobal r1 \"base\"\nadd r1 r1 1\nsetglobal r1 \"padport\"");
    s.Line("getglobal r1 \"base\"\nadd r1 r1 2\nsetglobal r1 \"againport\"");
    s.Case("count2", "countjoysticks", {});
    s.Case("pa0", "testjoyaxis", {"@pad", int(SDL_CONTROLLER_AXIS_LEFTX), 600});
    s.Case("pa1", "testjoyaxis", {"@pad", int(SDL_CONTROLLER_AXIS_LEFTY), -600});
    s.Case("pa2", "testjoyaxis", {"@pad", int(SDL_CONTROLLER_AXIS_RIGHTX), -700});
    // The virtual device's trigger axes span the whole range: -32768 is released.
    s.Case("pa4", "testjoyrawaxis", {"@pad", int(SDL_CONTROLLER_AXIS_TRIGGERLEFT), 32767});
    s.Case("pa5", "testjoyrawaxis", {"@pad", int(SDL_CONTROLLER_AXIS_TRIGGERRIGHT), -32768});
    s.Case("paddir", "joydir", {"@padport"});
    s.Case("padz", "joyaxisz", {"@padport"});
    s.Case("padx2nd", "joyaxisx", {"@padport", 1});
    s.Case("paddir2nd", "joydir", {"@padport", 1});
    s.Case("padz2nd", "joyaxisz", {"@padport", 1});
    s.Case("pa5b", "testjoyrawaxis", {"@pad", int(SDL_CONTROLLER_AXIS_TRIGGERRIGHT), 32767});
    s.Case("padzboth", "joyaxisz", {"@padport"});
    for (int b : {SDL_CONTROLLER_BUTTON_A, SDL_CONTROLLER_BUTTON_Y, SDL_CONTROLLER_BUTTON_BACK,
                  SDL_CONTROLLER_BUTTON_GUIDE, SDL_CONTROLLER_BUTTON_DPAD_DOWN, SDL_CONTROLLER_BUTTON_DPAD_LEFT})
        s.Case("pb" + N(b), "testjoybutton", {"@pad", b, 1});
    s.Case("padmask", "joybutton", {"@padport", 0});
    s.Case("padhat", "joyhat", {"@padport", 0});
    s.Case("padhat1", "joyhat", {"@padport", 1});

    // The raw device goes: its port stays, reading as centred; the controller keeps its
    // port; a new device takes a new one.
    s.Case("detach", "testjoydetach", {"@raw"});
    s.Case("count3", "countjoysticks", {});
    s.Case("gonedir", "joydir", {"@base"});
    s.Case("gonex", "joyaxisx", {"@base"});
    s.Case("gonehat", "joyhat", {"@base"});
    s.Case("gonemask", "joybutton", {"@base", 0});
    s.Case("padkept", "joybutton", {"@padport", 0});
    s.Keep("again", "attachagain", "testjoyattach", {0, 2, 1, 0});
    s.Case("count4", "countjoysticks", {});
    s.Case("ax", "testjoyaxis", {"@again", 0, -1000});
    s.Case("againx", "joyaxisx", {"@againport"});

    int exitCode = -1;
    std::string all;
    auto got = rt.Run(s, &exitCode, &all);
    ASSERT_EQ(exitCode, 0) << all;
    ASSERT_TRUE(got.count("base")) << all;
    long base = std::stol(got["base"].substr(2));

    EXPECT_EQ(got["started0"], "0 0") << "SDL's joysticks started before the first joystick command";
    EXPECT_EQ(got["started1"], "0 1");
    EXPECT_EQ(got["attachraw"], "0");
    EXPECT_EQ(got["count1"], "0 " + N(base + 1));
    EXPECT_EQ(got["beyond"].substr(0, 4), "1405");
    for (int k = 0; k < int(std::size(sticks)); k++) {
        SCOPED_TRACE(N(sticks[k].x) + "," + N(sticks[k].y));
        EXPECT_EQ(got["setx" + N(k)], "0 1");
        EXPECT_EQ(got["dir" + N(k)], "0 " + N(sticks[k].direction));
        EXPECT_EQ(got["x" + N(k)], "0 " + N(sticks[k].x));
        EXPECT_EQ(got["y" + N(k)], "0 " + N(sticks[k].y));
    }
    EXPECT_EQ(got["dir2nd"], "0 3");
    EXPECT_EQ(got["z2nd"], "0 -1000");
    EXPECT_EQ(got["z1st"], "0 0");
    EXPECT_EQ(got["fire0"], "0 0");
    EXPECT_EQ(got["fire"], "0 1");
    EXPECT_EQ(got["mask"], "0 2147483653");
    EXPECT_EQ(got["b2"], "0 0");
    EXPECT_EQ(got["b3"], "0 1");
    EXPECT_EQ(got["b32"], "0 1");
    EXPECT_EQ(got["b33"].substr(0, 4), "1055");
    for (int h = 0; h < 9; h++) EXPECT_EQ(got["hat" + N(h)], "0 " + N(h < 8 ? h * 4500 : -1)) << "hat position " << h;
    EXPECT_EQ(got["farhat2"], "0 -1");
    EXPECT_EQ(got["farhat4"], "0 -1");

    EXPECT_EQ(got["attachpad"], "0");
    EXPECT_EQ(got["count2"], "0 " + N(base + 2));
    EXPECT_EQ(got["paddir"], "0 1");
    EXPECT_EQ(got["padz"], "0 1000");
    EXPECT_EQ(got["padx2nd"], "0 -700");
    EXPECT_EQ(got["paddir2nd"], "0 6");
    EXPECT_EQ(got["padz2nd"], "0 0");
    EXPECT_EQ(got["padzboth"], "0 0");
    // A, Y, Back and Guide: bits 0, 3, 6 and 10; the d-pad is hat 0.
    EXPECT_EQ(got["padmask"], "0 " + N((1 << 0) | (1 << 3) | (1 << 6) | (1 << 10)));
    EXPECT_EQ(got["padhat"], "0 22500");
    EXPECT_EQ(got["padhat1"], "0 -1");

    EXPECT_EQ(got["detach"], "0 1");
    EXPECT_EQ(got["count3"], "0 " + N(base + 2));
    EXPECT_EQ(got["gonedir"], "0 8");
    EXPECT_EQ(got["gonex"], "0 0");
    EXPECT_EQ(got["gonehat"], "0 -1");
    EXPECT_EQ(got["gonemask"], "0 0");
    EXPECT_EQ(got["padkept"], got["padmask"]) << "the controller moved to another port";
    EXPECT_EQ(got["count4"], "0 " + N(base + 3));
    EXPECT_EQ(got["againx"], "0 -1000");
}

// With a virtual device open inside the runtime, SIGTERM still ends a run that waits.
TEST(JoystickPlugin, StopSignalEndsARunHoldingADevice)
{
    JoyRuntime rt;
    lvAppletScript s;
    s.Case("count", "countjoysticks", {});
    s.Case("attach", "testjoyattach", {0, 2, 2, 0});
    s.Line("getglobal r0 \"debugprint\"\nloadk r1 \"ready\"\ncall r0 2 1");
    s.Line("forever:\ngetglobal r0 \"waitevent\"\ncall r0 1 1\njmp forever");
    std::string out;
    ASSERT_TRUE(rt.Build(s, &out)) << out;

    std::string log = rt.dir.File("out.txt");
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        execl("/bin/sh", "sh", "-c", ("cd '" + rt.dir.path + "' && SDL_JOYSTICK_DISABLE_UDEV=1 exec ./lumivarra t.lva >out.txt 2>&1 </dev/null").c_str(),
              (char *)nullptr);
        _exit(127);
    }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    std::string seen;
    while (std::chrono::steady_clock::now() < deadline) {
        std::ifstream in(log);
        seen.assign(std::istreambuf_iterator<char>(in), {});
        if (seen.find("ready") != std::string::npos) break;
        if (waitpid(pid, nullptr, WNOHANG) == pid) {
            pid = -1;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_NE(pid, -1) << "the run ended by itself: " << seen;
    ASSERT_NE(seen.find("ready"), std::string::npos) << seen;
    EXPECT_NE(seen.find("attach 0 0"), std::string::npos) << seen;
    kill(pid, SIGTERM);
    int status = 0;
    pid_t done = 0;
    auto stopBy = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while ((done = waitpid(pid, &status, WNOHANG)) == 0 && std::chrono::steady_clock::now() < stopBy)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (done == 0) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
    }
    EXPECT_EQ(done, pid) << "SIGTERM did not end the run";
}

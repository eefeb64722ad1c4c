// testipc.cpp - a message-port adapter for the tests: ports live inside the one running
// program, and a message sent to its own port comes back through adapter event 15, as a
// real adapter delivers what other programs send. Sends to any other port fail.
//
// Control: LVT_IPC_LOG (a log file, one line a call).
// Dependencies: runtime/lvplugin.h only.
#include "runtime/lvplugin.h"
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>

#define LVT_EXPORT(name) extern "C" __attribute__((visibility("default"))) auto name

static const lvPluginApi *api;
static lvPluginRecord *self;
static std::mutex lock;
static std::string portName;  // the program's port, empty when none

static void Log(const std::string &line)
{
    if (const char *path = getenv("LVT_IPC_LOG"))
        if (FILE *f = fopen(path, "a")) {
            fprintf(f, "%s\n", line.c_str());
            fclose(f);
        }
}

LVT_EXPORT(CreateIPCPort)(const char *name, uintptr_t)->uintptr_t
{
    std::lock_guard<std::mutex> hold(lock);
    portName = name;
    Log("CreateIPCPort " + portName);
    return 1;
}

LVT_EXPORT(FreeIPCPort)(uintptr_t handle)->void
{
    std::lock_guard<std::mutex> hold(lock);
    Log("FreeIPCPort " + std::to_string(handle));
    portName.clear();
}

// 1 when delivered, 0 when no such port.
LVT_EXPORT(SendIPCMessage)(const char *port, const void *data, size_t size, uintptr_t)->int
{
    {
        std::lock_guard<std::mutex> hold(lock);
        Log(std::string("SendIPCMessage ") + port + " " + std::to_string(size));
        if (portName.empty() || portName != port) return 0;
    }
    lvAdapterEvent event = {(uintptr_t)data, (uintptr_t)size, 0, 0, 0};
    return api->system->PostAdapterEventMain(LVP_EVENT_PORTDATA, &event) == 0 ? 1 : 0;
}

LVT_EXPORT(InitPlugin)(lvPluginRecord *r, const lvPluginApi *table, const char *)->int
{
    api = table;
    self = r;
    r->capabilities = PLUGINCAPS_IPCADAPTER | PLUGINCAPS_REQUIRE;
    r->version = 1;
    r->revision = 0;
    r->name = "Test message-port adapter";
    r->moduleName = "testipc";
    r->author = "Lumivarra tests";
    r->description = "Ports inside one program";
    r->copyright = "none";
    r->url = "";
    r->date = "11.12.2026";
    return 1;
}

LVT_EXPORT(ClosePlugin)()->void {}

LVT_EXPORT(RequirePlugin)(lvState *, int, int, uint32_t, const lvPluginTag *)->int
{
    int result = api->system->InstallIpcAdapter(self, 0);
    Log("InstallIpcAdapter " + std::to_string(result));
    return result;
}

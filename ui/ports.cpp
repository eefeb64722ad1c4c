// ports.cpp - the event library's message-port commands and deferred calls: CreatePort,
// SendMessage (through the IPC adapter when a plug-in installed one, else the platform's
// ports) and RunCallback.
// Depends on: platform/lvplatform_ports.h, runtime/plugin.h, ui/events.h.
// Limits: script thread only.
#include "ui/ports.h"

#include "base/lverrors.h"
#include "platform/lvplatform.h"
#include "platform/lvplatform_ports.h"
#include "runtime/cmdsupport.h"
#include "runtime/errors.h"
#include "runtime/lvplugin.h"
#include "runtime/plugin.h"
#include "ui/events.h"
#include "vm/lvvm.h"

#include <cstring>
#include <string>

typedef uintptr_t (*lvCreateIPCPortFunction)(const char *name, uintptr_t reserved);
typedef void (*lvFreeIPCPortFunction)(uintptr_t handle);
typedef int (*lvSendIPCMessageFunction)(const char *port, const void *data, size_t size, uintptr_t reserved);

static uintptr_t adapterPort = 0;

std::string BuildPortMessage(const char *command, const char *const *arguments, int count)
{
    std::string text = command;
    for (int i = 0; i < count; i++) {
        text += " \"";
        text += arguments[i];
        text += '"';
    }
    return text;
}

int CreatePortNamed(const char *name)
{
    if (strlen(name) >= 128) return ERR_WRONGUSAGE;
    if (lvPluginRecord *ipc = GetInstalledAdapter(LV_ADAPTER_IPC)) {
        if (adapterPort && ipc->FreeIPCPort) ((lvFreeIPCPortFunction)ipc->FreeIPCPort)(adapterPort);
        adapterPort = 0;
        if (ipc->CreateIPCPort) adapterPort = ((lvCreateIPCPortFunction)ipc->CreateIPCPort)(name, 0);
        return adapterPort ? 0 : ERR_CREATEPORT;
    }
    int code = CreateMessagePort(name);
    if (code == ERR_PORTNOTAVAIL) SetErrorStringArg(name);
    return code;
}

static int ScriptStopRequested(void)
{
    return gVMRun.stopRequest.load(std::memory_order_relaxed) ? 1 : 0;
}

int SendPortText(const char *port, const std::string &text)
{
    if (lvPluginRecord *ipc = GetInstalledAdapter(LV_ADAPTER_IPC)) {
        if (!ipc->SendIPCMessage) return ERR_SENDMESSAGE;
        int ok = ((lvSendIPCMessageFunction)ipc->SendIPCMessage)(port, text.c_str(), text.size() + 1, 0);
        return ok ? 0 : ERR_SENDMESSAGE;
    }
    SetPortStopCheck(ScriptStopRequested);
    int code = SendPortMessage(port, text.c_str());
    if (code == ERR_FINDPORT) SetErrorStringArg(port);
    return code;
}

void FreeProgramPort(lvState *)
{
    if (lvPluginRecord *ipc = GetInstalledAdapter(LV_ADAPTER_IPC)) {
        if (adapterPort && ipc->FreeIPCPort) ((lvFreeIPCPortFunction)ipc->FreeIPCPort)(adapterPort);
    }
    adapterPort = 0;
    FreeMessagePort();
}

int PostDeferredCall(lvState *L, int32_t function, int32_t userData)
{
    lvDeferredCall *block = (lvDeferredCall *)AllocMemory(sizeof(lvDeferredCall), 1);
    if (block) {
        block->function = function;
        block->userData = userData;
        if (PostSystemEvent(13, 0, (uintptr_t)block, 0, 0, 0, 1) == 0) return 0;
        // The queue freed the block; the references are still ours.
    }
    const lvEventRuntimeHooks *runtime = EventRuntime();
    if (function != -1) runtime->ReleaseReference(L, function);
    if (userData != -1) runtime->ReleaseReference(L, userData);
    return ERR_MEM;
}

// ---- Commands ------------------------------------------------------------------------------

static int CmdCreatePort(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    return CreatePortNamed(CheckStringArg(L, 1, nullptr));
}

static int CmdSendMessage(lvState *L)
{
    CheckArgCount(L, 2, 0, 0, 0);
    const char *port = CheckStringArg(L, 1, nullptr);
    const char *command = CheckStringArg(L, 2, nullptr);
    int count = GetStackTop(L) - 2;
    std::vector<const char *> arguments;
    for (int i = 0; i < count; i++) arguments.push_back(CheckStringArg(L, 3 + i, nullptr));
    if (!*command || strchr(command, ' ')) return ERR_WRONGUSAGE;
    return SendPortText(port, BuildPortMessage(command, arguments.data(), count));
}

static int CmdRunCallback(lvState *L)
{
    CheckArgCount(L, 1, 2, 0, 0);
    if (GetValueType(L, 1) != LV_TFUNCTION) {
        SetErrorNumberArg(1);
        return ERR_FUNCEXPECTED;
    }
    PushCopy(L, 1);
    int32_t function = CreateReference(L, LV_REGISTRYINDEX);
    int32_t userData = -1;
    if (GetStackTop(L) >= 2) {
        PushCopy(L, 2);
        userData = CreateReference(L, LV_REGISTRYINDEX);
    }
    return PostDeferredCall(L, function, userData);
}

const lvCommandEntry PortCommands[] = {
    {"CreatePort", CmdCreatePort},
    {"SendMessage", CmdSendMessage},
    {"RunCallback", CmdRunCallback},
    {nullptr, nullptr},
};

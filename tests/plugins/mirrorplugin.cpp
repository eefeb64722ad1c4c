// mirrorplugin.cpp - the mirror test plug-in ("mirrorplug.lvp", tests/ui/displays.cmake):
// a command library that hangs mirrors on displays through the graphics sub-table's
// mirror slots and feeds input back through the system sub-table's slot 16.
//
// Commands (n is the plug-in's number of a mirror, from 1):
//   MirrorAttach(display, picturecoords) -> n, or 0 when the display refused; then the
//       width and height it shows (attachment tags 1 and 2). picturecoords: tag 5.
//   MirrorBlits(n) -> the rectangles presented to the mirror since the last call, as
//       "destx,desty,width,height" items separated by ";".
//   MirrorKey(n, code) -> posts a key press (input message 5).
//   MirrorAttrs(n) -> what the attribute slot answers for tags 1 and 3 and an unknown 99.
//   MirrorDetach(n)
//
// Dependencies: runtime/lvplugin.h only.
#include "runtime/lvplugin.h"
#include <mutex>
#include <string>
#include <vector>

#define LVM_EXPORT(name) extern "C" __attribute__((visibility("default"))) auto name

static const lvPluginApi *api;

struct MirrorSlot {
    void *mirror;
    std::string blits;
};
static std::mutex slotLock;
static std::vector<MirrorSlot *> slots;

static uint32_t Watch(void *, int message, const void *data, void *userData)
{
    if (message != 0) return 0;
    const lvMirrorBlit *b = (const lvMirrorBlit *)data;
    std::lock_guard<std::mutex> hold(slotLock);
    MirrorSlot *slot = (MirrorSlot *)userData;
    if (!slot->blits.empty()) slot->blits += ";";
    slot->blits += std::to_string(b->destX) + "," + std::to_string(b->destY) + "," + std::to_string(b->width) + "," +
                   std::to_string(b->height);
    return 0;
}

// The slot of argument 1; null for a number the plug-in never gave (the command then
// answers 1055).
static MirrorSlot *SlotArg(lvState *L)
{
    double n = api->scriptVM->CheckNumberArg(L, 1);
    std::lock_guard<std::mutex> hold(slotLock);
    if (n < 1 || n > (double)slots.size()) return nullptr;
    return slots[(size_t)n - 1];
}

static int CmdMirrorAttach(lvState *L)
{
    lvPluginObjectId id = {(int32_t)api->scriptVM->CheckNumberArg(L, 1), nullptr};
    int picture = api->scriptVM->GetOptionalNumberArg(L, 2, 0) != 0;
    MirrorSlot *slot = new MirrorSlot{nullptr, ""};
    int32_t width = 0, height = 0;
    lvPluginTag tags[] = {{1, (intptr_t)&width}, {2, (intptr_t)&height}, {5, picture}, {0, 0}};
    slot->mirror = api->graphics->AttachMirror(&id, Watch, slot, tags, nullptr);
    int number = 0;
    if (slot->mirror) {
        std::lock_guard<std::mutex> hold(slotLock);
        slots.push_back(slot);
        number = (int)slots.size();
    } else {
        delete slot;
    }
    api->scriptVM->PushNumber(L, number);
    api->scriptVM->PushNumber(L, width);
    api->scriptVM->PushNumber(L, height);
    return 3;
}

static int CmdMirrorBlits(lvState *L)
{
    MirrorSlot *slot = SlotArg(L);
    if (!slot) return 1055;
    std::string text;
    {
        std::lock_guard<std::mutex> hold(slotLock);
        text.swap(slot->blits);
    }
    api->scriptVM->PushString(L, text.c_str());
    return 1;
}

static int CmdMirrorKey(lvState *L)
{
    MirrorSlot *slot = SlotArg(L);
    if (!slot) return 1055;
    int32_t data[3] = {(int32_t)api->scriptVM->CheckNumberArg(L, 2), 1, 0};
    api->system->PostMirrorInput(slot->mirror, 5, data);
    return 0;
}

static int CmdMirrorAttrs(lvState *L)
{
    MirrorSlot *slot = SlotArg(L);
    if (!slot) return 1055;
    int32_t width = 0, pictureWidth = 0, unknown = 0;
    lvPluginTag tags[] = {{10, 1}, {1, (intptr_t)&width}, {99, (intptr_t)&unknown}, {3, (intptr_t)&pictureWidth},
                          {0, 0}};
    api->scriptVM->PushNumber(L, api->graphics->MirrorDisplayAttrs(slot->mirror, tags));
    return 1;
}

static int CmdMirrorDetach(lvState *L)
{
    MirrorSlot *slot = SlotArg(L);
    if (!slot) return 1055;
    api->graphics->DetachMirror(slot->mirror);
    return 0;
}

static const lvPluginCommand commands[] = {
    {"MirrorAttach", CmdMirrorAttach}, {"MirrorBlits", CmdMirrorBlits}, {"MirrorKey", CmdMirrorKey},
    {"MirrorAttrs", CmdMirrorAttrs},   {"MirrorDetach", CmdMirrorDetach}, {nullptr, nullptr}};
static const lvPluginConstant constants[] = {{nullptr, nullptr, 0}};

LVM_EXPORT(GetBaseTable)(void)->const char * { return nullptr; }
LVM_EXPORT(GetCommands)(void)->const lvPluginCommand * { return commands; }
LVM_EXPORT(GetConstants)(void)->const lvPluginConstant * { return constants; }
LVM_EXPORT(InitLibrary)(lvState *)->int { return 0; }
LVM_EXPORT(FreeLibrary)(lvState *)->void {}

LVM_EXPORT(InitPlugin)(lvPluginRecord *record, const lvPluginApi *table, const char *)->int
{
    api = table;
    record->capabilities = PLUGINCAPS_LIBRARY;
    record->version = 1;
    record->revision = 0;
    record->name = "Mirror test plug-in";
    record->moduleName = "mirrorplug";
    record->author = "Lumivarra tests";
    record->description = "Mirrors on displays for the tests";
    record->copyright = "none";
    record->url = "";
    record->date = "11.12.2026";
    return 1;
}

LVM_EXPORT(ClosePlugin)(void)->void
{
    std::lock_guard<std::mutex> hold(slotLock);
    for (MirrorSlot *slot : slots) delete slot;
    slots.clear();
}

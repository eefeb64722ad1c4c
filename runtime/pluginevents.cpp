// pluginevents.cpp - the registry of plug-in event types (runtime/pluginevents.h).
#include "runtime/pluginevents.h"
#include "platform/lvplatform.h"
#include <cstring>
#include <strings.h>

static lvPluginEvent *pluginEvents;  // registration order

int32_t RegisterPluginEvent(const char *name, int32_t mode, const lvPluginEvent *callbacks)
{
    if (!name || !*name || strlen(name) >= sizeof(((lvPluginEvent *)nullptr)->name)) return 0;
    if ((mode != 0 && mode != 1) || FindPluginEventByName(name)) return 0;
    int32_t type = LV_PLUGIN_EVENT_FIRST;
    lvPluginEvent **link = &pluginEvents;
    while (*link) {
        type = (*link)->type + 1;
        link = &(*link)->next;
    }
    lvPluginEvent *record = (lvPluginEvent *)AllocMemory(sizeof(lvPluginEvent), 1);
    if (!record) return 0;
    if (callbacks) *record = *callbacks;
    record->next = nullptr;
    std::strcpy(record->name, name);
    record->type = type;
    record->mode = mode;
    record->disabled = 0;
    record->slot = lvHandlerSlot{-1, -1};
    *link = record;
    return type;
}

void WithdrawPluginEvent(int32_t type)
{
    for (lvPluginEvent *e = pluginEvents; e; e = e->next)
        if (e->type == type) e->disabled = 1;
}

lvPluginEvent *FindPluginEventByType(int32_t type)
{
    for (lvPluginEvent *e = pluginEvents; e; e = e->next)
        if (e->type == type && !e->disabled) return e;
    return nullptr;
}

lvPluginEvent *FindPluginEventByName(const char *name)
{
    if (!name) return nullptr;
    for (lvPluginEvent *e = pluginEvents; e; e = e->next)
        if (!e->disabled && strcasecmp(e->name, name) == 0) return e;
    return nullptr;
}

int32_t FindPluginEventHandler(const char *name, int32_t *userData)
{
    lvPluginEvent *e = FindPluginEventByName(name);
    if (userData) *userData = e ? e->slot.userData : -1;
    return e ? e->slot.function : -1;
}

lvPluginEvent *FirstPluginEvent(void) { return pluginEvents; }

void FreePluginEvents(void)
{
    lvPluginEvent *e = pluginEvents;
    pluginEvents = nullptr;
    while (e) {
        lvPluginEvent *next = e->next;
        FreeMemory(e);
        e = next;
    }
}

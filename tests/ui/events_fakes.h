// Stand-ins for the script machine and the displays, shared by the event engine tests.
// The fake machine records every call with its action and message fields; the fake
// displays are plain records with an lvDisplayEvents each.
#pragma once
#include "ui/events.h"
#include "base/lverrors.h"
#include <gtest/gtest.h>
#include <functional>
#include <string>
#include <vector>

// One call the fake machine received.
struct FakeCall {
    std::string action;      // "action" of the message
    int32_t function;        // the function reference called
    int32_t userData;        // the record's user-data reference
    lvEventId id;            // "id" when the message had one
    bool hasId;              // whether it had one
    double x, y;             // "x"/"y" when present, else -1
    int kind;                // the record's kind
    int wantTable;           // whether the table was kept for the result
    std::vector<std::string> fieldNames;  // every field, in order
};

struct FakeMachine {
    std::vector<FakeCall> calls;              // in call order
    std::vector<int32_t> released;            // references released, in order
    std::vector<int> tables;                  // CompleteResultTable: triggered per call (-1 none ran)
    std::function<int(lvEventCallback *)> onCall;  // runs inside a call (nested work)
    int quit = 0;                             // QuitRequested
    int setupPhase = 1;                       // InAdapterSetupPhase
};

inline FakeMachine *fakeMachine = nullptr;

inline int FakeCallFunction(lvState *, lvEventCallback *record, const lvEventMessage *message, int wantTable)
{
    FakeCall call{};
    const lvMessageField *f = FindMessageField(message, "action");
    call.action = f ? f->text : "";
    call.function = record->function;
    call.userData = record->userData;
    call.kind = record->kind;
    call.wantTable = wantTable;
    if ((f = FindMessageField(message, "id"))) {
        call.hasId = true;
        call.id = f->id;
    }
    f = FindMessageField(message, "x");
    call.x = f ? f->number : -1;
    f = FindMessageField(message, "y");
    call.y = f ? f->number : -1;
    for (int i = 0; i < message->count; i++) call.fieldNames.push_back(message->fields[i].name);
    fakeMachine->calls.push_back(call);
    return fakeMachine->onCall ? fakeMachine->onCall(record) : 0;
}

inline int FakeCompleteTable(lvState *, const lvEventCallback *ran, int triggered)
{
    fakeMachine->tables.push_back(ran ? triggered : -1);
    return 1;
}

inline void FakeRelease(lvState *, int32_t reference)
{
    fakeMachine->released.push_back(reference);
}

inline void InstallFakeMachine(FakeMachine *machine)
{
    fakeMachine = machine;
    lvEventRuntimeHooks hooks = {};
    hooks.CallFunction = FakeCallFunction;
    hooks.CompleteResultTable = FakeCompleteTable;
    hooks.ReleaseReference = FakeRelease;
    hooks.QuitRequested = [] { return fakeMachine->quit; };
    hooks.InAdapterSetupPhase = [] { return fakeMachine->setupPhase; };
    SetEventRuntimeHooks(&hooks);
}

// A display as the engine sees it.
struct FakeDisplay {
    lvDisplayEvents events;  // handler slots and input state
    int number;              // its identifier
    int autoscale;           // size events are suppressed
};

inline std::vector<FakeDisplay *> fakeDisplays;

inline void InstallFakeDisplays(lvEventDisplayHooks *extra = nullptr)
{
    lvEventDisplayHooks hooks = extra ? *extra : lvEventDisplayHooks{};
    hooks.GetDisplayEvents = [](lvDisplay *d) { return &((FakeDisplay *)d)->events; };
    hooks.NextDisplay = [](lvDisplay *d) -> lvDisplay * {
        if (!d) return fakeDisplays.empty() ? nullptr : (lvDisplay *)fakeDisplays[0];
        for (size_t i = 0; i + 1 < fakeDisplays.size(); i++)
            if ((lvDisplay *)fakeDisplays[i] == d) return (lvDisplay *)fakeDisplays[i + 1];
        return nullptr;
    };
    hooks.SuppressSizeEvent = [](lvDisplay *d) { return ((FakeDisplay *)d)->autoscale; };
    hooks.GetDisplayId = [](lvDisplay *d) { return lvEventId{(uintptr_t)((FakeDisplay *)d)->number, 0}; };
    SetEventDisplayHooks(&hooks);
}

inline FakeDisplay *NewFakeDisplay(int number)
{
    FakeDisplay *d = new FakeDisplay{};
    InitDisplayEvents(&d->events);
    d->number = number;
    fakeDisplays.push_back(d);
    return d;
}

inline void FreeFakeDisplays()
{
    for (FakeDisplay *d : fakeDisplays) delete d;
    fakeDisplays.clear();
}

inline lvDisplay *AsDisplay(FakeDisplay *d)
{
    return (lvDisplay *)d;
}

// The engine opened with fakes; closed and reset again at the end of a test.
class EventEngineTest : public testing::Test {
protected:
    FakeMachine machine;
    void SetUp() override
    {
        ASSERT_EQ(InitPlatform(), 0);
        ASSERT_EQ(InitLoopSignals(), 0);
        InstallFakeMachine(&machine);
        InstallFakeDisplays();
        SetEventSourceHooks(nullptr);
        SetEventTimeout(LV_DEFAULT_EVENT_TIMEOUT);
        ASSERT_EQ(OpenEventEngine(nullptr), 0);
    }
    void TearDown() override
    {
        CloseEventEngine(nullptr);
        RemoveTimerAdapter();
        FreePluginEvents();
        FreeSystemEvents();
        FreeFakeDisplays();
        SetEventSourceHooks(nullptr);
        SetEventDisplayHooks(nullptr);
        SetEventRuntimeHooks(nullptr);
        SetClockSources(nullptr);
        InitClockBase();
        FreeLoopSignals();
    }
    std::vector<std::string> Actions() const
    {
        std::vector<std::string> out;
        for (const FakeCall &c : machine.calls) out.push_back(c.action);
        return out;
    }
};

// dos_options.cpp - the dos library's option tables and script callbacks.
#include "libs/dos_options.h"

#include "runtime/cmdsupport.h"
#include "runtime/errors.h"
#include "platform/lvplatform.h"  // LV_PATH_SIZE

void ReadTagsOption(lvState *L, int t, lvCommandTags *tags)
{
    if (GetValueType(L, t) != LV_TTABLE) return;
    if (int code = ReadUserTags(L, t, nullptr, nullptr, &tags->list)) RaiseError(L, code);
}

bool SwitchOption(lvState *L, int t, const char *name, bool def)
{
    GetFieldSwitch(L, t, name, &def);
    return def;
}

long long IntOption(lvState *L, int t, const char *name, long long def)
{
    GetFieldInt64(L, t, name, &def);
    return def;
}

std::string TextOption(lvState *L, int t, const char *name, size_t limit, bool *present)
{
    char text[LV_PATH_SIZE] = "";
    int given = 0;
    GetFieldText(L, t, name, text, limit, &given);
    if (present) *present = given != 0;
    return text;
}

int RefOption(lvState *L, int t, const char *name)
{
    int ref = -1;
    GetFieldRef(L, t, name, &ref);
    return ref;
}

std::string ReadAdapterOption(lvState *L, int i)
{
    if (GetValueType(L, i) != LV_TTABLE) return "";
    return TextOption(L, i, "adapter", 255);
}

namespace {
// The script side of an operation's questions: the callback function and the
// userdata, held as references; the table is built per question.
class lvScriptFileOpCallback : public lvFileOpCallback {
public:
    lvState *L;       // the machine
    int function;     // reference of the callback function
    int userData;     // reference of the userdata, -1 none

    int Ask(const lvFileOpQuestion &q, lvFileOpAnswer *answer) override
    {
        int base = GetStackTop(L);
        GetTableItemRaw(L, LV_REGISTRYINDEX, function);
        PushNewTable(L);
        SetFieldNumber(L, "action", q.action);
        if (q.form == LV_QUESTION_FILE) SetFieldString(L, "file", q.file ? q.file : "");
        if (q.form == LV_QUESTION_PROGRESS || q.form == LV_QUESTION_PAIR)
            SetFieldString(L, "source", q.source ? q.source : "");
        if (q.form != LV_QUESTION_FILE) SetFieldString(L, "destination", q.destination ? q.destination : "");
        if (q.form == LV_QUESTION_PROGRESS) {
            SetFieldNumber(L, "copied", double(q.copied));
            SetFieldNumber(L, "filesize", double(q.fileSize));
        }
        PushString(L, "userdata");
        if (userData >= 0) GetTableItemRaw(L, LV_REGISTRYINDEX, userData);
        else PushNil(L);
        SetTableValue(L, -3);
        int status = ProtectedCall(L, 1, 1, 0);
        if (status != 0) {
            SetStackTop(L, base);
            return status;
        }
        int type = GetValueType(L, -1);
        answer->isNumber = type == LV_TNUMBER || type == LV_TBOOLEAN;
        answer->number = type == LV_TNUMBER ? ValueToNumber(L, -1) : type == LV_TBOOLEAN ? ValueToBoolean(L, -1) : 0;
        SetStackTop(L, base);
        return 0;
    }
    bool QuitRequested() override { return gVMRun.stopRequest.load() != 0; }
    void Release() override
    {
        ReleaseReference(L, LV_REGISTRYINDEX, function);
        if (userData >= 0) ReleaseReference(L, LV_REGISTRYINDEX, userData);
        delete this;
    }
};
}  // namespace

lvFileOpCallback *MakeCallback(lvState *L, int fn, int ud)
{
    CheckFunctionArg(L, fn);
    auto *cb = new lvScriptFileOpCallback();
    cb->L = L;
    PushCopy(L, fn);
    cb->function = CreateReference(L, LV_REGISTRYINDEX);
    cb->userData = -1;
    if (ud > 0 && GetValueType(L, ud) != LV_TNONE) {
        PushCopy(L, ud);
        cb->userData = CreateReference(L, LV_REGISTRYINDEX);
    }
    return cb;
}

lvFileOpCallback *ReadCallbackOption(lvState *L, int t)
{
    if (PushFieldValue(L, t, "callback") == LV_TNIL) {
        SetStackTop(L, -2);
        return nullptr;
    }
    int fn = GetStackTop(L);
    PushFieldValue(L, t, "userdata");
    lvFileOpCallback *cb = MakeCallback(L, fn, GetValueType(L, -1) == LV_TNIL ? 0 : fn + 1);
    SetStackTop(L, -3);
    return cb;
}

void ReadRunOptions(lvState *L, int t, lvRunRequest *r, std::string *directory, std::string *verb,
                    std::string *ignoreHandlers)
{
    r->resetKeys = SwitchOption(L, t, "resetkeys", true);
    r->forceExe = SwitchOption(L, t, "forceexe", false);
    r->hide = SwitchOption(L, t, "hide", false);
    r->consoleMode = SwitchOption(L, t, "consolemode", false);
    if (!r->isRun) r->captureOutput = SwitchOption(L, t, "captureoutput", false);
    if (r->isRun) {
        r->rawMode = SwitchOption(L, t, "rawmode", false);
        r->returnCode = SwitchOption(L, t, "returncode", false);
        *ignoreHandlers = TextOption(L, t, "ignorehandlers", 1023);
    }
    *directory = TextOption(L, t, "directory", 1023);
    *verb = TextOption(L, t, "verb", 255);
    if (r->isRun) r->runUserData = RefOption(L, t, "userdata");
}

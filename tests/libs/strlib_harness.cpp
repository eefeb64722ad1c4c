// strlib_harness.cpp - the string library tests' fixture: a machine with the
// library opened, a trampoline chunk per argument count that calls a command
// with the machine's call instruction, and the text rendering of results.
#include "tests/libs/strlib_harness.h"

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>

#include "libs/lib_string.h"
#include "libs/strings_engine.h"
#include "libs/textchars.h"
#include "runtime/cmdsupport.h"
#include "runtime/encoding.h"
#include "runtime/errors.h"
#include "runtime/libs_core.h"
#include "tools/lvasm/lvasm.h"
#include "vm/lvobject.h"

lvTestArg NilArg() { return lvTestArg(); }

lvTestArg ListArg(std::vector<lvTestArg> items)
{
    lvTestArg a;
    a.kind = lvTestArg::TABLE;
    for (size_t i = 0; i < items.size(); i++) {
        a.keys.emplace_back(int(i));
        a.values.push_back(std::move(items[i]));
    }
    return a;
}

lvTestArg FieldsArg(std::vector<std::pair<const char *, lvTestArg>> fields)
{
    lvTestArg a;
    a.kind = lvTestArg::TABLE;
    for (auto &f : fields) {
        a.keys.emplace_back(f.first);
        a.values.push_back(std::move(f.second));
    }
    return a;
}

lvTestArg GlobalArg(const char *name)
{
    lvTestArg a(name);
    a.kind = lvTestArg::GLOBAL;
    return a;
}

lvTestArg NativeArg(lvCommandFunction f)
{
    lvTestArg a;
    a.kind = lvTestArg::NATIVE;
    a.native = f;
    return a;
}

lvTestArg PointerArg(double n)
{
    lvTestArg a(n);
    a.kind = lvTestArg::POINTER;
    return a;
}

static void PushTestArg(lvState *L, const lvTestArg &a)
{
    switch (a.kind) {
    case lvTestArg::NUMBER: PushNumber(L, a.number); break;
    case lvTestArg::STRING: PushSizedString(L, a.text.data(), a.text.size()); break;
    case lvTestArg::NIL: PushNil(L); break;
    case lvTestArg::GLOBAL:
        PushString(L, a.text.c_str());
        GetTableValue(L, LV_GLOBALSINDEX);
        break;
    case lvTestArg::NATIVE: PushNativeClosure(L, a.native, 0); break;
    case lvTestArg::POINTER: PushPointer(L, reinterpret_cast<void *>(static_cast<uintptr_t>(a.number))); break;
    case lvTestArg::TABLE:
        PushNewTable(L);
        for (size_t i = 0; i < a.keys.size(); i++) {
            PushTestArg(L, a.keys[i]);
            PushTestArg(L, a.values[i]);
            SetTableValue(L, -3);
        }
        break;
    }
}

// The chunk that calls its first parameter with the others and returns every result.
static const std::vector<uint8_t> &TrampolineChunk(int argumentCount)
{
    static std::map<int, std::vector<uint8_t>> chunks;
    auto it = chunks.find(argumentCount);
    if (it != chunks.end()) return it->second;
    char text[128];
    std::snprintf(text, sizeof text, ".params %d\n    call r0 %d 0\n    return r0 0\n", argumentCount + 1,
                  argumentCount + 1);
    return chunks[argumentCount] = AsmAssembleOrThrow(text, "trampoline.lvs");
}

// Strings as 'text'; control bytes, and every byte from 0x80 up in text that is
// not UTF-8, as \xHH.
static void RenderString(std::string *out, const char *s, size_t n)
{
    bool utf8 = IsValidUtf8(s, n, nullptr);
    out->push_back('\'');
    for (size_t i = 0; i < n; i++) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        if (c < 0x20 || c == 0x7f || (c >= 0x80 && !utf8)) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", c);
            out->append(hex);
        } else {
            out->push_back(char(c));
        }
    }
    out->push_back('\'');
}

static void RenderNumber(std::string *out, double d)
{
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof buf, d);
    out->append(buf, r.ptr);
}

static void RenderValue(lvState *L, int index, std::string *out)
{
    switch (GetValueType(L, index)) {
    case LV_TNIL: out->append("nil"); break;
    case LV_TBOOLEAN: out->append(ValueToBoolean(L, index) ? "true" : "false"); break;
    case LV_TNUMBER: RenderNumber(out, ValueToNumber(L, index)); break;
    case LV_TSTRING: {
        // Copy first: converting in place is not wanted here.
        PushCopy(L, index);
        RenderString(out, ValueToString(L, -1), ValueStringLength(L, -1));
        SetStackTop(L, -2);
        break;
    }
    case LV_TTABLE: {
        out->push_back('{');
        for (int i = 0;; i++) {
            GetTableItemRaw(L, index, i);
            if (GetValueType(L, -1) == LV_TNIL) {
                SetStackTop(L, -2);
                break;
            }
            if (i > 0) out->push_back(' ');
            RenderValue(L, GetStackTop(L), out);
            SetStackTop(L, -2);
        }
        out->push_back('}');
        break;
    }
    case LV_TPOINTER: {
        out->append("pointer:");
        RenderNumber(out, double(reinterpret_cast<uintptr_t>(GetUserDataPointer(L, index))));
        break;
    }
    case LV_TFUNCTION: out->append("function"); break;
    default: out->append(GetTypeName(L, GetValueType(L, index))); break;
    }
}

std::string StringLibTest::RenderResults(int first)
{
    std::string out;
    int top = GetStackTop(L);
    for (int i = first; i <= top; i++) {
        if (i > first) out.push_back(' ');
        RenderValue(L, i, &out);
    }
    SetStackTop(L, first - 1);
    return out;
}

static std::string RenderError(int status)
{
    std::string out = "error " + std::to_string(status);
    // Argument errors name the argument.
    if (status == ERR_NUMEXPECTED || status == ERR_STREXPECTED || status == ERR_TABEXPECTED ||
        status == ERR_INVALIDUTF8ARG)
        out += "@" + std::to_string(GetErrorState()->numberArg);
    return out;
}

void StringLibTest::SetUp()
{
    // The torture run collects at every collection point and moves every stack
    // that grows or shrinks: text a command holds without a stack slot faults.
    const char *torture = std::getenv("LV_VM_TORTURE");
    gVMDebug.torture = torture && *torture == '1';
    gVMDebug.moveStack = gVMDebug.torture;
    ResetVMRun();
    ResetErrorState();
    InstallRuntimeHost();
    L = NewVMState();
    ASSERT_NE(L, nullptr);
    ASSERT_EQ(OpenStringLibrary(L), 0);
    *GetStringSettings() = {1, 0};
    SetUtf8Mode(true);
}

void StringLibTest::TearDown()
{
    if (L) CloseVMState(L);
    L = nullptr;
    gVMDebug.torture = 0;
    gVMDebug.moveStack = 0;
    FreeRuntimeLists();
    *GetStringSettings() = {1, 0};
    SetGlobalEncoding(LV_ENCODING_UTF8);
    SetVMHost(nullptr);
    ResetErrorState();
    ResetVMRun();
}

void StringLibTest::SetUtf8Mode(bool utf8)
{
    GetStringSettings()->defaultEncoding = utf8 ? 1 : 0;
    SetGlobalEncoding(utf8 ? LV_ENCODING_UTF8 : LV_ENCODING_LATIN1);
}

std::string StringLibTest::Call(const char *command, const std::vector<lvTestArg> &args)
{
    int base = GetStackTop(L);
    const std::vector<uint8_t> &chunk = TrampolineChunk(int(args.size()));
    if (LoadChunkBuffer(L, chunk.data(), chunk.size(), "=trampoline") != 0) return "load failed";
    std::string name = command;
    GetVMHost()->LowerStrInPlace(name.data());
    PushString(L, name.c_str());
    GetTableValue(L, LV_GLOBALSINDEX);
    if (GetValueType(L, -1) != LV_TFUNCTION) {
        SetStackTop(L, base);
        return std::string("no global ") + name;
    }
    for (const lvTestArg &a : args) PushTestArg(L, a);
    GetErrorState()->numberArg = 0;
    int status = ProtectedCall(L, int(args.size()) + 1, -1, 0);
    if (status != 0) {
        SetStackTop(L, base);
        return RenderError(status);
    }
    return RenderResults(base + 1);
}

void StringLibTest::RunCases(const std::vector<lvCommandCase> &cases)
{
    for (bool utf8 : {true, false}) {
        SetUtf8Mode(utf8);
        for (const lvCommandCase &c : cases) {
            const char *want = !utf8 && c.bytesExpected ? c.bytesExpected : c.expected;
            EXPECT_EQ(Call(c.command, c.args), want)
                << c.command << " (row " << (&c - cases.data()) << ", " << (utf8 ? "UTF-8" : "bytes") << ")";
        }
    }
    SetUtf8Mode(true);
}

std::string StringLibTest::RunFixture(const char *name)
{
    std::string path = std::string(LV_BUILD_DIR) + "/tests/libs/strlib_fixtures/" + name + ".lvc";
    std::ifstream in(path, std::ios::binary);
    if (!in) return "missing " + path;
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    int base = GetStackTop(L);
    int status = LoadChunkBuffer(L, bytes.data(), bytes.size(), name);
    if (status == 0) status = ProtectedCall(L, 0, -1, 0);
    if (status != 0) {
        SetStackTop(L, base);
        return RenderError(status);
    }
    return RenderResults(base + 1);
}

void StringLibTest::SetGlobalNumber(const char *name, double value)
{
    PushString(L, name);
    PushNumber(L, value);
    SetTableValue(L, LV_GLOBALSINDEX);
}

void StringLibTest::SetGlobalString(const char *name, const std::string &value)
{
    PushString(L, name);
    PushSizedString(L, value.data(), value.size());
    SetTableValue(L, LV_GLOBALSINDEX);
}

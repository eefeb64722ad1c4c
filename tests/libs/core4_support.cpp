// Shared helpers of the serialisation tests (see core4_support.h).
#include "core4_support.h"

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>
#include <algorithm>

TestMachine::TestMachine() : L(NewVMState()) {}
TestMachine::~TestMachine() { CloseVMState(L); }

static std::string Quote(const char *s, size_t n)
{
    std::string q = "\"";
    for (size_t i = 0; i < n; i++) {
        unsigned char c = (unsigned char)s[i];
        if (c < 32 || c >= 127 || c == '"' || c == '\\') {
            char b[8];
            std::snprintf(b, sizeof b, "\\x%02x", c);
            q += b;
        } else {
            q.push_back(char(c));
        }
    }
    return q + "\"";
}

static std::string DescribeValue(lvState *L, int index)
{
    switch (GetValueType(L, index)) {
    case LV_TNUMBER: {
        char b[40];
        auto r = std::to_chars(b, b + 39, ValueToNumber(L, index));
        return std::string(b, r.ptr);
    }
    case LV_TSTRING: return Quote(ValueToString(L, index), ValueStringLength(L, index));
    case LV_TTABLE: return DescribeTable(L, index);
    case LV_TFUNCTION: return "fn";
    default: return "?";
    }
}

std::string DescribeTable(lvState *L, int index)
{
    if (index < 0) index = GetStackTop(L) + index + 1;
    std::vector<std::string> entries;
    PushNil(L);
    while (NextTableEntry(L, index)) {
        int top = GetStackTop(L);
        entries.push_back(DescribeValue(L, top - 1) + "=" + DescribeValue(L, top));
        SetStackTop(L, -2);
    }
    std::sort(entries.begin(), entries.end());
    std::string out = "{";
    for (size_t i = 0; i < entries.size(); i++) out += (i ? "," : "") + entries[i];
    return out + "}";
}

void SetNumberNumber(lvState *L, double key, double value)
{
    PushNumber(L, key);
    PushNumber(L, value);
    SetTableValue(L, -3);
}
void SetStringString(lvState *L, const std::string &key, const std::string &value)
{
    PushSizedString(L, key.data(), key.size());
    PushSizedString(L, value.data(), value.size());
    SetTableValue(L, -3);
}
void SetStringNumber(lvState *L, const std::string &key, double value)
{
    PushSizedString(L, key.data(), key.size());
    PushNumber(L, value);
    SetTableValue(L, -3);
}
void SetNumberString(lvState *L, double key, const std::string &value)
{
    PushNumber(L, key);
    PushSizedString(L, value.data(), value.size());
    SetTableValue(L, -3);
}

namespace {
struct TempRoot {
    std::string path;
    ~TempRoot()
    {
        if (!path.empty()) std::filesystem::remove_all(path);
    }
};
TempRoot gTempRoot;
int gTempCount;
}  // namespace

std::string TempFolder()
{
    if (gTempRoot.path.empty()) {
        char tmpl[] = "/tmp/lvcore4XXXXXX";
        gTempRoot.path = mkdtemp(tmpl);
    }
    std::string p = gTempRoot.path + "/d" + std::to_string(gTempCount++);
    std::filesystem::create_directories(p);
    return p;
}

std::string ReadWholeFile(const std::string &path)
{
    std::ifstream f(path, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

void WriteWholeFile(const std::string &path, const std::string &bytes)
{
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(bytes.data(), std::streamsize(bytes.size()));
}

// Serialised tables and functions: golden "LVT0" images, "LVT1"/"LVF1" line breaking
// and counts, function images that load and run, the error table, Base64, and the
// readers' handling of damaged input.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "core4_support.h"
#include "libs/json_engine.h"
#include "libs/serialize_engine.h"
#include "base/lverrors.h"
#include "tools/lvasm/lvasm.h"

namespace {

std::string Bytes(std::initializer_list<int> list)
{
    std::string s;
    for (int b : list) s.push_back(char(b));
    return s;
}

std::string BE64(double d)
{
    uint64_t bits;
    std::memcpy(&bits, &d, 8);
    std::string s;
    for (int i = 0; i < 8; i++) s.push_back(char(bits >> (56 - 8 * i)));
    return s;
}

std::string ImageOf(lvState *L)
{
    int top = GetStackTop(L);
    EXPECT_EQ(PushTableImageString(L, top), 0);
    std::string s(ValueToString(L, -1), ValueStringLength(L, -1));
    SetStackTop(L, top);
    return s;
}

// Writes the table on the top through fn into a new file and answers its bytes.
template <typename Fn>
std::string WriteToFile(Fn fn, int *rc)
{
    std::string path = TempFolder() + "/out.bin";
    lvVFile *f = OpenVFile(path.c_str(), LV_VF_WRITE, nullptr, nullptr);
    EXPECT_NE(f, nullptr);
    *rc = fn(f);
    CloseVFile(f);
    return ReadWholeFile(path);
}

// Opens bytes as a file for reading and runs fn on it.
template <typename Fn>
int ReadFromBytes(const std::string &bytes, Fn fn)
{
    std::string path = TempFolder() + "/in.bin";
    WriteWholeFile(path, bytes);
    lvVFile *f = OpenVFile(path.c_str(), LV_VF_READ, nullptr, nullptr);
    EXPECT_NE(f, nullptr);
    int rc = fn(f);
    CloseVFile(f);
    return rc;
}

TEST(SerializeImage, GoldenBytesOfSmallTables)
{
    TestMachine m;
    lvState *L = m.L;
    PushNewTable(L);
    EXPECT_EQ(ImageOf(L), std::string("LVT0\0", 5));
    SetStackTop(L, 0);

    PushNewTable(L);
    SetNumberNumber(L, 1, 2.5);
    EXPECT_EQ(ImageOf(L), "LVT0" + Bytes({2}) + BE64(1) + Bytes({2}) + BE64(2.5) + Bytes({0}));
    SetStackTop(L, 0);

    PushNewTable(L);
    SetStringString(L, "ab", std::string("x\0y", 3));
    EXPECT_EQ(ImageOf(L), "LVT0" + Bytes({3, 0, 0, 0, 2}) + "ab" + Bytes({3, 0, 0, 0, 3}) + std::string("x\0y", 3) +
                              Bytes({0}));
    SetStackTop(L, 0);

    // A nested table: tag 4 and the inner body with its own closing 0.
    PushNewTable(L);
    PushString(L, "t");
    PushNewTable(L);
    SetNumberNumber(L, 0, 7);
    SetTableValue(L, -3);
    EXPECT_EQ(ImageOf(L), "LVT0" + Bytes({3, 0, 0, 0, 1}) + "t" + Bytes({4, 2}) + BE64(0) + Bytes({2}) + BE64(7) +
                              Bytes({0, 0}));
    // The file form is the same bytes.
    int rc;
    std::string file = WriteToFile([&](lvVFile *f) { return WriteTableImage(L, 1, f, 0, 0, 0); }, &rc);
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(file, ImageOf(L));
    // And reads back.
    EXPECT_EQ(ReadFromBytes(file, [&](lvVFile *f) { return ReadTableImage(L, f); }), 0);
    EXPECT_EQ(DescribeTable(L, -1), "{\"t\"={0=7}}");
}

// An image of exactly `imageBytes` bytes: one string entry padded to size.
void PushTableOfImageSize(lvState *L, size_t imageBytes)
{
    PushNewTable(L);
    // "LVT0" + key (1+4+1) + value (1+4+n) + 0 = 16 + n
    SetStringString(L, "k", std::string(imageBytes - 16, 'v'));
}

TEST(SerializeImage, TextFormBreaksLinesAfter72Characters)
{
    struct Case {
        size_t imageBytes;  // 54 bytes give 72 characters, 57 give 76
        int crlf;
        int noLineBreak;
        const char *breakText;  // expected break after the 72nd character, or "" for none
    };
    const Case cases[] = {
        {54, 1, 0, ""}, {54, 0, 0, ""}, {57, 1, 0, "\r\n"}, {57, 0, 0, "\n"}, {57, 1, 1, ""},
    };
    for (const Case &c : cases) {
        TestMachine m;
        lvState *L = m.L;
        PushTableOfImageSize(L, c.imageBytes);
        std::string image = ImageOf(L);
        ASSERT_EQ(image.size(), c.imageBytes);
        std::string b64;
        AppendBase64(b64, image.data(), image.size());
        std::string text = b64.size() > 72 ? b64.substr(0, 72) + c.breakText + b64.substr(72) : b64;
        char count[9];
        std::snprintf(count, sizeof count, "%.8x", unsigned(text.size()));
        int rc;
        std::string file = WriteToFile([&](lvVFile *f) { return WriteTableImage(L, 1, f, 1, c.noLineBreak, c.crlf); }, &rc);
        ASSERT_EQ(rc, 0);
        EXPECT_EQ(file, "LVT1" + std::string(count) + text) << c.imageBytes << " crlf " << c.crlf;
        EXPECT_EQ(ReadFromBytes(file, [&](lvVFile *f) { return ReadTableImage(L, f); }), 0);
        EXPECT_EQ(DescribeTable(L, -1), DescribeTable(L, 1));
    }
}

const char *kFunctionSource = R"(
    loadk  r0 "hello"
    loadk  r1 42
    return r0 3
)";

void CheckCallsBack(lvState *L)
{
    ASSERT_EQ(GetValueType(L, -1), LV_TFUNCTION);
    ASSERT_EQ(CallFunction(L, 0, 2), 0);
    EXPECT_STREQ(ValueToString(L, -2), "hello");
    EXPECT_EQ(ValueToNumber(L, -1), 42);
    SetStackTop(L, -3);
}

TEST(SerializeFunction, WrittenReadBackAndCalledInBothForms)
{
    std::vector<uint8_t> chunk = AsmAssembleOrThrow(kFunctionSource);
    for (int textmode = 0; textmode < 2; textmode++) {
        TestMachine m;
        lvState *L = m.L;
        ASSERT_EQ(LoadChunkBuffer(L, chunk.data(), chunk.size(), "=t"), 0);
        int rc;
        std::string file = WriteToFile([&](lvVFile *f) { return WriteFunctionImage(L, 1, f, textmode, 0, 1); }, &rc);
        ASSERT_EQ(rc, 0);
        ASSERT_GT(file.size(), 12u);
        if (!textmode) {
            EXPECT_EQ(file.substr(0, 4), "LVF0");
            uint32_t n = (uint8_t(file[4]) << 24) | (uint8_t(file[5]) << 16) | (uint8_t(file[6]) << 8) | uint8_t(file[7]);
            EXPECT_EQ(n, file.size() - 8);
            EXPECT_EQ(file.substr(8, 4), "\033LVB");
        } else {
            EXPECT_EQ(file.substr(0, 4), "LVF1");
            EXPECT_EQ(std::stoul(file.substr(4, 8), nullptr, 16), file.size() - 12);
            // Every line but the last holds 72 characters.
            size_t lineStart = 12;
            for (size_t at; (at = file.find("\r\n", lineStart)) != std::string::npos; lineStart = at + 2)
                EXPECT_EQ(at - lineStart, 72u);
        }
        EXPECT_EQ(ReadFromBytes(file, [&](lvVFile *f) { return ReadFunctionImage(L, f); }), 0);
        CheckCallsBack(L);
    }
}

TEST(SerializeFunction, FunctionValuesInsideTables)
{
    std::vector<uint8_t> chunk = AsmAssembleOrThrow(kFunctionSource);
    TestMachine m;
    lvState *L = m.L;
    PushNewTable(L);
    PushString(L, "f");
    ASSERT_EQ(LoadChunkBuffer(L, chunk.data(), chunk.size(), "=t"), 0);
    SetTableValue(L, 1);
    for (int textmode = 0; textmode < 2; textmode++) {
        int rc;
        std::string file = WriteToFile([&](lvVFile *f) { return WriteTableImage(L, 1, f, textmode, 0, 0); }, &rc);
        ASSERT_EQ(rc, 0);
        ASSERT_EQ(ReadFromBytes(file, [&](lvVFile *f) { return ReadTableImage(L, f); }), 0);
        PushString(L, "f");
        GetTableValue(L, -2);
        CheckCallsBack(L);
        SetStackTop(L, 1);
    }
    // Through memory too.
    ASSERT_EQ(PushTableImageString(L, 1), 0);
    std::string image(ValueToString(L, -1), ValueStringLength(L, -1));
    ASSERT_EQ(ReadTableImageMemory(L, image.data(), image.size()), 0);
    PushString(L, "f");
    GetTableValue(L, -2);
    CheckCallsBack(L);
}

TEST(SerializeImage, LongStringKeysReadBack)
{
    TestMachine m;
    lvState *L = m.L;
    PushNewTable(L);
    SetStringNumber(L, std::string(300, 'k'), 1);
    SetStringNumber(L, std::string(70000, 'q'), 2);
    int rc;
    std::string file = WriteToFile([&](lvVFile *f) { return WriteTableImage(L, 1, f, 0, 0, 0); }, &rc);
    ASSERT_EQ(rc, 0);
    ASSERT_EQ(ReadFromBytes(file, [&](lvVFile *f) { return ReadTableImage(L, f); }), 0);
    EXPECT_EQ(DescribeTable(L, -1), DescribeTable(L, 1));
}

TEST(SerializeImage, ErrorTable)
{
    std::vector<uint8_t> chunk = AsmAssembleOrThrow(kFunctionSource);
    TestMachine m;
    lvState *L = m.L;
    auto readImage = [&](const std::string &bytes) {
        int top = GetStackTop(L);
        int rc = ReadFromBytes(bytes, [&](lvVFile *f) { return ReadTableImage(L, f); });
        EXPECT_EQ(GetStackTop(L), rc ? top : top + 1) << "stack after a read";
        SetStackTop(L, top);
        return rc;
    };
    auto readMemory = [&](const std::string &bytes) {
        int top = GetStackTop(L);
        int rc = ReadTableImageMemory(L, bytes.data(), bytes.size());
        SetStackTop(L, top);
        return rc;
    };
    auto readFunction = [&](const std::string &bytes) {
        int top = GetStackTop(L);
        int rc = ReadFromBytes(bytes, [&](lvVFile *f) { return ReadFunctionImage(L, f); });
        SetStackTop(L, top);
        return rc;
    };
    std::string empty = std::string("LVT0\0", 5);
    // Readers of damaged images.
    EXPECT_EQ(readImage("[\r\n]\r\n"), ERR_READTABLE);
    EXPECT_EQ(readImage("LV"), ERR_READTABLE);
    EXPECT_EQ(readImage("LVT0" + Bytes({9})), ERR_FILEFORMAT);
    EXPECT_EQ(readImage("LVT0" + Bytes({2, 0, 0, 0, 0, 0, 0, 0, 0, 7})), ERR_FILEFORMAT);
    EXPECT_EQ(readImage("LVT0" + Bytes({2, 0, 0})), ERR_READ);
    EXPECT_EQ(readImage("LVT0" + Bytes({3, 0x7f, 0xff, 0xff, 0xff, 'a'})), ERR_READ);
    EXPECT_EQ(readMemory("LVT0" + Bytes({3, 0, 0, 0, 9, 'a'})), ERR_READ);
    EXPECT_EQ(readMemory("LVT0" + Bytes({3, 0, 0, 0, 1, 'a', 3, 0xff, 0xff, 0xff, 0xf0})), ERR_READ);
    EXPECT_EQ(readMemory("LVT0"), ERR_READ);
    EXPECT_EQ(readMemory("LVT0" + Bytes({2, 0x7f, 0xf8, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0})), ERR_FILEFORMAT);
    EXPECT_EQ(readMemory("LVT0" + Bytes({3, 0, 0, 0, 0, 3, 0, 0, 0, 0, 0})), 0);  // empty key and value
    EXPECT_EQ(readMemory("LVT1"), ERR_READTABLE);
    EXPECT_EQ(readMemory(empty), 0);
    // A function entry whose bytes are no chunk: the loader's error passes through.
    EXPECT_NE(readMemory("LVT0" + Bytes({3, 0, 0, 0, 1, 'f', 5, 0, 0, 0, 2, 'x', 'y', 0})), 0);
    EXPECT_EQ(readMemory("LVT0" + Bytes({3, 0, 0, 0, 1, 'f', 5, 0, 0, 0, 0, 0})), ERR_MEM);
    // Text forms: counts must be hexadecimal and within the file.
    EXPECT_EQ(readImage("LVT1zz000008AAAAAAAA"), ERR_READTABLE);
    EXPECT_EQ(readImage("LVT1 0000008AAAAAAAA"), ERR_READTABLE);
    EXPECT_EQ(readImage("LVT1-0000008AAAAAAAA"), ERR_READTABLE);
    EXPECT_EQ(readImage("LVT1fffffff0AAAA"), ERR_READ);
    EXPECT_EQ(readImage("LVT100000000"), ERR_MEM);
    EXPECT_EQ(readImage("LVT100000004!!!!"), ERR_BADBASE64);
    EXPECT_EQ(readImage("LVT100000004AAAA"), ERR_READTABLE);  // decodes, but no "LVT0" inside
    EXPECT_EQ(readFunction("LVF2"), ERR_READFUNC);
    EXPECT_EQ(readFunction("LVF1xyz00000"), ERR_READFUNC);
    EXPECT_EQ(readFunction("LVF0" + Bytes({0x7f, 0, 0, 0, 1})), ERR_READ);
    EXPECT_EQ(readFunction("LVF100000004!!!!"), ERR_BADBASE64);

    // Writers refuse values that cannot be stored.
    int rc;
    PushNewTable(L);
    PushString(L, "b");
    PushBoolean(L, 1);
    SetTableValue(L, -3);
    WriteToFile([&](lvVFile *f) { return WriteTableImage(L, -1, f, 0, 0, 0); }, &rc);
    EXPECT_EQ(rc, ERR_WRONGUSAGE);
    EXPECT_EQ(PushTableImageString(L, -1), ERR_WRONGUSAGE);
    SetStackTop(L, 0);

    PushNewTable(L);
    PushString(L, "n");
    PushNativeClosure(L, [](lvState *) { return 0; }, 0);
    SetTableValue(L, -3);
    WriteToFile([&](lvVFile *f) { return WriteTableImage(L, 1, f, 0, 0, 0); }, &rc);
    EXPECT_EQ(rc, ERR_NOLVFUNC);
    PushString(L, "n");
    GetTableValue(L, 1);
    WriteToFile([&](lvVFile *f) { return WriteFunctionImage(L, -1, f, 0, 0, 0); }, &rc);
    EXPECT_EQ(rc, ERR_NOLVFUNC);
    PushNumber(L, 3);
    WriteToFile([&](lvVFile *f) { return WriteFunctionImage(L, -1, f, 0, 0, 0); }, &rc);
    EXPECT_EQ(rc, ERR_FUNCEXPECTED);
    SetStackTop(L, 0);

    // A table that holds itself ends at the stack's limit.
    PushNewTable(L);
    PushString(L, "me");
    PushCopy(L, 1);
    SetTableValue(L, 1);
    WriteToFile([&](lvVFile *f) { return WriteTableImage(L, 1, f, 0, 0, 0); }, &rc);
    EXPECT_EQ(rc, ERR_STACK);
    EXPECT_EQ(GetStackTop(L), 1);
    SetStackTop(L, 0);

    // Handles: stored as 0 in the binary image.
    PushNewTable(L);
    PushString(L, "h");
    PushPointer(L, &rc);
    SetTableValue(L, 1);
    ASSERT_EQ(PushTableImageString(L, 1), 0);
    std::string image(ValueToString(L, -1), ValueStringLength(L, -1));
    ASSERT_EQ(ReadTableImageMemory(L, image.data(), image.size()), 0);
    EXPECT_EQ(DescribeTable(L, -1), "{\"h\"=0}");
}

TEST(SerializeImage, DeeplyNestedInputIsRefused)
{
    TestMachine m;
    std::string image = "LVT0";
    for (int i = 0; i < 5000; i++) image += Bytes({2, 0, 0, 0, 0, 0, 0, 0, 0, 4});
    EXPECT_EQ(ReadTableImageMemory(m.L, image.data(), image.size()), ERR_STACK);
    EXPECT_EQ(GetStackTop(m.L), 0);
}

TEST(Base64, EncodeAndDecode)
{
    struct Case {
        std::string bytes;
        const char *text;
    };
    const Case cases[] = {{"", ""}, {"f", "Zg=="}, {"fo", "Zm8="}, {"foo", "Zm9v"}, {"foob", "Zm9vYg=="},
                          {std::string("\0\xff\xfe", 3), "AP/+"}};
    for (const Case &c : cases) {
        std::string t;
        AppendBase64(t, c.bytes.data(), c.bytes.size());
        EXPECT_EQ(t, c.text);
        std::vector<uint8_t> out(t.size() + 3);
        size_t n;
        ASSERT_EQ(DecodeBase64(t.data(), t.size(), out.data(), &n), 0);
        EXPECT_EQ(std::string(reinterpret_cast<char *>(out.data()), n), c.bytes);
    }
    struct Bad {
        const char *text;
        int rc;
        const char *bytes;
    };
    const Bad bad[] = {
        {"Zm9v\r\n Zm9v", 0, "foofoo"},  // blanks and line breaks are skipped
        {"Zg==Zm9v", 0, "f"},            // decoding stops after padding
        {"Zm9", ERR_BADBASE64, ""},      // an unfinished group
        {"Zm9vZ", ERR_BADBASE64, "foo"}, // complete groups before it are kept
        {"Zm9v*", ERR_BADBASE64, "foo"},
    };
    for (const Bad &b : bad) {
        std::vector<uint8_t> out(64);
        size_t n;
        EXPECT_EQ(DecodeBase64(b.text, std::strlen(b.text), out.data(), &n), b.rc) << b.text;
        EXPECT_EQ(std::string(reinterpret_cast<char *>(out.data()), n), b.bytes) << b.text;
    }
}

TEST(Serializer, NamesAndInitialisationFailures)
{
    TestMachine m;
    lvState *L = m.L;
    EXPECT_TRUE(IsInbuiltSerializer(nullptr));
    EXPECT_TRUE(IsInbuiltSerializer(""));
    EXPECT_TRUE(IsInbuiltSerializer("InBuilt"));
    EXPECT_FALSE(IsInbuiltSerializer("default"));
    EXPECT_EQ(FindSerializer("default"), GetJsonSerializer());
    EXPECT_EQ(FindSerializer("plugin|inbuilt"), nullptr);

    PushNewTable(L);
    SetNumberNumber(L, 0, 1);
    lvSerializeOptions o;
    InitSerializeOptions(&o);
    o.name = "plugin|inbuilt";
    lvSerialBuffer b{};
    EXPECT_EQ(SerializeWithAdapter(L, 1, &o, nullptr, &b), ERR_FINDPLUGIN);
    EXPECT_STREQ(gVMRun.errorStringArg, "plugin|inbuilt");

    // A registered serializer is found by name, a disabled one is not.
    lvSerializer plugin = *GetJsonSerializer();
    plugin.name = "MyJson";
    RegisterSerializer(&plugin);
    EXPECT_EQ(FindSerializer("myjson"), &plugin);
    plugin.disabled = 1;
    EXPECT_EQ(FindSerializer("myjson"), nullptr);
    UnregisterSerializer(&plugin);
    plugin.disabled = 0;
    EXPECT_EQ(FindSerializer("myjson"), nullptr);

    // A mode outside 0..2 is refused by the JSON serializer only.
    o.name = nullptr;
    o.mode = 5;
    o.modeSet = 1;
    EXPECT_EQ(SerializeWithAdapter(L, 1, &o, nullptr, &b), ERR_SERIALIZE);
    FreeMemory(b.data);
    EXPECT_EQ(PushTableImageString(L, 1), 0);

    o.mode = 0;
    o.srcEncoding = 2;
    EXPECT_EQ(CheckSerializeEncodings(&o), ERR_BADENCODING);
    o.srcEncoding = -1;
    EXPECT_EQ(CheckSerializeEncodings(&o), 0);
}

}  // namespace

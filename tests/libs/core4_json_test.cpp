// JSON serializer: golden texts byte for byte, the " b"/" f" markers, the three modes,
// the reader's refusals, encodings, and random tables that must round-trip.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "core4_support.h"
#include "libs/json_engine.h"
#include "libs/serialize_engine.h"
#include "base/lverrors.h"
#include "tools/lvasm/lvasm.h"

namespace {

struct JsonResult {
    int rc;
    std::string text;
};

JsonResult ToJson(lvState *L, int index, int mode, int src = -1, int dst = -1)
{
    lvSerializeOptions o;
    InitSerializeOptions(&o);
    o.mode = mode;
    o.modeSet = 1;
    o.srcEncoding = src;
    o.dstEncoding = dst;
    lvSerialBuffer b{};
    int rc = SerializeWithAdapter(L, index, &o, nullptr, &b);
    JsonResult r{rc, std::string(reinterpret_cast<char *>(b.data), b.length)};
    FreeMemory(b.data);
    return r;
}

// Reads text; on success the table is on the top of the stack.
int FromJson(lvState *L, const std::string &text, int mode = 0, int noLowerCase = 0, int src = -1, int dst = -1)
{
    lvSerializeOptions o;
    InitSerializeOptions(&o);
    o.mode = mode;
    o.modeSet = 1;
    o.noLowerCase = noLowerCase;
    o.srcEncoding = src;
    o.dstEncoding = dst;
    lvSerialBuffer b{reinterpret_cast<uint8_t *>(const_cast<char *>(text.data())), 0, text.size(), text.size()};
    int top = GetStackTop(L);
    int rc = DeserializeWithAdapter(L, &o, nullptr, &b, 0);
    EXPECT_EQ(GetStackTop(L), rc ? top : top + 1);
    return rc;
}

std::string ReadBack(lvState *L, const std::string &text, int mode = 0, int noLowerCase = 0)
{
    int rc = FromJson(L, text, mode, noLowerCase);
    if (rc) return "error " + std::to_string(rc);
    std::string d = DescribeTable(L, -1);
    SetStackTop(L, -2);
    return d;
}

TEST(JsonWrite, GoldenTexts)
{
    TestMachine m;
    lvState *L = m.L;
    PushNewTable(L);
    for (int mode = 0; mode < 3; mode++) EXPECT_EQ(ToJson(L, 1, mode).text, "[]\r\n") << mode;
    SetStackTop(L, 0);

    PushNewTable(L);
    for (int i = 0; i < 3; i++) SetNumberNumber(L, i, i + 1);
    for (int mode = 0; mode < 3; mode++) EXPECT_EQ(ToJson(L, 1, mode).text, "[\r\n\t1,\r\n\t2,\r\n\t3\r\n]\r\n") << mode;
    SetStackTop(L, 0);

    // {a = 1, b = {}}: b on one line; the member order is the table's.
    PushNewTable(L);
    SetStringNumber(L, "a", 1);
    PushString(L, "b");
    PushNewTable(L);
    SetTableValue(L, 1);
    std::string t = ToJson(L, 1, 0).text;
    EXPECT_TRUE(t == "{\r\n\t\"a\": 1,\r\n\t\"b\": []\r\n}\r\n" || t == "{\r\n\t\"b\": [],\r\n\t\"a\": 1\r\n}\r\n") << t;
    SetStackTop(L, 0);

    // Nested containers: one TAB more per level, brackets of list items on their own lines.
    PushNewTable(L);
    PushNumber(L, 0);
    PushNewTable(L);
    SetStringString(L, "k", "v");
    SetTableValue(L, 1);
    PushNumber(L, 1);
    PushNewTable(L);
    SetNumberNumber(L, 0, 5);
    SetTableValue(L, 1);
    EXPECT_EQ(ToJson(L, 1, 0).text,
              "[\r\n\t{\r\n\t\t\"k\": \"v\"\r\n\t},\r\n\t[\r\n\t\t5\r\n\t]\r\n]\r\n");
    EXPECT_EQ(ReadBack(L, ToJson(L, 1, 0).text), DescribeTable(L, 1));
}

TEST(JsonWrite, NumbersAndStrings)
{
    struct Case {
        double n;
        const char *text;
    };
    const Case cases[] = {{3, "3"}, {0.5, "0.5"}, {9007199254740992.0, "9007199254740992"},
                          {0.1, "0.10000000000000001"}, {-2, "-2"}, {1e300, "1.0000000000000001e+300"},
                          {NAN, "null"}};
    for (const Case &c : cases) {
        char b[32];
        FormatJsonNumber(c.n, b);
        EXPECT_STREQ(b, c.text);
    }
    TestMachine m;
    lvState *L = m.L;
    PushNewTable(L);
    SetNumberString(L, 0, std::string("\x01\t\"\\/\x7f\xc3\xa9", 8));
    std::string text = ToJson(L, 1, 0).text;
    EXPECT_EQ(text, "[\r\n\t\"\\u0001\\t\\\"\\\\/\\u007f\xc3\xa9\"\r\n]\r\n");
    // DEL comes back as it went out.
    EXPECT_EQ(ReadBack(L, text), DescribeTable(L, 1));
    EXPECT_EQ(ReadBack(L, "[\"a\x7f\"]"), "{0=\"a\\x7f\"}");
}

TEST(JsonWrite, MarkersKeepBinaryStringsAndFunctions)
{
    std::vector<uint8_t> chunk = AsmAssembleOrThrow("loadk r0 7\nreturn r0 2\n");
    TestMachine m;
    lvState *L = m.L;
    PushNewTable(L);
    SetStringString(L, "s", std::string("a\0b", 3));
    PushString(L, "f");
    ASSERT_EQ(LoadChunkBuffer(L, chunk.data(), chunk.size(), "=t"), 0);
    SetTableValue(L, 1);
    JsonResult r = ToJson(L, 1, 0);
    ASSERT_EQ(r.rc, 0);
    EXPECT_NE(r.text.find("\t\"s b\": \"YQBi\""), std::string::npos) << r.text;
    EXPECT_NE(r.text.find("\t\"f f\": \""), std::string::npos) << r.text;
    ASSERT_EQ(FromJson(L, r.text), 0);
    EXPECT_EQ(DescribeTable(L, -1), DescribeTable(L, 1));
    PushString(L, "f");
    GetTableValue(L, -2);
    ASSERT_EQ(CallFunction(L, 0, 1), 0);
    EXPECT_EQ(ValueToNumber(L, -1), 7);
    // Modes 1 and 2 cannot hold them.
    EXPECT_EQ(ToJson(L, 1, 1).rc, ERR_SERIALIZE);
    EXPECT_EQ(ToJson(L, 1, 2).rc, ERR_SERIALIZE);
}

TEST(JsonRead, KeysAndModes)
{
    TestMachine m;
    lvState *L = m.L;
    // Number key 0 and string key x: an object in mode 0, and back.
    PushNewTable(L);
    SetNumberString(L, 0, "zero");
    SetStringString(L, "x", "ex");
    JsonResult r = ToJson(L, 1, 0);
    EXPECT_NE(r.text.find("\"0\": \"zero\""), std::string::npos);
    EXPECT_EQ(ReadBack(L, r.text), "{\"x\"=\"ex\",0=\"zero\"}");
    EXPECT_EQ(ToJson(L, 1, 1).rc, ERR_SERIALIZE);  // mixed keys
    SetStackTop(L, 0);

    EXPECT_EQ(ReadBack(L, "{\"-1\": 1}"), "{\"-1\"=1}");
    EXPECT_EQ(ReadBack(L, "{\"Name\": 1}"), "{\"name\"=1}");
    EXPECT_EQ(ReadBack(L, "{\"Name\": 1}", 0, 1), "{\"Name\"=1}");
    EXPECT_EQ(ReadBack(L, "{\"Name\": 1}", 1), "{\"name\"=1}");
    EXPECT_EQ(ReadBack(L, "{\"Name\": 1}", 2), "{0={\"key\"=\"Name\",\"value\"=1}}");
    EXPECT_EQ(ReadBack(L, "[true, false, null, -1.5e2, 0]"), "{0=1,1=0,2=0,3=-150,4=0}");
    EXPECT_EQ(ReadBack(L, " \t\r\n{ \"a\" : [ ] , \"b\":{}}\r\n "), "{\"a\"={},\"b\"={}}");

    // Mode 1: keys 1 and 5 only are no pure list.
    PushNewTable(L);
    SetNumberNumber(L, 1, 1);
    SetNumberNumber(L, 5, 5);
    EXPECT_EQ(ToJson(L, 1, 1).rc, ERR_SERIALIZE);
    EXPECT_EQ(ToJson(L, 1, 0).rc, 0);
    SetStackTop(L, 0);
    // Mode 1 keeps plain objects.
    PushNewTable(L);
    SetStringString(L, "first name", "Ada");
    r = ToJson(L, 1, 1);
    EXPECT_EQ(r.text, "{\r\n\t\"first name\": \"Ada\"\r\n}\r\n");
    EXPECT_EQ(ReadBack(L, r.text, 1), "{\"first name\"=\"Ada\"}");
    EXPECT_EQ(ToJson(L, 1, 0).rc, ERR_SERIALIZE);  // a space needs a plain key in mode 0
}

TEST(JsonRead, ListModeKeepsMemberOrder)
{
    TestMachine m;
    lvState *L = m.L;
    ASSERT_EQ(FromJson(L, "{\"b\": 1, \"a\": 2}", 2), 0);
    EXPECT_EQ(DescribeTable(L, 1), "{0={\"key\"=\"b\",\"value\"=1},1={\"key\"=\"a\",\"value\"=2}}");
    JsonResult r = ToJson(L, 1, 2);
    ASSERT_EQ(r.rc, 0);
    EXPECT_EQ(r.text, "{\r\n\t\"b\": 1,\r\n\t\"a\": 2\r\n}\r\n");
    SetStackTop(L, 0);

    // Records holding tables and lists of records.
    const char *text = "{\r\n\t\"x\": [\r\n\t\t1,\r\n\t\t2\r\n\t],\r\n\t\"y\": {\r\n\t\t\"z\": \"w\"\r\n\t},\r\n"
                       "\t\"e\": []\r\n}\r\n";
    ASSERT_EQ(FromJson(L, text, 2), 0);
    r = ToJson(L, 1, 2);
    ASSERT_EQ(r.rc, 0);
    EXPECT_EQ(r.text, text);
    SetStackTop(L, 0);

    // Plain string keys and a "value" without its "key" are refused.
    PushNewTable(L);
    SetStringNumber(L, "a", 1);
    EXPECT_EQ(ToJson(L, 1, 2).rc, ERR_SERIALIZE);
    SetStackTop(L, 0);
    PushNewTable(L);
    PushNumber(L, 0);
    PushNewTable(L);
    SetStringNumber(L, "key", 1);
    SetTableValue(L, 1);
    EXPECT_EQ(ToJson(L, 1, 2).rc, ERR_WRONGUSAGE);  // a record without its value
}

TEST(JsonRead, Refusals)
{
    TestMachine m;
    lvState *L = m.L;
    const char *bad[] = {
        "",
        "1",
        "[1,]",
        "[+1]",
        "[.5]",
        "[1] x",
        "[1]]",
        "[1}",
        "{\"a\" 1}",
        "{\"\": 1}",
        "{a: 1}",
        "[\"a\x01\"]",
        "[\"\\x\"]",
        "[\"abc",
        "[1",
        "[tru]",
        "{\"a bb\": \"AAAA\"}",
        "{\" b\": \"AAAA\"}",
        "{\"a b\": 1}",
        "{\"a b\": \"!!!!\"}",
        "{\"a\tb\": 1}",
    };
    for (const char *text : bad) EXPECT_EQ(FromJson(L, text), ERR_DESERIALIZE) << text;
    // Marked members: bytes that are no chunk fail in the loader.
    EXPECT_EQ(ReadBack(L, "{\"a b\": \"AAAA\"}"), "{\"a\"=\"\\x00\\x00\\x00\"}");
    EXPECT_NE(FromJson(L, "{\"a f\": \"AAAA\"}"), 0);
    EXPECT_EQ(FromJson(L, "[" + std::string(255, '1') + "]"), 0);
    SetStackTop(L, 0);
    EXPECT_EQ(FromJson(L, "[" + std::string(256, '1') + "]"), ERR_DESERIALIZE);
    // "\u" above 255 cannot be ISO-8859-1.
    EXPECT_EQ(FromJson(L, "[\"\\u0100\"]", 0, 0, 0, 0), ERR_DESERIALIZE);
}

TEST(JsonRead, Encodings)
{
    TestMachine m;
    lvState *L = m.L;
    ASSERT_EQ(FromJson(L, "[\"\\u00E9\"]", 0, 0, 1, 1), 0);
    EXPECT_EQ(DescribeTable(L, -1), "{0=\"\\xc3\\xa9\"}");
    ASSERT_EQ(FromJson(L, "[\"\\u00E9\"]", 0, 0, 0, 0), 0);
    EXPECT_EQ(DescribeTable(L, -1), "{0=\"\\xe9\"}");
    // A surrogate pair is one character.
    ASSERT_EQ(FromJson(L, "[\"\\ud83d\\ude00\"]", 0, 0, 1, 1), 0);
    EXPECT_EQ(DescribeTable(L, -1), "{0=\"\\xf0\\x9f\\x98\\x80\"}");
    // UTF-8 text read into ISO-8859-1 and written back.
    ASSERT_EQ(FromJson(L, "{\"caf\xc3\xa9\": \"\xc3\xa9t\xc3\xa9\"}", 0, 0, 1, 0), 0);
    EXPECT_EQ(DescribeTable(L, -1), "{\"caf\\xe9\"=\"\\xe9t\\xe9\"}");
    JsonResult r = ToJson(L, GetStackTop(L), 0, 0, 1);
    EXPECT_EQ(r.text, "{\r\n\t\"caf\xc3\xa9\": \"\xc3\xa9t\xc3\xa9\"\r\n}\r\n");
}

// Random tables of numbers, strings (text and binary), nested tables, number and
// string keys must come back the same through mode 0.
void PushRandomTable(lvState *L, std::mt19937 &rng, int depth)
{
    PushNewTable(L);
    int n = int(rng() % 6);
    bool list = rng() % 3 == 0;
    for (int i = 0; i < n; i++) {
        if (list) {
            PushNumber(L, i);
        } else if (rng() % 2) {
            PushNumber(L, double(rng() % 1000));
        } else {
            std::string k(1, char('a' + rng() % 26));
            int len = int(rng() % 12);
            for (int j = 0; j < len; j++) k.push_back(char(33 + rng() % 94));
            for (char &c : k)
                if (c >= 'A' && c <= 'Z') c = char(c + 32);
            PushSizedString(L, k.data(), k.size());
        }
        switch (rng() % 4) {
        case 0: {
            double d = std::ldexp(double(int64_t(rng()) - 2147483648ll), int(rng() % 80) - 40);
            PushNumber(L, d);
            break;
        }
        case 1: {
            std::string s;
            int len = int(rng() % 20);
            for (int j = 0; j < len; j++) s.push_back(char(rng() % 256));
            PushSizedString(L, s.data(), s.size());
            break;
        }
        case 2: {
            std::string s;
            int len = int(rng() % 20);
            for (int j = 0; j < len; j++) s.push_back(char(32 + rng() % 95));
            PushSizedString(L, s.data(), s.size());
            break;
        }
        default:
            if (depth < 4) PushRandomTable(L, rng, depth + 1);
            else PushNumber(L, 0);
        }
        SetTableValue(L, -3);
    }
}

TEST(JsonProperty, RandomTablesRoundTrip)
{
    TestMachine m;
    lvState *L = m.L;
    std::mt19937 rng(1234);
    for (int i = 0; i < 400; i++) {
        PushRandomTable(L, rng, 0);
        JsonResult r = ToJson(L, 1, 0);
        ASSERT_EQ(r.rc, 0) << DescribeTable(L, 1);
        ASSERT_EQ(FromJson(L, r.text), 0) << r.text;
        ASSERT_EQ(DescribeTable(L, 2), DescribeTable(L, 1)) << r.text;
        // And the binary image.
        ASSERT_EQ(PushTableImageString(L, 1), 0);
        std::string image(ValueToString(L, -1), ValueStringLength(L, -1));
        ASSERT_EQ(ReadTableImageMemory(L, image.data(), image.size()), 0);
        ASSERT_EQ(DescribeTable(L, -1), DescribeTable(L, 1));
        SetStackTop(L, 0);
    }
}

TEST(JsonWrite, HandlesAndKeyValueRecords)
{
    TestMachine m;
    lvState *L = m.L;
    int x;
    PushNewTable(L);
    PushString(L, "h");
    PushPointer(L, &x);
    SetTableValue(L, 1);
    EXPECT_EQ(ToJson(L, 1, 0).rc, ERR_SERIALIZETYPE);
    SetStackTop(L, 0);
    // A {key, value} record reaches the serializer as "key" then "value".
    PushNewTable(L);
    SetStringString(L, "value", "v");
    SetStringString(L, "key", "k");
    EXPECT_EQ(ToJson(L, 1, 0).text, "{\r\n\t\"key\": \"k\",\r\n\t\"value\": \"v\"\r\n}\r\n");
}

}  // namespace

namespace {
TEST(JsonProperty, ListModeTablesRewriteInModeZero)
{
    TestMachine m;
    lvState *L = m.L;
    ASSERT_EQ(FromJson(L, "{\"b\": 1, \"a\": [1, {\"c\": null}], \"e\": {}}", 2), 0);
    JsonResult r = ToJson(L, 1, 0);
    ASSERT_EQ(r.rc, 0);
    ASSERT_EQ(FromJson(L, r.text), 0) << r.text;
    EXPECT_EQ(DescribeTable(L, 2), DescribeTable(L, 1));
}
}  // namespace

namespace {
// Member names are escaped like strings: a quotation mark or a backslash in a key
// must not end the name early.
TEST(JsonWrite, KeysWithQuotesAndBackslashesReadBack)
{
    TestMachine m;
    lvState *L = m.L;
    PushNewTable(L);
    SetStringNumber(L, "a\"b", 1);
    SetStringNumber(L, "c\\d", 2);
    JsonResult r = ToJson(L, 1, 0);
    ASSERT_EQ(r.rc, 0);
    EXPECT_NE(r.text.find("\"a\\\"b\": 1"), std::string::npos) << r.text;
    ASSERT_EQ(FromJson(L, r.text), 0) << r.text;
    EXPECT_EQ(DescribeTable(L, 2), DescribeTable(L, 1));
}
}  // namespace

// strlib_text_test.cpp - the string library's text commands through their
// globals: every table runs with UTF-8 as the default encoding and again with
// bytes; a row with a second answer differs in byte mode.
#include <cctype>
#include <string>

#include "libs/lib_string.h"
#include "libs/strings_engine.h"
#include "runtime/cmdsupport.h"
#include "tests/libs/strlib_harness.h"

using namespace std::string_literals;

TEST_F(StringLibTest, LengthsPiecesAndOffsets)
{
    RunCases({
        {"StrLen", {"é", 1}, "1"},
        {"StrLen", {"é", 0}, "2"},
        {"StrLen", {"é"}, "1", "2"},
        {"StrLen", {12345}, "5"},
        {"ByteLen", {"é"}, "2"},
        {"ByteOffset", {"aé b", 2, 1}, "3"},
        {"ByteOffset", {"aé b", 2, 0}, "2"},
        {"ByteOffset", {"abc", 3}, "error 1055"},
        {"ByteOffset", {"abc", -1}, "error 1055"},
        {"CharOffset", {"aé", 2, 1}, "1"},
        {"CharOffset", {"aé", 2, 0}, "2"},
        {"CharOffset", {"aé", 3, 1}, "error 1055"},
        {"CharOffset", {"a\xff", 1, 1}, "1"},
        {"CharWidth", {"aé", 1, 1}, "2"},
        {"CharWidth", {"aé", 1, 0}, "1"},
        {"CharWidth", {"aé", 2, 1}, "error 1055"},
        {"UnleftStr", {"abcdef", 2}, "'abcd'"},
        {"UnrightStr", {"abcdef", 2}, "'cdef'"},
        {"UnrightStr", {"abcdef", 6}, "''"},
        {"UnrightStr", {"abcdef", -1}, "error 1055"},
        {"UnleftStr", {"abcdef", -1}, "error 1055"},
        {"UnrightStr", {"äbc", 1}, "'bc'", "'\\xa4bc'"},
        {"MidStr", {"abcdef", 2}, "'cdef'"},
        {"MidStr", {"abcdef", 2, 10}, "'cdef'"},
        {"MidStr", {"abcdef", 6}, "''"},
        {"MidStr", {"abcdef", 1, 0}, "''"},
        {"MidStr", {"äbc", 1, 1}, "'b'", "'\\xa4'"},
        {"RightStr", {"abc", 5}, "'abc'"},
        {"RightStr", {"abc", 0}, "''"},
        {"RightStr", {"abcä", 1}, "'ä'", "'\\xa4'"},
        {"LeftStr", {"äbc", 1}, "'ä'", "'\\xc3'"},
        {"LeftStr", {"abc", -2}, "''"},
        {"LeftStr", {"abc", "2"}, "'ab'"},
        {"UnmidStr", {"abcdef", 1, 2}, "'adef'"},
        {"UnmidStr", {"abcdef", 4, 10}, "'abcd'"},
        {"UnmidStr", {"abc", 5, 1}, "'abc'"},
        {"UnmidStr", {"abcdef", -1, 1}, "error 1055"},
        {"UnmidStr", {"abcdef", 1, -1}, "error 1055"},
        {"InsertStr", {"abc", "X", 1}, "'aXbc'"},
        {"InsertStr", {"abcd", "XY", 1, 1}, "'aXYd'"},
        {"InsertStr", {"abc", "X", 10}, "'abcX'"},
        {"InsertStr", {"", "X", 0}, "'X'"},
        {"InsertStr", {"abc", "", 1}, "'abc'"},
        {"InsertStr", {"abc", "X", -1}, "error 1055"},
        {"InsertStr", {"äb", "X", 1}, "'äXb'", "'\\xc3X\\xa4b'"},
        {"AddStr", {"ab", 12}, "'ab12'"},
        {"AddStr", {"a\0"s, "\0b"s}, "'a\\x00\\x00b'"},
        {"RepeatStr", {"ab", 3}, "'ababab'"},
        {"RepeatStr", {"ab", 0}, "''"},
        {"RepeatStr", {"ab", -1}, "error 1055"},
        {"ReverseStr", {"aé"}, "'éa'", "'\\xa9\\xc3a'"},
        {"ReverseStr", {"a\xff", 1}, "'\\xffa'"},
        {"TrimStr", {"xxaxx", "x", 0}, "'axx'"},
        {"TrimStr", {"xxaxx", "x", 1}, "'xxa'"},
        {"TrimStr", {"xxxx", "x", 1}, "''"},
        {"TrimStr", {"ééaé", "é", 0}, "'aé'", "error 1055"},
        {"TrimStr", {"aa", "ab", 0}, "error 1055"},
        {"StripStr", {" \t ab \n\r"}, "'ab'"},
        {"EmptyStr", {" \t\n"}, "1"},
        {"EmptyStr", {""}, "1"},
        {"EmptyStr", {" a"}, "0"},
        {"ValidateStr", {"a\xff", 1}, "0 1"},
        {"ValidateStr", {"aé", 1}, "1 2"},
        {"ValidateStr", {"\xed\xa0\x80", 1}, "0 0"},
        {"ValidateStr", {"a\xff", 0}, "1 -1"},
        {"SplitStr", {",a,,b,", ","}, "{'' 'a' '' 'b' ''} 5"},
        {"SplitStr", {",a,,b,", ",", 1}, "{'' 'a' 'b' ''} 4"},
        {"SplitStr", {"abc", ","}, "{'abc'} 1"},
        {"SplitStr", {"a::b", "::"}, "{'a' 'b'} 2"},
        {"SplitStr", {"abc", ""}, "error 1055"},
    });
}

TEST_F(StringLibTest, CaseAndCharacters)
{
    RunCases({
        {"UpperStr", {"äbc"}, "'ÄBC'", "'äBC'"},
        {"LowerStr", {"ÄÖ", 1}, "'äö'"},
        {"UpperStr", {"\xe4", 0}, "'\\xc4'"},
        {"LowerStr", {"\xc4", 0}, "'\\xe4'"},
        {"LowerStr", {"A\0B"s, 1}, "'a\\x00b'"},
        {"UpperStr", {"\xff", 1}, "error 1588@1"},
        {"Chr", {0}, "''"},
        {"Chr", {65}, "'A'"},
        {"Chr", {233}, "'é'", "'\\xe9'"},
        {"Chr", {0x20AC, 1}, "'€'"},
        {"Chr", {0x110000, 1}, "error 1055"},
        {"Chr", {256, 0}, "error 1055"},
        {"ByteChr", {0}, "'\\x00'"},
        {"ByteChr", {255}, "'\\xff'"},
        {"ByteChr", {256}, "error 1055"},
        {"ByteChr", {-1}, "error 1055"},
        {"Asc", {"é"}, "233", "195"},
        {"Asc", {""}, "0"},
        {"Asc", {"abc", 2}, "99"},
        {"Asc", {"abc", 3}, "error 1055"},
        {"ByteAsc", {"é", 1}, "169"},
        {"ByteAsc", {"é", 2}, "error 1055"},
        {"ByteAsc", {""}, "error 1055"},
        {"StrToArray", {"aé"}, "{97 233 0}", "{97 195 169 0}"},
        {"StrToArray", {""}, "{0}"},
        {"ArrayToStr", {ListArg({72, 105, 0, 65})}, "'Hi'"},
        {"ArrayToStr", {ListArg({65, "x", 66})}, "'A'"},
        {"ArrayToStr", {ListArg({0x20AC}), 1}, "'€'"},
        {"ArrayToStr", {ListArg({0x110000}), 1}, "error 1055"},
        {"ArrayToStr", {ListArg({0x141, 0x42}), 0}, "'AB'"},
        {"ArrayToStr", {"abc"}, "error 1140@1"},
        {"IsAlpha", {"é"}, "1"},
        {"IsAlpha", {"\xe9", 0, 0}, "1"},
        {"IsUpper", {"É", 0, 1}, "1"},
        {"IsLower", {"É", 0, 1}, "0"},
        {"IsLower", {"aé", 1}, "1", "0"},
        {"IsDigit", {"a5", 1}, "1"},
        {"IsDigit", {"\xb2", 0, 0}, "0"},
        {"IsSpace", {"a b", 1}, "1"},
        {"IsXDigit", {"fg", 0}, "1"},
        {"IsXDigit", {"fg", 1}, "0"},
        {"IsPunct", {"!"}, "1"},
        {"IsCntrl", {"\x7f"}, "1"},
        {"IsGraph", {" "}, "0"},
        {"IsPrint", {" "}, "1"},
        {"IsAlNum", {"_"}, "0"},
        {"IsAlNum", {""}, "error 1055"},
        {"IsAlpha", {"abc", 3}, "error 1055"},
        {"IsAlpha", {"\xff", 0, 1}, "error 1588@1"},
        {"ConvertStr", {"é", 1, 0}, "'\\xe9'"},
        {"ConvertStr", {"\xe9", 0, 1}, "'é'"},
        {"ConvertStr", {"€", 1, 0}, "'?'"},
        {"ConvertStr", {"ab\0cd"s, 0, 0}, "'ab'"},
        {"ConvertStr", {"ab", 2, 2}, "'ab'"},
        {"ConvertStr", {"a", 0, 2}, "error 1303"},
        {"ConvertStr", {"a", 2, 3}, "error 1303"},
    });
}

TEST_F(StringLibTest, Searching)
{
    RunCases({
        {"FindStr", {"abcabc", "c", 1, 3}, "5"},
        {"FindStr", {"", "x"}, "-1"},
        {"FindStr", {"abc", ""}, "-1"},
        {"FindStr", {"abc", "c", 1, 3}, "-1"},
        {"FindStr", {"abc", "x", 1, -1}, "error 1055"},
        {"FindStr", {"äbc", "c"}, "2", "3"},
        {"FindStr", {"ÄBC", "äb", 0}, "0", "-1"},
        {"ReverseFindStr", {"abcabc", "abc"}, "3"},
        {"ReverseFindStr", {"", "x"}, "-1"},
        {"ReverseFindStr", {"", "x", 1, 0}, "-1"},
        {"ReverseFindStr", {"abc", "a", 1, 3}, "error 1055"},
        {"ReverseFindStr", {"abcabc", "abc", 1, 2}, "0"},
        {"ReverseFindStr", {"abc", "abcd"}, "-1"},
        {"ReverseFindStr", {"äbä", "ä"}, "2", "3"},
        {"ReverseFindStr", {"ABCabc", "abc", 0, 2}, "0"},
        {"CountStr", {"aaaa", "aa"}, "2"},
        {"CountStr", {"", "a"}, "0"},
        {"CountStr", {"abab", "ab", 1, 1}, "1"},
        {"CountStr", {"abab", "ab", 1, 4}, "0"},
        {"CountStr", {"abab", "ab", 1, -1}, "error 1055"},
        {"CountStr", {"AbAB", "ab", 0}, "2"},
        {"ReplaceStr", {"aaaa", "aa", "b"}, "'bb'"},
        {"ReplaceStr", {"abcabc", "b", "XY", 1, 2}, "'abcaXYc'"},
        {"ReplaceStr", {"abc", "", "X"}, "'abc'"},
        {"ReplaceStr", {"abc", "b", "X", 1, 10}, "'abc'"},
        {"ReplaceStr", {"abc", "b", "X", 1, -1}, "error 1055"},
        {"ReplaceStr", {"aBc", "b", "X", 0}, "'aXc'"},
        {"ReplaceStr", {"äbä", "b", "-", 1, 1}, "'ä-ä'"},
        {"ReplaceStr", {"a", "b", "\xff", 1, 0, 1}, "error 1588@3"},
        {"StartsWith", {"abc", ""}, "0"},
        {"StartsWith", {"abc", "ab"}, "1"},
        {"StartsWith", {"ab", "abc"}, "0"},
        {"StartsWith", {"ÄBC", "äb", 0, 1}, "1"},
        {"EndsWith", {"Abc", "BC", 0}, "1"},
        {"EndsWith", {"Abc", "BC"}, "0"},
        {"EndsWith", {"abc", ""}, "0"},
        {"CompareStr", {"a", "b"}, "-1"},
        {"CompareStr", {"b", "a"}, "1"},
        {"CompareStr", {"abc", "abc"}, "0"},
        {"CompareStr", {"abc", "ABC", 0}, "0"},
        // Without case in ISO-8859-1 the answer is the distance of the first differing bytes.
        {"CompareStr", {"a", "D", 0}, "-1", "-3"},
        {"CompareStr", {"Za", "zD", 0}, "-1", "-3"},
        {"CompareStr", {"a\xff", "a", 1, 1}, "error 1588@1"},
        {"CompareStr", {"a", "a\xff", 1, 1}, "error 1588@2"},
    });
}

TEST_F(StringLibTest, IgnoreCaseChangesTheDefaultOfEverySearch)
{
    EXPECT_EQ(Call("FindStr", {"ABC", "b"}), "-1");
    EXPECT_EQ(Call("IgnoreCase", {1}), "");
    EXPECT_EQ(Call("FindStr", {"ABC", "b"}), "1");
    EXPECT_EQ(Call("ReverseFindStr", {"ABCabc", "ABC"}), "3");
    EXPECT_EQ(Call("CountStr", {"AbAB", "ab"}), "2");
    EXPECT_EQ(Call("ReplaceStr", {"AbAB", "ab", "-"}), "'--'");
    EXPECT_EQ(Call("StartsWith", {"ABC", "ab"}), "1");
    EXPECT_EQ(Call("EndsWith", {"ABC", "bc"}), "1");
    EXPECT_EQ(Call("CompareStr", {"abc", "ABC"}), "0");
    // An explicit argument still wins.
    EXPECT_EQ(Call("FindStr", {"ABC", "b", 1}), "-1");
    EXPECT_EQ(Call("IgnoreCase", {0}), "");
    EXPECT_EQ(Call("FindStr", {"ABC", "b"}), "-1");
    EXPECT_EQ(Call("IgnoreCase", {}), "error 1014");
}

TEST_F(StringLibTest, NumbersAsText)
{
    RunCases({
        {"Val", {"$1F"}, "31 3"},
        {"Val", {"-0x10"}, "-16 5"},
        {"Val", {"abc"}, "0 0"},
        {"Val", {"%101"}, "5 4"},
        {"Val", {"12.5e1xyz"}, "125 6"},
        {"Val", {"$"}, "0 0"},
        {"StrStr", {3.14159}, "'3.14'"},
        {"StrStr", {2.999, 1}, "'2.9'"},
        {"StrStr", {1.5e20, 0}, "'1e+20'"},
        {"StrStr", {42}, "'42'"},
        {"StrStr", {-1.25, -1}, "'-1.'"},
        {"HexStr", {255}, "'$FF'"},
        {"HexStr", {0}, "'$0'"},
        {"BinStr", {5, 7}, "'00000101'"},
        {"BinStr", {5, 11}, "''"},
        {"BinStr", {5}, "'00000000000000000000000000000101'"},
        {"BinStr", {-1, 6}, "'1111111111111111'"},
        {"PadNum", {42, 5}, "'00042'"},
        {"PadNum", {123456, 3}, "'123456'"},
        {"PadNum", {-1, 3}, "error 1055"},
        {"PadNum", {1, 0}, "error 1055"},
        {"ToNumber", {"ff", 16}, "255"},
        {"ToNumber", {"12x", 10}, "0"},
        {"ToNumber", {"12x"}, "0"},
        {"ToNumber", {"0x10"}, "16"},
        {"ToNumber", {" -101", 2}, "-5"},
        {"ToNumber", {"Z", 36}, "35"},
        {"ToNumber", {"12 x", 16}, "0"},
        {"ToNumber", {"z", 37}, "error 1055"},
        {"ToNumber", {"z", 1}, "error 1055"},
        {"ToNumber", {PointerArg(4096)}, "4096"},
        {"ToUserData", {4096}, "pointer:4096"},
        {"FormatNumber", {1234567.891, 2}, "'1,234,567.89'"},
        {"FormatNumber", {999}, "'999'"},
        {"FormatNumber", {1000}, "'1,000'"},
        {"FormatNumber", {-1234, 0, ",", "."}, "'-1.234'"},
        {"FormatNumber", {1234.5, 1, " pt "}, "'1,234 pt 5'"},
        {"FormatNumber", {1, 18}, "error 1055"},
        {"FormatNumber", {1, -1}, "error 1055"},
        {"FormatNumber", {1, 0, "12345"}, "error 1055"},
        {"ByteVal", {"\xff\xfe", 6}, "65534"},
        {"ByteVal", {"\x01\x02", 6, 1}, "513"},
        {"ByteVal", {"\xff\xff\xff\xff"}, "4294967295"},
        {"ByteVal", {"ab"}, "error 1146"},
        {"ByteVal", {"", 7}, "error 1146"},
        {"ByteVal", {"abcd", 5}, "error 1055"},
        {"ByteStrStr", {-2, 6}, "'\\xff\\xfe'"},
        {"ByteStrStr", {1, 1, 1}, "'\\x01\\x00\\x00\\x00'"},
        {"ByteStrStr", {1.5, 11}, "'?\\xc0\\x00\\x00'"},
        {"ByteStrStr", {1, 5}, "error 1055"},
    });
}

TEST_F(StringLibTest, ByteStrStrAndByteValRoundTrip)
{
    for (int type : {TEXTTYPE_INTEGER, TEXTTYPE_SHORT, TEXTTYPE_BYTE, TEXTTYPE_FLOAT, TEXTTYPE_DOUBLE}) {
        for (int little : {0, 1}) {
            // The stored bytes go straight back in as ByteVal's argument.
            PushString(L, "bytestrstr");
            GetTableValue(L, LV_GLOBALSINDEX);
            PushNumber(L, 200);
            PushNumber(L, type);
            PushNumber(L, little);
            ASSERT_EQ(ProtectedCall(L, 3, 1, 0), 0);
            std::string stored(ValueToString(L, -1), ValueStringLength(L, -1));
            SetStackTop(L, -2);
            EXPECT_EQ(Call("ByteVal", {stored, type, little}), "200") << "type " << type << " little " << little;
        }
    }
}

TEST_F(StringLibTest, FormatStr)
{
    RunCases({
        {"FormatStr", {"%5.1f|%-4d|%x", 3.14159, 7, 255}, "'  3.1|7   |ff'"},
        {"FormatStr", {"%q", "a\"b"}, R"('"a\"b"')"},
        {"FormatStr", {"%q", "a\\\n\0"s}, R"('"a\\\\x0a\000"')"},
        {"FormatStr", {"100%%"}, "'100%'"},
        {"FormatStr", {"%s", "100%s"}, "'100%s'"},
        {"FormatStr", {"%s", 12}, "'12'"},
        {"FormatStr", {"%d", "12"}, "'12'"},
        {"FormatStr", {"%5s|%-3s|%.2s", "ab", "c", "xyz"}, "'   ab|c  |xy'"},
        {"FormatStr", {"%c%c", 72, 105}, "'Hi'"},
        {"FormatStr", {"%e", 12345.678}, "'1.234568e+04'"},
        {"FormatStr", {"%.3f %g", 2.0, 0.5}, "'2.000 0.5'"},
        {"FormatStr", {"%u", -1}, "'4294967295'"},
        {"FormatStr", {"%X", 4294967296.0 + 255}, "'FF'"},
        {"FormatStr", {"%d", 3.9}, "'3'"},
        {"FormatStr", {"%+05d|% d", 42, 7}, "'+0042| 7'"},
        {"FormatStr", {"%s|", "a\0b"s}, "'a\\x00b|'"},
        {"FormatStr", {"%d", 1, 2}, "'1'"},
        {"FormatStr", {"%c|", 0}, "'\\x00|'"},
        {"FormatStr", {"%y", 1}, "error 1055"},
        {"FormatStr", {"%"}, "error 1055"},
        {"FormatStr", {"%0000000000000000000000000000000d", 1}, "error 1055"},
        {"FormatStr", {"%d"}, "error 1138@2"},
        {"FormatStr", {"%s|%s", "a"}, "error 1139@3"},
        {"FormatStr", {"%d", "x"}, "error 1138@2"},
    });
    // A string of 100 bytes or more goes in whole unless a precision cuts it.
    std::string longText(150, 'a');
    EXPECT_EQ(Call("FormatStr", {"%-120s|", longText}), "'" + longText + "|'");
    EXPECT_EQ(Call("FormatStr", {"%.3s|", longText}), "'aaa|'");
    // One conversion yields at most 511 bytes, however wide or precise it asks to be.
    EXPECT_EQ(Call("FormatStr", {"%600d|", 1}), "'" + std::string(510, ' ') + "1|'");
    EXPECT_EQ(Call("FormatStr", {"%.600f", 1e300}).size(), 511u + 2);
}

TEST_F(StringLibTest, Digests)
{
    RunCases({
        {"MD5Str", {""}, "'d41d8cd98f00b204e9800998ecf8427e'"},
        {"MD5Str", {"abc"}, "'900150983cd24fb0d6963f7d28e17f72'"},
        {"MD5Str", {"a\0b"s}, "'70350f6027bce3713f6b76473084309b'"},
        {"MD5Str", {"é"}, "'66ddcd97cfdeabb2f6fb8a999b4bc76f'"},
        {"SHA1Str", {""}, "'da39a3ee5e6b4b0d3255bfef95601890afd80709'"},
        {"SHA1Str", {"abc"}, "'a9993e364706816aba3e25717850c26c9cd0d89d'"},
        {"SHA1Str", {"a\0b"s}, "'4a3dec2d1f8245280855c42db0ee4239f917fdb8'"},
        {"CRC32Str", {"123456789"}, "3421780262"},
        {"CRC32Str", {"a\0b"s}, "367556721"},
        {"CRC32Str", {""}, "0"},
        {"MD5Str", {"abc", 1}, "error 1193"},
        {"SHA1Str", {}, "error 1014"},
    });
    // Long inputs cross the engines' 64-byte blocks.
    std::string million(1000000, 'a');
    EXPECT_EQ(Call("SHA1Str", {million}), "'34aa973cd4c4daa4f61eeb2bdbad27316534016f'");
    EXPECT_EQ(Call("MD5Str", {million}), "'7707d6ae4e027c70eea2a935c2296f21'");
}

TEST_F(StringLibTest, ArgumentChecks)
{
    RunCases({
        {"LeftStr", {"a"}, "error 1014"},
        {"LeftStr", {"a", 1, 1, 1}, "error 1193"},
        {"StrLen", {}, "error 1014"},
        {"LeftStr", {"abc", "x"}, "error 1138@2"},
        {"StrLen", {ListArg({})}, "error 1139@1"},
        {"MidStr", {"abc", 1, 1, "x"}, "error 1138@4"},
        {"FindStr", {"a", "\xff", 1, 0, 1}, "error 1588@2"},
        {"InsertStr", {"a", "\xff", 0, 0, 1}, "error 1588@2"},
        {"StrLen", {"\xff"}, "error 1588@1", "1"},
        {"MidStr", {"a\xff", 0}, "error 1588@1", "'a\\xff'"},
        {"ByteLen", {"\xff"}, "1"},
        {"CompareStr", {"a", "b", 1, 1, 1}, "error 1193"},
    });
}

TEST_F(StringLibTest, EveryCommandIsAGlobalUnderItsLowerCaseName)
{
    int count = 0;
    for (const lvCommandEntry *e = GetStringCommands(); e->name; e++, count++) {
        std::string name = e->name;
        for (char &c : name) c = char(std::tolower(static_cast<unsigned char>(c)));
        PushString(L, name.c_str());
        GetTableValue(L, LV_GLOBALSINDEX);
        EXPECT_EQ(ValueToNativeFunction(L, -1), e->func) << e->name;
        SetStackTop(L, -2);
    }
    EXPECT_EQ(count, 67);
    // The runtime remembers the table for command-name lookups.
    EXPECT_STREQ(FindCommandName("patternfindstrdirect"), "PatternFindStrDirect");
    EXPECT_STREQ(FindCommandLibrary("MD5STR"), "string");
}

TEST_F(StringLibTest, HugeCountsAndPositionsSaturate)
{
    const double huge = 1e300;
    RunCases({
        {"MidStr", {"abc", 1, huge}, "'bc'"},
        {"MidStr", {"abc", huge, 1}, "''"},
        {"MidStr", {"abc", 1, -huge}, "''"},
        {"LeftStr", {"abc", huge}, "'abc'"},
        {"RightStr", {"abc", huge}, "'abc'"},
        {"UnleftStr", {"abc", huge}, "''"},
        {"UnrightStr", {"abc", huge}, "''"},
        {"UnmidStr", {"abc", 1, huge}, "'a'"},
        {"UnmidStr", {"abc", huge, huge}, "'abc'"},
        {"InsertStr", {"abc", "X", huge}, "'abcX'"},
        {"InsertStr", {"abc", "XY", 2, 1}, "'abXY'"},
        {"FindStr", {"abc", "a", 1, huge}, "-1"},
        {"CountStr", {"abc", "a", 1, huge}, "0"},
        {"ReplaceStr", {"abc", "a", "x", 1, huge}, "'abc'"},
        {"ReverseFindStr", {"abc", "a", 1, huge}, "error 1055"},
        {"ReverseFindStr", {"abc", "a", 1, 0.0 / 0.0}, "0"},
        {"Asc", {"abc", huge}, "error 1055"},
        {"ByteOffset", {"abc", huge}, "error 1055"},
        {"CharWidth", {"abc", -huge}, "error 1055"},
        {"IsAlpha", {"abc", huge}, "error 1055"},
        {"StrStr", {1.25, huge}, "'1.25'"},
        {"FormatNumber", {1, huge}, "error 1055"},
        {"PadNum", {1, -huge}, "error 1055"},
        {"PadNum", {1, huge}, "error 1000"},
        {"PadNum", {1, 1e15}, "error 1000"},
        {"RepeatStr", {"ab", huge}, "error 1000"},
        {"StrStr", {1.25, -huge}, "'1.'"},
        {"RepeatStr", {"", huge}, "''"},
        {"PatternFindStrDirect", {"abc", "a", huge}, "error 1055"},
        {"PatternReplaceStr", {"abc", "%w", "x", huge}, "'xxx' 3"},
        {"ToNumber", {"10", huge}, "error 1055"},
        {"BinStr", {5, huge}, "''"},
        {"ByteVal", {"abcd", huge}, "error 1055"},
        {"ConvertStr", {"a", huge, huge}, "'a'"},
        {"ConvertStr", {"a", huge, -huge}, "error 1303"},
    });
}

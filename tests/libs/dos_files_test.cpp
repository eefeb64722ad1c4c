// The dos library's commands called as scripts call them (through their globals and
// the machine's call instruction): files and their encodings, lines, typed numbers,
// whole files, virtual files, directories, copying, moving and deleting, paths and
// checksums.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <thread>
#include <unistd.h>

#include "libs/dos_engine.h"
#include "libs/lib_dos.h"
#include "runtime/asyncop.h"
#include "runtime/cmdsupport.h"
#include "runtime/libs_core.h"
#include "tests/libs/strlib_harness.h"

namespace fs = std::filesystem;

static std::string ReadAll(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

static void WriteAll(const std::string &path, const std::string &data)
{
    std::ofstream out(path, std::ios::binary);
    out << data;
}

class DosLibTest : public StringLibTest {
protected:
    std::string dir;  // a fresh directory for the test's files
    void SetUp() override
    {
        StringLibTest::SetUp();
        ASSERT_EQ(OpenDosLibrary(L), 0);
        char tmpl[] = "/tmp/lvdosXXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
    }
    void TearDown() override
    {
        FreeDosObjects(L, 1);
        FreeAsyncOperations(L);
        std::error_code ec;
        fs::permissions(dir, fs::perms::owner_all, ec);
        fs::remove_all(dir, ec);
        StringLibTest::TearDown();
    }
    std::string P(const std::string &name) const { return dir + "/" + name; }
};

// ============================================================================
// Files
// ============================================================================

TEST_F(DosLibTest, NilHandlesAndNumberedHandles)
{
    WriteAll(P("a.txt"), "xyz");
    // A Nil-made handle is a handle value every command takes.
    std::string h = Call("OpenFile", {NilArg(), P("a.txt")});
    ASSERT_EQ(h.rfind("pointer:", 0), 0u) << h;
    EXPECT_EQ(Call("OpenFile", {1, P("a.txt")}), "");
    EXPECT_EQ(Call("ReadByte", {1}), "120");
    // Opening the number again closes the first handle and starts afresh.
    EXPECT_EQ(Call("OpenFile", {1, P("a.txt")}), "");
    EXPECT_EQ(Call("ReadString", {1}), "'xyz'");
    EXPECT_EQ(Call("CloseFile", {1}), "");
    EXPECT_EQ(Call("CloseFile", {1}), "error 1179");
    EXPECT_EQ(Call("OpenFile", {2, P("missing")}), "error 1045");
    EXPECT_EQ(Call("OpenFile", {2, P("nodir/x"), 1006}), "error 1052");
    EXPECT_EQ(Call("OpenFile", {2, P("a.txt"), 7}), "error 1055");
    EXPECT_EQ(Call("OpenFile", {2, ""}), "error 1055");
}

// Text with zero bytes passes whole through a handle whose encoding differs from the
// default, in both directions and both ways round.
TEST_F(DosLibTest, ZeroBytesSurviveEncodingConversion)
{
    struct Row {
        bool utf8Default;     // the default encoding
        int handleEncoding;   // the handle's: the other one
        std::string text;     // written and read back in the default encoding
        std::string onDisk;   // the line as stored (before the line end)
        const char *shown;    // ReadLine's result as rendered
    };
    const Row rows[] = {
        {true, 0, std::string("a\0b\xC3\xA9", 5), std::string("a\0b\xE9", 4), "'a\\x00b\xC3\xA9'"},
        {false, 1, std::string("a\0b\xE9", 4), std::string("a\0b\xC3\xA9", 5), "'a\\x00b\\xe9'"},
        {true, 0, std::string("\0\0", 2), std::string("\0\0", 2), "'\\x00\\x00'"},
    };
    for (const Row &r : rows) {
        SetUtf8Mode(r.utf8Default);
        std::remove(P("z.txt").c_str());
        ASSERT_EQ(Call("OpenFile", {1, P("z.txt"), 1006, FieldsArg({{"encoding", r.handleEncoding}})}), "");
        EXPECT_EQ(Call("WriteLine", {1, r.text}), "");
        EXPECT_EQ(Call("CloseFile", {1}), "");
        std::string disk = ReadAll(P("z.txt"));
        EXPECT_EQ(disk.substr(0, r.onDisk.size()), r.onDisk) << r.handleEncoding;
        EXPECT_GT(disk.size(), r.onDisk.size()) << "the line end";
        ASSERT_EQ(Call("OpenFile", {1, P("z.txt"), 1005, FieldsArg({{"encoding", r.handleEncoding}})}), "");
        EXPECT_EQ(Call("ReadLine", {1}), r.shown) << r.handleEncoding;
        EXPECT_EQ(Call("CloseFile", {1}), "");
    }
    SetUtf8Mode(true);
}

TEST_F(DosLibTest, ReadOnlyAndWriteOnlyHandles)
{
    WriteAll(P("a.txt"), "abc");
    ASSERT_EQ(Call("OpenFile", {1, P("a.txt"), 1005}), "");
    ASSERT_EQ(Call("OpenFile", {2, P("b.txt"), 1006}), "");
    ASSERT_EQ(Call("OpenFile", {3, P("a.txt"), 1004}), "");
    for (const char *w : {"WriteByte", "WriteShort", "WriteInt", "WriteChr"}) EXPECT_EQ(Call(w, {1, 65}), "error 1141") << w;
    EXPECT_EQ(Call("WriteString", {1, "x"}), "error 1141");
    EXPECT_EQ(Call("WriteLine", {1, "x"}), "error 1141");
    for (const char *r : {"ReadByte", "ReadShort", "ReadInt", "ReadChr", "ReadString", "ReadLine", "ReadFloat"})
        EXPECT_EQ(Call(r, {2}), "error 1142") << r;
    EXPECT_EQ(Call("ReadByte", {3}), "97");
    EXPECT_EQ(Call("WriteByte", {3, 66}), "");
    EXPECT_EQ(Call("CloseFile", {3}), "");
    EXPECT_EQ(ReadAll(P("a.txt")), "aBc");
    EXPECT_EQ(Call("WriteString", {2, "abc", 4}), "error 1245");
    EXPECT_EQ(Call("WriteInt", {2, 1, 4 | 8}), "error 1055");
    EXPECT_EQ(Call("ReadInt", {1, 4 | 8}), "error 1055");
    EXPECT_EQ(Call("ReadFloat", {1, 5}), "error 1055");
}

// The byte-order mark and the encodings: what ReadLine, ReadString and WriteString
// do for each handle encoding under each default encoding.
TEST_F(DosLibTest, EncodingAndByteOrderMarkMatrix)
{
    const std::string utf8Bom = "\xEF\xBB\xBFh\xC3\xA9";
    const std::string latin1 = "h\xE9";
    WriteAll(P("bom.txt"), utf8Bom);
    WriteAll(P("latin.txt"), latin1);
    struct Row {
        const char *file;       // fixture
        int handleEncoding;     // OpenFile's "encoding"
        bool utf8Default;       // the default encoding
        const char *command;    // ReadLine or ReadString
        int length;             // ReadString's length
        const char *expected;   // rendered result
    };
    const Row rows[] = {
        {"bom.txt", -1, true, "ReadLine", 0, "'hé'"},                              // mark dropped
        {"bom.txt", -1, false, "ReadLine", 0, "'\xEF\xBB\xBFhé'"},     // bytes as they are
        {"bom.txt", 1, false, "ReadLine", 0, "'h\\xe9'"},                          // UTF-8 to the byte default
        {"bom.txt", 1, true, "ReadLine", 0, "'hé'"},
        {"latin.txt", 0, true, "ReadLine", 0, "'hé'"},                             // ISO-8859-1 to UTF-8
        {"latin.txt", 0, false, "ReadLine", 0, "'h\\xe9'"},
        {"bom.txt", -1, true, "ReadString", 0, "'\xEF\xBB\xBFhé'"},                // whole file raw, mark kept
        {"bom.txt", -1, true, "ReadString", 2, "'hé'"},                            // two characters, mark skipped
        {"bom.txt", -1, false, "ReadString", 3, "'\xEF\xBB\xBF'"},              // three bytes
        {"bom.txt", 1, false, "ReadString", 0, "'h\\xe9'"},                        // characters, then converted
        {"bom.txt", 1, true, "ReadString", 1, "'h'"},
        {"latin.txt", 0, true, "ReadString", 0, "'hé'"},
        {"latin.txt", 0, false, "ReadString", 2, "'h\\xe9'"},
    };
    for (const Row &r : rows) {
        SetUtf8Mode(r.utf8Default);
        ASSERT_EQ(Call("OpenFile", {1, P(r.file), 1005, FieldsArg({{"encoding", r.handleEncoding}})}), "");
        std::vector<lvTestArg> args = {1};
        if (std::string(r.command) == "ReadString") args.push_back(r.length);
        EXPECT_EQ(Call(r.command, args), r.expected)
            << r.command << " " << r.file << " encoding " << r.handleEncoding << (r.utf8Default ? " utf8" : " bytes");
        EXPECT_EQ(Call("CloseFile", {1}), "");
    }
    SetUtf8Mode(true);

    // Writing: the mark only for MODE_WRITE handles of default or UTF-8 encoding,
    // whatever the default encoding; texts converted to the handle's encoding.
    struct WriteRow {
        int mode, encoding, writeBom;
        bool utf8Default;
        const char *text;
        std::string onDisk;
    };
    const WriteRow writes[] = {
        {1006, -1, 1, false, "a", "\xEF\xBB\xBF" "a"},
        {1006, 1, 1, true, "é", "\xEF\xBB\xBF\xC3\xA9"},
        {1006, 0, 1, true, "é", "\xE9"},
        {1004, -1, 1, true, "a", "a"},
        {1006, -1, 0, true, "é", "\xC3\xA9"},
        {1006, 1, 0, false, "\xE9", "\xC3\xA9"},
    };
    for (const WriteRow &w : writes) {
        SetUtf8Mode(w.utf8Default);
        std::remove(P("w.txt").c_str());
        ASSERT_EQ(Call("OpenFile", {1, P("w.txt"), w.mode, FieldsArg({{"encoding", w.encoding}, {"writebom", w.writeBom}})}), "");
        EXPECT_EQ(Call("WriteString", {1, w.text}), "");
        EXPECT_EQ(Call("CloseFile", {1}), "");
        EXPECT_EQ(ReadAll(P("w.txt")), w.onDisk) << "mode " << w.mode << " encoding " << w.encoding;
    }
    SetUtf8Mode(true);
}

TEST_F(DosLibTest, ReadLineOverEveryLineEnd)
{
    WriteAll(P("l.txt"), "a\r\nb\rc\nd\r");
    for (int ioMode : {0, 1}) {
        ASSERT_EQ(Call("SetIOMode", {ioMode}), "");
        ASSERT_EQ(Call("OpenFile", {1, P("l.txt")}), "");
        std::string lines;
        for (int i = 0; i < 5; i++) lines += Call("ReadLine", {1}) + " ";
        EXPECT_EQ(lines, "'a' 'b' 'c' 'd' '' ") << "io mode " << ioMode;
        EXPECT_EQ(Call("Eof", {1}), "1");
        ASSERT_EQ(Call("Seek", {1, 0}), "");
        lines.clear();
        for (int i = 0; i < 4; i++) lines += Call("ReadLine", {1, 1}) + " ";
        EXPECT_EQ(lines, "'a\\x0d\\x0a' 'b\\x0d' 'c\\x0a' 'd\\x0d' ");
        EXPECT_EQ(Call("CloseFile", {1}), "");
    }
    EXPECT_EQ(Call("SetIOMode", {2}), "error 1055");
    EXPECT_EQ(Call("SetIOMode", {0}), "");
}

// A lone CR read from a pipe: the byte after it cannot be given back to the stream,
// and the next line still starts with it.
TEST_F(DosLibTest, ReadLineOverAPipeKeepsTheByteAfterACR)
{
    std::string fifo = P("pipe");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::thread writer([fifo] {
        FILE *f = std::fopen(fifo.c_str(), "w");
        if (!f) return;
        std::fputs("a\rb\rc\n", f);
        std::fclose(f);
    });
    ASSERT_EQ(Call("OpenFile", {1, fifo}), "");
    std::string lines;
    for (int i = 0; i < 4; i++) lines += Call("ReadLine", {1}) + " ";
    EXPECT_EQ(lines, "'a' 'b' 'c' '' ");
    EXPECT_EQ(Call("CloseFile", {1}), "");
    writer.join();
}

TEST_F(DosLibTest, SettingsLinesRoundTrip)
{
    ASSERT_EQ(Call("OpenFile", {1, P("Settings.dat"), 1006}), "");
    for (const char *line : {"volume=7", "name=Zoë", "", "last=1"}) EXPECT_EQ(Call("WriteLine", {1, line}), "");
    EXPECT_EQ(Call("CloseFile", {1}), "");
    EXPECT_EQ(ReadAll(P("Settings.dat")), "volume=7\r\nname=Zoë\r\n\r\nlast=1\r\n");
    ASSERT_EQ(Call("OpenFile", {1, P("Settings.dat")}), "");
    std::string lines;
    for (int i = 0; i < 4; i++) lines += Call("ReadLine", {1}) + "|";
    EXPECT_EQ(lines, "'volume=7'|'name=Zoë'|''|'last=1'|");
    EXPECT_EQ(Call("Eof", {1}), "1");
    EXPECT_EQ(Call("CloseFile", {1}), "");
    // LF only once the carriage return is switched off; ISO-8859-1 handles convert.
    EXPECT_EQ(Call("UseCarriageReturn", {0}), "");
    ASSERT_EQ(Call("OpenFile", {1, P("l.dat"), 1006, FieldsArg({{"encoding", 0}})}), "");
    EXPECT_EQ(Call("WriteLine", {1, "é"}), "");
    EXPECT_EQ(Call("CloseFile", {1}), "");
    EXPECT_EQ(ReadAll(P("l.dat")), "\xE9\n");
    EXPECT_EQ(Call("UseCarriageReturn", {1}), "");
}

// A line end that cannot be written is a failed write, not a success: a byte range
// of a file takes the text and has no room for the line end.
TEST_F(DosLibTest, WriteLineChecksItsLineEnd)
{
    WriteAll(P("whole.bin"), "..........");
    std::string range = Call("DefineVirtualFile", {P("whole.bin"), 2, 4, "part.txt"});
    range = range.substr(1, range.size() - 2);
    for (int ioMode : {0, 1}) {
        ASSERT_EQ(Call("SetIOMode", {ioMode}), "");
        ASSERT_EQ(Call("OpenFile", {1, range, 1004}), "");
        EXPECT_EQ(Call("WriteLine", {1, "abcd"}), "error 1005") << ioMode;
        EXPECT_EQ(Call("CloseFile", {1}), "");
        ASSERT_EQ(Call("OpenFile", {1, range, 1004}), "");
        EXPECT_EQ(Call("WriteLine", {1, "abcde"}), "error 1005") << ioMode;  // the text itself
        EXPECT_EQ(Call("CloseFile", {1}), "");
    }
    ASSERT_EQ(Call("SetIOMode", {0}), "");
    EXPECT_EQ(ReadAll(P("whole.bin")), "..abcd....");
}

TEST_F(DosLibTest, TypedValuesInBothByteOrders)
{
    WriteAll(P("n.bin"), "\xFF\xFE");
    ASSERT_EQ(Call("OpenFile", {1, P("n.bin")}), "");
    EXPECT_EQ(Call("ReadShort", {1}), "65534");
    ASSERT_EQ(Call("Seek", {1, 0}), "");
    EXPECT_EQ(Call("ReadShort", {1, 2}), "-2");
    ASSERT_EQ(Call("Seek", {1, 0}), "");
    EXPECT_EQ(Call("ReadShort", {1, 1}), "65279");
    ASSERT_EQ(Call("Seek", {1, 0}), "");
    EXPECT_EQ(Call("ReadByte", {1, 2}), "-1");
    EXPECT_EQ(Call("ReadShort", {1}), "error 1009");  // one byte left
    EXPECT_EQ(Call("CloseFile", {1}), "");

    ASSERT_EQ(Call("OpenFile", {1, P("v.bin"), 1006}), "");
    EXPECT_EQ(Call("WriteShort", {1, 0x1234}), "");
    EXPECT_EQ(Call("WriteShort", {1, 0x1234, 1}), "");
    EXPECT_EQ(Call("WriteInt", {1, -2}), "");
    EXPECT_EQ(Call("WriteInt", {1, 4000000000.0, 4 | 1}), "");
    EXPECT_EQ(Call("WriteInt", {1, -5, 8}), "");
    EXPECT_EQ(Call("WriteInt", {1, 1099511627776.0, 8 | 1}), "");
    EXPECT_EQ(Call("WriteFloat", {1, 1.5, 4}), "");
    EXPECT_EQ(Call("WriteFloat", {1, -0.1, 8, 1}), "");
    EXPECT_EQ(Call("WriteChr", {1, 0x10FFFF, 1}), "");
    EXPECT_EQ(Call("WriteChr", {1, 0x110000, 1}), "");
    EXPECT_EQ(Call("WriteChr", {1, 0, 1}), "error 1055");
    EXPECT_EQ(Call("WriteChr", {1, 0x1E9, 0}), "");
    EXPECT_EQ(Call("CloseFile", {1}), "");
    std::string expected = std::string("\x12\x34\x34\x12\xFF\xFF\xFF\xFE\x00\x28\x6B\xEE", 12) +
                           std::string("\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFB", 8) + std::string("\0\0\0\0\0\1\0\0", 8) +
                           std::string("\x3F\xC0\x00\x00", 4) + std::string("\x9A\x99\x99\x99\x99\x99\xB9\xBF", 8) + "\xF4\x8F\xBF\xBF?\xE9";
    EXPECT_EQ(ReadAll(P("v.bin")), expected);
    ASSERT_EQ(Call("OpenFile", {1, P("v.bin")}), "");
    std::string values;
    const std::vector<std::vector<lvTestArg>> reads = {{"ReadShort", 1},     {"ReadShort", 1, 1},   {"ReadInt", 1},
                                                       {"ReadInt", 1, 5},    {"ReadInt", 1, 8},     {"ReadInt", 1, 9},
                                                       {"ReadFloat", 1, 4},  {"ReadFloat", 1, 8, 1}, {"ReadChr", 1, 1},
                                                       {"ReadChr", 1, 1},    {"ReadChr", 1, 0}};
    for (const auto &r : reads) {
        std::vector<lvTestArg> args(r.begin() + 1, r.end());
        values += (values.empty() ? "" : " ") + Call(r[0].text.c_str(), args);
    }
    EXPECT_EQ(values, "4660 4660 -2 4e+09 -5 1099511627776 1.5 -0.1 1114111 63 233");
    EXPECT_EQ(Call("ReadChr", {1}), "error 1009");
    EXPECT_EQ(Call("FilePos", {1}), "46");
    EXPECT_EQ(Call("Seek", {1, -1}), "");
    EXPECT_EQ(Call("FilePos", {1}), Call("FileLength", {1}));
    EXPECT_EQ(Call("CloseFile", {1}), "");
}

TEST_F(DosLibTest, WholeFilesAndFileLines)
{
    std::string data(1 << 20, '\0');
    std::mt19937 rng(7);
    for (char &c : data) c = char(rng());
    SetGlobalString("blob", data);
    ASSERT_EQ(Call("StringToFile", {GlobalArg("blob"), P("blob.bin")}), "");
    EXPECT_EQ(ReadAll(P("blob.bin")), data);
    // The round trip: the same bytes and their count.
    PushString(L, "filetostring");
    GetTableValue(L, LV_GLOBALSINDEX);
    PushString(L, P("blob.bin").c_str());
    ASSERT_EQ(ProtectedCall(L, 1, 2, 0), 0);
    EXPECT_EQ(ValueToNumber(L, -1), 1048576.0);
    EXPECT_TRUE(std::string(ValueToString(L, -2), ValueStringLength(L, -2)) == data);
    SetStackTop(L, -3);
    SetGlobalString("blob", "");
    EXPECT_EQ(Call("FileToString", {P("missing")}), "error 1045");
    EXPECT_EQ(Call("StringToFile", {"x", P("no/such/dir")}), "error 1052");
    EXPECT_EQ(Call("StringToFile", {"", P("empty")}), "");
    if (access("/dev/full", W_OK) == 0) EXPECT_EQ(Call("StringToFile", {"x", "/dev/full"}), "error 1005");
    EXPECT_EQ(Call("FileToString", {P("empty")}), "'' 0");

    WriteAll(P("lines.txt"), "one\r\ntwo\n" + std::string(3000, 'x'));
    std::string f = Call("FileLines", {P("lines.txt")});
    EXPECT_EQ(f, "function");
    EXPECT_EQ(Call("FileLines", {P("missing")}), "error 1045");
}

TEST_F(DosLibTest, VirtualStringFiles)
{
    std::string name = Call("DefineVirtualFileFromString", {"first\nsecond", "mem.txt"});
    ASSERT_EQ(name.rfind("':::chunk", 0), 0u) << name;
    name = name.substr(1, name.size() - 2);
    ASSERT_EQ(Call("OpenFile", {1, name}), "");
    EXPECT_EQ(Call("ReadLine", {1}), "'first'");
    EXPECT_EQ(Call("ReadLine", {1}), "'second'");
    EXPECT_EQ(Call("CloseFile", {1}), "");
    EXPECT_EQ(Call("FileToString", {name}), "'first\\x0asecond' 12");
    EXPECT_EQ(Call("FilePart", {name}), "'mem.txt'");
    EXPECT_EQ(Call("UndefineVirtualStringFile", {name}), "");
    EXPECT_EQ(Call("OpenFile", {1, name}), "error 1045");
    EXPECT_EQ(Call("UndefineVirtualStringFile", {P("plain")}), "error 1055");
    EXPECT_EQ(Call("DefineVirtualFileFromString", {"x", ""}), "error 1055");

    // A writable one takes writes; a byte range of a plain file reads its part.
    std::string w = Call("DefineVirtualFileFromString", {"abc", "w.bin", 1});
    w = w.substr(1, w.size() - 2);
    ASSERT_EQ(Call("OpenFile", {1, w, 1004}), "");
    EXPECT_EQ(Call("Seek", {1, 0, 2}), "");
    EXPECT_EQ(Call("WriteString", {1, "def"}), "");
    EXPECT_EQ(Call("CloseFile", {1}), "");
    EXPECT_EQ(Call("FileToString", {w}), "'abcdef' 6");
    EXPECT_EQ(Call("UndefineVirtualStringFile", {w}), "");
    WriteAll(P("whole.bin"), "0123456789");
    std::string r = Call("DefineVirtualFile", {P("whole.bin"), 2, 5, "part.txt"});
    r = r.substr(1, r.size() - 2);
    EXPECT_EQ(Call("FileToString", {r}), "'23456' 5");
    EXPECT_EQ(Call("DefineVirtualFile", {P("whole.bin"), 2, 0, "part.txt"}), "error 1055");
    // Unsigned numbers out of their range are refused, never wrapped round.
    EXPECT_EQ(Call("DefineVirtualFile", {P("whole.bin"), -1, 4, "part.txt"}), "error 1039");
    EXPECT_EQ(Call("DefineVirtualFile", {P("whole.bin"), 2, -1, "part.txt"}), "error 1039");
    EXPECT_EQ(Call("DefineVirtualFile", {P("whole.bin"), 4294967296.0, 4, "part.txt"}), "error 1039");
    ASSERT_EQ(Call("OpenFile", {7, P("u.bin"), 1006}), "");
    EXPECT_EQ(Call("WriteInt", {7, -1, 4}), "error 1039");
    EXPECT_EQ(Call("WriteInt", {7, 4294967296.0, 4}), "error 1039");
    EXPECT_EQ(Call("WriteInt", {7, 4294967295.0, 4}), "");
    EXPECT_EQ(Call("CloseFile", {7}), "");
    EXPECT_EQ(ReadAll(P("u.bin")), "\xFF\xFF\xFF\xFF");
}

// ============================================================================
// Directories
// ============================================================================

class DosDirTest : public DosLibTest {
protected:
    void SetUp() override
    {
        DosLibTest::SetUp();
        WriteAll(P("b.txt"), "bb");
        WriteAll(P("a.txt"), "a");
        fs::create_directories(P("sub/deeper"));
        fs::create_directories(P("zdir"));
        WriteAll(P("sub/c.txt"), "c");
        WriteAll(P("sub/deeper/d.txt"), "d");
    }
};

TEST_F(DosDirTest, SortedListingsAndCounts)
{
    PushString(L, "files");
    PushNewTable(L);
    SetTableValue(L, LV_GLOBALSINDEX);
    PushString(L, "dirs");
    PushNewTable(L);
    SetTableValue(L, LV_GLOBALSINDEX);
    EXPECT_EQ(Call("ReadDirectory", {dir, GlobalArg("files"), GlobalArg("dirs")}), "2 2");
    PushString(L, "files");
    GetTableValue(L, LV_GLOBALSINDEX);
    PushString(L, "dirs");
    GetTableValue(L, LV_GLOBALSINDEX);
    EXPECT_EQ(RenderResults(GetStackTop(L) - 1), "{'a.txt' 'b.txt' ''} {'sub' 'zdir' ''}");

    ASSERT_EQ(Call("OpenDirectory", {1, dir}), "");
    EXPECT_EQ(Call("CountDirectoryEntries", {1, 3}), "2 2");
    EXPECT_EQ(Call("CountDirectoryEntries", {1, 3, 1}), "4 3");
    EXPECT_EQ(Call("CountDirectoryEntries", {1, 2, 1}), "7");
    EXPECT_EQ(Call("CountDirectoryEntries", {1, 1}), "2");
    EXPECT_EQ(Call("CountDirectoryEntries", {1, 4}), "error 1055");
    // The count leaves the reading at the start; the entries come sorted.
    // Four entries, then nothing on every further call until rewound.
    for (int i = 0; i < 6; i++) EXPECT_EQ(Call("NextDirectoryEntry", {1}).empty(), i >= 4) << i;
    EXPECT_EQ(Call("RewindDirectory", {1}), "");
    EXPECT_EQ(Call("NextDirectoryEntry", {1}), "{}");  // a table of named fields
    EXPECT_EQ(Call("CloseDirectory", {1}), "");
    EXPECT_EQ(Call("CloseDirectory", {1}), "error 1318");

    // Without "recursive" only the files are listed.
    ASSERT_EQ(Call("OpenDirectory", {2, dir, FieldsArg({{"recursive", 0}})}), "");
    EXPECT_EQ(Call("NextDirectoryEntry", {2}), "{}");
    EXPECT_EQ(Call("NextDirectoryEntry", {2}), "{}");
    EXPECT_EQ(Call("NextDirectoryEntry", {2}), "");
    EXPECT_EQ(Call("GetDirectoryEntry", {2, "a.txt"}).find("/a.txt'") != std::string::npos, true);

    EXPECT_EQ(Call("OpenDirectory", {3, P("a.txt")}), "error 1250");
    EXPECT_EQ(Call("OpenDirectory", {3, P("missing")}), "error 1286");
    EXPECT_EQ(Call("ReadDirectory", {P("missing"), GlobalArg("files"), GlobalArg("dirs")}), "error 1286");
}

TEST_F(DosDirTest, EntryFieldsAndIterator)
{
    SetGlobalString("dummy", "");
    ASSERT_EQ(Call("OpenDirectory", {1, dir}), "");
    // Fetch the first entry's fields through the stack directly.
    int base = GetStackTop(L);
    PushString(L, "nextdirectoryentry");
    GetTableValue(L, LV_GLOBALSINDEX);
    PushNumber(L, 1);
    ASSERT_EQ(ProtectedCall(L, 1, 1, 0), 0);
    std::string fields;
    for (const char *f : {"name", "type", "size", "flags"}) {
        PushString(L, f);
        GetTableValue(L, -2);
        fields += std::string(ValueToString(L, -1) ? ValueToString(L, -1) : "nil") + " ";
        SetStackTop(L, -2);
    }
    PushString(L, "time");
    GetTableValue(L, -2);
    std::string time = ValueToString(L, -1);
    SetStackTop(L, base);
    EXPECT_EQ(fields.substr(0, 10), "a.txt 0 1 ");
    ASSERT_EQ(time.size(), 20u) << time;
    EXPECT_EQ(time[2], '-');
    EXPECT_EQ(time[6], '-');
    EXPECT_EQ(time[14], ':');
    EXPECT_EQ(Call("DirectoryItems", {dir}), "function");
    EXPECT_EQ(Call("DirectoryItems", {P("missing")}), "error 1286");
}

TEST_F(DosDirTest, MakeAndCreateDirectories)
{
    EXPECT_EQ(Call("MakeDirectory", {P("new/levels/here")}), "");
    EXPECT_TRUE(fs::is_directory(P("new/levels/here")));
    EXPECT_EQ(Call("MakeDirectory", {P("new/levels")}), "");  // existing: success
    EXPECT_EQ(Call("MakeDirectory", {P("a.txt/inner")}), "error 1084");
    EXPECT_EQ(Call("MakeDirectory", {""}), "error 1055");
    EXPECT_EQ(Call("CreateDirectory", {dir, "one"}), "'" + P("one") + "'");
    EXPECT_EQ(Call("CreateDirectory", {dir, "one"}), "error 1084");
    EXPECT_EQ(Call("CreateDirectory", {dir, ""}), "error 1055");
    std::string cwd = Call("GetCurrentDirectory", {});
    EXPECT_EQ(Call("ChangeDirectory", {P("sub")}), "");
    EXPECT_EQ(Call("GetCurrentDirectory", {}), "'" + fs::canonical(P("sub")).string() + "'");
    EXPECT_EQ(Call("Exists", {"c.txt"}), "1");
    EXPECT_EQ(Call("ChangeDirectory", {cwd.substr(1, cwd.size() - 2)}), "");
    EXPECT_EQ(Call("ChangeDirectory", {P("missing")}), "error 1630");
}

// ============================================================================
// Copying, moving and deleting
// ============================================================================

struct lvCallbackLog {
    std::vector<int> actions;  // the actions asked, in order
    int answerKind = 0;        // 0 a number, 1 True, 2 nothing
    double answer = 0;         // the number answered
};
static lvCallbackLog gLog;

static int RecordingCallback(lvState *L)
{
    PushString(L, "action");
    GetTableValue(L, 1);
    gLog.actions.push_back(int(ValueToNumber(L, -1)));
    SetStackTop(L, -2);
    if (gLog.answerKind == 1) {
        PushBoolean(L, 1);
        return 1;
    }
    if (gLog.answerKind == 2) return 0;
    PushNumber(L, gLog.answer);
    return 1;
}

TEST_F(DosDirTest, CopyAnswersOfTheCallback)
{
    WriteAll(P("dst.txt"), "old");
    auto copyWith = [&](int kind, double answer) {
        gLog = {};
        gLog.answerKind = kind;
        gLog.answer = answer;
        return Call("CopyFile", {P("b.txt"), P("dst.txt"),
                                 FieldsArg({{"filedst", 1}, {"callback", NativeArg(RecordingCallback)}, {"buffersize", 1}})});
    };
    // 0 to the overwrite question skips the file.
    EXPECT_EQ(copyWith(0, 0), "");
    EXPECT_EQ(gLog.actions, std::vector<int>{1});
    EXPECT_EQ(ReadAll(P("dst.txt")), "old");
    // -1 aborts without an error.
    EXPECT_EQ(copyWith(0, -1), "");
    EXPECT_EQ(ReadAll(P("dst.txt")), "old");
    // True overwrites, then stops at the first progress report without an error; the
    // destination was there before, so the copy leaves it (partly written) in place.
    EXPECT_EQ(copyWith(1, 0), "");
    EXPECT_EQ(gLog.actions, (std::vector<int>{1, 0}));
    EXPECT_EQ(ReadAll(P("dst.txt")), "b");
    std::remove(P("dst.txt").c_str());
    // 2 goes on: each one-byte block is reported.
    EXPECT_EQ(copyWith(0, 2), "");
    EXPECT_EQ(gLog.actions, (std::vector<int>{0, 0}));
    EXPECT_EQ(ReadAll(P("dst.txt")), "bb");
    // Nothing answered to a progress report fails the copy.
    std::remove(P("dst.txt").c_str());
    EXPECT_EQ(copyWith(2, 0), "error 1190");
    EXPECT_FALSE(fs::exists(P("dst.txt")));  // the partial file is removed
    EXPECT_EQ(Call("CopyFile", {P("missing"), P("newdst")}), "error 1045");
    EXPECT_TRUE(fs::is_directory(P("newdst")));
}

// A directory copy run inside the command and one stepped by the script end alike.
TEST_F(DosDirTest, AsyncSteppingGivesTheSameTree)
{
    EXPECT_EQ(Call("CopyFile", {P("sub"), P("sync")}), "");
    std::string h = Call("CopyFile", {P("sub"), P("stepped"), FieldsArg({{"async", 1}})});
    ASSERT_EQ(h.rfind("pointer:", 0), 0u) << h;
    EXPECT_FALSE(fs::exists(P("stepped/deeper/d.txt")));
    ASSERT_EQ(RegisterCommandTable(L, GetAsyncOperationCommands(), "layers"), 0);
    lvTestArg handle = PointerArg(std::stod(h.substr(8)));
    bool done = false;
    int steps = 0;
    while (!done && steps < 1000) {
        std::string r = Call("ContinueAsyncOperation", {handle});
        ASSERT_TRUE(r == "0" || r == "1") << r;
        done = r == "1";
        steps++;
    }
    EXPECT_EQ(Call("ContinueAsyncOperation", {handle}), "error 1041");  // gone once done
    // A cancelled operation goes without finishing.
    std::string c = Call("CopyFile", {P("sub"), P("cancelled"), FieldsArg({{"async", 1}})});
    EXPECT_EQ(Call("CancelAsyncOperation", {PointerArg(std::stod(c.substr(8)))}), "");
    EXPECT_FALSE(fs::exists(P("cancelled/deeper/d.txt")));
    EXPECT_TRUE(done);
    EXPECT_GT(steps, 3);
    for (const char *f : {"c.txt", "deeper/d.txt"})
        EXPECT_EQ(ReadAll(P(std::string("stepped/") + f)), ReadAll(P(std::string("sync/") + f))) << f;
    EXPECT_EQ(ReadAll(P("sync/deeper/d.txt")), "d");
    EXPECT_EQ(*GetAsyncOperationList(), nullptr);
}

// A device as the destination: the copy writes into it but gives it neither the source's
// mode nor its dates, and a copy that fails there leaves the node where it was.
TEST_F(DosLibTest, CopyOntoADeviceTouchesOnlyItsData)
{
    if (mknod(P("null").c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0 ||
        mknod(P("full").c_str(), S_IFCHR | 0666, makedev(1, 7)) != 0)
        GTEST_SKIP() << "no device nodes here";
    chmod(P("null").c_str(), 0666);
    WriteAll(P("src.txt"), "payload");
    chmod(P("src.txt").c_str(), 0600);
    struct timespec old[2] = {{978307200, 0}, {978307200, 0}};  // 2001
    utimensat(AT_FDCWD, P("src.txt").c_str(), old, 0);
    EXPECT_EQ(Call("CopyFile", {P("src.txt"), P("null"), FieldsArg({{"filedst", 1}})}), "");
    struct stat st;
    ASSERT_EQ(stat(P("null").c_str(), &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));
    EXPECT_EQ(st.st_mode & 07777, 0666u);
    EXPECT_NE(st.st_mtime, 978307200);
    EXPECT_EQ(Call("CopyFile", {P("src.txt"), P("full"), FieldsArg({{"filedst", 1}})}), "error 1005");
    ASSERT_EQ(stat(P("full").c_str(), &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));
    // A regular copy still takes the source's mode and dates.
    EXPECT_EQ(Call("CopyFile", {P("src.txt"), P("copy.txt"), FieldsArg({{"filedst", 1}})}), "");
    ASSERT_EQ(stat(P("copy.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    EXPECT_EQ(st.st_mtime, 978307200);
}

// The handle a callback cancels, and how often it was asked.
static void *gCancelTarget = nullptr;
static int gCancelCalls = 0;

// A callback that cancels the operation it is a callback of, then answers "go on".
static int CancelOwnOperation(lvState *L)
{
    gCancelCalls++;
    PushString(L, "cancelasyncoperation");
    GetTableValue(L, LV_GLOBALSINDEX);
    PushPointer(L, gCancelTarget);
    int status = ProtectedCall(L, 1, 0, 0);
    PushNumber(L, status);
    return 1;
}

// A callback that cancels its own operation from inside the step: the step must stop at
// once and the operation be released after it, not under it (ASan: use after free).
TEST_F(DosDirTest, ACallbackCancelsItsOwnOperation)
{
    ASSERT_EQ(OpenAsyncOperationLibrary(L), 0);
    WriteAll(P("big.bin"), std::string(100000, 'x'));
    struct Row {
        const char *command;
        std::vector<lvTestArg> args;
    };
    std::vector<Row> rows = {
        {"CopyFile", {P("big.bin"), P("out"), FieldsArg({{"async", 1}, {"buffersize", 1000},
                                                          {"callback", NativeArg(CancelOwnOperation)}})}},
        {"CopyFile", {P("sub"), P("tree"), FieldsArg({{"async", 1}, {"callback", NativeArg(CancelOwnOperation)}})}},
        {"DeleteFile", {P("sub"), FieldsArg({{"async", 1}, {"callback", NativeArg(CancelOwnOperation)}})}},
    };
    for (const Row &row : rows) {
        gCancelCalls = 0;
        std::string h = Call(row.command, row.args);
        ASSERT_EQ(h.rfind("pointer:", 0), 0u) << row.command << " " << h;
        gCancelTarget = reinterpret_cast<void *>(uintptr_t(std::stod(h.substr(8))));
        lvTestArg handle = PointerArg(std::stod(h.substr(8)));
        std::string r;
        for (int steps = 0; steps < 100 && gCancelCalls == 0; steps++) r = Call("ContinueAsyncOperation", {handle});
        EXPECT_EQ(gCancelCalls, 1) << row.command;
        EXPECT_EQ(r, "1") << row.command << ": the cancelled operation reports its end";
        EXPECT_EQ(Call("ContinueAsyncOperation", {handle}), "error 1041") << row.command;
        EXPECT_EQ(Call("CancelAsyncOperation", {handle}), "error 1041") << row.command;
    }
    EXPECT_EQ(*GetAsyncOperationList(), nullptr);
    EXPECT_FALSE(fs::exists(P("out/big.bin")));  // the partial copy went with the cancel
    EXPECT_TRUE(fs::exists(P("sub/deeper/d.txt")));
}

// A callback may not step its own operation again (the step would run inside itself).
static int gNestedResult = 0;
static int ContinueOwnOperation(lvState *L)
{
    gCancelCalls++;
    lvAsyncOperation *op = nullptr;
    int done = 0;
    gNestedResult = FindAsyncOperation({0, gCancelTarget}, &op);
    if (!gNestedResult) gNestedResult = ContinueAsyncOperation(L, op, &done);
    PushNumber(L, 1);  // then abort
    return 1;
}

TEST_F(DosDirTest, ACallbackCannotStepItsOwnOperation)
{
    ASSERT_EQ(OpenAsyncOperationLibrary(L), 0);
    gCancelCalls = 0;
    std::string h = Call("CopyFile", {P("a.txt"), P("out"), FieldsArg({{"async", 1}, {"callback", NativeArg(ContinueOwnOperation)}})});
    ASSERT_EQ(h.rfind("pointer:", 0), 0u) << h;
    gCancelTarget = reinterpret_cast<void *>(uintptr_t(std::stod(h.substr(8))));
    EXPECT_EQ(Call("ContinueAsyncOperation", {PointerArg(std::stod(h.substr(8)))}), "1");
    EXPECT_EQ(gCancelCalls, 1);
    EXPECT_EQ(gNestedResult, ERR_WRONGUSAGE);
    EXPECT_EQ(*GetAsyncOperationList(), nullptr);
}


TEST_F(DosDirTest, MoveDeleteRenameAndPatterns)
{
    EXPECT_EQ(Call("MoveFile", {P("a.txt"), P("zdir/moved.txt")}), "");
    EXPECT_EQ(ReadAll(P("zdir/moved.txt")), "a");
    EXPECT_FALSE(fs::exists(P("a.txt")));
    EXPECT_EQ(Call("MoveFile", {P("b.txt"), P("zdir/moved.txt")}), "error 1055");
    EXPECT_EQ(Call("Rename", {P("zdir/moved.txt"), "renamed.txt"}), "");
    EXPECT_TRUE(fs::exists(P("zdir/renamed.txt")));
    // A pattern list with matchdir on: only matching files, in matching directories.
    WriteAll(P("sub/keep.dat"), "k");
    EXPECT_EQ(Call("DeleteFile", {P("sub"), FieldsArg({{"pattern", "*.txt"}, {"matchdir", 0}})}), "");
    EXPECT_FALSE(fs::exists(P("sub/c.txt")));
    EXPECT_FALSE(fs::exists(P("sub/deeper/d.txt")));
    EXPECT_TRUE(fs::exists(P("sub/keep.dat")));
    // A trailing slash empties the directory and keeps it.
    EXPECT_EQ(Call("DeleteFile", {P("sub/")}), "");
    EXPECT_TRUE(fs::is_directory(P("sub")));
    EXPECT_TRUE(fs::is_empty(P("sub")));
    EXPECT_EQ(Call("DeleteFile", {P("sub")}), "");
    EXPECT_FALSE(fs::exists(P("sub")));
    EXPECT_EQ(Call("DeleteFile", {P("missing")}), "");
    EXPECT_EQ(Call("DeleteFile", {P("missing"), FieldsArg({{"mustexist", 1}})}), "error 1286");
    EXPECT_EQ(Call("DeleteFile", {P("b.txt"), FieldsArg({{"async", 0}}), 1}), "error 1193");
    // Deleting reports each object to the callback.
    gLog = {};
    EXPECT_EQ(Call("DeleteFile", {P("b.txt"), NativeArg(RecordingCallback)}), "");
    EXPECT_EQ(gLog.actions, std::vector<int>{0});
    EXPECT_FALSE(fs::exists(P("b.txt")));
    const std::vector<lvCommandCase> patterns = {
        {"MatchPattern", {"file12.txt", "file##.txt;*.doc"}, "1"},
        {"MatchPattern", {"a", "[!a]"}, "0"},
        {"MatchPattern", {"b", "[a-c]"}, "1"},
        {"MatchPattern", {"ABC", "abc"}, "0"},
        {"MatchPattern", {"x.doc", ";*.doc"}, "0"},
    };
    RunCases(patterns);
}

// ============================================================================
// Paths and checksums
// ============================================================================

TEST_F(DosLibTest, PathStrings)
{
    WriteAll(P("f.txt"), "12345");
    const std::vector<lvCommandCase> cases = {
        {"PathPart", {"dir/sub/file.txt"}, "'dir/sub/'"},
        {"PathPart", {"D:file"}, "'D:'"},
        {"PathPart", {"file"}, "''"},
        {"PathPart", {"/top"}, "''"},
        {"PathPart", {"dir\\file"}, "'dir\\'"},
        {"FilePart", {"dir/sub/file.txt"}, "'file.txt'"},
        {"FilePart", {"dir\\file.txt"}, "'file.txt'"},
        {"FilePart", {"D:x"}, "'x'"},
        {"FullPath", {"dir", "file"}, "'dir/file'"},
        {"FullPath", {"dir/", "file"}, "'dir/file'"},
        {"FullPath", {"a", "b", "c"}, "'a/b/c'"},
        {"FullPath", {"a"}, "error 1014"},
        {"FullPath", {std::string(1000, 'a'), std::string(30, 'b')}, "error 1000"},
        {"MakeHostPath", {"a\\b/c"}, "'a/b/c'"},
        {"IsAbsolutePath", {"/x"}, "1"},
        {"IsAbsolutePath", {"~/x"}, "1"},
        {"IsAbsolutePath", {"C:x"}, "1"},
        {"IsAbsolutePath", {"x/y"}, "0"},
        {"IsAbsolutePath", {""}, "error 1055"},
        {"Exists", {""}, "0"},
        {"Exists", {P("f.txt")}, "1"},
        {"Exists", {P("nope")}, "0"},
        {"FileSize", {P("f.txt")}, "5"},
        {"FileSize", {dir}, "-1"},
        {"FileSize", {""}, "-1"},
        {"IsDirectory", {dir}, "1"},
        {"IsDirectory", {P("f.txt")}, "0"},
        {"IsDirectory", {P("nope")}, "error 1571"},
        {"CanonizePath", {""}, "error 1055"},
        {"GetEnv", {"LUMIVARRA_SURELY_UNSET"}, "'' 0"},
    };
    RunCases(cases);
    std::string real = fs::canonical(dir).string();
    EXPECT_EQ(Call("CanonizePath", {dir + "\\missing\\levels"}), "'" + real + "/missing/levels'");
    EXPECT_EQ(Call("CanonizePath", {P("f.txt")}), "'" + real + "/f.txt'");
    EXPECT_EQ(Call("SetEnv", {"LUMIVARRA_DOS_TEST", "v1"}), "");
    EXPECT_EQ(Call("GetEnv", {"LUMIVARRA_DOS_TEST"}), "'v1' 1");
    EXPECT_EQ(Call("UnsetEnv", {"LUMIVARRA_DOS_TEST"}), "");
    EXPECT_EQ(Call("GetEnv", {"LUMIVARRA_DOS_TEST"}), "'' 0");
    EXPECT_EQ(Call("CreateFile", {dir, "new.txt"}), "'" + real + "/new.txt'");
    EXPECT_EQ(Call("CreateFile", {dir, "new.txt"}), "error 1052");
    EXPECT_EQ(Call("SetFileAttributes", {P("f.txt"), FieldsArg({{"flags", 32768}})}), "");
    EXPECT_EQ(Call("OpenFile", {1, P("f.txt"), 1004}), geteuid() == 0 ? "" : "error 1052");
    Call("CloseFile", {1});
    EXPECT_EQ(Call("SetFileAttributes", {P("f.txt"), FieldsArg({{"flags", 65536}})}), "");
    EXPECT_EQ(Call("OpenFile", {1, P("f.txt"), 1004}), "");
}

static std::string ToolDigest(const char *tool, const std::string &path)
{
    std::string cmd = std::string(tool) + " '" + path + "' 2>/dev/null";
    FILE *p = popen(cmd.c_str(), "r");
    if (!p) return "";
    char buf[256] = "";
    if (!fgets(buf, sizeof buf, p)) buf[0] = 0;
    pclose(p);
    std::string s = buf;
    return s.substr(0, s.find(' '));
}

TEST_F(DosLibTest, ChecksumsOfFiles)
{
    std::string data(200000, '\0');
    std::mt19937 rng(11);
    for (char &c : data) c = char(rng());
    WriteAll(P("d.bin"), data);
    WriteAll(P("empty"), "");
    uLong crc = crc32(0, reinterpret_cast<const Bytef *>(data.data()), uInt(data.size()));
    EXPECT_EQ(Call("CRC32", {P("d.bin")}), std::to_string(crc));
    EXPECT_EQ(Call("CRC32", {P("empty")}), "0");
    std::string md5 = ToolDigest("md5sum", P("d.bin"));
    std::string sha1 = ToolDigest("sha1sum", P("d.bin"));
    ASSERT_EQ(md5.size(), 32u);
    ASSERT_EQ(sha1.size(), 40u);
    EXPECT_EQ(Call("MD5", {P("d.bin")}), "'" + md5 + "'");
    EXPECT_EQ(Call("SHA1", {P("d.bin")}), "'" + sha1 + "'");
    EXPECT_EQ(Call("MD5", {P("empty")}), "'d41d8cd98f00b204e9800998ecf8427e'");
    EXPECT_EQ(Call("SHA1", {""}), "error 1055");
    EXPECT_EQ(Call("MD5", {P("missing")}), "error 1045");
}

// ============================================================================
// Directory trees linked into an applet
// ============================================================================

// The entry encoding: kind, 16-bit name length, name, offset and size for files.
static void AddTreeEntry(std::string *out, int kind, const std::string &name, uint32_t offset = 0, uint32_t size = 0)
{
    out->push_back(char(kind));
    out->push_back(char(name.size() >> 8));
    out->push_back(char(name.size()));
    *out += name;
    if (kind == 1) {
        for (int shift : {24, 16, 8, 0}) out->push_back(char(offset >> shift));
        for (int shift : {24, 16, 8, 0}) out->push_back(char(size >> shift));
    }
}

class DosTreeTest : public DosLibTest {
protected:
    lvLinkedDirEntry *tree = nullptr;  // handed to the first handle, which owns it
    std::string bytes;                 // the encoded tree
    void SetUp() override
    {
        DosLibTest::SetUp();
        // Docs/{Readme.txt, Deep/{x.bin}}, top.txt
        AddTreeEntry(&bytes, 2, "Docs");
        AddTreeEntry(&bytes, 1, "Readme.txt", 2, 5);
        AddTreeEntry(&bytes, 2, "Deep");
        AddTreeEntry(&bytes, 1, "x.bin", 0, 2);
        bytes.push_back(0);
        bytes.push_back(0);
        AddTreeEntry(&bytes, 1, "top.txt", 7, 3);
        bytes.push_back(0);
        WriteAll(P("applet.bin"), "#ABhelloxyz");
        SetLinkedAppletFile(P("applet.bin").c_str(), 1);
        size_t used = 0;
        ASSERT_EQ(LoadLinkedDirTree(reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size(), &used, &tree), 0);
        EXPECT_EQ(used, bytes.size());
    }
    void TearDown() override
    {
        SetLinkedAppletFile(nullptr, 0);
        DosLibTest::TearDown();
    }
    // Calls command(handle or number, extra) and answers a field of its table result.
    std::string EntryField(const char *command, lvObjectId id, const char *field)
    {
        int base = GetStackTop(L);
        PushString(L, command);
        GetTableValue(L, LV_GLOBALSINDEX);
        if (id.handle) PushPointer(L, id.handle);
        else PushNumber(L, id.number);
        if (ProtectedCall(L, 1, 1, 0) != 0 || GetValueType(L, -1) != LV_TTABLE) {
            SetStackTop(L, base);
            return "none";
        }
        PushString(L, field);
        GetTableValue(L, -2);
        std::string out = RenderResults(GetStackTop(L));
        SetStackTop(L, base);
        return out;
    }
};

TEST_F(DosTreeTest, TruncatedTreesAreRefused)
{
    for (size_t cut = 0; cut < bytes.size(); cut++) {
        lvLinkedDirEntry *t = reinterpret_cast<lvLinkedDirEntry *>(1);
        EXPECT_EQ(LoadLinkedDirTree(reinterpret_cast<const uint8_t *>(bytes.data()), cut, nullptr, &t), ERR_MEM) << cut;
        EXPECT_EQ(t, nullptr);
    }
    FreeLinkedDirTree(tree);
    tree = nullptr;
}

// "__direntries" names a tree the preload offered; any other value (a forged address, a
// tree already taken) is refused and nothing is adopted or freed (ASan sees a free of a
// foreign address).
TEST_F(DosTreeTest, ForgedTreePointersAreRefused)
{
    static char notATree[64];
    for (double forged : {double(uintptr_t(notATree)), 1.0, double(uintptr_t(tree)) + 8})
        EXPECT_EQ(Call("OpenDirectory", {1, "x", FieldsArg({{"__direntries", PointerArg(forged)}})}), "error 1055");
    OfferLinkedDirTree(tree);
    EXPECT_EQ(Call("OpenDirectory", {1, "applet", FieldsArg({{"__direntries", PointerArg(double(uintptr_t(tree)))}})}), "");
    // Taken once: the same address again is no tree of the list any more.
    EXPECT_EQ(Call("OpenDirectory", {2, "applet", FieldsArg({{"__direntries", PointerArg(double(uintptr_t(tree)))}})}),
              "error 1055");
    EXPECT_EQ(EntryField("nextdirectoryentry", {1, nullptr}, "name"), "'Docs'");
    EXPECT_EQ(Call("CloseDirectory", {1}), "");
}

TEST_F(DosTreeTest, LinkedNamesOfANilHandleFindItAgain)
{
    OfferLinkedDirTree(tree);
    std::string h = Call("OpenDirectory", {NilArg(), "applet", FieldsArg({{"__direntries", PointerArg(double(uintptr_t(tree)))}})});
    ASSERT_EQ(h.rfind("pointer:", 0), 0u) << h;
    void *handle = reinterpret_cast<void *>(uintptr_t(std::stod(h.substr(8))));
    lvObjectId id = {0, handle};
    EXPECT_EQ(EntryField("nextdirectoryentry", id, "name"), "'Docs'");
    EXPECT_EQ(EntryField("nextdirectoryentry", id, "size"), "3");  // top.txt
    EXPECT_EQ(EntryField("nextdirectoryentry", id, "name"), "none");
    EXPECT_EQ(Call("RewindDirectory", {PointerArg(double(uintptr_t(handle)))}), "");
    EXPECT_EQ(EntryField("nextdirectoryentry", id, "flags"), "15");
    EXPECT_EQ(Call("CountDirectoryEntries", {PointerArg(double(uintptr_t(handle))), 3, 1}), "3 2");
    EXPECT_EQ(Call("CountDirectoryEntries", {PointerArg(double(uintptr_t(handle))), 3}), "1 1");

    // A sub-directory's linked name resolves to this handle, not to a handle numbered 0.
    std::string docs = Call("GetDirectoryEntry", {PointerArg(double(uintptr_t(handle))), "docs"});
    ASSERT_EQ(docs.rfind("':::@", 0), 0u) << docs;
    docs = docs.substr(1, docs.size() - 2);
    ASSERT_EQ(Call("OpenDirectory", {0, P("")}), "");  // a handle numbered 0 that must not be found
    ASSERT_EQ(Call("OpenDirectory", {1, docs}), "");
    EXPECT_EQ(EntryField("nextdirectoryentry", {1, nullptr}, "name"), "'Readme.txt'");
    EXPECT_EQ(EntryField("nextdirectoryentry", {1, nullptr}, "name"), "'Deep'");
    // A file's name is a virtual name of its bytes inside the applet file.
    std::string readme = Call("GetDirectoryEntry", {1, "Readme.txt"});
    readme = readme.substr(1, readme.size() - 2);
    EXPECT_EQ(Call("FileToString", {readme}), "'hello' 5");
    std::string x = Call("GetDirectoryEntry", {1, "deep\\x.bin"});
    x = x.substr(1, x.size() - 2);
    EXPECT_EQ(Call("FileToString", {x}), "'AB' 2");
    // Numbered handles make numbered names.
    EXPECT_EQ(Call("GetDirectoryEntry", {1, "Deep"}), "':::1,Deep'");
    ASSERT_EQ(Call("OpenDirectory", {2, ":::1,Deep"}), "");
    EXPECT_EQ(EntryField("nextdirectoryentry", {2, nullptr}, "name"), "'x.bin'");
    EXPECT_EQ(Call("GetDirectoryEntry", {1, "nothing"}), "error 1045");
    EXPECT_EQ(Call("OpenDirectory", {3, ":::1,nothing"}), "error 1045");
    EXPECT_EQ(Call("OpenDirectory", {3, ":::9,Deep"}), "error 1318");
    // Closing the owner leaves the handles listing its parts empty, not dangling.
    EXPECT_EQ(Call("CloseDirectory", {PointerArg(double(uintptr_t(handle)))}), "");
    EXPECT_EQ(Call("RewindDirectory", {2}), "");
    EXPECT_EQ(Call("NextDirectoryEntry", {2}), "");
    EXPECT_EQ(Call("CountDirectoryEntries", {1, 2}), "0");
}

// ============================================================================
// Attributes, dates, volumes and the line iterator
// ============================================================================

// Calls a command with string arguments and answers one field of its table.
static std::string TableField(lvState *L, const char *command, const std::string &arg, const char *field)
{
    int base = GetStackTop(L);
    PushString(L, command);
    GetTableValue(L, LV_GLOBALSINDEX);
    PushString(L, arg.c_str());
    if (ProtectedCall(L, 1, 1, 0) != 0) {
        SetStackTop(L, base);
        return "error";
    }
    PushString(L, field);
    GetTableValue(L, -2);
    std::string out = ValueToString(L, -1) ? ValueToString(L, -1) : "nil";
    SetStackTop(L, base);
    return out;
}

TEST_F(DosLibTest, DatesFlagsAndVolumes)
{
    WriteAll(P("f.txt"), "x");
    EXPECT_EQ(Call("SetFileAttributes", {P("f.txt"), FieldsArg({{"time", "01-Feb-2020 10:20:30"},
                                                                {"lastaccesstime", "03-mar-2021 00:00:59"}})}), "");
    EXPECT_EQ(TableField(L, "getfileattributes", P("f.txt"), "time"), "01-Feb-2020 10:20:30");
    EXPECT_EQ(TableField(L, "getfileattributes", P("f.txt"), "lastaccesstime"), "03-Mar-2021 00:00:59");
    EXPECT_EQ(TableField(L, "getfileattributes", P("f.txt"), "name"), "f.txt");
    EXPECT_EQ(TableField(L, "getfileattributes", P("f.txt"), "virtual"), "0");
    EXPECT_EQ(TableField(L, "getfileattributes", P("f.txt"), "size"), "1");
    EXPECT_EQ(Call("SetFileAttributes", {P("f.txt"), FieldsArg({{"time", "31-Foo-2020 10:20:30"}})}), "error 1285");
    // Hidden is a leading dot; read-only the missing owner write bit; archive and system
    // read as 0 and setting them is accepted.
    WriteAll(P(".hidden"), "");
    EXPECT_EQ(std::stoi(TableField(L, "getfileattributes", P(".hidden"), "flags")) & (32 | 128 | 256 | 32768), 128);
    EXPECT_EQ(Call("SetFileAttributes", {P(".hidden"), FieldsArg({{"flags", 32 | 256 | 32768}})}), "");
    EXPECT_EQ(std::stoi(TableField(L, "getfileattributes", P(".hidden"), "flags")) & (32 | 256 | 32768), 32768);
    EXPECT_EQ(Call("SetFileAttributes", {P("missing"), FieldsArg({})}), "error 1286");
    EXPECT_EQ(Call("GetFileAttributes", {P("missing")}), "error 1045");
    // A virtual name reports itself as the path.
    std::string v = Call("DefineVirtualFileFromString", {"abc", "v.txt"});
    v = v.substr(1, v.size() - 2);
    EXPECT_EQ(TableField(L, "getfileattributes", v, "virtual"), "1");
    EXPECT_EQ(TableField(L, "getfileattributes", v, "path"), v);
    EXPECT_EQ(TableField(L, "getfileattributes", v, "name"), "v.txt");

    EXPECT_EQ(Call("GetVolumeInfo", {""}), "error 1014");
    EXPECT_EQ(Call("GetVolumeInfo", {"", 1}), "error 1055");
    std::string freeBytes = Call("GetVolumeInfo", {dir, 1});
    EXPECT_GT(std::stod(freeBytes), 0.0) << freeBytes;
    EXPECT_EQ(Call("GetVolumeInfo", {P("missing/x"), 1}), "error 1043");
    EXPECT_EQ(Call("HaveVolume", {dir}), "1");
    EXPECT_EQ(Call("GetStartDirectory", {1}), "error 1193");
    std::string program = Call("GetProgramDirectory", {});
    EXPECT_NE(program.find("/bin"), std::string::npos) << program;
    EXPECT_EQ(Call("AllowBackslash", {1}), "");
}

TEST_F(DosLibTest, FileLinesComeInPiecesOf1024Bytes)
{
    WriteAll(P("lines.txt"), "one\r\ntwo\n" + std::string(3000, 'x'));
    int base = GetStackTop(L);
    PushString(L, "filelines");
    GetTableValue(L, LV_GLOBALSINDEX);
    PushString(L, P("lines.txt").c_str());
    ASSERT_EQ(ProtectedCall(L, 1, 1, 0), 0);
    int iterator = GetStackTop(L);
    std::vector<std::string> lines;
    for (int i = 0; i < 8; i++) {
        PushCopy(L, iterator);
        ASSERT_EQ(ProtectedCall(L, 0, 1, 0), 0);
        if (GetValueType(L, -1) == LV_TNIL) {
            SetStackTop(L, -2);
            break;
        }
        lines.emplace_back(ValueToString(L, -1), ValueStringLength(L, -1));
        SetStackTop(L, -2);
    }
    // Further calls after the end answer nothing too.
    PushCopy(L, iterator);
    ASSERT_EQ(ProtectedCall(L, 0, 1, 0), 0);
    EXPECT_EQ(GetValueType(L, -1), LV_TNIL);
    SetStackTop(L, base);
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[0], "one");
    EXPECT_EQ(lines[1], "two");
    EXPECT_EQ(lines[2].size(), 1024u);
    EXPECT_EQ(lines[3].size(), 1024u);
    EXPECT_EQ(lines[4].size(), 952u);
    RunFullCollection(L);  // the iterator's file is closed by its collector too
}

// ReadBytes and WriteBytes move bytes as they are on every handle; names given in
// ISO-8859-1 mode reach the system as UTF-8.
TEST_F(DosLibTest, RawBytesAndLatin1Names)
{
    WriteAll(P("bom.txt"), "\xEF\xBB\xBFh\xC3\xA9");
    ASSERT_EQ(Call("OpenFile", {1, P("bom.txt"), 1005, FieldsArg({{"encoding", 1}})}), "");
    EXPECT_EQ(Call("ReadBytes", {1, 4}), "'\xEF\xBB\xBFh'");
    EXPECT_EQ(Call("ReadBytes", {1}), "'é'") << "the rest, raw";
    EXPECT_EQ(Call("CloseFile", {1}), "");
    ASSERT_EQ(Call("OpenFile", {1, P("raw.bin"), 1006, FieldsArg({{"encoding", 0}})}), "");
    EXPECT_EQ(Call("WriteBytes", {1, "\xC3\xA9xyz", 3}), "");
    EXPECT_EQ(Call("CloseFile", {1}), "");
    EXPECT_EQ(ReadAll(P("raw.bin")), "\xC3\xA9x");
    SetUtf8Mode(false);
    EXPECT_EQ(Call("StringToFile", {"data", P("caf\xE9.txt")}), "");
    SetUtf8Mode(true);
    EXPECT_EQ(ReadAll(P("café.txt")), "data");
}

TEST_F(DosDirTest, ObjectAttributes)
{
    ASSERT_EQ(OpenObjectLibrary(L), 0);
    ASSERT_EQ(Call("OpenFile", {3, P("a.txt"), 1004, FieldsArg({{"encoding", 1}})}), "");
    ASSERT_EQ(Call("OpenFile", {4, P("b.txt")}), "");
    const std::vector<lvCommandCase> cases = {
        {"GetAttribute", {44, 3, 42}, "1004"},
        {"GetAttribute", {44, 3, 122}, "1"},
        {"GetAttribute", {44, 4, 122}, "-1"},
        {"GetAttribute", {44, 3, 19}, "''"},
        {"GetAttribute", {44, 3, 87}, "'inbuilt'"},
        {"GetAttribute", {44, 3, 60}, "2"},
        {"GetAttribute", {44, 3, 1}, "error 1080"},
        {"GetAttribute", {44, 9, 42}, "error 1179"},
    };
    RunCases(cases);
    ASSERT_EQ(Call("OpenDirectory", {5, dir}), "");
    EXPECT_EQ(Call("GetAttribute", {45, 5, 87}), "'inbuilt'");
    EXPECT_EQ(Call("GetAttribute", {45, 5, 19}), "''");
    EXPECT_EQ(Call("GetAttribute", {45, 5, 60}), "1");
    EXPECT_EQ(Call("GetAttribute", {45, 7, 87}), "error 1318");
}

// Disassembler round trips: every assembler source of the repository assembles, and
// printing its chunk and assembling the text gives the same bytes; the command-line
// tools do the same through a pipe; garbage, truncated and mutated chunks give a
// message or a faithful round trip, never a crash.
#include "tests/tools/asm_verifier.h"
#include "tools/lvasm/lvasm.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

namespace fs = std::filesystem;

static std::string ReadFile(const fs::path &p)
{
    return ReadTestFile(p.string());
}

// Reads, prints and reassembles a chunk; answers "" when the bytes come back unchanged.
static std::string RoundTrip(const std::vector<uint8_t> &bytes)
{
    std::string text, error;
    if (!AsmDisassembleBytes(bytes.data(), bytes.size(), text, error)) return "not readable: " + error;
    lvAsmResult again = AsmAssembleText(text, "dis.lvs");
    if (!again.ok) return "text does not assemble:\n" + JoinLines(again.errors) + text;
    if (again.bytes != bytes) return "bytes differ after the round trip:\n" + text;
    return "";
}

// Every *.lvs of examples/ and tests/; names ending ".bad.lvs" are meant to fail.
static std::vector<fs::path> AllSources()
{
    std::vector<fs::path> out;
    for (const char *dir : {"examples", "tests"}) {
        fs::path root = fs::path(LV_SOURCE_DIR) / dir;
        if (!fs::exists(root)) continue;
        for (const auto &e : fs::recursive_directory_iterator(root))
            if (e.is_regular_file() && e.path().extension() == ".lvs") out.push_back(e.path());
    }
    std::sort(out.begin(), out.end());
    return out;
}

static bool EndsWith(const std::string &s, const std::string &tail)
{
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

TEST(AsmRoundTrip, EverySourceOfTheRepository)
{
    std::vector<fs::path> sources = AllSources();
    ASSERT_GE(sources.size(), 5u);  // hello plus the fixtures of this suite
    for (const fs::path &p : sources) {
        std::string text = ReadFile(p);
        lvAsmResult r = AsmAssembleText(text, p.filename().string());
        if (EndsWith(p.string(), ".bad.lvs")) {
            EXPECT_FALSE(r.ok) << p;
            continue;
        }
        ASSERT_TRUE(r.ok) << p << "\n" << JoinLines(r.errors);
        EXPECT_EQ(RoundTrip(r.bytes), "") << p;
        // Sources without raw words or unchecked functions must obey the machine's rules.
        bool exempt = text.find(".unchecked") != std::string::npos || text.find("word ") != std::string::npos;
        if (!exempt) {
            lvAsmChunk probe = r.chunk;  // the independent reader takes little-endian chunks only
            probe.header = lvAsmHeader{};
            probe.header.lengthWidth = r.chunk.header.lengthWidth;
            EXPECT_EQ(JoinLines(VerifyTestChunk(AsmWriteChunk(probe))), "") << p;
        }
    }
}

TEST(AsmRoundTrip, BuiltChunksMatchTheLibrary)
{
    fs::path hello = fs::path(LV_BUILD_DIR) / "examples" / "hello.lvc";
    ASSERT_TRUE(fs::exists(hello)) << hello;
    std::string built = ReadFile(hello);
    lvAsmResult r = AsmAssembleText(ReadFile(fs::path(LV_SOURCE_DIR) / "examples" / "hello.lvs"), "hello.lvs");
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(std::vector<uint8_t>(built.begin(), built.end()), r.bytes);
    EXPECT_EQ(ReadFile(fs::path(LV_BUILD_DIR) / "examples" / "hello.labels"), "");
    EXPECT_EQ(ReadFile(fs::path(LV_BUILD_DIR) / "examples" / "count.labels"), "again 5\nnext 6\nshow 11\n");
    std::string text;
    std::string error;
    ASSERT_TRUE(AsmDisassembleBytes(r.bytes.data(), r.bytes.size(), text, error));
    EXPECT_NE(text.find("getglobal r0 \"debugprint\""), std::string::npos) << text;
    EXPECT_NE(text.find("loadk r1 \"Hello from Lumivarra!\""), std::string::npos) << text;
    EXPECT_NE(text.find("getglobal r0 \"end\""), std::string::npos) << text;
    EXPECT_NE(text.find("loadk r1 5"), std::string::npos) << text;
}

TEST(AsmRoundTrip, CommandLineToolsThroughAPipe)
{
    fs::path dir = fs::path(testing::TempDir()) / "asm_roundtrip_cli";
    fs::create_directories(dir);
    std::string bin = LV_BIN_DIR;
    fs::path src = fs::path(LV_SOURCE_DIR) / "tests/tools/asm_fixtures/program30.lvs";
    std::string a = (dir / "a.lvc").string(), b = (dir / "b.lvc").string(), labels = (dir / "a.labels").string();
    std::string cmd = bin + "/lvasm " + src.string() + " -o " + a + " -l " + labels + " && " + bin + "/lvdis " + a +
                      " | " + bin + "/lvasm - -o " + b;
    ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
    EXPECT_EQ(ReadFile(a), ReadFile(b));
    EXPECT_EQ(ReadFile(labels), "body 6\ntest 7\nreport 14\ndone 18\n");

    // Errors: a bad source and a file that is not a chunk give a message and a failure status.
    std::ofstream(dir / "bad.lvs") << "    move r0\n";
    std::string bad = bin + "/lvasm " + (dir / "bad.lvs").string() + " -o " + (dir / "x.lvc").string() + " 2>" +
                      (dir / "err.txt").string();
    EXPECT_NE(std::system(bad.c_str()), 0);
    EXPECT_NE(ReadFile(dir / "err.txt").find("bad.lvs:1: move takes 2 operands"), std::string::npos);
    std::string dis = bin + "/lvdis " + src.string() + " 2>" + (dir / "err2.txt").string() + " >/dev/null";
    EXPECT_NE(std::system(dis.c_str()), 0);
    EXPECT_NE(ReadFile(dir / "err2.txt").find("not a chunk"), std::string::npos);
    fs::remove_all(dir);
}

// ---------------------------------------------------------------------------------
// Malformed input
// ---------------------------------------------------------------------------------

static std::vector<uint8_t> Fixture(const char *name)
{
    lvAsmResult r = AsmAssembleText(ReadFile(fs::path(LV_SOURCE_DIR) / "tests/tools/asm_fixtures" / name), name);
    EXPECT_TRUE(r.ok) << name << JoinLines(r.errors);
    return r.bytes;
}

TEST(AsmRoundTrip, TruncatedChunksFailWithTheOffset)
{
    for (const char *name : {"allops.lvs", "header_big.lvs", "oddities.lvs"}) {
        std::vector<uint8_t> full = Fixture(name);
        for (size_t n = 0; n < full.size(); n++) {
            std::string text, error;
            ASSERT_FALSE(AsmDisassembleBytes(full.data(), n, text, error)) << name << " cut at " << n;
            ASSERT_NE(error.find("offset"), std::string::npos) << error;
        }
        std::vector<uint8_t> longer = full;
        longer.push_back(0);
        std::string text, error;
        EXPECT_FALSE(AsmDisassembleBytes(longer.data(), longer.size(), text, error));
        EXPECT_NE(error.find("1 bytes follow"), std::string::npos) << error;
    }
}

TEST(AsmRoundTrip, SpecificFaultsAreNamed)
{
    std::vector<uint8_t> ok = Fixture("program30.lvs");
    const struct { size_t at; uint8_t value; const char *want; } rows[] = {
        {0, 'X', "not a chunk"},
        {5, 5, "sizes must be 4, 4 and 8"},
        {6, 2, "length size 2 is not 4 or 8"},
    };
    for (const auto &row : rows) {
        std::vector<uint8_t> b = ok;
        b[row.at] = row.value;
        std::string text, error;
        EXPECT_FALSE(AsmDisassembleBytes(b.data(), b.size(), text, error));
        EXPECT_NE(error.find(row.want), std::string::npos) << error;
    }
    // A huge count is refused before anything is allocated.
    lvAsmChunk c;
    c.main.code = {AsmEncodeABC(ASMOP_RETURN, 0, 1, 0)};
    c.main.codeCount = 0x7FFFFFFF;
    std::vector<uint8_t> b = AsmWriteChunk(c);
    std::string text, error;
    EXPECT_FALSE(AsmDisassembleBytes(b.data(), b.size(), text, error));
    EXPECT_NE(error.find("instruction count 2147483647 is more than the chunk holds"), std::string::npos) << error;
    c.main.codeCount = -1;
    b = AsmWriteChunk(c);
    EXPECT_FALSE(AsmDisassembleBytes(b.data(), b.size(), text, error));
    EXPECT_NE(error.find("negative instruction count"), std::string::npos) << error;
    lvAsmConstant bad;
    bad.type = 1;
    c.main.codeCount.reset();
    c.main.constants = {bad};
    b = AsmWriteChunk(c);
    EXPECT_FALSE(AsmDisassembleBytes(b.data(), b.size(), text, error));
    EXPECT_NE(error.find("unknown constant type byte 1"), std::string::npos) << error;
}

TEST(AsmRoundTrip, MutatedChunksGiveAMessageOrTheSameBytes)
{
    std::mt19937 rng(1234);
    int readable = 0;
    for (const char *name : {"allops.lvs", "program30.lvs", "oddities.lvs", "header_big.lvs"}) {
        std::vector<uint8_t> base = Fixture(name);
        for (size_t at = 4; at < base.size(); at++) {
            // One mutation a byte, turn by turn: all bits, a random value, the next value.
            const uint8_t choices[3] = {uint8_t(base[at] ^ 0xFF), uint8_t(rng()), uint8_t(base[at] + 1)};
            std::vector<uint8_t> b = base;
            b[at] = choices[at % 3];
            std::string text, error;
            if (!AsmDisassembleBytes(b.data(), b.size(), text, error)) {
                ASSERT_FALSE(error.empty());
                continue;
            }
            readable++;
            // A string's last byte and the high half of an 8-byte length are not read (the
            // loader takes them so too): the text then writes them as zero, and that chunk
            // reads back to the same text and round-trips exactly.
            std::string rt = RoundTrip(b);
            if (!rt.empty()) {
                lvAsmResult again = AsmAssembleText(text, "dis.lvs");
                std::string text2, error2;
                ASSERT_TRUE(again.ok && AsmDisassembleBytes(again.bytes.data(), again.bytes.size(), text2, error2))
                    << name << " byte " << at << ": " << rt;
                EXPECT_EQ(text2, text) << name << " byte " << at;
                ASSERT_EQ(RoundTrip(again.bytes), "") << name << " byte " << at;
            }
        }
    }
    EXPECT_GT(readable, 600);  // most mutations of code and constants stay readable
}

TEST(AsmRoundTrip, RandomBytesNeverCrash)
{
    std::mt19937 rng(99);
    for (int i = 0; i < 3000; i++) {
        std::vector<uint8_t> b(size_t(rng() % 200));
        for (uint8_t &x : b) x = uint8_t(rng());
        if (i % 2 && b.size() >= 21) {  // half of them get a believable header
            const uint8_t head[13] = {0x1B, 'L', 'V', 'B', 1, 4, 4, 4, 6, 8, 9, 9, 8};
            std::copy(head, head + 13, b.begin());
        }
        std::string text, error;
        if (AsmDisassembleBytes(b.data(), b.size(), text, error)) EXPECT_EQ(RoundTrip(b), "");
        else EXPECT_FALSE(error.empty());
    }
}

// Tests of the compress library's commands: files round-trip through CompressFile and
// DecompressFile; wrong and cut streams fail with their codes.
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "tests/runtime/rtcmds_util.h"

namespace {

class RtCompressTest : public RtCmdsTest {
protected:
    std::string dir;
    void SetUp() override
    {
        RtCmdsTest::SetUp();
        char templ[] = "/tmp/rtcmds_compressXXXXXX";
        ASSERT_NE(mkdtemp(templ), nullptr);
        dir = templ;
    }
    void TearDown() override
    {
        for (const char *name : {"in.bin", "packed.lvpk", "out.bin", "cut.lvpk", "plain.txt"})
            std::remove((dir + "/" + name).c_str());
        rmdir(dir.c_str());
        RtCmdsTest::TearDown();
    }
    std::string Path(const char *name) { return dir + "/" + name; }
    void Write(const char *name, const std::string &bytes)
    {
        std::ofstream(Path(name), std::ios::binary) << bytes;
    }
    std::string Read(const char *name)
    {
        std::ifstream in(Path(name), std::ios::binary);
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }
    // CompressFile or DecompressFile from a chunk; answers the status, the size on the stack.
    int Command(const char *command, const char *from, const char *to)
    {
        SetStackTop(L, 0);
        ResetVMRun();
        std::string text = std::string("getglobal r0 \"") + command + "\"\nloadk r1 \"" + Path(from) + "\"\nloadk r2 \"" +
                           Path(to) + "\"\ncall r0 3 2\nreturn r0 2\n";
        return Run(text);
    }
};

}  // namespace

TEST_F(RtCompressTest, RoundTripThroughTheCommands)
{
    std::string data;
    for (int i = 0; i < 70000; i++) data += static_cast<char>((i * 7) % 251);
    data += std::string(50000, 'z');
    Write("in.bin", data);
    ASSERT_EQ(Command("compressfile", "in.bin", "packed.lvpk"), 0);
    std::string packed = Read("packed.lvpk");
    EXPECT_EQ(Num(1), static_cast<double>(packed.size()));
    ASSERT_GE(packed.size(), 8u);
    EXPECT_EQ(packed.substr(0, 4), "LVPK");
    // The unpacked size, big-endian.
    uint32_t size = (uint8_t(packed[4]) << 24) | (uint8_t(packed[5]) << 16) | (uint8_t(packed[6]) << 8) | uint8_t(packed[7]);
    EXPECT_EQ(size, data.size());
    EXPECT_LT(packed.size(), data.size());
    ASSERT_EQ(Command("decompressfile", "packed.lvpk", "out.bin"), 0);
    EXPECT_EQ(Num(1), static_cast<double>(data.size()));
    EXPECT_EQ(Read("out.bin"), data);
}

TEST_F(RtCompressTest, EmptyFileRoundTrips)
{
    Write("in.bin", "");
    ASSERT_EQ(Command("compressfile", "in.bin", "packed.lvpk"), 0);
    EXPECT_GT(Num(1), 8);  // the header and an empty zlib stream
    ASSERT_EQ(Command("decompressfile", "packed.lvpk", "out.bin"), 0);
    EXPECT_EQ(Num(1), 0);
    EXPECT_EQ(Read("out.bin"), "");
}

TEST_F(RtCompressTest, FailuresCarryTheirCodes)
{
    Write("plain.txt", "this is not a packed stream at all");
    EXPECT_EQ(Command("decompressfile", "plain.txt", "out.bin"), ERR_PAKFORMAT);
    Write("in.bin", std::string(20000, 'q') + "tail");
    ASSERT_EQ(Command("compressfile", "in.bin", "packed.lvpk"), 0);
    std::string packed = Read("packed.lvpk");
    Write("cut.lvpk", packed.substr(0, packed.size() - 6));
    EXPECT_EQ(Command("decompressfile", "cut.lvpk", "out.bin"), ERR_ZLIBDATA);
    EXPECT_EQ(Command("compressfile", "missing.bin", "packed.lvpk"), ERR_READFILE);
    char text[256];
    GetErrorText(ERR_READFILE, text, sizeof text);
    EXPECT_STREQ(text, "Cannot read file missing.bin !");
    EXPECT_EQ(Command("decompressfile", "packed.lvpk", "no/such/dir/out.bin"), ERR_WRITEFILE);
    // Too few arguments.
    SetStackTop(L, 0);
    EXPECT_EQ(Run("getglobal r0 \"compressfile\"\nloadk r1 \"x\"\ncall r0 2 2\nreturn r0 2\n"), ERR_MISSINGPARAMTR);
}

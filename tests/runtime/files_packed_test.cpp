// Tests of packed streams: round trips, zlib's own streams, damaged input.
#include "files_fixture.h"
#include "base/lverrors.h"
#include "runtime/packed.h"

#include <gtest/gtest.h>
#include <cstring>
#include <zlib.h>

namespace {

TEST(Packed, RoundTripsThroughFiles)
{
    ScratchDir dir;
    for (size_t size : {(size_t)0, (size_t)16385, (size_t)1 << 20}) {
        std::vector<uint8_t> data = Pattern(size, 11);
        for (size_t i = 0; i < size; i += 3) data[i] = (uint8_t)(i * 2654435761u >> 24); // less regular
        std::string src = dir.Write("src.bin", data);
        std::string packed = dir.Join("packed.lvpk");
        std::string out = dir.Join("out.bin");
        int64_t packedSize = -1, unpackedSize = -1;
        ASSERT_EQ(CompressFile(src.c_str(), packed.c_str(), &packedSize), 0) << size;
        std::vector<uint8_t> bytes = ReadAll(packed);
        EXPECT_EQ((int64_t)bytes.size(), packedSize);
        ASSERT_GE(bytes.size(), 8u);
        EXPECT_EQ(0, std::memcmp(bytes.data(), "LVPK", 4));
        EXPECT_EQ((uint32_t)(bytes[4] << 24 | bytes[5] << 16 | bytes[6] << 8 | bytes[7]), (uint32_t)size);
        ASSERT_EQ(DecompressFile(packed.c_str(), out.c_str(), &unpackedSize), 0) << size;
        EXPECT_EQ(unpackedSize, (int64_t)size);
        EXPECT_EQ(ReadAll(out), data) << size;
    }
}

// A stream whose zlib part comes from compress2 at the best level.
std::vector<uint8_t> StreamFromCompress2(const std::vector<uint8_t> &data, const char *magic)
{
    uLongf bound = compressBound(data.size());
    std::vector<uint8_t> z(bound);
    EXPECT_EQ(compress2(z.data(), &bound, data.data(), data.size(), 9), Z_OK);
    z.resize(bound);
    std::vector<uint8_t> out(magic, magic + 4);
    uint32_t n = (uint32_t)data.size();
    for (int s : {24, 16, 8, 0}) out.push_back((uint8_t)(n >> s));
    out.insert(out.end(), z.begin(), z.end());
    return out;
}

TEST(Packed, UnpacksZlibsOwnStreamsIntoMemoryAndFromOffsets)
{
    ScratchDir dir;
    std::vector<uint8_t> data = Pattern(50000, 2);
    std::vector<uint8_t> stream = StreamFromCompress2(data, "PLPK");
    // Embedded at offset 37 of a larger file, followed by other bytes.
    std::vector<uint8_t> file(37, 0xAA);
    file.insert(file.end(), stream.begin(), stream.end());
    file.insert(file.end(), 100, 0xBB);
    std::string path = dir.Write("blocks.bin", file);

    std::vector<uint8_t> memory(60000, 0);
    int64_t consumed = 0;
    ASSERT_EQ(UnpackStream("PLPK", path.c_str(), nullptr, nullptr, 37, nullptr, &consumed, memory.data(),
                           memory.size()),
              0);
    EXPECT_EQ(consumed, (int64_t)stream.size());
    EXPECT_EQ(0, std::memcmp(memory.data(), data.data(), data.size()));

    // A 1024-byte area stops after 1024 bytes with success.
    std::vector<uint8_t> small(1024 + 16, 0x5A);
    ASSERT_EQ(UnpackStream("PLPK", path.c_str(), nullptr, nullptr, 37, nullptr, nullptr, small.data(), 1024), 0);
    EXPECT_EQ(0, std::memcmp(small.data(), data.data(), 1024));
    EXPECT_EQ(small[1024], 0x5A);

    // From an open handle at its position, output nowhere.
    lvVFile *f = OpenVFile(path.c_str(), LV_VF_READ, nullptr, nullptr);
    ASSERT_NE(f, nullptr);
    SeekVFile(f, 37, 1);
    ASSERT_EQ(UnpackStream("PLPK", nullptr, nullptr, f, 0, nullptr, &consumed, nullptr, 0), 0);
    EXPECT_EQ(consumed, (int64_t)stream.size());
    CloseVFile(f);

    // Into an open destination: PackFile writes at its position.
    std::string src = dir.Write("s.bin", data);
    lvVFile *dst = OpenVFile(dir.Join("d.bin").c_str(), LV_VF_WRITE, nullptr, nullptr);
    ASSERT_NE(dst, nullptr);
    WriteVFile(dst, "HEAD", 4);
    int64_t packedSize = 0;
    ASSERT_EQ(PackFile("LVZ", src.c_str(), nullptr, dst, &packedSize), 0);
    CloseVFile(dst);
    EXPECT_EQ((int64_t)ReadAll(dir.Join("d.bin")).size(), packedSize + 4);
    std::fill(memory.begin(), memory.end(), 0);
    ASSERT_EQ(UnpackStream("LVZ", dir.Join("d.bin").c_str(), nullptr, nullptr, 4, nullptr, nullptr, memory.data(),
                           memory.size()),
              0);
    EXPECT_EQ(0, std::memcmp(memory.data(), data.data(), data.size()));
}

TEST(Packed, DamagedInputGivesErrors)
{
    ScratchDir dir;
    std::vector<uint8_t> data = Pattern(100000, 6);
    std::vector<uint8_t> good = StreamFromCompress2(data, "LVPK");
    struct Case {
        const char *what;
        std::vector<uint8_t> bytes;
        int code;
    };
    std::vector<uint8_t> cut(good.begin(), good.begin() + good.size() / 2);
    std::vector<uint8_t> flipped = good;
    flipped[good.size() / 2] ^= 0x40;
    std::vector<uint8_t> badChecksum = good;
    badChecksum.back() ^= 1;
    std::vector<uint8_t> wrongMagic = good;
    wrongMagic[0] = 'X';
    std::vector<uint8_t> badHeader = good;
    badHeader[8] = 0x00; // no zlib header
    std::vector<uint8_t> dictionary = {'L', 'V', 'P', 'K', 0, 0, 0, 1, 0x78, 0xBB, 0, 0, 0, 1};
    const Case cases[] = {
        {"cut inside the deflate data", cut, ERR_ZLIBDATA},
        {"flipped bit", flipped, ERR_ZLIBDATA},
        {"bad checksum", badChecksum, ERR_ZLIBDATA},
        {"not a packed stream", wrongMagic, ERR_PAKFORMAT},
        {"bad zlib header", badHeader, ERR_ZLIBDATA},
        {"preset dictionary", dictionary, ERR_ZLIBDATA},
        {"header only", std::vector<uint8_t>(good.begin(), good.begin() + 8), ERR_ZLIBDATA},
        {"short header", std::vector<uint8_t>(good.begin(), good.begin() + 6), ERR_READ},
        {"empty", {}, ERR_READ},
    };
    for (const Case &c : cases) {
        std::string path = dir.Write("bad.lvpk", c.bytes);
        int64_t size = 0;
        EXPECT_EQ(DecompressFile(path.c_str(), dir.Join("o.bin").c_str(), &size), c.code) << c.what;
    }
    EXPECT_EQ(DecompressFile(dir.Join("missing").c_str(), dir.Join("o.bin").c_str(), nullptr), ERR_READFILE);
    std::string path = dir.Write("ok.lvpk", good);
    EXPECT_EQ(DecompressFile(path.c_str(), dir.Join("no/dir/o.bin").c_str(), nullptr), ERR_WRITEFILE);
    EXPECT_EQ(CompressFile(dir.Join("missing").c_str(), dir.Join("p").c_str(), nullptr), ERR_READFILE);
    EXPECT_EQ(MapZlibError(Z_VERSION_ERROR), ERR_ZLIBVERSION);
    EXPECT_EQ(MapZlibError(Z_MEM_ERROR), ERR_MEM);
    EXPECT_EQ(MapZlibError(Z_STREAM_ERROR), ERR_ZLIBSTREAM);
    EXPECT_EQ(MapZlibError(Z_ERRNO), ERR_ZLIBIO);
    EXPECT_EQ(MapZlibError(Z_BUF_ERROR), ERR_UNKNOWN);
}

} // namespace

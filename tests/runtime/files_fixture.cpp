// files_fixture.cpp - scratch folders for the file tests.
#include "files_fixture.h"
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

ScratchDir::ScratchDir()
{
    char tmpl[] = "/tmp/lvfilesXXXXXX";
    char *made = mkdtemp(tmpl);
    path = made ? made : "/tmp";
}

ScratchDir::~ScratchDir()
{
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
}

std::string ScratchDir::Write(const std::string &name, const std::vector<uint8_t> &bytes) const
{
    std::string full = Join(name);
    std::filesystem::create_directories(std::filesystem::path(full).parent_path());
    std::ofstream out(full, std::ios::binary);
    out.write(reinterpret_cast<const char *>(bytes.data()), (std::streamsize)bytes.size());
    return full;
}

std::string ScratchDir::Write(const std::string &name, const std::string &text) const
{
    return Write(name, std::vector<uint8_t>(text.begin(), text.end()));
}

std::vector<uint8_t> ReadAll(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<uint8_t> Pattern(size_t count, unsigned seed)
{
    std::vector<uint8_t> out(count);
    for (size_t i = 0; i < count; i++) out[i] = (uint8_t)((i * 7 + seed + (i >> 8) * 13) & 0xFF);
    return out;
}

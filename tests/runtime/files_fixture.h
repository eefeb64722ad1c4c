// files_fixture.h - a scratch folder per test and small file helpers.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

struct ScratchDir {
    std::string path; // absolute, without trailing "/"
    ScratchDir();
    ~ScratchDir();
    std::string Join(const std::string &name) const { return path + "/" + name; }
    // Writes bytes to name (created with its folders) and returns the full path.
    std::string Write(const std::string &name, const std::vector<uint8_t> &bytes) const;
    std::string Write(const std::string &name, const std::string &text) const;
};

std::vector<uint8_t> ReadAll(const std::string &path);
// Bytes i*7+seed, a pattern in which every offset is told apart from its neighbours.
std::vector<uint8_t> Pattern(size_t count, unsigned seed = 1);

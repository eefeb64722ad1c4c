// module_fixture.h - a writer of four-channel "M.K." module files for the player tests,
// built from the format's own layout: header, 31 sample headers, order list, patterns,
// sample data.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

struct ModNote {
    int period = 0, instrument = 0, effect = 0, parameter = 0;
};

struct ModSample {
    std::vector<int8_t> data; // even length: the header stores words
    int finetune = 0, volume = 64;
    int loopStartBytes = 0, loopLengthBytes = 2; // 2 bytes: no loop
};

struct ModFixture {
    std::string name = "fixture";
    std::vector<ModSample> samples;             // instruments 1..
    std::vector<int> orders{0};                 // positions of the song
    int songLengthByte = -1;                    // stored length other than orders.size()
    std::vector<std::vector<ModNote>> patterns; // each 256 notes (row x 4 + channel)
    int extraPatterns = 0;                      // pattern bytes appended (or removed when negative)

    ModNote &At(int pattern, int row, int channel)
    {
        while ((int)patterns.size() <= pattern) patterns.emplace_back(256);
        return patterns[pattern][row * 4 + channel];
    }
};

std::vector<uint8_t> MakeModule(const ModFixture &fixture);

// topaz_source.h - the expected pixels of topaz text, read from the font's
// drawn source (text/fonts/topaz.txt) rather than from the renderer.
#pragma once
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>
#include <vector>

// A picture of set pixels.
struct lvBits {
    int w, h;
    std::vector<uint8_t> on;
    lvBits(int width, int height) : w(width), h(height), on((size_t)width * height, 0) {}
    void Set(int x, int y)
    {
        if (x >= 0 && y >= 0 && x < w && y < h) on[(size_t)y * w + x] = 1;
    }
    bool At(int x, int y) const { return x >= 0 && y >= 0 && x < w && y < h && on[(size_t)y * w + x]; }
};

// Glyphs drawn directly in the source ("glyph XX" and 8 rows of '#' and '.').
inline const std::map<int, std::vector<std::string>> &TopazGlyphSource()
{
    static const std::map<int, std::vector<std::string>> glyphs = [] {
        std::map<int, std::vector<std::string>> g;
        std::ifstream in(LV_TOPAZ_SOURCE);
        std::string line;
        while (std::getline(in, line)) {
            if (line.rfind("glyph ", 0) != 0) continue;
            int code = (int)std::strtol(line.c_str() + 6, nullptr, 16);
            std::vector<std::string> rows;
            for (int i = 0; i < 8 && std::getline(in, line); i++) rows.push_back(line);
            g[code] = rows;
        }
        return g;
    }();
    return glyphs;
}

// Text of 8-pixel cells placed at (dx, dy) in a w x h picture.
inline lvBits TopazText(const std::string &text, int width, int height, int dx = 0, int dy = 0)
{
    lvBits b(width, height);
    for (size_t i = 0; i < text.size(); i++) {
        const auto &rows = TopazGlyphSource().at((uint8_t)text[i]);
        for (int y = 0; y < 8; y++)
            for (int x = 0; x < 8; x++)
                if (rows[y][x] == '#') b.Set(dx + 8 * (int)i + x, dy + y);
    }
    return b;
}

// topazgen - turns the drawn topaz source (topaz.txt) into the glyph strip of
// the built-in font: 225 glyphs of 8 x 8 pixels (codes 32-255 and the
// fallback), one byte a glyph row, rows of 225 bytes.
//
// Usage: topazgen SOURCE OUTPUT.cpp. Exits 1 naming the line of any fault in
// the source.
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Accent {
    std::vector<std::pair<int, uint8_t>> cap, small;
};

int Fail(int line, const std::string &why)
{
    fprintf(stderr, "topaz.txt:%d: %s\n", line, why.c_str());
    return 1;
}

bool Pixels(const std::string &row, uint8_t *bits)
{
    if (row.size() != 8) return false;
    *bits = 0;
    for (int i = 0; i < 8; i++) {
        if (row[i] == '#') *bits |= (uint8_t)(0x80 >> i);
        else if (row[i] != '.') return false;
    }
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 3) {
        fprintf(stderr, "usage: topazgen SOURCE OUTPUT\n");
        return 2;
    }
    std::ifstream in(argv[1]);
    if (!in) return Fail(0, "cannot read the source");
    std::vector<std::string> lines;
    for (std::string l; std::getline(in, l);) lines.push_back(l);

    std::map<std::string, std::vector<uint8_t>> glyphs; // by hex code or name
    std::map<std::string, Accent> accents;
    std::vector<std::pair<int, std::vector<std::string>>> composes;
    for (size_t i = 0; i < lines.size(); i++) {
        std::istringstream words(lines[i]);
        std::string kind;
        words >> kind;
        int line = (int)i + 1;
        if (kind.empty() || kind[0] == '#') continue;
        if (kind == "glyph") {
            std::string key;
            words >> key;
            if (key.empty() || glyphs.count(key)) return Fail(line, "glyph without a new name");
            std::vector<uint8_t> rows(8);
            for (int r = 0; r < 8; r++)
                if (i + 1 + r >= lines.size() || !Pixels(lines[i + 1 + r], &rows[r]))
                    return Fail(line + 1 + r, "a glyph row is 8 of '#' and '.'");
            glyphs[key] = rows;
            i += 8;
        } else if (kind == "accent") {
            std::string name;
            words >> name;
            Accent a;
            while (i + 1 < lines.size()) {
                std::istringstream part(lines[i + 1]);
                std::string which, pixels;
                int row = -1;
                part >> which >> row >> pixels;
                if (which != "cap" && which != "small") break;
                uint8_t bits;
                if (row < 0 || row > 7 || !Pixels(pixels, &bits)) return Fail((int)i + 2, "accent row");
                (which == "cap" ? a.cap : a.small).push_back({row, bits});
                i++;
            }
            accents[name] = a;
        } else if (kind == "compose") {
            std::string code, base, accent;
            words >> code >> base >> accent;
            composes.push_back({line, {code, base, accent}});
        } else {
            return Fail(line, "unknown line");
        }
    }
    for (const auto &[line, c] : composes) {
        if (!glyphs.count(c[1]) || !accents.count(c[2]) || glyphs.count(c[0]))
            return Fail(line, "compose needs a known base and accent and a new code");
        std::vector<uint8_t> rows = glyphs[c[1]];
        // Small letters are the bases whose code is a small letter (or named, like the dotless i).
        unsigned long base = c[1].size() == 2 ? std::stoul(c[1], nullptr, 16) : 'a';
        bool small = base >= 'a' && base <= 'z';
        for (auto [row, bits] : small ? accents[c[2]].small : accents[c[2]].cap) rows[row] |= bits;
        glyphs[c[0]] = rows;
    }

    const int kGlyphs = 225;
    const uint8_t box[8] = {0x00, 0xFC, 0x84, 0x84, 0x84, 0x84, 0xFC, 0x00};
    std::vector<uint8_t> strip(8 * kGlyphs, 0);
    for (int g = 0; g < kGlyphs; g++) {
        int code = 32 + g;
        char key[8];
        snprintf(key, sizeof key, "%02X", code);
        const uint8_t *rows = box;
        if (g < kGlyphs - 1 && (code < 0x7F || code > 0x9F)) {
            auto it = glyphs.find(key);
            if (it == glyphs.end()) return Fail(0, std::string("no glyph for ") + key);
            rows = it->second.data();
        }
        for (int r = 0; r < 8; r++) strip[(size_t)r * kGlyphs + g] = rows[r];
    }
    FILE *out = fopen(argv[2], "w");
    if (!out) return Fail(0, "cannot write the output");
    fprintf(out, "// Generated from text/fonts/topaz.txt by topazgen.\n#include <cstdint>\n\n"
                 "extern const uint8_t lvTopazStrip[%d];\nconst uint8_t lvTopazStrip[%d] = {", 8 * kGlyphs,
            8 * kGlyphs);
    for (size_t i = 0; i < strip.size(); i++) fprintf(out, "%s0x%02X,", i % 15 ? " " : "\n    ", strip[i]);
    fprintf(out, "\n};\n");
    return fclose(out) == 0 ? 0 : 1;
}

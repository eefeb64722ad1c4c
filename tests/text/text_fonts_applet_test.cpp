// The runtime executable runs an assembled applet (text_fixtures/text_fonts.lvs)
// that calls the text library's font commands and prints one line a case; the
// widths and extents of the built-in sans face are checked against sums the
// test makes with its own FreeType face, and the font list and system fonts
// are read under a fontconfig configuration that lists only fonts-dejavu-core.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <sstream>
#include <string>

#include <ft2build.h>
#include FT_FREETYPE_H

#include "tests/text/amiga_writer.h"
#include "tests/text/fc_fixture.h"
#include "text/lvfont.h"
#include "text/lvtruetype.h"

namespace {

const char *const kVera = "/usr/share/fonts/truetype/ttf-bitstream-vera/Vera.ttf";
const char *const kDejaVuDir = "/usr/share/fonts/truetype/dejavu";

struct AppletRun {
    std::string text;                         // everything it printed
    std::map<std::string, std::string> lines; // by first word
    int exitCode = -1;
};

AppletRun RunApplet(const std::string &scratch)
{
    AppletRun run;
    std::string command = "cd '" + scratch + "' && FONTCONFIG_FILE='" + scratch +
                          "/fonts.conf' SDL_VIDEODRIVER=offscreen SDL_AUDIODRIVER=dummy timeout -k 5 60 '" +
                          std::string(LV_BIN_DIR) + "/lumivarra' '" + LV_TEXT_APPLET + "' 2>&1 </dev/null";
    FILE *out = popen(command.c_str(), "r");
    if (!out) return run;
    char buffer[4096];
    size_t got;
    while ((got = fread(buffer, 1, sizeof buffer, out)) > 0) run.text.append(buffer, got);
    int status = pclose(out);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    // Serialized tables end their lines with CR LF.
    run.text.erase(std::remove(run.text.begin(), run.text.end(), '\r'), run.text.end());
    std::istringstream in(run.text);
    for (std::string line; std::getline(in, line);) {
        size_t space = line.find(' ');
        run.lines[line.substr(0, space)] = space == std::string::npos ? "" : line.substr(space + 1);
    }
    return run;
}

// The lines from "label [" up to the closing "]" of a serialized table.
std::string Section(const std::string &text, const std::string &label)
{
    size_t at = text.find("\n" + label + " [");
    if (at == std::string::npos) return "";
    size_t end = text.find("\n]", at);
    return text.substr(at, end == std::string::npos ? std::string::npos : end - at);
}

// The engine's nominal size and pixels per em of the sans face at 20 pixels:
// the sums below then use FreeType's own advances, kerning and bitmaps.
struct SansReference {
    FT_Library lib = nullptr;
    FT_Face face = nullptr;
    int nominal = 0;
    SansReference()
    {
        lvFontManager fm{};
        EXPECT_EQ(InitFontManager(&fm), 0);
        lvFont *font = nullptr;
        EXPECT_EQ(OpenFontByName(&fm, LV_SANS_DEFAULT, 20, 1, 0, 0, nullptr, 0, "inbuilt", "", &font), 0);
        int ppem = font ? GetTrueTypeFace(font)->size->metrics.x_ppem : 19;
        DoneFontManager(&fm);
        nominal = ppem + 1;
        EXPECT_EQ(FT_Init_FreeType(&lib), 0);
        EXPECT_EQ(FT_New_Face(lib, kVera, 0, &face), 0);
        FT_Set_Pixel_Sizes(face, 0, (FT_UInt)ppem);
    }
    ~SansReference()
    {
        FT_Done_Face(face);
        FT_Done_FreeType(lib);
    }
    // Pen advance of text[i] in whole pixels, its kerning with the next one included.
    int Advance(const std::string &text, size_t i)
    {
        FT_Load_Char(face, (uint8_t)text[i], FT_LOAD_NO_AUTOHINT);
        int64_t adv = face->glyph->advance.x;
        FT_Vector k{};
        if (i + 1 < text.size())
            FT_Get_Kerning(face, FT_Get_Char_Index(face, (uint8_t)text[i]),
                           FT_Get_Char_Index(face, (uint8_t)text[i + 1]), FT_KERNING_UNSCALED, &k);
        int64_t px = (adv * 1024 * nominal / face->size->metrics.x_ppem +
                      (int64_t)k.x * 65536 * nominal / face->units_per_EM) / 65536;
        return (int)std::max<int64_t>(0, px);
    }
    int Width(const std::string &text, int spacing = 0)
    {
        int total = 0;
        for (size_t i = 0; i < text.size(); i++) total += Advance(text, i) + spacing;
        return total;
    }
    // "minx maxx miny maxy width height" of the monochrome glyphs' ink.
    std::string Extent(const std::string &text)
    {
        int pen = 0, minX = 0, maxX = 0, minY = 0, maxY = 0;
        bool first = true;
        for (size_t i = 0; i < text.size(); i++) {
            if (text[i] != ' ') {
                FT_Load_Char(face, (uint8_t)text[i], FT_LOAD_NO_AUTOHINT);
                FT_Render_Glyph(face->glyph, FT_RENDER_MODE_MONO);
                FT_GlyphSlot g = face->glyph;
                int x0 = pen + g->bitmap_left, x1 = x0 + (int)g->bitmap.width;
                int y0 = -g->bitmap_top, y1 = y0 + (int)g->bitmap.rows;
                minX = first ? x0 : std::min(minX, x0);
                maxX = first ? x1 : std::max(maxX, x1);
                minY = first ? y0 : std::min(minY, y0);
                maxY = first ? y1 : std::max(maxY, y1);
                first = false;
            }
            pen += Advance(text, i);
        }
        char out[96];
        std::snprintf(out, sizeof out, "%d %d %d %d %d 20", minX, maxX, minY, maxY, pen);
        return out;
    }
};

class TextFontsApplet : public ::testing::Test {
protected:
    static AppletRun run;
    static void SetUpTestSuite()
    {
        std::string scratch = ScratchDir("applet");
        std::string saved = getenv("FONTCONFIG_FILE") ? getenv("FONTCONFIG_FILE") : "";
        UseFontconfigDirs(scratch, {kDejaVuDir});
        run = RunApplet(scratch);
        if (saved.empty()) unsetenv("FONTCONFIG_FILE");
        else setenv("FONTCONFIG_FILE", saved.c_str(), 1);
    }
    const std::string &Line(const char *key) { return run.lines[key]; }
};
AppletRun TextFontsApplet::run;

TEST_F(TextFontsApplet, BuiltInSansAt20Pixels)
{
    ASSERT_EQ(run.exitCode, 0) << run.text;
    EXPECT_EQ(Line("setsans"), "0");
    EXPECT_EQ(Line("height"), "20");
    int baseline = std::stoi(Line("baseline"));
    EXPECT_GE(baseline, 10);
    EXPECT_LE(baseline, 20);
    EXPECT_EQ(Line("name"), "Bitstream Vera Sans");
    EXPECT_EQ(Line("type"), std::to_string(FONTTYPE_VECTOR));
    EXPECT_EQ(Line("engine"), std::to_string(FONTENGINE_INBUILT));
    EXPECT_EQ(Line("size"), "20");
    EXPECT_EQ(Line("loader"), "inbuilt");
    EXPECT_EQ(Line("format"), "TrueType");
    EXPECT_EQ(Line("textheight"), "20");
}

TEST_F(TextFontsApplet, MeasuresEqualFreeTypesSums)
{
    SansReference ref;
    EXPECT_EQ(Line("width"), std::to_string(ref.Width("Hello World")));
    EXPECT_EQ(Line("widthlatin1"), Line("width"));
    EXPECT_EQ(Line("spaced"), std::to_string(ref.Width("Hello World", 3)));
    EXPECT_EQ(Line("extent"), ref.Extent("Hello World"));
    EXPECT_EQ(Line("extentempty"), "0 0 0 0 0 0");
    EXPECT_EQ(Line("widthempty"), "0");
    EXPECT_LT(std::stoi(Line("kern")), 0);
    EXPECT_EQ(Line("kernempty"), "0");
}

TEST_F(TextFontsApplet, BitmapDefaultAndOpenErrors)
{
    const std::map<std::string, std::string> expected = {
        {"badencoding", "1584"}, {"badencodingtable", "1584"}, {"kernencoding", "1584"},
        {"setbitmap", "0"}, {"bitmapabc", "24"}, {"bitmaptype", std::to_string(FONTTYPE_BITMAP)},
        {"usepoints", "1055"}, {"nosuch", "1064"}, {"nosuchmsg", "Cannot open font NoSuch with size 12!"},
        // a failed open leaves the current font alone
        {"afternosuch", "topaz"},
        {"adobecustom", "1064"}, // the cached Unicode face is not shared with this map
        {"badsize", "1055"}, {"badoptions", "1140"},
    };
    for (const auto &[key, value] : expected) EXPECT_EQ(Line(key.c_str()), value) << key;
}

TEST_F(TextFontsApplet, StyleBitsAddUpAndNormalClears)
{
    const std::map<std::string, std::string> expected = {
        {"shadow", "0"}, {"bold", "0"},
        {"style", "34"},                       // SHADOW then BOLD keeps both
        {"shadowtable", "0 4 3"},              // black, 4, SHDWSOUTHEAST at start
        {"shadowclamped", "16711680 64 3"},    // size 100 to 64, direction 9 to south-east
        {"edge", "1193046 1"},                 // border size 0 raised to 1
        {"styleall", "98"},
        {"normal", "0"}, {"stylenormal", "0 Nil"},
        {"toomany", "1193"},
        {"color", "16711680"}, {"bulletafterfont", "16711680"}, // SetFontColor sets both
        {"bullet", "65280"}, {"colorafterbullet", "16711680"},
        {"formattags", "0"},
    };
    for (const auto &[key, value] : expected) EXPECT_EQ(Line(key.c_str()), value) << key;
}

TEST_F(TextFontsApplet, FontObjects)
{
    const std::map<std::string, std::string> expected = {
        {"open5", "0"}, {"size5", "12"}, {"name5", "Bitstream Vera Sans Mono"}, {"use5", "0"},
        {"current", "Bitstream Vera Sans Mono"}, {"count", "1"},
        // the same number again replaces the object
        {"reopen5", "0"}, {"name5again", "Bitstream Vera Serif"}, {"countagain", "1"},
        {"badattr", "1080"}, {"close5", "0"}, {"closeagain", "1334"}, {"usegone", "1334"}, {"attrgone", "1334"},
        // the closed object's font stays the current one
        {"stillcurrent", "Bitstream Vera Sans Mono"},
        {"handleheight", "16"}, {"handlegone", "1041"},
        {"glyphcacheall", "0"}, {"glyphcachemissing", "1334"}, {"openfontmissing", "1064"},
        {"fontpathbad", "1286"},
    };
    for (const auto &[key, value] : expected) EXPECT_EQ(Line(key.c_str()), value) << key;
}

TEST_F(TextFontsApplet, FontListAndSystemFontsUnderTheTestConfiguration)
{
    std::string list = Section(run.text, "fontlist");
    ASSERT_FALSE(list.empty()) << run.text;
    struct Face {
        const char *name;
        int weight, slant;
    } faces[] = {
        {"DejaVu Sans Book", 75, 0},          {"DejaVu Sans Bold", 200, 0},        {"DejaVu Sans Oblique", 80, 110},
        {"DejaVu Sans Bold Oblique", 200, 110}, {"DejaVu Sans Light ExtraLight", 40, 0}, {"DejaVu Serif Italic", 80, 100},
        {"DejaVu Serif Bold Italic", 200, 100}, {"DejaVu Sans Mono Bold", 200, 0}, {"DejaVu Math TeX Gyre Regular", 80, 0},
    };
    for (const Face &f : faces) {
        std::string entry = "\"name\": \"" + std::string(f.name) + "\",\n";
        size_t at = list.find(entry);
        ASSERT_NE(at, std::string::npos) << f.name << "\n" << list;
        size_t begin = list.rfind('{', at), end = list.find('}', at);
        std::string record = list.substr(begin, end - begin);
        EXPECT_NE(record.find("\"weight\": " + std::to_string(f.weight) + ","), std::string::npos) << record;
        EXPECT_NE(record.find("\"slant\": " + std::to_string(f.slant)), std::string::npos) << record;
        EXPECT_NE(record.find("\"bitmap\": 0"), std::string::npos) << record;
    }
    // Only the configured folder, one entry a face file.
    size_t count = 0;
    for (size_t at = list.find("\"name\""); at != std::string::npos; at = list.find("\"name\"", at + 1)) count++;
    EXPECT_EQ(count, 22u);
    EXPECT_EQ(list.find("Bitstream"), std::string::npos);

    EXPECT_EQ(Line("system"), "0");
    EXPECT_EQ(Line("systemtype"), std::to_string(FONTTYPE_VECTOR));
    EXPECT_EQ(Line("systemengine"), std::to_string(FONTENGINE_NATIVE));
    EXPECT_EQ(Line("systemname"), "DejaVu Sans Bold Oblique");
    EXPECT_EQ(Line("unknownfamily"), "1064");
    // The sans face's character maps: Apple Roman and Unicode.
    std::string maps = Section(run.text, "charmaps");
    EXPECT_NE(maps.find(std::to_string(CHARMAP_APPLEROMAN)), std::string::npos) << maps;
    EXPECT_NE(maps.find(std::to_string(CHARMAP_UNICODE)), std::string::npos) << maps;
}

// A font file linked into the applet: a linked-font block (flags word 2: a
// scalable face for the system engine, then the face's bytes) opened by name,
// nothing installed; a block whose system part runs past its end is refused.
TEST(TextLinkedFonts, OpenedByNameFromTheApplet)
{
    std::string scratch = ScratchDir("linked");
    auto writeBlock = [&](const char *name, const std::string &head, const char *face) {
        std::string path = scratch + "/" + name;
        FILE *out = fopen(path.c_str(), "wb");
        fwrite(head.data(), 1, head.size(), out);
        if (face) {
            FILE *in = fopen(face, "rb");
            char buffer[4096];
            size_t got;
            while ((got = fread(buffer, 1, sizeof buffer, in)) > 0) fwrite(buffer, 1, got, out);
            fclose(in);
        }
        fclose(out);
        return path;
    };
    std::string good = writeBlock("good.bin", std::string("\0\0\0\2", 4),
                                  "/usr/share/fonts/truetype/ttf-bitstream-vera/VeraMono.ttf");
    std::string broken = writeBlock("broken.bin", std::string("\0\0\0\4\xFF\xFF\xFF\xF0" "abcd", 12), nullptr);
    std::string applet = scratch + "/linked.lva";
    std::string link = "'" + std::string(LV_BIN_DIR) + "/lvlink' applet '" + LV_TEXT_LINKED_CHUNK + "' -o '" + applet +
                       "' --file '::font:MyMono=" + good + "' --file '::font:Broken=" + broken + "'";
    ASSERT_EQ(std::system(link.c_str()), 0);
    std::string command = "cd '" + scratch + "' && SDL_VIDEODRIVER=offscreen timeout -k 5 60 '" +
                          std::string(LV_BIN_DIR) + "/lumivarra' '" + applet + "' 2>&1 </dev/null";
    FILE *out = popen(command.c_str(), "r");
    ASSERT_NE(out, nullptr);
    std::string text;
    char buffer[4096];
    size_t got;
    while ((got = fread(buffer, 1, sizeof buffer, out)) > 0) text.append(buffer, got);
    ASSERT_EQ(pclose(out), 0) << text;
    std::map<std::string, std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        size_t space = line.find(' ');
        lines[line.substr(0, space)] = space == std::string::npos ? "" : line.substr(space + 1);
    }
    EXPECT_EQ(lines["setfont"], "0") << text;
    EXPECT_EQ(lines["font"], "Bitstream Vera Sans Mono " + std::to_string(FONTTYPE_VECTOR) + " 20");
    int one = 0, four = 0;
    ASSERT_EQ(std::sscanf(lines["widths"].c_str(), "%d %d", &one, &four), 2) << text;
    EXPECT_GT(one, 0);
    EXPECT_EQ(four, 4 * one); // a monospaced face
    EXPECT_EQ(lines["openfont"], "0 12");
    // A damaged block: 1009, and the current font stays.
    EXPECT_EQ(lines["broken"], "1009 Bitstream Vera Sans Mono");
}

// AddFontPath from a script, then an Amiga font the test wrote there (its
// contents file names an incomplete entry first): opened by name and size,
// measured with its space and kern tables, listed with its sizes.
TEST(TextFontPath, AmigaFontsFoundAfterAddFontPath)
{
    std::string scratch = ScratchDir("fontpath");
    UseFontconfigDirs(scratch, {});
    amiga::Font f;
    f.ySize = 3;
    f.xSize = 4;
    f.baseline = 2;
    f.flags = 0x20; // proportional
    f.lo = 'a';
    f.hi = 'c';
    f.glyphs = {{"##", "#.", "##"}, {"#", "#", "#"}, {"###", "..#", "###"}, {"#.#", ".#.", "#.#"}};
    f.spaces = {3, 2, 4, 4};
    f.kerns = {0, 1, -1, 0};
    auto write = [](const std::string &path, const amiga::Bytes &bytes) {
        FILE *out = fopen(path.c_str(), "wb");
        fwrite(bytes.data(), 1, bytes.size(), out);
        fclose(out);
    };
    std::string fonts = scratch + "/fonts";
    ASSERT_EQ(system(("mkdir -p '" + fonts + "/mono'").c_str()), 0);
    write(fonts + "/mono.font", amiga::Contents({{"::incomplete", 3}, {"mono/3", 3}}));
    write(fonts + "/mono/3", amiga::SizeFile(f));

    std::string command = "cd '" + scratch + "' && FONTCONFIG_FILE='" + scratch +
                          "/fonts.conf' SDL_VIDEODRIVER=offscreen timeout -k 5 60 '" + std::string(LV_BIN_DIR) +
                          "/lumivarra' '" + LV_TEXT_FONTPATH_APPLET + "' -dir '" + fonts + "' 2>&1 </dev/null";
    FILE *out = popen(command.c_str(), "r");
    ASSERT_NE(out, nullptr);
    std::string text;
    char buffer[4096];
    size_t got;
    while ((got = fread(buffer, 1, sizeof buffer, out)) > 0) text.append(buffer, got);
    ASSERT_EQ(pclose(out), 0) << text;
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
    std::map<std::string, std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        size_t space = line.find(' ');
        lines[line.substr(0, space)] = space == std::string::npos ? "" : line.substr(space + 1);
    }
    EXPECT_EQ(lines["addfontpath"], "0") << text;
    // type, ascender, descender, depth
    EXPECT_EQ(lines["setfont"], "0 " + std::to_string(FONTTYPE_BITMAP) + " 2 1 1");
    // "abz": a's space 3, b kerned +1 with space 2, z above hi char the last
    // glyph (kern 0, space 4): 3 + 1 + 2 + 4; with 2 between characters 16.
    EXPECT_EQ(lines["widths"], "10 16");
    EXPECT_EQ(lines["extent"], "0 8 -2 0 10 3");
    EXPECT_EQ(lines["wrongsize"], "1064");
    std::string list = Section(text, "fontlist");
    size_t at = list.find("\"name\": \"mono\"");
    ASSERT_NE(at, std::string::npos) << list;
    std::string record = list.substr(list.rfind('{', at), list.find('}', at) - list.rfind('{', at));
    EXPECT_NE(record.find("\"bitmap\": 1"), std::string::npos) << record;
    EXPECT_NE(record.find("\"sizes\": [\n\t\t\t3\n\t\t]"), std::string::npos) << record;
    EXPECT_EQ(list.find("incomplete"), std::string::npos) << list;
}

}  // namespace

// The font list: the name-table reader on good and damaged faces, the scan of
// .ttf, .ttc, .dfont and Amiga contents files, collections cut into files
// FreeType opens, and the extra font directories.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <ft2build.h>
#include FT_FREETYPE_H

#include "tests/text/fc_fixture.h"
#include "text/lvfont.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

const char *const kDir = "/usr/share/fonts/truetype/dejavu/";

Bytes ReadFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}
void WriteFile(const std::string &path, const Bytes &b)
{
    std::ofstream(path, std::ios::binary).write((const char *)b.data(), (std::streamsize)b.size());
}
void Put16(Bytes &b, size_t at, uint32_t v) { b[at] = (uint8_t)(v >> 8); b[at + 1] = (uint8_t)v; }
void Put32(Bytes &b, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; i++) b[at + i] = (uint8_t)(v >> (24 - 8 * i));
}
uint32_t Get32(const Bytes &b, size_t at)
{
    return (uint32_t)b[at] << 24 | (uint32_t)b[at + 1] << 16 | b[at + 2] << 8 | b[at + 3];
}
void Append16(Bytes &b, uint32_t v) { b.push_back((uint8_t)(v >> 8)); b.push_back((uint8_t)v); }

// A collection of whole TrueType files: each face's directory and tables
// copied with the offsets rewritten for the joined file.
Bytes JoinCollection(const std::vector<Bytes> &faces)
{
    Bytes out(12 + 4 * faces.size(), 0);
    memcpy(out.data(), "ttcf", 4);
    Put32(out, 4, 0x00010000);
    Put32(out, 8, (uint32_t)faces.size());
    for (size_t i = 0; i < faces.size(); i++) {
        const Bytes &f = faces[i];
        uint16_t tables = (uint16_t)(f[4] << 8 | f[5]);
        size_t dir = out.size(), dirSize = 12 + 16u * tables;
        Put32(out, 12 + 4 * i, (uint32_t)dir);
        out.insert(out.end(), f.begin(), f.begin() + (long)dirSize);
        for (uint16_t t = 0; t < tables; t++) {
            size_t rec = dir + 12 + 16u * t;
            uint32_t from = Get32(f, 12 + 16u * t + 8), length = Get32(f, 12 + 16u * t + 12);
            while (out.size() % 4) out.push_back(0);
            Put32(out, rec + 8, (uint32_t)out.size());
            out.insert(out.end(), f.begin() + from, f.begin() + from + length);
        }
    }
    return out;
}

struct NameRecord { uint16_t platform, language, id; std::string text; };

// A face holding only a naming table (the reader needs nothing else).
Bytes MakeFace(const std::vector<NameRecord> &records, uint32_t version = 0x00010000)
{
    Bytes name;
    Append16(name, 0);
    Append16(name, (uint32_t)records.size());
    Append16(name, 6 + 12 * (uint32_t)records.size());
    std::string strings;
    for (const NameRecord &r : records) {
        Append16(name, r.platform);
        Append16(name, 1);
        Append16(name, r.language);
        Append16(name, r.id);
        Append16(name, (uint32_t)r.text.size());
        Append16(name, (uint32_t)strings.size());
        strings += r.text;
    }
    name.insert(name.end(), strings.begin(), strings.end());
    Bytes face(28, 0);
    Put32(face, 0, version);
    Put16(face, 4, 1);
    memcpy(face.data() + 12, "name", 4);
    Put32(face, 20, 28);
    Put32(face, 24, (uint32_t)name.size());
    face.insert(face.end(), name.begin(), name.end());
    return face;
}
std::string Utf16(const std::string &s)
{
    std::string out;
    for (char c : s) out += std::string(1, '\0') + c;
    return out;
}

TEST(FontNames, ReaderTakesEnglishNamesAndRefusesDamage)
{
    struct Case {
        const char *what;
        Bytes face;
        int ok;
        const char *family, *style;
    } cases[] = {
        {"Windows English", MakeFace({{3, 0x0409, 1, Utf16("Plain Face")}, {3, 0x0409, 2, Utf16("Bold")}}), 1,
         "Plain Face", "Bold"},
        {"Macintosh first, German passed over",
         MakeFace({{3, 0x0407, 1, Utf16("Schrift")}, {1, 0, 1, "Mac Face"}, {1, 0, 2, "Italic"}}), 1, "Mac Face",
         "Italic"},
        {"first English name kept", MakeFace({{3, 0x0809, 1, Utf16("First")}, {3, 0x0409, 1, Utf16("Second")}}), 1,
         "First", ""},
        {"OpenType CFF", MakeFace({{1, 0, 1, "Cff"}}, 0x4F54544F), 1, "Cff", ""},
        {"only German", MakeFace({{3, 0x0407, 1, Utf16("Schrift")}}), 0, "", ""},
        {"unknown version", MakeFace({{1, 0, 1, "X"}}, 0x12345678), 0, "", ""},
        {"a name of 512 bytes", MakeFace({{1, 0, 1, std::string(512, 'x')}}), 0, "", ""},
    };
    for (const Case &c : cases) {
        char family[512], style[512];
        EXPECT_EQ(ReadTrueTypeNames(c.face.data(), c.face.size(), 0, 0, family, sizeof family, style, sizeof style),
                  c.ok)
            << c.what;
        EXPECT_STREQ(family, c.family) << c.what;
        EXPECT_STREQ(style, c.style) << c.what;
    }
    // Counts, offsets and lengths pointing outside the file.
    Bytes good = MakeFace({{1, 0, 1, "Name"}});
    struct Damage { const char *what; size_t at; int width; uint32_t value; } damages[] = {
        {"table count", 4, 2, 0xFFFF},
        {"name table offset", 20, 4, 0xFFFFFF00},
        {"name table length", 24, 4, 0x7FFFFFFF},
        {"record count", 28 + 2, 2, 0x4000},
        {"string offset", 28 + 4, 2, 0xFFF0},
        {"string length", 28 + 6 + 8, 2, 400},
    };
    for (const Damage &d : damages) {
        Bytes bad = good;
        d.width == 2 ? Put16(bad, d.at, d.value) : Put32(bad, d.at, d.value);
        char family[512], style[512];
        EXPECT_EQ(ReadTrueTypeNames(bad.data(), bad.size(), 0, 0, family, sizeof family, style, sizeof style), 0)
            << d.what;
    }
    Bytes real = ReadFile(std::string(kDir) + "DejaVuSans-Bold.ttf");
    char family[512], style[512];
    ASSERT_EQ(ReadTrueTypeNames(real.data(), real.size(), 0, 0, family, sizeof family, style, sizeof style), 1);
    EXPECT_STREQ(family, "DejaVu Sans");
    EXPECT_STREQ(style, "Bold");
}

TEST(FontNames, StyleWords)
{
    struct Case { const char *word; int kind, value; } cases[] = {
        {"thin", 1, 0}, {"Ultra-light", 1, 40}, {"Book", 1, 75}, {"REGULAR", 1, 80}, {"Demi", 1, 180},
        {"Bold", 1, 200}, {"Extra-bold", 1, 205}, {"Black", 1, 210}, {"Ultrablack", 1, 215}, {"Roman", 2, 0},
        {"italic", 2, 100}, {"Oblique", 2, 110}, {"Condensed", 0, 0}, {"Bol", 0, 0},
    };
    for (const Case &c : cases) {
        int v = -1;
        EXPECT_EQ(StyleWordValue(c.word, strlen(c.word), &v), c.kind) << c.word;
        if (c.kind) {
            EXPECT_EQ(v, c.value) << c.word;
        }
    }
}

class FontListTest : public ::testing::Test {
protected:
    lvFontManager fm{};
    std::string dir;
    void SetUp() override
    {
        dir = ScratchDir("list");
        ASSERT_FALSE(dir.empty());
        ASSERT_EQ(InitFontManager(&fm), 0);
    }
    void TearDown() override
    {
        DoneFontManager(&fm);
        fs::remove_all(dir);
    }
    std::vector<const lvFontListEntry *> EntriesOf(const std::string &file)
    {
        std::vector<const lvFontListEntry *> out;
        for (const lvFontListEntry *e = fm.fontList; e; e = e->next)
            if (fs::path(e->path).filename() == file) out.push_back(e);
        return out;
    }
};

TEST_F(FontListTest, CollectionFacesAreListedAndCutOut)
{
    Bytes ttc = JoinCollection({ReadFile(std::string(kDir) + "DejaVuSans.ttf"),
                                ReadFile(std::string(kDir) + "DejaVuSans-Bold.ttf"),
                                ReadFile(std::string(kDir) + "DejaVuSerif.ttf")});
    WriteFile(dir + "/three.ttc", ttc);
    ASSERT_EQ(AddFontPath(&fm, dir.c_str()), 0);
    BuildFontList(&fm, 1);
    auto entries = EntriesOf("three.ttc");
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_STREQ(entries[0]->fullName, "DejaVu Sans Book");
    EXPECT_EQ(entries[0]->weight, FONTWEIGHT_BOOK);
    EXPECT_STREQ(entries[1]->fullName, "DejaVu Sans Bold");
    EXPECT_EQ(entries[1]->weight, FONTWEIGHT_BOLD);
    EXPECT_STREQ(entries[2]->family, "DejaVu Serif");
    BuildFontList(&fm, 0);
    EXPECT_EQ(EntriesOf("three.ttc").size(), 5u); // plain names for the two regular faces

    setenv("TMPDIR", dir.c_str(), 1);
    char path[1024];
    uint32_t off, len;
    int temporary = 0;
    ASSERT_EQ(FindFontFile(&fm, "DejaVu Sans Bold", -1, 0, 0, path, sizeof path, &off, &len, &temporary), 0);
    EXPECT_EQ(temporary, 1);
    FT_Library lib;
    FT_Face face;
    ASSERT_EQ(FT_Init_FreeType(&lib), 0);
    ASSERT_EQ(FT_New_Face(lib, path, 0, &face), 0);
    EXPECT_STREQ(face->family_name, "DejaVu Sans");
    EXPECT_STREQ(face->style_name, "Bold");
    EXPECT_EQ(FT_Load_Char(face, 'g', FT_LOAD_RENDER), 0);
    FT_Done_Face(face);
    FT_Done_FreeType(lib);
    unlink(path);
    EXPECT_EQ(FindFontFile(&fm, "DejaVu Serif", FONTWEIGHT_NORMAL, FONTSLANT_ROMAN, 0, path, sizeof path, &off, &len,
                           &temporary),
              0);
    unlink(path);
    EXPECT_EQ(FindFontFile(&fm, "DejaVu Sans Bold", -1, 0, 1, path, sizeof path, &off, &len, &temporary),
              ERR_OPENFONT);

    // The inbuilt loader finds the face by full name and deletes its file at the end.
    lvFont *font = nullptr;
    ASSERT_EQ(OpenFontByName(&fm, "DejaVu Sans Bold", 14, 1, 0, 0, nullptr, 0, "inbuilt", "", &font), 0);
    EXPECT_STREQ(font->name, "DejaVu Sans Bold");
    EXPECT_EQ(font->height, 14);
    size_t files = 0;
    for (auto &e : fs::directory_iterator(dir)) files += e.path().extension() == ".ttf";
    EXPECT_EQ(files, 1u);
    DoneFontManager(&fm);
    InitFontManager(&fm);
    files = 0;
    for (auto &e : fs::directory_iterator(dir)) files += e.path().extension() == ".ttf";
    EXPECT_EQ(files, 0u);
    unsetenv("TMPDIR");
}

TEST_F(FontListTest, DamagedContainersKeepTheirGoodFaces)
{
    Bytes sans = ReadFile(std::string(kDir) + "DejaVuSans.ttf");
    Bytes ttc = JoinCollection({sans, sans});
    Put32(ttc, 16, 0xFFFFFF00); // the second face lies beyond the file
    WriteFile(dir + "/broken.ttc", ttc);
    Bytes counted = ttc;
    Put32(counted, 8, 0x40000000); // a count no file can hold
    WriteFile(dir + "/counted.ttc", counted);
    // A .dfont: faces from offset 256, each after its length; the last one's
    // length runs past the end.
    Bytes dfont(256, 0);
    for (const Bytes &face : {MakeFace({{1, 0, 1, "Dfont One"}}), MakeFace({{1, 0, 1, "Dfont Two"}})}) {
        size_t at = dfont.size();
        dfont.resize(at + 4);
        Put32(dfont, at, (uint32_t)face.size());
        dfont.insert(dfont.end(), face.begin(), face.end());
    }
    dfont.insert(dfont.end(), {0, 0, 9, 0, 1, 2, 3});
    WriteFile(dir + "/faces.dfont", dfont);
    WriteFile(dir + "/cut.ttf", Bytes(sans.begin(), sans.begin() + 200));
    WriteFile(dir + "/a.ttf", sans); // a name too short to be scanned
    ASSERT_EQ(ScanFontFiles(&fm, dir.c_str(), 1), 0);
    EXPECT_EQ(EntriesOf("broken.ttc").size(), 1u);
    EXPECT_EQ(EntriesOf("counted.ttc").size(), 0u);
    EXPECT_EQ(EntriesOf("cut.ttf").size(), 0u);
    EXPECT_EQ(EntriesOf("a.ttf").size(), 0u);
    auto df = EntriesOf("faces.dfont");
    ASSERT_EQ(df.size(), 2u);
    EXPECT_STREQ(df[1]->fullName, "Dfont Two");
    EXPECT_EQ(df[1]->faceOffset, 256u + 4 + (uint32_t)MakeFace({{1, 0, 1, "Dfont One"}}).size() + 4);
    uint8_t *face = nullptr;
    size_t faceSize = 0;
    EXPECT_EQ(ExtractCollectionFace(ttc.data(), ttc.size(), 0xFFFFFF00, &face, &faceSize), ERR_READ);
    Bytes shortTable = JoinCollection({sans});
    Put32(shortTable, 12 + 12 + 12, 0x7FFFFFFF); // first table's length
    EXPECT_EQ(ExtractCollectionFace(shortTable.data(), shortTable.size(), 12 + 4, &face, &faceSize), ERR_READ);
}

// An Amiga contents file: id, count, then per entry a 256-byte file name,
// the size, style and flags.
Bytes Contents(uint16_t id, std::vector<uint16_t> sizes, int claimed = -1)
{
    Bytes b;
    Append16(b, id);
    Append16(b, claimed >= 0 ? (uint32_t)claimed : (uint32_t)sizes.size());
    for (uint16_t s : sizes) {
        Bytes entry(260, 0);
        Put16(entry, 256, s);
        b.insert(b.end(), entry.begin(), entry.end());
    }
    return b;
}

TEST_F(FontListTest, AmigaContentsFiles)
{
    WriteFile(dir + "/sized.font", Contents(0x0F00, {8, 11, 8}));
    WriteFile(dir + "/colour.font", Contents(0x0F02, {9}, 40)); // claims more entries than it holds
    WriteFile(dir + "/outline.font", Contents(0x0F03, {}));
    WriteFile(dir + "/other.font", Contents(0x1234, {8}));
    ASSERT_EQ(ScanFontFiles(&fm, dir.c_str(), 1), 0);
    auto sized = EntriesOf("sized.font");
    ASSERT_EQ(sized.size(), 1u);
    EXPECT_STREQ(sized[0]->family, "sized");
    EXPECT_EQ(sized[0]->bitmap, 1);
    ASSERT_EQ(sized[0]->sizeCount, 2);
    EXPECT_EQ(sized[0]->sizes[0], 8);
    EXPECT_EQ(sized[0]->sizes[1], 11);
    ASSERT_EQ(EntriesOf("colour.font").size(), 1u);
    EXPECT_EQ(EntriesOf("colour.font")[0]->sizeCount, 1);
    ASSERT_EQ(EntriesOf("outline.font").size(), 1u);
    EXPECT_EQ(EntriesOf("outline.font")[0]->bitmap, 0);
    EXPECT_EQ(EntriesOf("other.font").size(), 0u);
    // Bitmap fonts are never handed out as scalable files.
    char path[1024];
    uint32_t off, len;
    int temporary;
    EXPECT_EQ(FindFontFile(&fm, "sized", -1, 0, 0, path, sizeof path, &off, &len, &temporary), ERR_OPENFONT);
}

TEST_F(FontListTest, FontPaths)
{
    EXPECT_EQ(AddFontPath(&fm, "/nonexistent/fonts"), ERR_LOCK2);
    EXPECT_STREQ(fm.errorText, "Error locking /nonexistent/fonts!");
    EXPECT_EQ(ScanFontFiles(&fm, "/nonexistent/fonts", 0), ERR_LOCK2);
    ASSERT_EQ(AddFontPath(&fm, dir.c_str()), 0);
    ASSERT_EQ(AddFontPath(&fm, (dir + "/.").c_str()), 0);
    int count = 0;
    for (lvFontPath *p = fm.fontPaths; p; p = p->next) count++;
    EXPECT_EQ(count, 1);
    // A path added later drops the list: the next scan sees its files.
    BuildFontList(&fm, 1);
    std::string more = dir + "/more";
    mkdir(more.c_str(), 0700);
    WriteFile(more + "/extra.ttf", MakeFace({{1, 0, 1, "Extra Face"}}));
    BuildFontList(&fm, 1);
    EXPECT_EQ(EntriesOf("extra.ttf").size(), 0u);
    ASSERT_EQ(AddFontPath(&fm, more.c_str()), 0);
    BuildFontList(&fm, 1);
    EXPECT_EQ(EntriesOf("extra.ttf").size(), 1u);
}

} // namespace

// Only the test's own files: fontconfig lists nothing.
static const bool kNoSystemFonts = [] {
    static std::string scratch = ScratchDir("fc");
    UseFontconfigDirs(scratch, {});
    atexit([] { fs::remove_all(scratch); });
    return true;
}();

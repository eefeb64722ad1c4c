// lvlink.cpp - the link tool: makes applet containers ("LVA", raw or "LVZ"-packed) from
// a compiled chunk and its records, and links an executable by copying the runtime,
// patching its link marker and appending the plug-in blocks, the applet and its icons.
//
// Dependencies: zlib (compress2), the C++ standard library. Deliberately shares no code
// with the runtime's reader (runtime/container.cpp), so that the two check each other.
// Limits: containers are built in memory; sizes and offsets are 32-bit as stored.
//
//   lvlink applet CHUNK -o OUT [options]     (see Usage() below)
//   lvlink link RUNTIME APPLET -o OUT [options]
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <dirent.h>
#include <sys/stat.h>
#include <vector>

namespace {

typedef std::vector<uint8_t> lvBytes;

// ---- Errors and input --------------------------------------------------------------

struct lvLinkError {
    std::string message;    // printed after "lvlink: "
};

[[noreturn]] void Fail(const std::string &message)
{
    throw lvLinkError{message};
}

lvBytes ReadWholeFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) Fail("cannot read " + path);
    std::ostringstream s;
    s << in.rdbuf();
    std::string text = s.str();
    if (text.size() > 0xFFFFFFF0u) Fail(path + " is larger than a container can hold");
    return lvBytes(text.begin(), text.end());
}

// An applet whose main chunk the machine cannot load would only fail when it runs: the
// chunk's header is checked here (signature, format, sizes) as the machine's loader does.
void CheckChunkHeader(const lvBytes &chunk, const std::string &path)
{
    static const uint8_t signature[4] = {0x1B, 'L', 'V', 'B'};
    static const uint8_t sizes[6] = {4, 6, 8, 9, 9, 8};
    if (chunk.size() < 4 || !std::equal(signature, signature + 4, chunk.begin()))
        Fail(path + " is no compiled chunk (it does not begin with \"\\033LVB\"; make one with lvasm)");
    if (chunk.size() < 21 || chunk[5] != 4 || (chunk[6] != 4 && chunk[6] != 8) ||
        !std::equal(sizes, sizes + 6, chunk.begin() + 7))
        Fail(path + " is a compiled chunk of another format or machine, or is cut short");
}

// The output is written beside its place and renamed over it: a program that still runs
// (or is being started) cannot be opened for writing, and a failed write never leaves a
// half file under the output's name.
void WriteWholeFile(const std::string &path, const lvBytes &bytes, bool executable)
{
    std::string temporary = path + ".lvlink-part";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        if (!out) Fail("cannot write " + path);
        out.write(reinterpret_cast<const char *>(bytes.data()), std::streamsize(bytes.size()));
        out.close();
        if (!out) {
            std::remove(temporary.c_str());
            Fail("cannot write " + path);
        }
    }
    if (executable && chmod(temporary.c_str(), 0755) != 0) {
        std::remove(temporary.c_str());
        Fail("cannot make " + path + " executable");
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        std::remove(temporary.c_str());
        Fail("cannot write " + path);
    }
}

long long ParseInteger(const std::string &text, const char *what)
{
    long long value = 0;
    const char *b = text.data(), *e = text.data() + text.size();
    int base = 10;
    bool negative = false;
    if (b < e && *b == '-') {
        negative = true;
        b++;
    }
    if (e - b > 2 && b[0] == '0' && (b[1] == 'x' || b[1] == 'X')) {
        b += 2;
        base = 16;
    }
    auto r = std::from_chars(b, e, value, base);
    if (r.ec != std::errc() || r.ptr != e || b == e) Fail(std::string("bad ") + what + ": " + text);
    return negative ? -value : value;
}

double ParseNumber(const std::string &text, const char *what)
{
    double value = 0;
    auto r = std::from_chars(text.data(), text.data() + text.size(), value);
    if (r.ec != std::errc() || r.ptr != text.data() + text.size() || text.empty())
        Fail(std::string("bad ") + what + ": " + text);
    return value;
}

// Splits "a<sep>b" at the first sep; fails when sep is missing.
std::pair<std::string, std::string> SplitAt(const std::string &text, char sep, const char *what)
{
    size_t at = text.find(sep);
    if (at == std::string::npos || at == 0) Fail(std::string("expected ") + what + ", got: " + text);
    return {text.substr(0, at), text.substr(at + 1)};
}

std::vector<std::string> SplitAll(const std::string &text, char sep)
{
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        size_t at = text.find(sep, start);
        parts.push_back(text.substr(start, at - start));
        if (at == std::string::npos) return parts;
        start = at + 1;
    }
}

std::string BaseName(const std::string &path)
{
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// ---- Writing big-endian data --------------------------------------------------------

void Put8(lvBytes &out, uint32_t v) { out.push_back(uint8_t(v)); }
void Put16(lvBytes &out, uint32_t v)
{
    out.push_back(uint8_t(v >> 8));
    out.push_back(uint8_t(v));
}
void Put32(lvBytes &out, uint32_t v)
{
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(uint8_t(v >> shift));
}
void PutDouble(lvBytes &out, double d)
{
    uint64_t bits;
    std::memcpy(&bits, &d, 8);
    Put32(out, uint32_t(bits >> 32));
    Put32(out, uint32_t(bits));
}
void PutBytes(lvBytes &out, const lvBytes &data) { out.insert(out.end(), data.begin(), data.end()); }
void PutText(lvBytes &out, const std::string &s, size_t maxBytes, const char *what)
{
    if (s.size() > maxBytes) Fail(std::string(what) + " is longer than " + std::to_string(maxBytes) + " bytes: " + s);
    if (s.find('\0') != std::string::npos) Fail(std::string(what) + " holds a NUL byte");
    out.insert(out.end(), s.begin(), s.end());
    out.push_back(0);
}
void Set32(lvBytes &out, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; i++) out[at + i] = uint8_t(v >> (24 - 8 * i));
}

// ---- Packing --------------------------------------------------------------------------

// A packed stream: the magic, the big-endian unpacked size, a zlib stream.
lvBytes PackStream(const char magic[4], const lvBytes &data)
{
    uLongf bound = compressBound(uLong(data.size()));
    lvBytes packed(8 + bound);
    std::memcpy(packed.data(), magic, 4);
    Set32(packed, 4, uint32_t(data.size()));
    if (compress2(packed.data() + 8, &bound, data.data(), uLong(data.size()), Z_DEFAULT_COMPRESSION) != Z_OK)
        Fail("zlib could not pack the data");
    packed.resize(8 + bound);
    return packed;
}

// ---- The container --------------------------------------------------------------------

struct lvLinkedObjectEntry {
    int type;               // object type
    uint32_t identifier;    // script identifier
    std::string name;       // file name, may be empty
    std::string dataPath;   // embedded data file, or empty
    lvBytes tail;           // the type's extra fields (stored display records)
    std::string treeDir;    // directories and catalogs: the folder whose tree is linked
    uint32_t optionValue = 0;   // option value (a directory's recursion switch)
    uint32_t optionFlags = 0;   // option flags (a font's engine and switches)
};

struct lvIconSpec {
    int width, height;      // pixels
    int flags;              // bit 0 selected set, bit 1 default
    std::string path;       // image file
};

struct lvAppletSpec {
    std::string chunkPath;      // compiled main chunk
    std::string output;         // container file
    std::string labelsPath;     // label map, or empty
    std::string lineMapPath;    // line map, or empty
    bool hideLineMap = false;   // store the line map complemented
    int major = 11, minor = 0;  // format version
    uint32_t flags = 0;         // applet flags word
    int encoding = 1;           // 1 UTF-8, 0 ISO-8859-1
    std::vector<std::string> required;      // required plug-ins
    std::vector<std::pair<int, std::string>> strings;    // {tag, text}
    std::vector<std::pair<std::string, double>> numberConstants;
    std::vector<std::pair<std::string, std::string>> stringConstants;
    std::vector<std::pair<std::string, std::string>> files;     // inline data
    std::vector<std::pair<std::string, std::string>> blockFiles; // data in a skipped block
    std::vector<std::pair<std::string, lvBytes>> madeFiles;     // inline data made here (fonts)
    std::vector<lvLinkedObjectEntry> objects;
    std::vector<lvIconSpec> icons;
    lvBytes displayRecords;     // display records in command-line order
    bool pack = false;          // "LVZ" packing
};

// Label map: one "name index" pair a line; blank lines and lines starting '#' are skipped.
void PutLabels(lvBytes &out, const std::string &path)
{
    std::ifstream in(path);
    if (!in) Fail("cannot read " + path);
    std::vector<std::pair<std::string, long long>> labels;
    std::string line;
    int lineNo = 0;
    while (std::getline(in, line)) {
        lineNo++;
        std::istringstream fields(line);
        std::string name, index, extra;
        if (!(fields >> name) || name[0] == '#') continue;
        if (!(fields >> index) || (fields >> extra))
            Fail(path + ":" + std::to_string(lineNo) + ": expected \"name index\"");
        labels.push_back({name, ParseInteger(index, "label index")});
    }
    Put8(out, 9);
    Put32(out, uint32_t(labels.size()));
    for (auto &l : labels) {
        Put32(out, uint32_t(l.second));
        PutText(out, l.first, 1023, "label name");
    }
}

void PutComplemented(lvBytes &out, const std::string &s)
{
    if (s.size() > 1023) Fail("line map name too long: " + s);
    for (unsigned char c : s) {
        if (c == 0) Fail("line map name holds a NUL byte");
        out.push_back(uint8_t(~c));
    }
    out.push_back(0xFF);
}

// Line map: "first last sourceLine sourceFile [chunkName]" a line.
void PutLineMap(lvBytes &out, const std::string &path, bool hide)
{
    std::ifstream in(path);
    if (!in) Fail("cannot read " + path);
    struct Entry { uint32_t first, last, source; std::string file, chunk; };
    std::vector<Entry> entries;
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream f(line);
        std::string a, b, c, file, chunk;
        if (!(f >> a) || a[0] == '#') continue;
        if (!(f >> b >> c >> file)) Fail(path + ": expected \"first last sourceLine file [chunk]\"");
        f >> chunk;
        entries.push_back({uint32_t(ParseInteger(a, "line")), uint32_t(ParseInteger(b, "line")),
                           uint32_t(ParseInteger(c, "line")), file, chunk});
    }
    Put8(out, hide ? 33 : 27);
    Put32(out, uint32_t(entries.size()));
    for (auto &e : entries) {
        Put32(out, e.first);
        Put32(out, e.last);
        Put32(out, e.source);
        if (hide) {
            PutComplemented(out, e.file);
            PutComplemented(out, e.chunk);
        } else {
            PutText(out, e.file, 1023, "source file name");
            PutText(out, e.chunk, 1023, "chunk name");
        }
    }
}

bool TypeHasTail(int type)
{
    for (int t : {0, 1, 2, 7, 10, 13, 16, 18, 20, 21})
        if (t == type) return true;
    return false;
}

// The entries of a folder, sorted by name so that a container is the same on every run.
std::vector<std::string> FolderEntries(const std::string &folder)
{
    DIR *dir = opendir(folder.c_str());
    if (!dir) Fail("cannot read the folder " + folder);
    std::vector<std::string> names;
    while (dirent *e = readdir(dir)) {
        std::string name = e->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

// Writes the stored entry tree of folder into tree (kind 1 a file with its data's offset
// and size, kind 2 a folder with its entries, kind 0 ends a level) and the files' data
// into data, whose first byte lies at dataStart from the container's start.
void PutFolderTree(lvBytes &tree, lvBytes &data, uint64_t dataStart, const std::string &folder, int depth)
{
    if (depth > 200) Fail("the folder " + folder + " is nested too deeply to link");
    for (const std::string &name : FolderEntries(folder)) {
        std::string path = folder + "/" + name;
        struct stat st;
        if (stat(path.c_str(), &st) != 0) Fail("cannot read " + path);
        if (name.size() > 0xFFFF) Fail("a name in " + folder + " is too long to link");
        bool isFolder = S_ISDIR(st.st_mode);
        if (!isFolder && !S_ISREG(st.st_mode)) continue;   // devices, sockets, pipes
        Put8(tree, isFolder ? 2 : 1);
        Put16(tree, uint32_t(name.size()));
        tree.insert(tree.end(), name.begin(), name.end());
        if (isFolder) {
            PutFolderTree(tree, data, dataStart, path, depth + 1);
            continue;
        }
        lvBytes bytes = ReadWholeFile(path);
        uint64_t offset = dataStart + data.size();
        if (offset + bytes.size() > 0xFFFFFFF0u) Fail("the folder " + folder + " is too large to link");
        Put32(tree, uint32_t(offset));
        Put32(tree, uint32_t(bytes.size()));
        PutBytes(data, bytes);
    }
    Put8(tree, 0);
}

lvBytes BuildContainer(const lvAppletSpec &desc)
{
    lvBytes out = {'L', 'V', 'A', 0};
    // The header probe reads these four records at fixed positions.
    Put8(out, 10);
    Put8(out, uint32_t(desc.major));
    Put8(out, uint32_t(desc.minor));
    Put8(out, 36);
    Put32(out, desc.flags);
    Put8(out, 35);
    Put8(out, uint32_t(desc.encoding));
    Put8(out, 38);
    for (auto &name : desc.required) {
        if (name.empty()) Fail("empty plug-in name");
        PutText(out, name, 63, "plug-in name");
    }
    Put8(out, 0);

    for (auto &s : desc.strings) {
        Put8(out, uint32_t(s.first));
        PutText(out, s.second, 255, "applet string");
    }
    if (!desc.labelsPath.empty()) PutLabels(out, desc.labelsPath);
    if (!desc.lineMapPath.empty()) PutLineMap(out, desc.lineMapPath, desc.hideLineMap);
    if (!desc.numberConstants.empty() || !desc.stringConstants.empty()) {
        Put8(out, 31);
        for (auto &k : desc.numberConstants) {
            PutText(out, k.first, 255, "constant name");
            Put8(out, 0);
            PutDouble(out, k.second);
        }
        for (auto &k : desc.stringConstants) {
            PutText(out, k.first, 255, "constant name");
            Put8(out, 1);
            PutText(out, k.second, 65535, "constant value");
        }
        Put8(out, 0);
    }
    PutBytes(out, desc.displayRecords);

    // Data that records point at lies in one skipped record: block files, object names
    // and embedded object data. Offsets count from the container's start.
    struct Placed { uint32_t offset, size; };
    std::vector<Placed> blockFiles, objectNames, objectData;
    std::vector<lvBytes> tails;
    for (auto &o : desc.objects) tails.push_back(o.tail);
    if (!desc.blockFiles.empty() || !desc.objects.empty()) {
        Put8(out, 0);
        size_t lengthAt = out.size();
        Put32(out, 0);
        for (auto &f : desc.blockFiles) {
            lvBytes data = ReadWholeFile(f.second);
            blockFiles.push_back({uint32_t(out.size()), uint32_t(data.size())});
            PutBytes(out, data);
        }
        for (size_t i = 0; i < desc.objects.size(); i++) {
            const lvLinkedObjectEntry &o = desc.objects[i];
            objectNames.push_back({uint32_t(out.size()), uint32_t(o.name.size())});
            out.insert(out.end(), o.name.begin(), o.name.end());
            if (!o.treeDir.empty()) {
                // The files of a linked folder lie in this record; its tail names them.
                lvBytes files;
                PutFolderTree(tails[i], files, out.size(), o.treeDir, 0);
                PutBytes(out, files);
            }
            lvBytes data;
            if (!o.dataPath.empty()) data = ReadWholeFile(o.dataPath);
            objectData.push_back({uint32_t(out.size()), uint32_t(data.size())});
            PutBytes(out, data);
        }
        Set32(out, lengthAt, uint32_t(out.size() - lengthAt - 4));
    }
    if (!desc.files.empty() || !desc.blockFiles.empty() || !desc.madeFiles.empty()) {
        Put8(out, 26);
        Put32(out, uint32_t(desc.files.size() + desc.blockFiles.size() + desc.madeFiles.size()));
        Put32(out, 0);
        for (auto &f : desc.madeFiles) {
            PutText(out, f.first, 1023, "linked file name");
            if (f.second.size() >= 0xFFFFFFFEu) Fail(f.first + " is too large to link");
            Put32(out, uint32_t(f.second.size()));
            PutBytes(out, f.second);
        }
        for (auto &f : desc.files) {
            PutText(out, f.first, 1023, "linked file name");
            lvBytes data = ReadWholeFile(f.second);
            if (data.size() >= 0xFFFFFFFEu) Fail(f.second + " is too large to link");
            Put32(out, uint32_t(data.size()));
            PutBytes(out, data);
        }
        for (size_t i = 0; i < desc.blockFiles.size(); i++) {
            PutText(out, desc.blockFiles[i].first, 1023, "linked file name");
            Put32(out, 0xFFFFFFFFu);
            Put32(out, blockFiles[i].size);
            Put32(out, blockFiles[i].offset);
        }
    }
    if (!desc.objects.empty()) {
        Put8(out, 2);
        Put32(out, uint32_t(desc.objects.size()));
        for (size_t i = 0; i < desc.objects.size(); i++) {
            const lvLinkedObjectEntry &o = desc.objects[i];
            Put8(out, uint32_t(o.type));
            Put32(out, o.identifier);
            Put32(out, objectNames[i].offset);
            Put32(out, objectNames[i].size);
            Put32(out, objectData[i].offset);
            Put32(out, objectData[i].size);
            Put32(out, o.optionValue);
            Put32(out, o.optionFlags);
            Put32(out, 0);  // source line
            if (desc.major >= 6) {
                Put16(out, 0);  // loader
                Put16(out, 0);  // adapter
            }
            if (desc.major >= 10 || (o.type == 12 && desc.major >= 6)) Put32(out, 0);  // user tags
            PutBytes(out, tails[i]);
        }
    }
    lvBytes chunk = ReadWholeFile(desc.chunkPath);
    CheckChunkHeader(chunk, desc.chunkPath);
    Put8(out, 1);
    Put32(out, uint32_t(chunk.size()));
    PutBytes(out, chunk);
    return out;
}

lvBytes BuildIconBlock(const std::vector<lvIconSpec> &icons)
{
    lvBytes out;
    if (icons.empty()) return out;
    out.push_back('I');
    Put16(out, 0);
    for (auto &icon : icons) {
        lvBytes data = ReadWholeFile(icon.path);
        Put16(out, uint32_t(icon.width));
        Put16(out, uint32_t(icon.height));
        Put8(out, uint32_t(icon.flags));
        Put32(out, uint32_t(data.size()));
        PutBytes(out, data);
    }
    Put16(out, 0);
    return out;
}

// A stored display record (format 9.0 and later): ID:WxH:COLOUR[:FLAGS[:TITLE]], the
// style flags as the display record's bits; every later field keeps its default.
lvLinkedObjectEntry DisplayRecord(const std::string &text, int major)
{
    if (major < 9) Fail("--display needs format 9.0 or later");
    std::vector<std::string> f = SplitAll(text, ':');
    if (f.size() < 3 || f.size() > 5) Fail("expected ID:WxH:COLOUR[:FLAGS[:TITLE]]");
    lvLinkedObjectEntry o;
    o.type = 10;
    o.identifier = uint32_t(ParseInteger(f[0], "display id"));
    auto size = SplitAt(f[1], 'x', "WxH");
    lvBytes &b = o.tail;
    Put32(b, 0);                                                     // bgpic
    Put32(b, uint32_t(-100000));                                     // x: centred
    Put32(b, uint32_t(-100000));                                     // y
    Put32(b, uint32_t(ParseInteger(size.first, "width")));
    Put32(b, uint32_t(ParseInteger(size.second, "height")));
    Put32(b, uint32_t(ParseInteger(f[2], "colour")));
    Put32(b, f.size() > 3 ? uint32_t(ParseInteger(f[3], "flags")) : 0);  // style flags
    Put32(b, 0);                                                     // skipped
    Put32(b, 0);                                                     // scale width
    Put32(b, 0);                                                     // scale height
    Put32(b, 0);                                                     // drag regions
    Put32(b, 0);                                                     // size regions
    std::string title = f.size() > 4 ? f[4] : "Lumivarra";
    if (title.size() > 255) Fail("display title longer than 255 bytes");
    Put16(b, uint32_t(title.size()));
    b.insert(b.end(), title.begin(), title.end());
    Put8(b, 1);                                                      // fill style: colour
    Put32(b, 0);                                                     // gradient end colour
    Put16(b, 0);                                                     // angle
    for (int i = 0; i < 3; i++) Put32(b, 0);                         // texture brush, x, y
    Put8(b, 2);                                                      // gradient: linear
    Put32(b, 500000);                                                // centre x
    Put32(b, 500000);                                                // centre y
    Put32(b, 500000);                                                // balance
    Put32(b, 0);                                                     // border
    Put8(b, 0);                                                      // no stops
    Put16(b, 0);                                                     // string
    Put8(b, 0);                                                      // orientation
    Put8(b, 0);                                                      // monitor
    Put8(b, 0);                                                      // no menu
    Put32(b, 0);
    Put8(b, 1);                                                      // mode: windowed
    Put8(b, 0);                                                      // desktop
    Put16(b, 0xFFFF);                                                // screen width: none
    Put16(b, 0xFFFF);                                                // screen height
    Put8(b, 0);                                                      // screen depth
    Put8(b, 0);                                                      // hide title bar
    Put8(b, 0);                                                      // no backfill
    for (int i = 0; i < 4; i++) Put16(b, 0);                         // four strings
    Put32(b, 0);                                                     // scale factor: not given
    Put32(b, 0);                                                     // second style word
    Put8(b, 0);                                                      // immersive mode
    Put32(b, 0);                                                     // palette
    Put32(b, 0);                                                     // fill pen
    return o;
}

// ---- Command line: applet -----------------------------------------------------------

// Display record options: {option, tag} of the one-byte style switches.
const struct { const char *option; int tag; } StyleSwitches[] = {
    {"--borderless", 18}, {"--fixed", 19}, {"--sizeable", 20},
    {"--hide-pointer", 24}, {"--no-mode-switch", 25}, {"--no-hide", 30},
};
// Applet strings: {option, tag}.
const struct { const char *option; int tag; } StringOptions[] = {
    {"--title", 11}, {"--version", 12}, {"--copyright", 13},
    {"--author", 14}, {"--description", 15}, {"--identifier", 34},
};

// A menu description, one item a line: two spaces of indent per level (0 to 2), the
// title ("-" alone: a separator), then optional "|id=TEXT", "|hotkey=TEXT", "|flags=N";
// blank lines and lines starting with "#" are skipped. Written as the stored menu tail:
// per item the title, id and hotkey as 16-bit lengths and bytes, the flags (32 bits),
// then 2 and the child list when it has children, and 0 after the last sibling or 1.
struct lvMenuLine {
    int level;
    std::string title, id, hotkey;
    uint32_t flags = 0;
};

void PutMenuText(lvBytes &out, const std::string &text)
{
    if (text.size() > 32767) Fail("menu text too long: " + text.substr(0, 40));
    Put16(out, uint32_t(text.size()));
    out.insert(out.end(), text.begin(), text.end());
}

// Writes the siblings from lines[*at] at level; *at moves past them and their children.
void PutMenuList(lvBytes &out, const std::vector<lvMenuLine> &lines, size_t *at, int level)
{
    while (*at < lines.size() && lines[*at].level == level) {
        const lvMenuLine &m = lines[(*at)++];
        PutMenuText(out, m.title);
        PutMenuText(out, m.id);
        PutMenuText(out, m.hotkey);
        Put32(out, m.flags);
        if (*at < lines.size() && lines[*at].level > level) {
            if (lines[*at].level != level + 1) Fail("menu item indented by more than one level: " + lines[*at].title);
            Put8(out, 2);
            PutMenuList(out, lines, at, level + 1);
        }
        Put8(out, *at < lines.size() && lines[*at].level == level ? 1 : 0);
    }
}

lvBytes MenuTail(const std::string &path)
{
    lvBytes text = ReadWholeFile(path);
    std::istringstream in(std::string(text.begin(), text.end()));
    std::vector<lvMenuLine> lines;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        size_t indent = line.find_first_not_of(' ');
        if (indent == std::string::npos || line[indent] == '#') continue;
        if (indent % 2 || indent > 4) Fail("menu item indent must be 0, 2 or 4 spaces: " + line);
        lvMenuLine m;
        m.level = int(indent / 2);
        std::vector<std::string> f = SplitAll(line.substr(indent), '|');
        m.title = f[0] == "-" ? std::string() : f[0];
        if (m.level == 0 && m.title.empty()) Fail("a top-level menu item needs a title");
        for (size_t i = 1; i < f.size(); i++) {
            auto kv = SplitAt(f[i], '=', "id=TEXT, hotkey=TEXT or flags=N");
            if (kv.first == "id") m.id = kv.second;
            else if (kv.first == "hotkey") m.hotkey = kv.second;
            else if (kv.first == "flags") m.flags = uint32_t(ParseInteger(kv.second, "menu flags"));
            else Fail("unknown menu item field: " + kv.first);
        }
        lines.push_back(m);
    }
    if (lines.empty() || lines[0].level != 0) Fail("menu file " + path + " has no top-level item first");
    lvBytes out;
    size_t at = 0;
    PutMenuList(out, lines, &at, 0);
    return out;
}

void Usage()
{
    std::fputs(
        "usage: lvlink applet CHUNK -o OUT.lva [options]\n"
        "  -l, --labels FILE        label map (\"name index\" lines, from lvasm -l)\n"
        "  --line-map FILE          \"first last sourceLine sourceFile [chunk]\" lines\n"
        "  --hide-line-map          store the line map obscured\n"
        "  --format MAJOR.MINOR     container format version (default 11.0)\n"
        "  --flags N                applet flags word\n"
        "  --encoding utf8|latin1   text encoding of the applet (default utf8)\n"
        "  --require NAME           required plug-in (repeatable)\n"
        "  --title/--version/--copyright/--author/--description/--identifier TEXT\n"
        "  --constant NAME=NUMBER, --string-constant NAME=TEXT\n"
        "  --file NAME=PATH         link a file (data inline)\n"
        "  --block-file NAME=PATH   link a file whose data lies in a data block\n"
        "  --object TYPE:ID:NAME[:PATH]  link an object (types without extra fields; 0 and 1 whole)\n"
        "  --palette ID:TYPE:DEPTH:PEN[:C0,C1,...]  link a palette (TYPE -984: the colours given)\n"
        "  --menu ID=FILE           link a menu described in FILE (lines: indent, TITLE|id=..|hotkey=..|flags=N)\n"
        "  --font ID:SIZE[:FLAGS]=PATH  link a TrueType/OpenType font as NAME (the file's stem), opened at start-up\n"
        "  --directory ID[:NAME][:flat]=FOLDER  link a folder's tree, opened as directory ID\n"
        "  --catalog [NAME]=FOLDER  link catalogs (FOLDER/<language>/NAME), opened at start-up\n"
        "  --display ID:WxH:COLOUR[:FLAGS[:TITLE]]  declare a display (format 9.0 and later)\n"
        "  --display-size WxH, --display-title TEXT, --display-pos X,Y, --display-color N\n"
        "  --borderless --fixed --sizeable --hide-pointer --no-mode-switch --no-hide\n"
        "  --scale layer|auto:W:H[:smooth], --no-display-overrides\n"
        "  --screen-mode N, --screen-size WxH, --screen-depth N, --desktop, --hide-title-bar\n"
        "  --icon WxH[:selected][:default]=PATH\n"
        "  --pack                   pack the container (\"LVZ\")\n"
        "  --unpack-to-file         pack, and have the runtime unpack to a temporary file\n"
        "usage: lvlink link RUNTIME APPLET -o OUT [options]\n"
        "  --plugin PATH            append a plug-in (repeatable); packed with --pack-plugins\n"
        "  --plugin-packed PATH     append a plug-in whose payload is packed, whatever else is set\n"
        "  --plugin-raw PATH        append a plug-in whose payload is stored as it is\n"
        "  --library PATH           append an extension library (repeatable)\n"
        "  --pack-plugins           pack the payloads of --plugin and --library\n"
        "  (packed and raw plug-ins go into two plug-in blocks, the packed one first)\n"
        "  --version-line TEXT      version line of the linked program\n",
        stderr);
}

int RunApplet(std::vector<std::string> args)
{
    lvAppletSpec desc;
    std::vector<std::string> pendingDisplays;  // made once the format is known
    size_t i = 0;
    auto value = [&](const std::string &option) -> std::string {
        if (i + 1 >= args.size()) Fail(option + " needs a value");
        return args[++i];
    };
    for (; i < args.size(); i++) {
        const std::string &a = args[i];
        if (a == "-o") desc.output = value(a);
        else if (a == "-l" || a == "--labels") desc.labelsPath = value(a);
        else if (a == "--line-map") desc.lineMapPath = value(a);
        else if (a == "--hide-line-map") desc.hideLineMap = true;
        else if (a == "--format") {
            auto v = SplitAt(value(a), '.', "MAJOR.MINOR");
            desc.major = int(ParseInteger(v.first, "format"));
            desc.minor = int(ParseInteger(v.second, "format"));
            if (desc.major < 0 || desc.major > 255 || desc.minor < 0 || desc.minor > 255)
                Fail("format out of range");
        } else if (a == "--flags") desc.flags = uint32_t(ParseInteger(value(a), "flags"));
        else if (a == "--encoding") {
            std::string e = value(a);
            if (e == "utf8") desc.encoding = 1;
            else if (e == "latin1") desc.encoding = 0;
            else Fail("encoding must be utf8 or latin1");
        } else if (a == "--require") desc.required.push_back(value(a));
        else if (a == "--constant") {
            auto v = SplitAt(value(a), '=', "NAME=NUMBER");
            desc.numberConstants.push_back({v.first, ParseNumber(v.second, "constant")});
        } else if (a == "--string-constant") {
            desc.stringConstants.push_back(SplitAt(value(a), '=', "NAME=TEXT"));
        } else if (a == "--file") desc.files.push_back(SplitAt(value(a), '=', "NAME=PATH"));
        else if (a == "--block-file") desc.blockFiles.push_back(SplitAt(value(a), '=', "NAME=PATH"));
        else if (a == "--object") {
            std::vector<std::string> f = SplitAll(value(a), ':');
            if (f.size() < 3 || f.size() > 4) Fail("expected TYPE:ID:NAME[:PATH]");
            lvLinkedObjectEntry o;
            o.type = int(ParseInteger(f[0], "object type"));
            if (o.type < 0 || o.type > 255 || (TypeHasTail(o.type) && o.type > 1) || o.type == 5)
                Fail("object type " + f[0] + " needs fields lvlink does not write");
            o.identifier = uint32_t(ParseInteger(f[1], "object id"));
            o.name = f[2];
            if (f.size() == 4) o.dataPath = f[3];
            desc.objects.push_back(o);
        } else if (a == "--font") {
            // ID:SIZE[:FLAGS]=PATH: a TrueType or OpenType file, linked as the font file
            // "::font:NAME" (NAME the file's name without extension) holding a linked-font
            // block (flags word 2: a scalable font file, no data of the system engine's),
            // and declared as font ID, which start-up opens by that name.
            auto v = SplitAt(value(a), '=', "ID:SIZE[:FLAGS]=PATH");
            std::vector<std::string> f = SplitAll(v.first, ':');
            if (f.size() < 2 || f.size() > 3) Fail("expected ID:SIZE[:FLAGS]=PATH");
            lvLinkedObjectEntry o;
            o.type = 9;
            o.identifier = uint32_t(ParseInteger(f[0], "font id"));
            long long size = ParseInteger(f[1], "font size");
            if (size <= 0 || size > 0xFFFF) Fail("font size out of range: " + f[1]);
            o.optionValue = uint32_t(size);
            if (f.size() == 3) o.optionFlags = uint32_t(ParseInteger(f[2], "font flags"));
            o.name = BaseName(v.second);
            size_t dot = o.name.rfind('.');
            if (dot != std::string::npos && dot > 0) o.name.resize(dot);
            lvBytes block;
            Put32(block, 2);
            PutBytes(block, ReadWholeFile(v.second));
            desc.madeFiles.push_back({"::font:" + o.name, block});
            desc.objects.push_back(o);
        } else if (a == "--directory" || a == "--catalog") {
            // --directory ID[:NAME][:flat]=FOLDER, --catalog [NAME]=FOLDER: the folder's
            // tree and files, read at start-up by OpenDirectory or OpenCatalog.
            std::string text = value(a);
            size_t at = text.find('=');
            if (at == std::string::npos) Fail(a + " expects ...=FOLDER, got: " + text);
            lvLinkedObjectEntry o;
            o.treeDir = text.substr(at + 1);
            if (o.treeDir.empty()) Fail(a + " needs a folder");
            std::vector<std::string> f = SplitAll(text.substr(0, at), ':');
            if (a == "--catalog") {
                if (f.size() != 1) Fail("expected [NAME]=FOLDER");
                o.type = 20;
                o.name = f[0];
            } else {
                if (f.size() > 3 || f[0].empty()) Fail("expected ID[:NAME][:flat]=FOLDER");
                o.type = 18;
                o.identifier = uint32_t(ParseInteger(f[0], "directory id"));
                o.optionValue = 1;   // recursive
                if (f.size() > 1 && f.back() == "flat") {
                    o.optionValue = 0;
                    f.pop_back();
                }
                if (f.size() > 2) Fail("expected ID[:NAME][:flat]=FOLDER");
                if (f.size() == 2) o.name = f[1];
            }
            desc.objects.push_back(o);
        } else if (a == "--palette") {
            // ID:TYPE:DEPTH:PEN[:C0,C1,...]; TYPE a standard palette, or -984 with the colours.
            std::vector<std::string> f = SplitAll(value(a), ':');
            if (f.size() < 4 || f.size() > 5) Fail("expected ID:TYPE:DEPTH:PEN[:COLOURS]");
            lvLinkedObjectEntry o;
            o.type = 21;
            o.identifier = uint32_t(ParseInteger(f[0], "palette id"));
            long long type = ParseInteger(f[1], "palette type");
            long long depth = ParseInteger(f[2], "palette depth");
            if (depth < 0 || depth > 255) Fail("palette depth out of range");
            Put32(o.tail, uint32_t(type));
            Put32(o.tail, uint32_t(ParseInteger(f[3], "transparent pen")));
            Put8(o.tail, uint32_t(depth));
            if (type == -984) {
                std::vector<std::string> colours = f.size() == 5 ? SplitAll(f[4], ',') : std::vector<std::string>();
                for (long long i = 0; i < (1LL << (depth > 8 ? 8 : depth)); i++)
                    Put32(o.tail, i < (long long)colours.size() ? uint32_t(ParseInteger(colours[i], "colour")) : 0);
            }
            desc.objects.push_back(o);
        } else if (a == "--menu") {
            auto v = SplitAt(value(a), '=', "ID=FILE");
            lvLinkedObjectEntry o;
            o.type = 13;
            o.identifier = uint32_t(ParseInteger(v.first, "menu id"));
            o.tail = MenuTail(v.second);
            desc.objects.push_back(o);
        } else if (a == "--display") {
            pendingDisplays.push_back(value(a));
        } else if (a == "--display-size") {
            auto v = SplitAt(value(a), 'x', "WxH");
            Put8(desc.displayRecords, 3);
            Put16(desc.displayRecords, uint32_t(ParseInteger(v.first, "width")));
            Put16(desc.displayRecords, uint32_t(ParseInteger(v.second, "height")));
        } else if (a == "--display-title") {
            std::string t = value(a);
            if (t.size() > 255) Fail("display title longer than 255 bytes");
            Put8(desc.displayRecords, 4);
            Put16(desc.displayRecords, uint32_t(t.size()));
            desc.displayRecords.insert(desc.displayRecords.end(), t.begin(), t.end());
        } else if (a == "--display-pos") {
            auto v = SplitAt(value(a), ',', "X,Y");
            Put8(desc.displayRecords, 6);
            Put32(desc.displayRecords, uint32_t(ParseInteger(v.first, "x")));
            Put32(desc.displayRecords, uint32_t(ParseInteger(v.second, "y")));
        } else if (a == "--display-color") {
            Put8(desc.displayRecords, 5);
            Put32(desc.displayRecords, uint32_t(ParseInteger(value(a), "colour")));
        } else if (a == "--scale") {
            std::vector<std::string> f = SplitAll(value(a), ':');
            if (f.size() < 3 || f.size() > 4 || (f[0] != "layer" && f[0] != "auto") ||
                (f.size() == 4 && f[3] != "smooth"))
                Fail("expected layer|auto:W:H[:smooth]");
            Put8(desc.displayRecords, 28);
            Put8(desc.displayRecords, f[0] == "layer");
            Put32(desc.displayRecords, uint32_t(ParseInteger(f[1], "scale width")));
            Put32(desc.displayRecords, uint32_t(ParseInteger(f[2], "scale height")));
            Put8(desc.displayRecords, f.size() == 4);
        } else if (a == "--no-display-overrides") Put8(desc.displayRecords, 29);
        else if (a == "--screen-mode" || a == "--screen-depth" || a == "--hide-title-bar") {
            long long v = a == "--hide-title-bar" ? 1 : ParseInteger(value(a), "screen value");
            if (v < 0 || v > 255) Fail(a + " takes 0 to 255");
            Put8(desc.displayRecords, a == "--screen-mode" ? 16 : a == "--screen-depth" ? 23 : 21);
            Put8(desc.displayRecords, uint32_t(v));
        } else if (a == "--screen-size") {
            auto v = SplitAt(value(a), 'x', "WxH");
            Put8(desc.displayRecords, 22);
            Put16(desc.displayRecords, uint32_t(ParseInteger(v.first, "screen width")));
            Put16(desc.displayRecords, uint32_t(ParseInteger(v.second, "screen height")));
        } else if (a == "--desktop") Put8(desc.displayRecords, 7);
        else if (a == "--icon") {
            auto v = SplitAt(value(a), '=', "WxH[:selected][:default]=PATH");
            std::vector<std::string> f = SplitAll(v.first, ':');
            auto wh = SplitAt(f[0], 'x', "WxH");
            lvIconSpec icon{int(ParseInteger(wh.first, "icon width")),
                            int(ParseInteger(wh.second, "icon height")), 0, v.second};
            if (icon.width <= 0 || icon.width > 65535 || icon.height < 0 || icon.height > 65535)
                Fail("icon size out of range");
            for (size_t k = 1; k < f.size(); k++) {
                if (f[k] == "selected") icon.flags |= 1;
                else if (f[k] == "default") icon.flags |= 2;
                else Fail("unknown icon flag " + f[k]);
            }
            desc.icons.push_back(icon);
        } else if (a == "--pack") desc.pack = true;
        else if (a == "--unpack-to-file") {
            desc.pack = true;
            desc.flags |= 0x400;
        } else {
            bool known = false;
            for (auto &s : StyleSwitches)
                if (a == s.option) {
                    Put8(desc.displayRecords, uint32_t(s.tag));
                    Put8(desc.displayRecords, 1);
                    known = true;
                }
            for (auto &s : StringOptions)
                if (a == s.option) {
                    desc.strings.push_back({s.tag, value(a)});
                    known = true;
                }
            if (!known) {
                if (!a.empty() && a[0] == '-') Fail("unknown option " + a);
                if (!desc.chunkPath.empty()) Fail("more than one chunk given: " + a);
                desc.chunkPath = a;
            }
        }
    }
    for (const std::string &text : pendingDisplays) desc.objects.push_back(DisplayRecord(text, desc.major));
    // Background pictures and brushes linked with --object get default fields: the whole
    // picture, no global alpha, no fill.
    for (lvLinkedObjectEntry &o : desc.objects) {
        if (o.type == 1) {
            for (int i = 0; i < 4; i++) Put16(o.tail, 0);
            Put16(o.tail, 0xFFFF);
            if (desc.major > 4) Put8(o.tail, 0);
            if (desc.major > 5 || (desc.major == 5 && desc.minor > 2))
                for (int i = 0; i < 3; i++) Put32(o.tail, 0);
            if (desc.major > 5) Put32(o.tail, 0);
        } else if (o.type == 0 && (desc.major > 4 || (desc.major == 4 && desc.minor >= 7))) {
            Put8(o.tail, 0);
            for (int i = 0; i < 2; i++) Put32(o.tail, 0);
            Put16(o.tail, 0);
            for (int i = 0; i < 3; i++) Put32(o.tail, 0);
            if (desc.major > 4) {
                Put8(o.tail, 2);  // a linear gradient centred, no stops
                for (uint32_t v : {500000u, 500000u, 500000u, 0u}) Put32(o.tail, v);
                Put8(o.tail, 0);
            }
            if (desc.major > 5 || (desc.major == 5 && desc.minor > 2))
                for (int i = 0; i < 3; i++) Put32(o.tail, 0);
            if (desc.major > 8) Put32(o.tail, 0);
        }
    }
    if (desc.chunkPath.empty() || desc.output.empty()) {
        Usage();
        return 2;
    }
    lvBytes container = BuildContainer(desc);
    lvBytes icons = BuildIconBlock(desc.icons);
    lvBytes file = desc.pack ? PackStream("LVZ", container) : container;
    // Icons follow the bytecode record inside a raw container and the packed stream
    // outside a packed one: either way they come right after what was written.
    PutBytes(file, icons);
    WriteWholeFile(desc.output, file, false);
    return 0;
}

// ---- Command line: link -------------------------------------------------------------

// The bytes of an unlinked marker up to its version line.
lvBytes MarkerPattern()
{
    lvBytes p(32, 0);
    const char *text = "Kelmart Dunvaley Entertainment";
    std::memcpy(p.data(), text, std::strlen(text));
    for (uint8_t b : {0xDE, 0xAD, 0xC0, 0xDE, 0xC0, 0xDE, 0xCA, 0xFE, 0xC0, 0xCA, 0xC0, 0x1A})
        p.push_back(b);
    return p;
}

void PutPluginBlock(lvBytes &out, const char magic[4], const std::vector<std::string> &paths,
                    bool pack)
{
    if (paths.empty()) return;
    out.insert(out.end(), magic, magic + 4);
    Put32(out, pack ? 1 : 0);
    for (auto &path : paths) {
        std::string name = BaseName(path);
        size_t dot = name.rfind('.');
        if (dot != std::string::npos && dot > 0) name.resize(dot);
        PutText(out, name, 255, "plug-in name");
        lvBytes data = ReadWholeFile(path);
        lvBytes payload = pack ? PackStream("PLPK", data) : data;
        Put32(out, uint32_t(payload.size()));
        PutBytes(out, payload);
    }
    Put8(out, 0);
}

int RunLink(std::vector<std::string> args)
{
    std::string output, runtimePath, appletPath, versionLine;
    // Plug-ins in command-line order with their own packing choice; --plugin takes
    // --pack-plugins wherever it stands, so that choice is made after the loop.
    std::vector<std::pair<std::string, int>> plugins;   // {path, 1 packed / 0 raw / -1 as --pack-plugins}
    std::vector<std::string> libraries;
    bool packPlugins = false, haveVersionLine = false;
    for (size_t i = 0; i < args.size(); i++) {
        const std::string &a = args[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= args.size()) Fail(a + " needs a value");
            return args[++i];
        };
        if (a == "-o") output = value();
        else if (a == "--plugin") plugins.push_back({value(), -1});
        else if (a == "--plugin-packed") plugins.push_back({value(), 1});
        else if (a == "--plugin-raw") plugins.push_back({value(), 0});
        else if (a == "--library") libraries.push_back(value());
        else if (a == "--pack-plugins") packPlugins = true;
        else if (a == "--version-line") {
            versionLine = value();
            haveVersionLine = true;
        } else if (!a.empty() && a[0] == '-') Fail("unknown option " + a);
        else if (runtimePath.empty()) runtimePath = a;
        else if (appletPath.empty()) appletPath = a;
        else Fail("unexpected argument " + a);
    }
    if (output.empty() || runtimePath.empty() || appletPath.empty()) {
        Usage();
        return 2;
    }
    lvBytes image = ReadWholeFile(runtimePath);
    lvBytes applet = ReadWholeFile(appletPath);
    if (applet.size() < 4 || (std::memcmp(applet.data(), "LVA", 4) != 0 &&
                              std::memcmp(applet.data(), "LVZ", 4) != 0))
        Fail(appletPath + " is no applet container");
    lvBytes pattern = MarkerPattern();
    std::vector<size_t> hits;
    for (size_t at = 0; at + 108 <= image.size(); at++) {
        if (image[at] == pattern[0] && std::memcmp(&image[at], pattern.data(), pattern.size()) == 0)
            hits.push_back(at);
    }
    if (hits.empty()) Fail(runtimePath + " holds no unlinked link marker (not a runtime, or already linked)");
    if (hits.size() > 1) Fail(runtimePath + " holds " + std::to_string(hits.size()) + " link markers");
    if (image.size() > 0xFFFFFFFFu) Fail(runtimePath + " is too large to link");
    size_t marker = hits[0];
    Set32(image, marker + 32, uint32_t(image.size()));
    if (!haveVersionLine) versionLine = "$VER: " + BaseName(output);
    if (versionLine.size() > 63) Fail("version line longer than 63 bytes");
    std::memset(&image[marker + 44], 0, 64);
    std::memcpy(&image[marker + 44], versionLine.data(), versionLine.size());
    PutPluginBlock(image, "LVL!", libraries, packPlugins);
    // The packing flag belongs to a whole block: a mixed set becomes two blocks.
    std::vector<std::string> packed, raw;
    for (auto &p : plugins) (p.second == 1 || (p.second < 0 && packPlugins) ? packed : raw).push_back(p.first);
    PutPluginBlock(image, "LVP!", packed, true);
    PutPluginBlock(image, "LVP!", raw, false);
    PutBytes(image, applet);
    WriteWholeFile(output, image, true);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) {
        Usage();
        return 2;
    }
    std::string mode = args[0];
    args.erase(args.begin());
    try {
        if (mode == "applet") return RunApplet(args);
        if (mode == "link") return RunLink(args);
        Usage();
        return 2;
    } catch (const lvLinkError &e) {
        std::fprintf(stderr, "lvlink: %s\n", e.message.c_str());
        return 1;
    } catch (const std::exception &e) {
        std::fprintf(stderr, "lvlink: %s\n", e.what());
        return 1;
    }
}

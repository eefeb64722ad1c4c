// Applet container reader: records, edge cases of the format, forged sizes and offsets,
// the header probe, unpacking and the appended plug-in blocks. Fixtures are built here
// byte by byte, so each one shows exactly the case it tests.
#include "platform/lvplatform.h"
#include "runtime/container.h"
#include "base/lverrors.h"
#include "runtime/marker.h"
#include "runtime/vfile.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

// Big-endian byte builder for fixtures.
struct Bytes {
    std::vector<uint8_t> b;
    Bytes &u8(uint32_t v) { b.push_back(uint8_t(v)); return *this; }
    Bytes &u16(uint32_t v) { return u8(v >> 8).u8(v); }
    Bytes &u32(uint32_t v) { return u16(v >> 16).u16(v); }
    Bytes &str(const std::string &s) { b.insert(b.end(), s.begin(), s.end()); return u8(0); }
    Bytes &raw(const std::string &s) { b.insert(b.end(), s.begin(), s.end()); return *this; }
    Bytes &f64(double d)
    {
        uint64_t bits;
        std::memcpy(&bits, &d, 8);
        return u32(uint32_t(bits >> 32)).u32(uint32_t(bits));
    }
};

// "LVA\0" with the fixed header records: format, flags, encoding, required plug-ins.
Bytes Header(int major = 11, int minor = 0, uint32_t flags = 0)
{
    Bytes h;
    h.raw(std::string("LVA", 4)).u8(10).u8(major).u8(minor).u8('$').u32(flags).u8('#').u8(1).u8('&').u8(0);
    return h;
}

Bytes &Bytecode(Bytes &c, const std::string &code = "\033LVBcode")
{
    c.u8(1).u32(uint32_t(code.size())).raw(code);
    return c;
}

// Parses a container held in memory; the record is left for the test to inspect.
struct Parsed {
    lvAppletRecord record;
    lvAppletContainer container;
    int openError = 0, error = 0;
    char argument[64] = {};
    explicit Parsed(const std::vector<uint8_t> &bytes, uint64_t offset = 0)
    {
        InitAppletRecord(&record);
        lvByteSource source;
        InitMemorySource(&source, bytes.data(), bytes.size());
        openError = OpenAppletContainerFromSource(&source, "/tmp/test.lva", offset, nullptr, &container);
        if (!openError) error = ParseAppletRecords(&container, &record, argument, sizeof(argument));
    }
    ~Parsed()
    {
        FreeAppletRecord(&record, 1);
        CloseAppletContainer(&container);
    }
};

std::vector<uint8_t> Pack(const std::string &magic, const std::vector<uint8_t> &data,
                          uint32_t statedSize)
{
    uLongf bound = compressBound(uLong(data.size()));
    std::vector<uint8_t> out(8 + bound);
    std::memcpy(out.data(), magic.data(), 4);
    for (int i = 0; i < 4; i++) out[4 + i] = uint8_t(statedSize >> (24 - 8 * i));
    EXPECT_EQ(compress2(out.data() + 8, &bound, data.data(), uLong(data.size()), 6), Z_OK);
    out.resize(8 + bound);
    return out;
}

} // namespace

// ---- The format's own edge cases ---------------------------------------------------

TEST(ContainerRecords, EndsWithoutBytecodeOrWithUnknownTag)
{
    {
        Bytes c = Header();
        c.u8(11).str("no code");
        Parsed p(c.b);
        EXPECT_EQ(p.error, ERR_UNEXPECTEDEOF);
    }
    {
        Bytes c = Header();
        c.u8(39);
        Bytecode(c);
        Parsed p(c.b);
        EXPECT_EQ(p.error, ERR_UNKNOWNSEC);
    }
}

TEST(ContainerRecords, FormatVersionLimit)
{
    struct { int major, minor, error; const char *argument; } cases[] = {
        {11, 1, ERR_APPLETVERSION, "11.1"},
        {12, 0, ERR_APPLETVERSION, "12.0"},
        {11, 0, 0, ""},
        {10, 5, 0, ""},
    };
    for (auto &k : cases) {
        Bytes c = Header(k.major, k.minor);
        Bytecode(c);
        Parsed p(c.b);
        EXPECT_EQ(p.error, k.error) << k.major << "." << k.minor;
        EXPECT_STREQ(p.argument, k.argument);
        if (!k.error) {
            EXPECT_EQ(p.record.formatMajor, k.major);
            EXPECT_EQ(p.record.formatMinor, k.minor);
        }
    }
    // Before parsing any applet every version check passes; after, the stored one counts.
    lvAppletRecord r;
    InitAppletRecord(&r);
    EXPECT_TRUE(CheckAppletVersion(&r, 99, 0));
    r.parsed = 1;
    r.formatMajor = 10;
    r.formatMinor = 5;
    EXPECT_TRUE(CheckAppletVersion(&r, 10, 5));
    EXPECT_FALSE(CheckAppletVersion(&r, 10, 6));
    EXPECT_TRUE(CheckAppletVersion(&r, 9, 9));
}

TEST(ContainerRecords, StringsFlagsLabelsConstantsAndLineMaps)
{
    Bytes c = Header(11, 0, LV_APPLETFLAG_QUIET | LV_APPLETFLAG_NODEBUG);
    c.u8(11).str("Title").u8(12).raw("\xFFVER: demo 1.0").u8(0).u8(13).str("(c) me");
    c.u8(14).str("Author").u8(15).str("Descr").u8(34).str("com.example.demo");
    c.u8(9).u32(2).u32(5).str("start").u32(17).str("loop");
    c.u8(31).str("PI").u8(0).f64(3.25).str("NAME").u8(1).str("text value").u8(0);
    c.u8(8).u32(1).u32(0).u32(9).u32(100).str("old.src");        // replaced below
    c.u8(33).u32(1).u32(1).u32(2).u32(3);
    for (char ch : std::string("main.src")) c.u8(uint8_t(~ch));
    c.u8(0xFF);
    for (char ch : std::string("chunk")) c.u8(uint8_t(~ch));
    c.u8(0xFF);
    c.u8(29).u8(35).u8(0);
    c.u8(0).u32(3).raw("xyz");                                  // skipped record
    Bytecode(c, "\033LVB12345");
    Parsed p(c.b);
    ASSERT_EQ(p.error, 0);
    const lvAppletRecord &r = p.record;
    EXPECT_STREQ(r.title, "Title");
    EXPECT_STREQ(r.version, "$VER: demo 1.0");
    EXPECT_STREQ(r.copyright, "(c) me");
    EXPECT_STREQ(r.author, "Author");
    EXPECT_STREQ(r.description, "Descr");
    EXPECT_STREQ(r.identifier, "com.example.demo");
    EXPECT_EQ(r.flagsBlock.flags, uint32_t(LV_APPLETFLAG_QUIET | LV_APPLETFLAG_NODEBUG));
    ASSERT_TRUE(r.labels && r.labels->next);
    EXPECT_STREQ(r.labels->name, "start");
    EXPECT_EQ(r.labels->value, 5);
    EXPECT_STREQ(r.labels->next->name, "loop");
    EXPECT_EQ(r.labels->next->value, 17);
    ASSERT_TRUE(r.userConstants && r.userConstants->next);
    EXPECT_EQ(r.userConstants->number, 3.25);
    EXPECT_EQ(r.userConstants->string, nullptr);
    EXPECT_STREQ(r.userConstants->next->string, "text value");
    ASSERT_TRUE(r.lineMap);
    EXPECT_EQ(r.lineMap->next, nullptr);
    EXPECT_STREQ(r.lineMap->sourceFile, "main.src");
    EXPECT_STREQ(r.lineMap->chunkName, "chunk");
    EXPECT_EQ(r.lineMap->sourceLine, 3u);
    EXPECT_EQ(r.noDisplayOverrides, 1);
    EXPECT_EQ(r.encoding, 0);
    ASSERT_EQ(r.bytecodeSize, 9u);
    EXPECT_EQ(std::memcmp(r.bytecode, "\033LVB12345", 9), 0);
}

TEST(ContainerRecords, DisplayPatchesAndSettings)
{
    Bytes c = Header();
    c.u8(3).u16(800).u16(0xFFFF).u8(4).u16(5).raw("Hello").u8(5).u32(0xFF8000);
    c.u8(6).u32(uint32_t(-10)).u32(20).u8(18).u8(1).u8(19).u8(0).u8(24).u8(7);
    c.u8(28).u8(1).u32(320).u32(240).u8(1);
    c.u8(16).u8(2).u8(22).u16(uint16_t(-3)).u16(4).u8(23).u8(5).u8(7).u8(21).u8(6);
    c.u8(32).u32(LV_APPLETFLAG_DPIAWARE).u32(7).u32(8).u8(9).u8(16);
    Bytecode(c);
    Parsed p(c.b);
    ASSERT_EQ(p.error, 0);
    const lvDisplayPatch &d = p.record.displayPatch;
    EXPECT_TRUE(d.present);
    EXPECT_EQ(d.width, 800);
    EXPECT_EQ(d.height, -1);
    EXPECT_STREQ(d.title, "Hello");
    EXPECT_EQ(d.color, 0xFF8000u);
    EXPECT_EQ(d.x, -10);
    EXPECT_EQ(d.y, 20);
    EXPECT_EQ(d.setFlags, 0x1u | 0x10u | 0x100u | 0x80u);   // fixed stays off: its byte was 0
    EXPECT_EQ(d.scaleWidth, 320);
    const lvDisplaySettingsBlock &s = p.record.displaySettings;
    EXPECT_EQ(s.mode, 2);
    EXPECT_EQ(s.screenWidth, -3);
    EXPECT_EQ(s.screenHeight, 4);
    EXPECT_EQ(s.screenDepth, 5);
    EXPECT_EQ(s.desktop, 1);
    EXPECT_EQ(s.hideTitleBar, 6);
    const lvAppletFlagsBlock &f = p.record.flagsBlock;
    EXPECT_EQ(f.flags, uint32_t(LV_APPLETFLAG_DPIAWARE));
    EXPECT_EQ(f.value1, 7);
    EXPECT_EQ(f.value2, 8);
    EXPECT_EQ(f.byteValue, 9);
    EXPECT_EQ(f.channelCount, 16);
}

TEST(ContainerRecords, LinkedFilesKeepInlineAndRemoteDataAndDropMinusTwo)
{
    Bytes c = Header();
    c.u8(0).u32(4).raw("DATA");                 // bytes 21..24 hold remote data
    c.u8(26).u32(3).u32(0);
    c.str("inline.txt").u32(5).raw("hello");
    c.str("dropped.txt").u32(0xFFFFFFFE);
    c.str("remote.bin").u32(0xFFFFFFFF).u32(4).u32(21);
    Bytecode(c);
    std::vector<uint8_t> image(100, 0xAA);      // the container sits at offset 100
    image.insert(image.end(), c.b.begin(), c.b.end());
    Parsed p(image, 100);
    ASSERT_EQ(p.error, 0);
    lvLinkedFile *f = p.record.linkedFiles;
    ASSERT_TRUE(f && f->next);
    EXPECT_EQ(f->next->next, nullptr);
    EXPECT_STREQ(f->name, "inline.txt");
    EXPECT_EQ(f->size, 5u);
    EXPECT_EQ(std::memcmp(&image[100 + f->offset], "hello", 5), 0);
    EXPECT_STREQ(f->next->name, "remote.bin");
    EXPECT_EQ(std::memcmp(&image[100 + f->next->offset], "DATA", 4), 0);
    EXPECT_STREQ(f->containerPath, "/tmp/test.lva");
}

TEST(ContainerRecords, LinkedObjectsWithTagsButtonsAndTailReaders)
{
    Bytes c = Header(11, 0);
    c.u8(0).u32(13).raw("music.modDATA");                   // name at 21, data at 30..33
    c.u8(2).u32(2);
    // A music object with an embedded name and data, a loader, and two user tags.
    c.u8(3).u32(7).u32(21).u32(9).u32(30).u32(4).u32(1).u32(2).u32(42);
    c.u16(3).raw("mod").u16(0);
    c.u32(2).u32(4 + 3).str("tag").u8(1).str("ab").u32(99).str("num").u8(0).f64(-2.5);
    // A button: its tail is four 16-bit values.
    c.u8(5).u32(1).u32(0).u32(0).u32(0).u32(0).u32(0).u32(0).u32(3);
    c.u16(0).u16(0).u32(0).u16(uint16_t(-5)).u16(6).u16(70).u16(80);
    Bytecode(c);
    Parsed p(c.b);
    ASSERT_EQ(p.error, 0);
    lvLinkedObject *o = p.record.linkedObjects;
    ASSERT_TRUE(o && o->next);
    EXPECT_EQ(o->type, 3);
    EXPECT_EQ(o->identifier, 7u);
    EXPECT_STREQ(o->name, "music.mod");
    EXPECT_TRUE(o->embedded);
    EXPECT_EQ(o->sourceLine, 42u);
    EXPECT_STREQ(o->loaderName, "mod");
    ASSERT_TRUE(o->userTags && o->userTags->next);
    EXPECT_STREQ(o->userTags->name, "tag");
    EXPECT_STREQ(o->userTags->string, "ab");
    EXPECT_EQ(o->userTags->length, 2u);
    EXPECT_EQ(o->userTags->next->number, -2.5);
    char name[1024];
    ASSERT_TRUE(MakeLinkedObjectName(&p.container, o, name, sizeof(name)));
    EXPECT_STREQ(name, ":::chunk30:4*music.mod?/tmp/test.lva");
    lvLinkedButton *b = static_cast<lvLinkedButton *>(o->next->payload);
    ASSERT_TRUE(b);
    EXPECT_EQ(b->x, -5);
    EXPECT_EQ(b->height, 80);

    // A brush (type 1) carries a tail only the brush library reads: refused until its
    // reader is registered, then read by it.
    Bytes k = Header(11, 0);
    k.u8(2).u32(1).u8(1).u32(1).u32(0).u32(0).u32(0).u32(0).u32(0).u32(0).u32(0);
    k.u16(0).u16(0).u32(0).u8(0xAB);
    Bytecode(k);
    {
        Parsed q(k.b);
        EXPECT_EQ(q.error, ERR_UNKNOWNSEC);
    }
    SetLinkedTailReader(1, [](lvAppletCursor *cursor, lvLinkedObject *object, int, int) {
        uint8_t v;
        if (int err = ReadAppletByte(cursor, &v)) return err;
        object->optionValue = v;
        return 0;
    });
    {
        Parsed q(k.b);
        EXPECT_EQ(q.error, 0);
        ASSERT_TRUE(q.record.linkedObjects);
        EXPECT_EQ(q.record.linkedObjects->optionValue, 0xABu);
    }
    SetLinkedTailReader(1, nullptr);
}

TEST(ContainerRecords, IconBlockFillsSlotsAndSkipsOddSizes)
{
    Bytes c = Header();
    Bytecode(c);
    c.u8(0).u8(0);                                  // zero bytes before the block
    c.raw("I").u16(0);
    c.u16(32).u16(32).u8(2).u32(3).raw("abc");      // default icon, first set
    c.u16(20).u16(20).u8(0).u32(2).raw("zz");       // no slot of this size
    c.u16(16).u16(16).u8(1).u32(1).raw("s");        // second set
    c.u16(0);
    Parsed p(c.b);
    ASSERT_EQ(p.error, 0);
    const lvAppIconSlot *slots = GetAppIconTable(&p.record);
    ASSERT_TRUE(slots[2].fileName);
    size_t iconData = c.b.size() - 2 - 1 - 9 - 2 - 9 - 3;
    EXPECT_EQ(std::string(slots[2].fileName),
              ":::chunk" + std::to_string(iconData) + ":3*32x32?/tmp/test.lva");
    EXPECT_EQ(slots[2].isDefault, 1);
    EXPECT_EQ(slots[2].standardIcon, 55);
    ASSERT_TRUE(slots[10].fileName);
    EXPECT_EQ(slots[10].standardIcon, -1);
    for (int i : {0, 1, 3, 11}) EXPECT_EQ(slots[i].fileName, nullptr);

    // Without an "I" after the bytecode there is no icon block.
    Bytes n = Header();
    Bytecode(n);
    n.raw("X");
    Parsed q(n.b);
    EXPECT_EQ(q.error, 0);
    for (const lvAppIconSlot &s : q.record.icons) EXPECT_EQ(s.fileName, nullptr);
}

// ---- Forged sizes, counts and offsets -------------------------------------------------

TEST(ContainerRecords, ForgedSizesAreErrorsNotReads)
{
    struct { const char *what; Bytes body; int error; } cases[] = {
        {"bytecode size past the end", Bytes().u8(1).u32(0x7FFFFFFF).raw("abc"), ERR_READ},
        {"skip length past the end", Bytes().u8(0).u32(0xFFFFFFF0), ERR_READ},
        {"linked file size past the end", Bytes().u8(26).u32(1).u32(0).str("f").u32(1000), ERR_READ},
        {"remote file outside", Bytes().u8(26).u32(1).u32(0).str("f").u32(0xFFFFFFFF).u32(8).u32(0xFFFFFFF9), ERR_READ},
        {"object data outside", Bytes().u8(2).u32(1).u8(3).u32(1).u32(0).u32(0).u32(0xFFFFFF00).u32(0x200).u32(0).u32(0).u32(0), ERR_READ},
        {"object name outside", Bytes().u8(2).u32(1).u8(3).u32(1).u32(4).u32(900).u32(0).u32(0).u32(0).u32(0).u32(0).u16(0).u16(0).u32(0), ERR_READ},
        {"object name too long", Bytes().u8(2).u32(1).u8(3).u32(1).u32(0).u32(5000).u32(0).u32(0).u32(0).u32(0).u32(0).u16(0).u16(0).u32(0), ERR_STACK},
        {"huge object count", Bytes().u8(2).u32(0xFFFFFFFF), ERR_READ},
        {"huge label count", Bytes().u8(9).u32(0xFFFFFFFF).u32(1).str("a"), ERR_READ},
        {"loader name too long", Bytes().u8(2).u32(1).u8(3).u32(1).u32(0).u32(0).u32(0).u32(0).u32(0).u32(0).u32(0).u16(300), ERR_STACK},
        {"user tag size below its name", Bytes().u8(2).u32(1).u8(3).u32(1).u32(0).u32(0).u32(0).u32(0).u32(0).u32(0).u32(0).u16(0).u16(0).u32(1).u32(1).str("name").u8(1).str("v"), ERR_READ},
        {"user tag string past the end", Bytes().u8(2).u32(1).u8(3).u32(1).u32(0).u32(0).u32(0).u32(0).u32(0).u32(0).u32(0).u16(0).u16(0).u32(1).u32(0x7FFFFFFF).str("n").u8(1), ERR_READ},
        {"title longer than 255", Bytes().u8(11).str(std::string(300, 'x')), ERR_STACK},
        {"string without end", Bytes().u8(11).raw("abc"), ERR_READ},
        {"display title length", Bytes().u8(4).u16(400), ERR_STACK},
        {"required name too long", Bytes().u8(38).str(std::string(70, 'p')).u8(0), ERR_STACK},
        {"source file name too long", Bytes().u8(27).u32(1).u32(0).u32(0).u32(0).str(std::string(1100, 'f')).str("c"), ERR_STACK},
        {"backfill without its reader", Bytes().u8(17).u8(0), ERR_UNKNOWNSEC},
    };
    for (auto &k : cases) {
        Bytes c = Header();
        c.raw(std::string(k.body.b.begin(), k.body.b.end()));
        Parsed p(c.b);
        EXPECT_EQ(p.openError, 0) << k.what;
        EXPECT_EQ(p.error, k.error) << k.what;
    }
}

// ---- Opening and unpacking --------------------------------------------------------------

TEST(ContainerOpen, PackedAppletsUnpackOrFailCleanly)
{
    Bytes c = Header();
    c.u8(11).str("packed");
    Bytecode(c);
    std::vector<uint8_t> good = Pack(std::string("LVZ", 4), c.b, uint32_t(c.b.size()));
    // Icons of a packed applet follow the packed stream.
    Bytes icons;
    icons.raw("I").u16(0).u16(48).u16(48).u8(0).u32(2).raw("ic").u16(0);
    std::vector<uint8_t> withIcons = good;
    withIcons.insert(withIcons.end(), icons.b.begin(), icons.b.end());
    {
        Parsed p(withIcons);
        ASSERT_EQ(p.openError, 0);
        ASSERT_EQ(p.error, 0);
        EXPECT_STREQ(p.record.title, "packed");
        EXPECT_EQ(p.container.packed, 1);
        EXPECT_EQ(std::strncmp(p.container.path, ":::chunkM", 9), 0);
        ASSERT_TRUE(p.record.icons[3].fileName);
        EXPECT_EQ(std::string(p.record.icons[3].fileName),
                  ":::chunk" + std::to_string(good.size() + 3 + 9) + ":2*48x48?/tmp/test.lva");
    }
    struct { const char *what; std::vector<uint8_t> bytes; int error; } cases[] = {
        {"stated size too small", Pack(std::string("LVZ", 4), c.b, uint32_t(c.b.size() - 1)), ERR_ZLIBDATA},
        {"stated size too large", Pack(std::string("LVZ", 4), c.b, uint32_t(c.b.size() + 1)), ERR_ZLIBDATA},
        {"stated size beyond any ratio", Pack(std::string("LVZ", 4), c.b, 0xFFFFFFF0u), ERR_ZLIBDATA},
        {"cut in the zlib data", std::vector<uint8_t>(good.begin(), good.end() - 6), ERR_ZLIBDATA},
        {"not an applet inside", Pack(std::string("LVZ", 4), std::vector<uint8_t>{'X', 'Y', 'Z', 'W'}, 4), ERR_NOAPPLET},
        {"no magic at all", std::vector<uint8_t>{'A', 'B', 'C', 'D', 'E'}, ERR_NOAPPLET},
        {"too short", std::vector<uint8_t>{'L', 'V'}, ERR_NOAPPLET},
    };
    for (auto &k : cases) {
        Parsed p(k.bytes);
        EXPECT_EQ(p.openError, k.error) << k.what;
    }
    // A stated size of 0 says nothing; the stream decides.
    {
        std::vector<uint8_t> unsized = Pack(std::string("LVZ", 4), c.b, 0);
        Parsed p(unsized);
        EXPECT_EQ(p.error, 0);
        EXPECT_STREQ(p.record.title, "packed");
        EXPECT_EQ(p.container.memorySize, c.b.size());
    }
    std::vector<uint8_t> corrupt = good;
    corrupt[12] ^= 0x55;
    Parsed p(corrupt);
    EXPECT_NE(p.openError, 0);
}

TEST(ContainerOpen, UnpackToFileAndHeaderProbe)
{
    Bytes c = Header(11, 0, LV_APPLETFLAG_QUIET | LV_APPLETFLAG_UNPACKTOFILE);
    c.b.pop_back();                             // reopen the required plug-in list
    c.str("Orvalux").str("?Extra").u8(0);
    Bytecode(c);
    std::vector<uint8_t> packed = Pack(std::string("LVZ", 4), c.b, uint32_t(c.b.size()));
    for (const std::vector<uint8_t> *bytes : {&c.b, &packed}) {
        lvByteSource s;
        InitMemorySource(&s, bytes->data(), bytes->size());
        lvAppletHeaderInfo h;
        EXPECT_EQ(ProbeAppletHeader(&s, 0, 0, &h), 0);
        EXPECT_EQ(h.found, 1);
        EXPECT_EQ(h.quiet, 1);
        EXPECT_EQ(h.unpackToFile, 1);
        EXPECT_EQ(h.commandLine, 0);
        EXPECT_STREQ(h.requiredPlugins, "Orvalux.lvp|?Extra.lvp");
        // Unlinked runs of format 10 and below load every plug-in instead.
        Bytes old = Header(8, 0);
        Bytecode(old);
        InitMemorySource(&s, old.b.data(), old.b.size());
        ProbeAppletHeader(&s, 0, 1, &h);
        EXPECT_EQ(h.loadAllPlugins, 1);
        EXPECT_EQ(h.oldApplet, 1);
        EXPECT_STREQ(h.requiredPlugins, "");
    }
    lvByteSource s;
    std::vector<uint8_t> junk = {'L', 'V', 'A', 0, 1, 2};
    InitMemorySource(&s, junk.data(), junk.size());
    lvAppletHeaderInfo h;
    ProbeAppletHeader(&s, 0, 0, &h);
    EXPECT_EQ(h.found, 0);

    char dir[] = "/tmp/lvcontainerXXXXXX";
    ASSERT_TRUE(mkdtemp(dir));
    std::string appletPath = std::string(dir) + "/a.lva", temp = std::string(dir) + "/unpacked";
    FILE *f = std::fopen(appletPath.c_str(), "wb");
    ASSERT_TRUE(f);
    std::fwrite(packed.data(), 1, packed.size(), f);
    std::fclose(f);
    lvAppletContainer container;
    ASSERT_EQ(OpenAppletContainer(appletPath.c_str(), 0, temp.c_str(), &container), 0);
    EXPECT_STREQ(container.path, temp.c_str());
    EXPECT_EQ(container.source.size, c.b.size());
    lvAppletRecord r;
    InitAppletRecord(&r);
    EXPECT_EQ(ParseAppletRecords(&container, &r, nullptr, 0), 0);
    EXPECT_EQ(r.bytecodeSize, 8u);
    FreeAppletRecord(&r, 1);
    CloseAppletContainer(&container);
    EXPECT_EQ(OpenAppletContainer((std::string(dir) + "/missing").c_str(), 0, nullptr, &container),
              ERR_READFILE);
    unlink(appletPath.c_str());
    unlink(temp.c_str());
    rmdir(dir);
}

// ---- Appended plug-in blocks -----------------------------------------------------------

TEST(PluginBlocks, WalkEntriesAndRefuseForgedSizes)
{
    Bytes image;
    image.raw("ELF....");
    uint64_t start = image.b.size();
    image.raw("LVL!").u32(0).str("ext").u32(3).raw("abc").u8(0);
    image.raw("LVP!").u32(1).str("one").u32(2).raw("xy").str("two").u32(0).u8(0);
    uint64_t appletAt = image.b.size();
    image.raw(std::string("LVA", 4));
    lvByteSource s;
    InitMemorySource(&s, image.b.data(), image.b.size());
    std::vector<std::string> seen;
    uint64_t offset = start;
    auto visit = [](void *user, lvByteSource *, const lvPluginBlockEntry *e) {
        static_cast<std::vector<std::string> *>(user)->push_back(
            std::string(e->name) + ":" + std::to_string(e->storedSize) + (e->packed ? "p" : ""));
        return 0;
    };
    EXPECT_EQ(WalkPluginBlock(&s, "LVP!", &offset, visit, &seen), 0);
    EXPECT_EQ(offset, start);       // wrong magic: nothing moves
    EXPECT_EQ(WalkPluginBlock(&s, "LVL!", &offset, visit, &seen), 0);
    EXPECT_EQ(WalkPluginBlock(&s, "LVP!", &offset, visit, &seen), 0);
    EXPECT_EQ(offset, appletAt);
    EXPECT_EQ(seen, (std::vector<std::string>{"ext:3", "one:2p", "two:0p"}));
    offset = start;
    EXPECT_EQ(SkipPluginBlocks(&s, &offset), 0);
    EXPECT_EQ(offset, appletAt);

    struct { const char *what; Bytes block; int error; } cases[] = {
        {"payload past the end", Bytes().raw("LVP!").u32(0).str("a").u32(1000).raw("ab"), ERR_READ},
        {"no end of entries", Bytes().raw("LVP!").u32(0).str("a").u32(1).raw("b"), ERR_READ},
        {"name too long", Bytes().raw("LVP!").u32(0).str(std::string(300, 'n')).u32(0).u8(0), ERR_STACK},
        {"cut in the flags", Bytes().raw("LVP!").u16(0), ERR_READ},
    };
    for (auto &k : cases) {
        InitMemorySource(&s, k.block.b.data(), k.block.b.size());
        offset = 0;
        EXPECT_EQ(SkipPluginBlocks(&s, &offset), k.error) << k.what;
        EXPECT_EQ(offset, 0u) << k.what;
    }
}

// ---- Chunk names and the marker ------------------------------------------------------------

TEST(ContainerNames, ObjectsOfAnUnpackedAppletNameTheirBytesInMemory)
{
    Bytes c = Header();
    c.u8(0).u32(12).raw("pic.pngPIXEL");                    // name at 21, data at 28
    c.u8(2).u32(1).u8(4).u32(1).u32(21).u32(7).u32(28).u32(5).u32(0).u32(0).u32(0);
    c.u16(0).u16(0).u32(0);
    Bytecode(c);
    std::vector<uint8_t> packed = Pack(std::string("LVZ", 4), c.b, uint32_t(c.b.size()));
    Parsed p(packed);
    ASSERT_EQ(p.error, 0);
    char name[1024];
    ASSERT_TRUE(MakeLinkedObjectName(&p.container, p.record.linkedObjects, name, sizeof(name)));
    uint64_t address = 0;
    int64_t offset = 0;
    uint32_t size = 0;
    char file[64], container[1024];
    ASSERT_TRUE(ParseChunkName(name, &address, &offset, &size, file, sizeof(file), container,
                               sizeof(container), nullptr, 0, nullptr)) << name;
    EXPECT_EQ(offset, 28);
    EXPECT_EQ(size, 5u);
    EXPECT_STREQ(file, "pic.png");
    EXPECT_STREQ(container, p.container.path);
    EXPECT_EQ(std::memcmp(reinterpret_cast<const void *>(uintptr_t(address)), "PIXEL", 5), 0);
}

TEST(LinkMarker, UnlinkedRecordAndDecoding)
{
    lvLinkInfo info;
    ReadLinkMarker(&info);
    EXPECT_EQ(info.linked, 0);
    EXPECT_EQ(info.blocksPresent, 0);
    EXPECT_EQ(std::strncmp(info.versionLine, "$VER: Lumivarra", 15), 0);
    uint8_t bytes[108] = {};
    bytes[32] = 0x00; bytes[33] = 0x01; bytes[34] = 0x02; bytes[35] = 0x03;
    std::memcpy(bytes + 44, "$VER: x", 7);
    DecodeLinkMarker(bytes, &info);
    EXPECT_EQ(info.linked, 1);
    EXPECT_EQ(info.blockOffset, 0x00010203u);
    EXPECT_EQ(info.blocksPresent, 1);
    EXPECT_STREQ(info.versionLine, "$VER: x");
    std::memset(bytes + 32, 0, 4);
    DecodeLinkMarker(bytes, &info);
    EXPECT_EQ(info.linked, 1);              // linked without blocks
    EXPECT_EQ(info.blocksPresent, 0);
}

// ---- Preload of linked objects ----------------------------------------------------------

namespace {

// Records the hooks' calls in order.
struct PreloadLog {
    std::vector<std::string> calls;
    int failType = -1;          // object type whose load fails
    bool keepMusic = false;     // the music handler keeps reading the container
};

PreloadLog *LogOf(void *user) { return static_cast<PreloadLog *>(user); }

int LoadAny(void *user, lvLinkedObject *o, const char *fileName, int *keeps)
{
    LogOf(user)->calls.push_back("load " + std::to_string(o->type) + " " + fileName);
    if (o->type == 3 && LogOf(user)->keepMusic) *keeps = 1;
    if (chdir("/") != 0) return ERR_CHANGEDIR;     // loaders may move; the preload moves back
    return o->type == LogOf(user)->failType ? ERR_LOADSOUND : 0;
}

lvPreloadHooks MakeHooks()
{
    lvPreloadHooks h = {};
    h.requirePlugin = [](void *user, lvLinkedObject *o, int mode) {
        LogOf(user)->calls.push_back("require " + std::string(o->name) + " " + std::to_string(mode));
        return LogOf(user)->failType == 12 ? ERR_REQUIREPLUGIN : 0;
    };
    h.prepare = [](void *user, int hasDisplay1) {
        LogOf(user)->calls.push_back("prepare " + std::to_string(hasDisplay1));
        return 0;
    };
    h.createDisplay = [](void *user, lvLinkedObject *o, int bg) {
        LogOf(user)->calls.push_back("display " + std::to_string(o->identifier) + " " + std::to_string(bg));
        return 0;
    };
    h.print = [](void *user, const char *text) { LogOf(user)->calls.push_back(text); };
    h.finish = [](void *user) { LogOf(user)->calls.push_back("finish"); };
    h.load[3] = LoadAny;
    h.load[9] = LoadAny;
    return h;
}

// Plug-in (12), embedded music (3), font (9) and a warning (14), then display 1.
std::vector<uint8_t> PreloadFixture()
{
    Bytes c = Header(11, 0);
    c.u8(0).u32(26).raw("Orvaluxtune.modMODfont.ttf");  // names at 21, 28, 39; data at 36
    c.u8(2).u32(4);
    auto object = [&](int type, uint32_t nameOff, uint32_t nameLen, uint32_t dataOff, uint32_t dataSize, uint32_t line) {
        c.u8(type).u32(1).u32(nameOff).u32(nameLen).u32(dataOff).u32(dataSize).u32(0).u32(0).u32(line);
        c.u16(0).u16(0).u32(0);
    };
    object(12, 21, 7, 0, 0, 3);
    object(3, 28, 8, 36, 3, 4);
    object(9, 39, 8, 0, 0, 5);
    object(14, 28, 4, 0, 0, 6);
    Bytecode(c);
    return c.b;
}

std::string Cwd()
{
    char buf[4096];
    return getcwd(buf, sizeof(buf)) ? buf : "";
}

} // namespace

TEST(ContainerPreload, PassesRunInOrderAndFreeTheObjects)
{
    std::vector<uint8_t> bytes = PreloadFixture();
    Parsed p(bytes);
    ASSERT_EQ(p.error, 0);
    int options[4] = {1, 2, 3, 4};
    ASSERT_EQ(AddLinkedDisplay(&p.record, 10, 1, options, sizeof(options), nullptr), 0);
    EXPECT_EQ(AddLinkedDisplay(&p.record, 11, 2, options, sizeof(options), nullptr), ERR_INTERNAL);
    int count = 0;
    for (lvLinkedObject *o = p.record.linkedObjects; o; o = o->next) count++;
    EXPECT_EQ(count, 5);    // the refused display left nothing behind

    PreloadLog log;
    log.keepMusic = true;
    lvPreloadHooks hooks = MakeHooks();
    lvPreloadStatus status;
    std::string before = Cwd();
    ASSERT_EQ(PreloadLinkedObjects(&p.record, &p.container, &hooks, &log, &status), 0);
    EXPECT_EQ(Cwd(), before);
    std::vector<std::string> expect = {
        "require Orvalux 514", "prepare 1", "load 3 :::chunk36:3*tune.mod?/tmp/test.lva",
        "load 9 font.ttf", "*** WARNING tune ***\n", "display 1 0", "finish"};   // list order
    EXPECT_EQ(log.calls, expect);
    EXPECT_EQ(status.containerNeeded, 1);
    EXPECT_STREQ(status.commandName, "----");
    EXPECT_EQ(p.record.linkedObjects, nullptr);
}

TEST(ContainerPreload, ErrorsNameTheCommandAndLineAndStopThePasses)
{
    struct { const char *what; int failType; int dropHandler; int error; const char *command; uint32_t line; } cases[] = {
        {"plug-in refused", 12, -1, ERR_REQUIREPLUGIN, "@REQUIRE", 3},
        {"loader failed", 3, -1, ERR_LOADSOUND, "OpenMusic", 4},
        {"library missing", -1, 9, ERR_UNIMPLCMD, "OpenFont", 5},
    };
    for (auto &k : cases) {
        std::vector<uint8_t> bytes = PreloadFixture();
        Parsed p(bytes);
        ASSERT_EQ(p.error, 0);
        PreloadLog log;
        log.failType = k.failType;
        lvPreloadHooks hooks = MakeHooks();
        hooks.noDebug = 1;
        if (k.dropHandler >= 0) hooks.load[k.dropHandler] = nullptr;
        lvPreloadStatus status;
        std::string before = Cwd();
        EXPECT_EQ(PreloadLinkedObjects(&p.record, &p.container, &hooks, &log, &status), k.error) << k.what;
        EXPECT_STREQ(status.commandName, k.command) << k.what;
        EXPECT_EQ(status.sourceLine, k.line) << k.what;
        EXPECT_EQ(Cwd(), before) << k.what;
        EXPECT_EQ(log.calls.back(), "finish") << k.what;
        EXPECT_NE(p.record.linkedObjects, nullptr) << k.what;   // freed with the record
    }
}

// media_module_test.cpp - the ProTracker player against references computed here: the
// module writer checked against hand-computed bytes, sample-exact output of a looping
// square, the effects by period and volume per tick, speed and tempo, timing, seeking,
// and the fault modules (long songs, far jumps, loops past 128 KiB, invert loop at the
// end of the data, pattern loops that never settle), and tracker quirks against the lengths
// their rules give.
#include "media/lvmodule.h"
#include "base/lverrors.h"
#include "module_fixture.h"
#include <cstring>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

namespace {

struct PlayerDeleter {
    void operator()(lvModulePlayer *p) const { FreeModulePlayer(p); }
};
using Player = std::unique_ptr<lvModulePlayer, PlayerDeleter>;

Player Open(const ModFixture &f, int rate = 48000, uint32_t flags = 0)
{
    std::vector<uint8_t> bytes = MakeModule(f);
    lvModulePlayer *p = nullptr;
    EXPECT_EQ(NewModulePlayer(bytes.data(), bytes.size(), rate, flags, &p), 0);
    return Player(p);
}

std::vector<int8_t> Square(int bytes, int level)
{
    std::vector<int8_t> d(bytes);
    for (int i = 0; i < bytes; i++) d[i] = (int8_t)(i < bytes / 2 ? level : -level);
    return d;
}

// One looping 32-byte square at full volume.
ModFixture SquareModule()
{
    ModFixture f;
    ModSample s;
    s.data = Square(32, 100);
    s.volume = 64;
    s.loopStartBytes = 0;
    s.loopLengthBytes = 32;
    f.samples.push_back(s);
    f.At(0, 0, 0) = {428, 1, 0, 0};
    return f;
}

std::vector<int16_t> Mix(lvModulePlayer *p, int frames, int64_t *produced = nullptr)
{
    std::vector<int16_t> out((size_t)frames * 2, 0);
    int64_t n = MixModule(p, out.data(), out.data() + 1, 4, frames, 16, 2);
    if (produced) *produced = n;
    return out;
}

TEST(ModuleWriter, BytesOfASmallModule)
{
    ModFixture f;
    ModSample s;
    s.data = {1, -2, 3, -4};
    s.finetune = 15;
    s.volume = 40;
    s.loopStartBytes = 2;
    s.loopLengthBytes = 2;
    f.samples.push_back(s);
    f.orders = {0, 0};
    f.At(0, 1, 2) = {0x1AC, 0x13, 0xC, 0x20};
    std::vector<uint8_t> b = MakeModule(f);
    ASSERT_EQ(b.size(), 1084u + 1024 + 4);
    const uint8_t h[8] = {0x00, 0x02, 0x0F, 40, 0x00, 0x01, 0x00, 0x01};
    EXPECT_EQ(memcmp(b.data() + 20 + 22, h, 8), 0);
    EXPECT_EQ(b[950], 2);
    EXPECT_EQ(memcmp(b.data() + 1080, "M.K.", 4), 0);
    // Row 1, channel 3: instrument 0x13 high nibble in byte 0, low nibble in byte 2.
    const uint8_t note[4] = {0x11, 0xAC, 0x3C, 0x20};
    EXPECT_EQ(memcmp(b.data() + 1084 + 16 + 8, note, 4), 0);
    const uint8_t data[4] = {1, 0xFE, 3, 0xFC};
    EXPECT_EQ(memcmp(b.data() + 1084 + 1024, data, 4), 0);
}

TEST(ModulePlayer, ValidationByPatternCount)
{
    ModFixture f = SquareModule();
    f.orders = {0, 5};
    for (int p = 0; p <= 4; p++) f.At(p, 0, 0);
    std::vector<uint8_t> five = MakeModule(f); // names pattern 5, holds 0..4
    EXPECT_EQ(CountModulePatterns(five.data(), five.size()), 0);
    lvModulePlayer *p = nullptr;
    EXPECT_EQ(NewModulePlayer(five.data(), five.size(), 48000, 0, &p), ERR_WRONGUSAGE);
    f.At(5, 0, 0);
    std::vector<uint8_t> six = MakeModule(f);
    EXPECT_EQ(CountModulePatterns(six.data(), six.size()), 6);
    std::vector<uint8_t> shortHeader(six.begin(), six.begin() + 1083);
    EXPECT_EQ(CountModulePatterns(shortHeader.data(), shortHeader.size()), 0);
    six[1083] = 'X';
    EXPECT_EQ(CountModulePatterns(six.data(), six.size()), 0);
}

TEST(ModulePlayer, PeriodTable)
{
    struct {
        int period, finetune, semis, expect;
    } cases[] = {{856, 0, 0, 856}, {428, 0, 12, 214}, {428, 0, 40, 113}, {428, 1, 0, 425},
                 {428, 8, 0, 453}, {428, 15, 0, 431}, {427, 0, 3, 427}};
    for (auto &c : cases) EXPECT_EQ(LookupPeriod(c.period, c.finetune, c.semis), c.expect) << c.period;
}

// The looping square on channel 1 (right only) and channel 2 (left only), computed here
// from the mixing rules: 18.14 positions, step 1427 at period 428, volume 64 as 63.
TEST(ModulePlayer, SquareIsSampleExact)
{
    ModFixture f = SquareModule();
    f.At(0, 0, 1) = {428, 1, 0, 0};
    Player p = Open(f);
    ASSERT_TRUE(p);
    const int frames = 4000;
    std::vector<int16_t> out = Mix(p.get(), frames);
    EXPECT_EQ(p->channels[0].step, 1427);
    std::vector<int8_t> sq = Square(32, 100);
    int64_t pos = 0;
    for (int i = 0; i < frames; i++) {
        int32_t sum = 0;
        for (int k = 0; k < 2; k++) {
            if (pos >= (int64_t)32 << 14) pos -= (int64_t)32 << 14;
            sum += (sq[pos >> 14] * 63 * 255) >> 7;
            pos += 1427;
        }
        int16_t v = (int16_t)((sum * 256) >> 9);
        ASSERT_EQ(out[2 * i + 1], v) << "right " << i;
        ASSERT_EQ(out[2 * i], v) << "left " << i;
    }
    // One channel alone: the other side stays silent.
    ModFixture g = SquareModule();
    g.At(0, 0, 0) = {};
    g.At(0, 0, 2) = {428, 1, 0, 0};
    Player q = Open(g);
    std::vector<int16_t> left = Mix(q.get(), 100);
    for (int i = 0; i < 100; i++) ASSERT_EQ(left[2 * i + 1], 0);
    EXPECT_EQ(left[0], out[0]);
}

struct TickCase {
    const char *name;
    ModNote row0;           // channel 1, row 0 (instrument 1 at volume 32 unless set)
    ModNote row1;           // channel 1, row 1
    std::vector<int> periods; // ticks 0..; 0: not checked
    std::vector<int> volumes; // ticks 0..; -1: not checked
};

// The state after ticks 0..k ran: a tick runs before the first sample of its 960 frames.
void RunToTick(lvModulePlayer *p, int tick, int ticksBefore)
{
    int64_t frames = ticksBefore < 0 ? (int64_t)tick * 960 + 1 : (int64_t)(tick - ticksBefore) * 960;
    if (frames > 0) MixModule(p, nullptr, nullptr, 0, frames, 16, 2);
}

TEST(ModulePlayer, EffectsPerTick)
{
    const int X = 0, V = -1;
    TickCase cases[] = {
        {"0 arpeggio", {428, 1, 0, 0x47}, {}, {428, 285, 339, 428, 285, 339, X, X, X, X, X, X}, {}},
        {"1 slide up", {428, 1, 1, 2}, {}, {428, 426, 424, 422, 420, 418, 418, X, X, X, X, X}, {}},
        {"2 slide down", {428, 1, 2, 3}, {}, {428, 431, 434, 437, 440, 443, 443, X, X, X, X, X}, {}},
        {"3 tone portamento", {428, 1, 0, 0}, {404, 1, 3, 8}, {428, X, X, X, X, X, 428, 420, 412, 404, 404, 404},
         {}},
        {"4 vibrato", {428, 1, 4, 0x48}, {}, {428, 428, 434, 439, 442, 443, X, X, X, X, X, X}, {}},
        {"5 portamento + slide", {428, 1, 0, 0}, {404, 0, 5, 0x02},
         {X, X, X, X, X, X, 428, 428, 428, 428, 428, 428},
         {V, V, V, V, V, V, 32, 30, 28, 26, 24, 22}},
        {"6 vibrato + slide", {428, 1, 4, 0x48}, {0, 0, 6, 0x20},
         {X, X, X, X, X, X, 428, 442, 439, 434, 428, 421},
         {V, V, V, V, V, V, 32, 34, 36, 38, 40, 42}},
        {"7 tremolo", {428, 1, 7, 0x48}, {}, {}, {32, 32, 38, 43, 46, 47, V, V, V, V, V, V}},
        {"A slide down", {428, 1, 0xA, 0x02}, {}, {}, {32, 30, 28, 26, 24, 22, 22, V, V, V, V, V}},
        {"A slide up", {428, 1, 0xA, 0x20}, {}, {}, {32, 34, 36, 38, 40, 42, V, V, V, V, V, V}},
        {"C40 as 63", {428, 1, 0xC, 0x40}, {}, {}, {63, 63, 63, 63, 63, 63, 63, V, V, V, V, V}},
        {"C20", {428, 1, 0xC, 0x20}, {}, {}, {32, 32, V, V, V, V, V, V, V, V, V, V}},
        {"E1 fine up", {428, 1, 0xE, 0x13}, {}, {425, 425, 425, 425, 425, 425, 425, X, X, X, X, X}, {}},
        {"E2 fine down", {428, 1, 0xE, 0x23}, {}, {431, 431, 431, 431, 431, 431, X, X, X, X, X, X}, {}},
        {"E5 finetune", {428, 1, 0xE, 0x51}, {}, {425, 425, X, X, X, X, X, X, X, X, X, X}, {}},
        {"EA fine volume up", {428, 1, 0xE, 0xA4}, {}, {}, {36, 36, 36, 36, 36, 36, V, V, V, V, V, V}},
        {"EB fine volume down", {428, 1, 0xE, 0xB4}, {}, {}, {28, 28, 28, 28, 28, 28, V, V, V, V, V, V}},
        {"EC note cut", {428, 1, 0xE, 0xC2}, {}, {}, {32, 32, 0, 0, 0, 0, V, V, V, V, V, V}},
    };
    for (const TickCase &c : cases) {
        ModFixture f;
        ModSample s;
        s.data = Square(64, 50);
        s.volume = 32;
        s.loopStartBytes = 0;
        s.loopLengthBytes = 64;
        f.samples.push_back(s);
        f.At(0, 0, 0) = c.row0;
        f.At(0, 1, 0) = c.row1;
        Player p = Open(f);
        int ran = -1;
        for (int t = 0; t < 12; t++) {
            RunToTick(p.get(), t, ran);
            ran = t;
            if (t < (int)c.periods.size() && c.periods[t])
                EXPECT_EQ(p->channels[0].period, c.periods[t]) << c.name << " tick " << t;
            if (t < (int)c.volumes.size() && c.volumes[t] >= 0)
                EXPECT_EQ(p->channels[0].outVolume, c.volumes[t]) << c.name << " tick " << t;
        }
    }
}

// Effects seen in the sequencer or the output rather than in one channel's levels.
TEST(ModulePlayer, FlowEffects)
{
    auto base = [] {
        ModFixture f;
        ModSample s;
        s.data = Square(64, 50);
        s.volume = 32;
        s.loopLengthBytes = 64;
        f.samples.push_back(s);
        return f;
    };
    { // B: the next row is row 0 of that position.
        ModFixture f = base();
        f.orders = {0, 1};
        f.At(0, 0, 0) = {428, 1, 0xB, 1};
        f.At(1, 0, 0) = {};
        Player p = Open(f);
        RunToTick(p.get(), 6, -1);
        EXPECT_EQ(p->songPosition.load(), 1);
        EXPECT_EQ(p->patternRow.load(), 0);
        EXPECT_FALSE(p->flags & LV_MODF_ENDED);
    }
    { // D: the next position at row x * 10 + y; 64 or more is row 0.
        struct {
            int parameter, row;
        } rows[] = {{0x05, 5}, {0x12, 12}, {0x64, 0}, {0x00, 0}};
        for (auto &r : rows) {
            ModFixture f = base();
            f.orders = {0, 0};
            f.At(0, 0, 0) = {428, 1, 0xD, r.parameter};
            Player p = Open(f);
            RunToTick(p.get(), 6, -1);
            EXPECT_EQ(p->songPosition.load(), 1) << r.parameter;
            EXPECT_EQ(p->patternRow.load(), r.row) << r.parameter;
        }
    }
    { // EE: the row's ticks repeat once more.
        ModFixture f = base();
        f.At(0, 0, 0) = {428, 1, 0xE, 0xE1};
        Player p = Open(f);
        RunToTick(p.get(), 6, -1);
        EXPECT_EQ(p->patternRow.load(), 0);
        RunToTick(p.get(), 12, 6);
        EXPECT_EQ(p->patternRow.load(), 1);
    }
    { // E6: rows 0, 1, 0, 1, 0, 1, 2.
        ModFixture f = base();
        f.At(0, 0, 0) = {428, 1, 0xE, 0x60};
        f.At(0, 1, 0) = {0, 0, 0xE, 0x62};
        Player p = Open(f);
        int expect[] = {0, 1, 0, 1, 0, 1, 2};
        int ran = -1;
        for (int r = 0; r < 7; r++) {
            RunToTick(p.get(), r * 6, ran);
            ran = r * 6;
            EXPECT_EQ(p->patternRow.load(), expect[r]) << r;
        }
    }
    { // E0: filter on for even, off for odd.
        ModFixture f = base();
        f.At(0, 0, 0) = {428, 1, 0xE, 0x00};
        f.At(0, 1, 0) = {0, 0, 0xE, 0x01};
        Player p = Open(f);
        RunToTick(p.get(), 0, -1);
        EXPECT_EQ(p->filterOn, 1);
        RunToTick(p.get(), 6, 0);
        EXPECT_EQ(p->filterOn, 0);
    }
    { // F1F: 31 ticks per row; F20: tempo 32.
        ModFixture f = base();
        f.At(0, 0, 0) = {428, 1, 0xF, 0x1F};
        Player p = Open(f);
        RunToTick(p.get(), 30, -1);
        EXPECT_EQ(p->patternRow.load(), 0);
        RunToTick(p.get(), 31, 30);
        EXPECT_EQ(p->patternRow.load(), 1);
        ModFixture g = base();
        g.At(0, 0, 0) = {428, 1, 0xF, 0x20};
        Player q = Open(g);
        RunToTick(q.get(), 0, -1);
        EXPECT_EQ(q->tickLength, 96000 * 60 / (32 * 24));
    }
    { // F00 ends the song; with the stop flag the row plays out and mixing ends.
        ModFixture f = base();
        f.At(0, 0, 0) = {428, 1, 0xF, 0x00};
        Player p = Open(f, 48000, LV_MODF_STOPATEND);
        int64_t got = MixModule(p.get(), nullptr, nullptr, 0, 100000, 16, 2);
        EXPECT_EQ(got, 6 * 960);
        EXPECT_TRUE(p->flags & LV_MODF_ENDED);
    }
    { // 9: the note starts 512 bytes in.
        ModFixture f = base();
        f.samples[0].data.assign(1024, 0);
        f.samples[0].data[512] = 77;
        f.samples[0].loopLengthBytes = 2;
        f.At(0, 0, 0) = {428, 1, 9, 2};
        Player p = Open(f);
        std::vector<int16_t> out = Mix(p.get(), 1);
        EXPECT_EQ(out[1], (int16_t)((2 * ((77 * 32 * 255) >> 7) * 256) >> 9));
    }
    { // ED2: silent until tick 2. E92: restarts at ticks 2 and 4.
        ModFixture f = base();
        f.At(0, 0, 0) = {428, 1, 0xE, 0xD2};
        Player p = Open(f);
        std::vector<int16_t> out = Mix(p.get(), 960 * 3);
        for (int i = 0; i < 960 * 2; i++) ASSERT_EQ(out[2 * i + 1], 0) << i;
        EXPECT_NE(out[2 * 960 * 2 + 1], 0);
        ModFixture g = base();
        g.At(0, 0, 0) = {428, 1, 0xE, 0x92};
        Player q = Open(g);
        RunToTick(q.get(), 2, -1);
        EXPECT_EQ(q->channels[0].position, 2 * 1427);
        RunToTick(q.get(), 4, 2);
        EXPECT_EQ(q->channels[0].position, 2 * 1427);
    }
    { // EF: inverts the byte after the loop start in the player's copy only.
        ModFixture f = base();
        f.samples[0].data = Square(64, 50);
        f.samples[0].loopStartBytes = 16;
        f.samples[0].loopLengthBytes = 16;
        f.At(0, 0, 0) = {428, 1, 0xE, 0xFF};
        std::vector<uint8_t> bytes = MakeModule(f);
        lvModulePlayer *raw = nullptr;
        ASSERT_EQ(NewModulePlayer(bytes.data(), bytes.size(), 48000, 0, &raw), 0);
        Player p(raw);
        RunToTick(p.get(), 0, -1);
        EXPECT_EQ(p->sampleData[17], (int8_t)~50);
        EXPECT_EQ(p->sampleData[16], 50);
        ResetModulePlayer(p.get(), 48000);
        EXPECT_EQ(p->sampleData[17], 50);
    }
}

TEST(ModulePlayer, TimedLengthAndSeeks)
{
    ModFixture f = SquareModule();
    EXPECT_EQ(MeasureModuleFrames(MakeModule(f).data(), MakeModule(f).size()), 368640); // 7680 ms
    f.orders = {0, 0, 0};
    std::vector<uint8_t> three = MakeModule(f);
    EXPECT_EQ(MeasureModuleFrames(three.data(), three.size()), 3 * 368640);
    // Stop at the end: exactly the measured frames come out at 48000 Hz.
    Player p = Open(SquareModule(), 48000, LV_MODF_STOPATEND);
    int64_t got = MixModule(p.get(), nullptr, nullptr, 0, 1000000, 16, 2);
    EXPECT_EQ(got, 368640);

    // Two seeks to one time give equal bytes.
    ModFixture g = SquareModule();
    g.At(0, 3, 1) = {404, 1, 4, 0x48};
    g.At(0, 10, 0) = {0, 0, 0xA, 0x01};
    Player q = Open(g);
    SeekModule(q.get(), 48000);
    std::vector<int16_t> a = Mix(q.get(), 5000);
    Mix(q.get(), 20000);
    SeekModule(q.get(), 48000);
    std::vector<int16_t> b = Mix(q.get(), 5000);
    EXPECT_EQ(a, b);
    EXPECT_EQ(q->patternRow.load(), 9); // 1.104 s at 120 ms per row
}

TEST(ModulePlayer, PositionControl)
{
    ModFixture f = SquareModule();
    f.orders = {0, 1, 0};
    f.At(1, 0, 0) = {};
    Player p = Open(f);
    RunToTick(p.get(), 0, -1);
    EXPECT_EQ(ModulePositionControl(p.get(), 3), ERR_WRONGUSAGE);
    EXPECT_EQ(ModulePositionControl(p.get(), -1), ERR_WRONGUSAGE);
    EXPECT_EQ(ModulePositionControl(p.get(), 2), 0);
    RunToTick(p.get(), 6, 0);
    EXPECT_EQ(p->songPosition.load(), 2);
    EXPECT_EQ(p->patternRow.load(), 0);
}

// Modules that read or wrote out of bounds, or never ended their measuring run.
// A note without an instrument plays the last instrument named, also one named on an
// earlier row without a note: at that instrument's volume, whether or not the channel
// was sounding before.
TEST(ModulePlayer, ANoteWithoutAnInstrumentPlaysTheLastOneNamed)
{
    struct Case {
        const char *name;
        std::vector<ModNote> rows;  // channel 0, rows 0..
        int row;                    // the row with the bare note
        int sample, volume;         // what plays from that row
    } cases[] = {
        {"instrument, then a bare note", {{0, 2, 0, 0}, {428, 0, 0, 0}}, 1, 2, 20},
        {"instrument over a sounding one", {{428, 1, 0, 0}, {0, 2, 0, 0}, {428, 0, 0, 0}}, 2, 2, 20},
        {"bare note after a note", {{428, 1, 0, 0}, {0, 0, 0, 0}, {428, 0, 0, 0}}, 2, 1, 32},
        {"instrument, volume set, bare note", {{0, 2, 0, 0}, {0, 0, 0xC, 10}, {428, 0, 0, 0}}, 2, 2, 10},
    };
    for (const Case &c : cases) {
        ModFixture f;
        for (int v : {32, 20}) {
            ModSample s;
            s.data = Square(64, 50);
            s.volume = v;
            s.loopLengthBytes = 64;
            f.samples.push_back(s);
        }
        for (size_t r = 0; r < c.rows.size(); r++) f.At(0, (int)r, 0) = c.rows[r];
        Player p = Open(f);
        RunToTick(p.get(), c.row * 6 + 1, -1);
        EXPECT_EQ(p->channels[0].sample, c.sample) << c.name;
        EXPECT_EQ(p->channels[0].volume, c.volume) << c.name;
        EXPECT_GE(p->channels[0].position, 0) << c.name;
        std::vector<int16_t> out = Mix(p.get(), 200);
        EXPECT_NE(out[1], 0) << c.name;
    }
}

// Tracker quirks made here, measured against the lengths the rules give: rows played
// x ticks per row x 960 frames a tick (tempo 125 at 48000 Hz).
TEST(ModulePlayer, TrackerQuirksTakeTheLengthsTheRulesGive)
{
    struct Case {
        const char *name;
        std::vector<int> orders;
        std::vector<std::pair<std::pair<int, int>, ModNote>> effects;  // {pattern, row} on channel 1
        int rows, speed;
        int arpeggio = 0;  // on the square's note
    } cases[] = {
        {"plain", {0}, {}, 64, 6},
        // E60 marks row 0, E62 at row 3 plays rows 0..3 twice more.
        {"pattern loop", {0}, {{{0, 0}, {0, 0, 0xE, 0x60}}, {{0, 3}, {0, 0, 0xE, 0x62}}}, 4 * 3 + 60, 6},
        // Two loops in a row on one channel: the second starts at its own mark.
        {"two loops", {0}, {{{0, 0}, {0, 0, 0xE, 0x60}}, {{0, 1}, {0, 0, 0xE, 0x61}}, {{0, 2}, {0, 0, 0xE, 0x60}},
                            {{0, 2 + 1}, {0, 0, 0xE, 0x61}}}, 2 * 2 + 2 * 2 + 60, 6},
        // A jump to the position playing ends the song after that row.
        {"jump to the same order", {0, 1}, {{{1, 10}, {0, 0, 0xB, 1}}}, 64 + 11, 6},
        {"jump to an earlier order", {0, 1}, {{{1, 0}, {0, 0, 0xB, 0}}}, 64 + 1, 6},
        // A break to row 70 lands on row 0 of the next position; D63 on row 63.
        {"break past 63", {0, 1}, {{{0, 5}, {0, 0, 0xD, 0x70}}}, 6 + 64, 6},
        {"break to row 63", {0, 1}, {{{0, 5}, {0, 0, 0xD, 0x63}}}, 6 + 1, 6},
        {"break on the last position", {0}, {{{0, 9}, {0, 0, 0xD, 0x00}}}, 10, 6},
        // Speed 1 from the first row: one tick a row, arpeggio or not.
        {"arpeggio at speed 1", {0}, {{{0, 0}, {0, 0, 0xF, 0x01}}}, 64, 1, 0x47},
    };
    for (const Case &c : cases) {
        ModFixture f = SquareModule();
        f.orders = c.orders;
        for (int pattern : c.orders) f.At(pattern, 0, 3) = {};
        for (const auto &e : c.effects) f.At(e.first.first, e.first.second, 1) = e.second;
        f.At(0, 0, 0).parameter = c.arpeggio;
        std::vector<uint8_t> bytes = MakeModule(f);
        int settled = 0;
        EXPECT_EQ(MeasureModuleFrames(bytes.data(), bytes.size(), &settled), (int64_t)c.rows * c.speed * 960)
            << c.name;
        EXPECT_EQ(settled, 1) << c.name;
    }
    // Arpeggio at speed 1: every row is its tick 0, so only the base note sounds.
    ModFixture f = SquareModule();
    f.At(0, 0, 1) = {0, 0, 0xF, 0x01};
    for (int r = 0; r < 64; r++) f.At(0, r, 0) = {r == 0 ? 428 : 0, r == 0 ? 1 : 0, 0, 0x47};
    Player p = Open(f);
    for (int r = 0; r < 10; r++) {
        MixModule(p.get(), nullptr, nullptr, 0, 960, 16, 2);
        EXPECT_EQ(p->channels[0].period, 428) << r;
    }
}

TEST(ModulePlayer, FaultModules)
{
    { // A song length byte of 255 stays inside the 128-entry order list.
        ModFixture f = SquareModule();
        f.songLengthByte = 255;
        Player p = Open(f, 4800, LV_MODF_STOPATEND);
        EXPECT_EQ(p->songLength, 128);
        EXPECT_GT(MixModule(p.get(), nullptr, nullptr, 0, 10000000, 16, 2), 0);
    }
    { // A jump past the song wraps to its start with the song-ended mark.
        ModFixture f = SquareModule();
        f.orders = {0, 1};
        f.At(1, 0, 0) = {0, 0, 0xB, 200};
        Player p = Open(f);
        RunToTick(p.get(), 64 * 6 + 6, -1);
        EXPECT_EQ(p->songPosition.load(), 0);
        EXPECT_TRUE(p->flags & LV_MODF_ENDED);
    }
    { // A loop ending past 128 KiB keeps playing inside it.
        ModFixture f;
        ModSample s;
        s.data.assign(131070, 20);
        s.loopStartBytes = 0;
        s.loopLengthBytes = 131070;
        f.samples.push_back(s);
        f.At(0, 0, 0) = {113, 1, 0, 0};
        Player p = Open(f);
        int64_t got = 0;
        std::vector<int16_t> out;
        for (int i = 0; i < 30; i++) out = Mix(p.get(), 10000, &got);
        EXPECT_GE(p->channels[0].position, 0);
        EXPECT_NE(out.back(), 0);
    }
    { // Invert loop on the last sample whose loop runs past the data: nothing outside.
        ModFixture f;
        ModSample s;
        s.data.assign(8, 10);
        s.loopStartBytes = 4;
        s.loopLengthBytes = 200;
        f.samples.push_back(s);
        for (int r = 0; r < 64; r++) f.At(0, r, 0) = {r == 0 ? 428 : 0, r == 0 ? 1 : 0, 0xE, 0xFF};
        Player p = Open(f);
        MixModule(p.get(), nullptr, nullptr, 0, 64 * 6 * 960 * 2, 16, 2);
        for (int i = 0; i < 4; i++) EXPECT_EQ(p->sampleData[i], 10);
    }
    { // A song longer than an hour (slowest tempo and speed, every row delayed 15 more
      // times, 128 positions): the measuring run stops at an hour.
        ModFixture f = SquareModule();
        f.orders.assign(128, 0);
        f.At(0, 0, 1) = {0, 0, 0xF, 0x1F};
        f.At(0, 0, 2) = {0, 0, 0xF, 0x20};
        for (int r = 0; r < 64; r++) f.At(0, r, 3) = {0, 0, 0xE, 0xEF};
        std::vector<uint8_t> b = MakeModule(f);
        int settled = -1;
        EXPECT_EQ(MeasureModuleFrames(b.data(), b.size(), &settled), (int64_t)3600 * 48000);
        EXPECT_EQ(settled, 0);
    }
    { // Truncated sample data is cut at the end of the file.
        ModFixture f = SquareModule();
        std::vector<uint8_t> b = MakeModule(f);
        b.resize(b.size() - 20);
        lvModulePlayer *raw = nullptr;
        ASSERT_EQ(NewModulePlayer(b.data(), b.size(), 48000, 0, &raw), 0);
        Player p(raw);
        EXPECT_EQ(p->samples[1].byteLength, 12);
        Mix(p.get(), 5000);
    }
}

} // namespace

#include "media/lvsound.h"
#include "media_fixtures.h"

namespace {

// Modules through the sound sources: timed ones measured and ending, untimed ones
// without length; files shorter than the header are not modules.
TEST(ModuleSource, TimedAndUntimed)
{
    MediaScratch dir;
    WriteFileBytes(dir.File("song.mod"), MakeModule(SquareModule()));
    std::string path = dir.File("song.mod");
    lvSoundSource *s = nullptr;
    ASSERT_EQ(OpenSoundSource(path.c_str(), nullptr, nullptr, nullptr, 0, 1, 1, &s, nullptr), 0);
    EXPECT_EQ(s->kind, LV_SRC_MODULE);
    EXPECT_EQ(s->totalFrames, 368640);
    EXPECT_EQ(s->rate, 48000);
    EXPECT_STREQ(GetSoundSourceTypeName(s), "Protracker");
    std::vector<int16_t> buffer(2 * 400000);
    int ended = 0;
    EXPECT_EQ(ReadSoundSource(s, buffer.data(), 400000, &ended), 368640);
    EXPECT_EQ(ended, 1);
    FreeSoundSource(s);
    ASSERT_EQ(OpenSoundSource(path.c_str(), nullptr, nullptr, nullptr, 0, 0, 1, &s, nullptr), 0);
    EXPECT_EQ(s->totalFrames, 0);
    EXPECT_EQ(s->canSeek, 0);
    FreeSoundSource(s);

    // A pattern loop that never settles (E62 restarts the count that E61 used up): the
    // timed source has no length, so SaveMusic saves ten minutes of it, and playing or
    // saving it ends at the hour that bounds the measuring run.
    ModFixture endless = SquareModule();
    endless.At(0, 0, 1) = {0, 0, 0xE, 0x60};
    endless.At(0, 1, 1) = {0, 0, 0xE, 0x61};
    endless.At(0, 2, 1) = {0, 0, 0xE, 0x62};
    WriteFileBytes(dir.File("endless.mod"), MakeModule(endless));
    ASSERT_EQ(OpenSoundSource(dir.File("endless.mod").c_str(), nullptr, nullptr, nullptr, 0, 1, 1, &s, nullptr), 0);
    EXPECT_EQ(s->totalFrames, 0);
    EXPECT_EQ(s->canSeek, 1);
    SeekSoundSource(s, LV_MOD_MAXFRAMES - 1000);
    ended = 0;
    EXPECT_EQ(ReadSoundSource(s, buffer.data(), 4800, &ended), 1000);
    EXPECT_EQ(ended, 1);
    EXPECT_EQ(ReadSoundSource(s, buffer.data(), 4800, &ended), 0);
    FreeSoundSource(s);

    Bytes cut = MakeModule(SquareModule());
    cut.resize(1083);
    WriteFileBytes(dir.File("cut.mod"), cut);
    EXPECT_NE(OpenSoundSource(dir.File("cut.mod").c_str(), nullptr, nullptr, nullptr, 0, 1, 1, &s, nullptr), 0);
}

} // namespace

// lvmodule.h - the built-in player of four-channel ProTracker ("M.K.") modules: the
// row and tick sequencer with the ProTracker effect set and the four-voice mixer that
// turns a module into 16-bit PCM.
//
// Dependencies: platform memory only; pure integer code except the optional filter.
// Threads: a player is used by one thread at a time. The song position and row (and
// the pending jump) are atomics so that another thread may read them, and request a
// jump, while the mixer runs.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>

#define LV_MOD_HEADER 1084      // bytes before the first pattern
#define LV_MOD_PATTERN 1024     // bytes of one pattern (64 rows x 4 channels x 4 bytes)
#define LV_MOD_RATE 48000       // the output rate of modules played as music
// The most of a timed module that is measured, played or saved: an hour at LV_MOD_RATE.
#define LV_MOD_MAXFRAMES ((int64_t)3600 * LV_MOD_RATE)

// Player flags.
#define LV_MODF_STOPATEND 1     // mixing ends at the song's end
#define LV_MODF_FILTERSWITCH 4  // effect E0 may switch the filter
#define LV_MODF_ENDED 8         // the song ended (wrapped, jumped back or F00)
#define LV_MODF_SEEKING 16      // silent seek run

struct lvModuleNote {
    uint16_t period;
    uint8_t instrument;
    uint8_t effect;
    uint8_t parameter;
    uint8_t x, y;
};

struct lvModuleSample {
    char name[23];
    const int8_t *data;   // in the player's own copy of the sample data; nullptr when empty
    int64_t length;       // 18.14 bytes
    int64_t loopStart;    // 18.14
    int64_t loopLength;   // 18.14
    int64_t loopEnd;      // 18.14
    int64_t byteLength;   // bytes actually present (a sample cut at the file's end is shorter)
    int finetune;         // 0..15
    int volume;           // 0..64 as stored
};

struct lvModuleChannel {
    int sample;           // 1..31, 0 none
    int pendingSample;    // taken at the next loop end, 0 none
    int period;           // the period played (after vibrato and arpeggio)
    int basePeriod;       // the period effects start from
    int targetPeriod;     // tone portamento
    int portaSpeed;
    int slideSpeed;       // effects 1 and 2
    int64_t position;     // 18.14 bytes; -1 silent
    int64_t step;         // 18.14 per internal sample
    int volume;           // 0..63
    int outVolume;        // volume with tremolo
    int panning;          // 0..255
    int vibratoSpeed, vibratoDepth, vibratoPos, vibratoWave;
    int tremoloSpeed, tremoloDepth, tremoloPos, tremoloWave;
    int arpeggio;         // the parameter of effect 0
    int effect, parameter, x, y; // the row's effect
    int volumeSlide;      // effects 5, 6 and A: positive up, negative down
    int retrigCounter;    // note delay and retrigger
    int retrigInterval;
    int cutCounter;       // note cut; -1 idle
    int loopRow, loopCount; // E6x
    int lastOffset;       // effect 9
    int funkSetting;      // glissando and invert loop share it
    int funkCounter;
    int64_t funkOffset;   // walking offset in bytes within the loop
    int finetune;
};

struct lvModulePlayer {
    char songName[21];
    int numPatterns;
    int songLength;                 // 1..128
    lvModuleSample samples[32];     // 1..31 used
    uint8_t orders[128];
    lvModuleNote *notes;            // numPatterns x 64 x 4, after the fixed part
    lvModuleChannel channels[4];
    uint32_t flags;                 // LV_MODF_
    int songEnds;                   // song ends counted with LV_MODF_STOPATEND
    int rate;                       // output rate
    int internalRate;               // 2 x rate
    int masterVolume;               // 256 unity
    int tickLength;                 // internal samples per tick
    int tempo, speed;
    std::atomic<int> songPosition;  // position of the row being played
    std::atomic<int> patternRow;    // row being played
    int nextPosition, nextRow;      // where the next row step reads
    int tickCounter;
    int patternDelay;
    int breakFlag, breakPosition, breakRow;
    int filterOn;
    int stopped;                    // stop-at-end reached
    int64_t samplesInTick;
    double filterA, filterB;
    double filterIn[2][2], filterOut[2][2]; // [stage][side]
    const uint8_t *module;          // the file (owned)
    size_t moduleSize;
    int8_t *sampleData;             // the working copy that effect EFx edits (owned)
    size_t sampleDataSize;
    std::atomic<int> jumpPending;   // a jump requested from another thread
    std::atomic<int> jumpPosition;
    std::atomic<int> jumpRow;
};

// The number of patterns the order list names; 0 when data is no module.
int CountModulePatterns(const uint8_t *data, size_t size);
// Validates the module (size at least the header and the patterns it names, "M.K.") and
// makes a player for the output rate that owns a copy of the data. 0 or ERR_MEM /
// ERR_WRONGUSAGE (not a usable module).
int NewModulePlayer(const uint8_t *data, size_t size, int rate, uint32_t flags, lvModulePlayer **out);
void FreeModulePlayer(lvModulePlayer *player);
// Back to the song's start at rate (flags kept but the song-ended mark).
void ResetModulePlayer(lvModulePlayer *player, int rate);
// To a frame at 48000 Hz, through a silent run at 4800 Hz.
void SeekModule(lvModulePlayer *player, int64_t frame);
// Mixes frames frames; left and right may be nullptr (no output). bits 8 or 16, channels
// 1 or 2 (mono: both sides summed into left). Returns the frames produced: fewer only
// when the player stops at the song's end.
int64_t MixModule(lvModulePlayer *player, void *left, void *right, int stride, int64_t frames, int bits,
                  int channels);
// The period of a note moved by semitones at a finetune (0..15).
int LookupPeriod(int period, int finetune, int semitones);
// Requests a jump to a song position (row 0) that the mixer takes at the next row.
// ERR_WRONGUSAGE outside the song.
int ModulePositionControl(lvModulePlayer *player, int position);
// Frames of the song at 48000 Hz measured by a silent run at 4800 Hz (at most an hour,
// LV_MOD_MAXFRAMES; *settled, when given, is 0 when the song had not ended by then).
int64_t MeasureModuleFrames(const uint8_t *data, size_t size, int *settled = nullptr);

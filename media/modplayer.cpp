// modplayer.cpp - the ProTracker module player: validation and unpacking, the row and
// tick sequencer with the effect set, and the mixer (two internal samples per output
// frame, no interpolation, optional two-stage low-pass filter switched by E0).
//
// Positions are 18.14 fixed point in 64 bits, so loops past 128 KiB do not overflow.
// The order list is 128 entries: the song length is capped at 128 and every jump at or
// past it wraps to the song's start. Effect EFx edits the player's own copy of the
// sample data, never the file, and only inside the sample's loop.
#include "media/lvmodule.h"
#include "base/lverrors.h"
#include "platform/lvplatform.h"
#include <cmath>
#include <cstring>
#include <new>

namespace {

const int16_t kPeriods[16][36] = {
    {856, 808, 762, 720, 678, 640, 604, 570, 538, 508, 480, 453, 428, 404, 381, 360, 339, 320,
     302, 285, 269, 254, 240, 226, 214, 202, 190, 180, 170, 160, 151, 143, 135, 127, 120, 113},
    {850, 802, 757, 715, 674, 637, 601, 567, 535, 505, 477, 450, 425, 401, 379, 357, 337, 318,
     300, 284, 268, 253, 239, 225, 213, 201, 189, 179, 169, 159, 150, 142, 134, 126, 119, 113},
    {844, 796, 752, 709, 670, 632, 597, 563, 532, 502, 474, 447, 422, 398, 376, 355, 335, 316,
     298, 282, 266, 251, 237, 224, 211, 199, 188, 177, 167, 158, 149, 141, 133, 125, 118, 112},
    {838, 791, 746, 704, 665, 628, 592, 559, 528, 498, 470, 444, 419, 395, 373, 352, 332, 314,
     296, 280, 264, 249, 235, 222, 209, 198, 187, 176, 166, 157, 148, 140, 132, 125, 118, 111},
    {832, 785, 741, 699, 660, 623, 588, 555, 524, 495, 467, 441, 416, 392, 370, 350, 330, 312,
     294, 278, 262, 247, 233, 220, 208, 196, 185, 175, 165, 156, 147, 139, 131, 124, 117, 110},
    {826, 779, 736, 694, 655, 619, 584, 551, 520, 491, 463, 437, 413, 390, 368, 347, 328, 309,
     292, 276, 260, 245, 232, 219, 206, 195, 184, 174, 164, 155, 146, 138, 130, 123, 116, 109},
    {820, 774, 730, 689, 651, 614, 580, 547, 516, 487, 460, 434, 410, 387, 365, 345, 325, 307,
     290, 274, 258, 244, 230, 217, 205, 193, 183, 172, 163, 154, 145, 137, 129, 122, 115, 109},
    {814, 768, 725, 684, 646, 610, 575, 543, 513, 484, 457, 431, 407, 384, 363, 342, 323, 305,
     288, 272, 256, 242, 228, 216, 204, 192, 181, 171, 161, 152, 144, 136, 128, 121, 114, 108},
    {907, 856, 808, 762, 720, 678, 640, 604, 570, 538, 508, 480, 453, 428, 404, 381, 360, 340,
     320, 302, 285, 269, 254, 240, 226, 214, 202, 190, 180, 170, 160, 151, 143, 135, 127, 120},
    {900, 850, 802, 757, 715, 675, 636, 601, 567, 535, 505, 477, 450, 425, 401, 379, 357, 337,
     318, 300, 284, 268, 253, 238, 225, 212, 200, 189, 179, 169, 159, 150, 142, 134, 126, 119},
    {894, 844, 796, 752, 709, 670, 632, 597, 563, 532, 502, 474, 447, 422, 398, 376, 355, 335,
     316, 298, 282, 266, 251, 237, 223, 211, 199, 188, 177, 167, 158, 149, 141, 133, 125, 118},
    {887, 838, 791, 746, 704, 665, 628, 592, 559, 528, 498, 470, 444, 419, 395, 373, 352, 332,
     314, 296, 280, 264, 249, 235, 222, 209, 198, 187, 176, 166, 157, 148, 140, 132, 125, 118},
    {881, 832, 785, 741, 699, 660, 623, 588, 555, 524, 494, 467, 441, 416, 392, 370, 350, 330,
     312, 294, 278, 262, 247, 233, 220, 208, 196, 185, 175, 165, 156, 147, 139, 131, 123, 117},
    {875, 826, 779, 736, 694, 655, 619, 584, 551, 520, 491, 463, 437, 413, 390, 368, 347, 328,
     309, 292, 276, 260, 245, 232, 219, 206, 195, 184, 174, 164, 155, 146, 138, 130, 123, 116},
    {868, 820, 774, 730, 689, 651, 614, 580, 547, 516, 487, 460, 434, 410, 387, 365, 345, 325,
     307, 290, 274, 258, 244, 230, 217, 205, 193, 183, 172, 163, 154, 145, 137, 129, 122, 115},
    {862, 814, 768, 725, 684, 646, 610, 575, 543, 513, 484, 457, 431, 407, 384, 363, 342, 323,
     305, 288, 272, 256, 242, 228, 216, 203, 192, 181, 171, 161, 152, 144, 136, 128, 121, 114},
};

const uint8_t kSine[32] = {0,   24,  49,  74,  97,  120, 141, 161, 180, 197, 212, 224, 235, 244, 250, 253,
                           255, 253, 250, 244, 235, 224, 212, 197, 180, 161, 141, 120, 97,  74,  49,  24};
const uint8_t kFunkTable[16] = {0, 5, 6, 7, 8, 10, 11, 13, 16, 19, 22, 26, 32, 43, 64, 128};

inline int Word(const uint8_t *p) { return p[0] << 8 | p[1]; }

int Wave(int waveform, int position)
{
    position &= 63;
    switch (waveform & 3) {
    case 0: return position < 32 ? kSine[position] : -kSine[position & 31];
    case 2: return position < 32 ? 255 : -255;
    default: return position < 32 ? position * 8 : position * 8 - 512;
    }
}

int64_t StepFor(int period, int internalRate)
{
    if (period <= 0) return 0;
    int64_t divisor = (int64_t)period * internalRate / 50;
    return divisor > 0 ? 1172874197LL / divisor : 0;
}

int ClampPeriod(int period) { return period < 113 ? 113 : period > 856 ? 856 : period; }
int ClampVolume63(int volume) { return volume < 0 ? 0 : volume > 63 ? 63 : volume; }

void SetFilter(lvModulePlayer *p, int rate)
{
    double k = std::atan(12566.370614359172 / rate);
    p->filterA = (1 - k) / (1 + k);
    p->filterB = (1 - p->filterA) / 2;
}

// Copies the sample data after the patterns into the player's working copy and points
// the sample records at it; a sample running past the file's end is cut there.
void SetupModuleSamples(lvModulePlayer *p)
{
    size_t offset = LV_MOD_HEADER + (size_t)p->numPatterns * LV_MOD_PATTERN;
    if (p->sampleDataSize) memcpy(p->sampleData, p->module + offset, p->sampleDataSize);
    size_t used = 0;
    for (int i = 1; i <= 31; i++) {
        lvModuleSample &s = p->samples[i];
        const uint8_t *h = p->module + 20 + (i - 1) * 30;
        int64_t length = (int64_t)Word(h + 22) * 2;
        int64_t loopStart = (int64_t)Word(h + 26) * 2, loopLength = (int64_t)Word(h + 28) * 2;
        int64_t present = used < p->sampleDataSize ? (int64_t)(p->sampleDataSize - used) : 0;
        if (length > present) length = present;
        s.data = length > 0 ? p->sampleData + used : nullptr;
        s.byteLength = length;
        used += (size_t)length;
        s.length = length << 14;
        s.loopStart = loopStart << 14;
        s.loopLength = loopLength << 14;
        s.loopEnd = s.loopStart + s.loopLength;
    }
}

void ResetState(lvModulePlayer *p, int rate)
{
    memset((void *)p->channels, 0, sizeof p->channels);
    for (int c = 0; c < 4; c++) {
        lvModuleChannel &ch = p->channels[c];
        ch.position = -1;
        ch.cutCounter = -1;
        ch.panning = (c == 1 || c == 2) ? 255 : 0;
    }
    p->rate = rate;
    p->internalRate = 2 * rate;
    p->masterVolume = 256;
    p->flags &= ~(uint32_t)(LV_MODF_ENDED | LV_MODF_SEEKING);
    p->songEnds = 0;
    SetFilter(p, rate);
    p->speed = 6;
    p->tempo = 125;
    p->tickLength = p->internalRate / 50;
    p->songPosition = 0;
    p->patternRow = 0;
    p->nextPosition = 0;
    p->nextRow = 0;
    p->tickCounter = 0;
    p->patternDelay = 0;
    p->breakFlag = 0;
    p->filterOn = 0;
    p->stopped = 0;
    // The first tick runs before the first sample, so the first row sounds at once.
    p->samplesInTick = p->tickLength;
    memset(p->filterIn, 0, sizeof p->filterIn);
    memset(p->filterOut, 0, sizeof p->filterOut);
    p->jumpPending = 0;
    SetupModuleSamples(p);
}

void MarkSongEnd(lvModulePlayer *p)
{
    p->flags |= LV_MODF_ENDED;
    if (p->flags & LV_MODF_STOPATEND) p->songEnds++;
}

void StartNote(lvModulePlayer *p, lvModuleChannel &ch, int note)
{
    ch.basePeriod = ch.period = LookupPeriod(note, ch.finetune, 0);
    ch.position = 0;
    ch.step = StepFor(ch.period, p->internalRate);
}

// Glissando: the period rounded to the nearest note of the channel's finetune.
int GlissandoPeriod(int period, int finetune)
{
    const int16_t *row = kPeriods[finetune & 15];
    for (int i = 0; i < 36; i++)
        if (row[i] <= period) return row[i];
    return row[35];
}

void InvertLoop(lvModulePlayer *p, lvModuleChannel &ch)
{
    if (!ch.funkSetting || !ch.sample) return;
    ch.funkCounter += kFunkTable[(ch.funkSetting >> 4) & 15];
    if (ch.funkCounter & 7) return;
    ch.funkCounter = 0;
    lvModuleSample &s = p->samples[ch.sample];
    int64_t loopStart = s.loopStart >> 14, loopLength = s.loopLength >> 14;
    if (loopStart == 0 || loopLength <= 0 || !s.data) return;
    ch.funkOffset = (ch.funkOffset + 1) % loopLength;
    int64_t at = loopStart + ch.funkOffset;
    // Only bytes of this sample: a loop reaching past the data touches nothing.
    if (at < s.byteLength) ((int8_t *)s.data)[at] = (int8_t)~s.data[at];
}

void RowStep(lvModulePlayer *p)
{
    if (p->patternDelay > 0) {
        p->patternDelay--;
        p->tickCounter = p->speed;
        return;
    }
    int position = p->nextPosition, row = p->nextRow;
    p->songPosition.store(position, std::memory_order_relaxed);
    p->patternRow.store(row, std::memory_order_relaxed);
    p->breakFlag = 0;
    int pattern = p->orders[position];
    const lvModuleNote *notes = p->notes + ((size_t)pattern * 64 + row) * 4;
    int delayRequest = -1;
    for (int c = 0; c < 4; c++) {
        lvModuleChannel &ch = p->channels[c];
        const lvModuleNote &n = notes[c];
        ch.effect = n.effect;
        ch.parameter = n.parameter;
        ch.x = n.x;
        ch.y = n.y;
        ch.arpeggio = 0;
        ch.volumeSlide = 0;
        ch.retrigCounter = 0;
        ch.retrigInterval = 0;
        ch.cutCounter = -1;
        ch.period = ch.basePeriod;
        bool porta = n.effect == 3 || n.effect == 5;
        bool delayed = n.effect == 0xE && n.x == 0xD && n.y > 0;
        if (n.instrument >= 1 && n.instrument <= 31) {
            const lvModuleSample &s = p->samples[n.instrument];
            ch.volume = s.volume > 63 ? 63 : s.volume;
            if (n.period && !porta) {
                ch.sample = n.instrument;
                ch.pendingSample = 0;
                ch.finetune = s.finetune;
            } else if (n.instrument != ch.sample) {
                ch.pendingSample = n.instrument;
            }
        } else if (n.period && !porta && ch.pendingSample) {
            // A note without an instrument plays the last instrument named, also one
            // named on a row without a note that is still waiting for a loop's end.
            ch.sample = ch.pendingSample;
            ch.pendingSample = 0;
            ch.finetune = p->samples[ch.sample].finetune;
        }
        if (n.period) {
            ch.vibratoPos = 0;
            ch.tremoloPos = 0;
            if (n.effect == 0xE && n.x == 5) ch.finetune = n.y;
            if (!porta && ch.sample) {
                StartNote(p, ch, n.period);
                if (n.effect == 9) {
                    if (n.parameter) ch.lastOffset = n.parameter;
                    ch.position = ((int64_t)ch.lastOffset * 256) << 14;
                }
                if (delayed) ch.position = -1;
            }
        }
        switch (n.effect) {
        case 0: ch.arpeggio = n.parameter; break;
        case 1:
        case 2: ch.slideSpeed = n.parameter; break;
        case 3:
            if (n.period) ch.targetPeriod = LookupPeriod(n.period, ch.finetune, 0);
            if (n.parameter) ch.portaSpeed = n.parameter;
            break;
        case 4:
            if (n.x) ch.vibratoSpeed = n.x;
            if (n.y) ch.vibratoDepth = n.y;
            break;
        case 5:
            if (n.period) ch.targetPeriod = LookupPeriod(n.period, ch.finetune, 0);
            ch.volumeSlide = n.x ? n.x : -n.y;
            break;
        case 6:
        case 0xA: ch.volumeSlide = n.x ? n.x : -n.y; break;
        case 7:
            if (n.x) ch.tremoloSpeed = n.x;
            if (n.y) ch.tremoloDepth = n.y * 2;
            break;
        case 0xB: {
            int target = n.parameter;
            // The same or an earlier position ends the song; one past the order list wraps.
            if (target >= p->songLength) target = 0;
            if (target <= position) MarkSongEnd(p);
            p->breakFlag = 1;
            p->breakPosition = target;
            p->breakRow = 0;
            break;
        }
        case 0xC: ch.volume = n.parameter > 63 ? 63 : n.parameter; break;
        case 0xD: {
            int target = n.x * 10 + n.y;
            if (target >= 64) target = 0;
            if (!p->breakFlag) p->breakPosition = position + 1;
            p->breakFlag = 1;
            p->breakRow = target;
            break;
        }
        case 0xE:
            switch (n.x) {
            case 0:
                if (p->flags & LV_MODF_FILTERSWITCH) p->filterOn = (n.y & 1) == 0;
                break;
            case 1: ch.basePeriod = ClampPeriod(ch.basePeriod - n.y); break;
            case 2: ch.basePeriod = ClampPeriod(ch.basePeriod + n.y); break;
            case 3: ch.funkSetting = (ch.funkSetting & 0xF0) | n.y; break;
            case 4: ch.vibratoWave = n.y; break;
            case 6:
                if (n.y == 0) {
                    ch.loopRow = row;
                } else {
                    if (ch.loopCount == 0) ch.loopCount = n.y;
                    else ch.loopCount--;
                    if (ch.loopCount) {
                        p->breakFlag = 1;
                        p->breakPosition = position;
                        p->breakRow = ch.loopRow;
                    }
                }
                break;
            case 7: ch.tremoloWave = n.y; break;
            case 9:
                ch.retrigInterval = n.y;
                ch.retrigCounter = n.y;
                break;
            case 0xA: ch.volume = ClampVolume63(ch.volume + n.y); break;
            case 0xB: ch.volume = ClampVolume63(ch.volume - n.y); break;
            case 0xC:
                if (n.y == 0) ch.volume = 0;
                else ch.cutCounter = n.y;
                break;
            case 0xD:
                if (delayed && n.period) ch.retrigCounter = n.y;
                break;
            case 0xE:
                if (delayRequest < 0) delayRequest = n.y;
                break;
            case 0xF: ch.funkSetting = (ch.funkSetting & 0x0F) | n.y << 4; break;
            default: break;
            }
            break;
        case 0xF:
            if (n.parameter == 0) {
                MarkSongEnd(p);
                p->breakFlag = 1;
                p->breakPosition = 0;
                p->breakRow = 0;
            } else if (n.parameter < 32) {
                p->speed = n.parameter;
            } else {
                p->tempo = n.parameter;
                p->tickLength = p->internalRate * 60 / (n.parameter * 24);
            }
            break;
        default: break;
        }
        if (ch.basePeriod) ch.period = ch.basePeriod;
        if (ch.period && ch.position >= 0) ch.step = StepFor(ch.period, p->internalRate);
        ch.outVolume = ch.volume;
        InvertLoop(p, ch);
    }
    if (delayRequest > 0) p->patternDelay = delayRequest;
    if (p->breakFlag) {
        p->nextPosition = p->breakPosition;
        p->nextRow = p->breakRow;
    } else if (row >= 63) {
        p->nextPosition = position + 1;
        p->nextRow = 0;
    } else {
        p->nextRow = row + 1;
    }
    if (p->nextPosition >= p->songLength) {
        p->nextPosition = 0;
        MarkSongEnd(p);
    }
    p->tickCounter = p->speed;
}

void TickEffects(lvModulePlayer *p)
{
    for (int c = 0; c < 4; c++) {
        lvModuleChannel &ch = p->channels[c];
        int period = ch.basePeriod;
        int glissando = ch.funkSetting & 0x0F;
        switch (ch.effect) {
        case 0:
            if (ch.arpeggio && period) {
                int phase = p->tickCounter % 3;
                int semis = phase == 0 ? 0 : phase == 1 ? ch.arpeggio >> 4 : ch.arpeggio & 15;
                period = LookupPeriod(ch.basePeriod, ch.finetune, semis);
            }
            break;
        case 1: period = ch.basePeriod = ClampPeriod(ch.basePeriod - ch.slideSpeed); break;
        case 2: period = ch.basePeriod = ClampPeriod(ch.basePeriod + ch.slideSpeed); break;
        case 3:
        case 5:
            if (ch.targetPeriod && ch.basePeriod) {
                if (ch.basePeriod < ch.targetPeriod) {
                    ch.basePeriod += ch.portaSpeed;
                    if (ch.basePeriod > ch.targetPeriod) ch.basePeriod = ch.targetPeriod;
                } else if (ch.basePeriod > ch.targetPeriod) {
                    ch.basePeriod -= ch.portaSpeed;
                    if (ch.basePeriod < ch.targetPeriod) ch.basePeriod = ch.targetPeriod;
                }
                period = glissando ? GlissandoPeriod(ch.basePeriod, ch.finetune) : ch.basePeriod;
            }
            break;
        case 4:
        case 6:
            if (ch.basePeriod) {
                period = ch.basePeriod + (Wave(ch.vibratoWave, ch.vibratoPos) * ch.vibratoDepth >> 7);
                ch.vibratoPos = (ch.vibratoPos + ch.vibratoSpeed) & 63;
            }
            break;
        case 7:
            ch.outVolume = ClampVolume63(ch.volume + (Wave(ch.tremoloWave, ch.tremoloPos) * ch.tremoloDepth >> 8));
            ch.tremoloPos = (ch.tremoloPos + ch.tremoloSpeed) & 63;
            break;
        default: break;
        }
        if (ch.volumeSlide) ch.volume = ClampVolume63(ch.volume + ch.volumeSlide);
        if (ch.effect != 7) ch.outVolume = ch.volume;
        if (ch.cutCounter > 0 && --ch.cutCounter == 0) {
            ch.volume = ch.outVolume = 0;
            ch.cutCounter = -1;
        }
        if (ch.retrigCounter > 0 && --ch.retrigCounter == 0) {
            if (ch.sample) ch.position = 0;
            ch.retrigCounter = ch.retrigInterval;
        }
        if (period) {
            ch.period = ClampPeriod(period);
            ch.step = StepFor(ch.period, p->internalRate);
        }
    }
}

// One tick; false when the player stops at the song's end.
bool Tick(lvModulePlayer *p)
{
    if (p->tickCounter == 0) {
        if (int jump = p->jumpPending.exchange(0)) {
            (void)jump;
            p->nextPosition = p->jumpPosition.load();
            p->nextRow = p->jumpRow.load();
            p->patternDelay = 0;
        }
        if ((p->flags & LV_MODF_ENDED) && (p->flags & LV_MODF_STOPATEND)) {
            p->stopped = 1;
            return false;
        }
        RowStep(p);
    } else {
        TickEffects(p);
    }
    p->tickCounter--;
    return true;
}

// One internal sample of both sides; false when the player stopped.
inline bool InternalSample(lvModulePlayer *p, int32_t *left, int32_t *right)
{
    if (p->samplesInTick >= p->tickLength) {
        p->samplesInTick -= p->tickLength;
        if (!Tick(p)) return false;
    }
    p->samplesInTick++;
    int32_t l = 0, r = 0;
    for (int c = 0; c < 4; c++) {
        lvModuleChannel &ch = p->channels[c];
        if (ch.position < 0 || !ch.sample) continue;
        const lvModuleSample *s = &p->samples[ch.sample];
        if (s->loopLength > (2 << 14)) {
            if (ch.position >= s->loopEnd) {
                ch.position -= s->loopLength;
                if (ch.pendingSample) {
                    ch.sample = ch.pendingSample;
                    ch.pendingSample = 0;
                    s = &p->samples[ch.sample];
                    ch.finetune = s->finetune;
                }
            }
            if (ch.position < 0 || ch.position >= s->length || ch.position >= s->loopEnd) {
                ch.position = -1;
                continue;
            }
        } else if (ch.position >= s->length) {
            ch.position = -1;
            continue;
        }
        int32_t value = (int32_t)s->data[ch.position >> 14] * ch.outVolume;
        l += value * ch.panning;
        r += value * (255 - ch.panning);
        ch.position += ch.step;
    }
    l >>= 7;
    r >>= 7;
    if (p->filterOn) {
        int32_t *sides[2] = {&l, &r};
        for (int side = 0; side < 2; side++) {
            double x = *sides[side];
            for (int stage = 0; stage < 2; stage++) {
                double y = p->filterB * (x + p->filterIn[stage][side]) + p->filterA * p->filterOut[stage][side];
                p->filterIn[stage][side] = x;
                p->filterOut[stage][side] = y;
                x = y;
            }
            *sides[side] = (int32_t)x;
        }
    }
    *left = l > 32767 ? 32767 : l < -32768 ? -32768 : l;
    *right = r > 32767 ? 32767 : r < -32768 ? -32768 : r;
    return true;
}

bool ParseModule(lvModulePlayer *p, const uint8_t *data, size_t size)
{
    int patterns = CountModulePatterns(data, size);
    if (!patterns) return false;
    memcpy(p->songName, data, 20);
    p->songName[20] = 0;
    p->numPatterns = patterns;
    int length = data[950];
    // The order list has 128 entries: longer songs would read past it.
    if (length > 128) length = 128;
    if (length < 1) length = 1;
    p->songLength = length;
    memcpy(p->orders, data + 952, 128);
    for (int i = 1; i <= 31; i++) {
        const uint8_t *h = data + 20 + (i - 1) * 30;
        memcpy(p->samples[i].name, h, 22);
        p->samples[i].name[22] = 0;
        p->samples[i].finetune = h[24] & 15;
        p->samples[i].volume = h[25] > 64 ? 64 : h[25];
    }
    for (int pat = 0; pat < patterns; pat++) {
        for (int i = 0; i < 256; i++) {
            const uint8_t *b = data + LV_MOD_HEADER + (size_t)pat * LV_MOD_PATTERN + i * 4;
            lvModuleNote &n = p->notes[(size_t)pat * 256 + i];
            n.period = (uint16_t)((b[0] & 0x0F) << 8 | b[1]);
            n.instrument = (uint8_t)((b[0] & 0xF0) | (b[2] >> 4));
            n.effect = b[2] & 0x0F;
            n.parameter = b[3];
            n.x = b[3] >> 4;
            n.y = b[3] & 0x0F;
        }
    }
    return true;
}

} // namespace

int LookupPeriod(int period, int finetune, int semitones)
{
    int index = 36;
    for (int i = 0; i < 36; i++) {
        if (kPeriods[0][i] == period) {
            index = i;
            break;
        }
    }
    if (index == 36) return period;
    index += semitones;
    if (index > 35) index = 35;
    if (index < 0) index = 0;
    return kPeriods[finetune & 15][index];
}

int CountModulePatterns(const uint8_t *data, size_t size)
{
    if (!data || size < LV_MOD_HEADER || memcmp(data + 1080, "M.K.", 4) != 0) return 0;
    int highest = 0;
    for (int i = 0; i < 128; i++)
        if (data[952 + i] > highest) highest = data[952 + i];
    int patterns = highest + 1;
    if (size < LV_MOD_HEADER + (size_t)patterns * LV_MOD_PATTERN) return 0;
    return patterns;
}

int NewModulePlayer(const uint8_t *data, size_t size, int rate, uint32_t flags, lvModulePlayer **out)
{
    int patterns = CountModulePatterns(data, size);
    if (!patterns || rate <= 0) return ERR_WRONGUSAGE;
    size_t notesBytes = (size_t)patterns * 256 * sizeof(lvModuleNote);
    size_t sampleBytes = size - LV_MOD_HEADER - (size_t)patterns * LV_MOD_PATTERN;
    void *block = AllocMemory(sizeof(lvModulePlayer) + notesBytes, 1);
    uint8_t *module = (uint8_t *)AllocMemory(size, 0);
    int8_t *samples = (int8_t *)AllocMemory(sampleBytes ? sampleBytes : 1, 0);
    if (!block || !module || !samples) {
        FreeMemory(block);
        FreeMemory(module);
        FreeMemory(samples);
        return ERR_MEM;
    }
    lvModulePlayer *p = new (block) lvModulePlayer();
    p->notes = (lvModuleNote *)((uint8_t *)block + sizeof(lvModulePlayer));
    memcpy(module, data, size);
    p->module = module;
    p->moduleSize = size;
    p->sampleData = samples;
    p->sampleDataSize = sampleBytes;
    ParseModule(p, module, size);
    p->flags = (flags & LV_MODF_STOPATEND) | LV_MODF_FILTERSWITCH;
    ResetState(p, rate);
    *out = p;
    return 0;
}

void FreeModulePlayer(lvModulePlayer *player)
{
    if (!player) return;
    FreeMemory((void *)player->module);
    FreeMemory(player->sampleData);
    player->~lvModulePlayer();
    FreeMemory(player);
}

void ResetModulePlayer(lvModulePlayer *player, int rate) { ResetState(player, rate); }

int64_t MixModule(lvModulePlayer *p, void *left, void *right, int stride, int64_t frames, int bits, int channels)
{
    uint8_t *l = (uint8_t *)left, *r = (uint8_t *)right;
    int64_t done = 0;
    for (; done < frames; done++) {
        if (p->stopped) break;
        int32_t l0, r0, l1, r1;
        if (!InternalSample(p, &l0, &r0)) break;
        if (!InternalSample(p, &l1, &r1)) {
            l1 = r1 = 0;
        }
        int32_t sl = l0 + l1, sr = r0 + r1;
        if (channels == 1) sl += sr;
        if (bits == 16) {
            int32_t vl = (sl * p->masterVolume) >> 9, vr = (sr * p->masterVolume) >> 9;
            if (channels == 1) vl >>= 1;
            vl = vl > 32767 ? 32767 : vl < -32768 ? -32768 : vl;
            vr = vr > 32767 ? 32767 : vr < -32768 ? -32768 : vr;
            if (l) {
                int16_t v = (int16_t)vl;
                memcpy(l, &v, 2);
                l += stride;
            }
            if (r && channels == 2) {
                int16_t v = (int16_t)vr;
                memcpy(r, &v, 2);
                r += stride;
            }
        } else {
            int32_t vl = (sl * p->masterVolume) >> 17, vr = (sr * p->masterVolume) >> 17;
            if (channels == 1) vl >>= 1;
            vl = vl > 127 ? 127 : vl < -128 ? -128 : vl;
            vr = vr > 127 ? 127 : vr < -128 ? -128 : vr;
            if (l) {
                *l = (uint8_t)(int8_t)vl;
                l += stride;
            }
            if (r && channels == 2) {
                *r = (uint8_t)(int8_t)vr;
                r += stride;
            }
        }
        if (p->stopped) {
            done++;
            break;
        }
    }
    return done;
}

void SeekModule(lvModulePlayer *p, int64_t frame)
{
    if (frame <= 0) {
        ResetState(p, LV_MOD_RATE);
        return;
    }
    uint32_t stopFlag = p->flags & LV_MODF_STOPATEND;
    ResetState(p, LV_MOD_RATE / 10);
    p->flags |= LV_MODF_SEEKING;
    MixModule(p, nullptr, nullptr, 0, frame / 10, 16, 2);
    p->flags &= ~(uint32_t)LV_MODF_SEEKING;
    p->flags |= stopFlag;
    p->samplesInTick *= 10;
    p->rate = LV_MOD_RATE;
    p->internalRate = 2 * LV_MOD_RATE;
    p->tickLength = p->internalRate * 60 / (p->tempo * 24);
    SetFilter(p, LV_MOD_RATE);
    for (int c = 0; c < 4; c++) {
        lvModuleChannel &ch = p->channels[c];
        ch.step = StepFor(ch.period, p->internalRate);
    }
}

int ModulePositionControl(lvModulePlayer *player, int position)
{
    if (position < 0 || position >= player->songLength) return ERR_WRONGUSAGE;
    player->jumpPosition.store(position);
    player->jumpRow.store(0);
    player->jumpPending.store(1);
    return 0;
}

int64_t MeasureModuleFrames(const uint8_t *data, size_t size, int *settled)
{
    if (settled) *settled = 1;
    lvModulePlayer *p = nullptr;
    if (NewModulePlayer(data, size, LV_MOD_RATE / 10, LV_MODF_STOPATEND, &p)) return 0;
    // A pattern loop that never settles would run for ever: an hour of song is the most.
    const int64_t limit = LV_MOD_MAXFRAMES / 10;
    int64_t total = 0;
    bool ended = false;
    while (total < limit && !ended) {
        int64_t want = limit - total < 4800 ? limit - total : 4800;
        int64_t got = MixModule(p, nullptr, nullptr, 0, want, 16, 2);
        total += got;
        ended = got < want;
    }
    // A song that ends on the hour's last frame has settled all the same.
    if (!ended) ended = MixModule(p, nullptr, nullptr, 0, 1, 16, 2) == 0;
    if (settled) *settled = ended ? 1 : 0;
    FreeModulePlayer(p);
    return total * 10;
}

// mixer.cpp - the software mixer behind the built-in output: every playing sample is a
// voice that reads its sample's PCM at its own rate (linear interpolation in 32.32),
// scaled by gains derived from the volume and panning levels; voices are summed in
// 32 bits and clamped to 16-bit stereo at 48000 Hz. At pitch 48000, volume 64 and
// panning 128 the step is exactly one frame and both gains exactly 1, so a sample comes
// out bit for bit.
//
// Passes: a voice counts the passes it mixed; a completed pass leaves a loop mark, the
// last one (cut at the last-pass frames) an end mark and stops the voice. The script
// side turns marks into events (channels.cpp).
#include "media/lvaudio.h"
#include <cmath>

// ============================================================================
// Level mappings
// ============================================================================

int VolumeToMillibels(int volume)
{
    int percent = (int)(volume / 64.0 * 100);
    if (percent <= 0) return -10000;
    return (int)(std::log(percent * 0.01) * 1000);
}

int PanToDirectSound(int panning)
{
    if (panning <= 0) return -10000;
    if (panning >= 255) return 10000;
    if (panning == 127 || panning == 128) return 0;
    if (panning < 127) return (int)(2000 * std::log10(panning / 127.0));
    return (int)(-2000 * std::log10((255 - panning) / 128.0));
}

int32_t MillibelsToGain(int millibels)
{
    if (millibels <= -10000) return 0;
    if (millibels >= 0) return 65536;
    return (int32_t)std::lround(65536.0 * std::pow(10.0, millibels / 2000.0));
}

void ComputeVoiceGains(int volume, int panning, int32_t *left, int32_t *right)
{
    int level = VolumeToMillibels(volume);
    int pan = PanToDirectSound(panning);
    // A positive pan attenuates the left side, a negative one the right.
    *left = MillibelsToGain(level - (pan > 0 ? pan : 0));
    *right = MillibelsToGain(level + (pan < 0 ? pan : 0));
}

// ============================================================================
// Mixing
// ============================================================================

// Left and right of one frame, widened to 16 bits.
static inline void FrameValues(const lvVoice &v, int64_t frame, int32_t *left, int32_t *right)
{
    const uint8_t *d = v.data;
    switch (v.format) {
    case LV_SMP_U8_MONO: *left = *right = ((int32_t)d[frame] - 128) * 256; break;
    case LV_SMP_U8_STEREO:
        *left = ((int32_t)d[2 * frame] - 128) * 256;
        *right = ((int32_t)d[2 * frame + 1] - 128) * 256;
        break;
    case LV_SMP_S16_MONO: *left = *right = (int16_t)(d[2 * frame] | d[2 * frame + 1] << 8); break;
    default:
        *left = (int16_t)(d[4 * frame] | d[4 * frame + 1] << 8);
        *right = (int16_t)(d[4 * frame + 2] | d[4 * frame + 3] << 8);
        break;
    }
}

// The frames the current pass plays.
static inline int64_t PassLimit(const lvVoice &v)
{
    return (v.passes > 0 && v.pass >= v.passes) ? v.lastPassFrames : v.frames;
}

// Moves the voice past completed passes; false when it ended.
static inline bool SettlePass(lvVoice &v)
{
    for (;;) {
        int64_t limit = PassLimit(v);
        if ((int64_t)(v.position >> 32) < limit) return true;
        if ((v.passes > 0 && v.pass >= v.passes) || v.frames <= 0) {
            v.active = 0;
            v.endMark = 1;
            return false;
        }
        v.position -= (uint64_t)v.frames << 32;
        v.pass++;
        v.loopMarks++;
    }
}

static inline int16_t Clamp16(int32_t value)
{
    return (int16_t)(value > 32767 ? 32767 : value < -32768 ? -32768 : value);
}

void MixVoices(lvChannel *channels, int count, int16_t *out, int frames)
{
    // Accumulate in blocks so that the sum stays in 32 bits per frame.
    enum { kBlock = 256 };
    int32_t sum[kBlock * 2];
    for (int done = 0; done < frames;) {
        int n = frames - done < kBlock ? frames - done : kBlock;
        for (int i = 0; i < 2 * n; i++) sum[i] = 0;
        for (int c = 0; c < count; c++) {
            lvVoice &v = channels[c].voice;
            if (!v.active) continue;
            for (int i = 0; i < n; i++) {
                if (!SettlePass(v)) break;
                int64_t frame = (int64_t)(v.position >> 32);
                int32_t l0, r0;
                FrameValues(v, frame, &l0, &r0);
                uint32_t fraction = (uint32_t)v.position;
                if (fraction && frame + 1 < PassLimit(v)) {
                    int32_t l1, r1;
                    FrameValues(v, frame + 1, &l1, &r1);
                    l0 += (int32_t)(((int64_t)(l1 - l0) * fraction) >> 32);
                    r0 += (int32_t)(((int64_t)(r1 - r0) * fraction) >> 32);
                }
                sum[2 * i] += (int32_t)(((int64_t)l0 * v.gainLeft) >> 16);
                sum[2 * i + 1] += (int32_t)(((int64_t)r0 * v.gainRight) >> 16);
                v.position += v.step;
            }
            // A voice whose last pass ended exactly at the block's end is marked now, not
            // one period later.
            if (v.active) SettlePass(v);
        }
        for (int i = 0; i < 2 * n; i++) out[2 * done + i] = Clamp16(sum[i]);
        done += n;
    }
}

#include "module_fixture.h"
#include <cstring>

std::vector<uint8_t> MakeModule(const ModFixture &f)
{
    std::vector<uint8_t> out(1084, 0);
    memcpy(out.data(), f.name.data(), f.name.size() < 20 ? f.name.size() : 20);
    for (size_t i = 0; i < f.samples.size() && i < 31; i++) {
        uint8_t *h = out.data() + 20 + i * 30;
        const ModSample &s = f.samples[i];
        int words = (int)s.data.size() / 2;
        h[22] = (uint8_t)(words >> 8);
        h[23] = (uint8_t)words;
        h[24] = (uint8_t)(s.finetune & 15);
        h[25] = (uint8_t)s.volume;
        int ls = s.loopStartBytes / 2, ll = s.loopLengthBytes / 2;
        h[26] = (uint8_t)(ls >> 8);
        h[27] = (uint8_t)ls;
        h[28] = (uint8_t)(ll >> 8);
        h[29] = (uint8_t)ll;
    }
    out[950] = (uint8_t)(f.songLengthByte >= 0 ? f.songLengthByte : (int)f.orders.size());
    out[951] = 127;
    for (size_t i = 0; i < f.orders.size() && i < 128; i++) out[952 + i] = (uint8_t)f.orders[i];
    memcpy(out.data() + 1080, "M.K.", 4);
    for (const auto &pattern : f.patterns) {
        for (int i = 0; i < 256; i++) {
            const ModNote &n = i < (int)pattern.size() ? pattern[i] : ModNote{};
            out.push_back((uint8_t)((n.instrument & 0xF0) | ((n.period >> 8) & 0x0F)));
            out.push_back((uint8_t)n.period);
            out.push_back((uint8_t)((n.instrument & 0x0F) << 4 | (n.effect & 0x0F)));
            out.push_back((uint8_t)n.parameter);
        }
    }
    if (f.extraPatterns > 0) out.resize(out.size() + (size_t)f.extraPatterns * 1024, 0);
    if (f.extraPatterns < 0) out.resize(out.size() - (size_t)(-f.extraPatterns) * 1024);
    for (const auto &s : f.samples)
        for (int8_t b : s.data) out.push_back((uint8_t)b);
    return out;
}

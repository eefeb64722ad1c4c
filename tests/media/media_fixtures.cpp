// media_fixtures.cpp - the builders of media_fixtures.h.
#include "tests/media/media_fixtures.h"
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

MediaScratch::MediaScratch()
{
    char pattern[] = "/tmp/lvmediaXXXXXX";
    path = mkdtemp(pattern) ? pattern : "/tmp";
}
MediaScratch::~MediaScratch()
{
    std::error_code ec;
    if (path != "/tmp") std::filesystem::remove_all(path, ec);
}

void WriteFileBytes(const std::string &path, const Bytes &bytes)
{
    FILE *f = fopen(path.c_str(), "wb");
    if (!f) return;
    if (!bytes.empty()) fwrite(bytes.data(), 1, bytes.size(), f);
    fclose(f);
}

Bytes ReadFileBytes(const std::string &path)
{
    Bytes out;
    FILE *f = fopen(path.c_str(), "rb");
    if (!f) return out;
    uint8_t buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0) out.insert(out.end(), buf, buf + n);
    fclose(f);
    return out;
}

static void Le(Bytes &b, uint32_t v, int n)
{
    for (int i = 0; i < n; i++) b.push_back((uint8_t)(v >> (8 * i)));
}
static void Be(Bytes &b, uint32_t v, int n)
{
    for (int i = n - 1; i >= 0; i--) b.push_back((uint8_t)(v >> (8 * i)));
}
static void Id(Bytes &b, const char *id) { b.insert(b.end(), id, id + 4); }

Bytes Chunk(const char *id, const Bytes &payload, bool bigEndian)
{
    Bytes b;
    Id(b, id);
    if (bigEndian) Be(b, (uint32_t)payload.size(), 4);
    else Le(b, (uint32_t)payload.size(), 4);
    b.insert(b.end(), payload.begin(), payload.end());
    if (payload.size() & 1) b.push_back(0);
    return b;
}

Bytes MakeWav(const WavFixture &s, const Bytes &data)
{
    Bytes fmt;
    int frameSize = s.channels * s.bits / 8;
    Le(fmt, (uint32_t)s.tag, 2);
    Le(fmt, (uint32_t)s.channels, 2);
    Le(fmt, (uint32_t)s.rate, 4);
    Le(fmt, (uint32_t)(s.rate * frameSize), 4);
    Le(fmt, (uint32_t)frameSize, 2);
    Le(fmt, (uint32_t)s.bits, 2);
    fmt.resize((size_t)s.fmtSize, 0);
    Bytes dataChunk;
    Id(dataChunk, "data");
    Le(dataChunk, s.declaredData >= 0 ? (uint32_t)s.declaredData : (uint32_t)data.size(), 4);
    dataChunk.insert(dataChunk.end(), data.begin(), data.end());
    Bytes body;
    Id(body, "WAVE");
    Bytes fmtChunk = Chunk("fmt ", fmt, false);
    if (s.fmtFirst) {
        body.insert(body.end(), fmtChunk.begin(), fmtChunk.end());
        body.insert(body.end(), s.before.begin(), s.before.end());
        body.insert(body.end(), dataChunk.begin(), dataChunk.end());
    } else {
        body.insert(body.end(), dataChunk.begin(), dataChunk.end());
        body.insert(body.end(), fmtChunk.begin(), fmtChunk.end());
    }
    Bytes out;
    Id(out, "RIFF");
    Le(out, (uint32_t)body.size(), 4);
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

Bytes MakeIff(const SampleIffFixture &s, const Bytes &body)
{
    Bytes vhdr;
    uint32_t bps = s.sixteen ? 2 : 1;
    uint32_t channels = s.chan == 6 ? 2 : 1;
    Be(vhdr, (uint32_t)body.size() / (bps * channels), 4);
    Be(vhdr, 0, 4);
    Be(vhdr, 0, 4);
    Be(vhdr, (uint32_t)s.rate, 2);
    vhdr.push_back(1);
    vhdr.push_back((uint8_t)s.compression);
    Be(vhdr, 0x10000, 4);
    Bytes form;
    Id(form, s.sixteen ? "16SV" : "8SVX");
    Id(form, "VHDR");
    Be(form, s.vhdrSize, 4);
    form.insert(form.end(), vhdr.begin(), vhdr.end());
    if (s.chan) {
        Bytes v;
        Be(v, (uint32_t)s.chan, 4);
        Bytes c = Chunk("CHAN", v, true);
        form.insert(form.end(), c.begin(), c.end());
    }
    form.insert(form.end(), s.before.begin(), s.before.end());
    Id(form, "BODY");
    Be(form, s.declaredBody >= 0 ? (uint32_t)s.declaredBody : (uint32_t)body.size(), 4);
    form.insert(form.end(), body.begin(), body.end());
    if (body.size() & 1) form.push_back(0);
    Bytes out;
    Id(out, "FORM");
    Be(out, (uint32_t)form.size(), 4);
    out.insert(out.end(), form.begin(), form.end());
    return out;
}

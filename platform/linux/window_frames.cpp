// window_frames.cpp - the frame dump of the SDL2 windows, a debugging switch: with
// LV_WINDOW_FRAMES naming a folder, a window that closes first writes the frame it shows
// there as "<title>.png" (8-bit RGBA; the title's characters other than letters, digits,
// '-' and '_' become '_'). The PNG is written with stored deflate blocks: no compressor
// is needed for a debugging picture.
//
// Depends on: window_sdl.h.
#include "platform/linux/window_sdl.h"
#include "platform/lvplatform.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

uint32_t Crc32(const uint8_t *data, size_t length, uint32_t crc = 0)
{
    crc = ~crc;
    for (size_t i = 0; i < length; i++) {
        crc ^= data[i];
        for (int k = 0; k < 8; k++) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
    }
    return ~crc;
}

void Put32(std::vector<uint8_t> &out, uint32_t v)
{
    for (int s = 24; s >= 0; s -= 8) out.push_back((uint8_t)(v >> s));
}

void Chunk(std::vector<uint8_t> &file, const char *type, const std::vector<uint8_t> &data)
{
    Put32(file, (uint32_t)data.size());
    std::vector<uint8_t> body(type, type + 4);
    body.insert(body.end(), data.begin(), data.end());
    file.insert(file.end(), body.begin(), body.end());
    Put32(file, Crc32(body.data(), body.size()));
}

}  // namespace

int WriteFramePng(const char *path, const uint32_t *argb, int width, int height)
{
    std::vector<uint8_t> raw;
    raw.reserve((size_t)height * (1 + (size_t)width * 4));
    for (int y = 0; y < height; y++) {
        raw.push_back(0);
        for (int x = 0; x < width; x++) {
            uint32_t p = argb[(size_t)y * width + x];
            raw.push_back((uint8_t)(p >> 16));
            raw.push_back((uint8_t)(p >> 8));
            raw.push_back((uint8_t)p);
            raw.push_back((uint8_t)(p >> 24));
        }
    }
    // zlib stream of stored blocks, then Adler-32.
    std::vector<uint8_t> z = {0x78, 0x01};
    for (size_t at = 0; at < raw.size() || at == 0;) {
        size_t n = raw.size() - at > 65535 ? 65535 : raw.size() - at;
        z.push_back(at + n == raw.size() ? 1 : 0);
        z.push_back((uint8_t)n);
        z.push_back((uint8_t)(n >> 8));
        z.push_back((uint8_t)~n);
        z.push_back((uint8_t)(~n >> 8));
        z.insert(z.end(), raw.begin() + (long)at, raw.begin() + (long)(at + n));
        at += n;
        if (n == 0) break;
    }
    uint32_t a = 1, b = 0;
    for (uint8_t c : raw) {
        a = (a + c) % 65521;
        b = (b + a) % 65521;
    }
    Put32(z, b << 16 | a);
    std::vector<uint8_t> file = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<uint8_t> header;
    Put32(header, (uint32_t)width);
    Put32(header, (uint32_t)height);
    header.insert(header.end(), {8, 6, 0, 0, 0});
    Chunk(file, "IHDR", header);
    Chunk(file, "IDAT", z);
    Chunk(file, "IEND", {});
    FILE *f = std::fopen(path, "wb");
    if (!f) return -1;
    size_t wrote = std::fwrite(file.data(), 1, file.size(), f);
    int closed = std::fclose(f);
    return wrote == file.size() && closed == 0 ? 0 : -1;
}

void DumpWindowFrame(lvDisplayWindow *w, int stripHeight, int (*read)(lvDisplayWindow *, uint32_t *, int, int))
{
    const char *dir = std::getenv("LV_WINDOW_FRAMES");
    if (!dir || !*dir || w->width < 1 || w->height < 1) return;
    int height = w->height + stripHeight;  // the frame holds the menu strip too
    std::vector<uint32_t> frame((size_t)w->width * height);
    if (read(w, frame.data(), w->width, height) != 0) return;
    std::string name;
    for (const char *p = w->title; *p; p++) {
        char c = *p;
        bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
        name += plain ? c : '_';
    }
    if (name.empty()) name = "window";
    WriteFramePng((std::string(dir) + "/" + name + ".png").c_str(), frame.data(), w->width, height);
}

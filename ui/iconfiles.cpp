// iconfiles.cpp - the native icon format and ICO image bodies, as pure functions over
// pixel buffers: reading them never trusts a size from the file beyond the picture itself.
#include "ui/icons.h"

#include <cstring>

#include "base/lverrors.h"
#include "platform/lvplatform.h"

namespace {

const uint32_t kMagic[3] = {(uint32_t)'L' << 16 | (uint32_t)'U' << 8 | 'M', (uint32_t)'I' << 16 | (uint32_t)'V' << 8 | 'A',
                            (uint32_t)'R' << 16 | (uint32_t)'R' << 8 | 'A'};

}  // namespace

int BuildNativeIconImage(const lvIconEntry *entries, uint32_t **argb, int *width, int *height)
{
    *argb = nullptr;
    int64_t w = 3, h = 1;
    int lastWidth = -1;
    for (const lvIconEntry *e = entries; e; e = e->next) {
        if (e->width == lastWidth) return ERR_WRONGUSAGE;
        lastWidth = e->width;
        int64_t need = (int64_t)e->width * (e->selected ? 2 : 1);
        if (need > w) w = need;
        h += (int64_t)e->height + 1;
    }
    if (w * h > (int64_t)1 << 28) return ERR_MEM;
    uint32_t *out = (uint32_t *)AllocMemory((size_t)(w * h) * 4, 1);
    if (!out) return ERR_MEM;
    std::memcpy(out, kMagic, sizeof kMagic);
    int64_t row = 1;
    for (const lvIconEntry *e = entries; e; e = e->next) {
        uint32_t *header = out + row * w;
        header[0] = (uint32_t)e->width;
        header[1] = (uint32_t)e->height;
        header[2] = (e->selected ? 1u : 0u) | (e->standard ? 4u : 0u);
        row++;
        for (int y = 0; y < e->height; y++, row++) {
            std::memcpy(out + row * w, e->normal + (size_t)y * e->width, (size_t)e->width * 4);
            if (e->selected)
                std::memcpy(out + row * w + e->width, e->selected + (size_t)y * e->width, (size_t)e->width * 4);
        }
    }
    *argb = out;
    *width = (int)w;
    *height = (int)h;
    return 0;
}

int ParseNativeIconImage(const uint32_t *argb, int width, int height, int hasAlpha, lvIconEntry **out)
{
    *out = nullptr;
    if (!argb || width < 3 || height < 1 || !hasAlpha) return ERR_LOADICON;
    for (int i = 0; i < 3; i++)
        if ((argb[i] & 0xFFFFFFu) != kMagic[i]) return ERR_LOADICON;
    lvIconEntry *list = nullptr, **tail = &list;
    int64_t row = 1;
    uint32_t lastWidth = 0;
    while (row < height) {
        const uint32_t *header = argb + row * (int64_t)width;
        // Sizes are read unsigned and must fit the picture before anything is copied.
        uint32_t w = header[0], h = header[1], flags = header[2];
        uint64_t span = (uint64_t)w * ((flags & 1) ? 2 : 1);
        uint64_t left = (uint64_t)(height - row - 1);
        if (w == 0 || h == 0 || span > (uint64_t)width || h > left || w <= lastWidth || w > LV_MAX_ICON_SIDE ||
            h > LV_MAX_ICON_SIDE)
            break;
        lvIconEntry *e = (lvIconEntry *)AllocMemory(sizeof *e, 1);
        if (e) {
            e->width = (int)w;
            e->height = (int)h;
            e->standard = (flags & 4) != 0;
            e->normal = (uint32_t *)AllocMemory((size_t)w * h * 4, 0);
            if (flags & 1) e->selected = (uint32_t *)AllocMemory((size_t)w * h * 4, 0);
        }
        if (!e || !e->normal || ((flags & 1) && !e->selected)) {
            FreeIconEntries(e);
            FreeIconEntries(list);
            return ERR_MEM;
        }
        for (uint32_t y = 0; y < h; y++) {
            const uint32_t *source = argb + (row + 1 + y) * (int64_t)width;
            std::memcpy(e->normal + (size_t)y * w, source, (size_t)w * 4);
            if (e->selected) std::memcpy(e->selected + (size_t)y * w, source + w, (size_t)w * 4);
        }
        *tail = e;
        tail = &e->next;
        lastWidth = w;
        row += 1 + (int64_t)h;
    }
    // Accepted only when the rows are used up exactly.
    if (row != height || !list) {
        FreeIconEntries(list);
        return ERR_LOADICON;
    }
    *out = list;
    return 0;
}

size_t IcoImageDataSize(int width, int height)
{
    size_t maskRow = (size_t)(((width + 31) / 8) & ~3);
    return ((size_t)width * 4 + maskRow) * (size_t)height;
}

size_t WriteIcoImageData(const uint32_t *pixels, int width, int height, int rowLength, uint8_t *out)
{
    size_t maskRow = (size_t)(((width + 31) / 8) & ~3);
    uint8_t *p = out;
    for (int y = height - 1; y >= 0; y--) {
        const uint32_t *row = pixels + (size_t)y * rowLength;
        for (int x = 0; x < width; x++) {
            uint32_t c = row[x];
            *p++ = (uint8_t)c;
            *p++ = (uint8_t)(c >> 8);
            *p++ = (uint8_t)(c >> 16);
            *p++ = (uint8_t)(c >> 24);
        }
    }
    for (int y = height - 1; y >= 0; y--) {
        const uint32_t *row = pixels + (size_t)y * rowLength;
        std::memset(p, 0xFF, maskRow);
        for (int x = 0; x < width; x++)
            if (row[x] >> 24) p[x / 8] &= (uint8_t)~(0x80u >> (x % 8));
        p += maskRow;
    }
    return (size_t)(p - out);
}

namespace {

uint8_t *Put16(uint8_t *p, uint32_t v)
{
    p[0] = (uint8_t)v;
    p[1] = (uint8_t)(v >> 8);
    return p + 2;
}

uint8_t *Put32(uint8_t *p, uint32_t v)
{
    p = Put16(p, v & 0xFFFF);
    return Put16(p, v >> 16);
}

bool FitsIco(const lvIcoImage &image)
{
    return image.pixels && image.width >= 1 && image.height >= 1 && image.width <= 256 && image.height <= 256 &&
           image.rowLength >= image.width;
}

}  // namespace

int BuildIcoFile(const lvIcoImage *images, int count, uint8_t **out, size_t *size)
{
    *out = nullptr;
    *size = 0;
    if (count < 0 || count > 65535 || (count && !images)) return ERR_WRONGUSAGE;
    int kept = 0;
    size_t total = 6;
    for (int i = 0; i < count; i++)
        if (FitsIco(images[i])) {
            kept++;
            total += 16 + 40 + IcoImageDataSize(images[i].width, images[i].height);
        }
    if (!kept) return ERR_WRONGUSAGE;
    uint8_t *file = (uint8_t *)AllocMemory(total, 1);
    if (!file) return ERR_MEM;
    uint8_t *p = Put16(Put16(Put16(file, 0), 1), (uint32_t)kept);
    uint32_t offset = 6 + 16u * (uint32_t)kept;
    for (int i = 0; i < count; i++) {
        if (!FitsIco(images[i])) continue;
        uint32_t bytes = (uint32_t)(IcoImageDataSize(images[i].width, images[i].height) + 40);
        *p++ = (uint8_t)(images[i].width & 0xFF);  // 256 is written as 0
        *p++ = (uint8_t)(images[i].height & 0xFF);
        *p++ = 0;
        *p++ = 0;
        p = Put32(Put32(Put16(Put16(p, 1), 32), bytes), offset);
        offset += bytes;
    }
    for (int i = 0; i < count; i++) {
        const lvIcoImage &image = images[i];
        if (!FitsIco(image)) continue;
        p = Put32(Put32(Put32(p, 40), (uint32_t)image.width), (uint32_t)image.height * 2);
        p = Put16(Put16(p, 1), 32);
        p += 24;  // compression, image size, resolutions and colour counts: 0
        p += WriteIcoImageData(image.pixels, image.width, image.height, image.rowLength, p);
    }
    *out = file;
    *size = total;
    return 0;
}

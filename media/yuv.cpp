// yuv.cpp - YUV 4:2:0 planes to display pixels: the same-size conversion and the
// nearest-sample scaling one, with BT.601 studio-range integer coefficients.
//
// The portable rows are the reference; where the CPU has AVX2 the same-size conversion
// of 32-bit formats takes yuv_avx2.cpp's rows, which give the same bits.
#include "media/videostream.h"
#include "raster/lvbitmap.h"
#include <atomic>
#include <cstring>

namespace {

// The sign of R and G shows in bit 9 (they never reach 512); B reaches 534, so its sign
// is tested in bit 10.
inline int ClampRg(int c) { return (c & 0x200) ? 0 : c > 255 ? 255 : c; }
inline int ClampB(int c) { return (c & 0x400) ? 0 : c > 255 ? 255 : c; }

inline uint32_t Pack32(int format, int r, int g, int b)
{
    return ArgbToPixel32(format, (uint32_t)r << 16 | (uint32_t)g << 8 | (uint32_t)b);
}

// One pixel into any of the formats 0..13 at out.
inline void PackPixel(uint8_t *out, int format, int bytes, int r, int g, int b)
{
    if (bytes == 4) {
        uint32_t p = Pack32(format, r, g, b);
        memcpy(out, &p, 4);
    } else if (bytes == 3) {
        if (format == PIXFMT_RGB24) {
            out[0] = (uint8_t)r, out[1] = (uint8_t)g, out[2] = (uint8_t)b;
        } else {
            out[0] = (uint8_t)b, out[1] = (uint8_t)g, out[2] = (uint8_t)r;
        }
    } else {
        uint16_t p = (uint16_t)ArgbToPixel((uint32_t)r << 16 | (uint32_t)g << 8 | (uint32_t)b, format, 0);
        memcpy(out, &p, 2);
    }
}

bool ValidFormat(const lvYuvConversion *q)
{
    if (q->pixelFormat < PIXFMT_RGB15 || q->pixelFormat > PIXFMT_ABGR32) return false;
    return q->bytesPerPixel == GetPixelFormatBytes(q->pixelFormat);
}

bool CpuHasAvx2()
{
#if defined(__x86_64__) || defined(__i386__)
    return __builtin_cpu_supports("avx2");
#else
    return false;
#endif
}

std::atomic<int> fastPath{-1}; // -1: not yet asked

} // namespace

void YuvToRgb(int y, int u, int v, int *r, int *g, int *b)
{
    *r = ClampRg((v * 2609823 + y * 1904000 - 363703744) / 1635200);
    *g = ClampRg((y * 3827562 - u * 1287801 - v * 2672387 + 447306710) / 3287200);
    *b = ClampB((u * 1649289 + y * 952000 - 225932192) / 817600);
}

bool YuvFastPathAvailable()
{
#ifdef LV_YUV_AVX2
    int on = fastPath.load(std::memory_order_relaxed);
    if (on < 0) {
        on = CpuHasAvx2() ? 1 : 0;
        fastPath.store(on, std::memory_order_relaxed);
    }
    return on == 1;
#else
    return false;
#endif
}

void SetYuvFastPath(bool on)
{
    fastPath.store(on && CpuHasAvx2() ? 1 : 0, std::memory_order_relaxed);
}

void ConvertYuv420Scalar(const lvYuvConversion *q)
{
    if (!ValidFormat(q) || q->sourceWidth <= 0 || q->sourceHeight <= 0) return;
    const int format = q->pixelFormat, bytes = q->bytesPerPixel;
    uint8_t *row = (uint8_t *)q->destination;
    const size_t stride = (size_t)q->destRowLength * (size_t)bytes;
    for (int y = 0; y < q->sourceHeight; y++, row += stride) {
        const uint8_t *ys = q->planes[0] + (size_t)y * q->rowLengths[0];
        const uint8_t *us = q->planes[1] + (size_t)(y >> 1) * q->rowLengths[1];
        const uint8_t *vs = q->planes[2] + (size_t)(y >> 1) * q->rowLengths[2];
        uint8_t *out = row;
        for (int x = 0; x < q->sourceWidth; x++, out += bytes) {
            int r, g, b;
            YuvToRgb(ys[x], us[x >> 1], vs[x >> 1], &r, &g, &b);
            PackPixel(out, format, bytes, r, g, b);
        }
    }
}

void ConvertYuv420(const lvYuvConversion *q)
{
#ifdef LV_YUV_AVX2
    if (q->bytesPerPixel == 4 && ValidFormat(q) && q->sourceWidth > 0 && YuvFastPathAvailable()) {
        uint8_t *row = (uint8_t *)q->destination;
        const size_t stride = (size_t)q->destRowLength * 4;
        for (int y = 0; y < q->sourceHeight; y++, row += stride)
            ConvertYuvRowAvx2(q->planes[0] + (size_t)y * q->rowLengths[0],
                              q->planes[1] + (size_t)(y >> 1) * q->rowLengths[1],
                              q->planes[2] + (size_t)(y >> 1) * q->rowLengths[2], (uint32_t *)row, q->sourceWidth,
                              q->pixelFormat);
        return;
    }
#endif
    ConvertYuv420Scalar(q);
}

void ConvertYuv420Scaled(const lvYuvConversion *q)
{
    if (!ValidFormat(q) || q->sourceWidth <= 0 || q->sourceHeight <= 0 || q->destWidth <= 0 || q->destHeight <= 0)
        return;
    const int format = q->pixelFormat, bytes = q->bytesPerPixel;
    const uint32_t stepX = (uint32_t)((float)q->sourceWidth / (float)q->destWidth * 65536.0f);
    const float stepY = (float)q->sourceHeight / (float)q->destHeight;
    const size_t stride = (size_t)q->destRowLength * (size_t)bytes;
    uint8_t *row = (uint8_t *)q->destination;
    float positionY = 0;
    for (int i = 0; i < q->destHeight; i++, row += stride, positionY += stepY) {
        // The float position drifts past the last row on tall outputs; it stays on it.
        int sy = (int)positionY;
        if (sy > q->sourceHeight - 1) sy = q->sourceHeight - 1;
        const uint8_t *ys = q->planes[0] + (size_t)sy * q->rowLengths[0];
        const uint8_t *us = q->planes[1] + (size_t)(sy >> 1) * q->rowLengths[1];
        const uint8_t *vs = q->planes[2] + (size_t)(sy >> 1) * q->rowLengths[2];
        uint8_t *out = row;
        uint32_t position = 0;
        int x = 0;
        // Eight pixels a pass: the position walk has no branch in it.
        for (; x + 8 <= q->destWidth; x += 8) {
            for (int k = 0; k < 8; k++, out += bytes, position += stepX) {
                int r, g, b;
                YuvToRgb(ys[position >> 16], us[position >> 17], vs[position >> 17], &r, &g, &b);
                PackPixel(out, format, bytes, r, g, b);
            }
        }
        for (; x < q->destWidth; x++, out += bytes, position += stepX) {
            int r, g, b;
            YuvToRgb(ys[position >> 16], us[position >> 17], vs[position >> 17], &r, &g, &b);
            PackPixel(out, format, bytes, r, g, b);
        }
    }
}

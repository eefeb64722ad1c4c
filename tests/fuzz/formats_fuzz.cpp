// Fuzz target: picture files from a memory file. Byte 0 picks the entry, bytes 1 and 2
// are the request flags; the rest is the file. 0: identification; 1: the built-in
// decoders through DecodeImageFile; 2: the loader chain ("inbuilt") with its flags;
// 3: the JPEG decoder over a memory block; 4: an anim handle over the file (GIF, AVI,
// IFF ANIM or the native decoder), the 4 bytes after the flags naming the frames to
// fetch, whose pictures then go through the anim writer into a memory file.
// Pictures that claim more than 2^24 pixels are only identified: their codes and the
// pixel limit are covered by the unit tests, and decoding them here would only spend
// the run's time filling large buffers (the fuzz run's memory limit stands above what
// 2^24 pixels need).
#include "formats/lvanim.h"
#include "formats/lvanimwriter.h"
#include "formats/formats_internal.h"
#include "formats/lvformats.h"
#include "raster/lvbitmap.h"

#include <cstdint>
#include <cstring>

static bool SmallEnough(lvVFile *file)
{
    int w = 0, h = 0, depth, format, alpha, transparency, orientation = 0;
    if (IdentifyImageFile(&h, &depth, file, &format, &w, &alpha, &transparency, &orientation) != 0) return true;
    SeekVFile(file, 0, 1);
    return (int64_t)w * h <= (1 << 24) && w >= -(1 << 24) && h >= -(1 << 24);
}

// Flags: bit 0 palette mode, 1 deinterlace, 2 transparency, 3 write the frames, bits 4-5
// the writer's format, 6 the writer's optimising.
static void FuzzAnimHandle(const char *name, uint32_t flags, const uint8_t *order)
{
    lvAnimHandle *anim = nullptr;
    int w = 0, h = 0, frames = 0, fourth = 0, vector = 0;
    lvPluginRecord *plugin = nullptr;
    bool paletteMode = flags & 1;
    if (OpenAnimHandle(name, "inbuilt|native", nullptr, nullptr, flags >> 1 & 1, paletteMode, flags >> 2 & 1, &anim,
                       &w, &h, &frames, &fourth, &vector, &plugin) != 0)
        return;
    char outName[LV_PATH_SIZE];
    lvMemFile *out = nullptr;
    lvAnimWriter *writer = nullptr;
    // The writer's frames are kept small: its encoders are fuzzed for their input, not size.
    if ((flags & 8) && !paletteMode && !vector && (int64_t)w * h <= (1 << 16) &&
        (out = AddMemoryFile("fuzz.anim", 1, nullptr, 0, -1, outName, sizeof outName)) != nullptr)
        if (BeginAnimWriter(outName, nullptr, nullptr, (int)(flags >> 4 & 3) % 3, w, h, 75, 25, &writer) != 0)
            writer = nullptr;
    for (int i = 0; i < 4 && frames > 0; i++) {
        int frame = order[i] % (frames < 64 ? frames : 64), depth = 0, pen = -1;
        uint32_t *palette = nullptr;
        void *pixels = FetchAnimFrame(anim, frame, nullptr, &palette, &depth, &pen, nullptr);
        GetAnimFrameDelay(anim, frame);
        if (pixels && writer) {
            lvBitMapHandle *rgb = nullptr, *mask = nullptr, *alpha = nullptr;
            if (MakeBitmapsFromArgb((const uint32_t *)pixels, w, h, w, &rgb, &mask, &alpha) == 0)
                AppendAnimFrame(writer, rgb, mask, alpha, nullptr, nullptr, 0, 8, -1, 40, flags >> 7 & 1, -1,
                                flags >> 6 & 1);
            FreeBitmapHandle(rgb), FreeBitmapHandle(mask), FreeBitmapHandle(alpha);
        }
        if (pixels) FreeAnimFrame(anim, pixels);
        FreeMemory(palette);
    }
    if (writer) FinishAnimWriter(writer);
    if (out) RemoveMemoryFile(out);
    GetAnimFormatName(anim);
    ReleaseAnimHandle(anim);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 3) return 0;
    int mode = data[0] % 5;
    uint32_t flags = (uint32_t)data[1] | (uint32_t)data[2] << 8;
    data += 3, size -= 3;
    if (mode == 3) {
        int w, h;
        uint32_t *pixels = nullptr;
        if (size && DecodeJpegImage(data, size, 1, 0, &w, &h, nullptr) == 0 && (int64_t)w * h <= (1 << 22))
            if (DecodeJpegImage(data, size, 0, flags % 10, &w, &h, &pixels) == 0) FreeMemory(pixels);
        return 0;
    }
    const uint8_t *order = data;
    if (mode == 4) {
        if (size < 4) return 0;
        data += 4, size -= 4;
    }
    char name[LV_PATH_SIZE];
    lvMemFile *node = AddMemoryFile("fuzz.img", 0, data, (int64_t)size, -1, name, sizeof name);
    if (!node) return 0;
    lvVFile *file = OpenVFile(name, LV_VF_READ, nullptr, nullptr);
    if (file) {
        bool small = SmallEnough(file);
        lvImageLoadRequest request = {};
        request.flags = flags;
        if (mode == 1 && small) {
            lvDecodedImage *decoded = nullptr;
            int w, h;
            if (DecodeImageFile(file, 1, &request, &decoded, &w, &h) == 0) FreeDecodedImage(decoded);
        } else if (mode == 2 && small) {
            request.loaderList = "inbuilt";
            request.wantedWidth = -(int)(flags >> 12);  // per cent
            lvImageSource *source = nullptr;
            if (LoadImageSource(name, &request, &source, nullptr, nullptr, nullptr, nullptr) == 0)
                ReleaseImageSource(source);
            FreeBitmapHandle(request.alphaBitmap);
        } else if (mode == 4 && small) {
            FuzzAnimHandle(name, flags, order);
        }
        FreeMemory(request.palette);
        CloseVFile(file);
    }
    RemoveMemoryFile(node);
    return 0;
}

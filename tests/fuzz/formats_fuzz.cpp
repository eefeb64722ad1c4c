// Fuzz target: picture files from a memory file. Byte 0 picks the entry, bytes 1 and 2
// are the request flags; the rest is the file. 0: identification; 1: the built-in
// decoders through DecodeImageFile; 2: the loader chain ("inbuilt") with its flags;
// 3: the JPEG decoder over a memory block.
// Pictures that claim more than 2^22 pixels are only identified: their codes and the
// pixel limit are covered by the unit tests, and decoding them here would only spend
// the run's time filling large buffers.
#include "formats/lvformats.h"
#include "raster/lvbitmap.h"

#include <cstdint>
#include <cstring>

static bool SmallEnough(lvVFile *file)
{
    int w = 0, h = 0, depth, format, alpha, transparency, orientation = 0;
    if (IdentifyImageFile(&h, &depth, file, &format, &w, &alpha, &transparency, &orientation) != 0) return true;
    SeekVFile(file, 0, 1);
    return (int64_t)w * h <= (1 << 22) && w >= -(1 << 22) && h >= -(1 << 22);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 3) return 0;
    int mode = data[0] % 4;
    uint32_t flags = (uint32_t)data[1] | (uint32_t)data[2] << 8;
    data += 3, size -= 3;
    if (mode == 3) {
        int w, h;
        uint32_t *pixels = nullptr;
        if (size && DecodeJpegImage(data, size, 1, 0, &w, &h, nullptr) == 0 && (int64_t)w * h <= (1 << 22))
            if (DecodeJpegImage(data, size, 0, flags % 10, &w, &h, &pixels) == 0) FreeMemory(pixels);
        return 0;
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
        }
        FreeMemory(request.palette);
        CloseVFile(file);
    }
    RemoveMemoryFile(node);
    return 0;
}

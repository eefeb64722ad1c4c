// cdxl_fuzz.cpp - the CDXL reader over arbitrary bytes held in a registered memory file:
// every accepted file is read to its end with every picture and sound decoded, then
// sought and read again.
#include "media/videostream.h"
#include "runtime/vfile.h"
#include <vector>

namespace {

void ReadSome(lvCdxlReader *r, const lvVideoStreamInfo &info, int limit)
{
    std::vector<uint32_t> frame((size_t)info.width * info.height);
    static int16_t pcm[0x20000];
    void *planes[3] = {frame.data(), nullptr, nullptr};
    int32_t rows[3] = {0, 0, 0};
    lvVideoPacketInfo p{};
    for (int n = 0; n < limit && NextCdxlPacket(r, &p) == 0; n++) {
        if (p.audio) {
            lvAudioDecodeRequest q{pcm, sizeof pcm, 0, 0};
            DecodeCdxlAudio(r, p.packet, &q);
        } else {
            lvVideoDecodeRequest q{};
            q.planes = planes;
            q.rowLengths = rows;
            DecodeCdxlFrame(r, p.packet, &q);
        }
        FreeCdxlPacket(p.packet);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    char name[256];
    lvMemFile *node = AddMemoryFile("fuzz.cdxl", 0, data, (int64_t)size, -1, name, sizeof name);
    if (!node) return 0;
    lvVideoStreamInfo info{};
    if (lvCdxlReader *r = OpenCdxl(name, &info)) {
        // Pictures stay small enough to decode many per run.
        if ((int64_t)info.width * info.height <= (1 << 20)) {
            ReadSome(r, info, 64);
            SeekCdxl(r, info.durationMs / 2, 0);
            ReadSome(r, info, 4);
        }
        CloseCdxl(r);
    }
    RemoveMemoryFile(node);
    return 0;
}

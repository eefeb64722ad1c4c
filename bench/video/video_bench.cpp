// video_bench.cpp - megapixels a second of ConvertYuv420 (the AVX2 rows where the CPU has
// them, and the portable rows) beside libswscale's sws_scale from YUV420P to
// AV_PIX_FMT_ARGB (our BGRA32 byte order) with SWS_POINT and SWS_BILINEAR on one thread
// (goal: ratio 1.0 or more); and the time to decode and convert writer-made CDXL files
// (HAM8 and 8-plane palette, 1280x720 and 1920x1080) through the player engine in free
// run with no display, beside `ffmpeg -threads 1 -benchmark -f cdxl -i F -f null -`
// (its rtime), median of 3, ratio peer / ours (goal 0.9 or more). All in the same run.
//
// Depends on: lv_media, libswscale, the ffmpeg tool on PATH. Run: build-bench/bin/video_bench
#include "media/lvvideo.h"
#include "tests/media/cdxl_fixture.h"
#include "tests/media/media_fixtures.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

extern "C" {
#include <libavutil/pixfmt.h>
#include <libswscale/swscale.h>
}

namespace {

double Seconds(const std::function<void()> &job)
{
    auto start = std::chrono::steady_clock::now();
    job();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double Best(int rounds, const std::function<void()> &job)
{
    job();
    double best = 1e9;
    for (int i = 0; i < rounds; i++) best = std::min(best, Seconds(job));
    return best;
}

void YuvRows(int w, int h)
{
    int cw = (w + 1) / 2, ch = (h + 1) / 2;
    std::vector<uint8_t> y((size_t)w * h), u((size_t)cw * ch), v((size_t)cw * ch);
    for (size_t i = 0; i < y.size(); i++) y[i] = (uint8_t)(i * 7 + i / w);
    for (size_t i = 0; i < u.size(); i++) u[i] = (uint8_t)(i * 3), v[i] = (uint8_t)(255 - i * 5);
    std::vector<uint32_t> out((size_t)w * h);
    const uint8_t *planes[3] = {y.data(), u.data(), v.data()};
    int rows[3] = {w, cw, cw};
    lvYuvConversion q{};
    q.planes = planes;
    q.rowLengths = rows;
    q.destination = out.data();
    q.sourceWidth = w, q.sourceHeight = h;
    q.destWidth = w, q.destHeight = h;
    q.destRowLength = w;
    q.pixelFormat = 11; // BGRA32
    q.bytesPerPixel = 4;
    const int frames = 20;
    double mpx = (double)w * h * frames / 1e6;
    SetYuvFastPath(true);
    bool fast = YuvFastPathAvailable();
    double ours = Best(3, [&] { for (int i = 0; i < frames; i++) ConvertYuv420(&q); });
    SetYuvFastPath(false);
    double scalar = Best(3, [&] { for (int i = 0; i < frames; i++) ConvertYuv420(&q); });
    SetYuvFastPath(true);
    for (int flags : {SWS_POINT, SWS_BILINEAR}) {
        SwsContext *sws = sws_getContext(w, h, AV_PIX_FMT_YUV420P, w, h, AV_PIX_FMT_ARGB, flags, nullptr, nullptr,
                                         nullptr);
        uint8_t *dst[4] = {(uint8_t *)out.data(), nullptr, nullptr, nullptr};
        int dstStride[4] = {w * 4, 0, 0, 0};
        const uint8_t *src[4] = {y.data(), u.data(), v.data(), nullptr};
        int srcStride[4] = {w, cw, cw, 0};
        double peer = Best(3, [&] {
            for (int i = 0; i < frames; i++) sws_scale(sws, src, srcStride, 0, h, dst, dstStride);
        });
        sws_freeContext(sws);
        printf("ConvertYuv420 %dx%d %s: ours %.0f Mpx/s (portable %.0f), sws_scale %s %.0f Mpx/s, ratio %.2f\n", w, h,
               fast ? "AVX2" : "portable", mpx / ours, mpx / scalar, flags == SWS_POINT ? "POINT" : "BILINEAR",
               mpx / peer, peer / ours);
    }
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// The engine in free run with no display: from start to the end of the stream.
double PlayOnce(const std::string &path)
{
    lvVideoPlayer *player = nullptr;
    if (OpenVideoStream(path.c_str(), nullptr, 0, nullptr, nullptr, lvObjectId{1, nullptr}, &player)) return -1;
    const lvVideoStreamInfo *info = GetVideoStreamInfo(player);
    double t = Seconds([&] {
        StartVideoThreads(player, nullptr, 0, 0, info->width, info->height, -1, LV_VIDEOSOUND_NONE);
        while (GetVideoPlayerState(player) != 4) std::this_thread::sleep_for(std::chrono::microseconds(200));
    });
    FreeVideoPlayer(player);
    return t;
}

double FfmpegOnce(const std::string &path)
{
    std::string cmd = "ffmpeg -hide_banner -nostdin -threads 1 -benchmark -f cdxl -i '" + path + "' -f null - 2>&1";
    FILE *f = popen(cmd.c_str(), "r");
    if (!f) return -1;
    char line[512];
    double rtime = -1;
    while (fgets(line, sizeof line, f)) {
        const char *r = strstr(line, "rtime=");
        if (r) rtime = atof(r + 6);
    }
    pclose(f);
    return rtime;
}

void CdxlRow(MediaScratch &dir, int w, int h, bool ham)
{
    CdxlFixture f;
    f.width = w, f.height = h, f.planes = 8, f.ham = ham ? 1 : 0;
    f.palette.resize(ham ? 64 : 256);
    for (size_t i = 0; i < f.palette.size(); i++) f.palette[i] = (uint16_t)(i * 0x123 & 0xFFF);
    f.frames = 24;
    f.pens = [](int frame, int x, int y) { return (uint8_t)(x * 3 + y * 5 + frame * 11); };
    std::string path = dir.File(ham ? "ham8.cdxl" : "palette.cdxl");
    WriteFileBytes(path, MakeCdxl(f));
    std::vector<double> ours, peer;
    for (int i = 0; i < 3; i++) {
        ours.push_back(PlayOnce(path));
        peer.push_back(FfmpegOnce(path));
    }
    double a = Median(ours), b = Median(peer);
    printf("CDXL %dx%d %s, %d frames: engine %.3f s (%.0f fps), ffmpeg rtime %.3f s (%.0f fps), ratio %.2f\n", w, h,
           ham ? "HAM8" : "8-plane palette", f.frames, a, f.frames / a, b, b > 0 ? f.frames / b : 0.0,
           b > 0 ? b / a : 0.0);
}

} // namespace

int main()
{
    YuvRows(1280, 720);
    YuvRows(1920, 1080);
    MediaScratch dir;
    for (int size = 0; size < 2; size++)
        for (bool ham : {true, false}) CdxlRow(dir, size ? 1920 : 1280, size ? 1080 : 720, ham);
    return 0;
}

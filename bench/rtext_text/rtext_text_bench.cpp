// rtext_text_bench - times the text engines against peers in the same run and prints
// ratios (ours / peer; below 1 is faster). Not a test: numbers vary by machine.
//   Unicode letter test     vs iswalpha_l in a UTF-8 locale
//   UTF-8 validation        vs mbrtowc over the same text
//   UTF-8 -> ISO-8859-1     vs iconv-free byte loop using mbrtowc
//   CRC-32                  vs zlib's crc32
#include <zlib.h>

#include <chrono>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <cwctype>
#include <locale.h>
#include <string>
#include <vector>

#include "platform/lvplatform.h"
#include "runtime/encoding.h"
#include "runtime/random.h"

static double Seconds(const std::chrono::steady_clock::time_point &since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

template <typename F>
static double Time(int rounds, F f) {
    auto t = std::chrono::steady_clock::now();
    for (int i = 0; i < rounds; i++) f();
    return Seconds(t);
}

int main() {
    locale_t utf8 = newlocale(LC_ALL_MASK, "C.UTF-8", (locale_t)0);
    if (!utf8) {
        std::puts("no C.UTF-8 locale: peers unavailable");
        return 0;
    }
    // Mixed text: ASCII, Latin, Greek, Cyrillic, CJK.
    std::vector<uint32_t> codes;
    uint32_t s = 7;
    for (int i = 0; i < 200000; i++) {
        s = s * 1664525u + 1013904223u;
        static const uint32_t bases[] = {0x20, 0xC0, 0x391, 0x410, 0x4E00};
        codes.push_back(bases[(s >> 28) % 5] + ((s >> 8) % 90));
    }
    std::string text;
    for (uint32_t c : codes) {
        char buf[8];
        text.append(buf, (size_t)PutUtf8(buf, c));
    }

    volatile long sink = 0;
    double ours = Time(20, [&] {
        long n = 0;
        for (uint32_t c : codes) n += IsAlphaUnicode(c);
        sink = sink + n;
    });
    double peer = Time(20, [&] {
        long n = 0;
        for (uint32_t c : codes) n += iswalpha_l((wint_t)c, utf8) != 0;
        sink = sink + n;
    });
    std::printf("letter test:        %.3f s vs %.3f s  ratio %.2f\n", ours, peer, ours / peer);

    ours = Time(20, [&] { sink = sink + ValidateUtf8(text.data(), text.size(), nullptr); });
    locale_t old = uselocale(utf8);
    peer = Time(20, [&] {
        mbstate_t st{};
        const char *p = text.data(), *end = p + text.size();
        while (p < end) {
            wchar_t w;
            size_t r = mbrtowc(&w, p, (size_t)(end - p), &st);
            if (r == (size_t)-1 || r == (size_t)-2) break;
            p += r ? r : 1;
        }
        sink = sink + (p == end);
    });
    std::printf("UTF-8 validation:   %.3f s vs %.3f s  ratio %.2f\n", ours, peer, ours / peer);

    std::vector<char> out(text.size() + 1);
    ours = Time(20, [&] { sink = sink + (long)Utf8ToLatin1Into(text.c_str(), out.data(), text.size()); });
    peer = Time(20, [&] {
        mbstate_t st{};
        const char *p = text.data(), *end = p + text.size();
        char *o = out.data();
        while (p < end) {
            wchar_t w;
            size_t r = mbrtowc(&w, p, (size_t)(end - p), &st);
            if (r == (size_t)-1 || r == (size_t)-2) break;
            *o++ = w < 256 ? (char)w : '?';
            p += r ? r : 1;
        }
        sink = sink + (o - out.data());
    });
    uselocale(old);
    std::printf("UTF-8 -> Latin-1:   %.3f s vs %.3f s  ratio %.2f\n", ours, peer, ours / peer);

    ours = Time(50, [&] { sink = sink + ComputeCrc32(text.data(), text.size()); });
    peer = Time(50, [&] { sink = sink + (long)crc32(0L, (const Bytef *)text.data(), (uInt)text.size()); });
    std::printf("CRC-32:             %.3f s vs %.3f s  ratio %.2f\n", ours, peer, ours / peer);
    freelocale(utf8);
    return 0;
}

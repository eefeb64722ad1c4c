// text_bench.cpp - text rendering beside peers measured in the same run: a
// 1,000-character paragraph in Bitstream Vera Sans at 16 pixels, anti-aliased,
// wrapped at 600 pixels. Glyphs a second of the TrueType engine drawing the
// wrapped lines into a coverage plane with and without the glyph cache, of the
// whole layout (runs, wrapping, rendering into the text image, blended into a
// 640 x 480 ARGB picture), of a plain FreeType loop (FT_Load_Char with
// FT_LOAD_RENDER, kerning, coverage blended into ARGB) and of SDL2_ttf's
// TTF_RenderUTF8_Blended_Wrapped; and milliseconds per tagged layout.
//
// Depends on: lv_text, FreeType, SDL2_ttf.
// Run: build-bench/bin/text_bench
#include <SDL_ttf.h>
#include <ft2build.h>
#include FT_FREETYPE_H

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "text/lvtextlayout.h"

namespace {

const char *const kVera = "/usr/share/fonts/truetype/ttf-bitstream-vera/Vera.ttf";

// Best of a few runs (seconds) of a job that runs at least 0.3 s in all.
double Time(const std::function<void()> &job)
{
    using clock = std::chrono::steady_clock;
    double best = 1e30, total = 0;
    for (int i = 0; i < 50 && (i < 3 || total < 0.3); i++) {
        auto t0 = clock::now();
        job();
        double s = std::chrono::duration<double>(clock::now() - t0).count();
        best = std::min(best, s);
        total += s;
    }
    return best;
}

std::string Paragraph()
{
    const char *words[] = {"the", "quick", "brown", "fox", "jumps", "over", "lazy", "dog", "while", "seven",
                           "wizards", "quietly", "pack", "boxes", "of", "liquor", "jugs", "AV", "Type", "Wave"};
    std::string text;
    unsigned seed = 5;
    while (text.size() < 1000) {
        seed = seed * 1103515245u + 12345u;
        if (!text.empty()) text += ' ';
        text += words[(seed >> 16) % 20];
    }
    text.resize(1000);
    return text;
}

std::string Tagged(const std::string &plain)
{
    std::string out;
    int word = 0;
    for (size_t i = 0; i < plain.size(); i++) {
        if (i == 0 || plain[i - 1] == ' ') {
            switch (word++ % 6) {
            case 1: out += "[b]"; break;
            case 3: out += "[color=$ff8000]"; break;
            case 5: out += "[u]"; break;
            default: break;
            }
        }
        out += plain[i];
        if (i + 1 == plain.size() || plain[i + 1] == ' ') {
            switch ((word - 1) % 6) {
            case 1: out += "[/b]"; break;
            case 3: out += "[/color]"; break;
            case 5: out += "[/u]"; break;
            default: break;
            }
        }
    }
    return out;
}

struct Line {
    std::string text;
    int y;
};

// The lines our layout makes of the paragraph.
std::vector<Line> Lines(lvFontManager *fm, lvFont *font, const std::string &text)
{
    lvTextOptions o;
    InitTextOptions(&o, 1);
    o.style.style = FORM_ANTIALIAS;
    o.wrapWidth = 600;
    o.text = text.data();
    o.length = text.size();
    lvTextLayout layout;
    LayoutTextRuns(fm, font, &o, &layout);
    std::vector<Line> lines;
    for (lvTextRun *r = layout.runs; r; r = r->next) {
        if (lines.empty() || lines.back().y != r->y) lines.push_back({"", r->y});
        lines.back().text.append(r->text, (size_t)r->length);
    }
    return lines;
}

void Blend(std::vector<uint32_t> &argb, int width, int height, const uint8_t *cov, int cw, int ch, int x0, int y0,
           uint32_t colour)
{
    for (int y = 0; y < ch; y++) {
        int ty = y0 + y;
        if (ty < 0 || ty >= height) continue;
        for (int x = 0; x < cw; x++) {
            int a = cov[(size_t)y * cw + x], tx = x0 + x;
            if (!a || tx < 0 || tx >= width) continue;
            uint32_t &d = argb[(size_t)ty * width + tx];
            uint32_t r = 0;
            for (int s = 0; s <= 16; s += 8) {
                int c = (colour >> s) & 255, b = (d >> s) & 255;
                r |= (uint32_t)((c * a + b * (255 - a)) / 255) << s;
            }
            d = 0xFF000000u | r;
        }
    }
}

void Row(const char *what, double ours, double peer, const char *unit)
{
    std::printf("%-52s ours %10.0f %s  peer %10.0f %s  ratio %5.2f\n", what, ours, unit, peer, unit, ours / peer);
}

}  // namespace

int main()
{
    lvFontManager fm{};
    if (InitFontManager(&fm)) return 1;
    lvFont *cached = nullptr, *uncached = nullptr;
    OpenFontByName(&fm, LV_SANS_DEFAULT, 16, 1, 0, 0, nullptr, 0, "inbuilt", "", &cached);
    OpenFontByName(&fm, LV_SANS_DEFAULT, 16, 0, 0, 0, nullptr, 0, "inbuilt", "", &uncached);
    if (!cached || !uncached) return 1;
    const std::string text = Paragraph(), tagged = Tagged(text);
    const std::vector<Line> lines = Lines(&fm, cached, text);
    const double glyphs = (double)text.size();
    const int W = 640, H = 480;

    // The engine's glyph drawing of the wrapped lines into a coverage plane.
    std::vector<uint8_t> plane((size_t)W * H);
    auto engine = [&](lvFont *font) {
        std::memset(plane.data(), 0, plane.size());
        lvFontPlane p{plane.data(), W, W, H, LV_PLANE_ALPHA8};
        for (const Line &l : lines)
            RenderFontText(&fm, font, &p, 0, l.y, l.text.data(), l.text.size(), FORM_ANTIALIAS, 0, 1, nullptr);
    };
    engine(cached);
    double tCached = Time([&] { engine(cached); });
    double tUncached = Time([&] { engine(uncached); });

    // A plain FreeType loop on its own face: load and render every glyph,
    // kern, blend the coverage into ARGB.
    FT_Library lib;
    FT_Face face;
    FT_Init_FreeType(&lib);
    FT_New_Face(lib, kVera, 0, &face);
    FT_Set_Pixel_Sizes(face, 0, 16);
    std::vector<uint32_t> argb((size_t)W * H);
    auto freetype = [&] {
        std::fill(argb.begin(), argb.end(), 0xFF000000u);
        for (const Line &l : lines) {
            int pen = 0;
            FT_UInt previous = 0;
            for (unsigned char c : l.text) {
                FT_UInt index = FT_Get_Char_Index(face, c);
                if (previous && index) {
                    FT_Vector k;
                    FT_Get_Kerning(face, previous, index, FT_KERNING_DEFAULT, &k);
                    pen += (int)(k.x >> 6);
                }
                FT_Load_Char(face, c, FT_LOAD_RENDER);
                FT_GlyphSlot g = face->glyph;
                Blend(argb, W, H, g->bitmap.buffer, (int)g->bitmap.pitch, (int)g->bitmap.rows, pen + g->bitmap_left,
                      l.y + 12 - g->bitmap_top, 0xFFFFFF);
                pen += (int)(g->advance.x >> 6);
                previous = index;
            }
        }
    };
    double tFreeType = Time(freetype);

    // The whole layout: runs, wrapping, the text image and its blend.
    auto whole = [&](const std::string &t) {
        lvTextOptions o;
        InitTextOptions(&o, 1);
        o.objectType = LV_TEXT_TEXTOUT;
        o.style.style = FORM_ANTIALIAS;
        o.style.colour = 0xFFFFFF;
        o.wrapWidth = 600;
        o.text = t.data();
        o.length = t.size();
        lvTextImage image;
        LayoutText(&fm, cached, &o, &image);
        Blend(argb, W, H, image.alpha.data(), image.width, image.height, 0, 0, 0xFFFFFF);
    };
    // LV_TEXT_BENCH_PROFILE=N: only the whole layout, N times, for a profiler.
    if (const char *profile = std::getenv("LV_TEXT_BENCH_PROFILE")) {
        for (int i = std::atoi(profile); i > 0; i--) whole(text);
        DoneFontManager(&fm);
        return 0;
    }
    double tWhole = Time([&] { whole(text); });
    double tTagged = Time([&] { whole(tagged); });

    // SDL2_ttf.
    TTF_Init();
    TTF_Font *ttf = TTF_OpenFont(kVera, 16);
    double tTtf = Time([&] {
        SDL_Surface *s = TTF_RenderUTF8_Blended_Wrapped(ttf, text.c_str(), SDL_Color{255, 255, 255, 255}, 600);
        SDL_FreeSurface(s);
    });

    std::printf("Vera Sans 16 px, anti-aliased, %zu characters wrapped at 600 px (%zu lines)\n", text.size(),
                lines.size());
    Row("glyphs/s: engine, glyph cache vs plain FreeType loop", glyphs / tCached, glyphs / tFreeType, "g/s");
    Row("glyphs/s: engine, no glyph cache vs plain FreeType", glyphs / tUncached, glyphs / tFreeType, "g/s");
    Row("glyphs/s: whole layout + blend vs SDL2_ttf wrapped", glyphs / tWhole, glyphs / tTtf, "g/s");
    std::printf("ms per 1,000-character layout: plain %.3f, tagged %.3f (SDL2_ttf wrapped %.3f)\n", tWhole * 1e3,
                tTagged * 1e3, tTtf * 1e3);
    TTF_CloseFont(ttf);
    TTF_Quit();
    FT_Done_Face(face);
    FT_Done_FreeType(lib);
    DoneFontManager(&fm);
    return 0;
}

// pathtext.cpp - glyph outlines of path text and the vector-font handles of
// path buffers.
#include <cstdlib>
#include <cstring>
#include <unistd.h>

#include "base/lverrors.h"
#include "text/lvpathtext.h"

#include FT_OUTLINE_H

bool NextPathTextChar(const char *text, size_t length, size_t *position, uint32_t *code)
{
    size_t p = *position;
    if (p >= length) return false;
    uint8_t lead = (uint8_t)text[p];
    int extra = lead < 0x80 ? 0 : (lead & 0xE0) == 0xC0 ? 1 : (lead & 0xF0) == 0xE0 ? 2 : (lead & 0xF8) == 0xF0 ? 3 : -1;
    if (extra <= 0) {
        // ASCII, or a byte that begins no sequence: its own code.
        *code = lead;
        *position = p + 1;
        return true;
    }
    // The whole sequence must lie within the text; a lead byte at the end
    // (or a cut sequence) ends the text.
    if (p + (size_t)extra >= length) return false;
    uint32_t c = lead & (0x3F >> extra);
    for (int k = 1; k <= extra; k++) {
        uint8_t b = (uint8_t)text[p + (size_t)k];
        if ((b & 0xC0) != 0x80) {
            *code = lead;
            *position = p + 1;
            return true;
        }
        c = c << 6 | (b & 0x3F);
    }
    *code = c;
    *position = p + 1 + (size_t)extra;
    return true;
}

namespace {

struct OutlineWalk {
    const lvPathSink *sink;
    double x, y;
    bool open;
};

double X(const OutlineWalk *w, const FT_Vector *v) { return w->x + v->x / 64.0; }
// FreeType's y grows upwards; the path's downwards.
double Y(const OutlineWalk *w, const FT_Vector *v) { return w->y - v->y / 64.0; }

int MoveFn(const FT_Vector *to, void *user)
{
    OutlineWalk *w = (OutlineWalk *)user;
    if (w->open && w->sink->Close) w->sink->Close(w->sink->context);
    if (w->sink->MoveTo) w->sink->MoveTo(w->sink->context, X(w, to), Y(w, to));
    w->open = true;
    return 0;
}
int LineFn(const FT_Vector *to, void *user)
{
    OutlineWalk *w = (OutlineWalk *)user;
    if (w->sink->LineTo) w->sink->LineTo(w->sink->context, X(w, to), Y(w, to));
    return 0;
}
int ConicFn(const FT_Vector *c, const FT_Vector *to, void *user)
{
    OutlineWalk *w = (OutlineWalk *)user;
    if (w->sink->ConicTo) w->sink->ConicTo(w->sink->context, X(w, c), Y(w, c), X(w, to), Y(w, to));
    return 0;
}
int CubicFn(const FT_Vector *c1, const FT_Vector *c2, const FT_Vector *to, void *user)
{
    OutlineWalk *w = (OutlineWalk *)user;
    if (w->sink->CubicTo)
        w->sink->CubicTo(w->sink->context, X(w, c1), Y(w, c1), X(w, c2), Y(w, c2), X(w, to), Y(w, to));
    return 0;
}

}  // namespace

int AddPathTextOutlines(FT_Face face, int size, const char *text, size_t length, double *x, double *y,
                        const lvPathSink *sink)
{
    if (!face || size <= 0 || size > 4096) return ERR_VFONT;
    if (FT_Set_Char_Size(face, 0, (FT_F26Dot6)size * 64, 72, 72)) return ERR_VFONT;
    static const FT_Outline_Funcs funcs = {MoveFn, LineFn, ConicFn, CubicFn, 0, 0};
    size_t position = 0;
    uint32_t code;
    while (NextPathTextChar(text, length, &position, &code)) {
        FT_UInt index = FT_Get_Char_Index(face, code);
        if (FT_Load_Glyph(face, index, FT_LOAD_NO_BITMAP)) break;
        FT_GlyphSlot g = face->glyph;
        if (g->format == FT_GLYPH_FORMAT_OUTLINE && g->outline.n_contours > 0) {
            OutlineWalk walk{sink, *x, *y, false};
            FT_Outline_Decompose(&g->outline, &funcs, &walk);
            if (walk.open && sink->Close) sink->Close(sink->context);
        }
        *x += g->advance.x / 64.0;
    }
    return 0;
}

namespace {

const lvVectorFontOps *vectorFontOps;

void FreeNode(lvVectorFontNode *n)
{
    if (n->engine && vectorFontOps) {
        if (n->vectorFont) vectorFontOps->Free(n->engine, n->vectorFont);
        if (n->face) vectorFontOps->Close(n->engine, n->face);
    }
    std::free(n->data);
    *n = lvVectorFontNode{};
}

}  // namespace

int GetVectorFont(lvVectorFontTable *table, const void *engine, lvFont *font, uint32_t *handle)
{
    *handle = 0;
    if (!font || font->type != LV_FONT_TRUETYPE) return ERR_VFONTTYPE;
    for (size_t i = 0; i < table->nodes.size(); i++) {
        const lvVectorFontNode &n = table->nodes[i];
        if (n.font == font && n.engine == engine) {
            *handle = (uint32_t)(i + 1);
            return 0;
        }
    }
    lvVectorFontNode node{font, engine, nullptr, nullptr, nullptr};
    if (!engine) {
        node.vectorFont = GetTrueTypeFace(font);
        if (!node.vectorFont) return ERR_VFONT;
    } else {
        if (!vectorFontOps) return ERR_VFONT;
        if (vectorFontOps->UsesOpenFont(engine)) {
            const uint8_t *data;
            size_t size;
            if (int e = GetTrueTypeSource(font, &data, &size, &node.data)) return e;
            if (size > 0x7FFFFFFF) {
                std::free(node.data);
                return ERR_VFONT;
            }
            node.face = vectorFontOps->Open(engine, data, (int32_t)size);
            if (!node.face) {
                std::free(node.data);
                return ERR_VFONT;
            }
            node.vectorFont = vectorFontOps->Create(engine, node.face);
        } else {
            node.vectorFont = vectorFontOps->Create(engine, GetTrueTypeFace(font));
        }
        if (!node.vectorFont) {
            if (node.face) vectorFontOps->Close(engine, node.face);
            std::free(node.data);
            return ERR_VFONT;
        }
    }
    try {
        table->nodes.push_back(node);
    } catch (...) {
        FreeNode(&node);
        return ERR_MEM;
    }
    *handle = (uint32_t)table->nodes.size();
    return 0;
}

void SetVectorFontOps(const lvVectorFontOps *ops) { vectorFontOps = ops; }

int GetTrueTypeSource(lvFont *font, const uint8_t **data, size_t *size, uint8_t **owned)
{
    *data = nullptr, *size = 0, *owned = nullptr;
    if (!font || font->type != LV_FONT_TRUETYPE || !font->driverHandle) return ERR_VFONT;
    auto *tt = (lvTrueTypeFont *)font->driverHandle;
    if (tt->memory) {
        *data = tt->memory, *size = tt->memorySize;
        return 0;
    }
    if (tt->fd < 0 || tt->length == 0) return ERR_VFONT;
    auto *buffer = (uint8_t *)std::malloc(tt->length);
    if (!buffer) return ERR_MEM;
    size_t done = 0;
    while (done < tt->length) {
        ssize_t n = pread(tt->fd, buffer + done, tt->length - done, (off_t)tt->baseOffset + (off_t)done);
        if (n <= 0) {
            std::free(buffer);
            return ERR_VFONT;
        }
        done += (size_t)n;
    }
    *data = *owned = buffer;
    *size = tt->length;
    return 0;
}

void FreeAllVectorFonts(lvVectorFontTable *table)
{
    for (lvVectorFontNode &n : table->nodes) FreeNode(&n);
    table->nodes.clear();
}

lvFont *FindFontByVectorHandle(const lvVectorFontTable *table, uint32_t handle)
{
    if (handle == 0 || handle > table->nodes.size()) return nullptr;
    return table->nodes[handle - 1].font;
}

void *GetVectorFontOfHandle(const lvVectorFontTable *table, uint32_t handle)
{
    if (!FindFontByVectorHandle(table, handle)) return nullptr;
    return table->nodes[handle - 1].vectorFont;
}

void FreeFontVectorHandles(lvVectorFontTable *table, lvFont *font)
{
    for (lvVectorFontNode &n : table->nodes)
        if (n.font == font) FreeNode(&n);
}

int ResolvePathFonts(lvVectorFontTable *table, const void *engine, uint8_t *buffer, size_t size)
{
    auto read32 = [&](size_t at) {
        uint32_t v;
        std::memcpy(&v, buffer + at, 4);
        return v;  // little-endian hosts only, as the buffer is
    };
    size_t at = 0;
    while (at + 4 <= size) {
        uint32_t code = read32(at);
        at += 4;
        if (code == 0) return 0;
        size_t need;
        switch (code) {
        case 1: case 2: need = 20; break;
        case 3: need = 52; break;
        case 5: case 6: need = 0; break;
        case 7: need = 52; break;
        case 8: need = 48; break;
        case 9: {
            if (at + 8 > size) return ERR_WRONGUSAGE;
            const char *text = (const char *)buffer + at + 8;
            size_t room = size - at - 8;
            const void *end = std::memchr(text, 0, room);
            if (!end) return ERR_WRONGUSAGE;
            size_t field = PathTextFieldSize((size_t)((const char *)end - text));
            if (field > room) return ERR_WRONGUSAGE;
            lvFont *font = FindFontByVectorHandle(table, read32(at));
            if (!font) return ERR_VFONT;
            uint32_t handle;
            if (int err = GetVectorFont(table, engine, font, &handle)) return err;
            std::memcpy(buffer + at, &handle, 4);
            need = 8 + field;
            break;
        }
        default: return ERR_WRONGUSAGE;
        }
        if (need > size - at) return ERR_WRONGUSAGE;
        at += need;
    }
    return 0;
}

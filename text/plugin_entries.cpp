// plugin_entries.cpp - the font sub-tables of the plug-in interface: the font-file lookup
// through the text library's font manager, FreeType's own functions, and the built-in
// Vera faces.
//
// Depends on: text/lvfont.h, text/lvtextlib.h, text/lvtruetype.h, runtime/plugin.h.
#include <cstdio>

#include "runtime/plugin.h"
#include "text/lvfont.h"
#include "text/lvtextlib.h"
#include "text/lvtruetype.h"

#include FT_GLYPH_H
#include FT_OUTLINE_H
#include FT_SFNT_NAMES_H
#include FT_TRUETYPE_TABLES_H

namespace {

int32_t FindFontFileEntry(const char *name, int32_t, uint32_t style, char *path, size_t pathSize)
{
    if (path && pathSize) *path = 0;
    lvTextLibrary *text = GetTextLibrary();
    if (!name || !path || !pathSize || !text || !text->open) return 0;
    char found[4096];
    uint32_t offset = 0, length = 0;
    int temporary = 0;
    // Whole files only: a face cut out of a collection would be a temporary file the
    // plug-in cannot know to delete.
    if (FindFontFile(&text->fonts, name, style & 1 ? FONTWEIGHT_BOLD : FONTWEIGHT_NORMAL,
                     style & 2 ? FONTSLANT_ITALIC : FONTSLANT_ROMAN, 1, found, sizeof found, &offset, &length,
                     &temporary))
        return 0;
    if (temporary) std::remove(found);
    if (temporary || std::snprintf(path, pathSize, "%s", found) >= (int)pathSize) {
        *path = 0;
        return 0;
    }
    return 1;
}

template <typename F> lvApiStdFunction Slot(F *f) { return reinterpret_cast<lvApiStdFunction>(f); }

}  // namespace

void InstallFontPluginEntries(void)
{
    static const lvApiFontLookup lookup = {FindFontFileEntry};
    static const lvApiFontEngine engine = {
        Slot(FT_Init_FreeType), Slot(FT_Done_FreeType), Slot(FT_New_Face), Slot(FT_New_Memory_Face),
        Slot(FT_Done_Face), Slot(FT_Select_Charmap), Slot(FT_Set_Charmap), Slot(FT_Get_Char_Index),
        Slot(FT_Load_Glyph), Slot(FT_Load_Char), Slot(FT_Render_Glyph), Slot(FT_Outline_Get_CBox),
        Slot(FT_Outline_Decompose), Slot(FT_Get_Kerning), Slot(FT_Get_Glyph_Name), Slot(FT_Get_First_Char),
        Slot(FT_Get_Next_Char), Slot(FT_Set_Char_Size), Slot(FT_Set_Transform), Slot(FT_Set_Pixel_Sizes),
        Slot(FT_Get_Sfnt_Table), Slot(FT_MulFix), Slot(FT_Vector_Transform), Slot(FT_DivFix),
        Slot(FT_Outline_Translate), Slot(FT_Outline_Transform), Slot(FT_Outline_Embolden),
        Slot(FT_Outline_Get_Bitmap), Slot(FT_Get_Glyph), Slot(FT_Glyph_Copy), Slot(FT_Glyph_Transform),
        Slot(FT_Glyph_Get_CBox), Slot(FT_Glyph_To_Bitmap), Slot(FT_Done_Glyph), Slot(FT_Get_Postscript_Name),
        Slot(FT_Get_Sfnt_Name_Count), Slot(FT_Get_Sfnt_Name), Slot(FT_Library_Version),
    };
    static lvApiFontData data;
    data.sans = BuiltInFace("Bitstream Vera Sans", &data.sansSize);
    data.mono = BuiltInFace("Bitstream Vera Sans Mono", &data.monoSize);
    data.serif = BuiltInFace("Bitstream Vera Serif", &data.serifSize);
    SetPluginFontEntries(&lookup, &engine, &data);
}

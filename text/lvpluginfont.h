// lvpluginfont.h - fonts served by plug-ins of the font family: opening
// through a plug-in's LoadFont with the check of its answer, and measuring,
// drawing, kerning, scaling and freeing through its exports.
//
// Depends on: text/lvfont.h, runtime/lvplugin.h. Limits: script thread only.
#pragma once
#include "runtime/lvplugin.h"
#include "text/lvfont.h"

// Asks the plug-in for name at size. 1 when it answered with a font the
// runtime can draw (the font filled as type 6), else 0 (a refused answer is
// freed again).
int OpenPluginFont(lvPluginRecord *record, const char *name, int size, int usePoints, const char *adapter,
                   lvFont *font);
int MeasurePluginText(lvFont *font, const char *text, size_t length, int style, int charSpacing, int encoding,
                      lvFontExtent *out);
// Into a mask plane (depth-1 fonts, and depth-8 fonts drawn without
// anti-aliasing), or an 8-bit plane: coverage, or pens of a pen font.
int RenderPluginText(lvFont *font, const lvFontPlane *target, int x, int y, const char *text, size_t length,
                     int style, int charSpacing, int encoding, const lvFontClip *clip);
int GetPluginKerning(lvFont *font, const char *pair, size_t length, int encoding);
void ScalePluginFont(lvFont *font, double sx, double sy);
void FreePluginFont(lvFont *font);

// A font that lays text out itself gets the whole request: the layout record
// (colour, wrap width, alignment, style, spacing, PRINT's cursor x, tab stops)
// goes with the text to its MeasureText and RenderText, and the planes it
// draws become the text image (coverage or mask in the text colour, pens in
// the font's palette, a colour font's own pixels). Sets the options'
// adjust offsets and PRINT's final cursor. 0, the plug-in's code, ERR_MEM.
struct lvTextOptions;
struct lvTextImage;
int LayoutPluginText(lvFont *font, lvTextOptions *options, lvTextImage *image);

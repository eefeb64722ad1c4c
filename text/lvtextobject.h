// lvtextobject.h - text objects (type 8): laid-out text kept as an image with
// a copy of its layout options, so that scaling lays the text out again at the
// new size (where the font scales) instead of stretching pixels, and rotation
// and other transforms turn the laid-out image.
//
// Depends on: text/lvtextlayout.h, runtime/objects.h.
// Limits: script thread only.
#pragma once
#include <string>

#include "text/lvtextlayout.h"

struct lvTextObject {
    lvObjectHeader header;           // type 8
    lvTextImage image;               // the current image (after any transform)
    int width, height;               // current
    int baseWidth, baseHeight;       // as laid out
    int depth;                       // 8 alpha only, 32 RGB with alpha
    int adjustX, adjustY;            // current: the image's corner from the layout origin
    int baseAdjustX, baseAdjustY;
    int locked, detached, paletteMode, transformed, noAdjust, tagsOff;
    lvFont *font;                    // the font the text was laid out in
    std::string text;                // the options' text
    lvTextOptions options;
    double sx, rx, ry, sy;           // the transform: x' = sx x + ry y, y' = rx x + sy y
    double scaleX, scaleY, rotation; // what the matrix was built from
    int smooth;
};

// Lays options (text copied) out as a text object under number (makeHandle: a
// new handle). An object with the number is freed first. 0 or the layout's error.
int CreateTextObjectRecord(lvFontManager *fm, lvFont *font, int number, bool makeHandle, const lvTextOptions &options,
                           lvTextObject **out);
// 0, ERR_FINDARRAY (handle) or ERR_FINDTEXTOBJECT (number, set as the message's argument).
int FindTextObjectById(lvObjectId id, lvTextObject **out);
int FreeTextObjectById(lvObjectId id);
void FreeAllTextObjects();
// ERR_WRONGUSAGE for the same id; the new object replaces one under its number.
int CopyTextObjectRecord(lvObjectId source, int number, bool makeHandle, lvTextObject **out);

// The transforms: the matrix changes, then the text is laid out again (scale
// only, scalable font) or its image turned; on failure the old image stays.
// width, height 0 -> ERR_WRONGUSAGE.
int ScaleTextObject(lvFontManager *fm, lvTextObject *object, int width, int height, int smooth);
int RotateTextObject(lvFontManager *fm, lvTextObject *object, double angle, int smooth);
// sx or sy 0 -> ERR_WRONGUSAGE.
int TransformTextObject(lvFontManager *fm, lvTextObject *object, double sx, double rx, double ry, double sy,
                        int smooth);


// Lends text objects' pictures to the brush conversions (false takes them back).
void InstallTextObjectPictures(bool install);

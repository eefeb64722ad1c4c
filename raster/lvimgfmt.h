// lvimgfmt.h - the picture-format ids shared by identification (formats/), probes
// and the graphics library's IMGFMT_ constants.
#pragma once

enum {
    IMGFMT_BMP = 0,
    IMGFMT_PNG = 1,
    IMGFMT_JPEG = 2,
    IMGFMT_GIF = 3,
    IMGFMT_ILBM = 4,
    IMGFMT_TIFF = 5,
    IMGFMT_NATIVE = 6,
    IMGFMT_PLUGIN = 7,
    IMGFMT_UNKNOWN = 8,
};

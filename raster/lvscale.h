// lvscale.h - scaling and 2x2 transforms of pictures and raw pixel buffers.
//
// A picture is a set of up to four planes (RGB, 1-bit mask, 8-bit alpha, 8-bit
// pens); every entry point transforms all planes of a set together so that
// they stay aligned. Positions are 16.16 fixed point; nearest sampling takes
// the left/top edge of each target pixel (no half-pixel offset). Exact quarter
// and half turns are lossless copies; any other matrix is inverse-mapped.
// Video bitmaps of an adapter that can scale or transform them are handed to
// the adapter; a video adapter path is tried first and the software path
// follows when the adapter has the video fallback flag.
//
// Kernels serve 32-bit pixels (formats 10-13); 16- and 24-bit RGB planes are
// copied by nearest sampling whatever the smooth flag says.
//
// Depends on: raster/lvbitmap.h, raster/lvrect.h (lvMatrix2D).
// Limits: script thread only, except ScaleRowsInterpolated, which is
// re-entrant (its position tables live in the job).
#pragma once
#include <cstdint>

#include "raster/lvbitmap.h"
#include "raster/lvrect.h"

// What the kernels work on. All fields zero unless set.
struct lvScaleJob {
    const uint8_t *source;       // RGB source, already at the source rectangle's first pixel
    uint8_t *target;             // RGB target, first pixel
    int sourceRow, targetRow;    // RGB row lengths in pixels
    int format;                  // lvPixelFormat of both RGB planes
    int bytesPerPixel;           // of both RGB planes
    const uint8_t *maskSource;   // source mask, first row of the whole mask (bits counted from sourceX, rows from sourceY)
    uint8_t *maskTarget;         // target mask, first row
    int maskSourceRow, maskTargetRow;  // mask row bytes
    const uint8_t *planeSource;  // source byte plane (alpha or pens), already at the rectangle's first byte
    uint8_t *planeTarget;        // target byte plane, first byte
    int planeSourceRow, planeTargetRow;  // byte plane row bytes
    int sourceX, sourceY;        // source rectangle's origin (mask bit positions)
    int sourceWidth, sourceHeight;
    int targetWidth, targetHeight;
    int smooth;                  // 1: bilinear instead of nearest
    int64_t *xTable;             // targetWidth + 1 16.16 positions, or null (the kernel makes its own)
    int64_t *yTable;             // targetHeight + 1 16.16 positions, or null
    double transform[6];         // affine kernel: sx, rx, ry, sy, tx, ty
    int turn;                    // quarter-turn kernel: 1 quarter, 2 three-quarter turn
};

// Scales RGB, mask and byte plane of the job together. 0, or ERR_MEM when the
// job brought no tables and they cannot be made.
int ScaleRowsInterpolated(lvScaleJob *job);
// Inverse-maps the job's planes through its six-double transform.
void TransformRowsAffine(lvScaleJob *job);
// Exact quarter (turn 1) or three-quarter (turn 2) turn of the job's planes;
// the target mask must be cleared.
void RotateQuarterTurn(lvScaleJob *job);
// The span [*start, *end] of target columns of row y whose source point lies
// inside the source (inverse map a, b, c, d; source = a*X + c*Y + e, b*X + d*Y + f);
// 0 when the span is empty.
int ClipAffineSpan(const double inverse[6], int y, int sourceWidth, int sourceHeight, double minX, double maxX,
                   int targetWidth, int *start, int *end);

// Grows the run-wide scratch position tables of ScaleImage. 0 or ERR_MEM.
int EnsureScaleBuffers(int width, int height);
// Frees the scratch tables and the right-angle references (shut-down and tests).
void ReleaseScaleBuffers();

// Scales a rectangle of raw pixels; with a null target a buffer of
// targetWidth x targetHeight pixels (row length targetWidth) is made with
// AllocMemory. One-byte formats are scaled as a byte plane (nearest), others
// as RGB. The target pixels, or null when memory runs out or a size is <= 0.
void *ScalePixelBuffer(const void *source, int sourceX, int sourceY, int sourceWidth, int sourceHeight, void *target,
                       int targetX, int targetY, int targetWidth, int targetHeight, int sourceRow, int targetRow,
                       int format, int smooth);

// Scales the source rectangle of a picture. With a caller's target RGB (and
// byte plane) nothing is made and no mask is scaled; else new planes go to the
// out-pointers (each left unset when the plane does not exist). A target size
// <= 0 returns 0 and makes nothing. 0 or an error code; on failure nothing is
// left allocated and the out-pointers are untouched.
int ScaleImage(lvBitMapHandle *rgb, lvBitMapHandle *mask, lvBitMapHandle *alpha, lvBitMapHandle *pens, int sourceX,
               int sourceY, lvBitMapHandle *targetRgb, lvBitMapHandle *targetPlane, int sourceWidth, int sourceHeight,
               int targetWidth, int targetHeight, int smooth, void *display, lvBitMapHandle **newRgb,
               lvBitMapHandle **newMask, lvBitMapHandle **newAlpha, lvBitMapHandle **newPens);

// A transformed picture set: the planes made and its size.
struct lvImageSetOut {
    lvBitMapHandle *rgb, *mask, *alpha, *pens;
    int x, y;           // new position (TransformImageSet only)
    int width, height;  // new size
};

enum : int { TRANSFORM_PICTURE = 0, TRANSFORM_IMAGESOURCE = 1 };

// context: the script state handed to the image-source renderer.
int TransformImageSet(void *context, int sourceKind, void *imageSource, lvBitMapHandle *rgb, lvBitMapHandle *mask,
                      lvBitMapHandle *alpha, lvBitMapHandle *pens, int sourceX, int sourceY, int positionX,
                      int positionY, int width, int height, const double anchor[2], const lvMatrix2D *matrix,
                      int smooth, int transparentPen, void *display, lvImageSetOut *out);
int TransformImageAffine(lvBitMapHandle *rgb, lvBitMapHandle *mask, lvBitMapHandle *alpha, lvBitMapHandle *pens,
                         int sourceX, int sourceY, int width, int height, const lvMatrix2D *matrix, int smooth,
                         int transparentPen, void *display, lvImageSetOut *out);

// Bounds of a transformed rectangle: position from GetTransformedRectBounds,
// size exact for right angles, else from ComputeScaledSize (each >= 1).
// corners (eight doubles) optional.
void TransformRectBounds(double offsetX, double offsetY, double x, double y, double width, double height,
                         double anchorWidth, double anchorHeight, const double anchor[2], const lvMatrix2D *matrix,
                         int *newX, int *newY, int *newWidth, int *newHeight, double *corners);
void ComputeScaledSize(const lvMatrix2D *matrix, int width, int height, int *newWidth, int *newHeight,
                       double *corners);
// Whether a picture of width x height can be turned through the matrix: ERR_WRONGUSAGE for
// a non-finite or singular matrix, ERR_BITMAP when the turned size is beyond what the size
// helpers make (they would answer 1 for it), else 0.
int CheckMatrixResult(const lvMatrix2D *matrix, int width, int height);
void GetTransformedImageSize(const lvMatrix2D *matrix, int width, int height, int *newWidth, int *newHeight,
                             double *minX, double *minY, double *corners);
// Bit-exact comparison with the rotation routine's right-angle matrices.
void DetectRightAngleMatrix(const lvMatrix2D *matrix, int *turn, int *fullTurn, int *halfTurn);

// Mirrors the planes in place: left-right (horizontal set) or top-bottom.
// Any plane may be null; plane is an alpha or pen plane. 0, ERR_LOCKBMAP or ERR_MEM.
int MirrorBitmaps(lvBitMapHandle *rgb, lvBitMapHandle *mask, lvBitMapHandle *plane, int width, int height,
                  int horizontal);

// The rotation routine: diagonal (scaleX, scaleY) turned by angle degrees
// (counter-clockwise on the screen), angle reduced by 360 with fmod.
void BuildRotationMatrix(double scaleX, double scaleY, double angle, lvMatrix2D *m);

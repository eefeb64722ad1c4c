// lveffects.h - image effects on bitmap handles: convolutions (blur, emboss,
// edge, sharpen) and soft shadow masks, colour effects, geometric effects
// (swirl, ripple, pixelate), the distortion engine and the pixel kernels that
// the transitions share with them.
//
// Every effect works in place on the handles it is given, locks and unlocks
// within the call (or uses the caller's lock where one is passed), changes
// colours only of 32-bit pixels (formats 10 to 13) and leaves bitmaps of other
// pixel sizes untouched without an error. Colour passes write 0 into the alpha
// position of the pixel: the alpha of a picture lives in its own plane.
//
// Depends on: raster/lvbitmap.h, raster/lvplanes.h, raster/lvimage.h.
// Limits: script thread only.
#pragma once
#include <cstdint>

#include "raster/lvbitmap.h"

// ---- Convolution ------------------------------------------------------------
enum : int { CONVOLVE_BLUR = 'b', CONVOLVE_EMBOSS = 'e', CONVOLVE_EDGE = 'g', CONVOLVE_SHARPEN = 's' };

// The request the entry point fills.
struct lvConvolveJob {
    uint32_t *pixels;   // first pixel of the locked RGB bitmap, or null
    int width, height;  // the area (also of the plane)
    int rowLength;      // pixels from one row to the next
    int format;         // lvPixelFormat
    int bytesPerPixel;  // the colour pass runs only for 4
    uint8_t *plane;     // first byte of the 8-bit plane, or null
    int planeRowBytes;  // bytes from one plane row to the next
    double radius;      // 0 or more; 0 lets the width follow from sigma
    double sigma;       // Gaussian standard deviation
    int kind;           // CONVOLVE_...
};

// Kernel widths (always odd); -1 when the width does not fit an int.
int KernelWidth1D(double radius, double sigma);
int KernelWidth2D(double radius, double sigma);
// w weights (AllocMemory), or null.
double *MakeBlurKernel(int width, double sigma);
// w x w weights in rows, scaled (AllocMemory), or null.
double *MakeSquareKernel(int kind, int width, double sigma);
// 0, or ERR_MEM when a padded copy or the kernel cannot be had (nothing changed).
int RunConvolution(const lvConvolveJob *job);
// 0, ERR_LOCKBMAP or ERR_MEM. rgb and plane may be null; lock is the caller's
// lock of rgb, or null to lock it here.
int ConvolveImage(int kind, lvBitMapHandle *rgb, lvBitMapHandle *plane, int width, int height, double radius,
                  double sigma, lvBitMapLock *lock);
// A new alpha bitmap of (width + 2d) x (height + 2d), d = trunc(radius), with
// the blurred silhouette of the source planes at (d, d); null on failure.
lvBitMapHandle *BuildShadowMask(lvBitMapHandle *alpha, lvBitMapHandle *mask, lvBitMapHandle *chunky,
                                int transparentPen, int sourceX, int sourceY, int width, int height, double radius,
                                double sigma, int opacity, int hard, int secondPass);

// ---- Colour effects ---------------------------------------------------------
// Each gives 0 or an error code (ERR_LOCKBMAP, ERR_MEM).
int GrayImage(lvBitMapHandle *bitmap, int width, int height, lvBitMapLock *lock = nullptr);
int MonochromeImage(lvBitMapHandle *bitmap, int width, int height, int dither);
int InvertImage(lvBitMapHandle *bitmap, int width, int height, lvBitMapLock *lock = nullptr);
void InvertBytes(uint8_t *plane, int rows, int rowBytes);
int SolarizeImage(lvBitMapHandle *bitmap, int width, int height, int threshold);
int GammaImage(lvBitMapHandle *bitmap, int width, int height, double red, double green, double blue);
int ContrastImage(lvBitMapHandle *bitmap, int width, int height, int sharpen, int count,
                  lvBitMapLock *lock = nullptr);
int ModulateImage(lvBitMapHandle *bitmap, int width, int height, double brightness, double saturation, double hue);
int NormalizeImage(lvBitMapHandle *bitmap, int width, int height, int blackCount, int whiteCount,
                   lvBitMapLock *lock = nullptr);
int SepiaToneImage(lvBitMapHandle *bitmap, int width, int height, int threshold);
int CharcoalImage(lvBitMapHandle *bitmap, lvBitMapHandle *alpha, int width, int height, double radius, double sigma);
int OilPaintImage(lvBitMapHandle *bitmap, int width, int height, double radius);
// Gamma table of one component: 256 entries.
void BuildGammaTable(double gamma, uint8_t table[256]);

// The two-colour quantiser MonochromeImage dithers with: pens (one byte a
// pixel, 0 or 1) for width x height ARGB pixels; 0 or an error. The default
// is an error-diffusion to black and white; the palette quantiser replaces it.
using lvTwoColourQuantiser = int (*)(const uint32_t *argb, int width, int height, uint8_t *pens);
void SetTwoColourQuantiser(lvTwoColourQuantiser quantiser);

// Colour spaces.
void RgbToHsb(int r, int g, int b, double *hue, double *saturation, double *brightness);
void HsbToRgb(double hue, double saturation, double brightness, int *r, int *g, int *b);
void RgbToHsl(int r, int g, int b, double *hue, double *saturation, double *lightness);
void HslToRgb(double hue, double saturation, double lightness, int *r, int *g, int *b);

// The colour effects on a palette's 256 words (an RGB view of 256 x 1):
// gray; solarize (threshold); gamma (red, green, blue); contrast (sharpen
// flag, count); modulate (brightness, saturation, hue factors); invert.
enum : int {
    PALETTE_EFFECT_GRAY = 0, PALETTE_EFFECT_SOLARIZE, PALETTE_EFFECT_GAMMA, PALETTE_EFFECT_CONTRAST,
    PALETTE_EFFECT_MODULATE, PALETTE_EFFECT_INVERT,
};
// 0 or an error code (ERR_WRONGUSAGE for an unknown effect or missing arguments).
int RunPaletteEffect(uint32_t *palette, int effect, const double *args);

// ---- Geometric effects --------------------------------------------------------
// plane is an alpha channel, or a pen plane (then palette and transparentPen
// describe it and rgb is null).
int SwirlImage(lvBitMapHandle *rgb, lvBitMapHandle *mask, lvBitMapHandle *plane, int width, int height,
               int degrees);
int WaterRippleImage(lvBitMapHandle *rgb, lvBitMapHandle *mask, lvBitMapHandle *plane, int width, int height,
                     int wavelength, int amplitude, int phase, double centreX, double centreY);
int PixelateImage(lvBitMapHandle *rgb, lvBitMapHandle *mask, lvBitMapHandle *plane, int width, int height,
                  int blockSize, const uint32_t *palette = nullptr, int transparentPen = -1);
int IntSqrt(int64_t n);

// The planes a transition kernel reads or writes, already reached.
struct lvKernelPlanes {
    uint32_t *pixels;          // 32-bit colour, or null
    int rowLength;             // pixels a row
    int format;                // lvPixelFormat of pixels
    uint8_t *mask;             // 1-bit mask (MSB first), or null
    int maskRowBytes;
    uint8_t *plane;            // alpha channel or pen plane, or null
    int planeRowBytes;
    const uint32_t *palette;   // with a pen plane: 256 ARGB words
    int transparentPen;        // -1 none
    int width, height;
};
// Modes of the swirl and ripple kernels.
struct lvKernelBlend {
    const lvKernelPlanes *fade;    // fade mode: the alpha plane read at the source point
    const lvKernelPlanes *second;  // blend mode: the second image
    int reverse;                   // fade: use 255 - v
};
// Resample (blend null), fade or blend; source is read, target written; they
// may be the same planes in fade and blend modes only.
void SwirlKernel(const lvKernelPlanes *source, lvKernelPlanes *target, int step, const double *sines,
                 const double *cosines, const lvKernelBlend *blend);
// step -1: the effect with the given phase and amplitude.
void RippleKernel(const lvKernelPlanes *source, lvKernelPlanes *target, int step, int steps, int wavelength,
                  double amplitude, int phase, int centreX, int centreY, const int *distances, const double *sines,
                  const lvKernelBlend *blend);
void BuildSinCosTables(double *sines, double *cosines);
void PixelateKernel(const lvKernelPlanes *source, lvKernelPlanes *target, int blockSize);
void PixelatePens(const lvKernelPlanes *source, lvKernelPlanes *target, int blockSize);
int CopyPixelRect(const lvKernelPlanes *source, lvKernelPlanes *target, int sx, int sy, int width, int height,
                  int tx, int ty);
int CopyPenRect(const lvKernelPlanes *source, lvKernelPlanes *target, int sx, int sy, int width, int height, int tx,
                int ty);
struct lvWaveBand {
    int vertical;         // 0: rows, 1: columns
    int bandEnd;          // last row or column of the band
    int length;           // rows or columns of the band
    const double *offset; // length entries
    int copied;           // out: rows or columns copied
    int firstCopied;      // out: the first one copied, -100000 none
    int recordedEnd;      // out: the band end
};
void WaveBandCopy(const lvKernelPlanes *source, lvKernelPlanes *target, lvWaveBand *band);
void ThresholdRevealKernel(uint8_t *target, int targetRowBytes, const uint8_t *source, int sourceRowBytes,
                           const uint8_t *noise, int noiseRowBytes, int width, int height, int threshold, int invert,
                           int eightBit);

// ---- Distortion -------------------------------------------------------------
enum : int { DISTORT_PERSPECTIVE = 4, DISTORT_ARC = 9, DISTORT_POLAR = 10, DISTORT_BARREL = 12 };

struct lvDistortJob {
    int kind;
    int valueCount;
    const double *values;
    int sourceWidth, sourceHeight;
    int smooth;
    int error;
    int resultWidth, resultHeight;
    int resultX, resultY;
    double coefficients[16];
    int coefficientCount;
    // Source and result access.
    const uint8_t *sourcePixels; int sourceRowLength, sourceFormat, sourceBytes;
    const uint8_t *sourcePlane; int sourcePlaneRowBytes;   // alpha or pen plane
    const uint8_t *sourceMask; int sourceMaskRowBytes;
    uint8_t *resultPixels; int resultRowLength, resultFormat, resultBytes;
    uint8_t *resultPlane; int resultPlaneRowBytes;
    uint8_t *resultMask; int resultMaskRowBytes;
    int planeIsPens;        // the planes are pen planes (copied, never blended)
};
// 0, ERR_WRONGUSAGE or ERR_MEM.
int GenerateDistortCoefficients(lvDistortJob *job);
int ComputeDistortGeometry(lvDistortJob *job);
int RunDistortion(lvDistortJob *job);

// The distorted planes a DistortImage hands back.
struct lvDistortResult {
    lvBitMapHandle *rgb, *mask, *alpha, *chunky;
    int width, height, x, y;
};
int DistortImage(lvBitMapHandle *rgb, lvBitMapHandle *mask, lvBitMapHandle *alpha, lvBitMapHandle *chunky, int width,
                 int height, int kind, const double *values, int count, int smooth, int transparentPen,
                 lvDistortResult *out);

// Fills the raster engine's effect table with the routines above.
void InstallImageEffects();

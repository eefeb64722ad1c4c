// lvneighbours.h - what the drawing side of the raster engine needs of the
// subsystems above it: file formats (image sources), images and drawing
// (brushes, background pictures), layers and animations, and the displays'
// scale factors. One table per subsystem in the pattern of lvRasterServices:
// the owner installs its entries; every slot that is left null keeps a safe
// default (not found, nothing done), so callers never test for null.
//
// Depends on: raster/lvbitmap.h, raster/lvrect.h.
// Limits: script thread only.
#pragma once
#include <cstdint>

#include "raster/lvbitmap.h"
#include "raster/lvrect.h"

struct lvImageSource;
struct lvImageSetOut;

// What an image probe found.
struct lvImageProbe {
    int imageType;     // IMAGETYPE_RASTER 0, IMAGETYPE_VECTOR 1
    int format;        // IMGFMT_..., IMGFMT_UNKNOWN 8 when nothing was found
    int width, height, depth;
    int alpha;         // 1 with an alpha channel
    int transparency;  // 1 with a transparent colour or pen
};

// File formats.
struct lvFileFormatServices {
    void *context;
    // 1 when a loader recognised the file (probe filled), else 0.
    int (*ProbeImageFile)(void *context, void *state, const char *file, const char *loaders, const char *adapters,
                          const void *userTags, lvImageProbe *probe);
    // Renders a vector or plug-in source through the matrix into new planes of
    // the given size, shifted by (-minX, -minY). 0 or an error (default ERR_TFIMAGE).
    int (*RenderImageSource)(void *context, void *state, lvImageSource *source, const lvMatrix2D *matrix, double minX,
                             double minY, int width, int height, lvImageSetOut *out);
    void (*RetainImageSource)(void *context, lvImageSource *source);
    void (*ReleaseImageSource)(void *context, lvImageSource *source);
};

// A brush as the texture fill sees it.
struct lvBrushView {
    lvBitMapHandle *rgb, *mask, *alpha, *chunky;
    const uint32_t *palette;
    int width, height;
    int transparentPen = -1;  // of the pen plane, -1 none
};

// One side of a collision test as the layer and sprite owners describe it: its
// rectangle in display pixels and the images it shows (filled by their services).
struct lvCollisionSide;

// Images and drawing.
struct lvImagingServices {
    void *context;
    // 0 and the brush's planes, or an error (default ERR_FINDBRUSH).
    int (*FindBrushById)(void *context, void *state, int64_t id, lvBrushView *brush);
    // Turn decoded images into display bitmaps once a display is open. 0 or an error.
    int (*RealizeBrushImages)(void *context, void *state);
    int (*RealizeBGPicImages)(void *context, void *state);
    // Fills a polygon (count points, x and y doubles) with value into an 8-bit plane.
    void (*FillPolygonPlane)(void *context, uint8_t *pixels, int rowBytes, int width, int height, int value,
                             const double *polygon, int count);
    // The same as FindBrushById for a brush the script made with a Nil identifier (its handle).
    int (*FindBrushByHandle)(void *context, void *state, void *handle, lvBrushView *brush);
};

// Layers, sprites, animations.
struct lvLayerServices {
    void *context;
    // Layers of the current display (insert positions), and the position of a named layer (-1 none).
    int (*CountLayers)(void *context);
    int (*FindLayerByName)(void *context, const char *name);
    int (*RealizeAnimFrames)(void *context, void *state);
    int (*RealizeSpriteFrames)(void *context, void *state);
    // The layer at a 1-based position of the current background picture: its
    // on-screen rectangle, images and clip region. 0 or an error (default ERR_LAYERRANGE).
    int (*GetLayerCollisionSide)(void *context, void *state, int position, lvCollisionSide *side);
    // A sprite on screen: its rectangle and its current frame's images. 0 or an
    // error (default ERR_SPRITEONSCREEN).
    int (*GetSpriteCollisionSide)(void *context, void *state, int64_t id, lvCollisionSide *side);
};

// Displays: the scale factors of the current display.
struct lvDisplayScaleServices {
    void *context;
    // 1 and the factors when the display scales its output.
    int (*GetDisplayScale)(void *context, void *display, double *scaleX, double *scaleY);
    // 1 when the current display shows a scaled background picture: its
    // factors, its size and the scaled size.
    int (*GetScaledBackground)(void *context, double *scaleX, double *scaleY, int *width, int *height,
                               int *scaledWidth, int *scaledHeight);
};

struct lvNeighbourServices {
    lvFileFormatServices files;
    lvImagingServices imaging;
    lvLayerServices layers;
    lvDisplayScaleServices displays;
};
extern lvNeighbourServices NeighbourServices;

// Install one table (null slots keep the defaults; a null table restores them).
void SetFileFormatServices(const lvFileFormatServices *services);
void SetImagingServices(const lvImagingServices *services);
// Nothing calls SetLayerServices yet: kept for the layer engine, which installs its services here.
void SetLayerServices(const lvLayerServices *services);
void SetDisplayScaleServices(const lvDisplayScaleServices *services);

// neighbours.cpp - the default entries of the neighbouring services.
//
// Depends on: raster/lvneighbours.h.
#include "raster/lvneighbours.h"

#include "base/lverrors.h"

namespace {

int NoProbe(void *, void *, const char *, const char *, const char *, const void *, lvImageProbe *) { return 0; }
int NoRender(void *, void *, lvImageSource *, const lvMatrix2D *, double, double, int, int, lvImageSetOut *) {
    return ERR_TFIMAGE;
}
void NoReference(void *, lvImageSource *) {}
int NoBrush(void *, void *, int64_t, lvBrushView *) { return ERR_FINDBRUSH; }
int NoBrushHandle(void *, void *, void *, lvBrushView *) { return ERR_FINDBRUSH; }
int NothingToRealize(void *, void *) { return 0; }
void NoPolygon(void *, uint8_t *, int, int, int, int, const double *, int) {}
int NoLayers(void *) { return 0; }
int NoLayerNamed(void *, const char *) { return -1; }
int NoLayerSide(void *, void *, int, lvCollisionSide *) { return ERR_LAYERRANGE; }
int NoSpriteSide(void *, void *, int64_t, lvCollisionSide *) { return ERR_SPRITEONSCREEN; }
int NoDisplayScale(void *, void *, double *, double *) { return 0; }
int NoScaledBackground(void *, double *, double *, int *, int *, int *, int *) { return 0; }

constexpr lvFileFormatServices DefaultFiles = {nullptr, NoProbe, NoRender, NoReference, NoReference};
constexpr lvImagingServices DefaultImaging = {nullptr, NoBrush, NothingToRealize, NothingToRealize, NoPolygon,
                                               NoBrushHandle};
constexpr lvLayerServices DefaultLayers = {nullptr, NoLayers, NoLayerNamed, NothingToRealize, NothingToRealize, NoLayerSide,
                                           NoSpriteSide};
constexpr lvDisplayScaleServices DefaultDisplays = {nullptr, NoDisplayScale, NoScaledBackground};

template <typename T>
void Fill(T *slot, T given) {
    if (given) *slot = given;
}

}  // namespace

lvNeighbourServices NeighbourServices = {DefaultFiles, DefaultImaging, DefaultLayers, DefaultDisplays};

void SetFileFormatServices(const lvFileFormatServices *s) {
    lvFileFormatServices d = DefaultFiles;
    if (s) {
        d.context = s->context;
        Fill(&d.ProbeImageFile, s->ProbeImageFile);
        Fill(&d.RenderImageSource, s->RenderImageSource);
        Fill(&d.RetainImageSource, s->RetainImageSource);
        Fill(&d.ReleaseImageSource, s->ReleaseImageSource);
    }
    NeighbourServices.files = d;
}

void SetImagingServices(const lvImagingServices *s) {
    lvImagingServices d = DefaultImaging;
    if (s) {
        d.context = s->context;
        Fill(&d.FindBrushById, s->FindBrushById);
        Fill(&d.RealizeBrushImages, s->RealizeBrushImages);
        Fill(&d.RealizeBGPicImages, s->RealizeBGPicImages);
        Fill(&d.FillPolygonPlane, s->FillPolygonPlane);
        Fill(&d.FindBrushByHandle, s->FindBrushByHandle);
    }
    NeighbourServices.imaging = d;
}

void SetLayerServices(const lvLayerServices *s) {
    lvLayerServices d = DefaultLayers;
    if (s) {
        d.context = s->context;
        Fill(&d.CountLayers, s->CountLayers);
        Fill(&d.FindLayerByName, s->FindLayerByName);
        Fill(&d.RealizeAnimFrames, s->RealizeAnimFrames);
        Fill(&d.RealizeSpriteFrames, s->RealizeSpriteFrames);
        Fill(&d.GetLayerCollisionSide, s->GetLayerCollisionSide);
        Fill(&d.GetSpriteCollisionSide, s->GetSpriteCollisionSide);
    }
    NeighbourServices.layers = d;
}

void SetDisplayScaleServices(const lvDisplayScaleServices *s) {
    lvDisplayScaleServices d = DefaultDisplays;
    if (s) {
        d.context = s->context;
        Fill(&d.GetDisplayScale, s->GetDisplayScale);
        Fill(&d.GetScaledBackground, s->GetScaledBackground);
    }
    NeighbourServices.displays = d;
}

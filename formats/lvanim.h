// lvanim.h - anim handles: one reference-counted interface over the GIF, AVI and IFF ANIM
// readers, the native anim decoder and plug-in anim loaders, opened through the anim
// loader chain ("plugin|inbuilt|native"), handing out any frame with its palette, depth,
// transparent pen and delay.
// Dependencies: formats/lvgif.h, lvavi.h, lviffanim.h, lvnative.h, runtime/lvplugin.h.
#pragma once
#include "formats/lvformats.h"
#include <cstdint>

struct lvPluginRecord;

enum {
    LV_ANIM_GIF = 0,
    LV_ANIM_AVI = 1,
    LV_ANIM_IFF = 2,
    LV_ANIM_NATIVE = 3,
    LV_ANIM_PLUGIN = 4,
};

struct lvAnimHandle {
    void *decoder;
    lvVFile *file;          // kind 0: the GIF reader's file, which the handle owns
    int kind;
    int width, height;
    int vector;             // the loader draws vector frames
    int paletteMode, transparency;
    int refCount;
    lvPluginRecord *plugin; // kind 4
};

// 0, ERR_MEM, ERR_OPENANIM2 (the file opens but no loader takes it; path as error
// argument) or ERR_READFILE (the file cannot be opened). loaderList null: the default.
int OpenAnimHandle(const char *path, const char *loaderList, const char *adapter, const void *userTags,
                   int deinterlace, int paletteMode, int transparency, lvAnimHandle **handle, int *width,
                   int *height, int *frameCount, int *fourth, int *vector, lvPluginRecord **plugin);
void RetainAnimHandle(lvAnimHandle *handle);
void ReleaseAnimHandle(lvAnimHandle *handle);
// A new frame buffer (width x height pens in palette mode, else ARGB words) or null.
// palette: a new 1024-byte copy or null; transparentPen: an index, -1 none, -2 alpha.
void *FetchAnimFrame(lvAnimHandle *handle, int frame, void *target, uint32_t **palette, int *depth,
                     int *transparentPen, void **vectorSource);
void FreeAnimFrame(lvAnimHandle *handle, void *buffer);
int GetAnimFrameDelay(lvAnimHandle *handle, int frame);
const char *GetAnimFormatName(lvAnimHandle *handle);
// Opens without options: yes unless a GIF of one frame or less (or no anim at all).
int IsAnimFile(const char *path, const char *loaderList, const char *adapter, const void *userTags);
int IsIffAnimHandle(lvAnimHandle *handle);
// Statistic for the tests: decoders closed since start-up.
int64_t GetAnimDecoderCloseCount(void);

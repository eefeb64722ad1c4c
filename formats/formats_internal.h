// formats_internal.h - what the format files share and nobody else needs: memory blocks
// owned by a scope, and a written file that remembers its first failure.
// Dependencies: platform/lvplatform.h, runtime/vfile.h, runtime/errors.h.
#pragma once
#include "formats/lvformats.h"
#include "platform/lvplatform.h"
#include "runtime/errors.h"
#include "base/lverrors.h"
#include <memory>

// A block from AllocMemory freed at the end of its scope unless released.
struct lvFreeMemoryDeleter {
    void operator()(void *block) const { FreeMemory(block); }
};
template <typename T> using lvMemPtr = std::unique_ptr<T, lvFreeMemoryDeleter>;
template <typename T> lvMemPtr<T> AllocBlock(size_t bytes, int clear)
{
    return lvMemPtr<T>((T *)AllocMemory(bytes, clear));
}

// A file being written: short writes and a failing close become the writer's codes.
struct lvWrittenFile {
    lvVFile *file = nullptr;
    int error = 0;  // first failure (ERR_WRITE)

    // Opens for writing; ERR_WRITEFILE with the path as error argument when it cannot.
    int Open(const char *path, const char *adapter, const void *userTags)
    {
        file = OpenVFile(path, LV_VF_WRITE | LV_VF_ADAPTERS, adapter, userTags);
        if (file) return 0;
        SetErrorStringArg(path);
        return ERR_WRITEFILE;
    }
    bool Write(const void *data, int64_t length)
    {
        if (error) return false;
        if (WriteVFile(file, data, length) != length) error = ERR_WRITE;
        return !error;
    }
    // The first failure, or ERR_CLOSEFILE when only the close failed.
    int Close()
    {
        if (!file) return error;
        // No separate flush: the close reports what the flush of its buffer met.
        int closed = CloseVFile(file);
        file = nullptr;
        if (!error && !closed) error = ERR_CLOSEFILE;
        return error;
    }
    ~lvWrittenFile()
    {
        if (file) CloseVFile(file);
    }
};

// The loaded plug-in whose file-layer adapter record an adapter scan handed out.
lvPluginRecord *FindAdapterPluginRecord(const lvFileAdapter *adapter);

// The raster engine's pixel-buffer scaler and ARGB-to-bitmap conversion, as the loader
// and the renderer use them (raster_bridge.cpp).
uint32_t *ScaleSourcePixels(const void *pixels, int width, int height, int newWidth, int newHeight,
                            int sourceRowLength, int paletteMode, int scaleMode);
int MakeBitmapsFromArgb(const uint32_t *pixels, int width, int height, int rowLength, lvBitMapHandle **rgb,
                        lvBitMapHandle **mask, lvBitMapHandle **alpha);

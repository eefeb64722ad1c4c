// lvplatform.h - the platform layer as every other subsystem sees it.
// Linux implementation in platform/linux/. Nothing here calls into the runtime.
#pragma once
#include <cstddef>
#include <cstdint>

// ---- Memory -----------------------------------------------------------------
// One allocator for the whole system: any subsystem may free what another allocated.
// A size of 0 returns nullptr. With clear != 0 the block is zero-filled.
void *AllocMemory(size_t size, int clear);
// Releases a block from AllocMemory; nullptr is ignored.
void FreeMemory(void *block);

// ---- Paths, files and directories -------------------------------------------
#include "platform/lvplatform_files.h"

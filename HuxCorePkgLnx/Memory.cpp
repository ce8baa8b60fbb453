// The program's general allocator: zero-filled heap buffers.
#include <cstdlib>
#include "TKXPhysMem.h"

UINT8* AllocMem(UINT32 size) { return static_cast<UINT8*>(calloc(1, size == 0 ? 1 : size)); }

UINT8 FreeMem(void* buffer) {
    if (buffer != nullptr) free(buffer);
    return 1;
}

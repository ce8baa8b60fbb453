// The program's general allocator: zero-filled heap buffers. Buffers of a
// ROM's size (the image, the flash copy) ask the kernel for huge pages: their
// first touch then costs a few hundred page faults instead of one per 4 KiB.
#include <cstdint>
#include <cstdlib>
#include <sys/mman.h>
#include "TKXPhysMem.h"

static const UINT32 kHugePage = 2u << 20;

UINT8* AllocMem(UINT32 size) {
    UINT8* buffer = static_cast<UINT8*>(calloc(1, size == 0 ? 1 : size));
    if (buffer != nullptr && size >= 2 * kHugePage) {
        // The whole pages inside the buffer; a refusal changes nothing.
        const uintptr_t page = 4096;
        uintptr_t start = (reinterpret_cast<uintptr_t>(buffer) + page - 1) & ~(page - 1);
        uintptr_t end = (reinterpret_cast<uintptr_t>(buffer) + size) & ~(page - 1);
        if (end > start) madvise(reinterpret_cast<void*>(start), end - start, MADV_HUGEPAGE);
    }
    return buffer;
}

UINT8 FreeMem(void* buffer) {
    if (buffer != nullptr) free(buffer);
    return 1;
}

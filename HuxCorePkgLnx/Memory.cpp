// The program's general allocator: zero-filled buffers. Buffers of a ROM's
// size (the image, the flash copy, the program's own file) are mapped on
// their own, aligned to the huge-page size and asking the kernel for huge
// pages: their first touch then costs a few hundred page faults instead of
// one per 4 KiB, with no 4 KiB pages left at either end.
#include <cstdint>
#include <cstdlib>
#include <sys/mman.h>
#include "TKXPhysMem.h"

static const size_t kHugePage = 2u << 20;

// Under the address sanitizer every buffer stays on its heap, where an access
// past the end is caught.
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define YOZ_HEAP_ONLY 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define YOZ_HEAP_ONLY 1
#endif
#if defined(YOZ_HEAP_ONLY)
static const bool kMapRomSized = false;
#else
static const bool kMapRomSized = true;
#endif

// The buffers mapped on their own, until freed.
struct MappedBuffer {
    UINT8* Start;
    size_t Length;
};
static const UINT32 kMostMapped = 32;
static MappedBuffer s_Mapped[kMostMapped];

// A zero-filled mapping of at least `size` bytes starting on a huge-page
// boundary, or null (too many such buffers, or no address space).
static UINT8* MapAligned(UINT32 size) {
    UINT32 slot = 0;
    while (slot < kMostMapped && s_Mapped[slot].Start != nullptr) ++slot;
    if (slot == kMostMapped) return nullptr;
    size_t length = (static_cast<size_t>(size) + kHugePage - 1) & ~(kHugePage - 1);
    if (length < size || length + kHugePage < length) return nullptr;
    void* p = mmap(nullptr, length + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) return nullptr;
    uintptr_t from = reinterpret_cast<uintptr_t>(p);
    uintptr_t start = (from + kHugePage - 1) & ~(static_cast<uintptr_t>(kHugePage) - 1);
    if (start > from) munmap(p, start - from);
    uintptr_t end = start + length;
    if (from + length + kHugePage > end) munmap(reinterpret_cast<void*>(end), from + length + kHugePage - end);
    madvise(reinterpret_cast<void*>(start), length, MADV_HUGEPAGE);  // a refusal changes nothing
    s_Mapped[slot] = MappedBuffer{reinterpret_cast<UINT8*>(start), length};
    return s_Mapped[slot].Start;
}

UINT8* AllocMem(UINT32 size) {
    if (kMapRomSized && size >= 2 * kHugePage) {
        UINT8* mapped = MapAligned(size);
        if (mapped != nullptr) return mapped;
    }
    return static_cast<UINT8*>(calloc(1, size == 0 ? 1 : size));
}

UINT8 FreeMem(void* buffer) {
    if (buffer == nullptr) return 1;
    for (MappedBuffer& m : s_Mapped) {
        if (m.Start == buffer) {
            munmap(m.Start, m.Length);
            m = MappedBuffer{nullptr, 0};
            return 1;
        }
    }
    free(buffer);
    return 1;
}

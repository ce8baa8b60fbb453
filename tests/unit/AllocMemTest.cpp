// The general allocator: every buffer comes zero-filled; buffers of a ROM's
// size start on a huge-page boundary, and freeing them gives their place
// back (many more of them than the allocator tracks at once, one after the
// other, all stay aligned); small buffers and the null pointer pass through.
#include <gtest/gtest.h>
#include <cstdint>
#include <vector>
#include "TKXPhysMem.h"

namespace {

const uintptr_t kHugePage = 2u << 20;

// The address sanitizer's build keeps every buffer on its heap.
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define YOZ_TEST_HEAP_ONLY 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define YOZ_TEST_HEAP_ONLY 1
#endif
#if defined(YOZ_TEST_HEAP_ONLY)
const bool kAligned = false;
#else
const bool kAligned = true;
#endif

bool AllZero(const UINT8* p, UINT32 size) {
    for (UINT32 i = 0; i < size; i += 4093)
        if (p[i] != 0) return false;
    return p[size - 1] == 0;
}

TEST(AllocMem, ZeroFilledAndRomSizedBuffersAligned) {
    for (UINT32 size : {1u, 100u, 0x10000u, 0x3FFFFFu, 0x400000u, 0x400001u, 0x2000000u, 0x2000011u}) {
        UINT8* p = AllocMem(size);
        ASSERT_NE(p, nullptr) << size;
        EXPECT_TRUE(AllZero(p, size)) << size;
        if (kAligned && size >= 2 * kHugePage) {
            EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % kHugePage, 0u) << size;
        }
        p[0] = 1;
        p[size - 1] = 1;  // the whole size is usable
        EXPECT_EQ(FreeMem(p), 1);
    }
    EXPECT_EQ(FreeMem(nullptr), 1);
}

TEST(AllocMem, FreedRomSizedBuffersGiveTheirPlaceBack) {
    for (int round = 0; round < 100; ++round) {
        UINT8* p = AllocMem(0x400000);
        ASSERT_NE(p, nullptr) << round;
        if (kAligned) {
            EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % kHugePage, 0u) << round;
        }
        EXPECT_EQ(p[0x3FFFFF], 0) << round;
        p[0x3FFFFF] = 0xA5;
        FreeMem(p);
    }
    // Held at once: past the tracked number they still come zero-filled.
    std::vector<UINT8*> held;
    for (int i = 0; i < 40; ++i) {
        held.push_back(AllocMem(0x400000));
        ASSERT_NE(held.back(), nullptr) << i;
        EXPECT_TRUE(AllZero(held.back(), 0x400000)) << i;
    }
    for (UINT8* p : held) FreeMem(p);
}

}  // namespace

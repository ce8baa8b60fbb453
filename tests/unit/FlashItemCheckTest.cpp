// The flash-item list without the firmware: ownership, the payload of FFS
// items, the write-once truth table and the size sum, over a block table
// laid out in memory.
#include <gtest/gtest.h>
#include <cstring>
#include <vector>
#include "TKXPhysMem.h"
#include "YozFlash.h"

namespace {

const UINT32 kBlock = 0x1000;

struct FlashItemCheck : ::testing::Test {
    std::vector<UINT8> image = std::vector<UINT8>(4 * kBlock, 0x5A);

    void SetUp() override {
        // Four blocks: two of kBlock, one of 2 * kBlock.
        gpFlashInfo = reinterpret_cast<sROMInfo*>(AllocMem(16 + 3 * sizeof(sBlockInfo)));
        gpFlashInfo->BlockCount = 3;
        sBlockInfo entries[3] = {{0, kBlock, 1}, {kBlock, kBlock, 1}, {2 * kBlock, 2 * kBlock, 0x4A}};
        memcpy(gpFlashInfo->Blocks, entries, sizeof(entries));
        gRomSize = 4 * kBlock;
        gFlashBlockSize = kBlock;
        YOZ_Flash_Var_Init();
    }
    void TearDown() override {
        YOZ_Flash_Var_Init();
        FreeMem(gpFlashInfo);
        gpFlashInfo = nullptr;
        gRomSize = 0;
        gFlashBlockSize = 0;
    }

    _FLASHITEM* Add(UINT32 addr, UINT32 size, UINT8 writeOnce = 1, UINT8 ffs = 0) {
        _FLASHITEM* item = reinterpret_cast<_FLASHITEM*>(AllocMem(sizeof(_FLASHITEM)));
        item->FlashAddr = addr;
        item->ItemSize = size;
        item->WriteOnce = writeOnce;
        item->HasFfsHeader = ffs;
        YOZ_FlashItemList_Add(item);
        return item;
    }
    void Fill(UINT32 at, UINT32 n, UINT8 v) { memset(&image[at], v, n); }
};

TEST_F(FlashItemCheck, WriteOnceTruthTable) {
    struct Case {
        const char* what;
        UINT32 addr, size;
        UINT8 fill;  // the payload's bytes in the checked image
        UINT8 aligned, whole, blank, passes;
    } cases[] = {
        {"aligned, one whole block, data", kBlock, kBlock, 0x5A, 1, 1, 0, 1},
        {"aligned, the whole big block", 2 * kBlock, 2 * kBlock, 0x5A, 1, 1, 0, 1},
        {"aligned, half the big block, data", 2 * kBlock, kBlock, 0x5A, 1, 0, 0, 0},
        {"aligned, whole in block 0 spanning two", 0, 2 * kBlock, 0x5A, 1, 1, 0, 1},
        {"aligned, part of a block, blank", kBlock, 49, 0xFF, 1, 0, 1, 1},
        {"aligned, part of a block, data", kBlock, 49, 0x5A, 1, 0, 0, 0},
        {"inside a block over 0xFF", kBlock + 7, 49, 0xFF, 0, 0, 1, 1},
        {"inside a block over 0x00", kBlock + 7, 49, 0x00, 0, 0, 1, 1},
        {"inside a block over data", kBlock + 7, 49, 0x5A, 0, 0, 0, 0},
    };
    for (const Case& c : cases) {
        YOZ_FlashItemList_Release();
        std::fill(image.begin(), image.end(), 0x5A);
        Fill(c.addr, c.size, c.fill);
        _FLASHITEM* item = Add(c.addr, c.size);
        EXPECT_EQ(YOZ_FlashItemList_WriteOnce_Check(image.data()), c.passes) << c.what;
        EXPECT_EQ(item->BlockAligned, c.aligned) << c.what;
        EXPECT_EQ(item->WholeBlocks, c.whole) << c.what;
        EXPECT_EQ(item->TargetBlank, c.blank) << c.what;
        UINT32 expectedStart = c.addr < kBlock ? 0 : c.addr < 2 * kBlock ? kBlock : 2 * kBlock;
        EXPECT_EQ(item->BlockStart, expectedStart) << c.what;
    }
}

TEST_F(FlashItemCheck, BlankMeansAllFFOrAllZeroNotAMix) {
    Fill(kBlock + 8, 24, 0xFF);
    Fill(kBlock + 8 + 24, 25, 0x00);
    Add(kBlock + 8, 49);
    EXPECT_EQ(YOZ_FlashItemList_WriteOnce_Check(image.data()), 0);
}

TEST_F(FlashItemCheck, AnyFailingItemFailsTheListAndItemsThatAreNotWriteOnceFail) {
    Fill(kBlock + 8, 49, 0xFF);
    Add(kBlock + 8, 49);
    EXPECT_EQ(YOZ_FlashItemList_WriteOnce_Check(image.data()), 1);
    Add(3 * kBlock + 8, 49);  // over data
    EXPECT_EQ(YOZ_FlashItemList_WriteOnce_Check(image.data()), 0);
    YOZ_FlashItemList_Release();
    Add(0, kBlock, 0);
    EXPECT_EQ(YOZ_FlashItemList_WriteOnce_Check(image.data()), 0);
}

TEST_F(FlashItemCheck, FfsItemsSkipTheirHeaderAndASingleSection) {
    // File of 0x40 bytes whose only section is 0x28 bytes: payload at +0x1C.
    UINT32 a = kBlock + 0x100;
    Fill(a, 0x40, 0xFF);
    image[a + 0x18] = 0x28;
    image[a + 0x19] = 0;
    image[a + 0x1A] = 0;
    _FLASHITEM* single = Add(a, 0x40, 1, 1);
    // File of 0x40 bytes whose first section size does not fill it (an
    // unwritten 0xFFFFFF): payload at +0x18.
    UINT32 b = kBlock + 0x200;
    Fill(b, 0x40, 0xFF);
    _FLASHITEM* multi = Add(b, 0x40, 1, 1);
    ASSERT_EQ(YOZ_FlashItemList_WriteOnce_Check(image.data()), 1);
    EXPECT_EQ(single->SectionHeader, 1);
    EXPECT_EQ(multi->SectionHeader, 0);
    UINT32 addr = 0, size = 0;
    YOZ_FlashItem_Payload(single, &addr, &size);
    EXPECT_EQ(addr, a + 0x1C);
    EXPECT_EQ(size, 0x40u - 0x1C);
    YOZ_FlashItem_Payload(multi, &addr, &size);
    EXPECT_EQ(addr, b + 0x18);
    EXPECT_EQ(size, 0x40u - 0x18);
    YOZ_FlashItemList_CalculateSize();
    EXPECT_EQ(YOZ_FlashTotalSize, 0x24u + 0x28u);
}

TEST_F(FlashItemCheck, ItemsOutsideTheRomOrTooShortForTheirHeaderNeverPass) {
    Add(4 * kBlock - 8, 49);
    EXPECT_EQ(YOZ_FlashItemList_WriteOnce_Check(image.data()), 0);
    YOZ_FlashItemList_Release();
    Fill(kBlock + 8, 0x10, 0xFF);
    _FLASHITEM* tiny = Add(kBlock + 8, 0x10, 1, 1);
    EXPECT_EQ(YOZ_FlashItemList_WriteOnce_Check(image.data()), 0);
    UINT32 addr = 0, size = 0;
    YOZ_FlashItem_Payload(tiny, &addr, &size);
    EXPECT_EQ(size, 0u);
}

TEST_F(FlashItemCheck, ListOwnsItsItemsAndIndexesThem) {
    _FLASHITEM* first = Add(0, 1);
    _FLASHITEM* second = Add(1, 1);
    EXPECT_EQ(YOZ_FlashItemList_Get(0), first);
    EXPECT_EQ(YOZ_FlashItemList_Get(1), second);
    EXPECT_EQ(YOZ_FlashItemList_Get(2), nullptr);
    YOZ_Flash_Var_Init();  // frees them
    EXPECT_EQ(YOZ_FlashItemList.size(), 0u);
    EXPECT_EQ(YOZ_FlashItemList_Get(0), nullptr);
    // An empty list has nothing to erase and prints nothing.
    EXPECT_EQ(YOZ_FlashItemList_Erase(), eEID_NO_ERROR);
}

}  // namespace

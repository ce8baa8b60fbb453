// The ROM information answer forms, their conversion into the block table,
// the "$FPS"/"$BPT" records and the flash hook runners, on answers laid out
// in memory.
#include <gtest/gtest.h>
#include <cstring>
#include <vector>
#include "FlashLibHooks.h"
#include "RomInfo.h"
#include "TKXPhysMem.h"

namespace {

struct Answer {
    std::vector<UINT8> b = std::vector<UINT8>(INTERFACE_BUFFER_SIZE, 0);
    void U8(UINT32 o, UINT8 v) { b[o] = v; }
    void U16(UINT32 o, UINT16 v) { memcpy(&b[o], &v, 2); }
    void U32(UINT32 o, UINT32 v) { memcpy(&b[o], &v, 4); }
    void Entry(UINT32 o, UINT32 start, UINT32 size, UINT8 type) {
        U32(o, start);
        U32(o + 4, size);
        U8(o + 8, type);
    }
    sROMInfo* Info() { return reinterpret_cast<sROMInfo*>(b.data()); }
};

struct Block {
    UINT32 start, size;
    UINT8 type;
};

std::vector<Block> Table() {
    std::vector<Block> out;
    for (UINT32 i = 0; gpFlashInfo != nullptr && i < gpFlashInfo->BlockCount; ++i) {
        sBlockInfo e;
        memcpy(&e, &gpFlashInfo->Blocks[i], sizeof(e));
        out.push_back({e.StartAddress, e.BlockSize, e.Type});
    }
    return out;
}

// A 16-byte-head answer of `count` blocks of `size`, types from `typeOf`.
Answer Head16(UINT16 count, UINT32 size, UINT8 (*typeOf)(UINT32)) {
    Answer a;
    a.U32(0, INTERFACE_BUFFER_SIZE);
    a.U8(5, 0x0C);
    a.U16(6, count);
    a.U32(8, 0x1234);
    a.U32(0x0C, 0xFF00);
    for (UINT32 i = 0; i < count; ++i) a.Entry(0x10 + i * 9, i * size, size, typeOf(i));
    return a;
}

UINT8 NvramThenMain(UINT32 i) { return i < 32 ? 2 : 1; }
UINT8 AllMain(UINT32) { return 1; }

struct RomInfoConversion : ::testing::Test {
    void SetUp() override { bOnBoardRomIsLarge = 0; }
    void TearDown() override {
        FreeMem(gpFlashInfo);
        gpFlashInfo = nullptr;
        bOnBoardRomIsLarge = 0;
        gFlashBlockSize = 0;
    }
};

TEST_F(RomInfoConversion, Head16AndShortFormsGiveTheTableAndRomSize) {
    Answer a = Head16(4, 0x10000, AllMain);
    a.Entry(0x10 + 3 * 9, 0x30000, 0x10000, 0x80);
    ASSERT_EQ(CopyBiosInfoToAnotherBuffer(a.Info()), eEID_NO_ERROR);
    EXPECT_EQ(gpFlashInfo->BlockCount, 4);
    EXPECT_EQ(gpFlashInfo->Version, 0x0C);
    EXPECT_EQ(gpFlashInfo->EcVersionOffset, 0x1234u);
    EXPECT_EQ(gpFlashInfo->EcVersionMask, 0xFF00u);
    EXPECT_EQ(Table()[3].type, 0x80);
    EXPECT_EQ(CalculateRomSize(), 0x40000u);

    Answer s;
    s.U32(0, INTERFACE_BUFFER_SIZE);
    s.U8(5, 0x01);
    s.U16(6, 3);
    s.Entry(8, 0, 0x1000, 2);
    s.Entry(8 + 9, 0x1000, 0x1000, 1);
    s.Entry(8 + 18, 0x2000, 0x2000, 0);
    ASSERT_EQ(CopyBiosInfoToAnotherBuffer(s.Info()), eEID_NO_ERROR);
    ASSERT_EQ(Table().size(), 3u);
    EXPECT_EQ(Table()[2].start, 0x2000u);
    EXPECT_EQ(Table()[2].size, 0x2000u);
    EXPECT_EQ(Table()[0].type, 2);
    EXPECT_EQ(gpFlashInfo->Version, 0x01);
    EXPECT_EQ(gpFlashInfo->Length, INTERFACE_BUFFER_SIZE);
    EXPECT_EQ(gpFlashInfo->EcVersionOffset, 0u) << "the short form carries no EC fields";
    EXPECT_EQ(CalculateRomSize(), 0x4000u);
}

TEST_F(RomInfoConversion, LargeFormIsCutIntoTheSameBlocksAsTheEquivalentHead16Answer) {
    Answer large;
    large.U32(0, INTERFACE_BUFFER_SIZE);
    large.U8(5, 0x0E);
    large.U16(6, 2);
    large.U32(8, 0x1234);
    large.U32(0x0C, 0xFF00);
    large.U32(0x10, 0x800000);
    large.U32(0x14, 0x10000);
    large.Entry(0x1A, 0, 0x200000, 2);
    large.Entry(0x1A + 9, 0x200000, 0x600000, 1);
    bOnBoardRomIsLarge = 1;
    ASSERT_EQ(CopyBiosInfoToAnotherBuffer(large.Info()), eEID_NO_ERROR);
    std::vector<Block> fromLarge = Table();
    EXPECT_EQ(gpFlashInfo->BlockCount, 128);
    EXPECT_EQ(gpFlashInfo->EcVersionOffset, 0x1234u);
    EXPECT_EQ(gpFlashInfo->EcVersionMask, 0xFF00u);
    EXPECT_EQ(gFlashBlockSize, 0x10000u);
    EXPECT_EQ(CalculateRomSize(), 0x800000u);

    bOnBoardRomIsLarge = 0;
    Answer head = Head16(128, 0x10000, NvramThenMain);
    ASSERT_EQ(CopyBiosInfoToAnotherBuffer(head.Info()), eEID_NO_ERROR);
    std::vector<Block> fromHead = Table();
    ASSERT_EQ(fromLarge.size(), fromHead.size());
    for (size_t i = 0; i < fromHead.size(); ++i) {
        EXPECT_EQ(fromLarge[i].start, fromHead[i].start) << i;
        EXPECT_EQ(fromLarge[i].size, fromHead[i].size) << i;
        EXPECT_EQ(fromLarge[i].type, fromHead[i].type) << i;
    }
}

TEST_F(RomInfoConversion, Form0EWithoutTheLargeRetryIsRead16ByteHead) {
    Answer a = Head16(2, 0x10000, AllMain);
    a.U8(5, 0x0E);
    ASSERT_EQ(CopyBiosInfoToAnotherBuffer(a.Info()), eEID_NO_ERROR);
    EXPECT_EQ(Table().size(), 2u);
    EXPECT_EQ(CalculateRomSize(), 0x20000u);
}

TEST_F(RomInfoConversion, MalformedAnswersAreRefusedWithoutReadingPastTheBuffer) {
    // Entries that do not fit the interface buffer.
    Answer many = Head16(1, 0x10000, AllMain);
    many.U16(6, 0xFFFF);
    EXPECT_EQ(CopyBiosInfoToAnotherBuffer(many.Info()), eEID_FLASH_GET_INFO);
    EXPECT_EQ(gpFlashInfo, nullptr);
    Answer shortMany;
    shortMany.U8(5, 0x01);
    shortMany.U16(6, (INTERFACE_BUFFER_SIZE - 8) / 9 + 1);
    EXPECT_EQ(CopyBiosInfoToAnotherBuffer(shortMany.Info()), eEID_FLASH_GET_INFO);

    // Block tables that do not tile the ROM from address 0.
    Answer gap = Head16(3, 0x10000, AllMain);
    gap.Entry(0x10 + 9, 0x18000, 0x10000, 1);
    EXPECT_EQ(CopyBiosInfoToAnotherBuffer(gap.Info()), eEID_FLASH_GET_INFO);
    EXPECT_EQ(gpFlashInfo, nullptr);
    Answer late = Head16(2, 0x10000, AllMain);
    late.Entry(0x10, 0x1000, 0x10000, 1);
    EXPECT_EQ(CopyBiosInfoToAnotherBuffer(late.Info()), eEID_FLASH_GET_INFO);
    Answer empty = Head16(2, 0x10000, AllMain);
    empty.Entry(0x10 + 9, 0x10000, 0, 1);
    EXPECT_EQ(CopyBiosInfoToAnotherBuffer(empty.Info()), eEID_FLASH_GET_INFO);
    EXPECT_EQ(CopyBiosInfoToAnotherBuffer(Head16(0, 0x10000, AllMain).Info()), eEID_FLASH_GET_INFO);

    // Large regions that are not whole blocks, or more blocks than 16 bits count.
    Answer uneven;
    uneven.U8(5, 0x0E);
    uneven.U16(6, 2);
    uneven.U32(0x10, 0x30000);
    uneven.U32(0x14, 0x10000);
    uneven.Entry(0x1A, 0, 0x18000, 2);
    uneven.Entry(0x1A + 9, 0x18000, 0x18000, 1);
    bOnBoardRomIsLarge = 1;
    EXPECT_EQ(CopyBiosInfoToAnotherBuffer(uneven.Info()), eEID_FLASH_GET_INFO);
    Answer huge;
    huge.U8(5, 0x0E);
    huge.U16(6, 1);
    huge.U32(0x10, 0x10000000);
    huge.U32(0x14, 0x1000);
    huge.Entry(0x1A, 0, 0x10000000, 1);
    EXPECT_EQ(CopyBiosInfoToAnotherBuffer(huge.Info()), eEID_FLASH_GET_INFO);
}

TEST(RomInfoRecords, FlashPartTextAndProjectIdRecordsAreReadInsideTheBuffer) {
    Answer a;
    memcpy(&a.b[0x300], "$FPS", 4);
    std::string text(48, 'N');
    memcpy(&a.b[0x308], text.data(), 48);
    a.b[0x308 + 48] = 'X';
    memcpy(&a.b[0x400], "$BPT\x08V", 6);
    memcpy(&a.b[0x500], "$BPT\x03V", 6);
    GetSystemFlashChipID(a.b.data(), INTERFACE_BUFFER_SIZE);
    EXPECT_EQ(std::string(m_FlashChipName), text);
    GetSystemROMIDLength(a.b.data(), INTERFACE_BUFFER_SIZE);
    EXPECT_EQ(g_OnBoardROMProjectIDLength, 8) << "only the first $BPT counts";
    EXPECT_EQ(g_OnBoardRomIsOrvexV, 1);

    Answer none;
    GetSystemFlashChipID(none.b.data(), INTERFACE_BUFFER_SIZE);
    EXPECT_EQ(m_FlashChipName[0], 0);
    GetSystemROMIDLength(none.b.data(), INTERFACE_BUFFER_SIZE);
    EXPECT_EQ(g_OnBoardROMProjectIDLength, 0xFF);
    EXPECT_EQ(g_OnBoardRomIsOrvexV, 0);

    // Records at the very end: what lies past the buffer is not read.
    std::vector<UINT8> tail(64, 0);
    memcpy(&tail[64 - 5], "$BPT\x07", 5);
    GetSystemROMIDLength(tail.data(), 64);
    EXPECT_EQ(g_OnBoardROMProjectIDLength, 7);
    EXPECT_EQ(g_OnBoardRomIsOrvexV, 0);
    std::vector<UINT8> fps(64, 'Z');
    memcpy(&fps[64 - 20], "$FPS", 4);
    GetSystemFlashChipID(fps.data(), 64);
    EXPECT_EQ(std::string(m_FlashChipName), std::string(12, 'Z'));
}

// Hook runners: the request in the buffer survives the hooks.
std::vector<UINT8>* g_HookBuffer;
int g_HookCalls;
ENUM_ERR_ID Scribble(UINT32, UINT32, UINT32, void*, CallBackFn_T) {
    ++g_HookCalls;
    memset(g_HookBuffer->data(), 0xEE, 0x40);
    return eEID_NO_ERROR;
}
ENUM_ERR_ID ScribbleAndFail(UINT32 op, UINT32 a, UINT32 s, void* d, CallBackFn_T cb) {
    Scribble(op, a, s, d, cb);
    return eEID_WRITE_FLASH;
}
// A hook that sends a request of its own through the runners.
ENUM_ERR_ID Nested(UINT32, UINT32, UINT32, void*, CallBackFn_T) {
    ++g_HookCalls;
    HuxFlashLibHook saved = FlashLibAfterOperationHooks[0];
    FlashLibAfterOperationHooks[0] = Scribble;
    memset(g_HookBuffer->data(), 0x77, 17);
    FlashLibAfterOperation(SMI_CMD_READ_FLASH, 0, 0, nullptr, nullptr);
    FlashLibAfterOperationHooks[0] = saved;
    memset(g_HookBuffer->data(), 0x55, 17);
    return eEID_NO_ERROR;
}

struct HookRunner : ::testing::Test {
    std::vector<UINT8> buffer = std::vector<UINT8>(INTERFACE_BUFFER_SIZE, 0);
    HuxFlashLibHook before[FLASH_LIB_HOOK_SLOTS];
    UINT8* savedBuffer = nullptr;
    void SetUp() override {
        memcpy(before, FlashLibBeforeOperationHooks, sizeof(before));
        savedBuffer = gpIntrBuf;
        gpIntrBuf = buffer.data();
        g_HookBuffer = &buffer;
        g_HookCalls = 0;
        for (UINT32 i = 0; i < 0x40; ++i) buffer[i] = static_cast<UINT8>(i);
    }
    void TearDown() override {
        memcpy(FlashLibBeforeOperationHooks, before, sizeof(before));
        gpIntrBuf = savedBuffer;
    }
};

TEST_F(HookRunner, FunctionBlockAndRomInfoHeadAreRestoredAndTheLastResultReturned) {
    FlashLibBeforeOperationHooks[0] = ScribbleAndFail;
    FlashLibBeforeOperationHooks[1] = Scribble;
    FlashLibBeforeOperationHooks[2] = nullptr;
    EXPECT_EQ(FlashLibBeforeOperation(SMI_CMD_WRITE_FLASH, 0, 0, nullptr, nullptr), eEID_NO_ERROR);
    EXPECT_EQ(g_HookCalls, 2);
    for (UINT32 i = 0; i < 17; ++i) EXPECT_EQ(buffer[i], i) << i;
    EXPECT_EQ(buffer[17], 0xEE) << "only the function block is kept";

    FlashLibBeforeOperationHooks[1] = nullptr;
    for (UINT32 i = 0; i < 0x40; ++i) buffer[i] = static_cast<UINT8>(i);
    EXPECT_EQ(FlashLibBeforeOperation(SMI_CMD_GET_FLASH_INFO, 0, 0, nullptr, nullptr), eEID_WRITE_FLASH);
    for (UINT32 i = 0; i < 25; ++i) EXPECT_EQ(buffer[i], i == 4 ? 0xEE : i) << i;
    EXPECT_EQ(buffer[25], 0xEE);

    for (UINT32 i = 0; i < 0x40; ++i) buffer[i] = static_cast<UINT8>(i);
    FlashLibBeforeOperation(SMI_CMD_ZOKT, 0, 0, nullptr, nullptr);
    EXPECT_EQ(buffer[0], 0xEE) << "other requests are not kept";
}

TEST_F(HookRunner, AHookThatSendsItsOwnRequestDoesNotDisturbTheOneInProgress) {
    FlashLibBeforeOperationHooks[0] = Nested;
    FlashLibBeforeOperationHooks[1] = nullptr;
    FlashLibBeforeOperation(SMI_CMD_ERASE_FLASH, 0, 0, nullptr, nullptr);
    EXPECT_EQ(g_HookCalls, 2);
    for (UINT32 i = 0; i < 17; ++i) EXPECT_EQ(buffer[i], i) << i;
}

TEST(FlashLibHooks, TheListsHoldTheDelayHookThenTheNullHook) {
    EXPECT_EQ(FlashLibBeforeOperationHooks[0], FlashLibBeforeOperation_SMI_IFC_Delay);
    EXPECT_EQ(FlashLibBeforeOperationHooks[1], FlashLibHookNull);
    EXPECT_EQ(FlashLibBeforeOperationHooks[2], nullptr);
    EXPECT_EQ(FlashLibAfterOperationHooks[0], FlashLibHookNull);
    EXPECT_EQ(FlashLibAfterOperationHooks[1], nullptr);
}

}  // namespace

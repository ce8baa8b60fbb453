// Block-map runs: erase, write and verify every block of the firmware's block
// table that the do-it list marks, each block with YOZ_FlashReTryCnt tries and
// a repair request after every failed try; and the reads by block type and of
// the whole flash.
#include "TKXPhysMem.h"
#include "TKXString.h"
#include "YozFlash.h"

enum YozBlockStep { kStepErase, kStepWrite, kStepVerify };

static const ENUM_ERR_ID kStepError[] = {eEID_ERASE_FLASH, eEID_WRITE_FLASH, eEID_VERIFY_FLASH};
static const CallBackFn_T kStepCallBack[] = {YOZ_CallBack_Erase, YOZ_CallBack_Update, YOZ_CallBack_Verify};

static UINT16 BlockCount() { return gpFlashInfo == nullptr ? 0 : gpFlashInfo->BlockCount; }

// Start and size of entry i, false when the entry does not lie inside the ROM
// image (the caller's buffer holds gRomSize bytes).
static bool BlockEntry(UINT32 i, UINT32* start, UINT32* size) {
    const sBlockInfo& entry = gpFlashInfo->Blocks[i];
    *start = entry.StartAddress;
    *size = entry.BlockSize;
    return *size != 0 && static_cast<UINT64>(*start) + *size <= gRomSize;
}

// The copy of the block being written or verified: one buffer for a step's
// blocks, grown to the largest of them.
struct BlockCopy {
    UINT8* Bytes = nullptr;
    UINT32 Capacity = 0;
};

// Grows the copy to hold `size` bytes; false when memory runs out.
static bool ReserveCopy(BlockCopy& copy, UINT32 size) {
    if (copy.Capacity >= size) return true;
    FreeMem(copy.Bytes);
    copy.Capacity = 0;
    copy.Bytes = AllocMem(size);
    if (copy.Bytes == nullptr) return false;
    copy.Capacity = size;
    return true;
}

// Fills the copy with the block's bytes; false when memory runs out.
static bool CopyBlock(BlockCopy& copy, const UINT8* buffer, UINT32 start, UINT32 size) {
    if (!ReserveCopy(copy, size)) return false;
    MemCpy(copy.Bytes, buffer + start, size);
    return true;
}

// An erase-only run ("er" of the engineering set) has no write or verify
// step that would find a block the erase left unblank: its erase step reads
// each block back against 0xFF bytes.
static bool EraseIsLastStep() { return (YOZ_FlashStep & (YOZ_FLASH_STEP_WRITE | YOZ_FLASH_STEP_VERIFY)) == 0; }

// One marked block: its tries of the step. Returns 0 or the step's error.
static ENUM_ERR_ID RunBlock(YozBlockStep step, UINT8* buffer, UINT32 start, UINT32 size, BlockCopy& blockCopy) {
    UINT8* copy = nullptr;
    bool readBack = step == kStepErase && EraseIsLastStep();
    if (step != kStepErase) {
        if (!CopyBlock(blockCopy, buffer, start, size)) return eEID_MEM_ALLOC;
        copy = blockCopy.Bytes;
    } else if (readBack) {
        if (!ReserveCopy(blockCopy, size)) return eEID_MEM_ALLOC;
        MemSet(blockCopy.Bytes, 0xFF, size);
        copy = blockCopy.Bytes;
    }
    for (UINT32 attempt = 0; attempt < YOZ_FlashReTryCnt; ++attempt) {
        // Only the first try moves the progress line.
        CallBackFn_T cb = attempt == 0 ? kStepCallBack[step] : nullptr;
        UINT8 done = 0;
        switch (step) {
        case kStepErase:
            done = EraseBlk(start, size, cb);
            // A block read back unblank counts as a failed try.
            if (done != 0 && readBack) done = VerifyBlk(start, size, copy, nullptr);
            if (done == 0) EraseBlk(start, size, nullptr);
            break;
        case kStepWrite:
            done = WriteBlk(start, size, copy, cb);
            if (done == 0) EraseBlk(start, size, nullptr);
            break;
        case kStepVerify:
            done = VerifyBlk(start, size, copy, cb);
            if (done == 0) {
                EraseBlk(start, size, nullptr);
                WriteBlk(start, size, copy, nullptr);
            }
            break;
        }
        if (done != 0) return eEID_NO_ERROR;
    }
    return kStepError[step];
}

// The loop shared by the three steps. It stops at the first block that fails
// all its tries; blocks already done stay done.
static ENUM_ERR_ID RunStep(YozBlockStep step, UINT8* buffer) {
    if (buffer == nullptr) return eEID_MEM_ALLOC;
    UINT16 count = BlockCount();
    BlockCopy copy;
    for (UINT16 i = 0; i < count; ++i) {
        if (YOZ_pFlashMap == nullptr) continue;
        if (YOZ_FlashDelayBlockCnt != 0) DelayIsRun = i % YOZ_FlashDelayBlockCnt == 0 ? 1 : 0;
        if (YOZ_pFlashMap[i] == 0) continue;
        UINT32 start = 0;
        UINT32 size = 0;
        ENUM_ERR_ID result = BlockEntry(i, &start, &size) ? RunBlock(step, buffer, start, size, copy) : kStepError[step];
        if (result != eEID_NO_ERROR) {
            FreeMem(copy.Bytes);
            return result;
        }
    }
    FreeMem(copy.Bytes);
    kStepCallBack[step](YOZ_PROGRESS_CLOSE, 0, 0);
    YOZ_FlashWay = YOZ_FLASH_WAY_IDLE;
    return eEID_NO_ERROR;
}

ENUM_ERR_ID YOZ_Flash_Erase(UINT8* buffer) { return RunStep(kStepErase, buffer); }
ENUM_ERR_ID YOZ_Flash_UpData(UINT8* buffer) { return RunStep(kStepWrite, buffer); }
ENUM_ERR_ID YOZ_Flash_Verify(UINT8* buffer) { return RunStep(kStepVerify, buffer); }

ENUM_ERR_ID YOZ_Flash_Action(UINT8* buffer) {
    static const UINT8 kStepBit[] = {YOZ_FLASH_STEP_ERASE, YOZ_FLASH_STEP_WRITE, YOZ_FLASH_STEP_VERIFY};
    static const YozBlockStep kSteps[] = {kStepErase, kStepWrite, kStepVerify};
    YOZ_FlashWay = YOZ_FLASH_WAY_BLOCK_MAP;
    for (UINT32 s = 0; s < 3; ++s) {
        if ((YOZ_FlashStep & kStepBit[s]) == 0) continue;
        ENUM_ERR_ID result = RunStep(kSteps[s], buffer);
        if (result != eEID_NO_ERROR) {
            // End the open progress line before the error message.
            WriteOut("\n");
            return result;
        }
    }
    YOZ_FlashWay = YOZ_FLASH_WAY_IDLE;
    return eEID_NO_ERROR;
}

// Every block of one type lands at the sum of the sizes of the entries
// before it; nothing is printed.
ENUM_ERR_ID YOZ_Flash_TypeFvRead(UINT8* buffer, char type) {
    if (buffer == nullptr) return eEID_MEM_ALLOC;
    YOZ_FlashWay = YOZ_FLASH_WAY_BLOCK_MAP;
    ENUM_ERR_ID result = eEID_NO_ERROR;
    UINT64 position = 0;
    UINT16 count = BlockCount();
    for (UINT16 i = 0; i < count; ++i) {
        const sBlockInfo& entry = gpFlashInfo->Blocks[i];
        UINT32 size = entry.BlockSize;
        if (entry.Type == static_cast<UINT8>(type)) {
            if (size == 0 || position + size > gRomSize) {
                result = eEID_READ_FLASH;
                break;
            }
            UINT8* temporary = AllocMem(size);
            if (temporary == nullptr) {
                result = eEID_MEM_ALLOC;
                break;
            }
            UINT8 done = ReadBlk(entry.StartAddress, size, temporary, nullptr);
            if (done != 0) MemCpy(buffer + position, temporary, size);
            FreeMem(temporary);
            if (done == 0) {
                result = eEID_READ_FLASH;
                break;
            }
        }
        position += size;
    }
    YOZ_FlashWay = YOZ_FLASH_WAY_IDLE;
    return result;
}

ENUM_ERR_ID YOZ_Flash_Read(UINT8* buffer) {
    if (buffer == nullptr) return eEID_MEM_ALLOC;
    YOZ_FlashTotalSize = gRomSize;
    // A count left by an earlier run would keep the line from reaching "done".
    YOZ_FlashAllreadySize = 0;
    YOZ_FlashWay = YOZ_FLASH_WAY_ADDRESS;
    ENUM_ERR_ID result = YOZ_Flash_ReadBlock(0, gRomSize, buffer, YOZ_CallBack_FlashLib_Read);
    YOZ_FlashWay = YOZ_FLASH_WAY_IDLE;
    return result;
}

// The flash-item list of the address form: ranges inside blocks (ROM holes,
// SLP and OEM activation data), some of them in areas that may be programmed
// only once, with the write-once and compare-and-flash checks and the erase,
// write and verify passes.
#include "TKXPhysMem.h"
#include "YozFlash.h"

YOZ_FLASHITEM_LIST YOZ_FlashItemList;

static const UINT32 kFfsHeaderSize = 0x18;
static const UINT32 kFfsSectionHeaderSize = 0x1C;

void YOZ_FlashItemList_Init() { YOZ_FlashItemList_Release(); }

void YOZ_FlashItemList_Release() {
    while (!YOZ_FlashItemList.empty()) {
        FreeMem(YOZ_FlashItemList[0]);
        YOZ_FlashItemList.remove(0);
    }
}

void YOZ_FlashItemList_Add(_FLASHITEM* item) {
    if (item != nullptr) YOZ_FlashItemList.push_back(item);
}

_FLASHITEM* YOZ_FlashItemList_Get(UINT64 index) {
    if (index >= YOZ_FlashItemList.size()) return nullptr;
    return YOZ_FlashItemList[static_cast<unsigned long>(index)];
}

// An FFS item is flashed without its 24-byte header, and without the section
// header too when the check found a single section.
void YOZ_FlashItem_Payload(const _FLASHITEM* item, UINT32* address, UINT32* size) {
    UINT32 skip = item->HasFfsHeader == 0 ? 0 : item->SectionHeader != 0 ? kFfsSectionHeaderSize : kFfsHeaderSize;
    *address = item->FlashAddr + skip;
    *size = item->ItemSize > skip ? item->ItemSize - skip : 0;
}

static bool IsBlank(const UINT8* data, UINT32 size) {
    bool allFF = true;
    bool allZero = true;
    for (UINT32 i = 0; i < size && (allFF || allZero); ++i) {
        allFF = allFF && data[i] == 0xFF;
        allZero = allZero && data[i] == 0x00;
    }
    return allFF || allZero;
}

static bool ItemInRom(const _FLASHITEM* item) {
    return static_cast<UINT64>(item->FlashAddr) + item->ItemSize <= gRomSize;
}

// Finds the block that holds the payload start and records how the payload
// sits in it. An item that starts at a block start and covers whole blocks
// may be erased; any other item may be written only over blank flash.
void YOZ_FlashItem_WriteOnce_Check(UINT8* image, _FLASHITEM* item) {
    if (item == nullptr || item->WriteOnce == 0) return;
    if (image == nullptr || gpFlashInfo == nullptr || !ItemInRom(item)) return;
    UINT32 a = item->FlashAddr;
    UINT32 s = item->ItemSize;
    if (item->HasFfsHeader != 0) {
        if (s < kFfsSectionHeaderSize) return;  // too short to hold a header and a section: never flashable
        const UINT8* size24 = image + a + kFfsHeaderSize;
        UINT32 sectionSize = size24[0] | (size24[1] << 8) | (size24[2] << 16);
        if (s - sectionSize == kFfsHeaderSize) {
            a += kFfsSectionHeaderSize;
            s -= kFfsSectionHeaderSize;
            item->SectionHeader = 1;
        } else {
            a += kFfsHeaderSize;
            s -= kFfsHeaderSize;
        }
    }
    for (UINT16 i = 0; i < gpFlashInfo->BlockCount; ++i) {
        const sBlockInfo& entry = gpFlashInfo->Blocks[i];
        UINT32 start = entry.StartAddress;
        UINT32 size = entry.BlockSize;
        if (size == 0 || a < start || static_cast<UINT64>(a) > static_cast<UINT64>(start) + size - 1) continue;
        item->BlockStart = start;
        item->BlockSize = size;
        if (a == start) {
            item->BlockAligned = 1;
            if (s % size == 0) {
                item->WholeBlocks = 1;
                continue;
            }
        }
        // Not erasable as whole blocks: it can only be written over blank flash.
        if (IsBlank(image + a, s)) {
            item->TargetBlank = 1;
            break;
        }
    }
}

static bool ErasableItem(const _FLASHITEM* item) { return item->BlockAligned != 0 && item->WholeBlocks != 0; }

UINT8 YOZ_FlashItemList_WriteOnce_Check(UINT8* image) {
    for (unsigned long i = 0; i < YOZ_FlashItemList.size(); ++i) {
        _FLASHITEM* item = YOZ_FlashItemList[i];
        YOZ_FlashItem_WriteOnce_Check(image, item);
        if (!ErasableItem(item) && item->TargetBlank == 0) return 0;
    }
    return 1;
}

// Compares the whole item, header included, with the flash piece by piece.
ENUM_ERR_ID YOZ_FlashItem_CAF_Check(UINT8* buffer, _FLASHITEM* item) {
    if (item == nullptr || item->CafEnabled == 0) return eEID_NO_ERROR;
    if (buffer == nullptr) return eEID_MEM_ALLOC;
    if (!ItemInRom(item) || gFlashBlockSize == 0) return eEID_VERIFY_FLASH;
    UINT32 offset = 0;
    UINT32 lastOffset = 0;
    while (offset < item->ItemSize) {
        UINT32 remaining = item->ItemSize - offset;
        UINT32 piece = remaining < gFlashBlockSize ? remaining : gFlashBlockSize;
        UINT32 address = item->FlashAddr + offset;
        ENUM_ERR_ID status = FLASH_VerifyBlockEx(address, piece, buffer + address, nullptr);
        if (status == eEID_VERIFY_FLASH) item->CafDiffers = 1;
        YOZ_CallBack_FlashLib_Verify(item->ItemSize, offset, status);
        lastOffset = offset;
        offset += piece;
    }
    // The closing report; the pieces' own reports have already repeated
    // any failed compare.
    YOZ_CallBack_FlashLib_Verify(item->ItemSize, lastOffset, eEID_NO_ERROR);
    item->CafChecked = 1;
    return eEID_NO_ERROR;
}

ENUM_ERR_ID YOZ_FlashItemList_CAF_Check(UINT8* buffer) {
    for (unsigned long i = 0; i < YOZ_FlashItemList.size(); ++i) {
        ENUM_ERR_ID result = YOZ_FlashItem_CAF_Check(buffer, YOZ_FlashItemList[i]);
        if (result != eEID_NO_ERROR) return result;
    }
    return eEID_NO_ERROR;
}

ENUM_ERR_ID YOZ_FlashItemList_CalculateSize() {
    UINT32 total = 0;
    for (unsigned long i = 0; i < YOZ_FlashItemList.size(); ++i) {
        UINT32 address = 0;
        UINT32 size = 0;
        YOZ_FlashItem_Payload(YOZ_FlashItemList[i], &address, &size);
        total += size;
    }
    YOZ_FlashTotalSize = total;
    return eEID_NO_ERROR;
}

// Unchanged only when a compare actually ran over the item and found it equal.
static bool UnchangedItem(const _FLASHITEM* item) {
    return item->CafEnabled != 0 && item->CafChecked != 0 && item->CafDiffers == 0;
}

// A write-once item is written only when it may be erased as whole blocks or
// lies over blank flash.
static bool WritableItem(const _FLASHITEM* item) {
    return item->WriteOnce == 0 || ErasableItem(item) || item->TargetBlank != 0;
}

ENUM_ERR_ID YOZ_FlashItem_Erase(_FLASHITEM* item) {
    if (UnchangedItem(item)) return eEID_NO_ERROR;
    if (item->WriteOnce != 0 && !ErasableItem(item)) return eEID_NO_ERROR;
    UINT32 address = 0;
    UINT32 size = 0;
    YOZ_FlashItem_Payload(item, &address, &size);
    return YOZ_Flash_EraseAddr(address, size);
}

ENUM_ERR_ID YOZ_FlashItem_Write(UINT8* buffer, _FLASHITEM* item) {
    if (UnchangedItem(item) || !WritableItem(item)) return eEID_NO_ERROR;
    UINT32 address = 0;
    UINT32 size = 0;
    YOZ_FlashItem_Payload(item, &address, &size);
    return YOZ_Flash_UpdateAddr(buffer, address, size);
}

ENUM_ERR_ID YOZ_FlashItem_Verify(UINT8* buffer, _FLASHITEM* item) {
    if (UnchangedItem(item) || !WritableItem(item)) return eEID_NO_ERROR;
    UINT32 address = 0;
    UINT32 size = 0;
    YOZ_FlashItem_Payload(item, &address, &size);
    // Whole erasable blocks are repaired with an erase; anything else by
    // writing again over what is there.
    UINT8 writeOnce = ErasableItem(item) ? 0 : 1;
    return YOZ_Flash_VerifyAddr(buffer, address, size, writeOnce);
}

ENUM_ERR_ID YOZ_FlashItemList_Erase() {
    YOZ_FlashAllreadySize = 0;
    for (unsigned long i = 0; i < YOZ_FlashItemList.size(); ++i) {
        ENUM_ERR_ID result = YOZ_FlashItem_Erase(YOZ_FlashItemList[i]);
        if (result != eEID_NO_ERROR) return result;
    }
    return eEID_NO_ERROR;
}

ENUM_ERR_ID YOZ_FlashItemList_Write(UINT8* buffer) {
    YOZ_FlashAllreadySize = 0;
    for (unsigned long i = 0; i < YOZ_FlashItemList.size(); ++i) {
        ENUM_ERR_ID result = YOZ_FlashItem_Write(buffer, YOZ_FlashItemList[i]);
        if (result != eEID_NO_ERROR) return result;
    }
    return eEID_NO_ERROR;
}

ENUM_ERR_ID YOZ_FlashItemList_Verify(UINT8* buffer) {
    YOZ_FlashAllreadySize = 0;
    for (unsigned long i = 0; i < YOZ_FlashItemList.size(); ++i) {
        ENUM_ERR_ID result = YOZ_FlashItem_Verify(buffer, YOZ_FlashItemList[i]);
        if (result != eEID_NO_ERROR) return result;
    }
    return eEID_NO_ERROR;
}

ENUM_ERR_ID YOZ_FlashItemList_Run(UINT8* buffer, UINT8 msgSet, UINT32 total) {
    if (buffer == nullptr) return eEID_MEM_ALLOC;
    YOZ_SetFlashMsg(msgSet, total);
    ENUM_ERR_ID result = YOZ_FlashItemList_CAF_Check(buffer);
    if (result == eEID_NO_ERROR) result = YOZ_FlashItemList_CalculateSize();
    if (result == eEID_NO_ERROR) result = YOZ_FlashItemList_Erase();
    if (result == eEID_NO_ERROR) result = YOZ_FlashItemList_Write(buffer);
    if (result == eEID_NO_ERROR) result = YOZ_FlashItemList_Verify(buffer);
    // Its items are done with: a later module of the run writes only its own
    // (an item written once is no longer over blank flash).
    YOZ_FlashItemList_Release();
    return result;
}

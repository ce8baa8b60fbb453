// The ROM information request (SMI 0x25), its three answer forms and the
// program's converted copy of the block table.
#include "RomInfo.h"
#include "TKXPhysMem.h"
#include "TKXString.h"

sROMInfo* gpFlashInfo = nullptr;
UINT32 gRomSize = 0;
UINT32 gFlashBlockSize = 0;
UINT8 bOnBoardRomIsLarge = 0;
CHAR8 m_FlashChipName[49] = {0};
UINT8 g_OnBoardROMProjectIDLength = 0;
UINT8 g_OnBoardRomIsOrvexV = 0;

static const UINT32 kEntrySize = sizeof(sBlockInfo);
static const UINT32 kFlashChipNameOffset = 8;
static const UINT32 kFlashChipNameSize = 48;
// Where the block size stands in the answer: inside the first entry, which
// the short form puts at 8 and the other forms at 0x10.
static const UINT32 kShortFormBlockSize = 0x0C;
static const UINT32 kBlockSizeOffset = 0x14;

// Before hooks, shadow step, SMI 0x25, after hooks.
static void SendRomInfoRequest() {
    FlashLibBeforeOperation(SMI_CMD_GET_FLASH_INFO, 0, 0, gpIntrBuf, nullptr);
    ShadowFlash();
    SMI_GetFlashInfo();
    FlashLibAfterOperation(SMI_CMD_GET_FLASH_INFO, 0, 0, gpIntrBuf, nullptr);
}

ENUM_ERR_ID GetFlashInfo(sROMInfo** answer) {
    sROMInfo* info = reinterpret_cast<sROMInfo*>(gpIntrBuf);
    *answer = info;
    bOnBoardRomIsLarge = 0;
    if (info == nullptr) return eEID_FLASH_GET_INFO;
    MemSet(gpIntrBuf, 0, INTERFACE_BUFFER_SIZE);
    info->Length = INTERFACE_BUFFER_SIZE;
    info->Status = ROM_INFO_GET;
    SendRomInfoRequest();
    if (info->Status == 0) return eEID_NO_ERROR;

    if (info->Version == ROM_INFO_FORM_0C || info->Version == ROM_INFO_FORM_0D) return eEID_NO_ERROR;
    if (info->Version != ROM_INFO_FORM_LARGE) return eEID_FLASH_GET_INFO;
    // The large form is asked for again; the status keeps the first answer's value.
    info->Version = ROM_INFO_FORM_LARGE;
    SendRomInfoRequest();
    if (info->Status != 0) return eEID_FLASH_GET_INFO;
    bOnBoardRomIsLarge = 1;
    return eEID_NO_ERROR;
}

void RomInfoEx2RomInfo(sROMInfoEX* answer, sBlockInfo* entries) {
    UINT32 blockSize = answer->BlockSize;
    if (blockSize == 0) return;
    UINT32 maxEntries = answer->TotalSize / blockSize;
    // Region entries are read only as far as the interface buffer goes.
    UINT32 regionRoom = (INTERFACE_BUFFER_SIZE - ROM_INFO_LARGE_REGIONS) / kEntrySize;
    UINT32 regions = answer->RegionCount < regionRoom ? answer->RegionCount : regionRoom;
    UINT32 index = 0;
    for (UINT32 r = 0; r < regions && index < maxEntries; ++r) {
        sBlockInfo region;
        MemCpy(&region, &answer->Regions[r], kEntrySize);
        UINT32 blocks = region.BlockSize / blockSize;
        for (UINT32 k = 0; k < blocks && index < maxEntries; ++k) {
            sBlockInfo block{region.StartAddress + k * blockSize, blockSize, region.Type};
            MemCpy(&entries[index++], &block, kEntrySize);
        }
    }
    if (gpFlashInfo != nullptr) gpFlashInfo->BlockCount = static_cast<UINT16>(maxEntries);
    gFlashBlockSize = blockSize;
}

// The blocks must tile [0, ROM size) from address 0, in order, without gaps
// or overlaps: every later user indexes image-sized buffers by them.
static bool BlockTableTiles(const sROMInfo* info) {
    if (info->BlockCount == 0) return false;
    UINT64 next = 0;
    for (UINT32 i = 0; i < info->BlockCount; ++i) {
        sBlockInfo entry;
        MemCpy(&entry, &info->Blocks[i], kEntrySize);
        if (entry.StartAddress != next || entry.BlockSize == 0) return false;
        next += entry.BlockSize;
    }
    return next <= 0xFFFFFFFFull;
}

ENUM_ERR_ID CopyBiosInfoToAnotherBuffer(sROMInfo* answer) {
    const UINT8* raw = reinterpret_cast<const UINT8*>(answer);
    bool large = bOnBoardRomIsLarge != 0 && answer->Version == ROM_INFO_FORM_LARGE;
    bool shortForm = !large && answer->Version <= ROM_INFO_SHORT_FORM_MAX;
    UINT64 count = 0;
    UINT64 allocation = 0;
    if (large) {
        const sROMInfoEX* ex = reinterpret_cast<const sROMInfoEX*>(answer);
        if (ex->BlockSize == 0) return eEID_FLASH_GET_INFO;
        count = ex->TotalSize / ex->BlockSize;
        // The copy counts its blocks in 16 bits.
        if (count > 0xFFFF) return eEID_FLASH_GET_INFO;
        allocation = count * kEntrySize + 35;
    } else {
        count = answer->BlockCount;
        allocation = count * kEntrySize + 25;
        // What is copied must lie inside the interface buffer.
        UINT64 source = shortForm ? ROM_INFO_SHORT_ENTRIES + count * kEntrySize : allocation;
        if (source > INTERFACE_BUFFER_SIZE) return eEID_FLASH_GET_INFO;
    }

    if (gpFlashInfo != nullptr) FreeMem(gpFlashInfo);
    gpFlashInfo = reinterpret_cast<sROMInfo*>(AllocMem(static_cast<UINT32>(allocation)));
    if (gpFlashInfo == nullptr) return eEID_MEM_ALLOC;
    MemSet(gpFlashInfo, 0, static_cast<UINT32>(allocation));

    if (shortForm) {
        gpFlashInfo->Length = answer->Length;
        gpFlashInfo->Status = answer->Status;
        gpFlashInfo->Version = answer->Version;
        gpFlashInfo->BlockCount = answer->BlockCount;
        MemCpy(gpFlashInfo->Blocks, raw + ROM_INFO_SHORT_ENTRIES, static_cast<UINT32>(count * kEntrySize));
    } else if (large) {
        gpFlashInfo->Length = answer->Length;
        gpFlashInfo->Status = answer->Status;
        gpFlashInfo->BlockCount = answer->BlockCount;
        gpFlashInfo->Version = answer->Version;
        gpFlashInfo->EcVersionOffset = answer->EcVersionOffset;
        gpFlashInfo->EcVersionMask = answer->EcVersionMask;
        RomInfoEx2RomInfo(reinterpret_cast<sROMInfoEX*>(answer), gpFlashInfo->Blocks);
    } else {
        MemCpy(gpFlashInfo, raw, static_cast<UINT32>(allocation));
    }

    if (!BlockTableTiles(gpFlashInfo)) {
        FreeMem(gpFlashInfo);
        gpFlashInfo = nullptr;
        return eEID_FLASH_GET_INFO;
    }
    return eEID_NO_ERROR;
}

UINT32 CalculateRomSize() {
    if (gpFlashInfo == nullptr) return 0;
    UINT32 size = 0;
    for (UINT32 i = 0; i < gpFlashInfo->BlockCount; ++i) {
        sBlockInfo entry;
        MemCpy(&entry, &gpFlashInfo->Blocks[i], kEntrySize);
        size += entry.BlockSize;
    }
    return size;
}

void GetSystemFlashChipID(UINT8* buffer, UINT32 length) {
    MemSet(m_FlashChipName, 0, sizeof(m_FlashChipName));
    UINT8* match = static_cast<UINT8*>(SearchPattern(buffer, length, "$FPS", 4));
    if (match == nullptr) return;
    UINT32 from = static_cast<UINT32>(match - buffer) + kFlashChipNameOffset;
    if (from >= length) return;
    UINT32 n = length - from < kFlashChipNameSize ? length - from : kFlashChipNameSize;
    MemCpy(m_FlashChipName, buffer + from, n);
}

void GetSystemROMIDLength(UINT8* buffer, UINT32 length) {
    g_OnBoardROMProjectIDLength = 0xFF;
    g_OnBoardRomIsOrvexV = 0;
    UINT8* match = static_cast<UINT8*>(SearchPattern(buffer, length, "$BPT", 4));
    if (match == nullptr) return;
    UINT32 at = static_cast<UINT32>(match - buffer);
    g_OnBoardROMProjectIDLength = buffer[at + 4];
    if (at + 5 < length) g_OnBoardRomIsOrvexV = buffer[at + 5] == 'V' ? 1 : 0;
}

ENUM_ERR_ID TakeFlashInfoAnswer(sROMInfo* answer) {
    UINT8* raw = reinterpret_cast<UINT8*>(answer);
    UINT32 at = answer->Version <= ROM_INFO_SHORT_FORM_MAX ? kShortFormBlockSize : kBlockSizeOffset;
    MemCpy(&gFlashBlockSize, raw + at, sizeof(gFlashBlockSize));
    // Every chunk of a block request travels in the interface buffer.
    if (gFlashBlockSize == 0 || gFlashBlockSize > FUNCTION_BLOCK_MAX_DATA) return eEID_GET_BLOCK_SIZE;

    GetSystemFlashChipID(raw, INTERFACE_BUFFER_SIZE);
    GetSystemROMIDLength(raw, INTERFACE_BUFFER_SIZE);
    ENUM_ERR_ID result = CopyBiosInfoToAnotherBuffer(answer);
    if (result != eEID_NO_ERROR) return result;
    gRomSize = CalculateRomSize();
    return eEID_NO_ERROR;
}

UINT8 GetRomIsLarge() { return bOnBoardRomIsLarge; }

ENUM_ERR_ID RomLayoutChangeIfc(UINT8* data, UINT32 length) {
    if (gpIntrBuf == nullptr || length > ROM_LAYOUT_MAX_DATA) return eEID_FLASH_GET_INFO;
    sROMInfo* info = reinterpret_cast<sROMInfo*>(gpIntrBuf);
    info->Length = length;
    info->Status = ROM_INFO_LAYOUT_CHANGE;
    MemCpy(gpIntrBuf + ROM_LAYOUT_DATA_OFFSET, data, length);
    SendRomInfoRequest();
    // The firmware answers 0 when it took the layout; anything else (the
    // sub-function left in place included) means the flash keeps the old one.
    return info->Status == 0 ? eEID_NO_ERROR : eEID_FLASH_GET_INFO;
}

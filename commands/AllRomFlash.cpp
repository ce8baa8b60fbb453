// Flash stage of the whole-ROM module: every block of the firmware's block
// table is erased, written and verified from the image, the blocks that
// hold a firmware-volume signature of the old flash are done once more, the
// image's signatures are written again last, and a changed layout is
// reported to the firmware.
#include "FlashBlock.h"
#include "RomInfo.h"
#include "RomScan.h"
#include "SecureFlash.h"
#include "TKXPhysMem.h"
#include "TKXString.h"
#include "YozAllRom.h"
#include "YozFlash.h"
#include "YozFvLayout.h"
#include "YozGlobal.h"
#include "YozOptionStore.h"
#include "YozRegionStages.h"
#include "YozRomFile.h"
#include "YozSysRom.h"

TKXList<unsigned int> RomFile_FVHAddressList;
TKXList<unsigned int> SysRom_FVHAddressList;
TKXList<unsigned short> SysRom_FVHIndexList;

static const UINT32 kSignatureLength = 4;
// The file-system GUID stands 24 bytes before the signature.
static const UINT32 kFsGuidBefore = 24;
// Layout data runs from the "ROML" header, 44 bytes into the layout file,
// to the file's end.
static const UINT32 kLayoutHeaderAt = 44;

void AllROM_ClearLists() {
    RomFile_FVHAddressList.clear();
    SysRom_FVHAddressList.clear();
    SysRom_FVHIndexList.clear();
}

UINT32 AllROM_LayoutDataLength(UINT8* image, UINT32 size) {
    UINT8* file = YOZ_RomFile_Get_RomLayout_pFFS_Hander();
    UINT8* header = YOZ_RomFile_Get_RomLayout_pHader();
    if (file == nullptr || header == nullptr || header < image || header > image + size) return 0;
    // The finder keeps a layout file at least 60 bytes long and inside the image.
    UINT32 length = YOZ_FfsFileSize(file) - kLayoutHeaderAt;
    UINT32 room = size - static_cast<UINT32>(header - image);
    return length < room ? length : room;
}

enum AllRomStep { kErase, kWrite, kVerify };

// One try; a repeat first erases (and writes) the range again.
static UINT8 TryOnce(AllRomStep step, UINT32 start, UINT32 size, UINT8* data, CallBackFn_T cb, bool repeat) {
    switch (step) {
    case kErase: return EraseBlk(start, size, cb);
    case kWrite:
        if (repeat) EraseBlk(start, size, nullptr);
        return WriteBlk(start, size, data, cb);
    case kVerify:
        if (repeat) {
            EraseBlk(start, size, nullptr);
            WriteBlk(start, size, data, nullptr);
        }
        return VerifyBlk(start, size, data, cb);
    }
    return 0;
}

static ENUM_ERR_ID Tries(AllRomStep step, UINT32 start, UINT32 size, UINT8* data, CallBackFn_T cb) {
    static const ENUM_ERR_ID kError[] = {eEID_ERASE_FLASH, eEID_WRITE_FLASH, eEID_VERIFY_FLASH};
    if (TryOnce(step, start, size, data, cb, false)) return eEID_NO_ERROR;
    for (UINT32 i = 0; i < YOZ_GetFlashRetryCnt(); ++i)
        if (TryOnce(step, start, size, data, nullptr, true)) return eEID_NO_ERROR;
    return kError[step];
}

ENUM_ERR_ID AllROM_FlashErase(UINT32 start, UINT32 size, CallBackFn_T callback) {
    return Tries(kErase, start, size, nullptr, callback);
}
ENUM_ERR_ID AllROM_FlashWrite(UINT32 start, UINT32 size, UINT8* data, CallBackFn_T callback) {
    return Tries(kWrite, start, size, data, callback);
}
ENUM_ERR_ID AllROM_FlashVerify(UINT32 start, UINT32 size, UINT8* data, CallBackFn_T callback) {
    return Tries(kVerify, start, size, data, callback);
}

static void RecordSignatures(UINT8* rom, UINT32 size, TKXList<unsigned int>& list) {
    for (UINT32 at = RomScan_Find(rom, size, kFsGuidBefore, "_FVH", kSignatureLength); at != ROMSCAN_NONE;
         at = RomScan_Find(rom, size, at + 1, "_FVH", kSignatureLength)) {
        const UINT8* fs = rom + at - kFsGuidBefore;
        if (MemCmp(fs, kGuidFfs2, 16) == 1 || MemCmp(fs, kGuidFfs3, 16) == 1) list.push_back(at);
    }
}

void AllROM_Record_FVH_Address(UINT8* image, UINT32 imageSize, UINT8* system, UINT32 systemSize) {
    RecordSignatures(image, imageSize, RomFile_FVHAddressList);
    RecordSignatures(system, systemSize, SysRom_FVHAddressList);
    UINT16 count = gpFlashInfo == nullptr ? 0 : gpFlashInfo->BlockCount;
    for (unsigned long n = 0; n < SysRom_FVHAddressList.size(); ++n) {
        UINT32 at = SysRom_FVHAddressList[n];
        for (UINT16 i = 0; i < count; ++i) {
            const sBlockInfo& b = gpFlashInfo->Blocks[i];
            if (b.StartAddress < at && at < static_cast<UINT64>(b.StartAddress) + b.BlockSize)
                SysRom_FVHIndexList.push_back(i);
        }
    }
}

// Entry i of the block table, false when it does not lie inside the image.
static bool Block(UINT32 i, UINT32 imageSize, UINT32* start, UINT32* size) {
    const sBlockInfo& b = gpFlashInfo->Blocks[i];
    *start = b.StartAddress;
    *size = b.BlockSize;
    return *size != 0 && static_cast<UINT64>(*start) + *size <= imageSize;
}

// One pass of a step over every block, with its progress line.
static ENUM_ERR_ID Pass(AllRomStep step, UINT8* image, UINT32 imageSize) {
    static const CallBackFn_T kCallBack[] = {YOZ_CallBack_Erase, YOZ_CallBack_Update, YOZ_CallBack_Verify};
    static const ENUM_ERR_ID kError[] = {eEID_ERASE_FLASH, eEID_WRITE_FLASH, eEID_VERIFY_FLASH};
    YOZ_SetFlashMsg(YOZ_FLASH_MSG_ALL, gRomSize);
    for (UINT16 i = 0; i < gpFlashInfo->BlockCount; ++i) {
        UINT32 start = 0, size = 0;
        ENUM_ERR_ID result = Block(i, imageSize, &start, &size)
                                 ? Tries(step, start, size, step == kErase ? nullptr : image + start, kCallBack[step])
                                 : kError[step];
        if (result != eEID_NO_ERROR) {
            // End the open progress line before the error message.
            WriteOut("\n");
            return result;
        }
    }
    kCallBack[step](YOZ_PROGRESS_CLOSE, 0, 0);
    return eEID_NO_ERROR;
}

// The blocks that held a signature of the old flash, once more.
static ENUM_ERR_ID RedoSignatureBlocks(UINT8* image, UINT32 imageSize) {
    for (unsigned long n = 0; n < SysRom_FVHIndexList.size(); ++n) {
        UINT32 start = 0, size = 0;
        if (!Block(SysRom_FVHIndexList[n], imageSize, &start, &size)) return eEID_ERASE_FLASH;
        ENUM_ERR_ID result = AllROM_FlashErase(start, size, nullptr);
        if (result == eEID_NO_ERROR) result = AllROM_FlashWrite(start, size, image + start, nullptr);
        if (result == eEID_NO_ERROR) result = AllROM_FlashVerify(start, size, image + start, nullptr);
        if (result != eEID_NO_ERROR) return result;
    }
    return eEID_NO_ERROR;
}

// The block of the table that holds the flash address, false when none
// does inside the image.
static bool BlockHolding(UINT32 at, UINT32 imageSize, UINT32* start, UINT32* size) {
    for (UINT16 i = 0; i < gpFlashInfo->BlockCount; ++i) {
        if (Block(i, imageSize, start, size) && *start <= at && at - *start < *size) return true;
    }
    return false;
}

// The image's signature bytes, written again; a failed write is repeated.
// Flash programming only clears bits, so a signature that then does not
// verify cannot be mended in place, and an erase of four bytes would take
// their whole block with it: the block that holds it is verified, erased
// and written again whole, with the tries of every block.
static ENUM_ERR_ID RewriteSignatures(UINT8* image, UINT32 imageSize) {
    for (unsigned long n = 0; n < RomFile_FVHAddressList.size(); ++n) {
        UINT32 at = RomFile_FVHAddressList[n];
        if (at == 0) continue;
        ENUM_ERR_ID result = eEID_WRITE_FLASH;
        for (UINT32 i = 0; i <= YOZ_GetFlashRetryCnt() && result != eEID_NO_ERROR; ++i) {
            if (FLASH_WriteBlockEx(at, kSignatureLength, image + at, nullptr) == eEID_NO_ERROR) result = eEID_NO_ERROR;
        }
        if (result != eEID_NO_ERROR) return result;
        if (VerifyBlk(at, kSignatureLength, image + at, nullptr)) continue;
        UINT32 start = 0, size = 0;
        if (!BlockHolding(at, imageSize, &start, &size)) return eEID_VERIFY_FLASH;
        result = AllROM_FlashVerify(start, size, image + start, nullptr);
        if (result != eEID_NO_ERROR) return result;
    }
    return eEID_NO_ERROR;
}

// The firmware is told the new layout, found again in the image as it now
// stands (the secure preparation may have moved it).
static ENUM_ERR_ID SendLayoutChange(UINT8* image, UINT32 size) {
    if (!YOZ_RomFile_CheckRomLayoutData(image, size)) return eEID_FLASH_GET_INFO;
    FreeMem(YOZ_RomFile_Get_RomLayout_pRomAreaData(nullptr));
    gRomFile_RomAreaTableSize = AllROM_LayoutDataLength(image, size);
    return RomLayoutChangeIfc(YOZ_RomFile_Get_RomLayout_pHader(), gRomFile_RomAreaTableSize);
}

static ENUM_ERR_ID StartSecureSession() {
    YOZ_GlobalCheck_TakeCapsuleForms();
    // Runtime updates of the boot block, main and NVRAM areas, both policy bytes allowing them.
    return YOZ_SecureFlash_Open(0x03, (1u << FLASH_BLOCK_BOOT) | (1u << FLASH_BLOCK_MAIN) | (1u << FLASH_BLOCK_NVRAM));
}

ENUM_ERR_ID AllROM_FlashFunc() {
    if (FLASH_IsSecureFlashSupported()) {
        ENUM_ERR_ID status = StartSecureSession();
        if (status != eEID_NO_ERROR) return status;
    }
    UINT8* image = YOZ_RomFile_GetBuffer();
    UINT32 imageSize = YOZ_RomFile_Size();
    UINT8* system = YOZ_SysRom_GetBuffer();
    if (image == nullptr || system == nullptr || gpFlashInfo == nullptr) return eEID_MEM_ALLOC;
    if (imageSize != gRomSize) return eEID_WRONG_ROM_FILE_SIZE;
    AllROM_Record_FVH_Address(image, imageSize, system, gRomSize);

    static const AllRomStep kSteps[] = {kErase, kWrite, kVerify};
    for (AllRomStep step : kSteps) {
        ENUM_ERR_ID result = Pass(step, image, imageSize);
        if (result != eEID_NO_ERROR) return result;
    }
    ENUM_ERR_ID result = RedoSignatureBlocks(image, imageSize);
    if (result == eEID_NO_ERROR) result = RewriteSignatures(image, imageSize);
    if (result == eEID_NO_ERROR && YOZ_Com_GetRomLayoutChange()) result = SendLayoutChange(image, imageSize);
    return result;
}

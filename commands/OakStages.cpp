// Stages shared by the OEM activation key modules.
#include <cstring>
#include "RomScan.h"
#include "SecureFlash.h"
#include "TKXPhysMem.h"
#include "YozFlash.h"
#include "YozHoleProc.h"
#include "YozGlobal.h"
#include "YozOakStages.h"
#include "YozOptionStore.h"
#include "YozRomFile.h"
#include "YozSysRom.h"
#include "YozSwitchMode.h"

ENUM_ERR_ID YOZ_Oak_LoadSystemCopy() {
    if (YOZ_pFlashBuff == nullptr) YOZ_pFlashBuff = AllocMem(gRomSize);
    if (YOZ_pFlashBuff == nullptr) return eEID_MEM_ALLOC;
    memset(YOZ_pFlashBuff, 0, gRomSize);
    if (YOZ_GetEMMC_2x2_Mode()) return YOZ_Flash_TypeFvRead(YOZ_pFlashBuff, static_cast<char>(YOZ_BLOCK_OA));
    UINT8* system = YOZ_SysRom_GetBuffer();
    if (system == nullptr) return eEID_MEM_ALLOC;
    memcpy(YOZ_pFlashBuff, system, gRomSize);
    return eEID_NO_ERROR;
}

void YOZ_Oak_KeepCopy(bool bootBlocks) {
    if (YOZ_SysRom_HaveOAKeyBlock()) {
        YOZ_PreFlash_KeepType(YOZ_BLOCK_OA);
        return;
    }
    if (bootBlocks) YOZ_PreFlash_KeepType(YOZ_BLOCK_BOOT);
    UINT32 from = 0, size = 0;
    if (OAK_KeySpan(YOZ_SysRom_GetBuffer(), &from, &size)) YOZ_PreFlash_KeepFlash(from, size);
}

ENUM_ERR_ID YOZ_Oak_SecureStart(UINT8* image) {
    // The image with the key is not what an earlier stage of the run
    // uploaded: its own upload and session.
    FLASH_RenewUpload();
    YOZ_pSecureFileBuff = image;
    YOZ_SecureFileSize = gRomSize;
    YOZ_RomFile_ResetCAPFileHead(&YOZ_pSecureFileBuff, &YOZ_SecureFileSize);
    return YOZ_SecureFlash_Start(1, FLASH_BLOCK_BOOT);
}

ENUM_ERR_ID YOZ_Oak_CarrySystemData(const YOZ_REGION_PROC* p, UINT8* buffer, UINT32 size) {
    UINT8* system = YOZ_SysRom_GetBuffer();
    if (system == nullptr || buffer == nullptr || YOZ_pFlashMap == nullptr) return eEID_MEM_ALLOC;
    YOZ_RomFile_SearchNCB(YOZ_RomFile_GetBuffer());
    ENUM_ERR_ID carry = RP_CheckCarryOverMarked(YOZ_pFlashMap);
    if (carry != eEID_NO_ERROR) return carry;
    RP_CarrySystemData(p, buffer, system, size);
    return eEID_NO_ERROR;
}

// The span of the firmware-ID file of `rom` (`size` bytes); empty without one.
static void FidFileSpan(const UINT8* rom, UINT32 size, UINT32* from, UINT32* to) {
    *from = *to = 0;
    UINT32 header = rom != nullptr ? RomScan_FidFileOffset(rom, size) : 0;
    if (header == 0 || !YOZ_RangeInside(header, 0x18, size)) return;
    *from = header;
    *to = header + YOZ_FfsFileSize(rom + header);
}

static bool Protected(UINT32 at, const _ROMHOLEREC* list, UINT32 n) {
    for (UINT32 i = 0; i < n; ++i)
        if (list[i].Size != 0 && at >= list[i].RomOffset && at - list[i].RomOffset < list[i].Size) return true;
    return false;
}

// A block outside the boot block that the key update takes from the image
// must hold what the system holds there, but for the firmware-ID files and
// the protected files the carry looks after: else the volume would be half
// the image's, half the system's.
static bool BlockMatchesSystem(const sBlockInfo& b, const UINT8* image, const UINT8* system) {
    UINT32 a0, a1, b0, b1;
    FidFileSpan(image, gRomSize, &a0, &a1);
    FidFileSpan(system, gRomSize, &b0, &b1);
    for (UINT32 at = b.StartAddress; at - b.StartAddress < b.BlockSize && at < gRomSize; ++at) {
        if (image[at] == system[at] || (at >= a0 && at < a1) || (at >= b0 && at < b1)) continue;
        if (Protected(at, YOZ_SysRHRECList, YOZ_MAX_ROMHOLE) || Protected(at, YOZ_RomFileRHRECList, YOZ_MAX_ROMHOLE) ||
            Protected(at, YOZ_SysSLPRHRECList, YOZ_MAX_SLP) || Protected(at, YOZ_RomFileSLPRHRECList, YOZ_MAX_SLP))
            continue;
        return false;
    }
    return true;
}

ENUM_ERR_ID YOZ_Oak_KeyBlocksKept(UINT8* image, bool systemKey) {
    UINT8* system = YOZ_SysRom_GetBuffer();
    UINT32 blocks = gpFlashInfo != nullptr ? gpFlashInfo->BlockCount : 0;
    if (system == nullptr || image == nullptr || YOZ_OpenFileSize < gRomSize) return eEID_MEM_ALLOC;
    UINT8* map = AllocMem(blocks != 0 ? blocks : 1);
    if (map == nullptr) return eEID_MEM_ALLOC;
    for (UINT32 i = 0; i < blocks; ++i) map[i] = gpFlashInfo->Blocks[i].Type == YOZ_BLOCK_BOOT ? 2 : 0;
    OAK_MarkKeyBlocks(map, image);
    YOZ_RomFile_SearchNCB(YOZ_RomFile_GetBuffer());
    ENUM_ERR_ID status = RP_CheckCarryOverMarked(map);
    // A key left outside what is rewritten would stay on the flash.
    if (status == eEID_NO_ERROR && systemKey && !OAK_BlocksMarked(map, gYOZ_FidSystemOffset + YOZ_FID_KEY_DATA, YOZ_OA_KEY_AREA))
        status = eEID_OAK_REGION_ERROR;
    for (UINT32 i = 0; i < blocks && status == eEID_NO_ERROR; ++i) {
        const sBlockInfo& b = gpFlashInfo->Blocks[i];
        bool whole = (b.Type == YOZ_BLOCK_MAIN && YOZ_GetPCmdIsEnable()) || b.Type == YOZ_BLOCK_BOOT;
        if (map[i] != 0 && !whole && !BlockMatchesSystem(b, image, system)) status = eEID_OAK_REGION_ERROR;
    }
    FreeMem(map);
    return status;
}

ENUM_ERR_ID YOZ_Oak_ActionStage(UINT8* buffer, UINT8 msgSet, UINT32 total, UINT8* ran) {
    if (buffer == nullptr) return eEID_MEM_ALLOC;
    YOZ_SetFlashMsg(msgSet, total);
    ENUM_ERR_ID result = YOZ_Flash_Action(buffer);
    *ran = 1;
    return result;
}

ENUM_ERR_ID YOZ_Oak_BlockStage(UINT8* buffer, UINT8 msgSet, UINT32 total, UINT8* ran) {
    if (buffer == nullptr) return eEID_MEM_ALLOC;
    if (YOZ_GetSecureFlashStatus() && !YOZ_GetEMMC_2x2_Mode()) {
        ENUM_ERR_ID status = YOZ_Oak_SecureStart(buffer);
        if (status != eEID_NO_ERROR) return status;
    }
    return YOZ_Oak_ActionStage(buffer, msgSet, total, ran);
}

ENUM_ERR_ID YOZ_Oak_ItemsStage(UINT8* buffer, UINT32 total, UINT8* ran) {
    // The key went into the blocks (its file keeps a data sum), which this
    // stage cannot write: nothing may be reported as written.
    if (YOZ_FlashItemList.empty()) return YOZ_ERR_NOT_WRITE_ONCE;
    ENUM_ERR_ID result = YOZ_FlashItemList_Run(buffer, YOZ_FLASH_MSG_OA, total);
    if (result == eEID_NO_ERROR) *ran = 1;
    return result;
}

void YOZ_Oak_ImageChecks(CHECK_FUNC_ITEM& record, bool romFile) {
    UINT8 wanted = romFile ? 1 : 0;
    record.needsFile = record.needsFileProcessing = record.needsFfsChecksum = record.needsRomIdCheck = wanted;
}

ENUM_ERR_ID YOZ_Oak_SizeCheck(const CHECK_FUNC_ITEM& record, INT16 sizeStatus) {
    return record.needsFile == 0 ? eEID_NO_ERROR : YOZ_RegionOpen_SizeCheck(sizeStatus);
}

ENUM_ERR_ID YOZ_Oak_Execute(const TKX_QUEUE_ITEM& item, const YOZ_STAGE_SLOTS& slots, const char* order, UINT8* ran,
                            TKXQueueItemList& items, UINT32 followUp) {
    *ran = 0;
    ENUM_ERR_ID result = YOZ_RunModuleStages(item, slots, order);
    if (*ran)
        for (unsigned long i = 0; i < items.size(); ++i)
            if (items[i]->ModuleId == followUp) items[i]->Enabled = 1;
    return result;
}

void YOZ_Oak_Help(const TKX_QUEUE_ITEM& item, UINT8 pass, const char* word, const char* commands,
                  const char* options) {
    if (!YOZ_ModeTakesPart(item.ModeMask) || pass > 1) return;
    WriteOut(pass == 1 ? commands : options, 11, word);
    YOZ_CheckGlobalLineCont(1);
}

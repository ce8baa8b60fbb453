// Stages shared by the two non-critical block commands.
#include "SecureFlash.h"
#include "YozFlash.h"
#include "YozGlobal.h"
#include "YozNcbStages.h"
#include "YozOptionStore.h"
#include "YozRomFile.h"
#include "YozSwitchMode.h"
#include "YozSysRom.h"

ENUM_ERR_ID YOZ_NcbOpen_Execute(const YOZ_REGION_OPEN& r) {
    if (!YOZ_ModeTakesPart(r.Item->ModeMask)) return eEID_NO_ERROR;
    if (YOZ_GetCapsuleMode() || YOZ_GetRecoveryMode()) return eEID_NO_ERROR;
    return YOZ_RunStages(*r.Slots, YOZ_ORDER_OPEN);
}

ENUM_ERR_ID YOZ_NcbOpen_HaveNcb() { return YOZ_SysRom_GetNCBNumber() == 0 ? eEID_NOT_FOUND_NCB : eEID_NO_ERROR; }

ENUM_ERR_ID YOZ_NcbFlash_Buffers(UINT8** system) {
    if (YOZ_RegionFlash_AllocMap() != eEID_NO_ERROR || YOZ_RomFile_GetBuffer() == nullptr) return eEID_MEM_ALLOC;
    *system = YOZ_SysRom_GetBuffer();
    return *system != nullptr ? eEID_NO_ERROR : eEID_MEM_ALLOC;
}

ENUM_ERR_ID YOZ_NcbFlash_Flash(const YOZ_REGION_FLASH& r) {
    UINT8* system = YOZ_SysRom_GetBuffer();
    if (system == nullptr) return eEID_MEM_ALLOC;
    YOZ_SetFlashMsg(r.BlockType, *r.Proc->AllBlockSize);
    return YOZ_Flash_Action(system);
}

ENUM_ERR_ID YOZ_NcbFlash_SecureFlash(const YOZ_REGION_FLASH& r) {
    UINT8* image = YOZ_RomFile_GetBuffer();
    UINT8* system = YOZ_SysRom_GetBuffer();
    if (image == nullptr || system == nullptr) return eEID_MEM_ALLOC;
    ENUM_ERR_ID status = YOZ_SecureFlash_Start(YOZ_NO_POLICY_BYTE, FLASH_BLOCK_BOOT);
    if (status == eEID_NO_ERROR) status = YOZ_RegionFlash_CafPass(r.Proc, r.BlockType, system);
    if (status != eEID_NO_ERROR) return status;
    YOZ_SetFlashMsg(r.BlockType, *r.Proc->AllBlockSize);
    // A file of block data only is smaller than the flash: the engine reads
    // whole blocks, so it takes the system ROM copy, which holds that data.
    return YOZ_Flash_Action(YOZ_OpenFileSize >= gRomSize ? image : system);
}

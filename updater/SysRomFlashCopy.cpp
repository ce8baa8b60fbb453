// The copy of the whole flash, read once per run.
#include "RomInfo.h"
#include "TKXPhysMem.h"
#include "YozFlashRead.h"
#include "YozSysRom.h"

#define FLASH_MSG_READ 255

ENUM_ERR_ID YOZ_SysRom_LoadMem(UINT8* buffer) {
    YOZ_SetFlashMsg(FLASH_MSG_READ, YOZ_SysRom_GetAllSize());
    ENUM_ERR_ID status = YOZ_Flash_Read(buffer);
    if (status == eEID_NO_ERROR) YOZ_SysRom_GetRomID(buffer);
    return status;
}

UINT8* YOZ_SysRom_GetBuffer() {
    if (YOZ_pSystembuff == nullptr) {
        YOZ_pSystembuff = AllocMem(gRomSize);
        if (YOZ_pSystembuff == nullptr) {
            YOZ_SysRom_ErrorID = eEID_MEM_ALLOC;
            return nullptr;
        }
    }
    if (!YOZ_SysRomLoadOK) {
        YOZ_SysRom_ErrorID = YOZ_SysRom_LoadMem(YOZ_pSystembuff);
        if (YOZ_SysRom_ErrorID == eEID_NO_ERROR) YOZ_SysRomLoadOK = 1;
    }
    return YOZ_pSystembuff;
}

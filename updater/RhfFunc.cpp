// The all-holes processor ("/L"): every image hole over the system's place
// of the same hole.
#include "YozHoleProc.h"
#include "YozRomFile.h"
#include "YozSysRom.h"

UINT32 gRHFF_AllBlockSize = 0;
UINT8 gRHFF_FlashEnable = 0;
UINT8 gRHFF_FV_BootEnable = 0;
UINT8 gRHFF_FV_MainEnable = 0;
static UINT8 s_FvType = 0;
const YOZ_REGION_PROC YOZ_RHFProc = {&gRHFF_AllBlockSize, &gRHFF_FlashEnable, &s_FvType, 0, 0, 1};

void RHF_FuncVar_Init() {
    RP_FuncVar_Init(&YOZ_RHFProc);
    gRHFF_FV_BootEnable = 0;
    gRHFF_FV_MainEnable = 0;
}

UINT8 RHF_Proc_MergeRHList(_ROMHOLEREC* system, _ROMHOLEREC* file) { return RP_MergeRHList(&YOZ_RHFProc, system, file); }

ENUM_ERR_ID RHF_Proc_SecureMergeRHList(_ROMHOLEREC* system, _ROMHOLEREC* file) {
    return RHP_SecureMergeRHList(system, file, 1);
}

ENUM_ERR_ID RHF_Proc_FileRHToFlashBuff(UINT8* destination, UINT8* source, UINT32 size, _ROMHOLEREC* system) {
    UINT8 every[YOZ_MAX_ROMHOLE] = {0};
    for (UINT32 i = 0; i < YOZ_HoleCount(YOZ_RomFile_GetRomHoleNumber()); ++i) every[i] = 1;
    return RHP_FileRHToFlashBuff(destination, source, size, system, every);
}

UINT32 RHF_Proc_MakeDoItList(UINT8* map) {
    return RHP_MakeDoItList(map, YOZ_SysRHRECList, YOZ_HoleCount(YOZ_RomFile_GetRomHoleNumber()), nullptr, nullptr,
                            &gRHFF_FV_BootEnable, &gRHFF_FV_MainEnable);
}

UINT32 RHF_Proc_MakeCAFDoItList(UINT8* buffer, UINT8* map, UINT32 total) {
    return RP_MakeCAFDoItList(&YOZ_RHFProc, buffer, map, total);
}

UINT8 RHF_Proc_CheckFlashAddr(sBlockInfo* block, _ROMHOLEREC* hole) { return RP_CheckFlashAddr(block, hole); }

// The holes-by-number processor ("/L" with a number): the chosen holes from
// a whole image, or one hole's data from a file (bin-file mode) written into
// every chosen hole; the final choice comes from the firmware.
#include <cstring>
#include "YozFlash.h"
#include "YozHoleProc.h"
#include "YozOptionStore.h"
#include "YozRomFile.h"
#include "YozSysRom.h"
#include "ZoktCfgCmd.h"

UINT32 gRHNF_AllBlockSize = 0;
UINT8 gRHN_FlashEnable = 0;
UINT8 gRHN_UseBinFile = 0;
UINT8 gRHN_FV_BootEnable = 0;
UINT8 gRHN_FV_MainEnable = 0;
UINT8 gRHN_InputLnList[YOZ_MAX_ROMHOLE] = {0};
UINT8 gRHN_LnNum = 0;
static UINT8 s_FvType = 0;
const YOZ_REGION_PROC YOZ_RHNProc = {&gRHNF_AllBlockSize, &gRHN_FlashEnable, &s_FvType, 0, 0, 1};

void RHN_FuncVar_Init() {
    RP_FuncVar_Init(&YOZ_RHNProc);
    gRHN_UseBinFile = 0;
    gRHN_FV_BootEnable = 0;
    gRHN_FV_MainEnable = 0;
}

UINT8 RHN_Proc_MergeRHList(_ROMHOLEREC* system, _ROMHOLEREC* file) { return RP_MergeRHList(&YOZ_RHNProc, system, file); }

ENUM_ERR_ID RHN_Proc_SecureMergeRHList(_ROMHOLEREC* system, _ROMHOLEREC* file) {
    return RHP_SecureMergeRHList(system, file, 0);
}

ENUM_ERR_ID RHN_Proc_FileRHToFlashBuff(UINT8* destination, UINT8* source, UINT32 size, _ROMHOLEREC* system,
                                       UINT8* chosen) {
    UINT8 write[YOZ_MAX_ROMHOLE] = {0};
    for (UINT32 i = 0; i < YOZ_HoleCount(YOZ_RomFile_GetRomHoleNumber()); ++i) write[i] = chosen[i];
    return RHP_FileRHToFlashBuff(destination, source, size, system, write);
}

ENUM_ERR_ID RHN_Proc_SingleFileToFlashBuff(UINT8* destination, UINT8* file, UINT32 fileSize, _ROMHOLEREC* system,
                                           UINT8* chosen) {
    if (destination == nullptr || file == nullptr) return eEID_MEM_MGR_INIT;
    UINT32 n = YOZ_HoleCount(YOZ_SysRom_GetRomHoleNumber());
    for (UINT32 i = 0; i < n; ++i) {
        if (!chosen[i]) continue;
        UINT32 room = 0;
        if (!RHP_PayloadRoom(&system[i], YOZ_FFS_HEADER_SIZE, &room) || fileSize > room) return eEID_NOT_MATCH_HOLE;
        ENUM_ERR_ID taken = RHP_CheckHoleData(destination, file, fileSize, system[i]);
        if (taken != eEID_NO_ERROR) return taken;
        if (!RHP_AddHoleItem(system[i])) return eEID_MEM_ALLOC;
        if (!YOZ_FlashItemList_WriteOnce_Check(destination)) return YOZ_ERR_NOT_WRITE_ONCE;
        RHP_PutHoleData(destination, file, fileSize, system[i]);
    }
    return eEID_NO_ERROR;
}

// A chosen hole missing from the image gives 0.
UINT32 RHN_Proc_MakeDoItList(UINT8* map, UINT8* chosen) {
    return RHP_MakeDoItList(map, YOZ_SysRHRECList, YOZ_MAX_ROMHOLE, chosen, YOZ_RomFileRHRECList, &gRHN_FV_BootEnable,
                            &gRHN_FV_MainEnable);
}

// Bin-file mode: a chosen hole missing from the system gives 0.
UINT32 RHN_Proc_MakeDoItList2(UINT8* map, UINT8* chosen) {
    return RHP_MakeDoItList(map, YOZ_SysRHRECList, YOZ_MAX_ROMHOLE, chosen, YOZ_SysRHRECList, nullptr, nullptr);
}

UINT32 RHN_Proc_MakeCAFDoItList(UINT8* buffer, UINT8* map, UINT32 total) {
    return RP_MakeCAFDoItList(&YOZ_RHNProc, buffer, map, total);
}

UINT8 RHN_Proc_CheckFlashAddr(sBlockInfo* block, _ROMHOLEREC* hole) { return RP_CheckFlashAddr(block, hole); }

UINT8 RHNF_BitDataToLnValue(UINT8* flags) {
    memset(flags, 0, YOZ_MAX_ROMHOLE);
    const ZOKT_DC_EXT_ENTRY* entry = GetLnEx_HDRData();
    if (entry == nullptr) return 0;
    UINT16 mask = static_cast<UINT16>(entry->Bits ^ entry->Mask);
    for (UINT32 i = 0; i < YOZ_MAX_ROMHOLE; ++i) flags[i] = (mask >> i) & 1;
    return mask != 0 ? 1 : 0;
}

// Census of the flash copy's protected files and non-critical blocks.
#include <cstring>
#include "RomInfo.h"
#include "RomScan.h"
#include "YozSysRom.h"

UINT8 YOZ_SysRom_SearchNCB(UINT8* copy) {
    memset(YOZ_SysRHRECList, 0, sizeof(YOZ_SysRHRECList));
    memset(YOZ_SysSLPRHRECList, 0, sizeof(YOZ_SysSLPRHRECList));
    YOZ_SysRHCnt = 0;
    YOZ_SysSLPCnt = 0;
    YOZ_SysRom_bHaveSLP20 = 0;
    YOZ_FvWalk_ClearDmiList(gYOZ_SysRom_DMIGuidList);
    YOZ_SysRom_GetBlockInfo();
    if (copy == nullptr) return 0;

    UINT32 limit = RomScan_Limit(copy);
    UINT32 holes = 0, slps = 0;
    YOZ_Holes_WalkRuns(copy, limit, YOZ_BLOCK_MAIN, YOZ_SysRHRECList, holes, YOZ_SysSLPRHRECList, slps,
                       &gYOZ_SysRom_DMIGuidList, 1);
    YOZ_Holes_WalkRuns(copy, limit, YOZ_BLOCK_BOOT, YOZ_SysRHRECList, holes, YOZ_SysSLPRHRECList, slps,
                       &gYOZ_SysRom_DMIGuidList, 1);
    YOZ_SysRHCnt = static_cast<UINT8>(holes > 0xFF ? 0xFF : holes);
    YOZ_SysSLPCnt = static_cast<UINT8>(slps > 0xFF ? 0xFF : slps);
    if (slps >= YOZ_MAX_SLP) YOZ_SysRom_bHaveSLP20 = 1;
    UINT32 total = holes + YOZ_SysNCBCnt;
    return (total != 0 && total <= YOZ_MAX_ROMHOLE) ? 1 : 0;
}

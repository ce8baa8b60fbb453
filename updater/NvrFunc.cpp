// The NVRAM processor (block type 2): type list and plain compare-and-flash
// list of the family.
#include "YozNcbProc.h"

UINT32 gNVRF_AllBlockSize = 0;
UINT8 gNVRF_FlashEnable = 0;
UINT8 gNVRF_FvType = 0;
const YOZ_REGION_PROC YOZ_NVRProc = {&gNVRF_AllBlockSize, &gNVRF_FlashEnable, &gNVRF_FvType, 0, 0, 0};

void NVR_FuncVar_Init() { RP_FuncVar_Init(&YOZ_NVRProc); }
YOZ_REGION_PROC_COMMON_DEFINE(NVR, YOZ_NVRProc)
UINT32 NVR_Proc_MakeTypeDoItList(UINT8* map, char type) { return RP_MakeTypeDoItList(&YOZ_NVRProc, map, type); }

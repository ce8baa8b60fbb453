// The main-block processor (block type 1): plain compare-and-flash list.
#include "YozRegionProc.h"

UINT32 gMBF_AllBlockSize = 0;
UINT8 gMBF_FlashEnable = 0;
UINT8 gMBF_FvType = 0;
const YOZ_REGION_PROC YOZ_MBProc = {&gMBF_AllBlockSize, &gMBF_FlashEnable, &gMBF_FvType, 0, 0, 0};

YOZ_REGION_PROC_DEFINE(MB, YOZ_MBProc)

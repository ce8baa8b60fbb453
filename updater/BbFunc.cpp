// The boot-block processors (block type 0): compare-and-flash list with the
// allocation check; the second one,
// used by the boot-block module named by the firmware, also forces the last
// block of the type when the first one differs.
#include "YozRegionProc.h"

UINT32 gBBF_AllBlockSize = 0;
UINT8 gBBF_FlashEnable = 0;
UINT8 gBBF_FvType = 0;
const YOZ_REGION_PROC YOZ_BBProc = {&gBBF_AllBlockSize, &gBBF_FlashEnable, &gBBF_FvType, 1, 0, 0};

UINT32 gBB2F_AllBlockSize = 0;
UINT8 gBB2F_FlashEnable = 0;
UINT8 gBB2F_FvType = 0;
const YOZ_REGION_PROC YOZ_BB2Proc = {&gBB2F_AllBlockSize, &gBB2F_FlashEnable, &gBB2F_FvType, 1, 1, 0};

YOZ_REGION_PROC_DEFINE(BB, YOZ_BBProc)
YOZ_REGION_PROC_DEFINE(BB2, YOZ_BB2Proc)

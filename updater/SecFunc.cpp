// The EC block processors: SEC_ ("/E") and SECUF_ ("/ECUF"), type list and
// first/last compare-and-flash list of the family.
#include "YozEcProc.h"

UINT32 gSECF_AllBlockSize = 0;
UINT8 gSECF_FvType = 0;
UINT32 gSECUFF_AllBlockSize = 0;
UINT8 gSECUFF_FvType = 0xFF;

// Nothing arms these processors: their modules flash on their own. Both
// compare with the first/last rule.
static UINT8 s_SECUnarmed = 0, s_SECUFUnarmed = 0;
const YOZ_REGION_PROC YOZ_SECProc = {&gSECF_AllBlockSize, &s_SECUnarmed, &gSECF_FvType, 0, 1, 0};
const YOZ_REGION_PROC YOZ_SECUFProc = {&gSECUFF_AllBlockSize, &s_SECUFUnarmed, &gSECUFF_FvType, 0, 1, 0};

void SEC_FuncVar_Init() { RP_FuncVar_Init(&YOZ_SECProc); }
YOZ_REGION_PROC_COMMON_DEFINE(SEC, YOZ_SECProc)
UINT32 SEC_Proc_MakeTypeDoItList(UINT8* map, char type) { return RP_MakeTypeDoItList(&YOZ_SECProc, map, type); }

void SECUF_FuncVar_Init() {
    RP_FuncVar_Init(&YOZ_SECUFProc);
    gSECUFF_FvType = 0xFF;
}
YOZ_REGION_PROC_COMMON_DEFINE(SECUF, YOZ_SECUFProc)
UINT32 SECUF_Proc_MakeTypeDoItList(UINT8* map, char type) { return RP_MakeTypeDoItList(&YOZ_SECUFProc, map, type); }

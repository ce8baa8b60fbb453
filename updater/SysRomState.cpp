// State of the system ROM model: reset and release, record accessors and
// the ME answer.
#include <cstring>
#include "TKXPhysMem.h"
#include "YozRomFile.h"
#include "YozSysRom.h"
#include "ZoktMe.h"

UINT8* YOZ_pSystembuff = nullptr;
UINT8 YOZ_SysRomLoadOK = 0;
ENUM_ERR_ID YOZ_SysRom_ErrorID = eEID_NO_ERROR;
_ROMHOLEREC YOZ_SysRHRECList[YOZ_MAX_ROMHOLE];
UINT8 YOZ_SysRHCnt = 0;
_ROMHOLEREC YOZ_SysSLPRHRECList[YOZ_MAX_SLP];
UINT8 YOZ_SysSLPCnt = 0;
UINT8 YOZ_SysRom_bHaveSLP20 = 0;
TKXRomHoleList gYOZ_SysRom_DMIGuidList;
UINT8 gYOZ_SysRom_bOA31GUIDInFind = 0;
YOZ_ROMID_ENTRY RomIDDataList[YOZ_MAX_ROMID];
UINT32 gROMIDCnt = 0;
UINT8* YOZ_pFIDVer4 = nullptr;
UINT32 gYOZ_FidSystemOffset = 0;
UINT8* YOZ_pEcbHdr = nullptr;
UINT8 YOZ_SysRom_bECB_Is_Get = 0;
UINT8* gYOZ_SysRom_PassWord = nullptr;
UINT32 gYOZ_SysRom_PWFileSize = 0;
UINT8 gYOZ_SysRom_PWPassed = 0;
YOZ_ROM_LAYOUT YOZ_SysRomLayout;

void YOZ_SysRom_Regions_Release();

static void ClearRecords() {
    memset(YOZ_SysRHRECList, 0, sizeof(YOZ_SysRHRECList));
    memset(YOZ_SysSLPRHRECList, 0, sizeof(YOZ_SysSLPRHRECList));
    YOZ_SysRHCnt = 0;
    YOZ_SysSLPCnt = 0;
    YOZ_SysRom_bHaveSLP20 = 0;
    YOZ_FvWalk_ClearDmiList(gYOZ_SysRom_DMIGuidList);
}

void YOZ_SysRom_Var_Init() {
    YOZ_SysRom_Regions_Release();
    ClearRecords();
    gYOZ_SysRom_bOA31GUIDInFind = 0;
    memset(RomIDDataList, 0, sizeof(RomIDDataList));
    gROMIDCnt = 0;
    FreeMem(YOZ_pFIDVer4);
    YOZ_pFIDVer4 = nullptr;
    gYOZ_FidSystemOffset = 0;
    FreeMem(YOZ_pEcbHdr);
    YOZ_pEcbHdr = nullptr;
    YOZ_SysRom_bECB_Is_Get = 0;
    YOZ_SysRomLoadOK = 0;
    YOZ_SysRom_ErrorID = eEID_NO_ERROR;
    gYOZ_SysRom_PWPassed = 0;
    YOZ_RomLayout_Clear(&YOZ_SysRomLayout);
}

void YOZ_SysRom_Var_Release() {
    YOZ_SysRom_Regions_Release();
    YOZ_FvWalk_ClearDmiList(gYOZ_SysRom_DMIGuidList);
    FreeMem(YOZ_pFIDVer4);
    YOZ_pFIDVer4 = nullptr;
    YOZ_RomLayout_Clear(&YOZ_SysRomLayout);
}

static const _ROMHOLEREC* HoleAt(UINT32 i) {
    UINT32 n = YOZ_SysRHCnt < YOZ_MAX_ROMHOLE ? YOZ_SysRHCnt : YOZ_MAX_ROMHOLE;
    return i < n ? &YOZ_SysRHRECList[i] : nullptr;
}

UINT8 YOZ_SysRom_GetRomHoleNumber() { return YOZ_SysRHCnt; }
EFI_GUID* YOZ_SysRom_GetRomHoleGuid(UINT32 i) {
    return i < YOZ_MAX_ROMHOLE ? &YOZ_SysRHRECList[i].Guid : nullptr;
}
UINT32 YOZ_SysRom_GetRomHoleFileOffset(UINT32 i) {
    const _ROMHOLEREC* r = HoleAt(i);
    return r ? r->FileOffset : 0;
}
UINT32 YOZ_SysRom_GetRomHoleRomOffset(UINT32 i) {
    const _ROMHOLEREC* r = HoleAt(i);
    return r ? r->RomOffset : 0;
}
UINT32 YOZ_SysRom_GetRomHoleSize(UINT32 i) {
    const _ROMHOLEREC* r = HoleAt(i);
    return r ? r->Size : 0;
}

static _ROMHOLEREC* DmiAt(UINT32 i) { return gYOZ_SysRom_DMIGuidList.empty() ? nullptr : gYOZ_SysRom_DMIGuidList[i]; }
UINT32 YOZ_SysRom_GetDMINumber() { return static_cast<UINT32>(gYOZ_SysRom_DMIGuidList.size()); }
UINT32 YOZ_SysRom_GetDMIRomOffset(UINT32 i) {
    _ROMHOLEREC* r = DmiAt(i);
    return r ? r->RomOffset : 0;
}
UINT32 YOZ_SysRom_GetDMISize(UINT32 i) {
    _ROMHOLEREC* r = DmiAt(i);
    return r ? r->Size : 0;
}

UINT8 YOZ_SysRom_HaveSLP20() { return YOZ_SysRom_bHaveSLP20; }
UINT8 YOZ_SysRom_HaveOA31Guid() {
    YOZ_SysRom_GetBlockInfo();
    return gYOZ_SysRom_bOA31GUIDInFind;
}
ENUM_ERR_ID YOZ_SysRom_LastError() { return YOZ_SysRom_ErrorID; }
UINT8 YOZ_SysRom_CheckOAKeyInRom() { return YOZ_pFIDVer4 != nullptr ? 1 : 0; }

UINT8 YOZ_SysRom_CheckMESupport() {
    if (ZOKT_ME_Ignition_CheckSupport()) return 1;
    return ZOKT_ME_CheckSupport() ? 1 : 0;
}

UINT8 YOZ_SysRom_CheckRomLayoutData(UINT8* copy, UINT32 size) {
    return YOZ_RomLayout_Find(copy, size, &YOZ_SysRomLayout);
}
UINT8* YOZ_SysRom_Get_RomLayout_pFFS_Hander() { return YOZ_SysRomLayout.pFfsHeader; }
UINT8* YOZ_SysRom_Get_RomLayout_pHader() { return YOZ_SysRomLayout.pHeader; }
UINT8* YOZ_SysRom_Get_RomLayout_pRomArea() { return YOZ_SysRomLayout.pRomArea; }
UINT8* YOZ_SysRom_Get_RomLayout_pRomAreaData(UINT32* size) {
    return YOZ_RomLayout_TakeAreaData(&YOZ_SysRomLayout, size);
}

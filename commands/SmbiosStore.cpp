// "/R": keeps the system's SMBIOS data. When the main BIOS or boot block is
// flashed, the system's "BSA_" area goes into the ROM image first; when
// NVRAM is flashed, the firmware stores its SMBIOS variables, and the end
// hook of smbiosrestore (always active) has them restored at the very end
// of the run.
#include "TKXRunEnd.h"
#include "YozOptionStore.h"
#include "YozPreserveStages.h"
#include "YozSwitchMode.h"
#include "ZoktVarPreserve.h"

static TKX_QUEUE_ITEM SMBIOSStoreQueueItem;
static TKX_QUEUE_ITEM SMBIOSReStoreQueueItem;
static CHECK_FUNC_ITEM SMBCheckFunc;
CHECK_FUNC_ITEM* PtrSMBCheckFunc = nullptr;
static YOZ_STAGE_SLOTS s_Slots, s_Registered;
static YOZ_STAGE_SLOTS s_ReSlots;
UINT8 gSMB_MainBlockFlag = 0, gSMB_BootBlockFlag = 0, gSMB_NVRamBlockFlag = 0;

static ENUM_ERR_ID SMB_CheckRomFunc(INT16 sizeStatus) { return YOZ_RegionOpen_SizeCheck(sizeStatus); }
// The image side is tried before anything is stored or erased.
static ENUM_ERR_ID SMB_CheckBlockFunc() { return YOZ_Preserve_CheckImageSide(&gSMB_DmiData, SMB_Proc_StoreDmiData); }

static ENUM_ERR_ID SMB_ProcMainFvFlashBuffFunc() {
    return YOZ_Preserve_ImageSide(&gSMB_DmiData, SMB_Proc_StoreDmiData, SMB_Proc_ReStoreDmiData);
}

static ENUM_ERR_ID SMB_FlashFunc() {
    gSMBF_FlashEnable = 1;
    return eEID_NO_ERROR;
}

// The run ends before the end hook restored the SMBIOS variables: they are
// taken back.
static ENUM_ERR_ID SMB_RestoreAtRunEnd() {
    return YOZ_Preserve_TakeBack(ZOKT_VarPreserve_DMIVarReStore, "SMBIOS variables");
}

// Before the NVRAM is erased the firmware keeps its SMBIOS variables: a store
// refused or not answered ends the run. Only firmware that answers that it
// has no such support is gone on with, after a word: it keeps nothing.
static ENUM_ERR_ID SMB_ZOKTFunc() {
    if (!YOZ_Preserve_AskSupport()) {
        if (!ZOKT_VarPreserve_Unsupported()) return ZOKT_VarPreserve_GetLastErrorID();
        WriteOut(" - Warning: BIOS doesn't support SMBIOS preservation, SMBIOS variables are not kept.\n");
        return eEID_NO_ERROR;
    }
    if (!YOZ_Preserve_Store(ZOKT_VarPreserve_DMIVarStore, SMB_RestoreAtRunEnd, "SMBIOS variables"))
        return ZOKT_VarPreserve_GetLastErrorID();
    gSMBF_FlashEnable = 1;
    gSMBF_ZOKTFlash = 1;
    return eEID_NO_ERROR;
}

// The image side for a main-BIOS or boot-block flash, the firmware side for
// an NVRAM flash.
static ENUM_ERR_ID SMB_ZOKTCheck() {
    if (gSMB_BootBlockFlag || gSMB_MainBlockFlag) {
        s_Slots.ProcessFunc = SMB_ProcMainFvFlashBuffFunc;
        s_Slots.FlashFunc = nullptr;
        s_Slots.ZOKTFunc = nullptr;
    }
    if (gSMB_NVRamBlockFlag) s_Slots.ZOKTFunc = SMB_ZOKTFunc;
    return eEID_NO_ERROR;
}

static ENUM_ERR_ID SMBRE_ZOKTFunc() { return eEID_NO_ERROR; }

// End hook: the SMBIOS variables the firmware stored come back; the saved
// areas are released.
static ENUM_ERR_ID DMIVarReStoreFunc() {
    SMB_Proc_FreeDmiData(&gSMB_DmiData);
    SMB_Proc_FreeDmiData(&gSMBN_DmiData);
    if (!gSMBF_ZOKTFlash) return eEID_NO_ERROR;
    gSMBF_ZOKTFlash = 0;
    TKX_RunEndPop(SMB_RestoreAtRunEnd);
    return ZOKT_VarPreserve_DMIVarReStore() ? eEID_NO_ERROR : ZOKT_VarPreserve_GetLastErrorID();
}

static ENUM_ERR_ID SMBIOSStoreParse(TKXArgvList& args, TKX_QUEUE_ITEM* self) {
    SMB_FuncVar_Init();
    SMB_Proc_FreeDmiData(&gSMB_DmiData);
    return YOZ_Preserve_Parse(self, args, "/R", s_Slots, s_Registered);
}

// In capsule or recovery mode the loaded image is the signed file itself:
// it is left as it is.
static ENUM_ERR_ID SMBIOSStoreExecute(TKXQueueItemList&) {
    if (!YOZ_ModeTakesPart(SMBIOSStoreQueueItem.ModeMask)) return eEID_NO_ERROR;
    if (YOZ_Preserve_SkipInCapsuleMode()) return eEID_NO_ERROR;
    gSMB_MainBlockFlag = YOZ_GetPCmdIsEnable();
    gSMB_BootBlockFlag = YOZ_GetBCmdIsEnable();
    gSMB_NVRamBlockFlag = YOZ_GetNCmdIsEnable();
    return YOZ_RunStages(s_Slots, "Z P F ZF");
}

static void SMBIOSStoreHelp(UINT8 pass) {
    static const char* const kLines[] = {"|%*s - Preserve ALL SMBIOS structure during programming             |\n"};
    YOZ_OptionHelp(SMBIOSStoreQueueItem, pass, "/R", "", kLines, 1);
}

static ENUM_ERR_ID SMBIOSReStoreParse(TKXArgvList&, TKX_QUEUE_ITEM* self) {
    ENUM_ERR_ID status = YOZ_Preserve_RestoreParse(self);
    if (self->Enabled) YOZ_GlobalEndHookFuncList.push_back(DMIVarReStoreFunc);
    return status;
}

static ENUM_ERR_ID SMBIOSReStoreExecute(TKXQueueItemList&) {
    if (!YOZ_ModeTakesPart(SMBIOSReStoreQueueItem.ModeMask)) return eEID_NO_ERROR;
    if (!gSMBF_FlashEnable) return eEID_NO_ERROR;
    YOZ_RunStages(s_ReSlots, "ZF");
    gSMBF_FlashEnable = 0;
    return eEID_NO_ERROR;
}

static void NoHelp(UINT8) {}

ENUM_ERR_ID RegisterSMBIOSStoreQueueItem(TKXQueueItemList& items) {
    static const YOZ_PRESERVE_ENTRIES kEntries = {eMID_SMBIOSSTORE, SMBIOSStoreParse, SMBIOSStoreExecute,
                                                  SMBIOSStoreHelp, "/R", SMB_CheckRomFunc, SMB_CheckBlockFunc};
    s_Slots = s_Registered = YOZ_Preserve_Slots(SMB_ZOKTCheck, SMB_ProcMainFvFlashBuffFunc, SMB_FlashFunc);
    SMB_FuncVar_Init();
    return YOZ_Preserve_RegisterStore(items, SMBIOSStoreQueueItem, kEntries, SMBCheckFunc, PtrSMBCheckFunc);
}

ENUM_ERR_ID RegisterSMBIOSReStoreQueueItem(TKXQueueItemList& items) {
    static const YOZ_PRESERVE_ENTRIES kEntries = {eMID_SMBIOSRESTORE, SMBIOSReStoreParse, SMBIOSReStoreExecute,
                                                  NoHelp, nullptr, nullptr, nullptr};
    return YOZ_Preserve_RegisterRestore(items, SMBIOSReStoreQueueItem, kEntries, s_ReSlots, SMBRE_ZOKTFunc);
}

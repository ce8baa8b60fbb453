// "/SP": the firmware stores its setup variables before the flash
// (setupstore) and restores them once the region modules have written it
// (setuprestore, always active, later in the table).
#include "TKXRunEnd.h"
#include "YozPreserveStages.h"
#include "YozOptionStore.h"
#include "YozSwitchMode.h"
#include "ZoktVarPreserve.h"

static TKX_QUEUE_ITEM SetupStoreQueueItem;
static TKX_QUEUE_ITEM SetupReStoreQueueItem;
static CHECK_FUNC_ITEM SPCheckFunc;
CHECK_FUNC_ITEM* PtrSPCheckFunc = nullptr;
static YOZ_STAGE_SLOTS s_Slots, s_Registered;
static YOZ_STAGE_SLOTS s_ReSlots;

static ENUM_ERR_ID SP_CheckRomFunc(INT16 sizeStatus) { return YOZ_RegionOpen_SizeCheck(sizeStatus); }
static ENUM_ERR_ID SP_CheckBlockFunc() { return eEID_NO_ERROR; }

static ENUM_ERR_ID SP_ProcMainFvFlashBuffFunc() { return eEID_NO_ERROR; }

static ENUM_ERR_ID SP_FlashFunc() {
    gSPF_FlashEnable = 1;
    return eEID_NO_ERROR;
}

// The run ends with the setup stored and not restored: it is taken back.
static ENUM_ERR_ID SP_RestoreAtRunEnd() { return YOZ_Preserve_TakeBack(ZOKT_VarPreserve_SetupVarReStore, "setup settings"); }

static ENUM_ERR_ID SP_ZOKTFunc() {
    if (!YOZ_Preserve_Store(ZOKT_VarPreserve_SetupVarStore, SP_RestoreAtRunEnd, "setup settings"))
        return ZOKT_VarPreserve_GetLastErrorID();
    gSPF_ZOKTFlash = 1;
    gSPF_FlashEnable = 1;
    return eEID_NO_ERROR;
}

// Firmware without preservation ends the run before anything is written.
static ENUM_ERR_ID SP_ZOKTCheck() {
    s_Slots.ProcessFunc = nullptr;
    s_Slots.FlashFunc = nullptr;
    s_Slots.ZOKTFunc = nullptr;
    if (!YOZ_Preserve_AskSupport()) return ZOKT_VarPreserve_GetLastErrorID();
    s_Slots.ZOKTFunc = SP_ZOKTFunc;
    return eEID_NO_ERROR;
}

static ENUM_ERR_ID SPRE_ZOKTFunc() {
    if (!gSPF_ZOKTFlash) return eEID_NO_ERROR;
    TKX_RunEndPop(SP_RestoreAtRunEnd);
    return ZOKT_VarPreserve_SetupVarReStore() ? eEID_NO_ERROR : ZOKT_VarPreserve_GetLastErrorID();
}

static ENUM_ERR_ID SetupStoreParse(TKXArgvList& args, TKX_QUEUE_ITEM* self) {
    SP_FuncVar_Init();
    return YOZ_Preserve_Parse(self, args, "/SP", s_Slots, s_Registered);
}

static ENUM_ERR_ID SetupStoreExecute(TKXQueueItemList&) {
    if (!YOZ_ModeTakesPart(SetupStoreQueueItem.ModeMask)) return eEID_NO_ERROR;
    if (YOZ_Preserve_SkipInCapsuleMode()) return eEID_NO_ERROR;
    return YOZ_RunStages(s_Slots, "Z P F ZF");
}

static void SetupStoreHelp(UINT8 pass) {
    static const char* const kLines[] = {"|%*s - Preserve Setup setting.                                      |\n"};
    YOZ_OptionHelp(SetupStoreQueueItem, pass, "/SP", "", kLines, 1);
}

static ENUM_ERR_ID SetupReStoreParse(TKXArgvList&, TKX_QUEUE_ITEM* self) { return YOZ_Preserve_RestoreParse(self); }

static ENUM_ERR_ID SetupReStoreExecute(TKXQueueItemList&) {
    if (!YOZ_ModeTakesPart(SetupReStoreQueueItem.ModeMask)) return eEID_NO_ERROR;
    if (!gSPF_FlashEnable) return eEID_NO_ERROR;
    ENUM_ERR_ID status = YOZ_RunStages(s_ReSlots, "ZF");
    gSPF_FlashEnable = 0;
    return status;
}

static void NoHelp(UINT8) {}

ENUM_ERR_ID RegisterSetupStoreQueueItem(TKXQueueItemList& items) {
    static const YOZ_PRESERVE_ENTRIES kEntries = {eMID_SETUPSTORE, SetupStoreParse, SetupStoreExecute, SetupStoreHelp,
                                                  "/SP", SP_CheckRomFunc, SP_CheckBlockFunc};
    s_Slots = s_Registered = YOZ_Preserve_Slots(SP_ZOKTCheck, SP_ProcMainFvFlashBuffFunc, SP_FlashFunc);
    SP_FuncVar_Init();
    return YOZ_Preserve_RegisterStore(items, SetupStoreQueueItem, kEntries, SPCheckFunc, PtrSPCheckFunc);
}

ENUM_ERR_ID RegisterSetupReStoreQueueItem(TKXQueueItemList& items) {
    static const YOZ_PRESERVE_ENTRIES kEntries = {eMID_SETUPRESTORE, SetupReStoreParse, SetupReStoreExecute, NoHelp,
                                                  nullptr, nullptr, nullptr};
    return YOZ_Preserve_RegisterRestore(items, SetupReStoreQueueItem, kEntries, s_ReSlots, SPRE_ZOKTFunc);
}
